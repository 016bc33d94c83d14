#include "imports.h"

#include "archivefile.h"
#include "safefile.h"
#include "shiprecord.h"
#include "textpages.h"
#include "typetable.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Tables and text pages are held whole; a real one is a few MB.
constexpr qint64 kMaxTableBytes = 64 << 20;

bool isCatalog(const QString& path)
{
    return QFileInfo(path).suffix().toLower() == QLatin1String("cat");
}

bool isPacked(const QString& path)
{
    return QFileInfo(path).suffix().toLower() == QLatin1String("pck");
}

bool readSmallFile(const QString& path, QByteArray* data, QString* error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot be read");
        return false;
    }
    if (file.size() > kMaxTableBytes) {
        *error = QStringLiteral("is too large for a table");
        return false;
    }
    *data = file.readAll();
    return true;
}

// The plain bytes of a table given as catalogue, packed or plain file; the
// temporary copy lands in workDir and is removed again.
bool tableBytes(const QString& path, const QString& entry, const QString& workDir,
                QByteArray* data, QString* error)
{
    if (!isCatalog(path) && !isPacked(path))
        return readSmallFile(path, data, error);
    if (!MakeDirChecked(workDir, error))
        return false;
    const QString temp = workDir + QLatin1Char('/') +
                         (isCatalog(path) ? QFileInfo(QString(entry).replace(QLatin1Char('\\'), QLatin1Char('/'))).completeBaseName()
                                          : QFileInfo(path).completeBaseName()) +
                         QStringLiteral(".txt");
    const bool extracted = isCatalog(path)
                               ? QFileInfo(path).isFile() &&
                                     ExtractArchiveFile(path + QStringLiteral("::") + entry, temp, false, false)
                               : UnpackDiskFile(path, temp);
    bool ok = false;
    if (!extracted)
        *error = isCatalog(path) ? QStringLiteral("holds no ") + entry
                                 : QStringLiteral("is not a packed file");
    else
        ok = readSmallFile(temp, data, error);
    RemoveFileChecked(temp);
    return ok;
}

QString terminated(const QString& line)
{
    return TerminatedLine(line.trimmed());
}

// Page 17 texts of one plain page file, under its language.
void readPage(const QString& file, int language, int nameText, QList<PackageText>& rows,
              const ImportLog& log)
{
    TextLibrary library;
    library.setPages({17});
    library.pinLanguage(language);
    QString error;
    if (!ParseTextPageFile(file, library, &error)) {
        if (log)
            log(QStringLiteral("(TEXTFILE) not a text page: ") + error);
        return;
    }
    const std::optional<QString> name = library.resolvedText(language, 17, nameText);
    if (!name || name->isEmpty())
        return;
    rows.append({language, *name, library.resolvedText(language, 17, nameText + 1).value_or(QString())});
}

int languageOf(const QString& fileName)
{
    QString base = fileName;
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    bool ok = false;
    const int language = TextFileLanguage(QFileInfo(base).fileName()).toInt(&ok);
    return ok ? language : -1;
}

} // namespace

QList<PackageText> ImportShipTexts(const QString& path, int nameText, const QString& workDir,
                                   const ImportLog& log)
{
    QList<PackageText> rows;
    auto skip = [&log](const QString& why) {
        if (log)
            log(QStringLiteral("(TEXTFILE) ") + why);
    };
    if (!QFileInfo(path).isFile()) {
        skip(QStringLiteral("not a file: ") + path);
        return rows;
    }
    const bool catalog = isCatalog(path);
    if (!catalog && !isPacked(path)) {
        const int language = languageOf(path);
        if (language < 0)
            skip(QStringLiteral("no language in the name: ") + path);
        else
            readPage(path, language, nameText, rows, log);
        return rows;
    }
    if (!MakeDirChecked(workDir))
        return rows;
    const QString temp = workDir + QStringLiteral("/textfile.txt");
    QList<std::pair<QString, QString>> sources; // what to unpack, its name
    if (catalog) {
        for (const CatalogEntryInfo& e : ListCatalog(path))
            if (e.name.startsWith(QLatin1String("t\\"), Qt::CaseInsensitive))
                sources.append({path + QStringLiteral("::") + e.name, e.name});
    } else {
        sources.append({path, QFileInfo(path).fileName()});
    }
    for (const auto& [source, name] : sources) {
        const int language = languageOf(name);
        const bool unpacked = catalog ? ExtractArchiveFile(source, temp, false, false)
                                      : UnpackDiskFile(source, temp);
        if (language < 0)
            skip(QStringLiteral("no language in the name: ") + name);
        else if (!unpacked)
            skip(QStringLiteral("cannot unpack ") + name);
        else
            readPage(temp, language, nameText, rows, log);
        RemoveFileChecked(temp);
    }
    return rows;
}

