#pragma once

#include "csc/reader.h"
#include "csc/records.h"

// The three tables at the front of the index archive, read in this order from position 0: the tags,
// the tagged sounds and the mission sounds. Afterwards the position stands on the first byte behind
// the mission table, where the sound-info records begin.
namespace csc {

// The header and the tag table.
void ReadTags(Archive& index, IndexTables& tables);
void ReadTaggedSounds(Archive& index, IndexTables& tables);
void ReadMissionSounds(Archive& index, IndexTables& tables);
// All three, one after the other.
void ReadIndexTables(Archive& index, IndexTables& tables);

} // namespace csc
