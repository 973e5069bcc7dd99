#pragma once

#include "console/console.h"
#include "run/options.h"
#include "run/status.h"

#include <memory>
#include <string>
#include <vector>

namespace run {

inline constexpr int ExitClean = 0;
inline constexpr int ExitWithWarnings = 1;
inline constexpr int ExitIndexNotFound = 2;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitOutputLost = 3; // standard output or standard error refused text
inline constexpr int ExitInterrupted = 130;
inline constexpr int ExitOutOfMemory = 203;

// What outlives a run that ran out of memory: its channels, and its status, which knows where the
// run stood.
struct RunState {
    console::Console Output; // standard output
    console::Console Errors; // standard error
    // Banner, discovery, phases, progress, warnings and errors: standard output in the classic
    // form; standard error in the option form, where standard output carries only results (the
    // listing, JSON, the summary).
    console::Console* StatusChannel = &Output;
    std::unique_ptr<Status> Reporter; // made once the command line is read
};

// One whole run: the command line (the program's name left out), then help, the version, or the
// banner, discovery, tables and the job asked for, the end-of-run report and closing. Returns the
// exit code.
int RunProgram(RunState& state, const std::vector<std::string>& arguments,
               const Defaults& defaults = {});

// Whether the run ends by waiting for Enter: only where the console window was opened for this run
// alone (a double-click in Explorer) and nothing is redirected.
bool ShouldPauseAtEnd(bool consoleOwnedAlone, bool inputIsConsole, bool outputIsConsole,
                      bool errorsAreConsole);

// Ends a run whose memory ran out: the buffered text, then "Runtime error 203 at <phase>" straight
// to the status channel. Returns the exit code.
int EndWithOutOfMemory(RunState& state);

} // namespace run
