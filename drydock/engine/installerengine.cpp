// Engine state, game-directory selection and the helpers every step shares.
// The steps themselves live in engine_*.cpp beside this file.
#include "installerengine.h"

#include "arc.h"
#include "archivefile.h"
#include "fileutils.h"
#include "gamedir.h"
#include "safefile.h"
#include "sysregistry.h"
#include "uiseams.h"
#include "uitexts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstring>

QString ModEntryName(const QString& packageFileName)
{
    return PackedName(QString(packageFileName).replace(QLatin1Char('/'), QLatin1Char('\\')), true);
}

QList<PackageFile> ShipModFiles(const ShipPackage& ship)
{
    QList<PackageFile> files;
    if (ship.SceneFile)
        files.append(*ship.SceneFile);
    if (ship.CockpitFile)
        files.append(*ship.CockpitFile);
    files += ship.Models;
    files += ship.Files;
    return files;
}

QStringList UnownedModEntries(const QString& gameDir, const ShipRegistry& registry)
{
    QSet<QString> owned;
    for (const ShipPackage& p : registry.Ships)
        if (p.Deleted == 0)
            for (const PackageFile& f : ShipModFiles(p))
                owned.insert(ModEntryName(f.Name).toUpper());
    if (registry.BaseFakePatch == 0 && InstallerEngine::isRealMod(registry.ModName)) {
        const QString base =
            ResolvePath(gameDir, QStringLiteral("mods/") + registry.ModName + QStringLiteral(".cat"));
        for (const CatalogEntryInfo& e : ListCatalog(base))
            owned.insert(ModEntryName(e.name).toUpper());
    }
    QStringList orphans;
    const QString catalog = ResolvePath(gameDir, QStringLiteral("mods/") +
                                                     QLatin1String(InstallerEngine::kModName) +
                                                     QStringLiteral(".cat"));
    for (const CatalogEntryInfo& e : ListCatalog(catalog)) {
        // Generated tables and pages belong to no ship.
        const QString upper = e.name.toUpper();
        if (upper.startsWith(QLatin1String("T\\")) || upper.startsWith(QLatin1String("TYPES\\")))
            continue;
        if (!owned.contains(ModEntryName(e.name).toUpper()))
            orphans.append(e.name);
    }
    return orphans;
}

InstallerEngine::InstallerEngine(Services services, InstallerSettings& settings)
    : m_services(std::move(services)), m_settings(settings)
{
    // Game tables are read through copies there: they need not reach the disk.
    if (!m_services.programDir.isEmpty())
        SetScratchFolder(m_services.programDir + QStringLiteral("/temp"));
}

void InstallerEngine::log(const QString& message) const
{
    if (m_services.log)
        m_services.log(message);
}

QString InstallerEngine::gameFile(const QString& folder, const QString& name,
                                  const QString& tag) const
{
    QString why;
    QString path;
    // The folder itself must lie in the game directory: a linked folder leads out.
    const QString root = ResolveBelow(m_gameDir, folder, &why);
    if (!root.isEmpty() && QFileInfo(root).isDir())
        path = ResolveBelow(root, name, &why);
    else if (!root.isEmpty() && !ResolveBelow(m_gameDir, name, &why).isEmpty())
        // The folder is not there (yet): the name is checked on its own, then the
        // whole path below the game directory.
        path = ResolveBelow(m_gameDir, folder + QLatin1Char('/') + name, &why);
    if (path.isEmpty())
        log(tag + QStringLiteral("Refused file name from ") + folder + QStringLiteral(": ") + why);
    return path;
}

QString InstallerEngine::baseModFile(const QString& suffix) const
{
    if (!isRealMod(m_baseMod))
        return QString();
    // The pair is only read, and a dry run's scratch game links it: the name must
    // stay a bare name in the mods folder, the file may be a link.
    if (m_baseMod.contains(QLatin1Char('/')) || m_baseMod.contains(QLatin1Char('\\')) ||
        m_baseMod.contains(QLatin1Char(':')) || m_baseMod.trimmed() == QLatin1String("..")) {
        log(QStringLiteral("(BASEMOD) Refused file name from mods: ") + m_baseMod);
        return QString();
    }
    return ResolvePath(m_gameDir, QStringLiteral("mods/") + m_baseMod + suffix);
}

QString InstallerEngine::installerText(int n) const
{
    const QStringList* t = m_services.installerTexts;
    return t && n >= 0 && n < t->size() ? t->at(n) : QStringLiteral("ReadText-%1").arg(n);
}

