// The ship-record editor behind "Customize Ship" and `hullwright-cli record`:
// every field the dialog names, with its display conversion, the turret list
// with its cockpits and the gun groups.
//
// Guarantee: a field is rewritten only when it was set; every other byte of the
// record comes back as it was read (symbolic constants, long fractions, odd
// counts). The one normalisation is the cargo swap: a minimum above the maximum
// is written as the smaller of the two. A field whose text is not a number
// where one is expected is shown as it stands and refuses to be set.
#pragma once

#include "editorrules.h"

#include <QList>
#include <QString>
#include <QStringList>

// The editor's view of the game and the package.
struct RecordContext
{
    QList<NumberedName> classes;  // data/classes: field 5 is a position, 52 a number
    QList<NumberedName> variants; // data/variant: field 50 is a position
    QStringList cockpitLines;     // the game's cockpit table entries (their index is used)
    QStringList packageCockpits;  // the package's own cockpit lines (their key is used)
};

struct TurretEntry
{
    QStringList fields; // four: k + 1, k, the two scene part values
};

struct GunGroup
{
    QStringList header;      // four: first slot, carried value, group number, N
    QList<QStringList> guns; // six each: first slot, slot count, four carried values
};

class RecordEditor
{
public:
    explicit RecordEditor(const QString& line, const RecordContext& context = {});

    // What could not be read, one sentence each; empty for a sound record.
    const QStringList& problems() const { return m_problems; }
    // False when the counts could not be followed: turrets, guns and the fields
    // after the gun blocks are then neither shown nor edited.
    bool variablePartReadable() const { return m_readable; }

    // The record as saved: the original with the fields that were set.
    QString record() const;
    // Names of the fields that differ between the original and record().
    QStringList changedFields() const;

    // Named fields, in the order the dialog's tabs show them.
    static QStringList fieldNames();
    // Display value of a named field (or of "turret.N", "turret.N.cockpit",
    // "gun.G", "gun.G.K"); a field that cannot be shown is given as it stands.
    QString value(const QString& name) const;
    // Sets a named field from display units. False with *error when the name is
    // unknown, the field is read-only or not numeric in the record, or the value
    // does not parse.
    bool setValue(const QString& name, const QString& value, QString* error = nullptr);
    // Every named field, turrets and gun groups included, as name/value pairs.
    QList<QPair<QString, QString>> allValues() const;

    // Raw access for the dialog's spin boxes (internal units).
    QString fieldText(int field) const;
    bool isNumeric(int field) const;
    bool setFieldInt(int field, int value);
    // A decimal field, written with 6 significant digits (or as many as given);
    // false when the record holds something other than a number there.
    bool setFieldDecimal(int field, double value, int digits = 6);

    // Conversions shared with the dialog.
    static QString speedText(int units);               // units x 0.002
    static int speedUnits(double shown);               // trunc(shown x 500 + 0.5)
    static int maxSpeed(int minSpeed, int extensions); // + 10% per extension, rounded
    static QString degreesText(const QString& field);  // field x 360 / 6, "%.1f"
    static int dialFromField(const QString& field);    // trunc(degrees x 10)
    static QString fieldFromDial(int dial);            // (dial x 0.1) x 6 / 360, 6 digits
    static QString numberText(double v);               // 6 significant digits

    // Notoriety presets: items 1 to 16 of the combo; item 0 is empty.
    static int notorietyPreset(int item, bool* ok = nullptr);
    // Rank table of a race item (0 to 4 itself, 8 gives 5), -1 when it has none.
    static int rankTable(int race);
    // The mask with the listed types' bits set as checked; type i has the bit
    // 1 << i. Bits of types the list does not hold are kept: a table with fewer
    // types than the game that wrote the record must not clear them.
    static qint64 maskWithChecked(qint64 old, const QList<bool>& checked);
    static bool maskHas(qint64 mask, int type);

    // Class and variation by list position; -1 when the field is not a number.
    int classIndex() const;
    bool setClassIndex(int index, QString* error = nullptr);
    // The dialog's save: field 52 becomes the number of the class field 5 shows,
    // also when the class was never chosen again (a symbolic constant stays).
    void applyShownClass();

    // Turret rows (entry 0, the main cockpit, is not a row).
    int turretRows() const { return m_readable ? int(m_turrets.size()) - 1 : 0; }
    QString turretPart(int row) const; // "a:b"; row -1 is the main cockpit
    bool setTurretPart(int row, const QString& part, QString* error = nullptr);
    bool addTurret(const QString& part, QString* error = nullptr);
    bool removeTurret(int row, QString* error = nullptr);
    // The cockpit of a turret row: a game cockpit index or a package cockpit key.
    QString turretCockpit(int row) const;
    bool setStandardCockpit(int row, int index, QString* error = nullptr);
    bool setCustomCockpit(int row, const QString& key, QString* error = nullptr);
    // New and copied cockpits join the package's cockpits and are named by key.
    bool newCockpit(const QString& name, QString* key, QString* error = nullptr);
    bool copyCockpit(const QString& sourceKey, const QString& name, QString* key,
                     QString* error = nullptr);
    const QStringList& packageCockpits() const { return m_context.packageCockpits; }
    // A cockpit's weapons: field 0 of its line, a mask over the laser types. Only
    // the package's own cockpits can be changed; empty when the key is unknown.
    QString cockpitWeapons(const QString& key, bool* editable = nullptr) const;
    bool setCockpitWeapons(const QString& key, qint64 mask, QString* error = nullptr);
    const QStringList& gameCockpits() const { return m_context.cockpitLines; }
    // Another game directory: indexes now point into its cockpit table.
    void setGameCockpits(const QStringList& lines) { m_context.cockpitLines = lines; }

    // Gun groups (manual entry). Slot numbers are recounted when the record is built.
    const QList<GunGroup>& gunGroups() const { return m_groups; }
    bool addGunGroup(QString* error = nullptr);
    bool removeGunGroup(int group, QString* error = nullptr);
    // gun: slot count and the four carried values; k == size appends.
    bool setGun(int group, int k, const QStringList& gun, QString* error = nullptr);
    bool removeGun(int group, int k, QString* error = nullptr);
    // Automatic entry: the gun groups become one group of one single-slot gun per
    // gun point of the ship's scene (at most 64).
    bool setAutomaticGuns(int points, QString* error = nullptr);

private:
    struct FieldDef;
    static const QList<FieldDef>& fieldDefs();
    const FieldDef* fieldDef(const QString& name) const;
    int fieldOf(const FieldDef& s) const;
    QString rawOf(int field) const;
    void setRaw(int field, const QString& text);
    bool setField(const FieldDef& s, const QString& value, QString* error);
    bool setRechargeTotal(const QString& value, QString* error);
    QString compositeValue(const QString& name, bool* known) const;
    bool setComposite(const QString& name, const QString& value, bool* known, QString* error);
    bool checkVariable(QString* error) const;
    // Turrets and gun groups need entry 0, the main cockpit, before them.
    void ensureMainCockpit();
    QStringList variablePieces(QString* gunSlot) const;
    QStringList pieces() const;

    QStringList m_original; // ";"-split pieces of the record as read
    QStringList m_edited;   // the same with the fields that were set
    RecordContext m_context;
    QStringList m_problems;
    bool m_readable = false;
    int m_variableStart = 53; // T
    int m_tailStart = -1;     // E in the original
    QList<TurretEntry> m_turrets;
    QList<GunGroup> m_groups;
    bool m_variableDirty = false;
};
