// What the installer's operations change in a game directory, and how to see it
// before it happens.
//
// A GameState is what a game directory holds that an operation may change: the
// entries of the Hullwright mod, the loose files the installer keeps (Slipway,
// the scripts and loading-screen folders, numbered fake patch pairs), the
// registry's slots, the rows of the four generated tables as the game sees them,
// the generated text pages and the game's selected mod. Two states give a
// ChangePreview: the difference a dry run shows, or what a real run did.
//
// A dry run runs the real operation on a scratch copy of the game directory: the
// files the installer may write are copied, everything else is linked, and the
// game's selected-mod value is held in memory. The game directory itself is only
// read.
#pragma once

#include "installerengine.h"
#include "installersettings.h"
#include "registry.h"
#include "sysregistry.h"

#include <QByteArray>
#include <QFileInfo>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

struct GameState
{
    struct Item
    {
        QString name;      // as stored (entries: backslashes; files: "/" below the game)
        qint64 size = -1;  // stored size
        QByteArray digest; // of the content (unpacked for packed data); entries: empty
                           // until settled when captured with deferred digests
        qint64 offset = -1; // entries: where the stored bytes start in the data file
    };
    // Keyed by lower-case name: the game's file system ignores case.
    std::map<QString, Item> entries;
    std::map<QString, Item> files;
    bool registryRead = false;
    ShipRegistry registry;
    QByteArray registryBytes;
    // "TShips", "TCockpits": entry rows in order; "Dummies": "GROUP;line";
    // "Components": "COMPONENT;GROUP;line".
    QMap<QString, QStringList> tables;
    // language -> "page/id" -> text, from the mod's generated pages.
    QMap<int, QMap<QString, QString>> texts;
    QString selectedMod;
    QStringList problems; // what could not be read
    QString modCatalog;   // the mod catalogue read; empty when there was none
};

// Content: every entry of the mod is read and its content hashed. Deferred: only
// the catalogue is read (names, sizes, places); SettleEntryDigests later reads
// what a change may have touched, so a preview costs what the change costs.
enum class EntryDigests { Content, Deferred };

// Reads the state of a game directory. `registry` is the game's system registry
// (null: the selected mod is not read). Only reads.
GameState CaptureGameState(const QString& gameDir, const SystemRegistry* registry,
                           EntryDigests digests = EntryDigests::Content);

struct ChangePreview
{
    struct Item
    {
        QString name;
        QString change; // "added", "replaced", "removed"
        qint64 before = -1, after = -1;
        bool operator==(const Item&) const = default;
    };
    struct Slot
    {
        int position = 0; // in the registry
        int slot = -1;    // ship-table index; -1 until a buffer is fixed
        QString change;   // "taken", "replaced", "released", "freed", "enabled", "disabled", "removed"
        QString before, after; // "NAME by AUTHOR VERSION", or the state
        // The same as parts, for a window to word: what the slot held and holds.
        struct Held
        {
            bool present = false;
            int deleted = 0; // as in the registry: 1 waits for the game's purge, 2 free
            QString name, author, version;
            bool enabled = true;
            bool operator==(const Held&) const = default;
        };
        Held heldBefore, heldAfter;
        bool operator==(const Slot&) const = default;
    };
    struct Row
    {
        QString table;
        int index = -1; // row of TShips/TCockpits; -1 for the grouped tables
        QString change; // "added", "changed", "removed"
        QString before, after;
        bool operator==(const Row&) const = default;
    };
    struct Text
    {
        int language = 0;
        int page = 0;
        int id = 0;
        QString change;
        QString before, after;
        bool operator==(const Text&) const = default;
    };

    QList<Item> entries; // of the Hullwright mod
    QList<Item> files;   // loose files below the game directory
    QList<Slot> shipSlots;
    QList<Row> rows;
    QList<Text> texts;
    bool registryWritten = false;
    int bufferBefore = 0, bufferAfter = 0;
    QString selectedModBefore, selectedModAfter;

    bool operator==(const ChangePreview&) const = default;
    bool isEmpty() const;
    // The same preview without what changes at every run by the clock alone (the
    // update time in page 9001 and the registry).
    ChangePreview withoutClock() const;

    // How lines() words a preview. The defaults are the English of the command
    // line; a window fills them from its texts. Formats take %1..%3.
    struct Wording
    {
        // Change words by the English kept in the fields ("added", "taken", ...);
        // one not listed is shown as it is.
        QMap<QString, QString> changes;
        QString entry = QStringLiteral("entry %1 %2 (%3)"); // change, name, size
        QString file = QStringLiteral("file %1 %2 (%3)");
        QString bytes = QStringLiteral("%1 bytes");
        QString slot = QStringLiteral("slot %1");
        QString position = QStringLiteral("registry position %1");
        QString line = QStringLiteral("%1 %2: %3"); // where, change, what
        QString changed = QStringLiteral("%1 changed: %2 => %3"); // where, before, after
        QString buffer = QStringLiteral("buffer %1 -> %2 (installed ships start at ship index %2)");
        QString rowRun = QStringLiteral("%1 rows %2-%3"); // table, first, last
        QString fillers = QStringLiteral("%1 filler rows");
        QString row = QStringLiteral("%1 row %2");
        QString text = QStringLiteral("text %1 %2/%3"); // language, page, id
        QString registryWritten = QStringLiteral("registry Slipway/ships.dat rewritten");
        QString selectedMod = QStringLiteral("selected mod: %1 -> %2");
        QString none = QStringLiteral("(none)");
        QString noChanges = QStringLiteral("no changes");
        // What a slot holds; empty: the English kept in the slot.
        QString ship;         // name, author, version
        QString shipDisabled; // the ship as worded above
        QString free;
        QString awaitingPurge;
    };

