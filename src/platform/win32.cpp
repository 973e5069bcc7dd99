#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

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

FileHandle OpenForReading(const std::string& path) {
    return Wrap(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr));
}

FileHandle CreateOrReplace(const std::string& path) {
    return Wrap(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

void Close(FileHandle file) {
    if (file != InvalidFile) {
        ::CloseHandle(Native(file));
    }
}

bool SetPosition(FileHandle file, std::uint64_t offset) {
    // Location offsets fit in 29 bits and need no high part; only a reader far into a large
    // archive passes one.
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = ::SetFilePointer(Native(file), static_cast<LONG>(offset & 0xFFFFFFFF),
                                 offset >> 31 ? &high : nullptr, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR;
}

std::size_t Read(FileHandle file, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    std::size_t delivered = 0;
    while (delivered < count) {
        DWORD piece = static_cast<DWORD>(count - delivered < LargestTransfer ? count - delivered
                                                                             : LargestTransfer);
        DWORD got = 0;
        if (!::ReadFile(Native(file), bytes + delivered, piece, &got, nullptr) || got == 0) {
            break;
        }
        delivered += got;
    }
    return delivered;
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

std::uint64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(Native(file), &size) || size.QuadPart < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool MakeFolder(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
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

void ReturnCursor(FileHandle console, const CursorAnchor& anchor, std::uint64_t) {
    COORD position;
    position.X = static_cast<SHORT>(anchor.Column);
    position.Y = static_cast<SHORT>(anchor.Row);
    ::SetConsoleCursorPosition(Native(console), position);
}

std::optional<std::string> WholeCommandLine() {
    const char* line = ::GetCommandLineA();
    return std::string(line != nullptr ? line : "");
}

} // namespace platform
