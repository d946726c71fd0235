#pragma once

// The command line's side of the conversion's view: what the wizard shows in boxes becomes lines
// on standard error in the command line's own words, and the conversion one line per phase, with
// a live progress bar on a terminal, and one summary at the end.

#include "conversion/conversion.h"
#include "platform/sizes.h"

#include <QElapsedTimer>

#include <cstdio>
#include <vector>

namespace corvane {

// Standard error, which may be a terminal showing a progress line that messages must not mix
// with. Lines that cannot be written (a closed pipe) are lost, nothing more.
class Terminal {
public:
    explicit Terminal(std::FILE* stream = stderr);
    bool interactive() const { return m_interactive; }
    // The columns a progress line may take: one less than the terminal's width, read again
    // after each change of the window's size (SIGWINCH), so that it never wraps.
    int room();
    // A message of one or more lines, the first after the program's name; the progress line,
    // if any, is cleared first.
    void say(const QString& text);
    // Replaces the progress line (a terminal only); cut to room() if it is longer.
    void progress(const QString& line);
    void endProgress();

private:
    std::FILE* m_stream;
    bool m_interactive;
    bool m_progressShown = false;
    int m_columns = 80;
    int m_sizesSeen = -1; // the window's size changes read
};

// What the conversion tells, in the command line's words; nothing when the summary says it.
QString plainText(const Notice& notice);

// The columns `text` takes on a terminal.
int columnsOf(const QString& text);
// `text` within `columns` columns: cut in the middle, where "…" stands for what is left out.
QString shortenedInTheMiddle(const QString& text, int columns);

// The conversion as the command line shows it: a line per phase, with a bar of the files
// packed while an archive is packed and the time taken (live on a terminal), then a summary.
class TerminalProgress : public ConversionView {
public:
    explicit TerminalProgress(Terminal& terminal);

    void setScreenEnabled(bool) override {}
    void setOkButtonEnabled(bool) override {}
    void setCaption(const QString&) override {}
    void setProgressText(const QString&) override {}
    void phaseStarted(Phase phase, const QString& what) override;
    void filesPacked(int packed, int total) override;
    void archiveDone(const QString& archive, int files, qint64 bytes, const QString& target,
                     bool installed) override;

    void pakIdentified(const QString& pak, const QString& identity) override;
    void notice(const Notice& notice) override;
    // Lines the summary starts with: where the data came from.
    void setSources(const QStringList& lines);

    // Says what became of each archive, and how long it took.
    void summarize();

private:
    void show();
    // The progress line within `room` columns: the bar, then the counts' words, the time and the
    // middle of a long path give way in turn.
    QString progressLine(int room) const;

    struct Archive {
        QString name;
        int files;
        qint64 bytes;
        QString target;
        bool installed;
    };

    Terminal& m_terminal;
    QElapsedTimer m_clock;
    QString m_phase;  // "packing pak0.pk3": said in full once the phase is over
    QString m_action; // "packing "
    QString m_object; // "pak0.pk3", a path that may be shortened on the progress line
    int m_packed = 0;
    int m_total = 0;
    std::vector<Archive> m_archives;
    QStringList m_sources;
};

} // namespace corvane
