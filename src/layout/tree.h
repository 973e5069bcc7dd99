#pragma once

#include "csc/records.h"
#include "layout/paths.h"
#include "platform/platform.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The tree that a run makes in an empty output folder, placed file by file in the order the walk
// finds the files: which path each file takes, which later file takes the place of an earlier one,
// which file stands in the way of a folder, which names are one place (on Windows, names that
// differ in the case of a letter), and the limits of depth and length. The output tree asks it
// where each file lands and adds what stood on the disk before the run; the mount and the page
// show it.
//
// Beside the run's tree stands ByTag/: ByTag/<tag>/<archive folder>/ shows what the tree holds
// below <archive folder>/TaggedSounds/, narrowed to the files of the sounds that carry the tag by
// any of their references. It keeps no entry of its own below a tag's folder: such an entry is
// numbered by its tag and the tree's entry it shows, and which folders a tag reaches is worked out
// when the tag's folder is first used. So ByTag/ costs time and memory in proportion to the index
// and to the folders in use, however many tags a sound carries.
//
// One thread places the files; once Finish has returned the tree never changes (but for ByTag/'s
// views, each worked out once under a lock) and any thread may read it.
namespace layout {

inline constexpr std::uint32_t None = UINT32_MAX;

// How long a name and a path below the output folder may be, and how deep a path may go: what the
// file system takes, and a depth no game needs a tenth of (making each level costs time).
struct Limits {
    std::size_t LongestName = 255;
    std::size_t LongestPath = 4095;
    std::uint32_t MostFolderLevels = 128;
};
// This platform's: on Windows, paths below the output folder go to the system in their long form,
// which takes some 32,000 characters.
Limits NativeLimits();

// Which table a file's sound comes from.
enum class SoundKind : std::uint8_t { None, Tagged, Mission };

// What the tree keeps of a file besides its place: where its bytes lie, its size (bytes beyond
// those the archive holds are a zero tail), its form and its sound.
struct FileFacts {
    std::uint8_t Slot = 0;
    csc::StoredForm Form = csc::StoredForm::Bare;
    SoundKind Kind = SoundKind::None;
    std::uint32_t Offset = 0;
    std::uint32_t Held = 0;
    std::uint32_t Size = 0;
    std::uint32_t Sound = None; // the sound's place in its table
};

// Where a file lands, or why it does not.
struct Landing {
    std::uint32_t Entry = None; // the file's entry; None where it does not land
    platform::ErrorCode Reason = platform::NoError;
    // An earlier file of the run stood at its place, which this one takes.
    bool TakesAFilesPlace = false;
    // Its name's own folders do not all stand in the tree: in an empty folder it cannot land, and
    // a run writes it only where they stood on the disk before.
    bool NameFoldersMissing = false;
    // The deepest folder of its path that stands in the tree (the one it lies in, where it
    // lands), and how many levels below the root that folder is.
    std::uint32_t Folder = 0;
    std::uint32_t FolderLevel = 0;
};

class Tree {
  public:
    explicit Tree(const csc::IndexTables& tables, Limits limits = NativeLimits());
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Places a file at path, whose first path.MadeFolders components are folders a run makes and
    // the NameFolders after them folders of its stored name, which a run uses only where they
    // stand. Throws std::bad_alloc when memory runs out.
    Landing Place(std::string_view path, std::uint32_t madeFolders, std::uint32_t nameFolders,
                  const FileFacts& facts);
    Landing Place(const OutputPath& path, const FileFacts& facts) {
        return Place(path.Text, path.MadeFolders, path.NameFolders, facts);
    }
    // Lays out each folder's listing and ByTag/; no file is placed after it.
    void Finish();

    // Reading, once Finish has returned, from any thread. The root is entry 0; ByTag/'s entries
    // below a tag's folder are numbered above 2^32.
    bool Exists(std::uint64_t entry) const;
    bool IsFolder(std::uint64_t entry) const;
    // A file's facts (of the file a ByTag/ entry shows).
    FileFacts File(std::uint64_t entry) const;
    std::optional<std::uint64_t> Lookup(std::uint64_t folder, std::string_view name) const;
    // The entries in a folder by name and number, from position from on, until each returns false;
    // each is told the position that follows its entry, from which a later call goes on.
    void ForEachIn(std::uint64_t folder, std::uint64_t from,
                   const std::function<bool(std::string_view name, std::uint64_t entry,
                                            std::uint64_t next)>& each) const;
    // Every file of the run's tree (not of ByTag/), one per path, folder by folder.
    void ForEachFile(const std::function<void(std::uint32_t entry)>& each) const;
    // The path of an entry of the run's tree, "/" between its components.
    std::string PathOf(std::uint32_t entry) const;
    std::uint64_t Entries() const { return nodes_.size(); }
    std::uint64_t Bytes() const { return bytes_; }
    // The entry of ByTag/.
    std::uint32_t ByTag() const { return byTag_; }
    // The folder that holds an entry of the run's tree; for places, any time.
    std::uint32_t Parent(std::uint32_t entry) const { return folders_[nodes_[entry].In].Node; }

