#include "xspfile.h"

#include "archivefile.h"
#include "fileutils.h"
#include "lzmafile.h"
#include "safefile.h"
#include "uiseams.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>
#include <vector>

namespace {

constexpr qint64 kArchiveBlock = 500000;
constexpr qint64 kWriteBlock = 50000;
// Lines longer than this are not part of any package that a writer makes.
constexpr qint64 kMaxLine = kMaxPackageLine;

QString text(const QStringList* table, int n)
{
    return table && n >= 0 && n < table->size() ? table->at(n) : QString();
}

// Splits "a b rest" into its first two words and the rest after the second blank.
void splitFileValue(const QString& value, QString& first, QString& second, QString& rest)
{
    const qsizetype b1 = value.indexOf(QLatin1Char(' '));
    first = value.left(b1 < 0 ? value.size() : b1);
    if (b1 < 0) {
        second.clear();
        rest.clear();
        return;
    }
    const qsizetype b2 = value.indexOf(QLatin1Char(' '), b1 + 1);
    second = value.mid(b1 + 1, b2 < 0 ? -1 : b2 - b1 - 1);
    rest = b2 < 0 ? QString() : value.mid(b2 + 1);
}

// Reads one line of at most `limit` bytes through a small reused buffer; asking the
// device for a line of the full limit would allocate that much for every line.
bool readBoundedLine(QIODevice& in, QByteArray& line, qint64 limit)
{
    line.clear();
    char chunk[65536];
    while (line.size() <= limit) {
        const qint64 n = in.readLine(chunk, sizeof chunk);
        if (n <= 0)
            break;
        line.append(chunk, static_cast<qsizetype>(n));
        if (line.endsWith('\n'))
            return true;
    }
    return line.size() <= limit;
}

// Values that the document holds on one line: a line break would start a new key.
QString oneLine(QString value)
{
    value.replace(QLatin1String("\r\n"), QLatin1String(" "));
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

// The first key of a package document; a byte-order mark or another stray
// character before it is tolerated.
bool isPackagerKey(const QString& key)
{
    static const QString packager = QStringLiteral("Packager:");
    return key == packager || (key.size() == packager.size() + 1 && key.endsWith(packager));
}

constexpr qint64 kLzmaHeaderSize = 13;

// Whether the bytes can start an LZMA-alone stream as package writers make them:
// valid properties (lc + lp <= 4), a dictionary of 2^n or 2^n + 2^(n-1) bytes, and
// a size that is either unknown or below 256 GiB. Anything else is not a package,
// rather than a damaged one.
bool isLzmaAloneHeader(const QByteArray& header)
{
    if (header.size() < kLzmaHeaderSize)
        return false;
    const auto byte = [&header](int i) { return static_cast<quint8>(header.at(i)); };
    const int props = byte(0);
    if (props >= 9 * 5 * 5 || props % 9 + (props / 9) % 5 > 4)
        return false;
    quint32 dict = 0;
    for (int i = 3; i >= 0; --i)
        dict = dict << 8 | byte(1 + i);
    if (dict != 0xFFFFFFFFu) {
        quint32 d = dict == 0 ? 1 : dict - 1;
        d |= d >> 2;
        d |= d >> 3;
        d |= d >> 4;
        d |= d >> 8;
        d |= d >> 16;
        ++d;
        if (d != dict)
            return false;
    }
    quint64 size = 0;
    for (int i = 7; i >= 0; --i)
        size = size << 8 | byte(5 + i);
    return size == ~quint64(0) || size < (quint64(1) << 38);
}

// What file systems take: a name component, and a whole path.
constexpr qsizetype kMaxNameBytes = 255;
constexpr qsizetype kMaxPathBytes = 4095;

// The rule an embedded file's name breaks, or empty. A bare name (scripts, the
// picture) must not hold a folder either.
QString nameProblem(const QString& name, bool bare)
{
    if (name.isEmpty())
        return QStringLiteral("empty name");
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("control character in name");
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        name.contains(QLatin1Char(':')))
        return QStringLiteral("name leaves its folder");
    static const QRegularExpression separator(QStringLiteral("[/\\\\]"));
    const QStringList parts = name.split(separator);
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return QStringLiteral("name leaves its folder");
        if (part.toLocal8Bit().size() > kMaxNameBytes)
            return QStringLiteral("name part longer than %1 bytes").arg(kMaxNameBytes);
    }
    if (bare && (parts.size() > 1 || name == QLatin1String(".")))
        return QStringLiteral("name holds a folder");
    // A disabled ship's files wait in the installer's Slipway folder under their
    // own names, beside the installer's registry, lock and change history.
    if (!bare && parts.size() >= 1) {
        static const QStringList own = {QStringLiteral("ships.dat"), QStringLiteral("ships.dat.bak"),
                                        QStringLiteral("writer.lock"), QStringLiteral("history")};
        if (own.contains(parts.first(), Qt::CaseInsensitive))
            return QStringLiteral("name is taken by the installer's own files");
    }
    return {};
}

