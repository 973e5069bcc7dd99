#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

using builder::File;
using builder::Location;
using builder::TagRef;
using testing_support::RunTool;
using testing_support::TempFolder;
using Tree = std::map<std::string, std::string>;

namespace {

// An archive set written into a fresh folder.
struct Scene {
    TempFolder folder;
    builder::ArchiveSet set;

    explicit Scene(builder::ArchiveSet archives) : set(std::move(archives)) {
        builder::WriteArchiveSet(set, folder.Path());
    }
    testing_support::ToolRun Run(std::vector<std::string> arguments = {}) {
        testing_support::ToolRun run = RunTool(folder.Path(), arguments);
        EXPECT_EQ(run.Errors, "") << "nothing is ever written to standard error";
        return run;
    }
    Tree Written() { return testing_support::Tree(folder.Path()); }
};

builder::Bytes EmptyIndex() {
    return builder::Bytes("0123456789abc\0\0\0\0\0", 18);
}

// The bytes the sample stores for a file, found through the tree the sample itself describes.
std::string Tone(const Tree& tree, const std::string& path) {
    return tree.at(path);
}

} // namespace

TEST(StartUp, ReportsEachArchiveAndGoesOnWithoutTheOptionalOnes) {
    builder::ArchiveSet set;
    for (std::size_t slot = 0; slot < 5; ++slot) {
        set.Archives[slot] = "data";
    }
    set.Archives[2] = EmptyIndex();
    Scene scene(set);
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, expected::Banner +
                              expected::Discovery({true, true, true, true, true, false}) +
                              expected::Tables + expected::NormalPhases({}, {}));
    EXPECT_EQ(scene.Written(), Tree{}) << "empty tables make no folder";

    auto raw = scene.Run({"-RAWExtract"});
    EXPECT_EQ(raw.ExitCode, 0);
    EXPECT_EQ(raw.Output, expected::Banner +
                              expected::Discovery({true, true, true, true, true, false}) +
                              expected::Tables + expected::RawPhase({}));
}

TEST(StartUp, WithoutTheIndexArchiveTheRunEndsWithTheErrorLineAndExitCodeTwo) {
    builder::ArchiveSet set;
    for (std::size_t slot : {0, 1, 3, 4, 5}) {
        set.Archives[slot] = "data";
    }
    Scene scene(set);
    auto run = scene.Run({"-RAWExtract"});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Output, expected::Banner +
                              expected::Discovery({true, true, false, true, true, true}) +
                              "Error: SchemaMetafile_HardDrive.csc not found\r\n");
    EXPECT_EQ(scene.Written(), Tree{});
}

TEST(StartUp, AnArchiveIsFoundWhateverTheCaseOfItsNameTheExactNameFirst) {
    builder::ArchiveSet set;
    Scene scene(set);
    testing_support::WriteFile(scene.folder.Path() / "SchemaMetaFile_HardDrive.csc", EmptyIndex());
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Output.find("  SchemaMetafile_HardDrive.csc: ok\r\n"), std::string::npos);
    EXPECT_EQ(scene.Written(), Tree{}) << "the output folders keep the table's names";
    if (testing_support::UnderLauncher()) {
        return; // on a file system that ignores case, names that differ in case only are one
    }
    // Of several, the first byte for byte: "SC" sorts before "Sc". A cut index ends in warnings.
    testing_support::WriteFile(scene.folder.Path() / "SCHEMAMETAFILE_HARDDRIVE.CSC", "cut");
    EXPECT_EQ(scene.Run().ExitCode, 1);
    testing_support::WriteFile(scene.folder.Path() / "SchemaMetafile_HardDrive.csc", EmptyIndex());
    EXPECT_EQ(scene.Run().ExitCode, 0);
}

