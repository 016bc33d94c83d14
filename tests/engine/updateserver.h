// A small HTTP server for the update tests: loopback only, one request per
// connection, answers from a table of paths. It reads at most one request head
// and then answers and closes, or stays silent when the path says so.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class UpdateServer
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        bool silent = false;       // accept, read, never answer
        bool noLength = false;     // no Content-Length: the body ends with the connection
        qint64 claimedLength = -1; // Content-Length to send instead of the body's size
    };

    UpdateServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    }
    ~UpdateServer()
    {
        for (const QPointer<QTcpSocket>& s : std::as_const(m_sockets))
            if (s)
                s->abort();
    }

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" + path
    QString url(const QString& path = QString()) const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(port()) + path;
    }

    void answer(const QString& path, const QByteArray& body) { m_routes[path] = {200, body}; }
    void answer(const QString& path, const Answer& a) { m_routes[path] = a; }
    void silent(const QString& path) { m_routes[path] = {200, {}, true}; }

    // Request paths in arrival order, and the Host header of each.
    QStringList requested;
    QStringList hosts;
    // The most connections open at one time.
    int maxOpen = 0;

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            maxOpen = qMax(maxOpen, ++m_open);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                --m_open;
                m_heads.remove(socket);
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket* socket)
    {
        QByteArray& head = m_heads[socket];
        if (head.endsWith("\r\n\r\n"))
            return; // answered or silent: the rest is ignored
        head += socket->readAll();
        if (head.size() > 16 * 1024) {
            socket->abort();
            return;
        }
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        head.truncate(end + 4);
        const QList<QByteArray> lines = head.split('\n');
        const QString path = QString::fromLatin1(lines.value(0).split(' ').value(1));
        QString host;
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("host:"))
                host = QString::fromLatin1(l.mid(5).trimmed());
        requested << path;
        hosts << host;

        const Answer a = route(path);
        if (a.silent)
            return;
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(a.status) + " Answer\r\n";
        if (!a.noLength)
            reply += "Content-Length: " +
                     QByteArray::number(a.claimedLength >= 0 ? a.claimedLength : a.body.size()) +
                     "\r\n";
        reply += "Connection: close\r\n\r\n" + a.body;
        socket->write(reply);
        socket->disconnectFromHost();
    }

    // Exact paths first; a key "*tail" answers every path that ends with tail.
    Answer route(const QString& path) const
    {
        if (m_routes.contains(path))
            return m_routes.value(path);
        for (auto it = m_routes.cbegin(); it != m_routes.cend(); ++it)
            if (it.key().startsWith(QLatin1Char('*')) && path.endsWith(it.key().mid(1)))
                return it.value();
        return {404, "not here"};
    }

    QTcpServer m_server;
    QMap<QString, Answer> m_routes;
    QMap<QTcpSocket*, QByteArray> m_heads;
    QList<QPointer<QTcpSocket>> m_sockets;
    int m_open = 0;
};
