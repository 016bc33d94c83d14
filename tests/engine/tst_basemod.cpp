// Base mods, uninstall, disable and enable, the purge and language checks, loose
// files. Ships are registered directly, so these tests need no package reader.
#include "enginefixture.h"
#include "gamesnapshot.h"

#include "arc.h"
#include "gamechange.h"
#include "gamedir.h"
#include "registry.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QXmlStreamReader>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

const QString kNoMod = QStringLiteral(":: I14 ::");

// Bytes that do not compress to nothing, so block copies really have blocks.
QByteArray noise(int size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b[i] = static_cast<char>(seed >> 24);
    }
    return b;
}

// A ship's file placed into the mod the way the installer stores it (packed
// names for models and texts), and its registry entry.
PackageFile place(const EngineFixture& f, const QString& name, const QByteArray& bytes)
{
    EnsureCatalog(f.modCatalog());
    WriteArchiveFile(bytes.constData(), bytes.size(), f.modCatalog() + "::" + name, true, false);
    PackageFile e;
    e.Name = name;
    e.Size = static_cast<qint32>(bytes.size());
    e.Time = 1000;
    return e;
}

PackageFile listed(const QString& name)
{
    PackageFile e;
    e.Name = name;
    e.Size = 10;
    return e;
}

ShipPackage ship(const QString& name)
{
    ShipPackage s = EngineFixture::simplePackage(name, QStringLiteral("Me"), QStringLiteral("1.0"),
                                                 name.toUpper() + QStringLiteral("_ID"));
    s.Enabled = true;
    return s;
}

ShipPackage placeholder(int state)
{
    ShipPackage s;
    s.Deleted = state;
    return s;
}

// A base mod in the game's mods folder; entries are stored as given (plain), or
// packed under their packed names when pack is set.
QString makeBaseMod(const EngineFixture& f, const QString& name,
                    const QList<QPair<QString, QByteArray>>& entries, bool pack = false)
{
    const QString cat = f.gameDir + "/mods/" + name + QStringLiteral(".cat");
    EnsureCatalog(cat);
    for (const auto& [entry, bytes] : entries)
        WriteArchiveFile(bytes.constData(), bytes.size(), cat + "::" + entry, pack, false);
    return cat;
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

#ifdef Q_OS_UNIX
// What the running game does to the mod: holds it open with a shared lock, so
// writers are refused. The descriptor, or -1.
int holdAsTheGame(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path), O_RDONLY);
    if (fd >= 0 && flock(fd, LOCK_SH) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

// Scenes (ship-table field 16) that the game would look for and not find: every
// scene of the generated ship table that is not one of the sample game's own (which
// has no models) must be an entry "objects\\<scene>.pbd" or ".bod" of the mod or of
// a numbered catalogue.
QStringList missingScenes(const EngineFixture& f)
{
    QSet<QString> known;
    for (const SampleGame::Ship& s : SampleGame::Ships())
        known.insert(s.scene.toUpper());
    QSet<QString> entries;
    QStringList catalogs{f.modCatalog()};
    for (int n = 1; n <= 99 && QFileInfo::exists(f.gameDir + "/" + CatalogName(n)); ++n)
        catalogs << f.gameDir + "/" + CatalogName(n);
    for (const QString& cat : catalogs)
        for (const CatalogEntryInfo& e : ListCatalog(cat))
            entries.insert(e.name.toUpper());
    QStringList missing;
    for (const QString& line : ReadTypeTable(f.modEntry("types\\TShips.pck")).entries) {
        const QString scene = ShipRecord(line).field(16).trimmed();
        if (scene.isEmpty() || scene == QLatin1String("0") || known.contains(scene.toUpper()))
            continue;
        const QString base = (QStringLiteral("objects\\") + scene).toUpper();
        if (!entries.contains(base + ".PBD") && !entries.contains(base + ".BOD"))
            missing << scene;
    }
    return missing;
}

} // namespace

