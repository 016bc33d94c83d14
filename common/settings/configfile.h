// The layout of config.dat, shared by both programs: a <common> block (the UI
// language), the authoring program's <creator> block and the installer's
// <installer> block. Each program rewrites <common> and its own block and copies
// every other line unchanged, so the other program's block survives byte for byte.
// The block names are stored in users' files: do not rename them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

enum class ConfigBlock { Creator, Installer };

// "<program dir>/config.dat".
QString ConfigPath(const QString& programDir);

// The lines inside <common> and the own block, in file order, without line ends.
// One "inside" flag is opened by either marker and closed by either end marker.
QStringList ConfigBlockLines(const QByteArray& text, ConfigBlock own);

// The new file: <common> with the language, the own block with ownLines, then
// every old line outside <common> and the own block (markers not copied). Values
// must already be one line each; line breaks in the language become blanks.
QByteArray ConfigText(ConfigBlock own, const QString& language, const QStringList& ownLines,
                      const QByteArray& oldText);

// The most a settings file may hold: far beyond what the programs write.
inline constexpr qint64 kMaxConfigBytes = 4 << 20;
// The file's bytes; a missing file is empty text and true. False (the reason in
// `error`) when the file exists but cannot be read, is not a regular file (a FIFO,
// a device) or is larger than kMaxConfigBytes.
bool ReadConfigFile(const QString& programDir, QByteArray* text, QString* error = nullptr);
// Re-reads the file, builds the new text from the old one and replaces the file
// atomically. False (and the file untouched) when the old file cannot be read,
// since its other blocks would be lost, or when the new one cannot be written.
bool RewriteConfigFile(const QString& programDir,
                       const std::function<QByteArray(const QByteArray& oldText)>& build,
                       QString* error = nullptr);

// Splitting a key line: the key is the text before the first blank, the value
// everything after it (empty without a blank).
QString ConfigKey(const QString& line);
QString ConfigValue(const QString& line);
// The second blank-separated word ("BaseLang: 49 x" -> "49").
QString ConfigWord(const QString& line);
// A line break inside a value would end its line early and smuggle in lines of
// its own (a flag line, a foreign block marker).
bool IsOneLineValue(const QString& value);
