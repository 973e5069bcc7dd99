// Runs under pressure: the machine's limits, interrupts at random moments, links planted in the
// output tree, paths longer than Windows' old limit, and names that one file system takes for one.

#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

using builder::File;
using testing_support::RunTool;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

// Every file of the set under its output path, with its bytes, from a run into a folder of its
// own below scratch; took is how long the run took.
Tree FilesOf(const builder::ArchiveSetBuilder& set, const TempFolder& scratch, const char* name,
             std::chrono::microseconds& took) {
    fs::path folder = scratch.Path() / name;
    builder::WriteArchiveSet(set.Build(), folder);
    auto start = std::chrono::steady_clock::now();
    RunTool(folder, {});
    took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
    Tree files;
    for (const auto& [path, bytes] : testing_support::Tree(folder)) {
        if (!path.ends_with("/")) {
            files[path] = bytes;
        }
    }
    return files;
}

// Files of mixed sizes, from small ones read on the reading thread to large ones copied by the
// writers, enough that a run takes a moment; seed tells two sets of the same paths apart.
builder::ArchiveSetBuilder ManyFiles(char seed) {
    builder::ArchiveSetBuilder set;
    for (int sound = 0; sound < 600; ++sound) {
        std::size_t size = sound % 10 == 0 ? 300000 : 2000 + sound * 10;
        std::string bytes(size, static_cast<char>(seed + sound % 7));
        set.AddMissionSound(
            std::string(1, 'M').append(std::to_string(sound % 12)),
            {{File(std::string(1, 'f').append(std::to_string(sound)), 3 + sound % 3, bytes)}});
    }
    return set;
}

} // namespace

// Whatever limit the machine puts on the process, the run ends by itself, with every file it could
// not write removed and counted, and the pool makes no file fail that one writer would write.
TEST(Pressure, TheMachinesLimitsNeverEndTheRunNorCutAFile) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "limits put on the emulator would stop it, not the tool";
    }
    builder::ArchiveSetBuilder set;
    builder::StoredFile lying = File("lying", 3, std::string(200000, 'L'));
    lying.OggSize = 8 << 20; // past the size limit, with the bytes that follow it
    set.AddMissionSound("A", {{lying}});
    for (int i = 0; i < 40; ++i) {
        set.AddMissionSound("B", {{File(std::string("big").append(std::to_string(i)), 3 + i % 3,
                                        std::string(1 << 20, static_cast<char>('a' + i % 26)))}});
    }
    for (int i = 0; i < 400; ++i) {
        set.AddMissionSound(std::string(1, 'C').append(std::to_string(i % 9)),
                            {{File(std::to_string(i), 4, "small")}});
    }
    const struct Case {
        const char* name;
        testing_support::Limits limits;
        std::uint64_t unwritten;
    } cases[] = {
        // The lying file, and every 1 MiB file, run past the size limit.
        {"file size", {.FileSize = 512 << 10}, 41},
        {"open files", {.OpenFiles = 8}, 0}, // one more than the tool holds before it writes
        {"address space", {.AddressSpace = 24 << 20}, 0},
    };
    for (const Case& c : cases) {
        if ((c.limits.AddressSpace != 0 || c.limits.OpenFiles != 0) &&
            testing_support::UnderMemoryHungrySanitizer) {
            continue; // the sanitizer's runtime takes address space and descriptors of its own
        }
        TempFolder folder;
        builder::WriteArchiveSet(set.Build(), folder.Path());
        auto run = RunTool(folder.Path(), {}, c.limits);
        EXPECT_EQ(run.ExitCode, c.unwritten > 0 ? 1 : 0) << c.name << "\n" << run.Output;
        if (c.unwritten > 0) {
            EXPECT_NE(
                run.Output.find(expected::Unwritten(c.unwritten, "__SchemaMetaFile_DVD1.csc/"
                                                                 "MissionSounds/A/lying.ogg") +
                                "File too large)"),
                std::string::npos)
                << c.name << "\n"
                << run.Output;
        } else {
            EXPECT_EQ(run.Output.find("could not be written"), std::string::npos) << c.name;
        }
        Tree tree = testing_support::Tree(folder.Path());
        std::size_t files = 0;
        for (const auto& [path, bytes] : tree) {
            if (path.ends_with("/")) {
                continue;
            }
            ++files;
            EXPECT_TRUE(bytes == "small" || bytes.size() == 1 << 20 || bytes.size() == 8 << 20)
                << c.name << ": " << path << " is cut at " << bytes.size();
        }
        EXPECT_EQ(files, 441 - c.unwritten) << c.name;
    }
}

