// Where a ship stands among the game's ships of its class: for each balance
// statistic the class's minimum, quartiles, median and maximum over the layered
// game ship table, and the ship's percentile, all in the units the editor shows.
//
// Quartiles interpolate linearly between the two nearest ranks (position
// (n - 1) x p in the sorted values). The percentile counts the class ships below
// the ship's value plus half of those equal to it, over all class ships, so a
// ship equal to every other stands at 50 and one above all at 100.
//
// Filler lines of the installer are skipped and counted. A field that is not a
// number (a symbolic constant, or empty) leaves that ship out of the statistics
// that need the field, and is counted per statistic; a ship whose class or
// variant field is not a number cannot be placed in a class and is counted apart.
#pragma once

#include "balanceprofile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

enum class ClassStat : int {
    MaxSpeed,
    Accel,
    Yaw,
    Pitch,
    Roll,
    Hull,
    Shield,
    Energy,
    Recharge,
    Cargo,
};
inline constexpr int kClassStats = 10;

// Names used by the command line and its JSON ("max_speed", "acceleration", ...);
// read by scripts, keep them.
QString ClassStatName(ClassStat s);
// Short label for the chart's axis ("Speed" for the maximum speed, ...) and the unit shown after a value.
QString ClassStatLabel(ClassStat s);
QString ClassStatUnit(ClassStat s);

// Capacity in MJ of one shield of a type (0 = 1 MJ ... 5 = 10 GJ); 0 outside 0 to 5.
double ShieldTypeMJ(int type);

// A statistic of a ship record in display units: max speed and acceleration
// x 0.002 (max speed with 10% of the minimum per speed extension), turn rates in
// degrees (field x 360 / 6), shield capacity in MJ (per-shield capacity x
// count), weapon recharge as rate x energy, cargo the maximum cargo space.
// Nothing when a field it needs is not a number.
std::optional<double> ShipStatistic(const QString& record, ClassStat s);

// Which table ships make up the class.
struct ClassSelection
{
    enum class By {
        ClassNumber, // record field 52 equals number
        Profile,     // field 5 equals shipClass, and variant is -1 or equals field 50
    };
    By by = By::ClassNumber;
    int number = 0;
    int shipClass = 0;
    int variant = -1;

    static ClassSelection classNumber(int n) { return {By::ClassNumber, n, 0, -1}; }
    static ClassSelection profile(const BalanceProfile& p) { return {By::Profile, 0, p.shipClass, p.variant}; }
    // The class number of a record (field 52); nothing when it is not a number.
    static std::optional<ClassSelection> ofRecord(const QString& record);
    // "class 3" or "class index 2, variant 1" for messages.
    QString describe() const;
};

// One class ship's value of a statistic, for naming the ship in the chart.
struct ClassShipValue
{
    int index = 0; // position among the table's entries
    QString id;    // ship type identifier
    double value = 0;
};

struct StatSummary
{
    int count = 0;   // class ships with a readable value
    int skipped = 0; // class ships whose fields for it are not numbers
    double min = 0, q1 = 0, median = 0, q3 = 0, max = 0;
    QList<ClassShipValue> ships; // the class's values, ascending (ties by table order)

    // The ship, when placed and its fields are numbers.
    bool shipPlaced = false;
    double shipValue = 0;
    double percentile = 0;
};

struct ClassStatistics
{
    ClassSelection selection;
    int entries = 0;          // entry lines of the table
    int fillers = 0;          // installer filler lines skipped
    int unplaceable = 0;      // class or variant field not a number
    int inClass = 0;          // ships of the class
    std::array<StatSummary, kClassStats> stats;

    const StatSummary& stat(ClassStat s) const { return stats[size_t(s)]; }
    StatSummary& stat(ClassStat s) { return stats[size_t(s)]; }
    // Sets each statistic's ship value and percentile from a record; a statistic
    // whose fields are not numbers in the record is left unplaced.
    void placeShip(const QString& record);
};

// The statistics of the class over ship-table entry lines; the ship is placed
// when a record is given.
ClassStatistics ComputeClassStatistics(const QStringList& entries, const ClassSelection& selection,
                                       const QString& record = QString());

// Value at fraction p (0 to 1) of ascending values: linear between the nearest ranks.
double Quantile(const QList<ClassShipValue>& ascending, double p);
// Percent of values below v plus half of those equal; 0 for no values.
double Percentile(const QList<ClassShipValue>& ascending, double v);

// The game's ship table as the game reads it: the newest types\TShips.pck of the
// layered lookup, extracted into tempFolder. False with *error (a sentence for
// the user) when no game directory is given or no catalogue holds the table.
// `problem` and `detail` (the reader's own reason, when it gave one) let a
// window say the same in the user's language.
enum class ShipTableProblem { None, NoGameDir, NotGameDir, Unreadable };
bool LoadGameShipTable(const QString& gameDir, const QString& tempFolder, QStringList* entries,
                       QString* error, ShipTableProblem* problem = nullptr,
                       QString* detail = nullptr);
