#include "journal.h"

#include "fileio.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {
namespace {

constexpr int64_t kChunk = 1 << 20;
constexpr uint32_t kMaxRecord = 1 << 16;

enum Type : unsigned char {
    Created = 'N',    // a new file: removed on roll-back
    Length = 'T',     // an existing file's length: cut back to it
    Region = 'R',     // original bytes of a region: written back
    Kept = 'B',       // a whole file kept in the journal: renamed back
    MadeDir = 'D',    // a new folder: removed when empty
    RemovedDir = 'E', // a removed empty folder: made again
};

struct Interval
{
    int64_t begin, end;
};

struct FileState
{
    int64_t originalLength = 0;
    BeforeState before;
    std::vector<Interval> saved; // sorted, disjoint
};

struct State
{
    std::string dir, root;
    int depth = 0;
    int indexFd = -1;
    int dataFd = -1;
    int64_t dataLength = 0;
    int kept = 0;
    bool dirty = false;
    bool dirSynced = false;
    std::vector<std::string> unsyncedCopies;
    std::map<std::string, FileState> files; // by device and inode
    std::set<std::string> fresh;            // paths created or replaced in this change
    std::set<std::string> syncFiles, syncDirs;
    std::string poisoned; // why the change cannot commit
    long records = 0;
    std::string keepAs; // where the committed journal is kept, empty: deleted
};

State* g_state = nullptr;
std::string g_lastKept;
std::vector<BeforeState> g_lastKeptBefore;

std::string normal(std::string p)
{
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string parentOf(const std::string& p)
{
    const size_t slash = p.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : p.substr(0, slash);
}

bool below(const std::string& path, const std::string& root)
{
    return path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/';
}

// The root-relative name of a journaled path, empty when not journaled.
std::string relative(const std::string& path)
{
    if (!g_state)
        return {};
    const std::string p = normal(path);
    if (!below(p, g_state->root) || below(p, g_state->dir) || p == g_state->dir)
        return {};
    // "." and ".." would make a path that reads as below the root lead out of it.
    const std::string rel = p.substr(g_state->root.size() + 1);
    for (size_t start = 0; start <= rel.size();) {
        const size_t slash = std::min(rel.find('/', start), rel.size());
        const std::string part = rel.substr(start, slash - start);
        if (part == "." || part == "..")
            return {};
        start = slash + 1;
    }
    return rel;
}

// True when the folder that holds `p` really lies inside the root, links followed.
bool parentInsideRoot(const std::string& p)
{
    char* parent = ::realpath(parentOf(p).c_str(), nullptr);
    char* root = ::realpath(g_state->root.c_str(), nullptr);
    const bool inside = parent && root &&
                        (std::string(parent) == root || below(parent, root));
    std::free(parent);
    std::free(root);
    return inside;
}

std::string fileKey(const struct stat& st)
{
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

void put64(std::string& out, int64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xff));
}

void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

int64_t get64(const unsigned char* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
}

uint32_t get32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t crcOf(const void* data, size_t size, uint32_t crc = 0)
{
    return static_cast<uint32_t>(
        crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

// type, payload length, payload (numbers, then the name), CRC of type and payload.
bool writeRecord(unsigned char type, const std::string& numbers, const std::string& name)
{
    std::string payload = numbers + name;
    std::string rec;
    rec.push_back(static_cast<char>(type));
    put32(rec, static_cast<uint32_t>(payload.size()));
    rec += payload;
    put32(rec, crcOf(rec.data(), rec.size()));
    if (!fio::writeAll(g_state->indexFd, rec.data(), static_cast<int64_t>(rec.size())))
        return false;
    g_state->dirty = true;
    ++g_state->records;
    return true;
}

// Makes every record so far durable before a destructive step.
bool durable()
{
    State& s = *g_state;
    if (!s.dirty)
        return true;
    for (const std::string& copy : s.unsyncedCopies) {
        const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fio::fsync(fd) != 0) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        ::close(fd);
    }
    s.unsyncedCopies.clear();
    if ((s.dataFd >= 0 && fio::fsync(s.dataFd) != 0) || fio::fsync(s.indexFd) != 0)
        return false;
    if (!s.dirSynced) {
        if (!fio::syncDir(s.dir.c_str()) || !fio::syncDir(parentOf(s.dir).c_str()))
            return false;
        s.dirSynced = true;
    }
    s.dirty = false;
    return true;
}

bool copyFile(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = fio::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    bool ok = out >= 0;
    std::vector<char> buf(static_cast<size_t>(kChunk));
    while (ok) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        ok = fio::writeAll(out, buf.data(), n);
    }
    const int e = errno;
    ::close(in);
    if (out >= 0 && fio::close(out) != 0)
        ok = false;
    errno = e;
    return ok;
}

std::string keptName(int n)
{
    return g_state->dir + "/b" + std::to_string(n);
}

bool saveRegion(const std::string& rel, int fd, int64_t begin, int64_t end)
{
    State& s = *g_state;
    if (s.dataFd < 0) {
        s.dataFd = fio::open((s.dir + "/data").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
        if (s.dataFd < 0)
            return false;
    }
    std::vector<unsigned char> buf(static_cast<size_t>(std::min(kChunk, end - begin)));
    while (begin < end) {
        const int64_t n = std::min<int64_t>(end - begin, static_cast<int64_t>(buf.size()));
        int64_t got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd, buf.data() + got, static_cast<size_t>(n - got), begin + got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                if (r == 0)
                    errno = EIO; // the file is shorter than its recorded length
                return false;
            }
            got += r;
        }
        if (!fio::pwriteAll(s.dataFd, buf.data(), n, s.dataLength))
            return false;
        std::string numbers;
        put64(numbers, begin);
        put64(numbers, n);
        put64(numbers, s.dataLength);
        put32(numbers, crcOf(buf.data(), static_cast<size_t>(n)));
        if (!writeRecord(Region, numbers, rel))
            return false;
        s.dataLength += n;
        begin += n;
    }
    return true;
}

