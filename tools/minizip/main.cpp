// minizip: adds files to a zip archive (a Quake 3 pk3), replacing entries of the same name.

#include "minizip/zip_append.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // Past a file size limit, writing fails with EFBIG and is reported instead of killing us.
    (void)std::signal(SIGXFSZ, SIG_IGN); // fails only for a signal that does not exist
    // The time zone glibc uses anyway, named: unnamed, it checks the file again on each of
    // libzip's time conversions, one per entry.
    // Fails only out of memory, which costs time alone.
    (void)::setenv("TZ", ":/etc/localtime", 0);
    if (argc < 3 || std::strcmp(argv[1], "-a") != 0) {
        (void)std::fputs("usage: minizip -a ARCHIVE [FILE ...]\n", stderr); // lost if it fails
        return minizip::kExitRefused;
    }
    return minizip::addFiles(argv[2], std::vector<std::string>(argv + 3, argv + argc));
}
