// The import wizard driven as a user would, from the editor's menu to a saved
// package that installs with drydock-cli; cancel and a catalogue without tables.
#include "archivefile.h"
#include "createship.h"
#include "hwtest.h"
#include "importwizard.h"
#include "installcheck.h"
#include "samplegame.h"
#include "ui_createship.h"
#include "uiseams_qt.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList texts(const QTreeWidget* list)
{
    QStringList t;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        t << list->topLevelItem(i)->text(0);
    return t;
}

int ticked(const QTreeWidget* list)
{
    int n = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        n += list->topLevelItem(i)->checkState(0) == Qt::Checked;
    return n;
}

} // namespace

class TestImportWizard : public QObject
{
    Q_OBJECT

    std::unique_ptr<CreateShip> window()
    {
        auto w = std::make_unique<CreateShip>(m_program);
        w->show();
        return w;
    }

private slots:
    void initTestCase()
    {
        m_program = m_tmp.filePath("program");
        QVERIFY(copyProgramFiles(m_program, {"hw_languages.xml", "Icons"}));
        const QString game = m_tmp.filePath("game");
        QVERIFY(SampleGame::MakeSampleGame(game));
        QVERIFY(SampleGame::MakeSampleMod(m_tmp.filePath("mod")));
        m_mod = m_tmp.filePath("mod/") + SampleGame::ModCatalog;
        const QString compiler = m_tmp.filePath("compiler.sh");
        QVERIFY(installCompiler(compiler));
        QVERIFY(writeConfig(m_program, game,
                            "DefAuthor: Orrin Vale\nBodcompDir: " + compiler.toLocal8Bit() +
                                "\nBODCOMP\n")); // decompiling needs the conversion on

        QtPrompter::setTestMode(true);
        FileDialogs::filesHook = [this](const QString&, const QString&, const QString&) {
            return std::exchange(m_files, {});
        };
        ModalDialogs::hook = [this](QDialog& d) {
            auto* wizard = qobject_cast<DImportWizard*>(&d);
            if (!wizard || !m_drive)
                return int(QDialog::Rejected);
            m_drive(*wizard);
            return wizard->result();
        };
        PopupMenus::hook = [this](QMenu& menu) { return menu.findChild<QAction*>(m_menuChoice); };
    }

