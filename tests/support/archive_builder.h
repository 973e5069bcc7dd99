#pragma once

#include "csc/records.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Composes CSC archive sets for the tests, the sample and the benchmark. The low level encodes
// single records; ArchiveSetBuilder lays out a whole set from a description of its sounds and
// computes every location word.
namespace builder {

using Bytes = std::string;

void PutU8(Bytes& out, std::uint8_t value);
void PutU16(Bytes& out, std::uint16_t value);
void PutU32(Bytes& out, std::uint32_t value);
void PutCscString(Bytes& out, std::string_view text);

constexpr std::uint32_t Location(std::uint32_t slot, std::uint32_t offset) {
    return slot << 29 | offset;
}

Bytes EncodeTag(const csc::TSM_Tag& tag);
Bytes EncodeTaggedSound(const csc::TSM_TaggedSound& sound);
Bytes EncodeMissionSound(const csc::TSM_MissionSound& sound);
Bytes EncodeSoundInfo(const csc::TSM_SoundInfo& record);
// The front of an index archive: header, tag count, the three tables.
Bytes EncodeIndexFront(const csc::IndexTables& tables);

csc::TSM_TagRef TagRef(std::uint8_t tagIndex, std::uint8_t subTagIndex);

// One stored file of a sound, as the builder is to lay it out.
struct StoredFile {
    std::string Name;
    std::uint32_t Slot = 3; // the archive that holds the bytes
    Bytes Content;
    bool Wav = false; // stored in the WAV form only
    // Overrides for odd and damaged records; by default they follow from the content.
    std::optional<std::uint32_t> DataLocation;
    std::optional<std::uint32_t> OggSize;
    std::optional<std::uint32_t> WavSize;
};

// A stored file of the given content, stored in the OGG form unless wav is set.
StoredFile File(std::string name, std::uint32_t slot, Bytes content, bool wav = false);

struct Sound {
    std::vector<StoredFile> Files;
};

// The bytes of the eight archive slots; a slot without bytes is not written at all.
struct ArchiveSet {
    std::array<std::optional<Bytes>, 8> Archives;
};

void WriteArchiveSet(const ArchiveSet& set, const std::filesystem::path& folder);
std::string ArchiveFileName(std::size_t slot);

enum class RecordOrder { AsAdded, Reversed };

class ArchiveSetBuilder {
  public:
    // Returns the tag's index.
    std::uint8_t AddTag(std::string name, std::vector<std::string> subTags = {});
    void AddTaggedSound(std::vector<csc::TSM_TagRef> tagRefs, Sound sound);
    void AddMissionSound(std::string name, Sound sound);
    // Slots that get an archive even when no file lies in them (slot 2 always has one).
    void AddEmptyArchive(std::uint32_t slot);

    RecordOrder Order = RecordOrder::AsAdded;

    // Lays out the set: the index archive holds the tables, then the sound-info records (tagged
    // sounds first, then mission sounds), then the bytes of the files stored in slot 2; every
    // other archive holds its files back to back behind a few filler bytes.
    ArchiveSet Build() const;

  private:
    csc::IndexTables tables_;
    std::vector<Sound> taggedSounds_;
    std::vector<Sound> missionSounds_;
    std::array<bool, 8> wanted_{};
};

} // namespace builder
