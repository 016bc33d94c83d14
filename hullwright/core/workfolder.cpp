#include "workfolder.h"

#include "fileutils.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>

namespace {

constexpr char kPrefix[] = "window-";

// A lock that a live process holds is never taken; one whose process is gone is.
std::unique_ptr<QLockFile> takeLock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0); // only a dead owner makes it stale, never its age
    return lock->tryLock(0) ? std::move(lock) : nullptr;
}

void removeAbandoned(const QString& work)
{
    for (const QFileInfo& dir : QDir(work).entryInfoList(
             {QLatin1String(kPrefix) + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (dir.isSymLink())
            continue;
        if (auto lock = takeLock(dir.absoluteFilePath() + QStringLiteral(".lock"))) {
            RemoveTree(dir.absoluteFilePath(), true);
            lock->unlock();
        }
    }
}

} // namespace

WindowWorkFolder::WindowWorkFolder(const QString& programDir)
{
    QDir().mkpath(programDir);
    m_lock = takeLock(programDir + QStringLiteral("/Slipway.lock"));
    if (m_lock) {
        m_root = programDir;
        return;
    }
    const QString work = programDir + QStringLiteral("/work");
    QDir().mkpath(work);
    removeAbandoned(work);
    // The lock comes before the folder, so a sweep never takes a folder in the making.
    for (int attempt = 0; attempt < 100 && !m_own; ++attempt) {
        const QString name = work + QLatin1Char('/') + QLatin1String(kPrefix) +
                             QString::number(QRandomGenerator::global()->generate(), 36);
        if (QFileInfo::exists(name))
            continue;
        m_lock = takeLock(name + QStringLiteral(".lock"));
        if (m_lock && QDir().mkdir(name)) {
            m_root = name;
            m_own = true;
        }
    }
    if (!m_own) // nowhere of its own: the shared folders, as a last resort
        m_root = programDir;
}

WindowWorkFolder::~WindowWorkFolder()
{
    if (m_own)
        RemoveTree(m_root, true);
    if (m_lock)
        m_lock->unlock();
    if (m_own)
        QDir().rmdir(QFileInfo(m_root).path()); // "work", once no window uses it
}
