#pragma once

#include "csc/archives.h"
#include "csc/records.h"
#include "extract/pool.h"
#include "jobs/job.h"
#include "layout/tree.h"
#include "platform/mount.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobs {

// The mount job: the tree an extraction with the same options writes into an empty folder, with
// ByTag/ beside it (layout/tree.h), each file's bytes left in its archive until they are read.
// The tree is built while the walk goes on, by a builder of its own when there is one, in the
// order the walk finds the files, and never changes once Finish returns; the mount then reads it
// from any thread.
class Mounting : public Job, public platform::MountedTree {
  public:
    // Folders take the time of the index archive; files that of the archive that stores them.
    // With no builder, the reading thread builds the tree as it goes.
    Mounting(const csc::IndexTables& tables, platform::FileTime foldersModified, bool builder);

    void Take(csc::ExtentReader& stored, FoundFile& file) override;
    // Waits until every file taken stands in the tree, lets the builder go, and lays the tree out.
    void Finish();

    std::optional<platform::MountedEntry> Entry(std::uint64_t number) const override;
    std::optional<std::uint64_t> Lookup(std::uint64_t folder,
                                        std::string_view name) const override {
        return tree_.Lookup(folder, name);
    }
    void ForEachIn(std::uint64_t folder, std::uint64_t from,
                   const std::function<bool(std::string_view, std::uint64_t, std::uint64_t)>& each)
        const override {
        tree_.ForEachIn(folder, from, each);
    }
    platform::Moved Read(std::uint64_t file, std::uint64_t offset, void* destination,
                         std::size_t count) const override;
    std::uint64_t Entries() const override { return tree_.Entries(); }
    // The tree, once Finish has returned.
    const layout::Tree& Layout() const { return tree_; }
    std::uint64_t Bytes() const override { return tree_.Bytes(); }

  private:
    // A file as the builder takes it: its path's text in its batch's Paths, and its place and
    // facts.
    struct Placement {
        std::uint32_t PathAt = 0;
        std::uint32_t PathSize = 0;
        std::uint32_t MadeFolders = 0;
        std::uint32_t NameFolders = 0;
        layout::FileFacts Facts;
    };
    // Files go to the builder a batch at a time, their paths in one string, so that no file's
    // memory passes from one thread to the other.
    struct Batch {
        std::vector<Placement> Files;
        std::string Paths;
    };
    void HandOver();

    const csc::IndexTables& tables_;
    layout::Tree tree_;
    const platform::FileTime foldersModified_;
    std::array<const csc::ByteSource*, csc::ArchiveSlots> sources_{};
    std::array<platform::FileTime, csc::ArchiveSlots> modified_{};
    std::atomic<bool> outOfMemory_ = false; // the builder ran out and stopped
    Batch batch_;                           // being filled, on the reading thread
    std::vector<Batch> spares_;             // the reading thread's
    // Last, so that it is gone, and every file built, before the tree it builds.
    std::optional<extract::BoundedPool<Batch>> builder_;
};

// What the tree keeps of a file found by the walk.
layout::FileFacts FactsOf(const FoundFile& file, const csc::IndexTables& tables);

} // namespace jobs
