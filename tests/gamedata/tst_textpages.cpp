// Game text pages: the streaming parser, the collected tables, the loader's
// catalogue order and log, language discovery, the installer's page writer and
// the drydock-cli "text" command.

#include "arc.h"
#include "archivefile.h"
#include "textpages.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool parse(const QByteArray& xml, TextPageHandler& handler)
{
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    return ParseTextPage(buffer, handler);
}

// One page 17 file of language 44 with the given texts.
QByteArray page17(const QList<PageText>& texts, int language = 44)
{
    QByteArray xml = "<language id=\"" + QByteArray::number(language) + "\"><page id=\"17\">";
    for (const PageText& t : texts)
        xml += "<t id=\"" + QByteArray::number(t.id) + "\">" + t.text.toUtf8() + "</t>";
    return xml + "</page></language>";
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Stores xml packed under "t\<base>.pck" in a catalogue of the game folder.
void addText(const QString& gameDir, const char* catalog, const char* base, const QByteArray& xml)
{
    const QString cat = gameDir + QLatin1Char('/') + QLatin1String(catalog);
    QVERIFY(EnsureCatalog(cat));
    QVERIFY(WriteArchiveFile(xml.constData(), xml.size(),
                             cat + QStringLiteral("::t\\") + QLatin1String(base) + ".xml", true,
                             false));
}

std::optional<QString> cliText(const QStringList& args, int* code)
{
    QProcess p;
    p.start(QStringLiteral(DRYDOCK_CLI_PATH), QStringList{QStringLiteral("text")} + args);
    *code = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QByteArray out = p.readAllStandardOutput();
    if (*code != 0 || !out.endsWith('\n'))
        return std::nullopt;
    return QString::fromUtf8(out.chopped(1));
}

} // namespace

class TestTextPages : public QObject
{
    Q_OBJECT

private slots:
    void parsesRealWorldMarkup();
    void malformedFileKeepsEarlierTexts();
    void readsDeclaredEncodings_data();
    void libraryKeepsTheLastCopyOfEachText();
    void readsDeclaredEncodings();
    void collectsTheTablesByPage();
    void resolvesReferencesAmongShipTexts();
    void writerLayoutIsExact();
    void writtenPageReadsBackTheSameTexts();
    void getTextReadsCataloguesInOrderThenLooseFiles();
    void getTextSkipsPagesTooLargeToHold();
    void discoversLanguages();
    void cliPrintsTheResolvedText();
};

void TestTextPages::parsesRealWorldMarkup()
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- comment --><?editor keep?>
<Language ID="44" dialect="x">
 <PAGE Id="17" title="a" unknown="1">
  <T iD="1">Fish &amp; Chips &#x263A; &lt;b&gt;</T>
  <t id="2"><![CDATA[raw <b>&amp;</b>]]> tail</t>
  <t id="3">a<b>bold</b>c<t id="99">n</t>d</t>
  <t>no id</t><t id="x">bad id</t>
  <note><t id="4">in an unknown element of the page</t></note>
  <t id="5"/>
 </PAGE>
 <t id="6">outside every page</t>
 <page id="300017"><t id="1">later</t></page>
</Language>)";
    TextLibrary lib;
    QVERIFY(parse(xml, lib));
    QCOMPARE(lib.text(44, 17, 1), QStringLiteral("Fish & Chips \u263A <b>"));
    QCOMPARE(lib.text(44, 17, 2), QStringLiteral("raw <b>&amp;</b> tail"));
    QCOMPARE(lib.text(44, 17, 3), QStringLiteral("aboldcnd"));
    QCOMPARE(lib.text(44, 17, 4), QStringLiteral("in an unknown element of the page"));
    QCOMPARE(lib.text(44, 17, 5), QString());
    QCOMPARE(lib.text(44, 300017, 1), QStringLiteral("later"));
    QCOMPARE(lib.size(), 6);

    // A pinned language wins over the root's; unwanted pages are skipped.
    TextLibrary pinned;
    pinned.pinLanguage(49);
    pinned.setPages({300017});
    QVERIFY(parse(xml, pinned));
    QCOMPARE(pinned.size(), 1);
    QCOMPARE(pinned.text(49, 300017, 1), QStringLiteral("later"));
}

