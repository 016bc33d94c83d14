#include "dupdate.h"

#include "ddrydock.h"
#include "fileutils.h"
#include "installertexts.h"
#include "ui_update.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

using namespace UpdateCheck;

namespace {

QString versionText(double version)
{
    return QString::asprintf("%0.2f", version);
}

} // namespace

DUpdate::DUpdate(const Context& context, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::Update>()), m_context(context)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (m_context.currentVersion <= 0)
        m_context.currentVersion = DDrydock::kVersion;
    m_starter = [](const QString& program, const QString& workingDir) {
        return QProcess::startDetached(program, {}, workingDir);
    };

    const QStringList* texts = m_context.texts ? &m_context.texts->ownTexts() : nullptr;
    m_checker = new ProgramUpdateChecker(m_context.currentVersion, texts, this);
    m_checker->setMirrors(m_context.mirrors);
    m_downloader = new FileDownloader(texts, this);

    setWindowTitle(PlainUiText(text(UpdateText::ProgramCaption)));
    m_ui->closeButton->setText(text(InstallerText::Cancel));
    m_ui->progress->setValue(0);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QWidget::close);

    connect(m_checker, &ProgramUpdateChecker::Signal_MirrorStarted, this,
            &DUpdate::Slot_RequestStarted);
    connect(m_checker, &ProgramUpdateChecker::Signal_Finished, this,
            &DUpdate::Slot_RequestFinished);
    connect(m_checker, &ProgramUpdateChecker::Signal_Status, this, &DUpdate::Slot_SetStatus);
    connect(m_checker, &ProgramUpdateChecker::Signal_CountDown, this, &DUpdate::Slot_CountDown);
    connect(m_checker, &ProgramUpdateChecker::Signal_AddLog, this, &DUpdate::Slot_AddLog);
    connect(m_downloader, &FileDownloader::Signal_FileStarted, this, &DUpdate::Slot_RequestStarted);
    connect(m_downloader, &FileDownloader::Signal_FileFinished, this,
            &DUpdate::Slot_FinishedDownload);
    connect(m_downloader, &FileDownloader::Signal_Status, this, &DUpdate::Slot_SetStatus);
    connect(m_downloader, &FileDownloader::Signal_CountDown, this, &DUpdate::Slot_CountDown);
    connect(m_downloader, &FileDownloader::Signal_Progress, this, &DUpdate::Slot_Progress);
    connect(m_downloader, &FileDownloader::Signal_AddLog, this, &DUpdate::Slot_AddLog);

    // Started from the event loop, so that the caller can show the dialog first.
    m_checker->start();
}

DUpdate::~DUpdate()
{
    m_checker->cancel();
    m_downloader->cancel();
}

QString DUpdate::text(int n) const
{
    return m_context.texts ? m_context.texts->own(n) : UiTexts::placeholder(n);
}

QString DUpdate::downloadsDir() const
{
    return m_context.programDir + QStringLiteral("/Downloads");
}

void DUpdate::Slot_RequestStarted(int index, const QUrl& url)
{
    Q_UNUSED(index);
    Q_UNUSED(url);
    m_ui->progress->setRange(0, 1);
    m_ui->progress->setValue(0);
}

void DUpdate::Slot_RequestFinished(const ProgramCheckResult& result)
{
    using namespace UpdateText;
    using Outcome = ProgramCheckResult::Outcome;
    m_ui->statusLabel->clear();
    if (result.outcome == Outcome::Failed) {
        fail(text(ProgramFailedText));
        return;
    }
    if (result.outcome == Outcome::UpToDate) {
        if (m_context.prompter)
            m_context.prompter->ask(
                Prompter::Icon::Information, text(UpToDateCaption),
                FormatText(text(UpToDateText), versionText(m_context.currentVersion)), {text(Ok)});
        close();
        return;
    }
    const int question =
        m_context.startDownloaded ? int(NewVersionText) : int(InstallerText::NewVersionSaveText);
    const int answer =
        m_context.prompter
            ? m_context.prompter->ask(Prompter::Icon::Question, text(NewVersionCaption),
                                      FormatText(text(question), versionText(result.version),
                                                 versionText(m_context.currentVersion)),
                                      {text(Yes), text(No)}, 0, 1)
            : 1;
    if (answer != 0) {
        close();
        return;
    }
    m_downloader->downloadFile(result.downloadUrl.toString(), downloadsDir());
}

