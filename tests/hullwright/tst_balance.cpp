// Balancing: the slider mapping and scores on worked examples, profile files
// good and broken, the automatic modes on generated profiles and records (they
// end, stay in range, never leave A further from 100), and the sample game's
// ships against the shipped profiles.
#include "archivefile.h"
#include "balancer.h"
#include "hwtest.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const BalanceMode kModes[] = {BalanceMode::Equal, BalanceMode::LowestFirst,
                              BalanceMode::HighestFirst};

// Every statistic between 1000 and 3000 (middle 2000), shields 2 to 4 with a
// highest count of 5 (16 positions).
BalanceProfile middleProfile()
{
    BalanceProfile p;
    p.name = "Test";
    p.fileName = "test";
    p.shipClass = 3;
    for (BalanceRange* r :
         {&p.tuning, &p.accel, &p.turning, &p.speed, &p.reactor, &p.weapon, &p.recharge, &p.hull})
        *r = {1000, 3000};
    p.cargo[0] = 1000;
    p.cargo[1] = 3000;
    p.shield[0] = 2;
    p.shield[1] = 1;
    p.shield[2] = 4;
    p.shield[3] = 5;
    return p;
}

QString record(QList<QPair<int, QString>> fields)
{
    ShipRecord r = ShipRecord::newShip();
    r.setField(5, "3");
    for (const auto& [n, v] : fields)
        r.setField(n, v);
    return r.line();
}

// A record with every statistic at v (turning and recharge as their totals).
QString recordAt(int v, int shieldType = 3, int shieldCount = 2)
{
    return record({{3, QString::number(v / 6000.0, 'g', 10)},
                   {7, QString::number(v)},
                   {8, QString::number(v)},
                   {13, QString::number(v)},
                   {20, QString::number(v)},
                   {21, "1"},
                   {22, QString::number(shieldType)},
                   {23, QString::number(shieldCount)},
                   {28, QString::number(v)},
                   {29, QString::number(v)},
                   {46, QString::number(v)}});
}

// Fields from..from+n-1 of a record.
QStringList fields(const QString& record, int from, int n)
{
    return record.split(';').mid(from, n);
}

} // namespace

