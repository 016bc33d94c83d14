// The package check: a saved package with each problem, read back as the
// installer would, and the editor's "Save Anyway" box before a save. With
// VEGA_SCREENSHOTS set to a folder, the box is photographed there.
#include "createship.h"
#include "creatortexts.h"
#include "installersettings.h"
#include "packagecheck.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "uiseams_qt.h"
#include "xspfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const char kCockpit[] = "1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;OV_REAR;";

// A record with one turret (T = 2) whose cockpit is `cockpit`, ending in `id`.
QString record(const QString& cockpit, const QString& id)
{
    ShipRecord r = ShipRecord::newShip();
    QStringList f = r.line().split(QLatin1Char(';'));
    // T = 2: the main cockpit and one turret, four fields each (the default has none).
    f[kTurretCountField] = QStringLiteral("2");
    f.insert(kTurretCountField + 1, QStringLiteral("0;0;1;0;0;0;1;0"));
    ShipRecord grown(f.join(QLatin1Char(';')));
    grown.setTurretCockpit(0, cockpit, QStringLiteral("0"));
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
        QFile f(src);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return {100, qint32(bytes.size()), name, src};
    }

    ShipPackage good()
    {
        ShipPackage p;
        p.Name = QStringLiteral("Smew");
        p.Author = QStringLiteral("Orrin Vale");
        p.Version = QStringLiteral("1");
        p.ID = QStringLiteral("OV-SMEW");
        p.Cockpits = {QString::fromLatin1(kCockpit)};
        p.Data = record(QStringLiteral("OV_REAR"), p.ID);
        p.Texts = {{44, QStringLiteral("Smew"), QStringLiteral("A small one.")}};
        p.SceneFile = file(QStringLiteral("objects/ships/smew_scene.bod"), "scene");
        p.Models = {file(QStringLiteral("objects/ships/smew.bob"), "model")};
        return p;
    }

    QString save(const ShipPackage& p, const QString& name)
    {
        PackageContext context;
        context.programDir = m_root.path();
        const QString path = m_root.filePath(name + QStringLiteral(".xsp"));
        return SavePackage(p, path, context) ? path : QString();
    }

