// Uninstalling, enabling and disabling ships, the removal of files an updated
// ship no longer lists, and the checks made when a game directory's registry is
// read: the game's purge report and the game's own language.
#include "installerengine.h"

#include "safefile.h"

#include "arc.h"
#include "fileutils.h"
#include "gamedir.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// A ship's file leaves the mod under the name it was stored with (packed names
// for models and texts) and under its listed name, should an older copy use that.
// True when neither form is left in the mod.
bool removeModEntry(const QString& catalog, const QString& name)
{
    const QString packed = PackedName(name, true);
    bool ok = RemoveArchiveFile(catalog + QStringLiteral("::") + packed);
    if (packed != name)
        ok = RemoveArchiveFile(catalog + QStringLiteral("::") + name) && ok;
    return ok;
}

// Script and screenshot names are bare file names; a registry edited by hand must
// not make the installer delete or move files outside its folders.
bool isBareName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QLatin1Char(':'));
}

bool scriptUsedElsewhere(const QList<ShipPackage>& ships, const QString& name,
                         const ShipPackage& excluded)
{
    const QString want = name.toUpper();
    for (const ShipPackage& p : ships) {
        if (p.Deleted != 0 || p.sameShip(excluded))
            continue;
        for (const PackageFile& s : p.Scripts)
            if (s.Name.toUpper() == want)
                return true;
    }
    return false;
}

// The name a file has in the mod, for comparing: "x.bod" and "X.PBD" are one entry.
QString storedKey(const QString& name)
{
    return PackedName(QString(name).replace(QLatin1Char('/'), QLatin1Char('\\')), true).toUpper();
}

bool holdsFile(const ShipPackage& p, const QString& key)
{
    auto same = [&key](const PackageFile& f) { return storedKey(f.Name) == key; };
    if ((p.SceneFile && same(*p.SceneFile)) || (p.CockpitFile && same(*p.CockpitFile)))
        return true;
    for (const PackageFile& f : p.Models)
        if (same(f))
            return true;
    for (const PackageFile& f : p.Files)
        if (same(f))
            return true;
    return false;
}

struct ShipFile
{
    const PackageFile* file;
    int kind;
};

// Scene, cockpit scene, models, other files: the order every step walks them in.
QList<ShipFile> shipFiles(const ShipPackage& ship)
{
    QList<ShipFile> files;
    if (ship.SceneFile)
        files.append({&*ship.SceneFile, KindModel});
    if (ship.CockpitFile)
        files.append({&*ship.CockpitFile, KindModel});
    for (const PackageFile& f : ship.Models)
        files.append({&f, KindModel});
    for (const PackageFile& f : ship.Files)
        files.append({&f, KindFile});
    return files;
}

} // namespace

