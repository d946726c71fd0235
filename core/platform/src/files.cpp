// File and folder operations on POSIX systems.

#include "platform/files.h"

#include "io/folder.h"
#include "io/rw.h"
#include "io/tree.h"
#include "platform/error.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

bool isSeparator(QChar c) {
    return c == u'\\' || c == u'/';
}

// `path` with '/' between its components; absolute when it starts with a separator.
std::string normalized(const QString& path) {
    std::string result = !path.isEmpty() && isSeparator(path.front()) ? "/" : "";
    QString part;
    auto flush = [&] {
        if (part.isEmpty())
            return;
        if (!result.empty() && result.back() != '/')
            result += '/';
        result += encodePath(part);
        part.clear();
    };
    for (QChar c : path) {
        if (isSeparator(c))
            flush();
        else
            part += c;
    }
    flush();
    return result;
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWithSeparator(const QString& path) {
    return !path.isEmpty() && isSeparator(path.back());
}

// The run-time error for a failed system call, naming the path involved.
[[noreturn]] void raise(int error, int notFoundNumber, const std::string& path) {
    throw Error::fromSystem(error, notFoundNumber, decodePath(path));
}

// First entry of `folder` (byte order) that matches `pattern` and the attributes.
QString firstMatch(const std::string& folder, const std::string& pattern, int attributes) {
    const io::Fd handle(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    io::FolderReader reader(handle.get());
    if (!reader.valid())
        return {};
    const QString wildcards = decodePath(pattern);
    std::vector<std::string> names;
    while (const dirent* entry = reader.next())
        if (matchesPattern(decodePath(entry->d_name), wildcards))
            names.push_back(entry->d_name);
    if (reader.error() != 0)
        raise(reader.error(), kPathNotFound, folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat info;
        if (stat(join(folder, name).c_str(), &info) != 0)
            continue;
        if (S_ISREG(info.st_mode) || (S_ISDIR(info.st_mode) && (attributes & kDirectories)))
            return decodePath(name);
    }
    return {};
}

// Bytes that are no part of valid UTF-8 travel in the text as the lone surrogates U+DC80 to
// U+DCFF, so that every name comes back byte for byte.
constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at `at` and its code point; 0 when none starts there.
int utf8Sequence(const std::string& text, size_t at, char32_t& point) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    int length = lead < 0x80                   ? 1
                 : lead >= 0xC2 && lead < 0xE0 ? 2
                 : lead >= 0xE0 && lead < 0xF0 ? 3
                 : lead >= 0xF0 && lead < 0xF5 ? 4
                                               : 0;
    if (length == 0 || at + size_t(length) > text.size())
        return 0;
    point = char32_t(length == 1 ? lead : lead & (0x7F >> length));
    for (int i = 1; i < length; ++i) {
        if ((byte(at + size_t(i)) & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (byte(at + size_t(i)) & 0x3F);
    }
    // Overlong forms, surrogates and points past Unicode's range are not valid UTF-8.
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || (point >= 0xD800 && point < 0xE000) || point > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

std::string encodePath(const QString& path) {
    std::string bytes;
    bytes.reserve(size_t(path.size()));
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            bytes += char(c - kEscapeBase);
            continue;
        }
        qsizetype length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < path.size() && path[i + 1].isLowSurrogate())
            length = 2;
        bytes += QStringView(path).mid(i, length).toUtf8().toStdString();
        i += length - 1;
    }
    return bytes;
}

QString decodePath(const std::string& path) {
    QString text;
    text.reserve(qsizetype(path.size()));
    for (size_t at = 0; at < path.size();) {
        char32_t point = 0;
        const int length = utf8Sequence(path, at, point);
        if (length == 0) {
            text += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(path[at])));
            ++at;
            continue;
        }
        text += QString::fromUcs4(&point, 1);
        at += size_t(length);
    }
    return text;
}

bool isUtf8(const std::string& bytes) {
    char32_t point = 0;
    for (size_t at = 0; at < bytes.size();) {
        const int length = utf8Sequence(bytes, at, point);
        if (length == 0)
            return false;
        at += size_t(length);
    }
    return true;
}

std::string escapedLine(const std::string& bytes) {
    std::string line;
    for (size_t at = 0; at < bytes.size();) {
        char32_t point = 0;
        const int length = utf8Sequence(bytes, at, point);
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (length > 1) {
            line.append(bytes, at, size_t(length));
            at += size_t(length);
            continue;
        }
        ++at;
        if (byte == '\\')
            line += "\\\\";
        else if (byte == '\t')
            line += "\\t";
        else if (byte == '\n')
            line += "\\n";
        else if (length == 0 || byte < 0x20 || byte == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            line += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
        } else
            line += char(byte);
    }
    return line;
}

