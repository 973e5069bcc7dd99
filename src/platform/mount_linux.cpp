// Mounts through libfuse 3, which is opened at run time: a machine without it runs every other job
// of the tool, and only a mount asks for it (libfuse is LGPL; it is never linked statically).

#include "platform/mount.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if __has_include(<fuse3/fuse.h>)
#define FUSE_USE_VERSION 31
#include <dlfcn.h>
#include <fuse3/fuse_lowlevel.h>
#define CSCUNPACK_HAS_FUSE 1
#endif

namespace platform {

FileTime ModifiedTime(FileHandle file) {
    struct stat info {};
    if (::fstat(static_cast<int>(file), &info) != 0) {
        return {};
    }
    return FileTime{.Seconds = static_cast<std::int64_t>(info.st_mtim.tv_sec),
                    .Nanoseconds = static_cast<std::uint32_t>(info.st_mtim.tv_nsec)};
}

ErrorCode ResolveMountPoint(const std::string& path, std::string& resolved) {
    char* full = ::realpath(path.c_str(), nullptr);
    if (full == nullptr) {
        return static_cast<ErrorCode>(errno);
    }
    resolved = full;
    std::free(full);
    return NoError;
}

std::string UnmountCommand(const std::string& folder) {
    bool plain =
        !folder.empty() && folder.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                    "0123456789_./+,:@%=-") == std::string::npos;
    std::string quoted = plain ? folder : "'";
    if (!plain) {
        for (char character : folder) {
            quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
        }
        quoted += "'";
    }
    return "fusermount3 -u " + quoted;
}

std::string WhyCannotMountAt(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        int error = errno;
        if (error == ENOTCONN) {
            // What a mount whose process was killed leaves: the kernel still holds it.
            return DescribeError(static_cast<ErrorCode>(error)) +
                   ": a mount left by a run that was killed stands there; clear it with " +
                   UnmountCommand(folder);
        }
        return DescribeError(static_cast<ErrorCode>(error));
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(listing);
    if (!empty) {
        return "not an empty folder";
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        return "/dev/fuse cannot be opened: " + DescribeError(static_cast<ErrorCode>(errno));
    }
    return "";
}

