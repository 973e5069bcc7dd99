#include "sample_set.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vorbis/vorbisfile.h>

namespace {

std::span<const std::uint8_t> Span(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// libvorbis's own reading of an Ogg Vorbis file in memory.
struct Decoded {
    int Channels = 0;
    long Rate = 0;
    double Seconds = 0;
};

Decoded Decode(const std::string& bytes) {
    struct Source {
        const std::string& Bytes;
        std::size_t At = 0;
    } source{bytes};
    ov_callbacks callbacks{};
    callbacks.read_func = [](void* into, size_t size, size_t count, void* raw) -> size_t {
        auto& from = *static_cast<Source*>(raw);
        std::size_t n = std::min(size * count, from.Bytes.size() - from.At);
        std::memcpy(into, from.Bytes.data() + from.At, n);
        from.At += n;
        return n / size;
    };
    callbacks.seek_func = [](void* raw, ogg_int64_t offset, int whence) -> int {
        auto& from = *static_cast<Source*>(raw);
        std::int64_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? static_cast<std::int64_t>(from.At)
                                                 : static_cast<std::int64_t>(from.Bytes.size());
        from.At = static_cast<std::size_t>(base + offset);
        return 0;
    };
    callbacks.tell_func = [](void* raw) -> long {
        return static_cast<long>(static_cast<Source*>(raw)->At);
    };
    OggVorbis_File file;
    Decoded decoded;
    if (ov_open_callbacks(&source, &file, nullptr, 0, callbacks) == 0) {
        vorbis_info* info = ov_info(&file, -1);
        decoded = {info->channels, info->rate, ov_time_total(&file, -1)};
        ov_clear(&file);
    }
    return decoded;
}

// The pages of an Ogg file, each as its own bytes.
std::vector<std::string> Pages(const std::string& ogg) {
    std::vector<std::string> pages;
    for (std::size_t at = 0; at < ogg.size();) {
        std::size_t segments = static_cast<unsigned char>(ogg[at + 26]);
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments; ++i) {
            size += static_cast<unsigned char>(ogg[at + 27 + i]);
        }
        pages.push_back(ogg.substr(at, size));
        at += size;
    }
    return pages;
}

// A page with its checksum set again by libogg, so that only the change made is damage.
std::string Resealed(std::string page) {
    ogg_page sealed{};
    std::size_t header = 27 + static_cast<unsigned char>(page[26]);
    sealed.header = reinterpret_cast<unsigned char*>(page.data());
    sealed.header_len = static_cast<long>(header);
    sealed.body = reinterpret_cast<unsigned char*>(page.data() + header);
    sealed.body_len = static_cast<long>(page.size() - header);
    ogg_page_checksum_set(&sealed);
    return page;
}

std::string Joined(const std::vector<std::string>& pages) {
    std::string joined;
    for (const std::string& page : pages) {
        joined += page;
    }
    return joined;
}

void PutLittleEndian(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

// Two streams interleaved page by page, their first pages first, as a multiplexed file has them.
std::string Multiplexed(const std::string& a, const std::string& b) {
    std::vector<std::string> first = Pages(a), second = Pages(b);
    std::vector<std::string> pages = {first[0], second[0]};
    for (std::size_t i = 1; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) {
            pages.push_back(first[i]);
        }
        if (i < second.size()) {
            pages.push_back(second[i]);
        }
    }
    return Joined(pages);
}

} // namespace

// Every kind of valid file the games' tools or any encoder make: no problem, and details that
// agree with libvorbis's own reading of the file.
TEST(Sound, ValidOggFilesAreWholeAndTheirDetailsAgreeWithTheDecoder) {
    const builder::VorbisShape other{.Seconds = 2.1, .Channels = 2, .Rate = 22050, .Serial = 7};
    const struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"short mono", builder::OggVorbis({.Seconds = 0.25})},
        {"long mono, packets across pages", builder::OggVorbis({.Seconds = 6.3})},
        {"stereo 44.1 kHz", builder::OggVorbis({.Seconds = 1.7, .Channels = 2, .Rate = 44100})},
        {"5.1 at 48 kHz", builder::OggVorbis({.Seconds = 1.2, .Channels = 6, .Rate = 48000})},
        {"mono at 96 kHz", builder::OggVorbis({.Seconds = 0.8, .Rate = 96000})},
        {"a comment header larger than a page",
         builder::OggVorbis({.Seconds = 0.5, .CommentBytes = 70000})},
        {"chained", builder::OggVorbis({.Seconds = 3.5}) + builder::OggVorbis(other)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sound::OggProblem(Span(c.bytes)), std::nullopt) << c.name;
        sound::Details details = sound::OggDetails(Span(c.bytes));
        Decoded decoded = Decode(c.bytes);
        ASSERT_GT(decoded.Rate, 0) << c.name;
        EXPECT_EQ(details.Codec, "vorbis") << c.name;
        EXPECT_EQ(details.Channels, static_cast<std::uint32_t>(decoded.Channels)) << c.name;
        EXPECT_EQ(details.Rate, static_cast<std::uint32_t>(decoded.Rate)) << c.name;
        ASSERT_TRUE(details.Seconds) << c.name;
        EXPECT_NEAR(*details.Seconds, decoded.Seconds, 0.0005) << c.name;
    }
    // Multiplexed, the file is whole and its first Vorbis stream is the one told.
    std::string both = Multiplexed(builder::OggVorbis({.Seconds = 1.5}), builder::OggVorbis(other));
    EXPECT_EQ(sound::OggProblem(Span(both)), std::nullopt);
    sound::Details details = sound::OggDetails(Span(both));
    EXPECT_EQ(details.Channels, 1u);
    EXPECT_EQ(details.Rate, 8000u);
    EXPECT_EQ(details.Seconds, 1.5);
}

