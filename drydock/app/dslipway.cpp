#include "dslipway.h"

#include "fileutils.h"
#include "installerengine.h"
#include "installertexts.h"
#include "ui_slipway.h"
#include "uiseams_qt.h"
#include "uitexts.h"
#include "wlistview.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kStartDelayMs = 100;

// A screenshot name comes from a package: only a picture directly in ShipPics may
// reach the desktop's "open", which would run a program or script just as well.
bool isViewablePicture(const QString& name)
{
    static const QSet<QString> pictures = {
        QStringLiteral("png"), QStringLiteral("jpg"),  QStringLiteral("jpeg"),
        QStringLiteral("bmp"), QStringLiteral("gif"),  QStringLiteral("tga"),
        QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("webp")};
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.startsWith(QLatin1Char('.')))
        return false;
    return pictures.contains(QFileInfo(name).suffix().toLower());
}

} // namespace

DSlipway::DSlipway(QWidget* parent) : QWidget(parent), m_ui(std::make_unique<Ui::Slipway>())
{
    m_ui->setupUi(this);
    WListView* list = m_ui->shipList;
    list->setDecoding(WListView::Decoding::Installer);
    list->sortByColumn(ColumnName, Qt::AscendingOrder);
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ColumnName, QHeaderView::Stretch);
    header->setSectionResizeMode(ColumnAuthor, QHeaderView::Interactive);
    header->setSectionResizeMode(ColumnVersion, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColumnState, QHeaderView::ResizeToContents);
    list->setColumnWidth(ColumnAuthor, 150);

    connect(list, &WListView::DroppedFile, this, &DSlipway::Slot_Dropped);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &DSlipway::Slot_DoubleClicked);
    connect(list, &QWidget::customContextMenuRequested, this, &DSlipway::Slot_Menu);
    connect(m_ui->baseModBox, &QComboBox::textActivated, this, &DSlipway::Slot_SelectMod);
}

DSlipway::~DSlipway() = default;

void DSlipway::attach(const Context& context)
{
    m_context = context;
    m_lastFolder = QDir::homePath();
    retranslate();
}

WListView* DSlipway::listView() const
{
    return m_ui->shipList;
}

QComboBox* DSlipway::baseModBox() const
{
    return m_ui->baseModBox;
}

QString DSlipway::text(int n) const
{
    return m_context.texts ? m_context.texts->own(n) : UiTexts::placeholder(n);
}

QIcon DSlipway::icon(const QString& name) const
{
    return QIcon(m_context.programDir + QStringLiteral("/Icons/") + name);
}

void DSlipway::retranslate()
{
    using namespace InstallerText;
    m_ui->baseModLabel->setText(text(BaseModLabel));
    m_ui->shipList->setHeaderLabels({PlainUiText(text(HeaderShip)), PlainUiText(text(HeaderAuthor)),
                                     PlainUiText(text(HeaderVersion)),
                                     PlainUiText(text(HeaderState))});
    m_ui->shipList->setEmptyText(PlainUiText(text(DropHint)));
    if (m_context.engine) {
        fillBaseModBox();
        refreshList();
    }
}

void DSlipway::fillBaseModBox()
{
    QComboBox* box = m_ui->baseModBox;
    const QSignalBlocker blocker(box);
    box->clear();
    if (!m_context.engine || m_context.engine->gameDir().isEmpty())
        return;
    box->addItems(m_context.engine->baseModChoices());
    const int current = box->findText(m_context.engine->currentBaseMod());
    box->setCurrentIndex(current >= 0 ? current : 0);
}

const ShipPackage* DSlipway::recordOf(const QTreeWidgetItem* item) const
{
    if (!item || !m_context.engine)
        return nullptr;
    const int index = m_context.engine->findShip(item->text(ColumnName), item->text(ColumnAuthor));
    return index >= 0 ? &m_context.engine->registry().Ships.at(index) : nullptr;
}

void DSlipway::updateStateColumn(QTreeWidgetItem* item, bool enabled)
{
    using namespace InstallerText;
    item->setIcon(ColumnState,
                  icon(enabled ? QStringLiteral("yes.png") : QStringLiteral("no.png")));
    item->setText(ColumnState, PlainUiText(text(enabled ? Enabled : Disabled)));
    // A disabled ship is out of the game: its row reads greyed out.
    const QBrush brush = enabled ? QBrush() : palette().brush(QPalette::Disabled, QPalette::Text);
    for (int column = ColumnName; column <= ColumnVersion; ++column)
        item->setForeground(column, brush);
}

