// "Customize Ship" on the sample game: an untouched dialog saves the record as
// it was, controls write their fields, unreadable fields stay read-only.
// With HULLWRIGHT_SCREENSHOTS=DIR every tab is also saved as a picture into DIR.
#include "configship.h"
#include "createship.h"
#include "hwtest.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "shipdraft.h"
#include "ui_createship.h"
#include "typetable.h"
#include "ui_configship.h"
#include "uiseams_qt.h"
#include "uitexts.h"

#include <QBuffer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestConfigShip : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(SampleGame::MakeSampleGame(m_dir.filePath("game")));
        QDir().mkpath(m_dir.filePath("program"));
        m_ships = ReadTypeTable(SampleGame::ShipTable()).entries;
        QVERIFY(m_texts.load(qEnvironmentVariable("VEGA_PROGRAM_DIR") + "/hw_languages.xml",
                             "English"));
    }
    void untouchedSaveKeepsRecord()
    {
        for (const QString& r : m_ships) {
            ConfigShip d(input(r));
            d.show();
            QCOMPARE(d.record(), r);
            QVERIFY(d.form()->ListMasks->topLevelItemCount() > 0);
            if (TableFieldInt(r, kTurretCountField) <= 2)
                continue;
            Ui::DConfigShip& ui = *d.form();
            if (ui.ListTurrets->topLevelItemCount())
                ui.ListTurrets->setCurrentItem(ui.ListTurrets->topLevelItem(0));
            for (int t = 0; t < ui.Tabs->count(); ++t) {
                ui.Tabs->setCurrentIndex(t);
                ui.TabsGuns->setCurrentIndex(t == 6 ? 1 : 0);
                screenshot(&d, QStringLiteral("configship-%1").arg(t));
            }
        }
    }
    // Shapes the game's own tables have: a header of format 50, symbolic constants
    // in numeric fields, seven turret entries whose third field is a scene path,
    // gun groups without turrets. Unchanged through the editor and the dialog's
    // Save, they keep every byte.
    void realShapesKeepTheirBytes_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("symbolic constants") << shaped(1, 0, true);
        QTest::newRow("seven turret entries") << shaped(7, 2, false);
        QTest::newRow("guns without turrets") << shaped(1, 3, false);
    }
    void realShapesKeepTheirBytes()
    {
        QFETCH(QString, line);
        const QByteArray table = "// a table of the game's newer format\n50;1;\n" + line.toLatin1() + "\n";
        QCOMPARE(ReadTypeTable(table).entries, QStringList{line});
        ShipDraft draft;
        draft.name = "Shaped";
        ApplyTableShip(draft, line);
        QCOMPARE(DraftRecord(draft), line);

        const QString program = m_dir.filePath("shapes-program");
        QVERIFY(copyProgramFiles(program, {"hw_languages.xml", "data"}));
        QVERIFY(writeConfig(program, m_dir.filePath("game")));
        QtPrompter::setTestMode(true);
        CreateShip w(program);
        w.setDraft(draft);
        ModalDialogs::hook = [](QDialog& d) {
            static_cast<ConfigShip&>(d).form()->ButtonSave->click();
            return d.result();
        };
        w.form()->customiseButton->click();
        ModalDialogs::hook = nullptr;
        QCOMPARE(w.form()->rawDataEdit->toPlainText(), line);
        QCOMPARE(w.draft().record, line);
    }
    void controlsWriteFields()
    {
        const QString r = m_ships.value(20);
        ConfigShip d(input(r));
        Ui::DConfigShip& ui = *d.form();
        ui.SpinSpeedMin->setValue(1000);
        ui.SpinSpeed->setValue(3);
        QCOMPARE(ui.LineSpeedMax->text(), "2.6");
        ui.LineSpeedMin->setText("2.5");
        d.Slot_MinSpeedUpdate();
        ui.DialYaw->setValue(301);
        ui.SpinCargoMin->setValue(50);
        ui.SpinCargoMax->setValue(10);
        ui.ComboRace->setCurrentIndex(6);
        QCOMPARE(ui.ComboNotoriety->count(), 1);
        ui.ComboRace->setCurrentIndex(1);
        QCOMPARE(ui.ComboNotoriety->count(), 17);
        d.Slot_Not(2);
        ui.ListMasks->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        const ShipRecord out(d.record());
        QCOMPARE(out.field(7), "1250");
        QCOMPARE(out.field(26), "3");
        QCOMPARE(out.field(2), "0.501667");
        QCOMPARE(out.field(28), "10");
        QCOMPARE(out.field(29), "50");
        QCOMPARE(out.field(out.layout().tailStart + 6), "100000");
        QCOMPARE(out.intField(18), ShipRecord(r).intField(18) & ~1);
        // Automatic entry: one single-slot gun per gun point of the scene.
        bool assigned = false;
        for (const QString& capital : m_ships) {
            ConfigShip c(input(capital));
            const int points = c.form()->ListGunDummies->count();
            if (points == 0)
                continue;
            c.form()->ButtonAutoGuns->click();
            const ShipRecord guns(c.record());
            QCOMPARE(guns.layout().gunGroups, 1);
            QCOMPARE(guns.intField(kTurretCountField + 4 * guns.intField(kTurretCountField) + 5),
                     points);
            assigned = true;
            break;
        }
        QVERIFY(assigned);
        // Race is only a combo change here (setCurrentIndex is not a user pick), so
        // field 45 keeps its text.
        QCOMPARE(out.field(45), ShipRecord(r).field(45));
    }
    // "Standard" / "Custom Cockpit" assign the turret's cockpit; a gun point
    // selects its gun; primary and secondary weapons switch the mask list.
    void cockpitTypeGunPointsWeaponKinds()
    {
        ConfigShip d(input(shaped(2, 1, false)));
        d.show();
        Ui::DConfigShip& ui = *d.form();
        ui.ListTurrets->setCurrentItem(ui.ListTurrets->topLevelItem(0));
        QVERIFY(ui.RadioStdCockpit->isChecked() && !ui.ComboCustCockpit->isEnabled());
        InputDialogs::hook = [](const QString&, const QString&, const QString&) {
            return QString("SS_COCKPIT_HW_A");
        };
        ui.ButtonNewCockpit->click();
        InputDialogs::hook = nullptr;
        QVERIFY(ui.RadioCustCockpit->isChecked());
        const QString custom = ShipRecord(d.record()).turretCockpit(0);
        ui.ComboStdCockpit->setCurrentIndex(2);
        ui.RadioStdCockpit->click();
        QCOMPARE(ShipRecord(d.record()).turretCockpit(0), "2");
        QVERIFY(!ui.ComboCustCockpit->isEnabled() && ui.ComboStdCockpit->isEnabled());
        ui.RadioCustCockpit->click();
        QCOMPARE(ShipRecord(d.record()).turretCockpit(0), custom);
        ui.Tabs->setCurrentWidget(ui.TabTurrets);
        screenshot(&d, "configship-custom-cockpit");

        // Slots 1 and 2 of the shaped ship's one group: point 2 is the second gun.
        ui.ListGunDummies->addItems({"a", "b"});
        ui.ListGunDummies->setCurrentRow(1);
        QVERIFY(ui.ListGuns->currentItem());
        QCOMPARE(ui.ListGuns->currentItem()->text(1), "2");

        const int lasers = ui.ListMasks->topLevelItemCount();
        ui.RadioMissiles->click();
        QVERIFY(ui.RadioMissiles->isChecked());
        QCOMPARE(ui.LineMask->text(), ShipRecord(d.record()).field(24));
        ui.RadioLasers->click();
        QCOMPARE(ui.ListMasks->topLevelItemCount(), lasers);
        QCOMPARE(ui.LineMask->text(), ShipRecord(d.record()).field(18));
    }
    void unreadableFieldsStay()
    {
        ShipRecord r(m_ships.value(3));
        r.setField(5, "SC_CLASS_M3");
        r.setField(kTurretCountField, "100000");
        ConfigShip d(input(r.line()));
        Ui::DConfigShip& ui = *d.form();
        QVERIFY(!ui.ComboClass->isEnabled());
        QCOMPARE(ui.ComboClass->currentText(), "SC_CLASS_M3");
        QVERIFY(!ui.SpinPricePlayer->isEnabled());
        QVERIFY(!ui.TabTurrets->isEnabled());
        QVERIFY(!ui.LabelProblems->text().isEmpty());
        ui.SpinHull->setValue(7);
        ShipRecord expected = r;
        expected.setField(46, "7");
        QCOMPARE(d.record(), expected.line());
    }
    void saveReplacesRawData()
    {
        const QString program = m_dir.filePath("window");
        QVERIFY(QDir().mkpath(program));
        QVERIFY(writeConfig(program, m_dir.filePath("game")));
        QtPrompter::setTestMode(true);
        CreateShip w(program);
        auto* raw = w.findChild<QPlainTextEdit*>("rawDataEdit");
        auto* customise = w.findChild<QPushButton*>("customiseButton");
        QVERIFY(raw && customise && customise->isEnabled());
        const QString before = raw->toPlainText();
        for (int answer : {int(QDialog::Rejected), int(QDialog::Accepted)}) {
            ModalDialogs::hook = [answer](QDialog& d) {
                static_cast<ConfigShip&>(d).form()->SpinHull->setValue(4242);
                return answer;
            };
            customise->click();
            if (answer == QDialog::Rejected)
                QCOMPARE(raw->toPlainText(), before);
        }
        ModalDialogs::hook = nullptr;
        ShipRecord expected(before);
        expected.setField(46, "4242");
        QCOMPARE(raw->toPlainText(), expected.line());
    }
    void showsNumberedAndGameTexts()
    {
        ConfigShip::Input in = input(m_ships.value(20));
        ConfigShip d(in);
        Ui::DConfigShip& ui = *d.form();
        const QString shown = visibleTexts(&d).join('|');
        QVERIFY2(!shown.contains("ReadText-"), qPrintable(shown));
        // Races and cargo sizes are the game's own names, in record order.
        QCOMPARE(ui.ComboRace->itemText(0), "Argon");
        QCOMPARE(ui.ComboRace->itemText(7), "Pirates");
        QCOMPARE(ui.ComboCargoType->itemText(3), "Extra Large");
        ui.ComboRace->setCurrentIndex(0);
        QCOMPARE(ui.ComboNotoriety->itemText(1), "Rank 1");

        // A translation reaches the form by number.
        QByteArray xml =
            "<languages><language name='Test' id='49'><creator>"
            "<t id='305'>Rasse:</t><t id='389'>Fracht %1</t></creator></language></languages>";
        QBuffer buffer(&xml);
        UiTexts texts(UiTexts::Program::Creator);
        QVERIFY(buffer.open(QIODevice::ReadOnly) && texts.load(buffer, "Test"));
        in.texts = &texts;
        in.settings.gameDirs.clear();
        ConfigShip translated(in);
        QCOMPARE(translated.form()->LabelRace1->text(), "Rasse:");
        QCOMPARE(translated.form()->ComboCargoType->itemText(2), "Fracht 2");
    }
    void positionsFromSceneParts()
    {
        const QString dir = m_dir.filePath("program/Slipway/objects");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(dir + "/ship.bod",
                          "// scene\rVER: 1;\rP 0; B ships\\hull;\rP 11; B ships\\gun;\rP 12;;\r"));
        ConfigShip::Input in = input(m_ships.value(20));
        in.sceneFile = "<PACKAGE>/objects/ship.bod";
        ConfigShip d(in);
        Ui::DConfigShip& ui = *d.form();
        QCOMPARE(ui.ComboSceneParts->count(), 4); // an empty item, then the parts
        QCOMPARE(ui.ComboSceneParts->itemText(2), "11  ships\\gun");
        ui.LineTurretPart->setText("3:7");
        d.Slot_ScenePart(2);
        QCOMPARE(ui.LineTurretPart->text(), "11:7");
        const int rows = d.editor().turretRows();
        d.Slot_AddTurret();
        QCOMPARE(d.editor().turretPart(rows), "11:7");

        // Another scene, here one with no part lines, replaces the offer.
        FileDialogs::filesHook = [&](const QString&, const QString&, const QString&) {
            return QStringList{m_dir.filePath("program/Slipway/objects/none.bob")};
        };
        QFile binary(dir + "/none.bob");
        QVERIFY(binary.open(QIODevice::WriteOnly) && binary.write("BOB1\0\1P 5; x") > 0);
        binary.close();
        d.Slot_GetDirectory();
        FileDialogs::filesHook = nullptr;
        QCOMPARE(ui.ComboSceneParts->count(), 1);
        QVERIFY(!ui.ComboSceneParts->isEnabled());
        QCOMPARE(ui.LineScene->text(), "none.bob");
    }

