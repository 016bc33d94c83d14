#include "fileutils.h"

#include <QProcess>
#include <QtTest>

class TstFileUtils : public QObject
{
    Q_OBJECT

private slots:
    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("result");
        const auto row = [](const char* tag, const char* a, const char* b, int result) {
            QTest::newRow(tag) << QString(a) << QString(b) << result;
        };
        row("numeric not text", "2", "10", 1);
        row("older", "1.10", "1.9", -1);
        row("longer is newer", "1.2", "1.2.1", 1);
        row("letter is a component", "1.2", "1.2a", 1);
        row("letter case", "1.2b", "1.2B", 0);
        row("leading dots", ".5", "0.5", -1);
        row("both empty", "", "", 0);
        row("empty field ends", "1.2a.5", "1.2a.6", 0);
        row("equal", "1.2", "1.2", 0);
        row("non-digits count as 0", "1.-", "1.0", 0);
    }
    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, result);
        QCOMPARE(CompareVersions(a, b), result);
        QCOMPARE(CompareVersions(b, a), -result);
    }

    void formatText()
    {
        QCOMPARE(FormatText("Ship %1 by %2", "A", "B"), QString("Ship A by B"));
        QCOMPARE(FormatText("plain"), QString("plain"));
        QCOMPARE(FormatText("%3%3-%1", "x"), QString("-x"));
        // A filled-in text is not searched again for markers.
        QCOMPARE(FormatText("%1 by %2", "%2 Teal", "Ann"), QString("%2 Teal by Ann"));
        QCOMPARE(FormatText("100%% %1%", "x"), QString("100%% x%"));
        QCOMPARE(VersionLettersToNumbers("1aJz"), QString("1.1..10..26."));
    }

    void foldersAndLogs()
    {
        QTemporaryDir dir;
        MakePath(dir.path(), "a/b//c/");
        QVERIFY(QFileInfo(dir.filePath("a/b/c")).isDir());
        QFile(dir.filePath("a/f.txt")).open(QIODevice::WriteOnly);
        QFile(dir.filePath("a/b/c/g.txt")).open(QIODevice::WriteOnly);
        QVERIFY(!RemoveTree(dir.filePath("a"), false));
        QVERIFY(QFileInfo::exists(dir.filePath("a/f.txt")));
        // Without removing files, empty folders beside kept files still go.
        MakePath(dir.path(), "a/empty1");
        MakePath(dir.path(), "a/zempty2/deeper");
        QVERIFY(!RemoveTree(dir.filePath("a"), false));
        QVERIFY(!QFileInfo::exists(dir.filePath("a/empty1")));
        QVERIFY(!QFileInfo::exists(dir.filePath("a/zempty2")));
        QVERIFY(QFileInfo::exists(dir.filePath("a/b/c/g.txt")));
        QVERIFY(RemoveTree(dir.filePath("a"), true));
        QVERIFY(!QFileInfo::exists(dir.filePath("a")));

        WriteLog(dir.path(), QString(), "message");
        QVERIFY(!QFileInfo::exists(dir.filePath("log")));
        WriteLog(dir.path(), "installer_debug", "first");
        WriteLog(dir.path(), "installer_debug", "second");
        QFile log(dir.filePath("log/installer_debug.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("] first") && lines[1].endsWith("] second"));
    }

    // A removed tree takes links inside it, never what they lead to; a killed
    // run's work folder goes at the next start, a running one's stays.
    void linksAndLeftovers()
    {
        QTemporaryDir dir;
        const QString outside = dir.filePath("outside");
        MakePath(dir.path(), "outside/sub");
        QFile(outside + "/keep.txt").open(QIODevice::WriteOnly);
        MakePath(dir.path(), "tree");
        QVERIFY(QFile::link(outside, dir.filePath("tree/folder-link")));
        QVERIFY(QFile::link(outside + "/keep.txt", dir.filePath("tree/file-link")));
        QVERIFY(RemoveTree(dir.filePath("tree"), true));
        QVERIFY(!QFileInfo::exists(dir.filePath("tree")));
        QVERIFY(QFileInfo::exists(outside + "/keep.txt") && QFileInfo(outside + "/sub").isDir());

        QProcess ended;
        ended.start("true");
        const qint64 pid = ended.waitForStarted() ? ended.processId() : 0;
        QVERIFY(pid > 0 && ended.waitForFinished());
        const QString temp = dir.filePath("temp");
        const QString dead = QStringLiteral("%1/save-%2-00ab").arg(temp).arg(pid);
        MakePath(dead, "inner");
        const QString mine = MakeWorkFolder(temp, "save");
        QVERIFY(QFileInfo(mine).fileName().startsWith(
            QStringLiteral("save-%1-").arg(QCoreApplication::applicationPid())));
        MakePath(temp, "save-notanumber");
        RemoveStaleWorkFolders(temp, "save");
        QVERIFY(!QFileInfo::exists(dead));
        QVERIFY(QFileInfo(mine).isDir());
        QVERIFY(QFileInfo(temp + "/save-notanumber").isDir());
    }
};

QTEST_GUILESS_MAIN(TstFileUtils)
#include "tst_fileutils.moc"
