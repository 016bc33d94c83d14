// Every copy of the game on this machine, and which registry each one reads.
// On Linux the game runs under Wine, or Proton from a Steam library: it reads its
// selected mod from the registry files of its prefix, not from any file of ours.
//
// Every location is a parameter; ProcessDiscoveryEnvironment() is for the
// programs' entry points only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class SystemRegistry;

struct DiscoveryEnvironment
{
    QString home;       // the user's home folder; empty: no Steam or Wine look-up
    QString winePrefix; // WINEPREFIX, may be empty
    QString dataHome;   // XDG_DATA_HOME; empty: home/.local/share
    // One line for every file or folder skipped, with the reason.
    std::function<void(const QString&)> log;
};
// HOME, WINEPREFIX and XDG_DATA_HOME of this process; nothing on Windows, where
// the native registry is the game's own.
DiscoveryEnvironment ProcessDiscoveryEnvironment();

struct GameInstall
{
    QString dir;    // holds vega.exe; "/" separators
    QString prefix; // the Wine or Proton prefix whose registry the game reads; empty: none
};

// In this order, each directory once (links resolved): the system registry's
// look-up (DiscoverGameDir); the game folder "steamapps/common/vega - concord" of
// every Steam library (the default Steam roots, the Flatpak one, every library
// their libraryfolders.vdf lists), with the Proton prefix of the library's
// manifest for that folder; then the prefixes WINEPREFIX and ~/.wine whose
// registry names the game (the publisher's install value, or Steam for Windows
// inside the prefix). Files that do not read are skipped with a log line.
QList<GameInstall> DiscoverGameInstalls(const SystemRegistry* registry,
                                        const DiscoveryEnvironment& env);

// The prefix a game directory belongs to, from its path: the prefix whose drive_c
// holds it, or for a game in a Steam library the compatdata prefix that the
// library's manifest gives its folder. Empty when there is none.
QString PrefixOfGameDir(const QString& gameDir,
                        const std::function<void(const QString&)>& log = {});
// The prefix of a found install first (a prefix may name a game outside its
// drive_c), else PrefixOfGameDir().
QString FindGamePrefix(const QString& gameDir, const QList<GameInstall>& found);

// A Windows path as the prefix maps it: the drive's link in dosdevices, else C: to
// drive_c and Z: to "/"; then matched against what exists without regard to case.
// Empty when the path maps to nothing.
QString WinePathToLocal(const QString& prefix, const QString& windowsPath);

// The registry a game reads: its prefix's files, else CreateSystemRegistry().
std::unique_ptr<SystemRegistry> CreateGameRegistry(const QString& programDir,
                                                   const QString& prefix);
// A registry that forwards each call to the registry of the game directory
// currentGameDir() names at that moment (the platform's own while none is
// selected); prefixOf maps a game directory to its prefix.
std::unique_ptr<SystemRegistry>
CreateCurrentGameRegistry(const QString& programDir, std::function<QString()> currentGameDir,
                          std::function<QString(const QString&)> prefixOf);

// Steam's key/value text (libraryfolders.vdf, appmanifest_*.acf). Nesting and the
// number of entries are capped.
struct VdfNode
{
    QString key;
    QString value;
    bool isObject = false;
    QList<VdfNode> children;
    // The first child of that key, without regard to case; null when none.
    const VdfNode* child(const QString& name) const;
};
bool ParseVdf(const QByteArray& text, VdfNode* root, QString* error);
