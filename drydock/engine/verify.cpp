#include "verify.h"

#include "arc.h"
#include "archivefile.h"
#include "changepreview.h"
#include "gamechange.h"
#include "gamedir.h"
#include "registry.h"
#include "shiprecord.h"
#include "textpages.h"
#include "typetable.h"
#include "uitexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLockFile>
#include <QMap>
#include <QSet>
#include <QSysInfo>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <memory>
#endif

namespace {

QByteArray arcName(const QString& path)
{
    return QFile::encodeName(QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')));
}

bool isPackedName(const QString& name)
{
    const QString lower = name.toLower();
    return lower.endsWith(QLatin1String(".pck")) || lower.endsWith(QLatin1String(".pbd")) ||
           lower.endsWith(QLatin1String(".pbb"));
}

// A message in English (for scripts and logs) and as the user reads it.
struct Msg
{
    QString en, shown;
    Msg() = default;
    Msg(const QString& s) : en(s), shown(s) {} // a name or number: the same in every language
    Msg(const QString& e, const QString& s) : en(e), shown(s) {}
};

// Replaces %1 to %3 in one pass, so that an argument holding "%2" stays as it is.
QString fill(const QString& templ, const QString& a1, const QString& a2, const QString& a3)
{
    QString out;
    out.reserve(templ.size() + a1.size() + a2.size() + a3.size());
    for (qsizetype i = 0; i < templ.size(); ++i) {
        const QChar c = templ.at(i);
        if (c == QLatin1Char('%') && i + 1 < templ.size() && templ.at(i + 1) >= QLatin1Char('1') &&
            templ.at(i + 1) <= QLatin1Char('3')) {
            const int n = templ.at(++i).unicode() - '1';
            out += n == 0 ? a1 : n == 1 ? a2 : a3;
        } else {
            out += c;
        }
    }
    return out;
}

// Installer text numbers of the problems a window shows (the English wording
// stands beside each use and must equal the catalogue's English text).
namespace InstallerText {
enum : int {
    VerifyDatMissing = 209,
    VerifyFileMissing = 210,
    VerifyCatUnreadable = 211,
    VerifyCatTooLong = 212,
    VerifyEntryBroken = 213,
    VerifyNotInMod = 214,
    VerifyNowhere = 215,
    VerifyScriptMissing = 216,
    VerifyScriptNowhere = 217,
    VerifyShotMissing = 218,
    VerifyNoCompare = 219,
    VerifyUpdateFails = 220,
    VerifyStepFailed = 221,
    VerifyWouldWrite = 222,
    VerifyWouldRemove = 223,
    VerifyRowsDiffer = 224,
    VerifyTextsDiffer = 225,
    VerifyModSelected = 226,
    VerifyNoMod = 227,
    VerifyNoScratch = 228,
    VerifyNoShipTable = 229,
    VerifyPageUnreadable = 230,
    VerifyShipLine = 231,
    VerifyShortTable = 232,
    VerifyLineLength = 233,
    VerifyMoreThanItHas = 234,
    VerifyIdentifier = 235,
    VerifyNoScene = 236,
    VerifyShipScene = 237,
    VerifyCockpitScene = 238,
    VerifyCockpitName = 239,
    VerifyCockpitIndex = 240,
    VerifyTextMissing = 241,
    VerifyJournalLeft = 242,
    VerifyOrphan = 243,
    VerifyField = 244,
    VerifyLineWord = 246,
    VerifyLengthWord = 247,
    VerifyIdentifierWord = 248,
};
} // namespace InstallerText
using namespace InstallerText;

class Checker
{
public:
    Checker(const QString& gameDir, VerifyReport& report, const QStringList* texts,
            const QStringList* shared)
        : m_game(gameDir), m_report(report), m_texts(texts), m_shared(shared)
    {
    }

    // The archive library's error code, in English and in the user's language.
    Msg archiveError(int code) const
    {
        const QString en = QString::fromLatin1(arc_error_message(code));
        return {en, m_shared ? UiTexts::archiveError(*m_shared, code) : en};
    }

    // Text number n of the installer in the user's language (`english` when the
    // catalogue lacks it), and `english` itself, both filled with the arguments.
    Msg text(int n, const char* english, const Msg& a1 = {}, const Msg& a2 = {},
             const Msg& a3 = {}) const
    {
        const QString en = QString::fromUtf8(english);
        const QString local = m_texts && n < m_texts->size() && m_texts->at(n) != UiTexts::placeholder(n)
                                  ? m_texts->at(n)
                                  : en;
        return {fill(en, a1.en, a2.en, a3.en), fill(local, a1.shown, a2.shown, a3.shown)};
    }

    void add(const QString& kind, const ShipPackage* ship, const QString& subject, const Msg& message)
    {
        VerifyProblem p{kind, ship ? ship->Name : QString(), ship ? ship->Author : QString(),
                        subject, message.en, message.shown};
        if (ship)
            p.message = ship->Name + QStringLiteral(" by ") + ship->Author + QStringLiteral(": ") +
                        message.en;
        m_report.problems.append(p);
    }

    bool exists(const QString& relative) const
    {
        return QFileInfo(ResolvePath(m_game, relative)).isFile();
    }

    const QString& game() const { return m_game; }

private:
    QString m_game;
    VerifyReport& m_report;
    const QStringList* m_texts;
    const QStringList* m_shared;
};

// The mod pair itself: catalogue and data file agree, and every entry reads whole.
QSet<QString> checkModPair(Checker& c, const QString& catalog, VerifyReport& report)
{
    QSet<QString> names;
    const QString dat = catalog.left(catalog.size() - 3) + QStringLiteral("dat");
    const QString shownCat = QDir(c.game()).relativeFilePath(catalog);
    const bool catThere = QFileInfo(catalog).isFile();
    const bool datThere = QFileInfo(dat).isFile();
    if (!catThere) {
        if (datThere)
            c.add(QStringLiteral("mod"), nullptr, shownCat,
                  c.text(VerifyDatMissing, "%1 is missing beside its data file", shownCat));
        return names;
    }
    if (!datThere) {
        c.add(QStringLiteral("mod"), nullptr, shownCat,
              c.text(VerifyFileMissing, "%1 is missing", QDir(c.game()).relativeFilePath(dat)));
        return names;
    }
    ArcCatalogHandle* h = arc_open_catalog(arcName(catalog).constData(), 0);
    if (!h) {
        c.add(QStringLiteral("mod"), nullptr, shownCat,
              c.text(VerifyCatUnreadable, "%1 cannot be read: %2", shownCat,
                     c.archiveError(arc_last_error())));
        return names;
    }
    // Room that the program keeps for itself (fillers) is listed but holds no file.
    qint64 listed = arc_catalog_unused(h);
    // Held open: every entry read below shares the one parsed catalogue.
    const std::unique_ptr<ArcCatalogHandle, bool (*)(ArcCatalogHandle*)> hold(h, arc_close_catalog);
    const QList<CatalogEntryInfo> entries = ListCatalog(catalog);
    for (const CatalogEntryInfo& e : entries)
        listed += e.size;
    // Bytes past the listed ones are harmless: the game never reaches them.
    const qint64 held = QFileInfo(dat).size();
    if (listed > held)
        c.add(QStringLiteral("mod"), nullptr, shownCat,
              c.text(VerifyCatTooLong, "%1 lists %2 bytes of entries, its data file holds %3",
                     shownCat, QString::number(listed), QString::number(held)));
    for (const CatalogEntryInfo& e : entries) {
        names.insert(e.name.toLower());
        // Packed entries carry a checksum: reading them whole checks it.
        const int type = isPackedName(e.name) ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN;
        const int code =
            StreamArchiveContent(catalog + QStringLiteral("::") + e.name, type, nullptr);
        ++report.entriesChecked;
        if (code != ARC_OK)
            c.add(QStringLiteral("entry"), nullptr, e.name,
                  c.text(VerifyEntryBroken, "entry %1 does not decode: %2", e.name,
                         c.archiveError(code)));
    }
    return names;
}

void checkShips(Checker& c, const ShipRegistry& registry, const QSet<QString>& inMod,
                VerifyReport& report)
{
    for (const ShipPackage& ship : registry.Ships) {
        if (ship.Deleted != 0)
            continue;
        ++report.shipsChecked;
        for (const PackageFile& f : ShipModFiles(ship)) {
            const bool mod = inMod.contains(ModEntryName(f.Name).toLower());
            // A disabled ship's files wait in Slipway, unless an enabled ship keeps them in the mod.
            if (ship.Enabled && !mod)
                c.add(QStringLiteral("missing"), &ship, f.Name,
                      c.text(VerifyNotInMod, "%1 is missing from the mod", f.Name));
            else if (!ship.Enabled && !mod && !c.exists(QStringLiteral("Slipway/") + f.Name))
                c.add(QStringLiteral("missing"), &ship, f.Name,
                      c.text(VerifyNowhere, "%1 is neither in Slipway nor in the mod", f.Name));
        }
        for (const PackageFile& s : ship.Scripts) {
            const bool inGame = c.exists(QStringLiteral("scripts/") + s.Name);
            if (ship.Enabled && !inGame)
                c.add(QStringLiteral("missing"), &ship, s.Name,
                      c.text(VerifyScriptMissing, "script %1 is missing from the game's scripts folder",
                             s.Name));
            else if (!ship.Enabled && !inGame && !c.exists(QStringLiteral("Slipway/scripts/") + s.Name))
                c.add(QStringLiteral("missing"), &ship, s.Name,
                      c.text(VerifyScriptNowhere, "script %1 is neither in Slipway/scripts nor in the game",
                             s.Name));
        }
        if (!ship.ScreenShot.isEmpty() && !c.exists(QStringLiteral("Slipway/ShipPics/") + ship.ScreenShot))
            c.add(QStringLiteral("missing"), &ship, ship.ScreenShot,
                  c.text(VerifyShotMissing, "screenshot %1 is missing from Slipway/ShipPics",
                         ship.ScreenShot));
    }
}

// What update mod would write now, against what the mod holds.
void checkGenerated(Checker& c, const QString& gameDir, const InstallerEngine::Services& services,
                    const InstallerSettings& settings)
{
    QStringList log;
    InstallerEngine::Services quiet = services;
    quiet.prompter = nullptr;
    quiet.log = [&log](const QString& line) { log << line; };
    // Update mod never reads the mod's large entries: a sparse copy suffices.
    const DryRunResult run = DryRun(
        gameDir, quiet, settings, [](InstallerEngine& e, QStringList*) { return e.updateMod(); },
        nullptr, ScratchGame::ModCopy::Sparse);
    if (!run.ran) {
        c.add(QStringLiteral("stale"), nullptr, QString(),
              c.text(VerifyNoCompare, "cannot compare the generated tables: %1", run.error));
        return;
    }
    if (!run.succeeded) {
        c.add(QStringLiteral("stale"), nullptr, QString(),
              c.text(VerifyUpdateFails, "update mod would fail now: %1",
                     log.isEmpty() ? c.text(VerifyStepFailed, "a step failed") : Msg(log.last())));
        return;
    }
    const ChangePreview p = run.preview.withoutClock();
    QMap<QString, int> rows;
    for (const ChangePreview::Row& r : p.rows)
        ++rows[r.table];
    QMap<int, int> texts;
    for (const ChangePreview::Text& t : p.texts)
        ++texts[t.language];
    const auto stale = [&c](const ChangePreview::Item& e, int differing, bool rows) {
        c.add(QStringLiteral("stale"), nullptr, e.name,
              e.change == QLatin1String("added")
                  ? c.text(VerifyWouldWrite, "%1 is missing from the mod; update mod would write it", e.name)
              : e.change == QLatin1String("removed")
                  ? c.text(VerifyWouldRemove, "%1 is in the mod; update mod would remove it", e.name)
              : rows ? c.text(VerifyRowsDiffer, "%1 is not what update mod would write now (%2 rows differ)",
                              e.name, QString::number(differing))
                     : c.text(VerifyTextsDiffer,
                              "%1 is not what update mod would write now (%2 texts differ)", e.name,
                              QString::number(differing)));
    };
    for (const ChangePreview::Item& e : p.entries) {
        const QString upper = e.name.toUpper();
        const QString base =
            QFileInfo(QString(e.name).replace(QLatin1Char('\\'), QLatin1Char('/'))).completeBaseName();
        if (upper.startsWith(QLatin1String("TYPES\\"))) {
            stale(e, rows.value(base), true);
        } else if (upper.startsWith(QLatin1String("T\\"))) {
            const int language = base.chopped(4).toInt();
            // Only the update time differs: not stale.
            if (e.change != QLatin1String("replaced") || texts.value(language) != 0)
                stale(e, texts.value(language), false);
        }
    }
    if (p.selectedModAfter != p.selectedModBefore)
        c.add(QStringLiteral("stale"), nullptr, QStringLiteral("ModName"),
              c.text(VerifyModSelected,
                     "the game selects %1 instead of the %2 mod; update mod would select it",
                     p.selectedModBefore.isEmpty() ? c.text(VerifyNoMod, "no mod")
                                                   : Msg(p.selectedModBefore),
                     p.selectedModAfter));
}

// The ids of page 17 of one text page file.
class Page17Ids : public TextPageHandler
{
public:
    QSet<int> ids;
    bool wantsPage(int page) const override { return page == 17; }
    void addText(int page, int id, QString&&) override
    {
        if (page == 17)
            ids.insert(id);
    }
};

// Every installed, enabled ship line as the game reads it: the ship table and the
// cockpit table of the layered catalogues with the mod over them, the scenes in any
// catalogue, the texts of the pages the installer generated.
void checkGameView(Checker& c, const QString& gameDir, const ShipRegistry& registry,
                   const QString& catalog)
{
    QList<int> live;
    for (qsizetype k = 0; k < registry.Ships.size(); ++k)
        if (registry.Ships.at(k).Deleted == 0 && registry.Ships.at(k).Enabled)
            live << int(k);
    if (live.isEmpty() || !QFileInfo(catalog).isFile())
        return;
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        c.add(QStringLiteral("game"), nullptr, QString(),
              c.text(VerifyNoScratch, "cannot read the game's tables: no scratch folder"));
        return;
    }
    const QString mod = QLatin1String(InstallerEngine::kModName);
    TypeTable ships, cockpits;
    QByteArray text;
    if (!ExtractTableText(gameDir, QStringLiteral("TShips"), scratch.path(), &text, mod)) {
        c.add(QStringLiteral("game"), nullptr, QStringLiteral("types\\TShips.pck"),
              c.text(VerifyNoShipTable, "the game finds no ship table"));
        return;
    }
    ships = ReadTypeTable(text);
    const bool haveCockpits =
        LoadCompactTable(gameDir, QStringLiteral("TCockpits"), scratch.path(), &cockpits, mod);

    QSet<QString> entries;
    for (const GameEntry& e : EnumerateGameEntries(gameDir))
        entries.insert(e.name.toLower());
    QList<QPair<QString, QSet<int>>> pages; // generated page entry, its page 17 ids
    for (const CatalogEntryInfo& e : ListCatalog(catalog)) {
        const QString lower = QString(e.name).replace(QLatin1Char('/'), QLatin1Char('\\')).toLower();
        entries.insert(lower);
        if (!lower.startsWith(QLatin1String("t\\")) || !lower.endsWith(QLatin1String("9001.pck")))
            continue;
        const QString file = scratch.path() + QStringLiteral("/page.xml");
        Page17Ids ids;
        QString error;
        if (!ExtractArchiveFile(catalog + QStringLiteral("::") + e.name, file, false, false,
                                &error) ||
            !ParseTextPageFile(file, ids, &error))
            c.add(QStringLiteral("game"), nullptr, e.name,
                  c.text(VerifyPageUnreadable, "the game cannot read the text page %1: %2", e.name,
                         error));
        pages.append({e.name, ids.ids});
        QFile::remove(file);
    }

    for (int k : live) {
        const ShipPackage& ship = registry.Ships.at(k);
        const int index = registry.Buffer + k;
        const auto problem = [&](const QString& field, const Msg& what) {
            // Fields are named by number: "field 16" in the message, "16" stays the subject.
            const Msg named = field == QLatin1String("line")     ? c.text(VerifyLineWord, "line")
                              : field == QLatin1String("length")   ? c.text(VerifyLengthWord, "length")
                              : field == QLatin1String("identifier") ? c.text(VerifyIdentifierWord, "identifier")
                                                                   : c.text(VerifyField, "field %1", field);
            c.add(QStringLiteral("game"), &ship, named.en,
                  c.text(VerifyShipLine, "ship line %1, %2: %3", QString::number(index), named, what));
        };
        if (index < 0 || index >= ships.entries.size()) {
            problem(QStringLiteral("line"),
                    c.text(VerifyShortTable, "the game's ship table has only %1 lines",
                           QString::number(ships.entries.size())));
            continue;
        }
        const ShipRecord line(ships.entries.at(index));
        const RecordLayout layout = line.layout();
        if (!layout.complete || layout.identifierField != layout.lastNumericField + 1)
            problem(QStringLiteral("length"),
                    c.text(VerifyLineLength,
                           "the line has %1 fields; its turret and gun counts (field 53 is \"%2\") "
                           "ask for %3",
                           QString::number(line.fieldCount()), line.field(kTurretCountField),
                           layout.complete ? Msg(QString::number(layout.lastNumericField + 2))
                                           : c.text(VerifyMoreThanItHas, "more than it has")));
        if (line.identifier() != ship.ID.trimmed())
            problem(QStringLiteral("identifier"),
                    c.text(VerifyIdentifier, "the line ends in \"%1\", not in the package ID \"%2\"",
                           line.identifier(), ship.ID));
        for (int field : {kSceneField, kCockpitSceneField}) {
            const QString scene = line.field(field).trimmed();
            const QString name = QString::number(field);
            if (IsNoScene(scene)) {
                if (field == kSceneField)
                    problem(name, c.text(VerifyNoScene, "names no ship scene, so the game shows no model"));
                continue;
            }
            bool found = false;
            for (const QString& candidate : SceneCatalogEntries(scene))
                found = found || entries.contains(candidate);
            if (!found)
                problem(name, field == kSceneField
                                  ? c.text(VerifyShipScene,
                                           "the ship scene \"%1\" is in no catalogue (looked for %2)",
                                           scene, SceneCatalogEntries(scene).first())
                                  : c.text(VerifyCockpitScene,
                                           "the cockpit scene \"%1\" is in no catalogue (looked for %2)",
                                           scene, SceneCatalogEntries(scene).first()));
        }
        const int turrets = qBound(0, line.intField(kTurretCountField) - 1, kTurretPairs);
        for (int t = 0; t < turrets; ++t) {
            const int field = kTurretPairFirstField + 2 * t;
            const QString cockpit = line.field(field).trimmed();
            int value = 0;
            const QString name = QString::number(field);
            if (!ParseTableInt(cockpit, &value))
                problem(name, c.text(VerifyCockpitName, "turret %1 names cockpit \"%2\", not an index",
                                     QString::number(t + 1), cockpit));
            else if (haveCockpits && (value < 0 || value >= cockpits.entries.size()))
                problem(name, c.text(VerifyCockpitIndex,
                                     "turret %1 names cockpit %2; the cockpit table has %3 entries",
                                     QString::number(t + 1), QString::number(value),
                                     QString::number(cockpits.entries.size())));
        }
        // A package that names a text of the game's own has nothing on the generated pages.
        if (ship.OriginalDesc == 0) {
            const int id = line.intField(kDescriptionField);
            for (const auto& [page, ids] : std::as_const(pages))
                if (!ids.contains(id))
                    problem(QString::number(kDescriptionField),
                            c.text(VerifyTextMissing, "text %1 is not on page 17 of %2",
                                   QString::number(id), page));
        }
    }
}

} // namespace