#if defined(CSCUNPACK_HAS_FUSE)
namespace {

constexpr const char* Library = "libfuse3.so.3";

// The few calls of libfuse's low-level interface that a mount makes, found by name once the
// library is open. The numbered name is the one the library exports for the version of the call
// used here.
struct Fuse {
    void* Handle = nullptr;
    fuse_session* (*New)(fuse_args*, const fuse_lowlevel_ops*, std::size_t, void*) = nullptr;
    int (*Mount)(fuse_session*, const char*) = nullptr;
    void (*Unmount)(fuse_session*) = nullptr;
    void (*Destroy)(fuse_session*) = nullptr;
    int (*LoopMt)(fuse_session*, int) = nullptr;
    // Since libfuse 3.12; its older loop call leaves the settings it makes allocated.
    fuse_loop_config* (*NewLoopSettings)() = nullptr;
    void (*FreeLoopSettings)(fuse_loop_config*) = nullptr;
    int (*LoopMtWithSettings)(fuse_session*, fuse_loop_config*) = nullptr;
    int (*SetSignalHandlers)(fuse_session*) = nullptr;
    void (*RemoveSignalHandlers)(fuse_session*) = nullptr;
    void (*SetLogFunction)(fuse_log_func_t) = nullptr;
    void (*FreeArguments)(fuse_args*) = nullptr;
    int (*ReplyEntry)(fuse_req_t, const fuse_entry_param*) = nullptr;
    int (*ReplyAttributes)(fuse_req_t, const struct stat*, double) = nullptr;
    int (*ReplyError)(fuse_req_t, int) = nullptr;
    int (*ReplyOpen)(fuse_req_t, const fuse_file_info*) = nullptr;
    int (*ReplyBuffer)(fuse_req_t, const char*, std::size_t) = nullptr;
    int (*ReplyStatistics)(fuse_req_t, const struct statvfs*) = nullptr;
    std::size_t (*AddFolderEntry)(fuse_req_t, char*, std::size_t, const char*, const struct stat*,
                                  off_t) = nullptr;
};

template <typename Function> bool Find(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

bool Open(Fuse& fuse) {
    fuse.Handle = ::dlopen(Library, RTLD_NOW | RTLD_LOCAL);
    if (fuse.Handle != nullptr &&
        !(Find(fuse.Handle, "fuse_loop_cfg_create", fuse.NewLoopSettings) &&
          Find(fuse.Handle, "fuse_loop_cfg_destroy", fuse.FreeLoopSettings) &&
          Find(fuse.Handle, "fuse_session_loop_mt_312", fuse.LoopMtWithSettings))) {
        fuse.LoopMtWithSettings = nullptr;
    }
    return fuse.Handle != nullptr && Find(fuse.Handle, "fuse_session_new", fuse.New) &&
           Find(fuse.Handle, "fuse_session_mount", fuse.Mount) &&
           Find(fuse.Handle, "fuse_session_unmount", fuse.Unmount) &&
           Find(fuse.Handle, "fuse_session_destroy", fuse.Destroy) &&
           Find(fuse.Handle, "fuse_session_loop_mt_31", fuse.LoopMt) &&
           Find(fuse.Handle, "fuse_set_signal_handlers", fuse.SetSignalHandlers) &&
           Find(fuse.Handle, "fuse_remove_signal_handlers", fuse.RemoveSignalHandlers) &&
           Find(fuse.Handle, "fuse_set_log_func", fuse.SetLogFunction) &&
           Find(fuse.Handle, "fuse_opt_free_args", fuse.FreeArguments) &&
           Find(fuse.Handle, "fuse_reply_entry", fuse.ReplyEntry) &&
           Find(fuse.Handle, "fuse_reply_attr", fuse.ReplyAttributes) &&
           Find(fuse.Handle, "fuse_reply_err", fuse.ReplyError) &&
           Find(fuse.Handle, "fuse_reply_open", fuse.ReplyOpen) &&
           Find(fuse.Handle, "fuse_reply_buf", fuse.ReplyBuffer) &&
           Find(fuse.Handle, "fuse_reply_statfs", fuse.ReplyStatistics) &&
           Find(fuse.Handle, "fuse_add_direntry", fuse.AddFolderEntry);
}

Fuse library;
// The tree served; one mount per process.
const MountedTree* served = nullptr;
// What libfuse last said went wrong, for the one line of the tool's own.
char lastWords[256];

void KeepLastWords(fuse_log_level level, const char* format, va_list arguments) {
    if (level <= FUSE_LOG_ERR) {
        std::vsnprintf(lastWords, sizeof lastWords, format, arguments);
        lastWords[std::strcspn(lastWords, "\n")] = '\0';
    }
}

// Everything below the mount belongs to whoever mounted it.
const uid_t owner = ::getuid();
const gid_t group = ::getgid();

// Nothing under the mount ever changes: what the kernel has looked up stays good for an hour.
constexpr double Forever = 3600;

// The kernel's numbers for the tree's entries: the root is 1, as FUSE has it, and the tree's
// entry n is n + 1.
fuse_ino_t InodeOf(std::uint64_t number) {
    return number + FUSE_ROOT_ID;
}
std::uint64_t NumberOf(fuse_ino_t inode) {
    return inode - FUSE_ROOT_ID;
}

// The entry of inode, or none for a number the tree does not know.
std::optional<MountedEntry> EntryOf(fuse_ino_t inode) {
    return inode >= FUSE_ROOT_ID ? served->Entry(NumberOf(inode)) : std::nullopt;
}

void Describe(std::uint64_t number, const MountedEntry& entry, struct stat* info) {
    std::memset(info, 0, sizeof *info);
    info->st_ino = InodeOf(number);
    info->st_mode = entry.Folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    info->st_nlink = entry.Folder ? 2 : 1;
    info->st_uid = owner;
    info->st_gid = group;
    info->st_size = static_cast<off_t>(entry.Size);
    info->st_blocks = static_cast<blkcnt_t>((entry.Size + 511) / 512);
    info->st_blksize = 4096;
    info->st_mtim.tv_sec = static_cast<time_t>(entry.Modified.Seconds);
    info->st_mtim.tv_nsec = static_cast<long>(entry.Modified.Nanoseconds);
    info->st_ctim = info->st_atim = info->st_mtim;
}

// Whether the kernel takes an open (of a file, of a folder) answered with ENOSYS as a success that
// it need not ask for again; set once, before the first request.
bool opensUnasked = false;
bool folderOpensUnasked = false;

void Init(void*, fuse_conn_info* connection) {
    // Plain listings, which the kernel keeps (readdirplus would ask for each folder every time).
    connection->want &= ~FUSE_CAP_READDIRPLUS;
    opensUnasked = (connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0;
    folderOpensUnasked = (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
}

// Opens are not needed: numbers name the entries. Where the kernel can do without them, it then
// asks no more, keeps each file's pages and each folder's listing, and a walk of the tree costs no
// round trip for a folder it has seen.
void OpenFolder(fuse_req_t request, fuse_ino_t, fuse_file_info* folder) {
    if (folderOpensUnasked) {
        library.ReplyError(request, ENOSYS);
        return;
    }
    folder->cache_readdir = 1;
    folder->keep_cache = 1;
    library.ReplyOpen(request, folder);
}

void OpenFile(fuse_req_t request, fuse_ino_t, fuse_file_info* file) {
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        library.ReplyError(request, EROFS);
    } else if (opensUnasked) {
        library.ReplyError(request, ENOSYS);
    } else {
        file->keep_cache = 1;
        library.ReplyOpen(request, file);
    }
}

// A request that runs out of memory (the tree may work out a part of itself when it is first asked
// for) fails alone, and the mount goes on.
template <typename Answer> void Answering(fuse_req_t request, Answer answer) {
    try {
        answer();
    } catch (const std::bad_alloc&) {
        library.ReplyError(request, ENOMEM);
    }
}

void LookUp(fuse_req_t request, fuse_ino_t folder, const char* name) {
    Answering(request, [&] {
        fuse_entry_param entry{};
        entry.attr_timeout = entry.entry_timeout = Forever; // a name not found stays not found too
        if (std::optional<MountedEntry> holder = EntryOf(folder); holder && holder->Folder) {
            if (std::optional<std::uint64_t> child = served->Lookup(NumberOf(folder), name)) {
                entry.ino = InodeOf(*child);
                Describe(*child, *served->Entry(*child), &entry.attr);
            }
        }
        library.ReplyEntry(request, &entry);
    });
}

void GetAttributes(fuse_req_t request, fuse_ino_t inode, fuse_file_info*) {
    std::optional<MountedEntry> entry = EntryOf(inode);
    if (!entry) {
        library.ReplyError(request, ENOENT);
        return;
    }
    struct stat info {};
    Describe(NumberOf(inode), *entry, &info);
    library.ReplyAttributes(request, &info, Forever);
}

// Fills one reply of at most size bytes with the folder's entries from offset on: "." and ".."
// are entries 0 and 1, the folder's own from 2.
void ReadFolder(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset,
                fuse_file_info*) {
    Answering(request, [&] {
        std::optional<MountedEntry> holder = EntryOf(inode);
        if (!holder || !holder->Folder) {
            library.ReplyError(request, holder ? ENOTDIR : ENOENT);
            return;
        }
        std::vector<char> reply(size);
        std::size_t used = 0;
        struct stat info {};
        auto add = [&](const char* name, std::uint64_t number, off_t next) {
            Describe(number, *served->Entry(number), &info); // its type, for find and ls
            std::size_t needed = library.AddFolderEntry(request, reply.data() + used, size - used,
                                                        name, &info, next);
            if (needed > size - used) {
                return false;
            }
            used += needed;
            return true;
        };
        std::uint64_t folder = NumberOf(inode);
        bool room = true;
        if (offset < 1) {
            room = add(".", folder, 1);
        }
        if (room && offset < 2) {
            room = add("..", folder, 2); // the kernel itself knows the folder above
        }
        if (room) {
            std::uint64_t from = offset < 2 ? 0 : static_cast<std::uint64_t>(offset) - 2;
            std::string name;
            served->ForEachIn(folder, from,
                              [&](std::string_view entry, std::uint64_t child, std::uint64_t next) {
                                  name.assign(entry);
                                  return add(name.c_str(), child, static_cast<off_t>(next) + 2);
                              });
        }
        library.ReplyBuffer(request, reply.data(), used);
    });
}

void ReadFile(fuse_req_t request, fuse_ino_t inode, std::size_t count, off_t offset,
              fuse_file_info*) {
    Answering(request, [&] {
        std::optional<MountedEntry> entry = EntryOf(inode);
        if (!entry || entry->Folder) {
            library.ReplyError(request, entry ? EISDIR : ENOENT);
            return;
        }
        std::vector<char> bytes(count);
        Moved read =
            served->Read(NumberOf(inode), static_cast<std::uint64_t>(offset), bytes.data(), count);
        if (read.Error != NoError) {
            library.ReplyError(request, static_cast<int>(read.Error));
            return;
        }
        library.ReplyBuffer(request, bytes.data(), read.Bytes);
    });
}

void Statistics(fuse_req_t request, fuse_ino_t) {
    struct statvfs info {};
    info.f_bsize = info.f_frsize = 4096;
    info.f_blocks = (served->Bytes() + 4095) / 4096;
    info.f_files = served->Entries();
    info.f_namemax = 255;
    info.f_flag = ST_RDONLY;
    library.ReplyStatistics(request, &info);
}

// The run's own interrupt handlers give way to libfuse's, which end its loop; a signal that was
// ignored when the process started stays ignored.
void LeaveInterruptsToFuse() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {};
        if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) {
            ::signal(signal, SIG_DFL);
        }
    }
}

