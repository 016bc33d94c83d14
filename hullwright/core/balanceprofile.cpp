#include "balanceprofile.h"

#include "archivefile.h"
#include "balancer.h"
#include "imports.h"
#include "safefile.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A profile is a dozen short lines; anything much larger is not one.
constexpr qint64 kMaxProfileBytes = 64 * 1024;

// The file's keys, in the order they are written. Stored in users' files.
struct RangeKey
{
    const char* key;
    BalanceRange BalanceProfile::*member;
    const char* label; // for messages
    bool scored;
};
const RangeKey kRanges[] = {
    {"Accel", &BalanceProfile::accel, "Acceleration", true},
    {"Speed", &BalanceProfile::speed, "Speed", true},
    {"Turning", &BalanceProfile::turning, "Turning", true},
    {"Tuning", &BalanceProfile::tuning, "Speed extensions", false},
    {"Reactor", &BalanceProfile::reactor, "Reactor", true},
    {"Weapon", &BalanceProfile::weapon, "Weapons energy", true},
    {"WeaponRecharge", &BalanceProfile::recharge, "Weapon recharge", true},
};

QString lineBreaksRemoved(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// The ";"-separated values of a line, base 10; what does not parse reads 0.
QList<int> numbers(const QString& value, int count, bool* huge)
{
    QList<int> out;
    const QStringList parts = value.split(QLatin1Char(';'));
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        const qint64 v = parts.value(i).trimmed().toLongLong(&ok, 10);
        if (ok && (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())) {
            *huge = true;
            ok = false;
        }
        if (!ok && !parts.value(i).trimmed().isEmpty()) {
            // Digits beyond 64 bits do not parse either: still a huge value.
            const QString t = parts.value(i).trimmed();
            if (t.size() > 18 && std::all_of(t.begin() + (t.startsWith('-') ? 1 : 0), t.end(),
                                             [](QChar c) { return c.isDigit(); }))
                *huge = true;
        }
        out << (ok ? int(v) : 0);
    }
    return out;
}

