// "Continue" on the conversion screen: check, run the passes in order in a folder of the run's
// own, install the three archives as one step, and remove the run's folder however it went.

#include "conversion.h"

#include "core/conversion/installation.h"
#include "core/conversion/packs.h"
#include "core/conversion/run_folder.h"
#include "core/game_paths.h"
#include "core/platform/files.h"
#include "core/platform/stop_signals.h"
#include "core/services.h"

namespace corvane {

namespace {

const QString kCopyErrorTitle = QStringLiteral("File copy error");

} // namespace

Conversion::Conversion(Services& services, const GamePaths& paths, ConversionView& view)
    : m_services(services), m_paths(paths), m_view(view),
      m_programFolder(services.programFolder()) {}

Conversion::~Conversion() = default;

Outcome Conversion::run() {
    // A stop signal is seen between the steps, so that the run's folder is always removed.
    const StopDeferral deferral;
    try {
        checkGamePaths();
        checkBeforeWork();
        m_view.setOkButtonEnabled(false);
        m_view.setScreenEnabled(false);
        m_work.removeLeftovers();
        m_run = std::make_unique<RunFolder>(m_work.fd(), m_work.path());
        RepackPak0();
        RemoveTempTree();
        RepackPak1();
        RepackPak2();
        const bool installed = InstallArchives();
        finish();
        return !installed     ? Outcome::NotAllInstalled
               : m_incomplete ? Outcome::InstalledIncomplete
                              : Outcome::Installed;
    } catch (const Halt& halt) {
        finish();
        return halt.outcome;
    } catch (...) {
        finish();
        throw;
    }
}

void Conversion::finish() {
    m_run.reset();
    m_qfbastion.reset();
    m_work = WorkFolder();
}

void Conversion::checkGamePaths() {
    for (const auto& [path, game] : {std::pair{m_paths.quake2, QStringLiteral("Quake2")},
                                     std::pair{m_paths.quake3, QStringLiteral("Quake3")}}) {
        if (!path.isEmpty())
            continue;
        m_services.MsgBox(QStringLiteral("missing important path information, cannot continue!!"));
        m_services.MsgBox(
            QStringLiteral("Either you didnt install %1, or you selected no on a valid %1 path!!")
                .arg(game));
        throw Halt{Outcome::PathMissing};
    }
}

QString Conversion::qfbastionPath() const {
    return m_paths.quake3 + QStringLiteral("qfbastion");
}

QString Conversion::targetOf(const QString& name) const {
    return qfbastionPath() + QChar(kSep) + name;
}

bool Conversion::InstallArchives() {
    m_view.phaseStarted(ConversionView::Phase::Installing);
    Installation installation(m_run->fd(), m_qfbastion.get(), qfbastionPath());
    std::vector<const packs::Pack*> produced;
    for (const packs::Pack& pack : packs::kPacks) {
        bool made = true; // a failed look-up goes on to placing it, which then says why
        try {
            made = m_run->holdsFile(QLatin1String(pack.archive));
        } catch (const RuntimeError&) {
        }
        try {
            if (made)
                installation.place(pack.archive);
        } catch (const RuntimeError& error) {
            // Nothing is installed: qfbastion keeps the archives it had, none mixed with new.
            m_services.MsgBox(
                QLatin1String(pack.label) + QStringLiteral(" could not be copied to ") +
                    targetOf(QLatin1String(pack.archive)) + QStringLiteral("\r\n") +
                    error.description() + QStringLiteral("\r\nNo archive was installed."),
                kOkOnly, kCopyErrorTitle);
            return false;
        }
        produced.push_back(made ? &pack : nullptr);
    }
    stopIfAsked();
    try {
        installation.commit();
    } catch (const RuntimeError& error) {
        m_services.MsgBox(error.description(), kOkOnly, kCopyErrorTitle);
        return false;
    }
    bool all = true;
    for (size_t i = 0; i < produced.size(); ++i) {
        const packs::Pack& pack = packs::kPacks[i];
        const QString label = QLatin1String(pack.label);
        if (produced[i]) {
            m_services.MsgBox(label + QStringLiteral(" was copied to") +
                              targetOf(QLatin1String(pack.archive)));
            continue;
        }
        QString prompt =
            label + QStringLiteral(" was not copied for some reason, check") + m_work.path();
        if (pack.checkHint)
            prompt += QStringLiteral("\r\nto see if the file exists");
        m_services.MsgBox(prompt, kOkOnly, kCopyErrorTitle);
        all = false;
    }
    return all;
}

} // namespace corvane