void DUpdate::Slot_SetStatus(const QString& text)
{
    m_ui->statusLabel->setText(text);
}

void DUpdate::Slot_AddLog(const QString& richText)
{
    m_ui->log->append(richText);
}

void DUpdate::Slot_FinishedDownload(int index, const DownloadResult& result)
{
    Q_UNUSED(index);
    using namespace UpdateText;
    m_ui->statusLabel->clear();
    if (!result.ok) {
        const QStringList* texts = m_context.texts ? &m_context.texts->ownTexts() : nullptr;
        fail(FormatText(text(ProgramDownloadFailed), result.failure.text(texts)));
        return;
    }
    const QString saved = QDir::toNativeSeparators(result.savedPath);
    if (!m_context.startDownloaded) {
        // Outside Windows programs are installed by the system or by the user: a
        // downloaded file is never run from here.
        QStringList lines;
        for (const QString& line :
             FormatText(text(InstallerText::NewVersionSaved), saved).split(QLatin1Char('\n')))
            lines << UpdateTexts::blue(line);
        Slot_AddLog(lines.join(QStringLiteral("<br>")));
        // The log holds the whole path; the status line names the file.
        finish(QFileInfo(saved).fileName());
        m_ui->statusLabel->setToolTip(saved);
        return;
    }
#ifndef Q_OS_WIN
    // Elsewhere a downloaded program needs the right to run.
    QFile::setPermissions(result.savedPath,
                          QFile::permissions(result.savedPath) | QFile::ExeOwner | QFile::ExeUser);
#endif
    // Started first: when it cannot start, the installer keeps running.
    if (!m_starter(result.savedPath, downloadsDir())) {
        fail(FormatText(text(ProgramStartFailed), QDir::toNativeSeparators(result.savedPath)));
        return;
    }
    emit Signal_CloseOwner();
    close();
}

void DUpdate::Slot_CountDown(int secondsLeft)
{
    // While a mirror is asked the bar shows the time used; downloads show bytes.
    if (m_downloader->isRunning())
        return;
    m_ui->progress->setRange(0, m_checker->timeout());
    m_ui->progress->setValue(m_checker->timeout() - secondsLeft);
}

void DUpdate::Slot_Progress(qint64 received, qint64 total)
{
    // Bytes can exceed an int: the bar shows per mille.
    m_ui->progress->setRange(0, 1000);
    m_ui->progress->setValue(total > 0 ? int(std::clamp<qint64>(received * 1000 / total, 0, 1000))
                                       : 0);
}

void DUpdate::fail(const QString& message)
{
    // In the log too, where the mirrors' answers are; the debug log keeps them.
    Slot_AddLog(UpdateTexts::red(PlainUiText(text(UpdateText::ProgramFailedCaption))) +
                message.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
    finish(PlainUiText(text(UpdateText::ProgramFailedCaption)));
    // A failed update is an error the user must see, and the dialog has nothing
    // left to offer after it.
    if (m_context.prompter)
        m_context.prompter->ask(Prompter::Icon::Critical, text(UpdateText::ProgramFailedCaption),
                                message, {text(UpdateText::Ok)});
    close();
}

void DUpdate::finish(const QString& status)
{
    m_finished = true;
    m_checker->cancel();
    m_downloader->cancel();
    m_ui->statusLabel->setText(status);
    m_ui->progress->setRange(0, 1);
    m_ui->progress->setValue(1);
    m_ui->closeButton->setText(text(InstallerText::CloseDialog));
    m_ui->closeButton->setDefault(true);
    m_ui->closeButton->setFocus();
}

void DUpdate::closeEvent(QCloseEvent* event)
{
    m_checker->cancel();
    m_downloader->cancel();
    QDialog::closeEvent(event);
}
