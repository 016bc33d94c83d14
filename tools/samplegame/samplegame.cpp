#include "samplegame.h"

#include "archivefile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace SampleGame {

namespace {

// Per-class base values; each ship varies them by its position so that no two
// records are alike.
struct ClassDef
{
    const char* label;
    const char* role;
    const char* folder;
    int minSpeed, accel;
    int yaw, pitch, roll; // thousandths
    int reactor, energy, recharge;
    int shieldType, maxShields, npcMissiles;
    int speedExt, rudderExt;
    int cargoMin, cargoMax, dock, cargoType;
    int hull, npcPrice, playerPrice, notoriety;
    int laserMask, missileMask;
};

// clang-format off
const ClassDef kClasses[] = {
    // label, role, folder; then minSpeed accel | yaw pitch roll | reactor energy recharge |
    // shieldType maxShields npcMissiles | speedExt rudderExt | cargoMin cargoMax dock cargoType |
    // hull npcPrice playerPrice notoriety | laserMask missileMask
    {"scout", "long patrols and fast reconnaissance", "fighters",
     26000, 1800,  95, 90, 120,   2000,  1200,  80,  0, 1,  2,  10, 10,    10,   20, 0, 0,
       1800,   24000,    30000,     0,  0x007, 0x03},
    {"fighter", "close escort duty", "fighters",
     22000, 1500,  80, 75, 100,   3000,  2400,  90,  1, 2,  4,   8,  8,    15,   30, 0, 0,
       3500,   52000,    65000,    10,  0x01F, 0x07},
    {"heavy fighter", "strikes against larger ships", "fighters",
     17000, 1100,  60, 55,  80,   5000,  4800, 100,  1, 3,  6,   6,  6,    20,   45, 0, 1,
       7000,  120000,   150000,   100,  0x07C, 0x1F},
    {"corvette", "system patrol", "capital",
     12000,  700,  35, 30,  45,   9000, 12000, 120,  2, 3, 12,   5,  5,   200,  450, 1, 2,
      45000,  900000,  1100000,  1000,  0x1F8, 0x3E},
    {"freighter", "bulk cargo runs between stations", "freighters",
      9000,  400,  25, 22,  30,   2500,  1500,  60,  1, 2,  0,   4,  4,   600, 1800, 0, 3,
       9000,   80000,   100000,     0,  0x003, 0x00},
    {"transport", "passenger and courier service", "freighters",
     10000,  450,  28, 25,  32,   3000,  2000,  70,  2, 2,  2,   4,  4,   300,  900, 2, 2,
      15000,  160000,   200000,    33,  0x00F, 0x01},
    {"frigate", "fleet defence", "capital",
      8000,  300,  18, 16,  22,  20000, 40000, 150,  3, 4, 24,   3,  3,   800, 1600, 2, 2,
     180000, 4000000,  5000000,  3333,  0x7E0, 0xFC},
    {"carrier", "deep space operations with its own wing", "capital",
      5000,  200,  10,  9,  12,  30000, 60000, 180,  4, 5, 32,   2,  2,  2000, 4000, 8, 4,
     400000, 9000000, 12000000, 10000,  0xFC0, 0xF0},
};
// clang-format on
enum { Scout, Fighter, Heavy, Corvette, Freighter, Transport, Frigate, Carrier };

struct ShipDef
{
    const char* name;
    int cls;
    int turretEntries; // main cockpit included
    const char* guns;  // guns per gun group, comma-separated; empty for none
};

// The first BaseShipCount ships are in 01.cat; 02.cat adds the rest.
const ShipDef kShips[] = {
    {"Kestrel", Scout, 1, "2"},
    {"Osprey", Fighter, 1, "2,1"},
    {"Petrel", Scout, 1, "1"},
    {"Heron", Fighter, 1, "2"},
    {"Egret", Heavy, 2, "3"},
    {"Plover", Freighter, 1, ""},
    {"Curlew", Transport, 2, "1"},
    {"Tern", Scout, 1, "2"},
    {"Gannet", Heavy, 2, "2,2"},
    {"Skua", Fighter, 1, "3"},
    {"Shrike", Corvette, 3, "2,2,1"},
    {"Wren", Scout, 1, "1"},
    {"Lark", Fighter, 1, "2,2"},
    {"Finch", Freighter, 2, "1"},
    {"Bittern", Frigate, 4, "3,2,2,1"},
    {"Godwit", Transport, 1, ""},
    {"Avocet", Heavy, 2, "4"},
    {"Dunlin", Corvette, 3, "3,1"},
    {"Sanderling", Freighter, 1, ""},
    {"Whimbrel", Frigate, 4, "2,2,2,2"},
    {"Fulmar", Fighter, 1, "2"},
    {"Shearwater", Transport, 2, "2"},
    {"Kittiwake", Scout, 1, "2"},
    {"Puffin", Freighter, 2, "1"},
    {"Grebe", Corvette, 3, "2,2"},
    {"Ibis", Carrier, 4, "4,2,2"},
    {"Crane", Frigate, 4, "3,3,2"},
    {"Stork", Heavy, 2, "2,1"},
    {"Cormorant", Carrier, 4, "3,2,2,2"},
    {"Linnet", Fighter, 1, "1,1"},
    {"Siskin", Scout, 1, "2"},
    {"Redstart", Fighter, 2, "2,2"},
    {"Nightjar", Heavy, 2, "3,2"},
    {"Dipper", Transport, 3, "1,1"},
    {"Kite", Corvette, 4, "2,2,2"},
    {"Buzzard", Frigate, 4, "4,3,2,2"},
};
static_assert(sizeof(kShips) / sizeof(kShips[0]) == ShipCount);

// The newer ship table of 02.cat also rebalances this ship's player price.
constexpr int kRepricedShip = 8;
constexpr int kRepriceAmount = 12500;

const char* const kVariations[] = {
    "Its hull is simple to repair.",
    "Pilots praise its responsive controls.",
    "An extended reactor gives it endurance.",
    "It carries reinforced armour plating.",
    "A compact frame keeps its running costs low.",
};

struct CockpitDef
{
    const char* key;
    int laserMask;
    int position; // 0 front, 1 rear, 2 left, 3 right, 4 top, 5 bottom
    int arc;
};
const CockpitDef kCockpits[] = {
    {"SS_COCKPIT_DEFAULT", 0, 0, 0},          {"SS_COCKPIT_FRONT_LIGHT", 0x01F, 0, 60},
    {"SS_COCKPIT_FRONT_HEAVY", 0xFE0, 0, 45}, {"SS_COCKPIT_REAR_LIGHT", 0x01F, 1, 60},
    {"SS_COCKPIT_REAR_HEAVY", 0xFE0, 1, 45},  {"SS_COCKPIT_LEFT", 0x3FF, 2, 90},
    {"SS_COCKPIT_RIGHT", 0x3FF, 3, 90},       {"SS_COCKPIT_TOP", 0x3FF, 4, 120},
    {"SS_COCKPIT_BOTTOM", 0x3FF, 5, 120},     {"SS_COCKPIT_FLAK", 0x800, 4, 180},
};
static_assert(sizeof(kCockpits) / sizeof(kCockpits[0]) == CockpitCount);

struct EquipmentDef
{
    const char* key;
    const char* name;
    int a, b, c, d; // table-specific values
};
const EquipmentDef kLasers[] = {
    {"NEEDLE", "Needle Beam", 60, 8, 2200, 1800},
    {"PULSE", "Pulse Cutter", 90, 12, 2000, 1900},
    {"ION", "Ion Lance", 140, 20, 2400, 2100},
    {"REPEATER", "Plasma Repeater", 200, 26, 1800, 1600},
    {"ARC", "Arc Projector", 260, 34, 1700, 1500},
    {"SCATTER", "Photon Scatter", 320, 40, 2600, 1300},
    {"FLUX", "Flux Cannon", 480, 55, 2100, 2200},
    {"FLUX_HEAVY", "Heavy Flux Cannon", 720, 80, 2000, 2400},
    {"GRAVITON", "Graviton Driver", 1100, 120, 1600, 2600},
    {"FUSION", "Fusion Lance", 1600, 170, 2300, 2800},
    {"SIEGE", "Siege Projector", 2600, 260, 1400, 3200},
    {"POINT_DEFENCE", "Point Defence Array", 40, 6, 3000, 1200},
};
static_assert(sizeof(kLasers) / sizeof(kLasers[0]) == LaserCount);

const EquipmentDef kShields[] = {
    {"1MJ", "1 MJ Shield", 1000, 10, 2500, 0},
    {"5MJ", "5 MJ Shield", 5000, 40, 12000, 0},
    {"25MJ", "25 MJ Shield", 25000, 150, 60000, 0},
    {"125MJ", "125 MJ Shield", 125000, 600, 300000, 0},
    {"1GJ", "1 GJ Shield", 1000000, 3000, 2400000, 0},
    {"10GJ", "10 GJ Shield", 10000000, 20000, 20000000, 0},
};
static_assert(sizeof(kShields) / sizeof(kShields[0]) == ShieldCount);

const EquipmentDef kMissiles[] = {
    {"DART", "Light Dart", 400, 520, 4000, 300},
    {"DART_SEEKER", "Seeker Dart", 650, 480, 6000, 700},
    {"CLUSTER", "Cluster Rocket", 1200, 400, 5000, 1400},
    {"SWARM", "Swarm Rocket", 900, 560, 3500, 1800},
    {"TORPEDO", "Heavy Torpedo", 9000, 180, 9000, 6000},
    {"TRACER", "Tracer Probe", 0, 600, 12000, 900},
    {"BREAKER", "Breaker Torpedo", 25000, 140, 11000, 15000},
    {"EMBER", "Ember Mine", 6000, 0, 0, 4000},
};
static_assert(sizeof(kMissiles) / sizeof(kMissiles[0]) == MissileCount);

// Page 17 text numbers.
constexpr int kShipTextBase = 1000; // name N = base + 2 * index, description N + 1
constexpr int kLaserTextBase = 2000;
constexpr int kShieldTextBase = 2100;
constexpr int kMissileTextBase = 2200;

const char* const kDummyTypes[] = {"SDTYPE_ANIMATED", "SDTYPE_DOCK", "SDTYPE_DOORWAY", "SDTYPE_GUN",
                                   "SDTYPE_CONNECTION"};

// One ";"-terminated table line built field by field.
class Line
{
public:
    Line& operator<<(qint64 v)
    {
        m_fields.append(QByteArray::number(v));
        return *this;
    }
    Line& operator<<(int v) { return *this << static_cast<qint64>(v); }
    Line& operator<<(const QByteArray& v)
    {
        m_fields.append(v);
        return *this;
    }
    Line& operator<<(const char* v) { return *this << QByteArray(v); }
    Line& operator<<(const Line& other)
    {
        m_fields += other.m_fields;
        return *this;
    }
    QByteArray text() const { return m_fields.join(';') + ";\n"; }

private:
    QByteArrayList m_fields;
};

// A class value for variation v (0 to 4): each step adds a twelfth, so the ships
// of a class spread by a third, enough for a balance profile made from them to
// leave every one of them room to reach its middle.
int varied(int base, int v)
{
    return base + v * base / 12;
}

QByteArray fraction(int thousandths)
{
    return QByteArray::number(thousandths / 1000.0, 'f', 3);
}

QList<int> gunGroups(const ShipDef& def)
{
    QList<int> groups;
    const QByteArray gunList(def.guns);
    if (gunList.isEmpty())
        return groups;
    for (const QByteArray& n : gunList.split(','))
        groups.append(n.toInt());
    return groups;
}

int gunCount(const ShipDef& def)
{
    int total = 0;
    for (int n : gunGroups(def))
        total += n;
    return total;
}

QByteArray lower(const char* text)
{
    return QByteArray(text).toLower();
}

QByteArray sceneOf(const ShipDef& def)
{
    return QByteArray("ships\\") + kClasses[def.cls].folder + '\\' + lower(def.name) + "_scene";
}

QByteArray idOf(const ShipDef& def)
{
    return QByteArray("SS_SH_") + QByteArray(def.name).toUpper();
}

QByteArray descriptionOf(int index)
{
    const ShipDef& def = kShips[index];
    const ClassDef& cls = kClasses[def.cls];
    return QByteArray("The ") + def.name + " is a " + cls.label + " built for " + cls.role + ". " +
           kVariations[index % 5];
}

// Cockpit of turret entry k (k >= 1): rear first, then the sides or top and bottom.
int turretCockpit(int index, int k)
{
    const bool heavy = kShips[index].cls == Heavy || kShips[index].cls >= Corvette;
    switch (k) {
    case 1:
        return heavy ? 4 : 3;
    case 2:
        return index % 2 ? 5 : 7;
    default:
        return kShips[index].cls == Carrier ? 9 : (index % 2 ? 6 : 8);
    }
}

QByteArray shipRecord(int index, bool newest)
{
    const ShipDef& def = kShips[index];
    const ClassDef& cls = kClasses[def.cls];
    const int v = index % 5;
    const QList<int> groups = gunGroups(def);
    const bool wideSlots = def.cls >= Frigate; // capital guns take two slots each other gun

    // Weapon slots count from 1 across all groups. The groups are built first:
    // field 19 keeps the first slot of the last gun.
    Line gunPart;
    gunPart << static_cast<int>(groups.size());
    int slot = 1, gun = 0, lastGunSlot = 0;
    for (int g = 0; g < groups.size(); ++g) {
        gunPart << slot << g % def.turretEntries << g + 1 << groups[g];
        for (int i = 0; i < groups[g]; ++i, ++gun) {
            const int width = wideSlots && gun % 2 ? 2 : 1;
            gunPart << slot << width << g % def.turretEntries << gun << 0 << 0;
            lastGunSlot = slot;
            slot += width;
        }
    }

    Line l;
    l << QByteArray("ships\\") + cls.folder + '\\' + lower(def.name) << 200 + index
      << fraction(varied(cls.yaw, v)) << fraction(varied(cls.pitch, v))
      << fraction(varied(cls.roll, v)) << def.cls << kShipTextBase + 2 * index
      << varied(cls.minSpeed, v) << varied(cls.accel, v) << 106 << 1 << 5 << 37
      << varied(cls.reactor, v) << 112 << 202 << sceneOf(def)
      << QByteArray("cockpits\\") + lower(def.name) + "_cockpit" << cls.laserMask << lastGunSlot
      << varied(cls.energy, v) << fraction(cls.recharge + v * 5) << cls.shieldType << cls.maxShields
      << cls.missileMask << cls.npcMissiles << cls.speedExt << cls.rudderExt << cls.cargoMin + v * 5
      << varied(cls.cargoMax, v) + v * 20 << 0;
    for (int k = 1; k <= 6; ++k) {
        if (k < def.turretEntries)
            l << turretCockpit(index, k) << k;
        else
            l << 0 << 0;
    }
    l << cls.dock << cls.cargoType << index % 5 << cls.hull + v * cls.hull / 10 << 35 << 36 << 1
      << index % 3 << 0 << def.cls + 1 << def.turretEntries; // 52: the class's number
    for (int k = 0; k < def.turretEntries; ++k)
        l << k + 1 << k << (k ? 10 + k : 0) << 0;
    l << gunPart;
    int playerPrice = cls.playerPrice + v * 1500 * (def.cls + 1);
    if (newest && index == kRepricedShip)
        playerPrice += kRepriceAmount;
    l << 1 << cls.npcPrice + v * 1200 * (def.cls + 1) << 25 << 1 << 0 << playerPrice
      << cls.notoriety << 300 + index << 0 << idOf(def);
    return l.text();
}

int shipsIn(bool newest)
{
    return newest ? ShipCount : BaseShipCount;
}

QByteArray xmlEscaped(const QByteArray& text)
{
    return QString::fromLatin1(text).toHtmlEscaped().toUtf8();
}

QByteArray textLine(int id, const QByteArray& text)
{
    return " <t id=\"" + QByteArray::number(id) + "\">" + xmlEscaped(text) + "</t>\r\n";
}

bool writeFile(const QString& path, const QByteArray& content, QString* error)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(content) == content.size())
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    return false;
}

} // namespace

