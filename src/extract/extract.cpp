#include "extract/extract.h"

#include "csc/location.h"
#include "platform/platform.h"

#include <algorithm>
#include <memory>

namespace extract {
namespace {

// A file this large passes the archive's read-ahead anyway, so the writer that writes it reads it
// too, straight from the archive (within the system where it can), and its bytes never pass
// through the reading thread.
constexpr std::uint64_t ReadByWriterFrom = 64u << 10;

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

    if (!extraction.Writer) {
        extraction.Writer =
            std::make_unique<OutputWriter>(extraction.WriterThreads, extraction.NameRules);
    }
    OutputWriter& writer = *extraction.Writer;
    csc::Position(archive, csc::LocationOffset(file.DataLocation));
    // The buffer holds what the archive can deliver, never more than it holds; a failed allocation
    // here ends the run before this file's folders or file exist.
    std::uint64_t deliverable = csc::Deliverable(archive, size);
    writer.WaitForRoom(deliverable);
    FileJob job;
    job.Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(deliverable);
    if (deliverable >= ReadByWriterFrom) {
        job.Source = &archive.Source;
        job.SourceOffset = archive.Position;
        job.Delivered = csc::ClaimAvailable(archive, size);
    } else {
        job.Delivered = csc::ReadAvailable(archive, job.Bytes.get(), size);
    }
    job.Size = size;

    ForceFolders(folder, extraction.Folders,
                 [&writer](std::string_view folderPath) { writer.WaitForPath(folderPath); });
    // The number goes on first, so that the whole name is made safe: "000000_.." climbs nowhere.
    if (extraction.RawExtract) {
        name = PadZeros(number, 6) + "_" + name;
    }
    job.Path = folder + SafePath(name, extraction.NameRules);
    writer.Submit(std::move(job));
}

} // namespace

void FinishWriting(Extraction& extraction) {
    if (!extraction.Writer) {
        return;
    }
    extraction.Written = extraction.Writer->Finish();
}

void ExtractSoundInfo(Extraction& extraction, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number) {
    std::string safeBase = SafePath(basePath, extraction.NameRules);
    for (const csc::SM_SoundFileInfo& file : record.Files) {
        ExtractFile(extraction, file, safeBase, number);
    }
}

} // namespace extract
