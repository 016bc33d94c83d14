#include "importwizard.h"

#include "creatortexts.h"
#include "fileutils.h"
#include "shiprecord.h"
#include "smalldialogs.h"
#include "typetable.h"
#include "ui_wizarddummy.h"
#include "ui_wizardselectlisth.h"
#include "ui_wizardselectlistv.h"
#include "ui_wizardship.h"
#include "ui_wizardtext.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QVBoxLayout>

#include <functional>

namespace {

constexpr int kDataRole = Qt::UserRole;

// The wait cursor for as long as one step runs, whatever way it ends.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// A page whose Next waits for a condition (the ship page: a ship is selected).
class GatedPage : public QWizardPage
{
public:
    GatedPage(QWidget* form, const QString& title, std::function<bool()> gate = {})
        : m_gate(std::move(gate))
    {
        setTitle(title);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(form);
    }
    bool isComplete() const override { return !m_gate || m_gate(); }
    void changed() { emit completeChanged(); }

private:
    std::function<bool()> m_gate;
};

QStringList itemData(const QTreeWidget* list)
{
    QStringList values;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        values << list->topLevelItem(i)->data(0, kDataRole).toString();
    return values;
}

} // namespace

DImportWizard::DImportWizard(ModImport& session, const UiTexts& texts, const Options& options,
                             QWidget* parent)
    : QWizard(parent), m_session(session), m_texts(texts), m_options(options),
      m_shipForm(std::make_unique<Ui::WizardShip>()), m_dummyForm(std::make_unique<Ui::WizardDummy>()),
      m_compForm(std::make_unique<Ui::WizardDummy>()), m_modelForm(std::make_unique<Ui::WizardSelectListV>()),
      m_textureForm(std::make_unique<Ui::WizardSelectListV>()),
      m_cockpitForm(std::make_unique<Ui::WizardSelectListH>()), m_textForm(std::make_unique<Ui::WizardText>())
{
    using namespace CreatorText;
    setObjectName(QStringLiteral("DImportWizard"));
    setWindowTitle(PlainUiText(text(WizardCaption)));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);

    // Page 1: the ships.
    auto* shipWidget = new QWidget;
    m_shipForm->setupUi(shipWidget);
    QTreeWidget* ships = m_shipForm->shipList;
    ships->setHeaderLabels({text(ShipId), text(ShipName)});
    ships->setSortingEnabled(false);
    // The mod's own ships first, the game's that its table repeats apart below.
    QTreeWidgetItem* groups[2] = {new QTreeWidgetItem(ships, {text(WizardOwnShips)}),
                                  new QTreeWidgetItem(ships, {text(WizardGameShips)})};
    for (QTreeWidgetItem* g : groups) {
        g->setFlags(Qt::ItemIsEnabled);
        g->setFirstColumnSpanned(true);
        QFont bold = g->font(0);
        bold.setBold(true);
        g->setFont(0, bold);
    }
    for (qsizetype i = 0; i < session.ships().size(); ++i) {
        const PickerEntry& s = session.ships().at(i);
        auto* item =
            new QTreeWidgetItem(groups[session.isOwnShip(int(i)) ? 0 : 1], {s.identifier, s.name});
        item->setData(0, kDataRole, int(i));
        item->setIcon(0, QIcon(icon("ship.png")));
    }
    for (QTreeWidgetItem* g : groups) {
        g->sortChildren(0, Qt::AscendingOrder);
        g->setExpanded(true);
        g->setHidden(g->childCount() == 0);
    }
    ships->resizeColumnToContents(0);
    ships->setColumnWidth(0, ships->columnWidth(0) + 24);
    m_shipForm->shipHint->setText(FormatText(text(WizardShipText), session.catalog()));
    auto* shipPage = new GatedPage(shipWidget, text(WizardShipTitle),
                                   [ships] { return !ships->selectedItems().isEmpty(); });
    connect(ships, &QTreeWidget::currentItemChanged, this, &DImportWizard::Slot_SelectedShip);
    connect(ships, &QTreeWidget::itemSelectionChanged, this, [this] { Slot_SelectedShip(nullptr); });
    connect(ships, &QTreeWidget::itemDoubleClicked, this, &DImportWizard::Slot_SelectShip);
    setPage(ShipPage, shipPage);

    // Pages 2 and 5: dummies and components, the chosen ship's by default.
    auto entryPage = [this](Ui::WizardDummy& form, EntryPage& page, int title, const QList<ImportRow>& rows,
                            GroupedTable kind, Page id) {
        auto* widget = new QWidget;
        form.setupUi(widget);
        page.list = form.entryList;
        page.hint = form.entryHint;
        page.ticked = QList<bool>(rows.size(), false);
        page.list->setHeaderLabels({text(ColSection), text(ColData)});
        form.showAllCheck->setText(text(ShowAllEntries));
        connect(form.showAllCheck, &QCheckBox::toggled, this,
                [this, &page, table = &rows, kind] { fillEntries(page, *table, kind); });
        connect(page.list, &QTreeWidget::itemChanged, this, [&page](QTreeWidgetItem* item) {
            const int row = item->data(0, kDataRole).toInt();
            if (row >= 0 && row < page.ticked.size())
                page.ticked[row] = item->checkState(0) == Qt::Checked;
        });
        setPage(id, new GatedPage(widget, text(title)));
    };
    entryPage(*m_dummyForm, m_dummies, WizardDummyTitle, session.dummies(), GroupedTable::Dummies, DummyPage);

    // Pages 3, 4 and 6: models, cockpits, textures.
    m_models = selectPage(*m_modelForm, ModelPage, WizardModelTitle, ChosenModels,
                          {&DImportWizard::Slot_AddModel, &DImportWizard::Slot_AddAllModel,
                           &DImportWizard::Slot_RemoveModel, &DImportWizard::Slot_RemoveAllModel});
    m_cockpits = selectPage(*m_cockpitForm, CockpitPage, WizardCockpitTitle, ChosenCockpits,
                            {&DImportWizard::Slot_AddCockpit, &DImportWizard::Slot_AddAllCockpit,
                             &DImportWizard::Slot_RemoveCockpit, &DImportWizard::Slot_RemoveAllCockpit});
    entryPage(*m_compForm, m_components, WizardCompTitle, session.components(), GroupedTable::Components,
              ComponentPage);
    m_textures = selectPage(*m_textureForm, TexturePage, WizardTextureTitle, ChosenTextures,
                            {&DImportWizard::Slot_AddTexture, &DImportWizard::Slot_AddAllTexture,
                             &DImportWizard::Slot_RemoveTexture, &DImportWizard::Slot_RemoveAllTexture});

    // Page 7: the texts.
    auto* textWidget = new QWidget;
    m_textForm->setupUi(textWidget);
    QTreeWidget* textRows = m_textForm->textList;
    textRows->setHeaderLabels({text(ColLanguage), text(ShipName), text(ColShipDesc)});
    textRows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    textRows->setColumnWidth(0, 90);
    textRows->setColumnWidth(1, 180);
    m_textForm->menuHint->setText(text(RightClickHint));
    m_textForm->importFileButton->setText(text(ImportFromTextFile));
    m_textForm->importFileButton->setIcon(QIcon(icon("import.png")));
    m_textForm->importDirButton->setText(text(ImportFromDirectory));
    m_textForm->importDirButton->setIcon(QIcon(icon("importdir.png")));
    connect(textRows, &QWidget::customContextMenuRequested, this, &DImportWizard::Slot_TextMenu);
    connect(textRows, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { TextRows::edit(this, m_texts, item); });
    connect(m_textForm->importFileButton, &QPushButton::clicked, this, &DImportWizard::Slot_ImportFile);
    connect(m_textForm->importDirButton, &QPushButton::clicked, this, &DImportWizard::Slot_ImportDir);
    setPage(TextPage, new GatedPage(textWidget, text(WizardTextTitle)));

    setButtonText(QWizard::CancelButton, PlainUiText(text(CreatorText::CancelButton)));
    resize(760, 540);
}

