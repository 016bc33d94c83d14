// Catalogue/data pairs, loose files and the registries of open objects.
#include "arc.h"
#include "arc_gzip.h"

#include "fileio.h"
#include "journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <unordered_map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Catalog;

struct Entry
{
    std::string name;  // backslashes, as listed
    std::string lname; // lower-cased, for lookups
    int64_t offset = 0;
    int64_t size = 0;
};

struct FileObject
{
    int refs = 0;
    int writers = 0;
    int handles = 0;
    Catalog* catalog = nullptr;
    std::vector<unsigned char> buffer; // memory files; size() is the capacity
    int64_t length = 0;
    int64_t stored = 0;
    bool modified = false;
    int64_t mtime = -1;
    int error = ARC_OK;
    int fd = -1;
    std::string fullName; // "<cat>::<entry>" or the disk path (backslashes)
    std::string os;       // disk files: the operating-system path
    std::string key;      // lower-cased fullName
    std::string entryName;
    int flags = 0;
    bool streaming = false; // stands for an open ArcStream: counts as a reader, holds no data
    // A memory file written past kSpillAt keeps its bytes [0, length) in this unnamed
    // scratch file instead of `buffer`, so that writing a large entry holds no copy of it.
    int spillFd = -1;
};

// Memory files grow in memory up to this, and in a scratch file beyond it.
constexpr int64_t kSpillAt = int64_t(8) << 20;
// Blocks in which spilled bytes are moved.
constexpr int64_t kSpillBlock = int64_t(1) << 20;

struct Catalog
{
    std::vector<Entry> entries;
    std::string path; // full .cat path (backslashes)
    std::string catOs, datOs; // operating-system paths, for the change journal
    std::string key;
    std::string datLine;
    int catFd = -1;
    int datFd = -1;
    int error = ARC_OK;
    int refs = 0;
    bool modified = false;
    bool readOnly = false;
    int64_t total = 0;     // sum of all entry sizes
    int64_t committed = 0; // sum of the sizes that the catalogue on disk lists
    int64_t fillerSeq = 0; // highest filler number in use
    bool datDirty = false; // data written since the last sync
    // First position of each lower-cased name, so that opening one entry of a
    // catalogue of many is not a walk through all of them. Appends keep it up to
    // date; anything that shifts or renames entries marks it stale, and the next
    // lookup rebuilds it.
    mutable std::unordered_map<std::string, size_t> index;
    mutable bool indexStale = true;
};

struct Token
{
    enum Kind { Literal, One, Any } kind;
    std::string text;
};

std::unordered_map<std::string, Catalog*>& catalogs()
{
    static std::unordered_map<std::string, Catalog*> registry;
    return registry;
}

std::unordered_map<std::string, std::vector<FileObject*>>& files()
{
    static std::unordered_map<std::string, std::vector<FileObject*>> registry;
    return registry;
}

int g_lastError = ARC_OK;
int g_lastErrno = 0;

int fail(int code)
{
    // The system's reason for a failed call (a full disk, an I/O error) goes with it.
    g_lastErrno = code == ARC_E_INTERNAL ? errno : 0;
    g_lastError = code;
    return code;
}

// XORs every byte with `key`: data files are scrambled byte by byte. Written as
// 32-byte blocks so that the compiler turns it into vector instructions at -O2.
void xorBytes(unsigned char* p, size_t n, unsigned char key)
{
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        unsigned char v[32];
        std::memcpy(v, p + i, 32);
        for (unsigned char& b : v)
            b ^= key;
        std::memcpy(p + i, v, 32);
    }
    for (; i < n; ++i)
        p[i] ^= key;
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int errnoCode(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return ARC_E_NOFILE;
    case EACCES:
    case EPERM:
    case EROFS:
    case EWOULDBLOCK:
        return ARC_E_ACCESS;
    case EEXIST:
        return ARC_E_EXISTS;
    default:
        return ARC_E_OPEN;
    }
}

// Absolute, lexically normalised path with backslashes; false when it cannot be formed.
bool fullPath(const char* in, std::string& out)
{
    if (!in || !*in)
        return false;
    std::string p(in);
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return false;
        p = std::string(cwd) + "/" + p;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos)
            j = p.size();
        std::string part = p.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    out.clear();
    for (const std::string& part : parts)
        out += "\\" + part;
    if (out.empty())
        out = "\\";
    return true;
}

// The operating-system form of a library path. The game comes from a
// case-insensitive file system, so a component that does not exist as spelled is
// matched case-insensitively against the directory's contents.
std::string osPath(const std::string& path)
{
    std::string p = path;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    struct stat st;
    if (::stat(p.c_str(), &st) == 0)
        return p;
    std::string resolved;
    size_t i = 1;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos)
            j = p.size();
        const std::string part = p.substr(i, j - i);
        std::string candidate = resolved + "/" + part;
        if (::stat(candidate.c_str(), &st) != 0) {
            if (DIR* dir = opendir(resolved.empty() ? "/" : resolved.c_str())) {
                const std::string want = lower(part);
                while (dirent* d = readdir(dir)) {
                    if (lower(d->d_name) == want) {
                        candidate = resolved + "/" + d->d_name;
                        break;
                    }
                }
                closedir(dir);
            }
        }
        resolved = std::move(candidate);
        i = j + 1;
    }
    return resolved.empty() ? p : resolved;
}

// Opens with the sharing rule of the game's platform: readers deny writers,
// writers deny everybody. A refused lock is "access denied".
int osOpen(const std::string& path, int flags, bool exclusive, int& code,
           bool* lockRefused = nullptr)
{
    if (lockRefused)
        *lockRefused = false;
    const int fd = fio::open(osPath(path).c_str(), flags, 0666);
    if (fd < 0) {
        code = errnoCode(errno);
        return -1;
    }
    if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        ::close(fd);
        code = ARC_E_ACCESS;
        if (lockRefused)
            *lockRefused = true;
        return -1;
    }
    code = ARC_OK;
    return fd;
}

bool preadAll(int fd, unsigned char* buf, int64_t count, int64_t offset)
{
    while (count > 0) {
        const ssize_t n =
            ::pread(fd, buf, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        count -= n;
        offset += n;
    }
    return true;
}

bool pwriteAll(int fd, const unsigned char* buf, int64_t count, int64_t offset)
{
    while (count > 0) {
        const ssize_t n =
            fio::pwrite(fd, buf, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        count -= n;
        offset += n;
    }
    return true;
}

// Data-file bytes are stored XORed with a constant; writes go through a bounded
// scratch buffer so that large entries are not copied whole.
bool writeScrambled(int fd, const unsigned char* data, int64_t count, int64_t offset)
{
    constexpr int64_t kChunk = 1 << 20;
    // Not zeroed: every byte is written before it is used.
    const std::unique_ptr<unsigned char[]> scratch(
        new unsigned char[static_cast<size_t>(std::max<int64_t>(1, std::min(count, kChunk)))]);
    while (count > 0) {
        const int64_t n = std::min(count, kChunk);
        std::memcpy(scratch.get(), data, static_cast<size_t>(n));
        xorBytes(scratch.get(), static_cast<size_t>(n), ARC_DAT_XOR);
        if (!pwriteAll(fd, scratch.get(), n, offset))
            return false;
        data += n;
        count -= n;
        offset += n;
    }
    return true;
}

// Copies `count` bytes of the data file from `from` to `to`: ranges that do not
// overlap, or a move down (to < from).
int copyRange(int fd, int64_t from, int64_t to, int64_t count)
{
    if (count <= 0)
        return ARC_OK;
    std::vector<unsigned char> buf;
    try {
        buf.resize(static_cast<size_t>(std::min(count, ARC_MOVE_CHUNK)));
    } catch (const std::bad_alloc&) {
        return ARC_E_NOMEM;
    }
    while (count > 0) {
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(buf.size()));
        if (!preadAll(fd, buf.data(), n, from) || !pwriteAll(fd, buf.data(), n, to))
            return ARC_E_INTERNAL;
        from += n;
        to += n;
        count -= n;
    }
    return ARC_OK;
}

int64_t findEntry(const Catalog* c, const std::string& lname)
{
    if (c->indexStale) {
        c->index.clear();
        c->index.reserve(c->entries.size());
        for (size_t i = 0; i < c->entries.size(); ++i)
            c->index.emplace(c->entries[i].lname, i); // keeps the first of equal names
        c->indexStale = false;
    }
    const auto it = c->index.find(lname);
    return it == c->index.end() ? -1 : static_cast<int64_t>(it->second);
}

// Adds an entry at the end of the list, keeping the name index.
void appendEntry(Catalog* c, Entry e)
{
    if (!c->indexStale)
        c->index.emplace(e.lname, c->entries.size());
    c->entries.push_back(std::move(e));
}

// Positions or names changed: the index is rebuilt at the next lookup.
void entriesReordered(Catalog* c)
{
    c->indexStale = true;
    c->index.clear();
}

// A change under the journal is synced once, at its commit; otherwise now.
bool syncOrDefer(const std::string& os, int fd)
{
    if (journal::covers(os)) {
        journal::touched(os);
        return true;
    }
    return fio::fsync(fd) == 0;
}

std::string baseName(const std::string& path);

// --- Fillers ---
// The game finds an entry's data by adding up the sizes listed before it, so bytes
// that no entry owns any more stay listed, under a name of the mod's own, until a
// compaction drops them.
constexpr char kFillerName[] = "Hullwright\\unused\\";
constexpr size_t kFillerPrefix = sizeof kFillerName - 1;
// The kill-point harness lowers it through the environment to reach compaction.
int64_t g_compactMin = [] {
    const char* v = std::getenv("VEGA_ARC_COMPACT_MIN");
    const long long n = v ? std::strtoll(v, nullptr, 10) : 0;
    return n > 0 ? static_cast<int64_t>(n) : ARC_DEFAULT_COMPACT_MIN;
}();

bool isFillerName(const std::string& lname)
{
    static const std::string prefix = lower(kFillerName);
    return lname.size() > kFillerPrefix && lname.compare(0, kFillerPrefix, prefix) == 0;
}

bool isFiller(const Entry& e)
{
    return isFillerName(e.lname);
}

int64_t fillerBytes(const Catalog* c)
{
    int64_t n = 0;
    for (const Entry& e : c->entries)
        if (isFiller(e))
            n += e.size;
    return n;
}

// Entry idx gives its bytes up: it becomes a filler of the same size, merged with
// filler neighbours; an empty entry simply goes.
void makeFiller(Catalog* c, size_t idx)
{
    auto& v = c->entries;
    entriesReordered(c);
    if (v[idx].size == 0) {
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(idx));
        return;
    }
    if (!isFiller(v[idx])) {
        v[idx].name = kFillerName + std::to_string(++c->fillerSeq);
        v[idx].lname = lower(v[idx].name);
    }
    if (idx + 1 < v.size() && isFiller(v[idx + 1])) {
        v[idx].size += v[idx + 1].size;
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(idx) + 1);
    }
    if (idx > 0 && isFiller(v[idx - 1])) {
        v[idx - 1].size += v[idx].size;
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(idx));
    }
}

