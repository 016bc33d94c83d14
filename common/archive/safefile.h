// Checked whole-file operations on disk files. Every write, sync, rename and
// close is checked and a failure comes back as false with a reason; a file is
// replaced by writing beside it and renaming, so a reader never sees half of it.
// While a change journal is open (changejournal.h) each of these is recorded
// first, so that the whole change can be rolled back.
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

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
