// Type tables, the ship record and the equipment tables: reading messy game
// text, the record-length rule, the installer's merge rules and the one-ship
// tables of a package unpack.

#include "arc.h"
#include "archivefile.h"
#include "equipment.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A record with T turret entries and one gun group per element of guns, each
// field its own position number so that misplaced reads show.
QString makeRecord(int turrets, const QList<int>& guns, const QString& id)
{
    QStringList f;
    for (int i = 0; i < 53; ++i)
        f << QString::number(i);
    f << QString::number(turrets);
    for (int k = 0; k < turrets; ++k)
        f << QString::number(k + 1) << QString::number(k) << QStringLiteral("0")
          << QStringLiteral("0");
    f << QString::number(guns.size());
    for (int g = 0; g < guns.size(); ++g) {
        f << QStringLiteral("1") << QStringLiteral("0") << QString::number(g + 1)
          << QString::number(guns[g]);
        for (int i = 0; i < 6 * guns[g]; ++i)
            f << QStringLiteral("7");
    }
    for (int i = 0; i < 9; ++i)
        f << QString::number(900 + i);
    f << id;
    return f.join(QLatin1Char(';')) + QLatin1Char(';');
}

int totalLines(const QList<TableGroup>& groups)
{
    int n = 0;
    for (const TableGroup& g : groups)
        n += static_cast<int>(g.lines.size());
    return n;
}

QStringList closedLines(const QStringList& lines)
{
    QStringList out;
    for (const QString& l : lines)
        out << TerminatedLine(l);
    return out;
}

} // namespace

class TstTypeTables : public QObject
{
    Q_OBJECT

private slots:
    void recordLength_data();
    void recordLength();
    void sampleRecordsReEmitUnchanged();
    void garbageCounts_data();
    void garbageCounts();
    void fieldAccessAndEditing();
    void readerHandlesMessyText();
    void compactReaderIgnoresBlanks();
    void newCockpitRule();
    void oneShipTables();
    void turretKeysResolveToWholeFields();
    void cockpitMerge();
    void dummyMerge();
    void componentMerge();
    void malformedGroups_data();
    void malformedGroups();
    void readsSampleGameTables();
    void tooLargeTableIsRefused();
    void cliTableRead();

private:
    QTemporaryDir m_game;
    bool m_gameMade = false;
    void ensureGame();
};

void TstTypeTables::ensureGame()
{
    if (m_gameMade)
        return;
    QVERIFY(m_game.isValid());
    QString error;
    QVERIFY2(SampleGame::MakeSampleGame(m_game.path(), &error), qPrintable(error));
    m_gameMade = true;
}

void TstTypeTables::recordLength_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("tailStart");
    QTest::addColumn<QString>("identifier");

    QTest::newRow("default new ship")
        << QString::fromLatin1(kDefaultShipLine) << 55 << QStringLiteral("HW_NEW_SHIP");
    QTest::newRow("two turrets, one group of three")
        << makeRecord(2, {3}, QStringLiteral("SS_T2")) << 85 << QStringLiteral("SS_T2");
    // 54 + 16 = 70 is G; groups of 4+12, 4+0, 4+24 fields end at 118.
    QTest::newRow("four turrets, three groups incl. an empty one")
        << makeRecord(4, {2, 0, 4}, QStringLiteral("SS_BIG")) << 119 << QStringLiteral("SS_BIG");
    QTest::newRow("CR LF and blanks after the identifier")
        << makeRecord(1, {1}, QStringLiteral("SS_CR")) + QStringLiteral("  \r\n") << 69
        << QStringLiteral("SS_CR");
}

void TstTypeTables::recordLength()
{
    QFETCH(QString, line);
    QFETCH(int, tailStart);
    QFETCH(QString, identifier);

    const ShipRecord r(line);
    const RecordLayout l = r.layout();
    QVERIFY(l.complete);
    QCOMPARE(l.tailStart, tailStart);
    QCOMPARE(l.lastNumericField, tailStart + 8);
    QCOMPARE(l.identifierField, tailStart + 9);
    QCOMPARE(r.identifier(), identifier);
    // Re-emitting writes fields 0 .. E+8, the identifier and ";".
    const QString emitted = r.emitted();
    QCOMPARE(emitted.count(QLatin1Char(';')), tailStart + 10);
    QVERIFY(emitted.endsWith(QLatin1Char(';') + identifier + QLatin1Char(';')));
}

