// The editor's state as a plain model: one ship draft, what the main window shows
// in its tabs. The window fills its widgets from a draft and reads one back; the
// package is built from it when it is saved.
#pragma once

#include "shippackage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

struct CreatorSettings;

// "<PACKAGE>/" stands for the program folder + "/Slipway/", where the files of
// the package last opened lie.
inline constexpr char kPackagePrefix[] = "<PACKAGE>/";

// A target folder of the model or other-file tree with the files that go there.
struct DraftFolder
{
    QString dir;       // "/" separators, as the user typed it ("objects/")
    QStringList files; // source paths, possibly in "<PACKAGE>/" form
};

struct ShipDraft
{
    QString id, name, author, version;
    std::array<bool, 8> shipyards = {};
    QString web, mirror1, mirror2;
    bool writeUpdateInfo = false;
    bool useExistingText = false;
    int existingTextId = 0;
    QList<PackageText> texts;
    QString sceneName, sceneFile;     // game name of the scene and its source file
    QString cockpitName, cockpitFile; // the same for the cockpit scene
    QList<DraftFolder> models;
    QList<DraftFolder> others;
    QStringList scripts;
    QList<PackageDummy> dummies;
    QList<PackageComponent> components;
    QStringList cockpits;
    QString picture;
    QString comment; // with line breaks
    QString record;  // the ship-table line ("Raw Data")
};

// New Ship: the default record (identifier "HW_NEW_SHIP"), the default author and
// update addresses of the settings, everything else empty. With the class list,
// the record's class number (field 52) is that of the class its field 5 shows.
struct NumberedName;
ShipDraft NewShipDraft(const CreatorSettings& settings, const QList<NumberedName>& classes = {});
// "Save the web address in every package": with that setting on, an empty web
// address or mirror takes the default one before a save; a ship's own address
// stays. True when anything changed.
bool ApplySaveWebDefaults(ShipDraft& draft, const CreatorSettings& settings);

// The record as it is saved: fields 16 and 17 name the editor's ship scene and
// cockpit scene in the game's form ("0" for no cockpit scene), and the identifier
// is the ship ID, so the record never disagrees with what the editor shows. The
// text comes back unchanged when it already says so, and when its turret and
// gun counts cannot be followed (such a record is installed whole).
QString DraftRecord(const ShipDraft& draft);

// A ship chosen from a ship table: the whole line is the record, field 16 the
// ship scene, field 17 the cockpit scene, field 6 the description number and the
// identifier the ship ID.
void ApplyTableShip(ShipDraft& draft, const QString& line);

// The game's name of a scene the package carries: its entry name without
// "objects/" (or "objects/cut/" for a name without a folder) and its extension.
QString SceneGameNameOf(const QString& entryName);

// A package as the editor shows it: its files in "<PACKAGE>/" form, models and
// other files grouped by their target folder.
ShipDraft DraftFromPackage(const ShipPackage& package);

// Adds files under the folder of that name (backslashes become "/"), making the
// folder when it is new. Returns the number added.
int AddDraftFiles(QList<DraftFolder>& tree, const QString& dir, const QStringList& files);
// Every file of a tree in row order.
QStringList DraftTreeFiles(const QList<DraftFolder>& tree);

// The unsaved-changes test against the package last saved or opened. Returns the
// first comparison that finds a difference, in the order they are made, or
// NoChanges; without a current package there are always changes.
enum class DraftChange {
    NoChanges = 0,
    NoPackage,
    Record,
    Header,
    Shipyards,
    CommentOrPicture,
    Scenes,
    FileLists,
    Cockpits,
    DummiesOrTexts,
};
// Every field and row the editor shows equal (comment line breaks compared
// without carriage returns): the window's unsaved-changes test against the
// draft it showed when it last saved, opened or started.
bool SameDraft(const ShipDraft& a, const ShipDraft& b);
DraftChange FirstUnsavedChange(const ShipDraft& draft, const ShipPackage* current);
inline bool HasUnsavedChanges(const ShipDraft& draft, const ShipPackage* current)
{
    return FirstUnsavedChange(draft, current) != DraftChange::NoChanges;
}
