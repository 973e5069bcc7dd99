// The option form of the command line: listing, testing, other folders, patterns, keeping what
// stands, the summary, and the errors of a command line.

#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

using builder::File;
using testing_support::RunTool;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

using expected::Native;

using expected::Lines;

// The files of a tree, without its folders.
Tree Files(const fs::path& folder) {
    Tree files;
    for (auto& [path, bytes] : testing_support::Tree(folder)) {
        if (!path.ends_with("/")) {
            files[path] = bytes;
        }
    }
    return files;
}

// The sample written out by a plain run: the files every option-form run is held against.
const Tree& SampleFiles() {
    static const Tree files = [] {
        TempFolder folder;
        builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
        RunTool(folder.Path(), {});
        return Files(folder.Path());
    }();
    return files;
}

std::string Summary(std::size_t written, std::size_t bytes, std::size_t kept, std::size_t leftOut,
                    std::size_t skipped, std::size_t unwritten, std::size_t unchanged = 0) {
    return std::to_string(written) + (written == 1 ? " file" : " files") + " written (" +
           std::to_string(bytes) + " bytes), " + std::to_string(unchanged) + " unchanged, " +
           std::to_string(kept) + " kept, " + std::to_string(leftOut) + " left out, " +
           std::to_string(skipped) + " skipped, " + std::to_string(unwritten) + " unwritten, in ";
}

} // namespace

TEST(OptionForm, ACommandLineInErrorStopsBeforeAnyArchiveIsOpened) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    testing_support::WriteFile(folder.Path() / "a-file", "not a folder");
    const std::vector<std::vector<std::string>> wrong = {
        {"-l", "-z"},    {"-l", "-t"},
        {"-j", "65"},    {"--details"},
        {"--json"},      {"--list", "stray"},
        {"-d"},          {"-q", "-rawextract"},
        {"--threads=x"}, {"--output-dir=a-file"},
    };
    for (const auto& arguments : wrong) {
        auto run = RunTool(folder.Path(), arguments);
        std::string name = arguments.front() + " " + arguments.back();
        EXPECT_EQ(run.ExitCode, 2) << name;
        EXPECT_EQ(run.Output, "") << name;
        std::vector<std::string> lines = Lines(run.Errors);
        ASSERT_EQ(lines.size(), arguments.front().starts_with("--output") ? 1u : 2u)
            << name << ": " << run.Errors;
        EXPECT_TRUE(lines[0].starts_with("cscunpack: ")) << name;
        if (lines.size() == 2) {
            EXPECT_EQ(lines[1], "Try 'cscunpack --help'") << name;
        }
    }
    EXPECT_EQ(Files(folder.Path()), Tree{}) << "nothing written";
}

// The listing names every file a run writes, in the order it writes them, and writes nothing.
TEST(OptionForm, AListingShowsWhatARunWritesAndWritesNothing) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    auto run = RunTool(folder.Path(), {"-l", "-q"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Errors, "");
    EXPECT_EQ(Files(folder.Path()), Tree{}) << "no folder made, nothing written";
    std::vector<std::string> lines = Lines(run.Output);
    ASSERT_EQ(lines.size(), 13u) << run.Output;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < 12; ++i) {
        std::size_t size = std::stoul(lines[i]);
        std::string path = lines[i].substr(14);
        std::string written = path;
        std::replace(written.begin(), written.end(), '\\', '/');
        ASSERT_TRUE(SampleFiles().count(written)) << path;
        EXPECT_EQ(SampleFiles().at(written).size(), size) << path;
        EXPECT_EQ(path, expected::Shown(written));
        bytes += size;
    }
    EXPECT_EQ(lines[12], "12 files, " + std::to_string(bytes) + " bytes");
    EXPECT_EQ(lines[0].substr(14),
              expected::Shown("__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/"
                              "wind_loop.ogg"))
        << "extraction order: the first tagged sound's file first";

    auto details = RunTool(folder.Path(), {"--list", "--details", "--json", "--quiet"});
    std::vector<std::string> json = Lines(details.Output);
    ASSERT_EQ(json.size(), 12u) << details.Output;
    EXPECT_EQ(json[0],
              "{\"path\": \"__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/"
              "wind_loop.ogg\", \"archive\": \"SchemaMetaFile_DVD1.csc\", \"size\": " +
                  std::to_string(std::stoul(lines[0])) +
                  ", \"format\": \"ogg\", \"tags\": [\"Ambience.wind\"], \"mission\": null, "
                  "\"codec\": \"vorbis\", \"channels\": 1, \"rate\": 8000, \"seconds\": 0.250}");
    EXPECT_NE(
        json[1].find("\"format\": \"wav\", \"tags\": [\"Ambience\", \"Voice.hero\"], "
                     "\"mission\": null, \"codec\": \"pcm\", \"channels\": 1, \"rate\": 8000, "
                     "\"seconds\": 0.250}"),
        std::string::npos)
        << json[1];
}

