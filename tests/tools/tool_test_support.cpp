#include "tool_test_support.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {

std::string pakBin() {
    const char* given = std::getenv("CORVANE_PAK_BIN");
    return given ? given : PAK_BIN;
}

std::string minizipBin() {
    const char* given = std::getenv("CORVANE_MINIZIP_BIN");
    return given ? given : MINIZIP_BIN;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-tools-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

namespace {

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const fs::path& folder, const std::string& outFile, const std::string& errFile,
            const std::function<void()>& setup = {}) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        // A sanitizer report must not pass for the tools' own exit code 1.
        ::setenv("ASAN_OPTIONS", "exitcode=86", 0);
        ::setenv("UBSAN_OPTIONS", "exitcode=86", 0);
        if (setup)
            setup();
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace

Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
           const std::function<void()>& setup) {
    TempDir capture;
    const fs::path out = capture.path / "out", err = capture.path / "err";
    const pid_t pid = spawn(program, args, folder, out, err, setup);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

pid_t start(const std::string& program, const std::vector<std::string>& args,
            const fs::path& folder) {
    return spawn(program, args, folder, "/dev/null", "/dev/null");
}

bool killAfter(pid_t pid, long micros) {
    ::usleep(useconds_t(micros));
    const bool killed = ::kill(pid, SIGKILL) == 0;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return killed && WIFSIGNALED(status);
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::string readFile(const fs::path& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::string gameLikeBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint64_t x = 0x9e3779b97f4a7c15ull * (seed + 1);
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        // Every other 4 KiB block repeats a short pattern.
        bytes[i] = (i / 4096) % 2 ? char(i % 61) : char(x);
    }
    return bytes;
}

std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(root))
        paths.push_back(e.path().lexically_relative(root).generic_string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace tooltest
