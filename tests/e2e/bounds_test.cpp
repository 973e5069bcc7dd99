// Bounds a hostile archive set or a hostile machine cannot break: memory held by the checker and
// by unwritten files, output that cannot be written, an interrupt during the last file, and many
// writers under a limit on the address space.

#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>

using builder::File;
using builder::Location;
using testing_support::RunTool;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t MiB = 1u << 20;

bool MeasuresMemory() {
    return !UnderLauncher() && !testing_support::UnderMemoryHungrySanitizer;
}

} // namespace

// Files that overlap in one archive, each larger than the last: checking them keeps no buffer of
// each, so the peak stays near the largest file, not at the sum of all.
TEST(Bounds, CheckingHoldsTheFilesInFlightNotEveryFile) {
    if (!MeasuresMemory()) {
        GTEST_SKIP() << "the peak would measure the sanitizer or the emulator";
    }
    builder::ArchiveSetBuilder set;
    builder::Sound sound;
    sound.Files.push_back(File("whole", 3, std::string(8 * MiB, 'x')));
    for (std::uint32_t i = 0; i < 32; ++i) {
        builder::StoredFile part = File(std::string("part").append(std::to_string(i)), 3, "");
        part.DataLocation = Location(3, 0);
        part.OggSize = 4 * MiB + i * 128 * 1024;
        sound.Files.push_back(part);
    }
    set.AddMissionSound("M", sound);
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    auto run = RunTool(folder.Path(), {"-t", "-q"});
    EXPECT_EQ(run.ExitCode, 1) << "none of them is Ogg";
    EXPECT_TRUE(run.Output.ends_with("33 files checked, 33 damaged" + expected::LineEnd));
    EXPECT_LT(run.PeakResidentKiB, 64 * 1024) << "the 32 files hold 192 MiB together";
}

// Every file of 200 sounds that share one record of 255 files with long names cannot be written:
// each is named as it settles, and only their count is kept.
TEST(Bounds, UnwrittenFilesCostOnlyTheirCount) {
    if (!MeasuresMemory()) {
        GTEST_SKIP() << "the peak would measure the sanitizer or the emulator";
    }
    csc::TSM_SoundInfo record;
    for (int i = 0; i < 255; ++i) {
        csc::SM_SoundFileInfo file;
        file.Name = std::string(2000, 'n') + std::to_string(i);
        file.DataLocation = Location(3, 0);
        file.OggSize = 1;
        record.Files.push_back(file);
    }
    record.FileCount = 255;
    csc::IndexTables tables;
    tables.MissionSounds.resize(200, csc::TSM_MissionSound{"M", 0});
    std::size_t front = builder::EncodeIndexFront(tables).size();
    for (csc::TSM_MissionSound& sound : tables.MissionSounds) {
        sound.InfoLocation = Location(2, static_cast<std::uint32_t>(front));
    }
    builder::ArchiveSet set;
    set.Archives[2] = builder::EncodeIndexFront(tables) + builder::EncodeSoundInfo(record);
    set.Archives[3] = "X";
    TempFolder folder;
    builder::WriteArchiveSet(set, folder.Path());
    testing_support::WriteFile(folder.Path() / "__SchemaMetaFile_DVD1.csc", "in the way");
    auto run = RunTool(folder.Path(), {"-q"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Output.starts_with(
        "0 files written (0 bytes), 0 unchanged, 0 kept, 0 left out, 0 skipped, "
        "51000 unwritten"))
        << run.Output;
    EXPECT_EQ(std::count(run.Errors.begin(), run.Errors.end(), '\n'), 51000);
    EXPECT_LT(run.PeakResidentKiB, 48 * 1024) << "the unwritten paths hold 100 MiB together";
}

// Output that cannot be written is a failure of every job and both forms: exit code 3, said on
// standard error.
TEST(Bounds, LostOutputIsAFailure) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "/dev/full and closed descriptors are POSIX's";
    }
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    const std::vector<std::vector<std::string>> jobs = {
        {},           {"-l", "-q"},     {"-t", "-q"}, {"--version"}, {"-q", "-d", "out"},
        {"-p", "-q"}, {"--names", "-q"}};
    for (const auto& arguments : jobs) {
        std::string name = arguments.empty() ? "(classic)" : arguments[0];
        auto full = RunTool(folder.Path(), arguments, {}, {}, "/dev/full");
        EXPECT_EQ(full.ExitCode, 3) << name;
        // The classic run writes nothing to standard error, whatever happens.
        EXPECT_EQ(full.Errors, arguments.empty() ? ""
                                                 : "cscunpack: cannot write to standard output (No "
                                                   "space left on device)\n")
            << name;
        auto closed = RunTool(folder.Path(), arguments, {}, {}, "");
        EXPECT_EQ(closed.ExitCode, 3) << name;
    }
    // Standard error lost, where the run has something to say there: the banner and phases of
    // the option form, a warning, the line of a mount.
    const std::vector<std::vector<std::string>> speaking = {
        {"-l"}, {"-t"}, {"-d", "out"}, {"-p"}, {"-q", "-l", "-i", "nomatch"}};
    for (const auto& arguments : speaking) {
        for (const std::string lost : {"/dev/full", ""}) {
            auto run = RunTool(folder.Path(), arguments, {}, {}, "/dev/null", lost);
            EXPECT_EQ(run.ExitCode, 3) << arguments[0] << " " << lost;
        }
    }
    auto classic = RunTool(folder.Path(), {}, {}, {}, std::nullopt, "/dev/full");
    EXPECT_EQ(classic.ExitCode, 0) << "the classic form writes nothing there";
}

