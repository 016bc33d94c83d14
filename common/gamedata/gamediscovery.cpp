#include "gamediscovery.h"

#include "gamedir.h"
#include "sysregistry.h"
#include "winereg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

const QString kGameFolder = QStringLiteral("vega - concord");
const QString kFlatpakHome = QStringLiteral("/.var/app/com.valvesoftware.Steam");
constexpr int kMaxVdfDepth = 32;
constexpr int kMaxVdfEntries = 100000;
constexpr qint64 kMaxVdfFile = 16ll * 1024 * 1024;
constexpr int kMaxLibraries = 256;
constexpr int kMaxManifests = 20000;

void say(const std::function<void(const QString&)>& log, const QString& line)
{
    if (log)
        log(line);
}

QString trimmedDir(QString d)
{
    d.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d;
}

class VdfReader
{
public:
    explicit VdfReader(const QByteArray& text) : m_t(text) {}

    bool parseObject(VdfNode* parent, int depth)
    {
        if (depth > kMaxVdfDepth)
            return fail("nested too deep");
        for (;;) {
            QString key;
            const Token k = next(&key);
            if (k == Token::End)
                return depth == 0 || fail("cut off: a \"}\" is missing");
            if (k == Token::Close)
                return depth > 0 || fail("a \"}\" without its \"{\"");
            if (k == Token::Bad)
                return false;
            if (k == Token::Open)
                return fail("a \"{\" without a key");
            // Platform conditions such as [$LINUX] follow a value; they do not count.
            if (key.startsWith(QLatin1Char('[')) && key.endsWith(QLatin1Char(']')))
                continue;
            if (++m_entries > kMaxVdfEntries)
                return fail("too many entries");
            VdfNode node;
            node.key = key;
            const Token v = next(&node.value);
            if (v == Token::Open) {
                node.isObject = true;
                if (!parseObject(&node, depth + 1))
                    return false;
            } else if (v != Token::String) {
                return v != Token::Bad && fail("cut off after a key");
            }
            parent->children.append(std::move(node));
        }
    }

    QString error() const { return m_error; }

private:
    enum class Token { End, Open, Close, String, Bad };

    bool fail(const char* what)
    {
        m_error = QLatin1String(what);
        return false;
    }

    Token next(QString* text)
    {
        const qsizetype size = m_t.size();
        for (;;) {
            while (m_p < size && QChar::isSpace(uchar(m_t[m_p])))
                ++m_p;
            if (m_p + 1 < size && m_t[m_p] == '/' && m_t[m_p + 1] == '/') {
                while (m_p < size && m_t[m_p] != '\n')
                    ++m_p;
                continue;
            }
            break;
        }
        if (m_p >= size)
            return Token::End;
        const char c = m_t[m_p];
        if (c == '{' || c == '}') {
            ++m_p;
            return c == '{' ? Token::Open : Token::Close;
        }
        QByteArray raw;
        if (c == '"') {
            for (++m_p; m_p < size && m_t[m_p] != '"'; ++m_p) {
                if (m_t[m_p] == '\\' && m_p + 1 < size) {
                    const char e = m_t[++m_p];
                    raw += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    raw += m_t[m_p];
                }
            }
            if (m_p >= size) {
                fail("cut off inside quotes");
                return Token::Bad;
            }
            ++m_p;
        } else {
            const qsizetype start = m_p;
            while (m_p < size && !QChar::isSpace(uchar(m_t[m_p])) && m_t[m_p] != '{' &&
                   m_t[m_p] != '}' && m_t[m_p] != '"')
                ++m_p;
            raw = m_t.mid(start, m_p - start);
        }
        *text = QString::fromUtf8(raw);
        return Token::String;
    }

    const QByteArray& m_t;
    qsizetype m_p = 0;
    int m_entries = 0;
    QString m_error;
};

bool readVdfFile(const QString& path, VdfNode* root, const std::function<void(const QString&)>& log)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        say(log, path + QStringLiteral(": skipped: ") + f.errorString());
        return false;
    }
    if (f.size() > kMaxVdfFile) {
        say(log, path + QStringLiteral(": skipped: too large"));
        return false;
    }
    QString error;
    if (!ParseVdf(f.readAll(), root, &error)) {
        say(log, path + QStringLiteral(": skipped: ") + error);
        return false;
    }
    return true;
}

