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

// ---- texts

void CreateShip::Slot_AddLanguage()
{
    if (TextRows::addLanguage(this, m_texts, m_ui->textList, QIcon(icon("text.png"))))
        Slot_Modified();
}

void CreateShip::Slot_RemoveLanguage()
{
    TextRows::removeSelected(m_ui->textList);
    Slot_Modified();
}

void CreateShip::Slot_ChangeName()
{
    if (TextRows::changeName(this, m_texts, m_ui->textList))
        Slot_Modified();
}

void CreateShip::Slot_ChangeDesc()
{
    if (TextRows::changeDescription(this, m_texts, m_ui->textList))
        Slot_Modified();
}

void CreateShip::Slot_DCTextMenu(QTreeWidgetItem* item, int)
{
    if (TextRows::edit(this, m_texts, item))
        Slot_Modified();
}

void CreateShip::importTexts(const QStringList& files)
{
    const int nameText = ShipRecord(m_ui->rawDataEdit->toPlainText()).intField(6);
    int added = 0;
    for (const QString& file : files)
        for (const PackageText& t : ImportShipTexts(file, nameText, workDir("temp"),
                                                    [this](const QString& l) { log(l); })) {
            addTextRow(t);
            ++added;
        }
    if (added)
        Slot_Modified();
    else if (!files.isEmpty())
        ask(int(Prompter::Icon::Information), CreatorText::TextImportCaption,
            FormatText(text(CreatorText::TextImportNone), QString::number(nameText)), {CreatorText::Ok});
}

void CreateShip::Slot_ImportText()
{
    importTexts(pickFiles(Folder::Texts, text(CreatorText::ChooseTextFiles),
                          text(CreatorText::TextFilter) + QStringLiteral(" (*.pck *.xml *.cat)")));
}

void CreateShip::Slot_ImportTextDir()
{
    const QString dir = pickDirectory(Folder::Texts, text(CreatorText::ChooseTextDir));
    if (dir.isEmpty())
        return;
    importTexts(TextRows::pageFiles(dir));
}

void CreateShip::ClearText()
{
    m_ui->textList->clear();
    Slot_Modified();
}

QString CountText(const UiTexts& texts, int count, int one, int many)
{
    return count == 1 ? texts.own(one) : FormatText(texts.own(many), QString::number(count));
}
