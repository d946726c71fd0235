// The three archive passes: unpack a Quake 2 archive into the work folder and hand the chosen
// files to the zip tool.

#include "conversion.h"

#include "core/conversion/command_lines.h"
#include "core/conversion/manifests.h"
#include "core/conversion/work_folder.h"
#include "core/platform/files.h"
#include "core/platform/process.h"
#include "core/services.h"

#include <array>
#include <cstring>
#include <vector>

namespace corvane {

namespace {

constexpr int kBatchSize = 30;
// A tool's message is quoted in a box; a long one is cut after this many lines.
constexpr qsizetype kQuotedLines = 12;

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

// What a tool said, or how it ended when it said nothing, for a box.
QString toolMessage(const ProgramRun& run) {
    QStringList lines = run.errorOutput.split(u'\n', Qt::SkipEmptyParts);
    if (lines.size() > kQuotedLines) {
        const qsizetype more = lines.size() - kQuotedLines;
        lines = lines.mid(0, kQuotedLines);
        lines << QStringLiteral("(and %1 more)").arg(more);
    }
    if (run.signal != 0)
        lines << QStringLiteral("The tool was stopped by signal %1 (%2).")
                     .arg(run.signal)
                     .arg(QString::fromLocal8Bit(strsignal(run.signal)));
    else if (lines.isEmpty())
        lines << QStringLiteral("The tool ended with exit code %1.").arg(run.exitCode);
    return lines.join(QStringLiteral("\r\n"));
}

// The exit code with which a tool says some files were skipped and the rest done.
constexpr int kSomeSkipped = 1;

} // namespace

void Conversion::showTotal() {
    m_view.setCaption(QStringLiteral("Total files: ") + QString::number(TotalFiles.value()));
}

void Conversion::ExecCmd(const QString& cmdline, const QString& failure) {
    const ProgramRun run = RunCommandLine(cmdline);
    if (run.succeeded())
        return;
    m_services.MsgBox(failure + QStringLiteral("\r\n") + toolMessage(run));
    removeWhatTheRunMade();
    throw Stopped{Outcome::ToolFailed};
}

void Conversion::unpack(const QString& archive, const QString& members) {
    m_view.phaseStarted(ConversionView::Phase::Unpacking);
    const ProgramRun run =
        RunCommandLine(unpackCommand(m_programFolder, quake2Archive(archive), members));
    m_work->forget();
    if (run.started && run.exitCode == kSomeSkipped) {
        m_services.MsgBox(QStringLiteral("Some files of ") + archive +
                          QStringLiteral(" were not unpacked:\r\n") + toolMessage(run));
        return;
    }
    if (run.succeeded())
        return;
    m_services.MsgBox(archive + QStringLiteral(" could not be unpacked:\r\n") + toolMessage(run));
    removeWhatTheRunMade();
    throw Stopped{Outcome::ToolFailed};
}

void Conversion::flushBatch(const QString& archiveName, Batch& batch) {
    const Batch handed = std::exchange(batch, Batch{});
    ExecCmd(zipCommand(m_programFolder, archiveName, handed.text),
            archiveName + QStringLiteral(" could not be made:"));
    // Counted once stored: a failed run has stopped the conversion above.
    TotalFiles += handed.count;
    m_filesIn[archiveName] += handed.count;
    m_view.filesPacked(TotalFiles, m_toPack);
    showTotal(); // after every run, so the user sees the work move
}

void Conversion::RepackPak0() {
    m_view.setScreenEnabled(false);
    pakinfo::FillPak0Manifest();
    m_view.setScreenEnabled(false);
    m_services.DoEvents();
    ChDir(m_work->path());
    unpack(QStringLiteral("pak0.pak"));

    // Each file is looked up once; the count lets a progress display show the share done.
    std::vector<bool> packable(pakinfo::Pak0Manifest.size());
    for (size_t i = 0; i < packable.size(); ++i) {
        const QString& entry = pakinfo::Pak0Manifest[i];
        packable[i] = isPackedFolder(topFolder(entry)) && m_work->holdsFile(entry);
        m_toPack += packable[i];
    }
    m_view.phaseStarted(ConversionView::Phase::Packing);
    // The last index always flushes, so the caption ends up showing the total.
    Batch batch;
    const size_t last = packable.size() - 1;
    for (size_t i = 0; i <= last; ++i) {
        if (packable[i])
            batch.add(pakinfo::Pak0Manifest[i]);
        if (batch.count == kBatchSize || i == last)
            flushBatch(QStringLiteral("pak0.pk3"), batch);
    }
}

void Conversion::RepackPak1() {
    ChDir(m_work->path());
    unpack(QStringLiteral("pak1.pak"), QStringLiteral("pics/tag1.pcx pics/tag2.pcx"));
    // Only pictures that were unpacked are handed over: the tool would refuse the others.
    Batch batch;
    for (const QString& picture :
         {QStringLiteral("pics\\tag1.pcx"), QStringLiteral("pics\\tag2.pcx")})
        if (m_work->holdsFile(picture))
            batch.add(picture);
    m_toPack += batch.count;
    if (batch.count > 0)
        flushBatch(QStringLiteral("pak1.pk3"), batch);
    removeUnpacked({QStringLiteral("pics/tag1.pcx"), QStringLiteral("pics/tag2.pcx")},
                   {QStringLiteral("pics")});
    showTotal();
}

void Conversion::RepackPak2() {
    m_view.setScreenEnabled(false);
    pakinfo::FillPak2Manifest();
    m_view.setScreenEnabled(false);
    ChDir(m_work->path());
    unpack(QStringLiteral("pak2.pak"));

    Batch batch;
    for (const QString& entry : pakinfo::Pak2Manifest)
        if (isPackedFolder(topFolder(entry)) && m_work->holdsFile(entry))
            batch.add(entry);
    // Both files or none: a lone file is not worth an archive.
    if (batch.count == pakinfo::kPak2ManifestSize) {
        m_toPack += batch.count;
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
