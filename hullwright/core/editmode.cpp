#include "editmode.h"

#include "archivefile.h"
#include "changehistory.h"
#include "commandline.h"
#include "gamechange.h"
#include "gamedir.h"
#include "installersettings.h"
#include "packagebuild.h"
#include "registry.h"
#include "safefile.h"
#include "xspfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <limits>

namespace {

QString packaged(const QString& name)
{
    return QLatin1String(kPackagePrefix) + name;
}

bool isPackaged(const QString& row)
{
    return row.startsWith(QLatin1String("<PACKAGE>"));
}

PackageFile newEntry(const QString& source, const QString& name)
{
    PackageFile e;
    e.Name = name;
    e.SourcePath = source;
    e.Size = qint32(qMin<qint64>(QFileInfo(source).size(), std::numeric_limits<qint32>::max()));
    e.Time = quint32(qMax<qint64>(0, QFileInfo(source).lastModified().toSecsSinceEpoch()));
    return e;
}

QString folderName(const QString& dir, const QString& source)
{
    QString name = dir + QLatin1Char('/') + QFileInfo(source).fileName();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.contains(QLatin1String("//")))
        name.replace(QLatin1String("//"), QLatin1String("/"));
    return name;
}

enum class Place { Mod, Scripts, Picture };

struct Step
{
    bool remove = false;
    Place place = Place::Mod;
    int kind = KindModel;
    PackageFile file; // a new file carries its SourcePath
};

// What a save will do: the registry entry it writes and the file steps, in order
// (removals first, so that a new file of the same name is not removed again).
struct Plan
{
    ShipPackage ship;
    QList<Step> steps;
    QString error; // a change edit mode cannot apply
};

bool sameFile(const PackageFile& a, const PackageFile& b)
{
    return a.Name == b.Name && a.Size == b.Size && a.Time == b.Time;
}

bool sameFiles(const QList<PackageFile>& a, const QList<PackageFile>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!sameFile(a.at(i), b.at(i)))
            return false;
    return true;
}

bool sameOptional(const std::optional<PackageFile>& a, const std::optional<PackageFile>& b)
{
    return a.has_value() == b.has_value() && (!a || sameFile(*a, *b));
}

// Rows of a list against the installed entries: kept ones stay, the others of
// the old list go, new files come.
void planList(Plan& plan, const QList<PackageFile>& old, const QList<DraftFolder>& tree, int kind,
              QList<PackageFile>& result)
{
    const QStringList rows = DraftTreeFiles(tree);
    for (const PackageFile& f : old)
        if (!rows.contains(packaged(f.Name)))
            plan.steps.append({true, Place::Mod, kind, f});
    QStringList names;
    for (const DraftFolder& folder : tree)
        for (const QString& row : folder.files) {
            bool kept = false;
            for (const PackageFile& f : old)
                if (row == packaged(f.Name) && !names.contains(f.Name, Qt::CaseInsensitive)) {
                    result << f;
                    names << f.Name;
                    kept = true;
                }
            if (kept || (isPackaged(row) && names.contains(row.mid(int(qstrlen(kPackagePrefix))))))
                continue;
            if (isPackaged(row) || !QFileInfo(row).isFile()) {
                if (plan.error.isEmpty())
                    plan.error = QStringLiteral("the file ") + row + QStringLiteral(" does not exist");
                continue;
            }
            const PackageFile entry = newEntry(row, folderName(folder.dir, row));
            if (names.contains(entry.Name, Qt::CaseInsensitive))
                continue;
            names << entry.Name;
            plan.steps.append({false, Place::Mod, kind, entry});
            result << entry;
        }
}

