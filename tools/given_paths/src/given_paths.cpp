#include "given_paths/given_paths.h"

#include "io/folder.h"

#include <cerrno>

#include <fcntl.h>

namespace corvane::tools {

io::Result<io::Fd> openGiven(const std::string& path, int flags) {
    if (!io::isBelow(path))
        return io::openPath(path, flags);
    io::Result<io::Tree> tree = io::Tree::open(".", io::Links::Refuse);
    if (!tree)
        return tree.failure();
    return tree->openFile(path, flags);
}

io::Result<io::Tree::Place> placeGiven(const std::string& path) {
    if (io::isBelow(path)) {
        io::Result<io::Tree> tree = io::Tree::open(".", io::Links::Refuse);
        if (!tree)
            return tree.failure();
        return tree->place(path);
    }
    io::Tree::Place place;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    place.name = path.substr(slash + 1); // the whole path when there is no slash (npos + 1 is 0)
    if (place.name.empty() || place.name == "." || place.name == "..")
        return io::Failure{EISDIR, path};
    place.folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!place.folder)
        return io::lastFailure(folder);
    return place;
}

} // namespace corvane::tools
