// What a test compares a game directory by: every file's bytes, a catalogue or
// packed file by its unpacked contents (packing picks a new key byte every time).
#pragma once

#include "archivefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <map>

namespace GameSnapshot {

using Snapshot = std::map<QString, QByteArray>;

// Files by path; a catalogue or packed file by its unpacked bytes, since packing
// picks a new key byte every time. The writer lock is the engine's, not the game's.
inline Snapshot snapshot(const QString& dir)
{
    Snapshot s;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(dir).relativeFilePath(path);
        if (rel == QLatin1String("Slipway/writer.lock"))
            continue;
        // Folders count by the files in them: an empty one left behind harms nobody.
        if (it.fileInfo().isDir()) {
            continue;
        } else if (rel.endsWith(QLatin1String(".cat"))) {
            QByteArray listing;
            for (const CatalogEntryInfo& e : ListCatalog(path)) {
                const QString out = dir + QStringLiteral("/../entry.tmp");
                listing += e.name.toUtf8() + '\n';
                if (ExtractArchiveFile(path + QStringLiteral("::") + e.name, out, false, false)) {
                    QFile f(out);
                    f.open(QIODevice::ReadOnly);
                    listing += f.readAll() + '\n';
                    QFile::remove(out);
                } else {
                    listing += "<unreadable>\n";
                }
            }
            s[rel] = listing;
        } else if (QStringList{"pck", "pbd", "pbb"}.contains(it.fileInfo().suffix())) {
            const QString out = dir + QStringLiteral("/../entry.tmp");
            UnpackDiskFile(path, out);
            QFile f(out);
            f.open(QIODevice::ReadOnly);
            s[rel] = f.readAll();
            QFile::remove(out);
        } else if (!rel.endsWith(QLatin1String(".dat")) || rel.startsWith(QLatin1String("Slipway"))) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            s[rel] = f.readAll();
        }
    }
    return s;
}

inline QString firstDifference(const Snapshot& a, const Snapshot& b)
{
    for (const auto& [k, v] : a) {
        auto it = b.find(k);
        if (it == b.end())
            return k + QStringLiteral(" is missing");
        if (it->second != v)
            return k + QStringLiteral(" differs");
    }
    for (const auto& [k, v] : b)
        if (!a.count(k))
            return k + QStringLiteral(" is new");
    return QString();
}

inline bool copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        if (it.fileInfo().isDir() ? !QDir().mkpath(target) : !QFile::copy(path, target))
            return false;
    }
    return true;
}

} // namespace GameSnapshot
