#pragma once

#include "csc/index.h"
#include "jobs/job.h"
#include "platform/platform.h"
#include "run/patterns.h"
#include "run/status.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The one walk of the index: tables, records and their files in extraction order, each file's
// archive position moved exactly as extracting it moves it, and each file that is taken handed to
// a job. Extracting, listing, checking and streaming see the same files in the same order. The
// walk is the only code that moves an archive's position.
namespace run {

struct WalkSettings {
    bool Raw = false; // the RAW mode: records back to back, files under numbered names
    platform::NameRules NameRules = platform::NativeNameRules;
    Selection Taken{};
};

struct WalkCounts {
    std::uint64_t LeftOut = 0; // by the patterns
    // Files in an archive that is not open, by slot; slots 6 and 7 name no archive at all.
    std::array<std::uint64_t, csc::ArchiveSlots> Skipped{};
    // The include patterns that matched no file.
    std::vector<std::string> Unmatched;
};

// The normal mode walks the tagged sounds (phase 1), then the mission sounds (phase 2), each record
// found at its location word; the RAW mode reads the tagged plus mission count of records back to
// back behind the mission table, then takes each. The walk stops before the next sound once an
// interrupt has arrived, the status can no longer be shown, or the job wants no more.
void Walk(csc::Index& index, Status& status, const WalkSettings& settings, jobs::Job& job,
          WalkCounts& counts);

} // namespace run
