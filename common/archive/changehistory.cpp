#include "changehistory.h"

#include "gamechange.h"
#include "journal.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Stored in users' files: do not rename.
const char kHistoryFile[] = "history.jsonl";
const char kPending[] = "pending-";
// Far beyond what a game directory's history reaches; a bigger file is not read whole.
constexpr qint64 kMaxHistoryBytes = qint64(64) << 20;

HistoryLimits g_limits;
QString g_program;
HistoryOperation* g_operation = nullptr;
std::atomic<int> g_pendingCounter{0};

QString clean(const QString& dir)
{
    return QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
}

QString entryFolder(const QString& gameDir, int id)
{
    return ChangeHistory::folder(gameDir) + QLatin1Char('/') + QString::number(id);
}

QString journalFolder(const QString& gameDir, int id, int n)
{
    return entryFolder(gameDir, id) + QStringLiteral("/j") + QString::number(n);
}

qint64 folderBytes(const QString& dir)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

bool readLines(const QString& gameDir, QList<QJsonObject>* out, QString* error)
{
    QFile f(ChangeHistory::folder(gameDir) + QLatin1Char('/') + QLatin1String(kHistoryFile));
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxHistoryBytes) {
        if (error)
            *error = QDir::toNativeSeparators(f.fileName()) +
                     (f.isOpen() ? QStringLiteral(": too large to read")
                                 : QStringLiteral(": ") + f.errorString());
        return false;
    }
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        // A line cut short by a crash, or written by hand, is not an entry.
        if (doc.isObject() && doc.object().value(QStringLiteral("id")).toInt() > 0)
            out->append(doc.object());
    }
    return true;
}

