// Hullwright's main window (form DCreateShip): the editor of one ship package.
// The widgets show a ShipDraft; every rule behind them lives in hullwright/core.
// The window owns the settings of config.dat, the UI texts and the game texts.
#pragma once

#include "commandline.h"
#include "creatorsettings.h"
#include "editorrules.h"
#include "shipdraft.h"
#include "textpages.h"
#include "uitexts.h"
#include "workfolder.h"
#include "xspfile.h"

#include <QHash>
#include <QMainWindow>

#include <memory>
#include <optional>

class QMenu;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;
class QtPrompter;
class SystemRegistry;
class SelectShip;
struct EditModeSaveResult;

namespace Ui {
class DCreateShip;
}

class CreateShip : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr double kVersion = 1.89;

    // Reads config.dat, hw_languages.xml, data/classes and data/variant of the
    // program folder and the system registry's game directory; asks for a game
    // directory when none is known.
    explicit CreateShip(const QString& programDir, QWidget* parent = nullptr);
    ~CreateShip() override;

    // The command line's requests (edit mode, a package to open, an extraction).
    // False when the program is to end without showing the window.
    bool processStart(const StartRequest& request);
    // With the setting on: the window is disabled and GetText() runs 100 ms later.
    void startTextLoading();

    ShipDraft draft() const;
    void setDraft(const ShipDraft& draft);
    const CreatorSettings& settings() const { return m_settings; }
    const UiTexts& texts() const { return m_texts; }
    const GameTexts& gameTexts() const { return m_gameTexts; }
    const ShipPackage* currentPackage() const { return m_current ? &*m_current : nullptr; }
    bool editMode() const { return !m_editModePath.isEmpty(); }
    QString editModePath() const { return m_editModePath; }
    // True when the editor shows anything other than what it last saved, opened
    // or started with: the question before clearing or closing asks only then.
    bool hasUnsavedChanges() const;
    const QList<NumberedName>& shipClasses() const { return m_classes; }
    const QList<NumberedName>& shipVariants() const { return m_variants; }
    Ui::DCreateShip* form() const { return m_ui.get(); }
    QString programDir() const { return m_programDir; }

public slots:
    void GetText();
    void Slot_LoadShip();
    void Slot_ImportDummy();
    void Slot_ImportComp();
    void Slot_LoadCockpit();
    void Slot_New();
    void Slot_Config();
    void Slot_CustomiseShip();
    void Slot_Balance();
    void Slot_ManageProfiles();
    void Slot_SelectPic();
    void Slot_Close();
    void Slot_Modified();
    void Slot_SelectSceneFile();
    void Slot_SelectSceneFileCp();
    void Slot_ClearShipScene();
    void Slot_ClearCockpitScene();
    void Slot_SwitchScene();
    void Slot_SwitchCockpit();
    void Slot_ModelMenu(const QPoint& pos);
    void Slot_OtherMenu(const QPoint& pos);
    void Slot_ScriptMenu(const QPoint& pos);
    void Slot_TextMenu(const QPoint& pos);
    void Slot_DummyMenu(const QPoint& pos);
    void Slot_CompMenu(const QPoint& pos);
    void Slot_CockpitMenu(const QPoint& pos);
    void Slot_DCTextMenu(QTreeWidgetItem* item, int column);
    void Slot_AddModel();
    void Slot_ChangeModel();
    void Slot_ChangeDir();
    void Slot_RemoveModel();
    void ClearModels();
    void Slot_AddFile();
    void Slot_ChangeOther();
    void Slot_ChangeOtherDir();
    void Slot_RemoveFile();
    void ClearOther();
    void Slot_AddScript();
    void Slot_RemoveScript();
    void ClearScripts();
    void Slot_AddLanguage();
    void Slot_RemoveLanguage();
    void Slot_ChangeName();
    void Slot_ChangeDesc();
    void Slot_ImportText();
    void Slot_ImportTextDir();
    void ClearText();
    void Slot_AddDummy();
    void Slot_RemoveDummy();
    void Slot_ChangeSection();
    void Slot_ChangeData();
    void ClearDummy();
    void Slot_RemoveComp();
    void ClearComp();
    void Slot_RemoveCockpit();
    void ClearCockpit();
    void Slot_Dropped(const QString& files);
    void Slot_OtherDropped(const QString& files);
    void Slot_ScriptDropped(const QString& files);
    void Slot_Save();
    void Slot_SaveAs();
    void Slot_SaveFile();
    void Slot_Open();
    void Slot_OpenFile();
    void Slot_ExtractShip();
    void Slot_StartExtract();
    void Slot_ImportWizard();

