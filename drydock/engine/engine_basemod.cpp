// The base mod: another mod's content carried into the Hullwright mod (standard
// mod) or into a numbered pair that the game always loads (fake patch).
#include "installerengine.h"

#include "safefile.h"

#include "arc.h"
#include "archivefile.h"
#include "fileutils.h"
#include "gamedir.h"
#include "sysregistry.h"
#include "uiseams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <vector>

namespace {

constexpr qint64 kDatBlock = 250000;

constexpr int kMaxFakePatch = 99;

QByteArray arcName(const QString& path)
{
    return QFile::encodeName(QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')));
}

// Keeps a catalogue open across many entry operations: each operation then finds
// it parsed instead of reading the whole catalogue text again.
class HeldCatalog
{
public:
    explicit HeldCatalog(const QString& path) : m_h(arc_open_catalog(arcName(path).constData(), 0))
    {
    }
    ~HeldCatalog()
    {
        if (m_h)
            arc_close_catalog(m_h);
    }
    HeldCatalog(const HeldCatalog&) = delete;
    HeldCatalog& operator=(const HeldCatalog&) = delete;

private:
    ArcCatalogHandle* m_h;
};

// True when another program (the game) holds the catalogue: the library then
// refuses every open with "access denied".
bool isLocked(const QString& catalog)
{
    if (catalog.isEmpty() || !QFileInfo(catalog).isFile())
        return false;
    ArcCatalogHandle* h = arc_open_catalog(arcName(catalog).constData(), 0);
    if (h) {
        arc_close_catalog(h);
        return false;
    }
    return arc_last_error() == ARC_E_ACCESS;
}

QString fakePatchNumber(int n)
{
    return n < 10 ? QStringLiteral("0%1").arg(n) : QString::number(n);
}

// Every catalogue name that an installed ship's files can have in the mod, upper
// case with backslashes: the listed name and the packed name it is stored under.
QSet<QString> shipOwnedEntries(const QList<ShipPackage>& ships)
{
    QSet<QString> owned;
    auto add = [&owned](const PackageFile& f) {
        QString name = f.Name;
        name.replace(QLatin1Char('/'), QLatin1Char('\\'));
        owned.insert(name.toUpper());
        owned.insert(PackedName(name, true).toUpper());
    };
    for (const ShipPackage& p : ships) {
        if (p.Deleted != 0)
            continue;
        if (p.SceneFile)
            add(*p.SceneFile);
        if (p.CockpitFile)
            add(*p.CockpitFile);
        for (const PackageFile& f : p.Models)
            add(f);
        for (const PackageFile& f : p.Files)
            add(f);
    }
    return owned;
}

// The whole pair in one go, for a target that does not exist yet: the catalogue
// and the data file copied whole. A failure is the caller's to roll back.
template <typename Log, typename Advance>
bool copyModPair(const QString& baseCat, const QString& baseDat, const QString& targetCat,
                 const QString& targetDat, Log log, Advance advance)
{
    QString why;
    if (!QFileInfo(baseDat).isFile()) {
        log(QStringLiteral("(CREATEMOD) Mod didn't copy, no data file: ") + baseDat);
        return false;
    }
    log(QStringLiteral("(CREATEMOD) Copying Cat file, ") + targetCat);
    if (!MakeDirChecked(QFileInfo(targetCat).absolutePath(), &why)) {
        log(QStringLiteral("(CREATEMOD) Mod didn't copy: ") + why);
        return false;
    }
    log(QStringLiteral("(CREATEMOD) Copying Dat file, ") + targetDat);
    // The data file is in place before its catalogue appears: the game, which may
    // read the pair at any moment, never finds a catalogue without its data.
    // The data file may be large: the progress bar moves with every block read.
    class CountedFile : public QFile
    {
    public:
        CountedFile(const QString& path, Advance& advance) : QFile(path), m_advance(advance) {}

    protected:
        qint64 readData(char* data, qint64 max) override
        {
            const qint64 n = QFile::readData(data, qMin<qint64>(max, kDatBlock));
            if (n > 0)
                m_advance(n);
            return n;
        }

    private:
        Advance& m_advance;
    } dat(baseDat, advance);
    if (!dat.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !WriteFileAtomic(targetDat, dat, &why) || !CopyFileChecked(baseCat, targetCat, &why)) {
        log(QStringLiteral("(CREATEMOD) Mod didn't copy: ") + why);
        return false;
    }
    return true;
}

} // namespace

QStringList InstallerEngine::baseModChoices()
{
    QStringList items{QStringLiteral(":: ") + installerText(14) + QStringLiteral(" ::")};
    if (!m_gameDir.isEmpty()) {
        const QDir mods(ResolvePath(m_gameDir, QStringLiteral("mods")));
        const QStringList cats =
            mods.entryList({QStringLiteral("*.cat")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
        for (const QString& cat : cats)
            if (cat.toLower() != QLatin1String("hullwright.cat"))
                items << cat.left(cat.lastIndexOf(QLatin1Char('.')));
    }
    if (m_baseMod.isEmpty() && m_services.systemRegistry)
        m_baseMod = m_services.systemRegistry->readString(QStringLiteral("/SKYWARD"),
                                                          QStringLiteral("/Vega/ModName"));
    if (!items.contains(m_baseMod))
        m_baseMod = items.first();
    return items;
}

bool InstallerEngine::selectBaseMod(const QString& name)
{
    // Two spellings of "no base mod" are the same choice.
    if (m_gameDir.isEmpty() || name == m_baseMod || (!isRealMod(name) && !isRealMod(m_baseMod)))
        return false;
    if (refusedForBrokenRegistry(QStringLiteral("(BASEMOD) ")))
        return false;
    // A name from the command line: only a mod pair in the mods folder, and never
    // the installer's own mod, which would be copied into itself.
    if (isRealMod(name) && (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
                            name == QLatin1String("..") ||
                            name.compare(QLatin1String(kModName), Qt::CaseInsensitive) == 0)) {
        log(QStringLiteral("Refusing base mod: ") + name);
        return false;
    }
    m_modChanged = true;
    for (ShipPackage& p : m_registry.Ships)
        p.Changed = false;
    m_previousBaseMod = m_baseMod;
    m_baseMod = name;
    log(QStringLiteral("Changed selected mod from: ") + m_previousBaseMod +
        QStringLiteral(", to: ") + name);
    if (m_services.status) {
        if (isRealMod(name))
            m_services.status->showStatus(sharedText(0) + QLatin1Char(' ') + name +
                                          QStringLiteral("..."));
        else
            m_services.status->showStatus(FormatText(installerText(27), m_previousBaseMod) +
                                          QStringLiteral("..."));
    }
    if (m_services.progress) {
        m_services.progress->setTotal(0);
        m_services.progress->setDone(0);
    }
    return true;
}

bool InstallerEngine::redoBaseMod()
{
    if (m_gameDir.isEmpty() || !isRealMod(m_baseMod) ||
        refusedForBrokenRegistry(QStringLiteral("(BASEMOD) ")))
        return false;
    m_modChanged = true;
    for (ShipPackage& p : m_registry.Ships)
        p.Changed = false;
    log(QStringLiteral("Changed selected mod from: ") + m_previousBaseMod +
        QStringLiteral(", to: ") + m_baseMod);
    if (m_services.status)
        m_services.status->showStatus(installerText(28) + QLatin1Char(' ') + m_baseMod +
                                      QStringLiteral("..."));
    if (m_services.progress) {
        m_services.progress->setTotal(0);
        m_services.progress->setDone(0);
    }
    return true;
}

bool InstallerEngine::baseModCarried() const
{
    if (m_gameDir.isEmpty() || !isRealMod(m_baseMod))
        return true;
    const QString baseCat = baseModFile(QStringLiteral(".cat"));
    if (baseCat.isEmpty())
        return false;
    // A base mod that is gone has nothing to carry; its tables are not read either.
    if (!QFileInfo(baseCat).isFile())
        return true;
    // Without its data file nothing of it can be read, and so nothing carried.
    if (!QFileInfo(baseModFile(QStringLiteral(".dat"))).isFile())
        return false;
    const QString target =
        m_registry.BaseFakePatch > 0
            ? ResolvePath(m_gameDir, fakePatchNumber(m_registry.BaseFakePatch) + QStringLiteral(".cat"))
            : modCatalog();
    if (!QFileInfo(target).isFile())
        return false;
    QSet<QString> held;
    for (const CatalogEntryInfo& e : ListCatalog(target))
        held.insert(e.name.toUpper());
    // A whole-pair copy keeps the names, a file-by-file copy stores them packed.
    for (const CatalogEntryInfo& e : ListCatalog(baseCat))
        if (!held.contains(e.name.toUpper()) && !held.contains(PackedName(e.name, true).toUpper()))
            return false;
    return true;
}

bool InstallerEngine::createMod()
{
    ProgressSink* progress = m_services.progress;
    auto finish = [this](bool ok) {
        if (m_services.status)
            m_services.status->showStatus(QString());
        return ok;
    };
    if (m_gameDir.isEmpty() || refusedForBrokenRegistry(QStringLiteral("(BASEMOD) ")))
        return finish(false);

    const QString modsDir = ResolvePath(m_gameDir, QStringLiteral("mods"));
    const QString hwCat = ResolvePath(modsDir, QLatin1String(kModName) + QStringLiteral(".cat"));
    const QString hwDat = ResolvePath(modsDir, QLatin1String(kModName) + QStringLiteral(".dat"));
    const bool baseReal = isRealMod(m_baseMod);
    const QString baseCat = baseModFile(QStringLiteral(".cat"));
    const QString baseDat = baseModFile(QStringLiteral(".dat"));
    auto fakeCat = [this](int n) {
        return ResolvePath(m_gameDir, fakePatchNumber(n) + QStringLiteral(".cat"));
    };
    auto fakeDat = [this](int n) {
        return ResolvePath(m_gameDir, fakePatchNumber(n) + QStringLiteral(".dat"));
    };
    const int oldPatch = m_registry.BaseFakePatch;

    // Everything that can stop the rebuild is settled before the first change, so
    // that a refusal leaves the mod, the fake patch and the registry as they were.
    auto refuse = [&](const QString& why) {
        log(QStringLiteral("(CREATEMOD) ") + why);
        m_baseMod = m_previousBaseMod;
        return finish(false);
    };
    if (baseReal && (baseCat.isEmpty() || baseDat.isEmpty()))
        return refuse(QStringLiteral("The base mod's name leads outside the mods folder, "
                                     "nothing changed: ") +
                      m_baseMod);
    const QStringList mustOpen = {hwCat, oldPatch > 0 ? fakeCat(oldPatch) : QString(), baseCat};
    for (const QString& cat : mustOpen)
        if (isLocked(cat))
            return refuse(QStringLiteral("Archive is locked by another program (is the game "
                                         "running?), nothing changed: ") +
                          cat);
    const bool fakePatch = baseReal && m_settings.baseType == 1;
    int patch = 0;
    if (fakePatch) {
        // The recorded fake patch is deleted below, so its number counts as free.
        for (int n = 1; n <= kMaxFakePatch && patch == 0; ++n)
            if (n == oldPatch || !QFileInfo::exists(fakeCat(n)))
                patch = n;
        if (patch == 0)
            return refuse(QStringLiteral("Every fake patch number from 01 to 99 is taken, "
                                         "nothing changed"));
    }

    // From here on the rebuild changes files: all of it, or nothing.
    Change change(*this, QStringLiteral("(CREATEMOD) "),
                  isRealMod(m_baseMod) ? QStringLiteral("Base mod ") + m_baseMod +
                                             (m_settings.baseType == 1 ? QStringLiteral(" (fake patch)")
                                                                       : QString())
                                       : QStringLiteral("No base mod"));
    if (isRealMod(m_baseMod))
        change.setAction(QLatin1String(HistoryAction::BaseMod),
                         m_settings.baseType == 1 ? QStringList{m_baseMod, QStringLiteral("fake")}
                                                  : QStringList{m_baseMod});
    else
        change.setAction(QLatin1String(HistoryAction::NoBaseMod));
    if (!change.ok())
        return finish(false);
    QString why;

    const bool oldContent = QFileInfo(hwCat).isFile() && isRealMod(m_previousBaseMod);
    qint64 total = baseReal ? QFileInfo(baseDat).size() : 0;
    if (oldContent)
        total += QFileInfo(hwDat).size();
    qint64 done = 0;
    auto advance = [&](qint64 bytes) {
        done += bytes;
        if (progress)
            progress->setDone(qMin(done, total));
    };
    if (progress) {
        progress->setTotal(total);
        progress->setDone(0);
    }

    // Without any record the mod holds nothing of the ships.
    if (m_registry.Ships.isEmpty()) {
        check(RemoveFileChecked(hwCat, &why) && RemoveFileChecked(hwDat, &why),
              QStringLiteral("(CREATEMOD) ") + why);
    }

    // The old fake patch goes; a new one is made below when wanted.
    if (oldPatch > 0) {
        check(RemoveFileChecked(fakeCat(oldPatch), &why) &&
                  RemoveFileChecked(fakeDat(oldPatch), &why),
              QStringLiteral("(CREATEMOD) ") + why);
        m_registry.BaseFakePatch = 0;
    }

    // Out with the old base mod's files; the ships' own files stay.
    if (QFileInfo(hwCat).isFile() && isRealMod(m_previousBaseMod)) {
        log(QStringLiteral("(CREATEMOD) Removing existing mod files"));
        const QSet<QString> owned = shipOwnedEntries(m_registry.Ships);
        HeldCatalog held(hwCat);
        for (const CatalogEntryInfo& e : ListCatalog(hwCat)) {
            if (owned.contains(e.name.toUpper()))
                continue;
            log(QStringLiteral("(CREATEMOD) Removing: ") + e.name +
                QStringLiteral(" from mod files"));
            check(RemoveArchiveFile(hwCat + QStringLiteral("::") + e.name),
                  QStringLiteral("(CREATEMOD) Cannot remove ") + e.name);
            advance(e.size);
        }
    }

    bool ok = true;
    if (baseReal) {
        const QString targetCat = fakePatch ? fakeCat(patch) : hwCat;
        const QString targetDat = fakePatch ? fakeDat(patch) : hwDat;
        if (!QFileInfo(baseCat).isFile()) {
            log(QStringLiteral("(CREATEMOD) Base mod not found: ") + baseCat);
        } else if (!QFileInfo(targetCat).isFile()) {
            ok = copyModPair(
                baseCat, baseDat, targetCat, targetDat, [this](const QString& line) { log(line); },
                advance);
            if (ok && fakePatch)
                m_registry.BaseFakePatch = patch;
        } else {
            // The target already holds ships: their own files win over the base mod's.
            const QSet<QString> owned = shipOwnedEntries(m_registry.Ships);
            HeldCatalog heldTarget(targetCat);
            HeldCatalog heldBase(baseCat);
            for (const CatalogEntryInfo& e : ListCatalog(baseCat)) {
                const QString destination = PackedName(e.name, true);
                if (owned.contains(destination.toUpper())) {
                    log(QStringLiteral("(CREATEMOD) Keeping ship file: ") + destination);
                    advance(e.size);
                    continue;
                }
                log(QStringLiteral("(CREATEMOD) Copying file to mod, ") + baseCat +
                    QStringLiteral("::") + e.name);
                if (!CopyArchiveFile(baseCat + QStringLiteral("::") + e.name,
                                     targetCat + QStringLiteral("::") + destination)) {
                    check(false, QStringLiteral("(CREATEMOD) Could not copy file to mod: ") + e.name);
                    ok = false;
                }
                advance(e.size);
            }
        }
    }

    // The mod now holds the current base mod's files: a redo removes them first.
    m_previousBaseMod = m_baseMod;
    if (!saveRegistry()) {
        log(QStringLiteral("(CREATEMOD) Could not save the ship registry"));
        ok = false;
    }
    if (!ok)
        change.failed(QStringLiteral("the mod was not rebuilt completely"));
    if (!change.commit()) {
        m_baseMod = m_previousBaseMod;
        return finish(false);
    }
    return finish(true);
}
