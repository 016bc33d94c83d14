// Interoperability with other readers and writers of the archive formats.
//
// The files in data/vectors were built by data/formatvectors.py, an encoder written
// from the formats alone, and are kept as they are so that our own writer can never
// move them. The reverse direction decodes what our writer produced with the small
// independent decoder below (zlib is used only for raw inflate, raw deflate and CRC-32).
#include "arc.h"
#include "archivefile.h"
#include "archivetest.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <ctime>

namespace {

QByteArray vector(const char* name)
{
    return readFile(QFINDTESTDATA(QStringLiteral("data/vectors/") + QLatin1String(name)));
}

const QByteArray kReadme("hello\n");
const QByteArray kShips("// ships\n48;2;\nHull A;1;2;3;\nHull B;1;2;3;\nHull C;1;2;3;\n");
const QByteArray kModel("BODY 1\n\xe9\xff\x00\n", 11);
const QByteArray kNotes("notes");
const QByteArray kPage("<page/>");
constexpr qint64 kMtime = 1600000000;

// A table long enough (about 150 KB) that deflate's level and memory level both
// show in the compressed bytes.
QByteArray bigTable()
{
    QByteArray out;
    quint64 x = 1;
    for (int i = 0; i < 8000; ++i) {
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF;
        out += QByteArray::number(i) + ";Hull " + char('A' + (x >> 16) % 26) + ';' +
               QByteArray::number((x >> 8) % 1000) + ';' + QByteArray::number(x % 97) + ";\n";
    }
    return out;
}

// Any failure status; the exact one is not part of the format.
constexpr int kAnyFailure = INT_MIN;

// The catalogue's scrambling: its own inverse.
QByteArray scrambleCatalog(QByteArray data)
{
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(uchar(data[i]) ^ uchar((0x6E + i) & 0xFF));
    return data;
}

quint32 le32(const QByteArray& b, qsizetype at)
{
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 |
           quint32(uchar(b[at + 2])) << 16 | quint32(uchar(b[at + 3])) << 24;
}

QByteArray rawDeflate(const QByteArray& in)
{
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&zs, uLong(in.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs.avail_in = uInt(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return rc == Z_STREAM_END ? out : QByteArray();
}

// The clock the archive library stamps new files with. A finer clock can already be
// in the next second when this one is not, so the range a test expects must be read
// from this one.
qint64 libraryNow()
{
    return static_cast<qint64>(std::time(nullptr));
}

// One packed file as our writer must lay it out: key byte, then a gzip member
// with a 10-byte header (no optional fields), raw deflate at level 9 / memory
// level 9, CRC-32 and length. The modification time must lie in [from, to].
void checkPackedLayout(const QByteArray& stored, const QByteArray& expected, qint64 from, qint64 to)
{
    QVERIFY2(stored.size() >= 19, "too short for key byte, header and trailer");
    const uchar key = uchar(stored[0]) ^ 0x3C;
    const QByteArray member = xorWith(stored.mid(1), key);
    QCOMPARE(member.left(4), QByteArray("\x1F\x8B\x08\x00", 4));
    const qint64 mtime = le32(member, 4);
    QVERIFY2(mtime >= from && mtime <= to, qPrintable(QString::number(mtime)));
    QCOMPARE(uchar(member[8]), uchar(0));  // extra flags
    QCOMPARE(uchar(member[9]), uchar(11)); // operating system
    // Same zlib, same parameters: the stream must be byte for byte what level 9 gives.
    QCOMPARE(member.mid(10, member.size() - 18), rawDeflate(expected));
    const quint32 crc = quint32(
        crc32(0, reinterpret_cast<const Bytef*>(expected.constData()), uInt(expected.size())));
    QCOMPARE(le32(member, member.size() - 8), crc);
    QCOMPARE(le32(member, member.size() - 4), quint32(expected.size()));
}

struct RawEntry
{
    QByteArray name; // as written in the file, forward slashes
    qint64 size = 0;
    QByteArray data; // with the data-file scrambling removed
};

// Reads a catalogue/data pair without the library. Entries must lie back to back
// from offset 0 and the data file must end exactly after the last one.
void decodeArchive(const QString& catPath, QByteArray* text, QList<RawEntry>* entries)
{
    *text = scrambleCatalog(readFile(catPath));
    entries->clear();
    const QList<QByteArray> lines = text->split('\n');
    QVERIFY(!lines.isEmpty());
    QByteArray dat = readFile(catPath.left(catPath.size() - 4) + QStringLiteral(".dat"));
    dat = xorWith(dat, 0xA5);
    qint64 offset = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.lastIndexOf(' ');
        QVERIFY2(blank > 0, line.constData());
        RawEntry e;
        e.name = line.left(blank);
        bool ok = false;
        e.size = line.mid(blank + 1).toLongLong(&ok);
        QVERIFY2(ok && e.size >= 0, line.constData());
        QVERIFY2(offset + e.size <= dat.size(), line.constData());
        e.data = dat.mid(offset, e.size);
        offset += e.size;
        entries->append(e);
    }
    QCOMPARE(offset, qint64(dat.size()));
}

int openCode(const QString& path, int mode = ARC_MODE_READ, int create = 0, int type = 0)
{
    ArcFileHandle* h = arc_open(QFile::encodeName(path).constData(), mode, create, type);
    if (!h)
        return arc_last_error();
    arc_close(h);
    return 0;
}

} // namespace

class TestFormatVectors : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_cat01, m_loose;

