#pragma once

#include <cstddef>
#include <cstdint>

// A location word names a byte in one of the archives: its top three bits pick the archive slot
// (0 to 7), its low 29 bits give the offset from that archive's start. Every value decodes alike;
// the users of 0 and 0xFFFFFFFF test for them before decoding.
namespace csc {

// Three bits pick one of eight archive slots.
inline constexpr std::size_t ArchiveSlots = 8;

constexpr std::uint32_t LocationSlot(std::uint32_t location) {
    return location >> 29;
}

constexpr std::uint32_t LocationOffset(std::uint32_t location) {
    return location & 0x1FFFFFFF;
}

} // namespace csc
