#include "winereg.h"

#include "safefile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A large prefix's system.reg is a few MB; far beyond that it is not a registry.
constexpr qint64 kMaxRegFile = 256ll * 1024 * 1024;
constexpr qint64 kFileTimeEpoch = 11644473600ll; // seconds from 1601 to 1970
const QByteArray kHeader = "WINE REGISTRY Version 2";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Index of the unescaped closing character at or after p, or -1 before `end`.
qsizetype findClose(const QByteArray& t, qsizetype p, qsizetype end, char close)
{
    while (p < end) {
        if (t[p] == '\\')
            p += 2;
        else if (t[p] == close)
            return p;
        else
            ++p;
    }
    return -1;
}

// The server's reading of escaped text: C escapes, "\x" with up to four hex
// digits (one UTF-16 unit), up to three octal digits, otherwise the character.
QString unescape(const QByteArray& t, qsizetype p, qsizetype end)
{
    QString out;
    QByteArray raw;
    auto flush = [&] {
        out += QString::fromUtf8(raw);
        raw.clear();
    };
    while (p < end) {
        char c = t[p++];
        if (c != '\\' || p >= end) {
            raw += c;
            continue;
        }
        c = t[p++];
        switch (c) {
        case 'a': raw += '\a'; break;
        case 'b': raw += '\b'; break;
        case 'e': raw += '\x1b'; break;
        case 'f': raw += '\f'; break;
        case 'n': raw += '\n'; break;
        case 'r': raw += '\r'; break;
        case 't': raw += '\t'; break;
        case 'v': raw += '\v'; break;
        case 'x': {
            uint v = 0;
            int n = 0;
            for (; n < 4 && p < end && hexValue(t[p]) >= 0; ++n)
                v = v * 16 + uint(hexValue(t[p++]));
            if (n == 0) {
                raw += 'x';
                break;
            }
            flush();
            out += QChar(char16_t(v));
            break;
        }
        default:
            if (c >= '0' && c <= '7') {
                uint v = uint(c - '0');
                for (int n = 1; n < 3 && p < end && t[p] >= '0' && t[p] <= '7'; ++n)
                    v = v * 8 + uint(t[p++] - '0');
                flush();
                out += QChar(char16_t(v));
            } else {
                raw += c;
            }
        }
    }
    flush();
    return out;
}

QString foldedPath(const QString& path)
{
    QString p = path;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return p.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\')).toCaseFolded();
}

qsizetype skipBlanks(const QByteArray& t, qsizetype p, qsizetype end)
{
    while (p < end && isBlank(t[p]))
        ++p;
    return p;
}

bool onlyBlanks(const QByteArray& t, qsizetype p, qsizetype end)
{
    return skipBlanks(t, p, end) == end;
}

} // namespace

QByteArray WineRegFile::escape(const QString& text, char quote1, char quote2)
{
    static const char kEscapes[33] = ".......abtnvfr.............e....";
    QByteArray out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const char16_t next = i + 1 < text.size() ? text.at(i + 1).unicode() : 0;
        if (c > 127) {
            // Four digits when a hex digit follows, which would otherwise join it.
            const bool pad = next < 128 && hexValue(char(next)) >= 0;
            out += "\\x" + QByteArray::number(c, 16).rightJustified(pad ? 4 : 0, '0');
        } else if (c < 32) {
            if (kEscapes[c] != '.') {
                out += '\\';
                out += kEscapes[c];
            } else {
                const bool pad = next >= '0' && next <= '7';
                out += '\\' + QByteArray::number(c, 8).rightJustified(pad ? 3 : 0, '0');
            }
        } else {
            if (c == '\\' || c == quote1 || c == quote2)
                out += '\\';
            out += char(c);
        }
    }
    return out;
}

