// The outside model compiler, which turns text models (.bod) into binary ones
// (.bob) and back, and the preparation of each model for a package: compiled
// when that is asked for, then stored in the game's packed form (.pbd, .pbb).
#pragma once

#include "shippackage.h"

#include <memory>

#include <QString>
#include <QStringList>

struct ModelConversion
{
    bool compile = false; // the editor's conversion option; off: the compiler never runs
    QString compiler;     // the compiler's executable; empty or missing: no compile
    int timeoutMs = 60000; // a compiler still running then is killed, with what it started
    // Set once a run timed out; copies share it, and while it is set the compiler is
    // not started again (a save gives each conversion a fresh one: one time-out per save).
    std::shared_ptr<bool> hung = std::make_shared<bool>(false);
    // The packed form's mask byte; -1 takes it from the clock. A fixed one makes
    // two saves of the same ship comparable byte for byte.
    int packKey = -1;
    // The packed form's zlib level (1 to 9). Every inflater reads every level;
    // a fast save takes kFastPackLevel.
    int packLevel = 9;
};

// Half the time of level 9 on the bench model and on text models, a few per
// cent larger.
inline constexpr int kFastPackLevel = 5;

// The most of the compiler's output that is read, and of one line kept; a
// compiler printing more is stopped and the run failed.
inline constexpr qint64 kMaxCompilerOutput = 4 << 20;
inline constexpr qsizetype kMaxCompilerLine = 64 * 1024;

enum class CompilerRun { Succeeded, Failed, TimedOut };

// The compiler's arguments: attempt 0 and 1 compile, decompile is its own.
QStringList CompileArguments(int attempt, const QString& input, const QString& output);
QStringList DecompileArguments(const QString& input, const QString& output);

// Runs the compiler in its own folder and waits for it, at most timeoutMs. True
// when a line of its standard output ends in the two words "<verb> successfully"
// and the output file exists; whatever else happens (a crash, a hang that is
// killed, no output file) is a failure.
bool RunModelCompiler(const QString& compiler, const QStringList& arguments, const char* verb,
                      const QString& output, int timeoutMs);
CompilerRun RunModelCompilerOnce(const QString& compiler, const QStringList& arguments,
                                 const char* verb, const QString& output, int timeoutMs);

// A text model that is a scene description (its first line that is neither blank
// nor a "/" comment starts with "VER:") is never compiled.
bool IsSceneText(const QString& path);

// Compiles bod into bob (first try, then the second), or decompiles bob into bod.
bool CompileModel(const ModelConversion& conversion, const QString& bod, const QString& bob);
bool DecompileModel(const ModelConversion& conversion, const QString& bob, const QString& bod);

// Prepares one model or other file for the package writer. A .bod entry is
// compiled when allowed; a .bod or .bob entry is then packed into workDir under a
// name of its own and the entry points there (RemoveAfterSave), named with the
// packed extension. Other files are left as they are. The user's own files are
// never written: the compiler's output goes to workDir too. False with *error
// when packing failed (the entry is then left as it was).
bool PrepareModelFile(PackageFile& entry, const QString& workDir, bool compileAllowed,
                      const ModelConversion& conversion, QString* error = nullptr);
