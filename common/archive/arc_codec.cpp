// The packed form (key byte + scrambled gzip member) and the catalogue text.
#include "arc.h"

#include <zlib.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <new>

namespace {

constexpr unsigned char kGzId1 = 0x1F;
constexpr unsigned char kGzId2 = 0x8B;
constexpr unsigned char kGzDeflate = 8;
constexpr unsigned char kFlagHcrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;
constexpr unsigned char kOsByte = 11;

// Deflate cannot expand data by more than about 1032:1, so a trailer claiming more
// than this from the given input is forged or corrupt; refusing it up front keeps a
// few bytes of input from demanding gigabytes of memory.
constexpr uint64_t kMaxInflateRatio = 1032;

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(std::vector<unsigned char>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

uint32_t crcOf(const unsigned char* data, size_t length)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const uInt n = length > UINT_MAX ? UINT_MAX : static_cast<uInt>(length);
        crc = crc32(crc, data, n);
        data += n;
        length -= n;
    }
    return static_cast<uint32_t>(crc);
}

} // namespace

int arc_codec_error(int status)
{
    switch (status) {
    case ARC_GZ_OK:
        return ARC_OK;
    case ARC_GZ_RESERVED:
        return ARC_E_GZ_RESERVED;
    case ARC_GZ_NOMAGIC:
        return ARC_E_GZ_MAGIC;
    case ARC_GZ_TOOSHORT:
        return ARC_E_GZ_SHORT;
    case ARC_GZ_DATACRC:
        return ARC_E_GZ_CRC;
    case ARC_GZ_HEADERCRC:
        return ARC_E_GZ_HCRC;
    case ARC_GZ_METHOD:
        return ARC_E_GZ_METHOD;
    case ARC_GZ_ZLIB:
        return ARC_E_GZ_ZLIB;
    case ARC_GZ_INTERNAL:
        return ARC_E_INTERNAL;
    default:
        return status;
    }
}

bool arc_is_packed(const unsigned char* data, size_t length)
{
    if (!data || length < 3)
        return false;
    const unsigned char c = data[0] ^ ARC_KEY_XOR;
    return (data[1] ^ c) == kGzId1 && (data[2] ^ c) == kGzId2;
}

int arc_gzip_decode(const unsigned char* data, size_t length, std::vector<unsigned char>& out,
                    uint32_t* mtime)
{
    out.clear();
    if (!data || length < 10)
        return ARC_GZ_TOOSHORT;
    if (data[0] != kGzId1 || data[1] != kGzId2)
        return ARC_GZ_NOMAGIC;
    if (data[2] != kGzDeflate)
        return ARC_GZ_METHOD;
    const unsigned char flags = data[3];
    const int status = (flags & 0xE0) ? ARC_GZ_RESERVED : ARC_GZ_OK;
    if (mtime)
        *mtime = le32(data + 4);

    size_t p = 10;
    if (flags & kFlagExtra) {
        if (length - p < 2)
            return ARC_GZ_TOOSHORT;
        const size_t xlen = size_t(data[p]) | size_t(data[p + 1]) << 8;
        p += 2;
        if (length - p < xlen)
            return ARC_GZ_TOOSHORT;
        p += xlen;
    }
    for (unsigned char f : {kFlagName, kFlagComment}) {
        if (!(flags & f))
            continue;
        const void* zero = std::memchr(data + p, 0, length - p);
        if (!zero)
            return ARC_GZ_TOOSHORT;
        p = static_cast<size_t>(static_cast<const unsigned char*>(zero) - data) + 1;
    }
    if (flags & kFlagHcrc)
        p += 2;
    if (p > length || length - p < 8)
        return ARC_GZ_TOOSHORT;

    const uint32_t storedCrc = le32(data + length - 8);
    const uint32_t storedLen = le32(data + length - 4);
    const size_t packedLen = length - 8 - p;
    if (uint64_t(storedLen) > uint64_t(packedLen) * kMaxInflateRatio + 64)
        return ARC_GZ_ZLIB;

    try {
        out.resize(storedLen);
    } catch (const std::bad_alloc&) {
        return ARC_GZ_INTERNAL;
    }

    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return ARC_GZ_ZLIB;
    unsigned char spare = 0;
    zs.next_in = const_cast<unsigned char*>(data + p);
    zs.next_out = storedLen ? out.data() : &spare;
    zs.avail_out = storedLen; // the trailer's length is 32-bit, so it fits one call
    size_t inLeft = packedLen;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (zs.avail_in == 0 && inLeft > 0) {
            zs.avail_in = inLeft > UINT_MAX ? UINT_MAX : static_cast<uInt>(inLeft);
            inLeft -= zs.avail_in;
        }
        rc = inflate(&zs, inLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    const uint64_t produced = zs.total_out;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || produced != storedLen) {
        out.clear();
        return ARC_GZ_ZLIB;
    }
    if (crcOf(out.data(), out.size()) != storedCrc) {
        out.clear();
        return ARC_GZ_DATACRC;
    }
    return status;
}

