#pragma once

#include "csc/archives.h"
#include "extract/output_tree.h"
#include "jobs/job.h"
#include "layout/tree.h"

#include <array>
#include <optional>

namespace jobs {

// An archive's bytes for the writers.
class ArchiveRanges : public extract::RangeSource {
  public:
    // Set once, before any writer is handed a range of it.
    void Serve(const csc::ByteSource& source) { source_ = &source; }
    bool Serves() const { return source_ != nullptr; }
    platform::FileHandle File() const override;
    platform::Moved ReadAt(std::uint64_t offset, void* destination,
                           std::size_t count) const override;

  private:
    const csc::ByteSource* source_ = nullptr;
};

// Places every file the walk finds in a tree, as an extraction into an empty folder does.
class Placing : public Job {
  public:
    Placing(layout::Tree& tree, const csc::IndexTables& tables) : tree_(tree), tables_(tables) {}
    void Take(csc::ExtentReader& stored, FoundFile& file) override;

  private:
    layout::Tree& tree_;
    const csc::IndexTables& tables_;
};

// The extract job: each file found goes to the output tree, with its bytes read from the archive
// (small ones on the reading thread, large ones by the writer that writes them).
class Extraction : public Job {
  public:
    Extraction(extract::Disk& disk, const csc::IndexTables& tables, extract::TreeSettings settings)
        : layout_(tables), tree_(disk, layout_, std::move(settings)) {}

    // On a second run: what each place of the tree ends with (finals, placed by a walk before this
    // one), and the archives (by slot; none where not open). A file that a later file of the run
    // replaces with other bytes is then compared with those bytes, so that a tree where nothing
    // changed is left alone, a path stored twice included.
    void
    KnowWhatEachPlaceEndsWith(const layout::Tree& finals,
                              const std::array<const csc::ByteSource*, csc::ArchiveSlots>& sources);
    void Take(csc::ExtentReader& stored, FoundFile& file) override;
    // Waits until every file is written and tells what writing came to.
    extract::TreeReport Finish() { return tree_.Finish(); }
    // For an interrupted run: drops the files not yet begun and finishes those being written.
    extract::TreeReport Abandon() { return tree_.Abandon(); }

  private:
    // The archives' sources stay open for the whole run, and with them these ranges.
    std::array<ArchiveRanges, csc::ArchiveSlots> ranges_;
    layout::Tree layout_;
    extract::OutputTree tree_;
};

} // namespace jobs
