#include "jobs/mounting.h"

#include "csc/sound_paths.h"
#include "extract/output_tree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace jobs {
namespace {

// The longest name and path the system takes: an extraction fails on longer ones.
constexpr std::size_t LongestName = 255;
constexpr std::size_t LongestPath = 4095;

constexpr std::uint32_t Root = 0;
// The folder below each archive's folder that holds the tagged sounds' folders.
constexpr std::string_view TaggedSoundsFolder = "TaggedSounds";
// Files are handed to the builder in batches of this many, or of this many bytes of paths.
constexpr std::size_t BatchFiles = 512;
constexpr std::size_t BatchPathBytes = 32u << 10;
// Batches the builder is done with, kept for the next ones.
constexpr std::size_t SpareBatches = 16;

// Where the components below the made folders begin. No component holds a separator, so the last
// nameFolders + 1 separators are those that follow the made folders.
std::size_t AfterMadeFolders(std::string_view path, std::uint32_t madeFolders,
                             std::uint32_t nameFolders) {
    if (madeFolders == 0) {
        return 0;
    }
    std::size_t at = path.size();
    for (std::uint32_t k = 0; k <= nameFolders; ++k) {
        at = path.rfind('/', at - 1);
    }
    return at + 1;
}

// The component of path that starts at begin; begin moves to the next one.
std::string_view NextComponent(std::string_view path, std::size_t& begin) {
    std::size_t end = std::min(path.find('/', begin), path.size());
    std::string_view component = path.substr(begin, end - begin);
    begin = end + 1;
    return component;
}

std::uint32_t HashOf(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

} // namespace

Mounting::Mounting(const csc::IndexTables& tables, platform::FileTime foldersModified, bool builder)
    : tables_(tables), foldersModified_(foldersModified) {
    nodes_[nodes_.Take(1)] = Node{.Folder = 0};
    folders_.emplace_back();
    byTag_ = Add(Root, "ByTag", HashOf("ByTag"), true);
    // One builder, so that the files stand in the order a run writes them. It allocates now and
    // then while the walk allocates all the time: on one heap the walk would wait for its lock.
    if (builder) {
        platform::LetTheNextThreadHaveItsOwnHeap();
    }
    builder_.emplace(
        builder ? 1 : 0,
        // Handed over in large batches, as a file costs the builder less than a wake-up.
        extract::PoolBounds{
            .Cost = std::uint64_t{1} << 20, .Tasks = 32, .BatchTasks = 1, .BatchCost = 1},
        [this](Batch& batch) {
            // Running out of memory ends the run on the reading thread, as it does anywhere else.
            try {
                for (const Placement& file : batch.Files) {
                    if (outOfMemory_.load()) {
                        break;
                    }
                    Build(std::string_view(batch.Paths).substr(file.PathAt, file.PathSize), file);
                }
            } catch (const std::bad_alloc&) {
                outOfMemory_.store(true);
            }
        },
        [this](Batch& done) {
            if (spares_.size() < SpareBatches) {
                done.Files.clear();
                done.Paths.clear();
                spares_.push_back(std::move(done));
            }
        });
}

std::uint32_t Mounting::Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
                            bool isFolder) {
    std::size_t kept = names_.Take(name.size());
    if (kept + name.size() > None || nodes_.size() + 1 >= None) {
        throw std::bad_alloc(); // past 4 GiB of names or entries: the memory is gone long before
    }
    if (!name.empty()) {
        std::memcpy(&names_[kept], name.data(), name.size());
    }
    std::uint32_t holderAt = nodes_[folder].Folder;
    auto number = static_cast<std::uint32_t>(nodes_.Take(1));
    nodes_[number] = Node{.NameAt = static_cast<std::uint32_t>(kept),
                          .In = holderAt,
                          .NameSize = static_cast<std::uint8_t>(name.size())};
    if (isFolder) {
        nodes_[number].Folder = static_cast<std::uint32_t>(folders_.size());
        folders_.emplace_back();
        folders_.back().Node = number;
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

std::uint32_t Mounting::Child(std::uint32_t folder, std::string_view name) const {
    return Child(folder, name, HashOf(name));
}

void Mounting::Take(csc::ExtentReader& stored, FoundFile file) {
    if (sources_[file.Slot] == nullptr) {
        sources_[file.Slot] = &stored.Source();
        modified_[file.Slot] = platform::ModifiedTime(stored.Source().File);
    }
    const extract::OutputPath& path = file.Path;
    batch_.Files.push_back(Placement{
        .PathAt = static_cast<std::uint32_t>(batch_.Paths.size()),
        .PathSize = static_cast<std::uint32_t>(path.Text.size()),
        .MadeFolders = path.MadeFolders,
        .NameFolders = path.NameFolders,
        .Offset = static_cast<std::uint32_t>(file.Stored.Offset),
        .Held = static_cast<std::uint32_t>(file.Stored.Held),
        .Size = static_cast<std::uint32_t>(file.Size),
        .Sound = file.Tagged == nullptr
                     ? None
                     : static_cast<std::uint32_t>(file.Tagged - tables_.TaggedSounds.data()),
        .Slot = static_cast<std::uint8_t>(file.Slot)});
    batch_.Paths += path.Text;
    if (batch_.Files.size() >= BatchFiles || batch_.Paths.size() >= BatchPathBytes) {
        HandOver();
    }
}

void Mounting::HandOver() {
    std::uint64_t cost = batch_.Paths.size() + batch_.Files.size() * sizeof(Placement);
    builder_->WaitForRoom(cost);
    builder_->Submit(std::move(batch_), cost);
    batch_ = Batch{};
    if (!spares_.empty()) {
        batch_ = std::move(spares_.back());
        spares_.pop_back();
    }
    if (outOfMemory_.load()) {
        throw std::bad_alloc();
    }
}

void Mounting::Finish() {
    if (!batch_.Files.empty()) {
        HandOver();
    }
    builder_.reset();
    if (outOfMemory_.load()) {
        throw std::bad_alloc();
    }
    LayOutByTag();
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

void Mounting::Build(std::string_view path, const Placement& file) {
    if (file.MadeFolders + file.NameFolders > extract::MostFolderLevels) {
        return;
    }
    std::size_t afterMade = AfterMadeFolders(path, file.MadeFolders, file.NameFolders);
    std::string_view made = path.substr(0, afterMade - (afterMade > 0));
    // Files come in runs below one folder, and the folders a file's path makes stand once made:
    // the folder of the last file first.
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
        folder = Folders(Root, path, begin, file.MadeFolders, 0);
        if (folder != None && !made.empty()) {
            recentFolders_[nextRecent_] = {std::string(made), folder};
            nextRecent_ = (nextRecent_ + 1) % recentFolders_.size();
        }
    }
    if (folder == None) {
        return;
    }
    // The name's own folders, then its name.
    std::size_t begin = afterMade;
    folder = Folders(folder, path, begin, 0, file.NameFolders);
    if (folder == None) {
        return;
    }
    std::string_view name = NextComponent(path, begin);
    if (name.empty() || name.size() > LongestName || path.size() > LongestPath) {
        return;
    }
    std::uint32_t hash = HashOf(name);
    std::uint32_t number = Child(folder, name, hash);
    if (number != None && IsFolder(number)) {
        return; // a file never takes a folder's place
    }
    if (number == None) {
        number = Add(folder, name, hash, false);
    }
    Node& node = nodes_[number];
    bytes_ = bytes_ - node.Size + file.Size;
    node.Slot = file.Slot;
    node.Offset = file.Offset;
    node.Held = file.Held;
    node.Size = file.Size;
    node.Sound = file.Sound;
}

std::uint32_t Mounting::Folders(std::uint32_t folder, std::string_view path, std::size_t& begin,
                                std::uint32_t made, std::uint32_t levels) {
    for (std::uint32_t level = 0; level < made + levels; ++level) {
        std::string_view name = NextComponent(path, begin);
        std::uint32_t hash = HashOf(name);
        std::uint32_t child = Child(folder, name, hash);
        if (child != None && !IsFolder(child)) {
            return None; // a file stands where the folder goes
        }
        if (child == None) {
            if (level >= made || name.size() > LongestName || begin - 1 > LongestPath) {
                return None; // a name's own folder is used only where it stands
            }
            child = Add(folder, name, hash, true);
        }
        folder = child;
    }
    return folder;
}

void Mounting::LayOutByTag() {
    const std::vector<csc::TSM_TaggedSound>& sounds = tables_.TaggedSounds;
    // The files of each sound that stand in the tree.
    soundFilesAt_.assign(sounds.size() + 1, 0);
    for (std::uint32_t number = 1; number < nodes_.size(); ++number) {
        if (!IsFolder(number) && nodes_[number].Sound != None) {
            ++soundFilesAt_[nodes_[number].Sound + 1];
        }
    }
    for (std::size_t s = 0; s < sounds.size(); ++s) {
        soundFilesAt_[s + 1] += soundFilesAt_[s];
    }
    soundFiles_.resize(soundFilesAt_.back());
    {
        std::vector<std::uint32_t> next(soundFilesAt_.begin(), soundFilesAt_.end() - 1);
        for (std::uint32_t number = 1; number < nodes_.size(); ++number) {
            if (!IsFolder(number) && nodes_[number].Sound != None) {
                soundFiles_[next[nodes_[number].Sound]++] = number;
            }
        }
    }
    // Each tag reference names a tag's folder by its tag and sub-tag; references that give the
    // same folder name are one tag. Only sounds with files in the tree are looked at, each tag of
    // a sound once.
    std::vector<std::uint32_t> tagOfReference(1u << 16, None);
    std::unordered_map<std::string, std::uint32_t> tagOfFolder;
    std::vector<extract::OutputPath> tagFolders;
    std::vector<std::uint32_t> lastSound; // of each tag, so that a sound counts once for it
    auto eachTag = [&](auto visit) {
        for (std::uint32_t s = 0; s < sounds.size(); ++s) {
            if (soundFilesAt_[s] == soundFilesAt_[s + 1]) {
                continue;
            }
            for (std::size_t k = 0; k < sounds[s].TagRefs.size(); ++k) {
                const csc::TSM_TagRef& reference = sounds[s].TagRefs[k];
                std::uint32_t& tag =
                    tagOfReference[std::uint32_t{reference.TagIndex} << 8 | reference.SubTagIndex];
                if (tag == None) {
                    extract::OutputPath folder = extract::BuildFolderPath(
                        "ByTag\\", csc::TagFolder(tables_, sounds[s], k) + "\\");
                    auto [known, added] = tagOfFolder.try_emplace(
                        folder.Text, static_cast<std::uint32_t>(tagFolders.size()));
                    if (added) {
                        tagFolders.push_back(std::move(folder));
                        lastSound.push_back(None);
                    }
                    tag = known->second;
                }
                if (lastSound[tag] != s) {
                    lastSound[tag] = s;
                    visit(tag, s);
                }
            }
        }
    };
    std::vector<std::uint32_t> count;
    eachTag([&](std::uint32_t tag, std::uint32_t) {
        count.resize(tagFolders.size(), 0);
        ++count[tag];
    });
    count.resize(tagFolders.size(), 0);
    tagSoundsAt_.assign(tagFolders.size() + 1, 0);
    for (std::size_t tag = 0; tag < tagFolders.size(); ++tag) {
        tagSoundsAt_[tag + 1] = tagSoundsAt_[tag] + count[tag];
    }
    tagSounds_.resize(tagSoundsAt_.back());
    std::fill(lastSound.begin(), lastSound.end(), None);
    std::vector<std::uint32_t> next(tagSoundsAt_.begin(), tagSoundsAt_.end() - 1);
    eachTag([&](std::uint32_t tag, std::uint32_t s) { tagSounds_[next[tag]++] = s; });

    views_ = std::make_unique<std::atomic<const TagView*>[]>(tagFolders.size());
    for (std::uint32_t tag = 0; tag < tagFolders.size(); ++tag) {
        views_[tag].store(nullptr);
        std::size_t begin = 0;
        std::uint32_t folder =
            Folders(Root, tagFolders[tag].Text, begin, tagFolders[tag].MadeFolders, 0);
        if (folder != None) {
            folders_[nodes_[folder].Folder].Tag = tag;
        }
    }
}

bool Mounting::Carries(std::uint32_t tag, std::uint32_t sound) const {
    return sound != None && std::binary_search(tagSounds_.begin() + tagSoundsAt_[tag],
                                               tagSounds_.begin() + tagSoundsAt_[tag + 1], sound);
}

bool Mounting::ShowsUnder(std::uint32_t tag, std::uint32_t number) const {
    if (!IsFolder(number)) {
        return Carries(tag, nodes_[number].Sound);
    }
    const std::vector<std::uint32_t>& folders = View(tag).Folders;
    return std::binary_search(folders.begin(), folders.end(), number);
}

const Mounting::TagView& Mounting::View(std::uint32_t tag) const {
    if (const TagView* made = views_[tag].load(std::memory_order_acquire)) {
        return *made;
    }
    std::lock_guard<std::mutex> held(viewsLock_);
    if (const TagView* made = views_[tag].load(std::memory_order_relaxed)) {
        return *made;
    }
    // Every folder above every file of the tag's sounds; a climb stops at a folder met before,
    // so that each folder costs one step however many files it holds.
    std::unordered_set<std::uint32_t> reached;
    for (std::uint32_t at = tagSoundsAt_[tag]; at < tagSoundsAt_[tag + 1]; ++at) {
        std::uint32_t sound = tagSounds_[at];
        for (std::uint32_t k = soundFilesAt_[sound]; k < soundFilesAt_[sound + 1]; ++k) {
            for (std::uint32_t folder = folders_[nodes_[soundFiles_[k]].In].Node;
                 folder != Root && reached.insert(folder).second;
                 folder = folders_[nodes_[folder].In].Node) {
            }
        }
    }
    auto view = std::make_unique<TagView>();
    view->Folders.assign(reached.begin(), reached.end());
    std::sort(view->Folders.begin(), view->Folders.end());
    const TagView& made = *view;
    builtViews_.push_back(std::move(view));
    views_[tag].store(&made, std::memory_order_release);
    return made;
}

std::uint32_t Mounting::TaggedFolderOf(std::uint32_t archiveFolder) const {
    if (archiveFolder == None || archiveFolder == byTag_ || !IsFolder(archiveFolder)) {
        return None;
    }
    std::uint32_t tagged = Child(archiveFolder, TaggedSoundsFolder);
    return tagged != None && IsFolder(tagged) ? tagged : None;
}

std::optional<platform::MountedEntry> Mounting::Entry(std::uint64_t number) const {
    std::uint64_t tag = (number >> 32) - 1;
    std::uint64_t shown = number & 0xFFFFFFFF;
    if (shown >= nodes_.size() || (number >> 32 != 0 && tag >= tagSoundsAt_.size() - 1)) {
        return std::nullopt;
    }
    const Node& node = nodes_[shown];
    bool isFolder = node.Folder != None;
    return platform::MountedEntry{.Folder = isFolder,
                                  .Size = node.Size,
                                  .Modified = isFolder ? foldersModified_ : modified_[node.Slot]};
}

std::optional<std::uint64_t> Mounting::Lookup(std::uint64_t folder, std::string_view name) const {
    if (!Entry(folder) || !Entry(folder)->Folder) {
        return std::nullopt;
    }
    auto number = static_cast<std::uint32_t>(folder & 0xFFFFFFFF);
    if (folder >> 32 != 0) {
        auto tag = static_cast<std::uint32_t>((folder >> 32) - 1);
        std::uint32_t child = Child(number, name);
        if (child == None || !ShowsUnder(tag, child)) {
            return std::nullopt;
        }
        return Shown(tag, child);
    }
    if (std::uint32_t child = Child(number, name); child != None) {
        return child;
    }
    std::uint32_t tag = folders_[nodes_[number].Folder].Tag;
    if (tag == None) {
        return std::nullopt;
    }
    std::uint32_t tagged = TaggedFolderOf(Child(Root, name));
    if (tagged == None || !ShowsUnder(tag, tagged)) {
        return std::nullopt;
    }
    return Shown(tag, tagged);
}

void Mounting::ForEachIn(
    std::uint64_t folder, std::uint64_t from,
    const std::function<bool(std::string_view, std::uint64_t, std::uint64_t)>& each) const {
    if (!Entry(folder) || !Entry(folder)->Folder) {
        return;
    }
    auto number = static_cast<std::uint32_t>(folder & 0xFFFFFFFF);
    const Folder& holder = folders_[nodes_[number].Folder];
    std::uint32_t tag = folder >> 32 != 0 ? static_cast<std::uint32_t>((folder >> 32) - 1) : None;
    for (std::uint64_t at = from; at < holder.Count; at++) {
        std::uint32_t entry = listed_[holder.ListedAt + at];
        if (tag != None && !ShowsUnder(tag, entry)) {
            continue;
        }
        if (!each(NameOf(nodes_[entry]), tag != None ? Shown(tag, entry) : entry, at + 1)) {
            return;
        }
    }
    if (tag != None || holder.Tag == None) {
        return;
    }
    // A tag's folder: after the folders of tags named below it, each archive folder whose
    // tagged sounds it reaches, where no such tag's folder has its name.
    const Folder& root = folders_[0];
    for (std::uint64_t at = std::max<std::uint64_t>(from, holder.Count) - holder.Count;
         at < root.Count; at++) {
        std::uint32_t archive = listed_[root.ListedAt + at];
        std::uint32_t tagged = TaggedFolderOf(archive);
        std::string_view name = NameOf(nodes_[archive]);
        if (tagged == None || !ShowsUnder(holder.Tag, tagged) || Child(number, name) != None) {
            continue;
        }
        if (!each(name, Shown(holder.Tag, tagged), holder.Count + at + 1)) {
            return;
        }
    }
}

platform::Moved Mounting::Read(std::uint64_t file, std::uint64_t offset, void* destination,
                               std::size_t count) const {
    const Node& node = nodes_[file & 0xFFFFFFFF];
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
