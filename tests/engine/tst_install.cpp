// Installing packages and regenerating the mod end to end: the queue, the install
// step with its branches and failures, the generated tables and text pages.
#include "enginefixture.h"
#include "gamesnapshot.h"

#include "arc.h"
#include "gamedir.h"
#include "lzmafile.h"
#include "registry.h"
#include "shiprecord.h"

#include <QtTest>

namespace {

const QString kAuthor = QStringLiteral("Orrin Vale");

QString filler(const char* prefix, int number)
{
    return QStringLiteral("0;").repeated(64) + QLatin1String(prefix) + QString::number(number) +
           QLatin1Char(';');
}

QString textLine(int id, const QString& text)
{
    return QStringLiteral(" <t id=\"%1\">%2</t>").arg(id).arg(text);
}

// The lines of data/engine/<name>; "@TIME@" there is the pinned clock's first reading.
QStringList dataLines(const QString& name)
{
    return EngineFixture::splitLines(
        readBytes(QFINDTESTDATA(QStringLiteral("../data/engine/") + name))
            .replace("@TIME@", QByteArray::number(EngineFixture::kStartTime)));
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installAndUpdateAfterGameOf120();
    void turretCockpitsAndRecordLength();
    void reinstallUpdateAndFreeSlot();
    void reinstallOverDisabledShip();
    void textIdsPerLanguage();
    void queueAndRefusals();
    void failedPackageTakesBackItsFiles();
    void manyPackagesInOneChange();
    void installerOwnNamesRefused_data();
    void installerOwnNamesRefused();
    void plantedLinksLeadNowhere_data();
    void plantedLinksLeadNowhere();
    void brokenRegistryRefusesChanges();
    void tooLargeGameTableFailsUpdate();
};

void TestInstall::installAndUpdateAfterGameOf120()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QByteArray gameTable = EngineFixture::gameShipTable(120);
    QVERIFY(f.addGameEntry(3, QStringLiteral("types\\TShips.txt"), gameTable));
    const QStringList packages = f.samplePackages();
    QVERIFY2(!packages.isEmpty(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine();

    QCOMPARE(engine.enqueue(packages), 2);
    const InstallResult first = engine.installNext();
    QCOMPARE(first.status, 0);
    QCOMPARE(first.name, QStringLiteral("Merganser"));
    QVERIFY(engine.modChanged());
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked.first().text, QStringLiteral("I39 Merganser|Orrin Vale|1.0"));
    QCOMPARE(f.modEntries(), dataLines("game120/merganser-entries.txt"));
    QVERIFY(QFile::exists(f.gameDir + "/scripts/setup.merganser.xml"));
    QVERIFY(QFile::exists(f.gameDir + "/Slipway/ShipPics/Merganser-OrrinVale.png"));

    QCOMPARE(engine.installNext(false).status, 0);
    QCOMPARE(f.prompter.asked.size(), 1); // messages off
    QVERIFY(engine.queue().isEmpty());
    // The registry on disk holds both, enabled, in install order.
    const ShipRegistry saved = f.savedRegistry();
    QCOMPARE(saved.Ships.size(), 2);
    QCOMPARE(saved.Ships.at(0).Name + saved.Ships.at(1).Name, QStringLiteral("MerganserGoosander"));
    QVERIFY(saved.Ships.at(0).Enabled && saved.Ships.at(1).Enabled);

    QVERIFY(engine.updateMod());
    QCOMPARE(engine.registry().Buffer, 300);
    QCOMPARE(engine.registry().UpdateTime, EngineFixture::kStartTime);
    QCOMPARE(
        f.systemRegistry->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName")),
        QStringLiteral("Hullwright"));

    // Cockpits: the game's ten, then the Merganser's own. Ships: the game's lines,
    // spacers up to slot 300, then the ships with their description ids, turret
    // cockpits as indexes and IDs as the last field. Dummies and components: the
    // ships' lines join the game's groups. Text pages: both ships in each.
    QCOMPARE(f.modLines("types\\TCockpits.pck"), dataLines("game120/TCockpits.txt"));
    const QStringList ships = f.modLines("types\\TShips.pck");
    QCOMPARE(ships.size(), 2 + 302);
    QCOMPARE(ships.mid(0, 2), QStringList({QStringLiteral("// TShips created by hullwright"),
                                           QStringLiteral("48;302;")}));
    QCOMPARE(ships.mid(2, 120), EngineFixture::splitLines(gameTable).mid(2));
    for (int i = 1; i <= 180; ++i)
        QCOMPARE(ships.at(2 + 119 + i), filler("HULLWRIGHT_SPACER_", i));
    QCOMPARE(ships.mid(2 + 300), dataLines("game120/ships.txt"));
    QCOMPARE(f.modLines("types\\Dummies.pck"), dataLines("game120/Dummies.txt"));
    QCOMPARE(f.modLines("types\\Components.pck"), dataLines("game120/Components.txt"));
    QCOMPARE(f.modLines("t\\449001.pck"), dataLines("game120/english-page.xml"));
    QCOMPARE(f.modLines("t\\499001.pck"), dataLines("game120/german-page.xml"));
    // Components and text pages end their lines with CR LF.
    for (const char* crlf : {"types\\Components.pck", "t\\449001.pck", "t\\499001.pck"}) {
        const QByteArray bytes = f.modEntry(QLatin1String(crlf));
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));
    }

    // The working folder keeps its files only.
    QVERIFY(QFile::exists(f.gameDir + "/Slipway/types/TCockpits.pck"));
    QVERIFY(!QFile::exists(f.gameDir + "/Slipway/types/TCockpits.txt"));

    // The game grows past the buffer: the installed ships move behind it.
    QVERIFY(
        f.addGameEntry(4, QStringLiteral("types\\TShips.txt"), EngineFixture::gameShipTable(320)));
    QVERIFY(engine.updateMod());
    QCOMPARE(engine.registry().Buffer, 370);
    const QStringList grown = f.modLines("types\\TShips.pck");
    QCOMPARE(grown.at(1), QStringLiteral("48;372;"));
    QCOMPARE(grown.at(2 + 320), filler("HULLWRIGHT_SPACER_", 1));
    QCOMPARE(grown.at(2 + 369), filler("HULLWRIGHT_SPACER_", 50));
    QVERIFY(grown.at(2 + 370).endsWith(QStringLiteral(";OV-MERGANSER;")));
    QVERIFY(f.modLines("t\\449001.pck").contains(textLine(11, QStringLiteral("370"))));

    // A corrupt buffer is reset and fixed again from the game's count.
    engine.registry().Buffer = 20000;
    QVERIFY(engine.updateMod());
    QCOMPARE(engine.registry().Buffer, 370);

    // With no record at all the buffer is dropped and chosen anew.
    engine.registry().Ships.clear();
    engine.fixBuffer();
    QCOMPARE(engine.registry().Buffer, 370);
}