FileState* stateOf(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    auto it = g_state->files.find(fileKey(st));
    return it == g_state->files.end() ? nullptr : &it->second;
}

bool removeJournalFiles(const std::string& dir, bool indexGone = false)
{
    // The index first: without it the rest is a committed remainder.
    if (!indexGone && fio::unlink((dir + "/index").c_str()) != 0 && errno != ENOENT)
        return false;
    fio::syncDir(dir.c_str());
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlink((dir + "/" + e->d_name).c_str());
        }
        closedir(d);
    }
    ::rmdir(dir.c_str());
    fio::syncDir(parentOf(dir).c_str());
    return true;
}

void closeState()
{
    if (!g_state)
        return;
    if (g_state->indexFd >= 0)
        ::close(g_state->indexFd);
    if (g_state->dataFd >= 0)
        ::close(g_state->dataFd);
    delete g_state;
    g_state = nullptr;
}

bool makeParents(const std::string& root, const std::string& path)
{
    const std::string parent = parentOf(path);
    struct stat st;
    if (parent == root || ::stat(parent.c_str(), &st) == 0)
        return true;
    if (!below(parent, root) || !makeParents(root, parent))
        return false;
    return fio::mkdir(parent.c_str(), 0777) == 0 || errno == EEXIST;
}

struct Record
{
    unsigned char type;
    int64_t a = 0, b = 0, c = 0;
    uint32_t crc = 0;
    std::string name;
};

// The bytes a Region record kept, read back from the journal's data file and
// checked against the record's CRC; false when they are missing or damaged.
bool readKeptRegion(int dataFd, const Record& r, int64_t limit, std::vector<unsigned char>& buf)
{
    buf.assign(static_cast<size_t>(std::max<int64_t>(0, r.b)), 0);
    bool ok = dataFd >= 0 && r.b >= 0 && r.b <= limit;
    int64_t got = 0;
    while (ok && got < r.b) {
        const ssize_t n =
            ::pread(dataFd, buf.data() + got, static_cast<size_t>(r.b - got), r.c + got);
        if (n <= 0) {
            ok = n < 0 && errno == EINTR;
            continue;
        }
        got += n;
    }
    return ok && crcOf(buf.data(), buf.size()) == r.crc;
}

