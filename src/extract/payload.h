#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <variant>

// What an output file is made of: bytes in memory, or a range of an archive that the writer copies.
namespace extract {

// What copying a range came to.
struct RangeCopy {
    std::size_t Copied = 0;   // bytes of the range that arrived in the output file
    bool WriteFailed = false; // the output refused them; otherwise fewer means the archive ended
    platform::ErrorCode WriteError = platform::NoError; // why it refused them
};

// The writer's way to the bytes of an archive: any thread may copy a range into an output file at
// its position while the archive stays open.
class RangeSource {
  public:
    // Copies through spare, which has room for count bytes, where the system cannot copy between
    // the two files itself.
    virtual RangeCopy CopyTo(std::uint64_t offset, std::size_t count, platform::FileHandle output,
                             std::uint8_t* spare) const = 0;

  protected:
    ~RangeSource() = default;
};

// The bytes the archive delivered, read on the reading thread.
struct BytesInMemory {
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::size_t Count = 0;
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
