#include "registry.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

PackageFile fileEntry(qint32 size, quint32 time, const QString& name)
{
    PackageFile f;
    f.Size = size;
    f.Time = time;
    f.Name = name;
    return f;
}

// A ship that uses every optional line of a block.
ShipPackage fullShip()
{
    ShipPackage s;
    s.Name = QStringLiteral("Nova Corvette");
    s.Version = QStringLiteral("1.2a");
    s.Author = QStringLiteral("J. Doe");
    s.ID = QStringLiteral("NOVA-1");
    s.Data = QStringLiteral("10;20;name;");
    s.OriginalDesc = 1234;
    s.Comment = QStringLiteral("line one\nline two\nline three");
    s.ScreenShot = QStringLiteral("NovaCorvette-J.Doe.png");
    s.Shipyards = {true, false, false, true, false, false, false, true};
    s.Enabled = false;
    s.NotChecked = true;
    s.Web = QStringLiteral("http://example.org/nova");
    s.Mirror1 = QStringLiteral("http://mirror1.example.org/");
    s.Mirror2 = QStringLiteral("http://mirror2.example.org/");
    s.Texts = {{44, QStringLiteral("Nova Corvette"), QStringLiteral("A fast ship: built to scout")},
               {49, QStringLiteral("Nova Korvette"), QString()}};
    s.SceneFile = fileEntry(100, 200, QStringLiteral("objects/ships/nova_scene.bod"));
    s.CockpitFile = fileEntry(110, 210, QStringLiteral("objects/cockpits/nova_cockpit.bod"));
    s.Models = {fileEntry(1200, 5000, QStringLiteral("objects/ships/nova body.bod")),
                fileEntry(1300, 4294967295u, QStringLiteral("objects/ships/nova_turret.bod"))};
    s.Files = {fileEntry(400, 4000, QStringLiteral("textures/nova.jpg"))};
    s.Scripts = {fileEntry(50, 600, QStringLiteral("init.nova.xml"))};
    s.Dummies = {{QStringLiteral("SDTYPE_ANIMATED"), QStringLiteral("nova_dummy;1;2;")}};
    s.Components = {
        {QStringLiteral("SCTYPE_COCKPIT"), QStringLiteral("nova"), QStringLiteral("0;1;2;")}};
    s.Cockpits = {QStringLiteral("1;2;nova_cockpit;")};
    return s;
}

ShipPackage plainShip()
{
    ShipPackage s;
    s.Name = QStringLiteral("Plain");
    s.Version = QStringLiteral("1");
    s.Author = QStringLiteral("Someone");
    s.Enabled = true;
    return s;
}

ShipPackage placeholder(qint32 state)
{
    ShipPackage s;
    s.Deleted = state;
    return s;
}

