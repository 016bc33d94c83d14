// The two update dialogs driven as a user would, against a local HTTP server:
// the ship dialog's three phases behind one button, its selection menu and skip
// button, and the program dialog's answers (up to date, yes, no, failures).
#include "../engine/enginefixture.h"
#include "../engine/updateserver.h"
#include "dshipupdate.h"
#include "dupdate.h"
#include "registry.h"
#include "uitexts.h"
#include "windowtexts.h"

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QNetworkProxy>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

using namespace UpdateText;

namespace {

// A UI text as a plain-text label shows it: no shortcut markers.
QString PlainText(const QString& text)
{
    return QString(text).remove('&');
}

} // namespace

class TestUpdateDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void shipUpdatePhases();
    void shipSelectionAndSkip();
    void programDialog_data();
    void programDialog();
    void shipTicksSurviveFailedCheck();

private:
    // Merganser (installed as 0.9) and Goosander on the fixture's game, both
    // looked up on the server.
    void installTwoShips(EngineFixture& f);
    QPushButton* button(QWidget* dialog, const char* name);
    // A program dialog on the given mirrors; the starter is recorded, never run.
    QPointer<DUpdate> openProgramDialog(EngineFixture& f, const QStringList& mirrors,
                                        bool startDownloaded = true);

    UiTexts m_texts{UiTexts::Program::Installer};
    std::unique_ptr<UpdateServer> m_server;
    QStringList m_started; // program, working folder
};

void TestUpdateDialogs::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    QVERIFY(m_texts.load(bin + QStringLiteral("/hw_languages.xml"), QStringLiteral("English")));
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
    m_server->answer("/files/Merganser.xsp", readFile(packages.at(0)));
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
    QVERIFY(QDir().mkpath(f.programDir + "/Icons"));
    QImage icon(4, 4, QImage::Format_RGB32);
    icon.fill(Qt::blue);
    QVERIFY(icon.save(f.programDir + "/Icons/file.png"));
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
    QVERIFY(!merganser->icon(0).isNull());
    QCOMPARE(visibleTexts(dialog).filter("ReadText-"), QStringList());

    // Checking: the unticked ship is remembered as not checked, on disk too.
    goosander->setCheckState(0, Qt::Unchecked);
    QPushButton* action = button(dialog, "actionButton");
    QTest::mouseClick(action, Qt::LeftButton);
    QVERIFY(dialog->isWorking());
    QTRY_VERIFY(!dialog->isWorking());
    ShipRegistry saved;
    QVERIFY(ReadRegistry(f.gameDir, saved));
    QVERIFY(!saved.Ships.at(0).NotChecked);
    QVERIFY(saved.Ships.at(1).NotChecked);
    QCOMPARE(merganser->text(DShipUpdate::ColumnStatus), m_texts.own(Newer) + ": 1.0");
    QCOMPARE(merganser->text(DShipUpdate::ColumnAddress), m_server->url("/files/Merganser.xsp"));
    QCOMPARE(goosander->text(DShipUpdate::ColumnStatus), m_texts.own(NotChecked));
    QVERIFY(!m_server->requested.contains("/goosander/Goosander.dat"));

    // Downloading.
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Download);
    QTest::mouseClick(action, Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(merganser->text(DShipUpdate::ColumnStatus), m_texts.own(Downloaded));
    QVERIFY(QFile::exists(f.programDir + "/Downloads/Merganser.xsp"));

    // Installing through the engine, without message boxes.
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Install);
    QSignalSpy installed(dialog.data(), &DShipUpdate::Signal_ShipsInstalled);
    f.prompter.asked.clear();
    QTest::mouseClick(action, Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QCOMPARE(merganser->text(DShipUpdate::ColumnStatus), m_texts.own(InstallOk));
    QCOMPARE(merganser->text(DShipUpdate::ColumnVersion), QStringLiteral("1.0"));
    QCOMPARE(installed.size(), 1);
    QVERIFY(f.prompter.asked.isEmpty());
    QVERIFY(ReadRegistry(f.gameDir, saved));
    QCOMPARE(saved.Ships.at(0).Version, QStringLiteral("1.0"));
    QVERIFY(engine.modChanged());
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Check);
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
}

