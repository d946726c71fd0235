#pragma once

// What the program's tests share: temporary folders and files, pak files written byte by byte,
// services whose boxes are answered from a script and whose end is observed, folders that fail
// on purpose, and a rerun of a test as an unprivileged user.

#include "core/platform/folders.h"
#include "core/runtime_error.h"
#include "core/services.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>
#include <utility>
#include <vector>

// Readable test failure messages for texts.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace corvane::test {

// A new empty folder that is removed with everything in it when the object goes.
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
bool exists(const QString& path);
void makeDirs(const QString& path);
// Every file below `folder` with its contents, and every folder and link (as "name/" and
// "name -> target"), by relative path: what a test compares byte for byte.
QMap<QString, QByteArray> snapshot(const QString& folder);

// Makes what `entries` say below `root`: "a/b/" a folder, "a/b" a file, "a/b -> target" a
// symbolic link, and "a=q2" or "a=q3" (or "=q2" for `root` itself) a folder holding the game's
// Windows program and its data as the search recognises them.
void makeTree(const QString& root, const QStringList& entries);

// A Quake 2 pack holding `members` (name, data) in this order, written byte by byte.
QByteArray packBytes(const std::vector<std::pair<QByteArray, QByteArray>>& members);

// Runs a program and waits for it.
struct Finished {
    int exitCode = -1;
    QString out, err;
};
Finished runProgram(const QString& program, const QStringList& arguments,
                    const QStringList& environment = {}, const QString& folder = {});

// When this process is root, runs the current test again in a child as an unprivileged user
// (root passes every mode) and reports its result; returns true then, and the test returns.
// Elsewhere returns false and the test runs here.
bool rerunUnprivileged();
// Whether this process is root.
bool isRoot();

// Disk folders whose listings can fail on purpose.
class FakeFolders : public DiskFolders {
public:
    using DiskFolders::DiskFolders;
    // Every read of `folder` fails with run-time error `number`; 68 also fails the probe.
    void fail(const QString& folder, int number) { m_failures.insert(key(folder), number); }

    void probeDrive(const QString& root) override;
    QStringList subFolders(const QString& folder) override;
    QStringList filesMatching(const QString& folder, const QString& pattern) override;

private:
    static QString key(const QString& folder);
    void failIfAsked(const QString& folder);

    QHash<QString, int> m_failures;
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
    [[noreturn]] void end() override;
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
