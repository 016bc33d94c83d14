// The ship-record editor: display conversions, turret and gun edits against the
// record layout, untouched records coming back byte for byte, and records the
// controls cannot show.
#include "equipment.h"
#include "hwtest.h"
#include "recordeditor.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QString withFields(QList<QPair<int, QString>> fields)
{
    ShipRecord r = ShipRecord::newShip();
    for (const auto& [n, v] : fields)
        r.setField(n, v);
    return r.line();
}

RecordContext context()
{
    RecordContext c;
    c.classes = {{1, "Scout"}, {7, "Frigate"}};
    c.variants = {{1, "Standard"}};
    c.cockpitLines = {QString::fromLatin1(kDefaultCockpitLine),
                      "1;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_GUN;"};
    return c;
}

// A record with random turret and gun blocks and odd but legal tail values.
QString randomRecord(QRandomGenerator& rng)
{
    QStringList f = QString::fromLatin1(kDefaultShipLine).split(QLatin1Char(';'));
    f = f.mid(0, kTurretCountField);
    const int t = rng.bounded(12);
    f << QString::number(t);
    for (int i = 0; i < 4 * t; ++i)
        f << QString::number(rng.bounded(-5, 40));
    const int g = rng.bounded(6);
    f << QString::number(g);
    for (int i = 0; i < g; ++i) {
        const int n = rng.bounded(8);
        f << QString::number(rng.bounded(50)) << "0.1250000001" << QString::number(i)
          << QString::number(n);
        for (int k = 0; k < 6 * n; ++k)
            f << QString::number(rng.bounded(-100, 100));
    }
    for (int i = 0; i < kTailFields; ++i)
        f << QString::number(rng.bounded(-100000, 100000));
    f << "SS_SH_RANDOM" << QString();
    f[2] = "0.0277777777";
    f[29] = "99999";
    return f.join(QLatin1Char(';'));
}

} // namespace

