// xsp_bench: reads a ship package that holds one large model into a folder and
// sets the time and memory of the reader next to those of the standard LZMA tool
// decoding the same file. The reader runs in a child process of its own so that
// its peak resident size is not hidden by the peak of building the package.

#include "benchtime.h"
#include "uiseams.h"
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
#include <random>

namespace {

constexpr quint64 kSeed = kBenchModelSeed;
constexpr qint64 kMiB = 1 << 20;
const char kModelName[] = "objects/bench/large_hull.bod";
const char kReadMode[] = "--read-into"; // internal: the child that runs the reader

const char kUsage[] = "Usage: xsp_bench [--size-mb N] [--dir DIR] [--keep]\n"
                      "  --size-mb N  size of the embedded model in MiB (default 64)\n"
                      "  --dir DIR    work folder (default: a new temporary folder)\n"
                      "  --keep       keep the package and the placed files\n";

// ru_maxrss is in KiB on Linux.
double mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

long peakRss(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// The reader announces its phases through the progress totals: the first total
// is the decompression, the second the walk over the document.
class PhaseClock : public ProgressSink
{
public:
    explicit PhaseClock(const QElapsedTimer& clock) : m_clock(clock) {}
    void setTotal(qint64) override { m_marks.append(m_clock.elapsed()); }
    void setDone(qint64) override {}
    qint64 mark(int i) const { return m_marks.value(i, -1); }

private:
    const QElapsedTimer& m_clock;
    QList<qint64> m_marks;
};

// Child: "<status> <total ms> <decompress ms> <place ms> <peak RSS KiB>" on stdout.
int readInto(const QString& dir, const QString& package)
{
    QElapsedTimer clock;
    PhaseClock phases(clock);
    PackageContext context;
    context.programDir = dir;
    context.progress = &phases;
    OpenPackageOptions options;
    options.baseDir = dir;
    ShipPackage p;
    QFile file(package);
    clock.start();
    const OpenPackageResult result = OpenPackage(file, p, options, context);
    const qint64 total = clock.elapsed();
    const qint64 placing = phases.mark(1) < 0 ? -1 : total - phases.mark(1);
    const qint64 decompressing = phases.mark(1) < 0 ? -1 : phases.mark(1) - phases.mark(0);
    BenchPrint(QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(result.status)
                   .arg(total)
                   .arg(decompressing)
                   .arg(placing)
                   .arg(HighWaterKiB(QStringLiteral("self"))));
    return result.status == PackageOk ? 0 : 1;
}

int run(const QStringList& args)
{
    qint64 sizeMb = 64;
    QString dir;
    bool keep = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        bool ok = true;
        if (i == 0 && a == QLatin1String(kReadMode) && args.size() == 3)
            return readInto(args[1], args[2]);
        if (a == QLatin1String("--size-mb") && i + 1 < args.size())
            sizeMb = args[++i].toLongLong(&ok);
        else if (a == QLatin1String("--dir") && i + 1 < args.size())
            dir = args[++i];
        else if (a == QLatin1String("--keep"))
            keep = true;
        else
            ok = false;
        if (!ok || sizeMb <= 0 || sizeMb > 2000) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    QTemporaryDir temporary(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/xsp_bench-XXXXXX")
                                          : QDir(dir).filePath(QStringLiteral("xsp_bench-XXXXXX")));
    if (!temporary.isValid())
        return BenchFail("xsp_bench",
                         QStringLiteral("cannot create a work folder: ") + temporary.errorString());
    temporary.setAutoRemove(!keep);
    const QDir work(temporary.path());
    const qint64 size = sizeMb * kMiB;

    BenchPrint(QStringLiteral("model: %1 MiB, half table text and half random bytes (seed %2)")
                   .arg(sizeMb)
                   .arg(kSeed));
    const QString source = work.filePath(QStringLiteral("model.src"));
    const QByteArray sourceHash = WriteBenchModel(source, size);
    if (sourceHash.isEmpty())
        return BenchFail("xsp_bench", QStringLiteral("cannot write ") + source);

    ShipPackage package;
    package.Name = QStringLiteral("Bench Hull");
    package.Author = QStringLiteral("xsp_bench");
    package.ID = QStringLiteral("XSP-BENCH");
    package.Data = QStringLiteral("0;0;SS_SH_BENCH;");
    PackageFile model;
    model.Name = QLatin1String(kModelName);
    model.Time = 1262304000;
    model.Size = static_cast<qint32>(size);
    model.SourcePath = source;
    model.RemoveAfterSave = true; // frees its disk space before the reads
    package.Models << model;
    PackageContext context;
    context.programDir = work.path();
    const QString xsp = work.filePath(QStringLiteral("bench.xsp"));
    QElapsedTimer clock;
    clock.start();
    if (!SavePackage(package, xsp, context))
        return BenchFail("xsp_bench", QStringLiteral("SavePackage failed"));
    const qint64 saveMs = clock.elapsed();
    const qint64 packed = QFileInfo(xsp).size();
    BenchPrint(
        QStringLiteral("package: %1 bytes (%2 of the document), written in %3")
            .arg(packed)
            .arg(QString::number(static_cast<double>(packed) / static_cast<double>(size), 'f', 3))
            .arg(BenchSeconds(saveMs)));
    BenchPrint(QStringLiteral("bench process peak RSS (generating and writing): %1 MiB")
                   .arg(mib(peakRss(RUSAGE_SELF)), 0, 'f', 1));

    qint64 xzMs = -1;
    const QString xz = QStandardPaths::findExecutable(QStringLiteral("xz"));
    if (xz.isEmpty()) {
        BenchPrint(QStringLiteral("xz --format=lzma -dc: not run (xz not found)"));
    } else {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        clock.restart();
        p.start(xz, {QStringLiteral("--format=lzma"), QStringLiteral("-dc"), xsp});
        if (!p.waitForStarted())
            return BenchFail("xsp_bench", QStringLiteral("cannot start ") + xz);
        // Its peak is sampled while it runs; the decoder allocates all it needs
        // at the start, so the samples reach the peak early.
        const QString pid = QString::number(p.processId());
        long xzPeak = -1;
        while (p.state() != QProcess::NotRunning && !p.waitForFinished(20))
            xzPeak = qMax(xzPeak, HighWaterKiB(pid));
        xzMs = clock.elapsed();
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return BenchFail("xsp_bench",
                             QStringLiteral("xz could not decode the package: ") +
                                 QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        BenchPrint(QStringLiteral("xz --format=lzma -dc PKG > /dev/null: %1, peak RSS %2 MiB")
                       .arg(BenchSeconds(xzMs))
                       .arg(mib(xzPeak), 0, 'f', 1));
    }

    const QString target = work.filePath(QStringLiteral("read"));
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kReadMode), target, xsp});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit)
        return BenchFail("xsp_bench", QStringLiteral("the reader process did not finish"));
    const QStringList figures =
        QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    if (figures.size() != 5 || figures[0] != QLatin1String("0"))
        return BenchFail("xsp_bench",
                         QStringLiteral("OpenPackage failed (status %1)").arg(figures.value(0)));
    const qint64 readMs = figures[1].toLongLong();
    const long readRss = figures[4].toLong();
    BenchPrint(
        QStringLiteral("OpenPackage into a folder: %1 (decompress %2, place files %3), peak RSS "
                       "%4 MiB")
            .arg(BenchSeconds(readMs), BenchSeconds(figures[2].toLongLong()),
                 BenchSeconds(figures[3].toLongLong()))
            .arg(mib(readRss), 0, 'f', 1));
    if (xzMs > 0)
        BenchPrint(QStringLiteral("OpenPackage / xz time: %1")
                       .arg(static_cast<double>(readMs) / static_cast<double>(xzMs), 0, 'f', 2));

    if (FileSha1(target + QStringLiteral("/Slipway/") + QLatin1String(kModelName)) != sourceHash)
        return BenchFail("xsp_bench",
                         QStringLiteral("the placed model differs from the one written"));
    BenchPrint(QStringLiteral("placed model: identical to the source"));
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
