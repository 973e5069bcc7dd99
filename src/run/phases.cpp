#include "run/phases.h"

#include "csc/sound_info.h"
#include "extract/paths.h"

#include <vector>

namespace run {
namespace {

// "  [i/count] ", the start of a normal-mode progress item.
void WriteItemNumber(console::Console& console, std::size_t index, std::size_t count) {
    console::ReturnToAnchor(console);
    console::Write(console, "  [");
    console::WriteNumber(console, static_cast<std::int64_t>(index + 1));
    console::WriteChar(console, '/');
    console::WriteNumber(console, static_cast<std::int64_t>(count));
    console::Write(console, "] ");
}

// Ends the last progress item and leaves one empty line.
void ClosePhase(console::Console& console) {
    console::Write(console, "\r\n");
    console::WriteLine(console);
}

} // namespace

void RunNormalPhases(Run& run, extract::Extraction& extraction) {
    console::Console& console = run.Console;
    csc::Archive& index = run.Archives[IndexArchive];
    const csc::IndexTables& tables = run.Tables;
    csc::TSM_SoundInfo working;

    run.CurrentStep = Step::TaggedSounds;
    console::WriteLine(console, "Phase 1 of 2: Extracting tagged sounds...");
    console::CaptureAnchor(console);
    for (std::size_t i = 0; i < tables.TaggedSounds.size() && !platform::Interrupted(); ++i) {
        const csc::TSM_TaggedSound& sound = tables.TaggedSounds[i];
        WriteItemNumber(console, i, tables.TaggedSounds.size());
        console::Flush(console);
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        const csc::TSM_Tag* tag = extract::FirstTag(tables, sound);
        console::WriteName(console, tag != nullptr ? tag->Name : extract::UnknownTag);
        console::Write(console, "...                         ");
        console::Flush(console);
        extraction.ExtractSoundInfo(working, extract::TaggedSoundPath(tables, sound, 0), 0);
    }
    if (platform::Interrupted()) {
        return;
    }
    ClosePhase(console);

    run.CurrentStep = Step::MissionSounds;
    console::WriteLine(console, "Phase 2 of 2: Extracting mission sounds...");
    console::CaptureAnchor(console);
    for (std::size_t i = 0; i < tables.MissionSounds.size() && !platform::Interrupted(); ++i) {
        const csc::TSM_MissionSound& sound = tables.MissionSounds[i];
        WriteItemNumber(console, i, tables.MissionSounds.size());
        console::WriteName(console, sound.Name);
        console::Write(console, "...             ");
        console::Flush(console);
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        extraction.ExtractSoundInfo(working, extract::MissionSoundPath(sound), 0);
    }
    if (platform::Interrupted()) {
        return;
    }
    ClosePhase(console);
}

void RunRawPhase(Run& run, extract::Extraction& extraction) {
    console::Console& console = run.Console;
    csc::Archive& index = run.Archives[IndexArchive];

    run.CurrentStep = Step::SoundInfos;
    console::Write(console, "Read Sounds Info...");
    console::Flush(console);
    // A plain sum: 65,535 tagged and 65,535 mission sounds make 131,070 records, not a 16-bit
    // wrap-around that would leave most of them behind.
    std::size_t total = run.Tables.TaggedSounds.size() + run.Tables.MissionSounds.size();
    std::vector<csc::TSM_SoundInfo> soundInfos(total);
    for (csc::TSM_SoundInfo& record : soundInfos) {
        csc::ReadSoundInfo(index, 0, record);
    }
    console::Write(console, "done\r\n");
    console::WriteLine(console);

    run.CurrentStep = Step::RawExtraction;
    console::WriteLine(console, "Special Phase: Extracting all sounds (RAW Extract)...");
    console::CaptureAnchor(console);
    for (std::size_t i = 0; i < total && !platform::Interrupted(); ++i) {
        console::ReturnToAnchor(console);
        console::Write(console, "  Sound ");
        console::WriteNumber(console, static_cast<std::int64_t>(i + 1));
        console::Write(console, " of ");
        console::WriteNumber(console, static_cast<std::int64_t>(total));
        console::Write(console, ": ");
        console::WriteNumber(console, soundInfos[i].FileCount);
        console::Write(console, " files...");
        console::Flush(console);
        extraction.ExtractSoundInfo(soundInfos[i], extract::RawBasePath,
                                    static_cast<std::int32_t>(i));
    }
}

} // namespace run
