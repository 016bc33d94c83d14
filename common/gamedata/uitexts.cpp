#include "uitexts.h"

#include "arc.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

bool sameName(QStringView a, QLatin1StringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString attribute(const QXmlStreamAttributes& attributes, QLatin1StringView name)
{
    for (const QXmlStreamAttribute& a : attributes)
        if (sameName(a.name(), name))
            return a.value().toString();
    return QString();
}

QString convert(QString text)
{
    text.replace(QLatin1Char('_'), QLatin1Char('&'));
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("[b]"), QLatin1String("<b>"));
    text.replace(QLatin1String("[/b]"), QLatin1String("</b>"));
    return text;
}

QStringList placeholders(int count)
{
    QStringList texts;
    texts.reserve(count);
    for (int n = 0; n < count; ++n)
        texts.append(UiTexts::placeholder(n));
    return texts;
}

// The game numbers its languages by telephone country code.
int gameLanguageNumber(QLocale::Language language)
{
    switch (language) {
    case QLocale::English: return 44;
    case QLocale::German: return 49;
    case QLocale::French: return 33;
    case QLocale::Italian: return 39;
    case QLocale::Spanish: return 34;
    case QLocale::Polish: return 48;
    case QLocale::Russian: return 7;
    case QLocale::Czech: return 42;
    default: return 0;
    }
}

} // namespace

QString UiTexts::languageFor(const QList<Language>& languages, const QLocale& locale)
{
    const QLocale::Language wanted = locale.language();
    const QString ownName = QLocale(wanted).nativeLanguageName();
    const QString englishName = QLocale::languageToString(wanted);
    const int number = gameLanguageNumber(wanted);
    for (const Language& l : languages) {
        const QString name = l.name.trimmed();
        if (!name.isEmpty() && (name.compare(ownName, Qt::CaseInsensitive) == 0 ||
                                name.compare(englishName, Qt::CaseInsensitive) == 0 ||
                                (number != 0 && l.id == number)))
            return l.name;
    }
    return QStringLiteral("English");
}

QLocale::Language UiTexts::localeLanguage(const QString& languageName) const
{
    for (const Language& l : m_languages) {
        if (l.name.compare(languageName, Qt::CaseInsensitive) != 0)
            continue;
        for (int i = QLocale::C + 1; i <= QLocale::LastLanguage; ++i) {
            const auto language = static_cast<QLocale::Language>(i);
            if ((l.id != 0 && gameLanguageNumber(language) == l.id) ||
                (QLocale::languageToString(language).compare(l.name, Qt::CaseInsensitive) == 0))
                return language;
        }
        const QLocale named(l.name);
        if (named.language() != QLocale::C)
            return named.language();
        for (int i = QLocale::C + 1; i <= QLocale::LastLanguage; ++i) {
            const auto language = static_cast<QLocale::Language>(i);
            if (QLocale(language).nativeLanguageName().compare(l.name, Qt::CaseInsensitive) == 0)
                return language;
        }
    }
    return QLocale::AnyLanguage;
}

QLocale UiTexts::locale() const
{
    const QLocale::Language language = localeLanguage(m_language);
    return language == QLocale::AnyLanguage ? QLocale() : QLocale(language);
}

int UiTexts::systemErrorText(int error)
{
    // Stored as text numbers in users' translation files: only add at the end.
    static const int kErrors[] = {
        ENOENT, EACCES, EPERM, ENOSPC, EROFS, EEXIST, EISDIR, ENOTDIR, EIO, EMFILE,
        ENAMETOOLONG, EXDEV, EBUSY, ETXTBSY, EDQUOT, ELOOP, ENOTEMPTY, EWOULDBLOCK, ENOMEM,
    };
    if (error == ENFILE)
        error = EMFILE; // the same for the user: too many files open
    for (size_t k = 0; k < std::size(kErrors); ++k)
        if (kErrors[k] == error)
            return kSystemErrorFirst + int(k);
    return -1;
}

QString UiTexts::systemError(const QStringList& shared, int error)
{
    const int n = systemErrorText(error);
    if (n >= 0 && n < shared.size() && shared.at(n) != placeholder(n))
        return shared.at(n);
    return QString::fromLocal8Bit(std::strerror(error));
}

QString UiTexts::archiveError(const QStringList& shared, int code)
{
    const int n = kArchiveErrorFirst - 1 + code;
    if (code >= ARC_E_HANDLE && code <= ARC_E_TOOLARGE && n < shared.size() && shared.at(n) != placeholder(n))
        return shared.at(n);
    return QString::fromLatin1(arc_error_message(code));
}

