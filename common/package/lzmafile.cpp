#include "lzmafile.h"

#include "uiseams.h"

#include <QFile>
#include <QSaveFile>

#include <lzma.h>

#include <array>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <cstdlib>

namespace {

constexpr uint32_t kDictionary = 2u << 20;

// The encoder's match finder jumps about tables of several MiB: on 2 MiB pages
// it misses the address cache far less, about a sixth less time for the same
// bytes. The kernel gives them only to memory that asks.
void* encoderAlloc(void*, size_t count, size_t size)
{
    const size_t bytes = count * size;
    constexpr size_t kHuge = size_t(2) << 20;
    if (bytes < kHuge)
        return std::malloc(bytes);
    void* p = nullptr;
    if (posix_memalign(&p, kHuge, bytes) != 0)
        return nullptr;
#ifdef __linux__
    madvise(p, bytes, MADV_HUGEPAGE); // only advice: without it the pages stay small
#endif
    return p;
}

void encoderFree(void*, void* p)
{
    std::free(p);
}

const lzma_allocator kEncoderAllocator = {encoderAlloc, encoderFree, nullptr};
constexpr qint64 kBlock = 1 << 20;
constexpr uint64_t kMemLimit = 1ull << 30;

// Runs one coder from source to target; `first` holds input bytes already taken
// from the source (the header) that the coder still has to see.
bool runCoder(lzma_stream& zs, QFile& in, QSaveFile& out, qint64 total, ProgressSink* progress,
              const std::vector<uint8_t>& first = {})
{
    std::vector<uint8_t> inBuf(kBlock), outBuf(kBlock);
    size_t firstLeft = first.size();
    bool inputEnded = false;
    qint64 done = 0;
    for (;;) {
        lzma_action action = LZMA_RUN;
        if (zs.avail_in == 0 && !inputEnded) {
            if (firstLeft > 0) {
                std::copy(first.begin(), first.end(), inBuf.begin());
                zs.avail_in = firstLeft;
                firstLeft = 0;
            } else {
                const qint64 n = in.read(reinterpret_cast<char*>(inBuf.data()), kBlock);
                if (n < 0)
                    return false;
                zs.avail_in = static_cast<size_t>(n);
                inputEnded = n == 0;
            }
            zs.next_in = inBuf.data();
        }
        if (inputEnded)
            action = LZMA_FINISH;
        zs.next_out = outBuf.data();
        zs.avail_out = outBuf.size();
        const lzma_ret rc = lzma_code(&zs, action);
        const size_t produced = outBuf.size() - zs.avail_out;
        if (produced > 0 &&
            out.write(reinterpret_cast<const char*>(outBuf.data()),
                      static_cast<qint64>(produced)) != static_cast<qint64>(produced))
            return false;
        done += static_cast<qint64>(produced);
        if (progress && total > 0)
            progress->setDone(qMin(done, total));
        if (rc == LZMA_STREAM_END)
            return true;
        if (rc != LZMA_OK)
            return false;
        // Input exhausted and no further output: the stream was cut short.
        if (inputEnded && produced == 0 && zs.avail_in == 0)
            return false;
    }
}

bool encoderOptions(lzma_options_lzma& opt, LzmaMode mode, quint64 size)
{
    if (lzma_lzma_preset(&opt, 6))
        return false;
    // The header's properties byte (0x5D) and 2 MiB dictionary hold for both modes.
    opt.dict_size = kDictionary;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    if (mode == LzmaMode::Fast) {
        // Most of a package is packed models, which hardly compress: the cost is
        // coding literals, and a search in a 2 MiB window mostly misses the cache
        // for nothing. A 64 KiB window is four times quicker on them at the same
        // size, and a short hash chain still finds the matches of plain files.
        // The header keeps 2 MiB: a decoder's window may be larger than the
        // encoder's.
        opt.dict_size = 64u << 10;
        opt.mode = LZMA_MODE_FAST;
        opt.nice_len = 64;
        opt.mf = LZMA_MF_HC4;
        opt.depth = 4;
    } else {
        opt.mode = LZMA_MODE_NORMAL;
        opt.nice_len = 128;
        opt.mf = LZMA_MF_BT4;
        opt.depth = 0;
    }
    opt.ext_flags = 0; // no end marker: the header carries the real size
    opt.ext_size_low = static_cast<uint32_t>(size);
    opt.ext_size_high = static_cast<uint32_t>(size >> 32);
    return true;
}

std::array<uint8_t, 13> containerHeader(quint64 size)
{
    std::array<uint8_t, 13> header{0x5D};
    for (int i = 0; i < 4; ++i)
        header[1 + i] = static_cast<uint8_t>(kDictionary >> (8 * i));
    for (int i = 0; i < 8; ++i)
        header[5 + i] = static_cast<uint8_t>(size >> (8 * i));
    return header;
}

} // namespace

