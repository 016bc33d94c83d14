// drydock-cli: the archive tools, the installer engine and the sample game generator
// without a window.
//
// The output of every command is read by scripts; keep it exact. Exit codes:
// 0 success, 1 the operation failed (one line on stderr), 2 bad usage, 3 the
// package needs a newer reader (xsp info; one line on stderr).

#include "arc.h"
#include "archivefile.h"
#include "commands.h"
#include "gamechange.h"
#include "lzmafile.h"
#include "samplegame.h"
#include "xspfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

enum ExitCode { Ok = 0, Failed = 1, BadUsage = 2, TooNew = 3 };

const char kUsage[] =
    "Usage: drydock-cli <command> [arguments]\n"
    "\n"
    "Commands:\n"
    "  cat list CAT                        list entries: stored size, TAB, entry name\n"
    "  cat extract CAT ENTRY DEST [--raw]  extract an entry (--raw keeps packed bytes packed)\n"
    "  cat add CAT SOURCE ENTRY [--pack]   add a file (--pack stores .txt/.xml/.bod/.bob packed)\n"
    "  cat remove CAT ENTRY                remove an entry\n"
    "  pack SRC DST                        pack a loose file\n"
    "  unpack SRC DST                      unpack a loose packed file\n"
    "  xsp info PKG [--json]               print a ship package: header lines, then Text:\n"
    "                                      lines, then one line per embedded file (kind, TAB,\n"
    "                                      time, TAB, size, TAB, name), then Dummy:, Component:\n"
    "                                      and Cockpit: lines; exit 3 when the package needs a\n"
    "                                      newer reader\n"
    "  xsp build DOC OUT                   compress a plain package document into a package\n"
    "  xsp unpack PKG DIR                  place every file of a package below DIR (scripts in\n"
    "                                      DIR/Scripts, the picture in DIR/ShipPics); every\n"
    "                                      file left out is named on stderr, and exit is 1\n"
    "  make-sample-game DIR                write a small sample game into DIR, two sample\n"
    "                                      ship packages into DIR/sample-ships and a sample\n"
    "                                      mod catalogue into DIR/sample-mod\n"
    "  game find                           list every game found (registry, Steam libraries,\n"
    "                                      Wine prefixes): directory, registry, selected mod\n"
    "  game mod GAMEDIR                    print the mod the game's registry selects\n"
    "  game extract GAMEDIR ENTRY DEST     extract the newest copy of a game file\n"
    "  table read GAMEDIR TABLE            list a type table: count, then index TAB identifier\n"
    "  text GAMEDIR LANG PAGE ID           print one game text as the loader resolves it\n"
    "\n"
    "Installer commands (read config.dat and hw_languages.xml beside drydock-cli and\n"
    "write log/installer_debug.txt there when its debug log is on; config.dat itself is\n"
    "never written, the window owns it). Installs and changes reach the game's tables\n"
    "at the next update-mod:\n"
    "  install GAMEDIR PKG... [--on-same-id=update|beside|cancel]\n"
    "                                      install ship packages, one line per package:\n"
    "                                      'installed NAME by AUTHOR VERSION', 'skipped\n"
    "                                      (older version) NAME by AUTHOR VERSION' or\n"
    "                                      'failed: reason'; exit 0 only when all installed.\n"
    "                                      A package with the ID of an installed ship of\n"
    "                                      another name updates it, goes beside it or is\n"
    "                                      not installed (default cancel)\n"
    "  list GAMEDIR                        installed ships in registry order: slot, state\n"
    "                                      (installed, waiting, free), enabled (yes, no, -),\n"
    "                                      name, author, version, TAB-separated; slot is -\n"
    "                                      until the first update-mod\n"
    "  uninstall GAMEDIR NAME AUTHOR       uninstall a ship; its slot waits for the game's purge\n"
    "  disable GAMEDIR NAME AUTHOR         move a ship's files out of the mod, keeping its slot\n"
    "  enable GAMEDIR NAME AUTHOR          move a disabled ship's files back into the mod\n"
    "  update-mod GAMEDIR                  regenerate the tables and text pages into\n"
    "                                      mods/Hullwright.cat and make the game load it;\n"
    "                                      prints one line of what it wrote\n"
    "  base-mod GAMEDIR (NAME|--none) [--fake-patch]\n"
    "                                      carry mods/NAME.cat into the mod (or, with\n"
    "                                      --fake-patch, into a numbered pair); --none drops it\n"
    "  redo-base-mod GAMEDIR [--fake-patch]\n"
    "                                      copy the current base mod in again\n"
    "  mirrors [--set URL...|--clear]      show or set the program update's mirrors\n"
    "                                      (UpdateMirror: in config.dat); none keeps the\n"
    "                                      program update off\n"
    "  updates GAMEDIR [--install]         look for newer versions of the installed ships on\n"
    "                                      their web addresses, one line per ship: name,\n"
    "                                      installed version, newest version (- when the\n"
    "                                      check failed) and newer, same, older or 'failed:\n"
    "                                      reason', TAB-separated. --install downloads the\n"
    "                                      newer ones into Downloads beside drydock-cli and\n"
    "                                      installs them, one line each as for install.\n"
    "                                      Exit 0 only when every check and install succeeded\n"
    "  registry repair GAMEDIR             rewrite a registry that does not read whole (the\n"
    "                                      changing commands refuse it): keeps the broken\n"
    "                                      file as ships.dat.broken-<time> and every record\n"
    "                                      that parses, keeps lost slots as waiting\n"
    "                                      placeholders and prints what it did and the mod\n"
    "                                      entries no record lists (orphan TAB entry)\n"
    "  verify GAMEDIR [--json]             check the installation without changing it: mod\n"
    "                                      pair, entries, ships' files, owners, generated\n"
    "                                      tables, pending journal; one line per problem,\n"
    "                                      exit 1 when there is any\n"
    "  conflicts GAMEDIR [PKG...] [--json] files that installed ships and the packages bring\n"
    "                                      under one name with other bytes, base-mod entries\n"
    "                                      they override, and which copy the game sees\n"
    "  history GAMEDIR [--json]            every change of the game directory, newest first:\n"
    "                                      id, time, program, operation, ships, files changed\n"
    "                                      and undo (undo can revert it), redo (redo can) or -,\n"
    "                                      TAB-separated\n"
    "  undo GAMEDIR                        revert the last change byte for byte, as a change of\n"
    "                                      its own; refused, naming the file, when a file it\n"
    "                                      would restore changed since. Prints the new entry\n"
    "  redo GAMEDIR                        revert the last undo\n"
    "  --dry-run (install, uninstall, disable, enable, update-mod, base-mod, redo-base-mod)\n"
    "                                      run on a scratch copy and print what would change\n"
    "  --json (list, verify, conflicts, updates, xsp info, any --dry-run)\n"
    "                                      one JSON document instead of the lines\n"
    "  --help                              show this text\n";

