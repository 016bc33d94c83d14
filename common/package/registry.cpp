#include "registry.h"

#include "fileutils.h"
#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

#ifdef Q_OS_UNIX
#include "journal.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString kRegistryFile = QStringLiteral("/Slipway/ships.dat");

// The writer leaves the line out for 0 and for values the installer treats as
// overflow; reading then gives 0.
bool writesBuffer(qint32 buffer)
{
    return buffer != 0 && buffer < 10000;
}

struct KeyValue
{
    QStringView key;
    QStringView value;
};

KeyValue splitLine(QStringView line)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {line, {}};
    return {line.left(blank), line.mid(blank + 1)};
}

// "size time name": the name is everything after the second blank and may hold blanks.
PackageFile parseFileEntry(QStringView value)
{
    PackageFile file;
    const KeyValue first = splitLine(value);
    const KeyValue second = splitLine(first.value);
    file.Size = first.key.toInt();
    file.Time = second.key.toUInt();
    file.Name = second.value.toString();
    return file;
}

bool isInt(QStringView text)
{
    bool ok = false;
    (void)text.toInt(&ok);
    return ok;
}

// What the writer makes of a key it does not know: "Key: value" with a plain word.
bool looksLikeKey(QStringView key)
{
    if (key.size() < 2 || !key.endsWith(QLatin1Char(':')) || !key.front().isLetter())
        return false;
    for (QChar c : key.chopped(1))
        if (!c.isLetterOrNumber())
            return false;
    return true;
}

bool isHeaderKey(QStringView key)
{
    return key == QLatin1String("InstallerVersion:") || key == QLatin1String("BaseFakePatch:") ||
           key == QLatin1String("Mod:") || key == QLatin1String("UpdateTime:") ||
           key == QLatin1String("Buffer:");
}

bool isFlagLine(QStringView line)
{
    for (const char* race : kShipyardRaces)
        if (line == QLatin1String(race))
            return true;
    return line == QLatin1String("Disabled") || line == QLatin1String("NotChecked");
}

struct LineFault
{
    RegistryReadStatus::Fault kind = RegistryReadStatus::NoFault;
    QString arg;
    QString why;
    bool isEmpty() const { return kind == RegistryReadStatus::NoFault; }
};

LineFault lineFault(RegistryReadStatus::Fault kind, const QString& why, const QString& arg = {})
{
    return {kind, arg, why};
}

// Why a line inside a block does not read as the writer writes it; empty when it does.
LineFault blockLineFault(QStringView line, const KeyValue& kv)
{
    using F = RegistryReadStatus;
    if (isFlagLine(line))
        return {};
    const QStringView key = kv.key;
    const QStringView value = kv.value;
    if (key == QLatin1String("OriginalDesc:"))
        return isInt(value) ? LineFault() : lineFault(F::NotANumber, QStringLiteral("OriginalDesc is not a number"),
                                                       QStringLiteral("OriginalDesc"));
    if (key == QLatin1String("Text:")) {
        const qsizetype first = value.indexOf(QLatin1Char(':'));
        if (first < 0 || value.indexOf(QLatin1Char(':'), first + 1) < 0 ||
            !isInt(value.left(first)))
            return lineFault(F::BadText, QStringLiteral("Text is not language:name:description"));
        return {};
    }
    if (key == QLatin1String("SceneFile:") || key == QLatin1String("CockpitFile:") ||
        key == QLatin1String("Model:") || key == QLatin1String("Files:") ||
        key == QLatin1String("Script:")) {
        const KeyValue size = splitLine(value);
        const KeyValue time = splitLine(size.value);
        bool timeOk = false;
        (void)time.key.toUInt(&timeOk);
        if (!isInt(size.key) || !timeOk || size.value.indexOf(QLatin1Char(' ')) < 0)
            return lineFault(F::NotSizeTimeName, key.chopped(1).toString() + QStringLiteral(" is not size time name"),
                             key.chopped(1).toString());
        return {};
    }
    if (key == QLatin1String("Dummy:"))
        return value.contains(QLatin1Char(':')) ? LineFault()
                                                : lineFault(F::BadDummy, QStringLiteral("Dummy is not section:data"));
    if (key == QLatin1String("Component:"))
        return value.count(QLatin1Char(';')) >= 2
                   ? LineFault()
                   : lineFault(F::BadComponent, QStringLiteral("Component is not three ;-separated parts"));
    if (isHeaderKey(key))
        return lineFault(F::HeaderInBlock, QStringLiteral("a header line inside a ship block"));
    if (key == QLatin1String("Deleted:"))
        return lineFault(F::PlaceholderInBlock, QStringLiteral("a placeholder inside a ship block"));
    // Name, Version, Comment, ... take any text, and so do keys of other layouts.
    if (looksLikeKey(key) && line.size() > key.size() && line.at(key.size()) == QLatin1Char(' '))
        return {};
    return lineFault(F::UnknownInBlock, QStringLiteral("unknown line in a ship block"));
}

