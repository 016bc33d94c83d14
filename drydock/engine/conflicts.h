// Which ships fight over the same file. Two ships that bring a file under the
// same name (the game's file system ignores case) with different bytes conflict:
// the game sees one copy. So does a ship's file that a standard base mod also
// carries. Identical copies are no conflict.
//
// Installed ships are compared by the size and time their registry records give
// each file (their bytes live in the mod once); packages named on the command
// line by their bytes, read into a scratch folder. Only reads the game.
#pragma once

#include "registry.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

struct ConflictCopy
{
    QString ship, author, version;
    QString source;       // "installed", or the package's path
    bool enabled = true;  // packages count as enabled
    qint64 size = 0;
    quint32 time = 0;
    QByteArray digest;    // of a package's bytes; empty for installed ships
};

struct FileConflict
{
    QString entry;        // mod entry name (backslashes); scripts: "scripts\\" + name
    QString kind;         // "file" or "script"
    QList<ConflictCopy> copies; // at least two, in install order
    int seen = -1;        // index of the copy the game sees; -1 none
    QString seenNote;     // why, or why none
};

struct BaseOverride
{
    QString entry;
    QString baseMod;
    ConflictCopy ship;
    bool shipSeen = true; // false: the game sees the base mod's copy
};

struct ConflictReport
{
    QList<FileConflict> files;
    QList<BaseOverride> baseOverrides;
    QStringList errors; // packages that could not be read
    // "NAME\nAUTHOR" of every ship in a conflict, for marking a list.
    QStringList shipsInvolved() const;
    // The conflicts one ship is part of, one line each, naming the others.
    QStringList linesFor(const QString& name, const QString& author) const;
    QStringList lines() const;
    QJsonObject toJson() const;
};

// `packages` are read into `workFolder` (a scratch folder below it, removed again).
// A package that is the same ship as an installed one stands in for it, as its
// install would.
ConflictReport FindConflicts(const QString& gameDir, const ShipRegistry& registry,
                             const QStringList& packages = {},
                             const QString& workFolder = QString());
