// The two update dialogs driven as a user would, against a local HTTP server:
// the ship dialog's three phases behind one button, its selection menu and skip
// button, and the program dialog's answers (up to date, yes, no, failures).
#include "../engine/enginefixture.h"
#include "../engine/updateserver.h"
#include "dshipupdate.h"
#include "dupdate.h"
#include "uitexts.h"
#include "windowtexts.h"

#include <QLabel>
#include <QNetworkProxy>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

using namespace UpdateText;

class TestUpdateDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void shipUpdatePhases();
    void shipSelectionFailuresAndSkip();
    void programDialog_data();
    void programDialog();

private:
    // Merganser (installed as 0.9) and Goosander on the fixture's game, both
    // looked up on the server.
    void installTwoShips(EngineFixture& f);
    QPushButton* button(QWidget* dialog, const char* name);

    UiTexts m_texts{UiTexts::Program::Installer};
    std::unique_ptr<UpdateServer> m_server;
    QStringList m_started; // program, working folder
};

void TestUpdateDialogs::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_texts.load(programFiles() + QStringLiteral("/hw_languages.xml"),
                         QStringLiteral("English")));
}

void TestUpdateDialogs::init()
{
    m_server = std::make_unique<UpdateServer>();
    QVERIFY(m_server->isListening());
    m_started.clear();
}

void TestUpdateDialogs::installTwoShips(EngineFixture& f)
{
    const QStringList packages = f.samplePackages();
    QVERIFY2(!packages.isEmpty(), qPrintable(f.error));
    InstallerEngine& engine = f.makeEngine();
    QCOMPARE(engine.install(packages.at(0), nullptr, false).status, 0);
    QCOMPARE(engine.install(packages.at(1), nullptr, false).status, 0);
    QList<ShipPackage>& ships = engine.registry().Ships;
    ships[0].Version = QStringLiteral("0.9");
    ships[0].Web = m_server->url("/merganser");
    ships[0].Mirror1.clear();
    ships[1].Web = m_server->url("/goosander");
    QVERIFY(engine.saveRegistry());
    m_server->answer("/merganser/Merganser.dat",
                     "version: 1.0\nfile: " + m_server->url("/files/Merganser.xsp").toUtf8() +
                         "\nscript: Merganser\n");
    m_server->answer("/files/Merganser.xsp", readBytes(packages.at(0)));
    m_server->answer("/goosander/Goosander.dat",
                     "version: 1.2\nfile: http://h/Goosander.xsp\nscript: Goosander\n");
}

// A failed test leaves its dialog open; it must not outlive the test's fixture.
void TestUpdateDialogs::cleanup()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<DShipUpdate*>(w) || qobject_cast<DUpdate*>(w))
            delete w;
    m_server.reset();
}

