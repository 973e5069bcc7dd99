#include "sample_set.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

} // namespace

// The tool reads the headers itself; libvorbis decodes the same files to the same figures.
TEST(Sound, DetailsAgreeWithTheDecoder) {
    for (double seconds : {0.25, 1.7, 6.3}) {
        std::string ogg = builder::OggVorbisTone(440, seconds);
        auto head = Span(ogg).subspan(0, std::min<std::size_t>(4096, ogg.size()));
        auto tail = Span(ogg).subspan(
            ogg.size() > sound::LargestOggPage ? ogg.size() - sound::LargestOggPage : 0);
        sound::Details details = sound::OggDetails(head, tail);
        Decoded decoded = Decode(ogg);
        ASSERT_GT(decoded.Rate, 0) << seconds;
        EXPECT_EQ(details.Codec, "vorbis");
        EXPECT_EQ(details.Channels, static_cast<std::uint32_t>(decoded.Channels)) << seconds;
        EXPECT_EQ(details.Rate, static_cast<std::uint32_t>(decoded.Rate)) << seconds;
        ASSERT_TRUE(details.Seconds) << seconds;
        EXPECT_NEAR(*details.Seconds, decoded.Seconds, 0.0005) << seconds;
    }
    std::string wav = builder::WavTone(440, 0.25);
    sound::Details details = sound::WavDetails(Span(wav), wav.size());
    EXPECT_EQ(details.Codec, "pcm");
    EXPECT_EQ(details.Channels, 1u);
    EXPECT_EQ(details.Rate, 8000u);
    EXPECT_EQ(details.Seconds, 0.25);
    EXPECT_EQ(sound::OggDetails(Span(wav), Span(wav)).Codec, "unknown") << "no Ogg page";
}

TEST(Sound, EveryKindOfDamageIsNamed) {
    const std::string ogg = builder::OggVorbisTone(440, 20);
    // Where each page begins.
    std::vector<std::size_t> pages;
    for (std::size_t at = ogg.find("OggS"); at != std::string::npos;
         at = ogg.find("OggS", at + 1)) {
        pages.push_back(at);
    }
    ASSERT_GE(pages.size(), 4u);
    auto changed = [&](std::size_t at) {
        std::string bytes = ogg;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
        return bytes;
    };
    std::string missingPage = ogg.substr(0, pages[1]) + ogg.substr(pages[2]);
    const std::string wav = builder::WavTone(440, 0.25);
    std::string dataFirst = wav.substr(0, 12) + wav.substr(36) + wav.substr(12, 24);
    const struct Case {
        const char* name;
        std::string bytes;
        bool isOgg;
        std::optional<std::string> problem;
    } cases[] = {
        {"whole Ogg", ogg, true, std::nullopt},
        {"a page header", changed(pages[2] + 10), true, "page 3: checksum mismatch"},
        {"a page body", changed(pages[3] - 5), true, "page 3: checksum mismatch"},
        {"the capture pattern", changed(pages[1] + 1), true, "page 2: no capture pattern \"OggS\""},
        {"a missing page", missingPage, true, "page 2: page number 2 where 1 was due"},
        {"a cut Ogg", ogg.substr(0, ogg.size() - 7), true,
         "page " + std::to_string(pages.size()) + ": runs past the end of the file"},
        {"WAV bytes as Ogg", wav, true, "page 1: no capture pattern \"OggS\""},
        {"whole WAV", wav, false, std::nullopt},
        {"a cut WAV", wav.substr(0, 4000), false,
         "the RIFF header says 4044 bytes, the file has 4000"},
        {"data before fmt", dataFirst, false, "\"data\" comes before \"fmt \""},
        {"Ogg bytes as WAV", ogg, false, "not a RIFF/WAVE file"},
    };
    for (const Case& c : cases) {
        auto problem =
            c.isOgg ? sound::OggProblem(Span(c.bytes)) : sound::WavProblem(Span(c.bytes));
        EXPECT_EQ(problem, c.problem) << c.name;
    }
}