void TestInstall::turretCockpitsAndRecordLength()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine(false);

    // A key of a game cockpit (in another letter case: keys compare without case), a
    // number, a key nobody has, the package's own key.
    ShipPackage turrets = EngineFixture::simplePackage("Turrets", "T", "1", "SS_T");
    ShipRecord record(turrets.Data);
    record.setField(31, QStringLiteral("ss_cockpit_rear_light"));
    record.setField(33, QStringLiteral("5"));
    record.setField(35, QStringLiteral("SS_COCKPIT_NOBODY"));
    record.setField(37, QStringLiteral("SS_COCKPIT_T_OWN"));
    turrets.Data = record.line();
    turrets.Cockpits = {
        QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_T_OWN;"),
        // Same key as a game cockpit, in any letter case: the game's entry keeps the key.
        QStringLiteral("9;9;9;9;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;ss_cockpit_left;")};
    // Counts that do not fit the record: the whole line stays, with the ID.
    ShipPackage broken = EngineFixture::simplePackage("Broken", "T", "1", "SS_B");
    broken.Data = QStringLiteral("a;b;c;");
    ShipPackage forged = EngineFixture::simplePackage("Forged", "T", "1", "SS_F");
    {
        ShipRecord r(forged.Data);
        r.setField(53, QStringLiteral("2147483647"));
        forged.Data = r.line();
    }
    for (const ShipPackage& p : {turrets, broken, forged})
        QCOMPARE(engine.install(f.writePackage(p, p.Name + QStringLiteral(".xsp")), nullptr, false)
                     .status,
                 0);
    QVERIFY(engine.updateMod());

    const QStringList cockpits = f.modLines("types\\TCockpits.pck");
    QCOMPARE(cockpits.size(), 2 + 11);
    QVERIFY(cockpits.at(2 + 10).endsWith(QStringLiteral(";SS_COCKPIT_T_OWN;")));
    // Turrets: SS_COCKPIT_REAR_LIGHT becomes the game's index 3 and its own key
    // index 10, cut after field 63 with the ID; Broken keeps its line; Forged its count.
    QCOMPARE(f.modLines("types\\TShips.pck").mid(2 + 300), dataLines("turret-ships.txt"));
}

