#include "recordeditor.h"

#include "equipment.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QPair>

#include <cmath>

namespace {

// A gun wider than this is a typing error, not a weapon.
constexpr int kMaxGunSlots = 64;

const int kNotoriety[16] = {333333, 100000, 33333, 10000, 3333, 1000,  333,    100,
                            33,     10,     0,     -11,   -101, -1001, -10001, -100001};

bool parseInt(const QString& text, int* v)
{
    return ParseTableInt(text, v);
}

bool parseDouble(const QString& text, double* v)
{
    bool ok = false;
    *v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(*v);
}

QString keyOf(const QString& cockpitLine)
{
    return TableIdentifier(cockpitLine);
}

} // namespace

enum class Kind { Text, Int, Speed, Rotation, Decimal, ClassIndex, VariantIndex, ReadOnly };

struct RecordEditor::FieldDef
{
    QString name;
    int field; // record field, or offset from E when tail
    bool tail;
    Kind kind;
};

const QList<RecordEditor::FieldDef>& RecordEditor::fieldDefs()
{
    // These names are the command line's interface: keep them.
    static const QList<FieldDef> list = {
        {QStringLiteral("class"), kClassField, false, Kind::ClassIndex},
        {QStringLiteral("class_number"), kClassNumberField, false, Kind::ReadOnly},
        {QStringLiteral("race"), 45, false, Kind::Int},
        {QStringLiteral("variation"), kVariationField, false, Kind::VariantIndex},
        {QStringLiteral("docking_slots"), 43, false, Kind::Int},
        {QStringLiteral("cargo_type"), 44, false, Kind::Int},
        {QStringLiteral("cargo_min"), kCargoMinField, false, Kind::Int},
        {QStringLiteral("cargo_max"), kCargoMaxField, false, Kind::Int},
        {QStringLiteral("npc_price"), 1, true, Kind::Int},
        {QStringLiteral("player_price"), 5, true, Kind::Int},
        {QStringLiteral("notoriety"), 6, true, Kind::Int},
        {QStringLiteral("min_speed"), kMinSpeedField, false, Kind::Speed},
        {QStringLiteral("acceleration"), kAccelField, false, Kind::Speed},
        {QStringLiteral("speed_extensions"), kSpeedExtField, false, Kind::Int},
        {QStringLiteral("rudder_extensions"), 27, false, Kind::Int},
        {QStringLiteral("yaw"), 2, false, Kind::Rotation},
        {QStringLiteral("pitch"), 3, false, Kind::Rotation},
        {QStringLiteral("roll"), 4, false, Kind::Rotation},
        {QStringLiteral("shield_type"), 22, false, Kind::Int},
        {QStringLiteral("max_shields"), 23, false, Kind::Int},
        {QStringLiteral("weapons_energy"), kEnergyField, false, Kind::Int},
        {QStringLiteral("recharge"), kRechargeField, false, Kind::Decimal},
        {QStringLiteral("npc_missiles"), 25, false, Kind::Int},
        {QStringLiteral("body_file"), 0, false, Kind::Text},
        // The scenes the game shows, as the editor's scene names write them.
        {QStringLiteral("scene"), kSceneField, false, Kind::Text},
        {QStringLiteral("cockpit_scene"), kCockpitSceneField, false, Kind::Text},
        {QStringLiteral("picture_id"), 1, false, Kind::Int},
        {QStringLiteral("video_id"), 7, true, Kind::Int},
        {QStringLiteral("engine_effect"), 11, false, Kind::Int},
        {QStringLiteral("engine_glow"), 12, false, Kind::Int},
        {QStringLiteral("engine_sound"), 9, false, Kind::Int},
        {QStringLiteral("reaction_delay"), 10, false, Kind::Int},
        {QStringLiteral("reactor_output"), 13, false, Kind::Int},
        {QStringLiteral("volume_min"), 14, false, Kind::Int},
        {QStringLiteral("volume_max"), 15, false, Kind::Int},
        {QStringLiteral("hull"), 46, false, Kind::Int},
        {QStringLiteral("explosion"), 47, false, Kind::Int},
        {QStringLiteral("body_explosion"), 48, false, Kind::Int},
        {QStringLiteral("particle_explosion"), 49, false, Kind::Int},
        {QStringLiteral("laser_mask"), 18, false, Kind::Int},
        {QStringLiteral("missile_mask"), 24, false, Kind::Int},
        {QStringLiteral("gun_slot"), kGunSlotField, false, Kind::ReadOnly},
    };
    return list;
}

