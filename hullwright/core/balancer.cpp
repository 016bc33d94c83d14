#include "balancer.h"

#include <set>
#include <tuple>

#include "shiprecord.h"
#include "typetable.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kTurningUnits = 6000;

// Field of the sliders that map one field to one value.
int plainField(BalanceSlider s)
{
    switch (s) {
    case BalanceSlider::Speed:
        return kMinSpeedField;
    case BalanceSlider::Accel:
        return kAccelField;
    case BalanceSlider::Reactor:
        return kReactorField;
    case BalanceSlider::Weapons:
        return kEnergyField;
    case BalanceSlider::Cargo:
        return kCargoMaxField;
    case BalanceSlider::Hull:
        return kHullField;
    default:
        return -1;
    }
}

// trunc(x), except that a product within what 6 significant digits can lose of
// an integer is that integer: 5 / 6000 written as 0.000833333 must read back
// as 5, not 4.
int truncNear(double x)
{
    if (!std::isfinite(x))
        return 0;
    constexpr double kLimit = 2.0 * kMaxProfileValue;
    x = std::clamp(x, -kLimit, kLimit);
    const double r = std::round(x);
    if (std::abs(x - r) <= 1e-5 * std::max(1.0, std::abs(x)))
        return int(r);
    return int(std::trunc(x));
}

// total / divisor as written: 6 significant digits. Six digits cannot always
// give the total back exactly; of the values one unit in the last digit apart,
// the one whose product reads back within [lo, hi] is taken, so a written field
// stays within the profile. Only when none does (a total of more digits than
// the range is wide) are more digits written.
struct Ratio
{
    double value;
    int digits;
};
Ratio writtenRatio(qint64 total, double divisor, qint64 lo, qint64 hi)
{
    const double exact = double(total) / divisor;
    if (exact <= 0)
        return {exact, 6};
    auto inRange = [&](double v) {
        const qint64 back = truncNear(v * divisor);
        return back >= lo && back <= hi;
    };
    const double unit = std::pow(10.0, std::floor(std::log10(exact)) - 5);
    const double six = RecordEditor::numberText(exact).toDouble();
    for (double v : {six, six - unit, six + unit})
        if (inRange(RecordEditor::numberText(v).toDouble()))
            return {RecordEditor::numberText(v).toDouble(), 6};
    for (int digits = 7; digits <= 12; ++digits)
        if (inRange(QString::number(exact, 'g', digits).toDouble()))
            return {exact, digits};
    return {exact, 12};
}

} // namespace

QString BalanceSliderName(BalanceSlider s)
{
    // Command-line names: keep them.
    static const char* const names[kBalanceSliders] = {
        "speed", "acceleration", "reactor", "weapons", "recharge",
        "cargo", "shields",      "hull",    "turning"};
    return QLatin1String(names[int(s)]);
}

std::optional<BalanceSlider> BalanceSliderFromName(const QString& name)
{
    for (int i = 0; i < kBalanceSliders; ++i)
        if (BalanceSliderName(BalanceSlider(i)).compare(name, Qt::CaseInsensitive) == 0)
            return BalanceSlider(i);
    return std::nullopt;
}

int BalanceLineStep(BalanceSlider s)
{
    return s == BalanceSlider::Cargo || s == BalanceSlider::Shields ? 1 : 10;
}

int TurningValue(double pitch)
{
    return truncNear(pitch * kTurningUnits);
}

int RechargeTotal(double rate, int energy)
{
    return truncNear(rate * energy);
}

int ShieldLimit(const BalanceProfile& p, int type)
{
    if (type == p.highestShieldType())
        return p.highestShieldCount();
    return type == 3 ? 7 : type == 4 ? 9 : 4;
}

int ShieldPositions(const BalanceProfile& p)
{
    int n = 0;
    for (int t = p.lowestShieldType(); t <= p.highestShieldType(); ++t)
        n += ShieldLimit(p, t);
    return n;
}

