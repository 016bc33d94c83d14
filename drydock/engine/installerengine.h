// Drydock's installer engine, without any window: the Hullwright mod pair in the
// game's mods folder, the base mod carried along, installing and uninstalling ship
// packages, enabling and disabling them, and the update-mod step that regenerates
// the ship, cockpit, dummy and component tables and the text pages into the mod.
//
// The window (and drydock-cli) drive it: they own the timers and the widgets and
// reach the engine through these calls. The engine reaches the user only through
// the seams in Services; every location is passed in.
#pragma once

#include "changehistory.h"
#include "gamechange.h"
#include "installersettings.h"
#include "registry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Prompter;
class ProgressSink;
class StatusSink;
class SystemRegistry;

struct InstallResult
{
    // What kind of failure, so that front ends can say it in the user's words.
    enum class Failure {
        None,
        Missing,        // the file does not exist or cannot be opened
        NotPackage,     // not a ship package at all
        Damaged,        // a package, but corrupt, cut short or incomplete
        TooNew,         // needs a newer installer (status 3)
        Older,          // an installed copy is newer (status 2)
        RefusedName,    // an embedded file's name is refused; `error` names it
        NotWritten,     // a file or the registry could not be written
        Cancelled,      // the user cancelled
        GameLocked,     // another program holds the game directory (writeRefusal())
        RegistryBroken, // the registry must be repaired first
        Other,          // `error` says why
    };
    int status = 1; // 0 installed, 1 failed or cancelled, 2 older version, 3 reader too old
    QString name, author, version;
    QString error; // why it failed, for front ends; empty on success
    Failure failure = Failure::None;
    bool replacedExisting = false;
};

// The name a package file is stored under in the mod: backslashes, models and
// texts under their packed names.
QString ModEntryName(const QString& packageFileName);
// Scene, cockpit scene, models and other files of a ship: what it keeps in the mod.
QList<PackageFile> ShipModFiles(const ShipPackage& ship);
// Mod entries that no live record lists, leaving out the generated tables and text
// pages and what a standard base mod carried in (the registry names it).
QStringList UnownedModEntries(const QString& gameDir, const ShipRegistry& registry);

class InstallerEngine
{
public:
    struct Services
    {
        QString programDir;                       // temp/, log/, Scripts/, Icons/ live here
        SystemRegistry* systemRegistry = nullptr; // the game's selected-mod value
        const QStringList* installerTexts = nullptr;
        const QStringList* sharedTexts = nullptr;
        Prompter* prompter = nullptr; // null: no message boxes at all
        ProgressSink* progress = nullptr;
        StatusSink* status = nullptr;
        std::function<void(const QString&)> log; // debug log lines (already without time stamp)
        std::function<qint64()> clock;           // seconds since 1970; tests pin it
        // Ids of the UI catalogue's language list, in list order: text option 1
        // picks its extra language from here by the settings' list index.
        QList<int> knownLanguageIds;
    };

    // The name of the mod pair and the value written into the game's registry.
    static constexpr const char* kModName = "Hullwright";
    static constexpr int kMaxBuffer = 10000;

    InstallerEngine(Services services, InstallerSettings& settings);
    // What the engine was made with, for a second engine that works alike (a dry run).
    const Services& services() const { return m_services; }
    const InstallerSettings& settings() const { return m_settings; }

    // --- Game directory ---
    // Selects a game directory: takes its writer lock, rolls back a change a
    // crash left unfinished, reads its registry (with the purge check and the
    // game-language check), remembers the base mod from it. Empty: none selected.
    void setGameDir(const QString& dir);
    // Why this engine may not change the game directory (another program holds
    // its lock, or a crashed change could not be rolled back); empty when it may.
    QString writeRefusal() const { return m_writeRefusal; }
    // Why the last updateMod() failed, in the installer texts' language; empty when
    // it names no reason of its own (the log's last line then tells).
    QString updateFailure() const { return m_updateFailure; }
    QString gameDir() const { return m_gameDir; }
    QString modCatalog() const; // <game>/mods/Hullwright.cat
    ShipRegistry& registry() { return m_registry; }
    const ShipRegistry& registry() const { return m_registry; }
    // Never writes over a broken registry.
    bool saveRegistry();
    // The registry exists but was not read whole: every change to the game directory
    // is refused (and logged) until it is repaired, so that the ships it still lists
    // are not written over. The error names the file and the broken line.
    bool registryBroken() const { return m_registryBroken; }
    QString registryError() const { return m_registryError; }
    // A broken registry's message in the language of `texts` (the installer's own
    // texts; English where they lack a number).
    static QString registryMessage(const RegistryReadStatus& status, const QString& file,
                                   const QStringList* texts);
    // The critical box about a broken registry, through the prompter.
    void showBrokenRegistry() const;
    bool modChanged() const { return m_modChanged; }
    void setModChanged(bool changed) { m_modChanged = changed; }
    // Index of the installed (state 0) record of a ship, or -1.
    int findShip(const QString& name, const QString& author) const;
    // Takes another engine's memory of its game (registry, base mod, queue and the
    // mod-changed flag), which may be ahead of its files: a dry run starts there.
    void adoptMemoryState(const InstallerEngine& other);

