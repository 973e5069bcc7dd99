#include "extract/disk.h"

namespace extract {

platform::ErrorCode NativeDisk::MakeFolder(const std::string& path, bool& madeNow) {
    return platform::MakeFolderBelow(root_, path, madeNow);
}

platform::ErrorCode NativeDisk::CreateNew(const std::string& path, platform::FileHandle& file) {
    return platform::CreateNewBelow(root_, path, file);
}

platform::ErrorCode NativeDisk::CreateUnnamed(const std::string& folder,
                                              platform::FileHandle& file) {
    return platform::CreateUnnamedBelow(root_, folder, file);
}

platform::ErrorCode NativeDisk::Place(platform::FileHandle file, const std::string& beside,
                                      const std::string& path) {
    return platform::PlaceBelow(root_, file, beside, path);
}

platform::ErrorCode NativeDisk::Write(platform::FileHandle file, const std::uint8_t* bytes,
                                      std::size_t count) {
    return platform::Write(file, bytes, count).Error;
}

// Within the system where it can copy between the two files; what it cannot, through the spare
// buffer, which has room for the whole range.
Disk::Copied NativeDisk::Copy(const ArchiveRange& range, platform::FileHandle file) {
    std::size_t copied = 0;
    if (platform::FileHandle archive = range.Source->File(); archive != platform::InvalidFile) {
        copied = platform::CopyRange(archive, range.Offset, file, range.Count).Bytes;
    }
    platform::Moved read =
        range.Source->ReadAt(range.Offset + copied, range.Spare.get(), range.Count - copied);
    platform::Moved written = platform::Write(file, range.Spare.get(), read.Bytes);
    return Copied{.Bytes = copied + written.Bytes, .Refused = written.Error, .Unread = read.Error};
}

platform::ErrorCode NativeDisk::Extend(platform::FileHandle file, std::uint64_t size) {
    return platform::Extend(file, size);
}

platform::ErrorCode NativeDisk::Sync(platform::FileHandle file) {
    return platform::SyncBelow(root_, file);
}

platform::ErrorCode NativeDisk::OpenExisting(const std::string& path, platform::FileHandle& file,
                                             std::uint64_t& size) {
    return platform::OpenExistingBelow(root_, path, file, size);
}

platform::Moved NativeDisk::Read(platform::FileHandle file, std::uint64_t offset,
                                 std::uint8_t* bytes, std::size_t count) {
    return platform::ReadAt(file, offset, bytes, count);
}

platform::ErrorCode NativeDisk::Close(platform::FileHandle file) {
    return platform::Close(file);
}

platform::ErrorCode NativeDisk::Rename(const std::string& from, const std::string& to) {
    return platform::RenameBelow(root_, from, to);
}

platform::ErrorCode NativeDisk::RenameOpen(platform::FileHandle file, const std::string& to) {
    return platform::RenameOpenBelow(root_, file, to);
}

platform::ErrorCode NativeDisk::Remove(const std::string& path) {
    return platform::RemoveBelow(root_, path);
}

} // namespace extract

namespace extract {

platform::ErrorCode NativeDisk::CheckFolder(const std::string& path) {
    return platform::CheckFolderBelow(root_, path);
}

platform::ErrorCode NativeDisk::List(const std::string& folder, std::string_view prefix,
                                     std::vector<std::string>& names) {
    return platform::ListBelow(root_, folder, prefix, names);
}

} // namespace extract
