// One all-or-nothing change of a game directory (install, uninstall, update mod,
// base mod, edit-mode save), over the change journal of journal.h, and the lock
// that keeps a second program from writing the same game directory meanwhile.
#pragma once

#include <QString>

#include <memory>

class QLockFile;

class GameChange
{
public:
    // Where the journal of a game directory lives: beside the mod.
    static QString journalDir(const QString& gameDir);
    // Rolls back a journal left by a crash. 0 none, 1 rolled back, -1 failed
    // (kept for the next try); `report` says what happened.
    static int recover(const QString& gameDir, QString* report);
    // The same; after a failed roll-back `failure` says what it met, for a message
    // in the user's language (the report is English).
    struct RecoverFailure
    {
        bool notRemoved = false; // rolled back, but the journal could not be removed
        QString journal;         // the journal folder
        QString file;            // otherwise: the first file that could not be put back
        int error = 0;           // and the system's error number for it
    };
    static int recover(const QString& gameDir, QString* report, RecoverFailure* failure);

    // Opens the journal (or joins the one open in this process).
    explicit GameChange(const QString& gameDir);
    // The same for any folder: changes below `root`, journal in `journalDir`.
    GameChange(const QString& journalDir, const QString& root);
    static int recover(const QString& journalDir, const QString& root, QString* report);
    // Rolls back when neither commit() nor rollback() ran.
    ~GameChange();
    GameChange(const GameChange&) = delete;
    GameChange& operator=(const GameChange&) = delete;

    bool ok() const { return m_open; }
    QString error() const { return m_error; }
    // Makes the change durable; on failure it is rolled back and false returned.
    bool commit();
    bool rollback();
    // Removes a file below the change's root, kept by the journal until the
    // commit. A path outside the root is refused, never removed.
    bool removeFile(const QString& path, QString* error = nullptr);
    // The name of the change in the game directory's history when no
    // HistoryOperation is open ("Install", "Update mod").
    void setLabel(const QString& label) { m_label = label; }
    // A committed change whose history entry could not be written says why here.
    QString historyError() const { return m_historyError; }

private:
    bool m_open = false;
    QString m_error;
    QString m_gameDir; // set for the outermost change of a game directory: kept for undo
    QString m_label;
    QString m_historyError;
};

// The one-writer lock of a game directory: a lock file in its Slipway folder,
// held for as long as a program may write there. A lock left by a process that
// no longer runs is taken over.
class GameDirLock
{
public:
    explicit GameDirLock(const QString& gameDir);
    ~GameDirLock();
    GameDirLock(const GameDirLock&) = delete;
    GameDirLock& operator=(const GameDirLock&) = delete;

    // False when another process holds it; `holder` then names it. False too when
    // the lock file cannot be made (a full disk, no permission): failure() then
    // says why, and `holder` gets the same text.
    bool tryLock(QString* holder = nullptr);
    QString failure() const { return m_failure; }
    // What the last tryLock found, for a message in the user's language: the
    // holding program (empty when unknown), its process and computer (pid 0 when the
    // lock file says nothing); after a failure, the system's error number.
    struct Holder
    {
        QString program;
        qint64 pid = 0;
        QString host;
    };
    Holder holder() const { return m_holder; }
    int failureError() const { return m_failureError; }
    bool isLocked() const;
    void unlock();
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    QString m_failure;
    int m_failureError = 0;
    Holder m_holder;
};
