#pragma once

#include "csc/location.h"
#include "csc/reader.h"
#include "extract/job.h"
#include "extract/output_tree.h"

#include <array>
#include <cstdint>

namespace extract {

// What an extraction is asked to do; the one place that says what it does by default.
struct ExtractionSettings {
    platform::NameRules NameRules = platform::NativeNameRules;
    unsigned WriterThreads = DefaultWriterThreads(); // 0: the reading thread writes every file
    bool KeepExisting = false; // leave every output path where something stands as it is
    // Told of each file that could not be written, in the order taken, as it settles.
    std::function<void(const Unwritten&)> OnUnwritten{};
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

// The extract job: each file found goes to the output tree, with its bytes read from the archive
// (small ones on the reading thread, large ones by the writer that writes them).
class Extraction : public Job {
  public:
    Extraction(std::array<csc::Archive, csc::ArchiveSlots>& archives,
               const ExtractionSettings& settings, Disk& disk);

    void Take(csc::Archive& archive, FoundFile file) override;
    // Waits until every file is written and tells what writing came to.
    TreeReport Finish() { return tree_.Finish(); }
    // For an interrupted run: drops the files not yet begun and finishes those being written.
    TreeReport Abandon() { return tree_.Abandon(); }

  private:
    std::array<ArchiveRanges, csc::ArchiveSlots> ranges_;
    OutputTree tree_;
};

} // namespace extract