bool isFiller(const QString& line)
{
    const QString id = TableIdentifier(line);
    for (const char* prefix : {"HULLWRIGHT_SPACER_", "HULLWRIGHT_DELETED_", "HULLWRIGHT_DISABLEDSHIP_"})
        if (id.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

struct Extremes
{
    bool any = false;
    qint64 lo = 0, hi = 0;
    void add(qint64 v)
    {
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
    }
    BalanceRange range() const { return {int(lo), int(hi)}; }
};

} // namespace

bool BalanceProfile::fits(int cls, int var) const
{
    return shipClass == cls && (variant == -1 || variant == var);
}

BalanceProfile ParseProfile(const QByteArray& text, bool* hugeOut)
{
    BalanceProfile p;
    p.variant = 0; // a profile without a "Variant:" line is for variant 0

    bool huge = false;
    for (const QByteArray& raw : text.split('\n')) {
        QString line = QString::fromLatin1(raw);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const int space = int(line.indexOf(QLatin1Char(' ')));
        const QString key = (space < 0 ? line : line.left(space)).toLower();
        const QString value = space < 0 ? QString() : line.mid(space + 1);
        if (key == QLatin1String("profile:")) {
            // Names are written as UTF-8; a file from before that is Latin-1.
            const QByteArray bytes = raw.mid(space + 1);
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8.decode(bytes);
            p.name = (utf8.hasError() ? QString::fromLatin1(bytes) : decoded).trimmed();
            continue;
        }
        if (key == QLatin1String("class:")) {
            p.shipClass = numbers(value, 1, &huge).at(0);
            continue;
        }
        if (key == QLatin1String("variant:")) {
            p.variant = numbers(value, 1, &huge).at(0);
            continue;
        }
        if (key == QLatin1String("cargo:") || key == QLatin1String("shield:")) {
            const QList<int> v = numbers(value, 4, &huge);
            int* target = key == QLatin1String("cargo:") ? p.cargo : p.shield;
            std::copy(v.begin(), v.end(), target);
            continue;
        }
        if (key == QLatin1String("hull:")) {
            const QList<int> v = numbers(value, 2, &huge);
            p.hull = {v.at(0), v.at(1)};
            continue;
        }
        for (const RangeKey& r : kRanges)
            if (key == QString::fromLatin1(r.key).toLower() + QLatin1Char(':')) {
                const QList<int> v = numbers(value, 2, &huge);
                p.*(r.member) = {v.at(0), v.at(1)};
            }
    }
    if (hugeOut)
        *hugeOut = huge;
    return p;
}

QByteArray ProfileText(const BalanceProfile& p)
{
    auto pair = [](const BalanceRange& r) {
        return QByteArray::number(r.min) + ';' + QByteArray::number(r.max);
    };
    auto four = [](const int* v) {
        QByteArrayList parts;
        for (int i = 0; i < 4; ++i)
            parts << QByteArray::number(v[i]);
        return parts.join(';');
    };
    QByteArray t;
    t += "Profile: " + lineBreaksRemoved(p.name).toUtf8() + '\n';
    t += "Class: " + QByteArray::number(p.shipClass) + '\n';
    t += "Variant: " + QByteArray::number(p.variant) + '\n';
    for (const RangeKey& r : kRanges)
        t += QByteArray(r.key) + ": " + pair(p.*(r.member)) + '\n';
    t += "Cargo: " + four(p.cargo) + '\n';
    t += "Shield: " + four(p.shield) + '\n';
    t += "Hull: " + pair(p.hull) + '\n';
    return t;
}

QString ProfileProblem(const BalanceProfile& p)
{
    auto checkValue = [](qint64 v, const QString& label) -> QString {
        if (v < 0)
            return label + QStringLiteral(" holds a negative value.");
        if (v > kMaxProfileValue)
            return label + QStringLiteral(" holds a value above %1.").arg(kMaxProfileValue);
        return QString();
    };
    auto checkRange = [&](const BalanceRange& r, const QString& label, bool scored) -> QString {
        for (int v : {r.min, r.max})
            if (QString why = checkValue(v, label); !why.isEmpty())
                return why;
        if (!scored)
            return QString();
        if (r.max < r.min)
            return label + QStringLiteral(": the maximum is below the minimum.");
        if (r.mid() <= 0)
            return label + QStringLiteral(": the middle is 0, so no score can be formed.");
        return QString();
    };
    if (p.shipClass < 0)
        return QStringLiteral("The ship class is negative.");
    if (p.variant < -1)
        return QStringLiteral("The variant is below -1.");
    for (const RangeKey& r : kRanges)
        if (QString why = checkRange(p.*(r.member), QLatin1String(r.label), r.scored);
            !why.isEmpty())
            return why;
    if (QString why = checkRange(p.hull, QStringLiteral("Hull"), true); !why.isEmpty())
        return why;
    if (QString why = checkRange(p.cargoRange(), QStringLiteral("Cargo"), true); !why.isEmpty())
        return why;
    for (int i = 2; i < 4; ++i)
        if (QString why = checkValue(p.cargo[i], QStringLiteral("Cargo")); !why.isEmpty())
            return why;
    const int lo = p.lowestShieldType(), hi = p.highestShieldType();
    if (lo < 0 || lo >= kShieldTypes || hi < 0 || hi >= kShieldTypes)
        return QStringLiteral("Shields: a shield type is outside 0 to %1.").arg(kShieldTypes - 1);
    if (hi < lo)
        return QStringLiteral("Shields: the highest type is below the lowest.");
    if (p.shield[1] < 0 || p.shield[1] > kMaxShieldCount)
        return QStringLiteral("Shields: the count at the lowest type is outside 0 to %1.")
            .arg(kMaxShieldCount);
    if (p.highestShieldCount() < 1 || p.highestShieldCount() > kMaxShieldCount)
        return QStringLiteral("Shields: the highest count is outside 1 to %1.").arg(kMaxShieldCount);
    return QString();
}

bool ReadProfileFile(const QString& path, ProfileFile* out, QString* error)
{
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be opened").arg(path);
        return false;
    }
    if (f.size() > kMaxProfileBytes) {
        if (error)
            *error = QStringLiteral("%1 is too large to be a profile").arg(path);
        return false;
    }
    bool huge = false;
    out->path = path;
    out->profile = ParseProfile(f.read(kMaxProfileBytes + 1), &huge);
    out->profile.fileName = QFileInfo(path).completeBaseName();
    out->problem = huge ? QStringLiteral("A value does not fit in 32 bits.")
                        : ProfileProblem(out->profile);
    return true;
}

