#include "csc/byte_source.h"

#include <algorithm>
#include <cstring>

namespace csc {

ByteSource FileSource(const std::string& path) {
    ByteSource source;
    source.OpenError = platform::OpenForReading(path, source.File);
    if (source.OpenError == platform::NoError) {
        source.Size = platform::FileSize(source.File);
    }
    return source;
}

ByteSource MemorySource(const std::uint8_t* bytes, std::size_t size) {
    ByteSource source;
    source.Memory = bytes;
    source.Size = bytes == nullptr ? 0 : size;
    return source;
}

bool IsOpen(const ByteSource& source) {
    return source.File != platform::InvalidFile || source.Memory != nullptr;
}

void Close(ByteSource& source) {
    platform::Close(source.File);
    source = ByteSource{};
}

namespace {

std::size_t AvailableInMemory(const ByteSource& source, std::uint64_t offset, std::size_t count) {
    return static_cast<std::size_t>(
        offset < source.Size ? std::min<std::uint64_t>(count, source.Size - offset) : 0);
}

} // namespace

platform::Moved ReadAt(const ByteSource& source, std::uint64_t offset, void* destination,
                       std::size_t count) {
    if (source.Memory != nullptr) {
        std::size_t available = AvailableInMemory(source, offset, count);
        if (available > 0) {
            std::memcpy(destination, source.Memory + offset, available);
        }
        return platform::Moved{.Bytes = available, .Error = platform::NoError};
    }
    return platform::ReadAt(source.File, offset, destination, count);
}

} // namespace csc
