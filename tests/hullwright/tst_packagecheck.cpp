// The package check: a saved package with each problem, read back as the
// installer would, and the editor's "Save Anyway" box before a save.
#include "createship.h"
#include "hwtest.h"
#include "packagecheck.h"
#include "samplegame.h"
#include "shiprecord.h"
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
        row("other ID", "record", "not in the package's ID",
            [](ShipPackage& p) { p.Data = record("OV_REAR", "SS_SH_SMEW"); });
        row("no scene", "file", "no scene file", [](ShipPackage& p) { p.SceneFile.reset(); });
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
};

QTEST_MAIN(TestPackageCheck)
#include "tst_packagecheck.moc"
