#include "run/walk.h"

#include "csc/location.h"
#include "csc/sound_info.h"
#include "csc/sound_paths.h"

#include <optional>
#include <unordered_map>
#include <vector>

namespace run {
namespace {

class Walker {
  public:
    Walker(csc::Index& index, Status& status, const WalkSettings& settings, jobs::Job& job,
           WalkCounts& counts)
        : index_(index), status_(status), settings_(settings), job_(job), counts_(counts),
          selector_(settings.Taken) {}
    ~Walker() { counts_.Unmatched = selector_.Unmatched(); }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    void Normal();
    void Raw();

  private:
    // The sound a record belongs to, where the tables name one.
    struct Sound {
        const csc::TSM_TaggedSound* Tagged = nullptr;
        const csc::TSM_MissionSound* Mission = nullptr;
    };
    void TakeRecord(const csc::TSM_SoundInfo& record, const std::string& basePath,
                    std::int32_t number, Sound sound);
    void TakeFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                  std::int32_t number, Sound sound);
    bool Going() const { return !platform::Interrupted() && status_.Heard() && job_.WantsMore(); }

    csc::Index& index_;
    Status& status_;
    const WalkSettings& settings_;
    jobs::Job& job_;
    WalkCounts& counts_;
    Selector selector_;
    // A tagged sound's path depends on the tag and sub-tag its first reference names alone.
    const std::string& TaggedSoundPath(const csc::TSM_TaggedSound& sound) {
        std::uint32_t key = sound.TagRefs.empty() ? 1u << 16
                                                  : std::uint32_t{sound.TagRefs[0].TagIndex} << 8 |
                                                        sound.TagRefs[0].SubTagIndex;
        auto [known, added] = taggedPaths_.try_emplace(key);
        if (added) {
            known->second = csc::TaggedSoundPath(index_.Tables, sound, 0);
        }
        return known->second;
    }
    std::unordered_map<std::uint32_t, std::string> taggedPaths_;
    std::string missionName_, missionPath_;
    std::string folderBase_;
    std::string name_;      // the file's name, made again for each file in the one buffer
    jobs::FoundFile found_; // the file found, likewise
    std::array<std::optional<layout::OutputPath>, csc::ArchiveSlots> folders_;
};

void Walker::Normal() {
    csc::Archive& archive = index_.Archives[csc::IndexArchive];
    const csc::IndexTables& tables = index_.Tables;
    csc::TSM_SoundInfo working;

    status_.WalkStarts(tables.TaggedSounds.size() + tables.MissionSounds.size());
    status_.Enter(Phase::TaggedSounds);
    for (std::size_t i = 0; i < tables.TaggedSounds.size() && Going(); ++i) {
        const csc::TSM_TaggedSound& sound = tables.TaggedSounds[i];
        csc::ReadSoundInfo(archive, sound.InfoLocation, working);
        const csc::TSM_Tag* tag = csc::FirstTag(tables, sound);
        status_.TaggedItem(i, tables.TaggedSounds.size(),
                           tag != nullptr ? tag->Name : csc::UnknownTag);
        TakeRecord(working, TaggedSoundPath(sound), 0, {.Tagged = &sound});
    }
    if (!Going()) {
        return;
    }
    status_.PhaseDone();

    status_.Enter(Phase::MissionSounds);
    for (std::size_t i = 0; i < tables.MissionSounds.size() && Going(); ++i) {
        const csc::TSM_MissionSound& sound = tables.MissionSounds[i];
        status_.MissionItem(i, tables.MissionSounds.size(), sound.Name);
        csc::ReadSoundInfo(archive, sound.InfoLocation, working);
        if (sound.Name != missionName_ || missionPath_.empty()) {
            missionName_ = sound.Name; // a mission's sounds mostly come one after the other
            missionPath_ = csc::MissionSoundPath(sound);
        }
        TakeRecord(working, missionPath_, 0, {.Mission = &sound});
    }
    if (!Going()) {
        return;
    }
    status_.PhaseDone();
}

void Walker::Raw() {
    csc::Archive& archive = index_.Archives[csc::IndexArchive];
    status_.Enter(Phase::SoundInfos);
    // A plain sum: 65,535 tagged and 65,535 mission sounds make 131,070 records, not a 16-bit
    // wrap-around that would leave most of them behind.
    std::size_t total = index_.Tables.TaggedSounds.size() + index_.Tables.MissionSounds.size();
    std::vector<csc::TSM_SoundInfo> soundInfos(total);
    for (csc::TSM_SoundInfo& record : soundInfos) {
        csc::ReadSoundInfo(archive, 0, record);
    }
    status_.PhaseDone();

    status_.WalkStarts(total);
    status_.Enter(Phase::RawExtraction);
    for (std::size_t i = 0; i < total && Going(); ++i) {
        status_.RawItem(i, total, soundInfos[i].FileCount);
        TakeRecord(soundInfos[i], csc::RawBasePath, static_cast<std::int32_t>(i), {});
    }
    status_.PhaseDone(); // whether interrupted or not: the line stays open either way
}

void Walker::TakeRecord(const csc::TSM_SoundInfo& record, const std::string& basePath,
                        std::int32_t number, Sound sound) {
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        TakeFile(file, basePath, number, sound);
    }
}