// Detaches as a daemon does: a new process, in a session of its own and without a terminal, goes
// on from here; the one the user started ends with exitCode once the new one stands on its own,
// and not before, so that whoever waits for it finds the mount served. False, in the process the
// user started, where no new process could be made.
bool Detach(int exitCode) {
    int waiter[2];
    if (::pipe(waiter) != 0) {
        return false;
    }
    pid_t child = ::fork();
    if (child < 0) {
        ::close(waiter[0]);
        ::close(waiter[1]);
        return false;
    }
    if (child > 0) {
        ::close(waiter[1]);
        char done = 0;
        ssize_t got = 0;
        do {
            got = ::read(waiter[0], &done, 1);
        } while (got < 0 && errno == EINTR);
        // Everything the run had to say was written before the mount stood.
        ::_exit(got == 1 ? exitCode : 1);
    }
    ::close(waiter[0]);
    ::setsid();
    if (::chdir("/") != 0) {
        // Nothing depends on the current folder any more: the paths kept are absolute.
    }
    if (int null = ::open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO) {
            ::close(null);
        }
    }
    char done = 1;
    [[maybe_unused]] ssize_t told = ::write(waiter[1], &done, 1);
    ::close(waiter[1]);
    return true;
}

} // namespace

std::string WhyNoMount() {
    void* handle = ::dlopen(Library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return "--mount needs libfuse 3, which this system lacks: install the fuse3 package "
               "(apt install fuse3)";
    }
    ::dlclose(handle);
    return "";
}

