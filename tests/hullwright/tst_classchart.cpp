// The class chart headless: its series for one class, the note without a game
// table, and both dialogs moving the ship's mark as their controls move.
// With HULLWRIGHT_SCREENSHOTS=DIR both dialogs are also saved as pictures.
#include "classchart.h"
#include "configship.h"
#include "hwtest.h"
#include "samplegame.h"
#include "shipbalance.h"
#include "shiprecord.h"
#include "typetable.h"
#include "ui_configship.h"
#include "ui_shipbalance.h"
#include "uitexts.h"

#include <QBoxPlotSeries>
#include <QBoxSet>
#include <QScatterSeries>
#include <QTemporaryDir>
#include <QtTest>

class TestClassChart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
        QVERIFY(m_texts.load(m_bin + "/hw_languages.xml", "English"));
        m_game = m_dir.filePath("game");
        QVERIFY(SampleGame::MakeSampleGame(m_game));
        m_ships = ReadTypeTable(SampleGame::ShipTable()).entries;
        QDir().mkpath(m_dir.filePath("program"));
    }
    void seriesOfOneClass()
    {
        ClassChart chart;
        const QString ship = m_ships.value(12);
        chart.setRecord(ship);
        QVERIFY(!chart.note().isEmpty()); // no table yet
        chart.setTable(m_ships);
        QVERIFY(chart.note().isEmpty());
        const ClassStatistics& cs = chart.statistics();
        QCOMPARE(cs.selection.number, TableFieldInt(ship, 52));
        QCOMPARE(chart.boxes()->count(), kClassStats);
        QCOMPARE(chart.shipMarks()->count(), kClassStats);
        int dots = 0;
        for (int s = 0; s < kClassStats; ++s) {
            const StatSummary& st = cs.stat(ClassStat(s));
            const QBoxSet* set = chart.boxes()->boxSets().at(s);
            const double span = st.max - st.min;
            auto scaled = [&](double v) { return span > 0 ? (v - st.min) / span : 0.5; };
            QCOMPARE(set->at(QBoxSet::LowerExtreme), scaled(st.min));
            QCOMPARE(set->at(QBoxSet::LowerQuartile), scaled(st.q1));
            QCOMPARE(set->at(QBoxSet::Median), scaled(st.median));
            QCOMPARE(set->at(QBoxSet::UpperExtreme), scaled(st.max));
            QCOMPARE(chart.shipMarks()->at(s).y(), scaled(st.shipValue));
            dots += st.count;
        }
        QCOMPARE(chart.classDots()->count(), dots);
        // Hovering a dot names the game ship it stands for.
        const StatSummary& hull = cs.stat(ClassStat::Hull);
        int before = 0;
        for (int s = 0; s < int(ClassStat::Hull); ++s)
            before += cs.stat(ClassStat(s)).count;
        const QPointF top = chart.classDots()->at(before + hull.count - 1);
        QVERIFY(chart.dotText(top).startsWith(hull.ships.last().id));

        // Another class number in the record: the chart follows it.
        ShipRecord other(ship);
        other.setField(52, "99");
        chart.setRecord(other.line());
        QVERIFY(chart.note().contains("class 99"));
    }
    void balanceDialogFollowsSliders()
    {
        const QString record = m_ships.value(14);
        const ProfileFile profile =
            FittingProfiles(ReadProfiles(m_bin + "/Profiles"), record).usable.value(0);
        QVERIFY(!profile.path.isEmpty());
        ShipBalance d(m_texts, profile, record);
        QVERIFY(d.classChart()->note().contains("No game ship table"));
        d.showClassChart(m_game, m_dir.filePath("program/temp"));
        ClassChart* chart = d.classChart();
        QVERIFY2(chart->note().isEmpty(), qPrintable(chart->note()));
        QCOMPARE(chart->statistics().selection.shipClass, profile.profile.shipClass);
        const int hull = int(ClassStat::Hull);
        QSlider* slider = d.slider(BalanceSlider::Hull);
        slider->setValue(slider->minimum());
        const double before = chart->shipMarks()->at(hull).y();
        slider->setValue(slider->maximum());
        QVERIFY(chart->shipMarks()->at(hull).y() > before);
        QCOMPARE(chart->statistics().stat(ClassStat::Hull).shipValue,
                 double(profile.profile.hull.max));
        screenshot(&d, "shipbalance-chart");
    }
    void customizeDialogFollowsFields()
    {
        ConfigShip::Input in;
        in.record = m_ships.value(20);
        in.settings.gameDirs = {m_game};
        in.programDir = m_dir.filePath("program");
        in.classes = ReadNumberedNames(m_bin + "/data/classes");
        in.variants = ReadNumberedNames(m_bin + "/data/variant");
        in.texts = &m_texts;
        ConfigShip d(in);
        ClassChart* chart = d.classChart();
        QVERIFY2(chart->note().isEmpty(), qPrintable(chart->note()));
        const int speed = int(ClassStat::MaxSpeed);
        d.form()->SpinSpeedMin->setValue(1000);
        d.form()->SpinSpeed->setValue(3);
        QCOMPARE(chart->statistics().stat(ClassStat::MaxSpeed).shipValue, 2.6);
        const double slow = chart->shipMarks()->at(speed).y();
        d.form()->SpinSpeedMin->setValue(40000);
        QVERIFY(chart->shipMarks()->at(speed).y() > slow);
        d.form()->Tabs->setCurrentIndex(1);
        screenshot(&d, "configship-chart");

        // Without a game directory the chart says why and the dialog still edits.
        in.settings.gameDirs.clear();
        ConfigShip bare(in);
        QVERIFY(bare.classChart()->note().contains("No game directory"));
        bare.form()->SpinHull->setValue(1234);
        QCOMPARE(TableFieldInt(bare.record(), 46), 1234);
        screenshot(&bare, "configship-nogame");
    }

private:
    QTemporaryDir m_dir;
    QString m_bin, m_game;
    QStringList m_ships;
    UiTexts m_texts{UiTexts::Program::Creator};
};

QTEST_MAIN(TestClassChart)
#include "tst_classchart.moc"