std::string parentDir(const std::string& os)
{
    const size_t slash = os.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : os.substr(0, slash);
}

uint64_t scratchNumber()
{
    static uint64_t seq = 0;
    uint64_t r = 0;
    if (const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC); fd >= 0) {
        if (::read(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r))
            r = 0;
        ::close(fd);
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return r ^ (static_cast<uint64_t>(ts.tv_nsec) << 20) ^ (static_cast<uint64_t>(getpid()) << 40) ^
           ++seq;
}

// Replaces the catalogue on disk with the list in memory: the data is synced, the
// text written beside the catalogue, synced and renamed over it. A reader (the
// game, which knows no journal) sees the old list or the new one, and each lists
// only bytes the data file holds, since data is only ever added beyond what the
// listed catalogue describes. Trailing fillers are left out.
int commitCatalog(Catalog* c)
{
    size_t keep = c->entries.size();
    while (keep > 0 && isFiller(c->entries[keep - 1]))
        --keep;
    std::string text = c->datLine + "\n";
    int64_t listed = 0;
    for (size_t i = 0; i < keep; ++i) {
        text += c->entries[i].name + " " + std::to_string(c->entries[i].size) + "\n";
        listed += c->entries[i].size;
    }
    for (char& ch : text)
        if (ch == '\\')
            ch = '/';
    std::vector<unsigned char> bytes(text.begin(), text.end());
    arc_scramble_catalog(bytes.data(), bytes.size());
    const int64_t size = static_cast<int64_t>(bytes.size());

    if (c->datDirty) {
        if (fio::fsync(c->datFd) != 0)
            return ARC_E_INTERNAL;
        c->datDirty = false;
    }
    const std::string dir = parentDir(c->catOs);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(scratchNumber()));
    const std::string scratch = dir + "/." + baseName(c->path) + ".cat." + name;
    if (!journal::willCreate(scratch))
        return ARC_E_INTERNAL;
    const int fd = fio::open(scratch.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd < 0)
        return ARC_E_INTERNAL;
    struct stat old;
    bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 &&
              (c->catFd < 0 || fstat(c->catFd, &old) != 0 || fchmod(fd, old.st_mode & 07777) == 0) &&
              pwriteAll(fd, bytes.data(), size, 0) && fio::fsync(fd) == 0 &&
              journal::willReplace(c->catOs);
    if (ok && fio::rename(scratch.c_str(), c->catOs.c_str()) != 0)
        ok = false;
    if (!ok) {
        const int e = errno;
        ::unlink(scratch.c_str());
        ::close(fd);
        errno = e;
        return ARC_E_INTERNAL;
    }
    if (c->catFd >= 0)
        ::close(c->catFd); // the replaced file
    c->catFd = fd;
    if (keep < c->entries.size()) {
        c->entries.resize(keep);
        entriesReordered(c);
    }
    c->total = listed;
    c->committed = listed;
    c->modified = false;
    if (journal::covers(c->catOs)) {
        journal::touchedDir(dir);
        return ARC_OK;
    }
    return fio::syncDir(dir.c_str()) ? ARC_OK : ARC_E_INTERNAL;
}

// Cuts bytes that no listed entry owns off the end of the data file.
int trimData(Catalog* c)
{
    struct stat st;
    if (fstat(c->datFd, &st) != 0)
        return ARC_E_INTERNAL;
    if (st.st_size <= c->committed)
        return ARC_OK;
    if (!journal::willTruncate(c->datOs, c->datFd, c->committed) ||
        fio::ftruncate(c->datFd, static_cast<off_t>(c->committed)) != 0)
        return ARC_E_INTERNAL;
    journal::touched(c->datOs);
    return ARC_OK;
}

