#pragma once

#include "console/console.h"
#include "extract/job.h"
#include "sound/sound.h"

#include <cstdint>
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
    Listing(console::Console& results, bool details, bool json)
        : results_(results), details_(details), json_(json) {}
    void Take(csc::Archive& archive, extract::FoundFile file) override;
    // The total line, for text.
    void Finish();

  private:
    console::Console& results_;
    const bool details_;
    const bool json_;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::vector<std::uint8_t> head_, tail_;
};

class Checker : public extract::Job {
  public:
    Checker(console::Console& results, bool json) : results_(results), json_(json) {}
    void Take(csc::Archive& archive, extract::FoundFile file) override;
    // The total line, for text.
    void Finish();
    std::uint64_t Damaged() const { return damaged_; }

  private:
    console::Console& results_;
    const bool json_;
    std::uint64_t files_ = 0;
    std::uint64_t damaged_ = 0;
    std::vector<std::uint8_t> bytes_;
};

} // namespace run
