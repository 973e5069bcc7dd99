// The platform on Linux: it leans on O_PATH, openat2, O_TMPFILE, /proc/self/fd and
// /proc/self/statm, which other POSIX systems lack. Where an older kernel lacks one of them, it
// takes the way round that each function names.
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#endif

namespace platform {
namespace {

int Descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// read() and write() move at most about 2 GiB per call.
constexpr std::size_t LargestTransfer = 0x40000000;

std::atomic<bool> InterruptArrived = false;

void NoteInterrupt(int) {
    InterruptArrived.store(true);
}

// Where path's last component begins.
std::size_t LastComponent(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The code of the call that has just failed, read before anything else can change it.
ErrorCode Failed() {
    return static_cast<ErrorCode>(errno);
}

// Opens path below root with flags into fd, following no link on the way, not even in its last
// component. Where the kernel cannot promise that in one call, the path is
// walked one folder at a time.
ErrorCode OpenBeneath(const OutputRoot& root, const std::string& path, int flags, mode_t mode,
                      int& fd) {
#if defined(__linux__) && defined(SYS_openat2)
    static std::atomic<bool> withoutOpenat2 = false;
    if (!withoutOpenat2.load(std::memory_order_relaxed)) {
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW);
        how.mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
        // Paths below the root hold no "..", so refusing every link is all it takes to stay below.
        how.resolve = RESOLVE_NO_SYMLINKS;
        long opened;
        do {
            opened =
                ::syscall(SYS_openat2, Descriptor(root.Folder), path.c_str(), &how, sizeof how);
        } while (opened < 0 && errno == EINTR);
        if (opened >= 0) {
            fd = static_cast<int>(opened);
            return NoError;
        }
        if (errno != ENOSYS && errno != EPERM) {
            return Failed();
        }
        withoutOpenat2.store(true, std::memory_order_relaxed); // an older kernel, or a sandbox
    }
#endif
    int folder = Descriptor(root.Folder);
    int owned = -1;
    std::size_t begin = 0;
    while (true) {
        std::size_t slash = path.find('/', begin);
        std::string component =
            path.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin);
        int next;
        if (slash == std::string::npos) {
            next = ::openat(folder, component.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        } else {
            next =
                ::openat(folder, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        ErrorCode reason = next < 0 ? Failed() : NoError;
        if (owned >= 0) {
            ::close(owned);
        }
        if (next < 0) {
            return reason;
        }
        if (slash == std::string::npos) {
            fd = next;
            return NoError;
        }
        folder = owned = next;
        begin = slash + 1;
    }
}

// The folder that holds path's last component, opened for lookups below it, following no link on
// the way. The root itself is not opened again.
ErrorCode OpenParent(const OutputRoot& root, const std::string& path, bool& isRoot, int& folder) {
    std::size_t last = LastComponent(path);
    isRoot = last == 0;
    if (isRoot) {
        folder = Descriptor(root.Folder);
        return NoError;
    }
    return OpenBeneath(root, path.substr(0, last - 1), O_PATH | O_DIRECTORY | O_CLOEXEC, 0, folder);
}

void CloseParent(int folder, bool isRoot) {
    if (!isRoot && folder >= 0) {
        ::close(folder);
    }
}

} // namespace

std::string DescribeError(ErrorCode code) {
    return std::strerror(static_cast<int>(code));
}

bool IsNotFound(ErrorCode code) {
    return code == ENOENT;
}

bool IsAlreadyThere(ErrorCode code) {
    return code == EEXIST;
}

ErrorCode AlreadyThereError() {
    return EEXIST;
}

ErrorCode NotAFolderError() {
    return ENOTDIR;
}

ErrorCode LinkInTheWayError() {
    return ELOOP; // what the system itself says when it is told to follow no link and meets one
}

ErrorCode NameTooLongError() {
    return ENAMETOOLONG;
}

ErrorCode FolderInTheWayError() {
    return EISDIR;
}

ErrorCode NotFoundError() {
    return ENOENT;
}

std::string FoldedForIdentity(std::string_view path) {
    return std::string(path);
}

std::string NameAsText(std::string_view stored) {
    std::string text;
    text.reserve(stored.size());
    for (char character : stored) {
        auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x80) {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            text += character;
        }
    }
    return text;
}

std::optional<std::string> StoredNameOf(std::string_view text) {
    return std::string(text);
}

void LetTheNextThreadHaveItsOwnHeap() {
#if defined(__GLIBC__)
    // A thread's first allocation makes it an arena while there are fewer than the most allowed.
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

void PrepareProcess() {
#if defined(__GLIBC__)
    // Each thread that allocates would get an arena of its own, reserving 64 MiB of address space
    // that nothing counts: under a limit on the address space, more writers would then fail where
    // one succeeds. The threads allocate little, so one arena serves them all.
    ::mallopt(M_ARENA_MAX, 1);
#endif
    // A pipe whose reader has gone, and a file that grows past the size limit, make writes fail,
    // as they do on Windows, instead of ending the run before its files are out.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored on entry stays ignored: nohup and a shell's background jobs ask for it.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

bool Interrupted() {
    return InterruptArrived.load(std::memory_order_relaxed);
}

void InterruptHandled() {}

std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
    std::string where = folder.empty() ? "." : folder;
    DIR* listing = ::opendir(where.c_str());
    if (listing == nullptr) {
        return std::nullopt;
    }
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    std::optional<std::string> found;
    while (const struct dirent* entry = ::readdir(listing)) {
        std::string candidate = entry->d_name;
        struct stat info {};
        if (candidate.size() != name.size() || (found && candidate >= *found) ||
            !std::equal(candidate.begin(), candidate.end(), name.begin(),
                        [&](char a, char b) { return lower(a) == lower(b); }) ||
            ::fstatat(::dirfd(listing), candidate.c_str(), &info, 0) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        found = candidate;
    }
    ::closedir(listing);
    return found;
}

std::string PathInFolder(const std::string& folder, std::string_view name) {
    if (folder.empty()) {
        return std::string(name);
    }
    return folder + (folder.back() == '/' ? "" : "/") + std::string(name);
}

ErrorCode CheckFolder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return Failed();
    }
    return S_ISDIR(info.st_mode) ? NoError : NotAFolderError();
}

ErrorCode OpenForReading(const std::string& path, FileHandle& file) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return Failed();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ENOENT;
    }
    file = fd;
    return NoError;
}

