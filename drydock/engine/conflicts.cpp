#include "conflicts.h"

#include "arc.h"
#include "archivefile.h"
#include "changepreview.h"
#include "gamedir.h"
#include "installerengine.h"
#include "xspfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QTemporaryDir>

#include <map>

namespace {

struct Claim
{
    ConflictCopy copy;
    int order = 0;
    bool script = false;
    QString name; // as the ship lists it
};

QByteArray digestOf(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return hash.result();
}

QString scriptKey(const QString& name)
{
    return QStringLiteral("scripts\\") + name.toLower();
}

bool identical(const ConflictCopy& a, const ConflictCopy& b)
{
    if (!a.digest.isEmpty() && !b.digest.isEmpty())
        return a.digest == b.digest;
    // The reader itself takes a copy of the same time as the same copy.
    return a.size == b.size && a.time == b.time;
}

bool sameShip(const ConflictCopy& a, const ConflictCopy& b)
{
    return a.ship.toUpper() == b.ship.toUpper() && a.author.toUpper() == b.author.toUpper();
}

QString shipText(const ConflictCopy& c)
{
    return c.ship + QStringLiteral(" by ") + c.author;
}

QString copyText(const ConflictCopy& c)
{
    QString where = c.source == QLatin1String("installed")
                        ? (c.enabled ? QStringLiteral("installed") : QStringLiteral("installed, disabled"))
                        : QStringLiteral("package ") + QFileInfo(c.source).fileName();
    return QStringLiteral("%1 %2 (%3, %4 bytes, time %5)")
        .arg(shipText(c), c.version, where)
        .arg(c.size)
        .arg(c.time);
}

QJsonObject copyJson(const ConflictCopy& c)
{
    return QJsonObject{{QStringLiteral("ship"), c.ship},
                       {QStringLiteral("author"), c.author},
                       {QStringLiteral("version"), c.version},
                       {QStringLiteral("source"), c.source},
                       {QStringLiteral("enabled"), c.enabled},
                       {QStringLiteral("size"), c.size},
                       {QStringLiteral("time"), qint64(c.time)}};
}

// Reads a package into a scratch folder and claims each of its files by its bytes.
bool readPackage(const QString& path, const QString& workFolder, int order, QList<Claim>* claims,
                 ConflictCopy* ship, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": cannot be opened");
        return false;
    }
    QDir().mkpath(workFolder);
    QTemporaryDir work(workFolder + QStringLiteral("/conflicts-XXXXXX"));
    if (!work.isValid()) {
        *error = workFolder + QStringLiteral(": cannot make a scratch folder");
        return false;
    }
    PackageContext context;
    context.programDir = work.path();
    OpenPackageOptions options;
    options.baseDir = work.path();
    ShipPackage p;
    const OpenPackageResult read = OpenPackage(file, p, options, context);
    if (read.status != PackageOk || !read.complete) {
        *error = path + QStringLiteral(": not a valid ship package") +
                 (read.error.isEmpty() ? QString() : QStringLiteral(": ") + read.error);
        return false;
    }
    *ship = {p.Name, p.Author, p.Version, path, true, 0, 0, {}};
    const auto claim = [&](const PackageFile& f, bool script, const QString& placed) {
        Claim c{*ship, order, script, f.Name};
        c.copy.size = f.Size;
        c.copy.time = f.Time;
        c.copy.digest = digestOf(placed);
        claims->append(c);
    };
    for (const PackageFile& f : ShipModFiles(p))
        claim(f, false, work.path() + QStringLiteral("/Slipway/") + f.Name);
    for (const PackageFile& s : p.Scripts)
        claim(s, true, work.path() + QStringLiteral("/scripts/") + s.Name);
    return true;
}

} // namespace