// Applies the reader's rules line by line, so that a file can be streamed and a
// byte array parsed by the same code. The records it keeps do not depend on the
// damage it reports.
class RegistryParser
{
public:
    RegistryParser(ShipRegistry& registry, const QString& programDir, const QString& logName)
        : m_registry(registry), m_programDir(programDir), m_logName(logName)
    {
        m_registry.Ships.clear();
        m_registry.Buffer = 0;
        m_registry.InstallerVersion = 0;
        m_status.state = RegistryReadStatus::Whole;
    }

    // ended: the line had its LF.
    void addLine(QByteArrayView bytes, bool ended)
    {
        ++m_lineNumber;
        m_lastLineEnded = ended;
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.contains('\0'))
            fault(m_lineNumber, QStringLiteral("not text (NUL byte)"), RegistryReadStatus::NotText);
        const QString line = QString::fromLocal8Bit(bytes);
        m_lastLineCloses = line == QLatin1String("</ship>");
        const KeyValue kv = splitLine(line);

        if (m_current && line != QLatin1String("<ship>") && line != QLatin1String("</ship>")) {
            const LineFault why = blockLineFault(line, kv);
            if (!why.isEmpty())
                fault(m_lineNumber, why.why, why.kind, why.arg);
        }

        if (kv.key == QLatin1String("InstallerVersion:")) {
            bool ok = false;
            m_registry.InstallerVersion = kv.value.toDouble(&ok);
            header(kv.key, ok);
        } else if (kv.key == QLatin1String("BaseFakePatch:")) {
            m_registry.BaseFakePatch = kv.value.toInt();
            header(kv.key, isInt(kv.value));
        } else if (kv.key == QLatin1String("Mod:")) {
            m_registry.ModName = kv.value.toString();
            header(kv.key, true);
        } else if (kv.key == QLatin1String("UpdateTime:")) {
            m_registry.UpdateTime = kv.value.toInt();
            header(kv.key, isInt(kv.value));
        } else if (kv.key == QLatin1String("Buffer:")) {
            m_registry.Buffer = kv.value.toInt();
            header(kv.key, isInt(kv.value));
            WriteLog(m_programDir, m_logName,
                     QStringLiteral("Reading buffer to: ") + QString::number(m_registry.Buffer));
        } else if (kv.key == QLatin1String("Deleted:")) {
            ShipPackage placeholder;
            placeholder.Deleted = kv.value.toInt();
            if (!m_current && !isInt(kv.value))
                fault(m_lineNumber, QStringLiteral("Deleted is not a number"), RegistryReadStatus::NotANumber,
                      QStringLiteral("Deleted"));
            if (placeholder.Deleted == 0)
                placeholder.Deleted = 1;
            m_registry.Ships.append(std::move(placeholder));
        } else if (line == QLatin1String("<ship>")) {
            // An unclosed block before this one is dropped, like one cut off at the end.
            if (m_current) {
                fault(m_lineNumber, QStringLiteral("a ship block begins before the one at line "
                                                   "%1 is closed")
                                        .arg(m_blockLine),
                      RegistryReadStatus::BlockNotClosed, QString::number(m_blockLine));
                m_status.lostBlocks.append(m_registry.Ships.size());
            }
            m_current.emplace();
            m_current->Enabled = true;
            m_current->Changed = true;
            m_blockLine = m_lineNumber;
        } else if (line == QLatin1String("</ship>")) {
            // Lines after the block must not reach the ship already in the list.
            if (m_current) {
                m_registry.Ships.append(std::move(*m_current));
                m_current.reset();
            } else {
                fault(m_lineNumber, QStringLiteral("</ship> without a ship block"),
                      RegistryReadStatus::CloseWithoutBlock);
            }
        } else if (m_current) {
            ParseRegistryLine(line, *m_current);
        } else if (!line.trimmed().isEmpty()) {
            fault(m_lineNumber, QStringLiteral("unknown line outside a ship block"),
                  RegistryReadStatus::UnknownOutside);
        }
    }

    RegistryReadStatus finish()
    {
        if (m_lineNumber == 0)
            fault(1, QStringLiteral("the file is empty"), RegistryReadStatus::Empty);
        if (m_current) {
            fault(m_blockLine,
                  QStringLiteral(
                      "the ship block that begins here is cut off by the end of the file"),
                  RegistryReadStatus::BlockCutOff);
            m_status.lostBlocks.append(m_registry.Ships.size());
        }
        // Editors that drop the last line end leave the closing line whole.
        if (m_lineNumber > 0 && !m_lastLineEnded && !m_lastLineCloses)
            fault(m_lineNumber,
                  QStringLiteral("the last line has no line end: the file is cut off"),
                  RegistryReadStatus::NoLineEnd);
        return std::move(m_status);
    }

    // A read that stopped short of the end.
    // `detail` is the system's reason, `why` the whole English message.
    void readFailed(const QString& why, const QString& detail)
    {
        fault(m_lineNumber + 1, why, RegistryReadStatus::Unreadable, detail);
    }