class TestBaseMod : public QObject
{
    Q_OBJECT

private slots:
    void choices();
    void baseModInAndOut();
    void standardCopyOfBasePair();
    void fakePatchNumbering_data();
    void fakePatchNumbering();
    void lockedModChangesNothing();
    void purge_data();
    void purge();
    void leftoverFilesKeepShared();
    void disableEnableUninstallKeepShared();
    void programScripts();
    void adoptedPlayerMod_data();
    void adoptedPlayerMod();
    void gameLanguageQuestion_data();
    void gameLanguageQuestion();
};

void TestBaseMod::choices()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    for (const char* name : {"BaseMod.cat", "Other.CAT", "HULLWRIGHT.cat", "hullwright.cat",
                             "notes.txt", "Base.Mod.dat"})
        QVERIFY(writeBytes(f.gameDir + "/mods/" + QLatin1String(name), "x"));
    const QStringList expected = {kNoMod, QStringLiteral("BaseMod"), QStringLiteral("Other")};

    // No "Mod:" in the registry: the game's selected mod is taken.
    QVERIFY(f.systemRegistry->writeString(
        QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), QStringLiteral("Other")));
    QCOMPARE(f.makeEngine().baseModChoices(), expected);
    QCOMPARE(f.engine->currentBaseMod(), QStringLiteral("Other"));

    // A selected mod that is not on offer (the installer's own) means no base mod.
    QVERIFY(f.systemRegistry->writeString(
        QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), QStringLiteral("Hullwright")));
    QCOMPARE(f.makeEngine().baseModChoices(), expected);
    QCOMPARE(f.engine->currentBaseMod(), kNoMod);

    // The registry's own value wins over the game's.
    ShipRegistry reg;
    reg.ModName = QStringLiteral("BaseMod");
    QVERIFY(WriteRegistry(f.gameDir, reg));
    f.makeEngine().baseModChoices();
    QCOMPARE(f.engine->currentBaseMod(), QStringLiteral("BaseMod"));

    // Names that do not come from the list (the command line) are checked too.
    QVERIFY(!f.engine->selectBaseMod(QStringLiteral("HULLWRIGHT")));
    QVERIFY(!f.engine->selectBaseMod(QStringLiteral("../../BaseMod")));
    QCOMPARE(f.engine->currentBaseMod(), QStringLiteral("BaseMod"));
}

void TestBaseMod::baseModInAndOut()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    // Ship A lives in the mod; ship B is disabled (its files are in Slipway).
    ShipPackage a = ship("A");
    a.SceneFile = place(f, QStringLiteral("objects/ships/a_scene.bod"), "scene of a");
    a.CockpitFile = place(f, QStringLiteral("objects/cockpits/a_cp.bod"), "cockpit of a");
    a.Models = {place(f, QStringLiteral("objects/ships/a.bob"), "model of a")};
    a.Files = {place(f, QStringLiteral("t/a_notes.xml"), "<notes/>"),
               place(f, QStringLiteral("textures/a.dds"), "texture of a")};
    ShipPackage b = ship("B");
    b.Enabled = false;
    b.Models = {listed("objects/ships/b.bob")};
    QVERIFY(f.writeRegistry({a, placeholder(1), b}));
    const QMap<QString, QByteArray> shipFiles = f.modContents();

    const QString baseCat =
        makeBaseMod(f, QStringLiteral("BaseMod"),
                    {{QStringLiteral("objects\\base\\x.bod"), "base model"},
                     {QStringLiteral("t\\440099.xml"), "<language id=\"44\"/>"},
                     {QStringLiteral("textures\\base.dds"), noise(1000, 1)},
                     {QStringLiteral("objects\\ships\\a.bob"), "the base mod's own a.bob"}});
    WriteArchiveFile("48;0;", 5, baseCat + "::types\\TShips.txt", true, false);

    InstallerEngine& e = f.makeEngine();
    e.baseModChoices();
    QCOMPARE(e.currentBaseMod(), kNoMod);

    // In: file by file, since the mod holds ships; texts and models packed under
    // their packed names, the ship's own a.bob untouched.
    QVERIFY(e.selectBaseMod(QStringLiteral("BaseMod")));
    QVERIFY(e.createMod());
    QMap<QString, QByteArray> withBase = shipFiles;
    withBase.insert(QStringLiteral("objects\\base\\x.pbd"), "base model");
    withBase.insert(QStringLiteral("t\\440099.pck"), "<language id=\"44\"/>");
    withBase.insert(QStringLiteral("textures\\base.dds"), noise(1000, 1));
    withBase.insert(QStringLiteral("types\\TShips.pck"), "48;0;");
    QCOMPARE(f.modContents(), withBase);

    // Out: every base file goes, every file of a registered ship stays.
    QVERIFY(e.selectBaseMod(kNoMod));
    QVERIFY(e.modChanged());
    QVERIFY(e.createMod());
    QCOMPARE(f.modContents(), shipFiles);

    QCOMPARE(f.savedRegistry().ModName, kNoMod);
    QCOMPARE(f.savedRegistry().Ships.size(), 3);

    // Choosing what is chosen, or redoing without a base mod, does nothing.
    f.logLines.clear();
    QVERIFY(!e.selectBaseMod(kNoMod));
    QVERIFY(!e.redoBaseMod());
    QVERIFY(f.logLines.isEmpty());
}

