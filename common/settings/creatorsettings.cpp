#include "creatorsettings.h"

#include "configfile.h"
#include "gamedir.h"

namespace {

// Key lines whose value is everything after the first blank, in the order written.
struct PathKey
{
    const char* key;
    QString CreatorSettings::*value;
};

const PathKey kPathKeys[] = {
    {"ModDir:", &CreatorSettings::modDir},
    {"ModelDir:", &CreatorSettings::modelDir},
    {"SaveDir:", &CreatorSettings::saveDir},
    {"TypeDir:", &CreatorSettings::typeDir},
    {"TextDir:", &CreatorSettings::textDir},
    {"BodcompDir:", &CreatorSettings::bodcompPath},
    {"ScriptDir:", &CreatorSettings::scriptDir},
    {"DefAuthor:", &CreatorSettings::defaultAuthor},
    {"DefWeb:", &CreatorSettings::defaultWeb},
    {"DefMirror1:", &CreatorSettings::defaultMirror1},
    {"DefMirror2:", &CreatorSettings::defaultMirror2},
};

QString oneLine(QString value)
{
    return value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

} // namespace

void ParseCreatorSettings(const QByteArray& text, CreatorSettings& settings)
{
    settings = CreatorSettings();
    for (const QString& line : ConfigBlockLines(text, ConfigBlock::Creator)) {
        const QString key = ConfigKey(line);
        if (key == QLatin1String("Language:")) {
            settings.language = ConfigWord(line);
            settings.languageChosen = !settings.language.isEmpty();
        } else if (key == QLatin1String("BaseLang:")) {
            settings.baseLanguage = ConfigWord(line);
        } else if (key == QLatin1String("VegaDir:")) {
            const QString dir = ConfigValue(line);
            if (IsValidGameDir(dir) && settings.gameDirs.size() < GameDirList::kMax)
                settings.gameDirs.append(dir);
        } else if (line == QLatin1String("BODCOMP")) {
            settings.bodcomp = true;
        } else if (line == QLatin1String("Prefix")) {
            settings.prefixNames = true;
        } else if (line == QLatin1String("NoText")) {
            settings.getTextOnStart = false;
        } else if (line == QLatin1String("NoTextT")) {
            settings.looseTextFolder = false;
        } else if (line == QLatin1String("SaveWeb")) {
            settings.saveWeb = true;
        } else if (line == QLatin1String("FastSave")) {
            settings.fastSave = true;
        } else {
            for (const PathKey& k : kPathKeys)
                if (key == QLatin1String(k.key))
                    settings.*k.value = ConfigValue(line);
        }
    }
    if (settings.language.isEmpty())
        settings.language = QStringLiteral("English");
}

QByteArray CreatorSettingsText(const CreatorSettings& settings, const QByteArray& oldText)
{
    QStringList lines;
    for (const QString& dir : settings.gameDirs)
        if (IsOneLineValue(dir))
            lines << QStringLiteral("VegaDir: ") + dir;
    // The file's order puts BaseLang between ModDir and ModelDir.
    lines << QStringLiteral("ModDir: ") + oneLine(settings.modDir);
    lines << QStringLiteral("BaseLang: ") + oneLine(settings.baseLanguage);
    for (const PathKey& k : kPathKeys)
        if (k.value != &CreatorSettings::modDir)
            lines << QLatin1String(k.key) + QLatin1Char(' ') + oneLine(settings.*k.value);
    if (settings.bodcomp)
        lines << QStringLiteral("BODCOMP");
    if (settings.prefixNames)
        lines << QStringLiteral("Prefix");
    if (!settings.getTextOnStart)
        lines << QStringLiteral("NoText");
    if (!settings.looseTextFolder)
        lines << QStringLiteral("NoTextT");
    if (settings.saveWeb)
        lines << QStringLiteral("SaveWeb");
    // After the older flags: a reader that does not know it passes over it.
    if (settings.fastSave)
        lines << QStringLiteral("FastSave");
    return ConfigText(ConfigBlock::Creator, settings.language, lines, oldText);
}

bool ReadCreatorSettings(const QString& programDir, CreatorSettings& settings)
{
    QByteArray text;
    const bool read = ReadConfigFile(programDir, &text);
    ParseCreatorSettings(text, settings);
    return read;
}

bool WriteCreatorSettings(const QString& programDir, const CreatorSettings& settings,
                          QString* error)
{
    return RewriteConfigFile(
        programDir,
        [&settings](const QByteArray& oldText) { return CreatorSettingsText(settings, oldText); },
        error);
}
