// "Customize Ship" (form DConfigShip): the ship record through named controls,
// bound to a RecordEditor. The dialog changes nothing outside itself; the main
// window takes record(), newCockpits() and settings() after "Save".
#pragma once

#include "creatorsettings.h"
#include "editorrules.h"
#include "recordeditor.h"
#include "textpages.h"
#include "uitexts.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DConfigShip;
}
class ClassChart;
class QComboBox;
class QDial;
class QLineEdit;
class QSpinBox;
class QTreeWidgetItem;

class ConfigShip : public QDialog
{
    Q_OBJECT
public:
    struct Input
    {
        QString record;
        QStringList packageCockpits;
        QString sceneName;
        QString sceneFile; // the editor's scene file ("<PACKAGE>/..." or a path)
        QList<NumberedName> classes, variants;
        CreatorSettings settings;
        QString programDir;
        const UiTexts* texts = nullptr; // the creator texts; null keeps the form's own
    };
    explicit ConfigShip(const Input& input, QWidget* parent = nullptr);
    ~ConfigShip() override;

    QString record() const { return m_editor->record(); }
    // The package's cockpits made or copied here, in order.
    // The package's cockpits: those it had (weapons changed here included), then
    // those made or copied here.
    QStringList packageCockpits() const { return m_editor->packageCockpits(); }
    const CreatorSettings& settings() const { return m_settings; }
    const RecordEditor& editor() const { return *m_editor; }
    Ui::DConfigShip* form() const { return m_ui.get(); }
    // The chart of the ship's class among the game's ships, beside the tabs.
    ClassChart* classChart() const { return m_chart; }

public slots:
    void Slot_MinSpeedChange(int v);
    void Slot_SpeedChange(int t);
    void Slot_MinSpeedUpdate();
    void Slot_AccelChange(int v);
    void Slot_AccelUpdate();
    void Slot_YawDial(int v);
    void Slot_PitchDial(int v);
    void Slot_RollDial(int v);
    void Slot_Recharge();
    void Slot_RechargeT();
    void UpdateRanks();
    void Slot_Not(int item);
    void Slot_UpdateMasks();
    void Slot_LaserChange(QTreeWidgetItem* item);
    void Slot_GameDir(int index);
    void Slot_BaseLang(const QString& language);
    void Slot_SelectTurret();
    void Slot_AddTurret();
    void Slot_ChangeTurret();
    void Slot_RemoveTurret();
    void Slot_SelectStdCockpit(int index);
    void Slot_SelectCustCockpit(int index);
    // "Standard" or "Custom Cockpit" chosen for the selected turret: the turret
    // takes the cockpit its combo shows (a custom one only when one exists).
    void Slot_CockpitType();
    void Slot_NewCockpit();
    void Slot_UpdateTurretWeapons();
    void Slot_CockpitWeapons(QTreeWidgetItem* item);
    void Slot_CopyCockpit();
    void Slot_SelectGun();
    // A gun point chosen on the automatic page: the gun entry that serves it is
    // selected and shown.
    void Slot_SelectGun2();
    // The mask list shows the primary weapons (lasers) or the secondary ones
    // (missiles).
    void Slot_SelectPrimary();
    void Slot_SelectSecondary();
    void Slot_AddGunGroup();
    void Slot_AddGun();
    void Slot_ChangeGun();
    void Slot_RemoveGun();
    void UpdateGunList();
    void Slot_AutomaticGuns();
    // The turret positions come from the parts of the ship's scene; another scene
    // file can be chosen to read them from.
    void Slot_SceneChanged();
    void Slot_GetDirectory();
    void Slot_ScenePart(int index);

private:
    void loadGame();
    void fill();
    void bindSpin(QSpinBox* spin, const QString& name);
    void bindCombo(QComboBox* combo, const QString& name, const QStringList& items);
    void bindAxis(QDial* dial, QLineEdit* shown, QLineEdit* raw, const QString& name);
    void dialMoved(QLineEdit* shown, QLineEdit* raw, const QString& name, int v);
    void refreshTurrets(int select);
    void refreshCockpitChoices();
    void showError(const QString& error);
    int selectedTurret() const;
    QString selectedCockpitKey() const;
    QString equipmentName(const QString& line, int type) const;
    // Creator text n, or the English fallback when the dialog runs without texts.
    QString text(int n, const char* fallback) const;
    void applyTexts();
    // Names from a game text table; unnamed positions get a numbered word, and
    // unnamed ones past the last name are left out above a minimum count.
    QStringList gameNames(const QStringList& table, int minimum, int word,
                          const char* fallback) const;
    void relabelGameNames();

    std::unique_ptr<Ui::DConfigShip> m_ui;
    std::unique_ptr<RecordEditor> m_editor;
    Input m_input;
    CreatorSettings m_settings;
    GameTexts m_gameTexts;
    QStringList m_lasers, m_missiles;
    QStringList m_gunDummies; // one line per gun point set: scene;count;x;y;z;...
    QString m_sceneFile;
    bool m_filling = false;
    ClassChart* m_chart = nullptr;
};
