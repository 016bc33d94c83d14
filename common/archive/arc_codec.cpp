// The packed form (key byte + scrambled gzip member) and the catalogue text.
#include "arc.h"
#include "arc_gzip.h"

#include <zlib.h>

#include <algorithm>
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

// Input chunk of the member reader: what a stream holds of the compressed data.
constexpr size_t kInChunk = 64 * 1024;

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
    case ARC_GZ_TOOLARGE:
        return ARC_E_TOOLARGE;
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

// --- ArcGzipReader ---

struct ArcGzipReader::Impl
{
    z_stream zs;
    bool zInit = false;
    std::vector<unsigned char> in; // one input chunk
    uint64_t inPos = 0;            // member offset of in[0] while parsing the header
    size_t inLen = 0;              // valid bytes in `in` while parsing the header
};

ArcGzipReader::ArcGzipReader(Source source, void* ctx, uint64_t length)
    : m_source(source), m_ctx(ctx), m_length(length), m_impl(std::make_unique<Impl>())
{
    std::memset(&m_impl->zs, 0, sizeof m_impl->zs);
}

ArcGzipReader::~ArcGzipReader()
{
    if (m_impl->zInit)
        inflateEnd(&m_impl->zs);
}

int ArcGzipReader::fail(int status)
{
    m_status = status;
    if (m_impl->zInit) {
        inflateEnd(&m_impl->zs);
        m_impl->zInit = false;
    }
    return status;
}

// Loads member bytes [from, from + size) into the input chunk.
bool ArcGzipReader::fill(uint64_t from, size_t size)
{
    Impl& d = *m_impl;
    if (d.in.size() < size)
        d.in.resize(size);
    d.inPos = from;
    d.inLen = 0;
    if (size > 0 && !m_source(m_ctx, from, d.in.data(), size))
        return false;
    d.inLen = size;
    return true;
}

int ArcGzipReader::begin(uint32_t* mtime)
{
    if (m_begun)
        return m_status;
    m_begun = true;
    if (m_length < 10)
        return fail(ARC_GZ_TOOSHORT);
    Impl& d = *m_impl;
    // The header is parsed through the input chunk; a header longer than one chunk
    // (a long name or comment) reloads it further on.
    const auto chunkAt = [this](uint64_t pos) {
        return fill(pos, static_cast<size_t>(std::min<uint64_t>(kInChunk, m_length - pos)));
    };
    if (!chunkAt(0))
        return fail(ARC_GZ_INTERNAL);
    const unsigned char* h = d.in.data();
    if (h[0] != kGzId1 || h[1] != kGzId2)
        return fail(ARC_GZ_NOMAGIC);
    if (h[2] != kGzDeflate)
        return fail(ARC_GZ_METHOD);
    const unsigned char flags = h[3];
    const int status = (flags & 0xE0) ? ARC_GZ_RESERVED : ARC_GZ_OK;
    if (mtime)
        *mtime = le32(h + 4);

    const auto byteAt = [&d, &chunkAt](uint64_t pos) -> int {
        if (pos < d.inPos || pos >= d.inPos + d.inLen) {
            if (!chunkAt(pos))
                return -1;
        }
        return d.in[static_cast<size_t>(pos - d.inPos)];
    };
    uint64_t p = 10;
    if (flags & kFlagExtra) {
        if (m_length - p < 2)
            return fail(ARC_GZ_TOOSHORT);
        const int lo = byteAt(p), hi = byteAt(p + 1);
        if (lo < 0 || hi < 0)
            return fail(ARC_GZ_INTERNAL);
        const uint64_t xlen = uint64_t(lo) | uint64_t(hi) << 8;
        p += 2;
        if (m_length - p < xlen)
            return fail(ARC_GZ_TOOSHORT);
        p += xlen;
    }
    for (unsigned char f : {kFlagName, kFlagComment}) {
        if (!(flags & f))
            continue;
        bool found = false;
        while (p < m_length && !found) {
            if (byteAt(p) < 0)
                return fail(ARC_GZ_INTERNAL);
            const size_t at = static_cast<size_t>(p - d.inPos);
            const void* zero = std::memchr(d.in.data() + at, 0, d.inLen - at);
            if (zero) {
                p = d.inPos +
                    static_cast<uint64_t>(static_cast<const unsigned char*>(zero) - d.in.data()) +
                    1;
                found = true;
            } else {
                p = d.inPos + d.inLen;
            }
        }
        if (!found)
            return fail(ARC_GZ_TOOSHORT);
    }
    if (flags & kFlagHcrc)
        p += 2;
    if (p > m_length || m_length - p < 8)
        return fail(ARC_GZ_TOOSHORT);

    unsigned char trailer[8];
    if (!m_source(m_ctx, m_length - 8, trailer, 8))
        return fail(ARC_GZ_INTERNAL);
    m_storedCrc = le32(trailer);
    m_storedLen = le32(trailer + 4);
    const uint64_t packedLen = m_length - 8 - p;
    if (uint64_t(m_storedLen) > packedLen * kMaxInflateRatio + 64)
        return fail(ARC_GZ_ZLIB);

    if (inflateInit2(&d.zs, -MAX_WBITS) != Z_OK)
        return fail(ARC_GZ_ZLIB);
    d.zInit = true;
    d.zs.avail_in = 0;
    d.inLen = 0;
    m_dataPos = p;
    m_dataEnd = m_length - 8;
    m_crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    m_status = status;
    return status;
}