void TstTypeTables::sampleRecordsReEmitUnchanged()
{
    // The sample game's records vary turrets and gun groups; every one must come
    // out of the length rule exactly as it went in.
    const TypeTable t = ReadTypeTable(SampleGame::ShipTable());
    const QList<SampleGame::Ship> ships = SampleGame::Ships();
    QCOMPARE(t.entries.size(), ships.size());
    for (int i = 0; i < ships.size(); ++i) {
        const ShipRecord r(t.entries[i]);
        QVERIFY2(r.layout().complete, qPrintable(ships[i].id));
        QCOMPARE(r.identifier(), ships[i].id);
        QCOMPARE(r.emitted(), t.entries[i]);
    }
}

void TstTypeTables::garbageCounts_data()
{
    QTest::addColumn<QString>("line");

    const QString good = makeRecord(2, {3}, QStringLiteral("SS_X"));
    const auto with = [&](int field, const QString& value) {
        ShipRecord r(good);
        r.setField(field, value);
        return r.line();
    };
    QTest::newRow("negative turret count") << with(53, QStringLiteral("-3"));
    QTest::newRow("huge turret count") << with(53, QStringLiteral("2147483647"));
    QTest::newRow("turret count not a number") << with(53, QStringLiteral("two"));
    QTest::newRow("negative group count") << with(62, QStringLiteral("-1"));
    QTest::newRow("huge group count") << with(62, QStringLiteral("2000000000"));
    QTest::newRow("negative gun count") << with(66, QStringLiteral("-5"));
    QTest::newRow("huge gun count") << with(66, QStringLiteral("357913941"));
    QTest::newRow("identifier but too few fields")
        << QStringLiteral("0;0;0;0;0;0;0;0;0;106;1;5;SHORT_SHIP;");
    QTest::newRow("tail without identifier") << good.left(good.lastIndexOf(QLatin1String("SS_X")));
    QTest::newRow("empty") << QString();
    QTest::newRow("only separators") << QStringLiteral(";;;;");
}

void TstTypeTables::garbageCounts()
{
    QFETCH(QString, line);
    QElapsedTimer timer;
    timer.start();
    const ShipRecord r(line);
    const RecordLayout l = r.layout();
    QVERIFY(timer.elapsed() < 200);
    QVERIFY(!l.complete);
    QCOMPARE(l.tailStart, -1);
    // Short or broken records are kept whole.
    QCOMPARE(r.emitted(), line);
}

void TstTypeTables::fieldAccessAndEditing()
{
    ShipRecord r(QStringLiteral("ships\\a; 12 ;0.095;x;;HW_A;"));
    QCOMPARE(r.fieldCount(), 6);
    QCOMPARE(r.intField(1), 12);
    QCOMPARE(r.doubleField(2), 0.095);
    QCOMPARE(r.intField(3), 0); // not a number
    QCOMPARE(r.intField(3, -1), -1);
    QCOMPARE(r.intField(40), 0);

    r.setField(8, QStringLiteral("8"));
    QCOMPARE(r.line(), QStringLiteral("ships\\a; 12 ;0.095;x;;HW_A;;;8;"));

    // A record without identifier gets one appended, never over a number.
    ShipRecord numbers(QStringLiteral("1;2;3"));
    numbers.setIdentifier(QStringLiteral("ID"));
    QCOMPARE(numbers.line(), QStringLiteral("1;2;3;ID"));
    ShipRecord def = ShipRecord::newShip();
    def.setIdentifier(QStringLiteral("SS_MINE"));
    QCOMPARE(def.layout().identifierField, 64);
    QCOMPARE(def.line().count(QLatin1Char(';')), 65);

    def.setTurretCockpit(0, QStringLiteral("SS_COCKPIT_X"), QStringLiteral("1"));
    def.setTurretCockpit(5, QStringLiteral("4"), QStringLiteral("6"));
    def.setTurretCockpit(6, QStringLiteral("bad"), QStringLiteral("bad"));
    QCOMPARE(def.field(32), QStringLiteral("1"));
    QCOMPARE(def.turretCockpit(5), QStringLiteral("4"));
    QCOMPARE(def.turretCompanion(5), QStringLiteral("6"));
    QCOMPARE(def.field(43), QStringLiteral("0"));
    QCOMPARE(def.layout().tailStart, 55);
}

