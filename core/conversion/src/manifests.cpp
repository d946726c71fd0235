#include "conversion/manifests.h"

#include "conversion/packs.h"

#include <cstddef>

namespace corvane::pakinfo {

std::array<QString, kPak0ManifestSize> Pak0Manifest;
std::array<QString, kPak2ManifestSize> Pak2Manifest;

namespace {

// Copies the constant texts of [first, end) into Pak0Manifest, in ascending index order.
void fillRange(int first, int end) {
    for (int i = first; i < end; ++i) {
        const auto index = static_cast<std::size_t>(i);
        Pak0Manifest[index] = QLatin1String(detail::kPak0Entries[index]);
    }
}

} // namespace

void FillPak0ManifestPart1() {
    fillRange(0, 750);
}
void FillPak0ManifestPart2() {
    fillRange(750, 1650);
}
void FillPak0ManifestPart3() {
    fillRange(1650, 2320);
}
void FillPak0ManifestPart4() {
    fillRange(2320, 2660);
}
void FillPak0ManifestPart5() {
    fillRange(2660, kPak0ManifestSize);
}

void FillPak0Manifest() {
    FillPak0ManifestPart1();
    FillPak0ManifestPart2();
    FillPak0ManifestPart3();
    FillPak0ManifestPart4();
    FillPak0ManifestPart5();
}

void FillPak2Manifest() {
    for (std::size_t i = 0; i < Pak2Manifest.size(); ++i)
        Pak2Manifest[i] = QLatin1String(packs::kPak2.packedFiles[i]);
}

QStringList classicMembers(int pack) {
    const packs::Pack& plan = packs::kPacks[pack];
    QStringList members;
    if (pack == 0)
        for (const char* entry : detail::kPak0Entries)
            members << QLatin1String(entry);
    for (const char* member : plan.members.empty() ? plan.packedFiles : plan.members)
        members << QLatin1String(member);
    for (QString& member : members) {
        member.replace(u'\\', u'/');
        while (member.startsWith(u'/'))
            member.remove(0, 1);
    }
    return members;
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