QByteArray* g_capturedOut = nullptr;
QByteArray* g_capturedErr = nullptr;

void writeOut(const QByteArray& text)
{
    if (g_capturedOut)
        g_capturedOut->append(text);
    else
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
}

void writeErr(const QByteArray& text)
{
    if (g_capturedErr)
        g_capturedErr->append(text);
    else
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
}

int fail(const QString& message, int code = Failed)
{
    writeErr("drydock-cli: " + message.toLocal8Bit() + '\n');
    return code;
}

int usageError(const QString& message)
{
    const QByteArray text = "drydock-cli: " + message.toLocal8Bit() + "\n\n" + kUsage;
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    return BadUsage;
}

QString libraryMessage()
{
    return ArchiveErrorMessage(LastArchiveError());
}

// Reason of an archive failure: the library's message when it has one, else ours.
QString reason(const QString& fallback)
{
    return LastArchiveError() != ARC_OK ? libraryMessage() : fallback;
}

QString entryPath(const QString& catalog, const QString& entry)
{
    return catalog + QStringLiteral("::") + entry;
}

int catList(const QString& catalog)
{
    // ListCatalog cannot tell a missing catalogue from an empty one; holding the
    // catalogue open also makes the listing share this object.
    ArcCatalogHandle* handle = arc_open_catalog(QFile::encodeName(catalog).constData(), 0);
    if (!handle)
        return fail(catalog + QStringLiteral(": ") + libraryMessage());
    const QList<CatalogEntryInfo> entries = ListCatalog(catalog);
    arc_close_catalog(handle);
    for (const CatalogEntryInfo& e : entries)
        writeOut(QByteArray::number(e.size) + '\t' + e.name.toLocal8Bit() + '\n');
    return Ok;
}

