#include "createship.h"

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

namespace {

constexpr int kStartDelayMs = 100;
constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1; // set on target-folder items
constexpr int kPart1Role = Qt::UserRole + 2;
constexpr int kPart2Role = Qt::UserRole + 3;

QString boldLabel(const QString& text)
{
    return QStringLiteral("<b>") + text + QStringLiteral(":</b>");
}

QStringList existingFiles(const QStringList& files)
{
    QStringList kept;
    for (const QString& f : files)
        if (QFileInfo(f).isFile())
            kept << f;
    return kept;
}

} // namespace

CreateShip::CreateShip(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), m_programDir(programDir), m_ui(std::make_unique<Ui::DCreateShip>())
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
    return m_programDir + QLatin1Char('/') + QLatin1String(folder);
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
    bool offered = false;
    for (const UiTexts::Language& l : m_texts.languages())
        offered = offered || l.name.compare(m_settings.language, Qt::CaseInsensitive) == 0;
    if (!offered)
        m_texts.load(file, QStringLiteral("English"));
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

bool CreateShip::processStart(const StartRequest& request)
{
    if (!request.editModePath.isEmpty()) {
        const EditModeShip ship = DecodeEditModePath(request.editModePath);
        ShipRegistry registry;
        const ShipPackage* found = nullptr;
        // A change a crash left unfinished is rolled back before the registry is
        // read, unless a running writer owns it.
        if (QFileInfo(ship.gameDir).isDir()) {
            GameDirLock lock(ship.gameDir);
            QString report;
            if (lock.tryLock() && GameChange::recover(ship.gameDir, &report) != 0)
                log(QStringLiteral("(JOURNAL) ") + report);
        }
        if (QFileInfo(ship.gameDir).isDir() && ReadRegistry(ship.gameDir, registry))
            for (const ShipPackage& p : registry.Ships)
                if (!p.Deleted && p.Name == ship.name && p.Author == ship.author)
                    found = &p;
        if (found) {
            m_editModePath = request.editModePath;
            m_current = *found;
            setDraft(DraftFromPackage(*found));
            m_editModeCaption = FormatText(text(CreatorText::EditModeCaption), ship.name, ship.author);
            m_ui->importWizardButton->hide();
            m_ui->saveAsButton->hide();
            m_ui->menubar->hide();
            refreshCaption();
        } else {
            ask(int(Prompter::Icon::Warning), CreatorText::EditModeCaption,
                FormatText(text(CreatorText::EditModeNotFound), ship.name, ship.author, ship.gameDir),
                {CreatorText::Ok});
        }
    }
    if (!request.openFile.isEmpty() && !editMode()) {
        m_pendingOpen = request.openFile;
        Slot_OpenFile();
    }
    if (!request.extractPackage.isEmpty()) {
        QString target = request.extractionTarget();
        if (target.isEmpty())
            target = FileDialogs::chooseDirectory(this, QStringLiteral("select dir"),
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
        source = m_programDir + QStringLiteral("/Slipway/") + source.mid(int(qstrlen(kPackagePrefix)));
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
    input.programDir = m_programDir;
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
    const ProfileChoice choice =
        FittingProfiles(ReadProfiles(workDir("Profiles")), ShipRecord(record).line());
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
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    // An untouched record keeps its text, line end and all.
    if (dialog.record() != ShipRecord(record).line())
        m_ui->rawDataEdit->setPlainText(dialog.record());
}

void CreateShip::Slot_ManageProfiles()
{
    ProfileContext context;
    context.profilesDir = workDir("Profiles");
    context.workDir = workDir("temp");
    context.startDir = startDir(m_settings.typeDir);
    context.iconFile = icon("profile.png");
    context.classes = m_classes;
    context.variants = m_variants;
    ManageProfile dialog(m_texts, context, this);
    ModalDialogs::exec(dialog);
}

void CreateShip::Slot_Modified()
{
    if (!m_packagePath.isEmpty())
        refreshCaption();
}

// ---- commands

void CreateShip::Slot_LoadShip()
{
    SelectShip dialog(m_texts, PickerTable::Ships, m_programDir, workDir("Slipway"),
                      m_settings.baseLanguage, startDir(m_settings.typeDir), this);
    const QString file = FileDialogs::chooseFile(this, dialog.fileCaption(),
                                                 startDir(m_settings.typeDir), dialog.fileFilter());
    if (file.isEmpty())
        return;
    if (!dialog.loadTable(file) || dialog.entries().isEmpty()) {
        ask(int(Prompter::Icon::Warning), CreatorText::TableErrorCaption,
            text(CreatorText::TableErrorText) + QLatin1Char('\n') + file, {CreatorText::Ok});
        return;
    }
    if (ModalDialogs::exec(dialog) != QDialog::Accepted || dialog.chosen().isEmpty())
        return;
    ShipDraft d = draft();
    const PickerEntry chosen = dialog.chosen().first();
    ApplyTableShip(d, chosen.line);
    // The picker showed the game's name of the ship; an empty name field takes it.
    if (d.name.isEmpty())
        d.name = chosen.name;
    setDraft(d);
    Slot_Modified();
}

void CreateShip::Slot_LoadCockpit()
{
    SelectShip dialog(m_texts, PickerTable::Cockpits, m_programDir, workDir("Slipway"),
                      m_settings.baseLanguage, startDir(m_settings.typeDir), this);
    const QString file = FileDialogs::chooseFile(this, dialog.fileCaption(),
                                                 startDir(m_settings.typeDir), dialog.fileFilter());
    if (file.isEmpty())
        return;
    if (!dialog.loadTable(file) || dialog.entries().isEmpty()) {
        ask(int(Prompter::Icon::Warning), CreatorText::TableErrorCaption,
            text(CreatorText::TableErrorText) + QLatin1Char('\n') + file, {CreatorText::Ok});
        return;
    }
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    for (const PickerEntry& e : dialog.chosen())
        addCockpitRow(TerminatedLine(e.line));
    Slot_Modified();
}

void CreateShip::Slot_ImportDummy()
{
    importTable(false);
}

void CreateShip::Slot_ImportComp()
{
    importTable(true);
}

void CreateShip::importTable(bool components)
{
    using namespace CreatorText;
    const GroupedTable kind = components ? GroupedTable::Components : GroupedTable::Dummies;
    const QString filter =
        text(components ? ComponentsFilter : DummiesFilter) +
        (components ? QStringLiteral(" (Components.txt Components.pck *.cat);;")
                    : QStringLiteral(" (Dummies.txt Dummies.pck *.cat);;")) +
        text(CatalogFilter) + QStringLiteral(" (*.cat)");
    const QString file = FileDialogs::chooseFile(this, text(ChooseTable), startDir(m_settings.typeDir), filter);
    if (file.isEmpty())
        return;
    const TableImport table = ImportGroupedTable(file, kind, workDir("Slipway"));
    if (!table.ok) {
        log(QStringLiteral("Table import: ") + file + QLatin1Char(' ') + table.error);
        ask(int(Prompter::Icon::Warning), TableErrorCaption,
            text(TableErrorText) + QLatin1Char('\n') + file, {Ok});
        return;
    }
    if (table.rows.isEmpty()) {
        ask(int(Prompter::Icon::Information), TableErrorCaption,
            text(TableEmpty) + QLatin1Char('\n') + file, {Ok});
        return;
    }
    ImportDummy dialog(m_texts, kind, table.rows, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    for (const ImportRow& row : dialog.chosen()) {
        if (components)
            addComponentRow(ComponentFromRow(row));
        else
            addDummyRow(DummyFromRow(row));
    }
    Slot_Modified();
}

void CreateShip::Slot_New()
{
    using namespace CreatorText;
    if (ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    setDraft(NewShipDraft(m_settings, m_classes));
    m_current.reset();
    m_packagePath.clear();
    refreshCaption();
}

void CreateShip::Slot_Config()
{
    ConfigDialog dialog(m_texts, m_settings, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    const CreatorSettings chosen = dialog.settings();
    const bool textsChanged = chosen.language != m_settings.language;
    m_settings = chosen;
    if (textsChanged) {
        loadTexts();
        retranslate();
    }
    saveSettings();
}

void CreateShip::Slot_SelectPic()
{
    const QString file = FileDialogs::chooseFile(this, text(CreatorText::ChoosePicture),
                                                 startDir(m_settings.modelDir), QStringLiteral("(*.*)"));
    if (!file.isEmpty()) {
        m_ui->pictureEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_Close()
{
    close();
}

void CreateShip::closeEvent(QCloseEvent* event)
{
    using namespace CreatorText;
    if (HasUnsavedChanges(draft(), currentPackage()) &&
        ask(int(Prompter::Icon::Question), CloseCaption, text(CloseText), {CloseAnyway, KeepOpen}) == 1) {
        event->ignore();
        return;
    }
    RemoveTree(workDir("Slipway"), true);
    RemoveTree(workDir("temp"), true);
    saveSettings();
    event->accept();
}

void CreateShip::Slot_SelectSceneFile()
{
    const QString file = FileDialogs::chooseFile(this, text(CreatorText::ChooseScene),
                                                 startDir(m_settings.modelDir), QStringLiteral("(*.pbd; *.bod; *.bob)"));
    if (QFileInfo(file).isFile()) {
        m_ui->sceneFileEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_SelectSceneFileCp()
{
    const QString file = FileDialogs::chooseFile(this, text(CreatorText::ChooseScene),
                                                 startDir(m_settings.modelDir), QStringLiteral("(*.pbd; *.bod; *.bob)"));
    if (QFileInfo(file).isFile()) {
        m_ui->cockpitFileEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_ClearShipScene()
{
    m_ui->sceneFileEdit->clear();
    Slot_Modified();
}

void CreateShip::Slot_ClearCockpitScene()
{
    m_ui->cockpitFileEdit->clear();
    Slot_Modified();
}

// ---- models and other files

QTreeWidgetItem* CreateShip::selectedFileItem(const QTreeWidget* list) const
{
    for (QTreeWidgetItem* item : list->selectedItems())
        if (item->parent())
            return item;
    return nullptr;
}

void CreateShip::addFilesAsked(QTreeWidget* list, const QStringList& files, const char* fileIcon)
{
    const QStringList kept = existingFiles(files);
    if (kept.isEmpty())
        return;
    QString dir = InputDialogs::askText(this, text(CreatorText::TargetDirCaption),
                                        text(CreatorText::TargetDirText), QStringLiteral("objects/"));
    if (dir.isNull())
        return;
    addTreeFiles(list, dir.replace(QLatin1Char('\\'), QLatin1Char('/')), kept, fileIcon);
    Slot_Modified();
}

void CreateShip::Slot_AddModel()
{
    addFilesAsked(m_ui->modelList,
                  FileDialogs::chooseFiles(this, text(CreatorText::ChooseModels), startDir(m_settings.modelDir),
                                           text(CreatorText::ModelFilter) + QStringLiteral(" (*.pbd *.bod *.bob *.pbb)")),
                  "model.png");
}

void CreateShip::Slot_AddFile()
{
    addFilesAsked(m_ui->otherList,
                  FileDialogs::chooseFiles(this, text(CreatorText::ChooseFiles), startDir(m_settings.modelDir),
                                           text(CreatorText::AllFiles) + QStringLiteral(" (*.*)")),
                  "other.png");
}

void CreateShip::Slot_Dropped(const QString& files)
{
    addFilesAsked(m_ui->modelList, DroppedFileNames(files, DropKind::Models), "model.png");
}

void CreateShip::Slot_OtherDropped(const QString& files)
{
    addFilesAsked(m_ui->otherList, DroppedFileNames(files, DropKind::AnyFile), "other.png");
}

void CreateShip::changeTreeFile(QTreeWidget* list, const QString& filter)
{
    QTreeWidgetItem* item = selectedFileItem(list);
    if (!item)
        return;
    const QString file = FileDialogs::chooseFile(this, text(CreatorText::ChooseFiles),
                                                 startDir(m_settings.modelDir), filter);
    if (!QFileInfo(file).isFile())
        return;
    item->setText(0, file);
    item->setText(1, sizeText(file));
    item->setData(0, kPathRole, file);
    Slot_Modified();
}

void CreateShip::Slot_ChangeModel()
{
    changeTreeFile(m_ui->modelList, QStringLiteral("(*.pbd; *.bod; *.bob)"));
}

void CreateShip::Slot_ChangeOther()
{
    changeTreeFile(m_ui->otherList, QStringLiteral("(*.*)"));
}

void CreateShip::changeTreeDir(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem* first = selected.first();
    const QString current = (first->parent() ? first->parent() : first)->data(0, kFolderRole).toString();
    QString dir = InputDialogs::askText(this, text(CreatorText::TargetDirCaption),
                                        text(CreatorText::TargetDirText), current);
    if (dir.isNull())
        return;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Through the draft, so that moved files join an existing folder of that name.
    QList<DraftFolder> tree;
    QStringList moved;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* folder = list->topLevelItem(i);
        QStringList stay;
        for (int k = 0; k < folder->childCount(); ++k) {
            QTreeWidgetItem* f = folder->child(k);
            (f->isSelected() || folder->isSelected() ? moved : stay) << f->data(0, kPathRole).toString();
        }
        AddDraftFiles(tree, folder->data(0, kFolderRole).toString(), stay);
    }
    AddDraftFiles(tree, dir, moved);
    fillTree(list, tree, list == m_ui->modelList ? "model.png" : "other.png");
    Slot_Modified();
}

void CreateShip::Slot_ChangeDir()
{
    changeTreeDir(m_ui->modelList);
}

void CreateShip::Slot_ChangeOtherDir()
{
    changeTreeDir(m_ui->otherList);
}

void CreateShip::removeTreeSelection(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    for (QTreeWidgetItem* item : selected)
        if (item->parent() && !item->parent()->isSelected())
            delete item;
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->isSelected() || list->topLevelItem(i)->childCount() == 0)
            delete list->topLevelItem(i);
    Slot_Modified();
}

void CreateShip::Slot_RemoveModel()
{
    removeTreeSelection(m_ui->modelList);
}

void CreateShip::Slot_RemoveFile()
{
    removeTreeSelection(m_ui->otherList);
}

void CreateShip::ClearModels()
{
    m_ui->modelList->clear();
    Slot_Modified();
}

void CreateShip::ClearOther()
{
    m_ui->otherList->clear();
    Slot_Modified();
}

void CreateShip::switchWithScene(bool cockpit)
{
    QTreeWidgetItem* item = selectedFileItem(m_ui->modelList);
    if (!item)
        return;
    QLineEdit* field = cockpit ? m_ui->cockpitFileEdit : m_ui->sceneFileEdit;
    const QString previous = field->text();
    field->setText(item->data(0, kPathRole).toString());
    if (previous.isEmpty()) {
        // Nothing to take the item's place: an empty row would be a file without a name.
        QTreeWidgetItem* folder = item->parent();
        delete item;
        if (folder->childCount() == 0)
            delete folder;
    } else {
        item->setText(0, previous);
        item->setText(1, sizeText(previous));
        item->setData(0, kPathRole, previous);
    }
    Slot_Modified();
}

void CreateShip::Slot_SwitchScene()
{
    switchWithScene(false);
}

void CreateShip::Slot_SwitchCockpit()
{
    switchWithScene(true);
}

// ---- scripts

void CreateShip::Slot_AddScript()
{
    const QStringList files = existingFiles(FileDialogs::chooseFiles(
        this, text(CreatorText::ChooseScripts), startDir(m_settings.scriptDir),
        text(CreatorText::ScriptFilter) + QStringLiteral(" (*.xml *.pck)")));
    if (files.isEmpty())
        return;
    addScripts(files);
    Slot_Modified();
}

void CreateShip::Slot_ScriptDropped(const QString& files)
{
    const QStringList kept = DroppedFileNames(files, DropKind::AnyFile);
    if (kept.isEmpty())
        return;
    addScripts(kept);
    Slot_Modified();
}

void CreateShip::Slot_RemoveScript()
{
    qDeleteAll(m_ui->scriptList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearScripts()
{
    m_ui->scriptList->clear();
    Slot_Modified();
}

// ---- texts

void CreateShip::Slot_AddLanguage()
{
    if (TextRows::addLanguage(this, m_texts, m_ui->textList, QIcon(icon("text.png"))))
        Slot_Modified();
}

void CreateShip::Slot_RemoveLanguage()
{
    TextRows::removeSelected(m_ui->textList);
    Slot_Modified();
}

void CreateShip::Slot_ChangeName()
{
    if (TextRows::changeName(this, m_texts, m_ui->textList))
        Slot_Modified();
}

void CreateShip::Slot_ChangeDesc()
{
    if (TextRows::changeDescription(this, m_texts, m_ui->textList))
        Slot_Modified();
}

void CreateShip::Slot_DCTextMenu(QTreeWidgetItem* item, int)
{
    if (TextRows::edit(this, m_texts, item))
        Slot_Modified();
}

void CreateShip::importTexts(const QStringList& files)
{
    const int nameText = ShipRecord(m_ui->rawDataEdit->toPlainText()).intField(6);
    int added = 0;
    for (const QString& file : files)
        for (const PackageText& t : ImportShipTexts(file, nameText, workDir("temp"),
                                                    [this](const QString& l) { log(l); })) {
            addTextRow(t);
            ++added;
        }
    if (added)
        Slot_Modified();
    else if (!files.isEmpty())
        ask(int(Prompter::Icon::Information), CreatorText::TextImportCaption,
            FormatText(text(CreatorText::TextImportNone), QString::number(nameText)), {CreatorText::Ok});
}

void CreateShip::Slot_ImportText()
{
    importTexts(FileDialogs::chooseFiles(this, text(CreatorText::ChooseTextFiles),
                                         startDir(m_settings.textDir),
                                         text(CreatorText::TextFilter) + QStringLiteral(" (*.pck *.xml *.cat)")));
}

void CreateShip::Slot_ImportTextDir()
{
    const QString dir = FileDialogs::chooseDirectory(this, text(CreatorText::ChooseTextDir),
                                                     startDir(m_settings.textDir));
    if (dir.isEmpty())
        return;
    importTexts(TextRows::pageFiles(dir));
}

void CreateShip::ClearText()
{
    m_ui->textList->clear();
    Slot_Modified();
}

// ---- dummies, components, cockpits

void CreateShip::Slot_AddDummy()
{
    const QString section = InputDialogs::askItem(this, text(CreatorText::SectionCaption),
                                                  text(CreatorText::SectionText), DummyTypes());
    if (section.isEmpty())
        return;
    const QString data = InputDialogs::askText(this, text(CreatorText::DataCaption), text(CreatorText::DataText));
    if (data.trimmed().isEmpty())
        return;
    addDummyRow({section, TerminatedLine(data.trimmed())});
    Slot_Modified();
}

void CreateShip::Slot_ChangeSection()
{
    const QList<QTreeWidgetItem*> selected = m_ui->dummyList->selectedItems();
    if (selected.isEmpty())
        return;
    const QStringList types = DummyTypes();
    const QString section = InputDialogs::askItem(this, text(CreatorText::SectionCaption),
                                                  text(CreatorText::SectionText), types,
                                                  qMax(0, int(types.indexOf(selected.first()->text(0)))));
    if (section.isEmpty())
        return;
    for (QTreeWidgetItem* item : selected)
        item->setText(0, section);
    Slot_Modified();
}

void CreateShip::Slot_ChangeData()
{
    const QList<QTreeWidgetItem*> selected = m_ui->dummyList->selectedItems();
    if (selected.isEmpty())
        return;
    const QString data = InputDialogs::askText(this, text(CreatorText::DataCaption),
                                               text(CreatorText::DataText), selected.first()->text(1));
    if (data.trimmed().isEmpty())
        return;
    selected.first()->setText(1, TerminatedLine(data.trimmed()));
    Slot_Modified();
}

void CreateShip::Slot_RemoveDummy()
{
    qDeleteAll(m_ui->dummyList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearDummy()
{
    m_ui->dummyList->clear();
    Slot_Modified();
}

void CreateShip::Slot_RemoveComp()
{
    qDeleteAll(m_ui->compList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearComp()
{
    m_ui->compList->clear();
    Slot_Modified();
}

void CreateShip::Slot_RemoveCockpit()
{
    qDeleteAll(m_ui->cockpitList->selectedItems());
    // The index column counts the rows.
    for (int i = 0; i < m_ui->cockpitList->topLevelItemCount(); ++i)
        m_ui->cockpitList->topLevelItem(i)->setText(0, QString::number(i));
    Slot_Modified();
}

void CreateShip::ClearCockpit()
{
    m_ui->cockpitList->clear();
    Slot_Modified();
}

// ---- pop-up menus

QAction* CreateShip::menuAction(QMenu& menu, const char* name, int textNumber, const char* iconName,
                                void (CreateShip::*slot)())
{
    QAction* a = iconName ? menu.addAction(QIcon(icon(iconName)), text(textNumber))
                          : menu.addAction(text(textNumber));
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
}

void CreateShip::popup(QTreeWidget* list, const QPoint& pos, const QList<std::pair<QAction*, bool>>& actions)
{
    for (const auto& [action, enabled] : actions)
        action->setEnabled(enabled);
    QMenu* menu = qobject_cast<QMenu*>(actions.value(0).first ? actions.first().first->parent() : nullptr);
    if (menu)
        PopupMenus::exec(*menu, list->viewport()->mapToGlobal(pos));
}

void CreateShip::Slot_ModelMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("modelMenu"));
    const bool file = selectedFileItem(m_ui->modelList) != nullptr;
    const bool any = !m_ui->modelList->selectedItems().isEmpty();
    const bool items = m_ui->modelList->topLevelItemCount() > 0;
    popup(m_ui->modelList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddModel), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveModel), any},
           {menuAction(menu, "changeFile", MenuChangeFile, "edit.png", &CreateShip::Slot_ChangeModel), file},
           {menuAction(menu, "changeDir", MenuChangeDir, nullptr, &CreateShip::Slot_ChangeDir), any},
           {menuAction(menu, "shipScene", MenuMakeShipScene, "switch.png", &CreateShip::Slot_SwitchScene), file},
           {menuAction(menu, "cockpitScene", MenuMakeCockpitScene, nullptr, &CreateShip::Slot_SwitchCockpit), file},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearModels), items}});
}

void CreateShip::Slot_OtherMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("otherMenu"));
    const bool file = selectedFileItem(m_ui->otherList) != nullptr;
    const bool any = !m_ui->otherList->selectedItems().isEmpty();
    popup(m_ui->otherList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddFile), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveFile), any},
           {menuAction(menu, "changeFile", MenuChangeFile, "edit.png", &CreateShip::Slot_ChangeOther), file},
           {menuAction(menu, "changeDir", MenuChangeDir, nullptr, &CreateShip::Slot_ChangeOtherDir), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearOther),
            m_ui->otherList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_ScriptMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("scriptMenu"));
    popup(m_ui->scriptList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddScript), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveScript),
            !m_ui->scriptList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearScripts),
            m_ui->scriptList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_TextMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("textMenu"));
    const bool any = !m_ui->textList->selectedItems().isEmpty();
    popup(m_ui->textList, pos,
          {{menuAction(menu, "importFile", MenuImportFile, "import.png", &CreateShip::Slot_ImportText), true},
           {menuAction(menu, "importDir", MenuImportDir, "importdir.png", &CreateShip::Slot_ImportTextDir), true},
           {menuAction(menu, "add", MenuAddLanguage, "add.png", &CreateShip::Slot_AddLanguage), true},
           {menuAction(menu, "remove", MenuRemoveLanguage, "remove.png", &CreateShip::Slot_RemoveLanguage), any},
           {menuAction(menu, "changeName", MenuChangeName, "edit.png", &CreateShip::Slot_ChangeName), any},
           {menuAction(menu, "changeDesc", MenuChangeDesc, nullptr, &CreateShip::Slot_ChangeDesc), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearText),
            m_ui->textList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_DummyMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("dummyMenu"));
    const bool any = !m_ui->dummyList->selectedItems().isEmpty();
    popup(m_ui->dummyList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddDummy), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveDummy), any},
           {menuAction(menu, "changeSection", MenuChangeSection, "edit.png", &CreateShip::Slot_ChangeSection), any},
           {menuAction(menu, "changeData", MenuChangeData, nullptr, &CreateShip::Slot_ChangeData), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearDummy),
            m_ui->dummyList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_CompMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("compMenu"));
    popup(m_ui->compList, pos,
          {{menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveComp),
            !m_ui->compList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearComp),
            m_ui->compList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_CockpitMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("cockpitMenu"));
    popup(m_ui->cockpitList, pos,
          {{menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveCockpit),
            !m_ui->cockpitList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearCockpit),
            m_ui->cockpitList->topLevelItemCount() > 0}});
}