// Absent entries leave nothing behind. An entry is matched against the patterns first: one they
// leave out is counted as left out, one they take whose archive is not open as skipped. Every
// other entry moves its archive's position over its bytes, whether it is taken or left out, so
// that a record read in place afterwards starts where it always would.
void Walker::TakeFile(const csc::SM_SoundFileInfo& file, const std::string& basePath,
                      std::int32_t number, Sound sound) {
    if (file.DataLocation == csc::AbsentFile) {
        return;
    }
    std::uint32_t slot = csc::LocationSlot(file.DataLocation);
    csc::Archive& archive = index_.Archives[slot];
    csc::ChosenForm form = csc::ChooseForm(file);
    layout::FileName(file, form.Form,
                     settings_.Raw ? std::optional<std::int32_t>(number) : std::nullopt, name_);
    if (basePath != folderBase_) {
        // The files of a sound, and often of the sounds after it, share a base path: each
        // archive's folder for it is made safe once.
        folderBase_ = basePath;
        for (std::optional<layout::OutputPath>& folder : folders_) {
            folder.reset();
        }
    }
    if (!folders_[slot]) {
        folders_[slot] =
            layout::BuildFolderPath(csc::ArchiveFolderNames[slot], basePath, settings_.NameRules);
    }
    // The file is made where the last one was: a job that kept nothing of it leaves its memory.
    jobs::FoundFile& found = found_;
    layout::BuildOutputPath(*folders_[slot], name_, settings_.NameRules, found.Path);
    bool selected = selector_.Selected(found.Path.Text);
    if (!csc::IsOpen(archive)) {
        ++(selected ? counts_.Skipped[slot] : counts_.LeftOut);
        return;
    }
    csc::SetPosition(archive, csc::LocationOffset(file.DataLocation));
    found.Slot = slot;
    found.Stored = csc::Claim(archive, form.Size);
    found.Size = form.Size;
    found.Form = form.Form;
    found.Tagged = sound.Tagged;
    found.Mission = sound.Mission;
    if (!selected) {
        ++counts_.LeftOut;
        return;
    }
    csc::ExtentReader stored(archive);
    job_.Take(stored, found);
}

} // namespace

void Walk(csc::Index& index, Status& status, const WalkSettings& settings, jobs::Job& job,
          WalkCounts& counts) {
    Walker walker(index, status, settings, job, counts);
    if (settings.Raw) {
        walker.Raw();
    } else {
        walker.Normal();
    }
}

} // namespace run
