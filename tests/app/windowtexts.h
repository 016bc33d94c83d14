// What the window tests share: a program folder to start the installer in, file
// reads and writes, the ship list's items, and every text a user can see in a
// widget tree, to find texts that never loaded.
#pragma once

#include "ddrydock.h"
#include "dslipway.h"
#include "sysregistry.h"
#include "testfiles.h"
#include "wlistview.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>

// Where the build puts the program's own files (texts, icons, scripts).
inline QString programFiles()
{
    const QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
    return bin.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../bin") : bin;
}

// A program folder with the English texts and a registry that names no game, so
// that no game of the machine running the tests is found.
inline QString makeProgramFolder(const QString& dir)
{
    QDir().mkpath(dir);
    QFile::copy(programFiles() + QStringLiteral("/hw_languages.xml"),
                dir + QStringLiteral("/hw_languages.xml"));
    CreateIniRegistry(dir + QStringLiteral("/registry.ini"))
        ->writeString(QStringLiteral("/Starfall"), QStringLiteral("/Vega Concord/INSTALL_DIR"),
                      dir + QStringLiteral("/../nowhere"));
    return dir;
}

inline QByteArray installerConfig(const QString& game, const QByteArray& extra = {})
{
    return "<installer>\nInstallDir: " + game.toUtf8() + "\n" + extra + "</installer>\n";
}

inline QTreeWidgetItem* findItem(DSlipway* list, const QString& name)
{
    const QList<QTreeWidgetItem*> items =
        list->listView()->findItems(name, Qt::MatchExactly, DSlipway::ColumnName);
    return items.isEmpty() ? nullptr : items.first();
}

inline void waitIdle(DDrydock& window)
{
    QTRY_VERIFY_WITH_TIMEOUT(!window.shipList()->isBusy(), 20000);
}

inline QStringList visibleTexts(const QWidget* root)
{
    QStringList texts{root->windowTitle()};
    for (const QAction* a : root->findChildren<QAction*>())
        texts << a->text();
    for (const QMenu* m : root->findChildren<QMenu*>())
        texts << m->title();
    for (const QLabel* l : root->findChildren<QLabel*>())
        texts << l->text();
    for (const QAbstractButton* b : root->findChildren<QAbstractButton*>())
        texts << b->text();
    for (const QGroupBox* g : root->findChildren<QGroupBox*>())
        texts << g->title();
    for (const QComboBox* c : root->findChildren<QComboBox*>())
        for (int i = 0; i < c->count(); ++i)
            texts << c->itemText(i);
    for (const QTreeWidget* t : root->findChildren<QTreeWidget*>()) {
        for (int c = 0; c < t->columnCount(); ++c)
            texts << t->headerItem()->text(c);
        for (int i = 0; i < t->topLevelItemCount(); ++i)
            for (int c = 0; c < t->columnCount(); ++c)
                texts << t->topLevelItem(i)->text(c);
    }
    return texts;
}

inline QStringList placeholdersIn(const QStringList& texts)
{
    return texts.filter(QStringLiteral("ReadText-"));
}