void TstTypeTables::readerHandlesMessyText()
{
    const QByteArray text = "// leading comment\r\n"
                            "\r\n"
                            "  // indented comment\r\n"
                            "48;3;\r\n"
                            "a;1;SS_A;  \r\n"
                            "// comment between entries\r\n"
                            "\r\n"
                            "   \t\r\n"
                            "b;2;SS_B;\r\r\n"
                            "c;3;SS_\xe9;"; // no final line end, Latin-1 byte
    const TypeTable t = ReadTypeTable(text);
    QCOMPARE(t.header, QStringLiteral("48;3;"));
    QCOMPARE(t.format(), 48);
    QCOMPARE(t.count(), 3);
    // Kept as they were, minus CR LF.
    QCOMPARE(t.entries,
             (QStringList{"a;1;SS_A;  ", "b;2;SS_B;", QString::fromLatin1("c;3;SS_\xe9;")}));
    QCOMPARE(TableIdentifier(t.entries[0]), QStringLiteral("SS_A"));
    QCOMPARE(TableFieldInt(t.entries[2], 1), 3);

    // The same through the QString entry, and text without any header.
    QCOMPARE(ReadTypeTable(QString::fromLatin1(text)).entries, t.entries);
    QCOMPARE(ReadTypeTable(QByteArray("// only comments\n\n")).count(), 0);

    // Writing gives LF lines, closed entries and the real count.
    QCOMPARE(FormatTypeTable({QStringLiteral("// c")}, 48,
                             {QStringLiteral("x;1"), QStringLiteral("y;\r\n2;")}),
             QByteArray("// c\n48;2;\nx;1;\ny;2;\n"));
}

void TstTypeTables::compactReaderIgnoresBlanks()
{
    const QByteArray spaced = " // comment\r\n 47 ; 2 ;\r\n\t\r\n"
                              "0; 0;\t0 ;SS_COCKPIT_A ;\r\n"
                              "   \r\n"
                              "1;2;3;SS_COCKPIT_B;";
    const QByteArray plain = "47;2;\n0;0;0;SS_COCKPIT_A;\n1;2;3;SS_COCKPIT_B;\n";
    const TypeTable a = ReadCompactTable(spaced);
    const TypeTable b = ReadCompactTable(plain);
    QCOMPARE(a.header, b.header);
    QCOMPARE(a.entries, b.entries);
    QCOMPARE(CockpitKeys(a), (QStringList{"SS_COCKPIT_A", "SS_COCKPIT_B"}));

    const TypeTable lasers = ReadCompactTable(SampleGame::LaserTable());
    QCOMPARE(lasers.count(), SampleGame::LaserCount);
    const QList<int> names = EquipmentNameTexts(lasers);
    QCOMPARE(names.size(), SampleGame::LaserCount);
    QCOMPARE(names.first(), 2000);
    QCOMPARE(names.last(), 2000 + SampleGame::LaserCount - 1);
}

void TstTypeTables::newCockpitRule()
{
    const QStringList offered{QStringLiteral("SS_COCKPIT_DEFAULT"),
                              QStringLiteral("SS_COCKPIT_TOP")};
    const QStringList package{QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;"
                                             "SS_COCKPIT_OWN;")};

    const NewCockpit made = MakeNewCockpit(QStringLiteral(" ss_cockpit_rear "), offered, package);
    QCOMPARE(made.status, NewCockpit::Created);
    QCOMPARE(made.key, QStringLiteral("SS_COCKPIT_REAR"));
    QCOMPARE(made.line,
             QStringLiteral("0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_REAR;"));
    QCOMPARE(TableIdentifier(made.line), made.key);

    QCOMPARE(MakeNewCockpit(QStringLiteral("ss_Cockpit_Top"), offered, package).status,
             NewCockpit::DuplicateName);
    QCOMPARE(MakeNewCockpit(QStringLiteral("SS_cockpit_own"), offered, package).status,
             NewCockpit::DuplicateName);
    QCOMPARE(MakeNewCockpit(QStringLiteral("   "), offered, package).status, NewCockpit::EmptyName);
    QCOMPARE(MakeNewCockpit(QStringLiteral("SS_A;B"), offered, package).status,
             NewCockpit::InvalidName);
    QCOMPARE(MakeNewCockpit(QStringLiteral("SS A"), offered, package).status,
             NewCockpit::InvalidName);
}

