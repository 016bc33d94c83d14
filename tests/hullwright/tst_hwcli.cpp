// hullwright-cli and hullwright's extraction run as programs: packages they make
// must install with drydock-cli exactly like packages made by hand.
#include "archivefile.h"
#include "editmode.h"
#include "gamechange.h"
#include "gamedir.h"
#include "registry.h"
#include "hwtest.h"
#include "installcheck.h"
#include "packagebuild.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "testfiles.h"
#include "xspfile.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestHullwrightCli : public QObject
{
    Q_OBJECT

    QString dd() const { return m_program + "/drydock-cli"; }
    QString hw() const { return m_program + "/hullwright-cli"; }

    // A new sample game, copied: making one takes seconds.
    bool copyGame(const QString& game) const
    {
        return run("cp", {"-a", m_tmp.filePath("sample-game"), game}).code == 0;
    }

    // Installs the packages into a new sample game, updates the mod and returns
    // the registry listing and every entry of the mod, unpacked.
    QByteArray installed(const QStringList& packages)
    {
        const QString game = m_tmp.filePath(QStringLiteral("game%1").arg(++m_games));
        if (!copyGame(game) || run(dd(), QStringList{"install", game} + packages).code != 0 ||
            run(dd(), {"update-mod", game}).code != 0)
            return "<install failed>";
        QByteArray out = run(dd(), {"list", game}).out;
        const QString cat = game + "/mods/Hullwright.cat";
        for (const CatalogEntryInfo& e : ListCatalog(cat)) {
            QByteArray bytes;
            if (!ExtractArchiveFile(cat + "::" + e.name, game + "/entry.out", false, false))
                bytes = "<not extracted>";
            else if (!e.name.contains("9001")) // page 9001 lists when the mod was made
                bytes = readFile(game + "/entry.out");
            out += e.name.toUtf8() + ' ' + QByteArray::number(qHash(bytes)) + '\n';
        }
        const QDir scripts(game + "/scripts");
        for (const QString& f : scripts.entryList(QDir::Files, QDir::Name))
            out += "script " + f.toUtf8() + ' ' +
                   QByteArray::number(qHash(readFile(scripts.filePath(f)))) + '\n';
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_program = m_tmp.filePath("program");
        QVERIFY(copyProgramFiles(QFileInfo(QStringLiteral(DRYDOCK_CLI_PATH)).absolutePath(), m_program,
                                 {"drydock-cli", "hullwright-cli", "hw_languages.xml"}));
        QCOMPARE(run(dd(), {"make-sample-game", m_tmp.filePath("sample-game")}).code, 0);
        m_samples = m_tmp.filePath("sample-game/sample-ships");
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        for (const QStringList& r : tableRows("cli-exit-codes.tsv"))
            QTest::newRow(qPrintable(r[0])) << r[1].split('|', Qt::SkipEmptyParts) << r[2].toInt();
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QVERIFY(writeFile(m_samples + "/damaged.xsp",
                          readFile(m_samples + "/Goosander.xsp").left(300)));
        QVERIFY(writeFile(m_samples + "/blocked/types", "a file"));
        args.replaceInStrings("@", m_samples);
        const Result r = run(hw(), args);
        QCOMPARE(r.code, code);
        if (code == 1)
            QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(!QFileInfo::exists(m_samples + "/none"));
        QVERIFY(!QFileInfo::exists(m_samples + "/o.xsp"));
    }

    // "new" builds what a hand-made package of the same ship holds; with --fast
    // (wherever it stands) it is encoded quicker and installs the same.
    void newInstallsLikeHandMade_data()
    {
        QTest::addColumn<int>("fastAt"); // where --fast goes among the options; -1: not given
        QTest::newRow("standard") << -1;
        QTest::newRow("fast first") << 1;
        QTest::newRow("fast last") << 100;
    }
    void newInstallsLikeHandMade()
    {
        QFETCH(int, fastAt);
        const QString src = m_tmp.filePath("src");
        QVERIFY(writeFile(src + "/hauler_scene.bod", "scene of the hauler\n"));
        // Large enough for the two encoders to differ.
        QByteArray body = "body of the hauler\n";
        for (int i = 0; i < 4000; ++i)
            body += QByteArray::number(i * 7919 % 10007) + "; " + QByteArray::number(i % 97) + ";\n";
        QVERIFY(writeFile(src + "/hauler_body.bod", body));
        QVERIFY(writeFile(src + "/setup.hauler.xml", "<script/>\n"));
        const QString record =
            QString::fromLatin1(kDefaultShipLine).replace("HW_NEW_SHIP", "SS_SH_HAUL");
        QStringList args = {"new",          m_tmp.filePath("made"),
                            "--name",       "Fast Hauler",
                            "--author",     "Orrin Vale",
                            "--id",         "OV-HAULER",
                            "--scene",      src + "/hauler_scene.bod",
                            "--scene-name", "ships\\hauler_scene",
                            "--record",     record,
                            "--model",      "objects/ships:" + src + "/hauler_body.bod",
                            "--script",     src + "/setup.hauler.xml",
                            "--text",       "44:Fast Hauler:A hauler: fast.",
                            "--version",    "1.1"};
        if (fastAt >= 0)
            args.insert(qMin<qsizetype>(fastAt + 1, args.size()), "--fast");
        const Result made = run(hw(), args);
        QVERIFY2(made.code == 0, made.err.constData());
        QCOMPARE(EncodedModes(m_tmp.filePath("made.xsp")),
                 QList<int>{int(fastAt >= 0 ? LzmaMode::Fast : LzmaMode::Standard)});

        ShipPackage p;
        p.Name = "Fast Hauler";
        p.Author = "Orrin Vale";
        p.ID = "OV-HAULER";
        p.Version = "1.1";
        // The record names the scene and ends in the ID, as every save writes it.
        ShipRecord saved(record);
        saved.setField(kSceneField, "ships\\hauler_scene");
        saved.setIdentifier("OV-HAULER");
        p.Data = saved.line();
        p.Texts = {{44, "Fast Hauler", "A hauler: fast."}};
        auto entry = [](const QString& name, const QString& path) {
            return PackageFile{quint32(QFileInfo(path).lastModified().toSecsSinceEpoch()),
                               qint32(QFileInfo(path).size()), name, path, false};
        };
        p.SceneFile = entry("objects/ships/hauler_scene.bod", src + "/hauler_scene.bod");
        p.Models = {entry("objects/ships/hauler_body.bod", src + "/hauler_body.bod")};
        p.Scripts = {entry("setup.hauler.xml", src + "/setup.hauler.xml")};
        PackageContext context;
        context.programDir = m_tmp.path();
        QVERIFY(SavePackage(p, m_tmp.filePath("hand.xsp"), context));

        const QByteArray want = installed({m_tmp.filePath("hand.xsp")});
        QVERIFY(want.contains("hauler_body.pbd") && want.contains("script setup.hauler.xml"));
        QCOMPARE(installed({m_tmp.filePath("made.xsp")}), want);
    }

    // The sample mod's frigate, its binary models decompiled, becomes a package
    // that installs with the lines the mod's own tables give it.
    void importFromMod()
    {
        const SampleGame::ModShip want = SampleGame::ModShips().first();
        const QString dir = m_tmp.filePath("import");
        QVERIFY(SampleGame::MakeSampleMod(dir + "/mod"));
        QVERIFY(installCompiler(dir + "/compiler.sh"));
        const QString cat = dir + "/mod/" + SampleGame::ModCatalog;
        // Saved fast: the installer reads it like any other.
        const Result r = run(hw(), {"import", cat, want.id, dir + "/out", "--author", "Orrin Vale",
                                    "--fast", "--compile", dir + "/compiler.sh"});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(r.out.endsWith("saved " + (dir + "/out.xsp").toUtf8() + '\n'));
        QVERIFY(EncodedModes(dir + "/out.xsp").contains(int(LzmaMode::Fast)));
        const QString problems =
            InstallCheck::mismatch(dd(), dir + "/out.xsp", want, dir + "/installed");
        QVERIFY2(problems.isEmpty(), qPrintable(problems));

        // An unknown ship and a file that is no catalogue fail with one line; usage errors are 2.
        QCOMPARE(run(hw(), {"import", cat, "SS_SH_NONE", dir + "/none"}).code, 1);
        QCOMPARE(run(hw(), {"import", dir + "/out.xsp", want.id, dir + "/none"}).code, 1);
        QCOMPARE(run(hw(), {"import", cat, want.id}).code, 2);
        QVERIFY(!QFileInfo::exists(dir + "/none.xsp"));
    }

    // An extraction alone needs no display: hullwright runs it without a window.
    void extractWithoutDisplay()
    {
#ifndef HULLWRIGHT_PATH
        QSKIP("built without the window programs");
#else
        const QString dir = m_tmp.filePath("headless");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::copy(m_samples + "/Merganser.xsp", dir + "/Merganser.xsp"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(v);
        const Result r = run(HULLWRIGHT_PATH, {"-x", dir + "/Merganser.xsp", "-d", "HERE"}, env);
        QCOMPARE(r.code, 0);
        QCOMPARE(readFile(dir + "/types/TShips.txt"),
                 readFile(QFINDTESTDATA("data/extract/Merganser/TShips.txt")));
#endif
    }

    // Edit mode writes the ship back where it lives: into the mod when it is
    // enabled, into the game's Slipway when it is disabled.
    void editModeSave_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled") << false;
    }
    void editModeSave()
    {
        QFETCH(bool, enabled);
        const QString game = m_tmp.filePath(QStringLiteral("edit%1").arg(enabled));
        QVERIFY(copyGame(game));
        QCOMPARE(run(dd(), {"install", game, game + "/sample-ships/Merganser.xsp",
                            game + "/sample-ships/Goosander.xsp"})
                     .code,
                 0);
        QCOMPARE(run(dd(), {"update-mod", game}).code, 0);
        if (!enabled)
            QCOMPARE(run(dd(), {"disable", game, "Merganser", "Orrin Vale"}).code, 0);
        const QString path = game + "/Merganser~Orrin Vale";
        const auto installed = LoadInstalledShip(path);
        QVERIFY(installed);
        ShipDraft d = DraftFromPackage(*installed);
        d.version = "1.1";
        const QString body = m_tmp.filePath("new/merganser_body.bob");
        QVERIFY(writeFile(body, "a new body"));
        const QString oldRow = "<PACKAGE>/objects/ships/fighters/merganser_body.bob";
        for (DraftFolder& f : d.models)
            if (f.files.removeAll(oldRow))
                f.files << body;

        // While another program holds the game directory, or the registry does not
        // read whole, nothing changes.
        const QByteArray registry = readFile(game + "/Slipway/ships.dat");
        const QByteArray mod = readFile(game + "/mods/Hullwright.dat");
        QByteArray broken = registry;
        broken.insert(broken.indexOf("</ship>\n") + 8, "stray line\n");
        for (const char* why : {"another program", "does not read whole"}) {
            GameDirLock other(game);
            if (why[0] == 'a')
                QVERIFY(other.tryLock());
            else
                QVERIFY(writeFile(game + "/Slipway/ships.dat", broken));
            const EditModeSaveResult refused = SaveInstalledShip(path, d, m_program, *installed);
            QVERIFY(!refused.ok());
            QVERIFY2(refused.error.contains(why), qPrintable(refused.error));
            QCOMPARE(readFile(game + "/Slipway/ships.dat"), why[0] == 'a' ? registry : broken);
            QCOMPARE(readFile(game + "/mods/Hullwright.dat"), mod);
        }
        QVERIFY(writeFile(game + "/Slipway/ships.dat", registry));

        // Every byte but the history: the save is undone and redone whole.
        const auto bytes = [&game] {
            std::map<QString, QByteArray> files;
            QDirIterator it(game, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString rel = QDir(game).relativeFilePath(it.next());
                if (!rel.startsWith("Slipway/history/") && rel != "Slipway/writer.lock")
                    files[rel] = readFile(game + '/' + rel);
            }
            return files;
        };
        const auto beforeSave = bytes();
        const EditModeSaveResult r = SaveInstalledShip(path, d, m_program, *installed);
        QVERIFY2(r.ok(), qPrintable(r.error));
        const auto afterSave = bytes();
        QVERIFY(run(dd(), {"history", game}).out.contains("\tEdit Merganser\tMerganser (slot 300)\t"));
        // The entry keeps the action for the installer window to word in its language.
        {
            const QJsonObject newest = QJsonDocument::fromJson(run(dd(), {"history", game, "--json"}).out)
                                           .object().value("entries").toArray().first().toObject();
            QCOMPARE(newest.value("action").toString(), QStringLiteral("edit"));
            QCOMPARE(newest.value("actionArgs").toArray(), QJsonArray{QStringLiteral("Merganser")});
        }
        QCOMPARE(run(dd(), {"undo", game}).out, QByteArray("Undo Edit Merganser\n"));
        QVERIFY(bytes() == beforeSave);
        QCOMPARE(run(dd(), {"redo", game}).code, 0);
        QVERIFY(bytes() == afterSave);
        QVERIFY(run(dd(), {"list", game}).out.contains("\tMerganser\tOrrin Vale\t1.1\n"));
        QVERIFY(!QFileInfo::exists(game + "/mods/Hullwright.journal"));
        const QString out = m_tmp.filePath("edit.out");
        if (enabled) {
            QCOMPARE(run(dd(), {"cat", "extract", game + "/mods/Hullwright.cat",
                                "objects/ships/fighters/merganser_body.pbb", out})
                         .code,
                     0);
            QCOMPARE(readFile(out), QByteArray("a new body"));
        } else {
            QCOMPARE(readFile(game + "/Slipway/objects/ships/fighters/merganser_body.bob"),
                     QByteArray("a new body"));
        }
        // The model Goosander shares stays, and the ship enables and installs as before.
        if (!enabled)
            QCOMPARE(run(dd(), {"enable", game, "Merganser", "Orrin Vale"}).code, 0);
        QCOMPARE(run(dd(), {"update-mod", game}).code, 0);
        QVERIFY(run(dd(), {"cat", "list", game + "/mods/Hullwright.cat"})
                    .out.contains("vale_engine.pbd"));
    }

    // Every kind of change the window allows reaches the game, and only those;
    // a save over a ship that changed meanwhile, onto another ship's identity, or
    // that would remove a file outside the game changes nothing.
    void editModeChanges_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled") << false;
    }
    void editModeChanges()
    {
        QFETCH(bool, enabled);
        const QString game = m_tmp.filePath(QStringLiteral("changes%1").arg(enabled));
        QVERIFY(copyGame(game));
        QCOMPARE(run(dd(), {"install", game, game + "/sample-ships/Merganser.xsp",
                            game + "/sample-ships/Goosander.xsp"})
                     .code,
                 0);
        if (!enabled)
            QCOMPARE(run(dd(), {"disable", game, "Merganser", "Orrin Vale"}).code, 0);
        const QString path = game + "/Merganser~Orrin Vale";
        const QString src = m_tmp.filePath(QStringLiteral("src%1").arg(enabled));
        QVERIFY(writeFile(src + "/readme.txt", "read me"));
        QVERIFY(writeFile(src + "/merg_hud.xml", "<script/>"));
        QVERIFY(writeFile(src + "/shot.png", "picture"));
        const QString scripts = enabled ? ResolvePath(game, "Scripts") : game + "/Slipway/scripts";
        auto modHas = [&](const QString& name) {
            return run(dd(), {"cat", "list", game + "/mods/Hullwright.cat"}).out.contains(name.toUtf8());
        };
        auto save = [&](const std::function<void(ShipDraft&)>& edit) {
            const auto loaded = LoadInstalledShip(path);
            if (!loaded)
                return EditModeSaveResult{};
            ShipDraft d = DraftFromPackage(*loaded);
            edit(d);
            return SaveInstalledShip(path, d, m_program, *loaded);
        };

        const qsizetype filesBefore = LoadInstalledShip(path)->Files.size();
        EditModeSaveResult r = save([&](ShipDraft& d) {
            AddDraftFiles(d.others, "docs/merganser", {src + "/readme.txt"});
            d.scripts << src + "/merg_hud.xml";
            d.picture = src + "/shot.png";
            d.dummies.append(PackageDummy{"SDTYPE_GUN", "1;2;"});
        });
        QVERIFY2(r.ok(), qPrintable(r.error));
        auto now = LoadInstalledShip(path);
        QVERIFY(now);
        QCOMPARE(now->Files.size(), filesBefore + 1);
        QCOMPARE(now->Files.constLast().Name, "docs/merganser/readme.txt");
        QCOMPARE(now->Scripts.constLast().Name, "merg_hud.xml");
        QCOMPARE(now->Dummies.constLast().Section, "SDTYPE_GUN");
        QCOMPARE(now->ScreenShot, "Merganser-OrrinVale.png");
        QCOMPARE(readFile(game + "/Slipway/ShipPics/Merganser-OrrinVale.png"), QByteArray("picture"));
        QCOMPARE(readFile(scripts + "/merg_hud.xml"), QByteArray("<script/>"));
        if (enabled)
            QVERIFY(modHas("readme."));
        else
            QCOMPARE(readFile(game + "/Slipway/docs/merganser/readme.txt"), QByteArray("read me"));

        r = save([&](ShipDraft& d) {
            d.others.clear();
            d.scripts.removeLast();
            d.picture.clear();
        });
        QVERIFY2(r.ok(), qPrintable(r.error));
        now = LoadInstalledShip(path);
        QVERIFY(now->Files.isEmpty() && now->ScreenShot.isEmpty());
        QVERIFY(!QFileInfo::exists(game + "/Slipway/ShipPics/Merganser-OrrinVale.png"));
        QVERIFY(!QFileInfo::exists(scripts + "/merg_hud.xml"));
        QVERIFY(!QFileInfo::exists(game + "/Slipway/docs/merganser/readme.txt"));
        QVERIFY(!modHas("readme."));

        // Refusals: the registry and the mod stay as they are.
        const QByteArray registry = readFile(game + "/Slipway/ships.dat");
        const QByteArray mod = readFile(game + "/mods/Hullwright.dat");
        const auto goosander = LoadInstalledShip(game + "/Goosander~Orrin Vale");
        QVERIFY(goosander);
        using Outcome = EditModeSaveResult::Outcome;
        struct Refusal
        {
            std::function<void(ShipDraft&)> edit;
            Outcome outcome;
            const char* says;
        };
        const QList<Refusal> refusals = {
            {[&](ShipDraft& d) { d.name = goosander->Name; }, Outcome::Failed, "already named"},
            {[&](ShipDraft& d) { d.id = goosander->ID.toLower(); }, Outcome::Failed, "already has the ID"},
            {[&](ShipDraft& d) { d.scripts << src + "/gone.xml"; }, Outcome::Failed, "does not exist"},
            {[&](ShipDraft& d) { d.sceneName = "ships/elsewhere"; }, Outcome::Failed, "game name"},
        };
        for (const Refusal& refusal : refusals) {
            r = save(refusal.edit);
            QCOMPARE(int(r.outcome), int(refusal.outcome));
            QVERIFY2(r.error.contains(QLatin1String(refusal.says)), qPrintable(r.error));
            QCOMPARE(readFile(game + "/Slipway/ships.dat"), registry);
            QCOMPARE(readFile(game + "/mods/Hullwright.dat"), mod);
        }

        // Drydock installs a newer version while the window has the old one open.
        const auto loaded = LoadInstalledShip(path);
        ShipRegistry changed;
        QVERIFY(ReadRegistry(game, changed));
        for (ShipPackage& p : changed.Ships)
            if (p.Name == "Merganser")
                p.Version = "9.0";
        QVERIFY(WriteRegistry(game, changed));
        const QByteArray newer = readFile(game + "/Slipway/ships.dat");
        ShipDraft stale = DraftFromPackage(*loaded);
        stale.comment = "edited";
        r = SaveInstalledShip(path, stale, m_program, *loaded);
        QCOMPARE(int(r.outcome), int(Outcome::ChangedMeanwhile));
        QVERIFY2(r.error.contains("9.0"), qPrintable(r.error));
        QCOMPARE(readFile(game + "/Slipway/ships.dat"), newer);
        r = SaveInstalledShip(game + "/Nobody~None", stale, m_program, *loaded);
        QCOMPARE(int(r.outcome), int(Outcome::ChangedMeanwhile));

        // A registry that names a scene outside the game: choosing a new scene
        // must not remove the outside file, and nothing else changes either.
        const QString outside = m_tmp.filePath(QStringLiteral("outside%1/x.bod").arg(enabled));
        QVERIFY(writeFile(outside, "not the game's"));
        QVERIFY(ReadRegistry(game, changed));
        for (ShipPackage& p : changed.Ships)
            if (p.Name == "Merganser")
                p.SceneFile->Name = QDir(game + "/Slipway").relativeFilePath(outside);
        QVERIFY(WriteRegistry(game, changed));
        const QByteArray hostile = readFile(game + "/Slipway/ships.dat");
        QVERIFY(writeFile(src + "/scene.bod", "a scene"));
        r = save([&](ShipDraft& d) { d.sceneFile = src + "/scene.bod"; });
        QVERIFY(!r.ok());
        QCOMPARE(readFile(outside), QByteArray("not the game's"));
        QCOMPARE(readFile(game + "/Slipway/ships.dat"), hostile);
    }

    // The journal itself never removes a file outside its root while a change is
    // open, whichever way the path leads out.
    void journalRemovesNothingOutside()
    {
        const QString root = m_tmp.filePath("jroot");
        const QString outside = m_tmp.filePath("joutside/x");
        QVERIFY(writeFile(root + "/inside", "in") && writeFile(outside, "out"));
        QVERIFY(QFile::link(m_tmp.filePath("joutside"), root + "/link"));
        GameChange change(root + "/.journal", root);
        QVERIFY(change.ok());
        for (const QString& path : {root + "/../joutside/x", root + "/link/x", outside}) {
            QString why;
            QVERIFY(!change.removeFile(path, &why));
            QVERIFY2(why.contains("outside"), qPrintable(why));
        }
        QVERIFY(change.removeFile(root + "/inside"));
        QVERIFY(change.rollback());
        QCOMPARE(readFile(outside), QByteArray("out"));
        QCOMPARE(readFile(root + "/inside"), QByteArray("in"));
    }

private:
    QTemporaryDir m_tmp;
    QString m_program, m_samples;
    int m_games = 0;
};

QTEST_GUILESS_MAIN(TestHullwrightCli)
#include "tst_hwcli.moc"
