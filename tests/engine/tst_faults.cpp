// Every installer operation with a failing write, sync, rename or remove at each
// step in turn: afterwards the game directory is exactly as before, or, when the
// operation says it succeeded, as after a run without faults.
#include "archivefile.h"
#include "enginefixture.h"
#include "fileio.h"
#include "gamechange.h"
#include "gamesnapshot.h"

#include <QtTest>

#include <cerrno>
#include <functional>

using namespace GameSnapshot;

namespace {

// The game's own value store as under Wine, when system.reg cannot be written.
class RefusingRegistry : public SystemRegistry
{
public:
    QString readString(const QString&, const QString&) const override { return {}; }
    bool writeString(const QString&, const QString&, const QString&) override { return false; }
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyStepFails_data();
    void everyStepFails();
    void secondWriterIsRefused();
    void refusedGameValueFailsUpdateMod();
    void handEditedNamesStayInside();
};

void TestFaults::initTestCase()
{
    // Thousands of synced steps: in memory they take seconds instead of minutes,
    // and the faults come by call count, so a RAM folder loses nothing.
    if (const QString ram = GameSnapshot::ramTempDir(); !ram.isEmpty())
        qputenv("TMPDIR", ram.toLocal8Bit());
}

using Operation = std::function<bool(InstallerEngine&, const QStringList& packages)>;
Q_DECLARE_METATYPE(Operation)

void TestFaults::everyStepFails_data()
{
    using E = InstallerEngine;
    using P = const QStringList;
    QTest::addColumn<Operation>("prepare");
    QTest::addColumn<Operation>("operation");
    const Operation one = [](E& e, P& p) {
        return e.install(p.at(0), nullptr, false).status == 0 && e.updateMod();
    };
    QTest::newRow("install") << Operation() << Operation([](E& e, P& p) {
        return e.install(p.at(0), nullptr, false).status == 0;
    });
    // Both installed, or (a failed commit) neither: a failure part-way is rolled
    // back and the packages are installed again.
    QTest::newRow("install many") << Operation() << Operation([](E& e, P& p) {
        bool all = true;
        e.installMany(p.mid(0, 2),
                      [&all](qsizetype, const InstallResult& r) { all = all && r.status == 0; });
        return all;
    });
    QTest::newRow("update mod") << Operation([](E& e, P& p) {
        return e.install(p.at(0), nullptr, false).status == 0 && e.updateMod() &&
               e.install(p.at(1), nullptr, false).status == 0;
    }) << Operation([](E& e, P&) { return e.updateMod(); });
    QTest::newRow("uninstall") << one
                               << Operation([](E& e, P&) { return e.uninstallShip(0, false); });
    QTest::newRow("disable") << one
                             << Operation([](E& e, P&) { return e.setShipEnabled(0, false); });
    QTest::newRow("enable") << Operation([one](E& e, P& p) {
        return one(e, p) && e.setShipEnabled(0, false);
    }) << Operation([](E& e, P&) { return e.setShipEnabled(0, true); });
    // A base mod of its own beside the Hullwright mod, carried in as a copy or as a fake patch.
    const Operation withBase = [one](E& e, P& p) {
        const QString cat = e.gameDir() + QStringLiteral("/mods/Base.cat");
        return one(e, p) && EnsureCatalog(cat) &&
               WriteArchiveFile("base table", 10, cat + QStringLiteral("::types\\TLaser.txt"), true,
                                false) &&
               WriteArchiveFile("base model", 10, cat + QStringLiteral("::objects\\base.bod"), true,
                                false);
    };
    const Operation select = [](E& e, P&) {
        e.baseModChoices();
        return e.selectBaseMod(QStringLiteral("Base")) && e.createMod();
    };
    QTest::newRow("base mod") << withBase << select;
    QTest::newRow("fake patch") << withBase << select;
}

void TestFaults::everyStepFails()
{
    QFETCH(Operation, prepare);
    QFETCH(Operation, operation);
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    QVERIFY(!packages.isEmpty());
    f.settings.baseType = QByteArray(QTest::currentDataTag()) == "fake patch" ? 1 : 0;
    if (prepare) {
        QVERIFY(prepare(f.makeEngine(false), packages));
        f.engine.reset();
    }
    const QString pristine = f.root.filePath(QStringLiteral("pristine"));
    QVERIFY(copyTree(f.gameDir, pristine));
    const Snapshot before = snapshot(f.gameDir);

    // A clean run: how many steps there are, and what "done" looks like.
    fio::resetCount();
    QVERIFY(operation(f.makeEngine(false), packages));
    f.engine.reset();
    const long steps = fio::callCount();
    const Snapshot done = snapshot(f.gameDir);
    QVERIFY(steps > 10);

    static const int errors[] = {ENOSPC, EIO, EACCES};
    const long only = qEnvironmentVariableIntValue("VEGA_FAULT_STEP");
    for (long step = only > 0 ? only : 1; step <= (only > 0 ? only : steps); ++step) {
        QVERIFY(QDir(f.gameDir).removeRecursively() && copyTree(pristine, f.gameDir));
        InstallerEngine& e = f.makeEngine(false);
        const QByteArray memory = RegistryText(e.registry());
        fio::injectFault(step, errors[step % 3]);
        const bool ok = operation(e, packages);
        fio::clearFault();
        // A failed change is undone in memory too: the next save would bring it back.
        QString diff = ok || RegistryText(e.registry()) == memory
                           ? QString()
                           : QStringLiteral("the ship list in memory keeps the change");
        f.engine.reset();
        if (only > 0)
            qDebug().noquote() << f.logLines.join(QLatin1Char('\n'));
        Snapshot after = snapshot(f.gameDir);
        Snapshot expected = ok ? done : before;
        if (ok && QByteArray(QTest::currentDataTag()) == "install many") {
            // A package installed again on its own after a failure is one more
            // registry write: the backup then holds the registry between the two.
            after.erase(QStringLiteral("Slipway/ships.dat.bak"));
            expected.erase(QStringLiteral("Slipway/ships.dat.bak"));
        }
        if (diff.isEmpty())
            diff = firstDifference(expected, after);
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("fault at step %1 of %2 (%3): %4")
                                                .arg(step)
                                                .arg(steps)
                                                .arg(ok ? "reported done" : "reported failed")
                                                .arg(diff)));
        QVERIFY(!QFileInfo::exists(GameChange::journalDir(f.gameDir)));
    }
}

