#include "jobs/mounting.h"

#include "csc/sound_paths.h"
#include "extract/output_tree.h"

#include <algorithm>
#include <cstring>

namespace jobs {
namespace {

// The longest name and path the system takes: an extraction fails on longer ones.
constexpr std::size_t LongestName = 255;
constexpr std::size_t LongestPath = 4095;

constexpr std::uint32_t Root = 0;
constexpr std::uint32_t ByTag = 1;

// Folders of at most this many entries are looked through, not indexed.
constexpr std::size_t FewEntries = 8;

std::uint32_t HashOf(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

} // namespace

Mounting::Mounting(const csc::IndexTables& tables, std::int64_t foldersModified)
    : tables_(tables), foldersModified_(foldersModified) {
    nodes_.push_back(Node{.Listing = 0, .IsFolder = true});
    listings_.emplace_back();
    Add(Root, "ByTag", true);
}

std::uint32_t Mounting::Add(std::uint32_t folder, std::string_view name, bool isFolder) {
    auto number = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(Node{.NameAt = names_.size(),
                          .NameSize = static_cast<std::uint32_t>(name.size()),
                          .Folder = folder,
                          .IsFolder = isFolder});
    if (isFolder) {
        nodes_[number].Listing = static_cast<std::uint32_t>(listings_.size());
        listings_.emplace_back();
    }
    names_.append(name);
    Listing& listing = listings_[nodes_[folder].Listing];
    listing.Entries.push_back(number);
    if (listing.Entries.size() > FewEntries && listing.Index.empty()) {
        listing.Index.assign(64, Slot{});
        for (std::uint32_t entry : listing.Entries) {
            Index(listing, HashOf(NameOf(nodes_[entry])), entry);
        }
    } else if (!listing.Index.empty()) {
        if (listing.Entries.size() * 2 > listing.Index.size()) {
            std::vector<Slot> old(listing.Index.size() * 2);
            old.swap(listing.Index);
            for (const Slot& slot : old) {
                if (slot.Number != None) {
                    Index(listing, slot.Hash, slot.Number); // the whole hash, kept
                }
            }
        }
        Index(listing, HashOf(name), number);
    }
    return number;
}

void Mounting::Index(Listing& listing, std::uint32_t hash, std::uint32_t number) {
    std::size_t mask = listing.Index.size() - 1;
    std::size_t at = hash & mask;
    while (listing.Index[at].Number != None) {
        at = (at + 1) & mask;
    }
    listing.Index[at] = Slot{.Hash = hash, .Number = number};
}

std::optional<std::uint32_t> Mounting::Child(std::uint32_t folder, std::string_view name) const {
    const Listing& listing = listings_[nodes_[folder].Listing];
    if (listing.Index.empty()) {
        for (std::uint32_t entry : listing.Entries) {
            if (NameOf(nodes_[entry]) == name) {
                return entry;
            }
        }
        return std::nullopt;
    }
    std::uint32_t hash = HashOf(name);
    std::size_t mask = listing.Index.size() - 1;
    for (std::size_t at = hash & mask; listing.Index[at].Number != None; at = (at + 1) & mask) {
        const Slot& slot = listing.Index[at];
        if (slot.Hash == hash && NameOf(nodes_[slot.Number]) == name) {
            return slot.Number;
        }
    }
    return std::nullopt;
}

void Mounting::Take(csc::ExtentReader& stored, FoundFile file) {
    if (sources_[file.Slot] == nullptr) {
        sources_[file.Slot] = &stored.Source();
        modified_[file.Slot] = platform::ModifiedSeconds(stored.Source().File);
    }
    Place(file.Path, file);
    if (file.Tagged == nullptr) {
        return;
    }
    // The file's name as the run wrote it, below the sound's folder, under each of its tags.
    std::string_view name =
        std::string_view(file.Path.Text)
            .substr(extract::LeadingComponents(file.Path, file.Path.MadeFolders).size() + 1);
    if (file.Tagged != tagsOf_) {
        // A sound's files come one after the other: its tags' folders are made safe once, each
        // once.
        tagsOf_ = file.Tagged;
        tagFolders_.clear();
        for (std::size_t k = 0; k < file.Tagged->TagRefs.size(); ++k) {
            const extract::OutputPath& folder = ByTagFolder(*file.Tagged, k);
            if (std::none_of(tagFolders_.begin(), tagFolders_.end(),
                             [&](const auto* known) { return known->Text == folder.Text; })) {
                tagFolders_.push_back(&folder);
            }
        }
    }
    for (const extract::OutputPath* tagFolder : tagFolders_) {
        const extract::OutputPath& folder = *tagFolder;
        byTagPath_.Text.assign(folder.Text).append(name);
        byTagPath_.MadeFolders = folder.MadeFolders;
        byTagPath_.NameFolders = file.Path.NameFolders;
        Place(byTagPath_, file);
    }
}

const extract::OutputPath& Mounting::ByTagFolder(const csc::TSM_TaggedSound& sound, std::size_t k) {
    // The folder's name depends on the tag and sub-tag the reference names, and nothing else.
    const csc::TSM_TagRef& reference = sound.TagRefs[k];
    auto key = static_cast<std::uint16_t>(reference.TagIndex << 8 | reference.SubTagIndex);
    auto [known, added] = byTagFolders_.try_emplace(key);
    if (added) {
        known->second = extract::BuildOutputPath(
            "ByTag\\", csc::TagFolder(tables_, sound, k) + "\\", "-", platform::NameRules::Posix);
        known->second.Text.resize(known->second.Text.size() - 1); // "ByTag/<tag>/"
    }
    return known->second;
}

void Mounting::Place(const extract::OutputPath& path, const FoundFile& file) {
    if (path.MadeFolders + path.NameFolders > extract::MostFolderLevels) {
        return;
    }
    std::uint32_t folder = Root;
    std::size_t begin = 0;
    std::uint32_t level = 0;
    // Files come in runs below one folder, and the folders a file's path makes stand once made.
    std::string_view made = extract::LeadingComponents(path, path.MadeFolders);
    for (const auto& [text, number] : recentFolders_) {
        if (!text.empty() && text == made) {
            folder = number;
            level = path.MadeFolders;
            begin = made.size() + 1;
            break;
        }
    }
    for (; level < path.MadeFolders + path.NameFolders; ++level) {
        std::string_view name = extract::NextComponent(path, begin);
        std::optional<std::uint32_t> child = Child(folder, name);
        if (child && !nodes_[*child].IsFolder) {
            return; // a file stands where the folder goes
        }
        if (!child &&
            (level >= path.MadeFolders || name.size() > LongestName || begin - 1 > LongestPath)) {
            return; // a name's own folder is used only where it stands
        }
        folder = child ? *child : Add(folder, name, true);
        if (level + 1 == path.MadeFolders) {
            recentFolders_[nextRecent_] = {std::string(made), folder};
            nextRecent_ = (nextRecent_ + 1) % recentFolders_.size();
        }
    }
    std::string_view name = extract::NextComponent(path, begin);
    if (name.empty() || name.size() > LongestName || path.Text.size() > LongestPath) {
        return;
    }
    std::optional<std::uint32_t> existing = Child(folder, name);
    if (existing && nodes_[*existing].IsFolder) {
        return;
    }
    Node& node = nodes_[existing ? *existing : Add(folder, name, false)];
    bytes_ = bytes_ - node.Size + file.Size;
    node.Slot = static_cast<std::uint8_t>(file.Slot);
    node.Offset = static_cast<std::uint32_t>(file.Stored.Offset);
    node.Held = static_cast<std::uint32_t>(file.Stored.Held);
    node.Size = static_cast<std::uint32_t>(file.Size);
}

std::optional<std::uint64_t> Mounting::Lookup(std::uint64_t folder, std::string_view name) const {
    if (folder >= nodes_.size() || !nodes_[folder].IsFolder) {
        return std::nullopt;
    }
    return Child(static_cast<std::uint32_t>(folder), name);
}

platform::MountedEntry Mounting::Entry(std::uint64_t number) const {
    const Node& node = nodes_[number];
    return platform::MountedEntry{.Folder = node.IsFolder,
                                  .Size = node.Size,
                                  .ModifiedSeconds =
                                      node.IsFolder ? foldersModified_ : modified_[node.Slot]};
}

void Mounting::ForEachIn(std::uint64_t folder, std::uint64_t from,
                         const std::function<bool(std::string_view, std::uint64_t)>& each) const {
    if (!nodes_[folder].IsFolder) {
        return;
    }
    const std::vector<std::uint32_t>& children = listings_[nodes_[folder].Listing].Entries;
    for (std::size_t at = from; at < children.size(); at++) {
        if (!each(NameOf(nodes_[children[at]]), children[at])) {
            return;
        }
    }
}

platform::Moved Mounting::Read(std::uint64_t file, std::uint64_t offset, void* destination,
                               std::size_t count) const {
    const Node& node = nodes_[file];
    if (offset >= node.Size) {
        return {};
    }
    std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, node.Size - offset));
    std::size_t stored = 0;
    if (offset < node.Held) {
        stored = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, node.Held - offset));
        // An archive that has shrunk since gives zeros, as an extraction writes where it ends.
        stored = csc::ReadAt(*sources_[node.Slot], node.Offset + offset, destination, stored);
    }
    std::memset(static_cast<char*>(destination) + stored, 0, wanted - stored);
    return platform::Moved{.Bytes = wanted, .Error = platform::NoError};
}

} // namespace jobs
