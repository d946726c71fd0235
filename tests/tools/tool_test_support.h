#pragma once

// Temporary folders, files and child processes for the tests of pak and minizip.

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;

// The tools under test: the built ones, or copies named by CORVANE_PAK_BIN and
// CORVANE_MINIZIP_BIN.
std::string pakBin();
std::string minizipBin();

// A new empty folder, removed with everything in it when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path path;
};

struct Result {
    int code = -1; // exit code, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` in `folder` and waits for it, capturing its output. `setup` runs
// in the child just before the program starts (limits, environment).
Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
           const std::function<void()>& setup = {});
// Starts `program` in `folder` with its output discarded; returns its process id.
pid_t start(const std::string& program, const std::vector<std::string>& args,
            const fs::path& folder);
// Kills `pid` with SIGKILL after `micros` microseconds unless it ended before; true when it
// was killed.
bool killAfter(pid_t pid, long micros);

void writeFile(const fs::path& path, const std::string& contents);
std::string readFile(const fs::path& path);
// Partly repetitive, partly random bytes, like game data.
std::string gameLikeBytes(std::size_t size, unsigned seed);
// Every path below `root`, relative and sorted, folders and links included.
std::vector<std::string> tree(const fs::path& root);

} // namespace tooltest
