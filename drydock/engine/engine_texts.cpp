// Update mod and its first step, the installer's text page: page 17 with the
// names and descriptions of the installed ships, page 9001 with the ship list
// that the game-side scripts read (and purge removed ship types by). One file
// per language, "<language>9001.pck" in the mod's "t" folder.
#include "installerengine.h"

#include "archivefile.h"
#include "fileutils.h"
#include "sysregistry.h"
#include "textpages.h"
#include "uiseams.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int kFallbackLanguage = 44;
constexpr int kFirstGeneratedId = 20000;

bool isLive(const ShipPackage& ship)
{
    return ship.Deleted == 0 && ship.Enabled;
}

// The text entry a language shows: its own, else the last English one, else the first.
const PackageText* textFor(const ShipPackage& ship, int language)
{
    for (const PackageText& t : ship.Texts)
        if (t.Language == language)
            return &t;
    for (qsizetype i = ship.Texts.size() - 1; i >= 0; --i)
        if (ship.Texts.at(i).Language == kFallbackLanguage)
            return &ship.Texts.at(i);
    return ship.Texts.isEmpty() ? nullptr : &ship.Texts.first();
}

} // namespace

void InstallerEngine::fixBuffer()
{
    qint32& buffer = m_registry.Buffer;
    if (m_registry.Ships.isEmpty())
        buffer = 0;
    log(QStringLiteral("Current Buffer is: %1").arg(buffer));
    // A negative value is as corrupt as a huge one.
    if (buffer > kMaxBuffer || buffer < 0) {
        buffer = 0;
        log(QStringLiteral("Buffer overflow detected, reseting"));
    }
    log(QStringLiteral("Creating Text Files..."));
    const int n = gameShipCount();
    log(QStringLiteral("(TEXTFILE) TShips offset: %1").arg(n));
    if (buffer == 0) {
        buffer = n < 300 ? 300 : n + 50;
        log(QStringLiteral("(TEXTFILE) Setting buffer: %1").arg(buffer));
    }
    if (buffer < n) {
        buffer = n + 50;
        log(QStringLiteral("(TEXTFILE) Moving Buffer past offset to: %1").arg(buffer));
    }
}

int InstallerEngine::extraTextLanguage() const
{
    switch (m_settings.textOption) {
    case 1:
        return m_services.knownLanguageIds.value(m_settings.textSelect, 0);
    case 2:
        return m_settings.textCustom;
    default:
        return 0;
    }
}

QList<int> InstallerEngine::textLanguages() const
{
    QList<int> languages;
    // A language id names a file ("<id>9001.xml"); zero or negative ids name none.
    const auto add = [&languages](int id) {
        if (id > 0 && !languages.contains(id))
            languages.append(id);
    };
    for (const ShipPackage& ship : m_registry.Ships)
        if (isLive(ship))
            for (const PackageText& t : ship.Texts)
                add(t.Language);
    add(kFallbackLanguage);
    add(extraTextLanguage());
    return languages;
}

bool InstallerEngine::generateTexts()
{
    fixBuffer();

    // The ids do not depend on the language: given once, used in every file.
    int id = kFirstGeneratedId;
    for (ShipPackage& ship : m_registry.Ships) {
        if (!isLive(ship) || ship.OriginalDesc != 0)
            continue;
        ship.GeneratedDescId = id;
        id += 2;
    }
    const qint64 time = now();
    m_registry.UpdateTime = static_cast<qint32>(time);

    QList<PageText> scriptTexts;
    scriptTexts.append({1, QString::number(m_registry.Ships.size())});
    scriptTexts.append({2, QString::number(time)});
    for (qsizetype k = 0; k < m_registry.Ships.size(); ++k) {
        const ShipPackage& ship = m_registry.Ships.at(k);
        const int base = 10 + 10 * static_cast<int>(k);
        const QString index = QString::number(m_registry.Buffer + k);
        if (!isLive(ship)) {
            scriptTexts.append({base, QStringLiteral("-1")});
            scriptTexts.append({base + 1, index});
            continue;
        }
        scriptTexts.append({base, ship.ID});
        scriptTexts.append({base + 1, index});
        for (int r = 0; r < 8; ++r)
            scriptTexts.append(
                {base + 2 + r, ship.Shipyards[r] ? QStringLiteral("1") : QStringLiteral("0")});
    }

    const QString catalog = modCatalog();
    const QList<int> languages = textLanguages();
    // A page of a language no longer written would keep feeding the scripts an
    // old ship list: it leaves the mod.
    static const QRegularExpression pageName(QStringLiteral("^t\\\\(\\d+)9001\\.pck$"),
                                             QRegularExpression::CaseInsensitiveOption);
    for (const CatalogEntryInfo& e : ListCatalog(catalog)) {
        const QRegularExpressionMatch m = pageName.match(e.name);
        if (m.hasMatch() && !languages.contains(m.captured(1).toInt())) {
            log(QStringLiteral("(TEXTFILE) Removing page of a language no longer used: ") + e.name);
            check(RemoveArchiveFile(catalog + QStringLiteral("::") + e.name),
                  QStringLiteral("(TEXTFILE) Cannot remove ") + e.name);
        }
    }

    MakePath(m_gameDir, QStringLiteral("Slipway/t"));
    bool ok = true;
    for (int language : languages) {
        QList<PageText> shipTexts;
        for (const ShipPackage& ship : std::as_const(m_registry.Ships)) {
            if (!isLive(ship) || ship.OriginalDesc != 0)
                continue;
            const int nameId = ship.GeneratedDescId;
            if (const PackageText* t = textFor(ship, language)) {
                if (!t->Name.isEmpty())
                    shipTexts.append({nameId, t->Name});
                if (!t->Description.isEmpty())
                    shipTexts.append({nameId + 1, t->Description});
            } else if (!ship.Name.isEmpty()) {
                shipTexts.append({nameId, ship.Name});
                shipTexts.append({nameId + 1, ship.Name});
            }
        }
        const QByteArray page = BuildTextPage(language, shipTexts, scriptTexts);
        const QString file = m_gameDir + QStringLiteral("/Slipway/t/") + TextPageFileName(language);
        const QString packed = PackedName(file);
        if (!WriteArchiveFile(page.constData(), page.size(), file, true, false)) {
            log(QStringLiteral("(TEXTFILE) Cannot write ") + packed);
            ok = false;
            continue;
        }
        const QString entry = QStringLiteral("t\\") + PackedName(TextPageFileName(language));
        if (!CopyArchiveFile(packed, catalog + QStringLiteral("::") + entry)) {
            log(QStringLiteral("(TEXTFILE) Cannot add ") + entry + QStringLiteral(" to ") +
                catalog + QStringLiteral(": ") + ArchiveErrorMessage(LastArchiveError()));
            ok = false;
        }
    }
    return ok;
}

