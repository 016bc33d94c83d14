// config.dat as both programs share it: each rewrites its own block and keeps the
// other's byte for byte.
#include "creatorsettings.h"
#include "installersettings.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString makeGameDir(const QString& root, const QString& name)
{
    const QString dir = root + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    QFile exe(dir + QStringLiteral("/vega.exe"));
    if (exe.open(QIODevice::WriteOnly))
        exe.close();
    return dir;
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void creatorRoundTrip();
    void installerBlockSurvives();
    void foreignBlocksAndTwoCommons();
    void unreadableFileIsNotReplaced_data();
    void unreadableFileIsNotReplaced();
};

void TestConfig::creatorRoundTrip()
{
    QTemporaryDir dir;
    CreatorSettings s;
    s.language = QStringLiteral("German");
    QByteArray dirLines;
    for (int i = 0; i < 3; ++i) {
        s.gameDirs << makeGameDir(dir.path(), QStringLiteral("game %1").arg(i));
        dirLines += "VegaDir: " + s.gameDirs.last().toLocal8Bit() + '\n';
    }
    s.modDir = QStringLiteral("C:/Program Files/Mods");
    s.baseLanguage = QStringLiteral("49");
    s.modelDir = QStringLiteral("/m");
    s.saveDir = QStringLiteral("/s");
    s.typeDir = QStringLiteral("/t");
    s.textDir = QStringLiteral("/x");
    s.bodcompPath = QStringLiteral("/b/bodcomp.exe");
    s.scriptDir = QStringLiteral("/sc");
    s.defaultAuthor = QStringLiteral("Orrin Vale");
    s.defaultWeb = QStringLiteral("example.org/ships");
    s.defaultMirror1 = QStringLiteral("m1");
    s.defaultMirror2 = QStringLiteral("m2");
    QVERIFY(!s.fastSave); // the mandated encoder unless asked
    s.bodcomp = s.prefixNames = s.saveWeb = s.fastSave = true;
    s.getTextOnStart = s.looseTextFolder = false;
    QVERIFY(WriteCreatorSettings(dir.path(), s));
    QCOMPARE(readBytes(dir.path() + QStringLiteral("/config.dat")),
             "<common>\nLanguage: German\n</common>\n<creator>\n" + dirLines +
                 "ModDir: C:/Program Files/Mods\nBaseLang: 49\nModelDir: /m\nSaveDir: /s\n"
                 "TypeDir: /t\nTextDir: /x\nBodcompDir: /b/bodcomp.exe\nScriptDir: /sc\n"
                 "DefAuthor: Orrin Vale\nDefWeb: example.org/ships\nDefMirror1: m1\n"
                 "DefMirror2: m2\nBODCOMP\nPrefix\nNoText\nNoTextT\nSaveWeb\nFastSave\n</creator>\n");

    CreatorSettings back;
    QVERIFY(ReadCreatorSettings(dir.path(), back));
    QVERIFY(back.fastSave);
    QCOMPARE(CreatorSettingsText(back, {}), CreatorSettingsText(s, {}));

    // The base language is the second word only; a directory without vega.exe and
    // an eleventh one are dropped.
    QByteArray text = "<creator>\nBaseLang: 49 extra\nVegaDir: /no/such/dir\n";
    for (int i = 0; i < 11; ++i)
        text += "VegaDir: " + makeGameDir(dir.path(), QStringLiteral("g%1").arg(i)).toLocal8Bit() +
                '\n';
    text += "</creator>\n";
    ParseCreatorSettings(text, back);
    QCOMPARE(back.baseLanguage, QStringLiteral("49"));
    QCOMPARE(back.gameDirs.size(), 10);
    QVERIFY(back.gameDirs.first().endsWith(QLatin1String("/g0")));
    QCOMPARE(back.language, QStringLiteral("English"));
    QVERIFY(!back.languageChosen); // a first start may follow the system's language
    QVERIFY(!back.fastSave);
}

