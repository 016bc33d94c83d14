// Checked whole-file operations on disk files. Every write, sync, rename and
// close is checked and a failure comes back as false with a reason; a file is
// replaced by writing beside it and renaming, so a reader never sees half of it.
// While a change journal is open (changejournal.h) each of these is recorded
// first, so that the whole change can be rolled back.
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Below a confining folder (see ConfinedFolder; the open change journal's root
// is one too) every folder part is opened without following links, so a link
// planted inside cannot lead a write, a new folder or a removal outside it; such
// a link fails the operation. Everywhere, the scratch file is created exclusively
// under an unpredictable name, and a link at the final name is replaced, never
// followed.

// Replaces (or creates) a file with the given bytes.
bool WriteFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);
// Replaces (or creates) a file with everything a device yields, in blocks.
bool WriteFileAtomic(const QString& path, QIODevice& source, QString* error = nullptr);
// Copies a disk file over another (or to a new name).
bool CopyFileChecked(const QString& from, const QString& to, QString* error = nullptr);
// True when the file is gone afterwards, also when it was not there.
bool RemoveFileChecked(const QString& path, QString* error = nullptr);
// Moves a file, replacing the target; falls back to copy and remove across file systems.
bool RenameFileChecked(const QString& from, const QString& to, QString* error = nullptr);
// Creates the folder and its missing parents.
bool MakeDirChecked(const QString& path, QString* error = nullptr);
// Removes an empty folder.
bool RemoveDirChecked(const QString& path, QString* error = nullptr);
// Files written below this folder are scratch copies, read once and deleted:
// they are not synced. Empty: none (the default).
void SetScratchFolder(const QString& dir);

// Opens a file for reading only when it is a regular file (a link to one counts)
// of at most `cap` bytes: a FIFO, a device or a folder is refused at once, without
// waiting for a writer. -1 with the reason in `error`, errno ENOENT when missing.
int OpenRegularFile(const QString& path, qint64 cap, QString* error = nullptr);
// The whole of such a file; false with the reason (errno ENOENT when missing).
bool ReadRegularFile(const QString& path, qint64 cap, QByteArray* bytes, QString* error = nullptr);

// While one lives, `dir` confines the writes below it (they nest; the innermost counts).
class ConfinedFolder
{
public:
    explicit ConfinedFolder(const QString& dir);
    ~ConfinedFolder();
    ConfinedFolder(const ConfinedFolder&) = delete;
    ConfinedFolder& operator=(const ConfinedFolder&) = delete;
};

// While one lives, files that WriteFileAtomic writes outside a journal are not
// synced one at a time: finish() syncs each written file and each folder that
// gained a name, once, at the end. Many small files then cost one batch instead
// of a wait per file, without flushing the whole file system.
class BatchedSync
{
public:
    BatchedSync();
    ~BatchedSync(); // finishes, if finish() was not called
    // A batch opened inside another joins it; only the outermost finishes.
    bool finish(QString* error = nullptr);
    BatchedSync(const BatchedSync&) = delete;
    BatchedSync& operator=(const BatchedSync&) = delete;

private:
    bool m_owner = false;
};