bool CompressFile(const QString& source, const QString& target, ProgressSink* progress,
                  LzmaMode mode)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const quint64 size = static_cast<quint64>(in.size());

    lzma_options_lzma opt;
    if (!encoderOptions(opt, mode, size))
        return false;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};

    lzma_stream zs = LZMA_STREAM_INIT;
    zs.allocator = &kEncoderAllocator;
    if (lzma_raw_encoder(&zs, filters) != LZMA_OK)
        return false;

    QSaveFile out(target);
    bool ok = out.open(QIODevice::WriteOnly);
    if (ok) {
        const auto header = containerHeader(size);
        ok = out.write(reinterpret_cast<const char*>(header.data()), 13) == 13;
    }
    if (progress)
        progress->setTotal(static_cast<qint64>(size));
    // Progress of an encoder is its input, not its output.
    ok = ok && runCoder(zs, in, out, 0, nullptr);
    if (progress)
        progress->setDone(static_cast<qint64>(size));
    lzma_end(&zs);
    ok = ok && static_cast<quint64>(in.pos()) == size;
    return ok && out.commit();
}

bool DecompressFile(const QString& source, const QString& target, ProgressSink* progress)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    std::vector<uint8_t> header(13);
    if (in.read(reinterpret_cast<char*>(header.data()), 13) != 13)
        return false;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i)
        size = size << 8 | header[5 + i];

    // The standard decoder reads the header itself, accepts both a stated size and
    // the unknown size with an end marker, and stops at the stated size.
    lzma_stream zs = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&zs, kMemLimit) != LZMA_OK)
        return false;
    QSaveFile out(target);
    bool ok = out.open(QIODevice::WriteOnly);
    const qint64 total = size == UINT64_MAX ? 0 : static_cast<qint64>(size);
    if (progress)
        progress->setTotal(total);
    ok = ok && runCoder(zs, in, out, total, progress, header);
    lzma_end(&zs);
    return ok && out.commit();
}

struct LzmaReadDevice::Coder
{
    lzma_stream zs = LZMA_STREAM_INIT;
    std::vector<uint8_t> in = std::vector<uint8_t>(kBlock);
    bool inputEnded = false;
    ~Coder() { lzma_end(&zs); }
};

LzmaReadDevice::LzmaReadDevice(QFile& source) : m_src(source) {}

LzmaReadDevice::~LzmaReadDevice() = default;

bool LzmaReadDevice::open(OpenMode mode)
{
    if ((mode & WriteOnly) || !m_src.isOpen())
        return false;
    m_coder = std::make_unique<Coder>();
    const qint64 start = m_src.pos();
    uint8_t header[13];
    if (m_src.read(reinterpret_cast<char*>(header), 13) != 13 || !m_src.seek(start))
        return false;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i)
        size = size << 8 | header[5 + i];
    m_stated = size == UINT64_MAX || size > uint64_t(INT64_MAX) ? -1 : static_cast<qint64>(size);
    if (lzma_alone_decoder(&m_coder->zs, kMemLimit) != LZMA_OK)
        return false;
    m_decoded = 0;
    m_ended = m_failed = false;
    return QIODevice::open(ReadOnly); // buffered: the reader takes lines
}

void LzmaReadDevice::close()
{
    QIODevice::close();
    m_coder.reset();
}

qint64 LzmaReadDevice::bytesAvailable() const
{
    // An unknown-size stream claims a little more until it has ended.
    const qint64 left = m_ended || m_failed ? 0 : m_stated >= 0 ? m_stated - m_decoded : qint64(1) << 40;
    return left + QIODevice::bytesAvailable();
}

