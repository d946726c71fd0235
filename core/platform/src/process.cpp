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
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane {

namespace {

constexpr qsizetype kKeptErrorOutput = qsizetype(64) * 1024;
// How long a tool asked to stop may take before it is killed.
constexpr int kStopGraceMs = 2000;
// How often the windows get a turn while a tool runs.
constexpr int kTurnMs = 20;
// The stack of a child between its start and its exec.
constexpr size_t kChildStack = size_t(64) * 1024;

// Reads what is waiting in the pipe into `kept` and passes it on to our standard error (lost
// when that is closed). False once the pipe is closed.
bool drain(int pipe, QByteArray& kept) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = TEMP_FAILURE_RETRY(read(pipe, chunk, sizeof chunk));
        if (n <= 0)
            return n < 0 && errno == EAGAIN;
        if (kept.size() < kKeptErrorOutput)
            kept.append(chunk, std::min<qsizetype>(n, kKeptErrorOutput - kept.size()));
        (void)io::writeAll(STDERR_FILENO, chunk, size_t(n)); // lost when that is closed
    }
}

// Ends a child asked to stop: politely first, then for good. `handle` (its process descriptor,
// -1 when there is none) becomes readable once it has ended.
void stopChild(pid_t pid, int handle) {
    // kill fails only for a child that has ended already, which is what is wanted; a failed
    // poll only shortens the grace.
    (void)kill(pid, SIGTERM);
    pollfd ended{handle, POLLIN, 0};
    if (poll(&ended, 1, kStopGraceMs) <= 0)
        (void)kill(pid, SIGKILL);
}

// Whether windows wait for their turns while a tool runs (the command line shows none).
bool hasWindows() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && application->inherits("QGuiApplication");
}

// Waits for the child, collecting its standard error, while the windows keep painting: they get
// a turn at least every 20 ms. A stop request ends the child.
int waitFor(pid_t pid, int errorPipe, QByteArray& errorOutput, int& waitError) {
    // Wakes the wait as soon as the child ends; where there is none, the turns still come.
    const io::Fd handle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    const bool windows = hasWindows();
    // Without windows, the end of the child, its output or a stop signal alone wake the wait.
    const int turnMs = windows || !handle ? kTurnMs : -1;
    bool pipeOpen = true, stopping = false;
    int status = 0; // read only when the child could be waited for
    for (;;) {
        // A negative descriptor is passed over: the pipe once closed, the stop once seen.
        pollfd watched[] = {{pipeOpen ? errorPipe : -1, POLLIN, 0},
                            {handle.get(), POLLIN, 0},
                            {stopping ? -1 : stopSignalDescriptor(), POLLIN, 0}};
        // A failed poll (EINTR) only makes this turn come early.
        (void)poll(watched, std::size(watched), turnMs);
        if (pipeOpen)
            pipeOpen = drain(errorPipe, errorOutput);
        if (!stopping && stopRequested() != 0) {
            stopping = true;
            stopChild(pid, handle.get());
        }
        const auto waited = TEMP_FAILURE_RETRY(waitpid(pid, &status, WNOHANG));
        if (waited < 0) {
            waitError = errno;
            break; // it cannot be waited for
        }
        if (waited != 0)
            break; // it has ended
        if (windows)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    if (pipeOpen)
        (void)drain(errorPipe, errorOutput); // all it holds: the child has closed its end
    return status;
}

// What the child needs, in the memory it shares with us until it execs or exits.
struct ChildSetup {
    char* const* argv;
    int folder, errorPipe, passed;
    pid_t parent;
    int error; // set by the child when it cannot exec the program
};

// In the child, between clone and exec, on a stack of its own in our memory while we wait
// (CLONE_VM | CLONE_VFORK, as posix_spawn does: no copy of our pages): only calls that are safe
// there. The child dies with us (a tool left running would go on writing into a folder we
// remove), starts in `folder`, with the signals as a program expects them; an exec that fails
// leaves its errno in `setup.error`.
int becomeTool(void* argument) {
    ChildSetup& setup = *static_cast<ChildSetup*>(argument);
    // Nothing here can fail with the arguments given; an exec that fails is reported below.
    (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != setup.parent)
        _exit(127);
    // Our handlers would run here, in our memory: every signal caught is set back to its
    // default before any is let through (an exec would reset them anyway).
    struct sigaction standard {};
    struct sigaction current {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL &&
            current.sa_handler != SIG_IGN)
            (void)sigaction(signal, &standard, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        (void)sigaction(signal, &standard, nullptr);
    sigset_t none;
    (void)sigemptyset(&none);
    (void)sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(setup.errorPipe, STDERR_FILENO) < 0 ||
        (setup.folder >= 0 && fchdir(setup.folder) != 0) ||
        (setup.passed >= 0 && fcntl(setup.passed, F_SETFD, 0) != 0))
        setup.error = errno;
    else
        execve(setup.argv[0], setup.argv, environ);
    if (setup.error == 0)
        setup.error = errno;
    _exit(127);
}

// Starts the child on `stack` with every signal blocked in this thread meanwhile, so that none
// of our handlers runs in the child. Returns its process id, or -1 with errno.
pid_t startChild(ChildSetup& setup, std::span<std::byte> stack) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid =
        clone(becomeTool, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return pid;
}

} // namespace

ProgramRun runProgram(const QString& program, const QStringList& arguments, int folder,
                      int passed) {
    ProgramRun run;
    std::vector<std::string> words{encodePath(program)};
    for (const QString& argument : arguments)
        words.push_back(encodePath(argument));
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // A program that cannot be started says why, out of descriptors or processes too.
    const auto notStarted = [&](int error) {
        run.errorOutput = QStringLiteral("%1 could not be started: %2")
                              .arg(program, QString::fromLocal8Bit(strerror(error)));
        return run;
    };
    int errorEnds[2];
    if (pipe2(errorEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return notStarted(errno);
    io::Fd readEnd(errorEnds[0]), writeEnd(errorEnds[1]);
    // The child's end blocks as usual; only ours must never stall the windows.
    if (fcntl(writeEnd.get(), F_SETFL, 0) != 0)
        return notStarted(errno);
    // The child's stack, enough for the calls above and the sanitizers' frames.
    const auto stack = std::make_unique_for_overwrite<std::byte[]>(kChildStack);
    ChildSetup setup{argv.data(), folder, writeEnd.get(), passed, getpid(), 0};
    // We go on once the child has exec'd or exited: then `setup.error` says which.
    const pid_t pid = startChild(setup, {stack.get(), kChildStack});
    writeEnd.reset();
    const int failed = pid < 0 ? errno : setup.error;
    if (pid > 0 && failed != 0)         // the child has exited; should it not be waited for, it is
        (void)waitpid(pid, nullptr, 0); // reaped at our end
    if (failed != 0)
        return notStarted(failed);
    run.started = true;
    QByteArray errorOutput;
    int waitError = 0;
    const int status = waitFor(pid, readEnd.get(), errorOutput, waitError);
    run.errorOutput = QString::fromUtf8(errorOutput);
    // Its end unknown, the run failed: the reason is said, rather than an exit code of -1.
    if (waitError != 0)
        run.errorOutput += QStringLiteral("%1 could not be waited for: %2\n")
                               .arg(program, QString::fromLocal8Bit(strerror(waitError)));
    run.stoppedFor = stopRequested();
    if (waitError != 0)
        return run;
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

} // namespace corvane
