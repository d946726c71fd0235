// The three archive passes: unpack a Quake 2 archive into the program folder and hand the
// chosen files to the zip tool.

#include "command_runner.h"
#include "conversion.h"
#include "conversion/manifests.h"
#include "shell/pakinfo.h"
#include "shell/platform.h"

#include <array>

namespace corvane {

namespace {

constexpr int kBatchSize = 30;

QString topFolder(const QString& entry) {
    const qsizetype separator = entry.indexOf(u'\\');
    return separator < 0 ? QString() : entry.left(separator);
}

bool isPackedFolder(const QString& folder) {
    static const std::array<QString, 5> packed = {QStringLiteral("models"), QStringLiteral("env"),
                                                  QStringLiteral("pics"), QStringLiteral("sound"),
                                                  QStringLiteral("sprites")};
    return std::find(packed.begin(), packed.end(), folder) != packed.end();
}

QString inProgramFolder(const QString& relative) {
    return AppPath() + QChar(kSep) + nativePath(relative);
}

QString quake2Archive(const QString& name) {
    return pakinfo::Quake2Path + QStringLiteral("baseq2") + QChar(kSep) + name;
}

// Whether a manifest entry was unpacked into `programFolder` and goes into the archive.
bool isPackable(const QString& programFolder, const QString& entry) {
    return isPackedFolder(topFolder(entry)) && !Dir(programFolder + QChar(kSep) + entry).isEmpty();
}

// Deletes files, then removes folders, in the order given; each failure is one box.
void removeUnpacked(const QStringList& files, const QStringList& folders) {
    ErrorList errors;
    for (const QString& file : files)
        errors.attempt([&] { Kill(inProgramFolder(file)); });
    for (const QString& folder : folders)
        errors.attempt([&] { RmDir(inProgramFolder(folder)); });
    errors.show();
}

} // namespace

void Conversion::showTotal() {
    m_view.setCaption(QStringLiteral("Total files: ") + QString::number(TotalFiles.value()));
}

void Conversion::flushBatch(const QString& archiveName, Batch& batch) {
    const QString cmdline = zipCommand(AppPath(), archiveName, batch.text);
    TotalFiles += batch.count;
    batch = Batch{};
    ExecCmd(cmdline);
    showTotal(); // after every run, so the user sees the work move
}

void Conversion::RepackPak0() {
    m_view.setScreenEnabled(false);
    pakinfo::FillPak0Manifest();
    m_view.setScreenEnabled(false);
    DoEvents();
    ChDir(AppPath());
    ExecCmd(unpackCommand(AppPath(), quake2Archive(QStringLiteral("pak0.pak"))));

    // The last index always flushes, so the caption ends up showing the total.
    const QString programFolder = AppPath();
    Batch batch;
    const int last = pakinfo::kPak0ManifestSize - 1;
    for (int i = 0; i <= last; ++i) {
        const QString& entry = pakinfo::Pak0Manifest[static_cast<size_t>(i)];
        if (isPackable(programFolder, entry))
            batch.add(entry);
        if (batch.count == kBatchSize || i == last)
            flushBatch(QStringLiteral("pak0.pk3"), batch);
    }
}

void Conversion::RepackPak1() {
    ChDir(AppPath());
    ExecCmd(unpackCommand(AppPath(), quake2Archive(QStringLiteral("pak1.pak")),
                          QStringLiteral("pics/tag1.pcx pics/tag2.pcx")));
    ExecCmd(zipCommand(AppPath(), QStringLiteral("pak1.pk3"),
                       QStringLiteral(" pics\\tag1.pcx pics\\tag2.pcx")));
    removeUnpacked({QStringLiteral("pics/tag1.pcx"), QStringLiteral("pics/tag2.pcx")},
                   {QStringLiteral("pics")});
    try {
        TotalFiles += 2;
    } catch (const RuntimeError&) {
        // The boxes are already shown; an overflowing total keeps its last value.
    }
    showTotal();
}

void Conversion::RepackPak2() {
    m_view.setScreenEnabled(false);
    pakinfo::FillPak2Manifest();
    m_view.setScreenEnabled(false);
    ChDir(AppPath());
    ExecCmd(unpackCommand(AppPath(), quake2Archive(QStringLiteral("pak2.pak"))));

    const QString programFolder = AppPath();
    Batch batch;
    for (const QString& entry : pakinfo::Pak2Manifest) {
        if (isPackable(programFolder, entry))
            batch.add(entry);
        // Both files or none: a lone file is not worth an archive.
        if (batch.count == pakinfo::kPak2ManifestSize)
            flushBatch(QStringLiteral("pak2.pk3"), batch);
    }

    removeUnpacked({QStringLiteral("models/weapons/g_flareg/base.pcx"),
                    QStringLiteral("models/weapons/g_blast/base.pcx")},
                   {QStringLiteral("models/objects/grenade2"),
                    QStringLiteral("models/weapons/g_flareg"),
                    QStringLiteral("models/weapons/g_blast"), QStringLiteral("models/weapons"),
                    QStringLiteral("models/objects"), QStringLiteral("models")});
    m_view.setScreenEnabled(true);
    showTotal();
}

} // namespace corvane
