// The I/O library on real folders: trees that never follow links or climb out, names found
// ignoring case, copies where the kernel cannot make them, and files updated in place behind a
// journal.

#include "given_paths/given_paths.h"
#include "io/atomic_file.h"
#include "io/journal.h"
#include "io/rw.h"
#include "io/tree.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

using namespace corvane::io;
using namespace corvane::test;

namespace {

Fd openPath(const QString& path, int flags) {
    return Fd(::open(qPrintable(path), flags | O_CLOEXEC, 0600));
}

// The errno a call failed with, 0 when it did not.
template <typename T> int errorOf(const Result<T>& result) {
    return result ? 0 : result.failure().error;
}

// A tree beside an outside folder that links point into.
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeTree(dir.path(),
                 {"outside/secret.txt", "root/models/items/Tris.MD2", "root/pics/a.pcx",
                  "root/linked -> ../outside", "root/pics/link.pcx -> ../../outside/secret.txt"});
        Result<Tree> opened = Tree::open(dir.file("root").toStdString(), Links::Refuse);
        ASSERT_TRUE(opened);
        tree = std::move(opened).value();
    }
    TempDir dir;
    Tree tree;
};

TEST_F(TreeTest, FindsEntriesIgnoringCaseAndNeverThroughLinks) {
    const struct {
        const char* path;
        Kind kind;
        const char* onDisk;
    } cases[] = {
        {"models/items/Tris.MD2", Kind::File, "models/items/Tris.MD2"},
        {"MODELS\\items", Kind::Missing, ""}, // a backslash is part of a name here
        {"Models//Items/tris.md2", Kind::File, "models/items/Tris.MD2"},
        {"models", Kind::Folder, "models"},
        {"linked", Kind::Link, "linked"},
        {"linked/secret.txt", Kind::Missing, ""},
        {"pics/link.pcx", Kind::Link, "pics/link.pcx"},
        {"pics/missing.pcx", Kind::Missing, "pics/missing.pcx"},
        {"pics/a.pcx/deeper", Kind::Missing, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Tree::Entry entry = tree.find(c.path);
        EXPECT_EQ(entry.kind, c.kind);
        EXPECT_EQ(entry.error, 0);
        EXPECT_TRUE(!*c.onDisk || entry.path == c.onDisk) << entry.path;
    }
    Result<Tree> following = Tree::open(dir.file("root").toStdString(), Links::Follow);
    ASSERT_TRUE(following);
    EXPECT_EQ(following->find("linked/SECRET.TXT").kind, Kind::File);
    // Each folder is listed once: a name made since is seen after forget().
    writeFile(dir.file("root/pics/New.pcx"), "new");
    EXPECT_EQ(tree.find("pics/new.pcx").kind, Kind::Missing);
    tree.forget();
    EXPECT_EQ(tree.find("pics/new.pcx").path, "pics/New.pcx");
    // Of two names that differ only in case, the other is found once one is removed.
    writeFile(dir.file("root/pics/new.PCX"), "new too");
    tree.forget();
    EXPECT_EQ(tree.find("PICS/NEW.PCX").path, "pics/New.pcx");
    EXPECT_TRUE(tree.removeFile("pics/New.pcx"));
    EXPECT_EQ(tree.find("PICS/NEW.PCX").path, "pics/new.PCX");
}

// Each change in turn, and the error it gives, naming the path asked for: nothing outside the
// root or behind a link is reached, and names are found ignoring case.
TEST_F(TreeTest, ChangesOnlyWhatIsInsideAndSaysWhy) {
    enum Op { Open, Create, MakeFolders, RemoveFile, RemoveFolder };
    const std::tuple<Op, const char*, int> cases[] = {
        {Open, "..", EINVAL},
        {RemoveFile, "models/../../outside/secret.txt", EINVAL},
        {Open, "./pics/a.pcx", EINVAL},
        {Open, "pics/link.pcx", ELOOP},
        {MakeFolders, "linked/new", -1}, // fails, whatever the reason
        {RemoveFile, "linked/secret.txt", ENOENT},
        {RemoveFolder, "linked", ENOTDIR},
        {RemoveFolder, "models/items", ENOTEMPTY},
        {RemoveFile, "models", EISDIR},
        {RemoveFile, "MODELS/ITEMS/TRIS.MD2", 0},
        {RemoveFile, "models/items/tris.md2", ENOENT},
        {RemoveFolder, "Models/Items", 0},
        {RemoveFile, "pics/link.pcx", 0}, // the link itself goes
        {MakeFolders, "sound/boss3", 0},
        {Create, "SOUND/boss3/new.wav", 0},
        {MakeFolders, "pics/a.pcx", EEXIST},
    };
    for (const auto& [op, path, expected] : cases) {
        SCOPED_TRACE(path);
        const auto attempt = [&, op = op, path = path]() -> Result<void> {
            const auto fine = [](const Result<Fd>& fd) {
                return fd ? Result<void>() : Result<void>(fd.failure());
            };
            switch (op) {
            case RemoveFile:
                return tree.removeFile(path);
            case RemoveFolder:
                return tree.removeFolder(path);
            case MakeFolders:
                return fine(tree.makeFolders(path));
            default:
                return fine(
                    tree.openFile(path, op == Create ? O_WRONLY | O_CREAT | O_EXCL : O_RDONLY));
            }
        };
        const Result<void> done = attempt();
        const int error = errorOf(done);
        EXPECT_EQ(expected < 0 ? -int(error != 0) : error, expected);
        if (!done) {
            EXPECT_EQ(done.failure().what, path);
        }
    }
    EXPECT_EQ(corvane::test::tree(dir.path()),
              (QStringList{"outside/", "outside/secret.txt", "root/",
                           "root/linked -> " + dir.file("outside"), "root/models/", "root/pics/",
                           "root/pics/a.pcx", "root/sound/", "root/sound/boss3/",
                           "root/sound/boss3/new.wav"}));
}

TEST_F(TreeTest, GivenPathsBelowTheCurrentFolderNeverPassLinks) {
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.file("root"));
    EXPECT_FALSE(corvane::tools::openGiven("linked/secret.txt", O_RDONLY));
    EXPECT_FALSE(corvane::tools::openGiven("pics/link.pcx", O_RDONLY));
    EXPECT_TRUE(
        corvane::tools::openGiven("../root/linked/secret.txt", O_RDONLY)); // the user's own choice
    const Result<Tree::Place> place = corvane::tools::placeGiven("MODELS/items/tris.md2");
    ASSERT_TRUE(place);
    EXPECT_TRUE(place->folder && place->name == "Tris.MD2" && place->folderPath == "models/items");
    EXPECT_FALSE(corvane::tools::placeGiven("linked/new.pk3"));
    // Looking for a place makes nothing on the way.
    EXPECT_FALSE(corvane::tools::placeGiven("sound/boss3/new.wav"));
    EXPECT_FALSE(QFileInfo::exists(dir.file("root/sound")));
    // A path that names a folder, not a file in it.
    for (const char* folder : {"../root/..", "/tmp/", "models/.."})
        EXPECT_FALSE(corvane::tools::placeGiven(folder)) << folder;
    QDir::setCurrent(saved);
}

