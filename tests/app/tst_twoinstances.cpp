// The real installer program started twice, as opening packages from a file
// manager does: the second start hands its package to the running one and ends.
#include "samplegame.h"
#include "testfiles.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr quint16 kPort = 53416;

bool portAnswers()
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, kPort);
    return probe.waitForConnected(200);
}

} // namespace

class TestTwoInstances : public QObject
{
    Q_OBJECT

private slots:
    void secondStartHandsOverItsPackage()
    {
        {
            QTcpServer busy;
            if (!busy.listen(QHostAddress::LocalHost, kPort))
                QSKIP("the installer's port is taken by another program");
        }
        QTemporaryDir root;
        const QString program = root.filePath("program");
        const QString game = root.filePath("game");
        QVERIFY(QDir().mkpath(program));
        QString error;
        QVERIFY2(SampleGame::MakeSampleGame(game, &error), qPrintable(error));
        const QString packages = game + "/" + SampleGame::PackageFolder;
        QVERIFY2(SampleGame::MakeSamplePackages(packages, &error), qPrintable(error));

        // A program folder of its own that already knows the game.
        const QString exe = program + "/drydock";
        QVERIFY(QFile::copy(QStringLiteral(DRYDOCK_PATH), exe));
        QVERIFY(QFile::copy(qEnvironmentVariable("VEGA_PROGRAM_DIR") + "/hw_languages.xml",
                            program + "/hw_languages.xml"));
        QVERIFY(writeBytes(program + "/config.dat",
                          "<installer>\nInstallDir: " + game.toLocal8Bit() + "\n</installer>\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(exe, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(portAnswers(), 15000);

        QProcess second;
        second.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        second.start(exe, {packages + "/Merganser.xsp"});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(clock.elapsed() < 5000);

        // The running installer installs it: the ship's record is written last.
        QTRY_VERIFY_WITH_TIMEOUT(
            readBytes(game + "/Slipway/ships.dat").contains("\nName: Merganser\n"), 20000);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestTwoInstances)
#include "tst_twoinstances.moc"
