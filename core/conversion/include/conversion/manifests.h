#pragma once

// The file lists compiled into the program: what the extractor writes when it unpacks the
// first and the third Quake 2 archive, and the folders removed after the first archive pass.
// The texts come from pak0_manifest.txt and temp_folders.txt beside the sources, turned into
// constant tables at build time (manifests.cmake); nothing is read at run time.

#include <QString>
#include <QStringList>

#include <array>

namespace corvane::packs {
struct Pack;
}

namespace corvane::pakinfo {

inline constexpr int kPak0ManifestSize = 3307;
inline constexpr int kTempFolderCount = 189;

// An entry is a path relative to the run's folder with backslash separators, kept in the case
// and form in which it is listed (entry 2320 begins with two backslashes). Each list is built
// once, on first use, and never changes.
const std::array<QString, kPak0ManifestSize>& Pak0Manifest();

// The folders removed after the first archive pass, in removal order: every folder that holds a
// Pak0Manifest file, each after all of its own sub-folders. Each text begins with a backslash
// and is meant as the run's folder followed by the text.
const std::array<QString, kTempFolderCount>& tempFolders();
// A tempFolders() text as a path relative to the run's folder: without its backslash.
inline QString relativeFolder(const QString& folder) {
    return folder.mid(1);
}

// The members of a classic pack that the conversion uses, as the pack stores them ('/'
// separators, no leading one): the first manifest for the first pack; for the others the
// members unpacked, or the files packed.
QStringList classicMembers(int pack);

// The files offered to the archive of `pack`, as manifest entries.
QStringList offeredFiles(const packs::Pack& pack);

} // namespace corvane::pakinfo
