// Whole-file reads and writes for the tests; a file that cannot be read reads as
// empty. Writing makes the folder first.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <initializer_list>

inline QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A program folder of its own for a test: the built files copied in, so the
// program's settings and work folders land in the test's temporary folder.
inline bool copyProgramFiles(const QString& builtDir, const QString& programDir,
                             std::initializer_list<const char*> names)
{
    if (!QDir().mkpath(programDir))
        return false;
    for (const char* name : names) {
        const QString from = builtDir + QLatin1Char('/') + QLatin1String(name);
        const QString to = programDir + QLatin1Char('/') + QLatin1String(name);
        if (!QFile::copy(from, to) || !QFile::setPermissions(to, QFile::permissions(from)))
            return false;
    }
    return true;
}
