// The game's text pages: XML files under the game folder "t", one set per
// language, addressing every displayed text by page number and text number.
//
//   <language id="44">
//     <page id="17" title="...">
//       <t id="1000">Name</t>
//
// Element and attribute names are matched without regard to case. A file's base
// name is its language followed by a four-digit file number ("440001" is the
// game's main file of language 44, "449001" the installer's own file); files are
// plain (".xml") or packed (".pck").
//
// Reading streams the file (no document tree): pages run to several MB. Texts
// reach a TextPageHandler one by one; a text read later replaces one read earlier.
#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QIODevice;

// Receives the texts of parsed pages.
class TextPageHandler
{
public:
    virtual ~TextPageHandler() = default;
    // The root element's id; -1 when it has none or it is not a number.
    virtual void beginLanguage(int language) {}
    // Pages the handler does not want are skipped without building their texts.
    virtual bool wantsPage(int page) const { return true; }
    // One text: the character content of a <t> element, CDATA and entities
    // included, also that of elements nested in it.
    virtual void addText(int page, int id, QString&& text) = 0;
};

// Parses one page. False (with a reason in *error) when the file is not
// well-formed; the texts handed over before the fault stay with the handler.
bool ParseTextPage(QIODevice& device, TextPageHandler& handler, QString* error = nullptr);
bool ParseTextPageFile(const QString& path, TextPageHandler& handler, QString* error = nullptr);

// A text reference: a text that begins with "{17," stands for the page 17 text
// whose number follows, up to "}". The number, or nothing when text is not one.
std::optional<int> TextReference(const QString& text);

// Every text of every page read, by language, page and number.
class TextLibrary : public TextPageHandler
{
public:
    // Keeps only these pages (all when empty); set before parsing.
    void setPages(const QSet<int>& pages) { m_pages = pages; }
    // Files the loader picked by name belong to that language whatever their root
    // element says; with a pinned language the root's id is ignored.
    void pinLanguage(int language) { m_pinned = language; }

    std::optional<QString> text(int language, int page, int id) const;
    // As text(), with a "{17,N}" reference replaced by page 17 text N of the same
    // language when there is one (once: the replacement is not resolved again).
    std::optional<QString> resolvedText(int language, int page, int id) const;
    qsizetype size() const { return m_texts.size(); }
    void clear() { m_texts.clear(); }

    void beginLanguage(int language) override;
    bool wantsPage(int page) const override;
    void addText(int page, int id, QString&& text) override;

private:
    struct Key
    {
        int language;
        int page;
        int id;
        friend bool operator==(const Key&, const Key&) = default;
        friend size_t qHash(const Key& k, size_t seed = 0) noexcept
        {
            return qHashMulti(seed, k.language, k.page, k.id);
        }
    };
    QHash<Key, QString> m_texts;
    QSet<int> m_pages;
    int m_pinned = -1;
    int m_language = -1;
};

// The texts the authoring program shows: ship names and descriptions, equipment
// names, two small tables and the rank names. Everything else is skipped.
//
//   pages 17, 300017     wanted ship texts (list positions); otherwise names of
//                        equipment whose name text number was registered
//   pages 2006, 302006   the second list of wanted texts
//   page 1999            texts 10..19 (position = number - 10)
//   pages 1266, 301266   texts 1..19 (position = number - 1)
//   pages 300023..300028 rank tables 0..5, texts 95..110 (position = 110 - number,
//                        so 110 comes first)
class GameTexts : public TextPageHandler
{
public:
    static constexpr int kTable1999Size = 10;
    static constexpr int kTable1266Size = 19;
    static constexpr int kRankTables = 6;
    static constexpr int kRanksPerTable = 16;

    GameTexts();

    // The lists say which text number each position wants; a number may appear
    // at several positions. Setting a list keeps the texts already read.
    void setWantedShipTexts(const QList<int>& numbers) { m_shipNumbers = numbers; }
    void setWantedTexts2006(const QList<int>& numbers) { m_numbers2006 = numbers; }
    // Name text numbers of the laser, shield and missile types (equipment tables).
    void setEquipmentTextNumbers(const QSet<int>& numbers) { m_equipmentNumbers = numbers; }

