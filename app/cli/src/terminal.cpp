#include "cli/terminal.h"

#include "platform/files.h"

#include <unistd.h>

namespace corvane {

namespace {

QString phaseName(ConversionView::Phase phase) {
    switch (phase) {
    case ConversionView::Phase::Unpacking:
        return QStringLiteral("unpacking");
    case ConversionView::Phase::Packing:
        return QStringLiteral("packing");
    case ConversionView::Phase::Cleaning:
        return QStringLiteral("cleaning");
    case ConversionView::Phase::Installing:
        return QStringLiteral("installing");
    }
    return {};
}

constexpr int kBarWidth = 24;

} // namespace

Terminal::Terminal(std::FILE* stream)
    : m_stream(stream), m_interactive(isatty(fileno(stream)) == 1) {}

void Terminal::say(const QString& text) {
    endProgress();
    QString lines = QStringLiteral("corvane: ") + text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!lines.endsWith(u'\n'))
        lines += u'\n';
    std::fputs(lines.toUtf8().constData(), m_stream);
    std::fflush(m_stream);
}

void Terminal::progress(const QString& line) {
    if (!m_interactive)
        return;
    std::fprintf(m_stream, "\r\033[K%s", line.toUtf8().constData());
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

QString TerminalServices::programFolder() {
    return runningProgramFolder();
}

TerminalProgress::TerminalProgress(Terminal& terminal) : m_terminal(terminal) {
    m_clock.start();
}

void TerminalProgress::phaseStarted(Phase phase) {
    const bool changed = m_phase != phase;
    m_phase = phase;
    if (!m_terminal.interactive() && changed)
        m_terminal.say(phaseName(phase));
    show();
}

void TerminalProgress::filesPacked(int packed, int total) {
    m_packed = packed;
    m_total = total;
    show();
}

void TerminalProgress::show() {
    const int filled = m_total > 0 ? kBarWidth * m_packed / m_total : 0;
    const qint64 seconds = m_clock.elapsed() / 1000;
    m_terminal.progress(QStringLiteral("[%1%2] %3 %4 of %5 files packed  %6:%7")
                            .arg(QString(filled, u'#'), QString(kBarWidth - filled, u'.'))
                            .arg(phaseName(m_phase.value_or(Phase::Unpacking)), -10)
                            .arg(m_packed)
                            .arg(m_total)
                            .arg(seconds / 60)
                            .arg(seconds % 60, 2, 10, QChar(u'0')));
}

} // namespace corvane