QByteArray ShipTable(bool newest)
{
    const int count = shipsIn(newest);
    QByteArray t = "// TShips.txt - ship types\n";
    t += newest ? "// revision 2: six new ships, Gannet rebalanced\n" : "// revision 1\n";
    t += "48;" + QByteArray::number(count) + ";\n";
    for (int i = 0; i < count; ++i) {
        if (i == 10 || i == BaseShipCount)
            t += i == 10 ? "// capital ships and freighters follow\n" : "// added in revision 2\n";
        t += shipRecord(i, newest);
    }
    return t;
}

QByteArray CockpitTable()
{
    QByteArray t = "// TCockpits.txt - cockpits and turrets\n";
    t += "47;" + QByteArray::number(CockpitCount) + ";\n";
    for (int i = 0; i < CockpitCount; ++i) {
        const CockpitDef& c = kCockpits[i];
        if (i == 0) {
            t += "0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_DEFAULT;\n";
            continue;
        }
        Line l;
        l << c.laserMask << c.position << c.arc << c.arc / 2 << 0 << 0 << i % 3 << 4512 << 0 << 0
          << 0 << 0 << 0 << 0 << 0 << -100000 << 0 << 0 << c.key;
        t += l.text();
    }
    return t;
}

QByteArray DummyTable(bool newest)
{
    const int count = shipsIn(newest);
    QByteArray t = "// Dummies.txt - model scene points\n";
    for (const char* type : kDummyTypes) {
        QByteArray lines;
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const ShipDef& def = kShips[i];
            const QByteArray scene = sceneOf(def);
            Line l;
            const QByteArray kind(type);
            if (kind == "SDTYPE_GUN") {
                const int guns = gunCount(def);
                if (!guns)
                    continue;
                l << scene << guns;
                for (int g = 0; g < guns; ++g)
                    l << (g % 2 ? 2 + g : -2 - g) << g / 2 << 6 - g;
            } else if (kind == "SDTYPE_DOCK") {
                if (!kClasses[def.cls].dock)
                    continue;
                l << scene << kClasses[def.cls].dock << 0 << -4 << 12;
            } else if (kind == "SDTYPE_DOORWAY") {
                if (def.cls != Transport && def.cls != Carrier)
                    continue;
                l << scene << 1 << 0 << -2 << -10;
            } else if (kind == "SDTYPE_ANIMATED") {
                if (def.turretEntries < 3)
                    continue;
                l << scene << def.turretEntries - 1;
                for (int k = 1; k < def.turretEntries; ++k)
                    l << 10 + k;
            } else {
                if (def.cls != Corvette && def.cls != Frigate && def.cls != Carrier)
                    continue;
                l << scene << 2 << 4 << 7;
            }
            lines += l.text();
            ++n;
        }
        t += QByteArray(type) + ';' + QByteArray::number(n) + ";\n" + lines + '\n';
    }
    return t;
}