int arc_gzip_encode(const unsigned char* data, size_t length, uint32_t mtime,
                    std::vector<unsigned char>& out, const char* name, const char* comment)
{
    out.clear();
    const bool withName = name && *name, withComment = comment && *comment;
    unsigned char flags = 0;
    if (withName)
        flags |= kFlagName;
    if (withComment)
        flags |= kFlagComment;

    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return ARC_GZ_ZLIB;
    try {
        out.reserve(10 + (withName ? strlen(name) + 1 : 0) +
                    (withComment ? strlen(comment) + 1 : 0) +
                    deflateBound(&zs, length > ULONG_MAX ? ULONG_MAX : uLong(length)) + 8);
        out.insert(out.end(), {kGzId1, kGzId2, kGzDeflate, flags});
        putLe32(out, mtime);
        out.insert(out.end(), {0, kOsByte});
        if (withName)
            out.insert(out.end(), name, name + strlen(name) + 1);
        if (withComment)
            out.insert(out.end(), comment, comment + strlen(comment) + 1);

        size_t header = out.size();
        out.resize(out.capacity() - 8);
        size_t inLeft = length;
        zs.next_in = const_cast<unsigned char*>(data);
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (zs.avail_in == 0 && inLeft > 0) {
                zs.avail_in = inLeft > UINT_MAX ? UINT_MAX : static_cast<uInt>(inLeft);
                inLeft -= zs.avail_in;
            }
            if (header + zs.total_out >= out.size())
                out.resize(out.size() + 1024);
            const size_t room = out.size() - (header + zs.total_out);
            zs.next_out = out.data() + header + zs.total_out;
            zs.avail_out = room > UINT_MAX ? UINT_MAX : static_cast<uInt>(room);
            rc = deflate(&zs, inLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                deflateEnd(&zs);
                out.clear();
                return ARC_GZ_ZLIB;
            }
        }
        out.resize(header + zs.total_out);
        deflateEnd(&zs);
        putLe32(out, crcOf(data, length));
        putLe32(out, static_cast<uint32_t>(length));
    } catch (const std::bad_alloc&) {
        deflateEnd(&zs);
        out.clear();
        return ARC_GZ_INTERNAL;
    }
    return ARC_GZ_OK;
}

int arc_unpack(const unsigned char* data, size_t length, std::vector<unsigned char>& out,
               uint32_t* mtime)
{
    out.clear();
    if (!data || length < 1)
        return ARC_GZ_TOOSHORT;
    const unsigned char key = data[0] ^ ARC_KEY_XOR;
    std::vector<unsigned char> member;
    try {
        member.assign(data + 1, data + length);
    } catch (const std::bad_alloc&) {
        return ARC_GZ_INTERNAL;
    }
    for (unsigned char& b : member)
        b ^= key;
    return arc_gzip_decode(member.data(), member.size(), out, mtime);
}

int arc_pack(const unsigned char* data, size_t length, uint32_t mtime,
             std::vector<unsigned char>& out, int key)
{
    std::vector<unsigned char> member;
    const int status = arc_gzip_encode(data, length, mtime, member);
    out.clear();
    if (status != ARC_GZ_OK)
        return status;
    const unsigned char k =
        static_cast<unsigned char>(key < 0 ? static_cast<unsigned long>(clock()) & 0xFF : key);
    try {
        out.resize(member.size() + 1);
    } catch (const std::bad_alloc&) {
        return ARC_GZ_INTERNAL;
    }
    out[0] = k ^ ARC_KEY_XOR;
    for (size_t i = 0; i < member.size(); ++i)
        out[i + 1] = member[i] ^ k;
    return ARC_GZ_OK;
}

void arc_scramble_catalog(unsigned char* data, size_t length, size_t startIndex)
{
    for (size_t i = 0; i < length; ++i)
        data[i] ^= static_cast<unsigned char>((ARC_CAT_SCRAMBLE_BASE + startIndex + i) & 0xFF);
}

int arc_parse_catalog_text(const char* text, size_t length, std::string& datLine,
                           std::vector<ArcCatalogLine>& entries)
{
    datLine.clear();
    entries.clear();
    if (!text || length == 0)
        return ARC_E_EMPTY;
    bool first = true;
    size_t i = 0;
    while (i < length) {
        size_t end = i;
        while (end < length && text[end] != '\r' && text[end] != '\n')
            ++end;
        if (end > i) {
            std::string line(text + i, end - i);
            if (first) {
                datLine = std::move(line);
                first = false;
            } else {
                const size_t blank = line.rfind(' ');
                if (blank == std::string::npos)
                    return ARC_E_BADDATA;
                // Leading digits after optional blanks and sign, as the C runtime reads it.
                size_t p = blank + 1;
                while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
                    ++p;
                bool negative = false;
                if (p < line.size() && (line[p] == '+' || line[p] == '-'))
                    negative = line[p++] == '-';
                int64_t size = 0;
                for (; p < line.size() && line[p] >= '0' && line[p] <= '9'; ++p) {
                    if (size > (INT64_MAX / 4 - 9) / 10)
                        return ARC_E_ENTRYSIZE;
                    size = size * 10 + (line[p] - '0');
                }
                if (negative && size != 0)
                    return ARC_E_ENTRYSIZE;
                line.resize(blank);
                for (char& c : line)
                    if (c == '/')
                        c = '\\';
                entries.push_back({std::move(line), size});
            }
        }
        i = end + 1;
    }
    return first ? ARC_E_BADDATA : ARC_OK;
}

bool arc_valid_entry_name(const char* name)
{
    if (!name || !*name || *name == '\\')
        return false;
    for (const char* p = name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        // A control character would end the catalogue line or name another file.
        if (c < 0x20 || c == 0x7F)
            return false;
        switch (c) {
        case '/':
        case ':':
        case '*':
        case '<':
        case '>':
        case '|':
            return false;
        default:
            break;
        }
    }
    // No ".." component: the name must stay below its catalogue when extracted. Nor a
    // component or a whole name that no file system would take.
    const char* start = name;
    for (const char* p = name;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (p - start == 2 && start[0] == '.' && start[1] == '.')
                return false;
            if (p - start > ARC_MAX_NAME_COMPONENT)
                return false;
            if (*p == '\0')
                return p - name <= ARC_MAX_ENTRY_NAME;
            start = p + 1;
        }
    }
}
