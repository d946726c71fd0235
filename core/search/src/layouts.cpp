#include "search/layouts.h"

#include "io/folder.h"
#include "io/tree.h"
#include "platform/files.h"

#include <QDir>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane::layouts {

QStringList systemDataFolders() {
    const char* set = std::getenv("XDG_DATA_DIRS");
    const QString list =
        set && *set ? decodePath(set) : QStringLiteral("/usr/local/share:/usr/share");
    QStringList folders;
    for (const QString& folder : list.split(u':', Qt::SkipEmptyParts))
        // Relative entries are invalid there and are ignored, as the desktop does.
        if (QDir::isAbsolutePath(folder))
            folders << QDir::cleanPath(folder);
    return folders;
}

QStringList systemData(Game game) {
    QStringList found;
    for (const QString& folder : systemDataFolders()) {
        const QString place =
            folder + QChar(kSep) + QLatin1String(facts(game).dataPlace) + QChar(kSep);
        if (holdsData(game, place))
            found << place;
    }
    return found;
}

bool holdsData(Game game, const QString& folder) {
    const GameFacts& known = facts(game);
    // Below `folder` as it is spelled, its names found ignoring case.
    const io::Result<io::Fd> pack = io::openPath(
        resolveIn(folder, QLatin1String(known.baseFolder) + u'/' + QLatin1String(known.dataPack)),
        O_PATH);
    struct stat info;
    return pack && fstat(pack->get(), &info) == 0 && S_ISREG(info.st_mode);
}

bool holdsModFolder(Game game, const QString& folder) {
    const char* mod = facts(game).modFolder;
    if (!mod)
        return false;
    // Exactly the name the archives are installed under, and never a link to a folder.
    struct stat info;
    return lstat(encodePath(folder + QLatin1String(mod)).c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

namespace {

// Whether `name` (UTF-8) is `ascii` in any case, as the wizard's lists compare names.
bool sameIgnoringCase(const std::string& name, const char* ascii) {
    if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; }))
        return io::equalIgnoringAsciiCase(name, ascii);
    return QString::fromUtf8(name.data(), qsizetype(name.size()))
               .compare(QLatin1String(ascii), Qt::CaseInsensitive) == 0;
}

} // namespace

bool showsGameFolder(const GameFacts& game, const std::vector<std::string>& subFolders) {
    return std::any_of(subFolders.begin(), subFolders.end(), [&](const std::string& name) {
        return sameIgnoringCase(name, game.baseFolder) ||
               (game.modFolder && name == game.modFolder);
    });
}

bool isProgram(const GameFacts& game, const std::string& name) {
    return sameIgnoringCase(name, game.program);
}

std::optional<Mark> markOf(Game game, const QString& folder, bool hasProgram,
                           const QStringList& dataElsewhere) {
    const bool data = holdsData(game, folder);
    for (const Layout& layout : kLayouts) {
        if (layout.game != game)
            continue;
        switch (layout.mark) {
        case Mark::Program:
            if (hasProgram && data)
                return Mark::Program;
            break;
        case Mark::Data:
            if (data)
                return Mark::Data;
            break;
        case Mark::HomePath:
            if (!dataElsewhere.isEmpty() && holdsModFolder(game, folder))
                return Mark::HomePath;
            break;
        }
    }
    return std::nullopt;
}

QString dataFolderOf(Game game, const QString& folder, const QStringList& dataElsewhere) {
    if (holdsData(game, folder) || dataElsewhere.isEmpty())
        return folder;
    return dataElsewhere.front();
}

} // namespace corvane::layouts
