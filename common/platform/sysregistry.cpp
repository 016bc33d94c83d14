#include "sysregistry.h"

#include "safefile.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <unistd.h>

namespace {

// The registry's reading of a path: both slashes separate, empty parts vanish.
QString normalizedPath(const QString& path)
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

QString fullKey(const QString& searchPath, const QString& key)
{
    const QString k = normalizedPath(key);
    if (k.isEmpty())
        return QString();
    const QString group = normalizedPath(searchPath);
    return group.isEmpty() ? k : group + QLatin1Char('/') + k;
}

class IniRegistry final : public SystemRegistry
{
public:
    explicit IniRegistry(const QString& path) : m_path(path) {}

    QString readString(const QString& searchPath, const QString& key) const override
    {
        const QString full = fullKey(searchPath, key);
        if (full.isEmpty() || !usable())
            return QString();
        QSettings settings(m_path, QSettings::IniFormat);
        const QString stored = storedKey(settings, full);
        if (stored.isEmpty())
            return QString();
        const QVariant value = settings.value(stored);
        // QSettings reads an unquoted value with commas as a list; a hand-written
        // path may well hold one.
        if (value.typeId() == QMetaType::QStringList)
            return value.toStringList().join(QStringLiteral(", "));
        return value.toString();
    }

    bool writeString(const QString& searchPath, const QString& key, const QString& value) override
    {
        const QString full = fullKey(searchPath, key);
        if (full.isEmpty() || !usable())
            return false;
        QSettings settings(m_path, QSettings::IniFormat);
        // A name that exists in another letter case is the same value, as in the
        // native registry; keep its spelling instead of adding a second one.
        const QString stored = storedKey(settings, full);
        settings.setValue(stored.isEmpty() ? full : stored, value);
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;
        m_error = m_path + QStringLiteral(": cannot write the file");
        return false;
    }

    QString errorString() const override { return m_error; }

private:
    // A missing file, or a regular one of sane size: a FIFO or a device would hold
    // or flood the settings reader.
    bool usable() const
    {
        if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink())
            return true;
        const int fd = OpenRegularFile(m_path, kMaxIniBytes, &m_error);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }
    static constexpr qint64 kMaxIniBytes = 4 << 20;

    static QString storedKey(const QSettings& settings, const QString& full)
    {
        if (settings.contains(full))
            return full;
        const QStringList keys = settings.allKeys();
        for (const QString& k : keys) {
            if (k.compare(full, Qt::CaseInsensitive) == 0)
                return k;
        }
        return QString();
    }

    QString m_path;
    mutable QString m_error;
};

#ifdef Q_OS_WIN
// The game, its installer and the store client are 32-bit programs: their values
// live in the 32-bit view, which a 64-bit build must ask for explicitly.
class NativeRegistry final : public SystemRegistry
{
public:
    QString readString(const QString& searchPath, const QString& key) const override
    {
        const QString k = normalizedPath(key);
        if (k.isEmpty())
            return QString();
        QSettings settings(root(searchPath), QSettings::Registry32Format);
        return settings.value(k).toString();
    }

    bool writeString(const QString& searchPath, const QString& key, const QString& value) override
    {
        const QString k = normalizedPath(key);
        if (k.isEmpty())
            return false;
        QSettings settings(root(searchPath), QSettings::Registry32Format);
        settings.setValue(k, value);
        settings.sync();
        return settings.status() == QSettings::NoError;
    }

private:
    static QString root(const QString& searchPath)
    {
        QString path = QStringLiteral("HKEY_LOCAL_MACHINE\\Software");
        const QString group = normalizedPath(searchPath);
        if (!group.isEmpty())
            path += QLatin1Char('\\') + QString(group).replace(QLatin1Char('/'), QLatin1Char('\\'));
        return path;
    }
};
#endif

} // namespace

std::unique_ptr<SystemRegistry> CreateIniRegistry(const QString& iniPath)
{
    return std::make_unique<IniRegistry>(iniPath);
}

std::unique_ptr<SystemRegistry> CreateSystemRegistry(const QString& programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return std::make_unique<NativeRegistry>();
#else
    return CreateIniRegistry(SystemRegistryLocation(programDir));
#endif
}

QString SystemRegistryLocation(const QString& programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return QStringLiteral("HKEY_LOCAL_MACHINE\\Software");
#else
    return programDir + QStringLiteral("/registry.ini");
#endif
}