class TestBalance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(SampleGame::MakeSampleGame(m_dir.filePath("game")));
        m_ships = ReadTypeTable(SampleGame::ShipTable()).entries;
        QCOMPARE(m_ships.size(), SampleGame::ShipCount);
    }
    void examples()
    {
        // Speed 1000 to 3000: middle 2000; speed 2000 is slider 1000 and scores 1.0.
        Balancer b(middleProfile());
        QVERIFY(b.load(recordAt(2000)));
        QCOMPARE(b.value(BalanceSlider::Speed), 1000);
        QCOMPARE(b.score(BalanceSlider::Speed), 1.0f);
        // Every slider at the middle (shields at position 8 of 16): A is 100 and
        // balancing changes nothing.
        QCOMPARE(b.value(BalanceSlider::Shields), 6);
        b.setValue(BalanceSlider::Shields, 8);
        QCOMPARE(b.average(), 100);
        const Balancer before = b;
        const BalanceRun run = b.balance(BalanceMode::Equal);
        QCOMPARE(run.stop, BalanceRun::Stop::AlreadyThere);
        QCOMPARE(b.record(), before.record());
        // Set Average puts every slider at half its maximum.
        b.setValue(BalanceSlider::Hull, 0);
        b.setAverage();
        QCOMPARE(b.value(BalanceSlider::Hull), 1000);
        QCOMPARE(b.average(), 100);

        // Steps: 1% of the maximum, down to a multiple of the line step, at least 1.
        BalanceProfile p = middleProfile();
        p.speed = {1000, 1050}; // maximum 50, line step 10
        p.hull = {0, 2500};     // maximum 2500, line step 10
        p.cargo[0] = 0;         // cargo maximum 2500, line step 1
        p.cargo[1] = 2500;
        const Balancer steps(p);
        QCOMPARE(steps.step(BalanceSlider::Speed), 1);
        QCOMPARE(steps.step(BalanceSlider::Hull), 20);
        QCOMPARE(steps.step(BalanceSlider::Cargo), 25);

        // T = 6000 writes field 2 as 1.25 and fields 3 and 4 as 1.
        p = middleProfile();
        p.turning = {0, 9000};
        Balancer t(p);
        QVERIFY(t.load(recordAt(2000)));
        t.setValue(BalanceSlider::Turning, 6000);
        QCOMPARE(fields(t.record(), 2, 3), QStringList({"1.25", "1", "1"}));
    }
    void shieldSequence()
    {
        const BalanceProfile p = middleProfile(); // types 2 to 4, highest count 5
        QCOMPARE(ShieldPositions(p), 4 + 7 + 5);
        QCOMPARE(ShieldPosition(p, 3, 2), 6);
        QCOMPARE(ShieldAt(p, 16).type, 4);
        QCOMPARE(ShieldAt(p, 16).count, 5);
        QCOMPARE(ShieldAt(p, 1).type, 2);
        QCOMPARE(ShieldAt(p, 1).count, 1);
        for (int pos = 1; pos <= 16; ++pos)
            QCOMPARE(ShieldPosition(p, ShieldAt(p, pos).type, ShieldAt(p, pos).count), pos);
        // Outside the sequence: no position; the nearest one for the slider.
        const int outside[][3] = {{5, 1, 16}, {1, 3, 1}, {4, 6, 16}, {3, 0, 5}, {2, 9, 4}};
        for (const auto& o : outside) {
            QCOMPARE(ShieldPosition(p, o[0], o[1]), 0);
            QCOMPARE(NearestShieldPosition(p, o[0], o[1]), o[2]);
        }
    }
    void recordWriteBack()
    {
        // An untouched record comes back as it was.
        const QString r = recordAt(2000);
        Balancer b(middleProfile());
        QVERIFY(b.load(r));
        QCOMPARE(b.record(), r);

        // Shields outside the sequence stay, even after balancing; moving the
        // slider writes a pair of the sequence.
        Balancer out(middleProfile());
        QVERIFY(out.load(recordAt(1000, 5, 3)));
        QVERIFY(out.shieldsOutside());
        QCOMPARE(out.value(BalanceSlider::Shields), 16);
        out.balance(BalanceMode::Equal);
        QCOMPARE(fields(out.record(), 22, 2), QStringList({"5", "3"}));
        out.setValue(BalanceSlider::Shields, 6);
        QCOMPARE(fields(out.record(), 22, 2), QStringList({"3", "2"}));

        // A cargo maximum below the minimum takes the minimum down with it.
        Balancer cargo(middleProfile());
        QVERIFY(cargo.load(recordAt(2500)));
        cargo.setValue(BalanceSlider::Cargo, 200);
        QCOMPARE(fields(cargo.record(), 28, 2), QStringList({"1200", "1200"}));

        // A new energy keeps the total: rate = total / energy. A weapons minimum of
        // 0 still keeps an energy of 1, so a rate gives the total shown.
        BalanceProfile p = middleProfile();
        p.weapon = {0, 4000};
        Balancer energy(p);
        QVERIFY(energy.load(recordAt(2000)));
        energy.setValue(BalanceSlider::Weapons, 4000);
        QCOMPARE(ShipRecord(energy.record()).field(21), "0.5");
        energy.setValue(BalanceSlider::Weapons, 0);
        QCOMPARE(fields(energy.record(), 20, 2), QStringList({"1", "2000"}));

        // Values written with 6 digits read back as written: 5 / 6000 is 0.000833333.
        p.turning = {0, 100};
        Balancer turn(p);
        QVERIFY(turn.load(recordAt(2000)));
        turn.setValue(BalanceSlider::Turning, 5);
        Balancer again(p);
        QVERIFY(again.load(turn.record()));
        QCOMPARE(again.value(BalanceSlider::Turning), 5);

        // Fields that are not numbers are refused by name.
        QString error;
        QVERIFY(!Balancer(middleProfile()).load(record({{7, "fast"}, {21, "x"}}), &error));
        QVERIFY2(error.contains("7") && error.contains("21"), qPrintable(error));
        QVERIFY(!Balancer(middleProfile()).load("1;2;3", &error));
    }
    void profileFile()
    {
        // Written and read back; read in any order, with unknown keys and CR LF.
        BalanceProfile p = middleProfile();
        p.variant = 4;
        p.cargo[2] = 77;
        p.cargo[3] = 9;
        QCOMPARE(ProfileText(ParseProfile(ProfileText(p))), ProfileText(p));
        QByteArray text = ProfileText(p);
        QList<QByteArray> lines = text.split('\n');
        std::reverse(lines.begin(), lines.end());
        text = "Colour: red\r\n" + lines.join("\r\n");
        QCOMPARE(ProfileText(ParseProfile(text)), ProfileText(p));
        QVERIFY(
            ProfileText(p).startsWith("Profile: Test\nClass: 3\nVariant: 4\nAccel: 1000;3000\n"));
        QVERIFY(
            ProfileText(p).endsWith("Cargo: 1000;3000;77;9\nShield: 2;1;4;5\nHull: 1000;3000\n"));
        QCOMPARE(ProfileFileName(" Heavy Fighter/2 "), "Heavy_Fighter_2");

        // Any letters survive the file; a file written as Latin-1 still reads.
        p.name = QString::fromUtf8("Тяжёлый истребитель");
        QCOMPARE(ParseProfile(ProfileText(p)).name, p.name);
        QCOMPARE(ParseProfile("Profile: Caf\xe9 lourd\r\nClass: 3\n").name,
                 QString::fromUtf8("Café lourd"));
    }
    void badProfiles_data()
    {
        QTest::addColumn<QString>("replace"); // "Key: old" -> "new line", or a whole text
        QTest::addColumn<QString>("with");
        QTest::addColumn<QString>("problem"); // part of the problem; empty: usable
        for (const QStringList& r : tableRows("bad-profiles.tsv"))
            QTest::newRow(qPrintable(r[0])) << r[1] << r[2] << r[3];
    }
    void badProfiles()
    {
        QFETCH(QString, replace);
        QFETCH(QString, with);
        QFETCH(QString, problem);
        QString text = QString::fromLatin1(ProfileText(middleProfile()));
        if (replace == QLatin1String("*"))
            text = with;
        else
            text.replace(replace + QLatin1Char('\n'), with.isEmpty() ? QString() : with + '\n');
        bool huge = false;
        const BalanceProfile p = ParseProfile(text.toLatin1(), &huge);
        const QString why = huge ? "A value does not fit in 32 bits." : ProfileProblem(p);
        if (problem.isEmpty()) {
            QVERIFY2(why.isEmpty(), qPrintable(why));
            // A usable profile balances a record without dividing by zero.
            Balancer b(p);
            QVERIFY(b.load(recordAt(1500)));
            const BalanceRun run = b.balance(BalanceMode::Equal);
            QVERIFY(run.stop != BalanceRun::Stop::StepLimit);
        } else {
            QVERIFY2(why.contains(problem), qPrintable(why));
        }
    }
    void profileFolder()
    {
        // A folder of non-profiles: none usable, none fatal; the big and the folder
        // named like a profile are left out.
        QTemporaryDir dir;
        auto write = [&](const QString& name, const QByteArray& data) {
            QVERIFY(writeFile(dir.filePath(name), data));
        };
        write("good.xbp", ProfileText(middleProfile()));
        BalanceProfile other = middleProfile();
        other.variant = 1;
        write("variant1.xbp", ProfileText(other));
        write("garbage.xbp", QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11));
        write("empty.xbp", QByteArray());
        write("big.xbp", QByteArray(100000, 'x'));
        write("notes.txt", ProfileText(middleProfile()));
        QVERIFY(QDir(dir.path()).mkdir("folder.xbp"));
        const QList<ProfileFile> all = ReadProfiles(dir.path());
        QStringList names;
        for (const ProfileFile& pf : all)
            names << pf.profile.fileName + (pf.problem.isEmpty() ? "" : " (unusable)");
        QCOMPARE(names,
                 QStringList({"empty (unusable)", "garbage (unusable)", "good", "variant1"}));

        // Class 3 variant 0: one fits; variant 1: both. Unusable profiles of class 0
        // are reported for class 0 ships.
        QCOMPARE(FittingProfiles(all, recordAt(2000)).usable.size(), 1);
        ShipRecord variant1(recordAt(2000));
        variant1.setField(50, "1");
        QCOMPARE(FittingProfiles(all, variant1.line()).usable.size(), 2);
        ShipRecord class0(recordAt(2000));
        class0.setField(5, "0");
        const ProfileChoice none = FittingProfiles(all, class0.line());
        QVERIFY(none.usable.isEmpty());
        QCOMPARE(none.unusable.size(), 2);
        class0.setField(5, "scout");
        QVERIFY(!FittingProfiles(all, class0.line()).recordReadable);
    }
    void unreachableTargets()
    {
        // Nothing can move (every range is a single value) and A is not 100.
        BalanceProfile fixed = middleProfile();
        for (BalanceRange* r : {&fixed.accel, &fixed.turning, &fixed.speed, &fixed.reactor,
                                &fixed.weapon, &fixed.recharge, &fixed.hull})
            *r = {1000, 1000};
        fixed.cargo[1] = 1000;
        for (BalanceMode mode : kModes) {
            Balancer b(fixed);
            QVERIFY(b.load(recordAt(1000, 4, 5)));
            QCOMPARE(b.average(), 111);
            const BalanceRun run = b.balance(mode);
            QCOMPARE(run.stop, BalanceRun::Stop::NoMove);
            QCOMPARE(run.steps, 0);
        }

        // One slider whose single step jumps over 100 (96 <-> 102): the loop would
        // go round for ever; the run ends when a state repeats and keeps 102, the
        // closer state.
        BalanceProfile jumpy = fixed;
        jumpy.speed = {1, 3};
        jumpy.shield[0] = jumpy.shield[2] = 0;
        jumpy.shield[3] = 5;
        for (BalanceMode mode : kModes) {
            Balancer b(jumpy);
            ShipRecord slow(recordAt(1000, 0, 3));
            slow.setField(7, "1");
            QVERIFY(b.load(slow.line()));
            QCOMPARE(b.average(), 96);
            const BalanceRun run = b.balance(mode);
            QCOMPARE(run.stop, BalanceRun::Stop::Oscillation);
            QVERIFY(run.crossings >= 1 && run.steps <= 4);
            QCOMPARE(run.averageAfter, 102);
            QCOMPARE(b.average(), 102);
        }
    }
    void generated()
    {
        QRandomGenerator rng(14);
        const QString base = m_ships.value(10);
        auto randomRange = [&](bool huge) {
            const int scale = huge ? kMaxProfileValue / 2 : int(std::pow(10, rng.bounded(1, 7)));
            BalanceRange r;
            r.min = rng.bounded(scale);
            r.max = rng.bounded(4) == 0 ? r.min : r.min + rng.bounded(scale);
            if (r.mid() <= 0)
                r = {1, 3};
            return r;
        };
        constexpr int kProfiles = 150;
        // Independent of the code's own bound: no slider needs more than 1000 steps
        // to cross its range (line steps of at most 10), 8 sliders, 18 runs.
        constexpr int kStepBound = 18 * 8 * 1001;
        int reached = 0, runs = 0;
        for (int n = 0; n < kProfiles; ++n) {
            BalanceProfile p;
            p.shipClass = 3;
            const bool huge = n % 10 == 9;
            for (BalanceRange* r :
                 {&p.accel, &p.turning, &p.speed, &p.reactor, &p.weapon, &p.recharge, &p.hull})
                *r = randomRange(huge);
            const BalanceRange c = randomRange(huge);
            p.cargo[0] = c.min;
            p.cargo[1] = c.max;
            p.shield[0] = rng.bounded(kShieldTypes);
            p.shield[2] = rng.bounded(p.shield[0], kShieldTypes);
            p.shield[3] = rng.bounded(1, 12);
            QVERIFY2(ProfileProblem(p).isEmpty(), qPrintable(ProfileProblem(p)));

            ShipRecord rec(base);
            rec.setField(5, "3");
            auto around = [&](const BalanceRange& r) {
                const qint64 spread = qint64(r.max - r.min) + 10;
                return QString::number(
                    r.min - spread / 2 +
                    qint64(rng.bounded(2 * int(std::min<qint64>(spread, 1 << 29)))));
            };
            rec.setField(7, around(p.speed));
            rec.setField(8, around(p.accel));
            rec.setField(13, around(p.reactor));
            rec.setField(20, QString::number(rng.bounded(1, 5000)));
            rec.setField(21, QString::number(rng.generateDouble() * 10, 'g', 6));
            rec.setField(3, QString::number(rng.generateDouble() * 2, 'g', 6));
            rec.setField(22, QString::number(rng.bounded(kShieldTypes)));
            rec.setField(23, QString::number(rng.bounded(12)));
            rec.setField(28, around(c));
            rec.setField(29, around(c));
            rec.setField(46, around(p.hull));

            for (BalanceMode mode : kModes) {
                for (int m = -1; m < kBalanceSliders; m += 4) {
                    Balancer b(p);
                    QVERIFY(b.load(rec.line()));
                    std::optional<BalanceSlider> moved;
                    if (m >= 0) {
                        moved = BalanceSlider(m);
                        b.setValue(*moved, rng.bounded(b.maximum(*moved) + 1));
                    }
                    const int before = b.average();
                    const BalanceRun run = b.balance(mode, moved);
                    ++runs;
                    reached += run.reached();
                    QVERIFY(run.stop != BalanceRun::Stop::StepLimit);
                    QVERIFY2(run.steps <= kStepBound, qPrintable(QString::number(run.steps)));
                    QCOMPARE(run.averageBefore, before);
                    QCOMPARE(run.averageAfter, b.average());
                    QVERIFY(std::abs(run.averageAfter - 100) <= std::abs(before - 100));
                    // Every field read back lies within the profile and gives the
                    // slider that wrote it (a clamped value is written clamped); a
                    // rate or turning of 6 digits may lose a few units of a large total.
                    Balancer again(p);
                    QVERIFY(again.load(b.record()));
                    for (int i = 0; i < kBalanceSliders; ++i) {
                        const BalanceSlider s = BalanceSlider(i);
                        QVERIFY(b.value(s) >= b.minimum(s) && b.value(s) <= b.maximum(s));
                        qint64 slack = 0;
                        if (s == BalanceSlider::Shields) {
                            QVERIFY(!again.shieldsOutside() || b.value(s) == again.value(s));
                        } else if (s == BalanceSlider::Recharge &&
                                   again.loadedStatistic(BalanceSlider::Weapons) == 0) {
                            continue; // no energy: the rate stays as it was
                        } else {
                            QVERIFY2(again.loadedStatistic(s) >= b.range(s).min &&
                                         again.loadedStatistic(s) <= b.range(s).max,
                                     qPrintable(b.record()));
                            if (s == BalanceSlider::Recharge || s == BalanceSlider::Turning)
                                slack = 1 + b.statistic(s) / 100000;
                        }
                        QVERIFY2(std::abs(again.value(s) - b.value(s)) <= slack,
                                 qPrintable(b.record()));
                    }
                }
            }
        }
        // Most runs reach 100; the rest end at the closest state.
        QVERIFY2(reached > runs / 2, qPrintable(QStringLiteral("%1 of %2").arg(reached).arg(runs)));
    }
    void import()
    {
        // Class 0 ships of variants 0 and 2, a filler line, ships of another class,
        // of variant 1 and with a speed that is not a number.
        QStringList entries;
        for (const QStringList& r : tableRows("import-ships.txt"))
            entries << r[0];
        ProfileImport im = ImportProfile(entries, 0, {0, 2});
        QVERIFY(im.ok);
        QCOMPARE(im.ships, 2);
        const BalanceProfile& p = im.profile;
        QCOMPARE(p.variant, -1);
        // Speed, hull, turning (0.075 x 6000 to 0.1 x 6000) and recharge (0.08 x 1000
        // to 0.1 x 1200) of the two ships.
        QCOMPARE(QList<int>({p.speed.min, p.speed.max, p.hull.max, p.turning.min, p.turning.max,
                             p.recharge.min, p.recharge.max}),
                 QList<int>({20000, 26000, 2600, 450, 600, 80, 120}));
        // Cargo: from the smallest field 28 to the largest field 29; the average the
        // mean of field 29; the difference the mean gap between fields 28 and 29.
        QCOMPARE(QList<int>(p.cargo, p.cargo + 4), QList<int>({10, 50, 45, 25}));
        QCOMPARE(QList<int>(p.shield, p.shield + 4), QList<int>({1, 3, 2, 1}));
        // One variant: the profile is for it.
        QCOMPARE(ImportProfile(entries, 0, {1}).profile.variant, 1);
        QCOMPARE(ImportProfile(entries, 0, {}).ships, 3);
        QVERIFY(!ImportProfile(entries, 7, {}).ok);

        // From a catalogue: its packed table (the profile dialog imports one), else
        // a plain one; else a clear error.
        const QString work = m_dir.filePath("work");
        const QString plainCat = m_dir.filePath("plain.cat");
        const QByteArray table = "48;6;\n" + entries.join('\n').toLatin1() + '\n';
        QVERIFY(EnsureCatalog(plainCat) &&
                WriteArchiveFile(table.constData(), table.size(), plainCat + "::types\\TShips.txt",
                                 false, false));
        im = ImportProfileFromTable(plainCat, 0, {0, 2}, work);
        QVERIFY2(im.ok, qPrintable(im.error));
        QCOMPARE(im.profile.speed.max, 26000);
        QVERIFY(QDir(work).entryList(QDir::Files).isEmpty());
        const QString emptyCat = m_dir.filePath("empty.cat");
        QVERIFY(EnsureCatalog(emptyCat) &&
                WriteArchiveFile("x", 1, emptyCat + "::readme.txt", false, false));
        im = ImportProfileFromTable(emptyCat, 0, {}, work);
        QVERIFY(!im.ok && !im.tableRead);
        QVERIFY(im.error.contains("no ship table"));
    }
    void sampleGame()
    {
        // The shipped profiles are the import of the sample game's ships, one per
        // class that has ships.
        const QString folder = qEnvironmentVariable("VEGA_PROGRAM_DIR") + "/Profiles";
        const QList<ProfileFile> profiles = ReadProfiles(folder);
        QCOMPARE(profiles.size(), 8);
        for (const ProfileFile& pf : profiles) {
            QVERIFY2(pf.problem.isEmpty(), qPrintable(pf.path + ": " + pf.problem));
            ProfileImport im = ImportProfile(m_ships, pf.profile.shipClass, {});
            QVERIFY(im.ok);
            im.profile.name = pf.profile.name;
            QCOMPARE(ProfileText(im.profile), ProfileText(pf.profile));
        }
        // Every sample ship balances to 100 in each mode.
        for (const QString& ship : m_ships) {
            const ProfileChoice choice = FittingProfiles(profiles, ship);
            QCOMPARE(choice.usable.size(), 1);
            for (BalanceMode mode : kModes) {
                Balancer b(choice.usable.first().profile);
                QVERIFY(b.load(ship));
                QCOMPARE(b.record(), ship);
                const BalanceRun run = b.balance(mode);
                QVERIFY2(run.reached(),
                         qPrintable(TableIdentifier(ship) + ": " + BalanceStopText(run.stop)));
            }
        }
    }

private:
    QTemporaryDir m_dir;
    QStringList m_ships;
};

QTEST_GUILESS_MAIN(TestBalance)
#include "tst_balance.moc"
