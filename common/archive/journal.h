// The change journal: one all-or-nothing change of the files below a root folder
// (a game directory), across crashes, kills and power loss. No Qt.
//
// Before a file is changed, what the change destroys goes into the journal: its
// length, the original bytes of every region rewritten in place or cut off, a
// link to (or copy of) a file that is replaced or removed, the names of files and
// folders that are new. The journal is synced before the first destructive step
// after each new record. commit() syncs every changed file and folder once and
// then deletes the journal's index: that deletion is the commit point. A journal
// found later (after a crash) is rolled back by recover().
//
// Layout of a journal folder: "index" (checksummed records, append only), "data"
// (saved regions) and "b<n>" (kept whole files).
//
// One journal is open per process at a time; a nested begin() joins the open one
// and only the outermost commit() or rollback() takes effect. Paths outside the
// root are not journaled. The hooks are no-ops while no journal is open.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace journal {

// Opens a journal for changes below `root` (absolute paths, either separator).
// A leftover journal in `journalDir` must have been recovered first.
bool begin(const std::string& journalDir, const std::string& root, std::string* error);
bool active();
// The root of the open journal (normalised, "/" separators), empty when none is open.
std::string root();
// The outermost commit makes the change durable and deletes the journal; when
// that fails, the change is rolled back and false returned.
bool commit(std::string* error);
// Undoes everything recorded since the outermost begin().
bool rollback(std::string* error);

// --- Kept journals: what a committed change destroyed, for undoing it later ---
// The outermost commit of the open journal keeps it instead of deleting it: the
// index is renamed "records" (still the commit point) and the folder moved to
// `keepAs` (on the same file system). Nothing is kept for a change that changed nothing.
void keepOnCommit(const std::string& keepAs);
// Where the last commit kept its journal; empty when it kept none.
std::string lastKept();
// The records of a kept journal: type letter ('N' new file, 'T' length, 'R'
// region, 'B' kept file, 'D' new folder, 'E' removed folder) and root-relative
// name; 'T' gives the length before the change in `length`, 'R' the saved region.
struct KeptRecord
{
    char type = 0;
    std::string name;
    int64_t offset = 0, length = 0;
};
bool keptRecords(const std::string& keptDir, std::vector<KeptRecord>* out, std::string* error);
// The files the last kept commit changed in place, as they were before its first
// write to each: length, modification time and inode. Not stored in the journal.
struct BeforeState
{
    std::string name;
    int64_t length = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    uint64_t inode = 0;
};
std::vector<BeforeState> lastKeptBefore();
// Applies a kept journal backwards, as a roll-back would, but as steps of the open
// journal (which saves what they destroy). The kept folder is left as it was:
// files come back as links to (or copies of) its files.
bool revert(const std::string& keptDir, std::string* error);
// Rolls back a journal left in `journalDir` (after a crash). Returns 0 when there
// was none (or only a committed remainder), 1 when it was rolled back, -1 when
// the roll-back failed (the journal stays for the next try). `report` says what.
// What a failed roll-back met, for a message in the user's language.
struct RecoverFailure
{
    bool notRemoved = false; // rolled back, but the journal could not be removed
    std::string journal;     // the journal folder
    std::string file;        // otherwise: the first file that could not be put back
    int error = 0;           // and the system's error number for it
};
int recover(const std::string& journalDir, const std::string& root, std::string* report,
            RecoverFailure* failure = nullptr);

// --- Hooks for the writers (false, errno set, when the journal cannot record) ---
// A file that does not exist yet will be created at `path`.
bool willCreate(const std::string& path);
// An existing file kept in place will be written; `fd` is open on it.
bool willChange(const std::string& path, int fd);
// Bytes [offset, offset + length) of an existing file will be overwritten in place.
bool willOverwrite(const std::string& path, int fd, int64_t offset, int64_t length);
// The file will be cut to newLength.
bool willTruncate(const std::string& path, int fd, int64_t newLength);
// The file at `path` will be replaced (renamed over) or removed: a link to it (a
// copy where links fail) is kept. No-op when it does not exist.
bool willReplace(const std::string& path);
// Removes the file by moving it into the journal. True when it is gone. While a
// journal is open, a path outside its root (also through "..", or a folder link
// that leads out) is refused with EPERM and nothing is removed.
bool removeInto(const std::string& path);
// A folder that does not exist yet will be created.
bool willMakeDir(const std::string& path);
// An empty folder will be removed.
bool willRemoveDir(const std::string& path);
// The file (or the folder) changed and must be synced at commit.
void touched(const std::string& path);
void touchedDir(const std::string& path);
// A write below the root failed somewhere a caller may not look: the change
// can no longer commit, whatever the caller does next.
void poison(const std::string& path, const std::string& why);
// True when `path` is journaled (a journal is open and the path is below its root).
bool covers(const std::string& path);

} // namespace journal
