// What the installer window holds around its engine, for one drydock-cli command:
// the settings, UI texts, system registry and debug log of drydock-cli's own
// program folder, and an engine on the given game directory.
#pragma once

#include "changepreview.h"
#include "installerengine.h"
#include "installersettings.h"
#include "uitexts.h"

#include <QString>
#include <QStringList>

#include <memory>

class CliPrompter;

class CliSession
{
public:
    // How the package reader's "same ID" question is answered.
    enum SameId { Update = 0, Beside = 1, Cancel = 2 };

    // Change: the engine on the game directory, as the window has it. DryRun: the
    // engine on a scratch copy of it, the game's selected mod held in memory, so
    // that nothing outside the copy changes; preview() tells what the commands did.
    // ReadOnly: no game directory is opened (services() for checks that only read).
    enum class Mode { Change, DryRun, ReadOnly };

    // modCopy: how a dry run copies the mod's data file (ScratchGame::create).
    explicit CliSession(const QString& gameDir, int sameId = Cancel, Mode mode = Mode::Change,
                        ScratchGame::ModCopy modCopy = ScratchGame::ModCopy::Whole);
    ~CliSession();

    // DryRun: why the scratch copy could not be made; empty when it was.
    QString dryRunError() const { return m_dryRunError; }
    ChangePreview preview() const;
    // A text with the scratch copy's paths put back to the game directory.
    QString toGame(const QString& text) const;
    InstallerEngine::Services services() const { return m_services; }

    InstallerEngine& engine() { return *m_engine; }
    InstallerSettings& settings() { return m_settings; }
    const UiTexts& texts() const { return m_texts; }
    QString programDir() const { return m_programDir; }

    // Where the engine's log stands now, for failureSince().
    qsizetype logMark() const { return m_logLines.size(); }
    // "what: " + the last engine log line written since the mark, or the fallback.
    QString failureSince(qsizetype mark, const QString& what, const QString& fallback) const;
    // 0, or the exit code of a failure already reported on stderr.
    int saveRegistry();

private:
    QString m_programDir;
    InstallerSettings m_settings;
    UiTexts m_texts;
    std::unique_ptr<SystemRegistry> m_systemRegistry;
    std::unique_ptr<CliPrompter> m_prompter;
    InstallerEngine::Services m_services;
    QStringList m_logLines;
    Mode m_mode = Mode::Change;
    GameState m_before;
    std::unique_ptr<ScratchGame> m_scratch;
    std::unique_ptr<MemoryRegistry> m_memory;
    QString m_dryRunError;
    std::unique_ptr<InstallerEngine> m_engine;
};

// "NAME by AUTHOR VERSION"
QString ShipText(const QString& name, const QString& author, const QString& version);
// The line a front end prints for one install: "installed ...",
// "skipped (older version) ..." or "failed: reason".
QString InstallResultLine(const InstallResult& result);
// The line update-mod prints: what it wrote into the mod, e.g. "updated
// G/mods/Hullwright.cat: ship table of 302 entries, 2 ships in slots 300-301
// (2 enabled), text pages in 2 languages (44 49)".
QString UpdateModLine(const InstallerEngine& engine);
