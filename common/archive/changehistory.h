// The history of a game directory's changes and the undo of the last one.
//
// Every committed GameChange of a game directory keeps its journal (what the change
// destroyed) and appends one entry to <game>/Slipway/history/history.jsonl: time,
// program, operation, ships and slots, and every file added, replaced, changed or
// removed with the hash of its content after the change (a large file written in
// place: a FilePrint). The kept journals live in
// <game>/Slipway/history/<id>/j<n>; they are what undo needs, bounded by
// HistoryLimits (oldest dropped first).
//
// Undo reverts the newest change not undone yet as one change of its own (journaled,
// in the history); redo reverts the newest undo. Both refuse, naming the file, when a
// file they would restore no longer has the content recorded after the change.
//
// The entry fields and file names are stored in users' game directories: do not
// rename them. The caller holds the game directory's writer lock.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

struct HistoryLimits
{
    int changes = 10;                  // undo data kept for this many changes at most
    qint64 bytes = qint64(512) << 20; // and this many bytes
};

// A large file changed in place (the mod's data file, to which an install appends
// a few KiB) is not hashed whole after each change: undo checks its length,
// modification time, inode and a hash of the byte ranges the change wrote plus its
// first and last 64 KiB, in proportion to the change.
struct FilePrint
{
    qint64 size = -1; // -1: none, the file has a whole-content hash
    qint64 mtimeSec = 0, mtimeNsec = 0;
    quint64 inode = 0;
    QList<QPair<qint64, qint64>> ranges; // [begin, end) the change wrote, sorted, disjoint
    QString hash; // SHA-1 of those ranges and the first and last 64 KiB, in file order
    bool valid() const { return size >= 0; }
};

// Such a file as it was before the change: undo puts its modification time back
// with its bytes, so that the fingerprint of the change before still matches.
struct FileStamp
{
    qint64 size = -1; // -1: not recorded
    qint64 mtimeSec = 0, mtimeNsec = 0;
    bool valid() const { return size >= 0; }
};

struct HistoryFile
{
    QString name;   // below the game directory, "/" separators
    QString change; // "added", "replaced", "changed" or "removed"
    QString after;  // content hash after the change, empty when the file is gone or has a print
    FilePrint print;
    FileStamp before;
};

struct HistoryEntry
{
    int id = 0;
    QDateTime time;
    QString program;
    QString operation; // as shown: "Install Merganser", "Undo Install Merganser"
    QString label;     // the change undo and redo name: "Install Merganser"
    QString kind;      // "change", "undo" or "redo"
    // What `label` names, for a window to word in its language: one of the
    // HistoryAction names and its arguments (ships, the base mod). Empty in entries
    // written before these fields; a window shows those as `label` is.
    QString action;
    QStringList actionArgs;
    int reverts = 0;   // undo and redo: the entry they reverted
    QStringList ships;
    QList<int> shipSlots;
    QList<HistoryFile> files;
    int journals = 0;  // kept journals (j1..jN)
    // The game's selected-mod value lives outside the game directory: recorded when
    // the operation changed it, put back by undo.
    bool selectedModChanged = false;
    QString selectedModBefore, selectedModAfter;
    // Derived when read: undo data present, and what undo or redo would revert now.
    qint64 dataBytes = 0;
    bool hasData = false;
    bool undoable = false; // undo (now or after undoing newer ones) reverts it
    bool redoable = false;
    QJsonObject toJson() const;
    static HistoryEntry fromJson(const QJsonObject& o);
};

// The actions of HistoryEntry::action. Stored in users' game directories: do not
// rename. The arguments are named after each.
namespace HistoryAction {
inline constexpr char Install[] = "install";         // the ships (none: "Install")
inline constexpr char Uninstall[] = "uninstall";     // the ship
inline constexpr char Enable[] = "enable";           // the ship
inline constexpr char Disable[] = "disable";         // the ship
inline constexpr char UpdateMod[] = "update-mod";
inline constexpr char BaseMod[] = "base-mod";        // the mod, "fake" for a fake patch
inline constexpr char NoBaseMod[] = "no-base-mod";
inline constexpr char BaseModAgain[] = "base-mod-again"; // "fake" for a fake patch
inline constexpr char LoadingScreensOn[] = "loading-screens-on";
inline constexpr char LoadingScreensOff[] = "loading-screens-off";
inline constexpr char Scripts[] = "scripts";
inline constexpr char SaveRegistry[] = "save-registry";
inline constexpr char Edit[] = "edit";               // the ship
} // namespace HistoryAction

