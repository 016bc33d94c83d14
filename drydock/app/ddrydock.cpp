#include "ddrydock.h"

#include "changehistory.h"
#include "csocket.h"
#include "dconfig.h"
#include "dcheckup.h"
#include "verify.h"
#include "dshipupdate.h"
#include "dslipway.h"
#include "dupdate.h"
#include "fileutils.h"
#include "gamedir.h"
#include "installerengine.h"
#include "installertexts.h"
#include "sysregistry.h"
#include "ui_drydock.h"
#include "uiseams_qt.h"
#include "updatecheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QIcon>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

namespace {

constexpr int kStartDelayMs = 100;
constexpr int kListenRetryMs = 500;
const QString kLogName = QStringLiteral("installer_debug");

} // namespace

QWidget* createMainWindow(const QString& programDir)
{
    auto* window = new DDrydock(programDir);
    window->startListening(kSingleInstancePort);
    return window;
}

DDrydock::DDrydock(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir), m_ui(std::make_unique<Ui::Drydock>())
{
    m_ui->setupUi(this);
    setWindowIcon(applicationIcon(m_programDir));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setMaximumWidth(240);
    m_progress->hide();
    statusBar()->addPermanentWidget(m_progress);
    m_prompter = std::make_unique<QtPrompter>(this);
    m_progressSink = std::make_unique<QtProgressSink>(m_progress);
    m_statusSink = std::make_unique<QtStatusSink>(statusBar());

    ReadInstallerSettings(m_programDir, m_settings);
    ChangeHistory::setLimits({m_settings.undoChanges, qint64(m_settings.undoMiB) << 20});
    loadTexts();
    // The game of the selected directory reads its mod from its own prefix's registry.
    m_systemRegistry = CreateCurrentGameRegistry(
        m_programDir, [this] { return m_engine ? m_engine->gameDir() : QString(); },
        [this](const QString& dir) { return FindGamePrefix(dir, m_foundGames); });

    InstallerEngine::Services services;
    services.programDir = m_programDir;
    services.systemRegistry = m_systemRegistry.get();
    services.installerTexts = &m_texts.ownTexts();
    services.sharedTexts = &m_texts.sharedTexts();
    services.prompter = m_prompter.get();
    services.progress = m_progressSink.get();
    services.status = m_statusSink.get();
    services.log = [this](const QString& line) { AddLog(line); };
    // The file's language list does not depend on the language that is read.
    for (const UiTexts::Language& l : m_texts.languages())
        services.knownLanguageIds.append(l.id);
    m_engine = std::make_unique<InstallerEngine>(std::move(services), m_settings);

    DSlipway* slipway = m_ui->slipway;
    slipway->attach({m_engine.get(), &m_texts, m_programDir, m_prompter.get(), m_statusSink.get(),
                     &m_settings, [this] { writeSettings(); }});
    connect(slipway, &DSlipway::Signal_EnableGui, this, &DDrydock::SetControls);
    connect(slipway, &DSlipway::Signal_AddLog, this, &DDrydock::AddLog);
    retranslate();

    {
        // Every game found on this machine is offered; the first one becomes current
        // only when no directory is known yet.
        const std::unique_ptr<SystemRegistry> platform = CreateSystemRegistry(m_programDir);
        DiscoveryEnvironment env = ProcessDiscoveryEnvironment();
        env.log = [this](const QString& line) { AddLog(QStringLiteral("(GAMEDIR) ") + line); };
        m_foundGames = DiscoverGameInstalls(platform.get(), env);
        GameDirList dirs;
        dirs.dirs = m_settings.installDirs;
        for (const GameInstall& game : std::as_const(m_foundGames))
            dirs.offer(game.dir);
        if (m_settings.installDirs.isEmpty() && !dirs.dirs.isEmpty())
            m_engine->installProgramScripts(dirs.current());
        m_settings.installDirs = dirs.dirs;
    }
    fillDirectoryBox();
    if (m_settings.installDirs.isEmpty()) {
        // A first start: say what the folder question is for before asking it.
        using namespace InstallerText;
        m_prompter->ask(Prompter::Icon::Information, installerText(ChooseGameDir),
                        installerText(FirstStartText), {installerText(Ok)});
        Slot_GetDirectory();
    }

    writeSettings();
    const QString current = m_settings.installDirs.value(0);
    if (m_engine->gameDir() != current) {
        const int textOption = m_settings.textOption;
        const int textCustom = m_settings.textCustom;
        m_engine->setGameDir(current);
        // The game-language question may have chosen the extra text language.
        if (m_settings.textOption != textOption || m_settings.textCustom != textCustom)
            writeSettings();
        showWriteRefusal();
        m_engine->showBrokenRegistry();
    }
    slipway->fillBaseModBox();
    slipway->refreshList();
    SetControls(true);

    connect(m_ui->browseButton, &QPushButton::clicked, this, &DDrydock::Slot_GetDirectory);
    connect(m_ui->directoryBox, &QComboBox::textActivated, this, &DDrydock::Slot_ComboDir);
    connect(m_ui->actionInstall, &QAction::triggered, this, &DDrydock::Slot_Install);
    connect(m_ui->actionUninstall, &QAction::triggered, this, &DDrydock::Slot_Uninstall);
    connect(m_ui->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(m_ui->actionConfig, &QAction::triggered, this, &DDrydock::Slot_Config);
    connect(m_ui->actionUpdateShips, &QAction::triggered, this, &DDrydock::Slot_ShipUpdate);
    connect(m_ui->actionUpdateProgram, &QAction::triggered, this, &DDrydock::Slot_ProgramUpdate);
    connect(m_ui->actionUpdateMod, &QAction::triggered, this, &DDrydock::Slot_UpdateMod);
    connect(m_ui->actionRedoBaseMod, &QAction::triggered, this, &DDrydock::Slot_RedoBaseMod);
    connect(verifyAction(), &QAction::triggered, this, &DDrydock::Slot_Verify);
    editMenu();
    connect(m_undoAction, &QAction::triggered, this, &DDrydock::Slot_Undo);
    connect(m_redoAction, &QAction::triggered, this, &DDrydock::Slot_Redo);
    connect(m_historyAction, &QAction::triggered, this, &DDrydock::Slot_History);
    connect(m_editMenu, &QMenu::aboutToShow, this, &DDrydock::refreshUndo);

    AddLog(QStringLiteral("Ship Installed Started"));
}

DDrydock::~DDrydock()
{
    if (m_waitCursor)
        QApplication::restoreOverrideCursor();
}

QIcon DDrydock::applicationIcon(const QString& programDir)
{
    // The name the desktop integration installs the icon under (share/icons).
    QIcon icon = QIcon::fromTheme(QStringLiteral("vega-drydock"));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        return icon;
    icon = QIcon();
    for (const char* name : {"drydock-256.png", "drydock-48.png"}) {
        const QString file = programDir + QStringLiteral("/Icons/") + QLatin1String(name);
        if (QFileInfo(file).isFile())
            icon.addFile(file);
    }
    return icon;
}

QStringList DDrydock::programMirrors() const
{
    return UpdateCheck::ProgramMirrors(m_settings.updateMirrors);
}

void DDrydock::setListenRetry(int tries, int intervalMs)
{
    m_maxListenTries = qMax(0, tries);
    if (m_listenRetry)
        m_listenRetry->setInterval(intervalMs);
    else {
        m_listenRetry = new QTimer(this);
        m_listenRetry->setInterval(intervalMs);
        connect(m_listenRetry, &QTimer::timeout, this, &DDrydock::retryListening);
    }
}

void DDrydock::startListening(quint16 port)
{
    if (m_server)
        return;
    m_server = new CServerSocket(this, port);
    connect(m_server, &CServerSocket::receivedText, this, &DDrydock::Slot_ReadInputText);
    connect(m_server, &CServerSocket::Signal_AddLog, this, &DDrydock::AddLog);
    connect(m_server, &CServerSocket::refusedPath, this, [this](const QString& path) {
        if (m_ui->directoryBox->count() > 0)
            m_ui->slipway->reportRefusedPath(path);
    });
    m_listenPort = port;
    if (m_server->isListening()) {
        AddLog(QStringLiteral("Starting listen server on port ") +
               QString::number(m_server->serverPort()));
        return;
    }
    AddLog(QStringLiteral("Cannot listen on port ") + QString::number(port) + QStringLiteral(": ") +
           m_server->errorString() + QStringLiteral(", trying again"));
    if (!m_listenRetry)
        setListenRetry(m_maxListenTries, kListenRetryMs);
    m_listenTries = 0;
    m_listenRetry->start();
}

void DDrydock::retryListening()
{
    if (m_server->listen(QHostAddress(QHostAddress::LocalHost), m_listenPort)) {
        m_listenRetry->stop();
        AddLog(QStringLiteral("Starting listen server on port ") +
               QString::number(m_server->serverPort()));
        return;
    }
    if (++m_listenTries < m_maxListenTries)
        return;
    m_listenRetry->stop();
    const QString why = m_server->errorString();
    AddLog(QStringLiteral("Cannot listen on port ") + QString::number(m_listenPort) +
           QStringLiteral(": ") + why +
           QStringLiteral("; packages from other starts will not arrive"));
    using namespace InstallerText;
    // Another window may already run on this machine; the game directory's lock
    // keeps it from writing what this one writes, but its packages go there.
    m_prompter->ask(
        Prompter::Icon::Warning, installerText(NoListenCaption),
        FormatText(installerText(NoListenText), QString::number(m_listenPort), why.toHtmlEscaped()),
        {installerText(Ok)});
}

void DDrydock::showWriteRefusal()
{
    const QString refusal = m_engine->writeRefusal();
    if (refusal.isEmpty())
        return;
    using namespace InstallerText;
    m_prompter->ask(Prompter::Icon::Warning, installerText(GameLockedCaption),
                    FormatText(installerText(GameLockedText), refusal.toHtmlEscaped()),
                    {installerText(Ok)});
}

DSlipway* DDrydock::shipList() const
{
    return m_ui->slipway;
}

QComboBox* DDrydock::directoryBox() const
{
    return m_ui->directoryBox;
}

void DDrydock::loadTexts()
{
    const QString file = m_programDir + QStringLiteral("/hw_languages.xml");
    m_texts.load(file, m_settings.language);
    if (!m_settings.languageChosen) {
        // A first start speaks the system's language when the file has it.
        m_settings.language = UiTexts::languageFor(m_texts.languages(), QLocale());
        m_settings.languageChosen = true;
        m_texts.load(file, m_settings.language);
    }
    // A language the file no longer offers would leave every text a placeholder.
    const QString english = QStringLiteral("English");
    bool offered = false;
    for (const UiTexts::Language& l : m_texts.languages())
        offered = offered || l.name.compare(m_settings.language, Qt::CaseInsensitive) == 0;
    if (!offered && m_settings.language.compare(english, Qt::CaseInsensitive) != 0)
        m_texts.load(file, english);
    InstallToolkitTranslation(m_texts.localeLanguage(offered ? m_settings.language : english));
}

void DDrydock::retranslate()
{
    using namespace InstallerText;
    setWindowTitle(PlainUiText(installerText(Caption)) + QStringLiteral(" V") +
                   QString::asprintf("%.2f", kVersion));
    m_ui->menuFile->setTitle(installerText(MenuFile));
    m_ui->menuSettings->setTitle(installerText(MenuSettings));
    m_ui->menuUpdate->setTitle(installerText(MenuUpdate));
    m_ui->actionInstall->setText(installerText(InstallShips));
    m_ui->actionUninstall->setText(installerText(UninstallShip));
    m_ui->actionExit->setText(installerText(Exit));
    m_ui->actionConfig->setText(installerText(Configuration));
    m_ui->actionUpdateShips->setText(installerText(UpdateShips));
    m_ui->actionUpdateProgram->setText(installerText(UpdateProgram));
    m_ui->actionUpdateMod->setText(installerText(UpdateMod));
    m_ui->actionRedoBaseMod->setText(installerText(RedoBaseMod));
    verifyAction()->setText(installerText(VerifyMenu));
    editMenu()->setTitle(installerText(MenuEdit));
    m_historyAction->setText(installerText(HistoryMenu));
    refreshUndo();
    const QString icons = m_programDir + QStringLiteral("/Icons/");
    m_ui->actionInstall->setIcon(QIcon(icons + QStringLiteral("install.png")));
    m_ui->actionUninstall->setIcon(QIcon(icons + QStringLiteral("uninstall.png")));
    // Greyed out without mirrors; the tooltip says why.
    m_ui->menuUpdate->setToolTipsVisible(true);
    m_ui->actionUpdateProgram->setToolTip(programMirrors().isEmpty()
                                              ? PlainUiText(installerText(NoUpdateMirrors))
                                              : PlainUiText(installerText(UpdateProgram)));
    m_ui->directoryLabel->setText(installerText(GameDirLabel));
    m_ui->browseButton->setText(installerText(Browse));
    m_ui->slipway->retranslate();
}

void DDrydock::fillDirectoryBox()
{
    const QSignalBlocker blocker(m_ui->directoryBox);
    m_ui->directoryBox->clear();
    m_ui->directoryBox->addItems(m_settings.installDirs);
    m_ui->directoryBox->setCurrentIndex(m_settings.installDirs.isEmpty() ? -1 : 0);
}

void DDrydock::writeSettings()
{
    if (!WriteInstallerSettings(m_programDir, m_settings))
        AddLog(QStringLiteral("Could not write the settings: ") + m_programDir +
               QStringLiteral("/config.dat"));
}

void DDrydock::AddLog(const QString& line)
{
    m_lastLog = line;
    if (m_settings.debugLog)
        WriteLog(m_programDir, kLogName, line);
}

void DDrydock::SetControls(bool enable)
{
    const bool haveDir = m_engine && !m_engine->gameDir().isEmpty();
    m_ui->directoryBox->setEnabled(enable);
    m_ui->browseButton->setEnabled(enable);
    m_ui->actionConfig->setEnabled(enable);
    m_ui->actionUpdateProgram->setEnabled(enable && !programMirrors().isEmpty());
    for (QAction* action : {m_ui->actionInstall, m_ui->actionUninstall, m_ui->actionUpdateShips,
                            m_ui->actionUpdateMod, m_ui->actionRedoBaseMod, verifyAction()})
        action->setEnabled(enable && haveDir);
    m_ui->slipway->setEnabled(enable && haveDir);
    editMenu()->setEnabled(enable && haveDir);
    m_historyAction->setEnabled(enable && haveDir);
    if (enable)
        refreshUndo();

    if (enable) {
        m_progress->hide();
        statusBar()->clearMessage();
        if (m_waitCursor) {
            QApplication::restoreOverrideCursor();
            m_waitCursor = false;
        }
        if (m_closeRequested) {
            m_closeRequested = false;
            QTimer::singleShot(0, this, &QWidget::close);
        }
    } else {
        m_progressSink->setTotal(0);
        m_progress->show();
        if (!m_waitCursor) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_waitCursor = true;
        }
    }
}