void DSlipway::refreshList()
{
    WListView* list = m_ui->shipList;
    QSet<QString> selected;
    for (const auto& [name, author] : selectedShips())
        selected.insert(name + QLatin1Char('\n') + author);
    QString current;
    if (const QTreeWidgetItem* item = list->currentItem())
        current = item->text(ColumnName) + QLatin1Char('\n') + item->text(ColumnAuthor);

    list->setSortingEnabled(false);
    list->clear();
    if (m_context.engine) {
        const QIcon ship = icon(QStringLiteral("ship.png"));
        for (const ShipPackage& p : m_context.engine->registry().Ships) {
            if (p.Deleted != 0)
                continue;
            auto* item = new QTreeWidgetItem(list);
            item->setText(ColumnName, p.Name);
            item->setText(ColumnAuthor, p.Author);
            item->setText(ColumnVersion, p.Version);
            item->setIcon(ColumnName, ship);
            updateStateColumn(item, p.Enabled);
            if (!p.Comment.isEmpty())
                item->setToolTip(ColumnName, p.Comment);
            const QString key = p.Name + QLatin1Char('\n') + p.Author;
            if (selected.contains(key))
                item->setSelected(true);
            if (key == current)
                list->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        }
    }
    list->setSortingEnabled(true);
    list->viewport()->update();
}

QList<std::pair<QString, QString>> DSlipway::selectedShips() const
{
    QList<std::pair<QString, QString>> ships;
    const WListView* list = m_ui->shipList;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->isSelected())
            ships.append({item->text(ColumnName), item->text(ColumnAuthor)});
    }
    return ships;
}

QTreeWidgetItem* DSlipway::currentShipItem() const
{
    QTreeWidgetItem* item = m_ui->shipList->currentItem();
    return recordOf(item) ? item : nullptr;
}

bool DSlipway::requireGameDir()
{
    if (m_context.engine && !m_context.engine->gameDir().isEmpty())
        return true;
    using namespace InstallerText;
    if (m_context.prompter)
        m_context.prompter->ask(Prompter::Icon::Critical, text(NoGameDirCaption),
                                text(NoGameDirText), {text(Ok)});
    return false;
}

void DSlipway::warnModLocked()
{
    using namespace InstallerText;
    if (m_context.prompter)
        m_context.prompter->ask(Prompter::Icon::Warning, text(ModNotUpdatedCaption),
                                text(ModNotUpdatedText), {text(Ok)});
}

// --- The operation and the queue ---

void DSlipway::beginOperation(const QString& status)
{
    m_busy = true;
    emit Signal_EnableGui(false);
    if (m_context.status && !status.isEmpty())
        m_context.status->showStatus(status);
}

void DSlipway::endOperation()
{
    m_busy = false;
    startQueue();
}

int DSlipway::queuePackages(const QStringList& paths)
{
    if (!m_context.engine)
        return 0;
    int queued = 0;
    for (const QString& path : paths) {
        if (path.trimmed().isEmpty())
            continue;
        if (m_context.engine->enqueue({path}) > 0)
            ++queued;
        else
            emit Signal_AddLog(QStringLiteral("Not a ship package, ignored: ") + path);
    }
    startQueue();
    return queued;
}

void DSlipway::startQueue()
{
    // The running operation starts the queue again when it ends: starting it now
    // too would install an entry twice or run two steps at once.
    if (m_busy || !m_context.engine)
        return;
    QStringList& queue = m_context.engine->queue();
    if (queue.isEmpty()) {
        emit Signal_EnableGui(true);
        return;
    }
    beginOperation(text(InstallerText::Installing) + QStringLiteral(": ") +
                   QFileInfo(queue.first()).fileName() + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_StartInstall);
}

void DSlipway::Slot_StartInstall()
{
    if (m_context.engine && !m_context.engine->queue().isEmpty()) {
        const InstallResult result = m_context.engine->installNext(true);
        if (result.status != 0)
            emit Signal_AddLog(QStringLiteral("Package not installed: ") + result.error);
        refreshList();
    }
    endOperation();
}

void DSlipway::Slot_Install()
{
    if (!requireGameDir())
        return;
    using namespace InstallerText;
    const QStringList files =
        FileDialogs::chooseFiles(this, text(ChoosePackages), m_lastFolder,
                                 PlainUiText(text(PackageFilter)) + QStringLiteral(" (*.xsp)"));
    if (files.isEmpty())
        return;
    m_lastFolder = QFileInfo(files.first()).absolutePath();
    ShipRegistry& registry = m_context.engine->registry();
    if (registry.Ships.isEmpty())
        registry.Buffer = 0;
    queuePackages(files);
}

void DSlipway::Slot_Dropped(const QString& text)
{
    if (!requireGameDir())
        return;
    queuePackages(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

// --- Base mod ---

void DSlipway::Slot_SelectMod(const QString& name)
{
    if (!m_context.engine || m_busy)
        return;
    // The engine shows the status text; the controls go off after it.
    if (!m_context.engine->selectBaseMod(name)) {
        fillBaseModBox();
        return;
    }
    beginOperation(QString());
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_CreateMod);
}

void DSlipway::Slot_RedoBaseMod()
{
    if (!m_context.engine || m_busy || !m_context.engine->redoBaseMod())
        return;
    beginOperation(QString());
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_CreateMod);
}

void DSlipway::Slot_CreateMod()
{
    const bool ok = m_context.engine && m_context.engine->createMod();
    // A refused rebuild keeps the old base mod: the box must show it again.
    fillBaseModBox();
    if (!ok)
        warnModLocked();
    endOperation();
}

