// The compiled-in file lists: every count, order and form that the archive passes and the
// cleanup rely on, computed from the filled tables.

#include "conversion/manifests.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <map>
#include <ostream>
#include <set>
#include <vector>

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace corvane::pakinfo {
namespace {

using Counts = std::map<QString, int>;

const QString kOddEntry = QStringLiteral("\\\\sound\\boss3\\BS3SRCH3.WAV");
constexpr int kOddIndex = 2320;

const QString& entry(int i) {
    return Pak0Manifest[static_cast<std::size_t>(i)];
}

// Fills the table and returns a copy, so a test sees the table as a caller of the fill does.
std::vector<QString> filled() {
    FillPak0Manifest();
    return {Pak0Manifest.begin(), Pak0Manifest.end()};
}

// Text before the first backslash; empty for an entry without one.
QString topFolder(const QString& e) {
    const qsizetype at = e.indexOf(u'\\');
    return at < 0 ? QString() : e.left(at);
}

// The entry as the file system resolves it: a run of leading separators counts for nothing.
QString resolved(const QString& e) {
    qsizetype start = 0;
    while (start < e.size() && e[start] == u'\\')
        ++start;
    return e.mid(start);
}

// "top\sub" for an entry at least two folders deep, "top" for a file directly in its top folder.
QString subFolder(const QString& e) {
    const QStringList parts = e.split(u'\\');
    return parts.size() >= 3 ? parts[0] + u'\\' + parts[1] : parts[0];
}

// The extension with its dot, in the entry's own case.
QString extension(const QString& e) {
    return e.mid(e.lastIndexOf(u'.'));
}

// The folder holding the entry's file, as the cleanup's folder list writes it.
QString holdingFolder(const QString& e) {
    const QString path = resolved(e);
    const qsizetype at = path.lastIndexOf(u'\\');
    return at < 0 ? QString() : u'\\' + path.left(at);
}

Counts countBy(const std::vector<QString>& entries, QString (*key)(const QString&),
               const QString& onlyTop = {}) {
    Counts counts;
    for (const QString& e : entries)
        if (onlyTop.isEmpty() || topFolder(e) == onlyTop)
            ++counts[key(e)];
    return counts;
}

QString topAndExtension(const QString& e) {
    return topFolder(e) + u' ' + extension(e);
}

TEST(Pak0Manifest, EachFillStepWritesExactlyItsRange) {
    struct Step {
        void (*fill)();
        int first;
        int last;
        QString firstEntry;
        QString lastEntry;
    };
    const Step steps[] = {
        {FillPak0ManifestPart1, 0, 749, "env\\unit1_rt.pcx", "textures\\e1u3\\ggrat2_1.wal"},
        {FillPak0ManifestPart2, 750, 1649, "textures\\e1u3\\sflr1_3.wal",
         "textures\\e2u3\\belt1_2.wal"},
        {FillPak0ManifestPart3, 1650, 2319, "textures\\e3u3\\metal23_2.wal",
         "sound\\boss3\\BS3SRCH2.WAV"},
        {FillPak0ManifestPart4, 2320, 2659, kOddEntry, "sound\\weapons\\Bfg__x1b.wav"},
        {FillPak0ManifestPart5, 2660, 3306, "sound\\weapons\\BLASTF1A.WAV",
         "models\\objects\\grenade2\\skin.pcx"},
    };
    int expectedFirst = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.first);
        EXPECT_EQ(step.first, expectedFirst);
        expectedFirst = step.last + 1;

        Pak0Manifest.fill(QString());
        step.fill();
        for (int i = 0; i < kPak0ManifestSize; ++i) {
            const bool inside = i >= step.first && i <= step.last;
            ASSERT_EQ(entry(i).isEmpty(), !inside) << "index " << i;
        }
        EXPECT_EQ(entry(step.first), step.firstEntry);
        EXPECT_EQ(entry(step.last), step.lastEntry);
    }
    EXPECT_EQ(expectedFirst, kPak0ManifestSize);
    FillPak0Manifest(); // leave the table whole for whatever runs next
}

TEST(Pak0Manifest, FillOverwritesEverySlotAndFillingAgainChangesNothing) {
    Pak0Manifest.fill(QStringLiteral("stale"));
    const std::vector<QString> first = filled();
    EXPECT_EQ(std::count(first.begin(), first.end(), QStringLiteral("stale")), 0);
    EXPECT_EQ(filled(), first);
}

