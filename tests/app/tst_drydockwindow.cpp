// The installer window driven as a user would: through its slots, menus and
// dialogs, on a sample game in a temporary folder. Message boxes and file
// dialogs are answered through their test hooks.
#include "archivefile.h"
#include "csocket.h"
#include "dconfig.h"
#include "dshipupdate.h"
#include "dupdate.h"
#include "gamesnapshot.h"
#include "installerengine.h"
#include "samplegame.h"
#include "uiseams_qt.h"
#include "windowtexts.h"

#include <QDialog>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <QtTest>

#include <memory>

namespace {

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

QStringList listedDirectories(DDrydock& window)
{
    QStringList items;
    for (int i = 0; i < window.directoryBox()->count(); ++i)
        items << window.directoryBox()->itemText(i);
    return items;
}

QStringList contextMenu(DSlipway* list, const QString& name)
{
    QMenu menu;
    list->fillContextMenu(menu, findItem(list, name));
    QStringList entries;
    for (const QAction* a : menu.actions())
        entries << a->text();
    return entries;
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

    void construction_data();
    void construction();
    void directoryList();
    void settingsDialog();
    void languages();
    void installedShipsAndClose();
    void baseModChoice();
    void dropDecoding_data();
    void dropDecoding();
    void packageFailuresAreExplained();
    void oneWriterPerGame();
    void menusFollowTheProgramFolder();

private:
    QString makeProgramDir(const QString& name)
    {
        return makeProgramFolder(m_root->filePath(name));
    }
    // A copy of the sample game with its packages, made once: making one is slow.
    QString makeGame(const QString& name);
    void writeConfig(const QString& programDir, const QByteArray& text)
    {
        QVERIFY(writeBytes(programDir + QStringLiteral("/config.dat"), text));
    }
    // A window on a fresh program folder whose settings know a fresh game.
    std::unique_ptr<DDrydock> openOnGame(QString* program, QString* game);

    QTemporaryDir m_template;
    std::unique_ptr<QTemporaryDir> m_root;
    QStringList m_directoryAnswers;
    int m_directoryAsked = 0;
    QList<QUrl> m_opened;
    QStringList m_filesStarts;         // where each package dialog started
    QList<QStringList> m_filesAnswers; // what the package dialogs answer
};

void TestDrydockWindow::initTestCase()
{
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
        return true;
    };
}

void TestDrydockWindow::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_directoryAnswers.clear();
    m_directoryAsked = 0;
    m_opened.clear();
    m_filesStarts.clear();
    m_filesAnswers.clear();
    QtPrompter::setNextAnswers({});
    QtPrompter::setNextCheckStates({});
    QtPrompter::takeAsked();
}

QString TestDrydockWindow::makeGame(const QString& name)
{
    const QString dir = m_root->filePath(name);
    if (!GameSnapshot::copyTree(m_template.path(), dir))
        qWarning("cannot copy the sample game to %s", qPrintable(dir));
    return dir;
}

std::unique_ptr<DDrydock> TestDrydockWindow::openOnGame(QString* program, QString* game)
{
    *program = makeProgramDir(QStringLiteral("program"));
    *game = makeGame(QStringLiteral("game"));
    writeConfig(*program, installerConfig(*game));
    return std::make_unique<DDrydock>(*program);
}

void TestDrydockWindow::construction_data()
{
    QTest::addColumn<QString>("known");      // the folder config.dat names, "" for none
    QTest::addColumn<bool>("registered");    // the registry names "game"
    QTest::addColumn<QString>("answer");     // the folder question's answer, "" cancels
    QTest::addColumn<QStringList>("listed"); // the directory box afterwards
    QTest::addColumn<QStringList>("captions");

    // A first start says what the folder question is for before it asks.
    const QString choose = QStringLiteral("Choose the Game Directory");
    QTest::newRow("game chosen") << "" << false << "game" << QStringList{"game"}
                                 << QStringList{choose};
    QTest::newRow("not a game") << "" << false << "empty" << QStringList()
                                << QStringList{choose, "Not a Game Directory"};
    QTest::newRow("cancelled") << "" << false << "" << QStringList() << QStringList{choose};
    QTest::newRow("found through the registry")
        << "" << true << "" << QStringList{"game"} << QStringList();
    QTest::newRow("registry behind the settings")
        << "other" << true << "" << QStringList{"other", "game"} << QStringList();
}

