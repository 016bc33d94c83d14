// Dry runs change nothing and show what the real run does; the installation check
// finds each planted fault; the conflict report tells same bytes from different ones.

#include "changepreview.h"
#include "conflicts.h"
#include "enginefixture.h"
#include "gamesnapshot.h"
#include "rawpair.h"
#include "uitexts.h"
#include "verify.h"

#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

using Operation = std::function<bool(InstallerEngine&, QStringList*)>;

const QString kAuthor = QStringLiteral("Orrin Vale");

// A base mod in the game's mods folder: one entry a ship also brings, one of its own.
bool makeBaseMod(const QString& gameDir)
{
    const QString cat = gameDir + QStringLiteral("/mods/Other.cat");
    const QByteArray a = "base copy of the engine part";
    const QByteArray b = "a texture only the base mod has";
    QDir().mkpath(gameDir + QStringLiteral("/mods"));
    return EnsureCatalog(cat) &&
           WriteArchiveFile(a.constData(), a.size(),
                            cat + "::objects\\ships\\parts\\vale_engine.pbd", false, false) &&
           WriteArchiveFile(b.constData(), b.size(), cat + "::textures\\base.tga", false, false);
}

} // namespace

class TestCheckup : public QObject
{
    Q_OBJECT

    // The fixture's game with both sample ships installed and the mod updated.
    bool prepare(EngineFixture& f, bool update = true)
    {
        InstallerEngine& e = f.makeEngine(false);
        for (const QString& pkg : f.samplePackages())
            if (e.install(pkg, nullptr, false).status != 0)
                return false;
        return !update || e.updateMod();
    }

private slots:
    void dryRunMatchesRealRun_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("prepared");
        QTest::addColumn<int>("baseType");
        // A sparse scratch copy, beside a mod entry too large to be copied into it.
        QTest::addColumn<bool>("sparse");
        const auto row = [](const char* name, const char* op, bool prepared, int base, bool sparse) {
            QTest::newRow(name) << QString::fromLatin1(op) << prepared << base << sparse;
        };
        row("install", "install", false, 0, false);
        row("reinstall", "install", true, 0, false);
        row("update-mod", "update-mod", false, 0, false);
        row("uninstall", "uninstall", true, 0, false);
        row("disable", "disable", true, 0, false);
        row("enable", "enable", true, 0, false);
        row("base-mod", "base-mod", true, 0, false);
        row("base-mod fake patch", "base-mod", true, 1, false);
        row("base-mod none", "base-mod none", true, 0, false);
        row("sparse install", "install", false, 0, true);
        row("sparse reinstall", "install", true, 0, true);
        row("sparse update-mod", "update-mod", false, 0, true);
        // The large entry itself rewritten: other bytes, the same bytes, another size.
        row("sparse large entry replaced", "rewrite large", true, 0, true);
        row("sparse large entry rewritten the same", "rewrite large same", true, 0, true);
        row("sparse large entry grown", "rewrite large longer", true, 0, true);
    }

    void dryRunMatchesRealRun()
    {
        QFETCH(QString, operation);
        QFETCH(bool, prepared);
        QFETCH(int, baseType);
        QFETCH(bool, sparse);
        EngineFixture f;
        QVERIFY2(f.ok(), qPrintable(f.error));
        QVERIFY(makeBaseMod(f.gameDir));
        // Before the ships' entries, so that their changes move it in the data file.
        const QString large = f.gameDir + "/mods/Hullwright.cat::textures\\large.dds";
        QByteArray largeBytes(int(ScratchGame::kSparseCopyLimit + 4097), 'L');
        largeBytes[7] = 'x';
        if (sparse)
            QVERIFY(EnsureCatalog(f.gameDir + "/mods/Hullwright.cat") &&
                    WriteArchiveFile(largeBytes.constData(), largeBytes.size(), large, false,
                                     false));
        f.settings.baseType = baseType;
        const QStringList packages = f.samplePackages();
        if (prepared)
            QVERIFY(prepare(f));
        else if (operation == QLatin1String("update-mod"))
            QVERIFY(prepare(f, false));
        else
            f.makeEngine(false);
        InstallerEngine& engine = *f.engine;
        if (operation == QLatin1String("enable"))
            QVERIFY(engine.setShipEnabled(engine.findShip(QStringLiteral("Goosander"), kAuthor),
                                          false));
        if (operation == QLatin1String("base-mod none")) {
            QVERIFY(engine.selectBaseMod(QStringLiteral("Other")) && engine.createMod());
            QVERIFY(engine.updateMod());
        }

        const Operation op = [&](InstallerEngine& e, QStringList* said) -> bool {
            const int goosander = e.findShip(QStringLiteral("Goosander"), kAuthor);
            if (operation == QLatin1String("install")) {
                bool all = true;
                for (const QString& pkg : packages)
                    all = e.install(pkg, nullptr, false).status == 0 && all;
                return all;
            }
            if (operation == QLatin1String("update-mod"))
                return e.updateMod();
            if (operation.startsWith(QLatin1String("rewrite large"))) {
                QByteArray bytes = largeBytes;
                if (!operation.endsWith(QLatin1String("same")))
                    bytes[bytes.size() / 2] = 'y';
                if (operation.endsWith(QLatin1String("longer")))
                    bytes += "more";
                return WriteArchiveFile(bytes.constData(), bytes.size(),
                                        e.gameDir() + "/mods/Hullwright.cat::textures\\large.dds",
                                        false, false);
            }
            if (operation == QLatin1String("uninstall"))
                return e.uninstallShip(goosander, false);
            if (operation == QLatin1String("disable"))
                return e.setShipEnabled(goosander, false);
            if (operation == QLatin1String("enable"))
                return e.setShipEnabled(goosander, true);
            const QString mod = operation == QLatin1String("base-mod") ? QStringLiteral("Other")
                                                                       : e.baseModChoices().first();
            *said << e.gameDir();
            return e.selectBaseMod(mod) && e.createMod();
        };

        const GameSnapshot::Snapshot untouched = GameSnapshot::snapshot(f.gameDir);
        const QByteArray selected = readBytes(f.programDir + "/registry.ini");
        const GameState before = CaptureGameState(f.gameDir, f.systemRegistry.get());
        const DryRunResult dry =
            DryRun(f.gameDir, f.services(false), f.settings, op, &engine,
                   sparse ? ScratchGame::ModCopy::Sparse : ScratchGame::ModCopy::Whole);
        QVERIFY2(dry.ran, qPrintable(dry.error));
        QVERIFY(dry.succeeded);
        QCOMPARE(dry.outcome, QStringList{f.gameDir}.mid(operation.startsWith("base") ? 0 : 1));
        // Nothing of the game changed, nor the registry value it reads.
        QCOMPARE(GameSnapshot::firstDifference(untouched, GameSnapshot::snapshot(f.gameDir)),
                 QString());
        QCOMPARE(readBytes(f.programDir + "/registry.ini"), selected);
        // Reinstalling the same packages (or storing the same bytes) changes nothing at all.
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QCOMPARE(dry.preview.isEmpty(), tag.endsWith("reinstall") || tag.endsWith("the same"));

        QStringList ignored;
        QVERIFY(op(engine, &ignored));
        const ChangePreview real =
            DiffGameStates(before, CaptureGameState(f.gameDir, f.systemRegistry.get()));
        QCOMPARE(dry.preview.lines(), real.lines());
        QVERIFY(dry.preview == real);
    }

    void previewNamesWhatChanges()
    {
        EngineFixture f;
        QVERIFY(f.ok());
        QVERIFY(prepare(f));
        InstallerEngine& e = *f.engine;
        const int slot = 300 + e.findShip(QStringLiteral("Goosander"), kAuthor);
        const DryRunResult r = DryRun(
            f.gameDir, f.services(false), f.settings,
            [](InstallerEngine& x, QStringList*) {
                return x.uninstallShip(x.findShip(QStringLiteral("Goosander"), kAuthor), false) &&
                       x.updateMod();
            },
            &e);
        QVERIFY(r.ran && r.succeeded);
        QVERIFY(std::any_of(r.preview.rows.cbegin(), r.preview.rows.cend(), [&](const auto& row) {
            return row.index == slot && row.after.endsWith("HULLWRIGHT_DELETED_1;");
        }));
        QVERIFY(std::any_of(r.preview.texts.cbegin(), r.preview.texts.cend(), [](const auto& t) {
            return t.page == 17 && t.before == QLatin1String("Goosander");
        }));
    }

    void verifyFindsPlantedFaults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("names");
        QTest::newRow("healthy") << QString() << QString();
        QTest::newRow("flipped entry") << QString("entry") << QString("goosander_body.pbb");
        QTest::newRow("missing file") << QString("missing") << QString("Merganser by Orrin Vale");
        QTest::newRow("stale table") << QString("stale") << QString("types\\TShips.pck");
        QTest::newRow("not updated") << QString("stale") << QString("types\\TShips.pck");
        QTest::newRow("orphan entry") << QString("orphan") << QString("stray.txt");
        QTest::newRow("pending journal") << QString("journal") << QString("interrupted");
        QTest::newRow("data file too short") << QString("mod") << QString("data file holds");
        QTest::newRow("broken registry") << QString("registry") << QString("ships.dat");
        QTest::newRow("disabled ship's file gone") << QString("missing") << QString("Slipway");
    }

    void verifyFindsPlantedFaults()
    {
        const QByteArray fault = QTest::currentDataTag();
        QFETCH(QString, kind);
        QFETCH(QString, names);
        EngineFixture f;
        QVERIFY(f.ok());
        QVERIFY(prepare(f));
        const QString cat = f.modCatalog();
        const QString dat = f.gameDir + "/mods/Hullwright.dat";
        if (fault == "flipped entry") {
            qint64 offset = -1; // as the game counts: fillers take room too
            for (const RawPair::Entry& e : RawPair::read(cat).entries)
                if (e.name.endsWith("goosander_body.pbb"))
                    offset = e.offset + e.size / 2;
            QVERIFY(offset >= 0);
            QByteArray bytes = readBytes(dat);
            bytes[offset] = char(bytes[offset] ^ 0x55);
            QVERIFY(writeBytes(dat, bytes));
        } else if (fault == "missing file") {
            QVERIFY(RemoveArchiveFile(cat + "::objects\\ships\\fighters\\merganser_body.pbb"));
        } else if (fault == "stale table") {
            const QByteArray table = "48;1;\n" + QByteArray(kDefaultShipLine) + "\n";
            QVERIFY(WriteArchiveFile(table.constData(), table.size(), cat + "::types\\TShips.txt",
                                     true, false));
        } else if (fault == "not updated") {
            const QString pkg = f.writePackage(
                EngineFixture::simplePackage(QStringLiteral("Smew"), kAuthor, "1", "OV-SMEW"),
                QStringLiteral("Smew.xsp"));
            QCOMPARE(f.engine->install(pkg, nullptr, false).status, 0);
        } else if (fault == "orphan entry") {
            const QByteArray x = "left behind";
            QVERIFY(WriteArchiveFile(x.constData(), x.size(), cat + "::stray.txt", false, false));
        } else if (fault == "pending journal") {
            QVERIFY(QDir().mkpath(GameChange::journalDir(f.gameDir)));
            QVERIFY(writeBytes(GameChange::journalDir(f.gameDir) + QStringLiteral("/index"), "x"));
        } else if (fault == "data file too short") {
            QFile d(dat);
            QVERIFY(d.resize(d.size() - 8));
        } else if (fault == "broken registry") {
            QVERIFY(writeBytes(f.registryFile(), readBytes(f.registryFile()) + "garbage line\n"));
        } else if (fault == "disabled ship's file gone") {
            QVERIFY(f.engine->setShipEnabled(
                f.engine->findShip(QStringLiteral("Merganser"), kAuthor), false));
            QVERIFY(
                QFile::remove(f.gameDir + "/Slipway/objects/ships/fighters/merganser_body.bob"));
        }
        f.engine.reset(); // a check runs beside no writer

        const GameSnapshot::Snapshot untouched = GameSnapshot::snapshot(f.gameDir);
        const VerifyReport report = VerifyInstallation(f.gameDir, f.services(false), f.settings);
        QCOMPARE(GameSnapshot::firstDifference(untouched, GameSnapshot::snapshot(f.gameDir)),
                 QString());
        if (kind.isEmpty()) {
            QVERIFY2(report.ok(), qPrintable(report.lines().join('\n')));
            QVERIFY(report.entriesChecked > 10);
            QCOMPARE(report.shipsChecked, 2);
            return;
        }
        bool found = false;
        for (const VerifyProblem& p : report.problems)
            found = found || (p.kind == kind && p.message.contains(names));
        QVERIFY2(found, qPrintable(report.lines().join('\n')));

        // The window shows the problems in the user's language: with the shipped
        // English texts exactly what scripts read (without the ship), in German
        // something else, with the same names.
        for (const char* language : {"English", "Deutsch"}) {
            UiTexts texts(UiTexts::Program::Installer);
            QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QLatin1String(language)));
            InstallerEngine::Services s = f.services(false);
            s.installerTexts = &texts.ownTexts();
            s.sharedTexts = &texts.sharedTexts();
            const VerifyReport shown = VerifyInstallation(f.gameDir, s, f.settings);
            QCOMPARE(shown.lines(), report.lines());
            for (const VerifyProblem& p : shown.problems) {
                const QString bare = p.ship.isEmpty() ? p.message : p.message.section(": ", 1, -1);
                // The archive library's detail is worded plainer by the catalogue.
                if (QLatin1String(language) == QLatin1String("English") && p.kind == QLatin1String("entry"))
                    QVERIFY2(p.shown.startsWith(bare.section(QStringLiteral(": "), 0, 0) + QStringLiteral(": ")),
                             qPrintable(p.shown));
                else if (QLatin1String(language) == QLatin1String("English"))
                    QCOMPARE(p.shown, bare);
                else
                    QVERIFY2(p.shown != bare, qPrintable(p.shown));
            }
            // The details from below are worded in the language too.
            if (QLatin1String(language) == QLatin1String("Deutsch")) {
                QStringList shownTexts;
                for (const VerifyProblem& p : shown.problems)
                    shownTexts << p.shown;
                const QString all = shownTexts.join(QLatin1Char('\n'));
                if (fault == "flipped entry")
                    QVERIFY2(all.contains(QStringLiteral("gepackte Datei: ")), qPrintable(all));
                if (fault == "broken registry")
                    QVERIFY2(all.contains(QString::fromUtf8(": Zeile ")) &&
                                 all.contains(QString::fromUtf8("unbekannte Zeile au\xc3\x9f" "erhalb eines "
                                                            "Schiffsblocks")),
                             qPrintable(all));
            }
        }
    }

    void conflicts()
    {
        EngineFixture f;
        QVERIFY(f.ok());
        QVERIFY(makeBaseMod(f.gameDir));
        // Both bring objects/same.bod with one set of bytes and objects/shared.bod with two.
        ShipPackage a = EngineFixture::simplePackage("Teal", kAuthor, "1", "OV-TEAL");
        ShipPackage b = EngineFixture::simplePackage("Wigeon", kAuthor, "1", "OV-WIGEON");
        ShipPackage c = EngineFixture::simplePackage("Pintail", kAuthor, "1", "OV-PINTAIL");
        f.addFile(a, KindModel, "objects/same.bod", 100, "same bytes");
        f.addFile(b, KindModel, "objects/same.bod", 100, "same bytes");
        f.addFile(a, KindModel, "objects/shared.bod", 100, "teal's copy");
        f.addFile(b, KindModel, "objects/Shared.bod", 200, "wigeon's copy");
        f.addFile(c, KindModel, "objects/shared.bod", 300, "teal's copy");
        f.addFile(a, KindModel, "objects/ships/parts/vale_engine.bod", 100, "teal's engine");
        const QString pa = f.writePackage(a, "Teal.xsp");
        const QString pb = f.writePackage(b, "Wigeon.xsp");
        const QString pc = f.writePackage(c, "Pintail.xsp");

        InstallerEngine& e = f.makeEngine(false);
        QCOMPARE(e.install(pa, nullptr, false).status, 0);
        QCOMPARE(e.install(pb, nullptr, false).status, 0);
        QVERIFY(e.selectBaseMod(QStringLiteral("Other")) && e.createMod());

        ConflictReport installed = FindConflicts(f.gameDir, e.registry());
        QCOMPARE(installed.files.size(), 1);
        const FileConflict& shared = installed.files.first();
        QCOMPARE(shared.entry.toLower(), QStringLiteral("objects\\shared.pbd"));
        QCOMPARE(shared.copies.size(), 2);
        QCOMPARE(shared.copies[shared.seen].ship, QStringLiteral("Wigeon")); // the newer copy
        QCOMPARE(installed.baseOverrides.size(), 1);
        QCOMPARE(installed.baseOverrides.first().ship.ship, QStringLiteral("Teal"));
        QVERIFY(installed.baseOverrides.first().shipSeen); // ships' files win over the base mod's

        // Packages count by their bytes: Pintail's copy is Teal's, Wigeon's is not.
        ShipRegistry none;
        QCOMPARE(FindConflicts(f.gameDir, none, {pa, pc}, f.programDir).files.size(), 0);
        ConflictReport three = FindConflicts(f.gameDir, none, {pa, pb, pc}, f.programDir);
        QCOMPARE(three.files.size(), 1);
        QCOMPARE(three.files.first().copies[three.files.first().seen].ship,
                 QStringLiteral("Pintail"));

        // A package of an installed ship stands in for it.
        ConflictReport update = FindConflicts(f.gameDir, e.registry(), {pc}, f.programDir);
        QCOMPARE(update.files.size(), 1);
        QCOMPARE(update.files.first().copies.size(), 3);
        QCOMPARE(
            FindConflicts(f.gameDir, e.registry(), {"/nowhere.xsp"}, f.programDir).errors.size(),
            1);
    }
};

QTEST_GUILESS_MAIN(TestCheckup)
#include "tst_checkup.moc"