TEST(Pak0Manifest, NamedEntriesStandAtTheirIndices) {
    const std::pair<int, QString> named[] = {
        {0, "env\\unit1_rt.pcx"},
        {1, "env\\unit1_rt.tga"},
        {12, "env\\unit2_rt.pcx"},
        {119, "env\\space1dn.tga"},
        {120, "maps\\base1.bsp"},
        {121, "textures\\e1u1\\metal2_1.wal"},
        {749, "textures\\e1u3\\ggrat2_1.wal"},
        {750, "textures\\e1u3\\sflr1_3.wal"},
        {1649, "textures\\e2u3\\belt1_2.wal"},
        {1650, "textures\\e3u3\\metal23_2.wal"},
        {2244, "maps\\boss2.bsp"},
        {2276, "textures\\e2u2\\refdr1_1.wal"},
        {2277, "Default.cfg"},
        {2278, "maps.lst"},
        {2279, "demos\\demo1.dm2"},
        {2280, "demos\\demo2.dm2"},
        {2281, "warehouse.cfg"},
        {2302, "sound\\berserk\\attack.wav"},
        {2319, "sound\\boss3\\BS3SRCH2.WAV"},
        {2320, kOddEntry},
        {2321, "sound\\boss3\\d_hit.wav"},
        {2474, "sound\\makron\\laf4.pk"},
        {2484, "sound\\makron\\src3.pk"},
        {2492, "sound\\makron\\v_src.pk"},
        {2493, "sound\\makron\\v_src1.pk"},
        {2494, "sound\\makron\\v_src2.pk"},
        {2510, "sound\\misc\\bigtele.map"},
        {2659, "sound\\weapons\\Bfg__x1b.wav"},
        {2660, "sound\\weapons\\BLASTF1A.WAV"},
        {2778, "sound\\world\\lava1.pk"},
        {2854, "sound\\world\\yelforce.wav"},
        {2855, "pics\\colormap.pcx"},
        {2856, "pics\\16to8.dat"},
        {2866, "pics\\pop.lmp"},
        {2981, "pics\\m_main.pcx"},
        {2982, "models\\items\\ammo\\bullets\\medium\\tris.md2"},
        {3202, "models\\monsters\\boss3\\rider\\pain.pcx"},
        {3203, "sprites\\s_explod_0.pcx"},
        {3251, "sprites\\s_bfg3.sp2"},
        {3252, "models\\weapons\\g_bfg\\tris.md2"},
        {3255, "models\\weapons\\g_blast\\base.pcx"},
        {3261, "models\\weapons\\g_flareg\\base.pcx"},
        {3301, "models\\weapons\\v_shotg2\\skin.pcx"},
        {3302, "sprites\\s_bfg1.sp2"},
        {3304, "sprites\\s_bfg1_1.pcx"},
        {3305, "models\\objects\\grenade2\\tris.md2"},
        {3306, "models\\objects\\grenade2\\skin.pcx"},
    };
    filled();
    for (const auto& [index, text] : named)
        EXPECT_EQ(entry(index), text) << "index " << index;
    EXPECT_EQ(entry(kOddIndex).size(), 26);
}

TEST(Pak0Manifest, CountsByTopFolder) {
    const Counts expected = {
        {"textures", 2118}, {"sound", 552}, {"models", 273}, {"pics", 127}, {"env", 120},
        {"sprites", 52},    {"maps", 39},   {"demos", 2},    {"", 24},
    };
    const std::vector<QString> entries = filled();
    const Counts counts = countBy(entries, topFolder);
    EXPECT_EQ(counts, expected);

    int packed = 0; // the top folders the first archive pass puts into pak0.pk3
    for (const char* top : {"env", "models", "pics", "sound", "sprites"})
        packed += counts.at(top);
    EXPECT_EQ(packed, 1124);
}

TEST(Pak0Manifest, RootEntriesAndTheOddSoundEntryHaveAnEmptyTopFolder) {
    const std::vector<QString> entries = filled();
    std::vector<int> emptyTop;
    Counts rootExtensions;
    for (int i = 0; i < kPak0ManifestSize; ++i) {
        const QString& e = entries[static_cast<std::size_t>(i)];
        if (!topFolder(e).isEmpty())
            continue;
        emptyTop.push_back(i);
        if (!e.contains(u'\\'))
            ++rootExtensions[extension(e)];
    }
    const Counts expectedRoot = {{".cfg", 22}, {".lst", 1}};
    EXPECT_EQ(rootExtensions, expectedRoot);

    std::vector<int> expectedIndices = {2277, 2278};
    for (int i = 2281; i <= 2301; ++i)
        expectedIndices.push_back(i);
    expectedIndices.push_back(kOddIndex);
    EXPECT_EQ(emptyTop, expectedIndices);
}

