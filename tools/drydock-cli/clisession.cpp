#include "clisession.h"

#include "changehistory.h"
#include "commands.h"
#include "fileutils.h"
#include "gamediscovery.h"
#include "gamedir.h"
#include "sysregistry.h"
#include "uiseams.h"

#include <QCoreApplication>
#include <QDir>

namespace {

constexpr int kIdQuestionCaption = 136; // installer text

} // namespace

// Answers the package reader's "same ID" question as the command line says and
// every other question with its default button, as a user pressing Enter would.
class CliPrompter : public Prompter
{
public:
    CliPrompter(QString idCaption, int idAnswer)
        : m_idCaption(std::move(idCaption)), m_idAnswer(idAnswer)
    {
    }
    int ask(Icon, const QString& caption, const QString&, const QStringList& buttons,
            int defaultButton, int) override
    {
        // Update, install beside, cancel.
        if (caption == m_idCaption && buttons.size() == 3)
            return m_idAnswer;
        return defaultButton;
    }

private:
    QString m_idCaption;
    int m_idAnswer;
};

CliSession::CliSession(const QString& gameDir, int sameId, Mode mode, ScratchGame::ModCopy modCopy)
    : m_programDir(QCoreApplication::applicationDirPath()), m_texts(UiTexts::Program::Installer),
      m_mode(mode)
{
    ReadInstallerSettings(m_programDir, m_settings);
    ChangeHistory::setLimits({m_settings.undoChanges, qint64(m_settings.undoMiB) << 20});
    // Missing texts read as their numbers, as in the window.
    m_texts.load(m_programDir + QStringLiteral("/hw_languages.xml"), m_settings.language);
    // The registry the game of this directory reads: its Wine or Proton prefix's.
    QString prefix = PrefixOfGameDir(gameDir);
    if (prefix.isEmpty() && IsValidGameDir(gameDir)) {
        const std::unique_ptr<SystemRegistry> standIn = CreateSystemRegistry(m_programDir);
        prefix = FindGamePrefix(gameDir,
                                DiscoverGameInstalls(standIn.get(), ProcessDiscoveryEnvironment()));
    }
    m_systemRegistry = CreateGameRegistry(m_programDir, prefix);
    m_prompter = std::make_unique<CliPrompter>(m_texts.own(kIdQuestionCaption), sameId);

    InstallerEngine::Services services;
    services.programDir = m_programDir;
    services.systemRegistry = m_systemRegistry.get();
    services.installerTexts = &m_texts.ownTexts();
    services.sharedTexts = &m_texts.sharedTexts();
    services.prompter = m_prompter.get();
    const bool debugLog = m_settings.debugLog;
    services.log = [this, debugLog](const QString& line) {
        const QString shown = m_mode == Mode::DryRun ? QStringLiteral("(DRYRUN) ") + toGame(line) : line;
        m_logLines.append(shown);
        if (debugLog)
            WriteLog(m_programDir, QStringLiteral("installer_debug"), shown);
    };
    for (const UiTexts::Language& l : m_texts.languages())
        services.knownLanguageIds.append(l.id);
    m_services = services;
    QString engineDir = gameDir;
    if (mode == Mode::DryRun) {
        // Only the scratch copy changes: no other game folder, no reader log of its own.
        m_settings.installDirs.clear();
        m_settings.debugLog = false;
        m_before = CaptureGameState(gameDir, m_systemRegistry.get(), EntryDigests::Deferred);
        m_scratch = std::make_unique<ScratchGame>();
        m_memory = std::make_unique<MemoryRegistry>();
        SetSelectedModValue(*m_memory, m_before.selectedMod);
        services.systemRegistry = m_memory.get();
        if (!m_scratch->create(gameDir, DryRunWorkFolder(m_programDir), &m_dryRunError, modCopy))
            engineDir.clear();
        else
            engineDir = m_scratch->dir();
    }
    m_engine = std::make_unique<InstallerEngine>(std::move(services), m_settings);
    if (mode != Mode::ReadOnly && !engineDir.isEmpty()) {
        m_engine->setGameDir(engineDir);
        // The window fills its base-mod box at once; that settles the base mod.
        m_engine->baseModChoices();
    }
}

CliSession::~CliSession()
{
    // The engine lets go of the scratch copy before it is removed.
    m_engine.reset();
}

ChangePreview CliSession::preview() const
{
    if (!m_scratch || !m_memory)
        return {};
    GameState before = m_before;
    GameState after = CaptureGameState(m_scratch->dir(), m_memory.get(), EntryDigests::Deferred);
    SettleEntryDigests(before, after, *m_scratch);
    return DiffGameStates(before, after);
}

QString CliSession::toGame(const QString& text) const
{
    return m_scratch ? m_scratch->toGame(text) : text;
}

QString CliSession::failureSince(qsizetype mark, const QString& what, const QString& fallback) const
{
    QString why = fallback;
    if (m_logLines.size() > mark)
        why = m_logLines.last();
    return what + QStringLiteral(": ") + why;
}

int CliSession::saveRegistry()
{
    if (!m_engine->saveRegistry())
        return cliFail(QDir::toNativeSeparators(m_engine->gameDir()) +
                       QStringLiteral("/Slipway/ships.dat: cannot write the registry"));
    return 0;
}

QString ShipText(const QString& name, const QString& author, const QString& version)
{
    return name + QStringLiteral(" by ") + author + QLatin1Char(' ') + version;
}

QString InstallResultLine(const InstallResult& r)
{
    if (r.status == 0)
        return QStringLiteral("installed ") + ShipText(r.name, r.author, r.version);
    if (r.status == 2)
        return QStringLiteral("skipped (older version) ") + ShipText(r.name, r.author, r.version);
    return QStringLiteral("failed: ") +
           (r.error.isEmpty() ? QStringLiteral("the package was not installed") : r.error);
}

QString UpdateModLine(const InstallerEngine& engine)
{
    const ShipRegistry& registry = engine.registry();
    const int records = static_cast<int>(registry.Ships.size());
    int live = 0, enabled = 0;
    for (const ShipPackage& ship : registry.Ships) {
        if (ship.Deleted != 0)
            continue;
        ++live;
        enabled += ship.Enabled ? 1 : 0;
    }
    QStringList languages;
    for (const int id : engine.textLanguages())
        languages << QString::number(id);
    QString line = QStringLiteral("updated ") + QDir::toNativeSeparators(engine.modCatalog()) +
                   QStringLiteral(": ship table of %1 entries, ").arg(registry.Buffer + records);
    if (records == 0)
        line += QStringLiteral("no installed ships");
    else
        line += QStringLiteral("%1 ships in slots %2-%3 (%4 enabled)")
                    .arg(live)
                    .arg(registry.Buffer)
                    .arg(registry.Buffer + records - 1)
                    .arg(enabled);
    line += QStringLiteral(", text pages in %1 languages (%2)")
                .arg(languages.size())
                .arg(languages.join(QLatin1Char(' ')));
    return line;
}