TEST(StartUp, HelpAndVersionAnswerWithoutTouchingTheArchives) {
    Scene scene(builder::SampleSet().Build());
    for (const char* help : {"-h", "--help", "-?", "/?"}) {
        auto run = scene.Run({help});
        EXPECT_EQ(run.ExitCode, 0) << help;
        // The tool's own texts end their lines as the platform does: "$(cscunpack --version)"
        // holds no carriage return on POSIX.
        EXPECT_TRUE(run.Output.starts_with("Usage: cscunpack [-RAWExtract]" + expected::LineEnd))
            << help;
        EXPECT_EQ(run.Output.find("\r\n"), expected::LineEnd == "\r\n" ? 30 : std::string::npos);
        EXPECT_EQ(run.Output.find("Searching"), std::string::npos) << help;
    }
    auto version = scene.Run({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Output, "cscunpack " CSCUNPACK_VERSION + expected::LineEnd);
    EXPECT_EQ(scene.Written(), Tree{}) << "no folder made";
}

// Only the exact lines of the classic form run it; a near miss, or anything more, is read as
// options and refused before anything is opened or made, where it used to unpack into the current
// folder.
TEST(StartUp, OnlyTheExactClassicLinesRunWithoutOptions) {
    builder::ArchiveSet set;
    set.Archives[2] = EmptyIndex();
    Scene scene(set);
    EXPECT_TRUE(scene.Run().Output.ends_with(expected::NormalPhases({}, {})));
    EXPECT_TRUE(scene.Run({"-RAWExtract"}).Output.ends_with(expected::RawPhase({})));
    const std::vector<std::vector<std::string>> nearMisses = {
        {"-rawextract"}, {"-RAWExtractX"}, {"-RAW"}, {"x", "-RAWExtract"}, {"-RAWExtract", "x"}};
    for (const auto& arguments : nearMisses) {
        auto run = RunTool(scene.folder.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 2) << arguments[0];
        EXPECT_EQ(run.Output, "") << arguments[0];
        EXPECT_TRUE(run.Errors.ends_with("Try 'cscunpack --help'" + expected::LineEnd))
            << run.Errors;
    }
    EXPECT_EQ(scene.Written(), Tree{});
}

TEST(Sample, NormalModeWritesTheTaggedAndMissionTrees) {
    Scene scene(builder::SampleSet().Build());
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, expected::Banner + expected::Discovery(expected::AllFound) +
                              expected::Tables +
                              expected::NormalPhases({"XAmbience", "XAmbience", "WWeapons",
                                                      "VVoice", "VVoice", "XAmbience"},
                                                     {"M01_Harbor", "M02_Tower", "M03_Escape"}));
    Tree tree = scene.Written();
    std::vector<std::string> paths;
    for (const auto& [path, bytes] : tree) {
        paths.push_back(path);
        if (path.ends_with(".wav")) {
            EXPECT_EQ(bytes.substr(0, 4), "RIFF") << path;
            EXPECT_EQ(bytes.size(), 4044u) << path;
        } else if (path.ends_with(".ogg")) {
            // An Ogg page, whose first packet is a Vorbis identification header.
            EXPECT_EQ(bytes.substr(0, 5), std::string("OggS\0", 5)) << path;
            EXPECT_EQ(bytes.substr(28, 7), "\x01vorbis") << path;
        }
    }
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "__SchemaMetaFile.csc/",
                         "__SchemaMetaFile.csc/TaggedSounds/",
                         "__SchemaMetaFile.csc/TaggedSounds/Weapons/",
                         "__SchemaMetaFile.csc/TaggedSounds/Weapons/rifle_shot.ogg",
                         "__SchemaMetaFile_DVD1.csc/",
                         "__SchemaMetaFile_DVD1.csc/MissionSounds/",
                         "__SchemaMetaFile_DVD1.csc/MissionSounds/M01_Harbor/",
                         "__SchemaMetaFile_DVD1.csc/MissionSounds/M01_Harbor/briefing.ogg",
                         "__SchemaMetaFile_DVD1.csc/MissionSounds/M02_Tower/",
                         "__SchemaMetaFile_DVD1.csc/MissionSounds/M02_Tower/wind_gust.ogg",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_hard.wav",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_soft.ogg",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/",
                         "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg",
                         "__SchemaMetaFile_DVD2.csc/",
                         "__SchemaMetaFile_DVD2.csc/TaggedSounds/",
                         "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/",
                         "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav",
                         "__SchemaMetaFile_DVD2.csc/TaggedSounds/Voice.UnkSubTag/",
                         "__SchemaMetaFile_DVD2.csc/TaggedSounds/Voice.UnkSubTag/mumble.ogg",
                         "__SchemaMetaFile_DVD3.csc/",
                         "__SchemaMetaFile_DVD3.csc/MissionSounds/",
                         "__SchemaMetaFile_DVD3.csc/MissionSounds/M01_Harbor/",
                         "__SchemaMetaFile_DVD3.csc/MissionSounds/M01_Harbor/alarm.wav",
                         "__SchemaMetaFile_DVD3.csc/MissionSounds/M03_Escape/",
                         "__SchemaMetaFile_DVD3.csc/MissionSounds/M03_Escape/finale.ogg",
                         "__SchemaMetaFile_Memory.csc/",
                         "__SchemaMetaFile_Memory.csc/TaggedSounds/",
                         "__SchemaMetaFile_Memory.csc/TaggedSounds/Weapons/",
                         "__SchemaMetaFile_Memory.csc/TaggedSounds/Weapons/rifle_echo.wav",
                         "__SchemaMetafile_HardDrive.csc/",
                         "__SchemaMetafile_HardDrive.csc/TaggedSounds/",
                         "__SchemaMetafile_HardDrive.csc/TaggedSounds/Voice.hero/",
                         "__SchemaMetafile_HardDrive.csc/TaggedSounds/Voice.hero/hello.wav",
                     }));
    EXPECT_NE(Tone(tree, "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_hard.wav"),
              Tone(tree, "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_soft.ogg"))
        << "each file gets its own bytes";

    auto again = scene.Run();
    EXPECT_EQ(again.Output, run.Output);
    EXPECT_EQ(scene.Written(), tree) << "a second run replaces every file with the same bytes";
}

