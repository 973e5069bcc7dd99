#include "platform/platform.h"
#include "run/options.h"
#include "run/run.h"

#include <new>

namespace {

std::optional<std::string> FirstCommandLineArgument(int argc, char** argv) {
    if (std::optional<std::string> whole = platform::WholeCommandLine()) {
        return run::FirstArgument(*whole);
    }
    if (argc < 2) {
        return std::nullopt;
    }
    return std::string(argv[1]);
}

} // namespace

int main(int argc, char** argv) {
    platform::PrepareProcess();
    run::Run state;
    state.Console = console::OpenStandardOutput();
    // Running out of memory is the one condition that ends a run early, wherever it happens.
    try {
        int exitCode = run::RunProgram(state, FirstCommandLineArgument(argc, argv));
        platform::InterruptHandled();
        return exitCode;
    } catch (const std::bad_alloc&) {
        return run::EndWithOutOfMemory(state);
    }
}
