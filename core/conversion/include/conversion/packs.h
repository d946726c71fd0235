#pragma once

// The three Quake 2 packs and what the conversion makes of each: the one description that the
// checks, the passes, the cleanup, the installation and the demo read.
//
// Member names are as a pack stores them ('/' separators); file and folder names in the run's
// folder are manifest entries ('\' separators), as the passes hand them to the zip tool.

#include <span>
#include <string_view>

namespace corvane::packs {

using Names = std::span<const char* const>;

struct Pack {
    const char* pak;     // its file in baseq2
    const char* archive; // the pk3 made of it, in the run's folder and then in qfbastion
    const char* label;   // how the installation's boxes name the archive
    bool checkHint;      // whether the box for an archive not made ends "to see if the file exists"
    Names members;       // the members unpacked; empty: every member
    // What goes into the archive: the first manifest's files under these top folders, or these
    // files. The first pack packs by folder, the others by file.
    Names packedFolders;
    Names packedFiles;
    // What is deleted once the archive is made, in this order: these files, then these folders
    // (the first pack's tree goes with the manifest instead, in its own step).
    Names removedFiles;
    Names removedFolders;
};

inline constexpr const char* kPak0Folders[] = {"models", "env", "pics", "sound", "sprites"};
inline constexpr const char* kPak1Pictures[] = {"pics/tag1.pcx", "pics/tag2.pcx"};
inline constexpr const char* kPak1Files[] = {"pics\\tag1.pcx", "pics\\tag2.pcx"};
inline constexpr const char* kPak1Folders[] = {"pics"};
// The blaster and flare gun pickup skins: the second manifest.
inline constexpr const char* kPak2Files[] = {"models\\weapons\\g_blast\\base.pcx",
                                             "models\\weapons\\g_flareg\\base.pcx"};
inline constexpr const char* kPak2Removed[] = {"models\\weapons\\g_flareg\\base.pcx",
                                               "models\\weapons\\g_blast\\base.pcx"};
inline constexpr const char* kPak2Folders[] = {
    "models\\objects\\grenade2", "models\\weapons\\g_flareg", "models\\weapons\\g_blast",
    "models\\weapons",           "models\\objects",           "models"};

inline constexpr Pack kPacks[] = {
    {"pak0.pak", "pak0.pk3", "PAK0.PK3", true, {}, kPak0Folders, {}, {}, {}},
    {"pak1.pak",
     "pak1.pk3",
     "PAK1.PK3",
     false,
     kPak1Pictures,
     {},
     kPak1Files,
     kPak1Files,
     kPak1Folders},
    {"pak2.pak", "pak2.pk3", "PAK2.PK3", true, {}, {}, kPak2Files, kPak2Removed, kPak2Folders},
};
inline constexpr const Pack& kPak0 = kPacks[0];
inline constexpr const Pack& kPak1 = kPacks[1];
inline constexpr const Pack& kPak2 = kPacks[2];

// Whether `name` is one of `names`, exactly.
constexpr bool holds(Names names, std::string_view name) {
    for (const char* entry : names)
        if (name == entry)
            return true;
    return false;
}

// Whether `pack` unpacks its member `name`: every member when it names none.
constexpr bool unpacks(const Pack& pack, std::string_view name) {
    return pack.members.empty() || holds(pack.members, name);
}

// Whether a file of the run's folder, with `separator` between folders, goes into the
// archive of `pack`: its top folder is a packed one, or it is a packed file.
bool isPacked(const Pack& pack, std::string_view path, char separator = '\\');

} // namespace corvane::packs
