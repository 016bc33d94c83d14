// Update checks against a local HTTP server: update file addresses and answers, the
// fallback between addresses, downloads kept inside Downloads, installing one.
#include "enginefixture.h"
#include "registry.h"
#include "updatecheck.h"
#include "updateserver.h"

#include <QNetworkProxy>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace UpdateCheck;
using Outcome = ShipCheckResult::Outcome;

namespace {

QByteArray updateFile(const QString& version, const QString& file, const QString& script)
{
    QByteArray text;
    if (!version.isNull())
        text += "version: " + version.toUtf8() + "\r\n";
    if (!file.isNull())
        text += "file: " + file.toUtf8() + "\r\n";
    if (!script.isNull())
        text += "script: " + script.toUtf8() + "\r\n";
    return text;
}

ShipCheck ship(const QString& name, const QString& version, const QStringList& addresses)
{
    ShipPackage p;
    p.Name = name;
    p.Version = version;
    p.Web = addresses.value(0);
    p.Mirror1 = addresses.value(1);
    p.Mirror2 = addresses.value(2);
    return ShipCheck::of(p);
}

// The rows of a tab-separated table: the row name, then the columns.
QList<QStringList> table(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read the table %s", qPrintable(path));
    QList<QStringList> rows;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            rows << QString::fromUtf8(line).split(QLatin1Char('\t'));
    return rows;
}

// Runs a checker or downloader until it reports the end.
template <typename T, typename Signal>
bool runUntil(T& object, Signal finished, int timeoutMs = 10000)
{
    QSignalSpy spy(&object, finished);
    return spy.wait(timeoutMs);
}

} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }

    void updateAddresses_data();
    void updateAddresses();
    void downloadNames_data();
    void downloadNames();
    void parsing();
    void shipChecks();
    void timeOutAndSkipMoveOn();
    void downloadsStayInside();
    void programCheck();
    void checkedFlags();
    void commandLine();
};

void TestUpdates::updateAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: unusable
    for (const QStringList& r : table(QFINDTESTDATA("../data/engine/update-addresses.tsv")))
        QTest::newRow(qPrintable(r.value(0))) << r.value(1) << r.value(2) << r.value(3);
}

void TestUpdates::updateAddresses()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QUrl url = ShipUpdateUrl(address, name);
    QCOMPARE(url.isValid() ? url.toString(QUrl::FullyEncoded) : QString(), expected);
}

void TestUpdates::downloadNames_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected");
    for (const QStringList& r : table(QFINDTESTDATA("../data/engine/download-names.tsv")))
        QTest::newRow(qPrintable(r.value(0))) << r.value(1) << r.value(2);
}

void TestUpdates::downloadNames()
{
    QFETCH(QString, address);
    QFETCH(QString, expected);
    QCOMPARE(DownloadFileName(address), expected);
}

void TestUpdates::parsing()
{
    // Keys in any case, the version's second word, the file's whole rest, first line wins.
    const auto file = ParseUpdateFile("  VERSION: 2.1b  beta\r\n"
                                      "File: http://h/a b/Ship.xsp\r\n"
                                      "Script:  Sea Hawk \r\n"
                                      "version: 9.9\n"
                                      "comment without value:\n");
    QVERIFY(file);
    QCOMPARE(*file->version, QStringLiteral("2.1b"));
    QCOMPARE(*file->file, QStringLiteral("http://h/a b/Ship.xsp"));
    QCOMPARE(*file->script, QStringLiteral("Sea Hawk"));

    const auto empty = ParseUpdateFile("version:\nnothing here\n");
    QVERIFY(empty && !empty->version && !empty->file && !empty->script);

    QByteArray big = "version: 1.0\nfile: x\nscript: y\n";
    big += QByteArray(kMaxUpdateFileBytes - big.size(), '\n');
    QVERIFY(ParseUpdateFile(big));
    QVERIFY(!ParseUpdateFile(big + '\n'));

    // The program's version is a decimal number; anything else is no version.
    const auto version = [](const char* v) { return ProgramVersion(*ParseUpdateFile(v)); };
    QCOMPARE(version("version: 1.90"), 1.90);
    QCOMPARE(version("version: 1.89"), 1.89);
    for (const char* none :
         {"version: abc", "version: nan", "version: inf", "version: -2", "file: x"})
        QCOMPARE(version(none), 0.0);
}

