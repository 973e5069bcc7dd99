#include "jobs/mounting.h"

#include "csc/sound_paths.h"
#include "extract/output_tree.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace jobs {
namespace {

// The longest name and path the system takes: an extraction fails on longer ones.
constexpr std::size_t LongestName = 255;
constexpr std::size_t LongestPath = 4095;

constexpr std::uint32_t Root = 0;
// Where the components below the made folders begin. No component holds a separator, so the last
// NameFolders + 1 separators are those that follow the made folders.
std::size_t AfterMadeFolders(const extract::OutputPath& path) {
    if (path.MadeFolders == 0) {
        return 0;
    }
    std::size_t at = path.Text.size();
    for (std::uint32_t k = 0; k <= path.NameFolders; ++k) {
        at = path.Text.rfind('/', at - 1);
    }
    return at + 1;
}

std::uint32_t HashOf(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

} // namespace

Mounting::Mounting(const csc::IndexTables& tables, std::int64_t foldersModified, bool builder)
    : tables_(tables), foldersModified_(foldersModified) {
    nodes_[nodes_.Take(1)] = Node{.Folder = 0};
    folders_.emplace_back();
    Add(Root, "ByTag", HashOf("ByTag"), true);
    // One builder, so that the files stand in the order a run writes them. It allocates now and
    // then while the walk allocates all the time: on one heap the walk would wait for its lock.
    if (builder) {
        platform::LetTheNextThreadHaveItsOwnHeap();
    }
    builder_.emplace(
        builder ? 1 : 0,
        // Handed over in large batches, as a file costs the builder less than a wake-up.
        extract::PoolBounds{.Cost = std::uint64_t{1} << 20,
                            .Tasks = 8192,
                            .BatchTasks = 512,
                            .BatchCost = 64u << 10},
        [this](FoundFile& file) {
            // Running out of memory ends the run on the reading thread, as it does anywhere else.
            try {
                if (!outOfMemory_.load()) {
                    Build(file);
                }
            } catch (const std::bad_alloc&) {
                outOfMemory_.store(true);
            }
        },
        [](FoundFile&) {});
}

std::uint32_t Mounting::Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
                            bool isFolder, std::uint32_t nameAt) {
    if (nameAt == None) {
        std::size_t kept = names_.Take(name.size());
        if (kept + name.size() > None) {
            throw std::bad_alloc(); // names past 4 GiB: the memory is gone long before
        }
        if (!name.empty()) {
            std::memcpy(&names_[kept], name.data(), name.size());
        }
        nameAt = static_cast<std::uint32_t>(kept);
    }
    std::uint32_t holderAt = nodes_[folder].Folder;
    auto number = static_cast<std::uint32_t>(nodes_.Take(1));
    nodes_[number] =
        Node{.NameAt = nameAt, .In = holderAt, .NameSize = static_cast<std::uint8_t>(name.size())};
    if (isFolder) {
        nodes_[number].Folder = static_cast<std::uint32_t>(folders_.size());
        folders_.emplace_back();
    }
    Folder& holder = folders_[holderAt];
    if (holder.Count < FewEntries) {
        holder.First[holder.Count] = number;
    } else {
        if (holder.Index.empty()) {
            holder.Index.assign(4 * FewEntries, Slot{});
            for (std::uint32_t entry : holder.First) {
                Index(holder.Index, HashOf(NameOf(nodes_[entry])), entry);
            }
        } else if ((holder.Count + 1) * std::size_t{2} > holder.Index.size()) {
            std::vector<Slot> old(holder.Index.size() * 2);
            old.swap(holder.Index);
            for (const Slot& slot : old) {
                if (slot.Number != None) {
                    Index(holder.Index, slot.Hash, slot.Number); // the whole hash, kept
                }
            }
        }
        Index(holder.Index, hash, number);
    }
    holder.Count++;
    return number;
}

void Mounting::Index(std::vector<Slot>& index, std::uint32_t hash, std::uint32_t number) {
    std::size_t mask = index.size() - 1;
    std::size_t at = hash & mask;
    while (index[at].Number != None) {
        at = (at + 1) & mask;
    }
    index[at] = Slot{.Hash = hash, .Number = number};
}

