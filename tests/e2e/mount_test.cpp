// The mount: the tree an extraction writes, read-only, and every tag of every tagged sound.

#include "archive_builder.h"
#include "differential_sets.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using builder::File;
using builder::TagRef;
using testing_support::RunTool;
using testing_support::TempFolder;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

// Whether this machine can mount; where it cannot, a test says why and is skipped, unless the
// environment asks that mounts work (CI, as root, with /dev/fuse), where it fails.
bool MountsHere() {
    if (::access("/dev/fuse", R_OK | W_OK) == 0) {
        return true;
    }
    if (std::getenv("CSCUNPACK_REQUIRE_MOUNT") != nullptr) {
        ADD_FAILURE() << "no /dev/fuse to open, and CSCUNPACK_REQUIRE_MOUNT is set";
    }
    return false;
}

#define SKIP_UNLESS_MOUNTS_HERE()                                                                  \
    if (testing_support::UnderLauncher()) {                                                        \
        GTEST_SKIP() << "the Windows build does not mount";                                        \
    }                                                                                              \
    if (!MountsHere()) {                                                                           \
        GTEST_SKIP() << "no /dev/fuse that this user can open";                                    \
    }

void Unmount(const fs::path& point) {
    if (::umount2(point.c_str(), 0) != 0) {
        std::string command = "fusermount3 -u '" + point.string() + "' 2>/dev/null";
        [[maybe_unused]] int ignored = std::system(command.c_str());
    }
}

// The archives in folder mounted in the background at a fresh folder; unmounted at the end.
struct Mount {
    TempFolder point;
    testing_support::ToolRun run;

