// From the editor's draft to a ship package on disk and back: assembling the
// package, saving it with its update-info file, and opening a package for
// editing below the program folder's "Slipway".
#pragma once

#include "lzmafile.h"
#include "modelcompiler.h"
#include "shipdraft.h"
#include "xspfile.h"

#include <QString>

// "<PACKAGE>/" expanded to <programDir>/Slipway/.
QString ExpandPackagePath(const QString& path, const QString& programDir);

// The first required field that is empty, in the order the save checks them.
enum class MissingField { None, Name, Author, Id, Record, Scene };
MissingField FirstMissingField(const ShipDraft& draft);

// A save name gets ".xsp" unless it already ends in it (any case).
QString PackageSaveName(const QString& name);

// The package name of a scene from its game name and source file: "objects/"
// + name when the name has a folder, else "objects/cut/" + name, with the
// source's extension unless the name already ends in a model extension.
QString SceneEntryName(const QString& gameName, const QString& sourcePath);

// The package the editor's draft describes. Sources that do not exist are left
// out with their rows; a text model that has a binary twin in the same folder is
// replaced by it. Times and sizes come from the sources.
ShipPackage BuildPackage(const ShipDraft& draft, const QString& programDir);

// The update-info file written beside a package: "<Name without blanks>.dat".
QString UpdateInfoPath(const ShipPackage& package, const QString& target);
QByteArray UpdateInfoText(const ShipPackage& package, const QString& target);

// Writes the package to target. Models and other files go through
// PrepareModelFile (compiled when the conversion asks for it, packed in any
// case) on a second thread while the document is compressed as it is written;
// the scene and cockpit are embedded as they are. The package is compressed
// beside the target and renamed over it only when complete, so a failed save
// keeps the old file; the bytes are those of preparing every entry first and
// compressing the whole document after. LzmaMode::Fast packs models at
// kFastPackLevel and encodes with the quick LZMA settings: a slightly larger
// package that every reader takes. With WriteUpdateInfo and a web address the
// update-info file follows. When that file cannot be written after the package
// is in place: with updateInfoError given, true and the reason there (the
// package is saved, the info file is not); without it, false and an error that
// says both.
bool SaveShipPackage(const ShipPackage& package, const QString& target,
                     const PackageContext& context, QString* error = nullptr,
                     const ModelConversion& conversion = {}, QString* updateInfoError = nullptr,
                     LzmaMode mode = LzmaMode::Standard);

struct OpenForEditResult
{
    OpenPackageResult read;
    QString error; // why it failed, for the message box or stderr
    bool ok() const { return read.status == PackageOk && read.complete && error.isEmpty(); }
};

// Opens a package for editing: its files are unpacked into a fresh folder that
// replaces <programDir>/Slipway only when the whole package read, so a failure
// leaves the files of the package opened before untouched. Unpacked files keep
// the times the package gives them, so saving again gives the same package.
OpenForEditResult OpenPackageForEditing(const QString& path, const QString& programDir,
                                        ShipPackage& package, const PackageContext& context);