void TstTypeTables::oneShipTables()
{
    // Ship table, record without its closing ";".
    const QString record = QString::fromLatin1(kDefaultShipLine).chopped(1);
    QCOMPARE(OneShipTableText(QStringLiteral("Merganser"), QStringLiteral("Ada"), record),
             QByteArray("// TShips.txt created by Hullwright for Merganser by Ada\n48;1;\n") +
                 kDefaultShipLine + '\n');
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteOneShipTable(dir.path(), QStringLiteral("M"), QStringLiteral("A"), record));
    QFile written(dir.filePath(QStringLiteral("types/TShips.txt")));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(ReadTypeTable(written.readAll()).entries,
             QStringList{QString::fromLatin1(kDefaultShipLine)});
    // A name can never move the file out of types/.
    QVERIFY(WriteTableFile(dir.path(), QStringLiteral("../../x"), "y", nullptr,
                           QStringLiteral("_a/b")));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("types/______x_a_b.txt"))));

    // Cockpits: default first, so the package's first cockpit has index 1.
    const QStringList cockpits{QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;"
                                              "SS_COCKPIT_A;"),
                               QStringLiteral("2;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;"
                                              "SS_COCKPIT_B")};
    const QByteArray c =
        OneShipCockpitTableText(QStringLiteral("M"), QStringLiteral("A"), cockpits);
    QVERIFY(c.startsWith("// TCockpits.txt created by Hullwright for M by A\n// (first cockpit "
                         "entry is the default cockpit, and isn't part of the ship)\n47;3;\n"));
    const TypeTable ct = ReadCompactTable(c);
    QCOMPARE(ct.count(), ct.entries.size());
    QCOMPARE(ct.entries[0], QString::fromLatin1(kDefaultCockpitLine));
    QCOMPARE(CockpitKeys(ct), (QStringList{"SS_COCKPIT_DEFAULT", "SS_COCKPIT_A", "SS_COCKPIT_B"}));

    // Dummies: grouped by section in order of first appearance, blank after each.
    const QByteArray d =
        OneShipDummyTableText(QStringLiteral("M"), QStringLiteral("A"),
                              {{QStringLiteral("SDTYPE_GUN"), QStringLiteral("s;2;1;")},
                               {QStringLiteral("SDTYPE_DOCK"), QStringLiteral("s;1;")},
                               {QStringLiteral("SDTYPE_GUN"), QStringLiteral("s;9;")}});
    QCOMPARE(d, QByteArray("// Dummies.txt created by Hullwright for M by A\n"
                           "SDTYPE_GUN;2;\ns;2;1;\ns;9;\n\nSDTYPE_DOCK;1;\ns;1;\n\n"));

    // Components: two levels in order of first appearance, one final empty line.
    const QByteArray k = OneShipComponentTableText(
        QStringLiteral("M"), QStringLiteral("A"),
        {{QStringLiteral("scene"), QStringLiteral("SCTYPE_HARDPOINT"), QStringLiteral("11;-3;1;6")},
         {QStringLiteral("scene"), QStringLiteral("SCTYPE_ENGINE"), QStringLiteral("20;0;0;-9;")},
         {QStringLiteral("scene"), QStringLiteral("SCTYPE_HARDPOINT"),
          QStringLiteral("12;3;1;6;")}});
    QCOMPARE(k, QByteArray("// Components.txt created by Hullwright for M by A\n"
                           "scene;2;\nSCTYPE_HARDPOINT;2;\n11;-3;1;6;\n12;3;1;6;\n"
                           "SCTYPE_ENGINE;1;\n20;0;0;-9;\n\n"));
}

