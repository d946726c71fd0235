// File and process operations of the platform layer on POSIX systems.

#include "platform.h"
#include "posix_errors.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane {

namespace {

bool isSeparator(QChar c) {
    return c == u'\\' || c == u'/';
}

std::string encode(const QString& path) {
    return path.toUtf8().toStdString();
}
QString decode(const std::string& path) {
    return QString::fromUtf8(path);
}

bool asciiEqualIgnoringCase(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return a[i] == '\0' && i == b.size();
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case; the first in byte
// order when several do. Empty when none does.
std::string findIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return {};
    std::string best;
    while (dirent* entry = readdir(dir)) {
        if (asciiEqualIgnoringCase(entry->d_name, name) && (best.empty() || best > entry->d_name))
            best = entry->d_name;
    }
    closedir(dir);
    return best;
}

// Turns a path with '\' or '/' separators into a file-system path: runs of separators count
// as one, and a path that does not exist exactly is looked up component by component,
// ignoring ASCII case.
std::string resolve(const QString& path) {
    std::vector<std::string> parts;
    QString current;
    for (QChar c : path) {
        if (isSeparator(c)) {
            if (!current.isEmpty())
                parts.push_back(encode(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        parts.push_back(encode(current));

    std::string exact = !path.isEmpty() && isSeparator(path.front()) ? "/" : "";
    for (const std::string& part : parts)
        exact = join(exact, part);
    struct stat info;
    if (exact.empty() || lstat(exact.c_str(), &info) == 0)
        return exact;

    std::string resolved = !path.isEmpty() && isSeparator(path.front()) ? "/" : "";
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        std::string candidate = join(resolved, parts[i]);
        if (lstat(candidate.c_str(), &info) == 0) {
            resolved = std::move(candidate);
            continue;
        }
        std::string match = findIgnoringCase(resolved, parts[i]);
        if (match.empty())
            break;
        resolved = join(resolved, match);
    }
    for (; i < parts.size(); ++i)
        resolved = join(resolved, parts[i]);
    return resolved;
}

std::string parentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWithSeparator(const QString& path) {
    return !path.isEmpty() && isSeparator(path.back());
}

// A file with no write permission for anyone: the platform's read-only attribute.
bool isReadOnly(const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The run-time error for a failed system call, naming the path involved.
[[noreturn]] void raise(int error, int notFoundNumber, const std::string& path) {
    throw RuntimeError::make(errorNumberFor(error, notFoundNumber), decode(path));
}

bool matchesPattern(const std::string& pattern, const char* name) {
    return fnmatch(pattern.c_str(), name, FNM_CASEFOLD | FNM_PERIOD) == 0;
}

// First entry of `folder` (byte order) that matches `pattern` and the attributes.
QString firstMatch(const std::string& folder, const std::string& pattern, int attributes) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return {};
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (matchesPattern(pattern, entry->d_name))
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat info;
        if (stat(join(folder, name).c_str(), &info) != 0)
            continue;
        if (S_ISREG(info.st_mode) || (S_ISDIR(info.st_mode) && (attributes & kDirectories)))
            return decode(name);
    }
    return {};
}

} // namespace

QString Dir(const QString& path, int attributes) {
    std::string resolved = resolve(path);
    if (endsWithSeparator(path)) {
        struct stat info;
        if (stat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return {};
        if (attributes & kDirectories)
            return QStringLiteral(".");
        return firstMatch(resolved, "*", attributes);
    }
    std::string name = baseName(resolved);
    if (name.find_first_of("*?") != std::string::npos)
        return firstMatch(parentOf(resolved), name, attributes);
    struct stat info;
    if (stat(resolved.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP)
            return {};
        raise(errno, kFileNotFound, resolved);
    }
    if (S_ISREG(info.st_mode) || (S_ISDIR(info.st_mode) && (attributes & kDirectories)))
        return decode(name);
    return {};
}

void Kill(const QString& path) {
    std::string resolved = resolve(path);
    struct stat info;
    if (lstat(resolved.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        throw RuntimeError::make(kFileNotFound, decode(resolved));
    if (!S_ISLNK(info.st_mode) && isReadOnly(info))
        throw RuntimeError::make(kPathFileAccessError, decode(resolved));
    if (unlink(resolved.c_str()) != 0)
        raise(errno == EACCES || errno == EPERM ? EBUSY : errno, kFileNotFound, resolved);
}

void RmDir(const QString& path) {
    std::string resolved = resolve(path);
    struct stat info;
    if (lstat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw RuntimeError::make(kPathNotFound, decode(resolved));
    if (rmdir(resolved.c_str()) != 0)
        raise(errno == EACCES || errno == EPERM ? EBUSY : errno, kPathNotFound, resolved);
}

void ChDir(const QString& path) {
    std::string resolved = resolve(path);
    if (chdir(resolved.c_str()) != 0)
        raise(errno, kPathNotFound, resolved);
}

QString CurDir() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            raise(errno, kPathNotFound, ".");
        buffer.resize(buffer.size() * 2);
    }
    return decode(buffer.data());
}

void FileCopy(const QString& source, const QString& target) {
    std::string from = resolve(source);
    std::string to = resolve(target);
    struct stat sourceInfo;
    if (stat(from.c_str(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode))
        throw RuntimeError::make(kFileNotFound, decode(from));
    struct stat folderInfo;
    if (stat(parentOf(to).c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
        throw RuntimeError::make(kPathNotFound, decode(parentOf(to)));
    struct stat targetInfo;
    if (stat(to.c_str(), &targetInfo) == 0 &&
        (!S_ISREG(targetInfo.st_mode) || isReadOnly(targetInfo)))
        throw RuntimeError::make(kPathFileAccessError, decode(to));

    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        raise(errno, kFileNotFound, from);
    // Written beside the target and renamed over it, so the target is never half written.
    std::string temporary = join(parentOf(to), "." + baseName(to) + ".XXXXXX");
    int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        int error = errno;
        close(in);
        raise(error, kPathNotFound, to);
    }
    int error = 0;
    const std::string* failed = &to; // the path the description names
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            if (error != 0)
                failed = &from;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno != EINTR)
                error = errno;
            else if (put > 0)
                done += put;
        }
        if (error != 0)
            break;
    }
    if (error == 0 && fchmod(out, sourceInfo.st_mode & 07777) != 0)
        error = errno;
    if (close(out) != 0 && error == 0)
        error = errno;
    close(in);
    if (error == 0 && rename(temporary.c_str(), to.c_str()) != 0)
        error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        raise(error, kPathNotFound, *failed);
    }
}

bool IsFolderWritable(const QString& folder) {
    std::string probe = join(resolve(folder), ".corvane-write-test.XXXXXX");
    int handle = mkostemp(probe.data(), O_CLOEXEC);
    if (handle < 0)
        return false;
    close(handle);
    unlink(probe.c_str());
    return true;
}

void MkDirs(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(resolve(path), error);
    if (error)
        raise(error.value(), kPathNotFound, resolve(path));
}

void WriteFile(const QString& path, const QByteArray& contents) {
    std::string resolved = resolve(path);
    int handle = open(resolved.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle < 0)
        raise(errno, kPathNotFound, resolved);
    qsizetype done = 0;
    while (done < contents.size()) {
        ssize_t put =
            write(handle, contents.constData() + done, static_cast<size_t>(contents.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            int error = errno;
            close(handle);
            raise(error, kPathNotFound, resolved);
        }
        done += put;
    }
    if (close(handle) != 0)
        raise(errno, kPathNotFound, resolved);
}

void RemoveTree(const QString& path) {
    std::error_code error;
    std::filesystem::remove_all(resolve(path), error);
    if (error)
        raise(error.value(), kPathNotFound, resolve(path));
}

QString MakeTempFolder(const QString& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = join(base && *base ? base : "/tmp", encode(prefix) + "-XXXXXX");
    if (!mkdtemp(pattern.data()))
        raise(errno, kPathNotFound, pattern);
    return decode(pattern);
}

bool HasDisplay() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
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

namespace {

// "X.exe" names X when only X exists: the companion tools carry no extension here.
std::string programPath(const QString& program) {
    std::string path = resolve(program);
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

int openProcessHandle(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Waits for the child while the windows keep painting; user input waits until it has ended.
void waitKeepingWindowsPainted(pid_t pid) {
    int handle = QCoreApplication::instance() ? openProcessHandle(pid) : -1;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, QCoreApplication::instance() ? WNOHANG : 0);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (done == 0) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (handle >= 0) {
                pollfd ready{handle, POLLIN, 0};
                poll(&ready, 1, 20);
            } else {
                usleep(2000);
            }
        }
    }
    if (handle >= 0)
        close(handle);
}

} // namespace

void RunCommandLine(const QString& commandLine) {
    QStringList words = SplitCommandLine(commandLine);
    if (words.isEmpty())
        return;
    std::vector<std::string> arguments;
    arguments.push_back(programPath(words.front()));
    for (qsizetype k = 1; k < words.size(); ++k)
        arguments.push_back(encode(words[k]));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return; // A program that cannot be started is noticed only by what it did not make.
    waitKeepingWindowsPainted(pid);
}

} // namespace corvane
