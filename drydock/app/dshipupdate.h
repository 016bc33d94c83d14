// The ship update dialog (form "PackageUpdate"): the installed ships with check
// boxes, and one button that runs three phases in turn: look up the ticked ships
// on their web addresses, download the newer packages into the program's
// Downloads folder, install the downloaded ones through the engine. The network
// work is UpdateCheck's; this window only shows it.
//
// Modeless; it deletes itself when closed. Ships are matched to the registry by
// name and author, so the main window may change the registry meanwhile.
#pragma once

#include "updatecheck.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

class DSlipway;
class InstallerEngine;
class Prompter;
class QtProgressSink;
class QTreeWidget;
class QTreeWidgetItem;
class UiTexts;

namespace Ui {
class PackageUpdate;
}

class DShipUpdate : public QDialog
{
    Q_OBJECT
public:
    enum Column {
        ColumnName = 0,
        ColumnAuthor = 1,
        ColumnVersion = 2,
        ColumnAddress = 3,
        ColumnStatus = 4
    };
    enum class Phase { Check, Download, Install };

    // Everything is owned by the main window and must outlive the dialog.
    struct Context
    {
        InstallerEngine* engine = nullptr;
        const UiTexts* texts = nullptr;
        QString programDir; // Icons/ and Downloads/ live here
        Prompter* prompter = nullptr;
        // The main window's ship list: installs wait while it is busy, hold it busy
        // while they run and refresh it afterwards. Optional.
        DSlipway* shipList = nullptr;
    };

    explicit DShipUpdate(const Context& context, QWidget* parent = nullptr);
    ~DShipUpdate() override;

    Phase phase() const { return m_phase; }
    bool isWorking() const { return m_working; }
    QTreeWidget* list() const;
    QString downloadsDir() const;
    // For tests: time-outs and limits.
    UpdateCheck::ShipUpdateChecker& checker() { return *m_checker; }
    UpdateCheck::FileDownloader& downloader() { return *m_downloader; }

public slots:
    void Slot_Reset();
    void Slot_CheckNow();
    void Slot_Timeout(int secondsLeft);
    void Slot_RequestStarted(int index, const QUrl& url);
    void Slot_RequestFinished(int index, const UpdateCheck::ShipCheckResult& result);
    void Slot_SetStatus(const QString& text);
    void Slot_AddLog(const QString& richText);
    void Slot_FinishedDownload(int index, const UpdateCheck::DownloadResult& result);
    void Slot_Progress(qint64 received, qint64 total);
    void Slot_Skip();
    void Slot_Menu(const QPoint& pos);
    void Slot_DeselectAll();
    void Slot_SelectAll();
    void Slot_SelectStored();
    void Slot_InvertSelect();
    void Slot_Install();

signals:
    // Ships were installed: the registry and the mod changed.
    void Signal_ShipsInstalled();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString text(int n) const;
    void setPhase(Phase phase);
    void setWorking(bool working);
    void inform(int message);
    void checkFinished();
    void downloadsFinished();
    void finishInstalls();
    QTreeWidgetItem* itemAt(int index) const;
    // Tooltips with the whole address and status, columns fitted to their texts.
    void showWhole(QTreeWidgetItem* item);
    void fitColumns();
    QList<QTreeWidgetItem*> tickedItems() const;

    std::unique_ptr<Ui::PackageUpdate> m_ui;
    Context m_context;
    QPointer<DSlipway> m_shipList;
    std::unique_ptr<QtProgressSink> m_progressSink;
    UpdateCheck::ShipUpdateChecker* m_checker;
    UpdateCheck::FileDownloader* m_downloader;
    Phase m_phase = Phase::Check;
    bool m_working = false;
    bool m_holdsShipList = false;
    bool m_installedAny = false;
    QList<QTreeWidgetItem*> m_jobItems; // the items of the running phase, by job index
    int m_currentJob = -1;
    QList<QTreeWidgetItem*> m_installQueue;
};
