#include "uitexts.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cerrno>
#include <cstring>

using Texts = QMap<int, QString>;
Q_DECLARE_METATYPE(QList<UiTexts::Language>)

static bool isPlaceholder(const QString& text, int n)
{
    return text == UiTexts::placeholder(n);
}

// The %1..%9 markers of a text, sorted: a translation may move them, not lose them.
static QStringList argMarkers(const QString& text)
{
    QStringList found;
    static const QRegularExpression marker(QStringLiteral("%[1-9]"));
    for (const QRegularExpressionMatch& m : marker.globalMatch(text))
        found << m.captured();
    found.sort();
    return found;
}

struct UsedNumbers
{
    QSet<int> creator;
    QSet<int> installer;
    QSet<int> shared;
};

// The text numbers that the sources ask for: the numbers of the text enums (by
// the namespace they stand in), the form tables of the creator's dialogs and
// literal numbers given to the installer's and shared text lookups.
static UsedNumbers numbersInSources()
{
    UsedNumbers used;
    static const QRegularExpression block(
        QStringLiteral("namespace (CreatorText|InstallerText|UpdateText) \\{(.*?)\\n\\}"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression enumValue(QStringLiteral("=\\s*(\\d+)"));
    static const QRegularExpression formEntry(QStringLiteral("\\{\"[A-Za-z0-9_#]+\",\\s*(\\d+)\\}"));
    static const QRegularExpression installerCall(QStringLiteral("\\binstallerText\\((\\d+)\\)"));
    static const QRegularExpression sharedCall(QStringLiteral("\\bshared(?:Text)?\\((\\d+)\\)"));
    const auto collect = [](const QRegularExpression& re, const QString& text, QSet<int>& into) {
        for (const QRegularExpressionMatch& m : re.globalMatch(text))
            into.insert(m.captured(m.lastCapturedIndex()).toInt());
    };
    for (const char* dir : {"common", "drydock", "hullwright", "tools"}) {
        QDirIterator it(QStringLiteral(VEGA_SOURCE_DIR "/") + QLatin1String(dir),
                        {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(file.fileName()));
            const QString text = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& m : block.globalMatch(text))
                collect(enumValue, m.captured(2),
                        m.captured(1) == QLatin1String("CreatorText") ? used.creator : used.installer);
            if (QLatin1String(dir) == QLatin1String("hullwright"))
                collect(formEntry, text, used.creator);
            collect(installerCall, text, used.installer);
            collect(sharedCall, text, used.shared);
        }
    }
    return used;
}

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
        QCOMPARE(installer.own(UiTexts::kInstallerCount), QStringLiteral("ReadText-%1").arg(UiTexts::kInstallerCount));
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
            << fixture("array-ends") << false << "English" << true << Texts{{339, "last"}}
            << Texts{{59, "s-last"}};
        QTest::newRow("creator takes its own section, not the installer's")
            << fixture("creator") << true << "English" << true
            << Texts{{1, "cre"}, {399, "top"}, {559, "last"}}
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

    // Every text number that the programs use, and every number the English texts
    // have, must be in every shipped language with the same %n markers: a text added
    // in English only shows up here, listed by number, until it is translated.
    void shippedLanguagesAreComplete_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("creator");
        UiTexts texts(UiTexts::Program::Creator);
        QVERIFY2(texts.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("English")),
                 qPrintable(texts.errorString()));
        QStringList names;
        for (const UiTexts::Language& l : texts.languages())
            names << l.name;
        QVERIFY(names.contains(QStringLiteral("English")));
        QVERIFY(names.contains(QStringLiteral("Deutsch")));
        QVERIFY(names.contains(QString::fromUtf8("Fran\xc3\xa7" "ais")));
        for (const QString& name : std::as_const(names)) {
            QTest::newRow(qPrintable(name + QStringLiteral(" creator"))) << name << true;
            QTest::newRow(qPrintable(name + QStringLiteral(" installer"))) << name << false;
        }
    }

    void shippedLanguagesAreComplete()
    {
        QFETCH(QString, language);
        QFETCH(bool, creator);
        static const UsedNumbers used = numbersInSources();
        QVERIFY(used.creator.size() > 300 && used.installer.size() > 150 && !used.shared.isEmpty());

        const auto program = creator ? UiTexts::Program::Creator : UiTexts::Program::Installer;
        UiTexts english(program);
        UiTexts translated(program);
        QVERIFY(english.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("English")));
        QVERIFY(translated.load(QStringLiteral(HW_LANGUAGES_XML), language));

        QStringList problems;
        const auto check = [&](const char* section, const QStringList& reference,
                               const QStringList& texts, const QSet<int>& inCode) {
            QList<int> missing;
            QList<int> markers;
            QList<int> shortcuts;
            QList<int> wanted = inCode.values();
            for (int n = 0; n < reference.size(); ++n)
                if (!isPlaceholder(reference.at(n), n) && !inCode.contains(n))
                    wanted << n;
            std::sort(wanted.begin(), wanted.end());
            for (int n : std::as_const(wanted)) {
                const QString text = n < texts.size() ? texts.at(n) : UiTexts::placeholder(n);
                if (isPlaceholder(text, n)) {
                    missing << n;
                } else if (n < reference.size() && !isPlaceholder(reference.at(n), n)) {
                    if (argMarkers(text) != argMarkers(reference.at(n)))
                        markers << n;
                    if (text.contains(QLatin1Char('&')) != reference.at(n).contains(QLatin1Char('&')))
                        shortcuts << n;
                }
            }
            const auto list = [](const QList<int>& numbers) {
                QStringList s;
                for (int n : numbers)
                    s << QString::number(n);
                return s.join(QStringLiteral(", "));
            };
            const QString where = language + QLatin1Char(' ') + QLatin1String(section);
            if (!missing.isEmpty())
                problems << where + QStringLiteral(" texts missing: ") + list(missing);
            if (!markers.isEmpty())
                problems << where + QStringLiteral(" texts whose %n markers differ from English: ") +
                                list(markers);
            if (!shortcuts.isEmpty())
                problems << where + QStringLiteral(" texts with a shortcut letter in one language only: ") +
                                list(shortcuts);
        };
        check(creator ? "creator" : "installer", english.ownTexts(), translated.ownTexts(),
              creator ? used.creator : used.installer);
        check("shared", english.sharedTexts(), translated.sharedTexts(), used.shared);
        QVERIFY2(problems.isEmpty(), qPrintable(QLatin1Char('\n') + problems.join(QLatin1Char('\n'))));
    }

    // A system error number in the loaded language: the ones users meet have
    // texts of their own; any other, or one the language leaves out, the system's.
    void systemErrors_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("shown");
        const QString french = QString::fromUtf8("Fran\xc3\xa7" "ais");
        QTest::newRow("missing file, German") << "Deutsch" << ENOENT << "die Datei oder der Ordner existiert nicht";
        QTest::newRow("full disk, German") << "Deutsch" << ENOSPC << QString::fromUtf8("der Datenträger ist voll");
        QTest::newRow("quota, French") << french << EDQUOT << QString::fromUtf8("le quota du disque est épuisé");
        QTest::newRow("system-wide open files as too many open files") << "Deutsch" << ENFILE
                                                                         << QString::fromUtf8("es sind zu viele Dateien geöffnet");
        QTest::newRow("a link refused, French") << french << ELOOP
                                                << QString::fromUtf8("le chemin passe par un lien, qui n'est pas suivi");
        QTest::newRow("unknown number: the system's text") << "Deutsch" << ECHILD
                                                           << QString::fromLocal8Bit(std::strerror(ECHILD));
        QTest::newRow("a language the file lacks") << "Klingon" << ENOENT
                                                   << QString::fromLocal8Bit(std::strerror(ENOENT));
    }

    void systemErrors()
    {
        QFETCH(QString, language);
        QFETCH(int, error);
        QFETCH(QString, shown);
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), language));
        QCOMPARE(texts.systemError(error), shown);
        QCOMPARE(UiTexts::systemError(texts.sharedTexts(), error), shown);
    }

    // Every number of the map has an English text, and no two share one.
    void systemErrorNumbersAreTexts()
    {
        UiTexts english(UiTexts::Program::Creator);
        QVERIFY(english.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("English")));
        QSet<int> numbers;
        for (int e : {ENOENT, EACCES, EPERM, ENOSPC, EROFS, EEXIST, EISDIR, ENOTDIR, EIO, EMFILE,
                      ENAMETOOLONG, EXDEV, EBUSY, ETXTBSY, EDQUOT, ELOOP, ENOTEMPTY, EWOULDBLOCK, ENOMEM}) {
            const int n = UiTexts::systemErrorText(e);
            QVERIFY2(n >= UiTexts::kSystemErrorFirst && n < UiTexts::kArchiveErrorFirst, qPrintable(QString::number(e)));
            QVERIFY(!isPlaceholder(english.shared(n), n));
            numbers.insert(n);
        }
        QCOMPARE(numbers.size(), 19);
        for (int code = 1; code <= 28; ++code)
            QVERIFY2(!isPlaceholder(english.archiveError(code), UiTexts::kArchiveErrorFirst - 1 + code),
                     qPrintable(QString::number(code)));
    }

    void archiveErrors_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        QTest::newRow("bad checksum, German") << "Deutsch" << 24
                                              << QString::fromUtf8("gepackte Datei: die Prüfsumme der Daten stimmt nicht");
        QTest::newRow("no data file, French") << QString::fromUtf8("Fran\xc3\xa7" "ais") << 14
                                              << QString::fromUtf8("le fichier de données du catalogue est introuvable");
        QTest::newRow("English") << "English" << 7 << "the file does not exist";
        QTest::newRow("unknown code: the library's words") << "Deutsch" << 99 << "Internal error.";
        QTest::newRow("no error code") << "Deutsch" << 0 << "No error.";
    }

    void archiveErrors()
    {
        QFETCH(QString, language);
        QFETCH(int, code);
        QFETCH(QString, shown);
        UiTexts texts(UiTexts::Program::Creator);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), language));
        QCOMPARE(texts.archiveError(code), shown);
    }

    // A failed roll-back of the journal worded in German, with the system's reason
    // worded too; a failure that names no file keeps the journal's own words.
    void journalFailure_data()
    {
        QTest::addColumn<bool>("notRemoved");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a file not put back")
            << false << "/g/sub/%2.txt"
            << QString::fromUtf8("das Zur\xc3\xbc" "cknehmen von /g/j scheiterte an /g/sub/%2.txt (ein Teil des Pfades ist "
                                 "kein Ordner); das Journal bleibt f\xc3\xbc" "r den n\xc3\xa4" "chsten Start erhalten");
        QTest::newRow("journal not removed")
            << true << QString() << QString::fromUtf8("zur\xc3\xbc" "ckgenommen, aber das Journal /g/j konnte nicht "
                                                     "entfernt werden");
        QTest::newRow("nothing said") << false << QString() << "english";
    }

    void journalFailure()
    {
        QFETCH(bool, notRemoved);
        QFETCH(QString, file);
        QFETCH(QString, shown);
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("Deutsch")));
        const GameChange::RecoverFailure failure{notRemoved, QStringLiteral("/g/j"), file, ENOTDIR};
        QCOMPARE(UiTexts::journalFailure(texts.sharedTexts(), failure, QStringLiteral("english")), shown);
    }

    void localeOfLoadedLanguage()
    {
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("Deutsch")));
        QCOMPARE(texts.locale().language(), QLocale::German);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QString::fromUtf8("Fran\xc3\xa7" "ais")));
        QCOMPARE(texts.locale().language(), QLocale::French);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("Klingon")));
        QCOMPARE(texts.locale(), QLocale());
    }

    // The loader lets a later number win, so a number given twice in one section
    // (two changes numbering their new texts alike) would silently hide a text.
    void shippedNumbersAreUnique()
    {
        QFile file(QStringLiteral(HW_LANGUAGES_XML));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString where;
        QSet<QString> seen;
        QStringList twice;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QString name = xml.name().toString();
            if (name == QLatin1String("language"))
                where = xml.attributes().value(QLatin1String("name")).toString();
            else if (name == QLatin1String("installer") || name == QLatin1String("creator") ||
                     name == QLatin1String("shared"))
                where = where.section(QLatin1Char('/'), 0, 0) + QLatin1Char('/') + name;
            else if (name == QLatin1String("t")) {
                const QString key =
                    where + QLatin1Char('#') + xml.attributes().value(QLatin1String("id")).toString();
                if (seen.contains(key))
                    twice << key;
                seen.insert(key);
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(seen.size() > 1000);
        QVERIFY2(twice.isEmpty(), qPrintable(twice.join(QStringLiteral(", "))));
    }

    void localeLanguageOfShippedLanguages()
    {
        UiTexts texts(UiTexts::Program::Installer);
        QVERIFY(texts.load(QStringLiteral(HW_LANGUAGES_XML), QStringLiteral("English")));
        QCOMPARE(texts.localeLanguage(QStringLiteral("english")), QLocale::English);
        QCOMPARE(texts.localeLanguage(QStringLiteral("Deutsch")), QLocale::German);
        QCOMPARE(texts.localeLanguage(QString::fromUtf8("Fran\xc3\xa7" "ais")), QLocale::French);
        QCOMPARE(texts.localeLanguage(QStringLiteral("Klingon")), QLocale::AnyLanguage);
    }

    void languageForLocale_data()
    {
        QTest::addColumn<QList<UiTexts::Language>>("languages");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("chosen");
        const QList<UiTexts::Language> shipped{{"English", 44, "p"},
                                                {"Deutsch", 49, "p"},
                                                {QString::fromUtf8("Fran\xc3\xa7" "ais"), 33, "p"}};
        QTest::newRow("German") << shipped << "de_DE" << "Deutsch";
        QTest::newRow("Austrian German") << shipped << "de_AT" << "Deutsch";
        QTest::newRow("Canadian French") << shipped << "fr_CA"
                                         << QString::fromUtf8("Fran\xc3\xa7" "ais");
        QTest::newRow("American English") << shipped << "en_US" << "English";
        QTest::newRow("no such language: English") << shipped << "ja_JP" << "English";
        QTest::newRow("C locale: English") << shipped << "C" << "English";
        QTest::newRow("by English name") << QList<UiTexts::Language>{{"English", 44, ""},
                                                                      {"Italian", 0, ""}}
                                         << "it_IT" << "Italian";
        QTest::newRow("by game number") << QList<UiTexts::Language>{{"English", 44, ""},
                                                                     {"Polski-PL", 48, ""}}
                                        << "pl_PL" << "Polski-PL";
        QTest::newRow("empty list") << QList<UiTexts::Language>{} << "de_DE" << "English";
    }

    void languageForLocale()
    {
        QFETCH(QList<UiTexts::Language>, languages);
        QFETCH(QString, locale);
        QFETCH(QString, chosen);
        QCOMPARE(UiTexts::languageFor(languages, QLocale(locale)), chosen);
    }
};

QTEST_GUILESS_MAIN(TestUiTexts)
#include "tst_uitexts.moc"
