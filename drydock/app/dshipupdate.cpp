#include "dshipupdate.h"

#include "dslipway.h"
#include "installerengine.h"
#include "ui_packageupdate.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

using namespace UpdateCheck;

namespace {

constexpr int kInstallDelayMs = 100;
constexpr int RoleFile = Qt::UserRole;           // the new package's address
constexpr int RoleDownloaded = Qt::UserRole + 1; // where it was saved

} // namespace

DShipUpdate::DShipUpdate(const Context& context, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::PackageUpdate>()), m_context(context),
      m_shipList(context.shipList)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_progressSink = std::make_unique<QtProgressSink>(m_ui->progress);

    const QStringList* texts = m_context.texts ? &m_context.texts->ownTexts() : nullptr;
    m_checker = new ShipUpdateChecker(texts, this);
    m_downloader = new FileDownloader(texts, this);

    using namespace UpdateText;
    setWindowTitle(PlainUiText(text(ShipsCaption)));
    m_ui->shipList->setHeaderLabels({text(UpdateText::HeaderShip), text(UpdateText::HeaderAuthor),
                                     text(UpdateText::HeaderVersion),
                                     text(UpdateText::HeaderAddress),
                                     text(UpdateText::HeaderStatus)});
    m_ui->skipButton->setText(text(Skip));
    m_ui->closeButton->setText(text(Close));

    connect(m_ui->actionButton, &QPushButton::clicked, this, &DShipUpdate::Slot_CheckNow);
    connect(m_ui->skipButton, &QPushButton::clicked, this, &DShipUpdate::Slot_Skip);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->shipList, &QWidget::customContextMenuRequested, this, &DShipUpdate::Slot_Menu);

    connect(m_checker, &ShipUpdateChecker::Signal_AddressStarted, this,
            &DShipUpdate::Slot_RequestStarted);
    connect(m_checker, &ShipUpdateChecker::Signal_ShipFinished, this,
            &DShipUpdate::Slot_RequestFinished);
    connect(m_checker, &ShipUpdateChecker::Signal_Status, this, &DShipUpdate::Slot_SetStatus);
    connect(m_checker, &ShipUpdateChecker::Signal_CountDown, this, &DShipUpdate::Slot_Timeout);
    connect(m_checker, &ShipUpdateChecker::Signal_AddLog, this, &DShipUpdate::Slot_AddLog);
    connect(m_checker, &ShipUpdateChecker::Signal_Finished, this, &DShipUpdate::checkFinished);

    connect(m_downloader, &FileDownloader::Signal_FileStarted, this,
            &DShipUpdate::Slot_RequestStarted);
    connect(m_downloader, &FileDownloader::Signal_FileFinished, this,
            &DShipUpdate::Slot_FinishedDownload);
    connect(m_downloader, &FileDownloader::Signal_Status, this, &DShipUpdate::Slot_SetStatus);
    connect(m_downloader, &FileDownloader::Signal_Progress, this, &DShipUpdate::Slot_Progress);
    connect(m_downloader, &FileDownloader::Signal_AddLog, this, &DShipUpdate::Slot_AddLog);
    connect(m_downloader, &FileDownloader::Signal_Finished, this, &DShipUpdate::downloadsFinished);

    setPhase(Phase::Check);
    Slot_Reset();
}

DShipUpdate::~DShipUpdate()
{
    m_checker->cancel();
    m_downloader->cancel();
    if (m_holdsShipList && m_shipList)
        m_shipList->endOperation();
}

QTreeWidget* DShipUpdate::list() const
{
    return m_ui->shipList;
}

QString DShipUpdate::downloadsDir() const
{
    return m_context.programDir + QStringLiteral("/Downloads");
}

QString DShipUpdate::text(int n) const
{
    return m_context.texts ? m_context.texts->own(n) : UiTexts::placeholder(n);
}

void DShipUpdate::setPhase(Phase phase)
{
    m_phase = phase;
    const int label = phase == Phase::Check      ? UpdateText::CheckNow
                      : phase == Phase::Download ? UpdateText::DownloadUpdates
                                                 : UpdateText::InstallUpdates;
    m_ui->actionButton->setText(text(label));
}

void DShipUpdate::setWorking(bool working)
{
    m_working = working;
    m_ui->actionButton->setEnabled(!working);
    m_ui->skipButton->setEnabled(working && m_checker->isRunning());
    if (!working)
        m_ui->statusLabel->clear();
}

