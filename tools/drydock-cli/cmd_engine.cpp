// drydock-cli engine commands: the installer engine without its window. Like the
// window, they read config.dat and hw_languages.xml from the program folder and
// write the debug log there; unlike it, they never write config.dat, which the
// window owns. The tables follow only at update-mod, as in the window.

#include "changehistory.h"
#include "clisession.h"
#include "commands.h"
#include "fileutils.h"
#include "gamedir.h"
#include "installerengine.h"
#include "installersettings.h"
#include "sysregistry.h"
#include "uiseams.h"
#include "uitexts.h"
#include "verify.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <memory>

namespace {

struct Parsed
{
    QStringList positional;
    QStringList flags;
    int sameId = CliSession::Cancel;
    bool dryRun = false;
    bool json = false;
};

bool parse(const QString& command, const QStringList& args, Parsed* out, QString* bad)
{
    const QString sameIdOption = QStringLiteral("--on-same-id=");
    bool optionsEnded = false;
    for (const QString& a : args) {
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (a == QLatin1String("--json")) {
                out->json = true;
            } else if (a == QLatin1String("--dry-run") && command != QLatin1String("list")) {
                out->dryRun = true;
            } else if (command == QLatin1String("install") && a.startsWith(sameIdOption)) {
                const QString value = a.mid(sameIdOption.size());
                const QStringList values{QStringLiteral("update"), QStringLiteral("beside"),
                                         QStringLiteral("cancel")};
                out->sameId = static_cast<int>(values.indexOf(value));
                if (out->sameId < 0) {
                    *bad = QStringLiteral("--on-same-id takes update, beside or cancel");
                    return false;
                }
            } else if ((command == QLatin1String("base-mod") &&
                        (a == QLatin1String("--fake-patch") || a == QLatin1String("--none"))) ||
                       (command == QLatin1String("redo-base-mod") &&
                        a == QLatin1String("--fake-patch"))) {
                out->flags.append(a);
            } else {
                *bad = QStringLiteral("unknown option '%1'").arg(a);
                return false;
            }
        } else {
            out->positional.append(a);
        }
    }
    return true;
}

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

int install(CliSession& s, const QStringList& packages)
{
    InstallerEngine& engine = s.engine();
    // All packages as one change (the engine keeps each one whole or absent), the
    // lines in the order given, each written once its package is settled.
    QStringList lines(packages.size());
    QList<qsizetype> positions;
    QStringList paths;
    for (qsizetype i = 0; i < packages.size(); ++i) {
        if (InstallerEngine::isPackagePath(packages.at(i))) {
            positions << i;
            paths << packages.at(i);
        } else {
            lines[i] = QStringLiteral("failed: not a ship package (.xsp): ") + packages.at(i);
        }
    }
    qsizetype written = 0;
    bool allInstalled = true;
    const auto writeReady = [&] {
        for (; written < lines.size() && !lines.at(written).isEmpty(); ++written) {
            allInstalled =
                allInstalled && lines.at(written).startsWith(QLatin1String("installed "));
            cliWriteOut(local(lines.at(written)) + '\n');
        }
    };
    writeReady();
    engine.installMany(paths, [&](qsizetype k, const InstallResult& r) {
        lines[positions.at(k)] = InstallResultLine(r);
        writeReady();
    });
    writeReady();
    if (const int code = s.saveRegistry())
        return code;
    return allInstalled ? 0 : 1;
}

