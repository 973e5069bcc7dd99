#include "extract/extract.h"

namespace extract {
namespace {

// A file this large passes the archive's read-ahead anyway, so the writer that writes it reads it
// too, straight from the archive (within the system where it can), and its bytes never pass
// through the reading thread.
constexpr std::uint64_t ReadByWriterFrom = 64u << 10;

} // namespace

RangeCopy ArchiveRanges::CopyTo(std::uint64_t offset, std::size_t count,
                                platform::FileHandle output, std::uint8_t* spare) const {
    csc::CopyResult copy = csc::CopyAt(*source_, offset, count, output, spare);
    return RangeCopy{copy.Copied, copy.WriteFailed, copy.WriteError};
}

Extraction::Extraction(std::array<csc::Archive, csc::ArchiveSlots>& archives,
                       const ExtractionSettings& settings, Disk& disk)
    : tree_(disk, TreeSettings{.Writers = settings.WriterThreads,
                               .KeepExisting = settings.KeepExisting,
                               .OnUnwritten = settings.OnUnwritten,
                               .Bounds = settings.Bounds}) {
    for (std::size_t slot = 0; slot < csc::ArchiveSlots; ++slot) {
        ranges_[slot].Serve(&archives[slot].Source);
    }
}

void Extraction::Take(csc::Archive& archive, FoundFile file) {
    const csc::Extent& extent = file.Bytes;
    // The buffer holds what the archive can deliver, never more than it holds. It is allocated once
    // it fits beside the files in flight (a file larger than their bound waits until none are, as
    // one writer would have it); a failed allocation ends the run before its folders or file exist.
    tree_.MakeRoom(extent.Held);
    Entry entry{.Path = std::move(file.Path), .Bytes = {}, .Size = file.Size};
    if (extent.Held >= ReadByWriterFrom) {
        entry.Bytes =
            ArchiveRange{.Source = &ranges_[file.Slot],
                         .Offset = extent.Offset,
                         .Count = extent.Held,
                         .Spare = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held)};
    } else {
        BytesInMemory bytes{.Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held),
                            .Count = 0};
        bytes.Count = csc::ReadExtent(archive, extent, bytes.Bytes.get());
        entry.Bytes = std::move(bytes);
    }
    tree_.Take(std::move(entry));
}

} // namespace extract
