// The file-I/O boundary. Every call that changes a file on disk (the archive
// library, the change journal and the checked whole-file operations) goes
// through here, so that a test can make the Nth such call fail and a harness can
// kill the process at the Nth call. No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace fio {

// Kinds of counted calls, for fault masks.
enum Kind : unsigned {
    Write = 1,    // write, pwrite
    Sync = 2,     // fsync
    Rename = 4,   // rename
    Remove = 8,   // unlink, rmdir
    Truncate = 16,
    Create = 32,  // open with O_CREAT, mkdir, link
    Close = 64,
    AllKinds = 0x7f,
};

ssize_t write(int fd, const void* buffer, size_t count);
ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset);
int fsync(int fd);
int ftruncate(int fd, off_t length);
int rename(const char* from, const char* to);
int unlink(const char* path);
int rmdir(const char* path);
int mkdir(const char* path, mode_t mode);
int link(const char* from, const char* to);
// Counted as Create only when flags hold O_CREAT.
int open(const char* path, int flags, mode_t mode = 0666);
int close(int fd);
// The same calls relative to an open folder (no link is followed by the caller's flags).
int openat(int dirFd, const char* name, int flags, mode_t mode = 0666);
int renameat(int fromDir, const char* from, int toDir, const char* to);
int unlinkat(int dirFd, const char* name, int flags);
int mkdirat(int dirFd, const char* name, mode_t mode);

// Whole-buffer helpers over the calls above, retrying short writes and EINTR.
// False with errno set on failure.
bool pwriteAll(int fd, const void* buffer, int64_t count, int64_t offset);
bool writeAll(int fd, const void* buffer, int64_t count);
// fsync of a folder (a rename or a new name inside it becomes durable).
bool syncDir(const char* path);
// Starts writing [offset, offset + count) of fd to disk without waiting for it, so
// that the fsync at the end of a large write finds most of it written while the
// copy went on. A hint: not counted, changes nothing, and a write-back error is
// still reported by that fsync (nothing waits here, so nothing consumes it).
void startWriteback(int fd, int64_t offset, int64_t count);
// Bytes written between two such hints by the large copies.
constexpr int64_t kWritebackStep = int64_t(8) << 20;

// --- Test seam ---
// The index-th counted call of one of `kinds` from now on (1-based) fails with
// `error` and changes nothing. One fault at a time; 0 clears it.
void injectFault(long index, int error, unsigned kinds = AllKinds);
void clearFault();
// Counted calls since the last reset, of any kind.
long callCount();
void resetCount();
// True once the injected fault fired.
bool faultFired();
// From now on the path of every file or folder synced is added to `into`, as the
// system names it (links resolved); null stops it. Where the system cannot name
// an open file, nothing is added.
void recordSyncs(std::vector<std::string>* into);

// The index-th counted call from now on (1-based) kills the process with SIGKILL
// before it is made; 0 clears it. For a forked test child.
void killAt(long index);

// The kill-point harness sets VEGA_FIO_KILL_AT=N in a child's environment: the
// child kills itself with SIGKILL at its Nth counted call, before making it.

} // namespace fio
