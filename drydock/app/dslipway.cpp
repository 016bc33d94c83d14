#include "dslipway.h"

#include "changepreview.h"
#include "dcheckup.h"
#include "fileutils.h"
#include "gamedir.h"
#include "installerengine.h"
#include "installersettings.h"
#include "installertexts.h"
#include "ui_slipway.h"
#include "uiseams_qt.h"
#include "uitexts.h"
#include "wlistview.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QSet>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kStartDelayMs = 100;

// At most this many packages are named one by one in the box of gathered failures.
constexpr int kMaxFailuresListed = 20;

// FormatText in one pass: a value that holds "%2" is not filled in again.
QString fill(const QString& templ, const QString& t1, const QString& t2 = QString())
{
    QString out;
    out.reserve(templ.size() + t1.size() + t2.size());
    for (qsizetype i = 0; i < templ.size(); ++i) {
        if (templ.at(i) == QLatin1Char('%') && i + 1 < templ.size() &&
            (templ.at(i + 1) == QLatin1Char('1') || templ.at(i + 1) == QLatin1Char('2'))) {
            out += templ.at(i + 1) == QLatin1Char('1') ? t1 : t2;
            ++i;
        } else {
            out += templ.at(i);
        }
    }
    return out;
}

// The ship's screenshot in a window of Drydock's own: the picture, scaled to the
// window with its proportions kept, under the ship's name.
class ScreenshotViewer : public QDialog
{
public:
    ScreenshotViewer(const QImage& image, const QString& title, const QString& shipName,
                     const QString& closeText, QWidget* parent)
        : QDialog(parent), m_pixmap(QPixmap::fromImage(image))
    {
        setObjectName(QStringLiteral("screenshotDialog"));
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(title);
        auto* layout = new QVBoxLayout(this);
        auto* name = new QLabel(this);
        name->setObjectName(QStringLiteral("screenshotName"));
        name->setTextFormat(Qt::PlainText);
        name->setText(shipName);
        QFont bold = name->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
        name->setFont(bold);
        name->setAlignment(Qt::AlignCenter);
        layout->addWidget(name);
        m_picture = new QLabel(this);
        m_picture->setObjectName(QStringLiteral("screenshotPicture"));
        m_picture->setAlignment(Qt::AlignCenter);
        // Ignored: the label follows the window, the pixmap follows the label.
        m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        m_picture->setMinimumSize(160, 120);
        layout->addWidget(m_picture, 1);
        auto* buttons = new QDialogButtonBox(this);
        buttons->addButton(closeText, QDialogButtonBox::RejectRole);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);

        // The picture at its own size when it fits on the screen, else scaled down.
        QSize wanted = image.size();
        if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
            wanted = wanted.boundedTo(screen->availableGeometry().size() * 8 / 10);
        const int chrome = name->sizeHint().height() + buttons->sizeHint().height() +
                           layout->spacing() * 2 + layout->contentsMargins().top() +
                           layout->contentsMargins().bottom();
        const QSize scaled = image.size().scaled(wanted, Qt::KeepAspectRatio);
        resize(qMax(scaled.width() + layout->contentsMargins().left() +
                        layout->contentsMargins().right(),
                    320),
               scaled.height() + chrome);
    }

    QSize pictureSize() const { return m_pixmap.size(); }
    const QPixmap* shownPixmap() const { return &m_shown; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QDialog::resizeEvent(event);
        rescale();
    }
    void showEvent(QShowEvent* event) override
    {
        QDialog::showEvent(event);
        rescale();
    }

private:
    void rescale()
    {
        const QSize room = m_picture->contentsRect().size();
        if (room.isEmpty() || m_pixmap.isNull())
            return;
        // Never enlarged: a small picture stays sharp in the middle.
        m_shown =
            m_pixmap.size().width() <= room.width() && m_pixmap.size().height() <= room.height()
                ? m_pixmap
                : m_pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_picture->setPixmap(m_shown);
    }

    QPixmap m_pixmap;
    QPixmap m_shown;
    QLabel* m_picture = nullptr;
};

// A screenshot name comes from a package: only a picture file directly in
// ShipPics is read, never a path that leads elsewhere.
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
    retranslate();
}