// A reader that goes away stops the run at once: of many sounds, few are written.
TEST(Bounds, AReaderThatGoesAwayStopsTheRun) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine reports a broken pipe in its own way";
    }
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 3000; ++i) {
        set.AddMissionSound(std::string("Mission").append(std::to_string(i)),
                            {{File("f", 3, "x")}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    testing_support::ToolRun classic = testing_support::RunToolIntoBrokenPipe(folder.Path());
    EXPECT_EQ(classic.ExitCode, 3);
    EXPECT_EQ(classic.Errors, "");
    std::size_t written = testing_support::Tree(folder.Path() / "__SchemaMetaFile_DVD1.csc").size();
    EXPECT_LT(written, 1500u) << "the run went on after its reader had gone";
    // Quiet about it: whoever closed the pipe knows.
    for (const std::vector<std::string>& job :
         {std::vector<std::string>{"-t", "--json"}, {"-l"}, {"-p"}, {"-q", "-d", "out"}}) {
        testing_support::ToolRun run = testing_support::RunToolIntoBrokenPipe(folder.Path(), job);
        EXPECT_EQ(run.ExitCode, 3) << job[0];
        EXPECT_EQ(run.Errors.find("cscunpack:"), std::string::npos) << job[0] << run.Errors;
    }
}

// Results reach a pipe as they are known: "cscunpack -t --json | head -1" gets its line while the
// run goes on (the lines would all fit in the output's buffer), and the run then ends quietly.
TEST(Bounds, EachResultReachesAPipeWhileTheRunGoesOn) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "the slow disk is a library loaded into a POSIX process";
    }
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 20; ++i) {
        set.AddMissionSound("M", {{File("f" + std::to_string(i), 3, std::string(100000, 'x'))}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    testing_support::FirstLine first = testing_support::RunToolReadingOneLine(
        folder.Path(), {"-t", "--json", "-q"},
        {.Environment = testing_support::FaultyReads("SchemaMetaFile_DVD1.csc", std::nullopt, 40)});
    EXPECT_TRUE(
        first.Line.starts_with("{\"path\": \"__SchemaMetaFile_DVD1.csc/MissionSounds/M/f0.ogg\""))
        << first.Line;
    EXPECT_TRUE(first.RunWentOn) << "the line came only once the run had ended";
    EXPECT_EQ(first.ExitCode, 3);
    EXPECT_EQ(first.Errors, "");
}

// An interrupt while the last file is being written ends the run as any other does.
TEST(Bounds, AnInterruptDuringTheLastFileIsNotSwallowed) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine turns signals into events of its own";
    }
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("huge", 3, std::string(256 * MiB, 'h'))}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    // Each signal goes once the run has made its output folder (a signal before the program
    // starts is the sanitizers' to take); early ones find the run before its file, the one sought
    // finds the file taken and being written, which the run finishes before it stops.
    bool caught = false;
    for (int after = 0; after < 1000 && !caught; after += 3) {
        fs::remove_all(folder.Path() / "out");
        auto run =
            RunTool(folder.Path(), {"-q", "-d", "out"}, {},
                    {.Signal = SIGINT, .After = std::chrono::milliseconds(after), .Once = [&] {
                         return fs::exists(folder.Path() / "out");
                     }});
        if (!run.SignalledWhileRunning || run.KilledBy != 0) {
            continue;
        }
        EXPECT_EQ(run.ExitCode, 130) << after << " ms: " << run.Output << run.Errors;
        fs::path huge = folder.Path() / "out/__SchemaMetaFile_DVD1.csc/MissionSounds/M/huge.ogg";
        if (fs::exists(huge)) {
            caught = true;
            EXPECT_EQ(fs::file_size(huge), 256 * MiB);
            EXPECT_EQ(run.Errors, "Interrupted: 1 output file was written" + expected::LineEnd);
        }
    }
    EXPECT_TRUE(caught) << "no run was caught while it wrote";
}

