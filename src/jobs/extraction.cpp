#include "jobs/extraction.h"

namespace jobs {
namespace {

// A file this large passes the archive's read-ahead anyway, so the writer that writes it reads it
// too, straight from the archive (within the system where it can), and its bytes never pass
// through the reading thread.
constexpr std::uint64_t ReadByWriterFrom = 64u << 10;

} // namespace

layout::FileFacts FactsOf(const FoundFile& file, const csc::IndexTables& tables) {
    layout::FileFacts facts{.Slot = static_cast<std::uint8_t>(file.Slot),
                            .Form = file.Form,
                            .Kind = layout::SoundKind::None,
                            .Offset = static_cast<std::uint32_t>(file.Stored.Offset),
                            .Held = static_cast<std::uint32_t>(file.Stored.Held),
                            .Size = static_cast<std::uint32_t>(file.Size),
                            .Sound = layout::None};
    if (file.Tagged != nullptr) {
        facts.Kind = layout::SoundKind::Tagged;
        facts.Sound = static_cast<std::uint32_t>(file.Tagged - tables.TaggedSounds.data());
    } else if (file.Mission != nullptr) {
        facts.Kind = layout::SoundKind::Mission;
        facts.Sound = static_cast<std::uint32_t>(file.Mission - tables.MissionSounds.data());
    }
    return facts;
}

platform::FileHandle ArchiveRanges::File() const {
    return source_->File;
}

platform::Moved ArchiveRanges::ReadAt(std::uint64_t offset, void* destination,
                                      std::size_t count) const {
    return csc::ReadAt(*source_, offset, destination, count);
}

void Placing::Take(csc::ExtentReader&, FoundFile& file) {
    tree_.Place(file.Path, FactsOf(file, tables_));
}

void Extraction::KnowWhatEachPlaceEndsWith(
    const layout::Tree& finals,
    const std::array<const csc::ByteSource*, csc::ArchiveSlots>& sources) {
    for (std::size_t slot = 0; slot < sources.size(); ++slot) {
        if (sources[slot] != nullptr && !ranges_[slot].Serves()) {
            ranges_[slot].Serve(*sources[slot]);
        }
    }
    // Both walks place the same files in the same order, so a place has one number in both.
    tree_.KnowWhatEachPlaceEndsWith(
        [this, &finals](std::uint32_t place,
                        const extract::Entry& file) -> std::optional<extract::LaterBytes> {
            layout::FileFacts last = finals.File(place);
            if ((last.Slot == file.Source && last.Offset == file.SourceOffset &&
                 last.Held == extract::PayloadBytes(file.Content) && last.Size == file.Size) ||
                !ranges_[last.Slot].Serves()) {
                return std::nullopt; // it is the last, or holds the same bytes
            }
            return extract::LaterBytes{.Source = &ranges_[last.Slot],
                                       .Offset = last.Offset,
                                       .Held = last.Held,
                                       .Size = last.Size};
        });
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
