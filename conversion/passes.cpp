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

QString inProgramFolder(const QString& entry) {
    return AppPath() + QChar(kSep) + entry;
}

QString quake2Archive(const QString& name) {
    return pakinfo::Quake2Path + QStringLiteral("baseq2") + QChar(kSep) + name;
}

// Whether a manifest entry was unpacked and goes into the archive.
bool isPackable(const QString& entry) {
    return isPackedFolder(topFolder(entry)) && !Dir(inProgramFolder(entry)).isEmpty();
}

} // namespace

void Conversion::showTotal() {
    m_view.setCaption(QStringLiteral("Total files: ") + QString::number(TotalFiles.value()));
}

void Conversion::flushBatch(const QString& archiveName, QString& batchText, Counter16& batchCount) {
    const QString cmdline = zipCommand(AppPath(), archiveName, batchText);
    batchText.clear();
    TotalFiles += batchCount;
    batchCount = 0;
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

    QString batchText;
    Counter16 batchCount;
    const int last = pakinfo::kPak0ManifestSize - 1;
    for (int i = 0; i <= last; ++i) {
        const QString& entry = pakinfo::Pak0Manifest[static_cast<size_t>(i)];
        if (isPackable(entry)) {
            batchText += u' ' + entry;
            ++batchCount;
        }
        if (batchCount == kBatchSize || i == last)
            flushBatch(QStringLiteral("pak0.pk3"), batchText, batchCount);
    }
    showTotal();
}

void Conversion::RepackPak1() {
    ChDir(AppPath());
    ExecCmd(unpackCommand(AppPath(), quake2Archive(QStringLiteral("pak1.pak")),
                          QStringLiteral("pics/tag1.pcx pics/tag2.pcx")));
    ExecCmd(zipCommand(AppPath(), QStringLiteral("pak1.pk3"),
                       QStringLiteral(" pics\\tag1.pcx pics\\tag2.pcx")));

    ErrorList errors;
    for (const char* picture : {"tag1.pcx", "tag2.pcx"}) {
        try {
            Kill(inProgramFolder(QStringLiteral("pics") + QChar(kSep) + QLatin1String(picture)));
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
    }
    try {
        RmDir(inProgramFolder(QStringLiteral("pics")));
    } catch (const RuntimeError& error) {
        errors.record(error);
    }
    errors.show();
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

    QString batchText;
    Counter16 batchCount;
    for (const QString& entry : pakinfo::Pak2Manifest) {
        if (isPackable(entry)) {
            batchText += u' ' + entry;
            ++batchCount;
        }
        // Both files or none: a lone file is not worth an archive.
        if (batchCount == pakinfo::kPak2ManifestSize)
            flushBatch(QStringLiteral("pak2.pk3"), batchText, batchCount);
    }

    ErrorList errors;
    const QString sep(kSep);
    const QStringList files = {QStringLiteral("models/weapons/g_flareg/base.pcx"),
                               QStringLiteral("models/weapons/g_blast/base.pcx")};
    const QStringList folders = {
        QStringLiteral("models/objects/grenade2"), QStringLiteral("models/weapons/g_flareg"),
        QStringLiteral("models/weapons/g_blast"),  QStringLiteral("models/weapons"),
        QStringLiteral("models/objects"),          QStringLiteral("models")};
    for (const QString& file : files) {
        try {
            Kill(inProgramFolder(nativePath(file)));
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
    }
    for (const QString& folder : folders) {
        try {
            RmDir(inProgramFolder(nativePath(folder)));
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
    }
    errors.show();
    m_view.setScreenEnabled(true);
    showTotal();
}

} // namespace corvane
