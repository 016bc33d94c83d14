// Generator of a small, self-consistent Vega install: the executable stand-in,
// the language file and two numbered catalogues with the type tables and the
// main text page. Used by the tests, the benchmarks and the quick start.
//
// The content is fixed: every call produces the same plain texts. Only the packed
// bytes differ between runs (the packed form's key byte and time stamp).
//
// Layout of the generated install:
//   vega.exe            empty stand-in
//   lang.dat            "44"
//   mods/               empty
//   01.cat / 01.dat     all type tables and t\440001.pck for the first 30 ships
//   02.cat / 02.dat     a newer types\TShips.pck (36 ships, one price changed),
//                       types\Dummies.pck and t\440001.pck covering all 36 ships
//   objects\...         each ship's scene and cockpit scene (fields 16 and 17 of
//                       its line), in the catalogue that brings the ship
// Every entry is stored packed.
//
// MakeSamplePackages adds ship packages to install into it; make-sample-game
// writes them into <game>/sample-ships/.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace SampleGame {

constexpr int Language = 44;
constexpr int BaseShipCount = 30; // ships in 01.cat
constexpr int ShipCount = 36;     // ships in 02.cat, the newest table
constexpr int CockpitCount = 10;  // entry 0 is SS_COCKPIT_DEFAULT
constexpr int LaserCount = 12;
constexpr int ShieldCount = 6;
constexpr int MissileCount = 8;

// One catalogue entry of the install with its plain (unpacked) content.
struct Entry
{
    QString catalog; // catalogue file name in the game directory: "01.cat", "02.cat"
    QString name;    // entry name as stored: packed name with backslashes, "types\TShips.pck"
    QByteArray text; // plain content
};

struct Ship
{
    int index;           // position in the ship table
    QString id;          // ship type identifier (last field of the record)
    QString name;        // page 17 text nameText
    QString description; // page 17 text nameText + 1
    int nameText;        // record field 6
    QString scene;       // record field 16; also field 0 of the ship's dummy lines
    bool newer;          // only in 02.cat
};

// Writes the install into dir (created when missing). Fails without touching
// anything when dir already holds 01.cat or 02.cat, so a real game is never
// overwritten. On failure *error (when given) gets a one-line reason.
bool MakeSampleGame(const QString& dir, QString* error = nullptr);

// Every catalogue entry in the order written: the tables and texts of 01.cat, then
// those of 02.cat, then the scenes.
QList<Entry> Entries();
// Plain content of one entry (name with backslashes, compared case-insensitively);
// empty when the catalogue does not hold it.
QByteArray EntryText(const QString& catalog, const QString& name);

// The ships of the newest table, in table order.
QList<Ship> Ships();

// The plain texts, also reachable through EntryText(). newest selects 02.cat's
// copy of the tables that both catalogues hold.
QByteArray ShipTable(bool newest = true);
QByteArray CockpitTable();
QByteArray DummyTable(bool newest = true);
QByteArray ComponentTable();
QByteArray LaserTable();
QByteArray ShieldTable();
QByteArray MissileTable();
QByteArray TextPage(bool newest = true);

// Folder of the sample packages inside the generated game folder.
inline constexpr char PackageFolder[] = "sample-ships";

// File names of the sample packages, in the order written:
//   Merganser.xsp  a fighter with one of every kind of entry: scene and cockpit
//                  scene, two models, a texture, a script, a screenshot, texts in
//                  languages 44 and 49, two dummies, two components and an own
//                  cockpit line whose key its turret field names;
//   Goosander.xsp  a second ship by the same author, without turrets, sharing
//                  one model file (same name, same time, same bytes) with the first,
//                  and with a screenshot of its own.
QStringList PackageFileNames();

// The screenshot of a sample ship ("Merganser" or "Goosander"): an 800 x 600 PNG
// picture of the ship over stars and a planet, the same bytes on every run.
QByteArray ShipScreenshot(const QString& ship);
// A PNG file of 8-bit RGB rows (width * 3 bytes each, top row first); empty when
// the sizes do not match.
QByteArray EncodePng(int width, int height, const QByteArray& rgb);

// Writes the sample packages into folder (created when missing), replacing
// earlier copies. Content and file times are fixed, so the packages are identical
// on every run. On failure *error (when given) gets a one-line reason.
bool MakeSamplePackages(const QString& folder, QString* error = nullptr);

// A mod as modders ship it: one catalogue/data pair with full ship, cockpit,
// dummy and component tables (the game's entries and the mod's own), the mod's
// text pages, models and textures. Made by MakeSampleMod; make-sample-game
// writes it into <game>/sample-mod/, outside "mods", so that the game and the
// installer never load it.
//
//   Albatross  a frigate whose scene names three of the mod's bodies (one of them
//              by number, in the folder "v"), one body the mod lacks and, with a
//              part line the game would not read, a fourth body; its turrets use
//              the mod's own cockpit; dummies in three groups and components
//   Merlin     a scout with one text-form body
// The binary models hold their material lines as text behind a "BOB1" line, so
// that a stand-in compiler that copies its input "decompiles" them readably.
inline constexpr char ModFolder[] = "sample-mod";
inline constexpr char ModCatalog[] = "Shipwrights.cat";

struct ModShip
{
    QString id, name, description; // name and description in language 44
    QString line;                  // the entry of the mod's ship table, without line end
    QString scene;                 // record field 16
    QStringList models;            // entries the scene names, in catalogue order
    QStringList textures;          // entries those models name, in catalogue order
    QStringList cockpits;          // cockpit lines its turrets name (not the default)
    QStringList dummies;           // "group" + TAB + line
    QStringList components;        // "component" + TAB + "group" + TAB + line
    int languages;                 // text pages holding its name
};

// Every entry of the mod catalogue, in the order written; the catalogue is ModCatalog.
QList<Entry> ModEntries();
QList<ModShip> ModShips();
// Writes ModCatalog and its data file into folder (created when missing),
// replacing an earlier copy. On failure *error (when given) gets a one-line reason.
bool MakeSampleMod(const QString& folder, QString* error = nullptr);

} // namespace SampleGame
