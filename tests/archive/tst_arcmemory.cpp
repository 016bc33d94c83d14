// Bounded memory: the cap on what the archive library holds whole, streamed
// extraction of entries of any size, and 64-bit catalogue sizes.
#include "arc.h"
#include "archivefile.h"
#include "archivetest.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

// A gzip member whose content is `size` zero bytes, deflated in 1 MiB pieces so
// that the plain data is never held whole.
QByteArray zeroMember(qint64 size, unsigned char flags = 0)
{
    QByteArray out;
    out.append("\x1F\x8B\x08", 3);
    out.append(char(flags));
    out.append("\x00\x5E\x5F\x10\x00\x0B", 6); // mtime, XFL 0, OS 11
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(int(kMiB), '\0');
    QByteArray chunk(int(kMiB), '\0');
    uLong crc = crc32(0, Z_NULL, 0);
    qint64 left = size;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const uInt n = uInt(std::min<qint64>(left, kMiB));
        if (zs.avail_in == 0) {
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
            zs.avail_in = n;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.constData()), n);
            left -= n;
        }
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_out = uInt(chunk.size());
            rc = deflate(&zs, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.append(chunk.constData(), chunk.size() - int(zs.avail_out));
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    for (uint32_t v : {uint32_t(crc), uint32_t(size)})
        for (int i = 0; i < 4; ++i)
            out.append(char(v >> (8 * i)));
    return out;
}

// The packed form of a gzip member with the given key.
QByteArray packedForm(const QByteArray& member, unsigned char key = 0x5A)
{
    return char(key ^ ARC_KEY_XOR) + xorWith(member, key);
}

// True when the file holds exactly `size` zero bytes; read in pieces.
bool isZeros(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() != size)
        return false;
    for (;;) {
        const QByteArray piece = f.read(kMiB);
        if (piece.isEmpty())
            return f.atEnd();
        if (piece.count('\0') != piece.size())
            return false;
    }
}

// Writes scrambled catalogue text.
bool writeCatalog(const QString& path, QByteArray text)
{
    arc_scramble_catalog(reinterpret_cast<unsigned char*>(text.data()), size_t(text.size()));
    return writeFile(path, text);
}

} // namespace

