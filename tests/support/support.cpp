#include "support.h"

#include "ui/desktop_services.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace corvane::test {

TempDir::TempDir(const QString& nameHint) {
    QTemporaryDir dir(QDir::tempPath() + '/' + nameHint + "-XXXXXX");
    dir.setAutoRemove(false);
    m_path = dir.path();
}

TempDir::~TempDir() {
    // Folders a test made unreadable must not stop the removal.
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path root(m_path.toStdString());
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
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
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool exists(const QString& path) {
    return QFileInfo::exists(path);
}

QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = QDir(folder).relativeFilePath(info.filePath());
        if (info.isSymLink())
            entries[relative + " -> " + info.symLinkTarget()] = {};
        else if (info.isDir())
            entries[relative + '/'] = {};
        else
            entries[relative] = readFile(info.filePath());
    }
    return entries;
}

void makeTree(const QString& root, const QStringList& entries) {
    for (const QString& entry : entries) {
        const QString path = root + '/' + entry.section(' ', 0, 0).section('=', 0, 0);
        if (entry.contains(" -> ")) {
            QFile::link(entry.section(" -> ", 1), path);
        } else if (entry.endsWith("=q2") || entry.endsWith("=q3")) {
            const QString game = entry.right(1);
            writeFile(path + "/quake" + game + ".exe");
            writeFile(path + "/baseq" + game + (game == "2" ? "/pak0.pak" : "/pak0.pk3"));
        } else if (entry.endsWith('/')) {
            makeDirs(path);
        } else {
            writeFile(path);
        }
    }
}

QByteArray packBytes(const std::vector<std::pair<QByteArray, QByteArray>>& members) {
    auto le32 = [](quint32 value) {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char(value >> (8 * i));
        return bytes;
    };
    QByteArray data, directory;
    for (const auto& [name, contents] : members) {
        QByteArray entry = name.leftJustified(56, '\0', true);
        entry += le32(quint32(12 + data.size())) + le32(quint32(contents.size()));
        directory += entry;
        data += contents;
    }
    return "PACK" + le32(quint32(12 + data.size())) + le32(quint32(directory.size())) + data +
           directory;
}

Finished runProgram(const QString& program, const QStringList& arguments,
                    const QStringList& environment, const QString& folder) {
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : environment) {
        const qsizetype equals = setting.indexOf('=');
        if (equals < 0)
            variables.remove(setting);
        else
            variables.insert(setting.left(equals), setting.mid(equals + 1));
    }
    process.setProcessEnvironment(variables);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(300000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

bool isRoot() {
    return geteuid() == 0;
}

bool rerunUnprivileged() {
    if (!isRoot())
        return false;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name());
    const Finished child =
        runProgram("setpriv",
                   {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
                    QCoreApplication::applicationFilePath(), filter},
                   {"TMPDIR=/tmp", "HOME=/tmp", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"});
    EXPECT_EQ(child.exitCode, 0) << "as an unprivileged user:\n"
                                 << child.out.toStdString() << child.err.toStdString();
    EXPECT_TRUE(child.out.contains("[  PASSED  ] 1 test")) << child.out.toStdString();
    return true;
}

QString FakeFolders::key(const QString& folder) {
    QString key = folder;
    while (key.size() > 1 && key.endsWith('/'))
        key.chop(1);
    return key;
}

void FakeFolders::failIfAsked(const QString& folder) {
    const auto failure = m_failures.constFind(key(folder));
    if (failure != m_failures.constEnd())
        throw RuntimeError::make(*failure, key(folder));
}

void FakeFolders::probeDrive(const QString& root) {
    if (m_failures.value(key(root)) == kDeviceUnavailable)
        throw RuntimeError::make(kDeviceUnavailable, root);
    DiskFolders::probeDrive(root);
}

QStringList FakeFolders::subFolders(const QString& folder) {
    failIfAsked(folder);
    return DiskFolders::subFolders(folder);
}

QStringList FakeFolders::filesMatching(const QString& folder, const QString& pattern) {
    failIfAsked(folder);
    return DiskFolders::filesMatching(folder, pattern);
}

FakeServices::FakeServices(const QString& programFolder, const QStringList& driveRoots)
    : m_programFolder(programFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                              : programFolder),
      m_folders(driveRoots.isEmpty() ? std::nullopt : std::optional<QStringList>(driveRoots)) {}

QStringList FakeServices::prompts() const {
    QStringList list;
    for (const ShownBox& box : m_boxes)
        list << box.prompt;
    return list;
}

int FakeServices::messageBox(const QString& prompt, int buttons, const QString& title) {
    m_boxes.push_back({prompt, buttons, title});
    if (buttons != kYesNo)
        return kOk;
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << prompt.toStdString();
        return kNo;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void FakeServices::doEvents() {
    QCoreApplication::processEvents();
    // An end observed while events ran keeps unwinding the code that yielded.
    if (m_ended)
        throw ProgramEnded{};
}

void FakeServices::end() {
    m_ended = true;
    throw ProgramEnded{};
}

bool runsToEnd(FakeServices& services, const std::function<void()>& procedure) {
    const bool before = services.ended();
    guarded(services, procedure);
    return !before && services.ended();
}

} // namespace corvane::test
