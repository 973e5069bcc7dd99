#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

#include <string>

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

} // namespace

ErrorCode LastError() {
    return static_cast<ErrorCode>(::GetLastError());
}

std::string DescribeError(ErrorCode code) {
    char text[512];
    DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
    if (length == 0) {
        length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    }
    std::string description(text, length);
    while (!description.empty() && (description.back() == '\r' || description.back() == '\n' ||
                                    description.back() == '.' || description.back() == ' ')) {
        description.pop_back();
    }
    return description.empty() ? "error " + std::to_string(code) : description;
}

std::string ShownPath(const std::string& path) {
    // Empty names between separators make no folder, so one separator shows where the file went.
    std::string shown;
    for (char character : path) {
        bool separates = character == '/' || character == '\\';
        if (!separates || shown.empty() || shown.back() != '\\') {
            shown += separates ? '\\' : character;
        }
    }
    return shown;
}

std::optional<std::string> FindIgnoringCase(const std::string&) {
    return std::nullopt; // Windows file systems find a name in any case by themselves
}

FileHandle OpenForReading(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
        // A device or a pipe of that name is no archive.
        ::CloseHandle(file);
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return InvalidFile;
    }
    return Wrap(file);
}

std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    std::size_t delivered = 0;
    while (delivered < count) {
        DWORD piece = static_cast<DWORD>(count - delivered < LargestTransfer ? count - delivered
                                                                             : LargestTransfer);
        // On a handle opened for synchronous reading, an OVERLAPPED offset makes a positional read.
        OVERLAPPED at{};
        std::uint64_t from = offset + delivered;
        at.Offset = static_cast<DWORD>(from & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        if (!::ReadFile(Native(file), bytes + delivered, piece, &got, &at) || got == 0) {
            break;
        }
        delivered += got;
    }
    return delivered;
}

std::uint64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(Native(file), &size) || size.QuadPart < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

FileHandle CreateReplacing(const std::string& path) {
    // CREATE_NEW fails on anything at the path, and with FILE_FLAG_OPEN_REPARSE_POINT a symbolic
    // link there is not followed either: in the common case, nothing stands there and this is the
    // one open.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE ||
        (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)) {
        return Wrap(file);
    }
    // Something stands there. Deleting it by name is not safe everywhere (Wine deletes the target
    // of a POSIX symbolic link), so a new file is made beside it, under a name taken exclusively,
    // and renamed over it: a rename replaces the name itself, whatever it is, and refuses a
    // folder. The beside names are never deleted by name, so a link there cannot do harm.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string beside = path + ".cscunpack-" + std::to_string(attempt);
        file = ::CreateFileA(beside.c_str(), GENERIC_WRITE | DELETE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return InvalidFile;
        }
        if (::MoveFileExA(beside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            return Wrap(file);
        }
        // The handle still names the file made just now, so it can go without a name lookup.
        DWORD reason = ::GetLastError();
        FILE_DISPOSITION_INFO dispose{TRUE};
        ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
        ::CloseHandle(file);
        ::SetLastError(reason);
        return InvalidFile;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return InvalidFile;
}

std::size_t CopyRange(FileHandle, std::uint64_t, FileHandle, std::size_t) {
    return 0; // Windows copies whole files only; the caller reads and writes the bytes itself
}

std::size_t Write(FileHandle file, const void* source, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(source);
    std::size_t written = 0;
    while (written < count) {
        DWORD piece = static_cast<DWORD>(count - written < LargestTransfer ? count - written
                                                                           : LargestTransfer);
        DWORD put = 0;
        if (!::WriteFile(Native(file), bytes + written, piece, &put, nullptr) || put == 0) {
            break;
        }
        written += put;
    }
    return written;
}

bool Extend(FileHandle file, std::uint64_t size) {
    // A sparse file keeps a zero tail from taking disk space; where the file system has no sparse
    // files the tail is still zeros.
    DWORD returned = 0;
    ::DeviceIoControl(Native(file), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(Native(file), end, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(Native(file));
}

bool Close(FileHandle file) {
    return file == InvalidFile || ::CloseHandle(Native(file)) != 0;
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != 0;
}

bool MakeFolder(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr)) {
        return true;
    }
    DWORD reason = ::GetLastError();
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (reason == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    ::SetLastError(reason);
    return false;
}

FileHandle StandardOutput() {
    return Wrap(::GetStdHandle(STD_OUTPUT_HANDLE));
}

bool IsConsole(FileHandle output) {
    DWORD mode = 0;
    return ::GetConsoleMode(Native(output), &mode) != 0;
}

void CaptureCursor(FileHandle console, CursorAnchor& anchor) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(Native(console), &info)) {
        anchor.Column = info.dwCursorPosition.X;
        anchor.Row = info.dwCursorPosition.Y;
    }
}

void ReturnCursor(FileHandle console, const CursorAnchor& anchor,
                  std::uint64_t columnsSinceAnchor) {
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
    const char* line = ::GetCommandLineA();
    return std::string(line != nullptr ? line : "");
}

} // namespace platform