RecordEditor::RecordEditor(const QString& line, const RecordContext& context) : m_context(context)
{
    const ShipRecord rec(line);
    m_original = rec.line().split(QLatin1Char(';'));
    m_edited = m_original;
    if (rec.fieldCount() == 0) {
        m_problems << QStringLiteral("The record is empty.");
        return;
    }
    if (rec.fieldCount() <= kTurretCountField)
        m_problems << QStringLiteral("The record ends at field %1; fields after it cannot be read.")
                          .arg(rec.fieldCount() - 1);
    const RecordLayout l = rec.layout();
    if (!l.complete) {
        if (rec.fieldCount() > kTurretCountField)
            m_problems << QStringLiteral("The turret and gun counts (field 53 is \"%1\") do not "
                                         "match the record; turrets, guns, prices, notoriety and "
                                         "video ID cannot be read.")
                              .arg(rec.field(kTurretCountField));
        return;
    }
    // The layout has checked every count against the fields present, so these
    // loops are bounded by the record's length.
    m_readable = true;
    m_tailStart = l.tailStart;
    int p = 54;
    for (int k = 0; k < l.turretEntries; ++k, p += 4)
        m_turrets.append({m_original.mid(p, 4)});
    for (int g = 0; g < l.gunGroups; ++g) {
        GunGroup group;
        group.header = m_original.mid(p + 1, 4);
        int n = 0;
        parseInt(group.header.at(3), &n);
        p += 4;
        for (int i = 0; i < n; ++i, p += 6)
            group.guns.append(m_original.mid(p + 1, 6));
        m_groups.append(group);
    }
}

QString RecordEditor::rawOf(int field) const
{
    return field >= 0 && field < m_edited.size() ? m_edited.at(field) : QString();
}

QString RecordEditor::fieldText(int field) const
{
    return rawOf(field);
}

void RecordEditor::setRaw(int field, const QString& text)
{
    if (field < 0)
        return;
    if (field >= m_edited.size()) {
        // A short record: pad, keeping the closing ";" when it had one.
        const bool closed = !m_edited.isEmpty() && m_edited.last().trimmed().isEmpty();
        if (closed)
            m_edited.removeLast();
        while (m_edited.size() <= field)
            m_edited.append(QStringLiteral("0"));
        if (closed)
            m_edited.append(QString());
    }
    m_edited[field] = text;
}

bool RecordEditor::isNumeric(int field) const
{
    int v = 0;
    return parseInt(rawOf(field), &v) || (field >= m_original.size());
}

bool RecordEditor::setFieldInt(int field, int value)
{
    if (!isNumeric(field))
        return false;
    int old = 0;
    // Only a different number is written: "007" stays "007" when 7 is set.
    if (!parseInt(rawOf(field), &old) || old != value)
        setRaw(field, QString::number(value));
    return true;
}

bool RecordEditor::setFieldDecimal(int field, double value, int digits)
{
    double old = 0;
    const bool numeric = parseDouble(rawOf(field), &old);
    if (!numeric && field < m_original.size())
        return false;
    const QString text = QString::number(value, 'g', digits);
    if (!numeric || old != text.toDouble())
        setRaw(field, text);
    return true;
}

QString RecordEditor::speedText(int units)
{
    return numberText(float(units) * 0.002f);
}

int RecordEditor::speedUnits(double shown)
{
    return int(std::trunc(float(shown) * 500.0f + 0.5f));
}

