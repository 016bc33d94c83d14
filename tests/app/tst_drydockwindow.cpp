// The installer window driven as a user would: through its slots, menus and
// dialogs, on a sample game in a temporary folder. Message boxes and file
// dialogs are answered through their test hooks.
#include "archivefile.h"
#include "csocket.h"
#include "dconfig.h"
#include "ddrydock.h"
#include "dshipupdate.h"
#include "dslipway.h"
#include "dupdate.h"
#include "gamesnapshot.h"
#include "installerengine.h"
#include "samplegame.h"
#include "sysregistry.h"
#include "uiseams_qt.h"
#include "windowtexts.h"
#include "wlistview.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <QtTest>

#include <memory>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList captionsAsked()
{
    QStringList captions;
    for (const QtPrompter::Asked& a : QtPrompter::takeAsked())
        captions << a.caption;
    return captions;
}

// Whether the generated mod holds the ship table, as after an update of the mod.
bool modHoldsShipTable(const InstallerEngine& engine)
{
    for (const CatalogEntryInfo& e : ListCatalog(engine.modCatalog()))
        if (e.name.compare(QLatin1String("types\\TShips.pck"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QTreeWidgetItem* findItem(DSlipway* list, const QString& name)
{
    const QList<QTreeWidgetItem*> items =
        list->listView()->findItems(name, Qt::MatchExactly, DSlipway::ColumnName);
    return items.isEmpty() ? nullptr : items.first();
}

// Drops the files on the list as a file manager does; returns whether it was taken.
bool dropOn(WListView* view, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint centre = view->viewport()->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// What a second start sends: the path, a line break and a zero byte.
void sendRemote(DDrydock& window, const QString& path)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, window.server()->serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write(QFile::encodeName(path) + QByteArray("\n\0", 2));
    QVERIFY(client.waitForBytesWritten(5000));
    client.disconnectFromHost();
}

void selectOnly(DSlipway* list, const QString& name)
{
    QTreeWidgetItem* item = findItem(list, name);
    QVERIFY(item);
    list->listView()->clearSelection();
    list->listView()->setCurrentItem(item);
    item->setSelected(true);
}

} // namespace

class TestDrydockWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constructionAsksForDirectory_data();
    void constructionAsksForDirectory();
    void constructionWithSettings();
    void constructionFindsGameThroughRegistry();
    void directoryList();
    void settingsDialog();
    void installUninstallAndClose();
    void closeWaitsForPendingInstall();
    void baseModChoice();
    void dropDecoding_data();
    void dropDecoding();
    void screenshotViewer();
    void packageFailuresAreExplained();
    void uninstallAsksFirst();
    void oneWriterPerGame();
    void menusFollowTheProgramFolder();

private:
    // A program folder with the English texts and a registry that names no game.
    QString makeProgramDir(const QString& name);
    // A copy of the sample game with its packages, made once: making one is slow.
    QString makeGame(const QString& name);
    void writeConfig(const QString& programDir, const QByteArray& text);
    // A window on a fresh program folder whose settings know a fresh game.
    std::unique_ptr<DDrydock> openOnGame(QString* program, QString* game);
    void waitIdle(DDrydock& window);

    QTemporaryDir m_template;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_textsFile;
    QStringList m_directoryAnswers;
    int m_directoryAsked = 0;
    QList<QUrl> m_opened;
    bool m_openSucceeds = true;
    QStringList m_filesStarts;         // where each package dialog started
    QList<QStringList> m_filesAnswers; // what the package dialogs answer
};

void TestDrydockWindow::initTestCase()
{
    QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    m_textsFile = bin + QStringLiteral("/hw_languages.xml");
    QVERIFY2(QFileInfo::exists(m_textsFile), qPrintable(m_textsFile));

    QString error;
    QVERIFY2(SampleGame::MakeSampleGame(m_template.path(), &error) &&
                 SampleGame::MakeSamplePackages(m_template.filePath("sample-ships"), &error),
             qPrintable(error));

    QtPrompter::setTestMode(true);
    FileDialogs::directoryHook = [this](const QString&, const QString&) {
        ++m_directoryAsked;
        return m_directoryAnswers.isEmpty() ? QString() : m_directoryAnswers.takeFirst();
    };
    FileDialogs::filesHook = [this](const QString&, const QString& start, const QString&) {
        m_filesStarts << start;
        return m_filesAnswers.isEmpty() ? QStringList() : m_filesAnswers.takeFirst();
    };
    DesktopOpen::hook = [this](const QUrl& url) {
        m_opened << url;
        return m_openSucceeds;
    };
}

void TestDrydockWindow::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_directoryAnswers.clear();
    m_directoryAsked = 0;
    m_opened.clear();
    m_openSucceeds = true;
    m_filesStarts.clear();
    m_filesAnswers.clear();
    QtPrompter::setNextAnswers({});
    QtPrompter::setNextCheckStates({});
    QtPrompter::takeAsked();
}

void TestDrydockWindow::cleanup()
{
    m_root.reset();
}

QString TestDrydockWindow::makeProgramDir(const QString& name)
{
    const QString dir = m_root->filePath(name);
    QDir().mkpath(dir);
    QFile::copy(m_textsFile, dir + QStringLiteral("/hw_languages.xml"));
    CreateIniRegistry(dir + QStringLiteral("/registry.ini"))
        ->writeString(QStringLiteral("/Starfall"), QStringLiteral("/Vega Concord/INSTALL_DIR"),
                      m_root->filePath(QStringLiteral("nowhere")));
    return dir;
}

QString TestDrydockWindow::makeGame(const QString& name)
{
    const QString dir = m_root->filePath(name);
    if (!GameSnapshot::copyTree(m_template.path(), dir))
        qWarning("cannot copy the sample game to %s", qPrintable(dir));
    return dir;
}

void TestDrydockWindow::writeConfig(const QString& programDir, const QByteArray& text)
{
    writeFile(programDir + QStringLiteral("/config.dat"), text);
}

std::unique_ptr<DDrydock> TestDrydockWindow::openOnGame(QString* program, QString* game)
{
    *program = makeProgramDir(QStringLiteral("program"));
    *game = makeGame(QStringLiteral("game"));
    writeConfig(*program, "<installer>\nInstallDir: " + game->toUtf8() + "\n</installer>\n");
    return std::make_unique<DDrydock>(*program);
}

void TestDrydockWindow::waitIdle(DDrydock& window)
{
    QTRY_VERIFY_WITH_TIMEOUT(!window.shipList()->isBusy(), 20000);
}

void TestDrydockWindow::constructionAsksForDirectory_data()
{
    QTest::addColumn<QString>("answer"); // "game", "invalid" or "" (cancelled)
    QTest::newRow("game chosen") << QStringLiteral("game");
    QTest::newRow("not a game") << QStringLiteral("invalid");
    QTest::newRow("cancelled") << QString();
}

void TestDrydockWindow::constructionAsksForDirectory()
{
    QFETCH(QString, answer);
    const QString program = makeProgramDir(QStringLiteral("program"));
    writeFile(program + QStringLiteral("/Scripts/hw.test.xml"), "<script/>");
    const QString game = makeGame(QStringLiteral("game"));
    const QString invalid = m_root->filePath(QStringLiteral("empty"));
    QDir().mkpath(invalid);
    m_directoryAnswers << (answer == QLatin1String("game")      ? game
                           : answer == QLatin1String("invalid") ? invalid
                                                                : QString());

    auto window = std::make_unique<DDrydock>(program);
    QCOMPARE(m_directoryAsked, 1);
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());
    auto* install = window->findChild<QAction*>(QStringLiteral("actionInstall"));
    QVERIFY(install);

    if (answer == QLatin1String("game")) {
        QCOMPARE(window->directoryBox()->count(), 1);
        QCOMPARE(window->directoryBox()->itemText(0), game);
        QCOMPARE(window->engine().gameDir(), game);
        QVERIFY(install->isEnabled());
        QVERIFY(readFile(program + QStringLiteral("/config.dat"))
                    .contains("InstallDir: " + game.toUtf8() + '\n'));
        QCOMPARE(readFile(game + QStringLiteral("/Scripts/hw.test.xml")), QByteArray("<script/>"));
        // A first start says what the folder question is for before it asks.
        QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Choose the Game Directory")});
        return;
    }
    QCOMPARE(window->directoryBox()->count(), 0);
    QVERIFY(window->engine().gameDir().isEmpty());
    QVERIFY(!install->isEnabled());
    QVERIFY(!readFile(program + QStringLiteral("/config.dat")).contains("InstallDir:"));
    const QStringList captions = captionsAsked();
    const QString explained = QStringLiteral("Choose the Game Directory");
    const QStringList expected =
        answer == QLatin1String("invalid")
            ? QStringList{explained, QStringLiteral("Not a Game Directory")}
            : QStringList{explained};
    QCOMPARE(captions, expected);

    // Without a game directory a path from outside is refused.
    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Merganser.xsp\n"));
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("No Game Directory")});
    QVERIFY(window->engine().queue().isEmpty());
    QVERIFY(!window->shipList()->isBusy());
}

