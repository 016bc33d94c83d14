#include "commands.h"

int tableCommand(const QStringList&)
{
    return cliFail(QStringLiteral("'table' is not available yet"));
}