int RecordEditor::maxSpeed(int m, int t)
{
    return int(std::trunc(float(m) + (float(m) * float(t) * 0.1f + 0.5f)));
}

QString RecordEditor::degreesText(const QString& field)
{
    const float d = field.trimmed().toFloat() * 360.0f * (1.0f / 6.0f);
    return QString::asprintf("%.1f", double(d));
}

int RecordEditor::dialFromField(const QString& field)
{
    const float d = field.trimmed().toFloat() * 360.0f * (1.0f / 6.0f);
    return int(std::trunc(d * 10.0f));
}

QString RecordEditor::fieldFromDial(int dial)
{
    return numberText((float(dial) * 0.1f) * 6.0f * (1.0f / 360.0f));
}

QString RecordEditor::numberText(double v)
{
    return QString::number(v, 'g', 6);
}

int RecordEditor::notorietyPreset(int item, bool* ok)
{
    const bool valid = item >= 1 && item <= 16;
    if (ok)
        *ok = valid;
    return valid ? kNotoriety[item - 1] : 0;
}

int RecordEditor::rankTable(int race)
{
    if (race >= 0 && race <= 4)
        return race;
    return race == 8 ? 5 : -1;
}

qint64 RecordEditor::maskWithChecked(qint64 old, const QList<bool>& checked)
{
    qint64 mask = old;
    for (int i = 0; i < checked.size() && i < 62; ++i) {
        const qint64 bit = qint64(1) << i;
        mask = checked.at(i) ? (mask | bit) : (mask & ~bit);
    }
    return mask;
}

bool RecordEditor::maskHas(qint64 mask, int type)
{
    return type >= 0 && type < 62 && (mask >> type) & 1;
}

int RecordEditor::classIndex() const
{
    int v = 0;
    return parseInt(rawOf(kClassField), &v) ? v : -1;
}

bool RecordEditor::setClassIndex(int index, QString* error)
{
    if (classIndex() < 0) {
        if (error)
            *error = QStringLiteral("the class field is \"%1\", not a list position")
                         .arg(rawOf(kClassField));
        return false;
    }
    if (index < 0 || index >= m_context.classes.size()) {
        if (error)
            *error = QStringLiteral("class %1 is not in the class list (%2 entries)")
                         .arg(index)
                         .arg(m_context.classes.size());
        return false;
    }
    setFieldInt(kClassField, index);
    setFieldInt(kClassNumberField, m_context.classes.at(index).number);
    return true;
}

void RecordEditor::applyShownClass()
{
    const int index = classIndex();
    int number = 0;
    if (index >= 0 && index < m_context.classes.size() &&
        parseInt(rawOf(kClassNumberField), &number) && number != m_context.classes.at(index).number)
        setRaw(kClassNumberField, QString::number(m_context.classes.at(index).number));
}

const RecordEditor::FieldDef* RecordEditor::fieldDef(const QString& name) const
{
    for (const FieldDef& s : fieldDefs())
        if (s.name == name)
            return &s;
    return nullptr;
}

int RecordEditor::fieldOf(const FieldDef& s) const
{
    if (!s.tail)
        return s.field;
    return m_readable ? m_tailStart + s.field : -1;
}

QStringList RecordEditor::fieldNames()
{
    QStringList names;
    for (const FieldDef& s : fieldDefs()) {
        names << s.name;
        if (s.name == QLatin1String("min_speed"))
            names << QStringLiteral("max_speed");
        if (s.name == QLatin1String("recharge"))
            names << QStringLiteral("recharge_total");
    }
    return names;
}

