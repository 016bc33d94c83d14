// drydock-cli history, undo and redo on the sample game: every operation undone
// leaves the game folder (and the game's selected-mod value) byte for byte as
// before it, redo as after it; undo refuses a game changed outside; a kill during
// undo rolls back; the undo data stays within its bound.
#include "gamesnapshot.h"
#include "shiprecord.h"
#include "testfiles.h"
#include "xspfile.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Files = std::map<QString, QByteArray>;

struct Result
{
    int code = -1; // -1: killed
    QByteArray out, err;
};

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program;
    QString m_game;
    int m_games = 0;

    Result cli(const QStringList& args, long killAt = 0) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (killAt > 0)
            env.insert(QStringLiteral("VEGA_FIO_KILL_AT"), QString::number(killAt));
        p.setProcessEnvironment(env);
        QStringList real = args;
        for (QString& a : real)
            if (a == QLatin1String("G") || a.startsWith(QLatin1String("G/")))
                a = m_game + a.mid(1);
        p.start(m_program + QStringLiteral("/drydock-cli"), real);
        Result r;
        if (!p.waitForFinished(60000))
            return {-2, {}, {}};
        if (p.exitStatus() == QProcess::NormalExit)
            r = {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
        return r;
    }

    // Every byte of the game folder but its history and the writer lock, and the
    // game's selected-mod value (kept beside the program).
    Files files() const
    {
        Files out;
        QDirIterator it(m_game, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString rel = QDir(m_game).relativeFilePath(path);
            if (rel.startsWith(QLatin1String("Slipway/history/")) || rel == QLatin1String("Slipway/writer.lock"))
                continue;
            QFile f(path);
            out[rel] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
        }
        // A missing value reads as an empty one: the game sees no mod either way.
        const QSettings registry(m_program + QStringLiteral("/registry.ini"), QSettings::IniFormat);
        out[QStringLiteral("<selected mod>")] = registry.value("SKYWARD/Vega/ModName").toString().toUtf8();
        return out;
    }

    static QString difference(const Files& a, const Files& b)
    {
        return GameSnapshot::firstDifference(a, b);
    }

    QJsonObject history() const
    {
        return QJsonDocument::fromJson(cli({"history", "G", "--json"}).out).object();
    }

    // The ship Teal in the given version, always under one ID.
    QString package(const QString& version)
    {
        ShipPackage p;
        p.Name = QStringLiteral("Teal");
        p.Author = QStringLiteral("Orrin Vale");
        p.Version = version;
        p.ID = QStringLiteral("OV-TEAL");
        p.Data = QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), p.ID);
        p.Texts = {{44, p.Name, QStringLiteral("A test ship, version ") + version}};
        PackageContext context;
        context.programDir = m_tmp.path();
        const QString path = m_tmp.filePath(QStringLiteral("Teal-") + version + QStringLiteral(".xsp"));
        return QFileInfo::exists(path) || SavePackage(p, path, context) ? path : QString();
    }

    void setConfig(const QByteArray& lines)
    {
        QFile f(m_program + QStringLiteral("/config.dat"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<installer>\n" + lines + "</installer>\n");
    }

    // A mod data file above the whole-hash size: Merganser installed, 2 MiB of
    // other entries added beside it.
    void makeLargeMod()
    {
        QCOMPARE(cli({"install", "G", "G/sample-ships/Merganser.xsp"}).code, 0);
        QByteArray filler(3 << 19, Qt::Uninitialized);
        QRandomGenerator(29).fillRange(reinterpret_cast<quint32*>(filler.data()), filler.size() / 4);
        QFile f(m_tmp.filePath("filler.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(filler) == filler.size());
        f.close();
        QCOMPARE(cli({"cat", "add", "G/mods/Hullwright.cat", f.fileName(), "objects\\filler.dds"}).code, 0);
        QVERIFY(QFileInfo(m_game + "/mods/Hullwright.dat").size() > (qint64(1) << 20));
    }

    static void setTime(const QString& path, const struct stat& st)
    {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
    }

    // The newest entry's record of the mod data file.
    QJsonObject dataRecord()
    {
        const QJsonObject newest = history().value("entries").toArray().first().toObject();
        for (const QJsonValue& v : newest.value("files").toArray())
            if (v.toObject().value("name").toString() == QLatin1String("mods/Hullwright.dat"))
                return v.toObject();
        return {};
    }

    // An entry written before prints existed: the data file's whole hash.
    void makeOldStyle()
    {
        const QString path = m_game + "/Slipway/history/history.jsonl";
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n');
        f.close();
        QFile data(m_game + "/mods/Hullwright.dat");
        QVERIFY(data.open(QIODevice::ReadOnly));
        const QString sha1 = QString::fromLatin1(QCryptographicHash::hash(data.readAll(), QCryptographicHash::Sha1).toHex());
        lines.removeAll(QByteArray());
        QJsonObject entry = QJsonDocument::fromJson(lines.last()).object();
        QJsonArray fileList = entry.value("files").toArray();
        for (qsizetype k = 0; k < fileList.size(); ++k) {
            QJsonObject o = fileList[k].toObject();
            if (o.value("name").toString() == QLatin1String("mods/Hullwright.dat")) {
                o.remove("print");
                o.remove("before");
                o.insert("after", sha1);
            }
            fileList[k] = o;
        }
        entry.insert("files", fileList);
        lines.last() = QJsonDocument(entry).toJson(QJsonDocument::Compact);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join('\n') + '\n');
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_program = m_tmp.filePath("program");
        QVERIFY(copyProgramFiles(QFileInfo(QStringLiteral(DRYDOCK_CLI_PATH)).absolutePath(), m_program,
                                 {"drydock-cli", "hw_languages.xml"}));
        m_game = m_tmp.filePath("sample");
        QCOMPARE(cli({"make-sample-game", m_game}).code, 0);
        // The sample base mod where base-mod looks for it.
        for (const char* suffix : {".cat", ".dat"})
            QVERIFY(QFile::copy(m_game + "/sample-mod/Shipwrights" + suffix,
                                m_game + "/mods/Shipwrights" + suffix));
    }

    void init()
    {
        const QString sample = m_tmp.filePath("sample");
        m_game = m_tmp.filePath(QStringLiteral("game%1").arg(++m_games));
        QCOMPARE(QProcess::execute("cp", {"-R", sample, m_game}), 0);
        QFile::remove(m_program + "/config.dat");
        QFile::remove(m_program + "/registry.ini");
    }

    void undoRestoresEveryByte_data()
    {
        QTest::addColumn<QList<QStringList>>("prepare");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("action"); // what a window words: the action, then its arguments
        const QStringList merganser{"install", "G", "G/sample-ships/Merganser.xsp"};
        const QStringList updateMod{"update-mod", "G"};
        const QStringList goosander{"install", "G", "G/sample-ships/Goosander.xsp"};
        const QList<QStringList> installed{merganser, updateMod};
        QTest::newRow("install") << QList<QStringList>{} << merganser << "Install Merganser"
                                 << QStringList{"install", "Merganser"};
        // A newer version of an installed ship replaces it.
        const QString teal1 = package(QStringLiteral("1.0")), teal2 = package(QStringLiteral("2.0"));
        QTest::newRow("update")
            << QList<QStringList>{{"install", "G", teal1}, updateMod} << QStringList{"install", "G", teal2}
            << "Install Teal" << QStringList{"install", "Teal"};
        QTest::newRow("install beside") << installed << goosander << "Install Goosander"
                                        << QStringList{"install", "Goosander"};
        QTest::newRow("update mod") << QList<QStringList>{merganser} << updateMod << "Update mod"
                                    << QStringList{"update-mod"};
        QTest::newRow("uninstall")
            << installed << QStringList{"uninstall", "G", "Merganser", "Orrin Vale"} << "Uninstall Merganser"
            << QStringList{"uninstall", "Merganser"};
        QTest::newRow("disable")
            << installed << QStringList{"disable", "G", "Merganser", "Orrin Vale"} << "Disable Merganser"
            << QStringList{"disable", "Merganser"};
        QTest::newRow("enable")
            << QList<QStringList>{merganser, updateMod, {"disable", "G", "Merganser", "Orrin Vale"}}
            << QStringList{"enable", "G", "Merganser", "Orrin Vale"} << "Enable Merganser"
            << QStringList{"enable", "Merganser"};
        QTest::newRow("base mod")
            << installed << QStringList{"base-mod", "G", "Shipwrights"} << "Base mod Shipwrights"
            << QStringList{"base-mod", "Shipwrights"};
        QTest::newRow("fake patch") << installed
                                    << QStringList{"base-mod", "G", "Shipwrights", "--fake-patch"}
                                    << "Base mod Shipwrights (fake patch)"
                                    << QStringList{"base-mod", "Shipwrights", "fake"};
        QTest::newRow("no base mod")
            << QList<QStringList>{merganser, {"base-mod", "G", "Shipwrights"}, updateMod}
            << QStringList{"base-mod", "G", "--none"} << "No base mod"
            << QStringList{"no-base-mod"};
    }

    void undoRestoresEveryByte()
    {
        QFETCH(QList<QStringList>, prepare);
        QFETCH(QStringList, command);
        QFETCH(QString, label);
        QFETCH(QStringList, action);
        for (const QStringList& step : prepare)
            QCOMPARE(cli(step).code, 0);
        const Files before = files();
        QCOMPARE(cli(command).code, 0);
        const Files after = files();
        if (label == QLatin1String("Update mod")) // the value is read where the game reads it
            QCOMPARE(after.at(QStringLiteral("<selected mod>")), QByteArray("Hullwright"));

        const QJsonObject h = history();
        const QJsonObject newest = h.value("entries").toArray().first().toObject();
        QCOMPARE(newest.value("operation").toString(), label);
        const auto actionOf = [](const QJsonObject& entry) {
            QStringList a{entry.value("action").toString()};
            for (const QJsonValue& v : entry.value("actionArgs").toArray())
                a << v.toString();
            return a;
        };
        QCOMPARE(actionOf(newest), action);
        QVERIFY(newest.value("undoable").toBool());
        QCOMPARE(h.value("nextUndo").toInt(), newest.value("id").toInt());

        Result r = cli({"undo", "G"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, "Undo " + label.toUtf8() + "\n");
        // The undo names what it undid the same way.
        const QJsonObject undoEntry = history().value("entries").toArray().first().toObject();
        QCOMPARE(undoEntry.value("kind").toString(), QStringLiteral("undo"));
        QCOMPARE(actionOf(undoEntry), action);
        QVERIFY2(difference(before, files()).isEmpty(), qPrintable(difference(before, files())));
        r = cli({"redo", "G"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, "Redo " + label.toUtf8() + "\n");
        QVERIFY2(difference(after, files()).isEmpty(), qPrintable(difference(after, files())));
        // The redo is a change again: undo takes it back once more.
        QCOMPARE(cli({"undo", "G"}).code, 0);
        QVERIFY2(difference(before, files()).isEmpty(), qPrintable(difference(before, files())));
    }

    void undoRefusesAnOutsideChange_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("mod catalogue") << "mods/Hullwright.cat";
        QTest::newRow("registry") << "Slipway/ships.dat";
        QTest::newRow("script removed") << "scripts/setup.merganser.xml";
    }

    void undoRefusesAnOutsideChange()
    {
        QFETCH(QString, file);
        QCOMPARE(cli({"install", "G", "G/sample-ships/Merganser.xsp"}).code, 0);
        const QString path = m_game + QLatin1Char('/') + file;
        if (file.startsWith(QLatin1String("scripts"))) {
            QVERIFY(QFile::remove(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write("x");
        }
        const Files planted = files();
        const Result r = cli({"undo", "G"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, "drydock-cli: " + QDir::toNativeSeparators(path).toUtf8() +
                            " has changed since \"Install Merganser\"; undo refused\n");
        QVERIFY(difference(planted, files()).isEmpty());
    }

    // The mod data file is not hashed whole; undo still refuses what another
    // program did to it, and still undoes (and redoes) every byte otherwise.
    void largeDataFile_data()
    {
        QTest::addColumn<QString>("outside");
        QTest::addColumn<bool>("oldEntry");
        QTest::newRow("untouched") << "" << false;
        QTest::newRow("bytes rewritten inside") << "inside" << false;
        QTest::newRow("appended to") << "append" << false;
        QTest::newRow("its end rewritten, time set back") << "end" << false;
        QTest::newRow("old entry, untouched") << "" << true;
        QTest::newRow("old entry, bytes rewritten inside, time set back") << "inside-back" << true;
    }

    void largeDataFile()
    {
        QFETCH(QString, outside);
        QFETCH(bool, oldEntry);
        makeLargeMod();
        if (QTest::currentTestFailed())
            return;
        const QString path = m_game + "/mods/Hullwright.dat";
        const Files before = files();
        QCOMPARE(cli({"install", "G", "G/sample-ships/Goosander.xsp"}).code, 0);
        const QJsonObject record = dataRecord();
        QVERIFY(record.value("after").isNull());
        QCOMPARE(record.value("print").toObject().value("size").toInteger(), QFileInfo(path).size());
        if (oldEntry)
            makeOldStyle();
        if (QTest::currentTestFailed())
            return;
        struct stat recorded;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &recorded), 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        if (outside == QLatin1String("append")) {
            QVERIFY(f.seek(size) && f.write("x") == 1);
        } else if (!outside.isEmpty()) {
            // Same size, other bytes; far from both ends unless the end is meant.
            QVERIFY(f.seek(outside == QLatin1String("end") ? size - 100 : size / 2));
            const QByteArray old = f.peek(16);
            QByteArray other = old;
            for (char& c : other)
                c = char(~c);
            QVERIFY(f.write(other) == other.size());
        }
        f.close();
        if (outside.endsWith(QLatin1String("back")) || outside == QLatin1String("end"))
            setTime(path, recorded);
        const Files planted = files();
        Result r = cli({"undo", "G"});
        if (!outside.isEmpty()) {
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, "drydock-cli: " + QDir::toNativeSeparators(path).toUtf8() +
                                " has changed since \"Install Goosander\"; undo refused\n");
            QVERIFY(difference(planted, files()).isEmpty());
            return;
        }
        QCOMPARE(r.code, 0);
        QVERIFY2(difference(before, files()).isEmpty(), qPrintable(difference(before, files())));
        QCOMPARE(cli({"redo", "G"}).code, 0);
        QVERIFY2(difference(planted, files()).isEmpty(), qPrintable(difference(planted, files())));
    }

    // Undo after undo (and redo after redo) through changes that each appended to
    // the large data file: every undo gives the file its time back, so the print
    // of the change before it still holds.
    void largeDataFileChain()
    {
        makeLargeMod();
        if (QTest::currentTestFailed())
            return;
        QList<Files> states{files()};
        const QList<QStringList> steps{{"install", "G", "G/sample-ships/Goosander.xsp"},
                                       {"update-mod", "G"},
                                       {"uninstall", "G", "Merganser", "Orrin Vale"}};
        for (const QStringList& step : steps) {
            QCOMPARE(cli(step).code, 0);
            states << files();
        }
        for (qsizetype k = states.size() - 2; k >= 0; --k) {
            const Result r = cli({"undo", "G"});
            QVERIFY2(r.code == 0, r.err);
            QVERIFY2(difference(states[k], files()).isEmpty(), qPrintable(difference(states[k], files())));
        }
        for (qsizetype k = 1; k < states.size(); ++k) {
            const Result r = cli({"redo", "G"});
            QVERIFY2(r.code == 0, r.err);
            QVERIFY2(difference(states[k], files()).isEmpty(), qPrintable(difference(states[k], files())));
        }
    }

    void nothingToUndo()
    {
        Result r = cli({"undo", "G"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, "drydock-cli: nothing to undo\n");
        QCOMPARE(cli({"redo", "G"}).err, "drydock-cli: nothing to redo\n");
        QCOMPARE(cli({"install", "G", "G/sample-ships/Merganser.xsp"}).code, 0);
        QCOMPARE(cli({"redo", "G"}).err, "drydock-cli: nothing to redo\n");
    }

    void undoDataStaysWithinItsBound_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("undoable");
        QTest::newRow("two changes") << QByteArray("UndoChanges: 2\n") << 2;
        QTest::newRow("no room") << QByteArray("UndoMiB: 0\n") << 0;
        QTest::newRow("defaults") << QByteArray() << 4;
    }

    void undoDataStaysWithinItsBound()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, undoable);
        setConfig(config);
        QCOMPARE(cli({"install", "G", "G/sample-ships/Merganser.xsp"}).code, 0);
        QCOMPARE(cli({"update-mod", "G"}).code, 0);
        QCOMPARE(cli({"install", "G", "G/sample-ships/Goosander.xsp"}).code, 0);
        QCOMPARE(cli({"update-mod", "G"}).code, 0);
        const QJsonArray entries = history().value("entries").toArray();
        QCOMPARE(entries.size(), 4);
        int count = 0;
        for (const QJsonValue& v : entries)
            count += v.toObject().value("undoable").toBool() ? 1 : 0;
        QCOMPARE(count, undoable);
        // Only the data of undoable entries stays on disk.
        const QStringList folders =
            QDir(m_game + "/Slipway/history").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), undoable);
        for (int k = 0; k < undoable; ++k)
            QCOMPARE(cli({"undo", "G"}).code, 0);
        const Result r = cli({"undo", "G"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(undoable == 4 ? "nothing to undo" : "its undo data was not kept"), r.err);
    }

    // Killed anywhere in an undo, the next run leaves the game as before the undo
    // or, past its commit, as after it.
    void killDuringUndoRollsBack()
    {
        QCOMPARE(cli({"install", "G", "G/sample-ships/Merganser.xsp"}).code, 0);
        QCOMPARE(cli({"update-mod", "G"}).code, 0);
        const Files before = files();
        QCOMPARE(cli({"uninstall", "G", "Merganser", "Orrin Vale"}).code, 0);
        const Files changed = files();
        const QString pristine = m_game + QStringLiteral("-pristine");
        QVERIFY(GameSnapshot::copyTree(m_game, pristine));
        int killed = 0;
        for (long point = 1;; point = point * 2 + 1) {
            QVERIFY(QDir(m_game).removeRecursively() && GameSnapshot::copyTree(pristine, m_game));
            const Result r = cli({"undo", "G"}, point);
            if (r.code != -1) {
                QCOMPARE(r.code, 0);
                break;
            }
            ++killed;
            QCOMPARE(cli({"list", "G"}).code, 0); // rolls back what the kill left
            const Files now = files();
            QVERIFY2(difference(changed, now).isEmpty() || difference(before, now).isEmpty(),
                     qPrintable(QStringLiteral("killed at %1: %2").arg(point).arg(difference(changed, now))));
            // Rolled back, the undo is still to be had.
            if (difference(changed, now).isEmpty()) {
                QCOMPARE(cli({"undo", "G"}).code, 0);
                QVERIFY(difference(before, files()).isEmpty());
            }
        }
        QVERIFY(killed >= 4);
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
