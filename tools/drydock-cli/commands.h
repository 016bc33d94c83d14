// Command groups of drydock-cli that live in files of their own. Each takes the
// arguments after its group word and returns the process exit code:
// 0 success, 1 the operation failed (one line on stderr), 2 bad usage.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

int gameCommand(const QStringList& args);    // game find | game mod GAMEDIR | game extract ...
int tableCommand(const QStringList& args);   // table read GAMEDIR TABLE
int textCommand(const QStringList& args);    // text GAMEDIR LANG PAGE ID
int updatesCommand(const QStringList& args); // updates GAMEDIR [--install]
int mirrorsCommand(const QStringList& args); // mirrors [--set URL...|--clear]
int registryCommand(const QStringList& args); // registry repair GAMEDIR
// install | list | uninstall | disable | enable | update-mod | base-mod | redo-base-mod,
// with the command word itself as the first argument.
int engineCommand(const QStringList& args);
// The history's name for an engine command's operation ("Uninstall Merganser").
QString OperationLabel(const QString& command, const QStringList& positional, const QStringList& flags);
// The same as a HistoryAction and its arguments, for the windows to word.
QStringList OperationAction(const QString& command, const QStringList& positional, const QStringList& flags);
// history GAMEDIR [--json] | undo GAMEDIR | redo GAMEDIR
int historyCommand(const QStringList& args);

// verify GAMEDIR [--json] | conflicts GAMEDIR [PKG...] [--json]
int verifyCommand(const QStringList& args);
int conflictsCommand(const QStringList& args);

// Shared output helpers (same formats as the built-in commands).
void cliWriteOut(const QByteArray& text);
void cliWriteErr(const QByteArray& text);
// One JSON document on standard output (indented, UTF-8, ending in a line break).
void cliWriteJson(const QJsonObject& document);
// While set, what cliWriteOut and the cliFail messages would print is kept there.
void cliCaptureOutput(QByteArray* out, QByteArray* err);
int cliFail(const QString& message);       // "drydock-cli: message" on stderr, returns 1
int cliUsageError(const QString& message); // message and usage on stderr, returns 2
