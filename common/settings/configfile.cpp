#include "configfile.h"

#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

const QByteArray kCommonOpen = "<common>";
const QByteArray kCommonClose = "</common>";

QByteArray openMarker(ConfigBlock block)
{
    return block == ConfigBlock::Creator ? QByteArray("<creator>") : QByteArray("<installer>");
}

QByteArray closeMarker(ConfigBlock block)
{
    return block == ConfigBlock::Creator ? QByteArray("</creator>") : QByteArray("</installer>");
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

bool opensBlock(const QByteArray& line, ConfigBlock own)
{
    const QByteArray l = withoutCr(line);
    return l == kCommonOpen || l == openMarker(own);
}

bool closesBlock(const QByteArray& line, ConfigBlock own)
{
    const QByteArray l = withoutCr(line);
    return l == kCommonClose || l == closeMarker(own);
}

} // namespace

QString ConfigPath(const QString& programDir)
{
    return programDir + QStringLiteral("/config.dat");
}

QStringList ConfigBlockLines(const QByteArray& text, ConfigBlock own)
{
    QStringList lines;
    bool inside = false;
    for (const QByteArray& raw : splitLines(text)) {
        if (opensBlock(raw, own))
            inside = true;
        else if (closesBlock(raw, own))
            inside = false;
        else if (inside)
            lines.append(QString::fromLocal8Bit(withoutCr(raw)));
    }
    return lines;
}

QByteArray ConfigText(ConfigBlock own, const QString& language, const QStringList& ownLines,
                      const QByteArray& oldText)
{
    QByteArray out;
    auto line = [&out](const QByteArray& text) {
        out += text;
        out += '\n';
    };
    QString oneLineLanguage = language;
    oneLineLanguage.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    line(kCommonOpen);
    line((QStringLiteral("Language: ") + oneLineLanguage).toLocal8Bit());
    line(kCommonClose);
    line(openMarker(own));
    for (const QString& l : ownLines)
        line(l.toLocal8Bit());
    line(closeMarker(own));

    // Everything outside our two blocks belongs to the other program or to
    // someone else: copied unchanged, in its old order.
    bool skipping = false;
    for (const QByteArray& raw : splitLines(oldText)) {
        if (opensBlock(raw, own))
            skipping = true;
        else if (closesBlock(raw, own))
            skipping = false;
        else if (!skipping)
            line(raw);
    }
    return out;
}

bool ReadConfigFile(const QString& programDir, QByteArray* text, QString* error)
{
    text->clear();
    const QString path = ConfigPath(programDir);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    return ReadRegularFile(path, kMaxConfigBytes, text, error);
}

bool RewriteConfigFile(const QString& programDir,
                       const std::function<QByteArray(const QByteArray& oldText)>& build,
                       QString* error)
{
    QByteArray oldText;
    QString why;
    if (!ReadConfigFile(programDir, &oldText, &why)) {
        if (error)
            *error = QStringLiteral("cannot read ") + ConfigPath(programDir) + QStringLiteral(": ") + why;
        return false;
    }
    return WriteFileAtomic(ConfigPath(programDir), build(oldText), error);
}

QString ConfigKey(const QString& line)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    return blank < 0 ? line : line.left(blank);
}

QString ConfigValue(const QString& line)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : line.mid(blank + 1);
}

QString ConfigWord(const QString& line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(1);
}

bool IsOneLineValue(const QString& value)
{
    return !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'));
}