int nextId(const QString& gameDir)
{
    int id = 0;
    QList<QJsonObject> lines;
    readLines(gameDir, &lines, nullptr);
    for (const QJsonObject& o : std::as_const(lines))
        id = std::max(id, o.value(QStringLiteral("id")).toInt());
    // A folder whose entry line was lost keeps its number taken.
    for (const QString& name : QDir(ChangeHistory::folder(gameDir)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        id = std::max(id, name.toInt());
    return id + 1;
}

bool appendLine(const QString& gameDir, const QByteArray& line, QString* error)
{
    const QString path = ChangeHistory::folder(gameDir) + QLatin1Char('/') + QLatin1String(kHistoryFile);
    const QByteArray os = QFile::encodeName(path);
    const int fd = ::open(os.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    qint64 done = 0;
    while (ok && done < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + done, static_cast<size_t>(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += std::max<ssize_t>(n, 0);
    }
    ok = ok && ::fsync(fd) == 0;
    const int e = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok)
        ok = false;
    if (!ok && error)
        *error = QDir::toNativeSeparators(path) + QStringLiteral(": cannot be written (") +
                 QString::fromLocal8Bit(std::strerror(e)) + QLatin1Char(')');
    return ok;
}

// Walks the entries as undo and redo moved through them: `done` holds the changes
// (and redos) undo would revert, newest last; `undone` the undos redo would revert.
void stacks(const QList<HistoryEntry>& entries, QList<int>* done, QList<int>* undone)
{
    for (const HistoryEntry& e : entries) {
        if (e.kind == QLatin1String("undo")) {
            done->removeAll(e.reverts);
            undone->append(e.id);
        } else if (e.kind == QLatin1String("redo")) {
            undone->removeAll(e.reverts);
            done->append(e.id);
        } else {
            done->append(e.id);
            undone->clear(); // a new change ends what could be redone
        }
    }
}

void removeFolder(const QString& path)
{
    QDir(path).removeRecursively();
}

// Drops undo data no undo or redo can reach any more, then the oldest until the
// limits hold.
void prune(const QString& gameDir)
{
    QList<HistoryEntry> entries;
    if (!ChangeHistory::read(gameDir, &entries))
        return;
    QList<int> done, undone;
    stacks(entries, &done, &undone);
    QList<int> live = done + undone;
    std::sort(live.begin(), live.end());
    const QDir dir(ChangeHistory::folder(gameDir));
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const int id = name.toInt(&numeric);
        if ((numeric && !live.contains(id)) || name.startsWith(QLatin1String(kPending)))
            removeFolder(dir.filePath(name));
    }
    QList<QPair<int, qint64>> held;
    qint64 total = 0;
    for (int id : std::as_const(live)) {
        const QString folder = entryFolder(gameDir, id);
        if (!QFileInfo::exists(folder))
            continue;
        const qint64 bytes = folderBytes(folder);
        held.append({id, bytes});
        total += bytes;
    }
    const HistoryLimits limits = g_limits;
    while (!held.isEmpty() && (held.size() > std::max(0, limits.changes) || total > limits.bytes)) {
        removeFolder(entryFolder(gameDir, held.first().first));
        total -= held.first().second;
        held.removeFirst();
    }
}

// Stored as "seconds.nanoseconds": a JSON number would lose the nanoseconds.
QString timeText(qint64 sec, qint64 nsec)
{
    return QString::number(sec) + QLatin1Char('.') + QStringLiteral("%1").arg(nsec, 9, 10, QLatin1Char('0'));
}

bool parseTime(const QJsonValue& v, qint64* sec, qint64* nsec)
{
    const QStringList parts = v.toString().split(QLatin1Char('.'));
    bool a = false, b = false;
    if (parts.size() == 2) {
        *sec = parts[0].toLongLong(&a);
        *nsec = parts[1].toLongLong(&b);
    }
    return a && b;
}

QJsonObject printJson(const FilePrint& p)
{
    QJsonArray ranges;
    for (const auto& [begin, end] : p.ranges)
        ranges.append(QJsonArray{double(begin), double(end)});
    return {{QStringLiteral("size"), double(p.size)},
            {QStringLiteral("mtime"), timeText(p.mtimeSec, p.mtimeNsec)},
            {QStringLiteral("inode"), QString::number(p.inode)},
            {QStringLiteral("ranges"), ranges},
            {QStringLiteral("sha1"), p.hash}};
}

// A print that does not parse gets the size -2, which no file has: undo refuses.
FilePrint printFromJson(const QJsonObject& o)
{
    FilePrint p;
    bool inode = false;
    p.size = o.value(QStringLiteral("size")).toInteger(-2);
    p.inode = o.value(QStringLiteral("inode")).toString().toULongLong(&inode);
    p.hash = o.value(QStringLiteral("sha1")).toString();
    for (const QJsonValue& r : o.value(QStringLiteral("ranges")).toArray())
        p.ranges.append({r.toArray().at(0).toInteger(-1), r.toArray().at(1).toInteger(-1)});
    if (!parseTime(o.value(QStringLiteral("mtime")), &p.mtimeSec, &p.mtimeNsec) || !inode ||
        p.size < 0 || p.hash.isEmpty())
        p.size = -2;
    return p;
}

struct stat statOf(const QString& path, bool* ok)
{
    struct stat st {};
    *ok = ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
    return st;
}

bool setTime(const QString& path, qint64 sec, qint64 nsec)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = static_cast<long>(nsec);
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// The ranges a change wrote to one file in place, over all its journals.
struct InPlace
{
    bool wholeOnly = false; // also made or replaced within the operation
    qint64 shortest = -1;   // the least length a journal found it with
    QList<QPair<qint64, qint64>> regions;
};

QList<QPair<qint64, qint64>> merged(QList<QPair<qint64, qint64>> ranges, qint64 size)
{
    std::sort(ranges.begin(), ranges.end());
    QList<QPair<qint64, qint64>> out;
    for (auto [begin, end] : std::as_const(ranges)) {
        begin = std::max<qint64>(0, begin);
        end = std::min(end, size);
        if (begin >= end)
            continue;
        if (!out.isEmpty() && begin <= out.last().second)
            out.last().second = std::max(out.last().second, end);
        else
            out.append({begin, end});
    }
    return out;
}

} // namespace

QJsonObject HistoryEntry::toJson() const
{
    QJsonArray fileArray, slotArray;
    for (const HistoryFile& f : files) {
        QJsonObject o{{QStringLiteral("name"), f.name},
                      {QStringLiteral("change"), f.change},
                      {QStringLiteral("after"), f.after.isEmpty() ? QJsonValue() : QJsonValue(f.after)}};
        if (f.print.valid())
            o.insert(QStringLiteral("print"), printJson(f.print));
        if (f.before.valid())
            o.insert(QStringLiteral("before"),
                     QJsonObject{{QStringLiteral("size"), double(f.before.size)},
                                 {QStringLiteral("mtime"), timeText(f.before.mtimeSec, f.before.mtimeNsec)}});
        fileArray.append(o);
    }
    for (int s : shipSlots)
        slotArray.append(s);
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("time"), time.toUTC().toString(Qt::ISODate)},
                  {QStringLiteral("program"), program},
                  {QStringLiteral("operation"), operation},
                  {QStringLiteral("label"), label},
                  {QStringLiteral("kind"), kind},
                  {QStringLiteral("ships"), QJsonArray::fromStringList(ships)},
                  {QStringLiteral("slots"), slotArray},
                  {QStringLiteral("files"), fileArray},
                  {QStringLiteral("journals"), journals}};
    if (reverts > 0)
        o.insert(QStringLiteral("reverts"), reverts);
    if (!action.isEmpty()) {
        o.insert(QStringLiteral("action"), action);
        o.insert(QStringLiteral("actionArgs"), QJsonArray::fromStringList(actionArgs));
    }
    if (selectedModChanged)
        o.insert(QStringLiteral("selectedMod"),
                 QJsonObject{{QStringLiteral("before"), selectedModBefore},
                             {QStringLiteral("after"), selectedModAfter}});
    return o;
}