DImportWizard::~DImportWizard() = default;

QString DImportWizard::text(int n) const
{
    return m_texts.own(n);
}

QString DImportWizard::icon(const char* name) const
{
    return m_options.programDir + QStringLiteral("/Icons/") + QLatin1String(name);
}

template <class Form>
DImportWizard::SelectList DImportWizard::selectPage(Form& form, Page id, int title, int chosenCaption,
                                                    const MoveSlots& moves)
{
    using namespace CreatorText;
    auto* widget = new QWidget;
    form.setupUi(widget);
    SelectList s;
    s.from = form.fromList;
    s.chosen = form.chosenList;
    s.hint = form.selectHint;
    s.from->setHeaderLabels({text(FromMod)});
    s.chosen->setHeaderLabels({text(chosenCaption)});
    QPushButton* buttons[4] = {form.addButton, form.addAllButton, form.removeButton, form.removeAllButton};
    const char* captions[4] = {"-->", "-->>", "<--", "<<--"};
    const int tips[4] = {AddItem, AddAllItems, RemoveItem, RemoveAllItems};
    for (int i = 0; i < 4; ++i) {
        s.buttons[i] = buttons[i];
        buttons[i]->setText(QLatin1String(captions[i]));
        buttons[i]->setToolTip(PlainUiText(text(tips[i])));
        connect(buttons[i], &QPushButton::clicked, this, moves[i]);
    }
    // A double click moves the item clicked to the other list.
    connect(s.from, &QTreeWidget::itemDoubleClicked, this, [this, from = s.from, add = moves[0]](QTreeWidgetItem* item) {
        from->setCurrentItem(item);
        (this->*add)();
    });
    connect(s.chosen, &QTreeWidget::itemDoubleClicked, this,
            [this, chosen = s.chosen, remove = moves[2]](QTreeWidgetItem* item) {
                chosen->setCurrentItem(item);
                (this->*remove)();
            });
    setPage(id, new GatedPage(widget, text(title)));
    return s;
}

