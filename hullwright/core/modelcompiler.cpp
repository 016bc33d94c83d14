#include "modelcompiler.h"

#include "archivefile.h"

#include <zlib.h>

#include <csignal>
#include <ctime>

#include <sys/types.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

namespace {

QString lowerSuffix(const QString& name)
{
    const QString file = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : file.mid(dot + 1).toLower();
}

QString withSuffix(const QString& name, const char* suffix)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? name.left(dot) : name) + QLatin1Char('.') + QLatin1String(suffix);
}

// Writes source in the game's packed form (a key byte, then a gzip member
// scrambled with it) in blocks, so that a model of any size is never held whole.
bool packStreamed(const QString& source, const QString& target, int fixedKey, int level)
{
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const auto key = static_cast<unsigned char>(fixedKey >= 0 ? fixedKey : std::clock() & 0xff);
    QByteArray buffer;
    auto put = [&](const char* data, qint64 size) {
        buffer.resize(size);
        for (qint64 i = 0; i < size; ++i)
            buffer[i] = char(data[i] ^ char(key));
        return out.write(buffer) == size;
    };
    const quint32 mtime =
        quint32(qMax<qint64>(0, QFileInfo(source).lastModified().toSecsSinceEpoch()));
    const char first = char(key ^ 0x3c);
    const char header[10] = {'\x1f', '\x8b', 8, 0, char(mtime), char(mtime >> 8), char(mtime >> 16),
                             char(mtime >> 24), 0, 11};
    if (out.write(&first, 1) != 1 || !put(header, 10))
        return false;
    z_stream z{};
    if (deflateInit2(&z, qBound(1, level, 9), Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    constexpr qint64 kBlock = 256 * 1024;
    QByteArray block, packed(kBlock, '\0');
    uLong crc = crc32(0, nullptr, 0);
    quint32 length = 0;
    int flush = Z_NO_FLUSH;
    int rc = Z_OK;
    bool ok = true;
    while (ok && rc != Z_STREAM_END) {
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            block = in.read(kBlock);
            if (block.isEmpty() && in.error() != QFileDevice::NoError) {
                ok = false;
                break;
            }
            crc = crc32(crc, reinterpret_cast<const Bytef*>(block.constData()), uInt(block.size()));
            length += quint32(block.size());
            z.next_in = reinterpret_cast<Bytef*>(block.data());
            z.avail_in = uInt(block.size());
            if (in.atEnd())
                flush = Z_FINISH;
        }
        z.next_out = reinterpret_cast<Bytef*>(packed.data());
        z.avail_out = uInt(packed.size());
        rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR)
            ok = false;
        const qint64 made = packed.size() - qint64(z.avail_out);
        ok = ok && put(packed.constData(), made);
    }
    deflateEnd(&z);
    const char trailer[8] = {char(crc), char(crc >> 8), char(crc >> 16), char(crc >> 24),
                             char(length), char(length >> 8), char(length >> 16), char(length >> 24)};
    return ok && put(trailer, 8) && out.flush();
}

// With the conversion option off no outside program runs at all, not even to
// decompile.
bool compilerUsable(const ModelConversion& c)
{
    return c.compile && !c.compiler.isEmpty() && QFileInfo(c.compiler).isFile();
}

} // namespace

QStringList CompileArguments(int attempt, const QString& input, const QString& output)
{
    return {QStringLiteral("-c"), attempt == 0 ? QStringLiteral("--cut") : QStringLiteral("--bob"),
            input, output};
}

QStringList DecompileArguments(const QString& input, const QString& output)
{
    return {QStringLiteral("-d"), input, output};
}

CompilerRun RunModelCompilerOnce(const QString& compiler, const QStringList& arguments,
                                 const char* verb, const QString& output, int timeoutMs)
{
    QProcess process;
    process.setWorkingDirectory(QFileInfo(compiler).absolutePath());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    // A group of its own, so that a time-out ends whatever the compiler started too.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    QElapsedTimer clock;
    clock.start();
    process.start(compiler, arguments);
    if (!process.waitForStarted(timeoutMs))
        return CompilerRun::Failed;
    const qint64 pid = process.processId();
    const auto end = [&] {
        if (pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        process.kill();
        process.waitForFinished(-1);
    };
    // The output is read as it comes and only the lines are looked at: a compiler
    // that floods its output costs a bounded amount of memory and is stopped.
    const QString success = QLatin1String(verb) + QStringLiteral(" successfully");
    bool succeeded = false;
    QByteArray pending;
    qint64 total = 0;
    const auto scan = [&](bool last) {
        const QByteArray chunk = process.readAllStandardOutput();
        total += chunk.size();
        pending += chunk;
        qsizetype start = 0;
        for (qsizetype nl; (nl = pending.indexOf('\n', start)) >= 0 || (last && start < pending.size());) {
            const qsizetype stop = nl >= 0 ? nl : pending.size();
            const QStringList words = QString::fromLocal8Bit(pending.mid(start, stop - start))
                                          .trimmed()
                                          .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.size() >= 2 && words.mid(words.size() - 2).join(QLatin1Char(' ')) == success)
                succeeded = true;
            start = stop + 1;
        }
        pending = start < pending.size() ? pending.mid(start).right(kMaxCompilerLine) : QByteArray();
    };
    while (process.state() != QProcess::NotRunning) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            end();
            return CompilerRun::TimedOut;
        }
        process.waitForReadyRead(static_cast<int>(qMin<qint64>(left, 200)));
        scan(false);
        if (total > kMaxCompilerOutput) {
            end();
            return CompilerRun::Failed;
        }
    }
    // Whatever it started and left behind goes with it.
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    scan(true);
    const bool ok = process.exitStatus() == QProcess::NormalExit && succeeded &&
                    QFileInfo(output).isFile();
    return ok ? CompilerRun::Succeeded : CompilerRun::Failed;
}

