// What the window tests read back: a file's bytes, and every text a user can see
// in a widget tree, to find texts that never loaded.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
