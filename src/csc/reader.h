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
// zeros, stops the position at the end and is counted in ShortReads.
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

    bool ReadAhead = true; // off: every read goes to the system on its own, for comparison
    // Two windows, so that two streams through one archive (records, and the stored files that
    // follow them in the index archive) do not push each other out.
    std::array<ReadWindow, 2> Windows;
    std::uint64_t WindowUses = 0;

    std::uint64_t ShortReads = 0; // reads that ran past the end
};

// Opens an existing archive file; the result is not open when there is no regular file of that
// name.
Archive OpenArchive(const std::string& fileName);
// An archive over bytes that the caller keeps alive.
Archive MemoryArchive(const std::uint8_t* bytes, std::size_t size);
bool IsOpen(const Archive& archive);
void CloseArchive(Archive& archive);

void Position(Archive& archive, std::uint64_t offset);
// How many bytes a read at the current position can still deliver.
std::uint64_t Remaining(const Archive& archive);

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
// How many of count bytes a read at the current position can deliver.
std::size_t Deliverable(const Archive& archive, std::uint64_t count);
// Reads count bytes, or as many as arrive, into destination, which holds Deliverable(count)
// bytes, and returns how many arrived. A shortfall is counted like any other read past the end.
std::size_t ReadAvailable(Archive& archive, void* destination, std::uint64_t count);
// Takes count bytes, or as many as the archive holds, from the position on without reading them,
// for another thread to copy from the source later; returns how many. The position and the short
// reads move exactly as ReadAvailable moves them.
std::size_t ClaimAvailable(Archive& archive, std::uint64_t count);

} // namespace csc