private:
    void fault(int line, const QString& why, RegistryReadStatus::Fault kind, const QString& arg = {})
    {
        ++m_status.brokenLines;
        if (m_status.state != RegistryReadStatus::Broken || line < m_status.line) {
            m_status.state = RegistryReadStatus::Broken;
            m_status.line = line;
            m_status.reason = why;
            m_status.fault = kind;
            m_status.faultArg = arg;
        }
    }

    void header(QStringView key, bool valueOk)
    {
        if (m_current)
            return; // reported by the block check
        if (!valueOk)
            fault(m_lineNumber, key.chopped(1).toString() + QStringLiteral(" is not a number"),
                  RegistryReadStatus::NotANumber, key.chopped(1).toString());
        m_status.headerKeys.append(key.toString());
    }

    ShipRegistry& m_registry;
    const QString& m_programDir;
    const QString& m_logName;
    std::optional<ShipPackage> m_current;
    RegistryReadStatus m_status;
    int m_lineNumber = 0;
    int m_blockLine = 0;
    bool m_lastLineEnded = true;
    bool m_lastLineCloses = false;
};

// One-line values must not carry a line break of their own.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QChar(0), QLatin1Char(' '));
    return text;
}

void appendLine(QString& out, QLatin1StringView key, const QString& value)
{
    out += key;
    out += QLatin1Char(' ');
    out += oneLine(value);
    out += QLatin1Char('\n');
}

void appendFileLine(QString& out, QLatin1StringView key, const PackageFile& file)
{
    appendLine(out, key,
               QString::number(file.Size) + QLatin1Char(' ') + QString::number(file.Time) +
                   QLatin1Char(' ') + file.Name);
}