namespace ChangeHistory {

QString folder(const QString& gameDir);
// Entries oldest first; false (the reason in `error`) when the file cannot be read.
// A missing file is an empty history. Lines that do not parse are skipped.
bool read(const QString& gameDir, QList<HistoryEntry>* entries, QString* error = nullptr);
// The entry undo (or redo) would revert now, or nullptr; `entries` as read().
const HistoryEntry* nextUndo(const QList<HistoryEntry>& entries);
const HistoryEntry* nextRedo(const QList<HistoryEntry>& entries);
// Reverts the newest change (redo: the newest undo). False with the reason, nothing
// changed, when there is none, its undo data was dropped, a file it would restore
// changed since, or a step failed (rolled back). `done` gets the new entry.
// `selectedMod` reads and writes the game's selected-mod value (null: an entry
// that changed it is refused).
struct OutsideValue
{
    std::function<QString()> read;
    std::function<bool(const QString& value, QString* error)> write;
    QString name; // for messages: where the value lives
};
// Why undo or redo refused, for a window to word in its language (`error` is English).
struct Refusal
{
    enum Reason { None, Nothing, NoData, Changed, ValueChanged, Unreachable, Failed };
    Reason reason = None;
    HistoryEntry entry; // the change it would have reverted (all but Nothing)
    QString file;       // Changed: the file; ValueChanged: the outside value's name
    QString detail;     // Failed: the failed step's own report
};
bool undo(const QString& gameDir, bool redo, QString* error, HistoryEntry* done = nullptr,
          const OutsideValue* selectedMod = nullptr, Refusal* refusal = nullptr);
// The bound on undo data for the changes that follow (the settings' values).
void setLimits(const HistoryLimits& limits);
HistoryLimits limits();
// The program named in new entries (default: the application name).
void setProgram(const QString& program);
// The content hash recorded for a file, empty when it does not exist.
QString fileHash(const QString& path);
// Files larger than this that a change wrote in place get a FilePrint instead.
constexpr qint64 kWholeHashBytes = qint64(1) << 20;
// The fingerprint of `path` over `ranges` (sorted, disjoint); invalid when it is
// not a readable regular file.
FilePrint filePrint(const QString& path, const QList<QPair<qint64, qint64>>& ranges);
// True when the file still has the recorded fingerprint.
bool printMatches(const QString& path, const FilePrint& print);
// For GameChange: a committed change of `gameDir` kept its journal in `keptDir`;
// `label` names it when no HistoryOperation is open. False with the reason when
// its entry could not be written (the change itself stays made).
bool committed(const QString& gameDir, const QString& keptDir, const QString& label,
               QString* error);
// Where GameChange lets the journal commit to.
QString pendingFolder(const QString& gameDir);

} // namespace ChangeHistory

// One user operation: every change of its game directory committed while it is
// open joins one history entry, undone as a whole. One at a time per process.
class HistoryOperation
{
public:
    HistoryOperation(const QString& gameDir, const QString& operation);
    ~HistoryOperation(); // finish()
    HistoryOperation(const HistoryOperation&) = delete;
    HistoryOperation& operator=(const HistoryOperation&) = delete;

    void setOperation(const QString& operation);
    // What the operation is, besides its English text (HistoryEntry::action).
    void setAction(const QString& action, const QStringList& args = {});
    void addShip(const QString& ship, int slot = -1);
    // The game's selected-mod value before and after the operation (outside the journal).
    void setSelectedMod(const QString& before, const QString& after);
    // The operation open in this process, or nullptr.
    static HistoryOperation* current();
    // Undo and redo entries.
    void setReverting(const QString& kind, int reverts, const QString& label);
    // Writes the entry when anything was committed; false with the reason when
    // it could not be written (what was changed stays changed).
    bool finish(QString* error = nullptr);
    bool changedAnything() const { return m_entry.journals > 0; }
    HistoryEntry entry() const { return m_entry; }

private:
    friend bool ChangeHistory::committed(const QString&, const QString&, const QString&, QString*);
    friend bool ChangeHistory::undo(const QString&, bool, QString*, HistoryEntry*,
                                    const ChangeHistory::OutsideValue*, ChangeHistory::Refusal*);
    QString m_gameDir;
    HistoryEntry m_entry;
    QHash<QString, FileStamp> m_before; // files changed in place, before their first write
    QSet<QString> m_timeRestored;       // undo put their modification time back
    bool m_finished = false;
    QString m_error;
};
