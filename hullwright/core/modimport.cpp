#include "modimport.h"

#include "archivefile.h"
#include "equipment.h"
#include "safefile.h"
#include "shiprecord.h"
#include "typetable.h"
#include "xspfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

constexpr qint64 kReadBlock = 64 * 1024;
// Part lines and material lines carry what is wanted near their start; the rest
// of an over-long line (a binary file read as text) is dropped.
constexpr qsizetype kMaxLine = 64 * 1024;

// Lines of a device of any size in bounded memory. CR, LF and CR LF each end a
// line, so files from any editor read alike.
class LineReader
{
public:
    explicit LineReader(QIODevice& device) : m_device(device) {}

    bool next(QString& line)
    {
        QByteArray bytes;
        bool any = false;
        for (;;) {
            if (m_pos >= m_buffer.size()) {
                if (m_end)
                    break;
                m_buffer = m_device.read(kReadBlock);
                m_pos = 0;
                if (m_buffer.isEmpty()) {
                    m_end = true;
                    break;
                }
            }
            const char* p = m_buffer.constData();
            const qsizetype size = m_buffer.size();
            if (m_skipLf) {
                m_skipLf = false;
                if (p[m_pos] == '\n') {
                    ++m_pos;
                    continue;
                }
            }
            qsizetype i = m_pos;
            while (i < size && p[i] != '\n' && p[i] != '\r')
                ++i;
            bytes.append(p + m_pos, qMin(i - m_pos, kMaxLine - bytes.size()));
            any = true;
            if (i < size) {
                m_skipLf = p[i] == '\r';
                m_pos = i + 1;
                break;
            }
            m_pos = i;
        }
        line = QString::fromLocal8Bit(bytes);
        return any;
    }

private:
    QIODevice& m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_end = false;
    bool m_skipLf = false;
};

// Lines that every text-model reader passes over: blank (spaces only) or "/".
bool isSkipped(const QString& line)
{
    return QString(line).remove(QLatin1Char(' ')).trimmed().isEmpty() ||
           line.startsWith(QLatin1Char('/'));
}

QString backslashed(QString path)
{
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString slashed(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString suffixOf(const QString& name)
{
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? name.mid(dot + 1).toLower() : QString();
}

QString withoutSuffix(const QString& name)
{
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? name.left(dot) : name;
}

QString fileNameOf(const QString& path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1);
}

bool isModelSuffix(const QString& suffix)
{
    return suffix == QLatin1String("bod") || suffix == QLatin1String("bob") ||
           suffix == QLatin1String("pbd") || suffix == QLatin1String("pbb");
}

bool allDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A value names a file when it has a name and an extension that is not a number
// ("1.0" is a value, "hull.dds" a file).
bool hasFileExtension(const QString& value)
{
    const QString name = fileNameOf(value);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return false;
    const QString ext = name.mid(dot + 1);
    return std::any_of(ext.begin(), ext.end(), [](QChar c) { return c.isLetter(); });
}

const char* const kTables[] = {"TShips", "TCockpits", "Dummies", "Components"};

} // namespace

SceneBodies ReadSceneBodies(QIODevice& device)
{
    SceneBodies result;
    LineReader reader(device);
    QString line;
    QSet<QString> seen;
    bool versionSeen = false;
    while (reader.next(line)) {
        if (!versionSeen) {
            if (isSkipped(line))
                continue;
            if (!line.toUpper().startsWith(QLatin1String("VER:"))) {
                result.status = SceneBodies::NotAScene;
                return result;
            }
            versionSeen = true;
            continue;
        }
        if (!line.startsWith(QLatin1String("P ")))
            continue;
        const QString field = line.section(QLatin1Char(';'), 1, 1);
        if (result.parts.size() < kMaxSceneParts) {
            QString name = field.trimmed();
            if (name.startsWith(QLatin1String("B ")))
                name = name.mid(2).trimmed();
            result.parts.append({line.section(QLatin1Char(';'), 0, 0).mid(2).trimmed(), name});
        } else {
            result.partsCut = true;
        }
        // Each body once: a large scene names few bodies many times.
        if (field.startsWith(QLatin1String(" B "))) {
            QString reference = field.mid(3).trimmed();
            if (!seen.contains(reference)) {
                seen.insert(reference);
                result.references << std::move(reference);
            }
        }
    }
    result.status = versionSeen ? SceneBodies::Scene : SceneBodies::NotAScene;
    return result;
}

SceneBodies ReadSceneBodiesFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ReadSceneBodies(file);
}

