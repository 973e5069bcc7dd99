#pragma once

#include "extract/payload.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

// The output tree's way to the disk, below its output folder: paths are relative to that folder,
// with "/" between components.
namespace extract {

// The steps of writing below the output folder. The tree reaches the disk through this alone, so
// that a test can make any step fail. Writers call it from several threads at once, each on files
// of its own: an implementation keeps no state that one call changes for another.
class Disk {
  public:
    virtual ~Disk() = default;
    virtual platform::ErrorCode MakeFolder(const std::string& path, bool& madeNow) = 0;
    virtual platform::ErrorCode CreateNew(const std::string& path, platform::FileHandle& file) = 0;
    // A file without a name in folder, and its placing at path, through a name beside, once it is
    // whole.
    virtual platform::ErrorCode CreateUnnamed(const std::string& folder,
                                              platform::FileHandle& file) = 0;
    virtual platform::ErrorCode Place(platform::FileHandle file, const std::string& beside,
                                      const std::string& path) = 0;
    virtual platform::ErrorCode Write(platform::FileHandle file, const std::uint8_t* bytes,
                                      std::size_t count) = 0;
    // The bytes of the range that arrived in the file. Fewer where the file refused them (Refused),
    // where the system failed to read the archive (Unread), or, with neither, where the archive
    // ended.
    struct Copied {
        std::size_t Bytes = 0;
        platform::ErrorCode Refused = platform::NoError;
        platform::ErrorCode Unread = platform::NoError;
    };
    virtual Copied Copy(const ArchiveRange& range, platform::FileHandle file) = 0;
    virtual platform::ErrorCode Extend(platform::FileHandle file, std::uint64_t size) = 0;
    virtual platform::ErrorCode Sync(platform::FileHandle file) = 0;
    // Whether nothing below the output folder survives a power cut anyway (a file system in
    // memory), so that no file need be synced.
    virtual bool Volatile() const = 0;
    // A regular file that stands at path (no link, anywhere on the way), opened to be read, and
    // its size.
    virtual platform::ErrorCode OpenExisting(const std::string& path, platform::FileHandle& file,
                                             std::uint64_t& size) = 0;
    virtual platform::Moved Read(platform::FileHandle file, std::uint64_t offset,
                                 std::uint8_t* bytes, std::size_t count) = 0;
    // Where the file may hold other bytes than zeros from offset on and before end; holes are
    // passed over.
    virtual platform::Stretch NextData(platform::FileHandle file, std::uint64_t offset,
                                       std::uint64_t end) = 0;
    virtual platform::ErrorCode Close(platform::FileHandle file) = 0;
    virtual platform::ErrorCode Rename(const std::string& from, const std::string& to) = 0;
    // Renames a file still open; IsNotSupported where the system renames closed files only.
    virtual platform::ErrorCode RenameOpen(platform::FileHandle file, const std::string& to) = 0;
    virtual platform::ErrorCode Remove(const std::string& path) = 0;
    // The names in a folder that begin with prefix.
    virtual platform::ErrorCode List(const std::string& folder, std::string_view prefix,
                                     std::vector<std::string>& names) = 0;
    // NoError when a folder, not a link, stands at path, and at every level on the way.
    virtual platform::ErrorCode CheckFolder(const std::string& path) = 0;
};

// The file system below root.
class NativeDisk : public Disk {
  public:
    explicit NativeDisk(platform::OutputRoot root) : root_(std::move(root)) {}
    ~NativeDisk() override { platform::CloseOutputRoot(root_); }
    NativeDisk(const NativeDisk&) = delete;
    NativeDisk& operator=(const NativeDisk&) = delete;

    platform::ErrorCode MakeFolder(const std::string& path, bool& madeNow) override;
    platform::ErrorCode CreateNew(const std::string& path, platform::FileHandle& file) override;
    platform::ErrorCode CreateUnnamed(const std::string& folder,
                                      platform::FileHandle& file) override;
    platform::ErrorCode Place(platform::FileHandle file, const std::string& beside,
                              const std::string& path) override;
    platform::ErrorCode Write(platform::FileHandle file, const std::uint8_t* bytes,
                              std::size_t count) override;
    Copied Copy(const ArchiveRange& range, platform::FileHandle file) override;
    platform::ErrorCode Extend(platform::FileHandle file, std::uint64_t size) override;
    platform::ErrorCode Sync(platform::FileHandle file) override;
    bool Volatile() const override { return root_.Volatile; }
    platform::ErrorCode OpenExisting(const std::string& path, platform::FileHandle& file,
                                     std::uint64_t& size) override;
    platform::Moved Read(platform::FileHandle file, std::uint64_t offset, std::uint8_t* bytes,
                         std::size_t count) override;
    platform::Stretch NextData(platform::FileHandle file, std::uint64_t offset,
                               std::uint64_t end) override {
        return platform::NextData(file, offset, end);
    }
    platform::ErrorCode Close(platform::FileHandle file) override;
    platform::ErrorCode Rename(const std::string& from, const std::string& to) override;
    platform::ErrorCode RenameOpen(platform::FileHandle file, const std::string& to) override;
    platform::ErrorCode Remove(const std::string& path) override;
    platform::ErrorCode List(const std::string& folder, std::string_view prefix,
                             std::vector<std::string>& names) override;
    platform::ErrorCode CheckFolder(const std::string& path) override;

  private:
    platform::OutputRoot root_;
};

} // namespace extract
