// install_bench: the installer engine on large packages and on a full registry.
//
// 1. Installs packages that each hold one model of --sizes MiB (mixed table text
//    and random bytes, fixed seed) into a sample game through
//    InstallerEngine::install, which decodes the package and packs the model into
//    the mod. For the largest size the time is set next to the standard tools
//    doing the same two jobs on this machine: `xz --format=lzma -dc PKG` and
//    `gzip -9` of the model. The packed entry must unpack to the model.
// 2. Installs --ships small packages into a game whose own ship table holds
//    --game-ships ships, then times update mod (text pages and all four tables).

#include "archivefile.h"
#include "benchtime.h"
#include "fileutils.h"
#include "installerengine.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "sysregistry.h"
#include "xspfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr quint32 kTime = 1262304000;
const char kModelName[] = "objects/bench/large_hull.bod";
const char kModelEntry[] = "objects\\bench\\large_hull.pbd";

const char kUsage[] =
    "Usage: install_bench [--sizes A,B,...] [--ships N] [--game-ships N] [--dir DIR] [--keep]\n"
    "  --sizes       model sizes in MiB, installed in this order (default 16,64); the\n"
    "                largest is compared with xz + gzip; 0 skips this part\n"
    "  --ships       small packages installed before update mod (default 200; 0 skips)\n"
    "  --game-ships  ships of the game's own table (default 450)\n"
    "  --dir DIR     work folder (default: a new temporary folder)\n"
    "  --keep        keep the work folder\n";

ShipPackage shipPackage(const QString& name, const QString& id)
{
    ShipPackage p;
    p.Name = name;
    p.Author = QStringLiteral("install_bench");
    p.Version = QStringLiteral("1.0");
    p.ID = id;
    p.Data = QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), id);
    p.Texts = {{44, name, QStringLiteral("Benchmark ship ") + name}};
    return p;
}

bool savePackage(const ShipPackage& p, const QString& target, const QString& scratch)
{
    PackageContext context;
    context.programDir = scratch;
    return SavePackage(p, target, context);
}

// One engine on one game, with a program folder of its own and no user interface.
struct Engine
{
    InstallerSettings settings;
    std::unique_ptr<SystemRegistry> registry;
    std::unique_ptr<InstallerEngine> engine;
    QStringList log;

    Engine(const QString& programDir, const QString& gameDir)
    {
        QDir().mkpath(programDir);
        registry = CreateIniRegistry(programDir + QStringLiteral("/registry.ini"));
        InstallerEngine::Services services;
        services.programDir = programDir;
        services.systemRegistry = registry.get();
        services.log = [this](const QString& line) { log.append(line); };
        engine = std::make_unique<InstallerEngine>(std::move(services), settings);
        engine->setGameDir(gameDir);
    }
    QString lastLog() const { return log.isEmpty() ? QStringLiteral("no log line") : log.last(); }
};

// Runs a tool with its output thrown away; its times, not ok() on failure.
Span timeTool(const QString& tool, const QStringList& args, QString* error)
{
    const QString exe = QStandardPaths::findExecutable(tool);
    if (exe.isEmpty()) {
        *error = tool + QStringLiteral(" not found");
        return {};
    }
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    const Stopwatch watch(RUSAGE_CHILDREN);
    p.start(exe, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = tool + QStringLiteral(" failed: ") +
                 QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return {};
    }
    return watch.span();
}