private:
    // A record of class 2 (number 3 in data/classes) with T turret entries whose
    // third field is a scene path and G gun groups of two guns.
    static QString shaped(int turrets, int groups, bool symbolic)
    {
        QStringList f = QString::fromLatin1(kDefaultShipLine).split(';');
        f[kClassField] = "2";
        f[kClassNumberField] = "3";
        f[kSceneField] = "ships\\argon\\argon_TL_scene";
        f[kCockpitSceneField] = "cockpits\\argon_TL_cockpit";
        if (symbolic) {
            f[9] = "SND_ENGINE_HEAVY";
            f[47] = "EXPL_CAPITAL";
            f[22] = "SG_SH_125MJ";
        }
        for (int k = 1; k < turrets && k <= kTurretPairs; ++k)
            f[kTurretPairFirstField + 2 * (k - 1)] = QString::number(k);
        QStringList var{QString::number(turrets)};
        for (int k = 0; k < turrets; ++k)
            var << QString::number(k + 1) << QString::number(k)
                << (k ? QStringLiteral("ships\\argon\\turret_%1_scene").arg(k) : "0") << "0";
        var << QString::number(groups);
        for (int g = 0, slot = 1; g < groups; ++g) {
            var << QString::number(slot) << "0" << QString::number(g + 1) << "2";
            for (int i = 0; i < 2; ++i, ++slot)
                var << QString::number(slot) << "1" << QString::number(g) << "0" << "0" << "0";
        }
        return (f.mid(0, kTurretCountField) + var + f.mid(55)).join(';');
    }
    ConfigShip::Input input(const QString& record) const
    {
        ConfigShip::Input in;
        in.record = record;
        in.classes = {{1, "Scout"},     {2, "Fighter"},   {3, "Heavy"},   {4, "Corvette"},
                      {5, "Freighter"}, {6, "Transport"}, {7, "Frigate"}, {8, "Carrier"}};
        in.variants = {{1, "Standard"}, {2, "Long Range"}, {3, "Raider"}};
        in.settings.gameDirs = {m_dir.filePath("game")};
        in.programDir = m_dir.filePath("program");
        in.sceneName = TableField(record, 16);
        in.texts = &m_texts;
        return in;
    }
    QTemporaryDir m_dir;
    QStringList m_ships;
    UiTexts m_texts{UiTexts::Program::Creator};
};

QTEST_MAIN(TestConfigShip)
#include "tst_configship.moc"
