// What the work folder, the disk and the terminal may hold in the way of a run: non-files at an
// archive's name, links and pipes at an output path, a disk that refuses writes, names that
// Windows reads as devices, and names that carry terminal control.

#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using builder::File;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
namespace fs = std::filesystem;

namespace {

struct Scene {
    TempFolder folder;
    explicit Scene(const builder::ArchiveSet& set) { builder::WriteArchiveSet(set, folder.Path()); }
    fs::path operator/(const std::string& relative) const { return folder.Path() / relative; }
};

const std::string UnkTagFolder = "__SchemaMetaFile_DVD1.csc/TaggedSounds/UnkTag/";

} // namespace

TEST(Safety, OnlyARegularFileCountsAsAnArchive) {
    builder::ArchiveSet set = builder::SampleSet().Build();
    set.Archives[4].reset();
    set.Archives[5].reset();
    Scene scene(set);
    ASSERT_EQ(::mkfifo((scene / "SchemaMetaFile_DVD3.csc").c_str(), 0644), 0);
    fs::create_directory(scene / "SchemaMetaFile_DVD2.csc");
    auto run = testing_support::RunTool(scene.folder.Path(), {});
    EXPECT_EQ(run.ExitCode, 1) << "the files of the two archives were skipped";
    EXPECT_NE(run.Output.find(expected::Discovery({true, true, true, true, false, false})),
              std::string::npos)
        << run.Output;
    EXPECT_TRUE(run.Output.ends_with("Warning: 4 files were skipped, as their archives were not "
                                     "found: SchemaMetaFile_DVD2.csc, SchemaMetaFile_DVD3.csc\r\n"))
        << run.Output;
}

TEST(Safety, WhateverStandsAtAnOutputPathIsReplacedNeverWrittenThrough) {
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("link", 3, "L"), File("dangling", 3, "D"), File("hard", 3, "H"),
                             File("fifo", 3, "F"), File("folder", 3, "X")}});
    Scene scene(set.Build());
    TempFolder elsewhere;
    testing_support::WriteFile(elsewhere.Path() / "precious", "precious");
    testing_support::WriteFile(scene / "other-name", "other");
    fs::path out = scene / UnkTagFolder;
    fs::create_directories(out / "folder.ogg");
    fs::create_symlink(elsewhere.Path() / "precious", out / "link.ogg");
    fs::create_symlink(elsewhere.Path() / "created", out / "dangling.ogg");
    fs::create_hard_link(scene / "other-name", out / "hard.ogg");
    ASSERT_EQ(::mkfifo((out / "fifo.ogg").c_str(), 0644), 0);

    auto run = testing_support::RunTool(scene.folder.Path(), {});
    EXPECT_EQ(run.ExitCode, 1);
    // Wine refuses to rename over a POSIX pipe (Windows file systems hold none), so there the pipe
    // stays, unwritten and reported, but is not written through either.
    if (UnderLauncher()) {
        EXPECT_TRUE(expected::EndsWithUnwritten(run.Output, 2, UnkTagFolder + "fifo.ogg", ""));
    } else {
        EXPECT_TRUE(expected::EndsWithUnwritten(run.Output, 1, UnkTagFolder + "folder.ogg",
                                                "Is a directory"))
            << run.Output;
    }
    EXPECT_EQ(testing_support::ReadFile(elsewhere.Path() / "precious"), "precious");
    EXPECT_FALSE(fs::exists(elsewhere.Path() / "created"));
    EXPECT_EQ(testing_support::ReadFile(scene / "other-name"), "other");
    auto entries = fs::directory_iterator(out);
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 5) << "no file made on the way is left";
    std::vector<std::pair<const char*, const char*>> written = {
        {"link.ogg", "L"}, {"dangling.ogg", "D"}, {"hard.ogg", "H"}};
    if (!UnderLauncher()) {
        written.push_back({"fifo.ogg", "F"});
    }
    for (const auto& [name, bytes] : written) {
        bool replaced = fs::is_regular_file(fs::symlink_status(out / name));
        EXPECT_TRUE(replaced) << name; // reading a pipe left standing would wait forever
        if (replaced) {
            EXPECT_EQ(testing_support::ReadFile(out / name), bytes) << name;
        }
    }
}

