// The sample game is the fixture of many other tests: read it back through the
// archive library and hold its tables to the game's own rules.

#include "arc.h"
#include "archivefile.h"
#include "samplegame.h"
#include "xspfile.h"

#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Table
{
    int count = -1;             // header field 1
    QList<QByteArrayList> rows; // entry lines split at ";"
};

// Comment and empty lines are skipped; the first remaining line is the header.
Table parseTable(const QByteArray& text, bool grouped = false)
{
    Table t;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('/'))
            continue;
        if (t.count < 0 && !grouped)
            t.count = line.split(';').value(1).toInt();
        else
            t.rows.append(line.split(';'));
    }
    return t;
}

// Page 17 of a language 44 text page; empty when the XML is broken.
QHash<int, QString> page17(const QByteArray& xml)
{
    QHash<int, QString> texts;
    QXmlStreamReader r(xml);
    int page = -1;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = r.attributes();
        const QStringView id = attributes.value(QLatin1String("id"));
        if (r.name() == QLatin1String("language") && id != QLatin1String("44"))
            return {};
        if (r.name() == QLatin1String("page"))
            page = id.toInt();
        else if (r.name() == QLatin1String("t") && page == 17)
            texts.insert(id.toInt(), r.readElementText());
    }
    return r.hasError() ? QHash<int, QString>() : texts;
}

int gunsOf(const QByteArrayList& record)
{
    int p = 54 + 4 * record[53].toInt(), guns = 0;
    for (int g = record[p].toInt(); g > 0; --g) {
        guns += record[p + 4].toInt();
        p += 4 + 6 * record[p + 4].toInt();
    }
    return guns;
}

