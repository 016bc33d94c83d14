// The .xsp container and document: round trips, interop with the standard
// LZMA tool, installed twins, and hostile input.
#include "archivefile.h"
#include "lzmafile.h"
#include "registry.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QBuffer>
#include <QtTest>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

struct ScriptedPrompter : Prompter
{
    QList<int> answers;
    QStringList asked;
    int ask(Icon, const QString& caption, const QString& text, const QStringList& buttons, int,
            int) override
    {
        asked << caption + "|" + text + "|" + buttons.join(",");
        return answers.isEmpty() ? 0 : answers.takeFirst();
    }
};

// The registry writes every member a package keeps: equal texts, equal packages.
QByteArray shipText(const ShipPackage& p)
{
    ShipRegistry r;
    r.Ships = {p};
    return RegistryText(r);
}

} // namespace

class TstXspFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program, m_game, m_src;
    PackageContext m_ctx;

    PackageFile source(const QString& name, const QByteArray& data, quint32 time = 1000)
    {
        PackageFile f;
        f.Name = name;
        f.Time = time;
        f.Size = int(data.size());
        f.SourcePath = m_src + "/" + QString(name).replace('/', '_');
        writeFile(f.SourcePath, data);
        return f;
    }

    ShipPackage fullPackage()
    {
        ShipPackage p;
        p.Name = "My Ship";
        p.Author = "A/B";
        p.ID = "myship-id";
        p.Version = "1.2";
        p.Data = "0;0;0;0;0;0;0;0;0;106;1;5;37;0;112;202;HW_NEW_SHIP;";
        p.Web = "http://example.invalid/ships";
        p.Mirror1 = "http://mirror.invalid/1";
        p.Mirror2 = "http://mirror.invalid/2";
        p.Shipyards = {true, false, false, true, false, false, false, true};
        p.OriginalDesc = 4711;
        p.Comment = "first line\nsecond: line\nthird";
        p.ScreenShot = m_src + "/shot.jpg";
        writeFile(p.ScreenShot, QByteArray("JPEGDATA\n\x00\x01 binary", 19));
        p.Texts = {{44, "Kestrel", "A fast: light ship"}, {49, "Falke", "Schnell"}};
        p.SceneFile = source("objects/ships/kestrel_scene.pbd", "scene\nwithout trailing lf");
        p.CockpitFile = source("objects/cockpits/kestrel_cp.pbd", QByteArray("cockpit\n"));
        p.Models = {source("objects/ships/kestrel_body.bob", QByteArray(70000, 'b') + "\nend"),
                    source("objects/ships/kestrel_gun.bod", "gun model\n")};
        p.Files = {source("tex/kestrel.jpg", QByteArray("\x00\xff\n\n", 4))};
        p.Scripts = {source("kestrel.setup.xml", "<script/>\n")};
        p.Dummies = {{"kestrel_scene", "1;SDTYPE_GUN;0;0;"}, {"kestrel_scene", "2;SDTYPE_DOCK;"}};
        p.Components = {{"SCENE", "GROUP", "1;2;3;"}, {"SCENE", "GROUP2", "x;"}};
        p.Cockpits = {"0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_KESTREL;"};
        return p;
    }

    OpenPackageResult open(const QString& path, ShipPackage& out,
                           const QList<ShipPackage>* installed = nullptr,
                           const QString& mod = QString())
    {
        QFile f(path);
        OpenPackageOptions o;
        o.baseDir = m_game;
        o.installed = installed;
        o.modCatalog = mod;
        return OpenPackage(f, out, o, m_ctx);
    }

