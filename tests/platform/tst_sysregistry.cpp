// The INI registry stands in for the native one on every platform but Windows;
// players also write its file by hand, so both directions are checked.

#include "sysregistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSysRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString ini(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const auto row = [](const char* tag, const char* key, const char* value) {
            QTest::newRow(tag) << QString::fromUtf8(key) << QString::fromUtf8(value);
        };
        row("subkey with space", "/Vega Concord/INSTALL_DIR", "C:\\Games\\Vega\\");
        row("comma, quotes", "/A/B/C", "x, \"y\"; z = 1");
        row("padded, percent", "/K%2F/ x ", " 100% ");
        row("at sign, unicode", "/Vega/ModName", "@Hüllwright");
    }
    void roundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(CreateIniRegistry(ini("roundtrip.ini"))->writeString("/Starfall", key, value));
        // A fresh object reads the file, not a cache of the writer.
        QCOMPARE(CreateIniRegistry(ini("roundtrip.ini"))->readString("/Starfall", key), value);
    }

    void searchPathsAndMissingValues()
    {
        auto reg = CreateIniRegistry(ini("apart.ini"));
        const QString key = QStringLiteral("/Steam/InstallPath");
        QCOMPARE(reg->readString("/Valve", key), QString());
        QVERIFY(!QFile::exists(ini("apart.ini"))); // reading creates nothing
        QVERIFY(reg->writeString("/Starfall", key, "one"));
        QVERIFY(reg->writeString("/Valve", key, "two"));
        QCOMPARE(reg->readString("/Starfall", key), QStringLiteral("one"));
        QCOMPARE(reg->readString("/Valve", key), QStringLiteral("two"));
        QCOMPARE(reg->readString("/SKYWARD", key), QString());
        // A subkey is not a value; an empty key names nothing.
        QCOMPARE(reg->readString("/Valve", "/Steam"), QString());
        QCOMPARE(reg->readString("/Valve", "/Steam/Other"), QString());
        QVERIFY(!reg->writeString("/Valve", "/", "v"));
        // A file where the folder should be: the write fails.
        QFile blocker(ini("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY(
            !CreateIniRegistry(ini("blocker/registry.ini"))->writeString("/Starfall", "/A", "v"));
    }

    // The layout the header documents, as a player types it; names ignore case as
    // in the native registry, and a rewrite keeps the spelling and the other values.
    void handWrittenFile()
    {
        QFile f(ini("hand.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[starfall]\nVega Concord/INSTALL_DIR=/home/p/Vega, Concord\n"
                "[SKYWARD]\nVega\\ModName=Base\n");
        f.close();
        auto reg = CreateIniRegistry(ini("hand.ini"));
        const QString dirKey = QStringLiteral("/Vega Concord/INSTALL_DIR");
        QCOMPARE(reg->readString("/Starfall", dirKey), QStringLiteral("/home/p/Vega, Concord"));
        QCOMPARE(reg->readString("\\SKYWARD\\", "vega//modname"), QStringLiteral("Base"));
        QVERIFY(reg->writeString("/SKYWARD", "/Vega/ModName", "Hullwright"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text.count("ModName"), 1);
        QVERIFY(text.contains("Vega\\ModName=Hullwright"));
        QCOMPARE(reg->readString("/Starfall", dirKey), QStringLiteral("/home/p/Vega, Concord"));
    }
};

QTEST_GUILESS_MAIN(TestSysRegistry)
#include "tst_sysregistry.moc"
