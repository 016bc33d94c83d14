// The two small dialogs of the ship editor: choosing entries of a dummy or
// component table, and the texts of one language; and the editing of a texts
// list, which the editor's texts tab and the import wizard's text page share.
#pragma once

#include "imports.h"

#include <QDialog>

class QIcon;
class QLineEdit;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;
class UiTexts;

// Lists a table's entries under "Sections" and "Data"; the chosen rows come back.
class ImportDummy : public QDialog
{
    Q_OBJECT
public:
    ImportDummy(const UiTexts& texts, GroupedTable kind, const QList<ImportRow>& rows,
                QWidget* parent = nullptr);
    QTreeWidget* list() const { return m_list; }
    // The selected rows in table order.
    QList<ImportRow> chosen() const;

private:
    QList<ImportRow> m_rows;
    QTreeWidget* m_list;
};

// "Language Number", "Ship Name", "Ship Description".
class QLabel;
class QPlainTextEdit;

class LanguageText : public QDialog
{
    Q_OBJECT
public:
    LanguageText(const UiTexts& texts, const PackageText& text, QWidget* parent = nullptr);
    PackageText text() const;
    QSpinBox* languageBox() const { return m_language; }
    QLineEdit* nameEdit() const { return m_name; }
    QPlainTextEdit* descriptionEdit() const { return m_description; }
    // Kept open, saying why, while the ship name is empty.
    void accept() override;

private:
    QSpinBox* m_language;
    QLineEdit* m_name;
    QPlainTextEdit* m_description;
    QLabel* m_why;
};

// A texts list: columns "Language", "Ship Name", "Ship Description". Each edit
// returns true when it changed the list.
namespace TextRows {
void add(QTreeWidget* list, const PackageText& text, const QIcon& icon);
QList<PackageText> read(const QTreeWidget* list);
bool addLanguage(QWidget* parent, const UiTexts& texts, QTreeWidget* list, const QIcon& icon);
bool removeSelected(QTreeWidget* list);
bool changeName(QWidget* parent, const UiTexts& texts, QTreeWidget* list);
bool changeDescription(QWidget* parent, const UiTexts& texts, QTreeWidget* list);
// The language dialog on one row.
bool edit(QWidget* parent, const UiTexts& texts, QTreeWidgetItem* item);
// The *.xml and then the *.pck files of a folder, by name.
QStringList pageFiles(const QString& dir);
} // namespace TextRows
