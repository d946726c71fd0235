#include "conversion/packs.h"

#include <algorithm>

namespace corvane::packs {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

} // namespace

std::string memberPath(std::string_view entry) {
    const std::size_t start = std::min(entry.find_first_not_of("\\/"), entry.size());
    std::string path(entry.substr(start));
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool isPacked(const Pack& pack, std::string_view path) {
    if (!pack.packedFolders.empty()) {
        const std::size_t end = path.find_first_of("\\/");
        if (end == std::string_view::npos || end == 0 ||
            !holds(pack.packedFolders, path.substr(0, end)))
            return false;
    }
    if (pack.offered == Offered::FirstManifest)
        return true;
    return std::any_of(pack.packedFiles.begin(), pack.packedFiles.end(), [&](const char* file) {
        return std::equal(
            path.begin(), path.end(), file, file + std::string_view(file).size(),
            [](char a, char b) { return a == b || (isSeparator(a) && isSeparator(b)); });
    });
}

} // namespace corvane::packs