void TestBaseMod::standardCopyOfBasePair()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    // A stale pair from earlier: with no record at all it is dropped first.
    place(f, QStringLiteral("objects/old.bob"), "old");
    const QString baseCat = makeBaseMod(f, QStringLiteral("BaseMod"),
                                        {{QStringLiteral("objects\\big.pbd"), noise(600000, 2)},
                                         {QStringLiteral("t\\440001.xml"), "<language/>"}},
                                        true);
    const QString baseDat = f.gameDir + "/mods/BaseMod.dat";
    const QString hwDat = f.gameDir + "/mods/Hullwright.dat";

    InstallerEngine& e = f.makeEngine();
    e.baseModChoices();
    QVERIFY(e.selectBaseMod(QStringLiteral("BaseMod")));
    QVERIFY(e.createMod());
    QCOMPARE(readBytes(f.modCatalog()), readBytes(baseCat));
    QCOMPARE(readBytes(hwDat), readBytes(baseDat));
    QCOMPARE(f.progress.done, QFileInfo(baseDat).size());
    QVERIFY(f.progress.updates >= 4); // 250,000-byte blocks

    // Choosing it again does nothing; redo rebuilds the same copy.
    QVERIFY(!e.selectBaseMod(QStringLiteral("BaseMod")));
    QVERIFY(e.redoBaseMod());
    QVERIFY(e.createMod());
    QCOMPARE(readBytes(hwDat), readBytes(baseDat));
    QCOMPARE(f.savedRegistry().ModName, QStringLiteral("BaseMod"));
}

void TestBaseMod::fakePatchNumbering_data()
{
    QTest::addColumn<int>("highestTaken");
    QTest::addColumn<QString>("expected"); // empty: nothing free
    QTest::newRow("01-03 present") << 3 << QStringLiteral("04");
    QTest::newRow("01-09 present") << 9 << QStringLiteral("10");
    QTest::newRow("01-99 present") << 99 << QString();
}

void TestBaseMod::fakePatchNumbering()
{
    QFETCH(int, highestTaken);
    QFETCH(QString, expected);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    f.settings.baseType = 1;
    for (int n = 3; n <= highestTaken; ++n) // 01 and 02 are the game's own
        QVERIFY(
            writeBytes(f.gameDir + QStringLiteral("/%1.cat").arg(n, 2, 10, QLatin1Char('0')), "x"));
    const QString baseCat = makeBaseMod(f, QStringLiteral("BaseMod"),
                                        {{QStringLiteral("types\\TShips.txt"), "48;0;"}}, true);
    ShipPackage a = ship("A");
    a.Models = {place(f, QStringLiteral("objects/a.bob"), "a")};
    QVERIFY(f.writeRegistry({a}));
    const GameSnapshot::Snapshot before = GameSnapshot::snapshot(f.gameDir);

    InstallerEngine& e = f.makeEngine();
    e.baseModChoices();
    QVERIFY(e.selectBaseMod(QStringLiteral("BaseMod")));
    if (expected.isEmpty()) {
        QVERIFY(!e.createMod());
        QCOMPARE(e.currentBaseMod(), kNoMod);
        QCOMPARE(GameSnapshot::firstDifference(before, GameSnapshot::snapshot(f.gameDir)),
                 QString());
        return;
    }
    QVERIFY(e.createMod());
    const QString patchCat = f.gameDir + QLatin1Char('/') + expected + QStringLiteral(".cat");
    QCOMPARE(readBytes(patchCat), readBytes(baseCat));
    QVERIFY(QFileInfo::exists(f.gameDir + QLatin1Char('/') + expected + QStringLiteral(".dat")));
    QCOMPARE(f.savedRegistry().BaseFakePatch, expected.toInt());

    // Back to no base mod: the fake patch goes.
    QVERIFY(e.selectBaseMod(kNoMod));
    QVERIFY(e.createMod());
    QVERIFY(!QFileInfo::exists(patchCat));
    QCOMPARE(f.savedRegistry().BaseFakePatch, 0);
}