void TestUpdateDialogs::shipSelectionAndSkip()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    installTwoShips(f);
    InstallerEngine& engine = *f.engine;
    // The web address never answers; mirror 1 does.
    m_server->silent("/quiet/Merganser.dat");
    engine.registry().Ships[0].Web = m_server->url("/quiet");
    engine.registry().Ships[0].Mirror1 = m_server->url("/merganser");

    auto* dialog = new DShipUpdate({&engine, &m_texts, f.programDir, &f.prompter, nullptr});
    dialog->show();
    QTreeWidget* list = dialog->list();
    const auto ticks = [list] {
        QList<bool> t;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            t << (list->topLevelItem(i)->checkState(0) == Qt::Checked);
        return t;
    };

    // Nothing ticked: an information box, and both remembered as not checked.
    dialog->Slot_DeselectAll();
    QCOMPARE(ticks(), (QList<bool>{false, false}));
    dialog->Slot_CheckNow();
    QCOMPARE(f.prompter.asked.size(), 1);
    QVERIFY(!dialog->isWorking());
    QVERIFY(engine.registry().Ships.at(0).NotChecked && engine.registry().Ships.at(1).NotChecked);

    dialog->Slot_InvertSelect();
    QCOMPARE(ticks(), (QList<bool>{true, true}));
    engine.registry().Ships[1].NotChecked = false;
    dialog->Slot_SelectStored();
    QCOMPARE(ticks(), (QList<bool>{false, true}));
    dialog->Slot_SelectAll();
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);

    // The countdown shows in the status; skip gives up the silent address at once.
    QElapsedTimer clock;
    clock.start();
    dialog->Slot_CheckNow();
    QLabel* status = dialog->findChild<QLabel*>("statusLabel");
    const QString waiting =
        m_texts.own(StateConnecting) + QStringLiteral(" 127.0.0.1:%1 (").arg(m_server->port());
    QTRY_VERIFY(status->text().startsWith(waiting));
    QTRY_VERIFY(m_server->requested.contains("/quiet/Merganser.dat"));
    QVERIFY(button(dialog, "skipButton")->isEnabled());
    QTest::mouseClick(button(dialog, "skipButton"), Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(list->topLevelItem(0)->text(DShipUpdate::ColumnStatus), m_texts.own(Newer) + ": 1.0");
    QVERIFY(!button(dialog, "skipButton")->isEnabled());
    dialog->close();
}

QPointer<DUpdate> TestUpdateDialogs::openProgramDialog(EngineFixture& f, const QStringList& mirrors,
                                                       bool startDownloaded)
{
    QStringList urls;
    for (const QString& m : mirrors)
        urls << m_server->url(m);
    DUpdate::Context context{&m_texts, f.programDir, &f.prompter, 0, urls};
    context.startDownloaded = startDownloaded;
    auto* dialog = new DUpdate(context);
    dialog->setStarter([this](const QString& program, const QString& workingDir) {
        m_started << program << workingDir;
        return true;
    });
    dialog->show();
    return dialog;
}

void TestUpdateDialogs::programDialog_data()
{
    QTest::addColumn<QStringList>("mirrors");
    QTest::addColumn<QStringList>("files"); // "path|body" the server answers; "<cut>" is cut short
    QTest::addColumn<bool>("startDownloaded");
    QTest::addColumn<int>("answer");   // the user's answer to the question
    QTest::addColumn<int>("question"); // caption of the one box expected, -1 for none
    QTest::addColumn<QString>("told"); // the box's text or, without one, the log holds it
    QTest::addColumn<QString>("kept"); // the file Downloads holds afterwards, "" for none
    QTest::addColumn<bool>("starts");  // it is started and the window asked to close
    QTest::addColumn<int>("status");   // status label text afterwards, -1 when closed

    const QString setup = QStringLiteral("/a/setup-1.90.exe|program");
    QTest::newRow("up to date") << QStringList{"/a/u.dat"}
                                << QStringList{"/a/u.dat|version: 1.89\nfile: setup.exe\n"} << true
                                << 0 << int(UpToDateCaption) << "1.89"
                                << "" << false << -1;
    QTest::newRow("newer, declined")
        << QStringList{"/a/u.dat"}
        << QStringList{"/a/u.dat|version: 1.90\nfile: setup-1.90.exe\n", setup} << true << 1
        << int(NewVersionCaption) << "1.89"
        << "" << false << -1;
    // The first mirror fails; the second names the file in its own folder.
    QTest::newRow("newer, accepted")
        << QStringList{"/a/u.dat", "/b/u.dat"}
        << QStringList{"/b/u.dat|version: 1.90\nfile: ../../setup-1.90.exe\n",
                       "/b/setup-1.90.exe|program"}
        << true << 0 << int(NewVersionCaption) << "1.90"
        << "setup-1.90.exe" << true << -1;
    QTest::newRow("download cut short is not started")
        << QStringList{"/a/u.dat"}
        << QStringList{"/a/u.dat|version: 1.90\nfile: setup-1.90.exe\n", "/a/setup-1.90.exe|<cut>"}
        << true << 0 << int(NewVersionCaption) << "1.90"
        << "" << false << -2;
    QTest::newRow("every mirror fails")
        << QStringList{"/a/u.dat", "/b/u.dat", "/c/u.dat"}
        << QStringList{"/b/u.dat|version: 0\nfile: setup.exe\n", "/c/u.dat|version: 1.95\n"} << true
        << 0 << -1 << PlainText(m_texts.own(ProgramFailedText)).split('\n').first() << "" << false
        << int(ProgramFailedCaption);
    QTest::newRow("saved, not started")
        << QStringList{"/a/u.dat"}
        << QStringList{"/a/u.dat|version: 1.90\nfile: drydock-1.90.tar.gz\n",
                       "/a/drydock-1.90.tar.gz|archive"}
        << false << 0 << int(NewVersionCaption) << "Downloads folder"
        << "drydock-1.90.tar.gz" << false << -3;
}

