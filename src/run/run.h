#pragma once

#include "console/console.h"
#include "csc/records.h"
#include "extract/extract.h"
#include "run/archives.h"

#include <cstdint>
#include <optional>
#include <string>

namespace run {

// Where the run stands; a failed allocation reports it as the location of the runtime error.
enum class Step : std::uint32_t {
    StartUp = 0x00000100,
    IndexTables = 0x00000200,
    SoundInfos = 0x00000300,
    TaggedSounds = 0x00000400,
    MissionSounds = 0x00000500,
    RawExtraction = 0x00000600,
};

inline constexpr int ExitClean = 0;
inline constexpr int ExitWithWarnings = 1;
inline constexpr int ExitIndexNotFound = 2;
inline constexpr int ExitInterrupted = 130;
inline constexpr int ExitOutOfMemory = 203;

// The state of one run, from the banner to the closing of the archives.
struct Run {
    console::Console Console;
    bool RawExtract = false;
    ArchiveHandles Archives;
    csc::IndexTables Tables;
    Step CurrentStep = Step::StartUp;
    extract::ExtractionSettings Extraction{};
};

// One whole run in the current folder: banner, discovery, tables, the phases of the chosen mode,
// the end-of-run warnings and closing. Returns the exit code.
int RunProgram(Run& run, const std::optional<std::string>& firstArgument);

// Ends a run whose memory ran out: the buffered text, then "Runtime error 203 at <step>" straight
// to the output. Returns the exit code.
int EndWithOutOfMemory(Run& run);

} // namespace run
