// Class statistics against a computation of their own over the sample game's
// table and a table shaped like the game's (format 50, several hundred ships,
// symbolic constants, filler lines), and hullwright-cli compare against both.
#include "classstats.h"
#include "hwtest.h"
#include "samplegame.h"
#include "shiprecord.h"
#include "typetable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

// A table like the game's own: comments, header "50;N;", ships of 13 classes
// with turrets and gun groups, symbolic constants where modders leave them, and
// the installer's filler lines.
QByteArray realShapedTable(int ships)
{
    QByteArray t = "// TShips.txt\n//\n50;" + QByteArray::number(ships) + ";\n";
    quint32 seed = 7;
    auto next = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 8) % quint32(n));
    };
    for (int i = 0; i < ships; ++i) {
        if (i % 53 == 20) {
            t += "0;0;0;0;0;0;0;0;0;106;1;5;37;0;112;202;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;"
                 "0;0;0;0;0;0;0;0;0;0;35;36;1;0;0;0;0;0;1;0;25;1;0;0;0;0;0;HULLWRIGHT_SPACER_" +
                 QByteArray::number(i) + ";\n";
            continue;
        }
        if (i % 71 == 5)
            t += "// ---- next group\n";
        const int cls = 1 + next(13);
        QStringList f = QString::fromLatin1(kDefaultShipLine).split(';');
        f = f.mid(0, 54);
        f[0] = QStringLiteral("ships\\s%1").arg(i);
        f[2] = QString::number(0.05 + next(100) * 0.0037, 'g', 10);
        f[3] = QString::number(0.04 + next(100) * 0.0031, 'g', 10);
        f[4] = QString::number(0.06 + next(100) * 0.0041, 'g', 10);
        f[5] = QString::number(cls - 1);
        f[7] = QString::number(10 * (100 + next(400) + 40 * cls));
        f[8] = QString::number(500 + next(1500));
        f[20] = QString::number(1000 + 100 * next(80));
        f[21] = QString::number(0.01 + next(1000) * 0.000123456789, 'g', 12);
        f[22] = QString::number(next(6));
        f[23] = QString::number(1 + next(9));
        f[26] = QString::number(next(5));
        f[29] = QString::number(next(3000));
        f[46] = QString::number(1000 * cls + next(50000));
        f[50] = QString::number(next(4));
        f[52] = QString::number(cls);
        // Symbolic constants in numeric fields.
        if (i % 37 == 3)
            f[7] = QStringLiteral("SG_SPEED_FAST");
        if (i % 41 == 9)
            f[22] = QStringLiteral("SG_SH_125MJ");
        if (i % 43 == 11)
            f[21] = QStringLiteral("RECHARGE_STD");
        if (i % 97 == 13)
            f[52] = QStringLiteral("SC_CLASS_M3");
        const int turrets = next(3);
        f[53] = QString::number(turrets + 1);
        for (int k = 0; k <= turrets; ++k)
            f << QString::number(k + 1) << QString::number(k) << QString::number(k ? 10 + k : 0)
              << QStringLiteral("0");
        const int groups = next(3);
        f << QString::number(groups);
        for (int g = 0; g < groups; ++g) {
            f << QStringLiteral("1") << QStringLiteral("0") << QString::number(g + 1)
              << QStringLiteral("2");
            for (int n = 0; n < 2; ++n)
                f << QStringLiteral("1;1;0;%1;0;0").arg(n).split(';');
        }
        f << QStringLiteral("1;1000;25;1;0;2000;0;0;0").split(';');
        f << QStringLiteral("SS_SHIP_%1").arg(i) << QString();
        t += f.join(';').toLatin1() + "\n";
    }
    return t;
}

// The statistic read straight off the ";"-split line, with its own arithmetic.
std::optional<double> expectedValue(const QStringList& f, int stat)
{
    auto i = [&](int n, bool* ok) { return f.value(n).trimmed().toInt(ok); };
    auto d = [&](int n, bool* ok) { return f.value(n).trimmed().toDouble(ok); };
    bool a = false, b = false;
    switch (stat) {
    case 0: { // minimum speed plus a tenth of it per extension, rounded; x 0.002
        const int m = i(7, &a), t = i(26, &b);
        if (!a || !b)
            return std::nullopt;
        return (m + std::floor(m * t / 10.0 + 0.5)) / 500.0;
    }
    case 1: {
        const int v = i(8, &a);
        return a ? std::optional<double>(v / 500.0) : std::nullopt;
    }
    case 2:
    case 3:
    case 4: {
        const double v = d(stat, &a);
        return a ? std::optional<double>(v * 60.0) : std::nullopt;
    }
    case 5: {
        const int v = i(46, &a);
        return a ? std::optional<double>(v) : std::nullopt;
    }
    case 6: {
        const int type = i(22, &a), count = i(23, &b);
        if (!a || !b || type < 0 || type > 5)
            return std::nullopt;
        return std::pow(5.0, type < 4 ? type : 0) * (type == 4 ? 1000 : type == 5 ? 10000 : 1) *
               count;
    }
    case 7: {
        const int v = i(20, &a);
        return a ? std::optional<double>(v) : std::nullopt;
    }
    case 8: {
        const double r = d(21, &a);
        const int e = i(20, &b);
        return a && b ? std::optional<double>(r * e) : std::nullopt;
    }
    case 9: {
        const int v = i(29, &a);
        return a ? std::optional<double>(v) : std::nullopt;
    }
    }
    return std::nullopt;
}

