#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The stored sound files as their own formats define them: Ogg pages carrying Vorbis, and RIFF/WAVE
// files. What a listing tells of a sound, and whether a file is whole.
namespace sound {

// What a sound's headers tell; nothing where they do not, or where a value is out of range.
struct Details {
    // "vorbis"; for WAV "pcm", "float", "alaw" or "mulaw"; else "unknown"
    std::string_view Codec = "unknown";
    std::optional<std::uint32_t> Channels;
    std::optional<std::uint32_t> Rate; // samples per second
    std::optional<double> Seconds;
};

// Reads up to into.size() bytes of a file from offset on; returns how many arrived (fewer only at
// its end).
using ReadPart = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> into)>;

// The details of an Ogg Vorbis file of size bytes, read page by page: the Vorbis stream of each
// link of a chain (the first, where streams are multiplexed), the durations of the links added,
// each at its own rate.
Details OggDetails(const ReadPart& read, std::uint64_t size);
// The details of a WAV file of size bytes, read chunk by chunk wherever its chunks stand.
Details WavDetails(const ReadPart& read, std::uint64_t size);
// Both over a file in memory.
Details OggDetails(std::span<const std::uint8_t> file);
Details WavDetails(std::span<const std::uint8_t> file);

// The first problem of a whole file, or nothing when it is sound:
// - Ogg: every page starts with "OggS", has version 0 and a matching CRC-32, and the pages fill
//   the file exactly. Pages are checked per logical stream (serial number): page numbers run on
//   without a gap; a stream's first page, and no other, begins it; its last page, and no other,
//   ends it; the continued flag agrees with the stream's page before. A new stream may begin
//   beside others at the start of a link (multiplexed) or after all have ended (chained); each
//   link's first stream begins with a Vorbis identification header whose channels and rate are
//   not 0; granule positions are not negative, but for -1 (no packet ends on the page).
// - WAV: a RIFF/WAVE header whose size matches the file (a final pad byte counted or not, as
//   players accept), chunks that stay inside it, "fmt " of at least 16 bytes (18 for the
//   extensible form) before "data", channels, rate and block align not 0 and consistent with
//   each other, and a data chunk of whole frames.
std::optional<std::string> OggProblem(std::span<const std::uint8_t> file);
std::optional<std::string> WavProblem(std::span<const std::uint8_t> file);

// The CRC-32 of Ogg pages: polynomial 0x04C11DB7, most significant bit first, no reflection, no
// final inversion, starting from crc.
std::uint32_t OggCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

} // namespace sound
