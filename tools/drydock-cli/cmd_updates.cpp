#include "commands.h"

int updatesCommand(const QStringList&)
{
    return cliFail(QStringLiteral("'updates' is not available yet"));
}
