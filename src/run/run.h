#pragma once

#include "console/console.h"
#include "csc/records.h"
#include "extract/extract.h"
#include "run/archives.h"

#include <cstdint>
#include <string>
#include <vector>

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
inline constexpr int ExitUsage = 2;
inline constexpr int ExitOutputLost = 3; // standard output or standard error refused text
inline constexpr int ExitInterrupted = 130;
inline constexpr int ExitOutOfMemory = 203;

// The state of one run, from the command line to the closing of the archives.
struct RunState {
    console::Console Output; // standard output
    console::Console Errors; // standard error
    // Banner, discovery, phases, progress, warnings and errors: standard output in the classic
    // form; standard error in the option form, where standard output carries only results (the
    // listing, JSON, the summary).
    console::Console* Status = &Output;
    ArchiveHandles Archives;
    csc::IndexTables Tables;
    Step CurrentStep = Step::StartUp;
    extract::ExtractionSettings Extraction{};
};

// One whole run: the command line (the program's name left out), then help, the version, or the
// banner, discovery, tables and the job asked for, the end-of-run report and closing. Returns the
// exit code.
int RunProgram(RunState& state, const std::vector<std::string>& arguments);

// Whether the run ends by waiting for Enter: only where the console window was opened for this run
// alone (a double-click in Explorer) and nothing is redirected.
bool ShouldPauseAtEnd(bool consoleOwnedAlone, bool inputIsConsole, bool outputIsConsole,
                      bool errorsAreConsole);

// Ends a run whose memory ran out: the buffered text, then "Runtime error 203 at <step>" straight
// to the output. Returns the exit code.
int EndWithOutOfMemory(RunState& state);

} // namespace run
