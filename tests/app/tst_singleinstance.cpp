#include "csocket.h"
#include "cstartup.h"

#include <QDir>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>
#include <QtTest>

using Chunks = QList<QByteArray>;

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

int liveConnections(const CServerSocket& server)
{
    return int(server.findChildren<CSocket*>().size());
}

// Sends each chunk as its own write and lets the server read it before the next one,
// so that chunks reach the server as separate reads.
void sendChunks(QTcpSocket& client, const Chunks& chunks)
{
    for (const QByteArray& chunk : chunks) {
        client.write(chunk);
        QVERIFY(client.waitForBytesWritten(2000));
        QTest::qWait(20);
    }
}

class Probe
{
public:
    explicit Probe(quint16 port)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PROBE_PORT"), QString::number(port));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
    }
    ~Probe()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
    void start(const QStringList& arguments)
    {
        process.start(QStringLiteral(SINGLEINSTANCE_PROBE), arguments);
    }
    QStringList lines()
    {
        output += process.readAllStandardOutput();
        QStringList result = QString::fromLocal8Bit(output).split(QLatin1Char('\n'));
        result.removeAll(QString());
        return result;
    }
    QStringList paths()
    {
        QStringList result;
        for (const QString& line : lines())
            if (line.startsWith(QLatin1String("path:")))
                result << line.mid(5);
        return result;
    }

    QProcess process;

private:
    QByteArray output;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void argumentText_data();
    void argumentText();

    void serverSplitsLines_data();
    void serverSplitsLines();
    void serverDropsOversizedLines_data();
    void serverDropsOversizedLines();
    void serverFreesConnections();

    void startupHandsOverAndQuits_data();
    void startupHandsOverAndQuits();
    void startupFailureAfterConnectOpensNoWindow();
    void startupBecomesRunningInstance();

    void twoProcesses();
};

void TestSingleInstance::argumentText_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << QStringList{"drydock"} << QString();
    QTest::newRow("one path") << QStringList{"drydock", "/s/a.xsp"} << "/s/a.xsp";
    QTest::newRow("blank splits a path")
        << QStringList{"drydock", "/home/me/My", "Ships/a.xsp"} << "/home/me/My Ships/a.xsp";
    QTest::newRow("quotes removed")
        << QStringList{"drydock", "\"/home/me/My", "Ships/a.xsp\""} << "/home/me/My Ships/a.xsp";
    QTest::newRow("empty argument") << QStringList{"/opt/x/drydock", ""} << "";
}

void TestSingleInstance::argumentText()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    CStartup startup(arguments, {});
    QCOMPARE(startup.argumentText(), expected);
    QCOMPARE(startup.programPath(), arguments.first());
}

void TestSingleInstance::serverSplitsLines_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("remote start message")
        << Chunks{QByteArray("/s/a.xsp\n\0", 10)} << QStringList{"/s/a.xsp\n"};
    QTest::newRow("split across reads")
        << Chunks{"/s/My Sh", "ips/a.x", "sp\n"} << QStringList{"/s/My Ships/a.xsp\n"};
    QTest::newRow("two lines in one read")
        << Chunks{"/s/a.xsp\n/s/b.xsp\n"} << QStringList{"/s/a.xsp\n", "/s/b.xsp\n"};
    QTest::newRow("zero bytes removed") << Chunks{QByteArray("/s/a.xsp\n\0/s/b.x\0sp\n\0", 21)}
                                        << QStringList{"/s/a.xsp\n", "/s/b.xsp\n"};
    QTest::newRow("trailing partial line never delivered")
        << Chunks{"/s/a.xsp\n/s/b", ".xsp"} << QStringList{"/s/a.xsp\n"};
    QTest::newRow("empty and blank lines ignored")
        << Chunks{"\n", " \t\r\n", QByteArray("\0\n\0", 3)} << QStringList{};
    const QString accented = QStringLiteral("/s/N\u00e9ant.xsp\n");
    QTest::newRow("8-bit text") << Chunks{accented.toLocal8Bit()} << QStringList{accented};
}

