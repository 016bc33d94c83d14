// Command groups of hullwright-cli, each in a file of its own. Each takes the
// arguments after its command word and returns the process exit code:
// 0 success, 1 the operation failed (one line on stderr), 2 bad usage.
#pragma once

#include "lzmafile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// cmd_record.cpp: exit 1 also when rebuild finds a difference
int recordCommand(const QStringList& args); // record show | set | rebuild

// cmd_package.cpp
int extractCommand(const QStringList& args); // extract PKG DIR [--prefix] [--force]
int resaveCommand(const QStringList& args);  // resave PKG OUT [--compile BODCOMP] [--fast]
int newCommand(const QStringList& args);     // new OUT --name N ... [--fast]

// cmd_import.cpp
int importCommand(const QStringList& args); // import CAT SHIP-ID OUT [--compile BODCOMP] ... [--fast]

// cmd_balance.cpp
int balanceCommand(const QStringList& args); // balance LINE PROFILE [--mode M] [--moved S[=V]]
int profileCommand(const QStringList& args); // profile import TABLE --class N ... OUT

// cmd_validate.cpp
int validateCommand(const QStringList& args); // validate PKG [--game GAMEDIR] [--json]

// cmd_compare.cpp
int compareCommand(const QStringList& args); // compare PKG|--record LINE --game GAMEDIR ...

// main.cpp
// Takes every "--fast" out of the arguments of a command that saves a package:
// the fast LZMA settings when there was one.
LzmaMode TakeFastOption(QStringList& args);
void cliWriteOut(const QByteArray& text);
int cliFail(const QString& message);       // "hullwright-cli: message" on stderr, returns 1
int cliUsageError(const QString& message); // message and usage on stderr, returns 2
// The template for a run's work folder in the system's temporary folder (for
// QTemporaryDir); the folders of runs that were killed are removed first.
QString cliWorkTemplate();
