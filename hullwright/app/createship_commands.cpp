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

// Commands of the window: picking ships, cockpits and scenes, tables, new, settings, close.

bool CreateShip::loadPickerTable(SelectShip& dialog)
{
    const QString file = pickFile(Folder::Types, dialog.fileCaption(), dialog.fileFilter());
    if (file.isEmpty())
        return false;
    if (!dialog.loadTable(file) || dialog.entries().isEmpty()) {
        ask(int(Prompter::Icon::Warning), CreatorText::TableErrorCaption,
            text(CreatorText::TableErrorText) + QLatin1Char('\n') + file, {CreatorText::Ok});
        return false;
    }
    return true;
}

void CreateShip::Slot_LoadShip()
{
    SelectShip dialog(m_texts, PickerTable::Ships, m_programDir, workDir("Slipway"),
                      m_settings.baseLanguage, folderFor(Folder::Types), this);
    if (!loadPickerTable(dialog))
        return;
    if (ModalDialogs::exec(dialog) != QDialog::Accepted || dialog.chosen().isEmpty())
        return;
    ShipDraft d = draft();
    const PickerEntry chosen = dialog.chosen().first();
    ApplyTableShip(d, chosen.line);
    // The picker showed the game's name of the ship; an empty name field takes it.
    if (d.name.isEmpty())
        d.name = chosen.name;
    setDraft(d);
    Slot_Modified();
}

void CreateShip::Slot_LoadCockpit()
{
    SelectShip dialog(m_texts, PickerTable::Cockpits, m_programDir, workDir("Slipway"),
                      m_settings.baseLanguage, folderFor(Folder::Types), this);
    if (!loadPickerTable(dialog))
        return;
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    for (const PickerEntry& e : dialog.chosen())
        addCockpitRow(TerminatedLine(e.line));
    Slot_Modified();
}

void CreateShip::Slot_ImportDummy()
{
    importTable(false);
}

void CreateShip::Slot_ImportComp()
{
    importTable(true);
}

void CreateShip::importTable(bool components)
{
    using namespace CreatorText;
    const GroupedTable kind = components ? GroupedTable::Components : GroupedTable::Dummies;
    const QString filter =
        text(components ? ComponentsFilter : DummiesFilter) +
        (components ? QStringLiteral(" (Components.txt Components.pck *.cat);;")
                    : QStringLiteral(" (Dummies.txt Dummies.pck *.cat);;")) +
        text(CatalogFilter) + QStringLiteral(" (*.cat)");
    const QString file = pickFile(Folder::Types, text(ChooseTable), filter);
    if (file.isEmpty())
        return;
    const TableImport table = ImportGroupedTable(file, kind, workDir("Slipway"));
    if (!table.ok) {
        log(QStringLiteral("Table import: ") + file + QLatin1Char(' ') + table.error);
        ask(int(Prompter::Icon::Warning), TableErrorCaption,
            text(TableErrorText) + QLatin1Char('\n') + file, {Ok});
        return;
    }
    if (table.rows.isEmpty()) {
        ask(int(Prompter::Icon::Information), TableErrorCaption,
            text(TableEmpty) + QLatin1Char('\n') + file, {Ok});
        return;
    }
    ImportDummy dialog(m_texts, kind, table.rows, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    for (const ImportRow& row : dialog.chosen()) {
        if (components)
            addComponentRow(ComponentFromRow(row));
        else
            addDummyRow(DummyFromRow(row));
    }
    Slot_Modified();
}

void CreateShip::Slot_New()
{
    using namespace CreatorText;
    if (hasUnsavedChanges() &&
        ask(int(Prompter::Icon::Question), NewShipCaption, text(NewShipText), {Yes, No}) != 0)
        return;
    setDraft(NewShipDraft(m_settings, m_classes));
    markSaved();
    m_current.reset();
    m_packagePath.clear();
    refreshCaption();
}

void CreateShip::Slot_Config()
{
    ConfigDialog dialog(m_texts, m_settings, this);
    if (ModalDialogs::exec(dialog) != QDialog::Accepted)
        return;
    const CreatorSettings chosen = dialog.settings();
    const bool textsChanged = chosen.language != m_settings.language;
    m_settings = chosen;
    if (textsChanged) {
        loadTexts();
        retranslate();
    }
    saveSettings();
}

void CreateShip::Slot_SelectPic()
{
    const QString file =
        pickFile(Folder::Picture, text(CreatorText::ChoosePicture), QStringLiteral("(*.*)"));
    if (!file.isEmpty()) {
        m_ui->pictureEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_Close()
{
    close();
}

void CreateShip::closeEvent(QCloseEvent* event)
{
    using namespace CreatorText;
    if (hasUnsavedChanges() &&
        ask(int(Prompter::Icon::Question), CloseCaption, text(CloseText), {CloseAnyway, KeepOpen}) == 1) {
        event->ignore();
        return;
    }
    RemoveTree(workDir("Slipway"), true);
    RemoveTree(workDir("temp"), true);
    saveSettings();
    event->accept();
}

void CreateShip::Slot_SelectSceneFile()
{
    const QString file =
        pickFile(Folder::Models, text(CreatorText::ChooseScene), QLatin1String(kSceneFilter));
    if (QFileInfo(file).isFile()) {
        m_ui->sceneFileEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_SelectSceneFileCp()
{
    const QString file =
        pickFile(Folder::Models, text(CreatorText::ChooseScene), QLatin1String(kSceneFilter));
    if (QFileInfo(file).isFile()) {
        m_ui->cockpitFileEdit->setText(file);
        Slot_Modified();
    }
}

void CreateShip::Slot_ClearShipScene()
{
    m_ui->sceneFileEdit->clear();
    Slot_Modified();
}

void CreateShip::Slot_ClearCockpitScene()
{
    m_ui->cockpitFileEdit->clear();
    Slot_Modified();
}
