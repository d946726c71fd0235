#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// How one run of an external program went.
struct ProgramRun {
    bool started = false; // false when the program could not be started at all
    int exitCode = -1;    // its exit code; -1 when it did not exit by itself
    int signal = 0;       // the signal that ended it, if one did
    QString errorOutput;  // what it wrote to its standard error (the first 64 KiB)

    bool succeeded() const { return started && exitCode == 0; }
};

// Runs one command line in the current folder, inheriting the environment, and returns when
// the program has ended. While it runs, the program's windows keep painting but take no input.
// What the program writes to its standard error is kept and also passed on to ours.
ProgramRun RunCommandLine(const QString& commandLine);

// How a command line is split into program and arguments: a quoted first word ends at the
// next quote; after it blanks separate, double quotes group and backslashes escape quotes.
QStringList SplitCommandLine(const QString& commandLine);

} // namespace corvane