    // --- History ---
    // Reverts the game directory's last change (redo: the last undo), the game's
    // selected-mod value included, then reads the directory again. False with the
    // reason when refused or failed; `done` gets the new history entry.
    // `refusal` (when given) says why it refused, for the window to word.
    bool undo(bool redo, QString* error, HistoryEntry* done = nullptr,
              ChangeHistory::Refusal* refusal = nullptr);

    // --- Base mod ---
    // ":: " + installer text 14 + " ::" first, then every mods/*.cat except Hullwright.
    // Also settles the current base mod: when none is known yet it is taken from the
    // game's selected-mod value, and a name that is not among the choices becomes
    // the first item.
    QStringList baseModChoices();
    QString currentBaseMod() const { return m_baseMod; }
    QString previousBaseMod() const { return m_previousBaseMod; }
    static bool isRealMod(const QString& name);
    // A change of base mod: true when the caller must run createMod() next.
    bool selectBaseMod(const QString& name);
    // Rebuild from the current base mod: true when createMod() must run next.
    bool redoBaseMod();
    // The rebuild of the mod pair from the base mod (standard mod or fake patch).
    bool createMod();
    // Whether the mod pair (or the recorded fake patch) holds every file of the
    // base mod. Not so when the base mod was taken from the game's selected mod and
    // never copied: tables generated from it would name models the game cannot
    // find once it loads the Hullwright mod instead.
    bool baseModCarried() const;

    // --- Install queue ---
    QStringList& queue() { return m_queue; }
    // Appends the ".xsp" paths among the given ones; returns how many were queued.
    int enqueue(const QStringList& paths);
    // Installs the first queued path and drops it from the queue.
    InstallResult installNext(bool showMessages = true, bool showFailures = true);
    // The install step for one package file. showMessages allows the boxes of the
    // install (success, newer reader needed, newer copy installed); showFailures
    // false leaves every failure box to the caller, which reports the result
    // (the missing-file box is otherwise shown whatever showMessages says).
    InstallResult install(const QString& path, ProgressSink* progress, bool showMessages,
                          bool showFailures = true);
    // Installs many packages, in order, without message boxes, as one change of the
    // game directory: the mod catalogue is read and stored, the registry written and
    // the files synced once for all of them rather than once a package, so the time
    // grows with the number of packages and not with their square. Each package is
    // still installed whole or not at all: when one fails, the change is rolled back,
    // the packages before it are installed again as one change and the failed one on
    // its own, so that its result (and what it leaves) is that of install(). The
    // package reader's questions may then be asked again. `done` gets each result in
    // order, once it is durable or has failed.
    void installMany(const QStringList& paths,
                     const std::function<void(qsizetype, const InstallResult&)>& done);
    // True for a path that enqueue() takes: a ".xsp" file, line breaks left out.
    static bool isPackagePath(const QString& path);

    // --- Uninstall, enable, disable ---
    bool uninstallShip(int index, bool showMessages = true);
    bool setShipEnabled(int index, bool enabled);
    // Files of `oldFiles` that `newFiles` no longer has leave the mod and Slipway,
    // except those a registered ship still lists: call it once the old record has
    // left the registry.
    void removeLeftoverFiles(const QList<PackageFile>& oldFiles,
                             const QList<PackageFile>& newFiles);
    // Records waiting for the game's purge become free when the game reported it.
    void purgeCheck();
    // Offers to take the game's own language as the extra text language.
    void checkGameLanguage();

    // --- Update mod ---
    // Text pages, cockpit, ship, dummy and component tables into the mod, then the
    // game's registry value. False when the mod could not be written. A base mod
    // that the mod does not hold yet is copied in first (createMod()); when that
    // fails, the prompter is asked whether to go on without it, and without a
    // prompter (or on "no") nothing is changed and false is returned.
    bool updateMod();
    // The last updateMod() stopped because the user chose to leave the game on its
    // base mod: a decision, not a failure to report.
    bool updateDeclined() const { return m_updateDeclined; }
    void fixBuffer();
    QList<int> textLanguages() const;
    // The extra text language of the settings: option 1 the chosen list entry's id
    // (0 when there is no such entry), option 2 the custom id, option 0 none (0).
    int extraTextLanguage() const;
    bool generateTexts();
    QStringList generateCockpits(); // the merged cockpit entries, in index order
    bool generateShips(const QStringList& cockpits);
    bool generateDummies();
    bool generateComponents();
    bool addTablesToMod();
    // Ships of the game's own table: its header count, or the entry lines present
    // when the header disagrees with them.
    int gameShipCount();

