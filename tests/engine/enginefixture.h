// The engine tests' fixture: a sample game and a program folder, scripted answers,
// a pinned clock, and helpers that build packages and read back what was written.
#pragma once

#include "archivefile.h"
#include "installerengine.h"
#include "installersettings.h"
#include "registry.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "sysregistry.h"
#include "testfiles.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Answers questions from a list (the default button once the list is used up)
// and records every question asked.
class ScriptedPrompter : public Prompter
{
public:
    struct Question
    {
        Icon icon;
        QString caption;
        QString text;
    };

    QList<int> answers;
    QList<Question> asked;

    int ask(Icon icon, const QString& caption, const QString& text, const QStringList&,
            int defaultButton, int) override
    {
        const int answer = answers.isEmpty() ? defaultButton : answers.takeFirst();
        asked.append({icon, caption, text});
        return answer;
    }
};

class RecordingProgress : public ProgressSink
{
public:
    qint64 total = 0;
    qint64 done = 0;
    int updates = 0;
    void setTotal(qint64 t) override { total = t; }
    void setDone(qint64 d) override
    {
        done = d;
        ++updates;
    }
};

// UI texts of the tests: installer text n reads "I<n>", shared text n "S<n>".
// The texts that take values carry their placeholders, so a formatted message
// shows what was filled in: installer text 39 reads "I39 %1|%2|%3".
inline QStringList FixtureInstallerTexts()
{
    static const QSet<int> withValues = {23, 27, 39, 42, 137, 146, 164, 168, 249, 254};
    QStringList texts;
    for (int n = 0; n < 260; ++n)
        texts << (withValues.contains(n)
                      ? QStringLiteral("I%1 %2|%3|%4")
                            .arg(n)
                            .arg(QLatin1String("%1"), QLatin1String("%2"), QLatin1String("%3"))
                      : QStringLiteral("I%1").arg(n));
    return texts;
}

inline QStringList FixtureSharedTexts()
{
    QStringList texts;
    for (int n = 0; n < 20; ++n)
        texts << QStringLiteral("S%1").arg(n);
    return texts;
}

class EngineFixture
{
public:
    static constexpr qint64 kStartTime = 1300000000; // the pinned clock's first reading

    QTemporaryDir root;
    QString gameDir;    // root/game: the sample game
    QString programDir; // root/program: temp/, log/, registry.ini
    QStringList installerTexts = FixtureInstallerTexts();
    QStringList sharedTexts = FixtureSharedTexts();
    ScriptedPrompter prompter;
    RecordingProgress progress;
    QStringList logLines;
    qint64 clock = kStartTime;
    QList<int> knownLanguageIds = {44, 49, 33}; // the UI catalogue's language list
    InstallerSettings settings;
    std::unique_ptr<SystemRegistry> systemRegistry;
    std::unique_ptr<InstallerEngine> engine;

    // Creates the folders and, with withGame, the sample game. Check ok() after.
    explicit EngineFixture(bool withGame = true)
    {
        if (!root.isValid())
            return;
        gameDir = root.filePath(QStringLiteral("game"));
        programDir = root.filePath(QStringLiteral("program"));
        QDir().mkpath(programDir + QStringLiteral("/temp"));
        systemRegistry = CreateIniRegistry(programDir + QStringLiteral("/registry.ini"));
        m_ok = !withGame || SampleGame::MakeSampleGame(gameDir, &error);
    }

    bool ok() const { return root.isValid() && m_ok; }
    QString error;

    InstallerEngine::Services services(bool withPrompter = true)
    {
        InstallerEngine::Services s;
        s.programDir = programDir;
        s.systemRegistry = systemRegistry.get();
        s.installerTexts = &installerTexts;
        s.sharedTexts = &sharedTexts;
        s.prompter = withPrompter ? &prompter : nullptr;
        s.progress = &progress;
        s.log = [this](const QString& line) { logLines.append(line); };
        s.clock = [this] { return clock; };
        s.knownLanguageIds = knownLanguageIds;
        return s;
    }

    // A new engine on the fixture's game (selected) and settings; replaces the old one.
    InstallerEngine& makeEngine(bool withPrompter = true)
    {
        engine = std::make_unique<InstallerEngine>(services(withPrompter), settings);
        engine->setGameDir(gameDir);
        return *engine;
    }

    QString modCatalog() const { return gameDir + QStringLiteral("/mods/Hullwright.cat"); }
    QString registryFile() const { return gameDir + QStringLiteral("/Slipway/ships.dat"); }

    // Entry names of the mod catalogue (backslashes), in catalogue order.
    QStringList modEntries() const
    {
        QStringList names;
        for (const CatalogEntryInfo& e : ListCatalog(modCatalog()))
            names << e.name;
        return names;
    }

    // The content of a mod entry ("types\\TShips.pck"), unpacked or as stored;
    // empty when missing.
    QByteArray modEntry(const QString& name, bool raw = false) const
    {
        const QString out = root.filePath(QStringLiteral("extracted.tmp"));
        QFile::remove(out);
        const bool ok =
            ExtractArchiveFile(modCatalog() + QStringLiteral("::") + name, out, false, raw);
        const QByteArray bytes = ok ? readBytes(out) : QByteArray();
        QFile::remove(out);
        return bytes;
    }