// Saving, opening and extracting packages.

PackageContext CreateShip::packageContext()
{
    PackageContext c;
    c.programDir = m_programDir;
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
    const QStringList problems = PackageCheckLines(CheckDraft(
        draft(), m_programDir, -1,
        gameDir().isEmpty() ? std::function<bool(const QString&)>() : GameSceneLookup(gameDir())));
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
        name = FileDialogs::chooseSaveFile(this, QStringLiteral("save ship"), startDir(m_settings.saveDir),
                                           text(PackageFilter) + QStringLiteral(" (*.xsp)"));
    if (name.isEmpty())
        return;
    if (!editMode()) {
        name = PackageSaveName(name);
        m_settings.saveDir = QFileInfo(name).absolutePath();
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
        const EditModeSaveResult r = SaveInstalledShip(m_editModePath, draft(), m_programDir);
        setBusy(false);
        if (!r.ok) {
            log(QStringLiteral("Edit-mode save failed: ") + r.error);
            ask(int(Prompter::Icon::Critical), SaveCaption,
                FormatText(text(SaveFailedText), m_editModeCaption, r.error), {Ok});
            return;
        }
        // The editor shows the ship as it is installed now.
        if (const auto installed = LoadInstalledShip(m_editModePath)) {
            m_current = *installed;
            setDraft(DraftFromPackage(*installed));
        }
        ask(int(Prompter::Icon::Information), SaveCaption,
            FormatText(text(SavedText), m_editModeCaption), {Ok});
        return;
    }
    const ShipPackage package = BuildPackage(draft(), m_programDir);
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
    const bool saved = SaveShipPackage(package, target, context, &error, conversion);
    setBusy(false);
    if (saved) {
        // Only a package that reached the disk counts as saved: after a failure the
        // editor must still report its changes as unsaved.
        m_current = package;
        m_packagePath = target;
        refreshCaption();
        ask(int(Prompter::Icon::Information), SaveCaption, FormatText(text(SavedText), target), {Ok});
    } else {
        log(QStringLiteral("Saving failed: ") + target + QStringLiteral(": ") + error);
        ask(int(Prompter::Icon::Critical), SaveCaption, FormatText(text(SaveFailedText), target, error),
            {Ok});
    }
}

