#pragma once

#include "csc/reader.h"
#include "csc/records.h"
#include "extract/output_path.h"

#include <cstddef>
#include <cstdint>

namespace extract {

// One file of a run as the walk of the index finds it, in extraction order: where it goes, where
// its bytes lie and how many of them the archive holds, and the size the file is to have.
struct FoundFile {
    OutputPath Path;
    std::size_t Slot = 0;
    csc::Extent Bytes;
    std::uint64_t Size = 0;
    csc::StoredForm Form = csc::StoredForm::Bare;
};

// What a run does with each file the walk finds: extract it, list it, or check it. Every job sees
// the same files in the same order, and the archive's position has already moved past each file's
// bytes, as a read of them would have moved it.
class Job {
  public:
    virtual ~Job() = default;
    virtual void Take(csc::Archive& archive, FoundFile file) = 0;
    // False once the job can do nothing more (its output has gone): the walk stops.
    virtual bool WantsMore() const { return true; }
};

} // namespace extract
