#include "run/status.h"

#include "csc/archives.h"
#include "platform/platform.h"
#include "run/archives.h"

#include <cstdio>
#include <string>

namespace run {
namespace {

// The classic items end in spaces that cover what a longer item before them left.
constexpr std::size_t TaggedItemTail = 25;
constexpr std::size_t MissionItemTail = 13;

std::string_view TablePending(csc::Table table) {
    switch (table) {
    case csc::Table::Tags:
        return "Read Tags Table...";
    case csc::Table::TaggedSounds:
        return "Read Tagged Sounds...";
    case csc::Table::MissionSounds:
        return "Read Mission Sounds...";
    }
    return {};
}

} // namespace

Status::Status(console::Console& output, console::Console& errors)
    : output_(output), errors_(errors), channel_(&output) {
    progress_.emplace(*channel_);
}

void Status::Configure(StatusSettings settings) {
    settings_ = settings;
    output_.LineEnd = errors_.LineEnd =
        settings.Classic ? console::ClassicLineEnd : console::NativeLineEnd;
    channel_ = settings.Classic ? &output_ : &errors_;
    if (!settings.Classic && !output_.IsTerminal) {
        output_.Capacity = console::ResultsCapacity;
    }
    progress_.emplace(*channel_);
}

void Status::Enter(Phase phase) {
    current_ = phase;
    if (!ShowsProgress()) {
        return;
    }
    switch (phase) {
    case Phase::StartUp:
    case Phase::IndexTables:
        return;
    case Phase::SoundInfos:
        console::Write(*channel_, "Read Sounds Info...");
        console::ShowOnTerminal(*channel_);
        return;
    case Phase::TaggedSounds:
        soundsBefore_ = 0;
        Heading("Phase 1 of 2: ", " tagged sounds...");
        return;
    case Phase::MissionSounds:
        soundsBefore_ += phaseSounds_;
        Heading("Phase 2 of 2: ", " mission sounds...");
        return;
    case Phase::RawExtraction:
        soundsBefore_ = 0;
        Heading("Special Phase: ", " all sounds (RAW Extract)...");
        return;
    }
}

void Status::Banner() {
    if (!ShowsProgress()) {
        return;
    }
    console::WriteLine(*channel_, "Corvane 2 CSC Archives Unpacker v" CSCUNPACK_VERSION
                                  " by Kestrin [https://example.org/cscunpack]");
    console::WriteLine(*channel_, "Supported: Corvane - Hollowline & Marrowgate - Duskfall");
    console::WriteLine(*channel_, "Big Thanx to Tamsel from the CSC format notes for CSC spec");
    console::WriteLine(*channel_);
}

void Status::SearchStarts() {
    if (ShowsProgress()) {
        console::WriteLine(*channel_, "Searching CSC Archives...");
    }
}

void Status::LookingFor(std::size_t slot) {
    if (!ShowsProgress()) {
        return;
    }
    console::Write(*channel_, "  ");
    console::Write(*channel_, csc::ArchiveFileNames[slot]);
    console::Write(*channel_, ": ");
    console::ShowOnTerminal(*channel_);
}

void Status::Looked(const csc::Archive& archive) {
    if (ShowsProgress()) {
        console::WriteLine(*channel_, csc::IsOpen(archive) ? "ok" : WhyNotOpen(archive));
    }
}

void Status::SearchEnds() {
    if (ShowsProgress()) {
        console::WriteLine(*channel_);
    }
}

void Status::TableReading(csc::Table table) {
    if (ShowsProgress()) {
        console::Write(*channel_, TablePending(table));
        console::ShowOnTerminal(*channel_);
    }
}

void Status::TableRead() {
    if (ShowsProgress()) {
        console::WriteLine(*channel_, "done");
    }
}

void Status::Heading(std::string_view start, std::string_view end) {
    phaseSounds_ = 0;
    std::string heading(start);
    heading.append(settings_.Doing).append(end);
    console::WriteLine(*channel_, heading);
    progress_->Start();
}

bool Status::ShowsItems() const {
    return ShowsProgress() &&
           (channel_->IsTerminal ? settings_.ItemsOnTerminal : settings_.ItemsWhenRedirected);
}

std::string Status::ItemNumber(std::size_t index, std::size_t count) const {
    if (!settings_.WholeRunItems) {
        return "  [" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ";
    }
    std::size_t done = soundsBefore_ + index + 1;
    return "  [" + std::to_string(done) + "/" + std::to_string(soundsInRun_) + "] " +
           std::to_string(done * 100 / soundsInRun_) + "% ";
}

void Status::TaggedItem(std::size_t index, std::size_t count, std::string_view tag) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        progress_->Show(ItemNumber(index, count) + console::Shown(*channel_, tag) + "..." +
                        std::string(settings_.WholeRunItems ? 0 : TaggedItemTail, ' '));
    }
}

