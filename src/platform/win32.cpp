#include "platform/mount.h"
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace platform {
namespace {

HANDLE Native(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle Wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? InvalidFile : reinterpret_cast<FileHandle>(handle);
}

// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces.
constexpr std::size_t LargestTransfer = 0x40000000;

// A stored name's bytes in UTF-16, read in the system's ANSI code page as the A functions read
// them.
std::wstring FromStored(std::string_view stored) {
    if (stored.empty()) {
        return {};
    }
    int length = ::MultiByteToWideChar(CP_ACP, 0, stored.data(), static_cast<int>(stored.size()),
                                       nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, stored.data(), static_cast<int>(stored.size()), wide.data(),
                          length);
    return wide;
}

// Text the user typed, carried in UTF-8, in UTF-16. A lone surrogate, which a Windows name may
// hold, travels encoded as if it were a character (the form called WTF-8), so that a folder of any
// name comes back as it was given; a byte that begins no character stands for the character of
// its value.
std::wstring FromText(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        std::uint32_t value = length == 1 ? lead : length == 2 ? lead & 0x1Fu : lead & 0x0Fu;
        value = length == 4 ? lead & 0x07u : value;
        for (std::size_t k = 1; length > 1 && k < length; ++k) {
            auto next = at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            value = value << 6 | (next & 0x3F);
        }
        // Overlong forms and values past U+10FFFF begin no character.
        if (length == 0 || (length == 3 && value < 0x800) ||
            (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
            wide += static_cast<wchar_t>(lead);
            ++at;
            continue;
        }
        if (value >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(value);
        }
        at += length;
    }
    return wide;
}

// UTF-16 as UTF-8, a lone surrogate encoded as if it were a character.
std::string ToText(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t at = 0; at < wide.size(); ++at) {
        std::uint32_t value = wide[at];
        if (value >= 0xD800 && value <= 0xDBFF && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 &&
            wide[at + 1] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (wide[++at] - 0xDC00);
        }
        if (value < 0x80) {
            text += static_cast<char>(value);
        } else if (value < 0x800) {
            text += static_cast<char>(0xC0 | value >> 6);
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            text += static_cast<char>(0xE0 | value >> 12);
            text += static_cast<char>(0x80 | (value >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | value >> 18);
            text += static_cast<char>(0x80 | (value >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (value >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return text;
}

// A path below root in the form the W functions take: "\\?\", the root's full path, and the
// components with "\" between them.
std::wstring Below(const OutputRoot& root, const std::string& path) {
    std::wstring native = FromStored(path);
    for (wchar_t& character : native) {
        if (character == L'/') {
            character = L'\\';
        }
    }
    return root.Prefix + L'\\' + native;
}

// The full path of a path as the user gave it, in the "\\?\" form that no length limit applies
// to, without a trailing separator; empty when the system cannot make it.
std::wstring LongForm(std::string_view path) {
    std::wstring relative = FromText(path);
    DWORD length = ::GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return {};
    }
    std::wstring full(length, L'\0');
    length = ::GetFullPathNameW(relative.c_str(), length, full.data(), nullptr);
    full.resize(length);
    while (full.size() > 1 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    if (full.starts_with(L"\\\\?\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

std::atomic<bool> InterruptArrived = false;
// Set once the run has ended, so that a console being closed may take the process.
HANDLE ClosedConsoleMayGo = nullptr;

BOOL WINAPI NoteInterrupt(DWORD event) {
    InterruptArrived.store(true);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: first let the run stop and clean up, within the few
        // seconds the system grants.
        ::WaitForSingleObject(ClosedConsoleMayGo, 4000);
    }
    return TRUE;
}

} // namespace

std::string DescribeError(ErrorCode code) {
    wchar_t text[512];
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 512, nullptr);
    if (length == 0) {
        length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, 512, nullptr);
    }
    std::string description = ToText(std::wstring_view(text, length));
    while (!description.empty() && (description.back() == '\r' || description.back() == '\n' ||
                                    description.back() == '.' || description.back() == ' ')) {
        description.pop_back();
    }
    return description.empty() ? "error " + std::to_string(code) : description;
}

bool IsNotFound(ErrorCode code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool IsAlreadyThere(ErrorCode code) {
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

ErrorCode AlreadyThereError() {
    return ERROR_FILE_EXISTS;
}

ErrorCode NotAFolderError() {
    return ERROR_DIRECTORY;
}

ErrorCode LinkInTheWayError() {
    return ERROR_CANT_ACCESS_FILE;
}

ErrorCode NameTooLongError() {
    return ERROR_FILENAME_EXCED_RANGE;
}

ErrorCode FolderInTheWayError() {
    return ERROR_ACCESS_DENIED; // what the system says of a folder opened or replaced as a file
}

ErrorCode NotFoundError() {
    return ERROR_PATH_NOT_FOUND;
}

std::string FoldedForIdentity(std::string_view path) {
    // Names reach the file system through the system's code page, as the A functions take them,
    // and the file system compares them with every letter in upper case.
    std::wstring wide = FromStored(path);
    if (!wide.empty()) {
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                        static_cast<int>(wide.size()), wide.data(), static_cast<int>(wide.size()),
                        nullptr, nullptr, 0);
    }
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

void LetTheNextThreadHaveItsOwnHeap() {
    // Windows' low-fragmentation heap holds its lock only briefly for small blocks.
}

void PrepareProcess() {
    ClosedConsoleMayGo = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool Interrupted() {
    return InterruptArrived.load(std::memory_order_relaxed);
}

void InterruptHandled() {
    if (ClosedConsoleMayGo != nullptr) {
        ::SetEvent(ClosedConsoleMayGo);
    }
}

std::string NameAsText(std::string_view stored) {
    return ToText(FromStored(stored));
}

std::optional<std::string> StoredNameOf(std::string_view text) {
    std::wstring wide = FromText(text);
    if (wide.empty()) {
        return std::string();
    }
    int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string stored(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), stored.data(),
                          length, nullptr, nullptr);
    // A character the code page lacks comes out as "?" or a look-alike: no stored name is named
    // with it, which the way back shows.
    if (length <= 0 || FromStored(stored) != wide) {
        return std::nullopt;
    }
    return stored;
}

std::optional<std::string> FindIgnoringCase(const std::string&, const std::string&) {
    return std::nullopt; // Windows file systems find a name in any case by themselves
}

std::string PathInFolder(const std::string& folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    bool ended = folder.back() == '\\' || folder.back() == '/';
    return folder + (ended ? "" : "\\") + std::string(name);
}

ErrorCode CheckFolder(const std::string& folder) {
    std::wstring full = LongForm(folder);
    DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError();
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NoError : NotAFolderError();
}

ErrorCode OpenForReading(const std::string& path, FileHandle& opened) {
    std::wstring full = LongForm(path);
    if (full.empty()) {
        return ERROR_INVALID_NAME;
    }
    HANDLE file = ::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ErrorCode error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            // Nor is a folder, which the system refuses to open as a file, an archive.
            DWORD attributes = ::GetFileAttributesW(full.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return ERROR_FILE_NOT_FOUND;
            }
        }
        return error;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        // A device or a pipe of that name is no archive.
        ::CloseHandle(file);
        return ERROR_FILE_NOT_FOUND;
    }
    opened = Wrap(file);
    return NoError;
}

Moved ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    Moved read;
    std::size_t& delivered = read.Bytes;
    while (delivered < count) {
        DWORD piece = static_cast<DWORD>(count - delivered < LargestTransfer ? count - delivered
                                                                             : LargestTransfer);
        // On a handle opened for synchronous reading, an OVERLAPPED offset makes a positional read.
        OVERLAPPED at{};
        std::uint64_t from = offset + delivered;
        at.Offset = static_cast<DWORD>(from & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        if (!::ReadFile(Native(file), bytes + delivered, piece, &got, &at)) {
            ErrorCode error = ::GetLastError();
            read.Error = error == ERROR_HANDLE_EOF ? NoError : error;
            break;
        }
        if (got == 0) {
            break;
        }
        delivered += got;
    }
    return read;
}

std::uint64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(Native(file), &size) || size.QuadPart < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

Moved CopyRange(FileHandle, std::uint64_t, FileHandle, std::size_t) {
    return Moved{}; // Windows copies whole files only; the caller reads and writes the bytes itself
}

Moved Write(FileHandle file, const void* source, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(source);
    Moved written;
    while (written.Bytes < count) {
        DWORD piece = static_cast<DWORD>(
            count - written.Bytes < LargestTransfer ? count - written.Bytes : LargestTransfer);
        DWORD put = 0;
        if (!::WriteFile(Native(file), bytes + written.Bytes, piece, &put, nullptr)) {
            written.Error = ::GetLastError();
            break;
        }
        if (put == 0) {
            written.Error = ERROR_WRITE_FAULT;
            break;
        }
        written.Bytes += put;
    }
    return written;
}

bool IsBrokenPipe(ErrorCode code) {
    // Which one a writer meets depends on how the pipe was made and when its reader went.
    return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
}

ErrorCode Extend(FileHandle file, std::uint64_t size) {
    // A sparse file keeps a zero tail from taking disk space; where the file system has no sparse
    // files the tail is still zeros.
    DWORD returned = 0;
    ::DeviceIoControl(Native(file), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(Native(file), end, nullptr, FILE_BEGIN) &&
                   ::SetEndOfFile(Native(file))
               ? NoError
               : ::GetLastError();
}

Stretch NextData(FileHandle file, std::uint64_t offset, std::uint64_t end) {
    if (offset >= end) {
        return Stretch{end, end};
    }
    FILE_ALLOCATED_RANGE_BUFFER asked{};
    asked.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    asked.Length.QuadPart = static_cast<LONGLONG>(end - offset);
    FILE_ALLOCATED_RANGE_BUFFER found{};
    DWORD returned = 0;
    // One range is all that is asked for: more than fit make the call fail with ERROR_MORE_DATA,
    // the first still filled in.
    BOOL answered = ::DeviceIoControl(Native(file), FSCTL_QUERY_ALLOCATED_RANGES, &asked,
                                      sizeof asked, &found, sizeof found, &returned, nullptr);
    if (!answered && ::GetLastError() != ERROR_MORE_DATA) {
        return Stretch{offset, end};
    }
    if (returned < sizeof found) {
        return Stretch{end, end}; // nothing allocated: a hole to the end
    }
    auto start = std::max(offset, static_cast<std::uint64_t>(found.FileOffset.QuadPart));
    auto stop = static_cast<std::uint64_t>(found.FileOffset.QuadPart + found.Length.QuadPart);
    return Stretch{std::min(start, end), std::min(std::max(stop, start), end)};
}

ErrorCode OpenExistingBelow(const OutputRoot& root, const std::string& path, FileHandle& file,
                            std::uint64_t& size) {
    // The link itself is opened, never what it names, and then refused.
    HANDLE opened = ::CreateFileW(Below(root, path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    BY_HANDLE_FILE_INFORMATION information{};
    LARGE_INTEGER length{};
    if (::GetFileType(opened) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(opened, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !::GetFileSizeEx(opened, &length)) {
        ::CloseHandle(opened);
        return ERROR_FILE_NOT_FOUND;
    }
    file = Wrap(opened);
    size = static_cast<std::uint64_t>(length.QuadPart);
    return NoError;
}

ErrorCode SyncBelow(const OutputRoot&, FileHandle file) {
    return ::FlushFileBuffers(Native(file)) ? NoError : ::GetLastError();
}

ErrorCode Close(FileHandle file) {
    return file == InvalidFile || ::CloseHandle(Native(file)) ? NoError : ::GetLastError();
}

ErrorCode MakeFolders(const std::string& folder) {
    // In the long form, which no length limit applies to, from the deepest level that stands down;
    // a level that cannot be made gives the system's reason for that.
    std::wstring full = LongForm(folder);
    if (full.empty()) {
        return ERROR_INVALID_NAME;
    }
    // The volume ("\\?\C:", "\\?\UNC\server\share") is no folder to make.
    std::size_t volume = full.starts_with(L"\\\\?\\UNC\\")
                             ? full.find(L'\\', full.find(L'\\', 8) + 1)
                             : full.find(L'\\', 4);
    std::vector<std::wstring> missing;
    for (std::wstring level = full;;) {
        DWORD attributes = ::GetFileAttributesW(level.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return NotAFolderError();
            }
            break;
        }
        ErrorCode error = ::GetLastError();
        std::size_t parent = level.find_last_of(L'\\');
        if (!IsNotFound(error) || parent == std::wstring::npos || parent <= volume) {
            return error;
        }
        missing.push_back(level);
        level.resize(parent);
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (!::CreateDirectoryW(level->c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return ::GetLastError();
        }
    }
    return CheckFolder(folder);
}

ErrorCode OpenOutputRoot(const std::string& folder, OutputRoot& root) {
    // Below the root, paths go to the system in the "\\?\" form of the full path, which no
    // length limit applies to and which the system takes as it stands: no "." or ".." is resolved
    // and no trailing dot or space dropped, as the output paths hold none.
    std::wstring full = LongForm(folder.empty() ? std::string_view(".") : folder);
    DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_DIRECTORY;
    }
    root = OutputRoot{};
    root.Prefix = full;
    return NoError;
}

ErrorCode CheckWritable(const OutputRoot& root) {
    // Opening the folder for adding files and folders asks the system for exactly those rights,
    // and adds nothing.
    HANDLE folder = ::CreateFileW(root.Prefix.c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    ::CloseHandle(folder);
    return NoError;
}

void CloseOutputRoot(OutputRoot& root) {
    root.Prefix.clear();
}

ErrorCode MakeFolderBelow(const OutputRoot& root, const std::string& path, bool& madeNow) {
    std::wstring native = Below(root, path);
    madeNow = ::CreateDirectoryW(native.c_str(), nullptr) != 0;
    if (madeNow) {
        return NoError;
    }
    DWORD reason = ::GetLastError();
    DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (reason != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES) {
        return reason;
    }
    // A junction or a symbolic link is never followed below the root, whatever it points at.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return LinkInTheWayError();
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NoError : NotAFolderError();
}

ErrorCode CreateNewBelow(const OutputRoot& root, const std::string& path, FileHandle& file) {
    // CREATE_NEW fails on anything at the path, and with FILE_FLAG_OPEN_REPARSE_POINT a symbolic
    // link there is not followed either.
    // Shared for reading alone: while it is open, nobody removes or renames it, and a later run
    // that finds it beside leaves it to its writer. DELETE lets the writer rename it open.
    HANDLE made =
        ::CreateFileW(Below(root, path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    file = Wrap(made);
    return made == INVALID_HANDLE_VALUE ? ::GetLastError() : NoError;
}

ErrorCode CreateUnnamedBelow(const OutputRoot&, const std::string&, FileHandle& file) {
    file = InvalidFile;
    return ERROR_NOT_SUPPORTED; // a file is made under a name nobody can guess instead
}

ErrorCode PlaceBelow(const OutputRoot&, FileHandle, const std::string&, const std::string&) {
    return ERROR_NOT_SUPPORTED;
}

bool IsNotSupported(ErrorCode code) {
    return code == ERROR_NOT_SUPPORTED;
}

ErrorCode RenameBelow(const OutputRoot& root, const std::string& from, const std::string& to) {
    // A rename replaces the name itself, whatever it is, and refuses a folder.
    if (::MoveFileExW(Below(root, from).c_str(), Below(root, to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return NoError;
    }
    return ::GetLastError();
}

ErrorCode RenameOpenBelow(const OutputRoot& root, FileHandle file, const std::string& to) {
    // The system takes the name in its own form: "\\??\" where the long form has "\\\\?\\".
    std::wstring name = Below(root, to);
    name[1] = L'?';
    std::size_t size = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(size, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.data(), name.size() * sizeof(wchar_t));
    return ::SetFileInformationByHandle(Native(file), FileRenameInfo, rename,
                                        static_cast<DWORD>(size))
               ? NoError
               : ::GetLastError();
}

ErrorCode RemoveBelow(const OutputRoot& root, const std::string& path) {
    return ::DeleteFileW(Below(root, path).c_str()) ? NoError : ::GetLastError();
}

ErrorCode CheckFolderBelow(const OutputRoot& root, const std::string& path) {
    // Level by level: the system would follow a junction or a link on the way without a word.
    for (std::size_t end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        DWORD attributes = ::GetFileAttributesW(Below(root, path.substr(0, end)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return ::GetLastError();
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return LinkInTheWayError();
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return NotAFolderError();
        }
    }
    return NoError;
}

ErrorCode ListBelow(const OutputRoot& root, const std::string& folder, std::string_view prefix,
                    std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    HANDLE search =
        ::FindFirstFileW((Below(root, folder) + L"\\" + FromStored(prefix) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        return NoError; // a folder without such names
    }
    if (search == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    do {
        int length =
            ::WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, nullptr, 0, nullptr, nullptr);
        if (length > 1) {
            std::string name(static_cast<std::size_t>(length), '\0');
            ::WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, name.data(), length, nullptr,
                                  nullptr);
            name.resize(static_cast<std::size_t>(length - 1));
            names.push_back(std::move(name));
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return NoError;
}

std::uint32_t ProcessNumber() {
    return ::GetCurrentProcessId();
}

bool WriterMayLive(std::uint32_t) {
    return false; // the writer's open file refuses its removal by itself
}

std::uint64_t SpareDescriptors() {
    return UINT64_MAX; // handles have no limit worth counting
}

std::uint64_t SpareAddressSpace() {
    return UINT64_MAX;
}

ErrorCode StartThread(Thread& thread, void (*entry)(void*), void* argument,
                      std::size_t stackBytes) {
    struct Start {
        void (*Entry)(void*);
        void* Argument;
    };
    auto* start = new (std::nothrow) Start{entry, argument};
    if (start == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    HANDLE handle = ::CreateThread(
        nullptr, stackBytes,
        [](LPVOID raw) -> DWORD {
            Start run = *static_cast<Start*>(raw);
            delete static_cast<Start*>(raw);
            run.Entry(run.Argument);
            return 0;
        },
        start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == nullptr) {
        ErrorCode error = ::GetLastError();
        delete start;
        return error;
    }
    thread.Handle = reinterpret_cast<std::uintptr_t>(handle);
    return NoError;
}

void JoinThread(Thread& thread) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread.Handle);
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
    thread.Handle = 0;
}

FileHandle StandardOutput() {
    return Wrap(::GetStdHandle(STD_OUTPUT_HANDLE));
}

FileHandle StandardError() {
    return Wrap(::GetStdHandle(STD_ERROR_HANDLE));
}

bool IsTerminal(FileHandle output) {
    DWORD mode = 0;
    return ::GetConsoleMode(Native(output), &mode) != 0;
}

bool TakesCharacters(FileHandle output) {
    return IsTerminal(output);
}

Moved WriteCharacters(FileHandle output, std::string_view text) {
    std::wstring wide = FromText(text);
    Moved written;
    for (std::size_t done = 0; done < wide.size();) {
        // The console takes a limited amount at once.
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        DWORD put = 0;
        if (!::WriteConsoleW(Native(output), wide.data() + done, piece, &put, nullptr) ||
            put == 0) {
            written.Error =
                put == 0 && ::GetLastError() == NoError ? ERROR_WRITE_FAULT : ::GetLastError();
            return written;
        }
        done += put;
    }
    written.Bytes = text.size();
    return written;
}

bool SameTerminal(FileHandle first, FileHandle second) {
    return IsTerminal(first) && IsTerminal(second); // a process has one console
}

bool ConsoleOwnedAlone() {
    // Under Wine the console is the Unix terminal the program was started from, which stays.
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        return false;
    }
    DWORD processes[2];
    return ::GetConsoleProcessList(processes, 2) == 1;
}

bool InputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void WaitForEnter() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    char character = 0;
    DWORD got = 0;
    while (::ReadFile(input, &character, 1, &got, nullptr) && got == 1 && character != '\n') {
    }
}

void CaptureCursor(FileHandle console, CursorAnchor& anchor) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(Native(console), &info)) {
        anchor.Column = info.dwCursorPosition.X;
        anchor.Row = info.dwCursorPosition.Y;
    }
}

void ReturnCursor(FileHandle console, const CursorAnchor& anchor, std::uint64_t columnsSinceAnchor,
                  std::string&) {
    COORD position;
    position.X = static_cast<SHORT>(anchor.Column);
    position.Y = static_cast<SHORT>(anchor.Row);
    // Spaces over the old text; the cursor stays where it was until it is sent to the anchor.
    DWORD cleared = 0;
    ::FillConsoleOutputCharacterA(
        Native(console), ' ',
        static_cast<DWORD>(columnsSinceAnchor < 0xFFFFFFFF ? columnsSinceAnchor : 0xFFFFFFFF),
        position, &cleared);
    ::SetConsoleCursorPosition(Native(console), position);
}

std::optional<std::string> WholeCommandLine() {
    // The wide form: the A form would turn every character outside the ANSI code page into "?".
    const wchar_t* line = ::GetCommandLineW();
    return ToText(line != nullptr ? std::wstring_view(line) : std::wstring_view());
}

std::string WhyNoMount() {
    return "--mount is not available on Windows";
}

ErrorCode ResolveMountPoint(const std::string& path, std::string& resolved) {
    resolved = path;
    return NoError;
}

std::string WhyCannotMountAt(const std::string&) {
    return WhyNoMount();
}

std::string UnmountCommand(const std::string&) {
    return "";
}

ErrorCode ServeMount(const std::string&, const MountedTree&, bool, const std::function<Standing()>&,
                     std::string& problem) {
    problem = WhyNoMount();
    return ERROR_NOT_SUPPORTED;
}

FileTime ModifiedTime(FileHandle file) {
    FILETIME written{};
    if (!::GetFileTime(Native(file), nullptr, nullptr, &written)) {
        return {};
    }
    // 100-nanosecond steps since 1601.
    std::uint64_t steps = std::uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime;
    return FileTime{.Seconds = static_cast<std::int64_t>(steps / 10000000) - 11644473600,
                    .Nanoseconds = static_cast<std::uint32_t>(steps % 10000000 * 100)};
}

} // namespace platform