bool InstallerEngine::uninstallShip(int index, bool showMessages)
{
    if (m_gameDir.isEmpty() || index < 0 || index >= m_registry.Ships.size() ||
        m_registry.Ships.at(index).Deleted != 0)
        return false;
    if (refusedForBrokenRegistry(QStringLiteral("(UNINSTALL) "), nullptr, showMessages))
        return false;
    // With the game holding the mod, the files would stay in it while the record
    // forgets them: refuse instead of leaving files that nothing owns.
    Change change(*this, QStringLiteral("(UNINSTALL) "),
                  QStringLiteral("Uninstall ") + m_registry.Ships.at(index).Name, index);
    change.setAction(QLatin1String(HistoryAction::Uninstall), {m_registry.Ships.at(index).Name});
    if (!change.ok())
        return false;
    if (!modWritable(QStringLiteral("(UNINSTALL) "))) {
        change.failed(QStringLiteral("the mod cannot be written"));
        return change.commit();
    }
    const ShipPackage ship = m_registry.Ships.at(index);
    const QString catalog = modCatalog();
    const QString slipway = m_gameDir + QStringLiteral("/Slipway");
    ProgressSink* progress = m_services.progress;

    qint64 total = 0;
    if (ship.SceneFile)
        total += ship.SceneFile->Size;
    if (ship.CockpitFile)
        total += ship.CockpitFile->Size;
    for (const PackageFile& f : ship.Models)
        total += f.Size;
    qint64 done = 0;
    if (progress) {
        progress->setTotal(total);
        progress->setDone(0);
    }

    auto handle = [&](const PackageFile& f, int kind, const QString& removing,
                      const QString& skipping, bool counted) {
        if (IsFileUsedElsewhere(&m_registry.Ships, f.Name, ship, kind)) {
            log(skipping + f.Name + QStringLiteral(", skipped"));
            return;
        }
        log(removing + f.Name);
        QString why;
        const QString loose = IsSafeEntryName(f.Name)
                                  ? gameFile(QStringLiteral("Slipway"), f.Name, QStringLiteral("(UNINSTALL) "))
                                  : QString();
        if (!loose.isEmpty())
            check(RemoveFileChecked(loose, &why), QStringLiteral("(UNINSTALL) ") + why);
        check(removeModEntry(catalog, f.Name),
              QStringLiteral("(UNINSTALL) Cannot remove from the mod: ") + f.Name);
        if (counted && progress) {
            done += f.Size;
            progress->setDone(qMin(done, total));
        }
    };
    if (ship.SceneFile)
        handle(*ship.SceneFile, KindModel, QStringLiteral("(UNINSTALL) Removing scene file: "),
               QStringLiteral("(UNINSTALL) Skipping scene file: "), true);
    if (ship.CockpitFile)
        handle(*ship.CockpitFile, KindModel, QStringLiteral("(UNINSTALL) Removing cockpit file: "),
               QStringLiteral("(UNINSTALL) Skipping cockpit file: "), true);
    for (const PackageFile& f : ship.Models)
        handle(f, KindModel, QStringLiteral("(UNINSTALL) Removing model file: "),
               QStringLiteral("(UNINSTALL) Skipping model  file: "), true);
    for (const PackageFile& f : ship.Files)
        handle(f, KindFile, QStringLiteral("(UNINSTALL) Removing other file: "),
               QStringLiteral("(UNINSTALL) Skipping Other  file: "), false);

    for (const PackageFile& s : ship.Scripts) {
        if (scriptUsedElsewhere(m_registry.Ships, s.Name, ship)) {
            log(QStringLiteral("(UNINSTALL) Skipping script  file: ") + s.Name +
                QStringLiteral(", skipped"));
            continue;
        }
        log(QStringLiteral("(UNINSTALL) Removing script file: ") + s.Name);
        if (!isBareName(s.Name))
            continue;
        QString why;
        const QString tag = QStringLiteral("(UNINSTALL) ");
        for (const QString& folder : {QStringLiteral("Scripts"),
                                      // a disabled ship keeps its scripts in the working folder
                                      QStringLiteral("Slipway/scripts")}) {
            const QString path = gameFile(folder, s.Name, tag);
            if (!path.isEmpty())
                check(RemoveFileChecked(path, &why), tag + why);
        }
    }

    if (isBareName(ship.ScreenShot)) {
        QString why;
        const QString picture =
            gameFile(QStringLiteral("Slipway/ShipPics"), ship.ScreenShot, QStringLiteral("(UNINSTALL) "));
        if (!picture.isEmpty())
            check(RemoveFileChecked(picture, &why), QStringLiteral("(UNINSTALL) ") + why);
        removeLoadingScreen(ship);
    }

    // The slot stays taken until the game reports that it purged the ship type.
    ShipPackage placeholder;
    placeholder.Deleted = 1;
    m_registry.Ships[index] = placeholder;
    log(QStringLiteral("(UNINSTALL) Setting delete state for ship to waiting"));
    m_modChanged = true;
    // The game's purge reports for the list published so far do not cover this
    // ship: until the next update mod publishes a new list, no report may free it.
    m_registry.UpdateTime = 0;

    RemoveTree(slipway, false);
    if (!saveRegistry())
        log(QStringLiteral("(UNINSTALL) Could not save the ship registry"));
    if (!change.commit())
        return false;
    // Files another ship still uses are skipped, not counted: without this the
    // box would sit on a bar that stopped short of its end.
    if (progress)
        progress->setDone(total);
    if (showMessages && m_services.prompter)
        m_services.prompter->ask(
            Prompter::Icon::Information, installerText(41),
            FormatText(installerText(42), ship.Name, ship.Author, ship.Version),
            {installerText(29)}, 0, 0);
    return true;
}

