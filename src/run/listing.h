#pragma once

#include "console/console.h"
#include "extract/job.h"
#include "extract/pool.h"
#include "run/options.h"
#include "sound/sound.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The list and test jobs: what a run would write, and whether each of those files is whole. Both
// write their lines to the results channel, as text or as one JSON object per line.
namespace run {

// A string as a JSON string: quoted, with each byte of 0x80 and above taken as the Latin-1
// character of that value.
std::string JsonString(std::string_view text);

class Listing : public extract::Job {
  public:
    Listing(console::Console& results, bool details, bool json,
            ListingStyle style = ListingStyle::Table)
        : results_(results), details_(details), json_(json), style_(style) {}
    void Take(csc::Archive& archive, extract::FoundFile file) override;
    // The total line, for text.
    void Finish();

  private:
    console::Console& results_;
    const bool details_;
    const bool json_;
    const ListingStyle style_;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::string line_; // reused for every line
};

// The stream job: the bytes of every file a run would write, one file after the other, zero tail
// included, to the results channel's handle, a piece at a time.
class Stream : public extract::Job {
  public:
    explicit Stream(console::Console& results) : results_(results) {}
    void Take(csc::Archive& archive, extract::FoundFile file) override;
    bool WantsMore() const override { return !console::Failed(results_); }

  private:
    void Put(const std::uint8_t* bytes, std::size_t count);

    console::Console& results_;
    std::vector<std::uint8_t> piece_;
};

// Files are read on the reading thread and checked by a pool of workers, the lines written in
// extraction order.
class Checker : public extract::Job {
  public:
    Checker(console::Console& results, bool json, unsigned workers);
    void Take(csc::Archive& archive, extract::FoundFile file) override;
    // Waits for every check, then writes the total line, for text.
    void Finish();
    std::uint64_t Damaged() const { return damaged_; }

  private:
    struct Check {
        std::uint64_t Order = 0;
        extract::FoundFile File;
        std::unique_ptr<std::uint8_t[]> Bytes;
        std::size_t Room = 0; // what Bytes can hold
        std::size_t Read = 0;
        std::optional<std::string> Problem;
    };
    void Report(Check& check);

    console::Console& results_;
    const bool json_;
    std::uint64_t files_ = 0;
    std::uint64_t damaged_ = 0;
    // Checks done out of order wait here until those before them are written.
    std::map<std::uint64_t, Check> done_;
    // Buffers of checks done, kept for the next files: a buffer new to the process costs a fault
    // for every page of it. At most MostSpares of at most LargestSpare bytes each.
    static constexpr std::size_t MostSpares = 64;
    static constexpr std::size_t LargestSpare = 256u << 10;
    std::vector<std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>> spare_;
    std::uint64_t nextToReport_ = 0;
    extract::BoundedPool<Check> pool_;
};

} // namespace run