int64_t ArcGzipReader::read(unsigned char* out, size_t size)
{
    if (!m_begun && begin(nullptr) < 0)
        return -1;
    if (m_status < 0)
        return -1;
    if (m_finished || size == 0)
        return 0;
    Impl& d = *m_impl;
    z_stream& zs = d.zs;
    const uInt room = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    zs.next_out = out;
    zs.avail_out = room;
    bool ended = false;
    while (zs.avail_out > 0) {
        if (zs.avail_in == 0 && m_dataPos < m_dataEnd) {
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(kInChunk, m_dataEnd - m_dataPos));
            if (!fill(m_dataPos, n))
                return fail(ARC_GZ_INTERNAL), -1;
            m_dataPos += n;
            zs.next_in = d.in.data();
            zs.avail_in = static_cast<uInt>(n);
        }
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            ended = true;
            break;
        }
        // Z_BUF_ERROR here means that all input is used up before the stream's end.
        if (rc != Z_OK)
            return fail(ARC_GZ_ZLIB), -1;
    }
    const uInt produced = room - zs.avail_out;
    m_crc = static_cast<uint32_t>(crc32(m_crc, out, produced));
    m_produced += produced;
    if (ended) {
        inflateEnd(&zs);
        d.zInit = false;
        // RFC 1952 keeps the length modulo 2^32, so members beyond 4 GiB stream too.
        if ((m_produced & 0xFFFFFFFFu) != m_storedLen)
            return fail(ARC_GZ_ZLIB), -1;
        if (m_crc != m_storedCrc)
            return fail(ARC_GZ_DATACRC), -1;
        m_finished = true;
    }
    return static_cast<int64_t>(produced);
}

// --- Memory cap ---