    // Every mod entry with its content, as modEntry() reads it.
    QMap<QString, QByteArray> modContents() const
    {
        QMap<QString, QByteArray> contents;
        for (const QString& name : modEntries())
            contents[name] = modEntry(name);
        return contents;
    }

    // The game's registry: written with the given ships, or read back as saved.
    bool writeRegistry(const QList<ShipPackage>& ships, qint64 updateTime = 0,
                       const QString& modName = {}) const
    {
        ShipRegistry reg;
        reg.Ships = ships;
        reg.UpdateTime = updateTime;
        reg.ModName = modName;
        return WriteRegistry(gameDir, reg);
    }
    ShipRegistry savedRegistry() const
    {
        ShipRegistry reg;
        ReadRegistry(gameDir, reg);
        return reg;
    }

    // Lines of a mod entry without their line ends (LF or CR LF).
    QStringList modLines(const QString& name) const { return splitLines(modEntry(name)); }

    static QStringList splitLines(const QByteArray& bytes)
    {
        QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        for (QString& l : lines)
            if (l.endsWith(QLatin1Char('\r')))
                l.chop(1);
        return lines;
    }

    // Adds catalogue NN.cat to the game holding one plain table entry (packed in
    // the catalogue), e.g. addGameEntry(3, "types\\TShips.txt", text).
    bool addGameEntry(int catalogNumber, const QString& plainName, const QByteArray& text) const
    {
        const QString cat = gameDir + QLatin1Char('/') +
                            QStringLiteral("%1.cat").arg(catalogNumber, 2, 10, QLatin1Char('0'));
        return EnsureCatalog(cat) &&
               WriteArchiveFile(text.constData(), text.size(),
                                cat + QStringLiteral("::") + plainName, true, false);
    }

    // A ship table of `count` game ships ("GAME_SHIP_<i>"), each a complete record.
    static QByteArray gameShipTable(int count)
    {
        QByteArray t =
            "// TShips.txt - a grown game table\n48;" + QByteArray::number(count) + ";\n";
        for (int i = 0; i < count; ++i)
            t += QByteArray(kDefaultShipLine)
                     .replace("HW_NEW_SHIP", "GAME_SHIP_" + QByteArray::number(i)) +
                 "\n";
        return t;
    }

    // The sample packages copied into root/packages, in the order of
    // SampleGame::PackageFileNames(). Compressing them is slow: they are made
    // once per test program.
    QStringList samplePackages()
    {
        static QTemporaryDir made;
        static QString madeError;
        static const bool madeOk = SampleGame::MakeSamplePackages(made.path(), &madeError);
        const QString folder = root.filePath(QStringLiteral("packages"));
        QDir().mkpath(folder);
        QStringList paths;
        for (const QString& n : SampleGame::PackageFileNames()) {
            paths << folder + QLatin1Char('/') + n;
            if (!madeOk ||
                (!QFile::exists(paths.last()) && !QFile::copy(made.filePath(n), paths.last()))) {
                error = madeError.isEmpty() ? QStringLiteral("cannot copy ") + n : madeError;
                return {};
            }
        }
        return paths;
    }

    // A minimal package: the default record with the given ID, one English text.
    static ShipPackage simplePackage(const QString& name, const QString& author,
                                     const QString& version, const QString& id)
    {
        ShipPackage p;
        p.Name = name;
        p.Author = author;
        p.Version = version;
        p.ID = id;
        p.Data = QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), id);
        p.Texts = {{44, name, QStringLiteral("Description of ") + name}};
        return p;
    }

    // Adds an embedded file whose bytes are written to a source file now.
    // kind KindModel appends to Models, KindFile to Files.
    PackageFile addFile(ShipPackage& p, int kind, const QString& name, quint32 time,
                        const QByteArray& bytes)
    {
        const QString src = root.filePath(QStringLiteral("src/") + QString::number(m_sources++));
        writeBytes(src, bytes);
        PackageFile e;
        e.Name = name;
        e.Time = time;
        e.Size = static_cast<qint32>(bytes.size());
        e.SourcePath = src;
        (kind == KindModel ? p.Models : p.Files).append(e);
        return e;
    }

    // Writes a package to root/packages/<fileName> and returns its path.
    QString writePackage(const ShipPackage& p, const QString& fileName)
    {
        const QString folder = root.filePath(QStringLiteral("packages"));
        QDir().mkpath(folder);
        const QString scratch = root.filePath(QStringLiteral("writer"));
        QDir().mkpath(scratch + QStringLiteral("/temp"));
        PackageContext context;
        context.programDir = scratch;
        const QString path = folder + QLatin1Char('/') + fileName;
        return SavePackage(p, path, context) ? path : QString();
    }

private:
    bool m_ok = false;
    int m_sources = 0;
};
