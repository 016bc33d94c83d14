// extract, resave and new: the package half of the authoring engine.

#include "commands.h"
#include "creatorsettings.h"
#include "editorrules.h"
#include "extraction.h"
#include "packagebuild.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// Work folders (temp, Slipway) of a run live in a fresh folder, so that a run
// never touches the window's Slipway beside the program.
struct WorkFolder
{
    QTemporaryDir dir{cliWorkTemplate()};
    PackageContext context() const
    {
        PackageContext c;
        c.programDir = dir.path();
        return c;
    }
};

QString readError(const OpenPackageResult& r, const QString& fallback)
{
    if (r.status == PackageTooNew)
        return QStringLiteral("the package needs a newer program");
    return r.error.isEmpty() ? fallback : r.error;
}

int save(const ShipPackage& package, const QString& out, const PackageContext& context,
         LzmaMode mode, const ModelConversion& conversion = {})
{
    QString error;
    if (!SaveShipPackage(package, out, context, &error, conversion, nullptr, mode))
        return cliFail(out + QStringLiteral(": ") + error);
    cliWriteOut(("saved " + out + "\n").toLocal8Bit());
    return 0;
}

// FOLDER:FILE, split at the first ":".
bool folderAndFile(const QString& value, QString& folder, QString& file)
{
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == value.size() - 1)
        return false;
    folder = value.left(colon);
    file = value.mid(colon + 1);
    return true;
}

} // namespace

int extractCommand(const QStringList& args)
{
    QStringList plain = args;
    const bool prefix = plain.removeAll(QStringLiteral("--prefix")) > 0;
    const bool force = plain.removeAll(QStringLiteral("--force")) > 0;
    if (plain.size() != 2)
        return cliUsageError(QStringLiteral("extract needs PKG and DIR"));
    WorkFolder work;
    const ExtractionResult r =
        ExtractShipPackage(plain.at(0), plain.at(1), prefix, work.context(), force);
    if (r.outcome == ExtractionResult::NoTarget)
        return cliFail(QStringLiteral("the target folder does not exist: ") + plain.at(1));
    if (r.outcome == ExtractionResult::Unreadable)
        return cliFail(plain.at(0) + QStringLiteral(": ") + r.error);
    if (!r.notWritten.isEmpty())
        return cliFail(r.notWritten.first());
    for (const QString& kept : r.keptBeside)
        cliWriteOut(("kept " + kept + " (--force replaces it)\n").toLocal8Bit());
    for (const QString& t : r.tables)
        cliWriteOut(("wrote " + t + "\n").toLocal8Bit());
    return 0;
}

int resaveCommand(const QStringList& arguments)
{
    QStringList args = arguments;
    ModelConversion conversion;
    const qsizetype at = args.indexOf(QStringLiteral("--compile"));
    if (at >= 0) {
        if (at + 1 >= args.size())
            return cliUsageError(QStringLiteral("--compile needs the compiler's path"));
        conversion.compile = true;
        conversion.compiler = args.at(at + 1);
        args.remove(at, 2);
        if (!QFileInfo(conversion.compiler).isFile())
            return cliFail(QStringLiteral("no such compiler: ") + conversion.compiler);
    }
    const LzmaMode mode = TakeFastOption(args);
    if (args.size() != 2)
        return cliUsageError(QStringLiteral("resave needs PKG and OUT"));
    WorkFolder work;
    const PackageContext context = work.context();
    ShipPackage opened;
    const OpenForEditResult r = OpenPackageForEditing(args.at(0), work.dir.path(), opened, context);
    if (!r.ok())
        return cliFail(args.at(0) + QStringLiteral(": ") + readError(r.read, r.error));
    const ShipDraft draft = DraftFromPackage(opened);
    return save(BuildPackage(draft, work.dir.path()), PackageSaveName(args.at(1)), context, mode,
                conversion);
}