// Reclaims the fillers by moving every entry after the first filler down, in two
// steps that each end in a catalogue commit, so the pair stays valid throughout:
// the entries are first copied past the end (the room they leave is one filler),
// then into that room, and the copies past the end are cut off.
int compact(Catalog* c)
{
    size_t first = 0;
    while (first < c->entries.size() && !isFiller(c->entries[first]))
        ++first;
    if (first == c->entries.size())
        return ARC_OK;
    const int64_t from = c->entries[first].offset;
    const int64_t oldTotal = c->total;
    std::vector<Entry> live;
    int64_t liveSize = 0;
    for (size_t i = first; i < c->entries.size(); ++i) {
        if (!isFiller(c->entries[i])) {
            live.push_back(c->entries[i]);
            liveSize += c->entries[i].size;
        }
    }
    c->entries.resize(first);
    entriesReordered(c);
    Entry room;
    room.name = kFillerName + std::to_string(++c->fillerSeq);
    room.lname = lower(room.name);
    room.offset = from;
    room.size = oldTotal - from;
    c->entries.push_back(room);
    c->modified = true;
    if (!journal::willChange(c->datOs, c->datFd) ||
        !journal::willOverwrite(c->datOs, c->datFd, oldTotal, liveSize))
        return ARC_E_INTERNAL;
    int64_t at = oldTotal;
    for (Entry& e : live) {
        if (const int rc = copyRange(c->datFd, e.offset, at, e.size); rc != ARC_OK)
            return rc;
        e.offset = at;
        at += e.size;
        c->entries.push_back(e);
    }
    c->total = at;
    c->datDirty = true;
    journal::touched(c->datOs);
    if (const int rc = commitCatalog(c); rc != ARC_OK)
        return rc;

    if (!journal::willOverwrite(c->datOs, c->datFd, from, liveSize))
        return ARC_E_INTERNAL;
    if (const int rc = copyRange(c->datFd, oldTotal, from, liveSize); rc != ARC_OK)
        return rc;
    c->entries.resize(first);
    entriesReordered(c);
    at = from;
    for (Entry& e : live) {
        e.offset = at;
        at += e.size;
        c->entries.push_back(e);
    }
    c->total = at;
    c->datDirty = true;
    c->modified = true;
    if (const int rc = commitCatalog(c); rc != ARC_OK)
        return rc;
    return trimData(c);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string dirName(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Stores a changed catalogue and closes it; the code tells whether all was stored.
int destroyCatalog(Catalog* c)
{
    int code = ARC_OK;
    if (c->catFd >= 0 && c->datFd >= 0 && c->modified && !c->readOnly) {
        code = commitCatalog(c);
        if (code == ARC_OK)
            code = trimData(c);
        // Rarely, and only once the room that fillers take outweighs the entries:
        // the copying it costs stays in proportion to the data written before.
        if (const int64_t unused = fillerBytes(c);
            code == ARC_OK && unused >= g_compactMin && unused > c->total - unused)
            code = compact(c);
    }
    if (c->catFd >= 0 && fio::close(c->catFd) != 0 && code == ARC_OK && c->modified)
        code = ARC_E_INTERNAL;
    if (c->datFd >= 0 && fio::close(c->datFd) != 0 && code == ARC_OK && c->modified)
        code = ARC_E_INTERNAL;
    if (code != ARC_OK) {
        journal::poison(c->catOs, "the catalogue could not be stored");
        fail(code);
    }
    delete c;
    return code;
}

int releaseCatalog(Catalog* c)
{
    if (!c || --c->refs > 0)
        return ARC_OK;
    catalogs().erase(c->key);
    return destroyCatalog(c);
}

// Opens (or shares) the catalogue object of a full .cat path; adds a reference.
Catalog* acquireCatalog(const std::string& path, int create, int& code)
{
    const std::string key = lower(path);
    auto it = catalogs().find(key);
    if (it != catalogs().end()) {
        ++it->second->refs;
        code = ARC_OK;
        return it->second;
    }
    auto* c = new Catalog;
    c->path = path;
    c->key = key;
    c->refs = 1;
    const std::string datPath = dirName(path) + "\\" + baseName(path) + ".dat";
    c->catOs = osPath(path);
    c->datOs = osPath(datPath);

    bool lockRefused = false;
    c->catFd = osOpen(path, O_RDWR, true, code, &lockRefused);
    if (c->catFd < 0 && code == ARC_E_ACCESS && !lockRefused) {
        // A read-only install can still be read; every change to it is refused.
        c->catFd = osOpen(path, O_RDONLY, false, code);
        c->readOnly = c->catFd >= 0;
    }
    if (c->catFd < 0 && code == ARC_E_NOFILE && create == 1) {
        // A data file without its catalogue is kept by the journal, not cut in place.
        // The data file comes first: the catalogue appears last, already whole.
        if (!journal::removeInto(c->datOs) || !journal::willCreate(c->datOs))
            code = ARC_E_INTERNAL;
        else
            c->datFd = osOpen(datPath, O_RDWR | O_CREAT | O_TRUNC, true, code);
        if (c->datFd >= 0) {
            c->datLine = baseName(path) + ".dat";
            code = commitCatalog(c);
        }
    } else if (c->catFd >= 0) {
        struct stat st;
        std::vector<unsigned char> text;
        if (fstat(c->catFd, &st) != 0) {
            code = ARC_E_OPEN;
        } else if (st.st_size == 0) {
            code = ARC_E_EMPTY;
        } else if (st.st_size > arc_memory_cap()) {
            code = ARC_E_TOOLARGE;
        } else {
            try {
                text.resize(static_cast<size_t>(st.st_size));
                code = preadAll(c->catFd, text.data(), st.st_size, 0) ? ARC_OK : ARC_E_BADDATA;
            } catch (const std::bad_alloc&) {
                code = ARC_E_NOMEM;
            }
        }
        std::vector<ArcCatalogLine> lines;
        if (code == ARC_OK) {
            arc_scramble_catalog(text.data(), text.size());
            code = arc_parse_catalog_text(reinterpret_cast<const char*>(text.data()), text.size(),
                                          c->datLine, lines);
        }
        if (code == ARC_OK) {
            c->entries.reserve(lines.size());
            for (ArcCatalogLine& l : lines) {
                if (c->total > INT64_MAX / 2 - l.size) {
                    code = ARC_E_ENTRYSIZE;
                    break;
                }
                Entry e;
                e.lname = lower(l.name);
                e.name = std::move(l.name);
                e.offset = c->total;
                e.size = l.size;
                c->total += l.size;
                if (isFiller(e))
                    c->fillerSeq = std::max<int64_t>(
                        c->fillerSeq,
                        std::min<long long>(std::strtoll(e.lname.c_str() + kFillerPrefix, nullptr, 10),
                                            int64_t(1) << 52));
                c->entries.push_back(std::move(e));
            }
            c->committed = c->total;
        }
        if (code == ARC_OK) {
            c->datFd = osOpen(datPath, c->readOnly ? O_RDONLY : O_RDWR, !c->readOnly, code);
            if (c->datFd < 0 && code == ARC_E_NOFILE)
                code = ARC_E_NODAT;
        }
    }
    if (code != ARC_OK || c->catFd < 0 || c->datFd < 0) {
        if (code == ARC_OK)
            code = ARC_E_OPEN;
        c->modified = false;
        destroyCatalog(c);
        fail(code);
        return nullptr;
    }
    catalogs()[key] = c;
    return c;
}

bool splitVirtual(const char* path, std::string& catPath, std::string& entry)
{
    const char* sep = std::strstr(path, "::");
    if (!sep)
        return false;
    catPath.assign(path, sep);
    entry.assign(sep + 2);
    for (char& ch : entry)
        if (ch == '/')
            ch = '\\';
    return true;
}

void registerFile(FileObject* f)
{
    files()[f->key].push_back(f);
}

void unregisterFile(FileObject* f)
{
    auto it = files().find(f->key);
    if (it == files().end())
        return;
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), f), list.end());
    if (list.empty())
        files().erase(it);
}

// The open objects of a full name; null when none.
std::vector<FileObject*>* openObjects(const std::string& key)
{
    auto it = files().find(key);
    return it == files().end() ? nullptr : &it->second;
}