void TestDrydockWindow::construction()
{
    QFETCH(QString, known);
    QFETCH(bool, registered);
    QFETCH(QString, answer);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, captions);
    const QString program = makeProgramDir(QStringLiteral("program"));
    QVERIFY(writeBytes(program + QStringLiteral("/Scripts/hw.test.xml"), "<script/>"));
    const QString game = makeGame(QStringLiteral("game"));
    QDir().mkpath(m_root->filePath(QStringLiteral("empty")));
    if (!known.isEmpty())
        writeConfig(program, installerConfig(makeGame(known)));
    if (registered)
        CreateIniRegistry(program + QStringLiteral("/registry.ini"))
            ->writeString(QStringLiteral("/Starfall"), QStringLiteral("/Vega Concord/INSTALL_DIR"),
                          QString(game).replace(QLatin1Char('/'), QLatin1Char('\\')));
    if (!answer.isEmpty())
        m_directoryAnswers << m_root->filePath(answer);
    for (QString& dir : listed)
        dir = m_root->filePath(dir);

    auto window = std::make_unique<DDrydock>(program);
    QCOMPARE(m_directoryAsked, captions.isEmpty() ? 0 : 1);
    QCOMPARE(captionsAsked(), captions);
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());
    QCOMPARE(listedDirectories(*window), listed);
    QCOMPARE(window->engine().gameDir(), listed.value(0));
    const QByteArray config = readBytes(program + QStringLiteral("/config.dat"));
    if (!listed.isEmpty()) {
        QVERIFY(config.contains("InstallDir: " + listed.first().toUtf8() + '\n'));
        // The directory chosen or found on a first start gets the program's scripts.
        if (known.isEmpty())
            QCOMPARE(readBytes(game + QStringLiteral("/Scripts/hw.test.xml")),
                     QByteArray("<script/>"));
        return;
    }
    QVERIFY(!config.contains("InstallDir:"));
    // Without a game directory a path from outside is refused.
    window->Slot_ReadInputText(game + QStringLiteral("/sample-ships/Merganser.xsp\n"));
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("No Game Directory")});
    QVERIFY(window->engine().queue().isEmpty());
    QVERIFY(!window->shipList()->isBusy());
}

void TestDrydockWindow::directoryList()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    QStringList games;
    for (int i = 1; i <= 3; ++i) {
        games << m_root->filePath(QStringLiteral("games/g%1").arg(i));
        QVERIFY(writeBytes(games.last() + QStringLiteral("/vega.exe"), QByteArray()));
    }
    // Chosen again (typed with backslashes), a listed directory moves up; a
    // folder without the game is refused and changes nothing.
    m_directoryAnswers = games;
    m_directoryAnswers << QString(games.at(0)).replace(QLatin1Char('/'), QLatin1Char('\\'))
                       << m_root->filePath(QStringLiteral("games"));
    for (int i = 0; i < 5; ++i)
        window->Slot_GetDirectory();
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Not a Game Directory")});
    QCOMPARE(listedDirectories(*window),
             (QStringList{games.at(0), games.at(2), games.at(1), game}));
    QCOMPARE(window->engine().gameDir(), games.at(0));

    // The box switches directories 100 ms later; the list follows.
    window->Slot_ComboDir(games.at(1));
    QVERIFY(window->shipList()->isBusy());
    waitIdle(*window);
    const QStringList listed = {games.at(1), games.at(0), games.at(2), game};
    QCOMPARE(listedDirectories(*window), listed);
    QCOMPARE(window->engine().gameDir(), games.at(1));
    QVERIFY(!window->engine().modChanged());

    QStringList written;
    for (const QByteArray& line : readBytes(program + QStringLiteral("/config.dat")).split('\n'))
        if (line.startsWith("InstallDir: "))
            written << QString::fromUtf8(line.mid(12));
    QCOMPARE(written, listed);
}