Plan makePlan(const ShipPackage& old, const ShipDraft& draft, const QString& programDir)
{
    Plan plan;
    ShipPackage& ship = plan.ship;
    ship = old;
    const ShipPackage built = BuildPackage(draft, programDir);
    ship.Name = built.Name;
    ship.Author = built.Author;
    ship.Version = built.Version;
    ship.ID = built.ID;
    ship.Web = built.Web;
    ship.Mirror1 = built.Mirror1;
    ship.Mirror2 = built.Mirror2;
    ship.Shipyards = built.Shipyards;
    ship.Data = built.Data;
    ship.Comment = built.Comment;
    ship.OriginalDesc = built.OriginalDesc;
    ship.Texts = built.Texts;
    ship.Dummies = built.Dummies;
    ship.Components = built.Components;
    ship.Cockpits = built.Cockpits;

    // The screenshot: kept, cleared or replaced.
    const QString oldPicture = old.ScreenShot.isEmpty() ? QString() : packaged(QStringLiteral("ShipPics/") + old.ScreenShot);
    if (draft.picture != oldPicture) {
        if (!draft.picture.isEmpty() && !QFileInfo(draft.picture).isFile()) {
            plan.error = QStringLiteral("the screenshot ") + draft.picture + QStringLiteral(" does not exist");
        } else {
            QString file;
            if (!draft.picture.isEmpty()) {
                QString stem = ship.Name + QLatin1Char('-') + ship.Author;
                stem.remove(QLatin1Char(' ')).remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
                file = stem + QLatin1Char('.') + QFileInfo(draft.picture).suffix();
            }
            if (!old.ScreenShot.isEmpty() && old.ScreenShot.compare(file, Qt::CaseInsensitive) != 0)
                plan.steps.append({true, Place::Picture, KindFile, PackageFile{0, 0, old.ScreenShot, {}, false}});
            if (!file.isEmpty())
                plan.steps.append({false, Place::Picture, KindFile, newEntry(draft.picture, file)});
            ship.ScreenShot = file;
        }
    }

    // The scenes: a row still in "<PACKAGE>/" form is the installed file.
    const ShipDraft shown = DraftFromPackage(old);
    auto planScene = [&](std::optional<PackageFile>& slot, const QString& row, const QString& gameName,
                         const QString& shownName) {
        if (slot && row == packaged(slot->Name)) {
            // Its name in the mod follows the game name; the file would have to move.
            if (gameName != shownName && plan.error.isEmpty())
                plan.error = QStringLiteral("the game name of the scene ") + slot->Name +
                             QStringLiteral(" changed: choose its file again to store it under the new name");
            return;
        }
        if (!row.isEmpty() && (isPackaged(row) || !QFileInfo(row).isFile())) {
            if (plan.error.isEmpty())
                plan.error = QStringLiteral("the scene file ") + row + QStringLiteral(" does not exist");
            return;
        }
        if (slot)
            plan.steps.append({true, Place::Mod, KindModel, *slot});
        slot.reset();
        if (!row.isEmpty()) {
            slot = newEntry(row, SceneEntryName(gameName, row));
            plan.steps.append({false, Place::Mod, KindModel, *slot});
        }
    };
    planScene(ship.SceneFile, draft.sceneFile, draft.sceneName, shown.sceneName);
    planScene(ship.CockpitFile, draft.cockpitFile, draft.cockpitName, shown.cockpitName);

    ship.Models.clear();
    planList(plan, old.Models, draft.models, KindModel, ship.Models);
    ship.Files.clear();
    planList(plan, old.Files, draft.others, KindFile, ship.Files);

    ship.Scripts.clear();
    for (const PackageFile& s : old.Scripts)
        if (!draft.scripts.contains(packaged(QStringLiteral("Scripts/") + s.Name)))
            plan.steps.append({true, Place::Scripts, KindFile, s});
    for (const QString& row : draft.scripts) {
        bool kept = false;
        for (const PackageFile& s : old.Scripts)
            if (row == packaged(QStringLiteral("Scripts/") + s.Name)) {
                ship.Scripts << s;
                kept = true;
            }
        if (kept)
            continue;
        if (isPackaged(row) || !QFileInfo(row).isFile()) {
            if (plan.error.isEmpty())
                plan.error = QStringLiteral("the script ") + row + QStringLiteral(" does not exist");
            continue;
        }
        const PackageFile entry = newEntry(row, QFileInfo(row).fileName());
        plan.steps.append({false, Place::Scripts, KindFile, entry});
        ship.Scripts << entry;
    }
    return plan;
}

bool scriptUsedElsewhere(const QList<ShipPackage>& ships, const QString& name, const ShipPackage& excluded)
{
    for (const ShipPackage& p : ships)
        if (p.Deleted == 0 && !p.sameShip(excluded))
            for (const PackageFile& s : p.Scripts)
                if (s.Name.compare(name, Qt::CaseInsensitive) == 0)
                    return true;
    return false;
}

class Writer
{
public:
    Writer(const QString& gameDir, const ShipRegistry& registry, const ShipPackage& ship,
           GameChange& change)
        : m_game(gameDir), m_registry(registry), m_ship(ship), m_change(change)
    {
        // The ship's own old files must not keep its new ones out.
        for (const ShipPackage& p : registry.Ships)
            if (!p.sameShip(ship))
                m_others << p;
    }
    QString error;