void TestTextPages::malformedFileKeepsEarlierTexts()
{
    const QByteArray good = "<language id=\"44\"><page id=\"17\"><t id=\"1\">one</t>";
    for (const QByteArray& bad :
         {good, good + "<t id=\"2\">two</x>", good + "<t id=\"2\">&bogus;</t>",
          good + "<t id=\"2\">two</t></page></language><extra/>"}) {
        TextLibrary lib;
        QVERIFY(!parse(bad, lib));
        QCOMPARE(lib.text(44, 17, 1), QStringLiteral("one"));
    }
    QString error;
    TextLibrary lib;
    QVERIFY(!ParseTextPageFile(QStringLiteral("/nonexistent/440001.xml"), lib, &error));
    QVERIFY(!error.isEmpty());
}

void TestTextPages::libraryKeepsTheLastCopyOfEachText()
{
    // In order, out of order, a copy of an earlier text, and lookups in between.
    TextLibrary lib;
    QVERIFY(parse(page17({{1, "a"}, {5, "e"}, {3, "c"}, {1, "A"}, {9, "i"}}), lib));
    QCOMPARE(lib.size(), 4);
    QCOMPARE(lib.text(44, 17, 1), QStringLiteral("A"));
    QVERIFY(parse(page17({{3, "C"}, {2, "b"}, {3, "CC"}, {10, "j"}}), lib));
    QVERIFY(parse(page17({{1, "one"}}, 49), lib));
    QCOMPARE(lib.size(), 7);
    const QList<std::pair<int, const char*>> expected = {
        {1, "A"}, {2, "b"}, {3, "CC"}, {5, "e"}, {9, "i"}, {10, "j"}};
    for (const auto& [id, text] : expected)
        QCOMPARE(lib.text(44, 17, id), QString::fromLatin1(text));
    QCOMPARE(lib.text(49, 17, 1), QStringLiteral("one"));
    QCOMPARE(lib.text(44, 17, 4), std::nullopt);
    lib.clear();
    QCOMPARE(lib.size(), 0);
}

void TestTextPages::readsDeclaredEncodings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("readable");
    const QString text = QStringLiteral("Gr\u00f6\u00dfe na\u00efve");
    const auto page = [&](const char* declared) {
        return "<?xml version=\"1.0\" encoding=\"" + QByteArray(declared) +
               "\"?>\n<language id=\"44\"><page id=\"17\"><t id=\"1\">";
    };
    const QByteArray tail = "</t></page></language>";
    QTest::newRow("utf-8") << page("UTF-8") + text.toUtf8() + tail << true;
    QTest::newRow("utf-8 with mark") << "\xEF\xBB\xBF" + page("UTF-8") + text.toUtf8() + tail
                                     << true;
    QTest::newRow("latin-1") << page("ISO-8859-1") + text.toLatin1() + tail << true;
    QString utf16 = QString::fromLatin1(page("UTF-16")) + text + QString::fromLatin1(tail);
    utf16.prepend(QChar(0xFEFF));
    QTest::newRow("utf-16 with mark")
        << QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2) << true;
    QTest::newRow("unknown") << page("X-NO-SUCH-CODE") + text.toUtf8() + tail << false;
}

void TestTextPages::readsDeclaredEncodings()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, readable);
    TextLibrary lib;
    QCOMPARE(parse(file, lib), readable);
    QCOMPARE(lib.text(44, 17, 1),
             readable ? std::optional<QString>(QStringLiteral("Gr\u00f6\u00dfe na\u00efve"))
                      : std::nullopt);
}

