#include "gamedir.h"

#include "arc.h"

#include "sysregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

// Registry values written by the game's installer and by the store client.
const QString kPublisherPath = QStringLiteral("/Starfall");
const QString kPublisherKey = QStringLiteral("/Vega Concord/INSTALL_DIR");
const QString kStorePath = QStringLiteral("/Valve");
const QString kStoreKey = QStringLiteral("/Steam/InstallPath");
const QString kStoreGameFolder = QStringLiteral("steamapps/common/vega - concord");

constexpr int kMaxCatalogs = 99;

QString joinPath(const QString& base, const QString& part)
{
    if (base.isEmpty())
        return part;
    if (base.endsWith(QLatin1Char('/')))
        return base + part;
    return base + QLatin1Char('/') + part;
}

// Registry values and chosen folders arrive with either slash, and installers
// like to end them with one; the list holds one spelling per directory.
QString normalizedDir(const QString& dir)
{
    QString d = dir;
    d.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')) &&
           !(d.size() == 3 && d.at(1) == QLatin1Char(':')))
        d.chop(1);
    return d;
}

bool sameDir(const QString& a, const QString& b)
{
#ifdef Q_OS_WIN
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

// The entry of dir whose name equals name without regard to case; in sorted order
// so that the choice is stable when several spellings exist.
QString findIgnoringCase(const QString& dir, const QString& name)
{
    const QStringList entries =
        QDir(dir.isEmpty() ? QStringLiteral(".") : dir)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return e;
    }
    return QString();
}

QString validDirOrEmpty(const QString& dir)
{
    return IsValidGameDir(dir) ? dir : QString();
}

QString publisherDir(const SystemRegistry& registry)
{
    const QString value = registry.readString(kPublisherPath, kPublisherKey);
    if (value.isEmpty())
        return QString();
    return validDirOrEmpty(normalizedDir(value));
}

QString storeDir(const SystemRegistry& registry)
{
    const QString value = registry.readString(kStorePath, kStoreKey);
    // Without a store folder the appended part alone would name a folder at the root.
    if (value.isEmpty())
        return QString();
    // The store creates "SteamApps" in some versions; the game's folder name is
    // matched the same way as the game's own files.
    return validDirOrEmpty(normalizedDir(ResolvePath(normalizedDir(value), kStoreGameFolder)));
}

QString catalogPath(const QString& gameDir, int n)
{
    return ResolvePath(gameDir, CatalogName(n));
}

// `failed` is set when the catalogue holds the entry but it could not be
// extracted: an older copy further down must not stand in for it.
bool extractEntry(const QString& catalog, const QString& entry, const QString& destination,
                  bool* failed)
{
    if (ExtractArchiveFile(catalog + QStringLiteral("::") + entry, destination, false, false))
        return true;
    const int code = LastArchiveError();
    if (failed && code != ARC_E_NOENTRY && code != ARC_E_NOFILE && code != ARC_E_NODAT)
        *failed = true;
    return false;
}

} // namespace

bool IsValidGameDir(const QString& dir)
{
    if (dir.isEmpty())
        return false;
    return QFileInfo(ResolvePath(normalizedDir(dir), QStringLiteral("vega.exe"))).isFile();
}

