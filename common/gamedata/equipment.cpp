#include "equipment.h"

#include "shiprecord.h"

namespace {

const char kNewCockpitFields[] = "0;0;0;0;0;0;0;4512;0;0;0;0;0;0;0;-100000;0;0;";

QString foldKey(const QString& key)
{
    return key.toCaseFolded();
}

bool hasLineBreak(QStringView text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

QString withoutLineEnd(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 &&
           (line.at(end - 1) == QLatin1Char('\n') || line.at(end - 1) == QLatin1Char('\r')))
        --end;
    return line.left(end);
}

QString rightTrimmed(QStringView text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return text.left(end).toString();
}

// A line a table can hold as one entry: it must read back as what was written.
bool writableLine(const QString& line)
{
    return !IsSkippedTableLine(line) && !hasLineBreak(line);
}

// A group or component name from a merge, without surrounding blanks; empty when
// it could not be written as a header that reads back under the same name.
QString writableName(const QString& name)
{
    const QString n = name.trimmed();
    if (n.isEmpty() || n.contains(QLatin1Char(';')) || hasLineBreak(n) ||
        n.startsWith(QLatin1Char('/')))
        return QString();
    return n;
}

QByteArray latin1(const QString& text)
{
    return text.toLatin1();
}

// ---- Grouped table reading ---------------------------------------------------

struct SourceLine
{
    int number; // 1-based line number in the text
    QString text;
};

// The lines every reader looks at: comments and blank lines skipped.
QList<SourceLine> contentLines(const QByteArray& text)
{
    QList<SourceLine> lines;
    int number = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        qsizetype stop = end;
        while (stop > start && text.at(stop - 1) == '\r')
            --stop;
        ++number;
        QString line = QString::fromLatin1(text.constData() + start, stop - start);
        if (!IsSkippedTableLine(line))
            lines.append({number, std::move(line)});
        start = end + 1;
    }
    return lines;
}

QList<SourceLine> contentLines(QStringView text)
{
    QList<SourceLine> lines;
    int number = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        qsizetype stop = end;
        while (stop > start && text.at(stop - 1) == QLatin1Char('\r'))
            --stop;
        ++number;
        const QStringView line = text.mid(start, stop - start);
        if (!IsSkippedTableLine(line))
            lines.append({number, line.toString()});
        start = end + 1;
    }
    return lines;
}

struct Header
{
    QString name;
    int count = 0;
    bool countValid = false;
    QString countText;
};

// "name;count;" with nothing but ";" and blanks after the count field.
bool parseHeader(const QString& line, Header* h)
{
    const qsizetype s1 = line.indexOf(QLatin1Char(';'));
    const qsizetype s2 = s1 < 0 ? -1 : line.indexOf(QLatin1Char(';'), s1 + 1);
    if (s2 >= 0) {
        for (qsizetype i = s2 + 1; i < line.size(); ++i) {
            if (line.at(i) != QLatin1Char(';') && !line.at(i).isSpace())
                return false;
        }
    }
    h->name = (s1 < 0 ? QStringView(line) : QStringView(line).left(s1)).trimmed().toString();
    h->countText =
        s1 < 0 ? QString() : QStringView(line).mid(s1 + 1, s2 < 0 ? -1 : s2 - s1 - 1).toString();
    int n = 0;
    h->countValid = ParseTableInt(h->countText, &n) && n >= 0;
    h->count = h->countValid ? n : 0;
    return true;
}

QString describe(const SourceLine& l)
{
    return QStringLiteral("line %1: ").arg(l.number);
}

void noteBadCount(QStringList* problems, const SourceLine& l, const Header& h)
{
    problems->append(describe(l) +
                     QStringLiteral("count \"%1\" of \"%2\" is not a count; read as 0")
                         .arg(h.countText.trimmed(), h.name));
}

void noteShort(QStringList* problems, const SourceLine& l, const Header& h, qsizetype found,
               const char* what)
{
    problems->append(describe(l) + QStringLiteral("\"%1\" declares %2 %3, %4 follow")
                                       .arg(h.name)
                                       .arg(h.count)
                                       .arg(QLatin1String(what))
                                       .arg(found));
}

void noteStray(QStringList* problems, const SourceLine& l)
{
    problems->append(describe(l) + QStringLiteral("a header was due; kept as a line of the "
                                                  "group before it"));
}

void writeGroup(QByteArray* out, const TableGroup& g, const QByteArray& lineEnd)
{
    *out += latin1(g.name) + ';' + QByteArray::number(g.lines.size()) + ';' + lineEnd;
    for (const QString& line : g.lines)
        *out += latin1(TerminatedLine(line)) + lineEnd;
}