TEST(Sample, RawModeWritesNumberedFilesInTheArchiveFolders) {
    Scene scene(builder::SampleSet().Build());
    Tree normal;
    {
        auto run = scene.Run();
        normal = scene.Written();
        std::filesystem::remove_all(scene.folder.Path() / "__SchemaMetaFile.csc");
        for (const char* slot : {"_Memory", "_DVD1", "_DVD2", "_DVD3"}) {
            std::filesystem::remove_all(scene.folder.Path() /
                                        (std::string("__SchemaMetaFile") + slot + ".csc"));
        }
        std::filesystem::remove_all(scene.folder.Path() / "__SchemaMetafile_HardDrive.csc");
    }
    auto run = scene.Run({"-RAWExtract"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, expected::Banner + expected::Discovery(expected::AllFound) +
                              expected::Tables + expected::RawPhase({1, 1, 2, 1, 1, 2, 2, 2, 1}))
        << "no line end follows the last item";
    Tree tree = scene.Written();
    Tree expectedTree = {
        {"__SchemaMetaFile.csc/", ""},
        {"__SchemaMetaFile.csc/000002_rifle_shot.ogg",
         normal.at("__SchemaMetaFile.csc/TaggedSounds/Weapons/rifle_shot.ogg")},
        {"__SchemaMetaFile_Memory.csc/", ""},
        {"__SchemaMetaFile_Memory.csc/000002_rifle_echo.wav",
         normal.at("__SchemaMetaFile_Memory.csc/TaggedSounds/Weapons/rifle_echo.wav")},
        {"__SchemaMetafile_HardDrive.csc/", ""},
        {"__SchemaMetafile_HardDrive.csc/000003_hello.wav",
         normal.at("__SchemaMetafile_HardDrive.csc/TaggedSounds/Voice.hero/hello.wav")},
        {"__SchemaMetaFile_DVD1.csc/", ""},
        {"__SchemaMetaFile_DVD1.csc/000000_wind_loop.ogg",
         normal.at("__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg")},
        {"__SchemaMetaFile_DVD1.csc/000005_rain_soft.ogg",
         normal.at("__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_soft.ogg")},
        {"__SchemaMetaFile_DVD1.csc/000005_rain_hard.wav",
         normal.at("__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_hard.wav")},
        {"__SchemaMetaFile_DVD1.csc/000006_briefing.ogg",
         normal.at("__SchemaMetaFile_DVD1.csc/MissionSounds/M01_Harbor/briefing.ogg")},
        {"__SchemaMetaFile_DVD1.csc/000007_wind_gust.ogg",
         normal.at("__SchemaMetaFile_DVD1.csc/MissionSounds/M02_Tower/wind_gust.ogg")},
        {"__SchemaMetaFile_DVD2.csc/", ""},
        {"__SchemaMetaFile_DVD2.csc/000001_birds.wav",
         normal.at("__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav")},
        {"__SchemaMetaFile_DVD2.csc/000004_mumble.ogg",
         normal.at("__SchemaMetaFile_DVD2.csc/TaggedSounds/Voice.UnkSubTag/mumble.ogg")},
        {"__SchemaMetaFile_DVD3.csc/", ""},
        {"__SchemaMetaFile_DVD3.csc/000006_alarm.wav",
         normal.at("__SchemaMetaFile_DVD3.csc/MissionSounds/M01_Harbor/alarm.wav")},
        {"__SchemaMetaFile_DVD3.csc/000008_finale.ogg",
         normal.at("__SchemaMetaFile_DVD3.csc/MissionSounds/M03_Escape/finale.ogg")},
    };
    EXPECT_EQ(tree, expectedTree);
}

// A reader that has gone takes nothing more: the run stops at once, without a word, and does not
// end as if all were well.
TEST(Extraction, AReaderThatGoesAwayStopsTheRunQuietly) {
    Scene scene(builder::SampleSet().Build());
    EXPECT_EQ(testing_support::RunToolIntoBrokenPipe(scene.folder.Path()).ExitCode, 3);
}

TEST(Extraction, RecordsOutOfOrderAndMissingArchivesAreHandledPerEntry) {
    builder::ArchiveSetBuilder set;
    std::uint8_t tag = set.AddTag("TDoors", {"open"});
    set.AddTaggedSound({TagRef(tag, 0)}, {{File("creak", 3, "CREAK"), File("slam", 5, "SLAM"),
                                           File("ghost", 6, "GHOST")}});
    set.AddTaggedSound({TagRef(tag, 0)}, {{File("creak", 3, "CREAK2")}});
    set.AddMissionSound("M1", {{File("x", 2, "in-index", true)}});
    set.Order = builder::RecordOrder::Reversed;
    builder::ArchiveSet archives = set.Build();
    archives.Archives[5].reset(); // DVD3 missing
    Scene scene(archives);
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 1) << "a file was skipped";
    EXPECT_EQ(
        run.Output,
        expected::Banner + expected::Discovery({false, false, true, true, false, false}) +
            expected::Tables + expected::NormalPhases({"TDoors", "TDoors"}, {"M1"}) +
            "Warning: 1 file was skipped, as its archive was not found: "
            "SchemaMetaFile_DVD3.csc\r\n"
            "Warning: 1 file was skipped, as its location names no archive (slot 6 or 7)\r\n");
    EXPECT_EQ(scene.Written(),
              (Tree{{"__SchemaMetaFile_DVD1.csc/", ""},
                    {"__SchemaMetaFile_DVD1.csc/TaggedSounds/", ""},
                    {"__SchemaMetaFile_DVD1.csc/TaggedSounds/Doors.open/", ""},
                    {"__SchemaMetaFile_DVD1.csc/TaggedSounds/Doors.open/creak.ogg", "CREAK2"},
                    {"__SchemaMetafile_HardDrive.csc/", ""},
                    {"__SchemaMetafile_HardDrive.csc/MissionSounds/", ""},
                    {"__SchemaMetafile_HardDrive.csc/MissionSounds/M1/", ""},
                    {"__SchemaMetafile_HardDrive.csc/MissionSounds/M1/x.wav", "in-index"}}));
}