qint64 LzmaReadDevice::readData(char* data, qint64 max)
{
    if (m_failed)
        return -1;
    if (m_ended || max <= 0)
        return 0;
    lzma_stream& zs = m_coder->zs;
    zs.next_out = reinterpret_cast<uint8_t*>(data);
    zs.avail_out = static_cast<size_t>(max);
    while (zs.avail_out > 0) {
        if (zs.avail_in == 0 && !m_coder->inputEnded) {
            const qint64 n = m_src.read(reinterpret_cast<char*>(m_coder->in.data()), kBlock);
            if (n < 0) {
                m_failed = true;
                return -1;
            }
            zs.next_in = m_coder->in.data();
            zs.avail_in = static_cast<size_t>(n);
            m_coder->inputEnded = n == 0;
        }
        const size_t before = zs.avail_out;
        const lzma_ret rc = lzma_code(&zs, m_coder->inputEnded ? LZMA_FINISH : LZMA_RUN);
        if (rc == LZMA_STREAM_END) {
            m_ended = true;
            break;
        }
        // Input exhausted without the end: the stream was cut short.
        if (rc != LZMA_OK || (m_coder->inputEnded && zs.avail_out == before && zs.avail_in == 0)) {
            m_failed = true;
            break;
        }
    }
    const qint64 produced = max - static_cast<qint64>(zs.avail_out);
    m_decoded += produced;
    if (produced == 0 && m_failed)
        return -1;
    return produced;
}

struct LzmaFileWriter::State
{
    QSaveFile out;
    LzmaMode mode;
    lzma_stream zs = LZMA_STREAM_INIT;
    bool started = false;
    bool failed = false;
    quint64 size = 0;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kBlock);

    explicit State(const QString& target, LzmaMode m) : out(target), mode(m) {}
    ~State()
    {
        if (started)
            lzma_end(&zs);
    }

    // Feeds the input to the encoder and writes what it gives back.
    bool code(const uint8_t* data, size_t size, lzma_action action)
    {
        zs.next_in = data;
        zs.avail_in = size;
        for (;;) {
            zs.next_out = buffer.data();
            zs.avail_out = buffer.size();
            const lzma_ret rc = lzma_code(&zs, action);
            const qint64 produced = static_cast<qint64>(buffer.size() - zs.avail_out);
            if (produced > 0 &&
                out.write(reinterpret_cast<const char*>(buffer.data()), produced) != produced)
                return false;
            if (rc == LZMA_STREAM_END)
                return true;
            if (rc != LZMA_OK)
                return false;
            if (action == LZMA_RUN && zs.avail_in == 0)
                return true;
        }
    }
};

LzmaFileWriter::LzmaFileWriter(const QString& target, LzmaMode mode)
    : m_state(std::make_unique<State>(target, mode))
{
}

LzmaFileWriter::~LzmaFileWriter()
{
    // Unfinished: QSaveFile drops its temporary file without touching the target.
    if (m_state->out.isOpen())
        m_state->out.cancelWriting();
}

bool LzmaFileWriter::open()
{
    State& s = *m_state;
    lzma_options_lzma opt;
    // The encoder ignores the size; the header gets it at the end.
    if (!encoderOptions(opt, s.mode, UINT64_MAX))
        return false;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    s.zs.allocator = &kEncoderAllocator;
    if (lzma_raw_encoder(&s.zs, filters) != LZMA_OK)
        return false;
    s.started = true;
    if (!s.out.open(QIODevice::WriteOnly))
        return false;
    const auto header = containerHeader(0);
    if (s.out.write(reinterpret_cast<const char*>(header.data()), 13) != 13)
        return false;
    return QIODevice::open(QIODevice::WriteOnly);
}

qint64 LzmaFileWriter::writeData(const char* data, qint64 size)
{
    State& s = *m_state;
    if (s.failed || !s.code(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size), LZMA_RUN)) {
        s.failed = true;
        return -1;
    }
    s.size += static_cast<quint64>(size);
    return size;
}

bool LzmaFileWriter::finish()
{
    State& s = *m_state;
    if (!isOpen() || s.failed || !s.code(nullptr, 0, LZMA_FINISH)) {
        s.failed = true;
        return false;
    }
    const auto header = containerHeader(s.size);
    const bool ok = s.out.seek(5) && s.out.write(reinterpret_cast<const char*>(header.data()) + 5, 8) == 8 &&
                    s.out.commit();
    QIODevice::close();
    s.failed = !ok;
    return ok;
}
