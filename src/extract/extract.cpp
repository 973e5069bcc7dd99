#include "extract/extract.h"

#include "csc/location.h"
#include "platform/platform.h"

#include <algorithm>
#include <memory>

namespace extract {
namespace {

void NoteUnwritten(Extraction& extraction, const std::string& path) {
    if (extraction.UnwrittenFiles++ == 0) {
        extraction.FirstUnwritten = path;
    }
}

// Writes the file whole. Bytes that the archive could not deliver become a zero tail made by
// extending the file, so that a size field that lies costs neither memory nor disk.
bool WriteOutputFile(const std::string& path, const std::uint8_t* bytes, std::size_t delivered,
                     std::uint64_t size) {
    platform::FileHandle output = platform::CreateOrReplace(path);
    if (output == platform::InvalidFile) {
        return false;
    }
    bool complete = platform::Write(output, bytes, delivered) == delivered;
    if (complete && size > delivered) {
        complete = platform::Extend(output, size);
    }
    platform::Close(output);
    return complete;
}

// safeBase is the record's base path, already made safe; the archive folder names are safe as
// they stand.
void ExtractFile(Extraction& extraction, const csc::SM_SoundFileInfo& file,
                 const std::string& safeBase, std::int32_t number) {
    if (file.DataLocation == csc::AbsentFile) {
        return;
    }
    std::uint32_t slot = csc::LocationSlot(file.DataLocation);
    csc::Archive& archive = extraction.Archives[slot];
    if (!csc::IsOpen(archive)) {
        return;
    }
    std::string folder = std::string(extraction.FolderNames[slot]) + safeBase;

    std::uint32_t size = 0;
    std::string name = file.Name;
    if (file.OggSize != 0) {
        size = file.OggSize;
        name += ".ogg";
    } else if (file.WavSize != 0) {
        size = file.WavSize;
        name += ".wav";
    }

    csc::Position(archive, csc::LocationOffset(file.DataLocation));
    // The buffer holds what the archive can deliver, never more than it holds; a failed allocation
    // here ends the run before this file's folders or file exist.
    auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(csc::Deliverable(archive, size));
    std::size_t delivered = csc::ReadAvailable(archive, bytes.get(), size);

    // Consecutive files mostly share their folder.
    if (folder != extraction.LastFolder) {
        ForceFolders(folder, extraction.Folders);
        extraction.LastFolder = folder;
    }
    // A number in front cannot turn a name into one that climbs out, so it goes on afterwards.
    std::string path = folder;
    if (extraction.RawExtract) {
        path += PadZeros(number, 6) + "_";
    }
    path += SafePath(std::move(name));
    if (!WriteOutputFile(path, bytes.get(), delivered, size)) {
        NoteUnwritten(extraction, path);
    }
}

} // namespace

void ExtractSoundInfo(Extraction& extraction, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number) {
    std::string safeBase = SafePath(basePath);
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        ExtractFile(extraction, file, safeBase, number);
    }
}

} // namespace extract
