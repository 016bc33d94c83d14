#include "textpages.h"

#include "archivefile.h"
#include "gamedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

bool isName(QStringView name, QLatin1StringView wanted)
{
    return name.size() == wanted.size() && name.compare(wanted, Qt::CaseInsensitive) == 0;
}

// The integer value of the "id" attribute, or -1.
int idAttribute(const QXmlStreamReader& xml)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    for (const QXmlStreamAttribute& a : attributes) {
        if (isName(a.name(), QLatin1StringView("id"))) {
            bool ok = false;
            const int value = a.value().trimmed().toInt(&ok);
            return ok && value >= 0 ? value : -1;
        }
    }
    return -1;
}

} // namespace

bool ParseTextPage(QIODevice& device, TextPageHandler& handler, QString* error)
{
    QXmlStreamReader xml(&device);
    xml.setNamespaceProcessing(false);
    int page = -1;
    int textId = -1; // >= 0 while inside a <t> of a wanted page
    int nested = 0;  // elements open inside that <t>
    QString text;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (textId >= 0) {
                ++nested;
                break;
            }
            const QStringView name = xml.name();
            if (page >= 0 && isName(name, QLatin1StringView("t"))) {
                textId = idAttribute(xml);
                if (textId < 0)
                    xml.skipCurrentElement();
                nested = 0;
            } else if (isName(name, QLatin1StringView("page"))) {
                page = idAttribute(xml);
                if (page >= 0 && !handler.wantsPage(page)) {
                    xml.skipCurrentElement();
                    page = -1;
                }
            } else if (isName(name, QLatin1StringView("language"))) {
                handler.beginLanguage(idAttribute(xml));
            }
            break;
        }
        case QXmlStreamReader::Characters:
            if (textId >= 0)
                text.append(xml.text());
            break;
        case QXmlStreamReader::EndElement:
            if (textId >= 0) {
                if (nested > 0) {
                    --nested;
                } else {
                    handler.addText(page, textId, std::move(text));
                    text = QString();
                    textId = -1;
                }
            } else if (isName(xml.name(), QLatin1StringView("page"))) {
                page = -1;
            }
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) {
        if (error)
            *error = QStringLiteral("line %1, column %2: %3")
                         .arg(xml.lineNumber())
                         .arg(xml.columnNumber())
                         .arg(xml.errorString());
        return false;
    }
    return true;
}

bool ParseTextPageFile(const QString& path, TextPageHandler& handler, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return ParseTextPage(file, handler, error);
}