Moved ReadAt(FileHandle file, std::uint64_t offset, void* destination, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(destination);
    Moved read;
    while (read.Bytes < count) {
        ssize_t got = ::pread(Descriptor(file), bytes + read.Bytes,
                              std::min(count - read.Bytes, LargestTransfer),
                              static_cast<off_t>(offset + read.Bytes));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            read.Error = Failed();
        }
        if (got <= 0) {
            break;
        }
        read.Bytes += static_cast<std::size_t>(got);
    }
    return read;
}

std::uint64_t FileSize(FileHandle file) {
    struct stat info {};
    if (::fstat(Descriptor(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

Moved CopyRange([[maybe_unused]] FileHandle from, [[maybe_unused]] std::uint64_t offset,
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
    return Moved{.Bytes = copied, .Error = NoError};
}

Moved Write(FileHandle file, const void* source, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(source);
    Moved written;
    while (written.Bytes < count) {
        ssize_t put = ::write(Descriptor(file), bytes + written.Bytes,
                              std::min(count - written.Bytes, LargestTransfer));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            written.Error = put < 0 ? Failed() : EIO;
            break;
        }
        written.Bytes += static_cast<std::size_t>(put);
    }
    return written;
}

bool IsBrokenPipe(ErrorCode code) {
    return code == EPIPE;
}

ErrorCode Extend(FileHandle file, std::uint64_t size) {
    return ::ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0 ? NoError : Failed();
}

Stretch NextData(FileHandle file, std::uint64_t offset, std::uint64_t end) {
    off_t data = ::lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        // Past the last data there is only a hole; any other failure tells nothing.
        return errno == ENXIO ? Stretch{end, end} : Stretch{offset, end};
    }
    off_t hole = ::lseek(Descriptor(file), data, SEEK_HOLE);
    auto start = std::min(static_cast<std::uint64_t>(data), end);
    return Stretch{start,
                   hole < 0 ? end : std::clamp(static_cast<std::uint64_t>(hole), start, end)};
}

ErrorCode SyncBelow(const OutputRoot&, FileHandle file) {
    return ::fdatasync(Descriptor(file)) == 0 ? NoError : Failed();
}

ErrorCode Close(FileHandle file) {
    if (file == InvalidFile) {
        return NoError;
    }
    // Network file systems and quotas report failed writes only here. After EINTR the descriptor
    // is gone on Linux and must not be closed again.
    return ::close(Descriptor(file)) == 0 || errno == EINTR ? NoError : Failed();
}

ErrorCode MakeFolders(const std::string& folder) {
    for (std::size_t end = 0; end != std::string::npos;) {
        end = folder.find('/', end + 1);
        std::string level = folder.substr(0, end);
        if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
            return Failed();
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return Failed();
    }
    return S_ISDIR(info.st_mode) ? NoError : NotAFolderError();
}

ErrorCode OpenOutputRoot(const std::string& folder, OutputRoot& root) {
    root = OutputRoot{};
    if (folder.empty()) {
        root.Folder = AT_FDCWD; // no descriptor spent on the current folder
    } else {
        int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Failed();
        }
        root.Folder = fd;
    }
#if defined(__linux__)
    struct statfs system {};
    root.Volatile = ::statfs(folder.empty() ? "." : folder.c_str(), &system) == 0 &&
                    (system.f_type == TMPFS_MAGIC || system.f_type == RAMFS_MAGIC);
#endif
    return NoError;
}

ErrorCode CheckWritable(const OutputRoot& root) {
    // The rights of the user the process runs as, not of the one who started it.
    return ::faccessat(Descriptor(root.Folder), ".", W_OK | X_OK, AT_EACCESS) == 0 ? NoError
                                                                                   : Failed();
}

void CloseOutputRoot(OutputRoot& root) {
    if (root.Folder >= 0) {
        ::close(Descriptor(root.Folder));
    }
    root.Folder = InvalidFile;
}

ErrorCode MakeFolderBelow(const OutputRoot& root, const std::string& path, bool& madeNow) {
    bool isRoot = false;
    int parent = -1;
    if (ErrorCode error = OpenParent(root, path, isRoot, parent); error != NoError) {
        return error;
    }
    std::string name = path.substr(LastComponent(path));
    ErrorCode result = NoError;
    madeNow = ::mkdirat(parent, name.c_str(), 0777) == 0;
    if (!madeNow) {
        result = Failed();
        struct stat info {};
        if (result == EEXIST && ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            result = S_ISDIR(info.st_mode)   ? NoError
                     : S_ISLNK(info.st_mode) ? LinkInTheWayError()
                                             : NotAFolderError();
        }
    }
    CloseParent(parent, isRoot);
    return result;
}

ErrorCode CreateNewBelow(const OutputRoot& root, const std::string& path, FileHandle& file) {
    // O_EXCL fails on anything at the path, a symbolic link included, so the file opened is always
    // one made here.
    int fd = -1;
    file = InvalidFile;
    ErrorCode error =
        OpenBeneath(root, path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666, fd);
    if (error == NoError) {
        file = fd;
    }
    return error;
}

ErrorCode CreateUnnamedBelow([[maybe_unused]] const OutputRoot& root,
                             [[maybe_unused]] const std::string& folder, FileHandle& file) {
    file = InvalidFile;
#if defined(__linux__) && defined(O_TMPFILE)
    // Naming the file later goes through /proc; without it, files are made under a name at once.
    static const bool named = ::access("/proc/self/fd", X_OK) == 0;
    static std::atomic<bool> unsupported = !named;
    if (!unsupported.load(std::memory_order_relaxed)) {
        int fd = -1;
        ErrorCode error = OpenBeneath(root, folder.empty() ? "." : folder,
                                      O_TMPFILE | O_WRONLY | O_NOCTTY | O_CLOEXEC, 0666, fd);
        if (error == NoError) {
            file = fd;
            return NoError;
        }
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) {
            return error;
        }
        unsupported.store(true, std::memory_order_relaxed); // a file system without it
    }
#endif
    return EOPNOTSUPP;
}