void TestUpdates::shipChecks()
{
    UpdateServer server;
    const QString file = server.url(QStringLiteral("/files/new.xsp"));
    server.answer("/s/Alpha.dat", updateFile("1.1", file, "Alpha"));
    server.answer("/s/Bravo.dat", updateFile("1.1", file, "bravo")); // name in another case
    server.answer("/s/Charlie.dat", updateFile("1.5", file, "Charlie"));
    server.answer("/s/Delta.dat", updateFile("2.0", file, "<b>Echo</b>"));
    server.answer("/s/Echo.dat", updateFile("2.0", QString(), "Echo"));
    server.answer("/m/Golf.dat", updateFile("3.0", file, "Golf"));
    server.answer("/s/HotelShip.dat", updateFile("1.0", file, "Hotel Ship"));
    server.answer("/s/Juliet.dat", QByteArray(kMaxUpdateFileBytes + 1, 'x'));
    UpdateServer::Answer unlimited;
    unlimited.body = QByteArray(kMaxUpdateFileBytes + 1, 'x');
    unlimited.noLength = true;
    server.answer("/s/Kilo.dat", unlimited);
    const QString s = server.url(QStringLiteral("/s"));
    const QString m = server.url(QStringLiteral("/m"));

    // Each ship, with the outcome of its check and its first failure.
    const QList<std::tuple<ShipCheck, Outcome, Failure::Kind>> expected = {
        {ship("Alpha", "1.0", {s}), Outcome::Newer, Failure::None},
        {ship("Bravo", "1.1", {s}), Outcome::Same, Failure::None},
        {ship("Charlie", "2.0", {s}), Outcome::Older, Failure::None},
        {ship("Delta", "1.0", {s}), Outcome::Failed, Failure::OtherShip},
        {ship("Echo", "1.0", {s}), Outcome::Failed, Failure::NoFile},
        {ship("Foxtrot", "1.0", {s}), Outcome::Failed, Failure::HttpStatus},
        {ship("Golf", "1.0", {s, m}), Outcome::Newer, Failure::HttpStatus},
        {ship("Hotel Ship", "1.0", {QString(), QString(), s}), Outcome::Same, Failure::None},
        {ship("Juliet", "1.0", {s}), Outcome::Failed, Failure::TooLarge},
        {ship("Kilo", "1.0", {s}), Outcome::Failed, Failure::TooLarge},
        {ship("Lima", "1.0", {}), Outcome::Failed, Failure::NoAddress},
    };
    QList<ShipCheck> ships;
    for (const auto& e : expected)
        ships << std::get<0>(e);
    QStringList texts(150, QStringLiteral("text"));
    texts[UpdateText::ReasonOtherShip] = QStringLiteral("for %1");
    ShipUpdateChecker checker(&texts);
    QSignalSpy finishedShips(&checker, &ShipUpdateChecker::Signal_ShipFinished);
    QSignalSpy logs(&checker, &ShipUpdateChecker::Signal_AddLog);
    // Concurrency is measured before the ships whose answers are cut off: the
    // server may notice those closed connections late.
    int openBeforeCutOffs = -1;
    connect(&checker, &ShipUpdateChecker::Signal_ShipStarted, this, [&](int index) {
        if (index == 8)
            openBeforeCutOffs = server.maxOpen;
    });
    checker.start(ships);
    QVERIFY(runUntil(checker, &ShipUpdateChecker::Signal_Finished));
    QCOMPARE(finishedShips.size(), ships.size());

    const QList<ShipCheckResult>& r = checker.results();
    QCOMPARE(r.size(), expected.size());
    for (int i = 0; i < r.size(); ++i) {
        QCOMPARE(r.at(i).outcome, std::get<1>(expected.at(i)));
        if (std::get<2>(expected.at(i)) != Failure::None)
            QCOMPARE(r.at(i).failures.at(0).kind, std::get<2>(expected.at(i)));
    }
    QCOMPARE(r.at(0).remoteVersion, QStringLiteral("1.1"));
    QCOMPARE(r.at(0).fileAddress, file);
    QVERIFY(r.at(1).fileAddress.isEmpty());
    QCOMPARE(r.at(5).failures.at(0).detail, QStringLiteral("404"));
    // Web address fails, mirror 1 answers.
    QCOMPARE(r.at(6).failures.size(), 1);
    QCOMPARE(r.at(6).answeredBy.toString(), m + QStringLiteral("/Golf.dat"));

    // One request at a time, each at "/" + folder + "/" + name without blanks + ".dat".
    QCOMPARE(openBeforeCutOffs, 1);
    QVERIFY(server.requested.contains(QStringLiteral("/s/HotelShip.dat")));
    QCOMPARE(server.hosts.first(), QStringLiteral("127.0.0.1:%1").arg(server.port()));
    QCOMPARE(server.requested.count(QStringLiteral("/s/Golf.dat")), 1);

    // The log is rich text: the server's text in it is escaped.
    QStringList lines;
    for (const QList<QVariant>& args : logs)
        lines << args.at(0).toString();
    const QStringList delta = lines.filter(QStringLiteral("Delta"));
    QCOMPARE(delta.size(), 1);
    QVERIFY(delta.first().contains(QLatin1String("&lt;b&gt;Echo")));
}