// --- Uninstall, enable, disable ---

void DSlipway::Slot_Uninstall()
{
    if (m_busy || selectedShips().isEmpty())
        return;
    beginOperation(text(InstallerText::Uninstalling) + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_UninstallShip);
}

void DSlipway::Slot_UninstallShip()
{
    bool refused = false;
    for (const auto& [name, author] : selectedShips()) {
        const int index = m_context.engine->findShip(name, author);
        if (index >= 0 && !m_context.engine->uninstallShip(index, true))
            refused = true;
    }
    refreshList();
    if (refused)
        warnModLocked();
    endOperation();
}

void DSlipway::Slot_Enabled()
{
    if (m_busy || selectedShips().isEmpty())
        return;
    beginOperation(text(InstallerText::ChangingState) + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_EnabledShip);
}

void DSlipway::Slot_EnabledShip()
{
    bool refused = false;
    for (const auto& [name, author] : selectedShips()) {
        const int index = m_context.engine->findShip(name, author);
        if (index < 0)
            continue;
        const bool enabled = m_context.engine->registry().Ships.at(index).Enabled;
        if (!m_context.engine->setShipEnabled(index, !enabled))
            refused = true;
    }
    refreshList();
    if (refused)
        warnModLocked();
    endOperation();
}

// --- Viewers and the menu ---

void DSlipway::Slot_EditMode()
{
    if (!currentShipItem() || !m_context.prompter)
        return;
    using namespace InstallerText;
    m_context.prompter->ask(Prompter::Icon::Information, text(EditModeCaption), text(EditModeText),
                            {text(Ok)});
}

void DSlipway::Slot_ViewComment()
{
    const ShipPackage* ship = recordOf(currentShipItem());
    if (!ship || ship->Comment.isEmpty())
        return;
    using namespace InstallerText;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("commentDialog"));
    dialog.setWindowTitle(PlainUiText(text(Comment)) + QStringLiteral(": ") + ship->Name);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(&dialog);
    view->setReadOnly(true);
    view->setPlainText(ship->Comment); // never rich text: it comes from the package
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(text(Ok), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(420, 260);
    dialog.exec();
}

void DSlipway::Slot_ViewScreenShot()
{
    const ShipPackage* ship = recordOf(currentShipItem());
    if (!ship || ship->ScreenShot.isEmpty())
        return;
    const QString path =
        m_context.engine->gameDir() + QStringLiteral("/Slipway/ShipPics/") + ship->ScreenShot;
    const bool shown = isViewablePicture(ship->ScreenShot) && QFileInfo(path).isFile() &&
                       DesktopOpen::openUrl(QUrl::fromLocalFile(path));
    if (shown)
        return;
    emit Signal_AddLog(QStringLiteral("Cannot show screenshot: ") + path);
    using namespace InstallerText;
    if (m_context.prompter)
        m_context.prompter->ask(Prompter::Icon::Warning, text(ScreenshotCaption),
                                FormatText(text(ScreenshotFailed), path), {text(Ok)});
}

void DSlipway::Slot_DoubleClicked(QTreeWidgetItem* item, int column)
{
    if (!item)
        return;
    if (column == ColumnState)
        Slot_Enabled();
    else
        Slot_EditMode();
}

void DSlipway::fillContextMenu(QMenu& menu, QTreeWidgetItem* item)
{
    using namespace InstallerText;
    menu.addAction(icon(QStringLiteral("install.png")), text(InstallShips), this,
                   &DSlipway::Slot_Install);
    const ShipPackage* ship = recordOf(item);
    if (!ship)
        return;
    menu.addAction(icon(QStringLiteral("uninstall.png")), text(UninstallShip), this,
                   &DSlipway::Slot_Uninstall);
    menu.addSeparator();
    if (ship->Enabled)
        menu.addAction(icon(QStringLiteral("no.png")), text(DisableShip), this,
                       &DSlipway::Slot_Enabled);
    else
        menu.addAction(icon(QStringLiteral("yes.png")), text(EnableShip), this,
                       &DSlipway::Slot_Enabled);
    menu.addAction(icon(QStringLiteral("editmode.png")), text(EditMode), this,
                   &DSlipway::Slot_EditMode);
    if (!ship->Comment.isEmpty() || !ship->ScreenShot.isEmpty())
        menu.addSeparator();
    if (!ship->Comment.isEmpty())
        menu.addAction(icon(QStringLiteral("comment.png")), text(ViewComment), this,
                       &DSlipway::Slot_ViewComment);
    if (!ship->ScreenShot.isEmpty())
        menu.addAction(icon(QStringLiteral("screenshot.png")), text(ViewScreenshot), this,
                       &DSlipway::Slot_ViewScreenShot);
}

void DSlipway::Slot_Menu(const QPoint& pos)
{
    if (m_busy || !m_context.engine || m_context.engine->gameDir().isEmpty())
        return;
    WListView* list = m_ui->shipList;
    QMenu menu(this);
    fillContextMenu(menu, list->itemAt(pos));
    menu.exec(list->viewport()->mapToGlobal(pos));
}
