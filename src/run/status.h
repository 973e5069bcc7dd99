#pragma once

#include "console/console.h"
#include "console/progress.h"
#include "csc/index.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a run tells its user, and the one count of what went wrong: the banner, the search for the
// archives, the tables, the phases of the walk and their items, the results that are lines of the
// run's own (help, version, summary), and every warning and error. Each warning and error passes
// through here and is counted, and the run's exit code comes from those counts alone (End). The
// walk and the run report through this and never write to a channel themselves.
namespace run {

inline constexpr int ExitClean = 0;
inline constexpr int ExitWithWarnings = 1;
inline constexpr int ExitUsage = 2;      // also: the index, the archives or output folder failed
inline constexpr int ExitOutputLost = 3; // standard output or standard error refused text
inline constexpr int ExitInterrupted = 130;
inline constexpr int ExitOutOfMemory = 203;

// Where the run stands; a failed allocation reports it as the location of the runtime error.
enum class Phase : std::uint32_t {
    StartUp = 0x00000100,
    IndexTables = 0x00000200,
    SoundInfos = 0x00000300, // the RAW mode reading its records back to back
    TaggedSounds = 0x00000400,
    MissionSounds = 0x00000500,
    RawExtraction = 0x00000600,
};

struct StatusSettings {
    // The classic console: everything on standard output, lines ending in CR LF, nothing on
    // standard error. Otherwise the status goes to standard error, results to standard output.
    bool Classic = true;
    // No banner, phases or progress; warnings, errors, results and closing lines remain.
    bool Quiet = false;
    // Progress items also where the console is a file or a pipe, where they run together into one
    // long line, as the classic console has them.
    bool ItemsWhenRedirected = true;
    // Progress items on a terminal; not where the results of the run go to the same terminal.
    bool ItemsOnTerminal = true;
    // The option form's items count the whole run, with a percentage; the classic ones count each
    // phase.
    bool WholeRunItems = false;
    std::string_view Doing = "Extracting"; // what the phase headings say is done
};

class Status {
  public:
    // Status and results both go to output until Configure says otherwise; errors is standard
    // error. Both channels must outlive the status.
    Status(console::Console& output, console::Console& errors);
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    // Once the command line is read.
    void Configure(StatusSettings settings);

    // Every phase entered is remembered, whether anything is shown or not.
    void Enter(Phase phase);
    Phase Current() const { return current_; }

    // Progress, shown unless quiet.
    void Banner();
    void SearchStarts();
    void LookingFor(std::size_t slot);
    // Said once the archive of the slot is open, or known not to be.
    void Looked(const csc::Archive& archive);
    void SearchEnds();
    void TableReading(csc::Table table);
    void TableRead();
    // The walk is about to take this many sounds in all.
    void WalkStarts(std::size_t sounds) { soundsInRun_ = sounds; }
    // One item of a phase: index counts from 0 among count. A tagged sound by its tag's name, a
    // mission sound by its name, a RAW record by its count of files.
    void TaggedItem(std::size_t index, std::size_t count, std::string_view tag);
    void MissionItem(std::size_t index, std::size_t count, std::string_view name);
    void RawItem(std::size_t index, std::size_t count, std::uint32_t files);
    // The phase entered last ran to its end (an interrupted one does not).
    void PhaseDone();
    // The tree is mounted at folder and stays until it is unmounted by unmountCommand.
    void Mounted(std::string_view folder, std::string_view unmountCommand);

    // Shown in quiet mode too, and counted.
    // A line of its own, after whatever line is open: the warning prefix ("Warning: " in the
    // classic console, "cscunpack: warning: " in the option form), before, the name as the
    // console may show it, after. The run ends with exit code 1.
    void Warning(std::string_view before, std::string_view name = {}, std::string_view after = {});
    // Text the user typed (a pattern) as the warnings' channel shows it.
    std::string TypedText(std::string_view typed) const;
    // Files found damaged by a test: their lines are results, and the run ends with exit code 1.
    void Damaged(std::uint64_t files) { damaged_ += files; }
    // The line of an error that ends the run before its work ("cscunpack: " and the problem in the
    // option form): the run ends with exit code 2.
    void Error(std::string_view line);
    // The same for a command line in error, with the way to the help.
    void UsageError(std::string_view problem);
    // The line that says how far an interrupted run came: the run ends with exit code 130.
    void Interrupted(std::string_view line);
    // A line of its own that ends the run's report.
    void Closing(std::string_view line);
    // A line of the run's own results (the help, the version, an extraction's summary).
    void Result(std::string_view line);

    // False once the status can no longer be shown (its output has gone): the run stops.
    bool Heard() const { return !console::Failed(*channel_); }
    // The exit code the counts give so far, lost output aside.
    int ExitCodeNow() const;
    // Writes out what is buffered, tells of standard output lost (on standard error where that
    // still works, unless the reader of a pipe went away, and never in the classic console), and
    // gives the exit code: 3 where output was lost, else 130, 2, 1 or 0 from the counts.
    int End();
    // Ends a run whose memory ran out: what is buffered, then "Runtime error 203 at <phase>"
    // straight to the status channel, made without memory. Returns the exit code.
    int EndWithOutOfMemory();
    // For a console window opened for this run alone: waits for Enter, so that what the run said
    // can be read before the window closes.
    void Pause();

  private:
    bool ShowsProgress() const { return !settings_.Quiet; }
    // Whether progress items are shown; when not, their text is not even made.
    bool ShowsItems() const;
    // The start of a progress item: "  [i/count] " in a phase of the classic console; in the option
    // form the count of the whole run and how much of it is done.
    std::string ItemNumber(std::size_t index, std::size_t count) const;
    void Heading(std::string_view start, std::string_view end);
    void EndOpenLine();

    console::Console& output_;
    console::Console& errors_;
    console::Console* channel_; // where the status goes: output_ or errors_
    StatusSettings settings_;
    std::optional<console::ProgressLine> progress_; // on the status channel
    Phase current_ = Phase::StartUp;
    std::size_t soundsInRun_ = 0;
    std::size_t soundsBefore_ = 0; // of the phases before this one
    std::size_t phaseSounds_ = 0;  // of this phase, as its items tell
    // The counts the exit code comes from.
    std::uint64_t warnings_ = 0;
    std::uint64_t damaged_ = 0;
    std::uint64_t errorLines_ = 0;
    bool interrupted_ = false;
};

} // namespace run