QByteArray commentLines(const QStringList& comments, const QByteArray& lineEnd)
{
    QByteArray out;
    for (QString c : comments) {
        c.replace(QLatin1Char('\r'), QLatin1Char(' '));
        c.replace(QLatin1Char('\n'), QLatin1Char(' '));
        out += latin1(c) + lineEnd;
    }
    return out;
}

QString unpackComment(const char* table, const QString& packageName, const QString& author)
{
    return QStringLiteral("// ") + QLatin1String(table) +
           QStringLiteral(".txt created by Hullwright for ") + packageName +
           QStringLiteral(" by ") + author;
}

void readDummies(const QList<SourceLine>& lines, QList<TableGroup>* groups, QStringList* problems)
{
    qsizetype i = 0;
    while (i < lines.size()) {
        const SourceLine& l = lines.at(i++);
        Header h;
        if (!parseHeader(l.text, &h)) {
            if (groups->isEmpty())
                groups->append(TableGroup{});
            groups->last().lines.append(l.text);
            noteStray(problems, l);
            continue;
        }
        if (!h.countValid)
            noteBadCount(problems, l, h);
        TableGroup g{h.name, {}};
        const qsizetype take = std::min<qsizetype>(h.count, lines.size() - i);
        g.lines.reserve(take);
        for (qsizetype k = 0; k < take; ++k)
            g.lines.append(lines.at(i++).text);
        if (take < h.count)
            noteShort(problems, l, h, take, "lines");
        groups->append(std::move(g));
    }
}

} // namespace

// ---- Cockpits -----------------------------------------------------------------

CockpitTable::CockpitTable(const TypeTable& table)
{
    m_lines.reserve(table.entries.size());
    for (const QString& line : table.entries) {
        const QString key = foldKey(TableIdentifier(line));
        if (!m_index.contains(key))
            m_index.insert(key, static_cast<int>(m_lines.size()));
        m_lines.append(line);
    }
}

CockpitTable CockpitTable::oneShip(const QStringList& packageCockpits)
{
    CockpitTable t;
    t.append(QString::fromLatin1(kDefaultCockpitLine));
    for (const QString& line : packageCockpits)
        t.append(line);
    return t;
}

QStringList CockpitTable::keys() const
{
    QStringList keys;
    keys.reserve(m_lines.size());
    for (const QString& line : m_lines)
        keys.append(TableIdentifier(line));
    return keys;
}

int CockpitTable::indexOf(const QString& key) const
{
    const QString k = key.trimmed();
    return k.isEmpty() ? -1 : m_index.value(foldKey(k), -1);
}

bool CockpitTable::merge(const QString& line)
{
    const QString l = withoutLineEnd(line);
    const QString key = TableIdentifier(l);
    if (key.isEmpty() || !writableLine(l) || indexOf(key) >= 0)
        return false;
    return append(l);
}

bool CockpitTable::append(const QString& line)
{
    const QString l = withoutLineEnd(line);
    if (!writableLine(l))
        return false;
    const QString key = foldKey(TableIdentifier(l));
    if (!m_index.contains(key))
        m_index.insert(key, static_cast<int>(m_lines.size()));
    m_lines.append(l);
    return true;
}

QByteArray CockpitTable::text(const QStringList& comments) const
{
    return FormatTypeTable(comments, kCockpitTableFormat, m_lines);
}

QStringList CockpitKeys(const TypeTable& table)
{
    QStringList keys;
    keys.reserve(table.entries.size());
    for (const QString& line : table.entries)
        keys.append(TableIdentifier(line));
    return keys;
}

QList<int> EquipmentNameTexts(const TypeTable& table)
{
    QList<int> texts;
    texts.reserve(table.entries.size());
    for (const QString& line : table.entries)
        texts.append(TableFieldInt(line, kEquipmentNameField));
    return texts;
}

QStringList DummyTypes()
{
    return QString::fromLatin1(kDummyTypes).split(QLatin1Char(':'));
}

NewCockpit MakeNewCockpit(const QString& name, const QStringList& offeredKeys,
                          const QStringList& packageCockpits)
{
    NewCockpit result;
    result.key = name.trimmed().toUpper();
    if (result.key.isEmpty()) {
        result.status = NewCockpit::EmptyName;
        return result;
    }
    for (QChar c : std::as_const(result.key)) {
        if (c == QLatin1Char(';') || c.isSpace()) {
            result.status = NewCockpit::InvalidName;
            return result;
        }
    }
    const auto same = [&](const QString& key) {
        return key.trimmed().compare(result.key, Qt::CaseInsensitive) == 0;
    };
    for (const QString& key : offeredKeys) {
        if (same(key)) {
            result.status = NewCockpit::DuplicateName;
            return result;
        }
    }
    for (const QString& line : packageCockpits) {
        if (same(TableIdentifier(line))) {
            result.status = NewCockpit::DuplicateName;
            return result;
        }
    }
    result.status = NewCockpit::Created;
    result.line = QLatin1String(kNewCockpitFields) + result.key + QLatin1Char(';');
    return result;
}

