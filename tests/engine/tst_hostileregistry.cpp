// A registry written to do harm: names that climb out of their folder, absolute
// names, and folders of the game directory that are links to somewhere else. Every
// step that deletes, copies or writes a file named in the registry runs over it;
// nothing outside the folder a name belongs to may change.
#include "enginefixture.h"
#include "gamesnapshot.h"

#include <QtTest>

namespace {

ShipPackage hostileShip(const QString& name)
{
    ShipPackage s = EngineFixture::simplePackage(name, QStringLiteral("Mallory"),
                                                 QStringLiteral("1"), name.toUpper());
    s.Enabled = true;
    return s;
}

PackageFile named(const QString& name)
{
    PackageFile f;
    f.Name = name;
    f.Size = 6;
    f.Time = 1000;
    return f;
}

} // namespace

class TestHostileRegistry : public QObject
{
    Q_OBJECT
private slots:
    void nothingOutsideChanges_data();
    void nothingOutsideChanges();
};

void TestHostileRegistry::nothingOutsideChanges_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("disabled"); // the ships are registered disabled

    QTest::newRow("loading screens off") << "screens off" << false;
    QTest::newRow("loading screens on") << "screens on" << false;
    QTest::newRow("uninstall") << "uninstall" << false;
    QTest::newRow("uninstall a disabled ship") << "uninstall" << true;
    QTest::newRow("disable") << "disable" << false;
    QTest::newRow("enable") << "enable" << true;
    QTest::newRow("update over the ship") << "update" << false;
    QTest::newRow("update over a disabled ship") << "update" << true;
    QTest::newRow("update mod with the base mod") << "update mod" << false;
    QTest::newRow("redo the base mod") << "redo base mod" << false;
}

void TestHostileRegistry::nothingOutsideChanges()
{
    QFETCH(QString, step);
    QFETCH(bool, disabled);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    f.settings.loadingScreens = step != QLatin1String("screens on");

    // What must survive: the game's executable, and a folder beside the game
    // holding files of the names the registry uses.
    const QString outside = f.root.filePath(QStringLiteral("outside"));
    for (const char* name : {"victim.txt", "x.bod", "pic.jpg", "hw.s.xml", "cp.bod"})
        QVERIFY(writeBytes(outside + QLatin1Char('/') + QLatin1String(name), "keep me"));
    QVERIFY(EnsureCatalog(outside + QStringLiteral("/evil.cat")));
    QVERIFY(WriteArchiveFile("evil", 4, outside + QStringLiteral("/evil.cat::objects\\evil.pbd"),
                             false, false));
    // Folders of the game that lead out; Slipway itself holds the registry.
    QDir().mkpath(f.gameDir + QStringLiteral("/Slipway/ShipPics"));
    for (const char* folder : {"loadscr", "Slipway/objects", "Scripts", "scripts"}) {
        const QString path = f.gameDir + QLatin1Char('/') + QLatin1String(folder);
        QVERIFY(QDir(path).removeRecursively());
        if (folder != QByteArrayView("scripts"))
            QVERIFY(QFile::link(outside, path));
    }
    QVERIFY(writeBytes(f.gameDir + QStringLiteral("/Slipway/ShipPics/pic.jpg"), "picture"));

    // Through a linked folder, by climbing, by an absolute name.
    ShipPackage linked = hostileShip(QStringLiteral("Linked"));
    linked.Models = {named(QStringLiteral("objects/x.bod"))};
    linked.SceneFile = named(QStringLiteral("objects/cp.bod"));
    linked.Scripts = {named(QStringLiteral("hw.s.xml"))};
    linked.ScreenShot = QStringLiteral("pic.jpg");
    ShipPackage climber = hostileShip(QStringLiteral("Climber"));
    climber.Files = {named(QStringLiteral("../vega.exe")),
                     named(QStringLiteral("../../outside/victim.txt"))};
    climber.CockpitFile = named(QStringLiteral("../vega.exe"));
    climber.Scripts = {named(QStringLiteral("../vega.exe"))};
    climber.ScreenShot = QStringLiteral("../vega.exe");
    ShipPackage absolute = hostileShip(QStringLiteral("Absolute"));
    absolute.Models = {named(outside + QStringLiteral("/x.bod"))};
    absolute.ScreenShot = outside + QStringLiteral("/victim.txt");
    ShipPackage deeper = hostileShip(QStringLiteral("Deeper"));
    deeper.ScreenShot = QStringLiteral("../../outside/victim.txt");
    QList<ShipPackage> ships{linked, climber, absolute, deeper};
    for (ShipPackage& s : ships)
        s.Enabled = !disabled;
    QVERIFY(f.writeRegistry(ships, 0, QStringLiteral("../../outside/evil")));

    QStringList packages;
    for (const ShipPackage& s : std::as_const(ships)) {
        const ShipPackage again = EngineFixture::simplePackage(s.Name, QStringLiteral("Mallory"),
                                                               QStringLiteral("2"), s.ID);
        packages << f.writePackage(again, again.Name + QStringLiteral(".xsp"));
        QVERIFY(!packages.last().isEmpty());
    }

    const GameSnapshot::Snapshot before = GameSnapshot::snapshot(outside);
    const QByteArray exe = readBytes(f.gameDir + QStringLiteral("/vega.exe"));
    const QStringList besideGame = QDir(f.root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    InstallerEngine& e = f.makeEngine();
    QCOMPARE(e.registry().Ships.size(), 4);
    for (int i = 0; i < 4; ++i) {
        if (step == QLatin1String("screens off")) {
            e.removeAllLoadingScreens();
            break;
        }
        if (step == QLatin1String("screens on")) {
            e.copyAllLoadingScreens();
            break;
        }
        if (step == QLatin1String("update mod")) {
            e.updateMod();
            break;
        }
        if (step == QLatin1String("redo base mod")) {
            if (e.redoBaseMod())
                e.createMod();
            break;
        }
        if (step == QLatin1String("uninstall"))
            e.uninstallShip(i, false);
        else if (step == QLatin1String("disable"))
            e.setShipEnabled(i, false);
        else if (step == QLatin1String("enable"))
            e.setShipEnabled(i, true);
        else if (step == QLatin1String("update"))
            QCOMPARE(e.install(packages.at(i), nullptr, false).status, 0);
    }

    QCOMPARE(readBytes(f.gameDir + QStringLiteral("/vega.exe")), exe);
    QVERIFY(GameSnapshot::snapshot(outside) == before);
    QCOMPARE(QDir(f.root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), besideGame);
    // Each refusal is said in the log.
    QVERIFY2(!f.logLines.filter(QStringLiteral("Refused file name")).isEmpty(),
             qPrintable(f.logLines.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestHostileRegistry)
#include "tst_hostileregistry.moc"
