#include "cstartup.h"
#include "ddrydock.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString programDir = QCoreApplication::applicationDirPath();
    // The desktop entry's name, so that docks and Wayland compositors match the
    // window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("drydock"));
    QApplication::setWindowIcon(DDrydock::applicationIcon(programDir));

    CStartup startup(QCoreApplication::arguments(), [programDir](const QString& argumentText) {
        QWidget* window = createMainWindow(programDir);
        auto* drydock = qobject_cast<DDrydock*>(window);
        if (drydock && !argumentText.isEmpty()) {
            // Once the window is shown, so that a message box about the path has a
            // window to sit on.
            QTimer::singleShot(
                0, drydock, [drydock, argumentText] { drydock->Slot_ReadInputText(argumentText); });
        }
        return window;
    });
    QObject::connect(&startup, &CStartup::Signal_Quit, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    startup.start();
    return app.exec();
}
