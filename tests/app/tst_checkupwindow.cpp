// The installer window's Verify Installation list, the preview before an install
// or uninstall, and the marking of ships whose files conflict. With
// VEGA_SCREENSHOTS set to a folder, each dialog is photographed there.
#include "../engine/enginefixture.h"
#include "dcheckup.h"
#include "uiseams_qt.h"
#include "windowtexts.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
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
};

QTEST_MAIN(TestCheckupWindow)
#include "tst_checkupwindow.moc"
