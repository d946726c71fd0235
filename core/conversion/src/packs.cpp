#include "conversion/packs.h"

#include <string>

namespace corvane::packs {

bool isPacked(const Pack& pack, std::string_view path, char separator) {
    if (!pack.packedFolders.empty()) {
        const std::size_t end = path.find(separator);
        return end != std::string_view::npos && end > 0 &&
               holds(pack.packedFolders, path.substr(0, end));
    }
    std::string file(path);
    for (char& c : file)
        if (c == separator)
            c = '\\';
    return holds(pack.packedFiles, file);
}

} // namespace corvane::packs
