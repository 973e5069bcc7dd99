#include "extract/paths.h"

#include "platform/platform.h"

#include <algorithm>

namespace extract {
namespace {

// A component that the file system would read as "the folder above", or that Windows would trim
// down to one (it drops trailing dots and spaces).
bool ClimbsOut(std::string_view component) {
    bool onlyDotsAndSpaces = std::all_of(component.begin(), component.end(), [](char character) {
        return character == '.' || character == ' ';
    });
    return onlyDotsAndSpaces && std::count(component.begin(), component.end(), '.') >= 2;
}

bool RefusedByWindows(char character) {
    return static_cast<unsigned char>(character) < 32 ||
           std::string_view("<>:\"|?*").find(character) != std::string_view::npos;
}

// Win32 sends these names, with any extension, to a device instead of a file.
bool NamesWindowsDevice(std::string_view component) {
    std::string stem(component.substr(0, component.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    for (char& character : stem) {
        if (character >= 'a' && character <= 'z') {
            character = static_cast<char>(character - 'a' + 'A');
        }
    }
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == device) {
            return true;
        }
    }
    if (stem.size() != 4 || (!stem.starts_with("COM") && !stem.starts_with("LPT"))) {
        return false;
    }
    char digit = stem[3];
    return (digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
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

void ForceFolders(const std::string& path, FolderMemory& memory,
                  const std::function<void(std::string_view)>& beforeMaking) {
    std::uint32_t parent = 0;
    std::size_t begin = 0;
    for (std::size_t end = 0; end < path.size(); ++end) {
        if (!IsSeparator(path[end])) {
            continue;
        }
        // An empty component, from a doubled separator, names the folder it stands in.
        if (end > begin) {
            std::string& key = memory.Key;
            key.assign(reinterpret_cast<const char*>(&parent), sizeof parent);
            key.append(path, begin, end - begin);
            auto known = memory.Known.find(key);
            if (known != memory.Known.end()) {
                parent = known->second;
            } else {
                if (beforeMaking) {
                    beforeMaking(std::string_view(path).substr(0, end + 1));
                }
                if (!platform::MakeFolder(path.substr(0, end + 1))) {
                    return;
                }
                parent = static_cast<std::uint32_t>(memory.Known.size() + 1);
                memory.Known.emplace(key, parent);
            }
        }
        begin = end + 1;
    }
}

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

std::string TaggedSoundPath(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                            std::size_t k) {
    // A sound without a usable tag reference still has files worth keeping.
    const csc::TSM_Tag* named = ReferencedTag(tables, sound, k);
    if (named == nullptr) {
        return "TaggedSounds\\" + UnknownTag + "\\";
    }
    const csc::TSM_TagRef& reference = sound.TagRefs[k];
    const csc::TSM_Tag& tag = *named;
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

std::string SafeComponent(std::string_view component, platform::NameRules rules) {
    std::string safe(component);
    std::replace(safe.begin(), safe.end(), '\0', '_');
    if (ClimbsOut(safe)) {
        std::replace(safe.begin(), safe.end(), '.', '_');
    }
    if (rules == platform::NameRules::Windows) {
        std::replace_if(safe.begin(), safe.end(), RefusedByWindows, '_');
        if (!safe.empty() && safe != "." && (safe.back() == '.' || safe.back() == ' ')) {
            safe.back() = '_';
        }
        if (NamesWindowsDevice(safe)) {
            safe.insert(0, 1, '_');
        }
    }
    return safe;
}

std::string SafePath(std::string_view path, platform::NameRules rules) {
    std::string safe;
    safe.reserve(path.size());
    std::size_t begin = 0;
    while (true) {
        std::size_t end = begin;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        safe += SafeComponent(path.substr(begin, end - begin), rules);
        if (end == path.size()) {
            return safe;
        }
        safe += path[end];
        begin = end + 1;
    }
}

} // namespace extract
