// The registry files of a Wine prefix and Steam's key/value files, both read from
// places the user does not control. A registry file that reads must still read
// after the installer sets its value, and give that value back.
#include "gamediscovery.h"
#include "winereg.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_winereg: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    VdfNode root;
    QString error;
    ParseVdf(text, &root, &error);

    WineRegFile file;
    if (!file.parse(text, &error))
        return 0;
    const QString key = QStringLiteral("Software\\Wow6432Node\\SKYWARD\\Vega");
    const QString value = QStringLiteral("Hull\"wr\\ight \u00e9\n\x01") + QChar(0x263a) + QStringLiteral("7");
    file.setString(key, QStringLiteral("ModName"), value, 1750000000);
    WineRegFile again;
    require(again.parse(file.text(), &error), "a set value leaves a file that does not read");
    require(again.readString(key, QStringLiteral("modname")) == value, "the set value reads back otherwise");
    return 0;
}
