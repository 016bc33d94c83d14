#include "fileio.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fio {
namespace {

long g_count = 0;
long g_faultAt = 0; // in counted calls of the fault's kinds, from injection on
unsigned g_faultKinds = 0;
int g_faultError = 0;
long g_faultSeen = 0;
bool g_fired = false;
long g_killAt = 0; // absolute count at which killAt() kills, 0 none
std::vector<std::string>* g_syncLog = nullptr;

long killPoint()
{
    static const long point = [] {
        const char* v = std::getenv("VEGA_FIO_KILL_AT");
        return v ? std::strtol(v, nullptr, 10) : 0L;
    }();
    return point;
}

// Counts one call; false (errno set) when the injected fault hits it.
bool pass(Kind kind)
{
    ++g_count;
    if (const long k = killPoint(); (k > 0 && g_count == k) || g_count == g_killAt)
        ::raise(SIGKILL);
    if (g_faultAt > 0 && (g_faultKinds & kind)) {
        if (++g_faultSeen == g_faultAt) {
            g_faultAt = 0;
            g_fired = true;
            errno = g_faultError;
            return false;
        }
    }
    return true;
}

} // namespace

ssize_t write(int fd, const void* buffer, size_t count)
{
    return pass(Write) ? ::write(fd, buffer, count) : -1;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset)
{
    return pass(Write) ? ::pwrite(fd, buffer, count, offset) : -1;
}

int fsync(int fd)
{
    if (!pass(Sync))
        return -1;
    if (g_syncLog) {
        char link[64];
        char target[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = ::readlink(link, target, sizeof target);
        if (n > 0 && n < static_cast<ssize_t>(sizeof target))
            g_syncLog->emplace_back(target, static_cast<size_t>(n));
    }
    return ::fsync(fd);
}

int ftruncate(int fd, off_t length)
{
    return pass(Truncate) ? ::ftruncate(fd, length) : -1;
}

int rename(const char* from, const char* to)
{
    return pass(Rename) ? ::rename(from, to) : -1;
}

int unlink(const char* path)
{
    return pass(Remove) ? ::unlink(path) : -1;
}

int rmdir(const char* path)
{
    return pass(Remove) ? ::rmdir(path) : -1;
}

int mkdir(const char* path, mode_t mode)
{
    return pass(Create) ? ::mkdir(path, mode) : -1;
}

int link(const char* from, const char* to)
{
    return pass(Create) ? ::link(from, to) : -1;
}

int open(const char* path, int flags, mode_t mode)
{
    if ((flags & O_CREAT) && !pass(Create))
        return -1;
    return ::open(path, flags | O_CLOEXEC, mode);
}

int close(int fd)
{
    if (!pass(Close)) {
        const int e = errno;
        ::close(fd); // the descriptor is gone whatever close reports
        errno = e;
        return -1;
    }
    return ::close(fd);
}

int openat(int dirFd, const char* name, int flags, mode_t mode)
{
    if ((flags & O_CREAT) && !pass(Create))
        return -1;
    return ::openat(dirFd, name, flags | O_CLOEXEC, mode);
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    return pass(Rename) ? ::renameat(fromDir, from, toDir, to) : -1;
}

int unlinkat(int dirFd, const char* name, int flags)
{
    return pass(Remove) ? ::unlinkat(dirFd, name, flags) : -1;
}

int mkdirat(int dirFd, const char* name, mode_t mode)
{
    return pass(Create) ? ::mkdirat(dirFd, name, mode) : -1;
}

namespace {

// Retries short writes and EINTR; `put` writes at most n bytes at `done` bytes in.
template <typename Put>
bool writeLoop(const void* buffer, int64_t count, Put put)
{
    const auto* p = static_cast<const unsigned char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = put(p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

bool pwriteAll(int fd, const void* buffer, int64_t count, int64_t offset)
{
    return writeLoop(buffer, count, [&](const unsigned char* p, size_t n, int64_t done) {
        return fio::pwrite(fd, p, n, offset + done);
    });
}

bool writeAll(int fd, const void* buffer, int64_t count)
{
    return writeLoop(buffer, count,
                     [&](const unsigned char* p, size_t n, int64_t) { return fio::write(fd, p, n); });
}

bool syncDir(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fio::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void startWriteback(int fd, int64_t offset, int64_t count)
{
    if (count > 0)
        ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}

void injectFault(long index, int error, unsigned kinds)
{
    g_faultAt = index;
    g_faultKinds = kinds;
    g_faultError = error;
    g_faultSeen = 0;
    g_fired = false;
}

void killAt(long index)
{
    g_killAt = index > 0 ? g_count + index : 0;
}

void clearFault()
{
    injectFault(0, 0, 0);
}

long callCount()
{
    return g_count;
}

void resetCount()
{
    g_count = 0;
}

bool faultFired()
{
    return g_fired;
}

void recordSyncs(std::vector<std::string>* into)
{
    g_syncLog = into;
}

} // namespace fio
