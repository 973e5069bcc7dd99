// The mount: the tree an extraction writes, read-only, and every tag of every tagged sound.

#include "archive_builder.h"
#include "differential_sets.h"
#include "expected.h"
#include "json_lines.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <link.h>
#include <sstream>
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

// Whether something is mounted at point, as the kernel lists its mounts.
bool MountedAt(const fs::path& point) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int k = 0; k < 5 && fields >> field; ++k) {
        }
        if (field == point.string()) {
            return true;
        }
    }
    return false;
}

// The process that serves a mount detached from the run whose archives lie in archives: it holds
// them open.
pid_t DetachedFrom(const fs::path& archives) {
    for (const fs::directory_entry& process : fs::directory_iterator("/proc")) {
        std::error_code ignored;
        for (const fs::directory_entry& open :
             fs::directory_iterator(process.path() / "fd", ignored)) {
            if (fs::read_symlink(open.path(), ignored).string().starts_with(archives.string())) {
                return static_cast<pid_t>(std::stoi(process.path().filename().string()));
            }
        }
    }
    return -1;
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

    Mount(const fs::path& archives, std::vector<std::string> more = {},
          testing_support::Limits limits = {}) {
        std::vector<std::string> arguments = {"--mount", point.Path().string(), "--background",
                                              "-q"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        run = RunTool(archives, arguments, limits);
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

// ByTag/ as the listing and the extraction tell it: each file the tree holds below
// <archive folder>/TaggedSounds/, from the last sound that the listing names for its path, under
// each tag of that sound, with the folders on the way.
Tree ExpectedByTag(const fs::path& archives, std::vector<std::string> more, const Tree& tree) {
    std::vector<std::string> arguments = {"-l", "--json", "-q"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    std::map<std::string, std::optional<std::vector<std::string>>> lastTags;
    for (testing_support::ListedFile& file :
         testing_support::ListedFiles(RunTool(archives, arguments).Output)) {
        lastTags[file.Path] = std::move(file.Tags);
    }
    Tree byTag;
    for (const auto& [path, tags] : lastTags) {
        std::size_t tagged = path.find("/TaggedSounds/");
        if (!tags || !tree.contains(path) || tagged == std::string::npos) {
            continue;
        }
        for (const std::string& tag : *tags) {
            std::string shown = "ByTag/" + tag + "/" + path.substr(0, tagged) +
                                path.substr(tagged + std::string("/TaggedSounds").size());
            byTag[shown] = tree.at(path);
            for (std::size_t slash = shown.find('/'); slash != std::string::npos;
                 slash = shown.find('/', slash + 1)) {
                byTag[shown.substr(0, slash + 1)] = "";
            }
        }
    }
    return byTag;
}

Tree ByTagOf(const Tree& mounted) {
    Tree byTag;
    for (const auto& [path, bytes] : mounted) {
        if (path.starts_with("ByTag/")) {
            byTag[path] = bytes;
        }
    }
    return byTag;
}

} // namespace

// For every set that puts the order of writing to the test, the mount shows what an extraction
// with the same options writes into an empty folder: paths, sizes, bytes and zero tails; and
// ByTag/ shows each tag's part of it.
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
            Tree byTag = ExpectedByTag(archives.Path(), options, extracted);
            byTag["ByTag/"] = "";
            EXPECT_EQ(ByTagOf(testing_support::Tree(mount.point.Path())), byTag) << name;
        }
    }
}

