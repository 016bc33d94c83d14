#include "configship.h"

#include "classchart.h"
#include "creatortexts.h"
#include "fileutils.h"
#include "modimport.h"
#include "packagebuild.h"

#include "equipment.h"
#include "shiprecord.h"
#include "typetable.h"
#include "ui_configship.h"
#include "uiseams_qt.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QSignalBlocker>

#include <cmath>

namespace {

constexpr int kTypeRole = Qt::UserRole + 1;
// Owner races up to 8 have rank tables; cargo types 0 to 4 are the usual sizes.
constexpr int kRaces = 9;
constexpr int kCargoTypes = 5;

QStringList names(const QList<NumberedName>& list)
{
    QStringList out;
    for (const NumberedName& n : list)
        out << n.name;
    return out;
}

bool toInt(const QString& text, int* v)
{
    return ParseTableInt(text, v);
}

} // namespace

ConfigShip::ConfigShip(const Input& input, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DConfigShip>()), m_input(input),
      m_settings(input.settings)
{
    Ui::DConfigShip& ui = *m_ui;
    ui.setupUi(this);
    applyTexts();
    RecordContext context;
    context.classes = input.classes;
    context.variants = input.variants;
    context.packageCockpits = input.packageCockpits;
    m_editor = std::make_unique<RecordEditor>(input.record, context);
    ui.ComboGameDir->addItems(m_settings.gameDirs);
    loadGame();
    fill();

    // A speed typed and not yet confirmed is what the modder sees: it is saved.
    connect(ui.ButtonSave, &QPushButton::clicked, this, [this] {
        Slot_MinSpeedUpdate();
        Slot_AccelUpdate();
        m_editor->applyShownClass();
        accept();
    });
    // Speeds are typed in the game's units; the internal numbers are Raw Data's.
    for (QWidget* w : {static_cast<QWidget*>(ui.SpinSpeedMin), static_cast<QWidget*>(ui.SpinAccel),
                       static_cast<QWidget*>(ui.LineSpeedMax2)})
        w->hide();
    for (auto [dial, shown] : {std::pair{ui.DialYaw, ui.LineYaw1},
                               std::pair{ui.DialPitch, ui.LinePitch1},
                               std::pair{ui.DialRoll, ui.LineRoll1}})
        connect(shown, &QLineEdit::editingFinished, this, [this, dial, shown] {
            bool ok = false;
            const double degrees = shown->text().toDouble(&ok);
            const int v = int(std::trunc(degrees * 10.0 + (degrees < 0 ? -0.5 : 0.5)));
            if (!ok || !dial->isEnabled() || v < dial->minimum() || v > dial->maximum()) {
                shown->setText(QString::asprintf("%.1f", dial->value() * 0.1));
                return;
            }
            dial->setValue(v);
        });
    connect(ui.LineMainCockpit, &QLineEdit::editingFinished, this, [this] {
        const QString part = m_ui->LineMainCockpit->text().trimmed();
        if (part == m_editor->turretPart(-1) || (part.isEmpty() && m_editor->turretRows() == 0))
            return;
        QString error;
        if (!m_editor->setTurretPart(-1, part, &error))
            showError(error);
        refreshTurrets(selectedTurret());
    });
    connect(ui.ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui.ComboGameDir, &QComboBox::activated, this, &ConfigShip::Slot_GameDir);
    connect(ui.ComboBaseLang, &QComboBox::textActivated, this, &ConfigShip::Slot_BaseLang);
    connect(ui.SpinSpeedMin, &QSpinBox::valueChanged, this,
            qOverload<int>(&ConfigShip::Slot_MinSpeedChange));
    connect(ui.SpinSpeed, &QSpinBox::valueChanged, this, &ConfigShip::Slot_SpeedChange);
    connect(ui.LineSpeedMin, &QLineEdit::editingFinished, this, &ConfigShip::Slot_MinSpeedUpdate);
    connect(ui.SpinAccel, &QSpinBox::valueChanged, this, &ConfigShip::Slot_AccelChange);
    connect(ui.LineAccel, &QLineEdit::editingFinished, this, &ConfigShip::Slot_AccelUpdate);
    connect(ui.DialYaw, &QDial::valueChanged, this, &ConfigShip::Slot_YawDial);
    connect(ui.DialPitch, &QDial::valueChanged, this, &ConfigShip::Slot_PitchDial);
    connect(ui.DialRoll, &QDial::valueChanged, this, &ConfigShip::Slot_RollDial);
    connect(ui.LineRecharge, &QLineEdit::editingFinished, this, &ConfigShip::Slot_Recharge);
    connect(ui.LineRechargeT, &QLineEdit::editingFinished, this, &ConfigShip::Slot_RechargeT);
    connect(ui.SpinEnergy, &QSpinBox::valueChanged, this, [this] {
        m_ui->LineRechargeT->setText(m_editor->value(QStringLiteral("recharge_total")));
    });
    connect(ui.ComboRace, &QComboBox::currentIndexChanged, this, &ConfigShip::UpdateRanks);
    connect(ui.ComboNotoriety, &QComboBox::activated, this, &ConfigShip::Slot_Not);
    connect(ui.RadioLasers, &QRadioButton::clicked, this, &ConfigShip::Slot_SelectPrimary);
    connect(ui.RadioMissiles, &QRadioButton::clicked, this, &ConfigShip::Slot_SelectSecondary);
    connect(ui.ListMasks, &QTreeWidget::itemChanged, this, &ConfigShip::Slot_LaserChange);
    connect(ui.ListTurrets, &QTreeWidget::itemSelectionChanged, this,
            &ConfigShip::Slot_SelectTurret);
    connect(ui.ButtonAddTurret, &QPushButton::clicked, this, &ConfigShip::Slot_AddTurret);
    connect(ui.ButtonChangeTurret, &QPushButton::clicked, this, &ConfigShip::Slot_ChangeTurret);
    connect(ui.ButtonRemoveTurret, &QPushButton::clicked, this, &ConfigShip::Slot_RemoveTurret);
    connect(ui.ComboStdCockpit, &QComboBox::activated, this, &ConfigShip::Slot_SelectStdCockpit);
    connect(ui.ComboCustCockpit, &QComboBox::activated, this, &ConfigShip::Slot_SelectCustCockpit);
    // clicked, not toggled: showing a turret's cockpit must not assign one.
    connect(ui.RadioStdCockpit, &QRadioButton::clicked, this, &ConfigShip::Slot_CockpitType);
    connect(ui.RadioCustCockpit, &QRadioButton::clicked, this, &ConfigShip::Slot_CockpitType);
    connect(ui.ButtonNewCockpit, &QPushButton::clicked, this, &ConfigShip::Slot_NewCockpit);
    connect(ui.ButtonCopyCockpit, &QPushButton::clicked, this, &ConfigShip::Slot_CopyCockpit);
    connect(ui.ListGuns, &QTreeWidget::itemSelectionChanged, this, &ConfigShip::Slot_SelectGun);
    connect(ui.ListGunDummies, &QListWidget::currentRowChanged, this, &ConfigShip::Slot_SelectGun2);
    connect(ui.ButtonAddGroup, &QPushButton::clicked, this, &ConfigShip::Slot_AddGunGroup);
    connect(ui.ButtonAddGun, &QPushButton::clicked, this, &ConfigShip::Slot_AddGun);
    connect(ui.ButtonChangeGun, &QPushButton::clicked, this, &ConfigShip::Slot_ChangeGun);
    connect(ui.ButtonRemoveGun, &QPushButton::clicked, this, &ConfigShip::Slot_RemoveGun);
    connect(ui.ListTurretWeapons, &QTreeWidget::itemChanged, this,
            &ConfigShip::Slot_CockpitWeapons);
    connect(ui.ButtonAutoGuns, &QPushButton::clicked, this, &ConfigShip::Slot_AutomaticGuns);
    connect(ui.ButtonSceneFile, &QPushButton::clicked, this, &ConfigShip::Slot_GetDirectory);
    connect(ui.ComboSceneParts, &QComboBox::activated, this, &ConfigShip::Slot_ScenePart);
    for (QTreeWidget* list : {ui.ListMasks, ui.ListTurrets, ui.ListGuns, ui.ListTurretWeapons})
        list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    m_chart = new ClassChart(this);
    ClassChart::placeBeside(ui.Tabs, m_chart);
    m_chart->loadGame(m_settings.gameDirs.value(0), m_input.programDir + QStringLiteral("/temp"));
    m_chart->followEdits(this, [this] { return m_editor->record(); });
}