// A name read from a journal is used only when it stays below the root.
bool safeName(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos)
        return false;
    size_t i = 0;
    while (i <= name.size()) {
        size_t j = name.find('/', i);
        if (j == std::string::npos)
            j = name.size();
        if (name.compare(i, j - i, "..") == 0 && j - i == 2)
            return false;
        i = j + 1;
    }
    return true;
}

std::vector<Record> readRecords(int fd)
{
    std::vector<Record> out;
    std::vector<unsigned char> all;
    unsigned char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.insert(all.end(), buf, buf + n);
    }
    size_t pos = 0;
    while (pos + 5 <= all.size()) {
        const unsigned char type = all[pos];
        const uint32_t len = get32(&all[pos + 1]);
        if (len > kMaxRecord || pos + 5 + len + 4 > all.size())
            break; // cut short: the step it announced never started
        if (crcOf(&all[pos], 5 + len) != get32(&all[pos + 5 + len]))
            break;
        const unsigned char* p = &all[pos + 5];
        Record r;
        r.type = type;
        size_t numbers = 0;
        if (type == Length)
            numbers = 8;
        else if (type == Region)
            numbers = 28;
        else if (type == Kept)
            numbers = 8;
        if (len < numbers)
            break;
        if (type == Length || type == Kept)
            r.a = get64(p);
        if (type == Region) {
            r.a = get64(p);
            r.b = get64(p + 8);
            r.c = get64(p + 16);
            r.crc = get32(p + 24);
        }
        r.name.assign(reinterpret_cast<const char*>(p + numbers), len - numbers);
        if (!safeName(r.name))
            break;
        out.push_back(std::move(r));
        pos += 5 + len + 4;
    }
    return out;
}

} // namespace

bool active()
{
    return g_state != nullptr;
}

std::string root()
{
    return g_state ? g_state->root : std::string();
}

bool covers(const std::string& path)
{
    return !relative(path).empty();
}