// Installs one package holding a model of sizeMb MiB into a new sample game.
// Returns the install time, not ok() on failure; *packagePath and *modelPath
// name the files for the comparison with the tools.
Span largeInstall(const QDir& work, qint64 sizeMb, QString* packagePath, QString* modelPath)
{
    const QString tag = QStringLiteral("large%1").arg(sizeMb);
    const QString game = work.filePath(tag + QStringLiteral("-game"));
    QString error;
    if (!SampleGame::MakeSampleGame(game, &error)) {
        BenchFail("install_bench", error);
        return {};
    }
    *modelPath = work.filePath(tag + QStringLiteral(".model"));
    const QByteArray modelHash = WriteBenchModel(*modelPath, sizeMb * kMiB);
    if (modelHash.isEmpty()) {
        BenchFail("install_bench", QStringLiteral("cannot write ") + *modelPath);
        return {};
    }
    ShipPackage p = shipPackage(QStringLiteral("Large Hull %1").arg(sizeMb),
                                QStringLiteral("SS_SH_BENCH_LARGE_%1").arg(sizeMb));
    PackageFile model;
    model.Name = QLatin1String(kModelName);
    model.Time = kTime;
    model.Size = static_cast<qint32>(sizeMb * kMiB);
    model.SourcePath = *modelPath;
    p.Models << model;
    *packagePath = work.filePath(tag + QStringLiteral(".xsp"));
    if (!savePackage(p, *packagePath, work.filePath(tag + QStringLiteral("-writer")))) {
        BenchFail("install_bench", QStringLiteral("cannot write ") + *packagePath);
        return {};
    }

    Engine e(work.filePath(tag + QStringLiteral("-program")), game);
    const Stopwatch watch;
    const InstallResult r = e.engine->install(*packagePath, nullptr, false);
    const Span time = watch.span();
    if (r.status != 0) {
        BenchFail("install_bench", QStringLiteral("install failed: ") + r.error +
                                       QStringLiteral(" (") + e.lastLog() + QLatin1Char(')'));
        return {};
    }
    const QString extracted = work.filePath(tag + QStringLiteral(".extracted"));
    const QString entry =
        e.engine->modCatalog() + QStringLiteral("::") + QLatin1String(kModelEntry);
    if (!ExtractArchiveFile(entry, extracted, false, false) || FileSha1(extracted) != modelHash) {
        BenchFail("install_bench", QStringLiteral("the mod entry does not unpack to the model"));
        return {};
    }
    QFile::remove(extracted);
    qint64 stored = 0;
    for (const CatalogEntryInfo& info : ListCatalog(e.engine->modCatalog()))
        if (info.name == QLatin1String(kModelEntry))
            stored = info.size;
    BenchPrint(QStringLiteral("install %1 MiB model: %2 (package %3 bytes, packed entry %4 bytes; "
                              "entry unpacks to the model)")
                   .arg(sizeMb)
                   .arg(time.text())
                   .arg(QFileInfo(*packagePath).size())
                   .arg(stored));
    RemoveTree(game, true);
    return time;
}

// A game of its own whose 01.cat holds a ship table of gameShips ships and the
// sample game's other tables.
bool makeBigGame(const QString& game, int gameShips)
{
    if (!QDir().mkpath(game + QStringLiteral("/mods")))
        return false;
    QFile exe(game + QStringLiteral("/vega.exe"));
    if (!exe.open(QIODevice::WriteOnly))
        return false;
    exe.close();
    QByteArray ships =
        "// TShips.txt - install_bench game table\n48;" + QByteArray::number(gameShips) + ";\n";
    for (int i = 0; i < gameShips; ++i)
        ships += QByteArray(kDefaultShipLine)
                     .replace("HW_NEW_SHIP", "GAME_SHIP_" + QByteArray::number(i)) +
                 '\n';
    const QString cat = game + QStringLiteral("/01.cat");
    const auto add = [&cat](const char* name, const QByteArray& text) {
        return WriteArchiveFile(text.constData(), text.size(),
                                cat + QStringLiteral("::") + QLatin1String(name), true, false);
    };
    return EnsureCatalog(cat) && add("types\\TShips.txt", ships) &&
           add("types\\TCockpits.txt", SampleGame::CockpitTable()) &&
           add("types\\Dummies.txt", SampleGame::DummyTable()) &&
           add("types\\Components.txt", SampleGame::ComponentTable()) &&
           add("t\\440001.xml", SampleGame::TextPage());
}

