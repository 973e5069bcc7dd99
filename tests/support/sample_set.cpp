#include "sample_set.h"

#include <algorithm>
#include <cmath>

namespace builder {
namespace {

// A mono 16-bit PCM WAV file of a sine tone.
Bytes Tone(double frequency, double seconds) {
    const std::uint32_t rate = 8000;
    const auto samples = static_cast<std::uint32_t>(rate * seconds);
    Bytes wav = "RIFF";
    PutU32(wav, 36 + samples * 2);
    wav += "WAVEfmt ";
    PutU32(wav, 16);
    PutU16(wav, 1); // PCM
    PutU16(wav, 1); // mono
    PutU32(wav, rate);
    PutU32(wav, rate * 2);
    PutU16(wav, 2);
    PutU16(wav, 16);
    wav += "data";
    PutU32(wav, samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        double fade = std::min(1.0, std::min(i, samples - i) / 400.0);
        auto value =
            static_cast<std::int16_t>(12000 * fade * std::sin(2 * M_PI * frequency * i / rate));
        PutU16(wav, static_cast<std::uint16_t>(value));
    }
    return wav;
}

StoredFile Stored(std::string name, std::uint32_t slot, double frequency, bool wav) {
    StoredFile file;
    file.Name = std::move(name);
    file.Slot = slot;
    file.Content = Tone(frequency, 0.25);
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
