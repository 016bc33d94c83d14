// Update files come from any web server: the parser must take every body.
#include "updatecheck.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<UpdateCheck::UpdateFile> file = UpdateCheck::ParseUpdateFile(body);
    if (file) {
        const double version = UpdateCheck::ProgramVersion(*file);
        // Anything that is not a finite, non-negative number must read as "no version".
        if (!std::isfinite(version) || version < 0)
            std::abort();
        if (file->file && file->file->contains(QLatin1Char('\n')))
            std::abort();
    }
    // Whatever the address, the saved name stays a bare file name.
    const QString name = UpdateCheck::DownloadFileName(QString::fromUtf8(body));
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name == QLatin1String("..") || name == QLatin1String("."))
        std::abort();
    return 0;
}
