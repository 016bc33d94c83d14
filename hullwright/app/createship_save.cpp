#include "createship.h"
#include "createship_parts.h"

#include "gamechange.h"
#include "gamediscovery.h"

#include "configdialog.h"
#include "configship.h"
#include "creatortexts.h"
#include "equipment.h"
#include "fileutils.h"
#include "gamedir.h"
#include "imports.h"
#include "importwizard.h"
#include "modimport.h"
#include "registry.h"
#include "safefile.h"
#include "selectship.h"
#include "shiprecord.h"
#include "smalldialogs.h"
#include "sysregistry.h"
#include "ui_createship.h"
#include "uiseams_qt.h"
#include "editmode.h"
#include "extraction.h"
#include "packagebuild.h"
#include "profiledialogs.h"
#include "shipbalance.h"
#include "packagecheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

using namespace CreateShipParts;

// Saving, opening and extracting packages.

PackageContext CreateShip::packageContext()
{
    PackageContext c;
    c.programDir = workRoot();
    c.prompter = m_prompter.get();
    c.progress = m_progressSink.get();
    c.status = m_statusSink.get();
    return c;
}

void CreateShip::setBusy(bool busy, const QString& status)
{
    if (m_ui->centralwidget)
        m_ui->centralwidget->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    m_progress->setVisible(busy);
    if (busy)
        statusBar()->showMessage(status);
    else
        statusBar()->clearMessage();
}

bool CreateShip::checkRequired()
{
    using namespace CreatorText;
    static const int kMessages[] = {0, MissingName, MissingAuthor, MissingId, MissingRecord,
                                    MissingScene};
    const MissingField missing = FirstMissingField(draft());
    if (missing == MissingField::None)
        return true;
    ask(int(Prompter::Icon::Warning), SaveCaption, text(kMessages[int(missing)]), {Ok});
    return false;
}

bool CreateShip::checkPackage()
{
    using namespace CreatorText;
    // A scene the record names may be one of the game's own.
    const QStringList problems = PackageCheckLines(
        editMode() && m_current
            ? CheckInstalledShipDraft(m_editModePath, draft(), workRoot(), *m_current)
            : CheckDraft(draft(), workRoot(), -1,
                         gameDir().isEmpty() ? std::function<bool(const QString&)>()
                                             : GameSceneLookup(gameDir())));
    if (problems.isEmpty())
        return true;
    constexpr int kShown = 20;
    QStringList shown = problems.mid(0, kShown);
    if (problems.size() > kShown)
        shown << QStringLiteral("... (%1 more)").arg(problems.size() - kShown);
    return ask(int(Prompter::Icon::Warning), CheckCaption,
               FormatText(text(CheckText), shown.join(QLatin1Char('\n'))),
               {SaveAnyway, CancelButton}) == 0;
}

void CreateShip::Slot_Save()
{
    if (!checkRequired() || !checkPackage())
        return;
    startSave(editMode() ? m_editModePath : m_packagePath);
}

void CreateShip::Slot_SaveAs()
{
    if (!checkRequired() || editMode() || !checkPackage())
        return;
    startSave(QString());
}

void CreateShip::startSave(QString name)
{
    using namespace CreatorText;
    if (name.isEmpty())
        name = pickSaveFile(Folder::Packages, text(SaveCaption),
                            text(PackageFilter) + QStringLiteral(" (*.xsp)"));
    if (name.isEmpty())
        return;
    if (!editMode()) {
        name = PackageSaveName(name);
    }
    // The defaults go into the fields, so the editor shows what is saved.
    ShipDraft withWeb = draft();
    if (ApplySaveWebDefaults(withWeb, m_settings)) {
        m_ui->webEdit->setText(withWeb.web);
        m_ui->mirror1Edit->setText(withWeb.mirror1);
        m_ui->mirror2Edit->setText(withWeb.mirror2);
    }
    m_pendingSave = name;
    setBusy(true, text(SavingStatus) + QLatin1Char(' ') + name + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &CreateShip::Slot_SaveFile);
}