void TstTypeTables::turretKeysResolveToWholeFields()
{
    const CockpitTable table = CockpitTable::oneShip(
        {QStringLiteral("1;SS_COCKPIT_AB;"), QStringLiteral("2;SS_COCKPIT_A;")});
    ShipRecord r = ShipRecord::newShip();
    r.setTurretCockpit(0, QStringLiteral("SS_COCKPIT_A"), QStringLiteral("1"));
    r.setTurretCockpit(1, QStringLiteral("ss_cockpit_ab"), QStringLiteral("2"));
    r.setTurretCockpit(2, QStringLiteral("5"), QStringLiteral("3"));
    r.setTurretCockpit(3, QStringLiteral("SS_COCKPIT_MISSING"), QStringLiteral("4"));
    QCOMPARE(ResolveTurretCockpits(r, table), 2);
    QCOMPARE(r.turretCockpit(0), QStringLiteral("2"));
    QCOMPARE(r.turretCockpit(1), QStringLiteral("1"));
    QCOMPARE(r.turretCockpit(2), QStringLiteral("5"));
    QCOMPARE(r.turretCockpit(3), QStringLiteral("SS_COCKPIT_MISSING"));
    QCOMPARE(r.turretCompanion(0), QStringLiteral("1"));
    QVERIFY(r.layout().complete);
}

void TstTypeTables::cockpitMerge()
{
    CockpitTable t(ReadCompactTable(SampleGame::CockpitTable()));
    QCOMPARE(t.size(), SampleGame::CockpitCount);
    const QStringList base = t.lines();
    QVERIFY(!t.merge(QStringLiteral("9;9;ss_cockpit_top;"))); // same key, other case
    QVERIFY(t.merge(QStringLiteral("9;9;SS_COCKPIT_NEW;\r\n")));
    QVERIFY(!t.merge(QStringLiteral("9;9;SS_COCKPIT_NEW;")));
    QVERIFY(!t.merge(QStringLiteral("  ;  ")));
    QVERIFY(!t.merge(QStringLiteral("1;\n2;SS_COCKPIT_SPLIT;")));
    QCOMPARE(t.size(), SampleGame::CockpitCount + 1);
    QCOMPARE(t.lines().mid(0, base.size()), base);
    QCOMPARE(t.indexOf(QStringLiteral("ss_cockpit_new")), SampleGame::CockpitCount);

    const TypeTable back =
        ReadCompactTable(t.text({QStringLiteral("// TCockpits created by hullwright")}));
    QCOMPARE(back.count(), back.entries.size());
    QCOMPARE(back.entries.size(), t.size());
}

void TstTypeTables::dummyMerge()
{
    DummyTable t = DummyTable::read(SampleGame::DummyTable());
    QVERIFY(t.problems().isEmpty());
    const QList<TableGroup> base = t.groups();
    const int gun = t.indexOf(QStringLiteral("SDTYPE_GUN"));
    QVERIFY(gun >= 0);
    const QString existing = base[gun].lines.first();
    const QString scene = TableField(existing, 0);

    // Same field 0 in its group: not added, even with other values or blanks.
    QVERIFY(!t.merge(QStringLiteral("SDTYPE_GUN"), scene + QStringLiteral(";1;0;0;0;")));
    QVERIFY(!t.merge(QStringLiteral(" SDTYPE_GUN "),
                     QStringLiteral(" ") + scene + QStringLiteral(" ;1;")));
    // Another group may hold the same field 0.
    QVERIFY(t.merge(QStringLiteral("SDTYPE_DOORWAY"), scene + QStringLiteral(";1;0;0;0;")));
    QVERIFY(t.merge(QStringLiteral("SDTYPE_GUN"), QStringLiteral("ships\\new_scene;1;0;0;0")));
    QVERIFY(t.merge(QStringLiteral("SDTYPE_NEW"), QStringLiteral("ships\\new_scene;1;")));
    QVERIFY(!t.merge(QStringLiteral("/SDTYPE"), QStringLiteral("x;1;")));
    QVERIFY(!t.merge(QStringLiteral("A;B"), QStringLiteral("x;1;")));
    QVERIFY(!t.merge(QStringLiteral("SDTYPE_GUN"), QStringLiteral("// x;1;")));

    // Game groups first and in order, their lines first; the new group last.
    QCOMPARE(t.groups().size(), base.size() + 1);
    for (int i = 0; i < base.size(); ++i) {
        QCOMPARE(t.groups()[i].name, base[i].name);
        QCOMPARE(t.groups()[i].lines.mid(0, base[i].lines.size()), base[i].lines);
    }
    QCOMPARE(t.groups().last().name, QStringLiteral("SDTYPE_NEW"));
    QCOMPARE(t.groups()[gun].lines.last(), QStringLiteral("ships\\new_scene;1;0;0;0"));

    const QByteArray written = t.text({QStringLiteral("// Dummies.txt created by Hullwright")});
    QVERIFY(written.startsWith("// Dummies.txt created by Hullwright\nSDTYPE_ANIMATED;"));
    QVERIFY(written.contains("ships\\new_scene;1;0;0;0;\n"));
    const DummyTable back = DummyTable::read(written);
    QVERIFY(back.problems().isEmpty());
    QCOMPARE(back.groups().size(), t.groups().size());
    for (int i = 0; i < back.groups().size(); ++i) {
        QCOMPARE(back.groups()[i].name, t.groups()[i].name);
        QCOMPARE(back.groups()[i].lines, closedLines(t.groups()[i].lines));
    }
}

