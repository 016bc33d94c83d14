// The installer's main window (form "Drydock"): the game-directory box, the ship
// list, the menus, and a status bar with a progress bar. It owns the settings of
// config.dat, the UI texts, the debug log and the installer engine.
#pragma once

#include "gamediscovery.h"
#include "installersettings.h"
#include "uitexts.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

class CServerSocket;
class DSlipway;
class DShipUpdate;
class DUpdate;
class InstallerEngine;
class QComboBox;
class QIcon;
class QMenu;
class QProgressBar;
class QTimer;
class QtPrompter;
class QtProgressSink;
class QtStatusSink;
class SystemRegistry;

namespace Ui {
class Drydock;
}

class DDrydock : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr double kVersion = 1.89;

    // Reads config.dat, hw_languages.xml and the system registry values of the
    // program folder, and asks for a game directory when none is known.
    explicit DDrydock(const QString& programDir, QWidget* parent = nullptr);
    ~DDrydock() override;

    InstallerEngine& engine() { return *m_engine; }
    DSlipway* shipList() const;
    QComboBox* directoryBox() const;
    QProgressBar* progressBar() const { return m_progress; }
    const InstallerSettings& settings() const { return m_settings; }
    const UiTexts& texts() const { return m_texts; }
    QString programDir() const { return m_programDir; }

    // Becomes the running instance: paths that later starts hand over on this
    // port reach Slot_ReadInputText. A port that is taken is tried again every
    // half second for five seconds (a window that just closed may still hold it);
    // then the user is told that packages opened from the desktop will not reach
    // this window. Port 0 picks a free one (tests).
    void startListening(quint16 port);
    CServerSocket* server() const { return m_server; }
    // For tests: how often and how far apart binding is tried.
    void setListenRetry(int tries, int intervalMs);
    // The program mirrors from the settings; empty: Update Program is greyed out.
    QStringList programMirrors() const;
    // The icon of the window: the desktop's installed one, else the program folder's.
    static QIcon applicationIcon(const QString& programDir);

public slots:
    void SetControls(bool enable);
    // A package path from the command line or another instance.
    void Slot_ReadInputText(const QString& text);
    void Slot_GetDirectory();
    void Slot_Enabled();
    void Slot_Uninstall();
    void Slot_Install();
    void Slot_Close();
    void Slot_Config();
    void Slot_ComboDir(const QString& dir);
    void Slot_ShipUpdate();
    void Slot_ProgramUpdate();
    void Slot_UpdateMod();
    void Slot_Update();
    void Slot_RedoBaseMod();
    // Update > Verify Installation: the check runs 100 ms later, then its list shows.
    void Slot_Verify();
    void Slot_RunVerify();
    // Edit > Undo and Redo: the game directory's last change (or undo) reverted.
    void Slot_Undo();
    void Slot_Redo();
    // File > History.
    void Slot_History();
    void AddLog(const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString installerText(int n) const { return m_texts.own(n); }
    void loadTexts();
    void retranslate();
    void fillDirectoryBox();
    void writeSettings();
    // Regenerates the mod; on success the mod counts as unchanged.
    bool updateMod();
    void switchDirectory(const QString& dir);
    // The box about a game directory that another program holds.
    void showWriteRefusal();
    void retryListening();
    // The registry of the current directory and the settings, as at closing.
    void saveState();
    // The Update menu's "Verify Installation", made on first use.
    QAction* verifyAction();
    // The Edit menu and File > History, made on first use.
    QMenu* editMenu();
    // Undo and Redo name what they would revert; greyed out when there is nothing.
    void refreshUndo();
    void undo(bool redo);

    QString m_programDir;
    std::unique_ptr<Ui::Drydock> m_ui;
    UiTexts m_texts{UiTexts::Program::Installer};
    InstallerSettings m_settings;
    std::unique_ptr<SystemRegistry> m_systemRegistry; // the current game's registry
    QList<GameInstall> m_foundGames;                   // at start-up, with their prefixes
    QString m_lastLog;                                 // the last debug log line
    QProgressBar* m_progress = nullptr;
    std::unique_ptr<QtPrompter> m_prompter;
    std::unique_ptr<QtProgressSink> m_progressSink;
    std::unique_ptr<QtStatusSink> m_statusSink;
    std::unique_ptr<InstallerEngine> m_engine;
    QPointer<DShipUpdate> m_shipUpdate;
    QPointer<DUpdate> m_programUpdate;
    CServerSocket* m_server = nullptr; // child of the window
    QTimer* m_listenRetry = nullptr;
    quint16 m_listenPort = 0;
    int m_listenTries = 0;
    int m_maxListenTries = 10;
    QAction* m_verifyAction = nullptr;
    QMenu* m_editMenu = nullptr;
    QAction* m_undoAction = nullptr;
    QAction* m_redoAction = nullptr;
    QAction* m_historyAction = nullptr;
    bool m_waitCursor = false;
    bool m_closing = false;        // the close that is let through
    bool m_closeScheduled = false; // the mod is being regenerated before closing
    bool m_closeRequested = false; // asked to close while an operation ran
};

// The window the program's entry point shows, already listening for paths
// from later starts.
QWidget* createMainWindow(const QString& programDir);