    // Every page, as proposed for the sample mod's frigate, and what the editor
    // holds after Finish; saved, the package installs with the ship's own lines.
    void importThroughTheWizard()
    {
        const SampleGame::ModShip want = SampleGame::ModShips().first();
        auto w = window();
        bool driven = false;
        m_drive = [&](DImportWizard& wiz) {
            wiz.show();
            QWidget* next = wiz.button(QWizard::NextButton);
            QVERIFY(!next->isEnabled());
            QTreeWidget* ships = wiz.shipList();
            const QList<QTreeWidgetItem*> found =
                ships->findItems(want.id, Qt::MatchExactly | Qt::MatchRecursive);
            QVERIFY(found.size() == 1 && found.first()->text(1) == want.name);
            // The mod's own ships come first, apart from the game's it repeats.
            QCOMPARE(found.first()->parent(), ships->topLevelItem(0));
            QCOMPARE(ships->topLevelItem(1)->childCount(), SampleGame::ShipCount);
            QVERIFY(!(ships->topLevelItem(0)->flags() & Qt::ItemIsSelectable));
            ships->setCurrentItem(found.first());
            QVERIFY(next->isEnabled());
            ships->scrollToItem(found.first());
            screenshot(&wiz, "wizard-1-ship");
            emit ships->itemDoubleClicked(found.first(), 0);

            // Dummies: the ship's, ticked; "show all" shows the others unticked.
            QCOMPARE(wiz.currentId(), int(DImportWizard::DummyPage));
            QTreeWidget* dummies = wiz.entryList(DImportWizard::DummyPage);
            QCOMPARE(dummies->topLevelItemCount(), int(want.dummies.size()));
            QCOMPARE(ticked(dummies), int(want.dummies.size()));
            screenshot(&wiz, "wizard-2-dummies");
            auto* all = wiz.currentPage()->findChild<QCheckBox*>("showAllCheck");
            all->setChecked(true);
            QVERIFY(dummies->topLevelItemCount() > 20 && ticked(dummies) == want.dummies.size());
            all->setChecked(false);
            wiz.next();

            // Models: the scene's; "Add All" then "Remove" moves exactly one back.
            QTreeWidget* from = wiz.fromList(DImportWizard::ModelPage);
            QTreeWidget* chosen = wiz.chosenList(DImportWizard::ModelPage);
            QCOMPARE(texts(chosen), want.models);
            QVERIFY(texts(from).contains("objects\\ships\\shipwrights\\albatross_old.pbb"));
            screenshot(&wiz, "wizard-3-models");
            const int total = from->topLevelItemCount() + chosen->topLevelItemCount();
            QTest::mouseClick(wiz.moveButton(DImportWizard::ModelPage, 1), Qt::LeftButton);
            QCOMPARE(chosen->topLevelItemCount(), total);
            chosen->setCurrentItem(chosen->topLevelItem(0));
            QTest::mouseClick(wiz.moveButton(DImportWizard::ModelPage, 2), Qt::LeftButton);
            QCOMPARE(from->topLevelItemCount(), 1);
            // Back to the proposal: all out, then the three in by double clicks.
            QTest::mouseClick(wiz.moveButton(DImportWizard::ModelPage, 3), Qt::LeftButton);
            for (const QString& m : want.models)
                emit from->itemDoubleClicked(from->findItems(m, Qt::MatchExactly).value(0), 0);
            QCOMPARE(texts(chosen), want.models);
            wiz.next();

            QCOMPARE(wiz.chosenList(DImportWizard::CockpitPage)->topLevelItemCount(),
                     int(want.cockpits.size()));
            screenshot(&wiz, "wizard-4-cockpits");
            wiz.next();
            QCOMPARE(ticked(wiz.entryList(DImportWizard::ComponentPage)),
                     int(want.components.size()));
            screenshot(&wiz, "wizard-5-components");
            wiz.next();
            // Textures: what the chosen models name, decompiled by the stand-in.
            QCOMPARE(texts(wiz.chosenList(DImportWizard::TexturePage)), want.textures);
            screenshot(&wiz, "wizard-6-textures");
            wiz.next();

            // Texts: removed through the menu, read again from the catalogue.
            QTreeWidget* rows = wiz.textList();
            QCOMPARE(rows->topLevelItemCount(), want.languages);
            screenshot(&wiz, "wizard-7-texts");
            rows->selectAll();
            m_menuChoice = "remove";
            emit rows->customContextMenuRequested(QPoint(5, 5));
            QCOMPARE(rows->topLevelItemCount(), 0);
            m_files = {m_mod};
            QTest::mouseClick(wiz.currentPage()->findChild<QPushButton*>("importFileButton"),
                              Qt::LeftButton);
            QCOMPARE(rows->topLevelItemCount(), want.languages);
            // Every page's texts come from the translation file.
            for (const QString& t : visibleTexts(&wiz))
                QVERIFY2(!t.contains("ReadText-"), qPrintable(t));
            driven = true;
            wiz.accept();
        };
        m_files = {m_mod};
        w->form()->importWizardButton->click();
        QVERIFY(driven);

        // What the draft holds is checked by the saved package's install below.
        QCOMPARE(w->draft().author, "Orrin Vale");
        QVERIFY(filesBelow(m_program + "/temp").isEmpty());

        const QString out = m_tmp.filePath("Albatross.xsp");
        m_files = {out};
        w->form()->actionSave->trigger();
        QTRY_VERIFY(QFileInfo::exists(out));
        QTRY_VERIFY(w->form()->centralwidget->isEnabled());
        const QString problems =
            InstallCheck::mismatch(DRYDOCK_CLI_PATH, out, want, m_tmp.filePath("installed"));
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // Cancel keeps the ship being edited; a catalogue without a ship table gives
    // a message and no wizard. Neither leaves a file behind.
    void cancelAndCatalogueWithoutTables()
    {
        QDir(m_program + "/Slipway").removeRecursively();
        auto w = window();
        w->form()->nameEdit->setText("Unsaved work");
        m_drive = [&](DImportWizard& wiz) {
            wiz.show();
            emit wiz.shipList()->itemDoubleClicked(wiz.shipList()->topLevelItem(0), 0); // a heading
            QCOMPARE(wiz.currentId(), int(DImportWizard::ShipPage));
            emit wiz.shipList()->itemDoubleClicked(wiz.shipList()->topLevelItem(0)->child(0), 0);
            wiz.next();
            wiz.next();
            wiz.next();
            wiz.next(); // the texture page: models extracted and read in temp
            QCOMPARE(wiz.currentId(), int(DImportWizard::TexturePage));
            wiz.reject();
        };
        QtPrompter::setNextAnswers({0}); // yes, replace the ship being edited
        m_files = {m_mod};
        w->form()->actionImportWizard->trigger();
        QCOMPARE(w->draft().name, "Unsaved work");
        QVERIFY(filesBelow(m_program + "/Slipway").isEmpty());

        const QString cat = m_tmp.filePath("empty/bare.cat");
        QVERIFY(QDir().mkpath(m_tmp.filePath("empty")) && EnsureCatalog(cat));
        QVERIFY(WriteArchiveFile("dds", 3, cat + "::textures\\a.dds", false, false));
        bool shown = false;
        m_drive = [&shown](DImportWizard&) { shown = true; };
        QtPrompter::takeAsked();
        QtPrompter::setNextAnswers({0});
        m_files = {cat};
        w->form()->importWizardButton->click();
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QVERIFY(!shown);
        QVERIFY(!asked.isEmpty() && asked.last().text.contains("ship table"));
        QVERIFY(filesBelow(m_program + "/temp").isEmpty());
    }

private:
    QTemporaryDir m_tmp;
    QString m_program, m_mod, m_menuChoice;
    QStringList m_files;
    std::function<void(DImportWizard&)> m_drive;
};

QTEST_MAIN(TestImportWizard)
#include "tst_importwizard.moc"
