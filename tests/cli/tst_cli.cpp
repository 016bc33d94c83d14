// drydock-cli is driven by scripts: its output lines and exit codes are checked
// here exactly, by running the built program.

#include "arc.h"
#include "archivefile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

struct Result
{
    int code = -1;
    QByteArray out, err;
    // A failure is reported on exactly one stderr line, with nothing on stdout.
    bool failedWith(const char* message) const
    {
        return code == 1 && out.isEmpty() && err.count('\n') == 1 && err.endsWith('\n') &&
               err.contains(message);
    }
};

Result cli(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(DRYDOCK_CLI_PATH), args);
    Result r;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        r = {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    return r;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

int unpacked(const QByteArray& packed, QByteArray* plain, uint32_t* mtime = nullptr)
{
    std::vector<unsigned char> out;
    const int status = arc_unpack(reinterpret_cast<const unsigned char*>(packed.constData()),
                                  static_cast<size_t>(packed.size()), out, mtime);
    *plain = QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
    return status;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString path(const char* name) const { return m_tmp.filePath(QLatin1String(name)); }

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("no arguments") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{"launch"} << 2;
        QTest::newRow("cat alone") << QStringList{"cat"} << 2;
        QTest::newRow("unknown subcommand") << QStringList{"cat", "copy", "a", "b"} << 2;
        QTest::newRow("too few") << QStringList{"cat", "extract", "a.cat", "x"} << 2;
        QTest::newRow("too many") << QStringList{"pack", "a", "b", "c"} << 2;
        QTest::newRow("foreign option")
            << QStringList{"cat", "extract", "a", "x", "y", "--pack"} << 2;
    }

    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        const Result r = cli(args);
        QCOMPARE(r.code, code);
        // Help goes to stdout; a usage error keeps stdout clean for the calling script.
        QVERIFY((code == 0 ? r.out : r.err).contains("Usage: drydock-cli"));
        QVERIFY(code == 0 ? r.err.isEmpty() : r.out.isEmpty());
    }

    void sampleGameAndListing()
    {
        const QString game = path("game");
        Result r = cli({"make-sample-game", game});
        QVERIFY(r.code == 0 && r.err.isEmpty());

        r = cli({"cat", "list", game + "/01.cat"});
        QCOMPARE(r.code, 0);
        QByteArray expected;
        for (const CatalogEntryInfo& e : ListCatalog(game + "/01.cat"))
            expected += QByteArray::number(e.size) + '\t' + e.name.toLocal8Bit() + '\n';
        QVERIFY(expected.contains("\ttypes\\TShips.pck\n"));
        QCOMPARE(r.out, expected);

        QVERIFY(cli({"make-sample-game", game}).failedWith("already holds"));
        QVERIFY(cli({"cat", "extract", game + "/01.cat", "types\\None.pck", path("out")})
                    .failedWith("No entry in CAT file."));
    }

    void missingCatalogue()
    {
        const QString missing = path("nowhere.cat");
        QVERIFY(cli({"cat", "list", missing}).failedWith("File does not exist."));
        QVERIFY(cli({"cat", "extract", missing, "a.txt", path("out")})
                    .failedWith("File does not exist."));
        QVERIFY(cli({"cat", "remove", missing, "a.txt"}).failedWith("File does not exist."));
        QVERIFY(!QFileInfo::exists(missing) && !QFileInfo::exists(path("out")));
    }

    void addExtractRemove()
    {
        const QString cat = path("new.cat");
        const QByteArray table = "// ships\n48;1;\n0;1;2;SS_SH_TEST;\n";
        QVERIFY(writeFile(path("TShips.txt"), table));

        // add creates the missing catalogue; --pack stores the .txt as .pck.
        QCOMPARE(cli({"cat", "add", cat, path("TShips.txt"), "types/TShips.txt", "--pack"}).code,
                 0);
        QCOMPARE(cli({"cat", "add", cat, path("TShips.txt"), "notes\\plain.txt"}).code, 0);
        QVERIFY(cli({"cat", "add", cat, path("absent.txt"), "x.txt"}).failedWith("absent.txt"));
        const QByteArray plainLine = QByteArray::number(table.size()) + "\tnotes\\plain.txt\n";
        const QList<QByteArray> lines = cli({"cat", "list", cat}).out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("\ttypes\\TShips.pck"));
        QCOMPARE(lines[1] + '\n', plainLine);

        QCOMPARE(cli({"cat", "extract", cat, "types\\TShips.pck", path("out.txt")}).code, 0);
        QCOMPARE(readFile(path("out.txt")), table);
        // --raw gives the stored packed bytes; names match case-insensitively.
        QCOMPARE(cli({"cat", "extract", cat, "TYPES/tships.pck", path("out.pck"), "--raw"}).code,
                 0);
        const QByteArray raw = readFile(path("out.pck"));
        QCOMPARE(QByteArray::number(raw.size()), lines[0].split('\t').first());
        QByteArray plain;
        QCOMPARE(unpacked(raw, &plain), int(ARC_GZ_OK));
        QCOMPARE(plain, table);

        QCOMPARE(cli({"cat", "remove", cat, "types\\TShips.pck"}).code, 0);
        QCOMPARE(cli({"cat", "list", cat}).out, plainLine);
        QVERIFY(
            cli({"cat", "remove", cat, "types\\TShips.pck"}).failedWith("No entry in CAT file."));
    }

    void packAndUnpack()
    {
        QByteArray text;
        for (int i = 0; i < 500; ++i)
            text += "line " + QByteArray::number(i) + ";\r\n";
        QVERIFY(writeFile(path("page.xml"), text));
        const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1500000000);
        {
            QFile f(path("page.xml"));
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        QCOMPARE(cli({"pack", path("page.xml"), path("page.pck")}).code, 0);
        QByteArray plain;
        uint32_t mtime = 0;
        QCOMPARE(unpacked(readFile(path("page.pck")), &plain, &mtime), int(ARC_GZ_OK));
        QCOMPARE(plain, text);
        QCOMPARE(qint64(mtime), stamp.toSecsSinceEpoch()); // the source's time travels along

        QCOMPARE(cli({"unpack", path("page.pck"), path("back.xml")}).code, 0);
        QCOMPARE(readFile(path("back.xml")), text);

        // Not packed, and packed but cut short: refused, no destination left behind.
        QVERIFY(writeFile(path("garbage.pck"), "this is not a packed file at all"));
        QVERIFY(writeFile(path("short.pck"), readFile(path("page.pck")).left(12)));
        for (const char* bad : {"garbage.pck", "short.pck"}) {
            const Result r = cli({"unpack", path(bad), path("bad.txt")});
            QVERIFY2(r.code == 1 && r.err.count('\n') == 1, bad);
            QVERIFY(!QFileInfo::exists(path("bad.txt")));
        }
        QVERIFY(cli({"unpack", path("absent.pck"), path("bad.txt")})
                    .failedWith("File does not exist."));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