void appendShip(QString& out, const ShipPackage& ship)
{
    out += QLatin1String("<ship>\n");
    appendLine(out, QLatin1StringView("Name:"), ship.Name);
    appendLine(out, QLatin1StringView("Version:"), ship.Version);
    appendLine(out, QLatin1StringView("Author:"), ship.Author);
    appendLine(out, QLatin1StringView("ID:"), ship.ID);
    appendLine(out, QLatin1StringView("Data:"), ship.Data);
    if (ship.OriginalDesc != 0)
        appendLine(out, QLatin1StringView("OriginalDesc:"), QString::number(ship.OriginalDesc));
    if (!ship.Comment.isEmpty())
        appendLine(out, QLatin1StringView("Comment:"),
                   encodeNewlines(ship.Comment).remove(QLatin1Char('\r')));
    if (!ship.ScreenShot.isEmpty())
        appendLine(out, QLatin1StringView("ScreenShot:"), ship.ScreenShot);
    for (size_t i = 0; i < kShipyardRaces.size(); ++i) {
        if (ship.Shipyards[i]) {
            out += QLatin1String(kShipyardRaces[i]);
            out += QLatin1Char('\n');
        }
    }
    if (!ship.Enabled)
        out += QLatin1String("Disabled\n");
    if (ship.NotChecked)
        out += QLatin1String("NotChecked\n");
    if (!ship.Web.isEmpty())
        appendLine(out, QLatin1StringView("Web:"), ship.Web);
    if (!ship.Mirror1.isEmpty())
        appendLine(out, QLatin1StringView("Mirror1:"), ship.Mirror1);
    if (!ship.Mirror2.isEmpty())
        appendLine(out, QLatin1StringView("Mirror2:"), ship.Mirror2);
    for (const PackageText& text : ship.Texts)
        appendLine(out, QLatin1StringView("Text:"),
                   QString::number(text.Language) + QLatin1Char(':') + text.Name +
                       QLatin1Char(':') + text.Description);
    if (ship.SceneFile)
        appendFileLine(out, QLatin1StringView("SceneFile:"), *ship.SceneFile);
    if (ship.CockpitFile)
        appendFileLine(out, QLatin1StringView("CockpitFile:"), *ship.CockpitFile);
    for (const PackageFile& file : ship.Models)
        appendFileLine(out, QLatin1StringView("Model:"), file);
    for (const PackageFile& file : ship.Files)
        appendFileLine(out, QLatin1StringView("Files:"), file);
    for (const PackageFile& file : ship.Scripts)
        appendFileLine(out, QLatin1StringView("Script:"), file);
    for (const PackageDummy& dummy : ship.Dummies)
        appendLine(out, QLatin1StringView("Dummy:"), dummy.Section + QLatin1Char(':') + dummy.Data);
    for (const PackageComponent& c : ship.Components)
        appendLine(out, QLatin1StringView("Component:"),
                   c.Part1 + QLatin1Char(';') + c.Part2 + QLatin1Char(';') + c.Part3);
    for (const QString& cockpit : ship.Cockpits)
        appendLine(out, QLatin1StringView("Cockpit:"), cockpit);
    out += QLatin1String("</ship>\n");
}

} // namespace

