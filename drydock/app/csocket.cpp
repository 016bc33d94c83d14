#include "csocket.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

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

bool CSocket::looksLikeHttp(const QByteArray& line)
{
    // A token as HTTP defines it, then either " target HTTP/" or ":" and the value. The
    // target is taken loosely: a sloppy client may leave blanks in it.
    static const QRegularExpression shape(
        QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+(?: \\S.* HTTP/|:(?:[ \\t]|$))"));
    return shape.match(QString::fromLatin1(line)).hasMatch();
}

void CSocket::read()
{
    while (!m_done && bytesAvailable() > 0) {
        // The line, its "\n" and the zero byte; one byte more shows an oversized line.
        const qint64 room = kMaxLineLength + 3 - m_message.size();
        m_message += QIODevice::read(room);

        const qsizetype end = m_message.indexOf('\n');
        const qsizetype zero = m_message.indexOf('\0');
        if (zero >= 0 && (end < 0 || zero < end))
            return refuse(QStringLiteral("zero byte inside the line"));
        if (end < 0 ? m_message.size() > kMaxLineLength : end > kMaxLineLength)
            return refuse(QStringLiteral("line longer than %1 bytes").arg(kMaxLineLength));
        if (end < 0)
            continue;
        if (!m_firstLineChecked) {
            QByteArray first = m_message.left(end);
            if (first.endsWith('\r'))
                first.chop(1);
            if (looksLikeHttp(first))
                return refuse(QStringLiteral("HTTP request or header line"));
            m_firstLineChecked = true;
        }
        if (m_message.size() == end + 1)
            continue; // the zero byte is still on its way
        if (m_message.at(end + 1) != '\0')
            return refuse(QStringLiteral("more than one line"));
        deliver(m_message.left(end + 1));
        return;
    }
}

void CSocket::refuse(const QString& why)
{
    emit Signal_AddLog(QStringLiteral("Remote connection from %1 closed, nothing queued: %2")
                           .arg(peerAddress().toString(), why));
    m_done = true;
    m_message.clear();
    // abort() emits disconnected() at once; nothing of this socket may run again.
    disconnect(this, nullptr, this, nullptr);
    abort();
    deleteLater();
}

void CSocket::deliver(const QByteArray& line)
{
    m_done = true;
    m_message.clear();
    const QString text = QString::fromLocal8Bit(line);
    // What the install step will open: it removes every line end from the path.
    QString path = text;
    path.remove(QLatin1Char('\r'));
    path.remove(QLatin1Char('\n'));
    if (!path.trimmed().isEmpty()) {
        const QFileInfo info(path);
        if (info.isFile() &&
            info.fileName().endsWith(QLatin1String(".xsp"), Qt::CaseInsensitive)) {
            emit receivedText(text);
        } else {
            emit Signal_AddLog(QStringLiteral("Remote path dropped, not an existing .xsp file: ") +
                               path);
            emit refusedPath(path);
        }
    }
    disconnectFromHost();
}

void CSocket::onDisconnected()
{
    // A message that arrived together with the close is still in the buffer.
    if (bytesAvailable() > 0)
        read();
    if (!m_done && !m_message.isEmpty())
        emit Signal_AddLog(QStringLiteral("Remote connection closed before its message ended, "
                                          "nothing queued"));
    m_done = true;
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
    connect(socket, &CSocket::refusedPath, this, &CServerSocket::refusedPath);
}