void TestBaseMod::lockedModChangesNothing()
{
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX file locks");
#else
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    makeBaseMod(f, QStringLiteral("BaseMod"), {{QStringLiteral("x.dds"), "base"}});
    ShipPackage a = ship("A");
    a.Models = {place(f, QStringLiteral("objects/a.bob"), "a")};
    place(f, QStringLiteral("x.dds"), "base");
    QVERIFY(f.writeRegistry({a}, 0, QStringLiteral("BaseMod")));
    const GameSnapshot::Snapshot before = GameSnapshot::snapshot(f.gameDir);

    const QString package = f.samplePackages().value(0);
    QVERIFY(f.systemRegistry->writeString(
        QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), QStringLiteral("Other")));

    InstallerEngine& e = f.makeEngine();
    e.baseModChoices();
    const QByteArray memory = RegistryText(e.registry());
    {
        const int game = holdAsTheGame(f.modCatalog());
        QVERIFY(game >= 0);
        const InstallResult r = e.install(package, nullptr, true);
        QCOMPARE(r.status, 1);
        QVERIFY(f.prompter.asked.isEmpty());
        f.clock += 100;
        QVERIFY(!e.updateMod());
        QVERIFY(e.selectBaseMod(kNoMod));
        QVERIFY(!e.createMod());
        QVERIFY(!e.uninstallShip(0, false));
        QVERIFY(!e.setShipEnabled(0, false));
        ::close(game);
    }
    QCOMPARE(e.currentBaseMod(), QStringLiteral("BaseMod"));
    QCOMPARE(RegistryText(e.registry()), memory);
    QCOMPARE(
        f.systemRegistry->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName")),
        QStringLiteral("Other"));
    QCOMPARE(GameSnapshot::firstDifference(before, GameSnapshot::snapshot(f.gameDir)), QString());
#endif
}

void TestBaseMod::purge_data()
{
    QTest::addColumn<QString>("logName");
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("state");
    QTest::newRow("equal time frees")
        << QStringLiteral("log09001.txt") << QByteArray("Purged: 900\nPurged: 1234\n") << 2;
    QTest::newRow("older time frees nothing")
        << QStringLiteral("log09001.txt") << QByteArray("Purged: 900\n") << 1;
    QTest::newRow("the newest line counts")
        << QStringLiteral("log09001.txt") << QByteArray("Purged: 1234\nPurged: 2000\n") << 1;
    QTest::newRow("blanks, CR LF, other lines")
        << QStringLiteral("LOG09001.TXT")
        << QByteArray("Started 1234\r\n  Purged:   1234  \r\nPurged:\r\n") << 2;
    QTest::newRow("no report") << QString() << QByteArray() << 1;
}

void TestBaseMod::purge()
{
    QFETCH(QString, logName);
    QFETCH(QByteArray, log);
    QFETCH(int, state);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    QVERIFY(f.writeRegistry({placeholder(1), ship("A"), placeholder(2)}, 1234));
    if (!logName.isEmpty())
        QVERIFY(writeBytes(f.gameDir + QLatin1Char('/') + logName, log));
    InstallerEngine& e = f.makeEngine();
    QCOMPARE(e.registry().Ships.at(0).Deleted, state);
    QCOMPARE(e.registry().Ships.at(1).Deleted, 0);
    QCOMPARE(e.registry().Ships.at(2).Deleted, 2);
}