TEST(Sound, ValidWavFilesAreWholeAndTheirDetailsTold) {
    const struct Case {
        const char* name;
        builder::WavShape shape;
        std::string_view codec;
    } cases[] = {
        {"8-bit PCM", {.Bits = 8, .Frames = 2001}, "pcm"},
        {"16-bit stereo", {.Channels = 2, .Rate = 44100, .Frames = 44100}, "pcm"},
        {"24-bit", {.Bits = 24, .Rate = 96000, .Frames = 9600}, "pcm"},
        {"32-bit", {.Bits = 32, .Frames = 800}, "pcm"},
        {"float", {.Code = 3, .Bits = 32, .Channels = 2, .Frames = 4000}, "float"},
        {"A-law", {.Code = 6, .Bits = 8, .Frames = 1000}, "alaw"},
        {"mu-law", {.Code = 7, .Bits = 8, .Frames = 1000}, "mulaw"},
        {"extensible 5.1",
         {.Bits = 24, .Channels = 6, .Rate = 48000, .Frames = 4800, .Extensible = true},
         "pcm"},
        {"extensible float", {.Code = 3, .Bits = 32, .Channels = 2, .Extensible = true}, "float"},
        {"JUNK before fmt", {.Frames = 4000, .JunkBefore = 4096}, "pcm"},
        {"odd LIST between", {.Frames = 4000, .ListBetween = 5001}, "pcm"},
    };
    for (const Case& c : cases) {
        std::string wav = builder::Wav(c.shape);
        EXPECT_EQ(sound::WavProblem(Span(wav)), std::nullopt) << c.name;
        sound::Details details = sound::WavDetails(Span(wav));
        EXPECT_EQ(details.Codec, c.codec) << c.name;
        EXPECT_EQ(details.Channels, c.shape.Channels) << c.name;
        EXPECT_EQ(details.Rate, c.shape.Rate) << c.name;
        EXPECT_EQ(details.Seconds, std::round(1000.0 * c.shape.Frames / c.shape.Rate) / 1000.0)
            << c.name;
    }
    // An odd data chunk's pad byte, present or not, counted by the RIFF size or not.
    std::string odd = builder::Wav({.Bits = 8, .Frames = 2001});
    ASSERT_EQ(odd.size() % 2, 0u) << "the pad byte is there";
    std::string unpadded = odd.substr(0, odd.size() - 1);
    for (auto [name, bytes, said] :
         {std::tuple{"padded, counted", odd, odd.size()},
          std::tuple{"padded, not counted", odd, odd.size() - 1},
          std::tuple{"not padded, counted", unpadded, odd.size()},
          std::tuple{"not padded, not counted", unpadded, unpadded.size()}}) {
        PutLittleEndian(bytes, 4, said - 8, 4);
        EXPECT_EQ(sound::WavProblem(Span(bytes)), std::nullopt) << name;
    }
}

