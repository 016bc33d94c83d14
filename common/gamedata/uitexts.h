// The UI translation catalogue: every caption, label and message of both programs
// is looked up by number in text tables filled from hw_languages.xml. Each
// language in the file has a section per program ("installer", "creator") and a
// "shared" section; element and attribute names are matched without regard to case.
// Numbers without a translation read "ReadText-" + n, so a gap shows its number.
#pragma once

#include "gamechange.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

class QIODevice;

class UiTexts
{
public:
    enum class Program {
        Installer, // own section "installer", 340 texts
        Creator,   // own section "creator", 560 texts
    };

    struct Language
    {
        QString name;
        int id = 0;
        QString translator;
    };

    // Room for the installer's newer messages (numbers 147 on); a translation file
    // with fewer simply leaves them placeholders.
    static constexpr int kInstallerCount = 340;
    static constexpr int kCreatorCount = 560;
    static constexpr int kSharedCount = 60;

    // Shared texts of the details below a message: the system's error numbers
    // users meet (errno), from kSystemErrorFirst, and the archive library's error
    // codes 1..28, at kArchiveErrorFirst - 1 + code.
    static constexpr int kSystemErrorFirst = 7;
    static constexpr int kArchiveErrorFirst = 31;

    explicit UiTexts(Program program);

    Program program() const { return m_program; }

    // Resets every text to its placeholder and the language list, then reads the
    // texts of the language whose name equals languageName (any letter case) and
    // the list of all languages. In each stored text "_" becomes "&" (shortcut
    // marker), a backslash followed by "n" a line break, and "[b]"/"[/b]" bold
    // markup. False when the file cannot be opened or is not well-formed XML;
    // what was read before the error stays. A language the file lacks is not an
    // error: the texts just keep their placeholders.
    bool load(const QString& xmlPath, const QString& languageName);
    bool load(QIODevice& device, const QString& languageName);
    // Why the last load returned false; empty after a successful load.
    QString errorString() const { return m_error; }

    // Out-of-range numbers give the placeholder text of that number.
    QString own(int n) const;
    QString shared(int n) const;
    // Valid until the next load.
    const QStringList& ownTexts() const { return m_own; }
    const QStringList& sharedTexts() const { return m_shared; }
    // Every language of the file, in file order.
    const QList<Language>& languages() const { return m_languages; }

    static QString placeholder(int n);

    // The locale of the loaded language (dates and numbers in its way); the
    // default locale when the language is not one the toolkit knows.
    QLocale locale() const;

    // A system error number (errno) as a text of the language in `shared` (the
    // shared section): the common ones have texts of their own; any other, or one
    // the language leaves out, is the system's own text.
    static QString systemError(const QStringList& shared, int error);
    QString systemError(int error) const { return systemError(m_shared, error); }
    // The archive library's error code the same way (its fixed English message
    // as the fallback).
    static QString archiveError(const QStringList& shared, int code);
    QString archiveError(int code) const { return archiveError(m_shared, code); }
    // A failed roll-back of the change journal, worded; `english` (the journal's
    // own report) when the failure says nothing.
    static QString journalFailure(const QStringList& shared, const GameChange::RecoverFailure& failure,
                                  const QString& english);
    // The shared text number of a system error number, or -1 when it has none.
    static int systemErrorText(int error);

    // The name of the language that a first start shows for a locale: the one
    // whose name is the locale language's own or English name, or whose game
    // language number (44 English, 49 German, 33 French, ...) is that language's;
    // "English" when the list has none of them.
    static QString languageFor(const QList<Language>& languages, const QLocale& locale);
    // The toolkit's language of a language of the file, found the same ways;
    // QLocale::AnyLanguage when neither its number nor its name is known.
    QLocale::Language localeLanguage(const QString& languageName) const;

private:
    void reset();

    Program m_program;
    QStringList m_own;
    QStringList m_shared;
    QList<Language> m_languages;
    QString m_error;
    QString m_language; // the name asked for by the last load
};
