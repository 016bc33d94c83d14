// A catalogue/data pair stays readable for the game at every instant: a process
// killed at any file call while it stores, removes or compacts entries leaves a
// pair that the game's own reading accepts, holding each entry's old or new bytes.
#include "arc.h"
#include "archivetest.h"
#include "fileio.h"
#include "rawpair.h"

#include <functional>
#include <map>
#include <set>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray filled(char c, int n)
{
    return QByteArray(n, c);
}

QByteArray catalogText(const QString& path)
{
    QByteArray raw = readFile(path);
    arc_scramble_catalog(reinterpret_cast<unsigned char*>(raw.data()), size_t(raw.size()));
    return raw;
}

bool removeEntry(const QString& path)
{
    return arc_remove(QFile::encodeName(path).constData());
}

} // namespace

class TstArcPair : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString cat() const { return m_dir.filePath(QStringLiteral("Hullwright.cat")); }
    QString entry(const char* name) const { return cat() + QStringLiteral("::") + QLatin1String(name); }

    bool seed(const std::map<QByteArray, QByteArray>& entries)
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        if (!arc_close_catalog(arc_open_catalog(QFile::encodeName(cat()).constData(), 1)))
            return false;
        for (const auto& [name, bytes] : entries)
            if (!putEntry(entry(name.constData()), bytes))
                return false;
        return true;
    }

    // The pair as the game reads it: every listed entry that is not a filler must
    // hold one of its allowed versions (any, when none are named).
    QString check(const std::map<QByteArray, std::set<QByteArray>>& allowed) const
    {
        const RawPair::Result raw = RawPair::read(cat());
        if (!raw.present)
            return QStringLiteral("no catalogue");
        if (!raw.fault.isEmpty())
            return raw.fault;
        const QByteArray data = xorWith(readFile(m_dir.filePath(QStringLiteral("Hullwright.dat"))), 0xA5);
        for (const RawPair::Entry& e : raw.entries) {
            if (arc_is_filler_name(e.name.constData()))
                continue;
            const auto it = allowed.find(e.name);
            if (it == allowed.end())
                return QStringLiteral("unexpected entry ") + QString::fromLatin1(e.name);
            if (!it->second.empty() && !it->second.count(data.mid(e.offset, e.size)))
                return QString::fromLatin1(e.name) + QStringLiteral(" holds other bytes");
        }
        return {};
    }