QPushButton* TestUpdateDialogs::button(QWidget* dialog, const char* name)
{
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

void TestUpdateDialogs::shipUpdatePhases()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    installTwoShips(f);
    InstallerEngine& engine = *f.engine;

    QPointer<DShipUpdate> dialog =
        new DShipUpdate({&engine, &m_texts, f.programDir, &f.prompter, nullptr});
    dialog->show();
    QTreeWidget* list = dialog->list();
    QCOMPARE(list->topLevelItemCount(), 2);
    QTreeWidgetItem* merganser = list->topLevelItem(0);
    QTreeWidgetItem* goosander = list->topLevelItem(1);
    QCOMPARE((QStringList{merganser->text(DShipUpdate::ColumnName),
                          merganser->text(DShipUpdate::ColumnAuthor),
                          merganser->text(DShipUpdate::ColumnVersion)}),
             (QStringList{"Merganser", "Orrin Vale", "0.9"}));
    QCOMPARE(merganser->checkState(0), Qt::Checked);
    QCOMPARE(placeholdersIn(visibleTexts(dialog)), QStringList());

    // Checking: the unticked ship is remembered as not checked, on disk too.
    goosander->setCheckState(0, Qt::Unchecked);
    QPushButton* action = button(dialog, "actionButton");
    QTest::mouseClick(action, Qt::LeftButton);
    QVERIFY(dialog->isWorking());
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(f.savedRegistry().Ships.at(0).NotChecked, false);
    QCOMPARE(f.savedRegistry().Ships.at(1).NotChecked, true);
    QCOMPARE(merganser->text(DShipUpdate::ColumnStatus), m_texts.own(Newer) + ": 1.0");
    QCOMPARE(goosander->text(DShipUpdate::ColumnStatus), m_texts.own(NotChecked));
    QVERIFY(!m_server->requested.contains("/goosander/Goosander.dat"));

    // Downloading.
    QTest::mouseClick(action, Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(merganser->text(DShipUpdate::ColumnStatus), m_texts.own(Downloaded));
    QVERIFY(QFile::exists(f.programDir + "/Downloads/Merganser.xsp"));

    // Installing through the engine, without message boxes.
    QSignalSpy installed(dialog.data(), &DShipUpdate::Signal_ShipsInstalled);
    f.prompter.asked.clear();
    QTest::mouseClick(action, Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(merganser->text(DShipUpdate::ColumnVersion), QStringLiteral("1.0"));
    QCOMPARE(installed.size(), 1);
    QVERIFY(f.prompter.asked.isEmpty());
    QCOMPARE(f.savedRegistry().Ships.at(0).Version, QStringLiteral("1.0"));
    QVERIFY(engine.modChanged());
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Check);
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
}

void TestUpdateDialogs::shipSelectionFailuresAndSkip()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    installTwoShips(f);
    InstallerEngine& engine = *f.engine;
    QList<ShipPackage>& ships = engine.registry().Ships;
    auto* dialog = new DShipUpdate({&engine, &m_texts, f.programDir, &f.prompter, nullptr});
    dialog->show();
    QTreeWidget* list = dialog->list();
    const auto ticks = [list] {
        QList<bool> t;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            t << (list->topLevelItem(i)->checkState(0) == Qt::Checked);
        return t;
    };

    // Neither address answers with an update file: both stay ticked, with the
    // whole reason readable, so "Check Now" tries them again instead of saying
    // that nothing is ticked.
    ships[0].Web = ships[1].Web = m_server->url("/nothing");
    QTest::mouseClick(button(dialog, "actionButton"), Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(ticks(), (QList<bool>{true, true}));
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QString status = list->topLevelItem(i)->text(DShipUpdate::ColumnStatus);
        QVERIFY2(status.startsWith(m_texts.own(CheckFailed)), qPrintable(status));
        QVERIFY(list->columnWidth(DShipUpdate::ColumnStatus) >=
                QFontMetrics(list->font()).horizontalAdvance(status));
    }
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Check);
    QTest::mouseClick(button(dialog, "actionButton"), Qt::LeftButton);
    QVERIFY(f.prompter.asked.isEmpty());
    QVERIFY(dialog->isWorking());
    QTRY_VERIFY(!dialog->isWorking());

    // Nothing ticked: an information box, and both remembered as not checked.
    dialog->Slot_DeselectAll();
    QCOMPARE(ticks(), (QList<bool>{false, false}));
    dialog->Slot_CheckNow();
    QCOMPARE(f.prompter.asked.size(), 1);
    QVERIFY(!dialog->isWorking());
    QVERIFY(ships.at(0).NotChecked && ships.at(1).NotChecked);

    dialog->Slot_InvertSelect();
    QCOMPARE(ticks(), (QList<bool>{true, true}));
    ships[1].NotChecked = false;
    dialog->Slot_SelectStored();
    QCOMPARE(ticks(), (QList<bool>{false, true}));
    dialog->Slot_SelectAll();
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    // The web address never answers; mirror 1 does.
    m_server->silent("/quiet/Merganser.dat");
    ships[0].Web = m_server->url("/quiet");
    ships[0].Mirror1 = m_server->url("/merganser");

    // The countdown shows in the status; skip gives up the silent address at once,
    // long before it would time out.
    dialog->Slot_CheckNow();
    QLabel* status = dialog->findChild<QLabel*>("statusLabel");
    QTRY_VERIFY(status->text().startsWith(m_texts.own(StateConnecting)));
    QTRY_VERIFY(m_server->requested.contains("/quiet/Merganser.dat"));
    QTest::mouseClick(button(dialog, "skipButton"), Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(list->topLevelItem(0)->text(DShipUpdate::ColumnStatus), m_texts.own(Newer) + ": 1.0");
    QVERIFY(!button(dialog, "skipButton")->isEnabled());
    dialog->close();
}

