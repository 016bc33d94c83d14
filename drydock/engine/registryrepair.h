// Repair of a game directory's installed-ships registry that does not read whole.
//
// What a repair can rebuild: a ship's record line, texts and file lists live only
// in the registry, so a record lost to the damage cannot come back. What it does:
// - keeps the broken file beside the registry as ships.dat.broken-<yyyyMMdd-hhmmss>;
// - keeps every record that parsed, in its place;
// - a block that never closed keeps its ship-table slot as an uninstalled ship
//   waiting for the game's purge ("Deleted: 1"), so the ships after it keep theirs;
// - the mod-wide values keep what parsed; an "UpdateTime:" or "Buffer:" line that
//   was lost is taken from the ship list the mod last published (text page 9001),
//   and slots that page lists beyond the kept records become waiting placeholders
//   too, so that no new install takes a slot the game still holds a ship in;
//   a lost "Mod:" or "BaseFakePatch:" becomes "no base mod" / 0;
// - reports the mod's entries that no kept record lists (orphans: files of lost
//   records), leaving the generated tables and text pages and the base mod's files
//   out of that list. They stay in the mod; reinstalling their ship adopts them.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

struct RegistryRepair
{
    bool written = false;
    bool neededRepair = false; // false: the registry was missing or read whole
    QString error;             // why nothing was written
    QString damage;            // the broken line, as the reader reported it
    QString brokenCopy;        // where the broken file was kept
    int kept = 0;              // records kept as read
    int placeholders = 0;      // slots kept as waiting placeholders
    QStringList recovered;     // header keys whose value came from the mod
    QStringList orphans;       // mod entry names (backslashes) that no record lists
};

// tempDir: a scratch folder for the text page taken out of the mod.
RegistryRepair RepairRegistry(const QString& gameDir, const QString& tempDir, const QDateTime& now);
