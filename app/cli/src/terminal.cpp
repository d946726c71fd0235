#include "cli/terminal.h"

#include "platform/files.h"

#include <unistd.h>

namespace corvane {

namespace {

QString phaseText(ConversionView::Phase phase, const QString& what) {
    switch (phase) {
    case ConversionView::Phase::Unpacking:
        return QStringLiteral("unpacking ") + what.section(u'/', -1);
    case ConversionView::Phase::Packing:
        return QStringLiteral("packing ") + what;
    case ConversionView::Phase::Cleaning:
        return QStringLiteral("removing the unpacked files");
    case ConversionView::Phase::Installing:
        return QStringLiteral("installing into ") + what;
    }
    return {};
}

constexpr int kBarWidth = 24;

} // namespace

QString readableSize(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

Terminal::Terminal(std::FILE* stream)
    : m_stream(stream), m_interactive(isatty(fileno(stream)) == 1) {}

void Terminal::say(const QString& text) {
    endProgress();
    // The program's name comes first already: "corvane: cannot write to ...".
    QString body = text;
    if (body.startsWith(QStringLiteral("Corvane ")))
        body.remove(0, 8);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Each line as find writes a name: nothing in a name can steer the terminal.
    if (body.endsWith(u'\n'))
        body.chop(1);
    std::string lines = "corvane: ";
    for (const QString& line : body.split(u'\n'))
        lines += escapedLine(encodePath(line)) + '\n';
    std::fputs(lines.c_str(), m_stream);
    std::fflush(m_stream);
}

void Terminal::progress(const QString& line) {
    if (!m_interactive)
        return;
    std::fprintf(m_stream, "\r\033[K%s", escapedLine(encodePath(line)).c_str());
    std::fflush(m_stream);
    m_progressShown = true;
}

void Terminal::endProgress() {
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", m_stream);
    m_progressShown = false;
}

int TerminalServices::messageBox(const QString& prompt, int buttons, const QString& title) {
    const QString heading = title.isEmpty() ? QString() : title + QStringLiteral(": ");
    m_terminal.say(heading + prompt);
    return buttons == kYesNo ? kNo : kOk;
}

void TerminalServices::showFailure(const QString&, const QString& plain) {
    m_terminal.say(plain);
}

void TerminalServices::end(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

QString TerminalServices::programFolder() {
    return runningProgramFolder();
}

TerminalProgress::TerminalProgress(Terminal& terminal) : m_terminal(terminal) {
    m_clock.start();
}

void TerminalProgress::phaseStarted(Phase phase, const QString& what) {
    // The phase before keeps its line.
    if (!m_phase.isEmpty() && m_terminal.interactive())
        m_terminal.say(m_phase);
    m_phase = phaseText(phase, what);
    m_packed = m_total = 0;
    if (m_terminal.interactive())
        show();
    else
        m_terminal.say(m_phase);
}

void TerminalProgress::filesPacked(int packed, int total) {
    m_packed = packed;
    m_total = total;
    show();
}

void TerminalProgress::archiveDone(const QString& archive, int files, qint64 bytes,
                                   const QString& target, bool installed) {
    m_archives.push_back({archive, files, bytes, target, installed});
}

void TerminalProgress::show() {
    const qint64 seconds = m_clock.elapsed() / 1000;
    QString line = QStringLiteral("corvane: ") + m_phase;
    // Counts only where they are known: while an archive is packed.
    if (m_total > 0) {
        const int filled = kBarWidth * m_packed / m_total;
        line += QStringLiteral("  [%1%2] %3 of %4 files")
                    .arg(QString(filled, u'#'), QString(kBarWidth - filled, u'.'))
                    .arg(m_packed)
                    .arg(m_total);
    }
    line += QStringLiteral("  %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    m_terminal.progress(line);
}

void TerminalProgress::summarize() {
    if (!m_phase.isEmpty() && m_terminal.interactive())
        m_terminal.say(m_phase);
    m_phase.clear();
    QStringList lines;
    for (const Archive& archive : m_archives) {
        if (archive.bytes < 0)
            lines << QStringLiteral("  %1  not made").arg(archive.name);
        else
            lines << QStringLiteral("  %1  %2 files, %3  %4")
                         .arg(archive.name)
                         .arg(archive.files)
                         .arg(readableSize(archive.bytes))
                         .arg(archive.installed ? QStringLiteral("installed as ") + archive.target
                                                : QStringLiteral("not installed"));
    }
    m_terminal.say(
        QStringLiteral("done in %1 s:\n").arg(double(m_clock.elapsed()) / 1000, 0, 'f', 1) +
        lines.join(u'\n'));
}

} // namespace corvane
