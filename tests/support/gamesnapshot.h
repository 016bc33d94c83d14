// What a test compares a game directory by: every file's bytes, a catalogue or
// packed file by its unpacked contents (packing picks a new key byte every time).
#pragma once

#include "archivefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QString>

#include <map>

namespace GameSnapshot {

// A RAM folder for tests that sync thousands of small files, when the caller chose
// no TMPDIR and there is room (a container's /dev/shm may be tiny); else empty.
inline QString ramTempDir()
{
    const QString shm = QStringLiteral("/dev/shm");
    if (!qEnvironmentVariableIsEmpty("TMPDIR") || !QFileInfo(shm).isWritable())
        return {};
    return QStorageInfo(shm).bytesAvailable() >= (qint64(1) << 30) ? shm : QString();
}

using Snapshot = std::map<QString, QByteArray>;

// Reads what `unpack` wrote to a scratch file beside the game, then removes it.
template <typename Unpack> QByteArray unpacked(const QString& dir, Unpack unpack)
{
    const QString out = dir + QStringLiteral("/../entry.tmp");
    QByteArray bytes = "<unreadable>";
    QFile f(out);
    if (unpack(out) && f.open(QIODevice::ReadOnly))
        bytes = f.readAll();
    QFile::remove(out);
    return bytes;
}

// Files by path; a catalogue or packed file by its unpacked bytes. The writer lock
// is the engine's, not the game's, the change history is not what the game reads;
// folders count by the files in them.
inline Snapshot snapshot(const QString& dir)
{
    Snapshot s;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(dir).relativeFilePath(path);
        if (rel == QLatin1String("Slipway/writer.lock") || rel.startsWith(QLatin1String("Slipway/history/")))
            continue;
        if (rel.endsWith(QLatin1String(".cat"))) {
            QByteArray listing;
            for (const CatalogEntryInfo& e : ListCatalog(path))
                listing +=
                    e.name.toUtf8() + '\n' +
                    unpacked(dir,
                             [&](const QString& out) {
                                 return ExtractArchiveFile(path + QStringLiteral("::") + e.name,
                                                           out, false, false);
                             }) +
                    '\n';
            s[rel] = listing;
        } else if (QStringList{"pck", "pbd", "pbb"}.contains(it.fileInfo().suffix())) {
            s[rel] = unpacked(dir, [&](const QString& out) { return UnpackDiskFile(path, out); });
        } else if (!rel.endsWith(QLatin1String(".dat")) ||
                   rel.startsWith(QLatin1String("Slipway"))) {
            QFile f(path);
            s[rel] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
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
