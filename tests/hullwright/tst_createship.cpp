// Hullwright's main window and dialogs driven as a user would: menus, pop-up
// menus, drops and dialogs answered through the window toolkit's test hooks.
#include "configdialog.h"
#include "createship.h"
#include "creatortexts.h"
#include "editmode.h"
#include "hwtest.h"
#include "installersettings.h"
#include "packagebuild.h"
#include "registry.h"
#include "samplegame.h"
#include "selectship.h"
#include "smalldialogs.h"
#include "ui_createship.h"
#include "uiseams_qt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QWizard>
#include <QtTest>

#include <memory>

namespace {

QTreeWidgetItem* firstFile(QTreeWidget* list)
{
    return list->topLevelItemCount() ? list->topLevelItem(0)->child(0) : nullptr;
}

} // namespace

class TestCreateShip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_game = m_root.filePath("game");
        QString error;
        QVERIFY2(SampleGame::MakeSampleGame(m_game, &error), qPrintable(error));

        QtPrompter::setTestMode(true);
        FileDialogs::filesHook = [this](const QString& caption, const QString& start,
                                        const QString& filter) {
            m_filter = filter;
            m_dialogSeen = {caption, start};
            return std::exchange(m_files, {});
        };
        FileDialogs::directoryHook = [this](const QString&, const QString&) {
            return m_files.isEmpty() ? QString() : m_files.takeFirst();
        };
        InputDialogs::hook = [this](const QString&, const QString&, const QString& proposed) {
            m_proposed = proposed;
            return m_inputs.isEmpty() ? QString() : m_inputs.takeFirst();
        };
        ModalDialogs::hook = [this](QDialog& d) {
            return m_dialog ? m_dialog(d) : int(QDialog::Rejected);
        };
        PopupMenus::hook = [this](QMenu& menu) -> QAction* {
            for (QAction* a : menu.actions())
                m_menuSeen << a->text();
            QAction* a = menu.findChild<QAction*>(m_menuChoice);
            return a && a->isEnabled() ? a : nullptr;
        };
    }
    void init()
    {
        m_program = m_root.filePath("program");
        QDir(m_program).removeRecursively();
        QVERIFY(copyProgramFiles(m_program, {"hw_languages.xml", "data", "Icons"}));
        // Drydock's block first, as on a machine where the installer ran before.
        InstallerSettings installer;
        installer.installDirs << m_game;
        QVERIFY(WriteInstallerSettings(m_program, installer));
        QByteArray config = readFile(m_program + "/config.dat");
        config +=
            "<creator>\nVegaDir: " + m_game.toLocal8Bit() + "\nDefAuthor: Orrin Vale\n</creator>\n";
        QVERIFY(writeFile(m_program + "/config.dat", config));
        m_files.clear();
        m_inputs.clear();
        m_dialog = nullptr;
        m_menuSeen.clear();
        QtPrompter::setNextAnswers({});
        QtPrompter::takeAsked();
    }
    void cleanup() { m_dialog = nullptr; }
    void startUpAndTexts()
    {
        auto w = makeWindow();
        QCOMPARE(w->settings().gameDirs, QStringList{m_game});
        QVERIFY(!w->shipClasses().isEmpty());
        QVERIFY(QFileInfo(m_program + "/temp").isDir());
        w->startTextLoading();
        QVERIFY(!w->isEnabled());
        QTRY_VERIFY(w->isEnabled());

        // No placeholder anywhere: window, pop-up menus, every dialog.
        QStringList texts = visibleTexts(w.get());
        Ui::DCreateShip& ui = *w->form();
        for (QTreeWidget* list : std::initializer_list<QTreeWidget*>{
                 ui.modelList, ui.otherList, ui.scriptList, ui.textList, ui.dummyList, ui.compList,
                 ui.cockpitList})
            choose(list, QString());
        texts << m_menuSeen;
        ConfigDialog config(w->texts(), w->settings());
        SelectShip ships(w->texts(), PickerTable::Ships, m_program, m_program + "/Slipway", "44",
                         m_game);
        QVERIFY(ships.loadTable(m_game + "/02.cat"));
        SelectShip cockpits(w->texts(), PickerTable::Cockpits, m_program, m_program + "/Slipway",
                            "44", m_game);
        QVERIFY(cockpits.loadTable(m_game + "/01.cat"));
        ImportDummy dummies(
            w->texts(), GroupedTable::Dummies,
            ImportGroupedTable(m_game + "/02.cat", GroupedTable::Dummies, m_program + "/Slipway")
                .rows);
        LanguageText language(w->texts(), {44, "Merganser", "A fighter"});
        for (QWidget* d :
             std::initializer_list<QWidget*>{&config, &ships, &cockpits, &dummies, &language}) {
            texts << visibleTexts(d);
            screenshot(d, d->objectName() + (d == &cockpits ? "-cockpits" : QString()));
        }
        for (const QString& t : texts)
            QVERIFY2(!t.contains(QLatin1String("ReadText-")), qPrintable(t));
        for (int i = 0; i < ui.tabs->count(); ++i) {
            ui.tabs->setCurrentIndex(i);
            screenshot(w.get(), "tab-" + ui.tabs->widget(i)->objectName());
        }
    }
    void loadShipAndImports()
    {
        auto w = makeWindow();
        const SampleGame::Ship ship = SampleGame::Ships().last();
        // A file that holds no table: the real box names it, the draft stays.
        const QString notTable = m_root.filePath("not-a-table.txt");
        QVERIFY(writeFile(notTable, "no table here"));
        const ShipDraft untouched = w->draft();
        for (const bool cockpit : {false, true}) {
            m_files = {notTable};
            answerBox("OK", "table-error");
            if (cockpit)
                w->form()->importCockpitButton->click();
            else
                w->form()->actionLoadShip->trigger();
            QTRY_VERIFY(!m_boxText.isEmpty());
            QVERIFY2(m_boxText.contains(notTable), qPrintable(m_boxText));
            QCOMPARE(w->draft().id, untouched.id);
        }
        // Load Ship Data: the picker shows the catalogue's names; the chosen ship fills the tabs.
        m_files = {m_game + "/02.cat"};
        m_dialog = [&ship](QDialog& d) {
            auto* list = d.findChild<QTreeWidget*>("shipList");
            const QList<QTreeWidgetItem*> found = list->findItems(ship.name, Qt::MatchExactly);
            if (found.isEmpty())
                return int(QDialog::Rejected);
            list->setCurrentItem(found.first());
            QMetaObject::invokeMethod(&d, "Slot_Selected");
            return d.result();
        };
        w->form()->actionLoadShip->trigger();
        ShipDraft d = w->draft();
        QCOMPARE(d.id, ship.id);
        QCOMPARE(d.sceneName, ship.scene);
        QCOMPARE(d.existingTextId, ship.nameText);
        QCOMPARE(d.name, ship.name);
        QVERIFY(w->form()->rawDataEdit->toPlainText().endsWith(ship.id + QLatin1Char(';')));

        // Texts from the catalogue; dummies, components and cockpits through their dialogs.
        m_files = {m_game + "/02.cat"};
        choose(w->form()->textList, "importFile");
        QCOMPARE(w->draft().texts.size(), 1);
        QCOMPARE(w->draft().texts.first().Name, ship.name);

        m_dialog = [](QDialog& d) {
            d.findChild<QTreeWidget*>()->selectAll();
            d.accept();
            return int(QDialog::Accepted);
        };
        m_files = {m_game + "/02.cat"};
        QTest::mouseClick(w->form()->importDummyButton, Qt::LeftButton);
        const int dummies = int(w->draft().dummies.size());
        QVERIFY(dummies > 0);
        m_files = {m_game + "/01.cat"};
        QTest::mouseClick(w->form()->importCompButton, Qt::LeftButton);
        QVERIFY(!w->draft().components.isEmpty());
        m_files = {m_game + "/01.cat"};
        QTest::mouseClick(w->form()->importCockpitButton, Qt::LeftButton);
        QCOMPARE(w->draft().cockpits.size(), SampleGame::CockpitCount);

        // A catalogue without the table and a file that is no table: a message, the
        // lists unchanged.
        m_files = {m_game + "/02.cat"};
        QTest::mouseClick(w->form()->importCompButton, Qt::LeftButton);
        m_files = {m_game + "/vega.exe"};
        QTest::mouseClick(w->form()->importDummyButton, Qt::LeftButton);
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.first().text.endsWith(m_game + "/02.cat"));
        QCOMPARE(w->draft().dummies.size(), dummies);
        QVERIFY(QDir(m_program + "/Slipway").entryList(QDir::Files).isEmpty());
        screenshot(w.get(), "loaded-ship");
    }
    void popupMenusEditLists()
    {
        auto w = makeWindow();
        Ui::DCreateShip& ui = *w->form();
        const QString dir = m_root.filePath("models");
        QVERIFY(QDir().mkpath(dir));
        for (const char* n : {"a.bod", "b.bob", "c.pbd", "t.jpg", "s.xml"})
            QVERIFY(writeFile(dir + QLatin1Char('/') + QLatin1String(n), QByteArray(1023, 'x')));

        // Models: add, make ship scene, change directory, remove, clear.
        m_files = {dir + "/a.bod", dir + "/b.bob", dir + "/missing.bod"};
        m_inputs = {"objects\\ships"};
        choose(ui.modelList, "add");
        QCOMPARE(w->draft().models.size(), 1);
        QCOMPARE(w->draft().models.first().dir, "objects/ships");
        QCOMPARE(w->draft().models.first().files, (QStringList{dir + "/a.bod", dir + "/b.bob"}));
        firstFile(ui.modelList)->setSelected(true);
        choose(ui.modelList, "shipScene");
        QCOMPARE(w->draft().sceneFile, dir + "/a.bod");
        QCOMPARE(DraftTreeFiles(w->draft().models), QStringList{dir + "/b.bob"});
        ui.cockpitFileEdit->setText(dir + "/c.pbd");
        firstFile(ui.modelList)->setSelected(true);
        choose(ui.modelList, "cockpitScene");
        QCOMPARE(w->draft().cockpitFile, dir + "/b.bob");
        QCOMPARE(DraftTreeFiles(w->draft().models), QStringList{dir + "/c.pbd"});
        firstFile(ui.modelList)->setSelected(true);
        m_inputs = {"cut"};
        choose(ui.modelList, "changeDir");
        QCOMPARE(w->draft().models.first().dir, "cut");
        firstFile(ui.modelList)->setSelected(true);
        choose(ui.modelList, "remove");
        QVERIFY(w->draft().models.isEmpty());

        // Texts: add through the dialog, rename, remove.
        m_dialog = [](QDialog& d) {
            auto* t = qobject_cast<LanguageText*>(&d);
            t->languageBox()->setValue(49);
            t->nameEdit()->setText("Säger: X");
            t->descriptionEdit()->setPlainText("Ein Jäger");
            return int(QDialog::Accepted);
        };
        choose(ui.textList, "add");
        QCOMPARE(w->draft().texts.size(), 1);
        QCOMPARE(w->draft().texts.first().Language, 49);
        QCOMPARE(w->draft().texts.first().Name, "Säger X");
        ui.textList->topLevelItem(0)->setSelected(true);
        m_inputs = {"Merganser"};
        choose(ui.textList, "changeName");
        QCOMPARE(w->draft().texts.first().Name, "Merganser");
        choose(ui.textList, "remove");
        QVERIFY(w->draft().texts.isEmpty());

        // Components and cockpits can only be removed.
        ShipDraft d = w->draft();
        d.components = {{"c", "g", "1;"}, {"c", "g", "2;"}};
        d.cockpits = {"a;", "b;", "c;"};
        w->setDraft(d);
        ui.compList->topLevelItem(0)->setSelected(true);
        choose(ui.compList, "remove");
        QCOMPARE(w->draft().components.size(), 1);
        ui.cockpitList->topLevelItem(0)->setSelected(true);
        choose(ui.cockpitList, "remove");
        QCOMPARE(w->draft().cockpits, (QStringList{"b;", "c;"}));
        QCOMPARE(ui.cockpitList->topLevelItem(0)->text(0), "0");
        choose(ui.cockpitList, "clear");
        QVERIFY(w->draft().cockpits.isEmpty());
    }
    void dropsOfFiles()
    {
        auto w = makeWindow();
        Ui::DCreateShip& ui = *w->form();
        const QString dir = m_root.filePath("drop zone");
        QVERIFY(QDir().mkpath(dir + "/folder.bod"));
        for (const char* n : {"x y.BOD", "z.pbb", "s.pck"})
            QVERIFY(writeFile(dir + QLatin1Char('/') + QLatin1String(n), "1"));
        auto drop = [](QTreeWidget* list, QMimeData* data) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &enter);
            QDropEvent event(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &event);
            delete data;
        };
        // Text with escapes, as old file managers send it; .pbb and folders are not models.
        auto* text = new QMimeData;
        QString encoded = dir + QStringLiteral("/x%20y.BOD\r\n") + dir +
                          QStringLiteral("/z.pbb\n") + dir + "/folder.bod";
        encoded.replace(QLatin1String("drop zone"), QLatin1String("drop%20zone"));
        text->setText(encoded);
        m_inputs = {"objects/"};
        drop(ui.modelList, text);
        QCOMPARE(DraftTreeFiles(w->draft().models), QStringList{dir + "/x y.BOD"});
        // File URLs, as file managers send them today.
        auto* urls = new QMimeData;
        urls->setUrls(
            {QUrl::fromLocalFile(dir + "/s.pck"), QUrl::fromLocalFile(dir + "/gone.xml")});
        drop(ui.scriptList, urls);
        QCOMPARE(w->draft().scripts, QStringList{dir + "/s.pck"});
        // Nothing that exists: no question, nothing added.
        auto* none = new QMimeData;
        none->setText(dir + "/gone.bod");
        m_inputs = {"should not be asked"};
        drop(ui.otherList, none);
        QVERIFY(w->draft().others.isEmpty());
        QCOMPARE(m_inputs.size(), 1);
    }
    void newShipAndClose()
    {
        const QString config = m_program + "/config.dat";
        const QByteArray old = readFile(config);
        const qsizetype from = old.indexOf("<installer>");
        const QByteArray installerBlock = old.mid(from, old.indexOf("<creator>") - from);
        QVERIFY(installerBlock.startsWith("<installer>\n"));
        auto w = makeWindow();
        ShipDraft d = w->draft();
        QCOMPARE(d.author, "Orrin Vale");
        d.name = "Merganser";
        d.record = "1;2;X;";
        w->setDraft(d);

        QtPrompter::setNextAnswers({1}); // "No"
        w->form()->actionNew->trigger();
        QCOMPARE(w->draft().name, "Merganser");
        QtPrompter::setNextAnswers({0});
        w->Slot_New();
        QCOMPARE(w->draft().name, QString());
        QVERIFY(w->draft().record.endsWith(QLatin1String("HW_NEW_SHIP;")));
        QCOMPARE(w->draft().author, "Orrin Vale");
        QCOMPARE(QtPrompter::takeAsked().size(), 2);
        // A fresh ship is nothing to lose: New asks no more.
        w->Slot_New();
        QVERIFY(QtPrompter::takeAsked().isEmpty());
        d = w->draft();
        d.name = "Smew";
        w->setDraft(d);

        QVERIFY(QDir().mkpath(m_program + "/Slipway/objects"));
        QtPrompter::setNextAnswers({1}); // keep editing
        QTest::mouseClick(w->form()->closeButton, Qt::LeftButton);
        QVERIFY(w->isVisible());
        QtPrompter::setNextAnswers({0});
        QVERIFY(w->close());
        QCOMPARE(QtPrompter::takeAsked().size(), 2);
        QVERIFY(!QFileInfo::exists(m_program + "/Slipway"));
        QVERIFY(!QFileInfo::exists(m_program + "/temp"));
        const QByteArray written = readFile(config);
        QVERIFY(written.contains("<creator>\nVegaDir: " + m_game.toLocal8Bit() + "\nModDir: \n"));
        QVERIFY(written.contains("DefAuthor: Orrin Vale\n"));
        QVERIFY(written.endsWith("</creator>\n" + installerBlock));
    }
    void editModeAndBadInput()
    {
        ShipRegistry registry;
        ShipPackage ship;
        ship.Name = "Merg/anser";
        ship.Author = "Orrin Vale";
        ship.Data = "1;2;SS_SH_MERG;";
        ship.Texts = {{44, ship.Name, "A fighter"}};
        registry.Ships << ship;
        QVERIFY(WriteRegistry(m_game, registry));
        {
            auto w = makeWindow();
            StartRequest request;
            request.editModePath = m_game + "/Merg<fslash>anser~Orrin Vale";
            QVERIFY(w->processStart(request));
            QVERIFY(w->editMode());
            QVERIFY(w->windowTitle().contains(QLatin1String("Merg/anser")));
            QVERIFY(w->form()->menubar->isHidden() && w->form()->saveAsButton->isHidden());
            // The record as installed; the editor may write out empty scene fields.
            QVERIFY2(w->draft().record.startsWith(ship.Data), qPrintable(w->draft().record));
            QVERIFY(!w->hasUnsavedChanges());
            QtPrompter::setNextAnswers({});
            QVERIFY(w->close()); // nothing changed: no question
            QVERIFY(QtPrompter::takeAsked().isEmpty());
        }
        // A config.dat that is no settings file and a first-start choice that is no
        // game directory: defaults and a warning, no crash.
        QVERIFY(writeFile(m_program + "/config.dat", QByteArray("\x00\xff<creator\n\x01", 14)));
        m_files = {m_root.filePath("program")};
        auto w = makeWindow();
        QVERIFY(w->settings().gameDirs.isEmpty());
        QVERIFY(QtPrompter::takeAsked().value(0).text.contains(QLatin1String("vega.exe")));
        StartRequest missing;
        missing.editModePath = m_game + "/Nobody~None";
        QVERIFY(w->processStart(missing));
        QVERIFY(!w->editMode());
    }
    void openAndSave()
    {
        using namespace CreatorText;
        const QString samples = m_root.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(samples));
        auto w = makeWindow();

        QVERIFY(writeFile(samples + "/bad.xsp", "Packager: 1\nPackager: 3\n"));
        for (const QString name : {"bad.xsp", "Merganser.xsp"}) {
            m_files = {samples + QLatin1Char('/') + name};
            QtPrompter::setNextAnswers({0});
            w->form()->actionOpen->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(m_files.isEmpty() && w->form()->centralwidget->isEnabled(),
                                     30000);
        }
        QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        // An untouched editor is cleared without a question; the damaged one fails.
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.at(0).text.contains("newer"));
        QCOMPARE(w->draft().name, "Merganser");
        QVERIFY(w->draft().sceneFile.startsWith(QLatin1String("<PACKAGE>/objects/")));
        QVERIFY(!w->hasUnsavedChanges());
        QVERIFY(w->windowTitle().endsWith("Merganser.xsp"));

        ShipDraft d = w->draft();
        d.id.clear();
        w->setDraft(d);
        w->Slot_SaveAs();
        asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().text, w->texts().own(MissingId));

        d.id = "OV-MERGANSER";
        w->setDraft(d);
        const QString out = m_root.filePath("saved");
        m_files = {out};
        w->Slot_SaveAs();
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(out + ".xsp") && w->form()->centralwidget->isEnabled(), 30000);
        // The sample passes the check: no box before the one saying it was saved.
        asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().caption != w->texts().own(CheckCaption));
        QVERIFY(w->windowTitle().endsWith("saved.xsp"));

        // The package is saved but its update-info file cannot be: the real box
        // says so, and the editor holds nothing unsaved.
        d = w->draft();
        d.web = "http://ships.example/";
        d.writeUpdateInfo = true;
        w->setDraft(d);
        QVERIFY(QDir().mkpath(m_root.filePath("Merganser.dat/blocked")));
        answerBox("OK", "save-updateinfo-failed");
        w->Slot_Save();
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxText.isEmpty() && w->form()->centralwidget->isEnabled(),
                                 30000);
        QVERIFY2(m_boxText.contains("was saved") && m_boxText.contains("Merganser.dat"),
                 qPrintable(m_boxText));
        QVERIFY(!w->hasUnsavedChanges());
    }

    void languages()
    {
        // No language in config.dat: a first start speaks the system's language;
        // the settings switch it and the whole window follows.
        QVERIFY(writeConfig(m_program, m_game));
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::French, QLocale::Canada));
        auto w = makeWindow();
        QLocale::setDefault(before);
        Ui::DCreateShip& ui = *w->form();
        QCOMPARE(ui.menuFile->title(), QStringLiteral("&Fichier"));
        QCOMPARE(ui.tabs->tabText(0), QString::fromUtf8("G\xc3\xa9n\xc3\xa9ral"));
        for (const QString& t : visibleTexts(w.get()))
            QVERIFY2(!t.contains(QLatin1String("ReadText-")), qPrintable(t));

        QStringList offered;
        m_dialog = [&offered](QDialog& d) {
            auto* box = d.findChild<QComboBox*>("languageBox");
            for (int i = 0; i < box->count(); ++i)
                offered << box->itemText(i);
            box->setCurrentIndex(box->findData(QStringLiteral("Deutsch")));
            return int(QDialog::Accepted);
        };
        w->Slot_Config();
        QCOMPARE(offered.value(1), QString::fromUtf8("Deutsch (49) - par Hullwright project"));
        QCOMPARE(ui.menuFile->title(), QStringLiteral("&Datei"));
        QCOMPARE(ui.tabs->tabText(0), QStringLiteral("Allgemein"));
        QCOMPARE(w->settings().language, QStringLiteral("Deutsch"));
        for (const QString& t : visibleTexts(w.get()))
            QVERIFY2(!t.contains(QLatin1String("ReadText-")), qPrintable(t));
        QVERIFY(readFile(m_program + "/config.dat").startsWith("<common>\nLanguage: Deutsch\n"));
        ConfigDialog config(w->texts(), w->settings());
        screenshot(&config, "DConfigDialog-de");
        // The toolkit's own buttons follow, where its translations are installed.
        if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm")) {
            QWizard wizard;
            QVERIFY(!wizard.buttonText(QWizard::FinishButton).contains("Finish"));
        }
    }

    // The settings dialog's fast-save box goes into config.dat, and the window's
    // save follows it.
    void fastSaveSetting_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::newRow("ticked") << true;
        QTest::newRow("unticked") << false;
    }
    void fastSaveSetting()
    {
        QFETCH(bool, fast);
        // The box starts in the other state.
        if (!fast) {
            QByteArray config = readFile(m_program + "/config.dat");
            config.replace("</creator>", "FastSave\n</creator>");
            QVERIFY(writeFile(m_program + "/config.dat", config));
        }
        const QString samples = m_root.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(samples));
        auto w = makeWindow();
        QCOMPARE(w->settings().fastSave, !fast);
        m_dialog = [fast](QDialog& d) {
            auto* box = d.findChild<QCheckBox*>("fastSaveCheck");
            if (!box || box->isChecked() == fast)
                return int(QDialog::Rejected);
            box->click();
            return int(QDialog::Accepted);
        };
        w->Slot_Config();
        QCOMPARE(w->settings().fastSave, fast);
        QCOMPARE(readFile(m_program + "/config.dat").contains("\nFastSave\n"), fast);

        m_files = {samples + "/Merganser.xsp"};
        w->form()->actionOpen->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w->currentPackage() && w->form()->centralwidget->isEnabled(),
                                 30000);
        const QString out = m_root.filePath(fast ? "fast" : "standard");
        m_files = {out};
        w->Slot_SaveAs();
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(out + ".xsp") && w->form()->centralwidget->isEnabled(), 30000);
        QCOMPARE(EncodedModes(out + ".xsp"),
                 QList<int>{int(fast ? LzmaMode::Fast : LzmaMode::Standard)});
    }

    // The question before closing comes exactly when something is unsaved.
    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("asks");
        QTest::newRow("fresh window") << "" << false;
        QTest::newRow("changed draft") << "edit" << true;
        QTest::newRow("opened package") << "open" << false;
        QTest::newRow("opened, then changed") << "open edit" << true;
        QTest::newRow("saved with a screenshot") << "open picture save" << false;
        QTest::newRow("saved, then changed") << "open picture save edit" << true;
    }
    void unsavedChangesQuestion()
    {
        QFETCH(QString, before);
        QFETCH(bool, asks);
        const QString samples = m_root.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(samples));
        QVERIFY(writeFile(m_root.filePath("shot.png"), "picture"));
        auto w = makeWindow();
        for (const QString& step : before.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            ShipDraft d = w->draft();
            if (step == "edit") {
                d.comment += "more";
                w->setDraft(d);
            } else if (step == "picture") {
                d.picture = m_root.filePath("shot.png");
                w->setDraft(d);
            } else if (step == "open") {
                m_files = {samples + "/Merganser.xsp"};
                w->form()->actionOpen->trigger();
                QTRY_VERIFY_WITH_TIMEOUT(w->currentPackage() && w->form()->centralwidget->isEnabled(), 30000);
            } else if (step == "save") {
                m_files = {m_root.filePath("unsaved-test")};
                QtPrompter::setNextAnswers({0, 0}); // save anyway; the saved box
                w->Slot_SaveAs();
                QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle().endsWith("unsaved-test.xsp") &&
                                             w->form()->centralwidget->isEnabled(),
                                         30000);
            }
        }
        QtPrompter::takeAsked();
        QtPrompter::setNextAnswers({0});
        QVERIFY(w->close());
        QCOMPARE(QtPrompter::takeAsked().size(), asks ? 1 : 0);
    }

    // Edit mode through the window with the real message boxes: a clean save
    // says what it did and leaves nothing unsaved; a ship changed meanwhile is
    // offered for reloading; another ship's name is refused.
    void editModeWindow()
    {
        using namespace CreatorText;
        const QString game = m_root.filePath("editgame");
        QString error;
        QVERIFY2(SampleGame::MakeSampleGame(game, &error), qPrintable(error));
        ShipRegistry registry;
        ShipPackage ship;
        ship.Name = "Merganser";
        ship.Author = "Orrin Vale";
        ship.Version = "1.0";
        // A whole record of the game's own table, so that the check has nothing to say.
        for (const QByteArray& line : SampleGame::ShipTable().split('\n'))
            if (line.count(';') > 40 && ship.Data.isEmpty())
                ship.Data = QString::fromLatin1(line).trimmed();
        const QStringList fields = ship.Data.split(QLatin1Char(';'));
        ship.ID = fields.value(fields.size() - 2);
        const QString scene = fields.value(16);
        ship.SceneFile = PackageFile{1000, 10,
                                     (scene.contains(QLatin1Char('/')) ? "objects/" : "objects/cut/") +
                                         scene + ".bod",
                                     {}, false};
        ship.Texts = {{44, ship.Name, "A fighter"}};
        registry.Ships << ship;
        ShipPackage other = ship;
        other.Name = "Smew";
        other.ID = "OV_SMEW";
        other.SceneFile.reset();
        registry.Ships << other;
        QVERIFY(WriteRegistry(game, registry));

        auto w = makeWindow();
        StartRequest request;
        request.editModePath = game + "/Merganser~Orrin Vale";
        QVERIFY(w->processStart(request));
        QVERIFY(w->editMode());
        // A clean edit-mode save: no package-check warning, the real success box.
        ShipDraft d = w->draft();
        d.comment = "Edited in place";
        w->setDraft(d);
        answerBox("OK", "editmode-saved");
        w->Slot_Save();
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxText.isEmpty() && w->form()->centralwidget->isEnabled(), 30000);
        QVERIFY2(m_boxText.contains("was changed") && m_boxText.contains("Update Mod"), qPrintable(QString(m_boxText).replace(QLatin1Char('\n'), QLatin1Char('|'))));
        QCOMPARE(LoadInstalledShip(request.editModePath)->Comment, "Edited in place");
        QVERIFY(!w->hasUnsavedChanges());

        // Drydock installs a newer version meanwhile: nothing is written, and
        // Reload shows the installed ship.
        QVERIFY(ReadRegistry(game, registry));
        registry.Ships[0].Version = "2.0";
        QVERIFY(WriteRegistry(game, registry));
        const QByteArray newer = readFile(game + "/Slipway/ships.dat");
        d = w->draft();
        d.comment = "stale edit";
        w->setDraft(d);
        answerBox("Reload", "editmode-changed");
        w->Slot_Save();
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxText.isEmpty(), 30000);
        QVERIFY2(m_boxText.contains("2.0") && m_boxText.contains("Nothing was saved"), qPrintable(m_boxText));
        QCOMPARE(readFile(game + "/Slipway/ships.dat"), newer);
        QTRY_COMPARE(w->draft().version, "2.0");

        // A rename onto another installed ship.
        d = w->draft();
        d.name = "Smew";
        w->setDraft(d);
        answerBox("OK", "editmode-collision");
        w->Slot_Save();
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxText.isEmpty() && w->form()->centralwidget->isEnabled(), 30000);
        QVERIFY2(m_boxText.contains("already named Smew"), qPrintable(m_boxText));
        QCOMPARE(readFile(game + "/Slipway/ships.dat"), newer);

        // A wrong argument explains the form and names the folder looked in.
        auto second = makeWindow();
        StartRequest wrong;
        wrong.editModePath = game + "/Merganser";
        answerBox("OK", "editmode-argument");
        QVERIFY(second->processStart(wrong));
        QVERIFY(!second->editMode());
        QVERIFY2(m_boxText.contains("~") && m_boxText.contains(game), qPrintable(m_boxText));
        QVERIFY(!m_boxText.contains("%"));
    }

    // File dialogs start where the user last was for that kind of file; the
    // configured folder stays in config.dat; SaveWeb fills an empty web address;
    // the target folder follows the added file's place in its mod.
    void dialogFoldersAndDefaults()
    {
        using namespace CreatorText;
        const QString samples = m_root.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(samples));
        const QString configured = m_root.filePath("configured");
        QVERIFY(QDir().mkpath(configured));
        QByteArray config = readFile(m_program + "/config.dat");
        config.replace("</creator>", "SaveDir: " + configured.toUtf8() +
                                         "\nDefWeb: http://def.example/ships\nSaveWeb\n</creator>");
        QVERIFY(writeFile(m_program + "/config.dat", config));
        auto w = makeWindow();

        m_files = {samples + "/Merganser.xsp"};
        w->form()->actionOpen->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w->currentPackage() && w->form()->centralwidget->isEnabled(),
                                 30000);
        QCOMPARE(m_dialogSeen, (QStringList{w->texts().own(OpenCaption), configured}));
        w->form()->actionOpen->trigger(); // cancelled
        QCOMPARE(m_dialogSeen.value(1), samples);

        const QString hull = m_root.filePath("mod/objects/ships/heron/hull.bod");
        QVERIFY(QDir().mkpath(QFileInfo(hull).path()) && writeFile(hull, "hull"));
        m_files = {hull};
        m_inputs = {"objects/ships/heron"};
        w->Slot_AddModel();
        QCOMPARE(m_proposed, "objects/ships/heron");

        ShipDraft d = w->draft();
        d.web.clear();
        w->setDraft(d);
        m_files = {m_root.filePath("webdefault")};
        QtPrompter::setNextAnswers({0, 0}); // save anyway; the saved box
        w->Slot_SaveAs();
        QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle().endsWith("webdefault.xsp") &&
                                     w->form()->centralwidget->isEnabled(),
                                 30000);
        QCOMPARE(m_dialogSeen.value(1), samples);
        QCOMPARE(w->draft().web, "http://def.example/ships");
        QCOMPARE(w->currentPackage()->Web, "http://def.example/ships");
        QVERIFY(!w->hasUnsavedChanges());
        QVERIFY(w->close());
        QVERIFY(
            readFile(m_program + "/config.dat").contains("SaveDir: " + configured.toUtf8() + "\n"));
    }

    // Two windows unpack into folders of their own: closing one leaves the
    // other's files; a folder left by a window that is gone is swept away.
    void twoWindowsKeepTheirOwnFiles()
    {
        const QString samples = m_root.filePath("samples");
        QVERIFY(SampleGame::MakeSamplePackages(samples));
        const QString abandoned = m_program + "/work/window-gone";
        QVERIFY(QDir().mkpath(abandoned + "/Slipway"));
        auto first = makeWindow();
        auto second = makeWindow();
        QVERIFY(!QFileInfo::exists(abandoned));
        const QStringList names = SampleGame::PackageFileNames();
        QVERIFY(names.size() >= 2);
        for (CreateShip* w : {first.get(), second.get()}) {
            m_files = {samples + '/' + names.at(w == first.get() ? 0 : 1)};
            w->form()->actionOpen->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(w->currentPackage() && w->form()->centralwidget->isEnabled(),
                                     30000);
        }
        const QString scene = ExpandPackagePath(first->draft().sceneFile, m_program);
        QVERIFY2(QFileInfo(scene).isFile(), qPrintable(scene));
        QVERIFY(second->close());
        second.reset();
        QVERIFY(QFileInfo(scene).isFile());
        QVERIFY(!QFileInfo::exists(m_program + "/work"));
    }

    // The scene pickers offer every scene file, as the file dialog reads filters.
    void scenePickerFilter()
    {
        auto w = makeWindow();
        for (QPushButton* browse : {w->form()->sceneBrowseButton, w->form()->cockpitBrowseButton}) {
            m_filter.clear();
            QTest::mouseClick(browse, Qt::LeftButton);
            const QString inside = m_filter.section(QLatin1Char('('), 1).section(QLatin1Char(')'), 0, 0);
            const QStringList patterns = inside.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const char* file : {"hull.bod", "hull.pbd", "hull.bob"}) {
                bool matched = false;
                for (const QString& p : patterns)
                    matched = matched || QRegularExpression(QRegularExpression::wildcardToRegularExpression(p))
                                             .match(QLatin1String(file))
                                             .hasMatch();
                QVERIFY2(matched, qPrintable(m_filter + " / " + file));
            }
        }
    }

    // Add Language without a ship name keeps the dialog and what was typed.
    void languageDialogNeedsName()
    {
        auto w = makeWindow();
        LanguageText dialog(w->texts(), {}, w.get());
        dialog.show();
        dialog.descriptionEdit()->setPlainText("A long description\nover two lines");
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.findChild<QLabel*>("whyLabel")->isVisible());
        screenshot(&dialog, "language-needs-name");
        dialog.nameEdit()->setText("Merganser");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.text().Description, "A long description over two lines");
    }

