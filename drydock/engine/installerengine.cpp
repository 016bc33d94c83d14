// Engine state, game-directory selection and the helpers every step shares.
// The steps themselves live in engine_*.cpp beside this file.
#include "installerengine.h"

#include "arc.h"
#include "archivefile.h"
#include "fileutils.h"
#include "gamedir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

InstallerEngine::InstallerEngine(Services services, InstallerSettings& settings)
    : m_services(std::move(services)), m_settings(settings)
{
}

void InstallerEngine::log(const QString& message) const
{
    if (m_services.log)
        m_services.log(message);
}

QString InstallerEngine::installerText(int n) const
{
    const QStringList* t = m_services.installerTexts;
    return t && n >= 0 && n < t->size() ? t->at(n) : QStringLiteral("ReadText-%1").arg(n);
}

QString InstallerEngine::sharedText(int n) const
{
    const QStringList* t = m_services.sharedTexts;
    return t && n >= 0 && n < t->size() ? t->at(n) : QStringLiteral("ReadText-%1").arg(n);
}

qint64 InstallerEngine::now() const
{
    return m_services.clock ? m_services.clock() : QDateTime::currentSecsSinceEpoch();
}

QString InstallerEngine::modCatalog() const
{
    return m_gameDir + QStringLiteral("/mods/") + QLatin1String(kModName) + QStringLiteral(".cat");
}

bool InstallerEngine::isRealMod(const QString& name)
{
    return !name.isEmpty() && IsModSelected(name);
}

void InstallerEngine::setGameDir(const QString& dir)
{
    m_gameDir = dir;
    m_registry = ShipRegistry();
    m_queue.clear();
    m_baseMod.clear();
    m_previousBaseMod.clear();
    if (dir.isEmpty())
        return;
    const bool read = ReadRegistry(dir, m_registry, m_services.programDir,
                                   m_settings.debugLog ? QStringLiteral("installer_debug") : QString());
    // A registry written by another installer version may come with older program
    // scripts in the games it knows: bring every known game directory up to date.
    if (read && !RegistryVersionMatches(m_registry.InstallerVersion)) {
        log(QStringLiteral("Registry version %1 differs from %2, installing program scripts")
                .arg(m_registry.InstallerVersion)
                .arg(kRegistryVersion));
        QStringList dirs = m_settings.installDirs;
        if (!dirs.contains(dir))
            dirs.append(dir);
        for (const QString& known : std::as_const(dirs))
            installProgramScripts(known);
    }
    m_baseMod = m_registry.ModName;
    m_previousBaseMod = m_baseMod;
    purgeCheck();
    checkGameLanguage();
}

bool InstallerEngine::saveRegistry()
{
    if (m_gameDir.isEmpty())
        return false;
    m_registry.ModName = m_baseMod;
    return WriteRegistry(m_gameDir, m_registry, m_services.programDir,
                         m_settings.debugLog ? QStringLiteral("installer_debug") : QString());
}

int InstallerEngine::findShip(const QString& name, const QString& author) const
{
    for (qsizetype i = 0; i < m_registry.Ships.size(); ++i) {
        const ShipPackage& p = m_registry.Ships.at(i);
        if (p.Deleted == 0 && p.Name == name && p.Author == author)
            return static_cast<int>(i);
    }
    return -1;
}

bool InstallerEngine::extractGameTable(const QString& entry, const QString& destination) const
{
    QFile::remove(destination);
    // The Hullwright mod is never searched: the generators start from the game's own tables.
    if (isRealMod(m_baseMod)) {
        const QString base =
            ResolvePath(m_gameDir, QStringLiteral("mods/") + m_baseMod + QStringLiteral(".cat"));
        if (ExtractArchiveFile(base + QStringLiteral("::") + entry, destination, false, false))
            return true;
    }
    return ExtractGameFile(m_gameDir, entry, destination);
}

bool InstallerEngine::modWritable(const QString& tag, QString* error) const
{
    const QString catalog = modCatalog();
    QString why;
    if (!EnsureCatalog(catalog)) {
        const int code = LastArchiveError();
        why = code == ARC_E_ACCESS ? QStringLiteral("Mod archive is locked: ")
                                   : QStringLiteral("Mod archive cannot be created: ");
        why += catalog + QStringLiteral(" (") + ArchiveErrorMessage(code) + QLatin1Char(')');
    } else if (ArcCatalogHandle* h = arc_open_catalog(
                   QFile::encodeName(QString(catalog).replace(QLatin1Char('/'), QLatin1Char('\\')))
                       .constData(),
                   0)) {
        arc_close_catalog(h);
        // A catalogue the library could only open for reading refuses every change.
        if (!QFileInfo(catalog).isWritable())
            why = QStringLiteral("Mod archive is read-only: ") + catalog;
    } else {
        const int code = LastArchiveError();
        why = (code == ARC_E_ACCESS ? QStringLiteral("Mod archive is locked: ")
                                    : QStringLiteral("Mod archive cannot be opened: ")) +
              catalog + QStringLiteral(" (") + ArchiveErrorMessage(code) + QLatin1Char(')');
    }
    if (why.isEmpty())
        return true;
    log(tag + why);
    if (error)
        *error = why;
    return false;
}

QByteArray InstallerEngine::gameTableText(const QString& entry, const QString& tempName) const
{
    const QString temp = m_services.programDir + QLatin1Char('/') + tempName;
    QByteArray text;
    if (extractGameTable(entry, temp)) {
        const qint64 size = QFileInfo(temp).size();
        QString why;
        if (size > InMemoryFileLimit()) {
            log(QStringLiteral("(TEXTFILE) Game table too large to be read: %1 (%2 bytes, the "
                               "limit is %3 bytes)")
                    .arg(entry)
                    .arg(size)
                    .arg(InMemoryFileLimit()));
            m_tableRefused = true;
        } else if (!ReadFileWhole(temp, &text, &why)) {
            log(QStringLiteral("(TEXTFILE) Game table cannot be read: ") + why);
        }
    }
    QFile::remove(temp);
    return text;
}
