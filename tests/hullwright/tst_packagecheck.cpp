// The package check: a saved package with each problem, read back as the
// installer would, and the editor's "Save Anyway" box before a save. Then the
// game's view end to end: ships authored in the window and on the command line,
// installed, and read back by verify as the game reads them.
#include "configship.h"
#include "createship.h"
#include "hwtest.h"
#include "packagecheck.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "ui_configship.h"
#include "ui_createship.h"
#include "uiseams_qt.h"
#include "xspfile.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kCockpit[] = "1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;OV_REAR;";

// A record with one turret (T = 2) whose cockpit is `cockpit`, ending in `id`.
QString record(const QString& cockpit, const QString& id)
{
    ShipRecord r = ShipRecord::newShip();
    QStringList f = r.line().split(QLatin1Char(';'));
    // T = 2: the main cockpit and one turret, four fields each (the default has none).
    f[kTurretCountField] = "2";
    f.insert(kTurretCountField + 1, "0;0;1;0;0;0;1;0");
    ShipRecord grown(f.join(QLatin1Char(';')));
    grown.setTurretCockpit(0, cockpit, "0");
    grown.setField(kSceneField, "ships\\smew_scene");
    grown.setIdentifier(id);
    return grown.line();
}

} // namespace

class TestPackageCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_files = 0;

    PackageFile file(const QString& name, const QByteArray& bytes)
    {
        const QString src = m_root.filePath(QStringLiteral("src%1").arg(m_files++));
        writeFile(src, bytes);
        return {100, qint32(bytes.size()), name, src};
    }

    ShipPackage good()
    {
        ShipPackage p;
        p.Name = "Smew";
        p.Author = "Orrin Vale";
        p.Version = "1";
        p.ID = "OV-SMEW";
        p.Cockpits = {QString::fromLatin1(kCockpit)};
        p.Data = record("OV_REAR", p.ID);
        p.Texts = {{44, "Smew", "A small one."}};
        p.SceneFile = file("objects/ships/smew_scene.bod", "scene");
        p.Models = {file("objects/ships/smew.bob", "model")};
        return p;
    }

    QString save(const ShipPackage& p, const QString& name)
    {
        PackageContext context;
        context.programDir = m_root.path();
        const QString path = m_root.filePath(name + ".xsp");
        return SavePackage(p, path, context) ? path : QString();
    }

