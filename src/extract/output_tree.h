#pragma once

#include "extract/disk.h"
#include "extract/payload.h"
#include "extract/pool.h"
#include "layout/paths.h"
#include "layout/tree.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// The output tree: the one owner of the output folders. Where each file lands, which file a later
// one replaces, which file stands in the way of a folder, and the limits of depth and length are
// the layout's (layout/tree.h), which places every file taken as a run into an empty folder does;
// the output tree adds what stood on the disk before the run. It makes the folders of each file it
// takes, replaces what stands, writes the bytes and the zero tail, removes what a failure left,
// and counts.
//
// Files are written by a pool of writers while the caller reads the next ones. For any archive
// that does not exhaust the machine, nobody can tell from the tree, the console or the counts that
// they were not written one after the other, in the order taken, whatever the names:
// - a file waits for any earlier file of the same place (the same entry of the layout, which
//   compares names as the file system does), so the later one is what remains;
// - no folder is made where a file of the run goes, nor a file written where a folder of the run
//   goes: the layout refuses them before any writer starts;
// - a file whose name holds folders of its own (a separator in a stored name) is written alone,
//   after every earlier file and before any later one, since it may lie below any earlier file;
// - the first unwritten file and the first file completed with zeros are the first in the order
//   taken, whichever writer finished first.
// Under exhaustion (a full disk, no inodes, no memory) which files fit may depend on timing; what
// holds then: no file is left cut or empty under its final name, every failure is counted, the run
// ends with warnings (or, out of memory, with the runtime error), and the first failure reported
// is the first in the order taken among those that failed.
//
// A file whose bytes the system failed to read from its archive (a disc with a scratch) is written
// with zeros in their place where nothing stood; where a file stood, it is left as it stood, as a
// file of zeros is worth less than what a run before wrote. Either way it is told.
//
// A file that already stands at its path as a regular file (no link) holding exactly the bytes the
// run would write is left as it stands: nothing is created, written, renamed or synced, and its
// inode, times and links stay. Its size is compared first, then its bytes. The bytes the run would
// write there are those of the last file of the run at that place, where the caller says which.
//
// A file is written under its final name when nothing stood there. When something did, it is
// written beside it under a name nobody can guess, made to survive a power cut, and renamed over
// it: what stood is replaced by the complete file or left as it was, even when the run is killed
// (it is synced first, unless the output folder lives in memory).
// Where the system can, the file is made without a name and named only once it is whole; where it
// cannot, a killed run may leave it beside, and a later run that writes into that folder removes
// it. In a folder that stood before the run, a file goes beside at once, without trying its name
// first. No link below the output folder is followed: one standing where a folder goes is in its
// way.
namespace extract {

// The bytes that a later file of the run leaves at a file's place: a range of an archive, and the
// size that file has (a zero tail beyond the range).
struct LaterBytes {
    const RangeSource* Source = nullptr;
    std::uint64_t Offset = 0;
    std::size_t Held = 0;
    std::uint64_t Size = 0;
};

// One file for the tree: where it goes, its bytes, and the size it must have (bytes beyond those
// the payload gives are a zero tail, made by extending the file, so that a size field that lies
// costs neither memory nor disk).
struct Entry {
    layout::OutputPath Path;
    Payload Content;
    std::uint64_t Size = 0;
    // Where the payload's bytes begin in their archive, and which archive, for what is told of a
    // read that failed.
    std::uint64_t SourceOffset = 0;
    std::uint32_t Source = 0;
    // Where a later file of the run takes this one's place with other bytes (LaterAt says): those
    // bytes.
    std::optional<LaterBytes> Later = std::nullopt;
};

// A file that could not be written, and why.
struct Unwritten {
    layout::OutputPath Path;
    platform::ErrorCode Reason = platform::NoError;
};

// A file whose bytes the system failed to read, where and why, and whether it was written with
// zeros in their place (else what stood at its path was left as it stood).
struct Unread {
    layout::OutputPath Path;
    std::uint32_t Source = 0;
    std::uint64_t Offset = 0;
    platform::ErrorCode Reason = platform::NoError;
    bool Written = false;
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
    layout::OutputPath FirstUnwritten{};
    platform::ErrorCode FirstUnwrittenReason = platform::NoError;
    std::uint64_t ZeroFilledFiles = 0; // written, with zeros where the archive ended early
    layout::OutputPath FirstZeroFilled{};
    // Whose bytes the system failed to read: written with zeros, or, where a file stood, among
    // the files unwritten.
    std::uint64_t UnreadFiles = 0;
    Unread FirstUnread{};
};

struct TreeSettings {
    unsigned Writers = 0;      // 0: the caller's thread writes every file
    bool KeepExisting = false; // where anything stands at a path, leave it and count it kept
    // Told of each file that could not be written, and of each whose bytes could not be read, on
    // the caller's thread, in the order taken, as soon as every earlier file has settled; only the
    // count is kept.
    std::function<void(const Unwritten&)> OnUnwritten{};
    std::function<void(const Unread&)> OnUnread{};
    PoolBounds Bounds{};
};

class OutputTree {
  public:
    // Places every file taken in layout. Starts fewer writers than asked, or none, where the
    // process may not open enough files at once or has little address space left: the pool never
    // makes a file fail, nor the run end for want of memory, where one writer would have gone
    // through.
    OutputTree(Disk& disk, layout::Tree& layout, TreeSettings settings);
    // Finishes every file taken, unless the tree was abandoned or a writer ran out of memory.
    ~OutputTree() = default;
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // Where the caller knows what each place ends with (a second run, whose walk placed every file
    // before): the bytes a later file of the run leaves at a file's place, or none where it is the
    // last. A file is then left alone where those bytes stand already, so that a second run over a
    // tree where nothing changed writes nothing, a path stored twice (or names that are one on
    // Windows) included.
    using LaterAt = std::function<std::optional<LaterBytes>(std::uint32_t place, const Entry&)>;
    void KnowWhatEachPlaceEndsWith(LaterAt later) { laterAt_ = std::move(later); }
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
        // Why the system failed to read its bytes, and where, counting from the payload's start.
        platform::ErrorCode Unread = platform::NoError;
        std::uint64_t UnreadAt = 0;
    };
    // One file on its way to the disk.
    struct Writing {
        std::uint64_t Order = 0;
        bool InNewFolder = false;           // the folder of the file was made by this run
        std::uint32_t Place = layout::None; // its entry in the layout
        bool InFlight = false;              // counted in placesInFlight_
        Entry File;
        FileOutcome Outcome;
    };