TEST(Pressure, AnArchiveThatCannotBeOpenedSaysWhy) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "a limit on open files would stop the emulator first";
    }
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    auto run = RunTool(folder.Path(), {}, {.OpenFiles = 5});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_TRUE(run.Output.ends_with(
        "  SchemaMetafile_HardDrive.csc: cannot be read (Too many open files)\r\n"
        "  SchemaMetaFile_DVD1.csc: cannot be read (Too many open files)\r\n"
        "  SchemaMetaFile_DVD2.csc: cannot be read (Too many open files)\r\n"
        "  SchemaMetaFile_DVD3.csc: cannot be read (Too many open files)\r\n"
        "\r\n"
        "Error: SchemaMetafile_HardDrive.csc cannot be read (Too many open files)\r\n"))
        << run.Output;
}

// An interrupt at any moment stops the run, which finishes the files being written and leaves
// every file complete: a new one, or, over an earlier run's tree, the earlier one or its complete
// replacement. Even a kill leaves no file that stood before cut or empty.
TEST(Pressure, AnInterruptedRunLeavesEveryFileComplete) {
    TempFolder scratch;
    builder::ArchiveSetBuilder before = ManyFiles('a');
    builder::ArchiveSetBuilder after = ManyFiles('n');
    std::chrono::microseconds took{};
    Tree old = FilesOf(before, scratch, "before", took);
    Tree now = FilesOf(after, scratch, "after", took);
    std::vector<int> signals = {SIGKILL};
    if (!UnderLauncher()) { // Wine turns signals into events of its own
        signals.insert(signals.end(), {SIGINT, SIGTERM, SIGHUP});
    }
    std::mt19937 random(12345);
    for (int signal : signals) {
        int caught = 0; // runs the signal stopped rather than ended
        for (bool overOld : {false, true}) {
            if (signal == SIGKILL && !overOld) {
                continue; // a first creation is one exclusive create, which a kill may cut
            }
            // Until a run is caught midway, on a loaded machine too, within a time of its own.
            int caughtBefore = caught;
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            for (int trial = 0; trial < 3 || (signal != SIGKILL && caught == caughtBefore &&
                                              std::chrono::steady_clock::now() < deadline);
                 ++trial) {
                TempFolder folder;
                if (overOld) {
                    builder::WriteArchiveSet(before.Build(), folder.Path());
                    RunTool(folder.Path(), {});
                }
                builder::WriteArchiveSet(after.Build(), folder.Path());
                // Mostly while files are being written, now and then before the tool has set itself
                // up or once it is done.
                std::chrono::microseconds moment(random() % (took.count() * 2 / 3));
                auto run = RunTool(folder.Path(), {}, {}, {.Signal = signal, .After = moment});
                std::string name = std::string(strsignal(signal)) +
                                   (overOld ? " over a tree" : "") + " after " +
                                   std::to_string(moment.count()) + " us";
                std::size_t present = 0;
                Tree tree = testing_support::Tree(folder.Path());
                bool whole = std::all_of(now.begin(), now.end(), [&](const auto& file) {
                    return tree.count(file.first) > 0 && tree.at(file.first) == file.second;
                });
                for (const auto& [path, bytes] : tree) {
                    if (path.ends_with("/")) {
                        continue;
                    }
                    if (path.find("/.cscunpack-") != std::string::npos) {
                        EXPECT_EQ(signal, SIGKILL) << name << ": " << path << " is left beside";
                        continue;
                    }
                    ++present;
                    bool complete = (now.count(path) && bytes == now[path]) ||
                                    (overOld && old.count(path) && bytes == old[path]);
                    EXPECT_TRUE(complete) << name << ": " << path << " holds " << bytes.size();
                }
                if (run.KilledBy != 0 || !run.SignalledWhileRunning ||
                    (run.ExitCode == 0 && whole)) {
                    // Too early for the tool to catch it, or too late to find it running (or to
                    // find it anywhere but on its way out, every file written).
                    EXPECT_TRUE(run.ExitCode == 0 || run.KilledBy == signal)
                        << name << ": exit " << run.ExitCode;
                    continue;
                }
                EXPECT_EQ(run.ExitCode, 130) << name;
                ++caught;
                std::size_t interrupted = run.Output.rfind("\r\nInterrupted: ");
                ASSERT_NE(interrupted, std::string::npos) << name << "\n" << run.Output;
                if (!overOld) {
                    EXPECT_EQ(run.Output.substr(interrupted),
                              "\r\nInterrupted: " + std::to_string(present) +
                                  (present == 1 ? " output file was" : " output files were") +
                                  " written\r\n")
                        << name;
                }
            }
        }
        if (signal != SIGKILL) {
            EXPECT_GT(caught, 0) << strsignal(signal) << " stopped no run midway";
        }
    }
}