void DDrydock::Slot_ReadInputText(const QString& text)
{
    QString path = text;
    path.remove(QLatin1Char('\r'));
    path.remove(QLatin1Char('\n'));
    path.remove(QChar(0));
    if (path.trimmed().isEmpty())
        return;
    if (m_ui->directoryBox->count() == 0) {
        using namespace InstallerText;
        m_prompter->ask(Prompter::Icon::Critical, installerText(NoGameDirCaption),
                        installerText(NoGameDirText), {installerText(Ok)});
        return;
    }
    m_ui->slipway->queuePackages({path});
}

void DDrydock::Slot_GetDirectory()
{
    using namespace InstallerText;
    const QString current = m_engine->gameDir();
    QString dir = FileDialogs::chooseDirectory(this, installerText(ChooseGameDir),
                                               current.isEmpty() ? QDir::homePath() : current);
    if (dir.isEmpty())
        return;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    GameDirList dirs;
    dirs.dirs = m_settings.installDirs;
    if (!dirs.choose(dir)) {
        m_prompter->ask(Prompter::Icon::Critical, installerText(InvalidDirCaption),
                        FormatText(installerText(InvalidDirText), QDir::toNativeSeparators(dir)),
                        {installerText(Ok)});
        return;
    }
    if (!current.isEmpty()) {
        m_engine->saveRegistry();
        // The old directory's mod must follow its changes before it is left.
        if (m_engine->modChanged() && dirs.current() != current && !updateMod())
            m_prompter->ask(Prompter::Icon::Warning, installerText(ModNotUpdatedCaption),
                            installerText(ModNotUpdatedText), {installerText(Ok)});
    }
    m_settings.installDirs = dirs.dirs;
    fillDirectoryBox();
    m_engine->installProgramScripts(dirs.current());
    writeSettings();
    m_engine->setGameDir(dirs.current());
    showWriteRefusal();
    m_engine->showBrokenRegistry();
    m_ui->slipway->fillBaseModBox();
    m_ui->slipway->refreshList();
    SetControls(true);
    // Nothing can be regenerated from a broken registry; closing must not insist.
    m_engine->setModChanged(!m_engine->registryBroken());
}