bool allDigits(const QString& s)
{
    if (s.isEmpty() || s.size() > 12)
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// The Proton prefix Steam keeps for the app whose manifest installs into `folder`.
QString manifestPrefix(const QString& steamapps, const QString& folder,
                       const std::function<void(const QString&)>& log)
{
    const QStringList manifests = QDir(steamapps).entryList(
        {QStringLiteral("appmanifest_*.acf")}, QDir::Files, QDir::Name);
    int read = 0;
    for (const QString& name : manifests) {
        if (++read > kMaxManifests)
            break;
        VdfNode root;
        if (!readVdfFile(steamapps + QLatin1Char('/') + name, &root, log))
            continue;
        const VdfNode* app = root.child(QStringLiteral("AppState"));
        const VdfNode* dir = app ? app->child(QStringLiteral("installdir")) : nullptr;
        if (!dir || dir->value.compare(folder, Qt::CaseInsensitive) != 0)
            continue;
        const VdfNode* id = app->child(QStringLiteral("appid"));
        QString appId = id ? id->value : name.mid(12, name.size() - 16);
        if (!allDigits(appId)) {
            say(log, steamapps + QLatin1Char('/') + name + QStringLiteral(": skipped: no app id"));
            continue;
        }
        const QString prefix =
            ResolvePath(steamapps, QStringLiteral("compatdata/") + appId + QStringLiteral("/pfx"));
        if (QFileInfo(prefix + QStringLiteral("/system.reg")).isFile())
            return prefix;
        say(log, prefix + QStringLiteral(": no Proton prefix yet (the game has not run)"));
        return QString();
    }
    return QString();
}

class Finder
{
public:
    explicit Finder(const DiscoveryEnvironment& env) : m_env(env) {}

    void add(const QString& dir, const QString& prefix)
    {
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (canonical.isEmpty())
            return;
        for (GameInstall& g : m_found) {
            if (QFileInfo(g.dir).canonicalFilePath() == canonical) {
                if (g.prefix.isEmpty())
                    g.prefix = prefix;
                return;
            }
        }
        m_found.append({trimmedDir(dir), prefix});
    }

    void steam()
    {
        const QString home = m_env.home;
        const QString dataHome =
            m_env.dataHome.isEmpty() ? home + QStringLiteral("/.local/share") : m_env.dataHome;
        const QStringList roots{home + QStringLiteral("/.steam/steam"),
                                home + QStringLiteral("/.steam/root"),
                                dataHome + QStringLiteral("/Steam"),
                                home + QStringLiteral("/.local/share/Steam"),
                                home + kFlatpakHome + QStringLiteral("/.local/share/Steam"),
                                home + kFlatpakHome + QStringLiteral("/data/Steam")};
        QStringList libraries;
        QSet<QString> seen;
        auto addLibrary = [&](const QString& path, const QString& from) {
            const QFileInfo info(path);
            // A link that loops still has a "canonical" path; it does not exist.
            const QString canonical = info.exists() ? info.canonicalFilePath() : QString();
            if (canonical.isEmpty()) {
                if (!from.isEmpty() || info.isSymLink())
                    say(m_env.log, path + QStringLiteral(": skipped: ") +
                                       (info.isSymLink() ? QStringLiteral("a link that leads nowhere")
                                                         : QStringLiteral("no such folder")) +
                                       (from.isEmpty() ? QString() : QStringLiteral(" (listed in ") + from + QLatin1Char(')')));
                return false;
            }
            if (!info.isDir() || seen.contains(canonical) || libraries.size() >= kMaxLibraries)
                return false;
            seen.insert(canonical);
            libraries.append(canonical);
            return true;
        };
        for (const QString& root : roots) {
            if (!addLibrary(root, QString()))
                continue;
            for (const QString& rel : {QStringLiteral("steamapps/libraryfolders.vdf"),
                                       QStringLiteral("config/libraryfolders.vdf")}) {
                const QString vdf = ResolvePath(root, rel);
                VdfNode doc;
                if (!QFileInfo(vdf).isFile() || !readVdfFile(vdf, &doc, m_env.log))
                    continue;
                const VdfNode* list = doc.child(QStringLiteral("libraryfolders"));
                if (!list)
                    continue;
                // Current files give each library an object with its path; older ones
                // a numbered path string.
                for (const VdfNode& entry : list->children) {
                    if (!allDigits(entry.key))
                        continue;
                    const VdfNode* path = entry.isObject ? entry.child(QStringLiteral("path")) : &entry;
                    if (path && !path->isObject && QDir::isAbsolutePath(path->value))
                        addLibrary(trimmedDir(path->value), vdf);
                }
            }
        }
        for (const QString& library : libraries) {
            const QString game = ResolvePath(library, QStringLiteral("steamapps/common/") + kGameFolder);
            if (!IsValidGameDir(game))
                continue;
            add(game, PrefixOfGameDir(game, m_env.log));
        }
    }

    void wine()
    {
        QStringList prefixes;
        if (!m_env.winePrefix.isEmpty())
            prefixes << trimmedDir(m_env.winePrefix);
        prefixes << m_env.home + QStringLiteral("/.wine");
        QSet<QString> seen;
        for (const QString& prefix : prefixes) {
            const QFileInfo info(prefix);
            const QString canonical = info.exists() ? info.canonicalFilePath() : QString();
            if (canonical.isEmpty() || seen.contains(canonical))
                continue;
            seen.insert(canonical);
            auto registry = CreateWinePrefixRegistry(prefix);
            const QString install = registry->readString(QStringLiteral("/Starfall"),
                                                         QStringLiteral("/Vega Concord/INSTALL_DIR"));
            if (!registry->errorString().isEmpty()) {
                say(m_env.log, registry->errorString() + QStringLiteral(": prefix skipped"));
                continue;
            }
            const QString dir = WinePathToLocal(prefix, install);
            if (IsValidGameDir(dir)) {
                add(dir, prefix);
                continue;
            }
            // Steam for Windows installed inside the prefix.
            const QString steam =
                registry->readString(QStringLiteral("/Valve"), QStringLiteral("/Steam/InstallPath"));
            const QString steamDir = WinePathToLocal(prefix, steam);
            const QString game = steamDir.isEmpty() ? QString()
                : ResolvePath(steamDir, QStringLiteral("steamapps/common/") + kGameFolder);
            if (IsValidGameDir(game))
                add(game, prefix);
        }
    }

    QList<GameInstall> found() const { return m_found; }

private:
    const DiscoveryEnvironment& m_env;
    QList<GameInstall> m_found;
};

} // namespace

