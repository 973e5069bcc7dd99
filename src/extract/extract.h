#pragma once

#include "csc/location.h"
#include "csc/reader.h"
#include "csc/records.h"
#include "extract/output_tree.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace extract {

// What an extraction is asked to do; the one place that says what it does by default.
struct ExtractionSettings {
    bool RawExtract = false;
    platform::NameRules NameRules = platform::NativeNameRules;
    unsigned WriterThreads = DefaultWriterThreads(); // 0: the reading thread writes every file
    PoolBounds Bounds{};
};

// An archive's bytes for the writers to copy.
class ArchiveRanges : public RangeSource {
  public:
    void Serve(const csc::ByteSource* source) { source_ = source; }
    RangeCopy CopyTo(std::uint64_t offset, std::size_t count, platform::FileHandle output,
                     std::uint8_t* spare) const override;

  private:
    const csc::ByteSource* source_ = nullptr;
};

// A running extraction: the archives it reads from and the output tree it fills.
class Extraction {
  public:
    Extraction(std::array<csc::Archive, csc::ArchiveSlots>& archives,
               const std::array<std::string_view, csc::ArchiveSlots>& folderNames,
               const ExtractionSettings& settings, Disk& disk);

    // Copies every present file of record out of its archive into the output tree, below the
    // folder of its archive and basePath. number prefixes the file names in the RAW mode. Entries
    // that are absent or lie in an archive that is not open are skipped without leaving anything
    // behind.
    void ExtractSoundInfo(const csc::TSM_SoundInfo& record, const std::string& basePath,
                          std::int32_t number);
    // Waits until every file is written and tells what writing came to.
    TreeReport Finish() { return tree_.Finish(); }
    // For an interrupted run: drops the files not yet begun and finishes those being written.
    TreeReport Abandon() { return tree_.Abandon(); }

  private:
    void ExtractFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                     std::int32_t number);

    const ExtractionSettings settings_;
    std::array<csc::Archive, csc::ArchiveSlots>& archives_;
    const std::array<std::string_view, csc::ArchiveSlots>& folderNames_;
    std::array<ArchiveRanges, csc::ArchiveSlots> ranges_;
    OutputTree tree_;
};

} // namespace extract
