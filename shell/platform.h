#pragma once

// The platform layer: the only code that touches the file system, processes, message boxes
// and the end of the program. Paths handed in may use '\' or '/' as separators (a run of
// separators counts as one); when a path does not exist exactly, each component is looked
// up ignoring ASCII case. Failures raise RuntimeError with a number and a description that
// names the path involved.

#include "runtime_error.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

// The separator of paths the program shows and stores.
#ifdef _WIN32
inline constexpr char16_t kSep = u'\\';
#else
inline constexpr char16_t kSep = u'/';
#endif

// `path` with every '\' and '/' turned into kSep (runs are kept as they are).
QString nativePath(const QString& path);

// Attributes of Dir(): ordinary files only, or folders too.
enum DirAttributes : int { kNormalFiles = 0, kDirectories = 16 };

// Name of the first match of `path`, or "" when there is none. A path that ends with a
// separator names a folder: with kDirectories it answers "." when the folder exists.
QString Dir(const QString& path, int attributes = kNormalFiles);
// Deletes a file (53 when missing, 75 when read-only or not deletable).
void Kill(const QString& path);
// Removes an empty folder (76 when missing, 75 when not empty or not removable).
void RmDir(const QString& path);
// Makes a folder the current one; external tools inherit it.
void ChDir(const QString& path);
// The current folder.
QString CurDir();
// Copies a file, replacing the target; the target never stays half written.
void FileCopy(const QString& source, const QString& target);
// The folder of the program (the running executable), without a trailing separator.
QString AppPath();
// Whether files can be created in `folder` (tried for real: modes alone do not tell root).
bool IsFolderWritable(const QString& folder);
// Creates a folder and every missing folder above it.
void MkDirs(const QString& path);
// Writes a whole file, replacing one that is there.
void WriteFile(const QString& path, const QByteArray& contents);
// Removes a folder with everything in it.
void RemoveTree(const QString& path);
// Makes a new, empty folder with a unique name in the system's temporary folder.
QString MakeTempFolder(const QString& prefix);

// Message box: buttons 0 = OK only, 4 = Yes and No. Returns 1 (OK), 6 (Yes) or 7 (No).
// Without a title it shows "Corvane".
enum MsgBoxButtons : int { kOkOnly = 0, kYesNo = 4 };
enum MsgBoxResult : int { kOk = 1, kYes = 6, kNo = 7 };
int MsgBox(const QString& prompt, int buttons = kOkOnly, const QString& title = {});

// Whether there is a display to show windows on (or a platform chosen for the toolkit).
bool HasDisplay();

// Handles pending screen events, then returns.
void DoEvents();
// Ends the program at once; no later handler runs.
[[noreturn]] void End();

// Runs one command line in the current folder, inheriting the environment, and returns when
// the program has ended. Neither its exit code nor its output is read; a program that
// cannot be started returns at once. Windows keep painting meanwhile but take no input.
void RunCommandLine(const QString& commandLine);
// How a command line is split into program and arguments (double quotes group words).
QStringList SplitCommandLine(const QString& commandLine);

// Runs an event procedure called by the toolkit: an observed end of the program is recorded
// (see Platform::endRequested) and an uncaught run-time error shows the runtime's message
// and ends the program.
void guarded(const std::function<void()>& procedure);

// Process-wide settings of the layer; tests replace the parts a test cannot own.
struct Platform {
    using MessageBoxHandler =
        std::function<int(const QString& prompt, int buttons, const QString& title)>;
    using EndHandler = std::function<void()>;

    // Points App.Path at another folder (empty: the executable's folder again).
    static void setAppPath(const QString& folder);
    // Replaces the message box (empty: the real modal box again).
    static void setMessageBoxHandler(MessageBoxHandler handler);
    // Replaces the end of the program. A handler that throws ProgramEnded lets a test observe
    // the end: guarded() records it, and DoEvents() keeps unwinding the code that yielded.
    static void setEndHandler(EndHandler handler);
    // Whether an observed end has been recorded; reset() clears it with every hook.
    static bool endRequested();
    static void reset();
};

} // namespace corvane
