#include "safefile.h"

#include "fileio.h"
#include "journal.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

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

QString g_scratch;
std::vector<std::string> g_confining;

struct Batch
{
    std::set<std::string> files, dirs;
};
Batch* g_batch = nullptr;

bool isScratch(const QString& dir)
{
    return !g_scratch.isEmpty() &&
           (dir == g_scratch || dir.startsWith(g_scratch + QLatin1Char('/')));
}

bool below(const std::string& path, const std::string& root)
{
    return root.size() > 1 && path.size() > root.size() + 1 &&
           path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

// The innermost confining folder that holds `path`, empty when none does.
std::string confiningRoot(const std::string& path)
{
    std::string best = journal::root();
    if (!below(path, best))
        best.clear();
    for (const std::string& r : g_confining)
        if (below(path, r) && r.size() > best.size())
            best = r;
    return best;
}

// The error a link inside a confining folder gives.
constexpr int kLinkRefused = ELOOP;

// Opens the folder `dir` (absolute and clean). Below a confining folder every part
// is opened from that folder on without following a link; -1 with errno set.
int openDir(const std::string& dir)
{
    const std::string root = confiningRoot(dir + "/x");
    if (root.empty() || root == dir)
        return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t at = root.size() + 1;
    while (fd >= 0 && at <= dir.size()) {
        size_t end = dir.find('/', at);
        if (end == std::string::npos)
            end = dir.size();
        const std::string part = dir.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".")
            continue;
        int next = -1;
        if (part == "..")
            errno = kLinkRefused;
        else
            next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOTDIR) {
            // O_NOFOLLOW on a link gives ELOOP on Linux; elsewhere it may say "not a folder".
            struct stat st;
            if (::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                errno = kLinkRefused;
        }
        const int e = errno;
        ::close(fd);
        errno = e;
        fd = next;
    }
    return fd;
}

QString folderFailure()
{
    return errno == kLinkRefused
               ? QStringLiteral("a link inside the folder leads elsewhere; nothing is written through it")
               : QStringLiteral("cannot open the folder");
}

class DirFd
{
public:
    explicit DirFd(const std::string& dir) : fd(openDir(dir)) {}
    ~DirFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    const int fd;
};

// An unpredictable scratch name beside `leaf`, within a file system's name length.
std::string scratchName(const std::string& leaf)
{
    const quint64 r = QRandomGenerator::system()->generate64();
    return "." + leaf.substr(0, 200) + "." + QByteArray::number(r, 16).toStdString() + ".part";
}

} // namespace

