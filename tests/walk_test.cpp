// The walk of the index with the extract job: which entries become which files, where, and with
// what bytes.

#include "archive_builder.h"
#include "jobs/extraction.h"
#include "run/status.h"
#include "run/walk.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sys/stat.h>

using builder::Location;
using Tree = std::map<std::string, std::string>;

namespace {

// Archives in memory for slots 0 to 2 (slot 3 left closed), extracting into a scratch folder with
// the reading thread writing every file. The index archive (slot 2) begins with bytes of its own;
// each record walked is put behind them.
struct Scene {
    testing_support::TempFolder folder;
    testing_support::InFolder inside{folder.Path()};
    std::array<std::string, 8> bytes;
    csc::Index index;
    console::Console nowhere = console::OpenChannel(testing_support::CreateForWriting("/dev/null"));
    run::Status status{nowhere, nowhere};
    run::WalkSettings settings;
    run::WalkCounts counts;
    std::optional<extract::NativeDisk> disk;
    std::optional<jobs::Extraction> extraction;

    explicit Scene(bool raw = false) {
        status.Configure({.Quiet = true});
        bytes[0] = "0123456789ABCDEFGHIJ";
        bytes[1] = "abcdefghijklmnopqrst";
        bytes[2] = "index-bytes";
        for (std::size_t slot = 0; slot < 3; ++slot) {
            Open(slot);
        }
        settings.Raw = raw;
        disk.emplace(testing_support::OutputRootAt(""));
        extraction.emplace(*disk, index.Tables, extract::TreeSettings{.Writers = 0});
    }
    ~Scene() { platform::Close(nowhere.Out); }
    void Open(std::size_t slot) {
        index.Archives[slot] = csc::MemoryArchive(
            reinterpret_cast<const std::uint8_t*>(bytes[slot].data()), bytes[slot].size());
    }
    // Walks the record as the one sound of the mission of that name, whose folder its files go
    // to; in the RAW mode, as the last of number + 1 records, the others empty.
    void Extract(const csc::TSM_SoundInfo& record, const std::string& mission,
                 std::int32_t number = 0) {
        std::size_t start = bytes[2].size();
        for (std::int32_t before = 0; settings.Raw && before < number; ++before) {
            bytes[2] += builder::EncodeSoundInfo(csc::TSM_SoundInfo{});
        }
        bytes[2] += builder::EncodeSoundInfo(record);
        Open(2);
        index.Tables = {};
        if (settings.Raw) {
            index.Tables.MissionSounds.resize(static_cast<std::size_t>(number) + 1);
        } else {
            index.Tables.MissionSounds.push_back(
                {mission, Location(2, static_cast<std::uint32_t>(start))});
        }
        csc::SetPosition(index.Archives[2], start);
        run::Walk(index, status, settings, *extraction, counts);
    }
    Tree Written() { return testing_support::Tree(folder.Path()); }
};

csc::SM_SoundFileInfo Entry(std::string name, std::uint32_t location, std::uint32_t wavSize,
                            std::uint32_t oggSize) {
    csc::SM_SoundFileInfo file;
    file.Name = std::move(name);
    file.DataLocation = location;
    file.WavSize = wavSize;
    file.OggSize = oggSize;
    return file;
}

csc::TSM_SoundInfo Record(std::vector<csc::SM_SoundFileInfo> files) {
    csc::TSM_SoundInfo record;
    record.FileCount = static_cast<std::uint8_t>(files.size());
    record.Files = std::move(files);
    return record;
}

} // namespace

TEST(Walk, EachPresentEntryBecomesOneFileInItsArchiveFolder) {
    Scene scene;
    scene.Extract(Record({Entry("both", Location(0, 2), 5, 3), Entry("wav", Location(1, 4), 2, 0),
                          Entry("empty", Location(0, 0), 0, 0), Entry("absent", 0xFFFFFFFF, 4, 4),
                          Entry("closed", Location(3, 0), 0, 4), Entry("six", Location(6, 0), 0, 4),
                          Entry("seven", Location(7, 0), 0, 4)}),
                  "Base");
    EXPECT_EQ(scene.Written(),
              (Tree{{"__SchemaMetaFile.csc/", ""},
                    {"__SchemaMetaFile.csc/MissionSounds/", ""},
                    {"__SchemaMetaFile.csc/MissionSounds/Base/", ""},
                    {"__SchemaMetaFile.csc/MissionSounds/Base/both.ogg", "234"},
                    {"__SchemaMetaFile.csc/MissionSounds/Base/empty", ""},
                    {"__SchemaMetaFile_Memory.csc/", ""},
                    {"__SchemaMetaFile_Memory.csc/MissionSounds/", ""},
                    {"__SchemaMetaFile_Memory.csc/MissionSounds/Base/", ""},
                    {"__SchemaMetaFile_Memory.csc/MissionSounds/Base/wav.wav", "ef"}}));
    EXPECT_EQ(scene.extraction->Finish().UnwrittenFiles, 0u);

    scene.Extract(Record({}), "Other");
    EXPECT_EQ(scene.Written().size(), 9u) << "a record without entries makes nothing";
}

