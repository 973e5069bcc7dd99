#pragma once

#include "csc/reader.h"
#include "csc/records.h"

namespace csc {

// Reads one sound-info record into record, replacing all of its contents. A location word of 0
// reads at the archive's current position; any other word positions the archive at its offset
// first. Its slot bits are not looked at: records always come from the archive passed in.
// Afterwards the position stands on the first byte behind the record.
void ReadSoundInfo(Archive& index, std::uint32_t location, TSM_SoundInfo& record);

} // namespace csc
