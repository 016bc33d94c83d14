// Drydock's settings: the <common> and <installer> blocks of the shared config.dat
// in the program folder. Both programs rewrite their own blocks and copy every
// other line unchanged. The keys are stored in users' files: do not rename them.
#pragma once

#include <QString>
#include <QStringList>

struct InstallerSettings {
    QString language = QStringLiteral("English"); // <common> "Language:"
    // A "Language:" line named one; without it a first start follows the system's
    // language (UiTexts::languageFor).
    bool languageChosen = false;
    QStringList installDirs;                       // "InstallDir:", current first
    int textOption = 0;                            // "Text_Option:" 0 default, 1 list entry, 2 custom
    int textSelect = 0;                            // "Text_Select:" index in the language list
    int textCustom = 44;                           // "Text_Custom:"
    bool loadingScreens = true;                    // absent "NoLoadScr"
    bool debugLog = false;                         // "DebugLog"
    int baseType = 0;                              // "BaseType:" 0 standard mod, 1 fake patch
    bool confirmUninstall = true;                  // absent "NoUninstallConfirm"
    bool confirmDisable = true;                    // absent "NoDisableConfirm"
    bool previewChanges = false;                   // "PreviewChanges": show a dry run first
    QString lastFolder;                            // "LastFolder:" of the package dialog
    // "UpdateMirror:" lines, in the order tried: the program update's mirrors. A
    // distributor that updates Drydock itself puts them there; none means the
    // program is updated some other way (a package manager, a new build).
    QStringList updateMirrors;
    // Undo data of a game directory's history is kept for this many changes and
    // this many MiB at most ("UndoChanges:", "UndoMiB:"; written when not the default).
    int undoChanges = 10;
    int undoMiB = 512;
};

// Reads <programDir>/config.dat; a missing file leaves the defaults. Directories
// without vega.exe are dropped. Returns false when the file could not be read.
bool ReadInstallerSettings(const QString& programDir, InstallerSettings& settings);
// Rewrites config.dat atomically: the new <common> and <installer> blocks, then every
// old line outside those blocks (the authoring program's block survives).
bool WriteInstallerSettings(const QString& programDir, const InstallerSettings& settings);
// The same on text, for tests.
void ParseInstallerSettings(const QByteArray& text, InstallerSettings& settings);
QByteArray InstallerSettingsText(const InstallerSettings& settings, const QByteArray& oldText);
