#include "csc/reader.h"

#include <algorithm>
#include <cstring>

namespace csc {
namespace {

// A jump to a located record fetches a small piece; reading on from a piece fetches a large one,
// since sequential reading will want the bytes that follow.
constexpr std::size_t JumpFetch = 4 * 1024;
constexpr std::size_t SequentialFetch = 64 * 1024;

std::uint64_t Remaining(const Archive& archive) {
    std::uint64_t size = archive.Source.Size;
    return archive.Position < size ? size - archive.Position : 0;
}

// The one rule for the end of an archive: a read of count bytes takes those the archive holds from
// the position on, moves the position behind them, and is counted in ShortReads when it comes
// short. Whoever reads the bytes takes the missing ones as zeros.
Extent Take(Archive& archive, std::uint64_t count) {
    Extent extent{archive.Position, static_cast<std::size_t>(std::min(count, Remaining(archive)))};
    archive.Position += extent.Held;
    if (extent.Held < count) {
        archive.ShortReads++;
    }
    return extent;
}

bool Holds(const ReadWindow& window, std::uint64_t offset, std::size_t count) {
    return offset >= window.Start && offset + count <= window.Start + window.Bytes.size();
}

// The window that a read at offset continues: it starts inside the window or right behind it.
ReadWindow* Continued(Archive& archive, std::uint64_t offset) {
    for (ReadWindow& window : archive.Windows) {
        if (!window.Bytes.empty() && offset >= window.Start &&
            offset <= window.Start + window.Bytes.size()) {
            return &window;
        }
    }
    return nullptr;
}

ReadWindow& LeastRecentlyUsed(Archive& archive) {
    return archive.Windows[0].LastUse <= archive.Windows[1].LastUse ? archive.Windows[0]
                                                                    : archive.Windows[1];
}

// Copies the bytes of extent into destination from the windows, fetching a window first where
// none holds them; returns how many arrived, and why no more where the system failed.
platform::Moved Copy(Archive& archive, const Extent& extent, std::uint8_t* destination) {
    std::size_t wanted = extent.Held;
    if (wanted == 0) {
        return {};
    }
    platform::ErrorCode error = platform::NoError;
    ReadWindow* window = nullptr;
    for (ReadWindow& candidate : archive.Windows) {
        if (Holds(candidate, extent.Offset, wanted)) {
            window = &candidate;
        }
    }
    if (window == nullptr && wanted < SequentialFetch) {
        ReadWindow* continued = Continued(archive, extent.Offset);
        window = continued != nullptr ? continued : &LeastRecentlyUsed(archive);
        std::size_t piece = std::max(continued != nullptr ? SequentialFetch : JumpFetch, wanted);
        std::uint64_t left = archive.Source.Size - extent.Offset;
        piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, left));
        window->Bytes.resize(piece);
        window->Start = extent.Offset;
        platform::Moved fetched =
            ReadAt(archive.Source, extent.Offset, window->Bytes.data(), piece);
        window->Bytes.resize(fetched.Bytes);
        if (fetched.Bytes < wanted) {
            // The file may have shrunk since, or the system failed to read it.
            wanted = fetched.Bytes;
            error = fetched.Error;
        }
    }
    if (window == nullptr) {
        return ReadAt(archive.Source, extent.Offset, destination, wanted);
    }
    window->LastUse = ++archive.WindowUses;
    archive.RecentWindow = static_cast<std::size_t>(window - archive.Windows.data());
    std::memcpy(destination, window->Bytes.data() + (extent.Offset - window->Start), wanted);
    return platform::Moved{.Bytes = wanted, .Error = error};
}

// Counts a failed read of the archive's records, keeping the first one's place and reason.
void CountReadError(Archive& archive, const Extent& extent, const platform::Moved& read) {
    if (read.Error == platform::NoError) {
        return;
    }
    if (archive.ReadErrors++ == 0) {
        archive.FirstReadErrorAt = extent.Offset + read.Bytes;
        archive.FirstReadError = read.Error;
    }
}

