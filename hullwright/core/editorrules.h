// Small rules of the ship editor that need no window.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One "number:name" line of data/classes or data/variant.
struct NumberedName
{
    int number = 0;
    QString name;
};
// Lines starting with "//" are comments; number 0 (or not a number) is skipped.
// A missing file gives an empty list.
QList<NumberedName> ReadNumberedNames(const QString& path);

// "    999 bytes", "    1.00 KB" ...: divided by 1024 while at least 1000, at most
// three times. units holds the byte, KB, MB and GB texts.
QString FileSizeText(qint64 bytes, const QStringList& units);

// Dropped text: one file name per line (carriage returns removed). Only existing
// files (not folders) are kept; for models only .pbd, .bod and .bob in any case.
enum class DropKind { Models, AnyFile };
QStringList DroppedFileNames(const QString& text, DropKind kind);

// The target folder proposed for files added to a list: the game folder the
// first file already lies in, from its "objects" or "textures" folder down
// (".../objects/ships/x/hull.bod" gives "objects/ships/x"), else "objects/".
QString ProposedTargetFolder(const QStringList& files);

// Appends "[dd:MM:yy - hh:mm:ss] message" and CR LF to <programDir>/log/
// creator_debug.txt, creating "log". A file that cannot be opened drops the line.
void WriteCreatorLog(const QString& programDir, const QString& message);
