// The installer window's Verify Installation list, the preview before an install
// or uninstall, and the marking of ships whose files conflict. With
// VEGA_SCREENSHOTS set to a folder, each dialog is photographed there.
#include "../engine/enginefixture.h"
#include "changehistory.h"
#include "dcheckup.h"
#include "uiseams_qt.h"
#include "uitexts.h"
#include "windowtexts.h"

#include <QApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QTimeZone>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

void shoot(QWidget* w, const QString& name)
{
    const QString folder = qEnvironmentVariable("VEGA_SCREENSHOTS");
    if (!folder.isEmpty())
        w->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Runs `check` on the next modal dialog of that object name, then closes it.
void onDialog(const QString& name, std::function<void(QDialog*)> check, bool* seen)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != name)
            return;
        timer->stop();
        timer->deleteLater();
        *seen = true;
        check(dialog);
    });
    timer->start();
}

UiTexts installerTexts(const QString& language)
{
    UiTexts texts(UiTexts::Program::Installer);
    texts.load(programFiles() + QStringLiteral("/hw_languages.xml"), language);
    return texts;
}

HistoryEntry entry(const QString& action, const QStringList& args, const QString& kind = QStringLiteral("change"))
{
    HistoryEntry e;
    e.id = 1;
    e.kind = kind;
    e.action = action;
    e.actionArgs = args;
    e.operation = QStringLiteral("English words");
    e.label = QStringLiteral("English label");
    return e;
}

} // namespace

class TestCheckupWindow : public QObject
{
    Q_OBJECT

    EngineFixture m_f;

