// The window implementations of the engine's seams (message boxes, progress bar,
// status bar) and thin wrappers around the file dialogs and the desktop's "open".
//
// Each wrapper has a static test hook: while it is set, nothing modal is shown,
// so widget tests never block on a dialog.
#pragma once

#include "uiseams.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

class QDialog;
class QAction;
class QMenu;
class QPoint;
class QProgressBar;
class QStatusBar;
class QUrl;
class QWidget;

// Removes the shortcut markers ("&") of a UI text for places that show it plainly
// (window captions, tooltips); "&&" stays one "&".
QString PlainUiText(const QString& text);

// Puts numbered UI texts on a designer form's controls, found by object name:
// a label or button gets its text, a group box its title, a tab page its tab
// text, the form itself its window title, and "List#2" column 2 of a tree's
// header. A name the form lacks is skipped, so translations and forms may drift.
struct FormText
{
    const char* object;
    int number;
};
void ApplyFormTexts(QWidget* form, const std::function<QString(int)>& text,
                    std::initializer_list<FormText> texts);

// The toolkit's own texts (wizard and standard dialog buttons, file dialogs, edit
// menus, network errors) in the given language, replacing the one installed
// before; English and AnyLanguage need none.
void InstallToolkitTranslation(QLocale::Language language);

class QtPrompter : public Prompter
{
public:
    struct Asked
    {
        Icon icon;
        QString caption;
        QString text;
        QStringList buttons;
        int answer;
        QString checkBox; // the check box's label; empty for a plain question
        bool checked = false;
    };

    explicit QtPrompter(QWidget* parent = nullptr) : m_parent(parent) {}

    int ask(Icon icon, const QString& caption, const QString& text, const QStringList& buttons,
            int defaultButton = 0, int escapeButton = -1) override;

    // A question with a check box below its text (such as "do not ask again").
    // *checked is the box's state when shown and the user's choice afterwards.
    int askWithCheckBox(Icon icon, const QString& caption, const QString& text,
                        const QStringList& buttons, const QString& checkLabel, bool* checked,
                        int defaultButton = 0, int escapeButton = -1);

    // Test hook. While on, no box is shown: each question takes the next queued
    // answer, or its default button once the queue is used up, and is recorded.
    // A check box takes the next queued state, or stays as it was.
    static void setTestMode(bool on);
    static bool testMode();
    static void setNextAnswers(const QList<int>& answers);
    static void setNextCheckStates(const QList<bool>& states);
    // The questions recorded since the last call, oldest first.
    static QList<Asked> takeAsked();

private:
    QWidget* m_parent;
};

// Drives a progress bar with byte counts of any size.
class QtProgressSink : public ProgressSink
{
public:
    explicit QtProgressSink(QProgressBar* bar) : m_bar(bar) {}
    void setTotal(qint64 total) override;
    void setDone(qint64 done) override;

private:
    QProgressBar* m_bar;
    qint64 m_total = 0;
    int m_shift = 0; // bytes are divided by 2^shift so the range fits an int
};

class QtStatusSink : public StatusSink
{
public:
    explicit QtStatusSink(QStatusBar* bar) : m_bar(bar) {}
    void showStatus(const QString& text) override;

private:
    QStatusBar* m_bar;
};

// File and folder choosers. Replace a hook to answer without a dialog; an empty
// answer means the user cancelled.
struct FileDialogs
{
    using DirectoryHook = std::function<QString(const QString& caption, const QString& start)>;
    using FilesHook = std::function<QStringList(const QString& caption, const QString& start,
                                                const QString& filter)>;
    static DirectoryHook directoryHook;
    static FilesHook filesHook;

    static QString chooseDirectory(QWidget* parent, const QString& caption, const QString& start);
    static QStringList chooseFiles(QWidget* parent, const QString& caption, const QString& start,
                                   const QString& filter);
    // One file; answered by filesHook too (its first answer).
    static QString chooseFile(QWidget* parent, const QString& caption, const QString& start,
                              const QString& filter);
    // A name to save under (the file need not exist); answered by filesHook too.
    static QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& start,
                                  const QString& filter);
};

// One-line text and choice questions. The hook gets the caption, the label and
// the proposed text (or the choices joined by "\n") and returns the answer, or a
// null string for "cancelled".
struct InputDialogs
{
    using Hook = std::function<QString(const QString& caption, const QString& label,
                                       const QString& proposal)>;
    static Hook hook;
    // Null when cancelled.
    static QString askText(QWidget* parent, const QString& caption, const QString& label,
                           const QString& text = QString());
    static QString askItem(QWidget* parent, const QString& caption, const QString& label,
                           const QStringList& items, int current = 0);
};

// Modal dialogs of the windows' own. The hook is handed the dialog instead of
// running it: it may fill and press its controls and returns the result code.
struct ModalDialogs
{
    static std::function<int(QDialog&)> hook;
    static int exec(QDialog& dialog);
};

// Pop-up menus. The hook chooses an action of the built menu (or none) instead
// of showing it; the chosen action is triggered as a click would.
struct PopupMenus
{
    static std::function<QAction*(QMenu&)> hook;
    static QAction* exec(QMenu& menu, const QPoint& globalPos);
};

// The desktop's "open" action on a file. The hook replaces it in tests.
struct DesktopOpen
{
    static std::function<bool(const QUrl&)> hook;
    static bool openUrl(const QUrl& url);
};