void DDrydock::Slot_ComboDir(const QString& dir)
{
    if (dir == m_engine->gameDir() || m_ui->slipway->isBusy())
        return;
    m_ui->slipway->beginOperation(installerText(InstallerText::ChangingGameDir) +
                                  QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, [this, dir] { switchDirectory(dir); });
}

void DDrydock::switchDirectory(const QString& dir)
{
    using namespace InstallerText;
    GameDirList dirs;
    dirs.dirs = m_settings.installDirs;
    if (!dirs.choose(dir)) {
        // Gone since it was listed (the game was moved or uninstalled).
        m_settings.installDirs.removeAll(dir);
        fillDirectoryBox();
        writeSettings();
        m_prompter->ask(Prompter::Icon::Critical, installerText(InvalidDirCaption),
                        FormatText(installerText(InvalidDirText), QDir::toNativeSeparators(dir)),
                        {installerText(Ok)});
        m_ui->slipway->endOperation();
        return;
    }
    if (!m_engine->gameDir().isEmpty()) {
        m_engine->saveRegistry();
        if (m_engine->modChanged() && !updateMod())
            m_prompter->ask(Prompter::Icon::Warning, installerText(ModNotUpdatedCaption),
                            installerText(ModNotUpdatedText), {installerText(Ok)});
    }
    m_settings.installDirs = dirs.dirs;
    fillDirectoryBox();
    writeSettings();
    m_engine->setGameDir(dirs.current());
    showWriteRefusal();
    m_engine->showBrokenRegistry();
    m_ui->slipway->fillBaseModBox();
    m_ui->slipway->refreshList();
    m_engine->setModChanged(false);
    m_ui->slipway->endOperation();
}

