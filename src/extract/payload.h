#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <variant>

// What an output file is made of: bytes in memory, or a range of an archive that the writer copies.
namespace extract {

// The writers' way to the bytes of an archive. It is only read: any number of writers may use one
// at once while the archive stays open.
class RangeSource {
  public:
    // The file that holds the bytes at their offsets, for a copy within the system; InvalidFile
    // where they lie elsewhere.
    virtual platform::FileHandle File() const = 0;
    // Reads up to count bytes from offset on; fewer where the archive ends or the system failed to
    // read it (the error says why).
    virtual platform::Moved ReadAt(std::uint64_t offset, void* destination,
                                   std::size_t count) const = 0;

  protected:
    ~RangeSource() = default;
};

// The bytes the archive delivered, read on the reading thread; where the system failed to read the
// rest, why.
struct BytesInMemory {
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::size_t Count = 0;
    platform::ErrorCode Unread = platform::NoError;
};

// Count bytes still in the archive from Offset on, copied by the writer itself. Spare is allocated
// on the reading thread like any file's buffer, so that a file too large for memory ends the run
// there, before its folders exist.
struct ArchiveRange {
    const RangeSource* Source = nullptr;
    std::uint64_t Offset = 0;
    std::size_t Count = 0;
    std::unique_ptr<std::uint8_t[]> Spare;
};

using Payload = std::variant<BytesInMemory, ArchiveRange>;

// How many bytes of the file its payload gives; the rest of its size is a zero tail.
inline std::size_t PayloadBytes(const Payload& payload) {
    return std::visit([](const auto& kind) { return kind.Count; }, payload);
}

} // namespace extract
