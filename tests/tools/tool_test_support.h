#pragma once

// Temporary folders, files and child processes for the tests of pak and minizip.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;

// The program named by the environment variable `variable` (a copy of a tool under test), else
// `built`.
std::string toolBin(const char* variable, const char* built);

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
// Runs `program` in `folder` and kills it after `micros` microseconds unless it ended before.
void killAfter(const std::string& program, const std::vector<std::string>& args,
               const fs::path& folder, long micros);

void writeFile(const fs::path& path, const std::string& contents);
std::string readFile(const fs::path& path);
// Partly repetitive, partly random bytes, like game data; only random ones with `repeats` false.
std::string gameLikeBytes(std::size_t size, unsigned seed, bool repeats = true);
// Every path below `root`, relative and sorted, folders and links included.
std::vector<std::string> tree(const fs::path& root);

} // namespace tooltest
