#pragma once

#include "console/console.h"
#include "run/options.h"
#include "run/status.h"

#include <string>
#include <vector>

namespace run {

// What outlives a run that ran out of memory: its channels, and its status, which knows where the
// run stood.
struct RunState {
    RunState(platform::FileHandle output, platform::FileHandle errors);
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    console::Console Output; // standard output
    console::Console Errors; // standard error
    // Banner, discovery, phases, progress, warnings and errors: standard output in the classic
    // form; standard error in the option form, where standard output carries only results (the
    // listing, JSON, the summary).
    run::Status Status;
};

// One whole run: the command line (the program's name left out), then help, the version, or the
// banner, discovery, tables and the job asked for, the end-of-run report and closing. Returns the
// exit code, which the status derives from what it was told.
int RunProgram(RunState& state, const std::vector<std::string>& arguments,
               const Defaults& defaults = {});

// Whether the run ends by waiting for Enter: only where the console window was opened for this run
// alone (a double-click in Explorer) and nothing is redirected.
bool ShouldPauseAtEnd(bool consoleOwnedAlone, bool inputIsConsole, bool outputIsConsole,
                      bool errorsAreConsole);

} // namespace run
