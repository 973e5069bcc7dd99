#pragma once

#include "console/console.h"
#include "csc/reader.h"
#include "csc/records.h"

namespace csc {

// Reads the tag, tagged-sound and mission-sound tables from the front of the index archive, which
// must stand at position 0, reporting each table on the console with "done". Afterwards the
// position stands on the first byte behind the mission table, where the sound-info records begin.
void ReadIndexTables(Archive& index, console::Console& console, IndexTables& tables);

} // namespace csc
