// Arbitrary bytes as an index archive: the tables, every record read back to back and at its
// location, and the paths built from them.

#include "csc/index.h"
#include "csc/location.h"
#include "csc/sound_info.h"
#include "csc/sound_paths.h"
#include "layout/paths.h"

#include <algorithm>
#include <cstdlib>

namespace {

// An oracle of its own: no component of a path that is to be written may climb out, and no folder
// on the way may be empty or "." (the file name, last, may be either).
void RequireSafe(const layout::OutputPath& built) {
    const std::string& path = built.Text;
    if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) {
        std::abort();
    }
    std::size_t begin = 0;
    while (true) {
        std::size_t end = path.find('/', begin);
        std::string component =
            path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        bool dotsAndSpaces = component.find_first_not_of(". ") == std::string::npos;
        if (dotsAndSpaces && std::count(component.begin(), component.end(), '.') >= 2) {
            std::abort();
        }
        if (end == std::string::npos) {
            break;
        }
        if (component.empty() || component == ".") {
            std::abort();
        }
        begin = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    csc::Archive index = csc::MemoryArchive(data, size);
    csc::IndexTables tables;
    for (csc::Table table : csc::TablesInOrder) {
        csc::ReadTable(index, table, tables);
    }

    csc::TSM_SoundInfo record;
    // Past the end every record reads as an empty one; the rest of a long run would only repeat.
    std::size_t total = tables.TaggedSounds.size() + tables.MissionSounds.size();
    for (std::size_t i = 0; i < total && index.Position < size; ++i) {
        csc::ReadSoundInfo(index, 0, record);
    }
    // Records located past the end all read alike, as empty ones; one of them is enough.
    auto pastTheEnd = [&](std::uint32_t location) {
        return csc::LocationOffset(location) > size + 64;
    };
    for (const csc::TSM_TaggedSound& sound : tables.TaggedSounds) {
        if (pastTheEnd(sound.InfoLocation)) {
            continue;
        }
        csc::ReadSoundInfo(index, sound.InfoLocation, record);
        std::string folder = csc::TaggedSoundPath(tables, sound, 0);
        for (const csc::SM_SoundFileInfo& file : record.Files) {
            RequireSafe(layout::BuildOutputPath("__A\\", folder, file.Name));
        }
    }
    for (const csc::TSM_MissionSound& sound : tables.MissionSounds) {
        if (pastTheEnd(sound.InfoLocation)) {
            continue;
        }
        csc::ReadSoundInfo(index, sound.InfoLocation, record);
        std::string folder = csc::MissionSoundPath(sound);
        for (const csc::SM_SoundFileInfo& file : record.Files) {
            RequireSafe(layout::BuildOutputPath("__A\\", folder, file.Name));
        }
    }
    return 0;
}
