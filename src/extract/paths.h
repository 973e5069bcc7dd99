#pragma once

#include "csc/records.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// Where every extracted file lands, and the folders on the way there. Paths are relative to the
// folder that holds the archives, with "\" as the separator; "/" separates folders too.
namespace extract {

// Both "\" and "/" separate folders in the program's paths.
inline bool IsSeparator(char character) {
    return character == '\\' || character == '/';
}

// The base path of every file in the RAW mode: the file lies directly in its archive's folder.
inline const std::string RawBasePath = "\\";
// Stands for the tag of a tagged sound that names none, in its folder and its progress item.
inline const std::string UnknownTag = "UnkTag";

// The 1-based position of the first "/" or "\" at or after start, or -1 if there is none.
std::int32_t NextSeparator(std::int32_t start, const std::string& path);

// The folders known to exist, made in this run or found standing. Each is remembered as its own
// name below the number of the folder that holds it, so that a path costs memory in proportion to
// its length, however deep it goes.
struct FolderMemory {
    // Key: the parent's number (4 bytes) followed by the folder's name. The current folder is 0.
    std::unordered_map<std::string, std::uint32_t> Known;
    std::string Key; // reused for lookups
};

// Makes the folder named by every prefix of path that ends with a separator, outermost first.
// Text after the last separator is not a folder. A folder is remembered once it exists, so a
// creation that failed is tried again for a later path; within one path, a level that cannot be
// made ends the walk, since no level below it could be made either.
// beforeMaking, when given, hears of each folder path just before it is made.
void ForceFolders(const std::string& path, FolderMemory& memory,
                  const std::function<void(std::string_view)>& beforeMaking = {});

// The decimal text of number, filled with "0" in front up to width; never shortened.
std::string PadZeros(std::int32_t number, std::int32_t width);

// The tag that a sound's tag reference k names, or none when the sound has no such reference or
// the reference names no tag; such a sound is shown and filed under UnknownTag. The one place
// that decides whether a tag is known.
const csc::TSM_Tag* ReferencedTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                                  std::size_t k);
// The tag that names a tagged sound's folder and its progress item: its first reference's.
const csc::TSM_Tag* FirstTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound);

// "TaggedSounds\" + the tag's name less its first character + the sub-tag part + "\", from the
// sound's tag reference k.
std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k);
// "MissionSounds\" + the mission's name + "\".
std::string MissionSoundPath(const csc::TSM_MissionSound& sound);

// Names come from the archive and must not lead out of the output folders, nor anywhere the file
// system would read them differently. Each path component, separators kept:
// - made only of dots and spaces with at least two dots: its dots are written as "_" (a lone "."
//   stays);
// - a zero byte is written as "_".
// Under Windows rules also:
// - bytes 1 to 31 and < > : " | ? * are written as "_" (":" would open a hidden stream);
// - a trailing dot or space, which Win32 strips, is written as "_";
// - a name whose part before the first dot names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
//   COM1 to COM9, LPT1 to LPT9, in any case, also COM and LPT followed by the superscript digits
//   of code page 1252) gets a "_" in front.
std::string SafeComponent(std::string_view component, platform::NameRules rules);
std::string SafePath(std::string_view path, platform::NameRules rules = platform::NativeNameRules);

} // namespace extract
