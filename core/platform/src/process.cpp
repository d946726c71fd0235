// External programs on POSIX systems.

#include "platform/process.h"

#include "io/fd.h"
#include "io/rw.h"
#include "platform/files.h"
#include "platform/stop_signals.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane {

namespace {

constexpr qsizetype kKeptErrorOutput = 64 * 1024;
// How long a tool asked to stop may take before it is killed.
constexpr int kStopGraceMs = 2000;

// Reads what is waiting in the pipe into `kept` and passes it on to our standard error (lost
// when that is closed). False once the pipe is closed.
bool drain(int pipe, QByteArray& kept) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(pipe, chunk, sizeof chunk);
        if (n > 0) {
            if (kept.size() < kKeptErrorOutput)
                kept.append(chunk, std::min<qsizetype>(n, kKeptErrorOutput - kept.size()));
            io::writeAll(STDERR_FILENO, chunk, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

// Ends a child asked to stop: politely first, then for good.
void stopChild(pid_t pid, int handle) {
    kill(pid, SIGTERM);
    pollfd ended{handle, POLLIN, 0};
    if (handle < 0 || poll(&ended, 1, kStopGraceMs) <= 0)
        kill(pid, SIGKILL);
}

// Waits for the child, collecting its standard error, while the windows keep painting; ends
// the child when a stop is requested.
int waitFor(pid_t pid, int errorPipe, QByteArray& errorOutput) {
    const bool pumping = QCoreApplication::instance() != nullptr;
    const io::Fd handle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    bool pipeOpen = true, stopping = false;
    int status = 0;
    for (;;) {
        std::vector<pollfd> watched;
        if (pipeOpen)
            watched.push_back({errorPipe, POLLIN, 0});
        if (handle)
            watched.push_back({handle.get(), POLLIN, 0});
        if (!stopping && stopSignalDescriptor() >= 0)
            watched.push_back({stopSignalDescriptor(), POLLIN, 0});
        // Without a process handle the end of the child cannot be waited for: look again soon.
        poll(watched.data(), nfds_t(watched.size()), pumping || !handle ? 20 : -1);
        if (pipeOpen)
            pipeOpen = drain(errorPipe, errorOutput);
        if (!stopping && stopRequested() != 0) {
            stopping = true;
            stopChild(pid, handle.get());
        }
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (pumping)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    if (pipeOpen)
        drain(errorPipe, errorOutput);
    return status;
}

} // namespace

namespace {

// In the child, between fork and exec: only calls that are safe there. The child dies with us
// (a tool left running would go on writing into a folder we remove), starts in `folder`, with
// the signals as a program expects them; an exec that fails writes its errno to `report`.
[[noreturn]] void becomeTool(char* const argv[], int folder, int errorPipe, int report,
                             pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = 0;
    if (dup2(errorPipe, STDERR_FILENO) < 0 || (folder >= 0 && fchdir(folder) != 0))
        error = errno;
    else
        execve(argv[0], argv, environ);
    if (error == 0)
        error = errno;
    [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
    _exit(127);
}

} // namespace

ProgramRun runProgram(const QString& program, const QStringList& arguments, int folder) {
    ProgramRun run;
    std::vector<std::string> words{encodePath(program)};
    for (const QString& argument : arguments)
        words.push_back(encodePath(argument));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int errorEnds[2], reportEnds[2];
    if (pipe2(errorEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return run;
    io::Fd readEnd(errorEnds[0]), writeEnd(errorEnds[1]);
    if (pipe2(reportEnds, O_CLOEXEC) != 0)
        return run;
    io::Fd reportRead(reportEnds[0]), reportWrite(reportEnds[1]);
    // The child's end blocks as usual; only ours must never stall the windows.
    fcntl(writeEnd.get(), F_SETFL, 0);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        becomeTool(argv.data(), folder, writeEnd.get(), reportWrite.get(), parent);
    writeEnd.reset();
    reportWrite.reset();
    int failed = pid < 0 ? errno : 0;
    if (pid > 0) {
        // The report pipe closes on exec: nothing read means the program runs.
        ssize_t n;
        do
            n = read(reportRead.get(), &failed, sizeof failed);
        while (n < 0 && errno == EINTR);
        if (n != sizeof failed)
            failed = 0;
        else
            waitpid(pid, nullptr, 0);
    }
    if (failed != 0) {
        run.errorOutput =
            QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(strerror(failed)));
        return run;
    }
    run.started = true;
    QByteArray errorOutput;
    const int status = waitFor(pid, readEnd.get(), errorOutput);
    run.errorOutput = QString::fromUtf8(errorOutput);
    run.stoppedFor = stopRequested();
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

} // namespace corvane
