// Installs a package made from a ship of the sample mod into a new sample game
// with drydock-cli and compares the mod's generated tables with the lines the
// ship has in the mod's own tables.
#pragma once

#include "samplegame.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace InstallCheck {

inline int runCli(const QString& cli, const QStringList& args)
{
    QProcess p;
    p.start(cli, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The lines of a generated table, trimmed, without comments and blank lines.
inline QStringList tableLines(const QString& cli, const QString& catalog, const QString& entry,
                              const QString& out)
{
    if (runCli(cli, {"cat", "extract", catalog, entry, out}) != 0)
        return {};
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (!l.trimmed().isEmpty() && !l.startsWith("//"))
            lines << QString::fromLatin1(l.trimmed());
    return lines;
}

// Whether line follows the header "name;count;" before the next header of that level.
inline bool inGroup(const QStringList& lines, const QString& name, const QString& line,
                    const QStringList& headers)
{
    bool inside = false;
    for (const QString& l : lines) {
        const bool header = headers.contains(l.section(';', 0, 0)) && l.count(';') == 2;
        if (header)
            inside = l.section(';', 0, 0) == name;
        else if (inside && l == line)
            return true;
    }
    return false;
}

// Empty when the installed tables hold the ship's lines; else what differs.
inline QString mismatch(const QString& cli, const QString& package, const SampleGame::ModShip& ship,
                        const QString& dir)
{
    const QString game = dir + "/game";
    if (runCli(cli, {"make-sample-game", game}) != 0 || runCli(cli, {"install", game, package}) != 0 ||
        runCli(cli, {"update-mod", game}) != 0)
        return "the package did not install";
    const QString mod = game + "/mods/Hullwright.cat";
    QString problems;

    // The ship's line: every field as in the mod, but the description text, which
    // the installer gives the package's own text.
    const QStringList original = ship.line.split(';');
    bool found = false;
    for (const QString& l : tableLines(cli, mod, "types\\TShips.pck", dir + "/ships.txt")) {
        if (!l.endsWith(';' + ship.id + ';'))
            continue;
        found = true;
        const QStringList fields = l.split(';');
        if (fields.size() != original.size())
            problems += QString("ship line has %1 fields, not %2; ").arg(fields.size()).arg(original.size());
        for (qsizetype i = 0; i < qMin(fields.size(), original.size()); ++i)
            if (i != 6 && fields.at(i) != original.at(i))
                problems += QString("field %1 is %2, not %3; ").arg(i).arg(fields.at(i), original.at(i));
    }
    if (!found)
        problems += "no ship line; ";

    const QStringList cockpits = tableLines(cli, mod, "types\\TCockpits.pck", dir + "/cockpits.txt");
    for (const QString& c : ship.cockpits)
        if (!cockpits.contains(c))
            problems += "no cockpit " + c + "; ";

    const QStringList dummies = tableLines(cli, mod, "types\\Dummies.pck", dir + "/dummies.txt");
    const QStringList dummyGroups = {"SDTYPE_ANIMATED", "SDTYPE_DOCK", "SDTYPE_DOORWAY", "SDTYPE_GUN",
                                     "SDTYPE_CONNECTION"};
    for (const QString& d : ship.dummies)
        if (!inGroup(dummies, d.section('\t', 0, 0), d.section('\t', 1), dummyGroups))
            problems += "no dummy " + d + "; ";

    // Components: a header "component;groups;", then its groups.
    const QStringList components = tableLines(cli, mod, "types\\Components.pck", dir + "/components.txt");
    for (const QString& c : ship.components) {
        const QStringList parts = c.split('\t');
        QStringList block;
        bool inside = false;
        for (const QString& l : components) {
            if (l.count(';') == 2 && !l.startsWith("SCTYPE_"))
                inside = l.section(';', 0, 0) == parts.at(0);
            else if (inside)
                block << l;
        }
        if (!inGroup(block, parts.at(1), parts.at(2), {"SCTYPE_HARDPOINT", "SCTYPE_ENGINE"}))
            problems += "no component " + c + "; ";
    }
    return problems;
}

} // namespace InstallCheck
