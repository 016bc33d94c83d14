// The program update dialog (form "Update"): asks the program mirrors for a newer
// installer, offers to download it, and once the user agreed and the file is
// completely in the program's Downloads folder, starts it and asks the main
// window to close (on Windows). Elsewhere a downloaded program is never started:
// the dialog says where it was saved. The network work is UpdateCheck's.
//
// Failures are shown in the dialog's own log and status line; the dialog stays
// open until the user closes it. Modeless; it starts checking as soon as the
// event loop runs and deletes itself when closed.
#pragma once

#include "updatecheck.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Prompter;
class UiTexts;

namespace Ui {
class Update;
}

class DUpdate : public QDialog
{
    Q_OBJECT
public:
    struct Context
    {
        const UiTexts* texts = nullptr; // owned by the main window
        QString programDir;             // Downloads/ lives here
        Prompter* prompter = nullptr;   // owned by the main window
        double currentVersion = 0;      // 0: this program's version
        QStringList mirrors;            // the mirrors to ask, in order
#ifdef Q_OS_WIN
        bool startDownloaded = true; // run the new version and close
#else
        bool startDownloaded = false; // only save it: the system installs programs
#endif
    };
    // Starts the downloaded program; false when it could not be started.
    using Starter = std::function<bool(const QString& program, const QString& workingDir)>;

    explicit DUpdate(const Context& context, QWidget* parent = nullptr);
    ~DUpdate() override;

    // Replaces the detached start of the downloaded file (tests).
    void setStarter(Starter starter)
    {
        m_starter = std::move(starter);
    }
    QString downloadsDir() const;
    // Whether the check ended (up to date, saved, failed) and the dialog only waits
    // to be closed.
    bool isFinished() const
    {
        return m_finished;
    }
    // For tests: time-outs and limits; set them before the event loop runs.
    UpdateCheck::ProgramUpdateChecker& checker()
    {
        return *m_checker;
    }
    UpdateCheck::FileDownloader& downloader()
    {
        return *m_downloader;
    }

public slots:
    void Slot_RequestStarted(int index, const QUrl& url);
    void Slot_RequestFinished(const UpdateCheck::ProgramCheckResult& result);
    void Slot_SetStatus(const QString& text);
    void Slot_AddLog(const QString& richText);
    void Slot_FinishedDownload(int index, const UpdateCheck::DownloadResult& result);
    void Slot_CountDown(int secondsLeft);
    void Slot_Progress(qint64 received, qint64 total);

signals:
    // The new version is running: the main window should save and end.
    void Signal_CloseOwner();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString text(int n) const;
    void fail(const QString& message);
    // The dialog stays with its log: the check is over, the button closes.
    void finish(const QString& status);

    std::unique_ptr<Ui::Update> m_ui;
    Context m_context;
    Starter m_starter;
    UpdateCheck::ProgramUpdateChecker* m_checker;
    UpdateCheck::FileDownloader* m_downloader;
    bool m_finished = false;
};