// A record read in place (location word 0) starts where the index archive's position stands, behind
// the bytes of a file stored there before it, whether that file is taken or left out: every job
// and every pattern sees the record a full run sees.
TEST(Extraction, AFileLeftOutMovesThePositionAsATakenOneDoes) {
    const builder::Bytes first(5000, 'f');
    csc::IndexTables tables;
    tables.MissionSounds = {{"A", 0}, {"B", 0}};
    std::uint32_t recordA = static_cast<std::uint32_t>(builder::EncodeIndexFront(tables).size());
    tables.MissionSounds[0].InfoLocation = Location(2, recordA);
    auto record = [](const std::string& name, std::uint32_t location, std::size_t size) {
        csc::TSM_SoundInfo info;
        info.FileCount = 1;
        info.Files.resize(1);
        info.Files[0].Name = name;
        info.Files[0].DataLocation = location;
        info.Files[0].OggSize = static_cast<std::uint32_t>(size);
        return builder::EncodeSoundInfo(info);
    };
    // Record A, the bytes of its file right behind it, then record B, which B's location 0 reads.
    std::size_t firstAt = recordA + record("first", 0, first.size()).size();
    builder::ArchiveSet set;
    set.Archives[2] =
        builder::EncodeIndexFront(tables) +
        record("first", Location(2, static_cast<std::uint32_t>(firstAt)), first.size()) + first +
        record("second", Location(2, static_cast<std::uint32_t>(firstAt)), 4);
    const std::string folder = "__SchemaMetafile_HardDrive.csc/MissionSounds/";
    const Tree whole = {{"__SchemaMetafile_HardDrive.csc/", ""},
                        {folder, ""},
                        {folder + "A/", ""},
                        {folder + "A/first.ogg", first},
                        {folder + "B/", ""},
                        {folder + "B/second.ogg", "ffff"}};
    Scene full(set);
    EXPECT_EQ(full.Run().ExitCode, 0);
    EXPECT_EQ(full.Written(), whole);

    Tree part = whole;
    part.erase(folder + "A/first.ogg");
    part.erase(folder + "A/");
    TempFolder out;
    auto run =
        RunTool(full.folder.Path(), {"-q", "-x", "first.ogg", "-d", expected::Native(out.Path())});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(testing_support::Tree(out.Path()), part);
    auto listed = RunTool(full.folder.Path(), {"-q", "--names", "-x", "first.ogg"});
    EXPECT_EQ(listed.Output, expected::Shown(folder + "B/second.ogg") + expected::LineEnd);
}