void TestDrydockWindow::settingsDialog()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    const QByteArray creator =
        "<creator>\nVegaDir: " + game.toUtf8() + "\nDefAuthor: Someone Else\nPrefix\n</creator>\n";
    writeConfig(program, creator + installerConfig(game));
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
    // Our blocks first, the authoring program's after them as they were.
    const QByteArray ours =
        "<common>\nLanguage: English\n</common>\n<installer>\nInstallDir: " + game.toUtf8() +
        "\nText_Option: 2\nText_Select: 0\nText_Custom: 49\nDebugLog\n"
        "BaseType: 1\n</installer>\n";
    QCOMPARE(readBytes(configPath), ours + creator);
    QVERIFY(window->engine().modChanged());

    // Cancel leaves everything as it was.
    runDialog([&](DConfig* d) { click(d, "debugLog"); }, false);
    QCOMPARE(readBytes(configPath), ours + creator);

    // Switching the log off still writes that it was switched off.
    runDialog([&](DConfig* d) { click(d, "debugLog"); }, true);
    QCOMPARE(readBytes(configPath), QByteArray(ours).replace("DebugLog\n", "") + creator);
    QVERIFY(readBytes(logPath).trimmed().endsWith("disabled"));
}

void TestDrydockWindow::languages()
{
    // A first start speaks the system's language; the settings switch it, and the
    // window, its menus and the settings dialog follow without a placeholder.
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    writeConfig(program, installerConfig(game));
    const QString configPath = program + QStringLiteral("/config.dat");
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Austria));
    auto window = std::make_unique<DDrydock>(program);
    QLocale::setDefault(before);
    auto* menuFile = window->findChild<QMenu*>(QStringLiteral("menuFile"));
    QVERIFY(menuFile);
    QCOMPARE(menuFile->title(), QStringLiteral("&Datei"));
    QVERIFY(window->windowTitle().startsWith(QStringLiteral("Drydock - Schiffsinstallation V")));
    QVERIFY(readBytes(configPath).startsWith("<common>\nLanguage: Deutsch\n</common>\n"));
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());

    const QString french = QString::fromUtf8("Fran\xc3\xa7" "ais");
    QStringList offered;
    QTimer::singleShot(0, window.get(), [&] {
        auto* dialog = window->findChild<DConfig*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(placeholdersIn(visibleTexts(dialog)), QStringList());
        auto* box = dialog->findChild<QComboBox*>(QStringLiteral("languageBox"));
        QVERIFY(box);
        for (int i = 0; i < box->count(); ++i)
            offered << box->itemText(i);
        box->setCurrentIndex(box->findData(french));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("doneButton")),
                          Qt::LeftButton);
    });
    window->Slot_Config();
    QCOMPARE(offered, (QStringList{QStringLiteral("English - von Hullwright project"),
                                   QStringLiteral("Deutsch - von Hullwright project"),
                                   french + QStringLiteral(" - von Hullwright project")}));
    QCOMPARE(menuFile->title(), QStringLiteral("&Fichier"));
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());
    QVERIFY(readBytes(configPath).startsWith("<common>\nLanguage: " + french.toUtf8() + "\n"));

    // The choice outlives the system's language.
    window.reset();
    QLocale::setDefault(QLocale(QLocale::German));
    window = std::make_unique<DDrydock>(program);
    QLocale::setDefault(before);
    QCOMPARE(window->findChild<QMenu*>(QStringLiteral("menuFile"))->title(),
             QStringLiteral("&Fichier"));
}

