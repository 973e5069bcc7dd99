#include "archive_builder.h"
#include "csc/sound_info.h"

#include <gtest/gtest.h>

using builder::Bytes;

namespace {

csc::TSM_SoundInfo Record(std::vector<std::string> names) {
    csc::TSM_SoundInfo record;
    record.Header.fill(0x45);
    record.FileCount = static_cast<std::uint8_t>(names.size());
    for (std::string& name : names) {
        csc::SM_SoundFileInfo file;
        file.Name = std::move(name);
        file.DataLocation = 0x60000010;
        file.OggSize = 16;
        file.Extra3.assign(1, 'x');
        record.Files.push_back(file);
    }
    return record;
}

csc::Archive Over(const Bytes& bytes) {
    return csc::MemoryArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(SoundInfo, RecordSizesFollowFromTheirEntries) {
    csc::TSM_SoundInfo empty = Record({});
    csc::TSM_SoundInfo oneEmpty;
    oneEmpty.FileCount = 1;
    oneEmpty.Files.resize(1);
    csc::TSM_SoundInfo oneNamed = oneEmpty;
    oneNamed.Files[0].Name = "n";
    struct Case {
        csc::TSM_SoundInfo record;
        std::uint64_t size;
    };
    for (const Case& c : {Case{empty, 46}, Case{oneEmpty, 86}, Case{oneNamed, 87}}) {
        Bytes bytes = builder::EncodeSoundInfo(c.record) + "next";
        csc::Archive archive = Over(bytes);
        csc::TSM_SoundInfo read = Record({"stale", "stale"});
        csc::ReadSoundInfo(archive, 0, read);
        EXPECT_EQ(archive.Position, c.size);
        EXPECT_EQ(read.FileCount, c.record.FileCount);
        ASSERT_EQ(read.Files.size(), c.record.Files.size());
        if (!read.Files.empty()) {
            EXPECT_EQ(read.Files[0].Name, c.record.Files[0].Name);
            EXPECT_EQ(read.Files[0].Extra3, "");
        }
    }
}

TEST(SoundInfo, TheFourNumbersOfAnEntryAreLittleEndianInOrder) {
    Bytes bytes(45, '\0');
    bytes += Bytes("\x01"
                   "\0\0\0\0"
                   "\0\0\0\x40"
                   "\0\0\0\0"
                   "\x10\0\0\0"
                   "\0\0\0\0",
                   21) +
             Bytes(20, '\0');
    csc::Archive archive = Over(bytes);
    csc::TSM_SoundInfo record;
    csc::ReadSoundInfo(archive, 0, record);
    ASSERT_EQ(record.Files.size(), 1u);
    EXPECT_EQ(record.Files[0].DataLocation, 0x40000000u);
    EXPECT_EQ(record.Files[0].WavSize, 0u);
    EXPECT_EQ(record.Files[0].OggSize, 16u);
    EXPECT_EQ(record.Files[0].Reserved, 0u);
    EXPECT_EQ(archive.Position, bytes.size());
}

TEST(SoundInfo, ARefillLeavesNothingOfTheEarlierRecord) {
    Bytes five = builder::EncodeSoundInfo(Record({"a", "b", "c", "d", "e"}));
    Bytes three = builder::EncodeSoundInfo(Record({"x", "y", "z"}));
    Bytes one = builder::EncodeSoundInfo(Record({"only"}));
    Bytes bytes = five + three + one + three;
    csc::Archive archive = Over(bytes);
    csc::TSM_SoundInfo working;
    csc::ReadSoundInfo(archive, 0, working);
    csc::ReadSoundInfo(archive, 0, working);
    EXPECT_EQ(working.Files.size(), 3u);
    EXPECT_EQ(working.Files[2].Name, "z");
    csc::ReadSoundInfo(archive, 0, working);
    csc::ReadSoundInfo(archive, 0, working);
    EXPECT_EQ(working.Files.size(), 3u);
    EXPECT_EQ(working.Files[0].Name, "x");
    EXPECT_EQ(archive.Position, bytes.size());
}

TEST(SoundInfo, LocatedReadingIgnoresSlotBitsAndZeroReadsInPlace) {
    Bytes front(58, 'f');
    Bytes record = builder::EncodeSoundInfo(Record({"at58"}));
    Bytes bytes = front + record + builder::EncodeSoundInfo(Record({"next"}));
    csc::Archive archive = Over(bytes);
    csc::TSM_SoundInfo read;
    for (std::uint32_t location : {builder::Location(2, 58), builder::Location(5, 58), 58u}) {
        csc::ReadSoundInfo(archive, location, read);
        ASSERT_EQ(read.Files.size(), 1u);
        EXPECT_EQ(read.Files[0].Name, "at58") << std::hex << location;
    }
    csc::ReadSoundInfo(archive, 0, read);
    EXPECT_EQ(read.Files[0].Name, "next") << "location 0 reads on from where the last record ended";

    // A location word with slot bits and offset 0 is not 0: it reads from the very start.
    Bytes startsWithRecord = record;
    csc::Archive other = Over(startsWithRecord);
    csc::SetPosition(other, 20);
    csc::ReadSoundInfo(other, builder::Location(2, 0), read);
    EXPECT_EQ(read.Files[0].Name, "at58");
}

TEST(SoundInfo, ARecordCutShortIsFilledWithZerosAndCounted) {
    Bytes whole = builder::EncodeSoundInfo(Record({"abc", "def"}));
    Bytes cut = whole.substr(0, 60);
    csc::Archive archive = Over(cut);
    csc::TSM_SoundInfo read;
    csc::ReadSoundInfo(archive, 0, read);
    ASSERT_EQ(read.Files.size(), 2u);
    EXPECT_EQ(read.Files[0].Name, "abc");
    EXPECT_EQ(read.Files[1].Name, "");
    EXPECT_EQ(read.Files[1].DataLocation, 0u);
    EXPECT_EQ(archive.Position, cut.size());
    EXPECT_GT(archive.ShortReads, 0u);

    // Beyond the end: a record of no entries.
    csc::ReadSoundInfo(archive, builder::Location(2, 1000000), read);
    EXPECT_EQ(read.FileCount, 0);
    EXPECT_TRUE(read.Files.empty());
}
