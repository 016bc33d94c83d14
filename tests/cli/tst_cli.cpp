// drydock-cli is driven by scripts: its output lines and exit codes are checked
// here exactly, by running the built program.

#include "arc.h"
#include "archivefile.h"
#include "lzmafile.h"

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

// workDir and tmpDir (when given) become the working folder and TMPDIR.
Result cli(const QStringList& args, const QString& workDir = {}, const QString& tmpDir = {})
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    if (!tmpDir.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmpDir);
        p.setProcessEnvironment(env);
    }
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
        QTest::newRow("xsp alone") << QStringList{"xsp"} << 2;
        QTest::newRow("xsp info without package") << QStringList{"xsp", "info"} << 2;
        // The installer commands check their arguments before the game directory.
        QTest::newRow("install without package") << QStringList{"install", "G"} << 2;
        QTest::newRow("list without game") << QStringList{"list"} << 2;
        QTest::newRow("uninstall without author") << QStringList{"uninstall", "G", "M"} << 2;
        QTest::newRow("update-mod with extra") << QStringList{"update-mod", "G", "x"} << 2;
        QTest::newRow("base-mod without name") << QStringList{"base-mod", "G"} << 2;
        QTest::newRow("base-mod name and none") << QStringList{"base-mod", "G", "X", "--none"} << 2;
        QTest::newRow("unknown same-id answer")
            << QStringList{"install", "G", "a.xsp", "--on-same-id=maybe"} << 2;
        QTest::newRow("fake patch on install")
            << QStringList{"install", "G", "a.xsp", "--fake-patch"} << 2;
        QTest::newRow("none on redo") << QStringList{"redo-base-mod", "G", "--none"} << 2;
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

    void refusals()
    {
        const QString missing = path("nowhere.cat");
        for (const QStringList& args : {QStringList{"cat", "list", missing},
                                        {"cat", "extract", missing, "a", path("out")},
                                        {"cat", "remove", missing, "a.txt"},
                                        {"xsp", "info", path("absent.xsp")},
                                        {"unpack", path("absent.pck"), path("out")}})
            QVERIFY2(cli(args).failedWith("File does not exist."), qPrintable(args.join(' ')));
        QVERIFY(cli({"xsp", "info", m_tmp.path()}).failedWith("not a file"));
        QVERIFY(!QFileInfo::exists(missing) && !QFileInfo::exists(path("out")));

        const QString game = path("game");
        QCOMPARE(cli({"make-sample-game", game}).code, 0);
        QVERIFY(cli({"make-sample-game", game}).failedWith("already holds"));
        QVERIFY(cli({"cat", "extract", game + "/01.cat", "types\\None.pck", path("out")})
                    .failedWith("No entry in CAT file."));
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

    // A stored size beyond 32 bits (a sparse data file) is listed in full, and a
    // destination that cannot be written is named.
    void hugeEntryIsListedInFull()
    {
        const QString cat = path("huge.cat");
        QByteArray text = "huge.dat\nbig.bin 5000000000\nafter.txt 2\n";
        arc_scramble_catalog(reinterpret_cast<unsigned char*>(text.data()), size_t(text.size()));
        QVERIFY(writeFile(cat, text));
        QFile dat(path("huge.dat"));
        QVERIFY(dat.open(QIODevice::WriteOnly) && dat.resize(5000000002LL));
        dat.close();
        const Result r = cli({"cat", "list", cat});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("5000000000\tbig.bin\n2\tafter.txt\n"));
        QVERIFY(cli({"cat", "extract", cat, "after.txt", path("no/such/dir/out")})
                    .failedWith("no/such/dir/out: cannot create"));
    }

    // Every kind of line, out of the writer's order, with an unknown key, embedded
    // bytes that hold a line break, and an empty file (the document in data/cli).
    void xspInfo()
    {
        const QByteArray document = readFile(QFINDTESTDATA("../data/cli/info-document.txt"));
        const QByteArray expected = readFile(QFINDTESTDATA("../data/cli/info-expected.txt"));
        const QString box = path("xsp");
        QVERIFY(QDir().mkpath(box + "/work") && QDir().mkpath(box + "/tmp"));
        QVERIFY(writeFile(box + "/plain.xsp", document));
        QVERIFY(CompressFile(box + "/plain.xsp", box + "/packed.xsp"));
        for (const char* file : {"plain.xsp", "packed.xsp"}) {
            const Result r = cli({"xsp", "info", box + '/' + file}, box + "/work", box + "/tmp");
            QVERIFY2(r.code == 0 && r.err.isEmpty(), r.err.constData());
            QCOMPARE(r.out, expected);
        }
        // The files it placed went into a temporary folder that is gone again.
        QCOMPARE(QDir(box + "/work").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(QDir(box + "/tmp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(QDir(box).entryList(QDir::Files), QStringList({"packed.xsp", "plain.xsp"}));
    }

    void xspInfoRefuses_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("too new") << QByteArray("Packager: 1.5\nName: N\nAuthor: A\n") << 3
                                 << QByteArray("needs a newer reader");
        QTest::newRow("no author")
            << QByteArray("Packager: 1\nName: N\n") << 1 << QByteArray("not a valid ship package");
    }

    void xspInfoRefuses()
    {
        QFETCH(QByteArray, document);
        QFETCH(int, code);
        QFETCH(QByteArray, message);
        const QString box = path("refused");
        QDir(box).removeRecursively();
        QVERIFY(QDir().mkpath(box + "/tmp"));
        QVERIFY(writeFile(box + "/doc", document));
        const QString package = box + "/doc.xsp";
        QVERIFY(CompressFile(box + "/doc", package));
        const Result r = cli({"xsp", "info", package}, box, box + "/tmp");
        QCOMPARE(r.code, code);
        QVERIFY(r.out.isEmpty() && r.err.count('\n') == 1);
        QVERIFY2(r.err.startsWith("drydock-cli: " + package.toLocal8Bit() + ": ") &&
                     r.err.contains(message),
                 r.err.constData());
        QCOMPARE(QDir(box + "/tmp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void xspBuildAndUnpack()
    {
        const QByteArray document = "Packager: 1\nName: Test Hull\nAuthor: Ada Quill\n"
                                    "ScreenShot: 3 png\nPNG\n"
                                    "Script: 3 4 setup.tq.xml\n<a/>\n"
                                    "Model: 200 3 objects/tq/b.bob\nabc\n";
        QVERIFY(writeFile(path("doc.txt"), document));
        const Result built = cli({"xsp", "build", path("doc.txt"), path("built.xsp")});
        QCOMPARE(built.code, 0);
        QVERIFY(readFile(path("built.xsp")).startsWith("\x5d\x00\x00\x20\x00"));

        const Result unpacked = cli({"xsp", "unpack", path("built.xsp"), path("unpacked")});
        QCOMPARE(unpacked.code, 0);
        QCOMPARE(readFile(path("unpacked/objects/tq/b.bob")), QByteArray("abc"));
        QCOMPARE(readFile(path("unpacked/Scripts/setup.tq.xml")), QByteArray("<a/>"));
        QCOMPARE(readFile(path("unpacked/ShipPics/TestHull-AdaQuill.png")), QByteArray("PNG"));

        // Anything but a package document is refused instead of packed.
        QVERIFY(writeFile(path("notdoc.txt"), "hello\n"));
        QVERIFY(cli({"xsp", "build", path("notdoc.txt"), path("x.xsp")})
                    .failedWith("not a package document"));
        QVERIFY(!QFileInfo::exists(path("x.xsp")));
        QVERIFY(cli({"xsp", "unpack", path("notdoc.txt"), path("u2")})
                    .failedWith("not a ship package (no compressed package header)"));
        // A package header followed by too little: damaged, not foreign.
        QVERIFY(writeFile(path("cut.xsp"), QByteArray("\x5d\0\0\x20\0\x40\0\0\0\0\0\0\0xyz", 16)));
        QVERIFY(cli({"xsp", "unpack", path("cut.xsp"), path("u3")})
                    .failedWith("the package does not decompress: it is damaged or cut short"));

        // Files left out are named one by one; what could be placed is placed.
        QVERIFY(writeFile(path("doc.txt"), document + "Files: 1 2 " + QByteArray(5000, 'n') +
                                               "\nab\nScript: 1 2 a\r.xml\nab\n"));
        QCOMPARE(cli({"xsp", "build", path("doc.txt"), path("skips.xsp")}).code, 0);
        const Result skipped = cli({"xsp", "unpack", path("skips.xsp"), path("u3")});
        QCOMPARE(skipped.code, 1);
        const QList<QByteArray> lines = skipped.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains("file \"nnn") && lines[0].contains("longer than 255 bytes"),
                 lines[0].constData());
        QVERIFY2(lines[1].contains("script \"a\\r.xml\": control character"), lines[1].constData());
        QCOMPARE(readFile(path("u3/objects/tq/b.bob")), QByteArray("abc"));
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
            QVERIFY2(cli({"unpack", path(bad), path("bad.txt")}).failedWith(""), bad);
            QVERIFY(!QFileInfo::exists(path("bad.txt")));
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