    Mount(const fs::path& archives, std::vector<std::string> more = {}) {
        std::vector<std::string> arguments = {"--mount", point.Path().string(), "--background",
                                              "-q"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        run = RunTool(archives, arguments);
    }
    ~Mount() { Unmount(point.Path()); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    // The tree without ByTag/, which a run does not write.
    Tree AsARunWritesIt() const {
        Tree tree = testing_support::Tree(point.Path());
        std::erase_if(tree, [](const auto& entry) { return entry.first.starts_with("ByTag/"); });
        return tree;
    }
};

Tree Extracted(const fs::path& archives, std::vector<std::string> more) {
    TempFolder out;
    std::vector<std::string> arguments = {"-q", "-d", out.Path().string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    RunTool(archives, arguments);
    return testing_support::Tree(out.Path());
}

} // namespace

// For every set that puts the order of writing to the test, the mount shows what an extraction
// with the same options writes into an empty folder: paths, sizes, bytes and zero tails.
TEST(Mount, ShowsTheTreeAnExtractionWrites) {
    SKIP_UNLESS_MOUNTS_HERE();
    for (const testing_support::DifferentialCase& c : testing_support::DifferentialSets()) {
        if (!c.writable) {
            continue; // the same sets again, with something in the output folder's way
        }
        TempFolder archives;
        builder::WriteArchiveSet(c.set, archives.Path());
        for (std::vector<std::string> options :
             {std::vector<std::string>{}, {"-r"}, {"-x", "*a*.ogg", "-x", "M1/"}}) {
            std::string name = std::string(c.name) + " " + ::testing::PrintToString(options);
            Mount mount(archives.Path(), options);
            // Sets that cut files short end with warnings, as their extraction does.
            ASSERT_LE(mount.run.ExitCode, 1) << name << ": " << mount.run.Errors;
            Tree extracted = Extracted(archives.Path(), options);
            EXPECT_EQ(mount.AsARunWritesIt(), extracted) << name;
        }
    }
}

// ByTag/ holds each tagged sound's files under every tag it carries, and --list --json names
// those tags.
TEST(Mount, ByTagHoldsEverySoundUnderEachOfItsTags) {
    SKIP_UNLESS_MOUNTS_HERE();
    builder::ArchiveSetBuilder set;
    std::uint8_t ambience = set.AddTag("TAmbience", {"rain", "wind"});
    std::uint8_t weather = set.AddTag("TWeather");
    set.AddTaggedSound({TagRef(ambience, 0), TagRef(weather, csc::NoSubTag)},
                       {{File("drop", 3, "DROP")}});
    set.AddTaggedSound({TagRef(weather, csc::NoSubTag)}, {{File("gust", 4, "GUST", true)}});
    set.AddTaggedSound({TagRef(ambience, 1), TagRef(ambience, 0)}, {{File("hiss", 3, "HISS")}});
    set.AddMissionSound("M1", {{File("talk", 3, "TALK")}});
    TempFolder archives;
    builder::WriteArchiveSet(set.Build(), archives.Path());

    Mount mount(archives.Path());
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    Tree byTag;
    for (const auto& [path, bytes] : testing_support::Tree(mount.point.Path())) {
        if (path.starts_with("ByTag/")) {
            byTag[path] = bytes;
        }
    }
    EXPECT_EQ(byTag, (Tree{{"ByTag/", ""},
                           {"ByTag/Ambience.rain/", ""},
                           {"ByTag/Ambience.rain/drop.ogg", "DROP"},
                           {"ByTag/Ambience.rain/hiss.ogg", "HISS"},
                           {"ByTag/Ambience.wind/", ""},
                           {"ByTag/Ambience.wind/hiss.ogg", "HISS"},
                           {"ByTag/Weather/", ""},
                           {"ByTag/Weather/drop.ogg", "DROP"},
                           {"ByTag/Weather/gust.wav", "GUST"}}));

    auto listed = RunTool(archives.Path(), {"-l", "--json", "-q"});
    std::vector<std::string> lines = expected::Lines(listed.Output);
    ASSERT_EQ(lines.size(), 4u) << listed.Output;
    EXPECT_NE(lines[0].find(", \"tags\": [\"Ambience.rain\", \"Weather\"], \"mission\": null"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find(", \"tags\": [\"Ambience.wind\", \"Ambience.rain\"]"),
              std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find(", \"tags\": null, \"mission\": \"M1\""), std::string::npos)
        << lines[3];
}

// Folders of thousands of entries, far more than one read of a listing takes, list each entry once
// and find each by name, and nothing else; a name that two sounds give their files shows the later
// sound's bytes, in the tree a run writes as under each tag.
TEST(Mount, LargeFoldersListEachEntryOnceAndFindEachByName) {
    SKIP_UNLESS_MOUNTS_HERE();
    builder::ArchiveSetBuilder set;
    std::uint8_t weather = set.AddTag("TWeather");
    std::uint8_t rain = set.AddTag("TRain");
    std::vector<std::string> names = {"shared.ogg"};
    for (int sound = 0; sound < 20; ++sound) {
        builder::Sound files;
        for (int k = 0; k < 150; ++k) {
            // Long enough that the names fill more than one of the blocks they are kept in.
            std::string name = std::string("s").append(std::to_string(sound));
            name.append("_file_").append(std::to_string(k)).append("_of_a_folder_of_thousands");
            files.Files.push_back(File(name, 3, name));
            names.push_back(name + ".ogg");
        }
        files.Files.push_back(
            File("shared", 3, std::string("from ").append(std::to_string(sound))));
        set.AddTaggedSound({TagRef(weather, csc::NoSubTag), TagRef(rain, csc::NoSubTag)}, files);
    }
    std::sort(names.begin(), names.end());
    TempFolder archives;
    builder::WriteArchiveSet(set.Build(), archives.Path());

    Mount mount(archives.Path());
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    EXPECT_EQ(mount.AsARunWritesIt(), Extracted(archives.Path(), {}));
    fs::path root = mount.point.Path();
    fs::path ranFolder;
    for (const auto& [path, bytes] : Extracted(archives.Path(), {})) {
        if (path.ends_with("/shared.ogg")) {
            ranFolder = root / fs::path(path).parent_path();
        }
    }
    for (const fs::path& folder : {ranFolder, root / "ByTag/Weather", root / "ByTag/Rain"}) {
        std::vector<std::string> listed;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            listed.push_back(entry.path().filename().string());
        }
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, names) << folder;
        EXPECT_EQ(testing_support::ReadFile(folder / "s7_file_149_of_a_folder_of_thousands.ogg"),
                  "s7_file_149_of_a_folder_of_thousands")
            << folder;
        EXPECT_EQ(testing_support::ReadFile(folder / "shared.ogg"), "from 19") << folder;
        for (const char* absent : {"s7_file_150_of_a_folder_of_thousands.ogg",
                                   "S7_file_149_of_a_folder_of_thousands.ogg",
                                   "s7_file_149_of_a_folder_of_thousands", "shared"}) {
            struct stat info {};
            EXPECT_EQ(::stat((folder / absent).c_str(), &info), -1) << folder / absent;
            EXPECT_EQ(errno, ENOENT) << folder / absent;
        }
    }
}

// Running out of memory while the tree is built ends the run as anywhere else: error 203, nothing
// mounted. 20,000 sounds share a record of 255 files, whose names alone would take a gigabyte.
TEST(Mount, RunningOutOfMemoryEndsTheRunWithRuntimeError203) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "the Windows build does not mount";
    }
    if (testing_support::UnderMemoryHungrySanitizer) {
        GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
    }
    csc::TSM_SoundInfo record;
    for (int i = 0; i < 255; ++i) {
        csc::SM_SoundFileInfo file;
        file.Name = std::string(200, 'n') + std::to_string(i);
        file.DataLocation = 3u << 29;
        file.OggSize = 1;
        record.Files.push_back(file);
    }
    record.FileCount = 255;
    csc::IndexTables tables;
    for (int i = 0; i < 20000; ++i) {
        tables.MissionSounds.push_back(
            csc::TSM_MissionSound{std::string("M").append(std::to_string(i)), 0});
    }
    std::size_t front = builder::EncodeIndexFront(tables).size();
    for (csc::TSM_MissionSound& sound : tables.MissionSounds) {
        sound.InfoLocation = 2u << 29 | static_cast<std::uint32_t>(front);
    }
    builder::ArchiveSet set;
    set.Archives[2] = builder::EncodeIndexFront(tables) + builder::EncodeSoundInfo(record);
    set.Archives[3] = "X";
    TempFolder archives;
    builder::WriteArchiveSet(set, archives.Path());
    TempFolder point;
    auto run = RunTool(archives.Path(), {"--mount", point.Path().string(), "-q"},
                       {.AddressSpace = 256ull << 20});
    EXPECT_EQ(run.ExitCode, 203) << run.Errors;
    EXPECT_NE(run.Errors.find("Runtime error 203"), std::string::npos) << run.Errors;
    EXPECT_TRUE(fs::is_empty(point.Path()));
    Unmount(point.Path()); // should the test fail, nothing is left mounted
}