private:
    // Lets the next message box come up for real and answers it, by the button
    // whose text contains `button`, from a single-shot timer; m_boxText then
    // holds the box's text.
    void answerBox(const QString& button, const QString& shot)
    {
        m_boxText.clear();
        QtPrompter::setTestMode(false);
        armBox(button, shot);
    }
    void armBox(const QString& button, const QString& shot)
    {
        QTimer::singleShot(20, this, [this, button, shot] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return armBox(button, shot);
            screenshot(box, shot);
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* b : box->buttons())
                if (b->text().remove(QLatin1Char('&')).contains(button))
                    chosen = b;
            QtPrompter::setTestMode(true);
            m_boxText = box->text();
            (chosen ? chosen : box->buttons().constLast())->click();
        });
    }
    QString m_boxText;
    QString m_filter; // of the last file chooser
    QStringList m_dialogSeen; // caption and start folder of the last file chooser
    QString m_proposed;       // the proposed answer of the last text question

    std::unique_ptr<CreateShip> makeWindow()
    {
        auto w = std::make_unique<CreateShip>(m_program);
        w->show();
        return w;
    }
    // Chooses the pop-up action of that name on the list (none when absent).
    void choose(QTreeWidget* list, const QString& action)
    {
        m_menuChoice = action;
        emit list->customContextMenuRequested(QPoint(5, 5));
    }

    QTemporaryDir m_root;
    QString m_game;
    QString m_program;
    QStringList m_files;                   // answers of the file choosers
    QStringList m_inputs;                  // answers of the text and choice questions
    std::function<int(QDialog&)> m_dialog; // answers the window's own dialogs
    QStringList m_menuSeen;                // texts of the pop-up menus shown
    QString m_menuChoice;
};

QTEST_MAIN(TestCreateShip)
#include "tst_createship.moc"
