// Stand-in for the system registry values the programs read and write (where the
// game is installed, which mod it loads). Windows uses the native registry;
// elsewhere an INI file "registry.ini" in the program folder holds one group per
// search path, so the same code runs and tests can point it at a temporary file.
#pragma once

#include <QString>

#include <memory>

class SystemRegistry
{
public:
    virtual ~SystemRegistry() = default;
    // searchPath like "/Starfall", key like "/Vega Concord/INSTALL_DIR". Both use
    // the registry's path rules: "/" and "\" separate subkeys, empty parts do not
    // count, and names are matched without regard to case. The last part of the
    // key is the value name. Missing values read as the empty text.
    virtual QString readString(const QString& searchPath, const QString& key) const = 0;
    // False when the value could not be stored (no access, unwritable file).
    virtual bool writeString(const QString& searchPath, const QString& key,
                             const QString& value) = 0;
    // Why the last call failed or read nothing from a store that is there but
    // unusable, for the user; empty when there is nothing to say.
    virtual QString errorString() const { return QString(); }
};

// An INI-file registry at the given path (created on first write). The search path
// is the section, the key's subkeys stay "/"-separated below it:
//   [Starfall]
//   Vega Concord/INSTALL_DIR=/home/player/vega
// Values follow the INI escaping of QSettings: a backslash is written "\\", and a
// value holding a comma is quoted when written by the program.
std::unique_ptr<SystemRegistry> CreateIniRegistry(const QString& iniPath);
// The platform's registry: native on Windows, <programDir>/registry.ini elsewhere.
std::unique_ptr<SystemRegistry> CreateSystemRegistry(const QString& programDir);
// Where CreateSystemRegistry keeps its values, for messages to the user.
QString SystemRegistryLocation(const QString& programDir);