int ShieldPosition(const BalanceProfile& p, int type, int count)
{
    if (type < p.lowestShieldType() || type > p.highestShieldType() || count < 1 ||
        count > ShieldLimit(p, type))
        return 0;
    int pos = count;
    for (int t = p.lowestShieldType(); t < type; ++t)
        pos += ShieldLimit(p, t);
    return pos;
}

int NearestShieldPosition(const BalanceProfile& p, int type, int count)
{
    if (type < p.lowestShieldType())
        return 1;
    if (type > p.highestShieldType())
        return ShieldPositions(p);
    return ShieldPosition(p, type, std::clamp(count, 1, ShieldLimit(p, type)));
}

ShieldPair ShieldAt(const BalanceProfile& p, int position)
{
    int pos = std::clamp(position, 1, std::max(1, ShieldPositions(p)));
    for (int t = p.lowestShieldType(); t <= p.highestShieldType(); ++t) {
        if (pos <= ShieldLimit(p, t))
            return {t, pos};
        pos -= ShieldLimit(p, t);
    }
    return {p.highestShieldType(), p.highestShieldCount()};
}

QString BalanceStopText(BalanceRun::Stop stop)
{
    switch (stop) {
    case BalanceRun::Stop::AlreadyThere:
        return QStringLiteral("the average was already 100");
    case BalanceRun::Stop::Reached:
        return QStringLiteral("the average is 100");
    case BalanceRun::Stop::NoMove:
        return QStringLiteral("no slider can move further in the needed direction");
    case BalanceRun::Stop::Oscillation:
        return QStringLiteral("the steps keep jumping over 100");
    case BalanceRun::Stop::StepLimit:
        return QStringLiteral("the step limit was reached");
    }
    return QString();
}

// --- Balancer ----------------------------------------------------------------

Balancer::Balancer(const BalanceProfile& profile) : m_profile(profile)
{
    for (int i = 0; i < kBalanceSliders; ++i) {
        const BalanceSlider s = BalanceSlider(i);
        m_max[i] = s == BalanceSlider::Shields ? std::max(1, ShieldPositions(m_profile))
                                               : std::max(0, range(s).max - range(s).min);
        m_values[i] = minimum(s);
    }
}

BalanceRange Balancer::range(BalanceSlider s) const
{
    switch (s) {
    case BalanceSlider::Speed:
        return m_profile.speed;
    case BalanceSlider::Accel:
        return m_profile.accel;
    case BalanceSlider::Reactor:
        return m_profile.reactor;
    case BalanceSlider::Weapons:
        return m_profile.weapon;
    case BalanceSlider::Recharge:
        return m_profile.recharge;
    case BalanceSlider::Cargo:
        return m_profile.cargoRange();
    case BalanceSlider::Shields:
        return {1, ShieldPositions(m_profile)};
    case BalanceSlider::Hull:
        return m_profile.hull;
    case BalanceSlider::Turning:
        return m_profile.turning;
    }
    return {};
}

int Balancer::minimum(BalanceSlider s) const
{
    if (s == BalanceSlider::Shields)
        return 1;
    // No weapons energy leaves no rate that gives the recharge total: the energy
    // stays at 1 or more when the profile would allow 0.
    if (s == BalanceSlider::Weapons && range(s).min == 0 && m_max[index(s)] >= 1)
        return 1;
    return 0;
}

int Balancer::maximum(BalanceSlider s) const
{
    return m_max[index(s)];
}

void Balancer::setValue(BalanceSlider s, int v)
{
    m_values[index(s)] = std::clamp(v, minimum(s), maximum(s));
    m_touched[index(s)] = true;
}

void Balancer::touchAll()
{
    for (int i = 0; i < kBalanceSliders; ++i) {
        m_touched[i] = true;
        m_values[i] = std::clamp(m_values[i], minimum(BalanceSlider(i)), maximum(BalanceSlider(i)));
    }
}

qint64 Balancer::shownStatistic(BalanceSlider s) const
{
    return touched(s) ? statistic(s) : m_loaded[index(s)];
}

qint64 Balancer::statistic(BalanceSlider s) const
{
    if (s == BalanceSlider::Shields)
        return value(s);
    return qint64(range(s).min) + value(s);
}

