// Importing a ship from a mod catalogue: the scene and material readers, the
// proposal for the sample mod's ship, the finish into Slipway, and bad input.
#include "archivefile.h"
#include "hwtest.h"
#include "modimport.h"
#include "samplegame.h"
#include "shiprecord.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using Entries = QMap<QString, QByteArray>;

namespace {

SceneBodies scene(const QByteArray& text)
{
    QBuffer b;
    b.setData(text);
    b.open(QIODevice::ReadOnly);
    return ReadSceneBodies(b);
}

QByteArray shipTable(const QString& scene)
{
    ShipRecord r = ShipRecord::newShip();
    r.setField(16, scene);
    r.setIdentifier("SS_SH_TEST");
    return "48;1;\n" + r.line().toLatin1() + "\n";
}

// The archive writer refuses ".." in names, a catalogue made elsewhere may hold
// them: "@@" in the names written becomes "..".
bool allowDotDot(const QString& catalog)
{
    QFile f(catalog);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    auto scramble = [&bytes] {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(bytes[i] ^ char((0x6E + i) & 0xFF));
    };
    scramble();
    bytes.replace("@@", "..");
    scramble();
    return f.seek(0) && f.write(bytes) == bytes.size();
}

} // namespace

class TestModImport : public QObject
{
    Q_OBJECT

    QString program(const QString& tag) const { return m_tmp.filePath(tag + "/program"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QString error;
        QVERIFY2(SampleGame::MakeSampleMod(m_tmp.filePath("mod"), &error), qPrintable(error));
        m_mod = m_tmp.filePath("mod/") + SampleGame::ModCatalog;
        m_compiler = m_tmp.filePath("tool/compiler.sh");
        QVERIFY(installCompiler(m_compiler));
        qputenv("STANDIN_MODE", "first");
    }

    void sceneReader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("references");
        const int ok = SceneBodies::Scene, no = SceneBodies::NotAScene;
        const struct
        {
            const char *tag, *text;
            int status;
            QStringList references;
        } rows[] = {
            {"comments and blanks, CR LF",
             "// x\r\n\r\n   \r\nVER: 1;\r\nP 0; B ships\\a; 0;\r\nP 1; B 12 ;\r\n",
             ok,
             {"ships\\a", "12"}},
            {"CR only", "VER: 1;\rP 0; B a;\rP 1; B b;\r", ok, {"a", "b"}},
            {"lower-case ver, no closing field", "ver: 2\nP 0; B x\n", ok, {"x"}},
            {"no \" B \"", "VER: 1\nP 0;B x;\nP 1; N x;\nP 2;  B y;\nQ 0; B z;\n", ok, {}},
            {"no VER", "// c\nP 0; B x;\n", no, {}},
            {"part before VER", "P 0; B x;\nVER: 1;\n", no, {}},
            {"empty", "", no, {}},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << QByteArray(r.text) << r.status << r.references;
        QTest::newRow("over-long line")
            << "VER: 1;\nC " + QByteArray(3 << 20, 'a') + "\nP 0; B x;\n"
            << ok << QStringList{"x"};
    }
    void sceneReader()
    {
        QFETCH(QByteArray, text);
        const SceneBodies found = scene(text);
        QTEST(int(found.status), "status");
        QTEST(found.references, "references");
    }

    void bodyMatching_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("match");
        for (const QStringList& r : tableRows("scene-models.tsv"))
            QTest::newRow(qPrintable(r[0])) << r[1] << r[2] << (r[3] == "1");
    }
    void bodyMatching()
    {
        QFETCH(QString, reference);
        QFETCH(QString, model);
        QFETCH(bool, match);
        QCOMPARE(MatchSceneModels({reference}, {"objects\\other.pbb", model}),
                 match ? QStringList{model} : QStringList{});
    }

    void materialLines()
    {
        QBuffer b;
        b.setData("MATERIAL6: hull.dds; 1; 0x20; Textures\\Hull_A.DDS;2.5; panel.tex\r"
                  "material6: 0; 0; glass.dds;\n"
                  "MATERIAL3: 0; 0; wrong.dds;\n"
                  "  MATERIAL6:   0 1 hull_a.dds\n");
        b.open(QIODevice::ReadOnly);
        // The second word is not looked at; numbers with a fraction are no files.
        QCOMPARE(ReadModelTextures(b), (QStringList{"hull_a.dds", "panel.tex", "glass.dds"}));
        QCOMPARE(MatchTextures({"hull_a.dds"}, {"textures\\HULL_A.dds", "textures\\x\\hull_a.tex"}),
                 QStringList{"textures\\HULL_A.dds"});
    }