int list(CliSession& s, bool json = false)
{
    const ShipRegistry& registry = s.engine().registry();
    if (json) {
        QJsonArray ships;
        for (qsizetype k = 0; k < registry.Ships.size(); ++k) {
            const ShipPackage& p = registry.Ships.at(k);
            const bool live = p.Deleted == 0;
            ships.append(QJsonObject{
                {QStringLiteral("position"), int(k)},
                {QStringLiteral("slot"), registry.Buffer == 0 ? QJsonValue(QJsonValue::Null)
                                                              : QJsonValue(registry.Buffer + int(k))},
                {QStringLiteral("state"), live ? QStringLiteral("installed")
                                          : p.Deleted == 1 ? QStringLiteral("waiting")
                                                           : QStringLiteral("free")},
                {QStringLiteral("enabled"), live ? QJsonValue(p.Enabled) : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("name"), p.Name},
                {QStringLiteral("author"), p.Author},
                {QStringLiteral("version"), p.Version},
                {QStringLiteral("id"), p.ID}});
        }
        cliWriteJson(QJsonObject{{QStringLiteral("game"), QDir::toNativeSeparators(s.engine().gameDir())},
                                 {QStringLiteral("buffer"), registry.Buffer},
                                 {QStringLiteral("baseMod"), registry.ModName},
                                 {QStringLiteral("ships"), ships}});
        return 0;
    }
    QByteArray out;
    for (qsizetype k = 0; k < registry.Ships.size(); ++k) {
        const ShipPackage& p = registry.Ships.at(k);
        const QString slot =
            registry.Buffer == 0 ? QStringLiteral("-") : QString::number(registry.Buffer + k);
        QStringList fields{slot};
        if (p.Deleted == 0)
            fields << QStringLiteral("installed")
                   << (p.Enabled ? QStringLiteral("yes") : QStringLiteral("no")) << p.Name
                   << p.Author << p.Version;
        else
            fields << (p.Deleted == 1 ? QStringLiteral("waiting") : QStringLiteral("free"))
                   << QStringLiteral("-") << QString() << QString() << QString();
        out += local(fields.join(QLatin1Char('\t'))) + '\n';
    }
    cliWriteOut(out);
    return 0;
}

// uninstall, disable, enable
int changeShip(CliSession& s, const QString& command, const QString& name, const QString& author)
{
    InstallerEngine& engine = s.engine();
    const int index = engine.findShip(name, author);
    if (index < 0)
        return cliFail(QStringLiteral("no installed ship %1 by %2 in %3")
                           .arg(name, author, QDir::toNativeSeparators(engine.gameDir())));
    const ShipPackage ship = engine.registry().Ships.at(index);
    if (HistoryOperation* op = HistoryOperation::current())
        op->addShip(ship.Name, engine.registry().Buffer > 0 ? engine.registry().Buffer + index : -1);
    const qsizetype mark = s.logMark();
    bool done = false;
    QString past;
    if (command == QLatin1String("uninstall")) {
        done = engine.uninstallShip(index, false);
        past = QStringLiteral("uninstalled ");
    } else {
        const bool enable = command == QLatin1String("enable");
        done = engine.setShipEnabled(index, enable);
        past = enable ? QStringLiteral("enabled ") : QStringLiteral("disabled ");
    }
    if (!done)
        return cliFail(s.failureSince(mark, QStringLiteral("cannot %1 %2").arg(command, ship.Name),
                                      QStringLiteral("the engine refused")));
    if (const int code = s.saveRegistry())
        return code;
    cliWriteOut(local(past + ShipText(ship.Name, ship.Author, ship.Version)) + '\n');
    return 0;
}

int updateMod(CliSession& s)
{
    const qsizetype mark = s.logMark();
    const bool ok = s.engine().updateMod();
    // Buffer, text ids and the update time changed also when a step failed.
    if (const int code = s.saveRegistry())
        return code;
    if (!ok)
        return cliFail(s.failureSince(mark, QStringLiteral("cannot update the mod"),
                                      QStringLiteral("a step failed")));
    cliWriteOut(local(UpdateModLine(s.engine())) + '\n');
    return 0;
}

int createMod(CliSession& s, qsizetype mark)
{
    if (!s.engine().createMod())
        return cliFail(s.failureSince(mark, QStringLiteral("cannot rebuild the mod"),
                                      QStringLiteral("a step failed")));
    return s.saveRegistry();
}

int baseMod(CliSession& s, const QString& name)
{
    InstallerEngine& engine = s.engine();
    const QStringList choices = engine.baseModChoices();
    QString wanted = choices.first(); // the no-base-mod item
    if (!name.isEmpty()) {
        wanted.clear();
        for (const QString& c : choices.mid(1))
            if (c.compare(name, Qt::CaseInsensitive) == 0)
                wanted = c;
        if (wanted.isEmpty())
            return cliFail(QStringLiteral("no mod %1 in %2")
                               .arg(name, QDir::toNativeSeparators(engine.gameDir() +
                                                                   QStringLiteral("/mods"))));
    }
    if (wanted == engine.currentBaseMod())
        return 0;
    const qsizetype mark = s.logMark();
    if (!engine.selectBaseMod(wanted))
        return cliFail(s.failureSince(mark, QStringLiteral("cannot select the base mod ") + wanted,
                                      QStringLiteral("refused")));
    return createMod(s, mark);
}

