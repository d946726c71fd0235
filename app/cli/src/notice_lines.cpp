// The command line's words for what the conversion tells: plain lines on standard error.

#include "cli/terminal.h"

#include "platform/sizes.h"

#include <cstring>

namespace corvane {

namespace {

QString because(int cause) {
    return QString::fromLocal8Bit(strerror(cause));
}

} // namespace

QString plainText(const Notice& notice) {
    const QString& path = notice.path;
    switch (notice.kind) {
    case Notice::Kind::PathMissing:
        return QStringLiteral("no %1 folder was given").arg(notice.subject);
    case Notice::Kind::NoCacheFolder:
        return QStringLiteral("cannot write to the program folder ") + path +
               QStringLiteral(", and HOME is not set: there is no cache folder to work in");
    case Notice::Kind::WorkFolderRefused:
        return QStringLiteral("will not work in ") + path + QStringLiteral(": ") + notice.detail +
               QStringLiteral(".\nThe work folder must be yours, and no symbolic link may lead "
                              "to it: move that away, or set XDG_CACHE_HOME to a folder of "
                              "yours.");
    case Notice::Kind::NoWritableFolder:
        return QStringLiteral("cannot write to the program folder ") + notice.subject +
               QStringLiteral(" nor to the work folder ") + path +
               QStringLiteral(", where the game files are unpacked and packed");
    case Notice::Kind::LockNotOurs:
        return path + QStringLiteral(" is no file of yours.\nWithout that lock a second "
                                     "conversion could work there at the same time; nothing "
                                     "was done.");
    case Notice::Kind::LockFailed:
        return QStringLiteral("cannot lock ") + path + QStringLiteral(": ") +
               because(notice.cause) +
               QStringLiteral(".\nWithout that lock a second conversion could work there at the "
                              "same time; nothing was done.");
    case Notice::Kind::Busy:
        return QStringLiteral("Another conversion is running in ") + path +
               QStringLiteral(".\nWait until it has ended, then run corvane again.");
    case Notice::Kind::ToolMissing:
        return path + QStringLiteral(" is missing or cannot be run: install corvane again");
    case Notice::Kind::QfbastionNoFolder:
        return path + QStringLiteral(" is no folder of its own (a symbolic link or a file)");
    case Notice::Kind::QfbastionUnopened:
        return QStringLiteral("cannot open ") + path + QStringLiteral(": ") + because(notice.cause);
    case Notice::Kind::QfbastionMissing:
        return path + QStringLiteral(" holds no folder qfbastion");
    case Notice::Kind::QfbastionReadOnly:
        return QStringLiteral("cannot write to ") + path;
    case Notice::Kind::TargetKept:
        return path + QStringLiteral(" ") + notice.detail +
               QStringLiteral(".\nThe three archives are installed together or none: have it "
                              "replaced or moved away.");
    case Notice::Kind::PakUnreadable:
        return path + QStringLiteral(" cannot be unpacked: ") + notice.detail;
    case Notice::Kind::NoRoom:
        return QStringLiteral("not enough free space in ") + path +
               QStringLiteral(": the conversion needs about ") + readableSize(notice.count) +
               QStringLiteral(", ") + readableSize(notice.of) + QStringLiteral(" are free");
    case Notice::Kind::WorkFolderGivenAway:
        return path + QStringLiteral(" was given to another user during the run: what the run "
                                     "had made was removed and nothing was installed");
    case Notice::Kind::ArchiveNotMade:
        return notice.subject + QStringLiteral(" could not be made:\n") + notice.lines.join(u'\n');
    case Notice::Kind::SomeNotUnpacked:
        return QStringLiteral("some files of ") + notice.subject +
               QStringLiteral(" were not unpacked:\n") + notice.lines.join(u'\n');
    case Notice::Kind::NotUnpacked:
        return notice.subject + QStringLiteral(" could not be unpacked:\n") +
               notice.lines.join(u'\n');
    case Notice::Kind::NoClassicFiles:
        return QStringLiteral("pak0.pak holds none of the %1 files of the classic game's "
                              "pak0.pk3: it may be another game's; no archive is installed")
            .arg(notice.of);
    case Notice::Kind::FewerClassicFiles:
        return QStringLiteral("pak0.pak holds %1 of the %2 files of the classic game's pak0.pk3: "
                              "it may be a mod's or a re-release's")
            .arg(notice.count)
            .arg(notice.of);
    case Notice::Kind::ChangedPaks:
        return notice.lines.join(QStringLiteral("; ")) +
               QStringLiteral(": damaged or changed; the archives are made of what it holds");
    case Notice::Kind::NotCopied:
    case Notice::Kind::Copied:
        return {}; // the summary says what became of each archive
    case Notice::Kind::NoneInstalled:
        return QStringLiteral("no archive was installed: they go into ") + path +
               QStringLiteral(" together or not at all");
    case Notice::Kind::InstallFailed:
        return notice.subject + QStringLiteral(" could not be installed, nor the others: ") +
               (notice.error ? notice.error->plain() : QString()) +
               (notice.flag ? QString()
                            : QStringLiteral("\nthe archives swapped before could not be put "
                                             "back; corvane puts them back when it runs next"));
    }
    return {};
}

} // namespace corvane