bool ensureCapacity(FileObject* f, int64_t needed)
{
    if (needed <= static_cast<int64_t>(f->buffer.size()))
        return true;
    // Grow geometrically in whole 5120-byte steps so that writing a large file in
    // many pieces stays linear.
    int64_t cap = std::max<int64_t>(needed, static_cast<int64_t>(f->buffer.size()) * 2);
    cap = (cap + 5119) / 5120 * 5120;
    try {
        f->buffer.resize(static_cast<size_t>(cap));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool isMemory(const FileObject* f)
{
    return !(f->flags & ARC_F_DISK) || (f->flags & ARC_F_PACKED);
}

// An unnamed scratch file beside `nearPath` (same file system, gone with the
// process), else in the temporary folder; -1 when neither can be had.
int scratchFile(const std::string& nearPath)
{
    const size_t slash = nearPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : nearPath.substr(0, slash + 1);
#ifdef O_TMPFILE
    int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/arc-spill-XXXXXX";
    int fd2 = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd2 >= 0)
        ::unlink(name.c_str());
    return fd2;
}

// Moves a memory file's bytes into a scratch file; from then on writes go there.
bool spill(FileObject* f)
{
    if (f->spillFd >= 0)
        return true;
    const int fd = scratchFile(f->catalog ? f->catalog->datOs : f->os);
    if (fd < 0)
        return false;
    if (f->length > 0 && !pwriteAll(fd, f->buffer.data(), f->length, 0)) {
        ::close(fd);
        return false;
    }
    f->spillFd = fd;
    std::vector<unsigned char>().swap(f->buffer);
    return true;
}

// What a memory file stores: its bytes as they are, or packed; in memory for small
// files, in a scratch file for spilled ones.
struct StoredForm
{
    const unsigned char* data = nullptr;
    std::vector<unsigned char> packed;
    int fd = -1;       // the bytes are [0, size) of this file instead
    bool ownFd = false;
    int64_t size = 0;
    ~StoredForm()
    {
        if (ownFd)
            ::close(fd);
    }
};

int storedForm(FileObject* f, StoredForm& out)
{
    if (f->spillFd < 0) {
        out.data = f->buffer.data();
        out.size = f->length;
        if (f->flags & ARC_F_PACKED) {
            const int status = arc_pack(f->buffer.data(), static_cast<size_t>(f->length),
                                        static_cast<uint32_t>(f->mtime), out.packed);
            if (status != ARC_GZ_OK)
                return arc_codec_error(status);
            out.data = out.packed.data();
            out.size = static_cast<int64_t>(out.packed.size());
        }
        return ARC_OK;
    }
    if (!(f->flags & ARC_F_PACKED)) {
        out.fd = f->spillFd;
        out.size = f->length;
        return ARC_OK;
    }
    // Packed block by block into a second scratch file, so the size is known before
    // the data file is touched.
    out.fd = scratchFile(f->catalog ? f->catalog->datOs : f->os);
    if (out.fd < 0)
        return ARC_E_INTERNAL;
    out.ownFd = true;
    int64_t read = 0;
    const int status = arc_pack_stream(
        [&](unsigned char* buf, size_t max) -> int64_t {
            const int64_t n = std::min<int64_t>(static_cast<int64_t>(max), f->length - read);
            if (n > 0 && !preadAll(f->spillFd, buf, n, read))
                return -1;
            read += n;
            return n;
        },
        static_cast<uint32_t>(f->mtime),
        [&](const unsigned char* data, size_t n) {
            const bool ok = pwriteAll(out.fd, data, static_cast<int64_t>(n), out.size);
            out.size += static_cast<int64_t>(n);
            return ok;
        });
    return status == ARC_GZ_OK ? ARC_OK : arc_codec_error(status);
}

// Writes the stored form at `offset` of fd, scrambled for a data file when asked.
bool writeStored(int fd, const StoredForm& s, int64_t offset, bool scramble)
{
    if (s.fd < 0)
        return scramble ? writeScrambled(fd, s.data, s.size, offset)
                        : pwriteAll(fd, s.data, s.size, offset);
    std::vector<unsigned char> block(static_cast<size_t>(std::min(s.size, kSpillBlock)));
    for (int64_t done = 0; done < s.size;) {
        const int64_t n = std::min(s.size - done, kSpillBlock);
        if (!preadAll(s.fd, block.data(), n, done))
            return false;
        if (scramble ? !writeScrambled(fd, block.data(), n, offset + done)
                     : !pwriteAll(fd, block.data(), n, offset + done))
            return false;
        done += n;
    }
    return true;
}

// A rewrite of entry i with `size` bytes may overwrite its old bytes: the same
// size, and a journal that saves them first (the catalogue on disk lists them, so
// after a crash they must come back).
bool sameSizeInPlace(const Catalog* c, size_t i, int64_t size)
{
    return c->entries[i].size == size && size > 0 && journal::covers(c->datOs);
}

int storeEntry(FileObject* f)
{
    Catalog* c = f->catalog;
    const int64_t idx = findEntry(c, lower(f->entryName));
    if (idx < 0)
        return ARC_E_NOENTRY;
    if (f->handles > 1)
        return ARC_E_LOCKED;
    if (c->readOnly)
        return ARC_E_ACCESS;

    StoredForm stored;
    if (const int code = storedForm(f, stored); code != ARC_OK)
        return code;
    const int64_t newSize = stored.size;

    // Bytes that the catalogue on disk lists are overwritten only when the change
    // journal keeps them (an entry of the same size keeps its place, and nothing
    // behind it moves); otherwise the new data goes past them and the old bytes stay
    // as a filler. An entry that is last and not yet listed on disk is rewritten
    // where it is.
    const size_t i = static_cast<size_t>(idx);
    const bool inPlace = (i + 1 == c->entries.size() && c->entries[i].offset >= c->committed) ||
                         sameSizeInPlace(c, i, newSize);
    const int64_t at = inPlace ? c->entries[i].offset : c->total;
    if (!journal::willChange(c->datOs, c->datFd) ||
        !journal::willOverwrite(c->datOs, c->datFd, at, newSize))
        return ARC_E_INTERNAL;
    c->datDirty = true;
    if (!writeStored(c->datFd, stored, at, true)) {
        if (inPlace) {
            // Its old bytes may be partly overwritten: the entry is gone.
            makeFiller(c, i);
            c->modified = true;
        }
        return ARC_E_INTERNAL;
    }
    journal::touched(c->datOs);
    if (inPlace) {
        // Last: its size may change; in the middle: the same size.
        c->entries[i].size = newSize;
        if (i + 1 == c->entries.size())
            c->total = at + newSize;
    } else {
        Entry moved = c->entries[i];
        moved.offset = at;
        moved.size = newSize;
        makeFiller(c, i);
        appendEntry(c, std::move(moved));
        c->total = at + newSize;
    }
    c->modified = true;
    f->stored = newSize;
    f->modified = false;
    return ARC_OK;
}

int storeDisk(FileObject* f)
{
    if (f->flags & ARC_F_PACKED) {
        StoredForm stored;
        if (const int code = storedForm(f, stored); code != ARC_OK)
            return code;
        const int64_t size = stored.size;
        if (!journal::willOverwrite(f->os, f->fd, 0, size) ||
            !journal::willTruncate(f->os, f->fd, size) ||
            !writeStored(f->fd, stored, 0, false) ||
            fio::ftruncate(f->fd, static_cast<off_t>(size)) != 0)
            return ARC_E_INTERNAL;
        f->stored = size;
    }
    if (!syncOrDefer(f->os, f->fd))
        return ARC_E_INTERNAL;
    const timespec times[2] = {{static_cast<time_t>(f->mtime), 0},
                               {static_cast<time_t>(f->mtime), 0}};
    futimens(f->fd, times); // the time is a courtesy; the bytes are what counts
    f->modified = false;
    return ARC_OK;
}

// Closes a file object; the code tells whether a written disk file or the
// catalogue it changed was stored completely.
int freeFile(FileObject* f)
{
    int code = ARC_OK;
    if (f->fd >= 0 && fio::close(f->fd) != 0 && (f->flags & ARC_F_DISK))
        code = ARC_E_INTERNAL;
    if (f->spillFd >= 0)
        ::close(f->spillFd);
    Catalog* c = f->catalog;
    delete f;
    const int cat = releaseCatalog(c);
    return code != ARC_OK ? code : cat;
}

ArcFileHandle* newHandle(FileObject* f, int mode);

} // namespace

struct ArcFileHandle
{
    FileObject* file = nullptr;
    int mode = 0;
    int error = ARC_OK;
    int64_t pos = 0;
};

struct ArcCatalogHandle
{
    Catalog* catalog = nullptr;
};

struct ArcSearchHandle
{
    Catalog* catalog = nullptr;
    size_t current = 0;
    std::vector<Token> pattern;
};