QString InstallerEngine::sharedText(int n) const
{
    const QStringList* t = m_services.sharedTexts;
    return t && n >= 0 && n < t->size() ? t->at(n) : QStringLiteral("ReadText-%1").arg(n);
}

qint64 InstallerEngine::now() const
{
    return m_services.clock ? m_services.clock() : QDateTime::currentSecsSinceEpoch();
}

QString InstallerEngine::modCatalog() const
{
    return m_gameDir + QStringLiteral("/mods/") + QLatin1String(kModName) + QStringLiteral(".cat");
}

bool InstallerEngine::isRealMod(const QString& name)
{
    return !name.isEmpty() && IsModSelected(name);
}

InstallerEngine::Change::Change(InstallerEngine& engine, const QString& tag, const QString& label,
                                int ship)
    : m_engine(engine), m_tag(tag), m_outer(engine.m_change)
{
    if (m_outer) {
        m_ok = m_outer->m_ok;
        m_error = m_outer->m_error;
        return;
    }
    // A change on its own is an entry of the game's history; one made inside an
    // operation of the caller's (a command line run) joins that.
    if (!HistoryOperation::current() && !engine.m_gameDir.isEmpty())
    {
        m_history = std::make_unique<HistoryOperation>(
            engine.m_gameDir, label.isEmpty() ? tagLabel(tag) : label);
        if (label.isEmpty())
            m_history->setAction(tagAction(tag));
    }
    if (HistoryOperation* op = HistoryOperation::current();
        op && ship >= 0 && ship < engine.m_registry.Ships.size())
        op->addShip(engine.m_registry.Ships.at(ship).Name,
                    engine.m_registry.Buffer > 0 ? engine.m_registry.Buffer + ship : -1);
    if (engine.m_gameDir.isEmpty()) {
        m_error = QStringLiteral("no game directory selected");
    } else if (!engine.m_writeRefusal.isEmpty()) {
        m_error = engine.m_writeRefusal;
    } else {
        m_journal = std::make_unique<GameChange>(engine.m_gameDir);
        if (!m_journal->ok())
            m_error = QStringLiteral("cannot start the change: ") + m_journal->error();
    }
    if (!m_error.isEmpty()) {
        m_journal.reset();
        engine.log(tag + m_error);
        return;
    }
    m_ok = true;
    if (m_history)
        m_selectedModBefore = engine.selectedMod();
    m_registry = engine.m_registry;
    m_modChanged = engine.m_modChanged;
    m_baseMod = engine.m_baseMod;
    m_previousBaseMod = engine.m_previousBaseMod;
    engine.m_change = this;
}

InstallerEngine::Change::~Change()
{
    if (!m_outer && m_ok && !m_done) {
        m_failure = QStringLiteral("the operation did not finish");
        commit();
    }
}

void InstallerEngine::Change::setAction(const QString& action, const QStringList& args)
{
    if (m_history)
        m_history->setAction(action, args);
}

void InstallerEngine::Change::failed(const QString& why)
{
    if (m_outer) {
        m_outer->failed(why);
        return;
    }
    if (m_failure.isEmpty())
        m_failure = why;
}

bool InstallerEngine::Change::commit()
{
    if (m_outer)
        return m_ok && !m_outer->hasFailed();
    if (!m_ok || m_done)
        return false;
    m_done = true;
    m_engine.m_change = nullptr;
    if (m_failure.isEmpty() && m_journal->commit()) {
        if (m_history && m_engine.m_services.systemRegistry)
            m_history->setSelectedMod(m_selectedModBefore, m_engine.selectedMod());
        return true;
    }
    QString why = m_failure.isEmpty() ? m_journal->error() : m_failure;
    if (m_failure.isEmpty()) {
        // The journal rolled itself back when its commit failed.
    } else if (!m_journal->rollback()) {
        why += QStringLiteral("; ") + m_journal->error();
    }
    m_engine.m_registry = m_registry;
    m_engine.m_modChanged = m_modChanged;
    m_engine.m_baseMod = m_baseMod;
    m_engine.m_previousBaseMod = m_previousBaseMod;
    m_error = why;
    m_engine.log(m_tag + QStringLiteral("Nothing was changed: ") + why);
    return false;
}

