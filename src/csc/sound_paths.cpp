#include "csc/sound_paths.h"

namespace csc {

std::string PadZeros(std::int32_t number, std::int32_t width) {
    std::string text = std::to_string(number);
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

const csc::TSM_Tag* ReferencedTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                                  std::size_t k) {
    if (k >= sound.TagRefs.size() || sound.TagRefs[k].TagIndex >= tables.Tags.size()) {
        return nullptr;
    }
    return &tables.Tags[sound.TagRefs[k].TagIndex];
}

const csc::TSM_Tag* FirstTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound) {
    return ReferencedTag(tables, sound, 0);
}

std::string TagFolder(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                      std::size_t k) {
    // A sound without a usable tag reference still has files worth keeping.
    const csc::TSM_Tag* named = ReferencedTag(tables, sound, k);
    if (named == nullptr) {
        return UnknownTag;
    }
    const csc::TSM_TagRef& reference = sound.TagRefs[k];
    const csc::TSM_Tag& tag = *named;
    std::string folder;
    if (!tag.Name.empty()) {
        folder.append(tag.Name, 1);
    }
    if (reference.SubTagIndex == csc::NoSubTag) {
        return folder;
    }
    if (reference.SubTagIndex >= tag.SubTagCount || reference.SubTagIndex >= tag.SubTags.size()) {
        return folder + ".UnkSubTag";
    }
    return folder + "." + tag.SubTags[reference.SubTagIndex];
}

std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k) {
    return "TaggedSounds\\" + TagFolder(tables, sound, k) + "\\";
}

std::string MissionSoundPath(const csc::TSM_MissionSound& sound) {
    return "MissionSounds\\" + sound.Name + "\\";
}

} // namespace csc