SceneBodies ReadSceneFile(const QString& path, const QString& workDir)
{
    const QString suffix = suffixOf(path);
    if (suffix != QLatin1String("pbd") && suffix != QLatin1String("pbb"))
        return ReadSceneBodiesFile(path);
    const QString copy = workDir + QStringLiteral("/scene.txt");
    if (!UnpackDiskFile(path, copy)) {
        QFile::remove(copy);
        return {};
    }
    SceneBodies bodies = ReadSceneBodiesFile(copy);
    QFile::remove(copy);
    return bodies;
}

QString BodyReferenceKey(const QString& reference)
{
    QString key = backslashed(reference.trimmed());
    if (isModelSuffix(suffixOf(key)))
        key = withoutSuffix(key);
    // The text is padded, never a count read from it: "123" and "0000123" alike.
    if (allDigits(key) && key.toULongLong() != 0 && key.size() < 5)
        key = QString(5 - key.size(), QLatin1Char('0')) + key;
    if (!key.contains(QLatin1Char('\\')))
        key = QStringLiteral("v\\") + key;
    return key.toLower();
}

QString ModelEntryKey(const QString& entry)
{
    QString key = backslashed(withoutSuffix(entry)).toLower();
    if (key.startsWith(QLatin1String("objects\\")))
        key = key.mid(8);
    return key;
}

QStringList MatchSceneModels(const QStringList& references, const QStringList& models)
{
    QSet<QString> keys;
    for (const QString& r : references)
        keys.insert(BodyReferenceKey(r));
    QStringList found;
    for (const QString& m : models)
        if (keys.contains(ModelEntryKey(m)))
            found << m;
    return found;
}

QStringList ReadModelTextures(QIODevice& device)
{
    QStringList names;
    LineReader reader(device);
    QString line;
    while (reader.next(line)) {
        // Most lines are points and faces: looked at no further than their start.
        const QStringView start = QStringView(line).trimmed();
        if (!start.startsWith(QLatin1String("MATERIAL6:"), Qt::CaseInsensitive))
            continue;
        const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 3 || words.first().toUpper() != QLatin1String("MATERIAL6:"))
            continue;
        for (const QString& word : words.mid(2))
            for (const QString& value : word.split(QLatin1Char(';'), Qt::SkipEmptyParts))
                if (hasFileExtension(value)) {
                    const QString name = fileNameOf(value).toLower();
                    if (!names.contains(name))
                        names << name;
                }
    }
    return names;
}

QStringList MatchTextures(const QStringList& names, const QStringList& textures)
{
    const QSet<QString> wanted(names.begin(), names.end());
    QStringList found;
    for (const QString& t : textures)
        if (wanted.contains(fileNameOf(t).toLower()))
            found << t;
    return found;
}

bool RowNamesScene(const ImportRow& row, GroupedTable kind, const QString& scene)
{
    const QString named = kind == GroupedTable::Dummies ? TableField(row.data, 0) : row.component;
    return !scene.trimmed().isEmpty() &&
           backslashed(named.trimmed()).compare(backslashed(scene.trimmed()), Qt::CaseInsensitive) == 0;
}

QString PlainModelName(const QString& name)
{
    const QString suffix = suffixOf(name);
    if (suffix == QLatin1String("pbb"))
        return withoutSuffix(name) + QStringLiteral(".bob");
    if (suffix == QLatin1String("pbd"))
        return withoutSuffix(name) + QStringLiteral(".bod");
    return name;
}

// ---- the session

ModImport::ModImport(const QString& catalog, const QString& programDir, const QString& language,
                     ImportLog log)
    : m_catalog(catalog), m_programDir(programDir), m_language(language), m_log(std::move(log))
{
}

ModImport::~ModImport()
{
    close();
}

void ModImport::close()
{
    for (const QString& f : tableFiles())
        RemoveFileChecked(f);
    for (const char* scratch : {"Scene.bod", "Extracted.bob", "Extracted.bod"})
        RemoveFileChecked(tempPath(QLatin1String(scratch)));
    m_open = false;
}

QStringList ModImport::tableFiles() const
{
    QStringList files;
    for (const char* t : kTables) {
        const QString path = tempPath(QLatin1String(t) + QStringLiteral(".txt"));
        if (QFileInfo::exists(path))
            files << path;
    }
    return files;
}

void ModImport::note(const QString& line) const
{
    if (m_log)
        m_log(QStringLiteral("(IMPORT) ") + line);
}

QString ModImport::tempPath(const QString& name) const
{
    return m_programDir + QStringLiteral("/temp/") + name;
}

