// Reads the index tables and every sound-info record of a generated index archive with 65,535
// tagged and 65,535 mission sounds through the tool's reader, and reports the time and the read
// calls the system counted for the process.

#include "archive_builder.h"
#include "csc/index.h"
#include "csc/sound_info.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Measure {
    double Seconds = 0;
    std::uint64_t SystemReads = 0;
    std::uint64_t Records = 0;
};

// The read calls this process has made so far, as Linux counts them.
std::uint64_t ReadCalls() {
    std::ifstream io("/proc/self/io");
    std::string field;
    std::uint64_t value = 0;
    while (io >> field >> value) {
        if (field == "syscr:") {
            return value;
        }
    }
    return 0;
}

Measure ReadEverything(const std::string& path) {
    auto start = std::chrono::steady_clock::now();
    std::uint64_t callsBefore = ReadCalls();
    csc::Archive index = csc::OpenArchive(path);
    csc::IndexTables tables;
    for (csc::Table table : csc::TablesInOrder) {
        csc::ReadTable(index, table, tables);
    }
    Measure measure;
    csc::TSM_SoundInfo working;
    // Sequentially, as the RAW mode reads, then each at its location, as the normal mode does.
    for (std::size_t i = 0; i < tables.TaggedSounds.size() + tables.MissionSounds.size(); ++i) {
        csc::ReadSoundInfo(index, 0, working);
        measure.Records++;
    }
    for (const auto& sound : tables.TaggedSounds) {
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        measure.Records++;
    }
    for (const auto& sound : tables.MissionSounds) {
        csc::ReadSoundInfo(index, sound.InfoLocation, working);
        measure.Records++;
    }
    csc::CloseArchive(index);
    measure.SystemReads = ReadCalls() - callsBefore - 1; // the count's own read of /proc
    measure.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return measure;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path folder =
        argc > 1 ? argv[1] : std::filesystem::temp_directory_path() / "cscunpack-index-bench";
    builder::ArchiveSetBuilder set;
    std::uint8_t tag = set.AddTag("TBench", {"a"});
    for (int i = 0; i < 65535; ++i) {
        builder::StoredFile file;
        file.Name = std::string("tagged_").append(std::to_string(i));
        file.Content.assign(1, 'x');
        set.AddTaggedSound({builder::TagRef(tag, 0)}, {{file}});
        file.Name = std::string("mission_").append(std::to_string(i));
        set.AddMissionSound(std::string("M").append(std::to_string(i % 40)), {{file}});
    }
    builder::WriteArchiveSet(set.Build(), folder);
    std::string path = (folder / "SchemaMetafile_HardDrive.csc").string();
    std::uintmax_t size = std::filesystem::file_size(path);

    std::printf("index archive: %.1f MiB, 131,070 sound-info records read twice (sequentially, "
                "then located)\n",
                static_cast<double>(size) / (1 << 20));
    std::printf("%-28s %10s %14s %16s\n", "reader", "time (s)", "system reads", "bytes per read");
    ReadEverything(path); // warm the page cache
    Measure m = ReadEverything(path);
    std::printf("%-28s %10.3f %14llu %16.1f\n", "read-ahead (the tool)", m.Seconds,
                static_cast<unsigned long long>(m.SystemReads),
                2.0 * static_cast<double>(size) /
                    static_cast<double>(std::max<std::uint64_t>(m.SystemReads, 1)));
    std::filesystem::remove_all(folder);
    return 0;
}