ConfigShip::~ConfigShip() = default;

void ConfigShip::loadGame()
{
    const QString gameDir = m_settings.gameDirs.value(0);
    const QString temp = m_input.programDir + QStringLiteral("/temp");
    QDir().mkpath(temp);
    TypeTable lasers, shields, missiles, cockpits;
    if (!gameDir.isEmpty()) {
        LoadCompactTable(gameDir, QStringLiteral("TLaser"), temp, &lasers);
        LoadCompactTable(gameDir, QStringLiteral("TShields"), temp, &shields);
        LoadCompactTable(gameDir, QStringLiteral("TMissiles"), temp, &missiles);
        LoadCompactTable(gameDir, QStringLiteral("TCockpits"), temp, &cockpits);
    }
    m_editor->setGameCockpits(cockpits.entries);
    m_lasers = lasers.entries;
    m_missiles = missiles.entries;
    QSet<int> numbers;
    for (const TypeTable* t : {&lasers, &shields, &missiles})
        for (int n : EquipmentNameTexts(*t))
            numbers.insert(n);
    m_gameTexts.setEquipmentTextNumbers(numbers);
    m_gameTexts.clearTexts();
    if (!gameDir.isEmpty()) {
        GetTextOptions options;
        options.gameDir = gameDir;
        options.workDir = temp;
        options.language = m_settings.baseLanguage;
        options.looseFiles = m_settings.looseTextFolder;
        ::GetText(options, m_gameTexts);
    }

    // The ship's gun points: the dummy group named after its scene, or the gun
    // group's lines that name the scene in their first field.
    m_gunDummies.clear();
    QByteArray text;
    if (!gameDir.isEmpty() && !m_input.sceneName.isEmpty() &&
        ExtractTableText(gameDir, QStringLiteral("Dummies"), temp, &text)) {
        const DummyTable dummies = DummyTable::read(text);
        for (const TableGroup& g : dummies.groups())
            for (const QString& l : g.lines)
                if (g.name.compare(m_input.sceneName, Qt::CaseInsensitive) == 0 ||
                    (g.name == QLatin1String("SDTYPE_GUN") &&
                     TableField(l, 0).trimmed().compare(m_input.sceneName, Qt::CaseInsensitive) ==
                         0))
                    m_gunDummies << l;
    }

    const QSignalBlocker block(m_ui->ComboShield);
    QStringList shieldNames;
    for (int i = 0; i < shields.entries.size(); ++i)
        shieldNames << equipmentName(shields.entries.at(i), i);
    if (shieldNames.isEmpty())
        shieldNames = {"1 MJ", "5 MJ", "25 MJ", "125 MJ", "1 GJ", "10 GJ"};
    const QStringList languages = DiscoverTextLanguages(gameDir);
    const QSignalBlocker blockLang(m_ui->ComboBaseLang);
    m_ui->ComboBaseLang->clear();
    m_ui->ComboBaseLang->addItems(languages);
    if (!languages.contains(m_settings.baseLanguage))
        m_ui->ComboBaseLang->addItem(m_settings.baseLanguage);
    m_ui->ComboBaseLang->setCurrentText(m_settings.baseLanguage);
    m_ui->ComboShield->setProperty("items", shieldNames);
}

QString ConfigShip::equipmentName(const QString& line, int type) const
{
    const int n = TableFieldInt(line, kEquipmentNameField);
    return m_gameTexts.equipmentName(n).value_or(
        TableIdentifier(line).isEmpty() ? QString::number(type) : TableIdentifier(line));
}