QByteArray ComponentTable()
{
    QByteArray t = "// Components.txt - attachable parts of capital ships\n";
    for (int i = 0; i < BaseShipCount; ++i) {
        const ShipDef& def = kShips[i];
        if (def.cls != Corvette && def.cls != Frigate && def.cls != Carrier)
            continue;
        const int turrets = def.turretEntries - 1;
        t += sceneOf(def) + ";2;\n";
        t += "SCTYPE_HARDPOINT;" + QByteArray::number(turrets) + ";\n";
        for (int k = 1; k <= turrets; ++k)
            t += (Line() << 10 + k << (k % 2 ? -3 : 3) << k << 8 - 2 * k).text();
        t += "SCTYPE_ENGINE;2;\n";
        t += (Line() << 20 << -2 << 0 << -14).text();
        t += (Line() << 21 << 2 << 0 << -14).text();
        t += '\n';
    }
    return t;
}

QByteArray LaserTable()
{
    QByteArray t = "// TLaser.txt - laser types\n";
    t += "40;" + QByteArray::number(LaserCount) + ";\n";
    for (int i = 0; i < LaserCount; ++i) {
        const EquipmentDef& e = kLasers[i];
        t += (Line() << "lasers\\" + lower(e.key) << 400 + i << 0 << 0 << 0 << i
                     << kLaserTextBase + i << e.a << e.b << e.c << e.d << 2000 + 150 * i
                     << QByteArray("SS_LASER_") + e.key)
                 .text();
    }
    return t;
}