    // One line per change, for people: "entry added types\\TShips.pck (812 bytes)",
    // runs of filler rows folded into one line.
    QStringList lines() const;
    QStringList lines(const Wording& wording) const;
    QJsonObject toJson() const;
};

ChangePreview DiffGameStates(const GameState& before, const GameState& after);

// An in-memory system registry, seeded with values read elsewhere.
class MemoryRegistry : public SystemRegistry
{
public:
    QString readString(const QString& searchPath, const QString& key) const override;
    bool writeString(const QString& searchPath, const QString& key, const QString& value) override;

private:
    QMap<QString, QString> m_values;
};

// The game's selected mod as the engine reads and writes it.
QString SelectedModValue(const SystemRegistry& registry);
void SetSelectedModValue(SystemRegistry& registry, const QString& value);

// A scratch copy of a game directory below a work folder, removed with the object.
class ScratchGame
{
public:
    ScratchGame() = default;
    ~ScratchGame();
    ScratchGame(const ScratchGame&) = delete;
    ScratchGame& operator=(const ScratchGame&) = delete;

    // Whole: the mod's data file is copied. Sparse: the data file keeps its size,
    // but only the type tables, the text pages and entries up to kSparseCopyLimit
    // bytes are copied; larger entries read as zero bytes (holes, which take no
    // time and no disk). For operations that never read those entries (install,
    // update mod): the copy then costs what the catalogue and the small entries cost.
    enum class ModCopy { Whole, Sparse };
    static constexpr qint64 kSparseCopyLimit = qint64(1) << 20;

    // Copies the Hullwright mod pair, Slipway (without its writer lock), the scripts
    // and loading-screen folders, and links everything else. False with a reason
    // when it cannot be made.
    bool create(const QString& gameDir, const QString& workFolder, QString* error,
                ModCopy modCopy = ModCopy::Whole);
    // True when the entry (lower-case name) was left out of a sparse copy.
    bool leftOut(const QString& lowerEntry) const { return m_leftOut.contains(lowerEntry); }
    QString dir() const { return m_dir; }
    QString gameDir() const { return m_gameDir; }
    // A text with the scratch folder put back to the game directory it stands for.
    QString toGame(QString text) const;

private:
    bool sparseData(const QString& modsDir, const QFileInfo& data, const QString& to,
                    QString* error);

    QString m_root;
    QString m_dir;
    QString m_gameDir;
    QSet<QString> m_leftOut;
};

// Gives the entries that both states hold with the same size a digest each, when
// captured with deferred digests: `after` is the state of `scratch`, made from
// the game of `before`. Stored bytes that are still those of the game's copy
// (compared directly; an entry left out of a sparse copy counts as untouched
// while it reads as zeros) get one shared mark; only the others are unpacked and
// hashed on both sides.
void SettleEntryDigests(GameState& before, GameState& after, const ScratchGame& scratch);

struct DryRunResult
{
    bool ran = false;      // the scratch copy was made and the operation ran
    bool succeeded = false; // what the operation returned
    QString error;          // why it did not run, or why the operation failed
    // Why it did not run, for a window to word: the scratch copy could not be made
    // in the folder `errorPath`, or the game directory refuses writes (`error` is
    // the engine's words for it).
    enum class Stop { None, ScratchCopy, GameLocked };
    Stop stop = Stop::None;
    QString errorPath;
    QStringList outcome;    // what the operation said, scratch paths put back
    ChangePreview preview;
};

// Runs `operation` on a scratch copy of `gameDir` with an engine made from these
// services and a copy of these settings. The system registry is replaced by one
// in memory that starts with the game's selected mod; the known game directories
// are left out, so nothing outside the scratch copy is changed. With `stateFrom`,
// the scratch engine starts from that engine's registry, base mod and queue (a
// window's engine, whose memory may be ahead of its files). Questions asked while
// the scratch engine opens the game are answered "no". `modCopy` as for
// ScratchGame::create; the mod's entries are compared with deferred digests.
DryRunResult DryRun(
    const QString& gameDir, InstallerEngine::Services services, InstallerSettings settings,
    const std::function<bool(InstallerEngine&, QStringList* outcome)>& operation,
    const InstallerEngine* stateFrom = nullptr,
    ScratchGame::ModCopy modCopy = ScratchGame::ModCopy::Whole);

// Streams a disk file or entry (type as for arc_stream: 0 automatic, 1 plain,
// 2 packed), hashing its content and, with `keep`, holding it up to the in-memory
// limit. The archive library's code: ARC_OK when it read whole and, packed, its
// checksum matched.
int StreamArchiveContent(const QString& path, int type, QByteArray* digest,
                         QByteArray* keep = nullptr);

// Where dry runs make their scratch copies: <programDir>/temp.
QString DryRunWorkFolder(const QString& programDir);