// ByTag/<tag>/ holds the part of the tree that the sounds carrying the tag wrote, at its own paths
// less "TaggedSounds": no file of a tagged sound is hidden there, not the file of a name that a
// sound of the same tag stores in another archive, nor one that a sound of another tag gives its
// file. --list --json names every tag.
TEST(Mount, ByTagHidesNoFileOfATaggedSound) {
    SKIP_UNLESS_MOUNTS_HERE();
    builder::ArchiveSetBuilder set;
    std::uint8_t ambience = set.AddTag("TAmbience", {"rain"});
    std::uint8_t weather = set.AddTag("TWeather");
    set.AddTaggedSound({TagRef(ambience, csc::NoSubTag)}, {{File("x", 3, "DVD1")}});
    set.AddTaggedSound({TagRef(ambience, csc::NoSubTag)}, {{File("x", 4, "DVD2")}});
    set.AddTaggedSound({TagRef(weather, csc::NoSubTag), TagRef(ambience, 0)},
                       {{File("x", 3, "WEATHER")}});
    set.AddMissionSound("M1", {{File("talk", 3, "TALK")}});
    TempFolder archives;
    builder::WriteArchiveSet(set.Build(), archives.Path());

    Mount mount(archives.Path());
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    EXPECT_EQ(ByTagOf(testing_support::Tree(mount.point.Path())),
              (Tree{{"ByTag/", ""},
                    {"ByTag/Ambience/", ""},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD1.csc/", ""},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD1.csc/Ambience/", ""},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD1.csc/Ambience/x.ogg", "DVD1"},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD2.csc/", ""},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD2.csc/Ambience/", ""},
                    {"ByTag/Ambience/__SchemaMetaFile_DVD2.csc/Ambience/x.ogg", "DVD2"},
                    {"ByTag/Ambience.rain/", ""},
                    {"ByTag/Ambience.rain/__SchemaMetaFile_DVD1.csc/", ""},
                    {"ByTag/Ambience.rain/__SchemaMetaFile_DVD1.csc/Weather/", ""},
                    {"ByTag/Ambience.rain/__SchemaMetaFile_DVD1.csc/Weather/x.ogg", "WEATHER"},
                    {"ByTag/Weather/", ""},
                    {"ByTag/Weather/__SchemaMetaFile_DVD1.csc/", ""},
                    {"ByTag/Weather/__SchemaMetaFile_DVD1.csc/Weather/", ""},
                    {"ByTag/Weather/__SchemaMetaFile_DVD1.csc/Weather/x.ogg", "WEATHER"}}));

    auto listed = RunTool(archives.Path(), {"-l", "--json", "-q"});
    std::vector<std::string> lines = expected::Lines(listed.Output);
    ASSERT_EQ(lines.size(), 4u) << listed.Output;
    EXPECT_NE(lines[2].find(", \"tags\": [\"Weather\", \"Ambience.rain\"], \"mission\": null"),
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
    for (const fs::path& folder :
         {ranFolder, root / "ByTag/Weather/__SchemaMetaFile_DVD1.csc/Weather",
          root / "ByTag/Rain/__SchemaMetaFile_DVD1.csc/Weather"}) {
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

// Nothing under the mount can be changed; files show the time of the archive that stores them
// and folders that of the index archive, to the nanosecond, with read-only modes; many readers at
// once read the same bytes.
TEST(Mount, IsReadOnlyAndServesManyReadersAtOnce) {
    SKIP_UNLESS_MOUNTS_HERE();
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    auto timeOf = [&](const char* archive, long seconds, long nanoseconds) {
        timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (archives.Path() / archive).c_str(), times, 0), 0);
    };
    timeOf("SchemaMetafile_HardDrive.csc", 1'000'000'000, 111);
    timeOf("SchemaMetaFile_DVD1.csc", 1'200'000'000, 222'333'444);
    timeOf("SchemaMetaFile_DVD2.csc", 1'300'000'000, 0);
    Tree extracted = Extracted(archives.Path(), {});
    Mount mount(archives.Path());
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    fs::path root = mount.point.Path();
    fs::path file = root / "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg";

    const std::tuple<fs::path, unsigned, long, long> shown[] = {
        {file, 0444u, 1'200'000'000, 222'333'444},
        {root / "ByTag/Ambience.wind/__SchemaMetaFile_DVD1.csc/Ambience.wind/wind_loop.ogg", 0444u,
         1'200'000'000, 222'333'444},
        {root / "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav", 0444u, 1'300'000'000,
         0},
        {file.parent_path(), 0555u, 1'000'000'000, 111},
        {root / "ByTag/Ambience.wind/__SchemaMetaFile_DVD1.csc", 0555u, 1'000'000'000, 111},
        {root, 0555u, 1'000'000'000, 111},
    };
    for (const auto& [path, mode, seconds, nanoseconds] : shown) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 07777, mode) << path;
        EXPECT_EQ(info.st_mtim.tv_sec, seconds) << path;
        EXPECT_EQ(info.st_mtim.tv_nsec, nanoseconds) << path;
    }

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

// A file whose archive the system fails to read answers with the system's error, never with zeros
// in place of its bytes.
TEST(Mount, AReadThatTheSystemFailsIsAnError) {
    SKIP_UNLESS_MOUNTS_HERE();
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    Mount mount(archives.Path(), {},
                {.Environment = testing_support::FaultyReads("SchemaMetaFile_DVD1.csc", 0)});
    ASSERT_EQ(mount.run.ExitCode, 0) << mount.run.Errors;
    fs::path root = mount.point.Path();
    int failing = ::open(
        (root / "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg").c_str(),
        O_RDONLY);
    ASSERT_GE(failing, 0);
    char bytes[16];
    EXPECT_EQ(::read(failing, bytes, sizeof bytes), -1);
    EXPECT_EQ(errno, EIO);
    ::close(failing);
    EXPECT_GT(testing_support::ReadFile(root /
                                        "__SchemaMetaFile_DVD2.csc/TaggedSounds/Ambience/birds.wav")
                  .size(),
              0u)
        << "another archive reads as it is";
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
        EXPECT_TRUE(run.Errors.ends_with("\nUnmounted " + point.Path().string() + "\n"))
            << run.Errors;
        EXPECT_TRUE(fs::is_empty(point.Path())) << "unmounted";
        Unmount(point.Path()); // should the test fail, nothing is left mounted
    }
}

// A mount that detaches is made, and unmounted, at the folder the user named, reached from wherever
// the run started, relative or through a link; the process the user started ends as the run
// does (1 with warnings), and a mount whose messages could not be written does not stay (3).
TEST(Mount, ADetachedMountEndsAsTheRunDoesAndUnmountsWhatItMounted) {
    SKIP_UNLESS_MOUNTS_HERE();
    TempFolder archives;
    builder::WriteArchiveSet(builder::SampleSet().Build(), archives.Path());
    fs::create_directory(archives.Path() / "data");
    fs::create_directory(archives.Path() / "real");
    fs::create_directory_symlink("real", archives.Path() / "lnk");
    fs::path data = fs::canonical(archives.Path() / "data");
    fs::path real = fs::canonical(archives.Path() / "real");
    struct Case {
        std::vector<std::string> Arguments;
        int ExitCode;
        fs::path Stands; // empty: nothing stays mounted
        std::optional<std::string> ErrorsTo;
    };
    const Case cases[] = {
        {{"--mount", "data", "--background", "-q"}, 0, data, std::nullopt},
        {{"--mount", "data", "--background", "-q", "-i", "nomatch"}, 1, data, std::nullopt},
        {{"--mount", "lnk", "--background"}, 0, real, std::nullopt},
        {{"--mount", "data", "--background"}, 3, {}, "/dev/full"},
        {{"--mount", "data", "--background", "-i", "nomatch"}, 3, {}, "/dev/full"},
    };
    for (const Case& c : cases) {
        std::string name = ::testing::PrintToString(c.Arguments);
        auto run = RunTool(archives.Path(), c.Arguments, {}, {}, std::nullopt, c.ErrorsTo);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << name << run.Errors;
        EXPECT_EQ(MountedAt(data) || MountedAt(real), !c.Stands.empty()) << name;
        if (c.Arguments[1] == "lnk") {
            EXPECT_NE(run.Errors.find("Mounted at lnk; unmount with: fusermount3 -u " +
                                      real.string() + "\n"),
                      std::string::npos)
                << run.Errors;
        }
        if (c.Stands.empty()) {
            EXPECT_EQ(DetachedFrom(archives.Path()), -1) << name;
            continue;
        }
        // Ended by a signal, it unmounts what it mounted, not what the path names from "/".
        pid_t served = DetachedFrom(archives.Path());
        ASSERT_GT(served, 0) << name;
        ::kill(served, SIGTERM);
        // It has ended once it holds the archives no more, so that the next case finds its own.
        for (int wait = 0; wait < 1000 && DetachedFrom(archives.Path()) == served; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_FALSE(MountedAt(c.Stands)) << name;
        Unmount(c.Stands); // should the test fail, nothing is left mounted
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
         "cscunpack: --output-dir goes with an extraction, not with --mount"},
        {{"--background"}, "cscunpack: --background goes with --mount, not with an extraction"},
    };
    for (const auto& [arguments, error] : cases) {
        auto run = RunTool(archives.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(expected::Lines(run.Errors).at(0), error);
    }
    if (!MountsHere()) {
        return;
    }
    // A mount whose process was killed is still there: the line says how to clear it.
    TempFolder stale;
    auto killed =
        RunTool(archives.Path(), {"--mount", stale.Path().string()}, {},
                {.Signal = SIGKILL, .Once = [&] { return fs::exists(stale.Path() / "ByTag"); }});
    auto again = RunTool(archives.Path(), {"--mount", stale.Path().string()});
    EXPECT_EQ(again.ExitCode, 2);
    EXPECT_EQ(again.Errors, "cscunpack: cannot mount at " + stale.Path().string() +
                                " (Transport endpoint is not connected: a mount left by a run "
                                "that was killed stands there; clear it with fusermount3 -u " +
                                stale.Path().string() + ")\n");
    Unmount(stale.Path());
    // A device that this user cannot open is found before the archives are searched.
    struct stat device {};
    if (::geteuid() == 0 && ::stat("/dev/fuse", &device) == 0 && (device.st_mode & 06) != 06) {
        TempFolder point;
        auto run = RunTool(archives.Path(), {"--mount", point.Path().string()}, {.AsNobody = true});
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_EQ(run.Errors, "cscunpack: cannot mount at " + point.Path().string() +
                                  " (/dev/fuse cannot be opened: Permission denied)\n");
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
