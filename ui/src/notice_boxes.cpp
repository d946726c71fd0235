#include "ui/notice_boxes.h"

#include "platform/sizes.h"

#include <cstring>

namespace corvane {

namespace {

const QString kBreak = QStringLiteral("\r\n");

QString because(int cause) {
    return QString::fromLocal8Bit(strerror(cause));
}

QString prompt(const Notice& notice) {
    const QString& path = notice.path;
    switch (notice.kind) {
    case Notice::Kind::PathMissing:
        return {}; // two boxes of their own
    case Notice::Kind::NoCacheFolder:
        return QStringLiteral("Corvane cannot write to its program folder ") + path +
               QStringLiteral(" and finds no cache folder of yours: HOME is not set.");
    case Notice::Kind::WorkFolderRefused:
        return QStringLiteral("Corvane will not work in ") + path + QStringLiteral(": ") +
               notice.detail + QStringLiteral(".") + kBreak +
               QStringLiteral("Its work folder must be yours, and no symbolic link may lead to "
                              "it. Move that away, or set XDG_CACHE_HOME to a folder of yours, "
                              "then run Corvane again.");
    case Notice::Kind::NoWritableFolder:
        return QStringLiteral("Corvane cannot write to its program folder ") + notice.subject +
               QStringLiteral(" nor to its work folder ") + path + kBreak +
               QStringLiteral("It unpacks and packs the game files there. Make one of them "
                              "writable, then run it again.");
    case Notice::Kind::LockNotOurs:
    case Notice::Kind::LockFailed:
        return (notice.kind == Notice::Kind::LockNotOurs
                    ? path + QStringLiteral(" is no file of yours")
                    : QStringLiteral("Corvane cannot lock ") + path + QStringLiteral(": ") +
                          because(notice.cause)) +
               QStringLiteral(".") + kBreak +
               QStringLiteral("Without that lock a second conversion could work there at the "
                              "same time; nothing was done.");
    case Notice::Kind::Busy:
        return QStringLiteral("Another conversion is running in ") + path + QStringLiteral(".") +
               kBreak + QStringLiteral("Wait until it has ended, then run Corvane again.");
    case Notice::Kind::ToolMissing:
        return path + QStringLiteral(" is missing or cannot be run.") + kBreak +
               QStringLiteral("Install Corvane again, then run it again.");
    case Notice::Kind::QfbastionNoFolder:
        return path + QStringLiteral(" is no folder of its own (a symbolic link or a file).") +
               kBreak +
               QStringLiteral("The pk3 files are installed there: put the folder itself there, "
                              "then run Corvane again.");
    case Notice::Kind::QfbastionUnopened:
        return QStringLiteral("Corvane cannot open ") + path + QStringLiteral(": ") +
               because(notice.cause);
    case Notice::Kind::QfbastionMissing:
        return QStringLiteral("The folder qfbastion is missing in ") + path + kBreak +
               QStringLiteral("The pk3 files are installed there: create it, then run Corvane "
                              "again.");
    case Notice::Kind::QfbastionReadOnly:
        return QStringLiteral("Corvane cannot write to ") + path + kBreak +
               QStringLiteral("The pk3 files are installed there: make it writable, then run "
                              "Corvane again.");
    case Notice::Kind::TargetKept:
        return path + QStringLiteral(" ") + notice.detail + QStringLiteral(".") + kBreak +
               QStringLiteral("Corvane installs the three archives together or none: have it "
                              "replaced or moved away, then run Corvane again.");
    case Notice::Kind::PakUnreadable:
        return path + QStringLiteral(" cannot be unpacked: ") + notice.detail;
    case Notice::Kind::NoRoom:
        return QStringLiteral("There is not enough free space in ") + path +
               QStringLiteral(": the conversion needs about ") + readableSize(notice.count) +
               QStringLiteral(", ") + readableSize(notice.of) + QStringLiteral(" are free.");
    case Notice::Kind::WorkFolderGivenAway:
        return path + QStringLiteral(" was given to another user while Corvane worked in it.") +
               kBreak +
               QStringLiteral("What the run had made was removed and nothing was installed.");
    case Notice::Kind::ArchiveNotMade:
        return notice.subject + QStringLiteral(" could not be made:") + kBreak +
               notice.lines.join(kBreak);
    case Notice::Kind::SomeNotUnpacked:
        return QStringLiteral("Some files of ") + notice.subject +
               QStringLiteral(" were not unpacked:") + kBreak + notice.lines.join(kBreak);
    case Notice::Kind::NotUnpacked:
        return notice.subject + QStringLiteral(" could not be unpacked:") + kBreak +
               notice.lines.join(kBreak);
    case Notice::Kind::NoClassicFiles:
        return QStringLiteral("pak0.pak holds none of the %1 files of the classic game's "
                              "pak0.pk3: it may be another game's.")
                   .arg(notice.of) +
               kBreak + QStringLiteral("pak0.pk3 is not made, and no archive is installed.");
    case Notice::Kind::FewerClassicFiles:
        return QStringLiteral("pak0.pak holds %1 of the %2 files of the classic game's pak0.pk3: "
                              "it may be a mod's or a re-release's.")
                   .arg(notice.count)
                   .arg(notice.of) +
               kBreak +
               QStringLiteral("pak0.pk3 is made of the %1 that were found.").arg(notice.count);
    case Notice::Kind::ChangedPaks:
        return notice.lines.join(kBreak) + QStringLiteral(": it is damaged or was changed.") +
               kBreak + QStringLiteral("The archives are made of what it holds.");
    case Notice::Kind::NotCopied:
        return notice.subject + QStringLiteral(" was not copied for some reason, check") + path +
               (notice.flag ? kBreak + QStringLiteral("to see if the file exists") : QString());
    case Notice::Kind::NoneInstalled:
        return QStringLiteral("No archive was installed: the archives go into ") + path +
               QStringLiteral(" together or not at all, and it keeps those it had.");
    case Notice::Kind::InstallFailed:
        return notice.subject.toUpper() + QStringLiteral(" could not be copied to ") + path +
               kBreak + (notice.error ? notice.error->description() : QString()) + kBreak +
               (notice.flag ? QStringLiteral("No archive was installed.")
                            : QStringLiteral("The archives swapped before it could not be put "
                                             "back; Corvane puts them back when it runs next."));
    case Notice::Kind::Copied:
        return notice.subject + QStringLiteral(" was copied to") + path;
    }
    return {};
}

} // namespace

std::vector<NoticeBox> boxesFor(const Notice& notice) {
    switch (notice.kind) {
    case Notice::Kind::PathMissing:
        return {{QStringLiteral("missing important path information, cannot continue!!"), {}},
                {QStringLiteral("Either you didnt install %1, or you selected no on a valid %1 "
                                "path!!")
                     .arg(notice.subject),
                 {}}};
    case Notice::Kind::NotCopied:
        return {{prompt(notice), QStringLiteral("File copy error")}};
    default:
        return {{prompt(notice), {}}};
    }
}

} // namespace corvane
