// drydock-cli game: finding the game and reading the newest copy of its files.

#include "commands.h"
#include "gamedir.h"
#include "sysregistry.h"

#include <QCoreApplication>

namespace {

// Positional arguments; "--" ends options, and no option is known here.
bool positional(const QStringList& args, QStringList* out, QString* bad)
{
    bool optionsEnded = false;
    for (const QString& a : args) {
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            *bad = QStringLiteral("unknown option '%1'").arg(a);
            return false;
        } else {
            out->append(a);
        }
    }
    return true;
}

int gameFind()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const std::unique_ptr<SystemRegistry> registry = CreateSystemRegistry(programDir);
    const QString dir = DiscoverGameDir(*registry);
    if (dir.isEmpty())
        return cliFail(QStringLiteral("no game directory found in the registry (%1)")
                           .arg(SystemRegistryLocation(programDir)));
    cliWriteOut(dir.toLocal8Bit() + '\n');
    return 0;
}

int gameExtract(const QString& gameDir, const QString& entry, const QString& destination)
{
    QString name = entry;
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (ExtractGameFile(gameDir, name, destination))
        return 0;
    if (CountCatalogs(gameDir) == 0)
        return cliFail(gameDir + QStringLiteral(": no numbered catalogue (01.cat) found"));
    // The lookup also fails when the destination cannot be written; say which.
    const QList<GameEntry> entries = EnumerateGameEntries(gameDir);
    for (const GameEntry& e : entries) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return cliFail(destination + QStringLiteral(": cannot write the file"));
    }
    return cliFail(gameDir + QStringLiteral(": no catalogue holds ") + name);
}

} // namespace

int gameCommand(const QStringList& args)
{
    if (args.isEmpty())
        return cliUsageError(QStringLiteral("'game' needs a subcommand"));
    const QString name = QStringLiteral("game ") + args.first();
    QStringList p;
    QString bad;
    if (!positional(args.mid(1), &p, &bad))
        return cliUsageError(bad);
    if (args.first() == QLatin1String("find")) {
        if (!p.isEmpty())
            return cliUsageError(QStringLiteral("'%1' takes no arguments").arg(name));
        return gameFind();
    }
    if (args.first() == QLatin1String("extract")) {
        if (p.size() != 3)
            return cliUsageError(QStringLiteral("'%1' takes 3 argument(s)").arg(name));
        return gameExtract(p[0], p[1], p[2]);
    }
    return cliUsageError(QStringLiteral("unknown command '%1'").arg(name));
}
