// Packages made from the editor's draft, opened for editing and extracted: what
// reaches the package file and what lands on disk.
#include "archivefile.h"
#include "lzmafile.h"
#include "extraction.h"
#include "gamesnapshot.h"
#include "hwtest.h"
#include "modelcompiler.h"
#include "packagebuild.h"
#include "samplegame.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Everything a package carries, its embedded bytes included, as comparable text.
QByteArray describe(const ShipPackage& p, const QString& dir)
{
    QByteArray out;
    QTextStream s(&out);
    s << p.Name << '|' << p.Author << '|' << p.Version << '|' << p.ID << '|' << p.Data << '|'
      << p.Web << '|' << p.Mirror1 << '|' << p.Mirror2 << '|' << p.Comment << '|' << p.OriginalDesc
      << '\n';
    for (bool y : p.Shipyards)
        s << y;
    s << '\n';
    for (const PackageText& t : p.Texts)
        s << "text " << t.Language << ':' << t.Name << ':' << t.Description << '\n';
    // Models may be stored plain or packed: what counts is the model they hold.
    auto file = [&](const char* kind, const PackageFile& f, const QString& path) {
        QByteArray bytes = readFile(path);
        if (f.Name.endsWith(".pbd") || f.Name.endsWith(".pbb"))
            bytes =
                UnpackDiskFile(path, path + ".plain") ? readFile(path + ".plain") : "<not packed>";
        s << kind << ' ' << f.Time << ' ' << PackedName(f.Name, false) << ' ' << bytes.size() << ' '
          << qHash(bytes) << '\n';
    };
    if (p.SceneFile)
        file("scene", *p.SceneFile, dir + '/' + p.SceneFile->Name);
    if (p.CockpitFile)
        file("cockpit", *p.CockpitFile, dir + '/' + p.CockpitFile->Name);
    for (const PackageFile& f : p.Models)
        file("model", f, dir + '/' + f.Name);
    for (const PackageFile& f : p.Files)
        file("file", f, dir + '/' + f.Name);
    for (const PackageFile& f : p.Scripts)
        file("script", f, dir + "/Scripts/" + f.Name);
    for (const PackageDummy& d : p.Dummies)
        s << "dummy " << d.Section << ';' << d.Data << '\n';
    for (const PackageComponent& c : p.Components)
        s << "component " << c.Part1 << ';' << c.Part2 << ';' << c.Part3 << '\n';
    s << "cockpits " << p.Cockpits.join('|') << '\n';
    s << "picture " << qHash(readFile(dir + "/ShipPics/" + p.ScreenShot)) << '\n';
    s.flush();
    return out;
}

// Reads a package into dir as the installer would place it without a mod.
bool readInto(const QString& path, const QString& dir, ShipPackage& p)
{
    QFile f(path);
    OpenPackageOptions options;
    options.baseDir = dir;
    options.scriptDir = "Slipway/Scripts";
    PackageContext context;
    context.programDir = dir;
    const OpenPackageResult r = OpenPackage(f, p, options, context);
    return r.status == PackageOk && r.complete;
}

// A ship with a scene, `models` text models of a few hundred KiB (larger than
// one write block), a texture and a script, all below dir/src.
ShipPackage multiModelShip(const QString& dir, int models)
{
    ShipPackage p;
    p.Name = "Pipe";
    p.Author = "A";
    p.ID = "PIPE";
    p.Data = "0;0;PIPE;";
    auto source = [&](const QString& name, const QByteArray& bytes) {
        writeFile(dir + "/src/" + name, bytes, 1000);
        return PackageFile{1000, qint32(bytes.size()), name, dir + "/src/" + name, false};
    };
    p.SceneFile = source("scene.bod", "VER: 1;\n");
    p.SceneFile->Name = "objects/pipe/scene.bod";
    for (int m = 0; m < models; ++m) {
        QByteArray text;
        for (int line = 0; text.size() < 100000 * (m + 1); ++line)
            text += QByteArray::number(line * (m + 7) % 9973) + " point " +
                    QByteArray::number(line % 17) + ";\n";
        PackageFile f = source(QString("m%1.bod").arg(m), text);
        f.Name = "objects/pipe/" + f.Name;
        p.Models << f;
    }
    PackageFile tex = source("tex.tga", QByteArray(70000, 'x'));
    tex.Name = "textures/tex.tga";
    p.Files << tex;
    p.Scripts << source("s.xml", "<s/>");
    return p;
}

} // namespace

class TestHullwrightPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_samples = m_tmp.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(m_samples));
    }

    void names_data()
    {
        QTest::addColumn<QString>("gameName");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("with folder") << "ships/my_ship"
                                     << "/m/a.bod"
                                     << "objects/ships/my_ship.bod";
        QTest::newRow("bare") << "my_ship"
                              << "/m/a.bob"
                              << "objects/cut/my_ship.bob";
        QTest::newRow("backslashes") << "ships\\f\\x"
                                     << "/m/x.bod"
                                     << "objects/ships/f/x.bod";
        QTest::newRow("extension kept") << "ships/x.BOB"
                                        << "/m/x.bod"
                                        << "objects/ships/x.BOB";
    }
    void names()
    {
        QFETCH(QString, gameName);
        QFETCH(QString, source);
        QTEST(SceneEntryName(gameName, source), "expected");
        QCOMPARE(PackageSaveName("a/ship"), QString("a/ship.xsp"));
        QCOMPARE(PackageSaveName("a/SHIP.XSP"), QString("a/SHIP.XSP"));
    }

    // Which files of the draft reach the package, under which names.
    void buildFromDraft()
    {
        const QString src = m_tmp.filePath("build");
        const QString program = m_tmp.filePath("buildprog");
        QVERIFY(writeFile(src + "/hull.bod", "scene", 1000));
        QVERIFY(writeFile(src + "/hull.bob", "scene twin", 1000));
        QVERIFY(writeFile(src + "/body.bod", "text model", 2000));
        QVERIFY(writeFile(src + "/body.bob", "binary model!", 3000));
        QVERIFY(writeFile(src + "/tex.tga", "texture", 4000));
        QVERIFY(writeFile(program + "/Slipway/Scripts/s.xml", "<s/>", 5000));
        ShipDraft d;
        d.name = "Fast Hauler";
        d.author = "A";
        d.id = "X";
        d.record = "1;2;X;";
        d.sceneName = "ships/hull";
        d.sceneFile = src + "/hull.bod";
        d.comment = "one\r\ntwo\nthree";
        AddDraftFiles(
            d.models, "objects/ships/",
            {src + "/hull.bob", src + "/body.bod", src + "/missing.bod", src + "/body.bob"});
        AddDraftFiles(d.others, "textures", {src + "/tex.tga"});
        d.scripts = {"<PACKAGE>/Scripts/s.xml"};
        const ShipPackage p = BuildPackage(d, program);

        // The scene's twin is left out, the missing file too, and the binary form
        // replaces the text form with its own size, time and bytes.
        QStringList entries{p.Comment};
        for (const PackageFile& f : QList{*p.SceneFile} + p.Models + p.Files + p.Scripts)
            entries << QString("%1 %2 %3 %4").arg(f.Name).arg(f.Size).arg(f.Time).arg(f.SourcePath);
        QCOMPARE(entries, QStringList({"one<newline>two<newline>three",
                                       "objects/ships/hull.bod 5 1000 " + src + "/hull.bod",
                                       "objects/ships/body.bob 13 3000 " + src + "/body.bob",
                                       "textures/tex.tga 7 4000 " + src + "/tex.tga",
                                       "s.xml 4 5000 " + program + "/Slipway/Scripts/s.xml"}));
        QVERIFY(!p.CockpitFile);

        QCOMPARE(FirstMissingField(d), MissingField::None);
        d.sceneName.clear();
        QCOMPARE(FirstMissingField(d), MissingField::Scene);
        d.id.clear();
        QCOMPARE(FirstMissingField(d), MissingField::Id);
    }

    // The update file is written only for a package with a web address; when it
    // cannot be written the package still is, and the failure is reported.
    void updateInfo_data()
    {
        QTest::addColumn<QString>("web");
        QTest::addColumn<bool>("blocked");
        QTest::newRow("web") << "http://x.example/" << false;
        QTest::newRow("no web") << "" << false;
        QTest::newRow("info blocked") << "http://x.example/" << true;
    }
    void updateInfo()
    {
        QFETCH(QString, web);
        QFETCH(bool, blocked);
        const QString dir = m_tmp.filePath(QString("info-") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir));
        if (blocked) // a folder where the file would go
            QVERIFY(QDir().mkpath(dir + "/FastHauler.dat/x"));
        ShipPackage p;
        p.Name = "Fast Hauler";
        p.Author = "A";
        p.Version = "1.1";
        p.Web = web;
        p.WriteUpdateInfo = true;
        PackageContext context;
        context.programDir = dir;
        QString error, infoError;
        QVERIFY(SaveShipPackage(p, dir + "/hauler.xsp", context, &error, {}, &infoError));
        QCOMPARE(infoError.isEmpty(), !blocked);
        QVERIFY(QFileInfo(dir + "/hauler.xsp").isFile());
        if (blocked) {
            // Without a place for the info error the whole save says it failed.
            QVERIFY(!SaveShipPackage(p, dir + "/hauler.xsp", context, &error));
            QVERIFY2(error.contains("was saved") && error.contains("update-info"),
                     qPrintable(error));
            return;
        }
        // Nothing else stays behind: no part file, no temporary copy.
        QStringList files{"hauler.xsp"};
        if (!web.isEmpty()) {
            files.prepend("FastHauler.dat");
            QCOMPARE(readFile(dir + "/FastHauler.dat"),
                     QByteArray("Script: Fast Hauler\nVersion: 1.1\nFile: hauler.xsp\n"));
        }
        QCOMPARE(filesBelow(dir), files);
    }

    // A file no reader takes (2 GiB or more) is refused before a byte is written,
    // with a message that names the limit.
    void twoGiBFileRefusedBeforeWriting_data()
    {
        QTest::addColumn<bool>("screenshot");
        QTest::newRow("model") << false;
        QTest::newRow("screenshot") << true;
    }
    void twoGiBFileRefusedBeforeWriting()
    {
        QFETCH(bool, screenshot);
        const QString dir = m_tmp.filePath(QStringLiteral("big-%1").arg(screenshot));
        QVERIFY(QDir().mkpath(dir));
        const QString big = dir + (screenshot ? "/shot.jpg" : "/huge.bob");
        QFile sparse(big);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(kMaxPackageFileSize + 1));
        sparse.close();
        ShipPackage p;
        p.Name = "Big";
        p.Author = "A";
        if (screenshot)
            p.ScreenShot = big;
        else
            p.Files.append(PackageFile{1, 0, "objects/huge.bob", big, false});
        PackageContext context;
        context.programDir = dir;
        QString error;
        QVERIFY(!SaveShipPackage(p, dir + "/big.xsp", context, &error));
        QVERIFY2(error.contains(QFileInfo(big).fileName()) && error.contains("2 GiB"), qPrintable(error));
        QCOMPARE(filesBelow(dir), QStringList{QFileInfo(big).fileName()});
    }

    // The save packs models on a second thread while it compresses the document
    // as it goes; its package must be, byte for byte, the one of packing every
    // entry first and compressing the whole document after.
    void saveSameAsSequential_data()
    {
        QTest::addColumn<int>("models");
        QTest::addColumn<int>("mode");
        QTest::newRow("no models") << 0 << int(LzmaMode::Standard);
        QTest::newRow("one model") << 1 << int(LzmaMode::Standard);
        QTest::newRow("five models") << 5 << int(LzmaMode::Standard);
        QTest::newRow("five models, fast") << 5 << int(LzmaMode::Fast);
    }
    void saveSameAsSequential()
    {
        QFETCH(int, models);
        QFETCH(int, mode);
        const QString dir = m_tmp.filePath(QString("seq-") + QTest::currentDataTag());
        const ShipPackage p = multiModelShip(dir, models);
        ModelConversion conversion;
        conversion.packKey = 0x5a;
        PackageContext context;
        context.programDir = dir + "/program";
        QString error;
        QVERIFY2(SaveShipPackage(p, dir + "/new.xsp", context, &error, conversion, nullptr,
                                 LzmaMode(mode)),
                 qPrintable(error));

        // A fast save packs its models at a quicker zlib level too.
        if (LzmaMode(mode) == LzmaMode::Fast)
            conversion.packLevel = kFastPackLevel;
        ShipPackage old = p;
        for (QList<PackageFile>* list : {&old.Models, &old.Files})
            for (PackageFile& f : *list)
                QVERIFY(PrepareModelFile(f, dir + "/oldwork", true, conversion));
        QVERIFY(SavePackageText(old, dir + "/old.doc", context));
        QVERIFY(CompressFile(dir + "/old.doc", dir + "/old.xsp", nullptr, LzmaMode(mode)));
        QCOMPARE(readFile(dir + "/new.xsp"), readFile(dir + "/old.xsp"));
        // The sources stay; nothing of the save is left behind.
        QCOMPARE(filesBelow(dir + "/program"), QStringList());
        QCOMPARE(filesBelow(dir + "/src").size(), models + 3);

        // The fast form reads back to the same ship as the standard one.
        if (LzmaMode(mode) == LzmaMode::Fast) {
            conversion.packLevel = 9;
            QVERIFY(SaveShipPackage(p, dir + "/std.xsp", context, &error, conversion));
            QVERIFY(readFile(dir + "/std.xsp") != readFile(dir + "/new.xsp"));
            // The same header: properties 0x5D and a 2 MiB dictionary.
            QCOMPARE(readFile(dir + "/new.xsp").left(5), QByteArray("\x5d\x00\x00\x20\x00", 5));
            QCOMPARE(readFile(dir + "/std.xsp").left(5), readFile(dir + "/new.xsp").left(5));
            ShipPackage fast, standard;
            QVERIFY(readInto(dir + "/new.xsp", dir + "/fast", fast));
            QVERIFY(readInto(dir + "/std.xsp", dir + "/standard", standard));
            QCOMPARE(describe(fast, dir + "/fast/Slipway"),
                     describe(standard, dir + "/standard/Slipway"));
        }
    }

    // A model that cannot be packed, or a package that cannot be written, fails
    // the save and leaves the package there before untouched.
    void saveFailureLeavesNoPackage_data()
    {
        QTest::addColumn<int>("brokenModel"); // -1: none
        QTest::addColumn<bool>("partBlocked");
        QTest::newRow("first model unreadable") << 0 << false;
        QTest::newRow("last model unreadable") << 3 << false;
        QTest::newRow("package not writable") << -1 << true;
    }
    void saveFailureLeavesNoPackage()
    {
        QFETCH(int, brokenModel);
        QFETCH(bool, partBlocked);
        const QString dir = m_tmp.filePath(QString("fail-") + QTest::currentDataTag());
        ShipPackage p = multiModelShip(dir, 4);
        if (brokenModel >= 0) // a folder cannot be read as a model
            p.Models[brokenModel].SourcePath = dir + "/src";
        if (partBlocked)
            QVERIFY(QDir().mkpath(dir + "/out/ship.xsp.part/x"));
        QVERIFY(writeFile(dir + "/out/ship.xsp", "old package"));
        PackageContext context;
        context.programDir = dir + "/program";
        QString error;
        QVERIFY(!SaveShipPackage(p, dir + "/out/ship.xsp", context, &error));
        QVERIFY(!error.isEmpty());
        if (brokenModel >= 0)
            QVERIFY2(error.contains("cannot pack"), qPrintable(error));
        QCOMPARE(readFile(dir + "/out/ship.xsp"), QByteArray("old package"));
        QCOMPARE(filesBelow(dir + "/out"), QStringList({"ship.xsp"}));
        QCOMPARE(filesBelow(dir + "/program"), QStringList());
        QCOMPARE(filesBelow(dir + "/src").size(), 7);
    }

    // Opened for editing and saved again without changes, a package carries the
    // same ship, files, times and bytes.
    void openSaveRoundTrip_data()
    {
        QTest::addColumn<QString>("package");
        for (const QString& name : SampleGame::PackageFileNames())
            QTest::newRow(qPrintable(name)) << name;
    }
    void openSaveRoundTrip()
    {
        QFETCH(QString, package);
        const QString program = m_tmp.filePath("rt-" + package);
        PackageContext context;
        context.programDir = program;
        ShipPackage opened;
        const OpenForEditResult r =
            OpenPackageForEditing(m_samples + '/' + package, program, opened, context);
        QVERIFY2(r.ok(), qPrintable(r.error));
        const ShipPackage built = BuildPackage(DraftFromPackage(opened), program);
        const QString saved = program + "/out/" + package;
        QVERIFY(QDir().mkpath(program + "/out"));
        QVERIFY(SaveShipPackage(built, saved, context));

        ShipPackage before, after;
        QVERIFY(readInto(m_samples + '/' + package, program + "/before", before));
        QVERIFY(readInto(saved, program + "/after", after));
        QCOMPARE(describe(after, program + "/after/Slipway"),
                 describe(before, program + "/before/Slipway"));
    }

    // A package that does not read leaves the files of the one opened before.
    void openFailureKeepsSlipway_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray good = readFile(m_samples + "/Merganser.xsp");
        QTest::newRow("truncated") << good.left(good.size() / 2) << int(PackageFailed);
        QByteArray corrupt = good;
        for (qsizetype i = 100; i < corrupt.size(); i += 7)
            corrupt[i] = char(corrupt[i] ^ 0x5a);
        QTest::newRow("corrupt") << corrupt << int(PackageFailed);
        QTest::newRow("not a package") << QByteArray("hello\n") << int(PackageFailed);
        QTest::newRow("too new") << QByteArray("Packager: 1\nPackager: 2\nName: N\nAuthor: A\n")
                                 << int(PackageTooNew);
        QTest::newRow("unsafe name")
            << QByteArray("Packager: 1\nName: N\nAuthor: A\nFiles: 1 2 ../../x\nab\n")
            << int(PackageFailed);
    }
    void openFailureKeepsSlipway()
    {
        QFETCH(QByteArray, bytes);
        const QString program = m_tmp.filePath("fail-" + QString(QTest::currentDataTag()));
        QVERIFY(writeFile(program + "/Slipway/objects/kept.bod", "kept"));
        QVERIFY(writeFile(program + "/bad.xsp", bytes));
        PackageContext context;
        context.programDir = program;
        ShipPackage p;
        p.Name = "untouched";
        const OpenForEditResult r =
            OpenPackageForEditing(program + "/bad.xsp", program, p, context);
        QVERIFY(!r.ok());
        QTEST(r.read.status, "status");
        QCOMPARE(p.Name, QString("untouched"));
        QCOMPARE(readFile(program + "/Slipway/objects/kept.bod"), QByteArray("kept"));
        QCOMPARE(QDir(program + "/Slipway").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"objects"});
        QVERIFY(!QFile::exists(m_tmp.filePath("x")));
        QCOMPARE(QDir(program + "/temp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // Both sample packages, table by table, against what was written by hand.
    void extraction_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<bool>("prefix");
        QTest::addColumn<QStringList>("tables");
        QTest::addColumn<bool>("scripts");
        QTest::newRow("Merganser")
            << "Merganser" << false
            << QStringList{"Components.txt", "Dummies.txt", "TCockpits.txt", "TShips.txt"} << true;
        QTest::newRow("Goosander, prefixed")
            << "Goosander" << true
            << QStringList{"Dummies_Goosander.txt", "TCockpits_Goosander.txt",
                           "TShips_Goosander.txt"}
            << false;
    }
    void extraction()
    {
        QFETCH(QString, package);
        QFETCH(bool, prefix);
        QFETCH(QStringList, tables);
        const QString dir = m_tmp.filePath("x-" + package);
        QVERIFY(QDir().mkpath(dir));
        PackageContext context;
        context.programDir = m_tmp.filePath("xprog");
        const ExtractionResult r =
            ExtractShipPackage(m_samples + '/' + package + ".xsp", dir, prefix, context);
        QCOMPARE(r.outcome, ExtractionResult::Done);
        QVERIFY(r.notWritten.isEmpty());
        QCOMPARE(QDir(dir + "/types").entryList(QDir::Files, QDir::Name), tables);
        for (const QString& t : tables) {
            QString expected = t;
            expected.replace("_" + package, "");
            const QByteArray want =
                readFile(QFINDTESTDATA("data/extract/" + package + "/" + expected));
            QCOMPARE(readFile(dir + "/types/" + t), want);
        }
        QTEST(QFileInfo(dir + "/Scripts").isDir(), "scripts");
        QVERIFY(QFileInfo(dir + "/objects/ships/fighters").isDir());
    }

    void extractionRefusal()
    {
        PackageContext context;
        context.programDir = m_tmp.filePath("xprog");
        const QString dir = m_tmp.filePath("x-bad");
        QVERIFY(writeFile(dir + "/bad.xsp", "Packager: 1\nName: N\n"));
        const ExtractionResult r = ExtractShipPackage(dir + "/bad.xsp", dir, false, context);
        QCOMPARE(r.outcome, ExtractionResult::Unreadable);
        QVERIFY(!QFileInfo::exists(dir + "/types"));
    }

    // A package document with a picture, a model, a script and a dummy; `name` is
    // the ship's name, which --prefix puts into the table file names.
    static QByteArray craftedPackage(const QByteArray& name)
    {
        return "Packager: 1\nName: " + name + "\nAuthor: A\nData: 1;2;3;ID;\n"
               "ScreenShot: 3 bmp\nPICModel: 0 4 objects/ships/m.bod\nMODL\nScript: 0 3 s.xml\nSCR\n"
               "Dummy: SEC;1;2;\n";
    }

    // Links planted in the target lead nothing outside it; a table the modder
    // already has (or a link in its place) is kept, the ship's written beside.
    void extractionPlantedLinks_data()
    {
        QTest::addColumn<QString>("link");   // below the target
        QTest::addColumn<QString>("pointsTo"); // "outside" (the folder), "victim", "/dev/zero"
        QTest::addColumn<bool>("force");
        QTest::newRow("types folder") << "types" << "outside" << false;
        QTest::newRow("model folder") << "objects" << "outside" << false;
        QTest::newRow("scripts folder") << "Scripts" << "outside" << false;
        QTest::newRow("picture folder") << "ShipPics" << "outside" << false;
        QTest::newRow("ship table") << "types/TShips.txt" << "victim" << false;
        QTest::newRow("ship table, forced") << "types/TShips.txt" << "victim" << true;
        QTest::newRow("ship table to /dev/zero, forced") << "types/TShips.txt" << "/dev/zero" << true;
        QTest::newRow("model") << "objects/ships/m.bod" << "victim" << false;
    }
    void extractionPlantedLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, pointsTo);
        QFETCH(bool, force);
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("target"), outside = tmp.filePath("outside");
        QVERIFY(writeFile(outside + "/victim", "keep") && QDir().mkpath(dir));
        QVERIFY(QDir().mkpath(QFileInfo(dir + '/' + link).absolutePath()));
        QVERIFY(QFile::link(pointsTo.startsWith('/') ? pointsTo : tmp.filePath(pointsTo == "victim" ? "outside/victim" : pointsTo),
                            dir + '/' + link));
        QVERIFY(writeFile(tmp.filePath("p.xsp"), craftedPackage("Linky")));
        const GameSnapshot::Snapshot before = GameSnapshot::snapshot(outside);
        PackageContext context;
        context.programDir = tmp.filePath("prog");
        const ExtractionResult r = ExtractShipPackage(tmp.filePath("p.xsp"), dir, false, context, force);
        QCOMPARE(GameSnapshot::firstDifference(before, GameSnapshot::snapshot(outside)), QString());
        if (link == "types/TShips.txt") {
            QCOMPARE(r.outcome, ExtractionResult::Done);
            QCOMPARE(QFileInfo(dir + "/types/TShips.txt").isSymLink(), !force);
            QCOMPARE(QFileInfo::exists(dir + "/types/TShips.new.txt"), !force);
        }
    }

    // The ship's name in table file names keeps the rules of a stored name.
    void extractionPrefixName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("written");
        QTest::newRow("climbing") << QByteArray("/../../../PFX2") << false;
        QTest::newRow("backslashes") << QByteArray("..\\..\\PFX2") << false;
        QTest::newRow("plain") << QByteArray("Fast Hauler") << true;
    }
    void extractionPrefixName()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, written);
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("a/b/c/target");
        QVERIFY(QDir().mkpath(dir) && writeFile(tmp.filePath("p.xsp"), craftedPackage(name)));
        PackageContext context;
        context.programDir = tmp.filePath("prog");
        const ExtractionResult r = ExtractShipPackage(tmp.filePath("p.xsp"), dir, true, context);
        QCOMPARE(r.outcome, ExtractionResult::Done);
        QCOMPARE(r.notWritten.isEmpty(), written);
        QStringList tables;
        for (const QString& f : filesBelow(tmp.path()))
            if (f.endsWith(".txt"))
                tables << f;
        const QStringList want = {"a/b/c/target/types/Dummies_FastHauler.txt",
                                  "a/b/c/target/types/TCockpits_FastHauler.txt",
                                  "a/b/c/target/types/TShips_FastHauler.txt"};
        QCOMPARE(tables, written ? want : QStringList());
    }

    // A mod folder's own ship table survives an extraction into it.
    void extractionKeepsModdersTable()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("mod");
        QVERIFY(writeFile(dir + "/types/TShips.txt", "modder's table\n"));
        QVERIFY(writeFile(tmp.filePath("p.xsp"), craftedPackage("Keeper")));
        PackageContext context;
        context.programDir = tmp.filePath("prog");
        ExtractionResult r = ExtractShipPackage(tmp.filePath("p.xsp"), dir, false, context);
        QVERIFY(r.notWritten.isEmpty());
        QCOMPARE(readFile(dir + "/types/TShips.txt"), QByteArray("modder's table\n"));
        QVERIFY(readFile(dir + "/types/TShips.new.txt").contains("1;2;3;ID;"));
        QCOMPARE(r.keptBeside.size(), 1);
        r = ExtractShipPackage(tmp.filePath("p.xsp"), dir, false, context);
        QVERIFY(QFileInfo::exists(dir + "/types/TShips.new2.txt"));
        r = ExtractShipPackage(tmp.filePath("p.xsp"), dir, false, context, true);
        QVERIFY(r.keptBeside.isEmpty());
        QVERIFY(readFile(dir + "/types/TShips.txt").contains("1;2;3;ID;"));
    }

    // Keys name cockpits only in the turret fields; the same text elsewhere stays.
    void cockpitKeys()
    {
        ShipPackage p;
        p.Name = "N";
        p.Author = "A";
        p.Cockpits = {"1;2;CP;;", "3;CP_REAR"};
        QStringList f(60, "0");
        f[0] = "CP";
        f[31] = "CP_REAR";
        f[33] = "CP";
        QString record = f.join(';') + ";ID;";
        const QByteArray table = CockpitTableText(p, record);
        QVERIFY(table.contains("\n47;3;\n"));
        QVERIFY(table.endsWith("\n1;2;CP;;\n3;CP_REAR;\n"));
        const QStringList out = record.split(';');
        QCOMPARE(out[0], QString("CP"));
        QCOMPARE(out[31], QString("2"));
        QCOMPARE(out[33], QString("1"));
    }

    // The outside compiler's tries, its success line and its time limit; whatever
    // it does, the model is packaged and the user's folder is left alone.
    void compiler_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("tries");
        QTest::addColumn<QString>("name");
        for (const QStringList& r : tableRows("model-compiler-runs.tsv"))
            QTest::newRow(qPrintable(r[0]))
                << r[1] << r[2] << r[3].toLatin1() << r[4].toInt() << r[5];
    }
    void compiler()
    {
        QFETCH(QString, mode);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        const QString dir = m_tmp.filePath("compile-" + QString(QTest::currentDataTag()));
        const QString tool = dir + "/tool/compiler.sh";
        QVERIFY(installCompiler(tool));
        QVERIFY(writeFile(dir + "/src/" + file, content));
        qputenv("STANDIN_MODE", mode.toUtf8());
        qputenv("STANDIN_LOG", (dir + "/log").toUtf8());
        PackageFile entry{7, qint32(content.size()), "objects/" + file, dir + "/src/" + file,
                          false};
        ModelConversion conversion{true, tool, mode.startsWith("hang") ? 300 : 60000};
        QVERIFY(PrepareModelFile(entry, dir + "/work", true, conversion));
        QCOMPARE(*conversion.hung, mode.startsWith("hang"));
        if (mode == "hangchild") {
            // What the compiler started ends with it.
            const QByteArray child = readFile(dir + "/log.child").trimmed();
            QVERIFY(!child.isEmpty());
            QTRY_VERIFY(!QFileInfo::exists("/proc/" + child + "/cmdline") ||
                        readFile("/proc/" + child + "/stat").contains(") Z "));
        }

        QCOMPARE(entry.Name, name);
        QVERIFY(entry.RemoveAfterSave);
        QVERIFY(entry.SourcePath.startsWith(dir + "/work/"));
        QVERIFY(UnpackDiskFile(entry.SourcePath, dir + "/plain"));
        const bool compiled = name.endsWith(".pbb") && !file.endsWith(".bob");
        QCOMPARE(readFile(dir + "/plain"), compiled ? "BOB1" + content : content);
        const QByteArray log = QFile::exists(dir + "/log") ? readFile(dir + "/log") : QByteArray();
        QTEST(int(log.count('\n')), "tries");
        if (!log.isEmpty())
            QVERIFY(log.startsWith((dir + "/tool -c --cut " + dir + "/src/" + file).toUtf8()));
        if (log.count('\n') == 2)
            QVERIFY(log.split('\n').at(1).startsWith((dir + "/tool -c --bob ").toUtf8()));
        QCOMPARE(QDir(dir + "/src").entryList(QDir::Files), QStringList{file});

        // With the conversion off nothing is started, not even to decompile.
        QFile::remove(dir + "/log");
        conversion.compile = false;
        *conversion.hung = false;
        PackageFile again{7, qint32(content.size()), "objects/" + file, dir + "/src/" + file,
                          false};
        QVERIFY(PrepareModelFile(again, dir + "/work", true, conversion));
        QVERIFY(!DecompileModel(conversion, dir + "/src/" + file, dir + "/back.bod"));
        QVERIFY(!QFileInfo::exists(dir + "/log"));
        qunsetenv("STANDIN_MODE");
    }

private:
    QTemporaryDir m_tmp;
    QString m_samples;
};

QTEST_GUILESS_MAIN(TestHullwrightPackage)
#include "tst_hwpackage.moc"
