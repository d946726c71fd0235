// "Continue" on the conversion screen: check the game folders, run the passes, install the
// three archives and end the program.

#include "conversion.h"
#include "shell/pakinfo.h"
#include "shell/platform.h"

namespace corvane {

namespace {

struct Archive {
    const char* name;        // file name in the program folder and in qfbastion
    const char* label;       // how the boxes name it
    bool checkHintOnFailure; // whether the failure box ends with "to see if the file exists"
};

constexpr Archive kArchives[] = {
    {"pak0.pk3", "PAK0.PK3", true},
    {"pak1.pk3", "PAK1.PK3", false},
    {"pak2.pk3", "PAK2.PK3", true},
};

const QString kCopyErrorTitle = QStringLiteral("File copy error");

void requirePath(const QString& path, const QString& game) {
    if (!path.isEmpty())
        return;
    MsgBox(QStringLiteral("missing important path information, cannot continue!!"));
    MsgBox(QStringLiteral("Either you didnt install %1, or you selected no on a valid %1 path!!")
               .arg(game));
    End();
}

// Copies one archive into place and tells the user how it went. Nothing here stops the
// installation of the next archive.
void installArchive(const Archive& archive) {
    const QString source = AppPath() + QChar(kSep) + QLatin1String(archive.name);
    const QString target = pakinfo::Quake3Path + QStringLiteral("qfbastion") + QChar(kSep) +
                           QLatin1String(archive.name);
    const QString label = QLatin1String(archive.label);

    bool produced = true; // a failed look-up goes on to the copy, which then says why
    try {
        produced = !Dir(source).isEmpty();
    } catch (const RuntimeError&) {
    }
    if (!produced) {
        QString prompt =
            label + QStringLiteral(" was not copied for some reason, check") + AppPath();
        if (archive.checkHintOnFailure)
            prompt += QStringLiteral("\r\nto see if the file exists");
        MsgBox(prompt, kOkOnly, kCopyErrorTitle);
        return;
    }
    try {
        FileCopy(source, target);
    } catch (const RuntimeError& error) {
        // The local archive stays where it is, so nothing is lost.
        MsgBox(label + QStringLiteral(" could not be copied to ") + target +
                   QStringLiteral("\r\n") + error.description(),
               kOkOnly, kCopyErrorTitle);
        return;
    }
    MsgBox(label + QStringLiteral(" was copied to") + target);
    try {
        Kill(source);
    } catch (const RuntimeError&) {
        // The copy in qfbastion stands; a local leftover does no harm.
    }
}

// All unpacking and packing happens in the program folder: without write access every step
// would fail on its own, one box at a time.
void requireWritableProgramFolder() {
    if (IsFolderWritable(AppPath()))
        return;
    MsgBox(QStringLiteral("Corvane cannot write to its program folder ") + AppPath() +
               QStringLiteral("\r\nIt unpacks and packs the game files there. Install Corvane in "
                              "a folder you can write to, then run it again."),
           kOkOnly, QStringLiteral("Program folder not writable"));
    End();
}

} // namespace

void Conversion::InstallArchives() {
    for (const Archive& archive : kArchives)
        installArchive(archive);
}

void Conversion::OKButton_Click() {
    requirePath(pakinfo::Quake2Path, QStringLiteral("Quake2"));
    requirePath(pakinfo::Quake3Path, QStringLiteral("Quake3"));
    requireWritableProgramFolder();
    m_view.setOkButtonEnabled(false);
    m_view.setScreenEnabled(false);
    RepackPak0();
    RemoveTempTree();
    RepackPak1();
    RepackPak2();
    InstallArchives();
    End();
}

} // namespace corvane