TEST(Pak0Manifest, CountsBySubFolder) {
    const std::vector<QString> entries = filled();
    struct Top {
        QString name;
        Counts expected;
    };
    const Top tops[] = {
        {"textures",
         {{"textures", 1},
          {"textures\\e1u1", 386},
          {"textures\\e1u2", 211},
          {"textures\\e1u3", 314},
          {"textures\\e1u4", 21},
          {"textures\\e2u1", 203},
          {"textures\\e2u2", 151},
          {"textures\\e2u3", 283},
          {"textures\\e3u1", 245},
          {"textures\\e3u2", 115},
          {"textures\\e3u3", 175},
          {"textures\\test", 13}}},
        {"sound", {{"sound\\berserk", 9},  {"sound\\boss3", 14},     {"sound\\bosshovr", 6},
                   {"sound\\bosstank", 7}, {"sound\\brain", 14},     {"sound\\chick", 15},
                   {"sound\\doors", 3},    {"sound\\flipper", 8},    {"sound\\floater", 9},
                   {"sound\\flyer", 9},    {"sound\\gladiator", 11}, {"sound\\gunner", 9},
                   {"sound\\hover", 9},    {"sound\\infantry", 12},  {"sound\\insane", 11},
                   {"sound\\items", 14},   {"sound\\makron", 32},    {"sound\\medic", 11},
                   {"sound\\misc", 27},    {"sound\\mutant", 13},    {"sound\\parasite", 11},
                   {"sound\\plats", 3},    {"sound\\player", 63},    {"sound\\rotate", 2},
                   {"sound\\soldier", 12}, {"sound\\switches", 1},   {"sound\\tank", 18},
                   {"sound\\weapons", 41}, {"sound\\world", 158}}},
        {"models",
         {{"models\\items", 72},
          {"models\\objects", 68},
          {"models\\deadbods", 2},
          {"models\\ships", 6},
          {"models\\monsters", 75},
          {"models\\weapons", 50}}},
    };
    for (const Top& top : tops)
        EXPECT_EQ(countBy(entries, subFolder, top.name), top.expected) << top.name.toStdString();
    EXPECT_EQ(countBy(entries, subFolder, "pics"), (Counts{{"pics", 127}}));
}

TEST(Pak0Manifest, CountsByExtension) {
    const std::vector<QString> entries = filled();
    const Counts byExtension = {
        {".wal", 2118}, {".wav", 500}, {".WAV", 46}, {".pcx", 383}, {".md2", 119},
        {".tga", 60},   {".bsp", 39},  {".cfg", 22}, {".sp2", 8},   {".pk", 6},
        {".dm2", 2},    {".lst", 1},   {".map", 1},  {".dat", 1},   {".lmp", 1},
    };
    EXPECT_EQ(countBy(entries, extension), byExtension);

    const Counts byTopAndExtension = {
        {"textures .wal", 2118}, {"sound .wav", 500},  {"sound .WAV", 45},   {"sound .pk", 6},
        {"sound .map", 1},       {"models .md2", 119}, {"models .pcx", 154}, {"pics .pcx", 125},
        {"pics .dat", 1},        {"pics .lmp", 1},     {"env .pcx", 60},     {"env .tga", 60},
        {"sprites .pcx", 44},    {"sprites .sp2", 8},  {"maps .bsp", 39},    {"demos .dm2", 2},
        {" .cfg", 22},           {" .lst", 1},         {" .WAV", 1},
    };
    EXPECT_EQ(countBy(entries, topAndExtension), byTopAndExtension);
}

TEST(Pak0Manifest, OddExtensionsStandOnlyWhereListed) {
    const std::vector<QString> entries = filled();
    const std::map<QString, std::vector<int>> expected = {
        {".pk", {2474, 2484, 2492, 2493, 2494, 2778}},
        {".map", {2510}},
    };
    std::map<QString, std::vector<int>> found;
    std::set<QString> upperWavFolders;
    for (int i = 0; i < kPak0ManifestSize; ++i) {
        const QString& e = entries[static_cast<std::size_t>(i)];
        const QString ext = extension(e);
        if (ext == ".pk" || ext == ".map")
            found[ext].push_back(i);
        if (ext == ".WAV" && i != kOddIndex)
            upperWavFolders.insert(subFolder(e));
    }
    EXPECT_EQ(found, expected);
    const std::set<QString> expectedFolders = {"sound\\boss3",    "sound\\bosshovr",
                                               "sound\\bosstank", "sound\\gladiator",
                                               "sound\\hover",    "sound\\weapons"};
    EXPECT_EQ(upperWavFolders, expectedFolders);
}

