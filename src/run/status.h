#pragma once

#include "csc/index.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// What a run tells its user while it works: the banner, the search for the archives, the tables,
// the phases of the walk and their items, and warnings. The walk and the run report through this
// alone and never decide whether or how anything is shown; quiet mode is one implementation, the
// console another (status_console.h).
namespace run {

// Where the run stands; a failed allocation reports it as the location of the runtime error.
enum class Phase : std::uint32_t {
    StartUp = 0x00000100,
    IndexTables = 0x00000200,
    SoundInfos = 0x00000300, // the RAW mode reading its records back to back
    TaggedSounds = 0x00000400,
    MissionSounds = 0x00000500,
    RawExtraction = 0x00000600,
};

class Status {
  public:
    virtual ~Status() = default;

    // Every phase entered is remembered, whether anything is shown or not.
    void Enter(Phase phase) {
        current_ = phase;
        Entered(phase);
    }
    Phase Current() const { return current_; }

    virtual void Banner() = 0;
    virtual void SearchStarts() = 0;
    virtual void LookingFor(std::size_t slot) = 0;
    // Said once the archive of the slot is open, or known not to be.
    virtual void Looked(const csc::Archive& archive) = 0;
    virtual void SearchEnds() = 0;
    virtual void TableReading(csc::Table table) = 0;
    virtual void TableRead() = 0;
    // The walk is about to take this many sounds in all.
    virtual void WalkStarts(std::size_t sounds) = 0;
    // One item of a phase: index counts from 0 among count. A tagged sound by its tag's name, a
    // mission sound by its name, a RAW record by its count of files.
    virtual void TaggedItem(std::size_t index, std::size_t count, std::string_view tag) = 0;
    virtual void MissionItem(std::size_t index, std::size_t count, std::string_view name) = 0;
    virtual void RawItem(std::size_t index, std::size_t count, std::uint32_t files) = 0;
    // The phase entered last ran to its end (an interrupted one does not).
    virtual void PhaseDone() = 0;
    // A line of its own, after whatever line is open: "Warning: " + before + the name as the
    // console may show it + after. Shown in quiet mode too.
    virtual void Warning(std::string_view before, std::string_view name = {},
                         std::string_view after = {}) = 0;
    // The tree is mounted at folder and stays until it is unmounted by unmountCommand.
    virtual void Mounted(std::string_view folder, std::string_view unmountCommand) = 0;
    // A line of its own that ends the run's report, shown in quiet mode too.
    virtual void Closing(std::string_view line) = 0;
    // False once the status can no longer be shown (its output has gone): the run stops.
    virtual bool Heard() const = 0;

  protected:
    virtual void Entered(Phase phase) = 0;

  private:
    Phase current_ = Phase::StartUp;
};

} // namespace run
