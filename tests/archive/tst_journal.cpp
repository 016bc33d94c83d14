// The change journal and the checked file operations below the engine: what a
// rolled-back or refused change leaves, what a failing call reports, that the
// journal is on disk before the step it guards, that a forged journal cannot
// reach outside its folder, and the writer lock of a game directory.
#include "fileio.h"
#include "gamechange.h"
#include "gamesnapshot.h"
#include "journal.h"
#include "safefile.h"

#include <QDateTime>
#include <QProcess>
#include <QSysInfo>
#include <QtEndian>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <optional>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using GameSnapshot::firstDifference;
using GameSnapshot::Snapshot;
using Steps = std::function<bool(const QString& root)>;
Q_DECLARE_METATYPE(Steps)

namespace {

// Every file by its bytes and every folder (as "name/"): a folder left behind counts.
Snapshot tree(const QString& dir)
{
    Snapshot s;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(dir).relativeFilePath(it.next());
        QFile f(it.filePath());
        if (it.fileInfo().isDir())
            s[rel + QLatin1Char('/')] = {};
        else if (f.open(QIODevice::ReadOnly))
            s[rel] = f.readAll();
    }
    return s;
}

bool put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly) &&
           f.write(bytes) == bytes.size();
}

// Changes a file in place the way the archive library does, the journal first:
// writes `bytes` at `offset`, or without bytes cuts the file there.
bool inPlace(const QString& path, qint64 offset, const QByteArray& bytes = {})
{
    const std::string p = QFile::encodeName(path).toStdString();
    const int fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC);
    bool ok = fd >= 0;
    if (ok && bytes.isEmpty())
        ok = journal::willTruncate(p, fd, offset) && fio::ftruncate(fd, offset) == 0;
    else if (ok)
        ok = journal::willOverwrite(p, fd, offset, bytes.size()) &&
             fio::pwriteAll(fd, bytes.constData(), bytes.size(), offset);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// The step with the journal's first sync failing: refused, since nothing may be
// destroyed before the journal that brings it back is on disk.
Steps refusedWhenSyncFails(const Steps& step)
{
    return [step](const QString& r) {
        fio::injectFault(1, EIO, fio::Sync);
        return !step(r) && fio::faultFired();
    };
}

