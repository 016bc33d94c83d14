#include "fileutils.h"

#include "safefile.h"

#include "uiseams.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QIODevice>

#include <vector>

QString VersionLettersToNumbers(const QString& version)
{
    QString out;
    out.reserve(version.size() * 2);
    for (QChar c : version) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
            out += QLatin1Char('.') + QString::number((u | 0x20) - 'a' + 1) + QLatin1Char('.');
        else
            out += c;
    }
    return out;
}

int CompareVersions(const QString& a, const QString& b)
{
    auto prepare = [](const QString& v) {
        QString s = VersionLettersToNumbers(v);
        qsizetype i = 0;
        while (i < s.size() && s.at(i) == QLatin1Char('.'))
            ++i;
        return s.mid(i).split(QLatin1Char('.'));
    };
    const QStringList fa = prepare(a), fb = prepare(b);
    for (qsizetype i = 0;; ++i) {
        const QString x = i < fa.size() ? fa.at(i) : QString();
        const QString y = i < fb.size() ? fb.at(i) : QString();
        if (x.isEmpty() && y.isEmpty())
            return 0;
        if (x.isEmpty())
            return 1;
        if (y.isEmpty())
            return -1;
        const qlonglong nx = x.toLongLong(), ny = y.toLongLong();
        if (ny > nx)
            return 1;
        if (ny < nx)
            return -1;
    }
}

QString FormatText(const QString& templ, const QString& t1, const QString& t2, const QString& t3)
{
    QString s = templ;
    s.replace(QLatin1String("%1"), t1);
    s.replace(QLatin1String("%2"), t2);
    s.replace(QLatin1String("%3"), t3);
    return s;
}

void MakePath(const QString& base, const QString& relative)
{
    QDir dir(base);
    if (dir.exists(relative))
        return;
    for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!dir.exists(part))
            MakeDirChecked(dir.filePath(part));
        if (!dir.cd(part))
            return;
    }
}

bool RemoveTree(const QString& path, bool removeFiles)
{
    QDir dir(path);
    const auto subdirs =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    // Every subfolder is visited even after one fails: a clean-up that keeps files
    // must still remove the empty folders beside them.
    bool allRemoved = true;
    for (const QString& sub : subdirs)
        allRemoved = RemoveTree(dir.filePath(sub), removeFiles) && allRemoved;
    if (!allRemoved)
        return false;
    const auto files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    if (!files.isEmpty() && !removeFiles)
        return false;
    for (const QString& f : files)
        if (!RemoveFileChecked(dir.filePath(f)))
            return false;
    return RemoveDirChecked(dir.absolutePath());
}

bool CopyFileData(QIODevice& source, QIODevice& target, qint64 blockSize, ProgressSink* progress)
{
    const qint64 size = source.size();
    if (size < 1)
        return true;
    if (blockSize < 1)
        return false;
    std::vector<char> block(static_cast<size_t>(blockSize) + 1);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = source.read(block.data(), qMin(blockSize, size - done));
        if (n <= 0 || target.write(block.data(), n) != n)
            return false; // a short copy would leave a size line that lies about its bytes
        done += n;
        if (progress)
            progress->setDone(done);
    }
    return true;
}

void WriteLog(const QString& programDir, const QString& logName, const QString& message)
{
    if (logName.isEmpty() || message.isEmpty())
        return;
    QDir(programDir).mkpath(QStringLiteral("log"));
    QFile log(programDir + QStringLiteral("/log/") + logName + QStringLiteral(".txt"));
    if (!log.open(QIODevice::Append | QIODevice::WriteOnly))
        return;
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("dd:MM:yy - hh:mm:ss"));
    log.write((QLatin1Char('[') + stamp + QStringLiteral("] ") + message + QLatin1Char('\n'))
                  .toLocal8Bit());
}