int redoBaseMod(CliSession& s)
{
    const qsizetype mark = s.logMark();
    if (!s.engine().redoBaseMod())
        return cliFail(QStringLiteral("no base mod selected in ") +
                       QDir::toNativeSeparators(s.engine().gameDir()));
    return createMod(s, mark);
}

int runCommand(CliSession& s, const QString& command, const Parsed& p);
int dryRun(const QString& command, const Parsed& p, const QString& gameDir);

} // namespace

int engineCommand(const QStringList& args)
{
    const QString command = args.first();
    Parsed p;
    QString bad;
    if (!parse(command, args.mid(1), &p, &bad))
        return cliUsageError(bad);

    const bool byShip = command == QLatin1String("uninstall") ||
                        command == QLatin1String("disable") || command == QLatin1String("enable");
    const bool none = p.flags.contains(QLatin1String("--none"));
    qsizetype wanted = 1;
    if (byShip)
        wanted = 3;
    else if (command == QLatin1String("base-mod"))
        wanted = none ? 1 : 2;
    if (command == QLatin1String("install") ? p.positional.size() < 2
                                            : p.positional.size() != wanted) {
        if (command == QLatin1String("install"))
            return cliUsageError(QStringLiteral("'install' takes GAMEDIR and one or more PKG"));
        if (command == QLatin1String("base-mod"))
            return cliUsageError(QStringLiteral("'base-mod' takes GAMEDIR and NAME or --none"));
        return cliUsageError(QStringLiteral("'%1' takes %2 argument(s)").arg(command).arg(wanted));
    }

    if (p.json && !p.dryRun && command != QLatin1String("list"))
        return cliUsageError(QStringLiteral("'%1' takes --json only with --dry-run").arg(command));

    const QString gameDir = QDir::cleanPath(QFileInfo(p.positional.first()).absoluteFilePath());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    if (p.dryRun)
        return dryRun(command, p, gameDir);
    CliSession s(gameDir, p.sameId);
    if (command == QLatin1String("list"))
        return runCommand(s, command, p);
    // Everything this run changes is one entry of the game's history, undone as one.
    HistoryOperation operation(gameDir, OperationLabel(command, p.positional, p.flags));
    const QStringList action = OperationAction(command, p.positional, p.flags);
    operation.setAction(action.value(0), action.mid(1));
    SystemRegistry* registry = s.services().systemRegistry;
    const auto selectedMod = [registry] {
        return registry ? registry->readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"))
                        : QString();
    };
    const QString modBefore = selectedMod();
    // As the window does for a game it finds: the game-side purge script frees
    // uninstalled slots, also for a player who only uses the command line.
    if (s.engine().writeRefusal().isEmpty() && !s.engine().registryBroken())
        s.engine().installProgramScripts(gameDir);
    const int code = runCommand(s, command, p);
    operation.setSelectedMod(modBefore, selectedMod());
    if (command == QLatin1String("install")) {
        const QStringList ships = operation.entry().ships;
        operation.setOperation(ships.isEmpty() ? QStringLiteral("Install")
                                               : QStringLiteral("Install ") + ships.join(QStringLiteral(", ")));
        operation.setAction(QLatin1String(HistoryAction::Install), ships);
    }
    QString why;
    if (!operation.finish(&why)) {
        cliFail(why);
        return code ? code : 1;
    }
    return code;
}

QString OperationLabel(const QString& command, const QStringList& positional, const QStringList& flags)
{
    const bool fake = flags.contains(QLatin1String("--fake-patch"));
    const QString patch = fake ? QStringLiteral(" (fake patch)") : QString();
    if (command == QLatin1String("uninstall"))
        return QStringLiteral("Uninstall ") + positional.value(1);
    if (command == QLatin1String("disable"))
        return QStringLiteral("Disable ") + positional.value(1);
    if (command == QLatin1String("enable"))
        return QStringLiteral("Enable ") + positional.value(1);
    if (command == QLatin1String("update-mod"))
        return QStringLiteral("Update mod");
    if (command == QLatin1String("base-mod"))
        return flags.contains(QLatin1String("--none")) ? QStringLiteral("No base mod")
                                                       : QStringLiteral("Base mod ") + positional.value(1) + patch;
    if (command == QLatin1String("redo-base-mod"))
        return QStringLiteral("Base mod again") + patch;
    return QStringLiteral("Install");
}

