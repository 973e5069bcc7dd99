#pragma once

#include "extract/job.h"
#include "run/patterns.h"
#include "run/run.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The one walk of the index: tables, records and their files in extraction order, each file's
// archive position moved exactly as extracting it moves it, and each file that is taken handed to
// a job. Extracting, listing and checking see the same files in the same order.
namespace run {

struct WalkSettings {
    bool Raw = false;   // the RAW mode: records back to back, files under numbered names
    bool Quiet = false; // no phases or progress
    // Progress items also where the console is a file or a pipe, where they run together into one
    // long line, as the classic console has them.
    bool ItemsWhenRedirected = true;
    // Progress items on a terminal; not where the results of the run go to the same terminal.
    bool ItemsOnTerminal = true;
    // The option form's items count the whole run, with a percentage; the classic ones count each
    // phase.
    bool WholeRunItems = false;
    std::string_view Doing = "Extracting"; // what the phase headings say is done
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
// interrupt has arrived.
void Walk(RunState& state, const WalkSettings& settings, extract::Job& job, WalkCounts& counts);

// Hands every present file of one sound-info record to job, below the folder of its archive and
// basePath; number prefixes the file names in the RAW mode. Entries that are absent leave nothing
// behind; those of an archive that is not open are counted as skipped.
void ExtractSoundInfo(RunState& state, const WalkSettings& settings, extract::Job& job,
                      WalkCounts& counts, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number);

// The phases' progress items end in spaces that cover what a longer item before them left.
inline constexpr std::size_t TaggedItemTail = 25;
inline constexpr std::size_t MissionItemTail = 13;

} // namespace run
