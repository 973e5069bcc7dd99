#pragma once

#include "console/console.h"
#include "jobs/job.h"

#include <cstdint>
#include <vector>

namespace jobs {

// The stream job: the bytes of every file a run would write, one file after the other, zero tail
// included, to the results channel's handle, a piece at a time. Bytes the system fails to read go
// on as zeros, so that every file keeps its size, and are told.
class Streaming : public Job {
  public:
    Streaming(console::Console& results, OnUnread onUnread)
        : results_(results), onUnread_(std::move(onUnread)) {}
    void Take(csc::ExtentReader& stored, FoundFile& file) override;
    bool WantsMore() const override { return !console::Failed(results_); }

  private:
    void Put(const std::uint8_t* bytes, std::size_t count);

    console::Console& results_;
    const OnUnread onUnread_;
    std::vector<std::uint8_t> piece_;
};

} // namespace jobs
