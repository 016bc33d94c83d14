// Behaviour of the archive library through its C-style API.
#include "arc.h"

#include <QtTest>

#include <random>

namespace {

QByteArray bytes(const std::vector<unsigned char>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

std::vector<unsigned char> vec(const QByteArray& b)
{
    return std::vector<unsigned char>(b.begin(), b.end());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Catalogue text as the file holds it, unscrambled.
QByteArray catalogText(const QString& path)
{
    QByteArray raw = readFile(path);
    arc_scramble_catalog(reinterpret_cast<unsigned char*>(raw.data()),
                         static_cast<size_t>(raw.size()));
    return raw;
}

bool putEntry(const QByteArray& path, const QByteArray& data, int type = ARC_TYPE_PLAIN)
{
    ArcFileHandle* h = arc_open(path.constData(), ARC_MODE_WRITE, 1, type);
    if (!h)
        return false;
    arc_seek(h, 0, ARC_SEEK_SET);
    const bool written = arc_write(h, data.constData(), data.size()) == data.size();
    arc_truncate(h);
    return arc_close(h) && written;
}

QByteArray getEntry(const QByteArray& path, int type = ARC_TYPE_AUTO)
{
    ArcFileHandle* h = arc_open(path.constData(), ARC_MODE_READ, 0, type);
    if (!h)
        return QByteArray("<open failed>");
    QByteArray out(static_cast<qsizetype>(arc_size(h)), '\0');
    arc_read(h, out.data(), out.size());
    arc_close(h);
    return out;
}

QByteArray randomBytes(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(rng() & 0xFF);
    return out;
}

} // namespace

class TstArc : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray cat(const char* name = "01.cat") const
    {
        return QFile::encodeName(m_dir.filePath(QLatin1String(name)));
    }
    QByteArray entry(const char* name, const char* catName = "01.cat") const
    {
        return cat(catName) + "::" + name;
    }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void packedFormRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("48;2;\n0;1;2;HW_NEW_SHIP;\n").repeated(100);
        QTest::newRow("random") << randomBytes(300000, 7);
    }
    void packedFormRoundTrips()
    {
        QFETCH(QByteArray, data);
        std::vector<unsigned char> packed, plain;
        const auto in = vec(data);
        QCOMPARE(arc_pack(in.data(), in.size(), 1234567, packed, 0x5A), int(ARC_GZ_OK));
        QCOMPARE(packed[0], static_cast<unsigned char>(0x5A ^ 0x3C));
        QVERIFY(arc_is_packed(packed.data(), packed.size()));
        // The gzip header the game expects: method 8, no flags, mtime, XFL 0, OS 11.
        QCOMPARE(packed[1] ^ 0x5A, 0x1F);
        QCOMPARE(packed[3] ^ 0x5A, 8);
        QCOMPARE(packed[4] ^ 0x5A, 0);
        QCOMPARE(packed[10] ^ 0x5A, 11);
        uint32_t mtime = 0;
        QCOMPARE(arc_unpack(packed.data(), packed.size(), plain, &mtime), int(ARC_GZ_OK));
        QCOMPARE(mtime, 1234567u);
        QCOMPARE(bytes(plain), data);
    }

    void badPackedInputFails()
    {
        std::vector<unsigned char> out;
        const unsigned char two[] = {0x3C ^ 0, 0x1F};
        QVERIFY(!arc_is_packed(two, 2));
        const unsigned char shortGz[] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0};
        QCOMPARE(arc_gzip_decode(shortGz, sizeof shortGz, out, nullptr), int(ARC_GZ_TOOSHORT));
        QCOMPARE(arc_codec_error(ARC_GZ_TOOSHORT), int(ARC_E_GZ_SHORT));

        const auto text = vec(QByteArray("some table text\n").repeated(50));
        std::vector<unsigned char> gz;
        QCOMPARE(arc_gzip_encode(text.data(), text.size(), 0, gz), int(ARC_GZ_OK));

        auto forged = gz; // trailer claims 3 GB: refused before any allocation
        forged[forged.size() - 1] = 0xB2;
        forged[forged.size() - 2] = 0xD0;
        QCOMPARE(arc_gzip_decode(forged.data(), forged.size(), out, nullptr), int(ARC_GZ_ZLIB));
        QVERIFY(out.empty());

        auto badCrc = gz;
        badCrc[badCrc.size() - 8] ^= 1;
        QCOMPARE(arc_gzip_decode(badCrc.data(), badCrc.size(), out, nullptr), int(ARC_GZ_DATACRC));

