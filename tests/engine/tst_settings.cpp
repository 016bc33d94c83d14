// The installer's blocks of the shared config.dat: what is read, what is written,
// and that the authoring program's lines survive every save.
#include "installersettings.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A folder that counts as a game directory (it holds vega.exe).
QString makeGameDir(const QTemporaryDir& root, const QString& name)
{
    const QString dir = root.filePath(name);
    writeBytes(dir + QStringLiteral("/vega.exe"), {});
    return dir;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void rewrite_data();
    void rewrite();
    void roundTripWithFolders();
};

// A config.dat read and saved again: our blocks first, every foreign line after
// them as it was. The pairs are in data/engine/settings: NAME.old, NAME.saved.
void TestSettings::rewrite_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("saved");
    const QDir data(QFINDTESTDATA("../data/engine/settings"));
    const QStringList names = data.entryList({QStringLiteral("*.old")}, QDir::Files);
    if (names.size() < 7)
        qFatal("the settings pairs are missing from %s", qPrintable(data.path()));
    for (const QString& name : names)
        QTest::newRow(qPrintable(name.chopped(4)))
            << readBytes(data.filePath(name)) << readBytes(data.filePath(name.chopped(4) + ".saved"));
}

void TestSettings::rewrite()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, saved);
    InstallerSettings s;
    s.textCustom = 7; // parsing starts from the defaults
    ParseInstallerSettings(old, s);
    const QByteArray text = InstallerSettingsText(s, old);
    QCOMPARE(text, saved);
    InstallerSettings again;
    ParseInstallerSettings(text, again);
    QCOMPARE(InstallerSettingsText(again, text), text);
}

void TestSettings::roundTripWithFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game1 = makeGameDir(dir, QStringLiteral("My Games/vega one"));
    const QString game2 = makeGameDir(dir, QStringLiteral("vega2"));
    const QString notGame = dir.filePath(QStringLiteral("empty"));
    QDir().mkpath(notGame);

    InstallerSettings s;
    s.language = QStringLiteral("Deutsch");
    s.installDirs = {game1, notGame, game2};
    s.textOption = 2;
    s.textSelect = 3;
    s.textCustom = 49;
    s.loadingScreens = false;
    s.debugLog = true;
    s.baseType = 1;
    QVERIFY(WriteInstallerSettings(dir.path(), s));
    const QString config = dir.filePath(QStringLiteral("config.dat"));
    const QByteArray expected = "<common>\nLanguage: Deutsch\n</common>\n<installer>\n"
                                "InstallDir: " +
                                game1.toLocal8Bit() + "\nInstallDir: " + notGame.toLocal8Bit() +
                                "\nInstallDir: " + game2.toLocal8Bit() +
                                "\nText_Option: 2\nText_Select: 3\nText_Custom: 49\n"
                                "NoLoadScr\nDebugLog\nBaseType: 1\n</installer>\n";
    QCOMPARE(readBytes(config), expected);

    // A folder without vega.exe is dropped on reading; the blank in a path survives.
    InstallerSettings back;
    QVERIFY(ReadInstallerSettings(dir.path(), back));
    QCOMPARE(back.installDirs, QStringList({game1, game2}));
    QVERIFY(WriteInstallerSettings(dir.path(), back));
    QCOMPARE(readBytes(config),
             QByteArray(expected).replace("InstallDir: " + notGame.toLocal8Bit() + "\n", ""));

    // A reader that opened the file before a save (the other program) still reads
    // the old file whole: the new one is written beside and renamed over it.
    QFile reader(config);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    const QByteArray old = readBytes(config);
    back.baseType = 0;
    QVERIFY(WriteInstallerSettings(dir.path(), back));
    QCOMPARE(reader.readAll(), old);
    QVERIFY(readBytes(config).contains("BaseType: 0\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("config.dat")});

    // A line break in a value cannot plant lines of its own.
    InstallerSettings evil;
    evil.language = QStringLiteral("English\nDebugLog");
    evil.installDirs = {game1 + QStringLiteral("\n</installer>")};
    InstallerSettings parsed;
    ParseInstallerSettings(InstallerSettingsText(evil, {}), parsed);
    QVERIFY(!parsed.debugLog);
    QVERIFY(parsed.installDirs.isEmpty());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