QByteArray ShieldTable()
{
    QByteArray t = "// TShields.txt - shield types\n";
    t += "41;" + QByteArray::number(ShieldCount) + ";\n";
    for (int i = 0; i < ShieldCount; ++i) {
        const EquipmentDef& e = kShields[i];
        t += (Line() << 0 << 420 + i << 0 << 0 << 0 << i << kShieldTextBase + i << e.a << e.b << e.c
                     << QByteArray("SS_SHIELD_") + e.key)
                 .text();
    }
    return t;
}

QByteArray MissileTable()
{
    QByteArray t = "// TMissiles.txt - missile types\n";
    t += "42;" + QByteArray::number(MissileCount) + ";\n";
    for (int i = 0; i < MissileCount; ++i) {
        const EquipmentDef& e = kMissiles[i];
        t += (Line() << "missiles\\" + lower(e.key) << 440 + i << 0 << 0 << 0 << i
                     << kMissileTextBase + i << e.a << e.b << e.c << e.d
                     << QByteArray("SS_MISSILE_") + e.key)
                 .text();
    }
    return t;
}

QByteArray TextPage(bool newest)
{
    QByteArray t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    t += "<language id=\"" + QByteArray::number(Language) + "\">\r\n";
    t += "<page id=\"17\" title=\"Ship and equipment names\">\r\n";
    for (int i = 0; i < shipsIn(newest); ++i) {
        t += textLine(kShipTextBase + 2 * i, kShips[i].name);
        t += textLine(kShipTextBase + 2 * i + 1, descriptionOf(i));
    }
    for (int i = 0; i < LaserCount; ++i)
        t += textLine(kLaserTextBase + i, kLasers[i].name);
    for (int i = 0; i < ShieldCount; ++i)
        t += textLine(kShieldTextBase + i, kShields[i].name);
    for (int i = 0; i < MissileCount; ++i)
        t += textLine(kMissileTextBase + i, kMissiles[i].name);
    t += "</page>\r\n";
    if (!newest) {
        // Owner races, cargo sizes and the first race's ranks, as the
        // customisation dialog names them.
        const char* races[] = {"Argon",   "Boron",     "Split",   "Paranid", "Teladi",
                               "Xenon",   "Outsiders", "Pirates", "Pilgrims"};
        t += "<page id=\"1266\" title=\"Races\">\r\n";
        for (int i = 0; i < int(std::size(races)); ++i)
            t += textLine(i + 1, races[i]);
        const char* sizes[] = {"Small", "Medium", "Large", "Extra Large", "Station"};
        t += "</page>\r\n<page id=\"1999\" title=\"Cargo sizes\">\r\n";
        for (int i = 0; i < int(std::size(sizes)); ++i)
            t += textLine(10 + i, sizes[i]);
        t += "</page>\r\n<page id=\"300023\" title=\"Ranks\">\r\n";
        for (int i = 0; i < 16; ++i)
            t += textLine(110 - i, "Rank " + QByteArray::number(i + 1));
        t += "</page>\r\n";
    }
    t += "</language>\r\n";
    return t;
}