QString RecordEditor::value(const QString& name) const
{
    if (name == QLatin1String("max_speed")) {
        int m = 0, t = 0;
        if (!parseInt(rawOf(kMinSpeedField), &m) || !parseInt(rawOf(kSpeedExtField), &t))
            return QString();
        return speedText(maxSpeed(m, t));
    }
    if (name == QLatin1String("recharge_total")) {
        double r = 0;
        int e = 0;
        if (!parseDouble(rawOf(kRechargeField), &r) || !parseInt(rawOf(kEnergyField), &e))
            return QString();
        return numberText(r * e);
    }
    if (const FieldDef* s = fieldDef(name)) {
        const int f = fieldOf(*s);
        if (f < 0)
            return QString();
        const QString raw = rawOf(f);
        int v = 0;
        double d = 0;
        switch (s->kind) {
        case Kind::Speed:
            return parseInt(raw, &v) ? speedText(v) : raw;
        case Kind::Rotation:
            return parseDouble(raw, &d) ? degreesText(raw) : raw;
        default:
            return raw;
        }
    }
    bool known = false;
    return compositeValue(name, &known);
}

QList<QPair<QString, QString>> RecordEditor::allValues() const
{
    QList<QPair<QString, QString>> out;
    for (const QString& n : fieldNames())
        out.append({n, value(n)});
    if (!m_readable)
        return out;
    out.append({QStringLiteral("turrets"), QString::number(turretRows())});
    out.append({QStringLiteral("turret.0"), turretPart(-1)});
    for (int r = 0; r < turretRows(); ++r) {
        const QString n = QStringLiteral("turret.%1").arg(r + 1);
        out.append({n, turretPart(r)});
        out.append({n + QStringLiteral(".cockpit"), turretCockpit(r)});
    }
    out.append({QStringLiteral("gun_groups"), QString::number(m_groups.size())});
    for (int g = 0; g < m_groups.size(); ++g) {
        const QString n = QStringLiteral("gun.%1").arg(g + 1);
        out.append({n, m_groups.at(g).header.join(QLatin1Char(';'))});
        for (int k = 0; k < m_groups.at(g).guns.size(); ++k)
            out.append({n + QStringLiteral(".%1").arg(k + 1),
                        m_groups.at(g).guns.at(k).join(QLatin1Char(';'))});
    }
    return out;
}

bool RecordEditor::setValue(const QString& name, const QString& value, QString* error)
{
    if (const FieldDef* s = fieldDef(name))
        return setField(*s, value, error);
    if (name == QLatin1String("recharge_total"))
        return setRechargeTotal(value, error);
    bool known = false;
    const bool ok = setComposite(name, value, &known, error);
    if (!known && error)
        *error = QStringLiteral("unknown field \"%1\"").arg(name);
    return ok && known;
}

bool RecordEditor::setField(const FieldDef& s, const QString& value, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = s.name + QStringLiteral(": ") + why;
        return false;
    };
    const int f = fieldOf(s);
    if (f < 0)
        return fail(QStringLiteral("the record's counts cannot be followed to this field"));
    if (s.kind == Kind::ReadOnly)
        return fail(QStringLiteral("follows from other fields"));
    if (s.kind == Kind::Text) {
        if (value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('\n')))
            return fail(QStringLiteral("a text field cannot hold \";\" or a line break"));
        setRaw(f, value);
        return true;
    }
    double d = 0;
    if (s.kind == Kind::Rotation || s.kind == Kind::Decimal) {
        if (!parseDouble(rawOf(f), &d) && f < m_original.size())
            return fail(QStringLiteral("\"%1\" is not a number and is kept").arg(rawOf(f)));
        if (!parseDouble(value, &d))
            return fail(QStringLiteral("\"%1\" is not a number").arg(value));
        if (s.kind == Kind::Rotation)
            setRaw(f, fieldFromDial(int(std::trunc(d * 10.0 + (d < 0 ? -0.5 : 0.5)))));
        else
            setRaw(f, value.trimmed()); // the text as typed, as the dialog stores it
        return true;
    }
    if (!isNumeric(f))
        return fail(QStringLiteral("\"%1\" is not a number and is kept").arg(rawOf(f)));
    if (s.kind == Kind::Speed) {
        if (!parseDouble(value, &d) || std::abs(d) > 4e6)
            return fail(QStringLiteral("\"%1\" is not a speed").arg(value));
        return setFieldInt(f, speedUnits(d));
    }
    int v = 0;
    if (!parseInt(value, &v))
        return fail(QStringLiteral("\"%1\" is not an integer").arg(value));
    if (s.kind == Kind::ClassIndex)
        return setClassIndex(v, error);
    if (s.kind == Kind::VariantIndex && (v < 0 || v >= m_context.variants.size()))
        return fail(QStringLiteral("variation %1 is not in the list (%2 entries)")
                        .arg(v)
                        .arg(m_context.variants.size()));
    return setFieldInt(f, v);
}

