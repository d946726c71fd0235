#include "cli/terminal.h"

#include "platform/files.h"

#include <QStringList>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cwchar>
#include <tuple>

#include <sys/ioctl.h>
#include <unistd.h>

namespace corvane {

namespace {

// The phase as its line says it: what is done, and to what.
std::pair<QString, QString> phaseText(ConversionView::Phase phase, const QString& what) {
    switch (phase) {
    case ConversionView::Phase::Unpacking:
        return {QStringLiteral("unpacking "), what.section(u'/', -1)};
    case ConversionView::Phase::Packing:
        return {QStringLiteral("packing "), what};
    case ConversionView::Phase::Cleaning:
        return {QStringLiteral("removing the unpacked files"), QString()};
    case ConversionView::Phase::Installing:
        return {QStringLiteral("installing into "), what};
    }
    return {};
}

// Counted by the handler of SIGWINCH: the terminal's width is read again after a change.
volatile std::sig_atomic_t g_sizeChanges = 0;

void onSizeChange(int) {
    g_sizeChanges = g_sizeChanges + 1;
}

// The least of a path kept on the progress line when the line is too long.
constexpr int kLeastOfAPath = 12;
// The bar of the files packed: at most and at least, in columns.
constexpr int kBarWidth = 24;
constexpr int kLeastBar = 5;

const QString kEllipsis = QStringLiteral("\u2026");

int columnsOf(char32_t character) {
    const int columns = wcwidth(wchar_t(character));
    return columns < 0 ? 1 : columns; // unknown here (a C locale): taken as one
}

// The longest start (or end, `fromTheEnd`) of `text` within `columns` columns.
QString within(const QString& text, int columns, bool fromTheEnd) {
    const QList<uint> characters = text.toUcs4();
    qsizetype kept = 0;
    for (int used = 0; kept < characters.size(); ++kept) {
        const uint next = characters[fromTheEnd ? characters.size() - 1 - kept : kept];
        used += columnsOf(char32_t(next));
        if (used > columns)
            break;
    }
    const QList<uint> part =
        fromTheEnd ? characters.mid(characters.size() - kept) : characters.first(kept);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(part.constData()), part.size());
}

} // namespace

int columnsOf(const QString& text) {
    int columns = 0;
    for (const uint character : text.toUcs4())
        columns += columnsOf(char32_t(character));
    return columns;
}

QString shortenedInTheMiddle(const QString& text, int columns) {
    if (columnsOf(text) <= columns)
        return text;
    if (columns <= 1)
        return columns == 1 ? kEllipsis : QString();
    // The end tells more of a path (".../Quake 3 Arena/qfbastion") than its start.
    const int start = (columns - 1) * 2 / 5;
    return within(text, start, false) + kEllipsis + within(text, columns - 1 - start, true);
}

Terminal::Terminal(std::FILE* stream)
    : m_stream(stream), m_interactive(isatty(fileno(stream)) == 1) {
    if (!m_interactive)
        return;
    struct sigaction action {};
    action.sa_handler = onSizeChange;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // Fails only for a signal that does not exist; the width is then read once.
    (void)sigaction(SIGWINCH, &action, nullptr);
}

