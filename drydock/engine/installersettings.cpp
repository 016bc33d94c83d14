#include "installersettings.h"

#include "gamedir.h"

#include <QFile>
#include <QList>
#include <QSaveFile>

namespace {

const QByteArray kCommonOpen = "<common>";
const QByteArray kCommonClose = "</common>";
const QByteArray kInstallerOpen = "<installer>";
const QByteArray kInstallerClose = "</installer>";

QString configPath(const QString& programDir)
{
    return programDir + QStringLiteral("/config.dat");
}

// The file's lines without their LF. A trailing CR is kept in the line itself, so
// foreign lines are copied back byte for byte; markers are compared without it.
QList<QByteArray> splitLines(const QByteArray& text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray withoutCr(const QByteArray& line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

bool opensBlock(const QByteArray& line)
{
    const QByteArray l = withoutCr(line);
    return l == kCommonOpen || l == kInstallerOpen;
}

bool closesBlock(const QByteArray& line)
{
    const QByteArray l = withoutCr(line);
    return l == kCommonClose || l == kInstallerClose;
}

// A value that is not a decimal number keeps the default instead of becoming 0.
void readInt(const QString& value, int& target)
{
    bool ok = false;
    const int n = value.trimmed().toInt(&ok, 10);
    if (ok)
        target = n;
}

// A line break inside a value would end its line early and smuggle in lines of
// its own (a "DebugLog" flag, a foreign block marker).
bool isOneLine(const QString& value)
{
    return !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'));
}

} // namespace

void ParseInstallerSettings(const QByteArray& text, InstallerSettings& settings)
{
    settings = InstallerSettings();
    bool inside = false;
    for (const QByteArray& raw : splitLines(text)) {
        if (opensBlock(raw)) {
            inside = true;
            continue;
        }
        if (closesBlock(raw)) {
            inside = false;
            continue;
        }
        if (!inside)
            continue;
        const QString line = QString::fromLocal8Bit(withoutCr(raw));
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const QString key = blank < 0 ? line : line.left(blank);
        const QString value = blank < 0 ? QString() : line.mid(blank + 1);
        if (key == QLatin1String("Language:")) {
            settings.language = line.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(1);
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
        } else if (key == QLatin1String("LastFolder:")) {
            settings.lastFolder = value;
        } else if (key == QLatin1String("UpdateMirror:")) {
            if (!value.trimmed().isEmpty())
                settings.updateMirrors.append(value.trimmed());
        } else if (line == QLatin1String("NoUninstallConfirm")) {
            settings.confirmUninstall = false;
        } else if (line == QLatin1String("NoLoadScr")) {
            settings.loadingScreens = false;
        } else if (line == QLatin1String("DebugLog")) {
            settings.debugLog = true;
        }
    }
    if (settings.language.isEmpty())
        settings.language = QStringLiteral("English");
}

QByteArray InstallerSettingsText(const InstallerSettings& settings, const QByteArray& oldText)
{
    QByteArray out;
    auto line = [&out](const QString& text) {
        out += text.toLocal8Bit();
        out += '\n';
    };
    QString language = settings.language;
    language.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    line(QString::fromLatin1(kCommonOpen));
    line(QStringLiteral("Language: ") + language);
    line(QString::fromLatin1(kCommonClose));
    line(QString::fromLatin1(kInstallerOpen));
    for (const QString& dir : settings.installDirs)
        if (isOneLine(dir))
            line(QStringLiteral("InstallDir: ") + dir);
    line(QStringLiteral("Text_Option: ") + QString::number(settings.textOption));
    line(QStringLiteral("Text_Select: ") + QString::number(settings.textSelect));
    line(QStringLiteral("Text_Custom: ") + QString::number(settings.textCustom));
    if (!settings.loadingScreens)
        line(QStringLiteral("NoLoadScr"));
    if (settings.debugLog)
        line(QStringLiteral("DebugLog"));
    line(QStringLiteral("BaseType: ") + QString::number(settings.baseType));
    if (!settings.confirmUninstall)
        line(QStringLiteral("NoUninstallConfirm"));
    if (!settings.lastFolder.isEmpty() && isOneLine(settings.lastFolder))
        line(QStringLiteral("LastFolder: ") + settings.lastFolder);
    for (const QString& mirror : settings.updateMirrors)
        if (isOneLine(mirror))
            line(QStringLiteral("UpdateMirror: ") + mirror);
    line(QString::fromLatin1(kInstallerClose));

    // Everything outside our two blocks belongs to the authoring program or to
    // someone else: copied unchanged, in its old order.
    bool skipping = false;
    for (const QByteArray& raw : splitLines(oldText)) {
        if (opensBlock(raw)) {
            skipping = true;
            continue;
        }
        if (closesBlock(raw)) {
            skipping = false;
            continue;
        }
        if (!skipping) {
            out += raw;
            out += '\n';
        }
    }
    return out;
}

bool ReadInstallerSettings(const QString& programDir, InstallerSettings& settings)
{
    QFile file(configPath(programDir));
    if (!file.exists()) {
        settings = InstallerSettings();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        settings = InstallerSettings();
        return false;
    }
    ParseInstallerSettings(file.readAll(), settings);
    return true;
}

bool WriteInstallerSettings(const QString& programDir, const InstallerSettings& settings)
{
    const QString path = configPath(programDir);
    QByteArray oldText;
    QFile old(path);
    if (old.exists()) {
        // Without the old lines the authoring program's block would be lost.
        if (!old.open(QIODevice::ReadOnly))
            return false;
        oldText = old.readAll();
        old.close();
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = InstallerSettingsText(settings, oldText);
    if (out.write(text) != text.size())
        return false;
    return out.commit();
}
