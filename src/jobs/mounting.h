#pragma once

#include "csc/archives.h"
#include "csc/records.h"
#include "jobs/job.h"
#include "platform/mount.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace jobs {

// The mount job: the tree an extraction with the same options writes into an empty folder, kept
// in memory with each file's bytes left in its archive, and beside it ByTag/, which holds each
// tagged sound's files under every tag it carries. The tree is built on the reading thread and
// never changes once the walk is done; the mount then reads it from any thread.
class Mounting : public Job, public platform::MountedTree {
  public:
    // Folders take the time of the index archive; files that of the archive that stores them.
    Mounting(const csc::IndexTables& tables, std::int64_t foldersModified);

    void Take(csc::ExtentReader& stored, FoundFile file) override;

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
    // 40 bytes: a location's offset takes 29 bits and a stored file's size 32, so that 200,000
    // entries touch little memory.
    struct Node {
        std::uint64_t NameAt = 0; // in names_
        std::uint32_t NameSize = 0;
        std::uint32_t Folder = None;  // the number of the folder that holds it
        std::uint32_t Listing = None; // a folder's entries, in listings_
        std::uint32_t Offset = 0;     // of the stored bytes in the archive
        std::uint32_t Held = 0;       // stored bytes the archive holds; the rest of Size is zeros
        std::uint32_t Size = 0;
        bool IsFolder = false;
        std::uint8_t Slot = 0;
    };
    // Puts the file at path as an extraction would: its folders made where nothing but folders
    // stand, its name's own folders used only where they stand already, and the file itself in
    // place of an earlier file, never of a folder.
    void Place(const extract::OutputPath& path, const FoundFile& file);
    std::optional<std::uint32_t> Child(std::uint32_t folder, std::string_view name) const;
    std::uint32_t Add(std::uint32_t folder, std::string_view name, bool isFolder);

    const csc::IndexTables& tables_;
    const std::int64_t foldersModified_;
    // The entries, the root first, in blocks that stay where they are as the tree grows: a
    // growing array would copy every entry at each step, each time to fresh pages, and a page
    // first touched costs as much as many entries.
    class Nodes {
      public:
        Node& operator[](std::size_t at) { return blocks_[at >> BlockBits][at & BlockMask]; }
        const Node& operator[](std::size_t at) const {
            return blocks_[at >> BlockBits][at & BlockMask];
        }
        std::size_t size() const { return count_; }
        void push_back(const Node& node) {
            if ((count_ >> BlockBits) == blocks_.size()) {
                blocks_.push_back(std::make_unique_for_overwrite<Node[]>(BlockMask + 1));
            }
            (*this)[count_++] = node;
        }

      private:
        static constexpr std::size_t BlockBits = 14;
        static constexpr std::size_t BlockMask = (std::size_t{1} << BlockBits) - 1;
        std::vector<std::unique_ptr<Node[]>> blocks_;
        std::size_t count_ = 0;
    };
    Nodes nodes_;
    std::string names_; // every entry's name, one after the other
    std::string_view NameOf(const Node& node) const {
        return std::string_view(names_).substr(node.NameAt, node.NameSize);
    }
    extract::OutputPath byTagPath_; // reused for each file under each tag
    // A folder's entries in the order made and, once there are more than a few, by the hash of
    // their names in a table of open addressing (a power of two long, at most half full).
    // Each folder has its own, so that the files of a folder, which come one after the other,
    // find theirs in the processor's cache.
    struct Slot {
        std::uint32_t Hash = 0; // of the name; its low bits place it
        std::uint32_t Number = None;
    };
    struct Listing {
        std::vector<std::uint32_t> Entries;
        std::vector<Slot> Index; // empty while a look through Entries costs no more
    };
    std::vector<Listing> listings_;
    void Index(Listing& listing, std::uint32_t hash, std::uint32_t number);
    std::array<const csc::ByteSource*, csc::ArchiveSlots> sources_{};
    std::array<std::int64_t, csc::ArchiveSlots> modified_{};
    std::uint64_t bytes_ = 0;
    // The distinct tag folders of the sound whose files come now, "ByTag/<tag>/" each.
    const csc::TSM_TaggedSound* tagsOf_ = nullptr;
    std::vector<const extract::OutputPath*> tagFolders_;
    // "ByTag/<tag>/" for each tag and sub-tag a reference names, made safe once.
    std::unordered_map<std::uint16_t, extract::OutputPath> byTagFolders_;
    const extract::OutputPath& ByTagFolder(const csc::TSM_TaggedSound& sound, std::size_t k);
    // The folders that the last paths made, by their text.
    std::array<std::pair<std::string, std::uint32_t>, 8> recentFolders_{};
    std::size_t nextRecent_ = 0;
};

} // namespace jobs
