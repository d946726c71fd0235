#include "installation.h"

#include "io/rw.h"
#include "platform/error.h"
#include "platform/files.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

Installation::Installation(int runFolder, int qfbastion, const QString& qfbastionPath)
    : m_run(runFolder), m_qfbastion(qfbastion), m_path(qfbastionPath) {}

Installation::~Installation() {
    for (const auto& placed : m_placed)
        if (!placed->temporary.empty())
            unlinkat(m_qfbastion, placed->temporary.c_str(), 0);
}

void Installation::raise(int error, const std::string& name) const {
    throw Error::fromSystem(error, kPathNotFound, m_path + QChar(kSep) + decodePath(name));
}

void Installation::place(const std::string& name) {
    struct stat target;
    if (fstatat(m_qfbastion, name.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISDIR(target.st_mode) || (S_ISREG(target.st_mode) && isReadOnly(target))))
        throw Error(kPathFileAccessError, m_path + QChar(kSep) + decodePath(name));
    auto placed = std::make_unique<Placed>();
    placed->name = name;
    for (int attempt = 0; attempt < 100 && placed->temporary.empty(); ++attempt) {
        const std::string temporary = io::temporaryName(name);
        if (linkat(m_run, name.c_str(), m_qfbastion, temporary.c_str(), 0) == 0)
            placed->temporary = temporary;
        else if (errno != EEXIST)
            break;
    }
    if (placed->temporary.empty()) {
        if (errno != EXDEV && errno != EPERM)
            raise(errno, name);
        // Another file system: a copy, flushed before it takes the target's place.
        const io::Fd source(openat(m_run, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info;
        std::vector<unsigned char> buffer;
        if (!source || fstat(source.get(), &info) != 0 ||
            !placed->copy.create(m_qfbastion, name, info.st_mode & 07777) ||
            !io::copyRange(source.get(), 0, placed->copy.fd(), std::uint64_t(info.st_size), buffer))
            raise(errno, name);
    }
    m_placed.push_back(std::move(placed));
}

void Installation::commit() {
    for (const auto& placed : m_placed) {
        if (placed->temporary.empty() ? !placed->copy.commit()
                                      : renameat(m_qfbastion, placed->temporary.c_str(),
                                                 m_qfbastion, placed->name.c_str()) != 0)
            raise(errno, placed->name);
        placed->temporary.clear();
    }
}

} // namespace corvane
