#include "createship.h"
#include "createship_parts.h"
#include "workfolder.h"

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

CreateShip::CreateShip(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir),
      m_work(std::make_unique<WindowWorkFolder>(programDir)),
      m_ui(std::make_unique<Ui::DCreateShip>())
{
    m_ui->setupUi(this);
    m_prompter = std::make_unique<QtPrompter>(this);
    if (!ReadCreatorSettings(m_programDir, m_settings))
        log(QStringLiteral("Cannot read ") + m_programDir + QStringLiteral("/config.dat; using the defaults"));
    loadTexts();
    retranslate();

    Ui::DCreateShip& ui = *m_ui;
    for (WListView* list : {ui.modelList, ui.otherList, ui.scriptList, ui.textList, ui.dummyList,
                            ui.compList, ui.cockpitList}) {
        list->setDecoding(WListView::Decoding::Full);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    ui.rawDataEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Paths are long and sizes short: the path column takes the room.
    for (WListView* list : {ui.modelList, ui.otherList, ui.scriptList}) {
        list->header()->setStretchLastSection(false);
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    }
    ui.textList->setColumnWidth(0, 90);
    ui.textList->setColumnWidth(1, 220);
    ui.dummyList->setColumnWidth(0, 220);
    ui.compList->setColumnWidth(0, 260);
    ui.cockpitList->setColumnWidth(0, 70);
    connect(ui.modelList, &WListView::DroppedFile, this, &CreateShip::Slot_Dropped);
    connect(ui.otherList, &WListView::DroppedFile, this, &CreateShip::Slot_OtherDropped);
    connect(ui.scriptList, &WListView::DroppedFile, this, &CreateShip::Slot_ScriptDropped);
    connect(ui.modelList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_ModelMenu);
    connect(ui.otherList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_OtherMenu);
    connect(ui.scriptList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_ScriptMenu);
    connect(ui.textList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_TextMenu);
    connect(ui.dummyList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_DummyMenu);
    connect(ui.compList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_CompMenu);
    connect(ui.cockpitList, &QWidget::customContextMenuRequested, this, &CreateShip::Slot_CockpitMenu);
    connect(ui.textList, &QTreeWidget::itemDoubleClicked, this, &CreateShip::Slot_DCTextMenu);

    connect(ui.actionLoadShip, &QAction::triggered, this, &CreateShip::Slot_LoadShip);
    connect(ui.loadShipButton, &QPushButton::clicked, this, &CreateShip::Slot_LoadShip);
    connect(ui.actionNew, &QAction::triggered, this, &CreateShip::Slot_New);
    connect(ui.actionExit, &QAction::triggered, this, &CreateShip::Slot_Close);
    connect(ui.closeButton, &QPushButton::clicked, this, &CreateShip::Slot_Close);
    connect(ui.actionConfig, &QAction::triggered, this, &CreateShip::Slot_Config);
    connect(ui.importDummyButton, &QPushButton::clicked, this, &CreateShip::Slot_ImportDummy);
    connect(ui.importCompButton, &QPushButton::clicked, this, &CreateShip::Slot_ImportComp);
    connect(ui.importCockpitButton, &QPushButton::clicked, this, &CreateShip::Slot_LoadCockpit);
    connect(ui.pictureBrowseButton, &QPushButton::clicked, this, &CreateShip::Slot_SelectPic);
    connect(ui.sceneBrowseButton, &QPushButton::clicked, this, &CreateShip::Slot_SelectSceneFile);
    connect(ui.cockpitBrowseButton, &QPushButton::clicked, this, &CreateShip::Slot_SelectSceneFileCp);
    connect(ui.sceneClearButton, &QPushButton::clicked, this, &CreateShip::Slot_ClearShipScene);
    connect(ui.cockpitClearButton, &QPushButton::clicked, this, &CreateShip::Slot_ClearCockpitScene);
    connect(ui.actionCustomise, &QAction::triggered, this, &CreateShip::Slot_CustomiseShip);
    connect(ui.customiseButton, &QPushButton::clicked, this, &CreateShip::Slot_CustomiseShip);
    connect(ui.actionSave, &QAction::triggered, this, &CreateShip::Slot_Save);
    connect(ui.saveButton, &QPushButton::clicked, this, &CreateShip::Slot_Save);
    connect(ui.actionSaveAs, &QAction::triggered, this, &CreateShip::Slot_SaveAs);
    connect(ui.saveAsButton, &QPushButton::clicked, this, &CreateShip::Slot_SaveAs);
    connect(ui.actionOpen, &QAction::triggered, this, &CreateShip::Slot_Open);
    connect(ui.actionExtract, &QAction::triggered, this, &CreateShip::Slot_ExtractShip);
    connect(ui.actionImportWizard, &QAction::triggered, this, &CreateShip::Slot_ImportWizard);
    connect(ui.importWizardButton, &QPushButton::clicked, this, &CreateShip::Slot_ImportWizard);
    connect(ui.actionBalance, &QAction::triggered, this, &CreateShip::Slot_Balance);
    connect(ui.balanceButton, &QPushButton::clicked, this, &CreateShip::Slot_Balance);
    connect(ui.actionProfiles, &QAction::triggered, this, &CreateShip::Slot_ManageProfiles);
    for (QLineEdit* e : {ui.idEdit, ui.nameEdit, ui.authorEdit, ui.versionEdit, ui.webEdit,
                         ui.mirror1Edit, ui.mirror2Edit, ui.sceneNameEdit, ui.sceneFileEdit,
                         ui.cockpitNameEdit, ui.cockpitFileEdit, ui.pictureEdit})
        connect(e, &QLineEdit::textEdited, this, &CreateShip::Slot_Modified);
    for (QCheckBox* c : ui.shipyardGroup->findChildren<QCheckBox*>())
        connect(c, &QCheckBox::toggled, this, &CreateShip::Slot_Modified);
    connect(ui.commentEdit, &QPlainTextEdit::textChanged, this, &CreateShip::Slot_Modified);
    connect(ui.rawDataEdit, &QPlainTextEdit::textChanged, this, &CreateShip::Slot_Modified);
    connect(ui.useTextCheck, &QCheckBox::toggled, ui.textIdSpin, &QWidget::setEnabled);
    // The scene names and the ID are fields of the record: Raw Data follows them.
    for (QLineEdit* e : {ui.idEdit, ui.sceneNameEdit, ui.cockpitNameEdit})
        connect(e, &QLineEdit::textEdited, this, [this] {
            const QString record = draft().record;
            if (record != m_ui->rawDataEdit->toPlainText())
                m_ui->rawDataEdit->setPlainText(record);
        });

    m_classes = ReadNumberedNames(m_programDir + QStringLiteral("/data/classes"));
    setDraft(NewShipDraft(m_settings, m_classes));
    markSaved();
    QString error;
    if (!MakeDirChecked(workDir("temp"), &error))
        log(error);

    m_systemRegistry = CreateSystemRegistry(m_programDir);
    GameDirList dirs;
    dirs.dirs = m_settings.gameDirs;
    dirs.discover(*m_systemRegistry);
    // Games in Steam libraries and Wine prefixes are offered as in the installer.
    DiscoveryEnvironment env = ProcessDiscoveryEnvironment();
    env.log = [this](const QString& line) { log(QStringLiteral("(GAMEDIR) ") + line); };
    for (const GameInstall& game : DiscoverGameInstalls(m_systemRegistry.get(), env))
        dirs.offer(game.dir);
    m_settings.gameDirs = dirs.dirs;
    if (m_settings.gameDirs.isEmpty())
        askFirstGameDir();

    m_variants = ReadNumberedNames(m_programDir + QStringLiteral("/data/variant"));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setMaximumWidth(240);
    m_progress->hide();
    statusBar()->addPermanentWidget(m_progress);
    m_progressSink = std::make_unique<QtProgressSink>(m_progress);
    m_statusSink = std::make_unique<QtStatusSink>(statusBar());
    resize(1000, 620);
}

CreateShip::~CreateShip() = default;

QString CreateShip::icon(const char* name) const
{
    return m_programDir + QStringLiteral("/Icons/") + QLatin1String(name);
}

QString CreateShip::workDir(const char* folder) const
{
    return workRoot() + QLatin1Char('/') + QLatin1String(folder);
}

void CreateShip::log(const QString& message)
{
    WriteCreatorLog(m_programDir, message);
}

void CreateShip::loadTexts()
{
    const QString file = m_programDir + QStringLiteral("/hw_languages.xml");
    if (!m_texts.load(file, m_settings.language))
        log(QStringLiteral("Cannot read the UI texts: ") + m_texts.errorString());
    if (!m_settings.languageChosen) {
        // A first start speaks the system's language when the file has it.
        m_settings.language = UiTexts::languageFor(m_texts.languages(), QLocale());
        m_settings.languageChosen = true;
        m_texts.load(file, m_settings.language);
    }
    bool offered = false;
    for (const UiTexts::Language& l : m_texts.languages())
        offered = offered || l.name.compare(m_settings.language, Qt::CaseInsensitive) == 0;
    if (!offered)
        m_texts.load(file, QStringLiteral("English"));
    InstallToolkitTranslation(m_texts.localeLanguage(offered ? m_settings.language : QString()));
}

void CreateShip::retranslate()
{
    using namespace CreatorText;
    Ui::DCreateShip& ui = *m_ui;
    ui.menuFile->setTitle(text(MenuFile));
    ui.menuSettings->setTitle(text(MenuSettings));
    ui.menuTools->setTitle(text(MenuTools));
    const struct
    {
        QAction* action;
        int text;
        const char* key;
    } actions[] = {{ui.actionLoadShip, LoadShip, "Ctrl+L"}, {ui.actionOpen, CreatorText::OpenPackage, "Ctrl+O"},
                   {ui.actionNew, NewShip, "Ctrl+N"}, {ui.actionImportWizard, ImportWizard, "Ctrl+W"},
                   {ui.actionSave, SaveShip, "Ctrl+S"}, {ui.actionSaveAs, SaveAs, "Ctrl+A"},
                   {ui.actionExit, Exit, "Ctrl+X"}, {ui.actionConfig, Configuration, "Ctrl+C"},
                   {ui.actionProfiles, ManageProfiles, "Ctrl+M"}, {ui.actionExtract, ExtractShip, "Ctrl+E"},
                   {ui.actionBalance, BalanceShip, "Ctrl+B"}, {ui.actionCustomise, ConfigureShip, nullptr}};
    for (const auto& a : actions) {
        a.action->setText(text(a.text));
        if (a.key)
            a.action->setShortcut(QKeySequence(QLatin1String(a.key)));
    }
    ui.actionNew->setIcon(QIcon(icon("add.png")));
    ui.actionLoadShip->setIcon(QIcon(icon("ship.png")));
    ui.actionConfig->setIcon(QIcon(icon("edit.png")));
    ui.loadShipButton->setText(text(LoadShipButton));
    ui.loadShipButton->setIcon(QIcon(icon("ship.png")));
    ui.importWizardButton->setText(text(ImportWizardButton));
    ui.customiseButton->setText(text(CustomiseButton));
    ui.balanceButton->setText(text(BalanceButton));
    ui.saveButton->setText(text(SaveButton));
    ui.saveAsButton->setText(text(SaveAsButton));
    ui.closeButton->setText(text(CloseButton));
    const int tabs[] = {TabMain, TabUpdate, TabText, TabScenes, TabModels, TabOther,
                        TabDummies, TabComponents, TabCockpits, TabScripts, TabExtras, TabRaw};
    for (int i = 0; i < ui.tabs->count() && i < int(std::size(tabs)); ++i)
        ui.tabs->setTabText(i, text(tabs[i]));
    ui.idLabel->setText(boldLabel(text(ShipId)));
    ui.nameLabel->setText(boldLabel(text(ShipName)));
    ui.authorLabel->setText(boldLabel(text(Author)));
    ui.versionLabel->setText(boldLabel(text(Version)));
    ui.shipyardGroup->setTitle(text(ShipyardGroup));
    for (int i = 0; i < 8; ++i)
        findChild<QCheckBox*>(QStringLiteral("shipyard%1").arg(i))->setText(text(Shipyard0 + i));
    ui.webLabel->setText(boldLabel(text(WebAddress)));
    ui.mirror1Label->setText(boldLabel(text(Mirror1)));
    ui.mirror2Label->setText(boldLabel(text(Mirror2)));
    ui.updateInfoCheck->setText(text(WriteUpdateInfo));
    ui.useTextCheck->setText(text(UseExistingText));
    ui.textList->setHeaderLabels({text(ColLanguage), text(ShipName), text(ColShipDesc)});
    ui.textList->setEmptyText(text(TextHint));
    ui.sceneLabel->setText(boldLabel(text(ShipScene)));
    ui.sceneFileLabel->setText(boldLabel(text(SceneFile)));
    ui.cockpitLabel->setText(boldLabel(text(CockpitScene)));
    ui.cockpitFileLabel->setText(boldLabel(text(CockpitSceneFile)));
    for (QPushButton* b : {ui.sceneBrowseButton, ui.cockpitBrowseButton, ui.pictureBrowseButton})
        b->setText(text(Browse));
    for (QPushButton* b : {ui.sceneClearButton, ui.cockpitClearButton})
        b->setText(text(Clear));
    ui.modelList->setHeaderLabels({text(ColFile), text(ColSize)});
    ui.modelList->setEmptyText(text(ModelsHint));
    ui.otherList->setHeaderLabels({text(ColFile), text(ColSize)});
    ui.otherList->setEmptyText(text(OtherHint));
    ui.importDummyButton->setText(text(ImportDummies));
    ui.importCompButton->setText(text(ImportComponents));
    ui.importCockpitButton->setText(text(ImportCockpits));
    for (QPushButton* b : {ui.importDummyButton, ui.importCompButton, ui.importCockpitButton})
        b->setIcon(QIcon(icon("import.png")));
    ui.dummyList->setHeaderLabels({text(ColSection), text(ColData)});
    ui.dummyList->setEmptyText(text(DummiesHint));
    ui.compList->setHeaderLabels({text(ColSection), text(ColData)});
    ui.compList->setEmptyText(text(ComponentsHint));
    ui.cockpitList->setHeaderLabels({text(ColIndex), text(ColCockpit)});
    ui.cockpitList->setEmptyText(text(CockpitsHint));
    ui.scriptList->setHeaderLabels({text(ColFile), text(ColSize)});
    ui.scriptList->setEmptyText(text(ScriptsHint));
    ui.pictureLabel->setText(boldLabel(text(ScreenShot)));
    ui.commentLabel->setText(boldLabel(text(Comments)));
    refreshCaption();
}

void CreateShip::refreshCaption()
{
    QString caption = PlainUiText(text(CreatorText::Caption)) + QStringLiteral(" V") +
                      QString::asprintf("%.2f", kVersion);
    if (!m_editModeCaption.isEmpty())
        caption += QStringLiteral(" [") + m_editModeCaption + QLatin1Char(']');
    if (!m_packagePath.isEmpty())
        caption += QStringLiteral(" - ") + m_packagePath;
    setWindowTitle(caption);
}

void CreateShip::saveSettings()
{
    QString error;
    if (!WriteCreatorSettings(m_programDir, m_settings, &error))
        log(QStringLiteral("Settings not saved: ") + error);
}

int CreateShip::ask(int iconKind, int caption, const QString& message, const QList<int>& buttons)
{
    QStringList labels;
    for (int b : buttons)
        labels << text(b);
    return m_prompter->ask(Prompter::Icon(iconKind), text(caption), message, labels, 0,
                           int(labels.size()) - 1);
}

void CreateShip::askFirstGameDir()
{
    using namespace CreatorText;
    QString dir = FileDialogs::chooseDirectory(this, text(ChooseGameDir), QDir::homePath());
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    GameDirList list;
    list.dirs = m_settings.gameDirs;
    if (!dir.isEmpty() && list.choose(dir)) {
        m_settings.gameDirs = list.dirs;
        return;
    }
    const QString why = dir.isEmpty() ? QString() : FormatText(text(NotAGameDir), dir) + QLatin1Char('\n');
    ask(int(Prompter::Icon::Warning), NoGameDirCaption, why + text(NoGameDirText), {Ok});
}

QString CreateShip::startDir(const QString& preferred) const
{
    return preferred.isEmpty() ? gameDir() : preferred;
}

QString CreateShip::folderFor(Folder kind) const
{
    const QString last = m_lastFolder.value(int(kind));
    if (!last.isEmpty())
        return last;
    switch (kind) {
    case Folder::Packages:
        return startDir(m_settings.saveDir);
    case Folder::Models:
    case Folder::Picture:
        return startDir(m_settings.modelDir);
    case Folder::Types:
        return startDir(m_settings.typeDir);
    case Folder::Scripts:
        return startDir(m_settings.scriptDir);
    case Folder::Texts:
        return startDir(m_settings.textDir);
    case Folder::Mods:
        return startDir(m_settings.modDir);
    }
    return gameDir();
}

void CreateShip::remember(Folder kind, const QString& chosenFile)
{
    if (!chosenFile.isEmpty())
        m_lastFolder[int(kind)] = QFileInfo(chosenFile).absolutePath();
}

void CreateShip::rememberDir(Folder kind, const QString& chosenDir)
{
    if (!chosenDir.isEmpty())
        m_lastFolder[int(kind)] = QFileInfo(chosenDir).absoluteFilePath();
}

QString CreateShip::pickFile(Folder kind, const QString& caption, const QString& filter)
{
    const QString file = FileDialogs::chooseFile(this, caption, folderFor(kind), filter);
    remember(kind, file);
    return file;
}

QStringList CreateShip::pickFiles(Folder kind, const QString& caption, const QString& filter)
{
    const QStringList files = FileDialogs::chooseFiles(this, caption, folderFor(kind), filter);
    remember(kind, files.value(0));
    return files;
}

QString CreateShip::pickSaveFile(Folder kind, const QString& caption, const QString& filter)
{
    const QString file = FileDialogs::chooseSaveFile(this, caption, folderFor(kind), filter);
    remember(kind, file);
    return file;
}

QString CreateShip::pickDirectory(Folder kind, const QString& caption)
{
    const QString dir = FileDialogs::chooseDirectory(this, caption, folderFor(kind));
    rememberDir(kind, dir);
    return dir;
}

bool CreateShip::processStart(const StartRequest& request)
{
    if (!request.editModePath.isEmpty())
        startEditMode(request.editModePath);
    if (!request.openFile.isEmpty() && !editMode()) {
        m_pendingOpen = request.openFile;
        Slot_OpenFile();
    }
    if (!request.extractPackage.isEmpty()) {
        QString target = request.extractionTarget();
        if (target.isEmpty())
            target = FileDialogs::chooseDirectory(this, text(CreatorText::ChooseTargetFolder),
                                                  QFileInfo(request.extractPackage).path());
        if (!target.isEmpty())
            startExtraction(request.extractPackage, target, true);
    }
    return request.showWindow();
}

void CreateShip::startTextLoading()
{
    if (!m_settings.getTextOnStart)
        return;
    setEnabled(false);
    statusBar()->showMessage(text(CreatorText::GettingText) + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &CreateShip::GetText);
}

void CreateShip::GetText()
{
    GetTextOptions options;
    options.gameDir = gameDir();
    options.workDir = workDir("temp");
    options.language = m_settings.baseLanguage;
    options.looseFiles = m_settings.looseTextFolder;
    m_gameTexts.clearTexts();
    if (!options.gameDir.isEmpty())
        ::GetText(options, m_gameTexts, [this](const QString& line) { log(line); });
    setEnabled(true);
    repaint();
    statusBar()->clearMessage();
}

// ---- the draft and the widgets

QString CreateShip::sizeText(const QString& path) const
{
    QString source = path;
    if (source.startsWith(QLatin1String(kPackagePrefix)))
        source =
            workRoot() + QStringLiteral("/Slipway/") + source.mid(int(qstrlen(kPackagePrefix)));
    const QFileInfo info(source);
    if (!info.isFile())
        return QString();
    return FileSizeText(info.size(), {text(CreatorText::UnitBytes), text(CreatorText::UnitKB),
                                      text(CreatorText::UnitMB), text(CreatorText::UnitGB)});
}

void CreateShip::addTreeFiles(QTreeWidget* list, const QString& dir, const QStringList& files,
                              const char* fileIcon)
{
    QString target = dir;
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QTreeWidgetItem* folder = nullptr;
    for (int i = 0; i < list->topLevelItemCount() && !folder; ++i)
        if (list->topLevelItem(i)->data(0, kFolderRole).toString() == target)
            folder = list->topLevelItem(i);
    if (!folder) {
        folder = new QTreeWidgetItem(list, {target});
        folder->setData(0, kFolderRole, target);
        folder->setIcon(0, QIcon(icon("savedir.png")));
    }
    for (const QString& f : files) {
        auto* item = new QTreeWidgetItem(folder, {f, sizeText(f)});
        item->setData(0, kPathRole, f);
        item->setIcon(0, QIcon(icon(fileIcon)));
    }
    folder->setExpanded(true);
}

void CreateShip::fillTree(QTreeWidget* list, const QList<DraftFolder>& tree, const char* fileIcon)
{
    list->clear();
    for (const DraftFolder& f : tree)
        addTreeFiles(list, f.dir, f.files, fileIcon);
}

QList<DraftFolder> CreateShip::readTree(const QTreeWidget* list) const
{
    QList<DraftFolder> tree;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* folder = list->topLevelItem(i);
        QStringList files;
        for (int k = 0; k < folder->childCount(); ++k)
            files << folder->child(k)->data(0, kPathRole).toString();
        AddDraftFiles(tree, folder->data(0, kFolderRole).toString(), files);
    }
    return tree;
}

