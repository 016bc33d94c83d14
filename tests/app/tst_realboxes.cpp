// The installer window with its real message boxes: no test hook, each box is
// answered by a click from a timer while its own event loop runs. Paths handed
// over by a second start, failed installs and closing with changes, whose boxes
// open while sockets, timers and the queue are still at work.
#include "../engine/enginefixture.h"
#include "csocket.h"
#include "uiseams_qt.h"
#include "windowtexts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <memory>

namespace {

// Answers every message box that comes up, in order: the button whose text
// (without its shortcut marker) is the box's queued answer, else (an empty or no
// answer) the box's default button.
class BoxAnswerer : public QObject
{
public:
    QStringList answers;
    QStringList seen; // the captions, in order
    QStringList texts; // and their texts

    BoxAnswerer()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box == m_last)
                return;
            m_last = box;
            seen << box->windowTitle();
            texts << box->text();
            QAbstractButton* button = box->defaultButton();
            const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
            for (QAbstractButton* b : box->buttons())
                if (!wanted.isEmpty() && PlainUiText(b->text()) == wanted)
                    button = b;
            if (!button && !box->buttons().isEmpty())
                button = box->buttons().first();
            QTimer::singleShot(0, button, &QAbstractButton::click);
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

// What a second start sends, as its bytes.
void handOver(quint16 port, const QByteArray& bytes)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    client.write(bytes);
    QVERIFY(client.waitForBytesWritten(5000));
    client.disconnectFromHost();
}

QByteArray line(const QString& path)
{
    return path.toUtf8() + '\n';
}

bool tableNames(const EngineFixture& f, const QString& id)
{
    for (const QString& l : f.modLines(QStringLiteral("types\\TShips.pck")))
        if (l.endsWith(QLatin1Char(';') + id + QLatin1Char(';')))
            return true;
    return false;
}

} // namespace

class TestRealBoxes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void boxes_data();
    void boxes();
};

void TestRealBoxes::initTestCase()
{
    QtPrompter::setTestMode(false);
    FileDialogs::directoryHook = [](const QString&, const QString&) { return QString(); };
}

void TestRealBoxes::boxes_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("captions");

    const QString installed = QStringLiteral("Ship Installed");
    const QString error = QStringLiteral("Package Error");
    const QString notFound = QStringLiteral("Package Not Found");
    QTest::newRow("hand-over of a path that is no file")
        << "typo" << QStringList() << QStringList{notFound, installed};
    QTest::newRow("hand-over of a path beyond 8-bit text")
        << "accented" << QStringList() << QStringList{installed};
    QTest::newRow("hand-over of a file that is no package")
        << "not a package" << QStringList() << QStringList{error, installed};
    QTest::newRow("two lines on one connection")
        << "two lines" << QStringList() << QStringList{installed, installed};
    QTest::newRow("hand-over without a game directory")
        << "no game" << QStringList()
        << QStringList{QStringLiteral("Choose the Game Directory"),
                       QStringLiteral("No Game Directory")};
    QTest::newRow("damaged package") << "damaged" << QStringList() << QStringList{error};
    QTest::newRow("older version") << "older" << QStringList()
                                   << QStringList{installed, error};
    QTest::newRow("undo, redo, and undo refused after an outside change")
        << "undo" << QStringList() << QStringList{installed, QStringLiteral("Undo Failed")};
    QTest::newRow("close with changes while the game holds the mod")
        << "close locked" << QStringList{QString(), QStringLiteral("Cancel")}
        << QStringList{installed, QStringLiteral("Mod Not Updated")};
    // In German, the system's reason and undo's refusal are worded in German too.
    QTest::newRow("lock file cannot be made, German")
        << "lock German" << QStringList() << QStringList{QStringLiteral("Spielverzeichnis in Benutzung")};
    QTest::newRow("undo refused after an outside change, German")
        << "undo German" << QStringList()
        << QStringList{QStringLiteral("Schiff installiert"), QString::fromUtf8("R\xc3\xbc" "ckg\xc3\xa4ngig fehlgeschlagen")};
    // Choosing to leave the game on the player's own mod is a decision, not a
    // failure: no "not updated" box follows, and the window closes.
    QTest::newRow("player's mod cannot be carried, kept")
        << "player mod" << QStringList{QString(), QStringLiteral("No")}
        << QStringList{installed, QStringLiteral("Base Mod Not Carried Over")};
}