QString DSlipway::authoringProgram() const
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("hullwright.exe");
#else
    const QString name = QStringLiteral("hullwright");
#endif
    // The copy beside this program first: it reads the same settings file.
    if (!m_context.programDir.isEmpty()) {
        const QFileInfo beside(m_context.programDir + QLatin1Char('/') + name);
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}

bool DSlipway::editModeAvailable() const
{
    return !authoringProgram().isEmpty();
}

QString DSlipway::packageFolder() const
{
    if (m_context.settings && !m_context.settings->lastFolder.isEmpty() &&
        QFileInfo(m_context.settings->lastFolder).isDir())
        return m_context.settings->lastFolder;
    if (m_context.engine && !m_context.engine->gameDir().isEmpty()) {
        const QString samples = m_context.engine->gameDir() + QStringLiteral("/sample-ships");
        if (QFileInfo(samples).isDir())
            return samples;
    }
    return QDir::homePath();
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
    m_conflicts = ConflictReport();
    if (m_context.engine && !m_context.engine->gameDir().isEmpty())
        m_conflicts = FindConflicts(m_context.engine->gameDir(), m_context.engine->registry());
    const QStringList conflicting = m_conflicts.shipsInvolved();
    if (m_context.engine) {
        const QIcon ship = icon(QStringLiteral("ship.png"));
        const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
        for (const ShipPackage& p : m_context.engine->registry().Ships) {
            if (p.Deleted != 0)
                continue;
            auto* item = new QTreeWidgetItem(list);
            item->setText(ColumnName, p.Name);
            item->setText(ColumnAuthor, p.Author);
            item->setText(ColumnVersion, p.Version);
            item->setIcon(ColumnName, ship);
            updateStateColumn(item, p.Enabled);
            const QString key = p.Name + QLatin1Char('\n') + p.Author;
            QString tip = p.Comment;
            if (conflicting.contains(key)) {
                // Marked: the game sees only one of the copies; the comment names them.
                item->setIcon(ColumnName, warning);
                item->setData(ColumnName, Qt::UserRole, true);
                tip = PlainUiText(text(InstallerText::ConflictTooltip)) +
                      (tip.isEmpty() ? QString() : QStringLiteral("\n\n") + tip);
            }
            if (!tip.isEmpty())
                item->setToolTip(ColumnName, tip);
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
        if (m_context.engine->enqueue({path}) > 0) {
            ++queued;
        } else {
            emit Signal_AddLog(QStringLiteral("Not a ship package, ignored: ") + path);
            addFailure(path, text(InstallerText::ReasonNotPackage));
        }
    }
    startQueue();
    return queued;
}

void DSlipway::reportRefusedPath(const QString& path)
{
    QString clean = path;
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    if (clean.trimmed().isEmpty())
        return;
    using namespace InstallerText;
    const QFileInfo info(clean);
    InstallResult missing;
    missing.failure = InstallResult::Failure::Missing;
    if (info.isFile())
        addFailure(clean, text(ReasonNotPackage));
    else
        addOwnBox(clean, missing);
    startQueue();
}

QString DSlipway::failureReason(const InstallResult& result) const
{
    using namespace InstallerText;
    using Failure = InstallResult::Failure;
    const auto shared = [this](int n) {
        return m_context.texts ? m_context.texts->shared(n) : UiTexts::placeholder(n);
    };
    const QString detail = result.error.toHtmlEscaped();
    switch (result.failure) {
    case Failure::None:
        return result.status == 0 ? QString() : detail;
    case Failure::Cancelled:
        return QString();
    case Failure::Missing:
        return text(ReasonMissing);
    case Failure::NotPackage:
        return text(ReasonNotPackage);
    case Failure::Damaged:
        return text(ReasonDamaged);
    case Failure::TooNew:
        return shared(2);
    case Failure::Older:
        return shared(3);
    case Failure::RefusedName:
        return fill(text(ReasonRefusedName), detail);
    case Failure::NotWritten:
        return fill(text(ReasonNotWritten), detail);
    case Failure::GameLocked:
        return text(ReasonGameLocked);
    case Failure::RegistryBroken:
        return text(ReasonRegistryBroken);
    case Failure::Other:
        break;
    }
    return detail;
}

bool DSlipway::addOwnBox(const QString& path, const InstallResult& result)
{
    using Failure = InstallResult::Failure;
    const auto shared = [this](int n) {
        return m_context.texts ? m_context.texts->shared(n) : UiTexts::placeholder(n);
    };
    switch (result.failure) {
    case Failure::Missing:
        // Installer text 37 ends where the path follows.
        m_ownBoxes.append({text(36), text(37) + QDir::toNativeSeparators(path)});
        return true;
    case Failure::TooNew:
        m_ownBoxes.append({shared(1), shared(2)});
        return true;
    case Failure::Older:
        m_ownBoxes.append({shared(1), shared(3)});
        return true;
    default:
        return false;
    }
}

void DSlipway::addFailure(const QString& path, const QString& reason)
{
    if (!reason.isEmpty())
        m_failures.append({path, reason});
}

void DSlipway::reportFailures()
{
    // A box is up already (its event loop runs the next steps): it shows the
    // failures that came meanwhile once it is closed.
    if (m_reporting)
        return;
    if (!m_context.prompter) {
        m_failures.clear();
        m_ownBoxes.clear();
        return;
    }
    using namespace InstallerText;
    m_reporting = true;
    while (!m_failures.isEmpty() || !m_ownBoxes.isEmpty()) {
        if (!m_ownBoxes.isEmpty()) {
            const auto [caption, message] = m_ownBoxes.takeFirst();
            m_context.prompter->ask(Prompter::Icon::Critical, caption, message, {text(Ok)});
            continue;
        }
        const QList<std::pair<QString, QString>> failures = std::exchange(m_failures, {});
        const auto shownName = [](const QString& path) {
            const QString name = QFileInfo(path).fileName();
            return (name.isEmpty() ? path : name).toHtmlEscaped();
        };
        QString message;
        if (failures.size() == 1) {
            message = fill(text(PackageFailedText), shownName(failures.first().first),
                           failures.first().second);
        } else {
            message = text(PackagesFailedText);
            for (qsizetype i = 0; i < failures.size() && i < kMaxFailuresListed; ++i)
                message +=
                    QStringLiteral("\n<b>") + shownName(failures.at(i).first) +
                    QStringLiteral("</b>: ") +
                    QString(failures.at(i).second).replace(QLatin1Char('\n'), QLatin1Char(' '));
            if (failures.size() > kMaxFailuresListed)
                message += QStringLiteral("\n... (%1)").arg(failures.size());
        }
        m_context.prompter->ask(Prompter::Icon::Critical,
                                m_context.texts ? m_context.texts->shared(1)
                                                : UiTexts::placeholder(1),
                                message, {text(Ok)});
    }
    m_reporting = false;
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
        reportFailures();
        return;
    }
    beginOperation(text(InstallerText::Installing) + QStringLiteral(": ") +
                   QFileInfo(queue.first()).fileName() + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_StartInstall);
}