void TestBaseMod::leftoverFilesKeepShared()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    // The update of A has already replaced its record: a1 and shared are gone from
    // its list, but B still lists shared.
    const QList<PackageFile> oldModels = {place(f, QStringLiteral("objects/a1.bob"), "a1"),
                                          place(f, QStringLiteral("objects/shared.bob"), "s"),
                                          place(f, QStringLiteral("objects/a2.bob"), "a2")};
    ShipPackage a = ship("A");
    a.Models = {oldModels.at(2)};
    ShipPackage b = ship("B");
    b.Models = {listed("Objects/Shared.bob")};
    QVERIFY(f.writeRegistry({a, b}));
    QVERIFY(writeBytes(f.gameDir + "/Slipway/objects/a1.bob", "loose"));

    InstallerEngine& e = f.makeEngine();
    e.removeLeftoverFiles(oldModels, a.Models);
    QCOMPARE(f.modContents().keys(), QStringList({QStringLiteral("objects\\a2.pbb"),
                                                  QStringLiteral("objects\\shared.pbb")}));
    QVERIFY(!QFileInfo::exists(f.gameDir + "/Slipway/objects/a1.bob"));
}

void TestBaseMod::disableEnableUninstallKeepShared()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    // A model delivered already packed is stored with its own bytes under its own name.
    std::vector<unsigned char> packed;
    const QByteArray gun = noise(3000, 3);
    QCOMPARE(arc_pack(reinterpret_cast<const unsigned char*>(gun.constData()),
                      static_cast<size_t>(gun.size()), 1000, packed, 7),
             0);
    const QByteArray gunBytes(reinterpret_cast<const char*>(packed.data()),
                              static_cast<qsizetype>(packed.size()));

    // B shares a model, a texture and a script with A.
    ShipPackage b = ship("B");
    b.Models = {place(f, QStringLiteral("objects/ships/shared.bob"), "shared")};
    b.Files = {place(f, QStringLiteral("textures/shared.dds"), "shared texture")};
    b.Scripts = {listed("common.xml")};
    ShipPackage a = ship("A");
    a.SceneFile = place(f, QStringLiteral("objects/ships/a_scene.bod"), "scene");
    a.CockpitFile = place(f, QStringLiteral("objects/cockpits/a_cp.bod"), "cockpit");
    a.Models = {place(f, QStringLiteral("objects/ships/a.bob"), noise(5000, 4)),
                place(f, QStringLiteral("objects/ships/a_gun.pbd"), gunBytes),
                listed("objects/ships/shared.bob")};
    a.Files = {place(f, QStringLiteral("t/a.xml"), "<a/>"),
               place(f, QStringLiteral("textures/a.dds"), "texture"),
               listed("textures/shared.dds")};
    a.Scripts = {listed("a.init.xml"), listed("common.xml")};
    a.ScreenShot = QStringLiteral("A-Me.jpg");
    // C is disabled; D's picture is missing.
    ShipPackage c = ship("C");
    c.Enabled = false;
    c.ScreenShot = QStringLiteral("C-Me.jpg");
    ShipPackage d = ship("D");
    d.ScreenShot = QStringLiteral("D-Me.jpg");
    QVERIFY(f.writeRegistry({b, a, c, d}, 500));
    // The game's script folder in lower case: one folder with "Scripts" to the game.
    const QString scripts = f.gameDir + "/scripts";
    QVERIFY(writeBytes(scripts + "/a.init.xml", "<script/>"));
    QVERIFY(writeBytes(scripts + "/common.xml", "<c/>"));
    QVERIFY(writeBytes(f.gameDir + "/Slipway/ShipPics/A-Me.jpg", "jpg"));
    QVERIFY(writeBytes(f.gameDir + "/Slipway/ShipPics/C-Me.jpg", "jpg"));
    QVERIFY(writeBytes(f.gameDir + "/loadscr/A-Me.jpg", "jpg"));
    const QStringList shared = {QStringLiteral("objects\\ships\\shared.pbb"),
                                QStringLiteral("textures\\shared.dds")};
    const QMap<QString, QByteArray> contents = f.modContents();

    InstallerEngine& e = f.makeEngine();
    QVERIFY(e.setShipEnabled(1, false));
    QCOMPARE(f.modEntries(), shared);
    const QString slipway = f.gameDir + "/Slipway/";
    QCOMPARE(readBytes(slipway + "objects/ships/a.bob"), noise(5000, 4));
    QCOMPARE(readBytes(slipway + "objects/ships/a_gun.pbd"), gunBytes);
    QCOMPARE(readBytes(slipway + "scripts/a.init.xml"), QByteArray("<script/>"));
    QCOMPARE(filesIn(scripts), QStringList{QStringLiteral("common.xml")});
    QVERIFY(!QFileInfo::exists(f.gameDir + "/loadscr/A-Me.jpg"));
    QVERIFY(!f.savedRegistry().Ships.at(1).Enabled);

    QVERIFY(e.setShipEnabled(1, true));
    QCOMPARE(f.modContents(), contents);
    QCOMPARE(f.modEntry(QStringLiteral("objects\\ships\\a_gun.pbd"), true), gunBytes);
    QVERIFY(!QFileInfo::exists(slipway + "objects/ships/a.bob"));
    QVERIFY(!QFileInfo::exists(slipway + "scripts/a.init.xml"));
    QCOMPARE(readBytes(scripts + "/a.init.xml"), QByteArray("<script/>"));
    QVERIFY(QFileInfo::exists(f.gameDir + "/loadscr/A-Me.jpg"));
    QVERIFY(e.registry().Ships.at(1).Enabled);

    // Loading screens off and on: only enabled ships whose picture is there.
    e.removeAllLoadingScreens();
    QVERIFY(filesIn(f.gameDir + "/loadscr").isEmpty());
    e.copyAllLoadingScreens();
    QCOMPARE(filesIn(f.gameDir + "/loadscr"), QStringList{QStringLiteral("A-Me.jpg")});
    QCOMPARE(readBytes(f.gameDir + "/loadscr/A-Me.jpg"), QByteArray("jpg"));

    QVERIFY(e.uninstallShip(1));
    QCOMPARE(f.modEntries(), shared);
    QCOMPARE(filesIn(scripts), QStringList{QStringLiteral("common.xml")});
    QVERIFY(!QFileInfo::exists(f.gameDir + "/Slipway/ShipPics/A-Me.jpg"));
    QVERIFY(!QFileInfo::exists(f.gameDir + "/loadscr/A-Me.jpg"));
    QCOMPARE(f.prompter.asked.size(), 1);
    QCOMPARE(f.prompter.asked.first().text, QStringLiteral("I42 A|Me|1.0"));
    QVERIFY(e.modChanged());

    // The slot stays, as a placeholder waiting for the game's purge, also on disk.
    const ShipRegistry saved = f.savedRegistry();
    QCOMPARE(saved.Ships.size(), 4);
    QCOMPARE(saved.Ships.at(0).Name, QStringLiteral("B"));
    QCOMPARE(saved.Ships.at(1).Deleted, 1);
    QVERIFY(!e.uninstallShip(1));

    // The game's report about the list published before the uninstall does not
    // free the slot: the game has not purged this ship yet.
    QVERIFY(writeBytes(f.gameDir + "/log09001.txt", "Purged: 500\n"));
    QCOMPARE(f.makeEngine().registry().Ships.at(1).Deleted, 1);
}

