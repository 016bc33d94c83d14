// The installed-ships registry, "Slipway/ships.dat" below a game directory: the
// installed ships in install order (uninstalled ones leave "Deleted:" placeholders
// so that the others keep their ship-table slots) and the mod-wide values.
// The key names and the line layout are stored in users' files: do not change them.
#pragma once

#include "shippackage.h"

#include <QList>
#include <QString>

struct ShipRegistry
{
    QList<ShipPackage> Ships; // file order
    QString ModName;
    qint32 UpdateTime = 0;
    qint32 BaseFakePatch = 0;
    qint32 Buffer = 0;
    double InstallerVersion = 0; // as read; the writer always writes 1.89
};

inline constexpr double kRegistryVersion = 1.89;

// True when a registry read with this "InstallerVersion:" needs no migration; the
// installer compares in single precision.
inline bool RegistryVersionMatches(double version)
{
    return static_cast<float>(version) == static_cast<float>(kRegistryVersion);
}

// Reads <baseDir>/Slipway/ships.dat. The ship list is emptied first; when the file
// is missing or unreadable it stays empty and the header values keep what they
// were. Returns false in that case. A file without a "Buffer:" line means buffer 0.
// With a log name, the buffer read is logged to <programDir>/log/<logName>.txt.
bool ReadRegistry(const QString& baseDir, ShipRegistry& registry,
                  const QString& programDir = QString(), const QString& logName = QString());
// Rewrites <baseDir>/Slipway/ships.dat completely and atomically (written beside,
// then renamed), creating "Slipway" when missing. False when it could not be
// written; the old file is then intact. With a log name, a written buffer is logged.
bool WriteRegistry(const QString& baseDir, const ShipRegistry& registry,
                   const QString& programDir = QString(), const QString& logName = QString());
// Parses registry text (for tests and fuzzing); the same rules as ReadRegistry.
// LF ends a line and a trailing CR is dropped. A block cut off by the end of the
// text is not added. A "Deleted:" value that is not a non-zero number reads as 1
// (waiting for the purge): the slot keeps its place instead of becoming a live
// ship without a name.
void ParseRegistryText(const QByteArray& text, ShipRegistry& registry,
                       const QString& programDir = QString(), const QString& logName = QString());
// The file's bytes. Line breaks inside one-line values become blanks, so that no
// value can end its line early and inject lines of its own.
QByteArray RegistryText(const ShipRegistry& registry);
// Applies one line inside a "<ship>" block to the package; unknown lines are ignored.
void ParseRegistryLine(const QString& line, ShipPackage& package);
