// Packed-form and gzip reader. Whatever unpacks must pack again and come back
// identical, with its modification time; the streamed reader of a loose packed
// file must agree with the whole-buffer one.
#include "arc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_unpack: %s\n", what);
        std::abort();
    }
}

int collect(void* ctx, const unsigned char* data, size_t size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(ctx);
    out->insert(out->end(), data, data + size);
    return 0;
}

// The input as a loose file, streamed as packed.
int streamed(const uint8_t* data, size_t size, std::vector<unsigned char>& out)
{
    static const std::string path = "/tmp/fuzz_unpack_" + std::to_string(::getpid()) + ".pck";
    FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr, "cannot write the stream input");
    require(size == 0 || std::fwrite(data, 1, size, f) == size, "cannot write the stream input");
    std::fclose(f);
    out.clear();
    const int code = arc_stream(path.c_str(), ARC_TYPE_PACKED, collect, &out);
    ::unlink(path.c_str());
    return code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> out;
    uint32_t mtime = 0;
    const int status = arc_unpack(data, size, out, &mtime);
    // An empty file streams as an empty packed file; the buffer reader wants bytes.
    if (size > 0 && status != ARC_GZ_TOOLARGE) {
        std::vector<unsigned char> viaStream;
        const int code = streamed(data, size, viaStream);
        require(code == arc_codec_error(status), "stream and buffer reader disagree on the code");
        if (code == ARC_OK || code == ARC_E_GZ_RESERVED)
            require(viaStream == out, "stream and buffer reader disagree on the data");
    }
    if (status == ARC_GZ_OK || status == ARC_GZ_RESERVED) {
        require(arc_is_packed(data, size), "unpacked a buffer that is not recognised as packed");
        std::vector<unsigned char> packed;
        require(arc_pack(out.data(), out.size(), mtime, packed, data[0] ^ ARC_KEY_XOR) == ARC_GZ_OK,
                "re-pack failed");
        require(packed[0] == data[0], "re-pack did not keep the key byte");
        std::vector<unsigned char> again;
        uint32_t againTime = 0;
        require(arc_unpack(packed.data(), packed.size(), again, &againTime) == ARC_GZ_OK,
                "re-packed data does not unpack");
        require(again == out && againTime == mtime, "round trip changed the data or the time");
    } else {
        require(out.empty(), "failed unpack left data behind");
        require(arc_codec_error(status) != ARC_OK, "failure status maps to no error");
    }

    // The bare gzip layer, on the raw input.
    const int gzStatus = arc_gzip_decode(data, size, out, &mtime);
    if (gzStatus == ARC_GZ_OK || gzStatus == ARC_GZ_RESERVED) {
        std::vector<unsigned char> member;
        require(arc_gzip_encode(out.data(), out.size(), mtime, member, "n", "c") == ARC_GZ_OK,
                "gzip encode failed");
        std::vector<unsigned char> again;
        uint32_t againTime = 0;
        require(arc_gzip_decode(member.data(), member.size(), again, &againTime) == ARC_GZ_OK,
                "encoded member does not decode");
        require(again == out && againTime == mtime, "gzip round trip changed the data");
    }
    return 0;
}
