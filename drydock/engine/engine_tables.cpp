// The table generators of update mod: the game's own cockpit, ship, dummy and
// component tables merged with every installed ship, written into the mod.
//
// Installed ships begin at the buffer index of the ship table: the game's ships
// come first, spacer lines fill up to the buffer, then one line per registry
// record, so that a ship keeps its index (buffer + registry position) for as
// long as it is installed, and uninstalled or disabled ships keep their lines
// as fillers.
#include "installerengine.h"

#include "archivefile.h"
#include "equipment.h"
#include "fileutils.h"
#include "gamedir.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QFile>
#include <QHash>

namespace {

const QString kShipsEntry = QStringLiteral("types\\TShips.pck");
const QString kCockpitsEntry = QStringLiteral("types\\TCockpits.pck");
const QString kDummiesEntry = QStringLiteral("types\\Dummies.pck");
const QString kComponentsEntry = QStringLiteral("types\\Components.pck");

// 64 zero fields and a name: the game reads it as a ship that never appears.
QByteArray fillerLine(const char* prefix, int number)
{
    return QByteArray("0;").repeated(64) + prefix + QByteArray::number(number) + ";\n";
}

bool isLive(const ShipPackage& ship)
{
    return ship.Deleted == 0 && ship.Enabled;
}

QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// A non-negative integer field inside the record's fields.
bool countField(const ShipRecord& record, qint64 n, qint64* value)
{
    int v = 0;
    if (n < 0 || n >= record.fieldCount() ||
        !ParseTableInt(record.field(static_cast<int>(n)), &v) || v < 0)
        return false;
    *value = v;
    return true;
}

// The last field of the record proper (before the identifier): after the
// turret entries and the gun groups come nine tail fields. -1 when the counts
// do not fit the record. Every group moves on by at least four fields and must
// stay inside the record, so a forged count cannot make this loop long.
qint64 lastRecordField(const ShipRecord& record)
{
    qint64 turrets = 0, groups = 0;
    if (!countField(record, kTurretCountField, &turrets))
        return -1;
    qint64 p = 4 * turrets + 54;
    if (!countField(record, p, &groups))
        return -1;
    for (qint64 g = 0; g < groups; ++g) {
        qint64 guns = 0;
        if (!countField(record, p + 4, &guns))
            return -1;
        p += 4 + 6 * guns;
        if (p >= record.fieldCount())
            return -1;
    }
    p += kTailFields;
    return p < record.fieldCount() ? p : -1;
}

// One installed ship's table line: its record with the description text id,
// turret cockpits named by key turned into cockpit indexes, cut after the
// record proper and closed by the ship's ID.
QString shipTableLine(const ShipPackage& ship, const CockpitTable& cockpits)
{
    ShipRecord record(withoutLineBreaks(ship.Data));
    if (record.fieldCount() > 6)
        record.setField(
            6, QString::number(ship.OriginalDesc != 0 ? ship.OriginalDesc : ship.GeneratedDescId));
    for (int k = 0; k < kTurretPairs; ++k) {
        const int field = kTurretPairFirstField + 2 * k;
        const QString value = record.field(field).trimmed();
        int number = 0;
        if (value.isEmpty() || ParseTableInt(value, &number))
            continue;
        // Keys compare without case, as the game and the cockpit merge do.
        const int index = cockpits.indexOf(value);
        if (index >= 0)
            record.setField(field, QString::number(index));
    }
    const QString id = withoutLineBreaks(ship.ID);
    const qint64 last = lastRecordField(record);
    if (last < 0) {
        // The counts do not fit: the whole line stays, with the ID as its identifier.
        record.setIdentifier(id);
        return TerminatedLine(record.line());
    }
    QString line;
    for (int i = 0; i <= last; ++i)
        line += record.field(i) + QLatin1Char(';');
    return line + id + QLatin1Char(';');
}

} // namespace

int InstallerEngine::gameShipCount()
{
    const TypeTable table = ReadTypeTable(gameTableText(kShipsEntry, QStringLiteral("TShips.txt")));
    // The installed ships follow the lines actually present; a header that
    // disagrees with them would shift every installed ship's index.
    const int lines = static_cast<int>(table.entries.size());
    if (table.count() != lines && !table.header.isEmpty())
        log(QStringLiteral("(TEXTFILE) TShips header counts %1 ships, the table holds %2")
                .arg(table.count())
                .arg(lines));
    return lines;
}

QStringList InstallerEngine::generateCockpits()
{
    // The game compares cockpit keys without case: "ss_cockpit_flak" is the game's
    // "SS_COCKPIT_FLAK", not a second entry.
    CockpitTable table(
        ReadTypeTable(gameTableText(kCockpitsEntry, QStringLiteral("TCockpits.txt"))));
    for (const ShipPackage& ship : std::as_const(m_registry.Ships)) {
        if (!isLive(ship))
            continue;
        for (const QString& cockpit : ship.Cockpits) {
            const QString line = withoutLineBreaks(cockpit);
            if (!IsSkippedTableLine(line))
                table.merge(line);
        }
    }
    const QStringList entries = table.lines();
    QByteArray text =
        "// TCockpits created by hullwright\n47;" + QByteArray::number(entries.size()) + ";\n";
    for (const QString& e : entries)
        text += e.toLatin1() + '\n';
    MakePath(m_gameDir, QStringLiteral("Slipway/types"));
    const QString target = m_gameDir + QStringLiteral("/Slipway/types/TCockpits.txt");
    check(WriteArchiveFile(text.constData(), text.size(), target, true, false),
          QStringLiteral("(UPDATEMOD) Cannot write ") + PackedName(target));
    return entries;
}

