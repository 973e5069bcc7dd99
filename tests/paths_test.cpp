#include "archive_builder.h"
#include "extract/paths.h"
#include "test_support.h"

#include <gtest/gtest.h>

TEST(Paths, NextSeparatorFindsEitherSeparatorFromAOneBasedStart) {
    EXPECT_EQ(extract::NextSeparator(1, "ab\\c/d"), 3);
    EXPECT_EQ(extract::NextSeparator(4, "ab\\c/d"), 5);
    EXPECT_EQ(extract::NextSeparator(6, "ab\\c/d"), -1);
    EXPECT_EQ(extract::NextSeparator(99, "ab\\c/d"), -1);
    EXPECT_EQ(extract::NextSeparator(1, "plain"), -1);
}

TEST(Paths, PadZerosFillsButNeverShortens) {
    EXPECT_EQ(extract::PadZeros(0, 6), "000000");
    EXPECT_EQ(extract::PadZeros(7, 6), "000007");
    EXPECT_EQ(extract::PadZeros(12345, 6), "012345");
    EXPECT_EQ(extract::PadZeros(1234567, 6), "1234567");
    EXPECT_EQ(extract::PadZeros(42, 0), "42");
    EXPECT_EQ(extract::PadZeros(42, -3), "42");
}

TEST(Paths, ForceFoldersMakesEveryLevelButTrailingText) {
    testing_support::TempFolder folder;
    testing_support::InFolder inside(folder.Path());
    extract::FolderMemory made;
    extract::ForceFolders("nofolder", made);
    extract::ForceFolders("a\\b//c/d\\name", made);
    extract::ForceFolders("a\\b//c/d\\name", made);
    extract::ForceFolders("x\\y\\", made);
    auto tree = testing_support::Tree(folder.Path());
    EXPECT_EQ(
        tree,
        (std::map<std::string, std::string>{
            {"a/", ""}, {"a/b/", ""}, {"a/b/c/", ""}, {"a/b/c/d/", ""}, {"x/", ""}, {"x/y/", ""}}));
}

TEST(Paths, AFolderThatCouldNotBeMadeIsTriedAgainLater) {
    testing_support::TempFolder folder;
    testing_support::InFolder inside(folder.Path());
    extract::FolderMemory made;
    testing_support::WriteFile(folder.Path() / "a", "in the way");
    extract::ForceFolders("a\\b\\name", made);
    EXPECT_FALSE(std::filesystem::is_directory(folder.Path() / "a"));
    std::filesystem::remove(folder.Path() / "a");
    extract::ForceFolders("a\\b\\name", made);
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "a" / "b"));
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
        EXPECT_EQ(extract::TaggedSoundPath(tables, sound, 0), c.path);
        EXPECT_EQ(extract::FirstTag(tables, sound) == nullptr, c.path == "TaggedSounds\\UnkTag\\");
    }
    EXPECT_EQ(extract::MissionSoundPath({"M01", 0}), "MissionSounds\\M01\\");
    EXPECT_EQ(extract::MissionSoundPath({"", 0}), "MissionSounds\\\\");
}

TEST(Paths, SafePathDefusesComponentsThatClimbOut) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"a\\..\\b", "a\\__\\b"},        {"..\\..\\x", "__\\__\\x"},
        {"../../x", "__/__/x"},          {"a\\.\\b", "a\\.\\b"},
        {"a\\ . .\\b", "a\\ _ _\\b"},    {"a\\...", "a\\___"},
        {"a\\..b\\c..", "a\\..b\\c.."},  {"__SchemaMetaFile.csc\\x", "__SchemaMetaFile.csc\\x"},
        {std::string("a\0b", 3), "a_b"}, {"..", "__"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extract::SafePath(c.in, platform::NameRules::Posix), c.out) << c.in;
    }
}

TEST(Paths, WindowsRulesDefuseNamesWin32WouldReadOtherwise) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"a:b\\c<>\"|?*", "a_b\\c______"},
        {"tab\there\x01", "tab_here_"},
        {"name.\\dir \\x", "name_\\dir_\\x"},
        {"a\\.\\..\\b", "a\\.\\__\\b"},
        {"CON\\x", "_CON\\x"},
        {"con.txt", "_con.txt"},
        {"Nul .ogg", "_Nul .ogg"},
        {"lpt9.wav", "_lpt9.wav"},
        {"COM\xB9", "_COM\xB9"},
        {"conin$", "_conin$"},
        {"COM0", "COM0"},
        {"CONSOLE", "CONSOLE"},
        {"LPT10.wav", "LPT10.wav"},
        {"xCON", "xCON"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extract::SafePath(c.in, platform::NameRules::Windows), c.out) << c.in;
    }
    // Posix rules leave all of these as they stand.
    EXPECT_EQ(extract::SafePath("CON\\a:b.", platform::NameRules::Posix), "CON\\a:b.");
}
