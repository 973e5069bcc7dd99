#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

using builder::Bytes;
using builder::File;
using builder::Location;
using testing_support::RunTool;
using testing_support::TempFolder;

namespace {

const std::string IndexName = "SchemaMetafile_HardDrive.csc";

struct Outcome {
    testing_support::ToolRun Run;
    std::uint64_t DiskBytes = 0;
};

// Runs the tool in a folder of its own inside an otherwise empty one, and checks what every run on
// damaged archives must keep to: it ends by itself, quickly, with exit code 0 or 1, writes nothing
// beside or above the archive folders, and takes little disk.
Outcome RunContained(const builder::ArchiveSet& set, const std::vector<std::string>& arguments) {
    TempFolder outer;
    std::filesystem::path folder = outer.Path() / "archives";
    builder::WriteArchiveSet(set, folder);
    auto start = std::chrono::steady_clock::now();
    bool limitable =
        !testing_support::UnderLauncher() && !testing_support::UnderMemoryHungrySanitizer;
    Outcome outcome;
    outcome.Run =
        testing_support::RunTool(folder, arguments, {.AddressSpace = limitable ? 1ull << 30 : 0});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(outcome.Run.ExitCode == 0 || outcome.Run.ExitCode == 1) << outcome.Run.ExitCode;
    EXPECT_EQ(outcome.Run.Errors, "");

    for (const auto& entry : std::filesystem::directory_iterator(outer.Path())) {
        EXPECT_EQ(entry.path(), folder) << "written beside the archive folder";
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        bool archive = entry.is_regular_file() && name.ends_with(".csc");
        EXPECT_TRUE(archive || (name.starts_with("__") && entry.is_directory())) << name;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            entry.path().parent_path() != folder) {
            outcome.DiskBytes += static_cast<std::uint64_t>(info.st_blocks) * 512;
        }
    }
    EXPECT_LT(outcome.DiskBytes, 64u << 20);
    return outcome;
}

void ExpectIndexWarning(const Outcome& outcome) {
    EXPECT_EQ(outcome.Run.ExitCode, 1);
    std::size_t warning = outcome.Run.Output.find("Warning: " + IndexName + " ended before ");
    ASSERT_NE(warning, std::string::npos) << outcome.Run.Output;
    EXPECT_NE(outcome.Run.Output.find(" complete; missing bytes were taken as zeros\r\n", warning),
              std::string::npos);
}

// Offsets into the sample's index, found by encoding its pieces again.
std::size_t TaggedCountOffset(const builder::ArchiveSetBuilder& set) {
    builder::Bytes front = *set.Build().Archives[2];
    std::size_t offset = 14;
    for (int tag = 0; tag < 3; ++tag) {
        std::uint32_t nameLength = builder::Bytes(front.data() + offset, 4)[0];
        std::size_t subTags = static_cast<unsigned char>(front[offset + 4 + nameLength + 1]);
        offset += 4 + nameLength + 2;
        for (std::size_t s = 0; s < subTags; ++s) {
            offset += 4 + static_cast<unsigned char>(front[offset]);
        }
    }
    return offset;
}

} // namespace

TEST(Damaged, TruncatedIndexesEndInWarningsNotInCrashes) {
    builder::ArchiveSetBuilder sample = builder::SampleSet();
    builder::ArchiveSet whole = sample.Build();
    const Bytes& index = *whole.Archives[2];
    std::size_t taggedCount = TaggedCountOffset(sample);
    ASSERT_EQ(static_cast<unsigned char>(index[taggedCount]), 6u);
    struct Cut {
        const char* where;
        std::size_t length;
    };
    const Cut cuts[] = {{"inside the tag count", 13},
                        {"inside a tag name", 20},
                        {"inside the tagged count", taggedCount + 1},
                        {"inside a record", index.find("\xA0\xA1\xA2") + 50},
                        {"inside the stored bytes", index.size() - 100}};
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.where);
        builder::ArchiveSet set = whole;
        set.Archives[2]->resize(cut.length);
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{}, {"-RAWExtract"}}) {
            ExpectIndexWarning(RunContained(set, arguments));
        }
    }
}