ErrorCode ServeMount(const std::string& folder, const MountedTree& tree, bool background,
                     const std::function<Standing()>& ready, std::string& problem) {
    // The folder may have changed since the caller looked, while the tree was built.
    if (problem = WhyCannotMountAt(folder); !problem.empty()) {
        return EINVAL;
    }
    if (library.Handle == nullptr && !Open(library)) {
        problem = "libfuse 3 could not be loaded";
        return ENOSYS;
    }
    library.SetLogFunction(KeepLastWords);
    served = &tree;
    static fuse_lowlevel_ops operations{};
    operations.init = Init;
    operations.lookup = LookUp;
    operations.getattr = GetAttributes;
    operations.opendir = OpenFolder;
    operations.open = OpenFile;
    operations.readdir = ReadFolder;
    operations.read = ReadFile;
    operations.statfs = Statistics;
    // Read-only, and checked by the kernel against the modes shown.
    char name[] = "cscunpack";
    char option[] = "-o";
    char settings[] = "ro,default_permissions,fsname=cscunpack,subtype=cscunpack";
    char* argv[] = {name, option, settings, nullptr};
    fuse_args arguments = FUSE_ARGS_INIT(3, argv);
    lastWords[0] = '\0';
    fuse_session* session = library.New(&arguments, &operations, sizeof operations, nullptr);
    library.FreeArguments(&arguments); // what parsing them allocated
    if (session == nullptr) {
        problem = lastWords[0] != '\0' ? lastWords : "libfuse refused to start";
        return EINVAL;
    }
    // The session keeps this path, and unmounts by it: an absolute one, whatever folder the
    // process stands in by then (a mount that detaches stands in "/").
    if (library.Mount(session, folder.c_str()) != 0) {
        problem = lastWords[0] != '\0' ? lastWords : "the system refused the mount";
        library.Destroy(session);
        return EPERM;
    }
    LeaveInterruptsToFuse();
    library.SetSignalHandlers(session);
    Standing standing = ready();
    ErrorCode result = NoError;
    if (standing.Stays && background && !Detach(standing.DetachedExitCode)) {
        problem = "could not detach";
        result = ECHILD;
    } else if (standing.Stays) {
        fuse_loop_config* settings =
            library.LoopMtWithSettings != nullptr ? library.NewLoopSettings() : nullptr;
        if (settings != nullptr) {
            library.LoopMtWithSettings(session, settings);
            library.FreeLoopSettings(settings);
        } else {
            library.LoopMt(session, 0);
        }
    }
    library.RemoveSignalHandlers(session);
    library.Unmount(session);
    library.Destroy(session);
    served = nullptr;
    return result;
}

#else

std::string WhyNoMount() {
    return "--mount is not part of this build: it was built without libfuse 3 (libfuse3-dev)";
}

ErrorCode ServeMount(const std::string&, const MountedTree&, bool, const std::function<Standing()>&,
                     std::string& problem) {
    problem = WhyNoMount();
    return ENOSYS;
}

#endif

} // namespace platform
