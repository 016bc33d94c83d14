// The pending-install queue and the install step: a package's files go into
// the mod, its record into the registry. The tables follow at the next update mod.
#include "installerengine.h"

#include "arc.h"
#include "archivefile.h"
#include "fileutils.h"
#include "gamedir.h"
#include "safefile.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>

namespace {

QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\n'));
    text.remove(QLatin1Char('\r'));
    return text;
}

QSet<QString> lowerNames(const QStringList& names)
{
    QSet<QString> set;
    for (const QString& n : names)
        set.insert(n.toLower());
    return set;
}

QString storedName(const QString& name)
{
    return ModEntryName(name);
}

QList<PackageFile> shipFiles(const ShipPackage& ship)
{
    return ShipModFiles(ship);
}

// True when an installed ship lists a file of that name (any kind, any case).
bool ownedByInstalledShip(const QList<ShipPackage>& ships, const QString& name)
{
    const QString wanted = storedName(name).toLower();
    for (const ShipPackage& ship : ships) {
        if (ship.Deleted != 0)
            continue;
        for (const PackageFile& f : shipFiles(ship))
            if (storedName(f.Name).toLower() == wanted)
                return true;
    }
    return false;
}

InstallResult::Failure readFailure(PackageProblem problem)
{
    using Failure = InstallResult::Failure;
    switch (problem) {
    case PackageProblem::NotPackage:
        return Failure::NotPackage;
    case PackageProblem::Damaged:
    case PackageProblem::Incomplete:
        return Failure::Damaged;
    case PackageProblem::RefusedName:
        return Failure::RefusedName;
    case PackageProblem::NotWritten:
        return Failure::NotWritten;
    case PackageProblem::Cancelled:
        return Failure::Cancelled;
    case PackageProblem::None:
        break;
    }
    return Failure::Other;
}

} // namespace

bool InstallerEngine::isPackagePath(const QString& p)
{
    const QString path = withoutLineBreaks(p);
    return !path.isEmpty() && QFileInfo(path).suffix().toLower() == QLatin1String("xsp");
}

int InstallerEngine::enqueue(const QStringList& paths)
{
    int queued = 0;
    for (const QString& p : paths) {
        if (!isPackagePath(p))
            continue;
        m_queue.append(withoutLineBreaks(p));
        ++queued;
    }
    return queued;
}

void InstallerEngine::installMany(const QStringList& paths,
                                  const std::function<void(qsizetype, const InstallResult&)>& done)
{
    const QString tag = QStringLiteral("(INSTALL) ");
    qsizetype start = 0;
    qsizetype end = paths.size();
    bool aloneAtEnd = false; // the package at `end` failed in a change with others
    while (start < paths.size()) {
        if (start == end) {
            // The failed one on its own, in a change of its own.
            done(start, install(paths.at(start), m_services.progress, false, false));
            ++start;
            end = paths.size();
            aloneAtEnd = false;
            continue;
        }
        QList<InstallResult> results;
        qsizetype failedAt = -1;
        bool committed = false;
        QString error;
        {
            Change batch(*this, tag);
            if (!batch.ok()) {
                // Refused (a locked game, no journal): each package says so itself.
                for (qsizetype i = start; i < paths.size(); ++i)
                    done(i, install(paths.at(i), m_services.progress, false, false));
                return;
            }
            m_registryDeferred = true;
            m_registryPending = false;
            const QString catalog = modCatalog();
            // Held for the whole change: parsed once, stored once when let go.
            std::optional<CatalogReadHold> hold;
            for (qsizetype i = start; i < end; ++i) {
                if (!hold && QFileInfo(catalog).isFile())
                    hold.emplace(catalog);
                InstallResult r = install(paths.at(i), m_services.progress, false, false);
                if (batch.hasFailed()) {
                    failedAt = i;
                    break;
                }
                results.append(r);
            }
            m_registryDeferred = false;
            if (failedAt < 0 && m_registryPending)
                saveRegistry(); // joins the change; a failure fails it
            if (hold && !hold->release() && failedAt < 0)
                batch.failed(QStringLiteral("could not store the catalogue ") + catalog);
            hold.reset();
            committed = batch.commit();
            error = batch.error();
        }
        if (failedAt >= 0) {
            // Rolled back. The packages before the failed one go again as one change,
            // then the failed one alone.
            log(tag + QStringLiteral("Installing the %1 packages before %2 again")
                          .arg(failedAt - start)
                          .arg(paths.at(failedAt)));
            end = failedAt;
            aloneAtEnd = true;
            continue;
        }
        for (qsizetype i = 0; i < results.size(); ++i) {
            InstallResult r = results.at(i);
            if (!committed && r.status == PackageOk) {
                r.status = PackageFailed;
                r.error = error;
                r.failure = InstallResult::Failure::NotWritten;
            }
            done(start + i, r);
        }
        start = end;
        if (!aloneAtEnd)
            end = paths.size();
    }
}