void TestInstall::reinstallUpdateAndFreeSlot()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine(false);
    const auto install = [&](const ShipPackage& p, const QString& file) {
        return engine.install(f.writePackage(p, file), nullptr, false);
    };

    ShipPackage a = EngineFixture::simplePackage("Alpha", "Ann", "1.0", "SS_ALPHA");
    f.addFile(a, KindModel, QStringLiteral("objects/alpha/body.bob"), 100, "alpha body v1");
    f.addFile(a, KindModel, QStringLiteral("objects/alpha/old_part.bod"), 100, "old part");
    ShipPackage b = EngineFixture::simplePackage("Beta", "Bob", "1.0", "SS_BETA");
    QCOMPARE(install(a, QStringLiteral("a1.xsp")).status, 0);
    QCOMPARE(install(b, QStringLiteral("b1.xsp")).status, 0);
    QVERIFY(engine.updateMod());
    const QString betaLine = f.modLines("types\\TShips.pck").at(2 + 301);

    // The same version installs again, in place.
    InstallResult again = install(a, QStringLiteral("a1.xsp"));
    QCOMPARE(again.status, 0);
    QVERIFY(again.replacedExisting);
    QCOMPARE(engine.registry().Ships.size(), 2);
    QCOMPARE(engine.registry().Ships.at(0).Name, QStringLiteral("Alpha"));

    // A new version with a changed record and a dropped model keeps slot 300.
    ShipPackage a2 = EngineFixture::simplePackage("Alpha", "Ann", "1.1", "SS_ALPHA");
    a2.Data.replace(0, 1, QStringLiteral("7"));
    f.addFile(a2, KindModel, QStringLiteral("objects/alpha/body.bob"), 200, "alpha body v2");
    QCOMPARE(install(a2, QStringLiteral("a2.xsp")).status, 0);
    QCOMPARE(engine.registry().Ships.size(), 2);
    QCOMPARE(engine.registry().Ships.at(0).Version, QStringLiteral("1.1"));
    QCOMPARE(f.modEntry("objects\\alpha\\body.pbb"), QByteArray("alpha body v2"));
    QVERIFY(!f.modEntries().contains(QStringLiteral("objects\\alpha\\old_part.pbd")));
    QVERIFY(engine.updateMod());
    const QStringList ships = f.modLines("types\\TShips.pck");
    QCOMPARE(ships.at(1), QStringLiteral("48;302;"));
    QVERIFY(ships.at(2 + 300).startsWith(QStringLiteral("7;")));
    QVERIFY(ships.at(2 + 300).endsWith(QStringLiteral(";SS_ALPHA;")));
    QCOMPARE(ships.at(2 + 301), betaLine);

    // A purged slot (state 2) is taken by the next new ship; a waiting one is not.
    ShipPackage waiting;
    waiting.Deleted = 1;
    ShipPackage purged;
    purged.Deleted = 2;
    engine.registry().Ships.insert(1, waiting);
    engine.registry().Ships.insert(2, purged);
    ShipPackage c = EngineFixture::simplePackage("Gamma", "Cy", "1", "SS_GAMMA");
    QCOMPARE(install(c, QStringLiteral("c.xsp")).status, 0);
    QCOMPARE(engine.registry().Ships.size(), 4);
    QCOMPARE(engine.registry().Ships.at(1).Deleted, 1);
    QCOMPARE(engine.registry().Ships.at(2).Name, QStringLiteral("Gamma"));
    QVERIFY(engine.updateMod());
    const QStringList after = f.modLines("types\\TShips.pck");
    QCOMPARE(after.at(2 + 301), filler("HULLWRIGHT_DELETED_", 1));
    QVERIFY(after.at(2 + 302).endsWith(QStringLiteral(";SS_GAMMA;")));
}