    // A package with one model under a name that another package uses too.
    QString package(const QString& name, quint32 time, const QByteArray& bytes)
    {
        ShipPackage p = EngineFixture::simplePackage(name, QStringLiteral("Orrin Vale"),
                                                     QStringLiteral("1"), "OV-" + name.toUpper());
        p.Comment = QStringLiteral("Built for the conflict test.");
        m_f.addFile(p, KindModel, QStringLiteral("objects/shared_hull.bod"), time, bytes);
        return m_f.writePackage(p, name + QStringLiteral(".xsp"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_f.ok(), qPrintable(m_f.error));
        makeProgramFolder(m_f.programDir);
        QVERIFY(writeBytes(m_f.programDir + QStringLiteral("/config.dat"),
                          installerConfig(m_f.gameDir, "PreviewChanges\n")));
        QtPrompter::setTestMode(true);
    }

    void previewVerifyAndConflicts()
    {
        const QString merganser = m_f.samplePackages().value(0);
        const QString teal = package(QStringLiteral("Teal"), 100, "teal's hull");
        const QString wigeon = package(QStringLiteral("Wigeon"), 200, "wigeon's hull");
        QVERIFY2(!merganser.isEmpty() && !teal.isEmpty() && !wigeon.isEmpty(),
                 qPrintable(m_f.error));

        DDrydock window(m_f.programDir);
        window.resize(720, 420);
        window.show();
        InstallerEngine& engine = window.engine();
        DSlipway* ships = window.shipList();

        // Cancelled in its preview, the package is not installed and leaves the queue.
        bool seen = false;
        QStringList shown;
        onDialog(QStringLiteral("previewDialog"), [&](QDialog* d) {
            const QListWidget* list = d->findChild<QListWidget*>(QStringLiteral("previewList"));
            for (int i = 0; i < list->count(); ++i)
                shown << list->item(i)->text();
            shoot(d, QStringLiteral("preview-install"));
            d->findChild<QPushButton*>(QStringLiteral("previewCancel"))->click();
        }, &seen);
        window.shipList()->queuePackages({merganser});
        waitIdle(window);
        QVERIFY(seen);
        QVERIFY2(shown.contains(QStringLiteral("registry position 0 taken: Merganser by Orrin Vale 1.0")),
                 qPrintable(shown.join('\n')));
        QVERIFY(engine.registry().Ships.isEmpty());
        QVERIFY(engine.queue().isEmpty());
        QVERIFY(!QFileInfo::exists(m_f.gameDir + QStringLiteral("/Slipway/ShipPics/Merganser-OrrinVale.png")));

        // Accepted, each install goes ahead.
        for (const QString& pkg : {merganser, teal, wigeon}) {
            seen = false;
            onDialog(QStringLiteral("previewDialog"), [](QDialog* d) {
                d->findChild<QPushButton*>(QStringLiteral("previewContinue"))->click();
            }, &seen);
            QtPrompter::setNextAnswers({0});
            window.shipList()->queuePackages({pkg});
            waitIdle(window);
            QVERIFY(seen);
        }
        QCOMPARE(engine.registry().Ships.size(), 3);

        // Teal and Wigeon bring the same hull with other bytes: both are marked.
        QVERIFY(findItem(ships, "Teal")->data(0, Qt::UserRole).toBool());
        QVERIFY(findItem(ships, "Wigeon")->data(0, Qt::UserRole).toBool());
        QVERIFY(!findItem(ships, "Merganser")->data(0, Qt::UserRole).toBool());
        const ShipPackage* tealRecord = window.shipList()->recordOf(findItem(ships, "Teal"));
        QVERIFY(tealRecord);
        const QString comment = window.shipList()->commentText(*tealRecord);
        QVERIFY2(comment.contains(QStringLiteral("Wigeon by Orrin Vale")), qPrintable(comment));
        QVERIFY(comment.startsWith(QStringLiteral("Built for the conflict test.")));
        window.shipList()->listView()->setCurrentItem(findItem(ships, "Teal"));
        shoot(&window, QStringLiteral("conflict-marking"));
        seen = false;
        onDialog(QStringLiteral("commentDialog"), [](QDialog* d) {
            shoot(d, QStringLiteral("conflict-comment"));
            d->accept();
        }, &seen);
        window.shipList()->Slot_ViewComment();
        QVERIFY(seen);

        // Verify Installation lists the planted faults, with the ship when there is one.
        QVERIFY(engine.updateMod());
        const QByteArray stray = "left behind";
        QVERIFY(WriteArchiveFile(stray.constData(), stray.size(),
                                 engine.modCatalog() + QStringLiteral("::textures\\stray.tga"), false, false));
        QVERIFY(RemoveArchiveFile(engine.modCatalog() +
                                  QStringLiteral("::objects\\ships\\fighters\\merganser_body.pbb")));
        QStringList problems;
        seen = false;
        onDialog(QStringLiteral("verifyDialog"), [&](QDialog* d) {
            const QTreeWidget* list = d->findChild<QTreeWidget*>(QStringLiteral("problemList"));
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                problems << list->topLevelItem(i)->text(0) + QLatin1Char('|') +
                                list->topLevelItem(i)->text(1);
            shoot(d, QStringLiteral("verify-list"));
            d->accept();
        }, &seen);
        QAction* verify = window.findChild<QAction*>(QStringLiteral("actionVerify"));
        QVERIFY(verify && verify->isEnabled());
        verify->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(seen, 20000);
        waitIdle(window);
        QVERIFY2(problems.contains(QStringLiteral("Merganser (Orrin Vale)|missing: "
                                                  "objects/ships/fighters/merganser_body.bob is "
                                                  "missing from the mod")),
                 qPrintable(problems.join('\n')));
    }

    // Each action a history entry can hold, worded in German when shown; entries
    // from before actions were kept, and actions of a newer program, keep their words.
    void historyWording_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("label");
        const QString change = QStringLiteral("change");
        const auto row = [&](const char* name, const char* action, const QStringList& args, const QString& kind,
                             const QString& shown, const QString& label) {
            QTest::newRow(name) << QString::fromLatin1(action) << args << kind << shown << label;
        };
        const auto same = [&](const char* name, const char* action, const QStringList& args, const QString& shown) {
            row(name, action, args, change, shown, shown);
        };
        same("install", HistoryAction::Install, {"Goosander"}, "Goosander installieren");
        same("install of several", HistoryAction::Install, {"Teal", "Wigeon"}, "Teal, Wigeon installieren");
        same("install of none", HistoryAction::Install, {}, "Installieren");
        same("uninstall", HistoryAction::Uninstall, {"Merganser"}, "Merganser deinstallieren");
        same("enable", HistoryAction::Enable, {"Merganser"}, "Merganser aktivieren");
        same("disable", HistoryAction::Disable, {"Merganser"}, "Merganser deaktivieren");
        same("update mod", HistoryAction::UpdateMod, {}, "Mod aktualisieren");
        same("base mod", HistoryAction::BaseMod, {"Fleet"}, "Basis-Mod Fleet");
        same("base mod, fake patch", HistoryAction::BaseMod, {"Fleet", "fake"}, "Basis-Mod Fleet (Fake-Patch)");
        same("no base mod", HistoryAction::NoBaseMod, {}, "Keine Basis-Mod");
        same("base mod again", HistoryAction::BaseModAgain, {}, "Basis-Mod neu erstellen");
        same("base mod again, fake patch", HistoryAction::BaseModAgain, {"fake"},
             "Basis-Mod neu erstellen (Fake-Patch)");
        same("loading screens on", HistoryAction::LoadingScreensOn, {}, "Ladebildschirme ein");
        same("loading screens off", HistoryAction::LoadingScreensOff, {}, "Ladebildschirme aus");
        same("scripts", HistoryAction::Scripts, {}, "Skripte");
        same("save registry", HistoryAction::SaveRegistry, {}, "Verzeichnis der installierten Schiffe speichern");
        same("edit", HistoryAction::Edit, {"Merganser"}, "Merganser bearbeiten");
        same("a name holding a marker", HistoryAction::Edit, {"%2 Teal"}, "%2 Teal bearbeiten");
        row("undo", HistoryAction::Install, {"Goosander"}, "undo", "Rückgängig gemacht: Goosander installieren",
            "Goosander installieren");
        row("redo", HistoryAction::Uninstall, {"Teal"}, "redo", "Wiederhergestellt: Teal deinstallieren",
            "Teal deinstallieren");
        row("entry without an action", "", {}, "undo", "English words", "English label");
        row("action of a newer program", "teleport", {"Teal"}, change, "English label", "English label");
    }

