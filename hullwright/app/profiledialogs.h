// The balance profile dialogs: the list of profiles (form DManageProfile), the
// profile editor (DCreateProfile) and the variant picker of its import
// (DSelectVariant). Profiles are read from and written to the folder given.
#pragma once

#include "balanceprofile.h"
#include "editorrules.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DManageProfile;
class DCreateProfile;
class DSelectVariant;
}
class QTreeWidgetItem;
class UiTexts;

// What the profile dialogs need from the main window.
struct ProfileContext
{
    QString profilesDir; // the program folder's Profiles
    QString workDir;     // the program folder's temp, for unpacked tables
    QString startDir;    // where the table question starts
    QString iconFile;    // the list's icon
    QList<NumberedName> classes, variants;
};

class SelectVariant : public QDialog
{
    Q_OBJECT
public:
    SelectVariant(const UiTexts& texts, const QList<NumberedName>& variants,
                  QWidget* parent = nullptr);
    ~SelectVariant() override;
    // Positions in data/variant of the checked items (the values of field 50).
    QList<int> checked() const;
    void setChecked(int position, bool on);
    Ui::DSelectVariant* form() const { return m_ui.get(); }

private:
    std::unique_ptr<Ui::DSelectVariant> m_ui;
};

class CreateProfile : public QDialog
{
    Q_OBJECT
public:
    CreateProfile(const UiTexts& texts, const ProfileContext& context,
                  const BalanceProfile& profile, QWidget* parent = nullptr);
    ~CreateProfile() override;
    // The fields as a profile (file name as given to the constructor).
    BalanceProfile profile() const;
    void setProfile(const BalanceProfile& profile);
    Ui::DCreateProfile* form() const { return m_ui.get(); }

public slots:
    void Slot_Done();
    void Slot_Import();

private:
    QString text(int n) const;
    int warn(int message, const QString& detail, bool question = false);

    std::unique_ptr<Ui::DCreateProfile> m_ui;
    const UiTexts& m_texts;
    ProfileContext m_context;
    QString m_fileName;
};

class ManageProfile : public QDialog
{
    Q_OBJECT
public:
    ManageProfile(const UiTexts& texts, const ProfileContext& context, QWidget* parent = nullptr);
    ~ManageProfile() override;
    Ui::DManageProfile* form() const { return m_ui.get(); }
    // Re-reads the folder.
    void refresh();

public slots:
    void Slot_Create();
    void Slot_Edit(QTreeWidgetItem* item, int column = 0);

private:
    QString text(int n) const;
    // Runs the editor; writes the profile when accepted.
    void edit(const BalanceProfile& profile);
    QString className(int index) const;
    QString variantName(int index) const;

    std::unique_ptr<Ui::DManageProfile> m_ui;
    const UiTexts& m_texts;
    ProfileContext m_context;
};