    // --- Scripts and loading screens ---
    // Copies the program's Scripts/*.xml into a game directory's script folder, as
    // one change through that directory's journal and under its writer lock (taken
    // for the copy when it is not the selected directory). Files that are already
    // the same are left alone. False when a script could not be written (nothing
    // changed then) or the directory is held by another program.
    bool installProgramScripts(const QString& gameDir);
    // installProgramScripts() for every directory of the settings' list and the
    // selected one; false when any of them failed.
    bool installProgramScriptsEverywhere();
    void copyAllLoadingScreens();
    void removeAllLoadingScreens();
    void copyLoadingScreen(const ShipPackage& ship);
    void removeLoadingScreen(const ShipPackage& ship);

private:
    // One all-or-nothing change of the game directory: the journal opened at the
    // start, the engine's own state put back when the change is rolled back. A
    // change begun inside another one joins it.
    class Change
    {
    public:
        // `label` names the change in the game's history when no operation of the
        // caller's is open ("Uninstall Merganser"); `ship` is the ship it touches.
        Change(InstallerEngine& engine, const QString& tag, const QString& label = QString(),
               int ship = -1);
        ~Change();
        bool ok() const { return m_ok; }
        QString error() const { return m_error; }
        // Names the change's own history entry in words a window translates
        // (HistoryAction); nothing when it joins an operation of the caller's.
        void setAction(const QString& action, const QStringList& args = {});
        // A file step failed: the change will be rolled back.
        void failed(const QString& why);
        bool hasFailed() const { return !m_failure.isEmpty(); }
        // Durable, or rolled back (and logged) when a step failed or the commit did.
        bool commit();

    private:
        InstallerEngine& m_engine;
        QString m_tag;
        std::unique_ptr<GameChange> m_journal; // null when joined or refused
        bool m_ok = false;
        bool m_done = false;
        QString m_error;
        QString m_failure;
        ShipRegistry m_registry;
        bool m_modChanged = false;
        QString m_baseMod, m_previousBaseMod;
        Change* m_outer = nullptr;
        std::unique_ptr<HistoryOperation> m_history; // the entry of a change made alone
        QString m_selectedModBefore;
    };
    static QString tagLabel(const QString& tag);
    static QString tagAction(const QString& tag);
    QString selectedMod() const;
    friend class Change;
    // The change now open in this engine, for steps that report failures into it.
    Change* m_change = nullptr;
    // Reports a failed file step to the open change; returns ok.
    bool check(bool ok, const QString& what);

    void log(const QString& message) const;
    // A file named in the registry, a package or a catalogue, below `folder` of the
    // game directory ("Slipway", "Scripts", "loadscr/", ...), through the one checked
    // resolver. Empty, the refusal logged under `tag`, when the name would lead
    // outside that folder (a hand-edited or hostile registry must not make the
    // installer delete, copy or write anything else).
    QString gameFile(const QString& folder, const QString& name, const QString& tag) const;
    // "mods/<base mod>" + suffix (".cat", ".dat") through gameFile(); empty without a
    // real base mod or when its name leads outside the mods folder.
    QString baseModFile(const QString& suffix) const;
    QString installerText(int n) const;
    QString sharedText(int n) const;
    qint64 now() const;
    // Extracts a game table, base mod first when one is chosen, never the Hullwright mod.
    bool extractGameTable(const QString& entry, const QString& destination,
                          bool* failed = nullptr) const;
    // Makes sure the mod catalogue exists and can be written now (the game holds
    // it locked while it runs); logs why not under the given tag.
    bool modWritable(const QString& tag, QString* error = nullptr) const;
    // A game table's text through a temporary file in the program folder; empty
    // when no catalogue holds it. A table that exists but cannot be read (or is
    // larger than InMemoryFileLimit()) fails the change: a table generated without
    // the game's lines would break the game.
    QByteArray gameTableText(const QString& entry, const QString& tempName);
    // An installed ship that replaced a disabled one: the files the reader left
    // out because the disabled copy had them move from Slipway into the mod.
    void adoptLooseFiles(const ShipPackage& ship);

    // Copies a base mod the mod does not hold yet into it, or asks to go on
    // without it; false when the update must stop.
    bool carryBaseMod();
    bool m_updateDeclined = false;

    // True (with the refusal logged under the tag) while the registry is broken.
    bool refusedForBrokenRegistry(const QString& tag, QString* error = nullptr,
                                  bool showMessages = false) const;

    Services m_services;
    InstallerSettings& m_settings;
    QString m_gameDir;
    ShipRegistry m_registry;
    QStringList m_queue;
    QString m_baseMod;
    QString m_previousBaseMod;
    bool m_modChanged = false;
    std::unique_ptr<GameDirLock> m_lock;
    QString m_writeRefusal;
    QString m_updateFailure;
    bool m_registryBroken = false;
    QString m_registryError;
    QString m_registryShown; // the same in the user's language
    // While installMany() runs: saveRegistry() only notes that the registry must be
    // written, which happens once, at the end of the change.
    bool m_registryDeferred = false;
    bool m_registryPending = false;
};
