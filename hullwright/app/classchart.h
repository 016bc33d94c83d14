// The class chart of "Balance Ship" and "Customize Ship": one box plot per
// statistic over the game's ships of the ship's class, each statistic scaled so
// that the class minimum is 0 and its maximum 1, with the ship marked. The
// dialogs hand it the ship record whenever a control changes; hovering a dot
// names the game ship. Without a game table, or with no ship of the class, the
// chart gives way to a note saying why, and the dialog works as before.
#pragma once

#include "classstats.h"

#include <QWidget>

#include <functional>
#include <optional>

class QBarCategoryAxis;
class QBoxPlotSeries;
class QChart;
class QChartView;
class QLabel;
class QLayout;
class QScatterSeries;
class QStackedWidget;
class QValueAxis;
class UiTexts;

class ClassChart : public QWidget
{
    Q_OBJECT
public:
    // `texts` (the creator texts) name everything in the user's language; without
    // them the chart speaks English.
    explicit ClassChart(QWidget* parent = nullptr, const UiTexts* texts = nullptr);

    // The game's ship table (entry lines), or why there is none.
    void setTable(const QStringList& entries);
    void setNoTable(const QString& why);
    // Reads the layered ship table of the game (LoadGameShipTable).
    void loadGame(const QString& gameDir, const QString& tempFolder);
    // A fixed class (a balance profile's); without one the class follows the
    // record's field 52.
    void setSelection(const std::optional<ClassSelection>& selection);
    void setRecord(const QString& record);
    // Calls setRecord(record()) after every edit of a spin box, dial, slider,
    // line edit or combo box of the dialog (connected after the dialog's own
    // handlers, so the record is already updated).
    void followEdits(QWidget* dialog, std::function<QString()> record);

    const ClassStatistics& statistics() const { return m_stats; }
    // Why there is no chart; empty while the chart shows.
    QString note() const { return m_note; }
    QChart* chart() const { return m_chart; }
    QBoxPlotSeries* boxes() const { return m_boxes; }
    QScatterSeries* shipMarks() const { return m_ship; }
    QScatterSeries* classDots() const { return m_dots; }
    // The text a hover over a dot of the class series shows: the game ship's
    // identifier, table index and value.
    QString dotText(const QPointF& point) const;
    QString shipText(ClassStat s) const;

    // Puts the chart to the right of a widget or a layout of a dialog's box layout.
    static void placeBeside(QWidget* existing, QWidget* chart);
    static void placeBeside(QLayout* existing, QWidget* chart);

private:
    void recompute();
    void redraw();
    void redrawShip();
    void showNote(const QString& text);
    QString text(int n, const char* english) const;
    QString statLabel(ClassStat s) const;
    QString describe(const ClassSelection& selection) const;
    double scaled(ClassStat s, double v) const;

    const UiTexts* m_texts = nullptr;
    QStringList m_entries;
    bool m_haveTable = false;
    std::optional<ClassSelection> m_fixed;
    std::optional<ClassSelection> m_current;
    QString m_record;
    ClassStatistics m_stats;
    QString m_note;

    QStackedWidget* m_stack = nullptr;
    QLabel* m_noteLabel = nullptr;
    QChartView* m_view = nullptr;
    QChart* m_chart = nullptr;
    QBoxPlotSeries* m_boxes = nullptr;
    QScatterSeries* m_dots = nullptr;
    QScatterSeries* m_ship = nullptr;
    QBarCategoryAxis* m_axisX = nullptr;
    QValueAxis* m_axisY = nullptr;
};
