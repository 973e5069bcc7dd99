#include "run/walk.h"

#include "console/progress.h"
#include "csc/archives.h"
#include "csc/location.h"
#include "csc/sound_info.h"
#include "extract/paths.h"

#include <vector>

namespace run {
namespace {

class Walker {
  public:
    Walker(RunState& state, const WalkSettings& settings, extract::Job& job, WalkCounts& counts)
        : state_(state), console_(*state.Status), settings_(settings), job_(job), counts_(counts),
          progress_(console_) {}

    void Normal();
    void Raw();
    void TakeRecord(const csc::TSM_SoundInfo& record, const std::string& basePath,
                    std::int32_t number);

  private:
    void TakeFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                  std::int32_t number);
    void Heading(std::string_view heading);
    // Whether progress items are shown; when not, their text is not even made.
    bool ShowsItems() const;
    void ClosePhase();
    std::string Shown(std::string_view name) { return console::Shown(console_, name); }

    RunState& state_;
    console::Console& console_;
    const WalkSettings& settings_;
    extract::Job& job_;
    WalkCounts& counts_;
    console::ProgressLine progress_;
};

void Walker::Heading(std::string_view heading) {
    if (!settings_.Quiet) {
        console::WriteLine(console_, heading);
        progress_.Start();
    }
}

bool Walker::ShowsItems() const {
    return !settings_.Quiet && (console_.IsTerminal || settings_.ItemsWhenRedirected);
}

// Ends the last progress item and leaves one empty line.
void Walker::ClosePhase() {
    if (!settings_.Quiet) {
        progress_.Finish();
        console::Write(console_, "\r\n");
        console::WriteLine(console_);
    }
}

// "  [i/count] ", the start of a normal-mode progress item.
std::string ItemNumber(std::size_t index, std::size_t count) {
    return "  [" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ";
}

void Walker::Normal() {
    csc::Archive& index = state_.Archives[csc::IndexArchive];
    const csc::IndexTables& tables = state_.Tables;
    csc::TSM_SoundInfo working;

    state_.CurrentStep = Step::TaggedSounds;
    Heading("Phase 1 of 2: Extracting tagged sounds...");
    for (std::size_t i = 0; i < tables.TaggedSounds.size() && !platform::Interrupted(); ++i) {
        const csc::TSM_TaggedSound& sound = tables.TaggedSounds[i];
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        if (ShowsItems()) {
            const csc::TSM_Tag* tag = extract::FirstTag(tables, sound);
            progress_.Show(ItemNumber(i, tables.TaggedSounds.size()) +
                           Shown(tag != nullptr ? tag->Name : extract::UnknownTag) + "..." +
                           std::string(TaggedItemTail, ' '));
        }
        TakeRecord(working, extract::TaggedSoundPath(tables, sound, 0), 0);
    }
    if (platform::Interrupted()) {
        return;
    }
    ClosePhase();

    state_.CurrentStep = Step::MissionSounds;
    Heading("Phase 2 of 2: Extracting mission sounds...");
    for (std::size_t i = 0; i < tables.MissionSounds.size() && !platform::Interrupted(); ++i) {
        const csc::TSM_MissionSound& sound = tables.MissionSounds[i];
        if (ShowsItems()) {
            progress_.Show(ItemNumber(i, tables.MissionSounds.size()) + Shown(sound.Name) + "..." +
                           std::string(MissionItemTail, ' '));
        }
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        TakeRecord(working, extract::MissionSoundPath(sound), 0);
    }
    if (platform::Interrupted()) {
        return;
    }
    ClosePhase();
}

void Walker::Raw() {
    csc::Archive& index = state_.Archives[csc::IndexArchive];
    state_.CurrentStep = Step::SoundInfos;
    if (!settings_.Quiet) {
        console::Write(console_, "Read Sounds Info...");
        console::ShowOnTerminal(console_);
    }
    // A plain sum: 65,535 tagged and 65,535 mission sounds make 131,070 records, not a 16-bit
    // wrap-around that would leave most of them behind.
    std::size_t total = state_.Tables.TaggedSounds.size() + state_.Tables.MissionSounds.size();
    std::vector<csc::TSM_SoundInfo> soundInfos(total);
    for (csc::TSM_SoundInfo& record : soundInfos) {
        csc::ReadSoundInfo(index, 0, record);
    }
    if (!settings_.Quiet) {
        console::Write(console_, "done\r\n");
        console::WriteLine(console_);
    }

    state_.CurrentStep = Step::RawExtraction;
    Heading("Special Phase: Extracting all sounds (RAW Extract)...");
    for (std::size_t i = 0; i < total && !platform::Interrupted(); ++i) {
        if (ShowsItems()) {
            progress_.Show("  Sound " + std::to_string(i + 1) + " of " + std::to_string(total) +
                           ": " + std::to_string(soundInfos[i].FileCount) + " files...");
        }
        TakeRecord(soundInfos[i], extract::RawBasePath, static_cast<std::int32_t>(i));
    }
    if (!settings_.Quiet) {
        progress_.Finish(); // no line end follows the last item
    }
}

void Walker::TakeRecord(const csc::TSM_SoundInfo& record, const std::string& basePath,
                        std::int32_t number) {
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        TakeFile(file, basePath, number);
    }
}

// Absent entries leave nothing behind, and neither do those of an archive that is not open, but
// these are counted. Every other entry moves its archive's position over its bytes, whether it is
// taken or left out, so that a record read in place afterwards starts where it always would.
void Walker::TakeFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                      std::int32_t number) {
    if (file.DataLocation == csc::AbsentFile) {
        return;
    }
    std::uint32_t slot = csc::LocationSlot(file.DataLocation);
    csc::Archive& archive = state_.Archives[slot];
    if (!csc::IsOpen(archive)) {
        ++counts_.Skipped[slot];
        return;
    }
    csc::ChosenForm form = csc::ChooseForm(file);
    std::string name = file.Name + csc::Extension(form.Form);
    // The number goes on first, so that the whole name is made safe: "000000_.." climbs nowhere.
    if (settings_.Raw) {
        name = extract::PadZeros(number, 6) + "_" + name;
    }
    csc::SetPosition(archive, csc::LocationOffset(file.DataLocation));
    extract::FoundFile found{.Path =
                                 extract::BuildOutputPath(csc::ArchiveFolderNames[slot], basePath,
                                                          name, state_.Extraction.NameRules),
                             .Slot = slot,
                             .Bytes = csc::Claim(archive, form.Size),
                             .Size = form.Size,
                             .Form = form.Form};
    if (!Selected(settings_.Taken, found.Path.Text)) {
        ++counts_.LeftOut;
        return;
    }
    job_.Take(archive, std::move(found));
}

} // namespace

void ExtractSoundInfo(RunState& state, const WalkSettings& settings, extract::Job& job,
                      WalkCounts& counts, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number) {
    Walker(state, settings, job, counts).TakeRecord(record, basePath, number);
}

void Walk(RunState& state, const WalkSettings& settings, extract::Job& job, WalkCounts& counts) {
    Walker walker(state, settings, job, counts);
    if (settings.Raw) {
        walker.Raw();
    } else {
        walker.Normal();
    }
}

} // namespace run