int Terminal::room() {
    if (m_sizesSeen != g_sizeChanges) {
        m_sizesSeen = g_sizeChanges;
        winsize size{};
        const char* variable = std::getenv("COLUMNS");
        if (ioctl(fileno(m_stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            m_columns = size.ws_col;
        else if (variable && std::atoi(variable) > 0)
            m_columns = std::atoi(variable);
    }
    // The last column left free: some terminals wrap as soon as it is written.
    return std::max(1, m_columns - 1);
}

void Terminal::say(const QString& text) {
    endProgress();
    QString body = text;
    // Each line as find writes a name: nothing in a name can steer the terminal.
    if (body.endsWith(u'\n'))
        body.chop(1);
    std::string lines = "corvane: ";
    for (const QString& line : body.split(u'\n'))
        lines += escapedLine(encodePath(line)) + '\n';
    // A message that cannot be written (a closed pipe) is lost, nothing more.
    (void)std::fputs(lines.c_str(), m_stream);
    (void)std::fflush(m_stream);
}

void Terminal::progress(const QString& line) {
    if (!m_interactive)
        return;
    // Nothing in a name can steer the terminal. A line longer than the terminal would wrap,
    // and a carriage return cannot take its first part back.
    const QString escaped = decodePath(escapedLine(encodePath(line)));
    const int columns = room();
    const QString shown = columnsOf(escaped) <= columns ? escaped : within(escaped, columns, false);
    (void)std::fprintf(m_stream, "\r\033[K%s", shown.toUtf8().constData()); // lost, as above
    (void)std::fflush(m_stream);
    m_progressShown = true;
}

void Terminal::endProgress() {
    if (!m_progressShown)
        return;
    (void)std::fputs("\r\033[K", m_stream); // lost, as a message is
    m_progressShown = false;
}

TerminalProgress::TerminalProgress(Terminal& terminal) : m_terminal(terminal) {
    m_clock.start();
}

void TerminalProgress::phaseStarted(Phase phase, const QString& what) {
    // The phase before keeps its line.
    if (!m_phase.isEmpty() && m_terminal.interactive())
        m_terminal.say(m_phase);
    std::tie(m_action, m_object) = phaseText(phase, what);
    m_phase = m_action + m_object;
    m_packed = m_total = 0;
    if (m_terminal.interactive())
        show();
    else
        m_terminal.say(m_phase);
}

void TerminalProgress::notice(const Notice& notice) {
    if (const QString text = plainText(notice); !text.isEmpty())
        m_terminal.say(text);
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
    m_terminal.progress(progressLine(m_terminal.room()));
}

QString TerminalProgress::progressLine(int room) const {
    const qint64 seconds = m_clock.elapsed() / 1000;
    const QString head = QStringLiteral("corvane: ") + m_action;
    const QString time =
        QStringLiteral("  %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    const int object = columnsOf(m_object);
    const int leastObject = std::min(object, kLeastOfAPath);
    // Counts only where they are known: while an archive is packed. The bar takes the room
    // left, up to its full width, measured with the count at its widest so that it keeps its
    // width; the time gives way before the path is cut below its least.
    const QStringList forms = {QStringLiteral("%1 of %2 files"), QStringLiteral("%1/%2")};
    for (const QString& tail : {time, QString()}) {
        for (const bool withBar : {true, false})
            for (const QString& form : m_total > 0 ? forms : QStringList()) {
                const QString count = form.arg(m_packed).arg(m_total);
                const int fixed = columnsOf(head) + object +
                                  columnsOf(form.arg(m_total).arg(m_total)) + columnsOf(tail);
                const int bar = std::min(kBarWidth, room - fixed - 5); // "  [" and "] "
                if (withBar && bar < kLeastBar)
                    continue;
                if (withBar) {
                    const int filled = bar * m_packed / m_total;
                    return head + m_object +
                           QStringLiteral("  [%1%2] ")
                               .arg(QString(filled, u'#'), QString(bar - filled, u'.')) +
                           count + tail;
                }
                if (fixed + 2 <= room)
                    return head + m_object + QStringLiteral("  ") + count + tail;
            }
        const int fixed = columnsOf(head) + columnsOf(tail);
        if (fixed + leastObject <= room)
            return head + shortenedInTheMiddle(m_object, room - fixed) + tail;
    }
    return shortenedInTheMiddle(head + m_object, room);
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
        m_sources.join(u'\n') + (m_sources.isEmpty() ? QString() : QStringLiteral("\n")) +
        lines.join(u'\n'));
}

void TerminalProgress::setSources(const QStringList& lines) {
    for (const QString& line : lines)
        m_sources << QStringLiteral("  ") + line;
}

void TerminalProgress::pakIdentified(const QString& pak, const QString& identity) {
    m_sources << QStringLiteral("  %1  %2").arg(pak, identity);
}

} // namespace corvane