public:
    // Extracts the package into targetDir: at once (command line) or after the
    // window has shown the status text (menu).
    void startExtraction(const QString& package, const QString& targetDir, bool immediate);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString text(int n) const { return m_texts.own(n); }
    QString icon(const char* name) const;
    void loadTexts();
    void retranslate();
    void refreshCaption();
    void saveSettings();
    void log(const QString& message);
    void askFirstGameDir();
    QString gameDir() const { return m_settings.gameDirs.value(0); }
    QString startDir(const QString& preferred) const;
    // File dialogs start in the folder last used for their kind of file in this
    // session, else in the configured folder (which a dialog never changes).
    enum class Folder { Packages, Models, Picture, Types, Scripts, Texts, Mods };
    QString folderFor(Folder kind) const;
    void remember(Folder kind, const QString& chosenFile);
    void rememberDir(Folder kind, const QString& chosenDir);
    QHash<int, QString> m_lastFolder;
    QString pickFile(Folder kind, const QString& caption, const QString& filter);
    // Picks a table file for the picker and loads it; false (with the error box
    // shown) when nothing usable was chosen.
    bool loadPickerTable(SelectShip& dialog);
    QStringList pickFiles(Folder kind, const QString& caption, const QString& filter);
    QString pickSaveFile(Folder kind, const QString& caption, const QString& filter);
    QString pickDirectory(Folder kind, const QString& caption);
    QString workDir(const char* folder) const;
    int ask(int icon, int caption, const QString& message, const QList<int>& buttons);

    // Lists.
    QString sizeText(const QString& path) const;
    void addTreeFiles(QTreeWidget* list, const QString& dir, const QStringList& files,
                      const char* fileIcon);
    void fillTree(QTreeWidget* list, const QList<DraftFolder>& tree, const char* fileIcon);
    QList<DraftFolder> readTree(const QTreeWidget* list) const;
    void addFilesAsked(QTreeWidget* list, const QStringList& files, const char* fileIcon);
    void changeTreeFile(QTreeWidget* list, const QString& filter);
    void changeTreeDir(QTreeWidget* list);
    void removeTreeSelection(QTreeWidget* list);
    QTreeWidgetItem* selectedFileItem(const QTreeWidget* list) const;
    void switchWithScene(bool cockpit);
    void addScripts(const QStringList& files);
    void addTextRow(const PackageText& t);
    void addDummyRow(const PackageDummy& d);
    void addComponentRow(const PackageComponent& c);
    void addCockpitRow(const QString& line);
    void importTexts(const QStringList& files);
    void importTable(bool components);
    void popup(QTreeWidget* list, const QPoint& pos, const QList<std::pair<QAction*, bool>>& actions);
    QAction* menuAction(QMenu& menu, const char* name, int textNumber, const char* iconName,
                        void (CreateShip::*slot)());

    QString m_programDir;
    // This window's scratch folders: where "<PACKAGE>/" points and "temp" lies.
    std::unique_ptr<WindowWorkFolder> m_work;
    QString workRoot() const { return m_work->root(); }
    std::unique_ptr<Ui::DCreateShip> m_ui;
    UiTexts m_texts{UiTexts::Program::Creator};
    CreatorSettings m_settings;
    GameTexts m_gameTexts;
    std::unique_ptr<SystemRegistry> m_systemRegistry;
    std::unique_ptr<QtPrompter> m_prompter;
    QProgressBar* m_progress = nullptr;
    QList<NumberedName> m_classes;
    QList<NumberedName> m_variants;
    std::optional<ShipPackage> m_current; // the package last opened or saved
    QString m_packagePath;
    QString m_editModePath;
    QString m_editModeCaption;
    QString m_pendingSave, m_pendingOpen;
    QString m_extractPackage, m_extractDir;

    // Edit mode: the installed ship opened, written back, reloaded.
    bool startEditMode(const QString& path);
    void saveInstalledShip();
    bool reloadInstalledShip();
    // Why an edit-mode save could not begin, in the user's language.
    QString refusalText(const EditModeSaveResult& r) const;
    // The draft shown now is the one saved or opened.
    void markSaved();
    ShipDraft m_savedDraft;

    bool checkRequired();
    // The package check before a save: true when there is no problem or the user
    // chose "Save Anyway".
    bool checkPackage();
    void startSave(QString name);
    void setBusy(bool busy, const QString& status = QString());
    PackageContext packageContext();
    std::unique_ptr<ProgressSink> m_progressSink;
    std::unique_ptr<StatusSink> m_statusSink;
};
