// The tables a ship needs besides the ship table: cockpits (turrets), lasers,
// shields and missiles, and the grouped dummy and component tables. Reading them,
// the installer's merge rules and the table texts both programs write.
#pragma once

#include "typetable.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class ShipRecord;

inline constexpr int kCockpitTableFormat = 47;
// 18 numeric fields (7 is 4512, 15 is -100000) and the key in field 18.
inline constexpr char kDefaultCockpitLine[] =
    "0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_DEFAULT;";
inline constexpr char kCockpitKeyPrefix[] = "SS_COCKPIT_";
// Dummy point types, in the order the import dialogs offer them.
inline constexpr char kDummyTypes[] =
    "SDTYPE_ANIMATED:SDTYPE_DOCK:SDTYPE_DOORWAY:SDTYPE_GUN:SDTYPE_CONNECTION";
inline constexpr int kEquipmentNameField = 6; // text number in page 17

// The cockpit table as a list of lines whose positions are the cockpit indexes
// that ship records use. A cockpit's key is its line's last non-empty field
// (field 18 in a well-formed line); keys compare without regard to case.
class CockpitTable
{
public:
    CockpitTable() = default;
    // Every entry of the game's table, in order; entries with a key that occurs
    // before are kept too (indexes must not move), lookups find the first one.
    explicit CockpitTable(const TypeTable& table);
    // The table of a one-ship unpack: the default cockpit first, then the
    // package's lines, so the package's first cockpit gets index 1.
    static CockpitTable oneShip(const QStringList& packageCockpits);

    const QStringList& lines() const { return m_lines; }
    int size() const { return static_cast<int>(m_lines.size()); }
    QStringList keys() const;
    // Index of the first entry with this key (any letter case), -1 when none.
    int indexOf(const QString& key) const;

    // The merge rule: the line is appended when no entry has the same key. False
    // when it was not added: the key exists, or the line has no key, is a comment,
    // or holds a line break (it could not be written as one entry).
    bool merge(const QString& line);
    // Appends without the key check (a package's own list); false only for lines
    // that cannot be written as one entry, as above.
    bool append(const QString& line);

    // Comment lines, "47;" + count + ";", the entries; LF line ends.
    QByteArray text(const QStringList& comments) const;

private:
    QStringList m_lines;
    QHash<QString, int> m_index; // case-folded key -> first index
};

// Keys of a cockpit table in entry order (the choices the editor offers).
QStringList CockpitKeys(const TypeTable& table);
// Field 6 of every entry of a laser, shield or missile table, in order: the page
// 17 text number of the entry's name (0 when absent).
QList<int> EquipmentNameTexts(const TypeTable& table);
// The five dummy point types split from kDummyTypes.
QStringList DummyTypes();

// The new-cockpit rule. The name is taken without surrounding blanks and in upper
// case; it is refused when empty, when it holds a ";" or a blank (the line would
// gain fields, or the blank-removing readers would see another key), or when it
// equals, in any letter case, one of offeredKeys or the key of one of the
// package's cockpit lines. Otherwise line is the default cockpit's 18 numeric
// fields followed by the key and ";".
struct NewCockpit
{
    enum Status { Created, EmptyName, InvalidName, DuplicateName };
    Status status = EmptyName;
    QString key;  // the upper-cased name (also when refused)
    QString line; // set when Created
};
NewCockpit MakeNewCockpit(const QString& name, const QStringList& offeredKeys,
                          const QStringList& packageCockpits);

// Replaces cockpit keys in the six turret pairs (fields 31, 33, ... 41) by their
// indexes in the table. A field that is a number stays; a key the table lacks
// stays as it is. The companion fields are not touched. Whole fields are
// compared, so one key can never match inside a longer one. Returns the number
// of fields replaced.
int ResolveTurretCockpits(ShipRecord& record, const CockpitTable& cockpits);

// A group of the dummy or component table: header "name;count;" and its lines.
struct TableGroup
{
    QString name;
    QStringList lines;
};

struct DummyLine
{
    QString group; // the package's section
    QString line;
};

struct ComponentLine
{
    QString component;
    QString group;
    QString line;
};

