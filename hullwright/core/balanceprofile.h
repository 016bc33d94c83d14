// Balance profiles: what ships of one class (and optionally one variant) should
// be like, as a minimum and a maximum per statistic. One text file per profile,
// "NAME.xbp" in the program folder's Profiles, one "Key: values" line per member.
//
// The keys are stored in users' files: never rename them. Reading compares the
// text before the first space in lower case and ignores unknown keys, so lines
// may come in any order; a missing line or value reads as 0.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct BalanceRange
{
    int min = 0;
    int max = 0;
    // The middle that a score of 1.0 stands for (integer division).
    int mid() const { return min + (max - min) / 2; }
};

struct BalanceProfile
{
    QString name;     // shown in lists
    QString fileName; // base name in Profiles, without ".xbp"
    int shipClass = 0; // compared with record field 5
    int variant = -1;  // -1: any; else compared with field 50
    BalanceRange tuning, accel, turning, speed, reactor, weapon, recharge, hull;
    int cargo[4] = {0, 0, 0, 0};  // minimum, maximum, average, difference
    int shield[4] = {0, 0, 0, 0}; // lowest type, count at it, highest type, highest count

    BalanceRange cargoRange() const { return {cargo[0], cargo[1]}; }
    int lowestShieldType() const { return shield[0]; }
    int highestShieldType() const { return shield[2]; }
    int highestShieldCount() const { return shield[3]; }
    // Does the profile fit a ship of this class and variant?
    bool fits(int shipClass, int variant) const;
};

// Shield types run 0 (1 MJ) to 5 (10 GJ).
inline constexpr int kShieldTypes = 6;
// Largest value a profile may hold: keeps min + slider and every product the
// balancer forms inside 32 bits.
inline constexpr int kMaxProfileValue = 1000000000;
// Largest shield count at the highest type.
inline constexpr int kMaxShieldCount = 10000;

// Parses profile text. Numbers that do not parse read as 0; numbers outside
// 32 bits are reported by ProfileProblem (through *huge).
BalanceProfile ParseProfile(const QByteArray& text, bool* huge = nullptr);
// The file's text, keys in the fixed order, lines ended by LF.
QByteArray ProfileText(const BalanceProfile& profile);

// Why a profile cannot be used for balancing, one sentence; empty when it can.
// Unusable: a negative or huge value, a maximum below its minimum, a scored
// statistic whose middle is 0, shield types outside 0 to 5 or in the wrong
// order, a highest shield count below 1.
QString ProfileProblem(const BalanceProfile& profile);

// One file of the Profiles folder.
struct ProfileFile
{
    QString path;
    BalanceProfile profile; // fileName set from the file
    QString problem;        // empty when usable
};
// Every "*.xbp" file of the folder, by file name. Files that cannot be opened are
// left out; files that open but hold no usable profile come with their problem.
QList<ProfileFile> ReadProfiles(const QString& folder);
// Reads one profile file; false with *error when it cannot be opened or is too
// large to be a profile. The profile may still be unusable (ProfileProblem).
bool ReadProfileFile(const QString& path, ProfileFile* out, QString* error = nullptr);
// Writes folder/fileName.xbp (creating the folder), replacing it whole.
bool WriteProfile(const QString& folder, const BalanceProfile& profile, QString* error = nullptr);
// A file name for a profile name: letters, digits, "-" and "_" kept, everything
// else "_"; "profile" when nothing is left.
QString ProfileFileName(const QString& profileName);

// The profiles that fit a ship record (field 5 the class, field 50 the variant).
struct ProfileChoice
{
    QList<ProfileFile> usable;
    QList<ProfileFile> unusable; // fit the ship but cannot be used
    bool recordReadable = true;  // false when field 5 or 50 is not a number
    int shipClass = -1, variant = -1;
};
ProfileChoice FittingProfiles(const QList<ProfileFile>& profiles, const QString& record);

// A profile made from existing ships: the class, the checked variants (field 50
// values; none means any); minimum and maximum per statistic over the ships
// that match.
struct ProfileImport
{
    bool ok = false;
    QString error;
    BalanceProfile profile;
    int ships = 0;          // ships that contributed
    bool tableRead = false; // false when the table itself could not be read
};
// From ship-table entry lines. The profile's variant is the one variant given,
// else -1. Skipped beyond class and variant: the installer's filler lines, and
// entries whose statistics are not numbers or are negative.
ProfileImport ImportProfile(const QStringList& entries, int shipClass, const QList<int>& variants);
// From a ship table given as plain or packed file, or a catalogue (its
// types\TShips.pck, else types\TShips.txt). Unpacked copies go into workDir.
ProfileImport ImportProfileFromTable(const QString& path, int shipClass,
                                     const QList<int>& variants, const QString& workDir);

// The installer's filler lines in a ship table (gap fillers, deleted and disabled
// ships): not ships of any class.
bool IsFillerShipLine(const QString& line);
