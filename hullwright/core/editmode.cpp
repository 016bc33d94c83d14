#include "editmode.h"

#include "archivefile.h"
#include "commandline.h"
#include "gamechange.h"
#include "packagebuild.h"
#include "registry.h"
#include "safefile.h"
#include "xspfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {

QString packaged(const QString& name)
{
    return QLatin1String(kPackagePrefix) + name;
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

class Writer
{
public:
    Writer(const QString& gameDir, const ShipRegistry& registry, const ShipPackage& ship)
        : m_game(gameDir), m_registry(registry), m_ship(ship)
    {
        // The ship's own old files must not keep its new ones out.
        for (const ShipPackage& p : registry.Ships)
            if (!p.sameShip(ship))
                m_others << p;
    }
    QString error;

    bool removeOld(const QString& name)
    {
        if (IsFileUsedElsewhere(&m_registry.Ships, name, m_ship, KindModel))
            return true;
        QString why;
        if (m_ship.Enabled) {
            if (RemoveArchiveFile(catalog() + QStringLiteral("::") + name))
                return true;
            return fail(QStringLiteral("cannot remove ") + name + QStringLiteral(" from ") + catalog());
        }
        return RemoveFileChecked(m_game + QStringLiteral("/Slipway/") + name, &why) || fail(why);
    }

    bool addNew(const PackageFile& entry)
    {
        if (!IsSafeEntryName(entry.Name))
            return fail(QStringLiteral("refused file name ") + entry.Name);
        if (!IsFileWanted(&m_others, entry, KindModel))
            return true;
        if (m_ship.Enabled) {
            QFile source(entry.SourcePath);
            if (EnsureCatalog(catalog()) &&
                AddArchiveFile(source, catalog() + QStringLiteral("::") + entry.Name, true))
                return true;
            return fail(QStringLiteral("cannot add ") + entry.SourcePath + QStringLiteral(" to ") +
                        catalog() + QStringLiteral(": ") + ArchiveErrorMessage(LastArchiveError()));
        }
        const QString target = m_game + QStringLiteral("/Slipway/") + entry.Name;
        QString why;
        return (MakeDirChecked(QFileInfo(target).absolutePath(), &why) &&
                CopyFileChecked(entry.SourcePath, target, &why)) ||
               fail(why);
    }

private:
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
    QList<ShipPackage> m_others;
};

} // namespace

std::optional<ShipPackage> LoadInstalledShip(const QString& editModePath)
{
    const EditModeShip id = DecodeEditModePath(editModePath);
    ShipRegistry registry;
    if (!QFileInfo(id.gameDir).isDir() || !ReadRegistry(id.gameDir, registry))
        return std::nullopt;
    for (const ShipPackage& p : registry.Ships)
        if (!p.Deleted && p.Name == id.name && p.Author == id.author)
            return p;
    return std::nullopt;
}

EditModeSaveResult SaveInstalledShip(const QString& editModePath, const ShipDraft& draft,
                                     const QString& programDir)
{
    EditModeSaveResult r;
    const EditModeShip id = DecodeEditModePath(editModePath);
    const QString game = id.gameDir;
    if (!QFileInfo(game).isDir()) {
        r.error = QStringLiteral("the game directory does not exist: ") + game;
        return r;
    }
    GameDirLock lock(game);
    QString holder;
    if (!lock.tryLock(&holder)) {
        r.error = !lock.failure().isEmpty()
                      ? QStringLiteral("the game directory cannot be changed: ") + holder
                      : QStringLiteral("another program is changing the game directory (") + holder +
                            QStringLiteral("): close it and save again");
        return r;
    }
    QString report;
    if (GameChange::recover(game, &report) < 0) {
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
        r.error = QStringLiteral("no installed ship ") + id.name + QStringLiteral(" by ") + id.author;
        return r;
    }

    GameChange change(game);
    if (!change.ok()) {
        r.error = QStringLiteral("cannot start the change: ") + change.error();
        return r;
    }
    const ShipPackage old = registry.Ships.at(index);
    ShipPackage ship = old;
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

    Writer writer(game, registry, old);
    QString why;
    bool ok = true;
    if (!draft.picture.isEmpty() && !draft.picture.startsWith(QLatin1String("<PACKAGE>"))) {
        QString stem = ship.Name + QLatin1Char('-') + ship.Author;
        stem.remove(QLatin1Char(' ')).remove(QLatin1Char('/'));
        const QString file = stem + QLatin1Char('.') + QFileInfo(draft.picture).suffix();
        ok = MakeDirChecked(game + QStringLiteral("/Slipway/ShipPics"), &why) &&
             CopyFileChecked(draft.picture, game + QStringLiteral("/Slipway/ShipPics/") + file, &why);
        ship.ScreenShot = file;
    }

    // A scene or model row still in "<PACKAGE>/" form is the installed file; any
    // other row is a file the user chose, which replaces it.
    auto replaceScene = [&](std::optional<PackageFile>& slot, const QString& row,
                            const std::optional<PackageFile>& fresh) {
        if (slot && row == packaged(slot->Name))
            return true;
        if (slot && !writer.removeOld(slot->Name))
            return false;
        slot = fresh;
        if (slot) {
            if (!writer.addNew(*slot))
                return false;
            slot->SourcePath.clear();
        }
        return true;
    };
    ok = ok && replaceScene(ship.SceneFile, draft.sceneFile, built.SceneFile) &&
         replaceScene(ship.CockpitFile, draft.cockpitFile, built.CockpitFile);

    // Old files go first, so that a new file of the same name is not removed again.
    const QStringList rows = DraftTreeFiles(draft.models);
    for (const PackageFile& f : old.Models)
        if (!rows.contains(packaged(f.Name)))
            ok = ok && writer.removeOld(f.Name);
    QList<PackageFile> models;
    for (const DraftFolder& folder : draft.models)
        for (const QString& row : folder.files) {
            for (const PackageFile& f : old.Models)
                if (row == packaged(f.Name))
                    models << f;
            if (row.startsWith(QLatin1String("<PACKAGE>")) || !QFileInfo(row).isFile())
                continue;
            QString name = folder.dir + QLatin1Char('/') + QFileInfo(row).fileName();
            while (name.contains(QLatin1String("//")))
                name.replace(QLatin1String("//"), QLatin1String("/"));
            PackageFile entry = newEntry(row, name);
            ok = ok && writer.addNew(entry);
            entry.SourcePath.clear();
            models << entry;
        }
    ship.Models = models;
    registry.Ships[index] = ship;

    if (ok)
        ok = WriteRegistry(game, registry, QString(), QString(), &why);
    else
        why = writer.error.isEmpty() ? why : writer.error;
    if (!ok) {
        change.rollback();
        r.error = why;
        return r;
    }
    if (!change.commit()) {
        r.error = change.error();
        return r;
    }
    r.ok = true;
    return r;
}
