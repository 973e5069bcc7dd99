#include "layout/tree.h"

#include "csc/sound_paths.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace layout {
namespace {

constexpr std::uint32_t Root = 0;
// The folder below each archive's folder that holds the tagged sounds' folders.
constexpr std::string_view TaggedSoundsFolder = "TaggedSounds";

// Where the components below the made folders begin. No component holds a separator, so the last
// nameFolders + 1 separators are those that follow the made folders.
std::size_t AfterMadeFolders(std::string_view path, std::uint32_t madeFolders,
                             std::uint32_t nameFolders) {
    if (madeFolders == 0) {
        return 0;
    }
    std::size_t at = path.size();
    for (std::uint32_t k = 0; k <= nameFolders && at > 0; ++k) {
        at = path.rfind('/', at - 1);
    }
    return at == std::string_view::npos ? 0 : at + 1;
}

// The component of path that starts at begin; begin moves to the next one.
std::string_view Component(std::string_view path, std::size_t& begin) {
    std::size_t end = std::min(path.find('/', begin), path.size());
    std::string_view component = path.substr(begin, end - begin);
    begin = end + 1;
    return component;
}

} // namespace

Limits NativeLimits() {
#if defined(_WIN32)
    return Limits{.LongestName = 255, .LongestPath = 32000, .MostFolderLevels = 128};
#else
    return Limits{};
#endif
}

Tree::Tree(const csc::IndexTables& tables, Limits limits) : tables_(tables), limits_(limits) {
    nodes_[nodes_.Take(1)] = Node{.Folder = 0};
    folders_.emplace_back();
    byTag_ = Add(Root, "ByTag", HashOf("ByTag"), true);
}

std::uint32_t Tree::HashOf(std::string_view name) const {
    // Names that the file system takes for one place are one entry.
    if constexpr (platform::IdentityIsTheBytes) {
        return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
    }
    return static_cast<std::uint32_t>(std::hash<std::string>{}(platform::FoldedForIdentity(name)));
}

bool Tree::SameName(std::string_view stored, std::string_view name) const {
    if constexpr (platform::IdentityIsTheBytes) {
        return stored == name;
    }
    return stored == name ||
           platform::FoldedForIdentity(stored) == platform::FoldedForIdentity(name);
}

std::uint32_t Tree::Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
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

void Tree::Index(std::vector<Slot>& index, std::uint32_t hash, std::uint32_t number) {
    std::size_t mask = index.size() - 1;
    std::size_t at = hash & mask;
    while (index[at].Number != None) {
        at = (at + 1) & mask;
    }
    index[at] = Slot{.Hash = hash, .Number = number};
}

std::uint32_t Tree::Child(std::uint32_t folder, std::string_view name, std::uint32_t hash) const {
    const Folder& holder = folders_[nodes_[folder].Folder];
    if (holder.Index.empty()) {
        for (std::uint32_t k = 0; k < holder.Count; ++k) {
            if (SameName(NameOf(nodes_[holder.First[k]]), name)) {
                return holder.First[k];
            }
        }
        return None;
    }
    std::size_t mask = holder.Index.size() - 1;
    for (std::size_t at = hash & mask; holder.Index[at].Number != None; at = (at + 1) & mask) {
        const Slot& slot = holder.Index[at];
        if (slot.Hash == hash && SameName(NameOf(nodes_[slot.Number]), name)) {
            return slot.Number;
        }
    }
    return None;
}

