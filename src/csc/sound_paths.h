#pragma once

#include "csc/records.h"

#include <cstdint>
#include <string>

// The base paths of the sounds below each archive's folder, as the tables name them: "\" after each
// folder, and a "/" in a name separates folders too. layout/paths.h makes them safe.
namespace csc {

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

// The tag's name less its first character, then "." and the sub-tag's name where the reference
// names one ("UnkSubTag" where it names none that the tag has), from the sound's tag reference k;
// UnknownTag where that names no tag.
std::string TagFolder(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                      std::size_t k);
// "TaggedSounds\" + the tag folder of the sound's tag reference k + "\".
std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k);
// "MissionSounds\" + the mission's name + "\".
std::string MissionSoundPath(const csc::TSM_MissionSound& sound);

} // namespace csc
