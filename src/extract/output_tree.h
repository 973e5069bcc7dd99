#pragma once

#include "extract/disk.h"
#include "extract/output_path.h"
#include "extract/payload.h"
#include "extract/pool.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The output tree: the one owner of the output folders. It makes the folders of each file it takes,
// replaces what stands, writes the bytes and the zero tail, removes what a failure left, and
// counts.
//
// Files are written by a pool of writers while the caller reads the next ones. For any archive
// that does not exhaust the machine, nobody can tell from the tree, the console or the counts that
// they were not written one after the other, in the order taken, whatever the names:
// - a file waits for any earlier file of the same place (same path, as the file system compares
//   names), so the later one is what remains;
// - a folder about to be made waits for any earlier file of its place, so that file is made first
//   and the folder then fails, as it would one at a time;
// - a file whose name holds folders of its own (a separator in a stored name) is written alone,
//   after every earlier file and before any later one, since it may lie below any earlier file;
// - the first unwritten file and the first file completed with zeros are the first in the order
//   taken, whichever writer finished first.
// Under exhaustion (a full disk, no inodes, no memory) which files fit may depend on timing; what
// holds then: no file is left cut or empty under its final name, every failure is counted, the run
// ends with warnings (or, out of memory, with the runtime error), and the first failure reported
// is the first in the order taken among those that failed.
//
// A file that already stands at its path as a regular file (no link) holding exactly the bytes the
// run would write is left as it stands: nothing is created, written, renamed or synced, and its
// inode, times and links stay. Its size is compared first, then its bytes.
//
// A file is written under its final name when nothing stood there. When something did, it is
// written beside it under a name nobody can guess, made to survive a power cut, and renamed over
// it: what stood is replaced by the complete file or left as it was, even when the run is killed
// (it is synced first, unless the output folder lives in memory).
// Where the system can, the file is made without a name and named only once it is whole; where it
// cannot, a killed run may leave it beside, and a later run that writes into that folder removes
// it. In a folder that stood before the run, a file goes beside at once, without trying its name
// first. No link below the output folder is followed: one standing where a folder goes is in its
// way. A file that would need more than MostFolderLevels folders is not written: no game needs a
// tenth of them, and making each level of a deeper path costs time in proportion to the depth.
namespace extract {

// One file for the tree: where it goes, its bytes, and the size it must have (bytes beyond those
// the payload gives are a zero tail, made by extending the file, so that a size field that lies
// costs neither memory nor disk).
struct Entry {
    OutputPath Path;
    Payload Content;
    std::uint64_t Size = 0;
};

// A file that could not be written, and why.
struct Unwritten {
    OutputPath Path;
    platform::ErrorCode Reason = platform::NoError;
};

// What writing came to, over every entry taken.
struct TreeReport {
    std::uint64_t WrittenFiles = 0;
    std::uint64_t WrittenBytes = 0;
    std::uint64_t KeptFiles = 0; // left as they stood, as asked
    // Left as they stood because they held exactly the bytes the run would write; not among the
    // files written.
    std::uint64_t UnchangedFiles = 0;
    // Of the files written, those that took the place of an earlier file of this run (a path
    // stored twice, or names that the file system takes for one).
    std::uint64_t OverwrittenFiles = 0;
    std::uint64_t UnwrittenFiles = 0; // not created, or not written in full (nothing left of them)
    OutputPath FirstUnwritten{};
    platform::ErrorCode FirstUnwrittenReason = platform::NoError;
    std::uint64_t ZeroFilledFiles = 0; // written, with zeros where the archive ended early
    OutputPath FirstZeroFilled{};
};

inline constexpr std::uint32_t MostFolderLevels = 128;
struct TreeSettings {
    unsigned Writers = 0;      // 0: the caller's thread writes every file
    bool KeepExisting = false; // where anything stands at a path, leave it and count it kept
    // Told of each file that could not be written, on the caller's thread, in the order taken, as
    // soon as every earlier file has settled; only the count is kept.
    std::function<void(const Unwritten&)> OnUnwritten{};
    PoolBounds Bounds{};
};

class OutputTree {
  public:
    // Starts fewer writers than asked, or none, where the process may not open enough files at
    // once or has little address space left: the pool never makes a file fail, nor the run end for
    // want of memory, where one writer would have gone through.
    OutputTree(Disk& disk, TreeSettings settings);
    // Finishes every file taken, unless the tree was abandoned or a writer ran out of memory.
    ~OutputTree() = default;
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // Waits until a file whose payload holds bytes of memory may be taken; call before allocating
    // it, so that what the files in flight hold stays within the bound.
    void MakeRoom(std::uint64_t bytes);
    // Makes the entry's folders and writes its file, or hands it to a writer. Throws
    // std::bad_alloc when memory runs out, here or on a writer.
    void Take(Entry entry);
    // Waits for every file taken and tells what writing came to.
    TreeReport Finish();
    // For an interrupted run: files not yet begun are dropped, those being written are finished.
    TreeReport Abandon();

