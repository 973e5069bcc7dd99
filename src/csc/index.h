#pragma once

#include "csc/archives.h"
#include "csc/reader.h"
#include "csc/records.h"

#include <array>

// The index: the archives of a run and the three tables at the front of the index archive, read in
// this order from position 0: the tags, the tagged sounds and the mission sounds. Afterwards the
// position stands on the first byte behind the mission table, where the sound-info records begin.
namespace csc {

struct Index {
    std::array<Archive, ArchiveSlots> Archives;
    IndexTables Tables;
};

enum class Table { Tags, TaggedSounds, MissionSounds };
inline constexpr Table TablesInOrder[] = {Table::Tags, Table::TaggedSounds, Table::MissionSounds};

// Reads one table from the index archive's position on (the tags with the header before them).
void ReadTable(Archive& index, Table table, IndexTables& tables);

void CloseIndex(Index& index);

} // namespace csc
