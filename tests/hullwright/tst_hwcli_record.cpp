// hullwright-cli record as scripts use it: exit codes and output lines.
#include "hwtest.h"
#include "samplegame.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kShip[] =
    "ships\\x;1;0.5;0;0;0;0;1000;0;106;1;5;37;0;112;202;0;0;0;0;5000;0.1;0;0;0;0;3;0;50;10;0;0;0;"
    "0;0;0;0;0;0;0;0;0;0;0;0;0;0;35;36;1;0;0;0;0;0;1;0;25;1;0;0;0;0;0;SS_X;";

} // namespace

class TestHwCliRecord : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();

private:
    QTemporaryDir m_dir;
};

void TestHwCliRecord::commands_data()
{
    const QString sample = m_dir.filePath("sample.txt");
    const QString swapped = m_dir.filePath("swapped.txt");
    QVERIFY(writeFile(sample, SampleGame::ShipTable()));
    QVERIFY(writeFile(swapped, QByteArray("47;2;\nbroken;1;\n") + kShip + "\n"));

    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out"); // expected in stdout
    QTest::addColumn<QByteArray>("err"); // expected in stderr
    QTest::newRow("rebuild sample")
        << QStringList{"record", "rebuild", sample} << 0 << QByteArray() << QByteArray();
    QTest::newRow("rebuild swap") << QStringList{"record", "rebuild", swapped} << 1
                                  << QByteArray("1\t28,29\n") << QByteArray();
    QTest::newRow("show") << QStringList{"record", "show", kShip} << 0
                          << QByteArray("max_speed\t2.6\n") << QByteArray();
    QTest::newRow("show scenes") << QStringList{"record", "show", kShip} << 0
                                 << QByteArray("\nscene\t0\ncockpit_scene\t0\n") << QByteArray();
    QTest::newRow("show broken") << QStringList{"record", "show", "a;b;"} << 0
                                 << QByteArray("body_file\ta\n") << QByteArray("cannot be read");
    QTest::newRow("set") << QStringList{"record", "set", kShip, "yaw=30.1", "recharge_total=1000"}
                         << 0 << QByteArray("ships\\x;1;0.501667;") << QByteArray();
    QTest::newRow("set unknown") << QStringList{"record", "set", kShip, "warp=9"} << 1
                                 << QByteArray() << QByteArray("unknown field");
    QTest::newRow("usage") << QStringList{"record"} << 2 << QByteArray() << QByteArray("Usage");
}

void TestHwCliRecord::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const Result r = run(QStringLiteral(HULLWRIGHT_CLI_PATH), args);
    QCOMPARE(r.code, code);
    if (out.isEmpty() && code == 0)
        QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.out.contains(out), r.out.constData());
    QVERIFY2(r.err.contains(err), r.err.constData());
}

QTEST_GUILESS_MAIN(TestHwCliRecord)
#include "tst_hwcli_record.moc"
