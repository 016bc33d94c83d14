#include "changepreview.h"

#include "arc.h"
#include "archivefile.h"
#include "equipment.h"
#include "fileutils.h"
#include "gamedir.h"
#include "textpages.h"
#include "typetable.h"
#include "uiseams.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

const char* const kTables[] = {"TShips", "TCockpits", "Dummies", "Components"};

QByteArray arcPath(const QString& path)
{
    return QFile::encodeName(QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')));
}

struct StreamCtx
{
    QCryptographicHash* hash = nullptr;
    QByteArray* keep = nullptr;
    qint64 limit = 0;
};

int sink(void* ctx, const unsigned char* data, size_t size)
{
    auto* c = static_cast<StreamCtx*>(ctx);
    if (c->hash)
        c->hash->addData(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (c->keep) {
        if (c->keep->size() + qint64(size) > c->limit)
            return ARC_E_TOOLARGE;
        c->keep->append(reinterpret_cast<const char*>(data), qsizetype(size));
    }
    return 0;
}

} // namespace

int StreamArchiveContent(const QString& path, int type, QByteArray* digest, QByteArray* keep)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    StreamCtx ctx{&hash, keep, InMemoryFileLimit()};
    const int code = arc_stream(arcPath(path).constData(), type, sink, &ctx);
    if (digest)
        *digest = hash.result();
    return code == ARC_E_GZ_RESERVED ? ARC_OK : code;
}

namespace {

int streamContent(const QString& path, int type, QByteArray* digest, QByteArray* keep = nullptr)
{
    return StreamArchiveContent(path, type, digest, keep);
}

bool isPackedName(const QString& name)
{
    const QString lower = name.toLower();
    return lower.endsWith(QLatin1String(".pck")) || lower.endsWith(QLatin1String(".pbd")) ||
           lower.endsWith(QLatin1String(".pbb"));
}

bool isNumberedPair(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[0-9]+\\.(cat|dat)$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(name).hasMatch();
}

// A numbered pair can be as large as the game: it counts by what the file system
// says of it, which changes when it is written or made anew.
QByteArray identityOf(const QFileInfo& info)
{
    QByteArray id = QByteArray::number(info.size());
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &st) == 0)
        id += ':' + QByteArray::number(qint64(st.st_ino)) + ':' +
              QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
              QByteArray::number(qint64(st.st_mtim.tv_nsec));
#else
    id += ':' + QByteArray::number(info.lastModified().toMSecsSinceEpoch());
#endif
    return id;
}

QByteArray fileDigest(const QString& path)
{
    QByteArray digest;
    // Packing picks a new key byte every time: the same content must count as the same.
    if (isPackedName(path) && streamContent(path, ARC_TYPE_PACKED, &digest) == ARC_OK)
        return digest;
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return QByteArray("unreadable");
    return hash.result();
}

// The folders below a game directory that the installer writes loose files into.
bool isWorkFolder(const QString& lowerName)
{
    return lowerName == QLatin1String("slipway") || lowerName == QLatin1String("scripts") ||
           lowerName == QLatin1String("loadscr");
}

// Kept out of the file list: the lock belongs to the program, the registry is
// shown by its slots, its backup follows it.
bool isSkippedFile(const QString& lowerRel)
{
    return lowerRel == QLatin1String("slipway/writer.lock") ||
           lowerRel.startsWith(QLatin1String("slipway/history/")) ||
           lowerRel == QLatin1String("slipway/ships.dat") ||
           lowerRel == QLatin1String("slipway/ships.dat.bak");
}

void captureFiles(const QString& gameDir, GameState& state)
{
    const QDir root(gameDir);
    const QFileInfoList top =
        root.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : top) {
        const QString lower = info.fileName().toLower();
        if (info.isDir() && isWorkFolder(lower)) {
            QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                const QString rel = root.relativeFilePath(path);
                if (isSkippedFile(rel.toLower()))
                    continue;
                state.files[rel.toLower()] = {rel, it.fileInfo().size(), fileDigest(path)};
            }
        } else if (info.isFile() && isNumberedPair(info.fileName())) {
            state.files[lower] = {info.fileName(), info.size(), identityOf(info)};
        }
    }
}

class TextCollector : public TextPageHandler
{
public:
    QMap<QString, QString> texts;
    void addText(int page, int id, QString&& text) override
    {
        texts[QStringLiteral("%1/%2").arg(page).arg(id)] = std::move(text);
    }
};