QString UiTexts::journalFailure(const QStringList& shared, const GameChange::RecoverFailure& failure,
                                const QString& english)
{
    // Shared texts: the roll-back failed on a file; the journal could not be removed.
    constexpr int kStepFailed = 26, kNotRemoved = 27;
    const int n = failure.notRemoved ? kNotRemoved : kStepFailed;
    if ((!failure.notRemoved && failure.file.isEmpty()) || n >= shared.size() || shared.at(n) == placeholder(n))
        return english;
    const QString args[] = {failure.journal, failure.file,
                            failure.notRemoved ? QString() : systemError(shared, failure.error)};
    // One pass: a path holding "%2" stays as it is.
    QString out;
    const QString& text = shared.at(n);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (text.at(i) == QLatin1Char('%') && next >= QLatin1Char('1') && next <= QLatin1Char('3')) {
            out += args[next.unicode() - '1'];
            ++i;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

UiTexts::UiTexts(Program program) : m_program(program)
{
    reset();
}

QString UiTexts::placeholder(int n)
{
    return QStringLiteral("ReadText-") + QString::number(n);
}

void UiTexts::reset()
{
    m_own = placeholders(m_program == Program::Installer ? kInstallerCount : kCreatorCount);
    m_shared = placeholders(kSharedCount);
    m_languages.clear();
    m_error.clear();
}

QString UiTexts::own(int n) const
{
    return n >= 0 && n < m_own.size() ? m_own.at(n) : placeholder(n);
}

QString UiTexts::shared(int n) const
{
    return n >= 0 && n < m_shared.size() ? m_shared.at(n) : placeholder(n);
}

bool UiTexts::load(const QString& xmlPath, const QString& languageName)
{
    reset();
    QFile file(xmlPath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    return load(file, languageName);
}

bool UiTexts::load(QIODevice& device, const QString& languageName)
{
    reset();
    m_language = languageName;
    const QLatin1StringView ownSection(m_program == Program::Installer ? "installer" : "creator");

    // Depths of the open elements that matter; -1 when not inside one. Depths
    // rather than flags, so that a nested element of the same name cannot close
    // them early.
    int depth = 0;
    int languageDepth = -1;
    int sectionDepth = -1;
    QStringList* section = nullptr;
    int current = -1;
    QString raw; // character data of the current text, converted once it ends

    const auto storeCurrent = [&] {
        if (section && current >= 0)
            (*section)[current] = convert(raw);
        current = -1;
        raw.clear();
    };

    QXmlStreamReader xml(&device);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            ++depth;
            const QStringView name = xml.name();
            if (sameName(name, QLatin1StringView("language"))) {
                const QXmlStreamAttributes attributes = xml.attributes();
                Language language;
                language.name = attribute(attributes, QLatin1StringView("name"));
                language.id = attribute(attributes, QLatin1StringView("id")).toInt();
                language.translator = attribute(attributes, QLatin1StringView("translator"));
                if (languageDepth < 0 &&
                    language.name.compare(languageName, Qt::CaseInsensitive) == 0)
                    languageDepth = depth;
                m_languages.append(std::move(language));
            } else if (languageDepth >= 0 && sectionDepth < 0 &&
                       (sameName(name, ownSection) ||
                        sameName(name, QLatin1StringView("shared")))) {
                section = sameName(name, ownSection) ? &m_own : &m_shared;
                sectionDepth = depth;
            } else if (section && sameName(name, QLatin1StringView("t"))) {
                storeCurrent();
                // A number that is not a number must not land on text 0.
                bool ok = false;
                const int id = attribute(xml.attributes(), QLatin1StringView("id")).toInt(&ok);
                if (ok && id >= 0 && id < section->size()) {
                    current = id;
                    (*section)[id].clear();
                }
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (sameName(xml.name(), QLatin1StringView("t")))
                storeCurrent();
            if (depth == sectionDepth) {
                storeCurrent();
                section = nullptr;
                sectionDepth = -1;
            }
            if (depth == languageDepth)
                languageDepth = -1;
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (current >= 0)
                raw += xml.text();
            break;
        default:
            break;
        }
    }
    storeCurrent();
    if (xml.hasError()) {
        m_error = QStringLiteral("%1 (line %2, column %3)")
                      .arg(xml.errorString())
                      .arg(xml.lineNumber())
                      .arg(xml.columnNumber());
        return false;
    }
    return true;
}
