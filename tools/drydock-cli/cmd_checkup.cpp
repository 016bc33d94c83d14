// drydock-cli verify and conflicts: questions about an installation that only
// read it. Neither takes the game's writer lock nor rolls back a leftover change.

#include "clisession.h"
#include "commands.h"
#include "conflicts.h"
#include "gamedir.h"
#include "registry.h"
#include "verify.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace {

struct Args
{
    QStringList positional;
    bool json = false;
};

bool split(const QStringList& args, Args* out, QString* bad)
{
    bool ended = false;
    for (const QString& a : args) {
        if (!ended && a == QLatin1String("--"))
            ended = true;
        else if (!ended && a == QLatin1String("--json"))
            out->json = true;
        else if (!ended && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            *bad = QStringLiteral("unknown option '%1'").arg(a);
            return false;
        } else
            out->positional << a;
    }
    return true;
}

QString gameDirOf(const QString& arg)
{
    return QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
}

QByteArray linesText(const QStringList& lines)
{
    QByteArray out;
    for (const QString& l : lines)
        out += l.toLocal8Bit() + '\n';
    return out;
}

} // namespace

int verifyCommand(const QStringList& args)
{
    Args a;
    QString bad;
    if (!split(args, &a, &bad))
        return cliUsageError(bad);
    if (a.positional.size() != 1)
        return cliUsageError(QStringLiteral("'verify' takes GAMEDIR [--json]"));
    const QString gameDir = gameDirOf(a.positional.first());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    const QString holder = WriterLockHolder(gameDir);
    if (!holder.isEmpty())
        cliWriteErr("drydock-cli: note: " + holder.toLocal8Bit() +
                    " is changing the game directory; what is read may be mid-change\n");
    CliSession session(gameDir, CliSession::Cancel, CliSession::Mode::ReadOnly);
    const VerifyReport report = VerifyInstallation(gameDir, session.services(), session.settings());
    if (a.json) {
        QJsonObject doc = report.toJson();
        doc.insert(QStringLiteral("game"), QDir::toNativeSeparators(gameDir));
        doc.insert(QStringLiteral("writerLock"), holder);
        cliWriteJson(doc);
    } else if (report.ok()) {
        // Silence would read as "nothing was checked".
        cliWriteOut(QStringLiteral("ok: %1 ships and %2 mod entries checked, no problems\n")
                        .arg(report.shipsChecked)
                        .arg(report.entriesChecked)
                        .toUtf8());
    } else {
        cliWriteOut(linesText(report.lines()));
    }
    return report.ok() ? 0 : 1;
}

int conflictsCommand(const QStringList& args)
{
    Args a;
    QString bad;
    if (!split(args, &a, &bad))
        return cliUsageError(bad);
    if (a.positional.isEmpty())
        return cliUsageError(QStringLiteral("'conflicts' takes GAMEDIR [PKG...] [--json]"));
    const QString gameDir = gameDirOf(a.positional.first());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    QStringList packages;
    for (const QString& p : a.positional.mid(1))
        packages << QFileInfo(p).absoluteFilePath();
    ShipRegistry registry;
    RegistryReadStatus status;
    ReadRegistry(gameDir, registry, QString(), QString(), &status);
    if (status.broken())
        cliWriteErr("drydock-cli: note: " + status.message(RegistryPath(gameDir)).toLocal8Bit() +
                    "; the ships it lists after the damage are left out\n");
    CliSession session(gameDir, CliSession::Cancel, CliSession::Mode::ReadOnly);
    const ConflictReport report = FindConflicts(gameDir, registry, packages,
                                                session.programDir() + QStringLiteral("/temp"));
    if (a.json) {
        QJsonObject doc = report.toJson();
        doc.insert(QStringLiteral("game"), QDir::toNativeSeparators(gameDir));
        cliWriteJson(doc);
    } else {
        cliWriteOut(linesText(report.lines()));
    }
    for (const QString& e : report.errors)
        cliFail(e);
    return report.errors.isEmpty() ? 0 : 1;
}
