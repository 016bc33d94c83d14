// drydock-cli's installer commands on the sample game; scripts read their output,
// so it is checked exactly. The program keeps config.dat, registry.ini and its log
// beside itself: the tests run a copy in a program folder of their own.

#include "archivefile.h"
#include "gamesnapshot.h"
#include "shiprecord.h"
#include "testfiles.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    int code = -1;
    QByteArray out, err;
};

// The value at a path of keys and indices, e.g. "ships/1/name".
QJsonValue at(const QJsonObject& doc, const QString& path)
{
    QJsonValue v = doc;
    for (const QString& key : path.split(QLatin1Char('/')))
        v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
    return v;
}

const char kMerganser[] = "Merganser\tOrrin Vale\t1.0";
const char kGoosander[] = "Goosander\tOrrin Vale\t1.2";

} // namespace

class TestCliEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program; // the program folder with the copy of drydock-cli
    QString m_game;
    QStringList m_samples;
    int m_games = 0;

    Result cli(const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) const
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(m_program + QStringLiteral("/drydock-cli"), args);
        Result r;
        if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
            r = {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
        return r;
    }

    QByteArray listing() const { return cli({"list", m_game}).out; }

    // A package without files: the default record under the given ID.
    QString package(const QString& name, const QString& version, const QString& id)
    {
        ShipPackage p;
        p.Name = name;
        p.Author = QStringLiteral("Orrin Vale");
        p.Version = version;
        p.ID = id;
        p.Data = QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), id);
        p.Texts = {{44, name, QStringLiteral("A test ship.")}};
        PackageContext context;
        context.programDir = m_tmp.path();
        const QString path = m_tmp.filePath(name + QLatin1Char('-') + version + ".xsp");
        return SavePackage(p, path, context) ? path : QString();
    }

    bool installSamples()
    {
        const Result r = cli(QStringList{"install", m_game} + m_samples);
        return r.code == 0 && r.err.isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_program = m_tmp.filePath("program");
        QVERIFY(copyProgramFiles(QFileInfo(QStringLiteral(DRYDOCK_CLI_PATH)).absolutePath(), m_program,
                                 {"drydock-cli", "hw_languages.xml"}));
        QCOMPARE(cli({"make-sample-game", m_tmp.filePath("sample")}).code, 0);
    }

    // Every test starts on a fresh copy of the sample game without installed ships
    // (making one compresses its packages, which is slow).
    void init()
    {
        m_game = m_tmp.filePath(QStringLiteral("game%1").arg(++m_games));
        QCOMPARE(QProcess::execute("cp", {"-R", m_tmp.filePath("sample"), m_game}), 0);
        m_samples = QStringList{m_game + "/sample-ships/Merganser.xsp",
                                m_game + "/sample-ships/Goosander.xsp"};
        QFile::remove(m_program + "/config.dat");
        QVERIFY(QDir(m_program + "/Scripts").removeRecursively());
    }

    // A Steam library holding the game and its Proton prefix, found from the home
    // folder alone: update-mod selects the mod in the prefix's registry, not in a
    // file of drydock-cli's.
    void steamGameEndToEnd()
    {
#ifdef Q_OS_WIN
        QSKIP("Steam libraries and Proton prefixes are a Linux matter");
#endif
        const QString home = QFileInfo(m_tmp.path()).canonicalFilePath() + "/steam-home";
        const QString steamapps = home + "/.local/share/Steam/steamapps";
        const QString game = steamapps + "/common/vega - concord";
        const QString pfx = steamapps + "/compatdata/4242/pfx";
        QVERIFY(QDir().mkpath(pfx) && QDir().mkpath(steamapps + "/common"));
        QVERIFY(QDir().rename(m_game, game));
        // The prefix's registry selects another mod; the manifest names the folder.
        const QString data = QFINDTESTDATA("../data/cli/steam");
        QVERIFY(QFile::copy(data + "/system.reg", pfx + "/system.reg"));
        QVERIFY(QFile::copy(data + "/appmanifest_4242.acf", steamapps + "/appmanifest_4242.acf"));
        QFile::setPermissions(pfx + "/system.reg", QFile::ReadOwner | QFile::WriteOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.remove("WINEPREFIX");
        env.remove("XDG_DATA_HOME");
        Result r = cli({"game", "find"}, env);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, (game + '\t' + pfx + "\tOther\n").toLocal8Bit());

        QCOMPARE(cli({"install", game, game + "/sample-ships/Merganser.xsp"}, env).code, 0);
        QCOMPARE(cli({"update-mod", game}, env).code, 0);
        QCOMPARE(cli({"game", "mod", game}, env).out, QByteArray("Hullwright\n"));
        QCOMPARE(readBytes(pfx + "/system.reg"),
                 readBytes(data + "/system.reg").replace("\"Other\"", "\"Hullwright\""));
        QVERIFY(!QFile::exists(m_program + "/registry.ini"));
    }

    // The program update's mirrors are set from the command line; the rest of
    // config.dat stays as it was.
    void programUpdateMirrors()
    {
        QVERIFY(writeBytes(m_program + "/config.dat", "<installer>\nDebugLog\n</installer>\n"));
        QCOMPARE(cli({"mirrors", "--set", "ftp://x/"}).code, 2);
        QCOMPARE(cli({"mirrors", "--set", "https://a.example/u/", "http://b.example/"}).code, 0);
        QCOMPARE(cli({"mirrors"}).out, QByteArray("https://a.example/u/\nhttp://b.example/\n"));
        const QByteArray config = readBytes(m_program + "/config.dat");
        QVERIFY(config.contains("DebugLog\n"));
        QVERIFY(config.contains("UpdateMirror: https://a.example/u/\nUpdateMirror: http://b.example/\n"));
        QCOMPARE(cli({"mirrors", "--clear"}).code, 0);
        QCOMPARE(cli({"mirrors"}).out, QByteArray());
        QVERIFY(readBytes(m_program + "/config.dat").contains("DebugLog\n"));
    }

    // Slots are "-" until update mod fixes the buffer: below 300 game ships it is
    // 300, and registry position k sits at 300 + k. The window's config.dat turns
    // the debug log on; the commands never rewrite it.
    void installListAndUpdateMod()
    {
        QFile config(m_program + "/config.dat");
        const QByteArray settings = "<installer>\nDebugLog\n</installer>\n";
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(settings) == settings.size());
        config.close();
        // The program's scripts, the game-side purge script among them.
        QVERIFY(QDir().mkpath(m_program + "/Scripts"));
        QVERIFY(writeBytes(m_program + "/Scripts/hw.purge.xml", "<purge/>"));
        QCOMPARE(listing(), QByteArray());
        QVERIFY(!QFileInfo::exists(m_game + "/Scripts/hw.purge.xml")); // list changes nothing
        Result r = cli({"list", m_tmp.path()});
        QVERIFY(r.code == 1 && r.err.contains("not a game directory"));
        r = cli(QStringList{"install", m_game} + m_samples);
        QCOMPARE(readBytes(m_game + "/Scripts/hw.purge.xml"), QByteArray("<purge/>"));
        QCOMPARE(r.out, "installed Merganser by Orrin Vale 1.0\n"
                        "installed Goosander by Orrin Vale 1.2\n");
        QCOMPARE(r.code, 0);
        QCOMPARE(listing(), QByteArray("-\tinstalled\tyes\t") + kMerganser +
                                "\n-\tinstalled\tyes\t" + kGoosander + "\n");

        r = cli({"update-mod", m_game});
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.isEmpty());
        // One line of what was written.
        QCOMPARE(r.out,
                 "updated " +
                     QDir::toNativeSeparators(m_game + "/mods/Hullwright.cat").toLocal8Bit() +
                     ": ship table of 302 entries, 2 ships in slots 300-301 (2 enabled), "
                     "text pages in 2 languages (44 49)\n");
        const QByteArray expected = QByteArray("300\tinstalled\tyes\t") + kMerganser +
                                    "\n301\tinstalled\tyes\t" + kGoosander + "\n";
        QCOMPARE(listing(), expected);
        QVERIFY(QFileInfo(m_program + "/registry.ini").isFile());
        QVERIFY(readBytes(m_program + "/log/installer_debug.txt")
                    .contains("] Installing Ship: " + m_samples[0].toLocal8Bit()));
        QCOMPARE(readBytes(m_program + "/config.dat"), settings);
    }

    // A dry run prints what would change and changes nothing, the game's selected
    // mod included; --json gives one document that reads back.
    void dryRunAndJson()
    {
        const GameSnapshot::Snapshot fresh = GameSnapshot::snapshot(m_game);
        Result r = cli(QStringList{"install", m_game, "--dry-run"} + m_samples);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith("dry run: installed Merganser by Orrin Vale 1.0\n"
                                  "dry run: installed Goosander by Orrin Vale 1.2\n"),
                 r.out.constData());
        QVERIFY(r.out.contains("registry position 1 taken: Goosander by Orrin Vale 1.2\n"));
        QCOMPARE(GameSnapshot::firstDifference(fresh, GameSnapshot::snapshot(m_game)), QString());
        QVERIFY(installSamples());

        const auto json = [this](const QStringList& args, int code) {
            const Result out = cli(args);
            [&] { QCOMPARE(out.code, code); }();
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(out.out, &error);
            [&] { QVERIFY2(error.error == QJsonParseError::NoError, out.out.constData()); }();
            return doc.object();
        };
        const GameSnapshot::Snapshot installed = GameSnapshot::snapshot(m_game);
        const QByteArray registry = readBytes(m_program + "/registry.ini");
        QJsonObject doc = json({"update-mod", m_game, "--dry-run", "--json"}, 0);
        QCOMPARE(at(doc, "changes/selectedMod/after").toString(), QStringLiteral("Hullwright"));
        QVERIFY(
            at(doc, "outcome/0")
                .toString()
                .contains(QDir::toNativeSeparators(m_game) + "/mods/Hullwright.cat")); // not a copy
        QVERIFY(at(doc, "changes/rows/0/table").isString());
        QCOMPARE(GameSnapshot::firstDifference(installed, GameSnapshot::snapshot(m_game)),
                 QString());
        QCOMPARE(readBytes(m_program + "/registry.ini"), registry);

        doc = json({"list", m_game, "--json"}, 0);
        QCOMPARE(at(doc, "ships").toArray().size(), 2);
        QCOMPARE(at(doc, "ships/1/name").toString(), QStringLiteral("Goosander"));
        QVERIFY(at(doc, "ships/1/slot").isNull());
        doc = json({"verify", m_game, "--json"}, 1); // installed, not yet updated
        QVERIFY(!at(doc, "ok").toBool());
        QCOMPARE(at(doc, "problems/0/kind").toString(), QStringLiteral("stale"));
        QCOMPARE(cli({"update-mod", m_game}).code, 0);
        r = cli({"verify", m_game});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith("ok: 2 ships and ") && r.out.endsWith(" no problems\n"),
                 r.out.constData());
        // A ship without web addresses: the check asks no server.
        QCOMPARE(cli({"uninstall", m_game, "Merganser", "Orrin Vale"}).code, 0);
        doc = QJsonDocument::fromJson(cli({"updates", m_game, "--json"}).out).object();
        QCOMPARE(at(doc, "ships").toArray().size(), 1);
        QCOMPARE(at(doc, "ships/0/name").toString(), QStringLiteral("Goosander"));
        QCOMPARE(cli({"install", m_game, m_samples.first(), "--json"}).code, 2);
    }

    // One line per package in argument order; the good ones still install.
    void installFailures()
    {
        const QString missing = m_tmp.filePath("absent.xsp");
        const QString notPackage = m_game + "/lang.dat";
        const QString older = package("Merganser", "0.9", "OV-MERGANSER");
        const Result r = cli({"install", m_game, missing, m_samples[0], notPackage, older});
        QCOMPARE(r.out, "failed: package file cannot be opened: " + missing.toLocal8Bit() +
                            "\ninstalled Merganser by Orrin Vale 1.0\n"
                            "failed: not a ship package (.xsp): " +
                            notPackage.toLocal8Bit() +
                            "\nskipped (older version) Merganser by Orrin Vale 0.9\n");
        QCOMPARE(r.code, 1);
        QCOMPARE(listing(), QByteArray("-\tinstalled\tyes\t") + kMerganser + "\n");
    }

    // A package of another name with an installed ship's ID: the question the
    // window asks is answered by --on-same-id. Then disable, enable, uninstall.
    void sameIdThenDisableEnableUninstall()
    {
        QVERIFY(installSamples());
        QCOMPARE(cli({"update-mod", m_game}).code, 0);
        const QString twin = package("Merganser Mk2", "2.0", "OV-MERGANSER");
        QVERIFY(!twin.isEmpty());

        Result r = cli({"install", m_game, twin});
        QCOMPARE(r.out, "failed: package could not be read, or was cancelled\n");
        QCOMPARE(r.code, 1);
        QCOMPARE(listing().count('\n'), 2);

        r = cli({"install", "--on-same-id=beside", m_game, twin});
        QCOMPARE(r.out, "installed Merganser Mk2 by Orrin Vale 2.0\n");
        QCOMPARE(listing(), QByteArray("300\tinstalled\tyes\t") + kMerganser +
                                "\n301\tinstalled\tyes\t" + kGoosander +
                                "\n302\tinstalled\tyes\tMerganser Mk2\tOrrin Vale\t2.0\n");

        const QString twin2 = package("Goosander Mk2", "2.0", "ov-goosander"); // IDs ignore case
        r = cli({"install", m_game, twin2, "--on-same-id=update"});
        QCOMPARE(r.code, 0);

        r = cli({"disable", m_game, "Merganser", "Orrin Vale"});
        QCOMPARE(r.out, "disabled Merganser by Orrin Vale 1.0\n");
        QCOMPARE(r.code, 0);
        QVERIFY(listing().startsWith(QByteArray("300\tinstalled\tno\t") + kMerganser + "\n"));
        r = cli({"enable", m_game, "Merganser", "Orrin Vale"});
        QCOMPARE(r.out, "enabled Merganser by Orrin Vale 1.0\n");

        r = cli({"uninstall", m_game, "Merganser", "Orrin Vale"});
        QCOMPARE(r.out, "uninstalled Merganser by Orrin Vale 1.0\n");
        QCOMPARE(listing(),
                 "300\twaiting\t-\t\t\t\n301\tinstalled\tyes\tGoosander Mk2\tOrrin Vale\t2.0"
                 "\n302\tinstalled\tyes\tMerganser Mk2\tOrrin Vale\t2.0\n");

        for (const char* command : {"uninstall", "disable", "enable"}) {
            r = cli({command, m_game, "Merganser", "Orrin Vale"});
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, "drydock-cli: no installed ship Merganser by Orrin Vale in " +
                                m_game.toLocal8Bit() + "\n");
        }
    }

    void baseMod()
    {
        QVERIFY(installSamples());
        const QString base = m_game + "/mods/Extra.cat";
        const QByteArray rock = "// a rock\r\n1;2;3;\r\n";
        QVERIFY(EnsureCatalog(base));
        QVERIFY(WriteArchiveFile(rock.constData(), rock.size(), base + "::objects\\rock.bod", true,
                                 false));

        Result r = cli({"base-mod", m_game, "Absent"});
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.startsWith("drydock-cli: no mod Absent in "));
        QCOMPARE(cli({"redo-base-mod", m_game}).code, 1);

        r = cli({"base-mod", m_game, "extra"}); // the letter case of the file wins
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty() && r.err.isEmpty());
        const QStringList catList = {"cat", "list", m_game + "/mods/Hullwright.cat"};
        QVERIFY(cli(catList).out.contains("\tobjects\\rock.pbd\n"));
        QVERIFY(readBytes(m_game + "/Slipway/ships.dat").contains("\nMod: Extra\n"));
        QCOMPARE(cli({"redo-base-mod", m_game}).code, 0);
        QCOMPARE(cli({"base-mod", m_game, "--none"}).code, 0);
        QVERIFY(!cli(catList).out.contains("\tobjects\\rock.pbd\n"));
    }

    // A registry that lost its header lines and its second block: the changing
    // commands refuse it, list shows what is left, repair rebuilds from the mod.
    void brokenRegistryAndRepair()
    {
        QVERIFY(installSamples());
        QCOMPARE(cli({"update-mod", m_game}).code, 0);
        const QString path = m_game + "/Slipway/ships.dat";
        QByteArray text = QString::fromLatin1(readBytes(path))
                              .remove(QRegularExpression("(UpdateTime|Buffer): \\d+\n"))
                              .toLatin1();
        text.truncate(text.lastIndexOf("Name: Goosander") + 8);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();

        Result r = cli({"list", m_game});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, QByteArray("-\tinstalled\tyes\t") + kMerganser + "\n");
        QVERIFY(r.err.contains("cut off"));
        QCOMPARE(readBytes(path), text);

        r = cli({"registry", "repair", m_game});
        QCOMPARE(r.code, 0);
        const QString copy =
            QRegularExpression("\nbroken copy\t(.*ships\\.dat\\.broken-\\d{8}-\\d{6})\n")
                .match(QString::fromLocal8Bit(r.out))
                .captured(1);
        QVERIFY2(!copy.isEmpty(), r.out);
        QCOMPARE(readBytes(copy), text);
        QVERIFY(r.out.contains("\nrecords kept\t1\nplaceholders\t1\n"));
        QVERIFY(r.out.contains("\nrecovered from the mod\tUpdateTime\n"));
        QVERIFY(r.out.contains("\nrecovered from the mod\tBuffer\n"));
        // Goosander's own files have lost their record; the part Merganser shares has not.
        QVERIFY2(r.out.contains("\norphan\tobjects\\ships\\fighters\\goosander"), r.out);
        QVERIFY(!r.out.contains("vale_engine") && !r.out.contains("\torphan\tt\\"));

        r = cli({"list", m_game});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out,
                 QByteArray("300\tinstalled\tyes\t") + kMerganser + "\n301\twaiting\t-\t\t\t\n");
        QCOMPARE(cli({"registry", "repair", m_game}).out,
                 QDir::toNativeSeparators(path).toLocal8Bit() +
                     " reads whole: nothing to repair\n");
        QCOMPARE(cli({"install", m_game, m_samples[1]}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestCliEngine)
#include "tst_cli_engine.moc"