bool begin(const std::string& journalDir, const std::string& root, std::string* error)
{
    if (g_state) {
        ++g_state->depth;
        return true;
    }
    auto* s = new State;
    s->dir = normal(journalDir);
    s->root = normal(root);
    s->depth = 1;
    // What a committed change left behind is cleared; an index means a change to
    // roll back first, and the exclusive create below refuses to go on.
    struct stat st;
    // A link planted in the journal's place would carry its files (their clearing
    // and truncation too) somewhere else.
    if (::lstat(s->dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (error)
            *error = s->dir + ": the change journal's folder is not a folder (a link?); refused";
        delete s;
        return false;
    }
    if (::stat((s->dir + "/index").c_str(), &st) != 0 && ::stat(s->dir.c_str(), &st) == 0)
        removeJournalFiles(s->dir, true);
    if (fio::mkdir(s->dir.c_str(), 0777) != 0 && errno != EEXIST) {
        if (error)
            *error = s->dir + ": cannot create the change journal (" + std::strerror(errno) + ")";
        delete s;
        return false;
    }
    if (::lstat(s->dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = s->dir + ": the change journal's folder is not a folder (a link?); refused";
        delete s;
        return false;
    }
    s->indexFd = fio::open((s->dir + "/index").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (s->indexFd < 0) {
        if (error)
            *error = s->dir + "/index: cannot create the change journal (" +
                     std::strerror(errno) + ")";
        ::rmdir(s->dir.c_str());
        delete s;
        return false;
    }
    g_state = s;
    return true;
}

bool willCreate(const std::string& path)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    const std::string p = normal(path);
    if (g_state->fresh.count(p))
        return true;
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0)
        return willReplace(p); // not new after all: keep what is there
    if (!writeRecord(Created, {}, rel))
        return false;
    g_state->fresh.insert(p);
    touched(p);
    touchedDir(parentOf(p)); // the new name is durable once its folder is synced
    return true;
}

bool willChange(const std::string& path, int fd)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    const std::string p = normal(path);
    touched(p);
    if (g_state->fresh.count(p))
        return true;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    const std::string key = fileKey(st);
    if (g_state->files.count(key))
        return true;
    std::string numbers;
    put64(numbers, st.st_size);
    if (!writeRecord(Length, numbers, rel))
        return false;
    FileState& f = g_state->files[key];
    f.originalLength = st.st_size;
    f.before = {rel, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec),
                static_cast<int64_t>(st.st_mtim.tv_nsec), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool willOverwrite(const std::string& path, int fd, int64_t offset, int64_t length)
{
    const std::string rel = relative(path);
    if (rel.empty() || length <= 0)
        return true;
    if (g_state->fresh.count(normal(path))) {
        touched(path);
        return true;
    }
    if (!willChange(path, fd))
        return false;
    FileState* f = stateOf(fd);
    if (!f)
        return false;
    int64_t begin = std::max<int64_t>(0, offset);
    const int64_t end = std::min(offset + length, f->originalLength);
    // Save the parts of [begin, end) that are not saved yet; unsaved bytes below
    // the original length are still the original ones.
    std::vector<Interval> added;
    const size_t count = f->saved.size();
    size_t i = 0;
    while (begin < end) {
        while (i < count && f->saved[i].end <= begin)
            ++i;
        const int64_t gapEnd = i < count ? std::min(end, f->saved[i].begin) : end;
        if (gapEnd > begin) {
            if (!saveRegion(rel, fd, begin, gapEnd))
                return false;
            added.push_back({begin, gapEnd});
        }
        begin = i < count ? std::max(gapEnd, f->saved[i].end) : end;
    }
    if (!added.empty()) {
        f->saved.insert(f->saved.end(), added.begin(), added.end());
        std::sort(f->saved.begin(), f->saved.end(),
                  [](const Interval& x, const Interval& y) { return x.begin < y.begin; });
        std::vector<Interval> merged;
        for (const Interval& iv : f->saved) {
            if (!merged.empty() && iv.begin <= merged.back().end)
                merged.back().end = std::max(merged.back().end, iv.end);
            else
                merged.push_back(iv);
        }
        f->saved = std::move(merged);
        return durable();
    }
    return true;
}

bool willTruncate(const std::string& path, int fd, int64_t newLength)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    if (g_state->fresh.count(normal(path))) {
        touched(path);
        return true;
    }
    if (!willChange(path, fd))
        return false;
    const FileState* f = stateOf(fd);
    if (!f)
        return false;
    if (newLength < f->originalLength)
        return willOverwrite(path, fd, newLength, f->originalLength - newLength);
    return true;
}

bool willReplace(const std::string& path)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    const std::string p = normal(path);
    if (g_state->fresh.count(p))
        return true;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return false;
        return willCreate(p);
    }
    const int n = g_state->kept++;
    const std::string kept = keptName(n);
    if (fio::link(p.c_str(), kept.c_str()) != 0) {
        if (errno == ENOSPC || errno == EIO)
            return false;
        // No hard links here (another file system, or one without them): a copy.
        if (!copyFile(p, kept))
            return false;
        g_state->unsyncedCopies.push_back(kept);
    }
    std::string numbers;
    put64(numbers, n);
    if (!writeRecord(Kept, numbers, rel))
        return false;
    g_state->fresh.insert(p);
    touchedDir(parentOf(p));
    return durable();
}

bool removeInto(const std::string& path)
{
    const std::string p = normal(path);
    // While a change is open nothing outside its root is removed: there the
    // journal could not bring it back.
    if (g_state && (relative(p).empty() || !parentInsideRoot(p))) {
        errno = EPERM;
        return false;
    }
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!willReplace(p))
        return false;
    if (fio::unlink(p.c_str()) != 0)
        return false;
    touchedDir(parentOf(p));
    return true;
}

bool willMakeDir(const std::string& path)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    if (!writeRecord(MadeDir, {}, rel))
        return false;
    touchedDir(parentOf(normal(path)));
    return true;
}

