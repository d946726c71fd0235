// pak: extracts, lists and creates Quake 2 pack files.

#include "pak/tool.h"

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Past a file size limit, writing fails with EFBIG and is reported instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    const char* mode = argc > 1 ? argv[1] : "";
    if (argc >= 3 && std::strcmp(mode, "-x") == 0)
        return pak::extract(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    if (argc == 3 && std::strcmp(mode, "-l") == 0)
        return pak::list(argv[2]);
    if (argc == 4 && std::strcmp(mode, "-c") == 0)
        return pak::create(argv[2], argv[3]);
    std::fputs("usage: pak -x ARCHIVE [MEMBER ...]   extract into the current folder\n"
               "       pak -l ARCHIVE                list members and sizes\n"
               "       pak -c ARCHIVE FOLDER         create a pack from a folder tree\n",
               stderr);
    return pak::kExitRefused;
}