// Reading a grouped table. Comment and blank lines are skipped everywhere and
// never counted. Counts drive the structure, as in the game: a header's count of
// n takes the next n lines, whatever they look like. Malformed input is repaired
// by these rules, each repair noted in problems(); nothing is dropped:
//  - a count larger than the lines that are left takes what is there;
//  - a header is a line with nothing after its count field ("name;count;"); a
//    negative, non-numeric or missing count reads as 0;
//  - a line where a header is due that has further fields is a stray entry: it
//    joins the group before it (whose count was too small) or, at the top of
//    the file, a group with an empty name.
// Group names are kept without surrounding blanks; extra empty fields of a
// header are not kept. The writers put the actual counts in the headers, so a
// written table reads back into the same groups.

class DummyTable
{
public:
    // Entry lines are kept as they are, except the line end.
    static DummyTable read(const QByteArray& text);
    static DummyTable read(QStringView text);

    const QList<TableGroup>& groups() const { return m_groups; }
    const QStringList& problems() const { return m_problems; }
    // Index of the first group of that name (blanks around it ignored), -1 when none.
    int indexOf(const QString& group) const;

    // The merge rule: the line is added to the group of that name when none of
    // the group's lines has the same field 0 (blanks around it ignored); a missing
    // group is appended. False when it was not added: the field 0 is taken, or
    // the group name is empty, holds ";" or a line break or begins with "/", or the
    // line is blank, a comment or holds a line break (neither could be read back).
    bool merge(const QString& group, const QString& line);
    // Appends without the field 0 check, with the same refusals.
    bool append(const QString& group, const QString& line);

    // Comment lines, then per group "name;count;", its lines closed by ";" and an
    // empty line.
    QByteArray text(const QStringList& comments, const QByteArray& lineEnd = "\n") const;

private:
    bool add(const QString& group, const QString& line, bool checkKey);
    void ensureIndex();
    int groupFor(const QString& name);

    QList<TableGroup> m_groups;
    QStringList m_problems;
    bool m_indexed = false;
    QHash<QString, int> m_groupIndex; // name -> first group
    QList<QSet<QString>> m_keys;      // per group: the field 0 of its lines
};

struct ComponentGroup
{
    QString name;
    QList<TableGroup> groups;
};

class ComponentTable
{
public:
    // Names and lines lose their trailing blanks.
    static ComponentTable read(const QByteArray& text);
    static ComponentTable read(QStringView text);

    const QList<ComponentGroup>& components() const { return m_components; }
    const QStringList& problems() const { return m_problems; }

    // The merge rule: the line (trailing blanks cut) goes under the component and
    // group of those names (appended when missing) unless that group already holds
    // the same line; "a;b" and "a;b;" count as the same. Refusals as for dummies.
    bool merge(const QString& component, const QString& group, const QString& line);
    bool append(const QString& component, const QString& group, const QString& line);

    // Comment lines, then per component "name;groups;", per group "name;lines;" and
    // its lines closed by ";". blankAfterEach puts an empty line after every
    // component (the installer's layout), otherwise one empty line ends the text
    // (the one-ship layout).
    QByteArray text(const QStringList& comments, const QByteArray& lineEnd = "\n",
                    bool blankAfterEach = true) const;

private:
    bool add(const QString& component, const QString& group, const QString& line,
             bool checkDuplicate);
    void ensureIndex();

    QList<ComponentGroup> m_components;
    QStringList m_problems;
    bool m_indexed = false;
    QHash<QString, int> m_componentIndex;    // name -> first component
    QList<QHash<QString, int>> m_groupIndex; // per component: name -> first group
    QList<QList<QSet<QString>>> m_lines;     // per component, per group: closed lines
};

// The one-ship tables of a package unpack. Each begins with the comment
// "// <Table>.txt created by Hullwright for " + name + " by " + author.
// Cockpits: a second comment, the header with the number of entries written, the
// default cockpit, then the package's lines.
QByteArray OneShipCockpitTableText(const QString& packageName, const QString& author,
                                   const QStringList& cockpits);
// Dummies: grouped by section in order of first appearance, lines in package order.
QByteArray OneShipDummyTableText(const QString& packageName, const QString& author,
                                 const QList<DummyLine>& dummies);
// Components: grouped by component, then by group, in order of first appearance;
// one empty line at the end.
QByteArray OneShipComponentTableText(const QString& packageName, const QString& author,
                                     const QList<ComponentLine>& components);
