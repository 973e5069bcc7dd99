#pragma once

#include "console/console.h"
#include "extract/pool.h"
#include "jobs/job.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace jobs {

// The test job: whether each file a run would write is whole. Files are read on the reading thread
// and checked by a pool of workers; their lines go to the results channel in extraction order, as
// text (the damaged files and a total) or as one JSON object per line.
class Checking : public Job {
  public:
    Checking(console::Console& results, bool json, unsigned workers);
    void Take(csc::ExtentReader& stored, FoundFile& file) override;
    bool WantsMore() const override { return !console::Failed(results_); }
    // Waits for every check, then writes the total line, for text.
    void Finish();
    std::uint64_t Damaged() const { return damaged_; }

    // One file on its way through the check. A large one is read by the worker that checks it,
    // from Source, which stays open for the whole run.
    struct Check {
        std::uint64_t Order = 0;
        FoundFile File;
        std::unique_ptr<std::uint8_t[]> Bytes;
        std::size_t Room = 0; // what Bytes can hold
        std::size_t Read = 0;
        std::optional<std::string> Problem;
        const csc::ByteSource* Source = nullptr;
    };

  private:
    void Report(Check& check);

    // The members below are the reading thread's alone: the workers see only the check they run.
    console::Console& results_;
    const bool json_;
    std::uint64_t files_ = 0;
    std::uint64_t damaged_ = 0;
    // Checks done out of order wait here until those before them are written.
    std::map<std::uint64_t, Check> done_;
    // Buffers of checks done, kept for the next files: a buffer new to the process costs a fault
    // for every page of it. At most MostSpares, of at most SpareBytes together.
    static constexpr std::size_t MostSpares = 64;
    static constexpr std::size_t SpareBytes = 16u << 20;
    std::vector<std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>> spare_;
    std::size_t spareBytes_ = 0;
    std::uint64_t nextToReport_ = 0;
    extract::BoundedPool<Check> pool_;
};

} // namespace jobs