TableImport ImportGroupedTable(const QString& path, GroupedTable kind, const QString& workDir)
{
    TableImport result;
    const QString entry = kind == GroupedTable::Dummies ? QStringLiteral("types\\Dummies.pck")
                                                        : QStringLiteral("types\\Components.pck");
    QByteArray text;
    if (!tableBytes(path, entry, workDir, &text, &result.error))
        return result;
    result.ok = true;
    if (kind == GroupedTable::Dummies) {
        const DummyTable table = DummyTable::read(text);
        for (const TableGroup& g : table.groups())
            for (const QString& line : g.lines)
                result.rows.append({g.name, terminated(line), QString(), QString()});
    } else {
        const ComponentTable table = ComponentTable::read(text);
        for (const ComponentGroup& c : table.components())
            for (const TableGroup& g : c.groups)
                for (const QString& line : g.lines)
                    result.rows.append({c.name + QLatin1Char(';') + g.name, terminated(line), c.name, g.name});
    }
    return result;
}

PackageDummy DummyFromRow(const ImportRow& row)
{
    return {row.section, row.data};
}

PackageComponent ComponentFromRow(const ImportRow& row)
{
    return {row.component, row.group, row.data};
}

PickerLoad LoadPickerTable(const QString& path, PickerTable kind, const QString& workDir,
                           const QString& language)
{
    PickerLoad result;
    const QString entry = kind == PickerTable::Ships ? QStringLiteral("types\\TShips.pck")
                                                     : QStringLiteral("types\\TCockpits.pck");
    QByteArray text;
    if (!tableBytes(path, entry, workDir, &text, &result.error))
        return result;
    result.ok = true;
    const TypeTable table = kind == PickerTable::Ships ? ReadTypeTable(text) : ReadCompactTable(text);
    for (qsizetype i = 0; i < table.entries.size(); ++i) {
        const QString& line = table.entries.at(i);
        result.entries.append({int(i), line, TableIdentifier(line), QString()});
    }
    if (kind == PickerTable::Ships && isCatalog(path))
        NameShipsFromCatalog(result.entries, path, workDir, language);
    return result;
}

void NameShipsFromCatalog(QList<PickerEntry>& ships, const QString& catalog, const QString& workDir,
                          const QString& language)
{
    TextLibrary library;
    library.setPages({17});
    bool ok = false;
    const int lang = language.toInt(&ok);
    if (!ok || !MakeDirChecked(workDir))
        return;
    library.pinLanguage(lang);
    const QString temp = workDir + QStringLiteral("/textfile.txt");
    for (const CatalogEntryInfo& e : ListCatalog(catalog)) {
        if (!e.name.startsWith(QLatin1String("t\\"), Qt::CaseInsensitive) || languageOf(e.name) != lang)
            continue;
        if (ExtractArchiveFile(catalog + QStringLiteral("::") + e.name, temp, false, false))
            ParseTextPageFile(temp, library);
        RemoveFileChecked(temp);
    }
    for (PickerEntry& p : ships)
        p.name = library.resolvedText(lang, 17, TableFieldInt(p.line, 6)).value_or(QString());
}