void Status::MissionItem(std::size_t index, std::size_t count, std::string_view name) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        progress_->Show(ItemNumber(index, count) + console::Shown(*channel_, name) + "..." +
                        std::string(settings_.WholeRunItems ? 0 : MissionItemTail, ' '));
    }
}

void Status::RawItem(std::size_t index, std::size_t count, std::uint32_t files) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        std::string text = std::to_string(files) + " files...";
        progress_->Show(settings_.WholeRunItems ? ItemNumber(index, count) + text
                                                : "  Sound " + std::to_string(index + 1) + " of " +
                                                      std::to_string(count) + ": " + text);
    }
}

void Status::PhaseDone() {
    if (!ShowsProgress()) {
        return;
    }
    switch (Current()) {
    case Phase::StartUp:
        return;
    case Phase::IndexTables:
        console::WriteLine(*channel_);
        return;
    case Phase::SoundInfos:
        console::Write(*channel_, "done");
        console::Write(*channel_, channel_->LineEnd);
        console::WriteLine(*channel_);
        return;
    case Phase::TaggedSounds:
    case Phase::MissionSounds:
        // Ends the last progress item and leaves one empty line.
        progress_->Finish();
        console::Write(*channel_, channel_->LineEnd);
        console::WriteLine(*channel_);
        return;
    case Phase::RawExtraction:
        progress_->Finish(); // no line end follows the last item
        return;
    }
}

void Status::EndOpenLine() {
    if (console::LineOpen(*channel_)) {
        console::WriteLine(*channel_);
    }
}

void Status::Mounted(std::string_view folder, std::string_view unmountCommand) {
    if (ShowsProgress()) {
        Closing("Mounted at " + console::ShownText(*channel_, folder) +
                "; unmount with: " + console::ShownText(*channel_, unmountCommand));
    }
}

void Status::Warning(std::string_view before, std::string_view name, std::string_view after) {
    ++warnings_;
    EndOpenLine();
    console::Write(*channel_, settings_.Classic ? "Warning: " : "cscunpack: warning: ");
    console::Write(*channel_, before);
    console::WriteName(*channel_, name);
    console::WriteLine(*channel_, after);
}

std::string Status::TypedText(std::string_view typed) const {
    return console::ShownText(*channel_, typed);
}

void Status::Error(std::string_view line) {
    ++errorLines_;
    Closing(line);
}

void Status::UsageError(std::string_view problem) {
    ++errorLines_;
    console::WriteLine(errors_, "cscunpack: " + console::ShownText(errors_, problem));
    console::WriteLine(errors_, "Try 'cscunpack --help'");
}

void Status::Interrupted(std::string_view line) {
    interrupted_ = true;
    Closing(line);
}

void Status::Closing(std::string_view line) {
    EndOpenLine();
    console::WriteLine(*channel_, line);
}

void Status::Result(std::string_view line) {
    console::WriteLine(output_, line);
}

int Status::End() {
    // The RAW mode's last item is left open, so that no prompt lands on it on a terminal.
    console::EndOpenLine(*channel_);
    console::WriteOutEverything(output_);
    console::WriteOutEverything(errors_);
    if (console::Failed(output_) && !platform::IsBrokenPipe(output_.WriteError) &&
        !settings_.Classic) {
        console::WriteLine(errors_, "cscunpack: cannot write to standard output (" +
                                        platform::DescribeError(output_.WriteError) + ")");
        console::WriteOutEverything(errors_);
    }
    if (console::Failed(output_) || console::Failed(errors_)) {
        return ExitOutputLost;
    }
    return ExitCodeNow();
}

int Status::ExitCodeNow() const {
    if (interrupted_) {
        return ExitInterrupted;
    }
    if (errorLines_ > 0) {
        return ExitUsage;
    }
    return warnings_ > 0 || damaged_ > 0 ? ExitWithWarnings : ExitClean;
}

void Status::Pause() {
    console::Write(output_, "Press Enter to close this window");
    console::WriteOutEverything(output_);
    platform::WaitForEnter();
}

int Status::EndWithOutOfMemory() {
    console::WriteOutEverything(output_);
    console::WriteOutEverything(errors_);
    // Memory has run out: the line is made on the stack.
    char line[64];
    int length = std::snprintf(line, sizeof line, "Runtime error %3d at %08X\r\n", ExitOutOfMemory,
                               static_cast<unsigned>(current_));
    if (length > 0) {
        platform::Write(channel_->Out, line, static_cast<std::size_t>(length));
    }
    return ExitOutOfMemory;
}

} // namespace run