void DShipUpdate::inform(int message)
{
    if (m_context.prompter)
        m_context.prompter->ask(Prompter::Icon::Information, text(UpdateText::NothingToDoCaption),
                                text(message), {text(UpdateText::Ok)});
}

void DShipUpdate::Slot_Reset()
{
    m_checker->cancel();
    m_downloader->cancel();
    m_jobItems.clear();
    m_installQueue.clear();
    m_ui->shipList->clear();
    setWorking(false);
    setPhase(Phase::Check);
    if (!m_context.engine)
        return;
    const QIcon icon(m_context.programDir + QStringLiteral("/Icons/file.png"));
    for (const ShipPackage& ship : m_context.engine->registry().Ships) {
        if (ship.Deleted != 0)
            continue;
        auto* item = new QTreeWidgetItem(
            m_ui->shipList, {ship.Name, ship.Author, ship.Version, QString(), QString()});
        item->setIcon(ColumnName, icon);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ColumnName, ship.NotChecked ? Qt::Unchecked : Qt::Checked);
    }
    fitColumns();
}

QList<QTreeWidgetItem*> DShipUpdate::tickedItems() const
{
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_ui->shipList->topLevelItem(i);
        if (item->checkState(ColumnName) == Qt::Checked)
            items.append(item);
    }
    return items;
}

QTreeWidgetItem* DShipUpdate::itemAt(int index) const
{
    return index >= 0 && index < m_jobItems.size() ? m_jobItems.at(index) : nullptr;
}

void DShipUpdate::Slot_CheckNow()
{
    if (m_working || !m_context.engine)
        return;
    using namespace UpdateText;
    const QList<QTreeWidgetItem*> ticked = tickedItems();
    m_jobItems.clear();

    if (m_phase == Phase::Check) {
        InstallerEngine& engine = *m_context.engine;
        QList<std::pair<QString, QString>> keys;
        QList<ShipCheck> jobs;
        for (QTreeWidgetItem* item : ticked) {
            const int index = engine.findShip(item->text(ColumnName), item->text(ColumnAuthor));
            if (index < 0)
                continue; // uninstalled since the list was filled
            keys.append({item->text(ColumnName), item->text(ColumnAuthor)});
            jobs.append(ShipCheck::of(engine.registry().Ships.at(index)));
            m_jobItems.append(item);
        }
        // Remembered for "select stored", also when nothing is ticked.
        if (RecordCheckedShips(engine.registry(), keys))
            engine.saveRegistry();
        for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = m_ui->shipList->topLevelItem(i);
            item->setData(ColumnName, RoleFile, QVariant());
            item->setData(ColumnName, RoleDownloaded, QVariant());
            item->setText(ColumnAddress, QString());
            item->setText(ColumnStatus,
                          m_jobItems.contains(item) ? text(Checking) : text(NotChecked));
            item->setToolTip(ColumnAddress, QString());
            item->setToolTip(ColumnStatus, item->text(ColumnStatus));
        }
        fitColumns();
        if (jobs.isEmpty()) {
            inform(NothingToCheck);
            return;
        }
        setWorking(true);
        m_checker->start(jobs);
        m_ui->skipButton->setEnabled(true);
        return;
    }

    if (m_phase == Phase::Download) {
        QStringList addresses;
        for (QTreeWidgetItem* item : ticked) {
            const QString file = item->data(ColumnName, RoleFile).toString();
            if (file.isEmpty())
                continue;
            addresses.append(file);
            m_jobItems.append(item);
        }
        if (addresses.isEmpty()) {
            inform(NothingToDownload);
            return;
        }
        setWorking(true);
        m_downloader->downloadFiles(addresses, downloadsDir());
        return;
    }

    m_installQueue.clear();
    for (QTreeWidgetItem* item : ticked)
        if (!item->data(ColumnName, RoleDownloaded).toString().isEmpty())
            m_installQueue.append(item);
    if (m_installQueue.isEmpty()) {
        inform(NothingToInstall);
        return;
    }
    setWorking(true);
    m_installedAny = false;
    QTimer::singleShot(kInstallDelayMs, this, &DShipUpdate::Slot_Install);
}

void DShipUpdate::Slot_Timeout(int secondsLeft)
{
    // The status line names host and seconds; the list shows which ship waits.
    if (QTreeWidgetItem* item = itemAt(m_currentJob); item && m_checker->isRunning())
        item->setText(ColumnStatus, text(UpdateText::Checking) + QStringLiteral(" (") +
                                        QString::number(secondsLeft) + QLatin1Char(')'));
}