void ConfigShip::showError(const QString& error)
{
    QtPrompter(this).ask(Prompter::Icon::Warning, windowTitle(), error, {text(CreatorText::Ok, "OK")});
}

QString ConfigShip::text(int n, const char* fallback) const
{
    return m_input.texts ? m_input.texts->own(n) : QString::fromUtf8(fallback);
}

void ConfigShip::applyTexts()
{
    if (!m_input.texts)
        return;
    ApplyFormTexts(this, [this](int n) { return m_input.texts->own(n); }, {
        {"ButtonSceneFile", CreatorText::Browse},
        {"DConfigShip", 300},
        {"LabelGameDirectory0", 301},
        {"LabelBaseLanguage1", 302},
        {"TabInfo", 303},
        {"LabelClass0", 304},
        {"LabelRace1", 305},
        {"LabelVariation2", 306},
        {"LabelDockingSlots3", 307},
        {"LabelCargoType4", 308},
        {"LabelCargoSpace5", 309},
        {"GroupPrice", 310},
        {"LabelNPC0", 311},
        {"LabelPlayer1", 312},
        {"GroupNotoriety", 313},
        {"LabelMinimum0", 314},
        {"LabelPreset1", 315},
        {"TabMoving", 316},
        {"GroupSpeed", 317},
        {"LabelMinimumSpeed0", 318},
        {"LabelSpeedExtensions1", 319},
        {"LabelMaximumSpeed2", 320},
        {"LabelAcceleration3", 321},
        {"GroupTurning", 322},
        {"GroupYaw", 323},
        {"GroupPitch", 324},
        {"GroupRoll", 325},
        {"LabelRudderExtensions0", 326},
        {"TabWeapons", 327},
        {"GroupShields", 328},
        {"LabelShieldType0", 329},
        {"LabelMaximumShields1", 330},
        {"LabelHullStrength2", 331},
        {"GroupPower", 332},
        {"LabelWeaponsEnergy0", 333},
        {"LabelRechargeRate1", 334},
        {"LabelRechargeTotal2", 335},
        {"LabelMissilesNPC3", 336},
        {"LabelReactorOutput4", 337},
        {"TabModel", 338},
        {"GroupIds", 339},
        {"LabelBodyFile0", 340},
        {"LabelPictureID1", 341},
        {"LabelVideoID2", 342},
        {"GroupEngine", 343},
        {"LabelEffect0", 344},
        {"LabelGlow1", 345},
        {"LabelSound2", 346},
        {"LabelReactionDelay3", 347},
        {"GroupVolume", 348},
        {"LabelVolumeMinimum", 314},
        {"LabelMaximum1", 349},
        {"GroupExplosions", 350},
        {"LabelExplosion0", 351},
        {"LabelBodyExplosion1", 352},
        {"LabelParticleExplosion2", 353},
        {"TabMasks", 354},
        {"RadioLasers", 355},
        {"RadioMissiles", 356},
        {"ListMasks#0", 357},
        {"ListMasks#1", 358},
        {"LabelMask0", 359},
        {"TabTurrets", 360},
        {"LabelMainCockpit0", 361},
        {"ListTurrets#0", 357},
        {"ListTurrets#1", 362},
        {"LabelTurretPart", 363},
        {"ButtonAddTurret", 364},
        {"ButtonChangeTurret", 365},
        {"ButtonRemoveTurret", 366},
        {"GroupCockpit", 367},
        {"RadioStdCockpit", 368},
        {"RadioCustCockpit", 369},
        {"ButtonNewCockpit", 370},
        {"ButtonCopyCockpit", 371},
        {"LabelScene0", 372},
        {"LabelTurretWeapons", 373},
        {"ListTurretWeapons#0", 357},
        {"ListTurretWeapons#1", 358},
        {"TabGuns", 374},
        {"PageGunsAuto", 375},
        {"ButtonAutoGuns", 376},
        {"PageGunsManual", 377},
        {"ListGuns#0", 378},
        {"ListGuns#1", 379},
        {"ListGuns#2", 380},
        {"ListGuns#3", 381},
        {"LabelSlots0", 382},
        {"LabelValues1", 383},
        {"ButtonAddGroup", 384},
        {"ButtonAddGun", 385},
        {"ButtonChangeGun", 365},
        {"ButtonRemoveGun", 366},
        {"ButtonSave", 386},
        {"ButtonCancel", 387}
    });
}

QStringList ConfigShip::gameNames(const QStringList& table, int minimum, int word,
                                  const char* fallback) const
{
    QStringList items;
    qsizetype named = minimum;
    for (qsizetype i = 0; i < table.size(); ++i)
        if (!table.at(i).isEmpty())
            named = qMax(named, i + 1);
    for (qsizetype i = 0; i < named; ++i)
        items << (table.value(i).isEmpty() ? FormatText(text(word, fallback), QString::number(i))
                                           : table.at(i));
    return items;
}

// A new base language or game renames the races and cargo types; the record's
// values stay, and a combo showing a value it cannot name keeps it.
void ConfigShip::relabelGameNames()
{
    const std::tuple<QComboBox*, QStringList> combos[] = {
        {m_ui->ComboRace,
         gameNames(m_gameTexts.table1266(), kRaces, CreatorText::ConfigRaceN, "Race %1")},
        {m_ui->ComboCargoType, gameNames(m_gameTexts.table1999(), kCargoTypes,
                                         CreatorText::ConfigCargoTypeN, "Cargo Type %1")}};
    for (const auto& [combo, names] : combos) {
        if (!combo->isEnabled())
            continue;
        const QSignalBlocker block(combo);
        for (int i = 0; i < combo->count() && i < names.size(); ++i)
            combo->setItemText(i, names.at(i));
    }
}

// ---- binding

void ConfigShip::bindSpin(QSpinBox* spin, const QString& name)
{
    const QString raw = m_editor->value(name);
    int v = 0;
    if (!toInt(raw, &v)) {
        // Shown as it stands and left alone.
        spin->setSpecialValueText(raw.isEmpty() ? QStringLiteral("-") : raw);
        spin->setValue(spin->minimum());
        spin->setEnabled(false);
        spin->setToolTip(raw);
        return;
    }
    spin->setValue(v);
    connect(spin, &QSpinBox::valueChanged, this, [this, name](int value) {
        if (!m_filling)
            m_editor->setValue(name, QString::number(value));
    });
}

