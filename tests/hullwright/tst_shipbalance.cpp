// "Balance Ship" and the profile dialogs driven as a user would: the dialog
// gives the record hullwright-cli gives for the same inputs, "Done" rewrites the
// raw data, profiles are listed, made, edited and imported.
// With HULLWRIGHT_SCREENSHOTS=DIR the dialogs are also saved as pictures.
#include "createship.h"
#include "creatortexts.h"
#include "hwtest.h"
#include "installersettings.h"
#include "profiledialogs.h"
#include "samplegame.h"
#include "shipbalance.h"
#include "shiprecord.h"
#include "typetable.h"
#include "ui_createprofile.h"
#include "ui_createship.h"
#include "ui_manageprofile.h"
#include "ui_selectvariant.h"
#include "ui_shipbalance.h"
#include "uiseams_qt.h"

#include <QTemporaryDir>
#include <QtTest>

class TestShipBalance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
        QVERIFY(m_texts.load(m_bin + "/hw_languages.xml", "English"));
        m_game = m_root.filePath("game");
        QVERIFY(SampleGame::MakeSampleGame(m_game));
        m_ships = ReadTypeTable(SampleGame::ShipTable()).entries;
        QtPrompter::setTestMode(true);
        ModalDialogs::hook = [this](QDialog& d) {
            return m_dialog ? m_dialog(d) : int(QDialog::Rejected);
        };
        FileDialogs::filesHook = [this](const QString&, const QString&, const QString&) {
            return std::exchange(m_files, {});
        };
        InputDialogs::hook = [this](const QString&, const QString&, const QString&) {
            return m_inputs.isEmpty() ? QString() : m_inputs.takeFirst();
        };
    }
    void init()
    {
        m_program = m_root.filePath("program");
        QDir(m_program).removeRecursively();
        QVERIFY(copyProgramFiles(m_program, {"data", "Icons", "Profiles", "hw_languages.xml"}));
        QVERIFY(writeConfig(m_program, m_game));
        m_dialog = nullptr;
        QtPrompter::setNextAnswers({});
        QtPrompter::takeAsked();
    }
    void dialogEqualsCli_data()
    {
        QTest::addColumn<int>("ship");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("moved"); // slider name; empty: the Balance button
        QTest::addColumn<int>("to");        // new slider value
        QTest::newRow("equal") << 4 << "equal" << QString() << 0;
        QTest::newRow("lowest") << 14 << "lowest" << QString() << 0;
        QTest::newRow("highest") << 25 << "highest" << QString() << 0;
        QTest::newRow("auto speed") << 12 << "equal" << QString("speed") << 0;
        QTest::newRow("auto hull") << 31 << "lowest" << QString("hull") << 100000;
        QTest::newRow("auto shields") << 20 << "highest" << QString("shields") << 1;
    }
    void dialogEqualsCli()
    {
        QFETCH(int, ship);
        QFETCH(QString, mode);
        QFETCH(QString, moved);
        QFETCH(int, to);
        const QString record = m_ships.value(ship);
        const ProfileFile profile = profileFor(record);
        ShipBalance d(m_texts, profile, record);
        QVERIFY(d.loaded());
        Ui::DShipBalance& ui = *d.form();
        (mode == "lowest"    ? ui.RadioLowest
         : mode == "highest" ? ui.RadioHighest
                             : ui.RadioEqual)
            ->setChecked(true);
        QStringList args{"balance", record, profile.path, "--mode", mode};
        if (moved.isEmpty()) {
            ui.ButtonBalance->click();
        } else {
            const BalanceSlider s = *BalanceSliderFromName(moved);
            ui.CheckAuto->setChecked(true);
            QSlider* slider = d.slider(s);
            slider->setValue(to); // valueChanged: the slot balances with this slider
            const qint64 value = s == BalanceSlider::Shields
                                     ? slider->value()
                                     : d.balancer().range(s).min + slider->value();
            args << "--moved" << moved + '=' + QString::number(value);
        }
        QVERIFY(d.balancer().average() == 100 || d.lastRun().stop != BalanceRun::Stop::Reached);
        const Result cli = run(QStringLiteral(HULLWRIGHT_CLI_PATH), args);
        QCOMPARE(cli.code, 0);
        const QList<QByteArray> lines = cli.out.split('\n');
        QCOMPARE(lines.value(1), "average after: " + QByteArray::number(d.balancer().average()));
        QCOMPARE(QString::fromLatin1(lines.value(2)), d.record());
    }
    // A ship outside its profile: "Done" with nothing moved leaves every byte,
    // and the dialog shows the ship's own values until a slider moves.
    void doneWithoutMoveKeepsRecord()
    {
        const QString record = m_ships.value(17) + "\n";
        const ShipRecord rec(record);
        ProfileFile pf = profileFor(record);
        const int speed = rec.intField(kMinSpeedField), hull = rec.intField(kHullField);
        pf.profile.speed = {speed + 500, speed + 900};
        pf.profile.hull = {hull / 4, hull / 2};
        pf.profile.weapon = {0, 40};
        ShipBalance d(m_texts, pf, record);
        QVERIFY(d.loaded());
        Ui::DShipBalance& ui = *d.form();
        QVERIFY(ui.LabelValueSpeed->text().startsWith(QString::number(speed) + ' '));
        QCOMPARE(ui.LabelValueHull->text(), QString::number(hull));
        QCOMPARE(d.record(), ShipRecord(record).line());
        m_dialog = [](QDialog& dialog) {
            static_cast<ShipBalance&>(dialog).form()->ButtonDone->click();
            return dialog.result();
        };
        // The window with that profile alone: Balance, then Done at once.
        for (const QString& f : QDir(m_program + "/Profiles").entryList({"*.xbp"}))
            QVERIFY(QFile::remove(m_program + "/Profiles/" + f));
        QVERIFY(WriteProfile(m_program + "/Profiles", pf.profile));
        CreateShip w(m_program);
        w.form()->rawDataEdit->setPlainText(record);
        w.form()->balanceButton->click();
        QVERIFY(QtPrompter::takeAsked().isEmpty());
        QCOMPARE(w.form()->rawDataEdit->toPlainText(), record);

        // Moving the hull slider clamps and writes the hull only. The weapons slider
        // stops at an energy of 1, so the recharge total shown is the one written.
        d.slider(BalanceSlider::Hull)->setValue(0);
        d.slider(BalanceSlider::Weapons)->setValue(0);
        const ShipRecord after(d.record());
        QCOMPARE(after.intField(kHullField), hull / 4);
        QCOMPARE(after.intField(kMinSpeedField), speed);
        QCOMPARE(after.intField(kEnergyField), 1);
        QCOMPARE(RechargeTotal(after.doubleField(kRechargeField), 1),
                 d.balancer().statistic(BalanceSlider::Recharge));
    }
    void mainWindow()
    {
        CreateShip w(m_program);
        Ui::DCreateShip& ui = *w.form();

        // Empty record, then a ship no profile fits: a warning each, no dialog.
        int shown = 0;
        m_dialog = [&](QDialog&) {
            ++shown;
            return int(QDialog::Rejected);
        };
        ui.rawDataEdit->setPlainText(QString());
        ui.balanceButton->click();
        ShipRecord orphan(m_ships.value(3));
        orphan.setField(5, "12");
        ui.rawDataEdit->setPlainText(orphan.line());
        ui.balanceButton->click();
        const QList<QtPrompter::Asked> asked = QtPrompter::takeAsked();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.at(0).text.contains("empty"));
        QVERIFY(asked.at(1).text.contains("class 12"));
        QCOMPARE(shown, 0);

        // A second profile for the ship's class: the user picks one from a list;
        // "Done" after a balance rewrites the raw data with the dialog's record.
        const QString record = m_ships.value(17);
        BalanceProfile copy = profileFor(record).profile;
        copy.name = "Copy";
        copy.fileName = "copy";
        QVERIFY(WriteProfile(m_program + "/Profiles", copy));
        ui.rawDataEdit->setPlainText(record + '\n');
        m_inputs = {"Copy (copy.xbp)"};
        QString expected, used;
        m_dialog = [&](QDialog& dialog) {
            auto& d = dynamic_cast<ShipBalance&>(dialog);
            used = d.form()->LabelProfile->text();
            d.form()->ButtonBalance->click();
            expected = d.record();
            return int(QDialog::Accepted);
        };
        ui.balanceButton->click();
        QVERIFY(used.contains("copy.xbp"));
        QVERIFY(expected != record);
        QCOMPARE(ui.rawDataEdit->toPlainText(), expected);
        // Untouched: the raw data keeps its own text.
        ui.rawDataEdit->setPlainText(record + '\n');
        m_inputs = {"Copy (copy.xbp)"};
        m_dialog = [](QDialog&) { return int(QDialog::Accepted); };
        ui.balanceButton->click();
        QCOMPARE(ui.rawDataEdit->toPlainText(), record + '\n');
    }
    void profileDialogs()
    {
        // The list: the shipped profiles and a broken file, shown as unusable.
        QVERIFY(writeFile(m_program + "/Profiles/broken.xbp", "Class: 1\nSpeed: 5;1\n"));
        ProfileContext context;
        context.profilesDir = m_program + "/Profiles";
        context.workDir = m_program + "/temp";
        context.iconFile = m_program + "/Icons/profile.png";
        context.classes = ReadNumberedNames(m_program + "/data/classes");
        context.variants = ReadNumberedNames(m_program + "/data/variant");
        ManageProfile manage(m_texts, context);
        QTreeWidget* list = manage.form()->ListProfiles;
        QCOMPARE(list->topLevelItemCount(), 9);
        const QList<QTreeWidgetItem*> brokenItems =
            list->findItems("broken.xbp", Qt::MatchExactly, 3);
        QCOMPARE(brokenItems.size(), 1);
        QVERIFY(!brokenItems.first()->toolTip(0).isEmpty());
        const QTreeWidgetItem* scout = list->findItems("Scout.xbp", Qt::MatchExactly, 3).value(0);
        QVERIFY(scout && scout->text(1) == "Scout" && scout->text(2) == "Any Variant");
        screenshot(&manage, "manageprofile");

        // Create: an empty name warns and stays; an import fills the fields from
        // the ships of the chosen class and variants; Done writes the file.
        m_files = {m_game + "/02.cat"};
        QString variantLabel, variantShown;
        bool importedRange = false, nameWarned = false;
        m_dialog = [&](QDialog& dialog) -> int {
            if (auto* variants = dynamic_cast<SelectVariant*>(&dialog)) {
                variantLabel = variants->form()->ListVariants->item(2)->text();
                variants->setChecked(2, true);
                screenshot(variants, "selectvariant");
                return QDialog::Accepted;
            }
            auto& editor = dynamic_cast<CreateProfile&>(dialog);
            Ui::DCreateProfile& ui = *editor.form();
            ui.ComboClass->setCurrentIndex(1);
            ui.ButtonImport->click();
            variantShown = ui.ComboVariant->currentText();
            importedRange = ui.SpinSpeedMax->value() > ui.SpinSpeedMin->value();
            screenshot(&editor, "createprofile");
            ui.ButtonDone->click();
            nameWarned =
                QtPrompter::takeAsked().size() == 1 && editor.result() != QDialog::Accepted;
            ui.EditName->setText("Armoured fighters");
            ui.ButtonDone->click();
            return editor.result();
        };
        manage.form()->ButtonCreate->click();
        QCOMPARE(variantLabel, QStringLiteral("  3: Armoured"));
        QCOMPARE(variantShown, QStringLiteral("Armoured"));
        QVERIFY(importedRange);
        QVERIFY(nameWarned);
        ProfileFile made;
        QVERIFY(ReadProfileFile(m_program + "/Profiles/Armoured_fighters.xbp", &made));
        QVERIFY2(made.problem.isEmpty(), qPrintable(made.problem));
        QCOMPARE(made.profile.shipClass, 1);
        QCOMPARE(made.profile.variant, 2);
        QCOMPARE(list->topLevelItemCount(), 10);

        // Edit (double click) shows the file's values and writes back to it.
        QTreeWidgetItem* item =
            list->findItems("Armoured_fighters.xbp", Qt::MatchExactly, 3).value(0);
        QVERIFY(item);
        m_dialog = [&](QDialog& dialog) -> int {
            Ui::DCreateProfile& ui = *dynamic_cast<CreateProfile&>(dialog).form();
            if (ui.SpinSpeedMin->value() != made.profile.speed.min)
                return int(QDialog::Rejected);
            ui.SpinHullMax->setValue(made.profile.hull.max + 1);
            ui.ButtonDone->click();
            return dialog.result();
        };
        emit list->itemDoubleClicked(item, 0);
        ProfileFile edited;
        QVERIFY(ReadProfileFile(made.path, &edited));
        QCOMPARE(edited.profile.hull.max, made.profile.hull.max + 1);
        QCOMPARE(list->topLevelItemCount(), 10);
    }

private:
    ProfileFile profileFor(const QString& ship) const
    {
        return FittingProfiles(ReadProfiles(m_bin + "/Profiles"), ship).usable.value(0);
    }
    QTemporaryDir m_root;
    QString m_bin, m_game, m_program;
    QStringList m_ships;
    UiTexts m_texts{UiTexts::Program::Creator};
    std::function<int(QDialog&)> m_dialog;
    QStringList m_files, m_inputs;
};

QTEST_MAIN(TestShipBalance)
#include "tst_shipbalance.moc"
