// pak: extracts, lists and creates Quake 2 pack files.

#include "pak/tool.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // Past a file size limit, writing fails with EFBIG and is reported instead of killing us.
    (void)std::signal(SIGXFSZ, SIG_IGN); // fails only for a signal that does not exist
    const char* mode = argc > 1 ? argv[1] : "";
    if (argc >= 5 && std::strcmp(mode, "-x") == 0 && std::strcmp(argv[2], "--fd") == 0) {
        char* end = nullptr;
        const long fd = std::strtol(argv[3], &end, 10);
        if (*argv[3] != '\0' && *end == '\0' && fd >= 0 && fd < 65536)
            return pak::extract(argv[4], std::vector<std::string>(argv + 5, argv + argc), ".",
                                int(fd));
    } else if (argc >= 3 && std::strcmp(mode, "-x") == 0) {
        return pak::extract(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    }
    if (argc == 3 && std::strcmp(mode, "-l") == 0)
        return pak::list(argv[2]);
    if (argc == 4 && std::strcmp(mode, "-c") == 0)
        return pak::create(argv[2], argv[3]);
    (void)std::fputs(
        "usage: pak -x ARCHIVE [MEMBER ...]   extract into the current folder\n"
        "       pak -x --fd N NAME [MEMBER ...]\n"
        "                                     the same from the pack open as descriptor N\n"
        "       pak -l ARCHIVE                list members and sizes\n"
        "       pak -c ARCHIVE FOLDER         create a pack from a folder tree\n",
        stderr);
    return pak::kExitRefused;
}