int newCommand(const QStringList& args)
{
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--")))
        return cliUsageError(QStringLiteral("new needs OUT first"));
    const QString out = PackageSaveName(args.first());
    ShipDraft d;
    // The class number of a new ship is that of its class in the list beside the program.
    d.record = NewShipDraft(CreatorSettings(),
                            ReadNumberedNames(QCoreApplication::applicationDirPath() +
                                              QStringLiteral("/data/classes")))
                   .record;
    QString table, index, record;
    QString id, sceneName, cockpitName;
    LzmaMode mode = LzmaMode::Standard;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& option = args.at(i);
        // The one option without a value; a value that reads "--fast" stays a value.
        if (option == QLatin1String("--fast")) {
            mode = LzmaMode::Fast;
            continue;
        }
        if (i + 1 >= args.size())
            return cliUsageError(option + QStringLiteral(" needs a value"));
        const QString value = args.at(++i);
        QString folder, file;
        if (option == QLatin1String("--name"))
            d.name = value;
        else if (option == QLatin1String("--author"))
            d.author = value;
        else if (option == QLatin1String("--id"))
            id = value;
        else if (option == QLatin1String("--scene"))
            d.sceneFile = value;
        else if (option == QLatin1String("--scene-name"))
            sceneName = value;
        else if (option == QLatin1String("--cockpit-scene"))
            d.cockpitFile = value;
        else if (option == QLatin1String("--cockpit-name"))
            cockpitName = value;
        else if (option == QLatin1String("--record"))
            record = value;
        else if (option == QLatin1String("--from-table"))
            table = value;
        else if (option == QLatin1String("--index"))
            index = value;
        else if (option == QLatin1String("--version"))
            d.version = value;
        else if (option == QLatin1String("--web"))
            d.web = value;
        else if (option == QLatin1String("--script"))
            d.scripts << value;
        else if ((option == QLatin1String("--model") || option == QLatin1String("--file")) &&
                 folderAndFile(value, folder, file))
            AddDraftFiles(option == QLatin1String("--model") ? d.models : d.others, folder, {file});
        else if (option == QLatin1String("--text")) {
            const QStringList parts = value.split(QLatin1Char(':'));
            bool ok = false;
            const int language = parts.first().toInt(&ok);
            if (!ok || parts.size() < 3)
                return cliUsageError(QStringLiteral("--text needs LANG:NAME:DESCRIPTION"));
            d.texts.append({language, parts.at(1), parts.mid(2).join(QLatin1Char(':'))});
        } else
            return cliUsageError(QStringLiteral("unknown option or bad value: ") + option + QLatin1Char(' ') +
                                 value);
    }
    if (!record.isEmpty() && !table.isEmpty())
        return cliUsageError(QStringLiteral("--record and --from-table exclude each other"));
    if (table.isEmpty() != index.isEmpty())
        return cliUsageError(QStringLiteral("--from-table and --index go together"));
    if (!record.isEmpty())
        d.record = record;
    if (!table.isEmpty()) {
        bool ok = false;
        const int n = index.toInt(&ok);
        QFile f(table);
        if (!ok || n < 0)
            return cliUsageError(QStringLiteral("--index needs a number from 0"));
        if (!f.open(QIODevice::ReadOnly))
            return cliFail(QStringLiteral("cannot read ") + table);
        const TypeTable t = ReadTypeTable(f.readAll());
        if (n >= t.entries.size())
            return cliFail(table + QStringLiteral(" has no line ") + index);
        ApplyTableShip(d, t.entries.at(n));
    }
    // What the options name wins over what the table line brought.
    if (!id.isEmpty())
        d.id = id;
    if (!sceneName.isEmpty())
        d.sceneName = sceneName;
    if (!cockpitName.isEmpty())
        d.cockpitName = cockpitName;
    static const char* const kFieldNames[] = {"", "--name", "--author", "--id", "the record",
                                              "--scene and --scene-name"};
    if (const MissingField missing = FirstMissingField(d); missing != MissingField::None)
        return cliUsageError(QString::fromLatin1(kFieldNames[int(missing)]) +
                             QStringLiteral(" must be given"));
    // The editor leaves a vanished file out quietly; a script asked for it by name.
    const QStringList named = QStringList{d.sceneFile, d.cockpitFile} + DraftTreeFiles(d.models) +
                              DraftTreeFiles(d.others) + d.scripts;
    for (const QString& f : named)
        if (!f.isEmpty() && !QFileInfo(f).isFile())
            return cliFail(QStringLiteral("no such file: ") + f);
    WorkFolder work;
    return save(BuildPackage(d, work.dir.path()), out, work.context(), mode);
}
