#include "csocket.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QStringDecoder>
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

QString CSocket::decodePath(const QByteArray& line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString asUtf8 = utf8(line);
    QStringList readings;
    if (!utf8.hasError())
        readings << asUtf8;
    readings << QString::fromLocal8Bit(line) << QString::fromLatin1(line);
    for (const QString& reading : std::as_const(readings)) {
        QString path = reading;
        path.remove(QLatin1Char('\r'));
        path.remove(QLatin1Char('\n'));
        if (!path.trimmed().isEmpty() && QFileInfo(path).isFile())
            return reading;
    }
    return readings.first();
}

void CSocket::read()
{
    while (!m_done && bytesAvailable() > 0) {
        // The line, its "\n" and one byte more, which shows an oversized line.
        m_message += QIODevice::read(kMaxLineLength + 2 - m_message.size());
        while (!m_done) {
            const qsizetype end = m_message.indexOf('\n');
            const qsizetype zero = m_message.indexOf('\0');
            if (zero == 0 && !m_lines.isEmpty())
                return deliver(); // the zero byte after the last line ends the message
            if (zero >= 0 && (end < 0 || zero < end))
                return refuse(QStringLiteral("zero byte inside the line"));
            if (end < 0 ? m_message.size() > kMaxLineLength : end > kMaxLineLength)
                return refuse(QStringLiteral("line longer than %1 bytes").arg(kMaxLineLength));
            if (end < 0)
                break;
            QByteArray line = m_message.left(end + 1);
            m_message.remove(0, end + 1);
            if (m_lines.isEmpty()) {
                QByteArray first = line.chopped(1);
                if (first.endsWith('\r'))
                    first.chop(1);
                if (looksLikeHttp(first))
                    return refuse(QStringLiteral("HTTP request or header line"));
            }
            if (m_lines.size() >= kMaxLines)
                return refuse(QStringLiteral("more than %1 lines").arg(kMaxLines));
            m_lines.append(line);
        }
    }
}

void CSocket::refuse(const QString& why)
{
    const QString message = QStringLiteral("Remote connection from %1 closed, nothing queued: %2")
                                .arg(peerAddress().toString(), why);
    m_done = true;
    m_message.clear();
    m_lines.clear();
    // abort() emits disconnected() at once; nothing of this socket may run again.
    disconnect(this, nullptr, this, nullptr);
    abort();
    deleteLater();
    emit Signal_AddLog(message);
}

void CSocket::deliver()
{
    m_done = true;
    m_message.clear();
    const QList<QByteArray> lines = std::exchange(m_lines, {});
    // Done with the connection before anything is handed on.
    disconnectFromHost();

    QStringList accepted, refused, logs;
    for (const QByteArray& line : lines) {
        const QString text = decodePath(line);
        // What the install step will open: it removes every line end from the path.
        QString path = text;
        path.remove(QLatin1Char('\r'));
        path.remove(QLatin1Char('\n'));
        if (path.trimmed().isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isFile() &&
            info.fileName().endsWith(QLatin1String(".xsp"), Qt::CaseInsensitive)) {
            accepted << text;
        } else {
            logs << QStringLiteral("Remote path dropped, not an existing .xsp file: ") + path;
            refused << path;
        }
    }
    // A directly connected receiver may run a nested event loop that deletes this
    // socket: nothing of it is touched once it is gone.
    const QPointer<CSocket> self(this);
    for (const QString& line : std::as_const(logs)) {
        emit Signal_AddLog(line);
        if (!self)
            return;
    }
    for (const QString& path : std::as_const(refused)) {
        emit refusedPath(path);
        if (!self)
            return;
    }
    for (const QString& text : std::as_const(accepted)) {
        emit receivedText(text);
        if (!self)
            return;
    }
}

void CSocket::onDisconnected()
{
    // A message that arrived together with the close is still in the buffer.
    if (bytesAvailable() > 0)
        read();
    if (!m_done && (!m_message.isEmpty() || !m_lines.isEmpty()))
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
    // Queued: the window's answer to a path may be a message box, whose event loop
    // must not run while the socket is still inside its read().
    connect(socket, &CSocket::receivedText, this, &CServerSocket::receivedText,
            Qt::QueuedConnection);
    connect(socket, &CSocket::Signal_AddLog, this, &CServerSocket::Signal_AddLog,
            Qt::QueuedConnection);
    connect(socket, &CSocket::refusedPath, this, &CServerSocket::refusedPath,
            Qt::QueuedConnection);
}
