#pragma once

// Shared pieces of the test suite: temporary folders, scripted message boxes, an observable
// end of the program.

#include "shell/platform.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <filesystem>
#include <ostream>
#include <vector>

// Readable test failure messages for texts.
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

// Makes a folder immutable for the lifetime of the object, so that nothing can be created,
// deleted or renamed in it, not even by root. active() is false where the file system or the
// user's rights do not allow it; such tests skip.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const QString& folder);
    ~ImmutableFolder();
    bool active() const { return m_active; }

private:
    QString m_folder;
    bool m_active = false;
};

// One message box the program showed.
struct ShownBox {
    QString prompt;
    int buttons;
    QString title;
};

// Replaces message boxes, the end of the program and the program folder for the lifetime of
// the object. Boxes are answered from a script (OK for OK-only boxes when the script is
// empty); End() throws ProgramEnded, which the toolkit boundary records.
class FakePlatform {
public:
    explicit FakePlatform(const QString& appPath = {});
    ~FakePlatform();

    // Answers for the next Yes/No boxes, in order (kYes / kNo).
    void answer(std::initializer_list<int> answers) { m_answers.insert(m_answers.end(), answers); }

    const std::vector<ShownBox>& boxes() const { return m_boxes; }
    QStringList prompts() const;
    bool ended() const { return m_ends > 0 || Platform::endRequested(); }
    int endCount() const { return m_ends; }

private:
    std::vector<ShownBox> m_boxes;
    std::deque<int> m_answers;
    int m_ends = 0;
};

// Runs `procedure` as the toolkit would (through guarded()) and reports whether it ended the
// program.
bool runsToEnd(const std::function<void()>& procedure);

} // namespace corvane::test
