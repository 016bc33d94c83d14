#include "packagecheck.h"

#include "arc.h"
#include "archivefile.h"
#include "gamedir.h"
#include "packagebuild.h"
#include "shiprecord.h"
#include "typetable.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>

#include <limits>

namespace {

class Problems
{
public:
    QList<PackageCheckProblem> list;
    void add(const char* kind, const QString& subject, const QString& message)
    {
        list.append({QLatin1String(kind), subject, message});
    }
};

void checkRecord(const ShipPackage& p, Problems& out)
{
    const ShipRecord record(p.Data);
    const RecordLayout layout = record.layout();
    if (p.Data.trimmed().isEmpty()) {
        out.add("record", QStringLiteral("record"), QStringLiteral("the package has no ship record"));
        return;
    }
    if (!layout.complete) {
        out.add("record", QStringLiteral("record"),
                QStringLiteral("the record (%1 fields) does not hold what its turret and gun counts "
                               "ask for, or its counts are not numbers: the installer would write "
                               "it whole")
                    .arg(record.fieldCount()));
        return;
    }
    if (layout.identifierField != layout.lastNumericField + 1)
        out.add("record", QStringLiteral("record"),
                QStringLiteral("the record has %1 fields between its tail (field %2) and its last "
                               "field; the installer drops them")
                    .arg(layout.identifierField - layout.lastNumericField - 1)
                    .arg(layout.lastNumericField));
    // The identifier needs no check: the installer writes the package ID there.
}

// Fields 16 and 17 as the game reads them: the scenes the package carries, or
// scenes the game has.
void checkScenes(const PackageCheckInput& in, Problems& out)
{
    const ShipPackage& p = in.package;
    const ShipRecord record(p.Data);
    if (p.Data.trimmed().isEmpty())
        return;
    const struct
    {
        int field;
        const std::optional<PackageFile>& file;
        const char* what;
    } scenes[] = {{kSceneField, p.SceneFile, "ship scene"},
                  {kCockpitSceneField, p.CockpitFile, "cockpit scene"}};
    for (const auto& [field, file, what] : scenes) {
        const QString named = record.field(field).trimmed();
        const QString subject = QStringLiteral("field %1").arg(field);
        const bool gameHas = in.gameHasScene && !IsNoScene(named) && in.gameHasScene(named);
        if (IsNoScene(named) && (file || field == kSceneField)) {
            out.add("record", subject,
                    QStringLiteral("field %1 names no %2%3")
                        .arg(field)
                        .arg(QLatin1String(what),
                             file ? QStringLiteral(", but the package carries ") + file->Name
                                  : QStringLiteral(": the game would show no model")));
        } else if (file) {
            const QString carried = GameSceneName(SceneGameNameOf(file->Name));
            if (GameSceneName(named).compare(carried, Qt::CaseInsensitive) != 0 && !gameHas)
                out.add("record", subject,
                        QStringLiteral("field %1 names the %2 \"%3\", but the package carries "
                                       "%4 (\"%5\"): the game would not show it")
                            .arg(field)
                            .arg(QLatin1String(what), named, file->Name, carried));
        } else if (!IsNoScene(named) && !gameHas) {
            out.add("record", subject,
                    QStringLiteral("field %1 names the %2 \"%3\", which the package does not "
                                   "carry%4")
                        .arg(field)
                        .arg(QLatin1String(what), named,
                             in.gameHasScene ? QStringLiteral(" and the game does not have")
                                             : QString()));
        }
    }
}

void checkCockpits(const PackageCheckInput& in, Problems& out)
{
    const ShipPackage& p = in.package;
    QStringList keys;
    for (const QString& line : p.Cockpits)
        keys << TableIdentifier(line);
    const ShipRecord record(p.Data);
    // The main cockpit counts among the turret entries but has no cockpit pair.
    const int turrets = qBound(0, record.intField(kTurretCountField, 0) - 1, kTurretPairs);
    for (int k = 0; k < turrets; ++k) {
        const QString cockpit = record.turretCockpit(k).trimmed();
        const QString subject = QStringLiteral("turret %1").arg(k);
        int index = 0;
        if (cockpit.isEmpty()) {
            out.add("cockpit", subject, QStringLiteral("turret %1 names no cockpit").arg(k));
        } else if (ParseTableInt(cockpit, &index)) {
            const int known = in.gameCockpits < 0 ? -1 : in.gameCockpits + int(keys.size());
            if (index < 0 || (known >= 0 && index >= known))
                out.add("cockpit", subject,
                        QStringLiteral("turret %1 names cockpit index %2, which the cockpit table "
                                       "does not have%3")
                            .arg(k)
                            .arg(index)
                            .arg(known >= 0 ? QStringLiteral(" (%1 entries)").arg(known) : QString()));
        } else if (!keys.contains(cockpit)) {
            out.add("cockpit", subject,
                    QStringLiteral("turret %1 names the cockpit \"%2\", which is none of the "
                                   "package's cockpits")
                        .arg(k)
                        .arg(cockpit));
        }
    }
}

void checkFile(const PackageCheckInput& in, const PackageFile& f, const QString& kind, Problems& out)
{
    const qint64 size = in.sizeOf ? in.sizeOf(f) : f.Size;
    if (size < 0)
        out.add("file", f.Name, QStringLiteral("%1 %2 is missing").arg(kind, f.Name));
    else if (size == 0)
        out.add("file", f.Name, QStringLiteral("%1 %2 is empty").arg(kind, f.Name));
    else if (size > std::numeric_limits<qint32>::max())
        out.add("size", f.Name,
                QStringLiteral("%1 %2 has %3 bytes; a package holds files below 2 GiB")
                    .arg(kind, f.Name)
                    .arg(size));
    if (!IsSafeEntryName(f.Name) ||
        !arc_valid_entry_name(QFile::encodeName(QString(f.Name).replace('/', '\\')).constData()))
        out.add("name", f.Name,
                QStringLiteral("%1 name \"%2\" is not a safe entry name (absolute, \"..\", a "
                               "drive, a control or reserved character, or too long)")
                    .arg(kind, f.Name));
}

// Names the game's case-insensitive file system would take for one file.
void checkCase(const QList<PackageFile>& files, const QString& kind, bool packed, Problems& out)
{
    QHash<QString, QStringList> byKey;
    for (const PackageFile& f : files) {
        const QString stored =
            packed ? PackedName(QString(f.Name).replace('/', '\\'), true) : f.Name;
        byKey[stored.toLower()] << f.Name;
    }
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        QStringList names = it.value();
        names.removeDuplicates();
        out.add("case", names.first(),
                names.size() == 1
                    ? QStringLiteral("%1 %2 is listed %3 times").arg(kind, names.first()).arg(it.value().size())
                    : QStringLiteral("%1s %2 differ only in letter case; the game sees one file")
                          .arg(kind, names.join(QStringLiteral(", "))));
    }
}

