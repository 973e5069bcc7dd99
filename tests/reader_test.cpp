#include "archive_builder.h"
#include "csc/location.h"
#include "csc/reader.h"
#include "csc/sound_info.h"
#include "test_support.h"

#include <gtest/gtest.h>

using builder::Bytes;

namespace {

struct BytesArchive {
    Bytes bytes;
    csc::Archive archive;
    explicit BytesArchive(Bytes content) : bytes(std::move(content)) {
        archive =
            csc::MemoryArchive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

} // namespace

TEST(Reader, CscStringsKeepEveryByteAndReplaceTheDestination) {
    BytesArchive source(Bytes("\0\0\0\0"
                              "\3\0\0\0abc"
                              "\2\0\0\0A\0"
                              "\1\0\0\0z",
                              22));
    std::string text = "longer text from before";
    csc::ReadCscString(source.archive, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(source.archive.Position, 4u);
    csc::ReadCscString(source.archive, text);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(source.archive.Position, 11u);
    csc::ReadCscString(source.archive, text);
    EXPECT_EQ(text, std::string("A\0", 2)) << "a zero byte does not end the string";
    csc::ReadCscString(source.archive, text);
    EXPECT_EQ(text, "z") << "nothing of the longer string before is left";
    EXPECT_EQ(source.archive.Position, 22u);
    EXPECT_EQ(source.archive.ShortReads, 0u);
}

TEST(Reader, IntegersAreLittleEndian) {
    BytesArchive source(Bytes("\x2C\x01"
                              "\x78\x56\x34\x12"
                              "\xFF",
                              7));
    EXPECT_EQ(csc::ReadU16(source.archive), 300);
    EXPECT_EQ(csc::ReadU32(source.archive), 0x12345678u);
    EXPECT_EQ(csc::ReadU8(source.archive), 255);
    EXPECT_EQ(source.archive.Position, 7u);
}

TEST(Reader, LocationWordsSplitIntoSlotAndOffset) {
    struct Case {
        std::uint32_t word, slot, offset;
    };
    const Case cases[] = {{0x40000010, 2, 16},
                          {0xE0000000, 7, 0},
                          {0x1FFFFFFF, 0, 536870911},
                          {0xFFFFFFFF, 7, 536870911},
                          {0, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(csc::LocationSlot(c.word), c.slot) << std::hex << c.word;
        EXPECT_EQ(csc::LocationOffset(c.word), c.offset) << std::hex << c.word;
    }
}

TEST(Reader, ReadsPastTheEndGiveZerosStopAtTheEndAndAreCounted) {
    BytesArchive source(Bytes("\x01\x02\x03", 3));
    csc::ReadU8(source.archive);
    EXPECT_EQ(csc::ReadU32(source.archive), 0x0302u) << "the missing bytes read as zeros";
    EXPECT_EQ(source.archive.Position, 3u);
    EXPECT_EQ(csc::ReadU16(source.archive), 0);
    EXPECT_EQ(source.archive.ShortReads, 2u);

    csc::SetPosition(source.archive, 1000);
    EXPECT_EQ(csc::ReadU8(source.archive), 0) << "positioning beyond the end is not refused";
    EXPECT_EQ(source.archive.ShortReads, 3u);
}

TEST(Reader, AStringLengthThatLiesAllocatesOnlyWhatTheArchiveHolds) {
    BytesArchive source(Bytes("\xF0\xFF\xFF\xFF"
                              "abcdef",
                              10));
    std::string text;
    csc::ReadCscString(source.archive, text);
    EXPECT_EQ(text, "abcdef");
    EXPECT_LT(text.capacity(), 64u);
    EXPECT_EQ(source.archive.Position, 10u);
    EXPECT_EQ(source.archive.ShortReads, 1u);

    BytesArchive cutInLength(Bytes("\x05\x00", 2));
    csc::ReadCscString(cutInLength.archive, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(cutInLength.archive.ShortReads, 2u) << "the length and then the characters ran short";
}

// Records and file bytes share the index archive, and so its position: a record read at the
// current position after a file was taken from the index must start behind that file's bytes.
TEST(Reader, TheIndexPositionIsSharedWithFileReadsFromTheIndex) {
    csc::TSM_SoundInfo first, second;
    first.FileCount = 1;
    first.Files.resize(1);
    first.Files[0].Name = "one";
    second.FileCount = 2;
    second.Files.resize(2);
    second.Files[1].Name = "two";
    Bytes fileBytes(100000, 'q'); // larger than any read-ahead piece
    Bytes bytes =
        builder::EncodeSoundInfo(first) + fileBytes + builder::EncodeSoundInfo(second) + "tail";

    testing_support::TempFolder folder;
    testing_support::WriteFile(folder.Path() / "index", bytes);
    csc::Archive index = csc::OpenArchive((folder.Path() / "index").string());
    ASSERT_TRUE(csc::IsOpen(index));
    EXPECT_EQ(index.Source.Size, bytes.size());

    std::uint64_t callsBefore = testing_support::ReadCallsSoFar();
    csc::TSM_SoundInfo record;
    csc::ReadSoundInfo(index, 0, record);
    std::uint64_t fileStart = index.Position;
    EXPECT_EQ(fileStart, builder::EncodeSoundInfo(first).size());

    for (std::size_t size : {std::size_t{10}, fileBytes.size()}) {
        csc::SetPosition(index, fileStart);
        csc::Extent extent = csc::Claim(index, size);
        EXPECT_EQ(extent.Held, size);
        EXPECT_EQ(index.Position, fileStart + size);
        Bytes got(size, '\0');
        EXPECT_EQ(csc::ReadExtent(index, extent, got.data()).Bytes, size);
        EXPECT_EQ(got, fileBytes.substr(0, size));
    }
    // A file left in the archive for another thread to copy moves the position just the same.
    csc::SetPosition(index, fileStart);
    EXPECT_EQ(csc::Claim(index, fileBytes.size()).Held, fileBytes.size());
    EXPECT_EQ(index.Position, fileStart + fileBytes.size());
    csc::ReadSoundInfo(index, 0, record);
    ASSERT_EQ(record.FileCount, 2);
    EXPECT_EQ(record.Files[1].Name, "two");
    std::string tail;
    tail.resize(4);
    csc::ReadBlock(index, tail.data(), 4);
    EXPECT_EQ(tail, "tail");
    EXPECT_EQ(index.ShortReads, 0u);
    EXPECT_LT(testing_support::ReadCallsSoFar() - callsBefore, 8u)
        << "reads are served from larger pieces";
    csc::CloseArchive(index);
}

// Fields come from whichever read window holds them: read on past a window's end, after a jump
// back into the other window, and as empty strings past the archive's end, they are the bytes
// written, and only reads that run past the end are counted short.
TEST(Reader, FieldsAreTheSameFromEveryWindow) {
    Bytes bytes;
    for (std::uint32_t i = 0; i < 40000; ++i) { // 4-byte values and 5-byte strings, past 64 KiB
        bytes += Bytes(reinterpret_cast<const char*>(&i), 4);
        bytes += Bytes("\1\0\0\0", 4) + static_cast<char>('a' + i % 26);
    }
    BytesArchive source(bytes);
    csc::Archive& archive = source.archive;
    std::string text;
    for (std::uint32_t i = 0; i < 40000; ++i) {
        ASSERT_EQ(csc::ReadU32(archive), i);
        csc::ReadCscString(archive, text);
        ASSERT_EQ(text, std::string(1, static_cast<char>('a' + i % 26)));
        if (i == 30000) { // a jump back, then on from where it was
            std::uint64_t resume = archive.Position;
            csc::SetPosition(archive, 9 * 5);
            EXPECT_EQ(csc::ReadU32(archive), 5u);
            csc::SetPosition(archive, resume);
        }
    }
    EXPECT_EQ(archive.ShortReads, 0u);
    csc::SetPosition(archive, bytes.size() + 10);
    text = "stale";
    csc::ReadCscString(archive, text); // its length comes short: zeros, an empty string
    EXPECT_EQ(text, "");
    EXPECT_EQ(archive.ShortReads, 1u);
}