void DShipUpdate::Slot_RequestStarted(int index, const QUrl& url)
{
    m_currentJob = index;
    if (QTreeWidgetItem* item = itemAt(index)) {
        item->setText(ColumnAddress, url.toString());
        showWhole(item);
        m_ui->shipList->scrollToItem(item);
    }
}

void DShipUpdate::Slot_RequestFinished(int index, const ShipCheckResult& result)
{
    QTreeWidgetItem* item = itemAt(index);
    if (!item)
        return;
    using Outcome = ShipCheckResult::Outcome;
    using namespace UpdateText;
    switch (result.outcome) {
    case Outcome::Newer:
        item->setText(ColumnStatus, text(Newer) + QStringLiteral(": ") + result.remoteVersion);
        item->setText(ColumnAddress, result.fileAddress);
        item->setData(ColumnName, RoleFile, result.fileAddress);
        break;
    case Outcome::Same:
        item->setText(ColumnStatus, text(Same));
        item->setText(ColumnAddress, text(NoUpdate));
        break;
    case Outcome::Older:
        item->setText(ColumnStatus, text(Older) + QStringLiteral(": ") + result.remoteVersion);
        item->setText(ColumnAddress, text(NoUpdate));
        break;
    case Outcome::Failed: {
        const QStringList* texts = m_context.texts ? &m_context.texts->ownTexts() : nullptr;
        const QString why =
            result.failures.isEmpty() ? QString() : result.failures.last().text(texts);
        item->setText(ColumnStatus, text(CheckFailed) + QStringLiteral(": ") + why);
        item->setText(ColumnAddress, text(NoUpdate));
        break;
    }
    }
    // Ticked means "install this" from now on; a ship whose check failed stays
    // ticked, so that "Check Now" can try it again.
    if (result.outcome != Outcome::Failed)
        item->setCheckState(ColumnName,
                            result.outcome == Outcome::Newer ? Qt::Checked : Qt::Unchecked);
    showWhole(item);
}

void DShipUpdate::showWhole(QTreeWidgetItem* item)
{
    // Long addresses and reasons do not fit a column: the tooltip has them whole.
    for (const int column : {int(ColumnAddress), int(ColumnStatus)})
        item->setToolTip(column, item->text(column));
    fitColumns();
}

void DShipUpdate::fitColumns()
{
    QTreeWidget* list = m_ui->shipList;
    for (int c = 0; c < list->columnCount(); ++c)
        list->resizeColumnToContents(c);
}

void DShipUpdate::checkFinished()
{
    setWorking(false);
    bool anyNewer = false;
    for (const QTreeWidgetItem* item : std::as_const(m_jobItems))
        anyNewer = anyNewer || !item->data(ColumnName, RoleFile).toString().isEmpty();
    setPhase(anyNewer ? Phase::Download : Phase::Check);
}

void DShipUpdate::Slot_SetStatus(const QString& text)
{
    m_ui->statusLabel->setText(text);
}

void DShipUpdate::Slot_AddLog(const QString& richText)
{
    m_ui->log->append(richText);
}

void DShipUpdate::Slot_FinishedDownload(int index, const DownloadResult& result)
{
    QTreeWidgetItem* item = itemAt(index);
    if (!item)
        return;
    using namespace UpdateText;
    if (result.ok) {
        item->setData(ColumnName, RoleDownloaded, result.savedPath);
        item->setText(ColumnStatus, text(Downloaded));
    } else {
        const QStringList* texts = m_context.texts ? &m_context.texts->ownTexts() : nullptr;
        item->setData(ColumnName, RoleDownloaded, QVariant());
        item->setText(ColumnStatus,
                      text(DownloadFailed) + QStringLiteral(": ") + result.failure.text(texts));
    }
    showWhole(item);
}

void DShipUpdate::downloadsFinished()
{
    setWorking(false);
    bool anyDownloaded = false;
    for (const QTreeWidgetItem* item : std::as_const(m_jobItems))
        anyDownloaded =
            anyDownloaded || !item->data(ColumnName, RoleDownloaded).toString().isEmpty();
    // All failed: the download phase stays, to be tried again.
    setPhase(anyDownloaded ? Phase::Install : Phase::Download);
}

void DShipUpdate::Slot_Progress(qint64 received, qint64 total)
{
    m_progressSink->setTotal(total > 0 ? total : 0);
    m_progressSink->setDone(received);
}

void DShipUpdate::Slot_Skip()
{
    m_checker->skip();
}

