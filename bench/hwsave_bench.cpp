// hwsave_bench: saves a ship package holding one large text model the way
// Hullwright does (pack the model, write the document, compress it) and opens it
// again for editing, next to the codecs alone on the same bytes: deflate level 9
// of the model and LZMA with the package writer's settings on the document for
// the save, `xz --format=lzma -dc` of the package for the open. Each size runs in
// a child process of its own, so that its peak resident size is its own.

#include "benchtime.h"
#include "packagebuild.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <lzma.h>
#include <zlib.h>

#include <cstdio>

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kBlock = 1 << 20;
const char kChild[] = "--one"; // internal: one size in this process

const char kUsage[] = "Usage: hwsave_bench [--sizes-mb A,B,...] [--models N] [--fast] [--dir DIR]\n"
                      "  --sizes-mb  model sizes in MiB, each in its own process (default 16,64)\n"
                      "  --models N  the size split over N models (default 1)\n"
                      "  --fast      also save with the fast LZMA mode\n"
                      "  --dir DIR   work folder (default: a new temporary folder)\n";

// Deflate level 9 in the gzip framing of the packed form, output discarded.
bool deflateFile(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    QByteArray out(kBlock, '\0');
    QByteArray block;
    int flush = Z_NO_FLUSH;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            block = in.read(kBlock);
            z.next_in = reinterpret_cast<Bytef*>(block.data());
            z.avail_in = uInt(block.size());
            if (in.atEnd())
                flush = Z_FINISH;
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        rc = deflate(&z, flush);
        if (rc == Z_BUF_ERROR && flush == Z_NO_FLUSH)
            rc = Z_OK;
    }
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

// LZMA1 with the writer's settings (2 MiB dictionary, lc 3, lp 0, pb 2, normal
// mode, 128 fast bytes, BT4), output discarded.
bool lzmaFile(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 6))
        return false;
    opt.dict_size = 1 << 21;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    opt.mode = LZMA_MODE_NORMAL;
    opt.nice_len = 128;
    opt.mf = LZMA_MF_BT4;
    opt.depth = 0;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&s, filters) != LZMA_OK)
        return false;
    QByteArray out(kBlock, '\0');
    QByteArray block;
    lzma_action action = LZMA_RUN;
    lzma_ret rc = LZMA_OK;
    while (rc == LZMA_OK) {
        if (s.avail_in == 0 && action == LZMA_RUN) {
            block = in.read(kBlock);
            s.next_in = reinterpret_cast<const uint8_t*>(block.constData());
            s.avail_in = size_t(block.size());
            if (in.atEnd())
                action = LZMA_FINISH;
        }
        s.next_out = reinterpret_cast<uint8_t*>(out.data());
        s.avail_out = size_t(out.size());
        rc = lzma_code(&s, action);
    }
    lzma_end(&s);
    return rc == LZMA_STREAM_END;
}