const VdfNode* VdfNode::child(const QString& name) const
{
    for (const VdfNode& c : children)
        if (c.key.compare(name, Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

bool ParseVdf(const QByteArray& text, VdfNode* root, QString* error)
{
    *root = VdfNode();
    root->isObject = true;
    VdfReader reader(text);
    if (reader.parseObject(root, 0))
        return true;
    if (error)
        *error = reader.error();
    *root = VdfNode();
    return false;
}

DiscoveryEnvironment ProcessDiscoveryEnvironment()
{
    DiscoveryEnvironment env;
#ifndef Q_OS_WIN
    env.home = qEnvironmentVariable("HOME");
    env.winePrefix = qEnvironmentVariable("WINEPREFIX");
    env.dataHome = qEnvironmentVariable("XDG_DATA_HOME");
#endif
    return env;
}

QList<GameInstall> DiscoverGameInstalls(const SystemRegistry* registry,
                                        const DiscoveryEnvironment& env)
{
    Finder finder(env);
    if (registry) {
        const QString dir = DiscoverGameDir(*registry);
        if (!dir.isEmpty())
            finder.add(dir, PrefixOfGameDir(dir, env.log));
    }
    if (!env.home.isEmpty() || !env.winePrefix.isEmpty()) {
        if (!env.home.isEmpty())
            finder.steam();
        finder.wine();
    }
    return finder.found();
}

QString PrefixOfGameDir(const QString& gameDir, const std::function<void(const QString&)>& log)
{
#ifdef Q_OS_WIN
    Q_UNUSED(gameDir);
    Q_UNUSED(log);
    return QString();
#else
    const QString dir = QFileInfo(gameDir).canonicalFilePath();
    if (dir.isEmpty())
        return QString();
    const QFileInfo game(dir);
    const QString parent = game.path();
    if (QFileInfo(parent).fileName().compare(QStringLiteral("common"), Qt::CaseInsensitive) == 0) {
        const QString steamapps = QFileInfo(parent).path();
        if (QFileInfo(steamapps).fileName().compare(QStringLiteral("steamapps"),
                                                    Qt::CaseInsensitive) == 0)
            return manifestPrefix(steamapps, game.fileName(), log);
    }
    for (QString cur = dir; cur.size() > 1; cur = QFileInfo(cur).path()) {
        const QString up = QFileInfo(cur).path();
        if (QFileInfo(cur).fileName() == QLatin1String("drive_c") &&
            QFileInfo(up + QStringLiteral("/system.reg")).isFile())
            return up;
    }
    return QString();
#endif
}

QString FindGamePrefix(const QString& gameDir, const QList<GameInstall>& found)
{
    const QString canonical = QFileInfo(gameDir).canonicalFilePath();
    for (const GameInstall& g : found)
        if (!g.prefix.isEmpty() && !canonical.isEmpty() &&
            QFileInfo(g.dir).canonicalFilePath() == canonical)
            return g.prefix;
    return PrefixOfGameDir(gameDir);
}

QString WinePathToLocal(const QString& prefix, const QString& windowsPath)
{
    const QString p = QString(windowsPath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.size() < 2 || p.at(1) != QLatin1Char(':') || !p.at(0).isLetter() || p.at(0).unicode() > 127)
        return QString();
    const QString drive = p.left(1).toLower();
    QString root;
    const QFileInfo device(prefix + QStringLiteral("/dosdevices/") + drive + QLatin1Char(':'));
    if (device.exists())
        root = device.canonicalFilePath();
    else if (drive == QLatin1String("c"))
        root = prefix + QStringLiteral("/drive_c");
    else if (drive == QLatin1String("z"))
        root = QStringLiteral("/");
    if (root.isEmpty())
        return QString();
    return trimmedDir(ResolvePath(root, p.mid(2)));
}

std::unique_ptr<SystemRegistry> CreateGameRegistry(const QString& programDir,
                                                   const QString& prefix)
{
    if (prefix.isEmpty())
        return CreateSystemRegistry(programDir);
    return CreateWinePrefixRegistry(prefix);
}

namespace {

class CurrentGameRegistry final : public SystemRegistry
{
public:
    CurrentGameRegistry(QString programDir, std::function<QString()> current,
                        std::function<QString(const QString&)> prefixOf)
        : m_programDir(std::move(programDir)), m_current(std::move(current)),
          m_prefixOf(std::move(prefixOf))
    {
    }

    QString readString(const QString& searchPath, const QString& key) const override
    {
        return target().readString(searchPath, key);
    }
    bool writeString(const QString& searchPath, const QString& key, const QString& value) override
    {
        return target().writeString(searchPath, key, value);
    }
    QString errorString() const override { return m_last ? m_last->errorString() : QString(); }

private:
    // Looked up at every call: a Proton prefix appears once the game has first run.
    SystemRegistry& target() const
    {
        const QString dir = m_current ? m_current() : QString();
        const QString prefix = dir.isEmpty() || !m_prefixOf ? QString() : m_prefixOf(dir);
        m_last = CreateGameRegistry(m_programDir, prefix);
        return *m_last;
    }

    QString m_programDir;
    std::function<QString()> m_current;
    std::function<QString(const QString&)> m_prefixOf;
    mutable std::unique_ptr<SystemRegistry> m_last;
};

} // namespace

std::unique_ptr<SystemRegistry>
CreateCurrentGameRegistry(const QString& programDir, std::function<QString()> currentGameDir,
                          std::function<QString(const QString&)> prefixOf)
{
    return std::make_unique<CurrentGameRegistry>(programDir, std::move(currentGameDir),
                                                 std::move(prefixOf));
}
