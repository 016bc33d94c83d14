// A tour of Hullwright's windows, dialogs, menus and message boxes for looking at
// them in a language, not a test: it starts the real window on a sample game and
// saves a picture of everything it opens into the folder it is given.
//
//   QT_QPA_PLATFORM=offscreen build/dev/tests/hullwright_tour OUTDIR [LANGUAGE]
//
// LANGUAGE is a language name of hw_languages.xml (default English). Dialogs are
// photographed (each tab of a tabbed one) and cancelled; message boxes and input
// boxes are photographed and answered with their last button.
#include "createship.h"
#include "samplegame.h"
#include "typetable.h"
#include "uiseams_qt.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QWizard>

#include <cstdio>

namespace {

QString g_out;
QStringList g_saved;
int g_count = 0;
bool g_answerFirst = false; // message boxes: the first button instead of the last

void pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString fileName(QString name)
{
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("-"));
    return QStringLiteral("%1-%2").arg(++g_count, 2, 10, QLatin1Char('0')).arg(name);
}

void save(QWidget* widget, const QString& name)
{
    pause(150);
    const QString file = g_out + QLatin1Char('/') + fileName(name) + QStringLiteral(".png");
    if (widget->grab().save(file))
        g_saved << file;
}

// A widget and, for every tab widget in it, each of its tabs.
void saveWithTabs(QWidget* widget, const QString& name)
{
    const QList<QTabWidget*> tabs = widget->findChildren<QTabWidget*>();
    if (tabs.isEmpty()) {
        save(widget, name);
        return;
    }
    for (QTabWidget* t : tabs) {
        for (int i = 0; i < t->count(); ++i) {
            t->setCurrentIndex(i);
            save(widget, name + QLatin1Char('-') + t->objectName() + QString::number(i));
        }
    }
}

void shootDialog(QDialog& dialog)
{
    dialog.show();
    pause(200);
    const QString name = dialog.objectName().isEmpty() ? QStringLiteral("dialog") : dialog.objectName();
    if (auto* wizard = qobject_cast<QWizard*>(&dialog)) {
        // Each page, with the first entry of its list chosen so that Next opens.
        for (int page = 0; page < 10; ++page) {
            if (auto* list = wizard->currentPage()->findChild<QTreeWidget*>();
                list && list->topLevelItemCount() > 0 && list->selectedItems().isEmpty())
            {
                list->setCurrentItem(list->topLevelItem(0));
                list->topLevelItem(0)->setSelected(true);
            }
            pause(200);
            save(wizard, name + QStringLiteral("-page") + QString::number(page));
            QAbstractButton* next = wizard->button(QWizard::NextButton);
            if (!next->isVisible() || !next->isEnabled())
                break;
            wizard->next();
        }
        return;
    }
    saveWithTabs(&dialog, name);
    // Dialogs that the dialog opens: a new profile, then its ship import.
    for (const char* button : {"ButtonCreate", "ButtonImport"})
        if (auto* b = dialog.findChild<QPushButton*>(QLatin1String(button)); b && b->isEnabled())
            b->click();
}

// Message and input boxes shown by exec(): photographed, then answered.
void watchBoxes()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        QWidget* box = QApplication::activeModalWidget();
        if (auto* message = qobject_cast<QMessageBox*>(box)) {
            if (message->property("shot").toBool())
                return;
            message->setProperty("shot", true);
            save(message, QStringLiteral("message"));
            if (!message->buttons().isEmpty())
                (g_answerFirst ? message->buttons().constFirst() : message->buttons().constLast())
                    ->click();
            else
                message->reject();
        } else if (auto* input = qobject_cast<QInputDialog*>(box)) {
            if (input->property("shot").toBool())
                return;
            input->setProperty("shot", true);
            save(input, QStringLiteral("input"));
            input->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(box)) {
            // A dialog run without the window's own wrapper.
            if (dialog->property("shot").toBool())
                return;
            dialog->setProperty("shot", true);
            shootDialog(*dialog);
            dialog->reject();
        }
    });
    timer->start(100);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: hullwright_tour OUTDIR [LANGUAGE]\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString language = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("English");
    QDir().mkpath(g_out);

    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("program"));
    const QString game = root.filePath(QStringLiteral("game"));
    QDir().mkpath(program);
    QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    QStringList copy{QStringLiteral("-r")};
    for (const char* name : {"hw_languages.xml", "data", "Icons", "Profiles"})
        copy << bin + QLatin1Char('/') + QLatin1String(name);
    if (QProcess::execute(QStringLiteral("cp"), copy << program) != 0 ||
        !SampleGame::MakeSampleGame(game)) {
        std::fprintf(stderr, "cannot prepare the program folder or the sample game\n");
        return 1;
    }
    QFile config(program + QStringLiteral("/config.dat"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write("<common>\nLanguage: " + language.toUtf8() + "\n</common>\n<creator>\nVegaDir: " +
                     game.toUtf8() + "\nNoText\n</creator>\n") <= 0)
        return 1;
    config.close();

    // Every file question is answered with the game's catalogue: tables open from it,
    // and what wants a package says why it is none.
    FileDialogs::filesHook = [game](const QString&, const QString&, const QString&) {
        return QStringList{game + QStringLiteral("/02.cat")};
    };
    FileDialogs::directoryHook = [](const QString&, const QString&) { return QString(); };
    ModalDialogs::hook = [](QDialog& d) {
        shootDialog(d);
        return int(QDialog::Rejected);
    };
    PopupMenus::hook = [](QMenu& menu) -> QAction* {
        menu.popup(QPoint(50, 50));
        save(&menu, QStringLiteral("popup"));
        menu.close();
        return nullptr;
    };
    watchBoxes();

    auto window = std::make_unique<CreateShip>(program);
    window->resize(820, 600);
    window->show();
    pause(300);
    saveWithTabs(window.get(), QStringLiteral("main"));

    // The list pop-up menus.
    for (QTreeWidget* list : window->findChildren<QTreeWidget*>())
        if (list->contextMenuPolicy() == Qt::CustomContextMenu)
            emit list->customContextMenuRequested(QPoint(5, 5));

    // Every menu, then every action in it but leaving.
    const QStringList ships = ReadTypeTable(SampleGame::ShipTable()).entries;
    for (QMenu* menu : window->menuBar()->findChildren<QMenu*>()) {
        // A ship record, so that customising and balancing have something to show
        // (after the File menu: the wizard would first ask to drop it).
        if (menu->objectName() == QLatin1String("menuSettings"))
            if (auto* raw = window->findChild<QPlainTextEdit*>(QStringLiteral("rawDataEdit")))
                raw->setPlainText(ships.value(12) + QLatin1Char('\n'));
        // In the File menu "yes, drop the ship" lets opening and importing go on.
        g_answerFirst = menu->objectName() == QLatin1String("menuFile");
        menu->popup(window->mapToGlobal(QPoint(20, 30)));
        save(menu, menu->objectName());
        menu->close();
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || action->menu() ||
                action->objectName() == QLatin1String("actionExit"))
                continue;
            action->trigger();
            pause(400);
        }
    }
    g_answerFirst = false;
    // The table imports of the list tabs.
    for (const char* button : {"importDummyButton", "importCompButton", "importCockpitButton"})
        if (auto* b = window->findChild<QPushButton*>(QLatin1String(button)))
            b->click();
    pause(400);
    // Leaving with unsaved changes asks first (the tour answers "keep editing").
    window->close();
    pause(300);

    for (const QString& file : std::as_const(g_saved))
        std::printf("%s\n", qPrintable(file));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    QtPrompter::setTestMode(true);
    window.reset();
    return 0;
}