HistoryEntry HistoryEntry::fromJson(const QJsonObject& o)
{
    HistoryEntry e;
    e.id = o.value(QStringLiteral("id")).toInt();
    e.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODate);
    e.program = o.value(QStringLiteral("program")).toString();
    e.operation = o.value(QStringLiteral("operation")).toString();
    e.label = o.value(QStringLiteral("label")).toString();
    e.kind = o.value(QStringLiteral("kind")).toString(QStringLiteral("change"));
    e.reverts = o.value(QStringLiteral("reverts")).toInt();
    e.action = o.value(QStringLiteral("action")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("actionArgs")).toArray())
        e.actionArgs.append(v.toString());
    for (const QJsonValue& v : o.value(QStringLiteral("ships")).toArray())
        e.ships.append(v.toString());
    for (const QJsonValue& v : o.value(QStringLiteral("slots")).toArray())
        e.shipSlots.append(v.toInt());
    for (const QJsonValue& v : o.value(QStringLiteral("files")).toArray()) {
        const QJsonObject f = v.toObject();
        HistoryFile file{f.value(QStringLiteral("name")).toString(),
                         f.value(QStringLiteral("change")).toString(),
                         f.value(QStringLiteral("after")).toString(), {}, {}};
        if (f.contains(QStringLiteral("print")))
            file.print = printFromJson(f.value(QStringLiteral("print")).toObject());
        const QJsonObject before = f.value(QStringLiteral("before")).toObject();
        if (parseTime(before.value(QStringLiteral("mtime")), &file.before.mtimeSec, &file.before.mtimeNsec))
            file.before.size = before.value(QStringLiteral("size")).toInteger(-1);
        e.files.append(file);
    }
    e.journals = o.value(QStringLiteral("journals")).toInt();
    const QJsonValue mod = o.value(QStringLiteral("selectedMod"));
    if (mod.isObject()) {
        e.selectedModChanged = true;
        e.selectedModBefore = mod.toObject().value(QStringLiteral("before")).toString();
        e.selectedModAfter = mod.toObject().value(QStringLiteral("after")).toString();
    }
    return e;
}

namespace ChangeHistory {

QString folder(const QString& gameDir)
{
    return clean(gameDir) + QStringLiteral("/Slipway/history");
}

QString pendingFolder(const QString& gameDir)
{
    return folder(gameDir) + QLatin1Char('/') + QLatin1String(kPending) +
           QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') +
           QString::number(++g_pendingCounter);
}

void setLimits(const HistoryLimits& limits)
{
    g_limits = limits;
}

HistoryLimits limits()
{
    return g_limits;
}

void setProgram(const QString& program)
{
    g_program = program;
}

QString fileHash(const QString& path)
{
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&f))
        return QStringLiteral("unreadable");
    return QString::fromLatin1(hash.result().toHex());
}