int catExtract(const QString& catalog, const QString& entry, const QString& destination, bool raw)
{
    // Streamed: an entry of any size goes to disk in bounded memory.
    QString why;
    if (!ExtractArchiveFile(entryPath(catalog, entry), destination, false, raw, &why))
        return fail(LastArchiveError() != ARC_OK
                        ? entryPath(catalog, entry) + QStringLiteral(": ") + libraryMessage()
                        : why);
    return Ok;
}

// A catalogue change is all-or-nothing as well: its journal lies beside it, and
// one left by a failed or killed run is rolled back first.
class CatalogChange
{
public:
    explicit CatalogChange(const QString& catalog)
    {
        const QFileInfo info(catalog);
        m_dir = info.absolutePath();
        m_journal = info.absoluteFilePath() + QStringLiteral(".journal");
        QString report;
        if (GameChange::recover(m_journal, m_dir, &report) < 0) {
            m_error = report;
            return;
        }
        if (!report.isEmpty())
            std::fprintf(stderr, "drydock-cli: %s\n", report.toLocal8Bit().constData());
        m_change = std::make_unique<GameChange>(m_journal, m_dir);
        if (!m_change->ok())
            m_error = m_change->error();
    }
    QString error() const { return m_error; }
    bool commit()
    {
        if (m_change->commit())
            return true;
        m_error = m_change->error();
        return false;
    }

private:
    QString m_dir, m_journal, m_error;
    std::unique_ptr<GameChange> m_change;
};

int catAdd(const QString& catalog, const QString& source, const QString& entry, bool pack)
{
    QFile file(source);
    // Checked first: the library would otherwise store an empty entry.
    if (!QFileInfo(source).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(source + QStringLiteral(": cannot read the file"));
    file.close();
    CatalogChange change(catalog);
    if (!change.error().isEmpty())
        return fail(change.error());
    if (!QFileInfo::exists(catalog) && !EnsureCatalog(catalog))
        return fail(catalog + QStringLiteral(": ") + libraryMessage());
    if (!AddArchiveFile(file, entryPath(catalog, entry), pack))
        return fail(entryPath(catalog, entry) + QStringLiteral(": ") +
                    reason(QStringLiteral("cannot add the file")));
    if (!change.commit())
        return fail(change.error());
    return Ok;
}

int catRemove(const QString& catalog, const QString& entry)
{
    CatalogChange change(catalog);
    if (!change.error().isEmpty())
        return fail(change.error());
    // A missing entry is an error here: the user named it.
    arc_remove(QFile::encodeName(entryPath(catalog, entry)).constData());
    if (LastArchiveError() != ARC_OK)
        return fail(entryPath(catalog, entry) + QStringLiteral(": ") + libraryMessage());
    if (!change.commit())
        return fail(change.error());
    return Ok;
}

int pack(const QString& source, const QString& destination)
{
    if (!QFileInfo::exists(source))
        return fail(source + QStringLiteral(": ") + ArchiveErrorMessage(ARC_E_NOFILE));
    // Packed whole in memory, so no larger than the library reads back in memory.
    QByteArray plain;
    QString why;
    if (!ReadFileWhole(source, &plain, &why))
        return fail(why);
    // The gzip header carries the source's time, as the game's own packer does.
    const qint64 mtime = QFileInfo(source).lastModified().toSecsSinceEpoch();
    std::vector<unsigned char> packed;
    const int status =
        arc_pack(reinterpret_cast<const unsigned char*>(plain.constData()),
                 static_cast<size_t>(plain.size()), static_cast<uint32_t>(mtime), packed);
    if (status != ARC_GZ_OK)
        return fail(source + QStringLiteral(": ") + ArchiveErrorMessage(arc_codec_error(status)));
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(packed.data()),
                  static_cast<qint64>(packed.size())) != static_cast<qint64>(packed.size()) ||
        !out.commit())
        return fail(destination + QStringLiteral(": ") + out.errorString());
    return Ok;
}

int unpack(const QString& source, const QString& destination)
{
    if (!QFileInfo(source).isFile())
        return fail(source + QStringLiteral(": ") + ArchiveErrorMessage(ARC_E_NOFILE));
    const bool existed = QFileInfo::exists(destination);
    QString why;
    if (UnpackDiskFile(source, destination, &why)) // streamed, in bounded memory
        return Ok;
    // The library leaves an empty destination behind; do not keep one we made.
    if (!existed)
        QFile::remove(destination);
    return fail(why);
}