// One size: "<MiB> <save ms> <codecs ms> <open ms> <xz ms> <peak KiB> <fast ms>
// <fast size / size>" on stdout (the last two -1 without fast).
int runOne(qint64 mib, const QString& dir, int models, bool fast)
{
    const QString scene = dir + QStringLiteral("/scene.bod");
    const QString program = dir + QStringLiteral("/program");
    QDir().mkpath(program);
    QStringList modelFiles;
    for (int m = 0; m < models; ++m) {
        modelFiles << dir + QStringLiteral("/hull%1.bod").arg(m);
        if (WriteBenchModel(modelFiles.last(), mib * kMiB / models).isEmpty())
            return 1;
    }
    QFile s(scene);
    if (!s.open(QIODevice::WriteOnly) || s.write("VER: 1;\n") != 8)
        return 1;
    s.close();
    ShipDraft d;
    d.name = QStringLiteral("Bench");
    d.author = QStringLiteral("Bench");
    d.id = QStringLiteral("BENCH");
    d.record = QStringLiteral("0;0;BENCH;");
    d.sceneName = QStringLiteral("bench/scene");
    d.sceneFile = scene;
    AddDraftFiles(d.models, QStringLiteral("objects/bench"), modelFiles);
    PackageContext context;
    context.programDir = program;
    const QString target = dir + QStringLiteral("/bench.xsp");

    QElapsedTimer clock;
    clock.start();
    if (!SaveShipPackage(BuildPackage(d, program), target, context))
        return 1;
    const qint64 saveMs = clock.elapsed();
    if (qEnvironmentVariableIsSet("HWSAVE_BENCH_PHASES"))
        std::fprintf(stderr, "after save: %ld KiB\n", HighWaterKiB());

    // The same document, for the codecs alone.
    ShipPackage p = BuildPackage(d, program);
    const QString document = dir + QStringLiteral("/bench.doc");
    for (PackageFile& f : p.Models)
        if (!PrepareModelFile(f, program + QStringLiteral("/temp"), true, {}))
            return 1;
    if (!SavePackageText(p, document, context))
        return 1;
    clock.restart();
    for (const QString& model : modelFiles)
        if (!deflateFile(model))
            return 1;
    const qint64 deflateMs = clock.elapsed();
    if (!lzmaFile(document))
        return 1;
    const qint64 codecMs = clock.elapsed();
    std::fprintf(stderr, "%lld MiB: deflate %lld ms, LZMA %lld ms\n", mib, deflateMs,
                 codecMs - deflateMs);
    if (qEnvironmentVariableIsSet("HWSAVE_BENCH_PHASES"))
        std::fprintf(stderr, "after codecs: %ld KiB\n", HighWaterKiB());
    QFile::remove(document);

    clock.restart();
    ShipPackage opened;
    if (!OpenPackageForEditing(target, program, opened, context).ok())
        return 1;
    const qint64 openMs = clock.elapsed();

    qint64 xzMs = -1;
    if (!QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty()) {
        QProcess xz;
        xz.setStandardOutputFile(QProcess::nullDevice());
        clock.restart();
        xz.start(QStringLiteral("xz"), {QStringLiteral("--format=lzma"), QStringLiteral("-dc"), target});
        if (xz.waitForFinished(-1) && xz.exitCode() == 0)
            xzMs = clock.elapsed();
    }
    qint64 fastMs = -1;
    double fastSize = -1;
    if (fast) {
        const QString fastTarget = dir + QStringLiteral("/fast.xsp");
        clock.restart();
        if (!SaveShipPackage(BuildPackage(d, program), fastTarget, context, nullptr, {}, nullptr,
                             LzmaMode::Fast))
            return 1;
        fastMs = clock.elapsed();
        fastSize = double(QFileInfo(fastTarget).size()) / double(QFileInfo(target).size());
        ShipPackage reopened;
        if (!OpenPackageForEditing(fastTarget, program, reopened, context).ok())
            return 1;
    }
    std::printf("%lld %lld %lld %lld %lld %ld %lld %.4f\n", mib, saveMs, codecMs, openMs, xzMs,
                HighWaterKiB(), fastMs, fastSize);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args.at(0) == QLatin1String(kChild))
        return runOne(args.at(1).toLongLong(), args.at(2), args.at(3).toInt(),
                      args.at(4) == QLatin1String("fast"));
    QList<qint64> sizes = {16, 64};
    QString dir;
    int models = 1;
    bool fast = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--sizes-mb") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& n : args.at(++i).split(QLatin1Char(',')))
                sizes << n.toLongLong();
        } else if (args.at(i) == QLatin1String("--models") && i + 1 < args.size()) {
            models = qMax(1, args.at(++i).toInt());
        } else if (args.at(i) == QLatin1String("--fast")) {
            fast = true;
        } else if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size()) {
            dir = args.at(++i);
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    QTemporaryDir tmp(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/hwsave-XXXXXX")
                                    : dir + QStringLiteral("/hwsave-XXXXXX"));
    if (!tmp.isValid())
        return 1;
    std::printf("%8s %10s %10s %7s %10s %10s %7s %9s\n", "MiB", "save ms", "codecs ms", "ratio",
                "open ms", "xz ms", "ratio", "peak MiB");
    QList<qint64> saves;
    for (qint64 mib : sizes) {
        const QString work = tmp.filePath(QString::number(mib));
        QDir().mkpath(work);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QLatin1String(kChild), QString::number(mib), work, QString::number(models),
                     fast ? QStringLiteral("fast") : QStringLiteral("standard")});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "hwsave_bench: the run of %lld MiB failed\n", mib);
            return 1;
        }
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        if (f.size() != 8)
            return 1;
        const double save = f[1].toDouble(), codecs = f[2].toDouble(), open = f[3].toDouble(),
                     xz = f[4].toDouble();
        saves << f[1].toLongLong();
        std::printf("%8lld %10.0f %10.0f %7.2f %10.0f %10.0f %7.2f %9.1f\n", mib, save, codecs,
                    save / qMax(1.0, codecs), open, xz, xz > 0 ? open / xz : 0.0,
                    f[5].toDouble() / 1024.0);
        if (fast)
            std::printf("%8s fast save %.0f ms: %.2f x the save, %.3f x its size\n", "", f[6].toDouble(),
                        f[6].toDouble() / qMax(1.0, save), f[7].toDouble());
        QDir(work).removeRecursively();
    }
    if (saves.size() >= 2 && saves.first() > 0)
        std::printf("save time %lld MiB / %lld MiB: %.2f\n", sizes.last(), sizes.first(),
                    double(saves.last()) / double(saves.first()));
    return 0;
}