// A name as a message shows it: control characters escaped, a long one cut short.
QString shownName(const QString& name)
{
    QString shown;
    for (QChar c : name.left(100)) {
        if (c == QLatin1Char('\r'))
            shown += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            shown += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QLatin1String("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (name.size() > 100)
        shown += QStringLiteral("... (%1 characters)").arg(name.size());
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

class Reader
{
public:
    Reader(ShipPackage& package, const OpenPackageOptions& options, const PackageContext& context)
        : m_pkg(package), m_opt(options), m_ctx(context)
    {
    }

    OpenPackageResult run(QFile& file);
    OpenPackageResult runDocument(QIODevice& document, const QString& name);

private:
    void log(const QString& message) const { WriteLog(m_ctx.programDir, m_ctx.logName, message); }
    void status(int sharedNumber, const QString& what) const
    {
        if (m_ctx.status && m_ctx.sharedTexts)
            m_ctx.status->showStatus(text(m_ctx.sharedTexts, sharedNumber) + QStringLiteral(": ") +
                                     what + QStringLiteral("..."));
    }
    void progress() const
    {
        if (m_ctx.progress)
            m_ctx.progress->setDone(qMax<qint64>(0, m_total - m_in->bytesAvailable()));
    }
    void readDocument(const QString& shownName);
    bool handle(const QString& key, const QString& value);
    bool checkSize(qint64 size, const QString& what);
    bool skip(qint64 size);
    // Writes the next `size` bytes to a disk file through the checked writer.
    bool writeFile(const QString& kind, const QString& name, const QString& path, qint64 size);
    bool extractFile(const PackageFile& entry, const QString& kindName, int kind);
    bool refuse(const QString& kind, const QString& name, const QString& rule, qint64 size);
    bool checkName(const QString& kind, const QString& name, const QString& dir, bool bare,
                   qint64 size, bool& refused);
    void problem(const QString& message, PackageProblem kind = PackageProblem::Damaged);

    ShipPackage& m_pkg;
    const OpenPackageOptions& m_opt;
    const PackageContext& m_ctx;
    QIODevice* m_in = nullptr;
    const LzmaReadDevice* m_stream = nullptr; // m_in while a packed package decodes
    QString m_targetDir;
    OpenPackageResult m_result;
    bool m_unsafe = false;
    bool m_writeFailed = false; // a file could not be stored whole: the package fails
    bool m_stop = false;
    qint64 m_headerBytes = 0;
    qint64 m_total = 0; // the document's size, for progress (0: unknown)
    int m_files = 0;
    // False (the package failing with a message naming the limit) once `count` reaches it.
    bool withinLimit(qsizetype count, int limit, const QString& what);
};

bool Reader::withinLimit(qsizetype count, int limit, const QString& what)
{
    if (count < limit)
        return true;
    log(QStringLiteral("(OPENXSP) Too many ") + what + QStringLiteral(", stopping."));
    problem(QStringLiteral("more than %1 %2 (the limit of a package)").arg(limit).arg(what));
    m_result.status = PackageFailed;
    m_stop = true;
    return false;
}

bool Reader::checkSize(qint64 size, const QString& what)
{
    if (size >= 0 && size <= m_in->bytesAvailable())
        return true;
    log(QStringLiteral("(OPENXSP) Invalid size for ") + what + QStringLiteral(", stopping."));
    problem(what + QStringLiteral(": size beyond the end of the package"));
    m_result.status = PackageFailed;
    m_stop = true;
    return false;
}

bool Reader::skip(qint64 size)
{
    // A decoding stream cannot seek: its bytes are read and dropped.
    const bool ok = m_in->isSequential() ? m_in->skip(size) == size : m_in->seek(m_in->pos() + size);
    progress();
    return ok;
}

namespace {

// The next `size` bytes of the document as a device of their own, for the
// checked whole-file writer.
class Slice : public QIODevice
{
public:
    Slice(QIODevice* in, qint64 size, std::function<void()> progress)
        : m_in(in), m_left(size), m_progress(std::move(progress))
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_left + QIODevice::bytesAvailable(); }
    qint64 left() const { return m_left; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        if (m_left <= 0)
            return 0;
        const qint64 n = m_in->read(data, qMin(max, m_left));
        if (n <= 0)
            return -1;
        m_left -= n;
        m_progress();
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice* m_in;
    qint64 m_left;
    std::function<void()> m_progress;
};

} // namespace

bool Reader::writeFile(const QString& kind, const QString& name, const QString& path, qint64 size)
{
    Slice slice(m_in, size, [this] { progress(); });
    QString why;
    const bool written = WriteFileAtomic(path, slice, &why);
    if (!written && m_stream && m_stream->failed()) {
        // Not the target's fault: the package broke off while the file was read.
        log(QStringLiteral("(OPENXSP) Uncompression failed!!"));
        problem(QStringLiteral("the package does not decompress: it is damaged or cut short"));
        m_result.status = PackageFailed;
        m_stop = true;
        return true;
    }
    if (!written) {
        log(QStringLiteral("(OPENXSP) Could not write file: ") + why);
        problem(kind + QLatin1Char(' ') + shownName(name) +
                    QStringLiteral(": cannot be written: ") + why,
                PackageProblem::NotWritten);
        m_writeFailed = true;
    }
    // What the writer did not take is skipped, so that the next line stays aligned.
    return slice.left() <= 0 || skip(slice.left());
}

void Reader::problem(const QString& message, PackageProblem kind)
{
    m_result.problems << message;
    if (m_result.error.isEmpty())
        m_result.error = message;
    if (m_result.problem == PackageProblem::None)
        m_result.problem = kind;
}

// Refused files are consumed but never written; the package then fails as a whole.
bool Reader::refuse(const QString& kind, const QString& name, const QString& rule, qint64 size)
{
    const QString message = kind + QLatin1Char(' ') + shownName(name) + QStringLiteral(": ") + rule;
    log(QStringLiteral("(OPENXSP) Refusing file: ") + message);
    problem(message, PackageProblem::RefusedName);
    m_unsafe = true;
    return skip(size);
}

// The name's rules, and the path it makes below dir; false (with `refused` set to the
// outcome of refuse()) when the file must not be written.
bool Reader::checkName(const QString& kind, const QString& name, const QString& dir, bool bare,
                       qint64 size, bool& refused)
{
    QString rule = nameProblem(name, bare);
    if (rule.isEmpty() && (dir + QLatin1Char('/') + name).toLocal8Bit().size() > kMaxPathBytes)
        rule = QStringLiteral("path longer than %1 bytes").arg(kMaxPathBytes);
    if (rule.isEmpty())
        return true;
    refused = refuse(kind, name, rule, size);
    return false;
}

bool Reader::extractFile(const PackageFile& entry, const QString& kindName, int kind)
{
    const QString& name = entry.Name;
    // Also below the mod catalogue: disabling a ship moves its files into the folder.
    bool refused = true;
    if (!checkName(kindName, name, m_targetDir, false, entry.Size, refused))
        return refused;
    const bool toArchive = m_opt.installed && !m_opt.modCatalog.isEmpty();
    if (m_opt.installed) {
        if (!IsFileWanted(m_opt.installed, entry, kind))
            return skip(entry.Size);
        log(QStringLiteral("(OPENXSP) Writing file (") + QString::number(kind) +
            QStringLiteral("): ") + name);
    }
    if (toArchive) {
        log(QStringLiteral("(OPENXSP) Adding file to mod package: ") + name);
        // Held open while its blocks arrive and stored once: packing a large model
        // once per block would make the install quadratic in its size.
        ArchiveStreamWriter out;
        if (!out.open(m_opt.modCatalog + QStringLiteral("::") + name, true))
            return skip(entry.Size);
        // No larger than what the document still holds: a size line may claim anything.
        const qint64 room = qMax<qint64>(0, m_in->bytesAvailable());
        std::vector<char> buf(static_cast<size_t>(qMin(qMin<qint64>(entry.Size, kArchiveBlock), room)) + 1);
        qint64 left = entry.Size;
        while (left > 0) {
            const qint64 n = m_in->read(buf.data(), qMin(left, static_cast<qint64>(buf.size()) - 1));
            if (n <= 0)
                return false;
            out.write(buf.data(), n);
            left -= n;
            progress();
        }
        if (!out.commit()) {
            log(QStringLiteral("(OPENXSP) Could not store file in mod package: ") + name);
            problem(kindName + QLatin1Char(' ') + shownName(name) +
                        QStringLiteral(": cannot be stored in the mod"),
                    PackageProblem::NotWritten);
            m_writeFailed = true;
        }
        return true;
    }
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (slash > 0)
        MakePath(m_targetDir, name.left(slash));
    return writeFile(kindName, name, m_targetDir + QLatin1Char('/') + name, entry.Size);
}

bool Reader::handle(const QString& key, const QString& value)
{
    if (isPackagerKey(key)) {
        const double version = value.toDouble();
        log(QStringLiteral("(OPENXSP) Package Version: ") + value +
            QStringLiteral(", Installer Version: 1"));
        if (version > 1.0) {
            m_result.status = PackageTooNew;
            m_stop = true;
        }
    } else if (key == QLatin1String("Name:")) {
        m_pkg.Name = value;
    } else if (key == QLatin1String("Web:")) {
        m_pkg.Web = value;
    } else if (key == QLatin1String("Mirror1:")) {
        m_pkg.Mirror1 = value;
    } else if (key == QLatin1String("Mirror2:")) {
        m_pkg.Mirror2 = value;
    } else if (key == QLatin1String("Data:")) {
        m_pkg.Data = value;
    } else if (key == QLatin1String("OriginalDesc:")) {
        m_pkg.OriginalDesc = value.toInt();
    } else if (key == QLatin1String("Author:")) {
        m_pkg.Author = value;
        if (m_opt.installed && m_result.replaces < 0) {
            for (qsizetype i = 0; i < m_opt.installed->size(); ++i) {
                const ShipPackage& p = m_opt.installed->at(i);
                if (p.Deleted == 0 && p.sameShip(m_pkg)) {
                    m_result.replaces = static_cast<int>(i);
                    log(QStringLiteral("(OPENXSP) Found existing ship: ") + m_pkg.Name);
                    break;
                }
            }
        }
    } else if (key == QLatin1String("ID:")) {
        m_pkg.ID = value;
        // An empty ID names no ship; matching it would offer every ID-less ship as an update.
        if (m_opt.installed && m_ctx.installerTexts && m_ctx.prompter && m_result.replaces < 0 &&
            !value.isEmpty()) {
            for (qsizetype i = 0; i < m_opt.installed->size(); ++i) {
                const ShipPackage& p = m_opt.installed->at(i);
                if (p.Deleted != 0 || !EqualUpperCased(p.ID, value))
                    continue;
                const QStringList* t = m_ctx.installerTexts;
                const int answer =
                    m_ctx.prompter->ask(Prompter::Icon::Information, text(t, 136),
                                        FormatText(text(t, 137), value.toUpper()),
                                        {text(t, 138), text(t, 139), text(t, 46)}, 0, -1);
                if (answer == 0) {
                    m_result.replaces = static_cast<int>(i);
                } else if (answer != 1) {
                    if (m_result.problem == PackageProblem::None)
                        m_result.problem = PackageProblem::Cancelled;
                    m_result.status = PackageFailed;
                    m_result.replaces = -1;
                    m_stop = true;
                }
                break;
            }
        }
    } else if (key == QLatin1String("Version:")) {
        m_pkg.Version = value;
        if (m_opt.installed && m_result.replaces >= 0 &&
            CompareVersions(m_opt.installed->at(m_result.replaces).Version, value) < 0) {
            log(QStringLiteral("(OPENXSP) Installing older version, skipping."));
            m_result.status = PackageOlder;
            m_result.replaces = -1;
            m_stop = true;
        }
    } else if (key == QLatin1String("Comment:")) {
        m_pkg.Comment = decodeNewlines(value);
    } else if (key == QLatin1String("ScreenShot:")) {
        QString sizeText, ext, rest;
        splitFileValue(value, sizeText, ext, rest);
        const qint64 size = sizeText.toLongLong();
        if (!checkSize(size, QStringLiteral("screenshot")))
            return false;
        QString picture = m_pkg.Name + QLatin1Char('-') + m_pkg.Author;
        picture.remove(QLatin1Char(' ')).remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
        picture += QLatin1Char('.') + ext;
        bool refused = true;
        if (!checkName(QStringLiteral("screenshot"), picture,
                       m_targetDir + QStringLiteral("/ShipPics"), true, size, refused))
            return refused;
        MakePath(m_targetDir, QStringLiteral("ShipPics"));
        status(5, picture);
        if (!writeFile(QStringLiteral("screenshot"), picture,
                       m_targetDir + QStringLiteral("/ShipPics/") + picture, size))
            return false;
        m_pkg.ScreenShot = picture;
    } else if (key == QLatin1String("Text:")) {
        if (!withinLimit(m_pkg.Texts.size(), kMaxPackageTexts, QStringLiteral("text lines")))
            return true;
        PackageText t;
        const qsizetype c1 = value.indexOf(QLatin1Char(':'));
        t.Language = value.left(c1 < 0 ? value.size() : c1).toInt();
        if (c1 >= 0) {
            const qsizetype c2 = value.indexOf(QLatin1Char(':'), c1 + 1);
            t.Name = value.mid(c1 + 1, c2 < 0 ? -1 : c2 - c1 - 1);
            if (c2 >= 0)
                t.Description = value.mid(c2 + 1);
        }
        m_pkg.Texts.append(t);
    } else if (key == QLatin1String("SceneFile:") || key == QLatin1String("CockpitFile:") ||
               key == QLatin1String("Model:") || key == QLatin1String("Files:") ||
               key == QLatin1String("Script:")) {
        if (!withinLimit(m_files++, kMaxPackageFiles, QStringLiteral("embedded files")))
            return true;
        PackageFile entry;
        QString timeText, sizeText;
        splitFileValue(value, timeText, sizeText, entry.Name);
        entry.Time = timeText.toUInt();
        const qint64 size = sizeText.toLongLong();
        if (!checkSize(size, entry.Name))
            return false;
        if (size > kMaxPackageFileSize) {
            // The format stores sizes below 2 GiB: a larger file is refused as such.
            log(QStringLiteral("(OPENXSP) File too large, stopping."));
            problem(shownName(entry.Name) + QStringLiteral(": %1 bytes, more than a package file may hold (2 GiB)").arg(size));
            m_result.status = PackageFailed;
            m_stop = true;
            return false;
        }
        entry.Size = static_cast<qint32>(size);
        if (key == QLatin1String("Script:")) {
            m_pkg.Scripts.append(entry);
            status(5, entry.Name);
            const QString scripts = m_opt.baseDir + QLatin1Char('/') + m_opt.scriptDir;
            bool refused = true;
            if (!checkName(QStringLiteral("script"), entry.Name, scripts, true, size, refused))
                return refused;
            if (!IsScriptWanted(m_opt.installed, entry))
                return skip(size);
            log(QStringLiteral("(OPENXSP) Installing script file: ") + entry.Name);
            return writeFile(QStringLiteral("script"), entry.Name,
                             m_opt.baseDir + QLatin1Char('/') + m_opt.scriptDir + QLatin1Char('/') +
                                 entry.Name,
                             size);
        }
        status(5, QFileInfo(entry.Name).fileName());
        const int kind = key == QLatin1String("Files:") ? KindFile : KindModel;
        const QString kindName = key == QLatin1String("SceneFile:")     ? QStringLiteral("scene")
                                 : key == QLatin1String("CockpitFile:") ? QStringLiteral("cockpit")
                                 : kind == KindModel                    ? QStringLiteral("model")
                                                                        : QStringLiteral("file");
        if (!extractFile(entry, kindName, kind))
            return false;
        if (key == QLatin1String("SceneFile:"))
            m_pkg.SceneFile = entry;
        else if (key == QLatin1String("CockpitFile:"))
            m_pkg.CockpitFile = entry;
        else if (kind == KindModel)
            m_pkg.Models.append(entry);
        else
            m_pkg.Files.append(entry);
    } else if (key == QLatin1String("Dummy:")) {
        if (!withinLimit(m_pkg.Dummies.size(), kMaxPackageDummies, QStringLiteral("dummy lines")))
            return true;
        const qsizetype semi = value.indexOf(QLatin1Char(';'));
        PackageDummy d{value.left(semi < 0 ? value.size() : semi),
                       semi < 0 ? QString() : value.mid(semi + 1)};
        if (!d.Data.endsWith(QLatin1Char(';')))
            d.Data += QLatin1Char(';');
        m_pkg.Dummies.append(d);
    } else if (key == QLatin1String("Component:")) {
        if (!withinLimit(m_pkg.Components.size(), kMaxPackageComponents, QStringLiteral("component lines")))
            return true;
        PackageComponent c;
        const qsizetype s1 = value.indexOf(QLatin1Char(';'));
        c.Part1 = value.left(s1 < 0 ? value.size() : s1);
        if (s1 >= 0) {
            const qsizetype s2 = value.indexOf(QLatin1Char(';'), s1 + 1);
            c.Part2 = value.mid(s1 + 1, s2 < 0 ? -1 : s2 - s1 - 1);
            if (s2 >= 0)
                c.Part3 = value.mid(s2 + 1);
        }
        m_pkg.Components.append(c);
    } else if (key == QLatin1String("Cockpit:")) {
        if (!withinLimit(m_pkg.Cockpits.size(), kMaxPackageCockpits, QStringLiteral("cockpit lines")))
            return true;
        m_pkg.Cockpits.append(value);
    } else if (key == QLatin1String("Shipyard:")) {
        const QStringList flags = value.split(QLatin1Char(';'));
        for (int i = 0; i < 8; ++i)
            m_pkg.Shipyards[i] = i < flags.size() && flags.at(i) == QLatin1String("1");
    }
    return true;
}

OpenPackageResult Reader::run(QFile& file)
{
    const QString packagePath = file.fileName();
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly)) {
        m_result.status = PackageFailed;
        return m_result;
    }
    std::unique_ptr<LzmaReadDevice> stream;
    m_in = &file;
    const QByteArray firstLine = file.readLine(4096);
    const QString firstKey = QString::fromLocal8Bit(firstLine).section(QLatin1Char(' '), 0, 0);
    if (firstKey != QLatin1String("Packager:")) {
        file.seek(0);
        const QByteArray header = file.read(kLzmaHeaderSize);
        if (!isLzmaAloneHeader(header)) {
            log(QStringLiteral("(OPENXSP) Not a ship package: ") + packagePath);
            problem(QStringLiteral("not a ship package (no compressed package header)"),
                    PackageProblem::NotPackage);
            m_result.status = PackageFailed;
            return m_result;
        }
        status(4, QFileInfo(packagePath).completeBaseName());
        log(QStringLiteral("(OPENXSP) Uncompressing file: ") + packagePath);
        // Decoded as it is read, never unpacked whole first: the document's limits
        // then stop a hostile package after what they allow, not after its full size.
        file.seek(0);
        stream = std::make_unique<LzmaReadDevice>(file);
        if (!stream->open(QIODevice::ReadOnly)) {
            log(QStringLiteral("(OPENXSP) Uncompression failed!!"));
            problem(QStringLiteral("the package does not decompress: it is damaged or cut short"));
            m_result.status = PackageFailed;
            return m_result;
        }
        m_in = stream.get();
        m_stream = stream.get();
        m_total = qMax<qint64>(0, stream->statedSize());
        // What decompresses must still be a package document.
        const QByteArray docLine = stream->peek(4096);
        const QString docKey = QString::fromLocal8Bit(docLine.left(docLine.indexOf('\n')))
                                   .section(QLatin1Char(' '), 0, 0);
        if (!isPackagerKey(docKey)) {
            log(QStringLiteral("(OPENXSP) Not a package document: ") + packagePath);
            if (stream->failed())
                problem(QStringLiteral("the package does not decompress: it is damaged or cut short"));
            else
                problem(QStringLiteral("not a ship package (no \"Packager:\" line)"),
                        PackageProblem::NotPackage);
            m_result.status = PackageFailed;
            return m_result;
        }
    } else {
        m_total = file.size();
    }
    readDocument(QFileInfo(packagePath).completeBaseName());
    if (stream && stream->failed() && m_result.status == PackageOk) {
        // Only the decoder knows that the stream broke where a line could end.
        log(QStringLiteral("(OPENXSP) Uncompression failed!!"));
        problem(QStringLiteral("the package does not decompress: it is damaged or cut short"));
        m_result.status = PackageFailed;
        m_result.complete = false;
        m_result.replaces = -1;
    }
    if (stream)
        stream->close();
    file.close();
    return m_result;
}

OpenPackageResult Reader::runDocument(QIODevice& document, const QString& name)
{
    m_in = &document;
    const QByteArray firstLine = document.readLine(4096);
    if (QString::fromLocal8Bit(firstLine).section(QLatin1Char(' '), 0, 0) !=
        QLatin1String("Packager:")) {
        problem(QStringLiteral("not a package document"), PackageProblem::NotPackage);
        m_result.status = PackageFailed;
        return m_result;
    }
    readDocument(name);
    return m_result;
}

// Reads from the line after the first to the end of m_in.
void Reader::readDocument(const QString& shownName)
{
    status(6, shownName);
    if (m_ctx.progress)
        m_ctx.progress->setTotal(m_total);
    m_pkg.SceneFile.reset();
    m_pkg.CockpitFile.reset();

    m_targetDir = m_opt.baseDir;
    MakePath(m_opt.baseDir, m_opt.scriptDir);
    if (m_opt.inSlipway) {
        MakePath(m_opt.baseDir, QStringLiteral("Slipway"));
        m_targetDir = m_opt.baseDir + QStringLiteral("/Slipway");
    }

    while (!m_stop && !m_in->atEnd()) {
        QByteArray raw;
        if (!readBoundedLine(*m_in, raw, kMaxLine)) {
            log(QStringLiteral("(OPENXSP) Line too long, stopping."));
            problem(QStringLiteral("line longer than %1 bytes").arg(kMaxLine));
            m_result.status = PackageFailed;
            break;
        }
        m_headerBytes += raw.size();
        if (m_headerBytes > kMaxPackageHeaderBytes) {
            log(QStringLiteral("(OPENXSP) Too much text, stopping."));
            problem(QStringLiteral("more than %1 MiB of text lines (the limit of a package)")
                        .arg(kMaxPackageHeaderBytes >> 20));
            m_result.status = PackageFailed;
            break;
        }
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        progress();
        const QString line = QString::fromLocal8Bit(raw);
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const QString key = blank < 0 ? line : line.left(blank);
        const QString value = blank < 0 ? QString() : line.mid(blank + 1);
        if (!handle(key, value) && !m_stop) {
            m_result.status = PackageFailed; // the document ended inside a file's bytes
            if (m_result.problem == PackageProblem::None)
                problem(QStringLiteral("the package ends inside a file: it is cut short"));
            break;
        }
    }

    if (m_result.status == PackageOk) {
        m_result.complete =
            !m_pkg.Name.isEmpty() && !m_pkg.Author.isEmpty() && !m_unsafe && !m_writeFailed;
        if (!m_result.complete)
            m_result.status = PackageFailed;
        if (m_pkg.Name.isEmpty() || m_pkg.Author.isEmpty())
            problem(QStringLiteral("the package names no ship or no author"),
                    PackageProblem::Incomplete);
    }
    if (m_result.status != PackageOk)
        m_result.replaces = -1;
    if (m_ctx.progress)
        m_ctx.progress->setDone(m_total);
}

} // namespace

