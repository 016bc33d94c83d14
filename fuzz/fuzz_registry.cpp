// Installed-ships registry text: any input must parse, and what the writer makes
// of it must read back whole to the same registry (written again, the bytes agree).
#include "registry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_registry: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ShipRegistry first;
    ParseRegistryText(input, first);
    for (const ShipPackage& ship : first.Ships)
        require(ship.Deleted != 0 || ship.Changed, "a ship block read without its changed flag");

    const QByteArray written = RegistryText(first);
    ShipRegistry second;
    // Whatever the writer makes must never read as damaged: users' files would be refused.
    require(!ParseRegistryText(written, second).broken(), "a written registry reads as broken");
    require(second.Ships.size() == first.Ships.size(),
            "a written registry reads back another count");
    for (qsizetype i = 0; i < first.Ships.size(); ++i)
        require(second.Ships[i].Deleted == first.Ships[i].Deleted,
                "a placeholder changed on the way through the file");
    require(RegistryText(second) == written, "writing a read registry changed its bytes");
    return 0;
}