TEST(Pak0Manifest, ContentFollowsTheOrderOfIndexRanges) {
    // What an entry is, for the ordering: weapon models apart from the other models, the level
    // files and textures together, the root files and demos together.
    const auto kind = [](const QString& e) -> QString {
        const QString path = resolved(e);
        const QString top = topFolder(path);
        if (path.startsWith("models\\weapons\\"))
            return "weapons";
        if (path.startsWith("models\\objects\\grenade2\\"))
            return "grenade2";
        if (top == "maps" || top == "textures")
            return "levels";
        if (top.isEmpty() || top == "demos")
            return "root";
        return top;
    };
    struct Range {
        int first;
        int last;
        QString kind;
    };
    const Range ranges[] = {
        {0, 119, "env"},          {120, 2276, "levels"},   {2277, 2301, "root"},
        {2302, 2854, "sound"},    {2855, 2981, "pics"},    {2982, 3202, "models"},
        {3203, 3251, "sprites"},  {3252, 3301, "weapons"}, {3302, 3304, "sprites"},
        {3305, 3306, "grenade2"},
    };
    const std::vector<QString> entries = filled();
    int next = 0;
    for (const Range& range : ranges) {
        EXPECT_EQ(range.first, next);
        next = range.last + 1;
        for (int i = range.first; i <= range.last; ++i)
            EXPECT_EQ(kind(entries[static_cast<std::size_t>(i)]), range.kind) << "index " << i;
    }
    EXPECT_EQ(next, kPak0ManifestSize);
}

TEST(Pak0Manifest, SkySetsComeSetBySetFaceByFacePcxThenTga) {
    const QStringList sets = {"unit1_", "unit2_", "unit3_", "unit4_", "unit5_",
                              "unit6_", "unit7_", "unit8_", "unit9_", "space1"};
    const QStringList faces = {"rt", "ft", "lf", "bk", "up", "dn"};
    filled();
    int i = 0;
    for (const QString& set : sets)
        for (const QString& face : faces)
            for (const char* ext : {".pcx", ".tga"})
                EXPECT_EQ(entry(i++), "env\\" + set + face + ext);
}

TEST(Pak0Manifest, EachLevelFileIsFollowedByTheTexturesItBringsIn) {
    const std::vector<QString> entries = filled();
    std::vector<int> levels;
    for (int i = 120; i <= 2276; ++i)
        if (topFolder(entries[static_cast<std::size_t>(i)]) == "maps")
            levels.push_back(i);
    ASSERT_EQ(levels.size(), 39u);
    EXPECT_EQ(levels.front(), 120);
    EXPECT_EQ(levels.back(), 2244);
    for (int i : levels)
        EXPECT_EQ(topFolder(entries[static_cast<std::size_t>(i + 1)]), "textures")
            << "level file " << entries[static_cast<std::size_t>(i)].toStdString();
}

TEST(Pak0Manifest, SoundSubFoldersComeWholeAndInAlphabeticalOrder) {
    const std::vector<QString> entries = filled();
    QStringList order;
    for (int i = 2302; i <= 2854; ++i) {
        const QString sub = subFolder(resolved(entries[static_cast<std::size_t>(i)]));
        if (order.isEmpty() || order.back() != sub)
            order.push_back(sub);
    }
    EXPECT_EQ(order.size(), 29);
    EXPECT_EQ(order.removeDuplicates(), 0);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(Pak0Manifest, EachWeaponModelIsItsMeshThenItsSkin) {
    filled();
    for (int i = 3252; i <= 3301; i += 2) {
        const QString mesh = entry(i);
        const QString skin = entry(i + 1);
        EXPECT_TRUE(mesh.endsWith("\\tris.md2")) << mesh.toStdString();
        EXPECT_EQ(holdingFolder(skin), holdingFolder(mesh)) << skin.toStdString();
        EXPECT_EQ(extension(skin), ".pcx") << skin.toStdString();
    }
}

TEST(Pak0Manifest, KeepsTheCaseAndPlusSignOfListedNames) {
    const std::vector<QString> entries = filled();
    for (const char* name :
         {"sound\\berserk\\Berdeth2.wav", "textures\\e1u1\\PIP04_4.wal", "textures\\REGION.wal",
          "sound\\boss3\\BS3ATCK1.WAV", "textures\\e1u1\\+0cgrate1_1.wal"})
        EXPECT_EQ(std::count(entries.begin(), entries.end(), QString(name)), 1) << name;
}

TEST(Pak0Manifest, EntriesAreWellFormedRelativePaths) {
    const std::vector<QString> entries = filled();
    for (int i = 0; i < kPak0ManifestSize; ++i) {
        const QString& e = entries[static_cast<std::size_t>(i)];
        SCOPED_TRACE(e.toStdString());
        EXPECT_FALSE(e.isEmpty());
        EXPECT_FALSE(e.contains(u' '));
        EXPECT_FALSE(e.contains(u'/'));
        EXPECT_FALSE(e.endsWith(u'\\'));
        // Only the odd entry starts with a separator; no entry holds an empty path component.
        EXPECT_FALSE(resolved(e).contains("\\\\"));
        EXPECT_EQ(e.startsWith(u'\\'), i == kOddIndex);
        EXPECT_GT(extension(e).size(), 1);
    }
}

TEST(Pak0Manifest, LongestEntryIsUnique) {
    const std::vector<QString> entries = filled();
    const QString longest = "models\\items\\ammo\\grenades\\medium\\tris.md2";
    ASSERT_EQ(longest.size(), 42);
    for (const QString& e : entries)
        EXPECT_TRUE(e == longest || e.size() < longest.size()) << e.toStdString();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), longest), 1);
}