void TestSingleInstance::serverSplitsLines()
{
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, expected);

    CServerSocket server(nullptr, 0);
    QVERIFY(server.isListening());
    QSignalSpy received(&server, &CServerSocket::receivedText);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(2000));
    sendChunks(client, chunks);
    client.disconnectFromHost();

    // The connection goes away with its peer, and a partial line goes with it.
    QTRY_COMPARE(liveConnections(server), 0);
    QStringList lines;
    for (const QList<QVariant>& args : received)
        lines << args.at(0).toString();
    QCOMPARE(lines, expected);
}

void TestSingleInstance::serverDropsOversizedLines_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("accepted");

    const qint64 limit = CSocket::kMaxLineLength;
    const QByteArray next = "/s/after.xsp\n";
    QTest::newRow("at the limit") << QByteArray(limit, 'a') + "\n" + next << true;
    QTest::newRow("one byte over") << QByteArray(limit + 1, 'a') + "\n" + next << false;
    QTest::newRow("no newline ever") << QByteArray(4 * limit, 'a') << false;
}

void TestSingleInstance::serverDropsOversizedLines()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);

    CServerSocket server(nullptr, 0);
    QSignalSpy received(&server, &CServerSocket::receivedText);
    QSignalSpy logged(&server, &CServerSocket::Signal_AddLog);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(2000));
    QSignalSpy closedByServer(&client, &QTcpSocket::disconnected);
    client.write(payload);

    if (accepted) {
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received.at(0).at(0).toString().size(), CSocket::kMaxLineLength + 1);
        QCOMPARE(logged.size(), 0);
        QCOMPARE(closedByServer.size(), 0);
    } else {
        QTRY_COMPARE(closedByServer.size(), 1);
        QTRY_COMPARE(liveConnections(server), 0);
        QCOMPARE(received.size(), 0);
        QCOMPARE(logged.size(), 1);
    }
}

void TestSingleInstance::serverFreesConnections()
{
    CServerSocket server(nullptr, 0);
    QSignalSpy received(&server, &CServerSocket::receivedText);

    // Settle Qt's lazily opened descriptors before counting.
    {
        QTcpSocket warmUp;
        warmUp.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(warmUp.waitForConnected(2000));
        warmUp.disconnectFromHost();
        QTRY_COMPARE(liveConnections(server), 0);
    }
    const int filesBefore = openFileCount();

    constexpr int kConnections = 1000;
    for (int i = 0; i < kConnections; ++i) {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(2000));
        if (i % 2 == 0)
            client.write(QByteArray("/s/a.xsp\n\0", 10));
        client.disconnectFromHost();
        if (client.state() != QAbstractSocket::UnconnectedState)
            QVERIFY(client.waitForDisconnected(2000));
        QCoreApplication::processEvents();
    }

    QTRY_COMPARE(received.size(), kConnections / 2);
    QTRY_COMPARE(liveConnections(server), 0);
    QTRY_VERIFY(openFileCount() <= filesBefore);
}

void TestSingleInstance::startupHandsOverAndQuits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("path") << QStringList{"drydock", "/s/My", "Ship.xsp"}
                          << QByteArray("/s/My Ship.xsp\n\0", 16);
    QTest::newRow("no arguments") << QStringList{"drydock"} << QByteArray();
}

