#include "archive_builder.h"
#include "csc/sound_paths.h"
#include "layout/paths.h"
#include "test_support.h"

#include <gtest/gtest.h>

TEST(Paths, PadZerosFillsButNeverShortens) {
    EXPECT_EQ(csc::PadZeros(0, 6), "000000");
    EXPECT_EQ(csc::PadZeros(7, 6), "000007");
    EXPECT_EQ(csc::PadZeros(12345, 6), "012345");
    EXPECT_EQ(csc::PadZeros(1234567, 6), "1234567");
}

TEST(Paths, TaggedSoundFoldersFollowTheFirstTagReference) {
    csc::IndexTables tables;
    auto addTag = [&](std::string name, std::vector<std::string> subTags) {
        csc::TSM_Tag tag;
        tag.Name = std::move(name);
        tag.SubTagCount = static_cast<std::uint8_t>(subTags.size());
        tag.SubTags = std::move(subTags);
        tables.Tags.push_back(tag);
    };
    addTag("XAmbience", {"wind", "rain"});
    addTag("Q", {});
    addTag("", {"s"});
    struct Case {
        std::vector<csc::TSM_TagRef> refs;
        std::string path;
    };
    const Case cases[] = {
        {{builder::TagRef(0, 255)}, "TaggedSounds\\Ambience\\"},
        {{builder::TagRef(0, 1), builder::TagRef(1, 255)}, "TaggedSounds\\Ambience.rain\\"},
        {{builder::TagRef(0, 2)}, "TaggedSounds\\Ambience.UnkSubTag\\"},
        {{builder::TagRef(1, 255)}, "TaggedSounds\\\\"},
        {{builder::TagRef(1, 0)}, "TaggedSounds\\.UnkSubTag\\"},
        {{builder::TagRef(2, 0)}, "TaggedSounds\\.s\\"},
        {{builder::TagRef(3, 255)}, "TaggedSounds\\UnkTag\\"},
        {{}, "TaggedSounds\\UnkTag\\"},
    };
    for (const Case& c : cases) {
        csc::TSM_TaggedSound sound;
        sound.TagCount = static_cast<std::uint8_t>(c.refs.size());
        sound.TagRefs = c.refs;
        EXPECT_EQ(csc::TaggedSoundPath(tables, sound, 0), c.path);
        EXPECT_EQ(csc::FirstTag(tables, sound) == nullptr, c.path == "TaggedSounds\\UnkTag\\");
    }
    EXPECT_EQ(csc::MissionSoundPath({"M01", 0}), "MissionSounds\\M01\\");
    EXPECT_EQ(csc::MissionSoundPath({"", 0}), "MissionSounds\\\\");
}

// Every output path is built by one function: folders from the archive's folder and the base path,
// then the name, whose own separators make folders that the tree does not make.
TEST(OutputPaths, AreBuiltFromSafeComponentsWithoutEmptyOrDotFolders) {
    struct Case {
        std::string base, name, text;
        std::uint32_t madeFolders, nameFolders;
    };
    const Case cases[] = {
        {"TaggedSounds\\Ambience.rain\\", "a.ogg", "__A/TaggedSounds/Ambience.rain/a.ogg", 3, 0},
        {"\\", "000000_x.wav", "__A/000000_x.wav", 1, 0},
        {"MissionSounds\\\\", "e", "__A/MissionSounds/e", 2, 0},
        {"MissionSounds\\M/x\\", "a/b.ogg", "__A/MissionSounds/M/x/a/b.ogg", 4, 1},
        {"a\\.\\b\\", "./c", "__A/a/b/c", 3, 0},
        {"a\\..\\b\\", "../../x", "__A/a/__/b/__/__/x", 4, 2},
        {"a\\ . .\\", "...", "__A/a/ _ _/___", 3, 0},
        {"a\\..b\\", "c..", "__A/a/..b/c..", 3, 0},
        {"B\\", "", "__A/B/", 2, 0},
        {"B\\", ".", "__A/B/.", 2, 0},
        {std::string("a\0b\\", 4), "n", "__A/a_b/n", 2, 0},
    };
    for (const Case& c : cases) {
        layout::OutputPath path =
            layout::BuildOutputPath("__A\\", c.base, c.name, platform::NameRules::Posix);
        EXPECT_EQ(path.Text, c.text) << c.base << c.name;
        EXPECT_EQ(path.MadeFolders, c.madeFolders) << c.text;
        EXPECT_EQ(path.NameFolders, c.nameFolders) << c.text;
    }
    layout::OutputPath path = layout::BuildOutputPath("__A\\", "b\\", "c.ogg");
    EXPECT_EQ(layout::LeadingComponents(path, 1), "__A");
    EXPECT_EQ(layout::LeadingComponents(path, 2), "__A/b");
}

TEST(OutputPaths, WindowsRulesDefuseNamesWin32WouldReadOtherwise) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"a:b", "a_b"},
        {"c<>\"|?*", "c______"},
        {"tab\there\x01", "tab_here_"},
        {"name.", "name_"},
        {"dir ", "dir_"},
        {".", "."},
        {"..", "__"},
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"nul.tar.gz", "_nul.tar.gz"},
        {"Nul .ogg", "_Nul .ogg"},
        {"lpt9.wav", "_lpt9.wav"},
        {"COM\xB9", "_COM\xB9"},
        {"conin$", "_conin$"},
        {"CONOUT$.ogg", "_CONOUT$.ogg"},
        {"COM0", "COM0"},
        {"CONSOLE", "CONSOLE"},
        {"LPT10.wav", "LPT10.wav"},
        {"xCON", "xCON"},
        {"tar.nul.gz", "tar.nul.gz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(layout::SafeComponent(c.in, platform::NameRules::Windows), c.out) << c.in;
    }
    // Posix rules leave all of these as they stand.
    EXPECT_EQ(layout::SafeComponent("CON", platform::NameRules::Posix), "CON");
    EXPECT_EQ(layout::SafeComponent("a:b.", platform::NameRules::Posix), "a:b.");
}