class TestRecordEditor : public QObject
{
    Q_OBJECT
private slots:
    void conversions_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("set");  // "name=value", or empty
        QTest::addColumn<QString>("name"); // field shown afterwards
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("field"); // record field checked afterwards, -1 for none
        QTest::addColumn<QString>("stored");
        for (const QStringList& r : tableRows("record-conversions.tsv")) {
            QList<QPair<int, QString>> fields;
            for (const QString& f : r[1].split(' ', Qt::SkipEmptyParts))
                fields.append({f.section('=', 0, 0).toInt(), f.section('=', 1)});
            QTest::newRow(qPrintable(r[0]))
                << withFields(fields) << r[2] << r[3] << r[4] << r[5].toInt() << r[6];
        }
    }
    void conversions()
    {
        QFETCH(QString, record);
        QFETCH(QString, set);
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(int, field);
        QFETCH(QString, stored);
        RecordEditor e(record, context());
        if (!set.isEmpty()) {
            QString error;
            QVERIFY2(e.setValue(set.section('=', 0, 0), set.section('=', 1), &error),
                     qPrintable(error));
        }
        QCOMPARE(e.value(name), shown);
        if (field >= 0)
            QCOMPARE(ShipRecord(e.record()).field(field), stored);
    }
    void typeMasks()
    {
        QCOMPARE(RecordEditor::maskWithChecked(0, {true, false, true, true}), 13);
        // Bits past the listed types survive an edit of the list.
        QCOMPARE(RecordEditor::maskWithChecked(0x10003, {false, true}), 0x10002);
    }
    void turretsAgainstLayout()
    {
        RecordEditor e(QString::fromLatin1(kDefaultShipLine), context());
        QVERIFY(e.addTurret("11:0"));
        QVERIFY(e.addTurret("12:3"));
        QVERIFY(e.addTurret("13:0"));
        QVERIFY(e.setValue("turret.2.cockpit", "1"));
        QVERIFY(e.setStandardCockpit(2, 1));
        QVERIFY(!e.setStandardCockpit(1, 2)); // no such cockpit
        QVERIFY(e.removeTurret(0));
        const ShipRecord out(e.record());
        const RecordLayout l = out.layout();
        QVERIFY(l.complete);
        QCOMPARE(l.turretEntries, 3);
        QCOMPARE(out.identifier(), "HW_NEW_SHIP");
        // The main cockpit entry, then the turrets renumbered after the removal.
        QCOMPARE(QStringList(out.line().split(';').mid(53, 13)).join(';'),
                 "3;1;0;0;0;2;1;12;3;3;2;13;0");
        // The cockpit pairs moved up with their turrets.
        QCOMPARE(QStringList({out.field(31), out.field(33), out.field(35)}),
                 QStringList({"1", "1", "0"}));
    }
    void gunGroupsAgainstLayout()
    {
        RecordEditor e(QString::fromLatin1(kDefaultShipLine));
        QVERIFY(e.addGunGroup());
        QVERIFY(e.addGunGroup());
        QVERIFY(e.setGun(0, 0, {"2", "9", "8", "7", "6"}));
        QVERIFY(e.setGun(0, 1, {"1", "0", "0", "0", "0"}));
        QVERIFY(e.setGun(1, 0, {"3", "0", "0", "0", "0"}));
        QVERIFY(!e.setGun(1, 5, {"1", "0", "0", "0", "0"})); // not the next gun
        QVERIFY(!e.setGun(1, 1, {"x", "0", "0", "0", "0"}));
        const ShipRecord out(e.record());
        const RecordLayout l = out.layout();
        QVERIFY(l.complete);
        QCOMPARE(l.gunGroups, 2);
        // Slots count from 1 across groups; field 19 is the last gun's first slot.
        // Gun groups come after the main cockpit entry, so T is 1.
        QCOMPARE(out.line().split(';').mid(53, 32).join(';'),
                 "1;1;0;0;0;2;1;0;1;2;1;2;9;8;7;6;3;1;0;0;0;0;4;0;2;1;4;3;0;0;0;0");
        QCOMPARE(out.field(19), "4");
        QCOMPARE(out.field(l.tailStart + 2), "25");
        RecordEditor automatic(e.record());
        QVERIFY(!automatic.setAutomaticGuns(0));
        QVERIFY(automatic.setAutomaticGuns(3));
        const ShipRecord a(automatic.record());
        QCOMPARE(a.layout().gunGroups, 1);
        QCOMPARE(a.field(19), "3");
        QVERIFY(e.removeGun(0, 0));
        QVERIFY(e.removeGunGroup(1));
        QCOMPARE(ShipRecord(e.record()).field(19), "1");
    }
    void turretLimitsAndMainCockpit()
    {
        const QString fresh = QString::fromLatin1(kDefaultShipLine);
        // The main cockpit of a ship without turrets can be placed.
        RecordEditor main(fresh, context());
        QVERIFY(main.setValue("turret.0", "5:2"));
        QCOMPARE(ShipRecord(main.record()).line().split(';').mid(53, 6).join(';'), "1;1;0;5;2;0");
        // Six turrets fill the six cockpit pairs; a seventh is refused with a reason.
        RecordEditor e(fresh, context());
        for (int i = 0; i < kTurretPairs; ++i)
            QVERIFY(e.addTurret(QStringLiteral("%1:0").arg(i)));
        QString error;
        QVERIFY(!e.addTurret("9:0", &error));
        QVERIFY2(error.contains("at most 6"), qPrintable(error));
        QCOMPARE(ShipRecord(e.record()).intField(kTurretCountField), 7);
        // Field 52 follows the class shown when the dialog saves.
        RecordEditor cls(withFields({{kClassField, "1"}, {kClassNumberField, "0"}}), context());
        QCOMPARE(ShipRecord(cls.record()).field(kClassNumberField), "0");
        cls.applyShownClass();
        QCOMPARE(ShipRecord(cls.record()).field(kClassNumberField), "7");
    }
    void cockpits()
    {
        RecordEditor e(QString::fromLatin1(kDefaultShipLine), context());
        QVERIFY(e.addTurret("1:1"));
        QString key;
        QVERIFY(!e.newCockpit("ss_cockpit_gun", &key)); // an existing key in another case
        QVERIFY(e.newCockpit("ss_cockpit_mine", &key));
        QCOMPARE(key, "SS_COCKPIT_MINE");
        QVERIFY(e.copyCockpit("SS_COCKPIT_GUN", "SS_COCKPIT_COPY", &key));
        QCOMPARE(e.packageCockpits().last(),
                 "1;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_COPY;");
        QVERIFY(e.setCustomCockpit(0, "ss_cockpit_copy"));
        QCOMPARE(ShipRecord(e.record()).field(31), "SS_COCKPIT_COPY");
        QVERIFY(!e.setCustomCockpit(0, "SS_COCKPIT_NONE"));
        // Weapons change on the package's cockpits only.
        QVERIFY(e.setCockpitWeapons("SS_COCKPIT_COPY", 6));
        QVERIFY(e.packageCockpits().last().startsWith("6;0;"));
        bool editable = true;
        QCOMPARE(e.cockpitWeapons("SS_COCKPIT_GUN", &editable), "1");
        QVERIFY(!editable);
        QVERIFY(!e.setCockpitWeapons("SS_COCKPIT_GUN", 6));
    }
    void untouchedRecordsStay()
    {
        QStringList records;
        for (bool newest : {false, true})
            records += ReadTypeTable(SampleGame::ShipTable(newest)).entries;
        QRandomGenerator rng(4711); // fixed: the same records on every run
        for (int i = 0; i < 300; ++i)
            records << randomRecord(rng);
        for (const QString& r : records) {
            RecordEditor e(r, context());
            QVERIFY2(e.problems().isEmpty(), qPrintable(r));
            QCOMPARE(e.record(), r);
            // A turret written back as it was recounts nothing the record did not say.
            if (e.turretRows() > 0 && ShipRecord(r).intField(55) == 1) {
                QVERIFY(e.setTurretPart(0, e.turretPart(0)));
                QCOMPARE(ShipRecord(e.record()).layout().tailStart,
                         ShipRecord(r).layout().tailStart);
            }
        }
    }
    void symbolicFields_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        const struct
        {
            int field;
            const char *text, *name;
        } rows[] = {{5, "SC_CLASS_M3", "class"},    {50, "VAR_RAIDER", "variation"},
                    {7, "SPEED_FAST", "min_speed"}, {2, "ROT_HIGH", "yaw"},
                    {45, "RACE_PIRATE", "race"},    {21, "0.12345678901", "recharge"}};
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.field << r.text << r.name;
    }
    void symbolicFields()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(QString, name);
        const QString line = withFields({{field, text}});
        RecordEditor e(line, context());
        QCOMPARE(e.value(name), text);
        QCOMPARE(e.record(), line);
        if (field != 21) {
            QString error;
            QVERIFY(!e.setValue(name, "1", &error));
            QVERIFY(error.contains(text));
            QCOMPARE(e.record(), line);
        }
    }
    void badCounts_data()
    {
        QTest::addColumn<QString>("record");
        QTest::newRow("empty") << "";
        QTest::newRow("absurd T") << withFields({{53, "100000"}});
        QTest::newRow("negative T") << withFields({{53, "-3"}});
        QTest::newRow("symbolic T") << withFields({{53, "TURRETS"}});
        QTest::newRow("absurd G") << withFields({{54, "2000000000"}});
        QTest::newRow("absurd N") << withFields({{54, "1"}, {58, "99999999"}});
        QTest::newRow("short") << "ships\\x;1;0.1;0.2;0.3;2;";
    }
    void badCounts()
    {
        QFETCH(QString, record);
        RecordEditor e(record, context());
        QVERIFY(!e.problems().isEmpty());
        QVERIFY(!e.variablePartReadable());
        QCOMPARE(e.turretRows(), 0);
        QVERIFY(!e.addTurret("1:1"));
        QVERIFY(!e.setValue("player_price", "5"));
        QCOMPARE(e.record(), ShipRecord(record).line());
        QVERIFY(!e.allValues().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRecordEditor)
#include "tst_recordeditor.moc"
