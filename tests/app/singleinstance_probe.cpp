// Stand-in for the installer in the two-process tests: the real start-up logic with a
// plain window instead of the installer window. It prints one line per event:
//   listening           this process became the running instance
//   path:<text>         a path arrived ("\n" written as "\\n")
//   handed-over         another instance answered; this process ends
// The port comes from PROBE_PORT.

#include "csocket.h"
#include "cstartup.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>

static void say(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

static void sayPath(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    say(QLatin1String("path:") + escaped);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const quint16 port = qEnvironmentVariable("PROBE_PORT").toUShort();

    CStartup startup(
        QCoreApplication::arguments(),
        [port](const QString& argumentText) {
            auto* window = new QWidget;
            auto* server = new CServerSocket(window, port);
            QObject::connect(server, &CServerSocket::receivedText, sayPath);
            say(server->isListening() ? QStringLiteral("listening")
                                      : QStringLiteral("not-listening"));
            if (!argumentText.isEmpty())
                sayPath(argumentText);
            return window;
        },
        port);
    QObject::connect(&startup, &CStartup::Signal_Quit, &app, [] {
        say(QStringLiteral("handed-over"));
        QCoreApplication::quit();
    });
    startup.start();
    return app.exec();
}
