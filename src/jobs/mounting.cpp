#include "jobs/mounting.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace jobs {
namespace {

// Files are handed to the builder in batches of this many, or of this many bytes of paths.
constexpr std::size_t BatchFiles = 512;
constexpr std::size_t BatchPathBytes = 32u << 10;
// Batches the builder is done with, kept for the next ones.
constexpr std::size_t SpareBatches = 16;

} // namespace

Mounting::Mounting(const csc::IndexTables& tables, platform::FileTime foldersModified, bool builder)
    : tables_(tables), tree_(tables), foldersModified_(foldersModified) {
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
                    tree_.Place(std::string_view(batch.Paths).substr(file.PathAt, file.PathSize),
                                file.MadeFolders, file.NameFolders, file.Facts);
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

void Mounting::Take(csc::ExtentReader& stored, FoundFile& file) {
    if (sources_[file.Slot] == nullptr) {
        sources_[file.Slot] = &stored.Source();
        modified_[file.Slot] = platform::ModifiedTime(stored.Source().File);
    }
    const layout::OutputPath& path = file.Path;
    batch_.Files.push_back(Placement{.PathAt = static_cast<std::uint32_t>(batch_.Paths.size()),
                                     .PathSize = static_cast<std::uint32_t>(path.Text.size()),
                                     .MadeFolders = path.MadeFolders,
                                     .NameFolders = path.NameFolders,
                                     .Facts = FactsOf(file, tables_)});
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
    tree_.Finish();
}

std::optional<platform::MountedEntry> Mounting::Entry(std::uint64_t number) const {
    if (!tree_.Exists(number)) {
        return std::nullopt;
    }
    if (tree_.IsFolder(number)) {
        return platform::MountedEntry{.Folder = true, .Size = 0, .Modified = foldersModified_};
    }
    layout::FileFacts file = tree_.File(number);
    return platform::MountedEntry{
        .Folder = false, .Size = file.Size, .Modified = modified_[file.Slot]};
}

platform::Moved Mounting::Read(std::uint64_t number, std::uint64_t offset, void* destination,
                               std::size_t count) const {
    layout::FileFacts file = tree_.File(number);
    if (offset >= file.Size) {
        return {};
    }
    std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, file.Size - offset));
    std::size_t stored = 0;
    if (offset < file.Held) {
        stored = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, file.Held - offset));
        // An archive that has shrunk since gives zeros, as an extraction writes where it ends; one
        // that the system fails to read gives its error, never zeros in place of its bytes.
        platform::Moved read =
            csc::ReadAt(*sources_[file.Slot], file.Offset + offset, destination, stored);
        if (read.Error != platform::NoError) {
            return platform::Moved{.Bytes = 0, .Error = read.Error};
        }
        stored = read.Bytes;
    }
    std::memset(static_cast<char*>(destination) + stored, 0, wanted - stored);
    return platform::Moved{.Bytes = wanted, .Error = platform::NoError};
}

} // namespace jobs
