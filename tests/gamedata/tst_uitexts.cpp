#include "uitexts.h"

#include <QTemporaryDir>
#include <QtTest>

using Texts = QMap<int, QString>;

static QByteArray fixture(const char* name)
{
    QFile f(QStringLiteral(UITEXTS_DATA "/%1.xml").arg(QLatin1String(name)));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(f.fileName()));
    return f.readAll();
}

class TestUiTexts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeXml(const QByteArray& xml)
    {
        const QString path = m_dir.filePath(QStringLiteral("lang%1.xml").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static void compareTexts(const UiTexts& texts, const Texts& own, const Texts& shared)
    {
        for (int n = 0; n < texts.ownTexts().size(); ++n)
            QCOMPARE(texts.own(n), own.value(n, UiTexts::placeholder(n)));
        for (int n = 0; n < texts.sharedTexts().size(); ++n)
            QCOMPARE(texts.shared(n), shared.value(n, UiTexts::placeholder(n)));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void placeholdersBeforeLoading()
    {
        // Out of range reads its own number instead of failing.
        const UiTexts installer(UiTexts::Program::Installer);
        QCOMPARE(installer.own(0), QStringLiteral("ReadText-0"));
        QCOMPARE(installer.own(200), QStringLiteral("ReadText-200"));
        QCOMPARE(installer.shared(-1), QStringLiteral("ReadText--1"));
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("creator");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Texts>("own");
        QTest::addColumn<Texts>("shared");

        QTest::newRow("ids at and beyond the array ends")
            << fixture("array-ends") << false << "English" << true << Texts{{199, "last"}}
            << Texts{{19, "s-last"}};
        QTest::newRow("creator takes its own section, not the installer's")
            << fixture("creator") << true << "English" << true
            << Texts{{1, "cre"}, {399, "top"}, {459, "last"}}
            << Texts{};
        QTest::newRow("conversions") << fixture("conversions") << false << "English" << true
                                     << Texts{{0, "&Install"},
                                              {1, "one\ntwo\n"},
                                              {2, "<b>Name</b>:"},
                                              {3, "[B]as is[/B] back\\slash"}}
                                     << Texts{};
        QTest::newRow("upper-case element and attribute names")
            << fixture("upper-case") << false << "English" << true << Texts{{5, "five"}}
            << Texts{{6, "six"}};
        QTest::newRow("language name in another letter case")
            << fixture("name-case") << false << "ENGLISH" << true << Texts{{5, "five"}} << Texts{};
        QTest::newRow("only the wanted language counts")
            << fixture("wanted-language") << false << "English" << true << Texts{{1, "one"}}
            << Texts{};
        QTest::newRow("later duplicate wins, empty text clears the placeholder")
            << fixture("duplicates") << false << "English" << true
            << Texts{{1, "second"}, {2, ""}, {3, ""}} << Texts{};
        QTest::newRow("entities and CDATA join into one text")
            << fixture("entities") << false << "English" << true << Texts{{1, "a & b <c>&d"}}
            << Texts{};
        QTest::newRow("texts outside a section are ignored")
            << fixture("outside-sections") << false << "English" << true << Texts{{2, "kept"}}
            << Texts{};
        QTest::newRow("language missing from the file")
            << fixture("missing-language") << false << "English" << true << Texts{} << Texts{};
        QTest::newRow("malformed: what came before the error stays")
            << fixture("malformed") << false << "English" << false << Texts{{1, "one"}, {2, "two"}}
            << Texts{};
        QTest::newRow("cut off inside a text") << fixture("cut-off") << false << "English" << false
                                               << Texts{{1, "one"}, {2, ""}} << Texts{};
        QTest::newRow("not XML at all") << QByteArray("\x00\xff<<<>>>&&&", 11) << false << "English"
                                        << false << Texts{} << Texts{};
        QTest::newRow("empty file")
            << QByteArray() << false << "English" << false << Texts{} << Texts{};
    }

    void load()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, creator);
        QFETCH(QString, language);
        QFETCH(bool, ok);
        QFETCH(Texts, own);
        QFETCH(Texts, shared);

        UiTexts texts(creator ? UiTexts::Program::Creator : UiTexts::Program::Installer);
        QCOMPARE(texts.load(writeXml(xml), language), ok);
        QCOMPARE(texts.errorString().isEmpty(), ok);
        compareTexts(texts, own, shared);
    }

    void languageList()
    {
        const QString path = writeXml("<?xml version='1.0' encoding='UTF-8'?><languages>"
                                      "<language name='Deutsch' id='49' translator='A. Muster'/>"
                                      "<language name='English' id='44' translator='B. Sample'/>"
                                      "<language name='Fran\xc3\xa7"
                                      "ais' id='oops' translator=''/></languages>");
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(path, QStringLiteral("Nonexistent")));
        QStringList listed;
        for (const UiTexts::Language& l : texts.languages())
            listed << l.name + QLatin1Char('|') + QString::number(l.id) + '|' + l.translator;
        QCOMPARE(listed, (QStringList{"Deutsch|49|A. Muster", "English|44|B. Sample",
                                      QString::fromUtf8("Fran\xc3\xa7" "ais|0|")}));
    }

    void reloadStartsAfresh()
    {
        const QString path = writeXml("<languages>"
                                      "<language name='A' id='1' translator='x'>"
                                      "<installer><t id='1'>a1</t><t id='2'>a2</t></installer>"
                                      "</language><language name='B' id='2' translator='y'>"
                                      "<installer><t id='1'>b1</t></installer></language>"
                                      "</languages>");
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(path, QStringLiteral("A")));
        QCOMPARE(texts.own(2), QStringLiteral("a2"));
        QVERIFY(texts.load(path, QStringLiteral("B")));
        QCOMPARE(texts.own(1), QStringLiteral("b1"));
        QCOMPARE(texts.own(2), QStringLiteral("ReadText-2"));
        QCOMPARE(texts.languages().size(), 2);

        QVERIFY(!texts.load(m_dir.filePath(QStringLiteral("missing.xml")), QStringLiteral("A")));
        QVERIFY(!texts.errorString().isEmpty());
        QVERIFY(texts.languages().isEmpty());
        compareTexts(texts, {}, {});
    }

    // Every number that the programs' windows and engine use must have a text in
    // the catalogue that ships with them.
    void shippedCatalogueIsComplete()
    {
        const QList<int> installerNumbers = {7,  8,   14,  20,  22,  23,  24,  25,  27,  28,
                                             29, 30,  31,  32,  33,  34,  35,  36,  37,  38,
                                             39, 40,  41,  42,  43,  46,  47,  48,  96,  97,
                                             98, 128, 129, 130, 136, 137, 138, 139, 143, 144};
        const QList<int> sharedNumbers = {0, 1, 2, 3, 4, 5, 6};

        UiTexts installer(UiTexts::Program::Installer);
        QVERIFY2(installer.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("english")),
                 qPrintable(installer.errorString()));
        for (int n : installerNumbers)
            QVERIFY2(!installer.own(n).startsWith(QLatin1String("ReadText-")) &&
                         !installer.own(n).isEmpty(),
                     qPrintable(QStringLiteral("installer text %1").arg(n)));
        for (int n : sharedNumbers)
            QVERIFY2(!installer.shared(n).startsWith(QLatin1String("ReadText-")),
                     qPrintable(QStringLiteral("shared text %1").arg(n)));
        // The windows fill these placeholders in.
        QVERIFY(installer.own(137).contains(QLatin1String("%1")));
        QVERIFY(installer.own(39).contains(QLatin1String("%3")));

        UiTexts creator
(UiTexts::Program::Creator);
        QVERIFY(creator.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("English")));
        for (int n : sharedNumbers)
            QVERIFY(!creator.shared(n).startsWith(QLatin1String("ReadText-")));
    }
};

QTEST_GUILESS_MAIN(TestUiTexts)
#include "tst_uitexts.moc"