Landing Tree::Place(std::string_view path, std::uint32_t madeFolders, std::uint32_t nameFolders,
                    const FileFacts& facts) {
    Landing landing;
    if (madeFolders + nameFolders > limits_.MostFolderLevels) {
        landing.Reason = platform::NameTooLongError();
        return landing;
    }
    std::size_t afterMade = AfterMadeFolders(path, madeFolders, nameFolders);
    std::string_view made = path.substr(0, afterMade - (afterMade > 0));
    // Files come in runs below one folder, and the folders a path makes stand once made: the
    // folder of the last file first.
    std::uint32_t folder = None;
    for (std::size_t k = 1; k <= recentFolders_.size() && folder == None; ++k) {
        const auto& [text, number] =
            recentFolders_[(nextRecent_ + recentFolders_.size() - k) % recentFolders_.size()];
        if (!text.empty() && text == made) {
            folder = number;
            landing.Folder = folder;
            landing.FolderLevel = madeFolders;
        }
    }
    if (folder == None) {
        std::size_t begin = 0;
        folder = Folders(Root, path, begin, madeFolders, 0, landing);
        if (folder == None) {
            return landing;
        }
        if (!made.empty()) {
            recentFolders_[nextRecent_] = {std::string(made), folder};
            nextRecent_ = (nextRecent_ + 1) % recentFolders_.size();
        }
    }
    std::size_t begin = afterMade;
    folder = Folders(folder, path, begin, 0, nameFolders, landing);
    if (folder == None) {
        return landing;
    }
    std::string_view name = Component(path, begin);
    if (name.size() > limits_.LongestName || path.size() > limits_.LongestPath) {
        landing.Reason = platform::NameTooLongError();
        return landing;
    }
    std::uint32_t hash = HashOf(name);
    std::uint32_t number = Child(folder, name, hash);
    if (name.empty() || (number != None && IsFolderNode(number))) {
        landing.Reason = platform::FolderInTheWayError(); // a file never takes a folder's place
        return landing;
    }
    landing.TakesAFilesPlace = number != None;
    if (number == None) {
        number = Add(folder, name, hash, false);
    }
    Node& node = nodes_[number];
    bytes_ = bytes_ - node.Size + facts.Size;
    node.Offset = facts.Offset;
    node.Held = facts.Held;
    node.Size = facts.Size;
    node.Sound = facts.Sound;
    node.Slot = facts.Slot;
    node.Form = facts.Form;
    node.Kind = facts.Kind;
    landing.Entry = number;
    return landing;
}

std::uint32_t Tree::Folders(std::uint32_t folder, std::string_view path, std::size_t& begin,
                            std::uint32_t made, std::uint32_t levels, Landing& landing) {
    for (std::uint32_t level = 0; level < made + levels; ++level) {
        std::string_view name = Component(path, begin);
        std::uint32_t hash = HashOf(name);
        std::uint32_t child = Child(folder, name, hash);
        if (child != None && !IsFolderNode(child)) {
            landing.Reason = platform::NotAFolderError(); // a file stands where the folder goes
            return None;
        }
        if (child == None && level >= made) {
            landing.NameFoldersMissing = true; // a name's own folder is used only where it stands
            landing.Reason = platform::NotFoundError();
            return None;
        }
        if (child == None) {
            if (name.size() > limits_.LongestName || begin - 1 > limits_.LongestPath) {
                landing.Reason = platform::NameTooLongError();
                return None;
            }
            child = Add(folder, name, hash, true);
        }
        folder = child;
        landing.Folder = folder;
        ++landing.FolderLevel;
    }
    return folder;
}

void Tree::Finish() {
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

void Tree::LayOutByTag() {
    const std::vector<csc::TSM_TaggedSound>& sounds = tables_.TaggedSounds;
    auto tagged = [&](std::uint32_t number) {
        return !IsFolderNode(number) && nodes_[number].Kind == SoundKind::Tagged &&
               nodes_[number].Sound < sounds.size();
    };
    // The files of each sound that stand in the tree.
    soundFilesAt_.assign(sounds.size() + 1, 0);
    for (std::uint32_t number = 1; number < nodes_.size(); ++number) {
        if (tagged(number)) {
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
            if (tagged(number)) {
                soundFiles_[next[nodes_[number].Sound]++] = number;
            }
        }
    }
    // Each tag reference names a tag's folder by its tag and sub-tag; references that give the
    // same folder name are one tag. Only sounds with files in the tree are looked at, each tag of
    // a sound once.
    std::vector<std::uint32_t> tagOfReference(1u << 16, None);
    std::unordered_map<std::string, std::uint32_t> tagOfFolder;
    std::vector<OutputPath> tagFolders;
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
                    OutputPath folder = ByTagFolder(tables_, sounds[s], k);
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
        Landing ignored;
        std::size_t begin = 0;
        std::uint32_t folder =
            Folders(Root, tagFolders[tag].Text, begin, tagFolders[tag].MadeFolders, 0, ignored);
        if (folder != None) {
            folders_[nodes_[folder].Folder].Tag = tag;
        }
    }
}

bool Tree::Carries(std::uint32_t tag, std::uint32_t sound) const {
    return sound != None && std::binary_search(tagSounds_.begin() + tagSoundsAt_[tag],
                                               tagSounds_.begin() + tagSoundsAt_[tag + 1], sound);
}

