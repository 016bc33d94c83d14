// hullwright-cli: the authoring engine without a window, for scripted builds of
// ship packages. Its output is read by scripts; keep it exact. Exit codes:
// 0 success, 1 the operation failed (one line on stderr), 2 bad usage.

#include "commands.h"
#include "fileutils.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage: hullwright-cli <command> [arguments]\n"
    "\n"
    "Commands:\n"
    "  extract PKG DIR [--prefix] [--force]\n"
    "                                      unpack a ship package into the existing folder DIR\n"
    "                                      as a mod folder, with its ship, cockpit, dummy and\n"
    "                                      component tables in DIR/types (--prefix names them\n"
    "                                      e.g. TShips_FastHauler.txt; a table already there is\n"
    "                                      kept and the ship's written beside it, unless --force)\n"
    "  resave PKG OUT [--compile BODCOMP] [--fast]\n"
    "                                      open a package as the editor does and save it again;\n"
    "                                      with --compile, text models are compiled by the\n"
    "                                      program BODCOMP (given 60 s a try) and packaged in\n"
    "                                      binary form when it succeeds\n"
    "  new OUT --name N --author A --id ID --scene FILE --scene-name NAME\n"
    "      [--cockpit-scene FILE --cockpit-name NAME]\n"
    "      [--record LINE | --from-table TABLE --index I]\n"
    "      [--model FOLDER:FILE]... [--file FOLDER:FILE]... [--script FILE]...\n"
    "      [--text LANG:NAME:DESCRIPTION]... [--version V] [--web URL] [--fast]\n"
    "                                      build a ship package as the editor would; the\n"
    "                                      record is the new-ship record unless given, or\n"
    "                                      line I (from 0) of the ship table file TABLE\n"
    "  import CAT SHIP-ID OUT [--compile BODCOMP] [--author A] [--name N] [--fast]\n"
    "                                      turn ship SHIP-ID of the mod catalogue CAT into a\n"
    "                                      package as the import wizard would, everything it\n"
    "                                      proposes chosen; BODCOMP decompiles binary models\n"
    "                                      to find their textures and compiles on saving\n"
    "      --fast                          (resave, new, import) save several times faster\n"
    "                                      into a package a few per cent larger that every\n"
    "                                      reader takes\n"
    "  validate PKG [--game GAMEDIR] [--json]\n"
    "                                      check a package: record and ID, files present and\n"
    "                                      not empty, turret cockpits, texts, names, sizes;\n"
    "                                      one line per problem, exit 1 when there is any\n"
    "  record show LINE                    every named field of a ship record, in display units\n"
    "  record set LINE NAME=VALUE...       the record with those fields changed\n"
    "  record rebuild TABLE                records of a ship table that a save would change\n"
    "  balance LINE PROFILE.xbp [--mode equal|lowest|highest] [--moved SLIDER[=VALUE]]\n"
    "                                      balance a ship record against a profile as \"Balance\n"
    "                                      Ship\" does; prints the average before and after and\n"
    "                                      the record\n"
    "  profile import TABLE --class N [--variant V]... [--name NAME] OUT.xbp\n"
    "                                      make a profile from the ships of a table or catalogue\n"
    "  compare PKG|--record LINE --game GAMEDIR [--class N] [--json]\n"
    "                                      where the ship stands among the game's ships of its\n"
    "                                      class (field 52, or N): minimum, quartiles, median,\n"
    "                                      maximum and the ship's percentile per statistic\n"
    "  --help                              show this text\n";

} // namespace

void cliWriteOut(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
}

int cliFail(const QString& message)
{
    const QByteArray line = "hullwright-cli: " + message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    return 1;
}

int cliUsageError(const QString& message)
{
    const QByteArray text = "hullwright-cli: " + message.toLocal8Bit() + "\n\n" + kUsage;
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    return 2;
}

LzmaMode TakeFastOption(QStringList& args)
{
    return args.removeAll(QStringLiteral("--fast")) > 0 ? LzmaMode::Fast : LzmaMode::Standard;
}

QString cliWorkTemplate()
{
    const QString prefix = QStringLiteral("hullwright-cli");
    RemoveStaleWorkFolders(QDir::tempPath(), prefix);
    return QStringLiteral("%1/%2-%3-XXXXXX")
        .arg(QDir::tempPath(), prefix)
        .arg(QCoreApplication::applicationPid());
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return cliUsageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        cliWriteOut(kUsage);
        return 0;
    }
    if (command == QLatin1String("extract"))
        return extractCommand(args);
    if (command == QLatin1String("resave"))
        return resaveCommand(args);
    if (command == QLatin1String("new"))
        return newCommand(args);
    if (command == QLatin1String("import"))
        return importCommand(args);
    if (command == QLatin1String("record"))
        return recordCommand(args);
    if (command == QLatin1String("balance"))
        return balanceCommand(args);
    if (command == QLatin1String("profile"))
        return profileCommand(args);
    if (command == QLatin1String("compare"))
        return compareCommand(args);
    if (command == QLatin1String("validate"))
        return validateCommand(args);
    return cliUsageError(QStringLiteral("unknown command: ") + command);
}
