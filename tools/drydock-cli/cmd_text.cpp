// text GAMEDIR LANG PAGE ID: one game text as the start-up loader sees it.

#include "commands.h"
#include "gamedir.h"
#include "textpages.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace {

bool parseNumber(const QString& text, int* value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

} // namespace

int textCommand(const QStringList& args)
{
    if (args.size() != 4)
        return cliUsageError(QStringLiteral("'text' takes 4 argument(s)"));
    const QString& gameDir = args.at(0);
    int language = 0;
    int page = 0;
    int id = 0;
    if (!parseNumber(args.at(1), &language))
        return cliUsageError(QStringLiteral("the language must be a number: '%1'").arg(args.at(1)));
    if (!parseNumber(args.at(2), &page))
        return cliUsageError(QStringLiteral("the page must be a number: '%1'").arg(args.at(2)));
    if (!parseNumber(args.at(3), &id))
        return cliUsageError(QStringLiteral("the text id must be a number: '%1'").arg(args.at(3)));
    if (!QFileInfo(gameDir).isDir())
        return cliFail(gameDir + QStringLiteral(": not a folder"));

    QTemporaryDir work;
    if (!work.isValid())
        return cliFail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());

    TextLibrary texts;
    // Page 17 as well: references point there.
    texts.setPages({page, 17});
    texts.pinLanguage(language);
    GetTextOptions options;
    options.gameDir = gameDir;
    options.workDir = work.path();
    // Files are named with the plain number: "044" reads the files of 44.
    options.language = QString::number(language);
    // The installed ships' names live in the installer's mod, which the game reads last.
    options.modCatalog = ResolvePath(gameDir, QStringLiteral("mods/Hullwright.cat"));
    GetText(options, texts);

    const std::optional<QString> text = texts.resolvedText(language, page, id);
    if (!text)
        return cliFail(
            QStringLiteral("no text %1 on page %2 in language %3").arg(id).arg(page).arg(language));
    cliWriteOut(text->toUtf8() + '\n');
    return 0;
}