void TstTypeTables::componentMerge()
{
    ComponentTable t = ComponentTable::read(
        QByteArray("// c\r\nscene_a  ;2;\r\nSCTYPE_HARDPOINT ;2;\r\n11;-3;1;6;  \r\n"
                   "12;3;2;4;\r\nSCTYPE_ENGINE;1;\r\n20;-2;0;-14;\r\n\r\n"));
    QVERIFY(t.problems().isEmpty());
    QCOMPARE(t.components().size(), 1);
    QCOMPARE(t.components()[0].name, QStringLiteral("scene_a"));

    // Identical lines are not duplicated, whatever blanks or ";" end them.
    QVERIFY(!t.merge(QStringLiteral("scene_a"), QStringLiteral("SCTYPE_HARDPOINT"),
                     QStringLiteral("11;-3;1;6;   ")));
    QVERIFY(!t.merge(QStringLiteral("scene_a "), QStringLiteral("SCTYPE_HARDPOINT"),
                     QStringLiteral("12;3;2;4")));
    QVERIFY(t.merge(QStringLiteral("scene_a"), QStringLiteral("SCTYPE_HARDPOINT"),
                    QStringLiteral("13;0;3;2;  ")));
    QVERIFY(t.merge(QStringLiteral("scene_a"), QStringLiteral("SCTYPE_DOOR"),
                    QStringLiteral("11;-3;1;6;")));
    QVERIFY(t.merge(QStringLiteral("scene_b"), QStringLiteral("SCTYPE_ENGINE"),
                    QStringLiteral("20;0;0;-9;")));
    QVERIFY(!t.merge(QString(), QStringLiteral("SCTYPE_ENGINE"), QStringLiteral("20;0;0;-9;")));

    QCOMPARE(t.components().size(), 2);
    const ComponentGroup& a = t.components()[0];
    QCOMPARE(a.groups.size(), 3);
    QCOMPARE(a.groups[0].lines, (QStringList{"11;-3;1;6;", "12;3;2;4;", "13;0;3;2;"}));
    QCOMPARE(a.groups[2].name, QStringLiteral("SCTYPE_DOOR"));

    const QByteArray written =
        t.text({QStringLiteral("// Components.txt created by Hullwright")}, "\r\n");
    QVERIFY(written.startsWith("// Components.txt created by Hullwright\r\nscene_a;3;\r\n"
                               "SCTYPE_HARDPOINT;3;\r\n11;-3;1;6;\r\n"));
    QVERIFY(written.endsWith("scene_b;1;\r\nSCTYPE_ENGINE;1;\r\n20;0;0;-9;\r\n\r\n"));
    const ComponentTable back = ComponentTable::read(written);
    QVERIFY(back.problems().isEmpty());
    QCOMPARE(back.text({}, "\r\n"), t.text({}, "\r\n"));
}