bool willRemoveDir(const std::string& path)
{
    const std::string rel = relative(path);
    if (rel.empty())
        return true;
    if (!writeRecord(RemovedDir, {}, rel))
        return false;
    touchedDir(parentOf(normal(path)));
    return durable();
}

void poison(const std::string& path, const std::string& why)
{
    if (g_state && g_state->poisoned.empty() && !relative(path).empty())
        g_state->poisoned = normal(path) + ": " + why;
}

void touched(const std::string& path)
{
    if (g_state && !relative(path).empty())
        g_state->syncFiles.insert(normal(path));
}

void touchedDir(const std::string& path)
{
    if (g_state)
        g_state->syncDirs.insert(normal(path));
}

bool commit(std::string* error)
{
    if (!g_state) {
        if (error)
            *error = "no change journal is open";
        return false;
    }
    if (--g_state->depth > 0)
        return true;
    State& s = *g_state;
    if (!s.poisoned.empty()) {
        const std::string why = s.poisoned;
        g_state->depth = 1;
        std::string rb;
        rollback(&rb);
        if (error)
            *error = why + (rb.empty() ? std::string() : "; " + rb);
        return false;
    }
    std::string failed;
    // What the change wrote is made durable, file by file and folder by folder, and
    // nothing else: a flush of the whole file system would also wait for whatever
    // other programs have written meanwhile.
    for (const std::string& f : s.syncFiles) {
        const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue; // removed again later in the change
            failed = f;
            break;
        }
        const bool ok = fio::fsync(fd) == 0;
        ::close(fd);
        if (!ok) {
            failed = f;
            break;
        }
    }
    if (failed.empty()) {
        for (const std::string& d : s.syncDirs) {
            struct stat st;
            if (::stat(d.c_str(), &st) != 0)
                continue;
            if (!fio::syncDir(d.c_str())) {
                failed = d;
                break;
            }
        }
    }
    const bool keep = !s.keepAs.empty() && s.records > 0;
    if (failed.empty() &&
        (keep ? fio::rename((s.dir + "/index").c_str(), (s.dir + "/records").c_str())
              : fio::unlink((s.dir + "/index").c_str())) != 0)
        failed = s.dir + "/index";
    if (!failed.empty()) {
        const std::string why = failed + ": " + std::strerror(errno);
        g_state->depth = 1;
        std::string rb;
        rollback(&rb);
        if (error)
            *error = why + (rb.empty() ? std::string() : "; " + rb);
        return false;
    }
    const std::string dir = s.dir;
    const std::string keepAs = s.keepAs;
    std::vector<BeforeState> before;
    for (const auto& [key, f] : s.files)
        before.push_back(f.before);
    closeState();
    g_lastKept.clear();
    g_lastKeptBefore.clear();
    if (keep) {
        // Committed already: a journal that cannot be moved only costs its undo.
        fio::syncDir(dir.c_str());
        if (fio::rename(dir.c_str(), keepAs.c_str()) == 0) {
            fio::syncDir(parentOf(keepAs).c_str());
            fio::syncDir(parentOf(dir).c_str());
            g_lastKept = keepAs;
            g_lastKeptBefore = std::move(before);
            return true;
        }
    }
    removeJournalFiles(dir, true);
    return true;
}

void keepOnCommit(const std::string& keepAs)
{
    if (g_state)
        g_state->keepAs = normal(keepAs);
}

std::string lastKept()
{
    return g_lastKept;
}

std::vector<BeforeState> lastKeptBefore()
{
    return g_lastKeptBefore;
}

