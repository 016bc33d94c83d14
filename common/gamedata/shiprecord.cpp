#include "shiprecord.h"

#include "typetable.h"

ShipRecord::ShipRecord(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 &&
           (line.at(end - 1) == QLatin1Char('\n') || line.at(end - 1) == QLatin1Char('\r')))
        --end;
    m_pieces = line.left(end).split(QLatin1Char(';'));
    countFields();
}

void ShipRecord::countFields()
{
    qsizetype n = m_pieces.size();
    while (n > 0 && m_pieces.at(n - 1).trimmed().isEmpty())
        --n;
    m_fieldCount = static_cast<int>(n);
}

QString ShipRecord::field(int n) const
{
    return n >= 0 && n < m_pieces.size() ? m_pieces.at(n) : QString();
}

int ShipRecord::intField(int n, int fallback) const
{
    int v = 0;
    return ParseTableInt(field(n), &v) ? v : fallback;
}

double ShipRecord::doubleField(int n, double fallback) const
{
    bool ok = false;
    const double v = field(n).trimmed().toDouble(&ok);
    return ok ? v : fallback;
}

void ShipRecord::setField(int n, const QString& value)
{
    if (n < 0)
        return;
    if (n < m_fieldCount) {
        m_pieces[n] = value;
    } else {
        // Past the last real field: drop the blank tail, pad, and close the record
        // again when it was closed (an empty record gets closed too).
        const bool closed = m_pieces.size() > m_fieldCount || m_pieces.isEmpty();
        m_pieces.resize(m_fieldCount);
        m_pieces.resize(n + 1);
        m_pieces[n] = value;
        if (closed)
            m_pieces.append(QString());
    }
    countFields(); // a blank value at the end shortens the record
}

RecordLayout ShipRecord::layout() const
{
    RecordLayout none;
    const qint64 fields = m_fieldCount;
    int turrets = 0;
    if (!ParseTableInt(field(kTurretCountField), &turrets) || turrets < 0)
        return none;
    // 64-bit arithmetic: a count near INT_MAX must not wrap around into range.
    qint64 p = 54 + 4 * qint64(turrets);
    if (p >= fields)
        return none;
    int groups = 0;
    if (!ParseTableInt(field(static_cast<int>(p)), &groups) || groups < 0)
        return none;
    // Every group moves p on by at least 4 and p stays below the field count, so
    // the loop ends after at most fields / 4 rounds whatever G says.
    for (int g = 0; g < groups; ++g) {
        int guns = 0;
        if (p + 4 >= fields || !ParseTableInt(field(static_cast<int>(p + 4)), &guns) || guns < 0)
            return none;
        p += 4 + 6 * qint64(guns);
        if (p >= fields)
            return none;
    }
    const qint64 lastNumeric = p + kTailFields;
    if (lastNumeric + 1 >= fields)
        return none; // no identifier after the tail
    RecordLayout l;
    l.complete = true;
    l.turretEntries = turrets;
    l.gunGroups = groups;
    l.tailStart = static_cast<int>(p + 1);
    l.lastNumericField = static_cast<int>(lastNumeric);
    l.identifierField = m_fieldCount - 1;
    return l;
}

QString ShipRecord::identifier() const
{
    return m_fieldCount > 0 ? m_pieces.at(m_fieldCount - 1).trimmed() : QString();
}

void ShipRecord::setIdentifier(const QString& id)
{
    int ignored = 0;
    if (m_fieldCount > 0 &&
        (layout().complete || !ParseTableInt(m_pieces.at(m_fieldCount - 1), &ignored)))
        setField(m_fieldCount - 1, id);
    else
        setField(m_fieldCount, id);
}

QString ShipRecord::turretCockpit(int k) const
{
    return k >= 0 && k < kTurretPairs ? field(kTurretPairFirstField + 2 * k) : QString();
}

QString ShipRecord::turretCompanion(int k) const
{
    return k >= 0 && k < kTurretPairs ? field(kTurretPairFirstField + 2 * k + 1) : QString();
}

void ShipRecord::setTurretCockpit(int k, const QString& cockpit, const QString& companion)
{
    if (k < 0 || k >= kTurretPairs)
        return;
    setField(kTurretPairFirstField + 2 * k, cockpit);
    setField(kTurretPairFirstField + 2 * k + 1, companion);
}

QString ShipRecord::emitted() const
{
    const RecordLayout l = layout();
    if (!l.complete)
        return line();
    QString out;
    for (int i = 0; i <= l.lastNumericField; ++i)
        out += m_pieces.at(i) + QLatin1Char(';');
    return out + identifier() + QLatin1Char(';');
}

QByteArray OneShipTableText(const QString& packageName, const QString& author,
                            const QString& record)
{
    const QString comment = QStringLiteral("// TShips.txt created by Hullwright for ") +
                            packageName + QStringLiteral(" by ") + author;
    return FormatTypeTable({comment}, kShipTableFormat, {record});
}

bool WriteOneShipTable(const QString& folder, const QString& packageName, const QString& author,
                       const QString& record, QString* error)
{
    return WriteTableFile(folder, QStringLiteral("TShips"),
                          OneShipTableText(packageName, author, record), error);
}

QString GameSceneName(const QString& name)
{
    QString n = name.trimmed();
    n.replace(QLatin1Char('/'), QLatin1Char('\\'));
    while (n.startsWith(QLatin1String(".\\")))
        n = n.mid(2);
    for (const char* ext : {".pbd", ".bod", ".pbb", ".bob"})
        if (n.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) {
            n.chop(4);
            break;
        }
    return n.isEmpty() ? QStringLiteral("0") : n;
}

bool IsNoScene(const QString& field)
{
    const QString f = field.trimmed();
    return f.isEmpty() || f == QLatin1String("0");
}

QStringList SceneCatalogEntries(const QString& field)
{
    if (IsNoScene(field))
        return {};
    const QString name = GameSceneName(field).toLower();
    const QString base = (name.contains(QLatin1Char('\\')) ? QStringLiteral("objects\\")
                                                           : QStringLiteral("objects\\cut\\")) +
                         name;
    return {base + QStringLiteral(".pbd"), base + QStringLiteral(".bod"),
            base + QStringLiteral(".pbb"), base + QStringLiteral(".bob")};
}
