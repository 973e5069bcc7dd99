#pragma once

#include "csc/records.h"

#include <cstdint>
#include <string>
#include <unordered_set>

// Where every extracted file lands, and the folders on the way there. Paths are relative to the
// folder that holds the archives, with "\" as the separator; "/" separates folders too.
namespace extract {

// The base path of every file in the RAW mode: the file lies directly in its archive's folder.
inline const std::string RawBasePath = "\\";
// Stands for the tag of a tagged sound that names none, in its folder and its progress item.
inline const std::string UnknownTag = "UnkTag";

// The 1-based position of the first "/" or "\" at or after start, or -1 if there is none.
std::int32_t NextSeparator(std::int32_t start, const std::string& path);

// Folders already asked for in this run, so that each is made once however many files it gets.
using FolderMemory = std::unordered_set<std::string>;

// Makes the folder named by every prefix of path that ends with a separator, outermost first.
// Text after the last separator is not a folder. Failures are not looked at.
void ForceFolders(const std::string& path, FolderMemory& made);

// The decimal text of number, filled with "0" in front up to width; never shortened.
std::string PadZeros(std::int32_t number, std::int32_t width);

// The tag that names a tagged sound's folder: the one its first tag reference names, or none when
// the sound has no reference or the reference names no tag.
const csc::TSM_Tag* FirstTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound);

// "TaggedSounds\" + the tag's name less its first character + the sub-tag part + "\", from the
// sound's tag reference k.
std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k);
// "MissionSounds\" + the mission's name + "\".
std::string MissionSoundPath(const csc::TSM_MissionSound& sound);

// Names come from the archive and must not lead out of the output folders. A path component made
// only of dots and spaces that holds at least two dots has its dots written as "_" (a lone "."
// stays), and a zero byte is written as "_". Everything else, separators included, is kept.
std::string SafePath(std::string path);

} // namespace extract