TEST(Mends, ATaggedSoundWithoutAUsableTagKeepsItsFilesUnderUnkTag) {
    builder::ArchiveSetBuilder set;
    set.AddTag("TOnly");
    set.AddTaggedSound({}, {{File("orphan", 3, "O")}});
    set.AddTaggedSound({TagRef(9, 255)}, {{File("stray", 3, "S")}});
    Scene scene(set.Build());
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, expected::Banner +
                              expected::Discovery({false, false, true, true, false, false}) +
                              expected::Tables + expected::NormalPhases({"UnkTag", "UnkTag"}, {}));
    EXPECT_EQ(scene.Written()["__SchemaMetaFile_DVD1.csc/TaggedSounds/UnkTag/orphan.ogg"], "O");
    EXPECT_EQ(scene.Written()["__SchemaMetaFile_DVD1.csc/TaggedSounds/UnkTag/stray.ogg"], "S");
}

TEST(Mends, TheRawTotalIsAPlainSumBeyond65535) {
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 65535; ++i) {
        set.AddTaggedSound({}, {});
    }
    set.AddMissionSound("A", {});
    set.AddMissionSound("B", {{File("last", 3, "LAST")}});
    Scene scene(set.Build());
    auto run = scene.Run({"-RAWExtract"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_TRUE(run.Output.ends_with("  Sound 65537 of 65537: 1 files..."))
        << run.Output.substr(run.Output.size() - 80);
    EXPECT_EQ(scene.Written()["__SchemaMetaFile_DVD1.csc/065536_last.ogg"], "LAST");
}

TEST(Mends, NamesCannotLeadOutOfTheArchiveFolders) {
    builder::ArchiveSetBuilder set;
    std::uint8_t up = set.AddTag("x..", {".."});
    set.AddTaggedSound({TagRef(up, 0)}, {{File("..", 3, "A"), File("../../escape", 3, "B")}});
    set.AddMissionSound("..\\..\\..", {{File(std::string("nul\0byte", 8), 3, "C")}});
    set.AddMissionSound(std::string("M\0", 2), {{File(". .", 3, "D")}});
    Scene scene(set.Build());
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 1) << "../../escape names a folder that was never made";
    EXPECT_TRUE(run.Output.find(expected::MissionItem(2, 2, std::string("M\0", 2))) !=
                std::string::npos)
        << "the console shows names byte for byte";
    Tree tree = scene.Written();
    for (const auto& [path, bytes] : tree) {
        EXPECT_TRUE(path.starts_with("__SchemaMetaFile_DVD1.csc/")) << path;
    }
    // The tag's name less its first character, ".", and the sub-tag make one all-dot component.
    EXPECT_EQ(tree["__SchemaMetaFile_DVD1.csc/TaggedSounds/_____/...ogg"], "A");
    EXPECT_EQ(tree["__SchemaMetaFile_DVD1.csc/MissionSounds/__/__/__/nul_byte.ogg"], "C");
    EXPECT_EQ(tree["__SchemaMetaFile_DVD1.csc/MissionSounds/M_/. ..ogg"], "D");
    EXPECT_TRUE(expected::EndsWithUnwritten(
        run.Output, 1, "__SchemaMetaFile_DVD1.csc\\TaggedSounds\\_____\\__/__/escape.ogg",
        "No such file or directory"))
        << run.Output;
}