bool RecordEditor::setRechargeTotal(const QString& value, QString* error)
{
    double total = 0, rate = 0;
    int energy = 0;
    QString why;
    if (!parseDouble(rawOf(kRechargeField), &rate))
        why = QStringLiteral("the recharge rate \"%1\" is not a number and is kept")
                  .arg(rawOf(kRechargeField));
    else if (!parseInt(rawOf(kEnergyField), &energy) || energy == 0)
        why = QStringLiteral("needs a weapons energy other than 0");
    else if (!parseDouble(value, &total))
        why = QStringLiteral("\"%1\" is not a number").arg(value);
    if (!why.isEmpty()) {
        if (error)
            *error = QStringLiteral("recharge_total: ") + why;
        return false;
    }
    setRaw(kRechargeField, numberText(total / energy));
    return true;
}

// --- Turrets and cockpits --------------------------------------------------

bool RecordEditor::checkVariable(QString* error) const
{
    if (!m_readable && error)
        *error = QStringLiteral("the record's turret and gun counts cannot be followed");
    return m_readable;
}

void RecordEditor::ensureMainCockpit()
{
    if (m_turrets.isEmpty())
        m_turrets.append(
            {{QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}});
}

QString RecordEditor::turretPart(int row) const
{
    const int k = row + 1;
    if (!m_readable || k < 0 || k >= m_turrets.size())
        return QString();
    const QStringList& f = m_turrets.at(k).fields;
    return f.at(2) + QLatin1Char(':') + f.at(3);
}

bool RecordEditor::setTurretPart(int row, const QString& part, QString* error)
{
    if (!checkVariable(error))
        return false;
    const int k = row + 1;
    const QStringList two = part.split(QLatin1Char(':'));
    // The main cockpit can be placed before any turret exists.
    if (k == 0 && two.size() == 2 && !part.contains(QLatin1Char(';')))
        ensureMainCockpit();
    if (k < 0 || k >= m_turrets.size() || two.size() != 2 || part.contains(QLatin1Char(';'))) {
        if (error)
            *error = QStringLiteral("turret %1: expected an existing turret and \"a:b\"").arg(k);
        return false;
    }
    m_turrets[k].fields[2] = two.at(0).trimmed();
    m_turrets[k].fields[3] = two.at(1).trimmed();
    m_variableDirty = true;
    return true;
}

bool RecordEditor::addTurret(const QString& part, QString* error)
{
    if (!checkVariable(error))
        return false;
    if (turretRows() >= kTurretPairs) {
        if (error)
            *error = QStringLiteral("a ship has at most %1 turrets: the record has one cockpit "
                                    "pair for each")
                         .arg(kTurretPairs);
        return false;
    }
    ensureMainCockpit();
    m_turrets.append({{QString(), QString(), QStringLiteral("0"), QStringLiteral("0")}});
    if (!setTurretPart(turretRows() - 1, part, error)) {
        m_turrets.removeLast();
        return false;
    }
    return true;
}

bool RecordEditor::removeTurret(int row, QString* error)
{
    if (!checkVariable(error))
        return false;
    if (row < 0 || row >= turretRows()) {
        if (error)
            *error = QStringLiteral("there is no turret %1").arg(row + 1);
        return false;
    }
    m_turrets.removeAt(row + 1);
    // The cockpit pairs follow the turrets: later pairs move up one place.
    for (int r = row; r < kTurretPairs; ++r) {
        const int f = kTurretPairFirstField + 2 * r;
        const bool last = r + 1 >= kTurretPairs;
        const QString a = last ? QStringLiteral("0") : rawOf(f + 2);
        const QString b = last ? QStringLiteral("0") : rawOf(f + 3);
        if (rawOf(f) != a)
            setRaw(f, a);
        if (rawOf(f + 1) != b)
            setRaw(f + 1, b);
    }
    m_variableDirty = true;
    return true;
}