void TestDrydockWindow::installedShipsAndClose()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    DSlipway* list = window->shipList();
    InstallerEngine& engine = window->engine();
    const QString packages = game + QStringLiteral("/sample-ships/");
    const auto listed = [list] { return list->listView()->topLevelItemCount(); };

    // The second path arrives while the first waits for its start: both stay
    // queued, the queue starts once, and the text file is reported at its end.
    window->Slot_ReadInputText(packages + QStringLiteral("Merganser.xsp\r\n"));
    window->Slot_ReadInputText(packages + QStringLiteral("Goosander.xsp"));
    window->Slot_ReadInputText(QStringLiteral("\n"));
    window->Slot_ReadInputText(packages + QStringLiteral("notes.txt"));
    QCOMPARE(engine.queue().size(), 2);
    waitIdle(*window);
    QCOMPARE(listed(), 2);
    QCOMPARE(captionsAsked(),
             (QStringList{QStringLiteral("Ship Installed"), QStringLiteral("Ship Installed"),
                          QStringLiteral("Package Error")}));
    QVERIFY(window->progressBar()->isHidden());
    QCOMPARE(placeholdersIn(visibleTexts(window.get())), QStringList());
    const int merganser =
        engine.findShip(QStringLiteral("Merganser"), engine.registry().Ships.at(0).Author);
    selectOnly(list, QStringLiteral("Merganser"));

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
    viewer->close();
    QTRY_VERIFY(viewer.isNull());

    // A screenshot name that is not a picture, or a picture that does not read,
    // is refused with a box.
    for (const QString& name : {QStringLiteral("merganser.sh"), QStringLiteral("broken.png")}) {
        engine.registry().Ships[merganser].ScreenShot = name;
        QVERIFY(writeBytes(game + QStringLiteral("/Slipway/ShipPics/") + name, "#!/bin/sh\n"));
        list->Slot_ViewScreenShot();
        QVERIFY(!list->screenshotViewer());
        QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Screenshot")});
    }
    QVERIFY(m_opened.isEmpty());

    // The ship update dialog opens once; a second request raises the same one.
    window->Slot_ShipUpdate();
    window->Slot_ShipUpdate();
    const QList<DShipUpdate*> dialogs = window->findChildren<DShipUpdate*>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs.first()->isVisible());
    dialogs.first()->close();

    // Open in Edit Mode: with no authoring program beside this one nor on the
    // PATH, a box says how; with one beside, it starts on the ship.
    QVERIFY(contextMenu(list, QStringLiteral("Merganser")).contains("Open in &Edit Mode"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(program + QStringLiteral("/nothing-here")));
    list->listView()->setCurrentItem(findItem(list, QStringLiteral("Merganser")));
    QtPrompter::takeAsked();
    list->Slot_EditMode();
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Edit Mode")});
    const QString started = program + QStringLiteral("/started.txt");
    QVERIFY(writeBytes(program + QStringLiteral("/hullwright"),
                       "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + QFile::encodeName(started) + "\"\n"));
    QVERIFY(QFile::setPermissions(program + QStringLiteral("/hullwright"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    list->Slot_EditMode();
    qputenv("PATH", path);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(started).size() > 0, 10000);
    QCOMPARE(QString::fromLocal8Bit(readBytes(started)),
             QStringLiteral("-e|") + game + QStringLiteral("/Merganser~") +
                 engine.registry().Ships.at(merganser).Author + QLatin1Char('|'));
    QVERIFY(captionsAsked().isEmpty());
    QFile::remove(program + QStringLiteral("/hullwright"));

    // Disabled from the menu after a question that names what saved games lose,
    // enabled again by a double click on the state column without one.
    window->Slot_Enabled();
    waitIdle(*window);
    QVERIFY(!engine.registry().Ships.at(merganser).Enabled);
    {
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().caption, QStringLiteral("Disable Ship"));
        QVERIFY(asked.first().text.contains(QStringLiteral("saved games")));
        QVERIFY(!asked.first().checkBox.isEmpty());
    }
    list->Slot_DoubleClicked(findItem(list, QStringLiteral("Merganser")), DSlipway::ColumnState);
    waitIdle(*window);
    QVERIFY(engine.registry().Ships.at(merganser).Enabled);

    // Uninstall asks first, naming the ship; "No" changes nothing at all.
    const QByteArray registry = readBytes(game + QStringLiteral("/Slipway/ships.dat"));
    selectOnly(list, QStringLiteral("Goosander"));
    QtPrompter::setNextAnswers({1});
    auto* uninstall = window->findChild<QAction*>(QStringLiteral("actionUninstall"));
    uninstall->trigger();
    QVERIFY(!list->isBusy());
    const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked.first().text.contains(QStringLiteral("Goosander")));
    QVERIFY(!asked.first().checkBox.isEmpty());
    QCOMPARE(readBytes(game + QStringLiteral("/Slipway/ships.dat")), registry);
    QCOMPARE(listed(), 2);

    // "Yes" with "do not ask again": uninstalled, and the choice is kept.
    QtPrompter::setNextAnswers({0});
    QtPrompter::setNextCheckStates({true});
    uninstall->trigger();
    waitIdle(*window);
    QCOMPARE(listed(), 1);
    QCOMPARE(captionsAsked(),
             (QStringList{QStringLiteral("Uninstall Ship"), QStringLiteral("Ship Uninstalled")}));
    // The box came on a bar at its end, not part-way.
    QCOMPARE(window->progressBar()->value(), window->progressBar()->maximum());
    QVERIFY(readBytes(program + QStringLiteral("/config.dat")).contains("\nNoUninstallConfirm\n"));
    selectOnly(list, QStringLiteral("Merganser"));
    uninstall->trigger();
    waitIdle(*window);
    QCOMPARE(captionsAsked(), QStringList{QStringLiteral("Ship Uninstalled")});
    QCOMPARE(listed(), 0);

    // Closing while a package waits, with the mod up to date: the package alone
    // keeps the window open until it is installed and the mod regenerated again.
    QVERIFY(engine.updateMod());
    engine.setModChanged(false);
    window->Slot_ReadInputText(packages + QStringLiteral("Goosander.xsp"));
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 20000);
    QCOMPARE(listed(), 1);
    QVERIFY(modHoldsShipTable(engine));
    QVERIFY(!engine.modChanged());
}