QString CatalogNumber(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString CatalogName(int n)
{
    return CatalogNumber(n) + QStringLiteral(".cat");
}

int CountCatalogs(const QString& gameDir)
{
    if (gameDir.isEmpty())
        return 0;
    int n = 0;
    while (n < kMaxCatalogs && QFileInfo(catalogPath(gameDir, n + 1)).isFile())
        ++n;
    return n;
}

QString DiscoverGameDir(const SystemRegistry& registry)
{
    const QString dir = publisherDir(registry);
    return dir.isEmpty() ? storeDir(registry) : dir;
}

void GameDirList::insertDiscovered(const QString& dir)
{
    const QString d = normalizedDir(dir);
    if (d.isEmpty())
        return;
    dirs.removeIf([&d](const QString& e) { return sameDir(normalizedDir(e), d); });
    dirs.prepend(d);
    while (dirs.size() > kMax)
        dirs.removeLast();
}

bool GameDirList::choose(const QString& dir)
{
    if (!IsValidGameDir(dir))
        return false;
    insertDiscovered(dir);
    return true;
}

void GameDirList::offer(const QString& dir)
{
    const QString d = normalizedDir(dir);
    if (d.isEmpty() || dirs.size() >= kMax ||
        std::any_of(dirs.cbegin(), dirs.cend(),
                    [&d](const QString& e) { return sameDir(normalizedDir(e), d); }))
        return;
    dirs.append(d);
}

QString GameDirList::discover(const SystemRegistry& registry)
{
    QString found = publisherDir(registry);
    if (found.isEmpty() && dirs.isEmpty())
        found = storeDir(registry);
    if (!found.isEmpty())
        insertDiscovered(found);
    return found;
}

bool IsModSelected(const QString& modName)
{
    if (modName.isEmpty())
        return false;
    return !(modName.startsWith(QLatin1String(":: ")) && modName.endsWith(QLatin1String(" ::")));
}

bool ExtractGameFile(const QString& gameDir, const QString& entry, const QString& destination,
                     const QString& modName, bool* failed)
{
    const int count = CountCatalogs(gameDir);
    if (count == 0)
        return false;
    if (IsModSelected(modName)) {
        QString dest = destination;
        dest.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (QFileInfo::exists(dest))
            QFile::remove(dest);
        const QString modCatalog =
            ResolvePath(gameDir, QStringLiteral("mods/") + modName + QStringLiteral(".cat"));
        if (extractEntry(modCatalog, entry, destination, failed))
            return true;
    }
    for (int n = count; n >= 1 && !(failed && *failed); --n) {
        if (extractEntry(catalogPath(gameDir, n), entry, destination, failed))
            return true;
    }
    return false;
}

QList<GameEntry> EnumerateGameEntries(const QString& gameDir)
{
    QList<GameEntry> result;
    QSet<QString> seen;
    for (int n = CountCatalogs(gameDir); n >= 1; --n) {
        const QString catalog = catalogPath(gameDir, n);
        const QList<CatalogEntryInfo> entries = ListCatalog(catalog);
        for (const CatalogEntryInfo& e : entries) {
            // Entry lookups in a catalogue ignore case, so "T\x.pck" and "t\X.pck"
            // are one file.
            const QString key = e.name.toCaseFolded();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            result.append({catalog, e.name, e.size});
        }
    }
    return result;
}

QString ResolvePath(const QString& base, const QString& relative)
{
    QString rel = relative;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return base;
    const QString asGiven = joinPath(base, parts.join(QLatin1Char('/')));
    if (QFileInfo::exists(asGiven))
        return asGiven;

    QString path = base;
    bool resolving = true;
    for (const QString& part : parts) {
        QString next = joinPath(path, part);
        if (resolving && !QFileInfo::exists(next)) {
            const QString match = findIgnoringCase(path, part);
            if (match.isEmpty())
                resolving = false; // nothing below a missing part can exist
            else
                next = joinPath(path, match);
        }
        path = next;
    }
    return path;
}

QString ResolveBelow(const QString& root, const QString& name, QString* error)
{
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(name, why);
        return QString();
    };
    QString rel = name.trimmed();
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (root.isEmpty())
        return refuse(QStringLiteral("no folder to resolve it in"));
    if (rel.isEmpty())
        return refuse(QStringLiteral("empty name"));
    if (rel.startsWith(QLatin1Char('/')) || (rel.size() >= 2 && rel.at(1) == QLatin1Char(':')))
        return refuse(QStringLiteral("absolute names are not allowed"));
    QStringList parts;
    for (const QString& part : rel.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return refuse(QStringLiteral("the name leaves its folder"));
        if (part != QLatin1String("."))
            parts << part;
    }
    if (parts.isEmpty())
        return refuse(QStringLiteral("empty name"));

    const QString path = ResolvePath(root, parts.join(QLatin1Char('/')));
    // A planted link may lead out: the deepest part that exists must still lie
    // below the real root once every link is followed.
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    if (realRoot.isEmpty())
        return refuse(QStringLiteral("the folder %1 does not exist").arg(root));
    QString probe = path;
    while (!probe.isEmpty() && !QFileInfo(probe).exists() && !QFileInfo(probe).isSymLink()) {
        const int cut = probe.lastIndexOf(QLatin1Char('/'));
        if (cut <= 0)
            break;
        probe.truncate(cut);
    }
    const QFileInfo info(probe);
    const QString real = info.isSymLink() && !info.exists() ? QString() : info.canonicalFilePath();
    if (real.isEmpty() || (real != realRoot && !real.startsWith(realRoot + QLatin1Char('/'))))
        return refuse(QStringLiteral("the name leads outside %1").arg(root));
    return path;
}
