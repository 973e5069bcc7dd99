#pragma once

#include "console/console.h"
#include "csc/reader.h"
#include "extract/extract.h"

#include <array>
#include <string_view>

namespace run {

// A location word's top three bits pick one of these eight slots. Slots 6 and 7 are never opened.
// Note the lower-case "f" of the index archive in slot 2.
inline constexpr std::array<std::string_view, csc::ArchiveSlots> ArchiveFileNames = {
    "SchemaMetaFile.csc",
    "SchemaMetaFile_Memory.csc",
    "SchemaMetafile_HardDrive.csc",
    "SchemaMetaFile_DVD1.csc",
    "SchemaMetaFile_DVD2.csc",
    "SchemaMetaFile_DVD3.csc",
    "UnknownFile1",
    "UnknownFile2"};

inline constexpr std::array<std::string_view, csc::ArchiveSlots> ArchiveFolderNames = {
    "__SchemaMetaFile.csc\\",
    "__SchemaMetaFile_Memory.csc\\",
    "__SchemaMetafile_HardDrive.csc\\",
    "__SchemaMetaFile_DVD1.csc\\",
    "__SchemaMetaFile_DVD2.csc\\",
    "__SchemaMetaFile_DVD3.csc\\",
    "__UnknownFile1\\",
    "__UnknownFile2\\"};

// The archive that holds the tables and the sound-info records.
inline constexpr std::size_t IndexArchive = 2;
inline constexpr std::size_t DiscoveredSlots = 6;

using ArchiveHandles = std::array<csc::Archive, csc::ArchiveSlots>;

// Opens the archives of slots 0 to 5 from the current folder, reporting each as "ok", "not found",
// or, when it exists but cannot be opened, "cannot be read" with the system's reason. Where an
// exact name is absent, a file whose name differs in case only is taken.
void DiscoverArchives(console::Console& console, ArchiveHandles& archives);
// "not found", or "cannot be read (reason)", for an archive that is not open.
void WriteWhyNotOpen(console::Console& console, const csc::Archive& archive);
void CloseArchives(ArchiveHandles& archives);

} // namespace run
