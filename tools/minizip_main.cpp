// minizip: adds files to a zip archive (a Quake 3 pk3), replacing entries of the same name.

#include "zip_append.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <malloc.h>

int main(int argc, char** argv) {
    // Past a file size limit, writing fails with EFBIG and is reported instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    // Large buffers go back to the system when freed, so memory use stays that of one part.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    if (argc < 3 || std::strcmp(argv[1], "-a") != 0) {
        std::fputs("usage: minizip -a ARCHIVE [FILE ...]\n", stderr);
        return minizip::exitRefused;
    }
    return minizip::addFiles(argv[2], std::vector<std::string>(argv + 3, argv + argc));
}
