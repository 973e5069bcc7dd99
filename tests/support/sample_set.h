#pragma once

#include "archive_builder.h"

namespace builder {

// A small, realistic archive set: tags with and without sub-tags, tagged and mission sounds, files
// in every archive, both stored forms, an absent file. The stored sounds are quarter-second tones
// at 8,000 samples per second: real Ogg Vorbis for the OGG entries, 16-bit PCM for the WAV entries.
ArchiveSetBuilder SampleSet();

// A mono tone of that rate as Ogg Vorbis, encoded with libvorbis, and as 16-bit PCM WAV.
Bytes OggVorbisTone(double frequency, double seconds);
Bytes WavTone(double frequency, double seconds);

} // namespace builder