FilePrint filePrint(const QString& path, const QList<QPair<qint64, qint64>>& ranges)
{
    bool ok = false;
    const struct stat st = statOf(path, &ok);
    QFile f(path);
    if (!ok || !f.open(QIODevice::ReadOnly))
        return {};
    FilePrint p;
    p.size = st.st_size;
    p.mtimeSec = st.st_mtim.tv_sec;
    p.mtimeNsec = st.st_mtim.tv_nsec;
    p.inode = st.st_ino;
    p.ranges = ranges;
    // The ends catch most edits by other tools (headers, appended data) at once.
    constexpr qint64 kEnd = qint64(64) << 10;
    QList<QPair<qint64, qint64>> read = ranges;
    read.append({0, kEnd});
    read.append({p.size - kEnd, p.size});
    QCryptographicHash hash(QCryptographicHash::Sha1);
    QByteArray buffer;
    for (const auto& [begin, end] : merged(read, p.size)) {
        if (!f.seek(begin))
            return {};
        for (qint64 at = begin; at < end;) {
            buffer = f.read(std::min<qint64>(end - at, qint64(1) << 20));
            if (buffer.isEmpty())
                return {};
            hash.addData(buffer);
            at += buffer.size();
        }
    }
    p.hash = QString::fromLatin1(hash.result().toHex());
    return p;
}

bool printMatches(const QString& path, const FilePrint& print)
{
    bool ok = false;
    const struct stat st = statOf(path, &ok);
    // The cheap checks first: most outside changes move the time or the length.
    if (!ok || st.st_size != print.size || st.st_mtim.tv_sec != print.mtimeSec ||
        st.st_mtim.tv_nsec != print.mtimeNsec || st.st_ino != print.inode)
        return false;
    const FilePrint now = filePrint(path, print.ranges);
    return now.valid() && now.hash == print.hash && now.size == print.size &&
           now.mtimeSec == print.mtimeSec && now.mtimeNsec == print.mtimeNsec;
}

bool read(const QString& gameDir, QList<HistoryEntry>* entries, QString* error)
{
    entries->clear();
    QList<QJsonObject> lines;
    if (!readLines(gameDir, &lines, error))
        return false;
    for (const QJsonObject& o : std::as_const(lines)) {
        HistoryEntry e = HistoryEntry::fromJson(o);
        const QString data = entryFolder(gameDir, e.id);
        e.hasData = e.journals > 0 &&
                    QFileInfo::exists(journalFolder(gameDir, e.id, e.journals) + QStringLiteral("/records"));
        e.dataBytes = e.hasData ? folderBytes(data) : 0;
        entries->append(e);
    }
    QList<int> done, undone;
    stacks(*entries, &done, &undone);
    const auto mark = [entries](const QList<int>& stack, bool HistoryEntry::*flag) {
        // Newest first, as far as each one's data reaches: nothing is undone across a gap.
        for (auto it = stack.crbegin(); it != stack.crend(); ++it) {
            auto e = std::find_if(entries->begin(), entries->end(),
                                  [id = *it](const HistoryEntry& x) { return x.id == id; });
            if (e == entries->end() || !e->hasData)
                break;
            e->*flag = true;
        }
    };
    mark(done, &HistoryEntry::undoable);
    mark(undone, &HistoryEntry::redoable);
    return true;
}

const HistoryEntry* nextUndo(const QList<HistoryEntry>& entries)
{
    const HistoryEntry* found = nullptr;
    for (const HistoryEntry& e : entries)
        if (e.undoable)
            found = &e;
    return found;
}

const HistoryEntry* nextRedo(const QList<HistoryEntry>& entries)
{
    const HistoryEntry* found = nullptr;
    for (const HistoryEntry& e : entries)
        if (e.redoable)
            found = &e;
    return found;
}