void TestUpdateDialogs::programDialog()
{
    QFETCH(QStringList, mirrors);
    QFETCH(QStringList, files);
    QFETCH(bool, startDownloaded);
    QFETCH(int, answer);
    QFETCH(int, question);
    QFETCH(QString, told);
    QFETCH(QString, kept);
    QFETCH(bool, starts);
    QFETCH(int, status);

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
    QPointer<DUpdate> dialog = openProgramDialog(f, mirrors, startDownloaded);
    QSignalSpy closeOwner(dialog.data(), &DUpdate::Signal_CloseOwner);
    QCOMPARE(visibleTexts(dialog).filter("ReadText-"), QStringList());
    if (status == -1)
        QTRY_VERIFY(dialog.isNull());
    else
        QTRY_VERIFY(dialog->isFinished());

    QCOMPARE(f.prompter.asked.size(), question < 0 ? 0 : 1);
    const QString log = dialog ? dialog->findChild<QTextBrowser*>("log")->toPlainText() : QString();
    if (question >= 0) {
        const ScriptedPrompter::Question& q = f.prompter.asked.first();
        QCOMPARE(q.caption, m_texts.own(question));
        QVERIFY2(q.text.contains(told), qPrintable(q.text));
        // The question is asked before anything is downloaded.
        if (answer == 1)
            QVERIFY(!m_server->requested.contains("/a/setup-1.90.exe"));
    } else {
        QVERIFY2(log.contains(told), qPrintable(log));
    }
    const QString downloads = f.programDir + "/Downloads";
    QCOMPARE(QDir(downloads).entryList(QDir::Files | QDir::Hidden),
             kept.isEmpty() ? QStringList() : QStringList{kept});
    QCOMPARE(m_started, starts ? (QStringList{downloads + "/" + kept, downloads}) : QStringList());
    QCOMPARE(closeOwner.size(), starts ? 1 : 0);
    if (status == -1)
        return;
    // Failures show in the dialog, which stays open until closed.
    QVERIFY(dialog->isVisible());
    const QString label = dialog->findChild<QLabel*>("statusLabel")->text();
    if (status == -2)
        QVERIFY2(log.contains(PlainText(m_texts.own(ProgramFailedCaption))), qPrintable(log));
    else if (status == -3)
        QCOMPARE(label, kept);
    else
        QCOMPARE(label, PlainText(m_texts.own(status)));
    QTest::mouseClick(button(dialog, "closeButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
}

void TestUpdateDialogs::shipTicksSurviveFailedCheck()
{
    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    installTwoShips(f);
    InstallerEngine& engine = *f.engine;
    // Neither address answers with an update file.
    engine.registry().Ships[0].Web = m_server->url("/nothing");
    engine.registry().Ships[1].Web = m_server->url("/nothing");

    auto* dialog = new DShipUpdate({&engine, &m_texts, f.programDir, &f.prompter, nullptr});
    dialog->show();
    QTreeWidget* list = dialog->list();
    QTest::mouseClick(button(dialog, "actionButton"), Qt::LeftButton);
    QTRY_VERIFY(!dialog->isWorking());
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        QCOMPARE(item->checkState(0), Qt::Checked);
        const QString status = item->text(DShipUpdate::ColumnStatus);
        QVERIFY2(status.startsWith(m_texts.own(CheckFailed)), qPrintable(status));
        // Whole texts in the tooltips; the columns are as wide as their texts.
        QCOMPARE(item->toolTip(DShipUpdate::ColumnStatus), status);
        const QFontMetrics metrics(list->font());

        QVERIFY(list->columnWidth(DShipUpdate::ColumnStatus) >= metrics.horizontalAdvance(status));
    }
    QCOMPARE(dialog->phase(), DShipUpdate::Phase::Check);
    // So "Check Now" tries them again instead of saying that nothing is ticked.
    f.prompter.asked.clear();
    QTest::mouseClick(button(dialog, "actionButton"), Qt::LeftButton);
    QVERIFY(f.prompter.asked.isEmpty());
    QVERIFY(dialog->isWorking());
    QTRY_VERIFY(!dialog->isWorking());
    dialog->close();
}

QTEST_MAIN(TestUpdateDialogs)
#include "tst_updatedialogs.moc"