TEST(Sound, EveryKindOfDamageIsNamed) {
    const builder::VorbisShape shape{.Seconds = 20, .Channels = 2, .Rate = 44100};
    const std::string ogg = builder::OggVorbis(shape);
    const std::vector<std::string> pages = Pages(ogg);
    ASSERT_GE(pages.size(), 6u);
    auto changed = [&](std::size_t at) {
        std::string bytes = ogg;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
        return bytes;
    };
    std::size_t third = pages[0].size() + pages[1].size();
    // Page 3 (of pages[2]) changed in its header and sealed again.
    auto resealed = [&](std::size_t page, auto change) {
        std::vector<std::string> copy = pages;
        change(copy[page]);
        copy[page] = Resealed(copy[page]);
        return Joined(copy);
    };
    builder::VorbisShape other = shape;
    other.Serial = 99;
    const std::string foreign = Pages(builder::OggVorbis(other))[2];
    std::vector<std::string> withForeign = pages;
    withForeign[2] = foreign;
    std::vector<std::string> missing = pages;
    missing.erase(missing.begin() + 1);
    const std::string wav = builder::WavTone(440, 0.25);
    std::string dataFirst = wav.substr(0, 12) + wav.substr(36) + wav.substr(12, 24);
    auto wavWith = [&](std::size_t at, std::uint64_t value, int width) {
        std::string bytes = wav;
        PutLittleEndian(bytes, at, value, width);
        return bytes;
    };
    std::string shortFormat = wav.substr(0, 16) + std::string("\x0a\x00\x00\x00", 4) +
                              wav.substr(20, 10) + wav.substr(36);
    PutLittleEndian(shortFormat, 4, shortFormat.size() - 8, 4);
    // The continued flag both ways: set on a page after one that ended its packet, and missing on
    // a page after one that left its packet open (a comment too long for one page).
    std::vector<std::string> spanning =
        Pages(builder::OggVorbis({.Seconds = 1, .CommentBytes = 70000}));
    auto endsOpen = [](const std::string& page) {
        auto segments = static_cast<unsigned char>(page[26]);
        return segments > 0 && static_cast<unsigned char>(page[26 + segments]) == 255;
    };
    std::size_t afterOpen = 0, afterClosed = 0;
    for (std::size_t k = 2; k < spanning.size(); ++k) {
        (endsOpen(spanning[k - 1]) ? afterOpen : afterClosed) = k;
    }
    ASSERT_TRUE(afterOpen > 0 && afterClosed > 0) << "a packet spans pages";
    auto flagged = [&](std::size_t page) {
        std::vector<std::string> copy = spanning;
        copy[page][5] = static_cast<char>(copy[page][5] ^ 1);
        copy[page] = Resealed(copy[page]);
        return Joined(copy);
    };
    // MS ADPCM: blocks of 256 bytes of 4-bit samples, which no channels times sample bytes give.
    std::string adpcm = "RIFF....WAVEfmt " + std::string("\x14\0\0\0\x02\0\x01\0", 8);
    PutLittleEndian(adpcm, adpcm.size(), 0, 0);
    adpcm += std::string("\x40\x1f\0\0\0\x10\0\0\0\x01\x04\0\x02\0\xf4\x01", 16);
    adpcm += "data" + std::string("\0\x02\0\0", 4) + std::string(512, '\x11');
    PutLittleEndian(adpcm, 4, adpcm.size() - 8, 4);
    std::string partial = wav;
    PutLittleEndian(partial, 40, 4001 - 0, 4); // the data chunk claims an odd byte count
    partial += '\0';
    PutLittleEndian(partial, 4, partial.size() - 8, 4);
    const struct Case {
        const char* name;
        std::string bytes;
        bool isOgg;
        std::optional<std::string> problem;
    } cases[] = {
        {"whole Ogg", ogg, true, std::nullopt},
        {"a page header", changed(third + 10), true, "page 3: checksum mismatch"},
        {"a page body", changed(third + pages[2].size() - 5), true, "page 3: checksum mismatch"},
        {"the capture pattern", changed(pages[0].size() + 1), true,
         "page 2: no capture pattern \"OggS\""},
        {"a missing page", Joined(missing), true, "page 2: page number 2 where 1 was due"},
        {"a cut Ogg", ogg.substr(0, ogg.size() - 7), true,
         "page " + std::to_string(pages.size()) + ": runs past the end of the file"},
        {"a serial number changed mid-stream",
         resealed(2, [](std::string& page) { PutLittleEndian(page, 14, 12345, 4); }), true,
         "page 3: a page of stream 12345, which never began"},
        {"a foreign page with the right page number", Joined(withForeign), true,
         "page 3: a page of stream 99, which never began"},
        {"an end of stream on a middle page",
         resealed(2, [](std::string& page) { page[5] = static_cast<char>(page[5] | 0x04); }), true,
         "page 4: a page of stream 1129530161 after its end"},
        {"a beginning of stream on a middle page",
         resealed(2, [](std::string& page) { page[5] = static_cast<char>(page[5] | 0x02); }), true,
         "page 3: begins stream 1129530161 again"},
        {"a continued flag after a packet ended", flagged(afterClosed), true,
         "page " + std::to_string(afterClosed + 1) +
             ": continues a packet that the page before ended"},
        {"no continued flag after a packet left open", flagged(afterOpen), true,
         "page " + std::to_string(afterOpen + 1) + ": leaves out the end of a packet"},
        {"a negative granule",
         resealed(3, [](std::string& page) { PutLittleEndian(page, 6, std::uint64_t(-5), 8); }),
         true, "page 4: granule position -5 is negative"},
        {"a sample rate of 0",
         resealed(0, [](std::string& page) { PutLittleEndian(page, 28 + 12, 0, 4); }), true,
         "page 1: the Vorbis identification header gives a rate of 0"},
        {"a stream that never ends", Joined({pages.begin(), pages.end() - 1}), true,
         "page " + std::to_string(pages.size() - 1) + ": the last page does not end the stream"},
        {"WAV bytes as Ogg", wav, true, "page 1: no capture pattern \"OggS\""},
        {"whole WAV", wav, false, std::nullopt},
        {"a cut WAV", wav.substr(0, 4000), false,
         "the RIFF header says 4044 bytes, the file has 4000"},
        {"data before fmt", dataFirst, false, "\"data\" comes before \"fmt \""},
        {"a short fmt", shortFormat, false, "\"fmt \" holds 10 bytes, fewer than 16"},
        {"no channels", wavWith(22, 0, 2), false, "\"fmt \" gives no channels"},
        {"a block align of 0", wavWith(32, 0, 2), false, "\"fmt \" gives a block align of 0"},
        {"a block align that does not fit", wavWith(32, 4, 2), false,
         "block align 4 does not fit 1 channels of 16 bits"},
        {"a partial last frame", partial, false,
         "the last frame of \"data\" is cut: 1 of its 2 bytes"},
        {"Ogg bytes as WAV", ogg, false, "not a RIFF/WAVE file"},
        {"block-coded ADPCM", adpcm, false, std::nullopt},
    };
    for (const Case& c : cases) {
        auto problem =
            c.isOgg ? sound::OggProblem(Span(c.bytes)) : sound::WavProblem(Span(c.bytes));
        ASSERT_TRUE(problem || !c.problem) << c.name;
        if (c.problem && c.problem->ends_with(": ")) {
            EXPECT_TRUE(problem->starts_with(*c.problem)) << c.name << ": " << *problem;
        } else {
            EXPECT_EQ(problem, c.problem) << c.name;
        }
    }
}

