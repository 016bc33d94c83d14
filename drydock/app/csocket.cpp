#include "csocket.h"

#include <QHostAddress>

CSocket::CSocket(QObject* parent) : QTcpSocket(parent)
{
    connect(this, &QTcpSocket::readyRead, this, &CSocket::read);
    connect(this, &QTcpSocket::disconnected, this, &CSocket::onDisconnected);
}

CSocket::~CSocket()
{
    // The base destructor aborts an open connection and emits disconnected(), which
    // must not reach this part of the object any more.
    disconnect(this, nullptr, this, nullptr);
}

void CSocket::read()
{
    for (;;) {
        if (!canReadLine()) {
            // Without a newline in sight the buffer would only keep growing.
            if (bytesAvailable() > kMaxLineLength)
                dropOversizedLine();
            return;
        }
        // Room for one byte more than allowed, so that an oversized line shows.
        QByteArray line = readLine(kMaxLineLength + 2);
        if (!line.endsWith('\n') || line.size() > kMaxLineLength + 1) {
            dropOversizedLine();
            return;
        }
        // A remote start ends its message with a zero byte after the newline, so it
        // shows up at the front of the next line.
        line.replace('\0', QByteArray());
        const QString text = QString::fromLocal8Bit(line);
        if (!text.trimmed().isEmpty())
            emit receivedText(text);
    }
}

void CSocket::dropOversizedLine()
{
    emit Signal_AddLog(QStringLiteral("Remote connection from %1 closed: line longer than %2 bytes")
                           .arg(peerAddress().toString())
                           .arg(kMaxLineLength));
    // abort() emits disconnected() at once; nothing of this socket may run again.
    disconnect(this, nullptr, this, nullptr);
    abort();
    deleteLater();
}

void CSocket::onDisconnected()
{
    // Lines that arrived together with the close are still in the buffer.
    if (bytesAvailable() > 0)
        read();
    deleteLater();
}

CServerSocket::CServerSocket(QObject* parent, quint16 port) : QTcpServer(parent)
{
    setMaxPendingConnections(1);
    listen(QHostAddress(QHostAddress::LocalHost), port);
}

void CServerSocket::incomingConnection(qintptr socketDescriptor)
{
    auto* socket = new CSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    connect(socket, &CSocket::receivedText, this, &CServerSocket::receivedText);
    connect(socket, &CSocket::Signal_AddLog, this, &CServerSocket::Signal_AddLog);
}
