// ships_bench: drydock-cli on games with many installed ships, and a dry run
// beside a large mod.
//
// 1. For each of --ships (default 200 and 2000) a new sample game gets that many
//    small packages in one `drydock-cli install GAME PKG...`; then `drydock-cli
//    verify GAME` and `drydock-cli install --dry-run GAME ONE_MORE.xsp` run on it.
//    Each time is divided by the number of ships; the last lines give the
//    per-ship cost at the largest count over that at the smallest (1.00: linear).
// 2. A game whose mod holds --mod-mb MiB (default 190) of plain entries: the dry
//    run of one small package against the real install of the same package;
//    then three more installs of one small package and three undo + redo rounds
//    (history on), medians, next to a whole-file hash of the mod's data file.
//
// Times are wall and CPU (user + system of the drydock-cli process).

#include "arc.h"
#include "archivefile.h"
#include "benchtime.h"
#include "changehistory.h"
#include "samplegame.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: ships_bench [--ships A,B,...] [--mod-mb N] [--cli PATH] [--dir DIR] [--keep]\n"
    "  --ships    installed-ship counts, smallest first (default 200,2000; 0 skips)\n"
    "  --mod-mb   size of the mod beside which the dry run is timed (default 190; 0 skips)\n"
    "  --cli PATH the drydock-cli to time (default: the one built beside this bench)\n"
    "  --dir DIR  work folder (default: a new temporary folder)\n"
    "  --keep     keep the work folder\n";

QString cliPath = QStringLiteral(DRYDOCK_CLI);
bool keepWork = false;

// Runs drydock-cli; not ok() when it fails.
Span runCli(const QStringList& args, QString* error, QByteArray* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    const Stopwatch watch(RUSAGE_CHILDREN);
    p.start(cliPath, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("drydock-cli %1 failed (%2): %3")
                     .arg(args.value(0))
                     .arg(p.exitCode())
                     .arg(QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput())
                              .trimmed()
                              .left(2000));
        return {};
    }
    const Span span = watch.span();
    if (out)
        *out = p.readAllStandardOutput();
    return span;
}

struct Round
{
    int ships = 0;
    Span install, update, verify, dryRun;
};

bool round(const QDir& work, int ships, Round* r, QString* error)
{
    r->ships = ships;
    const QString game = work.filePath(QStringLiteral("game-%1").arg(ships));
    const QString packages = work.filePath(QStringLiteral("packages-%1").arg(ships));
    QStringList paths;
    QElapsedTimer clock;
    clock.start();
    if (!SampleGame::MakeSampleGame(game, error) ||
        !SampleGame::MakeManyShipPackages(packages, 0, ships + 1, &paths, error))
        return false;
    BenchPrint(QStringLiteral("%1 ships: game and %2 packages written in %3")
                   .arg(ships)
                   .arg(paths.size())
                   .arg(BenchSeconds(clock.elapsed())));
    const QString extra = paths.takeLast();
    r->install = runCli(QStringList{QStringLiteral("install"), game} + paths, error);
    if (!r->install.ok())
        return false;
    // Verify finds a mod that update mod has not caught up with stale.
    r->update = runCli({QStringLiteral("update-mod"), game}, error);
    if (!r->update.ok())
        return false;
    QByteArray said;
    r->verify = runCli({QStringLiteral("verify"), game}, error, &said);
    if (!r->verify.ok())
        return false;
    r->dryRun = runCli({QStringLiteral("install"), QStringLiteral("--dry-run"), game, extra},
                       error, &said);
    if (!r->dryRun.ok())
        return false;
    if (!said.contains("Many Ship " + QByteArray::number(ships) + " by")) {
        *error = QStringLiteral("the dry run does not show the new ship: ") +
                 QString::fromLocal8Bit(said.left(2000));
        return false;
    }
    const auto per = [ships](const Span& s) {
        return QStringLiteral("%1 ms a ship (CPU %2)")
            .arg(double(s.wall) / ships, 0, 'f', 2)
            .arg(double(s.cpu) / ships, 0, 'f', 2);
    };
    BenchPrint(QStringLiteral("%1 ships: install %2, %3").arg(ships).arg(r->install.text(),
                                                                          per(r->install)));
    BenchPrint(QStringLiteral("%1 ships: update-mod %2, %3").arg(ships).arg(r->update.text(),
                                                                             per(r->update)));
    BenchPrint(QStringLiteral("%1 ships: verify %2, %3").arg(ships).arg(r->verify.text(),
                                                                         per(r->verify)));
    BenchPrint(QStringLiteral("%1 ships: install --dry-run of one more %2, %3")
                   .arg(ships)
                   .arg(r->dryRun.text(), per(r->dryRun)));
    if (!keepWork)
        QDir(packages).removeRecursively();
    return true;
}

