#include "classchart.h"

#include <QAbstractSlider>
#include <QBarCategoryAxis>
#include <QBoxLayout>
#include <QBoxPlotSeries>
#include <QBoxSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QScatterSeries>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

QString valueText(ClassStat s, double v)
{
    const QString unit = ClassStatUnit(s);
    return QString::number(v, 'g', 6) + (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
}

// Dots of one statistic spread across a band of its column, by rank, so that
// equal values stay apart.
double dotX(int column, int rank, int count)
{
    if (count <= 1)
        return column;
    return column - 0.3 + 0.6 * rank / double(count - 1);
}

} // namespace

ClassChart::ClassChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ClassChart"));
    m_stack = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    m_noteLabel = new QLabel(m_stack);
    m_noteLabel->setObjectName(QStringLiteral("LabelClassChartNote"));
    m_noteLabel->setWordWrap(true);
    m_noteLabel->setAlignment(Qt::AlignCenter);
    m_noteLabel->setFrameShape(QFrame::StyledPanel);
    m_noteLabel->setMargin(12);
    m_stack->addWidget(m_noteLabel);

    m_chart = new QChart;
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setMargins(QMargins(2, 2, 2, 2));
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setBackgroundRoundness(0);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_boxes = new QBoxPlotSeries;
    m_dots = new QScatterSeries;
    m_dots->setName(QStringLiteral("Game ships"));
    m_dots->setMarkerSize(5);
    m_dots->setColor(QColor(90, 90, 90, 150));
    m_dots->setBorderColor(Qt::transparent);
    m_ship = new QScatterSeries;
    m_ship->setName(QStringLiteral("This ship"));
    m_ship->setMarkerShape(QScatterSeries::MarkerShapeStar);
    m_ship->setMarkerSize(16);
    m_ship->setColor(QColor(220, 30, 30));
    m_ship->setBorderColor(QColor(120, 0, 0));
    m_chart->addSeries(m_boxes);
    m_chart->addSeries(m_dots);
    m_chart->addSeries(m_ship);
    m_axisX = new QBarCategoryAxis;
    m_axisY = new QValueAxis;
    m_axisY->setLabelFormat(QStringLiteral("%.1f"));
    QFont small = m_axisX->labelsFont();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    m_axisX->setLabelsFont(small);
    m_axisY->setLabelsFont(small);
    m_boxes->setBoxWidth(0.45);
    m_chart->addAxis(m_axisX, Qt::AlignBottom);
    m_chart->addAxis(m_axisY, Qt::AlignLeft);
    for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(m_boxes),
                                    static_cast<QAbstractSeries*>(m_dots),
                                    static_cast<QAbstractSeries*>(m_ship)}) {
        series->attachAxis(m_axisX);
        series->attachAxis(m_axisY);
    }
    m_view = new QChartView(m_chart, m_stack);
    m_view->setObjectName(QStringLiteral("ClassChartView"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(520, 340);
    m_stack->addWidget(m_view);

    connect(m_dots, &QScatterSeries::hovered, this, [this](const QPointF& p, bool on) {
        if (on)
            QToolTip::showText(QCursor::pos(), dotText(p), m_view);
        else
            QToolTip::hideText();
    });
    connect(m_ship, &QScatterSeries::hovered, this, [this](const QPointF& p, bool on) {
        const int column = int(std::lround(p.x()));
        if (on && column >= 0 && column < kClassStats)
            QToolTip::showText(QCursor::pos(), shipText(ClassStat(column)), m_view);
        else
            QToolTip::hideText();
    });
    showNote(QStringLiteral("No game ship table has been read."));
}

void ClassChart::setTable(const QStringList& entries)
{
    m_entries = entries;
    m_haveTable = true;
    m_current.reset();
    recompute();
}

void ClassChart::setNoTable(const QString& why)
{
    m_entries.clear();
    m_haveTable = false;
    m_stats = ClassStatistics{};
    showNote(why);
}

void ClassChart::loadGame(const QString& gameDir, const QString& tempFolder)
{
    QStringList entries;
    QString error;
    if (LoadGameShipTable(gameDir, tempFolder, &entries, &error))
        setTable(entries);
    else
        setNoTable(error);
}

void ClassChart::setSelection(const std::optional<ClassSelection>& selection)
{
    m_fixed = selection;
    m_current.reset();
    if (m_haveTable)
        recompute();
}

void ClassChart::setRecord(const QString& record)
{
    m_record = record;
    if (!m_haveTable)
        return;
    const std::optional<ClassSelection> wanted = m_fixed ? m_fixed : ClassSelection::ofRecord(record);
    const bool same = wanted && m_current && wanted->by == m_current->by &&
                      wanted->number == m_current->number &&
                      wanted->shipClass == m_current->shipClass &&
                      wanted->variant == m_current->variant;
    if (!same) {
        recompute();
        return;
    }
    if (m_note.isEmpty()) {
        m_stats.placeShip(record);
        redrawShip();
    }
}

void ClassChart::followEdits(QWidget* dialog, std::function<QString()> record)
{
    auto update = [this, record] { setRecord(record()); };
    for (QSpinBox* w : dialog->findChildren<QSpinBox*>())
        connect(w, &QSpinBox::valueChanged, this, update);
    for (QAbstractSlider* w : dialog->findChildren<QAbstractSlider*>())
        connect(w, &QAbstractSlider::valueChanged, this, update);
    for (QLineEdit* w : dialog->findChildren<QLineEdit*>())
        connect(w, &QLineEdit::editingFinished, this, update);
    for (QComboBox* w : dialog->findChildren<QComboBox*>())
        connect(w, &QComboBox::activated, this, update);
    update();
}

void ClassChart::recompute()
{
    m_current = m_fixed ? m_fixed : ClassSelection::ofRecord(m_record);
    if (!m_current) {
        m_stats = ClassStatistics{};
        showNote(QStringLiteral("The ship's class number (field 52) is not a number, so it cannot "
                                "be compared with the game's ships."));
        return;
    }
    m_stats = ComputeClassStatistics(m_entries, *m_current, m_record);
    if (m_stats.inClass == 0) {
        showNote(QStringLiteral("The game's ship table holds no ship of %1 to compare with.")
                     .arg(m_current->describe()));
        return;
    }
    redraw();
}

void ClassChart::showNote(const QString& text)
{
    m_note = text;
    m_noteLabel->setText(text);
    m_stack->setCurrentWidget(m_noteLabel);
}

double ClassChart::scaled(ClassStat s, double v) const
{
    const StatSummary& st = m_stats.stat(s);
    if (st.count == 0)
        return 0.5;
    if (st.max <= st.min)
        return v < st.min ? 0.0 : v > st.max ? 1.0 : 0.5;
    return (v - st.min) / (st.max - st.min);
}

void ClassChart::redraw()
{
    m_note.clear();
    m_stack->setCurrentWidget(m_view);
    const QString ships = m_stats.inClass == 1 ? QStringLiteral("1 ship")
                                               : QStringLiteral("%1 ships").arg(m_stats.inClass);
    m_chart->setTitle(ships + QStringLiteral(" of ") + m_stats.selection.describe() +
                      QStringLiteral(" in the game<br><small>each column runs from "
                                     "the class minimum (0) to its maximum (1)</small>"));
    m_boxes->clear();
    m_boxes->setName(m_stats.selection.describe());
    QList<QPointF> dots;
    for (int i = 0; i < kClassStats; ++i) {
        const ClassStat s = ClassStat(i);
        const StatSummary& st = m_stats.stat(s);
        auto* set = new QBoxSet(ClassStatLabel(s));
        if (st.count > 0) {
            set->setValue(QBoxSet::LowerExtreme, scaled(s, st.min));
            set->setValue(QBoxSet::LowerQuartile, scaled(s, st.q1));
            set->setValue(QBoxSet::Median, scaled(s, st.median));
            set->setValue(QBoxSet::UpperQuartile, scaled(s, st.q3));
            set->setValue(QBoxSet::UpperExtreme, scaled(s, st.max));
        }
        m_boxes->append(set);
        for (int r = 0; r < st.count; ++r)
            dots.append({dotX(i, r, st.count), scaled(s, st.ships[r].value)});
    }
    m_dots->replace(dots);
    redrawShip();
}

void ClassChart::redrawShip()
{
    QList<QPointF> marks;
    QStringList labels;
    double lo = -0.05, hi = 1.05;
    for (int i = 0; i < kClassStats; ++i) {
        const ClassStat s = ClassStat(i);
        const StatSummary& st = m_stats.stat(s);
        QString label = ClassStatLabel(s);
        if (st.shipPlaced && st.count > 0) {
            // Far outliers are drawn at the edge; the hover gives the value.
            const double y = std::clamp(scaled(s, st.shipValue), -1.0, 2.0);
            marks.append({double(i), y});
            lo = std::min(lo, y - 0.05);
            hi = std::max(hi, y + 0.05);
            label += QStringLiteral("<br>%1%").arg(std::lround(st.percentile));
        } else {
            label += QStringLiteral("<br>-");
        }
        labels << label;
    }
    m_ship->replace(marks);
    if (m_axisX->categories() != labels) {
        m_axisX->clear();
        m_axisX->append(labels);
    }
    m_axisY->setRange(lo, hi);
}

QString ClassChart::dotText(const QPointF& point) const
{
    const int column = int(std::lround(point.x()));
    if (column < 0 || column >= kClassStats)
        return QString();
    const ClassStat s = ClassStat(column);
    const StatSummary& st = m_stats.stat(s);
    // The dot nearest to the point within its column.
    int best = -1;
    double bestDistance = 0;
    for (int r = 0; r < st.count; ++r) {
        const double dx = dotX(column, r, st.count) - point.x();
        const double dy = scaled(s, st.ships[r].value) - point.y();
        const double d = dx * dx + dy * dy;
        if (best < 0 || d < bestDistance)
            best = r, bestDistance = d;
    }
    if (best < 0)
        return QString();
    const ClassShipValue& v = st.ships[best];
    return QStringLiteral("%1 (table entry %2)\n%3: %4")
        .arg(v.id)
        .arg(v.index)
        .arg(ClassStatLabel(s), valueText(s, v.value));
}

QString ClassChart::shipText(ClassStat s) const
{
    const StatSummary& st = m_stats.stat(s);
    if (!st.shipPlaced)
        return QString();
    return QStringLiteral("This ship\n%1: %2\npercentile %3 (class %4 to %5)")
        .arg(ClassStatLabel(s), valueText(s, st.shipValue), QString::number(st.percentile, 'f', 1),
             valueText(s, st.min), valueText(s, st.max));
}

void ClassChart::placeBeside(QWidget* existing, QWidget* chart)
{
    auto* outer = qobject_cast<QBoxLayout*>(existing->parentWidget()->layout());
    if (!outer)
        return;
    const int at = outer->indexOf(existing);
    outer->removeWidget(existing);
    auto* row = new QHBoxLayout;
    row->addWidget(existing, 3);
    row->addWidget(chart, 2);
    outer->insertLayout(at, row, 1);
}

void ClassChart::placeBeside(QLayout* existing, QWidget* chart)
{
    auto* outer = qobject_cast<QBoxLayout*>(existing->parentWidget()->layout());
    if (!outer)
        return;
    const int at = outer->indexOf(existing);
    outer->removeItem(existing);
    existing->setParent(nullptr);
    auto* row = new QHBoxLayout;
    row->addLayout(existing, 1);
    row->addWidget(chart, 1);
    outer->insertLayout(at, row, 1);
}