    void historyWording()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, args);
        QFETCH(QString, kind);
        QFETCH(QString, shown);
        QFETCH(QString, label);
        const UiTexts texts = installerTexts(QStringLiteral("Deutsch"));
        const HistoryEntry e = entry(action, args, kind);
        QCOMPARE(HistoryOperationText(texts, e), shown);
        QCOMPARE(HistoryLabelText(texts, e), label);
    }

    // Why undo refused, in French; a refusal that says nothing keeps the English words.
    void undoRefusalWording_data()
    {
        using Refusal = ChangeHistory::Refusal;
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("redo");
        QTest::addColumn<QString>("shown");
        const HistoryEntry e = entry(QLatin1String(HistoryAction::Uninstall), {"Teal"});
        QTest::newRow("nothing") << int(Refusal::Nothing) << false << "il n'y a rien à annuler";
        QTest::newRow("nothing to redo") << int(Refusal::Nothing) << true << "il n'y a rien à rétablir";
        QTest::newRow("no data") << int(Refusal::NoData) << false
                                 << QString::fromUtf8("« Désinstaller Teal » ne peut pas être annulé : ses données "
                                                      "d'annulation n'ont pas été gardées ou ont été supprimées au "
                                                      "profit de modifications plus récentes");
        QTest::newRow("file changed") << int(Refusal::Changed) << true
                                      << QString::fromUtf8("F a changé depuis « Désinstaller Teal », le "
                                                           "rétablissement est donc impossible");
        QTest::newRow("step failed") << int(Refusal::Failed) << false << QString::fromUtf8("l'annulation a échoué : D");
        QTest::newRow("written, entry lost") << int(Refusal::None) << false << "English";
    }

    void undoRefusalWording()
    {
        QFETCH(int, reason);
        QFETCH(bool, redo);
        QFETCH(QString, shown);
        const UiTexts texts = installerTexts(QString::fromUtf8("Fran\xc3\xa7" "ais"));
        const ChangeHistory::Refusal refusal{ChangeHistory::Refusal::Reason(reason),
                                             entry(QLatin1String(HistoryAction::Uninstall), {"Teal"}),
                                             QStringLiteral("F"), QStringLiteral("D")};
        QCOMPARE(UndoRefusalText(texts, refusal, redo, QStringLiteral("English")), shown);
    }

    // The History dialog in German: the change in its words, the time the German
    // way, the files' changes worded; an old entry keeps its English text.
    void historyDialogInGerman()
    {
        const UiTexts german = installerTexts(QStringLiteral("Deutsch"));
        HistoryEntry old = entry(QString(), {});
        old.operation = QStringLiteral("Install Merganser");
        old.time = QDateTime(QDate(2026, 3, 14), QTime(12, 0), QTimeZone::utc());
        HistoryEntry added = entry(QLatin1String(HistoryAction::Uninstall), {"Merganser"});
        added.id = 2;
        added.time = old.time.addDays(1);
        for (const auto& [name, change] : {std::pair{"mods/Hullwright.cat", "replaced"},
                                           std::pair{"Slipway/ShipPics/M.png", "removed"}}) {
            HistoryFile file;
            file.name = QLatin1String(name);
            file.change = QLatin1String(change);
            added.files.append(file);
        }
        DHistory dialog(german, {old, added});
        const QTreeWidget* list = dialog.entryList();
        QCOMPARE(list->topLevelItemCount(), 2);
        const QTreeWidgetItem* newest = list->topLevelItem(0);
        QCOMPARE(newest->text(2), QStringLiteral("Merganser deinstallieren"));
        QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("Install Merganser"));
        QCOMPARE(newest->toolTip(4), QDir::toNativeSeparators(QStringLiteral("mods/Hullwright.cat (ersetzt)\n"
                                                                             "Slipway/ShipPics/M.png (entfernt)")));
        QCOMPARE(list->headerItem()->text(2), QString::fromUtf8("\xc3\x84nderung"));
        // Dates in each language's own way, not the system's.
        const QString germanTime = QLocale(QLocale::German).toString(added.time.toLocalTime(), QLocale::ShortFormat);
        QCOMPARE(newest->text(0), germanTime);
        QCOMPARE(HistoryTimeText(german, added), germanTime);
        const QString french = HistoryTimeText(installerTexts(QString::fromUtf8("Fran\xc3\xa7" "ais")), added);
        QCOMPARE(french, QLocale(QLocale::French).toString(added.time.toLocalTime(), QLocale::ShortFormat));
        QVERIFY2(germanTime.contains(QLatin1String("15.03.")) && french.contains(QLatin1String("15/03/")),
                 qPrintable(germanTime + QLatin1String(" / ") + french));
        shoot(&dialog, QStringLiteral("history-de"));
    }
};

QTEST_MAIN(TestCheckupWindow)
#include "tst_checkupwindow.moc"
