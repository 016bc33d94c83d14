#include "csocket.h"
#include "cstartup.h"

#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>
#include <QtTest>

using Chunks = QList<QByteArray>;

namespace {

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

int liveConnections(const CServerSocket& server)
{
    return int(server.findChildren<CSocket*>().size());
}

// Sends a chunk as its own write and lets the server read it before the next one, so
// that chunks reach the server as separate reads. The server may hang up meanwhile.
void sendChunk(QTcpSocket& client, const QByteArray& chunk)
{
    client.write(chunk);
    client.waitForBytesWritten(2000);
    QTest::qWait(20);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void argumentText_data();
    void argumentText();

    void initTestCase();
    void server_data();
    void server();
    void serverFreesConnections();

    void startup_data();
    void startup();

private:
    QTemporaryDir m_dir;
    QString m_package;
    QString m_accented;
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
}

void TestSingleInstance::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_package = m_dir.filePath(QStringLiteral("My Ship.xsp"));
    m_accented = m_dir.filePath(QStringLiteral("N\u00e9ant.XSP"));
    for (const QString& name : {m_package, m_accented, m_dir.filePath("notes.txt")}) {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder.xsp")));
}

// "@PKG@" in a chunk stands for the path of an existing package file, "@DIR@" for its
// folder, "@ACC@" for a package whose name needs more than ASCII, sent as UTF-8,
// "@LAT@" for that one as an older sender wrote it, in 8-bit text.
void TestSingleInstance::server_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("queued"); // the paths handed on, in order
    QTest::addColumn<QString>("logged"); // part of the log line, empty for none

    const QByteArray pkg = "@PKG@";
    const QByteArray end("\n\0", 2);
    const QStringList one{"@PKG@"};
    const QStringList none;
    QTest::newRow("remote start") << Chunks{pkg + end} << one << QString();
    QTest::newRow("split across reads")
        << Chunks{"@DIR@/My Sh", "ip.x", "sp", "\n", QByteArray(1, '\0')} << one << QString();
    QTest::newRow("UTF-8 name, upper-case suffix")
        << Chunks{"@ACC@" + end} << QStringList{"@ACC@"} << QString();
    QTest::newRow("8-bit name of an older sender")
        << Chunks{"@LAT@" + end} << QStringList{"@ACC@"} << QString();
    QTest::newRow("two paths queue two installs")
        << Chunks{pkg + "\n@ACC@" + end} << QStringList{"@PKG@", "@ACC@"} << QString();
    QTest::newRow("two paths, the second split")
        << Chunks{pkg + "\n@DIR@/My", " Ship.xsp" + end} << QStringList{"@PKG@", "@PKG@"}
        << QString();

    const QByteArray http = "HTTP request or header line";
    QTest::newRow("cross-site POST")
        << Chunks{"POST / HTTP/1.1\r\nHost: 127.0.0.1:53416\r\nOrigin: http://example.org\r\n"
                  "Content-Type: text/plain\r\nContent-Length: 60\r\n\r\n" +
                  pkg + end}
        << none << QString(http);
    QTest::newRow("GET") << Chunks{"GET /" + pkg + " HTTP/1.0\r\n\r\n"} << none << QString(http);
    QTest::newRow("header line first")
        << Chunks{"Content-Type: text/plain\n" + pkg + end} << none << QString(http);
    QByteArray many;
    for (int i = 0; i <= CSocket::kMaxLines; ++i)
        many += pkg + "\n";
    QTest::newRow("too many lines") << Chunks{many + '\0'} << none << "more than";
    QTest::newRow("zero byte inside the line")
        << Chunks{QByteArray("@DIR@/My") + '\0' + " Ship.xsp" + end} << none << "zero byte";

    const QString dropped = QStringLiteral("not an existing .xsp file");
    QTest::newRow("not a package") << Chunks{"@DIR@/notes.txt" + end} << none << dropped;
    QTest::newRow("folder") << Chunks{"@DIR@/folder.xsp" + end} << none << dropped;
    QTest::newRow("missing file") << Chunks{"@DIR@/gone.xsp" + end} << none << dropped;

    const qint64 limit = CSocket::kMaxLineLength;
    QTest::newRow("line at the limit") << Chunks{QByteArray(limit, 'a') + end} << none << dropped;
    QTest::newRow("line over the limit")
        << Chunks{QByteArray(limit + 1, 'a') + end} << none << "longer than";
    QTest::newRow("no newline ever")
        << Chunks{QByteArray(4 * limit, 'a')} << none << "longer than";
}