float Balancer::scoreOf(BalanceSlider s, const std::array<int, kBalanceSliders>& values) const
{
    const int v = values[index(s)];
    if (s == BalanceSlider::Shields)
        return float(v) / (float(maximum(s)) * 0.5f);
    const BalanceRange r = range(s);
    return float(qint64(r.min) + v) / float(r.mid());
}

float Balancer::score(BalanceSlider s) const
{
    return scoreOf(s, m_values);
}

int Balancer::averageOf(const std::array<int, kBalanceSliders>& values) const
{
    float sum = 0.0f;
    for (int i = 0; i < kBalanceSliders; ++i)
        sum += scoreOf(BalanceSlider(i), values);
    return int(std::trunc(sum * (1.0f / 9.0f) * 100.0f));
}

int Balancer::average() const
{
    // An untouched statistic counts with the ship's own value, as it is shown.
    float sum = 0.0f;
    for (int i = 0; i < kBalanceSliders; ++i) {
        const BalanceSlider s = BalanceSlider(i);
        if (touched(s) || s == BalanceSlider::Shields || !m_editor)
            sum += scoreOf(s, m_values);
        else
            sum += float(m_loaded[i]) / float(range(s).mid());
    }
    return int(std::trunc(sum * (1.0f / 9.0f) * 100.0f));
}

void Balancer::setAverage()
{
    for (int i = 0; i < kBalanceSliders; ++i)
        setValue(BalanceSlider(i), maximum(BalanceSlider(i)) / 2);
}

namespace {

// Everything the next round of the loop depends on.
struct LoopState
{
    std::array<int, kBalanceSliders> values;
    std::array<bool, 8> marked;
    int current;
    bool stepInRound;
    bool operator<(const LoopState& o) const
    {
        return std::tie(values, marked, current, stepInRound) <
               std::tie(o.values, o.marked, o.current, o.stepInRound);
    }
};

} // namespace

int Balancer::step(BalanceSlider s) const
{
    const int line = BalanceLineStep(s);
    const int raw = maximum(s) / 100;
    return std::max(1, raw / line * line);
}

