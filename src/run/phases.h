#pragma once

#include "extract/extract.h"
#include "run/run.h"

namespace run {

// Phase 1 extracts the tagged sounds, phase 2 the mission sounds, each record found at its
// location word.
void RunNormalPhases(Run& run, extract::Extraction& extraction);

// Reads the tagged plus mission count of records back to back behind the mission table, then
// extracts each under its number.
void RunRawPhase(Run& run, extract::Extraction& extraction);

} // namespace run
