// Command groups of hullwright-cli. Each takes the arguments after its group word
// and returns the exit code: 0 success, 1 the operation failed or found a
// difference, 2 bad usage.
#pragma once

#include <QStringList>

int recordCommand(const QStringList& args); // record show | set | rebuild