void TestTextPages::collectsTheTablesByPage()
{
    GameTexts texts;
    texts.setWantedShipTexts({500, 501, 500});
    texts.setWantedTexts2006({7});
    texts.setEquipmentTextNumbers({900, 500});
    QByteArray xml =
        "<language id=\"44\">"
        "<page id=\"17\"><t id=\"500\">old</t><t id=\"501\">desc</t>"
        "<t id=\"900\">Laser</t><t id=\"901\">not wanted</t></page>"
        "<page id=\"302006\"><t id=\"7\">second</t><t id=\"8\">x</t></page>"
        "<page id=\"1999\"><t id=\"9\">x</t><t id=\"10\">first</t><t id=\"19\">last</t>"
        "<t id=\"20\">x</t></page>"
        "<page id=\"301266\"><t id=\"1\">one</t><t id=\"19\">nineteen</t></page>"
        "<page id=\"300028\"><t id=\"110\">top</t><t id=\"95\">bottom</t>"
        "<t id=\"111\">x</t><t id=\"94\">x</t></page>"
        "<page id=\"300029\"><t id=\"100\">x</t></page>"
        "</language>";
    QVERIFY(parse(xml, texts));
    // Later files replace earlier texts; pages 17 and 300017 feed the same list.
    QVERIFY(parse("<language><page id=\"300017\"><t id=\"500\">new</t></page></language>", texts));

    QCOMPARE(texts.shipTexts(), (QStringList{"new", "desc", "new"}));
    QCOMPARE(texts.shipText(3), QString());
    // A wanted ship text is not an equipment name as well.
    QCOMPARE(texts.equipmentName(500), std::nullopt);
    QCOMPARE(texts.equipmentName(900), QStringLiteral("Laser"));
    QCOMPARE(texts.equipmentName(901), std::nullopt);
    QCOMPARE(texts.texts2006(), QStringList{"second"});
    const auto ends = [](int size, const QString& first, const QString& last) {
        QStringList table(size);
        table.first() = first;
        table.last() = last;
        return table;
    };
    QCOMPARE(texts.table1999(), ends(10, "first", "last"));
    QCOMPARE(texts.table1266(), ends(19, "one", "nineteen"));
    QCOMPARE(texts.rankTable(5), ends(16, "top", "bottom"));
    QCOMPARE(texts.rankTable(0), QStringList(16));
    QVERIFY(texts.rankTable(6).isEmpty());

    texts.clearTexts();
    QCOMPARE(texts.shipTexts(), QStringList(3));
    QCOMPARE(texts.rankTable(5), QStringList(16));
}

void TestTextPages::resolvesReferencesAmongShipTexts()
{
    GameTexts texts;
    texts.setWantedShipTexts({1, 2, 3, 4, 5, 6, 7, 8});
    QVERIFY(parse(page17({{1, "{17,2}"},
                          {2, "Target"},
                          {3, "{17,99}"}, // not wanted
                          {4, "{17,8}"},  // wanted, never collected
                          {5, "{17,x}"},
                          {6, "{17,2"},
                          {7, "{17,1}"}}), // a reference to a reference: once only
                  texts));
    QCOMPARE(texts.shipTexts(), (QStringList{"Target", "Target", "{17,99}", "{17,8}", "{17,x}",
                                             "{17,2", "{17,2}", QString()}));
    // A later file replacing the target is seen through the reference, and a
    // text collected later resolves an earlier dangling one.
    QVERIFY(parse(page17({{2, "Newer"}, {8, "Late"}}), texts));
    QCOMPARE(texts.shipText(0), QStringLiteral("Newer"));
    QCOMPARE(texts.shipText(3), QStringLiteral("Late"));

    TextLibrary lib;
    QVERIFY(parse(page17({{2, "Target"}}), lib));
    QVERIFY(parse("<language id=\"44\"><page id=\"5\"><t id=\"1\">{17,2}</t><t id=\"2\">{17,3}</t>"
                  "</page></language>",
                  lib));
    QCOMPARE(lib.resolvedText(44, 5, 1), QStringLiteral("Target"));
    QCOMPARE(lib.resolvedText(44, 5, 2), QStringLiteral("{17,3}"));
    QCOMPARE(lib.resolvedText(44, 5, 3), std::nullopt);
}

void TestTextPages::writerLayoutIsExact()
{
    QCOMPARE(TextPageFileName(44), QStringLiteral("449001.xml"));
    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                                "<language id=\"49\">\r\n"
                                "<page id=\"17\" title=\"ship names and descriptions\">\r\n"
                                " <t id=\"20000\">Gull</t>\r\n"
                                " <t id=\"20001\">A &lt;small&gt; ship &amp; more</t>\r\n"
                                "</page>\r\n"
                                "<page id=\"9001\" title=\"Ship ids for scripts\">\r\n"
                                " <t id=\"1\">1</t>\r\n"
                                " <t id=\"2\">1700000000</t>\r\n"
                                "</page>\r\n"
                                "</language>\r\n";
    QTemporaryDir dir;
    const QString path = dir.filePath(TextPageFileName(49));
    QVERIFY(WriteTextPage(path, 49, {{20000, "Gull"}, {20001, "A <small> ship & more"}},
                          {{1, "1"}, {2, "1700000000"}}));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expected);
    QString error;
    QVERIFY(!WriteTextPage(dir.filePath("missing/449001.xml"), 44, {}, {}, &error));
    QVERIFY(!error.isEmpty());
}