TEST(Safety, AFileThatCannotBeWrittenWholeIsRemovedAndCounted) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "a file-size limit would stop the emulator's own files too";
    }
    builder::ArchiveSetBuilder set;
    std::vector<builder::StoredFile> files;
    for (char c : std::string("abcd")) {
        files.push_back(File(std::string(1, c), 3, std::string(50 << 10, c)));
    }
    files.push_back(File("big", 3, std::string(200 << 10, 'B')));
    builder::StoredFile tail = File("tail", 3, "T"); // a zero tail past the limit
    tail.OggSize = 300 << 10;
    files.push_back(tail);
    files.push_back(File("e", 3, std::string(50 << 10, 'e')));
    set.AddTaggedSound({}, {files});
    Scene scene(set.Build());
    auto run = testing_support::RunTool(scene.folder.Path(), {}, {.FileSize = 100 << 10});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(expected::Unwritten(2, UnkTagFolder + "big.ogg") + "File too large)"),
              std::string::npos)
        << run.Output;
    auto tree = testing_support::Tree(scene.folder.Path());
    for (char c : std::string("abcde")) {
        EXPECT_EQ(tree[UnkTagFolder + c + ".ogg"], std::string(50 << 10, c));
    }
    EXPECT_EQ(tree.count(UnkTagFolder + "big.ogg"), 0u);
    EXPECT_EQ(tree.count(UnkTagFolder + "tail.ogg"), 0u);
}

TEST(Safety, NamesThatWindowsWouldSendToADeviceArriveAsFiles) {
    builder::ArchiveSetBuilder set;
    const std::vector<std::pair<std::string, std::string>> names = {
        {"NUL", "_NUL"}, {"COM1", "_COM1"}, {"AUX", "_AUX"},        {"CON", "_CON"},
        {"a:b", "a_b"},  {"x|y", "x_y"},    {"nul.txt", "_nul.txt"}};
    std::vector<builder::StoredFile> files;
    for (const auto& [stored, windows] : names) {
        files.push_back(File(stored, 3, stored));
    }
    set.AddMissionSound("M1.", {files});
    Scene scene(set.Build());
    auto run = testing_support::RunTool(scene.folder.Path(), {});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find(expected::MissionItem(1, 1, "M1.")), std::string::npos)
        << "the console shows the name as stored";
    auto tree = testing_support::Tree(scene.folder.Path());
    std::string folder =
        "__SchemaMetaFile_DVD1.csc/MissionSounds/" + std::string(UnderLauncher() ? "M1_/" : "M1./");
    for (const auto& [stored, windows] : names) {
        EXPECT_EQ(tree[folder + (UnderLauncher() ? windows : stored) + ".ogg"], stored) << stored;
    }
}

TEST(Safety, NamesReachATerminalWithoutTheirControlBytes) {
    builder::ArchiveSetBuilder set;
    set.AddTag("X\x1b[2J");
    set.AddTaggedSound({builder::TagRef(0, 255)}, {{File("a", 3, "A"), File("\x1b[2J", 4, "U")}});
    set.AddMissionSound("\x1b[1AAll files extracted OK", {});
    set.AddMissionSound("\x1b]0;PWNED\x07", {{File("b", 3, "B")}}); // the last item is always shown
    Scene scene(set.Build());
    // A file where a folder belongs, so that the warning names the file that cannot be written.
    testing_support::WriteFile(scene / "__SchemaMetaFile_DVD2.csc", "in the way");
    auto terminal = testing_support::RunToolOnTerminal(scene.folder.Path(), {});
    EXPECT_EQ(terminal.ExitCode, 1);
    EXPECT_NE(terminal.Output.find("could not be written, the first: "), std::string::npos);
    for (const char* forged : {"\x1b[2J", "\x1b]0;", "\x07", "\x1b[1A"}) {
        EXPECT_EQ(terminal.Output.find(forged), std::string::npos) << terminal.Output;
    }
    EXPECT_NE(terminal.Output.find("X?[2J..."), std::string::npos) << terminal.Output;
    EXPECT_NE(terminal.Output.find("?]0;PWNED?..."), std::string::npos);

    auto redirected = testing_support::RunTool(scene.folder.Path(), {});
    EXPECT_NE(redirected.Output.find("X\x1b[2J..."), std::string::npos)
        << "into a file the names go byte for byte";
}