QByteArray tableText(const QString& gameDir, const QString& modCatalog, bool modHasIt,
                     const QString& entry, const QString& selectedMod, QStringList* problems)
{
    QByteArray text;
    if (modHasIt) {
        if (streamContent(modCatalog + QStringLiteral("::") + entry, ARC_TYPE_AUTO, nullptr,
                          &text) != ARC_OK) {
            problems->append(entry + QStringLiteral(": cannot be read from the mod"));
            text.clear();
        }
        return text;
    }
    // Before the first update the game sees its own copy.
    QTemporaryFile out(QDir::tempPath() + QStringLiteral("/drydock-table-XXXXXX"));
    if (!out.open())
        return text;
    out.close();
    if (ExtractGameFile(gameDir, entry, out.fileName(), selectedMod))
        ReadFileWhole(out.fileName(), &text);
    return text;
}

QStringList tableRows(const QString& table, const QByteArray& text)
{
    QStringList rows;
    if (table == QLatin1String("Dummies")) {
        const DummyTable dummies = DummyTable::read(text);
        for (const TableGroup& g : dummies.groups())
            for (const QString& l : g.lines)
                rows << g.name + QLatin1Char(';') + l;
    } else if (table == QLatin1String("Components")) {
        const ComponentTable components = ComponentTable::read(text);
        for (const ComponentGroup& c : components.components())
            for (const TableGroup& g : c.groups)
                for (const QString& l : g.lines)
                    rows << c.name + QLatin1Char(';') + g.name + QLatin1Char(';') + l;
    } else {
        rows = ReadTypeTable(text).entries;
    }
    return rows;
}

QString shipLine(const ShipPackage& p)
{
    if (p.Deleted == 1)
        return QStringLiteral("uninstalled, waiting for the game's purge");
    if (p.Deleted != 0)
        return QStringLiteral("free");
    QString s = p.Name + QStringLiteral(" by ") + p.Author + QLatin1Char(' ') + p.Version;
    if (!p.Enabled)
        s += QStringLiteral(" (disabled)");
    return s;
}

ChangePreview::Slot::Held heldOf(const ShipPackage& p)
{
    return {true, p.Deleted, p.Name, p.Author, p.Version, p.Enabled != 0};
}

bool sameRecord(const ShipPackage& a, const ShipPackage& b)
{
    return a.Deleted == b.Deleted && a.Name == b.Name && a.Author == b.Author &&
           a.Version == b.Version && a.ID == b.ID && a.Data == b.Data && a.Enabled == b.Enabled;
}

void diffItems(const std::map<QString, GameState::Item>& before,
               const std::map<QString, GameState::Item>& after, QList<ChangePreview::Item>* out)
{
    for (const auto& [key, b] : before) {
        const auto it = after.find(key);
        if (it == after.end())
            out->append({b.name, QStringLiteral("removed"), b.size, -1});
        else if (it->second.digest != b.digest || it->second.size != b.size)
            out->append({it->second.name, QStringLiteral("replaced"), b.size, it->second.size});
    }
    for (const auto& [key, a] : after)
        if (!before.count(key))
            out->append({a.name, QStringLiteral("added"), -1, a.size});
    std::stable_sort(out->begin(), out->end(),
                     [](const ChangePreview::Item& x, const ChangePreview::Item& y) {
                         return x.name.compare(y.name, Qt::CaseInsensitive) < 0;
                     });
}

bool isFiller(const QString& row)
{
    static const QRegularExpression re(
        QStringLiteral(";HULLWRIGHT_(SPACER|DELETED|DISABLEDSHIP)_[0-9]+;?\\s*$"));
    return re.match(row).hasMatch();
}

QJsonValue sizeValue(qint64 size)
{
    return size < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(size);
}

} // namespace

