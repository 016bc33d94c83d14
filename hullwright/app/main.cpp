#include "commandline.h"
#include "createship.h"
#include "creatorsettings.h"
#include "extraction.h"

#include <QApplication>
#include <QTextStream>

#include <memory>

namespace {

// "hullwright -x PKG -d DIR|HERE" must work where there is no display at all, so
// an extraction alone runs before any widget platform is loaded.
int extractWithoutWindow(const StartRequest& request, const QString& programDir)
{
    CreatorSettings settings;
    ReadCreatorSettings(programDir, settings);
    PackageContext context;
    context.programDir = programDir;
    const QString target = request.extractionTarget();
    const ExtractionResult r =
        ExtractShipPackage(request.extractPackage, target, settings.prefixNames, context);
    QTextStream err(stderr);
    if (r.outcome == ExtractionResult::NoTarget) {
        err << "hullwright: the target folder does not exist: " << target << "\n";
        return 1;
    }
    if (r.outcome == ExtractionResult::Unreadable) {
        err << "hullwright: " << request.extractPackage << ": " << r.error << "\n";
        return 1;
    }
    for (const QString& line : r.notWritten)
        err << "hullwright: " << line << "\n";
    for (const QString& line : r.keptBeside)
        err << "hullwright: " << line << "\n";
    QTextStream(stdout) << "extracted " << request.extractPackage << " into " << target << "\n";
    return r.notWritten.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const StartRequest request = ProcessEntries(RegroupArguments(arguments));
    if (!request.showWindow() && !request.extractionTarget().isEmpty()) {
        QCoreApplication app(argc, argv);
        return extractWithoutWindow(request, QCoreApplication::applicationDirPath());
    }
    QApplication app(argc, argv);
    CreateShip window(QCoreApplication::applicationDirPath());
    if (!window.processStart(request))
        return 0;
    window.startTextLoading();
    window.show();
    return app.exec();
}