QString InstallerEngine::tagLabel(const QString& tag)
{
    static const QHash<QString, QString> labels{
        {QStringLiteral("(INSTALL) "), QStringLiteral("Install")},
        {QStringLiteral("(UNINSTALL) "), QStringLiteral("Uninstall")},
        {QStringLiteral("(ENABLE) "), QStringLiteral("Enable")},
        {QStringLiteral("(DISABLE) "), QStringLiteral("Disable")},
        {QStringLiteral("(UPDATEMOD) "), QStringLiteral("Update mod")},
        {QStringLiteral("(CREATEMOD) "), QStringLiteral("Base mod")},
        {QStringLiteral("(SCRIPTS) "), QStringLiteral("Scripts")},
        {QStringLiteral("(REGISTRY) "), QStringLiteral("Save registry")},
    };
    return labels.value(tag, tag.trimmed());
}

QString InstallerEngine::tagAction(const QString& tag)
{
    static const QHash<QString, QString> actions{
        {QStringLiteral("(INSTALL) "), QLatin1String(HistoryAction::Install)},
        {QStringLiteral("(UPDATEMOD) "), QLatin1String(HistoryAction::UpdateMod)},
        {QStringLiteral("(SCRIPTS) "), QLatin1String(HistoryAction::Scripts)},
        {QStringLiteral("(REGISTRY) "), QLatin1String(HistoryAction::SaveRegistry)},
    };
    return actions.value(tag);
}

QString InstallerEngine::selectedMod() const
{
    return m_services.systemRegistry
               ? m_services.systemRegistry->readString(QStringLiteral("/SKYWARD"),
                                                       QStringLiteral("/Vega/ModName"))
               : QString();
}

bool InstallerEngine::undo(bool redo, QString* error, HistoryEntry* done, ChangeHistory::Refusal* refusal)
{
    if (m_gameDir.isEmpty() || !m_writeRefusal.isEmpty()) {
        if (refusal)
            *refusal = {ChangeHistory::Refusal::Failed, {}, {},
                        m_gameDir.isEmpty() ? installerText(258) : m_writeRefusal};
        if (error)
            *error = m_gameDir.isEmpty() ? QStringLiteral("no game directory selected") : m_writeRefusal;
        return false;
    }
    ChangeHistory::OutsideValue value;
    SystemRegistry* registry = m_services.systemRegistry;
    if (registry) {
        value.name = QStringLiteral("the game's selected mod (registry value /Vega/ModName)");
        value.read = [this] { return selectedMod(); };
        value.write = [registry](const QString& mod, QString* why) {
            if (registry->writeString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), mod))
                return true;
            if (why)
                *why = QStringLiteral("cannot write the game's selected mod: ") + registry->errorString();
            return false;
        };
    }
    const bool ok = ChangeHistory::undo(m_gameDir, redo, error, done, registry ? &value : nullptr, refusal);
    log(ok ? (redo ? QStringLiteral("(HISTORY) Redone: ") : QStringLiteral("(HISTORY) Undone: ")) +
                 (done ? done->label : QString())
           : QStringLiteral("(HISTORY) ") + (error ? *error : QString()));
    // The files changed under the engine's memory of them: read the directory again.
    const bool modChanged = m_modChanged;
    setGameDir(m_gameDir);
    m_modChanged = modChanged;
    return ok;
}

bool InstallerEngine::check(bool ok, const QString& what)
{
    if (!ok && m_change)
        m_change->failed(what);
    if (!ok)
        log(what);
    return ok;
}