bool isReadOnly(const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

QString nativePath(const QString& path) {
    QString native = path;
    for (QChar& c : native)
        if (isSeparator(c))
            c = QChar(kSep);
    return native;
}

namespace {

// `relative` ('/' separators) looked up in `tree`, whose path is `prefix`.
std::string lookUp(io::Tree& tree, const std::string& prefix, const std::string& relative) {
    std::string exact = prefix + relative;
    io::Tree::Entry entry = tree.find(relative);
    if (entry.kind != io::Kind::Missing)
        return prefix + entry.path;
    // A missing entry in an existing folder: the folder as it is spelled, the name as given.
    const size_t slash = relative.find_last_of('/');
    if (slash == std::string::npos)
        return exact;
    entry = tree.find(relative.substr(0, slash));
    if (entry.kind != io::Kind::Folder)
        return exact;
    return prefix + entry.path + relative.substr(slash);
}

} // namespace

std::string resolve(const QString& path) {
    std::string exact = normalized(path);
    const bool absolute = !exact.empty() && exact.front() == '/';
    const std::string relative = absolute ? exact.substr(1) : exact;
    if (relative.empty())
        return exact;
    io::Result<io::Tree> tree = io::Tree::open(absolute ? "/" : ".", io::Links::Follow);
    // A root that cannot be opened: the path as given, for the call that uses it to fail on.
    return tree ? lookUp(*tree, absolute ? "/" : "", relative) : exact;
}

std::string resolveIn(const QString& folder, const QString& relative) {
    std::string base = encodePath(folder);
    if (!base.empty() && base.back() != '/')
        base += '/';
    io::Result<io::Tree> tree = io::Tree::open(base.empty() ? "." : base, io::Links::Follow);
    const std::string given = normalized(relative);
    // A folder that cannot be opened: the path as given, for the call that uses it to fail on.
    return tree ? lookUp(*tree, base, given) : base + given;
}

QString Dir(const QString& path, int attributes) {
    const std::string resolved = resolve(path);
    struct stat info;
    if (endsWithSeparator(path)) {
        if (stat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return {};
        if (attributes & kDirectories)
            return QStringLiteral(".");
        return firstMatch(resolved, "*", attributes);
    }
    const std::string name = baseName(resolved);
    if (name.find_first_of("*?") != std::string::npos)
        return firstMatch(parentOf(resolved), name, attributes);
    if (stat(resolved.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP)
            return {};
        raise(errno, kFileNotFound, resolved);
    }
    if (S_ISREG(info.st_mode) || (S_ISDIR(info.st_mode) && (attributes & kDirectories)))
        return decodePath(name);
    return {};
}

QString runningProgramFolder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0 && errno == ENOENT) {
            // No /proc: the path the program was started by, with its links resolved.
            // getauxval gives the kernel's own address of that name as a number.
            // NOLINTNEXTLINE(performance-no-int-to-ptr)
            const auto started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
            char* real = started ? realpath(started, nullptr) : nullptr;
            if (!real)
                raise(errno, kPathNotFound, started ? started : "/proc/self/exe");
            const std::string program(real);
            free(real);
            return decodePath(parentOf(program));
        }
        if (length < 0)
            raise(errno, kPathNotFound, "/proc/self/exe");
        if (size_t(length) < buffer.size()) {
            const std::string program(buffer.data(), size_t(length));
            return decodePath(parentOf(program));
        }
        buffer.resize(buffer.size() * 2);
    }
}

QString currentFolder() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            raise(errno, kPathNotFound, ".");
        buffer.resize(buffer.size() * 2);
    }
    return decodePath(buffer.data());
}

void makeFolders(const QString& path) {
    const std::string resolved = resolve(path);
    std::error_code error;
    std::filesystem::create_directories(resolved, error);
    if (error)
        raise(error.value(), kPathNotFound, resolved);
}

void writeWholeFile(const QString& path, const QByteArray& contents) {
    const std::string resolved = resolve(path);
    const io::Fd file(open(resolved.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file)
        raise(errno, kPathNotFound, resolved);
    if (const io::Result<void> written =
            io::writeAll(file.get(), contents.constData(), size_t(contents.size()));
        !written)
        raise(written.failure().error, kPathNotFound, resolved);
}

void removeFolderTree(const QString& path) {
    const std::string resolved = resolve(path);
    std::error_code error;
    std::filesystem::remove_all(resolved, error);
    if (error)
        raise(error.value(), kPathNotFound, resolved);
}

bool matchesPattern(const QString& name, const QString& pattern) {
    auto same = [](QChar a, QChar b) {
        auto lower = [](char16_t c) -> char16_t { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
        return lower(a.unicode()) == lower(b.unicode());
    };
    // Greedy matching that backtracks to the last '*' on a mismatch.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || (pattern[p] != u'*' && same(pattern[p], name[n])))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

QString makeTempFolder(const QString& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = join(base && *base ? base : "/tmp", encodePath(prefix) + "-XXXXXX");
    if (!mkdtemp(pattern.data()))
        raise(errno, kPathNotFound, pattern);
    return decodePath(pattern);
}

} // namespace corvane
