#include "createship.h"
#include "createship_parts.h"

#include "gamechange.h"
#include "gamediscovery.h"

#include "configdialog.h"
#include "configship.h"
#include "creatortexts.h"
#include "equipment.h"
#include "fileutils.h"
#include "gamedir.h"
#include "imports.h"
#include "importwizard.h"
#include "modimport.h"
#include "registry.h"
#include "safefile.h"
#include "selectship.h"
#include "shiprecord.h"
#include "smalldialogs.h"
#include "sysregistry.h"
#include "ui_createship.h"
#include "uiseams_qt.h"
#include "editmode.h"
#include "extraction.h"
#include "packagebuild.h"
#include "profiledialogs.h"
#include "shipbalance.h"
#include "packagecheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

using namespace CreateShipParts;

// ---- models and other files

QTreeWidgetItem* CreateShip::selectedFileItem(const QTreeWidget* list) const
{
    for (QTreeWidgetItem* item : list->selectedItems())
        if (item->parent())
            return item;
    return nullptr;
}

void CreateShip::addFilesAsked(QTreeWidget* list, const QStringList& files, const char* fileIcon)
{
    const QStringList kept = existingFiles(files);
    if (kept.isEmpty())
        return;
    QString dir =
        InputDialogs::askText(this, text(CreatorText::TargetDirCaption),
                              text(CreatorText::TargetDirText), ProposedTargetFolder(kept));
    if (dir.isNull())
        return;
    addTreeFiles(list, dir.replace(QLatin1Char('\\'), QLatin1Char('/')), kept, fileIcon);
    Slot_Modified();
}

void CreateShip::Slot_AddModel()
{
    addFilesAsked(
        m_ui->modelList,
        pickFiles(Folder::Models, text(CreatorText::ChooseModels),
                  text(CreatorText::ModelFilter) + QStringLiteral(" (*.pbd *.bod *.bob *.pbb)")),
        "model.png");
}

void CreateShip::Slot_AddFile()
{
    addFilesAsked(m_ui->otherList,
                  pickFiles(Folder::Models, text(CreatorText::ChooseFiles),
                            text(CreatorText::AllFiles) + QStringLiteral(" (*.*)")),
                  "other.png");
}

void CreateShip::Slot_Dropped(const QString& files)
{
    addFilesAsked(m_ui->modelList, DroppedFileNames(files, DropKind::Models), "model.png");
}

void CreateShip::Slot_OtherDropped(const QString& files)
{
    addFilesAsked(m_ui->otherList, DroppedFileNames(files, DropKind::AnyFile), "other.png");
}

void CreateShip::changeTreeFile(QTreeWidget* list, const QString& filter)
{
    QTreeWidgetItem* item = selectedFileItem(list);
    if (!item)
        return;
    const QString file = pickFile(Folder::Models, text(CreatorText::ChooseFiles), filter);
    if (!QFileInfo(file).isFile())
        return;
    item->setText(0, file);
    item->setText(1, sizeText(file));
    item->setData(0, kPathRole, file);
    Slot_Modified();
}

void CreateShip::Slot_ChangeModel()
{
    changeTreeFile(m_ui->modelList, QLatin1String(kSceneFilter));
}

void CreateShip::Slot_ChangeOther()
{
    changeTreeFile(m_ui->otherList, QStringLiteral("(*.*)"));
}

void CreateShip::changeTreeDir(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem* first = selected.first();
    const QString current = (first->parent() ? first->parent() : first)->data(0, kFolderRole).toString();
    QString dir = InputDialogs::askText(this, text(CreatorText::TargetDirCaption),
                                        text(CreatorText::TargetDirText), current);
    if (dir.isNull())
        return;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Through the draft, so that moved files join an existing folder of that name.
    QList<DraftFolder> tree;
    QStringList moved;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* folder = list->topLevelItem(i);
        QStringList stay;
        for (int k = 0; k < folder->childCount(); ++k) {
            QTreeWidgetItem* f = folder->child(k);
            (f->isSelected() || folder->isSelected() ? moved : stay) << f->data(0, kPathRole).toString();
        }
        AddDraftFiles(tree, folder->data(0, kFolderRole).toString(), stay);
    }
    AddDraftFiles(tree, dir, moved);
    fillTree(list, tree, list == m_ui->modelList ? "model.png" : "other.png");
    Slot_Modified();
}

void CreateShip::Slot_ChangeDir()
{
    changeTreeDir(m_ui->modelList);
}

void CreateShip::Slot_ChangeOtherDir()
{
    changeTreeDir(m_ui->otherList);
}

void CreateShip::removeTreeSelection(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    for (QTreeWidgetItem* item : selected)
        if (item->parent() && !item->parent()->isSelected())
            delete item;
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->isSelected() || list->topLevelItem(i)->childCount() == 0)
            delete list->topLevelItem(i);
    Slot_Modified();
}