void DDrydock::Slot_Enabled()
{
    m_ui->slipway->Slot_Enabled();
}

void DDrydock::Slot_Uninstall()
{
    m_ui->slipway->Slot_Uninstall();
}

void DDrydock::Slot_Install()
{
    m_ui->slipway->Slot_Install();
}

void DDrydock::Slot_RedoBaseMod()
{
    m_ui->slipway->Slot_RedoBaseMod();
}

bool DDrydock::updateMod()
{
    if (!m_engine->updateMod())
        return false;
    m_engine->saveRegistry();
    m_engine->setModChanged(false);
    return true;
}

void DDrydock::Slot_UpdateMod()
{
    if (m_engine->gameDir().isEmpty() || m_ui->slipway->isBusy())
        return;
    m_ui->slipway->beginOperation(installerText(InstallerText::UpdatingMod) +
                                  QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DDrydock::Slot_Update);
}

QAction* DDrydock::verifyAction()
{
    if (!m_verifyAction) {
        m_verifyAction = new QAction(this);
        m_verifyAction->setObjectName(QStringLiteral("actionVerify"));
        m_ui->menuUpdate->insertAction(m_ui->actionRedoBaseMod, m_verifyAction);
    }
    return m_verifyAction;
}

QMenu* DDrydock::editMenu()
{
    if (!m_editMenu) {
        m_editMenu = new QMenu(this);
        m_editMenu->setObjectName(QStringLiteral("menuEdit"));
        m_ui->menuBar->insertMenu(m_ui->menuSettings->menuAction(), m_editMenu);
        m_undoAction = m_editMenu->addAction(QString());
        m_undoAction->setObjectName(QStringLiteral("actionUndo"));
        m_undoAction->setShortcut(QKeySequence::Undo);
        m_redoAction = m_editMenu->addAction(QString());
        m_redoAction->setObjectName(QStringLiteral("actionRedo"));
        m_redoAction->setShortcut(QKeySequence::Redo);
        m_historyAction = new QAction(this);
        m_historyAction->setObjectName(QStringLiteral("actionHistory"));
        m_ui->menuFile->insertAction(m_ui->actionExit, m_historyAction);
        m_ui->menuFile->insertSeparator(m_ui->actionExit);
    }
    return m_editMenu;
}