QList<ProfileFile> ReadProfiles(const QString& folder)
{
    QList<ProfileFile> list;
    const QDir dir(folder);
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.xbp")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& fi : files) {
        ProfileFile pf;
        QString error;
        if (ReadProfileFile(fi.filePath(), &pf, &error))
            list.append(pf);
    }
    return list;
}

bool WriteProfile(const QString& folder, const BalanceProfile& profile, QString* error)
{
    if (!MakeDirChecked(folder, error))
        return false;
    const QString name = profile.fileName.isEmpty() ? ProfileFileName(profile.name)
                                                    : profile.fileName;
    return WriteFileAtomic(folder + QLatin1Char('/') + name + QStringLiteral(".xbp"),
                           ProfileText(profile), error);
}

QString ProfileFileName(const QString& profileName)
{
    QString out;
    for (QChar c : profileName.trimmed())
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('-') ||
                       c == QLatin1Char('_')
                   ? c
                   : QLatin1Char('_');
    return out.isEmpty() ? QStringLiteral("profile") : out;
}

ProfileChoice FittingProfiles(const QList<ProfileFile>& profiles, const QString& record)
{
    ProfileChoice choice;
    const ShipRecord rec(record);
    int cls = 0, var = 0;
    const bool classOk = ParseTableInt(rec.field(5), &cls);
    // A record too short to hold field 50 has variant 0, as every missing field.
    const bool variantOk = rec.fieldCount() <= 50 || ParseTableInt(rec.field(50), &var);
    choice.recordReadable = classOk && variantOk;
    if (!choice.recordReadable)
        return choice;
    choice.shipClass = cls;
    choice.variant = var;
    for (const ProfileFile& pf : profiles)
        if (pf.profile.fits(cls, var))
            (pf.problem.isEmpty() ? choice.usable : choice.unusable).append(pf);
    return choice;
}

bool IsFillerShipLine(const QString& line)
{
    return isFiller(line);
}