int ResolveTurretCockpits(ShipRecord& record, const CockpitTable& cockpits)
{
    int replaced = 0;
    for (int k = 0; k < kTurretPairs; ++k) {
        const QString value = record.turretCockpit(k).trimmed();
        int number = 0;
        if (value.isEmpty() || ParseTableInt(value, &number))
            continue;
        const int index = cockpits.indexOf(value);
        if (index < 0)
            continue;
        record.setField(kTurretPairFirstField + 2 * k, QString::number(index));
        ++replaced;
    }
    return replaced;
}

// ---- Dummies ------------------------------------------------------------------

DummyTable DummyTable::read(const QByteArray& text)
{
    DummyTable t;
    readDummies(contentLines(text), &t.m_groups, &t.m_problems);
    return t;
}

DummyTable DummyTable::read(QStringView text)
{
    DummyTable t;
    readDummies(contentLines(text), &t.m_groups, &t.m_problems);
    return t;
}

int DummyTable::indexOf(const QString& group) const
{
    const QString name = group.trimmed();
    if (m_indexed)
        return m_groupIndex.value(name, -1);
    for (qsizetype i = 0; i < m_groups.size(); ++i) {
        if (m_groups.at(i).name == name)
            return static_cast<int>(i);
    }
    return -1;
}

void DummyTable::ensureIndex()
{
    if (m_indexed)
        return;
    m_groupIndex.clear();
    m_keys.clear();
    m_keys.reserve(m_groups.size());
    for (qsizetype i = 0; i < m_groups.size(); ++i) {
        const TableGroup& g = m_groups.at(i);
        if (!m_groupIndex.contains(g.name))
            m_groupIndex.insert(g.name, static_cast<int>(i));
        QSet<QString> keys;
        keys.reserve(g.lines.size());
        for (const QString& line : g.lines)
            keys.insert(TableField(line, 0).trimmed());
        m_keys.append(std::move(keys));
    }
    m_indexed = true;
}

int DummyTable::groupFor(const QString& name)
{
    const int found = m_groupIndex.value(name, -1);
    if (found >= 0)
        return found;
    m_groups.append(TableGroup{name, {}});
    m_keys.append(QSet<QString>());
    const int index = static_cast<int>(m_groups.size() - 1);
    m_groupIndex.insert(name, index);
    return index;
}

bool DummyTable::add(const QString& group, const QString& line, bool checkKey)
{
    const QString name = writableName(group);
    const QString l = withoutLineEnd(line);
    if (name.isEmpty() || !writableLine(l))
        return false;
    ensureIndex();
    const QString key = TableField(l, 0).trimmed();
    const int g = groupFor(name);
    if (checkKey && m_keys.at(g).contains(key))
        return false;
    m_groups[g].lines.append(l);
    m_keys[g].insert(key);
    return true;
}

bool DummyTable::merge(const QString& group, const QString& line)
{
    return add(group, line, true);
}

bool DummyTable::append(const QString& group, const QString& line)
{
    return add(group, line, false);
}

QByteArray DummyTable::text(const QStringList& comments, const QByteArray& lineEnd) const
{
    QByteArray out = commentLines(comments, lineEnd);
    for (const TableGroup& g : m_groups) {
        writeGroup(&out, g, lineEnd);
        out += lineEnd;
    }
    return out;
}

// ---- Components ---------------------------------------------------------------

namespace {

void readComponents(const QList<SourceLine>& lines, QList<ComponentGroup>* components,
                    QStringList* problems)
{
    // A stray line joins the last group read, creating unnamed holders when
    // there is none yet.
    const auto stray = [&](const SourceLine& l) {
        if (components->isEmpty())
            components->append(ComponentGroup{});
        if (components->last().groups.isEmpty())
            components->last().groups.append(TableGroup{});
        components->last().groups.last().lines.append(rightTrimmed(l.text));
        noteStray(problems, l);
    };

    qsizetype i = 0;
    while (i < lines.size()) {
        const SourceLine& cl = lines.at(i++);
        Header ch;
        if (!parseHeader(cl.text, &ch)) {
            stray(cl);
            continue;
        }
        if (!ch.countValid)
            noteBadCount(problems, cl, ch);
        components->append(ComponentGroup{ch.name, {}});
        int read = 0;
        while (read < ch.count && i < lines.size()) {
            const SourceLine& gl = lines.at(i++);
            Header gh;
            if (!parseHeader(gl.text, &gh)) {
                stray(gl);
                continue;
            }
            ++read;
            if (!gh.countValid)
                noteBadCount(problems, gl, gh);
            TableGroup g{gh.name, {}};
            const qsizetype take = std::min<qsizetype>(gh.count, lines.size() - i);
            g.lines.reserve(take);
            for (qsizetype k = 0; k < take; ++k)
                g.lines.append(rightTrimmed(lines.at(i++).text));
            if (take < gh.count)
                noteShort(problems, gl, gh, take, "lines");
            components->last().groups.append(std::move(g));
        }
        if (read < ch.count)
            noteShort(problems, cl, ch, read, "groups");
    }
}

} // namespace

