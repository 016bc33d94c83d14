// The authoring program's command line: -x/-extract PACKAGE, -d/-dir FOLDER or
// "HERE", -e/-editmode INSTALLED-SHIP, or a package to open.
#pragma once

#include <QString>
#include <QStringList>

// Regroups the raw arguments (without the program name): a switch and the words
// after it, up to the next word beginning with "-", form one entry joined by
// blanks, so paths with spaces stay whole. Double quotes are removed.
QStringList RegroupArguments(const QStringList& arguments);

struct StartRequest
{
    QString extractPackage; // -x / -extract
    QString targetDir;      // -d / -dir, "HERE" kept as given
    QString openFile;       // an entry without a switch; the last one wins
    QString editModePath;   // -e / -editmode
    // False when the only thing asked for is an extraction.
    bool showWindow() const
    {
        return extractPackage.isEmpty() || !openFile.isEmpty() || !editModePath.isEmpty();
    }
    // Where the extraction goes: the package's folder for "HERE", the given
    // folder, or empty when the user must be asked.
    QString extractionTarget() const;
};

// Switches are compared in lower case; unknown ones are ignored.
StartRequest ProcessEntries(const QStringList& entries);

// An edit-mode path: the game directory, then a file name "<ship>~<author>" in
// which "<bslash>" and "<fslash>" stand for "\" and "/".
struct EditModeShip
{
    QString gameDir;
    QString name;
    QString author;
};
EditModeShip DecodeEditModePath(const QString& path);
