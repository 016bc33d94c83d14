// The loose files the installer places into the game directory: its own game
// scripts and the ships' screenshots as loading screens.
#include "installerengine.h"

#include "gamechange.h"
#include "gamedir.h"
#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>


namespace {

// Same size and bytes: rewriting it would only add a step to the change.
bool sameFile(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (fa.size() != fb.size() || !fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    while (!fa.atEnd())
        if (fa.read(64 * 1024) != fb.read(64 * 1024))
            return false;
    return true;
}

} // namespace

bool InstallerEngine::installProgramScripts(const QString& gameDir)
{
    const QString tag = QStringLiteral("(SCRIPTS) ");
    if (gameDir.isEmpty() || m_services.programDir.isEmpty())
        return true;
    const QDir source(m_services.programDir + QStringLiteral("/Scripts"));
    const QStringList names =
        source.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Readable, QDir::Name);
    // "Scripts" and "scripts" are one folder to the game: reuse whichever exists.
    const QString folder = ResolvePath(gameDir, QStringLiteral("Scripts"));
    QStringList wanted;
    for (const QString& name : names)
        if (!sameFile(source.filePath(name), ResolvePath(folder, name)))
            wanted << name;
    if (wanted.isEmpty())
        return true;

    // The selected directory's change runs under the lock this engine holds; any
    // other known directory gets its own lock and journal for the copy.
    const bool selected = !m_gameDir.isEmpty() && QDir(gameDir) == QDir(m_gameDir);
    std::optional<Change> change;
    std::unique_ptr<GameDirLock> lock;
    std::unique_ptr<GameChange> journal;
    if (selected) {
        change.emplace(*this, tag, QStringLiteral("Program scripts"));
        if (!change->ok())
            return false;
    } else {
        if (m_change) {
            log(tag + QStringLiteral("Another change is open, scripts not installed in ") + gameDir);
            return false;
        }
        lock = std::make_unique<GameDirLock>(gameDir);
        QString holder;
        if (!lock->tryLock(&holder)) {
            log(tag + gameDir + QStringLiteral(" is being changed by ") + holder +
                QStringLiteral(", scripts not installed"));
            return false;
        }
        QString report;
        const int recovered = GameChange::recover(gameDir, &report);
        if (recovered != 0)
            log(QStringLiteral("(JOURNAL) ") + report);
        if (recovered < 0)
            return false;
        journal = std::make_unique<GameChange>(gameDir);
        journal->setLabel(QStringLiteral("Program scripts"));
        if (!journal->ok()) {
            log(tag + QStringLiteral("Cannot start the change in ") + gameDir +
                QStringLiteral(": ") + journal->error());
            return false;
        }
    }

    QString failure;
    auto step = [&](bool ok, const QString& what) {
        if (!ok && failure.isEmpty())
            failure = what;
        if (!ok)
            log(what);
        return ok;
    };
    QString why;
    if (step(MakeDirChecked(folder, &why), tag + why)) {
        for (const QString& name : std::as_const(wanted)) {
            const QString from = source.filePath(name);
            const QString to = ResolvePath(folder, name);
            log(tag + QStringLiteral("Installing script file: ") + from + QStringLiteral(", to: ") +
                to);
            if (!step(CopyFileChecked(from, to, &why),
                      tag + QStringLiteral("Could not write script file: ") + why))
                break;
        }
    }
    if (selected) {
        if (!failure.isEmpty())
            change->failed(failure);
        return change->commit();
    }
    if (!failure.isEmpty()) {
        journal->rollback();
        log(tag + QStringLiteral("Nothing was changed in ") + gameDir);
        return false;
    }
    if (!journal->commit()) {
        log(tag + QStringLiteral("Nothing was changed in ") + gameDir + QStringLiteral(": ") +
            journal->error());
        return false;
    }
    return true;
}

bool InstallerEngine::installProgramScriptsEverywhere()
{
    QStringList dirs = m_settings.installDirs;
    if (!m_gameDir.isEmpty() && !dirs.contains(m_gameDir))
        dirs.append(m_gameDir);
    bool ok = true;
    for (const QString& dir : std::as_const(dirs))
        ok = installProgramScripts(dir) && ok;
    return ok;
}

void InstallerEngine::copyLoadingScreen(const ShipPackage& ship)
{
    const QString tag = QStringLiteral("(SCRIPTS) ");
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString source = gameFile(QStringLiteral("Slipway/ShipPics"), ship.ScreenShot, tag);
    if (source.isEmpty() || !QFileInfo(source).isFile())
        return;
    const QString folder = ResolvePath(m_gameDir, QStringLiteral("loadscr"));
    QString why;
    if (!check(MakeDirChecked(folder, &why), tag + QStringLiteral("Cannot copy the loading screen: ") + why))
        return;
    const QString target = gameFile(QStringLiteral("loadscr"), ship.ScreenShot, tag);
    if (target.isEmpty())
        return;
    check(CopyFileChecked(source, target, &why),
          tag + QStringLiteral("Cannot copy the loading screen: ") + why);
}

void InstallerEngine::removeLoadingScreen(const ShipPackage& ship)
{
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString copy = gameFile(QStringLiteral("loadscr"), ship.ScreenShot,
                                  QStringLiteral("(SCRIPTS) "));
    if (copy.isEmpty())
        return;
    QString why;
    check(RemoveFileChecked(copy, &why), QStringLiteral("(SCRIPTS) ") + why);
}

void InstallerEngine::copyAllLoadingScreens()
{
    Change change(*this, QStringLiteral("(SCRIPTS) "), QStringLiteral("Loading screens on"));
    change.setAction(QLatin1String(HistoryAction::LoadingScreensOn));
    if (!change.ok())
        return;
    // A disabled ship has no loading screen until it is enabled again.
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        if (ship.Deleted == 0 && ship.Enabled)
            copyLoadingScreen(ship);
    change.commit();
}

void InstallerEngine::removeAllLoadingScreens()
{
    Change change(*this, QStringLiteral("(SCRIPTS) "), QStringLiteral("Loading screens off"));
    change.setAction(QLatin1String(HistoryAction::LoadingScreensOff));
    if (!change.ok())
        return;
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        removeLoadingScreen(ship);
    change.commit();
}
