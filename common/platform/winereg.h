// The registry of a Wine (or Proton) prefix: the text files system.reg (the
// machine branch) and user.reg that the prefix's wine server loads when it starts
// and writes back from memory while and after it runs. A Windows game run in the
// prefix reads its values from there.
#pragma once

#include "sysregistry.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// One registry file, edited in place: a change rewrites only the lines of the
// value it sets (or appends one section for a new key); every other byte stays.
// Key paths use "\" between the names, relative to the file's root
// ("Software\\Valve\\Steam" in system.reg); names are matched without regard to case.
class WineRegFile
{
public:
    // False, with the line that does not read, when the text is not a whole
    // registry file. Such a file must never be written back.
    bool parse(const QByteArray& text, QString* error = nullptr);
    const QByteArray& text() const { return m_text; }
    // The "#arch=" header line; files without one are 64-bit when they hold the
    // 32-bit view's key.
    bool is64Bit() const;
    // A string value (also an expandable one); `found` tells a missing value or one
    // of another type from an empty string.
    QString readString(const QString& keyPath, const QString& name, bool* found = nullptr) const;
    // Sets a string value, replacing a value of that name of any type; a missing
    // key is appended as a new section stamped with `unixTime`. Only after parse().
    void setString(const QString& keyPath, const QString& name, const QString& value,
                   qint64 unixTime);

    // The file's escaping of names and string data ("\\", "\"", "\n", "\x263a").
    static QByteArray escape(const QString& text, char quote1, char quote2);

private:
    struct Value
    {
        QString name;           // "" for the default value "@"
        qsizetype line = 0;     // offset of the line
        qsizetype dataBegin = 0; // just after "="
        qsizetype end = 0;      // end of the last line, before its line break
        bool isString = false;
        qsizetype stringBegin = 0, stringEnd = 0; // the quoted data, quotes excluded
    };
    struct Section
    {
        QString folded; // the path, case-folded
        qsizetype insertAt = 0; // after the section's last line that is not blank
        QList<Value> values;
    };
    const Section* findSection(const QString& keyPath) const;
    static const Value* findValue(const Section& s, const QString& name);

    QByteArray m_text;
    QList<Section> m_sections;
    QByteArray m_eol = "\n";
    int m_arch = 0; // 32, 64, or 0 when the file does not say
    bool m_hasWow64Key = false;
};

// Reads a registry file whole, refusing one too large to be a registry.
bool LoadWineRegFile(const QString& path, WineRegFile* file, QString* error);

// Whether the wine server of a prefix runs. `detail` says what was found.
using WineServerCheck = std::function<bool(const QString& prefix, QString* detail)>;
// The server keeps an fcntl lock on <serverRoot>/server-<dev>-<inode>/lock for as
// long as it runs, where dev and inode are those of the prefix folder (lower-case
// hex); a socket left behind by a crash holds no lock. serverRoot empty:
// /tmp/.wine-<uid>. A lock file that exists but cannot be probed counts as running.
bool WineServerRunning(const QString& serverRoot, const QString& prefix, QString* detail);
WineServerCheck DefaultWineServerCheck(const QString& serverRoot = QString());

// The machine registry of a prefix (its system.reg) as the SystemRegistry the
// programs use: HKEY_LOCAL_MACHINE\Software in the 32-bit view (the game and its
// installers are 32-bit; in a 64-bit prefix that view is Software\Wow6432Node).
// Writes are refused while the prefix's server runs (it would put its own copy
// back on exit) and when system.reg is missing or does not read whole.
// `check` empty: DefaultWineServerCheck(); `clock` empty: the current time.
std::unique_ptr<SystemRegistry> CreateWinePrefixRegistry(const QString& prefix,
                                                         WineServerCheck check = {},
                                                         std::function<qint64()> clock = {});