void ParseRegistryLine(const QString& line, ShipPackage& package)
{
    for (size_t i = 0; i < kShipyardRaces.size(); ++i) {
        if (line == QLatin1String(kShipyardRaces[i])) {
            package.Shipyards[i] = true;
            return;
        }
    }
    if (line == QLatin1String("Disabled")) {
        package.Enabled = false;
        return;
    }
    if (line == QLatin1String("NotChecked")) {
        package.NotChecked = true;
        return;
    }

    const KeyValue kv = splitLine(line);
    const QStringView key = kv.key;
    const QStringView value = kv.value;
    if (key == QLatin1String("Name:")) {
        package.Name = value.toString();
    } else if (key == QLatin1String("Author:")) {
        package.Author = value.toString();
    } else if (key == QLatin1String("Version:")) {
        package.Version = value.toString();
    } else if (key == QLatin1String("ID:")) {
        package.ID = value.toString();
    } else if (key == QLatin1String("Data:")) {
        package.Data = value.toString();
    } else if (key == QLatin1String("Web:")) {
        package.Web = value.toString();
    } else if (key == QLatin1String("Mirror1:")) {
        package.Mirror1 = value.toString();
    } else if (key == QLatin1String("Mirror2:")) {
        package.Mirror2 = value.toString();
    } else if (key == QLatin1String("ScreenShot:")) {
        package.ScreenShot = value.toString();
    } else if (key == QLatin1String("Comment:")) {
        package.Comment = decodeNewlines(value.toString());
    } else if (key == QLatin1String("OriginalDesc:")) {
        package.OriginalDesc = value.toInt();
    } else if (key == QLatin1String("Text:")) {
        // The description may hold ":" itself, so only the first two separate.
        PackageText text;
        const qsizetype first = value.indexOf(QLatin1Char(':'));
        text.Language = value.left(first < 0 ? value.size() : first).toInt();
        if (first >= 0) {
            const QStringView rest = value.mid(first + 1);
            const qsizetype second = rest.indexOf(QLatin1Char(':'));
            text.Name = rest.left(second < 0 ? rest.size() : second).toString();
            if (second >= 0)
                text.Description = rest.mid(second + 1).toString();
        }
        package.Texts.append(std::move(text));
    } else if (key == QLatin1String("SceneFile:")) {
        package.SceneFile = parseFileEntry(value);
    } else if (key == QLatin1String("CockpitFile:")) {
        package.CockpitFile = parseFileEntry(value);
    } else if (key == QLatin1String("Model:")) {
        package.Models.append(parseFileEntry(value));
    } else if (key == QLatin1String("Files:")) {
        package.Files.append(parseFileEntry(value));
    } else if (key == QLatin1String("Script:")) {
        package.Scripts.append(parseFileEntry(value));
    } else if (key == QLatin1String("Dummy:")) {
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        PackageDummy dummy;
        dummy.Section = value.left(colon < 0 ? value.size() : colon).toString();
        if (colon >= 0)
            dummy.Data = value.mid(colon + 1).toString();
        package.Dummies.append(std::move(dummy));
    } else if (key == QLatin1String("Component:")) {
        PackageComponent component;
        const qsizetype first = value.indexOf(QLatin1Char(';'));
        component.Part1 = value.left(first < 0 ? value.size() : first).toString();
        if (first >= 0) {
            const QStringView rest = value.mid(first + 1);
            const qsizetype second = rest.indexOf(QLatin1Char(';'));
            component.Part2 = rest.left(second < 0 ? rest.size() : second).toString();
            if (second >= 0)
                component.Part3 = rest.mid(second + 1).toString();
        }
        package.Components.append(std::move(component));
    } else if (key == QLatin1String("Cockpit:")) {
        package.Cockpits.append(value.toString());
    }
}

RegistryReadStatus ParseRegistryText(const QByteArray& text, ShipRegistry& registry,
                                     const QString& programDir, const QString& logName)
{
    RegistryParser parser(registry, programDir, logName);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        const bool ended = end >= 0;
        if (!ended)
            end = text.size();
        parser.addLine(QByteArrayView(text.constData() + start, end - start), ended);
        start = end + 1;
    }
    return parser.finish();
}

QString RegistryReadStatus::message(const QString& file) const
{
    const QString where = QDir::toNativeSeparators(file);
    if (state != Broken)
        return where;
    if (line <= 0)
        return where + QStringLiteral(": ") + reason;
    return where + QStringLiteral(": line %1: ").arg(line) + reason;
}

QString RegistryPath(const QString& baseDir)
{
    return baseDir + kRegistryFile;
}

bool ReadRegistry(const QString& baseDir, ShipRegistry& registry, const QString& programDir,
                  const QString& logName, RegistryReadStatus* status)
{
    registry.Ships.clear();
    RegistryReadStatus result;
    QFile file(RegistryPath(baseDir));
    if (!file.exists() && !QFileInfo(file.fileName()).isSymLink()) {
        if (status)
            *status = result;
        return false;
    }
    QString why;
    const int fd = OpenRegularFile(file.fileName(), kMaxRegistryBytes, &why);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        // Unreadable is not "no ships": writing over it would lose them all.
        result.state = RegistryReadStatus::Broken;
        result.reason = fd < 0 ? why : QStringLiteral("cannot be opened (") + file.errorString() + QLatin1Char(')');
        // The opener's words name the system's reason: not worded anew.
        result.brokenLines = 1;
        if (status)
            *status = result;
        return false;
    }
    RegistryParser parser(registry, programDir, logName);
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            break;
        const bool ended = line.endsWith('\n');
        if (ended)
            line.chop(1);
        parser.addLine(line, ended);
    }
    if (file.error() != QFileDevice::NoError)
        parser.readFailed(QStringLiteral("cannot be read (") + file.errorString() + QLatin1Char(')'),
                          file.errorString());
    result = parser.finish();
    if (status)
        *status = std::move(result);
    return true;
}

