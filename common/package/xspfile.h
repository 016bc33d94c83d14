// The .xsp ship package: an LZMA-alone stream holding a line document in which
// the bytes of each embedded file follow the line that announces it. The keys and
// their order are read by every installed copy of both programs: keep them.
#pragma once

#include "shippackage.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Prompter;
class ProgressSink;
class StatusSink;

// The longest line of a package document the reader takes; a longer one fails the package.
inline constexpr qint64 kMaxPackageLine = 16 << 20;
// What one package may hold, far beyond any real ship, so that the memory of
// reading it stays bounded whatever a small, highly compressed file claims; a
// package beyond one of these fails with a message naming the limit.
inline constexpr qint64 kMaxPackageHeaderBytes = 32 << 20; // all lines, embedded files not counted
inline constexpr int kMaxPackageTexts = 4096;
inline constexpr int kMaxPackageDummies = 65536;
inline constexpr int kMaxPackageComponents = 65536;
inline constexpr int kMaxPackageCockpits = 4096;
inline constexpr int kMaxPackageFiles = 262144; // models, files and scripts together
// The largest embedded file: readers take a file's size line as a 32-bit number.
inline constexpr qint64 kMaxPackageFileSize = 0x7FFFFFFF;

// What the reader and writer need from their caller instead of widgets.
struct PackageContext
{
    QString programDir;           // holds temp/ and log/
    Prompter* prompter = nullptr; // the "update or install beside" question
    ProgressSink* progress = nullptr;
    StatusSink* status = nullptr;
    QString logName; // empty: no logging
    const QStringList* installerTexts = nullptr;
    const QStringList* sharedTexts = nullptr;
};

enum PackageStatus : int {
    PackageOk = 0,     // read to the end ("complete" tells whether Name and Author were set)
    PackageFailed = 1, // failed, cancelled, unsafe or incomplete
    PackageOlder = 2,  // an installed twin has a newer version
    PackageTooNew = 3, // needs a newer reader
};

enum PackageFileKind : int { KindModel = 0, KindFile = 1 };

struct OpenPackageOptions
{
    QString baseDir; // installer: game dir; authoring: program dir
    const QList<ShipPackage>* installed = nullptr;
    QString modCatalog;                            // empty: files are written as plain files
    QString scriptDir = QStringLiteral("scripts"); // relative to baseDir
    bool inSlipway = true;                         // files go below baseDir/Slipway
};

// What kind of problem made a package fail, for messages a player understands.
enum class PackageProblem : int {
    None,        // read whole, or failed without a problem to name
    NotPackage,  // not a ship package at all (no LZMA-alone header, no "Packager:" line)
    Damaged,     // a package, but corrupt or cut short
    Incomplete,  // read to its end, but it names no ship or no author
    RefusedName, // an embedded file's name breaks a rule (`error` names it and the rule)
    NotWritten,  // an embedded file could not be written or stored
    Cancelled,   // the user cancelled in the "same ID" question
};

struct OpenPackageResult
{
    int status = PackageOk;
    bool complete = false;
    // The first problem met (with status PackageFailed); PackageTooNew and
    // PackageOlder carry None.
    PackageProblem problem = PackageProblem::None;
    int replaces = -1; // index in the installed list of the ship this one replaces
    // Why the package failed, naming the entry and the rule it broke (the first of
    // `problems`); empty when there is nothing to name, as after a cancel.
    QString error;
    // Every problem met, one line each, e.g. every embedded file that was refused or
    // could not be written.
    QStringList problems;
};

// Reads one package into `package`, which the caller created and always owns: on
// any status other than PackageOk the caller discards it (also after a cancel in
// the update question). Files already placed before a failure stay where they are.
OpenPackageResult OpenPackage(QFile& file, ShipPackage& package, const OpenPackageOptions& options,
                              const PackageContext& context);

// The same for a plain document already in `document` (open for reading, at its
// start; its first line must have the key "Packager:"): no temporary file, no
// decompression. `name` stands for the package in status texts. The device is left open.
OpenPackageResult OpenPackageDocument(QIODevice& document, const QString& name,
                                      ShipPackage& package, const OpenPackageOptions& options,
                                      const PackageContext& context);

// The temporary document for a package file: <programDir>/temp/<file name>.tMp.
QString PackageDocumentPath(const QString& programDir, const QString& packagePath);
// Called with each model (kind KindModel) and other file (KindFile) just before
// it is embedded; it may replace the entry, e.g. by a packed form made meanwhile.
// False stops the document as failed.
using EntryReady = std::function<bool(int kind, qsizetype index, PackageFile& entry)>;
// Writes the inner document of a package to out, stopping at the first failed write.
bool WritePackageDocument(const ShipPackage& package, QIODevice& out,
                          const PackageContext& context, const EntryReady& ready = {});
// Writes the inner document of a package. Sources that cannot be opened are
// left out with their lines; entries marked RemoveAfterSave are deleted once written.
bool SavePackageText(const ShipPackage& package, const QString& documentPath,
                     const PackageContext& context);
// The first source file of the package (screenshot, scene, cockpit, models, files,
// scripts) too large to embed, as "NAME: N bytes, more than a package file may hold
// (2 GiB)"; empty when every file fits. Writers check this before writing anything.
QString OversizedPackageFile(const ShipPackage& package, const QString& programDir);
// SavePackageText to the temporary document, then CompressFile into target.
bool SavePackage(const ShipPackage& package, const QString& target, const PackageContext& context);

bool IsFileWanted(const QList<ShipPackage>* installed, const PackageFile& entry, int kind);
bool IsScriptWanted(const QList<ShipPackage>* installed, const PackageFile& entry);
bool IsFileUsedElsewhere(const QList<ShipPackage>* installed, const QString& fileName,
                         const ShipPackage& excluded, int kind);
// A package entry name must stay below its target: not absolute, no drive
// letter, no ".." component, not empty, no control character, no part longer than
// a file system takes.
bool IsSafeEntryName(const QString& name);
// The rule a stored name breaks, empty when it keeps them all; a bare name must
// not hold a folder either.
QString EntryNameProblem(const QString& name, bool bare);