void DShipUpdate::Slot_Menu(const QPoint& pos)
{
    using namespace UpdateText;
    QMenu menu(this);
    menu.addAction(text(SelectAll), this, &DShipUpdate::Slot_SelectAll);
    menu.addAction(text(DeselectAll), this, &DShipUpdate::Slot_DeselectAll);
    menu.addAction(text(InvertSelection), this, &DShipUpdate::Slot_InvertSelect);
    menu.addAction(text(SelectStored), this, &DShipUpdate::Slot_SelectStored);
    for (QAction* action : menu.actions())
        action->setEnabled(!m_working);
    menu.exec(m_ui->shipList->viewport()->mapToGlobal(pos));
}

void DShipUpdate::Slot_DeselectAll()
{
    for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i)
        m_ui->shipList->topLevelItem(i)->setCheckState(ColumnName, Qt::Unchecked);
}

void DShipUpdate::Slot_SelectAll()
{
    for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i)
        m_ui->shipList->topLevelItem(i)->setCheckState(ColumnName, Qt::Checked);
}

void DShipUpdate::Slot_SelectStored()
{
    if (!m_context.engine)
        return;
    const InstallerEngine& engine = *m_context.engine;
    for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_ui->shipList->topLevelItem(i);
        const int index = engine.findShip(item->text(ColumnName), item->text(ColumnAuthor));
        const bool stored = index >= 0 && !engine.registry().Ships.at(index).NotChecked;
        item->setCheckState(ColumnName, stored ? Qt::Checked : Qt::Unchecked);
    }
}

void DShipUpdate::Slot_InvertSelect()
{
    for (int i = 0; i < m_ui->shipList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_ui->shipList->topLevelItem(i);
        item->setCheckState(ColumnName, item->checkState(ColumnName) == Qt::Checked ? Qt::Unchecked
                                                                                    : Qt::Checked);
    }
}

void DShipUpdate::Slot_Install()
{
    if (!m_working)
        return;
    if (!m_holdsShipList && m_shipList) {
        // The main window's own step first; the installs then hold it off.
        if (m_shipList->isBusy()) {
            QTimer::singleShot(kInstallDelayMs, this, &DShipUpdate::Slot_Install);
            return;
        }
        m_shipList->beginOperation(QString());
        m_holdsShipList = true;
    }
    if (m_installQueue.isEmpty() || !m_context.engine) {
        finishInstalls();
        return;
    }
    QTreeWidgetItem* item = m_installQueue.takeFirst();
    const QString path = item->data(ColumnName, RoleDownloaded).toString();
    m_ui->statusLabel->setText(text(UpdateText::Installing) + QStringLiteral(": ") +
                               QFileInfo(path).fileName() + QStringLiteral("..."));
    m_progressSink->setTotal(0);
    const InstallResult result = m_context.engine->install(path, m_progressSink.get(), false);
    item->setText(ColumnStatus, text(InstallStatusText(result.status)));
    if (result.status != 0 && !result.error.isEmpty())
        item->setText(ColumnStatus, item->text(ColumnStatus) + QStringLiteral(": ") + result.error);
    showWhole(item);
    item->setData(ColumnName, RoleDownloaded, QVariant());
    if (result.status == 0) {
        m_installedAny = true;
        item->setText(ColumnVersion, result.version);
        item->setData(ColumnName, RoleFile, QVariant());
        item->setCheckState(ColumnName, Qt::Unchecked);
    }
    if (m_installQueue.isEmpty())
        finishInstalls();
    else
        QTimer::singleShot(kInstallDelayMs, this, &DShipUpdate::Slot_Install);
}

void DShipUpdate::finishInstalls()
{
    m_installQueue.clear();
    setWorking(false);
    setPhase(Phase::Check);
    if (m_shipList && m_installedAny)
        m_shipList->refreshList();
    if (m_holdsShipList && m_shipList)
        m_shipList->endOperation();
    m_holdsShipList = false;
    if (m_installedAny)
        emit Signal_ShipsInstalled();
    m_installedAny = false;
}

void DShipUpdate::closeEvent(QCloseEvent* event)
{
    m_checker->cancel();
    m_downloader->cancel();
    m_installQueue.clear();
    if (m_working && m_installedAny) {
        // Installs already done still reach the main window.
        finishInstalls();
    } else if (m_holdsShipList && m_shipList) {
        m_shipList->endOperation();
        m_holdsShipList = false;
    }
    m_working = false;
    QDialog::closeEvent(event);
}
