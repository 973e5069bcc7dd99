#include "extract/extract.h"

#include "csc/location.h"
#include "platform/platform.h"

#include <algorithm>
#include <memory>

namespace extract {
namespace {

void NoteUnwritten(Extraction& extraction, const std::string& path, platform::ErrorCode reason) {
    if (extraction.UnwrittenFiles++ == 0) {
        extraction.FirstUnwritten = path;
        extraction.FirstUnwrittenReason = reason;
    }
}

// Writes the file whole, or leaves nothing under its name: a file whose write, extension or close
// fails is removed again, so every output file that exists is complete. Bytes that the archive
// could not deliver become a zero tail made by extending the file, so that a size field that lies
// costs neither memory nor disk. On failure, reason tells why.
bool WriteOutputFile(const std::string& path, const std::uint8_t* bytes, std::size_t delivered,
                     std::uint64_t size, platform::ErrorCode& reason) {
    platform::FileHandle output = platform::CreateReplacing(path);
    if (output == platform::InvalidFile) {
        reason = platform::LastError();
        return false;
    }
    bool complete = platform::Write(output, bytes, delivered) == delivered;
    if (complete && size > delivered) {
        complete = platform::Extend(output, size);
    }
    if (!complete) {
        reason = platform::LastError();
    }
    if (!platform::Close(output) && complete) {
        complete = false;
        reason = platform::LastError();
    }
    if (!complete) {
        platform::RemoveFile(path);
    }
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

    ForceFolders(folder, extraction.Folders);
    // The number goes on first, so that the whole name is made safe: "000000_.." climbs nowhere.
    if (extraction.RawExtract) {
        name = PadZeros(number, 6) + "_" + name;
    }
    std::string path = folder + SafePath(name, extraction.NameRules);
    platform::ErrorCode reason = platform::NoError;
    if (!WriteOutputFile(path, bytes.get(), delivered, size, reason)) {
        NoteUnwritten(extraction, path, reason);
    } else if (delivered < size && extraction.ZeroFilledFiles++ == 0) {
        extraction.FirstZeroFilled = path;
    }
}

} // namespace

void ExtractSoundInfo(Extraction& extraction, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number) {
    std::string safeBase = SafePath(basePath, extraction.NameRules);
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        ExtractFile(extraction, file, safeBase, number);
    }
}

} // namespace extract
