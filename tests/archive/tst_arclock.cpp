// Sharing between processes: a catalogue held open by one program is closed to
// every other (the game and the other program get "access denied"), a writer of a
// disk file denies everyone, readers of a disk file share it.
#include "arc.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The probe's exit code: the library error it saw, 0 when its open succeeded.
int probe(const QString& path, const QString& how)
{
    QProcess p;
    p.start(QStringLiteral(ARC_LOCKPROBE_PATH), {path, how});
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace

class TestArcLock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heldCatalogueDeniesOtherProcess();
    void openEntryKeepsCatalogueLocked();
    void diskFileSharing_data();
    void diskFileSharing();

private:
    QTemporaryDir m_tmp;
    QString m_cat;
};

void TestArcLock::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(QFileInfo(QStringLiteral(ARC_LOCKPROBE_PATH)).isExecutable());
    m_cat = m_tmp.filePath(QStringLiteral("04.cat"));
    ArcCatalogHandle* cat = arc_open_catalog(native(m_cat).constData(), 1);
    QVERIFY(cat);
    QVERIFY(arc_close_catalog(cat));
    ArcFileHandle* h = arc_open(native(m_cat + QStringLiteral("::a.txt")).constData(),
                                ARC_MODE_WRITE, 1, ARC_TYPE_PLAIN);
    QVERIFY(h);
    QCOMPARE(arc_write(h, "abc", 3), 3);
    QVERIFY(arc_close(h));

    QFile plain(m_tmp.filePath(QStringLiteral("plain.txt")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QCOMPARE(plain.write("plain"), 5);
}

void TestArcLock::heldCatalogueDeniesOtherProcess()
{
    const QString entry = m_cat + QStringLiteral("::a.txt");
    ArcCatalogHandle* cat = arc_open_catalog(native(m_cat).constData(), 0);
    QVERIFY(cat);
    QCOMPARE(probe(m_cat, QStringLiteral("cat")), int(ARC_E_ACCESS));
    QCOMPARE(probe(entry, QStringLiteral("0")), int(ARC_E_ACCESS));
    QCOMPARE(probe(entry, QStringLiteral("1")), int(ARC_E_ACCESS));
    QVERIFY(arc_close_catalog(cat));

    QCOMPARE(probe(m_cat, QStringLiteral("cat")), 0);
    QCOMPARE(probe(entry, QStringLiteral("1")), 0);
}

void TestArcLock::openEntryKeepsCatalogueLocked()
{
    // The file object holds its own reference on the catalogue.
    ArcFileHandle* h =
        arc_open(native(m_cat + QStringLiteral("::a.txt")).constData(), ARC_MODE_READ, 0, 0);
    QVERIFY(h);
    QCOMPARE(probe(m_cat, QStringLiteral("cat")), int(ARC_E_ACCESS));
    QVERIFY(arc_close(h));
    QCOMPARE(probe(m_cat, QStringLiteral("cat")), 0);
}

void TestArcLock::diskFileSharing_data()
{
    QTest::addColumn<int>("heldMode");
    QTest::addColumn<QString>("probeMode");
    QTest::addColumn<int>("code");

    QTest::newRow("reader, reader") << int(ARC_MODE_READ) << "0" << 0;
    QTest::newRow("reader, writer") << int(ARC_MODE_READ) << "1" << int(ARC_E_ACCESS);
    QTest::newRow("writer, reader") << int(ARC_MODE_WRITE) << "0" << int(ARC_E_ACCESS);
    QTest::newRow("writer, writer") << int(ARC_MODE_WRITE) << "1" << int(ARC_E_ACCESS);
}

void TestArcLock::diskFileSharing()
{
    QFETCH(int, heldMode);
    QFETCH(QString, probeMode);
    QFETCH(int, code);

    const QString path = m_tmp.filePath(QStringLiteral("plain.txt"));
    ArcFileHandle* h = arc_open(native(path).constData(), heldMode, 0, ARC_TYPE_PLAIN);
    QVERIFY(h);
    QCOMPARE(probe(path, probeMode), code);
    QVERIFY(arc_close(h));
    QCOMPARE(probe(path, probeMode), 0);
}

QTEST_GUILESS_MAIN(TestArcLock)
#include "tst_arclock.moc"
