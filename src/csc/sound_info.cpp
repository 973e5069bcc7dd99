#include "csc/sound_info.h"

#include "csc/location.h"

namespace csc {
namespace {

void ReadSoundFileInfo(Archive& index, SM_SoundFileInfo& file) {
    ReadCscString(index, file.Name);
    std::uint8_t numbers[16];
    ReadBlock(index, numbers, sizeof numbers);
    file.DataLocation = LittleEndianU32(numbers);
    file.WavSize = LittleEndianU32(numbers + 4);
    file.OggSize = LittleEndianU32(numbers + 8);
    file.Reserved = LittleEndianU32(numbers + 12);
    ReadCscString(index, file.Extra1);
    ReadCscString(index, file.Extra2);
    ReadCscString(index, file.Extra3);
    ReadCscString(index, file.Extra4);
    ReadCscString(index, file.Extra5);
}

} // namespace

void ReadSoundInfo(Archive& index, std::uint32_t location, TSM_SoundInfo& record) {
    if (location != 0) {
        SetPosition(index, LocationOffset(location));
    }
    ReadBlock(index, record.Header.data(), record.Header.size());
    record.FileCount = ReadU8(index);
    record.Files.resize(record.FileCount);
    for (SM_SoundFileInfo& file : record.Files) {
        ReadSoundFileInfo(index, file);
    }
}

} // namespace csc
