// Edit mode: an installed ship's draft written back into the game directory, its
// registry and its mod, as one all-or-nothing change.
#pragma once

#include "gamechange.h"
#include "packagecheck.h"
#include "shipdraft.h"

#include <QString>

#include <optional>

struct EditModeSaveResult
{
    enum class Outcome {
        Saved,
        Failed,          // nothing changed; `error` says why
        ChangedMeanwhile // the installed ship is no longer the one loaded; nothing changed
    };
    Outcome outcome = Outcome::Failed;
    QString error; // English, for the log
    // Why a Failed save could not begin, for a message in the user's language:
    // another program holds the game (`holder`), the lock file cannot be made
    // (`lockError`, the system's error number) or a leftover change cannot be
    // rolled back (`rollback` and the journal's own report `rollbackReport`).
    enum class Refusal { None, Held, LockFailed, RollbackFailed };
    Refusal refusal = Refusal::None;
    GameDirLock::Holder holder;
    int lockError = 0;
    GameChange::RecoverFailure rollback;
    QString rollbackReport;
    QString editModePath; // after a save: the path that names the ship now (renamed or not)
    bool ok() const { return outcome == Outcome::Saved; }
};

// The installed ship that an edit-mode path names, as the registry holds it.
std::optional<ShipPackage> LoadInstalledShip(const QString& editModePath);

// The edit-mode path of an installed ship: game folder + "/" + name + "~" +
// author, with slashes in the name part written as "<fslash>" and "<bslash>".
QString EncodeEditModePath(const QString& gameDir, const QString& name, const QString& author);

// What differs between the registry entry the window loaded and the one
// installed now (version, record, enabled state, files), empty when nothing does.
QString InstalledShipDifference(const ShipPackage& loaded, const ShipPackage& now);

// Writes the draft over the installed ship that editModePath names, provided the
// registry still holds it as `loaded`. Every change the editor allows is applied:
// header, record, texts, dummies, components, cockpits, screenshot (new or
// cleared), and the scene, cockpit scene, models, other files and scripts added,
// replaced or removed. Files the user chose anew (paths not in "<PACKAGE>/"
// form) go into the mod (enabled ship) or the game's Slipway (disabled ship);
// old files no other ship uses are removed. Refused, with nothing changed, while
// another program holds the game directory, when the registry does not read
// whole, when the installed ship changed since it was loaded, when the new name,
// author or ID belongs to another installed ship, and when a change cannot be
// applied.
EditModeSaveResult SaveInstalledShip(const QString& editModePath, const ShipDraft& draft,
                                     const QString& programDir, const ShipPackage& loaded);

// The pre-save check of an edit-mode save: the package check applied to the
// registry entry the save would write, where files kept from the installed ship
// count as present and only new files that do not exist are missing. A change
// edit mode cannot apply comes back as a problem too.
QList<PackageCheckProblem> CheckInstalledShipDraft(const QString& editModePath, const ShipDraft& draft,
                                                   const QString& programDir, const ShipPackage& loaded);