void TestDrydockWindow::baseModChoice()
{
    const QString program = makeProgramDir(QStringLiteral("program"));
    const QString game = makeGame(QStringLiteral("game"));
    for (const char* suffix : {".cat", ".dat"})
        QVERIFY(QFile::copy(game + QStringLiteral("/01") + suffix,
                            game + QStringLiteral("/mods/Other") + suffix));
    writeConfig(program, installerConfig(game));
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

void TestDrydockWindow::packageFailuresAreExplained()
{
    QString program, game;
    auto window = openOnGame(&program, &game);
    window->show();
    const QString samples = game + QStringLiteral("/sample-ships/");
    // A package cut off half-way as after a broken download, a file that only
    // carries the extension, and a text file.
    const QByteArray whole = readBytes(samples + QStringLiteral("Merganser.xsp"));
    const QString cut = m_root->filePath(QStringLiteral("downloads/Cut Short.xsp"));
    const QString fake = m_root->filePath(QStringLiteral("downloads/holiday.xsp"));
    const QString notes = m_root->filePath(QStringLiteral("downloads/notes.txt"));
    QVERIFY(writeBytes(cut, whole.left(whole.size() / 2)));
    QVERIFY(writeBytes(fake, "Dear all, the pictures from our trip...\n"));
    QVERIFY(writeBytes(notes, "not a ship"));

    // One package at a time: one box each, naming the file and the reason.
    const QList<QPair<QString, QString>> cases = {{cut, QStringLiteral("damaged or cut short")},
                                                  {fake, QStringLiteral("not a ship package")},
                                                  {notes, QStringLiteral("not a ship package")}};
    for (const auto& [path, reason] : cases) {
        window->Slot_ReadInputText(path);
        waitIdle(*window);
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().text.contains(QFileInfo(path).fileName()) &&
                     asked.first().text.contains(reason),
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
    QCOMPARE(asked.size(), 3);
    // A missing package has its own box, as a package made for a newer installer does.
    QCOMPARE(asked.at(1).caption, QStringLiteral("Package Not Found"));
    QVERIFY2(asked.at(1).text.endsWith(QStringLiteral("gone.xsp")), qPrintable(asked.at(1).text));
    const QString gathered = asked.last().text;
    for (const char* name : {"Cut Short.xsp", "notes.txt"})
        QVERIFY2(gathered.contains(QLatin1String(name)), qPrintable(gathered));
    QVERIFY(!gathered.contains(QStringLiteral("Goosander")));
    QCOMPARE(window->engine().registry().Ships.size(), 1);

    // Second starts hand over paths: a file that is no package gets the same
    // answer, and a reinstall says that it replaced the installed copy.
    window->startListening(0);
    QVERIFY(window->server()->isListening());
    const auto remoteAnswer = [&](const QString& path, const QString& caption,
                                  const QString& says) {
        sendRemote(*window, path);
        QList<QtPrompter::Asked> told;
        QTRY_VERIFY_WITH_TIMEOUT((told += QtPrompter::takeAsked(), !told.isEmpty()), 20000);
        waitIdle(*window);
        told += QtPrompter::takeAsked();
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().caption, caption);
        QVERIFY2(told.first().text.contains(says), qPrintable(told.first().text));
    };
    remoteAnswer(notes, QStringLiteral("Package Error"), QStringLiteral("not a ship package"));
    remoteAnswer(samples + QStringLiteral("Goosander.xsp"), QStringLiteral("Ship Installed"),
                 QStringLiteral("replaced"));
    QCOMPARE(window->engine().registry().Ships.size(), 1);
}

void TestDrydockWindow::oneWriterPerGame()
{
    QString program, game;
    auto first = openOnGame(&program, &game);
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
    writeConfig(program, installerConfig(game));
    // The window's icon comes from the program folder when the desktop has none.
    QDir().mkpath(program + QStringLiteral("/Icons"));
    QFile::copy(programFiles() + QStringLiteral("/Icons/drydock-256.png"),
                program + QStringLiteral("/Icons/drydock-256.png"));
    const QString samples = game + QStringLiteral("/sample-ships");
    const QString other = m_root->filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(other);
    QFile::copy(samples + QStringLiteral("/Goosander.xsp"),
                other + QStringLiteral("/Goosander.xsp"));
    {
        auto window = std::make_unique<DDrydock>(program);
        QVERIFY(!window->windowIcon().isNull());
        // A build without mirrors: Update Program opens nothing.
        window->Slot_ProgramUpdate();
        QVERIFY(window->findChildren<DUpdate*>().isEmpty());

        // The package dialog starts in the sample ships' folder, then in the last one.
        m_filesAnswers = {{samples + QStringLiteral("/Merganser.xsp")},
                          {other + QStringLiteral("/Goosander.xsp")},
                          {}};
        for (int i = 0; i < 3; ++i) {
            window->Slot_Install();
            waitIdle(*window);
        }
        QCOMPARE(m_filesStarts, (QStringList{samples, samples, other}));
        QVERIFY(readBytes(program + QStringLiteral("/config.dat"))
                    .contains("\nLastFolder: " + other.toUtf8() + "\n"));
        QCOMPARE(window->engine().registry().Ships.size(), 2);
    }

    // Mirrors in the settings and the authoring program beside Drydock.
    const QByteArray mirror = "UpdateMirror: http://127.0.0.1:1/drydock/shipupdate.dat\n";
    writeConfig(program, readBytes(program + QStringLiteral("/config.dat"))
                             .replace("</installer>", mirror + "</installer>"));
    QVERIFY(writeBytes(program + QStringLiteral("/hullwright"), "#!/bin/sh\n"));
    QFile::setPermissions(program + QStringLiteral("/hullwright"),
                          QFile::permissions(program + QStringLiteral("/hullwright")) |
                              QFile::ExeOwner);
    auto window = std::make_unique<DDrydock>(program);
    QVERIFY(window->findChild<QAction*>(QStringLiteral("actionUpdateProgram"))->isEnabled());
    QCOMPARE(window->programMirrors(), QStringList{QString::fromUtf8(mirror.mid(14).trimmed())});
    QVERIFY(contextMenu(window->shipList(), QStringLiteral("Merganser"))
                .contains(QStringLiteral("Open in &Edit Mode")));
    // The mirror lines survive the window's own writes.
    QVERIFY(readBytes(program + QStringLiteral("/config.dat")).contains("\n" + mirror));
}

QTEST_MAIN(TestDrydockWindow)
#include "tst_drydockwindow.moc"