bool InstallerEngine::setShipEnabled(int index, bool enabled)
{
    if (m_gameDir.isEmpty() || index < 0 || index >= m_registry.Ships.size() ||
        m_registry.Ships.at(index).Deleted != 0)
        return false;
    if (refusedForBrokenRegistry(enabled ? QStringLiteral("(ENABLE) ")
                                         : QStringLiteral("(DISABLE) ")))
        return false;
    if (m_registry.Ships.at(index).Enabled == enabled)
        return true;
    // Also creates the catalogue that enabling needs.
    const QString tag = enabled ? QStringLiteral("(ENABLE) ") : QStringLiteral("(DISABLE) ");
    Change change(*this, tag,
                  (enabled ? QStringLiteral("Enable ") : QStringLiteral("Disable ")) +
                      m_registry.Ships.at(index).Name,
                  index);
    change.setAction(QLatin1String(enabled ? HistoryAction::Enable : HistoryAction::Disable),
                     {m_registry.Ships.at(index).Name});
    if (!change.ok())
        return false;
    if (!modWritable(tag)) {
        change.failed(QStringLiteral("the mod cannot be written"));
        return change.commit();
    }
    ShipPackage& record = m_registry.Ships[index];
    record.Enabled = enabled;
    if (enabled)
        record.Changed = true;
    m_modChanged = true;
    const ShipPackage ship = record;
    const QString catalog = modCatalog();
    const QString slipway = m_gameDir + QStringLiteral("/Slipway");

    if (!enabled) {
        QSet<QString> inMod;
        for (const CatalogEntryInfo& e : ListCatalog(catalog))
            inMod.insert(e.name.toUpper());
        for (const ShipFile& sf : shipFiles(ship)) {
            const QString& name = sf.file->Name;
            if (!IsSafeEntryName(name) ||
                IsFileUsedElsewhere(&m_registry.Ships, name, ship, sf.kind))
                continue;
            // Models and texts were stored packed under their packed names and come
            // out unpacked under their own; every other file comes out with the
            // bytes it was stored with, so that enabling stores it unchanged again.
            const QString stored = PackedName(name, true);
            const QString loose = gameFile(QStringLiteral("Slipway"), name, tag);
            if (loose.isEmpty())
                continue;
            QString why;
            if (!check(MakeDirChecked(QFileInfo(loose).path(), &why), tag + why))
                break;
            if (inMod.contains(storedKey(name)) &&
                !check(ExtractArchiveFile(catalog + QStringLiteral("::") + stored, loose, false,
                                          stored == name),
                       QStringLiteral("(DISABLE) Cannot move out of the mod: ") + name))
                break;
            if (inMod.contains(storedKey(name))) {
                check(removeModEntry(catalog, name),
                      QStringLiteral("(DISABLE) Cannot remove from the mod: ") + name);
                log(QStringLiteral("(DISABLE) Moved file out of mod: ") + name);
            } else {
                log(QStringLiteral("(DISABLE) File not in mod, left alone: ") + name);
            }
        }
        for (const PackageFile& s : ship.Scripts) {
            if (!isBareName(s.Name) || scriptUsedElsewhere(m_registry.Ships, s.Name, ship))
                continue;
            const QString from = gameFile(QStringLiteral("Scripts"), s.Name, tag);
            if (from.isEmpty() || !QFileInfo(from).isFile())
                continue;
            QString why;
            if (!check(MakeDirChecked(slipway + QStringLiteral("/scripts"), &why), tag + why))
                continue;
            const QString to = gameFile(QStringLiteral("Slipway/scripts"), s.Name, tag);
            if (!to.isEmpty())
                check(RenameFileChecked(from, to, &why),
                      QStringLiteral("(DISABLE) Could not move script file: ") + why);
        }
        if (isBareName(ship.ScreenShot))
            removeLoadingScreen(ship);
    } else {
        for (const ShipFile& sf : shipFiles(ship)) {
            const QString& name = sf.file->Name;
            if (!IsSafeEntryName(name))
                continue;
            const QString loose = gameFile(QStringLiteral("Slipway"), name, tag);
            if (loose.isEmpty() || !QFileInfo(loose).isFile())
                continue;
            // Packed names again: .bod/.bob/.xml/.txt go back exactly where they were.
            QFile source(loose);
            QString why;
            if (check(AddArchiveFile(source, catalog + QStringLiteral("::") + name, true),
                      QStringLiteral("(ENABLE) Could not add file to mod: ") + name) &&
                check(RemoveFileChecked(loose, &why), QStringLiteral("(ENABLE) ") + why))
                log(QStringLiteral("(ENABLE) Moved file into mod: ") + name);
        }
        const QString scripts = ResolvePath(m_gameDir, QStringLiteral("Scripts"));
        for (const PackageFile& s : ship.Scripts) {
            if (!isBareName(s.Name))
                continue;
            const QString from = gameFile(QStringLiteral("Slipway/scripts"), s.Name, tag);
            if (from.isEmpty() || !QFileInfo(from).isFile())
                continue;
            QString why;
            if (!check(MakeDirChecked(scripts, &why), tag + why))
                continue;
            const QString to = gameFile(QStringLiteral("Scripts"), s.Name, tag);
            if (!to.isEmpty())
                check(RenameFileChecked(from, to, &why),
                      QStringLiteral("(ENABLE) Could not move script file: ") + why);
        }
        if (m_settings.loadingScreens && isBareName(ship.ScreenShot))
            copyLoadingScreen(ship);
    }

    RemoveTree(slipway, false);
    if (!saveRegistry())
        log(tag + QStringLiteral("Could not save the ship registry"));
    return change.commit();
}