bool IsSafeEntryName(const QString& name)
{
    return nameProblem(name, false).isEmpty();
}

QString EntryNameProblem(const QString& name, bool bare)
{
    return nameProblem(name, bare);
}

OpenPackageResult OpenPackage(QFile& file, ShipPackage& package, const OpenPackageOptions& options,
                              const PackageContext& context)
{
    Reader reader(package, options, context);
    return reader.run(file);
}

OpenPackageResult OpenPackageDocument(QIODevice& document, const QString& name,
                                      ShipPackage& package, const OpenPackageOptions& options,
                                      const PackageContext& context)
{
    Reader reader(package, options, context);
    return reader.runDocument(document, name);
}

QString PackageDocumentPath(const QString& programDir, const QString& packagePath)
{
    return programDir + QStringLiteral("/temp/") + QFileInfo(packagePath).fileName() +
           QStringLiteral(".tMp");
}

namespace {

class Writer
{
public:
    Writer(QIODevice& out, const PackageContext& ctx) : m_out(out), m_ctx(ctx) {}

    void line(const QString& s) { put(oneLine(s).toLocal8Bit() + '\n'); }
    void put(const QByteArray& bytes)
    {
        if (m_out.write(bytes) != bytes.size())
            m_failed = true;
    }
    bool failed() const { return m_failed; }
    void fail() { m_failed = true; }

