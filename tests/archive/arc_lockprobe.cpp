// Second process for tst_arclock: opens a catalogue or a file the way another
// program would while the test holds it, and reports the library's answer.
//
//   arc_lockprobe PATH cat     arc_open_catalog(PATH, create 0)
//   arc_lockprobe PATH 0|1     arc_open(PATH, mode, create 0, automatic type)
//
// Prints the error code (0 when the open succeeded) and exits with it.
#include "arc.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PATH cat|0|1\n", argv[0]);
        return 100;
    }
    int code = 0;
    if (std::strcmp(argv[2], "cat") == 0) {
        ArcCatalogHandle* h = arc_open_catalog(argv[1], 0);
        code = h ? 0 : arc_last_error();
        if (h)
            arc_close_catalog(h);
    } else {
        const int mode = std::strcmp(argv[2], "1") == 0 ? ARC_MODE_WRITE : ARC_MODE_READ;
        ArcFileHandle* h = arc_open(argv[1], mode, 0, ARC_TYPE_AUTO);
        code = h ? 0 : arc_last_error();
        if (h)
            arc_close(h);
    }
    std::printf("%d\n", code);
    return code;
}