void TestInstall::reinstallOverDisabledShip()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QString merganser = f.samplePackages().value(0);
    InstallerEngine& engine = f.makeEngine(false);
    QCOMPARE(engine.install(merganser, nullptr, false).status, 0);
    const QMap<QString, QByteArray> before = f.modContents();
    QVERIFY(engine.setShipEnabled(0, false));
    const QString loose = f.gameDir + "/Slipway/objects/ships/fighters/merganser_body.bob";
    QVERIFY(QFile::exists(loose));

    // The disabled copy holds the same files: the reader writes none of them, and
    // the enabled new record must find them in the mod all the same.
    const InstallResult r = engine.install(merganser, nullptr, false);
    QCOMPARE(r.status, 0);
    QVERIFY(r.replacedExisting);
    QCOMPARE(engine.registry().Ships.size(), 1);
    QVERIFY(engine.registry().Ships.at(0).Enabled);
    QCOMPARE(f.modContents(), before);
    QVERIFY(!QFile::exists(loose));
    QVERIFY(!QFile::exists(f.gameDir + "/Slipway/scripts/setup.merganser.xml"));
    QVERIFY(QFile::exists(ResolvePath(f.gameDir, QStringLiteral("scripts/setup.merganser.xml"))));
}

void TestInstall::textIdsPerLanguage()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine(false);
    QList<ShipPackage> ships;
    for (int i = 0; i < 4; ++i) {
        ShipPackage p =
            EngineFixture::simplePackage(QStringLiteral("Ship%1").arg(i), QStringLiteral("A"),
                                         QStringLiteral("1"), QStringLiteral("SS_%1").arg(i));
        p.Shipyards = {i == 3, false, false, false, false, false, false, i == 3};
        ships << p;
    }
    ships[0].Texts = {{49, QStringLiteral("Erster & Bester"), QStringLiteral("Nur deutsch")},
                      {49, QStringLiteral("Zweiter"), QStringLiteral("unused")}};
    ships[2].OriginalDesc = 5000;
    ships[3].Texts = {{44, QStringLiteral("First"), QString()},
                      {44, QStringLiteral("Last"), QStringLiteral("Chosen")}};
    for (const ShipPackage& p : ships)
        QCOMPARE(engine.install(f.writePackage(p, p.Name + QStringLiteral(".xsp")), nullptr, false)
                     .status,
                 0);
    engine.registry().Ships[1].Enabled = false;
    // The extra language: a list entry (none past the list's end), or a custom id.
    f.settings.textOption = 1;
    f.settings.textSelect = 7;
    QCOMPARE(engine.textLanguages(), QList<int>({49, 44}));
    f.settings.textSelect = 2;
    QCOMPARE(engine.textLanguages(), QList<int>({49, 44, 33}));
    f.settings.textOption = 2;
    f.settings.textCustom = 33;
    QCOMPARE(engine.textLanguages(), QList<int>({49, 44, 33}));
    QVERIFY(engine.updateMod());

    // Ship 0 has German texts only: its first entry; ship 3 its first English
    // entry, whose empty description writes nothing. Page 9001: a disabled ship's
    // ID reads -1; per ship its slot and shipyards.
    QCOMPARE(f.modLines("t\\449001.pck"), dataLines("languages-page.xml"));
    QVERIFY(f.modEntries().contains(QStringLiteral("t\\339001.pck")));
    // German: ship 3 has no German entry and shows its last English one. The
    // ships' description ids, the disabled one's filler line.
    QCOMPARE(f.modLines("t\\499001.pck"), dataLines("languages-german.xml"));
    QCOMPARE(f.modLines("types\\TShips.pck").mid(2 + 300), dataLines("languages-ships.txt"));

    // Once no ship and no setting names a language, its page leaves the mod.
    engine.registry().Ships[0] = ShipPackage();
    engine.registry().Ships[0].Deleted = 1;
    f.settings.textOption = 0;
    f.clock += 60;
    QVERIFY(engine.updateMod());
    QVERIFY(!f.modEntries().contains(QStringLiteral("t\\499001.pck")));
    QVERIFY(!f.modEntries().contains(QStringLiteral("t\\339001.pck")));
    const QStringList later = f.modLines("t\\449001.pck");
    QVERIFY(later.contains(textLine(2, QString::number(EngineFixture::kStartTime + 60))));
    QVERIFY(later.contains(textLine(10, QStringLiteral("-1"))));
    QVERIFY(later.contains(textLine(20000, QStringLiteral("First"))));
    QCOMPARE(f.modLines("types\\TShips.pck").at(2 + 300), filler("HULLWRIGHT_DELETED_", 1));
}

