#include "csc/index_tables.h"

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

void ReadTags(Archive& index, IndexTables& tables) {
    ReadBlock(index, tables.IndexHeader.data(), tables.IndexHeader.size());
    tables.Tags.resize(ReadU8(index));
    for (TSM_Tag& tag : tables.Tags) {
        ReadTag(index, tag);
    }
}

void ReadTaggedSounds(Archive& index, IndexTables& tables) {
    tables.TaggedSounds.resize(ReadU16(index));
    for (TSM_TaggedSound& sound : tables.TaggedSounds) {
        ReadTaggedSound(index, sound);
    }
}

void ReadMissionSounds(Archive& index, IndexTables& tables) {
    tables.MissionSounds.resize(ReadU16(index));
    for (TSM_MissionSound& sound : tables.MissionSounds) {
        ReadMissionSound(index, sound);
    }
}

void ReadIndexTables(Archive& index, IndexTables& tables) {
    ReadTags(index, tables);
    ReadTaggedSounds(index, tables);
    ReadMissionSounds(index, tables);
}

} // namespace csc
