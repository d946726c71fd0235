// The three archive passes: unpack a Quake 2 archive into the run's folder and hand the chosen
// files to the zip tool.

#include "conversion/conversion.h"

#include "conversion/known_paks.h"
#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "conversion/tool_commands.h"
#include "pak_contents.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/services.h"
#include "run_folder.h"

#include <cstring>
#include <vector>

namespace corvane {

namespace {

constexpr int kBatchSize = 30;
// A tool's message is quoted in a box; a long one is cut after this many lines.
constexpr qsizetype kQuotedLines = 12;
// Fewer than this share of the classic game's files in pak0.pak: it is another game's data.
constexpr int kExpectedPercent = 90;

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

QStringList texts(packs::Names names) {
    QStringList list;
    for (const char* name : names)
        list << QLatin1String(name);
    return list;
}

} // namespace

void Conversion::showTotal() {
    m_view.setCaption(QStringLiteral("Total files: ") + QString::number(TotalFiles.value()));
}

ProgramRun Conversion::runTool(const ToolCommand& command) {
    ProgramRun run = runProgram(m_programFolder + QChar(kSep) + command.tool, command.arguments,
                                m_run->fd(), command.passed);
    m_run->forget();
    return run;
}

Conversion::Step Conversion::ExecCmd(const ToolCommand& command, const QString& failure) {
    if (Step end = stopIfAsked())
        return end;
    const ProgramRun run = runTool(command);
    if (run.stoppedFor != 0)
        return Outcome::Interrupted;
    if (run.succeeded())
        return {};
    m_services.MsgBox(failure + QStringLiteral("\r\n") + toolMessage(run));
    return Outcome::ToolFailed;
}

Conversion::Step Conversion::unpack(const QString& archive, const QStringList& members) {
    if (Step end = stopIfAsked())
        return end;
    m_view.phaseStarted(ConversionView::Phase::Unpacking, archive);
    // The pack checked before work, by its open descriptor.
    int file = -1;
    for (size_t i = 0; i < m_paks.size(); ++i)
        if (archive == QLatin1String(packs::kPacks[i].pak))
            file = m_paks[i].file.get();
    const ProgramRun run = runTool(unpackCommand(quake2Archive(archive), members, file));
    if (run.stoppedFor != 0)
        return Outcome::Interrupted;
    if (run.started && run.exitCode == kSomeSkipped) {
        m_services.MsgBox(QStringLiteral("Some files of ") + archive +
                          QStringLiteral(" were not unpacked:\r\n") + toolMessage(run));
        return {};
    }
    if (run.succeeded())
        return {};
    m_services.MsgBox(archive + QStringLiteral(" could not be unpacked:\r\n") + toolMessage(run));
    return Outcome::ToolFailed;
}

Conversion::Step Conversion::flushBatch(const QString& archiveName, Batch& batch) {
    const Batch handed = std::exchange(batch, Batch{});
    if (Step end = ExecCmd(zipCommand(archiveName, handed.files),
                           archiveName + QStringLiteral(" could not be made:")))
        return end;
    // Counted once stored: a failed run has ended the conversion above.
    TotalFiles += handed.count;
    m_filesIn[archiveName] += handed.count;
    m_view.filesPacked(m_filesIn[archiveName], m_toPack);
    showTotal(); // after every run, so the user sees the work move
    return {};
}

Conversion::Step Conversion::RepackPak0() {
    const packs::Pack& pack = packs::kPak0;
    m_view.setScreenEnabled(false);
    pakinfo::FillPak0Manifest();
    m_view.setScreenEnabled(false);
    m_services.DoEvents();
    if (Step end = unpack(QLatin1String(pack.pak)))
        return end;

    // Each file is looked up once; the count lets a progress display show the share done.
    std::vector<bool> packable(pakinfo::Pak0Manifest.size());
    int expected = 0;
    m_toPack = 0;
    for (size_t i = 0; i < packable.size(); ++i) {
        const QString& entry = pakinfo::Pak0Manifest[i];
        const bool inArchive = packs::isPacked(pack, encodePath(entry));
        expected += inArchive;
        packable[i] = inArchive && m_run->holdsFile(entry);
        m_toPack += packable[i];
    }
    m_view.phaseStarted(ConversionView::Phase::Packing, QLatin1String(pack.archive));
    // The last index always flushes, so the caption ends up showing the total.
    Batch batch;
    const size_t last = packable.size() - 1;
    for (size_t i = 0; i <= last; ++i) {
        if (packable[i])
            batch.add(pakinfo::Pak0Manifest[i]);
        if (batch.count == kBatchSize || i == last)
            if (Step end = flushBatch(QLatin1String(pack.archive), batch))
                return end;
    }
    reportUnexpectedData(expected);
    return {};
}

void Conversion::reportUnexpectedData(int expected) {
    // A known release is what it is (the demo holds fewer files, and says so in its name).
    if (identities().at(0).match == PakIdentity::Match::Known)
        return;
    const int found = filesIn(QLatin1String(packs::kPak0.archive));
    if (found * 100 >= expected * kExpectedPercent)
        return;
    m_incomplete = true;
    // None at all: the zip tool made no archive, and then none is installed.
    if (found == 0) {
        m_services.MsgBox(QStringLiteral("pak0.pak holds none of the %1 files of the classic "
                                         "game's pak0.pk3: it may be another game's.\r\npak0.pk3 "
                                         "is not made, and no archive is installed.")
                              .arg(expected));
        return;
    }
    m_services.MsgBox(QStringLiteral("pak0.pak holds %1 of the %2 files of the classic game's "
                                     "pak0.pk3: it may be a mod's or a re-release's.\r\npak0.pk3 "
                                     "is made of the %1 that were found.")
                          .arg(found)
                          .arg(expected));
}

Conversion::Step Conversion::RepackPak1() {
    const packs::Pack& pack = packs::kPak1;
    if (Step end = unpack(QLatin1String(pack.pak), texts(pack.members)))
        return end;
    // Only pictures that were unpacked are handed over: the tool would refuse the others.
    Batch batch;
    for (const QString& picture : texts(pack.packedFiles))
        if (m_run->holdsFile(picture))
            batch.add(picture);
    m_toPack = batch.count;
    if (batch.count > 0) {
        m_view.phaseStarted(ConversionView::Phase::Packing, QLatin1String(pack.archive));
        if (Step end = flushBatch(QLatin1String(pack.archive), batch))
            return end;
    }
    removeUnpacked(texts(pack.removedFiles), texts(pack.removedFolders));
    showTotal();
    return {};
}

Conversion::Step Conversion::RepackPak2() {
    const packs::Pack& pack = packs::kPak2;
    m_view.setScreenEnabled(false);
    pakinfo::FillPak2Manifest();
    m_view.setScreenEnabled(false);
    if (Step end = unpack(QLatin1String(pack.pak)))
        return end;

    Batch batch;
    for (const QString& entry : pakinfo::Pak2Manifest)
        if (packs::isPacked(packs::kPak0, encodePath(entry)) && m_run->holdsFile(entry))
            batch.add(entry);
    // Both files or none: a lone file is not worth an archive.
    if (batch.count == pakinfo::kPak2ManifestSize) {
        m_toPack = batch.count;
        m_view.phaseStarted(ConversionView::Phase::Packing, QLatin1String(pack.archive));
        if (Step end = flushBatch(QLatin1String(pack.archive), batch))
            return end;
    }
    removeUnpacked(texts(pack.removedFiles), texts(pack.removedFolders));
    m_view.setScreenEnabled(true);
    showTotal();
    return {};
}

} // namespace corvane
