// A dry run: every check made before work, then what the conversion would do, read from the
// packs' directories and the table of the packs, touching nothing.

#include "conversion/conversion.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "io/tree.h"
#include "pak_contents.h"
#include "platform/files.h"
#include "run_folder.h"
#include "work_folder.h"

#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

namespace {

// The members of a pack by their names ignoring ASCII case, as the tools find them.
std::unordered_map<std::string, const pak::Entry*> byName(const PakContents& contents) {
    std::unordered_map<std::string, const pak::Entry*> members;
    for (const pak::Entry& member : contents.members)
        members.try_emplace(io::lowerAscii(member.name), &member);
    return members;
}

} // namespace

void Conversion::planPak0(ConversionPlan::Pak& planned) const {
    const auto members = byName(m_paks[0]);
    pakinfo::FillPak0Manifest();
    for (const QString& entry : pakinfo::Pak0Manifest) {
        const std::string path = treePath(entry);
        const auto member = members.find(io::lowerAscii(path));
        if (packs::isPacked(packs::kPak0, encodePath(entry)) && member != members.end()) {
            ++planned.packed;
            planned.packedBytes += member->second->length;
        }
    }
}

Conversion::Step Conversion::dryRun(ConversionPlan& plan) {
    Step end = checkGamePaths();
    if (!end)
        end = checkBeforeWork();
    if (end) {
        finish();
        return end;
    }
    plan.workFolder = m_work->path();
    plan.qfbastion = qfbastionPath();
    for (size_t i = 0; i < m_paks.size(); ++i) {
        const packs::Pack& pack = packs::kPacks[i];
        ConversionPlan::Pak planned;
        planned.pak = quake2Archive(QLatin1String(pack.pak));
        planned.archive = QLatin1String(pack.archive);
        const auto members = byName(m_paks[i]);
        for (const pak::Entry& member : m_paks[i].members)
            if (pack.members.empty() || packs::holds(pack.members, member.name)) {
                ++planned.files;
                planned.bytes += member.length;
            }
        if (i == 0) {
            planPak0(planned);
        } else {
            for (const char* file : pack.packedFiles) {
                const auto member = members.find(io::lowerAscii(treePath(QLatin1String(file))));
                if (member != members.end()) {
                    ++planned.packed;
                    planned.packedBytes += member->second->length;
                }
            }
            // The third archive is made of both its files or not at all.
            if (&pack == &packs::kPak2 && planned.packed < int(pack.packedFiles.size()))
                planned.packed = 0, planned.packedBytes = 0;
        }
        struct stat target;
        planned.replaces =
            fstatat(m_qfbastion.get(), pack.archive, &target, AT_SYMLINK_NOFOLLOW) == 0;
        plan.paks.push_back(planned);
    }
    finish();
    return {};
}

} // namespace corvane
