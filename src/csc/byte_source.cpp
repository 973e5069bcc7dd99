#include "csc/byte_source.h"

#include <algorithm>
#include <cstring>

namespace csc {

ByteSource FileSource(const std::string& path) {
    ByteSource source;
    source.File = platform::OpenForReading(path);
    if (source.File != platform::InvalidFile) {
        source.Size = platform::FileSize(source.File);
    } else {
        source.OpenError = platform::LastError();
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

std::size_t ReadAt(ByteSource& source, std::uint64_t offset, void* destination, std::size_t count) {
    if (source.Memory != nullptr) {
        std::size_t available = AvailableInMemory(source, offset, count);
        if (available > 0) {
            std::memcpy(destination, source.Memory + offset, available);
        }
        return available;
    }
    source.SystemReads++;
    return platform::ReadAt(source.File, offset, destination, count);
}

CopyResult CopyAt(const ByteSource& source, std::uint64_t offset, std::size_t count,
                  platform::FileHandle output, std::uint8_t* spare) {
    CopyResult result;
    const std::uint8_t* bytes = spare;
    std::size_t left = 0;
    if (source.Memory != nullptr) {
        left = AvailableInMemory(source, offset, count);
        bytes = left > 0 ? source.Memory + offset : nullptr;
    } else {
        result.Copied = platform::CopyRange(source.File, offset, output, count);
        left = platform::ReadAt(source.File, offset + result.Copied, spare, count - result.Copied);
    }
    platform::Written written = platform::Write(output, bytes, left);
    result.Copied += written.Bytes;
    result.WriteFailed = written.Error != platform::NoError;
    result.WriteError = written.Error;
    return result;
}

} // namespace csc