InstallResult InstallerEngine::installNext(bool showMessages, bool showFailures)
{
    if (m_queue.isEmpty()) {
        InstallResult none;
        none.error = QStringLiteral("nothing queued");
        return none;
    }
    // Taken off before the install runs: whatever arrives meanwhile (a message
    // box runs its own event loop) queues behind it, and no path runs twice.
    const QString path = m_queue.takeFirst();
    return install(path, m_services.progress, showMessages, showFailures);
}

InstallResult InstallerEngine::install(const QString& packagePath, ProgressSink* progress,
                                       bool showMessages, bool showFailures)
{
    using Failure = InstallResult::Failure;
    InstallResult result;
    const QString path = withoutLineBreaks(packagePath);
    Prompter* prompter = m_services.prompter;

    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        // Shown whatever the caller asked: the user named a file that is not there.
        result.failure = Failure::Missing;
        if (prompter && showFailures)
            prompter->ask(Prompter::Icon::Critical, installerText(36), installerText(37) + path,
                          {installerText(29)});
        result.error = QStringLiteral("package file cannot be opened: ") + path;
        log(QStringLiteral("(INSTALL) Package file cannot be opened: ") + path);
        return result;
    }
    if (m_gameDir.isEmpty()) {
        result.error = QStringLiteral("no game directory selected");
        result.failure = Failure::Other;
        log(QStringLiteral("(INSTALL) No game directory selected"));
        return result;
    }
    if (refusedForBrokenRegistry(QStringLiteral("(INSTALL) "), &result.error,
                                 showMessages && showFailures)) {
        result.failure = Failure::RegistryBroken;
        return result;
    }
    // Everything the package does to the game directory is one change: a package
    // that fails, part-way or at the end, leaves the directory as it was.
    Change change(*this, QStringLiteral("(INSTALL) "));
    if (!change.ok()) {
        result.error = change.error();
        result.failure = m_writeRefusal.isEmpty() ? Failure::NotWritten : Failure::GameLocked;
        return result;
    }
    const QString catalog = modCatalog();
    // One parsed catalogue for the checks, every entry the package stores and the
    // check after it, instead of reading and parsing it again for each of them.
    // Let go before the change commits: that stores the catalogue.
    std::optional<CatalogReadHold> hold;
    if (QFileInfo(catalog).isFile())
        hold.emplace(catalog);
    // A mod the running game holds cannot take the files; nothing may be registered then.
    if (!modWritable(QStringLiteral("(INSTALL) "), &result.error)) {
        hold.reset();
        result.failure = Failure::NotWritten;
        change.failed(result.error);
        change.commit();
        return result;
    }
    const QString scriptDir =
        QDir(m_gameDir).relativeFilePath(ResolvePath(m_gameDir, QStringLiteral("scripts")));

    ShipPackage ship;
    ship.Enabled = true;
    log(QStringLiteral("Installing Ship: ") + path);

    OpenPackageOptions options;
    options.baseDir = m_gameDir;
    options.installed = &m_registry.Ships;
    options.modCatalog = catalog;
    options.scriptDir = scriptDir;
    options.inSlipway = true;
    PackageContext context;
    context.programDir = m_services.programDir;
    context.prompter = prompter;
    context.progress = progress;
    context.status = m_services.status;
    context.logName = m_settings.debugLog ? QStringLiteral("installer_debug") : QString();
    context.installerTexts = m_services.installerTexts;
    context.sharedTexts = m_services.sharedTexts;
    if (!hold)
        hold.emplace(catalog);
    const OpenPackageResult read = OpenPackage(file, ship, options, context);
    file.close();
    // Every file the package brought must now be in the mod (those an installed
    // ship already holds in the same or a newer copy were not written, and are
    // there already). A missing one was refused by the archive, e.g. because the
    // game locked the mod while the package was read.
    QString missing;
    if (read.status == PackageOk && read.complete) {
        for (const PackageFile& f : shipFiles(ship)) {
            if (!CatalogHasEntry(catalog, storedName(f.Name)) &&
                !ownedByInstalledShip(m_registry.Ships, f.Name)) {
                missing = f.Name;
                break;
            }
        }
    }
    // Letting go stores the catalogue, the commit point the game sees: written once
    // (synced, renamed into place) rather than once per file.
    const bool catalogStored = hold->release();
    hold.reset();

    result.status = read.status;
    result.name = ship.Name;
    if (HistoryOperation* op = HistoryOperation::current(); op && read.status == PackageOk) {
        op->setOperation(QStringLiteral("Install ") + ship.Name);
        op->setAction(QLatin1String(HistoryAction::Install), {ship.Name});
        const int index = findShip(ship.Name, ship.Author);
        op->addShip(ship.Name, m_registry.Buffer > 0 && index >= 0 ? m_registry.Buffer + index : -1);
    }
    result.author = ship.Author;
    result.version = ship.Version;

    if (read.status == PackageOk && read.complete && !catalogStored) {
        log(QStringLiteral("(INSTALL) Could not store the mod catalogue: ") + catalog);
        result.status = PackageFailed;
        result.error = QStringLiteral("could not store the catalogue ") + catalog;
        result.failure = Failure::NotWritten;
    } else if (!missing.isEmpty()) {
        log(QStringLiteral("(INSTALL) File missing from the mod archive: ") + missing);
        result.status = PackageFailed;
        result.error = QStringLiteral("could not store ") + missing + QStringLiteral(" in ") + catalog;
        result.failure = Failure::NotWritten;
    }

    if (result.status != PackageOk || !read.complete) {
        if (result.status == PackageOk)
            result.status = PackageFailed;
        if (showMessages && showFailures && prompter && result.status == PackageTooNew)
            prompter->ask(Prompter::Icon::Critical, sharedText(1), sharedText(2),
                          {installerText(29)});
        if (showMessages && showFailures && prompter && result.status == PackageOlder)
            prompter->ask(Prompter::Icon::Critical, sharedText(1), sharedText(3),
                          {installerText(29)});
        if (result.error.isEmpty() && result.status == PackageFailed && !read.error.isEmpty()) {
            result.error = read.error;
            log(QStringLiteral("(INSTALL) ") + read.error);
        }
        if (result.error.isEmpty())
            result.error = result.status == PackageTooNew
                               ? QStringLiteral("package needs a newer installer")
                           : result.status == PackageOlder
                               ? QStringLiteral("an installed copy has a newer version")
                               : QStringLiteral("package could not be read, or was cancelled");
        if (result.failure == Failure::None)
            result.failure = result.status == PackageTooNew  ? Failure::TooNew
                             : result.status == PackageOlder ? Failure::Older
                                                             : readFailure(read.problem);
        log(QStringLiteral("(INSTALL) Package not installed (status %1): ").arg(result.status) +
            path);
        change.failed(result.error);
        change.commit();
        return result;
    }

    ship.NotChecked = false;
    ship.Changed = true;
    const int old = read.replaces;
    ShipPackage oldShip;
    if (old >= 0 && old < m_registry.Ships.size()) {
        // An update takes the old record's place, and so its ship-table slot.
        oldShip = m_registry.Ships.at(old);
        m_registry.Ships[old] = ship;
        result.replacedExisting = true;
    } else {
        int freeSlot = -1;
        for (qsizetype i = 0; i < m_registry.Ships.size() && freeSlot < 0; ++i)
            if (m_registry.Ships.at(i).Deleted == 2)
                freeSlot = static_cast<int>(i);
        if (freeSlot >= 0)
            m_registry.Ships[freeSlot] = ship;
        else
            m_registry.Ships.append(ship);
    }

    if (!saveRegistry()) {
        result.status = PackageFailed;
        result.error = QStringLiteral("the registry could not be saved");
        result.failure = Failure::NotWritten;
        log(QStringLiteral("(INSTALL) Cannot save the registry; ship not installed: ") + ship.Name);
        change.commit();
        return result;
    }
    m_modChanged = true;

    if (result.replacedExisting) {
        // Scene and cockpit scene the new version no longer names leave the mod
        // unless another ship uses them.
        const auto dropScene = [&](const std::optional<PackageFile>& was,
                                   const std::optional<PackageFile>& now) {
            if (!was || !IsSafeEntryName(was->Name) ||
                (now && now->Name.compare(was->Name, Qt::CaseInsensitive) == 0) ||
                ownedByInstalledShip(m_registry.Ships, was->Name))
                return;
            log(QStringLiteral("Removing Unused files: ") + was->Name);
            QString why;
            const QString loose =
                gameFile(QStringLiteral("Slipway"), was->Name, QStringLiteral("(INSTALL) "));
            if (!loose.isEmpty())
                check(RemoveFileChecked(loose, &why), QStringLiteral("(INSTALL) ") + why);
            check(RemoveArchiveFile(catalog + QStringLiteral("::") + storedName(was->Name)),
                  QStringLiteral("(INSTALL) Cannot remove ") + was->Name);
        };
        if (!oldShip.Enabled)
            adoptLooseFiles(ship);
        dropScene(oldShip.SceneFile, ship.SceneFile);
        dropScene(oldShip.CockpitFile, ship.CockpitFile);
        removeLeftoverFiles(oldShip.Models, ship.Models);
        removeLeftoverFiles(oldShip.Files, ship.Files);
    }

    if (!ship.ScreenShot.isEmpty() && m_settings.loadingScreens)
        copyLoadingScreen(ship);
    if (!change.commit()) {
        result.status = PackageFailed;
        result.error = change.error();
        result.failure = Failure::NotWritten;
        return result;
    }
    // Installer text 164 says that the ship replaced its installed copy.
    if (showMessages && prompter)
        prompter->ask(Prompter::Icon::Information, installerText(38),
                      FormatText(installerText(result.replacedExisting ? 164 : 39),
                                 ship.Name.toHtmlEscaped(), ship.Author.toHtmlEscaped(),
                                 ship.Version.toHtmlEscaped()),
                      {installerText(29)});
    return result;
}