std::uint32_t Mounting::Child(std::uint32_t folder, std::string_view name,
                              std::uint32_t hash) const {
    const Folder& holder = folders_[nodes_[folder].Folder];
    if (holder.Index.empty()) {
        for (std::uint32_t k = 0; k < holder.Count; ++k) {
            if (NameOf(nodes_[holder.First[k]]) == name) {
                return holder.First[k];
            }
        }
        return None;
    }
    std::size_t mask = holder.Index.size() - 1;
    for (std::size_t at = hash & mask; holder.Index[at].Number != None; at = (at + 1) & mask) {
        const Slot& slot = holder.Index[at];
        if (slot.Hash == hash && NameOf(nodes_[slot.Number]) == name) {
            return slot.Number;
        }
    }
    return None;
}

void Mounting::Take(csc::ExtentReader& stored, FoundFile file) {
    if (sources_[file.Slot] == nullptr) {
        sources_[file.Slot] = &stored.Source();
        modified_[file.Slot] = platform::ModifiedSeconds(stored.Source().File);
    }
    std::uint64_t cost = sizeof file + file.Path.Text.size();
    builder_->WaitForRoom(cost);
    builder_->Submit(std::move(file), cost);
    if (outOfMemory_.load()) {
        throw std::bad_alloc();
    }
}

void Mounting::Finish() {
    builder_.reset();
    if (outOfMemory_.load()) {
        throw std::bad_alloc();
    }
    // Each folder's entries one after the other, in the order made, so that a listing can go on
    // from any entry.
    std::vector<std::uint32_t> next(folders_.size());
    std::uint32_t at = 0;
    for (std::size_t k = 0; k < folders_.size(); ++k) {
        folders_[k].ListedAt = next[k] = at;
        at += folders_[k].Count;
    }
    listed_.resize(at);
    for (std::size_t number = 1; number < nodes_.size(); ++number) {
        listed_[next[nodes_[number].In]++] = static_cast<std::uint32_t>(number);
    }
}

void Mounting::Build(const FoundFile& file) {
    const extract::OutputPath& path = file.Path;
    std::size_t afterMade = AfterMadeFolders(path);
    std::string_view made = std::string_view(path.Text).substr(0, afterMade - (afterMade > 0));
    std::uint32_t placed = None;
    if (path.MadeFolders + path.NameFolders <= extract::MostFolderLevels) {
        // Files come in runs below one folder, and the folders a file's path makes stand once
        // made: the folder of the last file first.
        std::uint32_t folder = None;
        for (std::size_t k = 1; k <= recentFolders_.size() && folder == None; ++k) {
            const auto& [text, number] =
                recentFolders_[(nextRecent_ + recentFolders_.size() - k) % recentFolders_.size()];
            if (!text.empty() && text == made) {
                folder = number;
            }
        }
        if (folder == None) {
            std::size_t begin = 0;
            folder = Folders(Root, path, begin, path.MadeFolders, 0);
            if (folder != None && !made.empty()) {
                recentFolders_[nextRecent_] = {std::string(made), folder};
                nextRecent_ = (nextRecent_ + 1) % recentFolders_.size();
            }
        }
        if (folder != None) {
            placed = PlaceFile(folder, path, afterMade, 0, file);
        }
    }
    if (file.Tagged == nullptr) {
        return;
    }
    // The file's name as the run wrote it, below the sound's folder, under each of its tags.
    if (file.Tagged != tagsOf_) {
        // A sound's files come one after the other: its tags' folders are looked up once, each
        // once.
        tagsOf_ = file.Tagged;
        tagFolders_.clear();
        for (std::size_t k = 0; k < file.Tagged->TagRefs.size(); ++k) {
            TagFolder& folder = ByTagFolder(*file.Tagged, k);
            if (std::none_of(tagFolders_.begin(), tagFolders_.end(), [&](const TagFolder* known) {
                    return known->Path.Text == folder.Path.Text;
                })) {
                tagFolders_.push_back(&folder);
            }
        }
    }
    for (TagFolder* tag : tagFolders_) {
        if (tag->Path.MadeFolders + path.NameFolders > extract::MostFolderLevels) {
            continue;
        }
        if (tag->Number == Unmade) {
            std::size_t begin = 0;
            tag->Number = Folders(Root, tag->Path, begin, tag->Path.MadeFolders, 0);
        }
        if (tag->Number != None) {
            // The same name as the file's own, kept once.
            PlaceFile(tag->Number, path, afterMade,
                      static_cast<std::ptrdiff_t>(tag->Path.Text.size()) -
                          static_cast<std::ptrdiff_t>(afterMade),
                      file, placed == None ? None : nodes_[placed].NameAt);
        }
    }
}

