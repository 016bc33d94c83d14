// drydock-cli table read GAMEDIR TABLE: the newest copy of a type table, as the
// programs read it.
//
// Output (TAB-separated, LF line ends, table text bytes as they are):
//   TShips, TCockpits, TLaser, TShields, TMissiles and any other entry table:
//     line 1      the header's entry count (field 1, as declared)
//     then        index TAB identifier, one line per entry
//   Dummies:
//     line 1      the number of groups
//     then        group TAB lines, one line per group
//   Components:
//     line 1      the number of components
//     then        component TAB groups, followed by its groups, each as
//                 TAB group TAB lines
// TABLE is the table's name ("TShips"); "types\" and ".pck" around it are
// accepted. Repairs the group readers made are reported on stderr as warnings.
// Exit 1 when no catalogue holds the table.

#include "commands.h"
#include "equipment.h"
#include "gamedir.h"
#include "typetable.h"

#include <QTemporaryDir>

#include <cstdio>

namespace {

QString tableName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (name.startsWith(QLatin1String("types\\"), Qt::CaseInsensitive))
        name.remove(0, 6);
    if (name.endsWith(QLatin1String(".pck"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

bool isNamed(const QString& name, const char* table)
{
    return name.compare(QLatin1String(table), Qt::CaseInsensitive) == 0;
}

// Cockpits and equipment are read blank-removed, as both programs do.
bool isCompactTable(const QString& name)
{
    return isNamed(name, "TCockpits") || isNamed(name, "TLaser") || isNamed(name, "TShields") ||
           isNamed(name, "TMissiles");
}

void warn(const QString& table, const QStringList& problems)
{
    for (const QString& p : problems) {
        const QByteArray line =
            "drydock-cli: warning: " + table.toLocal8Bit() + ": " + p.toLocal8Bit() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    }
}

QByteArray number(qsizetype n)
{
    return QByteArray::number(n);
}

int tableRead(const QString& gameDir, const QString& table)
{
    const QString name = tableName(table);
    if (name.isEmpty())
        return cliUsageError(QStringLiteral("no table name given"));
    if (CountCatalogs(gameDir) == 0)
        return cliFail(gameDir + QStringLiteral(": no numbered catalogue (01.cat) found"));
    QTemporaryDir work;
    if (!work.isValid())
        return cliFail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    QByteArray text;
    QString why;
    if (!ExtractTableText(gameDir, name, work.path(), &text, QString(), &why))
        return cliFail(
            gameDir + QStringLiteral(": ") +
            (why.isEmpty() ? QStringLiteral("no catalogue holds ") + TypeTableEntry(name) : why));

    QByteArray out;
    if (isNamed(name, "Dummies")) {
        const DummyTable t = DummyTable::read(text);
        out += number(t.groups().size()) + '\n';
        for (const TableGroup& g : t.groups())
            out += g.name.toLatin1() + '\t' + number(g.lines.size()) + '\n';
        warn(name, t.problems());
    } else if (isNamed(name, "Components")) {
        const ComponentTable t = ComponentTable::read(text);
        out += number(t.components().size()) + '\n';
        for (const ComponentGroup& c : t.components()) {
            out += c.name.toLatin1() + '\t' + number(c.groups.size()) + '\n';
            for (const TableGroup& g : c.groups)
                out += '\t' + g.name.toLatin1() + '\t' + number(g.lines.size()) + '\n';
        }
        warn(name, t.problems());
    } else {
        const TypeTable t = isCompactTable(name) ? ReadCompactTable(text) : ReadTypeTable(text);
        out += QByteArray::number(t.count()) + '\n';
        for (qsizetype i = 0; i < t.entries.size(); ++i)
            out += number(i) + '\t' + TableIdentifier(t.entries.at(i)).toLatin1() + '\n';
    }
    cliWriteOut(out);
    return 0;
}

} // namespace

int tableCommand(const QStringList& args)
{
    if (args.isEmpty())
        return cliUsageError(QStringLiteral("'table' needs a subcommand"));
    if (args.first() != QLatin1String("read"))
        return cliUsageError(QStringLiteral("unknown command 'table %1'").arg(args.first()));
    QStringList p;
    bool optionsEnded = false;
    for (const QString& a : args.mid(1)) {
        if (!optionsEnded && a == QLatin1String("--"))
            optionsEnded = true;
        else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return cliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        else
            p.append(a);
    }
    if (p.size() != 2)
        return cliUsageError(QStringLiteral("'table read' takes 2 argument(s)"));
    return tableRead(p[0], p[1]);
}
