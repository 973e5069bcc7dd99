#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The one seam between cscunpack and the operating system. Nothing above this header sees a system
// call. Paths are handed over in the program's own form, where both "\" and "/" separate folders;
// each backend turns them into what its file system expects.
namespace platform {

// A file or console handle: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// Opens an existing file for reading only, letting others read it too; never creates one.
FileHandle OpenForReading(const std::string& path);
// Creates a file for writing, replacing any file of that path; others may read it meanwhile.
FileHandle CreateOrReplace(const std::string& path);
void Close(FileHandle file);

// Sets the position to offset bytes from the start of the file.
bool SetPosition(FileHandle file, std::uint64_t offset);
// Reads up to count bytes at the position; returns how many arrived (fewer only at the end or on
// failure).
std::size_t Read(FileHandle file, void* destination, std::size_t count);
// Writes count bytes at the position; returns how many were written.
std::size_t Write(FileHandle file, const void* source, std::size_t count);
// Makes the file size bytes long; a tail beyond what was written reads as zeros and, where the
// file system allows, takes no disk space.
bool Extend(FileHandle file, std::uint64_t size);
// The size of an open file in bytes, or 0 when it cannot be told.
std::uint64_t FileSize(FileHandle file);

// Makes one folder level; the path may end with a separator.
bool MakeFolder(const std::string& path);

FileHandle StandardOutput();
// Whether output to the handle reaches an interactive console rather than a file or a pipe.
bool IsConsole(FileHandle output);

// A place on the console to which the cursor can be sent back.
struct CursorAnchor {
    std::int32_t Column = 0;
    std::int32_t Row = 0;
};
// Stores the console's cursor position in anchor; leaves it unchanged where it cannot be asked.
void CaptureCursor(FileHandle console, CursorAnchor& anchor);
// Sends the cursor back to anchor. columnsSinceAnchor is how much text has been shown since the
// anchor was taken, for consoles that cannot be asked where the cursor is.
void ReturnCursor(FileHandle console, const CursorAnchor& anchor, std::uint64_t columnsSinceAnchor);

// The command line as one string where the system hands it over whole (Windows); empty where the
// shell has already split it into arguments.
std::optional<std::string> WholeCommandLine();

} // namespace platform
