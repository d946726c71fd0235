// A stand-in for the companion tools: writes the folder it runs in and its arguments, one per
// line, to the file named by CORVANE_PROBE_OUT, after sleeping CORVANE_PROBE_DELAY_MS.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    if (const char* delay = std::getenv("CORVANE_PROBE_DELAY_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
    const char* out = std::getenv("CORVANE_PROBE_OUT");
    if (!out)
        return 2;
    std::ofstream file(out, std::ios::app);
    file << std::filesystem::current_path().string() << '\n';
    for (int i = 1; i < argc; ++i)
        file << argv[i] << '\n';
    file << "--\n";
    return 0;
}