ErrorCode PlaceBelow(const OutputRoot& root, FileHandle file, const std::string& beside,
                     const std::string& path) {
    // The folder is reached once, following no link, and both names are given within it.
    bool isRoot = false;
    int parent = -1;
    if (ErrorCode error = OpenParent(root, path, isRoot, parent); error != NoError) {
        return error;
    }
    std::string besideName = beside.substr(LastComponent(beside));
    std::string name = path.substr(LastComponent(path));
    std::string self = "/proc/self/fd/" + std::to_string(Descriptor(file));
    ErrorCode result = NoError;
    if (::linkat(AT_FDCWD, self.c_str(), parent, besideName.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        result = Failed();
    } else if (::renameat(parent, besideName.c_str(), parent, name.c_str()) != 0) {
        result = Failed();
        ::unlinkat(parent, besideName.c_str(), 0);
    }
    CloseParent(parent, isRoot);
    return result;
}

bool IsNotSupported(ErrorCode code) {
    return code == EOPNOTSUPP;
}

ErrorCode RenameOpenBelow(const OutputRoot&, FileHandle, const std::string&) {
    return EOPNOTSUPP; // a name is given to the file itself (O_TMPFILE) or by renameat, closed
}

ErrorCode RenameBelow(const OutputRoot& root, const std::string& from, const std::string& to) {
    // Both names lie in one folder, reached through the same components, and the name renamed is
    // one that this run made under a name nobody can guess: were a folder on the way swapped for a
    // link meanwhile, the rename would find nothing to move rather than move something elsewhere.
    if (::renameat(Descriptor(root.Folder), from.c_str(), Descriptor(root.Folder), to.c_str()) !=
        0) {
        return Failed();
    }
    return NoError;
}

ErrorCode RemoveBelow(const OutputRoot& root, const std::string& path) {
    bool isRoot = false;
    int parent = -1;
    if (ErrorCode error = OpenParent(root, path, isRoot, parent); error != NoError) {
        return error;
    }
    std::string name = path.substr(LastComponent(path));
    ErrorCode result = ::unlinkat(parent, name.c_str(), 0) == 0 ? NoError : Failed();
    CloseParent(parent, isRoot);
    return result;
}

ErrorCode OpenExistingBelow(const OutputRoot& root, const std::string& path, FileHandle& file,
                            std::uint64_t& size) {
    int fd = -1;
    // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes.
    if (ErrorCode error =
            OpenBeneath(root, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0, fd);
        error != NoError) {
        return error;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ENOENT;
    }
    file = fd;
    size = static_cast<std::uint64_t>(info.st_size);
    return NoError;
}

ErrorCode CheckFolderBelow(const OutputRoot& root, const std::string& path) {
    int fd = -1;
    ErrorCode error = OpenBeneath(root, path, O_PATH | O_DIRECTORY | O_CLOEXEC, 0, fd);
    if (error == NoError) {
        ::close(fd);
    }
    return error;
}

ErrorCode ListBelow(const OutputRoot& root, const std::string& folder, std::string_view prefix,
                    std::vector<std::string>& names) {
    int fd = -1;
    if (ErrorCode error = OpenBeneath(root, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0, fd);
        error != NoError) {
        return error;
    }
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
        ErrorCode error = Failed();
        ::close(fd);
        return error;
    }
    while (const struct dirent* entry = ::readdir(listing)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    return NoError;
}

std::uint32_t ProcessNumber() {
    return static_cast<std::uint32_t>(::getpid());
}

bool WriterMayLive(std::uint32_t number) {
    return number == ProcessNumber() || ::kill(static_cast<pid_t>(number), 0) == 0 ||
           errno == EPERM;
}

std::uint64_t SpareDescriptors() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return UINT64_MAX;
    }
    std::uint64_t inUse = 0;
    if (DIR* open = ::opendir("/proc/self/fd")) {
        while (const struct dirent* entry = ::readdir(open)) {
            inUse += entry->d_name[0] != '.';
        }
        ::closedir(open);
        inUse -= 1; // the listing's own
    } else {
        // Descriptors are handed out lowest first, so those in use lie low; past the first
        // thousand none are looked for, which keeps a generous limit from costing a call for each.
        for (rlim_t fd = 0; fd < std::min<rlim_t>(limit.rlim_cur, 1024); ++fd) {
            inUse += ::fcntl(static_cast<int>(fd), F_GETFD) != -1;
        }
    }
    return inUse < limit.rlim_cur ? limit.rlim_cur - inUse : 0;
}

