// Finding a Vega install and the newest copy of any of its files. Numbered
// catalogues 01.cat ... 99.cat override each other upwards; the installer's mod
// catalogue, when one is selected, overrides them all.
//
// Names below a game directory (vega.exe, NN.cat, mods/<mod>.cat) are matched
// without regard to case: the game comes from a case-insensitive file system.
#pragma once

#include "archivefile.h"

#include <QString>
#include <QStringList>

class SystemRegistry;

// A directory is a game directory when it holds vega.exe (matched case-insensitively).
bool IsValidGameDir(const QString& dir);
// "01.cat" ... "99.cat"; CatalogNumber gives the number part alone ("01").
QString CatalogName(int n);
QString CatalogNumber(int n);
// Number of consecutive numbered catalogues from 01; a gap ends the count.
int CountCatalogs(const QString& gameDir);

// Registry discovery: the publisher's install value, then the store's install
// path; the first that names a valid game directory, else empty. Backslashes are
// turned into "/".
QString DiscoverGameDir(const SystemRegistry& registry);

// The list of known game directories, most recent first, at most 10. Entries use
// "/" and carry no trailing separator.
class GameDirList
{
public:
    static constexpr int kMax = 10;
    QStringList dirs;
    QString current() const { return dirs.isEmpty() ? QString() : dirs.first(); }
    // Discovery puts a found directory in front. An equal entry already in the list
    // moves there instead of being repeated, so running discovery again (at every
    // start, before every text load) never fills the list with copies.
    void insertDiscovered(const QString& dir);
    // A chosen directory moves to the front (once), the list is cut to 10.
    // False (and no change) when the directory is not a game directory.
    bool choose(const QString& dir);
    // Another game found on this machine joins at the end while the list has room.
    void offer(const QString& dir);
    // Registry discovery applied to the list: the publisher's value when valid;
    // the store's path only when the list is still empty after that. Returns the
    // directory put in front, or empty.
    QString discover(const SystemRegistry& registry);
};

// Drydock's mod selection: an empty name, or one that both begins with ":: " and
// ends with " ::", stands for "no mod".
bool IsModSelected(const QString& modName);

// Extracts the newest copy of an entry (e.g. "types\\TShips.pck", either slash) to
// a disk file, unpacked. Nothing is found when the game directory has no numbered
// catalogue. With a selected mod name, <gameDir>/mods/<mod>.cat is tried first (and
// an existing destination is deleted before, so a stale copy is never taken for a
// result). False when no catalogue holds the entry; the destination is then not
// written. `failed`, when given, is set when a catalogue holds the entry but it
// could not be extracted (no older copy is taken then).
bool ExtractGameFile(const QString& gameDir, const QString& entry, const QString& destination,
                     const QString& modName = QString(), bool* failed = nullptr);

// Every entry name across the numbered catalogues, highest catalogue first; a name
// found in a higher catalogue (compared without regard to case) is not taken again
// from a lower one.
struct GameEntry
{
    QString catalogPath; // the catalogue that holds the newest copy
    QString name;        // backslashes
    qint64 size = 0;
};
QList<GameEntry> EnumerateGameEntries(const QString& gameDir);

// Resolves a "/"-separated path below base against what exists, ignoring case
// (the game comes from a case-insensitive file system). An exact match wins over
// one in another letter case. Parts that do not exist are kept as given.
QString ResolvePath(const QString& base, const QString& relative);

// The one checked way from a name read out of a file (ships.dat, the registry, a
// package, a catalogue) to a path that is deleted, copied or written: the name is
// resolved below root as ResolvePath does, and refused (empty result, the reason
// in `error`) when it is empty, absolute, carries a drive letter, climbs with "..",
// or when an existing part of it is a link that leads outside root.
QString ResolveBelow(const QString& root, const QString& name, QString* error = nullptr);
