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
    MenuEdit = 260,
    UndoMenu = 261, // %1 the change ("Install Merganser")
    RedoMenu = 262, // %1 the change
    UndoNothing = 263,
    RedoNothing = 264,
    HistoryMenu = 265,
    HistoryCaption = 266,
    HeaderTime = 267,
    HeaderProgram = 268,
    HeaderOperation = 269,
    HeaderFiles = 270,
    HeaderUndo = 271,
    CanUndo = 272,
    CanRedo = 273,
    UndoFailedCaption = 274,
    UndoFailedText = 275, // %1 why
    VerifyLine = 276,     // %1 the problem's kind, %2 the problem
    // A history entry's operation, worded from its action (HistoryAction).
    OpInstall = 277,          // %1 the ships
    OpInstallNone = 278,
    OpUninstall = 279,        // %1 the ship
    OpEnable = 280,           // %1 the ship
    OpDisable = 281,          // %1 the ship
    OpUpdateMod = 282,
    OpBaseMod = 283,          // %1 the mod
    OpBaseModFake = 284,      // %1 the mod
    OpNoBaseMod = 285,
    OpBaseModAgain = 286,
    OpBaseModAgainFake = 287,
    OpLoadingScreensOn = 288,
    OpLoadingScreensOff = 289,
    OpScripts = 290,
    OpSaveRegistry = 291,
    OpEdit = 292,             // %1 the ship
    OpUndo = 293,             // %1 the change undone
    OpRedo = 294,             // %1 the change redone
    FileAdded = 295,
    FileReplaced = 296,
    FileChanged = 297,
    FileRemoved = 298,
    FileLine = 299,           // %1 what happened to it, %2 the file
    // Why undo or redo refused (ChangeHistory::Refusal), after UndoFailedText.
    UndoNothingLeft = 300,
    RedoNothingLeft = 301,
    UndoNoData = 302,         // %1 the change
    RedoNoData = 303,         // %1 the change
    UndoFileChanged = 304,    // %1 the file, %2 the change
    RedoFileChanged = 305,    // %1 the file, %2 the change
    UndoModChanged = 306,     // %1 the change
    RedoModChanged = 307,     // %1 the change
    UndoUnreachable = 308,    // %1 the change
    UndoStepFailed = 309,     // %1 the journal's or system's report
    RedoStepFailed = 310,     // %1 the report
    // 311-331: the broken registry's reasons, worded by the engine.
    // The change preview: change words in the order of kPreviewChanges, then formats.
    PreviewChangeFirst = 332,
    PreviewEntry = 342,        // %1 change, %2 entry, %3 size
    PreviewFile = 343,         // %1 change, %2 file, %3 size
    PreviewBytes = 344,        // %1 the number
    PreviewSlot = 345,         // %1 ship index
    PreviewPosition = 346,     // %1 position in the registry
    PreviewLine = 347,         // %1 where, %2 change, %3 what
    PreviewChanged = 348,      // %1 where, %2 before, %3 after
    PreviewBuffer = 349,       // %1 before, %2 after
    PreviewRowRun = 350,       // %1 table, %2 first row, %3 last row
    PreviewFillers = 351,      // %1 the number
    PreviewRow = 352,          // %1 table, %2 row
    PreviewText = 353,         // %1 language, %2 page, %3 id
    PreviewRegistryWritten = 354,
    PreviewSelectedMod = 355,  // %1 before, %2 after
    PreviewNone = 356,
    PreviewNoChanges = 357,
    PreviewShip = 358,         // %1 name, %2 author, %3 version
    PreviewShipDisabled = 359, // %1 the ship
    PreviewFree = 360,
    PreviewAwaitingPurge = 361,
    PreviewOutcome = 362,      // %1 the package file, %2 what happened
    PreviewNoScratch = 363,    // %1 the work folder
};

// The engine's change words, in the order of their texts from PreviewChangeFirst.
inline constexpr const char* kPreviewChanges[] = {"added", "replaced", "removed", "changed", "taken",
                                                  "released", "freed", "enabled", "disabled",
                                                  "placeholder"};
} // namespace InstallerText