void TestFaults::secondWriterIsRefused()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    InstallerEngine& first = f.makeEngine(false);
    QVERIFY(first.writeRefusal().isEmpty());
    InstallerEngine second(f.services(false), f.settings);
    second.setGameDir(f.gameDir); // the same process counts too: two windows, two engines
    QVERIFY(!second.writeRefusal().isEmpty());
    const Snapshot before = snapshot(f.gameDir);
    const InstallResult r = second.install(packages.at(0), nullptr, false);
    QCOMPARE(r.status, 1);
    QCOMPARE(firstDifference(before, snapshot(f.gameDir)), QString());
    f.engine.reset(); // the first writer closes: the lock is free again
    second.setGameDir(f.gameDir);
    QVERIFY(second.writeRefusal().isEmpty());
    QCOMPARE(second.install(packages.at(0), nullptr, false).status, 0);
}

void TestFaults::refusedGameValueFailsUpdateMod()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    const QStringList packages = f.samplePackages();
    f.systemRegistry = std::make_unique<RefusingRegistry>();
    InstallerEngine& e = f.makeEngine(false);
    QCOMPARE(e.install(packages.at(0), nullptr, false).status, 0);
    const Snapshot before = snapshot(f.gameDir);
    QVERIFY(!e.updateMod());
    QCOMPARE(firstDifference(before, snapshot(f.gameDir)), QString());
}

// A registry edited by hand names a ship's script and picture with paths:
// uninstalling the ship must not delete the game's own files.
void TestFaults::handEditedNamesStayInside()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    InstallerEngine& e = f.makeEngine(false);
    QCOMPARE(e.install(f.samplePackages().at(0), nullptr, false).status, 0);
    ShipPackage& ship = e.registry().Ships[0];
    ship.Scripts.append(PackageFile());
    ship.Scripts.last().Name = QStringLiteral("../vega.exe");
    ship.ScreenShot = QStringLiteral("../../vega.exe");
    e.uninstallShip(0, false);
    QVERIFY(QFileInfo::exists(f.gameDir + QStringLiteral("/vega.exe")));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