void TestRealBoxes::boxes()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, captions);

    EngineFixture f;
    QVERIFY2(f.ok(), qPrintable(f.error));
    makeProgramFolder(f.programDir);
    const bool noGame = scenario == QLatin1String("no game");
    const bool german = scenario.endsWith(QLatin1String("German"));
    if (!noGame)
        QVERIFY(writeBytes(f.programDir + QStringLiteral("/config.dat"),
                           (german ? QByteArray("<common>\nLanguage: Deutsch\n</common>\n") : QByteArray()) +
                               installerConfig(f.gameDir)));
    if (scenario == QLatin1String("lock German")) {
        // The writer lock's folder is a file: the lock file cannot be made.
        QDir(f.gameDir + QStringLiteral("/Slipway")).removeRecursively();
        QVERIFY(writeBytes(f.gameDir + QStringLiteral("/Slipway"), "not a folder"));
    }
    const QString merganser = f.samplePackages().value(0);
    const QString goosander = f.samplePackages().value(1);
    QVERIFY2(!merganser.isEmpty(), qPrintable(f.error));

    if (scenario == QLatin1String("player mod")) {
        // The game loads a mod of the player's whose data file is gone.
        QVERIFY(QFile::copy(f.gameDir + QStringLiteral("/01.cat"),
                            f.gameDir + QStringLiteral("/mods/PlayerMod.cat")));
        QVERIFY(f.systemRegistry->writeString(QStringLiteral("/SKYWARD"),
                                              QStringLiteral("/Vega/ModName"),
                                              QStringLiteral("PlayerMod")));
    }
    BoxAnswerer answerer;
    answerer.answers = answers;
    auto window = std::make_unique<DDrydock>(f.programDir);
    window->show();
    window->startListening(0);
    QVERIFY(window->server()->isListening());
    const quint16 port = window->server()->serverPort();
    const QByteArray end(1, '\0');
    const QString shipId = QStringLiteral("OV-MERGANSER");

    if (scenario == QLatin1String("typo") || scenario == QLatin1String("not a package")) {
        const QString wrong = scenario == QLatin1String("typo")
                                  ? f.root.filePath(QStringLiteral("packages/Mergansr.xsp"))
                                  : f.gameDir + QStringLiteral("/vega.exe");
        handOver(port, line(wrong) + end);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        // The window lives on: a later hand-over installs, and closing regenerates
        // the tables with the ship of this session.
        handOver(port, line(merganser) + end);
        QTRY_COMPARE(answerer.seen.size(), 2);
        waitIdle(*window);
        window->close();
        QTRY_VERIFY(!window->isVisible());
        QVERIFY2(tableNames(f, shipId), qPrintable(f.modEntries().join(QLatin1Char(' '))));
    } else if (scenario == QLatin1String("accented")) {
        const QString named = f.root.filePath(QStringLiteral("packages/\u039d\u00e9a Merganser.xsp"));
        QVERIFY(QFile::copy(merganser, named));
        handOver(port, line(named) + end);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        QCOMPARE(window->engine().registry().Ships.size(), 1);
    } else if (scenario == QLatin1String("two lines")) {
        handOver(port, line(merganser) + line(goosander) + end);
        QTRY_COMPARE(answerer.seen.size(), 2);
        waitIdle(*window);
        QCOMPARE(window->engine().registry().Ships.size(), 2);
    } else if (noGame) {
        QCOMPARE(window->directoryBox()->count(), 0);
        handOver(port, line(merganser) + end);
        QTRY_COMPARE(answerer.seen.size(), 2);
        QVERIFY(window->engine().queue().isEmpty());
    } else if (scenario == QLatin1String("damaged")) {
        const QString damaged = f.root.filePath(QStringLiteral("packages/damaged.xsp"));
        QByteArray bytes = readBytes(merganser);
        bytes.truncate(bytes.size() / 2);
        QVERIFY(writeBytes(damaged, bytes));
        window->Slot_ReadInputText(damaged);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        QCOMPARE(window->engine().registry().Ships.size(), 0);
    } else if (scenario == QLatin1String("older")) {
        ShipPackage p = EngineFixture::simplePackage(QStringLiteral("Teal"), QStringLiteral("Ann"),
                                                     QStringLiteral("2.0"), QStringLiteral("SS_T"));
        const QString newer = f.writePackage(p, QStringLiteral("teal-2.xsp"));
        p.Version = QStringLiteral("1.0");
        const QString older = f.writePackage(p, QStringLiteral("teal-1.xsp"));
        window->Slot_ReadInputText(newer);
        window->Slot_ReadInputText(older);
        QTRY_COMPARE(answerer.seen.size(), 2);
        waitIdle(*window);
        QCOMPARE(window->engine().registry().Ships.value(0).Version, QStringLiteral("2.0"));
    } else if (scenario == QLatin1String("undo")) {
        auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo"));
        auto* redo = window->findChild<QAction*>(QStringLiteral("actionRedo"));
        QVERIFY(undo && redo);
        QVERIFY(!undo->isEnabled());
        const QByteArray before = readBytes(f.modCatalog());
        window->Slot_ReadInputText(merganser);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        QCOMPARE(PlainUiText(undo->text()), QStringLiteral("Undo Install Merganser"));
        undo->trigger();
        QCOMPARE(window->engine().registry().Ships.size(), 0);
        QCOMPARE(readBytes(f.modCatalog()), before);
        QCOMPARE(PlainUiText(redo->text()), QStringLiteral("Redo Install Merganser"));
        redo->trigger();
        QCOMPARE(window->engine().registry().Ships.size(), 1);
        // Another program changed the mod meanwhile: the box names the file.
        QVERIFY(writeBytes(f.modCatalog(), readBytes(f.modCatalog()) + "x"));
        undo->trigger();
        QTRY_COMPARE(answerer.seen.size(), 2);
        QCOMPARE(window->engine().registry().Ships.size(), 1);
    } else if (scenario == QLatin1String("lock German")) {
        QTRY_COMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.texts.value(0).contains(QStringLiteral("ein Teil des Pfades ist kein Ordner")),
                 qPrintable(answerer.texts.value(0)));
        QVERIFY(!window->engine().writeRefusal().isEmpty());
    } else if (scenario == QLatin1String("undo German")) {
        auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo"));
        QVERIFY(undo);
        window->Slot_ReadInputText(merganser);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        QCOMPARE(PlainUiText(undo->text()), QString::fromUtf8("R\xc3\xbc" "ckg\xc3\xa4ngig: Merganser installieren"));
        QVERIFY(writeBytes(f.modCatalog(), readBytes(f.modCatalog()) + "x"));
        undo->trigger();
        QTRY_COMPARE(answerer.seen.size(), 2);
        QVERIFY2(answerer.texts.value(1).contains(
                     QString::fromUtf8("wurde seit \xe2\x80\x9e" "Merganser installieren\xe2\x80\x9c ge\xc3\xa4ndert")),
                 qPrintable(answerer.texts.value(1)));
        QCOMPARE(window->engine().registry().Ships.size(), 1);
    } else if (scenario == QLatin1String("close locked")) {
#ifndef Q_OS_UNIX
        QSKIP("needs POSIX file locks");
#else
        window->Slot_ReadInputText(merganser);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        // The running game holds the mod: closing asks, Cancel keeps the window.
        const int game = ::open(QFile::encodeName(f.modCatalog()), O_RDONLY);
        QVERIFY(game >= 0 && flock(game, LOCK_SH) == 0);
        window->close();
        QTRY_COMPARE(answerer.seen.size(), 2);
        waitIdle(*window);
        QVERIFY(window->isVisible());
        QVERIFY(!tableNames(f, shipId));
        ::close(game);
        window->close();
        QTRY_VERIFY(!window->isVisible());
        QVERIFY(tableNames(f, shipId));
#endif
    } else if (scenario == QLatin1String("player mod")) {
        window->Slot_ReadInputText(merganser);
        QTRY_COMPARE(answerer.seen.size(), 1);
        waitIdle(*window);
        window->close();
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(f.systemRegistry->readString(QStringLiteral("/SKYWARD"),
                                              QStringLiteral("/Vega/ModName")),
                 QStringLiteral("PlayerMod"));
    }
    QCOMPARE(answerer.seen, captions);
}

QTEST_MAIN(TestRealBoxes)
#include "tst_realboxes.moc"