void TestDrydockWindow::constructionWithSettings()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    const QByteArray creator = "<creator>\nVegaDir: /somewhere\nModDir: C:/Program Files/Mods\n"
                               "BODCOMP\n</creator>\n";
    writeConfig(program, "<common>\nLanguage: English\n</common>\n" + creator +
                             "<installer>\nInstallDir: " + game.toUtf8() +
                             "\nInstallDir: " + m_root->filePath(QStringLiteral("gone")).toUtf8() +
                             "\nText_Custom: 49\nDebugLog\n</installer>\n");

    auto window = std::make_unique<DDrydock>(program);
    QCOMPARE(m_directoryAsked, 0);
    QCOMPARE(window->directoryBox()->count(), 1);
    QCOMPARE(window->engine().gameDir(), game);
    QCOMPARE(window->settings().textCustom, 49);
    QVERIFY(window->settings().debugLog);

    const QByteArray config = readFile(program + QStringLiteral("/config.dat"));
    QVERIFY(config.contains(creator));
    QVERIFY(!config.contains("gone"));
    const QByteArray log = readFile(program + QStringLiteral("/log/installer_debug.txt"));
    QVERIFY(log.trimmed().endsWith("] Ship Installed Started"));
}

void TestDrydockWindow::constructionFindsGameThroughRegistry()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    writeFile(program + QStringLiteral("/Scripts/hw.test.xml"), "<script/>");
    CreateIniRegistry(program + QStringLiteral("/registry.ini"))
        ->writeString(QStringLiteral("/Starfall"), QStringLiteral("/Vega Concord/INSTALL_DIR"),
                      QString(game).replace(QLatin1Char('/'), QLatin1Char('\\')));

    auto window = std::make_unique<DDrydock>(program);
    QCOMPARE(m_directoryAsked, 0);
    QCOMPARE(window->engine().gameDir(), game);
    QVERIFY(QFileInfo::exists(game + QStringLiteral("/Scripts/hw.test.xml")));
    window.reset();

    // With a known directory the one found joins the box behind it.
    const QString other = makeGame(QStringLiteral("other"));
    writeConfig(program, "<installer>\nInstallDir: " + other.toUtf8() + "\n</installer>\n");
    window = std::make_unique<DDrydock>(program);
    QCOMPARE(window->engine().gameDir(), other);
    QCOMPARE(window->directoryBox()->count(), 2);
    QCOMPARE(window->directoryBox()->itemText(1), game);
}

