// The installed-ships registry, "Slipway/ships.dat" below a game directory: the
// installed ships in install order (uninstalled ones leave "Deleted:" placeholders
// so that the others keep their ship-table slots) and the mod-wide values.
// The key names and the line layout are stored in users' files: do not change them.
#pragma once

#include "shippackage.h"

#include <QList>
#include <QString>
#include <QStringList>

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

// How a read went. A file that exists but was not read whole must never be
// written over: every ship it lists beyond the damage would be lost.
struct RegistryReadStatus
{
    enum State { Missing, Whole, Broken };
    State state = Missing;
    int line = 0;   // first broken line, from 1; 0 when the file could not be opened
    QString reason; // why, for logs and messages
    // The same as a kind and its argument (a key, a line number, or for Unreadable
    // the system's reason), for a window to word in its language; NoFault where
    // only `reason` says it.
    enum Fault {
        NoFault, Unreadable, NotText, NotANumber, BadText, NotSizeTimeName, BadDummy,
        BadComponent, HeaderInBlock, PlaceholderInBlock, UnknownInBlock, BlockNotClosed,
        CloseWithoutBlock, UnknownOutside, Empty, BlockCutOff, NoLineEnd,
    };
    Fault fault = NoFault;
    QString faultArg;
    int brokenLines = 0;
    // Positions in Ships at which a block that never closed stood (it is not in the list).
    QList<qsizetype> lostBlocks;
    // The header keys met ("Mod:", "UpdateTime:", ...), so that a repair can tell a
    // value that was read from one that was lost.
    QStringList headerKeys;

    bool broken() const { return state == Broken; }
    // "<file>: line N: reason", or "<file>: reason" for a file that could not be read.
    QString message(const QString& file) const;
};

// <baseDir>/Slipway/ships.dat
QString RegistryPath(const QString& baseDir);
// The largest ships.dat read, far beyond thousands of ships: a larger file, or one
// that is not a regular file (a FIFO, a device), reads as broken at once.
inline constexpr qint64 kMaxRegistryBytes = 32 << 20;

// Reads <baseDir>/Slipway/ships.dat. The ship list is emptied first; when the file
// is missing or cannot be opened it stays empty and the header values keep what
// they were. Returns false in that case. A file without a "Buffer:" line means
// buffer 0. Every record that parses is kept also from a broken file; *status
// tells whether the file was read whole. With a log name, the buffer read is
// logged to <programDir>/log/<logName>.txt.
bool ReadRegistry(const QString& baseDir, ShipRegistry& registry,
                  const QString& programDir = QString(), const QString& logName = QString(),
                  RegistryReadStatus* status = nullptr);
// Rewrites <baseDir>/Slipway/ships.dat completely and atomically, creating
// "Slipway" when missing. The file it replaces is kept as ships.dat.bak when it
// reads whole; a broken one never replaces an earlier good copy. False (with a
// reason in *error) when it could not be written; the old file is then intact.
// With a log name, a written buffer is logged.
bool WriteRegistry(const QString& baseDir, const ShipRegistry& registry,
                   const QString& programDir = QString(), const QString& logName = QString(),
                   QString* error = nullptr);
// Parses registry text (for tests and fuzzing); the same rules as ReadRegistry.
// LF ends a line and a trailing CR is dropped. A block cut off by the end of the
// text is not added. A "Deleted:" value that is not a non-zero number reads as 1
// (waiting for the purge): the slot keeps its place instead of becoming a live
// ship without a name.
//
// Broken, though what parses is kept: an empty text, a NUL byte, a line outside a
// block that is not a header key, "Deleted:" or "<ship>", a block that does not
// close, a line in a block that is neither a known line nor "Key: value" (keys
// of other layouts are ignored), a number or field layout that does not parse,
// and a last line without its line end (the writer ends every line).
RegistryReadStatus ParseRegistryText(const QByteArray& text, ShipRegistry& registry,
                                     const QString& programDir = QString(),
                                     const QString& logName = QString());
// The file's bytes. Line breaks and NUL bytes inside values become blanks, so that
// no value can end its line early, inject lines of its own or read back as broken.
QByteArray RegistryText(const ShipRegistry& registry);
// Applies one line inside a "<ship>" block to the package; unknown lines are ignored.
void ParseRegistryLine(const QString& line, ShipPackage& package);