bool InstallerEngine::carryBaseMod()
{
    const QString mod = m_baseMod;
    log(QStringLiteral("(UPDATEMOD) The base mod ") + mod +
        QStringLiteral(" is not in the Hullwright mod yet, copying it in"));
    // The player's own mod, taken over from the game's selection: its ships stay
    // whole only when its files come along.
    if (createMod() && baseModCarried())
        return true;
    const QString why = QStringLiteral("the files of the mod %1 could not be copied into the "
                                       "Hullwright mod")
                            .arg(mod);
    log(QStringLiteral("(UPDATEMOD) ") + why);
    m_baseMod = mod; // a refused rebuild put back the one before
    const int answer =
        m_services.prompter
            ? m_services.prompter->ask(Prompter::Icon::Warning, installerText(195),
                                       FormatText(installerText(196), mod.toHtmlEscaped()),
                                       {installerText(7), installerText(8)}, 1, 1)
            : 1;
    if (answer != 0) {
        m_updateDeclined = m_services.prompter != nullptr;
        log(QStringLiteral("(UPDATEMOD) Nothing was changed; the game keeps loading ") + mod);
        return false;
    }
    // Without the base mod the tables come from the game's own catalogues only.
    m_previousBaseMod = m_baseMod;
    m_baseMod = QStringLiteral(":: ") + installerText(14) + QStringLiteral(" ::");
    m_modChanged = true;
    log(QStringLiteral("(UPDATEMOD) Going on without the base mod ") + mod);
    return true;
}

bool InstallerEngine::updateMod()
{
    m_updateDeclined = false;
    if (m_gameDir.isEmpty()) {
        log(QStringLiteral("(UPDATEMOD) No game directory selected"));
        return false;
    }
    if (refusedForBrokenRegistry(QStringLiteral("(UPDATEMOD) ")))
        return false;
    if (!baseModCarried() && !carryBaseMod())
        return false;
    // Checked first: a mod the running game holds must leave everything as it was.
    // Tables, texts, the registry's update time and the game's mod value change
    // together or not at all.
    Change change(*this, QStringLiteral("(UPDATEMOD) "));
    if (!change.ok())
        return false;
    if (!modWritable(QStringLiteral("(UPDATEMOD) "))) {
        change.failed(QStringLiteral("the mod cannot be written"));
        return change.commit();
    }

    bool ok = generateTexts();
    const QStringList cockpits = generateCockpits();
    ok = generateShips(cockpits) && ok;
    ok = generateDummies() && ok;
    ok = generateComponents() && ok;
    ok = addTablesToMod() && ok;
    ok = !change.hasFailed() && ok;
    RemoveTree(m_gameDir + QStringLiteral("/Slipway"), false);
    if (!ok) {
        log(QStringLiteral("(UPDATEMOD) The mod was not written completely; the game's mod "
                           "selection is left as it was"));
        change.failed(QStringLiteral("the mod was not written completely"));
        return change.commit();
    }
    if (!saveRegistry()) {
        change.failed(QStringLiteral("the registry could not be saved"));
        return change.commit();
    }
    // Last: the system registry is outside the journal.
    if (change.hasFailed())
        return change.commit();
    if (!m_services.systemRegistry ||
        !m_services.systemRegistry->writeString(
            QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), QLatin1String(kModName))) {
        const QString why = m_services.systemRegistry ? m_services.systemRegistry->errorString()
                                                      : QString();
        change.failed(QStringLiteral("cannot select the mod in the game's registry value") +
                      (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        return change.commit();
    }
    return change.commit();
}
