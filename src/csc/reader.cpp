#include "csc/reader.h"

#include <algorithm>
#include <cstring>

namespace csc {
namespace {

// A jump to a located record fetches a small piece; reading on from a piece fetches a large one,
// since sequential reading will want the bytes that follow.
constexpr std::size_t JumpFetch = 4 * 1024;
constexpr std::size_t SequentialFetch = 64 * 1024;

bool Holds(const ReadWindow& window, std::uint64_t position, std::size_t count) {
    return position >= window.Start && position + count <= window.Start + window.Bytes.size();
}

// The window that a read at position continues: it starts inside the window or right behind it.
ReadWindow* Continued(Archive& archive, std::uint64_t position) {
    for (ReadWindow& window : archive.Windows) {
        if (!window.Bytes.empty() && position >= window.Start &&
            position <= window.Start + window.Bytes.size()) {
            return &window;
        }
    }
    return nullptr;
}

ReadWindow& LeastRecentlyUsed(Archive& archive) {
    return archive.Windows[0].LastUse <= archive.Windows[1].LastUse ? archive.Windows[0]
                                                                    : archive.Windows[1];
}

// Copies up to count bytes from the position on and moves the position behind them.
std::size_t Fetch(Archive& archive, std::uint8_t* destination, std::size_t count) {
    std::size_t wanted = Deliverable(archive, count);
    if (wanted == 0) {
        return 0;
    }
    ReadWindow* window = nullptr;
    for (ReadWindow& candidate : archive.Windows) {
        if (Holds(candidate, archive.Position, wanted)) {
            window = &candidate;
        }
    }
    if (window == nullptr && archive.ReadAhead && wanted < SequentialFetch) {
        ReadWindow* continued = Continued(archive, archive.Position);
        window = continued != nullptr ? continued : &LeastRecentlyUsed(archive);
        std::size_t piece = std::max(continued != nullptr ? SequentialFetch : JumpFetch, wanted);
        piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, Remaining(archive)));
        window->Bytes.resize(piece);
        window->Start = archive.Position;
        window->Bytes.resize(ReadAt(archive.Source, archive.Position, window->Bytes.data(), piece));
        wanted = std::min(wanted, window->Bytes.size()); // the file may have shrunk since
    }
    std::size_t delivered;
    if (window != nullptr) {
        window->LastUse = ++archive.WindowUses;
        std::memcpy(destination, window->Bytes.data() + (archive.Position - window->Start), wanted);
        delivered = wanted;
    } else {
        delivered = ReadAt(archive.Source, archive.Position, destination, wanted);
    }
    archive.Position += delivered;
    return delivered;
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

void Position(Archive& archive, std::uint64_t offset) {
    archive.Position = offset;
}

std::uint64_t Remaining(const Archive& archive) {
    std::uint64_t size = archive.Source.Size;
    return archive.Position < size ? size - archive.Position : 0;
}

void ReadBlock(Archive& archive, void* destination, std::size_t count) {
    auto* bytes = static_cast<std::uint8_t*>(destination);
    std::size_t delivered = Fetch(archive, bytes, count);
    if (delivered < count) {
        std::memset(bytes + delivered, 0, count - delivered);
        archive.ShortReads++;
    }
}

std::uint8_t ReadU8(Archive& archive) {
    std::uint8_t value;
    ReadBlock(archive, &value, 1);
    return value;
}

std::uint16_t ReadU16(Archive& archive) {
    std::uint8_t bytes[2];
    ReadBlock(archive, bytes, 2);
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t ReadU32(Archive& archive) {
    std::uint8_t bytes[4];
    ReadBlock(archive, bytes, 4);
    return LittleEndianU32(bytes);
}

void ReadCscString(Archive& archive, std::string& destination) {
    std::uint32_t length = ReadU32(archive);
    destination.resize(Deliverable(archive, length));
    std::size_t delivered =
        Fetch(archive, reinterpret_cast<std::uint8_t*>(destination.data()), destination.size());
    destination.resize(delivered);
    if (delivered < length) {
        archive.ShortReads++;
    }
}

std::size_t Deliverable(const Archive& archive, std::uint64_t count) {
    return static_cast<std::size_t>(std::min(count, Remaining(archive)));
}

std::size_t ReadAvailable(Archive& archive, void* destination, std::uint64_t count) {
    std::size_t delivered =
        Fetch(archive, static_cast<std::uint8_t*>(destination), Deliverable(archive, count));
    if (delivered < count) {
        archive.ShortReads++;
    }
    return delivered;
}

std::size_t ClaimAvailable(Archive& archive, std::uint64_t count) {
    std::size_t claimed = Deliverable(archive, count);
    archive.Position += claimed;
    if (claimed < count) {
        archive.ShortReads++;
    }
    return claimed;
}

} // namespace csc
