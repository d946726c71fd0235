#include "tool_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {

std::string toolBin(const char* variable, const char* built) {
    const char* given = std::getenv(variable);
    return given ? given : built;
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

Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& folder,
           const std::function<void()>& setup) {
    TempDir capture;
    const fs::path out = capture.path / "out", err = capture.path / "err";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
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
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

void killAfter(const std::string& program, const std::vector<std::string>& args,
               const fs::path& folder, long micros) {
    // The timer outlives exec; SIGALRM's default action ends the process at once, as SIGKILL.
    run(program, args, folder, [micros] { ::ualarm(useconds_t(micros), 0); });
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

std::string gameLikeBytes(std::size_t size, unsigned seed, bool repeats) {
    std::string bytes(size, '\0');
    std::uint64_t x = 0x9e3779b97f4a7c15ull * (seed + 1);
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        // Every other 4 KiB block repeats a short pattern.
        bytes[i] = repeats && (i / 4096) % 2 ? char(i % 61) : char(x);
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
