// Checks a ship package for what would break it in the game or in the installer,
// before it is saved (the editor) or after (hullwright-cli validate): the record
// and its ID, the files it names, its turret cockpits, texts and entry names, and
// the sizes the installer takes.
#pragma once

#include "shipdraft.h"
#include "shippackage.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct PackageCheckProblem
{
    // "record", "file", "cockpit", "text", "case", "name", "size"
    QString kind;
    QString subject; // the file, field or language concerned
    QString message;
};

struct PackageCheckInput
{
    ShipPackage package;
    // Bytes each embedded file has: the source for the editor, the unpacked file
    // for a saved package; -1 when it is missing.
    std::function<qint64(const PackageFile&)> sizeOf;
    qint64 screenshotSize = -1; // when the package names a screenshot
    QStringList missing;        // files the editor lists that do not exist
    // Entries of the game's cockpit table, which numeric turret cockpits index
    // (the package's own cockpits follow them); -1 when not known.
    int gameCockpits = -1;
    // Whether the game has the scene a record field names; empty when no game is
    // given. Fields 16 and 17 must name the scenes the package carries or these.
    std::function<bool(const QString& field)> gameHasScene;
};

QList<PackageCheckProblem> CheckPackage(const PackageCheckInput& input);
QStringList PackageCheckLines(const QList<PackageCheckProblem>& problems);
QJsonObject PackageCheckJson(const QList<PackageCheckProblem>& problems);

// A saved package, read into a scratch folder below tempFolder: the reader's own
// refusals come back as problems too. `error` is set when it is no package at all.
QList<PackageCheckProblem> CheckPackageFile(
    const QString& path, const QString& tempFolder, int gameCockpits, QString* error,
    const std::function<bool(const QString&)>& gameHasScene = {});

// The editor's draft as it would be saved (BuildPackage), with the files it lists
// that do not exist.
QList<PackageCheckProblem> CheckDraft(
    const ShipDraft& draft, const QString& programDir, int gameCockpits = -1,
    const std::function<bool(const QString&)>& gameHasScene = {});

// Every catalogue entry of a game, the numbered catalogues and the installer's mod,
// as a test of the scene names of record fields 16 and 17.
std::function<bool(const QString&)> GameSceneLookup(const QString& gameDir);