void TstTypeTables::malformedGroups_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("components");
    QTest::addColumn<QStringList>("names"); // dummy groups, or components
    QTest::addColumn<int>("lines");         // every entry line of the text

    QTest::newRow("count larger than what follows")
        << QByteArray("A;1;\na;1;\nB;9;\nb;1;\nb2;1;\n") << false << QStringList{"A", "B"} << 3;
    // Entry lines with more than two fields cannot be taken for headers.
    QTest::newRow("negative count")
        << QByteArray("A;-2;\na;1;2;\nb;2;3;\nB;1;\nc;1;\n") << false << QStringList{"A", "B"} << 3;
    QTest::newRow("count not a number")
        << QByteArray("A;x;\na;1;2;\nB;1;\nb;1;\n") << false << QStringList{"A", "B"} << 2;
    QTest::newRow("count smaller than what follows")
        << QByteArray("A;1;\na;1;\na2;1;2;\nB;1;\nb;1;\n") << false << QStringList{"A", "B"} << 3;
    QTest::newRow("entry before any header")
        << QByteArray("x;1;2;\nA;1;\na;1;\n") << false << QStringList{"", "A"} << 2;
    QTest::newRow("components: too many groups declared")
        << QByteArray("C;5;\nG;1;\n1;2;3;\n") << true << QStringList{"C"} << 1;
    QTest::newRow("components: bad group count")
        << QByteArray("C;1;\nG;y;\n1;2;3;\n4;5;6;\nD;1;\nH;1;\n7;8;9;\n") << true
        << QStringList{"C", "D"} << 3;
    QTest::newRow("components: stray line at the top")
        << QByteArray("1;2;3;\nC;1;\nG;1;\n4;5;6;\n") << true << QStringList{"", "C"} << 2;
}

void TstTypeTables::malformedGroups()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, components);
    QFETCH(QStringList, names);
    QFETCH(int, lines);

    QStringList got;
    int count = 0;
    QByteArray written;
    if (components) {
        const ComponentTable t = ComponentTable::read(text);
        QVERIFY(!t.problems().isEmpty());
        for (const ComponentGroup& c : t.components()) {
            got << c.name;
            count += totalLines(c.groups);
        }
        written = t.text({});
        QCOMPARE(ComponentTable::read(written).text({}), written);
        QVERIFY(ComponentTable::read(written).problems().isEmpty());
    } else {
        const DummyTable t = DummyTable::read(text);
        QVERIFY(!t.problems().isEmpty());
        for (const TableGroup& g : t.groups())
            got << g.name;
        count = totalLines(t.groups());
        written = t.text({});
        QCOMPARE(DummyTable::read(written).text({}), written);
        QVERIFY(DummyTable::read(written).problems().isEmpty());
    }
    QCOMPARE(got, names);
    QCOMPARE(count, lines); // nothing swallowed
}