bool committed(const QString& gameDir, const QString& keptDir, const QString& label, QString* error)
{
    const QString dir = clean(gameDir);
    HistoryOperation* op = g_operation && clean(g_operation->m_gameDir) == dir ? g_operation : nullptr;
    std::unique_ptr<HistoryOperation> alone;
    if (!op) {
        // A change outside any operation is an entry of its own.
        alone = std::make_unique<HistoryOperation>(dir, label);
        if (g_operation == alone.get())
            g_operation = nullptr;
        op = alone.get();
    }
    HistoryEntry& e = op->m_entry;
    if (e.id == 0)
        e.id = nextId(dir);
    if (e.operation.isEmpty())
        e.operation = label;
    const QString target = journalFolder(dir, e.id, e.journals + 1);
    if (!QDir().mkpath(entryFolder(dir, e.id)) || !QDir().rename(keptDir, target)) {
        removeFolder(keptDir);
        // Later changes of the operation are still recorded; this one cannot be undone.
        op->m_error = QDir::toNativeSeparators(target) + QStringLiteral(": cannot keep the undo data");
        if (error)
            *error = op->m_error;
        return false;
    }
    ++e.journals;
    for (const journal::BeforeState& b : journal::lastKeptBefore()) {
        const QString rel = QFile::decodeName(QByteArray::fromStdString(b.name));
        if (!op->m_before.contains(rel))
            op->m_before.insert(rel, FileStamp{b.length, b.mtimeSec, b.mtimeNsec});
    }
    return alone ? alone->finish(error) : true;
}

bool undo(const QString& gameDir, bool redo, QString* error, HistoryEntry* done,
          const OutsideValue* selectedMod, Refusal* refusal)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const auto refuse = [refusal](Refusal::Reason reason, const HistoryEntry& e, const QString& file = {},
                                  const QString& detail = {}) {
        if (refusal)
            *refusal = {reason, e, file, detail};
    };
    if (refusal)
        *refusal = {Refusal::Nothing, {}, {}, {}};
    const QString dir = clean(gameDir);
    QList<HistoryEntry> entries;
    QString why;
    if (!read(dir, &entries, &why))
        return refuse(Refusal::Failed, {}, {}, why), fail(why);
    const HistoryEntry* target = redo ? nextRedo(entries) : nextUndo(entries);
    if (!target) {
        QList<int> doneIds, undoneIds;
        stacks(entries, &doneIds, &undoneIds);
        const QList<int>& stack = redo ? undoneIds : doneIds;
        if (stack.isEmpty())
            return fail(redo ? QStringLiteral("nothing to redo") : QStringLiteral("nothing to undo"));
        for (const HistoryEntry& e : entries)
            if (e.id == stack.last())
                return refuse(Refusal::NoData, e), fail(QStringLiteral("\"%1\" cannot be %2: its undo data was not kept or was "
                                           "dropped for newer changes")
                                .arg(e.operation, redo ? QStringLiteral("redone") : QStringLiteral("undone")));
        return fail(QStringLiteral("nothing to undo"));
    }
    const HistoryEntry entry = *target;
    const QString verb = redo ? QStringLiteral("redo") : QStringLiteral("undo");
    for (const HistoryFile& f : entry.files) {
        const QString path = dir + QLatin1Char('/') + f.name;
        if (f.print.size != -1 ? !printMatches(path, f.print) : fileHash(path) != f.after)
            return refuse(Refusal::Changed, entry, QDir::toNativeSeparators(path)),
                   fail(QStringLiteral("%1 has changed since \"%2\"; %3 refused")
                            .arg(QDir::toNativeSeparators(dir + QLatin1Char('/') + f.name),
                                 entry.operation, verb));
    }
    if (entry.selectedModChanged) {
        if (!selectedMod)
            return refuse(Refusal::Unreachable, entry), fail(QStringLiteral("\"%1\" changed the game's selected mod, which cannot be "
                                       "reached here; %2 refused").arg(entry.operation, verb));
        if (selectedMod->read() != entry.selectedModAfter)
            return refuse(Refusal::ValueChanged, entry, selectedMod->name), fail(QStringLiteral("%1 has changed since \"%2\"; %3 refused")
                            .arg(selectedMod->name, entry.operation, verb));
    }
    HistoryOperation op(dir, (redo ? QStringLiteral("Redo ") : QStringLiteral("Undo ")) + entry.label);
    op.setReverting(verb, entry.id, entry.label);
    op.setAction(entry.action, entry.actionArgs);
    for (qsizetype k = 0; k < entry.ships.size(); ++k)
        op.addShip(entry.ships.at(k), k < entry.shipSlots.size() ? entry.shipSlots.at(k) : -1);
    {
        GameChange change(dir);
        if (!change.ok())
            return refuse(Refusal::Failed, entry, {}, change.error()),
                   fail(QStringLiteral("cannot start the change: ") + change.error());
        for (int n = entry.journals; n >= 1; --n) {
            std::string reason;
            if (!journal::revert(QFile::encodeName(journalFolder(dir, entry.id, n)).toStdString(), &reason)) {
                change.rollback();
                refuse(Refusal::Failed, entry, {}, QString::fromLocal8Bit(reason.c_str()));
                return fail(QStringLiteral("%1 failed, nothing was changed: %2")
                                .arg(verb, QString::fromLocal8Bit(reason.c_str())));
            }
        }
        // Outside the journal: written last, and put back when the commit fails.
        if (entry.selectedModChanged) {
            if (!selectedMod->write(entry.selectedModBefore, &why)) {
                change.rollback();
                refuse(Refusal::Failed, entry, {}, why);
                return fail(QStringLiteral("%1 failed, nothing was changed: %2").arg(verb, why));
            }
            op.setSelectedMod(entry.selectedModAfter, entry.selectedModBefore);
        }
        if (!change.commit()) {
            if (entry.selectedModChanged)
                selectedMod->write(entry.selectedModAfter, nullptr);
            refuse(Refusal::Failed, entry, {}, change.error());
            return fail(QStringLiteral("%1 failed, nothing was changed: %2").arg(verb, change.error()));
        }
    }
    refuse(Refusal::None, {});
    // A file written back in place gets its time back too: the print of the
    // change before this one (time included) then holds again. Failing costs
    // only that older undo, which is refused.
    for (const HistoryFile& f : entry.files) {
        const QString path = dir + QLatin1Char('/') + f.name;
        bool ok = false;
        const struct stat st = statOf(path, &ok);
        if (f.print.valid() && f.before.valid() && ok && st.st_size == f.before.size &&
            st.st_ino == f.print.inode && setTime(path, f.before.mtimeSec, f.before.mtimeNsec))
            op.m_timeRestored.insert(f.name);
    }
    const bool written = op.finish(error);
    if (done)
        *done = op.entry();
    return written;
}

} // namespace ChangeHistory