VerifyReport VerifyInstallation(const QString& gameDir, const InstallerEngine::Services& services,
                                const InstallerSettings& settings)
{
    VerifyReport report;
    Checker c(gameDir, report, services.installerTexts, services.sharedTexts);

    if (QFileInfo::exists(GameChange::journalDir(gameDir) + QStringLiteral("/index")))
        c.add(QStringLiteral("journal"), nullptr, QStringLiteral("mods/Hullwright.journal"),
              c.text(VerifyJournalLeft, "a change was interrupted and is not rolled back yet (the "
                                        "next program that changes the game rolls it back)"));

    ShipRegistry registry;
    RegistryReadStatus status;
    ReadRegistry(gameDir, registry, QString(), QString(), &status);
    if (status.broken())
        c.add(QStringLiteral("registry"), nullptr, QStringLiteral("Slipway/ships.dat"),
              Msg(status.message(RegistryPath(gameDir)),
                  InstallerEngine::registryMessage(status, RegistryPath(gameDir), services.installerTexts)));

    const QString catalog = ResolvePath(gameDir, QStringLiteral("mods/") +
                                                     QLatin1String(InstallerEngine::kModName) +
                                                     QStringLiteral(".cat"));
    const QSet<QString> inMod = checkModPair(c, catalog, report);
    checkShips(c, registry, inMod, report);
    for (const QString& orphan : UnownedModEntries(gameDir, registry))
        c.add(QStringLiteral("orphan"), nullptr, orphan,
              c.text(VerifyOrphan, "entry %1 belongs to no installed ship", orphan));

    // Nothing installed yet: update mod has nothing to keep up with.
    const bool installedAnything = !registry.Ships.isEmpty() || QFileInfo(catalog).isFile();
    if (installedAnything && !status.broken()) {
        checkGenerated(c, gameDir, services, settings);
        checkGameView(c, gameDir, registry, catalog);
    }
    return report;
}

