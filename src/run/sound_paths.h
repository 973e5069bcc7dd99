#pragma once

#include "csc/records.h"

#include <cstdint>
#include <string>

// The base paths of the sounds below each archive's folder, as the tables name them: "\" after each
// folder, and a "/" in a name separates folders too. output_path.h makes them safe.
namespace run {

// The base path of every file in the RAW mode: the file lies directly in its archive's folder.
inline const std::string RawBasePath = "\\";
// Stands for the tag of a tagged sound that names none, in its folder and its progress item.
inline const std::string UnknownTag = "UnkTag";

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

} // namespace run