void TestInstall::queueAndRefusals()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    InstallerEngine& engine = f.makeEngine();

    // Dropped text split at line breaks: only the packages are queued.
    const QString missing = f.root.filePath("gone.XSP");
    QCOMPARE(engine.enqueue(
                 {missing + QStringLiteral("\r"), f.root.filePath("notes.txt"), packages.at(1)}),
             2);
    QCOMPARE(engine.queue(), QStringList({missing, packages.at(1)}));

    // A missing package is reported even without messages, and the queue goes on.
    const InstallResult gone = engine.installNext(false);
    QCOMPARE(gone.status, 1);
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked.first().icon, Prompter::Icon::Critical);
    QCOMPARE(f.prompter.asked.first().text, QStringLiteral("I37") + missing);
    QCOMPARE(engine.queue().size(), 1);
    QCOMPARE(engine.installNext(false).status, 0);
    QVERIFY(engine.queue().isEmpty());
    QCOMPARE(engine.installNext(false).status, 1); // empty queue: nothing installed
    QCOMPARE(engine.registry().Ships.size(), 1);

    // Goosander 1.2 is installed: an older version and a newer format are refused.
    const QByteArray registryBefore = readBytes(f.registryFile());
    engine.setModChanged(false);
    f.prompter.asked.clear();

    ShipPackage older =
        EngineFixture::simplePackage(QStringLiteral("Goosander"), kAuthor, QStringLiteral("1.1"),
                                     QStringLiteral("OV-GOOSANDER"));
    const InstallResult r =
        engine.install(f.writePackage(older, QStringLiteral("old.xsp")), nullptr, true);
    QCOMPARE(r.status, 2);
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked.first().text, QStringLiteral("S3"));
    QCOMPARE(readBytes(f.registryFile()), registryBefore);
    QCOMPARE(engine.registry().Ships.size(), 1);
    QVERIFY(!engine.modChanged());

    // A document of a newer format, compressed as every package is.
    const QString doc = f.root.filePath("new.txt");
    QVERIFY(writeBytes(doc, "Packager: 1.5\nName: Future\nAuthor: Someone\nVersion: 1\n"));
    const QString future = f.root.filePath("future.xsp");
    QVERIFY(CompressFile(doc, future));
    QCOMPARE(engine.install(future, nullptr, true).status, 3);
    QCOMPARE(f.prompter.asked.last().text, QStringLiteral("S2"));
    QCOMPARE(engine.install(future, nullptr, false).status, 3);
    QCOMPARE(f.prompter.asked.size(), 2);
    QCOMPARE(readBytes(f.registryFile()), registryBefore);
}

void TestInstall::failedPackageTakesBackItsFiles()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    InstallerEngine& engine = f.makeEngine(false);
    QCOMPARE(engine.install(packages.at(0), nullptr, false).status, 0); // Merganser
    const QString scripts = f.gameDir + "/scripts/";
    QVERIFY(writeBytes(scripts + "game.own.xml", "the game's own"));

    // New files, a newer copy of the Merganser's engine, a script over one of
    // the game's and a new one, then an entry name that leaves the game folder.
    ShipPackage bad = EngineFixture::simplePackage("Failer", "Tester", "1", "SS_FAIL");
    f.addFile(bad, KindModel, QStringLiteral("objects/failer/body.bob"), 10, "failer body");
    f.addFile(bad, KindModel, QStringLiteral("objects/ships/parts/vale_engine.bod"), 2000000000,
              "newer engine");
    f.addFile(bad, KindFile, QStringLiteral("textures/failer.tga"), 10, "texture");
    f.addFile(bad, KindFile, QStringLiteral("../outside.txt"), 10, "escape");
    for (const char* name : {"game.own.xml", "failer.xml"}) {
        PackageFile s = f.addFile(bad, KindFile, QLatin1String(name), 10, "script");
        bad.Files.removeLast();
        bad.Scripts << s;
    }
    const QString pic = f.root.filePath("failer.png");
    QVERIFY(writeBytes(pic, "png"));
    bad.ScreenShot = pic;

    const GameSnapshot::Snapshot before = GameSnapshot::snapshot(f.gameDir);
    const InstallResult r =
        engine.install(f.writePackage(bad, QStringLiteral("bad.xsp")), nullptr, false);
    QCOMPARE(r.status, 1);
    QCOMPARE(r.error, QStringLiteral("file \"../outside.txt\": name leaves its folder"));
    QCOMPARE(engine.registry().Ships.size(), 1);
    // Gone: what only the failed package had. Back as it was: what it overwrote.
    QCOMPARE(GameSnapshot::firstDifference(before, GameSnapshot::snapshot(f.gameDir)), QString());
    QVERIFY(!QFile::exists(f.root.filePath("outside.txt")));
}