void TestConfig::installerBlockSurvives()
{
    QTemporaryDir dir;
    const QString game = makeGameDir(dir.path(), QStringLiteral("game"));
    InstallerSettings installer;
    installer.installDirs << game;
    installer.debugLog = true;
    installer.textCustom = 33;
    QVERIFY(WriteInstallerSettings(dir.path(), installer));
    const QByteArray installerBlock =
        readBytes(dir.path() + QStringLiteral("/config.dat"))
            .mid(QByteArray("<common>\nLanguage: English\n</common>\n").size());

    CreatorSettings creator;
    creator.gameDirs << game;
    creator.defaultAuthor = QStringLiteral("A");
    QVERIFY(WriteCreatorSettings(dir.path(), creator));
    QVERIFY(WriteCreatorSettings(dir.path(), creator));
    const QByteArray text = readBytes(dir.path() + QStringLiteral("/config.dat"));
    QVERIFY(text.endsWith("</creator>\n" + installerBlock));
}

void TestConfig::foreignBlocksAndTwoCommons()
{
    // CR LF lines of another editor, two <common> blocks and a foreign block.
    const QByteArray old =
        "<common>\r\nLanguage: German\r\n</common>\r\n<installer>\r\nDebugLog\r\n"
        "</installer>\r\n<common>\nLanguage: French x\n</common>\n"
        "<other>\nkey: value\n</other>\n";
    CreatorSettings s;
    ParseCreatorSettings(old, s);
    QCOMPARE(s.language, QStringLiteral("French")); // both read, the later one wins
    QVERIFY(s.languageChosen);
    ParseCreatorSettings("<common>\nLanguage: \n</common>\n", s);
    QVERIFY(!s.languageChosen);
    QCOMPARE(s.language, QStringLiteral("English"));
    InstallerSettings installer;
    ParseInstallerSettings(old, installer);
    QVERIFY(installer.languageChosen);
    ParseInstallerSettings("<installer>\nDebugLog\n</installer>\n", installer);
    QVERIFY(!installer.languageChosen);
    const QByteArray text = CreatorSettingsText(s, old);
    QCOMPARE(text.count("<common>"), 1);
    QVERIFY(text.endsWith("</creator>\n<installer>\r\nDebugLog\r\n</installer>\r\n"
                          "<other>\nkey: value\n</other>\n"));
    QCOMPARE(CreatorSettingsText(s, text), text);
    // A value with a line break cannot smuggle a flag line in.
    s.defaultAuthor = QStringLiteral("x\nNoText");
    CreatorSettings back;
    ParseCreatorSettings(CreatorSettingsText(s, {}), back);
    QVERIFY(back.getTextOnStart);
}

void TestConfig::unreadableFileIsNotReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // in the write's error
    QTest::newRow("a folder") << "folder" << "not a regular file";
    QTest::newRow("a FIFO nobody writes to") << "fifo" << "not a regular file";
    QTest::newRow("a link to /dev/zero") << "zero" << "not a regular file";
    QTest::newRow("512 MiB") << "huge" << "larger than";
}

void TestConfig::unreadableFileIsNotReplaced()
{
    // A config.dat that cannot be read gives the defaults at once (no wait for a
    // writer, no endless read) and is never replaced: the installer's lines in it
    // would be lost.
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/config.dat");
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (kind == QLatin1String("fifo"))
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else if (kind == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else {
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(512) << 20));
    }
    const QFileInfo before(path);
    CreatorSettings s;
    s.language = QStringLiteral("German");
    QVERIFY(!ReadCreatorSettings(dir.path(), s));
    QCOMPARE(s.language, QStringLiteral("English"));
    QString error;
    QVERIFY(!WriteCreatorSettings(dir.path(), s, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    const QFileInfo after(path);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isDir(), before.isDir());
    QCOMPARE(after.size(), before.size());
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
