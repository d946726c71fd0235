#pragma once

// The command line's side of the services and the conversion's view: boxes become lines on
// standard error, and the conversion's progress a bar on a terminal (plain lines elsewhere).

#include "conversion/conversion.h"
#include "platform/folders.h"
#include "platform/services.h"

#include <QElapsedTimer>

#include <cstdio>
#include <optional>

namespace corvane {

// Standard error, which may be a terminal showing a progress line that messages must not mix
// with.
class Terminal {
public:
    explicit Terminal(std::FILE* stream = stderr);
    bool interactive() const { return m_interactive; }
    // A message of one or more lines, after the program's name; the progress line, if any,
    // is cleared first.
    void say(const QString& text);
    // Replaces the progress line (a terminal only).
    void progress(const QString& line);
    void endProgress();

private:
    std::FILE* m_stream;
    bool m_interactive;
    bool m_progressShown = false;
};

class TerminalServices : public Services {
public:
    // `driveRoots` replaces the mounted drives as the folders a search walks.
    explicit TerminalServices(Terminal& terminal,
                              std::optional<QStringList> driveRoots = std::nullopt)
        : m_terminal(terminal), m_folders(std::move(driveRoots)) {}

    // Nothing is asked on the command line: a question is answered No.
    int messageBox(const QString& prompt, int buttons, const QString& title) override;
    void doEvents() override {}
    [[noreturn]] void end(int) override { throw ProgramEnded{}; }
    QString programFolder() override;
    FolderSource& folders() override { return m_folders; }

private:
    Terminal& m_terminal;
    DiskFolders m_folders;
};

// The conversion's progress: phase, files packed of those found, time since the start.
class TerminalProgress : public ConversionView {
public:
    explicit TerminalProgress(Terminal& terminal);

    void setScreenEnabled(bool) override {}
    void setOkButtonEnabled(bool) override {}
    void setCaption(const QString&) override {}
    void setProgressText(const QString&) override {}
    void phaseStarted(Phase phase) override;
    void filesPacked(int packed, int total) override;

    double seconds() const { return double(m_clock.elapsed()) / 1000.0; }

private:
    void show();

    Terminal& m_terminal;
    QElapsedTimer m_clock;
    std::optional<Phase> m_phase;
    int m_packed = 0;
    int m_total = 0;
};

} // namespace corvane