    // Every member below but the pool is the caller thread's alone: a writer touches only the
    // Writing it was handed and the disk, and settles nothing itself.

    // Makes the folders of the path that the run makes, from the deepest of them that the layout
    // has (folder, levels below the root); madeNow tells whether the last was made by this run (and
    // so holds nothing but what the run wrote).
    platform::ErrorCode ForceFolders(const layout::OutputPath& path, std::uint32_t folder,
                                     std::uint32_t levels, bool& madeNow);
    // Removes from a folder that stood before the run the files that a killed run left beside.
    void RemoveLeftBeside(const std::string& folder);
    void WaitForPlace(std::uint32_t place);
    void Write(Writing& writing);
    void Settle(Writing& writing);
    void Book(Writing& writing);

    Disk& disk_;
    layout::Tree& layout_;
    // What this run knows of each of the layout's entries on the disk, by entry: a folder is found
    // standing or made (a folder that could not be made is tried again for a later file), a file
    // written.
    enum class OnDisk : std::uint8_t { Unknown, FolderMadeNow, FolderStoodBefore, FileWritten };
    std::vector<OnDisk> onDisk_;
    OnDisk& StateOf(std::uint32_t entry);
    // Files handed to the writers and not yet settled, by place: the per-place ordering.
    std::unordered_map<std::uint32_t, std::uint32_t> placesInFlight_;
    // Files written into folders of their names that stood only on the disk, by path: the layout
    // does not have them.
    std::unordered_set<std::uint64_t> pathsOutsideTheLayout_;
    std::uint64_t nextOrder_ = 0;
    std::uint64_t firstUnwrittenOrder_ = UINT64_MAX;
    std::uint64_t firstZeroFilledOrder_ = UINT64_MAX;
    std::uint64_t firstUnreadOrder_ = UINT64_MAX;
    const bool keepExisting_;
    LaterAt laterAt_;
    const std::function<void(const Unwritten&)> onUnwritten_;
    const std::function<void(const Unread&)> onUnread_;
    // What a file settled before an earlier one has to tell, waiting to be told in order: no more
    // than are in flight.
    struct Told {
        std::optional<Unwritten> NotWritten;
        std::optional<Unread> NotRead;
    };
    std::map<std::uint64_t, Told> settledEarly_;
    std::uint64_t nextToTell_ = 0;
    void Tell(std::uint64_t order, Told told);
    void TellOne(const Told& told);
    void TellTheRest();
    TreeReport report_;
    // Last, so that it finishes its files while the rest is still there to settle them.
    BoundedPool<Writing> pool_;
};

} // namespace extract
