#include "jobs/zip_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

std::string All(jobs::ZipStream& zip, std::size_t piece = 1000) {
    std::string out;
    std::string buffer(piece, '\0');
    while (std::size_t got = zip.Produce(reinterpret_cast<std::uint8_t*>(buffer.data()), piece)) {
        out.append(buffer, 0, got);
    }
    return out;
}

std::uint64_t At(const std::string& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int k = size - 1; k >= 0; --k) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    }
    return value;
}

// A zip of members held in a list.
jobs::ZipStream ZipOf(const std::vector<jobs::ZipMember>& members, jobs::ZipReader read) {
    return jobs::ZipStream(
        members.size(), [members](std::size_t k) { return members[k]; }, std::move(read));
}

jobs::ZipReader Letters() {
    return [](std::size_t member, std::uint64_t, std::uint8_t* into, std::size_t count) {
        std::memset(into, 'a' + static_cast<int>(member % 26), count);
        return count;
    };
}

} // namespace

// A zip is exactly as long as it said before its first byte, whatever the pieces it is taken in;
// each entry's checksum is that of its bytes; past 65,535 entries the zip64 records count them.
TEST(ZipStream, IsAsLongAsItSaysAndCountsEveryEntry) {
    for (std::size_t count : {std::size_t{0}, std::size_t{3}, std::size_t{70000}}) {
        std::vector<jobs::ZipMember> members;
        for (std::size_t k = 0; k < count; ++k) {
            members.push_back({.Name = "f/" + std::to_string(k), .Size = k % 5});
        }
        jobs::ZipStream zip = ZipOf(members, Letters());
        std::string bytes = All(zip, count == 3 ? 7 : 65536);
        ASSERT_EQ(bytes.size(), zip.Length()) << count;
        std::size_t end = bytes.size() - 22;
        ASSERT_EQ(At(bytes, end, 4), 0x06054b50u);
        bool zip64 = count >= 0xFFFF;
        EXPECT_EQ(At(bytes, end + 8, 2), zip64 ? 0xFFFFu : count);
        if (zip64) {
            std::size_t record = end - 20 - 56;
            ASSERT_EQ(At(bytes, record, 4), 0x06064b50u);
            EXPECT_EQ(At(bytes, record + 32, 8), count);
            EXPECT_EQ(At(bytes, end - 20 + 8, 8), record) << "the locator finds the record";
        }
        // Each entry of the central directory finds its local header, under its own name.
        std::size_t at = zip64 ? At(bytes, end - 20 - 56 + 48, 8) : At(bytes, end + 16, 4);
        for (std::size_t k = 0; k < count; ++k) {
            ASSERT_EQ(At(bytes, at, 4), 0x02014b50u) << k;
            std::size_t nameSize = At(bytes, at + 28, 2);
            std::size_t local = At(bytes, at + 42, 4);
            ASSERT_EQ(At(bytes, local, 4), 0x04034b50u) << k;
            EXPECT_EQ(bytes.substr(local + 30, nameSize), bytes.substr(at + 46, nameSize)) << k;
            at += 46 + nameSize + At(bytes, at + 30, 2);
        }
    }
    std::vector<jobs::ZipMember> one = {{.Name = "x", .Size = 3}};
    jobs::ZipStream zip = ZipOf(one, Letters());
    std::string bytes = All(zip);
    std::string content = "aaa";
    EXPECT_EQ(bytes.substr(30 + 1, 3), content);
    EXPECT_EQ(At(bytes, 30 + 1 + 3 + 4, 4),
              jobs::ZipCrc(reinterpret_cast<const std::uint8_t*>(content.data()), 3))
        << "the descriptor holds the bytes' checksum";
    EXPECT_EQ(jobs::ZipCrc(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
}

// A member whose bytes cannot all be read cuts the zip there: nothing follows in their place.
TEST(ZipStream, AMemberThatCannotBeReadCutsTheZip) {
    std::vector<jobs::ZipMember> members = {{.Name = "a", .Size = 10}, {.Name = "b", .Size = 10}};
    jobs::ZipStream zip =
        ZipOf(members,
              [](std::size_t member, std::uint64_t offset, std::uint8_t* into,
                 std::size_t count) -> std::size_t {
                  std::memset(into, 'x', count);
                  return member == 1 && offset + count > 4 ? (offset < 4 ? 4 - offset : 0) : count;
              });
    std::string bytes = All(zip);
    EXPECT_LT(bytes.size(), zip.Length());
    EXPECT_EQ(bytes.size(), (30 + 1 + 10 + 16) + 30 + 1 + 4u);
}

// Seconds since 1970 as a calendar names them (leap days of 2000 and none in 2100), and as a
// zip's DOS words, which cannot say a time before 1980.
TEST(ZipStream, NamesTimesAsACalendarDoes) {
    struct Case {
        std::int64_t Seconds;
        jobs::CivilTime Civil;
    };
    for (const Case& c : {
             Case{0, {1970, 1, 1, 4, 0, 0, 0}},
             Case{951782400, {2000, 2, 29, 2, 0, 0, 0}},
             Case{4107542399, {2100, 2, 28, 0, 23, 59, 59}},
             Case{1796747986, {2026, 12, 8, 2, 16, 39, 46}},
         }) {
        jobs::CivilTime civil = jobs::CivilTimeOf(c.Seconds);
        EXPECT_EQ(std::tie(civil.Year, civil.Month, civil.Day, civil.Weekday, civil.Hour,
                           civil.Minute, civil.Second),
                  std::tie(c.Civil.Year, c.Civil.Month, c.Civil.Day, c.Civil.Weekday, c.Civil.Hour,
                           c.Civil.Minute, c.Civil.Second))
            << c.Seconds;
    }
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    jobs::DosTimeOf(1796747986, time, date);
    EXPECT_EQ(date, (2026 - 1980) << 9 | 12 << 5 | 8);
    EXPECT_EQ(time, 16 << 11 | 39 << 5 | 46 / 2);
    jobs::DosTimeOf(0, time, date);
    EXPECT_EQ(date, 1 << 5 | 1) << "before 1980: its first day";
}