    // Writes "<key> <header>" and the source's bytes; the size in the line is the
    // size of the bytes that follow, whatever the entry claims.
    bool embed(const QString& key, const PackageFile& entry, bool trailingLf, bool bareName)
    {
        QFile src(entry.SourcePath);
        if (entry.SourcePath.isEmpty() || !src.open(QIODevice::ReadOnly))
            return false;
        const QString name = bareName ? QFileInfo(entry.Name).fileName() : entry.Name;
        if (m_ctx.status)
            m_ctx.status->showStatus(name + QStringLiteral("..."));
        line(key + QLatin1Char(' ') + QString::number(entry.Time) + QLatin1Char(' ') +
             QString::number(src.size()) + QLatin1Char(' ') + name);
        const bool copied = copy(src);
        if (trailingLf)
            put("\n");
        src.close();
        if (copied && entry.RemoveAfterSave)
            QFile::remove(entry.SourcePath);
        return copied;
    }

    bool copy(QFile& src)
    {
        if (m_ctx.progress)
            m_ctx.progress->setTotal(src.size());
        if (!CopyFileData(src, m_out, kWriteBlock, m_ctx.progress))
            m_failed = true;
        return !m_failed;
    }

private:
    bool m_failed = false;
    QIODevice& m_out;
    const PackageContext& m_ctx;
};

} // namespace

