#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Every record of the index archive, fields in the order in which the archive stores them.
namespace csc {

// A name under which tagged sounds are grouped, with optional sub-tag names.
struct TSM_Tag {
    std::string Name;
    std::uint8_t TagFlags = 0; // stored, never interpreted
    std::uint8_t SubTagCount = 0;
    std::vector<std::string> SubTags;
};

// One tag and sub-tag pair of a tagged sound: exactly the 5 bytes of the archive.
struct TSM_TagRef {
    std::uint8_t TagIndex = 0;
    std::uint8_t SubTagIndex = 0;          // 255: no sub-tag
    std::array<std::uint8_t, 3> Unknown{}; // stored, never interpreted
};
static_assert(sizeof(TSM_TagRef) == 5, "a tag reference is read as one 5-byte block");

inline constexpr std::uint8_t NoSubTag = 255;

struct TSM_TaggedSound {
    std::uint8_t TagCount = 0;
    std::vector<TSM_TagRef> TagRefs; // only the first one names the sound's folder
    std::uint32_t InfoLocation = 0;  // location word of the sound-info record
};

struct TSM_MissionSound {
    std::string Name;
    std::uint32_t InfoLocation = 0;
};

// The three tables at the front of the index archive, read once and kept for the whole run.
struct IndexTables {
    std::array<std::uint8_t, 13> IndexHeader{};  // stored, never interpreted
    std::vector<TSM_Tag> Tags;                   // at most 255
    std::vector<TSM_TaggedSound> TaggedSounds;   // at most 65,535
    std::vector<TSM_MissionSound> MissionSounds; // at most 65,535
};

// One stored file of a sound: where its bytes lie and how large each form is.
struct SM_SoundFileInfo {
    std::string Name;
    std::uint32_t DataLocation = 0; // location word; 0xFFFFFFFF marks an absent file
    std::uint32_t WavSize = 0;
    std::uint32_t OggSize = 0;
    std::uint32_t Reserved = 0;
    std::string Extra1, Extra2, Extra3, Extra4, Extra5; // stored, never interpreted
};

inline constexpr std::uint32_t AbsentFile = 0xFFFFFFFF;

// The form in which a stored file is taken out: OGG when it has an OGG size, else WAV when it has a
// WAV size, else a bare file of no bytes. Both forms lie at the one location an entry stores.
enum class StoredForm : std::uint8_t { Bare, Ogg, Wav };

struct ChosenForm {
    StoredForm Form = StoredForm::Bare;
    std::uint32_t Size = 0;
};

constexpr ChosenForm ChooseForm(const SM_SoundFileInfo& file) {
    if (file.OggSize != 0) {
        return {StoredForm::Ogg, file.OggSize};
    }
    if (file.WavSize != 0) {
        return {StoredForm::Wav, file.WavSize};
    }
    return {};
}

// ".ogg", ".wav", or nothing for a bare file.
constexpr const char* Extension(StoredForm form) {
    return form == StoredForm::Ogg ? ".ogg" : form == StoredForm::Wav ? ".wav" : "";
}

// One sound of the game: a header and the list of its stored files.
struct TSM_SoundInfo {
    std::array<std::uint8_t, 45> Header{}; // stored, never interpreted
    std::uint8_t FileCount = 0;
    std::vector<SM_SoundFileInfo> Files;
};

} // namespace csc