class TstArcMemory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cat;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString entry(const QString& name) const { return m_cat + QStringLiteral("::") + name; }
    QByteArray arcName(const QString& p) const { return QFile::encodeName(p); }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_cat = path(QStringLiteral("01.cat"));
        QVERIFY(EnsureCatalog(m_cat));
    }
    void cleanup() { arc_set_memory_cap(0); }

    void capBoundary()
    {
        arc_set_memory_cap(4096);
        std::vector<unsigned char> out;
        const QByteArray exact = zeroMember(4096), over = zeroMember(4097);
        QCOMPARE(arc_gzip_decode(u(exact), size_t(exact.size()), out, nullptr), int(ARC_GZ_OK));
        QCOMPARE(out.size(), size_t(4096));
        std::vector<unsigned char> fresh;
        QCOMPARE(arc_gzip_decode(u(over), size_t(over.size()), fresh, nullptr),
                 int(ARC_GZ_TOOLARGE));
        QVERIFY(fresh.empty() && fresh.capacity() == 0); // refused before allocating
    }

    // Writing an entry (or a packed disk file) in pieces holds no copy of it, however
    // large: no single allocation near its size, and what is stored reads back whole.
    void largeWritesStayBounded_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("size");
        QTest::newRow("plain entry, under the spill size") << "cat::a.bin" << int(ARC_TYPE_PLAIN) << 3 * kMiB;
        QTest::newRow("plain entry") << "cat::a.bin" << int(ARC_TYPE_PLAIN) << 40 * kMiB + 7;
        QTest::newRow("packed entry") << "cat::a.pck" << int(ARC_TYPE_PACKED) << 40 * kMiB + 7;
        QTest::newRow("packed disk file") << "a.pck" << int(ARC_TYPE_PACKED) << 24 * kMiB;
    }
    void largeWritesStayBounded()
    {
        QFETCH(QString, target);
        QFETCH(int, type);
        QFETCH(qint64, size);
        QVERIFY(putEntry(entry("before.txt"), "before"));
        const QString name = target.startsWith("cat::") ? entry(target.mid(5)) : path(target);
        QByteArray block(64 * 1024, '\0');
        quint32 want = 0;
        {
            AllocationWatch watch;
            ArcFileHandle* h = arc_open(arcName(name).constData(), ARC_MODE_WRITE, 1, type);
            QVERIFY(h);
            for (qint64 done = 0; done < size;) {
                const int n = int(std::min<qint64>(block.size(), size - done));
                for (int i = 0; i < n; ++i)
                    block[i] = char((done + i) * 131 / 7);
                want = crc32(want, reinterpret_cast<const Bytef*>(block.constData()), uInt(n));
                QCOMPARE(arc_write(h, block.constData(), n), qint64(n));
                done += n;
            }
            QVERIFY(arc_close(h));
            QVERIFY2(watch.largest() <= size_t(12 * kMiB), qPrintable(QString::number(watch.largest())));
        }
        quint32 got = 0;
        qint64 length = 0;
        auto sink = [](void* ctx, const unsigned char* data, size_t n) {
            auto* state = static_cast<std::pair<quint32*, qint64*>*>(ctx);
            *state->first = crc32(*state->first, data, uInt(n));
            *state->second += qint64(n);
            return 0;
        };
        std::pair<quint32*, qint64*> state{&got, &length};
        QCOMPARE(arc_stream(arcName(name).constData(), ARC_TYPE_AUTO, sink, &state), int(ARC_OK));
        QCOMPARE(length, size);
        QCOMPARE(got, want);
        ArcFileHandle* other = arc_open(arcName(entry("before.txt")).constData(), 0, 0, 0);
        QVERIFY(other);
        QCOMPARE(arc_size(other), qint64(6));
        arc_close(other);
    }

    // A packed entry that inflates to 64 MiB under a 1 MiB cap.
    void bombIsRefusedInMemoryAndStreamsToDisk()
    {
        const qint64 size = 64 * kMiB;
        const QByteArray member = zeroMember(size);
        const QByteArray packed = packedForm(member);
        QVERIFY(packed.size() < kMiB);
        QVERIFY(putEntry(entry(QStringLiteral("types\\TShips.pck")), packed));
        QVERIFY(writeFile(path(QStringLiteral("loose.pck")), packed));
        arc_set_memory_cap(kMiB);

        {
            AllocationWatch t;
            std::vector<unsigned char> out;
            QCOMPARE(arc_gzip_decode(u(member), size_t(member.size()), out, nullptr),
                     int(ARC_GZ_TOOLARGE));
            QCOMPARE(arc_unpack(u(packed), size_t(packed.size()), out, nullptr),
                     int(ARC_GZ_TOOLARGE));
            QVERIFY(out.empty());
            for (int type : {ARC_TYPE_AUTO, ARC_TYPE_PACKED}) {
                QVERIFY(!arc_open(arcName(entry("types\\TShips.pck")).constData(), 0, 0, type));
                QCOMPARE(arc_last_error(), int(ARC_E_TOOLARGE));
                QVERIFY(!arc_open(arcName(path("loose.pck")).constData(), 0, 0, type));
                QCOMPARE(arc_last_error(), int(ARC_E_TOOLARGE));
            }
            QVERIFY2(t.largest() <= size_t(kMiB), qPrintable(QString::number(t.largest())));
        }
        // To disk it streams: buffers of a bounded size whatever the entry holds.
        {
            AllocationWatch t;
            QString why;
            QVERIFY2(ExtractArchiveFile(entry("types/TShips.pck"), path("TShips.txt"), false, false,
                                        &why),
                     qPrintable(why));
            QVERIFY(UnpackDiskFile(path("loose.pck"), path("loose.txt"), &why));
            QVERIFY2(t.largest() <= size_t(2 * kMiB), qPrintable(QString::number(t.largest())));
        }
        QVERIFY(isZeros(path("TShips.txt"), size));
        QVERIFY(isZeros(path("loose.txt"), size));
    }

    // A trailer that claims little in front of a stream that holds much: the
    // in-memory decoder stops right after the claimed length.
    void forgedShortTrailerStopsTheInflater()
    {
        QByteArray member = zeroMember(64 * kMiB);
        const int at = int(member.size()) - 4;
        for (int i = 0; i < 4; ++i)
            member[at + i] = char((1000 >> (8 * i)) & 0xFF);
        {
            AllocationWatch t;
            std::vector<unsigned char> out;
            QCOMPARE(arc_gzip_decode(u(member), size_t(member.size()), out, nullptr),
                     int(ARC_GZ_ZLIB));
            QVERIFY(out.empty());
            QVERIFY2(t.largest() <= 128 * 1024, qPrintable(QString::number(t.largest())));
        }
        // Streamed, the mismatch shows at the end: no destination.
        QVERIFY(putEntry(entry("forged.pck"), packedForm(member)));
        QVERIFY(!ExtractArchiveFile(entry("forged.pck"), path("forged.txt"), false, false));
        QCOMPARE(LastArchiveError(), int(ARC_E_GZ_ZLIB));
        QVERIFY(!QFileInfo::exists(path("forged.txt")));
    }

    void corruptStreamLeavesNoDestination()
    {
        const QByteArray good = zeroMember(3 * kMiB);
        QByteArray badCrc = good;
        badCrc[badCrc.size() - 8] = char(badCrc[badCrc.size() - 8] ^ 1);
        QByteArray truncated = good.left(good.size() / 2);
        truncated += good.right(8); // a trailer, but half of the deflate data
        QVERIFY(putEntry(entry("crc.pck"), packedForm(badCrc)));
        QVERIFY(putEntry(entry("cut.pck"), packedForm(truncated)));

        QVERIFY(!ExtractArchiveFile(entry("crc.pck"), path("crc.txt"), false, false));
        QCOMPARE(LastArchiveError(), int(ARC_E_GZ_CRC));
        QVERIFY(!QFileInfo::exists(path("crc.txt")));
        QVERIFY(!ExtractArchiveFile(entry("cut.pck"), path("cut.txt"), false, false));
        QCOMPARE(LastArchiveError(), int(ARC_E_GZ_ZLIB));
        QVERIFY(!QFileInfo::exists(path("cut.txt")));
        // No temporary file is left beside the destination either.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"01.cat", "01.dat"}));

        // An existing destination is kept as it was.
        QVERIFY(writeFile(path("keep.txt"), "old"));
        QVERIFY(!ExtractArchiveFile(entry("crc.pck"), path("keep.txt"), false, false));
        QCOMPARE(readFile(path("keep.txt")), QByteArray("old"));

        // A loose file likewise; the unpacked destination is left empty.
        QVERIFY(writeFile(path("crc.pck"), packedForm(badCrc)));
        QVERIFY(!UnpackDiskFile(path("crc.pck"), path("crc.txt")));
        QCOMPARE(readFile(path("crc.txt")), QByteArray());
    }

    void reservedFlagsStillYieldTheData()
    {
        QVERIFY(putEntry(entry("r.pck"), packedForm(zeroMember(100000, 0x20))));
        ArcStream* s = arc_stream_open(arcName(entry("r.pck")).constData(), ARC_TYPE_AUTO);
        QVERIFY(s);
        QCOMPARE(arc_stream_error(s), int(ARC_E_GZ_RESERVED));
        std::vector<char> buffer(300000);
        qint64 total = 0;
        for (int64_t n; (n = arc_stream_read(s, buffer.data(), 4096)) > 0;)
            total += n;
        QCOMPARE(total, qint64(100000));
        QCOMPARE(arc_stream_error(s), int(ARC_E_GZ_RESERVED));
        QVERIFY(arc_stream_close(s));

        // A sink may stop the stream with a code of its own.
        const auto stop = [](void*, const unsigned char*, size_t) { return int(ARC_E_INTERNAL); };
        QCOMPARE(arc_stream(arcName(entry("r.pck")).constData(), 0, stop, nullptr),
                 int(ARC_E_INTERNAL));
        QCOMPARE(arc_last_error(), int(ARC_E_INTERNAL));
    }

    // While a stream is open its entry cannot change; other entries can, and the
    // stream follows its entry when their rewrite moves it.
    void streamFollowsItsEntry()
    {
        QByteArray data(300000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + i / 1000);
        QVERIFY(putEntry(entry("a.txt"), "first"));
        QVERIFY(putEntry(entry("b.bin"), data));
        ArcStream* s = arc_stream_open(arcName(entry("B.BIN")).constData(), ARC_TYPE_AUTO);
        QVERIFY(s);
        QVERIFY(!arc_open(arcName(entry("b.bin")).constData(), ARC_MODE_WRITE, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_MODE));
        QVERIFY(!arc_remove(arcName(entry("b.bin")).constData()));
        QCOMPARE(arc_last_error(), int(ARC_E_LOCKED));
        // A reader still opens it (and does not share the stream's object).
        ArcFileHandle* reader = arc_open(arcName(entry("b.bin")).constData(), 0, 0, 0);
        QVERIFY(reader);
        QCOMPARE(arc_size(reader), qint64(data.size()));
        arc_close(reader);

        QByteArray got(data.size(), '\0');
        QCOMPARE(arc_stream_read(s, got.data(), 1000), qint64(1000));
        QVERIFY(putEntry(entry("a.txt"), "a longer first entry")); // moves b.bin down
        qint64 done = 1000;
        for (int64_t n; (n = arc_stream_read(s, got.data() + done, 4096)) > 0;)
            done += n;
        QCOMPARE(done, qint64(data.size()));
        QVERIFY(got == data);
        QVERIFY(arc_stream_close(s));
        QVERIFY(arc_remove(arcName(entry("b.bin")).constData()));
    }

    // Over the cap, a replaced entry or copy does not need the old one in memory;
    // a disk-to-disk copy goes in chunks.
    void overCapTargetsAreReplaced()
    {
        const QByteArray big(int(2 * kMiB), 'x');
        QVERIFY(putEntry(entry("big.dds"), big));
        QVERIFY(writeFile(path("big.bin"), big));
        arc_set_memory_cap(kMiB);
        QVERIFY(!arc_open(arcName(entry("big.dds")).constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_TOOLARGE));
        QVERIFY(WriteArchiveFile("new", 3, entry("big.dds"), false, false));
        QVERIFY(ExtractArchiveFile(entry("big.dds"), path("new.dds"), false, false));
        QCOMPARE(readFile(path("new.dds")), QByteArray("new"));

        // A plain disk source copied into a memory file: refused.
        QVERIFY(!CopyArchiveFile(path("big.bin"), entry("copy.bin")));
        QVERIFY(CopyArchiveFile(path("big.bin"), path("copy.bin"))); // disk to disk
        arc_set_memory_cap(0);
        QCOMPARE(readFile(path("copy.bin")), big);

        // Catalogue text is held whole too.
        arc_set_memory_cap(8);
        QVERIFY(!arc_open_catalog(arcName(m_cat).constData(), 0));
        QCOMPARE(arc_last_error(), int(ARC_E_TOOLARGE));
    }

    // Entry sizes beyond 32 bits, in a sparse data file.
    void sizesBeyond32Bits()
    {
        const qint64 big = 5000000000LL;
        QVERIFY(
            writeCatalog(m_cat, "01.dat\nbig.bin " + QByteArray::number(big) + "\nafter.txt 5\n"));
        const QByteArray dat = QFile::encodeName(path("01.dat"));
        const int fd = ::open(dat.constData(), O_RDWR | O_TRUNC);
        QVERIFY(fd >= 0);
        const QByteArray hello = xorWith("hello", ARC_DAT_XOR);
        const bool written = ::ftruncate(fd, off_t(big + 5)) == 0 &&
                             ::pwrite(fd, hello.constData(), 5, off_t(big)) == 5;
        ::close(fd);
        QVERIFY(written);

        const QList<CatalogEntryInfo> list = ListCatalog(m_cat);
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].size, big);
        QCOMPARE(list[1].size, qint64(5));
        // Held whole it is refused, not allocated; streamed, it reads.
        QVERIFY(!arc_open(arcName(entry("big.bin")).constData(), 0, 0, 0));
        QCOMPARE(arc_last_error(), int(ARC_E_TOOLARGE));
        ArcStream* s = arc_stream_open(arcName(entry("big.bin")).constData(), ARC_TYPE_AUTO);
        QVERIFY(s);
        QByteArray head(4096, '\0');
        QCOMPARE(arc_stream_read(s, head.data(), head.size()), qint64(head.size()));
        QCOMPARE(head, QByteArray(4096, char(ARC_DAT_XOR))); // zeros, XORed on the way out
        QVERIFY(arc_stream_close(s));
        // The entry after it starts beyond 4 GiB.
        QVERIFY(ExtractArchiveFile(entry("after.txt"), path("after.txt"), false, false));
        QCOMPARE(readFile(path("after.txt")), QByteArray("hello"));

        // A plain disk file reports 64-bit lengths.
        ArcFileHandle* h = arc_open(dat.constData(), ARC_MODE_READ, 0, ARC_TYPE_PLAIN);
        QVERIFY(h);
        ArcStatRecord st{};
        QVERIFY(arc_stat(h, &st));
        QCOMPARE(st.length, int64_t(big + 5));
        QCOMPARE(st.storedSize, int64_t(big + 5));
        arc_close(h);
    }
};

QTEST_GUILESS_MAIN(TstArcMemory)
#include "tst_arcmemory.moc"
