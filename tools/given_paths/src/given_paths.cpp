#include "given_paths/given_paths.h"

#include <cerrno>

#include <fcntl.h>

namespace corvane::tools {

io::Fd openGiven(const std::string& path, int flags) {
    if (io::isBelow(path))
        return io::Tree::open(".", io::Links::Refuse).openFile(path, flags);
    return io::Fd(::open(path.c_str(), flags | O_CLOEXEC));
}

io::Tree::Place placeGiven(const std::string& path) {
    if (io::isBelow(path))
        return io::Tree::open(".", io::Links::Refuse).place(path);
    io::Tree::Place place;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    place.name = path.substr(slash + 1); // the whole path when there is no slash (npos + 1 is 0)
    if (place.name.empty() || place.name == "." || place.name == "..") {
        errno = EISDIR;
        return place;
    }
    place.folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return place;
}

} // namespace corvane::tools
