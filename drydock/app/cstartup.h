#pragma once

#include "csocket.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Decides at start whether this process becomes the running installer or hands its
// command line to the one already running and ends.
//
// start() connects to 127.0.0.1 on the single-instance port. When something answers,
// the argument text is sent as one line followed by a zero byte, the connection is
// closed and Signal_Quit() is emitted. When nothing answers, the window factory is
// called once with the argument text and the window it returns is shown; from then on
// this process is the running instance. The factory is responsible for handing a
// non-empty argument text to the window (it is a package path to install).
//
// CStartup owns the window it got from the factory and deletes it in its destructor.
class CStartup : public QObject
{
    Q_OBJECT
public:
    using WindowFactory = std::function<QWidget*(const QString& argumentText)>;
    enum class State { Idle, Connecting, Remote, Running, Finished };

    // arguments: the whole command line, program path first.
    CStartup(const QStringList& arguments, WindowFactory factory,
             quint16 port = kSingleInstancePort, QObject* parent = nullptr);
    ~CStartup() override;

    void start();

    // All arguments after the program path, joined by one blank, with every double
    // quote removed: a path with blanks arrives in pieces and needs no quoting.
    static QString joinArguments(const QStringList& arguments);

    const QString& programPath() const { return m_programPath; }
    const QString& argumentText() const { return m_argumentText; }
    State state() const { return m_state; }
    QWidget* mainWindow() const { return m_window; }

public slots:
    void startRemoteCtrl();
    void startMainDialog();
    void ConnectionClosed();

signals:
    // The hand-over is done (or gave up); the process should end.
    void Signal_Quit();

private:
    QString m_programPath;
    QString m_argumentText;
    WindowFactory m_factory;
    quint16 m_port;
    State m_state = State::Idle;
    QTcpSocket* m_socket;
    QTimer m_closeWatchdog;
    QPointer<QWidget> m_window;
};
