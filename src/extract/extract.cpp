#include "extract/extract.h"

#include "extract/paths.h"

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
    return RangeCopy{copy.Copied, copy.WriteFailed};
}

Extraction::Extraction(std::array<csc::Archive, csc::ArchiveSlots>& archives,
                       const std::array<std::string_view, csc::ArchiveSlots>& folderNames,
                       const ExtractionSettings& settings, Disk& disk)
    : settings_(settings), archives_(archives), folderNames_(folderNames),
      tree_(disk, TreeSettings{.Writers = settings.WriterThreads, .Bounds = settings.Bounds}) {
    for (std::size_t slot = 0; slot < csc::ArchiveSlots; ++slot) {
        ranges_[slot].Serve(&archives_[slot].Source);
    }
}

void Extraction::ExtractSoundInfo(const csc::TSM_SoundInfo& record, const std::string& basePath,
                                  std::int32_t number) {
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        ExtractFile(file, basePath, number);
    }
}

void Extraction::ExtractFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                             std::int32_t number) {
    if (file.DataLocation == csc::AbsentFile) {
        return;
    }
    std::uint32_t slot = csc::LocationSlot(file.DataLocation);
    csc::Archive& archive = archives_[slot];
    if (!csc::IsOpen(archive)) {
        return;
    }
    std::uint32_t size = 0;
    std::string name = file.Name;
    if (file.OggSize != 0) {
        size = file.OggSize;
        name += ".ogg";
    } else if (file.WavSize != 0) {
        size = file.WavSize;
        name += ".wav";
    }
    // The number goes on first, so that the whole name is made safe: "000000_.." climbs nowhere.
    if (settings_.RawExtract) {
        name = PadZeros(number, 6) + "_" + name;
    }

    csc::SetPosition(archive, csc::LocationOffset(file.DataLocation));
    csc::Extent extent = csc::Claim(archive, size);
    // The buffer holds what the archive can deliver, never more than it holds. It is allocated once
    // it fits beside the files in flight (a file larger than their bound waits until none are, as
    // one writer would have it); a failed allocation ends the run before its folders or file exist.
    tree_.MakeRoom(extent.Held);
    Entry entry{.Path = BuildOutputPath(folderNames_[slot], basePath, name, settings_.NameRules),
                .Bytes = {},
                .Size = size};
    if (extent.Held >= ReadByWriterFrom) {
        entry.Bytes =
            ArchiveRange{.Source = &ranges_[slot],
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