void TestDrydockWindow::directoryList()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    QComboBox* box = window->directoryBox();
    const auto listed = [box] {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    };
    QStringList games;
    for (int i = 1; i <= 3; ++i) {
        games << m_root->filePath(QStringLiteral("games/g%1").arg(i));
        writeFile(games.last() + QStringLiteral("/vega.exe"), QByteArray());
    }
    // Chosen again (typed with backslashes), a listed directory moves up; a
    // folder without the game is refused and changes nothing.
    m_directoryAnswers = games;
    m_directoryAnswers << QString(games.at(0)).replace(QLatin1Char('/'), QLatin1Char('\\'))
                       << m_root->filePath(QStringLiteral("games"));
    for (int i = 0; i < 5; ++i)
        window->Slot_GetDirectory();
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Not a Game Directory")});
    QCOMPARE(listed(), (QStringList{games.at(0), games.at(2), games.at(1), game}));
    QCOMPARE(window->engine().gameDir(), games.at(0));

    // The box switches directories 100 ms later; the list follows.
    window->Slot_ComboDir(games.at(1));
    QVERIFY(window->shipList()->isBusy());
    waitIdle(*window);
    QCOMPARE(listed(), (QStringList{games.at(1), games.at(0), games.at(2), game}));
    QCOMPARE(window->engine().gameDir(), games.at(1));
    QVERIFY(!window->engine().modChanged());

    QStringList written;
    for (const QByteArray& line : readFile(program + QStringLiteral("/config.dat")).split('\n'))
        if (line.startsWith("InstallDir: "))
            written << QString::fromUtf8(line.mid(12));
    QCOMPARE(written, listed());
}