    // Copies a catalogue/data pair of vectors into a folder of its own.
    QString placeArchive(const char* folder, const char* cat, const char* dat)
    {
        const QString dir = m_tmp.filePath(QLatin1String(folder));
        QDir().mkpath(dir);
        const QString path = dir + '/' + QLatin1String(cat);
        if (!writeFile(path, vector(cat)) ||
            !writeFile(dir + '/' + QLatin1String(dat), vector(dat)))
            return QString();
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_cat01 = placeArchive("read", "01.cat", "01.dat");
        QVERIFY(!m_cat01.isEmpty());
        m_loose = m_tmp.filePath(QStringLiteral("read/loose.pbd"));
        QVERIFY(writeFile(m_loose, vector("model.pbd")));
    }

    void readsForeignCatalogue_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("flags");
        QTest::addColumn<qint64>("mtime");

        QTest::newRow("plain") << "readme.txt" << kReadme << int(ARC_F_PLAIN) << qint64(-1);
        QTest::newRow("zlib level 9")
            << "types/TShips.pck" << kShips << int(ARC_F_PACKED) << kMtime;
        QTest::newRow("fixed Huffman, all optional header fields, blank in name")
            << "objects/ships/my ship.pbd" << kModel << int(ARC_F_PACKED) << kMtime;
        QTest::newRow("two blanks in name")
            << "docs/read me now.txt" << kNotes << int(ARC_F_PLAIN) << qint64(-1);
        QTest::newRow("empty entry")
            << "empty.txt" << QByteArray() << int(ARC_F_PLAIN) << qint64(-1);
        QTest::newRow("stored block, key 0, unterminated last line")
            << "t/0001.pck" << kPage << int(ARC_F_PACKED) << qint64(0x01020304);
        QTest::newRow("other case, backslashes")
            << "TYPES\\tships.PCK" << kShips << int(ARC_F_PACKED) << kMtime;
        QTest::newRow("loose packed file")
            << QString() << kModel << int(ARC_F_DISK | ARC_F_PACKED) << kMtime;
    }
    void readsForeignCatalogue()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, content);
        QFETCH(int, flags);
        QFETCH(qint64, mtime);

        const QString path = entry.isEmpty() ? m_loose : m_cat01 + QStringLiteral("::") + entry;
        const QString out = m_tmp.filePath(QStringLiteral("extracted"));
        QVERIFY(ExtractArchiveFile(path, out, false, false));
        QCOMPARE(readFile(out), content);

        ArcFileHandle* h = arc_open(QFile::encodeName(path).constData(), ARC_MODE_READ, 0, 0);
        QVERIFY2(h, arc_error_message(arc_last_error()));
        ArcStatRecord st{};
        QVERIFY(arc_stat(h, &st));
        arc_close(h);
        QCOMPARE(st.flags, flags);
        QCOMPARE(qint64(st.mtime), mtime);
        QCOMPARE(qint64(st.length), qint64(content.size()));

        // Reading never rewrites what it reads.
        QCOMPARE(readFile(m_cat01), vector("01.cat"));
        QCOMPARE(readFile(m_loose), vector("model.pbd"));
    }

    void listsAndSearchesForeignCatalogue()
    {
        QStringList names;
        QList<qint64> sizes;
        for (const CatalogEntryInfo& e : ListCatalog(m_cat01)) {
            names << e.name;
            sizes << e.size;
        }
        QCOMPARE(names,
                 QStringList({"readme.txt", "types\\TShips.pck", "objects\\ships\\my ship.pbd",
                              "docs\\read me now.txt", "empty.txt", "t\\0001.pck"}));
        QCOMPARE(sizes, QList<qint64>(
                            {6, vector("ships.pck").size(), vector("model.pbd").size(), 5, 0, 31}));

        ArcCatalogHandle* cat = arc_open_catalog(QFile::encodeName(m_cat01).constData(), 0);
        QVERIFY(cat);
        const auto search = [cat](const char* pattern) {
            QStringList found;
            ArcFindRecord rec{};
            ArcSearchHandle* s = arc_find_first(cat, pattern, &rec);
            if (!s)
                return found;
            do
                found << QString::fromLatin1(rec.name);
            while (arc_find_next(s, &rec));
            arc_find_close(s);
            return found;
        };
        QCOMPARE(search("*.PCK"), QStringList({"types\\TShips.pck", "t\\0001.pck"}));
        QCOMPARE(search("?????.txt"), QStringList({"empty.txt"}));
        QCOMPARE(search("*me*"), QStringList({"readme.txt", "docs\\read me now.txt"}));
        QCOMPARE(search("nothing*"), QStringList());
        QVERIFY(arc_close_catalog(cat));
    }

    void decodesGzipMembers_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("content");

        QTest::newRow("stored block") << vector("stored.gz") << 0 << kPage;
        QTest::newRow("fixed Huffman, extra, name, comment, header CRC")
            << vector("fancy-header.gz") << 0 << kModel;
        QTest::newRow("zlib level 9") << vector("zlib.gz") << 0 << kShips;
        QTest::newRow("reserved flag bits still give the data")
            << vector("reserved.gz") << 1 << QByteArray("abc");
        QTest::newRow("method 7") << vector("method7.gz") << -5 << QByteArray();
        QTest::newRow("nine bytes") << vector("stored.gz").left(9) << -2 << QByteArray();
        QTest::newRow("no magic") << QByteArray(20, 'x') << -1 << QByteArray();
        QTest::newRow("data CRC") << vector("bad-crc.gz") << -3 << QByteArray();
        QTest::newRow("trailer claims 3 GB") << vector("bomb.gz") << kAnyFailure << QByteArray();
        QTest::newRow("extra field beyond the end")
            << vector("extra-overrun.gz") << kAnyFailure << QByteArray();
        QTest::newRow("name without terminator")
            << vector("unterminated-name.gz") << kAnyFailure << QByteArray();
        QTest::newRow("deflate cut in half")
            << vector("cut-deflate.gz") << kAnyFailure << QByteArray();
    }
    void decodesGzipMembers()
    {
        QFETCH(QByteArray, member);
        QFETCH(int, status);
        QFETCH(QByteArray, content);

        // Bare, then in packed form under a key with the high bit set.
        const uchar key = 0xE7;
        const QByteArray packedForm = char(key ^ 0x3C) + xorWith(member, key);
        QCOMPARE(isPacked(packedForm), member.startsWith("\x1F\x8B"));
        for (bool packed : {false, true}) {
            std::vector<unsigned char> out;
            uint32_t mtime = 0;
            int got = 0;
            {
                AllocationWatch watch;
                got = packed ? arc_unpack(u(packedForm), size_t(packedForm.size()), out, &mtime)
                             : arc_gzip_decode(u(member), size_t(member.size()), out, &mtime);
                QVERIFY2(watch.largest() < 1024 * 1024,
                         qPrintable(QString::number(watch.largest())));
            }
            if (status == kAnyFailure)
                QVERIFY2(got != 0 && got != 1, qPrintable(QString::number(got)));
            else
                QCOMPARE(got, status);
            if (got == 0 || got == 1)
                QCOMPARE(
                    QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size())),
                    content);
        }
    }

    void refusesDamagedEntries()
    {
        const QString cat = placeArchive("damaged", "09.cat", "09.dat");
        const QString prefix = cat + QStringLiteral("::");

        QCOMPARE(ListCatalog(cat).size(), 5);
        QCOMPARE(openCode(prefix + "ok.txt"), 0);
        {
            AllocationWatch watch;
            QVERIFY(openCode(prefix + "bomb.pck") != 0);
            QVERIFY2(watch.largest() < 1024 * 1024, qPrintable(QString::number(watch.largest())));
        }
        QCOMPARE(openCode(prefix + "crc.pck"), int(ARC_E_GZ_CRC));
        // The data file ends inside "short.txt"; "after.txt" lies wholly beyond it.
        QCOMPARE(openCode(prefix + "short.txt"), int(ARC_E_ENTRYSIZE));
        QCOMPARE(openCode(prefix + "after.txt"), int(ARC_E_ENTRYSIZE));
        QVERIFY(
            !ExtractArchiveFile(prefix + "short.txt", m_tmp.filePath("short.out"), false, false));

        // Forcing the plain type reads a damaged packed entry as the bytes it holds.
        const QString raw = m_tmp.filePath(QStringLiteral("crc.raw"));
        QVERIFY(ExtractArchiveFile(prefix + "crc.pck", raw, false, true));
        QCOMPARE(readFile(raw).size(), 1 + vector("bad-crc.gz").size());

        // Nothing of that changed the archive.
        QCOMPARE(readFile(cat), vector("09.cat"));
        QCOMPARE(readFile(m_tmp.filePath(QStringLiteral("damaged/09.dat"))), vector("09.dat"));
    }

    void refusesBadCatalogues_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("withDat");
        QTest::addColumn<int>("code");

        QTest::newRow("empty catalogue") << QByteArray() << true << int(ARC_E_EMPTY);
        QTest::newRow("line without a blank")
            << QByteArray("07.dat\nnoblank\n") << true << int(ARC_E_BADDATA);
        QTest::newRow("negative size")
            << QByteArray("07.dat\nx -5\n") << true << int(ARC_E_ENTRYSIZE);
        QTest::newRow("size beyond 64 bits")
            << QByteArray("07.dat\nx 99999999999999999999999\n") << true << int(ARC_E_ENTRYSIZE);
        QTest::newRow("missing data file")
            << QByteArray("08.dat\nx.txt 1\n") << false << int(ARC_E_NODAT);
    }
    void refusesBadCatalogues()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, withDat);
        QFETCH(int, code);

        const QString dir = m_tmp.filePath(QStringLiteral("bad-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(dir));
        const QString catPath = dir + QStringLiteral("/05.cat");
        const QString datPath = dir + QStringLiteral("/05.dat");
        const QByteArray cat = scrambleCatalog(text);
        QVERIFY(writeFile(catPath, cat));
        if (withDat)
            QVERIFY(writeFile(datPath, QByteArray("\xA4", 1)));

        const QByteArray native = QFile::encodeName(catPath);
        for (int create : {0, 1}) {
            QVERIFY(!arc_open_catalog(native.constData(), create));
            QCOMPARE(arc_last_error(), code);
        }
        QCOMPARE(openCode(catPath + QStringLiteral("::x.txt")), code);
        // Even a write that may create entries must not replace a damaged catalogue.
        QCOMPARE(openCode(catPath + QStringLiteral("::x.txt"), ARC_MODE_WRITE, 1, 1), code);
        QVERIFY(ListCatalog(catPath).isEmpty());

        QCOMPARE(readFile(catPath), cat);
        QCOMPARE(QFileInfo::exists(datPath), withDat);
    }

    void refusesEscapingNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("parent") << "../evil.txt" << false;
        QTest::newRow("parent, backslash") << "..\\evil.txt" << false;
        QTest::newRow("parent further down") << "a\\b\\..\\..\\..\\evil.txt" << false;
        QTest::newRow("dots inside a name") << "a..b.txt" << true;
        QTest::newRow("dots starting a name") << "..a\\b..\\c.txt" << true;
    }

    void refusesEscapingNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);

        const QString dir = m_tmp.filePath(
            QStringLiteral("names-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(dir));
        const QString cat = dir + QStringLiteral("/06.cat");
        QVERIFY(EnsureCatalog(cat));
        const QByteArray emptyCat = readFile(cat);

        QCOMPARE(WriteArchiveFile("x", 1, cat + QStringLiteral("::") + name, false, false),
                 accepted);

        const QList<CatalogEntryInfo> list = ListCatalog(cat);
        if (accepted) {
            QCOMPARE(list.size(), 1);
            QCOMPARE(list[0].name, QString(name).replace('/', '\\'));
        } else {
            QVERIFY(list.isEmpty());
            QCOMPARE(readFile(cat), emptyCat);
            QCOMPARE(QFileInfo(dir + QStringLiteral("/06.dat")).size(), 0);
        }
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/evil.txt")));
        QVERIFY(!QFileInfo::exists(m_tmp.filePath(QStringLiteral("evil.txt"))));
    }

    void writesCatalogueLayout()
    {
        QVERIFY(QDir(m_tmp.path()).mkpath(QStringLiteral("write")));
        const QString cat = m_tmp.filePath(QStringLiteral("write/02.cat"));
        const QString prefix = cat + QStringLiteral("::");
        QVERIFY(EnsureCatalog(cat));
        QByteArray all256;
        for (int i = 0; i < 256; ++i)
            all256.append(char(i));

        const qint64 from = libraryNow();
        const QByteArray table = bigTable();
        QVERIFY(WriteArchiveFile(table.constData(), table.size(), prefix + "types/TShips.txt", true,
                                 false));
        QFile readme(m_tmp.filePath(QStringLiteral("readme-source")));
        QVERIFY(writeFile(readme.fileName(), kReadme));
        QVERIFY(AddArchiveFile(readme, prefix + "docs\\read me.txt", false));
        QVERIFY(WriteArchiveFile(all256.constData(), all256.size(), prefix + "objects/model.bob",
                                 false, false));
        QVERIFY(
            WriteArchiveFile(kPage.constData(), kPage.size(), prefix + "t/page.xml", true, false));
        const qint64 to = libraryNow();

        QByteArray text;
        QList<RawEntry> entries;
        decodeArchive(cat, &text, &entries);
        if (QTest::currentTestFailed())
            return;
        const qint64 shipsSize = 19 + rawDeflate(table).size();
        const qint64 pageSize = 19 + rawDeflate(kPage).size();
        QCOMPARE(text, QByteArray("02.dat\ntypes/TShips.pck " + QByteArray::number(shipsSize) +
                                  "\ndocs/read me.txt 6\nobjects/model.bob 256\nt/page.pck " +
                                  QByteArray::number(pageSize) + "\n"));
        checkPackedLayout(entries[0].data, table, from, to);
        QCOMPARE(entries[1].data, kReadme);
        QCOMPARE(entries[2].data, all256);
        checkPackedLayout(entries[3].data, kPage, from, to);

        // A rewrite goes behind the others, whatever its size; the bytes it leaves
        // stay listed as one filler (merged with its neighbour) until compaction.
        QVERIFY(WriteArchiveFile("hi\n", 3, prefix + "docs/read me.txt", false, false));
        QByteArray reversed = all256;
        std::reverse(reversed.begin(), reversed.end());
        QVERIFY(WriteArchiveFile(reversed.constData(), reversed.size(),
                                 prefix + "objects/model.bob", false, false));
        QCOMPARE(scrambleCatalog(readFile(cat)),
                 QByteArray("02.dat\ntypes/TShips.pck " + QByteArray::number(shipsSize) +
                            "\nHullwright/unused/1 262\nt/page.pck " + QByteArray::number(pageSize) +
                            "\ndocs/read me.txt 3\nobjects/model.bob 256\n"));
        QCOMPARE(xorWith(readFile(m_tmp.filePath(QStringLiteral("write/02.dat"))), 0xA5),
                 entries[0].data + kReadme + all256 + entries[3].data + "hi\n" + reversed);
    }

    void writesLoosePackedFile()
    {
        const QString xml = m_tmp.filePath(QStringLiteral("page.xml"));
        const QString pck = m_tmp.filePath(QStringLiteral("page.pck"));
        const qint64 from = libraryNow();
        QVERIFY(WriteArchiveFile(kShips.constData(), kShips.size(), xml, true, false));
        const qint64 to = libraryNow();

        QVERIFY(!QFileInfo::exists(xml));
        const QByteArray stored = readFile(pck);
        checkPackedLayout(stored, kShips, from, to);
        if (QTest::currentTestFailed())
            return;
        // The file's own time is the one in its gzip header.
        const qint64 mtime = le32(xorWith(stored.mid(1), uchar(stored[0]) ^ 0x3C), 4);
        QCOMPARE(QFileInfo(pck).lastModified().toSecsSinceEpoch(), mtime);
    }

    void rewriteKeepsForeignDataLine()
    {
        const QString cat = placeArchive("foreign", "03.cat", "03.dat");

        QVERIFY(WriteArchiveFile("new", 3, cat + QStringLiteral("::new.txt"), false, false));

        QByteArray text;
        QList<RawEntry> entries;
        decodeArchive(cat, &text, &entries);
        // The first line is not ours to change; the rest is written in our own layout.
        QCOMPARE(text, QByteArray("XX.DAT\nreadme.txt 6\nsub/one.txt 3\nnew.txt 3\n"));
        QCOMPARE(readFile(m_tmp.filePath(QStringLiteral("foreign/03.dat"))),
                 xorWith(kReadme + "one" + "new", 0xA5));
    }
};

QTEST_GUILESS_MAIN(TestFormatVectors)
#include "tst_formatvectors.moc"