QStringList VerifyReport::lines() const
{
    QStringList out;
    for (const VerifyProblem& p : problems)
        out << p.kind + QStringLiteral(": ") + p.message;
    return out;
}

QJsonObject VerifyReport::toJson() const
{
    QJsonArray list;
    for (const VerifyProblem& p : problems)
        list.append(QJsonObject{{QStringLiteral("kind"), p.kind},
                                {QStringLiteral("ship"), p.ship},
                                {QStringLiteral("author"), p.author},
                                {QStringLiteral("subject"), p.subject},
                                {QStringLiteral("message"), p.message}});
    return QJsonObject{{QStringLiteral("ok"), ok()},
                       {QStringLiteral("entriesChecked"), entriesChecked},
                       {QStringLiteral("shipsChecked"), shipsChecked},
                       {QStringLiteral("problems"), list}};
}

QString WriterLockHolder(const QString& gameDir)
{
    const QString path = QDir::cleanPath(gameDir) + QStringLiteral("/Slipway/writer.lock");
    if (!QFileInfo::exists(path))
        return QString();
    QLockFile lock(path);
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app))
        return QString();
    if (pid == QCoreApplication::applicationPid() && host == QSysInfo::machineHostName())
        return QString();
#ifdef Q_OS_UNIX
    // A lock left by a process that no longer runs holds nothing.
    if (host == QSysInfo::machineHostName() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return QString();
#endif
    return QStringLiteral("%1 (process %2 on %3)")
        .arg(app.isEmpty() ? QStringLiteral("another program") : app)
        .arg(pid)
        .arg(host);
}