private slots:
    void savedPackages_data()
    {
        using Fault = std::function<void(ShipPackage&)>;
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        auto row = [](const char* tag, const char* kind, const char* message, Fault f) {
            QTest::newRow(tag) << f << QString(kind) << QString(message);
        };
        row("good", "", "", [](ShipPackage&) {});
        row("short record", "record", "does not hold",
            [](ShipPackage& p) { p.Data = "1;2;3;OV-SMEW;"; });
        // The installer writes the ID as the identifier: nothing to say.
        row("other identifier", "", "",
            [](ShipPackage& p) { p.Data = record("OV_REAR", "SS_SH_SMEW"); });
        row("other scene named", "record", "field 16 names the ship scene \"ships\\other\"",
            [](ShipPackage& p) { p.Data.replace("ships\\smew_scene", "ships\\other"); });
        row("no scene named", "record", "field 16 names no ship scene",
            [](ShipPackage& p) { p.Data.replace("ships\\smew_scene", "0"); });
        row("cockpit scene not carried", "record", "does not carry", [](ShipPackage& p) {
            ShipRecord r(p.Data);
            r.setField(kCockpitSceneField, "cockpits\\smew_cockpit");
            p.Data = r.line();
        });
        row("no scene", "file", "no scene file", [](ShipPackage& p) { p.SceneFile.reset(); });
        row("scene without folder", "", "", [this](ShipPackage& p) {
            p.SceneFile = file("objects/cut/smew_scene.bod", "scene");
            p.Data.replace("ships\\smew_scene", "smew_scene");
        });
        row("empty model", "file", "smew.bob is empty",
            [this](ShipPackage& p) { p.Models = {file("objects/ships/smew.bob", "")}; });
        row("unknown cockpit key", "cockpit", "\"OV_FRONT\"",
            [](ShipPackage& p) { p.Data = record("OV_FRONT", p.ID); });
        row("cockpit index out of range", "cockpit", "index 40",
            [](ShipPackage& p) { p.Data = record("40", p.ID); });
        row("nameless text", "text", "language 49 has no name", [](ShipPackage& p) {
            p.Texts << PackageText{49, QString(), "Nur Text."};
        });
        row("letter case", "case", "differ only in letter case",
            [this](ShipPackage& p) { p.Models << file("objects/ships/SMEW.bob", "other"); });
        row("unsafe name", "name", "..",
            [this](ShipPackage& p) { p.Models << file("../outside.bob", "x"); });
    }

    void savedPackages()
    {
        using Fault = std::function<void(ShipPackage&)>;
        QFETCH(Fault, fault);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        ShipPackage p = good();
        fault(p);
        const bool clean = kind.isEmpty();
        const QString path = save(p, QStringLiteral("pkg-") + QTest::currentDataTag());
        QVERIFY(!path.isEmpty());

        QString error;
        const QList<PackageCheckProblem> problems =
            CheckPackageFile(path, m_root.filePath("temp"), 12, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QStringList lines = PackageCheckLines(problems);
        QVERIFY2(clean ? problems.isEmpty() : !lines.filter(kind + ": ").filter(message).isEmpty(),
                 qPrintable(lines.join('\n')));
        // hullwright-cli validate says the same, and its exit code follows; without
        // --game it knows no cockpit table to hold an index against.
        if (message.startsWith("index"))
            return;
        const Result cli = run(QStringLiteral(HULLWRIGHT_CLI_PATH), {"validate", path});
        QCOMPARE(cli.code, problems.isEmpty() ? 0 : 1);
        QCOMPARE(QString::fromLocal8Bit(cli.out).split('\n', Qt::SkipEmptyParts), lines);
    }

    void notAPackage()
    {
        const QString path = m_root.filePath("junk.xsp");
        QVERIFY(writeFile(path, "not a package"));
        QString error;
        CheckPackageFile(path, m_root.filePath("temp"), -1, &error);
        QVERIFY(error.contains("not a valid ship package"));
    }

    void saveAnywayBox()
    {
        const QString program = m_root.filePath("program");
        const QString game = m_root.filePath("game");
        QVERIFY(copyProgramFiles(program, {"hw_languages.xml", "data"}));
        QVERIFY(SampleGame::MakeSampleGame(game));
        QVERIFY(writeConfig(program, game));

        QtPrompter::setTestMode(true);
        CreateShip window(program);
        window.show();
        ShipPackage p = good();
        ShipDraft d = DraftFromPackage(p);
        d.sceneFile = p.SceneFile->SourcePath;
        d.sceneName = "ships\\smew_scene";
        d.models = {{"objects/ships/", {p.Models.first().SourcePath, m_root.filePath("gone.bob")}}};
        d.texts << PackageText{49, QString(), "Nur Text."};
        d.record = record("OV_FRONT", "OV-SMEW");
        window.setDraft(d);

        // The box lists the problems; "Cancel" leaves without saving.
        QtPrompter::setNextAnswers({1});
        window.Slot_SaveAs();
        const QString shown = QtPrompter::takeAsked().value(0).text;
        QVERIFY2(shown.contains("gone.bob is missing"), qPrintable(shown));
        QVERIFY(shown.contains("OV_FRONT"));
        QVERIFY(shown.contains("language 49 has no name"));
    }

    // A ship built from nothing in the window, and one made on the command line
    // from a game ship with new scenes and ID (saved fast): both install, and
    // verify reads their lines as the game would and finds nothing wrong, their
    // scenes found in the mod. So do the samples.
    void authoredShipsInTheGame()
    {
        const QString program = m_root.filePath("gv-program");
        const QString game = m_root.filePath("gv-game");
        QVERIFY(copyProgramFiles(program, {"hw_languages.xml", "data"}));
        QVERIFY(run(kDrydock, {"make-sample-game", game}).code == 0);
        QVERIFY(writeConfig(program, game));
        const QString scene = m_root.filePath("heron_scene.bod");
        const QString cockpit = m_root.filePath("heron_cockpit.bod");
        QVERIFY(writeFile(scene, "P 0; B ships\\custom\\heron; 0; 0; 0; 0;\r\n"));
        QVERIFY(writeFile(cockpit, "P 0; B cockpits\\frame; 0; 0; 0; 0;\r\n"));

        QtPrompter::setTestMode(true);
        QtPrompter::takeAsked();
        CreateShip window(program);
        window.show();
        Ui::DCreateShip& ui = *window.form();
        const auto type = [](QLineEdit* edit, const QString& text) {
            edit->selectAll();
            QTest::keyClicks(edit, text);
        };
        type(ui.nameEdit, "Heron");
        type(ui.authorEdit, "Tess Marr");
        type(ui.idEdit, "TM-HERON");
        type(ui.sceneNameEdit, "ships\\custom\\heron_scene");
        type(ui.sceneFileEdit, scene);
        type(ui.cockpitNameEdit, "cockpits/custom/heron_cockpit");
        type(ui.cockpitFileEdit, cockpit);
        // Raw Data follows the names as they are typed.
        const ShipRecord shown(ui.rawDataEdit->toPlainText());
        QCOMPARE(shown.field(kSceneField), "ships\\custom\\heron_scene");
        QCOMPARE(shown.field(kCockpitSceneField), "cockpits\\custom\\heron_cockpit");
        QCOMPARE(shown.identifier(), "TM-HERON");

        // One turret on game cockpit 3, added in Customize Ship.
        ModalDialogs::hook = [](QDialog& d) {
            auto& c = static_cast<ConfigShip&>(d);
            Ui::DConfigShip& f = *c.form();
            f.LineTurretPart->setText("1:0");
            QTest::mouseClick(f.ButtonAddTurret, Qt::LeftButton);
            f.ComboStdCockpit->setCurrentIndex(3);
            emit f.ComboStdCockpit->activated(3);
            QTest::mouseClick(f.ButtonSave, Qt::LeftButton);
            return d.result();
        };
        ui.customiseButton->click();
        ModalDialogs::hook = nullptr;
        const ShipRecord custom(ui.rawDataEdit->toPlainText());
        QCOMPARE(custom.field(kTurretCountField), "2");
        QCOMPARE(custom.turretCockpit(0), "3");

        const QString windowShip = m_root.filePath("heron.xsp");
        FileDialogs::filesHook = [&](const QString&, const QString&, const QString&) {
            return QStringList{windowShip};
        };
        window.Slot_SaveAs();
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(windowShip) && ui.centralwidget->isEnabled(), 30000);
        FileDialogs::filesHook = nullptr;
        // No pre-save warning: the only box is the one saying it was saved.
        QCOMPARE(QtPrompter::takeAsked().size(), 1);

        // From the game's table, with new scenes and ID, saved fast.
        const QString table = m_root.filePath("ships.txt");
        QCOMPARE(run(kDrydock, {"game", "extract", game, "types\\TShips.pck", table}).code, 0);
        const QString cliShip = m_root.filePath("egret.xsp");
        const Result made = run(QStringLiteral(HULLWRIGHT_CLI_PATH),
                                {"new", cliShip, "--name", "Egret", "--author", "Tess Marr",
                                 "--id", "TM-EGRET", "--from-table", table, "--index", "12",
                                 "--scene", scene, "--scene-name", "ships/custom/egret_scene",
                                 "--cockpit-scene", cockpit, "--cockpit-name", "egret_cockpit",
                                 "--fast"});
        QVERIFY2(made.code == 0, made.err.constData());

        const QString samples = game + "/sample-ships/";
        QStringList packages{windowShip, cliShip, samples + "Merganser.xsp",
                             samples + "Goosander.xsp"};
        for (const QString& package : packages) {
            const Result validated = run(QStringLiteral(HULLWRIGHT_CLI_PATH), {"validate", package});
            QVERIFY2(validated.code == 0 && validated.out.isEmpty(),
                     qPrintable(package + ": " + validated.out));
        }
        const Result installed = run(kDrydock, QStringList{"install", game} + packages);
        QVERIFY2(installed.code == 0, installed.out.constData());
        QCOMPARE(run(kDrydock, {"update-mod", game}).code, 0);
        const Result verified = run(kDrydock, {"verify", game});
        QVERIFY2(verified.code == 0, verified.out.constData());
        m_installedGame = game;
    }

    // Faults planted in what the game reads are found and name the field.
    void plantedFaults_data()
    {
        QTest::addColumn<QString>("entry"); // a mod entry removed
        QTest::addColumn<int>("field");     // or a field of Heron's line set
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* tag, const char* entry, int field, const char* value,
                            const char* message) {
            QTest::newRow(tag) << QString(entry) << field << QString(value) << QString(message);
        };
        row("scene gone", "objects\\ships\\custom\\heron_scene.pbd", -1, "",
            "field 16: the ship scene \"ships\\custom\\heron_scene\"");
        row("cockpit scene gone", "objects\\cockpits\\custom\\heron_cockpit.pbd", -1, "",
            "field 17: the cockpit scene");
        row("turret cockpit past the table", "", kTurretPairFirstField, "999",
            "field 31: turret 1 names cockpit 999");
        row("text id missing", "", kDescriptionField, "77777", "field 6: text 77777 is not on page 17");
        row("other identifier", "", 95, "TM-HERON-2", "identifier");
    }

    void plantedFaults()
    {
        QFETCH(QString, entry);
        QFETCH(int, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        QVERIFY(!m_installedGame.isEmpty());
        const QString game = m_root.filePath(QStringLiteral("fault-") + QTest::currentDataTag());
        QCOMPARE(run("cp", {"-r", m_installedGame, game}).code, 0);
        const QString catalog = game + "/mods/Hullwright.cat";
        if (!entry.isEmpty()) {
            QCOMPARE(run(kDrydock, {"cat", "remove", catalog, entry}).code, 0);
        } else {
            const QString text = game + "/TShips.txt";
            QCOMPARE(run(kDrydock, {"cat", "extract", catalog, "types\\TShips.pck", text}).code, 0);
            QStringList lines = QString::fromLatin1(readFile(text)).split('\n');
            bool planted = false;
            for (QString& line : lines) {
                if (!line.contains(";TM-HERON;"))
                    continue;
                ShipRecord r(line);
                // Field 95 stands for the identifier, wherever the line has it.
                r.setField(field == 95 ? r.layout().identifierField : field, value);
                line = r.line();
                planted = true;
            }
            QVERIFY(planted);
            QVERIFY(writeFile(text, lines.join('\n').toLatin1()));
            QCOMPARE(run(kDrydock, {"cat", "add", catalog, text, "types\\TShips.txt", "--pack"}).code, 0);
        }
        const Result verified = run(kDrydock, {"verify", game});
        QCOMPARE(verified.code, 1);
        const QStringList lines = QString::fromLocal8Bit(verified.out).split('\n').filter("game: Heron");
        QVERIFY2(!lines.filter(message).isEmpty(), verified.out.constData());
    }

private:
    const QString kDrydock = QStringLiteral(DRYDOCK_CLI_PATH);
    QString m_installedGame;
};

QTEST_MAIN(TestPackageCheck)
#include "tst_packagecheck.moc"