private slots:
    void fillersKeepTheOffsetsOfLaterEntries()
    {
        QVERIFY(seed({}));
        QVERIFY(putEntry(entry("a.txt"), "AAAA"));
        QVERIFY(putEntry(entry("types\\b.txt"), "BBBBBB"));
        QVERIFY(putEntry(entry("c.txt"), "CC"));
        // Rewritten: the new bytes go past the listed ones, the old stay as a filler.
        QVERIFY(putEntry(entry("a.txt"), "A"));
        QCOMPARE(catalogText(cat()),
                 QByteArray("Hullwright.dat\nHullwright/unused/1 4\ntypes/b.txt 6\nc.txt 2\na.txt 1\n"));
        QCOMPARE(xorWith(readFile(m_dir.filePath("Hullwright.dat")), 0xA5), QByteArray("AAAABBBBBBCCA"));
        // The same size is no exception: the game may be reading the old bytes.
        QVERIFY(putEntry(entry("c.txt"), "cc"));
        QCOMPARE(catalogText(cat()), QByteArray("Hullwright.dat\nHullwright/unused/1 4\ntypes/b.txt "
                                                "6\nHullwright/unused/2 2\na.txt 1\nc.txt 2\n"));
        // Removed: a filler merged with its neighbours; trailing fillers are cut off.
        QVERIFY(removeEntry(entry("a.txt")));
        QCOMPARE(catalogText(cat()), QByteArray("Hullwright.dat\nHullwright/unused/1 4\ntypes/b.txt "
                                                "6\nHullwright/unused/2 3\nc.txt 2\n"));
        QVERIFY(removeEntry(entry("c.txt")));
        QCOMPARE(catalogText(cat()),
                 QByteArray("Hullwright.dat\nHullwright/unused/1 4\ntypes/b.txt 6\n"));
        QCOMPARE(readFile(m_dir.filePath("Hullwright.dat")).size(), 10);

        // Fillers are no files: not listed, not writable, no name for a new entry.
        ArcCatalogHandle* h = arc_open_catalog(QFile::encodeName(cat()).constData(), 0);
        QVERIFY(h);
        QCOMPARE(arc_catalog_unused(h), int64_t(4));
        ArcFindRecord r;
        ArcSearchHandle* s = arc_find_first(h, "*", &r);
        QVERIFY(s);
        QCOMPARE(QByteArray(r.name), QByteArray("types\\b.txt"));
        QVERIFY(!arc_find_next(s, &r));
        arc_find_close(s);
        arc_close_catalog(h);
        for (const char* name : {"Hullwright\\unused\\1", "hullwright/UNUSED/7"}) {
            QVERIFY(!arc_open(QFile::encodeName(entry(name)).constData(), ARC_MODE_WRITE, 1, 1));
            QCOMPARE(arc_last_error(), int(ARC_E_NAME));
        }
        QCOMPARE(check({{"types/b.txt", {"BBBBBB"}}}), QString());
    }

    void compactionReclaimsTheRoom_data()
    {
        QTest::addColumn<QList<QByteArray>>("removed");
        QTest::addColumn<QByteArray>("listed");
        QTest::addColumn<int>("dataSize");
        // a 3000, b 100, c 100, d 100 bytes.
        QTest::newRow("below the entries' size") << QList<QByteArray>{"b.txt", "c.txt"}
                                                 << QByteArray("a.txt 3000\nHullwright/unused/1 200\nd.txt 100\n")
                                                 << 3300;
        QTest::newRow("first entry") << QList<QByteArray>{"a.txt"}
                                     << QByteArray("b.txt 100\nc.txt 100\nd.txt 100\n") << 300;
        QTest::newRow("keeps the prefix") << QList<QByteArray>{"b.txt", "c.txt", "a.txt"}
                                          << QByteArray("d.txt 100\n") << 100;
    }

    void compactionReclaimsTheRoom()
    {
        QFETCH(QList<QByteArray>, removed);
        QFETCH(QByteArray, listed);
        QFETCH(int, dataSize);
        const int64_t old = arc_set_compact_threshold(1);
        QVERIFY(seed({{"a.txt", filled('a', 3000)},
                      {"b.txt", filled('b', 100)},
                      {"c.txt", filled('c', 100)},
                      {"d.txt", filled('d', 100)}}));
        for (const QByteArray& name : removed)
            QVERIFY(removeEntry(entry(name.constData())));
        arc_set_compact_threshold(old);
        QCOMPARE(catalogText(cat()), "Hullwright.dat\n" + listed);
        QCOMPARE(readFile(m_dir.filePath("Hullwright.dat")).size(), dataSize);
        QCOMPARE(check({{"a.txt", {filled('a', 3000)}},
                        {"b.txt", {filled('b', 100)}},
                        {"c.txt", {filled('c', 100)}},
                        {"d.txt", {filled('d', 100)}}}),
                 QString());
    }

    // A child process does the change and is killed at its Nth file call; the pair
    // it leaves is read as the game reads it, for N = 1, 2, ... until the change
    // runs to its end.
    void killedAtEveryCall_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::newRow("rewrite and add, catalogue held") << 0;
        QTest::newRow("remove middle and last") << 1;
        QTest::newRow("compaction") << 2;
        QTest::newRow("new catalogue") << 3;
    }

    void killedAtEveryCall()
    {
        QFETCH(int, scenario);
        const QByteArray packedText = QByteArray("// TShips\n").repeated(300);
        const std::map<QByteArray, QByteArray> before{{"a.txt", filled('a', 3000)},
                                                      {"b.txt", filled('b', 100)},
                                                      {"c.txt", filled('c', 100)},
                                                      {"d.txt", filled('d', 100)}};
        std::map<QByteArray, std::set<QByteArray>> allowed;
        for (const auto& [name, bytes] : before)
            allowed[name] = {bytes};
        allowed["b.txt"].insert(filled('B', 150));
        allowed["d.txt"].insert(filled('D', 100));
        allowed["e.txt"] = {filled('e', 50)};
        allowed["t.pck"] = {}; // a fresh key each time: the decoder checks it unpacks
        const QByteArray catName = QFile::encodeName(cat());
        const std::function<bool()> change[] = {
            [&] {
                ArcCatalogHandle* h = arc_open_catalog(catName.constData(), 0);
                const bool ok = putEntry(entry("b.txt"), filled('B', 150)) &&
                                putEntry(entry("d.txt"), filled('D', 100)) &&
                                putEntry(entry("e.txt"), filled('e', 50)) &&
                                putEntry(entry("t.pck"), packedText, ARC_TYPE_PACKED);
                return arc_close_catalog(h) && ok;
            },
            [&] { return removeEntry(entry("b.txt")) && removeEntry(entry("d.txt")); },
            [&] {
                arc_set_compact_threshold(1);
                return removeEntry(entry("a.txt"));
            },
            [&] {
                QFile::remove(cat());
                QFile::remove(m_dir.filePath("Hullwright.dat"));
                return arc_close_catalog(arc_open_catalog(catName.constData(), 1)) &&
                       putEntry(entry("e.txt"), filled('e', 50));
            },
        };
        int killed = 0;
        for (long point = 1;; ++point) {
            QVERIFY(seed(before));
            const pid_t pid = fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                fio::killAt(point);
                _exit(change[scenario]() ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(waitpid(pid, &status, 0), pid);
            if (WIFEXITED(status)) {
                QCOMPARE(WEXITSTATUS(status), 0);
                break;
            }
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            ++killed;
            if (scenario == 3 && !QFileInfo::exists(cat()))
                continue; // no catalogue yet: the game loads no mod
            const QString fault = check(allowed);
            QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("killed at call %1: %2").arg(point).arg(fault)));
        }
        QVERIFY(killed >= 5);
        // And run to its end, the change is complete.
        QCOMPARE(check(allowed), QString());
    }
};

QTEST_GUILESS_MAIN(TstArcPair)
#include "tst_arcpair.moc"