void TestBaseMod::programScripts()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QString source = f.programDir + "/Scripts/";
    QVERIFY(writeBytes(source + "hw.purge.xml", "<new/>"));
    QVERIFY(writeBytes(source + "extra.XML", "<extra/>"));
    QVERIFY(writeBytes(source + "readme.txt", "not a script"));
    // A newly chosen game directory whose script folder is spelt in lower case and
    // holds an older copy.
    const QString newGame = f.root.filePath("other game");
    QVERIFY(writeBytes(newGame + "/vega.exe", ""));
    QVERIFY(writeBytes(newGame + "/scripts/hw.purge.xml", "<old/>"));

    // Another program changing that directory keeps it as it is.
    {
        GameDirLock other(newGame);
        QVERIFY(other.tryLock());
        QVERIFY(!f.makeEngine().installProgramScripts(newGame));
        QCOMPARE(readBytes(newGame + "/scripts/hw.purge.xml"), QByteArray("<old/>"));
    }
    QVERIFY(f.makeEngine().installProgramScripts(newGame));
    QCOMPARE(readBytes(newGame + "/scripts/hw.purge.xml"), QByteArray("<new/>"));
    QCOMPARE(filesIn(newGame + "/scripts"),
             QStringList({QStringLiteral("extra.XML"), QStringLiteral("hw.purge.xml")}));
    // Through the directory's journal, which is gone once the copy is durable; no
    // second script folder in another letter case.
    QVERIFY(!QFileInfo::exists(GameChange::journalDir(newGame)));
    QVERIFY(!QDir(newGame).entryList(QDir::Dirs | QDir::NoDotAndDotDot).contains("Scripts"));

    // A registry from another installer version brings the scripts of every known
    // game directory up to date when it is read; the current version does not.
    QVERIFY(writeBytes(newGame + "/scripts/hw.purge.xml", "<old/>"));
    f.settings.installDirs = {newGame};
    QVERIFY(writeBytes(f.registryFile(), "InstallerVersion: 1.5\nMod: \n"));
    f.makeEngine();
    QCOMPARE(readBytes(newGame + "/scripts/hw.purge.xml"), QByteArray("<new/>"));
    QVERIFY(writeBytes(newGame + "/scripts/hw.purge.xml", "<old/>"));
    QVERIFY(writeBytes(f.registryFile(), "InstallerVersion: 1.89\nMod: \n"));
    f.makeEngine();
    QCOMPARE(readBytes(newGame + "/scripts/hw.purge.xml"), QByteArray("<old/>"));

    // The purge script the program ships is well-formed and names its protocol.
    const QString shipped =
        qEnvironmentVariable("VEGA_PROGRAM_DIR") + QStringLiteral("/Scripts/hw.purge.xml");
    const QByteArray script = readBytes(shipped);
    QVERIFY2(!script.isEmpty(), qPrintable(shipped));
    QXmlStreamReader xml(script);
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(script.contains("log09001.txt") && script.contains("Purged: "));
}

