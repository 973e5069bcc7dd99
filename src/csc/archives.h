#pragma once

#include "csc/location.h"

#include <array>
#include <cstddef>
#include <string_view>

// The archives of the game, by slot: a location word's top three bits pick one of these eight.
namespace csc {

// Slots 6 and 7 name no archive that the game ships; they are never opened. Note the lower-case
// "f" of the index archive in slot 2.
inline constexpr std::array<std::string_view, ArchiveSlots> ArchiveFileNames = {
    "SchemaMetaFile.csc",
    "SchemaMetaFile_Memory.csc",
    "SchemaMetafile_HardDrive.csc",
    "SchemaMetaFile_DVD1.csc",
    "SchemaMetaFile_DVD2.csc",
    "SchemaMetaFile_DVD3.csc",
    "UnknownFile1",
    "UnknownFile2"};

// The folder that receives an archive's files: "__" and its file name.
inline constexpr std::array<std::string_view, ArchiveSlots> ArchiveFolderNames = {
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
// The slots whose archives are looked for: 0 to 5.
inline constexpr std::size_t ShippedArchives = 6;

} // namespace csc
