#include "dcheckup.h"

#include "changehistory.h"
#include "changepreview.h"
#include "fileutils.h"
#include "installertexts.h"
#include "uiseams_qt.h"
#include "uitexts.h"
#include "verify.h"

#include <QDialogButtonBox>
#include <QDir>
#include <iterator>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

DVerify::DVerify(const UiTexts& texts, const VerifyReport& report, QWidget* parent) : QDialog(parent)
{
    using namespace InstallerText;
    setObjectName(QStringLiteral("verifyDialog"));
    setWindowTitle(PlainUiText(texts.own(VerifyCaption)));
    auto* layout = new QVBoxLayout(this);
    auto* summary = new QLabel(report.ok() ? PlainUiText(texts.own(VerifyHealthy))
                                           : FormatText(PlainUiText(texts.own(VerifyProblems)),
                                                        QString::number(report.problems.size())),
                               this);
    summary->setObjectName(QStringLiteral("verifySummary"));
    summary->setWordWrap(true);
    layout->addWidget(summary);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("problemList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({PlainUiText(texts.own(HeaderShip)), PlainUiText(texts.own(HeaderProblem))});
    // The kinds scripts read stay English in the engine; the window names them.
    static const char* const kVerifyKinds[] = {"journal", "registry", "mod",  "entry", "missing",
                                               "orphan",  "stale",    "lock", "game"};
    for (const VerifyProblem& p : report.problems) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, p.ship.isEmpty() ? QStringLiteral("-")
                                          : p.ship + QStringLiteral(" (") + p.author + QLatin1Char(')'));
        QString kind = p.kind;
        for (int k = 0; k < int(std::size(kVerifyKinds)); ++k)
            if (p.kind == QLatin1String(kVerifyKinds[k]))
                kind = PlainUiText(texts.own(VerifyKindFirst + k));
        // The ship is in its own column: the shown text is without it.
        const QString message = p.shown.isEmpty() ? p.message : p.shown;
        // One pass over both markers: a message holding "%1" stays as it is.
        item->setText(1, texts.own(VerifyLine).arg(kind, message));
        item->setToolTip(1, message);
    }
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->setVisible(!report.ok());
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(texts.own(Ok), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(report.ok() ? 460 : 760, report.ok() ? 140 : 360);
}