// Nothing under the mount can be changed; files and folders show the archive's time and read-only
// modes; many readers at once read the same bytes.
TEST(Mount, IsReadOnlyAndServesManyReadersAtOnce) {
    SKIP_UNLESS_MOUNTS_HERE();
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    Tree extracted = Extracted(archives.Path(), {});
    Mount mount(archives.Path());
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    fs::path root = mount.point.Path();
    fs::path file = root / "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg";

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    struct stat archive {};
    ASSERT_EQ(::stat((archives.Path() / "SchemaMetaFile_DVD1.csc").c_str(), &archive), 0);
    EXPECT_EQ(info.st_mtime, archive.st_mtime);
    ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0555u);

    EXPECT_EQ(::open(file.c_str(), O_WRONLY), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::mkdir((root / "new").c_str(), 0777), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::chmod(file.c_str(), 0666), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::rename(file.c_str(), (root / "moved").c_str()), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::unlink(file.c_str()), -1);
    EXPECT_EQ(errno, EROFS);

    std::atomic<int> differing = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 6; ++i) {
        readers.emplace_back([&] {
            for (int round = 0; round < 5; ++round) {
                if (testing_support::Tree(root).at(
                        "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg") !=
                    extracted.at(
                        "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg")) {
                    ++differing;
                }
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(differing, 0);
}

// In the foreground the mount stands until an interrupt, then it is gone and the run ends well.
TEST(Mount, AnInterruptUnmountsAndEndsTheRunWell) {
    SKIP_UNLESS_MOUNTS_HERE();
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    for (int signal : {SIGTERM, SIGINT}) {
        TempFolder point;
        fs::path shown = point.Path() / "ByTag";
        auto run = RunTool(archives.Path(), {"--mount", point.Path().string()}, {},
                           {.Signal = signal, .After = std::chrono::milliseconds(50), .Once = [&] {
                                return fs::exists(shown);
                            }});
        EXPECT_EQ(run.ExitCode, 0) << run.Errors;
        EXPECT_NE(run.Errors.find("Mounted at " + point.Path().string()), std::string::npos)
            << run.Errors;
        EXPECT_TRUE(fs::is_empty(point.Path())) << "unmounted";
        Unmount(point.Path()); // should the test fail, nothing is left mounted
    }
}

// What cannot be mounted is one line and exit 2, before any archive is read.
TEST(Mount, RefusesWhatCannotBeMounted) {
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    if (testing_support::UnderLauncher()) {
        auto run = RunTool(archives.Path(), {"--mount", "Z:\\tmp"});
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Errors, "cscunpack: --mount is not available on Windows" + expected::LineEnd);
        return;
    }
    TempFolder point;
    testing_support::WriteFile(point.Path() / "something", "in the way");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--mount", point.Path().string()},
         "cscunpack: cannot mount at " + point.Path().string() + " (not an empty folder)"},
        {{"--mount", (point.Path() / "missing").string()},
         "cscunpack: cannot mount at " + (point.Path() / "missing").string() +
             " (No such file or directory)"},
        {{"--mount", point.Path().string(), "-d", "out"},
         "cscunpack: --mount shows the tree in place: it takes no --output-dir, --keep-existing or "
         "--threads"},
        {{"--background"}, "cscunpack: --background goes with --mount"},
    };
    for (const auto& [arguments, error] : cases) {
        auto run = RunTool(archives.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(expected::Lines(run.Errors).at(0), error);
    }
}

// On a machine without libfuse every other job runs as before, and the mount says what to install.
TEST(Mount, WithoutLibfuseEveryOtherJobRunsAndTheMountSaysWhatToInstall) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "the Windows build does not mount";
    }
    void* library = ::dlopen("libfuse3.so.3", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << "libfuse 3 is installed where the tests run";
    link_map* loaded = nullptr;
    ASSERT_EQ(::dlinfo(library, RTLD_DI_LINKMAP, &loaded), 0);
    std::string path = loaded->l_name;
    ::dlclose(library);
    if (::geteuid() != 0) {
        if (std::getenv("CSCUNPACK_REQUIRE_MOUNT") != nullptr) {
            ADD_FAILURE() << "hiding libfuse takes root, and CSCUNPACK_REQUIRE_MOUNT is set";
        }
        GTEST_SKIP() << "hiding libfuse from a run takes root";
    }
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    testing_support::Limits withoutFuse{.Hidden = {path}};
    auto listed = RunTool(archives.Path(), {"-l", "-q"}, withoutFuse);
    EXPECT_EQ(listed.ExitCode, 0) << listed.Errors;
    EXPECT_EQ(expected::Lines(listed.Output).size(), 13u) << listed.Output;
    auto extracted = RunTool(archives.Path(), {"-q", "-d", "out"}, withoutFuse);
    EXPECT_EQ(extracted.ExitCode, 0) << extracted.Errors;

    TempFolder point;
    auto mount = RunTool(archives.Path(), {"--mount", point.Path().string()}, withoutFuse);
    EXPECT_EQ(mount.ExitCode, 2);
    EXPECT_EQ(mount.Errors, "cscunpack: --mount needs libfuse 3, which this system lacks: install "
                            "the fuse3 package (apt install fuse3)\n");
}