void TestInstall::installerOwnNamesRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("registry") << QStringLiteral("ships.dat");
    QTest::newRow("history, other case") << QStringLiteral("History/history.jsonl");
    QTest::newRow("writer lock") << QStringLiteral("WRITER.LOCK");
}

// A disabled ship's files move into Slipway under their names: a file named like
// the registry, the lock or the history must never get there.
void TestInstall::installerOwnNamesRefused()
{
    QFETCH(QString, name);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine(false);
    ShipPackage bad = EngineFixture::simplePackage("Taker", "Tester", "1", "SS_TAKE");
    f.addFile(bad, KindFile, name, 10, "taker");
    const GameSnapshot::Snapshot before = GameSnapshot::snapshot(f.gameDir);
    const InstallResult r = engine.install(f.writePackage(bad, QStringLiteral("bad.xsp")), nullptr, false);
    QCOMPARE(r.status, 1);
    QCOMPARE(r.error, QStringLiteral("file \"%1\": name is taken by the installer's own files").arg(name));
    QCOMPARE(GameSnapshot::firstDifference(before, GameSnapshot::snapshot(f.gameDir)), QString());
}

// Many packages as one change: the one that fails part-way (after writing files)
// and a missing one leave nothing, the others are installed; the game ends as
// installing the good ones one at a time leaves it, with the results in order.
void TestInstall::manyPackagesInOneChange()
{
    EngineFixture single;
    EngineFixture many;
    QVERIFY2(single.ok() && many.ok(), qPrintable(single.error + many.error));
    const QStringList samples = single.samplePackages();
    QVERIFY(!samples.isEmpty());
    InstallerEngine& one = single.makeEngine(false);
    for (const QString& p : samples)
        QCOMPARE(one.install(p, nullptr, false).status, 0);
    single.engine.reset();

    ShipPackage bad = EngineFixture::simplePackage("Failer", "Tester", "1", "SS_FAIL");
    many.addFile(bad, KindModel, QStringLiteral("objects/failer/body.bob"), 10, "failer body");
    many.addFile(bad, KindFile, QStringLiteral("textures/failer.tga"), 10, "texture");
    many.addFile(bad, KindFile, QStringLiteral("../outside.txt"), 10, "escape");
    const QString badPath = many.writePackage(bad, QStringLiteral("bad.xsp"));
    const QStringList paths = {many.samplePackages().at(0), badPath,
                               many.root.filePath(QStringLiteral("absent.xsp")),
                               many.samplePackages().at(1)};
    InstallerEngine& engine = many.makeEngine(false);
    QList<qsizetype> order;
    QList<InstallResult> results;
    engine.installMany(paths, [&](qsizetype i, const InstallResult& r) {
        order << i;
        results << r;
    });
    QCOMPARE(order, (QList<qsizetype>{0, 1, 2, 3}));
    QCOMPARE(results.at(0).status, 0);
    QCOMPARE(results.at(1).status, 1);
    QCOMPARE(results.at(1).error,
             QStringLiteral("file \"../outside.txt\": name leaves its folder"));
    QCOMPARE(results.at(2).failure, InstallResult::Failure::Missing);
    QCOMPARE(results.at(3).status, 0);
    QCOMPARE(engine.registry().Ships.size(), 2);
    many.engine.reset();
    QCOMPARE(GameSnapshot::firstDifference(GameSnapshot::snapshot(single.gameDir),
                                           GameSnapshot::snapshot(many.gameDir)),
             QString());
    QVERIFY(!QFile::exists(many.root.filePath("outside.txt")));
    QVERIFY(!QFileInfo::exists(GameChange::journalDir(many.gameDir)));
}