TEST(Walk, ALaterFileOfTheSamePathReplacesTheEarlierOne) {
    Scene scene;
    scene.Extract(
        Record({Entry("same", Location(0, 0), 0, 8), Entry("same", Location(0, 10), 0, 2)}), "B");
    EXPECT_EQ(scene.Written()["__SchemaMetaFile.csc/MissionSounds/B/same.ogg"], "AB");
}

TEST(Walk, RawNamesCarryTheNumberAndLieInTheArchiveFolder) {
    Scene scene(true);
    scene.Extract(Record({Entry("n", Location(1, 0), 3, 0), Entry("e", Location(2, 0), 0, 0)}), "",
                  12);
    EXPECT_EQ(scene.Written(), (Tree{{"__SchemaMetaFile_Memory.csc/", ""},
                                     {"__SchemaMetaFile_Memory.csc/000012_n.wav", "abc"},
                                     {"__SchemaMetafile_HardDrive.csc/", ""},
                                     {"__SchemaMetafile_HardDrive.csc/000012_e", ""}}));
}

TEST(Walk, BytesBeyondTheArchiveEndBecomeASparseZeroTailAndAreCounted) {
    Scene scene;
    std::uint32_t lyingSize = 0xFFFFFFF0; // almost 4 GiB
    scene.Extract(Record({Entry("lie", Location(0, 16), 0, lyingSize)}), "L");
    std::filesystem::path written =
        scene.folder.Path() / "__SchemaMetaFile.csc/MissionSounds/L/lie.ogg";
    ASSERT_EQ(std::filesystem::file_size(written), lyingSize);
    struct stat info {};
    ASSERT_EQ(::stat(written.c_str(), &info), 0);
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the zero tail takes no disk space";
    std::ifstream in(written, std::ios::binary);
    std::string head(8, '\xAA');
    in.read(head.data(), 8);
    EXPECT_EQ(head, std::string("GHIJ\0\0\0\0", 8));
    EXPECT_EQ(scene.index.Archives[0].ShortReads, 1u);
    scene.Extract(Record({Entry("far", Location(0, 0x1FFFFFFF), 0, 3)}), "L");
    EXPECT_EQ(testing_support::ReadFile(scene.folder.Path() /
                                        "__SchemaMetaFile.csc/MissionSounds/L/far.ogg"),
              std::string(3, '\0'));
    EXPECT_EQ(scene.index.Archives[0].ShortReads, 2u);
    extract::TreeReport report = scene.extraction->Finish();
    EXPECT_EQ(report.UnwrittenFiles, 0u);
    EXPECT_EQ(report.ZeroFilledFiles, 2u);
    EXPECT_EQ(report.FirstZeroFilled.Text, "__SchemaMetaFile.csc/MissionSounds/L/lie.ogg");
}

TEST(Walk, FilesThatCannotBeCreatedAreCountedWithTheFirstPath) {
    Scene scene;
    testing_support::WriteFile(scene.folder.Path() / "__SchemaMetaFile_Memory.csc",
                               "a file where a folder should be");
    scene.Extract(Record({Entry("x", Location(1, 0), 0, 1), Entry("y", Location(1, 0), 0, 1),
                          Entry("", Location(0, 0), 0, 0), Entry("ok", Location(0, 0), 0, 1)}),
                  "Base");
    extract::TreeReport report = scene.extraction->Finish();
    EXPECT_EQ(report.UnwrittenFiles, 3u) << "an empty name leaves only a folder path";
    EXPECT_EQ(report.FirstUnwritten.Text, "__SchemaMetaFile_Memory.csc/MissionSounds/Base/x.ogg");
    EXPECT_EQ(report.FirstUnwrittenReason, platform::NotAFolderError()) << "the folder's reason";
    EXPECT_EQ(scene.Written()["__SchemaMetaFile.csc/MissionSounds/Base/ok.ogg"], "0");
}

TEST(Walk, NamesFromTheArchiveStayInsideTheOutputFolder) {
    Scene scene;
    scene.Extract(Record({Entry("..", Location(0, 0), 0, 1),
                          Entry(std::string("z\0z", 3), Location(0, 1), 0, 1)}),
                  "..\\..");
    EXPECT_EQ(scene.Written(), (Tree{{"__SchemaMetaFile.csc/", ""},
                                     {"__SchemaMetaFile.csc/MissionSounds/", ""},
                                     {"__SchemaMetaFile.csc/MissionSounds/__/", ""},
                                     {"__SchemaMetaFile.csc/MissionSounds/__/__/", ""},
                                     {"__SchemaMetaFile.csc/MissionSounds/__/__/...ogg", "0"},
                                     {"__SchemaMetaFile.csc/MissionSounds/__/__/z_z.ogg", "1"}}));
}