// Values out of range give no duration rather than a wrong one.
TEST(Sound, DetailsOutOfRangeAreNull) {
    std::vector<std::string> pages = Pages(builder::OggVorbisTone(440, 1));
    for (std::uint64_t granule : {std::uint64_t{1} << 62, std::uint64_t(-5)}) {
        std::vector<std::string> copy = pages;
        PutLittleEndian(copy.back(), 6, granule, 8);
        copy.back() = Resealed(copy.back());
        std::string ogg = Joined(copy);
        EXPECT_EQ(sound::OggDetails(Span(ogg)).Seconds, std::nullopt) << granule;
    }
    std::vector<std::string> noRate = pages;
    PutLittleEndian(noRate[0], 28 + 12, 0, 4);
    std::string ogg = Joined(noRate);
    EXPECT_EQ(sound::OggDetails(Span(ogg)).Rate, std::nullopt);
    EXPECT_EQ(sound::OggDetails(Span(ogg)).Seconds, std::nullopt);
}

// The checksum of Ogg pages, however it is worked out (sixteen tables, or carry-less
// multiplication on runs of 128 bytes and more), is the polynomial's bit by bit, from any start,
// at every length and alignment.
TEST(Sound, TheOggChecksumIsThePolynomialsBitByBit) {
    auto bitByBit = [](const std::uint8_t* bytes, std::size_t size, std::uint32_t crc) {
        for (std::size_t at = 0; at < size; ++at) {
            crc ^= std::uint32_t{bytes[at]} << 24;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            }
        }
        return crc;
    };
    std::vector<std::uint8_t> bytes(70016); // room for the longest run from the furthest offset
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    for (std::size_t size : {0, 1, 3, 15, 16, 63, 64, 127, 128, 129, 191, 192, 255, 256, 1000,
                             4096 + 17, 65307, 69999}) {
        for (std::size_t offset : {0, 1, 7}) {
            for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
                EXPECT_EQ(sound::OggCrc(std::span(bytes.data() + offset, size), start),
                          bitByBit(bytes.data() + offset, size, start))
                    << size << " from " << offset << ", " << start;
            }
        }
    }
}