namespace {

// Where the screenshot's bytes come from: "<PACKAGE>/" stands for the Slipway folder.
QString screenshotSource(const ShipPackage& p, const QString& programDir)
{
    QString path = p.ScreenShot;
    if (path.startsWith(QLatin1String("<PACKAGE>/")))
        path = programDir + QStringLiteral("/Slipway/") + path.mid(10);
    return path;
}

} // namespace

QString OversizedPackageFile(const ShipPackage& p, const QString& programDir)
{
    QList<std::pair<QString, QString>> sources; // shown name, path
    if (!p.ScreenShot.isEmpty())
        sources.append({QFileInfo(p.ScreenShot).fileName(), screenshotSource(p, programDir)});
    for (const std::optional<PackageFile>& f : {p.SceneFile, p.CockpitFile})
        if (f)
            sources.append({f->Name, f->SourcePath});
    for (const QList<PackageFile>* list : {&p.Models, &p.Files, &p.Scripts})
        for (const PackageFile& f : *list)
            sources.append({f.Name, f.SourcePath});
    for (const auto& [name, path] : sources) {
        const qint64 size = path.isEmpty() ? 0 : QFileInfo(path).size();
        if (size > kMaxPackageFileSize)
            return shownName(name) +
                   QStringLiteral(": %1 bytes, more than a package file may hold (2 GiB)").arg(size);
    }
    return {};
}

