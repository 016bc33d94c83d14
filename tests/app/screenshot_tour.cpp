// A tour of Drydock's windows and message boxes for looking at them, not a test:
// it drives the real window on a sample game in a temporary folder, with real
// message boxes, and saves a picture of each into the folder it is given.
//
//   xvfb-run -s "-screen 0 1280x900x24" build/dev/tests/screenshot_tour OUTDIR [LANGUAGE]
//
// LANGUAGE is a language name of hw_languages.xml (default: the first start's).
//
// Every modal box is photographed and then answered by a timer, so the tour
// runs to its end on its own.
#include "../engine/updateserver.h"
#include "archivefile.h"
#include "dshipupdate.h"
#include "dupdate.h"
#include "installerengine.h"
#include "installertexts.h"
#include "samplegame.h"
#include "uiseams_qt.h"
#include "windowtexts.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString g_out;
QStringList g_saved;

void pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget* widget, const QString& name)
{
    pause(250);
    const QString file = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (widget->grab().save(file))
        g_saved << file;
}

// Photographs the next modal box (or popup menu) that `action` opens, then
// answers it: the button whose text contains `answer`, else the box's escape.
void shootModal(const QString& name, const std::function<void()>& action,
                const QString& answer = QString(), const std::function<void(QWidget*)>& before = {})
{
    auto* timer = new QTimer;
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [timer, name, answer, before] {
        QWidget* box = QApplication::activePopupWidget();
        if (!box)
            box = QApplication::activeModalWidget();
        if (!box)
            return;
        timer->stop();
        if (before)
            before(box);
        save(box, name);
        if (auto* menu = qobject_cast<QMenu*>(box)) {
            menu->close();
        } else if (auto* message = qobject_cast<QMessageBox*>(box)) {
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* b : message->buttons())
                if (!answer.isEmpty() && b->text().remove(QLatin1Char('&')).contains(answer))
                    chosen = b;
            if (!chosen && !message->buttons().isEmpty())
                chosen = message->buttons().constLast();
            if (chosen)
                chosen->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(box)) {
            dialog->reject();
        }
        timer->deleteLater();
    });
    timer->start();
    action();
    pause(150);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshot_tour OUTDIR [LANGUAGE]\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(g_out);
    QTemporaryDir root;
    const QString program = makeProgramFolder(root.filePath(QStringLiteral("program")));
    const QString game = root.filePath(QStringLiteral("Vega Concord"));
    QDir().mkpath(program + QStringLiteral("/Icons"));
    for (const QString& icon :
         QDir(programFiles() + QStringLiteral("/Icons")).entryList(QDir::Files))
        QFile::copy(programFiles() + QStringLiteral("/Icons/") + icon,
                    program + QStringLiteral("/Icons/") + icon);
    SampleGame::MakeSampleGame(game);
    SampleGame::MakeSamplePackages(game + QStringLiteral("/sample-ships"));
    const QString samples = game + QStringLiteral("/sample-ships/");
    const QString cut = root.filePath(QStringLiteral("Merganser (1).xsp"));
    const QString notes = root.filePath(QStringLiteral("readme.txt"));
    writeBytes(cut, readBytes(samples + QStringLiteral("Merganser.xsp")).left(40000));
    writeBytes(notes, "notes\n");
    if (argc > 2)
        writeBytes(program + QStringLiteral("/config.dat"),
                   "<common>\nLanguage: " + QByteArray(argv[2]) + "\n</common>\n");

    // First start: the explanation before the folder question.
    FileDialogs::directoryHook = [game](const QString&, const QString&) { return game; };
    std::unique_ptr<DDrydock> window;
    shootModal(QStringLiteral("01-first-start"),
               [&] { window = std::make_unique<DDrydock>(program); });
    window->resize(760, 460);
    window->show();
    pause(300);

    // Packages: one installed, one cut short, and a text file in the same drop.
    auto installed = [&] {
        window->shipList()->queuePackages({samples + QStringLiteral("Merganser.xsp")});
        pause(600);
    };
    shootModal(QStringLiteral("02-installed"), installed);
    auto failures = [&] {
        window->shipList()->queuePackages({cut, notes, samples + QStringLiteral("Goosander.xsp")});
        pause(1500);
    };
    // The success box of Goosander comes first, then the gathered failures.
    shootModal(QStringLiteral("03-goosander-installed"), failures, QString(), [&](QWidget*) {
        QTimer::singleShot(300, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                save(box, QStringLiteral("04-gathered-failures"));
                if (auto* m = qobject_cast<QMessageBox*>(box))
                    m->buttons().constFirst()->click();
            }
        });
    });
    pause(800);
    shootModal(QStringLiteral("05-one-failure"), [&] {
        window->Slot_ReadInputText(cut);
        pause(800);
    });
    shootModal(QStringLiteral("06-reinstalled"), [&] {
        window->Slot_ReadInputText(samples + QStringLiteral("Goosander.xsp"));
        pause(800);
    });
    save(window.get(), QStringLiteral("07-main-window"));

    // The context menu: no edit mode without Hullwright beside Drydock.
    DSlipway* list = window->shipList();
    QTreeWidget* view = list->listView();
    QTreeWidgetItem* merganser = findItem(list, QStringLiteral("Merganser"));
    view->setCurrentItem(merganser);
    view->clearSelection();
    merganser->setSelected(true);
    shootModal(QStringLiteral("08-context-menu"), [&] {
        QMenu menu(window.get());
        list->fillContextMenu(menu, merganser);
        menu.exec(view->viewport()->mapToGlobal(view->visualItemRect(merganser).center()));
    });
    shootModal(QStringLiteral("09-update-menu"), [&] {
        auto* menu = window->findChild<QMenu*>(QStringLiteral("menuUpdate"));
        menu->exec(window->mapToGlobal(QPoint(120, 30)));
    });

    // Edit names the change undo would take back; File > History lists them all.
    shootModal(QStringLiteral("09b-edit-menu"), [&] {
        auto* menu = window->findChild<QMenu*>(QStringLiteral("menuEdit"));
        menu->exec(window->mapToGlobal(QPoint(60, 30)));
    });
    shootModal(QStringLiteral("09c-history"), [&] { window->Slot_History(); });

    // The screenshot viewer.
    list->Slot_ViewScreenShot();
    pause(400);
    if (QDialog* viewer = list->screenshotViewer()) {
        save(viewer, QStringLiteral("10-screenshot-viewer"));
        viewer->resize(420, 380);
        save(viewer, QStringLiteral("11-screenshot-viewer-small"));
        viewer->close();
    }

    // Uninstall asks first; so does disabling, which costs ships in saved games.
    shootModal(
        QStringLiteral("12-uninstall-question"), [&] { list->Slot_Uninstall(); },
        PlainUiText(window->texts().own(InstallerText::No)));
    shootModal(
        QStringLiteral("12b-disable-question"), [&] { list->Slot_Enabled(); },
        PlainUiText(window->texts().own(InstallerText::No)));
    view->clearSelection();
    shootModal(QStringLiteral("12c-uninstall-nothing-selected"),
               [&] { list->Slot_Uninstall(); });
    merganser->setSelected(true);
    shootModal(QStringLiteral("12d-package-not-found"), [&] {
        window->Slot_ReadInputText(root.filePath(QStringLiteral("Mergansr.xsp")));
        pause(800);
    });
    shootModal(QStringLiteral("13-settings"), [&] { window->Slot_Config(); });

    // A second window on the same game, and a port that stays taken.
    shootModal(QStringLiteral("14-game-in-use"), [&] {
        DDrydock second(program);
        pause(100);
    });
    QTcpServer taken;
    taken.listen(QHostAddress::LocalHost, 0);
    window->setListenRetry(3, 100);
    shootModal(QStringLiteral("15-no-listen"), [&] {
        window->startListening(taken.serverPort());
        pause(1500);
    });

    // Update Ships: the sample ships' addresses do not resolve here.
    window->Slot_ShipUpdate();
    pause(300);
    if (auto* ships = window->findChild<DShipUpdate*>()) {
        ships->checker().setTimeout(4);
        ships->Slot_CheckNow();
        QElapsedTimer clock;
        clock.start();
        while (ships->isWorking() && clock.elapsed() < 30000)
            pause(100);
        save(ships, QStringLiteral("16-update-ships-failed"));
        ships->close();
    }

    // Update Program: a mirror that refuses, then one that offers a new version.
    {
        UpdateServer server;
        server.answer(QStringLiteral("/u/shipupdate.dat"),
                      "version: 1.95\nfile: drydock-1.95.tar.gz\n");
        server.answer(QStringLiteral("/u/drydock-1.95.tar.gz"), QByteArray(20000, 'x'));
        DUpdate::Context context;
        context.texts = &window->texts();
        context.programDir = program;
        QtPrompter prompter(window.get());
        context.prompter = &prompter;
        context.mirrors = {QStringLiteral("http://127.0.0.1:1/drydock/shipupdate.dat")};
        // The failure's box closes the dialog when it is answered.
        QPointer<DUpdate> failing;
        shootModal(QStringLiteral("17-update-program-failed"), [&] {
            failing = new DUpdate(context, window.get());
            failing->show();
            QElapsedTimer clock;
            clock.start();
            while (failing && !failing->isFinished() && clock.elapsed() < 10000)
                pause(100);
        });
        QElapsedTimer clock;

        context.mirrors = {server.url(QStringLiteral("/u/shipupdate.dat"))};
        DUpdate* saving = nullptr;
        shootModal(
            QStringLiteral("18-update-program-question"),
            [&] {
                saving = new DUpdate(context, window.get());
                saving->show();
                pause(2000);
            },
            PlainUiText(window->texts().own(InstallerText::Yes)));
        clock.restart();
        while (saving && !saving->isFinished() && clock.elapsed() < 10000)
            pause(100);
        if (saving) {
            save(saving, QStringLiteral("19-update-program-saved"));
            saving->close();
        }
    }

    // Undo and redo are entries of the history too.
    if (auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo")); undo && undo->isEnabled()) {
        QTimer::singleShot(3000, [] { // a refusal's box, should there be one
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->buttons().constFirst()->click();
        });
        undo->trigger();
        pause(300);
        if (auto* redo = window->findChild<QAction*>(QStringLiteral("actionRedo")); redo && redo->isEnabled())
            redo->trigger();
        pause(300);
        shootModal(QStringLiteral("23-history-undo-redo"), [&] { window->Slot_History(); });
    }

    // Verify Installation with an entry planted in the mod that no ship owns.
    WriteArchiveFile("left behind", 11, game + QStringLiteral("/mods/Hullwright.cat::stray.txt"),
                     false, false);
    shootModal(QStringLiteral("22-verify"), [&] {
        window->Slot_Verify();
        pause(4000);
    });

    // The stray entry changed the mod after the last change: undo refuses, naming
    // the file and the change.
    if (auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo")); undo && undo->isEnabled())
        shootModal(QStringLiteral("24-undo-refused"), [&] { undo->trigger(); });

    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->engine().setModChanged(false);
    window.reset();

    // A game whose writer lock cannot be made (its Slipway folder is a file): the
    // box gives the system's reason in the window's language.
    {
        const QString blocked = root.filePath(QStringLiteral("Vega Concord 3"));
        SampleGame::MakeSampleGame(blocked);
        QDir(blocked + QStringLiteral("/Slipway")).removeRecursively();
        writeBytes(blocked + QStringLiteral("/Slipway"), "not a folder");
        writeBytes(program + QStringLiteral("/config.dat"),
                   installerConfig(blocked) + (argc > 2 ? "<common>\nLanguage: " + QByteArray(argv[2]) +
                                                              "\n</common>\n"
                                                        : QByteArray()));
        std::unique_ptr<DDrydock> third;
        shootModal(QStringLiteral("25-lock-file-failed"), [&] {
            third = std::make_unique<DDrydock>(program);
        });
        if (third)
            third->engine().setModChanged(false);
    }

    // A game that already loads the player's own mod, whose files cannot be copied
    // (its data file is gone): Update Mod asks before the game is switched over.
    {
        const QString own = root.filePath(QStringLiteral("Vega Concord 2"));
        SampleGame::MakeSampleGame(own);
        const QString cat = own + QStringLiteral("/mods/PlayerMod.cat");
        EnsureCatalog(cat);
        WriteArchiveFile("model", 5, cat + QStringLiteral("::objects\\corsair.pbd"), false, false);
        QFile::remove(own + QStringLiteral("/mods/PlayerMod.dat"));
        CreateIniRegistry(program + QStringLiteral("/registry.ini"))
            ->writeString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"),
                          QStringLiteral("PlayerMod"));
        writeBytes(program + QStringLiteral("/config.dat"),
                   installerConfig(own) + (argc > 2 ? "<common>\nLanguage: " + QByteArray(argv[2]) +
                                                          "\n</common>\n"
                                                    : QByteArray()));
        DDrydock second(program);
        second.resize(760, 460);
        second.show();
        pause(300);
        // Declined: the mod is not updated, and the window says so with the reason.
        shootModal(
            QStringLiteral("20-base-mod-not-carried"),
            [&] {
                second.Slot_UpdateMod();
                pause(1500);
            },
            QStringLiteral("No"), [](QWidget*) {
                QTimer::singleShot(400, [] {
                    if (QWidget* box = QApplication::activeModalWidget()) {
                        save(box, QStringLiteral("21-mod-not-updated"));
                        if (auto* m = qobject_cast<QMessageBox*>(box))
                            m->buttons().constFirst()->click();
                    }
                });
            });
        pause(800);
        second.engine().setModChanged(false);
    }
    for (const QString& file : std::as_const(g_saved))
        std::printf("%s\n", qPrintable(file));
    return 0;
}