ProfileImport ImportProfile(const QStringList& entries, int shipClass, const QList<int>& variants)
{
    ProfileImport result;
    result.tableRead = true;
    Extremes speed, accel, reactor, tuning, turning, weapon, recharge, cargo, cargoLow, hull, types;
    qint64 cargoSum = 0, differenceSum = 0;
    struct Shield
    {
        int type, count;
    };
    QList<Shield> shields;
    for (const QString& line : entries) {
        if (isFiller(line))
            continue;
        const ShipRecord rec(line);
        int cls = 0, var = 0;
        if (!ParseTableInt(rec.field(5), &cls) || cls != shipClass ||
            !ParseTableInt(rec.field(50), &var) ||
            (!variants.isEmpty() && !variants.contains(var)))
            continue;
        bool ok = true;
        auto intOf = [&](int field) {
            int v = 0;
            ok = ok && ParseTableInt(rec.field(field), &v) && v >= 0;
            return v;
        };
        auto decimalOf = [&](int field) {
            bool good = false;
            const double v = rec.field(field).trimmed().toDouble(&good);
            ok = ok && good && std::isfinite(v) && v >= 0;
            return good ? v : 0.0;
        };
        const int s = intOf(7), a = intOf(8), r = intOf(13), t = intOf(26), e = intOf(20);
        const int turn = TurningValue(decimalOf(3));
        const int total = RechargeTotal(decimalOf(21), e);
        const int c0 = intOf(28), c1 = intOf(29), st = intOf(22), sc = intOf(23), h = intOf(46);
        if (!ok)
            continue;
        speed.add(s);
        accel.add(a);
        reactor.add(r);
        tuning.add(t);
        turning.add(turn);
        weapon.add(e);
        recharge.add(total);
        cargo.add(c1);
        cargoLow.add(c0);
        hull.add(h);
        types.add(st);
        cargoSum += c1;
        differenceSum += std::abs(c1 - c0);
        shields.append({st, sc});
        ++result.ships;
    }
    if (result.ships == 0) {
        result.error = QStringLiteral("no ship of class %1 with the chosen variants").arg(shipClass);
        return result;
    }
    BalanceProfile& p = result.profile;
    p.shipClass = shipClass;
    p.variant = variants.size() == 1 ? variants.first() : -1;
    p.speed = speed.range();
    p.accel = accel.range();
    p.reactor = reactor.range();
    p.tuning = tuning.range();
    p.turning = turning.range();
    p.weapon = weapon.range();
    p.recharge = recharge.range();
    p.hull = hull.range();
    // The smallest cargo minimum (field 28) and the largest maximum (field 29); the
    // average is the mean maximum, the difference the mean gap between the two.
    p.cargo[0] = int(std::min(cargoLow.lo, cargo.hi));
    p.cargo[1] = int(cargo.hi);
    p.cargo[2] = int(cargoSum / result.ships);
    p.cargo[3] = int(differenceSum / result.ships);
    p.shield[0] = int(types.lo);
    p.shield[2] = int(types.hi);
    int lowCount = -1, highCount = 0;
    for (const Shield& sh : shields) {
        if (sh.type == types.lo)
            lowCount = lowCount < 0 ? sh.count : std::min(lowCount, sh.count);
        if (sh.type == types.hi)
            highCount = std::max(highCount, sh.count);
    }
    p.shield[1] = lowCount;
    p.shield[3] = highCount;
    result.ok = true;
    return result;
}

ProfileImport ImportProfileFromTable(const QString& path, int shipClass,
                                     const QList<int>& variants, const QString& workDir)
{
    QString source = path;
    QString temp;
    if (QFileInfo(path).suffix().compare(QLatin1String("cat"), Qt::CaseInsensitive) == 0) {
        // The packed table, else a plain one, as TShips.txt in the work folder.
        QString error;
        if (!MakeDirChecked(workDir, &error)) {
            ProfileImport failed;
            failed.error = error;
            return failed;
        }
        temp = workDir + QStringLiteral("/TShips.txt");
        const bool extracted =
            QFileInfo(path).isFile() &&
            (ExtractArchiveFile(path + QStringLiteral("::types\\TShips.pck"), temp, false, false) ||
             ExtractArchiveFile(path + QStringLiteral("::types\\TShips.txt"), temp, false, false));
        if (!extracted) {
            RemoveFileChecked(temp);
            ProfileImport failed;
            failed.error = QStringLiteral("%1 holds no ship table").arg(path);
            return failed;
        }
        source = temp;
    }
    const PickerLoad table = LoadPickerTable(source, PickerTable::Ships, workDir);
    if (!temp.isEmpty())
        RemoveFileChecked(temp);
    if (!table.ok) {
        ProfileImport failed;
        failed.error = path + QLatin1Char(' ') + table.error;
        return failed;
    }
    QStringList lines;
    for (const PickerEntry& e : table.entries)
        lines << e.line;
    return ImportProfile(lines, shipClass, variants);
}