void ConfigShip::bindCombo(QComboBox* combo, const QString& name, const QStringList& items)
{
    combo->clear();
    combo->addItems(items);
    const QString raw = m_editor->value(name);
    int v = 0;
    if (!toInt(raw, &v) || v < 0 || v >= items.size()) {
        combo->addItem(raw.isEmpty() ? QStringLiteral("-") : raw);
        combo->setCurrentIndex(combo->count() - 1);
        combo->setEnabled(false);
        combo->setToolTip(raw);
        return;
    }
    combo->setCurrentIndex(v);
    connect(combo, &QComboBox::activated, this, [this, name](int index) {
        QString error;
        if (!m_editor->setValue(name, QString::number(index), &error))
            showError(error);
        if (name == QLatin1String("class"))
            m_ui->LabelClassNumber->setText(m_editor->value(QStringLiteral("class_number")));
    });
}

void ConfigShip::bindAxis(QDial* dial, QLineEdit* shown, QLineEdit* raw, const QString& name)
{
    const QString field = m_editor->fieldText(name == QLatin1String("yaw")     ? 2
                                              : name == QLatin1String("pitch") ? 3
                                                                               : 4);
    // The degrees are typed (or dialled); the record's value beside them is shown only.
    shown->setReadOnly(false);
    raw->setReadOnly(true);
    raw->setFocusPolicy(Qt::NoFocus);
    QPalette look = raw->palette();
    look.setColor(QPalette::Base, look.color(QPalette::Window));
    raw->setPalette(look);
    raw->setText(field);
    bool ok = false;
    field.trimmed().toDouble(&ok);
    if (!ok) {
        shown->setText(field);
        shown->setReadOnly(true);
        dial->setEnabled(false);
        return;
    }
    shown->setText(RecordEditor::degreesText(field));
    const int v = RecordEditor::dialFromField(field);
    dial->setMaximum(qMax(3600, v));
    dial->setMinimum(qMin(0, v));
    dial->setValue(v);
}

void ConfigShip::fill()
{
    m_filling = true;
    Ui::DConfigShip& ui = *m_ui;
    ui.LabelProblems->setText(m_editor->problems().join(QLatin1Char('\n')));
    ui.LabelProblems->setVisible(!m_editor->problems().isEmpty());

    bindCombo(ui.ComboClass, QStringLiteral("class"), names(m_input.classes));
    ui.LabelClassNumber->setText(m_editor->value(QStringLiteral("class_number")));
    bindCombo(ui.ComboRace, QStringLiteral("race"),
              gameNames(m_gameTexts.table1266(), kRaces, CreatorText::ConfigRaceN, "Race %1"));
    bindCombo(ui.ComboVariation, QStringLiteral("variation"), names(m_input.variants));
    bindCombo(ui.ComboCargoType, QStringLiteral("cargo_type"),
              gameNames(m_gameTexts.table1999(), kCargoTypes, CreatorText::ConfigCargoTypeN,
                        "Cargo Type %1"));
    bindCombo(ui.ComboShield, QStringLiteral("shield_type"),
              ui.ComboShield->property("items").toStringList());
    const std::pair<QSpinBox*, const char*> spins[] = {
        {ui.SpinDocking, "docking_slots"},
        {ui.SpinCargoMin, "cargo_min"},
        {ui.SpinCargoMax, "cargo_max"},
        {ui.SpinPriceNpc, "npc_price"},
        {ui.SpinPricePlayer, "player_price"},
        {ui.SpinNotoriety, "notoriety"},
        {ui.SpinSpeed, "speed_extensions"},
        {ui.SpinRudder, "rudder_extensions"},
        {ui.SpinShields, "max_shields"},
        {ui.SpinHull, "hull"},
        {ui.SpinEnergy, "weapons_energy"},
        {ui.SpinMissiles, "npc_missiles"},
        {ui.SpinReactor, "reactor_output"},
        {ui.SpinPicture, "picture_id"},
        {ui.SpinVideo, "video_id"},
        {ui.SpinEngineEffect, "engine_effect"},
        {ui.SpinEngineGlow, "engine_glow"},
        {ui.SpinEngineSound, "engine_sound"},
        {ui.SpinReaction, "reaction_delay"},
        {ui.SpinVolumeMin, "volume_min"},
        {ui.SpinVolumeMax, "volume_max"},
        {ui.SpinExplosion, "explosion"},
        {ui.SpinBodyExplosion, "body_explosion"},
        {ui.SpinParticleExplosion, "particle_explosion"},
    };
    for (const auto& [spin, name] : spins)
        bindSpin(spin, QLatin1String(name));
    // Speed and acceleration spin boxes hold internal units.
    for (auto [spin, line, field] : {std::tuple{ui.SpinSpeedMin, ui.LineSpeedMin, 7},
                                     std::tuple{ui.SpinAccel, ui.LineAccel, 8}}) {
        int v = 0;
        const QString raw = m_editor->fieldText(field);
        const bool numeric = toInt(raw, &v);
        spin->setValue(v);
        spin->setEnabled(numeric);
        line->setEnabled(numeric);
        line->setText(numeric ? RecordEditor::speedText(v) : raw);
    }
    ui.LineSpeedMax->setReadOnly(true);
    ui.LineSpeedMax2->setReadOnly(true);
    Slot_SpeedChange(ui.SpinSpeed->value());
    bindAxis(ui.DialYaw, ui.LineYaw1, ui.LineYaw2, QStringLiteral("yaw"));
    bindAxis(ui.DialPitch, ui.LinePitch1, ui.LinePitch2, QStringLiteral("pitch"));
    bindAxis(ui.DialRoll, ui.LineRoll1, ui.LineRoll2, QStringLiteral("roll"));
    ui.LineRecharge->setText(m_editor->value(QStringLiteral("recharge")));
    ui.LineRechargeT->setText(m_editor->value(QStringLiteral("recharge_total")));
    ui.LineBody->setText(m_editor->value(QStringLiteral("body_file")));
    connect(ui.LineBody, &QLineEdit::textEdited, this, [this](const QString& t) {
        QString error;
        if (!m_editor->setValue(QStringLiteral("body_file"), t, &error))
            showError(error);
    });
    UpdateRanks();
    Slot_UpdateMasks();
    ui.LineScene->setText(m_input.sceneName);
    ui.ComboSceneParts->setToolTip(text(CreatorText::ConfigSceneParts, "Parts of the ship's scene"));
    m_sceneFile = m_input.sceneFile;
    Slot_SceneChanged();
    ui.LabelGunDummies->setText(
        FormatText(text(CreatorText::ConfigGunPoints, "Gun points of %1 in the dummies table:"),
                   m_input.sceneName.isEmpty() ? text(CreatorText::ConfigNoScene, "(no scene)")
                                               : m_input.sceneName));
    for (const QString& l : m_gunDummies) {
        const int count = TableFieldInt(l, 1);
        for (int k = 0; k < count && k < 64; ++k)
            ui.ListGunDummies->addItem(FormatText(text(CreatorText::ConfigGunPoint, "Gun point %1: %2"),
                                                      QString::number(k + 1),
                                                      QStringList{TableField(l, 2 + 3 * k),
                                                                  TableField(l, 3 + 3 * k),
                                                                  TableField(l, 4 + 3 * k)}
                                                          .join(QStringLiteral(", "))));
    }
    ui.ButtonAutoGuns->setEnabled(ui.ListGunDummies->count() > 0);
    for (QWidget* w : {static_cast<QWidget*>(ui.TabTurrets), static_cast<QWidget*>(ui.TabGuns)})
        w->setEnabled(m_editor->variablePartReadable());
    refreshCockpitChoices();
    refreshTurrets(-1);
    UpdateGunList();
    m_filling = false;
}

