// drydock-cli registry repair: the one change allowed on a game directory whose
// registry does not read whole.

#include "commands.h"
#include "gamechange.h"
#include "gamedir.h"
#include "registry.h"
#include "registryrepair.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

int registryCommand(const QStringList& args)
{
    if (args.size() != 2 || args.first() != QLatin1String("repair"))
        return cliUsageError(QStringLiteral("'registry' takes repair GAMEDIR"));
    const QString gameDir = QDir::cleanPath(QFileInfo(args.at(1)).absoluteFilePath());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    QTemporaryDir temp;
    if (!temp.isValid())
        return cliFail(QStringLiteral("cannot create a temporary folder"));
    // A writer like any other: the lock first, a crashed change rolled back, then
    // the repair as one change of its own.
    GameDirLock lock(gameDir);
    QString holder;
    if (!lock.tryLock(&holder))
        return cliFail(!lock.failure().isEmpty()
                           ? QDir::toNativeSeparators(gameDir) + QStringLiteral(" cannot be changed: ") + holder
                           : QDir::toNativeSeparators(gameDir) + QStringLiteral(" is being changed by ") +
                                 holder + QStringLiteral("; close it first"));
    QString report;
    if (GameChange::recover(gameDir, &report) < 0)
        return cliFail(report);
    GameChange change(gameDir);
    change.setLabel(QStringLiteral("Registry repair"));
    if (!change.ok())
        return cliFail(change.error());

    RegistryRepair r = RepairRegistry(gameDir, temp.path(), QDateTime::currentDateTime());
    if (r.neededRepair && r.written && !change.commit()) {
        r.written = false;
        r.error = change.error();
    }
    const QString file = QDir::toNativeSeparators(RegistryPath(gameDir));
    if (!r.neededRepair) {
        cliWriteOut((file + QStringLiteral(" reads whole: nothing to repair\n")).toLocal8Bit());
        return 0;
    }
    QString out = QStringLiteral("damage\t") + r.damage + QLatin1Char('\n');
    if (!r.brokenCopy.isEmpty())
        out += QStringLiteral("broken copy\t") + QDir::toNativeSeparators(r.brokenCopy) +
               QLatin1Char('\n');
    out += QStringLiteral("records kept\t%1\nplaceholders\t%2\n").arg(r.kept).arg(r.placeholders);
    for (const QString& key : r.recovered)
        out += QStringLiteral("recovered from the mod\t") + key + QLatin1Char('\n');
    for (const QString& entry : r.orphans)
        out += QStringLiteral("orphan\t") + entry + QLatin1Char('\n');
    cliWriteOut(out.toLocal8Bit());
    if (!r.written)
        return cliFail(QStringLiteral("cannot repair ") + file + QStringLiteral(": ") + r.error);
    return 0;
}