void compare(const Round& small, const Round& large)
{
    const auto line = [&](const char* what, const Span& a, const Span& b) {
        BenchPrint(QStringLiteral("per-ship cost of %1, %2 / %3 ships: %4, CPU %5 (aim <= 1.2)")
                       .arg(QLatin1String(what))
                       .arg(large.ships)
                       .arg(small.ships)
                       .arg(BenchRatio(double(b.wall) / large.ships, double(a.wall) / small.ships),
                            BenchRatio(double(b.cpu) / large.ships, double(a.cpu) / small.ships)));
    };
    line("install", small.install, large.install);
    line("verify", small.verify, large.verify);
    line("install --dry-run", small.dryRun, large.dryRun);
}

QString medianMs(QList<Span> spans)
{
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.wall < b.wall; });
    const Span& m = spans.at(spans.size() / 2);
    return QStringLiteral("%1 ms (CPU %2 ms)").arg(m.wall).arg(m.cpu);
}

// What the change history costs beside a large mod: each change records every
// touched file, undo and redo check them. A whole-file hash of the data file is
// what each change cost when every touched file was hashed whole.
bool historyCost(const QString& game, const QString& packages, QString* error)
{
    QStringList paths;
    if (!SampleGame::MakeManyShipPackages(packages, 2, 3, &paths, error))
        return false;
    QList<Span> installs, undos, redos;
    for (const QString& path : std::as_const(paths)) {
        installs << runCli({QStringLiteral("install"), game, path}, error);
        if (!installs.last().ok())
            return false;
    }
    for (int k = 0; k < 3; ++k) {
        undos << runCli({QStringLiteral("undo"), game}, error);
        if (!undos.last().ok())
            return false;
        redos << runCli({QStringLiteral("redo"), game}, error);
        if (!redos.last().ok())
            return false;
    }
    const QString data = game + QStringLiteral("/mods/Hullwright.dat");
    const Stopwatch watch;
    ChangeHistory::fileHash(data);
    const Span hash = watch.span();
    BenchPrint(QStringLiteral("large mod, history on: install of one 4 KiB ship %1; undo %2; redo %3 "
                              "(medians of 3)")
                   .arg(medianMs(installs), medianMs(undos), medianMs(redos)));
    BenchPrint(QStringLiteral("large mod: whole-file SHA-1 of the %1 MiB data file %2 ms (CPU %3 ms)")
                   .arg(QFileInfo(data).size() >> 20)
                   .arg(hash.wall)
                   .arg(hash.cpu));
    return true;
}