void TestTextPages::writtenPageReadsBackTheSameTexts()
{
    const QStringList samples = {
        QStringLiteral("Fish & Chips <Mk II> \"quoted\" 'single' ]]> &amp;"),
        QStringLiteral("Größe, Kraftstoff, Ελλάδα, 日本語, \U0001F680"),
        QStringLiteral("two\nlines\r\nand\ttab"),
        QStringLiteral("  padded  "),
        QString(),
    };
    QList<PageText> ship;
    for (int i = 0; i < samples.size(); ++i)
        ship.append({20000 + i, samples.at(i)});
    // Characters XML cannot hold are left out instead of breaking the page.
    ship.append({20100, QStringLiteral("bell\aand") + QChar(0xD800) + QStringLiteral("end")});

    const QByteArray page = BuildTextPage(44, ship, {{1, "1"}});
    QCOMPARE(page.count("\r\n"), ship.size() + 8);
    TextLibrary lib;
    QVERIFY(parse(page, lib));
    for (int i = 0; i < samples.size(); ++i)
        QCOMPARE(lib.text(44, 17, 20000 + i), samples.at(i));
    QCOMPARE(lib.text(44, 17, 20100), QStringLiteral("belland"
                                                     "end"));
    QCOMPARE(lib.text(44, 9001, 1), QStringLiteral("1"));
}

void TestTextPages::getTextReadsCataloguesInOrderThenLooseFiles()
{
    QTemporaryDir game;
    QTemporaryDir work;
    const QString g = game.path();
    QVERIFY(writeFile(g + "/vega.exe", {}));
    addText(g, "01.cat", "440001", page17({{1, "cat1"}, {2, "cat1"}, {3, "cat1"}, {4, "cat1"}}));
    addText(g, "02.cat", "440001", page17({{2, "cat2"}, {3, "cat2"}, {4, "cat2"}}));
    addText(g, "02.cat", "490001", page17({{2, "german"}}, 49));
    addText(g, "02.cat", "4490001", page17({{2, "language 449"}}, 449));
    addText(g, "03.cat", "449001", page17({{3, "cat3 own page"}, {4, "cat3"}}));
    addText(g, "05.cat", "440001", page17({{1, "after a gap"}}));
    // The loose folder in other letter case; .xml files before .pck files.
    QVERIFY(QDir(g).mkdir("T"));
    QVERIFY(writeFile(g + "/T/440002.xml", page17({{4, "loose xml"}, {5, "loose xml"}})));
    QVERIFY(writeFile(g + "/T/490001.xml", page17({{5, "loose german"}})));
    QVERIFY(writeFile(g + "/T/440001.xml.tmp", page17({{5, "not a text file"}})));
    const QByteArray packed = page17({{5, "loose pck"}});
    QVERIFY(WriteArchiveFile(packed.constData(), packed.size(), g + "/T/440001.xml", true, false));

    QStringList log;
    GetTextOptions options{g, work.path() + "/temp", QStringLiteral("44"), true, {}};
    TextLibrary lib;
    QCOMPARE(GetText(options, lib, [&log](const QString& line) { log << line; }), 5);
    QCOMPARE(lib.text(44, 17, 1), QStringLiteral("cat1"));
    QCOMPARE(lib.text(44, 17, 2), QStringLiteral("cat2"));
    QCOMPARE(lib.text(44, 17, 3), QStringLiteral("cat3 own page"));
    QCOMPARE(lib.text(44, 17, 4), QStringLiteral("loose xml"));
    QCOMPARE(lib.text(44, 17, 5), QStringLiteral("loose pck"));
    QCOMPARE(lib.size(), 5);

    // Each catalogue in turn up to the first gap, each text file extracted and read.
    QFile expected(QStringLiteral(TEXTPAGES_DATA "/gettext-order.log"));
    QVERIFY(expected.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(log.join('\n') + '\n', QString::fromUtf8(expected.readAll())
                                        .replace("<game>", g)
                                        .replace("<work>", options.workDir));
    QCOMPARE(QDir(options.workDir).entryList(QDir::Files), QStringList());

    // Without the loose folder the catalogues have the last word.
    options.looseFiles = false;
    TextLibrary catalogsOnly;
    QCOMPARE(GetText(options, catalogsOnly), 3);
    QCOMPARE(catalogsOnly.text(44, 17, 4), QStringLiteral("cat3"));
    QCOMPARE(catalogsOnly.text(44, 17, 5), std::nullopt);
}

void TestTextPages::getTextSkipsPagesTooLargeToHold()
{
    QTemporaryDir game;
    QTemporaryDir work;
    const QString g = game.path();
    addText(g, "01.cat", "440001", page17({{1, "small"}}));
    addText(g, "02.cat", "440001", page17({{1, QString(20000, QLatin1Char('x'))}}));
    GetTextOptions options{g, work.path(), QStringLiteral("44"), false, {}};
    QStringList log;
    TextLibrary lib;
    const int64_t old = arc_set_memory_cap(4096);
    const int files = GetText(options, lib, [&log](const QString& line) { log << line; });
    arc_set_memory_cap(old);
    QCOMPARE(files, 1);
    QCOMPARE(lib.text(44, 17, 1), QStringLiteral("small"));
    QCOMPARE(log.filter(QStringLiteral("too large")).size(), 1);
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList());
}

