// Reading what the editor imports: ship texts from text pages, dummy and component
// groups and ship or cockpit table entries from plain, packed or catalogue files.
// Every file unpacked on the way goes into the work folder given (the program
// folder's "Slipway" or "temp") and is deleted afterwards; nothing is written
// beside the source.
#pragma once

#include "equipment.h"
#include "shippackage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Where a log line goes (the window's debug log); may be empty.
using ImportLog = std::function<void(const QString&)>;

// The texts N (name) and N + 1 (description) of page 17, from a catalogue (every
// "t\" entry), a packed page (.pck) or a plain page (.xml). One row per page that
// holds the name; the language is the page file's (base name without its four-
// digit file number). Pages that are not XML are logged and skipped.
QList<PackageText> ImportShipTexts(const QString& path, int nameText, const QString& workDir,
                                   const ImportLog& log = {});

enum class GroupedTable { Dummies, Components };

// One choice of the import dialog.
struct ImportRow
{
    QString section; // dummies: the group; components: component ";" group
    QString data;    // the entry line, closed by ";"
    QString component, group;
};

struct TableImport
{
    bool ok = false;
    QString error; // why the table could not be read (shown with the file name)
    QList<ImportRow> rows;
};
// A catalogue yields its types\Dummies.pck (types\Components.pck), a .pck file is
// unpacked, anything else is read as a plain table.
TableImport ImportGroupedTable(const QString& path, GroupedTable kind, const QString& workDir);

PackageDummy DummyFromRow(const ImportRow& row);
PackageComponent ComponentFromRow(const ImportRow& row);

enum class PickerTable { Ships, Cockpits };

// One entry of the ship picker.
struct PickerEntry
{
    int index = 0;      // position in the table
    QString line;       // the whole entry
    QString identifier; // last field
    QString name;       // ships from a catalogue: its page 17 name text; else empty
};

struct PickerLoad
{
    bool ok = false;
    QString error;
    QList<PickerEntry> entries; // table order
};
// A catalogue yields its types\TShips.pck (types\TCockpits.pck) and the ship names
// from its own text page of that language; a .pck table is unpacked first.
PickerLoad LoadPickerTable(const QString& path, PickerTable kind, const QString& workDir,
                           const QString& language = QStringLiteral("44"));
// Names ship entries from the catalogue's own text pages of that language: page
// 17, the text their field 6 gives. Entries without one get an empty name.
void NameShipsFromCatalog(QList<PickerEntry>& ships, const QString& catalog, const QString& workDir,
                          const QString& language);
