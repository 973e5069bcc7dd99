#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one seam between cscunpack and the operating system. Nothing above this header sees a system
// call.
//
// Every call that can fail says so one way: it returns the ErrorCode of the failure (NoError when
// there is none), with what it makes in an out-parameter; a call that moves bytes returns Moved,
// the bytes it moved and, where it stopped early for a failure, its code. DescribeError gives any
// code's reason text. No caller reads errno or GetLastError() after a call has returned.
namespace platform {

// A file or console handle: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// The system's code for why an operation failed (errno, or GetLastError() on Windows); 0 is none.
using ErrorCode = std::uint32_t;
inline constexpr ErrorCode NoError = 0;
// The system's own words for code, without a closing period or line end ("No space left on
// device").
std::string DescribeError(ErrorCode code);
// Whether code says that nothing of that name exists.
bool IsNotFound(ErrorCode code);
// Whether code says that something stands at a path where an exclusive creation was asked for.
bool IsAlreadyThere(ErrorCode code);
ErrorCode AlreadyThereError();
// The codes the output tree gives for something in a folder's way: a file or other non-folder, and
// a link, which is never followed.
ErrorCode NotAFolderError();
ErrorCode LinkInTheWayError();
// The code for a path too long for the file system.
ErrorCode NameTooLongError();
// The codes for a folder standing where a file goes, and for a folder on a path that is not there.
ErrorCode FolderInTheWayError();
ErrorCode NotFoundError();

// The separator this platform shows between folders: "/" on POSIX, "\" on Windows.
#if defined(_WIN32)
inline constexpr char ShownSeparator = '\\';
#else
inline constexpr char ShownSeparator = '/';
#endif

// The rules a file system puts on names differ: Windows sends some names to devices, refuses bytes
// that POSIX keeps, and takes names that differ in the case of a letter for one.
enum class NameRules { Posix, Windows };
#if defined(_WIN32)
inline constexpr NameRules NativeNameRules = NameRules::Windows;
#else
inline constexpr NameRules NativeNameRules = NameRules::Posix;
#endif

// The form of a path in which two paths that this file system takes for one are equal: the bytes
// themselves on POSIX; on Windows, read in the system's code page with every letter that the file
// system folds in upper case.
std::string FoldedForIdentity(std::string_view path);
// Whether that form is the path's bytes as they stand, so that callers may skip making it.
#if defined(_WIN32)
inline constexpr bool IdentityIsTheBytes = false;
#else
inline constexpr bool IdentityIsTheBytes = true;
#endif

// Stored names are bytes; text the user types (the command line: folders, patterns) is characters,
// carried in UTF-8. A file whose stored name holds a byte of 0x80 and above is named on POSIX by
// the byte itself, and on Windows by the character the system's ANSI code page gives it, as the
// A functions, Explorer and the game read such names.
//
// The characters of the name a file with these stored bytes gets, in UTF-8, for what must name it
// as text (JSON): on Windows those of the ANSI code page; on POSIX, where the name is the bytes,
// each byte of 0x80 and above taken as the Latin-1 character of that value.
std::string NameAsText(std::string_view stored);
// The stored bytes that this system names with the characters of text (UTF-8), so that a pattern
// typed as characters matches the names it shows; nothing where no stored name can be named so
// (a character the ANSI code page does not hold). On POSIX, where names are bytes, text as it is.
std::optional<std::string> StoredNameOf(std::string_view text);
// Whether a stored name is matched as its bytes and as its Latin-1 text both (POSIX, where the
// bytes name the file and the JSON shows the Latin-1 text), or as its bytes alone, into which a
// pattern was turned (Windows).
#if defined(_WIN32)
inline constexpr bool NamesAreAlsoLatin1Text = false;
#else
inline constexpr bool NamesAreAlsoLatin1Text = true;
#endif

// Sets the process up for a run: a pipe whose reader has gone and a file size limit make writes
// fail instead of ending the process, and interrupts (Ctrl-C, SIGINT, SIGTERM and SIGHUP on POSIX;
// Ctrl-C, Ctrl-Break and closing the console on Windows) only raise a flag that the run polls. A
// signal ignored on entry (nohup, a shell's background job) stays ignored.
void PrepareProcess();
// The next thread started allocates from a heap of its own instead of the process's one, so that a
// thread that allocates now and then, sometimes much, does not keep one that allocates all the
// time waiting for the heap's lock. Where no heap can be had, it shares the one as before.
void LetTheNextThreadHaveItsOwnHeap();
// Whether an interrupt has arrived since PrepareProcess.
bool Interrupted();
// Says that the run has ended after an interrupt, so that a closing console may go.
void InterruptHandled();

// The name of a regular file in the folder (empty: the current one) that differs from name in ASCII
// case only; the first such name byte for byte when there are several. Nothing where the file
// system ignores case anyway (Windows), or when there is none.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name);

// The path of the file name in folder (empty: the current one), joined with this platform's
// separator; a separator that ends folder is not doubled.
std::string PathInFolder(const std::string& folder, std::string_view name);
// NoError when a folder stands at path (following links as the user gave them), else why not.
ErrorCode CheckFolder(const std::string& folder);

// What a call that moves bytes came to: the bytes moved, and, when it stopped early because the
// system failed, why (NoError where the source simply ended).
struct Moved {
    std::size_t Bytes = 0;
    ErrorCode Error = NoError;
};

// Opens an existing regular file for reading only, letting others read it too; never creates one
// and never waits. Anything else of that name (a folder, a pipe, a device) counts as not found.
ErrorCode OpenForReading(const std::string& path, FileHandle& file);
// Reads up to count bytes from offset on, without moving any shared position; fewer only at the end
// or on failure. Any thread may read one file at once with others.
Moved ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count);
// The size of an open file in bytes, or 0 when it cannot be told.
std::uint64_t FileSize(FileHandle file);