// A file that cannot be given its name when it is committed leaves the old one whole.
TEST(AtomicFile, ACommitThatCannotNameTheFileLeavesTheOldOne) {
    if (rerunUnprivileged())
        return; // root may name files anywhere
    TempDir dir;
    writeFile(dir.file("a.pk3"), "old");
    const Fd folder = openPath(dir.path(), O_PATH | O_DIRECTORY);
    AtomicFile file;
    ASSERT_TRUE(file.create(folder.get(), "a.pk3", 0644));
    ASSERT_TRUE(writeAll(file.fd(), "new", 3));
    setMode(dir.path(), 0555);
    EXPECT_FALSE(file.commit());
    setMode(dir.path(), 0755);
    EXPECT_EQ(readFile(dir.file("a.pk3")), "old");
    EXPECT_EQ(corvane::test::tree(dir.path()), QStringList{"a.pk3"});
}

// Whole ranges copied, also where the kernel cannot copy them: to another file system, to a
// pipe, to a file opened for appending.
TEST(Rw, CopiesRangesWhereTheKernelCannotAndStopsAtTheEnd) {
    TempDir here, shm("/dev/shm/corvane");
    const QByteArray data = gameLikeBytes(3 << 20, 1);
    writeFile(here.file("in"), data);
    makeTree(here.path(), {"pipe|"});
    const Fd in = openPath(here.file("in"), O_RDONLY);
    std::vector<unsigned char> buffer;
    const struct {
        QString path;
        int flags;
        qsizetype length;
    } targets[] = {
        {here.file("copy"), O_WRONLY | O_CREAT, data.size() - 5},
        {shm.file("copy"), O_WRONLY | O_CREAT, data.size() - 5},
        {here.file("appended"), O_WRONLY | O_CREAT | O_APPEND, data.size() - 5},
        {here.file("pipe"), O_RDWR, 4000}, // less than a pipe holds, read back below
    };
    for (const auto& target : targets) {
        SCOPED_TRACE(target.path.toStdString());
        const Fd out = openPath(target.path, target.flags);
        ASSERT_TRUE(copyRange(in.get(), 5, out.get(), std::uint64_t(target.length), buffer));
        QByteArray copied(target.length, '\0');
        if (target.flags == O_RDWR)
            copied.resize(::read(out.get(), copied.data(), std::size_t(target.length)));
        else
            copied = readFile(target.path);
        EXPECT_EQ(copied, data.mid(5, target.length));
        EXPECT_FALSE(copyRange(in.get(), std::uint64_t(data.size() - 2), out.get(), 3, buffer));
    }
}

