#include "layout/paths.h"

#include "csc/sound_paths.h"

#include <algorithm>
#include <cstring>

namespace layout {
namespace {

// Both "\\" and "/" separate folders in the names and base paths that the program builds.
bool IsSeparator(char character) {
    return character == '\\' || character == '/';
}

// A component that the file system would read as "the folder above", or that Windows would trim
// down to one (it drops trailing dots and spaces).
bool ClimbsOut(std::string_view component) {
    if (component.size() < 2 || (component[0] != '.' && component[0] != ' ')) {
        return false; // nearly every name: it needs two dots, and nothing else but spaces
    }
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

std::uint64_t Fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037u;
    for (char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211u;
    }
    return hash;
}

// Calls add with each component of a folder or name in the program's form, separators dropped.
template <typename Add> void EachComponent(std::string_view text, Add add) {
    std::size_t begin = 0;
    for (std::size_t end = 0; end <= text.size(); ++end) {
        if (end == text.size() || IsSeparator(text[end])) {
            add(text.substr(begin, end - begin), end == text.size());
            begin = end + 1;
        }
    }
}

// Appends component to text, made safe there, without a string of its own.
void AppendSafe(std::string& text, std::string_view component, platform::NameRules rules) {
    std::size_t start = text.size();
    text += component;
    if (component.find('\0') != std::string_view::npos) {
        std::replace(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), '\0', '_');
    }
    if (rules == platform::NameRules::Posix && !ClimbsOut(component)) {
        return; // the common case, with nothing more to do
    }
    std::string safe = SafeComponent(component, rules);
    text.replace(start, std::string::npos, safe);
}

} // namespace

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

namespace {

// Appends component as a folder of path, made safe, and counts it; a component that names the
// folder it stands in is left out.
void AddFolder(OutputPath& path, std::string_view component, std::uint32_t& count,
               platform::NameRules rules) {
    std::size_t start = path.Text.size();
    AppendSafe(path.Text, component, rules);
    std::string_view safe = std::string_view(path.Text).substr(start);
    if (safe.empty() || safe == ".") {
        path.Text.resize(start); // the folder it stands in
        return;
    }
    path.Text += '/';
    ++count;
}

} // namespace

OutputPath BuildFolderPath(std::string_view archiveFolder, std::string_view basePath,
                           platform::NameRules rules) {
    OutputPath folder;
    folder.Text.reserve(archiveFolder.size() + basePath.size());
    auto add = [&](std::string_view component, bool) {
        AddFolder(folder, component, folder.MadeFolders, rules);
    };
    EachComponent(archiveFolder, add);
    EachComponent(basePath, add);
    return folder;
}

OutputPath BuildOutputPath(const OutputPath& folder, std::string_view fileName,
                           platform::NameRules rules) {
    OutputPath path;
    BuildOutputPath(folder, fileName, rules, path);
    return path;
}

void BuildOutputPath(const OutputPath& folder, std::string_view fileName, platform::NameRules rules,
                     OutputPath& path) {
    path.MadeFolders = folder.MadeFolders;
    path.NameFolders = 0;
    path.Text.reserve(folder.Text.size() + fileName.size());
    path.Text.assign(folder.Text);
    // Nearly every name: no separator, no zero byte, and nothing for POSIX rules to change.
    auto holds = [&](char character) {
        return std::memchr(fileName.data(), character, fileName.size()) != nullptr;
    };
    bool plain = rules == platform::NameRules::Posix && !ClimbsOut(fileName) && !holds('/') &&
                 !holds('\\') && !holds('\0');
    if (plain) {
        path.Text.append(fileName);
        return;
    }
    EachComponent(fileName, [&](std::string_view component, bool last) {
        if (last) {
            AppendSafe(path.Text, component, rules);
        } else {
            AddFolder(path, component, path.NameFolders, rules);
        }
    });
}

OutputPath BuildOutputPath(std::string_view archiveFolder, std::string_view basePath,
                           std::string_view fileName, platform::NameRules rules) {
    return BuildOutputPath(BuildFolderPath(archiveFolder, basePath, rules), fileName, rules);
}

std::string ShownPath(const OutputPath& path) {
    std::string shown = path.Text;
    std::replace(shown.begin(), shown.end(), '/', platform::ShownSeparator);
    return shown;
}

std::string_view LeadingComponents(const OutputPath& path, std::size_t levels) {
    std::size_t end = 0;
    for (std::size_t level = 0; level < levels; ++level) {
        std::size_t slash = path.Text.find('/', end);
        if (slash == std::string::npos) {
            return path.Text;
        }
        end = slash + 1;
    }
    return std::string_view(path.Text).substr(0, end == 0 ? 0 : end - 1);
}

std::uint64_t PlaceKey(std::string_view text) {
    if constexpr (platform::IdentityIsTheBytes) {
        return Fnv1a(text);
    }
    return Fnv1a(platform::FoldedForIdentity(text));
}

std::string_view NextComponent(const OutputPath& path, std::size_t& begin) {
    std::size_t end = std::min(path.Text.find('/', begin), path.Text.size());
    std::string_view component = std::string_view(path.Text).substr(begin, end - begin);
    begin = end + 1;
    return component;
}

std::string InFolder(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty()) {
        path += '/';
    }
    return path.append(name);
}

void AppendIdentity(std::string& key, std::string_view component) {
    if constexpr (platform::IdentityIsTheBytes) {
        key.append(component);
    } else {
        key.append(platform::FoldedForIdentity(component));
    }
}

void FileName(const csc::SM_SoundFileInfo& file, csc::StoredForm form,
              std::optional<std::int32_t> rawNumber, std::string& name) {
    name.clear();
    if (rawNumber) {
        name.append(csc::PadZeros(*rawNumber, 6)).append("_");
    }
    name.append(file.Name).append(csc::Extension(form));
}

OutputPath ByTagFolder(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                       std::size_t k, platform::NameRules rules) {
    return BuildFolderPath("ByTag\\", csc::TagFolder(tables, sound, k) + "\\", rules);
}

std::string TagFolderName(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                          std::size_t k, platform::NameRules rules) {
    std::string folder = BuildFolderPath("", csc::TagFolder(tables, sound, k) + "\\", rules).Text;
    if (!folder.empty()) {
        folder.pop_back(); // the separator after the last folder
    }
    return folder;
}

} // namespace layout