bool InstallerEngine::generateShips(const QStringList& cockpits)
{
    const TypeTable game = ReadTypeTable(gameTableText(kShipsEntry, QStringLiteral("TShips.txt")));
    // The lines copied are what precedes the installed ships, so the spacer is
    // measured from them (equal to the header count in any consistent table).
    const int n = static_cast<int>(game.entries.size());
    const int buffer = m_registry.Buffer;
    const int spacer = qMax(0, buffer - n);
    log(QStringLiteral("Creating TShips, offset=%1, spacer=%2, maxnum=%3")
            .arg(n)
            .arg(spacer)
            .arg(buffer));

    TypeTable merged;
    merged.entries = cockpits;
    const CockpitTable cockpitTable(merged);

    QByteArray body;
    body.reserve((n + spacer + m_registry.Ships.size()) * 200);
    for (const QString& line : game.entries)
        body += line.toLatin1() + '\n';
    for (int i = 1; i <= spacer; ++i)
        body += fillerLine("HULLWRIGHT_SPACER_", i);
    int deleted = 0, disabled = 0;
    for (const ShipPackage& ship : std::as_const(m_registry.Ships)) {
        if (ship.Deleted != 0)
            body += fillerLine("HULLWRIGHT_DELETED_", ++deleted);
        else if (!ship.Enabled)
            body += fillerLine("HULLWRIGHT_DISABLEDSHIP_", ++disabled);
        else
            body += shipTableLine(ship, cockpitTable).toLatin1() + '\n';
    }
    // The count of the lines written: records + buffer whenever the game's
    // ships fit below the buffer, which fixing the buffer makes sure of.
    const qsizetype lines = n + spacer + m_registry.Ships.size();
    const QByteArray text =
        "// TShips created by hullwright\n48;" + QByteArray::number(lines) + ";\n" + body;
    const QString target = modCatalog() + QStringLiteral("::types\\TShips.txt");
    if (!WriteArchiveFile(text.constData(), text.size(), target, true, false)) {
        log(QStringLiteral("(UPDATEMOD) Cannot write types\\TShips.pck into ") + modCatalog());
        return false;
    }
    return true;
}

bool InstallerEngine::generateDummies()
{
    DummyTable table =
        DummyTable::read(gameTableText(kDummiesEntry, QStringLiteral("Dummies.txt")));
    for (const ShipPackage& ship : std::as_const(m_registry.Ships)) {
        if (!isLive(ship))
            continue;
        for (const PackageDummy& d : ship.Dummies)
            table.merge(d.Section, d.Data);
    }
    const QByteArray text = table.text({QStringLiteral("// Dummies.txt created by Hullwright")});
    MakePath(m_gameDir, QStringLiteral("Slipway/types"));
    const QString target = m_gameDir + QStringLiteral("/Slipway/types/Dummies.txt");
    if (!WriteArchiveFile(text.constData(), text.size(), target, true, false)) {
        log(QStringLiteral("(UPDATEMOD) Cannot write ") + PackedName(target));
        return false;
    }
    return true;
}

bool InstallerEngine::generateComponents()
{
    const QString catalog = modCatalog();
    if (QFile::exists(catalog) &&
        !check(RemoveArchiveFile(catalog + QStringLiteral("::") + kComponentsEntry),
               QStringLiteral("(UPDATEMOD) Cannot remove the old components table")))
        return false;

    bool any = false;
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        any = any || (isLive(ship) && !ship.Components.isEmpty());
    if (!any) {
        // Nothing to merge: the base mod's own table, if it has one, stays in force.
        if (const QString base = baseModFile(QStringLiteral(".cat")); !base.isEmpty()) {
            CopyArchiveFile(base + QStringLiteral("::") + kComponentsEntry,
                            catalog + QStringLiteral("::") + kComponentsEntry);
        }
        return true;
    }

    ComponentTable table =
        ComponentTable::read(gameTableText(kComponentsEntry, QStringLiteral("Components.txt")));
    for (const ShipPackage& ship : std::as_const(m_registry.Ships)) {
        if (!isLive(ship))
            continue;
        for (const PackageComponent& c : ship.Components)
            table.merge(c.Part1, c.Part2, c.Part3);
    }
    const QByteArray text =
        table.text({QStringLiteral("// Components.txt created by Hullwright")}, "\r\n", true);
    const QString target = catalog + QStringLiteral("::types\\Components.txt");
    if (!WriteArchiveFile(text.constData(), text.size(), target, true, false)) {
        log(QStringLiteral("(UPDATEMOD) Cannot write types\\Components.pck into ") + catalog);
        return false;
    }
    return true;
}

bool InstallerEngine::addTablesToMod()
{
    const QString catalog = modCatalog();
    if (!EnsureCatalog(catalog)) {
        log(QStringLiteral("(UPDATEMOD) Cannot create mod archive: ") + catalog);
        return false;
    }
    bool ok = true;
    for (const QString& name : {QStringLiteral("TCockpits.pck"), QStringLiteral("Dummies.pck")}) {
        const QString source = m_gameDir + QStringLiteral("/Slipway/types/") + name;
        if (!QFile::exists(source))
            continue;
        if (!CopyArchiveFile(source, catalog + QStringLiteral("::types\\") + name)) {
            log(QStringLiteral("(UPDATEMOD) Cannot add types\\") + name + QStringLiteral(" to ") +
                catalog);
            ok = false;
        }
    }
    return ok;
}