void CreateShip::Slot_SaveFile()
{
    using namespace CreatorText;
    const QString target = std::exchange(m_pendingSave, QString());
    if (target.isEmpty())
        return;
    if (editMode()) {
        saveInstalledShip();
        return;
    }
    const ShipPackage package = BuildPackage(draft(), workRoot());
    QString error;
    ModelConversion conversion;
    conversion.compile = m_settings.bodcomp;
    conversion.compiler = m_settings.bodcompPath;
    // Each file the save works on is named as "Saving <file>...".
    struct PrefixedStatus : StatusSink
    {
        StatusSink* to;
        QString prefix;
        void showStatus(const QString& t) override
        {
            if (to)
                to->showStatus(t.isEmpty() ? t : prefix + QLatin1Char(' ') + t);
        }
    } status;
    status.to = m_statusSink.get();
    status.prefix = text(CreatorText::SavingStatus);
    PackageContext context = packageContext();
    context.status = &status;
    QString infoError;
    const bool saved = SaveShipPackage(package, target, context, &error, conversion, &infoError,
                                       m_settings.fastSave ? LzmaMode::Fast : LzmaMode::Standard);
    setBusy(false);
    if (saved) {
        // Only a package that reached the disk counts as saved: after a failure the
        // editor must still report its changes as unsaved.
        m_current = package;
        m_packagePath = target;
        markSaved();
        refreshCaption();
        if (infoError.isEmpty()) {
            ask(int(Prompter::Icon::Information), SaveCaption, FormatText(text(SavedText), target),
                {Ok});
        } else {
            log(QStringLiteral("Update-info file not written: ") + UpdateInfoPath(package, target) +
                QStringLiteral(": ") + infoError);
            ask(int(Prompter::Icon::Warning), SaveCaption,
                FormatText(text(UpdateInfoFailedText), target, UpdateInfoPath(package, target),
                           infoError),
                {Ok});
        }
    } else {
        log(QStringLiteral("Saving failed: ") + target + QStringLiteral(": ") + error);
        ask(int(Prompter::Icon::Critical), SaveCaption, FormatText(text(SaveFailedText), target, error),
            {Ok});
    }
}