void InstallerEngine::removeLeftoverFiles(const QList<PackageFile>& oldFiles,
                                          const QList<PackageFile>& newFiles)
{
    if (m_gameDir.isEmpty() || oldFiles.isEmpty())
        return;
    QSet<QString> kept;
    for (const PackageFile& f : newFiles)
        kept.insert(f.Name.toUpper());
    const QString catalog = modCatalog();
    for (const PackageFile& f : oldFiles) {
        if (kept.contains(f.Name.toUpper()))
            continue;
        // A file that a registered ship still lists stays: removing it would break
        // that ship. The updated ship's old record has already left the registry.
        bool used = false;
        for (const ShipPackage& p : std::as_const(m_registry.Ships))
            used = used || (p.Deleted == 0 && holdsFile(p, storedKey(f.Name)));
        if (used) {
            log(QStringLiteral("Keeping file another ship uses: ") + f.Name);
            continue;
        }
        QString why;
        const QString loose =
            IsSafeEntryName(f.Name) ? gameFile(QStringLiteral("Slipway"), f.Name, QString()) : QString();
        if (!loose.isEmpty())
            check(RemoveFileChecked(loose, &why), why);
        log(QStringLiteral("Removing Unused files: ") + f.Name);
        check(removeModEntry(catalog, f.Name),
              QStringLiteral("Cannot remove from the mod: ") + f.Name);
    }
}

void InstallerEngine::purgeCheck()
{
    if (m_gameDir.isEmpty())
        return;
    QFile file(ResolvePath(m_gameDir, QStringLiteral("log09001.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return;
    bool found = false;
    qint64 latest = 0;
    while (!file.atEnd()) {
        const QStringList words = QString::fromLocal8Bit(file.readLine(4096))
                                      .simplified()
                                      .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 2 || words.at(0) != QLatin1String("Purged:"))
            continue;
        bool ok = false;
        const qint64 time = words.at(1).toLongLong(&ok);
        if (ok && (!found || time > latest)) {
            latest = time;
            found = true;
        }
    }
    // An older report is about an earlier ship list: slots uninstalled since then
    // may still be in use by the game.
    if (!found || latest != m_registry.UpdateTime)
        return;
    int freed = 0;
    for (ShipPackage& p : m_registry.Ships)
        if (p.Deleted == 1) {
            p.Deleted = 2;
            ++freed;
        }
    if (freed > 0)
        log(QStringLiteral("Game purged removed ships at ") + QString::number(latest) +
            QStringLiteral(", slots freed: ") + QString::number(freed));
}

void InstallerEngine::checkGameLanguage()
{
    if (m_gameDir.isEmpty() || m_settings.textOption == 0)
        return;
    QFile file(ResolvePath(m_gameDir, QStringLiteral("lang.dat")));
    if (!file.open(QIODevice::ReadOnly))
        return;
    bool ok = false;
    const int game = QString::fromLocal8Bit(file.readLine(64)).trimmed().toInt(&ok, 10);
    if (!ok || game == 0)
        return;
    const int extra = extraTextLanguage();
    if (extra == 0 || extra == game || game == 44 || !m_services.prompter)
        return;
    // Installer texts 22 and 23 are menu labels; this question has 47 and 48.
    const int answer =
        m_services.prompter->ask(Prompter::Icon::Question, installerText(47),
                                 FormatText(installerText(48), QString::number(game)),
                                 {installerText(7), installerText(8)}, 0, 1);
    if (answer == 0) {
        m_settings.textOption = 2;
        m_settings.textCustom = game;
    }
}