// A location word of 0 reads the record where the index archive's position stands, and a file
// just taken from the index archive leaves it behind that file's bytes.
TEST(Safety, ARecordReadInPlaceFollowsAFileTakenFromTheIndex) {
    // The large file is copied from the archive by a writer, not read by the reading thread.
    for (const std::string& stored :
         {std::string("INDEXED"), std::string(100000, 'I') + "INDEXED"}) {
        builder::ArchiveSetBuilder set;
        set.AddTaggedSound({}, {{File("in-index", 2, stored)}});
        set.AddMissionSound("M", {{File("wrong", 3, "WRONG")}});
        builder::ArchiveSet archives = set.Build();
        builder::Bytes& index = *archives.Archives[2];
        std::size_t records = index.find("\xA0\xA1\xA2");
        index.replace(records - 4, 4, std::string(4, '\0')); // the mission's InfoLocation
        ASSERT_TRUE(index.ends_with("INDEXED"));
        csc::TSM_SoundInfo behind;
        behind.FileCount = 1;
        behind.Files.resize(1);
        behind.Files[0].Name = "behind";
        behind.Files[0].DataLocation = builder::Location(3, 0);
        behind.Files[0].OggSize = 2;
        index += builder::EncodeSoundInfo(behind);
        Scene scene(archives);
        auto run = testing_support::RunTool(scene.folder.Path(), {});
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        auto tree = testing_support::Tree(scene.folder.Path());
        EXPECT_EQ(tree["__SchemaMetafile_HardDrive.csc/TaggedSounds/UnkTag/in-index.ogg"], stored);
        EXPECT_EQ(tree.count("__SchemaMetaFile_DVD1.csc/MissionSounds/M/behind.ogg"), 1u);
        EXPECT_EQ(tree.count("__SchemaMetaFile_DVD1.csc/MissionSounds/M/wrong.ogg"), 0u);
    }
}

TEST(Safety, RawNamesAreMadeSafeWithTheirNumberInFront) {
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("..", 3, "")}});
    Scene scene(set.Build());
    auto run = testing_support::RunTool(scene.folder.Path(), {"-RAWExtract"});
    EXPECT_EQ(run.ExitCode, 0);
    auto tree = testing_support::Tree(scene.folder.Path());
    EXPECT_EQ(tree.count(std::string("__SchemaMetaFile_DVD1.csc/000000_") +
                         (UnderLauncher() ? "._" : "..")),
              1u);
}

// What the checker says of a file can quote the file's own bytes; on a terminal they pass the same
// filter as names.
TEST(Safety, ProblemsReachATerminalWithoutControlBytes) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine draws on a pseudo-terminal with its own control sequences";
    }
    std::string wav = builder::WavTone(440, 0.01);
    wav += "\x1b[2J";
    wav += std::string("\xff\x00\x00\x00", 4);
    wav.replace(4, 4, std::string(1, static_cast<char>(wav.size() - 8)) + std::string(3, '\0'));
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("screen", 3, wav, true)}});
    Scene scene(set.Build());
    auto terminal = testing_support::RunToolOnTerminal(scene.folder.Path(), {"-t", "-q"});
    EXPECT_EQ(terminal.ExitCode, 1);
    EXPECT_EQ(terminal.Output.find("\x1b[2J"), std::string::npos) << terminal.Output;
    EXPECT_NE(terminal.Output.find("chunk \"?[2J\" runs past the end"), std::string::npos)
        << terminal.Output;
}

// A stored name that holds folders writes only into folders that stand, and never through a link
// standing where one of them goes.
TEST(Safety, NoLinkIsFollowedIntoAStoredNamesFolder) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("sub\\inner", 3, "I")}});
    Scene scene(set.Build());
    TempFolder elsewhere;
    fs::create_directories(scene / "__SchemaMetaFile_DVD1.csc/MissionSounds/M");
    fs::create_directory_symlink(elsewhere.Path(),
                                 scene / "__SchemaMetaFile_DVD1.csc/MissionSounds/M/sub");
    auto run = testing_support::RunTool(scene.folder.Path(), {"-q"});
    EXPECT_EQ(run.ExitCode, 1) << run.Output << run.Errors;
    EXPECT_TRUE(testing_support::Tree(elsewhere.Path()).empty()) << "nothing written through it";
}

// A file that a killed run left beside another is removed by the next run that writes into its
// folder; one of a run still going on, and anything else of a like name, stays.
TEST(Safety, FilesLeftBesideByAKilledRunAreRemoved) {
    Scene scene(builder::SampleSet().Build());
    ASSERT_EQ(testing_support::RunTool(scene.folder.Path(), {}).ExitCode, 0);
    fs::path folder = scene / "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind";
    const std::string left = ".cscunpack-7ffffff00123abcd"; // process 0x7ffffff0 runs no more
    const std::string notOurs = ".cscunpack-0123";
    testing_support::WriteFile(folder / left, "cut");
    testing_support::WriteFile(folder / notOurs, "kept");
    std::string running;
    if (!UnderLauncher()) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(::getpid()));
        running = ".cscunpack-" + std::string(digits) + "89abcdef";
        testing_support::WriteFile(folder / running, "a run going on");
    }
    auto list = testing_support::RunTool(scene.folder.Path(), {"-l", "-q"});
    EXPECT_TRUE(fs::exists(folder / left)) << "a listing touches no output folder";
    auto run = testing_support::RunTool(scene.folder.Path(), {});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_FALSE(fs::exists(folder / left));
    EXPECT_TRUE(fs::exists(folder / notOurs));
    if (!running.empty()) {
        EXPECT_TRUE(fs::exists(folder / running));
    }
}