TEST(Damaged, LyingLengthsCountsAndSizesCostNeitherMemoryNorDisk) {
    // A mission name length of 0xFFFFFFF0 swallows the rest of the index.
    builder::ArchiveSetBuilder names;
    names.AddMissionSound("MMMM", {{File("a", 3, "A")}});
    builder::ArchiveSet lyingName = names.Build();
    std::size_t nameAt = lyingName.Archives[2]->find("\x04\0\0\0MMMM", 0, 8);
    lyingName.Archives[2]->replace(nameAt, 4, "\xF0\xFF\xFF\xFF");
    ExpectIndexWarning(RunContained(lyingName, {}));

    // A record that announces 255 files where the index ends.
    builder::ArchiveSetBuilder counts;
    counts.AddTaggedSound({}, {{File("a", 3, "A")}});
    builder::ArchiveSet lyingCount = counts.Build();
    std::size_t countAt = lyingCount.Archives[2]->find("\xA0\xA1\xA2") + 45;
    (*lyingCount.Archives[2])[countAt] = '\xFF';
    lyingCount.Archives[2]->resize(countAt + 30);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"-RAWExtract"}}) {
        ExpectIndexWarning(RunContained(lyingCount, arguments));
    }

    // Sizes of 4 GiB on files of a few bytes, and a location far beyond the end of its archive.
    builder::ArchiveSetBuilder sizes;
    builder::StoredFile huge = File("huge", 3, "HUGE");
    huge.OggSize = 0xFFFFFFFF;
    builder::StoredFile hugeWav = File("hugewav", 4, "WAV");
    hugeWav.WavSize = 0xFFFFFFFE;
    hugeWav.Wav = true;
    builder::StoredFile far = File("far", 3, "FAR");
    far.DataLocation = Location(3, 0x1FFFFFFF);
    sizes.AddTaggedSound({}, {{huge, hugeWav, far}});
    Outcome outcome = RunContained(sizes.Build(), {});
    EXPECT_EQ(outcome.Run.ExitCode, 1);
    EXPECT_TRUE(outcome.Run.Output.ends_with(
        "Warning: 3 output files were completed with zeros, the first: " +
        expected::Shown("__SchemaMetaFile_DVD1.csc/TaggedSounds/UnkTag/huge.ogg") +
        "\r\n"
        "Warning: SchemaMetaFile_DVD1.csc ended before 2 reads were "
        "complete; missing bytes were taken as zeros\r\n"
        "Warning: SchemaMetaFile_DVD2.csc ended before 1 read was "
        "complete; missing bytes were taken as zeros\r\n"))
        << outcome.Run.Output;

    builder::ArchiveSetBuilder one;
    one.AddTaggedSound({}, {{huge}});
    Outcome single = RunContained(one.Build(), {});
    EXPECT_NE(
        single.Run.Output.find("Warning: 1 output file was completed with zeros, the first: "),
        std::string::npos)
        << single.Run.Output;
}

TEST(Damaged, LocationWordsBeyondTheEndReadEmptyRecords) {
    builder::ArchiveSetBuilder set;
    set.AddTaggedSound({}, {{File("kept", 3, "K")}});
    set.AddMissionSound("Lost", {{File("never", 3, "N")}});
    builder::ArchiveSet archives = set.Build();
    Bytes& index = *archives.Archives[2];
    // The mission's InfoLocation is the last four bytes before the records.
    std::size_t recordStart = index.find("\xA0\xA1\xA2");
    index.replace(recordStart - 4, 4, "\xFF\xFF\xFF\x5F"); // slot 2, offset 0x1FFFFFFF
    Outcome outcome = RunContained(archives, {});
    ExpectIndexWarning(outcome);
    EXPECT_NE(outcome.Run.Output.find(expected::MissionItem(1, 1, "Lost")), std::string::npos);
}

TEST(Damaged, NamesOfAMebibyteCostLittleTimeAndMemory) {
    std::string levels;
    for (int i = 0; i < (1 << 19); ++i) {
        levels += "a/";
    }
    const struct Case {
        std::string name;
        int exitCode;
        const char* why;
    } cases[] = {
        {std::string(1 << 20, '/'), 0, "empty folder names name the folder they stand in"},
        {levels, 1, "the path is too long for any file system"},
    };
    for (const Case& c : cases) {
        builder::ArchiveSetBuilder set;
        set.AddMissionSound(c.name, {{File("f", 3, "F")}});
        Outcome outcome = RunContained(set.Build(), {});
        EXPECT_EQ(outcome.Run.ExitCode, c.exitCode) << c.why;
        if (!testing_support::UnderLauncher() && !testing_support::UnderMemoryHungrySanitizer) {
            EXPECT_LT(outcome.Run.PeakResidentKiB, 64 << 10);
        }
    }
}

namespace {

// Each line of text (in either form's line ends) that starts with start and ends with end.
std::vector<std::string> LinesLike(const std::string& text, const std::string& start,
                                   const std::string& end) {
    std::vector<std::string> found;
    for (std::string line : expected::Lines(text)) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        if (line.starts_with(start) && line.ends_with(end)) {
            found.push_back(line);
        }
    }
    return found;
}

} // namespace

