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
    for (const QStringList& r : tableRows("cli-record-commands.tsv")) {
        QStringList args = r[1].split('|');
        args.replaceInStrings("@ship", kShip).replaceInStrings("@sample", sample);
        args.replaceInStrings("@swapped", swapped);
        QTest::newRow(qPrintable(r[0]))
            << args << r[2].toInt() << r[3].toLatin1() << r[4].toLatin1();
    }
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
