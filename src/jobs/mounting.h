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
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace jobs {

// The mount job: the tree an extraction with the same options writes into an empty folder, kept
// in memory with each file's bytes left in its archive, and beside it ByTag/, which holds each
// tagged sound's files under every tag it carries. The tree is built while the walk goes on, by a
// builder of its own when there is one, in the order the walk finds the files, and never changes
// once Finish returns; the mount then reads it from any thread.
class Mounting : public Job, public platform::MountedTree {
  public:
    // Folders take the time of the index archive; files that of the archive that stores them.
    // With no builder, the reading thread builds the tree as it goes.
    Mounting(const csc::IndexTables& tables, std::int64_t foldersModified, bool builder);

    void Take(csc::ExtentReader& stored, FoundFile file) override;
    // Waits until every file taken stands in the tree, and lets the builder go.
    void Finish();

    std::optional<std::uint64_t> Lookup(std::uint64_t folder, std::string_view name) const override;
    platform::MountedEntry Entry(std::uint64_t number) const override;
    void ForEachIn(std::uint64_t folder, std::uint64_t from,
                   const std::function<bool(std::string_view, std::uint64_t)>& each) const override;
    platform::Moved Read(std::uint64_t file, std::uint64_t offset, void* destination,
                         std::size_t count) const override;
    std::uint64_t Entries() const override { return nodes_.size(); }
    std::uint64_t Bytes() const override { return bytes_; }

  private:
    static constexpr std::uint32_t None = UINT32_MAX;
    // Folders of at most this many entries are looked through, not indexed.
    static constexpr std::size_t FewEntries = 8;
    // 28 bytes: a location's offset takes 29 bits, a stored file's size 32 and a name 255 bytes,
    // so that 200,000 entries touch little memory.
    struct Node {
        std::uint32_t NameAt = 0;    // in names_
        std::uint32_t In = 0;        // the record in folders_ of the folder that holds it
        std::uint32_t Folder = None; // a folder's own record in folders_; None for a file
        std::uint32_t Offset = 0;    // of the stored bytes in the archive
        std::uint32_t Held = 0;      // stored bytes the archive holds; the rest of Size is zeros
        std::uint32_t Size = 0;
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
        std::array<std::uint32_t, FewEntries> First{};
        std::vector<Slot> Index;
    };
    // Puts the file where a run writes it, and under each of its sound's tags.
    void Build(const FoundFile& file);
    // Goes down from folder through made + levels of the path's components from begin on (begin
    // moves past them), as an extraction makes folders: the first made are made where nothing
    // but folders stand, the rest used only where they stand already. The folder reached, or None.
    // The components' text stands shift bytes further on in the path the tree shows.
    std::uint32_t Folders(std::uint32_t folder, const extract::OutputPath& path, std::size_t& begin,
                          std::uint32_t made, std::uint32_t levels, std::ptrdiff_t shift = 0);
    // Puts the file at the path's components from begin on (its name's folders, then its name)
    // below folder, in place of an earlier file, never of a folder. The entry it stands in, or
    // None; nameAt as for Add.
    std::uint32_t PlaceFile(std::uint32_t folder, const extract::OutputPath& path,
                            std::size_t begin, std::ptrdiff_t shift, const FoundFile& file,
                            std::uint32_t nameAt = None);
    std::uint32_t Child(std::uint32_t folder, std::string_view name, std::uint32_t hash) const;
    // A new entry; its name is kept at nameAt where the same name is kept already.
    std::uint32_t Add(std::uint32_t folder, std::string_view name, std::uint32_t hash,
                      bool isFolder, std::uint32_t nameAt = None);
    static void Index(std::vector<Slot>& index, std::uint32_t hash, std::uint32_t number);
    std::string_view NameOf(const Node& node) const {
        return node.NameSize == 0 ? std::string_view()
                                  : std::string_view(&names_[node.NameAt], node.NameSize);
    }

    const csc::IndexTables& tables_;
    const std::int64_t foldersModified_;
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
    std::array<std::int64_t, csc::ArchiveSlots> modified_{};
    std::uint64_t bytes_ = 0;
    // "ByTag/<tag>" for a tag and sub-tag, made safe once, and made in the tree with the first
    // file that goes in (None where it cannot stand).
    static constexpr std::uint32_t Unmade = None - 1;
    struct TagFolder {
        extract::OutputPath Path;
        std::uint32_t Number = Unmade;
    };
    std::unordered_map<std::uint16_t, TagFolder> byTagFolders_;
    TagFolder& ByTagFolder(const csc::TSM_TaggedSound& sound, std::size_t k);
    // The distinct tag folders of the sound whose files come now.
    const csc::TSM_TaggedSound* tagsOf_ = nullptr;
    std::vector<TagFolder*> tagFolders_;
    // The folders that the last paths made, by their text.
    std::array<std::pair<std::string, std::uint32_t>, 8> recentFolders_{};
    std::size_t nextRecent_ = 0;
    std::atomic<bool> outOfMemory_ = false; // the builder ran out and stopped
    // Last, so that it is gone, and every file built, before the tree it builds.
    std::optional<extract::BoundedPool<FoundFile>> builder_;
};

} // namespace jobs
