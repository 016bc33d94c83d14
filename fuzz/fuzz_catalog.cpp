// Catalogue text, parsed directly and through a real catalogue file: the input is
// written as a scrambled .cat beside an empty .dat, opened, searched and its
// entries opened. The parser and the catalogue open must agree.
#include "arc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_catalog: %s\n", what);
        std::abort();
    }
}

// One folder for the whole run: a fresh one per input would cost more than the
// input. Plain arrays, so that the exit handler still finds them.
char g_dir[] = "/tmp/fuzz_catalog-XXXXXX";
char g_cat[sizeof g_dir + 8];
char g_dat[sizeof g_dir + 8];

void removeWorkDir()
{
    ::unlink(g_cat);
    ::unlink(g_dat);
    ::rmdir(g_dir);
}

void makeWorkDir()
{
    static bool made = false;
    if (made)
        return;
    require(mkdtemp(g_dir) != nullptr, "cannot create a temporary folder");
    std::snprintf(g_cat, sizeof g_cat, "%s/f.cat", g_dir);
    std::snprintf(g_dat, sizeof g_dat, "%s/f.dat", g_dir);
    std::atexit(removeWorkDir);
    made = true;
}

void writeAll(const char* path, const unsigned char* data, size_t size)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0, "cannot write the work files");
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        require(n > 0, "cannot write the work files");
        data += n;
        size -= size_t(n);
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string datLine;
    std::vector<ArcCatalogLine> entries;
    const int parsed =
        arc_parse_catalog_text(reinterpret_cast<const char*>(data), size, datLine, entries);
    if (parsed == ARC_OK) {
        for (const ArcCatalogLine& e : entries) {
            require(e.size >= 0, "negative entry size");
            require(e.name.find('/') == std::string::npos, "forward slash left in a name");
        }
    }

    makeWorkDir();
    const std::string cat = g_cat;
    std::vector<unsigned char> scrambled(data, data + size);
    arc_scramble_catalog(scrambled.data(), scrambled.size());
    writeAll(g_cat, scrambled.data(), scrambled.size());
    writeAll(g_dat, nullptr, 0);

    ArcCatalogHandle* h = arc_open_catalog(cat.c_str(), 0);
    require((h != nullptr) == (parsed == ARC_OK), "parser and catalogue open disagree");
    if (!h) {
        require(arc_last_error() == parsed, "catalogue open reports another code than the parser");
        return 0;
    }

    // The pattern comes from the data-file line, which the library never uses.
    const std::string pattern = datLine.substr(0, 8);
    for (const char* p : {"*", pattern.c_str()}) {
        ArcFindRecord rec;
        ArcSearchHandle* s = arc_find_first(h, p, &rec);
        int found = 0;
        if (s) {
            do
                ++found;
            while (found < 64 && arc_find_next(s, &rec));
            require(arc_find_close(s), "search close failed");
        }
        if (p[0] == '*' && p[1] == '\0')
            require(found == int(std::min<size_t>(entries.size(), 64)), "'*' missed entries");
    }

    // The data file is empty: only empty entries can open. Lookups are
    // case-insensitive (ASCII) and the first match wins.
    const auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return s;
    };
    for (size_t i = 0; i < entries.size() && i < 8; ++i) {
        const std::string path = cat + "::" + entries[i].name;
        ArcFileHandle* f = arc_open(path.c_str(), ARC_MODE_READ, 0, ARC_TYPE_AUTO);
        size_t first = 0;
        while (lower(entries[first].name) != lower(entries[i].name))
            ++first;
        if (entries[first].size > 0 && entries[i].name.find('\0') == std::string::npos)
            require(f == nullptr, "an entry beyond the empty data file opened");
        if (f) {
            unsigned char buffer[16];
            require(arc_read(f, buffer, sizeof buffer) >= 0, "read of an opened entry failed");
            arc_close(f);
        }
    }
    require(arc_close_catalog(h), "catalogue close failed");
    return 0;
}
