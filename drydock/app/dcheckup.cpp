#include "dcheckup.h"

#include "changepreview.h"
#include "fileutils.h"
#include "installertexts.h"
#include "uiseams_qt.h"
#include "uitexts.h"
#include "verify.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
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
    for (const VerifyProblem& p : report.problems) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, p.ship.isEmpty() ? QStringLiteral("-")
                                          : p.ship + QStringLiteral(" (") + p.author + QLatin1Char(')'));
        // The ship is in its own column: the problem text without it.
        QString message = p.message;
        const QString prefix = p.ship + QStringLiteral(" by ") + p.author + QStringLiteral(": ");
        if (!p.ship.isEmpty() && message.startsWith(prefix))
            message = message.mid(prefix.size());
        item->setText(1, p.kind + QStringLiteral(": ") + message);
        item->setToolTip(1, p.message);
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