QString RecordEditor::turretCockpit(int row) const
{
    return row >= 0 && row < kTurretPairs ? rawOf(kTurretPairFirstField + 2 * row) : QString();
}

bool RecordEditor::setStandardCockpit(int row, int index, QString* error)
{
    if (row < 0 || row >= kTurretPairs || row >= turretRows() || index < 0 ||
        index >= m_context.cockpitLines.size()) {
        if (error)
            *error =
                QStringLiteral("turret %1 or cockpit %2 does not exist").arg(row + 1).arg(index);
        return false;
    }
    const int f = kTurretPairFirstField + 2 * row;
    int old = 0;
    if (!parseInt(rawOf(f), &old) || old != index)
        setRaw(f, QString::number(index));
    return true;
}

bool RecordEditor::setCustomCockpit(int row, const QString& key, QString* error)
{
    bool found = false;
    for (const QString& l : m_context.packageCockpits)
        found = found || keyOf(l).compare(key, Qt::CaseInsensitive) == 0;
    if (row < 0 || row >= kTurretPairs || row >= turretRows() || !found) {
        if (error)
            *error = QStringLiteral("turret %1 or package cockpit %2 does not exist")
                         .arg(row + 1)
                         .arg(key);
        return false;
    }
    setRaw(kTurretPairFirstField + 2 * row, key.toUpper());
    return true;
}

bool RecordEditor::newCockpit(const QString& name, QString* key, QString* error)
{
    QStringList offered;
    for (const QString& l : m_context.cockpitLines)
        offered << keyOf(l);
    const NewCockpit c = MakeNewCockpit(name, offered, m_context.packageCockpits);
    if (c.status != NewCockpit::Created) {
        if (error)
            *error = c.status == NewCockpit::DuplicateName
                         ? QStringLiteral("a cockpit named %1 exists").arg(c.key)
                         : QStringLiteral("\"%1\" cannot name a cockpit").arg(name);
        return false;
    }
    m_context.packageCockpits.append(c.line);
    if (key)
        *key = c.key;
    return true;
}

bool RecordEditor::copyCockpit(const QString& sourceKey, const QString& name, QString* key,
                               QString* error)
{
    QString source;
    for (const QStringList* list : {&m_context.packageCockpits, &m_context.cockpitLines})
        for (const QString& l : *list)
            if (source.isEmpty() && keyOf(l).compare(sourceKey, Qt::CaseInsensitive) == 0)
                source = l;
    QString newKey;
    if (source.isEmpty() || !newCockpit(name, &newKey, error)) {
        if (source.isEmpty() && error)
            *error = QStringLiteral("no cockpit %1 to copy").arg(sourceKey);
        return false;
    }
    // The copy keeps the source's fields; only the key is new.
    QStringList f = TerminatedLine(source).split(QLatin1Char(';'));
    int keyField = int(f.size()) - 2;
    while (keyField > 0 && f.at(keyField).trimmed().isEmpty())
        --keyField;
    f[keyField] = newKey;
    m_context.packageCockpits.last() = f.join(QLatin1Char(';'));
    if (key)
        *key = newKey;
    return true;
}

QString RecordEditor::cockpitWeapons(const QString& key, bool* editable) const
{
    if (editable)
        *editable = false;
    for (const QString& l : m_context.packageCockpits)
        if (keyOf(l).compare(key, Qt::CaseInsensitive) == 0) {
            if (editable)
                *editable = true;
            return TableField(l, 0).trimmed();
        }
    for (const QString& l : m_context.cockpitLines)
        if (keyOf(l).compare(key, Qt::CaseInsensitive) == 0)
            return TableField(l, 0).trimmed();
    return QString();
}

