// Internal to the archive library: the one gzip member reader behind the
// whole-buffer decoder (arc_gzip_decode, arc_unpack) and the streams (arc_stream_*).
// Not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Reads one gzip member of known length from a random-access source, in pieces:
// the header and the trailer first, then the deflate data inflated into whatever
// buffer the caller gives, with bounded buffers of its own (one input chunk and
// zlib's state). The statuses and their order are those of the whole-buffer
// decoder: header problems, then a trailer length that deflate cannot produce from
// the input (ARC_GZ_ZLIB), then at the end of the deflate stream the output length
// (modulo 2^32, as RFC 1952 stores it; ARC_GZ_ZLIB) and its CRC-32 (ARC_GZ_DATACRC).
class ArcGzipReader
{
public:
    // Copies `size` member bytes from member offset `pos` into `out`; false on
    // failure (the reader then fails with ARC_GZ_INTERNAL; the source keeps the why).
    using Source = bool (*)(void* ctx, uint64_t pos, unsigned char* out, size_t size);

    ArcGzipReader(Source source, void* ctx, uint64_t length);
    ~ArcGzipReader();
    ArcGzipReader(const ArcGzipReader&) = delete;
    ArcGzipReader& operator=(const ArcGzipReader&) = delete;

    // Reads the header and the trailer and sets up the inflater. Returns
    // ARC_GZ_OK, ARC_GZ_RESERVED (reserved flag bits: the data still comes) or a
    // failure status. mtime, when given, receives the header's time (also on some
    // failures, as the whole-buffer decoder does).
    int begin(uint32_t* mtime);
    // The length the trailer claims (the output length modulo 2^32).
    uint32_t trailerLength() const { return m_storedLen; }
    // Inflates up to `size` bytes into `out`. Returns the bytes produced, 0 once the
    // end is reached and verified (or for size 0), -1 on failure (final; status()
    // tells why).
    int64_t read(unsigned char* out, size_t size);
    bool finished() const { return m_finished; }
    int status() const { return m_status; }
    uint64_t produced() const { return m_produced; }

private:
    int fail(int status);
    bool fill(uint64_t from, size_t size);

    Source m_source;
    void* m_ctx;
    uint64_t m_length;
    uint64_t m_dataPos = 0; // next deflate byte to feed
    uint64_t m_dataEnd = 0; // first trailer byte
    uint32_t m_storedCrc = 0;
    uint32_t m_storedLen = 0;
    uint32_t m_crc = 0;
    uint64_t m_produced = 0;
    int m_status = 0;
    bool m_begun = false;
    bool m_finished = false;
    struct Impl;
    std::unique_ptr<Impl> m_impl; // zlib stream and the input chunk
};

// Packs what `pull` yields (bytes into its buffer; 0 at the end, negative on
// failure) into the packed form arc_pack makes (a key byte, then a gzip member
// scrambled with the key), handing the result to `put` in pieces. Memory stays at
// one input and one output block plus zlib's state, whatever the length. Returns
// ARC_GZ_OK, ARC_GZ_ZLIB, or ARC_GZ_INTERNAL when pull or put failed.
int arc_pack_stream(const std::function<int64_t(unsigned char*, size_t)>& pull, uint32_t mtime,
                    const std::function<bool(const unsigned char*, size_t)>& put, int key = -1);