void InstallerEngine::setGameDir(const QString& dir)
{
    m_gameDir = dir;
    m_registry = ShipRegistry();
    m_queue.clear();
    m_baseMod.clear();
    m_previousBaseMod.clear();
    m_registryBroken = false;
    m_registryError.clear();
    m_registryShown.clear();
    m_lock.reset();
    m_writeRefusal.clear();
    if (dir.isEmpty())
        return;
    // One writer per game directory: a window or a command line run that holds
    // it keeps its registry in memory and would overwrite ours.
    m_lock = std::make_unique<GameDirLock>(dir);
    QString holder;
    if (!m_lock->tryLock(&holder)) {
        const QString where = QDir::toNativeSeparators(dir);
        if (!m_lock->failure().isEmpty()) {
            // Not another program: the lock file itself could not be made (a full disk).
            log(where + QStringLiteral(" cannot be changed: ") + holder);
            const int e = m_lock->failureError();
            // In the window's language; a full disk is worded as one by the shared texts.
            const QString why = m_services.sharedTexts
                                    ? UiTexts::systemError(*m_services.sharedTexts, e)
                                    : QString::fromLocal8Bit(std::strerror(e));
            m_writeRefusal = FormatText(installerText(251), where,
                                        QDir::toNativeSeparators(m_lock->path()), why);
        } else {
            log(where + QStringLiteral(" is being changed by ") + holder +
                QStringLiteral("; close it first"));
            const GameDirLock::Holder h = m_lock->holder();
            const QString program = h.program.isEmpty() ? installerText(250) : h.program;
            m_writeRefusal = FormatText(
                installerText(168), where,
                h.pid != 0 ? FormatText(installerText(249), program, QString::number(h.pid), h.host)
                           : program);
        }
    } else {
        QString report;
        GameChange::RecoverFailure failure;
        const int recovered = GameChange::recover(dir, &report, &failure);
        if (recovered != 0)
            log(QStringLiteral("(JOURNAL) ") + report);
        // The journal's own report names the file and the system's reason.
        if (recovered < 0)
            m_writeRefusal = FormatText(installerText(253), QDir::toNativeSeparators(dir),
                                        m_services.sharedTexts
                                            ? UiTexts::journalFailure(*m_services.sharedTexts, failure, report)
                                            : report);
    }
    RegistryReadStatus status;
    const bool read =
        ReadRegistry(dir, m_registry, m_services.programDir,
                     m_settings.debugLog ? QStringLiteral("installer_debug") : QString(), &status);
    if (status.broken()) {
        m_registryBroken = true;
        m_registryError = status.message(RegistryPath(dir));
        m_registryShown = registryMessage(status, RegistryPath(dir), m_services.installerTexts);
        log(QStringLiteral("(REGISTRY) The registry cannot be read whole, changes are refused: ") +
            m_registryError);
    }
    // A registry written by another installer version may come with older program
    // scripts in the games it knows: bring every known game directory up to date.
    // A broken file's version says nothing.
    if (read && !m_registryBroken && !RegistryVersionMatches(m_registry.InstallerVersion)) {
        log(QStringLiteral("Registry version %1 differs from %2, installing program scripts")
                .arg(m_registry.InstallerVersion)
                .arg(kRegistryVersion));
        QStringList dirs = m_settings.installDirs;
        if (!dirs.contains(dir))
            dirs.append(dir);
        for (const QString& known : std::as_const(dirs))
            installProgramScripts(known);
    }
    m_baseMod = m_registry.ModName;
    m_previousBaseMod = m_baseMod;
    purgeCheck();
    checkGameLanguage();
}

bool InstallerEngine::saveRegistry()
{
    if (m_gameDir.isEmpty() || refusedForBrokenRegistry(QStringLiteral("(REGISTRY) ")))
        return false;
    if (m_registryDeferred && m_change) {
        m_registryPending = true;
        return true;
    }
    Change change(*this, QStringLiteral("(REGISTRY) "));
    if (!change.ok())
        return false;
    m_registry.ModName = m_baseMod;
    check(WriteRegistry(m_gameDir, m_registry, m_services.programDir,
                        m_settings.debugLog ? QStringLiteral("installer_debug") : QString()),
          QStringLiteral("(REGISTRY) Cannot write ") + m_gameDir +
              QStringLiteral("/Slipway/ships.dat"));
    return change.commit();
}

bool InstallerEngine::refusedForBrokenRegistry(const QString& tag, QString* error,
                                               bool showMessages) const
{
    if (!m_registryBroken)
        return false;
    log(tag + QStringLiteral("Refused, the registry is broken: ") + m_registryError);
    if (error)
        *error = m_registryError;
    if (showMessages)
        showBrokenRegistry();
    return true;
}

QString InstallerEngine::registryMessage(const RegistryReadStatus& status, const QString& file,
                                         const QStringList* texts)
{
    // Text numbers of the reasons, in the order of RegistryReadStatus::Fault from Unreadable.
    constexpr int kFileLine = 311, kFile = 312, kFirstFault = 313;
    const auto text = [texts](int n) {
        return texts && n < texts->size() && texts->at(n) != UiTexts::placeholder(n) ? texts->at(n) : QString();
    };
    const QString reason = status.fault == RegistryReadStatus::NoFault
                               ? QString()
                               : text(kFirstFault + int(status.fault) - int(RegistryReadStatus::Unreadable));
    const QString frame = text(status.line > 0 ? kFileLine : kFile);
    if (!status.broken() || reason.isEmpty() || frame.isEmpty())
        return status.message(file);
    const QString where = QDir::toNativeSeparators(file);
    const QString worded = FormatText(reason, status.faultArg);
    return status.line > 0 ? FormatText(frame, where, QString::number(status.line), worded)
                           : FormatText(frame, where, worded);
}