// A game whose mod holds `mb` MiB of plain entries; the dry run and the real
// install of one small package.
bool largeMod(const QDir& work, int mb, QString* error)
{
    const QString game = work.filePath(QStringLiteral("game-large-mod"));
    const QString packages = work.filePath(QStringLiteral("packages-large-mod"));
    QStringList paths;
    if (!SampleGame::MakeSampleGame(game, error) ||
        !SampleGame::MakeManyShipPackages(packages, 0, 1, &paths, error))
        return false;
    // The mod's entries are added by the engine (first ship, update mod) and then
    // filled with large plain files, as a modder's mod would be.
    if (!runCli({QStringLiteral("install"), game, paths.first()}, error).ok() ||
        !runCli({QStringLiteral("update-mod"), game}, error).ok())
        return false;
    const QString catalog = game + QStringLiteral("/mods/Hullwright.cat");
    const QString model = work.filePath(QStringLiteral("model.bin"));
    const qint64 piece = qint64(16) << 20;
    for (qint64 done = 0, i = 0; done < qint64(mb) << 20; done += piece, ++i) {
        const qint64 size = qMin(piece, (qint64(mb) << 20) - done);
        if (WriteBenchModel(model, size).isEmpty()) {
            *error = model + QStringLiteral(": cannot write");
            return false;
        }
        QFile source(model);
        if (!AddArchiveFile(source, catalog + QStringLiteral("::objects\\large\\part%1.dds").arg(i),
                            false)) {
            *error = catalog + QStringLiteral(": cannot add a large entry");
            return false;
        }
    }
    QFile::remove(model);
    if (!SampleGame::MakeManyShipPackages(packages, 1, 1, &paths, error))
        return false;
    BenchPrint(QStringLiteral("large mod: %1 MiB in %2")
                   .arg(QFileInfo(game + QStringLiteral("/mods/Hullwright.dat")).size() >> 20)
                   .arg(catalog));
    const Span dry =
        runCli({QStringLiteral("install"), QStringLiteral("--dry-run"), game, paths.last()}, error);
    if (!dry.ok())
        return false;
    const Span real = runCli({QStringLiteral("install"), game, paths.last()}, error);
    if (!real.ok())
        return false;
    BenchPrint(QStringLiteral("large mod: install --dry-run %1; install %2").arg(dry.text(),
                                                                                 real.text()));
    BenchPrint(QStringLiteral("large mod: dry run / install: %1, CPU %2 (aim <= 3)")
                   .arg(BenchRatio(dry.wall, real.wall), BenchRatio(dry.cpu, real.cpu)));
    return historyCost(game, packages, error);
}

int run(const QStringList& args)
{
    QList<int> counts = {200, 2000};
    int modMb = 190;
    QString dir;
    bool keep = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        bool ok = true;
        if (a == QLatin1String("--ships") && i + 1 < args.size()) {
            counts.clear();
            for (const QString& s : args[++i].split(QLatin1Char(','))) {
                const int v = s.toInt(&ok);
                if (!ok || v < 0 || v > 20000)
                    break;
                if (v > 0)
                    counts << v;
            }
        } else if (a == QLatin1String("--mod-mb") && i + 1 < args.size()) {
            modMb = args[++i].toInt(&ok);
            ok = ok && modMb >= 0;
        } else if (a == QLatin1String("--cli") && i + 1 < args.size()) {
            cliPath = args[++i];
        } else if (a == QLatin1String("--dir") && i + 1 < args.size()) {
            dir = args[++i];
        } else if (a == QLatin1String("--keep")) {
            keep = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    QTemporaryDir temporary((dir.isEmpty() ? QDir::tempPath() : QDir(dir).absolutePath()) +
                            QStringLiteral("/ships_bench-XXXXXX"));
    if (!temporary.isValid())
        return BenchFail("ships_bench", QStringLiteral("cannot create a work folder"));
    temporary.setAutoRemove(!keep);
    keepWork = keep;
    const QDir work(temporary.path());
    BenchPrint(QStringLiteral("drydock-cli: ") + cliPath);
    QString error;
    QList<Round> rounds;
    for (int ships : counts) {
        Round r;
        if (!round(work, ships, &r, &error))
            return BenchFail("ships_bench", error);
        rounds << r;
        if (!keep)
            QDir(work.filePath(QStringLiteral("game-%1").arg(ships))).removeRecursively();
    }
    if (rounds.size() >= 2)
        compare(rounds.first(), rounds.last());
    if (modMb > 0 && !largeMod(work, modMb, &error))
        return BenchFail("ships_bench", error);
    if (keep)
        BenchPrint(QStringLiteral("kept: ") + work.path());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return run(QCoreApplication::arguments().mid(1));
}
