// hullwright-cli validate: the check the editor runs before it saves, on a saved
// package. One line per problem; exit 1 when there is any.

#include "commands.h"
#include "packagecheck.h"
#include "typetable.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

int validateCommand(const QStringList& args)
{
    QStringList positional;
    QString game;
    bool json = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--json"))
            json = true;
        else if (a == QLatin1String("--game") && i + 1 < args.size())
            game = args[++i];
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return cliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        else
            positional << a;
    }
    if (positional.size() != 1)
        return cliUsageError(QStringLiteral("'validate' takes PKG [--game GAMEDIR] [--json]"));
    QTemporaryDir work;
    if (!work.isValid())
        return cliFail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    // With the game, numeric turret cockpits are checked against its cockpit table.
    int cockpits = -1;
    TypeTable table;
    if (!game.isEmpty() &&
        LoadCompactTable(game, QStringLiteral("TCockpits"), work.path(), &table))
        cockpits = int(table.entries.size());
    QString error;
    // With the game, fields 16 and 17 may also name scenes the game has.
    const QList<PackageCheckProblem> problems = CheckPackageFile(
        QFileInfo(positional.first()).absoluteFilePath(), work.path(), cockpits, &error,
        game.isEmpty() ? std::function<bool(const QString&)>() : GameSceneLookup(game));
    if (!error.isEmpty())
        return cliFail(error);
    if (json) {
        QJsonObject doc = PackageCheckJson(problems);
        doc.insert(QStringLiteral("package"), QDir::toNativeSeparators(positional.first()));
        cliWriteOut(QJsonDocument(doc).toJson(QJsonDocument::Indented));
    } else {
        QByteArray out;
        for (const QString& line : PackageCheckLines(problems))
            out += line.toLocal8Bit() + '\n';
        cliWriteOut(out);
    }
    return problems.isEmpty() ? 0 : 1;
}
