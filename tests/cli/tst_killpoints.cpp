// drydock-cli killed with SIGKILL in the middle of install, uninstall and update
// mod: the next run rolls the change back, so the game directory is exactly as
// before, or as after the change when the kill came after its commit. Right after
// each kill, before any program of ours runs, the mod pair must already read as
// the game reads it. The test kills at a few points; scripts/killsweep.sh kills at
// every one.
#include "gamesnapshot.h"
#include "rawpair.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace GameSnapshot;

namespace {

// drydock-cli stamps the registry and the ship list with the real clock, so a run
// after a kill carries another time, and the backup copy may or may not rotate.
Snapshot withoutTimes(Snapshot s)
{
    s.erase(QStringLiteral("Slipway/ships.dat.bak"));
    static const QRegularExpression stamp(QStringLiteral("\\b1[6-9]\\d{8}\\b"));
    for (auto& [name, bytes] : s)
        bytes = QString::fromLatin1(bytes).replace(stamp, QStringLiteral("TIME")).toLatin1();
    return s;
}

} // namespace

class TestKillPoints : public QObject
{
    Q_OBJECT

    // Every run syncs each step: in a RAM folder the runs take a third of the
    // time, and a kill loses nothing there that a disk would keep.
    QTemporaryDir m_tmp{
        (GameSnapshot::ramTempDir().isEmpty() ? QDir::tempPath() : GameSnapshot::ramTempDir()) +
        QStringLiteral("/tst_killpoints-XXXXXX")};
    QString m_program;
    QString m_compactMin; // the mod pair's compaction threshold in the runs, empty: default

    // Exit code, or -1 when the run was killed.
    int cli(const QStringList& args, long killAt = 0) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!m_compactMin.isEmpty())
            env.insert(QStringLiteral("VEGA_ARC_COMPACT_MIN"), m_compactMin);
        if (killAt > 0)
            env.insert(QStringLiteral("VEGA_FIO_KILL_AT"), QString::number(killAt));
        p.setProcessEnvironment(env);
        p.start(m_program + QStringLiteral("/drydock-cli"), args);
        if (!p.waitForFinished(60000))
            return -2;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_program = m_tmp.filePath("program");
        QVERIFY(QDir().mkpath(m_program));
        // The sweep can measure another build (an older one, to compare).
        const QString other = qEnvironmentVariable("VEGA_KILL_SWEEP_CLI");
        const QString built = other.isEmpty() ? QStringLiteral(DRYDOCK_CLI_PATH) : other;
        QVERIFY(QFile::copy(built, m_program + "/drydock-cli"));
        QVERIFY(QFile::copy(QFileInfo(built).absolutePath() + "/hw_languages.xml",
                            m_program + "/hw_languages.xml"));
    }

    void killedAndRolledBack_data()
    {
        QTest::addColumn<QList<QStringList>>("prepare");
        QTest::addColumn<QStringList>("command");
        const QStringList merganser{"install", "G", "G/sample-ships/Merganser.xsp"};
        QTest::addColumn<QString>("compactMin");
        QTest::newRow("install") << QList<QStringList>{} << merganser << QString();
        QTest::newRow("update mod")
            << QList<QStringList>{merganser,
                                  {"update-mod", "G"},
                                  {"install", "G", "G/sample-ships/Goosander.xsp"}}
            << QStringList{"update-mod", "G"} << QString();
        const QList<QStringList> installed{merganser, {"update-mod", "G"}};
        const QStringList uninstall{"uninstall", "G", "Merganser", "Orrin Vale"};
        QTest::newRow("uninstall") << installed << uninstall << QString();
        // The freed model bytes outweigh the tables: the mod pair is compacted.
        QTest::newRow("uninstall, compacting") << installed << uninstall << QStringLiteral("1");
    }

    void killedAndRolledBack()
    {
        QFETCH(QList<QStringList>, prepare);
        QFETCH(QStringList, command);
        QFETCH(QString, compactMin);
        m_compactMin = compactMin;
        const QString game = m_tmp.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const auto inGame = [&game](QStringList args) {
            for (QString& a : args)
                if (a == QLatin1String("G") || a.startsWith(QLatin1String("G/")))
                    a = game + a.mid(1);
            return args;
        };
        QCOMPARE(cli({"make-sample-game", game}), 0);
        for (const QStringList& step : prepare)
            QCOMPARE(cli(inGame(step)), 0);
        const QString pristine = game + QStringLiteral("-pristine");
        QVERIFY(copyTree(game, pristine));
        const Snapshot before = withoutTimes(snapshot(game));
        QCOMPARE(cli(inGame(command)), 0);
        const Snapshot done = withoutTimes(snapshot(game));
        if (!compactMin.isEmpty()) { // compacted: fillers never outweigh the files
            qint64 unused = 0, used = 0;
            for (const RawPair::Entry& e :
                 RawPair::read(game + QStringLiteral("/mods/Hullwright.cat")).entries)
                (e.name.startsWith("Hullwright/unused/") ? unused : used) += e.size;
            QVERIFY2(unused <= used, qPrintable(QStringLiteral("%1 unused, %2 used").arg(unused).arg(used)));
        }

        // Every point for the sweep; else a spread that reaches past the commit.
        const bool sweep = qEnvironmentVariableIntValue("VEGA_KILL_SWEEP") > 0;
        int killed = 0, broken = 0;
        for (long point = 1;; point = sweep ? point + 1 : point * 2 + 1) {
            QVERIFY(QDir(game).removeRecursively() && copyTree(pristine, game));
            const int code = cli(inGame(command), point);
            if (code != -1) {
                QCOMPARE(code, 0); // ran to its end before the point
                break;
            }
            ++killed;
            // The game reads the pair itself and knows no journal.
            const RawPair::Result raw = RawPair::read(game + QStringLiteral("/mods/Hullwright.cat"));
            if (!raw.fault.isEmpty()) {
                ++broken;
                qWarning("killed at %ld: the mod pair is broken: %s", point, qPrintable(raw.fault));
            }
            QCOMPARE(cli({"list", game}), 0); // rolls back what the kill left
            const Snapshot after = withoutTimes(snapshot(game));
            const QString toBefore = firstDifference(before, after);
            QVERIFY2(toBefore.isEmpty() || firstDifference(done, after).isEmpty(),
                     qPrintable(QStringLiteral("killed at %1: %2; %3")
                                    .arg(point)
                                    .arg(toBefore, firstDifference(done, after))));
        }
        if (sweep)
            qInfo("%s: %d kill points, %d broken mod pairs, no broken state after the next run",
                  QTest::currentDataTag(), killed, broken);
        QVERIFY(killed >= 4);
        QCOMPARE(broken, 0);
    }
};

QTEST_GUILESS_MAIN(TestKillPoints)
#include "tst_killpoints.moc"