// A file updated in place comes back as it was from its journal, unless the journal itself was
// cut short (then the file was never touched and the journal only goes), or another file has
// taken the name since (then that file is not touched either).
TEST(Journal, RecoversOnlyFromAWholeJournalOfThatFile) {
    enum Since { Kept, Replaced, Linked, Removed };
    const std::tuple<bool, qint64, Since, const char*> cases[] = {
        {true, 0, Kept, "head+new, longer tail"},  // committed
        {false, 0, Kept, "head+old tail"},         // the process died while updating
        {false, 3, Kept, "head+new, longer tail"}, // the journal is cut short
        {false, 0, Replaced, "someone else's"},    // the archive was replaced since
        {false, 0, Linked, "someone else's"},      // by a link, which is not followed
        {false, 0, Removed, nullptr},              // or removed
    };
    for (const auto& [commit, cutShort, since, expected] : cases) {
        SCOPED_TRACE(expected ? expected : "removed");
        TempDir dir;
        writeFile(dir.file("pak0.pk3"), "head+old tail");
        const Fd folder = openPath(dir.path(), O_PATH | O_DIRECTORY);
        const Fd file = openPath(dir.file("pak0.pk3"), O_RDWR);
        // Nothing begins where the old bytes cannot be read.
        EXPECT_FALSE(Journal().begin(folder.get(), "pak0.pk3",
                                     openPath(dir.file("pak0.pk3"), O_WRONLY).get(), 5));
        {
            Journal journal;
            ASSERT_TRUE(journal.begin(folder.get(), "pak0.pk3", file.get(), 5));
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(journal.saved().data()),
                                 qsizetype(journal.saved().size())),
                      "old tail");
            ASSERT_TRUE(writeAllAt(file.get(), "new, longer tail", 16, 5));
            if (commit) {
                ASSERT_TRUE(journal.commit(21));
            }
        } // a journal neither committed nor rolled back: the process died
        const QString saved = dir.file(QString::fromStdString(journalName("pak0.pk3")));
        EXPECT_EQ(QFile::exists(saved), !commit);
        if (cutShort)
            QFile::resize(saved, QFileInfo(saved).size() - cutShort);
        if (since == Replaced || since == Linked) // while the old one holds its inode number
            writeFile(dir.file("other"), "someone else's");
        if (since != Kept)
            QFile::remove(dir.file("pak0.pk3"));
        if (since == Replaced)
            QFile::rename(dir.file("other"), dir.file("pak0.pk3"));
        if (since == Linked)
            QFile::link(dir.file("other"), dir.file("pak0.pk3"));
        EXPECT_TRUE(recover(folder.get(), "pak0.pk3"));
        EXPECT_EQ(QFile::exists(dir.file("pak0.pk3")), expected != nullptr);
        if (expected) {
            EXPECT_EQ(readFile(dir.file("pak0.pk3")), expected);
        }
        EXPECT_FALSE(QFile::exists(saved));
    }
}

} // namespace
