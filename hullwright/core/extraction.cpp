#include "extraction.h"

#include "safefile.h"
#include "shiprecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

QByteArray header(const char* table, const ShipPackage& p)
{
    return ("// " + QString::fromLatin1(table) + ".txt created by Hullwright for " + p.Name +
            " by " + p.Author + "\n")
        .toLocal8Bit();
}

QByteArray closed(const QString& line)
{
    return (line.endsWith(QLatin1Char(';')) ? line : line + QLatin1Char(';')).toLocal8Bit() + '\n';
}

// The last non-empty ";"-field.
QString lineIdentifier(const QString& line)
{
    const QStringList fields = line.split(QLatin1Char(';'));
    for (qsizetype i = fields.size() - 1; i >= 0; --i)
        if (!fields.at(i).isEmpty())
            return fields.at(i);
    return QString();
}

} // namespace

QByteArray CockpitTableText(const ShipPackage& p, QString& record)
{
    QByteArray out = header("TCockpits", p);
    out += "// (first cockpit entry is the default cockpit, and isn't part of the ship)\n";
    out += "47;" + QByteArray::number(p.Cockpits.size() + 1) + ";\n";
    out += "0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_DEFAULT;\n";
    ShipRecord working(record);
    bool changed = false;
    for (qsizetype i = 0; i < p.Cockpits.size(); ++i) {
        const QString& line = p.Cockpits.at(i);
        const QString id = lineIdentifier(line);
        // Only the turret cockpit fields name cockpits; replacing the key anywhere
        // else would rewrite numbers or other names that merely contain it.
        for (int k = 0; k < kTurretPairs && !id.isEmpty(); ++k)
            if (working.turretCockpit(k).trimmed() == id.trimmed()) {
                working.setField(kTurretPairFirstField + 2 * k, QString::number(i + 1));
                changed = true;
            }
        out += closed(line);
    }
    if (changed)
        record = working.line();
    return out;
}

QByteArray ShipTableText(const ShipPackage& p, const QString& record)
{
    return header("TShips", p) + "48;1;\n" + closed(record);
}

QByteArray DummyTableText(const ShipPackage& p)
{
    if (p.Dummies.isEmpty())
        return {};
    // Grouped by section in the order sections first appear, in one pass.
    QStringList sections;
    QHash<QString, QList<qsizetype>> members;
    for (qsizetype i = 0; i < p.Dummies.size(); ++i) {
        auto it = members.find(p.Dummies.at(i).Section);
        if (it == members.end()) {
            sections << p.Dummies.at(i).Section;
            it = members.insert(p.Dummies.at(i).Section, {});
        }
        it->append(i);
    }
    QByteArray out = header("Dummies", p);
    for (const QString& s : sections) {
        const QList<qsizetype>& lines = members.value(s);
        out += s.toLocal8Bit() + ';' + QByteArray::number(lines.size()) + ";\n";
        for (qsizetype i : lines)
            out += p.Dummies.at(i).Data.toLocal8Bit() + '\n';
        out += '\n';
    }
    return out;
}

QByteArray ComponentTableText(const ShipPackage& p)
{
    if (p.Components.isEmpty())
        return {};
    // First parts in the order they first appear, and below each its second parts.
    QStringList firsts;
    QHash<QString, QStringList> seconds;
    QHash<QPair<QString, QString>, QList<qsizetype>> members;
    for (qsizetype i = 0; i < p.Components.size(); ++i) {
        const PackageComponent& c = p.Components.at(i);
        if (!seconds.contains(c.Part1))
            firsts << c.Part1;
        auto& list = members[qMakePair(c.Part1, c.Part2)];
        if (list.isEmpty())
            seconds[c.Part1] << c.Part2;
        list.append(i);
    }
    QByteArray out = header("Components", p);
    for (const QString& first : firsts) {
        const QStringList& below = seconds[first];
        out += first.toLocal8Bit() + ';' + QByteArray::number(below.size()) + ";\n";
        for (const QString& second : below) {
            const QList<qsizetype>& lines = members[qMakePair(first, second)];
            out += second.toLocal8Bit() + ';' + QByteArray::number(lines.size()) + ";\n";
            for (qsizetype i : lines)
                out += closed(p.Components.at(i).Part3);
        }
    }
    return out + '\n';
}