// Index of the identifier by the record-length rule, or -1 when the walk runs
// past the end of the record.
qsizetype identifierField(const QStringList& f)
{
    qsizetype p = 54 + 4 * f.value(53).toInt();
    for (int g = f.value(p).toInt(); g > 0 && p + 4 < f.size(); --g)
        p += 4 + 6 * f[p + 4].toInt();
    return p + 10 < f.size() ? p + 10 : -1;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSampleGame : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_game;
    QString m_packages;

    QByteArray extract(const QString& catalog, const QString& entry, bool raw = false)
    {
        const QString out = m_tmp.filePath(QStringLiteral("extracted"));
        QFile::remove(out);
        QFile f(out);
        if (!ExtractArchiveFile(m_game + '/' + catalog + "::" + entry, out, false, raw) ||
            !f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
    // The copy the game would use: 02.cat's when it has one, else 01.cat's.
    QByteArray layered(bool newest, const QString& entry)
    {
        const QByteArray text = newest ? extract(QStringLiteral("02.cat"), entry) : QByteArray();
        return text.isEmpty() ? extract(QStringLiteral("01.cat"), entry) : text;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_game = m_tmp.filePath(QStringLiteral("game"));
        QString error;
        QVERIFY2(SampleGame::MakeSampleGame(m_game, &error), qPrintable(error));
        m_packages = m_game + '/' + SampleGame::PackageFolder;
        QVERIFY2(SampleGame::MakeSamplePackages(m_packages, &error), qPrintable(error));
    }

    void entriesReadBackAsListed()
    {
        QVERIFY(QFileInfo(m_game + "/vega.exe").isFile());
        QFile lang(m_game + "/lang.dat");
        QVERIFY(lang.open(QIODevice::ReadOnly));
        QCOMPARE(lang.readAll().trimmed(), QByteArray("44"));

        QHash<QString, QStringList> expected;
        for (const SampleGame::Entry& e : SampleGame::Entries()) {
            expected[e.catalog] << e.name;
            QCOMPARE(extract(e.catalog, e.name), e.text);
            const QByteArray raw = extract(e.catalog, e.name, true);
            QVERIFY2(arc_is_packed(reinterpret_cast<const unsigned char*>(raw.constData()),
                                   static_cast<size_t>(raw.size())),
                     qPrintable(e.name + " is stored plain"));
        }
        for (const QString& cat : expected.keys()) {
            QStringList listed;
            for (const CatalogEntryInfo& e : ListCatalog(m_game + '/' + cat))
                listed << e.name;
            QCOMPARE(listed, expected[cat]);
        }
    }

    void shipTable_data()
    {
        QTest::addColumn<bool>("newest");
        QTest::addColumn<int>("count");
        QTest::newRow("01.cat alone") << false << int(SampleGame::BaseShipCount);
        QTest::newRow("02.cat over 01.cat") << true << int(SampleGame::ShipCount);
    }

    void shipTable()
    {
        QFETCH(bool, newest);
        QFETCH(int, count);
        const Table ships = parseTable(layered(newest, QStringLiteral("types\\TShips.pck")));
        const QHash<int, QString> texts = page17(layered(newest, QStringLiteral("t\\440001.pck")));
        QCOMPARE(ships.count, count);
        QCOMPARE(ships.rows.size(), count);

        const QList<SampleGame::Ship> expected = SampleGame::Ships();
        QSet<int> shapes;
        for (int i = 0; i < count; ++i) {
            const QByteArrayList f = ships.rows[i];
            const auto num = [&f](qsizetype n) { return f.value(n).toInt(); };
            const QByteArray where = "ship " + QByteArray::number(i);

            // Walk the variable part; slots count from 1 across all groups.
            const int turrets = num(53);
            qsizetype p = 54 + 4 * turrets;
            int slot = 1, lastGunSlot = 0;
            for (int g = num(p); g > 0; --g) {
                QVERIFY2(num(p + 1) == slot, where + ": group does not start at the next slot");
                for (int k = 0; k < num(p + 4); ++k) {
                    QVERIFY2(num(p + 5 + 6 * k) == slot, where + ": gun slot out of sequence");
                    lastGunSlot = slot;
                    slot += num(p + 6 + 6 * k);
                }
                p += 4 + 6 * num(p + 4);
            }
            QVERIFY2(f.size() == p + 12 && f.last().isEmpty(), where + ": identifier misplaced");
            QCOMPARE(QString::fromLatin1(f[p + 10]), expected[i].id);
            QCOMPARE(num(19), lastGunSlot);
            shapes.insert(turrets * 100 + num(54 + 4 * turrets));

            for (int k = 0; k < turrets; ++k)
                QVERIFY(num(54 + 4 * k) == k + 1 && num(55 + 4 * k) == k);
            // One cockpit pair per turret (the main cockpit is none), unused pairs zero.
            for (int pair = 0; pair < 6; ++pair) {
                const int cockpit = num(31 + 2 * pair);
                if (pair < turrets - 1)
                    QVERIFY2(cockpit > 0 && cockpit < SampleGame::CockpitCount,
                             where + ": turret cockpit out of range");
                else
                    QVERIFY2(f[31 + 2 * pair] == "0" && f[32 + 2 * pair] == "0",
                             where + ": pair without turret");
            }
            QVERIFY(num(28) <= num(29));
            QVERIFY(num(18) > 0 && num(18) < 1 << SampleGame::LaserCount);
            QVERIFY(num(24) >= 0 && num(24) < 1 << SampleGame::MissileCount);
            QVERIFY(num(22) >= 0 && num(22) < SampleGame::ShieldCount);
            QCOMPARE(QString::fromLatin1(f[16]), expected[i].scene);
            QCOMPARE(num(6), expected[i].nameText);
            QCOMPARE(texts.value(num(6)), expected[i].name);
            QCOMPARE(texts.value(num(6) + 1), expected[i].description);
        }
        QVERIFY2(shapes.size() >= 8, "the fixture should vary turrets and gun groups");
    }

    void otherTables_data() { shipTable_data(); }

    void otherTables()
    {
        QFETCH(bool, newest);
        const Table cockpits = parseTable(layered(newest, QStringLiteral("types\\TCockpits.pck")));
        QCOMPARE(cockpits.rows.size(), cockpits.count);
        QCOMPARE(cockpits.rows.first().join(';'),
                 QByteArray("0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_DEFAULT;"));
        QSet<QByteArray> keys;
        for (const QByteArrayList& row : cockpits.rows) {
            QVERIFY(row.size() == 20 && row[18].startsWith("SS_COCKPIT_"));
            keys.insert(row[18].toUpper());
        }
        QCOMPARE(keys.size(), cockpits.count);

        const QHash<int, QString> texts = page17(layered(newest, QStringLiteral("t\\440001.pck")));
        for (const char* entry :
             {"types\\TLaser.pck", "types\\TShields.pck", "types\\TMissiles.pck"}) {
            const Table t = parseTable(layered(newest, QLatin1String(entry)));
            QVERIFY(t.count > 0);
            QCOMPARE(t.rows.size(), t.count);
            for (const QByteArrayList& row : t.rows)
                QVERIFY2(!texts.value(row.value(6).toInt()).isEmpty(), entry);
        }

        // Dummies: "name;count;" then exactly count lines, field 0 (the scene)
        // unique in its group; the gun points of a scene match its ship's guns.
        QHash<QByteArray, int> gunsOfScene, gunDummies;
        for (const QByteArrayList& f :
             parseTable(layered(newest, QStringLiteral("types\\TShips.pck"))).rows) {
            if (gunsOf(f))
                gunsOfScene.insert(f[16], gunsOf(f));
        }
        const QList<QByteArrayList> dummies =
            parseTable(layered(newest, QStringLiteral("types\\Dummies.pck")), true).rows;
        QByteArrayList groups;
        for (qsizetype i = 0; i < dummies.size();) {
            const QByteArrayList header = dummies[i++];
            groups << header[0];
            QSet<QByteArray> ids;
            for (int n = header.value(1).toInt(); n > 0; --n, ++i) {
                QVERIFY2(i < dummies.size(), "group runs past the end");
                QVERIFY2(!ids.contains(dummies[i][0]), "field 0 repeated in a group");
                ids.insert(dummies[i][0]);
                if (header[0] == "SDTYPE_GUN")
                    gunDummies.insert(dummies[i][0], dummies[i][1].toInt());
            }
        }
        QCOMPARE(
            groups.join(':'),
            QByteArray("SDTYPE_ANIMATED:SDTYPE_DOCK:SDTYPE_DOORWAY:SDTYPE_GUN:SDTYPE_CONNECTION"));
        QCOMPARE(gunDummies, gunsOfScene);

        // Components: component headers, group headers and lines nest exactly.
        const QList<QByteArrayList> components =
            parseTable(layered(newest, QStringLiteral("types\\Components.pck")), true).rows;
        qsizetype i = 0;
        while (i < components.size()) {
            for (int g = components[i++].value(1).toInt(); g > 0 && i < components.size(); --g)
                i += 1 + components[i].value(1).toInt();
        }
        QVERIFY(!components.isEmpty());
        QCOMPARE(i, components.size());
    }

    void newerCatalogueOverrides()
    {
        const Table base = parseTable(extract("01.cat", QStringLiteral("types\\TShips.pck")));
        const Table newer = parseTable(extract("02.cat", QStringLiteral("types\\TShips.pck")));
        // The newer table keeps every slot and appends; exactly one old record changed.
        QVERIFY(newer.rows.size() > base.rows.size());
        QByteArrayList changed;
        for (qsizetype i = 0; i < base.rows.size(); ++i) {
            QCOMPARE(newer.rows[i].value(newer.rows[i].size() - 2),
                     base.rows[i].value(base.rows[i].size() - 2));
            if (newer.rows[i] != base.rows[i])
                changed << newer.rows[i].value(newer.rows[i].size() - 2);
        }
        QCOMPARE(changed, QByteArrayList{"SS_SH_GANNET"});
    }

    // The reader as the installer runs it without a registry; files land below root.
    OpenPackageResult openSample(const QString& file, const QString& root, ShipPackage* package)
    {
        PackageContext context;
        context.programDir = root;
        OpenPackageOptions options;
        options.baseDir = root;
        QFile f(m_packages + '/' + file);
        return OpenPackage(f, *package, options, context);
    }

    void samplePackagesRead()
    {
        const QStringList files = SampleGame::PackageFileNames();
        QCOMPARE(files.size(), 2);
        QSet<QByteArray> gameCockpits;
        for (const QByteArrayList& row : parseTable(SampleGame::CockpitTable()).rows)
            gameCockpits.insert(row.value(18));

        for (const QString& file : files) {
            const QString root = m_tmp.filePath("read-" + file);
            ShipPackage p;
            const OpenPackageResult r = openSample(file, root, &p);
            QVERIFY2(r.status == PackageOk && r.complete, qPrintable(file));
            QList<int> languages;
            for (const PackageText& t : p.Texts)
                languages << t.Language;
            QCOMPARE(languages, QList<int>({44, 49}));

            const QStringList record = p.Data.split(';');
            const qsizetype id = identifierField(record);
            QVERIFY2(id > 0 && record.size() == id + 2 && record.last().isEmpty(),
                     qPrintable(file + ": record length"));
            // The record names its scenes and ends in the ID, as a save writes it.
            QCOMPARE(record[id], p.ID);
            QVERIFY(p.SceneFile && p.CockpitFile);

            // Turret pairs: one per turret after the main cockpit; an own cockpit
            // is named by the key of one of the package's cockpit lines.
            const int turrets = record[53].toInt() - 1;
            QStringList ownKeys;
            for (const QString& line : p.Cockpits) {
                const QStringList f = line.split(';');
                QVERIFY2(f.size() == 20 && f[19].isEmpty(), "18 numbers, the key and ';'");
                for (int n = 0; n < 18; ++n)
                    QVERIFY(!f[n].isEmpty() && f[n].toInt() == f[n].toDouble());
                QVERIFY(f[18].startsWith("SS_COCKPIT_"));
                QVERIFY2(!gameCockpits.contains(f[18].toLatin1()), "own key clashes with the game");
                ownKeys << f[18];
            }
            for (int pair = 0; pair < 6; ++pair) {
                const QString cockpit = record[31 + 2 * pair];
                if (pair >= turrets)
                    QVERIFY(cockpit == "0" && record[32 + 2 * pair] == "0");
                else
                    QVERIFY2(ownKeys.contains(cockpit), qPrintable(cockpit));
            }
            if (file != files.first())
                continue;

            // The fighter carries one of every kind of entry.
            QCOMPARE(turrets, 1);
            QVERIFY(p.SceneFile && p.CockpitFile);
            QCOMPARE((QList<qsizetype>{p.Models.size(), p.Files.size(), p.Scripts.size(),
                                       p.Dummies.size(), p.Components.size(), p.Cockpits.size()}),
                     (QList<qsizetype>{2, 1, 1, 2, 2, 1}));
            QVERIFY(p.Comment.contains('\n'));
            QCOMPARE(QFileInfo(root + "/scripts/" + p.Scripts[0].Name).size(), p.Scripts[0].Size);
            QCOMPARE(p.ScreenShot, QString("Merganser-OrrinVale.png"));
            QVERIFY(
                fileBytes(root + "/Slipway/ShipPics/" + p.ScreenShot).startsWith("\x89PNG\r\n"));
        }
    }

    void samplePackagesAreReproducible()
    {
        const QString again = m_tmp.filePath("again");
        QVERIFY(SampleGame::MakeSamplePackages(again));
        for (const QString& file : SampleGame::PackageFileNames()) {
            const QByteArray bytes = fileBytes(m_packages + '/' + file);
            QVERIFY(!bytes.isEmpty());
            QVERIFY2(fileBytes(again + '/' + file) == bytes, qPrintable(file));
        }
    }

    void refusesToOverwriteAGame()
    {
        QString error;
        QVERIFY(!SampleGame::MakeSampleGame(m_game, &error));
        qsizetype first = 0;
        for (const SampleGame::Entry& e : SampleGame::Entries())
            first += e.catalog == QLatin1String("01.cat");
        QCOMPARE(ListCatalog(m_game + "/01.cat").size(), first);
    }
};

QTEST_GUILESS_MAIN(TestSampleGame)
#include "tst_samplegame.moc"