void DDrydock::refreshUndo()
{
    using namespace InstallerText;
    editMenu();
    QList<HistoryEntry> entries;
    if (m_engine && !m_engine->gameDir().isEmpty())
        ChangeHistory::read(m_engine->gameDir(), &entries);
    const HistoryEntry* undo = ChangeHistory::nextUndo(entries);
    const HistoryEntry* redo = ChangeHistory::nextRedo(entries);
    const bool idle = !m_ui->slipway->isBusy() && m_engine && m_engine->writeRefusal().isEmpty();
    // A name's own "&" must not become a shortcut marker.
    const auto name = [this](const HistoryEntry& e) {
        return HistoryLabelText(m_texts, e).replace(QLatin1Char('&'), QStringLiteral("&&"));
    };
    m_undoAction->setText(undo ? FormatText(installerText(UndoMenu), name(*undo)) : installerText(UndoNothing));
    m_redoAction->setText(redo ? FormatText(installerText(RedoMenu), name(*redo)) : installerText(RedoNothing));
    m_undoAction->setEnabled(undo && idle);
    m_redoAction->setEnabled(redo && idle);
}

void DDrydock::Slot_Undo()
{
    undo(false);
}

void DDrydock::Slot_Redo()
{
    undo(true);
}

void DDrydock::undo(bool redo)
{
    using namespace InstallerText;
    if (m_engine->gameDir().isEmpty() || m_ui->slipway->isBusy())
        return;
    QString error;
    HistoryEntry done;
    ChangeHistory::Refusal refusal;
    const bool ok = m_engine->undo(redo, &error, &done, &refusal);
    if (done.id != 0)
        AddLog(HistoryOperationText(m_texts, done));
    m_ui->slipway->fillBaseModBox();
    m_ui->slipway->refreshList();
    refreshUndo();
    if (!ok)
        m_prompter->ask(Prompter::Icon::Warning, installerText(UndoFailedCaption),
                        FormatText(installerText(UndoFailedText),
                                   UndoRefusalText(m_texts, refusal, redo, error)),
                        {installerText(Ok)});
}

