#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A tree of folders and files shown read-only at a folder through the system's user-space file
// systems (FUSE on Linux, loaded only when a mount is asked for). The tree is the caller's; the
// system may ask for any part of it from several threads at once.
namespace platform {

// When a file was last changed: seconds since 1970 and the nanoseconds within that second.
struct FileTime {
    std::int64_t Seconds = 0;
    std::uint32_t Nanoseconds = 0;
};
// 0 where it cannot be told.
FileTime ModifiedTime(FileHandle file);

struct MountedEntry {
    bool Folder = false;
    std::uint64_t Size = 0;
    FileTime Modified;
};

class MountedTree {
  public:
    // The entry numbered number, or none where no entry has that number. The root is entry 0.
    virtual std::optional<MountedEntry> Entry(std::uint64_t number) const = 0;
    // The number of the entry called name in a folder, or none.
    virtual std::optional<std::uint64_t> Lookup(std::uint64_t folder,
                                                std::string_view name) const = 0;
    // The entries in a folder by name and number, from position from on, until each returns false;
    // each is told the position that follows its entry, from which a later call goes on.
    virtual void ForEachIn(std::uint64_t folder, std::uint64_t from,
                           const std::function<bool(std::string_view name, std::uint64_t number,
                                                    std::uint64_t next)>& each) const = 0;
    // Up to count bytes of a file from offset on; fewer only at its end. When the bytes cannot be
    // read, the error says why and nothing is given.
    virtual Moved Read(std::uint64_t file, std::uint64_t offset, void* destination,
                       std::size_t count) const = 0;
    // For the file system's statistics.
    virtual std::uint64_t Entries() const = 0;
    virtual std::uint64_t Bytes() const = 0;

  protected:
    ~MountedTree() = default;
};

// Empty where mounts can be made here; else the line that tells the user why not and what to
// install.
std::string WhyNoMount();

// The folder path names, absolute and without links, so that what is mounted there, and later
// unmounted, is that folder whatever the current folder is by then.
ErrorCode ResolveMountPoint(const std::string& path, std::string& resolved);
// Empty where a mount can stand at folder (a resolved path): an empty folder, and the system's
// device for mounts open to this user. Else why not, in a few words, for "cannot mount at DIR
// (...)"; for a mount left behind by a process that was killed, with how to clear it.
std::string WhyCannotMountAt(const std::string& folder);

// What the caller decides once the mount stands: whether it stays, and, for a mount that detaches,
// the exit code of the process that the user started, which ends there.
struct Standing {
    bool Stays = true;
    int DetachedExitCode = 0;
};

// Shows tree read-only at folder, an empty folder (a resolved path), until it is unmounted or an
// interrupt (Ctrl-C, SIGTERM, SIGHUP) comes, then unmounts it. ready is called once the mount
// stands: where it says the mount does not stay, it is unmounted at once. With background, and a
// mount that stays, the process detaches: the one the user started ends with the exit code ready
// gave, and a new one without a terminal serves the mount and returns from here when it ends. On
// failure, problem holds the reason in a few words.
ErrorCode ServeMount(const std::string& folder, const MountedTree& tree, bool background,
                     const std::function<Standing()>& ready, std::string& problem);

// The command that unmounts folder, for the user to run: its path quoted for a POSIX shell where
// it needs to be.
std::string UnmountCommand(const std::string& folder);

} // namespace platform
