#pragma once

#include <QTcpServer>
#include <QTcpSocket>

// The port on which the running installer listens for package paths handed over by a
// second start. Both sides must agree on it; it is fixed for all released versions.
inline constexpr quint16 kSingleInstancePort = 53416;

// One accepted connection of the listening server. It takes only what a second start
// of the installer sends: lines that each hold a package path and its "\n", then a
// zero byte. Anything else is refused: an HTTP request line or a header line first (a
// web page can make a browser post to this port), more than kMaxLines lines, a line
// longer than kMaxLineLength. A refused connection is closed and nothing it sent is
// handed on. A path that is not an existing regular file ending in ".xsp" is dropped
// with a log line.
//
// Paths travel as UTF-8, so that every path survives the hand-over; older senders
// wrote 8-bit text, which is still understood (see decodePath()).
//
// The socket closes and deletes itself (deleteLater) once its message is handled, when
// it refuses the peer, or when the peer disconnects. Its signals are emitted only after
// it is done with itself, and the server passes them on queued: a receiver may open a
// message box (a nested event loop) without the socket being deleted under it.
// A well-formed message whose path is no existing .xsp file is handed on through
// refusedPath(), so that the window can say why nothing was installed.
class CSocket : public QTcpSocket
{
    Q_OBJECT
public:
    // Longest accepted line in bytes, without its "\n". A package path is far shorter.
    static constexpr qint64 kMaxLineLength = 64 * 1024;
    // Most lines (paths) one connection may hand over.
    static constexpr int kMaxLines = 64;

    explicit CSocket(QObject* parent = nullptr);
    ~CSocket() override;

    // True when a first line (without its line end) has the shape of an HTTP request
    // line ("METHOD target HTTP/...") or of a header line ("Name: value").
    static bool looksLikeHttp(const QByteArray& line);
    // A received line as a path: UTF-8 when the bytes are UTF-8, else the sender's
    // 8-bit form (the local code page, then Latin-1). When the readings differ, the
    // first one that names an existing file wins.
    static QString decodePath(const QByteArray& line);

public slots:
    // Gathers the message as it arrives; a line may come in pieces over several reads.
    // Emits receivedText() once per accepted path, its "\n" kept, when the message ends.
    void read();

signals:
    void receivedText(const QString& line);
    // A second start's path that is not an existing .xsp file, line end removed.
    void refusedPath(const QString& path);
    void Signal_AddLog(const QString& message);

private:
    void refuse(const QString& why);
    void deliver();
    void onDisconnected();

    QByteArray m_message;     // the line being received
    QList<QByteArray> m_lines; // the whole lines received, "\n" kept
    bool m_done = false;
};

// Listens on 127.0.0.1 for package paths from other starts of the installer. Listening
// starts in the constructor; a port that is taken is not an error (isListening() tells),
// the installer then simply receives no remote paths. Each connection becomes a CSocket
// child of this server that deletes itself once its peer is gone.
class CServerSocket : public QTcpServer
{
    Q_OBJECT
public:
    // port 0 picks a free port (see serverPort()); tests use it.
    explicit CServerSocket(QObject* parent = nullptr, quint16 port = kSingleInstancePort);

signals:
    // One line per handed-over path, "\n" included. Like the other two signals it is
    // emitted from the event loop, never from inside a connection's read.
    void receivedText(const QString& line);
    // A handed-over path that names no existing .xsp file.
    void refusedPath(const QString& path);
    // A connection was dropped for bad input.
    void Signal_AddLog(const QString& message);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};
