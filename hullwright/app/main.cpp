#include "commandline.h"
#include "createship.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const StartRequest request = ProcessEntries(RegroupArguments(QCoreApplication::arguments().mid(1)));
    CreateShip window(QCoreApplication::applicationDirPath());
    if (!window.processStart(request)) {
        // Nothing but an extraction was asked for, and that is not built yet:
        // saying so beats ending quietly as if it had worked.
        QTextStream(stderr) << "hullwright: extracting packages is not available in this version\n";
        return 1;
    }
    window.startTextLoading();
    window.show();
    return app.exec();
}