namespace {

bool sameFile(const PackageFile& a, const PackageFile& b)
{
    return a.Size == b.Size && a.Time == b.Time && a.Name == b.Name;
}

bool sameFile(const std::optional<PackageFile>& a, const std::optional<PackageFile>& b)
{
    return a.has_value() == b.has_value() && (!a || sameFile(*a, *b));
}

template <typename T, typename Same>
bool sameList(const QList<T>& a, const QList<T>& b, Same same)
{
    if (a.size() != b.size())
        return false;
    if (a.constData() == b.constData())
        return true; // one shared copy
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!same(a.at(i), b.at(i)))
            return false;
    return true;
}

// Equal in everything appendShip writes. Strings shared between the two copies
// compare by their pointers, so an unchanged record costs a few comparisons.
bool sameWritten(const ShipPackage& a, const ShipPackage& b)
{
    const auto file = [](const PackageFile& x, const PackageFile& y) { return sameFile(x, y); };
    return a.Deleted == b.Deleted && a.Name == b.Name && a.Version == b.Version &&
           a.Author == b.Author && a.ID == b.ID && a.Data == b.Data &&
           a.OriginalDesc == b.OriginalDesc && a.Comment == b.Comment &&
           a.ScreenShot == b.ScreenShot && a.Shipyards == b.Shipyards && a.Enabled == b.Enabled &&
           a.NotChecked == b.NotChecked && a.Web == b.Web && a.Mirror1 == b.Mirror1 &&
           a.Mirror2 == b.Mirror2 && sameFile(a.SceneFile, b.SceneFile) &&
           sameFile(a.CockpitFile, b.CockpitFile) &&
           sameList(a.Texts, b.Texts,
                    [](const PackageText& x, const PackageText& y) {
                        return x.Language == y.Language && x.Name == y.Name &&
                               x.Description == y.Description;
                    }) &&
           sameList(a.Models, b.Models, file) && sameList(a.Files, b.Files, file) &&
           sameList(a.Scripts, b.Scripts, file) &&
           sameList(a.Dummies, b.Dummies,
                    [](const PackageDummy& x, const PackageDummy& y) {
                        return x.Section == y.Section && x.Data == y.Data;
                    }) &&
           sameList(a.Components, b.Components,
                    [](const PackageComponent& x, const PackageComponent& y) {
                        return x.Part1 == y.Part1 && x.Part2 == y.Part2 && x.Part3 == y.Part3;
                    }) &&
           a.Cockpits == b.Cockpits;
}

QByteArray shipText(const ShipPackage& ship)
{
    QString out;
    if (ship.Deleted != 0)
        appendLine(out, QLatin1StringView("Deleted:"), QString::number(ship.Deleted));
    else
        appendShip(out, ship);
    return out.toLocal8Bit();
}

// The records written last with their text, by position: a registry saved after
// each of many installs writes again only the records that changed, instead of
// formatting the whole list every time.
struct WrittenRecords
{
    QList<ShipPackage> ships;
    QList<QByteArray> texts;
};

WrittenRecords& writtenRecords()
{
    static WrittenRecords records;
    return records;
}

} // namespace

