// External programs on POSIX systems.

#include "process.h"

#include "files.h"
#include "io/fd.h"
#include "io/rw.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane {

namespace {

constexpr qsizetype kKeptErrorOutput = 64 * 1024;

// "X.exe" names X when only X exists: the companion tools carry no extension here.
std::string programPath(const QString& program) {
    const std::string path = resolve(program);
    struct stat info;
    if (stat(path.c_str(), &info) == 0)
        return path;
    if (program.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) {
        std::string bare = resolve(program.chopped(4));
        if (stat(bare.c_str(), &info) == 0)
            return bare;
    }
    return path;
}

// Reads what is waiting in the pipe into `kept` and passes it on to our standard error.
// False once the pipe is closed.
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

// Waits for the child, collecting its standard error, while the windows keep painting.
int waitFor(pid_t pid, int errorPipe, QByteArray& errorOutput) {
    const bool pumping = QCoreApplication::instance() != nullptr;
    const io::Fd handle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    bool pipeOpen = true;
    int status = 0;
    for (;;) {
        std::vector<pollfd> watched;
        if (pipeOpen)
            watched.push_back({errorPipe, POLLIN, 0});
        if (handle)
            watched.push_back({handle.get(), POLLIN, 0});
        // Without a process handle the end of the child cannot be waited for: look again soon.
        poll(watched.data(), nfds_t(watched.size()), pumping || !handle ? 20 : -1);
        if (pipeOpen)
            pipeOpen = drain(errorPipe, errorOutput);
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

ProgramRun RunCommandLine(const QString& commandLine) {
    ProgramRun run;
    const QStringList words = SplitCommandLine(commandLine);
    if (words.isEmpty())
        return run;
    std::vector<std::string> arguments{programPath(words.front())};
    for (qsizetype k = 1; k < words.size(); ++k)
        arguments.push_back(encodePath(words[k]));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return run;
    io::Fd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    // The child's end blocks as usual; only ours must never stall the windows.
    fcntl(writeEnd.get(), F_SETFL, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (failed != 0) {
        run.errorOutput = QStringLiteral("%1: %2").arg(decodePath(argv[0]),
                                                       QString::fromLocal8Bit(strerror(failed)));
        return run;
    }
    run.started = true;
    QByteArray errorOutput;
    const int status = waitFor(pid, readEnd.get(), errorOutput);
    run.errorOutput = QString::fromUtf8(errorOutput);
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

QStringList SplitCommandLine(const QString& commandLine) {
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = commandLine.size();
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };

    // The program: a quoted first word ends at the next quote; backslashes are literal.
    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i >= n)
        return words;
    QString program;
    if (commandLine[i] == u'"') {
        qsizetype close = commandLine.indexOf(u'"', i + 1);
        if (close < 0)
            close = n;
        program = commandLine.mid(i + 1, close - i - 1);
        i = std::min(close + 1, n);
    } else {
        while (i < n && !isBlank(commandLine[i]))
            program += commandLine[i++];
    }
    words << program;

    // Arguments: blanks separate, double quotes group, backslashes escape only quotes.
    for (;;) {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        QString word;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            qsizetype slashes = 0;
            while (i < n && commandLine[i] == u'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && commandLine[i] == u'"') {
                word += QString(slashes / 2, u'\\');
                if (slashes % 2 == 1) {
                    word += u'"';
                } else if (quoted && i + 1 < n && commandLine[i + 1] == u'"') {
                    word += u'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                word += QString(slashes, u'\\');
                if (i < n && (quoted || !isBlank(commandLine[i])))
                    word += commandLine[i++];
            }
        }
        words << word;
    }
    return words;
}

} // namespace corvane