void DDrydock::Slot_History()
{
    QList<HistoryEntry> entries;
    QString error;
    if (!ChangeHistory::read(m_engine->gameDir(), &entries, &error))
        AddLog(QStringLiteral("(HISTORY) ") + error);
    DHistory dialog(m_texts, entries, this);
    dialog.exec();
}

void DDrydock::Slot_Verify()
{
    if (m_engine->gameDir().isEmpty() || m_ui->slipway->isBusy())
        return;
    m_ui->slipway->beginOperation(PlainUiText(installerText(InstallerText::VerifyCaption)) +
                                  QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DDrydock::Slot_RunVerify);
}

void DDrydock::Slot_RunVerify()
{
    // Only reads: the window's own lock stays as it is, nothing is put right.
    const VerifyReport report =
        VerifyInstallation(m_engine->gameDir(), m_engine->services(), m_engine->settings());
    AddLog(QStringLiteral("Verify Installation: %1 problems").arg(report.problems.size()));
    for (const QString& line : report.lines())
        AddLog(QStringLiteral("(VERIFY) ") + line);
    m_ui->slipway->endOperation();
    DVerify dialog(m_texts, report, this);
    dialog.exec();
}

void DDrydock::Slot_Update()
{
    using namespace InstallerText;
    m_lastLog.clear();
    const bool ok = updateMod();
    writeSettings();
    if (!ok && !m_engine->updateDeclined()) {
        m_engine->saveRegistry();
        // The engine's reason, e.g. the game running in its prefix.
        const QString reason = m_engine->updateFailure().isEmpty() ? m_lastLog : m_engine->updateFailure();
        const QString why = reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason;
        m_prompter->ask(Prompter::Icon::Warning, installerText(ModNotUpdatedCaption),
                        installerText(ModNotUpdatedText) + why, {installerText(Ok)});
    }
    m_ui->slipway->endOperation();
}

