#include "extraction.h"

#include "safefile.h"
#include "shiprecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    QStringList sections;
    for (const PackageDummy& d : p.Dummies)
        if (!sections.contains(d.Section))
            sections << d.Section;
    QByteArray out = header("Dummies", p);
    for (const QString& s : sections) {
        QByteArray lines;
        int n = 0;
        for (const PackageDummy& d : p.Dummies)
            if (d.Section == s) {
                lines += d.Data.toLocal8Bit() + '\n';
                ++n;
            }
        out += s.toLocal8Bit() + ';' + QByteArray::number(n) + ";\n" + lines + '\n';
    }
    return out;
}

QByteArray ComponentTableText(const ShipPackage& p)
{
    if (p.Components.isEmpty())
        return {};
    QStringList firsts;
    for (const PackageComponent& c : p.Components)
        if (!firsts.contains(c.Part1))
            firsts << c.Part1;
    QByteArray out = header("Components", p);
    for (const QString& first : firsts) {
        QStringList seconds;
        for (const PackageComponent& c : p.Components)
            if (c.Part1 == first && !seconds.contains(c.Part2))
                seconds << c.Part2;
        out += first.toLocal8Bit() + ';' + QByteArray::number(seconds.size()) + ";\n";
        for (const QString& second : seconds) {
            QByteArray lines;
            int n = 0;
            for (const PackageComponent& c : p.Components)
                if (c.Part1 == first && c.Part2 == second) {
                    lines += closed(c.Part3);
                    ++n;
                }
            out += second.toLocal8Bit() + ';' + QByteArray::number(n) + ";\n" + lines;
        }
    }
    return out + '\n';
}

ExtractionResult ExtractShipPackage(const QString& packagePath, const QString& targetDir,
                                    bool prefixNames, const PackageContext& context)
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
    OpenPackageOptions options;
    options.baseDir = targetDir;
    options.scriptDir = QStringLiteral("Scripts");
    options.inSlipway = false;
    ShipPackage p;
    r.read = OpenPackage(file, p, options, context);

    const QDir scripts(targetDir + QStringLiteral("/Scripts"));
    if (scripts.exists() && scripts.entryList(QDir::Files | QDir::Hidden).isEmpty())
        RemoveDirChecked(scripts.path());

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
    }
    const QString types = targetDir + QStringLiteral("/types");
    QString why;
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
        const QString path = types + QLatin1Char('/') + QLatin1String(name) + suffix +
                             QStringLiteral(".txt");
        if (WriteFileAtomic(path, text, &why))
            r.tables << path;
        else
            r.notWritten << why;
    }
    return r;
}