int makeSampleGame(const QString& dir)
{
    QString error;
    if (!SampleGame::MakeSampleGame(dir, &error) ||
        !SampleGame::MakeSamplePackages(
            QDir(dir).filePath(QLatin1String(SampleGame::PackageFolder)), &error) ||
        !SampleGame::MakeSampleMod(QDir(dir).filePath(QLatin1String(SampleGame::ModFolder)), &error))
        return fail(error);
    return Ok;
}

QByteArray fileLine(const char* kind, const PackageFile& f)
{
    return QByteArray(kind) + '\t' + QByteArray::number(f.Time) + '\t' +
           QByteArray::number(f.Size) + '\t' + f.Name.toLocal8Bit() + '\n';
}

int xspBuild(const QString& document, const QString& target)
{
    QFile doc(document);
    if (!doc.open(QIODevice::ReadOnly))
        return fail(document + QStringLiteral(": ") + doc.errorString());
    // Only a package document is worth compressing; anything else would make a
    // package that every reader refuses.
    if (!doc.readLine(4096).startsWith("Packager: "))
        return fail(document + QStringLiteral(": not a package document (no Packager: line)"));
    doc.close();
    if (!CompressFile(document, target))
        return fail(target + QStringLiteral(": cannot write the package"));
    return Ok;
}

int xspUnpack(const QString& path, const QString& dir)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(path + QStringLiteral(": ") + ArchiveErrorMessage(ARC_E_NOFILE));
    if (!QDir().mkpath(dir))
        return fail(dir + QStringLiteral(": cannot create the folder"));
    QTemporaryDir work; // the decompressed document lives here while it is read
    if (!work.isValid())
        return fail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    PackageContext context;
    context.programDir = work.path();
    OpenPackageOptions options;
    options.baseDir = dir;
    options.scriptDir = QStringLiteral("Scripts");
    options.inSlipway = false;
    ShipPackage p;
    const OpenPackageResult result = OpenPackage(file, p, options, context);
    if (result.status == PackageTooNew)
        return fail(path + QStringLiteral(": the package needs a newer reader"), TooNew);
    // Every file left out gets its line: a partial unpack must not pass for a whole one.
    for (const QString& problem : result.problems)
        fail(path + QStringLiteral(": ") + problem);
    if (result.status != PackageOk && result.problems.isEmpty())
        return fail(path + QStringLiteral(": not a valid ship package"));
    return result.status == PackageOk && result.problems.isEmpty() ? Ok : Failed;
}

QJsonObject fileJson(const char* kind, const PackageFile& f)
{
    return QJsonObject{{QStringLiteral("kind"), QLatin1String(kind)},
                       {QStringLiteral("time"), qint64(f.Time)},
                       {QStringLiteral("size"), f.Size},
                       {QStringLiteral("name"), f.Name}};
}

QJsonObject packageJson(const ShipPackage& p)
{
    QJsonArray texts, files, dummies, components, yards;
    for (const PackageText& t : p.Texts)
        texts.append(QJsonObject{{QStringLiteral("language"), t.Language},
                                 {QStringLiteral("name"), t.Name},
                                 {QStringLiteral("description"), t.Description}});
    if (p.SceneFile)
        files.append(fileJson("SceneFile", *p.SceneFile));
    if (p.CockpitFile)
        files.append(fileJson("CockpitFile", *p.CockpitFile));
    for (const PackageFile& f : p.Models)
        files.append(fileJson("Model", f));
    for (const PackageFile& f : p.Files)
        files.append(fileJson("Files", f));
    for (const PackageFile& f : p.Scripts)
        files.append(fileJson("Script", f));
    for (const PackageDummy& d : p.Dummies)
        dummies.append(QJsonObject{{QStringLiteral("section"), d.Section},
                                   {QStringLiteral("data"), d.Data}});
    for (const PackageComponent& c : p.Components)
        components.append(QJsonArray{c.Part1, c.Part2, c.Part3});
    for (bool flag : p.Shipyards)
        yards.append(flag);
    return QJsonObject{{QStringLiteral("name"), p.Name},
                       {QStringLiteral("author"), p.Author},
                       {QStringLiteral("id"), p.ID},
                       {QStringLiteral("version"), p.Version},
                       {QStringLiteral("data"), p.Data},
                       {QStringLiteral("web"), p.Web},
                       {QStringLiteral("mirror1"), p.Mirror1},
                       {QStringLiteral("mirror2"), p.Mirror2},
                       {QStringLiteral("shipyards"), yards},
                       {QStringLiteral("originalDesc"), p.OriginalDesc},
                       {QStringLiteral("comment"), p.Comment},
                       {QStringLiteral("screenshot"), p.ScreenShot},
                       {QStringLiteral("texts"), texts},
                       {QStringLiteral("files"), files},
                       {QStringLiteral("dummies"), dummies},
                       {QStringLiteral("components"), components},
                       {QStringLiteral("cockpits"), QJsonArray::fromStringList(p.Cockpits)}};
}