// ---- speed, turning, recharge

void ConfigShip::Slot_MinSpeedChange(int v)
{
    m_ui->LineSpeedMin->setText(RecordEditor::speedText(v));
    if (!m_filling)
        m_editor->setFieldInt(7, v);
    Slot_SpeedChange(m_ui->SpinSpeed->value());
}

void ConfigShip::Slot_SpeedChange(int t)
{
    const int m = RecordEditor::maxSpeed(m_ui->SpinSpeedMin->value(), t);
    m_ui->LineSpeedMax2->setText(QString::number(m));
    m_ui->LineSpeedMax->setText(RecordEditor::speedText(m));
}

void ConfigShip::Slot_MinSpeedUpdate()
{
    // Six digits cannot hold every large value: an unedited text must not move it.
    if (m_ui->LineSpeedMin->text() == RecordEditor::speedText(m_ui->SpinSpeedMin->value()))
        return;
    bool ok = false;
    const double shown = m_ui->LineSpeedMin->text().toDouble(&ok);
    if (ok)
        m_ui->SpinSpeedMin->setValue(RecordEditor::speedUnits(shown));
}

void ConfigShip::Slot_AccelChange(int v)
{
    m_ui->LineAccel->setText(RecordEditor::speedText(v));
    if (!m_filling)
        m_editor->setFieldInt(8, v);
}

void ConfigShip::Slot_AccelUpdate()
{
    // Six digits cannot hold every large value: an unedited text must not move it.
    if (m_ui->LineAccel->text() == RecordEditor::speedText(m_ui->SpinAccel->value()))
        return;
    bool ok = false;
    const double shown = m_ui->LineAccel->text().toDouble(&ok);
    if (ok)
        m_ui->SpinAccel->setValue(RecordEditor::speedUnits(shown));
}

void ConfigShip::dialMoved(QLineEdit* shown, QLineEdit* raw, const QString& name, int v)
{
    if (m_filling)
        return;
    shown->setText(QString::asprintf("%.1f", v * 0.1));
    m_editor->setValue(name, QString::number(v * 0.1, 'f', 1));
    raw->setText(RecordEditor::fieldFromDial(v));
}

void ConfigShip::Slot_YawDial(int v)
{
    dialMoved(m_ui->LineYaw1, m_ui->LineYaw2, QStringLiteral("yaw"), v);
}

void ConfigShip::Slot_PitchDial(int v)
{
    dialMoved(m_ui->LinePitch1, m_ui->LinePitch2, QStringLiteral("pitch"), v);
}

void ConfigShip::Slot_RollDial(int v)
{
    dialMoved(m_ui->LineRoll1, m_ui->LineRoll2, QStringLiteral("roll"), v);
}

void ConfigShip::Slot_Recharge()
{
    // Focus loss without an edit must not reformat the record's text.
    const QString text = m_ui->LineRecharge->text();
    QString error;
    if (text != m_editor->value(QStringLiteral("recharge")) &&
        !m_editor->setValue(QStringLiteral("recharge"), text, &error))
        showError(error);
    m_ui->LineRecharge->setText(m_editor->value(QStringLiteral("recharge")));
    m_ui->LineRechargeT->setText(m_editor->value(QStringLiteral("recharge_total")));
}

void ConfigShip::Slot_RechargeT()
{
    const QString text = m_ui->LineRechargeT->text();
    QString error;
    if (text != m_editor->value(QStringLiteral("recharge_total")) &&
        !m_editor->setValue(QStringLiteral("recharge_total"), text, &error))
        showError(error);
    m_ui->LineRecharge->setText(m_editor->value(QStringLiteral("recharge")));
    m_ui->LineRechargeT->setText(m_editor->value(QStringLiteral("recharge_total")));
}

// ---- notoriety

void ConfigShip::UpdateRanks()
{
    m_ui->ComboNotoriety->clear();
    m_ui->ComboNotoriety->addItem(QString());
    const int table = RecordEditor::rankTable(
        m_ui->ComboRace->isEnabled() ? m_ui->ComboRace->currentIndex() : -1);
    if (table >= 0) {
        QStringList ranks = m_gameTexts.rankTable(table);
        ranks.resize(GameTexts::kRanksPerTable);
        m_ui->ComboNotoriety->addItems(ranks);
    }
}