  private:
    struct FileOutcome {
        bool Written = false;
        bool Kept = false;
        bool Unchanged = false; // it held the file's bytes already
        bool ZeroTail = false;  // written, with zeros where the archive gave no bytes
        platform::ErrorCode Reason = platform::NoError; // why it was not written
        bool OutOfMemory = false;
    };
    // One file on its way to the disk.
    struct Writing {
        std::uint64_t Order = 0;
        bool InNewFolder = false; // the folder of the file was made by this run
        std::uint64_t Place = 0;  // PlaceKey of the path
        bool InFlight = false;    // counted in placesInFlight_
        Entry File;
        FileOutcome Outcome;
    };

    // Every member below but the pool is the caller thread's alone: a writer touches only the
    // Writing it was handed and the disk, and settles nothing itself.

    // Makes the folders of path that the tree makes; madeNow tells whether the last of them was
    // made by this run (and so held nothing but what the run wrote).
    platform::ErrorCode ForceFolders(const OutputPath& path, bool& madeNow);
    // Removes from a folder that stood before the run the files that a killed run left beside.
    void RemoveLeftBeside(const std::string& folder);
    void WaitForPlace(std::uint64_t place);
    void Write(Writing& writing);
    void Settle(Writing& writing);
    void Book(Writing& writing);
    void ThrowIfOutOfMemory();
    TreeReport Report();

    Disk& disk_;
    // The folders known to stand, made in this run or found there: each as its own name (identity
    // form) below the number of the folder that holds it, so that a path costs memory in proportion
    // to its length, however deep. The output folder is 0. A folder that could not be made is not
    // remembered and is tried again for a later file.
    struct KnownFolder {
        std::uint32_t Number = 0;
        bool MadeNow = false;
    };
    std::unordered_map<std::string, KnownFolder> knownFolders_;
    std::string folderKey_; // reused for lookups
    // Files handed to the writers and not yet settled, by place: the per-place ordering.
    std::unordered_map<std::uint64_t, std::uint32_t> placesInFlight_;
    std::uint64_t nextOrder_ = 0;
    std::uint64_t firstUnwrittenOrder_ = UINT64_MAX;
    std::uint64_t firstZeroFilledOrder_ = UINT64_MAX;
    const bool keepExisting_;
    const std::function<void(const Unwritten&)> onUnwritten_;
    // Files settled before an earlier one, waiting to be told in order: no more than are in
    // flight.
    std::map<std::uint64_t, std::optional<Unwritten>> settledEarly_;
    std::uint64_t nextToTell_ = 0;
    void Tell(std::uint64_t order, std::optional<Unwritten> unwritten);
    void TellTheRest();
    bool outOfMemory_ = false;
    // The places of the files written; sorted and made unique now and then, so that they cost
    // memory in proportion to the files that stand in the tree.
    std::vector<std::uint64_t> writtenPlaces_;
    std::size_t uniquePlaces_ = 0; // the sorted, unique front of writtenPlaces_
    void CountOverwritten();
    TreeReport report_;
    // Last, so that it finishes its files while the rest is still there to settle them.
    BoundedPool<Writing> pool_;
};

} // namespace extract