// Copies up to count bytes of from, from offset on, to to's position without passing them through
// the program, where the system can copy between the two files. Fewer (none where the system
// cannot) is no failure: the caller reads and writes the rest.
Moved CopyRange(FileHandle from, std::uint64_t offset, FileHandle to, std::size_t count);
// Writes count bytes at the file's position.
Moved Write(FileHandle file, const void* source, std::size_t count);
// Whether code says that the reader of a pipe has gone.
bool IsBrokenPipe(ErrorCode code);
// Makes the file size bytes long; a tail beyond what was written reads as zeros and, where the
// file system allows, takes no disk space.
ErrorCode Extend(FileHandle file, std::uint64_t size);
// Where an open file may hold bytes other than zeros, from offset on and before end: the first
// such stretch, Start to End. Holes, which the system knows to read as zeros, are passed over;
// where it keeps none, or cannot tell, the stretch runs from offset to end. Start is end where
// nothing but holes is left.
struct Stretch {
    std::uint64_t Start = 0;
    std::uint64_t End = 0;
};
Stretch NextData(FileHandle file, std::uint64_t offset, std::uint64_t end);
// Closes the handle; fails when the system reports that what was written did not arrive.
ErrorCode Close(FileHandle file);

// The folder that receives an output tree. Every path handed to the functions below is relative to
// it, with "/" between its components, none of them empty, "." or "..". The root itself may be
// reached through a link (the user chose it); nothing below it ever is.
struct OutputRoot {
    FileHandle Folder = InvalidFile; // POSIX: the folder, or the current folder's marker
    std::wstring Prefix;             // Windows: "\\?\" and the folder's full path
    // Held in memory only (a tmpfs): nothing there survives a power cut, so nothing need be
    // synced.
    bool Volatile = false;
};
// Makes folder with every folder above it that is missing, following links as the user gave them.
// NoError when a folder stands there afterwards.
ErrorCode MakeFolders(const std::string& folder);
// The folder given (empty: the current one) as an output root.
ErrorCode OpenOutputRoot(const std::string& folder, OutputRoot& root);
// NoError where this process may make files and folders in the output root, else why not (a
// folder of others, a read-only disc). Changes nothing.
ErrorCode CheckWritable(const OutputRoot& root);
void CloseOutputRoot(OutputRoot& root);

// Makes one folder level; the levels above it stand. NoError when a folder stands there afterwards,
// made now (madeNow) or before; a link there is refused (LinkInTheWayError), and so is a file.
ErrorCode MakeFolderBelow(const OutputRoot& root, const std::string& path, bool& madeNow);
// Creates a new file exclusively: anything standing at path, a link included, makes it fail
// (IsAlreadyThere) and is left alone. Others may read the new file meanwhile.
ErrorCode CreateNewBelow(const OutputRoot& root, const std::string& path, FileHandle& file);
// Creates a file that has no name yet in the folder at path below root (empty: the root itself):
// nobody sees it, and a run killed meanwhile leaves nothing of it, until NameBelow gives it one.
// IsNotSupported where the system cannot (no O_TMPFILE there, or Windows).
ErrorCode CreateUnnamedBelow(const OutputRoot& root, const std::string& folder, FileHandle& file);
// Puts a file that CreateUnnamedBelow made at path, in place of whatever file, link or pipe stands
// there, in one step: it is named beside first (IsAlreadyThere when something has that name),
// then renamed over path, both in path's folder. Nothing of it stays beside when that fails.
ErrorCode PlaceBelow(const OutputRoot& root, FileHandle file, const std::string& beside,
                     const std::string& path);
