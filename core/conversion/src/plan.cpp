// A dry run: every check made before work, then what the conversion would do, read from the
// packs' directories and the table of the packs, touching nothing.

#include "conversion/conversion.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "io/tree.h"
#include "pak_contents.h"
#include "pak_identification.h"
#include "platform/files.h"
#include "run_folder.h"
#include "work_folder.h"

#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

namespace {

using Members = std::unordered_map<std::string, const pak::Entry*>;

// The members of a pack by their names ignoring ASCII case, as the tools find them.
Members byName(const PakContents& contents) {
    Members members;
    for (const pak::Entry& member : contents.members)
        members.try_emplace(io::lowerAscii(member.name), &member);
    return members;
}

// Counts the member the tools would find for the file `entry` of the run's folder into what
// the archive would hold.
void countPacked(const Members& members, const QString& entry, ConversionPlan::Pak& planned) {
    const auto member = members.find(io::lowerAscii(treePath(entry)));
    if (member == members.end())
        return;
    ++planned.packed;
    planned.packedBytes += member->second->length;
}

// What the archive of `pack` would hold, by the rules of the pass that makes it.
void planArchive(const packs::Pack& pack, const Members& members, ConversionPlan::Pak& planned) {
    const QStringList offered = pakinfo::offeredFiles(pack);
    for (const QString& entry : offered)
        if (packs::isPacked(pack, encodePath(entry)))
            countPacked(members, entry, planned);
    if (pack.allOrNothing && planned.packed < offered.size())
        planned.packed = 0, planned.packedBytes = 0;
}

} // namespace

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
        for (const pak::Entry& member : m_paks[i].members)
            if (packs::unpacks(pack, member.name)) {
                ++planned.files;
                planned.bytes += member.length;
            }
        planArchive(pack, byName(m_paks[i]), planned);
        planned.identity =
            identifyPak(m_paks[i].file.get(), std::string("baseq2/") + pack.pak).described();
        struct stat target;
        planned.replaces =
            fstatat(m_qfbastion.get(), pack.archive, &target, AT_SYMLINK_NOFOLLOW) == 0;
        plan.paks.push_back(planned);
    }
    finish();
    return {};
}

} // namespace corvane
