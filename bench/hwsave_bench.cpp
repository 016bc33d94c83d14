// hwsave_bench: saves a ship package of large text models the way Hullwright
// does (models packed on a second thread while the document is LZMA-encoded as
// it is written) and opens it again for editing, next to the codecs one after
// the other on the same bytes: deflate level 9 of the models, then LZMA with the
// package writer's settings on the document of every model packed first. That
// one-after-the-other package must equal the save's byte for byte. The fast save
// runs in the same process and is set against the standard one. Each run of a
// size is a child process of its own, so that its peak resident size is its own;
// the table gives the medians of the runs.

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

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kBlock = 1 << 20;
const char kChild[] = "--one"; // internal: one size in this process

const char kUsage[] = "Usage: hwsave_bench [--sizes-mb A,B,...] [--models N] [--runs N] [--dir DIR]\n"
                      "  --sizes-mb  total model size in MiB (default 16,64)\n"
                      "  --models N  the size split over N models (default 1)\n"
                      "  --runs N    runs of each size, each in its own process (default 3)\n"
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

// Whether two files hold the same bytes, read in blocks.
bool sameFiles(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(kBlock) != fb.read(kBlock))
            return false;
    return true;
}

// The columns one run prints on stdout, in this order.
enum Column {
    Mib,
    SaveMs,
    SaveCpuMs,
    DeflateMs,
    DeflateCpuMs,
    LzmaMs,
    LzmaCpuMs,
    XzEncodeMs, // xz --format=lzma with the same settings on the document; -1 without xz
    Same, // 1: the save's package equals the one-after-the-other package
    FastMs,
    FastCpuMs,
    FastSize, // fast package / standard package, in parts per 10,000
    PeakKiB,  // after both saves
    OpenMs,
    XzMs,
    Columns
};