void ConfigShip::Slot_Not(int item)
{
    bool ok = false;
    const int v = RecordEditor::notorietyPreset(item, &ok);
    if (ok && m_ui->SpinNotoriety->isEnabled())
        m_ui->SpinNotoriety->setValue(v);
}

// ---- masks

void ConfigShip::Slot_UpdateMasks()
{
    const bool lasers = m_ui->RadioLasers->isChecked();
    const QString name = lasers ? QStringLiteral("laser_mask") : QStringLiteral("missile_mask");
    const QStringList& types = lasers ? m_lasers : m_missiles;
    const QString raw = m_editor->value(name);
    int mask = 0;
    const bool numeric = toInt(raw, &mask);
    const QSignalBlocker block(m_ui->ListMasks);
    m_ui->ListMasks->clear();
    for (int i = 0; i < types.size() && i < 31; ++i) {
        auto* item = new QTreeWidgetItem(m_ui->ListMasks,
                                         {equipmentName(types.at(i), i), QString::number(1u << i)});
        item->setData(0, kTypeRole, i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, RecordEditor::maskHas(mask, i) ? Qt::Checked : Qt::Unchecked);
    }
    m_ui->ListMasks->setEnabled(numeric);
    m_ui->LineMask->setText(raw);
}

void ConfigShip::Slot_LaserChange(QTreeWidgetItem*)
{
    const QString name = m_ui->RadioLasers->isChecked() ? QStringLiteral("laser_mask")
                                                        : QStringLiteral("missile_mask");
    int old = 0;
    if (!toInt(m_editor->value(name), &old))
        return;
    QList<bool> checked;
    for (int i = 0; i < m_ui->ListMasks->topLevelItemCount(); ++i)
        checked << (m_ui->ListMasks->topLevelItem(i)->checkState(0) == Qt::Checked);
    const qint64 mask = RecordEditor::maskWithChecked(quint32(old), checked);
    m_editor->setValue(name, QString::number(qint32(quint32(mask))));
    m_ui->LineMask->setText(m_editor->value(name));
}

// ---- game directory and language

void ConfigShip::Slot_GameDir(int index)
{
    if (index <= 0 || index >= m_settings.gameDirs.size())
        return;
    m_settings.gameDirs.move(index, 0);
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    loadGame();
    m_chart->loadGame(m_settings.gameDirs.value(0), m_input.programDir + QStringLiteral("/temp"));
    relabelGameNames();
    refreshCockpitChoices();
    refreshTurrets(selectedTurret());
    Slot_UpdateMasks();
    UpdateRanks();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    const QSignalBlocker block(m_ui->ComboGameDir);
    m_ui->ComboGameDir->clear();
    m_ui->ComboGameDir->addItems(m_settings.gameDirs);
}

void ConfigShip::Slot_BaseLang(const QString& language)
{
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_settings.baseLanguage = language;
    loadGame();
    relabelGameNames();
    Slot_UpdateMasks();
    UpdateRanks();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
}

// ---- turrets and cockpits

int ConfigShip::selectedTurret() const
{
    QTreeWidgetItem* item = m_ui->ListTurrets->currentItem();
    return item ? m_ui->ListTurrets->indexOfTopLevelItem(item) : -1;
}

void ConfigShip::refreshCockpitChoices()
{
    m_ui->ComboStdCockpit->clear();
    for (const QString& l : m_editor->gameCockpits())
        m_ui->ComboStdCockpit->addItem(TableIdentifier(l));
    m_ui->ComboCustCockpit->clear();
    for (const QString& l : m_editor->packageCockpits())
        m_ui->ComboCustCockpit->addItem(TableIdentifier(l));
}

void ConfigShip::refreshTurrets(int select)
{
    const QSignalBlocker block(m_ui->ListTurrets);
    m_ui->ListTurrets->clear();
    m_ui->LineMainCockpit->setText(m_editor->turretPart(-1));
    for (int r = 0; r < m_editor->turretRows(); ++r) {
        QString cockpit = m_editor->turretCockpit(r);
        int index = 0;
        if (toInt(cockpit, &index) && index >= 0 && index < m_editor->gameCockpits().size())
            cockpit = TableIdentifier(m_editor->gameCockpits().at(index));
        new QTreeWidgetItem(m_ui->ListTurrets, {cockpit, m_editor->turretPart(r)});
    }
    if (select >= 0 && select < m_ui->ListTurrets->topLevelItemCount())
        m_ui->ListTurrets->setCurrentItem(m_ui->ListTurrets->topLevelItem(select));
    Slot_SelectTurret();
}

void ConfigShip::Slot_SelectTurret()
{
    const int row = selectedTurret();
    const bool any = row >= 0;
    m_ui->GroupCockpit->setEnabled(any && row < kTurretPairs);
    m_ui->ButtonChangeTurret->setEnabled(any);
    m_ui->ButtonRemoveTurret->setEnabled(any);
    Slot_UpdateTurretWeapons();
    if (!any)
        return;
    m_ui->LineTurretPart->setText(m_editor->turretPart(row));
    const QString cockpit = m_editor->turretCockpit(row);
    int index = 0;
    const bool standard = toInt(cockpit, &index);
    m_ui->RadioStdCockpit->setChecked(standard);
    m_ui->RadioCustCockpit->setChecked(!standard);
    m_ui->ComboStdCockpit->setEnabled(standard);
    m_ui->ComboCustCockpit->setEnabled(!standard);
    if (standard)
        m_ui->ComboStdCockpit->setCurrentIndex(index);
    else
        m_ui->ComboCustCockpit->setCurrentText(cockpit);
}

QString ConfigShip::selectedCockpitKey() const
{
    const int row = selectedTurret();
    if (row < 0)
        return QString();
    const QString cockpit = m_editor->turretCockpit(row);
    int index = 0;
    if (toInt(cockpit, &index))
        return index >= 0 && index < m_editor->gameCockpits().size()
                   ? TableIdentifier(m_editor->gameCockpits().at(index))
                   : QString();
    return cockpit.trimmed();
}

