#pragma once

// File and folder operations on the program's paths. Paths handed in may use '\' or '/' as
// separators (a run of separators counts as one); a path that does not exist exactly is
// looked up component by component, ignoring ASCII case. Failures raise Error with a
// number and a description that names the path involved.

#include "platform/error.h"

#include <QByteArray>
#include <QString>

#include <string>

#include <sys/stat.h>

namespace corvane {

// The separator of paths the program shows and stores.
#ifdef _WIN32
inline constexpr char16_t kSep = u'\\';
#else
inline constexpr char16_t kSep = u'/';
#endif

// `path` with every '\' and '/' turned into kSep (runs are kept as they are).
QString nativePath(const QString& path);
// A path for the system, looked up as the header says; a missing path keeps its spelling.
std::string resolve(const QString& path);
// The same for `relative` below `folder`, which is taken exactly as it is spelled, byte for
// byte ('\\' is no separator in it): the kernel alone resolves it.
std::string resolveIn(const QString& folder, const QString& relative);
// Text for the system and back (UTF-8 on POSIX systems). Bytes that are not valid UTF-8 are
// kept in the text as lone surrogates, so a name always comes back byte for byte; they show
// as replacement characters.
std::string encodePath(const QString& path);
QString decodePath(const std::string& path);
// Whether `bytes` are valid UTF-8 (a name the user can read).
bool isUtf8(const std::string& bytes);
// `bytes` as one line of text that cannot steer a terminal: a backslash, a tab, a line break
// and every other control character written \\, \t, \n or \xNN, and each byte that is no
// part of valid UTF-8 as \xNN.
std::string escapedLine(const std::string& bytes);

// Whether the file that `info` describes is read-only: nobody may write to it. The program
// keeps such a file as the user asked, rather than delete or replace it.
bool isReadOnly(const struct stat& info);

// Attributes of Dir(): ordinary files only, or folders too.
enum DirAttributes : int { kNormalFiles = 0, kDirectories = 16 };

// Name of the first match of `path`, or "" when there is none. A path that ends with a
// separator names a folder: with kDirectories it answers "." when the folder exists.
QString Dir(const QString& path, int attributes = kNormalFiles);
// The folder that holds the running program, without a trailing separator.
QString runningProgramFolder();
// The current folder.
QString currentFolder();
// Creates a folder and every missing folder above it.
void makeFolders(const QString& path);
// Writes a whole file, replacing one that is there.
void writeWholeFile(const QString& path, const QByteArray& contents);
// Removes a folder with everything in it.
void removeFolderTree(const QString& path);
// Whether `name` matches the wildcard `pattern` ('*' and '?'), ignoring ASCII case.
bool matchesPattern(const QString& name, const QString& pattern);
// Makes a new, empty folder with a unique name in the system's temporary folder.
QString makeTempFolder(const QString& prefix);

} // namespace corvane
