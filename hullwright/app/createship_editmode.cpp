#include "createship.h"
#include "createship_parts.h"

#include "creatortexts.h"
#include "editmode.h"
#include "fileutils.h"
#include "gamechange.h"
#include "registry.h"
#include "ui_createship.h"
#include "uiseams_qt.h"

#include <QFileInfo>


// Edit mode: an installed ship opened from a game folder's registry, written
// back in place, and reloaded when it changed under the window.

bool CreateShip::startEditMode(const QString& path)
{
    using namespace CreatorText;
    const EditModeShip ship = DecodeEditModePath(path);
    const QString looked = ship.gameDir.isEmpty() ? QStringLiteral("(none)") : ship.gameDir;
    const QString form = FormatText(text(EditModeFormText), looked);
    // A name and an author separated by "~", after a game folder.
    if (ship.gameDir.isEmpty() || ship.name.isEmpty() || !path.contains(QLatin1Char('~'))) {
        ask(int(Prompter::Icon::Warning), EditModeTitle, form, {Ok});
        return false;
    }
    // A change a crash left unfinished is rolled back before the registry is
    // read, unless a running writer owns it.
    if (QFileInfo(ship.gameDir).isDir()) {
        GameDirLock lock(ship.gameDir);
        QString report;
        if (lock.tryLock() && GameChange::recover(ship.gameDir, &report) != 0)
            log(QStringLiteral("(JOURNAL) ") + report);
    }
    const std::optional<ShipPackage> found = LoadInstalledShip(path);
    if (!found) {
        ask(int(Prompter::Icon::Warning), EditModeTitle,
            FormatText(text(EditModeNotFound), ship.name, ship.author, ship.gameDir) +
                QStringLiteral("\n\n") + form,
            {Ok});
        return false;
    }
    m_editModePath = path;
    m_current = *found;
    setDraft(DraftFromPackage(*found));
    markSaved();
    m_editModeCaption = FormatText(text(EditModeCaption), ship.name, ship.author);
    m_ui->importWizardButton->hide();
    m_ui->saveAsButton->hide();
    m_ui->menubar->hide();
    refreshCaption();
    return true;
}

bool CreateShip::reloadInstalledShip()
{
    const std::optional<ShipPackage> found = LoadInstalledShip(m_editModePath);
    if (!found)
        return false;
    const EditModeShip ship = DecodeEditModePath(m_editModePath);
    m_current = *found;
    setDraft(DraftFromPackage(*found));
    markSaved();
    m_editModeCaption = FormatText(text(CreatorText::EditModeCaption), ship.name, ship.author);
    refreshCaption();
    return true;
}

void CreateShip::saveInstalledShip()
{
    using namespace CreatorText;
    if (!m_current) {
        setBusy(false);
        return;
    }
    const EditModeShip ship = DecodeEditModePath(m_editModePath);
    const EditModeSaveResult r = SaveInstalledShip(m_editModePath, draft(), workRoot(), *m_current);
    setBusy(false);
    using Outcome = EditModeSaveResult::Outcome;
    if (r.outcome == Outcome::ChangedMeanwhile) {
        log(QStringLiteral("Edit-mode save refused, the installed ship changed: ") + r.error);
        if (!LoadInstalledShip(m_editModePath)) {
            ask(int(Prompter::Icon::Warning), EditModeTitle,
                FormatText(text(EditGoneText), ship.name, ship.author, r.error), {Ok});
            return;
        }
        if (ask(int(Prompter::Icon::Warning), EditModeTitle,
                FormatText(text(EditChangedText), ship.name, ship.author, r.error),
                {ReloadButton, CancelButton}) == 0)
            reloadInstalledShip();
        return;
    }
    if (!r.ok()) {
        log(QStringLiteral("Edit-mode save failed: ") + r.error);
        ask(int(Prompter::Icon::Critical), EditModeTitle,
            FormatText(text(EditRefusedText), ship.name, ship.author, refusalText(r)), {Ok});
        return;
    }
    // The editor shows the ship as it is installed now, under its new name if
    // it was renamed.
    m_editModePath = r.editModePath;
    if (!reloadInstalledShip())
        markSaved();
    ask(int(Prompter::Icon::Information), EditModeTitle,
        FormatText(text(EditSavedText), m_current ? m_current->Name : ship.name,
                   m_current ? m_current->Author : ship.author),
        {Ok});
}

QString CreateShip::refusalText(const EditModeSaveResult& r) const
{
    using namespace CreatorText;
    using Refusal = EditModeSaveResult::Refusal;
    switch (r.refusal) {
    case Refusal::Held: {
        const QString program = r.holder.program.isEmpty() ? text(LockOtherProgram) : r.holder.program;
        return FormatText(text(LockHeldText),
                          r.holder.pid != 0 ? FormatText(text(LockHolderText), program,
                                                         QString::number(r.holder.pid), r.holder.host)
                                            : program);
    }
    case Refusal::LockFailed:
        return FormatText(text(LockFailedText), m_texts.systemError(r.lockError));
    case Refusal::RollbackFailed:
        return FormatText(text(RollbackFailedText),
                          UiTexts::journalFailure(m_texts.sharedTexts(), r.rollback, r.rollbackReport));
    case Refusal::None:
        break;
    }
    return r.error;
}
