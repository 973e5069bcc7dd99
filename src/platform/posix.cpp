#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
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

ErrorCode LastError() {
    return static_cast<ErrorCode>(errno);
}

std::string DescribeError(ErrorCode code) {
    return std::strerror(static_cast<int>(code));
}

std::string ShownPath(const std::string& path) {
    // Empty names between separators make no folder, so one separator shows where the file went.
    std::string shown;
    for (char character : NativePath(path)) {
        if (character != '/' || shown.empty() || shown.back() != '/') {
            shown += character;
        }
    }
    return shown;
}

std::optional<std::string> FindIgnoringCase(const std::string& name) {
    DIR* folder = ::opendir(".");
    if (folder == nullptr) {
        return std::nullopt;
    }
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    std::optional<std::string> found;
    while (const struct dirent* entry = ::readdir(folder)) {
        std::string candidate = entry->d_name;
        struct stat info {};
        if (candidate.size() != name.size() || (found && candidate >= *found) ||
            !std::equal(candidate.begin(), candidate.end(), name.begin(),
                        [&](char a, char b) { return lower(a) == lower(b); }) ||
            ::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        found = candidate;
    }
    ::closedir(folder);
    return found;
}

FileHandle OpenForReading(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes.
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return InvalidFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = ENOENT;
        return InvalidFile;
    }
    return fd;
}

std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    std::size_t delivered = 0;
    while (delivered < count) {
        ssize_t got = ::pread(Descriptor(file), bytes + delivered,
                              std::min(count - delivered, LargestTransfer),
                              static_cast<off_t>(offset + delivered));
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

std::uint64_t FileSize(FileHandle file) {
    struct stat info {};
    if (::fstat(Descriptor(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

FileHandle CreateReplacing(const std::string& path) {
    std::string native = NativePath(path);
    // O_EXCL fails on anything at the path, a symbolic link included, so the file opened is always
    // one made here. What stands in the way is unlinked: the name goes, a link's target and the
    // other names of a hard link keep their data. A few tries, in case something slips back in.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(native.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            return InvalidFile;
        }
        if (::unlink(native.c_str()) != 0 && errno != ENOENT) {
            return InvalidFile; // a folder, or a name that may not be removed
        }
    }
    errno = EEXIST;
    return InvalidFile;
}

std::size_t CopyRange([[maybe_unused]] FileHandle from, [[maybe_unused]] std::uint64_t offset,
                      [[maybe_unused]] FileHandle to, [[maybe_unused]] std::size_t count) {
    std::size_t copied = 0;
#if defined(__linux__)
    while (copied < count) {
        auto at = static_cast<off_t>(offset + copied);
        ssize_t put = ::copy_file_range(Descriptor(from), &at, Descriptor(to), nullptr,
                                        std::min(count - copied, LargestTransfer), 0);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break; // the end of from, or files the kernel cannot copy between
        }
        copied += static_cast<std::size_t>(put);
    }
#endif
    return copied;
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

bool Close(FileHandle file) {
    if (file == InvalidFile) {
        return true;
    }
    // Network file systems and quotas report failed writes only here. After EINTR the descriptor
    // is gone on Linux and must not be closed again.
    return ::close(Descriptor(file)) == 0 || errno == EINTR;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool MakeFolder(const std::string& path) {
    std::string native = NativePath(path);
    if (::mkdir(native.c_str(), 0777) == 0) {
        return true;
    }
    int reason = errno;
    struct stat info {};
    if (reason == EEXIST && ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return true;
    }
    errno = reason;
    return false;
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
    // Back to the start, up the rows the text wrapped onto, and clear: the rest of the line, or
    // everything below when the text took several rows.
    std::string control = "\r";
    if (rows > 0) {
        control += "\x1b[" + std::to_string(rows) + "A\x1b[J";
    } else {
        control += "\x1b[K";
    }
    Write(console, control.data(), control.size());
}

std::optional<std::string> WholeCommandLine() {
    return std::nullopt;
}

} // namespace platform
