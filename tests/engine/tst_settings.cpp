// The installer's blocks of the shared config.dat: what is read, what is written,
// and that the authoring program's lines survive every save.
#include "installersettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A folder that counts as a game directory (it holds vega.exe).
QString makeGameDir(const QTemporaryDir& root, const QString& name)
{
    const QString dir = root.filePath(name);
    QDir().mkpath(dir);
    QFile exe(dir + QStringLiteral("/vega.exe"));
    if (exe.open(QIODevice::WriteOnly))
        exe.close();
    return dir;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void roundTripAndLayout();
    void foreignLinesKeptAfterNewBlocks();
    void twoCommonBlocksCollapse();
    void invalidValues();
    void atomicReplace();
    void windowChoices();
};

void TestSettings::defaults()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    InstallerSettings s;
    s.language = QStringLiteral("German");
    s.textCustom = 7;
    // A missing file gives the defaults, whatever the struct held before.
    QVERIFY(ReadInstallerSettings(dir.path(), s));
    QCOMPARE(s.language, QStringLiteral("English"));
    QVERIFY(s.installDirs.isEmpty());
    QCOMPARE(s.textOption, 0);
    QCOMPARE(s.textSelect, 0);
    QCOMPARE(s.textCustom, 44);
    QVERIFY(s.loadingScreens);
    QVERIFY(!s.debugLog);
    QCOMPARE(s.baseType, 0);

    // Only the authoring program's block: still the defaults.
    ParseInstallerSettings("<creator>\nDebugLog\nNoLoadScr\nLanguage: German\n</creator>\n", s);
    QCOMPARE(s.language, QStringLiteral("English"));
    QVERIFY(s.loadingScreens);
    QVERIFY(!s.debugLog);
}

void TestSettings::roundTripAndLayout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game1 = makeGameDir(dir, QStringLiteral("My Games/vega one"));
    const QString game2 = makeGameDir(dir, QStringLiteral("vega2"));

    InstallerSettings s;
    s.language = QStringLiteral("Deutsch");
    s.installDirs = {game1, game2};
    s.textOption = 2;
    s.textSelect = 3;
    s.textCustom = 49;
    s.loadingScreens = false;
    s.debugLog = true;
    s.baseType = 1;
    QVERIFY(WriteInstallerSettings(dir.path(), s));

    const QByteArray expected = "<common>\nLanguage: Deutsch\n</common>\n<installer>\n"
                                "InstallDir: " +
                                game1.toLocal8Bit() + "\nInstallDir: " + game2.toLocal8Bit() +
                                "\nText_Option: 2\nText_Select: 3\nText_Custom: 49\n"
                                "NoLoadScr\nDebugLog\nBaseType: 1\n</installer>\n";
    QCOMPARE(readFile(dir.filePath(QStringLiteral("config.dat"))), expected);

    InstallerSettings back;
    QVERIFY(ReadInstallerSettings(dir.path(), back));
    QCOMPARE(back.language, s.language);
    QCOMPARE(back.installDirs, s.installDirs); // the blank in the path survives
    QCOMPARE(back.textOption, 2);
    QCOMPARE(back.textSelect, 3);
    QCOMPARE(back.textCustom, 49);
    QVERIFY(!back.loadingScreens);
    QVERIFY(back.debugLog);
    QCOMPARE(back.baseType, 1);

    // The flags are absent again when off.
    back.loadingScreens = true;
    back.debugLog = false;
    QVERIFY(WriteInstallerSettings(dir.path(), back));
    const QByteArray text = readFile(dir.filePath(QStringLiteral("config.dat")));
    QVERIFY(!text.contains("NoLoadScr"));
    QVERIFY(!text.contains("DebugLog"));
    InstallerSettings again;
    QVERIFY(ReadInstallerSettings(dir.path(), again));
    QVERIFY(again.loadingScreens);
    QVERIFY(!again.debugLog);
}

void TestSettings::foreignLinesKeptAfterNewBlocks()
{
    // The authoring program's block, a stray line and an old installer block.
    const QByteArray old = "top line\n<creator>\nVegaDir: /x\nModDir: C:/Program Files/Mods\n"
                           "BODCOMP\n</creator>\n<installer>\nText_Custom: 33\nDebugLog\n"
                           "</installer>\n\nlast line\n";
    InstallerSettings s;
    ParseInstallerSettings(old, s);
    QCOMPARE(s.textCustom, 33);
    QVERIFY(s.debugLog);
    s.debugLog = false;

    const QByteArray text = InstallerSettingsText(s, old);
    const QByteArray ours = "<common>\nLanguage: English\n</common>\n<installer>\n"
                            "Text_Option: 0\nText_Select: 0\nText_Custom: 33\nBaseType: 0\n"
                            "</installer>\n";
    QCOMPARE(text, ours + "top line\n<creator>\nVegaDir: /x\nModDir: C:/Program Files/Mods\n"
                          "BODCOMP\n</creator>\n\nlast line\n");

    // Saving twice changes nothing more.
    QCOMPARE(InstallerSettingsText(s, text), text);

    // Lines ended by CR LF: the markers are still recognised, foreign lines kept as they were.
    const QByteArray crlf = "<creator>\r\nSaveWeb\r\n</creator>\r\n<installer>\r\nDebugLog\r\n"
                            "</installer>\r\n";
    InstallerSettings c;
    ParseInstallerSettings(crlf, c);
    QVERIFY(c.debugLog);
    c.debugLog = false;
    QCOMPARE(InstallerSettingsText(c, crlf).mid(ours.size()),
             QByteArray("<creator>\r\nSaveWeb\r\n</creator>\r\n"));
}