// The count bytes at the position, taken from the window the last read came from where it holds
// them all (a record's fields follow one another there), or none. A window never holds bytes past
// the archive's end, so such a read is never short.
const std::uint8_t* TakeFromRecentWindow(Archive& archive, std::size_t count) {
    ReadWindow& window = archive.Windows[archive.RecentWindow];
    if (!Holds(window, archive.Position, count)) {
        return nullptr;
    }
    window.LastUse = ++archive.WindowUses;
    const std::uint8_t* bytes = window.Bytes.data() + (archive.Position - window.Start);
    archive.Position += count;
    return bytes;
}

} // namespace

Archive OpenArchive(const std::string& fileName) {
    Archive archive;
    archive.Source = FileSource(fileName);
    return archive;
}

Archive MemoryArchive(const std::uint8_t* bytes, std::size_t size) {
    Archive archive;
    archive.Source = MemorySource(bytes, size);
    return archive;
}

bool IsOpen(const Archive& archive) {
    return IsOpen(archive.Source);
}

void CloseArchive(Archive& archive) {
    Close(archive.Source);
    archive = Archive{};
}

void SetPosition(Archive& archive, std::uint64_t offset) {
    archive.Position = offset;
}

void ReadBlock(Archive& archive, void* destination, std::size_t count) {
    auto* bytes = static_cast<std::uint8_t*>(destination);
    if (const std::uint8_t* held = TakeFromRecentWindow(archive, count)) {
        std::memcpy(bytes, held, count);
        return;
    }
    Extent extent = Take(archive, count);
    platform::Moved read = Copy(archive, extent, bytes);
    CountReadError(archive, extent, read);
    std::memset(bytes + read.Bytes, 0, count - read.Bytes);
}

std::uint8_t ReadU8(Archive& archive) {
    if (const std::uint8_t* held = TakeFromRecentWindow(archive, 1)) {
        return *held;
    }
    std::uint8_t value;
    ReadBlock(archive, &value, 1);
    return value;
}

std::uint16_t ReadU16(Archive& archive) {
    if (const std::uint8_t* held = TakeFromRecentWindow(archive, 2)) {
        return static_cast<std::uint16_t>(held[0] | held[1] << 8);
    }
    std::uint8_t bytes[2];
    ReadBlock(archive, bytes, 2);
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t ReadU32(Archive& archive) {
    if (const std::uint8_t* held = TakeFromRecentWindow(archive, 4)) {
        return LittleEndianU32(held);
    }
    std::uint8_t bytes[4];
    ReadBlock(archive, bytes, 4);
    return LittleEndianU32(bytes);
}

void ReadCscString(Archive& archive, std::string& destination) {
    // The length and the bytes from the window the last read came from, where it holds both, as
    // it holds nearly every string of a record.
    const ReadWindow& window = archive.Windows[archive.RecentWindow];
    if (archive.Position >= window.Start) {
        std::uint64_t at = archive.Position - window.Start;
        if (at + 4 <= window.Bytes.size()) {
            std::uint32_t held = LittleEndianU32(window.Bytes.data() + at);
            if (at + 4 + held <= window.Bytes.size()) {
                archive.Position += 4 + std::uint64_t{held};
                archive.Windows[archive.RecentWindow].LastUse = ++archive.WindowUses;
                if (held == 0) {
                    destination.clear(); // as most of a record's strings are
                } else {
                    destination.assign(reinterpret_cast<const char*>(window.Bytes.data() + at + 4),
                                       held);
                }
                return;
            }
        }
    }
    std::uint32_t length = ReadU32(archive);
    if (length == 0) {
        destination.clear(); // as most of a record's strings are
        return;
    }
    if (const std::uint8_t* held = TakeFromRecentWindow(archive, length)) {
        destination.assign(reinterpret_cast<const char*>(held), length);
        return;
    }
    Extent extent = Take(archive, length);
    destination.resize(extent.Held);
    platform::Moved read =
        Copy(archive, extent, reinterpret_cast<std::uint8_t*>(destination.data()));
    CountReadError(archive, extent, read);
    // What the system failed to read is zeros, as what lies past the end is missing.
    std::memset(destination.data() + read.Bytes, 0, extent.Held - read.Bytes);
}

Extent Claim(Archive& archive, std::uint64_t count) {
    return Take(archive, count);
}

platform::Moved ReadExtent(Archive& archive, const Extent& extent, void* destination) {
    return Copy(archive, extent, static_cast<std::uint8_t*>(destination));
}

} // namespace csc
