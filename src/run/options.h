#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line, in two forms. The compatible form is the original's: only the first argument
// counts, and it selects the RAW mode when it is exactly "-RAWExtract". The option form begins as
// soon as any argument is one of the option-form options or starts with "--"; then every argument
// is read as options, in any order.
namespace run {

enum class Action { Extract, List, Test, Help, Version };

struct Options {
    bool OptionForm = false;
    Action What = Action::Extract;
    bool Raw = false;
    bool Details = false; // with List: each sound's format, channels, rate and duration
    bool Json = false;    // with List or Test: one JSON object per line
    bool Quiet = false;   // no banner, phases or progress
    bool KeepExisting = false;
    std::string ArchiveFolder; // empty: the current folder
    std::string OutputFolder;  // empty: the current folder
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
    std::optional<unsigned> Threads; // none: as many as suit the machine
};

// What the command line asks for, or, in the option form, the one line that names what is wrong
// with it.
struct CommandLine {
    Options Asked;
    std::string Problem;
};

inline constexpr std::string_view RawExtractOption = "-RAWExtract";
inline constexpr unsigned MostThreads = 64;

// arguments leaves out the program's name.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

// The arguments of a whole command line as Windows hands it over: blanks and control characters
// separate arguments, a double quote switches grouping on and off and is dropped, and the
// program's own name, which comes first, is left out.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace run
