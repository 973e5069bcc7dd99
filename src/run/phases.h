#pragma once

#include "extract/extract.h"
#include "run/run.h"

namespace run {

// Phase 1 extracts the tagged sounds, phase 2 the mission sounds, each record found at its
// location word. Stops before the next sound once an interrupt has arrived.
void RunNormalPhases(Run& run, extract::Extraction& extraction);

// Reads the tagged plus mission count of records back to back behind the mission table, then
// extracts each under its number. Stops before the next record once an interrupt has arrived.
void RunRawPhase(Run& run, extract::Extraction& extraction);

} // namespace run
