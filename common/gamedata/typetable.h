// The game's type tables: one text file per kind of object, kept packed in the
// catalogues as types\<name>.pck.
//
// Text layout: lines whose first non-blank character is "/" are comments and may
// appear anywhere; empty (blank-only) lines are skipped as well. The first other
// line is the header (field 0 the format number, field 1 the entry count), every
// later line one entry. Fields are the 0-based pieces of a ";"-split line; a
// field that is absent reads as "" and, taken as a number, as 0. An entry's
// identifier is its last non-empty field.
//
// Tables are 8-bit text. Bytes are read as Latin-1 and written back as Latin-1,
// so unknown content passes through unchanged; characters outside Latin-1 that
// callers add are written as "?".
//
// Readers never reject a table: whatever the text holds is read, and an entry's
// index is its position among the entry lines only (comments and empty lines do
// not count), so a comment between entries never shifts the indexes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

struct TypeTable
{
    QString header;      // header line without its line end; empty when the text has none
    QStringList entries; // entry lines, each its full text without the line end

    int format() const; // header field 0; 0 when absent or not a number
    int count() const;  // header field 1 as declared (may differ from entries.size())
};

// The plain reader: entries keep their text, including blanks, except the line end
// (LF, CR LF, any CRs before the LF).
TypeTable ReadTypeTable(const QByteArray& text);
TypeTable ReadTypeTable(QStringView text);

// The reader of the cockpit, laser, shield and missile tables: every blank (space,
// tab) is removed from a line before it is looked at, so "0; 1 ;X;" reads as
// "0;1;X;". Lines that are empty afterwards or begin with "/" are skipped.
TypeTable ReadCompactTable(const QByteArray& text);
TypeTable ReadCompactTable(QStringView text);

// Catalogue entry name of a table: "types\\" + name + ".pck".
QString TypeTableEntry(const QString& name);

// Extracts the newest copy of a table (layered lookup of the game directory, with
// the selected mod first when modName names one) to a temporary file inside
// tempFolder, reads it whole and deletes the file. False when no catalogue holds
// the table, tempFolder cannot take the file, or the table is larger than
// InMemoryFileLimit() (archivefile.h; *error then says so, and the table is not
// read); *text is then empty.
bool ExtractTableText(const QString& gameDir, const QString& name, const QString& tempFolder,
                      QByteArray* text, const QString& modName = QString(),
                      QString* error = nullptr);
// ExtractTableText followed by the plain or the compact reader. A table that no
// catalogue holds gives false and an empty table.
bool LoadTypeTable(const QString& gameDir, const QString& name, const QString& tempFolder,
                   TypeTable* table, const QString& modName = QString());
bool LoadCompactTable(const QString& gameDir, const QString& name, const QString& tempFolder,
                      TypeTable* table, const QString& modName = QString());

// Field access on one ";"-separated line, without splitting the whole line.
QString TableField(QStringView line, int n);
// Integer value of a field with surrounding blanks ignored; fallback when the field
// is absent or not an integer.
int TableFieldInt(QStringView line, int n, int fallback = 0);
// Strict integer parse of a field's text (blanks around it allowed).
bool ParseTableInt(QStringView text, int* value);
// The last field that is not empty or blank, without its surrounding blanks.
QString TableIdentifier(QStringView line);
// True for the lines every reader skips: comments and blank-only lines.
bool IsSkippedTableLine(QStringView line);

// The line with a closing ";" added when it lacks one. Trailing blanks after a
// closing ";" are kept: "a;b; " already counts as closed.
QString TerminatedLine(const QString& line);

// A whole table as the programs write it: each comment line (given complete,
// e.g. "// TCockpits created by hullwright"), the header "format;count;" with the
// number of entries given, then every entry closed by ";". Lines end with "\n".
// A line break inside a comment or an entry would split it into two lines (the
// second one a stray entry or header), so breaks become blanks in comments and
// are removed from entries.
QByteArray FormatTypeTable(const QStringList& comments, int format, const QStringList& entries);

// Writes a table file folder + "/types/" + name + suffix + ".txt" (creating
// "types"), replacing an older one. Path separators and ".." in name or suffix
// are replaced by "_", so the file always lands in that folder. False, with
// *error set when given, when it cannot be written.
bool WriteTableFile(const QString& folder, const QString& name, const QByteArray& text,
                    QString* error = nullptr, const QString& suffix = QString());