bool IsNotSupported(ErrorCode code);
// Gives the file at from the name to, in place of the file, link or pipe standing there (never of
// a folder), in one step.
ErrorCode RenameBelow(const OutputRoot& root, const std::string& from, const std::string& to);
// The same for a file still open (CreateNewBelow made it), which stays locked against removal
// until it has its new name; IsNotSupported where the system renames closed files only.
ErrorCode RenameOpenBelow(const OutputRoot& root, FileHandle file, const std::string& to);
ErrorCode RemoveBelow(const OutputRoot& root, const std::string& path);
// NoError when a folder, not a link, stands at path below root, and at every level on the way.
ErrorCode CheckFolderBelow(const OutputRoot& root, const std::string& path);
// The names in the folder at path below root that begin with prefix, following no link on the way.
ErrorCode ListBelow(const OutputRoot& root, const std::string& folder, std::string_view prefix,
                    std::vector<std::string>& names);
// Makes what was written to a file below root survive a power cut before it returns.
ErrorCode SyncBelow(const OutputRoot& root, FileHandle file);
// Opens the regular file at path below root for reading, following no link on the way nor at its
// end, and tells its size; anything else there (a folder, a link, a pipe) counts as not found.
ErrorCode OpenExistingBelow(const OutputRoot& root, const std::string& path, FileHandle& file,
                            std::uint64_t& size);

// This process's number.
std::uint32_t ProcessNumber();
// Whether a file written beside by the process of that number may still be in its writer's hands,
// so that it must not be removed. On POSIX, while a process of that number runs. On Windows never
// by the number, which the system hands out again at once: a writer there holds its file open,
// shared with nobody who would remove it, until the file has its final name, so the removal of a
// file still being written fails by itself.
bool WriterMayLive(std::uint32_t number);

// How many more files this process may hold open at once; the largest value where the system sets
// no such limit.
std::uint64_t SpareDescriptors();
// How many more bytes of address space this process may take; the largest value where the system
// sets no such limit.
std::uint64_t SpareAddressSpace();

// A thread of the process, started with a stack of the size asked for.
struct Thread {
    std::uintptr_t Handle = 0;
};
// Fails when the system cannot start one now.
ErrorCode StartThread(Thread& thread, void (*entry)(void*), void* argument, std::size_t stackBytes);
void JoinThread(Thread& thread);

FileHandle StandardOutput();
FileHandle StandardError();
// Whether output to the handle reaches a terminal (an interactive console) rather than a file or a
// pipe.
bool IsTerminal(FileHandle output);
// Whether the handle takes characters rather than bytes (a Windows console, which would read
// bytes in its own OEM code page): text for it is UTF-8, and stored names are turned into their
// characters (NameAsText) before they join it.
bool TakesCharacters(FileHandle output);
// Writes UTF-8 text to a handle that takes characters.
Moved WriteCharacters(FileHandle output, std::string_view text);

// Whether both handles write to one terminal, so that what one shows lands among what the other
// shows.
bool SameTerminal(FileHandle first, FileHandle second);
// Whether the console window belongs to this process alone: it was opened for it (a double-click
// in Explorer) and closes with it. Never on POSIX.
bool ConsoleOwnedAlone();
// Whether standard input is that console, not a file or a pipe.
bool InputIsTerminal();
// Waits until the user presses Enter on the console (or standard input ends).
void WaitForEnter();

// A place on the console to which the cursor can be sent back.
struct CursorAnchor {
    std::int32_t Column = 0;
    std::int32_t Row = 0;
};
// Stores the console's cursor position in anchor; leaves it unchanged where it cannot be asked.
void CaptureCursor(FileHandle console, CursorAnchor& anchor);
// Sends the cursor back to anchor and clears the columnsSinceAnchor columns of text shown since
// the anchor was taken, so that a shorter text written there next leaves nothing of the old one.
// Where that takes control sequences, they are appended to control for the caller to write
// together with the text that follows; where it takes calls, they are made now.
void ReturnCursor(FileHandle console, const CursorAnchor& anchor, std::uint64_t columnsSinceAnchor,
                  std::string& control);

// The command line as one string where the system hands it over whole (Windows, in UTF-8); empty
// where the shell has already split it into arguments.
std::optional<std::string> WholeCommandLine();

} // namespace platform