std::uint64_t SpareAddressSpace() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return UINT64_MAX;
    }
    std::uint64_t pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        unsigned long long size = 0;
        if (std::fscanf(statm, "%llu", &size) == 1) {
            pages = size;
        }
        std::fclose(statm);
    }
    std::uint64_t used = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return used < limit.rlim_cur ? limit.rlim_cur - used : 0;
}

ErrorCode StartThread(Thread& thread, void (*entry)(void*), void* argument,
                      std::size_t stackBytes) {
    struct Start {
        void (*Entry)(void*);
        void* Argument;
    };
    pthread_attr_t attributes;
    if (int error = ::pthread_attr_init(&attributes); error != 0) {
        return static_cast<ErrorCode>(error);
    }
    ::pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stackBytes, PTHREAD_STACK_MIN));
    auto* start = new (std::nothrow) Start{entry, argument};
    pthread_t id{};
    int error = start == nullptr ? ENOMEM
                                 : ::pthread_create(
                                       &id, &attributes,
                                       [](void* raw) -> void* {
                                           Start run = *static_cast<Start*>(raw);
                                           delete static_cast<Start*>(raw);
                                           run.Entry(run.Argument);
                                           return nullptr;
                                       },
                                       start);
    ::pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete start;
        return static_cast<ErrorCode>(error);
    }
    thread.Handle = static_cast<std::uintptr_t>(id);
    return NoError;
}

