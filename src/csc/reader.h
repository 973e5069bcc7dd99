#pragma once

#include "csc/byte_source.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The archive reader: fixed-width little-endian integers, raw blocks and CSC strings, read from an
// archive's byte source.
//
// Every archive has one logical position. After each read it stands exactly behind the last byte
// consumed, positioning is absolute from the start, and the position is shared by everything that
// reads the archive, extraction included. Bytes are fetched from the file in larger pieces behind
// the readers' backs, which changes how often the system is asked, never what a read returns.
//
// A read that runs past the end of the archive delivers what remains, takes the missing bytes as
// zeros, stops the position at the end and is counted in ShortReads; reader.cpp keeps that rule in
// one place, Take. A read that the system fails (a disc with a scratch) is something else: the
// reads of records count it in ReadErrors with the first one's place and reason, and the bytes
// not read are zeros too; the jobs are told of theirs with each extent they read.
namespace csc {

// Bytes fetched ahead of the readers, from Start on.
struct ReadWindow {
    std::vector<std::uint8_t> Bytes;
    std::uint64_t Start = 0;
    std::uint64_t LastUse = 0;
};

struct Archive {
    ByteSource Source;
    std::uint64_t Position = 0;

    // Two windows, so that two streams through one archive (records, and the stored files that
    // follow them in the index archive) do not push each other out.
    std::array<ReadWindow, 2> Windows;
    std::uint64_t WindowUses = 0;
    std::size_t RecentWindow = 0; // the one the last read came from

    std::uint64_t ShortReads = 0; // reads that ran past the end
    // Reads of the archive's records and tables that the system failed, and the first one.
    std::uint64_t ReadErrors = 0;
    std::uint64_t FirstReadErrorAt = 0;
    platform::ErrorCode FirstReadError = platform::NoError;
};

// Opens an existing archive file. The result is not open when there is no regular file of that
// name, or it cannot be read; its Source.OpenError then tells why.
Archive OpenArchive(const std::string& fileName);
// An archive over bytes that the caller keeps alive.
Archive MemoryArchive(const std::uint8_t* bytes, std::size_t size);
bool IsOpen(const Archive& archive);
void CloseArchive(Archive& archive);

// Moves the position to offset bytes from the start; beyond the end is allowed, and reads there
// come short.
void SetPosition(Archive& archive, std::uint64_t offset);

// Reads count bytes into destination; bytes beyond the end are zeros.
void ReadBlock(Archive& archive, void* destination, std::size_t count);
std::uint8_t ReadU8(Archive& archive);
std::uint16_t ReadU16(Archive& archive);
std::uint32_t ReadU32(Archive& archive);
// Assembles a u32 from four bytes, least significant first.
constexpr std::uint32_t LittleEndianU32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
// Reads a u32 length and that many bytes into destination, replacing what it held. A length that
// runs past the end gives only the bytes that remain, so no length field can make it allocate
// more than the archive holds.
void ReadCscString(Archive& archive, std::string& destination);

// Where a stored file's bytes lie in the archive, and how many of those asked for it holds.
struct Extent {
    std::uint64_t Offset = 0;
    std::size_t Held = 0;
};
// Takes count bytes from the position on without reading them yet: the position moves and a
// shortfall is counted exactly as a read of count bytes would do.
Extent Claim(Archive& archive, std::uint64_t count);
// Reads the bytes of an extent claimed before into destination, which holds extent.Held bytes,
// through the read-ahead windows and without moving the position; returns how many arrived, fewer
// where the file has shrunk since it was opened or the system failed to read it (the error says
// why; the failure lies at extent.Offset plus the bytes that arrived).
platform::Moved ReadExtent(Archive& archive, const Extent& extent, void* destination);

// What the jobs are given of an archive: the bytes of extents claimed before, and the source they
// lie in, never the position, which only the walk of the index moves.
class ExtentReader {
  public:
    explicit ExtentReader(Archive& archive) : archive_(archive) {}
    platform::Moved Read(const Extent& extent, void* destination) {
        return ReadExtent(archive_, extent, destination);
    }
    const ByteSource& Source() const { return archive_.Source; }

  private:
    Archive& archive_;
};

} // namespace csc
