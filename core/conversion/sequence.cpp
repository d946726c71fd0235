// "Continue" on the conversion screen: check, run the passes in order, install the three
// archives.

#include "conversion.h"

#include "core/conversion/work_folder.h"
#include "core/game_paths.h"
#include "core/platform/files.h"
#include "core/services.h"

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace corvane {

namespace {

struct Archive {
    const char* name;        // file name in the work folder and in qfbastion
    const char* label;       // how the boxes name it
    bool checkHintOnFailure; // whether the failure box ends with "to see if the file exists"
};

constexpr Archive kArchives[] = {
    {"pak0.pk3", "PAK0.PK3", true},
    {"pak1.pk3", "PAK1.PK3", false},
    {"pak2.pk3", "PAK2.PK3", true},
};

const QString kCopyErrorTitle = QStringLiteral("File copy error");

// Moves `name` from the work folder to `target`, which is never half written: renamed when
// both lie on one file system, else copied beside the target and renamed over it.
void moveArchive(WorkFolder& work, const QString& name, const QString& target) {
    const std::string to = resolve(target);
    struct stat info;
    if (stat(to.c_str(), &info) == 0 &&
        (!S_ISREG(info.st_mode) || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        throw RuntimeError::make(kPathFileAccessError, target); // a read-only target stays
    const std::string from = encodePath(name);
    if (renameat(work.fd(), from.c_str(), AT_FDCWD, to.c_str()) == 0)
        return;
    if (errno != EXDEV)
        throw RuntimeError::make(errno == ENOENT ? kPathNotFound : kPathFileAccessError, target);
    FileCopy(work.pathOf(name), target);
    try {
        work.deleteFile(name);
    } catch (const RuntimeError&) {
        // The copy in qfbastion stands; a local leftover does no harm.
    }
}

} // namespace

Conversion::Conversion(Services& services, const GamePaths& paths, ConversionView& view)
    : m_services(services), m_paths(paths), m_view(view),
      m_programFolder(services.programFolder()) {}

Conversion::~Conversion() = default;

Outcome Conversion::run() {
    try {
        checkGamePaths();
        prepareWorkFolder();
        checkBeforeWork();
        m_view.setOkButtonEnabled(false);
        m_view.setScreenEnabled(false);
        removeLeftovers();
        RepackPak0();
        RemoveTempTree();
        RepackPak1();
        RepackPak2();
        const bool installed = InstallArchives();
        finishWorkFolder();
        return installed ? Outcome::Installed : Outcome::NotAllInstalled;
    } catch (const Stopped& stop) {
        return stop.outcome;
    }
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
        throw Stopped{Outcome::PathMissing};
    }
}

QString Conversion::targetOf(const QString& name) const {
    return m_paths.quake3 + QStringLiteral("qfbastion") + QChar(kSep) + name;
}

bool Conversion::InstallArchives() {
    m_view.phaseStarted(ConversionView::Phase::Installing);
    bool all = true;
    for (const Archive& archive : kArchives) {
        const QString name = QLatin1String(archive.name);
        const QString label = QLatin1String(archive.label);
        const QString target = targetOf(name);
        bool produced = true; // a failed look-up goes on to the move, which then says why
        try {
            produced = m_work->holdsFile(name);
        } catch (const RuntimeError&) {
        }
        if (!produced) {
            QString prompt =
                label + QStringLiteral(" was not copied for some reason, check") + m_work->path();
            if (archive.checkHintOnFailure)
                prompt += QStringLiteral("\r\nto see if the file exists");
            m_services.MsgBox(prompt, kOkOnly, kCopyErrorTitle);
            all = false;
            continue;
        }
        try {
            moveArchive(*m_work, name, target);
        } catch (const RuntimeError& error) {
            // The local archive stays where it is, so nothing is lost.
            m_services.MsgBox(label + QStringLiteral(" could not be copied to ") + target +
                                  QStringLiteral("\r\n") + error.description(),
                              kOkOnly, kCopyErrorTitle);
            all = false;
            continue;
        }
        m_services.MsgBox(label + QStringLiteral(" was copied to") + target);
    }
    return all;
}

} // namespace corvane