void DImportWizard::move(QTreeWidget* from, QTreeWidget* to, bool all)
{
    QList<QTreeWidgetItem*> items;
    if (all) {
        while (from->topLevelItemCount() > 0)
            items << from->takeTopLevelItem(0);
    } else if (QTreeWidgetItem* current = from->currentItem()) {
        items << from->takeTopLevelItem(from->indexOfTopLevelItem(current));
    }
    to->addTopLevelItems(items);
}

void DImportWizard::addItem(QTreeWidget* list, const QString& label, const QVariant& data, const char* iconName)
{
    auto* item = new QTreeWidgetItem(list, {label});
    item->setData(0, kDataRole, data);
    item->setIcon(0, QIcon(icon(iconName)));
}

void DImportWizard::Slot_AddModel() { move(m_models.from, m_models.chosen, false); }
void DImportWizard::Slot_RemoveModel() { move(m_models.chosen, m_models.from, false); }
void DImportWizard::Slot_AddAllModel() { move(m_models.from, m_models.chosen, true); }
void DImportWizard::Slot_RemoveAllModel() { move(m_models.chosen, m_models.from, true); }
void DImportWizard::Slot_AddTexture() { move(m_textures.from, m_textures.chosen, false); }
void DImportWizard::Slot_RemoveTexture() { move(m_textures.chosen, m_textures.from, false); }
void DImportWizard::Slot_AddAllTexture() { move(m_textures.from, m_textures.chosen, true); }
void DImportWizard::Slot_RemoveAllTexture() { move(m_textures.chosen, m_textures.from, true); }
void DImportWizard::Slot_AddCockpit() { move(m_cockpits.from, m_cockpits.chosen, false); }
void DImportWizard::Slot_RemoveCockpit() { move(m_cockpits.chosen, m_cockpits.from, false); }
void DImportWizard::Slot_AddAllCockpit() { move(m_cockpits.from, m_cockpits.chosen, true); }
void DImportWizard::Slot_RemoveAllCockpit() { move(m_cockpits.chosen, m_cockpits.from, true); }

void DImportWizard::Slot_SelectedShip(QTreeWidgetItem*)
{
    if (auto* page = dynamic_cast<GatedPage*>(this->page(ShipPage)))
        page->changed();
}

void DImportWizard::Slot_SelectShip(QTreeWidgetItem* item)
{
    if (!item || !item->data(0, kDataRole).isValid()) // a group heading
        return;
    m_shipForm->shipList->setCurrentItem(item);
    item->setSelected(true);
    next();
}

bool DImportWizard::validateCurrentPage()
{
    if (currentId() == ShipPage) {
        const QList<QTreeWidgetItem*> selected = m_shipForm->shipList->selectedItems();
        if (selected.isEmpty())
            return false;
        const int ship = selected.first()->data(0, kDataRole).toInt();
        if (ship != m_ship)
            chooseShip(ship);
    }
    return QWizard::validateCurrentPage();
}

void DImportWizard::initializePage(int id)
{
    QWizard::initializePage(id);
    if (id == TexturePage && (!m_texturesFilled || itemData(m_models.chosen) != m_texturesFor))
        findTextures();
}

