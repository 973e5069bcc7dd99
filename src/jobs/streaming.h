#pragma once

#include "console/console.h"
#include "jobs/job.h"

#include <cstdint>
#include <vector>

namespace jobs {

// The stream job: the bytes of every file a run would write, one file after the other, zero tail
// included, to the results channel's handle, a piece at a time.
class Streaming : public Job {
  public:
    explicit Streaming(console::Console& results) : results_(results) {}
    void Take(csc::ExtentReader& stored, FoundFile file) override;
    bool WantsMore() const override { return !console::Failed(results_); }

  private:
    void Put(const std::uint8_t* bytes, std::size_t count);

    console::Console& results_;
    std::vector<std::uint8_t> piece_;
};

} // namespace jobs
