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
#include "run_folder.h"

#include <cstring>
#include <vector>

namespace corvane {

namespace {

// A tool's message is quoted in a box; a long one is cut after this many lines.
constexpr qsizetype kQuotedLines = 12;
// Fewer than this share of the classic game's files in pak0.pak: it is another game's data.
constexpr int kExpectedPercent = 90;

// What a tool said, or how it ended when it said nothing, line by line.
QStringList toolMessage(const ProgramRun& run) {
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
    return lines;
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
    m_view.setCaption(QStringLiteral("Total files: ") + QString::number(m_totalFiles));
}

ProgramRun Conversion::runTool(const ToolCommand& command) {
    ProgramRun run = runProgram(m_programFolder + QChar(kSep) + command.tool, command.arguments,
                                m_run->fd(), command.passed);
    m_run->forget();
    return run;
}

Conversion::Step Conversion::ExecCmd(const ToolCommand& command, const QString& archive) {
    if (Step end = stopIfAsked())
        return end;
    const ProgramRun run = runTool(command);
    if (run.stoppedFor != 0)
        return Outcome::Interrupted;
    if (run.succeeded())
        return {};
    m_view.notice(
        {.kind = Notice::Kind::ArchiveNotMade, .subject = archive, .lines = toolMessage(run)});
    return Outcome::ToolFailed;
}

Conversion::Step Conversion::unpack(const packs::Pack& pack) {
    if (Step end = stopIfAsked())
        return end;
    const QString archive = QLatin1String(pack.pak);
    m_view.phaseStarted(ConversionView::Phase::Unpacking, archive);
    // The pack checked before work, by its open descriptor.
    const int file = m_paks.at(size_t(&pack - packs::kPacks)).file.get();
    const ProgramRun run =
        runTool(unpackCommand(quake2Archive(archive), texts(pack.members), file));
    if (run.stoppedFor != 0)
        return Outcome::Interrupted;
    if (run.started && run.exitCode == kSomeSkipped) {
        m_view.notice(
            {.kind = Notice::Kind::SomeNotUnpacked, .subject = archive, .lines = toolMessage(run)});
        return {};
    }
    if (run.succeeded())
        return {};
    m_view.notice(
        {.kind = Notice::Kind::NotUnpacked, .subject = archive, .lines = toolMessage(run)});
    return Outcome::ToolFailed;
}

Conversion::Step Conversion::flushBatch(const QString& archiveName, QStringList& batch) {
    const QStringList handed = std::exchange(batch, QStringList{});
    if (Step end = ExecCmd(zipCommand(archiveName, handed), archiveName))
        return end;
    // Counted once stored: a failed run has ended the conversion above.
    m_totalFiles += int(handed.size());
    m_filesIn[archiveName] += int(handed.size());
    m_view.filesPacked(m_filesIn[archiveName], m_toPack);
    showTotal(); // after every run, so the user sees the work move
    return {};
}

Conversion::Step Conversion::repack(const packs::Pack& pack) {
    m_view.setScreenEnabled(false);
    m_view.passStarted();
    if (Step end = unpack(pack))
        return end;

    // Each offered file is looked up once; the count lets a progress display show the share
    // done.
    const QStringList offered = pakinfo::offeredFiles(pack);
    std::vector<bool> packable(size_t(offered.size()));
    int expected = 0;
    m_toPack = 0;
    for (size_t i = 0; i < packable.size(); ++i) {
        const QString& entry = offered[qsizetype(i)];
        const bool inArchive = packs::isPacked(pack, encodePath(entry));
        expected += inArchive;
        packable[i] = inArchive && m_run->holdsFile(entry);
        m_toPack += packable[i];
    }
    if (pack.allOrNothing && m_toPack < offered.size())
        m_toPack = 0;
    if (m_toPack > 0 || pack.lastRunAlways) {
        const QString archive = QLatin1String(pack.archive);
        m_view.phaseStarted(ConversionView::Phase::Packing, archive);
        QStringList batch; // the files for the next run of the zip tool
        for (size_t i = 0; i < packable.size(); ++i) {
            if (packable[i] && m_toPack > 0)
                batch << offered[qsizetype(i)];
            const bool last = i + 1 == packable.size();
            if (batch.size() == pack.batchSize ||
                (last && (pack.lastRunAlways || !batch.isEmpty())))
                if (Step end = flushBatch(archive, batch))
                    return end;
        }
    }
    if (pack.countsClassic)
        reportUnexpectedData(expected);
    removeUnpacked(pack);
    showTotal();
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
    m_view.notice(
        {.kind = found == 0 ? Notice::Kind::NoClassicFiles : Notice::Kind::FewerClassicFiles,
         .count = found,
         .of = expected});
}

Conversion::Step Conversion::RepackPak0() {
    return repack(packs::kPak0);
}

Conversion::Step Conversion::RepackPak1() {
    return repack(packs::kPak1);
}

Conversion::Step Conversion::RepackPak2() {
    return repack(packs::kPak2);
}

} // namespace corvane