void CreateShip::Slot_RemoveModel()
{
    removeTreeSelection(m_ui->modelList);
}

void CreateShip::Slot_RemoveFile()
{
    removeTreeSelection(m_ui->otherList);
}

void CreateShip::ClearModels()
{
    m_ui->modelList->clear();
    Slot_Modified();
}

void CreateShip::ClearOther()
{
    m_ui->otherList->clear();
    Slot_Modified();
}

void CreateShip::switchWithScene(bool cockpit)
{
    QTreeWidgetItem* item = selectedFileItem(m_ui->modelList);
    if (!item)
        return;
    QLineEdit* field = cockpit ? m_ui->cockpitFileEdit : m_ui->sceneFileEdit;
    const QString previous = field->text();
    field->setText(item->data(0, kPathRole).toString());
    if (previous.isEmpty()) {
        // Nothing to take the item's place: an empty row would be a file without a name.
        QTreeWidgetItem* folder = item->parent();
        delete item;
        if (folder->childCount() == 0)
            delete folder;
    } else {
        item->setText(0, previous);
        item->setText(1, sizeText(previous));
        item->setData(0, kPathRole, previous);
    }
    Slot_Modified();
}

void CreateShip::Slot_SwitchScene()
{
    switchWithScene(false);
}

void CreateShip::Slot_SwitchCockpit()
{
    switchWithScene(true);
}

// ---- scripts

void CreateShip::Slot_AddScript()
{
    const QStringList files = existingFiles(
        pickFiles(Folder::Scripts, text(CreatorText::ChooseScripts),
                  text(CreatorText::ScriptFilter) + QStringLiteral(" (*.xml *.pck)")));
    if (files.isEmpty())
        return;
    addScripts(files);
    Slot_Modified();
}

void CreateShip::Slot_ScriptDropped(const QString& files)
{
    const QStringList kept = DroppedFileNames(files, DropKind::AnyFile);
    if (kept.isEmpty())
        return;
    addScripts(kept);
    Slot_Modified();
}

void CreateShip::Slot_RemoveScript()
{
    qDeleteAll(m_ui->scriptList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearScripts()
{
    m_ui->scriptList->clear();
    Slot_Modified();
}

// ---- dummies, components, cockpits

void CreateShip::Slot_AddDummy()
{
    const QString section = InputDialogs::askItem(this, text(CreatorText::SectionCaption),
                                                  text(CreatorText::SectionText), DummyTypes());
    if (section.isEmpty())
        return;
    const QString data = InputDialogs::askText(this, text(CreatorText::DataCaption), text(CreatorText::DataText));
    if (data.trimmed().isEmpty())
        return;
    addDummyRow({section, TerminatedLine(data.trimmed())});
    Slot_Modified();
}

void CreateShip::Slot_ChangeSection()
{
    const QList<QTreeWidgetItem*> selected = m_ui->dummyList->selectedItems();
    if (selected.isEmpty())
        return;
    const QStringList types = DummyTypes();
    const QString section = InputDialogs::askItem(this, text(CreatorText::SectionCaption),
                                                  text(CreatorText::SectionText), types,
                                                  qMax(0, int(types.indexOf(selected.first()->text(0)))));
    if (section.isEmpty())
        return;
    for (QTreeWidgetItem* item : selected)
        item->setText(0, section);
    Slot_Modified();
}

void CreateShip::Slot_ChangeData()
{
    const QList<QTreeWidgetItem*> selected = m_ui->dummyList->selectedItems();
    if (selected.isEmpty())
        return;
    const QString data = InputDialogs::askText(this, text(CreatorText::DataCaption),
                                               text(CreatorText::DataText), selected.first()->text(1));
    if (data.trimmed().isEmpty())
        return;
    selected.first()->setText(1, TerminatedLine(data.trimmed()));
    Slot_Modified();
}

void CreateShip::Slot_RemoveDummy()
{
    qDeleteAll(m_ui->dummyList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearDummy()
{
    m_ui->dummyList->clear();
    Slot_Modified();
}

void CreateShip::Slot_RemoveComp()
{
    qDeleteAll(m_ui->compList->selectedItems());
    Slot_Modified();
}

void CreateShip::ClearComp()
{
    m_ui->compList->clear();
    Slot_Modified();
}

void CreateShip::Slot_RemoveCockpit()
{
    qDeleteAll(m_ui->cockpitList->selectedItems());
    // The index column counts the rows.
    for (int i = 0; i < m_ui->cockpitList->topLevelItemCount(); ++i)
        m_ui->cockpitList->topLevelItem(i)->setText(0, QString::number(i));
    Slot_Modified();
}

void CreateShip::ClearCockpit()
{
    m_ui->cockpitList->clear();
    Slot_Modified();
}

// ---- pop-up menus

QAction* CreateShip::menuAction(QMenu& menu, const char* name, int textNumber, const char* iconName,
                                void (CreateShip::*slot)())
{
    QAction* a = iconName ? menu.addAction(QIcon(icon(iconName)), text(textNumber))
                          : menu.addAction(text(textNumber));
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
}

void CreateShip::popup(QTreeWidget* list, const QPoint& pos, const QList<std::pair<QAction*, bool>>& actions)
{
    for (const auto& [action, enabled] : actions)
        action->setEnabled(enabled);
    QMenu* menu = qobject_cast<QMenu*>(actions.value(0).first ? actions.first().first->parent() : nullptr);
    if (menu)
        PopupMenus::exec(*menu, list->viewport()->mapToGlobal(pos));
}

void CreateShip::Slot_ModelMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("modelMenu"));
    const bool file = selectedFileItem(m_ui->modelList) != nullptr;
    const bool any = !m_ui->modelList->selectedItems().isEmpty();
    const bool items = m_ui->modelList->topLevelItemCount() > 0;
    popup(m_ui->modelList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddModel), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveModel), any},
           {menuAction(menu, "changeFile", MenuChangeFile, "edit.png", &CreateShip::Slot_ChangeModel), file},
           {menuAction(menu, "changeDir", MenuChangeDir, nullptr, &CreateShip::Slot_ChangeDir), any},
           {menuAction(menu, "shipScene", MenuMakeShipScene, "switch.png", &CreateShip::Slot_SwitchScene), file},
           {menuAction(menu, "cockpitScene", MenuMakeCockpitScene, nullptr, &CreateShip::Slot_SwitchCockpit), file},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearModels), items}});
}