bool ModImport::extractScratch(const QString& entry, const QString& target, QString* error)
{
    return ExtractArchiveFile(m_catalog + QStringLiteral("::") + entry, target, false, false, error);
}

bool ModImport::open(QString* error)
{
    close();
    m_entries.clear();
    m_ships.clear();
    m_dummies.clear();
    m_components.clear();
    m_cockpits.clear();
    m_models.clear();
    m_textures.clear();
    m_missing.clear();
    auto fail = [&](const QString& why) {
        note(m_catalog + QStringLiteral(": ") + why);
        if (error)
            *error = why;
        return false;
    };
    if (!QFileInfo(m_catalog).isFile())
        return fail(QStringLiteral("no such catalogue"));
    QString why;
    if (!MakeDirChecked(m_programDir + QStringLiteral("/temp"), &why))
        return fail(why);
    for (const CatalogEntryInfo& e : ListCatalog(m_catalog))
        m_entries << e.name;
    if (m_entries.isEmpty())
        return fail(QStringLiteral("not a catalogue, or an empty one"));

    QByteArray texts[4];
    for (int t = 0; t < 4; ++t) {
        const QString entry = TypeTableEntry(QLatin1String(kTables[t]));
        const QString file = tempPath(QLatin1String(kTables[t]) + QStringLiteral(".txt"));
        QString problem;
        if (!extractScratch(entry, file, &problem) || !ReadFileWhole(file, &texts[t], &problem)) {
            m_missing << entry;
            note(QStringLiteral("no usable ") + entry + QStringLiteral(" in ") + m_catalog +
                 (problem.isEmpty() ? QString() : QStringLiteral(": ") + problem));
        }
    }
    if (m_missing.contains(TypeTableEntry(QStringLiteral("TShips"))))
        return fail(QStringLiteral("holds no ship table (types\\TShips.pck)"));

    const TypeTable ships = ReadTypeTable(texts[0]);
    for (qsizetype i = 0; i < ships.entries.size(); ++i)
        m_ships.append({int(i), ships.entries.at(i), TableIdentifier(ships.entries.at(i)), QString()});
    NameShipsFromCatalog(m_ships, m_catalog, m_programDir + QStringLiteral("/temp"), m_language);
    m_cockpits = ReadCompactTable(texts[1]).entries;
    const DummyTable dummies = DummyTable::read(texts[2]);
    for (const TableGroup& g : dummies.groups())
        for (const QString& l : g.lines)
            m_dummies.append({g.name, TerminatedLine(l.trimmed()), QString(), QString()});
    const ComponentTable components = ComponentTable::read(texts[3]);
    for (const ComponentGroup& c : components.components())
        for (const TableGroup& g : c.groups)
            for (const QString& l : g.lines)
                m_components.append({c.name + QLatin1Char(';') + g.name, TerminatedLine(l.trimmed()),
                                     c.name, g.name});

    for (const QString& e : m_entries) {
        if (e.startsWith(QLatin1String("objects\\"), Qt::CaseInsensitive))
            m_models << e;
        const QString suffix = suffixOf(e);
        if (e.startsWith(QLatin1String("textures\\"), Qt::CaseInsensitive) &&
            (suffix == QLatin1String("dds") || suffix == QLatin1String("tex")))
            m_textures << e;
    }
    m_open = true;
    return true;
}

