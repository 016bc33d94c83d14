// The authoring program's settings: the <common> and <creator> blocks of the
// shared config.dat (configfile.h). The keys are stored in users' files: do not
// rename them.
#pragma once

#include <QString>
#include <QStringList>

struct CreatorSettings {
    QString language = QStringLiteral("English"); // <common> "Language:"
    // A "Language:" line named one; without it a first start follows the system's
    // language (UiTexts::languageFor).
    bool languageChosen = false;
    QStringList gameDirs;                          // "VegaDir:", current first, at most 10
    QString modDir;                                // "ModDir:"
    QString baseLanguage = QStringLiteral("44");   // "BaseLang:"
    QString modelDir;                              // "ModelDir:"
    QString saveDir;                               // "SaveDir:"
    QString typeDir;                               // "TypeDir:"
    QString textDir;                               // "TextDir:"
    QString bodcompPath;                           // "BodcompDir:" (the executable itself)
    QString scriptDir;                             // "ScriptDir:"
    QString defaultAuthor;                         // "DefAuthor:"
    QString defaultWeb;                            // "DefWeb:"
    QString defaultMirror1;                        // "DefMirror1:"
    QString defaultMirror2;                        // "DefMirror2:"
    bool bodcomp = false;                          // "BODCOMP"
    bool prefixNames = false;                      // "Prefix"
    bool getTextOnStart = true;                    // absent "NoText"
    bool looseTextFolder = true;                   // absent "NoTextT"
    bool saveWeb = false;                          // "SaveWeb"
    // Packages saved with the quick LZMA settings, a little larger; off: the
    // standard settings.
    bool fastSave = false;                         // "FastSave"
};

// Reads <programDir>/config.dat; a missing file leaves the defaults. Directories
// without vega.exe are dropped. False when the file exists but cannot be read.
bool ReadCreatorSettings(const QString& programDir, CreatorSettings& settings);
// Rewrites config.dat atomically: the new <common> and <creator> blocks, then every
// old line outside those blocks (the installer's block survives byte for byte).
// False, with the file untouched, when the old file cannot be read or the new one
// cannot be written.
bool WriteCreatorSettings(const QString& programDir, const CreatorSettings& settings,
                          QString* error = nullptr);
// The same on text, for tests.
void ParseCreatorSettings(const QByteArray& text, CreatorSettings& settings);
QByteArray CreatorSettingsText(const CreatorSettings& settings, const QByteArray& oldText);
