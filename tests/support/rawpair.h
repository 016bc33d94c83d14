// Reads a catalogue/data pair the way the game does, without the archive library
// and without any journal: unscramble the catalogue, add up the listed sizes, and
// check that every entry lies inside the data file and that a packed entry inflates
// to the checksum and length its gzip trailer names.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <zlib.h>

namespace RawPair {

struct Entry
{
    QByteArray name; // as listed (forward slashes)
    qint64 offset = 0;
    qint64 size = 0;
};

struct Result
{
    bool present = false; // a catalogue exists; without one the game loads no mod
    QList<Entry> entries;
    QString fault; // empty: the game can read every entry
};

inline bool inflatesWhole(const QByteArray& member)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) // gzip: checks CRC-32 and length
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.constData()));
    z.avail_in = static_cast<uInt>(member.size());
    QByteArray out(1 << 16, Qt::Uninitialized);
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            break; // cut short
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

inline Result read(const QString& catPath)
{
    Result r;
    QFile cat(catPath);
    if (!cat.exists())
        return r;
    r.present = true;
    if (!cat.open(QIODevice::ReadOnly))
        return r.fault = QStringLiteral("catalogue unreadable"), r;
    QByteArray text = cat.readAll();
    if (text.isEmpty())
        return r.fault = QStringLiteral("catalogue empty"), r;
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = char(text[i] ^ ((0x6E + i) & 0xFF));
    QList<QByteArray> lines;
    for (QByteArray line : text.replace('\r', '\n').split('\n'))
        if (!line.isEmpty())
            lines << line;
    QFile dat(catPath.left(catPath.size() - 3) + QStringLiteral("dat"));
    if (!dat.open(QIODevice::ReadOnly))
        return r.fault = QStringLiteral("data file missing"), r;
    const QByteArray data = dat.readAll();
    qint64 offset = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype blank = lines[i].lastIndexOf(' ');
        if (blank < 0)
            return r.fault = QStringLiteral("line without a size: ") + QString::fromLatin1(lines[i]), r;
        Entry e{lines[i].left(blank), offset, lines[i].mid(blank + 1).toLongLong()};
        if (e.size < 0 || offset + e.size > data.size())
            return r.fault = QStringLiteral("%1 lies past the data file (%2 + %3 > %4)")
                                 .arg(QString::fromLatin1(e.name))
                                 .arg(offset)
                                 .arg(e.size)
                                 .arg(data.size()),
                   r;
        QByteArray bytes = data.mid(offset, e.size);
        for (char& b : bytes)
            b = char(b ^ 0xA5);
        if (bytes.size() >= 3) {
            const char key = char(bytes[0] ^ 0x3C);
            if (char(bytes[1] ^ key) == char(0x1F) && char(bytes[2] ^ key) == char(0x8B)) {
                QByteArray member = bytes.mid(1);
                for (char& b : member)
                    b = char(b ^ key);
                if (!inflatesWhole(member))
                    return r.fault = QString::fromLatin1(e.name) + QStringLiteral(" does not unpack"), r;
            }
        }
        r.entries << e;
        offset += e.size;
    }
    return r;
}

} // namespace RawPair