    bool run(const Step& step)
    {
        if (step.place == Place::Mod)
            return step.remove ? removeOld(step.file.Name, step.kind) : addNew(step.file, step.kind);
        if (step.place == Place::Picture) {
            const QString path = below(QStringLiteral("/Slipway"), QStringLiteral("ShipPics/") + step.file.Name);
            return !path.isEmpty() && placeFile(step, path);
        }
        if (step.remove && scriptUsedElsewhere(m_registry.Ships, step.file.Name, m_ship))
            return true;
        if (!step.remove && !IsScriptWanted(&m_others, step.file))
            return true;
        const QString path = scriptPath(step.file.Name);
        return !path.isEmpty() && placeFile(step, path);
    }

private:
    // A loose file beside the mod (picture, script): copied in, or removed under the change.
    bool placeFile(const Step& step, const QString& path)
    {
        QString why;
        if (step.remove)
            return m_change.removeFile(path, &why) || fail(why);
        return (MakeDirChecked(QFileInfo(path).absolutePath(), &why) &&
                CopyFileChecked(step.file.SourcePath, path, &why)) ||
               fail(why);
    }

    // Every name read from the registry or the draft goes through the checked
    // resolver before anything is removed or written there.
    QString below(const QString& folder, const QString& name)
    {
        QString why;
        const QString path = ResolveBelow(m_game + folder, name, &why);
        if (path.isEmpty())
            fail(QStringLiteral("refused file name ") + name + QStringLiteral(": ") + why);
        return path;
    }

    QString scriptPath(const QString& name)
    {
        if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
            fail(QStringLiteral("refused script name ") + name);
            return {};
        }
        // A disabled ship keeps its scripts in the working folder.
        return m_ship.Enabled ? below(QString(), QStringLiteral("Scripts/") + name)
                              : below(QStringLiteral("/Slipway"), QStringLiteral("scripts/") + name);
    }

    bool removeOld(const QString& name, int kind)
    {
        if (IsFileUsedElsewhere(&m_registry.Ships, name, m_ship, kind))
            return true;
        if (!IsSafeEntryName(name))
            return fail(QStringLiteral("refused file name ") + name);
        if (m_ship.Enabled) {
            // Texts are stored packed under another name; both forms go.
            const QString packed = PackedName(name, true);
            if (RemoveArchiveFile(catalog() + QStringLiteral("::") + packed) &&
                (packed == name || RemoveArchiveFile(catalog() + QStringLiteral("::") + name)))
                return true;
            return fail(QStringLiteral("cannot remove ") + name + QStringLiteral(" from ") + catalog());
        }
        const QString path = below(QStringLiteral("/Slipway"), name);
        QString why;
        return !path.isEmpty() && (m_change.removeFile(path, &why) || fail(why));
    }

    bool addNew(const PackageFile& entry, int kind)
    {
        if (!IsSafeEntryName(entry.Name))
            return fail(QStringLiteral("refused file name ") + entry.Name);
        if (!IsFileWanted(&m_others, entry, kind))
            return true;
        if (m_ship.Enabled) {
            QFile source(entry.SourcePath);
            if (EnsureCatalog(catalog()) &&
                AddArchiveFile(source, catalog() + QStringLiteral("::") + entry.Name, true))
                return true;
            return fail(QStringLiteral("cannot add ") + entry.SourcePath + QStringLiteral(" to ") +
                        catalog() + QStringLiteral(": ") + ArchiveErrorMessage(LastArchiveError()));
        }
        const QString target = below(QStringLiteral("/Slipway"), entry.Name);
        QString why;
        return !target.isEmpty() && ((MakeDirChecked(QFileInfo(target).absolutePath(), &why) &&
                                      CopyFileChecked(entry.SourcePath, target, &why)) ||
                                     fail(why));
    }

    QString catalog() const { return m_game + QStringLiteral("/mods/Hullwright.cat"); }
    bool fail(const QString& why)
    {
        if (error.isEmpty())
            error = why;
        return false;
    }
    QString m_game;
    const ShipRegistry& m_registry;
    const ShipPackage& m_ship;
    GameChange& m_change;
    QList<ShipPackage> m_others;
};

