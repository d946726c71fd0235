// "Continue" on the conversion screen: check, run the passes in order in a folder of the run's
// own, install the three archives as one step, and remove the run's folder however it went.

#include "conversion/conversion.h"

#include "conversion/packs.h"
#include "installation.h"
#include "lock.h"
#include "pak_contents.h"
#include "pak_identification.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/stop_signals.h"
#include "run_folder.h"
#include "work_folder.h"

#include <algorithm>

#include <fcntl.h>

namespace corvane {

Conversion::Conversion(const QString& programFolder, const GamePaths& paths, ConversionView& view)
    : m_paths(paths), m_view(view), m_programFolder(programFolder) {}

Conversion::~Conversion() = default;

Outcome Conversion::run() {
    // A stop signal is seen between the steps, so that the run's folder is always removed.
    const StopDeferral deferral;
    Outcome outcome;
    try {
        outcome = convert();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return outcome;
}

Outcome Conversion::convert() {
    if (Step end = checkGamePaths())
        return *end;
    if (Step end = checkBeforeWork())
        return *end;
    m_view.setOkButtonEnabled(false);
    m_view.setScreenEnabled(false);
    m_work->keep();
    m_work->removeLeftovers();
    Installation::recover(m_qfbastion.get(), qfbastionPath());
    m_run = std::make_unique<RunFolder>(m_work->fd(), m_work->path());
    startIdentification();
    // Each pass removes what it unpacked once its archive is made.
    if (Step end = RepackPak0())
        return *end;
    if (Step end = RepackPak1())
        return *end;
    if (Step end = RepackPak2())
        return *end;
    m_view.setScreenEnabled(true);
    reportChangedPaks();
    return installArchives();
}

void Conversion::finish() {
    m_identification.reset();
    m_run.reset();
    m_qfbastionLock.reset();
    m_qfbastion.reset();
    m_paks.clear();
    m_work.reset();
}

Conversion::Step Conversion::checkGamePaths() {
    for (const auto& [path, game] : {std::pair{m_paths.quake2, QStringLiteral("Quake2")},
                                     std::pair{m_paths.quake3, QStringLiteral("Quake3")}}) {
        if (!path.isEmpty())
            continue;
        m_view.notice({.kind = Notice::Kind::PathMissing, .subject = game});
        return Outcome::PathMissing;
    }
    return {};
}

void Conversion::startIdentification() {
    // Read through the packs as they were checked, on descriptors of the thread's own.
    std::vector<io::Fd> opened;
    std::vector<std::string> files;
    for (size_t i = 0; i < std::size(packs::kPacks); ++i) {
        const int checked = i < m_paks.size() ? m_paks[i].file.get() : -1;
        opened.emplace_back(checked >= 0 ? fcntl(checked, F_DUPFD_CLOEXEC, 0) : -1);
        files.push_back(std::string("baseq2/") + packs::kPacks[i].pak);
    }
    m_identification = std::make_unique<PakIdentification>(std::move(opened), std::move(files));
}

const std::vector<PakIdentity>& Conversion::identities() {
    if (!m_identification)
        startIdentification();
    return m_identification->results();
}

void Conversion::reportChangedPaks() {
    QStringList changed;
    const std::vector<PakIdentity>& found = identities();
    for (size_t i = 0; i < found.size(); ++i) {
        const QString pak = quake2Archive(QLatin1String(packs::kPacks[i].pak));
        m_view.pakIdentified(pak, found[i].described());
        if (found[i].match == PakIdentity::Match::Changed)
            changed << QStringLiteral("%1 has the size of Quake 2's %2 but other contents")
                           .arg(QLatin1String(packs::kPacks[i].pak), found[i].release);
    }
    if (changed.isEmpty())
        return;
    m_incomplete = true;
    m_view.notice({.kind = Notice::Kind::ChangedPaks, .lines = changed});
}

QString Conversion::qfbastionPath() const {
    return m_paths.quake3 + QStringLiteral("qfbastion");
}

QString Conversion::targetOf(const QString& name) const {
    return qfbastionPath() + QChar(kSep) + name;
}

Outcome Conversion::installArchives() {
    m_view.phaseStarted(ConversionView::Phase::Installing, qfbastionPath());
    std::vector<qint64> made; // each archive's size; -1: not made
    for (const packs::Pack& pack : packs::kPacks)
        made.push_back(m_run->fileSize(QLatin1String(pack.archive)));
    // All three or none: an archive not made keeps the others out too, so that qfbastion never
    // holds new archives beside old ones.
    if (std::count(made.begin(), made.end(), -1) > 0) {
        for (size_t i = 0; i < made.size(); ++i) {
            const packs::Pack& pack = packs::kPacks[i];
            if (made[i] < 0)
                m_view.notice({.kind = Notice::Kind::NotCopied,
                               .subject = QLatin1String(pack.label),
                               .path = m_work->path(),
                               .flag = pack.checkHint});
        }
        m_view.notice({.kind = Notice::Kind::NoneInstalled, .path = qfbastionPath()});
        reportArchives(made, false);
        return Outcome::NotAllInstalled;
    }
    Installation installation(m_run->fd(), m_qfbastion.get(), qfbastionPath());
    const auto fail = [&](const std::string& archive, const Error& error) {
        const packs::Pack& pack =
            *std::find_if(std::begin(packs::kPacks), std::end(packs::kPacks),
                          [&](const packs::Pack& known) { return archive == known.archive; });
        // Nothing is installed: qfbastion keeps the archives it had, none mixed with new.
        m_view.notice({.kind = Notice::Kind::InstallFailed,
                       .subject = QLatin1String(pack.archive),
                       .path = targetOf(QLatin1String(pack.archive)),
                       .flag = installation.putBack(),
                       .error = error});
        reportArchives(made, false);
        return Outcome::NotAllInstalled;
    };
    for (const packs::Pack& pack : packs::kPacks) {
        try {
            installation.place(pack.archive);
        } catch (const Error& error) {
            return fail(pack.archive, error);
        }
    }
    if (Step end = stopIfAsked())
        return *end;
    try {
        installation.commit();
    } catch (const Error& error) {
        return fail(installation.failedArchive(), error);
    }
    reportArchives(made, true);
    for (const packs::Pack& pack : packs::kPacks)
        m_view.notice({.kind = Notice::Kind::Copied,
                       .subject = QLatin1String(pack.label),
                       .path = targetOf(QLatin1String(pack.archive))});
    return m_incomplete ? Outcome::InstalledIncomplete : Outcome::Installed;
}

void Conversion::reportArchives(const std::vector<qint64>& sizes, bool installed) {
    for (size_t i = 0; i < sizes.size(); ++i) {
        const QString archive = QLatin1String(packs::kPacks[i].archive);
        m_view.archiveDone(archive, filesIn(archive), sizes[i], targetOf(archive),
                           installed && sizes[i] >= 0);
    }
}

} // namespace corvane