bool WritePackageDocument(const ShipPackage& p, QIODevice& out, const PackageContext& context,
                          const EntryReady& ready)
{
    Writer w(out, context);
    w.line(QStringLiteral("Packager: 1"));
    w.line(QStringLiteral("Name: ") + p.Name);
    w.line(QStringLiteral("Author: ") + p.Author);
    w.line(QStringLiteral("ID: ") + p.ID);
    w.line(QStringLiteral("Data: ") + p.Data);
    if (!p.Web.isEmpty())
        w.line(QStringLiteral("Web: ") + p.Web);
    if (!p.Mirror1.isEmpty())
        w.line(QStringLiteral("Mirror1: ") + p.Mirror1);
    if (!p.Mirror2.isEmpty())
        w.line(QStringLiteral("Mirror2: ") + p.Mirror2);
    QStringList yards;
    for (bool flag : p.Shipyards)
        yards << (flag ? QStringLiteral("1") : QStringLiteral("0"));
    w.line(QStringLiteral("Shipyard: ") + yards.join(QLatin1Char(';')));
    if (p.OriginalDesc != 0)
        w.line(QStringLiteral("OriginalDesc: ") + QString::number(p.OriginalDesc));
    w.line(QStringLiteral("Version: ") + (p.Version.isEmpty() ? QStringLiteral("0") : p.Version));
    if (!p.Comment.isEmpty())
        w.line(QStringLiteral("Comment: ") + encodeNewlines(p.Comment));
    if (!p.ScreenShot.isEmpty()) {
        const QString path = screenshotSource(p, context.programDir);
        QFile pic(path);
        if (pic.open(QIODevice::ReadOnly)) {
            const QString name = QFileInfo(path).fileName();
            const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
            w.line(QStringLiteral("ScreenShot: ") + QString::number(pic.size()) + QLatin1Char(' ') +
                   (dot < 0 ? QString() : name.mid(dot + 1)));
            w.copy(pic);
            w.put("\n");
        }
    }
    for (const PackageText& t : p.Texts)
        w.line(QStringLiteral("Text: ") + QString::number(t.Language) + QLatin1Char(':') + t.Name +
               QLatin1Char(':') + t.Description);
    if (p.SceneFile)
        w.embed(QStringLiteral("SceneFile:"), *p.SceneFile, false, false);
    if (p.CockpitFile)
        w.embed(QStringLiteral("CockpitFile:"), *p.CockpitFile, false, false);
    for (int kind : {KindModel, KindFile}) {
        const QList<PackageFile>& list = kind == KindModel ? p.Models : p.Files;
        for (qsizetype i = 0; i < list.size() && !w.failed(); ++i) {
            PackageFile f = list.at(i);
            if (ready && !ready(kind, i, f)) {
                w.fail();
                break;
            }
            w.embed(kind == KindModel ? QStringLiteral("Model:") : QStringLiteral("Files:"), f,
                    true, false);
        }
    }
    for (const PackageDummy& d : p.Dummies)
        w.line(QStringLiteral("Dummy: ") + d.Section + QLatin1Char(';') + d.Data);
    for (const PackageComponent& c : p.Components)
        w.line(QStringLiteral("Component: ") + c.Part1 + QLatin1Char(';') + c.Part2 +
               QLatin1Char(';') + c.Part3);
    for (const QString& c : p.Cockpits)
        w.line(QStringLiteral("Cockpit: ") + c);
    for (const PackageFile& f : p.Scripts)
        w.embed(QStringLiteral("Script:"), f, true, true);
    return !w.failed();
}