namespace {

ArcFileHandle* newHandle(FileObject* f, int mode)
{
    auto* h = new ArcFileHandle;
    h->file = f;
    h->mode = mode;
    ++f->refs;
    ++f->handles;
    if (mode == ARC_MODE_WRITE)
        ++f->writers;
    return h;
}

int handleFail(ArcFileHandle* h, int code)
{
    h->error = code;
    h->file->error = code;
    return fail(code);
}

// Sharing check for a name that is already open: readers may join readers only.
int shareCheck(const std::vector<FileObject*>* open, int mode)
{
    if (!open || open->empty())
        return ARC_OK;
    if (mode == ARC_MODE_WRITE)
        return ARC_E_MODE;
    for (const FileObject* f : *open)
        if (f->writers > 0)
            return ARC_E_MODE;
    return ARC_OK;
}

ArcFileHandle* openEntry(const std::string& catPath, const std::string& entry, int mode, int create,
                         int type)
{
    const std::string fullName = catPath + "::" + entry;
    const std::string key = lower(fullName);
    std::vector<FileObject*>* open = openObjects(key);
    if (const int rc = shareCheck(open, mode); rc != ARC_OK) {
        fail(rc);
        return nullptr;
    }
    if (open) {
        for (FileObject* o : *open)
            if (!o->streaming)
                return newHandle(o, mode);
    }

    int code = ARC_OK;
    Catalog* c = acquireCatalog(catPath, 0, code);
    if (!c)
        return nullptr;

    auto* f = new FileObject;
    f->catalog = c;
    f->fullName = fullName;
    f->key = key;
    f->entryName = entry;
    const int64_t idx = findEntry(c, lower(entry));
    code = ARC_OK;
    if (mode == ARC_MODE_WRITE && isFillerName(lower(entry))) {
        code = ARC_E_NAME; // the library's own room, never a file
    } else if (idx >= 0) {
        const Entry& e = c->entries[static_cast<size_t>(idx)];
        struct stat st;
        if (fstat(c->datFd, &st) != 0 || e.offset + e.size > st.st_size) {
            code = ARC_E_ENTRYSIZE; // listed bytes that the data file does not hold
        } else if (e.size > arc_memory_cap()) {
            code = ARC_E_TOOLARGE; // the whole entry would be held in memory
        } else {
            std::vector<unsigned char> raw;
            try {
                raw.resize(static_cast<size_t>(e.size));
            } catch (const std::bad_alloc&) {
                code = ARC_E_NOMEM;
            }
            if (code == ARC_OK && !preadAll(c->datFd, raw.data(), e.size, e.offset))
                code = ARC_E_ENTRYSIZE;
            if (code == ARC_OK) {
                xorBytes(raw.data(), raw.size(), ARC_DAT_XOR);
                f->stored = e.size;
                if (type == ARC_TYPE_AUTO)
                    type = arc_is_packed(raw.data(), raw.size()) ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN;
                if (e.size == 0) {
                    f->flags = type == ARC_TYPE_PACKED ? ARC_F_PACKED : ARC_F_PLAIN;
                    f->mtime = type == ARC_TYPE_PACKED ? static_cast<int64_t>(time(nullptr)) : -1;
                } else if (type == ARC_TYPE_PLAIN) {
                    f->flags = ARC_F_PLAIN;
                    f->length = e.size;
                    f->buffer = std::move(raw);
                } else {
                    uint32_t mtime = 0;
                    const int status = arc_unpack(raw.data(), raw.size(), f->buffer, &mtime);
                    if (status != ARC_GZ_OK && status != ARC_GZ_RESERVED) {
                        code = arc_codec_error(status);
                    } else {
                        if (status == ARC_GZ_RESERVED)
                            f->error = ARC_E_GZ_RESERVED;
                        f->flags = ARC_F_PACKED;
                        f->length = static_cast<int64_t>(f->buffer.size());
                        f->mtime = mtime;
                    }
                }
            }
        }
    } else if (create != 1) {
        code = ARC_E_NOENTRY;
    } else if (!arc_valid_entry_name(entry.c_str())) {
        code = ARC_E_NAME;
    } else if (c->readOnly) {
        code = ARC_E_ACCESS;
    } else {
        Entry e;
        e.name = entry;
        e.lname = lower(entry);
        e.offset = c->total;
        e.size = 0;
        appendEntry(c, std::move(e));
        c->modified = true;
        f->flags = type == ARC_TYPE_PLAIN ? ARC_F_PLAIN : ARC_F_PACKED;
        f->mtime = static_cast<int64_t>(time(nullptr));
        f->modified = true;
    }
    if (code != ARC_OK) {
        fail(code);
        freeFile(f); // drops the catalogue reference taken above
        return nullptr;
    }
    registerFile(f);
    ArcFileHandle* h = newHandle(f, mode);
    if (f->error != ARC_OK)
        h->error = f->error;
    return h;
}

ArcFileHandle* openDisk(const std::string& path, int mode, int create, int type)
{
    const std::string key = lower(path);
    if (type == ARC_TYPE_AUTO) {
        type = ARC_TYPE_PLAIN;
        const int fd = ::open(osPath(path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            unsigned char head[3];
            if (::read(fd, head, 3) == 3 && arc_is_packed(head, 3))
                type = ARC_TYPE_PACKED;
            ::close(fd);
        }
    }
    std::vector<FileObject*>* open = openObjects(key);
    if (const int rc = shareCheck(open, mode); rc != ARC_OK) {
        fail(rc);
        return nullptr;
    }
    if (open && type == ARC_TYPE_PACKED) {
        for (FileObject* f : *open)
            if (f->flags & ARC_F_PACKED)
                return newHandle(f, mode);
    }

    int code = ARC_OK;
    const int flags = (mode == ARC_MODE_WRITE ? O_RDWR : O_RDONLY) | (create == 1 ? O_CREAT : 0);
    const std::string os = osPath(path);
    struct stat st;
    const bool existed = ::stat(os.c_str(), &st) == 0;
    if (mode == ARC_MODE_WRITE && create == 1 && !existed && !journal::willCreate(os)) {
        fail(ARC_E_INTERNAL);
        return nullptr;
    }
    const int fd = osOpen(path, flags, mode == ARC_MODE_WRITE, code);
    if (fd < 0) {
        fail(code);
        return nullptr;
    }
    auto* f = new FileObject;
    f->fd = fd;
    f->fullName = path;
    f->os = os;
    f->key = key;
    if (fstat(fd, &st) != 0 || (mode == ARC_MODE_WRITE && existed && !journal::willChange(os, fd))) {
        freeFile(f);
        fail(ARC_E_OPEN);
        return nullptr;
    }
    f->stored = st.st_size;
    f->mtime = st.st_mtime;
    if (type == ARC_TYPE_PLAIN) {
        f->flags = ARC_F_DISK | ARC_F_PLAIN;
    } else {
        f->flags = ARC_F_DISK | ARC_F_PACKED;
        if (st.st_size == 0) {
            f->modified = true;
        } else {
            std::vector<unsigned char> raw;
            code = ARC_OK;
            if (st.st_size > arc_memory_cap()) {
                code = ARC_E_TOOLARGE;
            } else {
                try {
                    raw.resize(static_cast<size_t>(st.st_size));
                } catch (const std::bad_alloc&) {
                    code = ARC_E_NOMEM;
                }
            }
            if (code == ARC_OK && !preadAll(fd, raw.data(), st.st_size, 0))
                code = ARC_E_BADDATA;
            uint32_t mtime = 0;
            int status = ARC_GZ_OK;
            if (code == ARC_OK) {
                status = arc_unpack(raw.data(), raw.size(), f->buffer, &mtime);
                if (status != ARC_GZ_OK && status != ARC_GZ_RESERVED)
                    code = arc_codec_error(status);
            }
            if (code != ARC_OK) {
                freeFile(f);
                fail(code);
                return nullptr;
            }
            if (status == ARC_GZ_RESERVED)
                f->error = ARC_E_GZ_RESERVED;
            f->length = static_cast<int64_t>(f->buffer.size());
            f->mtime = mtime;
        }
        if (mode == ARC_MODE_READ) {
            ::close(f->fd);
            f->fd = -1;
        }
    }
    registerFile(f);
    ArcFileHandle* h = newHandle(f, mode);
    if (f->error != ARC_OK)
        h->error = f->error;
    return h;
}

std::vector<Token> compilePattern(const char* pattern)
{
    std::vector<Token> tokens;
    for (const char* p = pattern ? pattern : ""; *p; ++p) {
        if (*p == '*') {
            if (tokens.empty() || tokens.back().kind != Token::Any)
                tokens.push_back({Token::Any, {}});
        } else if (*p == '?') {
            tokens.push_back({Token::One, {}});
        } else {
            const char c = (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
            if (tokens.empty() || tokens.back().kind != Token::Literal)
                tokens.push_back({Token::Literal, {}});
            tokens.back().text += c;
        }
    }
    return tokens;
}

// Glob match with single-star backtracking: linear in practice, never exponential.
bool matches(const std::vector<Token>& tokens, const std::string& name)
{
    size_t t = 0, n = 0;
    size_t starT = std::string::npos, starN = 0;
    while (n < name.size() || t < tokens.size()) {
        if (t < tokens.size()) {
            const Token& tok = tokens[t];
            if (tok.kind == Token::Any) {
                starT = t++;
                starN = n;
                continue;
            }
            if (tok.kind == Token::One && n < name.size()) {
                ++t;
                ++n;
                continue;
            }
            if (tok.kind == Token::Literal && name.compare(n, tok.text.size(), tok.text) == 0) {
                n += tok.text.size();
                ++t;
                continue;
            }
        }
        if (starT == std::string::npos || starN >= name.size())
            return false;
        t = starT + 1;
        n = ++starN;
    }
    return true;
}

void fillFind(const Entry& e, ArcFindRecord* r)
{
    if (!r)
        return;
    std::snprintf(r->name, sizeof r->name, "%s", e.name.c_str());
    r->size = e.size;
}

} // namespace

const char* arc_error_message(int code)
{
    static const char* const messages[] = {
        "No error.",
        "Invalid handle.",
        "Cannot seek to specified position.",
        "Bad seek mode.",
        "Unknown error while opening file.",
        "Cannot open file - access denied or file locked.",
        "File already exist.",
        "File does not exist.",
        "Bad file mode.",
        "Bad data in file.",
        "File is empty.",
        "File is locked",
        "CAT archive is not open.",
        "No entry in CAT file.",
        "Cannot find DAT file.",
        "Invalid size in CAT entry.",
        "Files in CAT are locked.",
        "File name syntax is incorrect.",
        "Internal error.",
        "Cannot allocate memory.",
        "Bad flags specified.",
        "GZIP - reserved flag bits are set.",
        "GZIP - no GZIP header found.",
        "GZIP - input stream too small.",
        "GZIP - data CRC does not match.",
        "GZIP - header CRC does not match",
        "GZIP - unsupported compression.",
        "GZIP - deflate/inflate failed.",
        "File is too large to be held in memory.",
    };
    if (code < 0 || code >= static_cast<int>(sizeof messages / sizeof messages[0]))
        return messages[ARC_E_INTERNAL];
    return messages[code];
}

int arc_last_error()
{
    return g_lastError;
}

int arc_last_errno()
{
    return g_lastError == ARC_E_INTERNAL ? g_lastErrno : 0;
}

int arc_handle_error(ArcFileHandle* h)
{
    return h ? h->error : ARC_E_HANDLE;
}

ArcFileHandle* arc_open(const char* path, int mode, int create, int type)
{
    g_lastError = ARC_OK;
    if (mode < 0 || mode > 1 || create < 0 || create > 1 || type < 0 || type > 2) {
        fail(ARC_E_FLAGS);
        return nullptr;
    }
    if (!path) {
        fail(ARC_E_INTERNAL);
        return nullptr;
    }
    std::string catPart, entry, full;
    if (splitVirtual(path, catPart, entry)) {
        if (!fullPath(catPart.c_str(), full)) {
            fail(ARC_E_INTERNAL);
            return nullptr;
        }
        return openEntry(full, entry, mode, create, type);
    }
    if (!fullPath(path, full)) {
        fail(ARC_E_INTERNAL);
        return nullptr;
    }
    return openDisk(full, mode, create, type);
}

bool arc_close(ArcFileHandle* h)
{
    g_lastError = ARC_OK;
    if (!h) {
        fail(ARC_E_HANDLE);
        return false;
    }
    FileObject* f = h->file;
    bool ok = true;
    if (f->refs == 1) {
        unregisterFile(f);
        if (f->modified) {
            int code = ARC_E_MODE;
            if (h->mode == ARC_MODE_WRITE)
                code = f->catalog ? storeEntry(f) : storeDisk(f);
            if (code != ARC_OK) {
                h->error = f->error = code;
                if (f->catalog)
                    f->catalog->error = code;
                if (h->mode == ARC_MODE_WRITE && code != ARC_E_LOCKED)
                    journal::poison(f->catalog ? f->catalog->catOs : f->os,
                                    f->entryName.empty() ? "could not be stored"
                                                         : f->entryName + " could not be stored");
                fail(code);
                ok = false;
            }
        }
    }
    --f->handles;
    if (h->mode == ARC_MODE_WRITE)
        --f->writers;
    if (--f->refs == 0 && freeFile(f) != ARC_OK) {
        h->error = ARC_E_INTERNAL;
        fail(ARC_E_INTERNAL);
        ok = false;
    }
    delete h;
    return ok;
}

int64_t arc_read(ArcFileHandle* h, void* buffer, int64_t count)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), -1;
    if (count < 0 || (!buffer && count > 0))
        return handleFail(h, ARC_E_INTERNAL), -1;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        int64_t done = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (done < count) {
            const ssize_t n = ::read(f->fd, out + done,
                                     static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return handleFail(h, ARC_E_INTERNAL), -1;
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }
    const int64_t n = std::max<int64_t>(0, std::min(count, f->length - h->pos));
    if (n > 0 && f->spillFd >= 0) {
        if (!preadAll(f->spillFd, static_cast<unsigned char*>(buffer), n, h->pos))
            return handleFail(h, ARC_E_INTERNAL), -1;
    } else if (n > 0) {
        std::memcpy(buffer, f->buffer.data() + h->pos, static_cast<size_t>(n));
    }
    h->pos += n;
    return n;
}

int64_t arc_write(ArcFileHandle* h, const void* buffer, int64_t count)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), -1;
    if (h->mode != ARC_MODE_WRITE)
        return handleFail(h, ARC_E_MODE), -1;
    if (count < 0 || (!buffer && count > 0))
        return handleFail(h, ARC_E_INTERNAL), -1;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        int64_t done = 0;
        const auto* in = static_cast<const unsigned char*>(buffer);
        while (done < count) {
            const off_t at = ::lseek(f->fd, 0, SEEK_CUR);
            if (at < 0 || !journal::willOverwrite(f->os, f->fd, at, count - done))
                return handleFail(h, ARC_E_INTERNAL), -1;
            const ssize_t n = fio::write(
                f->fd, in + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return handleFail(h, ARC_E_INTERNAL), -1;
            done += n;
        }
    } else {
        if (h->pos > INT64_MAX - count)
            return handleFail(h, ARC_E_NOMEM), -1;
        if (f->spillFd >= 0 || h->pos + count > kSpillAt) {
            if (!spill(f) ||
                !pwriteAll(f->spillFd, static_cast<const unsigned char*>(buffer), count, h->pos))
                return handleFail(h, ARC_E_INTERNAL), -1;
        } else {
            if (!ensureCapacity(f, h->pos + count))
                return handleFail(h, ARC_E_NOMEM), -1;
            if (count > 0)
                std::memcpy(f->buffer.data() + h->pos, buffer, static_cast<size_t>(count));
        }
        h->pos += count;
        f->length = std::max(f->length, h->pos);
    }
    f->mtime = static_cast<int64_t>(time(nullptr));
    f->modified = true;
    return count;
}

