// One line of the ship table: the central piece of a ship package and of every
// ship-table row.
//
// Fields are the 0-based pieces of the ";"-split line. Fixed part 0 to 53, where
// field 53 is T, the number of turret entries (the main cockpit counts as one).
// Then four fields per turret entry; field 54 + 4T is G, the number of gun
// groups; each group has four header fields, the fourth being N, its number of
// guns, followed by six fields per gun. After the last group come nine numeric
// tail fields (E to E + 8) and the ship type identifier.
#pragma once

#include <QString>
#include <QStringList>

// A new package's record: 64 numeric fields, the identifier and the closing ";".
// Stored verbatim; its tail starts at field 55.
inline constexpr char kDefaultShipLine[] =
    "0;0;0;0;0;0;0;0;0;106;1;5;37;0;112;202;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;"
    "0;0;0;0;0;35;36;1;0;0;0;0;0;1;0;25;1;0;0;0;0;0;HW_NEW_SHIP;";

inline constexpr int kShipTableFormat = 48;
// Fixed fields of a ship record that the editors name.
inline constexpr int kYawField = 2;
inline constexpr int kPitchField = 3;
inline constexpr int kRollField = 4;
inline constexpr int kClassField = 5;
inline constexpr int kDescriptionField = 6;
inline constexpr int kMinSpeedField = 7;
inline constexpr int kAccelField = 8;
inline constexpr int kReactorField = 13;
inline constexpr int kSceneField = 16;        // the ship's model scene, in the game's form
inline constexpr int kCockpitSceneField = 17; // the cockpit scene, "0" for none
inline constexpr int kGunSlotField = 19;
inline constexpr int kEnergyField = 20;
inline constexpr int kRechargeField = 21;
inline constexpr int kShieldTypeField = 22;
inline constexpr int kShieldCountField = 23;
inline constexpr int kSpeedExtField = 26;
inline constexpr int kCargoMinField = 28;
inline constexpr int kCargoMaxField = 29;
inline constexpr int kHullField = 46;
inline constexpr int kVariationField = 50;
inline constexpr int kClassNumberField = 52;
inline constexpr int kTurretCountField = 53;
inline constexpr int kTurretPairFirstField = 31; // six cockpit pairs: 31/32 ... 41/42
inline constexpr int kTurretPairs = 6;
inline constexpr int kFirstTurretEntryField = 54;
inline constexpr int kTailFields = 9; // E ... E + 8

// Where the variable part puts the tail and the identifier.
struct RecordLayout
{
    // True when the counts are non-negative integers and the record holds every
    // field through E + 8 and a non-empty field after it (the identifier).
    // Otherwise the other members are -1 and the record is kept whole.
    bool complete = false;
    int turretEntries = -1;    // T (field 53)
    int gunGroups = -1;        // G (field 54 + 4T)
    int tailStart = -1;        // E
    int lastNumericField = -1; // E + 8
    int identifierField = -1;  // position of the identifier (the last non-empty field)
};

class ShipRecord
{
public:
    ShipRecord() = default;
    // Line ends (CR, LF) at the end of line are dropped; everything else is kept.
    explicit ShipRecord(const QString& line);
    static ShipRecord newShip() { return ShipRecord(QString::fromLatin1(kDefaultShipLine)); }

    // The record's text; equal to the line given when no field was set.
    QString line() const { return m_pieces.join(QLatin1Char(';')); }
    // Fields up to the last non-blank one; the empty piece after a closing ";"
    // and blank pieces at the end do not count.
    int fieldCount() const { return m_fieldCount; }

    // Absent fields read as "" and, as numbers, as the fallback; so do numbers
    // that do not parse. Blanks around a number are ignored.
    QString field(int n) const;
    int intField(int n, int fallback = 0) const;
    double doubleField(int n, double fallback = 0.0) const;
    // Setting a field past the end pads with empty fields; the record stays closed
    // by ";" when it was. Negative n is ignored.
    void setField(int n, const QString& value);

    // The record-length rule, clamped to the fields the record has: negative or
    // huge counts and short records give an incomplete layout in linear time.
    RecordLayout layout() const;

    // The last non-empty field, without surrounding blanks.
    QString identifier() const;
    // Replaces the identifier of a complete record, or of any record whose last
    // non-empty field is not a number; otherwise the identifier is appended as a
    // new field.
    void setIdentifier(const QString& id);

    // Turret cockpit pair k (0 ... 5): field 31 + 2k names the turret's cockpit (an
    // index, or a cockpit key inside a package), field 32 + 2k is carried along.
    QString turretCockpit(int k) const;
    QString turretCompanion(int k) const;
    void setTurretCockpit(int k, const QString& cockpit, const QString& companion);

    // The record as a writer re-emits it: fields 0 to E + 8, the identifier and ";".
    // An incomplete record is returned whole, as it is.
    QString emitted() const;

private:
    void countFields();

    QStringList m_pieces; // raw ";"-split pieces, the closing empty piece included
    int m_fieldCount = 0;
};

// A one-ship table as the unpack command writes it: a comment naming the package,
// the header "48;1;", the record closed by ";". Line breaks inside the record are
// removed: a record is one line, and a break would split it into two entries.
QByteArray OneShipTableText(const QString& packageName, const QString& author,
                            const QString& record);
// Writes OneShipTableText to folder + "/types/TShips.txt", creating "types" when
// needed. False (with *error set when given) when the file cannot be written.
bool WriteOneShipTable(const QString& folder, const QString& packageName, const QString& author,
                       const QString& record, QString* error = nullptr);

// A scene name in the form the ship table holds it: backslashes, no model
// extension, relative to the game's "objects" folder ("ships\\my_ship"). An empty
// name gives "0", the record's "no scene".
QString GameSceneName(const QString& name);
// True when a scene field names no scene: empty or "0".
bool IsNoScene(const QString& field);
// The catalogue entries (lower case, backslashes) any of which the game takes for
// the scene a record field names: below "objects\\", a name without a folder below
// "objects\\cut\\", as a packed or plain body or binary model. Empty for no scene.
QStringList SceneCatalogEntries(const QString& field);
