#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvane::test {

TempDir::TempDir(const QString& nameHint) {
    QTemporaryDir dir(QDir::tempPath() + '/' + nameHint + "-XXXXXX");
    dir.setAutoRemove(false);
    m_path = dir.path();
}

TempDir::~TempDir() {
    // Folders a test made unwritable must not stop the removal.
    std::error_code ignored;
    std::filesystem::path root(m_path.toStdString());
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
}

void makeDirs(const QString& path) {
    QDir().mkpath(path);
}

void writeFile(const QString& path, const QByteArray& contents) {
    makeDirs(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool exists(const QString& path) {
    return QFileInfo::exists(path);
}

namespace {

bool runQuietly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

ImmutableFolder::ImmutableFolder(const QString& folder) : m_folder(folder) {
    m_active = runQuietly("chattr", {"+i", folder});
}

ImmutableFolder::~ImmutableFolder() {
    if (m_active)
        runQuietly("chattr", {"-i", m_folder});
}

FakePlatform::FakePlatform(const QString& appPath) {
    Platform::reset();
    if (!appPath.isEmpty())
        Platform::setAppPath(appPath);
    Platform::setMessageBoxHandler(
        [this](const QString& prompt, int buttons, const QString& title) {
            m_boxes.push_back({prompt, buttons, title});
            if (buttons != kYesNo)
                return static_cast<int>(kOk);
            if (m_answers.empty()) {
                ADD_FAILURE() << "unexpected question: " << prompt.toStdString();
                return static_cast<int>(kNo);
            }
            const int answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    Platform::setEndHandler([this] {
        ++m_ends;
        throw ProgramEnded{};
    });
}

FakePlatform::~FakePlatform() {
    Platform::reset();
}

QStringList FakePlatform::prompts() const {
    QStringList list;
    for (const ShownBox& box : m_boxes)
        list << box.prompt;
    return list;
}

bool runsToEnd(const std::function<void()>& procedure) {
    const bool before = Platform::endRequested();
    guarded(procedure);
    return !before && Platform::endRequested();
}

} // namespace corvane::test