void TestTextPages::discoversLanguages()
{
    QTemporaryDir game;
    const QString g = game.path();
    QCOMPARE(DiscoverTextLanguages(g), QStringList());
    QVERIFY(writeFile(g + "/vega.exe", {}));
    addText(g, "01.cat", "440001", page17({}));
    addText(g, "01.cat", "390001", page17({}, 39));
    addText(g, "02.cat", "440001", page17({}));
    addText(g, "02.cat", "340001", page17({}, 34));
    addText(g, "02.cat", "079001", page17({}, 7));
    QVERIFY(QDir(g).mkdir("t"));
    QVERIFY(writeFile(g + "/t/490001.xml", {}));
    QVERIFY(writeFile(g + "/t/330001.pck", {}));
    QVERIFY(writeFile(g + "/t/480002.xml", {}));
    QVERIFY(writeFile(g + "/t/470001.txt", {}));
    QCOMPARE(DiscoverTextLanguages(g), (QStringList{"33", "49", "44", "34", "39"}));
    QCOMPARE(TextFileLanguage("t\\449001.pck"), QStringLiteral("44"));
    QCOMPARE(TextFileLanguage("0001.xml"), QString());
}

void TestTextPages::cliPrintsTheResolvedText()
{
    QTemporaryDir game;
    const QString g = game.path();
    QVERIFY(writeFile(g + "/vega.exe", {}));
    addText(g, "01.cat", "440001", page17({{1, "old"}, {2, "{17,1}"}, {3, "{17,77}"}}));
    addText(g, "01.cat", "440002",
            "<language id=\"44\"><page id=\"300023\"><t id=\"110\">Cadet</t></page></language>");
    addText(g, "02.cat", "440001", page17({{1, "Größe &amp; &lt;Mehr&gt;"}}));
    int code = 0;
    QCOMPARE(cliText({g, "44", "17", "1"}, &code), QStringLiteral("Größe & <Mehr>"));
    QCOMPARE(cliText({g, "44", "17", "2"}, &code), QStringLiteral("Größe & <Mehr>"));
    QCOMPARE(cliText({g, "44", "17", "3"}, &code), QStringLiteral("{17,77}"));
    QCOMPARE(cliText({g, "44", "300023", "110"}, &code), QStringLiteral("Cadet"));
    QCOMPARE(cliText({g, "44", "17", "4"}, &code), std::nullopt);
    QCOMPARE(code, 1);
    QCOMPARE(cliText({g, "49", "17", "1"}, &code), std::nullopt);
    QCOMPARE(code, 1);
    QCOMPARE(cliText({g, "44", "page", "1"}, &code), std::nullopt);
    QCOMPARE(code, 2);
}

QTEST_GUILESS_MAIN(TestTextPages)
#include "tst_textpages.moc"
