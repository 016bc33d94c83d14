// The loose files the installer places into the game directory: its own game
// scripts and the ships' screenshots as loading screens.
#include "installerengine.h"

#include "gamedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Reads a small file whole and writes it atomically, so that the game never
// sees half a script or half a picture.
bool copyWhole(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return false;
    return out.commit();
}

} // namespace

void InstallerEngine::installProgramScripts(const QString& gameDir)
{
    if (gameDir.isEmpty() || m_services.programDir.isEmpty())
        return;
    const QDir source(m_services.programDir + QStringLiteral("/Scripts"));
    const QStringList names =
        source.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Readable, QDir::Name);
    if (names.isEmpty())
        return;
    // "Scripts" and "scripts" are one folder to the game: reuse whichever exists.
    const QString folder = ResolvePath(gameDir, QStringLiteral("Scripts"));
    QDir().mkpath(folder);
    for (const QString& name : names) {
        const QString from = source.filePath(name);
        const QString to = ResolvePath(folder, name);
        log(QStringLiteral("(SCRIPTS) Installing script file: ") + from + QStringLiteral(", to: ") +
            to);
        if (!copyWhole(from, to))
            log(QStringLiteral("(SCRIPTS) Could not write script file: ") + to);
    }
}

void InstallerEngine::copyLoadingScreen(const ShipPackage& ship)
{
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString source = m_gameDir + QStringLiteral("/Slipway/ShipPics/") + ship.ScreenShot;
    if (!QFileInfo(source).isFile())
        return;
    const QString folder = ResolvePath(m_gameDir, QStringLiteral("loadscr"));
    QDir().mkpath(folder);
    copyWhole(source, ResolvePath(folder, ship.ScreenShot));
}

void InstallerEngine::removeLoadingScreen(const ShipPackage& ship)
{
    if (m_gameDir.isEmpty() || ship.ScreenShot.isEmpty())
        return;
    const QString copy = ResolvePath(m_gameDir, QStringLiteral("loadscr/") + ship.ScreenShot);
    if (QFileInfo(copy).isFile())
        QFile::remove(copy);
}

void InstallerEngine::copyAllLoadingScreens()
{
    // A disabled ship has no loading screen until it is enabled again.
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        if (ship.Deleted == 0 && ship.Enabled)
            copyLoadingScreen(ship);
}

void InstallerEngine::removeAllLoadingScreens()
{
    for (const ShipPackage& ship : std::as_const(m_registry.Ships))
        removeLoadingScreen(ship);
}
