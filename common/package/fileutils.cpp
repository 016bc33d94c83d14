#include "fileutils.h"

#include "safefile.h"

#include "uiseams.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <vector>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

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
    // One pass: a name that holds "%2" (a ship, a file) stays as it is.
    QString s;
    s.reserve(templ.size() + t1.size() + t2.size() + t3.size());
    for (qsizetype i = 0; i < templ.size(); ++i) {
        const QChar c = templ.at(i);
        const QChar next = i + 1 < templ.size() ? templ.at(i + 1) : QChar();
        if (c == QLatin1Char('%') && next >= QLatin1Char('1') && next <= QLatin1Char('3')) {
            s += next == QLatin1Char('1') ? t1 : next == QLatin1Char('2') ? t2 : t3;
            ++i;
        } else {
            s += c;
        }
    }
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
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                    QDir::Hidden | QDir::System);
    // Every subfolder is visited even after one fails: a clean-up that keeps files
    // must still remove the empty folders beside them. A link is removed as a file,
    // never followed: what it leads to is not part of the tree.
    bool allRemoved = true;
    for (const QFileInfo& e : entries)
        if (e.isDir() && !e.isSymLink())
            allRemoved = RemoveTree(e.filePath(), removeFiles) && allRemoved;
    if (!allRemoved)
        return false;
    for (const QFileInfo& e : entries) {
        if (e.isDir() && !e.isSymLink())
            continue;
        if (!removeFiles || !RemoveFileChecked(e.filePath()))
            return false;
    }
    return RemoveDirChecked(dir.absolutePath());
}

QString MakeWorkFolder(const QString& parent, const QString& prefix)
{
    QDir().mkpath(parent);
    for (int tries = 0; tries < 100; ++tries) {
        const QString dir = QStringLiteral("%1/%2-%3-%4")
                                .arg(parent, prefix)
                                .arg(QCoreApplication::applicationPid())
                                .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        if (QDir(parent).mkdir(QFileInfo(dir).fileName()))
            return dir;
    }
    return {};
}

void RemoveStaleWorkFolders(const QString& parent, const QString& prefix)
{
    const QFileInfoList found =
        QDir(parent).entryInfoList({prefix + QStringLiteral("-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : found) {
        if (info.isSymLink())
            continue;
        const QStringList parts = info.fileName().mid(prefix.size() + 1).split(QLatin1Char('-'));
        bool isNumber = false;
        const qint64 pid = parts.value(0).toLongLong(&isNumber);
        if (!isNumber || pid <= 0 || parts.size() != 2)
            continue;
        // Only the leftovers of a program that no longer runs.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
            continue;
        RemoveTree(info.filePath(), true);
    }
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