void JoinThread(Thread& thread) {
    ::pthread_join(static_cast<pthread_t>(thread.Handle), nullptr);
    thread.Handle = 0;
}

FileHandle StandardOutput() {
    return STDOUT_FILENO;
}

FileHandle StandardError() {
    return STDERR_FILENO;
}

bool IsTerminal(FileHandle output) {
    return ::isatty(Descriptor(output)) == 1;
}

bool TakesCharacters(FileHandle) {
    return false; // a terminal takes bytes, and shows a name's bytes as it would in ls
}

Moved WriteCharacters(FileHandle output, std::string_view text) {
    return Write(output, text.data(), text.size());
}

bool SameTerminal(FileHandle first, FileHandle second) {
    struct stat a {
    }, b{};
    return IsTerminal(first) && IsTerminal(second) && ::fstat(Descriptor(first), &a) == 0 &&
           ::fstat(Descriptor(second), &b) == 0 && a.st_rdev == b.st_rdev;
}

bool ConsoleOwnedAlone() {
    return false;
}

bool InputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

void WaitForEnter() {}

// A terminal cannot be asked for its cursor without reading its answer from standard input, which
// the program never reads. The anchor is always taken at the start of a fresh line, so returning
// to it is a carriage return plus one line up for every row that the text since then wrapped onto.
void CaptureCursor(FileHandle, CursorAnchor&) {}

void ReturnCursor(FileHandle console, const CursorAnchor&, std::uint64_t columnsSinceAnchor,
                  std::string& control) {
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
    control += "\r";
    if (rows > 0) {
        control += "\x1b[" + std::to_string(rows) + "A\x1b[J";
    } else {
        control += "\x1b[K";
    }
}

std::optional<std::string> WholeCommandLine() {
    return std::nullopt;
}

} // namespace platform