// A disk that fails to read (a disc with a scratch) is not an archive that ends early: every job
// names the read that failed, with the system's reason, and ends with exit code 1. An extraction
// completes such a file with zeros where nothing stood and leaves what stood as it was; --test
// finds it damaged; -p goes on with zeros, so that every file keeps its size; the index's own
// reads are told, and tables that cannot be read at all end the run with exit code 2.
TEST(Damaged, AReadThatTheSystemFailsIsToldInEveryJob) {
    if (testing_support::UnderLauncher()) {
        GTEST_SKIP() << "the failing disk is a library loaded into a POSIX process";
    }
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    const std::string dvd1 = "SchemaMetaFile_DVD1.csc";
    const std::string failed = "could not read " + dvd1 + " at offset ";
    testing_support::Limits failing{.Environment = testing_support::FaultyReads(dvd1, 0)};
    const std::string reason = " (Input/output error); ";

    auto extract = RunTool(folder.Path(), {"-q", "-d", "out"}, failing);
    EXPECT_EQ(extract.ExitCode, 1) << extract.Errors;
    EXPECT_EQ(
        LinesLike(extract.Errors, "cscunpack: warning: " + failed, " was completed with zeros")
            .size(),
        5u)
        << extract.Errors;
    std::map<std::string, std::string> tree = testing_support::Tree(folder.Path() / "out");
    std::string wind = "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg";
    ASSERT_TRUE(tree.contains(wind));
    EXPECT_EQ(tree[wind], std::string(tree[wind].size(), '\0'));
    EXPECT_GT(tree[wind].size(), 0u);
    // A file that stood is worth more than zeros.
    testing_support::WriteFile(folder.Path() / "out" / wind, "before");
    auto again = RunTool(folder.Path(), {"-q", "-d", "out"}, failing);
    EXPECT_EQ(again.ExitCode, 1);
    EXPECT_EQ(
        LinesLike(again.Errors, "cscunpack: warning: " + failed, " was left as it stood").size(),
        5u)
        << again.Errors;
    EXPECT_EQ(testing_support::ReadFile(folder.Path() / "out" / wind), "before");

    auto classic = RunTool(folder.Path(), {}, failing);
    EXPECT_EQ(classic.ExitCode, 1);
    EXPECT_EQ(LinesLike(classic.Output, "Warning: " + failed,
                        " and 4 other files could not be read in full")
                  .size(),
              1u)
        << classic.Output;

    auto test = RunTool(folder.Path(), {"-t", "-q"}, failing);
    EXPECT_EQ(test.ExitCode, 1);
    EXPECT_EQ(LinesLike(test.Output, "__SchemaMetaFile_DVD1.csc", " (Input/output error)").size(),
              5u)
        << test.Output;
    EXPECT_EQ(expected::Lines(test.Output).back(), "12 files checked, 5 damaged");

    auto stream = RunTool(folder.Path(), {"-p", "-q"}, failing);
    EXPECT_EQ(stream.ExitCode, 1);
    EXPECT_EQ(stream.Output.size(), 40816u) << "every file keeps its size";
    EXPECT_EQ(LinesLike(stream.Errors, "cscunpack: warning: " + failed, " went on as zeros").size(),
              5u)
        << stream.Errors;

    auto details = RunTool(folder.Path(), {"-l", "--details", "-q"}, failing);
    EXPECT_EQ(details.ExitCode, 1);
    EXPECT_EQ(LinesLike(details.Errors, "cscunpack: warning: " + failed, "'s details are not told")
                  .size(),
              5u)
        << details.Errors;

    auto unreadable = RunTool(folder.Path(), {"-l", "-q"},
                              {.Environment = testing_support::FaultyReads(IndexName, 0)});
    EXPECT_EQ(unreadable.ExitCode, 2);
    EXPECT_EQ(unreadable.Errors, "cscunpack: " + IndexName +
                                     " cannot be read (Input/output error)" + expected::LineEnd);
    // Past its tables, the index's records are read with zeros where its bytes failed.
    std::uint64_t records = builder::EncodeIndexFront(csc::IndexTables{}).size() + 200;
    auto records_ = RunTool(folder.Path(), {"-l", "-q"},
                            {.Environment = testing_support::FaultyReads(IndexName, records)});
    EXPECT_EQ(records_.ExitCode, 1);
    EXPECT_EQ(LinesLike(records_.Errors, "cscunpack: warning: could not read " + IndexName,
                        "of its records took zeros in place of its bytes")
                  .size(),
              1u)
        << records_.Errors;
}
