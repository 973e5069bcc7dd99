#include "sample_set.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

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

// A mono Ogg Vorbis file of a sine tone, as any player plays it. The stream's serial number is
// fixed, so the same tone always gives the same bytes.
Bytes OggVorbisTone(double frequency, double seconds) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 1, SampleRate, 0.3f) != 0) {
        throw std::runtime_error("libvorbis refuses the sample's format");
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "ENCODER", "cscunpack sample generator");
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x43534331);

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

    std::vector<float> tone = SineTone(frequency, seconds);
    float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(tone.size()));
    std::copy(tone.begin(), tone.end(), buffer[0]);
    vorbis_analysis_wrote(&dsp, static_cast<int>(tone.size()));
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