void CreateShip::addScripts(const QStringList& files)
{
    for (const QString& f : files) {
        auto* item = new QTreeWidgetItem(m_ui->scriptList, {f, sizeText(f)});
        item->setData(0, kPathRole, f);
        item->setIcon(0, QIcon(icon("script.png")));
    }
}

void CreateShip::addTextRow(const PackageText& t)
{
    TextRows::add(m_ui->textList, t, QIcon(icon("text.png")));
}

void CreateShip::addDummyRow(const PackageDummy& d)
{
    new QTreeWidgetItem(m_ui->dummyList, {d.Section, d.Data});
}

void CreateShip::addComponentRow(const PackageComponent& c)
{
    auto* item = new QTreeWidgetItem(m_ui->compList, {c.Part1 + QLatin1Char(';') + c.Part2, c.Part3});
    item->setData(0, kPart1Role, c.Part1);
    item->setData(0, kPart2Role, c.Part2);
}

void CreateShip::addCockpitRow(const QString& line)
{
    auto* item = new QTreeWidgetItem(
        m_ui->cockpitList, {QString::number(m_ui->cockpitList->topLevelItemCount()), line});
    item->setIcon(0, QIcon(icon("cockpit.png")));
}

void CreateShip::setDraft(const ShipDraft& d)
{
    Ui::DCreateShip& ui = *m_ui;
    ui.idEdit->setText(d.id);
    ui.nameEdit->setText(d.name);
    ui.authorEdit->setText(d.author);
    ui.versionEdit->setText(d.version);
    for (int i = 0; i < 8; ++i) {
        QCheckBox* box = findChild<QCheckBox*>(QStringLiteral("shipyard%1").arg(i));
        const QSignalBlocker block(box);
        box->setChecked(d.shipyards[size_t(i)]);
    }
    ui.webEdit->setText(d.web);
    ui.mirror1Edit->setText(d.mirror1);
    ui.mirror2Edit->setText(d.mirror2);
    ui.updateInfoCheck->setChecked(d.writeUpdateInfo);
    ui.useTextCheck->setChecked(d.useExistingText);
    ui.textIdSpin->setEnabled(d.useExistingText);
    ui.textIdSpin->setValue(d.existingTextId);
    ui.textList->clear();
    for (const PackageText& t : d.texts)
        addTextRow(t);
    ui.sceneNameEdit->setText(d.sceneName);
    ui.sceneFileEdit->setText(d.sceneFile);
    ui.cockpitNameEdit->setText(d.cockpitName);
    ui.cockpitFileEdit->setText(d.cockpitFile);
    fillTree(ui.modelList, d.models, "model.png");
    fillTree(ui.otherList, d.others, "other.png");
    ui.scriptList->clear();
    addScripts(d.scripts);
    ui.dummyList->clear();
    for (const PackageDummy& x : d.dummies)
        addDummyRow(x);
    ui.compList->clear();
    for (const PackageComponent& c : d.components)
        addComponentRow(c);
    ui.cockpitList->clear();
    for (const QString& c : d.cockpits)
        addCockpitRow(c);
    ui.pictureEdit->setText(d.picture);
    {
        const QSignalBlocker a(ui.commentEdit);
        const QSignalBlocker b(ui.rawDataEdit);
        ui.commentEdit->setPlainText(d.comment);
        ui.rawDataEdit->setPlainText(d.record);
    }
}

