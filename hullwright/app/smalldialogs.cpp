#include "smalldialogs.h"

#include "creatortexts.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QDialogButtonBox* buttonRow(const UiTexts& texts, int acceptText, QDialog* dialog)
{
    auto* box = new QDialogButtonBox(dialog);
    QPushButton* accept = box->addButton(texts.own(acceptText), QDialogButtonBox::AcceptRole);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setDefault(true);
    box->addButton(texts.own(CreatorText::CancelButton), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace

ImportDummy::ImportDummy(const UiTexts& texts, GroupedTable kind, const QList<ImportRow>& rows,
                         QWidget* parent)
    : QDialog(parent), m_rows(rows), m_list(new QTreeWidget(this))
{
    using namespace CreatorText;
    setObjectName(QStringLiteral("ImportDummy"));
    setWindowTitle(PlainUiText(texts.own(kind == GroupedTable::Dummies ? ImportDummyCaption
                                                                       : ImportComponentCaption)));
    m_list->setObjectName(QStringLiteral("entryList"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({texts.own(ColSections), texts.own(ColData)});
    for (qsizetype i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_list, {rows.at(i).section, rows.at(i).data});
        item->setData(0, Qt::UserRole, int(i));
    }
    m_list->resizeColumnToContents(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttonRow(texts, ImportButton, this));
    resize(620, 420);
}

QList<ImportRow> ImportDummy::chosen() const
{
    QList<ImportRow> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->isSelected())
            rows << m_rows.at(m_list->topLevelItem(i)->data(0, Qt::UserRole).toInt());
    return rows;
}

LanguageText::LanguageText(const UiTexts& texts, const PackageText& text, QWidget* parent)
    : QDialog(parent), m_language(new QSpinBox(this)), m_name(new QLineEdit(text.Name, this)),
      m_description(new QPlainTextEdit(text.Description, this)), m_why(new QLabel(this))
{
    using namespace CreatorText;
    setObjectName(QStringLiteral("LanguageText"));
    setWindowTitle(PlainUiText(texts.own(LanguageTextCaption)));
    m_language->setObjectName(QStringLiteral("languageBox"));
    m_language->setRange(1, 9999);
    m_language->setValue(text.Language > 0 ? text.Language : 44);
    m_language->setToolTip(texts.own(LanguageTextHint));
    m_name->setObjectName(QStringLiteral("nameEdit"));
    m_description->setObjectName(QStringLiteral("descriptionEdit"));
    m_description->setMinimumSize(420, 96);
    m_description->setTabChangesFocus(true);
    m_why->setObjectName(QStringLiteral("whyLabel"));
    m_why->setStyleSheet(QStringLiteral("color: #b00000"));
    m_why->setText(texts.own(LanguageNeedsName));
    m_why->hide();
    auto* form = new QFormLayout;
    form->addRow(texts.own(LanguageNumber), m_language);
    form->addRow(texts.own(ShipName), m_name);
    form->addRow(texts.own(ColShipDesc), m_description);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_why);
    layout->addWidget(buttonRow(texts, Ok, this));
}

void LanguageText::accept()
{
    if (m_name->text().trimmed().isEmpty()) {
        m_why->show();
        m_name->setFocus();
        return;
    }
    QDialog::accept();
}

PackageText LanguageText::text() const
{
    // A name with ":" could not be stored in a package line.
    QString name = m_name->text();
    name.remove(QLatin1Char(':'));
    // The package keeps a description on one line.
    QString description = m_description->toPlainText();
    description.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return {m_language->value(), name, description};
}

namespace TextRows {

void add(QTreeWidget* list, const PackageText& t, const QIcon& icon)
{
    auto* item = new QTreeWidgetItem(list, {QString::number(t.Language), t.Name, t.Description});
    item->setIcon(0, icon);
}

QList<PackageText> read(const QTreeWidget* list)
{
    QList<PackageText> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = list->topLevelItem(i);
        rows.append({it->text(0).toInt(), it->text(1), it->text(2)});
    }
    return rows;
}

bool addLanguage(QWidget* parent, const UiTexts& texts, QTreeWidget* list, const QIcon& icon)
{
    LanguageText dialog(texts, {}, parent);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted || dialog.text().Name.isEmpty())
        return false;
    add(list, dialog.text(), icon);
    return true;
}

bool removeSelected(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    qDeleteAll(selected);
    return !selected.isEmpty();
}

bool changeName(QWidget* parent, const UiTexts& texts, QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    QString name = InputDialogs::askText(parent, texts.own(CreatorText::ShipName),
                                         texts.own(CreatorText::ChangeNameText), selected.first()->text(1));
    if (name.isEmpty())
        return false;
    selected.first()->setText(1, name.remove(QLatin1Char(':')));
    return true;
}

bool changeDescription(QWidget* parent, const UiTexts& texts, QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    const QString desc = InputDialogs::askText(parent, texts.own(CreatorText::ColShipDesc),
                                               texts.own(CreatorText::ChangeDescText), selected.first()->text(2));
    if (desc.isNull())
        return false;
    selected.first()->setText(2, desc);
    return true;
}

bool edit(QWidget* parent, const UiTexts& texts, QTreeWidgetItem* item)
{
    if (!item)
        return false;
    LanguageText dialog(texts, {item->text(0).toInt(), item->text(1), item->text(2)}, parent);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted || dialog.text().Name.isEmpty())
        return false;
    const PackageText t = dialog.text();
    item->setText(0, QString::number(t.Language));
    item->setText(1, t.Name);
    item->setText(2, t.Description);
    return true;
}

QStringList pageFiles(const QString& dir)
{
    QStringList files;
    const QDir folder(dir);
    for (const QString& pattern : {QStringLiteral("*.xml"), QStringLiteral("*.pck")})
        for (const QString& name : folder.entryList({pattern}, QDir::Files, QDir::Name))
            files << folder.filePath(name);
    return files;
}

} // namespace TextRows