TEST(Mends, UnwritableOutputIsReportedAndEndsWithExitCodeOne) {
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("a", 3, "A"), File("b", 3, "B"), File("c", 4, "C")}});
    Scene scene(set.Build());
    // A file where the archive folder belongs: nothing can be made below it, even by root.
    testing_support::WriteFile(scene.folder.Path() / "__SchemaMetaFile_DVD1.csc", "in the way");
    auto run = scene.Run();
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Output.starts_with(
        expected::Banner + expected::Discovery({false, false, true, true, true, false}) +
        expected::Tables + expected::NormalPhases({"UnkTag"}, {}) +
        expected::Unwritten(2, "__SchemaMetaFile_DVD1.csc\\TaggedSounds\\UnkTag\\a.ogg")))
        << run.Output;
    EXPECT_TRUE(expected::EndsWithUnwritten(
        run.Output, 2, "__SchemaMetaFile_DVD1.csc\\TaggedSounds\\UnkTag\\a.ogg",
        "Not a directory"));
    EXPECT_EQ(scene.Written()["__SchemaMetaFile_DVD2.csc/TaggedSounds/UnkTag/c.ogg"], "C");

    auto raw = scene.Run({"-RAWExtract"});
    EXPECT_EQ(raw.ExitCode, 1);
    EXPECT_NE(raw.Output.find("  Sound 1 of 1: 3 files...\r\n" +
                              expected::Unwritten(2, "__SchemaMetaFile_DVD1.csc\\000000_a.ogg")),
              std::string::npos)
        << "the open progress line is ended first";
}

TEST(FatalError, ExhaustedMemoryEndsWithRuntimeError203) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "an address-space limit would stop the emulator itself, not the tool";
    }
    if (testing_support::UnderMemoryHungrySanitizer) {
        GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
    }
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("small", 3, "first")}});
    set.AddMissionSound("Big", {{File("huge", 4, std::string(200u << 20, 'h'))}});
    set.AddMissionSound("Never", {{File("after", 3, "late")}});
    Scene scene(set.Build());
    auto run = RunTool(scene.folder.Path(), {}, {.AddressSpace = 96ull << 20});
    EXPECT_EQ(run.ExitCode, 203);
    EXPECT_EQ(run.Errors, "");
    EXPECT_EQ(run.Output,
              expected::Banner + expected::Discovery({false, false, true, true, true, false}) +
                  expected::Tables + "Phase 1 of 2: Extracting tagged sounds...\r\n" +
                  expected::TaggedItem(1, 1, "UnkTag") +
                  "\r\n\r\nPhase 2 of 2: Extracting mission sounds...\r\n" +
                  expected::MissionItem(1, 2, "Big") + "Runtime error 203 at 00000500\r\n");
    Tree tree = scene.Written();
    EXPECT_EQ(tree["__SchemaMetaFile_DVD1.csc/TaggedSounds/UnkTag/small.ogg"], "first");
    EXPECT_EQ(tree.count("__SchemaMetaFile_DVD2.csc/"), 0u)
        << "the failing file's folders are not made";
}