ShipDraft CreateShip::draft() const
{
    const Ui::DCreateShip& ui = *m_ui;
    ShipDraft d;
    d.id = ui.idEdit->text();
    d.name = ui.nameEdit->text();
    d.author = ui.authorEdit->text();
    d.version = ui.versionEdit->text();
    for (int i = 0; i < 8; ++i)
        d.shipyards[size_t(i)] = findChild<QCheckBox*>(QStringLiteral("shipyard%1").arg(i))->isChecked();
    d.web = ui.webEdit->text();
    d.mirror1 = ui.mirror1Edit->text();
    d.mirror2 = ui.mirror2Edit->text();
    d.writeUpdateInfo = ui.updateInfoCheck->isChecked();
    d.useExistingText = ui.useTextCheck->isChecked();
    d.existingTextId = ui.textIdSpin->value();
    d.texts = TextRows::read(ui.textList);
    d.sceneName = ui.sceneNameEdit->text();
    d.sceneFile = ui.sceneFileEdit->text();
    d.cockpitName = ui.cockpitNameEdit->text();
    d.cockpitFile = ui.cockpitFileEdit->text();
    d.models = readTree(ui.modelList);
    d.others = readTree(ui.otherList);
    for (int i = 0; i < ui.scriptList->topLevelItemCount(); ++i)
        d.scripts << ui.scriptList->topLevelItem(i)->data(0, kPathRole).toString();
    for (int i = 0; i < ui.dummyList->topLevelItemCount(); ++i)
        d.dummies.append({ui.dummyList->topLevelItem(i)->text(0), ui.dummyList->topLevelItem(i)->text(1)});
    for (int i = 0; i < ui.compList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = ui.compList->topLevelItem(i);
        d.components.append({it->data(0, kPart1Role).toString(), it->data(0, kPart2Role).toString(), it->text(1)});
    }
    for (int i = 0; i < ui.cockpitList->topLevelItemCount(); ++i)
        d.cockpits << ui.cockpitList->topLevelItem(i)->text(1);
    d.picture = ui.pictureEdit->text();
    d.comment = ui.commentEdit->toPlainText();
    d.record = ui.rawDataEdit->toPlainText();
    d.record = DraftRecord(d);
    return d;
}