int xspInfo(const QString& path, bool json)
{
    const QFileInfo info(path);
    if (!info.exists())
        return fail(path + QStringLiteral(": ") + ArchiveErrorMessage(ARC_E_NOFILE));
    if (!info.isFile())
        return fail(path + QStringLiteral(": not a file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(path + QStringLiteral(": ") + file.errorString());
    // The reader places every embedded file; all of it lands in this folder,
    // which is removed on return.
    QTemporaryDir work;
    if (!work.isValid())
        return fail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    PackageContext context;
    context.programDir = work.path();
    OpenPackageOptions options;
    options.baseDir = work.path();
    ShipPackage p;
    const OpenPackageResult result = OpenPackage(file, p, options, context);
    if (result.status == PackageTooNew)
        return fail(path + QStringLiteral(": the package needs a newer reader"), TooNew);
    if (result.status != PackageOk)
        return fail(path + QStringLiteral(": not a valid ship package") +
                    (result.error.isEmpty() ? QString() : QStringLiteral(": ") + result.error));

    if (json) {
        cliWriteJson(packageJson(p));
        return Ok;
    }
    QByteArray out;
    const auto line = [&out](const char* key, const QString& value) {
        out += QByteArray(key) + ": " + value.toLocal8Bit() + '\n';
    };
    line("Name", p.Name);
    line("Author", p.Author);
    line("ID", p.ID);
    line("Version", p.Version);
    line("Data", p.Data);
    line("Web", p.Web);
    line("Mirror1", p.Mirror1);
    line("Mirror2", p.Mirror2);
    QStringList yards;
    for (bool flag : p.Shipyards)
        yards << QString::number(flag ? 1 : 0);
    line("Shipyard", yards.join(QLatin1Char(';')));
    line("OriginalDesc", QString::number(p.OriginalDesc));
    line("Comment", encodeNewlines(p.Comment));
    for (const PackageText& t : p.Texts)
        line("Text", QString::number(t.Language) + QLatin1Char(':') + t.Name + QLatin1Char(':') +
                         t.Description);
    if (p.SceneFile)
        out += fileLine("SceneFile", *p.SceneFile);
    if (p.CockpitFile)
        out += fileLine("CockpitFile", *p.CockpitFile);
    for (const PackageFile& f : p.Models)
        out += fileLine("Model", f);
    for (const PackageFile& f : p.Files)
        out += fileLine("Files", f);
    for (const PackageFile& f : p.Scripts)
        out += fileLine("Script", f);
    for (const PackageDummy& d : p.Dummies)
        line("Dummy", d.Section + QLatin1Char(';') + d.Data);
    for (const PackageComponent& c : p.Components)
        line("Component", c.Part1 + QLatin1Char(';') + c.Part2 + QLatin1Char(';') + c.Part3);
    for (const QString& c : p.Cockpits)
        line("Cockpit", c);
    writeOut(out);
    return Ok;
}

// Positional arguments and the options a command allows.
struct Arguments
{
    QStringList positional;
    QStringList options;
};

bool splitArguments(const QStringList& args, const QStringList& allowed, Arguments* out,
                    QString* bad)
{
    bool optionsEnded = false;
    for (const QString& a : args) {
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (!allowed.contains(a)) {
                *bad = QStringLiteral("unknown option '%1'").arg(a);
                return false;
            }
            out->options.append(a);
        } else {
            out->positional.append(a);
        }
    }
    return true;
}

int run(const QStringList& args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString& command = args.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        writeOut(kUsage);
        return Ok;
    }

    if (command == QLatin1String("game"))
        return gameCommand(args.mid(1));
    if (command == QLatin1String("table"))
        return tableCommand(args.mid(1));
    if (command == QLatin1String("text"))
        return textCommand(args.mid(1));
    if (command == QLatin1String("updates"))
        return updatesCommand(args.mid(1));
    if (command == QLatin1String("mirrors"))
        return mirrorsCommand(args.mid(1));
    if (command == QLatin1String("registry"))
        return registryCommand(args.mid(1));
    if (command == QLatin1String("verify"))
        return verifyCommand(args.mid(1));
    if (command == QLatin1String("conflicts"))
        return conflictsCommand(args.mid(1));
    if (command == QLatin1String("history") || command == QLatin1String("undo") ||
        command == QLatin1String("redo"))
        return historyCommand(args);
    if (command == QLatin1String("install") || command == QLatin1String("list") ||
        command == QLatin1String("uninstall") || command == QLatin1String("disable") ||
        command == QLatin1String("enable") || command == QLatin1String("update-mod") ||
        command == QLatin1String("base-mod") || command == QLatin1String("redo-base-mod"))
        return engineCommand(args);

    QStringList rest = args.mid(1);
    QString name = command;
    if (command == QLatin1String("cat") || command == QLatin1String("xsp")) {
        if (rest.isEmpty())
            return usageError(QStringLiteral("'%1' needs a subcommand").arg(command));
        name += QLatin1Char(' ') + rest.takeFirst();
    }

    struct Command
    {
        const char* name;
        qsizetype arguments;
        const char* option;
    };
    static const Command commands[] = {
        {"cat list", 1, nullptr},         {"cat extract", 3, "--raw"}, {"cat add", 3, "--pack"},
        {"cat remove", 2, nullptr},       {"pack", 2, nullptr},        {"unpack", 2, nullptr},
        {"xsp info", 1, "--json"},         {"xsp build", 2, nullptr},   {"xsp unpack", 2, nullptr},
        {"make-sample-game", 1, nullptr},
    };
    const Command* found = nullptr;
    for (const Command& c : commands) {
        if (name == QLatin1String(c.name))
            found = &c;
    }
    if (!found)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));

    Arguments a;
    QString bad;
    const QStringList allowed =
        found->option ? QStringList{QLatin1String(found->option)} : QStringList{};
    if (!splitArguments(rest, allowed, &a, &bad))
        return usageError(bad);
    if (a.positional.size() != found->arguments)
        return usageError(
            QStringLiteral("'%1' takes %2 argument(s)").arg(name).arg(found->arguments));
    const QStringList& p = a.positional;
    const bool flag = !a.options.isEmpty();

    if (name == QLatin1String("cat list"))
        return catList(p[0]);
    if (name == QLatin1String("cat extract"))
        return catExtract(p[0], p[1], p[2], flag);
    if (name == QLatin1String("cat add"))
        return catAdd(p[0], p[1], p[2], flag);
    if (name == QLatin1String("cat remove"))
        return catRemove(p[0], p[1]);
    if (name == QLatin1String("pack"))
        return pack(p[0], p[1]);
    if (name == QLatin1String("unpack"))
        return unpack(p[0], p[1]);
    if (name == QLatin1String("xsp info"))
        return xspInfo(p[0], flag);
    if (name == QLatin1String("xsp build"))
        return xspBuild(p[0], p[1]);
    if (name == QLatin1String("xsp unpack"))
        return xspUnpack(p[0], p[1]);
    return makeSampleGame(p[0]);
}

} // namespace

void cliWriteOut(const QByteArray& text)
{
    writeOut(text);
}

void cliWriteErr(const QByteArray& text)
{
    writeErr(text);
}

void cliWriteJson(const QJsonObject& document)
{
    writeOut(QJsonDocument(document).toJson(QJsonDocument::Indented));
}

void cliCaptureOutput(QByteArray* out, QByteArray* err)
{
    g_capturedOut = out;
    g_capturedErr = err;
}

int cliFail(const QString& message)
{
    return fail(message);
}

int cliUsageError(const QString& message)
{
    return usageError(message);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("drydock-cli"));
    const int code = run(QCoreApplication::arguments().mid(1));
    std::fflush(stdout);
    return code;
}