TEST(Pak0Manifest, HasNoDuplicatesEvenIgnoringCase) {
    QSet<QString> seen;
    for (const QString& e : filled()) {
        const QString key = e.toLower();
        EXPECT_FALSE(seen.contains(key)) << e.toStdString();
        seen.insert(key);
    }
}

TEST(Pak2Manifest, HoldsTheTwoPickupSkinsAlsoListedInPak0) {
    const std::pair<int, int> indices[] = {{0, 3255}, {1, 3261}};
    Pak2Manifest.fill(QString());
    FillPak2Manifest();
    FillPak0Manifest();
    EXPECT_EQ(Pak2Manifest[0], "models\\weapons\\g_blast\\base.pcx");
    EXPECT_EQ(Pak2Manifest[1], "models\\weapons\\g_flareg\\base.pcx");
    for (const auto& [pak2, pak0] : indices)
        EXPECT_EQ(Pak2Manifest[static_cast<std::size_t>(pak2)], entry(pak0));
}

TEST(TempFolders, AreExactlyTheFoldersHoldingManifestFilesAtEveryLevel) {
    std::set<QString> derived;
    for (const QString& e : filled()) {
        for (QString folder = holdingFolder(e); !folder.isEmpty();
             folder = folder.left(folder.lastIndexOf(u'\\')))
            derived.insert(folder);
    }
    const std::array<QString, kTempFolderCount>& folders = TempFolders();
    const std::set<QString> listed(folders.begin(), folders.end());
    EXPECT_EQ(listed.size(), folders.size()) << "a folder is listed twice";
    EXPECT_EQ(listed, derived);
}

TEST(TempFolders, EveryFolderComesAfterAllOfItsSubFolders) {
    const std::array<QString, kTempFolderCount>& folders = TempFolders();
    for (std::size_t i = 0; i < folders.size(); ++i)
        for (std::size_t j = i + 1; j < folders.size(); ++j)
            EXPECT_FALSE(folders[j].startsWith(folders[i] + u'\\'))
                << folders[i].toStdString() << " before " << folders[j].toStdString();
}

TEST(TempFolders, ComeInGroupsEndingWithTheTopFoldersInAlphabeticalOrder) {
    struct Group {
        int first; // 1-based positions in the removal order
        int last;
        QString under;
    };
    const Group groups[] = {
        {1, 47, "\\models\\items"},
        {48, 74, "\\models\\monsters"},
        {75, 107, "\\models\\objects"},
        {108, 111, "\\models\\ships"},
        {112, 113, "\\models\\deadbods"},
        {114, 139, "\\models\\weapons"},
        {140, 170, "\\sound"},
        {171, 181, "\\textures"},
    };
    const std::array<QString, kTempFolderCount>& folders = TempFolders();
    const auto at = [&](int position) { return folders[static_cast<std::size_t>(position - 1)]; };
    for (const Group& group : groups) {
        for (int p = group.first; p <= group.last; ++p)
            EXPECT_TRUE(at(p).startsWith(group.under + u'\\') || at(p) == group.under)
                << p << ' ' << at(p).toStdString();
    }
    EXPECT_EQ(at(47), "\\models\\items");
    EXPECT_EQ(at(74), "\\models\\monsters");
    EXPECT_EQ(at(139), "\\models\\weapons");
    const QStringList tops = {"\\demos", "\\env",   "\\maps",    "\\models",
                              "\\pics",  "\\sound", "\\sprites", "\\textures"};
    for (int p = 182; p <= 189; ++p)
        EXPECT_EQ(at(p), tops[p - 182]);
}

} // namespace
} // namespace corvane::pakinfo