TEST(OptionForm, JsonPathsShowHighBytesAsCharacters) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("Caf\xE9", {{File("a\"b\x01", 3, "X")}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    auto run = RunTool(folder.Path(), {"-l", "--json"});
    std::string name = UnderLauncher() ? "a_b_" : "a\\\"b\\u0001";
    EXPECT_EQ(run.Output,
              "{\"path\": \"__SchemaMetaFile_DVD1.csc/MissionSounds/Caf\xC3\xA9/" + name +
                  ".ogg\", \"archive\": \"SchemaMetaFile_DVD1.csc\", \"size\": 1, \"format\": "
                  "\"ogg\", \"tags\": null, \"mission\": \"Caf\xC3\xA9\"}" +
                  expected::LineEnd);
    EXPECT_NE(run.Errors.find("Phase 2 of 2"), std::string::npos) << "the phases go to stderr";
    EXPECT_EQ(run.Errors.find("[1/1]"), std::string::npos) << "no progress items into a file";
}

// Each damaged file gets a line with its first problem; a damaged file makes the exit code 1.
TEST(OptionForm, TestNamesEachDamagedFile) {
    std::string ogg = builder::OggVorbisTone(440, 20);
    std::vector<std::size_t> pages;
    for (std::size_t at = ogg.find("OggS"); at != std::string::npos;
         at = ogg.find("OggS", at + 1)) {
        pages.push_back(at);
    }
    ASSERT_GE(pages.size(), 4u);
    std::string header = ogg, body = ogg;
    header[pages[1] + 8] ^= 1;
    body[pages[2] + 40] ^= 1;
    std::string wav = builder::WavTone(440, 0.25);
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M",
                        {{File("clean", 3, ogg), File("header", 3, header), File("body", 3, body),
                          File("missing", 3, ogg.substr(0, pages[1]) + ogg.substr(pages[2])),
                          File("cut", 3, wav.substr(0, 4000), true), File("fine", 3, wav, true)}});
    builder::StoredFile past = File("past", 4, wav, true);
    past.WavSize = 5000; // beyond the end of its archive
    set.AddMissionSound("N", {{past}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    auto run = RunTool(folder.Path(), {"--test", "-q"});
    EXPECT_EQ(run.ExitCode, 1);
    std::string m = expected::Shown("__SchemaMetaFile_DVD1.csc/MissionSounds/M/");
    EXPECT_EQ(
        Lines(run.Output),
        (std::vector<std::string>{
            m + "header.ogg: page 2: checksum mismatch", m + "body.ogg: page 3: checksum mismatch",
            m + "missing.ogg: page 2: page number 2 where 1 was due",
            m + "cut.wav: the RIFF header says 4044 bytes, the file has 4000",
            expected::Shown("__SchemaMetaFile_DVD2.csc/MissionSounds/N/past.wav") +
                ": cut short: the archive holds 4044 of its 5000 bytes",
            "7 files checked, 5 damaged"}));
    auto json = RunTool(folder.Path(), {"--test", "--json", "-q"});
    std::vector<std::string> lines = Lines(json.Output);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(lines[0].ends_with("\"format\": \"ogg\", \"ok\": true, \"problem\": null}"));
    EXPECT_TRUE(lines[1].ends_with("\"ok\": false, \"problem\": \"page 2: checksum mismatch\"}"));

    TempFolder clean;
    builder::WriteArchiveSet(builder::SampleSet().Build(), clean.Path());
    auto sample = RunTool(clean.Path(), {"-t", "-q"});
    EXPECT_EQ(sample.ExitCode, 0);
    EXPECT_EQ(sample.Output, "12 files checked, 0 damaged" + expected::LineEnd);
}

// Archives read from one folder, the tree written into another, made with its parents; the
// summary on standard output, everything else on standard error.
TEST(OptionForm, ArchivesFromOneFolderAndTheTreeIntoAnother) {
    TempFolder scratch;
    fs::path archives = scratch.Path() / "game disc";
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives);
    fs::path output = scratch.Path() / "out folder" / "new";
    ::chmod(archives.c_str(), 0555);
    auto run = RunTool(scratch.Path(), {"-a", Native(archives), "--output-dir", Native(output)});
    ::chmod(archives.c_str(), 0755);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(Files(output), SampleFiles());
    EXPECT_EQ(Files(archives), Tree{}) << "nothing beside the archives";
    ASSERT_EQ(Lines(run.Output).size(), 1u) << run.Output;
    EXPECT_TRUE(run.Output.starts_with(Summary(12, 40816, 0, 0, 0, 0))) << run.Output;
    EXPECT_TRUE(run.Errors.starts_with(
        expected::InOptionForm(expected::Banner + expected::Discovery(expected::AllFound))))
        << run.Errors;
}

// Files left out by patterns, or kept where something stands, move the archive positions as
// extracting them would: the files that are written are those of a full run, byte for byte.
TEST(OptionForm, PatternsAndKeepingWriteExactlyTheirShareOfAFullRun) {
    // Each case with the file names it takes, as gitignore's rules have them.
    const struct Case {
        std::vector<std::string> arguments;
        std::set<std::string> names;
    } cases[] = {
        {{"-i", "*.wav"},
         {"rain_hard.wav", "birds.wav", "alarm.wav", "rifle_echo.wav", "hello.wav"}},
        {{"-x", "*.WAV"},
         {"rifle_shot.ogg", "briefing.ogg", "wind_gust.ogg", "rain_soft.ogg", "wind_loop.ogg",
          "mumble.ogg", "finale.ogg"}},
        {{"--include=__SchemaMetaFile_DVD1.csc/**", "-x", "b*"},
         {"wind_gust.ogg", "rain_hard.wav", "rain_soft.ogg", "wind_loop.ogg"}},
        {{"-i", "*/MissionSounds/**", "-i", "hello.*"},
         {"briefing.ogg", "wind_gust.ogg", "alarm.wav", "finale.ogg", "hello.wav"}},
        {{"-i", "Ambience"}, {"birds.wav"}},
        {{"-i", "**/Ambience.rain"}, {"rain_hard.wav", "rain_soft.ogg"}},
        {{"-x", "Voice*", "-x", "M0?_*/", "-x", "Weapons"},
         {"rain_hard.wav", "rain_soft.ogg", "wind_loop.ogg", "birds.wav"}},
        {{"-r", "-i", "0000[0-4]*"}, {}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("-q");
        auto run = RunTool(folder.Path(), arguments);
        Tree expected;
        bool raw = c.arguments[0] == "-r";
        if (raw) {
            TempFolder full;
            builder::WriteArchiveSet(builder::SampleSet().Build(), full.Path());
            auto reference = RunTool(full.Path(), {"-RAWExtract"});
            ASSERT_EQ(reference.ExitCode, 0) << reference.Output << reference.Errors;
            for (auto& [path, bytes] : Files(full.Path())) {
                std::string name = fs::path(path).filename().string();
                if (name.starts_with("0000") && name[4] >= '0' && name[4] <= '4') {
                    expected[path] = bytes;
                }
            }
        } else {
            for (auto& [path, bytes] : SampleFiles()) {
                if (c.names.count(fs::path(path).filename().string()) > 0) {
                    expected[path] = bytes;
                }
            }
            ASSERT_EQ(expected.size(), c.names.size()) << c.arguments[1];
        }
        EXPECT_EQ(Files(folder.Path()), expected) << c.arguments[1];
        std::size_t total = raw ? 12 : SampleFiles().size();
        std::size_t bytes = 0;
        for (auto& [path, content] : expected) {
            bytes += content.size();
        }
        EXPECT_TRUE(run.Output.starts_with(
            Summary(expected.size(), bytes, 0, total - expected.size(), 0, 0)))
            << c.arguments[1] << ": " << run.Output;
    }

    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    fs::path standing = folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds/M01_Harbor";
    fs::create_directories(standing);
    testing_support::WriteFile(standing / "briefing.ogg", "mine");
    auto kept = RunTool(folder.Path(), {"-k", "-q"});
    EXPECT_EQ(kept.ExitCode, 0);
    Tree expected = SampleFiles();
    expected["__SchemaMetaFile_DVD1.csc/MissionSounds/M01_Harbor/briefing.ogg"] = "mine";
    EXPECT_EQ(Files(folder.Path()), expected);
    EXPECT_TRUE(
        kept.Output.starts_with(Summary(11,
                                        40816 - SampleFiles()
                                                    .at("__SchemaMetaFile_DVD1.csc/MissionSounds/"
                                                        "M01_Harbor/briefing.ogg")
                                                    .size(),
                                        1, 0, 0, 0)))
        << kept.Output;
}

// The option form names every file it could not write, and every archive it missed.
TEST(OptionForm, EveryUnwrittenFileAndEveryMissingArchiveIsNamed) {
    builder::ArchiveSet set = builder::SampleSet().Build();
    set.Archives[5].reset();
    TempFolder folder;
    builder::WriteArchiveSet(set, folder.Path());
    testing_support::WriteFile(folder.Path() / "__SchemaMetaFile_DVD2.csc", "in the way");
    auto run = RunTool(folder.Path(), {"-q", "-j", "0"});
    EXPECT_EQ(run.ExitCode, 1);
    std::vector<std::string> lines = Lines(run.Errors);
    ASSERT_EQ(lines.size(), 3u) << run.Errors;
    EXPECT_TRUE(lines[0].starts_with(
        "cscunpack: warning: could not write " +
        expected::Shown("__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav") + " ("));
    EXPECT_TRUE(lines[1].starts_with(
        "cscunpack: warning: could not write " +
        expected::Shown("__SchemaMetaFile_DVD2.csc/TaggedSounds/Voice.UnkSubTag/mumble.ogg") +
        " ("));
    EXPECT_EQ(lines[2], "cscunpack: warning: 2 files were skipped, as their archives were not "
                        "found: SchemaMetaFile_DVD3.csc");
    EXPECT_TRUE(run.Output.starts_with(Summary(8, 40816 - 4044 - 2917 - 4044 - 2934, 0, 0, 2, 2)))
        << run.Output;

    auto pool = RunTool(folder.Path(), {"-q", "-j", "3"});
    EXPECT_EQ(pool.Errors, run.Errors) << "the same with any number of writers";
}

// A second run over a tree gives the tree a first run gives, whatever became of it meanwhile; a
// file that still holds its bytes is left as it stands (its inode stays), and the summary counts
// it apart.
TEST(OptionForm, ASecondRunLeavesFilesThatHoldTheirBytesAlone) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    ASSERT_EQ(RunTool(folder.Path(), {"-q"}).ExitCode, 0);
    const std::string dvd1 = "__SchemaMetaFile_DVD1.csc/";
    const std::string changed = dvd1 + "MissionSounds/M01_Harbor/briefing.ogg";
    const std::string cut = dvd1 + "TaggedSounds/Ambience.wind/wind_loop.ogg";
    const std::string removed = "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav";
    const std::string linked = "__SchemaMetaFile_DVD3.csc/MissionSounds/M01_Harbor/alarm.wav";
    std::string changedBytes = SampleFiles().at(changed);
    changedBytes[changedBytes.size() / 2] ^= 1;
    testing_support::WriteFile(folder.Path() / changed, changedBytes);
    fs::resize_file(folder.Path() / cut, SampleFiles().at(cut).size() / 2);
    fs::remove(folder.Path() / removed);
    std::size_t touched = 3;
    if (!UnderLauncher()) { // a link, even to a file of the very bytes, is replaced
        testing_support::WriteFile(folder.Path() / "copy.wav", SampleFiles().at(linked));
        fs::remove(folder.Path() / linked);
        fs::create_symlink(folder.Path() / "copy.wav", folder.Path() / linked);
        ++touched;
    }
    std::map<std::string, ino_t> inodes;
    for (const auto& [path, bytes] : SampleFiles()) {
        struct stat info {};
        if (::lstat((folder.Path() / path).c_str(), &info) == 0) {
            inodes[path] = info.st_ino;
        }
    }

    auto again = RunTool(folder.Path(), {"-q"});
    EXPECT_EQ(again.ExitCode, 0) << again.Errors;
    Tree files = Files(folder.Path());
    files.erase("copy.wav");
    EXPECT_EQ(files, SampleFiles());
    EXPECT_FALSE(fs::is_symlink(folder.Path() / linked));
    std::size_t kept = 0;
    for (const auto& [path, inode] : inodes) {
        struct stat info {};
        ASSERT_EQ(::lstat((folder.Path() / path).c_str(), &info), 0) << path;
        bool same = info.st_ino == inode;
        bool left = path != changed && path != cut && (path != linked || UnderLauncher());
        EXPECT_EQ(same, left) << path;
        kept += same ? 1 : 0;
    }
    EXPECT_EQ(kept, SampleFiles().size() - touched);
    std::size_t rewritten = 0;
    for (const std::string& path : {changed, cut, removed, linked}) {
        rewritten += touched == 3 && path == linked ? 0 : SampleFiles().at(path).size();
    }
    EXPECT_TRUE(again.Output.starts_with(
        Summary(touched, rewritten, 0, 0, 0, 0, SampleFiles().size() - touched)))
        << again.Output;
    // A file replaced has the rights of a file written afresh.
    struct stat fresh {
    }, replaced{};
    ASSERT_EQ(::stat((folder.Path() / removed).c_str(), &fresh), 0);
    ASSERT_EQ(::stat((folder.Path() / changed).c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode, fresh.st_mode);

    // An archive that has shrunk since: where its bytes now end, zeros belong, and a file that
    // holds the old bytes there is written again; a run after that leaves it, and says again
    // that it was completed with zeros.
    fs::path dvd2 = folder.Path() / "SchemaMetaFile_DVD2.csc";
    fs::resize_file(dvd2, fs::file_size(dvd2) - 50);
    for (int run = 0; run < 2; ++run) {
        auto shrunk = RunTool(folder.Path(), {"-q"});
        EXPECT_EQ(shrunk.ExitCode, 1) << run;
        EXPECT_NE(shrunk.Errors.find(" was completed with zeros, the first: "), std::string::npos)
            << run << ": " << shrunk.Errors;
        EXPECT_NE(shrunk.Output.find(run == 0 ? "1 file written" : "0 files written"),
                  std::string::npos)
            << run << ": " << shrunk.Output;
        std::size_t zeroTails = 0;
        for (const auto& [path, bytes] : Files(folder.Path())) {
            if (path.starts_with("__SchemaMetaFile_DVD2.csc/") && bytes != SampleFiles().at(path)) {
                EXPECT_EQ(bytes.substr(bytes.size() - 50), std::string(50, '\0')) << path;
                ++zeroTails;
            }
        }
        EXPECT_EQ(zeroTails, 1u) << run;
    }
}

// A second run over a tree where nothing changed writes nothing, though a path is stored twice
// (and, on Windows, two names are one file): the earlier file of such a place is compared with the
// bytes the later one leaves there. A place that holds other bytes gets the later file's again.
TEST(OptionForm, ASecondRunLeavesAPlaceOfTwoFilesAlone) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("twice", 3, "first"), File("Case", 3, "upper"),
                               File("twice", 3, "second"), File("case", 3, "lower")}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    ASSERT_EQ(RunTool(folder.Path(), {"-q"}).ExitCode, 0);
    auto again = RunTool(folder.Path(), {"-q"});
    EXPECT_TRUE(again.Output.starts_with(Summary(0, 0, 0, 0, 0, 0, 4))) << again.Output;
    const fs::path twice = folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds/M/twice.ogg";
    testing_support::WriteFile(twice, "edited");
    auto third = RunTool(folder.Path(), {"-q"});
    EXPECT_EQ(third.ExitCode, 0) << third.Errors;
    EXPECT_EQ(testing_support::ReadFile(twice), "second");
}

// A large file replaced on a second run (written without a name first) has the rights of one
// written afresh.
TEST(OptionForm, AReplacedLargeFileHasTheRightsOfAFreshOne) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "POSIX modes";
    }
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("large", 3, std::string(200000, 'L')),
                               File("fresh", 3, std::string(200000, 'F'))}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    ASSERT_EQ(RunTool(folder.Path(), {"-q"}).ExitCode, 0);
    fs::path large = folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds/M/large.ogg";
    fs::path fresh = folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds/M/fresh.ogg";
    testing_support::WriteFile(large, "other bytes");
    fs::remove(fresh);
    ASSERT_EQ(RunTool(folder.Path(), {"-q"}).ExitCode, 0);
    struct stat replaced {
    }, written{};
    ASSERT_EQ(::stat(large.c_str(), &replaced), 0);
    ASSERT_EQ(::stat(fresh.c_str(), &written), 0);
    EXPECT_EQ(replaced.st_mode, written.st_mode);
    EXPECT_EQ(testing_support::ReadFile(large), std::string(200000, 'L'));
}