private slots:
    void init()
    {
        QDir(m_tmp.path()).removeRecursively();
        m_program = m_tmp.filePath("program");
        m_game = m_tmp.filePath("game");
        m_src = m_tmp.filePath("src");
        for (const QString& d : {m_program, m_game, m_src})
            QDir().mkpath(d);
        m_ctx = PackageContext();
        m_ctx.programDir = m_program;
    }

    void roundTripKeepsEverything()
    {
        const ShipPackage in = fullPackage();
        const QString pkgPath = m_tmp.filePath("kestrel.xsp");
        QVERIFY(SavePackage(in, pkgPath, m_ctx));
        const QByteArray header = readFile(pkgPath).left(13);
        QCOMPARE(quint8(header[0]), quint8(0x5D));
        QCOMPARE(header.mid(1, 4), QByteArray("\x00\x00\x20\x00", 4));
        QVERIFY(header.mid(5, 8) != QByteArray(8, '\xff')); // a real size, never "unknown"

        ShipPackage out;
        const OpenPackageResult r = open(pkgPath, out);
        QCOMPARE(r.status, int(PackageOk));
        QVERIFY(r.complete);
        QCOMPARE(r.replaces, -1);
        ShipPackage expected = in;
        expected.ScreenShot = "MyShip-AB.jpg";
        QCOMPARE(shipText(out), shipText(expected));
        QCOMPARE(readFile(m_game + "/Slipway/ShipPics/MyShip-AB.jpg"), readFile(in.ScreenShot));
        QList<PackageFile> all = in.Models + in.Files;
        all << *in.SceneFile << *in.CockpitFile;
        for (const PackageFile& f : all)
            QCOMPARE(readFile(m_game + "/Slipway/" + f.Name), readFile(f.SourcePath));
        QCOMPARE(readFile(m_game + "/scripts/kestrel.setup.xml"), QByteArray("<script/>\n"));
        QVERIFY(QDir(m_program + "/temp").isEmpty()); // the temporary document is gone
    }

    void standardToolInterop()
    {
        const QString xz = QStandardPaths::findExecutable("xz");
        if (xz.isEmpty())
            QSKIP("xz is not installed");
        // Our package decodes with the standard tool...
        const QString pkgPath = m_tmp.filePath("kestrel.xsp");
        QVERIFY(SavePackage(fullPackage(), pkgPath, m_ctx));
        QProcess p;
        p.start(xz, {"--format=lzma", "--decompress", "--stdout", pkgPath});
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitCode(), 0);
        const QByteArray document = p.readAllStandardOutput();
        QVERIFY(
            document.startsWith("Packager: 1\nName: My Ship\nAuthor: A/B\nID: myship-id\nData: "));
        QVERIFY(document.contains("\nShipyard: 1;0;0;1;0;0;0;1\n"));
        QVERIFY(document.contains("\nComment: first line<newline>second: line<newline>third\n"));

        // ...and a document it compresses (unknown size, end marker) reads back.
        writeFile(m_tmp.filePath("doc.txt"), document);
        p.start(xz, {"--format=lzma", "--compress", "--stdout", m_tmp.filePath("doc.txt")});
        QVERIFY(p.waitForFinished());
        const QByteArray lzma = p.readAllStandardOutput();
        QCOMPARE(lzma.mid(5, 8), QByteArray(8, '\xff'));
        writeFile(m_tmp.filePath("byxz.xsp"), lzma);
        QVERIFY(DecompressFile(m_tmp.filePath("byxz.xsp"), m_tmp.filePath("back.txt")));
        QCOMPARE(readFile(m_tmp.filePath("back.txt")), document);
        ShipPackage out;
        QCOMPARE(open(m_tmp.filePath("byxz.xsp"), out).status, int(PackageOk));
        QCOMPARE(out.Models.size(), 2);
    }

    void packagerVersions_data()
    {
        QTest::addColumn<QByteArray>("firstLine");
        QTest::addColumn<bool>("compressed");
        QTest::addColumn<int>("status");
        QTest::newRow("plain 1") << QByteArray("Packager: 1") << false << int(PackageOk);
        QTest::newRow("plain is not checked")
            << QByteArray("Packager: 1.5") << false << int(PackageOk);
        QTest::newRow("compressed 1") << QByteArray("Packager: 1") << true << int(PackageOk);
        QTest::newRow("compressed 0.9") << QByteArray("Packager: 0.9") << true << int(PackageOk);
        QTest::newRow("compressed 1.5")
            << QByteArray("Packager: 1.5") << true << int(PackageTooNew);
        QTest::newRow("marker before key")
            << QByteArray("\xEF\xBB\xBFPackager: 1.5") << true << int(PackageTooNew);
    }
    void packagerVersions()
    {
        QFETCH(QByteArray, firstLine);
        QFETCH(bool, compressed);
        QFETCH(int, status);
        const QByteArray doc = firstLine + "\nName: N\nAuthor: A\nVersion: 1\n";
        writeFile(m_tmp.filePath("doc.txt"), doc);
        const QString pkg = m_tmp.filePath("p.xsp");
        if (compressed)
            QVERIFY(CompressFile(m_tmp.filePath("doc.txt"), pkg));
        else
            writeFile(pkg, doc);
        ShipPackage out;
        QCOMPARE(open(pkg, out).status, status);
    }

    void documentFieldRules()
    {
        writeFile(
            m_tmp.filePath("p.xsp"),
            "Packager: 1\nName: N\nAuthor: A\nDummy: SECTION;1;2\nText: 44:Name:First: second\n"
            "Shipyard: true;1;0;yes;1\nComponent: only\nUnknown: key\n\nOriginalDesc: abc\n");
        ShipPackage out, want;
        QCOMPARE(open(m_tmp.filePath("p.xsp"), out).status, int(PackageOk));
        want.Name = "N";
        want.Author = "A";
        want.Dummies = {{"SECTION", "1;2;"}};
        want.Texts = {{44, "Name", "First: second"}};
        want.Shipyards = {false, true, false, false, true, false, false, false};
        want.Components = {{"only", "", ""}};
        QCOMPARE(shipText(out), shipText(want));

        writeFile(m_tmp.filePath("q.xsp"), "Packager: 1\nName: N\n");
        ShipPackage noAuthor;
        const OpenPackageResult r = open(m_tmp.filePath("q.xsp"), noAuthor);
        QCOMPARE(r.status, int(PackageFailed));
        QVERIFY(!r.complete);
    }

    void lineBreaksCannotInjectKeys()
    {
        ShipPackage p;
        p.Name = "Evil\nModel: 1 4 ../../x.bob";
        p.Version = "1";
        p.Author = "A\r\nB";
        p.Data = "1;2;\nDeleted: 1";
        p.Texts = {{44, "N", "line one\nScript: 1 1 y.xml"}};
        QVERIFY(SavePackage(p, m_tmp.filePath("p.xsp"), m_ctx));
        ShipPackage out;
        QCOMPARE(open(m_tmp.filePath("p.xsp"), out).status, int(PackageOk));
        p.Name = "Evil Model: 1 4 ../../x.bob";
        p.Author = "A B";
        p.Data = "1;2; Deleted: 1";
        p.Texts[0].Description = "line one Script: 1 1 y.xml";
        QCOMPARE(shipText(out), shipText(p));
    }

    void installedTwins()
    {
        ShipPackage twin;
        twin.Name = "MY SHIP";
        twin.Author = "a/b";
        twin.Version = "1.2";
        twin.Models = {{5000, 10, "objects/ships/kestrel_body.bob", {}, false}};
        ShipPackage placeholder;
        placeholder.Deleted = 1;
        const QList<ShipPackage> installed = {placeholder, twin};

        ShipPackage pkg = fullPackage();
        for (const char* v : {"1.1", "1.2", "1.2a"}) {
            pkg.Version = v;
            QVERIFY(SavePackage(pkg, m_tmp.filePath("p.xsp"), m_ctx));
            ShipPackage out;
            const OpenPackageResult r = open(m_tmp.filePath("p.xsp"), out, &installed);
            const bool older = QByteArray(v) == "1.1";
            QCOMPARE(r.status, int(older ? PackageOlder : PackageOk));
            QCOMPARE(r.replaces, older ? -1 : 1);
        }
        // The body model is older than the installed copy: not written, but the
        // reading stays aligned and the next model is placed.
        QVERIFY(!QFileInfo::exists(m_game + "/Slipway/objects/ships/kestrel_body.bob"));
        QCOMPARE(readFile(m_game + "/Slipway/objects/ships/kestrel_gun.bod"),
                 QByteArray("gun model\n"));
    }

    void updateQuestionById_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("replaces");
        QTest::newRow("update it") << 0 << int(PackageOk) << 0;
        QTest::newRow("install beside") << 1 << int(PackageOk) << -1;
        QTest::newRow("cancel") << 2 << int(PackageFailed) << -1;
    }
    void updateQuestionById()
    {
        QFETCH(int, answer);
        QFETCH(int, status);
        QFETCH(int, replaces);
        ShipPackage renamed;
        renamed.Name = "Old Name";
        renamed.Author = "Someone";
        renamed.ID = "MYSHIP-ID";
        renamed.Version = "1";
        const QList<ShipPackage> installed = {renamed};
        QStringList installerTexts;
        for (int i = 0; i < 150; ++i)
            installerTexts << "I" + QString::number(i);
        ScriptedPrompter prompter;
        prompter.answers = {answer};
        m_ctx.prompter = &prompter;
        m_ctx.installerTexts = &installerTexts;
        QVERIFY(SavePackage(fullPackage(), m_tmp.filePath("p.xsp"), m_ctx));
        ShipPackage out;
        const OpenPackageResult r = open(m_tmp.filePath("p.xsp"), out, &installed);
        QCOMPARE(r.status, status);
        QCOMPARE(r.replaces, replaces);
        QCOMPARE(prompter.asked, QStringList({"I136|I137|I138,I139,I46"}));
    }

    void filesGoIntoTheModArchive()
    {
        const QString mod = m_game + "/mods/Hullwright.cat";
        QDir().mkpath(m_game + "/mods");
        QVERIFY(EnsureCatalog(mod));
        QVERIFY(SavePackage(fullPackage(), m_tmp.filePath("p.xsp"), m_ctx));
        const QList<ShipPackage> installed;
        ShipPackage out;
        QCOMPARE(open(m_tmp.filePath("p.xsp"), out, &installed, mod).status, int(PackageOk));
        QStringList names;
        for (const CatalogEntryInfo& e : ListCatalog(mod))
            names << e.name;
        QVERIFY(names.contains("objects\\ships\\kestrel_body.pbb"));
        QVERIFY(names.contains("objects\\ships\\kestrel_gun.pbd"));
        QVERIFY(names.contains("tex\\kestrel.jpg"));
        QVERIFY(ExtractArchiveFile(mod + "::objects\\ships\\kestrel_body.bob",
                                   m_tmp.filePath("body"), true, false));
        QCOMPARE(readFile(m_tmp.filePath("body")), QByteArray(70000, 'b') + "\nend");
    }

    void unsafeNamesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("entry"); // an announcing line and its four bytes
        QTest::addColumn<QString>("error");

        const auto row = [](const char* tag, const QByteArray& entry, const char* reason) {
            QTest::newRow(tag) << entry << QString::fromUtf8(reason);
        };
        row("up", "Files: 1 4 ../../escape.txt\nEVIL\n", "leaves");
        row("up, backslashes", "Files: 1 4 ..\\..\\escape.txt\nEVIL\n", "leaves");
        row("absolute", "Files: 1 4 /abs.txt\nEVIL\n", "leaves");
        row("drive", "Model: 1 4 c:/drive.bob\nEVIL\n", "leaves");
        row("script up", "Script: 1 4 ../up.xml\nEVIL\n", "leaves");
        row("script in a folder", "Script: 1 4 sub/up.xml\nEVIL\n", "holds");
        row("script CR", "Script: 1 4 a\r.txt\nEVIL\n", "control");
        row("script NUL", QByteArray("Script: 1 4 a\0.txt\nEVIL\n", 24), "control");
        row("scene TAB", "SceneFile: 1 4 a\tb.bod\nEVIL\n", "control");
        row("long part", "Files: 1 4 d/" + QByteArray(256, 'n') + "\nEVIL\n", "255");
        QByteArray deep;
        for (int i = 0; i < 25; ++i)
            deep += QByteArray(200, 'd') + '/';
        row("long path", "CockpitFile: 1 4 " + deep + "c.bod\nEVIL\n", "4095");
        row("not writable", "Files: 1 4 fine/ok.txt/x\nEVIL\n", "written");
    }
    void unsafeNamesAreRefused()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, error);
        writeFile(m_game + "/Slipway/fine/ok.txt", "OLD!");
        writeFile(m_tmp.filePath("p.xsp"),
                  "Packager: 1\nName: N\nAuthor: A\n" + entry + "Files: 1 4 fine/ok.txt\nGOOD\n");
        ShipPackage out;
        const OpenPackageResult r = open(m_tmp.filePath("p.xsp"), out);
        QCOMPARE(r.status, int(PackageFailed));
        QVERIFY(!r.complete);
        QVERIFY2(r.error.contains(error), qPrintable(r.error));
        QCOMPARE(r.problems, QStringList{r.error});
        // Nothing but the one good file was written, and it was found where the writer put it.
        QCOMPARE(readFile(m_game + "/Slipway/fine/ok.txt"), QByteArray("GOOD"));
        QDirIterator it(m_tmp.path(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files << QDir(m_tmp.path()).relativeFilePath(it.next());
        files.sort();
        QCOMPARE(files, (QStringList{"game/Slipway/fine/ok.txt", "p.xsp"}));
    }

    void badSizesAndStreams()
    {
        writeFile(m_tmp.filePath("big.xsp"),
                  "Packager: 1\nName: N\nAuthor: A\nModel: 1 999999 m.bob\nxx\n");
        ShipPackage out;
        QCOMPARE(open(m_tmp.filePath("big.xsp"), out).status, int(PackageFailed));
        QVERIFY(!QFileInfo::exists(m_game + "/Slipway/m.bob"));
        writeFile(m_tmp.filePath("neg.xsp"),
                  "Packager: 1\nName: N\nAuthor: A\nFiles: 1 -5 m.txt\nxx\n");
        QCOMPARE(open(m_tmp.filePath("neg.xsp"), out).status, int(PackageFailed));

        // A package cut off mid-stream or corrupt fails and leaves no temporary document.
        QVERIFY(SavePackage(fullPackage(), m_tmp.filePath("p.xsp"), m_ctx));
        QByteArray packed = readFile(m_tmp.filePath("p.xsp"));
        writeFile(m_tmp.filePath("cut.xsp"), packed.left(packed.size() / 2));
        QCOMPARE(open(m_tmp.filePath("cut.xsp"), out).status, int(PackageFailed));
        for (qsizetype i = 40; i < packed.size(); i += 97)
            packed[i] = char(packed[i] ^ 0x55);
        writeFile(m_tmp.filePath("bad.xsp"), packed);
        QCOMPARE(open(m_tmp.filePath("bad.xsp"), out).status, int(PackageFailed));
        writeFile(m_tmp.filePath("tiny.xsp"), "\x5d\x00");
        QCOMPARE(open(m_tmp.filePath("tiny.xsp"), out).status, int(PackageFailed));
        QVERIFY(QDir(m_program + "/temp").isEmpty());
    }

    // Beyond any real ship, a package is refused with a message naming the limit,
    // so that a small compressed file cannot claim gigabytes of memory.
    void limitsAreNamed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("error");
        QTest::newRow("texts") << QByteArray("Text: 44:N:D\n") << kMaxPackageTexts + 1 << "4096 text lines";
        QTest::newRow("dummies") << QByteArray("Dummy: S;1;\n") << kMaxPackageDummies + 1 << "65536 dummy lines";
        QTest::newRow("components") << QByteArray("Component: A;B;1;\n") << kMaxPackageComponents + 1
                                    << "65536 component lines";
        QTest::newRow("cockpits") << QByteArray("Cockpit: 1;2;\n") << kMaxPackageCockpits + 1 << "4096 cockpit lines";
        // Refused names, so that no file is written: the count holds all the same.
        QTest::newRow("files") << QByteArray("Files: 1 0 ../a.txt\n") << kMaxPackageFiles + 1
                               << "262144 embedded files";
        QTest::newRow("text in all") << "Comment: " + QByteArray(8 << 20, 'c') + '\n'
                                     << int(kMaxPackageHeaderBytes / (8 << 20)) + 1 << "32 MiB of text lines";
    }
    void limitsAreNamed()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, count);
        QFETCH(QString, error);
        QByteArray doc = "Packager: 1\nName: N\nAuthor: A\n";
        doc.reserve(doc.size() + line.size() * count);
        for (int i = 0; i < count; ++i)
            doc += line;
        QBuffer buffer(&doc);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        ShipPackage out;
        OpenPackageOptions o;
        o.baseDir = m_game;
        const OpenPackageResult r = OpenPackageDocument(buffer, "p", out, o, m_ctx);
        QCOMPARE(r.status, int(PackageFailed));
        QVERIFY2(r.problems.last().contains(error), qPrintable(r.problems.last()));
        if (doc.size() > (16 << 20))
            return;
        // Packed, with a header claiming 128 GiB that the stream never delivers: a
        // reader that unpacked the whole stream first would report it damaged, and
        // fill the temp folder on the way; the limit must stop it while decoding.
        writeFile(m_tmp.filePath("limit.doc"), doc);
        QVERIFY(CompressFile(m_tmp.filePath("limit.doc"), m_tmp.filePath("limit.xsp")));
        QFile packed(m_tmp.filePath("limit.xsp"));
        QVERIFY(packed.open(QIODevice::ReadWrite) && packed.seek(5));
        packed.write(QByteArray::fromHex("0000000020000000")); // 2^37, little-endian
        packed.close();
        ShipPackage unpacked;
        const OpenPackageResult p = open(m_tmp.filePath("limit.xsp"), unpacked);
        QCOMPARE(p.status, int(PackageFailed));
        QVERIFY2(p.problems.last().contains(error), qPrintable(p.problems.last()));
        QVERIFY(QDir(m_program + "/temp").isEmpty());
    }

    // A file of 2 GiB or more in a (sparse) document is refused as too large, not
    // reported as a package cut short.
    void twoGiBFileIsNamed()
    {
        const QString path = m_tmp.filePath("big.xsp");
        writeFile(path, "Packager: 1\nName: N\nAuthor: A\nFiles: 1 2147483648 big.bin\n");
        QFile grow(path);
        QVERIFY(grow.open(QIODevice::ReadWrite) && grow.resize(grow.size() + (qint64(2) << 30) + 1));
        grow.close();
        ShipPackage out;
        const OpenPackageResult r = open(path, out);
        QCOMPARE(r.status, int(PackageFailed));
        QVERIFY2(r.error.contains("2 GiB") && !r.error.contains("cut short"), qPrintable(r.error));
        QVERIFY(!QFileInfo::exists(m_game + "/Slipway/big.bin"));
    }

    void sharingTests()
    {
        ShipPackage a;
        a.Name = "A";
        a.Author = "X";
        a.Models = {{100, 1, "objects/shared.bob", {}, false}};
        a.Scripts = {{100, 1, "s.xml", {}, false}};
        ShipPackage b = a;
        b.Name = "B";
        b.Models = {{50, 1, "OBJECTS/SHARED.BOB", {}, false}};
        ShipPackage gone = a;
        gone.Deleted = 2;
        const QList<ShipPackage> installed = {a, b, gone};
        QVERIFY(IsFileUsedElsewhere(&installed, "objects/shared.bob", a, KindModel));
        QVERIFY(!IsFileUsedElsewhere(&installed, "objects/shared.bob", a, KindFile));
        const QList<ShipPackage> onlyA = {a, gone};
        QVERIFY(!IsFileUsedElsewhere(&onlyA, "objects/shared.bob", a, KindModel));

        QVERIFY(!IsFileWanted(&installed, {100, 1, "objects/shared.bob", {}, false}, KindModel));
        QVERIFY(IsFileWanted(&installed, {101, 1, "objects/shared.bob", {}, false}, KindModel));
        QVERIFY(IsFileWanted(nullptr, {0, 1, "x", {}, false}, KindModel));
        QVERIFY(IsScriptWanted(&installed, {100, 1, "s.xml", {}, false}));
        QVERIFY(!IsScriptWanted(&installed, {99, 1, "s.xml", {}, false}));
    }
};

QTEST_GUILESS_MAIN(TstXspFile)
#include "tst_xspfile.moc"
