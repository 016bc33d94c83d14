// Text page parser. Whatever it reads must survive the installer's writer: a
// page written from the parsed texts reads back to the same texts (less the
// characters no XML document can hold, which the writer leaves out).
#include "textpages.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_textpage: %s\n", what);
        std::abort();
    }
}

bool parse(const QByteArray& data, TextPageHandler& handler)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return ParseTextPage(buffer, handler);
}

QString writable(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += text.at(i);
            out += text.at(++i);
        } else if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                   (c >= 0xE000 && c <= 0xFFFD)) {
            out += text.at(i);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    GameTexts game;
    QList<int> wanted;
    for (int id = 0; id < 32; ++id)
        wanted.append(id);
    game.setWantedShipTexts(wanted);
    game.setWantedTexts2006(wanted);
    game.setEquipmentTextNumbers({40, 41});
    parse(bytes, game);
    require(game.shipTexts().size() == wanted.size(), "ship list changed size");
    require(game.table1999().size() == GameTexts::kTable1999Size, "table 1999 changed size");
    require(game.table1266().size() == GameTexts::kTable1266Size, "table 1266 changed size");
    for (int table = 0; table < GameTexts::kRankTables; ++table)
        require(game.rankTable(table).size() == GameTexts::kRanksPerTable, "rank table size");

    TextLibrary library;
    library.pinLanguage(44);
    library.setPages({17});
    parse(bytes, library);
    QList<PageText> texts;
    for (int id = 0; id < 64; ++id) {
        if (const std::optional<QString> t = library.text(44, 17, id))
            texts.append({id, *t});
    }
    if (texts.isEmpty())
        return 0;
    TextLibrary back;
    require(parse(BuildTextPage(44, texts, {}), back), "a written page does not parse");
    for (const PageText& t : texts)
        require(back.text(44, 17, t.id) == writable(t.text), "a written text reads back changed");
    return 0;
}