namespace {

// The scene and cockpit scene every ship line names, in the catalogue that
// brought the ship, as packed bodies below "objects".
QList<Entry> sceneEntries()
{
    QList<Entry> out;
    for (int i = 0; i < ShipCount; ++i) {
        const ShipDef& def = kShips[i];
        const QString catalog = i < BaseShipCount ? QStringLiteral("01.cat") : QStringLiteral("02.cat");
        const QByteArray body = QByteArray("ships\\") + kClasses[def.cls].folder + '\\' + lower(def.name);
        const QByteArray cockpit = QByteArray("cockpits\\") + lower(def.name) + "_cockpit";
        out.append({catalog, QStringLiteral("objects\\") + QString::fromLatin1(sceneOf(def)) +
                                 QStringLiteral(".pbd"),
                    "// " + sceneOf(def) + "\r\nVER: 1;\r\nP 0; B " + body + "; 0; 0; 0; 0;\r\n"});
        out.append({catalog, QStringLiteral("objects\\") + QString::fromLatin1(cockpit) +
                                 QStringLiteral(".pbd"),
                    "// " + cockpit + "\r\nVER: 1;\r\nP 0; B cockpits\\frame; 0; 0; 0; 0;\r\n"});
    }
    return out;
}

} // namespace

QList<Entry> Entries()
{
    const QString first = QStringLiteral("01.cat");
    const QString second = QStringLiteral("02.cat");
    QList<Entry> entries{
        {first, QStringLiteral("types\\TShips.pck"), ShipTable(false)},
        {first, QStringLiteral("types\\TCockpits.pck"), CockpitTable()},
        {first, QStringLiteral("types\\Dummies.pck"), DummyTable(false)},
        {first, QStringLiteral("types\\Components.pck"), ComponentTable()},
        {first, QStringLiteral("types\\TLaser.pck"), LaserTable()},
        {first, QStringLiteral("types\\TShields.pck"), ShieldTable()},
        {first, QStringLiteral("types\\TMissiles.pck"), MissileTable()},
        {first, QStringLiteral("t\\440001.pck"), TextPage(false)},
        {second, QStringLiteral("types\\TShips.pck"), ShipTable(true)},
        {second, QStringLiteral("types\\Dummies.pck"), DummyTable(true)},
        {second, QStringLiteral("t\\440001.pck"), TextPage(true)},
    };
    return entries + sceneEntries();
}