BalanceRun Balancer::balance(BalanceMode mode, std::optional<BalanceSlider> moved)
{
    BalanceRun run;
    // The average as shown; the run itself works on the profile's ranges, every
    // slider taken as it stands (a value outside its range now clamped).
    run.averageBefore = average();
    touchAll();
    run.averageAfter = average();
    if (run.averageAfter == 100)
        return run;

    constexpr int kMoving = 8;
    std::array<int, kBalanceSliders> work = m_values;
    std::array<int, kBalanceSliders> best = work;
    int a = run.averageAfter;
    int bestDistance = std::abs(a - 100);
    bool marked[kMoving] = {};
    int current = -1;       // kept choice of the "first" modes, an index into kMovingSliders
    bool stepInRound = false;
    int lastDirection = a < 100 ? 1 : -1;
    const int movedIndex = [&] {
        for (int k = 0; k < kMoving; ++k)
            if (moved && kMovingSliders[k] == *moved)
                return k;
        return -1;
    }();

    // The loop's next round depends only on its state, and there are finitely
    // many: it either reaches 100 or comes back to a state it was in, and then it
    // would go round for ever. That repeat is where it stops.
    std::set<LoopState> seen;

    auto canMove = [&](int k, int direction) {
        const int v = work[index(kMovingSliders[k])];
        return direction > 0 ? v < maximum(kMovingSliders[k]) : v > minimum(kMovingSliders[k]);
    };
    auto ratio = [&](int k) {
        const int v = work[index(kMovingSliders[k])];
        return v == 0 ? std::numeric_limits<double>::infinity()
                      : double(maximum(kMovingSliders[k])) / v;
    };
    // The candidate with the largest (or smallest) ratio; the first wins ties.
    auto pick = [&](auto isCandidate, bool largest) {
        int chosen = -1;
        double chosenRatio = 0;
        for (int k = 0; k < kMoving; ++k) {
            if (!isCandidate(k))
                continue;
            const double r = ratio(k);
            if (chosen < 0 || (largest ? r > chosenRatio : r < chosenRatio)) {
                chosen = k;
                chosenRatio = r;
            }
        }
        return chosen;
    };

    run.stop = BalanceRun::Stop::Reached;
    while (a != 100) {
        const int direction = a < 100 ? 1 : -1;
        if (direction != lastDirection) {
            lastDirection = direction;
            ++run.crossings;
        }
        std::array<bool, 8> marks;
        std::copy(std::begin(marked), std::end(marked), marks.begin());
        if (!seen.insert({work, marks, current, stepInRound}).second) {
            run.stop = BalanceRun::Stop::Oscillation;
            break;
        }
        if (run.steps >= kStepLimit) {
            run.stop = BalanceRun::Stop::StepLimit;
            break;
        }
        int chosen = -1;
        if (mode == BalanceMode::Equal) {
            if (movedIndex >= 0)
                marked[movedIndex] = true;
            chosen = pick(
                [&](int k) {
                    if (marked[k])
                        return false;
                    if (!canMove(k, direction))
                        marked[k] = true;
                    return !marked[k];
                },
                direction < 0);
            if (chosen < 0) {
                // Every slider is marked: the round is over.
                if (!stepInRound) {
                    run.stop = BalanceRun::Stop::NoMove;
                    break;
                }
                std::fill(std::begin(marked), std::end(marked), false);
                stepInRound = false;
                continue;
            }
        } else {
            if (current >= 0 && canMove(current, direction))
                chosen = current;
            else
                chosen = pick([&](int k) { return k != movedIndex && canMove(k, direction); },
                              mode == BalanceMode::LowestFirst);
            if (chosen < 0) {
                run.stop = BalanceRun::Stop::NoMove;
                break;
            }
        }

        const BalanceSlider s = kMovingSliders[chosen];
        int& v = work[index(s)];
        const int by = step(s);
        current = chosen;
        if (direction < 0) {
            const int lo = minimum(s);
            v = v - by <= lo ? lo : v - by;
            if (v == lo)
                current = -1;
        } else {
            v = v >= maximum(s) - by ? maximum(s) : v + by;
            if (v == maximum(s))
                current = -1;
        }
        marked[chosen] = true;
        stepInRound = true;
        ++run.steps;
        a = averageOf(work);
        if (std::abs(a - 100) < bestDistance) {
            bestDistance = std::abs(a - 100);
            best = work;
        }
        if (std::all_of(std::begin(marked), std::end(marked), [](bool m) { return m; })) {
            std::fill(std::begin(marked), std::end(marked), false);
            stepInRound = false;
        }
    }
    m_values = a == 100 ? work : best;
    run.averageAfter = average();
    return run;
}

// --- The ship record ----------------------------------------------------------

