#pragma once

#include "csc/archives.h"
#include "csc/records.h"
#include "extract/pool.h"
#include "jobs/job.h"
#include "platform/mount.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace jobs {

// The mount job: the tree an extraction with the same options writes into an empty folder, kept
// in memory with each file's bytes left in its archive, and beside it ByTag/, which shows each
// tag's part of that tree: ByTag/<tag>/<archive folder>/ holds what the tree holds below
// <archive folder>/TaggedSounds/, narrowed to the files of the sounds that carry the tag by any of
// their references. The tree is built while the walk goes on, by a builder of its own when there
// is one, in the order the walk finds the files, and never changes once Finish returns; the mount
// then reads it from any thread.
//
// ByTag/ keeps no entry of its own below the tags' folders: an entry there is numbered by its tag
// and the tree's entry it shows, and which folders of the tree a tag reaches is worked out when
// the tag's folder is first used. So the mount stands after the walk, whatever the number of tags
// a sound carries, and ByTag/ costs memory in proportion to the folders that the tags in use reach.
class Mounting : public Job, public platform::MountedTree {
  public:
    // Folders take the time of the index archive; files that of the archive that stores them.
    // With no builder, the reading thread builds the tree as it goes.
    Mounting(const csc::IndexTables& tables, platform::FileTime foldersModified, bool builder);

    void Take(csc::ExtentReader& stored, FoundFile file) override;
    // Waits until every file taken stands in the tree, lets the builder go, and lays out ByTag/.
    void Finish();

    std::optional<platform::MountedEntry> Entry(std::uint64_t number) const override;
    std::optional<std::uint64_t> Lookup(std::uint64_t folder, std::string_view name) const override;
    void ForEachIn(std::uint64_t folder, std::uint64_t from,
                   const std::function<bool(std::string_view, std::uint64_t, std::uint64_t)>& each)
        const override;
    platform::Moved Read(std::uint64_t file, std::uint64_t offset, void* destination,
                         std::size_t count) const override;
    std::uint64_t Entries() const override { return nodes_.size(); }
    std::uint64_t Bytes() const override { return bytes_; }

  private:
    static constexpr std::uint32_t None = UINT32_MAX;
    // Folders of at most this many entries are looked through, not indexed.
    static constexpr std::size_t FewEntries = 8;
    // 32 bytes: a location's offset takes 29 bits, a stored file's size 32 and a name 255 bytes,
    // so that 200,000 entries touch little memory.
    struct Node {
        std::uint32_t NameAt = 0;    // in names_
        std::uint32_t In = 0;        // the record in folders_ of the folder that holds it
        std::uint32_t Folder = None; // a folder's own record in folders_; None for a file
        std::uint32_t Offset = 0;    // of the stored bytes in the archive
        std::uint32_t Held = 0;      // stored bytes the archive holds; the rest of Size is zeros
        std::uint32_t Size = 0;
        std::uint32_t Sound = None; // a file of a tagged sound: the sound's place in its table
        std::uint8_t NameSize = 0;
        std::uint8_t Slot = 0;
    };
    struct Slot {
        std::uint32_t Hash = 0; // of the name; its low bits place it
        std::uint32_t Number = None;
    };
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

    // A file as the builder takes it: its path's text in its batch's Paths, "/" between the
    // components, the first MadeFolders of them folders a run makes, the NameFolders after them
    // folders of its stored name; and where its bytes lie.
    struct Placement {
        std::uint32_t PathAt = 0;
        std::uint32_t PathSize = 0;
        std::uint32_t MadeFolders = 0;
        std::uint32_t NameFolders = 0;
        std::uint32_t Offset = 0;
        std::uint32_t Held = 0;
        std::uint32_t Size = 0;
        std::uint32_t Sound = None;
        std::uint8_t Slot = 0;
    };
    // Files go to the builder a batch at a time, their paths in one string, so that no file's
    // memory passes from one thread to the other.
    struct Batch {
        std::vector<Placement> Files;
        std::string Paths;
    };
    void HandOver();
    // Puts the file where a run writes it, in place of an earlier file, never of a folder.
    void Build(std::string_view path, const Placement& file);
    // Goes down from folder through made + levels of the path's components from begin on (begin
    // moves past them), as an extraction makes folders: the first made are made where nothing
    // but folders stand, the rest used only where they stand already. The folder reached, or None.
    std::uint32_t Folders(std::uint32_t folder, std::string_view path, std::size_t& begin,
                          std::uint32_t made, std::uint32_t levels);
    std::uint32_t Child(std::uint32_t folder, std::string_view name, std::uint32_t hash) const;
    std::uint32_t Child(std::uint32_t folder, std::string_view name) const;
    std::uint32_t Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
                      bool isFolder);
    static void Index(std::vector<Slot>& index, std::uint32_t hash, std::uint32_t number);
    std::string_view NameOf(const Node& node) const {
        return node.NameSize == 0 ? std::string_view()
                                  : std::string_view(&names_[node.NameAt], node.NameSize);
    }
    bool IsFolder(std::uint32_t number) const { return nodes_[number].Folder != None; }

    // ByTag/: the tags' folders, and which sounds carry each tag.
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
    // The folder of the archive folder called name that a tag's folder shows: the tree's
    // <name>/TaggedSounds; None where there is none.
    std::uint32_t TaggedFolderOf(std::uint32_t archiveFolder) const;

    const csc::IndexTables& tables_;
    const platform::FileTime foldersModified_;
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
    std::array<const csc::ByteSource*, csc::ArchiveSlots> sources_{};
    std::array<platform::FileTime, csc::ArchiveSlots> modified_{};
    std::uint64_t bytes_ = 0;
    std::uint32_t byTag_ = 0; // the entry of ByTag/
    // The sounds that carry each tag, ascending, tag after tag (tagSoundsAt_ says where each
    // tag's begin), and the files of each sound in the tree, sound after sound.
    std::vector<std::uint32_t> tagSoundsAt_, tagSounds_;
    std::vector<std::uint32_t> soundFilesAt_, soundFiles_;
    // Each tag's view, made once, when first asked for, by whichever thread asks: published
    // through views_, kept in builtViews_ under viewsLock_.
    std::unique_ptr<std::atomic<const TagView*>[]> views_;
    mutable std::vector<std::unique_ptr<TagView>> builtViews_;
    mutable std::mutex viewsLock_;
    // The folders that the last paths made, by their text.
    std::array<std::pair<std::string, std::uint32_t>, 8> recentFolders_{};
    std::size_t nextRecent_ = 0;
    std::atomic<bool> outOfMemory_ = false; // the builder ran out and stopped
    Batch batch_;                           // being filled, on the reading thread
    std::vector<Batch> spares_;             // the reading thread's
    // Last, so that it is gone, and every file built, before the tree it builds.
    std::optional<extract::BoundedPool<Batch>> builder_;
};

} // namespace jobs