ConflictReport FindConflicts(const QString& gameDir, const ShipRegistry& registry,
                             const QStringList& packages, const QString& workFolder)
{
    ConflictReport report;
    QList<Claim> fromPackages;
    QList<ConflictCopy> packageShips;
    const int installedCount = int(registry.Ships.size());
    for (qsizetype i = 0; i < packages.size(); ++i) {
        ConflictCopy ship;
        QString error;
        if (readPackage(packages[i], workFolder.isEmpty() ? QDir::tempPath() : workFolder,
                        installedCount + int(i), &fromPackages, &ship, &error))
            packageShips << ship;
        else
            report.errors << error;
    }

    QList<Claim> claims;
    for (int k = 0; k < installedCount; ++k) {
        const ShipPackage& p = registry.Ships[k];
        if (p.Deleted != 0)
            continue;
        const ConflictCopy ship{p.Name, p.Author, p.Version, QStringLiteral("installed"),
                                p.Enabled, 0, 0, {}};
        // A package of the same ship replaces it when installed.
        bool replaced = false;
        for (const ConflictCopy& s : std::as_const(packageShips))
            replaced = replaced || sameShip(s, ship);
        if (replaced)
            continue;
        for (const PackageFile& f : ShipModFiles(p)) {
            Claim c{ship, k, false, f.Name};
            c.copy.size = f.Size;
            c.copy.time = f.Time;
            claims << c;
        }
        for (const PackageFile& s : p.Scripts) {
            Claim c{ship, k, true, s.Name};
            c.copy.size = s.Size;
            c.copy.time = s.Time;
            claims << c;
        }
    }
    claims += fromPackages;

    std::map<QString, QList<Claim>> byEntry;
    for (const Claim& c : std::as_const(claims))
        byEntry[c.script ? scriptKey(c.name) : ModEntryName(c.name).toLower()].append(c);

    // Which copy the game sees: the newest; of equal times the reader keeps the first
    // for mod files and lets the last overwrite for scripts.
    const auto winner = [](const QList<Claim>& list) {
        int best = 0;
        for (int i = 1; i < list.size(); ++i) {
            const bool newer = list[i].copy.time > list[best].copy.time;
            const bool tieLast = list[i].script && list[i].copy.time == list[best].copy.time;
            if (newer || tieLast)
                best = i;
        }
        return best;
    };

    for (auto& [key, list] : byEntry) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Claim& a, const Claim& b) { return a.order < b.order; });
        bool differs = false;
        for (int i = 0; i < list.size() && !differs; ++i)
            for (int j = i + 1; j < list.size() && !differs; ++j)
                differs = !sameShip(list[i].copy, list[j].copy) && !identical(list[i].copy, list[j].copy);
        if (!differs)
            continue;
        FileConflict f;
        f.kind = list.first().script ? QStringLiteral("script") : QStringLiteral("file");
        f.entry = list.first().script ? QStringLiteral("scripts\\") + list.first().name
                                      : ModEntryName(list.first().name);
        for (const Claim& c : list)
            f.copies << c.copy;
        bool anyEnabled = false;
        for (const Claim& c : list)
            anyEnabled = anyEnabled || c.copy.enabled;
        if (anyEnabled) {
            f.seen = winner(list);
            int tied = 0;
            for (const Claim& c : list)
                tied += c.copy.time == list[f.seen].copy.time ? 1 : 0;
            f.seenNote = tied == 1   ? QStringLiteral("the newest copy")
                         : f.kind == QLatin1String("script")
                             ? QStringLiteral("the last installed of the newest copies")
                             : QStringLiteral("the first installed of the newest copies");
        } else {
            f.seenNote = QStringLiteral("none: every ship that brings it is disabled");
        }
        report.files << f;
    }

    if (InstallerEngine::isRealMod(registry.ModName)) {
        const QString base =
            ResolvePath(gameDir, QStringLiteral("mods/") + registry.ModName + QStringLiteral(".cat"));
        const QString mod = ResolvePath(gameDir, QStringLiteral("mods/") +
                                                     QLatin1String(InstallerEngine::kModName) +
                                                     QStringLiteral(".cat"));
        QHash<QString, QString> baseEntries;
        for (const CatalogEntryInfo& e : ListCatalog(base))
            baseEntries.insert(ModEntryName(e.name).toLower(), e.name);
        for (const auto& [key, list] : byEntry) {
            if (list.first().script || !baseEntries.contains(key))
                continue;
            BaseOverride o;
            o.entry = ModEntryName(list.first().name);
            o.baseMod = registry.ModName;
            o.ship = list[winner(list)].copy;
            o.shipSeen = o.ship.enabled;
            // A standard base mod shares the mod pair: whichever copy it holds is seen.
            if (registry.BaseFakePatch == 0 && o.ship.source == QLatin1String("installed")) {
                QByteArray inMod, inBase;
                const bool modRead = StreamArchiveContent(mod + QStringLiteral("::") + o.entry,
                                                          ARC_TYPE_AUTO, &inMod) == ARC_OK;
                const bool baseRead =
                    StreamArchiveContent(base + QStringLiteral("::") + baseEntries.value(key),
                                         ARC_TYPE_AUTO, &inBase) == ARC_OK;
                o.shipSeen = modRead && !(baseRead && inMod == inBase);
            }
            report.baseOverrides << o;
        }
    }
    return report;
}

