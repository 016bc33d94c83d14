// The INI registry stands in for the native one on every platform but Windows;
// players also write its file by hand, so both directions are checked.

#include "sysregistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestSysRegistry : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString ini(const QString& name) const { return m_dir.filePath(name); }

    bool writeFile(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("subkey with space") << "/Vega Concord/INSTALL_DIR"
                                           << "/home/p/vega";
        QTest::newRow("windows path") << "/Steam/InstallPath"
                                      << "C:\\Program Files\\Steam\\";
        QTest::newRow("comma and quotes") << "/A/B/C"
                                          << "x, \"y\"; z = 1";
        QTest::newRow("padded, percent") << "/K%2F/ x "
                                         << " 100% ";
        QTest::newRow("at sign, unicode") << "/Vega/ModName"
                                          << "@Hüllwright";
        QTest::newRow("empty value") << "/Vega/Empty"
                                     << "";
    }
    void roundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString path = ini(QStringLiteral("roundtrip.ini"));
        QVERIFY(CreateIniRegistry(path)->writeString(QStringLiteral("/Starfall"), key, value));
        // A fresh object reads the file, not a cache of the writer.
        QCOMPARE(CreateIniRegistry(path)->readString(QStringLiteral("/Starfall"), key), value);
    }

    void searchPathsKeptApart()
    {
        const QString path = ini(QStringLiteral("apart.ini"));
        auto reg = CreateIniRegistry(path);
        const QString key = QStringLiteral("/Steam/InstallPath");
        QVERIFY(reg->writeString(QStringLiteral("/Starfall"), key, QStringLiteral("one")));
        QVERIFY(reg->writeString(QStringLiteral("/Valve"), key, QStringLiteral("two")));
        QVERIFY(reg->writeString(QStringLiteral("/Valve"), QStringLiteral("/Other"), "x"));
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), key), QStringLiteral("one"));
        QCOMPARE(reg->readString(QStringLiteral("/Valve"), key), QStringLiteral("two"));
        QCOMPARE(reg->readString(QStringLiteral("/SKYWARD"), key), QString());
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QStringLiteral("/Other")), QString());
    }

    void missingValues()
    {
        const QString path = ini(QStringLiteral("missing.ini"));
        auto reg = CreateIniRegistry(path);
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QStringLiteral("/X/Y")), QString());
        QVERIFY(!QFile::exists(path)); // reading creates nothing
        QVERIFY(reg->writeString(QStringLiteral("/Starfall"), QStringLiteral("/X/Y"), "v"));
        // A subkey is not a value; an empty key names nothing.
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QStringLiteral("/X")), QString());
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QStringLiteral("/X/Z")), QString());
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QString()), QString());
        QVERIFY(!reg->writeString(QStringLiteral("/Starfall"), QStringLiteral("/"), "v"));
    }

    // The layout the header documents, as a player types it; names ignore case as
    // in the native registry, and a rewrite keeps the spelling and the other values.
    void handWrittenFile()
    {
        const QString path = ini(QStringLiteral("hand.ini"));
        QVERIFY(writeFile(path, "[starfall]\n"
                                "Vega Concord/INSTALL_DIR=/home/p/Vega, Concord\n"
                                "[SKYWARD]\nVega\\ModName=Base\n"));
        auto reg = CreateIniRegistry(path);
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"),
                                 QStringLiteral("/Vega Concord/INSTALL_DIR")),
                 QStringLiteral("/home/p/Vega, Concord"));
        QCOMPARE(reg->readString(QStringLiteral("\\SKYWARD\\"), QStringLiteral("vega//modname")),
                 QStringLiteral("Base"));
        QVERIFY(reg->writeString(QStringLiteral("/SKYWARD"), QStringLiteral("/Vega/ModName"),
                                 QStringLiteral("Hullwright")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text.count("ModName"), 1);
        QVERIFY(text.contains("Vega\\ModName=Hullwright"));
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"),
                                 QStringLiteral("/Vega Concord/INSTALL_DIR")),
                 QStringLiteral("/home/p/Vega, Concord"));
    }

    void unwritableFile()
    {
        const QString blocker = ini(QStringLiteral("blocker"));
        QVERIFY(writeFile(blocker, "a file, not a folder"));
        auto reg = CreateIniRegistry(blocker + QStringLiteral("/registry.ini"));
        QVERIFY(!reg->writeString(QStringLiteral("/Starfall"), QStringLiteral("/A/B"), "v"));
        QCOMPARE(reg->readString(QStringLiteral("/Starfall"), QStringLiteral("/A/B")), QString());
    }

#ifndef Q_OS_WIN
    void programFolderFile()
    {
        QVERIFY(
            CreateSystemRegistry(m_dir.path())->writeString("/Valve", "/Steam/InstallPath", "s"));
        QCOMPARE(SystemRegistryLocation(m_dir.path()),
                 m_dir.filePath(QStringLiteral("registry.ini")));
        QCOMPARE(CreateIniRegistry(m_dir.filePath(QStringLiteral("registry.ini")))
                     ->readString("/Valve", "/Steam/InstallPath"),
                 QStringLiteral("s"));
    }
#endif
};

QTEST_GUILESS_MAIN(TestSysRegistry)
#include "tst_sysregistry.moc"
