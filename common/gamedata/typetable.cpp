#include "typetable.h"

#include "archivefile.h"
#include "gamedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace {

// Calls f(line) for every line of text without its line end. A final line without
// LF counts; the empty piece after a final LF does not.
template <typename Text, typename F> void forEachLine(const Text& text, F f)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != '\n')
            ++end;
        qsizetype stop = end;
        while (stop > start && text[stop - 1] == '\r')
            --stop;
        f(start, stop);
        start = end + 1;
    }
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString withoutBlanks(QStringView line)
{
    QString out;
    out.reserve(line.size());
    for (QChar c : line) {
        if (!isBlank(c))
            out.append(c);
    }
    // CRs that stood before blanks at the end are line-end debris too.
    while (out.endsWith(QLatin1Char('\r')))
        out.chop(1);
    return out;
}

class TableBuilder
{
public:
    explicit TableBuilder(bool compact) : m_compact(compact) {}

    void add(QStringView raw)
    {
        QString line = m_compact ? withoutBlanks(raw) : raw.toString();
        if (IsSkippedTableLine(line))
            return;
        if (!m_haveHeader) {
            m_table.header = std::move(line);
            m_haveHeader = true;
        } else {
            m_table.entries.append(std::move(line));
        }
    }
    TypeTable take() { return std::move(m_table); }

private:
    TypeTable m_table;
    bool m_compact;
    bool m_haveHeader = false;
};

TypeTable read(const QByteArray& text, bool compact)
{
    TableBuilder b(compact);
    forEachLine(text, [&](qsizetype from, qsizetype to) {
        b.add(QString::fromLatin1(text.constData() + from, to - from));
    });
    return b.take();
}

TypeTable read(QStringView text, bool compact)
{
    TableBuilder b(compact);
    forEachLine(text, [&](qsizetype from, qsizetype to) { b.add(text.mid(from, to - from)); });
    return b.take();
}

// Only letters, digits and "_" of a table name reach the temporary file's name, so
// a name can never point the file outside the folder.
QString safeFileStem(const QString& name)
{
    QString stem;
    for (QChar c : name)
        stem.append(c.isLetterOrNumber() || c == QLatin1Char('_') ? c : QLatin1Char('_'));
    return stem.isEmpty() ? QStringLiteral("table") : stem;
}

} // namespace

int TypeTable::format() const
{
    return TableFieldInt(header, 0);
}

int TypeTable::count() const
{
    return TableFieldInt(header, 1);
}

TypeTable ReadTypeTable(const QByteArray& text)
{
    return read(text, false);
}

TypeTable ReadTypeTable(QStringView text)
{
    return read(text, false);
}

TypeTable ReadCompactTable(const QByteArray& text)
{
    return read(text, true);
}

TypeTable ReadCompactTable(QStringView text)
{
    return read(text, true);
}

QString TypeTableEntry(const QString& name)
{
    return QStringLiteral("types\\") + name + QStringLiteral(".pck");
}

bool ExtractTableText(const QString& gameDir, const QString& name, const QString& tempFolder,
                      QByteArray* text, const QString& modName, QString* error)
{
    text->clear();
    QTemporaryFile temp(
        QDir(tempFolder).filePath(safeFileStem(name) + QStringLiteral("-XXXXXX.txt")));
    if (!temp.open())
        return false;
    const QString path = temp.fileName();
    temp.close();
    // The extraction streams; only the read below holds the table in memory.
    if (!ExtractGameFile(gameDir, TypeTableEntry(name), path, modName))
        return false;
    const qint64 size = QFileInfo(path).size();
    if (size > InMemoryFileLimit()) {
        if (error)
            *error = TypeTableEntry(name) +
                     QStringLiteral(" is too large to be read (%1 bytes unpacked, the limit is "
                                    "%2 bytes)")
                         .arg(size)
                         .arg(InMemoryFileLimit());
        return false;
    }
    QString why;
    if (!ReadFileWhole(path, text, &why)) {
        if (error)
            *error = why;
        return false;
    }
    return true; // temp deletes the file
}

bool LoadTypeTable(const QString& gameDir, const QString& name, const QString& tempFolder,
                   TypeTable* table, const QString& modName)
{
    QByteArray text;
    const bool found = ExtractTableText(gameDir, name, tempFolder, &text, modName);
    *table = ReadTypeTable(text);
    return found;
}

bool LoadCompactTable(const QString& gameDir, const QString& name, const QString& tempFolder,
                      TypeTable* table, const QString& modName)
{
    QByteArray text;
    const bool found = ExtractTableText(gameDir, name, tempFolder, &text, modName);
    *table = ReadCompactTable(text);
    return found;
}

QString TableField(QStringView line, int n)
{
    if (n < 0)
        return QString();
    qsizetype start = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype semi = line.indexOf(QLatin1Char(';'), start);
        if (semi < 0)
            return QString();
        start = semi + 1;
    }
    const qsizetype end = line.indexOf(QLatin1Char(';'), start);
    return line.mid(start, end < 0 ? -1 : end - start).toString();
}

bool ParseTableInt(QStringView text, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

int TableFieldInt(QStringView line, int n, int fallback)
{
    int v = 0;
    return ParseTableInt(TableField(line, n), &v) ? v : fallback;
}

QString TableIdentifier(QStringView line)
{
    qsizetype end = line.size();
    while (end > 0) {
        const qsizetype semi = line.lastIndexOf(QLatin1Char(';'), end - 1);
        const QStringView field = line.mid(semi + 1, end - semi - 1).trimmed();
        if (!field.isEmpty())
            return field.toString();
        if (semi < 0)
            break;
        end = semi;
    }
    return QString();
}

bool IsSkippedTableLine(QStringView line)
{
    const QStringView t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char('/'));
}

QString TerminatedLine(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1).isSpace())
        --end;
    if (end > 0 && line.at(end - 1) == QLatin1Char(';'))
        return line;
    return line + QLatin1Char(';');
}

namespace {

QString oneLine(const QString& text, bool blankForBreak)
{
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString out = text;
    if (blankForBreak) {
        out.replace(QLatin1Char('\r'), QLatin1Char(' '));
        out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    } else {
        out.remove(QLatin1Char('\r'));
        out.remove(QLatin1Char('\n'));
    }
    return out;
}

} // namespace

QByteArray FormatTypeTable(const QStringList& comments, int format, const QStringList& entries)
{
    QByteArray out;
    for (const QString& c : comments)
        out += oneLine(c, true).toLatin1() + '\n';
    out += QByteArray::number(format) + ';' + QByteArray::number(entries.size()) + ";\n";
    for (const QString& e : entries)
        out += TerminatedLine(oneLine(e, false)).toLatin1() + '\n';
    return out;
}

bool WriteTableFile(const QString& folder, const QString& name, const QByteArray& text,
                    QString* error, const QString& suffix)
{
    QString file = name + suffix;
    file.replace(QLatin1Char('/'), QLatin1Char('_'));
    file.replace(QLatin1Char('\\'), QLatin1Char('_'));
    file.replace(QStringLiteral(".."), QStringLiteral("__"));
    const QDir dir(folder);
    QString why;
    if (!dir.mkpath(QStringLiteral("types"))) {
        why = QStringLiteral("cannot create ") + dir.filePath(QStringLiteral("types"));
    } else {
        QSaveFile out(dir.filePath(QStringLiteral("types/") + file + QStringLiteral(".txt")));
        if (out.open(QIODevice::WriteOnly) && out.write(text) == text.size() && out.commit())
            return true;
        why = out.fileName() + QStringLiteral(": ") + out.errorString();
    }
    if (error)
        *error = why;
    return false;
}
