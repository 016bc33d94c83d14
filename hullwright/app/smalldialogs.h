// The two small dialogs of the ship editor: choosing entries of a dummy or
// component table, and the texts of one language.
#pragma once

#include "imports.h"

#include <QDialog>

class QLineEdit;
class QSpinBox;
class QTreeWidget;
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
class LanguageText : public QDialog
{
    Q_OBJECT
public:
    LanguageText(const UiTexts& texts, const PackageText& text, QWidget* parent = nullptr);
    PackageText text() const;
    QSpinBox* languageBox() const { return m_language; }
    QLineEdit* nameEdit() const { return m_name; }
    QLineEdit* descriptionEdit() const { return m_description; }

private:
    QSpinBox* m_language;
    QLineEdit* m_name;
    QLineEdit* m_description;
};
