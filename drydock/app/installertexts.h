// Numbers of the installer texts (the "installer" section of hw_languages.xml)
// that the windows show. The numbers are stored in users' translation files:
// never renumber an entry, only add new ones.
#pragma once

namespace InstallerText {
enum : int {
    Caption = 0,
    MenuFile = 1,
    MenuSettings = 2,
    MenuUpdate = 3,
    Exit = 4,
    Configuration = 5,
    UpdateShips = 6,
    Yes = 7,
    No = 8,
    UpdateProgram = 9,
    UpdateMod = 10,
    RedoBaseMod = 11,
    GameDirLabel = 12,
    Browse = 13,
    NoBaseMod = 14,
    BaseModLabel = 15,
    HeaderShip = 16,
    HeaderAuthor = 17,
    HeaderVersion = 18,
    HeaderState = 19,
    Enabled = 20,
    Disabled = 21,
    InstallShips = 22,
    UninstallShip = 23,
    EnableShip = 24,
    DisableShip = 25,
    ChooseGameDir = 26,
    Ok = 29,
    NoGameDirCaption = 30,
    NoGameDirText = 31,
    Closing = 32,
    PackageFilter = 33,
    ChoosePackages = 34,
    Installing = 35,
    Uninstalling = 40,
    ChangingState = 43,
    Cancel = 46,
    InvalidDirCaption = 49,
    InvalidDirText = 50,
    Comment = 51,
    ScreenshotCaption = 52,
    ScreenshotFailed = 53,
    ModNotUpdatedCaption = 57,
    ModNotUpdatedText = 58,
    TryAgain = 59,
    CloseAnyway = 60,
    UpdatingMod = 61,
    ConfigCaption = 62,
    LanguageLabel = 63,
    TextGroup = 64,
    TextNone = 65,
    TextList = 66,
    TextCustom = 67,
    LoadingScreens = 68,
    BaseTypeGroup = 69,
    BaseStandard = 70,
    BaseFakePatch = 71,
    DebugLog = 72,
    Done = 73,
    LanguageBy = 74,
    ChangingGameDir = 75,
    DropHint = 76,
    CloseDialog = 84,
    EditMode = 128,
    ViewComment = 129,
    ViewScreenshot = 130,
    EditModeText = 143,
    EditModeCaption = 144,
    BrokenRegistryCaption = 145,
    BrokenRegistryText = 146,
    PackageFailedText = 147,  // %1 the file, %2 why
    PackagesFailedText = 148, // followed by one line per file
    ReasonDamaged = 149,
    ReasonNotPackage = 150,
    ReasonRefusedName = 151, // %1 the refused file and its rule
    ReasonNotWritten = 152,  // %1 what could not be written
    ReasonMissing = 153,
    ConfirmUninstallText = 154, // %1 the ships' names
    DoNotAskAgain = 155,
    NoListenCaption = 156,
    NoListenText = 157, // %1 the port, %2 why
    GameLockedCaption = 158,
    GameLockedText = 159, // %1 the engine's writeRefusal()
    NoUpdateMirrors = 160,
    NewVersionSaveText = 161, // %1 new, %2 this version; outside Windows
    NewVersionSaved = 162,    // %1 where
    FirstStartText = 163,
    ReinstalledText = 164,      // as 39; the engine uses it too
    ScreenshotUnreadable = 165, // %1 the picture
    ReasonGameLocked = 166,
    ReasonRegistryBroken = 167,
    GameHeldBy = 168, // %1 the game directory, %2 the program holding it; the engine's
    VerifyMenu = 180,
    VerifyCaption = 181,
    VerifyHealthy = 182,
    VerifyProblems = 183, // %1 the number
    HeaderProblem = 184,
    PreviewCaption = 185,
    PreviewSetting = 186,
    PreviewContinue = 187,
    ConflictsLabel = 188,
    ConflictTooltip = 189,
    PreviewFailed = 190, // %1 why
    BaseModNotCarriedCaption = 195,
    BaseModNotCarriedText = 196, // %1 the mod; the engine uses both
    ConfirmDisableText = 197,    // %1 the ships' names
    NoShipSelected = 198,
    // The kinds of problems Verify Installation finds, in the order of
    // kVerifyKinds (dcheckup.cpp); 209 on are the engine's problem texts.
    VerifyKindFirst = 200,
    // The writer lock and the journal as the engine reports them (installerengine.cpp).
    LockHolderText = 249,   // %1 program, %2 process number, %3 computer
    LockOtherProgram = 250,
    LockCannotCreate = 251, // %1 the lock file, %2 the system's reason
    LockDiskFull = 252,
    RollbackFailed = 253,   // %1 the game directory, %2 the journal's report
};
} // namespace InstallerText