void TestSingleInstance::startupHandsOverAndQuits()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, sent);

    QTcpServer running;
    QVERIFY(running.listen(QHostAddress::LocalHost, 0));
    QByteArray bytes;
    bool peerClosed = false;
    connect(&running, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* peer = running.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, this, [&bytes, peer] { bytes += peer->readAll(); });
        connect(peer, &QTcpSocket::disconnected, this, [&peerClosed] { peerClosed = true; });
    });

    int windows = 0;
    CStartup startup(
        arguments,
        [&windows](const QString&) {
            ++windows;
            return new QWidget;
        },
        running.serverPort());
    QSignalSpy quit(&startup, &CStartup::Signal_Quit);
    startup.start();

    QTRY_COMPARE(quit.size(), 1);
    QTRY_VERIFY(peerClosed);
    QCOMPARE(bytes, sent);
    QCOMPARE(windows, 0);
    QCOMPARE(startup.mainWindow(), nullptr);
}

void TestSingleInstance::startupFailureAfterConnectOpensNoWindow()
{
    // Something on the port takes the connection, reads nothing and hangs up while the
    // path is still being sent. The connect worked, so the write error that follows
    // must not make this start a second running instance.
    QTcpServer rude;
    QVERIFY(rude.listen(QHostAddress::LocalHost, 0));
    connect(&rude, &QTcpServer::newConnection, this, [&rude] {
        QTcpSocket* peer = rude.nextPendingConnection();
        QTimer::singleShot(200, peer, [peer] { peer->abort(); });
    });

    int windows = 0;
    // Far more than the socket buffers hold, so the write is still going on.
    const QString hugePath(32 * 1024 * 1024, QLatin1Char('x'));
    CStartup startup(
        {"drydock", hugePath},
        [&windows](const QString&) {
            ++windows;
            return new QWidget;
        },
        rude.serverPort());
    QSignalSpy quit(&startup, &CStartup::Signal_Quit);
    startup.start();

    QTRY_COMPARE_WITH_TIMEOUT(quit.size(), 1, 10000);
    QCOMPARE(windows, 0);
}

void TestSingleInstance::startupBecomesRunningInstance()
{
    const quint16 port = freePort();
    QVERIFY(port != 0);

    QStringList texts;
    QPointer<QWidget> window;
    auto startup = std::make_unique<CStartup>(
        QStringList{"drydock", "/s/My", "Ship.xsp"},
        [&](const QString& text) {
            texts << text;
            window = new QWidget;
            return window.data();
        },
        port);
    QSignalSpy quit(startup.get(), &CStartup::Signal_Quit);
    startup->start();

    QTRY_COMPARE(texts.size(), 1);
    QCOMPARE(texts.first(), QStringLiteral("/s/My Ship.xsp"));
    QCOMPARE(startup->state(), CStartup::State::Running);
    QCOMPARE(startup->mainWindow(), window.data());
    QVERIFY(window->isVisible());
    QTest::qWait(50);
    QCOMPARE(texts.size(), 1);
    QCOMPARE(quit.size(), 0);

    startup.reset();
    QVERIFY(window.isNull());
}

void TestSingleInstance::twoProcesses()
{
    const quint16 port = freePort();
    QVERIFY(port != 0);

    Probe first(port);
    first.start({});
    QVERIFY(first.process.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(first.lines().contains(QStringLiteral("listening")), 10000);

    // A start with a path hands it over and ends at once.
    Probe second(port);
    second.start({"/s/My", "\"Ship.xsp\""});
    QVERIFY(second.process.waitForFinished(5000));
    QCOMPARE(second.process.exitCode(), 0);
    QCOMPARE(second.lines(), QStringList{"handed-over"});
    QTRY_COMPARE(first.paths(), QStringList{"/s/My Ship.xsp\\n"});

    // A start without arguments also ends at once, and the running one gets nothing.
    Probe empty(port);
    empty.start({});
    QVERIFY(empty.process.waitForFinished(5000));
    QCOMPARE(empty.lines(), QStringList{"handed-over"});

    Probe marker(port);
    marker.start({"/s/marker.xsp"});
    QVERIFY(marker.process.waitForFinished(5000));
    QTRY_COMPARE(first.paths(), (QStringList{"/s/My Ship.xsp\\n", "/s/marker.xsp\\n"}));
    QCOMPARE(first.process.state(), QProcess::Running);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
