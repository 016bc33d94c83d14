// drydock-cli game: finding the game and reading the newest copy of its files.

#include "commands.h"
#include "gamediscovery.h"
#include "gamedir.h"
#include "sysregistry.h"

#include <QCoreApplication>

#include <cstdio>

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

// The store the game of a directory reads its selected mod from.
QString registryLocation(const QString& programDir, const QString& prefix)
{
    return prefix.isEmpty() ? SystemRegistryLocation(programDir) : prefix;
}

DiscoveryEnvironment cliEnvironment()
{
    DiscoveryEnvironment env = ProcessDiscoveryEnvironment();
    // What was skipped goes to stderr; the listing on stdout stays parseable.
    env.log = [](const QString& line) {
        const QByteArray text = "drydock-cli: " + line.toLocal8Bit() + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    };
    return env;
}

int gameFind()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const std::unique_ptr<SystemRegistry> registry = CreateSystemRegistry(programDir);
    const QList<GameInstall> found = DiscoverGameInstalls(registry.get(), cliEnvironment());
    if (found.isEmpty())
        return cliFail(QStringLiteral("no game directory found (registry: %1; no Steam library "
                                      "or Wine prefix holds the game)")
                           .arg(SystemRegistryLocation(programDir)));
    for (const GameInstall& g : found) {
        const QString mod = CreateGameRegistry(programDir, g.prefix)
                                ->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"));
        cliWriteOut((g.dir + QLatin1Char('\t') + registryLocation(programDir, g.prefix) +
                     QLatin1Char('\t') + mod + QLatin1Char('\n'))
                        .toLocal8Bit());
    }
    return 0;
}

int gameMod(const QString& gameDir)
{
    if (!IsValidGameDir(gameDir))
        return cliFail(gameDir + QStringLiteral(": not a game directory (no vega.exe)"));
    const QString programDir = QCoreApplication::applicationDirPath();
    const std::unique_ptr<SystemRegistry> standIn = CreateSystemRegistry(programDir);
    const DiscoveryEnvironment env = cliEnvironment();
    QString prefix = PrefixOfGameDir(gameDir, env.log);
    if (prefix.isEmpty())
        prefix = FindGamePrefix(gameDir, DiscoverGameInstalls(standIn.get(), env));
    const std::unique_ptr<SystemRegistry> registry = CreateGameRegistry(programDir, prefix);
    const QString mod =
        registry->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"));
    if (!registry->errorString().isEmpty() && mod.isEmpty())
        return cliFail(registry->errorString());
    cliWriteOut(mod.toLocal8Bit() + '\n');
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
    if (args.first() == QLatin1String("mod")) {
        if (p.size() != 1)
            return cliUsageError(QStringLiteral("'%1' takes 1 argument(s)").arg(name));
        return gameMod(p[0]);
    }
    if (args.first() == QLatin1String("extract")) {
        if (p.size() != 3)
            return cliUsageError(QStringLiteral("'%1' takes 3 argument(s)").arg(name));
        return gameExtract(p[0], p[1], p[2]);
    }
    return cliUsageError(QStringLiteral("unknown command '%1'").arg(name));
}
