// Checking an installation without changing it: the mod pair reads whole, every
// entry decodes, every installed ship's files are where its state says, every mod
// entry belongs to someone, the generated tables are those update mod would
// write now, no interrupted change waits to be rolled back, and every installed,
// enabled ship line reads as the game needs it (its scenes in some catalogue, its
// turret cockpits in the cockpit table, its text on every generated page, its
// length and its identifier).
//
// Verifying only reads the game directory (the table check runs update mod on a
// scratch copy), takes no lock and repairs nothing.
#pragma once

#include "installerengine.h"
#include "installersettings.h"

#include <QJsonObject>
#include <QList>
#include <QString>

struct VerifyProblem
{
    // "journal", "registry", "mod", "entry", "missing", "orphan", "stale", "lock", and
    // "game" for a ship line the game would read wrong (subject: the field)
    QString kind;
    QString ship, author; // the ship the problem concerns, when one does
    QString subject;      // the entry, file or table
    QString message;      // one line, naming everything
    // The message in the language of the installer texts the check was given
    // (without the ship, which a window shows beside it); `message` stays English
    // for scripts and logs.
    QString shown;
};

struct VerifyReport
{
    QList<VerifyProblem> problems;
    // What was checked, for front ends: entries decoded, ships looked at.
    int entriesChecked = 0;
    int shipsChecked = 0;
    bool ok() const { return problems.isEmpty(); }
    QStringList lines() const;
    QJsonObject toJson() const;
};

// The engine's services and settings drive the table check exactly as update mod
// would run now; their system registry is only read.
VerifyReport VerifyInstallation(const QString& gameDir, const InstallerEngine::Services& services,
                                const InstallerSettings& settings);

// The program and process that hold the game's writer lock, or empty when no
// running program does (read from the lock file, never taken).
QString WriterLockHolder(const QString& gameDir);