void DImportWizard::fillEntries(EntryPage& page, const QList<ImportRow>& rows, GroupedTable kind)
{
    const bool all = (kind == GroupedTable::Dummies ? m_dummyForm : m_compForm)->showAllCheck->isChecked();
    const QString scene = m_ship < 0 ? QString() : ShipRecord(m_session.ships().at(m_ship).line).field(16);
    const QSignalBlocker block(page.list);
    page.list->clear();
    QList<QTreeWidgetItem*> items;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        // Ticked rows stay in view, so that nothing chosen is hidden.
        if (!all && !page.ticked.at(i) && !RowNamesScene(rows.at(i), kind, scene))
            continue;
        auto* item = new QTreeWidgetItem({rows.at(i).section, rows.at(i).data});
        item->setData(0, kDataRole, int(i));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, page.ticked.at(i) ? Qt::Checked : Qt::Unchecked);
        items << item;
    }
    page.list->addTopLevelItems(items);
    page.list->resizeColumnToContents(0);
    page.list->setColumnWidth(0, qBound(160, page.list->columnWidth(0) + 12, 440));
    page.hint->setText(FormatText(text(CreatorText::DummiesShipText), scene));
}

void DImportWizard::chooseShip(int ship)
{
    using namespace CreatorText;
    WaitCursor wait;
    m_ship = ship;

    const SceneModels scene = m_session.sceneModels(ship);
    m_models.from->clear();
    m_models.chosen->clear();
    for (const QString& m : m_session.models())
        addItem(scene.models.contains(m) ? m_models.chosen : m_models.from, m, m, "model.png");
    const QString sceneName = ShipRecord(m_session.ships().at(ship).line).field(16).trimmed();
    switch (scene.status) {
    case SceneModels::Found:
        m_models.hint->setText(
            FormatText(text(SceneModelsText), scene.sceneEntry,
                       CountText(m_texts, int(scene.references.size()), OneBody, Bodies)));
        break;
    case SceneModels::NoSceneEntry:
        m_models.hint->setText(FormatText(text(SceneMissingText), sceneName));
        break;
    default:
        m_models.hint->setText(FormatText(text(NotASceneText), scene.sceneEntry));
    }

    m_dummies.ticked.fill(false);
    for (int row : m_session.shipDummies(ship))
        m_dummies.ticked[row] = true;
    fillEntries(m_dummies, m_session.dummies(), GroupedTable::Dummies);
    m_components.ticked.fill(false);
    for (int row : m_session.shipComponents(ship))
        m_components.ticked[row] = true;
    fillEntries(m_components, m_session.components(), GroupedTable::Components);

    const QList<int> turrets = m_session.turretCockpits(ship);
    m_cockpits.from->clear();
    m_cockpits.chosen->clear();
    for (qsizetype i = 0; i < m_session.cockpits().size(); ++i)
        if (!turrets.contains(int(i)))
            addItem(m_cockpits.from, TableIdentifier(m_session.cockpits().at(i)), int(i), "cockpit.png");
    for (int i : turrets)
        addItem(m_cockpits.chosen, TableIdentifier(m_session.cockpits().at(i)), i, "cockpit.png");
    m_cockpits.hint->setText(text(CockpitsShipText));

    m_texturesFilled = false;
    m_textForm->textList->clear();
    for (const PackageText& t : m_session.shipTexts(ship))
        TextRows::add(m_textForm->textList, t, QIcon(icon("text.png")));
}

void DImportWizard::findTextures()
{
    using namespace CreatorText;
    WaitCursor wait;
    m_texturesFor = itemData(m_models.chosen);
    m_texturesFilled = true;
    const TextureSearch found = m_session.texturesOf(m_texturesFor, m_options.compiler);
    m_textures.from->clear();
    m_textures.chosen->clear();
    for (const QString& t : m_session.textures())
        addItem(found.textures.contains(t) ? m_textures.chosen : m_textures.from, t, t, "texture.png");
    m_textures.hint->setText(
        found.unreadable.isEmpty()
            ? text(TexturesFoundText)
            : FormatText(text(TexturesUnreadText),
                         CountText(m_texts, int(found.unreadable.size()), OneModel, Models)));
}

ImportChoice DImportWizard::choice() const
{
    ImportChoice c;
    c.ship = m_ship;
    for (qsizetype i = 0; i < m_dummies.ticked.size(); ++i)
        if (m_dummies.ticked.at(i))
            c.dummies << int(i);
    for (qsizetype i = 0; i < m_components.ticked.size(); ++i)
        if (m_components.ticked.at(i))
            c.components << int(i);
    for (const QString& index : itemData(m_cockpits.chosen))
        c.cockpits << index.toInt();
    c.models = itemData(m_models.chosen);
    // A texture page never shown leaves its proposal unmade: nothing is chosen.
    if (m_texturesFilled)
        c.textures = itemData(m_textures.chosen);
    c.texts = TextRows::read(m_textForm->textList);
    return c;
}

// ---- the text page

