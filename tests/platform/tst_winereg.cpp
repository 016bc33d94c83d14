// The registry files of a Wine prefix: the game reads its mod from there, and the
// file holds everything else the prefix knows, so a change must leave every other
// byte alone and a file that does not read must never be written back.

#include "winereg.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kHead = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A 64-bit prefix with values of every form around the one that changes.
QByteArray win64()
{
    return readFile(QFINDTESTDATA("../data/platform/system-win64.reg"));
}

} // namespace

class TestWineReg : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    int m_serial = 0;

    QString prefixWith(const QByteArray& systemReg)
    {
        const QString prefix = m_tmp.filePath(QStringLiteral("pfx%1").arg(++m_serial));
        if (!QDir().mkpath(prefix) || !writeFile(prefix + "/system.reg", systemReg))
            return QString();
        return prefix;
    }
    static std::unique_ptr<SystemRegistry> open(const QString& prefix)
    {
        const auto noServer = [](const QString&, QString*) { return false; };
        return CreateWinePrefixRegistry(prefix, noServer, [] { return qint64(1750000000); });
    }

private slots:
    void setOneValue_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("replace, 64-bit view")
            << win64() << "Hullwright" << win64().replace("\"Old \\\"one\\\"\"", "\"Hullwright\"");
        const QByteArray crlf = win64().replace("\n", "\r\n");
        QTest::newRow("line breaks kept")
            << crlf << "Hullwright"
            << QByteArray(crlf).replace("\"Old \\\"one\\\"\"", "\"Hullwright\"");
        const QByteArray noValue = win64().replace("\"ModName\"=\"Old \\\"one\\\"\"\n", "");
        QTest::newRow("value added to its key")
            << noValue << "Hullwright"
            << QByteArray(noValue).replace("%SystemRoot%\\\\x\"\n",
                                           "%SystemRoot%\\\\x\"\n\"ModName\"=\"Hullwright\"\n");
        const QByteArray binary = win64().replace("\"ModName\"=\"Old \\\"one\\\"\"",
                                                  "\"modname\"=hex(7):41,00,\\\n  00,00");
        QTest::newRow("other type replaced, name spelling kept")
            << binary << "Hullwright"
            << QByteArray(binary).replace("hex(7):41,00,\\\n  00,00", "\"Hullwright\"");
        const QByteArray win32 = kHead + "#arch=win32\n\n[Software\\\\Other] 1\n\"A\"=\"b\"\n";
        QTest::newRow("new key, 32-bit prefix")
            << win32
            << "Hull\\wright \"\xc3\xa9\"\n\x01"
               "1"
            << win32 + "\n[Software\\\\SKYWARD\\\\Vega] 1750000000\n#time=1dbde0718d04000\n"
                       "\"ModName\"=\"Hull\\\\wright \\\"\\xe9\\\"\\n\\0011\"\n";
    }
    void setOneValue()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        const QString prefix = prefixWith(before);
        QVERIFY(open(prefix)->writeString("/SKYWARD", "/Vega/ModName", value));
        QCOMPARE(readFile(prefix + "/system.reg"), after);
        QCOMPARE(open(prefix)->readString("/skyward", "\\VEGA\\modname"), value);
    }

    void readsOnlyStrings()
    {
        const QString prefix = prefixWith(win64());
        auto reg = open(prefix);
        QCOMPARE(reg->readString("/SKYWARD", "/Vega/ModName"), QStringLiteral("Old \"one\""));
        QCOMPARE(reg->readString("/SKYWARD", "/Vega/Path"), QStringLiteral("%SystemRoot%\\x"));
        QCOMPARE(reg->readString("/SKYWARD", "/Vega/Count"), QString());
        QCOMPARE(reg->readString("/SKYWARD", "/Vega/Missing"), QString());
        QVERIFY(reg->errorString().isEmpty());
    }

    void brokenFileNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no header") << QByteArray("[Software] 1\n\"A\"=\"b\"\n");
        QTest::newRow("key not closed") << kHead + "[Software\\\\SKYWARD 1\n";
        QTest::newRow("value before any key") << kHead + "\"ModName\"=\"x\"\n";
        QTest::newRow("string not closed")
            << kHead + "[Software\\\\SKYWARD\\\\Vega] 1\n\"ModName\"=\"x\n";
        QTest::newRow("binary cut off") << kHead + "[Software\\\\X] 1\n\"B\"=hex:01,\\\n";
        QTest::newRow("unknown line") << kHead + "[Software\\\\X] 1\nModName=x\n";
        QTest::newRow("unknown value form") << kHead + "[Software\\\\X] 1\n\"A\"=qword:1\n";
    }
    void brokenFileNeverWritten()
    {
        QFETCH(QByteArray, text);
        const QString prefix = prefixWith(text);
        auto reg = open(prefix);
        QCOMPARE(reg->readString("/SKYWARD", "/Vega/ModName"), QString());
        QVERIFY(!reg->errorString().isEmpty());
        QVERIFY(!reg->writeString("/SKYWARD", "/Vega/ModName", "Hullwright"));
        QCOMPARE(readFile(prefix + "/system.reg"), text);
    }

    // A running server holds the registry in memory and writes it back on exit.
    void runningServerRefused()
    {
#ifdef Q_OS_WIN
        QSKIP("Wine prefixes are a Linux matter");
#else
        const QString prefix = prefixWith(win64());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(prefix).constData(), &st), 0);
        const QString serverRoot = m_tmp.filePath("server");
        const QString dir = serverRoot + QStringLiteral("/server-%1-%2")
                                             .arg(qulonglong(st.st_dev), 0, 16)
                                             .arg(qulonglong(st.st_ino), 0, 16);
        QVERIFY(QDir().mkpath(dir));
        QString detail;
        QVERIFY(!WineServerRunning(serverRoot, prefix, &detail)); // no server dir content
        // What a crashed server leaves: a socket and a lock file nobody holds.
        QVERIFY(writeFile(dir + "/socket", "") && writeFile(dir + "/lock", ""));
        QVERIFY(!WineServerRunning(serverRoot, prefix, &detail));

        const QByteArray lock = QFile::encodeName(dir + "/lock");
        int ready[2], hold[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(hold) == 0);
        const pid_t pid = ::fork();
        if (pid == 0) { // the server: locks and waits until the test lets it go
            ::close(ready[0]);
            ::close(hold[1]);
            const int fd = ::open(lock.constData(), O_RDWR);
            struct flock fl
            {
            };
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_len = 1;
            char c = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? '1' : '0';
            if (::write(ready[1], &c, 1) == 1)
                (void)!::read(hold[0], &c, 1);
            ::_exit(0);
        }
        QVERIFY(pid > 0);
        ::close(ready[1]);
        ::close(hold[0]);
        char c = 0;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        QCOMPARE(c, '1');
        QVERIFY(WineServerRunning(serverRoot, prefix, &detail));
        auto reg = CreateWinePrefixRegistry(prefix, DefaultWineServerCheck(serverRoot));
        QVERIFY(!reg->writeString("/SKYWARD", "/Vega/ModName", "Hullwright"));
        QCOMPARE(readFile(prefix + "/system.reg"), win64());

        ::close(hold[1]);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        ::close(ready[0]);
        QVERIFY(!WineServerRunning(serverRoot, prefix, &detail));
        QVERIFY(reg->writeString("/SKYWARD", "/Vega/ModName", "Hullwright"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestWineReg)
#include "tst_winereg.moc"