QString collision(const ShipRegistry& registry, qsizetype index, const ShipPackage& ship)
{
    for (qsizetype i = 0; i < registry.Ships.size(); ++i) {
        const ShipPackage& p = registry.Ships.at(i);
        if (i == index || p.Deleted != 0)
            continue;
        if (p.sameShip(ship))
            return QStringLiteral("another installed ship is already named %1 by %2").arg(p.Name, p.Author);
        if (!ship.ID.isEmpty() && p.ID.compare(ship.ID, Qt::CaseInsensitive) == 0)
            return QStringLiteral("the installed ship %1 by %2 already has the ID %3").arg(p.Name, p.Author, p.ID);
    }
    return {};
}

} // namespace

QString EncodeEditModePath(const QString& gameDir, const QString& name, const QString& author)
{
    QString file = name + QLatin1Char('~') + author;
    file.replace(QLatin1Char('\\'), QLatin1String("<bslash>"));
    file.replace(QLatin1Char('/'), QLatin1String("<fslash>"));
    return gameDir + QLatin1Char('/') + file;
}

std::optional<ShipPackage> LoadInstalledShip(const QString& editModePath)
{
    const EditModeShip id = DecodeEditModePath(editModePath);
    ShipRegistry registry;
    if (id.gameDir.isEmpty() || !QFileInfo(id.gameDir).isDir() || !ReadRegistry(id.gameDir, registry))
        return std::nullopt;
    for (const ShipPackage& p : registry.Ships)
        if (!p.Deleted && p.Name == id.name && p.Author == id.author)
            return p;
    return std::nullopt;
}

QString InstalledShipDifference(const ShipPackage& loaded, const ShipPackage& now)
{
    QStringList what;
    if (loaded.Version != now.Version)
        what << QStringLiteral("version %1 is now %2").arg(loaded.Version, now.Version);
    if (loaded.Data != now.Data || loaded.ID != now.ID)
        what << QStringLiteral("its record changed");
    if (loaded.Enabled != now.Enabled)
        what << (now.Enabled ? QStringLiteral("it was enabled") : QStringLiteral("it was disabled"));
    if (!sameOptional(loaded.SceneFile, now.SceneFile) || !sameOptional(loaded.CockpitFile, now.CockpitFile) ||
        !sameFiles(loaded.Models, now.Models) || !sameFiles(loaded.Files, now.Files) ||
        !sameFiles(loaded.Scripts, now.Scripts) || loaded.ScreenShot != now.ScreenShot)
        what << QStringLiteral("its files changed");
    if (what.isEmpty() && (loaded.Texts.size() != now.Texts.size() || loaded.Comment != now.Comment ||
                           loaded.Dummies.size() != now.Dummies.size() ||
                           loaded.Cockpits != now.Cockpits))
        what << QStringLiteral("its texts or tables changed");
    return what.join(QStringLiteral(", "));
}

QList<PackageCheckProblem> CheckInstalledShipDraft(const QString& editModePath, const ShipDraft& draft,
                                                   const QString& programDir, const ShipPackage& loaded)
{
    const Plan plan = makePlan(loaded, draft, programDir);
    if (!plan.error.isEmpty())
        return {{QStringLiteral("file"), QString(), plan.error}};
    PackageCheckInput in;
    in.package = plan.ship;
    // A scene the record names may be one of the game's own.
    in.gameHasScene = GameSceneLookup(DecodeEditModePath(editModePath).gameDir);
    // A kept file is the installed one, whose size the registry holds.
    in.sizeOf = [](const PackageFile& f) -> qint64 {
        if (f.SourcePath.isEmpty())
            return f.Size;
        const QFileInfo info(f.SourcePath);
        return info.isFile() ? info.size() : -1;
    };
    if (!plan.ship.ScreenShot.isEmpty()) {
        QString source;
        for (const Step& s : plan.steps)
            if (s.place == Place::Picture && !s.remove)
                source = s.file.SourcePath;
        if (source.isEmpty())
            source = ResolveBelow(DecodeEditModePath(editModePath).gameDir + QStringLiteral("/Slipway"),
                                  QStringLiteral("ShipPics/") + plan.ship.ScreenShot);
        const QFileInfo pic(source);
        in.screenshotSize = pic.isFile() ? pic.size() : -1;
    }
    return CheckPackage(in);
}

