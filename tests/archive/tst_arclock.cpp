// Sharing between processes: a catalogue held open by one program, directly or
// through an open entry, is closed to every other (the game and the other
// program get "access denied"), a writer of a disk file denies everyone, readers
// of a disk file share it.
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

    QTemporaryDir m_tmp;

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        ArcCatalogHandle* cat = arc_open_catalog(native(m_tmp.filePath("04.cat")).constData(), 1);
        QVERIFY(cat && arc_close_catalog(cat));
        ArcFileHandle* h = arc_open(native(m_tmp.filePath("04.cat::a.txt")).constData(),
                                    ARC_MODE_WRITE, 1, ARC_TYPE_PLAIN);
        QVERIFY(h);
        QCOMPARE(arc_write(h, "abc", 3), 3);
        QVERIFY(arc_close(h));
        QFile plain(m_tmp.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QCOMPARE(plain.write("plain"), 5);
    }

    // What this process holds and what the other one opens, both as the probe's
    // arguments ("PATH cat" a catalogue, "PATH 0|1" a file read or written), and
    // the other's answer while it is held; once let go, the other's open succeeds.
    void heldDeniesOthers_data()
    {
        QTest::addColumn<QString>("held");
        QTest::addColumn<QString>("probed");
        QTest::addColumn<int>("code");
        const int denied = ARC_E_ACCESS;
        const auto row = [](const char* tag, const char* held, const char* probed, int code) {
            QTest::newRow(tag) << QString(held) << QString(probed) << code;
        };
        row("catalogue, catalogue", "04.cat cat", "04.cat cat", denied);
        row("catalogue, entry read", "04.cat cat", "04.cat::a.txt 0", denied);
        row("catalogue, entry write", "04.cat cat", "04.cat::a.txt 1", denied);
        row("entry, catalogue", "04.cat::a.txt 0", "04.cat cat", denied);
        row("reader, reader", "plain.txt 0", "plain.txt 0", 0);
        row("reader, writer", "plain.txt 0", "plain.txt 1", denied);
        row("writer, reader", "plain.txt 1", "plain.txt 0", denied);
        row("writer, writer", "plain.txt 1", "plain.txt 1", denied);
    }

    void heldDeniesOthers()
    {
        QFETCH(QString, held);
        QFETCH(QString, probed);
        QFETCH(int, code);
        const QStringList h = held.split(QLatin1Char(' ')), p = probed.split(QLatin1Char(' '));
        const QByteArray path = native(m_tmp.filePath(h[0]));
        const bool catalogue = h[1] == QLatin1String("cat");
        ArcCatalogHandle* cat = catalogue ? arc_open_catalog(path.constData(), 0) : nullptr;
        ArcFileHandle* file =
            catalogue ? nullptr : arc_open(path.constData(), h[1].toInt(), 0, ARC_TYPE_AUTO);
        QVERIFY(cat || file);
        QCOMPARE(probe(m_tmp.filePath(p[0]), p[1]), code);
        QVERIFY(catalogue ? arc_close_catalog(cat) : arc_close(file));
        QCOMPARE(probe(m_tmp.filePath(p[0]), p[1]), 0);
    }
};

QTEST_GUILESS_MAIN(TestArcLock)
#include "tst_arclock.moc"
