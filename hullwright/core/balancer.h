// Balancing a ship record against a profile: nine sliders that hold the ship's
// statistics relative to the profile, their scores, the overall average A (100 is
// the profile's middle) and the automatic modes that move eight of the sliders
// until A is 100.
//
// Guarantees: balance() ends where the plain loop (step until A is 100) ends
// when that loop ends at all; when it would go round for ever (a state repeats, or
// no slider can move) it stops there and leaves the state closest to 100 that it
// passed, so A is never further from 100 after a run than before. The sliders
// stay within their ranges, so every field written lies within the profile.
//
// Loading clamps nothing that is written: a statistic is shown with the ship's own
// value, and written back, only once the modder moved its slider, pressed Set
// Average or ran a mode. Done without any of these leaves the record as it was.
#pragma once

#include "balanceprofile.h"
#include "recordeditor.h"

#include <QString>

#include <array>
#include <optional>

enum class BalanceSlider : int {
    Speed,
    Accel,
    Reactor,
    Weapons,
    Recharge,
    Cargo,
    Shields,
    Hull,
    Turning,
};
inline constexpr int kBalanceSliders = 9;
// The sliders the automatic modes move, in the order that breaks ties.
inline constexpr BalanceSlider kMovingSliders[8] = {
    BalanceSlider::Speed, BalanceSlider::Accel,    BalanceSlider::Reactor, BalanceSlider::Weapons,
    BalanceSlider::Recharge, BalanceSlider::Cargo, BalanceSlider::Hull,    BalanceSlider::Turning};

// Names used by the command line ("speed", "acceleration", ...); stored in scripts.
QString BalanceSliderName(BalanceSlider s);
std::optional<BalanceSlider> BalanceSliderFromName(const QString& name);

enum class BalanceMode { Equal, LowestFirst, HighestFirst };

// The line step of each slider (the dialog's sliders use the same).
int BalanceLineStep(BalanceSlider s);

// Statistics read from a record the way the balancer and the profile import
// read them. trunc(x) of a product that lies within 1e-5 (relative) of an
// integer gives that integer: values written with 6 significant digits read
// back as they were written.
int TurningValue(double pitch);                // trunc(field 3 x 6000)
int RechargeTotal(double rate, int energy);    // trunc(field 21 x field 20)

// The shield sequence: for each type from the profile's lowest to its highest,
// counts 1 to the type's limit; positions count from 1.
int ShieldLimit(const BalanceProfile& p, int type);
int ShieldPositions(const BalanceProfile& p); // P
// 0 when the pair is not in the sequence.
int ShieldPosition(const BalanceProfile& p, int type, int count);
// The position nearest to a pair outside the sequence (1 to P).
int NearestShieldPosition(const BalanceProfile& p, int type, int count);
struct ShieldPair
{
    int type = 0;
    int count = 0;
};
ShieldPair ShieldAt(const BalanceProfile& p, int position);

struct BalanceRun
{
    enum class Stop {
        AlreadyThere, // A was 100
        Reached,      // A is 100
        NoMove,       // no slider can move in the needed direction
        Oscillation,  // the steps kept jumping over 100
        StepLimit,    // defensive bound; not reached with valid ranges
    };
    Stop stop = Stop::AlreadyThere;
    int averageBefore = 0;
    int averageAfter = 0;
    int steps = 0;     // slider steps taken (the kept state may be an earlier one)
    int crossings = 0; // times the direction turned
    bool reached() const { return averageAfter == 100; }
};
QString BalanceStopText(BalanceRun::Stop stop);

class Balancer
{
public:
    // Defensive only: a run of valid ranges repeats a state long before.
    static constexpr qint64 kStepLimit = 50'000'000;

    // The profile must be usable (ProfileProblem empty).
    explicit Balancer(const BalanceProfile& profile);

    const BalanceProfile& profile() const { return m_profile; }

    // Slider ranges: 0 to max - min; the shield slider 1 to P.
    int minimum(BalanceSlider s) const;
    int maximum(BalanceSlider s) const;
    int value(BalanceSlider s) const { return m_values[index(s)]; }
    // Clamped into the slider's range; the slider counts as moved from then on.
    void setValue(BalanceSlider s, int v);
    // Moved (by the modder, Set Average or a mode) since the record was loaded.
    bool touched(BalanceSlider s) const { return m_touched[index(s)]; }
    // What the dialog shows: the ship's own value until the slider is moved.
    qint64 shownStatistic(BalanceSlider s) const;
    // The statistic a slider stands for: min + value (the shield position itself).
    qint64 statistic(BalanceSlider s) const;
    BalanceRange range(BalanceSlider s) const;

    float score(BalanceSlider s) const;
    int average() const;

    // Every slider to half its maximum.
    void setAverage();
    // One automatic run; moved is the slider the user just moved, if any.
    BalanceRun balance(BalanceMode mode, std::optional<BalanceSlider> moved = std::nullopt);
    // The step of the automatic modes: 1% of the maximum, rounded down to a
    // multiple of the line step, at least 1.
    int step(BalanceSlider s) const;

    // Loading a ship record: every slider from its field (clamped into range).
    // False with *error when a field the balancer reads or writes is not a number.
    bool load(const QString& record, QString* error = nullptr);
    // The record with the fields of every slider whose value differs from what
    // the record held; everything else as it was. Valid after load().
    QString record() const;
    // The record's own value of a slider before clamping.
    qint64 loadedStatistic(BalanceSlider s) const { return m_loaded[index(s)]; }
    // The record's shield pair is not in the profile's sequence: the slider shows
    // the nearest position and fields 22 and 23 stay unless the slider is moved.
    bool shieldsOutside() const { return m_shieldsOutside; }
    ShieldPair loadedShields() const { return m_loadedShields; }

private:
    static int index(BalanceSlider s) { return int(s); }
    float scoreOf(BalanceSlider s, const std::array<int, kBalanceSliders>& values) const;
    int averageOf(const std::array<int, kBalanceSliders>& values) const;
    void touchAll();

    BalanceProfile m_profile;
    std::array<int, kBalanceSliders> m_values{};
    std::array<int, kBalanceSliders> m_max{};
    std::array<qint64, kBalanceSliders> m_loaded{};
    std::array<int, kBalanceSliders> m_loadedValues{};
    std::array<bool, kBalanceSliders> m_touched{};
    bool m_shieldsOutside = false;
    ShieldPair m_loadedShields;
    std::optional<RecordEditor> m_editor;
};