bool arc_seek(ArcFileHandle* h, int64_t offset, int origin)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), false;
    if (origin < ARC_SEEK_SET || origin > ARC_SEEK_CUR)
        return handleFail(h, ARC_E_SEEKMODE), false;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        static const int whence[] = {SEEK_SET, SEEK_END, SEEK_CUR};
        if (::lseek(f->fd, static_cast<off_t>(offset), whence[origin]) < 0)
            return handleFail(h, ARC_E_SEEK), false;
        return true;
    }
    const int64_t base = origin == ARC_SEEK_SET ? 0 : origin == ARC_SEEK_END ? f->length : h->pos;
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0 || base + offset > f->length)
        return handleFail(h, ARC_E_SEEK), false;
    h->pos = base + offset;
    return true;
}

int64_t arc_size(ArcFileHandle* h)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), -1;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        struct stat st;
        if (fstat(f->fd, &st) != 0)
            return handleFail(h, ARC_E_INTERNAL), -1;
        return st.st_size;
    }
    return f->length;
}

bool arc_eof(ArcFileHandle* h)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), true;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        struct stat st;
        const off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
        return fstat(f->fd, &st) != 0 || pos < 0 || pos >= st.st_size;
    }
    return h->pos >= f->length;
}

bool arc_truncate(ArcFileHandle* h)
{
    if (!h)
        return fail(ARC_E_HANDLE), false;
    if (h->mode != ARC_MODE_WRITE)
        return handleFail(h, ARC_E_MODE), false;
    FileObject* f = h->file;
    if (!isMemory(f)) {
        const off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
        if (pos < 0 || !journal::willTruncate(f->os, f->fd, pos) || fio::ftruncate(f->fd, pos) != 0)
            return handleFail(h, ARC_E_INTERNAL), false;
        return true;
    }
    if (f->length != h->pos) {
        // A shortened file must be stored even when nothing else was written.
        f->length = h->pos;
        f->modified = true;
    }
    return true;
}

bool arc_stat(ArcFileHandle* h, ArcStatRecord* r)
{
    if (!h)
        return fail(ARC_E_HANDLE), false;
    if (!r)
        return handleFail(h, ARC_E_INTERNAL), false;
    const FileObject* f = h->file;
    std::snprintf(r->name, sizeof r->name, "%s", f->fullName.c_str());
    r->mtime = static_cast<int32_t>(f->mtime);
    r->length = arc_size(h);
    r->storedSize = f->stored;
    r->flags = f->flags;
    return true;
}

bool arc_remove(const char* path)
{
    g_lastError = ARC_OK;
    if (!path)
        return fail(ARC_E_INTERNAL), false;
    std::string catPart, entry, full;
    const bool isEntry = splitVirtual(path, catPart, entry);
    if (!fullPath(isEntry ? catPart.c_str() : path, full))
        return fail(ARC_E_INTERNAL), false;
    const std::string fullName = isEntry ? full + "::" + entry : full;
    if (openObjects(lower(fullName)))
        return fail(ARC_E_LOCKED), false;
    if (!isEntry) {
        const std::string os = osPath(full);
        struct stat st;
        if (::lstat(os.c_str(), &st) != 0)
            return fail(errnoCode(errno)), false;
        const bool removed =
            journal::covers(os) ? journal::removeInto(os) : fio::unlink(os.c_str()) == 0;
        if (!removed)
            return fail(errnoCode(errno)), false;
        return true;
    }
    int code = ARC_OK;
    Catalog* c = acquireCatalog(full, 0, code);
    if (!c)
        return false;
    const int64_t idx = findEntry(c, lower(entry));
    if (idx < 0)
        code = ARC_E_NOENTRY;
    else if (c->readOnly)
        code = ARC_E_ACCESS;
    if (code == ARC_OK) {
        // The bytes stay where the game finds them, as a filler, until compaction.
        if (journal::willChange(c->datOs, c->datFd)) {
            makeFiller(c, static_cast<size_t>(idx));
            c->modified = true;
        } else {
            code = ARC_E_INTERNAL;
        }
    }
    if (code != ARC_OK) {
        c->error = code;
        fail(code);
    }
    const int stored = releaseCatalog(c);
    if (code == ARC_OK && stored != ARC_OK)
        code = stored;
    return code == ARC_OK;
}

