// The confirmation after the walk: the questions, their order, answers, the paths kept, and
// the roads that end the program.

#include "discovery_fixture.h"

#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

// One box expected: a question about a folder of a game, or a message.
struct Expected {
    enum Kind { Quake2Question, Quake3Question, Message } kind;
    QString text; // the folder asked about, or the message
};

ShownBox shown(const Expected& expected, const TempDir& disk) {
    const QString folder = disk.file(expected.text) + kSep;
    switch (expected.kind) {
    case Expected::Quake2Question:
        return {"Is this the right Quake 2 Path to use?\r\n" + folder, kYesNo,
                "Select correct Quake2 Path"};
    case Expected::Quake3Question:
        return {"Is this the right Quake 3 Path to use?\r\n" + folder, kYesNo,
                "Is this the correct Quake3 Path"};
    case Expected::Message:
        break;
    }
    return {expected.text, kOkOnly, QString()};
}

const QString kInstallQ2 = "Install Quake 2, then rerun this application!";
const QString kInstallQ3 = "Install Quake 3, then rerun this application!";
const QString kNoQ2 = "Quake 2 not found, Install it and try this again!";
const QString kNoQ3 = "Quake 3 not found, Install it and try this again!";

struct Road {
    const char* name;
    QStringList quake2, quake3; // folders under the drive; the walk finds them last first
    std::vector<int> answers;
    std::vector<Expected> boxes;
    bool ends;
    QString quake2Path, quake3Path;
};

using E = Expected;
// Test names show the case's name rather than its bytes.
void PrintTo(const Road& value, std::ostream* out) {
    *out << value.name;
}

const Road kRoads[] = {
    {"OneOfEachYesYes",
     {"q2a"},
     {"q3a"},
     {kYes, kYes},
     {{E::Quake2Question, "q2a"}, {E::Quake3Question, "q3a"}},
     false,
     "q2a",
     "q3a"},
    {"NoNoYesOnThreeQuake2Folders",
     {"q2a", "q2b", "q2c"},
     {"q3a"},
     {kNo, kNo, kYes, kYes},
     {{E::Quake2Question, "q2c"},
      {E::Quake2Question, "q2b"},
      {E::Quake2Question, "q2a"},
      {E::Quake3Question, "q3a"}},
     false,
     "q2a",
     "q3a"},
    {"NoToEveryQuake2Folder",
     {"q2a", "q2b"},
     {"q3a"},
     {kNo, kNo},
     {{E::Quake2Question, "q2b"}, {E::Quake2Question, "q2a"}, {E::Message, kInstallQ2}},
     true,
     {},
     {}},
    {"NoToEveryQuake3Folder",
     {"q2a"},
     {"q3a", "q3b"},
     {kYes, kNo, kNo},
     {{E::Quake2Question, "q2a"},
      {E::Quake3Question, "q3b"},
      {E::Quake3Question, "q3a"},
      {E::Message, kInstallQ3}},
     true,
     "q2a",
     {}},
    {"Quake3Missing", {"q2a"}, {}, {}, {{E::Message, kNoQ3}}, true, {}, {}},
    {"Quake2Missing", {}, {"q3a"}, {}, {{E::Message, kNoQ2}}, true, {}, {}},
    {"NeitherFound", {}, {}, {}, {{E::Message, kNoQ2}}, true, {}, {}},
};

class PathConfirmation : public DiscoveryTest, public ::testing::WithParamInterface<Road> {};

TEST_P(PathConfirmation, AsksFolderByFolderAndKeepsTheChoiceOrEnds) {
    const Road& road = GetParam();
    for (const QString& folder : road.quake2)
        installQuake2(drive.file(folder));
    for (const QString& folder : road.quake3)
        installQuake3(drive.file(folder));
    makeScreen({drive.path()});
    for (int answer : road.answers)
        platform.answer({answer});

    EXPECT_EQ(search(), road.ends);

    ASSERT_EQ(platform.boxes().size(), road.boxes.size());
    for (size_t i = 0; i < road.boxes.size(); ++i) {
        const ShownBox expected = shown(road.boxes[i], drive);
        const ShownBox& actual = platform.boxes()[i];
        EXPECT_EQ(actual.prompt, expected.prompt) << "box " << i;
        EXPECT_EQ(actual.buttons, expected.buttons) << "box " << i;
        EXPECT_EQ(actual.title, expected.title) << "box " << i;
    }
    auto path = [this](const QString& folder) {
        return folder.isEmpty() ? QString() : drive.file(folder) + kSep;
    };
    EXPECT_EQ(pakinfo::Quake2Path, path(road.quake2Path));
    EXPECT_EQ(pakinfo::Quake3Path, path(road.quake3Path));
    // "Next" only once both folders are confirmed.
    EXPECT_EQ(screen->cmdNext->isEnabled(), !road.ends);
}

INSTANTIATE_TEST_SUITE_P(Roads, PathConfirmation, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