    // Ship texts with "{17,N}" references resolved among the wanted ship texts:
    // when text N was collected the reference shows it, else the reference
    // itself. Resolved on reading, so a text replaced by a later file is seen by
    // the texts that refer to it. Positions without a text read as empty.
    QString shipText(qsizetype position) const;
    QStringList shipTexts() const;
    QString text2006(qsizetype position) const;
    QStringList texts2006() const;
    // The collected name of an equipment type, or nothing.
    std::optional<QString> equipmentName(int textNumber) const;
    const QStringList& table1999() const { return m_table1999; }
    const QStringList& table1266() const { return m_table1266; }
    // Empty list for a table number outside 0..5.
    QStringList rankTable(int table) const;

    // Forgets every text read (the wanted lists stay).
    void clearTexts();

    bool wantsPage(int page) const override;
    void addText(int page, int id, QString&& text) override;

private:
    QString resolved(const QString& text) const;

    QList<int> m_shipNumbers;
    QList<int> m_numbers2006;
    QSet<int> m_equipmentNumbers;
    QHash<int, QString> m_shipTexts; // by text number
    QHash<int, QString> m_texts2006;
    QHash<int, QString> m_equipmentNames;
    QStringList m_table1999;
    QStringList m_table1266;
    QList<QStringList> m_ranks;
};

// Where the loader writes its step messages (one line each); may be empty.
using TextLog = std::function<void(const QString&)>;

struct GetTextOptions
{
    QString gameDir;
    // Folder for the files unpacked while loading ("textfile.txt", "text.xml");
    // created when missing; nothing is read without it. Both are deleted after use.
    QString workDir;
    QString language = QStringLiteral("44"); // base language
    bool looseFiles = true;                  // also read the game's loose "t" folder
    // A mod catalogue whose "t\" entries are read last, over everything else, as
    // the game reads its selected mod; empty (the default) or missing: none.
    QString modCatalog;
};

// Loads the texts of the base language: the "t\" entries of the numbered
// catalogues 01, 02, ... (up to the first missing one) in ascending order, then
// the loose "t" folder ("*.xml", then "*.pck"), so later files replace earlier
// texts. Returns the number of files handed to the parser. Log lines:
//   "GetText() Dir = " + game directory
//   "GetText() FileName = " + catalogue name (also for the missing one that ends the scan)
//   "GetText() Checking Catfile: " + catalogue path + ", Files = " + entry count
//   "GetText() Extracting file: " + entry name + ", Save To: " + work file
//   "GetText() Getting Text from file"            (after a successful extraction)
//   "GetText() Text file too large, skipped: " + name + " (N bytes, the limit is M bytes)"
//                                                 (an unpacked page above InMemoryFileLimit()
//                                                 is not parsed and not counted)
int GetText(const GetTextOptions& options, TextPageHandler& handler, const TextLog& log = {});

// The language of a text file: its base name without the last four characters
// ("440001.pck" -> "44"); empty when the base name is shorter than five.
QString TextFileLanguage(const QString& fileName);

// Languages with a main text file (file number 0001): loose ones in the "t"
// folder first, then those in the catalogues from the highest down, each once.
// Nothing is added when none is found; the caller's default is "44".
QStringList DiscoverTextLanguages(const QString& gameDir);

// Writing the installer's page. Texts are written as element content with "&",
// "<" and ">" escaped, line breaks as character references (one line per text),
// and characters XML cannot carry dropped.
struct PageText
{
    int id = 0;
    QString text;
};

// "%d9001.xml": the installer's page of a language.
QString TextPageFileName(int language);
// The whole file, CR LF line ends, UTF-8: page 17 with the ship texts, page 9001
// with the script texts, each in the order given.
QByteArray BuildTextPage(int language, const QList<PageText>& shipTexts,
                         const QList<PageText>& scriptTexts);
// Writes BuildTextPage's result to path (replaced as a whole). False, with a
// reason in *error, when it cannot be written.
bool WriteTextPage(const QString& path, int language, const QList<PageText>& shipTexts,
                   const QList<PageText>& scriptTexts, QString* error = nullptr);