int ModImport::findShip(const QString& identifier) const
{
    for (qsizetype i = 0; i < m_ships.size(); ++i)
        if (m_ships.at(i).identifier == identifier)
            return int(i);
    for (qsizetype i = 0; i < m_ships.size(); ++i)
        if (m_ships.at(i).identifier.compare(identifier, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool ModImport::isOwnShip(int ship) const
{
    if (ship < 0 || ship >= m_ships.size())
        return false;
    const PickerEntry& s = m_ships.at(ship);
    return !s.name.isEmpty() ||
           !findEntry(ShipRecord(s.line).field(16), {QStringLiteral("pbd"), QStringLiteral("bod"),
                                                     QStringLiteral("pbb"), QStringLiteral("bob")})
                .isEmpty();
}

QString ModImport::findEntry(const QString& objectName, const QStringList& suffixes) const
{
    // The game keeps a scene named without a folder below "objects\\cut".
    const QString name = backslashed(objectName.trimmed());
    const QString base = (name.contains(QLatin1Char('\\')) ? QStringLiteral("objects\\")
                                                            : QStringLiteral("objects\\cut\\")) +
                         name;
    for (const QString& suffix : suffixes)
        for (const QString& e : m_models)
            if (e.compare(base + QLatin1Char('.') + suffix, Qt::CaseInsensitive) == 0)
                return e;
    return QString();
}

SceneModels ModImport::sceneModels(int ship)
{
    SceneModels result;
    if (ship < 0 || ship >= m_ships.size())
        return result;
    const QString scene = ShipRecord(m_ships.at(ship).line).field(16).trimmed();
    result.sceneEntry = findEntry(scene, {QStringLiteral("pbd"), QStringLiteral("bod")});
    if (result.sceneEntry.isEmpty()) {
        note(QStringLiteral("the scene ") + scene + QStringLiteral(" of ") + m_ships.at(ship).identifier +
             QStringLiteral(" is not in the catalogue; no model is chosen"));
        return result;
    }
    const QString copy = tempPath(QStringLiteral("Scene.bod"));
    QString why;
    const bool extracted = extractScratch(result.sceneEntry, copy, &why);
    const SceneBodies bodies = extracted ? ReadSceneBodiesFile(copy) : SceneBodies{};
    RemoveFileChecked(copy);
    if (bodies.status != SceneBodies::Scene) {
        result.status = bodies.status == SceneBodies::NotAScene ? SceneModels::NotAScene
                                                                : SceneModels::Unreadable;
        note(result.sceneEntry + (result.status == SceneModels::NotAScene
                                      ? QStringLiteral(" has no \"VER:\" line; no model is chosen")
                                      : QStringLiteral(" cannot be read: ") + why));
        return result;
    }
    result.status = SceneModels::Found;
    result.references = bodies.references;
    result.models = MatchSceneModels(bodies.references, m_models);
    return result;
}

QList<int> ModImport::rowsOfShip(int ship, const QList<ImportRow>& rows, GroupedTable kind) const
{
    QList<int> found;
    if (ship < 0 || ship >= m_ships.size())
        return found;
    const QString scene = ShipRecord(m_ships.at(ship).line).field(16);
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (RowNamesScene(rows.at(i), kind, scene))
            found << int(i);
    return found;
}

QList<int> ModImport::shipDummies(int ship) const
{
    return rowsOfShip(ship, m_dummies, GroupedTable::Dummies);
}

QList<int> ModImport::shipComponents(int ship) const
{
    return rowsOfShip(ship, m_components, GroupedTable::Components);
}

QList<int> ModImport::turretCockpits(int ship) const
{
    QList<int> found;
    if (ship < 0 || ship >= m_ships.size())
        return found;
    const ShipRecord record(m_ships.at(ship).line);
    for (int k = 0; k < kTurretPairs; ++k) {
        int index = 0;
        if (ParseTableInt(record.turretCockpit(k), &index) && index > 0 && index < m_cockpits.size() &&
            !found.contains(index))
            found << index;
    }
    return found;
}

TextureSearch ModImport::texturesOf(const QStringList& models, const ModelConversion& compiler)
{
    TextureSearch result;
    QStringList names;
    const QString binary = tempPath(QStringLiteral("Extracted.bob"));
    const QString text = tempPath(QStringLiteral("Extracted.bod"));
    for (const QString& model : models) {
        const QString suffix = suffixOf(model);
        const bool isBinary = suffix == QLatin1String("bob") || suffix == QLatin1String("pbb");
        if (!isBinary && suffix != QLatin1String("bod") && suffix != QLatin1String("pbd"))
            continue;
        QString why;
        bool read = extractScratch(model, isBinary ? binary : text, &why);
        if (read && isBinary && !DecompileModel(compiler, binary, text)) {
            read = false;
            why = !compiler.compile
                      ? QStringLiteral("model conversion is off, so it is not decompiled")
                  : compiler.compiler.isEmpty() || !QFileInfo(compiler.compiler).isFile()
                      ? QStringLiteral("no model compiler to decompile it")
                      : QStringLiteral("the model compiler did not decompile it");
        }
        QFile file(text);
        if (read && file.open(QIODevice::ReadOnly))
            names << ReadModelTextures(file);
        else {
            result.unreadable << model + QStringLiteral(": ") + why;
            note(QStringLiteral("textures of ") + model + QStringLiteral(" not found: ") + why);
        }
        file.close();
        RemoveFileChecked(binary);
        RemoveFileChecked(text);
    }
    result.textures = MatchTextures(names, m_textures);
    return result;
}

QList<PackageText> ModImport::shipTexts(int ship)
{
    if (ship < 0 || ship >= m_ships.size())
        return {};
    return ImportShipTexts(m_catalog, TableFieldInt(m_ships.at(ship).line, 6),
                           m_programDir + QStringLiteral("/temp"), m_log);
}

ImportChoice ModImport::proposal(int ship, const ModelConversion& compiler)
{
    ImportChoice c;
    if (ship < 0 || ship >= m_ships.size())
        return c;
    c.ship = ship;
    c.dummies = shipDummies(ship);
    c.components = shipComponents(ship);
    c.cockpits = turretCockpits(ship);
    c.models = sceneModels(ship).models;
    c.textures = texturesOf(c.models, compiler).textures;
    c.texts = shipTexts(ship);
    return c;
}

bool ModImport::extractToSlipway(const QString& entry, QList<DraftFolder>* tree, QString* sceneFile,
                                 ImportFinish& result)
{
    const QString path = PlainModelName(slashed(entry));
    if (!IsSafeEntryName(path)) {
        result.skipped << entry + QStringLiteral(": the name would leave the work folder");
        note(QStringLiteral("skipped ") + entry + QStringLiteral(": the name would leave Slipway"));
        return false;
    }
    const QString target = m_programDir + QStringLiteral("/Slipway/") + path;
    QString why;
    if (!MakeDirChecked(QFileInfo(target).absolutePath(), &why) ||
        !ExtractArchiveFile(m_catalog + QStringLiteral("::") + entry, target, false, false, &why)) {
        result.skipped << entry + QStringLiteral(": ") + why;
        note(QStringLiteral("skipped ") + entry + QStringLiteral(": ") + why);
        return false;
    }
    result.extracted << path;
    const QString row = QLatin1String(kPackagePrefix) + path;
    if (sceneFile)
        *sceneFile = row;
    if (tree)
        AddDraftFiles(*tree, QFileInfo(path).path(), {row});
    return true;
}

ImportFinish ModImport::finish(const ImportChoice& choice, ShipDraft& draft)
{
    ImportFinish result;
    if (!m_open || choice.ship < 0 || choice.ship >= m_ships.size())
        return result;
    // Nothing the catalogue names is written through a link inside the work folder.
    const ConfinedFolder confined(m_programDir + QStringLiteral("/Slipway"));
    const PickerEntry& ship = m_ships.at(choice.ship);
    ApplyTableShip(draft, ship.line);
    if (draft.name.isEmpty())
        draft.name = ship.name.isEmpty() ? ship.identifier : ship.name;
    // A package holds what a reader takes: a text page's line beyond that is left out.
    const auto fits = [](const QString& text) {
        return text.toUtf8().size() + 64 <= kMaxPackageLine;
    };
    if (!fits(draft.name)) {
        result.skipped << QStringLiteral("the ship's name: longer than a package line may be");
        draft.name = ship.identifier.left(200);
    }

    ShipRecord record(draft.record);
    for (int index : choice.cockpits) {
        if (index < 0 || index >= m_cockpits.size())
            continue;
        const QString line = m_cockpits.at(index);
        draft.cockpits << TerminatedLine(line);
        const QString key = TableIdentifier(line);
        for (int k = 0; k < kTurretPairs && index > 0 && !key.isEmpty(); ++k) {
            int named = 0;
            if (ParseTableInt(record.turretCockpit(k), &named) && named == index)
                record.setTurretCockpit(k, key, record.turretCompanion(k));
        }
    }
    if (record.line() != ShipRecord(draft.record).line())
        draft.record = record.line();

    for (int i : choice.dummies)
        if (i >= 0 && i < m_dummies.size())
            draft.dummies << DummyFromRow(m_dummies.at(i));
    for (int i : choice.components)
        if (i >= 0 && i < m_components.size())
            draft.components << ComponentFromRow(m_components.at(i));

    const QString scene = findEntry(draft.sceneName, {QStringLiteral("pbd"), QStringLiteral("bod")});
    if (!scene.isEmpty())
        extractToSlipway(scene, nullptr, &draft.sceneFile, result);
    const QString cockpit = findEntry(draft.cockpitName, {QStringLiteral("pbd"), QStringLiteral("bod")});
    if (!cockpit.isEmpty())
        extractToSlipway(cockpit, nullptr, &draft.cockpitFile, result);
    for (const QString& m : choice.models)
        if (m_models.contains(m))
            extractToSlipway(m, &draft.models, nullptr, result);
    for (const QString& t : choice.textures)
        if (m_textures.contains(t))
            extractToSlipway(t, &draft.others, nullptr, result);
    for (const PackageText& t : choice.texts) {
        if (fits(t.Name + t.Description) && draft.texts.size() < kMaxPackageTexts)
            draft.texts << t;
        else
            result.skipped << QStringLiteral("the text of language %1: beyond what a package holds")
                                  .arg(t.Language);
    }
    close();
    return result;
}
