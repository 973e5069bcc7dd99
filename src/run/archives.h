#pragma once

#include "console/console.h"
#include "csc/archives.h"
#include "csc/reader.h"

#include <array>
#include <string>

namespace run {

using ArchiveHandles = std::array<csc::Archive, csc::ArchiveSlots>;

// Opens the archives of slots 0 to 5 from folder (empty: the current one), reporting each on
// console, unless quiet, as "ok", "not found", or, when it exists but cannot be opened, "cannot be
// read" with the system's reason. Where an exact name is absent, a file whose name differs in case
// only is taken.
void DiscoverArchives(console::Console& console, bool quiet, const std::string& folder,
                      ArchiveHandles& archives);
// "not found", or "cannot be read (reason)", for an archive that is not open.
void WriteWhyNotOpen(console::Console& console, const csc::Archive& archive);
void CloseArchives(ArchiveHandles& archives);

} // namespace run