void CreateShip::Slot_Open()
{
    using namespace CreatorText;
    const QString name = FileDialogs::chooseFile(this, QStringLiteral("open file"),
                                                 startDir(m_settings.saveDir),
                                                 text(PackageFilter) + QStringLiteral(" (*.xsp)"));
    if (name.isEmpty())
        return;
    if (HasUnsavedChanges(draft(), currentPackage()) &&
        ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    m_settings.saveDir = QFileInfo(name).absolutePath();
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
    const OpenForEditResult r = OpenPackageForEditing(name, m_programDir, package, packageContext());
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
    m_current = package;
    m_packagePath = name;
    refreshCaption();
}

void CreateShip::Slot_ExtractShip()
{
    const QString package = FileDialogs::chooseFile(this, QStringLiteral("open ship"),
                                                    startDir(m_settings.saveDir),
                                                    QStringLiteral("(*.xsp)"));
    if (package.isEmpty())
        return;
    const QString dir = FileDialogs::chooseDirectory(this, QStringLiteral("select dir"),
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
            FormatText(text(ExtractDoneText), m_extractDir), {Ok});
}

// ---- the import wizard

void CreateShip::Slot_ImportWizard()
{
    using namespace CreatorText;
    if (editMode())
        return;
    const QString catalog = FileDialogs::chooseFile(this, text(ChooseCatalog), startDir(m_settings.modDir),
                                                    text(CatalogFilter) + QStringLiteral(" (*.cat)"));
    if (catalog.isEmpty())
        return;
    // The import replaces the ship being edited.
    if (HasUnsavedChanges(draft(), currentPackage()) &&
        ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    const ImportLog logLine = [this](const QString& line) { log(line); };
    // The session's temporary files go when it does, whichever way the wizard ends.
    ModImport session(catalog, m_programDir, m_settings.baseLanguage, logLine);
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
    options.compiler.compile = m_settings.bodcomp;
    options.compiler.compiler = m_settings.bodcompPath;
    options.textDir = startDir(m_settings.textDir);
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
    statusBar()->showMessage(FormatText(text(ImportDoneText), imported.name,
                                        QString::number(DraftTreeFiles(imported.models).size()),
                                        QString::number(DraftTreeFiles(imported.others).size())),
                             8000);
    if (!done.skipped.isEmpty())
        ask(int(Prompter::Icon::Warning), WizardCaption,
            FormatText(text(ImportSkippedText), done.skipped.join(QLatin1Char('\n'))), {Ok});
}
