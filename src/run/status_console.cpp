#include "run/status_console.h"

#include "csc/archives.h"
#include "run/archives.h"

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

void ConsoleStatus::Banner() {
    console::WriteLine(channel_, "Corvane 2 CSC Archives Unpacker v" CSCUNPACK_VERSION
                                 " by Kestrin [https://example.org/cscunpack]");
    console::WriteLine(channel_, "Supported: Corvane - Hollowline & Marrowgate - Duskfall");
    console::WriteLine(channel_, "Big Thanx to Tamsel from the CSC format notes for CSC spec");
    console::WriteLine(channel_);
}

void ConsoleStatus::SearchStarts() {
    console::WriteLine(channel_, "Searching CSC Archives...");
}

void ConsoleStatus::LookingFor(std::size_t slot) {
    console::Write(channel_, "  ");
    console::Write(channel_, csc::ArchiveFileNames[slot]);
    console::Write(channel_, ": ");
    console::ShowOnTerminal(channel_);
}

void ConsoleStatus::Looked(const csc::Archive& archive) {
    console::WriteLine(channel_, csc::IsOpen(archive) ? "ok" : WhyNotOpen(archive));
}

void ConsoleStatus::SearchEnds() {
    console::WriteLine(channel_);
}

void ConsoleStatus::TableReading(csc::Table table) {
    console::Write(channel_, TablePending(table));
    console::ShowOnTerminal(channel_);
}

void ConsoleStatus::TableRead() {
    console::WriteLine(channel_, "done");
}

void ConsoleStatus::Entered(Phase phase) {
    switch (phase) {
    case Phase::StartUp:
    case Phase::IndexTables:
        return;
    case Phase::SoundInfos:
        console::Write(channel_, "Read Sounds Info...");
        console::ShowOnTerminal(channel_);
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

void ConsoleStatus::Heading(std::string_view start, std::string_view end) {
    phaseSounds_ = 0;
    std::string heading(start);
    heading.append(settings_.Doing).append(end);
    console::WriteLine(channel_, heading);
    progress_.Start();
}

bool ConsoleStatus::ShowsItems() const {
    return channel_.IsTerminal ? settings_.ItemsOnTerminal : settings_.ItemsWhenRedirected;
}

std::string ConsoleStatus::ItemNumber(std::size_t index, std::size_t count) const {
    if (!settings_.WholeRunItems) {
        return "  [" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ";
    }
    std::size_t done = soundsBefore_ + index + 1;
    return "  [" + std::to_string(done) + "/" + std::to_string(soundsInRun_) + "] " +
           std::to_string(done * 100 / soundsInRun_) + "% ";
}

void ConsoleStatus::TaggedItem(std::size_t index, std::size_t count, std::string_view tag) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        progress_.Show(ItemNumber(index, count) + console::Shown(channel_, tag) + "..." +
                       std::string(settings_.WholeRunItems ? 0 : TaggedItemTail, ' '));
    }
}

void ConsoleStatus::MissionItem(std::size_t index, std::size_t count, std::string_view name) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        progress_.Show(ItemNumber(index, count) + console::Shown(channel_, name) + "..." +
                       std::string(settings_.WholeRunItems ? 0 : MissionItemTail, ' '));
    }
}

void ConsoleStatus::RawItem(std::size_t index, std::size_t count, std::uint32_t files) {
    phaseSounds_ = count;
    if (ShowsItems()) {
        std::string text = std::to_string(files) + " files...";
        progress_.Show(settings_.WholeRunItems ? ItemNumber(index, count) + text
                                               : "  Sound " + std::to_string(index + 1) + " of " +
                                                     std::to_string(count) + ": " + text);
    }
}

void ConsoleStatus::PhaseDone() {
    switch (Current()) {
    case Phase::StartUp:
        return;
    case Phase::IndexTables:
        console::WriteLine(channel_);
        return;
    case Phase::SoundInfos:
        console::Write(channel_, "done");
        console::Write(channel_, channel_.LineEnd);
        console::WriteLine(channel_);
        return;
    case Phase::TaggedSounds:
    case Phase::MissionSounds:
        // Ends the last progress item and leaves one empty line.
        progress_.Finish();
        console::Write(channel_, channel_.LineEnd);
        console::WriteLine(channel_);
        return;
    case Phase::RawExtraction:
        progress_.Finish(); // no line end follows the last item
        return;
    }
}

void ConsoleStatus::EndOpenLine() {
    if (console::LineOpen(channel_)) {
        console::WriteLine(channel_);
    }
}

void ConsoleStatus::Warning(std::string_view before, std::string_view name,
                            std::string_view after) {
    EndOpenLine();
    console::Write(channel_, settings_.WarningPrefix);
    console::Write(channel_, before);
    console::WriteName(channel_, name);
    console::WriteLine(channel_, after);
}

void ConsoleStatus::Mounted(std::string_view folder, std::string_view unmountCommand) {
    Closing("Mounted at " + console::Shown(channel_, folder) +
            "; unmount with: " + console::Shown(channel_, unmountCommand));
}

void ConsoleStatus::Closing(std::string_view line) {
    EndOpenLine();
    console::WriteLine(channel_, line);
}

} // namespace run