void TestUpdates::timeOutAndSkipMoveOn()
{
    UpdateServer server;
    server.silent("/quiet/Ship.dat");
    server.answer("/m/Ship.dat", updateFile("2.0", "http://h/f/Ship.xsp", "Ship"));
    const QStringList addresses = {server.url("/quiet"), server.url("/m")};

    // A server that never answers is given up after the time-out.
    ShipUpdateChecker checker(nullptr);
    checker.setTimeout(1);
    QSignalSpy ticks(&checker, &ShipUpdateChecker::Signal_CountDown);
    QElapsedTimer clock;
    clock.start();
    checker.start({ship("Ship", "1.0", addresses)});
    QVERIFY(runUntil(checker, &ShipUpdateChecker::Signal_Finished));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(checker.results().at(0).outcome, Outcome::Newer);
    QCOMPARE(checker.results().at(0).failures.at(0).kind, Failure::TimeOut);
    QCOMPARE(ticks.first().at(0).toInt(), 1);

    // Skipping abandons the address at once, whatever its countdown says.
    ShipUpdateChecker skipping(nullptr);
    QSignalSpy started(&skipping, &ShipUpdateChecker::Signal_AddressStarted);
    clock.restart();
    skipping.start({ship("Ship", "1.0", addresses)});
    QTRY_COMPARE(server.requested.count(QStringLiteral("/quiet/Ship.dat")), 2);
    skipping.skip();
    QVERIFY(runUntil(skipping, &ShipUpdateChecker::Signal_Finished));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(skipping.results().at(0).outcome, Outcome::Newer);
    QCOMPARE(skipping.results().at(0).failures.at(0).kind, Failure::Skipped);
    QCOMPARE(started.size(), 2);
}

