#include "platform/platform.h"
#include "run/options.h"
#include "run/run.h"

#include <new>

int main(int argc, char** argv) {
    platform::PrepareProcess();
    run::RunState state(platform::StandardOutput(), platform::StandardError());
    // Running out of memory is the one condition that ends a run early, wherever it happens.
    try {
        std::vector<std::string> arguments;
        if (std::optional<std::string> whole = platform::WholeCommandLine()) {
            arguments = run::SplitCommandLine(*whole);
        } else {
            arguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
        }
        int exitCode = run::RunProgram(state, arguments);
        platform::InterruptHandled();
        return exitCode;
    } catch (const std::bad_alloc&) {
        return state.Status.EndWithOutOfMemory();
    }
}