void DImportWizard::Slot_TextMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QTreeWidget* list = m_textForm->textList;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("wizardTextMenu"));
    const bool any = !list->selectedItems().isEmpty();
    const struct
    {
        const char* name;
        int text;
        const char* icon;
        void (DImportWizard::*slot)();
        bool enabled;
    } actions[] = {{"importFile", MenuImportFile, "import.png", &DImportWizard::Slot_ImportFile, true},
                   {"importDir", MenuImportDir, "importdir.png", &DImportWizard::Slot_ImportDir, true},
                   {"add", MenuAddLanguage, "add.png", &DImportWizard::Slot_AddLanguage, true},
                   {"remove", MenuRemoveLanguage, "remove.png", &DImportWizard::Slot_RemoveLanguage, any},
                   {"changeName", MenuChangeName, "edit.png", &DImportWizard::Slot_ChangeName, any},
                   {"changeDesc", MenuChangeDesc, nullptr, &DImportWizard::Slot_ChangeDesc, any}};
    for (const auto& a : actions) {
        QAction* action = a.icon ? menu.addAction(QIcon(icon(a.icon)), text(a.text)) : menu.addAction(text(a.text));
        action->setObjectName(QLatin1String(a.name));
        action->setEnabled(a.enabled);
        connect(action, &QAction::triggered, this, a.slot);
    }
    PopupMenus::exec(menu, list->viewport()->mapToGlobal(pos));
}

void DImportWizard::Slot_AddLanguage()
{
    TextRows::addLanguage(this, m_texts, m_textForm->textList, QIcon(icon("text.png")));
}

void DImportWizard::Slot_RemoveLanguage()
{
    TextRows::removeSelected(m_textForm->textList);
}

void DImportWizard::Slot_ChangeName()
{
    TextRows::changeName(this, m_texts, m_textForm->textList);
}

void DImportWizard::Slot_ChangeDesc()
{
    TextRows::changeDescription(this, m_texts, m_textForm->textList);
}

void DImportWizard::importTextFiles(const QStringList& files)
{
    if (m_ship < 0 || files.isEmpty())
        return;
    WaitCursor wait;
    const int nameText = TableFieldInt(m_session.ships().at(m_ship).line, 6);
    for (const QString& file : files)
        for (const PackageText& t : ImportShipTexts(
                 file, nameText,
                 m_options.workDir.isEmpty() ? m_options.programDir + QStringLiteral("/temp")
                                             : m_options.workDir,
                 m_options.log))
            TextRows::add(m_textForm->textList, t, QIcon(icon("text.png")));
}

void DImportWizard::Slot_ImportFile()
{
    using namespace CreatorText;
    importTextFiles(FileDialogs::chooseFiles(this, text(ChooseTextFiles), m_options.textDir,
                                             text(TextFilter) + QStringLiteral(" (*.xml *.pck)")));
}

void DImportWizard::Slot_ImportDir()
{
    const QString dir = FileDialogs::chooseDirectory(this, text(CreatorText::ChooseTextDir), m_options.textDir);
    if (!dir.isEmpty())
        importTextFiles(TextRows::pageFiles(dir));
}

// ---- accessors for the tests

QTreeWidget* DImportWizard::shipList() const { return m_shipForm->shipList; }
QTreeWidget* DImportWizard::textList() const { return m_textForm->textList; }

QTreeWidget* DImportWizard::entryList(Page page) const
{
    return page == DummyPage ? m_dummies.list : page == ComponentPage ? m_components.list : nullptr;
}

QTreeWidget* DImportWizard::fromList(Page page) const
{
    return page == ModelPage ? m_models.from : page == CockpitPage ? m_cockpits.from
                                           : page == TexturePage   ? m_textures.from
                                                                   : nullptr;
}

QTreeWidget* DImportWizard::chosenList(Page page) const
{
    return page == ModelPage ? m_models.chosen : page == CockpitPage ? m_cockpits.chosen
                                             : page == TexturePage   ? m_textures.chosen
                                                                     : nullptr;
}

QPushButton* DImportWizard::moveButton(Page page, int which) const
{
    const SelectList* s = page == ModelPage ? &m_models : page == CockpitPage ? &m_cockpits
                                                      : page == TexturePage   ? &m_textures
                                                                              : nullptr;
    return s && which >= 0 && which < 4 ? s->buttons[which] : nullptr;
}

QLabel* DImportWizard::hint(Page page) const
{
    switch (page) {
    case ShipPage: return m_shipForm->shipHint;
    case DummyPage: return m_dummies.hint;
    case ComponentPage: return m_components.hint;
    case ModelPage: return m_models.hint;
    case CockpitPage: return m_cockpits.hint;
    case TexturePage: return m_textures.hint;
    default: return nullptr;
    }
}