void TestSingleInstance::server()
{
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, queued);
    QFETCH(QString, logged);

    CServerSocket server(nullptr, 0);
    QVERIFY(server.isListening());
    QSignalSpy received(&server, &CServerSocket::receivedText);
    QSignalSpy logs(&server, &CServerSocket::Signal_AddLog);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(2000));
    QSignalSpy closedByServer(&client, &QTcpSocket::disconnected);
    for (QByteArray chunk : chunks) {
        chunk.replace("@PKG@", m_package.toLocal8Bit())
            .replace("@ACC@", m_accented.toUtf8())
            .replace("@LAT@", m_accented.toLatin1())
            .replace("@DIR@", m_dir.path().toLocal8Bit());
        sendChunk(client, chunk);
    }

    // Every message ends the connection, taken or not.
    QTRY_COMPARE(closedByServer.size(), 1);
    QTRY_COMPARE(liveConnections(server), 0);
    QTRY_COMPARE(received.size(), queued.size()); // handed on from the event loop
    QTRY_COMPARE(logs.size(), logged.isEmpty() ? 0 : 1);
    QStringList got;
    for (const QList<QVariant>& args : std::as_const(received))
        got << args.at(0).toString();
    for (QString& path : queued)
        path = (path == QLatin1String("@ACC@") ? m_accented : m_package) + QLatin1Char('\n');
    QCOMPARE(got, queued);
    QCOMPARE(logs.size(), logged.isEmpty() ? 0 : 1);
    if (!logged.isEmpty())
        QVERIFY2(logs.at(0).at(0).toString().contains(logged),
                 qPrintable(logs.at(0).at(0).toString()));
}

void TestSingleInstance::serverFreesConnections()
{
    CServerSocket server(nullptr, 0);
    QSignalSpy received(&server, &CServerSocket::receivedText);

    // Only this machine may hand over packages: another address, even a loopback
    // one, finds the port closed.
    QTcpSocket stranger;
    stranger.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), server.serverPort());
    QVERIFY(!stranger.waitForConnected(2000));

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
            client.write(m_package.toLocal8Bit() + QByteArray("\n\0", 2));
        client.disconnectFromHost();
        if (client.state() != QAbstractSocket::UnconnectedState)
            QVERIFY(client.waitForDisconnected(2000));
        QCoreApplication::processEvents();
    }

    QTRY_COMPARE(received.size(), kConnections / 2);
    QTRY_COMPARE(liveConnections(server), 0);
    QTRY_VERIFY(openFileCount() <= filesBefore);
}

void TestSingleInstance::startup_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("peer"); // "reads", "hangs up" after 200 ms, or "none" listens
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("path") << QStringList{"drydock", "/s/My", "Ship.xsp"} << "reads"
                          << QByteArray("/s/My Ship.xsp\n\0", 16);
    QTest::newRow("path beyond the code page, as UTF-8")
        << QStringList{"drydock", QStringLiteral("/s/\u039d\u00e9ant.xsp")} << "reads"
        << QByteArray("/s/\xce\x9d\xc3\xa9"
                      "ant.xsp\n\0",
                      16);
    QTest::newRow("no arguments") << QStringList{"drydock"} << "reads" << QByteArray();
    // Far more than the socket buffers hold, so the write is still going on. The
    // connect worked, so the write error must not make this a second running instance.
    QTest::newRow("peer hangs up while the path is sent")
        << QStringList{"drydock", QString(32 * 1024 * 1024, QLatin1Char('x'))} << "hangs up"
        << QByteArray();
    QTest::newRow("first start") << QStringList{"drydock", "/s/My", "Ship.xsp"} << "none"
                                 << QByteArray();
}

void TestSingleInstance::startup()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, peer);
    QFETCH(QByteArray, sent);

    QTcpServer running;
    QVERIFY(running.listen(QHostAddress::LocalHost, 0));
    const quint16 port = running.serverPort();
    QByteArray bytes;
    bool peerClosed = false;
    connect(&running, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* socket = running.nextPendingConnection();
        if (peer == QLatin1String("hangs up")) {
            QTimer::singleShot(200, socket, [socket] { socket->abort(); });
            return;
        }
        connect(socket, &QTcpSocket::readyRead, this,
                [&bytes, socket] { bytes += socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, this, [&peerClosed] { peerClosed = true; });
    });
    if (peer == QLatin1String("none"))
        running.close();

    QStringList texts;
    QPointer<QWidget> window;
    auto startup = std::make_unique<CStartup>(
        arguments,
        [&](const QString& text) {
            texts << text;
            window = new QWidget;
            return window.data();
        },
        port);
    QSignalSpy quit(startup.get(), &CStartup::Signal_Quit);
    startup->start();

    if (peer != QLatin1String("none")) {
        QTRY_COMPARE_WITH_TIMEOUT(quit.size(), 1, 10000);
        QTRY_VERIFY(peerClosed || peer == QLatin1String("hangs up"));
        QCOMPARE(bytes, sent);
        QCOMPARE(texts, QStringList());
        QCOMPARE(startup->mainWindow(), nullptr);
        return;
    }
    // Nobody on the port: this start is the running instance, with one window.
    QTRY_COMPARE(texts, QStringList{QStringLiteral("/s/My Ship.xsp")});
    QCOMPARE(startup->state(), CStartup::State::Running);
    QCOMPARE(startup->mainWindow(), window.data());
    QVERIFY(window->isVisible());
    QTest::qWait(50);
    QCOMPARE(texts.size(), 1);
    QCOMPARE(quit.size(), 0);
    startup.reset();
    QVERIFY(window.isNull());
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