Mounting::TagFolder& Mounting::ByTagFolder(const csc::TSM_TaggedSound& sound, std::size_t k) {
    // The folder's name depends on the tag and sub-tag the reference names, and nothing else.
    const csc::TSM_TagRef& reference = sound.TagRefs[k];
    auto key = static_cast<std::uint16_t>(reference.TagIndex << 8 | reference.SubTagIndex);
    auto [known, added] = byTagFolders_.try_emplace(key);
    if (added) {
        known->second.Path = extract::BuildOutputPath(
            "ByTag\\", csc::TagFolder(tables_, sound, k) + "\\", "-", platform::NameRules::Posix);
        known->second.Path.Text.resize(known->second.Path.Text.size() - 1); // "ByTag/<tag>/"
    }
    return known->second;
}

std::uint32_t Mounting::Folders(std::uint32_t folder, const extract::OutputPath& path,
                                std::size_t& begin, std::uint32_t made, std::uint32_t levels,
                                std::ptrdiff_t shift) {
    for (std::uint32_t level = 0; level < made + levels; ++level) {
        std::string_view name = extract::NextComponent(path, begin);
        std::uint32_t hash = HashOf(name);
        std::uint32_t child = Child(folder, name, hash);
        if (child != None && nodes_[child].Folder == None) {
            return None; // a file stands where the folder goes
        }
        if (child == None) {
            if (level >= made || name.size() > LongestName ||
                static_cast<std::ptrdiff_t>(begin) - 1 + shift >
                    static_cast<std::ptrdiff_t>(LongestPath)) {
                return None; // a name's own folder is used only where it stands
            }
            child = Add(folder, name, hash, true);
        }
        folder = child;
    }
    return folder;
}

std::uint32_t Mounting::PlaceFile(std::uint32_t folder, const extract::OutputPath& path,
                                  std::size_t begin, std::ptrdiff_t shift, const FoundFile& file,
                                  std::uint32_t nameAt) {
    folder = Folders(folder, path, begin, 0, path.NameFolders, shift);
    if (folder == None) {
        return None;
    }
    std::string_view name = extract::NextComponent(path, begin);
    if (name.empty() || name.size() > LongestName ||
        static_cast<std::ptrdiff_t>(path.Text.size()) + shift >
            static_cast<std::ptrdiff_t>(LongestPath)) {
        return None;
    }
    std::uint32_t hash = HashOf(name);
    std::uint32_t existing = Child(folder, name, hash);
    if (existing != None && nodes_[existing].Folder != None) {
        return None;
    }
    std::uint32_t number = existing != None ? existing : Add(folder, name, hash, false, nameAt);
    Node& node = nodes_[number];
    bytes_ = bytes_ - node.Size + file.Size;
    node.Slot = static_cast<std::uint8_t>(file.Slot);
    node.Offset = static_cast<std::uint32_t>(file.Stored.Offset);
    node.Held = static_cast<std::uint32_t>(file.Stored.Held);
    node.Size = static_cast<std::uint32_t>(file.Size);
    return number;
}

std::optional<std::uint64_t> Mounting::Lookup(std::uint64_t folder, std::string_view name) const {
    if (folder >= nodes_.size() || nodes_[folder].Folder == None) {
        return std::nullopt;
    }
    std::uint32_t child = Child(static_cast<std::uint32_t>(folder), name, HashOf(name));
    return child == None ? std::nullopt : std::optional<std::uint64_t>(child);
}

platform::MountedEntry Mounting::Entry(std::uint64_t number) const {
    const Node& node = nodes_[number];
    bool isFolder = node.Folder != None;
    return platform::MountedEntry{.Folder = isFolder,
                                  .Size = node.Size,
                                  .ModifiedSeconds =
                                      isFolder ? foldersModified_ : modified_[node.Slot]};
}

void Mounting::ForEachIn(std::uint64_t folder, std::uint64_t from,
                         const std::function<bool(std::string_view, std::uint64_t)>& each) const {
    if (nodes_[folder].Folder == None) {
        return;
    }
    const Folder& holder = folders_[nodes_[folder].Folder];
    for (std::size_t at = from; at < holder.Count; at++) {
        std::uint32_t entry = listed_[holder.ListedAt + at];
        if (!each(NameOf(nodes_[entry]), entry)) {
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
