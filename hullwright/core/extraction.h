// Turns a ship package into loose files laid out like a mod folder, with the
// ship's four one-ship type tables in "types".
#pragma once

#include "shippackage.h"
#include "xspfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The tables as the extraction writes them. The cockpit table also turns the
// record's turret cockpits named by key into their numbers in that table, which
// is why it takes the record and gives the working copy back.
QByteArray CockpitTableText(const ShipPackage& package, QString& record);
QByteArray ShipTableText(const ShipPackage& package, const QString& record);
QByteArray DummyTableText(const ShipPackage& package);     // empty without dummies
QByteArray ComponentTableText(const ShipPackage& package); // empty without components

struct ExtractionResult
{
    enum Outcome { Done, NoTarget, Unreadable };
    Outcome outcome = Unreadable;
    OpenPackageResult read;
    QString error;          // why the package did not read
    QStringList tables;     // table files written
    QStringList notWritten; // table files that could not be written, with the reason
    QStringList keptBeside; // tables that existed: kept, the ship's written beside (one line each)
};

// Extracts into targetDir, which must exist (else nothing is written). With
// prefixNames the tables are named e.g. "TShips_FastHauler.txt" (a ship name that
// cannot be part of a file name writes no table). A table that already exists is
// kept and the ship's is written beside it ("TShips.new.txt") unless replaceTables.
// Nothing is written through a link inside targetDir. The temporary document lives
// in <programDir>/temp.
ExtractionResult ExtractShipPackage(const QString& packagePath, const QString& targetDir,
                                    bool prefixNames, const PackageContext& context,
                                    bool replaceTables = false);
