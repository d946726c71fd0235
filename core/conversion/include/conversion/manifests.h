#pragma once

// The file lists compiled into the program: what the extractor writes when it unpacks the
// first and the third Quake 2 archive, and the folders removed after the first archive pass.
// The texts come from pak0_manifest.txt and temp_folders.txt beside this file, turned into
// constant tables at build time (manifests.cmake); nothing is read at run time.

#include <QString>
#include <QStringList>

#include <array>

namespace corvane::pakinfo {

inline constexpr int kPak0ManifestSize = 3307;
inline constexpr int kPak2ManifestSize = 2;
inline constexpr int kTempFolderCount = 189;

// An entry is a path relative to the program folder with backslash separators, kept in the
// case and form in which it is listed (entry 2320 begins with two backslashes).
// Both tables hold empty texts until their fill has run; a fill always writes the same texts.
extern std::array<QString, kPak0ManifestSize> Pak0Manifest;
extern std::array<QString, kPak2ManifestSize> Pak2Manifest;

// Writes all entries of Pak0Manifest by running the five steps below in order.
void FillPak0Manifest();
// Each step writes one contiguous range in ascending index order.
void FillPak0ManifestPart1(); // 0 to 749
void FillPak0ManifestPart2(); // 750 to 1649
void FillPak0ManifestPart3(); // 1650 to 2319
void FillPak0ManifestPart4(); // 2320 to 2659
void FillPak0ManifestPart5(); // 2660 to 3306

// Writes both entries of Pak2Manifest: the blaster and flare gun pickup skins.
void FillPak2Manifest();

// The folders removed after the first archive pass, in removal order: every folder that holds a
// Pak0Manifest file, each after all of its own sub-folders. Each text begins with a backslash
// and is meant as the program folder followed by the text. Built once, on first use.
const std::array<QString, kTempFolderCount>& tempFolders();
// A tempFolders() text as a path relative to the program folder: without its backslash.
inline QString relativeFolder(const QString& folder) {
    return folder.mid(1);
}

// The members of a classic pack that the conversion uses, as the pack stores them ('/'
// separators, no leading one): the first manifest for the first pack; for the others the
// members unpacked, or the files packed.
QStringList classicMembers(int pack);

namespace detail {
// The constant tables generated from the text files, one string per line.
extern const char* const kPak0Entries[kPak0ManifestSize];
extern const char* const kTempFolderEntries[kTempFolderCount];
} // namespace detail

} // namespace corvane::pakinfo
