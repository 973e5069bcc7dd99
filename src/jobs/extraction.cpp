#include "jobs/extraction.h"

namespace jobs {
namespace {

// A file this large passes the archive's read-ahead anyway, so the writer that writes it reads it
// too, straight from the archive (within the system where it can), and its bytes never pass
// through the reading thread.
constexpr std::uint64_t ReadByWriterFrom = 64u << 10;

} // namespace

platform::FileHandle ArchiveRanges::File() const {
    return source_->File;
}

platform::Moved ArchiveRanges::ReadAt(std::uint64_t offset, void* destination,
                                      std::size_t count) const {
    return csc::ReadAt(*source_, offset, destination, count);
}

void Extraction::Take(csc::ExtentReader& stored, FoundFile& file) {
    const csc::Extent& extent = file.Stored;
    // The buffer holds what the archive can deliver, never more than it holds. It is allocated once
    // it fits beside the files in flight (a file larger than their bound waits until none are, as
    // one writer would have it); a failed allocation ends the run before its folders or file exist.
    tree_.MakeRoom(extent.Held);
    extract::Entry entry{.Path = std::move(file.Path),
                         .Content = {},
                         .Size = file.Size,
                         .SourceOffset = extent.Offset,
                         .Source = static_cast<std::uint32_t>(file.Slot)};
    if (extent.Held >= ReadByWriterFrom) {
        if (!ranges_[file.Slot].Serves()) {
            ranges_[file.Slot].Serve(stored.Source());
        }
        entry.Content = extract::ArchiveRange{
            .Source = &ranges_[file.Slot],
            .Offset = extent.Offset,
            .Count = extent.Held,
            .Spare = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held)};
    } else {
        extract::BytesInMemory bytes{
            .Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held), .Count = 0};
        platform::Moved read = stored.Read(extent, bytes.Bytes.get());
        bytes.Count = read.Bytes;
        bytes.Unread = read.Error;
        entry.Content = std::move(bytes);
    }
    tree_.Take(std::move(entry));
}

} // namespace jobs
