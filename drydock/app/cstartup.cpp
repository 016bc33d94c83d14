#include "cstartup.h"

#include <QFileInfo>

#include <QHostAddress>
#include <QTcpSocket>

namespace {
// A running instance reads the few bytes at once; waiting longer means it hangs, and
// the second start should not hang with it.
constexpr int kCloseTimeoutMs = 5000;
} // namespace

CStartup::CStartup(const QStringList& arguments, WindowFactory factory, quint16 port,
                   QObject* parent)
    : QObject(parent), m_programPath(arguments.value(0)), m_argumentText(joinArguments(arguments)),
      m_factory(std::move(factory)), m_port(port), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, &CStartup::startRemoteCtrl);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &CStartup::startMainDialog);
    connect(m_socket, &QTcpSocket::disconnected, this, &CStartup::ConnectionClosed);

    m_closeWatchdog.setSingleShot(true);
    m_closeWatchdog.setInterval(kCloseTimeoutMs);
    connect(&m_closeWatchdog, &QTimer::timeout, this, [this] {
        m_socket->abort();
        ConnectionClosed();
    });
}

CStartup::~CStartup()
{
    delete m_window;
}

QString CStartup::joinArguments(const QStringList& arguments)
{
    QString text = arguments.mid(1).join(QLatin1Char(' '));
    text.remove(QLatin1Char('"'));
    // The running instance has another working folder: hand it a full path.
    if (!text.isEmpty() && QFileInfo::exists(text))
        text = QFileInfo(text).absoluteFilePath();
    return text;
}

void CStartup::start()
{
    if (m_state != State::Idle)
        return;
    m_state = State::Connecting;
    // The server binds 127.0.0.1 only; naming the address avoids a name lookup that
    // might try ::1 first.
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), m_port);
}

void CStartup::startRemoteCtrl()
{
    if (m_state != State::Connecting)
        return;
    m_state = State::Remote;
    if (!m_argumentText.isEmpty()) {
        // UTF-8 carries every path; the local code page may not hold its characters.
        QByteArray message = (m_argumentText + QLatin1Char('\n')).toUtf8();
        message.append('\0');
        m_socket->write(message);
    }
    m_closeWatchdog.start();
    // Closes once the bytes have gone, then emits disconnected().
    m_socket->disconnectFromHost();
}

void CStartup::startMainDialog()
{
    // Errors after the hand-over started (the peer closing first, say) must not open a
    // second installer window; only a failed connect makes this the running instance.
    if (m_state != State::Connecting)
        return;
    m_state = State::Running;
    m_socket->abort();
    m_window = m_factory ? m_factory(m_argumentText) : nullptr;
    if (m_window)
        m_window->show();
}

void CStartup::ConnectionClosed()
{
    if (m_state != State::Remote)
        return;
    m_closeWatchdog.stop();
    m_state = State::Finished;
    emit Signal_Quit();
}
