// The I/O library on real folders: trees that never follow links or climb out, names found
// ignoring case, files that appear only when complete, and copies.

#include "io/atomic_file.h"
#include "io/journal.h"
#include "io/rw.h"
#include "io/tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane::io;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "corvane-io-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A tree beside an outside folder that links point into.
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.path / "outside/secret.txt", "secret");
        writeFile(dir.path / "root/models/items/Tris.MD2", "model");
        writeFile(dir.path / "root/pics/a.pcx", "a");
        fs::create_symlink(dir.path / "outside", dir.path / "root/linked");
        fs::create_symlink(dir.path / "outside/secret.txt", dir.path / "root/pics/link.pcx");
        tree = Tree::open((dir.path / "root").string(), Links::Refuse);
        ASSERT_TRUE(tree.valid());
    }
    TempDir dir;
    Tree tree;
};

TEST_F(TreeTest, FindsEntriesIgnoringCaseAndNeverThroughLinks) {
    struct Case {
        const char* path;
        Kind kind;
        const char* onDisk;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Tree::Entry entry = tree.find(c.path);
        EXPECT_EQ(entry.kind, c.kind);
        EXPECT_EQ(entry.error, 0);
        if (*c.onDisk) {
            EXPECT_EQ(entry.path, c.onDisk);
        }
    }
}

TEST_F(TreeTest, RefusesToClimbOut) {
    for (const char* path : {"..", "models/../../outside/secret.txt", "./pics/a.pcx"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(tree.openFile(path, O_RDONLY));
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(tree.removeFile(path), EINVAL);
    }
}

TEST_F(TreeTest, RemovesOnlyWhatIsInsideAndSaysWhy) {
    EXPECT_EQ(tree.removeFile("linked/secret.txt"), ENOENT);
    EXPECT_EQ(tree.removeFolder("linked"), ENOTDIR);
    EXPECT_EQ(tree.removeFile("pics/link.pcx"), 0); // the link itself goes
    EXPECT_EQ(readFile(dir.path / "outside/secret.txt"), "secret");
    EXPECT_EQ(tree.removeFolder("models/items"), ENOTEMPTY);
    EXPECT_EQ(tree.removeFile("models"), EISDIR);
    EXPECT_EQ(tree.removeFile("MODELS/ITEMS/TRIS.MD2"), 0);
    EXPECT_EQ(tree.removeFile("models/items/tris.md2"), ENOENT);
    EXPECT_EQ(tree.removeFolder("Models/Items"), 0);
    EXPECT_EQ(tree.removeFolder("models/items"), ENOENT);
    EXPECT_FALSE(fs::exists(dir.path / "root/models/items"));
}

TEST_F(TreeTest, OpensAndCreatesWithoutFollowingLinks) {
    EXPECT_FALSE(tree.openFile("pics/link.pcx", O_RDONLY));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(tree.makeFolders("linked/new"));
    EXPECT_FALSE(fs::exists(dir.path / "outside/new"));

    Fd made = tree.makeFolders("sound/boss3");
    ASSERT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(dir.path / "root/sound/boss3"));
    Fd file = tree.openFile("SOUND/boss3/new.wav", O_WRONLY | O_CREAT | O_EXCL);
    ASSERT_TRUE(file);
    EXPECT_TRUE(fs::exists(dir.path / "root/sound/boss3/new.wav"));
    EXPECT_FALSE(tree.makeFolders("pics/a.pcx"));
    EXPECT_EQ(errno, EEXIST);
}

TEST_F(TreeTest, GivenPathsBelowTheCurrentFolderNeverPassLinks) {
    const fs::path saved = fs::current_path();
    fs::current_path(dir.path / "root");
    EXPECT_FALSE(openGiven("linked/secret.txt", O_RDONLY));
    EXPECT_FALSE(openGiven("pics/link.pcx", O_RDONLY));
    EXPECT_TRUE(openGiven("../root/linked/secret.txt", O_RDONLY)); // the user's own choice
    EXPECT_TRUE(openGiven((dir.path / "root/linked/secret.txt").string(), O_RDONLY));
    const Tree::Place place = placeGiven("MODELS/items/tris.md2");
    EXPECT_TRUE(place.folder);
    EXPECT_EQ(place.name, "Tris.MD2");
    EXPECT_EQ(place.folderPath, "models/items");
    EXPECT_FALSE(placeGiven("linked/new.pk3").folder);
    fs::current_path(saved);
}