int registryBench(const QDir& work, int shipCount, int gameShips)
{
    const QString game = work.filePath(QStringLiteral("big-game"));
    if (!makeBigGame(game, gameShips))
        return BenchFail("install_bench", QStringLiteral("cannot write the game in ") + game);

    // Small packages like real ones: a scene, a model, a dummy group, a
    // component line and a cockpit line of their own.
    const QString packages = work.filePath(QStringLiteral("small"));
    QDir().mkpath(packages + QStringLiteral("/src"));
    QElapsedTimer clock;
    clock.start();
    QStringList paths;
    for (int i = 0; i < shipCount; ++i) {
        const QString n = QString::number(i);
        ShipPackage p =
            shipPackage(QStringLiteral("Small Ship ") + n, QStringLiteral("SS_SH_BENCH_") + n);
        const QString scene = QStringLiteral("ships\\bench\\small_") + n + QStringLiteral("_scene");
        p.Dummies = {{QStringLiteral("SDTYPE_GUN"), scene + QStringLiteral(";1;0;0;4;")}};
        p.Components = {{scene, QStringLiteral("SCTYPE_ENGINE"), QStringLiteral("1;0;0;-9;")}};
        p.Cockpits = {
            QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;SS_CP_BENCH_") + n +
            QLatin1Char(';')};
        const QStringList files = {
            QStringLiteral("objects/ships/bench/small_") + n + QStringLiteral("_scene.bod"),
            QStringLiteral("objects/ships/bench/small_") + n + QStringLiteral("_body.bob")};
        for (const QString& name : files) {
            const QString source = packages + QStringLiteral("/src/") + QFileInfo(name).fileName();
            QFile f(source);
            QByteArray bytes = "// " + name.toLatin1() + "\r\n";
            while (bytes.size() < 4096)
                bytes += QByteArray::number(bytes.size() * 7919 % 1000) + ";1;-2;\r\n";
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return BenchFail("install_bench", QStringLiteral("cannot write ") + source);
            f.close();
            PackageFile entry;
            entry.Name = name;
            entry.Time = kTime;
            entry.Size = static_cast<qint32>(bytes.size());
            entry.SourcePath = source;
            if (name.endsWith(QLatin1String("_scene.bod")))
                p.SceneFile = entry;
            else
                p.Models << entry;
        }
        const QString path = packages + QStringLiteral("/small_") + n + QStringLiteral(".xsp");
        if (!savePackage(p, path, packages))
            return BenchFail("install_bench", QStringLiteral("cannot write ") + path);
        paths << path;
    }
    BenchPrint(QStringLiteral("%1 small packages written in %2")
                   .arg(shipCount)
                   .arg(BenchSeconds(clock.elapsed())));

    Engine e(work.filePath(QStringLiteral("big-program")), game);
    // The last 100 installs against the first 100 show whether a growing
    // registry and mod slow installing down.
    const Stopwatch all;
    Span firstHundred, lastHundredStart;
    for (int i = 0; i < paths.size(); ++i) {
        if (i == 100)
            firstHundred = all.span();
        if (i == paths.size() - 100)
            lastHundredStart = all.span();
        const InstallResult r = e.engine->install(paths[i], nullptr, false);
        if (r.status != 0)
            return BenchFail("install_bench",
                             QStringLiteral("install of %1 failed: %2").arg(paths[i], r.error));
    }
    const Span installed = all.span();
    const Span lastHundred{installed.wall - lastHundredStart.wall,
                           installed.cpu - lastHundredStart.cpu};
    BenchPrint(
        QStringLiteral("install %1 small packages: %2").arg(shipCount).arg(installed.text()));
    if (paths.size() >= 200)
        BenchPrint(QStringLiteral("  the first 100: %1; the last 100: %2")
                       .arg(firstHundred.text(), lastHundred.text()));

    for (int round = 1; round <= 2; ++round) {
        const Stopwatch watch;
        const bool ok = e.engine->updateMod();
        const Span time = watch.span();
        if (!ok)
            return BenchFail("install_bench", QStringLiteral("update mod failed: ") + e.lastLog());
        BenchPrint(QStringLiteral("update mod, %1 ships over a %2-ship game table (%3): %4")
                       .arg(shipCount)
                       .arg(gameShips)
                       .arg(round == 1 ? QStringLiteral("first") : QStringLiteral("again"))
                       .arg(time.text()));
    }
    // The header counts the game's ships, the spacers up to the buffer and the registry.
    const QString tables = work.filePath(QStringLiteral("TShips.txt"));
    if (!ExtractArchiveFile(e.engine->modCatalog() + QStringLiteral("::types\\TShips.pck"), tables,
                            false, false))
        return BenchFail("install_bench", QStringLiteral("the mod holds no ship table"));
    QFile t(tables);
    if (!t.open(QIODevice::ReadOnly))
        return BenchFail("install_bench", QStringLiteral("cannot read ") + tables);
    const QList<QByteArray> lines = t.readAll().split('\n');
    const int buffer = e.engine->registry().Buffer;
    const QByteArray header = "48;" + QByteArray::number(buffer + shipCount) + ";";
    if (lines.size() < 2 || lines[1] != header || lines.size() - 3 != buffer + shipCount)
        return BenchFail("install_bench",
                         QStringLiteral("unexpected ship table: header %1, %2 lines")
                             .arg(QString::fromLatin1(lines.value(1)))
                             .arg(lines.size() - 3));
    BenchPrint(
        QStringLiteral("ship table: %1 lines (buffer %2)").arg(buffer + shipCount).arg(buffer));
    return 0;
}