bool Tree::ShowsUnder(std::uint32_t tag, std::uint32_t number) const {
    if (!IsFolderNode(number)) {
        return nodes_[number].Kind == SoundKind::Tagged && Carries(tag, nodes_[number].Sound);
    }
    const std::vector<std::uint32_t>& folders = View(tag).Folders;
    return std::binary_search(folders.begin(), folders.end(), number);
}

const Tree::TagView& Tree::View(std::uint32_t tag) const {
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

std::uint32_t Tree::TaggedFolderOf(std::uint32_t archiveFolder) const {
    if (archiveFolder == None || archiveFolder == byTag_ || !IsFolderNode(archiveFolder)) {
        return None;
    }
    std::uint32_t tagged = Child(archiveFolder, TaggedSoundsFolder, HashOf(TaggedSoundsFolder));
    return tagged != None && IsFolderNode(tagged) ? tagged : None;
}

bool Tree::Exists(std::uint64_t entry) const {
    std::uint64_t tag = (entry >> 32) - 1;
    return (entry & 0xFFFFFFFF) < nodes_.size() &&
           (entry >> 32 == 0 || tag + 1 < tagSoundsAt_.size());
}

bool Tree::IsFolder(std::uint64_t entry) const {
    return IsFolderNode(static_cast<std::uint32_t>(entry & 0xFFFFFFFF));
}

FileFacts Tree::File(std::uint64_t entry) const {
    const Node& node = nodes_[entry & 0xFFFFFFFF];
    return FileFacts{.Slot = node.Slot,
                     .Form = node.Form,
                     .Kind = node.Kind,
                     .Offset = node.Offset,
                     .Held = node.Held,
                     .Size = node.Size,
                     .Sound = node.Sound};
}

std::optional<std::uint64_t> Tree::Lookup(std::uint64_t folder, std::string_view name) const {
    if (!Exists(folder) || !IsFolder(folder)) {
        return std::nullopt;
    }
    auto number = static_cast<std::uint32_t>(folder & 0xFFFFFFFF);
    std::uint32_t hash = HashOf(name);
    if (folder >> 32 != 0) {
        auto tag = static_cast<std::uint32_t>((folder >> 32) - 1);
        std::uint32_t child = Child(number, name, hash);
        if (child == None || !ShowsUnder(tag, child)) {
            return std::nullopt;
        }
        return Shown(tag, child);
    }
    if (std::uint32_t child = Child(number, name, hash); child != None) {
        return child;
    }
    std::uint32_t tag = folders_[nodes_[number].Folder].Tag;
    if (tag == None) {
        return std::nullopt;
    }
    std::uint32_t tagged = TaggedFolderOf(Child(Root, name, hash));
    if (tagged == None || !ShowsUnder(tag, tagged)) {
        return std::nullopt;
    }
    return Shown(tag, tagged);
}

void Tree::ForEachIn(
    std::uint64_t folder, std::uint64_t from,
    const std::function<bool(std::string_view, std::uint64_t, std::uint64_t)>& each) const {
    if (!Exists(folder) || !IsFolder(folder)) {
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
        if (tagged == None || !ShowsUnder(holder.Tag, tagged) ||
            Child(number, name, HashOf(name)) != None) {
            continue;
        }
        if (!each(name, Shown(holder.Tag, tagged), holder.Count + at + 1)) {
            return;
        }
    }
}

void Tree::ForEachFile(const std::function<void(std::uint32_t entry)>& each) const {
    // Folder by folder, down from the root, ByTag/ left out.
    std::vector<std::uint32_t> pending = {Root};
    while (!pending.empty()) {
        const Folder& holder = folders_[nodes_[pending.back()].Folder];
        pending.pop_back();
        for (std::uint32_t at = holder.Count; at-- > 0;) {
            std::uint32_t entry = listed_[holder.ListedAt + at];
            if (entry == byTag_) {
                continue;
            }
            if (IsFolderNode(entry)) {
                pending.push_back(entry);
            }
        }
        for (std::uint32_t at = 0; at < holder.Count; ++at) {
            std::uint32_t entry = listed_[holder.ListedAt + at];
            if (!IsFolderNode(entry)) {
                each(entry);
            }
        }
    }
}

std::string Tree::PathOf(std::uint32_t entry) const {
    std::vector<std::string_view> names;
    for (std::uint32_t at = entry; at != Root; at = folders_[nodes_[at].In].Node) {
        names.push_back(NameOf(nodes_[at]));
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        path.append(path.empty() ? "" : "/").append(*name);
    }
    return path;
}

} // namespace layout
