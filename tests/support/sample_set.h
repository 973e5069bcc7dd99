#pragma once

#include "archive_builder.h"

namespace builder {

// A small, realistic archive set: tags with and without sub-tags, tagged and mission sounds, files
// in every archive, both stored forms, an absent file. The stored sounds are quarter-second tones
// at 8,000 samples per second: real Ogg Vorbis for the OGG entries, 16-bit PCM for the WAV entries.
ArchiveSetBuilder SampleSet();

// An Ogg Vorbis stream of a tone, encoded with libvorbis.
struct VorbisShape {
    double Frequency = 440;
    double Seconds = 0.25;
    int Channels = 1;
    std::uint32_t Rate = 8000;
    std::uint32_t Serial = 0x43534331;
    std::size_t CommentBytes = 0; // a comment this long, so that the header spans pages
};
Bytes OggVorbis(const VorbisShape& shape);

// A RIFF/WAVE file of a tone: its format code (1 PCM, 3 float, 6 A-law, 7 mu-law), sample width,
// channels and rate, in the extensible form or not, with other chunks before and among its own.
struct WavShape {
    std::uint16_t Code = 1;
    std::uint16_t Bits = 16;
    std::uint16_t Channels = 1;
    std::uint32_t Rate = 8000;
    std::uint32_t Frames = 2000;
    bool Extensible = false;
    std::size_t JunkBefore = 0;  // a JUNK chunk of this many bytes before "fmt "
    std::size_t ListBetween = 0; // a LIST chunk of this many bytes between "fmt " and "data"
};
Bytes Wav(const WavShape& shape);

// A mono tone of 8,000 samples a second as Ogg Vorbis, encoded with libvorbis, and as 16-bit PCM
// WAV.
Bytes OggVorbisTone(double frequency, double seconds);
Bytes WavTone(double frequency, double seconds);

} // namespace builder