void DDrydock::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closeScheduled)
        return;
    if (m_ui->slipway->isBusy()) {
        m_closeRequested = true;
        return;
    }
    if (!m_engine->modChanged() || m_engine->gameDir().isEmpty()) {
        saveState();
        m_closing = true;
        event->accept();
        return;
    }
    m_closeScheduled = true;
    m_ui->slipway->beginOperation(installerText(InstallerText::Closing) + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DDrydock::Slot_Close);
}

void DDrydock::Slot_Close()
{
    using namespace InstallerText;
    m_closeScheduled = false;
    if (m_engine->modChanged() && !m_engine->gameDir().isEmpty()) {
        // Closing without the regenerated tables would leave the game with tables
        // that do not match the installed ships: let the user decide.
        while (!updateMod() && !m_engine->updateDeclined()) {
            const int answer = m_prompter->ask(
                Prompter::Icon::Warning, installerText(ModNotUpdatedCaption),
                installerText(ModNotUpdatedText),
                {installerText(TryAgain), installerText(CloseAnyway), installerText(Cancel)}, 0, 2);
            if (answer == 1)
                break;
            if (answer != 0) {
                m_ui->slipway->endOperation();
                return;
            }
        }
    }
    saveState();
    m_closing = true;
    close();
}

void DDrydock::saveState()
{
    if (!m_engine->gameDir().isEmpty())
        m_engine->saveRegistry();
    writeSettings();
}

void DDrydock::Slot_Config()
{
    DConfig dialog(m_texts, m_settings, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const InstallerSettings chosen = dialog.settings();
    m_engine->setModChanged(true);
    m_settings.textCustom = chosen.textCustom;
    m_settings.textOption = chosen.textOption;
    m_settings.textSelect = chosen.textSelect;
    m_settings.language = chosen.language;
    if (m_settings.debugLog && !chosen.debugLog) {
        AddLog(QStringLiteral("Debug log has been disabled"));
        m_settings.debugLog = false;
    } else if (!m_settings.debugLog && chosen.debugLog) {
        m_settings.debugLog = true;
        AddLog(QStringLiteral("Debug log has been enabled"));
    }
    if (m_settings.loadingScreens != chosen.loadingScreens) {
        m_settings.loadingScreens = chosen.loadingScreens;
        if (m_settings.loadingScreens)
            m_engine->copyAllLoadingScreens();
        else
            m_engine->removeAllLoadingScreens();
    }
    m_settings.baseType = chosen.baseType;
    loadTexts();
    retranslate();
    writeSettings();
}

void DDrydock::Slot_ShipUpdate()
{
    if (m_engine->gameDir().isEmpty())
        return;
    // Modeless and self-deleting; an open one is raised instead of opening a second.
    if (m_shipUpdate) {
        m_shipUpdate->raise();
        return;
    }
    DShipUpdate::Context context;
    context.engine = m_engine.get();
    context.texts = &m_texts;
    context.programDir = m_programDir;
    context.prompter = m_prompter.get();
    context.shipList = m_ui->slipway;
    m_shipUpdate = new DShipUpdate(context, this);
    m_shipUpdate->show();
}

void DDrydock::Slot_ProgramUpdate()
{
    if (programMirrors().isEmpty())
        return;
    if (m_programUpdate) {
        m_programUpdate->raise();
        return;
    }
    DUpdate::Context context;
    context.texts = &m_texts;
    context.programDir = m_programDir;
    context.prompter = m_prompter.get();
    context.mirrors = programMirrors();
    m_programUpdate = new DUpdate(context, this);
    connect(m_programUpdate, &DUpdate::Signal_CloseOwner, this, &QWidget::close);
    m_programUpdate->show();
}