bool arc_store_plain(const char* path, int fd, int64_t size)
{
    g_lastError = ARC_OK;
    std::string catPart, entry, full;
    if (!path || fd < 0 || size < 0 || !splitVirtual(path, catPart, entry) ||
        !fullPath(catPart.c_str(), full))
        return fail(ARC_E_INTERNAL), false;
    const std::string lname = lower(entry);
    if (openObjects(lower(full + "::" + entry)))
        return fail(ARC_E_LOCKED), false;
    if (isFillerName(lname) || !arc_valid_entry_name(entry.c_str()))
        return fail(ARC_E_NAME), false;
    int code = ARC_OK;
    Catalog* c = acquireCatalog(full, 0, code);
    if (!c)
        return false;
    if (c->readOnly) {
        releaseCatalog(c);
        return fail(ARC_E_ACCESS), false;
    }
    const int64_t found = findEntry(c, lname);
    const bool inPlace = found >= 0 && sameSizeInPlace(c, static_cast<size_t>(found), size);
    const int64_t at = inPlace ? c->entries[static_cast<size_t>(found)].offset : c->total;
    bool complete = false;
    int64_t done = 0;
    if (!journal::willChange(c->datOs, c->datFd) ||
        !journal::willOverwrite(c->datOs, c->datFd, at, size)) {
        code = ARC_E_INTERNAL;
    } else {
        // Read, scrambled and written block by block, straight into the data file.
        constexpr int64_t kBlock = int64_t(1) << 20;
        std::unique_ptr<unsigned char[]> block(
            new unsigned char[static_cast<size_t>(std::max<int64_t>(1, std::min(size, kBlock)))]);
        bool readFailed = false;
        int64_t handedOver = 0;
        while (done < size) {
            const int64_t want = std::min(size - done, kBlock);
            int64_t got = 0;
            while (got < want) {
                const ssize_t n = ::read(fd, block.get() + got, static_cast<size_t>(want - got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += n;
            }
            if (got < want) {
                readFailed = true;
                break;
            }
            xorBytes(block.get(), static_cast<size_t>(got), ARC_DAT_XOR);
            c->datDirty = true;
            if (!pwriteAll(c->datFd, block.get(), got, at + done)) {
                code = ARC_E_INTERNAL;
                break;
            }
            done += got;
            // The data file is synced at the end (or at the journal's commit).
            if (done - handedOver >= fio::kWritebackStep) {
                fio::startWriteback(c->datFd, at + handedOver, done - handedOver);
                handedOver = done;
            }
        }
        if (done > 0)
            journal::touched(c->datOs);
        complete = code == ARC_OK && !readFailed;
        if (readFailed)
            code = ARC_E_INTERNAL;
    }
    if (!(complete && inPlace)) {
        // The old entry's bytes become a filler (when this failed part-way through
        // them, they are spoilt anyway). A failure leaves the entry empty.
        if (found >= 0)
            makeFiller(c, static_cast<size_t>(found));
        Entry e;
        e.name = entry;
        e.lname = lname;
        e.offset = complete ? at : c->total;
        e.size = complete ? size : 0;
        c->total = e.offset + e.size;
        appendEntry(c, std::move(e));
    }
    c->modified = true;
    if (!complete)
        fail(code);
    const int stored = releaseCatalog(c);
    if (complete && stored != ARC_OK)
        return fail(stored), false;
    return complete;
}

ArcCatalogHandle* arc_open_catalog(const char* path, int create)
{
    g_lastError = ARC_OK;
    if (create < 0 || create > 1)
        return fail(ARC_E_FLAGS), nullptr;
    std::string full;
    if (!path || !fullPath(path, full))
        return fail(ARC_E_INTERNAL), nullptr;
    int code = ARC_OK;
    Catalog* c = acquireCatalog(full, create, code);
    if (!c)
        return nullptr;
    auto* h = new ArcCatalogHandle;
    h->catalog = c;
    return h;
}

bool arc_close_catalog(ArcCatalogHandle* h)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), false;
    const int code = releaseCatalog(h->catalog);
    delete h;
    return code == ARC_OK;
}

ArcSearchHandle* arc_find_first(ArcCatalogHandle* h, const char* pattern, ArcFindRecord* record)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), nullptr;
    auto* s = new ArcSearchHandle;
    s->catalog = h->catalog;
    ++s->catalog->refs; // the search keeps the catalogue alive on its own
    s->pattern = compilePattern(pattern);
    // A pattern without wildcards names one entry: looked up, not searched for.
    if (s->pattern.size() == 1 && s->pattern[0].kind == Token::Literal) {
        const int64_t idx = findEntry(s->catalog, s->pattern[0].text);
        if (idx >= 0 && !isFiller(s->catalog->entries[static_cast<size_t>(idx)])) {
            s->current = static_cast<size_t>(idx);
            fillFind(s->catalog->entries[s->current], record);
            return s;
        }
        arc_find_close(s);
        fail(ARC_E_NOENTRY);
        return nullptr;
    }
    for (size_t i = 0; i < s->catalog->entries.size(); ++i) {
        if (!isFiller(s->catalog->entries[i]) && matches(s->pattern, s->catalog->entries[i].lname)) {
            s->current = i;
            fillFind(s->catalog->entries[i], record);
            return s;
        }
    }
    arc_find_close(s);
    fail(ARC_E_NOENTRY);
    return nullptr;
}

bool arc_find_next(ArcSearchHandle* s, ArcFindRecord* record)
{
    g_lastError = ARC_OK;
    if (!s)
        return fail(ARC_E_HANDLE), false;
    const auto& entries = s->catalog->entries;
    for (size_t i = s->current + 1; i < entries.size(); ++i) {
        if (!isFiller(entries[i]) && matches(s->pattern, entries[i].lname)) {
            s->current = i;
            fillFind(entries[i], record);
            return true;
        }
    }
    s->current = entries.size();
    return false;
}

int64_t arc_catalog_unused(ArcCatalogHandle* h)
{
    g_lastError = ARC_OK;
    if (!h)
        return fail(ARC_E_HANDLE), -1;
    return fillerBytes(h->catalog);
}

bool arc_is_filler_name(const char* name)
{
    if (!name)
        return false;
    std::string n = lower(name);
    std::replace(n.begin(), n.end(), '/', '\\');
    return isFillerName(n);
}

int64_t arc_set_compact_threshold(int64_t bytes)
{
    const int64_t old = g_compactMin;
    g_compactMin = bytes < 1 ? ARC_DEFAULT_COMPACT_MIN : bytes;
    return old;
}

bool arc_find_close(ArcSearchHandle* s)
{
    g_lastError = ARC_OK;
    if (!s)
        return fail(ARC_E_HANDLE), false;
    releaseCatalog(s->catalog);
    delete s;
    return true;
}

bool arc_copy(ArcFileHandle* source, ArcFileHandle* destination)
{
    g_lastError = ARC_OK;
    if (!source || !destination)
        return fail(ARC_E_HANDLE), false;
    if (destination->mode != ARC_MODE_WRITE)
        return handleFail(destination, ARC_E_MODE), false;
    FileObject* src = source->file;
    FileObject* dst = destination->file;
    if (!isMemory(src)) {
        struct stat st;
        if (fstat(src->fd, &st) != 0)
            return handleFail(source, ARC_E_INTERNAL), false;
        if (isMemory(dst) && st.st_size <= kSpillAt) {
            // The destination holds it whole anyway: read once and handed over.
            if (st.st_size > arc_memory_cap())
                return handleFail(source, ARC_E_TOOLARGE), false;
            std::vector<unsigned char> diskData;
            try {
                diskData.resize(static_cast<size_t>(st.st_size));
            } catch (const std::bad_alloc&) {
                return handleFail(source, ARC_E_NOMEM), false;
            }
            if (!preadAll(src->fd, diskData.data(), st.st_size, 0))
                return handleFail(source, ARC_E_INTERNAL), false;
            dst->buffer = std::move(diskData);
            dst->length = st.st_size;
            // At the end, like a written copy: the caller truncates at the position next.
            destination->pos = st.st_size;
            dst->modified = true;
            dst->mtime = src->mtime;
            return true;
        }
        // Disk to disk: in chunks, nothing is held whole.
        if (!arc_seek(destination, 0, ARC_SEEK_SET))
            return false;
        constexpr int64_t kChunk = 1 << 20;
        std::vector<unsigned char> chunk(
            static_cast<size_t>(std::min<int64_t>(st.st_size, kChunk)));
        for (int64_t done = 0; done < st.st_size;) {
            const int64_t n = std::min<int64_t>(st.st_size - done, kChunk);
            if (!preadAll(src->fd, chunk.data(), n, done))
                return handleFail(source, ARC_E_INTERNAL), false;
            if (arc_write(destination, chunk.data(), n) != n)
                return false;
            done += n;
        }
        dst->modified = true; // also when empty, as a written copy
        dst->mtime = src->mtime;
        return true;
    }
    if (!arc_seek(destination, 0, ARC_SEEK_SET))
        return false;
    if (src->spillFd >= 0) {
        std::vector<unsigned char> chunk(static_cast<size_t>(std::min(src->length, kSpillBlock)));
        for (int64_t done = 0; done < src->length;) {
            const int64_t n = std::min(src->length - done, kSpillBlock);
            if (!preadAll(src->spillFd, chunk.data(), n, done))
                return handleFail(source, ARC_E_INTERNAL), false;
            if (arc_write(destination, chunk.data(), n) != n)
                return false;
            done += n;
        }
        dst->modified = true;
        dst->mtime = src->mtime;
        return true;
    }
    const int64_t written = arc_write(destination, src->buffer.data(), src->length);
    dst->mtime = src->mtime;
    return written == src->length;
}

