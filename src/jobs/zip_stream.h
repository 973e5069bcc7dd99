#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A zip archive made as it is read: stored entries (the sounds are compressed already), each
// file's bytes read from its archive only when the zip reaches them and each entry's name asked
// for when it is written, so that a zip of any size costs a buffer and a checksum a file. Its
// length is known before the first byte: sizes stand in the local headers, and each file's CRC-32,
// known once its bytes have passed, follows them in a data descriptor. Past 4 GiB or 65,535 entries
// it takes the zip64 records. Names are UTF-8 (the language flag set).
namespace jobs {

struct ZipMember {
    std::string Name; // UTF-8, "/" between folders
    std::uint64_t Size = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
};

// The member-th entry (from 0); asked for again as often as the zip needs it, the same each time.
using ZipMembers = std::function<ZipMember(std::size_t member)>;
// Reads count bytes of member from offset on into into; fewer where they cannot be had, which cuts
// the zip.
using ZipReader = std::function<std::size_t(std::size_t member, std::uint64_t offset,
                                            std::uint8_t* into, std::size_t count)>;

class ZipStream {
  public:
    ZipStream(std::size_t count, ZipMembers members, ZipReader read);
    // Every byte the zip holds.
    std::uint64_t Length() const { return length_; }
    // The next bytes, at most room of them; 0 at the end, or early where a member's bytes could not
    // all be read (the zip is then cut, never completed with other bytes).
    std::size_t Produce(std::uint8_t* into, std::size_t room);

  private:
    void LocalHeader();
    void Descriptor();
    void CentralHeader(std::size_t member);
    void End();

    std::size_t count_;
    ZipMembers members_;
    ZipReader read_;
    std::vector<std::uint32_t> crcs_;
    std::uint64_t length_ = 0;
    std::uint64_t centralAt_ = 0;
    // What is made and not yet given, and where the making stands: the entry being written (its
    // bytes, or its place in the central directory), and where its local header stands.
    std::string pending_;
    std::size_t pendingAt_ = 0;
    std::size_t member_ = 0;
    ZipMember current_;
    std::uint64_t localAt_ = 0;
    std::uint64_t dataAt_ = 0;
    bool inData_ = false;
    bool inCentral_ = false;
    std::uint64_t centralSize_ = 0;
    bool ended_ = false;
    bool cut_ = false;
};

// The CRC-32 of zip (and of gzip and PNG): reflected, polynomial 0xEDB88320.
std::uint32_t ZipCrc(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc = 0);

// A time in UTC as a calendar names it (the proleptic Gregorian calendar), from seconds since
// 1970; times before 1970 are taken as its start.
struct CivilTime {
    int Year = 1970;
    int Month = 1;   // 1 to 12
    int Day = 1;     // 1 to 31
    int Weekday = 4; // 0 Sunday to 6 Saturday
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};
CivilTime CivilTimeOf(std::int64_t seconds);

// A time as the zip's two DOS words (local time is not known: UTC), from seconds since 1970.
void DosTimeOf(std::int64_t seconds, std::uint16_t& time, std::uint16_t& date);

} // namespace jobs