GameState CaptureGameState(const QString& gameDir, const SystemRegistry* registry,
                           EntryDigests digests)
{
    GameState state;
    const QString modCatalog =
        ResolvePath(gameDir, QStringLiteral("mods/") + QLatin1String(InstallerEngine::kModName) +
                                 QStringLiteral(".cat"));
    const QRegularExpression textEntry(QStringLiteral("^t\\\\([0-9]+)9001\\.pck$"),
                                       QRegularExpression::CaseInsensitiveOption);
    if (QFileInfo(modCatalog).isFile()) {
        state.modCatalog = modCatalog;
        // Parsed once for all the entries read below.
        const CatalogReadHold hold(modCatalog);
        qint64 offset = 0;
        for (const CatalogEntryInfo& e : ListCatalog(modCatalog)) {
            GameState::Item item{e.name, e.size, {}, offset};
            offset += e.size;
            QByteArray content;
            const QRegularExpressionMatch text = textEntry.match(e.name);
            if (digests == EntryDigests::Deferred && !text.hasMatch()) {
                state.entries[e.name.toLower()] = item;
                continue;
            }
            QByteArray digest;
            const int code = streamContent(modCatalog + QStringLiteral("::") + e.name,
                                           ARC_TYPE_AUTO, &digest,
                                           text.hasMatch() ? &content : nullptr);
            if (digests == EntryDigests::Content)
                item.digest = digest;
            if (code != ARC_OK) {
                item.digest = "unreadable:" + QByteArray::number(code);
                state.problems << e.name + QStringLiteral(": ") +
                                      QString::fromLatin1(arc_error_message(code));
            } else if (text.hasMatch()) {
                TextCollector collector;
                QBuffer buffer(&content);
                buffer.open(QIODevice::ReadOnly);
                ParseTextPage(buffer, collector);
                state.texts[text.captured(1).toInt()] = collector.texts;
            }
            state.entries[e.name.toLower()] = item;
        }
    }
    captureFiles(gameDir, state);

    QFile reg(RegistryPath(gameDir));
    if (reg.open(QIODevice::ReadOnly)) {
        state.registryBytes = reg.readAll();
        ParseRegistryText(state.registryBytes, state.registry);
        state.registryRead = true;
    }
    if (registry)
        state.selectedMod = SelectedModValue(*registry);

    for (const char* table : kTables) {
        const QString name = QLatin1String(table);
        const QString entry = TypeTableEntry(name);
        const QByteArray text =
            tableText(gameDir, modCatalog, state.entries.count(entry.toLower()) > 0, entry,
                      state.selectedMod, &state.problems);
        state.tables[name] = tableRows(name, text);
    }
    return state;
}

ChangePreview DiffGameStates(const GameState& before, const GameState& after)
{
    ChangePreview p;
    diffItems(before.entries, after.entries, &p.entries);
    diffItems(before.files, after.files, &p.files);
    p.registryWritten = before.registryBytes != after.registryBytes;
    p.bufferBefore = before.registry.Buffer;
    p.bufferAfter = after.registry.Buffer;
    p.selectedModBefore = before.selectedMod;
    p.selectedModAfter = after.selectedMod;

    const QList<ShipPackage>& b = before.registry.Ships;
    const QList<ShipPackage>& a = after.registry.Ships;
    const int buffer = p.bufferAfter != 0 ? p.bufferAfter : p.bufferBefore;
    for (qsizetype k = 0; k < qMax(a.size(), b.size()); ++k) {
        ChangePreview::Slot s;
        s.position = int(k);
        s.slot = buffer != 0 ? buffer + int(k) : -1;
        if (k < b.size())
            s.before = shipLine(b[k]), s.heldBefore = heldOf(b[k]);
        if (k < a.size())
            s.after = shipLine(a[k]), s.heldAfter = heldOf(a[k]);
        if (k >= b.size()) {
            s.change = a[k].Deleted == 0 ? QStringLiteral("taken") : QStringLiteral("placeholder");
        } else if (k >= a.size()) {
            s.change = QStringLiteral("removed");
        } else if (sameRecord(b[k], a[k])) {
            continue;
        } else if (b[k].Deleted == 0 && a[k].Deleted == 0) {
            if (b[k].Enabled != a[k].Enabled && b[k].Name == a[k].Name &&
                b[k].Author == a[k].Author && b[k].Version == a[k].Version &&
                b[k].Data == a[k].Data)
                s.change = a[k].Enabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
            else
                s.change = QStringLiteral("replaced");
        } else if (a[k].Deleted == 0) {
            s.change = QStringLiteral("taken");
        } else if (b[k].Deleted == 0) {
            s.change = QStringLiteral("released");
        } else if (a[k].Deleted == 2) {
            s.change = QStringLiteral("freed");
        } else {
            s.change = QStringLiteral("changed");
        }
        p.shipSlots.append(s);
    }

    for (const char* t : kTables) {
        const QString table = QLatin1String(t);
        const QStringList rb = before.tables.value(table);
        const QStringList ra = after.tables.value(table);
        if (table == QLatin1String("TShips") || table == QLatin1String("TCockpits")) {
            for (qsizetype i = 0; i < qMax(ra.size(), rb.size()); ++i) {
                if (i < rb.size() && i < ra.size()) {
                    if (rb[i] != ra[i])
                        p.rows.append({table, int(i), QStringLiteral("changed"), rb[i], ra[i]});
                } else if (i < ra.size()) {
                    p.rows.append({table, int(i), QStringLiteral("added"), QString(), ra[i]});
                } else {
                    p.rows.append({table, int(i), QStringLiteral("removed"), rb[i], QString()});
                }
            }
        } else {
            // Grouped tables: a line counts by its group, wherever it stands.
            QMap<QString, int> count;
            for (const QString& r : rb)
                --count[r];
            for (const QString& r : ra)
                ++count[r];
            for (auto it = count.cbegin(); it != count.cend(); ++it) {
                for (int n = 0; n < qAbs(it.value()); ++n) {
                    if (it.value() > 0)
                        p.rows.append({table, -1, QStringLiteral("added"), QString(), it.key()});
                    else
                        p.rows.append({table, -1, QStringLiteral("removed"), it.key(), QString()});
                }
            }
        }
    }

    QList<int> languages = before.texts.keys();
    for (int l : after.texts.keys())
        if (!languages.contains(l))
            languages << l;
    std::sort(languages.begin(), languages.end());
    for (int language : languages) {
        const QMap<QString, QString> tb = before.texts.value(language);
        const QMap<QString, QString> ta = after.texts.value(language);
        QStringList keys = tb.keys();
        for (const QString& k : ta.keys())
            if (!tb.contains(k))
                keys << k;
        std::sort(keys.begin(), keys.end(), [](const QString& x, const QString& y) {
            const auto px = x.split(QLatin1Char('/')), py = y.split(QLatin1Char('/'));
            return std::pair(px[0].toInt(), px[1].toInt()) < std::pair(py[0].toInt(), py[1].toInt());
        });
        for (const QString& k : keys) {
            const QStringList parts = k.split(QLatin1Char('/'));
            ChangePreview::Text t{language, parts[0].toInt(), parts[1].toInt(), {}, {}, {}};
            if (!tb.contains(k)) {
                t.change = QStringLiteral("added");
                t.after = ta.value(k);
            } else if (!ta.contains(k)) {
                t.change = QStringLiteral("removed");
                t.before = tb.value(k);
            } else if (tb.value(k) != ta.value(k)) {
                t.change = QStringLiteral("changed");
                t.before = tb.value(k);
                t.after = ta.value(k);
            } else {
                continue;
            }
            p.texts.append(t);
        }
    }
    return p;
}