// One run of one size: the columns above on stdout, separated by blanks.
int runOne(qint64 mib, const QString& dir, int models)
{
    const QString scene = dir + QStringLiteral("/scene.bod");
    const QString program = dir + QStringLiteral("/program");
    QDir().mkpath(program);
    QStringList modelFiles;
    for (int m = 0; m < models; ++m) {
        modelFiles << dir + QStringLiteral("/hull%1.bod").arg(m);
        if (WriteBenchModel(modelFiles.last(), mib * kMiB / models, quint64(m)).isEmpty())
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
    // A fixed mask byte, so that the packages can be compared.
    ModelConversion conversion;
    conversion.packKey = 0x5a;
    qint64 c[Columns] = {};
    c[Mib] = mib;

    const QString target = dir + QStringLiteral("/bench.xsp");
    Stopwatch clock;
    if (!SaveShipPackage(BuildPackage(d, program), target, context, nullptr, conversion))
        return 1;
    Span span = clock.span();
    c[SaveMs] = span.wall;
    c[SaveCpuMs] = span.cpu;

    const QString fastTarget = dir + QStringLiteral("/fast.xsp");
    clock = Stopwatch();
    if (!SaveShipPackage(BuildPackage(d, program), fastTarget, context, nullptr, conversion,
                         nullptr, LzmaMode::Fast))
        return 1;
    span = clock.span();
    c[FastMs] = span.wall;
    c[FastCpuMs] = span.cpu;
    c[FastSize] = qRound64(10000.0 * double(QFileInfo(fastTarget).size()) /
                           double(QFileInfo(target).size()));
    c[PeakKiB] = HighWaterKiB();
    ShipPackage reopened;
    if (!OpenPackageForEditing(fastTarget, program, reopened, context).ok())
        return 1;
    QFile::remove(fastTarget);

    // One after the other: every model packed, the document written, then
    // compressed. Only the codecs are timed: raw deflate of the models, then LZMA.
    ShipPackage p = BuildPackage(d, program);
    const QString document = dir + QStringLiteral("/bench.doc");
    const QString sequential = dir + QStringLiteral("/sequential.xsp");
    for (PackageFile& f : p.Models)
        if (!PrepareModelFile(f, program + QStringLiteral("/temp"), true, conversion))
            return 1;
    if (!SavePackageText(p, document, context))
        return 1;
    clock = Stopwatch();
    for (const QString& model : modelFiles)
        if (!deflateFile(model))
            return 1;
    span = clock.span();
    c[DeflateMs] = span.wall;
    c[DeflateCpuMs] = span.cpu;
    clock = Stopwatch();
    if (!CompressFile(document, sequential))
        return 1;
    span = clock.span();
    c[LzmaMs] = span.wall;
    c[LzmaCpuMs] = span.cpu;
    c[Same] = sameFiles(target, sequential) ? 1 : 0;
    c[XzEncodeMs] = -1;
    if (!QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty()) {
        QProcess xz;
        xz.setStandardOutputFile(QProcess::nullDevice());
        clock = Stopwatch();
        xz.start(QStringLiteral("xz"),
                 {QStringLiteral("--format=lzma"),
                  QStringLiteral("--lzma1=dict=2MiB,lc=3,lp=0,pb=2,mode=normal,nice=128,mf=bt4"),
                  QStringLiteral("-c"), document});
        if (xz.waitForFinished(-1) && xz.exitCode() == 0)
            c[XzEncodeMs] = clock.span().wall;
    }
    QFile::remove(document);
    QFile::remove(sequential);

    QElapsedTimer wall;
    wall.start();
    ShipPackage opened;
    if (!OpenPackageForEditing(target, program, opened, context).ok())
        return 1;
    c[OpenMs] = wall.elapsed();
    c[XzMs] = -1;
    if (!QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty()) {
        QProcess xz;
        xz.setStandardOutputFile(QProcess::nullDevice());
        wall.restart();
        xz.start(QStringLiteral("xz"), {QStringLiteral("--format=lzma"), QStringLiteral("-dc"), target});
        if (xz.waitForFinished(-1) && xz.exitCode() == 0)
            c[XzMs] = wall.elapsed();
    }
    QStringList out;
    for (qint64 v : c)
        out << QString::number(v);
    std::printf("%s\n", qPrintable(out.join(QLatin1Char(' '))));
    return 0;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n == 0 ? 0 : n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').mid(0, 3).join(' ') : "?";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 4 && args.at(0) == QLatin1String(kChild))
        return runOne(args.at(1).toLongLong(), args.at(2), args.at(3).toInt());
    QList<qint64> sizes = {16, 64};
    QString dir;
    int models = 1;
    int runs = 3;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--sizes-mb") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& n : args.at(++i).split(QLatin1Char(',')))
                sizes << n.toLongLong();
        } else if (args.at(i) == QLatin1String("--models") && i + 1 < args.size()) {
            models = qMax(1, args.at(++i).toInt());
        } else if (args.at(i) == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = qMax(1, args.at(++i).toInt());
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
    std::printf("load average before: %s; %d run(s) a size, medians\n", loadAverage().constData(),
                runs);
    std::printf("%6s %9s %6s %9s %9s %6s %5s %9s %6s %7s %8s %7s %6s %8s\n", "MiB", "save ms",
                "cores", "deflate", "LZMA", "ratio", "same", "fast ms", "ratio", "size", "open ms",
                "xz ms", "ratio", "peak MiB");
    QList<double> saves;
    bool allSame = true;
    for (qint64 mib : sizes) {
        QList<QList<double>> values(Columns);
        QList<double> saveRatio, fastRatio, openRatio, cores, saveCpuRatio, fastCpuRatio, bound,
            xzRatio;
        for (int run = 0; run < runs; ++run) {
            const QString work = tmp.filePath(QStringLiteral("%1-%2").arg(mib).arg(run));
            QDir().mkpath(work);
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QLatin1String(kChild), QString::number(mib), work, QString::number(models)});
            const bool ok = child.waitForFinished(-1) && child.exitCode() == 0;
            QDir(work).removeRecursively();
            const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
            if (!ok || f.size() != Columns) {
                std::fprintf(stderr, "hwsave_bench: run %d of %lld MiB failed\n", run + 1, mib);
                return 1;
            }
            QList<double> v;
            for (const QByteArray& field : f)
                v << field.toDouble();
            for (int i = 0; i < Columns; ++i)
                values[i] << v[i];
            saveRatio << v[SaveMs] / qMax(1.0, v[DeflateMs] + v[LzmaMs]);
            xzRatio << (v[XzEncodeMs] > 0 ? v[SaveMs] / (v[DeflateMs] + v[XzEncodeMs]) : 0.0);
            fastRatio << v[FastMs] / qMax(1.0, v[SaveMs]);
            openRatio << (v[XzMs] > 0 ? v[OpenMs] / v[XzMs] : 0.0);
            cores << v[SaveCpuMs] / qMax(1.0, v[SaveMs]);
            saveCpuRatio << v[SaveCpuMs] / qMax(1.0, v[DeflateCpuMs] + v[LzmaCpuMs]);
            fastCpuRatio << v[FastCpuMs] / qMax(1.0, v[SaveCpuMs]);
            // With a core to spare the save waits only for the first model's
            // packing, then for the encoder.
            bound << (v[LzmaCpuMs] + v[DeflateCpuMs] / models) /
                         qMax(1.0, v[DeflateCpuMs] + v[LzmaCpuMs]);
            allSame = allSame && v[Same] == 1;
            std::fprintf(stderr,
                         "%lld MiB run %d: save %.0f ms (CPU %.0f), deflate %.0f (CPU %.0f) + LZMA "
                         "%.0f ms (CPU %.0f), xz %.0f ms, fast %.0f ms (CPU %.0f); load %s\n",
                         mib, run + 1, v[SaveMs], v[SaveCpuMs], v[DeflateMs], v[DeflateCpuMs],
                         v[LzmaMs], v[LzmaCpuMs], v[XzEncodeMs], v[FastMs], v[FastCpuMs],
                         loadAverage().constData());
        }
        const auto m = [&](Column c) { return median(values.at(c)); };
        saves << m(SaveMs);
        std::printf("%6lld %9.0f %6.2f %9.0f %9.0f %6.2f %5s %9.0f %6.2f %7.3f %8.0f %7.0f %6.2f %8.1f\n",
                    mib, m(SaveMs), median(cores), m(DeflateMs), m(LzmaMs), median(saveRatio),
                    m(Same) == 1 ? "yes" : "NO", m(FastMs), median(fastRatio), m(FastSize) / 10000.0,
                    m(OpenMs), m(XzMs), median(openRatio), m(PeakKiB) / 1024.0);
        // CPU time is what a busy machine disturbs least; the overlap itself shows
        // only in wall time, when the machine has a core to spare.
        std::printf("%6s CPU time: save / (deflate + LZMA) %.2f, fast / save %.2f; "
                    "full overlap would give a ratio of %.2f\n",
                    "", median(saveCpuRatio), median(fastCpuRatio), median(bound));
        if (m(XzEncodeMs) > 0)
            std::printf("%6s xz --format=lzma on the document %.0f ms: save / (deflate + xz) %.2f\n",
                        "", m(XzEncodeMs), median(xzRatio));
    }
    if (saves.size() >= 2 && saves.first() > 0)
        std::printf("save time %lld MiB / %lld MiB: %.2f\n", sizes.last(), sizes.first(),
                    saves.last() / saves.first());
    std::printf("load average after: %s\n", loadAverage().constData());
    if (!allSame)
        std::fputs("hwsave_bench: a save differs from the one-after-the-other package\n", stderr);
    return allSame ? 0 : 1;
}
