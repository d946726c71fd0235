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

#include <cstddef>
#include <iterator>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane::test {

TempDir::TempDir(const QString& nameHint) {
    QTemporaryDir dir((nameHint.startsWith('/') ? nameHint : QDir::tempPath() + '/' + nameHint) +
                      "-XXXXXX");
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
    // Paths too long for one call of the system: rm goes folder by folder.
    if (fs::exists(root, ignored))
        run("rm", {"-rf", m_path});
}

void makeDirs(const QString& path) {
    QDir().mkpath(path);
}

void writeFile(const QString& path, const QByteArray& contents) {
    makeDirs(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path;
    file.write(contents);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void setMode(const QString& path, unsigned mode) {
    ASSERT_EQ(::fchmodat(AT_FDCWD, QFile::encodeName(path).constData(), mode_t(mode), 0), 0)
        << path;
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
        else if (info.isDir()) // with its mode: a change of mode is a change too
            entries[relative + '/'] = QByteArray::number(int(info.permissions()), 16);
        else
            entries[relative] = info.isFile() ? readFile(info.filePath()) : "(special)";
    }
    return entries;
}

QStringList tree(const QString& folder) {
    return snapshot(folder).keys();
}

void makeTree(const QString& root, const QStringList& entries) {
    for (const QString& entry : entries) {
        const QString path = root + '/' + entry.section(' ', 0, 0).section('=', 0, 0);
        makeDirs(QFileInfo(path).absolutePath());
        if (entry.contains(" -> ")) {
            QFile::link(entry.section(" -> ", 1), path);
        } else if (entry.endsWith("=q2") || entry.endsWith("=q3")) {
            const QString game = entry.right(1);
            writeFile(path + "/quake" + game + ".exe");
            writeFile(path + "/baseq" + game + (game == "2" ? "/pak0.pak" : "/pak0.pk3"));
        } else if (entry.endsWith('/')) {
            makeDirs(path);
        } else if (entry.endsWith('|')) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path.chopped(1)).constData(), 0600), 0) << path;
        } else {
            writeFile(path);
        }
    }
}

QByteArray patched(QByteArray bytes, qsizetype at, quint32 value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
    return bytes;
}

QByteArray packBytes(const Members& members) {
    QByteArray data, directory;
    for (const auto& [name, contents] : members) {
        directory += name.leftJustified(64, '\0', true);
        directory = patched(directory, directory.size() - 8, quint32(12 + data.size()));
        directory = patched(directory, directory.size() - 4, quint32(contents.size()));
        data += contents;
    }
    const QByteArray head = patched(patched("PACK12345678", 4, quint32(12 + data.size())), 8,
                                    quint32(directory.size()));
    return head + data + directory;
}

QByteArray gameLikeBytes(qsizetype size, unsigned seed, bool repeats) {
    QByteArray bytes(size, '\0');
    quint64 x = 0x9e3779b97f4a7c15ull * (seed + 1);
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        // Every other 4 KiB block repeats a short pattern.
        bytes[i] = repeats && (i / 4096) % 2 ? char(i % 61) : char(x);
    }
    return bytes;
}

Finished run(const QString& program, const QStringList& arguments, const QString& folder,
             const QStringList& environment, const std::function<void()>& inChild) {
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    // A sanitizer report must not pass for a program's own exit code.
    for (const char* sanitizer : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (!variables.contains(sanitizer))
            variables.insert(sanitizer, "exitcode=86");
    for (const QString& setting : environment) {
        const qsizetype equals = setting.indexOf('=');
        if (equals < 0)
            variables.remove(setting);
        else
            variables.insert(setting.left(equals), setting.mid(equals + 1));
    }
    process.setProcessEnvironment(variables);
    process.setWorkingDirectory(folder);
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(300000)) << program;
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

void killAfter(const QString& program, const QStringList& arguments, const QString& folder,
               long micros) {
    // The timer outlives exec; SIGALRM's default action ends the process at once, as SIGKILL.
    run(program, arguments, folder, {}, [micros] { ::ualarm(useconds_t(micros), 0); });
}

bool isRoot() {
    return ::geteuid() == 0;
}

namespace {

// Installs a filter of the system calls for this process and its children.
void filterSystemCalls(sock_filter* filter, unsigned short length) {
    const sock_fprog program{length, filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        ::_exit(126);
}

} // namespace

void withoutUnnamedFiles() {
    // Allows everything but an openat with the flag that asks for an unnamed file.
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    filterSystemCalls(filter, std::size(filter));
}

void failSystemCall(int number, int argument, unsigned value, int error) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(number), 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                 unsigned(offsetof(seccomp_data, args) + 8 * size_t(argument))),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1),
        BPF_STMT(BPF_RET | BPF_K,
                 error == 0 ? SECCOMP_RET_KILL_PROCESS : SECCOMP_RET_ERRNO | unsigned(error)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    filterSystemCalls(filter, std::size(filter));
}

MemoryDisk::MemoryDisk(const QString& folder, qint64 bytes, int files, bool readOnly)
    : m_folder(QFile::encodeName(folder)) {
    QByteArray options = "size=" + QByteArray::number(bytes);
    if (files > 0)
        options += ",nr_inodes=" + QByteArray::number(files);
    m_mounted = ::mount("corvane-test", m_folder.constData(), "tmpfs", readOnly ? MS_RDONLY : 0,
                        options.constData()) == 0;
}

MemoryDisk::~MemoryDisk() {
    if (m_mounted)
        ::umount2(m_folder.constData(), MNT_DETACH);
}

bool rerunUnprivileged() {
    if (!isRoot())
        return false;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name());
    const Finished child =
        run("setpriv",
            {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
             QCoreApplication::applicationFilePath(), filter},
            "/tmp", {"TMPDIR=/tmp", "HOME=/tmp", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"});
    EXPECT_EQ(child.exitCode, 0) << "as an unprivileged user:\n" << child.out << child.err;
    EXPECT_TRUE(child.out.contains("[  PASSED  ] 1 test")) << child.out;
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
    if (failure != m_failures.constEnd() && *failure == 0)
        QDir(key(folder).section('/', 0, -2)).removeRecursively();
    else if (failure != m_failures.constEnd())
        throw Error(*failure, key(folder));
}

void FakeFolders::probeDrive(const QString& root) {
    if (m_failures.value(key(root)) == kDeviceUnavailable)
        throw Error(kDeviceUnavailable, root);
    DiskFolders::probeDrive(root);
}

QStringList FakeFolders::subFolders(const QString& folder) {
    m_read << key(folder);
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

void FakeServices::end(int) {
    m_ended = true;
    throw ProgramEnded{};
}

bool runsToEnd(FakeServices& services, const std::function<void()>& procedure) {
    const bool before = services.ended();
    guarded(services, procedure);
    return !before && services.ended();
}

} // namespace corvane::test

namespace corvane::test {

ScopedEnvironment::ScopedEnvironment(const char* name, const QString& value) : m_name(name) {
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    qputenv(name, QFile::encodeName(value));
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_old)
        qputenv(m_name, *m_old);
    else
        qunsetenv(m_name);
}

} // namespace corvane::test