        auto shortLen = gz; // claims fewer bytes than the stream holds
        shortLen[shortLen.size() - 4] -= 1;
        QCOMPARE(arc_gzip_decode(shortLen.data(), shortLen.size(), out, nullptr), int(ARC_GZ_ZLIB));

        auto method = gz;
        method[2] = 7;
        QCOMPARE(arc_gzip_decode(method.data(), method.size(), out, nullptr), int(ARC_GZ_METHOD));

        auto reserved = gz; // reserved bits are reported but the data still comes out
        reserved[3] = 0x20;
        QCOMPARE(arc_gzip_decode(reserved.data(), reserved.size(), out, nullptr),
                 int(ARC_GZ_RESERVED));
        QCOMPARE(out, text);

        auto truncated = gz;
        truncated.resize(truncated.size() / 2);
        QVERIFY(arc_gzip_decode(truncated.data(), truncated.size(), out, nullptr) < 0);
    }

    void catalogueTextParsing()
    {
        std::string dat;
        std::vector<ArcCatalogLine> lines;
        const char text[] = "01.dat\r\n\r\ntypes/TShips.pck 120\nmy model.pbb 7\n\nlast 3";
        QCOMPARE(arc_parse_catalog_text(text, sizeof text - 1, dat, lines), int(ARC_OK));
        QCOMPARE(dat, std::string("01.dat"));
        QCOMPARE(lines.size(), size_t(3));
        QCOMPARE(lines[0].name, std::string("types\\TShips.pck"));
        QCOMPARE(lines[1].name, std::string("my model.pbb"));
        QCOMPARE(lines[1].size, int64_t(7));
        const char noBlank[] = "01.dat\nnoblank\n";
        QCOMPARE(arc_parse_catalog_text(noBlank, sizeof noBlank - 1, dat, lines),
                 int(ARC_E_BADDATA));
        const char negative[] = "01.dat\nx -5\n";
        QCOMPARE(arc_parse_catalog_text(negative, sizeof negative - 1, dat, lines),
                 int(ARC_E_ENTRYSIZE));
        const char huge[] = "01.dat\nx 99999999999999999999999\n";
        QCOMPARE(arc_parse_catalog_text(huge, sizeof huge - 1, dat, lines), int(ARC_E_ENTRYSIZE));
    }

    void entryNames()
    {
        QVERIFY(arc_valid_entry_name("types\\TShips.pck"));
        QVERIFY(arc_valid_entry_name("objects\\ships\\a b..c.pbb"));
        QVERIFY(arc_valid_entry_name("objects\\\xC3\xA9t\xC3\xA9.bod"));
        for (const char* bad : {"", "..\\x", "a\\..\\b", "a\\..", "\\abs", "c:x", "a/b", "a*",
                                "a|b", "a<b", "a>b", "a\nb", "a\rb", "a\tb", "a\x7f", "\x01"})
            QVERIFY2(!arc_valid_entry_name(bad), bad);
        const std::string longest(ARC_MAX_NAME_COMPONENT, 'n');
        QVERIFY(arc_valid_entry_name(("dir\\" + longest).c_str()));
        QVERIFY(!arc_valid_entry_name(("dir\\" + longest + "n").c_str()));
        std::string deep;
        while (deep.size() + 4 <= ARC_MAX_ENTRY_NAME)
            deep += "abc\\";
        deep.resize(ARC_MAX_ENTRY_NAME, 'x');
        QVERIFY(arc_valid_entry_name(deep.c_str()));
        QVERIFY(!arc_valid_entry_name((deep + "x").c_str()));
    }

    void createOpenAndBrokenCatalogues()
    {
        ArcCatalogHandle* c = arc_open_catalog(cat().constData(), 1);
        QVERIFY(c);
        QVERIFY(arc_close_catalog(c));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")), QByteArray("01.dat\n"));
        QVERIFY(QFileInfo::exists(m_dir.filePath("01.dat")));
        QCOMPARE(QFileInfo(m_dir.filePath("01.dat")).size(), 0);

        QVERIFY(!arc_open_catalog(cat("02.cat").constData(), 0));
        QCOMPARE(arc_last_error(), int(ARC_E_NOFILE));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("02.cat")));

        QFile(m_dir.filePath("03.cat")).open(QIODevice::WriteOnly);
        QVERIFY(!arc_open_catalog(cat("03.cat").constData(), 0));
        QCOMPARE(arc_last_error(), int(ARC_E_EMPTY));
        QCOMPARE(QString::fromLatin1(arc_error_message(arc_last_error())),
                 QString("File is empty."));

        QFile::copy(m_dir.filePath("01.cat"), m_dir.filePath("04.cat"));
        QVERIFY(!arc_open_catalog(cat("04.cat").constData(), 0));
        QCOMPARE(arc_last_error(), int(ARC_E_NODAT));

        QVERIFY(!arc_open_catalog(cat().constData(), 2));
        QCOMPARE(arc_last_error(), int(ARC_E_FLAGS));
        QVERIFY(!arc_open(entry("x").constData(), 2, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_FLAGS));
        QVERIFY(!arc_close(nullptr));
        QCOMPARE(arc_last_error(), int(ARC_E_HANDLE));
    }

    void entriesAreStoredBackToBack()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        QVERIFY(putEntry(entry("a.txt"), "AAAA"));
        QVERIFY(putEntry(entry("types\\b.txt"), "BBBBBB"));
        QVERIFY(putEntry(entry("c.txt"), "CC"));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\na.txt 4\ntypes/b.txt 6\nc.txt 2\n"));
        QByteArray dat = readFile(m_dir.filePath("01.dat"));
        for (char& ch : dat)
            ch = static_cast<char>(ch ^ 0xA5);
        QCOMPARE(dat, QByteArray("AAAABBBBBBCC"));
        // Names match case-insensitively and with either slash.
        QCOMPARE(getEntry(entry("TYPES/B.TXT")), QByteArray("BBBBBB"));

        // Same size: rewritten in place.
        QVERIFY(putEntry(entry("types\\b.txt"), "bbbbbb"));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\na.txt 4\ntypes/b.txt 6\nc.txt 2\n"));
        // Other size: the tail moves down and the entry goes to the end.
        QVERIFY(putEntry(entry("types\\b.txt"), "123456789"));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\na.txt 4\nc.txt 2\ntypes/b.txt 9\n"));
        QCOMPARE(getEntry(entry("a.txt")), QByteArray("AAAA"));
        QCOMPARE(getEntry(entry("c.txt")), QByteArray("CC"));
        QCOMPARE(getEntry(entry("types\\b.txt")), QByteArray("123456789"));
        QCOMPARE(QFileInfo(m_dir.filePath("01.dat")).size(), 15);

        // Shrinking the middle entry cuts the data file when the catalogue closes.
        QVERIFY(putEntry(entry("a.txt"), "A"));
        QCOMPARE(QFileInfo(m_dir.filePath("01.dat")).size(), 12);
        QCOMPARE(getEntry(entry("types\\b.txt")), QByteArray("123456789"));

        // A new entry that is closed at once is stored empty.
        ArcFileHandle* h =
            arc_open(entry("empty.txt").constData(), ARC_MODE_WRITE, 1, ARC_TYPE_PLAIN);
        QVERIFY(h);
        QVERIFY(arc_close(h));
        QVERIFY(catalogText(m_dir.filePath("01.cat")).endsWith("empty.txt 0\n"));

        QVERIFY(arc_remove(entry("c.txt").constData()));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\ntypes/b.txt 9\na.txt 1\nempty.txt 0\n"));
        QCOMPARE(QFileInfo(m_dir.filePath("01.dat")).size(), 10);
        QCOMPARE(getEntry(entry("a.txt")), QByteArray("A"));
        QVERIFY(!arc_remove(entry("c.txt").constData()));
        QCOMPARE(arc_last_error(), int(ARC_E_NOENTRY));
    }

    void packedEntries()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        const QByteArray text = QByteArray("48;1;\n1;2;3;HW_NEW_SHIP;\n").repeated(40);
        QVERIFY(putEntry(entry("types\\TShips.pck"), text, ARC_TYPE_PACKED));
        QCOMPARE(getEntry(entry("types\\TShips.pck")), text);
        const QByteArray raw = getEntry(entry("types\\TShips.pck"), ARC_TYPE_PLAIN);
        QVERIFY(arc_is_packed(reinterpret_cast<const unsigned char*>(raw.constData()),
                              size_t(raw.size())));
        QVERIFY(raw.size() < text.size());

        ArcFileHandle* h = arc_open(entry("types\\TShips.pck").constData(), 0, 0, 0);
        ArcStatRecord st;
        QVERIFY(arc_stat(h, &st));
        QCOMPARE(st.flags, int(ARC_F_PACKED));
        QCOMPARE(st.length, int(text.size()));
        QCOMPARE(st.storedSize, int(raw.size()));
        QVERIFY(QByteArray(st.name).endsWith("01.cat::types\\TShips.pck"));
        QVERIFY(arc_close(h));

        // Plain bytes opened as packed are refused, not misread.
        QVERIFY(putEntry(entry("plain.txt"), "not packed at all"));
        QVERIFY(!arc_open(entry("plain.txt").constData(), 0, 0, ARC_TYPE_PACKED));
        QCOMPARE(arc_last_error(), int(ARC_E_GZ_MAGIC));
    }

    void sharingAndLocks()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        QVERIFY(putEntry(entry("a.txt"), "data"));
        ArcFileHandle* r1 = arc_open(entry("a.txt").constData(), 0, 0, 0);
        ArcFileHandle* r2 = arc_open(entry("A.TXT").constData(), 0, 0, 0);
        QVERIFY(r1 && r2);
        QVERIFY(!arc_open(entry("a.txt").constData(), 1, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_MODE));
        QVERIFY(!arc_remove(entry("a.txt").constData()));
        QCOMPARE(arc_last_error(), int(ARC_E_LOCKED));
        QCOMPARE(QString(arc_error_message(ARC_E_LOCKED)), QString("File is locked"));
        QCOMPARE(arc_write(r1, "x", 1), int64_t(-1));
        QCOMPARE(arc_handle_error(r1), int(ARC_E_MODE));
        QVERIFY(arc_close(r1));
        QVERIFY(arc_close(r2));

        ArcFileHandle* w = arc_open(entry("a.txt").constData(), 1, 0, 0);
        QVERIFY(w);
        QVERIFY(!arc_open(entry("a.txt").constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_MODE));
        QVERIFY(arc_close(w));
        QCOMPARE(getEntry(entry("a.txt")), QByteArray("data"));
    }

    void seekReadWriteInMemory()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        ArcFileHandle* h = arc_open(entry("m.txt").constData(), 1, 1, ARC_TYPE_PLAIN);
        QVERIFY(h);
        QCOMPARE(arc_write(h, "hello world", 11), int64_t(11));
        QVERIFY(arc_eof(h));
        QVERIFY(!arc_seek(h, 1, ARC_SEEK_END));
        QCOMPARE(arc_last_error(), int(ARC_E_SEEK));
        QVERIFY(!arc_seek(h, 0, 3));
        QCOMPARE(arc_last_error(), int(ARC_E_SEEKMODE));
        QVERIFY(arc_seek(h, -5, ARC_SEEK_END));
        char buf[16] = {};
        QCOMPARE(arc_read(h, buf, sizeof buf), int64_t(5));
        QCOMPARE(QByteArray(buf), QByteArray("world"));
        QVERIFY(arc_seek(h, 5, ARC_SEEK_SET));
        QVERIFY(arc_truncate(h));
        QCOMPARE(arc_size(h), int64_t(5));
        QVERIFY(arc_close(h));
        QCOMPARE(getEntry(entry("m.txt")), QByteArray("hello"));

        // Large writes in many small pieces land intact.
        const QByteArray big = randomBytes(3 << 20, 3);
        h = arc_open(entry("big.bin").constData(), 1, 1, ARC_TYPE_PACKED);
        for (qsizetype off = 0; off < big.size(); off += 4096)
            QCOMPARE(arc_write(h, big.constData() + off, 4096), int64_t(4096));
        QVERIFY(arc_close(h));
        QCOMPARE(getEntry(entry("big.bin")), big);
    }

    void invalidNamesAreRefused()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        for (const char* bad : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\abs.txt", "a*b", "x|y"}) {
            QVERIFY2(!arc_open(entry(bad).constData(), 1, 1, ARC_TYPE_PLAIN), bad);
            QCOMPARE(arc_last_error(), int(ARC_E_NAME));
        }
        QCOMPARE(catalogText(m_dir.filePath("01.cat")), QByteArray("01.dat\n"));
    }

    void brokenDataFiles()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        QVERIFY(putEntry(entry("a.txt"), "0123456789"));
        QVERIFY(putEntry(entry("b.txt"), "abc"));
        // Truncated data file: the last entry can no longer be read, the first still can.
        QFile dat(m_dir.filePath("01.dat"));
        QVERIFY(dat.resize(11));
        QVERIFY(!arc_open(entry("b.txt").constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_ENTRYSIZE));
        QCOMPARE(getEntry(entry("a.txt")), QByteArray("0123456789"));

        // A catalogue claiming gigabytes fails without trying to allocate them.
        QByteArray text("01.dat\nhuge.bin 4000000000\n");
        arc_scramble_catalog(reinterpret_cast<unsigned char*>(text.data()), size_t(text.size()));
        QFile c(m_dir.filePath("01.cat"));
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.write(text);
        c.close();
        QVERIFY(!arc_open(entry("huge.bin").constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_ENTRYSIZE));
    }

    void searchPatterns()
    {
        QVERIFY(arc_close_catalog(arc_open_catalog(cat().constData(), 1)));
        for (const char* n :
             {"t\\440001.pck", "types\\TShips.pck", "t\\490001.pck", "T\\449001.PCK"})
            QVERIFY(putEntry(entry(n), "x"));
        ArcCatalogHandle* c = arc_open_catalog(cat().constData(), 0);
        auto find = [&](const char* pattern) {
            QStringList found;
            ArcFindRecord r;
            if (ArcSearchHandle* s = arc_find_first(c, pattern, &r)) {
                do
                    found << QString::fromLatin1(r.name);
                while (arc_find_next(s, &r));
                arc_find_close(s);
            }
            return found;
        };
        QCOMPARE(find("*").size(), 4);
        QCOMPARE(find("t\\44*"), QStringList({"t\\440001.pck", "T\\449001.PCK"}));
        QCOMPARE(find("t\\4?0001.pck"), QStringList({"t\\440001.pck", "t\\490001.pck"}));
        QCOMPARE(find("*ships*"), QStringList({"types\\TShips.pck"}));
        QCOMPARE(find("*.bob"), QStringList());
        QVERIFY(arc_close_catalog(c));
    }

    void heldCatalogueWritesTextOnceAtTheEnd()
    {
        ArcCatalogHandle* c = arc_open_catalog(cat().constData(), 1);
        QVERIFY(c);
        QVERIFY(putEntry(entry("a.txt"), "aaa"));
        QVERIFY(putEntry(entry("b.txt"), "bb"));
        // Entry data is already in the data file, the text only when the catalogue dies.
        QCOMPARE(catalogText(m_dir.filePath("01.cat")), QByteArray("01.dat\n"));
        QCOMPARE(getEntry(entry("a.txt")), QByteArray("aaa"));
        QVERIFY(arc_close_catalog(c));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")), QByteArray("01.dat\na.txt 3\nb.txt 2\n"));
    }

    void diskFilesAndCopy()
    {
        const QByteArray plainPath = QFile::encodeName(m_dir.filePath("model.bod"));
        const QByteArray packedPath = QFile::encodeName(m_dir.filePath("model.pbd"));
        const QByteArray text = QByteArray("P 1; hull;\nB 0;\n").repeated(30);
        QVERIFY(putEntry(plainPath, text, ARC_TYPE_PLAIN));
        QCOMPARE(readFile(m_dir.filePath("model.bod")), text);

        // Disk copy into a packed disk file, then read back automatically unpacked.
        ArcFileHandle* src = arc_open(plainPath.constData(), 0, 0, 0);
        ArcFileHandle* dst = arc_open(packedPath.constData(), 1, 1, ARC_TYPE_PACKED);
        QVERIFY(src && dst);
        QVERIFY(arc_copy(src, dst));
        QVERIFY(arc_close(dst));
        QVERIFY(arc_close(src));
        const QByteArray onDisk = readFile(m_dir.filePath("model.pbd"));
        QVERIFY(arc_is_packed(reinterpret_cast<const unsigned char*>(onDisk.constData()),
                              size_t(onDisk.size())));
        QCOMPARE(getEntry(packedPath), text);

        // A copy into a read handle is refused.
        src = arc_open(plainPath.constData(), 0, 0, 0);
        ArcFileHandle* ro = arc_open(packedPath.constData(), 0, 0, 0);
        QVERIFY(!arc_copy(src, ro));
        QCOMPARE(arc_last_error(), int(ARC_E_MODE));
        arc_close(ro);
        arc_close(src);

        QVERIFY(arc_remove(plainPath.constData()));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("model.bod")));
        QVERIFY(!arc_open(plainPath.constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_NOFILE));
    }

    void caseInsensitiveDiskPaths()
    {
        QDir(m_dir.path()).mkpath("Types");
        QVERIFY(putEntry(QFile::encodeName(m_dir.filePath("Types/Table.txt")), "abc"));
        QCOMPARE(getEntry(QFile::encodeName(m_dir.filePath("types\\TABLE.TXT"))),
                 QByteArray("abc"));
    }
};

QTEST_GUILESS_MAIN(TstArc)
#include "tst_arc.moc"
