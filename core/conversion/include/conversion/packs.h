#pragma once

// The three Quake 2 packs and every rule the conversion follows for each: what is unpacked,
// which files go into the archive and how, and what is deleted afterwards. The checks, the one
// generic pass, the dry run, the cleanup, the installation and the demo all read this table;
// no pack is named anywhere else.
//
// Member names are as a pack stores them ('/' separators). Files of the run's folder are
// manifest entries ('\' separators), as the passes hand them to the zip tool;
// memberPath() turns one into the other.

#include <span>
#include <string>
#include <string_view>

namespace corvane::packs {

using Names = std::span<const char* const>;

// Where the files offered to the archive come from.
enum class Offered {
    FirstManifest, // the files the first pack unpacks, as the first manifest lists them
    Listed,        // the pack's `packedFiles`
};

// What is deleted once the archive is made.
enum class Removal {
    UnpackedTree, // every file of the first manifest, then every folder holding one
    Listed,       // the pack's `removedFiles`, then its `removedFolders`, in that order
};

struct Pack {
    const char* pak;     // its file in baseq2
    const char* archive; // the pk3 made of it, in the run's folder and then in qfbastion
    const char* label;   // how the installation's boxes name the archive
    bool checkHint;      // whether the box for an archive not made ends "to see if the file exists"
    Names members;       // the members unpacked; empty: every member

    // What goes into the archive: the offered files that were unpacked and, when folders are
    // given, lie under one of these top folders. Only unpacked files are handed over: the zip
    // tool refuses the others.
    Offered offered;
    Names packedFiles; // with Offered::Listed
    Names packedFolders;
    bool allOrNothing;  // every offered file, or no archive at all
    int batchSize;      // files handed to the zip tool per run
    bool lastRunAlways; // the zip tool runs at the end of the list even with nothing left
    bool countsClassic; // the files found are weighed against the classic game's count

    Removal removal;
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

inline constexpr int kBatchSize = 30;

inline constexpr Pack kPacks[] = {
    {.pak = "pak0.pak",
     .archive = "pak0.pk3",
     .label = "PAK0.PK3",
     .checkHint = true,
     .members = {},
     .offered = Offered::FirstManifest,
     .packedFiles = {},
     .packedFolders = kPak0Folders,
     .allOrNothing = false,
     .batchSize = kBatchSize,
     .lastRunAlways = true, // so that the caption ends up showing the total
     .countsClassic = true,
     .removal = Removal::UnpackedTree,
     .removedFiles = {},
     .removedFolders = {}},
    {.pak = "pak1.pak",
     .archive = "pak1.pk3",
     .label = "PAK1.PK3",
     .checkHint = false,
     .members = kPak1Pictures,
     .offered = Offered::Listed,
     .packedFiles = kPak1Files,
     .packedFolders = {},
     .allOrNothing = false,
     .batchSize = kBatchSize,
     .lastRunAlways = false,
     .countsClassic = false,
     .removal = Removal::Listed,
     .removedFiles = kPak1Files,
     .removedFolders = kPak1Folders},
    {.pak = "pak2.pak",
     .archive = "pak2.pk3",
     .label = "PAK2.PK3",
     .checkHint = true,
     .members = {},
     .offered = Offered::Listed,
     .packedFiles = kPak2Files,
     .packedFolders = kPak0Folders,
     .allOrNothing = true, // a lone skin is not worth an archive
     .batchSize = kBatchSize,
     .lastRunAlways = false,
     .countsClassic = false,
     .removal = Removal::Listed,
     .removedFiles = kPak2Removed,
     .removedFolders = kPak2Folders},
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

// A manifest entry as a path in the run's folder and in a pack: '/' separators, no leading one.
std::string memberPath(std::string_view entry);

// Whether the file at `path` of the run's folder (a manifest entry or a member name: '\' and
// '/' both separate) may go into the archive of `pack`: it is offered, and its top folder is a
// packed one when the pack names any. An entry with leading separators has no top folder.
bool isPacked(const Pack& pack, std::string_view path);

} // namespace corvane::packs