void TestUpdates::downloadsStayInside()
{
    UpdateServer server;
    server.answer("*evil.xsp", QByteArray("evil"));
    server.answer("/f/a/Ship.xsp", QByteArray("first"));
    server.answer("/f/b/Ship.xsp", QByteArray("second"));
    UpdateServer::Answer huge;
    huge.body = "tiny";
    huge.claimedLength = kMaxDownloadBytes + 1;
    server.answer("/f/huge.xsp", huge);
    UpdateServer::Answer cut;
    cut.body = "only the start";
    cut.claimedLength = 5000;
    server.answer("/f/cut.xsp", cut);
    UpdateServer::Answer stream;
    stream.body = QByteArray(5000, 's');
    stream.noLength = true;
    server.answer("/f/stream.xsp", stream);

    QTemporaryDir root;
    const QString downloads = root.filePath("program/Downloads");
    FileDownloader downloader(nullptr);
    downloader.downloadFiles({server.url("/f/../../evil.xsp"), server.url("/f/a/Ship.xsp"),
                              server.url("/f/b/Ship.xsp"), server.url("/f/"),
                              server.url("/f/missing.xsp"), server.url("/f/huge.xsp"),
                              server.url("/f/cut.xsp")},
                             downloads);
    QVERIFY(runUntil(downloader, &FileDownloader::Signal_Finished));
    const QList<DownloadResult>& r = downloader.results();
    // A body without a length is counted as it arrives.
    FileDownloader limited(nullptr);
    limited.setMaxBytes(4000);
    limited.downloadFile(server.url("/f/stream.xsp"), downloads);
    QVERIFY(runUntil(limited, &FileDownloader::Signal_Finished));

    QCOMPARE(r.at(0).savedPath, downloads + "/evil.xsp");
    QCOMPARE(readBytes(downloads + "/evil.xsp"), QByteArray("evil"));
    // The same name twice in one run: both kept.
    QCOMPARE(readBytes(r.at(1).savedPath), QByteArray("first"));
    QCOMPARE(r.at(2).savedPath, downloads + "/Ship-2.xsp");
    QCOMPARE(readBytes(r.at(2).savedPath), QByteArray("second"));
    QCOMPARE(r.at(3).failure.kind, Failure::BadFileName);
    QVERIFY(!server.requested.contains("/f/"));
    QCOMPARE(r.at(4).failure.kind, Failure::HttpStatus);
    QCOMPARE(r.at(5).failure.kind, Failure::TooLarge);
    QVERIFY(!r.at(6).ok);
    QCOMPARE(limited.results().at(0).failure.kind, Failure::TooLarge);

    // Nothing but the complete files, and nothing outside Downloads.
    QStringList names = QDir(downloads).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    QCOMPARE(names, (QStringList{"Ship-2.xsp", "Ship.xsp", "evil.xsp"}));
    QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(root.filePath("program")).entryList(QDir::Files), QStringList());
}

void TestUpdates::programCheck()
{
    UpdateServer server;
    server.answer("/a/shipupdate.dat", "Version: 1.89\nFile: setup.exe\n");
    server.answer("/b/shipupdate.dat", "version: 1.90\nfile: ../other/setup-1.90.exe\n");
    server.answer("/c/shipupdate.dat", "version: 0\nfile: setup.exe\n");
    server.answer("/d/shipupdate.dat", "version: 1.95\n");
    server.silent("/quiet/shipupdate.dat");
    const auto mirror = [&](const char* folder) {
        return server.url(QStringLiteral("/%1/shipupdate.dat").arg(QLatin1String(folder)));
    };
    const auto run = [](ProgramUpdateChecker& checker) {
        QSignalSpy finished(&checker, &ProgramUpdateChecker::Signal_Finished);
        checker.start();
        return finished.wait(10000) ? finished.first().at(0).value<ProgramCheckResult>()
                                    : ProgramCheckResult();
    };

    // The mirrors come from the settings: the first three named, none by default.
    QVERIFY(ProgramMirrors({}).isEmpty());
    QCOMPARE(ProgramMirrors({" ", "http://a/shipupdate.dat ", "b", "c", "d"}),
             (QStringList{"http://a/shipupdate.dat", "b", "c"}));

    ProgramUpdateChecker upToDate(1.89, nullptr);
    upToDate.setMirrors({mirror("a"), mirror("b"), mirror("b")});
    ProgramCheckResult r = run(upToDate);
    QCOMPARE(r.outcome, ProgramCheckResult::Outcome::UpToDate);
    QCOMPARE(r.mirror, 0);

    ProgramUpdateChecker newer(1.89, nullptr);
    newer.setMirrors({mirror("b"), mirror("a"), mirror("a")});
    r = run(newer);
    QCOMPARE(r.outcome, ProgramCheckResult::Outcome::Newer);
    QCOMPARE(r.version, 1.90);
    // The file comes from the answering mirror's folder, by its name only.
    QCOMPARE(r.downloadUrl.toString(), server.url("/b/setup-1.90.exe"));

    // Silence, a zero version and a missing file line each move on to the next mirror.
    ProgramUpdateChecker fallback(1.89, nullptr);
    fallback.setTimeout(1);
    fallback.setMirrors({mirror("quiet"), mirror("c"), mirror("b")});
    r = run(fallback);
    QCOMPARE(r.outcome, ProgramCheckResult::Outcome::Newer);
    QCOMPARE(r.mirror, 2);
    QCOMPARE(r.failures.size(), 2);
    QCOMPARE(r.failures.at(0).kind, Failure::TimeOut);
    QCOMPARE(r.failures.at(1).kind, Failure::NoVersion);

    ProgramUpdateChecker failing(1.89, nullptr);
    failing.setMirrors({mirror("missing"), mirror("c"), mirror("d")});
    r = run(failing);
    QCOMPARE(r.outcome, ProgramCheckResult::Outcome::Failed);
    QCOMPARE(r.failures.size(), 3);
    QCOMPARE(r.failures.at(0).kind, Failure::HttpStatus);
    QCOMPARE(r.failures.at(2).kind, Failure::NoFile);
}

