#include "conversion/manifests.h"

#include "conversion/packs.h"
#include "manifest_tables.h"

#include <cstddef>

namespace corvane::pakinfo {

namespace {

using Pak0Entries = std::array<QString, kPak0ManifestSize>;

// Copies the constant texts of [first, end) into `entries`, in ascending index order.
void fillRange(Pak0Entries& entries, int first, int end) {
    for (int i = first; i < end; ++i) {
        const auto index = static_cast<std::size_t>(i);
        entries[index] = QLatin1String(detail::kPak0Entries[index]);
    }
}

// The first manifest is written in five contiguous ranges.
void FillPak0ManifestPart1(Pak0Entries& entries) {
    fillRange(entries, 0, 750);
}
void FillPak0ManifestPart2(Pak0Entries& entries) {
    fillRange(entries, 750, 1650);
}
void FillPak0ManifestPart3(Pak0Entries& entries) {
    fillRange(entries, 1650, 2320);
}
void FillPak0ManifestPart4(Pak0Entries& entries) {
    fillRange(entries, 2320, 2660);
}
void FillPak0ManifestPart5(Pak0Entries& entries) {
    fillRange(entries, 2660, kPak0ManifestSize);
}

Pak0Entries FillPak0Manifest() {
    Pak0Entries entries;
    FillPak0ManifestPart1(entries);
    FillPak0ManifestPart2(entries);
    FillPak0ManifestPart3(entries);
    FillPak0ManifestPart4(entries);
    FillPak0ManifestPart5(entries);
    return entries;
}

} // namespace

const std::array<QString, kPak0ManifestSize>& Pak0Manifest() {
    static const Pak0Entries entries = FillPak0Manifest();
    return entries;
}

QStringList classicMembers(int pack) {
    const packs::Pack& plan = packs::kPacks[pack];
    QStringList members;
    if (plan.offered == packs::Offered::FirstManifest)
        for (const char* entry : detail::kPak0Entries)
            members << QString::fromStdString(packs::memberPath(entry));
    for (const char* member : plan.members.empty() ? plan.packedFiles : plan.members)
        members << QString::fromStdString(packs::memberPath(member));
    return members;
}

QStringList offeredFiles(const packs::Pack& pack) {
    if (pack.offered == packs::Offered::FirstManifest)
        return {Pak0Manifest().begin(), Pak0Manifest().end()};
    QStringList files;
    for (const char* file : pack.packedFiles)
        files << QLatin1String(file);
    return files;
}

const std::array<QString, kTempFolderCount>& tempFolders() {
    static const std::array<QString, kTempFolderCount> folders = [] {
        std::array<QString, kTempFolderCount> texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = QLatin1String(detail::kTempFolderEntries[i]);
        return texts;
    }();
    return folders;
}

} // namespace corvane::pakinfo