QStringList ConflictReport::shipsInvolved() const
{
    QStringList out;
    const auto add = [&out](const ConflictCopy& c) {
        const QString key = c.ship + QLatin1Char('\n') + c.author;
        if (!out.contains(key))
            out << key;
    };
    for (const FileConflict& f : files)
        for (const ConflictCopy& c : f.copies)
            add(c);
    for (const BaseOverride& o : baseOverrides)
        add(o.ship);
    return out;
}

QStringList ConflictReport::linesFor(const QString& name, const QString& author) const
{
    QStringList out;
    const ConflictCopy me{name, author, {}, {}, true, 0, 0, {}};
    for (const FileConflict& f : files) {
        QStringList others;
        bool mine = false;
        for (const ConflictCopy& c : f.copies) {
            if (sameShip(c, me))
                mine = true;
            else if (!others.contains(shipText(c)))
                others << shipText(c);
        }
        if (!mine)
            continue;
        out << QStringLiteral("%1 is also brought, with other bytes, by %2; the game sees %3")
                   .arg(f.entry, others.join(QStringLiteral(", ")),
                        f.seen < 0 ? QStringLiteral("no ship's copy")
                                   : shipText(f.copies[f.seen]) + QStringLiteral("'s copy"));
    }
    for (const BaseOverride& o : baseOverrides)
        if (sameShip(o.ship, me))
            out << QStringLiteral("%1 overrides the base mod %2; the game sees %3")
                       .arg(o.entry, o.baseMod,
                            o.shipSeen ? QStringLiteral("this ship's copy")
                                       : QStringLiteral("the base mod's copy"));
    return out;
}

QStringList ConflictReport::lines() const
{
    QStringList out;
    for (const FileConflict& f : files) {
        QStringList copies;
        for (const ConflictCopy& c : f.copies)
            copies << copyText(c);
        out << QStringLiteral("conflict %1: %2; the game sees %3")
                   .arg(f.entry, copies.join(QStringLiteral(" | ")),
                        f.seen < 0 ? f.seenNote
                                   : shipText(f.copies[f.seen]) + QStringLiteral("'s copy (") +
                                         f.seenNote + QLatin1Char(')'));
    }
    for (const BaseOverride& o : baseOverrides)
        out << QStringLiteral("base %1: %2 overrides the base mod %3; the game sees %4")
                   .arg(o.entry, copyText(o.ship), o.baseMod,
                        o.shipSeen ? QStringLiteral("the ship's copy")
                                   : QStringLiteral("the base mod's copy"));
    return out;
}

QJsonObject ConflictReport::toJson() const
{
    QJsonArray conflicts, overrides, problems;
    for (const FileConflict& f : files) {
        QJsonArray copies;
        for (const ConflictCopy& c : f.copies)
            copies.append(copyJson(c));
        conflicts.append(QJsonObject{
            {QStringLiteral("entry"), f.entry},
            {QStringLiteral("kind"), f.kind},
            {QStringLiteral("copies"), copies},
            {QStringLiteral("seen"), f.seen < 0 ? QJsonValue(QJsonValue::Null)
                                                : QJsonValue(copyJson(f.copies[f.seen]))},
            {QStringLiteral("note"), f.seenNote}});
    }
    for (const BaseOverride& o : baseOverrides)
        overrides.append(QJsonObject{
            {QStringLiteral("entry"), o.entry},
            {QStringLiteral("baseMod"), o.baseMod},
            {QStringLiteral("ship"), copyJson(o.ship)},
            {QStringLiteral("seen"), o.shipSeen ? QStringLiteral("ship") : QStringLiteral("base")}});
    for (const QString& e : errors)
        problems.append(e);
    return QJsonObject{{QStringLiteral("conflicts"), conflicts},
                       {QStringLiteral("baseOverrides"), overrides},
                       {QStringLiteral("errors"), problems}};
}