bool ChangePreview::isEmpty() const
{
    return entries.isEmpty() && files.isEmpty() && shipSlots.isEmpty() && rows.isEmpty() &&
           texts.isEmpty() && !registryWritten && bufferBefore == bufferAfter &&
           selectedModBefore == selectedModAfter;
}

ChangePreview ChangePreview::withoutClock() const
{
    ChangePreview p = *this;
    // Page 9001 text 2 is the time of the update; the registry keeps it too.
    p.texts.removeIf([](const Text& t) { return t.page == 9001 && t.id == 2; });
    p.registryWritten = false;
    return p;
}

QStringList ChangePreview::lines() const
{
    return lines(Wording());
}

QStringList ChangePreview::lines(const Wording& w) const
{
    QStringList out;
    const auto change = [&w](const QString& c) { return w.changes.value(c, c); };
    const auto bytes = [&w](qint64 size) { return FormatText(w.bytes, QString::number(size)); };
    const auto sized = [&](const Item& i) {
        if (i.change == QLatin1String("added"))
            return bytes(i.after);
        if (i.change == QLatin1String("removed"))
            return bytes(i.before);
        return QStringLiteral("%1 -> %2").arg(i.before).arg(bytes(i.after));
    };
    // The window's words for what a slot holds; the command line keeps the fields.
    const auto held = [&w](const Slot::Held& h, const QString& english) {
        if (!h.present || w.ship.isEmpty())
            return english;
        if (h.deleted == 1)
            return w.awaitingPurge;
        if (h.deleted != 0)
            return w.free;
        const QString ship = FormatText(w.ship, h.name, h.author, h.version);
        return h.enabled ? ship : FormatText(w.shipDisabled, ship);
    };
    for (const Item& i : entries)
        out << FormatText(w.entry, change(i.change), i.name, sized(i));
    for (const Item& i : files)
        out << FormatText(w.file, change(i.change), i.name, sized(i));
    for (const Slot& s : shipSlots) {
        const QString where = s.slot >= 0 ? FormatText(w.slot, QString::number(s.slot))
                                          : FormatText(w.position, QString::number(s.position));
        const QString before = held(s.heldBefore, s.before), after = held(s.heldAfter, s.after);
        QString what = s.after.isEmpty() ? before : after;
        if (s.change == QLatin1String("replaced"))
            what = before + QStringLiteral(" -> ") + after;
        out << FormatText(w.line, where, change(s.change), what);
    }
    if (bufferBefore != bufferAfter)
        out << FormatText(w.buffer, QString::number(bufferBefore), QString::number(bufferAfter));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const QString& text = r.change == QLatin1String("removed") ? r.before : r.after;
        if (r.index >= 0 && isFiller(text) && r.change != QLatin1String("changed")) {
            qsizetype j = i;
            while (j + 1 < rows.size() && rows[j + 1].table == r.table &&
                   rows[j + 1].change == r.change && rows[j + 1].index == rows[j].index + 1 &&
                   isFiller(r.change == QLatin1String("removed") ? rows[j + 1].before
                                                                 : rows[j + 1].after))
                ++j;
            if (j > i) {
                out << FormatText(w.line,
                                  FormatText(w.rowRun, r.table, QString::number(r.index),
                                             QString::number(rows[j].index)),
                                  change(r.change), FormatText(w.fillers, QString::number(j - i + 1)));
                i = j;
                continue;
            }
        }
        const QString where = r.index >= 0 ? FormatText(w.row, r.table, QString::number(r.index)) : r.table;
        if (r.change == QLatin1String("changed"))
            out << FormatText(w.changed, where, r.before, r.after);
        else
            out << FormatText(w.line, where, change(r.change), text);
    }
    for (const Text& t : texts) {
        const QString where = FormatText(w.text, QString::number(t.language), QString::number(t.page),
                                         QString::number(t.id));
        if (t.change == QLatin1String("changed"))
            out << FormatText(w.changed, where, t.before, t.after);
        else
            out << FormatText(w.line, where, change(t.change),
                              t.change == QLatin1String("added") ? t.after : t.before);
    }
    if (registryWritten)
        out << w.registryWritten;
    if (selectedModBefore != selectedModAfter)
        out << FormatText(w.selectedMod, selectedModBefore.isEmpty() ? w.none : selectedModBefore,
                          selectedModAfter);
    if (out.isEmpty())
        out << w.noChanges;
    return out;
}

