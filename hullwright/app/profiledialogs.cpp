#include "profiledialogs.h"

#include "creatortexts.h"
#include "fileutils.h"
#include "ui_createprofile.h"
#include "ui_manageprofile.h"
#include "ui_selectvariant.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QFileInfo>
#include <QHeaderView>

namespace {

constexpr int kPathRole = Qt::UserRole;

QString fieldLabel(const QString& text)
{
    return QStringLiteral("<b>") + text + QStringLiteral(":</b>");
}

// A combo whose items carry their value; a value outside the items gets one of its own.
void selectValue(QComboBox* combo, int value)
{
    int i = combo->findData(value);
    if (i < 0) {
        combo->addItem(QString::number(value), value);
        i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
}

} // namespace

// --- SelectVariant -------------------------------------------------------------

SelectVariant::SelectVariant(const UiTexts& texts, const QList<NumberedName>& variants,
                             QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DSelectVariant>())
{
    using namespace CreatorText;
    m_ui->setupUi(this);
    setWindowTitle(PlainUiText(texts.own(VariantCaption)));
    m_ui->LabelHint->setText(texts.own(VariantHint));
    m_ui->ButtonOk->setText(texts.own(Ok));
    m_ui->ButtonCancel->setText(texts.own(CancelButton));
    m_ui->ButtonOk->setDefault(true);
    QFont mono = m_ui->ListVariants->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_ui->ListVariants->setFont(mono);
    for (int i = 0; i < variants.size(); ++i) {
        auto* item = new QListWidgetItem(QString::asprintf("%3d: ", variants.at(i).number) + variants.at(i).name,
                                         m_ui->ListVariants);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    connect(m_ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

SelectVariant::~SelectVariant() = default;

QList<int> SelectVariant::checked() const
{
    QList<int> out;
    for (int i = 0; i < m_ui->ListVariants->count(); ++i)
        if (m_ui->ListVariants->item(i)->checkState() == Qt::Checked)
            out << i;
    return out;
}

void SelectVariant::setChecked(int position, bool on)
{
    if (QListWidgetItem* item = m_ui->ListVariants->item(position))
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// --- CreateProfile ---------------------------------------------------------------

CreateProfile::CreateProfile(const UiTexts& texts, const ProfileContext& context,
                             const BalanceProfile& profile, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DCreateProfile>()), m_texts(texts),
      m_context(context), m_fileName(profile.fileName)
{
    using namespace CreatorText;
    Ui::DCreateProfile& ui = *m_ui;
    ui.setupUi(this);
    setWindowTitle(PlainUiText(text(ProfCaption)));
    ui.LabelName->setText(fieldLabel(text(ProfName)));
    ui.LabelClass->setText(fieldLabel(text(ProfColClass)));
    ui.LabelVariant->setText(fieldLabel(WithoutColon(text(ProfVariant))));
    ui.GroupStats->setTitle(text(ProfStatistics));
    ui.HeadMin->setText(fieldLabel(WithoutColon(text(BalColMinimum))));
    ui.HeadMax->setText(fieldLabel(WithoutColon(text(BalColMaximum))));
    const struct
    {
        QLabel* label;
        int text;
    } labels[] = {{ui.LabelSpeed, BalSpeed},          {ui.LabelAccel, BalAccel},
                  {ui.LabelTurning, ProfTurning},     {ui.LabelTuning, ProfTuning},
                  {ui.LabelReactor, BalReactor},      {ui.LabelWeapon, BalWeapons},
                  {ui.LabelRecharge, ProfRecharge},   {ui.LabelHull, BalHull},
                  {ui.LabelCargoMin, BalColMinimum},  {ui.LabelCargoMax, BalColMaximum},
                  {ui.LabelCargoAverage, ProfCargoAverage},
                  {ui.LabelCargoDifference, ProfCargoDifference},
                  {ui.LabelShieldLow, ProfShieldLow}, {ui.LabelShieldLowCount, ProfShieldLowCount},
                  {ui.LabelShieldHigh, ProfShieldHigh},
                  {ui.LabelShieldHighCount, ProfShieldHighCount}};
    for (const auto& l : labels)
        l.label->setText(WithoutColon(PlainUiText(text(l.text))));
    ui.GroupCargo->setTitle(text(BalCargo));
    ui.GroupShield->setTitle(text(BalShields));
    ui.ButtonImport->setText(text(ImportButton));
    ui.ButtonDone->setText(text(Done));
    ui.ButtonCancel->setText(text(CancelButton));
    ui.ButtonDone->setDefault(true);

    for (QSpinBox* spin : findChildren<QSpinBox*>()) {
        spin->setRange(0, kMaxProfileValue);
        spin->setGroupSeparatorShown(true);
    }
    ui.SpinShieldLowCount->setRange(0, kMaxShieldCount);
    ui.SpinShieldHighCount->setRange(0, kMaxShieldCount);
    for (int i = 0; i < m_context.classes.size(); ++i)
        ui.ComboClass->addItem(m_context.classes.at(i).name, i);
    ui.ComboVariant->addItem(text(ProfAnyVariant), -1);
    for (int i = 0; i < m_context.variants.size(); ++i)
        ui.ComboVariant->addItem(m_context.variants.at(i).name, i);
    for (QComboBox* c : {ui.ComboShieldLow, ui.ComboShieldHigh})
        for (int t = 0; t < kShieldTypes; ++t)
            c->addItem(text(Shield1MJ + t), t);
    setProfile(profile);

    connect(ui.ButtonDone, &QPushButton::clicked, this, &CreateProfile::Slot_Done);
    connect(ui.ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui.ButtonImport, &QPushButton::clicked, this, &CreateProfile::Slot_Import);
}

CreateProfile::~CreateProfile() = default;

QString CreateProfile::text(int n) const
{
    return m_texts.own(n);
}

int CreateProfile::warn(int message, const QString& detail, bool question)
{
    using namespace CreatorText;
    QtPrompter prompter(this);
    const QString body = detail.isNull() ? text(message) : FormatText(text(message), detail);
    QStringList buttons = question ? QStringList{text(Yes), text(No)} : QStringList{text(Ok)};
    return prompter.ask(question ? Prompter::Icon::Question : Prompter::Icon::Warning,
                        PlainUiText(text(ProfCaption)), body, buttons, question ? 1 : 0,
                        int(buttons.size()) - 1);
}

void CreateProfile::setProfile(const BalanceProfile& p)
{
    Ui::DCreateProfile& ui = *m_ui;
    ui.EditName->setText(p.name);
    selectValue(ui.ComboClass, p.shipClass);
    selectValue(ui.ComboVariant, p.variant);
    const struct
    {
        QSpinBox *min, *max;
        BalanceRange range;
    } ranges[] = {{ui.SpinSpeedMin, ui.SpinSpeedMax, p.speed},
                  {ui.SpinAccelMin, ui.SpinAccelMax, p.accel},
                  {ui.SpinTurningMin, ui.SpinTurningMax, p.turning},
                  {ui.SpinTuningMin, ui.SpinTuningMax, p.tuning},
                  {ui.SpinReactorMin, ui.SpinReactorMax, p.reactor},
                  {ui.SpinWeaponMin, ui.SpinWeaponMax, p.weapon},
                  {ui.SpinRechargeMin, ui.SpinRechargeMax, p.recharge},
                  {ui.SpinHullMin, ui.SpinHullMax, p.hull}};
    for (const auto& r : ranges) {
        r.min->setValue(r.range.min);
        r.max->setValue(r.range.max);
    }
    QSpinBox* cargo[4] = {ui.SpinCargoMin, ui.SpinCargoMax, ui.SpinCargoAverage,
                          ui.SpinCargoDifference};
    for (int i = 0; i < 4; ++i)
        cargo[i]->setValue(p.cargo[i]);
    selectValue(ui.ComboShieldLow, p.shield[0]);
    ui.SpinShieldLowCount->setValue(p.shield[1]);
    selectValue(ui.ComboShieldHigh, p.shield[2]);
    ui.SpinShieldHighCount->setValue(p.shield[3]);
}

BalanceProfile CreateProfile::profile() const
{
    const Ui::DCreateProfile& ui = *m_ui;
    BalanceProfile p;
    p.name = ui.EditName->text().trimmed();
    p.fileName = m_fileName;
    p.shipClass = ui.ComboClass->currentData().toInt();
    p.variant = ui.ComboVariant->currentData().toInt();
    p.speed = {ui.SpinSpeedMin->value(), ui.SpinSpeedMax->value()};
    p.accel = {ui.SpinAccelMin->value(), ui.SpinAccelMax->value()};
    p.turning = {ui.SpinTurningMin->value(), ui.SpinTurningMax->value()};
    p.tuning = {ui.SpinTuningMin->value(), ui.SpinTuningMax->value()};
    p.reactor = {ui.SpinReactorMin->value(), ui.SpinReactorMax->value()};
    p.weapon = {ui.SpinWeaponMin->value(), ui.SpinWeaponMax->value()};
    p.recharge = {ui.SpinRechargeMin->value(), ui.SpinRechargeMax->value()};
    p.hull = {ui.SpinHullMin->value(), ui.SpinHullMax->value()};
    p.cargo[0] = ui.SpinCargoMin->value();
    p.cargo[1] = ui.SpinCargoMax->value();
    p.cargo[2] = ui.SpinCargoAverage->value();
    p.cargo[3] = ui.SpinCargoDifference->value();
    p.shield[0] = ui.ComboShieldLow->currentData().toInt();
    p.shield[1] = ui.SpinShieldLowCount->value();
    p.shield[2] = ui.ComboShieldHigh->currentData().toInt();
    p.shield[3] = ui.SpinShieldHighCount->value();
    return p;
}

void CreateProfile::Slot_Done()
{
    using namespace CreatorText;
    if (m_ui->EditName->text().trimmed().isEmpty()) {
        warn(ProfNameMissing, QString());
        m_ui->EditName->setFocus();
        return;
    }
    const QString problem = ProfileProblem(profile());
    if (!problem.isEmpty() && warn(ProfSaveUnusable, problem, true) != 0)
        return;
    accept();
}

void CreateProfile::Slot_Import()
{
    using namespace CreatorText;
    const QString filter = text(ShipTableFilter) +
                           QStringLiteral(" (tships.pck tships.txt TShips.pck TShips.txt *.cat);;") +
                           text(CatalogFilter) + QStringLiteral(" (*.cat)");
    const QString file =
        FileDialogs::chooseFile(this, text(ProfChooseTable), m_context.startDir, filter);
    if (file.isEmpty())
        return;
    SelectVariant picker(m_texts, m_context.variants, this);
    if (ModalDialogs::exec(picker) != QDialog::Accepted)
        return;
    const QList<int> variants = picker.checked();
    if (variants.isEmpty()) {
        warn(ProfNoVariant, QString());
        return;
    }
    const int shipClass = m_ui->ComboClass->currentData().toInt();
    const ProfileImport imported =
        ImportProfileFromTable(file, shipClass, variants, m_context.workDir);
    if (!imported.ok) {
        QtPrompter prompter(this);
        const QString body = imported.tableRead
                                 ? FormatText(text(ProfNoShips), m_ui->ComboClass->currentText(), file)
                                 : text(TableErrorText) + QLatin1Char('\n') + imported.error;
        prompter.ask(Prompter::Icon::Warning, text(TableErrorCaption), body, {text(Ok)});
        return;
    }
    BalanceProfile p = imported.profile;
    p.name = m_ui->EditName->text().trimmed();
    setProfile(p);
}

// --- ManageProfile ----------------------------------------------------------------

ManageProfile::ManageProfile(const UiTexts& texts, const ProfileContext& context, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DManageProfile>()), m_texts(texts),
      m_context(context)
{
    using namespace CreatorText;
    Ui::DManageProfile& ui = *m_ui;
    ui.setupUi(this);
    setWindowTitle(PlainUiText(text(ManageProfiles)));
    ui.ListProfiles->setHeaderLabels(
        {WithoutColon(text(ProfColProfile)), text(ProfColClass), text(ProfColVariant), text(ProfColFile)});
    ui.ListProfiles->header()->setStretchLastSection(false);
    ui.ListProfiles->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui.ListProfiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui.ButtonCreate->setText(text(ProfCreate));
    ui.ButtonEdit->setText(text(ProfEdit));
    ui.ButtonClose->setText(text(CloseButton));
    connect(ui.ButtonCreate, &QPushButton::clicked, this, &ManageProfile::Slot_Create);
    connect(ui.ButtonEdit, &QPushButton::clicked, this,
            [this] { Slot_Edit(m_ui->ListProfiles->currentItem()); });
    connect(ui.ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui.ListProfiles, &QTreeWidget::itemDoubleClicked, this, &ManageProfile::Slot_Edit);
    connect(ui.ListProfiles, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const QString problem = item ? item->toolTip(0) : QString();
        m_ui->LabelProblem->setText(
            problem.isEmpty() ? FormatText(text(ProfManageHint), m_context.profilesDir) : problem);
        m_ui->ButtonEdit->setEnabled(item != nullptr);
    });
    refresh();
}

ManageProfile::~ManageProfile() = default;

QString ManageProfile::text(int n) const
{
    return m_texts.own(n);
}

QString ManageProfile::className(int index) const
{
    return index >= 0 && index < m_context.classes.size()
               ? m_context.classes.at(index).name
               : FormatText(text(CreatorText::ProfClassUnknown), QString::number(index));
}

QString ManageProfile::variantName(int index) const
{
    if (index == -1)
        return text(CreatorText::ProfAnyVariant);
    return index >= 0 && index < m_context.variants.size() ? m_context.variants.at(index).name
                                                           : QString::number(index);
}

void ManageProfile::refresh()
{
    QTreeWidget* list = m_ui->ListProfiles;
    list->clear();
    const QIcon icon(m_context.iconFile);
    for (const ProfileFile& pf : ReadProfiles(m_context.profilesDir)) {
        auto* item = new QTreeWidgetItem(list);
        item->setIcon(0, icon);
        item->setText(0, pf.profile.name.isEmpty() ? pf.profile.fileName : pf.profile.name);
        item->setText(1, className(pf.profile.shipClass));
        item->setText(2, variantName(pf.profile.variant));
        item->setText(3, QFileInfo(pf.path).fileName());
        item->setData(0, kPathRole, pf.path);
        if (!pf.problem.isEmpty()) {
            const QString why = FormatText(text(CreatorText::ProfUnusable), pf.problem);
            for (int c = 0; c < 4; ++c) {
                item->setToolTip(c, why);
                item->setForeground(c, list->palette().brush(QPalette::Disabled, QPalette::Text));
            }
        }
    }
    list->sortItems(0, Qt::AscendingOrder);
    list->setCurrentItem(list->topLevelItem(0));
    if (!list->topLevelItemCount()) {
        m_ui->LabelProblem->setText(FormatText(text(CreatorText::ProfManageHint), m_context.profilesDir));
        m_ui->ButtonEdit->setEnabled(false);
    }
}

void ManageProfile::Slot_Create()
{
    BalanceProfile p;
    p.shield[3] = 1;
    edit(p);
}

void ManageProfile::Slot_Edit(QTreeWidgetItem* item, int)
{
    if (!item)
        return;
    ProfileFile pf;
    if (!ReadProfileFile(item->data(0, kPathRole).toString(), &pf)) {
        refresh();
        return;
    }
    edit(pf.profile);
}

void ManageProfile::edit(const BalanceProfile& profile)
{
    CreateProfile dialog(m_texts, m_context, profile, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    BalanceProfile p = dialog.profile();
    if (p.fileName.isEmpty()) {
        // A new profile never replaces another one's file.
        const QString base = ProfileFileName(p.name);
        p.fileName = base;
        for (int n = 2; QFileInfo::exists(m_context.profilesDir + QLatin1Char('/') + p.fileName +
                                          QStringLiteral(".xbp"));
             ++n)
            p.fileName = base + QLatin1Char('_') + QString::number(n);
    }
    QString error;
    if (!WriteProfile(m_context.profilesDir, p, &error)) {
        QtPrompter prompter(this);
        prompter.ask(Prompter::Icon::Critical, PlainUiText(text(CreatorText::ProfCaption)),
                     FormatText(text(CreatorText::ProfSaveFailed), error),
                     {text(CreatorText::Ok)});
    }
    refresh();
}
