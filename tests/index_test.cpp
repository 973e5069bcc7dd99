#include "archive_builder.h"
#include "csc/index.h"
#include "test_support.h"

#include <gtest/gtest.h>

using builder::Bytes;

namespace {

void ReadTables(const Bytes& bytes, csc::IndexTables& tables, csc::Archive& archive) {
    archive = csc::MemoryArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    for (csc::Table table : csc::TablesInOrder) {
        csc::ReadTable(archive, table, tables);
    }
}

const Bytes Header = "0123456789abc";

} // namespace

TEST(IndexTables, TheEmptyIndexStopsAtByte18) {
    Bytes bytes = Header + Bytes("\0\0\0\0\0", 5) + "records follow";
    csc::IndexTables tables;
    csc::Archive archive;
    ReadTables(bytes, tables, archive);
    EXPECT_EQ(archive.Position, 18u);
    EXPECT_TRUE(tables.Tags.empty());
    EXPECT_TRUE(tables.TaggedSounds.empty());
    EXPECT_TRUE(tables.MissionSounds.empty());
    EXPECT_EQ(archive.ShortReads, 0u);
}

TEST(IndexTables, RecordsAreReadFieldByFieldAsStored) {
    Bytes tag("\x03\0\0\0Amb\0\x02\x01\0\0\0a\x02\0\0\0bc", 20);
    Bytes emptyTag("\x01\0\0\0X\x07\0", 7);
    Bytes noRefs("\0\x3A\0\0\0", 5);
    Bytes twoRefs("\x02\0\xFF\0\0\0\x01\x03\0\0\0\x3A\0\0\x40", 15);
    Bytes mission("\x04\0\0\0M01a\x10\0\0\x40", 12);
    Bytes bytes = Header + "\x02" + tag + emptyTag + Bytes("\x02\0", 2) + noRefs + twoRefs +
                  Bytes("\x01\0", 2) + mission;
    csc::IndexTables tables;
    csc::Archive archive;
    ReadTables(bytes, tables, archive);
    EXPECT_EQ(archive.Position, bytes.size());
    EXPECT_EQ(archive.ShortReads, 0u);

    ASSERT_EQ(tables.Tags.size(), 2u);
    EXPECT_EQ(tables.Tags[0].Name, "Amb");
    EXPECT_EQ(tables.Tags[0].TagFlags, 0);
    EXPECT_EQ(tables.Tags[0].SubTagCount, 2);
    EXPECT_EQ(tables.Tags[0].SubTags, (std::vector<std::string>{"a", "bc"}));
    EXPECT_EQ(tables.Tags[1].TagFlags, 7);
    EXPECT_TRUE(tables.Tags[1].SubTags.empty());

    ASSERT_EQ(tables.TaggedSounds.size(), 2u);
    EXPECT_TRUE(tables.TaggedSounds[0].TagRefs.empty());
    EXPECT_EQ(tables.TaggedSounds[0].InfoLocation, 58u);
    const csc::TSM_TaggedSound& two = tables.TaggedSounds[1];
    ASSERT_EQ(two.TagRefs.size(), 2u);
    EXPECT_EQ(two.TagRefs[0].TagIndex, 0);
    EXPECT_EQ(two.TagRefs[0].SubTagIndex, 255);
    EXPECT_EQ(two.TagRefs[1].TagIndex, 1);
    EXPECT_EQ(two.TagRefs[1].SubTagIndex, 3);
    EXPECT_EQ(two.InfoLocation, 0x4000003Au);

    ASSERT_EQ(tables.MissionSounds.size(), 1u);
    EXPECT_EQ(tables.MissionSounds[0].Name, "M01a");
    EXPECT_EQ(tables.MissionSounds[0].InfoLocation, 0x40000010u);
}

TEST(IndexTables, CountsAreReadInFullUpToTheirLargest) {
    csc::IndexTables written;
    written.Tags.resize(255);
    written.Tags[254].Name = "last";
    written.Tags[254].SubTagCount = 255;
    written.Tags[254].SubTags.assign(255, "s");
    written.TaggedSounds.resize(65535);
    written.TaggedSounds[0].TagCount = 255;
    written.TaggedSounds[0].TagRefs.assign(255, builder::TagRef(254, 9));
    written.TaggedSounds[65534].InfoLocation = 77;
    written.MissionSounds.resize(65535);
    written.MissionSounds[65534].Name = "final";
    csc::IndexTables tables;
    csc::Archive archive;
    Bytes bytes = builder::EncodeIndexFront(written);
    ReadTables(bytes, tables, archive);
    EXPECT_EQ(archive.Position, bytes.size());
    EXPECT_EQ(tables.Tags.size(), 255u);
    EXPECT_EQ(tables.Tags[254].SubTags.size(), 255u);
    EXPECT_EQ(tables.TaggedSounds.size(), 65535u);
    EXPECT_EQ(tables.TaggedSounds[0].TagRefs.size(), 255u);
    EXPECT_EQ(tables.TaggedSounds[65534].InfoLocation, 77u);
    EXPECT_EQ(tables.MissionSounds.size(), 65535u);
    EXPECT_EQ(tables.MissionSounds[65534].Name, "final");
}

TEST(IndexTables, ATruncatedOrLyingIndexEndsInEmptyEntriesNotInAnAllocation) {
    // 255 tags announced, the first with a name length of almost 4 GiB, and then nothing.
    Bytes bytes = Header + "\xFF" +
                  Bytes("\xF0\xFF\xFF\xFF"
                        "ab",
                        6);
    csc::IndexTables tables;
    csc::Archive archive;
    ReadTables(bytes, tables, archive);
    ASSERT_EQ(tables.Tags.size(), 255u);
    EXPECT_EQ(tables.Tags[0].Name, "ab");
    EXPECT_EQ(tables.Tags[254].Name, "");
    EXPECT_TRUE(tables.TaggedSounds.empty());
    EXPECT_TRUE(tables.MissionSounds.empty());
    EXPECT_EQ(archive.Position, bytes.size());
    EXPECT_GT(archive.ShortReads, 255u);
}