bool RunModelCompiler(const QString& compiler, const QStringList& arguments, const char* verb,
                      const QString& output, int timeoutMs)
{
    return RunModelCompilerOnce(compiler, arguments, verb, output, timeoutMs) ==
           CompilerRun::Succeeded;
}

bool IsSceneText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    while (!f.atEnd()) {
        const QString line = QString::fromLocal8Bit(f.readLine(64 * 1024));
        if (QString(line).remove(QLatin1Char(' ')).trimmed().isEmpty() ||
            line.startsWith(QLatin1Char('/')))
            continue;
        return line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).trimmed() ==
               QLatin1String("VER:");
    }
    return false;
}

bool CompileModel(const ModelConversion& c, const QString& bod, const QString& bob)
{
    if (!compilerUsable(c) || (c.hung && *c.hung))
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QFile::remove(bob);
        const CompilerRun run = RunModelCompilerOnce(c.compiler, CompileArguments(attempt, bod, bob),
                                                     "compiled", bob, c.timeoutMs);
        if (run == CompilerRun::Succeeded)
            return true;
        if (run == CompilerRun::TimedOut) {
            // A compiler that hung once hangs again: the rest goes without it.
            if (c.hung)
                *c.hung = true;
            break;
        }
    }
    QFile::remove(bob);
    return false;
}

bool DecompileModel(const ModelConversion& c, const QString& bob, const QString& bod)
{
    if (!compilerUsable(c) || (c.hung && *c.hung))
        return false;
    QFile::remove(bod);
    const CompilerRun run = RunModelCompilerOnce(c.compiler, DecompileArguments(bob, bod),
                                                 "decompiled", bod, c.timeoutMs);
    if (run == CompilerRun::Succeeded)
        return true;
    if (run == CompilerRun::TimedOut && c.hung)
        *c.hung = true;
    QFile::remove(bod);
    return false;
}

bool PrepareModelFile(PackageFile& entry, const QString& workDir, bool compileAllowed,
                      const ModelConversion& conversion, QString* error)
{
    const QString suffix = lowerSuffix(entry.Name);
    if (suffix != QLatin1String("bod") && suffix != QLatin1String("bob"))
        return true;
    QDir().mkpath(workDir);
    // One scratch name per entry: two models of the same base name in different
    // folders must not meet in the work folder.
    QTemporaryFile scratch(workDir + QStringLiteral("/model-XXXXXX"));
    scratch.setAutoRemove(false);
    if (!scratch.open()) {
        if (error)
            *error = QStringLiteral("cannot create a file in ") + workDir;
        return false;
    }
    const QString base = scratch.fileName();
    scratch.close();
    QFile::remove(base);

    QString source = entry.SourcePath;
    QString name = entry.Name;
    bool compiled = false;
    if (suffix == QLatin1String("bod") && compileAllowed && conversion.compile &&
        compilerUsable(conversion) && !IsSceneText(source)) {
        const QString bob = base + QStringLiteral(".bob");
        if (CompileModel(conversion, source, bob)) {
            source = bob;
            name = withSuffix(name, "bob");
            compiled = true;
        }
    }
    const QString packed = base + (lowerSuffix(name) == QLatin1String("bob") ? QStringLiteral(".pbb")
                                                                            : QStringLiteral(".pbd"));
    const bool ok = packStreamed(source, packed, conversion.packKey, conversion.packLevel);
    if (compiled)
        QFile::remove(source);
    if (!ok) {
        QFile::remove(packed);
        if (error)
            *error = QStringLiteral("cannot pack ") + entry.SourcePath;
        return false;
    }
    if (entry.RemoveAfterSave)
        QFile::remove(entry.SourcePath);
    entry.SourcePath = packed;
    entry.Name = PackedName(name, false);
    entry.Size = qint32(qMin<qint64>(QFileInfo(packed).size(), std::numeric_limits<qint32>::max()));
    entry.RemoveAfterSave = true;
    return true;
}