bool WriteFileAtomic(const QString& path, QIODevice& source, QString* error)
{
    const QString target = absolute(path);
    const QFileInfo info(target);
    const QString dir = info.absolutePath();
    const std::string d = os(dir), leaf = os(info.fileName()), p = os(target);
    const std::string name = scratchName(leaf), t = d + "/" + name;
    const bool journaled = journal::covers(p);
    const bool scratch = !journaled && isScratch(dir);
    const bool batched = !journaled && !scratch && g_batch;
    const DirFd folder(d);
    if (folder.fd < 0)
        return failWith(error, target,
                        errno == kLinkRefused ? folderFailure() : QStringLiteral("cannot create"));
    if (!journal::willCreate(t))
        return failWith(error, target, QStringLiteral("cannot record the change"));
    const int fd =
        fio::openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd < 0)
        return failWith(error, target, QStringLiteral("cannot create"));
    // The mode of the file replaced, set on the new file itself (a link is not one).
    struct stat old;
    if (::fstatat(folder.fd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 0777);
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
    qint64 written = 0, handedOver = 0;
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
        written += n;
        // A file that is synced later goes to disk while the copy goes on.
        if (ok && !scratch && written - handedOver >= fio::kWritebackStep) {
            fio::startWriteback(fd, handedOver, written - handedOver);
            handedOver = written;
        }
    }
    // Under a journal the change is synced once, at its commit; in a batch, at its end.
    if (ok && !journaled && !scratch && !batched && fio::fsync(fd) != 0) {
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
    if (ok && fio::renameat(folder.fd, name.c_str(), folder.fd, leaf.c_str()) != 0) {
        ok = false;
        what = QStringLiteral("cannot replace");
    }
    if (!ok) {
        const int e = errno;
        ::unlinkat(folder.fd, name.c_str(), 0);
        errno = e;
        return failWith(error, target, what);
    }
    if (journaled) {
        journal::touched(p);
        journal::touchedDir(d);
    } else if (batched) {
        g_batch->files.insert(p);
        g_batch->dirs.insert(d);
    } else if (!scratch && fio::fsync(folder.fd) != 0) {
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
    const QString full = absolute(path);
    const std::string p = os(full), leaf = os(QFileInfo(full).fileName());
    const DirFd folder(os(QFileInfo(full).absolutePath()));
    if (folder.fd < 0)
        return errno == ENOENT || failWith(error, path, folderFailure());
    struct stat st;
    if (::fstatat(folder.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || failWith(error, path, QStringLiteral("cannot be removed"));
    // The journal moves the file by its name; the folder was just checked link-free.
    const bool ok = journal::covers(p) ? journal::removeInto(p)
                                       : fio::unlinkat(folder.fd, leaf.c_str(), 0) == 0;
    return ok || failWith(error, path, QStringLiteral("cannot be removed"));
}

bool RenameFileChecked(const QString& from, const QString& to, QString* error)
{
    const QString f = absolute(from), t = absolute(to);
    const DirFd fromDir(os(QFileInfo(f).absolutePath()));
    if (fromDir.fd < 0)
        return failWith(error, from, folderFailure());
    const DirFd toDir(os(QFileInfo(t).absolutePath()));
    if (toDir.fd < 0)
        return failWith(error, to, folderFailure());
    if (!journal::willReplace(os(f)) || !journal::willReplace(os(t)))
        return failWith(error, to, QStringLiteral("cannot record the change"));
    if (fio::renameat(fromDir.fd, os(QFileInfo(f).fileName()).c_str(), toDir.fd,
                      os(QFileInfo(t).fileName()).c_str()) == 0) {
        journal::touchedDir(os(QFileInfo(f).absolutePath()));
        journal::touchedDir(os(QFileInfo(t).absolutePath()));
        return true;
    }
    if (errno != EXDEV)
        return failWith(error, to, QStringLiteral("cannot be moved here"));
    return CopyFileChecked(from, to, error) && RemoveFileChecked(from, error);
}

bool MakeDirChecked(const QString& path, QString* error)
{
    const QString dir = absolute(path);
    const std::string d = os(dir);
    {
        const DirFd existing(d);
        if (existing.fd >= 0)
            return true;
        if (errno != ENOENT)
            return failWith(error, dir, folderFailure());
    }
    const QString parent = QFileInfo(dir).absolutePath();
    if (parent != dir && !MakeDirChecked(parent, error))
        return false;
    const DirFd up(os(parent));
    if (up.fd < 0)
        return failWith(error, dir, folderFailure());
    if (!journal::willMakeDir(d))
        return failWith(error, dir, QStringLiteral("cannot record the change"));
    if (fio::mkdirat(up.fd, os(QFileInfo(dir).fileName()).c_str(), 0777) != 0 && errno != EEXIST)
        return failWith(error, dir, QStringLiteral("cannot create the folder"));
    return true;
}

bool RemoveDirChecked(const QString& path, QString* error)
{
    const QString dir = absolute(path);
    const std::string d = os(dir);
    const DirFd up(os(QFileInfo(dir).absolutePath()));
    if (up.fd < 0)
        return failWith(error, path, folderFailure());
    if (!journal::willRemoveDir(d))
        return failWith(error, path, QStringLiteral("cannot record the change"));
    return fio::unlinkat(up.fd, os(QFileInfo(dir).fileName()).c_str(), AT_REMOVEDIR) == 0 ||
           failWith(error, path, QStringLiteral("cannot remove"));
}

int OpenRegularFile(const QString& path, qint64 cap, QString* error)
{
    const auto refuse = [&](const QString& why, int e) {
        if (error)
            *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
        errno = e;
        return -1;
    };
    // Non-blocking, so that a FIFO does not hold the program until someone writes to it.
    const int fd = ::open(os(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        return refuse(QStringLiteral("cannot be opened (%1)").arg(QString::fromLocal8Bit(std::strerror(e))), e);
    }
    struct stat st;
    QString why;
    if (::fstat(fd, &st) != 0)
        why = QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    else if (!S_ISREG(st.st_mode))
        why = QStringLiteral("is not a regular file; refused");
    else if (st.st_size > cap)
        why = QStringLiteral("is larger than %1 bytes, the limit for this file; refused").arg(cap);
    if (!why.isEmpty()) {
        ::close(fd);
        return refuse(why, EINVAL);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool ReadRegularFile(const QString& path, qint64 cap, QByteArray* bytes, QString* error)
{
    bytes->clear();
    const int fd = OpenRegularFile(path, cap, error);
    if (fd < 0)
        return false;
    // Read to at most one byte past the cap: a file that grew since is refused too.
    QByteArray out;
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            if (error)
                *error = QDir::toNativeSeparators(path) + QStringLiteral(": cannot be read (%1)")
                                                              .arg(QString::fromLocal8Bit(std::strerror(e)));
            errno = e;
            return false;
        }
        if (n == 0)
            break;
        out.append(block, n);
        if (out.size() > cap) {
            ::close(fd);
            if (error)
                *error = QDir::toNativeSeparators(path) +
                         QStringLiteral(": is larger than %1 bytes, the limit for this file; refused").arg(cap);
            errno = EINVAL;
            return false;
        }
    }
    ::close(fd);
    *bytes = out;
    return true;
}

void SetScratchFolder(const QString& dir)
{
    g_scratch = dir.isEmpty() ? QString() : absolute(dir);
}

ConfinedFolder::ConfinedFolder(const QString& dir)
{
    // The folder itself may be reached through links; only what lies below it is confined.
    const QString real = QFileInfo(dir).canonicalFilePath();
    g_confining.push_back(os(real.isEmpty() ? absolute(dir) : real));
    // Paths are compared as given too, so a caller that names the folder through a link is covered.
    g_confining.push_back(os(absolute(dir)));
}

ConfinedFolder::~ConfinedFolder()
{
    g_confining.pop_back();
    g_confining.pop_back();
}

BatchedSync::BatchedSync()
{
    if (!g_batch) {
        g_batch = new Batch;
        m_owner = true;
    }
}

BatchedSync::~BatchedSync()
{
    finish();
}

bool BatchedSync::finish(QString* error)
{
    if (!m_owner || !g_batch)
        return true;
    m_owner = false;
    Batch* b = g_batch;
    g_batch = nullptr;
    bool ok = true;
    // Write-back of every file starts first, so the waits below overlap.
    std::vector<int> fds;
    fds.reserve(b->files.size());
    for (const std::string& f : b->files) {
        const int fd = ::open(f.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue; // replaced or removed since: nothing of ours to sync
#ifdef __linux__
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        fds.push_back(fd);
        if (fds.size() >= 256) {
            for (int x : fds) {
                if (ok && fio::fsync(x) != 0)
                    ok = failWith(error, QFile::decodeName(f.c_str()), QStringLiteral("cannot sync"));
                ::close(x);
            }
            fds.clear();
        }
    }
    for (int x : fds) {
        if (ok && fio::fsync(x) != 0)
            ok = failWith(error, QStringLiteral("a written file"), QStringLiteral("cannot sync"));
        ::close(x);
    }
    for (const std::string& d : b->dirs)
        if (ok && !fio::syncDir(d.c_str()))
            ok = failWith(error, QFile::decodeName(d.c_str()), QStringLiteral("cannot sync the folder"));
    delete b;
    return ok;
}