void TestBaseMod::adoptedPlayerMod_data()
{
    QTest::addColumn<bool>("copyFails"); // the player's mod has no data file
    QTest::addColumn<int>("answer");     // to "go on without it": 0 yes, 1 no
    QTest::addColumn<bool>("updated");
    QTest::addColumn<bool>("playerShip"); // the table names the player's mod's ship

    QTest::newRow("carried in") << false << 1 << true << true;
    QTest::newRow("cannot be carried, kept") << true << 1 << false << false;
    QTest::newRow("cannot be carried, left out") << true << 0 << true << false;
}

// A player whose game already loads a mod of their own: Drydock takes it as its
// base mod, so its ships must come along into the Hullwright mod.
void TestBaseMod::adoptedPlayerMod()
{
    QFETCH(bool, copyFails);
    QFETCH(int, answer);
    QFETCH(bool, updated);
    QFETCH(bool, playerShip);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));

    // The player's mod: the game's ships and one of its own, with its scene model.
    const QString gameTable = f.root.filePath("TShips.txt");
    QVERIFY(ExtractGameFile(f.gameDir, "types\\TShips.pck", gameTable));
    TypeTable table = ReadTypeTable(readBytes(gameTable));
    ShipRecord player(QString::fromLatin1(kDefaultShipLine));
    player.setField(16, QStringLiteral("ships\\player\\corsair_scene"));
    player.setIdentifier(QStringLiteral("SS_SH_PLAYER_CORSAIR"));
    table.entries << player.line();
    const QByteArray text = FormatTypeTable({}, 48, table.entries);
    const QString cat = makeBaseMod(
        f, QStringLiteral("PlayerMod"),
        {{QStringLiteral("objects\\ships\\player\\corsair_scene.bod"), "the corsair"}});
    QVERIFY(WriteArchiveFile(text.constData(), text.size(), cat + "::types\\TShips.txt", true,
                             false));
    if (copyFails)
        QVERIFY(QFile::remove(f.gameDir + "/mods/PlayerMod.dat"));
    QVERIFY(f.systemRegistry->writeString(QStringLiteral("/SKYWARD"),
                                          QStringLiteral("/Vega/ModName"),
                                          QStringLiteral("PlayerMod")));
    // A ship installed before, in a registry that names no base mod.
    ShipPackage a = ship("A");
    a.Models = {place(f, QStringLiteral("objects/a.bob"), "a")};
    QVERIFY(f.writeRegistry({a}));

    InstallerEngine& e = f.makeEngine();
    e.baseModChoices();
    QCOMPARE(e.currentBaseMod(), QStringLiteral("PlayerMod"));
    QVERIFY(!e.baseModCarried());
    f.prompter.answers = {answer};
    QCOMPARE(e.updateMod(), updated);
    QCOMPARE(f.prompter.asked.size(), copyFails ? 1 : 0);
    QCOMPARE(e.updateDeclined(), copyFails && answer == 1);
    QCOMPARE(f.systemRegistry->readString(QStringLiteral("/SKYWARD"),
                                          QStringLiteral("/Vega/ModName")),
             updated ? QStringLiteral("Hullwright") : QStringLiteral("PlayerMod"));
    if (!updated) {
        QVERIFY(!f.modEntries().contains(QStringLiteral("types\\TShips.pck")));
        QCOMPARE(e.currentBaseMod(), QStringLiteral("PlayerMod"));
        return;
    }
    // The game never loads a table naming a model it cannot find.
    QCOMPARE(missingScenes(f), QStringList());
    bool named = false;
    for (const QString& line : f.modLines("types\\TShips.pck"))
        named = named || line.endsWith(QLatin1String(";SS_SH_PLAYER_CORSAIR;"));
    QCOMPARE(named, playerShip);
    QCOMPARE(e.baseModCarried(), true);
    QCOMPARE(f.savedRegistry().ModName, playerShip ? QStringLiteral("PlayerMod") : kNoMod);
    QCOMPARE(f.modEntry("objects\\a.pbb"), QByteArray("a"));
}