// --- Streams ---

struct ArcStream
{
    FileObject* file = nullptr; // registered under the name; holds the disk fd or the catalogue
    bool entry = false;
    std::string lname;     // entry name, lower-cased: the entry is found again for each read
    size_t index = 0;      // where it was last found
    int64_t rawSize = 0;   // stored bytes
    int64_t pos = 0;       // plain: next stored byte to deliver
    unsigned char key = 0; // packed: the key byte
    std::unique_ptr<ArcGzipReader> gz;
    int error = ARC_OK;   // ARC_E_GZ_RESERVED, or the failure once failed
    int ioError = ARC_OK; // why the stored bytes could not be read
    bool failed = false;
};

namespace {

// Stored bytes [pos, pos + size) of the stream's file, the data-file XOR undone.
// An entry's offset is looked up again every time: rewriting another entry of the
// catalogue may move this one's data down.
bool readStored(ArcStream* s, int64_t pos, unsigned char* out, size_t size)
{
    int64_t offset = 0;
    int fd = s->file->fd;
    if (s->entry) {
        const Catalog* c = s->file->catalog;
        if (s->index >= c->entries.size() || c->entries[s->index].lname != s->lname) {
            const int64_t idx = findEntry(c, s->lname);
            s->index = idx < 0 ? c->entries.size() : static_cast<size_t>(idx);
        }
        // The entry cannot be rewritten or removed while the stream is open.
        if (s->index >= c->entries.size() || c->entries[s->index].size != s->rawSize) {
            s->ioError = ARC_E_INTERNAL;
            return false;
        }
        offset = c->entries[s->index].offset;
        fd = c->datFd;
    }
    if (pos < 0 || pos > s->rawSize || static_cast<int64_t>(size) > s->rawSize - pos ||
        !preadAll(fd, out, static_cast<int64_t>(size), offset + pos)) {
        s->ioError = s->entry ? ARC_E_ENTRYSIZE : ARC_E_BADDATA;
        return false;
    }
    if (s->entry)
        xorBytes(out, size, ARC_DAT_XOR);
    return true;
}

// The gzip member of a packed file: stored bytes 1.., XORed with the key.
bool readMember(void* ctx, uint64_t pos, unsigned char* out, size_t size)
{
    auto* s = static_cast<ArcStream*>(ctx);
    if (!readStored(s, static_cast<int64_t>(pos) + 1, out, size))
        return false;
    xorBytes(out, size, s->key);
    return true;
}

void destroyStream(ArcStream* s)
{
    s->gz.reset();
    if (s->file) {
        unregisterFile(s->file);
        freeFile(s->file); // closes the disk fd, drops the catalogue reference
    }
    delete s;
}

} // namespace

ArcStream* arc_stream_open(const char* path, int type)
{
    g_lastError = ARC_OK;
    if (type < ARC_TYPE_AUTO || type > ARC_TYPE_PACKED)
        return fail(ARC_E_FLAGS), nullptr;
    if (!path)
        return fail(ARC_E_INTERNAL), nullptr;
    std::string catPart, entry, full;
    const bool isEntry = splitVirtual(path, catPart, entry);
    if (!fullPath(isEntry ? catPart.c_str() : path, full))
        return fail(ARC_E_INTERNAL), nullptr;
    const std::string fullName = isEntry ? full + "::" + entry : full;
    const std::string key = lower(fullName);
    // The sharing rule of arc_open for a reader: refused while anybody writes it.
    if (const int rc = shareCheck(openObjects(key), ARC_MODE_READ); rc != ARC_OK)
        return fail(rc), nullptr;

    auto* s = new ArcStream;
    auto* f = new FileObject;
    f->fullName = fullName;
    f->key = key;
    f->streaming = true;
    s->file = f;
    s->entry = isEntry;
    int code = ARC_OK;
    if (isEntry) {
        f->entryName = entry;
        Catalog* c = acquireCatalog(full, 0, code);
        if (!c) {
            delete f;
            delete s;
            return nullptr; // acquireCatalog has set the code
        }
        f->catalog = c;
        s->lname = lower(entry);
        const int64_t idx = findEntry(c, s->lname);
        struct stat st;
        if (idx < 0) {
            code = ARC_E_NOENTRY;
        } else {
            const Entry& e = c->entries[static_cast<size_t>(idx)];
            s->index = static_cast<size_t>(idx);
            s->rawSize = e.size;
            if (fstat(c->datFd, &st) != 0 || e.offset + e.size > st.st_size)
                code = ARC_E_ENTRYSIZE; // listed bytes that the data file does not hold
        }
    } else {
        f->fd = osOpen(full, O_RDONLY, false, code);
        struct stat st;
        if (f->fd >= 0 && fstat(f->fd, &st) != 0)
            code = ARC_E_OPEN;
        else if (f->fd >= 0)
            s->rawSize = st.st_size;
    }
    f->stored = s->rawSize;
    if (code == ARC_OK && type == ARC_TYPE_AUTO) {
        unsigned char head[3];
        type = s->rawSize >= 3 && readStored(s, 0, head, 3) && arc_is_packed(head, 3)
                   ? ARC_TYPE_PACKED
                   : ARC_TYPE_PLAIN;
        s->ioError = ARC_OK; // a head that cannot be read counts as plain, as with arc_open
    }
    // An empty file is empty in either form.
    if (code == ARC_OK && type == ARC_TYPE_PACKED && s->rawSize > 0) {
        unsigned char k = 0;
        if (!readStored(s, 0, &k, 1)) {
            code = s->ioError;
        } else {
            s->key = k ^ ARC_KEY_XOR;
            s->gz = std::make_unique<ArcGzipReader>(readMember, s,
                                                    static_cast<uint64_t>(s->rawSize - 1));
            const int status = s->gz->begin(nullptr);
            if (status < 0)
                code = s->ioError != ARC_OK ? s->ioError : arc_codec_error(status);
            else if (status == ARC_GZ_RESERVED)
                s->error = ARC_E_GZ_RESERVED;
        }
    }
    if (code != ARC_OK) {
        destroyStream(s);
        fail(code);
        return nullptr;
    }
    registerFile(f);
    return s;
}

int64_t arc_stream_read(ArcStream* s, void* buffer, int64_t count)
{
    g_lastError = ARC_OK;
    if (!s)
        return fail(ARC_E_HANDLE), -1;
    if (count < 0 || (!buffer && count > 0))
        return fail(ARC_E_INTERNAL), -1;
    if (s->failed)
        return fail(s->error), -1;
    if (count == 0)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t n = 0;
    if (s->gz) {
        n = s->gz->read(out, static_cast<size_t>(std::min<int64_t>(count, INT64_MAX / 2)));
        if (n < 0) {
            s->failed = true;
            s->error = s->ioError != ARC_OK ? s->ioError : arc_codec_error(s->gz->status());
        }
    } else {
        n = std::min(count, s->rawSize - s->pos);
        if (n > 0 && !readStored(s, s->pos, out, static_cast<size_t>(n))) {
            s->failed = true;
            s->error = s->ioError;
            n = -1;
        } else {
            s->pos += n;
        }
    }
    if (n < 0)
        return fail(s->error), -1;
    return n;
}

int arc_stream_error(const ArcStream* s)
{
    return s ? s->error : ARC_E_HANDLE;
}

bool arc_stream_close(ArcStream* s)
{
    if (!s)
        return false;
    const bool ok = !s->failed;
    destroyStream(s);
    return ok;
}

int arc_stream(const char* path, int type, ArcSink sink, void* ctx)
{
    if (!sink)
        return fail(ARC_E_INTERNAL);
    ArcStream* s = arc_stream_open(path, type);
    if (!s)
        return arc_last_error();
    std::vector<unsigned char> buffer(256 * 1024);
    int code = ARC_OK;
    for (;;) {
        const int64_t n = arc_stream_read(s, buffer.data(), static_cast<int64_t>(buffer.size()));
        if (n <= 0) {
            code = s->error; // ARC_OK or ARC_E_GZ_RESERVED at the end
            break;
        }
        if (const int rc = sink(ctx, buffer.data(), static_cast<size_t>(n)); rc != 0) {
            code = rc;
            break;
        }
    }
    arc_stream_close(s);
    if (code == ARC_OK || code == ARC_E_GZ_RESERVED)
        g_lastError = ARC_OK;
    else
        fail(code);
    return code;
}