void TestDrydockWindow::settingsDialog()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    const QByteArray creator =
        "<creator>\nVegaDir: " + game.toUtf8() + "\nDefAuthor: Someone Else\nPrefix\n</creator>\n";
    writeConfig(program,
                creator + "<installer>\nInstallDir: " + game.toUtf8() + "\n</installer>\n");
    auto window = std::make_unique<DDrydock>(program);
    const QString configPath = program + QStringLiteral("/config.dat");
    const QString logPath = program + QStringLiteral("/log/installer_debug.txt");

    // Drives the dialog once it runs; `change` edits it, then Done or Cancel.
    QStringList dialogPlaceholders;
    auto runDialog = [&](const std::function<void(DConfig*)>& change, bool accept) {
        bool ran = false;
        QTimer::singleShot(0, window.get(), [&] {
            auto* dialog = window->findChild<DConfig*>();
            QVERIFY(dialog);
            QTRY_VERIFY(dialog->isVisible());
            dialogPlaceholders += placeholdersIn(visibleTexts(dialog));
            change(dialog);
            auto* button = dialog->findChild<QPushButton*>(accept ? QStringLiteral("doneButton")
                                                                  : QStringLiteral("cancelButton"));
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
            ran = true;
        });
        window->Slot_Config();
        QVERIFY(ran);
    };
    auto click = [](QWidget* dialog, const char* name) {
        auto* button = dialog->findChild<QAbstractButton*>(QLatin1String(name));
        QVERIFY2(button, name);
        // Check boxes and radio buttons take clicks on their indicator and text
        // only, not on the empty rest of a wide row.
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    };

    runDialog(
        [&](DConfig* d) {
            click(d, "debugLog");
            click(d, "baseFakePatch");
            click(d, "textCustom");
            auto* custom = d->findChild<QSpinBox*>(QStringLiteral("textCustomBox"));
            QVERIFY(custom && custom->isEnabled());
            custom->setValue(49);
        },
        true);
    QCOMPARE(dialogPlaceholders, QStringList());
    QByteArray config = readFile(configPath);
    QVERIFY(config.contains(creator));
    QVERIFY(config.contains("\nDebugLog\n"));
    QVERIFY(config.contains("\nBaseType: 1\n"));
    QVERIFY(config.contains("\nText_Option: 2\n"));
    QVERIFY(config.contains("\nText_Custom: 49\n"));
    QVERIFY(window->engine().modChanged());

    // Cancel leaves everything as it was.
    runDialog([&](DConfig* d) { click(d, "debugLog"); }, false);
    QCOMPARE(readFile(configPath), config);
    QVERIFY(window->settings().debugLog);

    // Switching the log off still writes that it was switched off.
    runDialog([&](DConfig* d) { click(d, "debugLog"); }, true);
    config = readFile(configPath);
    QVERIFY(config.contains(creator));
    QVERIFY(!config.contains("DebugLog"));
    QVERIFY(readFile(logPath).trimmed().endsWith("disabled"));
}

void TestDrydockWindow::installUninstallAndClose()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    DSlipway* list = window->shipList();
    InstallerEngine& engine = window->engine();
    const QString packages = game + QStringLiteral("/sample-ships/");

    // The second path arrives while the first waits for its start: both stay
    // queued, the queue starts once, and each package is installed once.
    window->Slot_ReadInputText(packages + QStringLiteral("Merganser.xsp\r\n"));
    window->Slot_ReadInputText(packages + QStringLiteral("Goosander.xsp"));
    window->Slot_ReadInputText(QStringLiteral("\n"));
    window->Slot_ReadInputText(packages + QStringLiteral("notes.txt"));
    QCOMPARE(engine.queue().size(), 2);
    QVERIFY(list->isBusy());
    waitIdle(*window);
    QCOMPARE(list->listView()->topLevelItemCount(), 2);
    QCOMPARE(engine.registry().Ships.size(), 2);
    // The text file is reported once the queue is done.
    QCOMPARE(captionsAsked(),
             (QStringList{QStringLiteral("Ship Installed"), QStringLiteral("Ship Installed"),
                          QStringLiteral("Package Error")}));
    QVERIFY(window->findChild<QAction*>(QStringLiteral("actionInstall"))->isEnabled());
    QVERIFY(window->progressBar()->isHidden());
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());

    // No authoring program beside this one: no edit mode in the context menu.
    QMenu menu;
    list->fillContextMenu(menu, findItem(list, QStringLiteral("Merganser")));
    for (const QAction* a : menu.actions())
        QVERIFY(a->text() != QStringLiteral("Open in &Edit Mode"));

    // Disable and enable again: the record and the list follow.
    const int merganser =
        engine.findShip(QStringLiteral("Merganser"), engine.registry().Ships.at(0).Author);
    selectOnly(list, QStringLiteral("Merganser"));
    window->Slot_Enabled();
    waitIdle(*window);
    QVERIFY(!engine.registry().Ships.at(merganser).Enabled);
    // A double click on the state column toggles it back.
    list->Slot_DoubleClicked(findItem(list, QStringLiteral("Merganser")), DSlipway::ColumnState);
    waitIdle(*window);
    QVERIFY(engine.registry().Ships.at(merganser).Enabled);

    // Uninstall keeps the slot as a placeholder and takes the item away.
    selectOnly(list, QStringLiteral("Goosander"));
    captionsAsked();
    window->Slot_Uninstall();
    waitIdle(*window);
    QCOMPARE(list->listView()->topLevelItemCount(), 1);
    QCOMPARE(engine.registry().Ships.size(), 2);
    int placeholders = 0;
    for (const ShipPackage& p : engine.registry().Ships)
        placeholders += p.Deleted == 1;
    QCOMPARE(placeholders, 1);
    QCOMPARE(captionsAsked(),
             (QStringList{QStringLiteral("Uninstall Ship"), QStringLiteral("Ship Uninstalled")}));
    // The box came on a bar at its end, not part-way.
    QCOMPARE(window->progressBar()->value(), window->progressBar()->maximum());

    // Closing with changes regenerates the mod first, then closes.
    QVERIFY(engine.modChanged());
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 20000);
    QVERIFY(modHoldsShipTable(engine));
    QVERIFY(!engine.modChanged());
}