QJsonObject ChangePreview::toJson() const
{
    const auto items = [](const QList<Item>& list) {
        QJsonArray a;
        for (const Item& i : list)
            a.append(QJsonObject{{QStringLiteral("name"), i.name},
                                 {QStringLiteral("change"), i.change},
                                 {QStringLiteral("sizeBefore"), sizeValue(i.before)},
                                 {QStringLiteral("sizeAfter"), sizeValue(i.after)}});
        return a;
    };
    QJsonArray slotArray, rowArray, textArray;
    for (const Slot& s : shipSlots)
        slotArray.append(QJsonObject{
            {QStringLiteral("position"), s.position},
            {QStringLiteral("slot"), s.slot < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(s.slot)},
            {QStringLiteral("change"), s.change},
            {QStringLiteral("before"), s.before},
            {QStringLiteral("after"), s.after}});
    for (const Row& r : rows)
        rowArray.append(QJsonObject{
            {QStringLiteral("table"), r.table},
            {QStringLiteral("index"), r.index < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(r.index)},
            {QStringLiteral("change"), r.change},
            {QStringLiteral("before"), r.before},
            {QStringLiteral("after"), r.after}});
    for (const Text& t : texts)
        textArray.append(QJsonObject{{QStringLiteral("language"), t.language},
                                     {QStringLiteral("page"), t.page},
                                     {QStringLiteral("id"), t.id},
                                     {QStringLiteral("change"), t.change},
                                     {QStringLiteral("before"), t.before},
                                     {QStringLiteral("after"), t.after}});
    return QJsonObject{
        {QStringLiteral("entries"), items(entries)},
        {QStringLiteral("files"), items(files)},
        {QStringLiteral("slots"), slotArray},
        {QStringLiteral("rows"), rowArray},
        {QStringLiteral("texts"), textArray},
        {QStringLiteral("registryWritten"), registryWritten},
        {QStringLiteral("buffer"), QJsonObject{{QStringLiteral("before"), bufferBefore},
                                               {QStringLiteral("after"), bufferAfter}}},
        {QStringLiteral("selectedMod"), QJsonObject{{QStringLiteral("before"), selectedModBefore},
                                                    {QStringLiteral("after"), selectedModAfter}}},
    };
}

// --- Registry value ---

namespace {
QString registryKey(const QString& searchPath, const QString& key)
{
    QStringList parts;
    for (const QString& p : (searchPath + QLatin1Char('/') + key)
                                .split(QRegularExpression(QStringLiteral("[/\\\\]")),
                                       Qt::SkipEmptyParts))
        parts << p.toLower();
    return parts.join(QLatin1Char('/'));
}
} // namespace