void InstallerEngine::showBrokenRegistry() const
{
    if (m_registryBroken && m_services.prompter)
        m_services.prompter->ask(Prompter::Icon::Critical, installerText(145),
                                 FormatText(installerText(146), m_registryShown),
                                 {installerText(29)});
}

int InstallerEngine::findShip(const QString& name, const QString& author) const
{
    for (qsizetype i = 0; i < m_registry.Ships.size(); ++i) {
        const ShipPackage& p = m_registry.Ships.at(i);
        if (p.Deleted == 0 && p.Name == name && p.Author == author)
            return static_cast<int>(i);
    }
    return -1;
}

void InstallerEngine::adoptMemoryState(const InstallerEngine& other)
{
    m_registry = other.m_registry;
    m_baseMod = other.m_baseMod;
    m_previousBaseMod = other.m_previousBaseMod;
    m_queue = other.m_queue;
    m_modChanged = other.m_modChanged;
}

bool InstallerEngine::extractGameTable(const QString& entry, const QString& destination,
                                       bool* failed) const
{
    RemoveFileChecked(destination);
    // The Hullwright mod is never searched: the generators start from the game's own tables.
    if (const QString base = baseModFile(QStringLiteral(".cat")); !base.isEmpty()) {
        if (ExtractArchiveFile(base + QStringLiteral("::") + entry, destination, false, false))
            return true;
        const int code = LastArchiveError();
        if (failed && code != ARC_E_NOENTRY && code != ARC_E_NOFILE && code != ARC_E_NODAT) {
            *failed = true;
            return false;
        }
    }
    return ExtractGameFile(m_gameDir, entry, destination, QString(), failed);
}

bool InstallerEngine::modWritable(const QString& tag, QString* error) const
{
    const QString catalog = modCatalog();
    QString why;
    if (!m_writeRefusal.isEmpty()) {
        why = m_writeRefusal;
    } else if (!EnsureCatalog(catalog)) {
        const int code = LastArchiveError();
        why = code == ARC_E_ACCESS ? QStringLiteral("Mod archive is locked: ")
                                   : QStringLiteral("Mod archive cannot be created: ");
        why += catalog + QStringLiteral(" (") + ArchiveErrorMessage(code) + QLatin1Char(')');
    } else if (ArcCatalogHandle* h = arc_open_catalog(
                   QFile::encodeName(QString(catalog).replace(QLatin1Char('/'), QLatin1Char('\\')))
                       .constData(),
                   0)) {
        arc_close_catalog(h);
        // A catalogue the library could only open for reading refuses every change.
        if (!QFileInfo(catalog).isWritable())
            why = QStringLiteral("Mod archive is read-only: ") + catalog;
    } else {
        const int code = LastArchiveError();
        why = (code == ARC_E_ACCESS ? QStringLiteral("Mod archive is locked: ")
                                    : QStringLiteral("Mod archive cannot be opened: ")) +
              catalog + QStringLiteral(" (") + ArchiveErrorMessage(code) + QLatin1Char(')');
    }
    if (why.isEmpty())
        return true;
    log(tag + why);
    if (error)
        *error = why;
    return false;
}

QByteArray InstallerEngine::gameTableText(const QString& entry, const QString& tempName)
{
    const QString temp = m_services.programDir + QStringLiteral("/temp/") + tempName;
    QDir().mkpath(m_services.programDir + QStringLiteral("/temp"));
    QByteArray text;
    bool failed = false;
    if (extractGameTable(entry, temp, &failed)) {
        const qint64 size = QFileInfo(temp).size();
        QString why;
        if (size > InMemoryFileLimit()) {
            why = QStringLiteral("(TEXTFILE) Game table too large to be read: %1 (%2 bytes, the "
                                 "limit is %3 bytes)")
                      .arg(entry)
                      .arg(size)
                      .arg(InMemoryFileLimit());
            failed = true;
        } else if (!ReadFileWhole(temp, &text, &why)) {
            why = QStringLiteral("(TEXTFILE) Game table cannot be read: ") + why;
            failed = true;
        }
        if (failed)
            log(why);
    }
    // A table that exists but cannot be read must not be replaced by an empty one.
    check(!failed, QStringLiteral("(UPDATEMOD) Cannot read the game's ") + entry);
    RemoveFileChecked(temp);
    return text;
}