EditModeSaveResult SaveInstalledShip(const QString& editModePath, const ShipDraft& draft,
                                     const QString& programDir, const ShipPackage& loaded)
{
    EditModeSaveResult r;
    const EditModeShip id = DecodeEditModePath(editModePath);
    const QString game = id.gameDir;
    if (game.isEmpty() || !QFileInfo(game).isDir()) {
        r.error = QStringLiteral("the game directory does not exist: ") + game;
        return r;
    }
    GameDirLock lock(game);
    QString holder;
    if (!lock.tryLock(&holder)) {
        r.refusal = lock.failure().isEmpty() ? EditModeSaveResult::Refusal::Held
                                             : EditModeSaveResult::Refusal::LockFailed;
        r.holder = lock.holder();
        r.lockError = lock.failureError();
        r.error = !lock.failure().isEmpty()
                      ? QStringLiteral("the game directory cannot be changed: ") + holder
                      : QStringLiteral("another program is changing the game directory (") + holder +
                            QStringLiteral("): close it and save again");
        return r;
    }
    QString report;
    if (GameChange::recover(game, &report, &r.rollback) < 0) {
        r.refusal = EditModeSaveResult::Refusal::RollbackFailed;
        r.rollbackReport = report;
        r.error = QStringLiteral("an unfinished change of the game directory cannot be undone: ") + report;
        return r;
    }
    ShipRegistry registry;
    RegistryReadStatus status;
    if (!ReadRegistry(game, registry, QString(), QString(), &status) || status.state != RegistryReadStatus::Whole) {
        r.error = QStringLiteral("the registry ") + game +
                  QStringLiteral("/Slipway/ships.dat does not read whole");
        return r;
    }
    qsizetype index = -1;
    for (qsizetype i = 0; i < registry.Ships.size(); ++i)
        if (!registry.Ships.at(i).Deleted && registry.Ships.at(i).Name == id.name &&
            registry.Ships.at(i).Author == id.author)
            index = i;
    if (index < 0) {
        r.outcome = EditModeSaveResult::Outcome::ChangedMeanwhile;
        r.error = QStringLiteral("%1 by %2 is no longer installed").arg(id.name, id.author);
        return r;
    }
    const ShipPackage old = registry.Ships.at(index);
    if (const QString changed = InstalledShipDifference(loaded, old); !changed.isEmpty()) {
        r.outcome = EditModeSaveResult::Outcome::ChangedMeanwhile;
        r.error = changed;
        return r;
    }
    Plan plan = makePlan(old, draft, programDir);
    if (plan.error.isEmpty())
        plan.error = collision(registry, index, plan.ship);
    // The registry keeps sizes as the package does: a larger file is refused first.
    if (plan.error.isEmpty())
        plan.error = OversizedPackageFile(plan.ship, programDir);
    if (!plan.error.isEmpty()) {
        r.error = plan.error;
        return r;
    }

    // The undo data's bound is the installer's setting, shared through config.dat.
    InstallerSettings installer;
    ReadInstallerSettings(programDir, installer);
    ChangeHistory::setLimits({installer.undoChanges, qint64(installer.undoMiB) << 20});
    // Declared first: the entry is written once the change below has committed.
    HistoryOperation operation(game, QStringLiteral("Edit ") + id.name);
    operation.setAction(QLatin1String(HistoryAction::Edit), {id.name});
    operation.addShip(id.name, registry.Buffer > 0 ? registry.Buffer + int(index) : -1);
    GameChange change(game);
    if (!change.ok()) {
        r.error = QStringLiteral("cannot start the change: ") + change.error();
        return r;
    }
    Writer writer(game, registry, old, change);
    bool ok = true;
    for (const Step& step : std::as_const(plan.steps))
        if (step.remove && !(ok = writer.run(step)))
            break;
    for (const Step& step : std::as_const(plan.steps))
        if (ok && !step.remove && !(ok = writer.run(step)))
            break;
    // The registry keeps no source paths.
    ShipPackage& ship = plan.ship;
    for (std::optional<PackageFile>* scene : {&ship.SceneFile, &ship.CockpitFile})
        if (*scene)
            (*scene)->SourcePath.clear();
    for (QList<PackageFile>* list : {&ship.Models, &ship.Files, &ship.Scripts})
        for (PackageFile& f : *list)
            f.SourcePath.clear();
    registry.Ships[index] = ship;
    QString why = writer.error;
    if (ok)
        ok = WriteRegistry(game, registry, QString(), QString(), &why);
    if (!ok) {
        change.rollback();
        r.error = why;
        return r;
    }
    if (!change.commit()) {
        r.error = change.error();
        return r;
    }
    r.outcome = EditModeSaveResult::Outcome::Saved;
    r.editModePath = EncodeEditModePath(game, ship.Name, ship.Author);
    return r;
}