QString MemoryRegistry::readString(const QString& searchPath, const QString& key) const
{
    return m_values.value(registryKey(searchPath, key));
}

bool MemoryRegistry::writeString(const QString& searchPath, const QString& key, const QString& value)
{
    m_values[registryKey(searchPath, key)] = value;
    return true;
}

QString SelectedModValue(const SystemRegistry& registry)
{
    return registry.readString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"));
}

void SetSelectedModValue(SystemRegistry& registry, const QString& value)
{
    registry.writeString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"), value);
}

// --- Scratch copy ---

namespace {

bool copyTree(const QString& from, const QString& to, QString* error)
{
    if (!QDir().mkpath(to)) {
        *error = to + QStringLiteral(": cannot create");
        return false;
    }
    const bool inSlipway = QFileInfo(from).fileName() == QLatin1String("Slipway");
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(from).relativeFilePath(path);
        const QString target = to + QLatin1Char('/') + rel;
        // The lock is the program's; the change history (and its undo data) is not
        // what a dry run looks at.
        if (rel.compare(QLatin1String("writer.lock"), Qt::CaseInsensitive) == 0 ||
            (inSlipway && (rel == QLatin1String("history") || rel.startsWith(QLatin1String("history/")))))
            continue;
        const bool ok = it.fileInfo().isDir() ? QDir().mkpath(target) : QFile::copy(path, target);
        if (!ok) {
            *error = path + QStringLiteral(": cannot copy to the scratch folder");
            return false;
        }
    }
    return true;
}

bool linkOrCopy(const QFileInfo& info, const QString& target, QString* error)
{
#ifdef Q_OS_UNIX
    if (QFile::link(info.absoluteFilePath(), target))
        return true;
#endif
    if (info.isDir() ? copyTree(info.absoluteFilePath(), target, error)
                     : QFile::copy(info.absoluteFilePath(), target))
        return true;
    if (error->isEmpty())
        *error = info.absoluteFilePath() + QStringLiteral(": cannot link into the scratch folder");
    return false;
}

} // namespace

bool ScratchGame::sparseData(const QString& modsDir, const QFileInfo& data, const QString& to,
                             QString* error)
{
    const QString catalog =
        modsDir + QLatin1Char('/') + data.completeBaseName() + QStringLiteral(".cat");
    QFile in(data.absoluteFilePath());
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) ||
        !out.resize(in.size())) {
        *error = to + QStringLiteral(": cannot make the scratch data file");
        return false;
    }
    // No catalogue (or an unreadable one): nothing is known to be needed; the
    // engine finds the pair as broken as the game's.
    // The listing leaves out the fillers that hold freed room, so offsets summed from
    // it are right only when there are none; otherwise the data file is copied whole.
    bool fillers = false;
    if (ArcCatalogHandle* h = arc_open_catalog(
            QFile::encodeName(QString(catalog).replace(QLatin1Char('/'), QLatin1Char('\\')))
                .constData(),
            0)) {
        fillers = arc_catalog_unused(h) > 0;
        arc_close_catalog(h);
    }
    QList<CatalogEntryInfo> entries = ListCatalog(catalog);
    if (fillers)
        entries = {CatalogEntryInfo{QString(), in.size()}};
    qint64 offset = 0;
    QByteArray buffer;
    for (const CatalogEntryInfo& e : entries) {
        const QString lower = e.name.toLower();
        const qint64 at = offset;
        offset += e.size;
        const bool needed = fillers || e.size <= kSparseCopyLimit ||
                            lower.startsWith(QLatin1String("types\\")) ||
                            lower.startsWith(QLatin1String("t\\"));
        if (!needed) {
            m_leftOut.insert(lower);
            continue;
        }
        // A data file shorter than its catalogue says stays as short in its copy.
        for (qint64 done = 0; done < e.size && at + done < in.size();) {
            const qint64 n = qMin(qMin<qint64>(e.size - done, qint64(4) << 20),
                                  in.size() - at - done);
            buffer.resize(n);
            if (!in.seek(at + done) || in.read(buffer.data(), n) != n || !out.seek(at + done) ||
                out.write(buffer) != n) {
                *error = data.absoluteFilePath() + QStringLiteral(": cannot copy to the scratch folder");
                return false;
            }
            done += n;
        }
    }
    return true;
}

ScratchGame::~ScratchGame()
{
    // Links are removed as links: what they point to stays.
    if (!m_root.isEmpty())
        QDir(m_root).removeRecursively();
}