void checkLine(const QString& what, const QString& text, Problems& out)
{
    const qint64 length = text.toUtf8().size() + 64;
    if (length > kMaxPackageLine)
        out.add("size", what,
                QStringLiteral("%1 has %2 bytes; the installer reads lines of at most %3")
                    .arg(what)
                    .arg(length)
                    .arg(kMaxPackageLine));
}

} // namespace

QList<PackageCheckProblem> CheckPackage(const PackageCheckInput& in)
{
    Problems out;
    const ShipPackage& p = in.package;
    checkRecord(p, out);

    for (const QString& m : in.missing)
        out.add("file", m, QStringLiteral("%1 is missing").arg(m));
    checkScenes(in, out);
    const QString sceneField = ShipRecord(p.Data).field(kSceneField).trimmed();
    if (!p.SceneFile && !(in.gameHasScene && !IsNoScene(sceneField) && in.gameHasScene(sceneField)))
        out.add("file", QStringLiteral("scene"), QStringLiteral("the package has no scene file"));
    else
        checkFile(in, *p.SceneFile, QStringLiteral("scene"), out);
    if (p.CockpitFile)
        checkFile(in, *p.CockpitFile, QStringLiteral("cockpit scene"), out);
    for (const PackageFile& f : p.Models)
        checkFile(in, f, QStringLiteral("model"), out);
    for (const PackageFile& f : p.Files)
        checkFile(in, f, QStringLiteral("file"), out);
    for (const PackageFile& f : p.Scripts) {
        checkFile(in, f, QStringLiteral("script"), out);
        if (f.Name.contains('/') || f.Name.contains('\\'))
            out.add("name", f.Name, QStringLiteral("script %1 has a folder in its name").arg(f.Name));
    }
    if (!p.ScreenShot.isEmpty() && in.screenshotSize <= 0)
        out.add("file", p.ScreenShot,
                QStringLiteral("screenshot %1 is %2")
                    .arg(p.ScreenShot, in.screenshotSize < 0 ? QStringLiteral("missing")
                                                             : QStringLiteral("empty")));

    QList<PackageFile> modFiles;
    if (p.SceneFile)
        modFiles << *p.SceneFile;
    if (p.CockpitFile)
        modFiles << *p.CockpitFile;
    modFiles += p.Models;
    modFiles += p.Files;
    checkCase(modFiles, QStringLiteral("file"), true, out);
    checkCase(p.Scripts, QStringLiteral("script"), false, out);

    checkCockpits(in, out);
    for (const PackageText& t : p.Texts) {
        if (t.Name.trimmed().isEmpty())
            out.add("text", QString::number(t.Language),
                    QStringLiteral("the text of language %1 has no name").arg(t.Language));
        checkLine(QStringLiteral("the text of language %1").arg(t.Language),
                  t.Name + t.Description, out);
    }
    checkLine(QStringLiteral("the record"), p.Data, out);
    checkLine(QStringLiteral("the comment"), encodeNewlines(p.Comment), out);
    for (const QString& c : p.Cockpits)
        checkLine(QStringLiteral("a cockpit line"), c, out);
    return out.list;
}

