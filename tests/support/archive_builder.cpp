#include "archive_builder.h"

#include "csc/archives.h"

#include <fstream>
#include <stdexcept>

namespace builder {

void PutU8(Bytes& out, std::uint8_t value) {
    out.push_back(static_cast<char>(value));
}

void PutU16(Bytes& out, std::uint16_t value) {
    PutU8(out, static_cast<std::uint8_t>(value));
    PutU8(out, static_cast<std::uint8_t>(value >> 8));
}

void PutU32(Bytes& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value));
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutCscString(Bytes& out, std::string_view text) {
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

Bytes EncodeTag(const csc::TSM_Tag& tag) {
    Bytes out;
    PutCscString(out, tag.Name);
    PutU8(out, tag.TagFlags);
    PutU8(out, tag.SubTagCount);
    for (const std::string& subTag : tag.SubTags) {
        PutCscString(out, subTag);
    }
    return out;
}

Bytes EncodeTaggedSound(const csc::TSM_TaggedSound& sound) {
    Bytes out;
    PutU8(out, sound.TagCount);
    for (const csc::TSM_TagRef& reference : sound.TagRefs) {
        PutU8(out, reference.TagIndex);
        PutU8(out, reference.SubTagIndex);
        for (std::uint8_t byte : reference.Unknown) {
            PutU8(out, byte);
        }
    }
    PutU32(out, sound.InfoLocation);
    return out;
}

Bytes EncodeMissionSound(const csc::TSM_MissionSound& sound) {
    Bytes out;
    PutCscString(out, sound.Name);
    PutU32(out, sound.InfoLocation);
    return out;
}

Bytes EncodeSoundInfo(const csc::TSM_SoundInfo& record) {
    Bytes out(record.Header.begin(), record.Header.end());
    PutU8(out, record.FileCount);
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        PutCscString(out, file.Name);
        PutU32(out, file.DataLocation);
        PutU32(out, file.WavSize);
        PutU32(out, file.OggSize);
        PutU32(out, file.Reserved);
        for (const std::string* extra :
             {&file.Extra1, &file.Extra2, &file.Extra3, &file.Extra4, &file.Extra5}) {
            PutCscString(out, *extra);
        }
    }
    return out;
}

Bytes EncodeIndexFront(const csc::IndexTables& tables) {
    Bytes out(tables.IndexHeader.begin(), tables.IndexHeader.end());
    PutU8(out, static_cast<std::uint8_t>(tables.Tags.size()));
    for (const csc::TSM_Tag& tag : tables.Tags) {
        out += EncodeTag(tag);
    }
    PutU16(out, static_cast<std::uint16_t>(tables.TaggedSounds.size()));
    for (const csc::TSM_TaggedSound& sound : tables.TaggedSounds) {
        out += EncodeTaggedSound(sound);
    }
    PutU16(out, static_cast<std::uint16_t>(tables.MissionSounds.size()));
    for (const csc::TSM_MissionSound& sound : tables.MissionSounds) {
        out += EncodeMissionSound(sound);
    }
    return out;
}

csc::TSM_TagRef TagRef(std::uint8_t tagIndex, std::uint8_t subTagIndex) {
    return csc::TSM_TagRef{tagIndex, subTagIndex, {0x11, 0x22, 0x33}};
}

StoredFile File(std::string name, std::uint32_t slot, Bytes content, bool wav) {
    StoredFile file;
    file.Name = std::move(name);
    file.Slot = slot;
    file.Content = std::move(content);
    file.Wav = wav;
    return file;
}

std::string ArchiveFileName(std::size_t slot) {
    return std::string(csc::ArchiveFileNames[slot]);
}

void WriteArchiveSet(const ArchiveSet& set, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    for (std::size_t slot = 0; slot < set.Archives.size(); ++slot) {
        if (!set.Archives[slot]) {
            continue;
        }
        std::ofstream out(folder / ArchiveFileName(slot), std::ios::binary | std::ios::trunc);
        out.write(set.Archives[slot]->data(),
                  static_cast<std::streamsize>(set.Archives[slot]->size()));
        if (!out) {
            throw std::runtime_error("cannot write " + ArchiveFileName(slot));
        }
    }
}

std::uint8_t ArchiveSetBuilder::AddTag(std::string name, std::vector<std::string> subTags) {
    csc::TSM_Tag tag;
    tag.Name = std::move(name);
    tag.SubTagCount = static_cast<std::uint8_t>(subTags.size());
    tag.SubTags = std::move(subTags);
    tables_.Tags.push_back(std::move(tag));
    return static_cast<std::uint8_t>(tables_.Tags.size() - 1);
}