void CreateShip::Slot_Open()
{
    using namespace CreatorText;
    const QString name = pickFile(Folder::Packages, text(OpenCaption),
                                  text(PackageFilter) + QStringLiteral(" (*.xsp)"));
    if (name.isEmpty())
        return;
    if (hasUnsavedChanges() &&
        ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    m_pendingOpen = name;
    setBusy(true, text(OpeningStatus) + QLatin1Char(' ') + name + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &CreateShip::Slot_OpenFile);
}

void CreateShip::Slot_OpenFile()
{
    using namespace CreatorText;
    const QString name = std::exchange(m_pendingOpen, QString());
    if (name.isEmpty())
        return;
    ShipPackage package;
    const OpenForEditResult r = OpenPackageForEditing(name, workRoot(), package, packageContext());
    setBusy(false);
    if (!r.ok()) {
        const QString message =
            r.read.status == PackageTooNew ? FormatText(text(OpenTooNewText), name)
            : r.read.status == PackageOlder
                ? FormatText(text(OpenOlderText), name)
                : FormatText(text(OpenFailedText), name, r.error);
        ask(int(Prompter::Icon::Critical), OpenCaption, message, {Ok});
        return;
    }
    setDraft(DraftFromPackage(package));
    markSaved();
    m_current = package;
    m_packagePath = name;
    refreshCaption();
}

void CreateShip::Slot_ExtractShip()
{
    const QString package =
        pickFile(Folder::Packages, text(CreatorText::ExtractCaption), QStringLiteral("(*.xsp)"));
    if (package.isEmpty())
        return;
    const QString dir = FileDialogs::chooseDirectory(this, text(CreatorText::ChooseTargetFolder),
                                                     QFileInfo(package).absolutePath());
    if (dir.isEmpty())
        return;
    startExtraction(package, dir, false);
}

void CreateShip::startExtraction(const QString& package, const QString& targetDir, bool immediate)
{
    using namespace CreatorText;
    m_extractPackage = package;
    m_extractDir = targetDir;
    if (!QFileInfo(targetDir).isDir()) {
        ask(int(Prompter::Icon::Warning), ExtractCaption,
            text(NoTargetDirText) + QLatin1Char(' ') + targetDir, {Ok});
        return;
    }
    if (immediate) {
        Slot_StartExtract();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    statusBar()->showMessage(text(ExtractingStatus) + QLatin1Char(' ') + package + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, [this] {
        Slot_StartExtract();
        QApplication::restoreOverrideCursor();
    });
}

void CreateShip::Slot_StartExtract()
{
    using namespace CreatorText;
    PackageContext context = packageContext();
    context.prompter = nullptr;
    const ExtractionResult r =
        ExtractShipPackage(m_extractPackage, m_extractDir, m_settings.prefixNames, context);
    statusBar()->clearMessage();
    m_progress->hide();
    if (r.outcome == ExtractionResult::NoTarget)
        ask(int(Prompter::Icon::Warning), ExtractCaption,
            text(NoTargetDirText) + QLatin1Char(' ') + m_extractDir, {Ok});
    else if (r.outcome == ExtractionResult::Unreadable || !r.notWritten.isEmpty())
        ask(int(Prompter::Icon::Warning), ExtractCaption,
            FormatText(text(ExtractFailedText), m_extractPackage,
                       r.outcome == ExtractionResult::Unreadable ? r.error : r.notWritten.join("; ")),
            {Ok});
    else
        ask(int(Prompter::Icon::Information), ExtractCaption,
            FormatText(text(ExtractDoneText), m_extractDir) +
                (r.keptBeside.isEmpty() ? QString() : QStringLiteral("\n\n") + r.keptBeside.join(QLatin1Char('\n'))),
            {Ok});
}

// ---- the import wizard

void CreateShip::Slot_ImportWizard()
{
    using namespace CreatorText;
    if (editMode())
        return;
    const QString catalog = pickFile(Folder::Mods, text(ChooseCatalog),
                                     text(CatalogFilter) + QStringLiteral(" (*.cat)"));
    if (catalog.isEmpty())
        return;
    // The import replaces the ship being edited.
    if (hasUnsavedChanges() &&
        ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    const ImportLog logLine = [this](const QString& line) { log(line); };
    // The session's temporary files go when it does, whichever way the wizard ends.
    ModImport session(catalog, workRoot(), m_settings.baseLanguage, logLine);
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = session.open(&error);
    QApplication::restoreOverrideCursor();
    if (!opened) {
        ask(int(Prompter::Icon::Warning), WizardCaption, FormatText(text(NoShipTableText), catalog, error), {Ok});
        return;
    }
    DImportWizard::Options options;
    options.programDir = m_programDir;
    options.workDir = workDir("temp");
    options.compiler.compile = m_settings.bodcomp;
    options.compiler.compiler = m_settings.bodcompPath;
    options.textDir = folderFor(Folder::Texts);
    options.log = logLine;
    DImportWizard wizard(session, m_texts, options, this);
    if (ModalDialogs::exec(wizard) != QDialog::Accepted)
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    statusBar()->showMessage(text(ImportingStatus) + QLatin1Char(' ') + catalog + QStringLiteral("..."));
    ShipDraft imported = NewShipDraft(m_settings, m_classes);
    const ImportFinish done = session.finish(wizard.choice(), imported);
    setDraft(imported);
    m_current.reset();
    m_packagePath.clear();
    refreshCaption();
    QApplication::restoreOverrideCursor();
    statusBar()->showMessage(
        FormatText(
            text(ImportDoneText), imported.name,
            CountText(m_texts, int(DraftTreeFiles(imported.models).size()), OneModel, Models),
            CountText(m_texts, int(DraftTreeFiles(imported.others).size()), OneOtherFile,
                      OtherFiles)),
        8000);
    if (!done.skipped.isEmpty())
        ask(int(Prompter::Icon::Warning), WizardCaption,
            FormatText(text(ImportSkippedText), done.skipped.join(QLatin1Char('\n'))), {Ok});
}