QStringList OperationAction(const QString& command, const QStringList& positional, const QStringList& flags)
{
    const QStringList fake = flags.contains(QLatin1String("--fake-patch")) ? QStringList{QStringLiteral("fake")}
                                                                           : QStringList();
    if (command == QLatin1String("uninstall"))
        return {QLatin1String(HistoryAction::Uninstall), positional.value(1)};
    if (command == QLatin1String("disable"))
        return {QLatin1String(HistoryAction::Disable), positional.value(1)};
    if (command == QLatin1String("enable"))
        return {QLatin1String(HistoryAction::Enable), positional.value(1)};
    if (command == QLatin1String("update-mod"))
        return {QLatin1String(HistoryAction::UpdateMod)};
    if (command == QLatin1String("base-mod"))
        return flags.contains(QLatin1String("--none"))
                   ? QStringList{QLatin1String(HistoryAction::NoBaseMod)}
                   : QStringList{QLatin1String(HistoryAction::BaseMod), positional.value(1)} + fake;
    if (command == QLatin1String("redo-base-mod"))
        return QStringList{QLatin1String(HistoryAction::BaseModAgain)} + fake;
    return {QLatin1String(HistoryAction::Install)};
}

namespace {

int runCommand(CliSession& s, const QString& command, const Parsed& p)
{
    const bool byShip = command == QLatin1String("uninstall") ||
                        command == QLatin1String("disable") || command == QLatin1String("enable");
    const bool none = p.flags.contains(QLatin1String("--none"));
    // Written over, a broken registry would lose every ship it still lists.
    if (s.engine().registryBroken()) {
        if (command == QLatin1String("list"))
            list(s);
        return cliFail(s.engine().registryError() +
                       QStringLiteral("; nothing is changed until 'drydock-cli registry repair' "
                                      "has rewritten it"));
    }
    if (p.flags.contains(QLatin1String("--fake-patch")))
        s.settings().baseType = 1;

    if (command == QLatin1String("install")) {
        QStringList packages;
        for (const QString& pkg : p.positional.mid(1))
            packages << QFileInfo(pkg).absoluteFilePath();
        return install(s, packages);
    }
    if (command == QLatin1String("list"))
        return list(s, p.json);
    if (byShip)
        return changeShip(s, command, p.positional[1], p.positional[2]);
    if (command == QLatin1String("update-mod"))
        return updateMod(s);
    if (command == QLatin1String("base-mod"))
        return baseMod(s, none ? QString() : p.positional[1]);
    return redoBaseMod(s);
}

// The command on a scratch copy: what it says, then what it changed there.
int dryRun(const QString& command, const Parsed& p, const QString& gameDir)
{
    const QString holder = WriterLockHolder(gameDir);
    if (!holder.isEmpty())
        cliWriteErr(local(QStringLiteral("drydock-cli: note: %1 holds the game directory; the "
                                         "command itself would be refused until it lets go\n")
                              .arg(holder)));
    // These two never read the mod's large entries: its data file need not be copied.
    const bool sparse =
        command == QLatin1String("install") || command == QLatin1String("update-mod");
    CliSession s(gameDir, p.sameId, CliSession::Mode::DryRun,
                 sparse ? ScratchGame::ModCopy::Sparse : ScratchGame::ModCopy::Whole);
    if (!s.dryRunError().isEmpty())
        return cliFail(QStringLiteral("cannot make a scratch copy for the dry run: ") +
                       s.dryRunError());
    QByteArray said, complained;
    cliCaptureOutput(&said, &complained);
    const int code = runCommand(s, command, p);
    cliCaptureOutput(nullptr, nullptr);
    cliWriteErr(local(s.toGame(QString::fromLocal8Bit(complained))));
    QStringList outcome = s.toGame(QString::fromLocal8Bit(said)).split(QLatin1Char('\n'));
    if (!outcome.isEmpty() && outcome.last().isEmpty())
        outcome.removeLast();
    const ChangePreview preview = s.preview();
    if (p.json) {
        cliWriteJson(QJsonObject{{QStringLiteral("command"), command},
                                 {QStringLiteral("game"), QDir::toNativeSeparators(gameDir)},
                                 {QStringLiteral("dryRun"), true},
                                 {QStringLiteral("exitCode"), code},
                                 {QStringLiteral("outcome"), QJsonArray::fromStringList(outcome)},
                                 {QStringLiteral("changes"), preview.toJson()}});
        return code;
    }
    QByteArray out;
    for (const QString& line : std::as_const(outcome))
        out += local(QStringLiteral("dry run: ") + line) + '\n';
    for (const QString& line : preview.lines())
        out += local(line) + '\n';
    cliWriteOut(out);
    return code;
}

} // namespace
