// Edit mode: an installed ship's draft written back into the game directory, its
// registry and its mod, as one all-or-nothing change.
#pragma once

#include "shipdraft.h"

#include <QString>

#include <optional>

struct EditModeSaveResult
{
    bool ok = false;
    QString error; // why nothing was changed
};

// Writes the draft over the installed ship that editModePath names. Files the
// user chose anew (paths not in "<PACKAGE>/" form) replace the old ones in the
// mod (enabled ship) or in the game's Slipway (disabled ship); old files no other
// ship uses are removed. Refused, with nothing changed, while another program
// holds the game directory or when its registry does not read whole.
// The installed ship that an edit-mode path names, as the registry holds it.
std::optional<ShipPackage> LoadInstalledShip(const QString& editModePath);

EditModeSaveResult SaveInstalledShip(const QString& editModePath, const ShipDraft& draft,
                                     const QString& programDir);