bool WineRegFile::parse(const QByteArray& text, QString* error)
{
    m_text = text;
    m_sections.clear();
    m_arch = 0;
    m_hasWow64Key = false;
    m_eol = "\n";
    const QString wow64 = QStringLiteral("software\\wow6432node");
    const qsizetype size = m_text.size();
    const QByteArray& t = m_text;
    bool headerSeen = false;
    Section* current = nullptr;
    int lineNo = 0;
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(lineNo).arg(QLatin1String(what));
        m_sections.clear();
        return false;
    };

    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype lineStart = pos;
        qsizetype nl = t.indexOf('\n', pos);
        qsizetype lineEnd = nl < 0 ? size : nl + 1;
        qsizetype contentEnd = nl < 0 ? size : nl;
        if (contentEnd > lineStart && t[contentEnd - 1] == '\r')
            --contentEnd;
        pos = lineEnd;
        ++lineNo;
        const qsizetype p = skipBlanks(t, lineStart, contentEnd);
        if (p == contentEnd)
            continue;
        if (!headerSeen) {
            if (t.mid(p, contentEnd - p) != kHeader)
                return fail("not a registry file (no \"WINE REGISTRY Version 2\" line)");
            if (contentEnd < lineEnd - 1)
                m_eol = "\r\n";
            headerSeen = true;
            continue;
        }
        const char c = t[p];
        if (c == ';')
            continue;
        if (c == '#') {
            if (current)
                current->insertAt = lineEnd;
            else if (t.mid(p, contentEnd - p) == "#arch=win64")
                m_arch = 64;
            else if (t.mid(p, contentEnd - p) == "#arch=win32")
                m_arch = 32;
            continue;
        }
        if (c == '[') {
            const qsizetype close = findClose(t, p + 1, contentEnd, ']');
            if (close < 0)
                return fail("key name without \"]\"");
            // After the name: the modification time in seconds.
            qsizetype q = skipBlanks(t, close + 1, contentEnd);
            while (q < contentEnd && t[q] >= '0' && t[q] <= '9')
                ++q;
            if (!onlyBlanks(t, q, contentEnd))
                return fail("unexpected text after a key name");
            Section s;
            s.folded = foldedPath(unescape(t, p + 1, close));
            s.insertAt = lineEnd;
            if (s.folded == wow64 || s.folded.startsWith(wow64 + QLatin1Char('\\')))
                m_hasWow64Key = true;
            m_sections.append(s);
            current = &m_sections.last();
            continue;
        }
        if (c != '@' && c != '"')
            return fail("unrecognised line");
        if (!current)
            return fail("value before the first key");
        Value v;
        v.line = lineStart;
        qsizetype q = p + 1;
        if (c == '"') {
            const qsizetype close = findClose(t, p + 1, contentEnd, '"');
            if (close < 0)
                return fail("value name without closing quote");
            v.name = unescape(t, p + 1, close);
            q = close + 1;
        }
        q = skipBlanks(t, q, contentEnd);
        if (q >= contentEnd || t[q] != '=')
            return fail("value without \"=\"");
        q = skipBlanks(t, q + 1, contentEnd);
        v.dataBegin = q;
        const QByteArray rest = t.mid(q, contentEnd - q);
        auto quoted = [&](qsizetype open) {
            const qsizetype close = findClose(t, open + 1, contentEnd, '"');
            if (close < 0 || !onlyBlanks(t, close + 1, contentEnd))
                return false;
            v.stringBegin = open + 1;
            v.stringEnd = close;
            return true;
        };
        if (rest.startsWith('"')) {
            if (!quoted(q))
                return fail("string without closing quote");
            v.isString = true;
        } else if (rest.startsWith("str(")) {
            const qsizetype colon = rest.indexOf("):\"");
            bool ok = false;
            const int type = colon > 4 ? rest.mid(4, colon - 4).toInt(&ok) : 0;
            if (!ok || !quoted(q + colon + 2))
                return fail("typed string that does not read");
            v.isString = type == 1 || type == 2; // plain and expandable strings
        } else if (rest.startsWith("dword:")) {
            qsizetype d = q + 6, digits = 0;
            while (d < contentEnd && hexValue(t[d]) >= 0)
                ++d, ++digits;
            if (digits == 0 || digits > 8 || !onlyBlanks(t, d, contentEnd))
                return fail("dword that does not read");
        } else if (rest.startsWith("hex")) {
            qsizetype d = rest.indexOf(':');
            if (d < 3 || (d > 3 && !(rest.at(3) == '(' && rest.at(d - 1) == ')')))
                return fail("binary value that does not read");
            d += q + 1;
            // Hex bytes may continue on the next lines after a trailing backslash.
            for (;;) {
                while (d < contentEnd && (hexValue(t[d]) >= 0 || t[d] == ',' || isBlank(t[d])))
                    ++d;
                if (d == contentEnd)
                    break;
                if (t[d] != '\\' || !onlyBlanks(t, d + 1, contentEnd))
                    return fail("binary value that does not read");
                if (lineEnd >= size)
                    return fail("binary value cut off at the end of the file");
                nl = t.indexOf('\n', lineEnd);
                const qsizetype next = lineEnd;
                lineEnd = nl < 0 ? size : nl + 1;
                contentEnd = nl < 0 ? size : nl;
                if (contentEnd > next && t[contentEnd - 1] == '\r')
                    --contentEnd;
                pos = lineEnd;
                ++lineNo;
                d = next;
            }
        } else {
            return fail("value of unknown form");
        }
        v.end = contentEnd;
        current->values.append(v);
        current->insertAt = lineEnd;
    }
    if (!headerSeen)
        return fail("not a registry file (empty)");
    return true;
}