void TestUpdateDialogs::programDialog_data()
{
    QTest::addColumn<QStringList>("files"); // "path|body" the server answers; "<cut>" is cut short
    QTest::addColumn<bool>("startDownloaded");
    QTest::addColumn<int>("answer");     // the user's answer to the question
    QTest::addColumn<QList<int>>("questions"); // captions of the boxes expected
    QTest::addColumn<QString>("kept");   // the file Downloads holds afterwards, "" for none
    QTest::addColumn<bool>("starts");    // it is started and the window asked to close
    QTest::addColumn<QString>("status"); // what the dialog, left open, shows; "" when it closes

    const QString newer = QStringLiteral("/a/u.dat|version: 1.90\nfile: setup-1.90.exe\n");
    const QString setup = QStringLiteral("/a/setup-1.90.exe|program");
    using Boxes = QList<int>;
    const Boxes newVersion{NewVersionCaption};
    QTest::newRow("up to date") << QStringList{"/a/u.dat|version: 1.89\nfile: setup.exe\n"} << true
                                << 0 << Boxes{UpToDateCaption} << "" << false << "";
    QTest::newRow("older offered is up to date")
        << QStringList{"/a/u.dat|version: 1.50\nfile: setup.exe\n"} << true << 0
        << Boxes{UpToDateCaption} << "" << false << "";
    QTest::newRow("newer, declined")
        << QStringList{newer, setup} << true << 1 << newVersion << "" << false << "";
    QTest::newRow("newer, accepted")
        << QStringList{newer, setup} << true << 0 << newVersion << "setup-1.90.exe" << true << "";
    // A failure is a critical box, and the dialog closes with it.
    QTest::newRow("download cut short is not started")
        << QStringList{newer, "/a/setup-1.90.exe|<cut>"} << true << 0
        << Boxes{NewVersionCaption, ProgramFailedCaption} << "" << false << "";
    QTest::newRow("no file named") << QStringList{"/a/u.dat|version: 1.95\n"} << true << 0
                                   << Boxes{ProgramFailedCaption} << "" << false << "";
    QTest::newRow("saved, not started")
        << QStringList{"/a/u.dat|version: 1.90\nfile: drydock-1.90.tar.gz\n",
                       "/a/drydock-1.90.tar.gz|archive"}
        << false << 0 << newVersion << "drydock-1.90.tar.gz" << false << "drydock-1.90.tar.gz";
}

void TestUpdateDialogs::programDialog()
{
    QFETCH(QStringList, files);
    QFETCH(bool, startDownloaded);
    QFETCH(int, answer);
    QFETCH(QList<int>, questions);
    QFETCH(QString, kept);
    QFETCH(bool, starts);
    QFETCH(QString, status);

    EngineFixture f(false);
    for (const QString& file : files) {
        UpdateServer::Answer reply;
        reply.body = file.section('|', 1).toUtf8();
        if (reply.body == "<cut>") {
            reply.body = QByteArray(1000, 'p');
            reply.claimedLength = 100000;
        }
        m_server->answer(file.section(QLatin1Char('|'), 0, 0), reply);
    }
    f.prompter.answers = {answer};
    DUpdate::Context context{&m_texts, f.programDir, &f.prompter, 0, {m_server->url("/a/u.dat")}};
    context.startDownloaded = startDownloaded;
    QPointer<DUpdate> dialog = new DUpdate(context);
    // The starter is recorded, never run.
    dialog->setStarter([this](const QString& program, const QString& workingDir) {
        m_started << program << workingDir;
        return true;
    });
    dialog->show();
    QSignalSpy closeOwner(dialog.data(), &DUpdate::Signal_CloseOwner);
    QCOMPARE(placeholdersIn(visibleTexts(dialog)), QStringList());
    if (status.isEmpty())
        QTRY_VERIFY(dialog.isNull());
    else
        QTRY_VERIFY(dialog->isFinished());

    QStringList captions;
    for (const ScriptedPrompter::Question& q : f.prompter.asked)
        captions << q.caption;
    QStringList expected;
    for (int n : std::as_const(questions))
        expected << m_texts.own(n);
    QCOMPARE(captions, expected);
    // The question is asked before anything is downloaded.
    if (answer == 1)
        QVERIFY(!m_server->requested.contains("/a/setup-1.90.exe"));
    const QString downloads = f.programDir + "/Downloads";
    QCOMPARE(QDir(downloads).entryList(QDir::Files | QDir::Hidden),
             kept.isEmpty() ? QStringList() : QStringList{kept});
    QCOMPARE(m_started, starts ? (QStringList{downloads + "/" + kept, downloads}) : QStringList());
    QCOMPARE(closeOwner.size(), starts ? 1 : 0);
    if (status.isEmpty())
        return;
    // Failures show in the dialog, which stays open until closed.
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->findChild<QLabel*>("statusLabel")->text(), status);
    QTest::mouseClick(button(dialog, "closeButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestUpdateDialogs)
#include "tst_updatedialogs.moc"