std::optional<int> TextReference(const QString& text)
{
    if (!text.startsWith(QLatin1StringView("{17,")))
        return std::nullopt;
    const qsizetype close = text.indexOf(QLatin1Char('}'), 4);
    if (close < 0)
        return std::nullopt;
    bool ok = false;
    const int number = QStringView(text).sliced(4, close - 4).trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

// --- TextLibrary ---

std::optional<QString> TextLibrary::text(int language, int page, int id) const
{
    const auto it = m_texts.constFind(Key{language, page, id});
    if (it == m_texts.cend())
        return std::nullopt;
    return *it;
}

std::optional<QString> TextLibrary::resolvedText(int language, int page, int id) const
{
    std::optional<QString> found = text(language, page, id);
    if (!found)
        return found;
    if (const std::optional<int> ref = TextReference(*found)) {
        if (std::optional<QString> target = text(language, 17, *ref))
            return target;
    }
    return found;
}

void TextLibrary::beginLanguage(int language)
{
    m_language = language;
}

bool TextLibrary::wantsPage(int page) const
{
    return m_pages.isEmpty() || m_pages.contains(page);
}

void TextLibrary::addText(int page, int id, QString&& text)
{
    m_texts.insert(Key{m_pinned >= 0 ? m_pinned : m_language, page, id}, std::move(text));
}

// --- GameTexts ---

namespace {

constexpr int kRankFirstPage = 300023;
constexpr int kRankTopNumber = 110;

QString listText(const QList<int>& numbers, const QHash<int, QString>& texts, qsizetype position)
{
    if (position < 0 || position >= numbers.size())
        return QString();
    return texts.value(numbers.at(position));
}

} // namespace

GameTexts::GameTexts()
{
    clearTexts();
}

void GameTexts::clearTexts()
{
    m_shipTexts.clear();
    m_texts2006.clear();
    m_equipmentNames.clear();
    m_table1999 = QStringList(kTable1999Size);
    m_table1266 = QStringList(kTable1266Size);
    m_ranks = QList<QStringList>(kRankTables, QStringList(kRanksPerTable));
}

QString GameTexts::resolved(const QString& text) const
{
    if (const std::optional<int> ref = TextReference(text)) {
        const auto it = m_shipTexts.constFind(*ref);
        if (it != m_shipTexts.cend())
            return *it;
    }
    return text;
}

QString GameTexts::shipText(qsizetype position) const
{
    return resolved(listText(m_shipNumbers, m_shipTexts, position));
}

QStringList GameTexts::shipTexts() const
{
    QStringList result;
    result.reserve(m_shipNumbers.size());
    for (qsizetype i = 0; i < m_shipNumbers.size(); ++i)
        result.append(shipText(i));
    return result;
}

QString GameTexts::text2006(qsizetype position) const
{
    return listText(m_numbers2006, m_texts2006, position);
}

QStringList GameTexts::texts2006() const
{
    QStringList result;
    result.reserve(m_numbers2006.size());
    for (qsizetype i = 0; i < m_numbers2006.size(); ++i)
        result.append(text2006(i));
    return result;
}

std::optional<QString> GameTexts::equipmentName(int textNumber) const
{
    const auto it = m_equipmentNames.constFind(textNumber);
    if (it == m_equipmentNames.cend())
        return std::nullopt;
    return *it;
}

QStringList GameTexts::rankTable(int table) const
{
    return table >= 0 && table < kRankTables ? m_ranks.at(table) : QStringList();
}

bool GameTexts::wantsPage(int page) const
{
    switch (page) {
    case 17:
    case 300017:
    case 2006:
    case 302006:
    case 1999:
    case 1266:
    case 301266:
        return true;
    default:
        return page >= kRankFirstPage && page < kRankFirstPage + kRankTables;
    }
}

void GameTexts::addText(int page, int id, QString&& text)
{
    switch (page) {
    case 17:
    case 300017:
        // The wanted list is small; a linear look beats keeping a second index in step.
        if (m_shipNumbers.contains(id))
            m_shipTexts.insert(id, std::move(text));
        else if (m_equipmentNumbers.contains(id))
            m_equipmentNames.insert(id, std::move(text));
        return;
    case 2006:
    case 302006:
        if (m_numbers2006.contains(id))
            m_texts2006.insert(id, std::move(text));
        return;
    case 1999:
        if (id >= 10 && id < 10 + kTable1999Size)
            m_table1999[id - 10] = std::move(text);
        return;
    case 1266:
    case 301266:
        if (id >= 1 && id <= kTable1266Size)
            m_table1266[id - 1] = std::move(text);
        return;
    default:
        break;
    }
    const int table = page - kRankFirstPage;
    const int position = kRankTopNumber - id;
    if (table >= 0 && table < kRankTables && position >= 0 && position < kRanksPerTable)
        m_ranks[table][position] = std::move(text);
}

// --- Loading ---

namespace {

// File name without folders (either slash) and without its last extension.
QString textFileBase(const QString& fileName)
{
    const qsizetype slash =
        std::max(fileName.lastIndexOf(QLatin1Char('\\')), fileName.lastIndexOf(QLatin1Char('/')));
    QString base = fileName.sliced(slash + 1);
    const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        base.truncate(dot);
    return base;
}

} // namespace

QString TextFileLanguage(const QString& fileName)
{
    const QString base = textFileBase(fileName);
    return base.size() > 4 ? base.left(base.size() - 4) : QString();
}

namespace {

bool isTextEntry(const QString& name)
{
    return name.size() > 2 && name.startsWith(QLatin1StringView("t\\"), Qt::CaseInsensitive);
}

bool hasSuffix(const QString& name, QLatin1StringView suffix)
{
    return name.endsWith(suffix, Qt::CaseInsensitive);
}

// The regular files of the loose "t" folder, in name order; empty when it is missing.
QStringList looseTextFiles(const QString& gameDir)
{
    const QDir folder(ResolvePath(gameDir, QStringLiteral("t")));
    if (!folder.exists())
        return {};
    return folder.entryList(QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
}

} // namespace

int GetText(const GetTextOptions& options, TextPageHandler& handler, const TextLog& log)
{
    const auto say = [&log](const QString& line) {
        if (log)
            log(line);
    };
    // Without a work folder the unpacked files would land in the file system root.
    if (options.workDir.isEmpty() || !QDir().mkpath(options.workDir))
        return 0;
    const QString extracted = options.workDir + QStringLiteral("/textfile.txt");
    int files = 0;
    // The handler keeps what it reads; a page larger than anything the programs
    // hold in memory is skipped rather than read.
    const auto fits = [&say](const QString& path, const QString& name) {
        const qint64 size = QFileInfo(path).size();
        if (size <= InMemoryFileLimit())
            return true;
        say(QStringLiteral("GetText() Text file too large, skipped: %1 (%2 bytes, the limit is "
                           "%3 bytes)")
                .arg(name)
                .arg(size)
                .arg(InMemoryFileLimit()));
        return false;
    };

    const auto readCatalog = [&](const QString& catalog) {
        const QList<CatalogEntryInfo> entries = ListCatalog(catalog);
        say(QStringLiteral("GetText() Checking Catfile: ") + catalog +
            QStringLiteral(", Files = ") + QString::number(entries.size()));
        for (const CatalogEntryInfo& entry : entries) {
            if (!isTextEntry(entry.name) || TextFileLanguage(entry.name) != options.language)
                continue;
            say(QStringLiteral("GetText() Extracting file: ") + entry.name +
                QStringLiteral(", Save To: ") + extracted);
            if (!ExtractArchiveFile(catalog + QStringLiteral("::") + entry.name, extracted, false,
                                    false))
                continue;
            if (fits(extracted, entry.name)) {
                say(QStringLiteral("GetText() Getting Text from file"));
                ParseTextPageFile(extracted, handler);
                ++files;
            }
            QFile::remove(extracted);
        }
    };

    say(QStringLiteral("GetText() Dir = ") + options.gameDir);
    for (int n = 1; n <= 99; ++n) {
        const QString name = CatalogName(n);
        say(QStringLiteral("GetText() FileName = ") + name);
        const QString catalog = ResolvePath(options.gameDir, name);
        if (!QFileInfo(catalog).isFile())
            break;
        readCatalog(catalog);
    }
    const auto readMod = [&] {
        if (!options.modCatalog.isEmpty() && QFileInfo(options.modCatalog).isFile())
            readCatalog(options.modCatalog);
        return files;
    };

    if (!options.looseFiles)
        return readMod();
    const QString folder = ResolvePath(options.gameDir, QStringLiteral("t"));
    const QStringList loose = looseTextFiles(options.gameDir);
    const QString unpacked = options.workDir + QStringLiteral("/text.xml");
    for (const QLatin1StringView suffix : {QLatin1StringView(".xml"), QLatin1StringView(".pck")}) {
        for (const QString& name : loose) {
            if (!hasSuffix(name, suffix) || TextFileLanguage(name) != options.language)
                continue;
            const QString path = folder + QLatin1Char('/') + name;
            if (suffix == QLatin1StringView(".xml")) {
                if (!fits(path, name))
                    continue;
                ParseTextPageFile(path, handler);
            } else {
                // A file that does not unpack is left as an empty one; nothing to read.
                bool skipped = false;
                if (UnpackDiskFile(path, unpacked)) {
                    skipped = !fits(unpacked, name);
                    if (!skipped)
                        ParseTextPageFile(unpacked, handler);
                }
                QFile::remove(unpacked);
                if (skipped)
                    continue;
            }
            ++files;
        }
    }
    return readMod();
}

QStringList DiscoverTextLanguages(const QString& gameDir)
{
    QStringList languages;
    const auto add = [&languages](const QString& fileName) {
        const QString language = TextFileLanguage(fileName);
        if (!language.isEmpty() && textFileBase(fileName).endsWith(QLatin1StringView("0001")) &&
            !languages.contains(language))
            languages.append(language);
    };
    for (const QString& name : looseTextFiles(gameDir)) {
        if (hasSuffix(name, QLatin1StringView(".pck")) ||
            hasSuffix(name, QLatin1StringView(".xml")))
            add(name);
    }
    for (const GameEntry& entry : EnumerateGameEntries(gameDir)) {
        if (isTextEntry(entry.name))
            add(entry.name);
    }
    return languages;
}

// --- Writing ---

QString TextPageFileName(int language)
{
    return QString::number(language) + QStringLiteral("9001.xml");
}

namespace {

bool isXmlChar(char16_t c)
{
    return c == 0x9 || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
}

// Element content that reads back as the same text: markup characters escaped,
// line breaks as references (a raw CR would be folded into LF by any reader and
// would break the one-line-per-text layout), and characters that no XML 1.0
// document may hold (controls, unpaired surrogates) left out.
QByteArray escapedContent(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case u'&':
            out += QLatin1StringView("&amp;");
            break;
        case u'<':
            out += QLatin1StringView("&lt;");
            break;
        case u'>':
            out += QLatin1StringView("&gt;");
            break;
        case u'\r':
            out += QLatin1StringView("&#13;");
            break;
        case u'\n':
            out += QLatin1StringView("&#10;");
            break;
        default:
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                out += c;
                out += text.at(++i);
            } else if (isXmlChar(c.unicode())) {
                out += c;
            }
            break;
        }
    }
    return out.toUtf8();
}

void appendPage(QByteArray& out, const char* header, const QList<PageText>& texts)
{
    out += header;
    out += "\r\n";
    for (const PageText& t : texts) {
        out += " <t id=\"" + QByteArray::number(t.id) + "\">";
        out += escapedContent(t.text);
        out += "</t>\r\n";
    }
    out += "</page>\r\n";
}

} // namespace

QByteArray BuildTextPage(int language, const QList<PageText>& shipTexts,
                         const QList<PageText>& scriptTexts)
{
    QByteArray out;
    out.reserve(256 + 64 * (shipTexts.size() + scriptTexts.size()));
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    out += "<language id=\"" + QByteArray::number(language) + "\">\r\n";
    appendPage(out, "<page id=\"17\" title=\"ship names and descriptions\">", shipTexts);
    appendPage(out, "<page id=\"9001\" title=\"Ship ids for scripts\">", scriptTexts);
    out += "</language>\r\n";
    return out;
}

bool WriteTextPage(const QString& path, int language, const QList<PageText>& shipTexts,
                   const QList<PageText>& scriptTexts, QString* error)
{
    const QByteArray content = BuildTextPage(language, shipTexts, scriptTexts);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
