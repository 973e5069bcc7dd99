#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Both "\" and "/" separate folders in the program's paths; POSIX knows only "/".
std::string NativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

int Descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// read() and write() move at most about 2 GiB per call.
constexpr std::size_t LargestTransfer = 0x40000000;

} // namespace

FileHandle OpenForReading(const std::string& path) {
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return InvalidFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return InvalidFile;
    }
    return fd;
}

FileHandle CreateOrReplace(const std::string& path) {
    std::string native = NativePath(path);
    // Most output files are new: asking for a new file first spares the file system a search for
    // an old one to truncate; a file from an earlier run is replaced on the second try.
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    return fd < 0 ? InvalidFile : fd;
}

void Close(FileHandle file) {
    if (file != InvalidFile) {
        ::close(Descriptor(file));
    }
}

bool SetPosition(FileHandle file, std::uint64_t offset) {
    return ::lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::size_t Read(FileHandle file, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    std::size_t delivered = 0;
    while (delivered < count) {
        ssize_t got = ::read(Descriptor(file), bytes + delivered,
                             std::min(count - delivered, LargestTransfer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        delivered += static_cast<std::size_t>(got);
    }
    return delivered;
}

std::size_t Write(FileHandle file, const void* source, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(source);
    std::size_t written = 0;
    while (written < count) {
        ssize_t put =
            ::write(Descriptor(file), bytes + written, std::min(count - written, LargestTransfer));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        written += static_cast<std::size_t>(put);
    }
    return written;
}

bool Extend(FileHandle file, std::uint64_t size) {
    return ::ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0;
}

std::uint64_t FileSize(FileHandle file) {
    struct stat info {};
    if (::fstat(Descriptor(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

FileHandle StandardOutput() {
    // A pipe whose reader has gone makes writes fail, as they do on Windows, instead of ending the
    // run before its files are out.
    ::signal(SIGPIPE, SIG_IGN);
    return STDOUT_FILENO;
}

bool IsConsole(FileHandle output) {
    return ::isatty(Descriptor(output)) == 1;
}

// A terminal cannot be asked for its cursor without reading its answer from standard input, which
// the program never reads. The anchor is always taken at the start of a fresh line, so returning
// to it is a carriage return plus one line up for every row that the text since then wrapped onto.
void CaptureCursor(FileHandle, CursorAnchor&) {}

void ReturnCursor(FileHandle console, const CursorAnchor&, std::uint64_t columnsSinceAnchor) {
    std::uint64_t rows = 0;
    struct winsize size {};
    if (columnsSinceAnchor > 0 && ::ioctl(Descriptor(console), TIOCGWINSZ, &size) == 0 &&
        size.ws_col > 0) {
        // The cursor waits on the last column until the next character, so text that exactly
        // fills a row has not moved to the next one.
        rows = (columnsSinceAnchor - 1) / size.ws_col;
    }
    std::string control = "\r";
    if (rows > 0) {
        control += "\x1b[" + std::to_string(rows) + "A";
    }
    Write(console, control.data(), control.size());
}

std::optional<std::string> WholeCommandLine() {
    return std::nullopt;
}

} // namespace platform