void CreateShip::Slot_OtherMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("otherMenu"));
    const bool file = selectedFileItem(m_ui->otherList) != nullptr;
    const bool any = !m_ui->otherList->selectedItems().isEmpty();
    popup(m_ui->otherList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddFile), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveFile), any},
           {menuAction(menu, "changeFile", MenuChangeFile, "edit.png", &CreateShip::Slot_ChangeOther), file},
           {menuAction(menu, "changeDir", MenuChangeDir, nullptr, &CreateShip::Slot_ChangeOtherDir), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearOther),
            m_ui->otherList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_ScriptMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("scriptMenu"));
    popup(m_ui->scriptList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddScript), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveScript),
            !m_ui->scriptList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearScripts),
            m_ui->scriptList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_TextMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("textMenu"));
    const bool any = !m_ui->textList->selectedItems().isEmpty();
    popup(m_ui->textList, pos,
          {{menuAction(menu, "importFile", MenuImportFile, "import.png", &CreateShip::Slot_ImportText), true},
           {menuAction(menu, "importDir", MenuImportDir, "importdir.png", &CreateShip::Slot_ImportTextDir), true},
           {menuAction(menu, "add", MenuAddLanguage, "add.png", &CreateShip::Slot_AddLanguage), true},
           {menuAction(menu, "remove", MenuRemoveLanguage, "remove.png", &CreateShip::Slot_RemoveLanguage), any},
           {menuAction(menu, "changeName", MenuChangeName, "edit.png", &CreateShip::Slot_ChangeName), any},
           {menuAction(menu, "changeDesc", MenuChangeDesc, nullptr, &CreateShip::Slot_ChangeDesc), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearText),
            m_ui->textList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_DummyMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("dummyMenu"));
    const bool any = !m_ui->dummyList->selectedItems().isEmpty();
    popup(m_ui->dummyList, pos,
          {{menuAction(menu, "add", MenuAdd, "add.png", &CreateShip::Slot_AddDummy), true},
           {menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveDummy), any},
           {menuAction(menu, "changeSection", MenuChangeSection, "edit.png", &CreateShip::Slot_ChangeSection), any},
           {menuAction(menu, "changeData", MenuChangeData, nullptr, &CreateShip::Slot_ChangeData), any},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearDummy),
            m_ui->dummyList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_CompMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("compMenu"));
    popup(m_ui->compList, pos,
          {{menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveComp),
            !m_ui->compList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearComp),
            m_ui->compList->topLevelItemCount() > 0}});
}

void CreateShip::Slot_CockpitMenu(const QPoint& pos)
{
    using namespace CreatorText;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("cockpitMenu"));
    popup(m_ui->cockpitList, pos,
          {{menuAction(menu, "remove", MenuRemove, "remove.png", &CreateShip::Slot_RemoveCockpit),
            !m_ui->cockpitList->selectedItems().isEmpty()},
           {menuAction(menu, "clear", MenuClearAll, "trash.png", &CreateShip::ClearCockpit),
            m_ui->cockpitList->topLevelItemCount() > 0}});
}