  private:
    // 32 bytes: a location's offset takes 29 bits, a stored file's size 32 and a name 255 bytes,
    // so that 200,000 entries touch little memory.
    struct Node {
        std::uint32_t NameAt = 0;    // in names_
        std::uint32_t In = 0;        // the record in folders_ of the folder that holds it
        std::uint32_t Folder = None; // a folder's own record in folders_; None for a file
        std::uint32_t Offset = 0;    // a file's facts from here on
        std::uint32_t Held = 0;
        std::uint32_t Size = 0;
        std::uint32_t Sound = None;
        std::uint8_t Slot = 0;
        csc::StoredForm Form = csc::StoredForm::Bare;
        SoundKind Kind = SoundKind::None;
        std::uint8_t NameSize = 0;
    };
    static_assert(sizeof(Node) == 32);
    struct Slot {
        std::uint32_t Hash = 0; // of the name's identity; its low bits place it
        std::uint32_t Number = None;
    };
    // Folders of at most this many entries are looked through, not indexed.
    static constexpr std::size_t FewEntries = 8;
    // A folder's entries: the first few where they can be looked through, and once there are
    // more, a table of open addressing by the hash of their names (a power of two long, at most
    // half full). Each folder has its own, so that the files of a folder, which come one after
    // the other, find theirs in the processor's cache.
    struct Folder {
        std::uint32_t Count = 0;
        std::uint32_t ListedAt = 0; // where its entries start in listed_, once the tree is whole
        std::uint32_t Node = 0;     // its own entry
        std::uint32_t Tag = None;   // a tag's folder in ByTag/: the tag
        std::array<std::uint32_t, FewEntries> First{};
        std::vector<Slot> Index;
    };
    // Which folders of the tree hold files of a tag's sounds, at any depth: sorted.
    struct TagView {
        std::vector<std::uint32_t> Folders;
    };

    // Goes down from folder through made + levels of the path's components from begin on (begin
    // moves past them), as a run makes folders: the first made are made where nothing but folders
    // stand, the rest used only where they stand already. The folder reached, or None with why.
    std::uint32_t Folders(std::uint32_t folder, std::string_view path, std::size_t& begin,
                          std::uint32_t made, std::uint32_t levels, Landing& landing);
    std::uint32_t Child(std::uint32_t folder, std::string_view name, std::uint32_t hash) const;
    std::uint32_t Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
                      bool isFolder);
    static void Index(std::vector<Slot>& index, std::uint32_t hash, std::uint32_t number);
    std::uint32_t HashOf(std::string_view name) const;
    bool SameName(std::string_view stored, std::string_view name) const;
    std::string_view NameOf(const Node& node) const {
        return node.NameSize == 0 ? std::string_view()
                                  : std::string_view(&names_[node.NameAt], node.NameSize);
    }
    bool IsFolderNode(std::uint32_t number) const { return nodes_[number].Folder != None; }

    void LayOutByTag();
    // An entry of ByTag/ below a tag's folder: the tag, and the tree's entry it shows.
    static std::uint64_t Shown(std::uint32_t tag, std::uint32_t number) {
        return (std::uint64_t{tag} + 1) << 32 | number;
    }
    bool Carries(std::uint32_t tag, std::uint32_t sound) const;
    // Whether the tree's entry shows below the tag's folder: a file of a sound that carries the
    // tag, or a folder that holds one.
    bool ShowsUnder(std::uint32_t tag, std::uint32_t number) const;
    const TagView& View(std::uint32_t tag) const;
    // What the folder of an archive folder shows below a tag's folder: its TaggedSounds/ folder,
    // or None.
    std::uint32_t TaggedFolderOf(std::uint32_t archiveFolder) const;

    const csc::IndexTables& tables_;
    const Limits limits_;
    // Blocks that stay where they are as the tree grows: a growing array would copy what it
    // holds at each step, each time to fresh pages, and a page first touched costs as much as
    // many entries.
    template <typename T, std::size_t BlockBits> class Blocks {
      public:
        T& operator[](std::size_t at) { return blocks_[at >> BlockBits][at & BlockMask]; }
        const T& operator[](std::size_t at) const {
            return blocks_[at >> BlockBits][at & BlockMask];
        }
        std::size_t size() const { return count_; }
        // count in a row, in one block: where the last block cannot take them, its end is left
        // unused. Where they start.
        std::size_t Take(std::size_t count) {
            if (count_ + count > (blocks_.size() << BlockBits)) {
                count_ = blocks_.size() << BlockBits;
                blocks_.push_back(std::make_unique_for_overwrite<T[]>(BlockMask + 1));
            }
            std::size_t taken = count_;
            count_ += count;
            return taken;
        }

      private:
        static constexpr std::size_t BlockMask = (std::size_t{1} << BlockBits) - 1;
        std::vector<std::unique_ptr<T[]>> blocks_;
        std::size_t count_ = 0;
    };
    Blocks<Node, 14> nodes_; // the entries, the root first, each folder's in the order made
    Blocks<char, 16> names_; // every entry's name, one after the other
    std::vector<Folder> folders_;
    std::vector<std::uint32_t> listed_; // every entry but the root, by folder
    std::uint64_t bytes_ = 0;
    std::uint32_t byTag_ = 0;
    // The folders that the last paths made, by their text, so that the files of one folder, which
    // come in runs, skip the way down.
    std::array<std::pair<std::string, std::uint32_t>, 8> recentFolders_{};
    std::size_t nextRecent_ = 0;
    // The sounds that carry each tag, ascending, tag after tag (tagSoundsAt_ says where each
    // tag's begin), and the files of each tagged sound in the tree, sound after sound.
    std::vector<std::uint32_t> tagSoundsAt_, tagSounds_;
    std::vector<std::uint32_t> soundFilesAt_, soundFiles_;
    // Each tag's view, made once, when first asked for, by whichever thread asks: published
    // through views_, kept in builtViews_ under viewsLock_.
    std::unique_ptr<std::atomic<const TagView*>[]> views_;
    mutable std::vector<std::unique_ptr<TagView>> builtViews_;
    mutable std::mutex viewsLock_;
};

} // namespace layout