QByteArray RegistryText(const ShipRegistry& registry)
{
    QString head;
    head +=
        QLatin1String("InstallerVersion: ") + QString::number(kRegistryVersion) + QLatin1Char('\n');
    appendLine(head, QLatin1StringView("Mod:"), registry.ModName);
    appendLine(head, QLatin1StringView("UpdateTime:"), QString::number(registry.UpdateTime));
    appendLine(head, QLatin1StringView("BaseFakePatch:"), QString::number(registry.BaseFakePatch));
    if (writesBuffer(registry.Buffer))
        appendLine(head, QLatin1StringView("Buffer:"), QString::number(registry.Buffer));
    QByteArray out = head.toLocal8Bit();
    WrittenRecords& last = writtenRecords();
    QList<QByteArray> texts;
    texts.reserve(registry.Ships.size());
    qsizetype size = out.size();
    for (qsizetype i = 0; i < registry.Ships.size(); ++i) {
        const ShipPackage& ship = registry.Ships.at(i);
        texts.append(i < last.ships.size() && sameWritten(last.ships.at(i), ship) ? last.texts.at(i)
                                                                                 : shipText(ship));
        size += texts.last().size();
    }
    out.reserve(size);
    for (const QByteArray& t : std::as_const(texts))
        out += t;
    last.ships = registry.Ships;
    last.texts = std::move(texts);
    return out;
}

namespace {

// What the file system says of a file: it changes whenever the file is written
// or replaced. Empty when unknown.
QByteArray fileIdentity(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qint64(st.st_dev)) + ':' + QByteArray::number(qint64(st.st_ino)) +
           ':' + QByteArray::number(qint64(st.st_size)) + ':' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ':' +
           QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec));
#else
    Q_UNUSED(path);
    return {};
#endif
}

// The registry this process wrote last, and the identity of the file then. A
// save that finds the file unchanged since knows its bytes, and that they are a
// sound registry, without reading and parsing it again: saving once per ship
// installed would otherwise read and parse the whole list every time.
struct WrittenRegistry
{
    QString path;
    QByteArray identity;
    QByteArray text;
};

WrittenRegistry& lastWritten()
{
    static WrittenRegistry written;
    return written;
}

// The copy about to be replaced becomes the backup under a second name: no bytes
// are copied or synced again. Where a second name cannot be made, a copy.
bool keepAsBackup(const QString& path, const QByteArray& previous, QString* error)
{
    const QString backup = path + QStringLiteral(".bak");
#ifdef Q_OS_UNIX
    const QString link = QFileInfo(path + QStringLiteral(".bak.new")).absoluteFilePath();
    const QByteArray linkName = QFile::encodeName(link);
    if (RemoveFileChecked(link) && journal::willCreate(linkName.toStdString()) &&
        ::link(QFile::encodeName(path).constData(), linkName.constData()) == 0) {
        if (RenameFileChecked(link, backup, error))
            return true;
        RemoveFileChecked(link);
        return false;
    }
#endif
    return WriteFileAtomic(backup, previous, error);
}

} // namespace

bool WriteRegistry(const QString& baseDir, const ShipRegistry& registry, const QString& programDir,
                   const QString& logName, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // A game folder that has gone away is not recreated.
    QDir base(baseDir);
    if (baseDir.isEmpty() || !base.exists())
        return fail(QDir::toNativeSeparators(baseDir) + QStringLiteral(": no such folder"));
    const QString slipway = baseDir + QStringLiteral("/Slipway");
    if (!base.exists(QStringLiteral("Slipway")) && !MakeDirChecked(slipway, error))
        return false;

    if (writesBuffer(registry.Buffer))
        WriteLog(programDir, logName,
                 QStringLiteral("Writing Buffer to: ") + QString::number(registry.Buffer));

    const QString path = RegistryPath(baseDir);
    const QByteArray text = RegistryText(registry);
    WrittenRegistry& written = lastWritten();
    const QByteArray identity = fileIdentity(path);
    const bool known = !identity.isEmpty() && written.path == path && written.identity == identity;
    if (known || QFileInfo(path).isFile()) {
        QByteArray previous;
        if (known) {
            previous = written.text;
        } else {
            // The bytes checked are the bytes kept: only a copy that reads whole is good.
            QString why;
            if (!ReadRegularFile(path, kMaxRegistryBytes, &previous, &why))
                return fail(why);
        }
        // Saving the same list again must not push the previous good copy out of the backup.
        if (previous == text)
            return true;
        ShipRegistry scratch;
        if ((known || !ParseRegistryText(previous, scratch).broken()) &&
            !keepAsBackup(path, previous, error))
            return false;
    }
    written = {};
    if (!WriteFileAtomic(path, text, error))
        return false;
    written = {path, fileIdentity(path), text};
    return true;
}
