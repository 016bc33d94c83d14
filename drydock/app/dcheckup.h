// The installer window's answers about an installation: the list of problems
// Verify Installation found, the preview of what an install or uninstall will
// change (a dry run), asked before it runs, and the history of changes.
#pragma once

#include <QDialog>
#include <QString>

struct DryRunResult;
#include "changehistory.h"

struct VerifyReport;
class UiTexts;
class QListWidget;
class QTreeWidget;

class DVerify : public QDialog
{
    Q_OBJECT
public:
    DVerify(const UiTexts& texts, const VerifyReport& report, QWidget* parent = nullptr);
    QTreeWidget* problemList() const { return m_list; }

private:
    QTreeWidget* m_list = nullptr;
};

// Accepted: go ahead with the operation.
class DPreview : public QDialog
{
    Q_OBJECT
public:
    DPreview(const UiTexts& texts, const DryRunResult& result, QWidget* parent = nullptr);
    QListWidget* changeList() const { return m_list; }

private:
    QListWidget* m_list = nullptr;
};

// A history entry's change in the language of `texts`: `label` with undo or redo
// before it (the History dialog), or `label` alone (Edit > Undo %1). Entries
// without an action, written before actions were kept, show their English text.
QString HistoryOperationText(const UiTexts& texts, const HistoryEntry& entry);
QString HistoryLabelText(const UiTexts& texts, const HistoryEntry& entry);
// Why undo (or redo) refused, in the language of `texts`; `english` (the history's
// own words) when the refusal does not say.
QString UndoRefusalText(const UiTexts& texts, const ChangeHistory::Refusal& refusal, bool redo,
                        const QString& english);
// When a history entry took place, in the way of the language's locale.
QString HistoryTimeText(const UiTexts& texts, const HistoryEntry& entry);

// File > History: every change of the game directory, newest first, and whether
// undo or redo can still take it back.
class DHistory : public QDialog
{
    Q_OBJECT
public:
    DHistory(const UiTexts& texts, const QList<HistoryEntry>& entries, QWidget* parent = nullptr);
    QTreeWidget* entryList() const { return m_list; }

private:
    QTreeWidget* m_list = nullptr;
};
