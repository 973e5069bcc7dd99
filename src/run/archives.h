#pragma once

#include "csc/index.h"
#include "run/status.h"

#include <array>
#include <string>

namespace run {

// Opens the archives of slots 0 to 5 from folder (empty: the current one), telling status of each.
// Where an exact name is absent, a file whose name differs in case only is taken.
void DiscoverArchives(Status& status, const std::string& folder,
                      std::array<csc::Archive, csc::ArchiveSlots>& archives);
// "not found", or "cannot be read (reason)", for an archive that is not open.
std::string WhyNotOpen(const csc::Archive& archive);

} // namespace run