void TestSettings::twoCommonBlocksCollapse()
{
    const QByteArray old = "<common>\nLanguage: French\n</common>\n<creator>\nPrefix\n</creator>\n"
                           "<common>\nLanguage: Italian extra\n</common>\n";
    InstallerSettings s;
    ParseInstallerSettings(old, s);
    // Both blocks are read; the later one wins, and only the word after the key counts.
    QCOMPARE(s.language, QStringLiteral("Italian"));
    const QByteArray text = InstallerSettingsText(s, old);
    QCOMPARE(text.count("<common>"), 1);
    QCOMPARE(text.count("</common>"), 1);
    QVERIFY(text.contains("Language: Italian\n"));
    QVERIFY(!text.contains("French"));
    QVERIFY(text.endsWith("<creator>\nPrefix\n</creator>\n"));
}

void TestSettings::invalidValues()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game = makeGameDir(dir, QStringLiteral("game"));
    const QString notGame = dir.filePath(QStringLiteral("empty"));
    QDir().mkpath(notGame);
    const QByteArray text = "<installer>\nInstallDir: " + notGame.toLocal8Bit() +
                            "\nInstallDir: " + game.toLocal8Bit() +
                            "\nText_Custom: abc\nBaseType: 1\nNoLoadScr extra\n</installer>\n";
    QVERIFY(writeFile(dir.filePath(QStringLiteral("config.dat")), text));
    InstallerSettings s;
    QVERIFY(ReadInstallerSettings(dir.path(), s));
    // A folder without vega.exe is dropped on reading and so gone after the next save.
    QCOMPARE(s.installDirs, QStringList{game});
    QCOMPARE(s.textCustom, 44); // not a number: the default stays
    QCOMPARE(s.baseType, 1);
    QVERIFY(s.loadingScreens); // a flag is the whole line
    QVERIFY(WriteInstallerSettings(dir.path(), s));
    QVERIFY(!readFile(dir.filePath(QStringLiteral("config.dat"))).contains(notGame.toLocal8Bit()));

    // A line break in a value cannot plant lines of its own.
    InstallerSettings evil;
    evil.language = QStringLiteral("English\nDebugLog");
    evil.installDirs = {game + QStringLiteral("\n</installer>")};
    InstallerSettings back;
    ParseInstallerSettings(InstallerSettingsText(evil, {}), back);
    QVERIFY(!back.debugLog);
    QVERIFY(back.installDirs.isEmpty());
    QCOMPARE(back.textOption, 0);
}

void TestSettings::atomicReplace()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("config.dat"));
    const QByteArray old = "<creator>\nModDir: /mods\n</creator>\n<installer>\nBaseType: 1\n"
                           "</installer>\n";
    QVERIFY(writeFile(path, old));

    // A reader that opened the file before the save (the other program) still reads
    // the old file whole: the new one is written beside and renamed over it.
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    InstallerSettings s;
    QVERIFY(ReadInstallerSettings(dir.path(), s));
    s.baseType = 0;
    QVERIFY(WriteInstallerSettings(dir.path(), s));
    QCOMPARE(reader.readAll(), old);
    QVERIFY(readFile(path).contains("BaseType: 0\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("config.dat")});

    // An old file that cannot be read is not replaced: its foreign lines would be lost.
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path));
    QVERIFY(!WriteInstallerSettings(dir.path(), s));
    QVERIFY(QFileInfo(path).isDir());
}

// The uninstall question, the package folder and the program mirrors: read, kept
// and written back; defaults when absent.
void TestSettings::windowChoices()
{
    InstallerSettings s;
    ParseInstallerSettings("<installer>\nNoUninstallConfirm\nLastFolder: /home/a/My Ships\n"
                           "UpdateMirror: http://a/shipupdate.dat\nUpdateMirror:  \n"
                           "UpdateMirror: http://b/shipupdate.dat\n</installer>\n",
                           s);
    QVERIFY(!s.confirmUninstall);
    QCOMPARE(s.lastFolder, QStringLiteral("/home/a/My Ships"));
    QCOMPARE(s.updateMirrors,
             (QStringList{"http://a/shipupdate.dat", "http://b/shipupdate.dat"}));
    const QByteArray text = InstallerSettingsText(s, QByteArray());
    QVERIFY(text.contains("\nNoUninstallConfirm\nLastFolder: /home/a/My Ships\n"
                          "UpdateMirror: http://a/shipupdate.dat\n"
                          "UpdateMirror: http://b/shipupdate.dat\n</installer>\n"));
    InstallerSettings none;
    ParseInstallerSettings(InstallerSettingsText(InstallerSettings(), QByteArray()), none);
    QVERIFY(none.confirmUninstall);
    QVERIFY(none.lastFolder.isEmpty());
    QVERIFY(none.updateMirrors.isEmpty());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