void InstallerEngine::adoptLooseFiles(const ShipPackage& ship)
{
    const QString catalog = modCatalog();
    const QString tag = QStringLiteral("(INSTALL) ");
    QStringList entries;
    for (const CatalogEntryInfo& e : ListCatalog(catalog))
        entries << e.name;
    const QSet<QString> inMod = lowerNames(entries);
    for (const PackageFile& f : shipFiles(ship)) {
        if (!IsSafeEntryName(f.Name))
            continue;
        const QString loose = gameFile(QStringLiteral("Slipway"), f.Name, tag);
        if (loose.isEmpty() || !QFileInfo(loose).isFile())
            continue;
        // A copy already in the mod is the new version's own or another ship's:
        // the loose one is then the stale copy.
        if (!inMod.contains(storedName(f.Name).toLower())) {
            QFile source(loose);
            if (!check(AddArchiveFile(source, catalog + QStringLiteral("::") + f.Name, true),
                       QStringLiteral("(INSTALL) Could not move file into mod: ") + f.Name))
                continue;
            log(QStringLiteral("(INSTALL) Moved file of the disabled version into mod: ") + f.Name);
        }
        QString why;
        check(RemoveFileChecked(loose, &why), QStringLiteral("(INSTALL) ") + why);
    }
    const QString scripts = ResolvePath(m_gameDir, QStringLiteral("scripts"));
    for (const PackageFile& s : ship.Scripts) {
        if (!IsSafeEntryName(s.Name) || s.Name.contains(QLatin1Char('/')) ||
            s.Name.contains(QLatin1Char('\\')))
            continue;
        const QString from = gameFile(QStringLiteral("Slipway/scripts"), s.Name, tag);
        if (from.isEmpty() || !QFileInfo(from).isFile())
            continue;
        QString why;
        if (!check(MakeDirChecked(scripts, &why), tag + why))
            continue;
        const QString to = gameFile(QStringLiteral("scripts"), s.Name, tag);
        if (to.isEmpty())
            continue;
        if (QFileInfo::exists(to)) {
            // the new version wrote its own
            check(RemoveFileChecked(from, &why), QStringLiteral("(INSTALL) ") + why);
            continue;
        }
        check(RenameFileChecked(from, to, &why),
              QStringLiteral("(INSTALL) Could not move script file: ") + why);
    }
}