// One journal record as the journal writes it: type, payload length, payload, CRC.
QByteArray record(char type, const QByteArray& payload)
{
    QByteArray r(1, type);
    const auto le32 = [&r](quint32 v) {
        v = qToLittleEndian(v);
        r.append(reinterpret_cast<const char*>(&v), 4);
    };
    le32(quint32(payload.size()));
    r += payload;
    le32(quint32(crc32(0, reinterpret_cast<const Bytef*>(r.constData()), uInt(r.size()))));
    return r;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_root, m_journal;

private slots:
    void init()
    {
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.filePath(QStringLiteral("root"));
        m_journal = m_tmp.filePath(QStringLiteral("journal"));
        QVERIFY(QDir(m_root).removeRecursively() && QDir(m_journal).removeRecursively());
        QVERIFY(put(m_root + QStringLiteral("/a.txt"), "alpha\n"));
        QVERIFY(put(m_root + QStringLiteral("/sub/b.txt"), "bravo\n"));
    }

    void cleanup() { fio::clearFault(); }

    // The steps report true when they went as the row means; the change is
    // rolled back, or with `commit` must refuse to commit. Either way the folder
    // is as before and the journal gone.
    void changeLeavesNothing_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<bool>("commit");
        const Steps rewrite = [](const QString& r) { return inPlace(r + "/a.txt", 2, "xx"); };
        const Steps cut = [](const QString& r) { return inPlace(r + "/a.txt", 2); };
        const Steps remove = [](const QString& r) { return RemoveFileChecked(r + "/sub/b.txt"); };
        QTest::newRow("new file in new folders") << Steps([](const QString& r) {
            return MakeDirChecked(r + "/new/deep") && WriteFileAtomic(r + "/new/deep/c.txt", "c");
        }) << false;
        QTest::newRow("rewrite in place up to the last byte, growing")
            << Steps([](const QString& r) { return inPlace(r + "/a.txt", 0, "ALPHA!ALPHA!"); })
            << false;
        QTest::newRow("cut short") << cut << false;
        QTest::newRow("removed file and folder") << Steps([remove](const QString& r) {
            return remove(r) && RemoveDirChecked(r + "/sub");
        }) << false;
        QTest::newRow("replaced, moved") << Steps([](const QString& r) {
            return WriteFileAtomic(r + "/a.txt", "new") &&
                   RenameFileChecked(r + "/sub/b.txt", r + "/b.txt");
        }) << false;
        QTest::newRow("journal unsynced, rewrite") << refusedWhenSyncFails(rewrite) << false;
        QTest::newRow("journal unsynced, cut short") << refusedWhenSyncFails(cut) << false;
        QTest::newRow("journal unsynced, remove") << refusedWhenSyncFails(remove) << false;
        QTest::newRow("a failed write the caller ignores") << Steps([](const QString& r) {
            const bool first = WriteFileAtomic(r + "/c.txt", "c");
            fio::injectFault(1, ENOSPC, fio::Write);
            return first && !WriteFileAtomic(r + "/a.txt", "lost");
        }) << true;
    }

    void changeLeavesNothing()
    {
        QFETCH(Steps, steps);
        QFETCH(bool, commit);
        const Snapshot before = tree(m_root);
        GameChange change(m_journal, m_root);
        QVERIFY2(change.ok(), qPrintable(change.error()));
        QVERIFY(steps(m_root));
        fio::clearFault();
        if (commit)
            QVERIFY(!change.commit());
        else
            QVERIFY2(change.rollback(), qPrintable(change.error()));
        QCOMPARE(firstDifference(before, tree(m_root)), QString());
        QVERIFY(!QFileInfo::exists(m_journal));
    }

    // A commit makes durable what the change wrote: the files it wrote and the
    // folders whose names it changed, not files it left alone (and, with no flush of
    // the whole file system, not other programs' unwritten data either). Paths are
    // relative to the root, "." for the root itself.
    void commitSyncsWhatItChanged_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QStringList>("synced");
        QTest::addColumn<QStringList>("untouched");
        QTest::newRow("rewritten in place")
            << Steps([](const QString& r) { return inPlace(r + "/a.txt", 1, "L"); })
            << QStringList{"a.txt"} << QStringList{"sub/b.txt", "sub"};
        QTest::newRow("new file in a new folder") << Steps([](const QString& r) {
            return MakeDirChecked(r + "/new") && WriteFileAtomic(r + "/new/c.txt", "c");
        }) << QStringList{"new/c.txt", "new", "."} << QStringList{"a.txt", "sub/b.txt", "sub"};
        QTest::newRow("removed") << Steps([](const QString& r) {
            return RemoveFileChecked(r + "/sub/b.txt");
        }) << QStringList{"sub"} << QStringList{"a.txt"};
        QTest::newRow("moved") << Steps([](const QString& r) {
            return RenameFileChecked(r + "/sub/b.txt", r + "/b.txt");
        }) << QStringList{"sub", ".", "b.txt"}
                               << QStringList{"a.txt"};
    }

    void commitSyncsWhatItChanged()
    {
        QFETCH(Steps, steps);
        QFETCH(QStringList, synced);
        QFETCH(QStringList, untouched);
        const QString root = QFileInfo(m_root).canonicalFilePath();
        std::vector<std::string> log;
        fio::recordSyncs(&log);
        GameChange change(m_journal, m_root);
        const bool stepped = change.ok() && steps(m_root);
        const bool committed = stepped && change.commit();
        fio::recordSyncs(nullptr);
        QVERIFY(committed);
        QSet<QString> seen;
        for (const std::string& path : log)
            seen.insert(QDir(root).relativeFilePath(QFile::decodeName(path.c_str())));
        for (const QString& name : synced)
            QVERIFY2(seen.contains(name), qPrintable(name + QStringLiteral(" was not synced")));
        for (const QString& name : untouched)
            QVERIFY2(!seen.contains(name), qPrintable(name + QStringLiteral(" was synced")));
    }

    // Links planted below a confining folder (a game under a change, an extraction
    // target) lead no checked operation outside: a folder link fails it, a link at
    // the final name is replaced rather than followed, and a link at a scratch name
    // of the old predictable form is never opened. `ok`: whether the step succeeds.
    void plantedLinksChangeNothingOutside_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::addColumn<Steps>("step");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("journaled");
        const QList<std::tuple<const char*, QString, Steps, bool>> rows = {
            {"write through a folder link", "folder",
             [](const QString& r) { return WriteFileAtomic(r + "/linked/victim.txt", "evil"); }, false},
            {"copy through a folder link", "folder",
             [](const QString& r) { return CopyFileChecked(r + "/a.txt", r + "/linked/victim.txt"); }, false},
            {"new folder through a folder link", "folder",
             [](const QString& r) { return MakeDirChecked(r + "/linked/new/deep"); }, false},
            {"move through a folder link", "folder",
             [](const QString& r) { return RenameFileChecked(r + "/a.txt", r + "/linked/victim.txt"); }, false},
            {"remove through a folder link", "folder",
             [](const QString& r) { return RemoveFileChecked(r + "/linked/victim.txt"); }, false},
            {"write over a link at the final name", "final",
             [](const QString& r) { return WriteFileAtomic(r + "/c.txt", "new"); }, true},
            {"copy over a link at the final name", "final",
             [](const QString& r) { return CopyFileChecked(r + "/a.txt", r + "/c.txt"); }, true},
            {"remove a link at the final name", "final",
             [](const QString& r) { return RemoveFileChecked(r + "/c.txt"); }, true},
            {"write over a link to /dev/zero", "zero",
             [](const QString& r) { return WriteFileAtomic(r + "/c.txt", "new"); }, true},
            {"write beside links at predictable scratch names", "scratch",
             [](const QString& r) { return WriteFileAtomic(r + "/c.txt", "new"); }, true},
        };
        for (bool journaled : {false, true})
            for (const auto& [name, plant, step, ok] : rows)
                QTest::addRow("%s, %s", name, journaled ? "in a change" : "in a confined folder")
                    << plant << step << ok << journaled;
    }

    void plantedLinksChangeNothingOutside()
    {
        QFETCH(QString, plant);
        QFETCH(Steps, step);
        QFETCH(bool, ok);
        QFETCH(bool, journaled);
        const QString outside = m_tmp.filePath(QStringLiteral("outside"));
        QVERIFY(QDir(outside).removeRecursively());
        const QString victim = outside + QStringLiteral("/victim.txt");
        QVERIFY(put(victim, "keep"));
        QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner));
        if (plant == QLatin1String("folder"))
            QVERIFY(QFile::link(outside, m_root + QStringLiteral("/linked")));
        else if (plant == QLatin1String("final"))
            QVERIFY(QFile::link(victim, m_root + QStringLiteral("/c.txt")));
        else if (plant == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_root + QStringLiteral("/c.txt")));
        else
            for (int n = 0; n < 8; ++n)
                QVERIFY(QFile::link(victim, m_root + QStringLiteral("/.c.txt.%1-%2.part")
                                                         .arg(::getpid()).arg(n)));
        const Snapshot before = tree(outside);
        std::optional<GameChange> change;
        std::optional<ConfinedFolder> confined;
        if (journaled)
            change.emplace(m_journal, m_root);
        else
            confined.emplace(m_root);
        QCOMPARE(step(m_root), ok);
        if (change)
            change->commit();
        QCOMPARE(firstDifference(before, tree(outside)), QString());
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(victim).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        if (ok && plant != QLatin1String("scratch") && QFileInfo::exists(m_root + "/c.txt"))
            QVERIFY(!QFileInfo(m_root + QStringLiteral("/c.txt")).isSymLink());
    }

    // A link in the journal's place is refused before anything is written through it.
    void journalFolderLinkIsRefused()
    {
        const QString outside = m_tmp.filePath(QStringLiteral("outside-journal"));
        QVERIFY(put(outside + QStringLiteral("/data"), "keep"));
        QVERIFY(QFile::link(outside, m_journal));
        {
            GameChange change(m_journal, m_root);
            QVERIFY(!change.ok());
            QVERIFY2(change.error().contains(QStringLiteral("link")), qPrintable(change.error()));
        }
        QVERIFY(QFile::remove(m_journal));
        QCOMPARE(tree(outside), (Snapshot{{QStringLiteral("data"), "keep"}}));
    }

    // A replacing write whose write, sync, close or rename fails reports it and
    // keeps the old file, with no scratch copy beside it.
    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<unsigned>("kind");
        QTest::newRow("write") << unsigned(fio::Write);
        QTest::newRow("sync") << unsigned(fio::Sync);
        QTest::newRow("close") << unsigned(fio::Close);
        QTest::newRow("rename") << unsigned(fio::Rename);
    }

    void failedWriteKeepsOldFile()
    {
        QFETCH(unsigned, kind);
        const Snapshot before = tree(m_root);
        QString error;
        fio::injectFault(1, EIO, kind);
        QVERIFY(!WriteFileAtomic(m_root + QStringLiteral("/a.txt"), "new", &error));
        QVERIFY(fio::faultFired());
        QVERIFY2(error.contains(QStringLiteral("a.txt")), qPrintable(error));
        QCOMPARE(firstDifference(before, tree(m_root)), QString());
    }

    // A journal left behind is rolled back as far as its names stay inside the
    // folder; a forged name that climbs out ends the roll-back there.
    void forgedJournalStaysInside_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("leading ..") << QByteArray("../victim.txt");
        QTest::newRow(".. inside") << QByteArray("sub/../../victim.txt");
        QTest::newRow("absolute") << QFile::encodeName(
            m_tmp.filePath(QStringLiteral("victim.txt")));
    }

    void forgedJournalStaysInside()
    {
        QFETCH(QByteArray, name);
        const QString victim = m_tmp.filePath(QStringLiteral("victim.txt"));
        QVERIFY(put(victim, "keep"));
        QVERIFY(put(m_root + QStringLiteral("/c.txt"), "made by the change"));
        QVERIFY(
            put(m_journal + QStringLiteral("/index"), record('N', "c.txt") + record('N', name)));
        QString report;
        QCOMPARE(GameChange::recover(m_journal, m_root, &report), 1);
        QVERIFY2(!QFileInfo::exists(m_root + QStringLiteral("/c.txt")), qPrintable(report));
        QVERIFY(QFileInfo::exists(victim));
        QVERIFY(!QFileInfo::exists(m_journal));
    }

    // A roll-back that cannot put a file back keeps the journal and says which
    // file and the system's reason, for a message in the user's language.
    void failedRollBackSaysWhere()
    {
        const QString journal = GameChange::journalDir(m_root);
        // The change made a file below what is a file now: it cannot be removed.
        QVERIFY(put(journal + QStringLiteral("/index"), record('N', "sub/b.txt/x")));
        QString report;
        GameChange::RecoverFailure failure;
        QCOMPARE(GameChange::recover(m_root, &report, &failure), -1);
        QVERIFY2(report.contains(QStringLiteral("kept for the next start")), qPrintable(report));
        QVERIFY(!failure.notRemoved);
        QCOMPARE(failure.error, ENOTDIR);
        QVERIFY2(failure.file.endsWith(QDir::toNativeSeparators(QStringLiteral("sub/b.txt/x"))),
                 qPrintable(failure.file));
        QCOMPARE(failure.journal, QDir::toNativeSeparators(QDir::cleanPath(journal)));
        QVERIFY(QFileInfo::exists(journal + QStringLiteral("/index")));
    }

    // The file-I/O boundary passes the kernel's refusal on: a sync that did not
    // happen must not read as done.
    void callsReachTheKernel_data()
    {
        QTest::addColumn<std::function<long()>>("call");
        using Call = std::function<long()>;
        QTest::newRow("write") << Call([] { return long(fio::write(-1, "x", 1)); });
        QTest::newRow("fsync") << Call([] { return long(fio::fsync(-1)); });
    }

    void callsReachTheKernel()
    {
        QFETCH(std::function<long()>, call);
        errno = 0;
        QCOMPARE(call(), -1L);
        QCOMPARE(errno, EBADF);
    }

    // The writer lock is held for hours by a window: only a holder that no
    // longer runs gives it up, however old the lock file is.
    void writerLock_data()
    {
        QTest::addColumn<bool>("holderRuns");
        QTest::newRow("another machine's program") << true;
        QTest::newRow("a program that ended") << false;
    }

    void writerLock()
    {
        QFETCH(bool, holderRuns);
        QString content = QStringLiteral("4242\ndrydock\nother-machine\n");
        if (!holderRuns) {
            QProcess ended;
            ended.start(QStringLiteral("true"));
            const qint64 pid = ended.waitForStarted() ? ended.processId() : 0;
            QVERIFY(pid > 0 && ended.waitForFinished());
            content = QStringLiteral("%1\ntrue\n%2\n").arg(pid).arg(QSysInfo::machineHostName());
        }
        GameDirLock lock(m_root);
        QFile file(lock.path());
        QVERIFY(put(lock.path(), content.toUtf8()) && file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(lock.tryLock(), !holderRuns);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