private slots:
    void savedPackages_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("good") << ""
                              << ""
                              << "";
        QTest::newRow("short record") << "short"
                                      << "record"
                                      << "does not hold";
        QTest::newRow("other ID") << "id"
                                  << "record"
                                  << "not in the package's ID";
        QTest::newRow("no scene") << "noscene"
                                  << "file"
                                  << "no scene file";
        QTest::newRow("empty model") << "empty"
                                     << "file"
                                     << "smew.bob is empty";
        QTest::newRow("unknown cockpit key") << "key"
                                             << "cockpit"
                                             << "\"OV_FRONT\"";
        QTest::newRow("cockpit index out of range") << "index"
                                                    << "cockpit"
                                                    << "index 40";
        QTest::newRow("nameless text") << "text"
                                       << "text"
                                       << "language 49 has no name";
        QTest::newRow("letter case") << "case"
                                     << "case"
                                     << "differ only in letter case";
        QTest::newRow("unsafe name") << "unsafe"
                                     << "name"
                                     << "..";
    }

    void savedPackages()
    {
        QFETCH(QString, fault);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        ShipPackage p = good();
        if (fault == QLatin1String("short"))
            p.Data = QStringLiteral("1;2;3;OV-SMEW;");
        else if (fault == QLatin1String("id"))
            p.Data = record(QStringLiteral("OV_REAR"), QStringLiteral("SS_SH_SMEW"));
        else if (fault == QLatin1String("noscene"))
            p.SceneFile.reset();
        else if (fault == QLatin1String("empty"))
            p.Models = {file(QStringLiteral("objects/ships/smew.bob"), "")};
        else if (fault == QLatin1String("key"))
            p.Data = record(QStringLiteral("OV_FRONT"), p.ID);
        else if (fault == QLatin1String("index"))
            p.Data = record(QStringLiteral("40"), p.ID);
        else if (fault == QLatin1String("text"))
            p.Texts << PackageText{49, QString(), QStringLiteral("Nur Text.")};
        else if (fault == QLatin1String("case"))
            p.Models << file(QStringLiteral("objects/ships/SMEW.bob"), "other");
        else if (fault == QLatin1String("unsafe"))
            p.Models << file(QStringLiteral("../outside.bob"), "x");
        const QString path = save(p, QStringLiteral("pkg-") + fault);
        QVERIFY(!path.isEmpty());

        QString error;
        const QList<PackageCheckProblem> problems =
            CheckPackageFile(path, m_root.filePath(QStringLiteral("temp")), 12, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QStringList lines = PackageCheckLines(problems);
        if (fault.isEmpty()) {
            QVERIFY2(problems.isEmpty(), qPrintable(lines.join('\n')));
        } else {
            QVERIFY2(!lines.filter(kind + QStringLiteral(": ")).filter(message).isEmpty(),
                     qPrintable(lines.join('\n')));
        }
        // hullwright-cli validate says the same, and its exit code follows; without
        // --game it knows no cockpit table to hold an index against.
        if (fault == QLatin1String("index"))
            return;
        QProcess cli;
        cli.start(QStringLiteral(HULLWRIGHT_CLI_PATH), {QStringLiteral("validate"), path});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), problems.isEmpty() ? 0 : 1);
        QCOMPARE(
            QString::fromLocal8Bit(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            lines);
    }

    void notAPackage()
    {
        const QString path = m_root.filePath(QStringLiteral("junk.xsp"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a package");
        f.close();
        QString error;
        CheckPackageFile(path, m_root.filePath(QStringLiteral("temp")), -1, &error);
        QVERIFY(error.contains(QStringLiteral("not a valid ship package")));
    }

    void saveAnywayBox()
    {
        const QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
        const QString program = m_root.filePath(QStringLiteral("program"));
        const QString game = m_root.filePath(QStringLiteral("game"));
        QVERIFY(QDir().mkpath(program + QStringLiteral("/data")));
        for (const char* f : {"hw_languages.xml", "data/classes", "data/variant"})
            QVERIFY(QFile::copy(bin + QLatin1Char('/') + QLatin1String(f),
                                program + QLatin1Char('/') + QLatin1String(f)));
        QVERIFY(SampleGame::MakeSampleGame(game));
        QFile config(program + QStringLiteral("/config.dat"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<creator>\nVegaDir: " + game.toLocal8Bit() + "\n</creator>\n");
        config.close();

        QtPrompter::setTestMode(false);
        CreateShip window(program);
        window.show();
        ShipPackage p = good();
        ShipDraft d = DraftFromPackage(p);
        d.sceneFile = p.SceneFile->SourcePath;
        d.sceneName = QStringLiteral("ships\\smew_scene");
        d.models = {{QStringLiteral("objects/ships/"),
                     {p.Models.first().SourcePath, m_root.filePath(QStringLiteral("gone.bob"))}}};
        d.texts << PackageText{49, QString(), QStringLiteral("Nur Text.")};
        d.record = record(QStringLiteral("OV_FRONT"), QStringLiteral("OV-SMEW"));
        window.setDraft(d);

        // The box lists the problems; "Cancel" leaves without saving.
        QString shown;
        QStringList buttons;
        QTimer::singleShot(200, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->text();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            const QString folder = qEnvironmentVariable("VEGA_SCREENSHOTS");
            if (!folder.isEmpty())
                box->grab().save(folder + QStringLiteral("/save-anyway.png"));
            box->buttons().last()->click();
        });
        window.Slot_SaveAs();
        QtPrompter::setTestMode(true);
        QVERIFY2(shown.contains(QStringLiteral("gone.bob is missing")), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("OV_FRONT")));
        QVERIFY(shown.contains(QStringLiteral("language 49 has no name")));
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons.first().remove('&'),
                 PlainUiText(window.texts().own(CreatorText::SaveAnyway)));
    }
};

QTEST_MAIN(TestPackageCheck)
#include "tst_packagecheck.moc"
