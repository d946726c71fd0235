#include "manifests.h"

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
    Pak2Manifest[0] = QStringLiteral("models\\weapons\\g_blast\\base.pcx");
    Pak2Manifest[1] = QStringLiteral("models\\weapons\\g_flareg\\base.pcx");
}

const std::array<QString, kTempFolderCount>& TempFolders() {
    static const std::array<QString, kTempFolderCount> folders = [] {
        std::array<QString, kTempFolderCount> texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = QLatin1String(detail::kTempFolderEntries[i]);
        return texts;
    }();
    return folders;
}

} // namespace corvane::pakinfo
