#pragma once

#include <QTcpServer>
#include <QTcpSocket>

// The port on which the running installer listens for package paths handed over by a
// second start. Both sides must agree on it; it is fixed for all released versions.
inline constexpr quint16 kSingleInstancePort = 53416;

// One accepted connection of the listening server. Text arrives as lines of 8-bit text,
// each ending in "\n"; a remote start ends its message with a zero byte.
//
// The socket closes and deletes itself (deleteLater) when the peer disconnects or when a
// line grows past kMaxLineLength, so a client that never stops sending cannot make the
// installer buffer without bound.
class CSocket : public QTcpSocket
{
    Q_OBJECT
public:
    // Longest accepted line in bytes, without its "\n". A package path is far shorter.
    static constexpr qint64 kMaxLineLength = 64 * 1024;

    explicit CSocket(QObject* parent = nullptr);
    ~CSocket() override;

public slots:
    // Emits receivedText() for every whole line in the buffer; a partial line waits for
    // the rest. Zero bytes are removed, and lines that are then empty or blank are
    // skipped. The emitted text keeps its "\n".
    void read();

signals:
    void receivedText(const QString& line);
    void Signal_AddLog(const QString& message);

private:
    void dropOversizedLine();
    void onDisconnected();
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
    // One line per handed-over path, "\n" included.
    void receivedText(const QString& line);
    // A connection was dropped for bad input.
    void Signal_AddLog(const QString& message);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};