TEST(Terminal, EachItemClearsTheLastAndTheRunEndsOnAFreshLine) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "Wine draws on a pseudo-terminal with its own control sequences";
    }
    builder::ArchiveSetBuilder set;
    // Ten two-byte characters: 34 columns but 44 bytes, more than the terminal's 40. The first item
    // is always drawn, so its return is always seen.
    std::string wide;
    for (int i = 0; i < 10; ++i) {
        wide += "\xC3\xA4";
    }
    set.AddMissionSound(wide, {{File("a", 3, "A")}});
    set.AddMissionSound("b", {{File("b", 3, "B")}});
    Scene scene(set.Build());
    auto normal = testing_support::RunToolOnTerminal(scene.folder.Path(), {}, 40);
    EXPECT_EQ(normal.ExitCode, 0);
    EXPECT_NE(normal.Output.find(wide + "...             \r\x1b[K  [2/2] b..."), std::string::npos)
        << "back to the start of the same row, clearing the longer item's tail";
    auto raw = testing_support::RunToolOnTerminal(scene.folder.Path(), {"-RAWExtract"}, 40);
    // The terminal turns each line feed into a carriage return and a line feed.
    EXPECT_TRUE(raw.Output.ends_with("files...\r\r\n")) << raw.Output;
}

// The line is cleared only together with the drawing of the item that replaces it, so that it is
// never left blank while items come faster than they are drawn.
TEST(Terminal, TheProgressLineIsNeverLeftBlank) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "Wine draws on a pseudo-terminal with its own control sequences";
    }
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 20000; ++i) {
        set.AddMissionSound(std::string(1, 'M').append(std::to_string(i % 100)),
                            {{File(std::to_string(i), 3 + i % 3, "x")}});
    }
    Scene scene(set.Build());
    auto run = testing_support::RunToolOnTerminal(scene.folder.Path(), {}, 80);
    EXPECT_EQ(run.ExitCode, 0);
    std::size_t erases = 0;
    for (const std::string& piece : run.Pieces) {
        for (std::size_t at = piece.find("\x1b["); at != std::string::npos;
             at = piece.find("\x1b[", at + 1)) {
            ++erases;
            std::size_t end = piece.find_first_of("KJ", at);
            ASSERT_NE(end, std::string::npos) << "a control sequence cut between two writes";
            EXPECT_TRUE(piece.compare(end + 1, 3, "  [") == 0)
                << "an erase without the item that replaces it: "
                << piece.substr(at, std::min<std::size_t>(40, piece.size() - at));
        }
    }
    EXPECT_GT(erases, 2u) << "the run was long enough to redraw the line several times";
}

// The cursor goes back up one row for every row the last item wrapped onto, and not for an item
// that exactly fills its row, where the cursor waits on the last column.
TEST(Terminal, AnItemGoesBackUpTheRowsItWrappedOnto) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "Wine draws on a pseudo-terminal with its own control sequences";
    }
    // "  [1/2] " and the name, "..." and 13 spaces: 40 columns with a name of 16, 41 with 17.
    for (std::size_t name : {16u, 17u, 56u, 57u}) {
        builder::ArchiveSetBuilder set;
        set.AddMissionSound(std::string(name, 'n'), {{File("a", 3, "A")}});
        set.AddMissionSound("b", {{File("b", 3, "B")}});
        Scene scene(set.Build());
        auto run = testing_support::RunToolOnTerminal(scene.folder.Path(), {}, 40);
        std::size_t rows = (24 + name - 1) / 40;
        std::string back = rows == 0 ? "\r\x1b[K" : "\r\x1b[" + std::to_string(rows) + "A\x1b[J";
        EXPECT_NE(run.Output.find(std::string(name, 'n') + "..." + std::string(13, ' ') + back +
                                  "  [2/2] b"),
                  std::string::npos)
            << name << " characters: " << run.Output;
    }
}