void TestBaseMod::gameLanguageQuestion_data()
{
    QTest::addColumn<QByteArray>("langDat"); // empty: no file
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("option2");
    QTest::addColumn<int>("custom2");
    QTest::newRow("accepted") << QByteArray("49\r\n") << 2 << 0 << true << 2 << 49;
    QTest::newRow("declined") << QByteArray("49") << 2 << 1 << true << 2 << 33;
    QTest::newRow("list entry") << QByteArray("49") << 1 << 0 << true << 2 << 49;
    QTest::newRow("game in English") << QByteArray("44") << 2 << 0 << false << 2 << 33;
    QTest::newRow("same language") << QByteArray("33") << 2 << 0 << false << 2 << 33;
    QTest::newRow("no extra language") << QByteArray("49") << 0 << 0 << false << 0 << 33;
    QTest::newRow("no lang.dat") << QByteArray() << 2 << 0 << false << 2 << 33;
    QTest::newRow("not a number") << QByteArray("x") << 2 << 0 << false << 2 << 33;
}

void TestBaseMod::gameLanguageQuestion()
{
    QFETCH(QByteArray, langDat);
    QFETCH(int, option);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(int, option2);
    QFETCH(int, custom2);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    QFile::remove(f.gameDir + "/lang.dat");
    if (!langDat.isEmpty())
        QVERIFY(writeBytes(f.gameDir + "/lang.dat", langDat));
    f.installerTexts[48] = QStringLiteral("I48 %1");
    f.settings.textOption = option;
    f.settings.textSelect = 1;
    f.settings.textCustom = 33;
    f.prompter.answers = {answer};
    InstallerEngine::Services services = f.services();
    services.knownLanguageIds = {44, 33};
    InstallerEngine e(services, f.settings);
    e.setGameDir(f.gameDir);
    QCOMPARE(f.prompter.asked.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(f.prompter.asked.first().text, QStringLiteral("I48 49"));
    QCOMPARE(f.settings.textOption, option2);
    QCOMPARE(f.settings.textCustom, custom2);
}

QTEST_GUILESS_MAIN(TestBaseMod)
#include "tst_basemod.moc"
