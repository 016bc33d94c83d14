// Whole-file operations and virtual paths.
#include "arc.h"
#include "archivefile.h"
#include "archivetest.h"
#include "fileio.h"
#include "gamechange.h"

#include <optional>

namespace {

constexpr qint64 kMiB = qint64(1) << 20;

// Bytes that repeat with no short period, so that a block or word copied to the
// wrong place shows.
QByteArray patterned(qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x >> 24);
    }
    return out;
}

QStringList names(const QList<CatalogEntryInfo>& list)
{
    QStringList out;
    for (const CatalogEntryInfo& e : list)
        out << e.name;
    return out;
}

} // namespace

class TstArchiveFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cat;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString entry(const QString& name) const { return m_cat + QStringLiteral("::") + name; }

private slots:
    void init()
    {
        fio::clearFault();
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_cat = path("mods/Hullwright.cat");
        QDir().mkpath(path("mods"));
        QVERIFY(EnsureCatalog(m_cat));
    }

    void packedNames_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<bool>("withText");
        QTest::addColumn<QString>("out");
        QTest::newRow("bod") << "objects/ship.bod" << false << "objects/ship.pbd";
        QTest::newRow("BOB upper") << "objects\\SHIP.BOB" << false << "objects\\SHIP.pbb";
        QTest::newRow("xml kept") << "t/449001.xml" << false << "t/449001.xml";
        QTest::newRow("xml") << "t/449001.xml" << true << "t/449001.pck";
        QTest::newRow("txt in cat")
            << "a/01.cat::types\\TShips.txt" << true << "a/01.cat::types\\TShips.pck";
        QTest::newRow("dds") << "x.dds" << true << "x.dds";
        QTest::newRow("dot in folder") << "my.folder/readme" << true << "my.folder/readme";
        QTest::newRow("two dots") << "a.b.txt" << true << "a.b.pck";
    }
    void packedNames()
    {
        QFETCH(QString, in);
        QFETCH(bool, withText);
        QFETCH(QString, out);
        QCOMPARE(PackedName(in, withText), out);
    }

    void writeAndExtract()
    {
        QVERIFY(WriteArchiveFile("DDS!", 4, entry("x.dds"), true, false));
        QCOMPARE(names(ListCatalog(m_cat)), QStringList({"x.dds"}));
        QVERIFY(ExtractArchiveFile(entry("x.dds"), path("x.dds"), false, false));
        QCOMPARE(readFile(path("x.dds")), QByteArray("DDS!"));

        QVERIFY(!ExtractArchiveFile(entry("missing.txt"), path("m.txt"), false, false));
        QVERIFY(!QFileInfo::exists(path("m.txt")));
        // A destination that cannot be written is a failure, not a success.
        QVERIFY(!ExtractArchiveFile(entry("x.dds"), path("no/such/dir/x.dds"), false, false));

        QVERIFY(!WriteArchiveFile(nullptr, 4, entry("y"), false, false));
        QVERIFY(!WriteArchiveFile("abc", 0, entry("y"), false, false));
        QCOMPARE(ListCatalog(m_cat).size(), 1);
    }

    void modelsUsePackedNames()
    {
        QVERIFY(WriteArchiveFile("model", 5, entry("objects\\ship.bob"), true, false));
        QVERIFY(WriteArchiveFile("loose", 5, entry("objects\\ship2.bob"), false, false));
        QCOMPARE(names(ListCatalog(m_cat)),
                 QStringList({"objects\\ship.pbb", "objects\\ship2.bob"}));
        QVERIFY(ExtractArchiveFile(entry("objects\\ship.bob"), path("m.bob"), true, false));
        QCOMPARE(readFile(path("m.bob")), QByteArray("model"));

        // Removing a .bob name removes its packed twin, never the plain name.
        RemoveArchiveFile(entry("objects\\ship2.bob"));
        RemoveArchiveFile(entry("objects\\ship.bob"));
        QCOMPARE(names(ListCatalog(m_cat)), QStringList({"objects\\ship2.bob"}));
        QVERIFY(WriteArchiveFile("<x/>", 4, entry("t\\page.xml"), false, false));
        RemoveArchiveFile(entry("t\\page.xml"));
        QCOMPARE(names(ListCatalog(m_cat)), QStringList({"objects\\ship2.bob"}));
    }

    void appendingInPieces()
    {
        QByteArray whole;
        for (int i = 0; i < 50; ++i) {
            const QByteArray piece = QByteArray::number(i).repeated(1000);
            whole += piece;
            QVERIFY(
                WriteArchiveFile(piece.constData(), piece.size(), entry("big.txt"), true, i > 0));
        }
        QVERIFY(ExtractArchiveFile(entry("big.pck"), path("big.txt"), false, false));
        QCOMPARE(readFile(path("big.txt")), whole);

        // Appending to a loose file keeps what is already there.
        QVERIFY(WriteArchiveFile("abc", 3, path("loose.bin"), false, false));
        QVERIFY(WriteArchiveFile("def", 3, path("loose.bin"), false, true));
        QCOMPARE(readFile(path("loose.bin")), QByteArray("abcdef"));
        QVERIFY(WriteArchiveFile("xyz", 3, path("loose.bin"), false, false));
        QCOMPARE(readFile(path("loose.bin")), QByteArray("xyz"));

        // A fresh packed write replaces an entry that is held in the other form.
        QVERIFY(WriteArchiveFile("plain", 5, entry("swap.pck"), false, false));
        QVERIFY(WriteArchiveFile("now packed", 10, entry("swap.txt"), true, false));
        QVERIFY(ExtractArchiveFile(entry("swap.pck"), path("swap.txt"), false, false));
        QCOMPARE(readFile(path("swap.txt")), QByteArray("now packed"));
    }

    void addingFiles()
    {
        QVERIFY(writeFile(path("src.txt"), "line one\nline two\n"));
        QFile src(path("src.txt"));
        QVERIFY(AddArchiveFile(src, entry("types/TLaser.txt"), true));
        QVERIFY(ExtractArchiveFile(entry("types\\TLaser.pck"), path("out.txt"), false, false));
        QCOMPARE(readFile(path("out.txt")), QByteArray("line one\nline two\n"));

        // Adding again replaces the entry instead of duplicating it.
        QVERIFY(writeFile(path("src.txt"), "v2"));
        QVERIFY(AddArchiveFile(src, entry("types/TLaser.txt"), true));
        QCOMPARE(names(ListCatalog(m_cat)), QStringList({"types\\TLaser.pck"}));
        QVERIFY(ExtractArchiveFile(entry("types\\TLaser.pck"), path("out.txt"), false, false));
        QCOMPARE(readFile(path("out.txt")), QByteArray("v2"));

        // An unreadable source leaves an empty entry and reports the failure.
        QFile missing(path("nope.txt"));
        QVERIFY(!AddArchiveFile(missing, entry("empty.dds"), false));
        const QList<CatalogEntryInfo> list = ListCatalog(m_cat);
        QCOMPARE(list.last().name, QString("empty.dds"));
        QCOMPARE(list.last().size, 0);

        // Disk targets work the same way.
        QVERIFY(AddArchiveFile(src, path("copy.txt"), false));
        QCOMPARE(readFile(path("copy.txt")), QByteArray("v2"));
    }

    // An entry rewritten with as many bytes keeps its place under a journal, which
    // saves the old bytes (and brings them back on a roll-back); nothing behind it
    // moves. Without a journal, or with another size, the new bytes go past the end.
    void plainRewriteKeepsItsPlace_data()
    {
        QTest::addColumn<bool>("add"); // AddArchiveFile, else WriteArchiveFile
        QTest::addColumn<bool>("journal");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("rollBack");
        QTest::addColumn<bool>("inPlace");
        const QByteArray same = "b-new-8910"; // as long as "b.dds-OLD-"
        QTest::newRow("add, same size") << true << true << same << false << true;
        QTest::newRow("write, same size") << false << true << same << false << true;
        QTest::newRow("add, same size, rolled back") << true << true << same << true << true;
        QTest::newRow("write, same size, rolled back") << false << true << same << true << true;
        QTest::newRow("add, no journal") << true << false << same << false << false;
        QTest::newRow("write, no journal") << false << false << same << false << false;
        QTest::newRow("add, longer") << true << true << QByteArray("b-new-8910+") << false << false;
        QTest::newRow("write, shorter") << false << true << QByteArray("NEW") << false << false;
    }

    void plainRewriteKeepsItsPlace()
    {
        QFETCH(bool, add);
        QFETCH(bool, journal);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, rollBack);
        QFETCH(bool, inPlace);
        const QStringList order = {"a.dds", "b.dds", "c.dds"};
        for (const QString& name : order) {
            const QByteArray old = name.toLatin1() + "-OLD-";
            QVERIFY(WriteArchiveFile(old.constData(), old.size(), entry(name), false, false));
        }
        const QString dat = path("mods/Hullwright.dat");
        const qint64 datSize = QFileInfo(dat).size();
        {
            std::optional<GameChange> change;
            if (journal)
                change.emplace(path("mods/journal"), path("mods"));
            QVERIFY(writeFile(path("src.dds"), bytes));
            QFile source(path("src.dds"));
            QVERIFY(add ? AddArchiveFile(source, entry("b.dds"), false)
                        : WriteArchiveFile(bytes.constData(), bytes.size(), entry("b.dds"), false,
                                           false));
            if (change && rollBack)
                QVERIFY(change->rollback());
            else if (change)
                QVERIFY(change->commit());
        }
        QCOMPARE(names(ListCatalog(m_cat)),
                 inPlace ? order : QStringList({"a.dds", "c.dds", "b.dds"}));
        if (inPlace)
            QCOMPARE(QFileInfo(dat).size(), datSize);
        const auto content = [this](const QString& name) {
            QFile::remove(path("out.dds"));
            return ExtractArchiveFile(entry(name), path("out.dds"), false, false)
                       ? readFile(path("out.dds"))
                       : QByteArray("(unreadable)");
        };
        QCOMPARE(content("a.dds"), QByteArray("a.dds-OLD-"));
        QCOMPARE(content("b.dds"), rollBack ? QByteArray("b.dds-OLD-") : bytes);
        QCOMPARE(content("c.dds"), QByteArray("c.dds-OLD-"));
    }

    // A plain entry is copied in blocks (1 MiB, with the data handed to the disk every
    // 8 MiB): sizes around those steps come back byte for byte, and the data file
    // holds them XORed with 0xA5 from the entry's offset on, here an odd one (after
    // a 7-byte entry). A stream read in odd pieces into an odd address agrees.
    void plainCopiesAroundBlockSizes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("add"); // AddArchiveFile, else WriteArchiveFile
        const QList<qint64> sizes = {0,       1,           31,          33,        kMiB - 1,
                                     kMiB,    kMiB + 1,    3 * kMiB + 77, 8 * kMiB, 8 * kMiB + 1,
                                     17 * kMiB + 5};
        for (const qint64 size : sizes)
            QTest::addRow("add %lld", size) << size << true;
        QTest::addRow("write %lld", kMiB + 1) << kMiB + 1 << false;
        QTest::addRow("write %lld", 8 * kMiB + 1) << 8 * kMiB + 1 << false;
    }
    void plainCopiesAroundBlockSizes()
    {
        QFETCH(qint64, size);
        QFETCH(bool, add);
        QVERIFY(WriteArchiveFile("odd!odd", 7, entry("odd.bin"), false, false));
        const QByteArray bytes = patterned(size);
        if (add) {
            QVERIFY(writeFile(path("src.dds"), bytes));
            QFile source(path("src.dds"));
            QVERIFY(AddArchiveFile(source, entry("big.dds"), false));
        } else {
            QVERIFY(WriteArchiveFile(bytes.constData(), size, entry("big.dds"), false, false));
        }
        QCOMPARE(ListCatalog(m_cat).last().size, size);
        const QByteArray dat = readFile(path("mods/Hullwright.dat"));
        QCOMPARE(dat.size(), 7 + size);
        QVERIFY(dat.mid(7) == xorWith(bytes, 0xA5));

        QString why;
        QVERIFY2(ExtractArchiveFile(entry("big.dds"), path("out.dds"), false, false, &why),
                 qPrintable(why));
        QVERIFY(readFile(path("out.dds")) == bytes);

        ArcStream* stream = arc_stream_open(QFile::encodeName(entry("big.dds")).constData(),
                                                ARC_TYPE_PLAIN);
        QVERIFY(stream);
        QByteArray piece(4093 + 1, '\0');
        QByteArray read;
        for (int64_t n; (n = arc_stream_read(stream, piece.data() + 1, 4093)) > 0;)
            read.append(piece.constData() + 1, n);
        QVERIFY(arc_stream_close(stream));
        QVERIFY(read == bytes);
    }

    // A large copy whose write fails part-way (a full disk) reports it: an extraction
    // leaves no destination and nothing beside it, an addition an empty entry.
    void failedLargeCopyIsReported_data()
    {
        QTest::addColumn<bool>("add");
        QTest::addColumn<long>("failingWrite");
        QTest::newRow("extract, first write") << false << 1L;
        QTest::newRow("extract, past the first hand-over") << false << 10L;
        QTest::newRow("add, first write") << true << 1L;
        QTest::newRow("add, past the first hand-over") << true << 10L;
    }
    void failedLargeCopyIsReported()
    {
        QFETCH(bool, add);
        QFETCH(long, failingWrite);
        const QByteArray bytes = patterned(12 * kMiB + 3);
        QVERIFY(writeFile(path("src.dds"), bytes) && QDir().mkpath(path("out")));
        QFile source(path("src.dds"));
        if (!add)
            QVERIFY(AddArchiveFile(source, entry("big.dds"), false));
        QString why;
        fio::injectFault(failingWrite, ENOSPC, fio::Write);
        const bool ok = add ? AddArchiveFile(source, entry("big.dds"), false)
                            : ExtractArchiveFile(entry("big.dds"), path("out/big.dds"), false,
                                                 false, &why);
        QVERIFY(fio::faultFired());
        fio::clearFault();
        QVERIFY(!ok);
        if (add) {
            QCOMPARE(ListCatalog(m_cat).last().size, qint64(0));
        } else {
            QVERIFY2(why.contains(QStringLiteral("big.dds")), qPrintable(why));
            QCOMPARE(QDir(path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
        }
    }

    void copyingConvertsForms()
    {
        const QByteArray text("// table\n47;0;\n");
        QVERIFY(WriteArchiveFile(text.constData(), text.size(), entry("types\\TCockpits.txt"), true,
                                 false));
        // .pck -> .txt unpacks, .txt -> .pck packs, across catalogue and disk.
        QVERIFY(CopyArchiveFile(entry("types\\TCockpits.pck"), path("cockpits.txt")));
        QCOMPARE(readFile(path("cockpits.txt")), text);
        QVERIFY(CopyArchiveFile(path("cockpits.txt"), path("cockpits.pck")));
        QVERIFY(isPacked(readFile(path("cockpits.pck"))));
        QVERIFY(CopyArchiveFile(path("cockpits.pck"), entry("types\\copy.txt")));
        QVERIFY(ExtractArchiveFile(entry("types\\copy.txt"), path("copy.txt"), false, false));
        QCOMPARE(readFile(path("copy.txt")), text);

        // A shorter copy cuts the longer destination.
        QVERIFY(WriteArchiveFile("0123456789", 10, entry("c.bin"), false, false));
        QVERIFY(writeFile(path("short.bin"), "ab"));
        QVERIFY(CopyArchiveFile(path("short.bin"), entry("c.bin")));
        QVERIFY(ExtractArchiveFile(entry("c.bin"), path("c.bin"), false, false));
        QCOMPARE(readFile(path("c.bin")), QByteArray("ab"));

        // A missing source leaves no empty destination behind.
        QVERIFY(!CopyArchiveFile(entry("missing.txt"), entry("dest.txt")));
        QVERIFY(!names(ListCatalog(m_cat)).contains("dest.txt"));
    }
};

QTEST_GUILESS_MAIN(TstArchiveFile)
#include "tst_archivefile.moc"