bool ScratchGame::create(const QString& gameDir, const QString& workFolder, QString* error,
                         ModCopy modCopy)
{
    QString why;
    m_gameDir = QDir::cleanPath(gameDir);
    if (!QDir().mkpath(workFolder)) {
        *error = workFolder + QStringLiteral(": cannot create");
        return false;
    }
    QTemporaryDir root(workFolder + QStringLiteral("/dryrun-XXXXXX"));
    if (!root.isValid()) {
        *error = workFolder + QStringLiteral(": cannot make a scratch folder: ") + root.errorString();
        return false;
    }
    root.setAutoRemove(false);
    m_root = root.path();
    m_dir = m_root + QStringLiteral("/game");
    QDir().mkpath(m_dir);
    const QFileInfoList top = QDir(m_gameDir).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : top) {
        const QString lower = info.fileName().toLower();
        const QString target = m_dir + QLatin1Char('/') + info.fileName();
        bool ok = true;
        if (info.isDir() && isWorkFolder(lower)) {
            ok = copyTree(info.absoluteFilePath(), target, &why);
        } else if (info.isDir() && lower == QLatin1String("mods")) {
            ok = QDir().mkpath(target);
            const QString modName = QString::fromLatin1(InstallerEngine::kModName).toLower();
            for (const QFileInfo& m : QDir(info.absoluteFilePath())
                                          .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                         QDir::Hidden | QDir::System)) {
                if (!ok)
                    break;
                const QString to = target + QLatin1Char('/') + m.fileName();
                const QString lowerFile = m.fileName().toLower();
                // The installer's own pair and its journal are written: real copies.
                if (modCopy == ModCopy::Sparse && m.isFile() &&
                    lowerFile == modName + QStringLiteral(".dat"))
                    ok = sparseData(info.absoluteFilePath(), m, to, &why);
                else if (m.completeBaseName().toLower() == modName ||
                         lowerFile.startsWith(modName + QLatin1Char('.')))
                    ok = m.isDir() ? copyTree(m.absoluteFilePath(), to, &why)
                                   : QFile::copy(m.absoluteFilePath(), to);
                else
                    ok = linkOrCopy(m, to, &why);
                if (!ok && why.isEmpty())
                    why = m.absoluteFilePath() + QStringLiteral(": cannot copy to the scratch folder");
            }
        } else {
            ok = linkOrCopy(info, target, &why);
        }
        if (!ok) {
            *error = why.isEmpty() ? target + QStringLiteral(": cannot be made") : why;
            return false;
        }
    }
    return true;
}

namespace {

QString dataFileOf(const QString& catalog)
{
    const QFileInfo info(catalog);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".dat");
}

// Stored bytes [offset, offset + size) of two data files are the same. Read in
// blocks; false when either cannot be read.
bool sameStored(QFile& a, qint64 offsetA, QFile& b, qint64 offsetB, qint64 size)
{
    QByteArray x, y;
    for (qint64 done = 0; done < size;) {
        const qint64 n = qMin<qint64>(size - done, qint64(1) << 20);
        x.resize(n);
        y.resize(n);
        if (!a.seek(offsetA + done) || a.read(x.data(), n) != n || !b.seek(offsetB + done) ||
            b.read(y.data(), n) != n || x != y)
            return false;
        done += n;
    }
    return true;
}

// Bytes [offset, offset + size) of a file read as zeros: holes are skipped
// without reading, written blocks are read.
bool readsAsZeros(QFile& file, qint64 offset, qint64 size)
{
    const qint64 end = offset + size;
    if (end > file.size())
        return false;
    QByteArray block;
    for (qint64 pos = offset; pos < end;) {
        qint64 dataEnd = end;
#ifdef Q_OS_UNIX
        const off_t data = ::lseek(file.handle(), off_t(pos), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            return true; // a hole up to the end of the file
        if (data >= 0) {
            if (data >= end)
                return true;
            pos = data;
            const off_t hole = ::lseek(file.handle(), data, SEEK_HOLE);
            if (hole > data && hole < end)
                dataEnd = hole;
        }
#endif
        while (pos < dataEnd) {
            const qint64 n = qMin<qint64>(dataEnd - pos, qint64(1) << 20);
            block.resize(n);
            // Seeked by the file object itself: the lseek calls above moved the
            // descriptor behind its back.
            if (!file.seek(pos) || file.read(block.data(), n) != n)
                return false;
            for (char c : std::as_const(block))
                if (c != 0)
                    return false;
            pos += n;
        }
    }
    return true;
}

} // namespace