// A link planted in the game (the scripts folder, a script's name) leads no
// write outside: a folder link fails the install and the game is as before; a
// link at a file's name is replaced by the file.
void TestInstall::plantedLinksLeadNowhere_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("installs");
    QTest::newRow("scripts folder") << "scripts" << false;
    QTest::newRow("script file") << "scripts/setup.merganser.xml" << true;
}

void TestInstall::plantedLinksLeadNowhere()
{
    QFETCH(QString, link);
    QFETCH(bool, installs);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QString outside = f.root.filePath("outside");
    QVERIFY(writeBytes(outside + "/setup.merganser.xml", "not the game's"));
    QVERIFY(QDir(f.gameDir + "/scripts").removeRecursively());
    if (link != "scripts")
        QVERIFY(QDir().mkpath(f.gameDir + "/scripts"));
    QVERIFY(QFile::link(link == "scripts" ? outside : outside + "/setup.merganser.xml",
                        f.gameDir + '/' + link));
    const GameSnapshot::Snapshot outsideBefore = GameSnapshot::snapshot(outside);
    const GameSnapshot::Snapshot gameBefore = GameSnapshot::snapshot(f.gameDir);
    InstallerEngine& engine = f.makeEngine(false);
    const InstallResult r = engine.install(f.samplePackages().at(0), nullptr, false);
    QCOMPARE(r.status == 0, installs);
    QCOMPARE(GameSnapshot::firstDifference(outsideBefore, GameSnapshot::snapshot(outside)), QString());
    if (!installs) {
        QVERIFY2(r.error.contains("link"), qPrintable(r.error));
        QCOMPARE(GameSnapshot::firstDifference(gameBefore, GameSnapshot::snapshot(f.gameDir)), QString());
    } else {
        QVERIFY(!QFileInfo(f.gameDir + '/' + link).isSymLink());
    }
}

// A registry cut short must not be written over: every ship after the damage
// would be lost, the intact ones before it too at the next save.
void TestInstall::brokenRegistryRefusesChanges()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    InstallerEngine& engine = f.makeEngine();
    QCOMPARE(engine.install(packages.at(0), nullptr, false).status, 0);
    QCOMPARE(engine.install(packages.at(1), nullptr, false).status, 0);
    QVERIFY(engine.updateMod() && engine.saveRegistry());
    QByteArray text = readBytes(f.registryFile());
    text.chop(text.size() - text.lastIndexOf("Name: ") - 8);
    QVERIFY(writeBytes(f.registryFile(), text));
    const QStringList entriesBefore = f.modEntries();

    engine.setGameDir(f.gameDir);
    QVERIFY(engine.registryBroken());
    QCOMPARE(engine.registry().Ships.size(), 1); // the intact first ship is still listed
    f.prompter.asked.clear();

    const InstallResult r = engine.install(packages.at(1), nullptr, true);
    QCOMPARE(r.status, 1);
    QCOMPARE(r.error, engine.registryError());
    QCOMPARE(f.prompter.asked.size(), 1);
    QVERIFY(!engine.uninstallShip(0, false));
    QVERIFY(!engine.setShipEnabled(0, false));
    QVERIFY(!engine.updateMod());
    QVERIFY(!engine.createMod());
    QVERIFY(!engine.saveRegistry());
    QCOMPARE(readBytes(f.registryFile()), text);
    QCOMPARE(f.modEntries(), entriesBefore);
}

// A game table too large to be held is not read, and the mod is not switched on
// with tables generated without the game's lines.
void TestInstall::tooLargeGameTableFailsUpdate()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QByteArray gameTable = EngineFixture::gameShipTable(1200);
    QVERIFY(gameTable.size() > 128 * 1024);
    QVERIFY(f.addGameEntry(3, QStringLiteral("types\\TShips.txt"), gameTable));
    InstallerEngine& engine = f.makeEngine();
    QCOMPARE(engine.install(f.samplePackages().at(0), nullptr, false).status, 0);
    const int64_t old = arc_set_memory_cap(128 * 1024);
    const bool updated = engine.updateMod();
    arc_set_memory_cap(old);
    QVERIFY(!updated);
    QVERIFY(
        f.systemRegistry->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName")) !=
        QStringLiteral("Hullwright"));

    // Within the limit the same game updates.
    QVERIFY(engine.updateMod());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