QByteArray EntryText(const QString& catalog, const QString& name)
{
    for (const Entry& e : Entries()) {
        if (e.catalog.compare(catalog, Qt::CaseInsensitive) == 0 &&
            e.name.compare(name, Qt::CaseInsensitive) == 0)
            return e.text;
    }
    return {};
}

QList<Ship> Ships()
{
    QList<Ship> ships;
    for (int i = 0; i < ShipCount; ++i) {
        const ShipDef& def = kShips[i];
        ships.append({i, QString::fromLatin1(idOf(def)), QString::fromLatin1(def.name),
                      QString::fromLatin1(descriptionOf(i)), kShipTextBase + 2 * i,
                      QString::fromLatin1(sceneOf(def)), i >= BaseShipCount});
    }
    return ships;
}

bool MakeSampleGame(const QString& dir, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    const QDir root(dir);
    for (const char* cat : {"01.cat", "02.cat"}) {
        if (QFileInfo::exists(root.filePath(QLatin1String(cat)))) {
            why = QStringLiteral("%1 already holds a game catalogue (%2)")
                      .arg(QDir::toNativeSeparators(dir), QLatin1String(cat));
            return false;
        }
    }
    if (!root.mkpath(QStringLiteral("mods"))) {
        why = QStringLiteral("cannot create %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    if (!writeFile(root.filePath(QStringLiteral("vega.exe")), QByteArray(), error) ||
        !writeFile(root.filePath(QStringLiteral("lang.dat")), QByteArray::number(Language), error))
        return false;

    for (const Entry& e : Entries()) {
        const QString catalog = root.filePath(e.catalog);
        if (!EnsureCatalog(catalog)) {
            why = QStringLiteral("cannot create %1: %2")
                      .arg(QDir::toNativeSeparators(catalog),
                           ArchiveErrorMessage(LastArchiveError()));
            return false;
        }
        // Written under the plain name; packing gives it the .pck name listed above.
        QString plainName = e.name;
        plainName.replace(plainName.size() - 3, 3,
                          e.name.startsWith(QLatin1String("t\\"))        ? QStringLiteral("xml")
                          : e.name.endsWith(QLatin1String(".pbd"), Qt::CaseInsensitive) ? QStringLiteral("bod")
                                                                           : QStringLiteral("txt"));
        if (!WriteArchiveFile(e.text.constData(), e.text.size(), catalog + "::" + plainName, true,
                              false)) {
            why = QStringLiteral("cannot write %1 into %2: %3")
                      .arg(e.name, QDir::toNativeSeparators(catalog),
                           ArchiveErrorMessage(LastArchiveError()));
            return false;
        }
    }
    return true;
}

} // namespace SampleGame
