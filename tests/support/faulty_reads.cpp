// A disk that fails, or crawls, for the tests that need one: loaded with LD_PRELOAD into a run of
// the tool, it changes the reads of one file. CSCUNPACK_FAULTY_FILE names the file (the end of its
// path); from the offset CSCUNPACK_FAIL_FROM on, every read of it fails with EIO (a read that
// starts before gives the bytes up to there); CSCUNPACK_SLOW_READS makes each read of it wait that
// many milliseconds first.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace {

bool IsTheFaultyFile(int fd) {
    const char* name = std::getenv("CSCUNPACK_FAULTY_FILE");
    char path[4096];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    if (name == nullptr || length <= 0) {
        return false;
    }
    std::string_view target(path, static_cast<std::size_t>(length));
    return target.ends_with(name);
}

// How many of count bytes from offset on may be read; -1 where the read fails.
long long Allowed(int fd, long long offset, std::size_t count) {
    if (!IsTheFaultyFile(fd)) {
        return static_cast<long long>(count);
    }
    if (const char* slow = std::getenv("CSCUNPACK_SLOW_READS")) {
        long milliseconds = std::atol(slow);
        timespec pause{milliseconds / 1000, milliseconds % 1000 * 1000000};
        ::nanosleep(&pause, nullptr);
    }
    const char* from = std::getenv("CSCUNPACK_FAIL_FROM");
    if (from == nullptr) {
        return static_cast<long long>(count);
    }
    long long failing = std::atoll(from);
    if (offset >= failing) {
        errno = EIO;
        return -1;
    }
    return std::min<long long>(static_cast<long long>(count), failing - offset);
}

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

ssize_t Read(const char* real, int fd, void* buffer, std::size_t count, off_t offset) {
    long long allowed = Allowed(fd, offset, count);
    if (allowed < 0) {
        return -1;
    }
    using Pread = ssize_t (*)(int, void*, std::size_t, off_t);
    static Pread next = Next<Pread>(real);
    return next(fd, buffer, static_cast<std::size_t>(allowed), offset);
}

} // namespace

extern "C" ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) {
    return Read("pread", fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, std::size_t count, off_t offset) {
    return Read("pread64", fd, buffer, count, offset);
}

// The kernel's own copy would pass the faults by.
extern "C" ssize_t copy_file_range(int in, off_t* inOffset, int out, off_t* outOffset,
                                   std::size_t count, unsigned flags) {
    if (IsTheFaultyFile(in)) {
        errno = EXDEV; // no copy within the system: the tool reads and writes the bytes itself
        return -1;
    }
    using Copy = ssize_t (*)(int, off_t*, int, off_t*, std::size_t, unsigned);
    static Copy next = Next<Copy>("copy_file_range");
    return next(in, inOffset, out, outOffset, count, flags);
}
