#include "commandline.h"

#include <QFileInfo>

QStringList RegroupArguments(const QStringList& arguments)
{
    QStringList entries;
    QString current;
    for (QString argument : arguments) {
        argument.remove(QLatin1Char('"'));
        if (argument.startsWith(QLatin1Char('-')) && !current.isEmpty()) {
            entries << current;
            current.clear();
        }
        if (current.isEmpty())
            current = argument;
        else
            current += QLatin1Char(' ') + argument;
    }
    if (!current.isEmpty())
        entries << current;
    return entries;
}

StartRequest ProcessEntries(const QStringList& entries)
{
    StartRequest request;
    for (const QString& entry : entries) {
        if (!entry.startsWith(QLatin1Char('-'))) {
            request.openFile = entry;
            continue;
        }
        const qsizetype blank = entry.indexOf(QLatin1Char(' '));
        const QString key = (blank < 0 ? entry : entry.left(blank)).toLower();
        const QString value = blank < 0 ? QString() : entry.mid(blank + 1);
        if (key == QLatin1String("-x") || key == QLatin1String("-extract"))
            request.extractPackage = value;
        else if (key == QLatin1String("-d") || key == QLatin1String("-dir"))
            request.targetDir = value;
        else if (key == QLatin1String("-e") || key == QLatin1String("-editmode"))
            request.editModePath = value;
    }
    return request;
}

QString StartRequest::extractionTarget() const
{
    if (targetDir == QLatin1String("HERE"))
        return QFileInfo(extractPackage).path();
    return targetDir;
}

EditModeShip DecodeEditModePath(const QString& path)
{
    QString normal = path;
    normal.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // The encoded name holds no real slash, so the last one ends the directory.
    const qsizetype slash = normal.lastIndexOf(QLatin1Char('/'));
    EditModeShip ship;
    ship.gameDir = slash < 0 ? QString() : normal.left(slash);
    QString file = slash < 0 ? normal : normal.mid(slash + 1);
    file.replace(QLatin1String("<bslash>"), QLatin1String("\\"));
    file.replace(QLatin1String("<fslash>"), QLatin1String("/"));
    const qsizetype tilde = file.indexOf(QLatin1Char('~'));
    ship.name = tilde < 0 ? file : file.left(tilde);
    ship.author = tilde < 0 ? QString() : file.mid(tilde + 1);
    return ship;
}