void TestDrydockWindow::closeWaitsForPendingInstall()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();

    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Goosander.xsp"));
    QVERIFY(!window->close());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 20000);
    QCOMPARE(window->engine().registry().Ships.size(), 1);
    QVERIFY(modHoldsShipTable(window->engine()));
}

void TestDrydockWindow::baseModChoice()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    QVERIFY(
        QFile::copy(game + QStringLiteral("/01.cat"), game + QStringLiteral("/mods/Other.cat")));
    QVERIFY(
        QFile::copy(game + QStringLiteral("/01.dat"), game + QStringLiteral("/mods/Other.dat")));
    writeConfig(program, "<installer>\nInstallDir: " + game.toUtf8() + "\n</installer>\n");
    auto window = std::make_unique<DDrydock>(program);
    DSlipway* list = window->shipList();
    QComboBox* box = list->baseModBox();
    QCOMPARE(box->count(), 2);

    // Redo without a real base mod does nothing at all.
    list->Slot_RedoBaseMod();
    QVERIFY(!list->isBusy());

    list->Slot_SelectMod(QStringLiteral("Other"));
    QVERIFY(list->isBusy());
    waitIdle(*window);
    QCOMPARE(window->engine().currentBaseMod(), QStringLiteral("Other"));
    QCOMPARE(ListCatalog(window->engine().modCatalog()).size(),
             ListCatalog(game + QStringLiteral("/mods/Other.cat")).size());

    list->Slot_SelectMod(box->itemText(0));
    waitIdle(*window);
    QCOMPARE(box->currentIndex(), 0);
    QVERIFY(!InstallerEngine::isRealMod(window->engine().currentBaseMod()));
    QVERIFY(window->engine().modChanged());
}

void TestDrydockWindow::dropDecoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("installer");
    QTest::addColumn<QString>("full");
    QTest::newRow("escapes") << QStringLiteral("C:%5cShips%5cmy%20ship%5b2%5d.xsp")
                             << QStringLiteral("C:/Ships/my ship%5b2%5d.xsp")
                             << QStringLiteral("C:/Ships/my ship[2].xsp");
    QTest::newRow("plain") << QStringLiteral("/home/a/b.xsp\n/home/a/c.xsp")
                           << QStringLiteral("/home/a/b.xsp\n/home/a/c.xsp")
                           << QStringLiteral("/home/a/b.xsp\n/home/a/c.xsp");
}

void TestDrydockWindow::dropDecoding()
{
    QFETCH(QString, text);
    QFETCH(QString, installer);
    QFETCH(QString, full);
    QMimeData data;
    data.setText(text);
    QCOMPARE(WListView::droppedFiles(data, WListView::Decoding::Installer), installer);
    QCOMPARE(WListView::droppedFiles(data, WListView::Decoding::Full), full);

    // File URLs win over the text that file managers send beside them; blanks
    // and percent signs in names arrive as they are on disk.
    QMimeData urls;
    urls.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/my ship%20.xsp")),
                  QUrl(QStringLiteral("https://example.org/remote.xsp")),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/b.xsp"))});
    urls.setText(text);
    QCOMPARE(WListView::droppedFiles(urls, WListView::Decoding::Installer),
             QStringLiteral("/tmp/my ship%20.xsp\n/tmp/b.xsp"));
}

