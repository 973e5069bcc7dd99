#include "extract/paths.h"

#include "platform/platform.h"

#include <algorithm>

namespace extract {
namespace {

bool IsSeparator(char character) {
    return character == '/' || character == '\\';
}

// A component that the file system would read as "the folder above", or that Windows would trim
// down to one (it drops trailing dots and spaces).
bool ClimbsOut(std::string::const_iterator begin, std::string::const_iterator end) {
    bool onlyDotsAndSpaces = std::all_of(
        begin, end, [](char character) { return character == '.' || character == ' '; });
    return onlyDotsAndSpaces && std::count(begin, end, '.') >= 2;
}

} // namespace

std::int32_t NextSeparator(std::int32_t start, const std::string& path) {
    std::int32_t length = static_cast<std::int32_t>(path.size());
    for (std::int32_t position = std::max(start, 1); position <= length; ++position) {
        if (IsSeparator(path[static_cast<std::size_t>(position - 1)])) {
            return position;
        }
    }
    return -1;
}

void ForceFolders(const std::string& path, FolderMemory& made) {
    if (made.contains(path)) {
        return;
    }
    for (std::int32_t p = NextSeparator(1, path); p != -1; p = NextSeparator(p + 1, path)) {
        std::string folder = path.substr(0, static_cast<std::size_t>(p));
        if (made.insert(folder).second) {
            platform::MakeFolder(folder);
        }
    }
}

std::string PadZeros(std::int32_t number, std::int32_t width) {
    std::string text = std::to_string(number);
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

const csc::TSM_Tag* FirstTag(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound) {
    if (sound.TagRefs.empty() || sound.TagRefs[0].TagIndex >= tables.Tags.size()) {
        return nullptr;
    }
    return &tables.Tags[sound.TagRefs[0].TagIndex];
}

std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k) {
    // A sound without a usable tag reference still has files worth keeping.
    if (k >= sound.TagRefs.size() || sound.TagRefs[k].TagIndex >= tables.Tags.size()) {
        return "TaggedSounds\\" + UnknownTag + "\\";
    }
    const csc::TSM_TagRef& reference = sound.TagRefs[k];
    const csc::TSM_Tag& tag = tables.Tags[reference.TagIndex];
    std::string path = "TaggedSounds\\";
    if (!tag.Name.empty()) {
        path.append(tag.Name, 1);
    }
    if (reference.SubTagIndex == csc::NoSubTag) {
        return path + "\\";
    }
    if (reference.SubTagIndex >= tag.SubTagCount || reference.SubTagIndex >= tag.SubTags.size()) {
        return path + ".UnkSubTag\\";
    }
    return path + "." + tag.SubTags[reference.SubTagIndex] + "\\";
}

std::string MissionSoundPath(const csc::TSM_MissionSound& sound) {
    return "MissionSounds\\" + sound.Name + "\\";
}

std::string SafePath(std::string path) {
    std::replace(path.begin(), path.end(), '\0', '_');
    auto begin = path.begin();
    while (begin != path.end()) {
        auto end = std::find_if(begin, path.end(), IsSeparator);
        if (ClimbsOut(begin, end)) {
            std::replace(begin, end, '.', '_');
        }
        begin = end == path.end() ? end : end + 1;
    }
    return path;
}

} // namespace extract