    // The sample mod's frigate: what its scene, models, turrets and tables name,
    // and with the compiler, what Finish puts into the draft and Slipway.
    void sampleModProposal_data()
    {
        QTest::addColumn<bool>("compiler");
        QTest::newRow("with the compiler") << true;
        QTest::newRow("without") << false;
    }
    void sampleModProposal()
    {
        QFETCH(bool, compiler);
        const SampleGame::ModShip want = SampleGame::ModShips().first();
        const QString dir = program(QTest::currentDataTag());
        QStringList logged;
        ModImport session(m_mod, dir, "44", [&logged](const QString& l) { logged << l; });
        QVERIFY(session.open());
        QCOMPARE(session.ships().size(), SampleGame::ShipCount + 2);
        QCOMPARE(session.tableFiles().size(), 4);
        const int ship = session.findShip(want.id);
        QVERIFY(ship >= 0);
        QCOMPARE(session.ships().at(ship).name, want.name);
        QVERIFY(session.ships().first().name.isEmpty()); // the game's ships have no text in the mod
        QVERIFY(session.isOwnShip(ship) && !session.isOwnShip(0));

        ModelConversion conversion;
        if (compiler) {
            conversion.compile = true;
            conversion.compiler = m_compiler;
        }
        const ImportChoice c = session.proposal(ship, conversion);
        QCOMPARE(c.models, want.models);
        QStringList lines;
        for (int i : c.dummies)
            lines << session.dummies().at(i).section + '\t' + session.dummies().at(i).data;
        QCOMPARE(lines, want.dummies);
        lines.clear();
        for (int i : c.components)
            lines << session.components().at(i).component + '\t' +
                         session.components().at(i).group + '\t' + session.components().at(i).data;
        QCOMPARE(lines, want.components);
        lines.clear();
        for (int i : c.cockpits)
            lines << session.cockpits().at(i);
        QCOMPARE(lines, want.cockpits);
        QCOMPARE(c.texts.size(), want.languages);
        QCOMPARE(c.texts.first().Description, want.description);
        QCOMPARE(filesBelow(dir + "/temp").size(), 4);
        if (!compiler) {
            // The text model still names its texture; the binary ones are logged.
            QCOMPARE(c.textures, QStringList{"textures\\albatross_glass.dds"});
            QCOMPARE(logged.filter("model conversion is off").size(), 2);
            session.close();
            QCOMPARE(filesBelow(dir), QStringList{});
            return;
        }
        QCOMPARE(c.textures, want.textures);

        ShipDraft d;
        const ImportFinish done = session.finish(c, d);
        QCOMPARE(done.skipped, QStringList{});
        QCOMPARE(d.id, want.id);
        QCOMPARE(d.name, want.name);
        QCOMPARE(d.sceneName, want.scene);
        QCOMPARE(d.sceneFile, "<PACKAGE>/objects/ships/shipwrights/albatross_scene.bod");
        QCOMPARE(d.cockpitFile, "<PACKAGE>/objects/cockpits/albatross_cockpit.bod");
        // Plain names below Slipway, grouped by folder as the editor shows them.
        QCOMPARE(DraftTreeFiles(d.models),
                 (QStringList{"<PACKAGE>/objects/ships/shipwrights/albatross_hull.bob",
                              "<PACKAGE>/objects/ships/shipwrights/albatross_bridge.bod",
                              "<PACKAGE>/objects/v/00123.bob"}));
        QCOMPARE(d.models.first().dir, "objects/ships/shipwrights");
        QCOMPARE(DraftTreeFiles(d.others).size(), want.textures.size());
        // The packed model is unpacked: the bytes the mod holds.
        QVERIFY(readFile(dir + "/Slipway/objects/ships/shipwrights/albatross_hull.bob")
                    .startsWith("BOB1\n// albatross_hull"));
        // The turrets name the chosen cockpits by key; nothing else of the record changes.
        const ShipRecord record(d.record), original(want.line);
        QCOMPARE(QStringList(
                     {record.turretCockpit(0), record.turretCockpit(1), record.turretCockpit(3)}),
                 QStringList({"SS_COCKPIT_SW_DORSAL", "SS_COCKPIT_TOP", "0"}));
        for (int f = 0; f < original.fieldCount(); ++f)
            if (f != 31 && f != 33 && f != 35)
                QCOMPARE(record.field(f), original.field(f));
        QCOMPARE(d.cockpits, want.cockpits);
        QCOMPARE(d.dummies.size(), want.dummies.size());
        QCOMPARE(d.components.size(), want.components.size());
        QCOMPARE(filesBelow(dir + "/temp"), QStringList{});
        QCOMPARE(filesBelow(dir).size(), int(done.extracted.size()));
    }

