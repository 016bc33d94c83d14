// The import wizard: a ship of a mod's catalogue, page by page: the ship, its
// dummies, models, cockpits, components, textures and texts. The session
// (ModImport) reads the catalogue and proposes; the wizard shows the proposal
// and hands back what the user chose. Page forms: WizardShip, WizardDummy (the
// dummies and the components page), WizardSelectListV (models, textures),
// WizardSelectListH (cockpits), WizardText.
#pragma once

#include "modimport.h"

#include <QWizard>

#include <array>
#include <memory>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class UiTexts;

namespace Ui {
class WizardShip;
class WizardDummy;
class WizardSelectListV;
class WizardSelectListH;
class WizardText;
} // namespace Ui

class DImportWizard : public QWizard
{
    Q_OBJECT
public:
    enum Page { ShipPage, DummyPage, ModelPage, CockpitPage, ComponentPage, TexturePage, TextPage };

    struct Options
    {
        QString programDir;     // for the icons
        QString workDir;        // the window's temp folder for scratch files
        ModelConversion compiler; // decompiles binary models to find their textures
        QString textDir;        // where the text importers start
        ImportLog log;
    };

    // The session must be open and outlive the wizard.
    DImportWizard(ModImport& session, const UiTexts& texts, const Options& options,
                  QWidget* parent = nullptr);
    ~DImportWizard() override;

    // What the pages hold now.
    ImportChoice choice() const;

    // The pages' lists and buttons, for the tests.
    QTreeWidget* shipList() const;
    QTreeWidget* entryList(Page page) const; // DummyPage, ComponentPage
    QTreeWidget* fromList(Page page) const;  // ModelPage, CockpitPage, TexturePage
    QTreeWidget* chosenList(Page page) const;
    QPushButton* moveButton(Page page, int which) const; // 0 add, 1 add all, 2 remove, 3 remove all
    QLabel* hint(Page page) const;
    QTreeWidget* textList() const;

public slots:
    void Slot_SelectedShip(QTreeWidgetItem* item);
    void Slot_SelectShip(QTreeWidgetItem* item);
    void Slot_AddModel();
    void Slot_RemoveModel();
    void Slot_AddAllModel();
    void Slot_RemoveAllModel();
    void Slot_AddTexture();
    void Slot_RemoveTexture();
    void Slot_AddAllTexture();
    void Slot_RemoveAllTexture();
    void Slot_AddCockpit();
    void Slot_RemoveCockpit();
    void Slot_AddAllCockpit();
    void Slot_RemoveAllCockpit();
    void Slot_TextMenu(const QPoint& pos);
    void Slot_AddLanguage();
    void Slot_RemoveLanguage();
    void Slot_ChangeName();
    void Slot_ChangeDesc();
    void Slot_ImportFile();
    void Slot_ImportDir();

protected:
    bool validateCurrentPage() override;
    void initializePage(int id) override;

private:
    struct SelectList
    {
        QTreeWidget* from = nullptr;
        QTreeWidget* chosen = nullptr;
        QPushButton* buttons[4] = {};
        QLabel* hint = nullptr;
    };
    struct EntryPage
    {
        QTreeWidget* list = nullptr;
        QLabel* hint = nullptr;
        QList<bool> ticked; // per table row
    };

    using MoveSlots = std::array<void (DImportWizard::*)(), 4>; // add, add all, remove, remove all
    template <class Form>
    SelectList selectPage(Form& form, Page id, int title, int chosenCaption, const MoveSlots& moves);
    static void move(QTreeWidget* from, QTreeWidget* to, bool all);
    void addItem(QTreeWidget* list, const QString& text, const QVariant& data, const char* icon);
    void fillEntries(EntryPage& page, const QList<ImportRow>& rows, GroupedTable kind);
    void keepTicks(EntryPage& page);
    void chooseShip(int ship);
    void findTextures();
    void importTextFiles(const QStringList& files);
    QString text(int n) const;
    QString icon(const char* name) const;

    ModImport& m_session;
    const UiTexts& m_texts;
    Options m_options;
    std::unique_ptr<Ui::WizardShip> m_shipForm;
    std::unique_ptr<Ui::WizardDummy> m_dummyForm, m_compForm;
    std::unique_ptr<Ui::WizardSelectListV> m_modelForm, m_textureForm;
    std::unique_ptr<Ui::WizardSelectListH> m_cockpitForm;
    std::unique_ptr<Ui::WizardText> m_textForm;
    SelectList m_models, m_cockpits, m_textures;
    EntryPage m_dummies, m_components;
    int m_ship = -1;              // the ship the pages were filled for
    QStringList m_texturesFor;    // the models the texture page was filled for
    bool m_texturesFilled = false;
};