void CreateShip::Slot_CustomiseShip()
{
    const ShipDraft d = draft();
    ConfigShip::Input input;
    input.record = d.record;
    input.packageCockpits = d.cockpits;
    input.sceneName = d.sceneName;
    input.sceneFile = d.sceneFile;
    input.classes = m_classes;
    input.variants = m_variants;
    input.settings = m_settings;
    input.programDir = workRoot();
    input.texts = &m_texts;
    ConfigShip dialog(input, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    // An untouched record keeps its text, line end and all.
    if (dialog.record() != ShipRecord(d.record).line())
        m_ui->rawDataEdit->setPlainText(dialog.record());
    if (dialog.packageCockpits() != d.cockpits) {
        m_ui->cockpitList->clear();
        for (const QString& line : dialog.packageCockpits())
            addCockpitRow(line);
    }
    const bool reload = dialog.settings().baseLanguage != m_settings.baseLanguage ||
                        dialog.settings().gameDirs.value(0) != gameDir();
    m_settings.baseLanguage = dialog.settings().baseLanguage;
    m_settings.gameDirs = dialog.settings().gameDirs;
    saveSettings();
    if (reload)
        GetText();
}

void CreateShip::Slot_Balance()
{
    using namespace CreatorText;
    const QString record = m_ui->rawDataEdit->toPlainText();
    auto warn = [&](const QString& message) {
        ask(int(Prompter::Icon::Warning), BalanceButton, message, {Ok});
    };
    if (record.trimmed().isEmpty())
        return warn(text(BalEmptyRecord));
    const ProfileChoice choice = FittingProfiles(
        ReadProfiles(m_programDir + QStringLiteral("/Profiles")), ShipRecord(record).line());
    if (!choice.recordReadable)
        return warn(FormatText(text(BalCannotBalance), text(BalRecordUnreadable)));
    if (choice.usable.isEmpty()) {
        QString message = FormatText(text(BalNoProfile), QString::number(choice.shipClass),
                                     QString::number(choice.variant));
        if (!choice.unusable.isEmpty()) {
            message += QStringLiteral("\n\n") + text(BalUnusableList);
            for (const ProfileFile& pf : choice.unusable)
                message += QStringLiteral("\n") + QFileInfo(pf.path).fileName() +
                           QStringLiteral(": ") + pf.problem;
        }
        return warn(message);
    }
    ProfileFile profile = choice.usable.first();
    if (choice.usable.size() > 1) {
        QStringList items;
        for (const ProfileFile& pf : choice.usable)
            items << pf.profile.name + QStringLiteral(" (") + QFileInfo(pf.path).fileName() +
                         QLatin1Char(')');
        const QString picked = InputDialogs::askItem(this, PlainUiText(text(BalChooseCaption)),
                                                     text(BalChooseText), items);
        if (picked.isNull())
            return;
        profile = choice.usable.at(std::max(0, int(items.indexOf(picked))));
    }
    ShipBalance dialog(m_texts, profile, record, this);
    if (!dialog.loaded())
        return warn(FormatText(text(BalCannotBalance), dialog.loadError()));
    dialog.showClassChart(gameDir(), workDir("temp"));
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    // An untouched record keeps its text, line end and all.
    if (dialog.record() != ShipRecord(record).line())
        m_ui->rawDataEdit->setPlainText(dialog.record());
}

void CreateShip::Slot_ManageProfiles()
{
    ProfileContext context;
    context.profilesDir = m_programDir + QStringLiteral("/Profiles");
    context.workDir = workDir("temp");
    context.startDir = folderFor(Folder::Types);
    context.iconFile = icon("profile.png");
    context.classes = m_classes;
    context.variants = m_variants;
    ManageProfile dialog(m_texts, context, this);
    ModalDialogs::exec(dialog);
}

void CreateShip::markSaved()
{
    m_savedDraft = draft();
}

bool CreateShip::hasUnsavedChanges() const
{
    return !SameDraft(draft(), m_savedDraft);
}

void CreateShip::Slot_Modified()
{
    if (!m_packagePath.isEmpty())
        refreshCaption();
}
