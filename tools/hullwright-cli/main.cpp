// hullwright-cli: the authoring engine without a window.

#include "commands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("record"))
        return recordCommand(args.mid(1));
    std::fputs("Usage: hullwright-cli record show|set|rebuild ... (see README)\n", stderr);
    return 2;
}
