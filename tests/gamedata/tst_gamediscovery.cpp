// Finding the game on a Linux desktop: Steam libraries with their Proton
// prefixes, Wine prefixes, in a fixed order, skipping whatever does not read.

#include "gamediscovery.h"
#include "sysregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) &&
           f.write(data) == data.size();
}

QString real(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

QByteArray regFile(const QByteArray& installDir)
{
    return "WINE REGISTRY Version 2\n\n#arch=win64\n\n"
           "[Software\\\\Wow6432Node\\\\Starfall\\\\Vega Concord] 1\n\"INSTALL_DIR\"=\"" +
           installDir + "\"\n";
}

} // namespace

class TestGameDiscovery : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    void vdfBadInput_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("truncated") << QByteArray("\"a\" { \"b\" { \"c\" \"d\" }") << "cut off";
        QTest::newRow("inside quotes") << QByteArray("\"a\" { \"path\" \"/x") << "inside quotes";
        QTest::newRow("stray brace") << QByteArray("\"a\" \"b\" }") << "without its";
        QTest::newRow("key without value") << QByteArray("\"a\" { \"b\" }") << "cut off";
        QTest::newRow("too deep") << QByteArray("k {").repeated(40) + QByteArray("}").repeated(40)
                                  << "too deep";
    }
    void vdfBadInput()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        VdfNode root;
        QString why;
        QVERIFY(!ParseVdf(text, &root, &why));
        QVERIFY2(why.contains(error), qPrintable(why));
        QVERIFY(root.children.isEmpty());
    }

    void winePaths_data()
    {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("local"); // "<pfx>" and "<d>" stand for the fixtures
        QTest::newRow("C: is drive_c, any case") << "c:\\GAMES\\vega\\" << "<pfx>/drive_c/Games/Vega";
        QTest::newRow("Z: is the root") << "Z:\\<d>\\Vega" << "<d>/Vega";
        QTest::newRow("drive link") << "D:\\Vega" << "<d>/Vega";
        QTest::newRow("unmapped drive") << "E:\\Vega" << "";
        QTest::newRow("not a drive path") << "\\\\server\\share" << "";
    }
    void winePaths()
    {
        QFETCH(QString, windows);
        QFETCH(QString, local);
        const QString pfx = m_tmp.filePath("paths-pfx");
        const QString d = m_tmp.filePath("paths-d");
        QVERIFY(QDir().mkpath(pfx + "/drive_c/Games/Vega") && QDir().mkpath(d + "/Vega"));
        QDir().mkpath(pfx + "/dosdevices");
        QFile::link(d, pfx + "/dosdevices/d:");
        const QString dRel = QString(d).mid(1).replace('/', '\\');
        QCOMPARE(WinePathToLocal(pfx, windows.replace("<d>", dRel)),
                 local.replace("<pfx>", pfx).replace("<d>", real(d)));
    }

    // Every kind of place at once, with broken files among them: all games are
    // found in the documented order, each once, and each skip leaves a log line.
    void discoveryOrder()
    {
        const QString root = real(m_tmp.path()) + "/order";
        const QString home = root + "/home";
        const QString steam = home + "/.local/share/Steam";
        const QString lib2 = root + "/lib2";
        const QString flatpak = home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam";
        const QString winePrefix = root + "/wine";
        const QString publisher = root + "/publisher";
        const QString game = "/steamapps/common/vega - concord";
        for (const QString& g : {publisher, steam + game, lib2 + game, root + "/winegame"})
            QVERIFY(writeFile(g + "/vega.exe", "MZ"));
        QVERIFY(writeFile(flatpak + "/SteamApps/common/Vega - Concord/VEGA.EXE", "MZ"));
        QVERIFY(writeFile(steam + "/steamapps/libraryfolders.vdf",
                          "\"libraryfolders\"\n{\n \"0\" { \"path\" \"" + steam.toUtf8() +
                              "\" }\n \"1\" { \"path\" \"" + lib2.toUtf8() +
                              "\" \"apps\" { \"4242\" \"1\" } }\n \"2\" { \"path\" \"" +
                              root.toUtf8() + "/gone\" }\n}\n"));
        QVERIFY(writeFile(lib2 + "/steamapps/appmanifest_4242.acf",
                          "\"AppState\" { \"appid\" \"4242\" // the game\n"
                          " \"installdir\" \"Vega - Concord\" [$LINUX] }"));
        QVERIFY(writeFile(lib2 + "/steamapps/appmanifest_1.acf", "\"AppState\" { \"appid\" \"1\""));
        QVERIFY(writeFile(lib2 + "/steamapps/compatdata/4242/pfx/system.reg", regFile("")));
        QVERIFY(QDir().mkpath(home + "/.steam"));
        QVERIFY(QFile::link(steam, home + "/.steam/steam"));        // the same root again
        QVERIFY(QFile::link(home + "/.steam/root", home + "/.steam/root")); // a loop
        QVERIFY(writeFile(winePrefix + "/system.reg",
                          regFile("Z:" + QString(root).replace('/', '\\').toUtf8().replace("\\", "\\\\") +
                                  "\\\\WINEGAME")));
        QVERIFY(writeFile(home + "/.wine/system.reg", "WINE REGISTRY Version 2\ngarbage\n"));
        auto standIn = CreateIniRegistry(root + "/registry.ini");
        QVERIFY(standIn->writeString("/Starfall", "/Vega Concord/INSTALL_DIR", publisher));

        QStringList log;
        DiscoveryEnvironment env;
        env.home = home;
        env.winePrefix = winePrefix + "/";
        env.log = [&log](const QString& line) { log << line; };
        const QList<GameInstall> found = DiscoverGameInstalls(standIn.get(), env);
        QStringList got;
        for (const GameInstall& g : found)
            got << g.dir + " | " + g.prefix;
        const QStringList want{publisher + " | ",
                               steam + game + " | ",
                               lib2 + game + " | " + lib2 + "/steamapps/compatdata/4242/pfx",
                               flatpak + "/SteamApps/common/Vega - Concord | ",
                               root + "/winegame | " + winePrefix};
        QCOMPARE(got, want);
        const QString joined = log.join('\n');
        for (const char* skipped : {"/gone", ".steam/root", "appmanifest_1.acf", ".wine/system.reg"})
            QVERIFY2(joined.contains(QLatin1String(skipped)), qPrintable(joined));

        // A game outside any drive_c knows its prefix only from the finding.
        QCOMPARE(PrefixOfGameDir(root + "/winegame"), QString());
        QCOMPARE(FindGamePrefix(root + "/winegame/", found), winePrefix);
        QCOMPARE(PrefixOfGameDir(lib2 + game), lib2 + "/steamapps/compatdata/4242/pfx");
        QVERIFY(writeFile(winePrefix + "/drive_c/Vega/vega.exe", "MZ"));
        QCOMPARE(PrefixOfGameDir(winePrefix + "/drive_c/Vega"), winePrefix);
    }

    // The engine's registry follows the game directory it works on.
    void currentGameRegistry()
    {
        const QString root = m_tmp.filePath("current");
        const QString prefix = root + "/pfx";
        QVERIFY(writeFile(prefix + "/system.reg", regFile("C:\\\\Vega")));
        QVERIFY(writeFile(prefix + "/drive_c/Vega/vega.exe", "MZ"));
        QString current;
        auto reg = CreateCurrentGameRegistry(
            root, [&current] { return current; },
            [](const QString& dir) { return PrefixOfGameDir(dir); });
        const QString key = QStringLiteral("/Vega Concord/INSTALL_DIR");
        QVERIFY(reg->writeString("/Starfall", key, "stand-in"));
        QVERIFY(QFileInfo::exists(root + "/registry.ini"));
        current = prefix + "/drive_c/Vega";
        QCOMPARE(reg->readString("/Starfall", key), QStringLiteral("C:\\Vega"));
        current.clear();
        QCOMPARE(reg->readString("/Starfall", key), QStringLiteral("stand-in"));
    }
};

QTEST_GUILESS_MAIN(TestGameDiscovery)
#include "tst_gamediscovery.moc"
