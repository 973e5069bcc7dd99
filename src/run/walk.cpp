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
          progress_(console_), selector_(settings.Taken) {}
    ~Walker() { counts_.Unmatched = selector_.Unmatched(); }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    void Normal();
    void Raw();
    void TakeRecord(const csc::TSM_SoundInfo& record, const std::string& basePath,
                    std::int32_t number);

  private:
    void TakeFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                  std::int32_t number);
    void Heading(std::string_view heading);
    // "Phase 1 of 2: Extracting tagged sounds...", with what the job does.
    void PhaseHeading(std::string_view start, std::string_view end);
    // Whether the walk goes on: no interrupt has come, the output still takes text, and the job
    // can use more files.
    bool Going() const {
        return !platform::Interrupted() && !console::Failed(state_.Output) &&
               !console::Failed(state_.Errors) && job_.WantsMore();
    }
    // Whether progress items are shown; when not, their text is not even made.
    bool ShowsItems() const;
    // The start of a progress item: "  [i/count] " in a phase of the classic console; in the option
    // form the count of the whole run and how much of it is done.
    std::string ItemNumber(std::size_t index, std::size_t count) const;
    void ClosePhase();
    std::string Shown(std::string_view name) { return console::Shown(console_, name); }

    RunState& state_;
    console::Console& console_;
    const WalkSettings& settings_;
    extract::Job& job_;
    WalkCounts& counts_;
    console::ProgressLine progress_;
    Selector selector_;
    std::size_t itemsBefore_ = 0; // items of the phases before this one
    std::size_t itemsInRun_ = 0;
};

void Walker::Heading(std::string_view heading) {
    if (!settings_.Quiet) {
        console::WriteLine(console_, heading);
        progress_.Start();
    }
}

void Walker::PhaseHeading(std::string_view start, std::string_view end) {
    if (!settings_.Quiet) {
        Heading(std::string(start) + std::string(settings_.Doing) + std::string(end));
    }
}

bool Walker::ShowsItems() const {
    return !settings_.Quiet &&
           (console_.IsTerminal ? settings_.ItemsOnTerminal : settings_.ItemsWhenRedirected);
}

// Ends the last progress item and leaves one empty line.
void Walker::ClosePhase() {
    if (!settings_.Quiet) {
        progress_.Finish();
        console::Write(console_, console_.LineEnd);
        console::WriteLine(console_);
    }
}

std::string Walker::ItemNumber(std::size_t index, std::size_t count) const {
    if (!settings_.WholeRunItems) {
        return "  [" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ";
    }
    std::size_t done = itemsBefore_ + index + 1;
    return "  [" + std::to_string(done) + "/" + std::to_string(itemsInRun_) + "] " +
           std::to_string(done * 100 / itemsInRun_) + "% ";
}

void Walker::Normal() {
    csc::Archive& index = state_.Archives[csc::IndexArchive];
    const csc::IndexTables& tables = state_.Tables;
    csc::TSM_SoundInfo working;

    itemsInRun_ = tables.TaggedSounds.size() + tables.MissionSounds.size();
    state_.CurrentStep = Step::TaggedSounds;
    PhaseHeading("Phase 1 of 2: ", " tagged sounds...");
    for (std::size_t i = 0; i < tables.TaggedSounds.size() && Going(); ++i) {
        const csc::TSM_TaggedSound& sound = tables.TaggedSounds[i];
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        if (ShowsItems()) {
            const csc::TSM_Tag* tag = extract::FirstTag(tables, sound);
            progress_.Show(ItemNumber(i, tables.TaggedSounds.size()) +
                           Shown(tag != nullptr ? tag->Name : extract::UnknownTag) + "..." +
                           std::string(settings_.WholeRunItems ? 0 : TaggedItemTail, ' '));
        }
        TakeRecord(working, extract::TaggedSoundPath(tables, sound, 0), 0);
    }
    if (!Going()) {
        return;
    }
    ClosePhase();

    itemsBefore_ = tables.TaggedSounds.size();
    state_.CurrentStep = Step::MissionSounds;
    PhaseHeading("Phase 2 of 2: ", " mission sounds...");
    for (std::size_t i = 0; i < tables.MissionSounds.size() && Going(); ++i) {
        const csc::TSM_MissionSound& sound = tables.MissionSounds[i];
        if (ShowsItems()) {
            progress_.Show(ItemNumber(i, tables.MissionSounds.size()) + Shown(sound.Name) + "..." +
                           std::string(settings_.WholeRunItems ? 0 : MissionItemTail, ' '));
        }
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        TakeRecord(working, extract::MissionSoundPath(sound), 0);
    }
    if (!Going()) {
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
        console::Write(console_, "done");
        console::Write(console_, console_.LineEnd);
        console::WriteLine(console_);
    }

    state_.CurrentStep = Step::RawExtraction;
    itemsInRun_ = total;
    PhaseHeading("Special Phase: ", " all sounds (RAW Extract)...");
    for (std::size_t i = 0; i < total && Going(); ++i) {
        if (ShowsItems()) {
            std::string files = std::to_string(soundInfos[i].FileCount) + " files...";
            progress_.Show(settings_.WholeRunItems ? ItemNumber(i, total) + files
                                                   : "  Sound " + std::to_string(i + 1) + " of " +
                                                         std::to_string(total) + ": " + files);
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
    if (!selector_.Selected(found.Path.Text)) {
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