namespace {

// A free name beside an existing table: "TShips.new.txt", then "TShips.new2.txt", ...
QString besideName(const QString& types, const QString& base)
{
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = types + QLatin1Char('/') + base +
                                  (n == 1 ? QStringLiteral(".new") : QStringLiteral(".new%1").arg(n)) +
                                  QStringLiteral(".txt");
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return {};
}

} // namespace

ExtractionResult ExtractShipPackage(const QString& packagePath, const QString& targetDir,
                                    bool prefixNames, const PackageContext& context,
                                    bool replaceTables)
{
    ExtractionResult r;
    if (targetDir.isEmpty() || !QFileInfo(targetDir).isDir()) {
        r.outcome = ExtractionResult::NoTarget;
        return r;
    }
    QFile file(packagePath);
    if (!QFileInfo(packagePath).isFile() || !file.open(QIODevice::ReadOnly)) {
        r.error = QStringLiteral("cannot open ") + packagePath;
        return r;
    }
    // Nothing below the target is reached through a link planted in it, and the
    // files are synced together at the end rather than one wait each.
    const ConfinedFolder confined(targetDir);
    BatchedSync batch;
    OpenPackageOptions options;
    options.baseDir = targetDir;
    options.scriptDir = QStringLiteral("Scripts");
    options.inSlipway = false;
    ShipPackage p;
    r.read = OpenPackage(file, p, options, context);

    const QDir scripts(targetDir + QStringLiteral("/Scripts"));
    if (scripts.exists() && scripts.entryList(QDir::Files | QDir::Hidden).isEmpty())
        RemoveDirChecked(scripts.path());

    QString why;
    if (!batch.finish(&why))
        r.notWritten << why;
    if (r.read.status != PackageOk || !r.read.complete) {
        r.error = r.read.status == PackageTooNew ? QStringLiteral("the package needs a newer program")
                  : r.read.error.isEmpty()       ? QStringLiteral("the package does not read whole")
                                                 : r.read.error;
        return r;
    }
    r.outcome = ExtractionResult::Done;
    QString suffix;
    if (prefixNames) {
        suffix = p.Name;
        suffix.remove(QLatin1Char(' '));
        suffix.prepend(QLatin1Char('_'));
        // The ship's name becomes part of a file name: it follows the rules of a stored name.
        const QString rule = EntryNameProblem(QStringLiteral("TShips") + suffix + QStringLiteral(".txt"), true);
        if (!rule.isEmpty()) {
            r.notWritten << QStringLiteral("the ship's name cannot name the table files: ") + rule;
            return r;
        }
    }
    const QString types = targetDir + QStringLiteral("/types");
    BatchedSync tablesBatch;
    if (!MakeDirChecked(types, &why)) {
        r.notWritten << why;
        return r;
    }
    QString record = p.Data;
    const QByteArray cockpits = CockpitTableText(p, record);
    const std::pair<const char*, QByteArray> tables[] = {
        {"TCockpits", cockpits},
        {"TShips", ShipTableText(p, record)},
        {"Dummies", DummyTableText(p)},
        {"Components", ComponentTableText(p)},
    };
    for (const auto& [name, text] : tables) {
        if (text.isEmpty())
            continue;
        const QString base = QLatin1String(name) + suffix;
        QString path = types + QLatin1Char('/') + base + QStringLiteral(".txt");
        // A mod folder's own table is the modder's work: it is kept unless replacing was asked.
        if (!replaceTables && (QFileInfo::exists(path) || QFileInfo(path).isSymLink())) {
            const QString beside = besideName(types, base);
            if (beside.isEmpty()) {
                r.notWritten << path + QStringLiteral(": exists, and no free name beside it");
                continue;
            }
            r.keptBeside << QStringLiteral("%1 exists and was kept; the ship's table is %2")
                                .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(beside));
            path = beside;
        }
        if (WriteFileAtomic(path, text, &why))
            r.tables << path;
        else
            r.notWritten << why;
    }
    if (!tablesBatch.finish(&why))
        r.notWritten << why;
    return r;
}