void ConfigShip::Slot_UpdateTurretWeapons()
{
    bool editable = false;
    const QString raw = m_editor->cockpitWeapons(selectedCockpitKey(), &editable);
    int mask = 0;
    const bool numeric = toInt(raw, &mask);
    const QSignalBlocker block(m_ui->ListTurretWeapons);
    m_ui->ListTurretWeapons->clear();
    for (int i = 0; numeric && i < m_lasers.size() && i < 31; ++i) {
        auto* item = new QTreeWidgetItem(
            m_ui->ListTurretWeapons, {equipmentName(m_lasers.at(i), i), QString::number(1u << i)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, RecordEditor::maskHas(mask, i) ? Qt::Checked : Qt::Unchecked);
    }
    // Game cockpits are shared by every ship: shown, not changed.
    m_ui->ListTurretWeapons->setEnabled(editable && numeric);
}

void ConfigShip::Slot_CockpitWeapons(QTreeWidgetItem*)
{
    const QString key = selectedCockpitKey();
    int old = 0;
    if (!toInt(m_editor->cockpitWeapons(key), &old))
        return;
    QList<bool> checked;
    for (int i = 0; i < m_ui->ListTurretWeapons->topLevelItemCount(); ++i)
        checked << (m_ui->ListTurretWeapons->topLevelItem(i)->checkState(0) == Qt::Checked);
    QString error;
    const qint64 mask = RecordEditor::maskWithChecked(quint32(old), checked);
    if (!m_editor->setCockpitWeapons(key, qint32(quint32(mask)), &error))
        showError(error);
}

void ConfigShip::Slot_AddTurret()
{
    QString error;
    if (!m_editor->addTurret(m_ui->LineTurretPart->text(), &error))
        return showError(error);
    refreshTurrets(m_editor->turretRows() - 1);
}

void ConfigShip::Slot_ChangeTurret()
{
    QString error;
    const int row = selectedTurret();
    if (!m_editor->setTurretPart(row, m_ui->LineTurretPart->text(), &error))
        return showError(error);
    refreshTurrets(row);
}

void ConfigShip::Slot_RemoveTurret()
{
    QString error;
    const int row = selectedTurret();
    if (!m_editor->removeTurret(row, &error))
        return showError(error);
    refreshTurrets(qMin(row, m_editor->turretRows() - 1));
}

void ConfigShip::Slot_SelectStdCockpit(int index)
{
    QString error;
    const int row = selectedTurret();
    if (!m_editor->setStandardCockpit(row, index, &error))
        return showError(error);
    refreshTurrets(row);
}

void ConfigShip::Slot_SelectCustCockpit(int index)
{
    QString error;
    const int row = selectedTurret();
    if (!m_editor->setCustomCockpit(row, m_ui->ComboCustCockpit->itemText(index), &error))
        return showError(error);
    refreshTurrets(row);
}

void ConfigShip::Slot_CockpitType()
{
    const bool standard = m_ui->RadioStdCockpit->isChecked();
    m_ui->ComboStdCockpit->setEnabled(standard);
    m_ui->ComboCustCockpit->setEnabled(!standard);
    const int row = selectedTurret();
    if (row < 0)
        return;
    QString error;
    if (standard) {
        if (!m_editor->setStandardCockpit(row, qMax(0, m_ui->ComboStdCockpit->currentIndex()),
                                          &error))
            return showError(error);
    } else {
        // Without a custom cockpit yet, "New" makes one; the turret keeps its own.
        if (m_ui->ComboCustCockpit->count() == 0)
            return;
        if (!m_editor->setCustomCockpit(row, m_ui->ComboCustCockpit->currentText(), &error))
            return showError(error);
    }
    refreshTurrets(row);
}

void ConfigShip::Slot_NewCockpit()
{
    const QString name = InputDialogs::askText(this, windowTitle(), text(CreatorText::ConfigCockpitName, "Cockpit name:"),
                                               QString::fromLatin1(kCockpitKeyPrefix));
    if (name.isNull())
        return;
    QString key, error;
    if (!m_editor->newCockpit(name, &key, &error))
        return showError(error);
    refreshCockpitChoices();
    const int row = selectedTurret();
    if (row >= 0 && m_editor->setCustomCockpit(row, key))
        refreshTurrets(row);
}

void ConfigShip::Slot_CopyCockpit()
{
    const QString source = m_ui->RadioStdCockpit->isChecked()
                               ? m_ui->ComboStdCockpit->currentText()
                               : m_ui->ComboCustCockpit->currentText();
    const QString name =
        InputDialogs::askText(this, windowTitle(), FormatText(text(CreatorText::ConfigCopyName, "Name of the copy of %1:"), source),
                              QString::fromLatin1(kCockpitKeyPrefix));
    if (name.isNull())
        return;
    QString key, error;
    if (!m_editor->copyCockpit(source, name, &key, &error))
        return showError(error);
    refreshCockpitChoices();
    const int row = selectedTurret();
    if (row >= 0 && m_editor->setCustomCockpit(row, key))
        refreshTurrets(row);
}

// ---- guns

void ConfigShip::UpdateGunList()
{
    // Slots as the saved record will hold them.
    const RecordEditor saved(m_editor->record());
    const QSignalBlocker block(m_ui->ListGuns);
    m_ui->ListGuns->clear();
    const QList<GunGroup>& groups = saved.gunGroups();
    for (int g = 0; g < groups.size(); ++g) {
        auto* top = new QTreeWidgetItem(m_ui->ListGuns,
                                        {FormatText(text(CreatorText::ConfigGroupN, "Group %1"), QString::number(g + 1)), groups.at(g).header.value(0)});
        top->setData(0, kTypeRole, QPoint(g, -1));
        for (int k = 0; k < groups.at(g).guns.size(); ++k) {
            const QStringList& gun = groups.at(g).guns.at(k);
            auto* item =
                new QTreeWidgetItem(top, {QString::number(k + 1), gun.value(0), gun.value(1),
                                          gun.mid(2).join(QLatin1Char(';'))});
            item->setData(0, kTypeRole, QPoint(g, k));
        }
        top->setExpanded(true);
    }
}

void ConfigShip::Slot_AutomaticGuns()
{
    QString error;
    if (!m_editor->setAutomaticGuns(m_ui->ListGunDummies->count(), &error))
        return showError(error);
    UpdateGunList();
    m_ui->TabsGuns->setCurrentWidget(m_ui->PageGunsManual);
}

void ConfigShip::Slot_SelectGun()
{
    const QTreeWidgetItem* item = m_ui->ListGuns->currentItem();
    if (!item || item->data(0, kTypeRole).toPoint().y() < 0)
        return;
    m_ui->SpinGunSlots->setValue(item->text(2).toInt());
    m_ui->LineGunValues->setText(item->text(3));
}

void ConfigShip::Slot_SelectGun2()
{
    // Gun point n (from 1) is the slot n; a gun entry covers its first slot and
    // as many after it as its slot count says.
    const int point = m_ui->ListGunDummies->currentRow() + 1;
    if (point < 1)
        return;
    for (int g = 0; g < m_ui->ListGuns->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = m_ui->ListGuns->topLevelItem(g);
        for (int k = 0; k < group->childCount(); ++k) {
            QTreeWidgetItem* gun = group->child(k);
            const int first = gun->text(1).toInt();
            const int count = qMax(1, gun->text(2).toInt());
            if (point >= first && point < first + count) {
                m_ui->ListGuns->setCurrentItem(gun);
                Slot_SelectGun();
                return;
            }
        }
    }
    m_ui->ListGuns->setCurrentItem(nullptr);
}

void ConfigShip::Slot_SelectPrimary()
{
    m_ui->RadioLasers->setChecked(true);
    Slot_UpdateMasks();
}

void ConfigShip::Slot_SelectSecondary()
{
    m_ui->RadioMissiles->setChecked(true);
    Slot_UpdateMasks();
}

void ConfigShip::Slot_AddGunGroup()
{
    QString error;
    if (!m_editor->addGunGroup(&error))
        return showError(error);
    UpdateGunList();
}

void ConfigShip::Slot_AddGun()
{
    const QTreeWidgetItem* item = m_ui->ListGuns->currentItem();
    const int group =
        item ? item->data(0, kTypeRole).toPoint().x() : int(m_editor->gunGroups().size()) - 1;
    QString error;
    const QStringList values = m_ui->LineGunValues->text().isEmpty()
                                   ? QStringList{"0", "0", "0", "0"}
                                   : m_ui->LineGunValues->text().split(QLatin1Char(';'));
    if (group < 0 ||
        !m_editor->setGun(group, int(m_editor->gunGroups().value(group).guns.size()),
                          QStringList{QString::number(m_ui->SpinGunSlots->value())} + values,
                          &error))
        return showError(error.isEmpty() ? text(CreatorText::ConfigNoGroup, "Add a gun group first.") : error);
    UpdateGunList();
}

void ConfigShip::Slot_ChangeGun()
{
    const QTreeWidgetItem* item = m_ui->ListGuns->currentItem();
    if (!item || item->data(0, kTypeRole).toPoint().y() < 0)
        return;
    const QPoint at = item->data(0, kTypeRole).toPoint();
    QString error;
    if (!m_editor->setGun(at.x(), at.y(),
                          QStringList{QString::number(m_ui->SpinGunSlots->value())} +
                              m_ui->LineGunValues->text().split(QLatin1Char(';')),
                          &error))
        return showError(error);
    UpdateGunList();
}

void ConfigShip::Slot_RemoveGun()
{
    const QTreeWidgetItem* item = m_ui->ListGuns->currentItem();
    if (!item)
        return;
    const QPoint at = item->data(0, kTypeRole).toPoint();
    QString error;
    const bool ok = at.y() < 0 ? m_editor->removeGunGroup(at.x(), &error)
                               : m_editor->removeGun(at.x(), at.y(), &error);
    if (!ok)
        return showError(error);
    UpdateGunList();
}

// ---- scene parts

void ConfigShip::Slot_SceneChanged()
{
    QComboBox* combo = m_ui->ComboSceneParts;
    combo->clear();
    QString path = ExpandPackagePath(m_sceneFile, m_input.programDir);
    path.replace(QStringLiteral("%5c"), QStringLiteral("/"));
    const QString temp = m_input.programDir + QStringLiteral("/temp");
    const SceneBodies scene = path.isEmpty() ? SceneBodies{} : ReadSceneFile(path, temp);
    combo->addItem(QString());
    for (const ScenePart& part : scene.parts)
        combo->addItem(part.name.isEmpty() ? part.number : part.number + QStringLiteral("  ") + part.name,
                       part.number);
    // A binary scene has no part lines to offer: positions are typed as "a:b".
    combo->setEnabled(combo->count() > 1);
    m_ui->LineScene->setToolTip(path);
}

void ConfigShip::Slot_GetDirectory()
{
    const QString current = ExpandPackagePath(m_sceneFile, m_input.programDir);
    const QString file = FileDialogs::chooseFile(
        this, text(CreatorText::ConfigChooseScene, "Choose the scene to take the positions from"),
        QFileInfo(current).absolutePath(),
        text(CreatorText::ConfigSceneFilter, "Scenes") +
            QStringLiteral(" (*.bod *.pbd *.txt);;* (*)"));
    if (file.isEmpty())
        return;
    m_sceneFile = file;
    m_ui->LineScene->setText(QFileInfo(file).fileName());
    Slot_SceneChanged();
}

// A part fills the position's first value; the second, which the dialog does
// not interpret, is kept.
void ConfigShip::Slot_ScenePart(int index)
{
    const QString number = m_ui->ComboSceneParts->itemData(index).toString();
    if (number.isEmpty())
        return;
    const QStringList two = m_ui->LineTurretPart->text().split(QLatin1Char(':'));
    m_ui->LineTurretPart->setText(number + QLatin1Char(':') +
                                  (two.size() == 2 ? two.at(1).trimmed() : QStringLiteral("0")));
}
