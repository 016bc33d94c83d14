// Finding the game and its newest files: the layered lookup decides which table
// every later step reads, so its edge cases are checked on real catalogues.

#include "archivefile.h"
#include "gamedir.h"
#include "samplegame.h"
#include "sysregistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kShips = QStringLiteral("types\\TShips.pck");

bool writeFile(const QString& path, const QByteArray& data = QByteArray())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Adds an entry to a catalogue, creating the catalogue when needed.
bool addEntry(const QString& catalog, const QString& entry, const QByteArray& data)
{
    return QDir().mkpath(QFileInfo(catalog).absolutePath()) && EnsureCatalog(catalog) &&
           WriteArchiveFile(data.constData(), data.size(), catalog + "::" + entry, false, false);
}

// A game folder with vega.exe and catalogues described as "N=content" (the
// catalogue holds types\TShips.pck) or "N" (it holds another entry only).
QString makeGame(const QString& dir, const QStringList& catalogs)
{
    QDir().mkpath(dir);
    writeFile(dir + "/vega.exe");
    for (const QString& c : catalogs) {
        const QString cat = dir + "/" + CatalogName(c.section('=', 0, 0).toInt());
        addEntry(cat, QStringLiteral("other.txt"), "x");
        if (c.contains('='))
            addEntry(cat, kShips, c.section('=', 1).toUtf8());
    }
    return dir;
}

struct Run
{
    int code = -1;
    QByteArray out, err;
};

Run runCli(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        r = {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    return r;
}

} // namespace

class TestGameDir : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    int m_serial = 0;
    QString fresh() { return m_tmp.filePath(QString::number(++m_serial)); }

