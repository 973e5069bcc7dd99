// Mounts through libfuse 3, which is opened at run time: a machine without it runs every other job
// of the tool, and only a mount asks for it (libfuse is LGPL; it is never linked statically).

#include "platform/mount.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if __has_include(<fuse3/fuse.h>)
#define FUSE_USE_VERSION 31
#include <dlfcn.h>
#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>
#define CSCUNPACK_HAS_FUSE 1
#endif

namespace platform {

std::int64_t ModifiedSeconds(FileHandle file) {
    struct stat info {};
    if (::fstat(static_cast<int>(file), &info) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(info.st_mtime);
}

ErrorCode CheckEmptyFolder(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        return static_cast<ErrorCode>(errno);
    }
    ErrorCode result = NoError;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            result = ENOTEMPTY;
            break;
        }
    }
    ::closedir(folder);
    return result;
}

bool IsNotEmpty(ErrorCode code) {
    return code == ENOTEMPTY;
}

#if defined(CSCUNPACK_HAS_FUSE)
namespace {

constexpr const char* Library = "libfuse3.so.3";

// The few calls of libfuse that a mount makes, found by name once the library is open. The
// numbered names are those the library exports for the versions of the calls used here.
struct Fuse {
    void* Handle = nullptr;
    fuse* (*New)(fuse_args*, const fuse_operations*, std::size_t, void*) = nullptr;
    int (*Mount)(fuse*, const char*) = nullptr;
    void (*Unmount)(fuse*) = nullptr;
    void (*Destroy)(fuse*) = nullptr;
    int (*LoopMt)(fuse*, int) = nullptr;
    fuse_session* (*Session)(fuse*) = nullptr;
    int (*SetSignalHandlers)(fuse_session*) = nullptr;
    void (*RemoveSignalHandlers)(fuse_session*) = nullptr;
    int (*Daemonize)(int) = nullptr;
    void (*SetLogFunction)(fuse_log_func_t) = nullptr;
    void (*FreeArguments)(fuse_args*) = nullptr;
};

template <typename Function> bool Find(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

bool Open(Fuse& fuse) {
    fuse.Handle = ::dlopen(Library, RTLD_NOW | RTLD_LOCAL);
    return fuse.Handle != nullptr && Find(fuse.Handle, "fuse_new_31", fuse.New) &&
           Find(fuse.Handle, "fuse_mount", fuse.Mount) &&
           Find(fuse.Handle, "fuse_unmount", fuse.Unmount) &&
           Find(fuse.Handle, "fuse_destroy", fuse.Destroy) &&
           Find(fuse.Handle, "fuse_loop_mt_31", fuse.LoopMt) &&
           Find(fuse.Handle, "fuse_get_session", fuse.Session) &&
           Find(fuse.Handle, "fuse_set_signal_handlers", fuse.SetSignalHandlers) &&
           Find(fuse.Handle, "fuse_remove_signal_handlers", fuse.RemoveSignalHandlers) &&
           Find(fuse.Handle, "fuse_daemonize", fuse.Daemonize) &&
           Find(fuse.Handle, "fuse_set_log_func", fuse.SetLogFunction) &&
           Find(fuse.Handle, "fuse_opt_free_args", fuse.FreeArguments);
}

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

void Describe(const MountedEntry& entry, struct stat* info) {
    std::memset(info, 0, sizeof *info);
    info->st_mode = entry.Folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    info->st_nlink = entry.Folder ? 2 : 1;
    info->st_uid = owner;
    info->st_gid = group;
    info->st_size = static_cast<off_t>(entry.Size);
    info->st_blocks = static_cast<blkcnt_t>((entry.Size + 511) / 512);
    info->st_blksize = 4096;
    info->st_mtime = info->st_ctime = info->st_atime = static_cast<time_t>(entry.ModifiedSeconds);
}

void* Init(fuse_conn_info* connection, fuse_config* config) {
    // Plain listings, which the kernel keeps (readdirplus would ask for each folder every time);
    // their entries are looked up once and kept too.
    connection->want &= ~FUSE_CAP_READDIRPLUS;
    // Nothing under the mount ever changes: what the kernel has looked up or read stays good.
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    config->kernel_cache = 1;
    return nullptr;
}

int GetAttributes(const char* path, struct stat* info, fuse_file_info*) {
    std::optional<std::uint64_t> number = served->Find(path);
    if (!number) {
        return -ENOENT;
    }
    Describe(served->Entry(*number), info);
    return 0;
}

int OpenFolder(const char*, fuse_file_info* folder) {
    folder->cache_readdir = 1; // a folder's entries never change
    folder->keep_cache = 1;
    return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
    std::optional<std::uint64_t> number = served->Find(path);
    if (!number) {
        return -ENOENT;
    }
    MountedEntry folder = served->Entry(*number);
    if (!folder.Folder) {
        return -ENOTDIR;
    }
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    struct stat info {};
    Describe(folder, &info);
    fill(buffer, ".", &info, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    std::string name;
    served->ForEachIn(*number, [&](std::string_view entry, std::uint64_t child) {
        name.assign(entry);
        Describe(served->Entry(child), &info); // its type, for find and ls
        fill(buffer, name.c_str(), &info, 0, none);
    });
    return 0;
}

int OpenFile(const char* path, fuse_file_info* file) {
    std::optional<std::uint64_t> number = served->Find(path);
    if (!number) {
        return -ENOENT;
    }
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    file->fh = *number;
    file->keep_cache = 1;
    return 0;
}

int ReadFile(const char*, char* buffer, std::size_t count, off_t offset, fuse_file_info* file) {
    Moved read = served->Read(file->fh, static_cast<std::uint64_t>(offset), buffer, count);
    if (read.Error != NoError) {
        return -static_cast<int>(read.Error);
    }
    return static_cast<int>(read.Bytes);
}

int Statistics(const char*, struct statvfs* info) {
    std::memset(info, 0, sizeof *info);
    info->f_bsize = info->f_frsize = 4096;
    info->f_blocks = (served->Bytes() + 4095) / 4096;
    info->f_files = served->Entries();
    info->f_namemax = 255;
    info->f_flag = ST_RDONLY;
    return 0;
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
                     const std::function<void()>& ready, std::string& problem) {
    if (ErrorCode error = CheckEmptyFolder(folder); error != NoError) {
        problem = error == ENOTEMPTY ? "not an empty folder" : "";
        return error;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        ErrorCode error = static_cast<ErrorCode>(errno);
        problem = "/dev/fuse cannot be opened";
        return error;
    }
    static Fuse library;
    if (library.Handle == nullptr && !Open(library)) {
        problem = "libfuse 3 could not be loaded";
        return ENOSYS;
    }
    library.SetLogFunction(KeepLastWords);
    served = &tree;
    static fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttributes;
    operations.opendir = OpenFolder;
    operations.readdir = ReadFolder;
    operations.open = OpenFile;
    operations.read = ReadFile;
    operations.statfs = Statistics;
    // Read-only, and checked by the kernel against the modes shown.
    char name[] = "cscunpack";
    char option[] = "-o";
    char settings[] = "ro,default_permissions,fsname=cscunpack,subtype=cscunpack";
    char* argv[] = {name, option, settings, nullptr};
    fuse_args arguments = FUSE_ARGS_INIT(3, argv);
    lastWords[0] = '\0';
    fuse* mount = library.New(&arguments, &operations, sizeof operations, nullptr);
    library.FreeArguments(&arguments); // what parsing them allocated
    if (mount == nullptr) {
        problem = lastWords[0] != '\0' ? lastWords : "libfuse refused to start";
        return EINVAL;
    }
    if (library.Mount(mount, folder.c_str()) != 0) {
        problem = lastWords[0] != '\0' ? lastWords : "the system refused the mount";
        library.Destroy(mount);
        return EPERM;
    }
    fuse_session* session = library.Session(mount);
    LeaveInterruptsToFuse();
    library.SetSignalHandlers(session);
    ready();
    ErrorCode result = NoError;
    if (background && library.Daemonize(0) != 0) {
        problem = "could not detach";
        result = ECHILD;
    } else {
        library.LoopMt(mount, 0);
    }
    library.RemoveSignalHandlers(session);
    library.Unmount(mount);
    library.Destroy(mount);
    served = nullptr;
    return result;
}

#else

std::string WhyNoMount() {
    return "--mount is not part of this build: it was built without libfuse 3 (libfuse3-dev)";
}

ErrorCode ServeMount(const std::string&, const MountedTree&, bool, const std::function<void()>&,
                     std::string& problem) {
    problem = WhyNoMount();
    return ENOSYS;
}

#endif

} // namespace platform
