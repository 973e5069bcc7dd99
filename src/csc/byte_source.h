#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Where an archive's bytes come from: an open file, or a block of memory that the caller keeps
// alive (tests and fuzzing). A source knows its size and answers reads at any offset; it keeps no
// position of its own.
namespace csc {

struct ByteSource {
    platform::FileHandle File = platform::InvalidFile;
    const std::uint8_t* Memory = nullptr;
    std::uint64_t Size = 0;
    platform::ErrorCode OpenError = platform::NoError; // why a file source is not open
};

// A source over the regular file of that name; not open when there is none or it cannot be
// opened.
ByteSource FileSource(const std::string& path);
ByteSource MemorySource(const std::uint8_t* bytes, std::size_t size);
bool IsOpen(const ByteSource& source);
void Close(ByteSource& source);

// Copies up to count bytes from offset on into destination; returns how many arrived, fewer only
// at the end of the source (it may have shrunk since it was opened) or where the system failed to
// read it, which the error then tells. The source is only read, so any thread may call this while
// the source stays open.
platform::Moved ReadAt(const ByteSource& source, std::uint64_t offset, void* destination,
                       std::size_t count);

} // namespace csc