ShipRegistry sampleRegistry()
{
    ShipRegistry r;
    r.ModName = QStringLiteral("BaseMod");
    r.UpdateTime = 1700000000;
    r.BaseFakePatch = 3;
    r.Buffer = 300;
    r.Ships = {fullShip(), placeholder(2), plainShip()};
    return r;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// sampleRegistry() as the file holds it.
QByteArray sampleText()
{
    return readAll(QFINDTESTDATA("../data/package/ships.dat"));
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void roundTripThroughFile()
    {
        QTemporaryDir game;
        QVERIFY(WriteRegistry(game.path(), sampleRegistry()));
        QCOMPARE(readAll(game.filePath(QStringLiteral("Slipway/ships.dat"))), sampleText());

        ShipRegistry read;
        read.Ships = {plainShip()}; // replaced, not appended to
        QVERIFY(ReadRegistry(game.path(), read));
        // The layout is pinned above, so writing what was read shows every stored member.
        QCOMPARE(RegistryText(read), sampleText());
        QVERIFY(RegistryVersionMatches(read.InstallerVersion));
        QVERIFY(read.Ships[0].Changed && read.Ships[2].Changed);
    }

    // Parses the input and writes it back: the output shows what was understood.
    // Rows: tag, input, output; the bytes are the strings' Latin-1 codes.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const QJsonArray rows =
            QJsonDocument::fromJson(readAll(QFINDTESTDATA("../data/package/registry-parse.json")))
                .array();
        QVERIFY(!rows.isEmpty());
        for (const QJsonValue& row : rows)
            QTest::newRow(qPrintable(row[0].toString()))
                << row[1].toString().toLatin1() << row[2].toString().toLatin1();
    }

    void parse()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        ShipRegistry r;
        ParseRegistryText(input, r);
        QCOMPARE(RegistryText(r), expected);
    }

    // Damage must be told apart from what the writer (or a hand edit) leaves, and
    // the records before it must survive; the file and the text readers agree.
    void damage_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("line"); // 0: reads whole
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("kept");
        const QByteArray sample = sampleText();
        QByteArray noise(512, '\0');
        quint32 seed = 12345;
        for (char& c : noise) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 24);
        }

        QTest::newRow("valid") << sample << 0 << QString() << 3;
        QTest::newRow("hand edit: CR LF, a key of another layout, no last line end")
            << QByteArray("Mod: M\r\n\r\n<ship>\r\nName: A\r\nColour: red\r\n</ship>") << 0
            << QString() << 1;
        QTest::newRow("random bytes") << noise << 1 << QString() << 0;
        QTest::newRow("binary zeros") << QByteArray(64, '\0') << 1 << QStringLiteral("NUL") << 0;
        QTest::newRow("empty") << QByteArray() << 1 << QStringLiteral("empty") << 0;
        QTest::newRow("cut in half")
            << sample.left(sample.size() / 2) << 6 << QStringLiteral("cut off") << 0;
        QTest::newRow("cut in the last block") << sample.left(sample.indexOf("Name: Plain") + 9)
                                               << 36 << QStringLiteral("cut off") << 2;
        QTest::newRow("cut in the header")
            << sample.left(sample.indexOf("Mod: ") + 6) << 2 << QStringLiteral("no line end") << 0;
        QTest::newRow("bad number")
            << QByteArray(sample).replace("UpdateTime: 1700000000", "UpdateTime: 17OO") << 3
            << QStringLiteral("UpdateTime") << 3;
        QTest::newRow("bad file line")
            << QByteArray(sample).replace("Files: 400 4000", "Files: 400") << 29
            << QStringLiteral("Files") << 3;
        QTest::newRow("lost closing line")
            << QByteArray(sample).replace("</ship>\nDeleted", "Deleted") << 34
            << QStringLiteral("placeholder") << 2;
        QTest::newRow("stray line between blocks")
            << QByteArray(sample).replace("Deleted: 2\n", "Deleted: 2\nName: Stray\n") << 36
            << QStringLiteral("outside") << 3;
    }

    void damage()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, line);
        QFETCH(QString, reason);
        QFETCH(int, kept);
        ShipRegistry parsed;
        const RegistryReadStatus status = ParseRegistryText(input, parsed);
        QCOMPARE(status.broken(), line != 0);
        QCOMPARE(status.line, line);
        QVERIFY2(status.reason.contains(reason), qPrintable(status.reason));
        QCOMPARE(parsed.Ships.size(), kept);

        QTemporaryDir game;
        QVERIFY(QDir(game.path()).mkdir(QStringLiteral("Slipway")));
        QFile file(RegistryPath(game.path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(input), input.size());
        file.close();
        ShipRegistry read;
        RegistryReadStatus fromFile;
        QVERIFY(ReadRegistry(game.path(), read, QString(), QString(), &fromFile));
        QCOMPARE(fromFile.broken(), status.broken());
        QCOMPARE(fromFile.line, status.line);
        QCOMPARE(RegistryText(read), RegistryText(parsed));
    }

    // Each write keeps the file it replaces, but only a copy that reads whole.
    void backupHoldsTheLastGoodFile()
    {
        QTemporaryDir game;
        const QString path = RegistryPath(game.path());
        ShipRegistry first = sampleRegistry();
        QVERIFY(WriteRegistry(game.path(), first));
        QVERIFY(!QFile::exists(path + QStringLiteral(".bak")));
        ShipRegistry second = first;
        second.Ships.removeLast();
        QVERIFY(WriteRegistry(game.path(), second));
        QCOMPARE(readAll(path + QStringLiteral(".bak")), sampleText());
        QCOMPARE(readAll(path), RegistryText(second));

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<ship>\nName: cut");
        file.close();
        QString error;
        QVERIFY(WriteRegistry(game.path(), first, QString(), QString(), &error));
        QCOMPARE(readAll(path + QStringLiteral(".bak")), sampleText());
        QCOMPARE(readAll(path), sampleText());
    }

    // A save after a save writes every record that changed in between, however
    // deep the change, and the same text as a fresh process would.
    void laterSavesWriteEveryChange_data()
    {
        QTest::addColumn<int>("change");
        QTest::newRow("comment") << 0;
        QTest::newRow("model time") << 1;
        QTest::newRow("text description") << 2;
        QTest::newRow("cockpit line") << 3;
        QTest::newRow("placeholder taken") << 4;
        QTest::newRow("disabled") << 5;
        QTest::newRow("record added") << 6;
    }

    void laterSavesWriteEveryChange()
    {
        QFETCH(int, change);
        QTemporaryDir game;
        ShipRegistry r = sampleRegistry();
        QVERIFY(WriteRegistry(game.path(), r));
        switch (change) {
        case 0: r.Ships[0].Comment = QStringLiteral("changed"); break;
        case 1: r.Ships[0].Models[0].Time += 1; break;
        case 2: r.Ships[0].Texts[0].Description = QStringLiteral("changed"); break;
        case 3: r.Ships[0].Cockpits[0] = QStringLiteral("9;9;other;"); break;
        case 4: r.Ships[1] = plainShip(); break;
        case 5: r.Ships[2].Enabled = false; break;
        default: r.Ships.append(fullShip()); break;
        }
        QVERIFY(WriteRegistry(game.path(), r));
        ShipRegistry read;
        QVERIFY(ReadRegistry(game.path(), read));
        QCOMPARE(read.Ships.size(), r.Ships.size());
        const QByteArray written = readAll(RegistryPath(game.path()));
        QCOMPARE(RegistryText(read), written);
        QCOMPARE(readAll(RegistryPath(game.path()) + QStringLiteral(".bak")), sampleText());
        QCOMPARE(read.Ships[0].Comment, r.Ships[0].Comment);
        QCOMPARE(read.Ships[0].Models[0].Time, r.Ships[0].Models[0].Time);
        QCOMPARE(read.Ships[0].Texts[0].Description, r.Ships[0].Texts[0].Description);
        QCOMPARE(read.Ships[0].Cockpits, r.Ships[0].Cockpits);
        QCOMPARE(read.Ships[1].Deleted, r.Ships[1].Deleted);
        QCOMPARE(read.Ships[2].Enabled, r.Ships[2].Enabled);
    }

    // A package's values end up here; a line break in one must not add lines.
    void lineBreaksInValuesCannotInjectLines()
    {
        ShipRegistry r;
        ShipPackage s = plainShip();
        s.Name = QStringLiteral("Evil\n</ship>\nDeleted: 5");
        s.Comment = QStringLiteral("first\nsecond\r\nthird"); // the one value that keeps them
        s.Texts = {{44, QStringLiteral("N"), QStringLiteral("two\r\nlines")}};
        s.Models = {fileEntry(1, 2, QStringLiteral("a\nModel: 9 9 b"))};
        r.Ships = {s};
        ShipRegistry read;
        ParseRegistryText(RegistryText(r), read);
        s.Name = QStringLiteral("Evil </ship> Deleted: 5");
        s.Comment = QStringLiteral("first\nsecond\nthird");
        s.Texts[0].Description = QStringLiteral("two  lines");
        s.Models[0].Name = QStringLiteral("a Model: 9 9 b");
        r.Ships = {s};
        QCOMPARE(RegistryText(read), RegistryText(r));
    }

    // Reading no file keeps the header; writing where no file can be creates nothing.
    void missingOrBlockedFile()
    {
        QTemporaryDir game;
        ShipRegistry r = sampleRegistry();
        r.InstallerVersion = 1.5;
        QVERIFY(!ReadRegistry(game.path(), r));
        QCOMPARE(r.InstallerVersion, 1.5);
        QCOMPARE(RegistryText(r), sampleText().left(sampleText().indexOf("<ship>")));
        QVERIFY(!QDir(game.filePath(QStringLiteral("Slipway"))).exists());
        const QString gone = game.filePath(QStringLiteral("no-such-game"));
        QVERIFY(!WriteRegistry(gone, sampleRegistry()));
        QVERIFY(!QFileInfo::exists(gone));

        QVERIFY(QDir(game.path()).mkpath(QStringLiteral("Slipway/ships.dat/inner")));
        QVERIFY(!WriteRegistry(game.path(), sampleRegistry()));
        QVERIFY(QFileInfo(game.filePath(QStringLiteral("Slipway/ships.dat/inner"))).isDir());
    }

    // A ships.dat that is no regular file, or far too large, reads as broken at once
    // (no wait for a writer, no endless read); the write that follows keeps it.
    void hostileFileIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a FIFO nobody writes to") << "fifo";
        QTest::newRow("a link to /dev/zero") << "zero";
        QTest::newRow("larger than the cap") << "huge";
    }
    void hostileFileIsRefused()
    {
        QFETCH(QString, kind);
        QTemporaryDir game;
        QVERIFY(QDir(game.path()).mkpath(QStringLiteral("Slipway")));
        const QString path = RegistryPath(game.path());
        if (kind == QLatin1String("fifo"))
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (kind == QLatin1String("zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else {
            QFile huge(path);
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxRegistryBytes + 1));
        }
        ShipRegistry r;
        RegistryReadStatus status;
        QVERIFY(!ReadRegistry(game.path(), r, QString(), QString(), &status) || status.broken());
        QVERIFY2(status.broken(), qPrintable(status.reason));
        QVERIFY2(status.reason.contains(kind == QLatin1String("huge") ? "larger than" : "regular file"),
                 qPrintable(status.reason));
        QVERIFY(r.Ships.isEmpty());
    }

    void versionCheck()
    {
        ShipRegistry r;
        ParseRegistryText("InstallerVersion: 1.89000001\n", r);
        QVERIFY(RegistryVersionMatches(r.InstallerVersion));
        ParseRegistryText("InstallerVersion: 1.88\n", r);
        QVERIFY(!RegistryVersionMatches(r.InstallerVersion));
        ParseRegistryText("Mod: x\n", r); // no version line: needs the migration
        QVERIFY(!RegistryVersionMatches(r.InstallerVersion));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
