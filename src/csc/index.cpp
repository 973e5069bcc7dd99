#include "csc/index.h"

namespace csc {
namespace {

void ReadTag(Archive& index, TSM_Tag& tag) {
    ReadCscString(index, tag.Name);
    std::uint8_t flagsAndCount[2];
    ReadBlock(index, flagsAndCount, 2);
    tag.TagFlags = flagsAndCount[0];
    tag.SubTagCount = flagsAndCount[1];
    tag.SubTags.resize(tag.SubTagCount);
    for (std::string& subTag : tag.SubTags) {
        ReadCscString(index, subTag);
    }
}

void ReadTaggedSound(Archive& index, TSM_TaggedSound& sound) {
    sound.TagCount = ReadU8(index);
    sound.TagRefs.resize(sound.TagCount);
    if (sound.TagCount != 0) {
        ReadBlock(index, sound.TagRefs.data(), sound.TagRefs.size() * sizeof(TSM_TagRef));
    }
    sound.InfoLocation = ReadU32(index);
}

void ReadMissionSound(Archive& index, TSM_MissionSound& sound) {
    ReadCscString(index, sound.Name);
    sound.InfoLocation = ReadU32(index);
}

} // namespace

void ReadTable(Archive& index, Table table, IndexTables& tables) {
    switch (table) {
    case Table::Tags:
        ReadBlock(index, tables.IndexHeader.data(), tables.IndexHeader.size());
        tables.Tags.resize(ReadU8(index));
        for (TSM_Tag& tag : tables.Tags) {
            ReadTag(index, tag);
        }
        return;
    case Table::TaggedSounds:
        tables.TaggedSounds.resize(ReadU16(index));
        for (TSM_TaggedSound& sound : tables.TaggedSounds) {
            ReadTaggedSound(index, sound);
        }
        return;
    case Table::MissionSounds:
        tables.MissionSounds.resize(ReadU16(index));
        for (TSM_MissionSound& sound : tables.MissionSounds) {
            ReadMissionSound(index, sound);
        }
        return;
    }
}

void CloseIndex(Index& index) {
    for (Archive& archive : index.Archives) {
        if (IsOpen(archive)) {
            CloseArchive(archive);
        }
    }
}

} // namespace csc