bool WineRegFile::is64Bit() const
{
    return m_arch == 64 || (m_arch == 0 && m_hasWow64Key);
}

const WineRegFile::Section* WineRegFile::findSection(const QString& keyPath) const
{
    // A key listed twice is one key: the later lines win, as when the server loads it.
    const QString folded = foldedPath(keyPath);
    for (qsizetype i = m_sections.size() - 1; i >= 0; --i)
        if (m_sections[i].folded == folded)
            return &m_sections[i];
    return nullptr;
}

const WineRegFile::Value* WineRegFile::findValue(const Section& s, const QString& name)
{
    const QString folded = name.toCaseFolded();
    for (qsizetype i = s.values.size() - 1; i >= 0; --i)
        if (s.values[i].name.toCaseFolded() == folded)
            return &s.values[i];
    return nullptr;
}

QString WineRegFile::readString(const QString& keyPath, const QString& name, bool* found) const
{
    if (found)
        *found = false;
    const Section* s = findSection(keyPath);
    const Value* v = s ? findValue(*s, name) : nullptr;
    if (!v || !v->isString)
        return QString();
    if (found)
        *found = true;
    return unescape(m_text, v->stringBegin, v->stringEnd);
}

void WineRegFile::setString(const QString& keyPath, const QString& name, const QString& value,
                            qint64 unixTime)
{
    const QByteArray data = '"' + escape(value, '"', '"') + '"';
    const QByteArray nameToken = name.isEmpty() ? QByteArray("@") : '"' + escape(name, '"', '"') + '"';
    const Section* s = findSection(keyPath);
    if (const Value* v = s ? findValue(*s, name) : nullptr) {
        m_text.replace(v->dataBegin, v->end - v->dataBegin, data);
    } else if (s) {
        QByteArray line = nameToken + '=' + data + m_eol;
        if (s->insertAt == m_text.size() && !m_text.endsWith('\n'))
            line.prepend(m_eol);
        m_text.insert(s->insertAt, line);
    } else {
        QString path = keyPath;
        path.replace(QLatin1Char('/'), QLatin1Char('\\'));
        path = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
        QByteArray block;
        if (!m_text.isEmpty() && !m_text.endsWith('\n'))
            block += m_eol;
        block += m_eol + '[' + escape(path, '[', ']') + "] " + QByteArray::number(unixTime) + m_eol;
        block += "#time=" + QByteArray::number((unixTime + kFileTimeEpoch) * 10000000, 16) + m_eol;
        block += nameToken + '=' + data + m_eol;
        m_text += block;
    }
    parse(QByteArray(m_text));
}

bool LoadWineRegFile(const QString& path, WineRegFile* file, QString* error)
{
    QByteArray text;
    if (!ReadRegularFile(path, kMaxRegFile, &text, error))
        return false;
    QString why;
    if (!file->parse(text, &why)) {
        *error = path + QStringLiteral(": ") + why;
        return false;
    }
    return true;
}

