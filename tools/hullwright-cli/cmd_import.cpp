// import: a ship of a mod's catalogue turned into a package, with everything
// the import wizard would propose chosen.

#include "commands.h"
#include "editorrules.h"
#include "creatorsettings.h"
#include "modimport.h"
#include "packagebuild.h"
#include "packagecheck.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void warn(const QString& line)
{
    const QByteArray text = "hullwright-cli: note: " + line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
}

// Takes "--name VALUE" out of args; false when the value is missing.
bool takeOption(QStringList& args, const char* name, QString* value)
{
    const qsizetype at = args.indexOf(QLatin1String(name));
    if (at < 0)
        return true;
    if (at + 1 >= args.size())
        return false;
    *value = args.at(at + 1);
    args.remove(at, 2);
    return true;
}

} // namespace

int importCommand(const QStringList& arguments)
{
    QStringList args = arguments;
    QString compiler, author, name;
    if (!takeOption(args, "--compile", &compiler) || !takeOption(args, "--author", &author) ||
        !takeOption(args, "--name", &name))
        return cliUsageError(QStringLiteral("--compile, --author and --name need a value"));
    const LzmaMode mode = TakeFastOption(args);
    if (args.size() != 3)
        return cliUsageError(QStringLiteral("import needs CAT, SHIP-ID and OUT"));
    if (!compiler.isEmpty() && !QFileInfo(compiler).isFile())
        return cliFail(QStringLiteral("no such compiler: ") + compiler);
    const QString catalog = args.at(0);
    const QString out = PackageSaveName(args.at(2));

    // The author and text language of the settings beside the program, as the window has them.
    CreatorSettings settings;
    ReadCreatorSettings(QCoreApplication::applicationDirPath(), settings);
    ShipDraft draft = NewShipDraft(
        settings, ReadNumberedNames(QCoreApplication::applicationDirPath() +
                                    QStringLiteral("/data/classes")));
    draft.author = !author.isEmpty() ? author
                   : !settings.defaultAuthor.isEmpty() ? settings.defaultAuthor
                                                        : QFileInfo(catalog).completeBaseName();
    draft.name = name;

    QTemporaryDir work(cliWorkTemplate()); // temp and Slipway of this run
    if (!work.isValid())
        return cliFail(QStringLiteral("cannot create a work folder"));
    ModImport session(catalog, work.path(), settings.baseLanguage,
                      [](const QString& line) { warn(line); });
    QString error;
    if (!session.open(&error))
        return cliFail(catalog + QStringLiteral(": ") + error);
    const int ship = session.findShip(args.at(1));
    if (ship < 0)
        return cliFail(catalog + QStringLiteral(" holds no ship ") + args.at(1));
    ModelConversion conversion;
    conversion.compile = !compiler.isEmpty();
    conversion.compiler = compiler;
    const ImportChoice choice = session.proposal(ship, conversion);

    const PickerEntry& entry = session.ships().at(ship);
    QByteArray report = "ship " + entry.identifier.toLocal8Bit() + " (" + entry.name.toLocal8Bit() +
                        ", table line " + QByteArray::number(entry.index) + ")\n";
    for (const QString& m : choice.models)
        report += "model " + m.toLocal8Bit() + '\n';
    for (const QString& t : choice.textures)
        report += "texture " + t.toLocal8Bit() + '\n';
    const ImportFinish finished = session.finish(choice, draft);
    for (const QString& c : draft.cockpits)
        report += "cockpit " + c.section(QLatin1Char(';'), -2, -2).toLocal8Bit() + '\n';
    report += "dummies " + QByteArray::number(draft.dummies.size()) + ", components " +
              QByteArray::number(draft.components.size()) + ", texts " +
              QByteArray::number(draft.texts.size()) + '\n';
    cliWriteOut(report);
    for (const QString& s : finished.skipped)
        warn(QStringLiteral("skipped ") + s);
    if (draft.sceneFile.isEmpty())
        return cliFail(QStringLiteral("the ship's scene ") + draft.sceneName +
                       QStringLiteral(" is not in the catalogue"));

    // The editor's checks before a save: what no reader would take is not saved.
    for (const PackageCheckProblem& p : CheckDraft(draft, work.path()))
        if (MakesPackageUnreadable(p))
            return cliFail(out + QStringLiteral(": not saved: ") + p.message);
    PackageContext context;
    context.programDir = work.path();
    if (!SaveShipPackage(BuildPackage(draft, work.path()), out, context, &error, conversion,
                         nullptr, mode))
        return cliFail(out + QStringLiteral(": ") + error);
    cliWriteOut(("saved " + out + "\n").toLocal8Bit());
    return 0;
}