void TestUpdates::checkedFlags()
{
    ShipRegistry registry;
    for (const char* name : {"A", "B", "C"})
        registry.Ships << EngineFixture::simplePackage(name, "Someone", "1", name);
    registry.Ships[1].NotChecked = true;
    registry.Ships[2].Deleted = 2; // a free slot keeps what it had
    QVERIFY(RecordCheckedShips(registry, {{QStringLiteral("b"), QStringLiteral("SOMEONE")}}));
    QCOMPARE(registry.Ships.at(0).NotChecked, true);
    QCOMPARE(registry.Ships.at(1).NotChecked, false);
    QCOMPARE(registry.Ships.at(2).NotChecked, false);
    QVERIFY(!RecordCheckedShips(registry, {{QStringLiteral("B"), QStringLiteral("Someone")}}));
}

// drydock-cli updates runs the same code without a window.
void TestUpdates::commandLine()
{
    const QString bin = qEnvironmentVariable("VEGA_PROGRAM_DIR");
    if (bin.isEmpty() || !QFile::exists(bin + "/drydock-cli"))
        QSKIP("drydock-cli is not built");
    QTemporaryDir root;
    const QString program = root.filePath("program");
    const QString game = root.filePath("game");
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(bin + "/drydock-cli", program + "/drydock-cli"));
    QVERIFY(QFile::copy(bin + "/hw_languages.xml", program + "/hw_languages.xml"));

    // The server runs in this process: the tool is waited for on the event loop.
    const auto cli = [&](const QStringList& args, QByteArray* out) {
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(program + "/drydock-cli", args);
        if (!finished.wait(15000))
            return -1;
        *out = p.readAllStandardOutput();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray out;
    QCOMPARE(cli({"make-sample-game", game}, &out), 0);
    QCOMPARE(cli({"install", game, game + "/sample-ships/Merganser.xsp",
                  game + "/sample-ships/Goosander.xsp"},
                 &out),
             0);

    UpdateServer server;
    ShipRegistry registry;
    QVERIFY(ReadRegistry(game, registry));
    registry.Ships[0].Version = "0.9";
    registry.Ships[0].Web = server.url("/merganser");
    registry.Ships[0].Mirror1.clear();
    registry.Ships[1].Web.clear();
    QVERIFY(WriteRegistry(game, registry));
    server.answer("/merganser/Merganser.dat",
                  updateFile("1.0", server.url("/files/Merganser.xsp"), "Merganser"));
    server.answer("/files/Merganser.xsp", readBytes(game + "/sample-ships/Merganser.xsp"));

    QCOMPARE(cli({"updates", game}, &out), 1);
    QCOMPARE(out, QByteArray("Merganser\t0.9\t1.0\tnewer\n"
                             "Goosander\t1.2\t-\tfailed: no usable address\n"));
    QVERIFY(!QDir(program + "/Downloads").exists());

    QCOMPARE(cli({"updates", game, "--install"}, &out), 1);
    QVERIFY(out.endsWith("\ninstalled Merganser by Orrin Vale 1.0\n"));
    QVERIFY(QFile::exists(program + "/Downloads/Merganser.xsp"));
    QVERIFY(ReadRegistry(game, registry));
    QCOMPARE(registry.Ships.at(0).Version, QStringLiteral("1.0"));
}

QTEST_GUILESS_MAIN(TestUpdates)
#include "tst_updates.moc"