void TstTypeTables::readsSampleGameTables()
{
    ensureGame();
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString game = m_game.path();

    // The newest copy (02.cat) of the ship table.
    TypeTable ships;
    QVERIFY(LoadTypeTable(game, QStringLiteral("TShips"), temp.path(), &ships));
    QCOMPARE(ships.count(), SampleGame::ShipCount);
    QCOMPARE(TableIdentifier(ships.entries.last()), SampleGame::Ships().last().id);

    TypeTable cockpits;
    QVERIFY(LoadCompactTable(game, QStringLiteral("TCockpits"), temp.path(), &cockpits));
    QCOMPARE(CockpitKeys(cockpits).first(), QStringLiteral("SS_COCKPIT_DEFAULT"));
    QCOMPARE(cockpits.entries.size(), SampleGame::CockpitCount);

    TypeTable missiles;
    QVERIFY(LoadCompactTable(game, QStringLiteral("TMissiles"), temp.path(), &missiles));
    QCOMPARE(EquipmentNameTexts(missiles).size(), SampleGame::MissileCount);

    QByteArray text;
    QVERIFY(ExtractTableText(game, QStringLiteral("Dummies"), temp.path(), &text));
    QCOMPARE(text, SampleGame::DummyTable(true));
    QVERIFY(ExtractTableText(game, QStringLiteral("Components"), temp.path(), &text));
    QCOMPARE(text, SampleGame::ComponentTable());

    // Missing table: empty, and false.
    TypeTable none;
    none.entries << QStringLiteral("stale");
    QVERIFY(!LoadTypeTable(game, QStringLiteral("TNothing"), temp.path(), &none));
    QVERIFY(none.entries.isEmpty());
    // No temporary file is left behind.
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TstTypeTables::tooLargeTableIsRefused()
{
    QTemporaryDir game, temp;
    QVERIFY(game.isValid() && temp.isValid());
    const QString cat = game.filePath(QStringLiteral("01.cat"));
    QVERIFY(EnsureCatalog(cat));
    const QByteArray text = "48;2000;\n" + QByteArray("0;1;2;3;SS_SH_X;\n").repeated(8000);
    QVERIFY(WriteArchiveFile(text.constData(), text.size(),
                             cat + QStringLiteral("::types\\TShips.txt"), true, false));
    QByteArray read;
    QVERIFY(ExtractTableText(game.path(), QStringLiteral("TShips"), temp.path(), &read));
    QCOMPARE(read, text);

    // Unpacked it is larger than the cap: refused with a reason, nothing read.
    const int64_t old = arc_set_memory_cap(64 * 1024);
    QString why;
    const bool found = ExtractTableText(game.path(), QStringLiteral("TShips"), temp.path(), &read,
                                        QString(), &why);
    TypeTable table;
    const bool loaded = LoadTypeTable(game.path(), QStringLiteral("TShips"), temp.path(), &table);
    arc_set_memory_cap(old);
    QVERIFY(!found && !loaded);
    QVERIFY(read.isEmpty() && table.entries.isEmpty());
    QVERIFY2(
        why.startsWith(
            QStringLiteral("types\\TShips.pck is too large to be read (%1 bytes").arg(text.size())),
        qPrintable(why));
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TstTypeTables::cliTableRead()
{
    ensureGame();
    const auto run = [&](const QStringList& args, QByteArray* out) {
        QProcess p;
        p.start(QStringLiteral(DRYDOCK_CLI_PATH), QStringList{QStringLiteral("table")} + args);
        if (!p.waitForFinished(30000))
            return -1;
        *out = p.readAllStandardOutput();
        return p.exitCode();
    };
    const QString game = m_game.path();
    QByteArray out;

    QCOMPARE(run({QStringLiteral("read"), game, QStringLiteral("TShips")}, &out), 0);
    QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.first(), QByteArray::number(SampleGame::ShipCount));
    QCOMPARE(lines[1], QByteArray("0\t") + SampleGame::Ships().first().id.toLatin1());
    QCOMPARE(lines[SampleGame::ShipCount], QByteArray::number(SampleGame::ShipCount - 1) + '\t' +
                                               SampleGame::Ships().last().id.toLatin1());

    QCOMPARE(run({QStringLiteral("read"), game, QStringLiteral("tcockpits")}, &out), 0);
    QVERIFY(out.startsWith("10\n0\tSS_COCKPIT_DEFAULT\n1\tSS_COCKPIT_FRONT_LIGHT\n"));

    QCOMPARE(run({QStringLiteral("read"), game, QStringLiteral("Dummies")}, &out), 0);
    const DummyTable dummies = DummyTable::read(SampleGame::DummyTable(true));
    QByteArray expected = QByteArray::number(dummies.groups().size()) + '\n';
    for (const TableGroup& g : dummies.groups())
        expected += g.name.toLatin1() + '\t' + QByteArray::number(g.lines.size()) + '\n';
    QCOMPARE(out, expected);

    QCOMPARE(run({QStringLiteral("read"), game, QStringLiteral("types\\Components.pck")}, &out), 0);
    QVERIFY(out.contains("\nships\\capital\\shrike_scene\t2\n\tSCTYPE_HARDPOINT\t2\n"));

    QCOMPARE(run({QStringLiteral("read"), game, QStringLiteral("TNothing")}, &out), 1);
    QVERIFY(out.isEmpty());
    QCOMPARE(run({QStringLiteral("read"), game}, &out), 2);
}

QTEST_GUILESS_MAIN(TstTypeTables)
#include "tst_typetables.moc"