void SettleEntryDigests(GameState& before, GameState& after, const ScratchGame& scratch)
{
    if (before.modCatalog.isEmpty() || after.modCatalog.isEmpty())
        return;
    QFile real(dataFileOf(before.modCatalog));
    QFile copy(dataFileOf(after.modCatalog));
    const bool open = real.open(QIODevice::ReadOnly | QIODevice::Unbuffered) &&
                      copy.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    const CatalogReadHold holdReal(before.modCatalog);
    const CatalogReadHold holdCopy(after.modCatalog);
    for (auto& [key, a] : after.entries) {
        const auto it = before.entries.find(key);
        if (it == before.entries.end())
            continue;
        GameState::Item& b = it->second;
        // A different size is a change without reading; digests already taken stay.
        if (a.size != b.size || (!a.digest.isEmpty() && !b.digest.isEmpty()))
            continue;
        if (open && a.offset >= 0 && b.offset >= 0 &&
            (scratch.leftOut(key) ? readsAsZeros(copy, a.offset, a.size)
                                  : sameStored(real, b.offset, copy, a.offset, a.size))) {
            a.digest = b.digest = QByteArrayLiteral("unchanged");
            continue;
        }
        // Packing picks a new key byte every time: the content decides.
        if (streamContent(before.modCatalog + QStringLiteral("::") + b.name, ARC_TYPE_AUTO,
                          &b.digest) != ARC_OK)
            b.digest = "unreadable";
        if (streamContent(after.modCatalog + QStringLiteral("::") + a.name, ARC_TYPE_AUTO,
                          &a.digest) != ARC_OK)
            a.digest = "unreadable";
    }
}

QString ScratchGame::toGame(QString text) const
{
    if (m_dir.isEmpty())
        return text;
    text.replace(m_dir, m_gameDir);
    return text.replace(QDir::toNativeSeparators(m_dir), QDir::toNativeSeparators(m_gameDir));
}

// --- Dry run ---

namespace {

// While the scratch engine opens its game, questions get their last button
// ("no": the settings stay as the caller has them); afterwards they go through.
class DryRunPrompter : public Prompter
{
public:
    explicit DryRunPrompter(Prompter* target) : m_target(target) {}
    bool forward = false;
    int ask(Icon icon, const QString& caption, const QString& text, const QStringList& buttons,
            int defaultButton, int escapeButton) override
    {
        if (forward && m_target)
            return m_target->ask(icon, caption, text, buttons, defaultButton, escapeButton);
        return buttons.isEmpty() ? 0 : int(buttons.size()) - 1;
    }

private:
    Prompter* m_target;
};

} // namespace

QString DryRunWorkFolder(const QString& programDir)
{
    return programDir + QStringLiteral("/temp");
}

DryRunResult DryRun(const QString& gameDir, InstallerEngine::Services services,
                    InstallerSettings settings,
                    const std::function<bool(InstallerEngine&, QStringList*)>& operation,
                    const InstallerEngine* stateFrom, ScratchGame::ModCopy modCopy)
{
    DryRunResult result;
    GameState before = CaptureGameState(gameDir, services.systemRegistry, EntryDigests::Deferred);
    ScratchGame scratch;
    if (!scratch.create(gameDir, DryRunWorkFolder(services.programDir), &result.error, modCopy)) {
        result.stop = DryRunResult::Stop::ScratchCopy;
        result.errorPath = DryRunWorkFolder(services.programDir);
        return result;
    }
    MemoryRegistry memory;
    SetSelectedModValue(memory, before.selectedMod);
    DryRunPrompter prompter(services.prompter);
    const auto log = services.log;
    services.systemRegistry = &memory;
    services.prompter = &prompter;
    services.progress = nullptr;
    services.status = nullptr;
    services.log = [log, &scratch](const QString& line) {
        if (log)
            log(QStringLiteral("(DRYRUN) ") + scratch.toGame(line));
    };
    // Nothing outside the scratch copy: no other game folders, no reader log of its own.
    settings.installDirs.clear();
    settings.debugLog = false;
    {
        InstallerEngine engine(services, settings);
        engine.setGameDir(scratch.dir());
        if (!engine.writeRefusal().isEmpty()) {
            result.error = scratch.toGame(engine.writeRefusal());
            result.stop = DryRunResult::Stop::GameLocked;
            return result;
        }
        if (stateFrom)
            engine.adoptMemoryState(*stateFrom);
        prompter.forward = true;
        QStringList outcome;
        result.succeeded = operation(engine, &outcome);
        for (const QString& line : std::as_const(outcome))
            result.outcome << scratch.toGame(line);
    }
    result.ran = true;
    GameState after = CaptureGameState(scratch.dir(), &memory, EntryDigests::Deferred);
    SettleEntryDigests(before, after, scratch);
    result.preview = DiffGameStates(before, after);
    return result;
}