void TestDrydockWindow::screenshotViewer()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    DSlipway* list = window->shipList();
    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Merganser.xsp"));
    waitIdle(*window);
    captionsAsked();
    selectOnly(list, QStringLiteral("Merganser"));
    const ShipPackage* ship = list->recordOf(findItem(list, QStringLiteral("Merganser")));
    QVERIFY(ship && !ship->ScreenShot.isEmpty());

    // The picture shows in Drydock's own window, with the ship's name, scaled to fit.
    list->Slot_ViewScreenShot();
    QCOMPARE(captionsAsked(), QStringList());
    QPointer<QDialog> viewer = list->screenshotViewer();
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    auto* picture = viewer->findChild<QLabel*>(QStringLiteral("screenshotPicture"));
    QVERIFY(picture);
    QTRY_VERIFY(!picture->pixmap().isNull());
    viewer->resize(400, 360);
    QTRY_VERIFY(picture->pixmap().width() <= picture->width() &&
                picture->pixmap().height() <= picture->height());
    // 800 x 600 kept in proportion.
    const QSize shown = picture->pixmap().size();
    QVERIFY2(qAbs(shown.width() * 3 - shown.height() * 4) <= 8,
             qPrintable(QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height())));
    QVERIFY(m_opened.isEmpty());
    viewer->close();
    QTRY_VERIFY(viewer.isNull());

    // A screenshot name that is not a picture, or a picture that does not read,
    // is refused with a box that names the file.
    const int index = window->engine().findShip(ship->Name, ship->Author);
    window->engine().registry().Ships[index].ScreenShot = QStringLiteral("merganser.sh");
    writeFile(game + QStringLiteral("/Slipway/ShipPics/merganser.sh"), "#!/bin/sh\n");
    list->Slot_ViewScreenShot();
    QVERIFY(!list->screenshotViewer());
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Screenshot")});
    window->engine().registry().Ships[index].ScreenShot = QStringLiteral("broken.png");
    writeFile(game + QStringLiteral("/Slipway/ShipPics/broken.png"), "not a picture");
    list->Slot_ViewScreenShot();
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Screenshot")});
    QVERIFY(m_opened.isEmpty());

    // The ship update dialog opens once; a second request raises the same one.
    window->Slot_ShipUpdate();
    window->Slot_ShipUpdate();
    const QList<DShipUpdate*> dialogs = window->findChildren<DShipUpdate*>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs.first()->isVisible());
    dialogs.first()->close();
}

void TestDrydockWindow::packageFailuresAreExplained()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    const QString samples = game + QStringLiteral("/sample-ships/");
    // A package cut off half-way, as after a broken download.
    const QByteArray whole = readFile(samples + QStringLiteral("Merganser.xsp"));
    const QString cut = m_root->filePath(QStringLiteral("downloads/Cut Short.xsp"));
    writeFile(cut, whole.left(whole.size() / 2));
    // A file that only carries the extension.
    const QString fake = m_root->filePath(QStringLiteral("downloads/holiday.xsp"));
    writeFile(fake, "Dear all, the pictures from our trip...\n");
    const QString notes = m_root->filePath(QStringLiteral("downloads/notes.txt"));
    writeFile(notes, "not a ship");
    captionsAsked();

    // One package at a time: one box each, naming the file and the reason.
    struct Case
    {
        QString path;
        QString reason;
    };
    const QList<Case> cases = {{cut, QStringLiteral("damaged or cut short")},
                               {fake, QStringLiteral("not a ship package")},
                               {notes, QStringLiteral("not a ship package")}};
    for (const Case& c : cases) {
        window->Slot_ReadInputText(c.path);
        waitIdle(*window);
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().text.contains(QFileInfo(c.path).fileName()) &&
                     asked.first().text.contains(c.reason),
                 qPrintable(asked.first().text));
    }
    QCOMPARE(window->engine().registry().Ships.size(), 0);

    // Several in one drop, with a good one among them: the good one is installed
    // and the others are gathered into one box at the end.
    QVERIFY(dropOn(window->shipList()->listView(),
                   {QUrl::fromLocalFile(cut), QUrl::fromLocalFile(notes),
                    QUrl::fromLocalFile(samples + QStringLiteral("Goosander.xsp")),
                    QUrl::fromLocalFile(m_root->filePath(QStringLiteral("gone.xsp")))}));
    waitIdle(*window);
    const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
    QCOMPARE(asked.size(), 2);
    const QString gathered = asked.last().text;
    for (const QString& name :
         {QStringLiteral("Cut Short.xsp"), QStringLiteral("notes.txt"), QStringLiteral("gone.xsp")})
        QVERIFY2(gathered.contains(name), qPrintable(gathered));
    QVERIFY(!gathered.contains(QStringLiteral("Goosander")));
    QCOMPARE(window->engine().registry().Ships.size(), 1);

    // Second starts hand over paths: a file that is no package gets the same
    // answer, and a reinstall says that it replaced the installed copy.
    window->startListening(0);
    QVERIFY(window->server()->isListening());
    const auto remoteAnswer = [&](const QString& path, QString* answer) {
        sendRemote(*window, path);
        QList<QtPrompter::Asked> told;
        QTRY_VERIFY_WITH_TIMEOUT((told += QtPrompter::takeAsked(), !told.isEmpty()), 20000);
        waitIdle(*window);
        told += QtPrompter::takeAsked();
        QCOMPARE(told.size(), 1);
        *answer = told.first().caption + QLatin1Char('|') + told.first().text;
    };
    QString refused, replaced;
    remoteAnswer(notes, &refused);
    QVERIFY2(refused.startsWith(QStringLiteral("Package Error|")) &&
                 refused.contains(QStringLiteral("notes.txt")) &&
                 refused.contains(QStringLiteral("not a ship package")),
             qPrintable(refused));
    remoteAnswer(samples + QStringLiteral("Goosander.xsp"), &replaced);
    QVERIFY2(replaced.startsWith(QStringLiteral("Ship Installed|")) &&
                 replaced.contains(QStringLiteral("replaced")),
             qPrintable(replaced));
    QCOMPARE(window->engine().registry().Ships.size(), 1);
}

