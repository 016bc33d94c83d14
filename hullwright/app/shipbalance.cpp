#include "shipbalance.h"

#include "classchart.h"
#include "creatortexts.h"
#include "fileutils.h"
#include "ui_shipbalance.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QHeaderView>

namespace {

// The group labels, in slider order.
const int kSliderTexts[kBalanceSliders] = {
    CreatorText::BalSpeed,   CreatorText::BalAccel,  CreatorText::BalReactor,
    CreatorText::BalWeapons, CreatorText::BalRecharge, CreatorText::BalCargo,
    CreatorText::BalShields, CreatorText::BalHull,   CreatorText::BalTurning};

QString shieldName(const UiTexts& texts, int type)
{
    if (type >= 0 && type < kShieldTypes)
        return texts.own(CreatorText::Shield1MJ + type);
    return QString::number(type);
}

} // namespace

ShipBalance::ShipBalance(const UiTexts& texts, const ProfileFile& profile, const QString& record,
                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DShipBalance>()), m_texts(texts),
      m_profile(profile), m_balancer(profile.profile)
{
    using namespace CreatorText;
    Ui::DShipBalance& ui = *m_ui;
    ui.setupUi(this);
    setWindowTitle(PlainUiText(text(BalanceButton)));
    QGroupBox* groups[kBalanceSliders] = {ui.GroupSpeed,   ui.GroupAccel,        ui.GroupReactor,
                                          ui.GroupWeapons, ui.GroupWeapRecharge, ui.GroupCargo,
                                          ui.GroupShields, ui.GroupHull,         ui.GroupTurning};
    // "Manouvrability:" keeps its colon; the other labels are shared with
    // Customize Ship, which shows them with one.
    for (int i = 0; i < kBalanceSliders; ++i)
        groups[i]->setTitle(i == int(BalanceSlider::Turning) ? text(kSliderTexts[i])
                                                             : WithoutColon(text(kSliderTexts[i])));
    ui.GroupOptions->setTitle(QString());
    ui.CheckAuto->setText(text(BalAuto));
    ui.RadioEqual->setText(text(BalEqual));
    ui.RadioLowest->setText(text(BalLowest));
    ui.RadioHighest->setText(text(BalHighest));
    ui.ButtonSetAverage->setText(text(BalSetAverage));
    ui.ButtonBalance->setText(text(BalBalance));
    ui.ButtonDone->setText(text(Done));
    ui.ButtonClose->setText(text(CloseButton));
    ui.ButtonDone->setDefault(true);
    ui.LabelProfile->setText(QStringLiteral("<b>%1</b> %2 (%3.xbp)")
                                 .arg(PlainUiText(text(BalProfile)).toHtmlEscaped(),
                                      m_profile.profile.name.toHtmlEscaped(),
                                      m_profile.profile.fileName.toHtmlEscaped()));
    QFont big = ui.LabelAverage->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    ui.LabelAverage->setFont(big);
    ui.ListDetails->setHeaderLabels({text(BalColStatistic), text(BalColShip),
                                     WithoutColon(text(BalColMinimum)), text(BalColMiddle),
                                     WithoutColon(text(BalColMaximum)), text(BalColScore)});
    ui.ListDetails->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui.Extension->hide();
    ui.ButtonDetails->setText(text(BalDetails) + QStringLiteral(" >>>"));

    m_loaded = m_balancer.load(record, &m_loadError);
    if (m_balancer.shieldsOutside())
        m_shieldsNote = FormatText(text(BalShieldsOutside),
                                   shieldName(m_texts, m_balancer.loadedShields().type),
                                   QString::number(m_balancer.loadedShields().count));
    for (int i = 0; i < kBalanceSliders; ++i) {
        const BalanceSlider s = BalanceSlider(i);
        QSlider* sl = slider(s);
        const int line = BalanceLineStep(s);
        sl->setRange(m_balancer.minimum(s), m_balancer.maximum(s));
        sl->setSingleStep(line);
        sl->setPageStep(std::max(line, m_balancer.maximum(s) / 10));
        sl->setTickInterval(std::max(1, m_balancer.maximum(s) / 10));
        sl->setEnabled(m_balancer.maximum(s) > m_balancer.minimum(s));
    }
    writeSliders();

    void (ShipBalance::*handlers[kBalanceSliders])() = {
        &ShipBalance::Slot_SliderSpeed,   &ShipBalance::Slot_SliderAccel,
        &ShipBalance::Slot_SliderReactor, &ShipBalance::Slot_SliderWeapons,
        &ShipBalance::Slot_SliderWeapRecharge, &ShipBalance::Slot_SliderCargo,
        &ShipBalance::Slot_SliderShields, &ShipBalance::Slot_SliderHull,
        &ShipBalance::Slot_SliderTurning};
    for (int i = 0; i < kBalanceSliders; ++i)
        connect(slider(BalanceSlider(i)), &QSlider::valueChanged, this, handlers[i]);
    connect(ui.ButtonSetAverage, &QPushButton::clicked, this, &ShipBalance::Slot_SetAverage);
    connect(ui.ButtonBalance, &QPushButton::clicked, this, &ShipBalance::Slot_Balance);
    connect(ui.ButtonDetails, &QPushButton::clicked, this, &ShipBalance::Slot_Details);
    connect(ui.ButtonDone, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui.ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    Slot_UpdateData();

    m_chart = new ClassChart(this, &m_texts);
    ClassChart::placeBeside(ui.sliderGrid, m_chart);
    m_chart->setSelection(ClassSelection::profile(m_profile.profile));
    m_chart->followEdits(this, [this] { return m_balancer.record(); });
}

void ShipBalance::showClassChart(const QString& gameDir, const QString& tempFolder)
{
    m_chart->loadGame(gameDir, tempFolder);
}

ShipBalance::~ShipBalance() = default;

QString ShipBalance::text(int n) const
{
    return m_texts.own(n);
}

QSlider* ShipBalance::slider(BalanceSlider s) const
{
    const Ui::DShipBalance& ui = *m_ui;
    QSlider* const sliders[kBalanceSliders] = {
        ui.SliderSpeed,   ui.SliderAccel,        ui.SliderReactor,
        ui.SliderWeapons, ui.SliderWeapRecharge, ui.SliderCargo,
        ui.SliderShields, ui.SliderHull,         ui.SliderTurning};
    return sliders[int(s)];
}

BalanceMode ShipBalance::mode() const
{
    if (m_ui->RadioLowest->isChecked())
        return BalanceMode::LowestFirst;
    if (m_ui->RadioHighest->isChecked())
        return BalanceMode::HighestFirst;
    return BalanceMode::Equal;
}

void ShipBalance::writeSliders()
{
    m_busy = true;
    for (int i = 0; i < kBalanceSliders; ++i)
        slider(BalanceSlider(i))->setValue(m_balancer.value(BalanceSlider(i)));
    m_busy = false;
}

void ShipBalance::runBalance(std::optional<BalanceSlider> moved)
{
    m_lastRun = m_balancer.balance(mode(), moved);
    writeSliders();
}

void ShipBalance::sliderChanged(BalanceSlider s)
{
    if (m_busy)
        return;
    m_balancer.setValue(s, slider(s)->value());
    if (m_ui->CheckAuto->isChecked())
        runBalance(s);
    Slot_UpdateData();
}

void ShipBalance::Slot_Balance()
{
    runBalance(std::nullopt);
    Slot_UpdateData();
}

void ShipBalance::Slot_SetAverage()
{
    // writeSliders() holds the busy flag: the moves made here do not balance.
    m_balancer.setAverage();
    writeSliders();
    m_lastRun = BalanceRun{};
    Slot_UpdateData();
}

void ShipBalance::Slot_Details()
{
    const bool show = !m_ui->Extension->isVisible();
    m_ui->Extension->setVisible(show);
    m_ui->ButtonDetails->setText(text(CreatorText::BalDetails) +
                                 (show ? QStringLiteral(" <<<") : QStringLiteral(" >>>")));
    adjustSize();
}

QString ShipBalance::valueText(BalanceSlider s) const
{
    const qint64 v = m_balancer.shownStatistic(s);
    // The record's own shields until the slider moves, also outside the profile.
    if (s == BalanceSlider::Shields && !m_balancer.touched(s))
        return QStringLiteral("%1 x %2")
            .arg(shieldName(m_texts, m_balancer.loadedShields().type))
            .arg(m_balancer.loadedShields().count);
    switch (s) {
    case BalanceSlider::Speed:
    case BalanceSlider::Accel:
        return QStringLiteral("%1 (%2)").arg(v).arg(RecordEditor::speedText(int(v)));
    case BalanceSlider::Shields: {
        const ShieldPair pair = ShieldAt(m_balancer.profile(), int(v));
        return QStringLiteral("%1 x %2").arg(shieldName(m_texts, pair.type)).arg(pair.count);
    }
    default:
        return QString::number(v);
    }
}

void ShipBalance::Slot_UpdateData()
{
    using namespace CreatorText;
    Ui::DShipBalance& ui = *m_ui;
    QLabel* const values[kBalanceSliders] = {
        ui.LabelValueSpeed,   ui.LabelValueAccel,        ui.LabelValueReactor,
        ui.LabelValueWeapons, ui.LabelValueWeapRecharge, ui.LabelValueCargo,
        ui.LabelValueShields, ui.LabelValueHull,         ui.LabelValueTurning};
    for (int i = 0; i < kBalanceSliders; ++i)
        values[i]->setText(valueText(BalanceSlider(i)));
    ui.LabelAverage->setText(PlainUiText(text(BalAverage)) + QLatin1Char(' ') +
                             QString::number(m_balancer.average()));

    QStringList status;
    if (!m_shieldsNote.isEmpty())
        status << m_shieldsNote;
    using Stop = BalanceRun::Stop;
    if (m_lastRun.stop == Stop::NoMove || m_lastRun.stop == Stop::Oscillation ||
        m_lastRun.stop == Stop::StepLimit)
        status << FormatText(text(BalNotReached),
                             text(m_lastRun.stop == Stop::NoMove ? BalStopNoMove : BalStopJumping));
    ui.LabelStatus->setText(status.join(QLatin1Char('\n')));
    ui.LabelStatus->setVisible(!status.isEmpty());

    ui.ListDetails->clear();
    for (int i = 0; i < kBalanceSliders; ++i) {
        const BalanceSlider s = BalanceSlider(i);
        const BalanceRange r = m_balancer.range(s);
        const bool shields = s == BalanceSlider::Shields;
        auto* item = new QTreeWidgetItem(ui.ListDetails);
        item->setText(0, WithoutColon(PlainUiText(text(kSliderTexts[i]))));
        item->setText(1, shields ? QStringLiteral("%1: %2").arg(m_balancer.value(s)).arg(valueText(s))
                                 : QString::number(m_balancer.shownStatistic(s)));
        item->setText(2, QString::number(r.min));
        item->setText(3, shields ? QString::number(r.max * 0.5) : QString::number(r.mid()));
        item->setText(4, QString::number(r.max));
        item->setText(5, QString::number(double(m_balancer.score(s)), 'f', 3));
        for (int c = 1; c < 6; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void ShipBalance::Slot_SliderSpeed() { sliderChanged(BalanceSlider::Speed); }
void ShipBalance::Slot_SliderAccel() { sliderChanged(BalanceSlider::Accel); }
void ShipBalance::Slot_SliderReactor() { sliderChanged(BalanceSlider::Reactor); }
void ShipBalance::Slot_SliderWeapons() { sliderChanged(BalanceSlider::Weapons); }
void ShipBalance::Slot_SliderWeapRecharge() { sliderChanged(BalanceSlider::Recharge); }
void ShipBalance::Slot_SliderCargo() { sliderChanged(BalanceSlider::Cargo); }
void ShipBalance::Slot_SliderShields() { sliderChanged(BalanceSlider::Shields); }
void ShipBalance::Slot_SliderHull() { sliderChanged(BalanceSlider::Hull); }
void ShipBalance::Slot_SliderTurning() { sliderChanged(BalanceSlider::Turning); }