int run(const QStringList& args)
{
    QList<qint64> sizes = {16, 64};
    int ships = 200;
    int gameShips = 450;
    QString dir;
    bool keep = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        bool ok = true;
        if (a == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& s : args[++i].split(QLatin1Char(','))) {
                const qint64 v = s.toLongLong(&ok);
                if (!ok || v < 0 || v > 1500)
                    break;
                if (v > 0)
                    sizes << v;
            }
        } else if (a == QLatin1String("--ships") && i + 1 < args.size()) {
            ships = args[++i].toInt(&ok);
            ok = ok && ships >= 0;
        } else if (a == QLatin1String("--game-ships") && i + 1 < args.size()) {
            gameShips = args[++i].toInt(&ok);
            ok = ok && gameShips >= 1 && gameShips <= 9000;
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
                            QStringLiteral("/install_bench-XXXXXX"));
    if (!temporary.isValid())
        return BenchFail("install_bench",
                         QStringLiteral("cannot create a work folder: ") + temporary.errorString());
    temporary.setAutoRemove(!keep);
    const QDir work(temporary.path());

    QList<Span> times;
    QString package, model;
    for (qint64 size : sizes) {
        if (!times.isEmpty()) {
            QFile::remove(model);
            QFile::remove(package);
        }
        const Span time = largeInstall(work, size, &package, &model);
        if (!time.ok())
            return 1;
        times << time;
    }
    if (sizes.size() >= 2)
        BenchPrint(QStringLiteral("%1 MiB / %2 MiB install time: %3, CPU %4 (%5x the size)")
                       .arg(sizes.last())
                       .arg(sizes.first())
                       .arg(BenchRatio(times.last().wall, times.first().wall),
                            BenchRatio(times.last().cpu, times.first().cpu),
                            BenchRatio(sizes.last(), sizes.first())));
    if (!sizes.isEmpty()) {
        QString error;
        const Span xz =
            timeTool(QStringLiteral("xz"),
                     {QStringLiteral("--format=lzma"), QStringLiteral("-dc"), package}, &error);
        const Span gzip =
            xz.ok() ? timeTool(QStringLiteral("gzip"), {QStringLiteral("-9c"), model}, &error)
                    : Span();
        if (!gzip.ok())
            return BenchFail("install_bench", error);
        const Span tools{xz.wall + gzip.wall, xz.cpu + gzip.cpu};
        BenchPrint(
            QStringLiteral("%1 MiB: xz --format=lzma -dc PKG > /dev/null: %2; gzip -9 of the "
                           "model: %3; together %4")
                .arg(sizes.last())
                .arg(xz.text(), gzip.text(), tools.text()));
        BenchPrint(QStringLiteral("%1 MiB: install / (xz + gzip): %2, CPU %3")
                       .arg(sizes.last())
                       .arg(BenchRatio(times.last().wall, tools.wall),
                            BenchRatio(times.last().cpu, tools.cpu)));
        QFile::remove(model);
        QFile::remove(package);
    }

    if (ships > 0 && registryBench(work, ships, gameShips) != 0)
        return 1;
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