bool SavePackageText(const ShipPackage& p, const QString& documentPath,
                     const PackageContext& context)
{
    // A file no reader takes is refused before any byte is written.
    if (!OversizedPackageFile(p, context.programDir).isEmpty())
        return false;
    QFile out(documentPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return WritePackageDocument(p, out, context) && out.error() == QFileDevice::NoError &&
           out.flush();
}

bool SavePackage(const ShipPackage& package, const QString& target, const PackageContext& context)
{
    QDir(context.programDir).mkpath(QStringLiteral("temp"));
    const QString document = PackageDocumentPath(context.programDir, target);
    const bool ok = SavePackageText(package, document, context) &&
                    CompressFile(document, target, context.progress);
    QFile::remove(document);
    return ok;
}

bool IsFileWanted(const QList<ShipPackage>* installed, const PackageFile& entry, int kind)
{
    if (!installed)
        return true;
    auto newer = [&](const PackageFile& f) { return f.Name == entry.Name && f.Time >= entry.Time; };
    for (const ShipPackage& p : *installed) {
        if (p.Deleted != 0)
            continue;
        if (kind == KindModel) {
            if ((p.SceneFile && newer(*p.SceneFile)) || (p.CockpitFile && newer(*p.CockpitFile)))
                return false;
            for (const PackageFile& f : p.Models)
                if (newer(f))
                    return false;
        } else {
            for (const PackageFile& f : p.Files)
                if (newer(f))
                    return false;
        }
    }
    return true;
}

bool IsScriptWanted(const QList<ShipPackage>* installed, const PackageFile& entry)
{
    if (!installed)
        return true;
    for (const ShipPackage& p : *installed)
        for (const PackageFile& f : p.Scripts)
            if (f.Name == entry.Name && f.Time > entry.Time)
                return false;
    return true;
}

bool IsFileUsedElsewhere(const QList<ShipPackage>* installed, const QString& fileName,
                         const ShipPackage& excluded, int kind)
{
    if (!installed)
        return false;
    const QString want = fileName.toUpper();
    auto same = [&](const PackageFile& f) { return f.Name.toUpper() == want; };
    for (const ShipPackage& p : *installed) {
        if (p.Deleted != 0 || p.sameShip(excluded))
            continue;
        if (kind == KindModel) {
            if ((p.SceneFile && same(*p.SceneFile)) || (p.CockpitFile && same(*p.CockpitFile)))
                return true;
            for (const PackageFile& f : p.Models)
                if (same(f))
                    return true;
        } else {
            for (const PackageFile& f : p.Files)
                if (same(f))
                    return true;
        }
    }
    return false;
}