void DSlipway::Slot_StartInstall()
{
    if (m_context.engine && !m_context.engine->queue().isEmpty()) {
        const QString path = m_context.engine->queue().first();
        if (!previewAccepted([this, path](InstallerEngine& e, QStringList* said) {
                using namespace InstallerText;
                const InstallResult r = e.install(path, nullptr, false, false);
                // In the window's words: the reason as the failure boxes give it.
                const QString what =
                    r.status == 0
                        ? FormatText(PlainUiText(text(PreviewShip)), r.name, r.author, r.version)
                        : QTextDocumentFragment::fromHtml(failureReason(r)).toPlainText();
                *said << FormatText(PlainUiText(text(PreviewOutcome)), QFileInfo(path).fileName(), what);
                return r.status == 0;
            })) {
            m_context.engine->queue().removeFirst();
            endOperation();
            return;
        }
        // The failure boxes wait for the end of the queue, gathered into one.
        const InstallResult result = m_context.engine->installNext(true, false);
        if (result.status != 0) {
            emit Signal_AddLog(QStringLiteral("Package not installed: ") + result.error);
            if (!addOwnBox(path, result))
                addFailure(path, failureReason(result));
        }
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
        FileDialogs::chooseFiles(this, text(ChoosePackages), packageFolder(),
                                 PlainUiText(text(PackageFilter)) + QStringLiteral(" (*.xsp)"));
    if (files.isEmpty())
        return;
    if (m_context.settings) {
        m_context.settings->lastFolder = QFileInfo(files.first()).absolutePath();
        if (m_context.saveSettings)
            m_context.saveSettings();
    }
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

bool DSlipway::confirm(const QList<std::pair<QString, QString>>& ships, int caption,
                       int question, bool* ask)
{
    if (!m_context.prompter || (ask && !*ask))
        return true;
    using namespace InstallerText;
    QStringList names;
    for (const auto& ship : ships)
        if (!names.contains(ship.first))
            names << ship.first;
    const QString text = fill(this->text(question), names.join(QStringLiteral(", ")).toHtmlEscaped());
    const QStringList buttons{this->text(Yes), this->text(No)};
    const QString title = PlainUiText(this->text(caption));
    bool dontAsk = false;
    int answer;
    if (auto* qt = dynamic_cast<QtPrompter*>(m_context.prompter); qt && ask)
        answer = qt->askWithCheckBox(Prompter::Icon::Question, title, text, buttons,
                                     this->text(DoNotAskAgain), &dontAsk, 0, 1);
    else
        answer = m_context.prompter->ask(Prompter::Icon::Question, title, text, buttons, 0, 1);
    if (answer != 0)
        return false;
    if (dontAsk && ask) {
        *ask = false;
        if (m_context.saveSettings)
            m_context.saveSettings();
    }
    return true;
}

void DSlipway::Slot_Uninstall()
{
    if (m_busy)
        return;
    using namespace InstallerText;
    const QList<std::pair<QString, QString>> ships = selectedShips();
    if (ships.isEmpty()) {
        if (m_context.prompter && m_context.engine && !m_context.engine->gameDir().isEmpty())
            m_context.prompter->ask(Prompter::Icon::Information, PlainUiText(text(UninstallShip)),
                                    text(NoShipSelected), {text(Ok)});
        return;
    }
    if (!confirm(ships, UninstallShip, ConfirmUninstallText,
                 m_context.settings ? &m_context.settings->confirmUninstall : nullptr))
        return;
    beginOperation(text(Uninstalling) + QStringLiteral("..."));
    QTimer::singleShot(kStartDelayMs, this, &DSlipway::Slot_UninstallShip);
}

void DSlipway::Slot_UninstallShip()
{
    const QList<std::pair<QString, QString>> ships = selectedShips();
    if (!previewAccepted([ships](InstallerEngine& e, QStringList*) {
            bool all = true;
            for (const auto& [name, author] : ships) {
                const int index = e.findShip(name, author);
                all = index >= 0 && e.uninstallShip(index, false) && all;
            }
            return all;
        })) {
        endOperation();
        return;
    }
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
    const QList<std::pair<QString, QString>> ships = selectedShips();
    if (m_busy || ships.isEmpty() || !m_context.engine)
        return;
    // A disabled ship's slot is published for the game's purge script, which takes
    // the ship out of saved games: say so before it happens.
    QList<std::pair<QString, QString>> disabling;
    for (const auto& ship : ships) {
        const int index = m_context.engine->findShip(ship.first, ship.second);
        if (index >= 0 && m_context.engine->registry().Ships.at(index).Enabled)
            disabling << ship;
    }
    using namespace InstallerText;
    if (!disabling.isEmpty() &&
        !confirm(disabling, DisableShip, ConfirmDisableText,
                 m_context.settings ? &m_context.settings->confirmDisable : nullptr))
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
    const ShipPackage* ship = recordOf(currentShipItem());
    if (!ship || !m_context.engine)
        return;
    // The editor's edit-mode argument: game folder + "/" + name + "~" + author,
    // slashes in the name part written out.
    QString file = ship->Name + QLatin1Char('~') + ship->Author;
    file.replace(QLatin1Char('\\'), QLatin1String("<bslash>"));
    file.replace(QLatin1Char('/'), QLatin1String("<fslash>"));
    const QString program = authoringProgram();
    if (!program.isEmpty() &&
        QProcess::startDetached(program, {QStringLiteral("-e"), m_context.engine->gameDir() + QLatin1Char('/') + file},
                                QFileInfo(program).absolutePath()))
        return;
    if (!m_context.prompter)
        return;
    using namespace InstallerText;
    m_context.prompter->ask(Prompter::Icon::Information, text(EditModeCaption), text(EditModeText),
                            {text(Ok)});
}

void DSlipway::Slot_ViewComment()
{
    const ShipPackage* ship = recordOf(currentShipItem());
    const QString comment = ship ? commentText(*ship) : QString();
    if (comment.isEmpty())
        return;
    using namespace InstallerText;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("commentDialog"));
    dialog.setWindowTitle(PlainUiText(text(Comment)) + QStringLiteral(": ") + ship->Name);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(&dialog);
    view->setReadOnly(true);
    view->setPlainText(comment); // never rich text: it comes from the package
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(text(Ok), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.resize(420, 260);
    dialog.exec();
}

QString DSlipway::commentText(const ShipPackage& ship) const
{
    QString out = ship.Comment;
    const QStringList lines = m_conflicts.linesFor(ship.Name, ship.Author);
    if (!lines.isEmpty()) {
        if (!out.isEmpty())
            out += QStringLiteral("\n\n");
        out += PlainUiText(text(InstallerText::ConflictsLabel));
        for (const QString& l : lines)
            out += QStringLiteral("\n- ") + l;
    }
    return out;
}

bool DSlipway::previewAccepted(const std::function<bool(InstallerEngine&, QStringList*)>& operation)
{
    InstallerEngine* engine = m_context.engine;
    if (!engine || !m_context.settings || !m_context.settings->previewChanges || !m_context.texts)
        return true;
    const DryRunResult result =
        DryRun(engine->gameDir(), engine->services(), engine->settings(), operation, engine);
    emit Signal_AddLog(QStringLiteral("Preview: ") +
                       (result.ran ? result.preview.withoutClock().lines().join(QStringLiteral("; "))
                                   : result.error));
    DPreview dialog(*m_context.texts, result, this);
    return dialog.exec() == QDialog::Accepted;
}

void DSlipway::Slot_ViewScreenShot()
{
    const ShipPackage* ship = recordOf(currentShipItem());
    if (!ship || ship->ScreenShot.isEmpty())
        return;
    QString why = QStringLiteral("not a picture file name");
    const QString resolved = ResolveBelow(
        ResolvePath(m_context.engine->gameDir(), QStringLiteral("Slipway/ShipPics")),
        ship->ScreenShot, &why);
    const QString path =
        resolved.isEmpty()
            ? m_context.engine->gameDir() + QStringLiteral("/Slipway/ShipPics/") + ship->ScreenShot
            : resolved;
    using namespace InstallerText;
    QImage image;
    if (!resolved.isEmpty() && isViewablePicture(ship->ScreenShot)) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        image = reader.read();
        why = reader.errorString();
    }
    if (image.isNull()) {
        emit Signal_AddLog(QStringLiteral("Cannot show screenshot: ") + path +
                           QStringLiteral(": ") + why);
        if (m_context.prompter)
            m_context.prompter->ask(
                Prompter::Icon::Warning, text(ScreenshotCaption),
                fill(text(ScreenshotUnreadable), QDir::toNativeSeparators(path).toHtmlEscaped()),
                {text(Ok)});
        return;
    }
    // One viewer at a time: a second request shows the other ship in its place.
    if (m_viewer)
        m_viewer->close();
    m_viewer = new ScreenshotViewer(
        image, PlainUiText(text(ScreenshotCaption)) + QStringLiteral(": ") + ship->Name, ship->Name,
        text(CloseDialog), window());
    m_viewer->show();
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
    const bool comment = !commentText(*ship).isEmpty();
    if (comment || !ship->ScreenShot.isEmpty())
        menu.addSeparator();
    if (comment)
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