double quantileOf(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double h = (v.size() - 1) * p;
    const size_t below = size_t(h), above = std::min(below + 1, v.size() - 1);
    return v[below] * (1 - (h - below)) + v[above] * (h - below);
}

bool near(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

} // namespace

class TestClassStats : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_game = m_dir.filePath("game");
        QVERIFY(SampleGame::MakeSampleGame(m_game));
    }
    void unitsOfOneShip()
    {
        // Minimum speed 1000 with 3 extensions reads 2.6; a yaw of 0.5, 30 degrees;
        // two 125 MJ shields, 250 MJ; rate 0.1 of 5000 energy, 500.
        ShipRecord r = ShipRecord::newShip();
        for (auto [field, text] : {std::pair{7, "1000"}, {26, "3"}, {2, "0.5"}, {22, "3"},
                                   {23, "2"}, {20, "5000"}, {21, "0.1"}, {8, "750"}, {29, "40"}})
            r.setField(field, QLatin1String(text));
        const double expected[kClassStats] = {2.6, 1.5, 30, 0, 0, 0, 250, 5000, 500, 40};
        for (int s = 0; s < kClassStats; ++s)
            QVERIFY2(near(ShipStatistic(r.line(), ClassStat(s)).value_or(-1), expected[s]),
                     qPrintable(ClassStatName(ClassStat(s))));
        r.setField(22, "SG_SH_1GJ");
        QVERIFY(!ShipStatistic(r.line(), ClassStat::Shield));
    }
    void againstOwnComputation_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<int>("shipClass");
        for (int c : {1, 2, 3, 4})
            QTest::addRow("sample class %d", c) << SampleGame::ShipTable() << c;
        const QByteArray real = realShapedTable(600);
        for (int c : {1, 3, 7, 13})
            QTest::addRow("real-shaped class %d", c) << real << c;
    }
    void againstOwnComputation()
    {
        QFETCH(QByteArray, table);
        QFETCH(int, shipClass);
        const TypeTable t = ReadTypeTable(table);
        // The ship compared: the last entry whose class is readable, given this class.
        ShipRecord ship(t.entries.last());
        ship.setField(52, QString::number(shipClass));
        const ClassStatistics cs =
            ComputeClassStatistics(t.entries, ClassSelection::classNumber(shipClass), ship.line());

        int fillers = 0, unplaceable = 0, members = 0;
        std::vector<double> values[kClassStats];
        int skipped[kClassStats] = {};
        for (const QString& line : t.entries) {
            const QStringList f = line.split(';');
            if (f.value(f.size() - 2).startsWith("HULLWRIGHT_SPACER_")) {
                ++fillers;
                continue;
            }
            bool ok = false;
            const int cls = f.value(52).toInt(&ok);
            if (!ok) {
                ++unplaceable;
                continue;
            }
            if (cls != shipClass)
                continue;
            ++members;
            for (int s = 0; s < kClassStats; ++s) {
                if (const auto v = expectedValue(f, s))
                    values[s].push_back(*v);
                else
                    ++skipped[s];
            }
        }
        QVERIFY(members > 3);
        QCOMPARE(cs.entries, int(t.entries.size()));
        QCOMPARE(cs.fillers, fillers);
        QCOMPARE(cs.unplaceable, unplaceable);
        QCOMPARE(cs.inClass, members);
        const QStringList shipFields = ship.line().split(';');
        for (int s = 0; s < kClassStats; ++s) {
            const StatSummary& st = cs.stat(ClassStat(s));
            const char* name = qPrintable(ClassStatName(ClassStat(s)));
            QVERIFY2(st.count == int(values[s].size()) && st.skipped == skipped[s], name);
            const std::vector<double>& v = values[s];
            QVERIFY2(near(st.min, *std::min_element(v.begin(), v.end())), name);
            QVERIFY2(near(st.max, *std::max_element(v.begin(), v.end())), name);
            QVERIFY2(near(st.q1, quantileOf(v, 0.25)), name);
            QVERIFY2(near(st.median, quantileOf(v, 0.5)), name);
            QVERIFY2(near(st.q3, quantileOf(v, 0.75)), name);
            const auto mine = expectedValue(shipFields, s);
            QCOMPARE(st.shipPlaced, mine.has_value());
            if (!mine)
                continue;
            double below = 0, equal = 0;
            for (double x : v) {
                if (near(x, *mine))
                    ++equal;
                else if (x < *mine)
                    ++below;
            }
            QVERIFY2(near(st.percentile, 100.0 * (below + equal / 2) / double(v.size())), name);
        }
        if (table.startsWith("// TShips.txt\n//"))
            QVERIFY(cs.fillers > 5 && cs.unplaceable > 2 && cs.stat(ClassStat::Shield).skipped +
                                                                   cs.stat(ClassStat::MaxSpeed).skipped >
                                                               0);
    }
    void profileSelection()
    {
        // A profile's class is the class index (field 5), narrowed by its variant.
        const TypeTable t = ReadTypeTable(realShapedTable(300));
        BalanceProfile p;
        p.shipClass = 2;
        p.variant = 1;
        const ClassStatistics cs = ComputeClassStatistics(t.entries, ClassSelection::profile(p));
        int expected = 0;
        for (const QString& line : t.entries)
            expected += TableField(line, 5) == "2" && TableField(line, 50) == "1" &&
                        !TableIdentifier(line).startsWith("HULLWRIGHT_");
        QVERIFY(expected > 0);
        QCOMPARE(cs.inClass, expected);
    }
    void cliAgreesWithCore_data()
    {
        QTest::addColumn<QString>("source"); // "package" or a ship table index
        QTest::addColumn<QString>("classArg");
        QTest::newRow("record") << "12" << QString();
        QTest::newRow("record, other class") << "12" << "2";
        QTest::newRow("package") << "package" << QString();
    }
    void cliAgreesWithCore()
    {
        QFETCH(QString, source);
        QFETCH(QString, classArg);
        QStringList args{"compare"};
        QString record;
        if (source == "package") {
            const QString pkg = m_game + "/sample-ships/Merganser.xsp";
            QVERIFY(SampleGame::MakeSamplePackages(m_game + "/sample-ships"));
            args << pkg;
            // The sample fighter's class number.
            record = QStringLiteral("x;") + QString("0;").repeated(51) + "1;0;";
        } else {
            record = ReadTypeTable(SampleGame::ShipTable()).entries.value(source.toInt());
            args << "--record" << record;
        }
        args << "--game" << m_game << "--json";
        if (!classArg.isEmpty())
            args << "--class" << classArg;
        const Result r = run(QStringLiteral(HULLWRIGHT_CLI_PATH), args);
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject doc = QJsonDocument::fromJson(r.out).object();

        QStringList entries;
        QString error;
        QVERIFY(LoadGameShipTable(m_game, m_dir.filePath("temp"), &entries, &error));
        const int cls = classArg.isEmpty() ? doc["class"].toInt() : classArg.toInt();
        if (source != "package")
            QCOMPARE(doc["class"].toInt(), classArg.isEmpty() ? TableFieldInt(record, 52) : cls);
        const ClassStatistics cs =
            ComputeClassStatistics(entries, ClassSelection::classNumber(cls), record);
        QCOMPARE(doc["ships"].toInt(), cs.inClass);
        const QJsonArray stats = doc["statistics"].toArray();
        QCOMPARE(stats.size(), kClassStats);
        for (int s = 0; s < kClassStats; ++s) {
            const QJsonObject o = stats[s].toObject();
            const StatSummary& st = cs.stat(ClassStat(s));
            QCOMPARE(o["name"].toString(), ClassStatName(ClassStat(s)));
            QCOMPARE(o["count"].toInt(), st.count);
            for (auto [key, value] : {std::pair{"min", st.min}, {"q1", st.q1}, {"median", st.median},
                                      {"q3", st.q3}, {"max", st.max}})
                QCOMPARE(o[key].toDouble(), value);
            if (source != "package")
                QCOMPARE(o["percentile"].toDouble(), st.percentile);
            else
                QVERIFY(o.contains("percentile"));
        }
    }
    void cliFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        const QString ship = ReadTypeTable(SampleGame::ShipTable()).entries.value(3);
        QTest::newRow("no game") << QStringList{"compare", "--record", ship} << 2 << QByteArray("--game");
        QTest::newRow("not a game")
            << QStringList{"compare", "--record", ship, "--game", m_dir.filePath("nothing")} << 1
            << QByteArray("not a game directory");
        QTest::newRow("empty class")
            << QStringList{"compare", "--record", ship, "--game", m_game, "--class", "99"} << 1
            << QByteArray("no ship of class 99");
        QTest::newRow("symbolic class")
            << QStringList{"compare", "--record", "x;" + QString("0;").repeated(51) + "SC_M3;0;",
                           "--game", m_game}
            << 1 << QByteArray("field 52");
    }
    void cliFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        const Result r = run(QStringLiteral(HULLWRIGHT_CLI_PATH), args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(err), r.err.constData());
    }

private:
    QTemporaryDir m_dir;
    QString m_game;
};

QTEST_MAIN(TestClassStats)
#include "tst_classstats.moc"
