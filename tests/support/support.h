#pragma once

// What every test shares: temporary folders and files, packs written byte by byte, child
// processes, a rerun as an unprivileged user, services whose boxes are answered from a script
// and whose end is observed, and folders that fail on purpose.

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/services.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

// Readable test failure messages for texts.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}
inline std::ostream& operator<<(std::ostream& out, const QByteArray& bytes) {
    return out << bytes.toStdString();
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.left(200) << (bytes.size() > 200 ? "...\"" : "\"");
}

namespace corvane::test {

// Parameterised tests are named after their rows.
inline constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// A new empty folder, in the temporary folder unless `nameHint` is absolute, that is removed
// with everything in it when the object goes.
class TempDir {
public:
    explicit TempDir(const QString& nameHint = "corvane");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const QString& path() const { return m_path; }
    // path() + "/" + relative
    QString file(const QString& relative) const { return m_path + '/' + relative; }

private:
    QString m_path;
};

// Writes `contents` to `path`, creating the folders above it.
void writeFile(const QString& path, const QByteArray& contents = "x");
QByteArray readFile(const QString& path);
void makeDirs(const QString& path);
// Sets the mode of `path` (not through a link).
void setMode(const QString& path, unsigned mode);
// Every file below `folder` with its contents, every folder with its mode and every link (as
// "name/" and "name -> target"), by relative path: what a test compares byte for byte.
QMap<QString, QByteArray> snapshot(const QString& folder);
// The sorted names of snapshot(folder).
QStringList tree(const QString& folder);

// Makes what `entries` say below `root`: "a/b/" a folder, "a/b" a file, "a/b -> target" a
// symbolic link, "a/b|" a named pipe, and "a=q2" or "a=q3" (or "=q2" for `root` itself) a
// folder holding the game's Windows program and its data as the search recognises them.
void makeTree(const QString& root, const QStringList& entries);

// A Quake 2 pack holding `members` (name, data) in this order, written byte by byte.
using Members = std::vector<std::pair<QByteArray, QByteArray>>;
QByteArray packBytes(const Members& members);
// `bytes` with the little-endian 32-bit number at `at` set to `value`.
QByteArray patched(QByteArray bytes, qsizetype at, quint32 value);
// Partly repetitive, partly random bytes, like game data; only random ones with `repeats` false.
QByteArray gameLikeBytes(qsizetype size, unsigned seed, bool repeats = true);

// Runs a program in `folder` and waits for it. `environment` sets ("NAME=value") or removes
// ("NAME") variables; `inChild` runs in the child just before the program starts (limits).
struct Finished {
    int exitCode = -1; // -1 when the child did not exit normally
    QByteArray out, err;
};
Finished run(const QString& program, const QStringList& arguments, const QString& folder = {},
             const QStringList& environment = {}, const std::function<void()>& inChild = {});
// Runs a program in `folder` and kills it after `micros` microseconds unless it ended before.
void killAfter(const QString& program, const QStringList& arguments, const QString& folder,
               long micros);

// When this process is root, runs the current test again in a child as an unprivileged user
// (root passes every mode) and reports its result; returns true then, and the test returns.
// Elsewhere returns false and the test runs here.
bool rerunUnprivileged();

// Sets an environment variable for as long as it lives, then puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QString& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};
bool isRoot();

// For a child process, before it starts its program: the file systems have no unnamed files
// (open with O_TMPFILE fails with EOPNOTSUPP), as a FAT stick or an older network share.
void withoutUnnamedFiles();
// For a child process, before it starts its program: the system call `number` whose argument
// `argument` (its low 32 bits) is `value` fails with `error`, or kills the process when
// `error` is 0.
void failSystemCall(int number, int argument, unsigned value, int error);

// A file system in memory of `bytes` (and room for `files` files and folders, its root
// included, when given; read-only when asked) mounted on `folder` while the object lives,
// where this process may mount one; mounted() tells whether it could.
class MemoryDisk {
public:
    MemoryDisk(const QString& folder, qint64 bytes, int files = 0, bool readOnly = false);
    ~MemoryDisk();
    MemoryDisk(const MemoryDisk&) = delete;
    MemoryDisk& operator=(const MemoryDisk&) = delete;
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_folder;
    bool m_mounted;
};

// Disk folders whose listings can fail on purpose.
class FakeFolders : public DiskFolders {
public:
    using DiskFolders::DiskFolders;
    // Every read of `folder` fails with run-time error `number`; 68 also fails the probe. With
    // number 0 the folder holding `folder` is deleted for real when the walk reads `folder`.
    void fail(const QString& folder, int number) { m_failures.insert(key(folder), number); }

    void probeDrive(const QString& root) override;
    QStringList subFolders(const QString& folder) override;
    // Every folder whose sub-folders were asked for.
    const QStringList& read() const { return m_read; }
    QStringList filesMatching(const QString& folder, const QString& pattern) override;

private:
    static QString key(const QString& folder);
    void failIfAsked(const QString& folder);

    QHash<QString, int> m_failures;
    QStringList m_read;
};

// One message box the program showed.
struct ShownBox {
    QString prompt;
    int buttons;
    QString title;
    bool operator==(const ShownBox&) const = default;
};
inline void PrintTo(const ShownBox& box, std::ostream* out) {
    *out << "{\"" << box.prompt << "\", " << box.buttons << ", \"" << box.title << "\"}";
}

// Services for a test: boxes are answered from a script (OK-only boxes need no answer), the end
// of the program is recorded and unwinds as ProgramEnded, and the drives and the program
// folder are what the test says.
class FakeServices : public Services {
public:
    explicit FakeServices(const QString& programFolder = {}, const QStringList& driveRoots = {});

    // Answers for the next Yes/No boxes, in order (kYes / kNo).
    void answer(const std::vector<int>& answers) {
        m_answers.insert(m_answers.end(), answers.begin(), answers.end());
    }
    const std::vector<ShownBox>& boxes() const { return m_boxes; }
    QStringList prompts() const;
    bool ended() const { return m_ended; }

    int messageBox(const QString& prompt, int buttons, const QString& title) override;
    void doEvents() override;
    [[noreturn]] void end(int status) override;
    QString programFolder() override { return m_programFolder; }
    FakeFolders& folders() override { return m_folders; }

private:
    QString m_programFolder;
    FakeFolders m_folders;
    std::vector<ShownBox> m_boxes;
    std::deque<int> m_answers;
    bool m_ended = false;
};

// Runs `procedure` as the toolkit would and reports whether it ended the program.
bool runsToEnd(FakeServices& services, const std::function<void()>& procedure);

} // namespace corvane::test
