// undo_bench: undo and redo of each installer operation on a large package.
//
// Installs a package holding one model of --size MiB (the bench model: mixed
// table text and random bytes, fixed seed) into a sample game through the
// installer engine, then runs update mod, disable, enable and uninstall. After
// each operation it prints the undo data kept for it, then times the undo and
// the redo (each a journaled change of its own) and checks that undo left the
// game folder byte for byte as before the operation and redo as after it.

#include "benchmodel.h"
#include "changehistory.h"
#include "installerengine.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "sysregistry.h"
#include "xspfile.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>

namespace {

constexpr qint64 kMiB = 1 << 20;

const char kUsage[] = "Usage: undo_bench [--size MIB] [--dir DIR]\n"
                      "  --size  the model's size in MiB (default 64)\n"
                      "  --dir   work folder (default: a new temporary folder)\n";

// Every file's hash but the history's: what undo must give back.
std::map<QString, QString> state(const QString& game)
{
    std::map<QString, QString> out;
    QDirIterator it(game, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(game).relativeFilePath(path);
        if (!rel.startsWith(QLatin1String("Slipway/history/")) && rel != QLatin1String("Slipway/writer.lock"))
            out[rel] = ChangeHistory::fileHash(path);
    }
    return out;
}

qint64 historyBytes(const QString& game)
{
    qint64 total = 0;
    QDirIterator it(ChangeHistory::folder(game), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qint64 size = 64;
    QString dir;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--size") && i + 1 < args.size())
            size = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--dir") && i + 1 < args.size())
            dir = args[++i];
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    QTemporaryDir temp(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/undo_bench-XXXXXX")
                                     : dir + QStringLiteral("/undo_bench-XXXXXX"));
    if (!temp.isValid())
        return BenchFail("undo_bench", QStringLiteral("cannot create the work folder"));
    const QString game = temp.filePath(QStringLiteral("game"));
    QString error;
    if (!SampleGame::MakeSampleGame(game, &error))
        return BenchFail("undo_bench", error);
    const QString model = temp.filePath(QStringLiteral("large.model"));
    if (WriteBenchModel(model, size * kMiB).isEmpty())
        return BenchFail("undo_bench", QStringLiteral("cannot write the model"));
    ShipPackage p;
    p.Name = QStringLiteral("Large Hull");
    p.Author = QStringLiteral("undo_bench");
    p.Version = QStringLiteral("1.0");
    p.ID = QStringLiteral("SS_SH_BENCH_UNDO");
    p.Data = QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), p.ID);
    p.Texts = {{44, p.Name, QStringLiteral("Benchmark ship")}};
    PackageFile file;
    file.Name = QStringLiteral("objects/bench/large_hull.bod");
    file.Time = 1262304000;
    file.Size = static_cast<qint32>(size * kMiB);
    file.SourcePath = model;
    p.Models << file;
    const QString package = temp.filePath(QStringLiteral("large.xsp"));
    PackageContext context;
    context.programDir = temp.filePath(QStringLiteral("writer"));
    if (!SavePackage(p, package, context))
        return BenchFail("undo_bench", QStringLiteral("cannot write the package"));
    QFile::remove(model);

    const QString programDir = temp.filePath(QStringLiteral("program"));
    QDir().mkpath(programDir);
    InstallerSettings settings;
    const std::unique_ptr<SystemRegistry> registry =
        CreateIniRegistry(programDir + QStringLiteral("/registry.ini"));
    InstallerEngine::Services services;
    services.programDir = programDir;
    services.systemRegistry = registry.get();
    InstallerEngine engine(services, settings);
    engine.setGameDir(game);

    BenchPrint(QStringLiteral("package %1 bytes (model %2 MiB)").arg(QFileInfo(package).size()).arg(size));
    const std::pair<const char*, std::function<bool()>> operations[] = {
        {"install", [&] { return engine.install(package, nullptr, false).status == 0; }},
        {"update mod", [&] { return engine.updateMod(); }},
        {"disable", [&] { return engine.setShipEnabled(0, false); }},
        {"enable", [&] { return engine.setShipEnabled(0, true); }},
        {"uninstall", [&] { return engine.uninstallShip(0, false); }},
    };
    int failures = 0;
    for (const auto& [name, run] : operations) {
        const auto before = state(game);
        const qint64 kept = historyBytes(game);
        QElapsedTimer t;
        t.start();
        if (!run())
            return BenchFail("undo_bench", QStringLiteral("%1 failed").arg(QLatin1String(name)));
        const qint64 opMs = t.elapsed();
        const auto after = state(game);
        const qint64 data = historyBytes(game) - kept;
        t.restart();
        const bool undone = engine.undo(false, &error);
        const qint64 undoMs = t.elapsed();
        const bool same = undone && state(game) == before;
        const qint64 undoData = historyBytes(game);
        t.restart();
        const bool redone = engine.undo(true, &error);
        const qint64 redoMs = t.elapsed();
        const bool again = redone && state(game) == after;
        failures += same && again ? 0 : 1;
        // The operation's data goes once undone: what stays is the undo's, for redo.
        BenchPrint(QStringLiteral("%1: %2, undo data %3 MiB; undo %4 (%5), redo data %6 MiB; redo %7 (%8)")
                       .arg(QLatin1String(name), BenchSeconds(opMs))
                       .arg(double(data) / kMiB, 0, 'f', 2)
                       .arg(BenchSeconds(undoMs), same ? QStringLiteral("byte for byte") : QStringLiteral("DIFFERS: ") + error)
                       .arg(double(undoData - kept) / kMiB, 0, 'f', 2)
                       .arg(BenchSeconds(redoMs), again ? QStringLiteral("byte for byte") : QStringLiteral("DIFFERS: ") + error));
    }
    BenchPrint(QStringLiteral("history folder at the end: %1 MiB").arg(double(historyBytes(game)) / kMiB, 0, 'f', 2));
    return failures == 0 ? 0 : 1;
}
