#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// How one run of an external program went.
struct ProgramRun {
    bool started = false; // false when the program could not be started at all
    int exitCode = -1;    // its exit code; -1 when it did not exit by itself
    int signal = 0;       // the signal that ended it, if one did
    int stoppedFor = 0;   // the stop signal (stop_signals.h) for which it was ended, if any
    QString errorOutput;  // what it wrote to its standard error (the first 64 KiB)

    bool succeeded() const { return started && exitCode == 0; }
};

// Runs `program` with `arguments`, each handed over as it is, and returns when it has ended.
// It runs in the folder open as `folder` (the current folder when -1), set in the child alone,
// and inherits the environment. While it runs, the program's windows keep painting but take
// no input. What it writes to its standard error is kept and also passed on to ours. A stop
// request ends it (SIGTERM, then SIGKILL if it lingers). It inherits the descriptor `passed`,
// when given, under the same number.
ProgramRun runProgram(const QString& program, const QStringList& arguments, int folder = -1,
                      int passed = -1);

} // namespace corvane