void ArchiveSetBuilder::AddTaggedSound(std::vector<csc::TSM_TagRef> tagRefs, Sound sound) {
    csc::TSM_TaggedSound tagged;
    tagged.TagCount = static_cast<std::uint8_t>(tagRefs.size());
    tagged.TagRefs = std::move(tagRefs);
    tables_.TaggedSounds.push_back(std::move(tagged));
    taggedSounds_.push_back(std::move(sound));
}

void ArchiveSetBuilder::AddMissionSound(std::string name, Sound sound) {
    tables_.MissionSounds.push_back(csc::TSM_MissionSound{std::move(name), 0});
    missionSounds_.push_back(std::move(sound));
}

void ArchiveSetBuilder::AddEmptyArchive(std::uint32_t slot) {
    wanted_[slot] = true;
}

ArchiveSet ArchiveSetBuilder::Build() const {
    ArchiveSet set;
    std::vector<Sound> sounds = taggedSounds_; // tagged sounds first, then mission sounds
    sounds.insert(sounds.end(), missionSounds_.begin(), missionSounds_.end());
    std::array<Bytes, 8> data;
    for (std::size_t slot = 0; slot < 8; ++slot) {
        if (slot != 2) {
            data[slot] = "CSCDATA" + std::to_string(slot); // no file starts at offset 0
        }
    }

    // Records first with placeholder locations: their sizes do not depend on the values.
    std::vector<csc::TSM_SoundInfo> records(sounds.size());
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        csc::TSM_SoundInfo& record = records[i];
        for (std::size_t h = 0; h < record.Header.size(); ++h) {
            record.Header[h] = static_cast<std::uint8_t>(0xA0 + h);
        }
        record.FileCount = static_cast<std::uint8_t>(sounds[i].Files.size());
        for (const StoredFile& stored : sounds[i].Files) {
            csc::SM_SoundFileInfo file;
            file.Name = stored.Name;
            std::uint32_t size = static_cast<std::uint32_t>(stored.Content.size());
            file.OggSize = stored.OggSize.value_or(stored.Wav ? 0 : size);
            file.WavSize = stored.WavSize.value_or(stored.Wav ? size : 0);
            file.Reserved = 0x5EED;
            record.Files.push_back(std::move(file));
        }
    }

    csc::IndexTables tables = tables_;
    for (std::size_t h = 0; h < tables.IndexHeader.size(); ++h) {
        tables.IndexHeader[h] = static_cast<std::uint8_t>('H' + h);
    }
    std::size_t front = EncodeIndexFront(tables).size();
    std::vector<std::size_t> order(records.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = Order == RecordOrder::Reversed ? order.size() - 1 - i : i;
    }
    std::vector<std::uint32_t> recordOffsets(records.size());
    std::size_t offset = front;
    for (std::size_t i : order) {
        recordOffsets[i] = static_cast<std::uint32_t>(offset);
        offset += EncodeSoundInfo(records[i]).size();
    }
    std::size_t indexDataStart = offset;

    // Now every file's bytes can be placed and its location word set.
    Bytes indexData;
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (std::size_t f = 0; f < sounds[i].Files.size(); ++f) {
            const StoredFile& stored = sounds[i].Files[f];
            std::uint32_t location;
            if (stored.Slot == 2) {
                location =
                    Location(2, static_cast<std::uint32_t>(indexDataStart + indexData.size()));
                indexData += stored.Content;
            } else {
                location =
                    Location(stored.Slot, static_cast<std::uint32_t>(data[stored.Slot].size()));
                data[stored.Slot] += stored.Content;
                if (stored.Slot < 6) {
                    set.Archives[stored.Slot] = Bytes();
                }
            }
            records[i].Files[f].DataLocation = stored.DataLocation.value_or(location);
        }
    }

    std::size_t tagged = tables.TaggedSounds.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::uint32_t location = Location(2, recordOffsets[i]);
        if (i < tagged) {
            tables.TaggedSounds[i].InfoLocation = location;
        } else {
            tables.MissionSounds[i - tagged].InfoLocation = location;
        }
    }

    Bytes index = EncodeIndexFront(tables);
    for (std::size_t i : order) {
        index += EncodeSoundInfo(records[i]);
    }
    index += indexData;
    set.Archives[2] = std::move(index);
    for (std::size_t slot = 0; slot < 8; ++slot) {
        if (slot != 2 && (set.Archives[slot] || wanted_[slot])) {
            set.Archives[slot] = std::move(data[slot]);
        }
    }
    return set;
}

} // namespace builder
