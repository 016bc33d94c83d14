// One ship as carried between the two programs: header texts, flags, the ship
// record and the lists of files, texts and table entries it brings along.
// The same record serves the package file, the installed-ships registry and the
// editor. The package owns everything it holds (values, not pointers).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

struct PackageText
{
    qint32 Language = 0; // the game's language number
    QString Name;        // never contains ":"
    QString Description; // may contain ":"
};

struct PackageFile
{
    quint32 Time = 0;   // seconds since 1970 (UTC)
    qint32 Size = 0;    // bytes of data
    QString Name;       // path below the game directory ("/" separators); scripts: bare name
    QString SourcePath; // authoring program: file whose bytes are embedded
    bool RemoveAfterSave = false; // authoring program: SourcePath is a temporary file
};

struct PackageDummy
{
    QString Section;
    QString Data; // rest of the table line, always ends with ";"
};

struct PackageComponent
{
    QString Part1;
    QString Part2;
    QString Part3;
};

// Race order of the shipyard flags; these names are stored in the registry file.
inline constexpr std::array<const char*, 8> kShipyardRaces = {
    "Argon", "Boron", "Paranid", "Split", "Teladi", "Pirates", "Friendly", "Xenon"};

// a.toUpper() == b.toUpper(), without the upper-cased copies when both are ASCII:
// looking a package up compares it with every installed ship.
inline bool EqualUpperCased(const QString& a, const QString& b)
{
    const auto ascii = [](const QString& s) {
        for (const QChar c : s)
            if (c.unicode() >= 0x80)
                return false;
        return true;
    };
    if (ascii(a) && ascii(b))
        return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
    return a.toUpper() == b.toUpper();
}

struct ShipPackage
{
    QString Name;
    QString Author;
    QString Version;
    QString ID;
    QString Data; // the ship-table record, one line
    QString Web;
    QString Mirror1;
    QString Mirror2;
    QList<PackageText> Texts;
    std::optional<PackageFile> SceneFile;
    std::optional<PackageFile> CockpitFile;
    QList<PackageFile> Models;
    QList<PackageFile> Files;
    QList<PackageDummy> Dummies;
    QList<PackageComponent> Components;
    QList<PackageFile> Scripts;
    QStringList Cockpits;
    QString Comment;
    QString ScreenShot;
    bool Enabled = false;
    std::array<bool, 8> Shipyards = {};
    bool Changed = false; // installer only, never stored
    bool NotChecked = false;
    bool WriteUpdateInfo = false; // authoring program only, never stored
    qint32 Deleted = 0;           // non-zero: placeholder of an uninstalled ship
    qint32 OriginalDesc = 0;
    qint32 GeneratedDescId = 0; // installer only, never stored

    // Same ship: equal name and author, compared upper-cased.
    bool sameShip(const ShipPackage& other) const
    {
        return EqualUpperCased(Name, other.Name) && EqualUpperCased(Author, other.Author);
    }
};

// Lines that the package file and the registry both store with "<newline>" markers.
inline QString encodeNewlines(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text.replace(QLatin1Char('\n'), QLatin1String("<newline>"));
}
inline QString decodeNewlines(QString text)
{
    return text.replace(QLatin1String("<newline>"), QLatin1String("\n"));
}