bool WineServerRunning(const QString& serverRoot, const QString& prefix, QString* detail)
{
#ifdef Q_OS_WIN
    Q_UNUSED(serverRoot);
    Q_UNUSED(prefix);
    Q_UNUSED(detail);
    return false;
#else
    struct stat st {};
    if (::stat(QFile::encodeName(prefix).constData(), &st) != 0)
        return false;
    const QString root =
        serverRoot.isEmpty() ? QStringLiteral("/tmp/.wine-%1").arg(::getuid()) : serverRoot;
    const QString lock = root + QStringLiteral("/server-%1-%2/lock")
                                    .arg(qulonglong(st.st_dev), 0, 16)
                                    .arg(qulonglong(st.st_ino), 0, 16);
    const int fd = ::open(QFile::encodeName(lock).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        if (detail)
            *detail = lock + QStringLiteral(": cannot be probed: ") +
                      QString::fromLocal8Bit(std::strerror(errno));
        return true;
    }
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    const int r = ::fcntl(fd, F_GETLK, &fl);
    const int err = errno;
    ::close(fd);
    if (r != 0) {
        if (detail)
            *detail = lock + QStringLiteral(": cannot be probed: ") +
                      QString::fromLocal8Bit(std::strerror(err));
        return true;
    }
    if (fl.l_type == F_UNLCK)
        return false;
    if (detail)
        *detail = QStringLiteral("%1 is held by process %2").arg(lock).arg(fl.l_pid);
    return true;
#endif
}

WineServerCheck DefaultWineServerCheck(const QString& serverRoot)
{
    return [serverRoot](const QString& prefix, QString* detail) {
        return WineServerRunning(serverRoot, prefix, detail);
    };
}

namespace {

class PrefixRegistry final : public SystemRegistry
{
public:
    PrefixRegistry(QString prefix, WineServerCheck check, std::function<qint64()> clock)
        : m_prefix(std::move(prefix)), m_check(std::move(check)), m_clock(std::move(clock))
    {
        if (!m_check)
            m_check = DefaultWineServerCheck();
        if (!m_clock)
            m_clock = [] { return QDateTime::currentSecsSinceEpoch(); };
    }

    QString readString(const QString& searchPath, const QString& key) const override
    {
        m_error.clear();
        QString keyPath, name;
        WineRegFile file;
        if (!split(searchPath, key, &keyPath, &name) || !LoadWineRegFile(file_(), &file, &m_error))
            return QString();
        return file.readString(view(file) + keyPath, name);
    }

    bool writeString(const QString& searchPath, const QString& key, const QString& value) override
    {
        m_error.clear();
        QString keyPath, name;
        if (!split(searchPath, key, &keyPath, &name))
            return false;
        // A server started between this check and the rename below still loses our
        // value; nothing short of the server itself can close that gap.
        QString detail;
        if (m_check(m_prefix, &detail)) {
            m_error = QStringLiteral("%1: a program runs in this Wine prefix (%2); its wine server "
                                     "would put its own copy of the registry back when it ends. "
                                     "Close the game and try again")
                          .arg(m_prefix, detail);
            return false;
        }
        WineRegFile file;
        if (!LoadWineRegFile(file_(), &file, &m_error)) {
            m_error += QStringLiteral(" (left as it was)");
            return false;
        }
        file.setString(view(file) + keyPath, name, value, m_clock());
        // Through a link to the file it names, keeping the link.
        const QFileInfo info(file_());
        const QString target = info.isSymLink() ? info.canonicalFilePath() : file_();
        return WriteFileAtomic(target, file.text(), &m_error);
    }

    QString errorString() const override { return m_error; }

private:
    QString file_() const { return m_prefix + QStringLiteral("/system.reg"); }

    static QString view(const WineRegFile& file)
    {
        return file.is64Bit() ? QStringLiteral("Software\\Wow6432Node\\")
                              : QStringLiteral("Software\\");
    }

    // The same path rules as the native registry: either slash, empty parts vanish.
    static bool split(const QString& searchPath, const QString& key, QString* keyPath,
                      QString* name)
    {
        QString joined = searchPath + QLatin1Char('/') + key;
        joined.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QStringList parts = joined.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const QStringList keyParts = QString(key).replace(QLatin1Char('\\'), QLatin1Char('/'))
                                         .split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (keyParts.isEmpty())
            return false;
        *name = parts.takeLast();
        *keyPath = parts.join(QLatin1Char('\\'));
        return true;
    }

    QString m_prefix;
    WineServerCheck m_check;
    std::function<qint64()> m_clock;
    mutable QString m_error;
};

} // namespace

std::unique_ptr<SystemRegistry> CreateWinePrefixRegistry(const QString& prefix,
                                                         WineServerCheck check,
                                                         std::function<qint64()> clock)
{
    return std::make_unique<PrefixRegistry>(prefix, std::move(check), std::move(clock));
}
