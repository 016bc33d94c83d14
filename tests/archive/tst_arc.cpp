// Behaviour of the archive library through its C-style API.
#include "arc.h"
#include "archivetest.h"

#include <random>

namespace {

// Catalogue text as the file holds it, unscrambled.
QByteArray catalogText(const QString& path)
{
    QByteArray raw = readFile(path);
    arc_scramble_catalog(reinterpret_cast<unsigned char*>(raw.data()),
                         static_cast<size_t>(raw.size()));
    return raw;
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
        QCOMPARE(xorWith(readFile(m_dir.filePath("01.dat")), 0xA5), QByteArray("AAAABBBBBBCC"));
        // Names match case-insensitively and with either slash.
        QCOMPARE(getEntry(entry("TYPES/B.TXT")), QByteArray("BBBBBB"));

        // A new size: the entry goes to the end, its old bytes stay listed as a filler
        // so that the game still finds the later entries where they are.
        QVERIFY(putEntry(entry("a.txt"), "A"));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\nHullwright/unused/1 4\ntypes/b.txt 6\nc.txt 2\na.txt 1\n"));
        QCOMPARE(xorWith(readFile(m_dir.filePath("01.dat")), 0xA5), QByteArray("AAAABBBBBBCCA"));
        QCOMPARE(getEntry(entry("c.txt")), QByteArray("CC"));

        // A new entry that is closed at once is stored empty.
        ArcFileHandle* h =
            arc_open(entry("empty.txt").constData(), ARC_MODE_WRITE, 1, ARC_TYPE_PLAIN);
        QVERIFY(h);
        QVERIFY(arc_close(h));
        QVERIFY(catalogText(m_dir.filePath("01.cat")).endsWith("empty.txt 0\n"));

        QVERIFY(arc_remove(entry("c.txt").constData()));
        QCOMPARE(catalogText(m_dir.filePath("01.cat")),
                 QByteArray("01.dat\nHullwright/unused/1 4\ntypes/b.txt 6\nHullwright/unused/2 2\n"
                            "a.txt 1\nempty.txt 0\n"));
        QCOMPARE(xorWith(readFile(m_dir.filePath("01.dat")), 0xA5), QByteArray("AAAABBBBBBCCA"));
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
        QVERIFY(isPacked(raw));

        ArcFileHandle* h = arc_open(entry("types\\TShips.pck").constData(), 0, 0, 0);
        ArcStatRecord st;
        QVERIFY(arc_stat(h, &st));
        QCOMPARE(st.flags, int(ARC_F_PACKED));
        QCOMPARE(st.length, int(text.size()));
        QCOMPARE(st.storedSize, int(raw.size()));
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
        QVERIFY(putEntry(plainPath, "P 1; hull;\n"));
        QVERIFY(putEntry(packedPath, "B 0;\n", ARC_TYPE_PACKED));
        QVERIFY(isPacked(readFile(m_dir.filePath("model.pbd"))));

        // A copy into a read handle is refused.
        ArcFileHandle* src = arc_open(plainPath.constData(), 0, 0, 0);
        ArcFileHandle* ro = arc_open(packedPath.constData(), 0, 0, 0);
        QVERIFY(src && ro);
        QVERIFY(!arc_copy(src, ro));
        QCOMPARE(arc_last_error(), int(ARC_E_MODE));
        arc_close(ro);
        arc_close(src);
        QCOMPARE(getEntry(packedPath), QByteArray("B 0;\n"));

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