namespace {

int64_t g_memoryCap = ARC_DEFAULT_MEMORY_CAP;

struct MemorySource
{
    const unsigned char* data;
    unsigned char key;
};

bool readMemory(void* ctx, uint64_t pos, unsigned char* out, size_t size)
{
    const auto* m = static_cast<const MemorySource*>(ctx);
    std::memcpy(out, m->data + pos, size);
    if (m->key != 0)
        for (size_t i = 0; i < size; ++i)
            out[i] ^= m->key;
    return true;
}

// One member held in memory, every byte XORed with `key`. The output is allocated
// once at the trailer's length (at most the cap) and the inflater never writes
// past it: a member that holds more fails as soon as one byte more comes out.
int decodeMember(const unsigned char* data, size_t length, unsigned char key,
                 std::vector<unsigned char>& out, uint32_t* mtime)
{
    out.clear();
    if (!data || length < 10)
        return ARC_GZ_TOOSHORT;
    MemorySource source{data, key};
    ArcGzipReader reader(readMemory, &source, length);
    const int status = reader.begin(mtime);
    if (status < 0)
        return status;
    const uint32_t want = reader.trailerLength();
    if (int64_t(want) > g_memoryCap)
        return ARC_GZ_TOOLARGE;
    try {
        out.resize(want);
    } catch (const std::bad_alloc&) {
        return ARC_GZ_INTERNAL;
    }
    size_t filled = 0;
    while (!reader.finished()) {
        unsigned char spare = 0;
        const bool full = filled == want;
        const int64_t n =
            full ? reader.read(&spare, 1) : reader.read(out.data() + filled, want - filled);
        if (n < 0 || (full && n > 0)) { // more data than the trailer claims
            out.clear();
            return n < 0 ? reader.status() : ARC_GZ_ZLIB;
        }
        filled += static_cast<size_t>(n);
    }
    return status;
}

} // namespace

int64_t arc_memory_cap()
{
    return g_memoryCap;
}

int64_t arc_set_memory_cap(int64_t cap)
{
    const int64_t old = g_memoryCap;
    g_memoryCap = cap < 1 ? ARC_DEFAULT_MEMORY_CAP : cap;
    return old;
}

int arc_gzip_decode(const unsigned char* data, size_t length, std::vector<unsigned char>& out,
                    uint32_t* mtime)
{
    return decodeMember(data, length, 0, out, mtime);
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
    return decodeMember(data + 1, length - 1, data[0] ^ ARC_KEY_XOR, out, mtime);
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

int arc_pack_stream(const std::function<int64_t(unsigned char*, size_t)>& pull, uint32_t mtime,
                    const std::function<bool(const unsigned char*, size_t)>& put, int key)
{
    constexpr size_t kBlock = 256 * 1024;
    const unsigned char k =
        static_cast<unsigned char>(key < 0 ? static_cast<unsigned long>(clock()) & 0xFF : key);
    std::vector<unsigned char> in(kBlock), out;
    out.reserve(kBlock + 16);
    const auto emit = [&](std::vector<unsigned char>& bytes) {
        for (unsigned char& b : bytes)
            b ^= k;
        const bool ok = put(bytes.data(), bytes.size());
        bytes.clear();
        return ok;
    };
    const unsigned char keyByte = k ^ ARC_KEY_XOR;
    if (!put(&keyByte, 1))
        return ARC_GZ_INTERNAL;
    out.insert(out.end(), {kGzId1, kGzId2, kGzDeflate, 0});
    putLe32(out, mtime);
    out.insert(out.end(), {0, kOsByte});

    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return ARC_GZ_ZLIB;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t length = 0;
    bool atEnd = false;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (zs.avail_in == 0 && !atEnd) {
            const int64_t n = pull(in.data(), in.size());
            if (n < 0) {
                deflateEnd(&zs);
                return ARC_GZ_INTERNAL;
            }
            atEnd = n == 0;
            zs.next_in = in.data();
            zs.avail_in = static_cast<uInt>(n);
            crc = crc32(crc, in.data(), static_cast<uInt>(n));
            length += static_cast<uint64_t>(n);
        }
        const size_t before = out.size();
        out.resize(before + kBlock);
        zs.next_out = out.data() + before;
        zs.avail_out = static_cast<uInt>(kBlock);
        rc = deflate(&zs, atEnd ? Z_FINISH : Z_NO_FLUSH);
        out.resize(before + kBlock - zs.avail_out);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            deflateEnd(&zs);
            return ARC_GZ_ZLIB;
        }
        if (out.size() >= kBlock && !emit(out)) {
            deflateEnd(&zs);
            return ARC_GZ_INTERNAL;
        }
    }
    deflateEnd(&zs);
    putLe32(out, static_cast<uint32_t>(crc));
    putLe32(out, static_cast<uint32_t>(length));
    return emit(out) ? ARC_GZ_OK : ARC_GZ_INTERNAL;
}
