#include "classstats.h"

#include "gamedir.h"
#include "recordeditor.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace {

std::optional<int> intOf(const ShipRecord& r, int field)
{
    int v = 0;
    if (!ParseTableInt(r.field(field), &v))
        return std::nullopt;
    return v;
}

std::optional<double> decimalOf(const ShipRecord& r, int field)
{
    bool ok = false;
    const double v = r.field(field).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<double> statOf(const ShipRecord& r, ClassStat s)
{
    switch (s) {
    case ClassStat::MaxSpeed: {
        const auto m = intOf(r, kMinSpeedField), t = intOf(r, kSpeedExtField);
        if (!m || !t)
            return std::nullopt;
        return RecordEditor::maxSpeed(*m, *t) * 0.002;
    }
    case ClassStat::Accel:
        if (const auto a = intOf(r, kAccelField))
            return *a * 0.002;
        return std::nullopt;
    case ClassStat::Yaw:
    case ClassStat::Pitch:
    case ClassStat::Roll: {
        const int field = kYawField + (int(s) - int(ClassStat::Yaw));
        if (const auto v = decimalOf(r, field))
            return *v * 360.0 / 6.0;
        return std::nullopt;
    }
    case ClassStat::Hull:
        if (const auto h = intOf(r, kHullField))
            return double(*h);
        return std::nullopt;
    case ClassStat::Shield: {
        const auto type = intOf(r, kShieldTypeField), count = intOf(r, kShieldCountField);
        if (!type || !count || *type < 0 || *type > 5)
            return std::nullopt;
        return ShieldTypeMJ(*type) * *count;
    }
    case ClassStat::Energy:
        if (const auto e = intOf(r, kEnergyField))
            return double(*e);
        return std::nullopt;
    case ClassStat::Recharge: {
        const auto rate = decimalOf(r, kRechargeField);
        const auto energy = intOf(r, kEnergyField);
        if (!rate || !energy)
            return std::nullopt;
        return *rate * *energy;
    }
    case ClassStat::Cargo:
        if (const auto c = intOf(r, kCargoMaxField))
            return double(*c);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QString ClassStatName(ClassStat s)
{
    static const char* const names[kClassStats] = {
        "max_speed", "acceleration", "yaw", "pitch", "roll", "hull",
        "shield", "weapon_energy", "weapon_recharge", "cargo"};
    return QLatin1String(names[int(s)]);
}

QString ClassStatLabel(ClassStat s)
{
    static const char* const labels[kClassStats] = {
        "Speed", "Accel", "Yaw", "Pitch", "Roll", "Hull",
        "Shield", "Weap.", "Rech.", "Cargo"};
    return QLatin1String(labels[int(s)]);
}

QString ClassStatUnit(ClassStat s)
{
    switch (s) {
    case ClassStat::Yaw:
    case ClassStat::Pitch:
    case ClassStat::Roll:
        return QStringLiteral("°");
    case ClassStat::Shield:
        return QStringLiteral("MJ");
    default:
        return QString();
    }
}

double ShieldTypeMJ(int type)
{
    static const double mj[6] = {1, 5, 25, 125, 1000, 10000};
    return type >= 0 && type < 6 ? mj[type] : 0;
}

std::optional<double> ShipStatistic(const QString& record, ClassStat s)
{
    return statOf(ShipRecord(record), s);
}

std::optional<ClassSelection> ClassSelection::ofRecord(const QString& record)
{
    if (const auto n = intOf(ShipRecord(record), kClassNumberField))
        return classNumber(*n);
    return std::nullopt;
}

QString ClassSelection::describe() const
{
    if (by == By::ClassNumber)
        return QStringLiteral("class %1").arg(number);
    return variant < 0 ? QStringLiteral("class index %1").arg(shipClass)
                       : QStringLiteral("class index %1, variant %2").arg(shipClass).arg(variant);
}

double Quantile(const QList<ClassShipValue>& v, double p)
{
    if (v.isEmpty())
        return 0;
    const double h = (v.size() - 1) * std::clamp(p, 0.0, 1.0);
    const qsizetype lo = qsizetype(std::floor(h));
    const qsizetype hi = std::min<qsizetype>(lo + 1, v.size() - 1);
    return v[lo].value + (h - double(lo)) * (v[hi].value - v[lo].value);
}

double Percentile(const QList<ClassShipValue>& v, double x)
{
    if (v.isEmpty())
        return 0;
    auto less = [](const ClassShipValue& a, double b) { return a.value < b; };
    auto greater = [](double a, const ClassShipValue& b) { return a < b.value; };
    const auto lo = std::lower_bound(v.begin(), v.end(), x, less);
    const auto hi = std::upper_bound(lo, v.end(), x, greater);
    const double below = double(lo - v.begin()), equal = double(hi - lo);
    return 100.0 * (below + 0.5 * equal) / double(v.size());
}

void ClassStatistics::placeShip(const QString& record)
{
    const ShipRecord r(record);
    for (int i = 0; i < kClassStats; ++i) {
        StatSummary& st = stats[size_t(i)];
        const std::optional<double> v = statOf(r, ClassStat(i));
        st.shipPlaced = v.has_value();
        st.shipValue = v.value_or(0);
        st.percentile = v ? Percentile(st.ships, *v) : 0;
    }
}

ClassStatistics ComputeClassStatistics(const QStringList& entries, const ClassSelection& selection,
                                       const QString& record)
{
    ClassStatistics out;
    out.selection = selection;
    out.entries = int(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString& line = entries[i];
        if (IsFillerShipLine(line)) {
            ++out.fillers;
            continue;
        }
        const ShipRecord r(line);
        bool member = false;
        if (selection.by == ClassSelection::By::ClassNumber) {
            const auto n = intOf(r, kClassNumberField);
            if (!n) {
                ++out.unplaceable;
                continue;
            }
            member = *n == selection.number;
        } else {
            const auto c = intOf(r, kClassField), var = intOf(r, kVariationField);
            if (!c || !var) {
                ++out.unplaceable;
                continue;
            }
            member = *c == selection.shipClass && (selection.variant < 0 || *var == selection.variant);
        }
        if (!member)
            continue;
        ++out.inClass;
        const QString id = r.identifier();
        for (int s = 0; s < kClassStats; ++s) {
            StatSummary& st = out.stats[size_t(s)];
            if (const auto v = statOf(r, ClassStat(s)))
                st.ships.append({int(i), id, *v});
            else
                ++st.skipped;
        }
    }
    for (StatSummary& st : out.stats) {
        std::stable_sort(st.ships.begin(), st.ships.end(),
                         [](const ClassShipValue& a, const ClassShipValue& b) { return a.value < b.value; });
        st.count = int(st.ships.size());
        if (st.ships.isEmpty())
            continue;
        st.min = st.ships.first().value;
        st.max = st.ships.last().value;
        st.q1 = Quantile(st.ships, 0.25);
        st.median = Quantile(st.ships, 0.5);
        st.q3 = Quantile(st.ships, 0.75);
    }
    if (!record.isEmpty())
        out.placeShip(record);
    return out;
}

bool LoadGameShipTable(const QString& gameDir, const QString& tempFolder, QStringList* entries,
                       QString* error, ShipTableProblem* problem, QString* detail)
{
    entries->clear();
    const auto fail = [&](ShipTableProblem p, const QString& message) {
        *error = message;
        if (problem)
            *problem = p;
        return false;
    };
    if (problem)
        *problem = ShipTableProblem::None;
    if (gameDir.isEmpty())
        return fail(ShipTableProblem::NoGameDir,
                    QStringLiteral("No game directory is set, so there is no game ship table to compare with."));
    if (!IsValidGameDir(gameDir))
        return fail(ShipTableProblem::NotGameDir,
                    QStringLiteral("%1 is not a game directory, so there is no game ship table to compare with.")
                        .arg(gameDir));
    QDir().mkpath(tempFolder);
    QByteArray text;
    QString why;
    if (!ExtractTableText(gameDir, QStringLiteral("TShips"), tempFolder, &text, QString(), &why)) {
        if (detail)
            *detail = why;
        return fail(ShipTableProblem::Unreadable,
                    QStringLiteral("The game in %1 holds no readable ship table (types\\TShips.pck)%2.")
                        .arg(gameDir, why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }
    *entries = ReadTypeTable(text).entries;
    return true;
}