TEST_F(TreeTest, FollowsLinksOnlyWhenAskedTo) {
    Tree following = Tree::open((dir.path / "root").string(), Links::Follow);
    EXPECT_EQ(following.find("linked/SECRET.TXT").kind, Kind::File);
    EXPECT_EQ(following.find("pics/link.pcx").kind, Kind::File);
}

// A file appears under its name only when committed, whichever way it replaces the old one,
// and leaves nothing else behind; a link at the name is replaced, not followed.
TEST(AtomicFile, AppearsOnlyWhenCommittedAndLeavesNothingBehind) {
    for (const auto replace : {AtomicFile::Replace::Atomic, AtomicFile::Replace::RemoveFirst}) {
        TempDir dir;
        writeFile(dir.path / "archive.pk3", "old");
        writeFile(dir.path / "outside", "outside");
        fs::create_symlink(dir.path / "outside", dir.path / "link.wal");
        const Fd folder(::open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        for (const char* name : {"archive.pk3", "link.wal", "new.wal"}) {
            {
                AtomicFile dropped; // without a commit
                ASSERT_TRUE(dropped.create(folder.get(), name, 0640));
                ASSERT_TRUE(writeAll(dropped.fd(), "new", 3));
            }
            AtomicFile file;
            ASSERT_TRUE(file.create(folder.get(), name, 0640));
            ASSERT_TRUE(writeAll(file.fd(), "new", 3));
            EXPECT_NE(readFile(dir.path / name), "new");
            ASSERT_TRUE(file.commit(AtomicFile::Durability::NoFlush, replace));
            EXPECT_EQ(readFile(dir.path / name), "new");
            EXPECT_EQ(fs::status(dir.path / name).permissions() & fs::perms::all, fs::perms(0640));
        }
        EXPECT_EQ(readFile(dir.path / "outside"), "outside");
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path))
            ++entries;
        EXPECT_EQ(entries, 4u);
    }
}

// A file updated in place comes back as it was from its journal, unless the journal itself was
// cut short (then the file was never touched and the journal only goes).
TEST(Journal, RecoversOnlyFromAWholeJournal) {
    struct Case {
        const char* label;
        bool commit;          // the update finished
        std::size_t cutShort; // bytes cut off the journal's end
        const char* expected;
    };
    const Case cases[] = {{"Committed", true, 0, "head+new tail"},
                          {"Interrupted", false, 0, "head+old tail"},
                          {"JournalCutShort", false, 3, "head+new tail"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        writeFile(dir.path / "pak0.pk3", "head+old tail");
        const Fd folder(::open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const Fd file(::open((dir.path / "pak0.pk3").c_str(), O_RDWR | O_CLOEXEC));
        {
            Journal journal;
            ASSERT_TRUE(journal.begin(folder.get(), "pak0.pk3", file.get(), 5));
            EXPECT_EQ(std::string(journal.saved().begin(), journal.saved().end()), "old tail");
            ASSERT_TRUE(writeAllAt(file.get(), "new tail", 8, 5));
            if (c.commit) {
                ASSERT_TRUE(journal.commit(13));
            }
        } // a journal neither committed nor rolled back: the process died
        const fs::path saved = dir.path / journalName("pak0.pk3");
        EXPECT_EQ(fs::exists(saved), !c.commit);
        if (c.cutShort)
            fs::resize_file(saved, fs::file_size(saved) - c.cutShort);
        EXPECT_EQ(recover(folder.get(), "pak0.pk3"), 0);
        EXPECT_EQ(readFile(dir.path / "pak0.pk3"), c.expected);
        EXPECT_FALSE(fs::exists(saved));
    }
}

} // namespace
