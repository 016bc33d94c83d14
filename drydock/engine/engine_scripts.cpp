// The loose files the installer places into the game directory: its own game
// scripts and the ships' screenshots as loading screens.
#include "installerengine.h"

#include "gamedir.h"
#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>


void InstallerEngine::installProgramScripts(const QString& gameDir)
{
    if (gameDir.isEmpty() || m_services.programDir.isEmpty())
        return;
    const QDir source(m_services.programDir + QStringLiteral("/Scripts"));
    const QStringList names =
        source.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Readable, QDir::Name);
    if (names.isEmpty())
        return;
    // Only the selected game directory is ours to journal; the others just get the copies.
    std::optional<Change> change;
    const ConfinedFolder confined(gameDir);
    if (QDir(gameDir) == QDir(m_gameDir))
        change.emplace(*this, QStringLiteral("(SCRIPTS) "));
    // "Scripts" and "scripts" are one folder to the game: reuse whichever exists.
    const QString folder = ResolvePath(gameDir, QStringLiteral("Scripts"));
    QString why;
    if (!check(MakeDirChecked(folder, &why), QStringLiteral("(SCRIPTS) ") + why))
        return;
    for (const QString& name : names) {
        const QString from = source.filePath(name);
        const QString to = ResolvePath(folder, name);
        log(QStringLiteral("(SCRIPTS) Installing script file: ") + from + QStringLiteral(", to: ") +
            to);
        check(CopyFileChecked(from, to, &why),
              QStringLiteral("(SCRIPTS) Could not write script file: ") + why);
    }
    if (change)
        change->commit();
}

void InstallerEngine::copyLoadingScreen(const ShipPackage& ship)
{
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString source = m_gameDir + QStringLiteral("/Slipway/ShipPics/") + ship.ScreenShot;
    if (!QFileInfo(source).isFile())
        return;
    const QString folder = ResolvePath(m_gameDir, QStringLiteral("loadscr"));
    QString why;
    check(MakeDirChecked(folder, &why) &&
              CopyFileChecked(source, ResolvePath(folder, ship.ScreenShot), &why),
          QStringLiteral("(SCRIPTS) Cannot copy the loading screen: ") + why);
}

void InstallerEngine::removeLoadingScreen(const ShipPackage& ship)
{
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString copy = ResolvePath(m_gameDir, QStringLiteral("loadscr/") + ship.ScreenShot);
    QString why;
    check(RemoveFileChecked(copy, &why), QStringLiteral("(SCRIPTS) ") + why);
}

void InstallerEngine::copyAllLoadingScreens()
{
    Change change(*this, QStringLiteral("(SCRIPTS) "));
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
    Change change(*this, QStringLiteral("(SCRIPTS) "));
    if (!change.ok())
        return;
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        removeLoadingScreen(ship);
    change.commit();
}
