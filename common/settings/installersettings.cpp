#include "installersettings.h"

#include "configfile.h"
#include "gamedir.h"

#include <algorithm>

namespace {

// A value that is not a decimal number keeps the default instead of becoming 0.
void readInt(const QString& value, int& target)
{
    bool ok = false;
    const int n = value.trimmed().toInt(&ok, 10);
    if (ok)
        target = n;
}

} // namespace

void ParseInstallerSettings(const QByteArray& text, InstallerSettings& settings)
{
    settings = InstallerSettings();
    for (const QString& line : ConfigBlockLines(text, ConfigBlock::Installer)) {
        const QString key = ConfigKey(line);
        const QString value = ConfigValue(line);
        if (key == QLatin1String("Language:")) {
            settings.language = ConfigWord(line);
            settings.languageChosen = !settings.language.isEmpty();
        } else if (key == QLatin1String("InstallDir:")) {
            if (IsValidGameDir(value))
                settings.installDirs.append(value);
        } else if (key == QLatin1String("Text_Option:")) {
            readInt(value, settings.textOption);
        } else if (key == QLatin1String("Text_Select:")) {
            readInt(value, settings.textSelect);
        } else if (key == QLatin1String("Text_Custom:")) {
            readInt(value, settings.textCustom);
        } else if (key == QLatin1String("BaseType:")) {
            readInt(value, settings.baseType);
        } else if (key == QLatin1String("UndoChanges:")) {
            readInt(value, settings.undoChanges);
            settings.undoChanges = std::max(0, settings.undoChanges);
        } else if (key == QLatin1String("UndoMiB:")) {
            readInt(value, settings.undoMiB);
            settings.undoMiB = std::max(0, settings.undoMiB);
        } else if (key == QLatin1String("LastFolder:")) {
            settings.lastFolder = value;
        } else if (key == QLatin1String("UpdateMirror:")) {
            if (!value.trimmed().isEmpty())
                settings.updateMirrors.append(value.trimmed());
        } else if (line == QLatin1String("NoUninstallConfirm")) {
            settings.confirmUninstall = false;
        } else if (line == QLatin1String("NoDisableConfirm")) {
            settings.confirmDisable = false;
        } else if (line == QLatin1String("NoLoadScr")) {
            settings.loadingScreens = false;
        } else if (line == QLatin1String("DebugLog")) {
            settings.debugLog = true;
        } else if (line == QLatin1String("PreviewChanges")) {
            settings.previewChanges = true;
        }
    }
    if (settings.language.isEmpty())
        settings.language = QStringLiteral("English");
}

QByteArray InstallerSettingsText(const InstallerSettings& settings, const QByteArray& oldText)
{
    QStringList lines;
    for (const QString& dir : settings.installDirs)
        if (IsOneLineValue(dir))
            lines << QStringLiteral("InstallDir: ") + dir;
    lines << QStringLiteral("Text_Option: ") + QString::number(settings.textOption);
    lines << QStringLiteral("Text_Select: ") + QString::number(settings.textSelect);
    lines << QStringLiteral("Text_Custom: ") + QString::number(settings.textCustom);
    if (!settings.loadingScreens)
        lines << QStringLiteral("NoLoadScr");
    if (settings.debugLog)
        lines << QStringLiteral("DebugLog");
    lines << QStringLiteral("BaseType: ") + QString::number(settings.baseType);
    if (!settings.confirmUninstall)
        lines << QStringLiteral("NoUninstallConfirm");
    if (!settings.confirmDisable)
        lines << QStringLiteral("NoDisableConfirm");
    if (settings.previewChanges)
        lines << QStringLiteral("PreviewChanges");
    if (settings.undoChanges != InstallerSettings().undoChanges)
        lines << QStringLiteral("UndoChanges: ") + QString::number(settings.undoChanges);
    if (settings.undoMiB != InstallerSettings().undoMiB)
        lines << QStringLiteral("UndoMiB: ") + QString::number(settings.undoMiB);
    if (!settings.lastFolder.isEmpty() && IsOneLineValue(settings.lastFolder))
        lines << QStringLiteral("LastFolder: ") + settings.lastFolder;
    for (const QString& mirror : settings.updateMirrors)
        if (IsOneLineValue(mirror))
            lines << QStringLiteral("UpdateMirror: ") + mirror;
    return ConfigText(ConfigBlock::Installer, settings.language, lines, oldText);
}

bool ReadInstallerSettings(const QString& programDir, InstallerSettings& settings)
{
    QByteArray text;
    const bool read = ReadConfigFile(programDir, &text);
    ParseInstallerSettings(text, settings);
    return read;
}

bool WriteInstallerSettings(const QString& programDir, const InstallerSettings& settings)
{
    return RewriteConfigFile(programDir, [&settings](const QByteArray& oldText) {
        return InstallerSettingsText(settings, oldText);
    });
}