QStringList PackageCheckLines(const QList<PackageCheckProblem>& problems)
{
    QStringList lines;
    for (const PackageCheckProblem& p : problems)
        lines << p.kind + QStringLiteral(": ") + p.message;
    return lines;
}

QJsonObject PackageCheckJson(const QList<PackageCheckProblem>& problems)
{
    QJsonArray list;
    for (const PackageCheckProblem& p : problems)
        list.append(QJsonObject{{QStringLiteral("kind"), p.kind},
                                {QStringLiteral("subject"), p.subject},
                                {QStringLiteral("message"), p.message}});
    return QJsonObject{{QStringLiteral("ok"), problems.isEmpty()}, {QStringLiteral("problems"), list}};
}

QList<PackageCheckProblem> CheckPackageFile(const QString& path, const QString& tempFolder,
                                            int gameCockpits, QString* error,
                                            const std::function<bool(const QString&)>& gameHasScene)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": cannot be opened");
        return {};
    }
    QDir().mkpath(tempFolder);
    QTemporaryDir work(tempFolder + QStringLiteral("/validate-XXXXXX"));
    if (!work.isValid()) {
        *error = tempFolder + QStringLiteral(": cannot make a scratch folder");
        return {};
    }
    PackageContext context;
    context.programDir = work.path();
    OpenPackageOptions options;
    options.baseDir = work.path();
    PackageCheckInput in;
    const OpenPackageResult read = OpenPackage(file, in.package, options, context);
    if (read.status == PackageTooNew) {
        *error = path + QStringLiteral(": the package needs a newer reader");
        return {};
    }
    if (read.status != PackageOk && read.problem != PackageProblem::RefusedName) {
        *error = path + QStringLiteral(": not a valid ship package") +
                 (read.error.isEmpty() ? QString() : QStringLiteral(": ") + read.error);
        return {};
    }
    QList<PackageCheckProblem> problems;
    // The installer refuses such a package whole: nothing after the name was read.
    for (const QString& refused : read.problems)
        problems.append({QStringLiteral("name"), QString(), refused});
    if (read.status != PackageOk)
        return problems;
    const QString root = work.path();
    in.sizeOf = [root](const PackageFile& f) -> qint64 {
        for (const QString& where : {root + QStringLiteral("/Slipway/") + f.Name,
                                     root + QStringLiteral("/scripts/") + f.Name}) {
            const QFileInfo info(where);
            if (info.isFile())
                return info.size();
        }
        return -1;
    };
    if (!in.package.ScreenShot.isEmpty()) {
        const QFileInfo pic(root + QStringLiteral("/Slipway/ShipPics/") + in.package.ScreenShot);
        in.screenshotSize = pic.isFile() ? pic.size() : -1;
    }
    in.gameCockpits = gameCockpits;
    in.gameHasScene = gameHasScene;
    problems += CheckPackage(in);
    return problems;
}

QList<PackageCheckProblem> CheckDraft(const ShipDraft& draft, const QString& programDir,
                                      int gameCockpits,
                                      const std::function<bool(const QString&)>& gameHasScene)
{
    PackageCheckInput in;
    in.package = BuildPackage(draft, programDir);
    in.gameCockpits = gameCockpits;
    in.gameHasScene = gameHasScene;
    in.sizeOf = [](const PackageFile& f) -> qint64 {
        const QFileInfo info(f.SourcePath);
        return info.isFile() ? info.size() : -1;
    };
    QStringList sources{draft.sceneFile, draft.cockpitFile};
    sources += DraftTreeFiles(draft.models);
    sources += DraftTreeFiles(draft.others);
    sources += draft.scripts;
    for (const QString& s : std::as_const(sources))
        if (!s.isEmpty() && !QFileInfo(ExpandPackagePath(s, programDir)).isFile())
            in.missing << s;
    if (!draft.picture.isEmpty()) {
        const QFileInfo pic(ExpandPackagePath(draft.picture, programDir));
        in.screenshotSize = pic.isFile() ? pic.size() : -1;
    }
    return CheckPackage(in);
}

std::function<bool(const QString&)> GameSceneLookup(const QString& gameDir)
{
    QSet<QString> entries;
    for (const GameEntry& e : EnumerateGameEntries(gameDir))
        entries.insert(e.name.toLower());
    const QString mod = ResolvePath(gameDir, QStringLiteral("mods/Hullwright.cat"));
    if (QFileInfo(mod).isFile())
        for (const CatalogEntryInfo& e : ListCatalog(mod))
            entries.insert(QString(e.name).replace(QLatin1Char('/'), QLatin1Char('\\')).toLower());
    return [entries](const QString& field) {
        for (const QString& candidate : SceneCatalogEntries(field))
            if (entries.contains(candidate))
                return true;
        return false;
    };
}