// Each writer thread takes address space of its own; under a limit that one writer fits in, many
// writers fit too.
TEST(Bounds, ManyWritersFitWhereOneDoes) {
    if (!MeasuresMemory()) {
        GTEST_SKIP() << "a limit on the address space would measure the sanitizer or the emulator";
    }
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 16; ++i) {
        set.AddMissionSound(
            "M",
            {{File(std::string("f").append(std::to_string(i)), 3 + i % 3, std::string(MiB, 'b')),
              File(std::string("g").append(std::to_string(i)), 3, std::string(2000, 's'))}});
    }
    set.AddMissionSound("L", {{File("large", 4, std::string(64 * MiB, 'l'))}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    testing_support::Limits limits{.AddressSpace = 160ull * MiB};
    for (const char* writers : {"0", "8", "64"}) {
        fs::remove_all(folder.Path() / "out");
        auto run = RunTool(folder.Path(), {"-q", "-d", "out", "-j", writers}, limits);
        EXPECT_EQ(run.ExitCode, 0) << writers << " writers: " << run.Output << run.Errors;
    }
}

// A signal ignored when the run starts (nohup, a shell's background job) stays ignored.
TEST(Bounds, ASignalIgnoredOnEntryStaysIgnored) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine turns signals into events of its own";
    }
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 2000; ++i) {
        set.AddMissionSound(std::string("M").append(std::to_string(i % 50)),
                            {{File(std::to_string(i), 3, "x")}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    for (int after : {30, 60, 90}) { // the child has set its signals up by then
        auto run = RunTool(
            folder.Path(), {"-q", "-d", "out" + std::to_string(after)}, {},
            {.Signal = SIGHUP, .After = std::chrono::milliseconds(after), .IgnoredOnEntry = true});
        EXPECT_EQ(run.ExitCode, 0) << after << " ms: " << run.Errors;
        EXPECT_TRUE(run.Output.starts_with("2000 files written")) << run.Output;
    }
}

// A write that the file size limit cuts short fails the file, small or large: none is counted as
// written, and none is left cut.
TEST(Bounds, AFileCutByTheSizeLimitIsNotWritten) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "a limit on the file size is POSIX's";
    }
    builder::ArchiveSetBuilder set;
    set.AddMissionSound(
        "M", {{File("small", 3, std::string(500, 's')), File("over", 3, std::string(3000, 'o')),
               File("large", 4, std::string(200000, 'l'))}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    for (const char* writers : {"0", "4"}) {
        fs::remove_all(folder.Path() / "out");
        auto run = RunTool(folder.Path(), {"-q", "-d", "out", "-j", writers}, {.FileSize = 2048});
        EXPECT_EQ(run.ExitCode, 1) << writers;
        EXPECT_TRUE(run.Output.starts_with("1 file written (500 bytes)")) << run.Output;
        EXPECT_EQ(testing_support::Tree(folder.Path() / "out/__SchemaMetaFile_DVD1.csc"),
                  (std::map<std::string, std::string>{
                      {"MissionSounds/", ""},
                      {"MissionSounds/M/", ""},
                      {"MissionSounds/M/small.ogg", std::string(500, 's')}}));
    }
}

// --list and --test do not end as if all were well when an archive is missing or a file damaged.
TEST(Bounds, ListAndTestTellOfMissingArchivesAndDamage) {
    builder::ArchiveSet missing = builder::SampleSet().Build();
    missing.Archives[5].reset();
    TempFolder folder;
    builder::WriteArchiveSet(missing, folder.Path());
    EXPECT_EQ(RunTool(folder.Path(), {"-l", "-q"}).ExitCode, 1);
    EXPECT_EQ(RunTool(folder.Path(), {"-t", "-q"}).ExitCode, 1);

    std::string ogg = builder::OggVorbisTone(440, 0.25);
    ogg[ogg.size() / 2] = static_cast<char>(ogg[ogg.size() / 2] ^ 1);
    builder::ArchiveSetBuilder damaged;
    damaged.AddMissionSound("M", {{File("damaged", 3, ogg)}});
    TempFolder other;
    builder::WriteArchiveSet(damaged.Build(), other.Path());
    auto test = RunTool(other.Path(), {"-t", "-q"});
    EXPECT_EQ(test.ExitCode, 1) << "damage alone, without a short read";
    EXPECT_EQ(test.Errors, "");
}

// An interrupt stops every phase of every job soon after it comes, timed here by the run's own
// output: once the second phase has begun, the run stops before its end.
TEST(Bounds, EveryPhaseStopsSoonAfterAnInterrupt) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine turns signals into events of its own";
    }
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("tagged", 3, "t")}});
    for (int i = 0; i < 30000; ++i) {
        set.AddMissionSound(std::string("M").append(std::to_string(i)),
                            {{File(std::string("m").append(std::to_string(i)), 3, "m")}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    const std::string last = "m29999.ogg";
    const struct Case {
        std::vector<std::string> arguments;
        std::string once; // what standard output holds once the second phase has begun
    } cases[] = {
        {{}, "Phase 2 of 2"},
        {{"-l", "-q"}, "MissionSounds"},
        {{"-t", "-q", "--json"}, "MissionSounds"},
        // RAW lists records it has read before, faster than a signal can follow its output:
        // its second phase is timed by the files it writes, once the first stands.
        {{"-r", "-q", "-d", "raw"}, ""},
    };
    for (const Case& c : cases) {
        std::string name = c.arguments.empty() ? "(classic)" : c.arguments[0];
        fs::path raw = folder.Path() / "raw";
        // A disk that takes its time, so that the run is still going when the signal comes.
        auto run = RunTool(folder.Path(), c.arguments,
                           {.Environment = testing_support::FaultyReads(
                                "SchemaMetafile_HardDrive.csc", std::nullopt, 5)},
                           {.Signal = SIGINT,
                            .After = {},
                            .OnceOutputHolds = c.once,
                            .Once = c.once.empty() ? std::function<bool()>([&] {
                                return fs::is_directory(raw) && !fs::is_empty(raw);
                            })
                                                   : std::function<bool()>()});
        EXPECT_EQ(run.ExitCode, 130) << name << ": " << run.Errors;
        std::string written;
        for (const auto& [path, bytes] : testing_support::Tree(raw)) {
            written += path + "\n";
        }
        EXPECT_EQ((run.Output + written).find(last), std::string::npos)
            << name << " went on to the end";
    }
    EXPECT_LT(
        testing_support::Tree(folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds").size(),
        30000u);
}
