#pragma once

// What the discovery tests share: temporary folders handed to the drive list as drives,
// scripted answers, a search screen built on them, and a check that no window stays behind.

#include "discovery/frm_q2toqf.h"
#include "shell/pakinfo.h"
#include "shell/platform_folders.h"
#include "support/test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace corvane::test {

// A folder holding a game installation as the search recognises it.
inline void installQuake2(const QString& folder) {
    writeFile(folder + "/quake2.exe");
    writeFile(folder + "/baseq2/pak0.pak");
}
inline void installQuake3(const QString& folder) {
    writeFile(folder + "/quake3.exe");
    writeFile(folder + "/baseq3/pak0.pk3");
}

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() { clearState(); }
    ~DiscoveryTest() override {
        screen.reset();
        clearState();
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "a window was left behind";
    }

    // A search screen whose drive list is exactly `roots`.
    FrmQ2toQf& makeScreen(const QStringList& roots) {
        PlatformFolders::setDriveRoots(roots);
        screen = std::make_unique<FrmQ2toQf>();
        return *screen;
    }

    // "Auto Search" as the toolkit runs it; true when it ended the program.
    bool search() {
        return runsToEnd([this] { screen->cmdSearch_Click(); });
    }

    // A folder path as the search lists it: with the trailing separator.
    static QString listed(const QString& folder) { return folder + kSep; }

    static QStringList entries(const QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    TempDir drive{"corvane-drive"};
    FakePlatform platform;
    std::unique_ptr<FrmQ2toQf> screen;

private:
    static void clearState() {
        PlatformFolders::reset();
        pakinfo::Quake2Path.clear();
        pakinfo::Quake3Path.clear();
    }
};

} // namespace corvane::test