HistoryOperation::HistoryOperation(const QString& gameDir, const QString& operation)
    : m_gameDir(clean(gameDir))
{
    m_entry.operation = operation;
    m_entry.kind = QStringLiteral("change");
    if (!g_operation)
        g_operation = this;
}

HistoryOperation::~HistoryOperation()
{
    finish();
}

void HistoryOperation::setOperation(const QString& operation)
{
    m_entry.operation = operation;
}

void HistoryOperation::setAction(const QString& action, const QStringList& args)
{
    m_entry.action = action;
    m_entry.actionArgs = args;
}

void HistoryOperation::addShip(const QString& ship, int slot)
{
    m_entry.ships.append(ship);
    m_entry.shipSlots.append(slot);
}

void HistoryOperation::setSelectedMod(const QString& before, const QString& after)
{
    m_entry.selectedModChanged = before != after;
    m_entry.selectedModBefore = before;
    m_entry.selectedModAfter = after;
}

HistoryOperation* HistoryOperation::current()
{
    return g_operation;
}

void HistoryOperation::setReverting(const QString& kind, int reverts, const QString& label)
{
    m_entry.kind = kind;
    m_entry.reverts = reverts;
    m_entry.label = label;
}

bool HistoryOperation::finish(QString* error)
{
    if (g_operation == this)
        g_operation = nullptr;
    if (m_finished || m_entry.journals == 0) {
        m_finished = true;
        if (!m_error.isEmpty() && error)
            *error = m_error;
        return m_error.isEmpty();
    }
    m_finished = true;
    HistoryEntry& e = m_entry;
    if (e.label.isEmpty())
        e.label = e.operation;
    e.time = QDateTime::currentDateTimeUtc();
    e.program = g_program.isEmpty() ? QCoreApplication::applicationName() : g_program;
    // The first record of a name tells what it was before the operation.
    QStringList order;
    QHash<QString, QChar> first;
    QHash<QString, QString> keptCopy; // a replaced file's bytes before the operation
    QHash<QString, InPlace> inPlace;
    for (int n = 1; n <= e.journals; ++n) {
        std::vector<journal::KeptRecord> records;
        std::string why;
        const QString folder = journalFolder(m_gameDir, e.id, n);
        journal::keptRecords(QFile::encodeName(folder).toStdString(), &records, &why);
        int kept = 0; // the journal numbers its kept files in record order
        for (const journal::KeptRecord& r : records) {
            const QString rel = QFile::decodeName(QByteArray::fromStdString(r.name));
            const int number = r.type == 'B' ? kept++ : -1;
            if (r.type == 'D' || r.type == 'E' || rel.endsWith(QLatin1String(".undo~")))
                continue;
            InPlace& w = inPlace[rel];
            if (r.type == 'N' || r.type == 'B')
                w.wholeOnly = true;
            else if (r.type == 'T')
                w.shortest = w.shortest < 0 ? r.length : std::min<qint64>(w.shortest, r.length);
            else if (r.type == 'R')
                w.regions.append({r.offset, r.offset + r.length});
            if (first.contains(rel))
                continue;
            first.insert(rel, QLatin1Char(r.type));
            if (number >= 0)
                keptCopy.insert(rel, folder + QStringLiteral("/b") + QString::number(number));
            order.append(rel);
        }
    }
    std::sort(order.begin(), order.end());
    e.files.clear();
    for (const QString& rel : std::as_const(order)) {
        const QString path = m_gameDir + QLatin1Char('/') + rel;
        const QChar type = first.value(rel);
        const InPlace w = inPlace.value(rel);
        HistoryFile file{rel, QString(), QString(), {}, {}};
        const QFileInfo info(path);
        if (type == QLatin1Char('T') && !w.wholeOnly && w.shortest >= 0 && info.isFile() &&
            info.size() > ChangeHistory::kWholeHashBytes) {
            // Written in place: hashed where this operation wrote, not whole.
            if (!m_timeRestored.contains(rel)) {
                // One nanosecond back: a write by another program within the same
                // clock tick would otherwise leave the time as recorded.
                bool ok = false;
                const struct stat st = statOf(path, &ok);
                if (ok)
                    setTime(path, st.st_mtim.tv_nsec > 0 ? st.st_mtim.tv_sec : st.st_mtim.tv_sec - 1,
                            st.st_mtim.tv_nsec > 0 ? st.st_mtim.tv_nsec - 1 : 999999999);
            }
            QList<QPair<qint64, qint64>> wrote = w.regions;
            wrote.append({w.shortest, info.size()});
            file.print = ChangeHistory::filePrint(path, merged(wrote, info.size()));
            file.before = m_before.value(rel);
        }
        if (!file.print.valid())
            file.after = ChangeHistory::fileHash(path);
        file.change = type == QLatin1Char('N')   ? QStringLiteral("added")
                      : type == QLatin1Char('B') ? QStringLiteral("replaced")
                                                 : QStringLiteral("changed");
        if (file.after.isEmpty() && !file.print.valid()) {
            if (type == QLatin1Char('N'))
                continue; // made and removed again within the operation
            file.change = QStringLiteral("removed");
        }
        e.files.append(file);
    }
    // Rewritten with the same bytes (a registry saved unchanged): nothing to remember.
    const bool same = std::all_of(e.files.cbegin(), e.files.cend(), [&keptCopy](const HistoryFile& f) {
        return f.change == QLatin1String("replaced") &&
               ChangeHistory::fileHash(keptCopy.value(f.name)) == f.after;
    });
    if (same && m_error.isEmpty()) {
        removeFolder(entryFolder(m_gameDir, e.id));
        return true;
    }
    // An operation that lost one of its journals cannot be undone whole.
    if (!m_error.isEmpty())
        removeFolder(entryFolder(m_gameDir, e.id));
    QString why;
    const bool ok =
        appendLine(m_gameDir, QJsonDocument(e.toJson()).toJson(QJsonDocument::Compact) + '\n', &why);
    if (!ok && m_error.isEmpty())
        m_error = QStringLiteral("the change was made, but its history entry could not be written: ") + why;
    prune(m_gameDir);
    if (!m_error.isEmpty() && error)
        *error = m_error;
    return m_error.isEmpty();
}
