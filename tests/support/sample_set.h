#pragma once

#include "archive_builder.h"

namespace builder {

// A small, realistic archive set: tags with and without sub-tags, tagged and mission sounds, files
// in every archive, both stored forms, an absent file. The stored sounds are short generated tones
// in WAV form; the OGG entries hold WAV bytes too, as an OGG encoder is beyond a test tool.
ArchiveSetBuilder SampleSet();

} // namespace builder
