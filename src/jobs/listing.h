#pragma once

#include "console/console.h"
#include "jobs/job.h"

#include <cstdint>
#include <string>

namespace jobs {

// How the listing shows each file.
enum class ListingStyle {
    Table,     // size and path, then a total line
    Names,     // the path alone, a line each
    NullEnded, // the path alone, each ended by a zero byte (for xargs -0)
};

// The list job: what a run would write, a line for each file on the results channel, as text or
// as one JSON object per line.
class Listing : public Job {
  public:
    // The tables name the tags and missions of the JSON lines.
    // Headers that the system fails to read (for details) are told to onUnread.
    Listing(console::Console& results, const csc::IndexTables& tables, bool details, bool json,
            ListingStyle style = ListingStyle::Table, OnUnread onUnread = {})
        : results_(results), tables_(tables), details_(details), json_(json), style_(style),
          onUnread_(std::move(onUnread)) {}
    void Take(csc::ExtentReader& stored, FoundFile& file) override;
    bool WantsMore() const override { return !console::Failed(results_); }
    // The total line, for text.
    void Finish();

  private:
    console::Console& results_;
    const csc::IndexTables& tables_;
    const bool details_;
    const bool json_;
    const ListingStyle style_;
    const OnUnread onUnread_;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::string line_; // reused for every line
};

} // namespace jobs