    // Broken catalogues: what is there is shown, the rest skipped; nothing is
    // written outside the program folder's temp and Slipway.
    void badInput_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("mode"); // the stand-in compiler's
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("scene");
        QTest::addColumn<int>("unreadable");
        QTest::addColumn<int>("skipped");
        const QByteArray table = shipTable("ships\\s_scene");
        const QByteArray goodScene = "VER: 1;\nP 0; B ships\\b;\nP 1; B ..\\..\\..\\evil;\n";
        QTest::newRow("no tables")
            << Entries{{"textures\\a.dds", "x"}} << "first" << false << 0 << 0 << 0;
        QTest::newRow("scene missing") << Entries{{"types\\TShips.txt", table}} << "first" << true
                                       << int(SceneModels::NoSceneEntry) << 0 << 0;
        QTest::newRow("scene without VER")
            << Entries{{"types\\TShips.txt", table},
                       {"objects\\ships\\s_scene.bod", "// x\nP 0; B ships\\b;\n"},
                       {"objects\\ships\\b.bob", "BOB1"}}
            << "first" << true << int(SceneModels::NotAScene) << 0 << 0;
        QTest::newRow("model not decompiled")
            << Entries{{"types\\TShips.txt", table},
                       {"objects\\ships\\s_scene.bod", goodScene},
                       {"objects\\ships\\b.bob", "BOB1\nMATERIAL6: 0; 0; t.dds;\n"},
                       {"textures\\t.dds", "t"}}
            << "silent" << true << int(SceneModels::Found) << 1 << 0;
        // The game keeps a scene named without a folder below objects\cut.
        QTest::newRow("scene without folder")
            << Entries{{"types\\TShips.txt", shipTable("s_scene")},
                       {"objects\\cut\\s_scene.bod", "VER: 1;\nP 0; B ships\\b;\n"},
                       {"objects\\ships\\b.bob", "BOB1\nMATERIAL6: 0; 0; t.dds;\n"},
                       {"textures\\t.dds", "t"}}
            << "first" << true << int(SceneModels::Found) << 0 << 0;
        QTest::newRow("names leaving Slipway")
            << Entries{{"types\\TShips.txt", table},
                       {"objects\\ships\\s_scene.bod", goodScene},
                       {"objects\\ships\\b.bob", "BOB1\nMATERIAL6: 0; 0; t.dds;\n"},
                       {"objects\\@@\\@@\\@@\\evil.bob", "BOB1\nMATERIAL6: 0; 0; e.dds;\n"},
                       {"textures\\t.dds", "t"},
                       {"textures\\@@\\@@\\e.dds", "e"}}
            << "first" << true << int(SceneModels::Found) << 0 << 2;
    }
    void badInput()
    {
        QFETCH(Entries, entries);
        QFETCH(QString, mode);
        QFETCH(bool, opens);
        const QString root = m_tmp.filePath(QString("bad/") + QTest::currentDataTag());
        const QString cat = root + "/cat/mod.cat";
        QVERIFY(QDir().mkpath(root + "/cat") && EnsureCatalog(cat));
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            QVERIFY(WriteArchiveFile(it.value().constData(), it.value().size(),
                                     cat + "::" + it.key(), true, false));
        QVERIFY(allowDotDot(cat));
        QStringList logged;
        ModImport session(cat, root + "/program", "44",
                          [&logged](const QString& l) { logged << l; });
        QString error;
        QCOMPARE(session.open(&error), opens);
        QCOMPARE(logged.isEmpty(), false);
        if (!opens) {
            QVERIFY(error.contains("ship table"));
            QCOMPARE(filesBelow(root + "/program"), QStringList{});
            return;
        }
        qputenv("STANDIN_MODE", mode.toUtf8());
        ModelConversion conversion;
        conversion.compile = true;
        conversion.compiler = m_compiler;
        const SceneModels models = session.sceneModels(0);
        QTEST(int(models.status), "scene");
        const TextureSearch textures = session.texturesOf(models.models, conversion);
        QTEST(int(textures.unreadable.size()), "unreadable");
        qputenv("STANDIN_MODE", "first");
        ShipDraft d;
        ImportChoice choice = session.proposal(0, conversion);
        const ImportFinish done = session.finish(choice, d);
        QTEST(int(done.skipped.size()), "skipped");
        for (const QString& f : filesBelow(root))
            QVERIFY2(f.startsWith("cat/") || f.startsWith("program/Slipway/"), qPrintable(f));
        QCOMPARE(d.id, "SS_SH_TEST");
        if (models.status == SceneModels::Found)
            QVERIFY2(d.sceneFile.startsWith("<PACKAGE>/objects/"), qPrintable(d.sceneFile));
    }

private:
    QTemporaryDir m_tmp;
    QString m_mod, m_compiler;
};

QTEST_GUILESS_MAIN(TestModImport)
#include "tst_modimport.moc"
