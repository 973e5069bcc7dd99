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

// The system's code for why an operation failed (errno, or GetLastError() on Windows); 0 is none.
using ErrorCode = std::uint32_t;
inline constexpr ErrorCode NoError = 0;
// The code of the last operation of this thread that failed.
ErrorCode LastError();
// The system's own words for code, without a closing period or line end ("No space left on
// device").
std::string DescribeError(ErrorCode code);

// A path in the program's own form, written the way this platform shows paths to its users: "/"
// separates folders on POSIX, "\" on Windows.
std::string ShownPath(const std::string& path);

// The name of a regular file in the current folder that differs from name in ASCII case only; the
// first such name byte for byte when there are several. Nothing where the file system ignores
// case anyway (Windows), or when there is none.
std::optional<std::string> FindIgnoringCase(const std::string& name);

// The rules a file system puts on names differ: Windows sends some names to devices and refuses
// bytes that POSIX keeps.
enum class NameRules { Posix, Windows };
#if defined(_WIN32)
inline constexpr NameRules NativeNameRules = NameRules::Windows;
#else
inline constexpr NameRules NativeNameRules = NameRules::Posix;
#endif

// Opens an existing regular file for reading only, letting others read it too; never creates one
// and never waits. Anything else of that name (a folder, a pipe, a device) counts as absent.
FileHandle OpenForReading(const std::string& path);
// Reads up to count bytes from offset on, without moving any shared position; returns how many
// arrived (fewer only at the end or on failure).
std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count);
// The size of an open file in bytes, or 0 when it cannot be told.
std::uint64_t FileSize(FileHandle file);

// Creates a new file for writing in place of whatever stands at path: an old file, a link or a
// pipe there is replaced, never written through, and the new file is created exclusively, so
// nothing can slip in between. A folder at path is left alone and the creation fails. Others may
// read the new file meanwhile.
FileHandle CreateReplacing(const std::string& path);
// Copies up to count bytes of from, from offset on, to to's position without passing them through
// the program, where the system can copy between the two files; returns how many were copied.
// Fewer (none where the system cannot) leaves the rest for the caller to read and write.
std::size_t CopyRange(FileHandle from, std::uint64_t offset, FileHandle to, std::size_t count);
// Writes count bytes at the file's position; returns how many were written.
std::size_t Write(FileHandle file, const void* source, std::size_t count);
// Makes the file size bytes long; a tail beyond what was written reads as zeros and, where the
// file system allows, takes no disk space.
bool Extend(FileHandle file, std::uint64_t size);
// Closes the handle; false when the system reports that what was written did not arrive.
bool Close(FileHandle file);
bool RemoveFile(const std::string& path);

// Makes one folder level; the path may end with a separator. True when a folder stands there
// afterwards, made now or before.
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
// Sends the cursor back to anchor and clears the columnsSinceAnchor columns of text shown since
// the anchor was taken, so that a shorter text written there next leaves nothing of the old one.
void ReturnCursor(FileHandle console, const CursorAnchor& anchor, std::uint64_t columnsSinceAnchor);

// The command line as one string where the system hands it over whole (Windows); empty where the
// shell has already split it into arguments.
std::optional<std::string> WholeCommandLine();

} // namespace platform
