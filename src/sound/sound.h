#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The stored sound files as their own formats define them: Ogg pages carrying Vorbis, and RIFF/WAVE
// files. What a listing tells of a sound, and whether a file is whole.
namespace sound {

// What a sound's headers tell; nothing where they do not.
struct Details {
    std::string_view Codec = "unknown"; // "vorbis", "pcm" or "unknown"
    std::optional<std::uint32_t> Channels;
    std::optional<std::uint32_t> Rate; // samples per second
    std::optional<double> Seconds;
};

// The largest an Ogg page can be: its header, 255 lacing values, and 255 segments of 255 bytes.
inline constexpr std::size_t LargestOggPage = 27 + 255 + 255 * 255;

// The details of an Ogg Vorbis file from its first bytes and its last LargestOggPage bytes (both
// the whole file when it is smaller).
Details OggDetails(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail);
// The details of a WAV file from its first bytes; size is the whole file's.
Details WavDetails(std::span<const std::uint8_t> head, std::uint64_t size);

// The first problem of a whole file, or nothing when it is sound:
// - Ogg: every page starts with "OggS", has version 0 and a matching CRC-32, the page numbers run
//   on without a gap, the first page begins the stream and the last ends it, the pages fill the
//   file exactly, and the first packet is a Vorbis identification header;
// - WAV: a RIFF/WAVE header whose size matches the file, chunks that stay inside it, "fmt " before
//   "data".
std::optional<std::string> OggProblem(std::span<const std::uint8_t> file);
std::optional<std::string> WavProblem(std::span<const std::uint8_t> file);

// The CRC-32 of Ogg pages: polynomial 0x04C11DB7, most significant bit first, no reflection, no
// final inversion, starting from crc.
std::uint32_t OggCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

} // namespace sound