void TestDrydockWindow::uninstallAsksFirst()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    DSlipway* list = window->shipList();
    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Merganser.xsp"));
    waitIdle(*window);
    captionsAsked();
    const QByteArray registry = readFile(game + QStringLiteral("/Slipway/ships.dat"));
    QVERIFY(!registry.isEmpty());

    // "No" changes nothing at all.
    selectOnly(list, QStringLiteral("Merganser"));
    QtPrompter::setNextAnswers({1});
    auto* uninstall = window->findChild<QAction*>(QStringLiteral("actionUninstall"));
    QVERIFY(uninstall);
    uninstall->trigger();
    QVERIFY(!list->isBusy());
    QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked.first().text.contains(QStringLiteral("Merganser")));
    QVERIFY(!asked.first().checkBox.isEmpty());
    QCOMPARE(readFile(game + QStringLiteral("/Slipway/ships.dat")), registry);
    QCOMPARE(list->listView()->topLevelItemCount(), 1);
    QVERIFY(window->settings().confirmUninstall);

    // "Yes" with "do not ask again": uninstalled, and the choice is kept.
    QtPrompter::setNextAnswers({0});
    QtPrompter::setNextCheckStates({true});
    uninstall->trigger();
    waitIdle(*window);
    QCOMPARE(list->listView()->topLevelItemCount(), 0);
    QCOMPARE(captionsAsked(),
             (QStringList{QStringLiteral("Uninstall Ship"), QStringLiteral("Ship Uninstalled")}));
    QVERIFY(!window->settings().confirmUninstall);
    QVERIFY(readFile(program + QStringLiteral("/config.dat")).contains("\nNoUninstallConfirm\n"));

    // From then on it is not asked.
    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Goosander.xsp"));
    waitIdle(*window);
    captionsAsked();
    selectOnly(list, QStringLiteral("Goosander"));
    uninstall->trigger();
    waitIdle(*window);
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Ship Uninstalled")});
}

void TestDrydockWindow::oneWriterPerGame()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    writeConfig(program, "<installer>\nInstallDir: " + game.toUtf8() + "\n</installer>\n");
    auto first = std::make_unique<DDrydock>(program);
    QVERIFY(first->engine().writeRefusal().isEmpty());
    QCOMPARE(captionsAsked(), QStringList());

    // A second window on the same game says so at once, and installs nothing there.
    auto second = std::make_unique<DDrydock>(program);
    QVERIFY(!second->engine().writeRefusal().isEmpty());
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Game Directory In Use")});
    second->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Merganser.xsp"));
    waitIdle(*second);
    QCOMPARE(captionsAsked().size(), 1);
    QCOMPARE(second->engine().registry().Ships.size(), 0);

    // A port that stays taken: retried, then the user is told.
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    first->setListenRetry(3, 20);
    first->startListening(taken.serverPort());
    QVERIFY(!first->server()->isListening());
    QCOMPARE(captionsAsked(), QStringList());
    QStringList told;
    QTRY_VERIFY_WITH_TIMEOUT((told += captionsAsked(), !told.isEmpty()), 5000);
    QVERIFY2(!first->server()->isListening(), "listening after all");
    QCOMPARE(told, QStringList{QStringLiteral("Packages From the Desktop")});

    // A port that comes free while retrying is taken without a word.
    QTcpServer briefly;
    QVERIFY(briefly.listen(QHostAddress::LocalHost, 0));
    const quint16 port = briefly.serverPort();
    second->setListenRetry(50, 20);
    second->startListening(port);
    QVERIFY(!second->server()->isListening());
    briefly.close();
    QTRY_VERIFY_WITH_TIMEOUT(second->server()->isListening(), 5000);
    QCOMPARE(second->server()->serverPort(), port);
    QCOMPARE(captionsAsked(), QStringList());
}

