#include "gamechange.h"

#include "changehistory.h"
#include "journal.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLockFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string os(const QString& path)
{
    return QFile::encodeName(QDir::cleanPath(path)).toStdString();
}

} // namespace

QString GameChange::journalDir(const QString& gameDir)
{
    return QDir::cleanPath(gameDir) + QStringLiteral("/mods/Hullwright.journal");
}

int GameChange::recover(const QString& gameDir, QString* report)
{
    return recover(journalDir(gameDir), gameDir, report);
}

int GameChange::recover(const QString& journalDir, const QString& root, QString* report)
{
    std::string r;
    const int rc = journal::recover(os(journalDir), os(root), &r);
    if (report)
        *report = QString::fromLocal8Bit(r.c_str());
    return rc;
}

int GameChange::recover(const QString& gameDir, QString* report, RecoverFailure* failure)
{
    std::string r;
    journal::RecoverFailure f;
    const int rc = journal::recover(os(journalDir(gameDir)), os(gameDir), &r, &f);
    if (report)
        *report = QString::fromLocal8Bit(r.c_str());
    if (failure)
        *failure = {f.notRemoved, QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(f.journal))),
                    QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(f.file))), f.error};
    return rc;
}

GameChange::GameChange(const QString& journalDir, const QString& root)
{
    std::string why;
    m_open = journal::begin(os(journalDir), os(root), &why);
    if (!m_open)
        m_error = QString::fromLocal8Bit(why.c_str());
}

GameChange::GameChange(const QString& gameDir)
{
    if (!QDir().mkpath(QDir::cleanPath(gameDir) + QStringLiteral("/mods"))) {
        m_error = QDir::toNativeSeparators(gameDir) + QStringLiteral("/mods: cannot create");
        return;
    }
    const bool outermost = !journal::active();
    std::string why;
    m_open = journal::begin(os(journalDir(gameDir)), os(gameDir), &why);
    if (!m_open) {
        m_error = QString::fromLocal8Bit(why.c_str());
        return;
    }
    // What the change destroys stays for its undo; without the folder it is only lost.
    if (outermost && QDir().mkpath(ChangeHistory::folder(gameDir))) {
        m_gameDir = QDir::cleanPath(gameDir);
        journal::keepOnCommit(os(ChangeHistory::pendingFolder(gameDir)));
    }
}

GameChange::~GameChange()
{
    if (m_open)
        rollback();
}

bool GameChange::commit()
{
    if (!m_open)
        return false;
    m_open = false;
    std::string why;
    if (journal::commit(&why)) {
        const std::string kept = m_gameDir.isEmpty() ? std::string() : journal::lastKept();
        if (!kept.empty() &&
            !ChangeHistory::committed(m_gameDir, QFile::decodeName(QByteArray::fromStdString(kept)),
                                      m_label.isEmpty() ? QStringLiteral("Change") : m_label,
                                      &m_historyError))
            qWarning("%s", qPrintable(m_historyError));
        return true;
    }
    m_error = QString::fromLocal8Bit(why.c_str());
    return false;
}

bool GameChange::rollback()
{
    if (!m_open)
        return false;
    m_open = false;
    std::string why;
    if (journal::rollback(&why))
        return true;
    m_error = QString::fromLocal8Bit(why.c_str());
    return false;
}

bool GameChange::removeFile(const QString& path, QString* error)
{
    // Not cleaned: a ".." in the path must reach the journal, which refuses it.
    const QString absolute = QFileInfo(path).isAbsolute() ? path : QDir::current().filePath(path);
    if (m_open && journal::removeInto(QFile::encodeName(absolute).toStdString()))
        return true;
    if (error)
        *error = path + (m_open && errno == EPERM
                             ? QStringLiteral(": refused, it lies outside the folder being changed")
                             : QStringLiteral(": cannot be removed (") +
                                   QString::fromLocal8Bit(std::strerror(errno)) + QLatin1Char(')'));
    return false;
}

GameDirLock::GameDirLock(const QString& gameDir)
    : m_path(QDir::cleanPath(gameDir) + QStringLiteral("/Slipway/writer.lock"))
{
}

GameDirLock::~GameDirLock() = default;

bool GameDirLock::tryLock(QString* holder)
{
    if (isLocked())
        return true;
    QDir().mkpath(QDir::cleanPath(m_path + QStringLiteral("/..")));
    m_lock = std::make_unique<QLockFile>(m_path);
    // Held for hours by an open window: only a holder that no longer runs is stale.
    m_lock->setStaleLockTime(0);
    m_failure.clear();
    m_failureError = 0;
    m_holder = Holder();
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() != QLockFile::LockFailedError) {
        // Not held by anyone: the lock file cannot be made. Say why, as the system does.
        const std::string probe = QFile::encodeName(m_path + QStringLiteral(".probe")).toStdString();
        int e = EIO;
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            e = errno;
        } else {
            const ssize_t n = ::write(fd, "x", 1);
            e = n == 1 ? (::fsync(fd) == 0 ? EIO : errno) : errno;
            ::close(fd);
            ::unlink(probe.c_str());
        }
        m_failureError = e;
        m_failure = QStringLiteral("the lock file %1 cannot be created: %2%3")
                        .arg(QDir::toNativeSeparators(m_path),
                             QString::fromLocal8Bit(std::strerror(e)),
                             e == ENOSPC || e == EDQUOT ? QStringLiteral(" (the disk is full)")
                                                        : QString());
        if (holder)
            *holder = m_failure;
        m_lock.reset();
        return false;
    }
    qint64 pid = 0;
    QString host, app;
    if (m_lock->getLockInfo(&pid, &host, &app))
        m_holder = {app, pid, host};
    if (holder) {
        if (m_holder.pid != 0)
            *holder = QStringLiteral("%1 (process %2 on %3)")
                          .arg(app.isEmpty() ? QStringLiteral("another program") : app)
                          .arg(pid)
                          .arg(host);
        else
            *holder = QStringLiteral("another program (") + QDir::toNativeSeparators(m_path) +
                      QLatin1Char(')');
    }
    m_lock.reset();
    return false;
}

bool GameDirLock::isLocked() const
{
    return m_lock && m_lock->isLocked();
}

void GameDirLock::unlock()
{
    m_lock.reset();
}
