#pragma once

#include "console/console.h"
#include "console/progress.h"
#include "run/status.h"

#include <cstddef>
#include <string_view>

// The status on a console channel: standard output in the classic form, standard error in the
// option form. Quiet mode shows warnings and closing lines only.
namespace run {

struct ConsoleStatusSettings {
    // Progress items also where the console is a file or a pipe, where they run together into one
    // long line, as the classic console has them.
    bool ItemsWhenRedirected = true;
    // Progress items on a terminal; not where the results of the run go to the same terminal.
    bool ItemsOnTerminal = true;
    // The option form's items count the whole run, with a percentage; the classic ones count each
    // phase.
    bool WholeRunItems = false;
    std::string_view Doing = "Extracting"; // what the phase headings say is done
    // What a warning starts with: the classic console's "Warning: ", or, in the option form,
    // the program's name too, so that a reader of a pipeline knows who spoke.
    std::string_view WarningPrefix = "Warning: ";
};

class ConsoleStatus : public Status {
  public:
    ConsoleStatus(console::Console& channel, ConsoleStatusSettings settings)
        : channel_(channel), settings_(settings), progress_(channel) {}

    void Banner() override;
    void SearchStarts() override;
    void LookingFor(std::size_t slot) override;
    void Looked(const csc::Archive& archive) override;
    void SearchEnds() override;
    void TableReading(csc::Table table) override;
    void TableRead() override;
    void WalkStarts(std::size_t sounds) override { soundsInRun_ = sounds; }
    void TaggedItem(std::size_t index, std::size_t count, std::string_view tag) override;
    void MissionItem(std::size_t index, std::size_t count, std::string_view name) override;
    void RawItem(std::size_t index, std::size_t count, std::uint32_t files) override;
    void PhaseDone() override;
    void Warning(std::string_view before, std::string_view name, std::string_view after) override;
    void Mounted(std::string_view folder, std::string_view unmountCommand) override;
    void Closing(std::string_view line) override;
    bool Heard() const override { return !console::Failed(channel_); }

  protected:
    void Entered(Phase phase) override;

  private:
    // Whether progress items are shown; when not, their text is not even made.
    bool ShowsItems() const;
    // The start of a progress item: "  [i/count] " in a phase of the classic console; in the option
    // form the count of the whole run and how much of it is done.
    std::string ItemNumber(std::size_t index, std::size_t count) const;
    void Heading(std::string_view start, std::string_view end);
    void EndOpenLine();

    console::Console& channel_;
    const ConsoleStatusSettings settings_;
    console::ProgressLine progress_;
    std::size_t soundsInRun_ = 0;
    std::size_t soundsBefore_ = 0; // of the phases before this one
    std::size_t phaseSounds_ = 0;  // of this phase, as its items tell
};

// Shows nothing but warnings and closing lines.
class QuietStatus final : public ConsoleStatus {
  public:
    QuietStatus(console::Console& channel, ConsoleStatusSettings settings)
        : ConsoleStatus(channel, settings) {}

    void Banner() override {}
    void SearchStarts() override {}
    void LookingFor(std::size_t) override {}
    void Looked(const csc::Archive&) override {}
    void SearchEnds() override {}
    void TableReading(csc::Table) override {}
    void TableRead() override {}
    void TaggedItem(std::size_t, std::size_t, std::string_view) override {}
    void MissionItem(std::size_t, std::size_t, std::string_view) override {}
    void RawItem(std::size_t, std::size_t, std::uint32_t) override {}
    void PhaseDone() override {}
    void Mounted(std::string_view, std::string_view) override {}

  protected:
    void Entered(Phase) override {}
};

} // namespace run
