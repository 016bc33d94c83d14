// The ship list of the installer window (form "Slipway"): the base-mod box and the
// list of installed ships, with the actions that work on them. The engine does the
// work; this widget schedules it, one long operation at a time.
//
// Long operations run 100 ms after they are asked for, so that the window shows
// the disabled controls and the status first. While one is scheduled or running
// the widget is busy: a package that arrives meanwhile waits in the install queue
// and the queue starts once the operation has ended.
#pragma once

#include "conflicts.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class InstallerEngine;
struct InstallerSettings;
struct InstallResult;
class QDialog;
class Prompter;
class QComboBox;
class QMenu;
class QTreeWidgetItem;
class StatusSink;
class UiTexts;
class WListView;
struct ShipPackage;

namespace Ui {
class Slipway;
}

class DSlipway : public QWidget
{
    Q_OBJECT
public:
    enum Column { ColumnName = 0, ColumnAuthor = 1, ColumnVersion = 2, ColumnState = 3 };

    // What the list works with; everything is owned by the main window and must
    // outlive this widget.
    struct Context
    {
        InstallerEngine* engine = nullptr;
        const UiTexts* texts = nullptr;
        QString programDir;
        Prompter* prompter = nullptr;
        StatusSink* status = nullptr;
        // The settings the list keeps (the package folder, the uninstall question)
        // and how to write them; both optional.
        InstallerSettings* settings = nullptr;
        std::function<void()> saveSettings;
    };

    explicit DSlipway(QWidget* parent = nullptr);
    ~DSlipway() override;

    void attach(const Context& context);
    // Labels, headers and the base-mod box again, after the UI texts changed.
    void retranslate();
    void fillBaseModBox();
    // One item per installed ship of the registry; the selection is kept.
    void refreshList();

    WListView* listView() const;
    QComboBox* baseModBox() const;
    // The installed record an item shows, or null.
    const ShipPackage* recordOf(const QTreeWidgetItem* item) const;
    // The context menu's entries for an item (null: the list's empty part).
    void fillContextMenu(QMenu& menu, QTreeWidgetItem* item);

    // Queues the ship packages among the paths (".xsp") and starts the queue.
    // Returns how many were queued. The others are reported as not installed.
    int queuePackages(const QStringList& paths);
    // A path that reached the window but cannot be queued (another start handed
    // over a file that is no package): reported with the queue's failures.
    void reportRefusedPath(const QString& path);
    // Why a package was not installed, in the user's words (rich text, values
    // escaped); empty when there is nothing to report (the user cancelled).
    QString failureReason(const InstallResult& result) const;
    // Whether "Open in Edit Mode" is offered: the authoring program sits beside
    // this one in the program folder.
    bool editModeAvailable() const;
    // The authoring program: beside this one, else on the PATH; empty when none.
    QString authoringProgram() const;
    // The open screenshot window, if any.
    QDialog* screenshotViewer() const { return m_viewer; }
    // Installs the next queued package 100 ms from now, unless an operation is
    // scheduled or running; with nothing left, the controls are enabled again.
    void startQueue();
    bool isBusy() const { return m_busy; }
    // A long operation of the main window: disables the controls and shows the
    // status. endOperation() ends it and lets the queue continue.
    void beginOperation(const QString& status);
    void endOperation();
    // With the preview setting on, runs the operation on a scratch copy of the game
    // and shows what it would change; true when the user goes ahead (or the
    // setting is off).
    bool previewAccepted(const std::function<bool(InstallerEngine&, QStringList*)>& operation);
    // The conflicts the list marks, as of the last refresh.
    const ConflictReport& conflicts() const { return m_conflicts; }
    // The lines the comment viewer shows for a ship: its comment, then its conflicts.
    QString commentText(const ShipPackage& ship) const;

public slots:
    void Slot_ViewComment();
    void Slot_ViewScreenShot();
    void Slot_EditMode();
    void Slot_DoubleClicked(QTreeWidgetItem* item, int column);
    void Slot_Menu(const QPoint& pos);
    void Slot_Dropped(const QString& text);
    void Slot_SelectMod(const QString& name);
    void Slot_RedoBaseMod();
    void Slot_Enabled();
    void Slot_EnabledShip();
    void Slot_Uninstall();
    void Slot_UninstallShip();
    void Slot_CreateMod();
    void Slot_Install();
    void Slot_StartInstall();

signals:
    void Signal_EnableGui(bool enable);
    void Signal_AddLog(const QString& line);

private:
    QString text(int n) const;
    QIcon icon(const QString& name) const;
    bool requireGameDir();
    // Name and author of the selected ships, in list order.
    QList<std::pair<QString, QString>> selectedShips() const;
    QTreeWidgetItem* currentShipItem() const;
    void updateStateColumn(QTreeWidgetItem* item, bool enabled);
    void warnModLocked();
    // The failures gathered while the queue ran, shown in one box once it is empty.
    void addFailure(const QString& path, const QString& reason);
    // A failure that has a box of its own (a missing package, one that needs a newer
    // installer, an older version): shown as it is, not among the gathered ones.
    // False when the result is none of these.
    bool addOwnBox(const QString& path, const InstallResult& result);
    void reportFailures();
    QString packageFolder() const;
    // The uninstall question; true when the user wants the ships uninstalled.
    // The question before an uninstall or a disable, with "Do not ask again", which
    // clears *ask (a setting) and saves the settings. True to go on.
    bool confirm(const QList<std::pair<QString, QString>>& ships, int caption, int question,
                 bool* ask);

    std::unique_ptr<Ui::Slipway> m_ui;
    Context m_context;
    bool m_busy = false;
    bool m_reporting = false;
    QList<std::pair<QString, QString>> m_failures; // path, reason
    QList<std::pair<QString, QString>> m_ownBoxes; // caption, message
    QPointer<QDialog> m_viewer;
    ConflictReport m_conflicts;
};
