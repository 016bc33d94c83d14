// The authoring engine without a window: command line, edit-mode paths, the small
// editor rules, imports from the sample game and the unsaved-changes test.
#include "archivefile.h"
#include "commandline.h"
#include "editorrules.h"
#include "hwtest.h"
#include "imports.h"
#include "samplegame.h"
#include "shipdraft.h"
#include "shiprecord.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// A package as an opened one is held, with one entry of every kind.
ShipPackage samplePackage()
{
    ShipPackage p;
    p.Name = "Merganser";
    p.Author = "Orrin Vale";
    p.Version = "1.0";
    p.ID = "SS_SH_MERG";
    p.Data = QString::fromLatin1(kDefaultShipLine);
    p.Web = "example.org";
    p.Shipyards[2] = true;
    p.Comment = "two<newline>lines";
    p.ScreenShot = "merg.png";
    p.SceneFile = PackageFile{0, 0, "objects/ships/merg.bod", {}, false};
    p.CockpitFile = PackageFile{0, 0, "objects/cut/merg_cp.bod", {}, false};
    p.Models = {{0, 0, "objects/ships/a.bod", {}, false}, {0, 0, "objects/ships/b.bob", {}, false}};
    p.Files = {{0, 0, "tex/t.jpg", {}, false}};
    p.Scripts = {{0, 0, "setup.merg.xml", {}, false}};
    p.Texts = {{44, "Merganser", "A fighter"}};
    p.Dummies = {{"SDTYPE_GUN", "ships\\merg;1;0;0;0;"}};
    p.Components = {{"c", "g", "1;2;"}};
    p.Cockpits = {"0;0;SS_COCKPIT_MERG;"};
    return p;
}

} // namespace

class TestHullwrightCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_game = m_dir.filePath("game");
        m_work = m_dir.filePath("program/temp");
        QString error;
        QVERIFY2(SampleGame::MakeSampleGame(m_game, &error), qPrintable(error));
    }
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("window");
        QTest::newRow("extract here")
            << QStringList{"-extract", "C:/My", "Ships/a.xsp", "-dir", "HERE"}
            << QStringList{"-extract C:/My Ships/a.xsp", "-dir HERE"} << QString()
            << QString("C:/My Ships") << false;
        QTest::newRow("quotes, upper-case switch")
            << QStringList{"-X", "\"/p/a", "b.xsp\"", "-D", "/out"}
            << QStringList{"-X /p/a b.xsp", "-D /out"} << QString() << QString("/out") << false;
        QTest::newRow("last file wins") << QStringList{"one.xsp", "-unknown", "two", "words.xsp"}
                                        << QStringList{"one.xsp", "-unknown two words.xsp"}
                                        << QString("one.xsp") << QString() << true;
        QTest::newRow("extract and open")
            << QStringList{"a.xsp", "-x", "b.xsp"} << QStringList{"a.xsp", "-x b.xsp"}
            << QString("a.xsp") << QString() << true;
        QTest::newRow("empty extract")
            << QStringList{"-extract"} << QStringList{"-extract"} << QString() << QString() << true;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, entries);
        QCOMPARE(RegroupArguments(arguments), entries);
        const StartRequest request = ProcessEntries(entries);
        QTEST(request.openFile, "open");
        QTEST(request.extractionTarget(), "target");
        QTEST(request.showWindow(), "window");
    }
    void editModePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("author");
        const char* rows[][5] = {
            {"plain", "/games/vega/Merganser~Orrin Vale", "/games/vega", "Merganser", "Orrin Vale"},
            {"escaped slashes", "C:\\Vega\\A<fslash>B~X<bslash>Y~Z", "C:/Vega", "A/B", "X\\Y~Z"},
            {"no author", "/g/Ship", "/g", "Ship", ""},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]) << QString(r[3]) << QString(r[4]);
    }
    void editModePath()
    {
        QFETCH(QString, path);
        const EditModeShip ship = DecodeEditModePath(path);
        QTEST(ship.gameDir, "dir");
        QTEST(ship.name, "name");
        QTEST(ship.author, "author");
    }
    void fileSizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "    0 bytes";
        QTest::newRow("999") << qint64(999) << "    999 bytes";
        QTest::newRow("1000") << qint64(1000) << "    0.98 KB";
        QTest::newRow("1023") << qint64(1023) << "    1.00 KB";
        QTest::newRow("1 MB") << qint64(1024 * 1024) << "    1.00 MB";
        QTest::newRow("2000 GB") << qint64(2000) * 1024 * 1024 * 1024 << "    2000.00 GB";
    }
    void fileSizeText()
    {
        QFETCH(qint64, bytes);
        QTEST(FileSizeText(bytes, {"bytes", "KB", "MB", "GB"}), "text");
    }
    void proposedTargetFolder_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::newRow("ship folder") << "/mods/a/objects/ships/x/hull.bod" << "objects/ships/x";
        QTest::newRow("texture") << "/mods/a/Textures/glass.dds" << "textures";
        QTest::newRow("innermost") << "/objects/old/textures/sub/glass.dds" << "textures/sub";
        QTest::newRow("backslashes") << "C:\\mods\\OBJECTS\\cut\\hull.bob" << "objects/cut";
        QTest::newRow("elsewhere") << "/home/me/hull.bod" << "objects/";
        QTest::newRow("none") << "" << "objects/";
    }
    void proposedTargetFolder()
    {
        QFETCH(QString, file);
        QTEST(ProposedTargetFolder(file.isEmpty() ? QStringList() : QStringList{file}), "folder");
    }
    void numberedNames()
    {
        const QString path = m_dir.filePath("classes");
        QVERIFY(writeFile(path, "// comment: 1\n1:Scout\r\n0:None\nx:Bad\n\n7:Heavy: Fighter\n"));
        QStringList names;
        for (const NumberedName& n : ReadNumberedNames(path))
            names << QString::number(n.number) + '=' + n.name;
        QCOMPARE(names, QStringList({"1=Scout", "7=Heavy: Fighter"}));
        QVERIFY(ReadNumberedNames(m_dir.filePath("missing")).isEmpty());
    }
    void textImport()
    {
        const SampleGame::Ship ship = SampleGame::Ships().last(); // only in 02.cat's page
        const QList<PackageText> fromCat =
            ImportShipTexts(m_game + "/02.cat", ship.nameText, m_work);
        QCOMPARE(fromCat.size(), 1);
        QCOMPARE(fromCat.at(0).Language, 44);
        QCOMPARE(fromCat.at(0).Name, ship.name);
        QCOMPARE(fromCat.at(0).Description, ship.description);
        QVERIFY(ImportShipTexts(m_game + "/01.cat", ship.nameText, m_work).isEmpty());

        // The same page packed and plain, named as the game names its pages.
        const QString pck = m_dir.filePath("490001.pck");
        QVERIFY(ExtractArchiveFile(m_game + "/02.cat::t\\440001.pck", pck, false, true));
        const QString xml = m_dir.filePath("330001.xml");
        QVERIFY(writeFile(xml, SampleGame::TextPage()));
        QCOMPARE(ImportShipTexts(pck, ship.nameText, m_work).value(0).Language, 49);
        QCOMPARE(ImportShipTexts(xml, ship.nameText, m_work).value(0).Name, ship.name);

        // Not XML, a corrupt catalogue, a folder: nothing, with a log line, no crash.
        const QString bad = m_dir.filePath("440001.xml");
        QVERIFY(writeFile(bad, "\x01\x02 not <xml"));
        const QString badCat = m_dir.filePath("bad.cat");
        QVERIFY(writeFile(badCat, QByteArray(300, '\xee')));
        QStringList log;
        for (const QString& path : {bad, badCat, m_dir.path()})
            QVERIFY(ImportShipTexts(path, ship.nameText, m_work, [&log](const QString& l) {
                        log << l;
                    }).isEmpty());
        QVERIFY(!log.isEmpty());
        QVERIFY(QDir(m_work).entryList(QDir::Files).isEmpty());
    }
    void tableImport_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("rows");
        int dummies = 0;
        const DummyTable dummyTable = DummyTable::read(SampleGame::DummyTable(true));
        for (const TableGroup& g : dummyTable.groups())
            dummies += int(g.lines.size());
        int components = 0;
        const ComponentTable componentTable = ComponentTable::read(SampleGame::ComponentTable());
        for (const ComponentGroup& c : componentTable.components())
            for (const TableGroup& g : c.groups)
                components += int(g.lines.size());
        QVERIFY(dummies > 0 && components > 0);
        const int d = int(GroupedTable::Dummies);
        const int c = int(GroupedTable::Components);
        QTest::newRow("dummies from catalogue") << "game/02.cat" << d << true << dummies;
        QTest::newRow("components from catalogue") << "game/01.cat" << c << true << components;
        QTest::newRow("catalogue without the table") << "game/02.cat" << c << false << 0;
        QTest::newRow("packed") << "Dummies.pck" << d << true << dummies;
        QTest::newRow("plain") << "Components.txt" << c << true << components;
        QTest::newRow("not a table") << "game/vega.exe" << d << true << 0;
        QTest::newRow("corrupt catalogue") << "bad.cat" << d << false << 0;
        QTest::newRow("not packed") << "Components.txt.pck" << c << false << 0;
        QTest::newRow("folder") << "game" << d << false << 0;
    }
    void tableImport()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        QVERIFY(ExtractArchiveFile(m_game + "/02.cat::types\\Dummies.pck",
                                   m_dir.filePath("Dummies.pck"), false, true));
        QVERIFY(writeFile(m_dir.filePath("Components.txt"), SampleGame::ComponentTable()));
        QVERIFY(writeFile(m_dir.filePath("Components.txt.pck"), SampleGame::ComponentTable()));
        QVERIFY(writeFile(m_dir.filePath("bad.cat"), QByteArray(300, '\xee')));

        const TableImport t = ImportGroupedTable(m_dir.filePath(file), GroupedTable(kind), m_work);
        QTEST(t.ok, "ok");
        QTEST(int(t.rows.size()), "rows");
        QCOMPARE(t.error.isEmpty(), t.ok);
        for (const ImportRow& row : t.rows)
            QVERIFY(row.data.endsWith(QLatin1Char(';')));
        if (kind == int(GroupedTable::Components) && !t.rows.isEmpty()) {
            const PackageComponent first = ComponentFromRow(t.rows.first());
            QCOMPARE(first.Part2, "SCTYPE_HARDPOINT");
        }
        QVERIFY(QDir(m_work).entryList(QDir::Files).isEmpty());
    }
    void pickerTable()
    {
        const PickerLoad ships = LoadPickerTable(m_game + "/02.cat", PickerTable::Ships, m_work);
        QVERIFY(ships.ok);
        const QList<SampleGame::Ship> expected = SampleGame::Ships();
        QCOMPARE(ships.entries.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(ships.entries.at(i).index, int(i));
            QCOMPARE(ships.entries.at(i).identifier, expected.at(i).id);
            QCOMPARE(ships.entries.at(i).name, expected.at(i).name);
        }
        const PickerLoad cockpits =
            LoadPickerTable(m_game + "/01.cat", PickerTable::Cockpits, m_work);
        QCOMPARE(cockpits.entries.size(), SampleGame::CockpitCount);
        QCOMPARE(cockpits.entries.first().identifier, "SS_COCKPIT_DEFAULT");
        QVERIFY(!LoadPickerTable(m_game + "/02.cat", PickerTable::Cockpits, m_work).ok);
        QVERIFY(QDir(m_work).entryList(QDir::Files).isEmpty());
    }
    void draftFolders()
    {
        // One folder per name, whichever slashes it was given with.
        QList<DraftFolder> tree;
        QCOMPARE(AddDraftFiles(tree, "objects\\ships", {"a", "b"}), 2);
        AddDraftFiles(tree, "cut", {"c"});
        AddDraftFiles(tree, "objects/ships", {"d"});
        QCOMPARE(tree.size(), 2);
        QCOMPARE(DraftTreeFiles(tree), (QStringList{"a", "b", "d", "c"}));
    }
    void unsavedChanges_data()
    {
        using Edit = std::function<void(ShipDraft&)>;
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("change");
        auto row = [](DraftChange c, const char* name, Edit e) {
            QTest::newRow(name) << e << int(c);
        };
        row(DraftChange::NoChanges, "none", [](ShipDraft&) {});
        row(DraftChange::Record, "record before everything else", [](ShipDraft& d) {
            d.record += 'x';
            d.name.clear();
            d.texts.clear();
        });
        row(DraftChange::Header, "empty version", [](ShipDraft& d) { d.version.clear(); });
        row(DraftChange::Header, "mirror set", [](ShipDraft& d) { d.mirror1 = "m"; });
        row(DraftChange::Shipyards, "shipyard", [](ShipDraft& d) { d.shipyards[0] = true; });
        row(DraftChange::CommentOrPicture, "comment", [](ShipDraft& d) { d.comment += "\r\n!"; });
        row(DraftChange::CommentOrPicture, "picture", [](ShipDraft& d) { d.picture = "/new.png"; });
        row(DraftChange::Scenes, "cockpit scene", [](ShipDraft& d) { d.cockpitFile.clear(); });
        row(DraftChange::FileLists, "model",
            [](ShipDraft& d) { d.models[0].files[1] = "/a/b.bob"; });
        row(DraftChange::FileLists, "script added", [](ShipDraft& d) { d.scripts << "/s.xml"; });
        row(DraftChange::Cockpits, "cockpit removed", [](ShipDraft& d) {
            d.cockpits.clear();
            d.dummies.clear();
        });
        row(DraftChange::DummiesOrTexts, "dummy data",
            [](ShipDraft& d) { d.dummies[0].Data = "x;"; });
        row(DraftChange::DummiesOrTexts, "text name",
            [](ShipDraft& d) { d.texts[0].Name = "Other"; });
        row(DraftChange::NoChanges, "components", [](ShipDraft& d) { d.components.clear(); });
    }
    void unsavedChanges()
    {
        using Edit = std::function<void(ShipDraft&)>;
        QFETCH(Edit, edit);
        const ShipPackage package = samplePackage();
        ShipDraft draft = DraftFromPackage(package);
        QCOMPARE(draft.sceneName, "ships/merg");
        QCOMPARE(draft.cockpitName, "merg_cp");
        QCOMPARE(draft.comment, "two\nlines");
        edit(draft);
        QTEST(int(FirstUnsavedChange(draft, &package)), "change");
        QCOMPARE(FirstUnsavedChange(draft, nullptr), DraftChange::NoPackage);
    }

private:
    QTemporaryDir m_dir;
    QString m_game;
    QString m_work;
};

QTEST_GUILESS_MAIN(TestHullwrightCore)
#include "tst_hwcore.moc"
