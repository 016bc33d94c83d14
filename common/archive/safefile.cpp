#include "safefile.h"

#include "fileio.h"
#include "journal.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

std::string os(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

bool failWith(QString* error, const QString& path, const QString& what)
{
    // Inside a change, a failed write fails the change even if the caller moves on.
    journal::poison(QFile::encodeName(path).toStdString(), what.toStdString());
    if (error)
        *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + what +
                 QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(errno)) +
                 QLatin1Char(')');
    return false;
}

int g_tempCounter = 0;
QString g_scratch;

bool isScratch(const QString& dir)
{
    return !g_scratch.isEmpty() &&
           (dir == g_scratch || dir.startsWith(g_scratch + QLatin1Char('/')));
}

} // namespace

bool WriteFileAtomic(const QString& path, QIODevice& source, QString* error)
{
    const QString target = absolute(path);
    const QFileInfo info(target);
    const QString dir = info.absolutePath();
    const QString temp = dir + QStringLiteral("/.") + info.fileName() +
                         QStringLiteral(".%1-%2.part").arg(::getpid()).arg(++g_tempCounter);
    const std::string t = os(temp), p = os(target);
    const bool journaled = journal::covers(p);
    const bool scratch = !journaled && isScratch(dir);
    if (!journal::willCreate(t))
        return failWith(error, target, QStringLiteral("cannot record the change"));
    const int fd = fio::open(t.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return failWith(error, target, QStringLiteral("cannot create"));
    struct stat old;
    if (::stat(p.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    bool ok = true;
    QString what = QStringLiteral("cannot write");
    if (!source.isOpen() && !source.open(QIODevice::ReadOnly)) {
        errno = EIO;
        ok = false;
        what = QStringLiteral("source cannot be read");
    }
    // Sized by what the source says it holds: small files are the common case.
    const qint64 known = source.isSequential() ? source.bytesAvailable() : source.size() - source.pos();
    const qint64 blockSize = known > 0 ? qMin<qint64>(known, 1 << 20) : (1 << 20);
    const std::unique_ptr<char[]> block(new char[static_cast<size_t>(blockSize)]);
    while (ok) {
        const qint64 n = source.read(block.get(), blockSize);
        if (n < 0) {
            errno = EIO;
            ok = false;
            what = QStringLiteral("source cannot be read");
        }
        if (n <= 0)
            break;
        ok = fio::writeAll(fd, block.get(), n);
    }
    // Under a journal the change is synced once, at its commit.
    if (ok && !journaled && !scratch && fio::fsync(fd) != 0) {
        ok = false;
        what = QStringLiteral("cannot sync");
    }
    const int savedErrno = errno;
    if (fio::close(fd) != 0 && ok) {
        ok = false;
        what = QStringLiteral("cannot close");
    } else {
        errno = savedErrno;
    }
    if (ok && !journal::willReplace(p)) {
        ok = false;
        what = QStringLiteral("cannot record the change");
    }
    if (ok && fio::rename(t.c_str(), p.c_str()) != 0) {
        ok = false;
        what = QStringLiteral("cannot replace");
    }
    if (!ok) {
        const int e = errno;
        ::unlink(t.c_str());
        errno = e;
        return failWith(error, target, what);
    }
    if (journaled) {
        journal::touched(p);
        journal::touchedDir(os(dir));
    } else if (!scratch && !fio::syncDir(os(dir).c_str())) {
        return failWith(error, dir, QStringLiteral("cannot sync the folder"));
    }
    return true;
}

bool WriteFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    QBuffer buffer;
    buffer.setData(data); // shares the bytes
    buffer.open(QIODevice::ReadOnly);
    return WriteFileAtomic(path, buffer, error);
}

bool CopyFileChecked(const QString& from, const QString& to, QString* error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        errno = ENOENT;
        return failWith(error, from, QStringLiteral("cannot be read"));
    }
    return WriteFileAtomic(to, source, error);
}

bool RemoveFileChecked(const QString& path, QString* error)
{
    const std::string p = os(absolute(path));
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0)
        return errno == ENOENT || failWith(error, path, QStringLiteral("cannot be removed"));
    const bool ok = journal::covers(p) ? journal::removeInto(p) : fio::unlink(p.c_str()) == 0;
    return ok || failWith(error, path, QStringLiteral("cannot be removed"));
}

bool RenameFileChecked(const QString& from, const QString& to, QString* error)
{
    const std::string f = os(absolute(from)), t = os(absolute(to));
    if (!journal::willReplace(f) || !journal::willReplace(t))
        return failWith(error, to, QStringLiteral("cannot record the change"));
    if (fio::rename(f.c_str(), t.c_str()) == 0) {
        journal::touchedDir(os(QFileInfo(absolute(from)).absolutePath()));
        journal::touchedDir(os(QFileInfo(absolute(to)).absolutePath()));
        return true;
    }
    if (errno != EXDEV)
        return failWith(error, to, QStringLiteral("cannot be moved here"));
    return CopyFileChecked(from, to, error) && RemoveFileChecked(from, error);
}

bool MakeDirChecked(const QString& path, QString* error)
{
    const QString dir = absolute(path);
    if (QFileInfo(dir).isDir())
        return true;
    const QString parent = QFileInfo(dir).absolutePath();
    if (parent != dir && !MakeDirChecked(parent, error))
        return false;
    const std::string d = os(dir);
    if (!journal::willMakeDir(d))
        return failWith(error, dir, QStringLiteral("cannot record the change"));
    if (fio::mkdir(d.c_str(), 0777) != 0 && errno != EEXIST)
        return failWith(error, dir, QStringLiteral("cannot create the folder"));
    return true;
}

bool RemoveDirChecked(const QString& path, QString* error)
{
    const std::string d = os(absolute(path));
    if (!journal::willRemoveDir(d))
        return failWith(error, path, QStringLiteral("cannot record the change"));
    return fio::rmdir(d.c_str()) == 0 || failWith(error, path, QStringLiteral("cannot remove"));
}

void SetScratchFolder(const QString& dir)
{
    g_scratch = dir.isEmpty() ? QString() : absolute(dir);
}