void TestDrydockWindow::menusFollowTheProgramFolder()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    writeConfig(program, "<installer>\nInstallDir: " + game.toUtf8() + "\n</installer>\n");
    // The window's icon comes from the program folder when the desktop has none.
    QDir().mkpath(program + QStringLiteral("/Icons"));
    QFile::copy(QFileInfo(m_textsFile).absolutePath() + QStringLiteral("/Icons/drydock-256.png"),
                program + QStringLiteral("/Icons/drydock-256.png"));
    {
        auto window = std::make_unique<DDrydock>(program);
        // A build without mirrors: Update Program greyed out, and the tooltip says why.
        auto* update = window->findChild<QAction*>(QStringLiteral("actionUpdateProgram"));
        QVERIFY(update);
        QVERIFY(!update->isEnabled());
        window->Slot_ProgramUpdate();

        QVERIFY(window->findChildren<DUpdate*>().isEmpty());
        QVERIFY(!window->windowIcon().isNull());

        // The package dialog starts in the sample ships' folder, then in the last one.
        QCOMPARE(m_filesStarts, QStringList());
        m_filesAnswers = {{game + QStringLiteral("/sample-ships/Merganser.xsp")}};
        window->Slot_Install();
        waitIdle(*window);
        QCOMPARE(m_filesStarts, QStringList{game + QStringLiteral("/sample-ships")});
        QCOMPARE(window->settings().lastFolder, game + QStringLiteral("/sample-ships"));
        QVERIFY(readFile(program + QStringLiteral("/config.dat"))
                    .contains("\nLastFolder: " + game.toUtf8() + "/sample-ships\n"));
        const QString other = m_root->filePath(QStringLiteral("elsewhere"));
        QDir().mkpath(other);
        QFile::copy(game + QStringLiteral("/sample-ships/Goosander.xsp"),
                    other + QStringLiteral("/Goosander.xsp"));
        m_filesAnswers = {{other + QStringLiteral("/Goosander.xsp")}};
        window->Slot_Install();
        waitIdle(*window);
        m_filesAnswers = {{}};
        window->Slot_Install();
        QCOMPARE(m_filesStarts.last(), other);
        QCOMPARE(window->engine().registry().Ships.size(), 2);
    }

    // Mirrors in the settings and the authoring program beside Drydock.
    QByteArray config = readFile(program + QStringLiteral("/config.dat"));
    config.replace("</installer>",
                   "UpdateMirror: http://127.0.0.1:1/drydock/shipupdate.dat\n</installer>");
    writeConfig(program, config);
    writeFile(program + QStringLiteral("/hullwright"), "#!/bin/sh\n");
    QFile::setPermissions(program + QStringLiteral("/hullwright"),
                          QFile::permissions(program + QStringLiteral("/hullwright")) |
                              QFile::ExeOwner);
    auto window = std::make_unique<DDrydock>(program);
    auto* update = window->findChild<QAction*>(QStringLiteral("actionUpdateProgram"));
    QVERIFY(update->isEnabled());
    QCOMPARE(window->programMirrors(),
             QStringList{QStringLiteral("http://127.0.0.1:1/drydock/shipupdate.dat")});
    DSlipway* list = window->shipList();
    QMenu menu;
    list->fillContextMenu(menu, findItem(list, QStringLiteral("Merganser")));
    QStringList entries;
    for (const QAction* a : menu.actions())
        entries << a->text();
    QVERIFY(entries.contains(QStringLiteral("Open in &Edit Mode")));
    // The mirror lines survive the window's own writes.
    QVERIFY(readFile(program + QStringLiteral("/config.dat"))
                .contains("\nUpdateMirror: http://127.0.0.1:1/drydock/shipupdate.dat\n"));
}

QTEST_MAIN(TestDrydockWindow)
#include "tst_drydockwindow.moc"
