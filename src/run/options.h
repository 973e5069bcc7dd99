#pragma once

#include "jobs/listing.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line, in two forms. The compatible (classic) form is exactly one of the lines that
// callers of the tool have always used: no argument (the normal mode), "-RAWExtract" alone (the RAW
// mode), or a request for help or the version alone. Every other line is read as the option form,
// with getopt's habits: short options bundle ("-lq", "-dout"), long ones take "--name=value", "--"
// ends the options, and an argument that is not an option is an error. So a typo never runs an
// extraction over the current folder.
namespace run {

enum class Action { Extract, List, Test, Stream, Mount, Serve, Help, Version };

struct Options {
    bool OptionForm = false;
    Action What = Action::Extract;
    bool Raw = false;
    bool Details = false; // with List: each sound's format, channels, rate and duration
    bool Json = false;    // with List or Test: one JSON object per line
    jobs::ListingStyle Style = jobs::ListingStyle::Table;
    bool Quiet = false; // no banner, phases or progress
    bool KeepExisting = false;
    std::string ArchiveFolder; // empty: the current folder
    std::string OutputFolder;  // empty: the current folder
    std::string MountFolder;   // with Mount: where the tree is shown
    bool Background = false;   // with Mount: detach once the mount is ready
    std::string ServeAddress;  // with Serve: a numeric address, IPv6 without brackets
    std::uint16_t ServePort = 0;
    bool OpenPage = false; // with Serve: open the page in the default browser
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
    std::optional<unsigned> Threads; // writers, or checkers; none: as many as suit the machine
};

// How many threads suit the machine: as many writers as it has hardware threads, at most eight;
// none (the reading thread does the work) on a machine with one.
unsigned MachineThreads();

// What a run does where its command line says nothing that Options leaves open: the one place
// that says it. Tests and benches choose other values for the classic form, which has no options.
struct Defaults {
    unsigned Threads = MachineThreads(); // writers of an extraction, checkers of a test
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

// One option of the option form.
struct OptionName {
    std::string_view Long;
    int Short;              // a letter, or 256 and above for an option without one
    std::string_view Value; // what its value is called ("DIR"), or nothing for no value
    unsigned Jobs;          // the jobs it does something for, a bit for each Action
    std::string_view Help;  // its line (or lines, "\n" between them) in the help
    constexpr bool TakesValue() const { return !Value.empty(); }
};
// Every option, in the order the help shows them.
std::span<const OptionName> OptionTable();
// The help text, a line each.
std::vector<std::string> HelpText();

// The arguments of a whole command line as Windows hands it over (in UTF-8), split as the C
// runtime splits it for every Windows program: blanks and tabs separate arguments, a double quote
// switches grouping on and off, 2n backslashes before a quote stand for n and 2n+1 for n and the
// quote itself, other backslashes for themselves, and "" inside quotes for a quote; the program's
// own name, which comes first, is left out. So cmd, PowerShell and the quoting of any language's
// process library reach the tool as they meant to. The classic form's own reading lets control
// characters separate too: where that finds one of its lines in a line that holds them, the
// classic form's reading holds, so that its lines run exactly as they did.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace run