ComponentTable ComponentTable::read(const QByteArray& text)
{
    ComponentTable t;
    readComponents(contentLines(text), &t.m_components, &t.m_problems);
    return t;
}

ComponentTable ComponentTable::read(QStringView text)
{
    ComponentTable t;
    readComponents(contentLines(text), &t.m_components, &t.m_problems);
    return t;
}

void ComponentTable::ensureIndex()
{
    if (m_indexed)
        return;
    m_componentIndex.clear();
    m_groupIndex.clear();
    m_lines.clear();
    for (qsizetype c = 0; c < m_components.size(); ++c) {
        const ComponentGroup& comp = m_components.at(c);
        if (!m_componentIndex.contains(comp.name))
            m_componentIndex.insert(comp.name, static_cast<int>(c));
        QHash<QString, int> groups;
        QList<QSet<QString>> lines;
        for (qsizetype g = 0; g < comp.groups.size(); ++g) {
            if (!groups.contains(comp.groups.at(g).name))
                groups.insert(comp.groups.at(g).name, static_cast<int>(g));
            QSet<QString> set;
            for (const QString& line : comp.groups.at(g).lines)
                set.insert(TerminatedLine(line));
            lines.append(std::move(set));
        }
        m_groupIndex.append(std::move(groups));
        m_lines.append(std::move(lines));
    }
    m_indexed = true;
}

bool ComponentTable::add(const QString& component, const QString& group, const QString& line,
                         bool checkDuplicate)
{
    const QString compName = writableName(component);
    const QString groupName = writableName(group);
    const QString l = rightTrimmed(withoutLineEnd(line));
    if (compName.isEmpty() || groupName.isEmpty() || !writableLine(l))
        return false;
    ensureIndex();

    int c = m_componentIndex.value(compName, -1);
    if (c < 0) {
        m_components.append(ComponentGroup{compName, {}});
        m_groupIndex.append(QHash<QString, int>());
        m_lines.append(QList<QSet<QString>>());
        c = static_cast<int>(m_components.size() - 1);
        m_componentIndex.insert(compName, c);
    }
    int g = m_groupIndex.at(c).value(groupName, -1);
    if (g < 0) {
        m_components[c].groups.append(TableGroup{groupName, {}});
        m_lines[c].append(QSet<QString>());
        g = static_cast<int>(m_components.at(c).groups.size() - 1);
        m_groupIndex[c].insert(groupName, g);
    }
    const QString key = TerminatedLine(l);
    if (checkDuplicate && m_lines.at(c).at(g).contains(key))
        return false;
    m_components[c].groups[g].lines.append(l);
    m_lines[c][g].insert(key);
    return true;
}

bool ComponentTable::merge(const QString& component, const QString& group, const QString& line)
{
    return add(component, group, line, true);
}

bool ComponentTable::append(const QString& component, const QString& group, const QString& line)
{
    return add(component, group, line, false);
}

QByteArray ComponentTable::text(const QStringList& comments, const QByteArray& lineEnd,
                                bool blankAfterEach) const
{
    QByteArray out = commentLines(comments, lineEnd);
    for (const ComponentGroup& c : m_components) {
        out += latin1(c.name) + ';' + QByteArray::number(c.groups.size()) + ';' + lineEnd;
        for (const TableGroup& g : c.groups)
            writeGroup(&out, g, lineEnd);
        if (blankAfterEach)
            out += lineEnd;
    }
    if (!blankAfterEach)
        out += lineEnd;
    return out;
}

// ---- One-ship tables ------------------------------------------------------------

QByteArray OneShipCockpitTableText(const QString& packageName, const QString& author,
                                   const QStringList& cockpits)
{
    return CockpitTable::oneShip(cockpits).text(
        {unpackComment("TCockpits", packageName, author),
         QStringLiteral("// (first cockpit entry is the default cockpit, and isn't part of the "
                        "ship)")});
}

QByteArray OneShipDummyTableText(const QString& packageName, const QString& author,
                                 const QList<DummyLine>& dummies)
{
    DummyTable t;
    for (const DummyLine& d : dummies)
        t.append(d.group, d.line);
    return t.text({unpackComment("Dummies", packageName, author)});
}

QByteArray OneShipComponentTableText(const QString& packageName, const QString& author,
                                     const QList<ComponentLine>& components)
{
    ComponentTable t;
    for (const ComponentLine& c : components)
        t.append(c.component, c.group, c.line);
    return t.text({unpackComment("Components", packageName, author)}, "\n", false);
}