bool Balancer::load(const QString& recordText, QString* error)
{
    const ShipRecord rec(recordText);
    QStringList bad;
    auto intOf = [&](int field) {
        int v = 0;
        if (!ParseTableInt(rec.field(field), &v))
            bad << QString::number(field);
        return v;
    };
    auto decimalOf = [&](int field) {
        bool ok = false;
        const double v = rec.field(field).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v))
            bad << QString::number(field);
        return ok && std::isfinite(v) ? v : 0.0;
    };
    if (rec.fieldCount() <= kHullField) {
        if (error)
            *error = QStringLiteral("the record ends at field %1; balancing needs fields up to %2")
                         .arg(rec.fieldCount() - 1)
                         .arg(kHullField);
        return false;
    }
    const double pitch = decimalOf(kPitchField);
    decimalOf(kYawField);
    decimalOf(kRollField);
    const double rate = decimalOf(kRechargeField);
    const int energy = intOf(kEnergyField);
    m_loaded[index(BalanceSlider::Speed)] = intOf(kMinSpeedField);
    m_loaded[index(BalanceSlider::Accel)] = intOf(kAccelField);
    m_loaded[index(BalanceSlider::Reactor)] = intOf(kReactorField);
    m_loaded[index(BalanceSlider::Weapons)] = energy;
    m_loaded[index(BalanceSlider::Recharge)] = RechargeTotal(rate, energy);
    m_loaded[index(BalanceSlider::Cargo)] = intOf(kCargoMaxField);
    m_loaded[index(BalanceSlider::Hull)] = intOf(kHullField);
    m_loaded[index(BalanceSlider::Turning)] = TurningValue(pitch);
    intOf(kCargoMinField);
    m_loadedShields = {intOf(kShieldTypeField), intOf(kShieldCountField)};
    if (!bad.isEmpty()) {
        if (error)
            *error = QStringLiteral("field(s) %1 of the record are not numbers").arg(bad.join(", "));
        return false;
    }
    for (int i = 0; i < kBalanceSliders; ++i) {
        const BalanceSlider s = BalanceSlider(i);
        if (s == BalanceSlider::Shields)
            continue;
        const qint64 v = m_loaded[i] - range(s).min;
        m_values[i] = int(std::clamp<qint64>(v, 0, maximum(s)));
    }
    const int pos = ShieldPosition(m_profile, m_loadedShields.type, m_loadedShields.count);
    m_shieldsOutside = pos == 0;
    m_values[index(BalanceSlider::Shields)] =
        m_shieldsOutside
            ? NearestShieldPosition(m_profile, m_loadedShields.type, m_loadedShields.count)
            : pos;
    m_loaded[index(BalanceSlider::Shields)] = m_values[index(BalanceSlider::Shields)];
    m_loadedValues = m_values;
    m_touched.fill(false);
    m_editor.emplace(recordText);
    return true;
}

QString Balancer::record() const
{
    if (!m_editor)
        return QString();
    RecordEditor e = *m_editor;
    // Only what the modder moved (or let a mode or Set Average move) is written.
    auto changed = [&](BalanceSlider s) {
        if (!touched(s))
            return false;
        return s == BalanceSlider::Shields ? value(s) != m_loadedValues[index(s)]
                                           : statistic(s) != m_loaded[index(s)];
    };
    for (BalanceSlider s : {BalanceSlider::Speed, BalanceSlider::Accel, BalanceSlider::Reactor,
                            BalanceSlider::Weapons, BalanceSlider::Cargo, BalanceSlider::Hull})
        if (changed(s))
            e.setFieldInt(plainField(s), int(statistic(s)));
    // The rate is the total over the energy: a new energy needs a new rate. With
    // no energy there is no rate that gives the total, and the rate stays.
    const qint64 energy = statistic(BalanceSlider::Weapons);
    if ((changed(BalanceSlider::Recharge) || changed(BalanceSlider::Weapons)) && energy != 0) {
        const Ratio rate = writtenRatio(statistic(BalanceSlider::Recharge), double(energy),
                                        m_profile.recharge.min, m_profile.recharge.max);
        e.setFieldDecimal(kRechargeField, rate.value, rate.digits);
    }
    // A cargo minimum above the maximum would be swapped on saving, moving the
    // maximum away from the slider; the minimum follows the maximum down instead.
    int cargoMin = 0;
    if (ParseTableInt(e.fieldText(kCargoMinField), &cargoMin) &&
        cargoMin > statistic(BalanceSlider::Cargo))
        e.setFieldInt(kCargoMinField, int(statistic(BalanceSlider::Cargo)));
    if (changed(BalanceSlider::Shields)) {
        const ShieldPair pair = ShieldAt(m_profile, value(BalanceSlider::Shields));
        e.setFieldInt(kShieldTypeField, pair.type);
        e.setFieldInt(kShieldCountField, pair.count);
    }
    if (changed(BalanceSlider::Turning)) {
        const qint64 t = statistic(BalanceSlider::Turning);
        const Ratio pitch =
            writtenRatio(t, kTurningUnits, m_profile.turning.min, m_profile.turning.max);
        e.setFieldDecimal(kYawField, double(t + t / 4) / kTurningUnits);
        e.setFieldDecimal(kPitchField, pitch.value, pitch.digits);
        e.setFieldDecimal(kRollField, pitch.value, pitch.digits);
    }
    return e.record();
}
