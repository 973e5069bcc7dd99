#include "sample_set.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

// libvorbisenc keeps a block of its encoder setup for some formats; the tests' leak checker is
// not to find it, as it is no code of this project's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libvorbisenc.so";
}

namespace builder {
namespace {

constexpr std::uint32_t SampleRate = 8000;

// The samples of a sine tone, faded in and out, from -1 to 1.
std::vector<float> SineTone(double frequency, double seconds) {
    const auto samples = static_cast<std::uint32_t>(SampleRate * seconds);
    std::vector<float> tone(samples);
    for (std::uint32_t i = 0; i < samples; ++i) {
        double fade = std::min(1.0, std::min(i, samples - i) / 400.0);
        tone[i] =
            static_cast<float>(0.366 * fade * std::sin(2 * M_PI * frequency * i / SampleRate));
    }
    return tone;
}

void AppendPage(Bytes& out, const ogg_page& page) {
    out.append(reinterpret_cast<const char*>(page.header),
               static_cast<std::size_t>(page.header_len));
    out.append(reinterpret_cast<const char*>(page.body), static_cast<std::size_t>(page.body_len));
}

} // namespace

Bytes OggVorbis(const VorbisShape& shape) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, shape.Channels, static_cast<long>(shape.Rate), 0.3f) != 0) {
        throw std::runtime_error("libvorbis refuses the format asked for");
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "ENCODER", "cscunpack sample generator");
    if (shape.CommentBytes > 0) {
        std::string long_comment(shape.CommentBytes, 'c');
        vorbis_comment_add_tag(&comment, "NOTE", long_comment.c_str());
    }
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, static_cast<int>(shape.Serial));

    Bytes out;
    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&stream, &identification);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) {
        AppendPage(out, page);
    }

    const auto frames = static_cast<int>(shape.Rate * shape.Seconds);
    float** buffer = vorbis_analysis_buffer(&dsp, frames);
    for (int channel = 0; channel < shape.Channels; ++channel) {
        for (int i = 0; i < frames; ++i) {
            double fade = std::min(1.0, std::min(i, frames - i) / 400.0);
            buffer[channel][i] = static_cast<float>(
                0.366 * fade *
                std::sin(2 * M_PI * shape.Frequency * (1 + 0.1 * channel) * i / shape.Rate));
        }
    }
    vorbis_analysis_wrote(&dsp, frames);
    vorbis_analysis_wrote(&dsp, 0); // the end of the stream
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
        vorbis_analysis(&block, nullptr);
        vorbis_bitrate_addblock(&block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
            ogg_stream_packetin(&stream, &packet);
            while (ogg_stream_pageout(&stream, &page) != 0) {
                AppendPage(out, page);
            }
        }
    }
    while (ogg_stream_flush(&stream, &page) != 0) {
        AppendPage(out, page);
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

// A mono Ogg Vorbis file of a sine tone, as any player plays it. The stream's serial number is
// fixed, so the same tone always gives the same bytes.
Bytes OggVorbisTone(double frequency, double seconds) {
    return OggVorbis({.Frequency = frequency, .Seconds = seconds});
}

// A mono 16-bit PCM WAV file of a sine tone.
Bytes WavTone(double frequency, double seconds) {
    const std::vector<float> tone = SineTone(frequency, seconds);
    const auto samples = static_cast<std::uint32_t>(tone.size());
    Bytes wav = "RIFF";
    PutU32(wav, 36 + samples * 2);
    wav += "WAVEfmt ";
    PutU32(wav, 16);
    PutU16(wav, 1); // PCM
    PutU16(wav, 1); // mono
    PutU32(wav, SampleRate);
    PutU32(wav, SampleRate * 2);
    PutU16(wav, 2);
    PutU16(wav, 16);
    wav += "data";
    PutU32(wav, samples * 2);
    for (float sample : tone) {
        auto value = static_cast<std::int16_t>(32767 * sample);
        PutU16(wav, static_cast<std::uint16_t>(value));
    }
    return wav;
}

Bytes Wav(const WavShape& shape) {
    const std::uint16_t sample = static_cast<std::uint16_t>((shape.Bits + 7) / 8);
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(shape.Channels * sample);
    Bytes format;
    PutU16(format, shape.Extensible ? 0xFFFE : shape.Code);
    PutU16(format, shape.Channels);
    PutU32(format, shape.Rate);
    PutU32(format, shape.Rate * blockAlign);
    PutU16(format, blockAlign);
    PutU16(format, shape.Bits);
    if (shape.Extensible) {
        PutU16(format, 22);
        PutU16(format, shape.Bits);
        PutU32(format, shape.Channels == 6 ? 0x3F : shape.Channels == 2 ? 0x3 : 0x4);
        PutU16(format, shape.Code);
        format += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    Bytes data;
    for (std::uint32_t frame = 0; frame < shape.Frames; ++frame) {
        for (std::uint16_t channel = 0; channel < shape.Channels; ++channel) {
            double value =
                0.3 * std::sin(2 * M_PI * 440 * (1 + 0.1 * channel) * frame / shape.Rate);
            if (shape.Code == 3) {
                float f = static_cast<float>(value);
                std::uint32_t bits;
                std::memcpy(&bits, &f, 4);
                PutU32(data, bits);
            } else {
                auto level = static_cast<std::int64_t>(value * ((1ll << (shape.Bits - 1)) - 1));
                for (std::uint16_t byte = 0; byte < sample; ++byte) {
                    data +=
                        static_cast<char>((shape.Bits == 8 ? level + 128 : level) >> (8 * byte));
                }
            }
        }
    }
    Bytes chunks;
    auto chunk = [&](const char* id, const Bytes& bytes) {
        chunks += id;
        PutU32(chunks, static_cast<std::uint32_t>(bytes.size()));
        chunks += bytes;
        if (bytes.size() % 2 == 1) {
            chunks += '\0';
        }
    };
    if (shape.JunkBefore > 0) {
        chunk("JUNK", Bytes(shape.JunkBefore, '\0'));
    }
    chunk("fmt ", format);
    if (shape.ListBetween > 0) {
        chunk("LIST", "INFO" + Bytes(shape.ListBetween - 4, 'i'));
    }
    chunk("data", data);
    return "RIFF" +
           [&] {
               Bytes size;
               PutU32(size, static_cast<std::uint32_t>(4 + chunks.size()));
               return size;
           }() +
           "WAVE" + chunks;
}

namespace {

StoredFile Stored(std::string name, std::uint32_t slot, double frequency, bool wav) {
    StoredFile file;
    file.Name = std::move(name);
    file.Slot = slot;
    file.Content = wav ? WavTone(frequency, 0.25) : OggVorbisTone(frequency, 0.25);
    file.Wav = wav;
    return file;
}

} // namespace

ArchiveSetBuilder SampleSet() {
    ArchiveSetBuilder set;
    std::uint8_t ambience = set.AddTag("XAmbience", {"wind", "rain"});
    std::uint8_t weapons = set.AddTag("WWeapons");
    std::uint8_t voice = set.AddTag("VVoice", {"hero"});

    set.AddTaggedSound({TagRef(ambience, 0)}, {{Stored("wind_loop", 3, 220, false)}});
    set.AddTaggedSound({TagRef(ambience, 255), TagRef(voice, 0)},
                       {{Stored("birds", 4, 880, true)}});
    set.AddTaggedSound({TagRef(weapons, 255)},
                       {{Stored("rifle_shot", 0, 330, false), Stored("rifle_echo", 1, 165, true)}});
    set.AddTaggedSound({TagRef(voice, 0)}, {{Stored("hello", 2, 440, true)}});
    set.AddTaggedSound({TagRef(voice, 7)}, {{Stored("mumble", 4, 300, false)}});
    set.AddTaggedSound({TagRef(ambience, 1)},
                       {{Stored("rain_soft", 3, 500, false), Stored("rain_hard", 3, 520, true)}});

    StoredFile missing = Stored("cut_line", 3, 0, false);
    missing.DataLocation = csc::AbsentFile;
    set.AddMissionSound("M01_Harbor",
                        {{Stored("briefing", 3, 392, false), Stored("alarm", 5, 660, true)}});
    set.AddMissionSound("M02_Tower", {{Stored("wind_gust", 3, 247, false), missing}});
    set.AddMissionSound("M03_Escape", {{Stored("finale", 5, 523, false)}});

    return set;
}

} // namespace builder