// A link below the output folder, where a folder goes, is in that folder's way: nothing is written
// through it and nothing where it leads is touched.
TEST(Pressure, NoLinkBelowTheOutputFolderIsFollowed) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    ASSERT_EQ(RunTool(folder.Path(), {}).ExitCode, 0);
    TempFolder elsewhere;
    fs::create_directories(elsewhere.Path() / "missions/M01_Harbor");
    testing_support::WriteFile(elsewhere.Path() / "missions/M01_Harbor/briefing.ogg", "precious");
    fs::create_directories(elsewhere.Path() / "archive");
    fs::remove_all(folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds");
    fs::create_directory_symlink(elsewhere.Path() / "missions",
                                 folder.Path() / "__SchemaMetaFile_DVD1.csc/MissionSounds");
    fs::remove_all(folder.Path() / "__SchemaMetaFile_DVD2.csc");
    fs::create_directory_symlink(elsewhere.Path() / "archive",
                                 folder.Path() / "__SchemaMetaFile_DVD2.csc");

    auto run = RunTool(folder.Path(), {});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(expected::EndsWithUnwritten(
        run.Output, 4, "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav",
        "Too many levels of symbolic links"))
        << run.Output;
    EXPECT_EQ(testing_support::Tree(elsewhere.Path()),
              (Tree{{"archive/", ""},
                    {"missions/", ""},
                    {"missions/M01_Harbor/", ""},
                    {"missions/M01_Harbor/briefing.ogg", "precious"}}));
}

// Paths longer than the 260 characters of Windows' old limit are written, and written again over
// themselves, on every platform.
TEST(Pressure, LongPathsAreWrittenAndReplaced) {
    builder::ArchiveSetBuilder set;
    std::string mission(120, 'm');
    std::string name(200, 'f');
    set.AddMissionSound(mission, {{File(name, 3, "LONG")}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    std::string path = "__SchemaMetaFile_DVD1.csc/MissionSounds/" + mission + "/" + name + ".ogg";
    for (int run = 0; run < 2; ++run) {
        auto result = RunTool(folder.Path(), {});
        EXPECT_EQ(result.ExitCode, 0) << "run " << run << "\n" << result.Output;
        EXPECT_EQ(testing_support::ReadFile(folder.Path() / path), "LONG") << "run " << run;
    }
    EXPECT_GT((folder.Path() / path).string().size(), 300u);
}

// Whatever the names, the tree, the console and the exit code of the pool are those of one writer.
// Windows takes names that differ in the case of any letter for one: é and É of code page 1252 as
// well as a and A. (On one processor the Windows build writes on the reading thread; a native
// build counts the machine's processors whatever it may run on, and the in-process differential
// test compares it with one writer.)
TEST(Pressure, OneProcessorAndManyWriteTheSameTree) {
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 40; ++i) {
        std::string number = std::to_string(100 + i);
        set.AddMissionSound("M", {{File("a\xE9" + number, 3, std::string(200000, 'e'))}});
        set.AddMissionSound("M", {{File("A\xC9" + number, 3, std::string(200000, 'E'))}});
        set.AddMissionSound("S" + number, {{File("a/b", 4, "B"), File("x", 4, "X")}});
        set.AddMissionSound("S" + number + "/a", {{File("c", 4, "C")}});
    }
    TempFolder one, many;
    builder::WriteArchiveSet(set.Build(), one.Path());
    builder::WriteArchiveSet(set.Build(), many.Path());
    auto alone = RunTool(one.Path(), {}, {.OneProcessor = true});
    auto pool = RunTool(many.Path(), {});
    EXPECT_EQ(pool.ExitCode, alone.ExitCode);
    EXPECT_EQ(pool.Output, alone.Output);
    Tree tree = testing_support::Tree(many.Path());
    EXPECT_EQ(tree, testing_support::Tree(one.Path()));
    std::size_t caseFiles = 0;
    for (const auto& [path, bytes] : tree) {
        if (path.starts_with("__SchemaMetaFile_DVD1.csc/MissionSounds/M/") &&
            !path.ends_with("/")) {
            ++caseFiles;
            EXPECT_TRUE(!UnderLauncher() || bytes[0] == 'E') << path << ": the later file remains";
        }
    }
    EXPECT_EQ(caseFiles, UnderLauncher() ? 40u : 80u);
}