private slots:
    void catalogNamesAndCount()
    {
        QCOMPARE(CatalogNumber(9), QStringLiteral("09"));
        QCOMPARE(CountCatalogs(makeGame(fresh(), {"1", "2", "4"})), 2);
        QCOMPARE(CountCatalogs(makeGame(fresh(), {"2", "3"})), 0);
        QCOMPARE(CountCatalogs(QString()), 0);
        const QString full = fresh();
        for (int n = 1; n <= 100; ++n) // 100.cat is beyond the numbering
            QVERIFY(writeFile(full + "/" + CatalogName(n).toUpper()));
        QCOMPARE(CountCatalogs(full), 99);
    }

    void layeredLookup_data()
    {
        QTest::addColumn<QStringList>("catalogs");
        QTest::addColumn<QString>("mod"); // mods/Hullwright.cat holds it: "-" no such catalogue
        QTest::addColumn<QString>("modName");
        QTest::addColumn<QByteArray>("result"); // the destination afterwards; it held "stale"
        const auto row = [](const char* name, const QStringList& cats, const char* mod,
                            const char* modName, const char* result) {
            QTest::newRow(name) << cats << QString(mod) << QString(modName) << QByteArray(result);
        };
        row("highest wins", {"1=one", "2=two", "3=three"}, "-", "", "three");
        row("gap hides 04", {"1=one", "2=two", "4=four"}, "-", "", "two");
        row("held nowhere", {"1", "2"}, "-", "", "stale");
        row("no catalogue, mod ignored", {}, "mod", "Hullwright", "stale");
        row("mod wins", {"1=one", "2=two"}, "mod", "HULLWRIGHT", "mod");
        row("no-mod marker", {"1=one", "2=two"}, "mod", ":: None ::", "two");
        row("mod without it", {"1=one"}, "", "Hullwright", "one");
        // The stale copy goes before the mod is asked, so it is never taken for a result.
        row("mod selected, held nowhere", {"1"}, "", "Hullwright", "<missing>");
    }
    void layeredLookup()
    {
        QFETCH(QStringList, catalogs);
        QFETCH(QString, mod);
        QFETCH(QString, modName);
        QFETCH(QByteArray, result);
        const QString game = makeGame(fresh(), catalogs);
        if (mod != "-")
            QVERIFY(addEntry(game + "/mods/Hullwright.cat",
                             mod.isEmpty() ? QStringLiteral("x.txt") : kShips,
                             mod.isEmpty() ? "x" : mod.toUtf8()));
        const QString dest = game + "/out.txt";
        QVERIFY(writeFile(dest, "stale"));
        const bool found = result != "stale" && result != "<missing>";
        QCOMPARE(ExtractGameFile(game, QStringLiteral("types/TShips.pck"), dest, modName), found);
        QCOMPARE(readFile(dest), result);
        QStringList numbers;
        for (const QString& c : catalogs)
            numbers << c.section('=', 0, 0);
        for (int n = 1; n <= 4; ++n) // the lookup never creates a catalogue
            QCOMPARE(QFile::exists(game + "/" + CatalogName(n)),
                     numbers.contains(QString::number(n)));
    }

    void enumerationPrecedence()
    {
        const QString game = makeGame(fresh(), {});
        QVERIFY(addEntry(game + "/01.cat", "only1.txt", "1"));
        QVERIFY(addEntry(game + "/01.cat", "T\\X.pck", "111"));
        QVERIFY(addEntry(game + "/02.cat", "t\\x.pck", "22"));
        QVERIFY(addEntry(game + "/04.cat", "hidden.txt", "4"));
        const QList<GameEntry> entries = EnumerateGameEntries(game);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].name, QStringLiteral("t\\x.pck"));
        QCOMPARE(entries[0].catalogPath, game + "/02.cat");
        QCOMPARE(entries[0].size, 2);
        QCOMPARE(entries[1].name, QStringLiteral("only1.txt"));
        QCOMPARE(entries[1].catalogPath, game + "/01.cat");
    }

    void directoryList()
    {
        QStringList games;
        for (int i = 0; i < 11; ++i)
            games << makeGame(fresh(), {});
        GameDirList list;
        list.dirs = {QString(games[0]).replace('/', '\\'), games[1]};
        QVERIFY(list.choose(games[0] + "/"));
        QCOMPARE(list.dirs, (QStringList{games[0], games[1]}));
        QVERIFY(!list.choose(m_tmp.path()) && !list.choose(QString()));
        QCOMPARE(list.dirs, (QStringList{games[0], games[1]}));
        for (int i = 1; i < 11; ++i)
            QVERIFY(list.choose(games[i]));
        QCOMPARE(list.dirs.size(), GameDirList::kMax);
        QCOMPARE(list.current(), games[10]);
        QCOMPARE(list.dirs.last(), games[1]);
        // Discovery runs at every start; it must not pile up copies.
        list.insertDiscovered(QString(games[3]).replace('/', '\\') + "\\");
        list.insertDiscovered(games[3]);
        QCOMPARE(list.dirs.count(games[3]), 1);
        QCOMPARE(list.current(), games[3]);
        QCOMPARE(list.dirs.size(), GameDirList::kMax);
    }

    void discovery_data()
    {
        QTest::addColumn<QString>("publisher"); // "<game>" is a valid game folder
        QTest::addColumn<QString>("store");     // "<steam>" holds the game's store folder
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* pub, const char* store,
                            const char* want) {
            QTest::newRow(name) << QString(pub) << QString(store) << QString(want);
        };
        row("publisher wins", "<game>", "<steam>", "<game>");
        row("backslashes", "<game>\\", "", "<game>");
        row("publisher invalid", "<steam>", "<steam>", "<store game>");
        row("store only", "", "<steam>", "<store game>");
        row("store invalid", "", "<game>", "");
    }
    void discovery()
    {
        QFETCH(QString, publisher);
        QFETCH(QString, store);
        QFETCH(QString, expected);
        const QString game = makeGame(fresh(), {});
        const QString steam = fresh();
        // The store folder exists in another letter case than the one appended.
        const QString storeGame = makeGame(steam + "/SteamApps/common/Vega - Concord", {});
        const auto fill = [&](QString s) {
            return s.replace("<game>", QString(game).replace('/', '\\'))
                .replace("<steam>", steam)
                .replace("<store game>", storeGame);
        };
        auto reg = CreateIniRegistry(m_tmp.filePath(QString::number(++m_serial) + ".ini"));
        QVERIFY(reg->writeString("/Starfall", "/Vega Concord/INSTALL_DIR", fill(publisher)));
        QVERIFY(reg->writeString("/Valve", "/Steam/InstallPath", fill(store)));
        const QString want = QString(fill(expected)).replace('\\', '/');
        QCOMPARE(DiscoverGameDir(*reg), want);

        // On a list the store is asked only while the list is empty.
        GameDirList list;
        list.dirs = {game};
        const bool storeOnly = want == storeGame;
        QCOMPARE(list.discover(*reg), storeOnly ? QString() : want);
        QCOMPARE(list.dirs, QStringList{game});
        list.dirs.clear();
        QCOMPARE(list.discover(*reg), want);
    }

    void caseInsensitivePaths()
    {
        const QString game = fresh();
        QVERIFY(writeFile(game + "/VEGA.EXE") && writeFile(game + "/types/tships.txt"));
        QVERIFY(IsValidGameDir(game));
        QCOMPARE(ResolvePath(game, "Types/TShips.txt"), game + "/types/tships.txt");
        QCOMPARE(ResolvePath(game, "TYPES/New/File.txt"), game + "/types/New/File.txt");
        QVERIFY(QDir(game).mkdir("Scripts") && QDir(game).mkdir("scripts"));
        QCOMPARE(ResolvePath(game, "scripts"), game + "/scripts"); // exact spelling first
        QCOMPARE(ResolvePath(game, "Scripts"), game + "/Scripts");
        QVERIFY(addEntry(game + "/01.CAT", kShips, "upper"));
        QCOMPARE(CountCatalogs(game), 1);
        QVERIFY(ExtractGameFile(game, kShips, game + "/out.txt"));
        QCOMPARE(readFile(game + "/out.txt"), QByteArray("upper"));
    }

    void resolveBelowRefusesEscapes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "objects\\ships\\x.pbd" << true;
        QTest::newRow("other case") << "OBJECTS/Ships/X.pbd" << true;
        QTest::newRow("dot parts") << "./objects/./x" << true;
        QTest::newRow("parent") << "../vega.exe" << false;
        QTest::newRow("parent inside") << "objects\\..\\..\\x" << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("drive") << "C:\\x.exe" << false;
        QTest::newRow("empty") << " " << false;
        QTest::newRow("folder link out") << "out/victim" << false;
        QTest::newRow("file link out") << "objects/link" << false;
    }
    void resolveBelowRefusesEscapes()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        const QString base = fresh();
        const QString game = base + "/game";
        QVERIFY(QDir().mkpath(game + "/objects/ships") && writeFile(game + "/objects/ships/x.pbd"));
        QVERIFY(writeFile(base + "/victim"));
        QVERIFY(QFile::link(base, game + "/out"));
        QVERIFY(QFile::link(base + "/victim", game + "/objects/link"));
        QString error;
        const QString path = ResolveBelow(game, name, &error);
        QCOMPARE(!path.isEmpty(), accepted);
        QCOMPARE(error.isEmpty(), accepted);
        if (accepted)
            QVERIFY(path.startsWith(game + "/objects"));
    }

    // The generated game stores everything packed; the lookup hands out plain text.
    void cliExtract()
    {
        const QString cli = QStringLiteral(DRYDOCK_CLI_PATH);
        const QString game = fresh();
        QVERIFY(SampleGame::MakeSampleGame(game));
        const QString dest = game + "/ships.txt";
        Run r = runCli(cli, {"game", "extract", game, "types/TShips.pck", dest});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty() && r.err.isEmpty());
        QCOMPARE(readFile(dest), SampleGame::ShipTable(true));

        // A failure names what failed.
        r = runCli(cli, {"game", "extract", game, "types/Nope.pck", dest});
        QVERIFY(r.code == 1 && r.err.contains("types\\Nope.pck"));
        r = runCli(cli, {"game", "extract", game, kShips, game + "/missing/x.txt"});
        QVERIFY(r.code == 1 && r.err.contains("/missing/x.txt"));
        r = runCli(cli, {"game", "extract", m_tmp.path(), kShips, dest});
        QVERIFY(r.code == 1 && r.out.isEmpty());

        for (const QStringList& bad :
             {QStringList{"game"}, QStringList{"game", "extract", game, kShips},
              QStringList{"game", "fetch"},
              QStringList{"game", "extract", "-x", game, kShips, dest}})
            QCOMPARE(runCli(cli, bad).code, 2);
    }

    // The command reads registry.ini beside its own executable, so it runs from a copy.
    void cliFind()
    {
#ifdef Q_OS_WIN
        QSKIP("the native registry is not a file");
#endif
        const QString folder = fresh();
        QVERIFY(QDir().mkpath(folder));
        const QString cli = folder + "/drydock-cli";
        QVERIFY(QFile::copy(QStringLiteral(DRYDOCK_CLI_PATH), cli));
        Run r = runCli(cli, {"game", "find"});
        QVERIFY(r.code == 1 && r.err.contains(folder.toLocal8Bit() + "/registry.ini"));

        const QString game = makeGame(fresh(), {});
        auto reg = CreateIniRegistry(folder + "/registry.ini");
        QVERIFY(reg->writeString("/Starfall", "/Vega Concord/INSTALL_DIR", game));
        QVERIFY(reg->writeString("/SKYWARD", "/Vega/ModName", "Other"));
        r = runCli(cli, {"game", "find"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out,
                 game.toLocal8Bit() + "\t" + folder.toLocal8Bit() + "/registry.ini\tOther\n");
        r = runCli(cli, {"game", "mod", game});
        QCOMPARE(r.out, QByteArray("Other\n"));
        QCOMPARE(runCli(cli, {"game", "mod", folder}).code, 1);
    }
};

QTEST_GUILESS_MAIN(TestGameDir)
#include "tst_gamedir.moc"
