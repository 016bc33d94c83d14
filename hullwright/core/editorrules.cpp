#include "editorrules.h"

#include "safefile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

QList<NumberedName> ReadNumberedNames(const QString& path)
{
    QList<NumberedName> names;
    QFile file(path);
    // The lists are a few lines; anything far larger is not one of them.
    if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly))
        return names;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1String("//")))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        bool ok = false;
        const int number = line.left(colon).trimmed().toInt(&ok);
        if (ok && number != 0)
            names.append({number, line.mid(colon + 1)});
    }
    return names;
}

QString FileSizeText(qint64 bytes, const QStringList& units)
{
    double size = double(bytes);
    int divisions = 0;
    while (size >= 1000.0 && divisions < 3) {
        size *= 1.0 / 1024.0;
        ++divisions;
    }
    const QString number = divisions == 0 ? QString::asprintf("%.0f", size)
                                          : QString::asprintf("%.2f", size);
    return QStringLiteral("    ") + number + QLatin1Char(' ') + units.value(divisions);
}

QStringList DroppedFileNames(const QString& text, DropKind kind)
{
    QStringList files;
    QString plain = text;
    plain.remove(QLatin1Char('\r'));
    for (const QString& name : plain.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QFileInfo info(name);
        if (!info.isFile())
            continue;
        const QString ext = info.suffix().toLower();
        if (kind == DropKind::Models && ext != QLatin1String("pbd") &&
            ext != QLatin1String("bod") && ext != QLatin1String("bob"))
            continue;
        files << name;
    }
    return files;
}

void WriteCreatorLog(const QString& programDir, const QString& message)
{
    if (!MakeDirChecked(programDir + QStringLiteral("/log")))
        return;
    QFile log(programDir + QStringLiteral("/log/creator_debug.txt"));
    if (!log.open(QIODevice::Append | QIODevice::WriteOnly))
        return;
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("dd:MM:yy - hh:mm:ss"));
    log.write((QLatin1Char('[') + stamp + QStringLiteral("] ") + message +
               QStringLiteral("\r\n")).toLocal8Bit());
}

QString ProposedTargetFolder(const QStringList& files)
{
    if (files.isEmpty())
        return QStringLiteral("objects/");
    QString path = files.first();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts.removeLast(); // the file's own name
    // The innermost game folder counts: a mod kept below another game's folders.
    for (qsizetype i = parts.size() - 1; i >= 0; --i)
        for (const char* top : {"objects", "textures"})
            if (parts.at(i).compare(QLatin1String(top), Qt::CaseInsensitive) == 0)
                return QStringList(parts.mid(i))
                    .join(QLatin1Char('/'))
                    .replace(0, qsizetype(qstrlen(top)), QLatin1String(top));
    return QStringLiteral("objects/");
}
