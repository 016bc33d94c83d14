// hullwright-cli record: the ship-record editor of "Customize Ship" on one record
// or on a whole ship table.

#include "commands.h"
#include "editorrules.h"
#include "equipment.h"
#include "recordeditor.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: hullwright-cli record <command> [--game GAMEDIR]\n"
    "  record show LINE                 every named field in display units, name TAB value\n"
    "  record set LINE NAME=VALUE...    set fields in display units, print the record\n"
    "  record rebuild TABLE             open and save every record of a ship table file;\n"
    "                                   print index TAB fields of each one that changes\n"
    "LINE is a ship record, or - to read it from standard input. --game reads the\n"
    "game's cockpit table, so turret.N.cockpit can take a cockpit index.\n";

void out(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
}

int fail(const QString& message, int code = 1)
{
    const QByteArray line = "hullwright-cli: " + message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    if (code == 2)
        std::fputs(kUsage, stderr);
    return code;
}

// Records are 8-bit table text: bytes in, the same bytes out.
QString readLine(const QString& arg)
{
    if (arg != QLatin1String("-"))
        return arg;
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(in.readLine());
}

RecordContext loadContext(const QString& gameDir)
{
    RecordContext c;
    const QString dir = QCoreApplication::applicationDirPath();
    c.classes = ReadNumberedNames(dir + QStringLiteral("/data/classes"));
    c.variants = ReadNumberedNames(dir + QStringLiteral("/data/variant"));
    if (!gameDir.isEmpty()) {
        QTemporaryDir temp;
        TypeTable cockpits;
        if (temp.isValid() &&
            LoadCompactTable(gameDir, QStringLiteral("TCockpits"), temp.path(), &cockpits))
            c.cockpitLines = cockpits.entries;
    }
    return c;
}

void reportProblems(const RecordEditor& e)
{
    for (const QString& p : e.problems())
        fail(p, 0);
}

int show(const QString& line, const RecordContext& c)
{
    const RecordEditor e(line, c);
    reportProblems(e);
    QByteArray text;
    for (const auto& [name, value] : e.allValues())
        text += name.toLatin1() + '\t' + value.toLatin1() + '\n';
    out(text);
    return 0;
}

int set(const QString& line, const QStringList& assignments, const RecordContext& c)
{
    RecordEditor e(line, c);
    reportProblems(e);
    for (const QString& a : assignments) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(QStringLiteral("expected NAME=VALUE, got \"%1\"").arg(a), 2);
        QString error;
        if (!e.setValue(a.left(eq), a.mid(eq + 1), &error))
            return fail(error);
    }
    out(e.record().toLatin1() + '\n');
    return 0;
}

int rebuild(const QString& path, const RecordContext& c)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(path + QStringLiteral(": ") + f.errorString());
    const TypeTable table = ReadTypeTable(f.readAll());
    int changed = 0;
    QByteArray text;
    for (int i = 0; i < table.entries.size(); ++i) {
        const RecordEditor e(table.entries.at(i), c);
        if (e.record() == ShipRecord(table.entries.at(i)).line())
            continue;
        ++changed;
        text += QByteArray::number(i) + '\t' + e.changedFields().join(QLatin1Char(',')).toLatin1() +
                '\n';
    }
    out(text);
    return changed ? 1 : 0;
}

} // namespace

int recordCommand(const QStringList& argsIn)
{
    QStringList args = argsIn;
    QString gameDir;
    const qsizetype g = args.indexOf(QStringLiteral("--game"));
    if (g >= 0) {
        if (g + 1 >= args.size())
            return fail(QStringLiteral("--game needs a directory"), 2);
        gameDir = args.at(g + 1);
        args.remove(g, 2);
    }
    if (args.size() < 2)
        return fail(QStringLiteral("record needs a command and an argument"), 2);
    const QString cmd = args.at(0);
    const RecordContext c = loadContext(gameDir);
    if (cmd == QLatin1String("show") && args.size() == 2)
        return show(readLine(args.at(1)), c);
    if (cmd == QLatin1String("set"))
        return set(readLine(args.at(1)), args.mid(2), c);
    if (cmd == QLatin1String("rebuild") && args.size() == 2)
        return rebuild(args.at(1), c);
    return fail(QStringLiteral("unknown record command \"%1\"").arg(args.join(QLatin1Char(' '))),
                2);
}
