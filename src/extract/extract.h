#pragma once

#include "csc/location.h"
#include "csc/reader.h"
#include "csc/records.h"
#include "extract/paths.h"
#include "extract/writer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace extract {

// What extraction needs of the run, and what it has to tell at the end of it.
struct Extraction {
    std::array<csc::Archive, csc::ArchiveSlots>& Archives;
    const std::array<std::string_view, csc::ArchiveSlots>& FolderNames;
    bool RawExtract = false;
    platform::NameRules NameRules = platform::NativeNameRules;
    FolderMemory Folders{};
    unsigned WriterThreads = 0; // 0: files are written on the calling thread
    std::unique_ptr<OutputWriter> Writer{};

    WriteReport Written{}; // complete once FinishWriting has run
};

// Waits until every file handed over is written and fills in Written.
void FinishWriting(Extraction& extraction);

// Copies every present file of record out of its archive into the output tree, below the folder
// of its archive and basePath. number prefixes the file names in the RAW mode. Entries that are
// absent or lie in an archive that is not open are skipped without leaving anything behind.
void ExtractSoundInfo(Extraction& extraction, const csc::TSM_SoundInfo& record,
                      const std::string& basePath, std::int32_t number);

} // namespace extract
