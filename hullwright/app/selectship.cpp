#include "selectship.h"

#include "creatortexts.h"
#include "ui_selectship.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QFileInfo>

SelectShip::SelectShip(const UiTexts& texts, PickerTable kind, const QString& programDir,
                       const QString& workDir, const QString& language, const QString& startDir,
                       QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DSelectShip>()), m_texts(texts), m_kind(kind),
      m_programDir(programDir), m_workDir(workDir), m_language(language), m_startDir(startDir)
{
    using namespace CreatorText;
    m_ui->setupUi(this);
    setWindowTitle(PlainUiText(texts.own(kind == PickerTable::Ships ? SelectShipCaption
                                                                    : SelectCockpitCaption)));
    m_ui->shipList->setHeaderLabels(kind == PickerTable::Ships
                                        ? QStringList{texts.own(ShipName), texts.own(ColId), texts.own(ColIndex)}
                                        : QStringList{texts.own(ColCockpit), texts.own(ColIndex)});
    m_ui->shipList->setSelectionMode(kind == PickerTable::Ships ? QAbstractItemView::SingleSelection
                                                                : QAbstractItemView::ExtendedSelection);
    m_ui->openButton->setText(texts.own(OpenTableButton));
    m_ui->selectButton->setText(texts.own(SelectButton));
    m_ui->selectButton->setDefault(true);
    m_ui->cancelButton->setText(texts.own(CancelButton));
    connect(m_ui->openButton, &QPushButton::clicked, this, &SelectShip::Slot_OpenFile);
    connect(m_ui->selectButton, &QPushButton::clicked, this, &SelectShip::Slot_Selected);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->shipList, &QTreeWidget::itemDoubleClicked, this, &SelectShip::Slot_Selected);
}

SelectShip::~SelectShip() = default;

QString SelectShip::fileCaption() const
{
    return m_texts.own(m_kind == PickerTable::Ships ? CreatorText::ChooseShipTable
                                                    : CreatorText::ChooseCockpitTable);
}

QString SelectShip::fileFilter() const
{
    using namespace CreatorText;
    return m_kind == PickerTable::Ships
               ? m_texts.own(ShipTableFilter) + QStringLiteral(" (tships.pck tships.txt TShips.pck TShips.txt *.cat);;") +
                     m_texts.own(CatalogFilter) + QStringLiteral(" (*.cat)")
               : m_texts.own(CockpitTableFilter) +
                     QStringLiteral(" (tcockpits.txt tcockpits.pck TCockpits.txt TCockpits.pck *.cat);;") +
                     m_texts.own(CatalogFilter) + QStringLiteral(" (*.cat)");
}

void SelectShip::Slot_OpenFile()
{
    const QString file = FileDialogs::chooseFile(this, fileCaption(), m_startDir, fileFilter());
    if (!file.isEmpty())
        loadTable(file);
}

bool SelectShip::loadTable(const QString& path)
{
    m_ui->shipList->clear();
    const PickerLoad load = LoadPickerTable(path, m_kind, m_workDir, m_language);
    m_entries = load.entries;
    m_startDir = QFileInfo(path).path();
    const QIcon icon(m_programDir + QStringLiteral("/Icons/ship.png"));
    m_ui->shipList->setSortingEnabled(false);
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const PickerEntry& e = m_entries.at(i);
        const QString index = QStringLiteral("%1").arg(e.index, 4);
        auto* item = new QTreeWidgetItem(
            m_ui->shipList, m_kind == PickerTable::Ships
                                ? QStringList{e.name.isEmpty() ? e.identifier : e.name, e.identifier, index}
                                : QStringList{e.identifier, index});
        item->setIcon(0, icon);
        item->setData(0, Qt::UserRole, int(i));
    }
    m_ui->shipList->setSortingEnabled(true);
    m_ui->shipList->sortByColumn(0, Qt::AscendingOrder);
    for (int c = 0; c < m_ui->shipList->columnCount(); ++c)
        m_ui->shipList->resizeColumnToContents(c);
    return load.ok;
}

QList<PickerEntry> SelectShip::chosen() const
{
    QList<PickerEntry> rows;
    for (QTreeWidgetItem* item : m_ui->shipList->selectedItems())
        rows << m_entries.at(item->data(0, Qt::UserRole).toInt());
    std::sort(rows.begin(), rows.end(),
              [](const PickerEntry& a, const PickerEntry& b) { return a.index < b.index; });
    return rows;
}

void SelectShip::Slot_Selected()
{
    if (!m_ui->shipList->selectedItems().isEmpty())
        accept();
}
