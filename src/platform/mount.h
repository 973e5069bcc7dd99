#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A tree of folders and files shown read-only at a folder through the system's user-space file
// systems (FUSE on Linux, loaded only when a mount is asked for). The tree is the caller's; the
// system may ask for any part of it from several threads at once, so it must answer without
// changing.
namespace platform {

struct MountedEntry {
    bool Folder = false;
    std::uint64_t Size = 0;
    std::int64_t ModifiedSeconds = 0; // since 1970
};

class MountedTree {
  public:
    // The number of the entry called name in a folder, or none. The root is entry 0.
    virtual std::optional<std::uint64_t> Lookup(std::uint64_t folder,
                                                std::string_view name) const = 0;
    virtual MountedEntry Entry(std::uint64_t number) const = 0;
    // The entries in a folder by name and number, from the one at index from on, until each
    // returns false.
    virtual void
    ForEachIn(std::uint64_t folder, std::uint64_t from,
              const std::function<bool(std::string_view, std::uint64_t)>& each) const = 0;
    // Up to count bytes of a file from offset on; fewer only at its end.
    virtual Moved Read(std::uint64_t file, std::uint64_t offset, void* destination,
                       std::size_t count) const = 0;
    virtual std::uint64_t Entries() const = 0;
    virtual std::uint64_t Bytes() const = 0;

  protected:
    ~MountedTree() = default;
};

// Empty where mounts can be made here; else the line that tells the user why not and what to
// install.
std::string WhyNoMount();

// NoError where an empty folder stands at path; IsNotEmpty when something is in it.
ErrorCode CheckEmptyFolder(const std::string& path);
bool IsNotEmpty(ErrorCode code);

// Shows tree read-only at folder, an empty folder, until it is unmounted or an interrupt
// (Ctrl-C, SIGTERM, SIGHUP) comes, then unmounts it. With background, the process detaches once
// the mount is ready: the caller's process ends there with exit code 0, and the one that serves
// goes on without a terminal. ready is called once the mount stands, before that. On failure,
// problem holds the reason in a few words.
ErrorCode ServeMount(const std::string& folder, const MountedTree& tree, bool background,
                     const std::function<void()>& ready, std::string& problem);

// When a file was last changed, in seconds since 1970; 0 where it cannot be told.
std::int64_t ModifiedSeconds(FileHandle file);

} // namespace platform