DPreview::DPreview(const UiTexts& texts, const DryRunResult& result, QWidget* parent) : QDialog(parent)
{
    using namespace InstallerText;
    setObjectName(QStringLiteral("previewDialog"));
    setWindowTitle(PlainUiText(texts.own(PreviewCaption)));
    auto* layout = new QVBoxLayout(this);
    QStringList head = result.outcome;
    if (!result.ran)
        head << FormatText(PlainUiText(texts.own(PreviewFailed)), result.error);
    auto* summary = new QLabel(head.join(QLatin1Char('\n')).toHtmlEscaped().replace('\n', "<br>"), this);
    summary->setObjectName(QStringLiteral("previewSummary"));
    summary->setWordWrap(true);
    summary->setVisible(!head.isEmpty());
    layout->addWidget(summary);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("previewList"));
    if (result.ran)
        m_list->addItems(result.preview.withoutClock().lines());
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* go = buttons->addButton(PlainUiText(texts.own(PreviewContinue)), QDialogButtonBox::AcceptRole);
    go->setObjectName(QStringLiteral("previewContinue"));
    buttons->addButton(PlainUiText(texts.own(Cancel)), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("previewCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    go->setDefault(true);
    resize(760, 420);
}

QString HistoryLabelText(const UiTexts& texts, const HistoryEntry& entry)
{
    using namespace InstallerText;
    struct Wording
    {
        const char* action;
        int text;      // with its arguments
        int textFake;  // the same for a fake patch, else -1
    };
    // The arguments fill %1; a second one "fake" picks the fake patch's text.
    static const Wording kWordings[] = {
        {HistoryAction::Install, OpInstall, -1},
        {HistoryAction::Uninstall, OpUninstall, -1},
        {HistoryAction::Enable, OpEnable, -1},
        {HistoryAction::Disable, OpDisable, -1},
        {HistoryAction::UpdateMod, OpUpdateMod, -1},
        {HistoryAction::BaseMod, OpBaseMod, OpBaseModFake},
        {HistoryAction::NoBaseMod, OpNoBaseMod, -1},
        {HistoryAction::BaseModAgain, OpBaseModAgain, OpBaseModAgainFake},
        {HistoryAction::LoadingScreensOn, OpLoadingScreensOn, -1},
        {HistoryAction::LoadingScreensOff, OpLoadingScreensOff, -1},
        {HistoryAction::Scripts, OpScripts, -1},
        {HistoryAction::SaveRegistry, OpSaveRegistry, -1},
        {HistoryAction::Edit, OpEdit, -1},
    };
    const QStringList& args = entry.actionArgs;
    for (const Wording& w : kWordings) {
        if (entry.action != QLatin1String(w.action))
            continue;
        if (entry.action == QLatin1String(HistoryAction::Install))
            return args.isEmpty() ? PlainUiText(texts.own(OpInstallNone))
                                  : FormatText(PlainUiText(texts.own(OpInstall)), args.join(QStringLiteral(", ")));
        const bool fake = w.textFake >= 0 && args.contains(QStringLiteral("fake"));
        const QString first = entry.action == QLatin1String(HistoryAction::BaseModAgain) ? QString()
                                                                                         : args.value(0);
        return FormatText(PlainUiText(texts.own(fake ? w.textFake : w.text)), first);
    }
    // Written before actions were kept, or by a newer program: its own words.
    return entry.label.isEmpty() ? entry.operation : entry.label;
}

QString HistoryOperationText(const UiTexts& texts, const HistoryEntry& entry)
{
    using namespace InstallerText;
    if (entry.action.isEmpty())
        return entry.operation;
    const QString label = HistoryLabelText(texts, entry);
    if (entry.kind == QLatin1String("undo"))
        return FormatText(PlainUiText(texts.own(OpUndo)), label);
    if (entry.kind == QLatin1String("redo"))
        return FormatText(PlainUiText(texts.own(OpRedo)), label);
    return label;
}

QString UndoRefusalText(const UiTexts& texts, const ChangeHistory::Refusal& refusal, bool redo,
                        const QString& english)
{
    using namespace InstallerText;
    using Refusal = ChangeHistory::Refusal;
    const auto text = [&texts](int n) { return PlainUiText(texts.own(n)); };
    const QString change = HistoryOperationText(texts, refusal.entry);
    switch (refusal.reason) {
    case Refusal::Nothing:
        return text(redo ? RedoNothingLeft : UndoNothingLeft);
    case Refusal::NoData:
        return FormatText(text(redo ? RedoNoData : UndoNoData), change);
    case Refusal::Changed:
        return FormatText(text(redo ? RedoFileChanged : UndoFileChanged), refusal.file, change);
    case Refusal::ValueChanged:
        return FormatText(text(redo ? RedoModChanged : UndoModChanged), change);
    case Refusal::Unreachable:
        return FormatText(text(UndoUnreachable), change);
    case Refusal::Failed:
        return FormatText(text(redo ? RedoStepFailed : UndoStepFailed), refusal.detail);
    case Refusal::None:
        break;
    }
    return english;
}

QString HistoryTimeText(const UiTexts& texts, const HistoryEntry& entry)
{
    return texts.locale().toString(entry.time.toLocalTime(), QLocale::ShortFormat);
}

DHistory::DHistory(const UiTexts& texts, const QList<HistoryEntry>& entries, QWidget* parent)
    : QDialog(parent)
{
    using namespace InstallerText;
    setObjectName(QStringLiteral("historyDialog"));
    setWindowTitle(PlainUiText(texts.own(HistoryCaption)));
    auto* layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({PlainUiText(texts.own(HeaderTime)), PlainUiText(texts.own(HeaderProgram)),
                             PlainUiText(texts.own(HeaderOperation)), PlainUiText(texts.own(HeaderShip)),
                             PlainUiText(texts.own(HeaderFiles)), PlainUiText(texts.own(HeaderUndo))});
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, HistoryTimeText(texts, *it));
        item->setText(1, it->program);
        item->setText(2, HistoryOperationText(texts, *it));
        QStringList ships;
        for (qsizetype k = 0; k < it->ships.size(); ++k) {
            const int slot = k < it->shipSlots.size() ? it->shipSlots.at(k) : -1;
            ships << (slot > 0 ? QStringLiteral("%1 (%2)").arg(it->ships.at(k)).arg(slot) : it->ships.at(k));
        }
        item->setText(3, ships.join(QStringLiteral(", ")));
        item->setText(4, QString::number(it->files.size()));
        QStringList files;
        for (const HistoryFile& f : it->files) {
            const int change = f.change == QLatin1String("added")      ? FileAdded
                               : f.change == QLatin1String("replaced") ? FileReplaced
                               : f.change == QLatin1String("removed")  ? FileRemoved
                                                                       : FileChanged;
            files << FormatText(PlainUiText(texts.own(FileLine)), PlainUiText(texts.own(change)),
                                QDir::toNativeSeparators(f.name));
        }
        item->setToolTip(4, files.join(QLatin1Char('\n')));
        item->setText(5, it->undoable   ? PlainUiText(texts.own(CanUndo))
                         : it->redoable ? PlainUiText(texts.own(CanRedo))
                                        : QStringLiteral("-"));
    }
    for (int c = 0; c < 5; ++c)
        m_list->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(texts.own(Ok), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(860, 360);
}