namespace {

bool readKept(const std::string& dir, std::vector<Record>* out, std::string* error)
{
    const int fd = ::open((dir + "/records").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = dir + "/records: " + std::strerror(errno);
        return false;
    }
    *out = readRecords(fd);
    ::close(fd);
    return true;
}

// Makes the missing folders of `path` (itself included) as steps of the open journal.
bool ensureDir(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    if (path == g_state->root || !below(path, g_state->root))
        return false;
    if (!ensureDir(parentOf(path)) || !willMakeDir(path))
        return false;
    return fio::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool emptyDir(const std::string& path)
{
    DIR* d = opendir(path.c_str());
    if (!d)
        return false;
    bool empty = true;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            empty = false;
    closedir(d);
    return empty;
}

} // namespace

bool keptRecords(const std::string& keptDir, std::vector<KeptRecord>* out, std::string* error)
{
    std::vector<Record> records;
    if (!readKept(normal(keptDir), &records, error))
        return false;
    out->clear();
    for (const Record& r : records) {
        KeptRecord k{static_cast<char>(r.type), r.name, 0, 0};
        if (r.type == Length)
            k.length = r.a;
        else if (r.type == Region)
            k.offset = r.a, k.length = r.b;
        out->push_back(std::move(k));
    }
    return true;
}

bool revert(const std::string& keptDir, std::string* error)
{
    if (!g_state) {
        if (error)
            *error = "no change journal is open";
        return false;
    }
    const std::string dir = normal(keptDir);
    std::vector<Record> records;
    if (!readKept(dir, &records, error))
        return false;
    // A file put back by a link and then written in place would change the kept copy.
    std::set<std::string> inPlace;
    for (const Record& r : records)
        if (r.type == Length || r.type == Region)
            inPlace.insert(r.name);
    const int dataFd = ::open((dir + "/data").c_str(), O_RDONLY | O_CLOEXEC);
    std::string failure;
    const auto failedOn = [&](const std::string& what) {
        failure = what + ": " + std::strerror(errno);
        return false;
    };
    const auto step = [&](const Record& r) -> bool {
        const std::string path = g_state->root + "/" + r.name;
        struct stat st;
        switch (r.type) {
        case Created:
            if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !removeInto(path))
                return failedOn(path);
            return true;
        case MadeDir:
            if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && emptyDir(path) &&
                (!willRemoveDir(path) || fio::rmdir(path.c_str()) != 0))
                return failedOn(path);
            return true;
        case RemovedDir:
            return ensureDir(path) || failedOn(path);
        case Kept: {
            const std::string kept = dir + "/b" + std::to_string(r.a);
            if (::stat(kept.c_str(), &st) != 0)
                return true; // cut short before the step: nothing was replaced
            // Put beside first and renamed over: the file is whole at every instant.
            const std::string beside = path + ".undo~";
            if (!ensureDir(parentOf(path)) || !willCreate(beside))
                return failedOn(path);
            ::unlink(beside.c_str());
            if (inPlace.count(r.name) || fio::link(kept.c_str(), beside.c_str()) != 0) {
                if (!copyFile(kept, beside))
                    return failedOn(beside);
            }
            if (!willReplace(path) || fio::rename(beside.c_str(), path.c_str()) != 0)
                return failedOn(path);
            touched(path);
            touchedDir(parentOf(path));
            return true;
        }
        case Length: {
            const int fd = fio::open(path.c_str(), O_RDWR | O_NOFOLLOW);
            const bool ok = fd >= 0 && willTruncate(path, fd, r.a) && fio::ftruncate(fd, r.a) == 0;
            const int e = errno;
            if (fd >= 0)
                ::close(fd);
            errno = e;
            return ok || failedOn(path);
        }
        case Region: {
            std::vector<unsigned char> buf;
            bool ok = readKeptRegion(dataFd, r, kChunk, buf);
            if (!ok) {
                errno = EIO;
                return failedOn(dir + "/data");
            }
            const int fd = fio::open(path.c_str(), O_RDWR | O_NOFOLLOW);
            ok = fd >= 0 && willOverwrite(path, fd, r.a, r.b) && fio::pwriteAll(fd, buf.data(), r.b, r.a);
            const int e = errno;
            if (fd >= 0)
                ::close(fd);
            errno = e;
            return ok || failedOn(path);
        }
        default:
            return true;
        }
    };
    bool ok = true;
    for (auto it = records.rbegin(); ok && it != records.rend(); ++it)
        ok = step(*it);
    if (dataFd >= 0)
        ::close(dataFd);
    if (!ok) {
        // Half reverted: the open change must not commit, whatever its caller does.
        poison(g_state->root + "/x", failure);
        if (error)
            *error = failure;
    }
    return ok;
}