bool RecordEditor::setCockpitWeapons(const QString& key, qint64 mask, QString* error)
{
    for (QString& l : m_context.packageCockpits) {
        if (keyOf(l).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QStringList f = l.split(QLatin1Char(';'));
        int old = 0;
        if (f.size() < 2 || !parseInt(f.at(0), &old)) {
            if (error)
                *error = QStringLiteral("%1: its weapons field \"%2\" is not a number")
                             .arg(key, f.value(0));
            return false;
        }
        f[0] = QString::number(mask);
        l = f.join(QLatin1Char(';'));
        return true;
    }
    if (error)
        *error = QStringLiteral("%1 is not one of the package's cockpits").arg(key);
    return false;
}

// --- Gun groups -------------------------------------------------------------

bool RecordEditor::addGunGroup(QString* error)
{
    if (!checkVariable(error))
        return false;
    ensureMainCockpit();
    m_groups.append(
        {{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}, {}});
    m_variableDirty = true;
    return true;
}

bool RecordEditor::removeGunGroup(int group, QString* error)
{
    if (!checkVariable(error))
        return false;
    if (group < 0 || group >= m_groups.size()) {
        if (error)
            *error = QStringLiteral("there is no gun group %1").arg(group + 1);
        return false;
    }
    m_groups.removeAt(group);
    m_variableDirty = true;
    return true;
}

bool RecordEditor::setGun(int group, int k, const QStringList& gun, QString* error)
{
    if (!checkVariable(error))
        return false;
    int width = 0;
    bool ok = group >= 0 && group < m_groups.size() && k >= 0 &&
              k <= m_groups.at(group).guns.size() && gun.size() == 5 &&
              parseInt(gun.at(0), &width) && width >= 0 && width <= kMaxGunSlots;
    for (const QString& v : gun) {
        int n = 0;
        ok = ok && parseInt(v, &n);
    }
    if (!ok) {
        if (error)
            *error = QStringLiteral("gun %1.%2: expected an existing group and five integers, "
                                    "the first a slot count of 0 to %3")
                         .arg(group + 1)
                         .arg(k + 1)
                         .arg(kMaxGunSlots);
        return false;
    }
    QStringList entry = QStringList{QStringLiteral("0")} + gun;
    for (QString& v : entry)
        v = v.trimmed();
    QList<QStringList>& guns = m_groups[group].guns;
    if (k == guns.size())
        guns.append(entry);
    else
        guns[k] = entry;
    m_variableDirty = true;
    return true;
}

bool RecordEditor::removeGun(int group, int k, QString* error)
{
    if (!checkVariable(error))
        return false;
    if (group < 0 || group >= m_groups.size() || k < 0 || k >= m_groups.at(group).guns.size()) {
        if (error)
            *error = QStringLiteral("there is no gun %1.%2").arg(group + 1).arg(k + 1);
        return false;
    }
    m_groups[group].guns.removeAt(k);
    m_variableDirty = true;
    return true;
}

bool RecordEditor::setAutomaticGuns(int points, QString* error)
{
    if (!checkVariable(error))
        return false;
    if (points < 1 || points > kMaxGunSlots) {
        if (error)
            *error =
                QStringLiteral("%1 gun points: expected 1 to %2").arg(points).arg(kMaxGunSlots);
        return false;
    }
    const QList<GunGroup> old = m_groups;
    m_groups.clear();
    addGunGroup();
    // The carried header value of the first group survives the reassignment.
    if (!old.isEmpty())
        m_groups[0].header[1] = old.first().header.at(1);
    for (int k = 0; k < points; ++k)
        setGun(0, k,
               {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                QStringLiteral("0")});
    return true;
}

QString RecordEditor::compositeValue(const QString& name, bool* known) const
{
    *known = false;
    for (const auto& [n, v] : allValues())
        if (n == name) {
            *known = true;
            return v;
        }
    return QString();
}

bool RecordEditor::setComposite(const QString& name, const QString& value, bool* known,
                                QString* error)
{
    // turret.N=a:b | - ; turret.N.cockpit=index | KEY ; gun.G=+ | - ; gun.G.K=w;a;b;c;d | -
    const QStringList parts = name.split(QLatin1Char('.'));
    bool ok1 = false, ok2 = false;
    const int a = parts.value(1).toInt(&ok1) - 1;
    const int b = parts.value(2).toInt(&ok2) - 1;
    *known = true;
    const bool remove = value == QLatin1String("-");
    if (parts.size() == 2 && ok1 && parts.at(0) == QLatin1String("turret")) {
        if (remove)
            return removeTurret(a, error);
        if (a == turretRows() && a >= 0 && m_readable)
            return addTurret(value, error);
        return setTurretPart(a, value, error);
    }
    if (parts.size() == 3 && ok1 && parts.at(0) == QLatin1String("turret") &&
        parts.at(2) == QLatin1String("cockpit")) {
        int index = 0;
        return parseInt(value, &index) ? setStandardCockpit(a, index, error)
                                       : setCustomCockpit(a, value.trimmed(), error);
    }
    if (parts.size() == 2 && ok1 && parts.at(0) == QLatin1String("gun")) {
        if (remove)
            return removeGunGroup(a, error);
        if (value == QLatin1String("+") && a == m_groups.size())
            return addGunGroup(error);
    }
    if (parts.size() == 3 && ok1 && ok2 && parts.at(0) == QLatin1String("gun"))
        return remove ? removeGun(a, b, error) : setGun(a, b, value.split(QLatin1Char(';')), error);
    *known = false;
    return false;
}

// --- Building the record --------------------------------------------------

QStringList RecordEditor::variablePieces(QString* gunSlot) const
{
    QStringList out;
    out << QString::number(m_turrets.size());
    for (int k = 0; k < m_turrets.size(); ++k)
        out << QString::number(k + 1) << QString::number(k) << m_turrets.at(k).fields.at(2)
            << m_turrets.at(k).fields.at(3);
    out << QString::number(m_groups.size());
    qint64 slot = 1;
    for (int g = 0; g < m_groups.size(); ++g) {
        const GunGroup& group = m_groups.at(g);
        out << QString::number(slot) << group.header.at(1) << QString::number(g + 1)
            << QString::number(group.guns.size());
        for (const QStringList& gun : group.guns) {
            *gunSlot = QString::number(slot);
            out << *gunSlot;
            out << gun.mid(1);
            int width = 0;
            parseInt(gun.at(1), &width);
            slot += width;
        }
    }
    return out;
}

QStringList RecordEditor::pieces() const
{
    QStringList p = m_edited;
    if (m_readable && m_variableDirty) {
        QString gunSlot;
        const QStringList var = variablePieces(&gunSlot);
        if (!gunSlot.isEmpty())
            p[kGunSlotField] = gunSlot;
        p = p.mid(0, kTurretCountField) + var + p.mid(m_tailStart);
    }
    int lo = 0, hi = 0;
    if (p.size() > kCargoMaxField && parseInt(p.at(kCargoMinField), &lo) &&
        parseInt(p.at(kCargoMaxField), &hi) && lo > hi)
        p.swapItemsAt(kCargoMinField, kCargoMaxField);
    return p;
}

QString RecordEditor::record() const
{
    return pieces().join(QLatin1Char(';'));
}

QStringList RecordEditor::changedFields() const
{
    const QStringList now = pieces();
    QStringList out;
    if (now.size() != m_original.size() || m_variableDirty) {
        for (int i = 0; i < kTurretCountField && i < now.size() && i < m_original.size(); ++i)
            if (now.at(i) != m_original.at(i))
                out << QString::number(i);
        if (now.size() != m_original.size() ||
            now.mid(kTurretCountField) != m_original.mid(kTurretCountField))
            out << QStringLiteral("turrets/guns and after");
        return out;
    }
    for (int i = 0; i < now.size(); ++i)
        if (now.at(i) != m_original.at(i))
            out << QString::number(i);
    return out;
}