bool rollback(std::string* error)
{
    if (!g_state)
        return true;
    const std::string dir = g_state->dir;
    const std::string root = g_state->root;
    closeState();
    std::string report;
    const int rc = recover(dir, root, &report);
    if (rc < 0 && error)
        *error = report;
    return rc >= 0;
}

int recover(const std::string& journalDir, const std::string& root, std::string* report,
            RecoverFailure* failure)
{
    const std::string dir = normal(journalDir);
    const std::string base = normal(root);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        return 0;
    const int indexFd = ::open((dir + "/index").c_str(), O_RDONLY | O_CLOEXEC);
    if (indexFd < 0) {
        removeJournalFiles(dir); // committed, or never started
        return 0;
    }
    const std::vector<Record> records = readRecords(indexFd);
    ::close(indexFd);
    const int dataFd = ::open((dir + "/data").c_str(), O_RDONLY | O_CLOEXEC);

    int failures = 0;
    std::string firstFailure;
    RecoverFailure first;
    std::set<std::string> restored, dirs;
    const auto failedOn = [&](const std::string& what) {
        if (failures++ == 0) {
            firstFailure = what + " (" + std::strerror(errno) + ")";
            first = {false, dir, what, errno};
        }
    };
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const Record& r = *it;
        const std::string path = base + "/" + r.name;
        switch (r.type) {
        case Created:
            if (fio::unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR)
                failedOn(path);
            dirs.insert(parentOf(path));
            break;
        case MadeDir:
            ::rmdir(path.c_str()); // only when empty; what was put there is gone already
            dirs.insert(parentOf(path));
            break;
        case RemovedDir:
            if (!makeParents(base, path + "/x") && errno != EEXIST)
                failedOn(path);
            dirs.insert(parentOf(path));
            break;
        case Kept: {
            const std::string kept = dir + "/b" + std::to_string(r.a);
            if (::stat(kept.c_str(), &st) != 0)
                break; // cut short before the step: nothing was replaced
            if (!makeParents(base, path) || fio::rename(kept.c_str(), path.c_str()) != 0)
                failedOn(path);
            restored.insert(path);
            dirs.insert(parentOf(path));
            break;
        }
        case Length: {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || fio::ftruncate(fd, r.a) != 0)
                failedOn(path);
            if (fd >= 0)
                ::close(fd);
            restored.insert(path);
            break;
        }
        case Region: {
            std::vector<unsigned char> buf;
            bool ok = readKeptRegion(dataFd, r, (1 << 24), buf);
            if (!ok) {
                errno = EIO;
                failedOn(dir + "/data");
                break;
            }
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || !fio::pwriteAll(fd, buf.data(), r.b, r.a))
                failedOn(path);
            if (fd >= 0)
                ::close(fd);
            restored.insert(path);
            break;
        }
        default:
            break;
        }
    }
    if (dataFd >= 0)
        ::close(dataFd);
    for (const std::string& f : restored) {
        const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            if (fio::fsync(fd) != 0)
                failedOn(f);
            ::close(fd);
        }
    }
    for (const std::string& d : dirs)
        if (::stat(d.c_str(), &st) == 0)
            fio::syncDir(d.c_str());
    if (failures > 0) {
        if (failure)
            *failure = first;
        if (report)
            *report = "the roll-back of " + dir + " failed on " + firstFailure +
                      "; the journal is kept for the next start";
        return -1;
    }
    if (!removeJournalFiles(dir)) {
        if (failure)
            *failure = {true, dir, {}, 0};
        if (report)
            *report = "rolled back, but " + dir + " could not be removed";
        return -1;
    }
    if (report)
        *report = "rolled back an unfinished change (" + std::to_string(records.size()) +
                  " steps) from " + dir;
    return 1;
}

} // namespace journal
