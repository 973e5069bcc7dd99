#include "extract/output_tree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <random>

namespace extract {
namespace {

// Beside what stands at a path, a new file is written under ".cscunpack-" and 16 hexadecimal
// digits: the number of the process that writes it, then 8 digits no archive can be made to guess.
// The name has a fixed length, so that a later run tells a file left by a run that was killed from
// anything else, and the process number tells it whether that run still goes on.
constexpr std::string_view BesidePrefix = ".cscunpack-";
constexpr std::size_t BesideDigits = 16;

std::string BesideName(const layout::OutputPath& path, std::uint64_t number) {
    std::string_view folder = layout::LeadingComponents(path, path.MadeFolders + path.NameFolders);
    static const char Digits[] = "0123456789abcdef";
    std::uint64_t both = std::uint64_t{platform::ProcessNumber()} << 32 | (number & 0xFFFFFFFF);
    std::string name(BesidePrefix);
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += Digits[(both >> shift) & 0xF];
    }
    return layout::InFolder(folder, name);
}

// Whether name is one a run of this tool wrote beside a file and left when it was killed: of the
// fixed length, and no longer in its writer's hands.
bool IsLeftBeside(std::string_view name) {
    if (name.size() != BesidePrefix.size() + BesideDigits || !name.starts_with(BesidePrefix)) {
        return false;
    }
    std::uint32_t process = 0;
    for (std::size_t i = 0; i < BesideDigits; ++i) {
        char c = name[BesidePrefix.size() + i];
        bool digit = c >= '0' && c <= '9';
        if (!digit && !(c >= 'a' && c <= 'f')) {
            return false;
        }
        if (i < 8) {
            process = process << 4 | static_cast<std::uint32_t>(digit ? c - '0' : c - 'a' + 10);
        }
    }
    return !platform::WriterMayLive(process);
}

// A number for a name beside, unique within the run for each file (its order) and attempt (0 to
// 15), and unlike any other run's.
std::uint64_t BesideNumber(std::uint64_t order, unsigned attempt) {
    static const std::uint64_t seed = [] {
        std::random_device random;
        return (std::uint64_t{random()} << 32) ^ random();
    }();
    return seed ^ ((order << 4 | attempt) * 0x9E3779B97F4A7C15u);
}

// What a file holds in memory until it is settled: its bytes and the bookkeeping.
std::uint64_t Charge(std::uint64_t bytes) {
    return bytes + 512;
}

// A writer holds one output file open at a time, and so may the reading thread while it makes a
// folder; where the system cannot open a path below the output folder in one call, each may hold
// two for a moment.
unsigned AffordableWriters(unsigned wanted) {
    std::uint64_t descriptors = platform::SpareDescriptors();
    std::uint64_t byDescriptors = descriptors > 2 ? (descriptors - 2) / 2 : 0;
    return static_cast<unsigned>(std::min<std::uint64_t>(wanted, byDescriptors));
}

// Files in flight hold what one writer would have freed already; where the address space is
// limited, they take at most an eighth of what is left, so that the reading thread's own needs fit.
PoolBounds AffordableBounds(PoolBounds bounds) {
    bounds.Cost = std::min(bounds.Cost, platform::SpareAddressSpace() / 8);
    return bounds;
}

// Whether equal holds as many bytes as the file at a given offset. Reads a piece at a time.
bool SameBytes(Disk& disk, platform::FileHandle file, std::uint64_t offset,
               const std::uint8_t* equal, std::size_t count) {
    std::uint8_t piece[16 << 10];
    for (std::size_t done = 0; done < count;) {
        std::size_t wanted = std::min(sizeof piece, count - done);
        if (disk.Read(file, offset + done, piece, wanted).Bytes != wanted ||
            std::memcmp(piece, equal + done, wanted) != 0) {
            return false;
        }
        done += wanted;
    }
    return true;
}

// Whether the open file holds nothing but zeros from offset on: only what it holds there is read,
// as a hole reads as zeros anyway, so a tail that a first run made takes no reading at all, however
// large the size that a record claims.
bool ZerosFrom(Disk& disk, platform::FileHandle file, std::uint64_t offset, std::uint64_t size) {
    static const std::uint8_t zeros[16 << 10] = {};
    bool same = true;
    for (std::uint64_t at = offset; same && at < size;) {
        platform::Stretch data = disk.NextData(file, at, size);
        if (data.Start >= data.End) {
            break; // nothing but holes from here
        }
        for (std::uint64_t piece = data.Start; same && piece < data.End; piece += sizeof zeros) {
            same = SameBytes(
                disk, file, piece, zeros,
                static_cast<std::size_t>(std::min<std::uint64_t>(sizeof zeros, data.End - piece)));
        }
        at = data.End;
    }
    return same;
}

// Whether a regular file stands at path holding the bytes that a later file of the run leaves
// there. Both are read a piece at a time.
bool AlreadyHoldsLater(Disk& disk, const std::string& path, const LaterBytes& later) {
    platform::FileHandle file = platform::InvalidFile;
    std::uint64_t size = 0;
    if (disk.OpenExisting(path, file, size) != platform::NoError) {
        return false;
    }
    bool same = size == later.Size;
    std::uint8_t piece[16 << 10];
    for (std::size_t done = 0; same && done < later.Held; done += sizeof piece) {
        std::size_t wanted = std::min(sizeof piece, later.Held - done);
        platform::Moved read = later.Source->ReadAt(later.Offset + done, piece, wanted);
        same = read.Bytes == wanted && SameBytes(disk, file, done, piece, wanted);
    }
    same = same && ZerosFrom(disk, file, later.Held, size);
    disk.Close(file);
    return same;
}

// Whether a regular file stands at the entry's path holding exactly the bytes that writing the
// entry would leave there: its size, then its bytes, the zero tail included. How many bytes the
// payload gave goes to delivered.
bool AlreadyHolds(Disk& disk, const Entry& entry, std::size_t& delivered) {
    platform::FileHandle file = platform::InvalidFile;
    std::uint64_t size = 0;
    if (disk.OpenExisting(entry.Path.Text, file, size) != platform::NoError) {
        return false;
    }
    bool same = size == entry.Size;
    const std::uint8_t* bytes = nullptr;
    if (const auto* memory = std::get_if<BytesInMemory>(&entry.Content)) {
        bytes = memory->Bytes.get();
        delivered = memory->Count;
    } else if (same) {
        // The archive's bytes go where a copy through the program would put them.
        const auto& range = std::get<ArchiveRange>(entry.Content);
        platform::Moved read = range.Source->ReadAt(range.Offset, range.Spare.get(), range.Count);
        delivered = read.Bytes;
        bytes = range.Spare.get();
        same = read.Error == platform::NoError; // bytes not read are not known to be the same
    }
    same = same && SameBytes(disk, file, 0, bytes, delivered) &&
           ZerosFrom(disk, file, delivered, size);
    disk.Close(file);
    return same;
}

// Writes one file whole, or leaves nothing of it: whatever was created is removed again when a
// step fails, or when memory runs out on the way.
class FileWriter {
  public:
    FileWriter(Disk& disk, std::uint64_t order) : disk_(disk), order_(order) {}
    ~FileWriter() {
        if (file_ != platform::InvalidFile) {
            disk_.Close(file_);
        }
        if (!created_.empty()) {
            disk_.Remove(created_);
        }
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates the file, beside what stands at its path when something does. In a folder made by
    // this run, nothing stands but what the run wrote, so the file is first tried under its name;
    // in a folder that stood before, something most likely stands, and the file goes beside it at
    // once.
    //
    // Beside, a file whose writing takes a while (it is copied from the archive) is made without
    // a name where the system can, and named only once it is whole, just before it is renamed into
    // place, so that a run killed while writing it leaves nothing behind. A small file is written
    // in one step, where that costs more than the kill it guards against; what a kill leaves of it
    // beside, the next run removes.
    platform::ErrorCode Create(const layout::OutputPath& path, bool inNewFolder, bool takesAWhile) {
        platform::ErrorCode error =
            inNewFolder ? disk_.CreateNew(path.Text, file_) : platform::AlreadyThereError();
        if (platform::IsAlreadyThere(error) && takesAWhile) {
            error = disk_.CreateUnnamed(
                std::string(layout::LeadingComponents(path, path.MadeFolders + path.NameFolders)),
                file_);
            if (!platform::IsNotSupported(error)) {
                unnamed_ = error == platform::NoError;
                return error;
            }
            error = platform::AlreadyThereError();
        }
        if (platform::IsAlreadyThere(error)) {
            for (unsigned attempt = 0; attempt < 8 && platform::IsAlreadyThere(error); ++attempt) {
                beside_ = BesideName(path, BesideNumber(order_, attempt));
                error = disk_.CreateNew(beside_, file_);
            }
            if (error == platform::NoError) {
                created_ = beside_;
            }
        } else if (error == platform::NoError) {
            created_ = path.Text;
        }
        return error;
    }

    // Creates the file only where nothing stands at its path.
    platform::ErrorCode CreateUnlessStanding(const layout::OutputPath& path) {
        platform::ErrorCode error = disk_.CreateNew(path.Text, file_);
        if (error == platform::NoError) {
            created_ = path.Text;
        }
        return error;
    }

    // Whether it is written beside what stands, to take its place.
    bool Replacing() const { return unnamed_ || !beside_.empty(); }

    // Writes what the payload gives, then the zero tail up to size; how many bytes the payload
    // gave goes to delivered, and why the archive gave no more, where the system failed to read
    // it, to unread.
    platform::ErrorCode Fill(const Payload& payload, std::uint64_t size, std::size_t& delivered,
                             platform::ErrorCode& unread) {
        platform::ErrorCode error = platform::NoError;
        if (const auto* memory = std::get_if<BytesInMemory>(&payload)) {
            delivered = memory->Count;
            unread = memory->Unread;
            error = disk_.Write(file_, memory->Bytes.get(), memory->Count);
        } else {
            // A range can come short of its claim, where the archive has shrunk since or cannot
            // be read; what is missing becomes zeros like any other shortfall.
            Disk::Copied copy = disk_.Copy(std::get<ArchiveRange>(payload), file_);
            delivered = copy.Bytes;
            error = copy.Refused;
            unread = copy.Unread;
        }
        if (error == platform::NoError && size > delivered) {
            error = disk_.Extend(file_, size);
        }
        return error;
    }

    // Closes the file and, when it was written beside, makes it durable and renames it over what
    // stands. Afterwards the file is in place, or nothing of it is left.
    platform::ErrorCode Commit(const layout::OutputPath& path) {
        bool replacing = unnamed_ || !beside_.empty();
        platform::ErrorCode error =
            replacing && !disk_.Volatile() ? disk_.Sync(file_) : platform::NoError;
        if (error == platform::NoError && unnamed_) {
            error = platform::AlreadyThereError();
            for (unsigned attempt = 8; attempt < 16 && platform::IsAlreadyThere(error); ++attempt) {
                error =
                    disk_.Place(file_, BesideName(path, BesideNumber(order_, attempt)), path.Text);
            }
        }
        // Where the system can, the file takes its name while still open: until then it stays
        // locked against a later run that takes it for one left by a killed run.
        bool renamed = false;
        if (error == platform::NoError && !unnamed_ && !beside_.empty()) {
            error = disk_.RenameOpen(file_, path.Text);
            renamed = !platform::IsNotSupported(error);
            error = renamed ? error : platform::NoError;
        }
        platform::ErrorCode closed = disk_.Close(file_);
        file_ = platform::InvalidFile;
        if (error == platform::NoError) {
            error = closed;
        }
        if (error == platform::NoError && !unnamed_ && !beside_.empty() && !renamed) {
            error = disk_.Rename(beside_, path.Text);
        }
        if (error == platform::NoError) {
            created_.clear();
        }
        return error;
    }

  private:
    Disk& disk_;
    const std::uint64_t order_;
    platform::FileHandle file_ = platform::InvalidFile;
    bool unnamed_ = false; // made without a name, to be placed once whole
    std::string beside_;   // the name written under, when something stood at the path
    std::string created_;  // what to remove unless the file is committed
};

} // namespace

OutputTree::OutputTree(Disk& disk, layout::Tree& layout, TreeSettings settings)
    : disk_(disk), layout_(layout), keepExisting_(settings.KeepExisting),
      onUnwritten_(std::move(settings.OnUnwritten)), onUnread_(std::move(settings.OnUnread)),
      pool_(
          AffordableWriters(settings.Writers), AffordableBounds(settings.Bounds),
          [this](Writing& writing) { Write(writing); },
          [this](Writing& writing) { Settle(writing); }) {}

void OutputTree::MakeRoom(std::uint64_t bytes) {
    pool_.WaitForRoom(Charge(bytes));
}

OutputTree::OnDisk& OutputTree::StateOf(std::uint32_t entry) {
    if (entry >= onDisk_.size()) {
        onDisk_.resize(std::max<std::size_t>(entry + 1, onDisk_.size() * 2), OnDisk::Unknown);
    }
    return onDisk_[entry];
}

void OutputTree::Take(Entry entry) {
    Writing writing;
    writing.Order = nextOrder_++;
    writing.File = std::move(entry);
    const layout::OutputPath& path = writing.File.Path;
    layout::Landing landing = layout_.Place(path, {});
    if (landing.Entry == layout::None && !landing.NameFoldersMissing) {
        // A file of the run in the way of a folder, a folder of the run where the file goes, or
        // a path past the limits: it does not land, and nothing is tried on the disk.
        writing.Outcome.Reason = landing.Reason;
        Book(writing);
        return;
    }
    std::uint32_t made = std::min(path.MadeFolders, landing.FolderLevel);
    std::uint32_t folder = landing.Folder;
    for (std::uint32_t level = landing.FolderLevel; level > made; --level) {
        folder = layout_.Parent(folder);
    }
    if (platform::ErrorCode folders = ForceFolders(path, folder, made, writing.InNewFolder);
        folders != platform::NoError) {
        // The file cannot be made where its folder could not be; the folder's reason says why.
        writing.Outcome.Reason = folders;
        Book(writing);
        return;
    }
    writing.Place = landing.Entry;
    if (laterAt_ && writing.Place != layout::None) {
        writing.File.Later = laterAt_(writing.Place, writing.File);
    }
    if (path.NameFolders > 0) {
        // It may lie at or below any earlier file, and any later one at or below it. Its name's
        // folders are written into only where they stand as folders, links refused: those the
        // layout has not may have stood on the disk before the run.
        pool_.WaitUntilFinished();
        writing.Outcome.Reason = disk_.CheckFolder(
            std::string(layout::LeadingComponents(path, path.MadeFolders + path.NameFolders)));
        if (writing.Outcome.Reason == platform::NoError) {
            Write(writing);
        }
        Book(writing);
        return;
    }
    WaitForPlace(writing.Place);
    std::uint64_t cost = Charge(PayloadBytes(writing.File.Content) + path.Text.size());
    pool_.WaitForRoom(cost);
    ++placesInFlight_[writing.Place];
    writing.InFlight = true;
    pool_.Submit(std::move(writing), cost);
}

TreeReport OutputTree::Finish() {
    pool_.WaitUntilFinished();
    return report_;
}

TreeReport OutputTree::Abandon() {
    pool_.Abandon();
    TellTheRest(); // the files dropped leave gaps that never settle
    return report_;
}

void OutputTree::TellOne(const Told& told) {
    if (told.NotWritten && onUnwritten_) {
        onUnwritten_(*told.NotWritten);
    }
    if (told.NotRead && onUnread_) {
        onUnread_(*told.NotRead);
    }
}

void OutputTree::Tell(std::uint64_t order, Told told) {
    if (order != nextToTell_) {
        settledEarly_.emplace(order, std::move(told));
        return;
    }
    TellOne(told);
    ++nextToTell_;
    for (auto next = settledEarly_.begin();
         next != settledEarly_.end() && next->first == nextToTell_;
         next = settledEarly_.erase(next), ++nextToTell_) {
        TellOne(next->second);
    }
}

void OutputTree::TellTheRest() {
    for (auto& [order, told] : settledEarly_) {
        TellOne(told);
    }
    settledEarly_.clear();
}

platform::ErrorCode OutputTree::ForceFolders(const layout::OutputPath& path, std::uint32_t folder,
                                             std::uint32_t levels, bool& madeNow) {
    // The deepest of them known to stand, from the bottom; the rest are made from the top.
    std::vector<std::uint32_t> unknown;
    for (std::uint32_t level = levels; level > 0; --level, folder = layout_.Parent(folder)) {
        if (StateOf(folder) != OnDisk::Unknown) {
            break;
        }
        unknown.push_back(folder);
    }
    madeNow = levels > 0 && (unknown.empty() ? StateOf(folder) == OnDisk::FolderMadeNow : false);
    for (std::size_t k = unknown.size(); k-- > 0;) {
        std::string made(layout::LeadingComponents(path, levels - k));
        platform::ErrorCode error = disk_.MakeFolder(made, madeNow);
        if (error != platform::NoError) {
            return error; // nothing below a level that cannot be made can be made either
        }
        if (!madeNow) {
            RemoveLeftBeside(made);
        }
        StateOf(unknown[k]) = madeNow ? OnDisk::FolderMadeNow : OnDisk::FolderStoodBefore;
    }
    return platform::NoError;
}

void OutputTree::RemoveLeftBeside(const std::string& folder) {
    std::vector<std::string> names;
    // Only names the tool writes beside files: a folder of many files costs no copy of each name.
    if (disk_.List(folder, BesidePrefix, names) != platform::NoError) {
        return;
    }
    for (const std::string& name : names) {
        if (IsLeftBeside(name)) {
            disk_.Remove(layout::InFolder(folder, name));
        }
    }
}

void OutputTree::WaitForPlace(std::uint32_t place) {
    pool_.WaitUntil([&] { return placesInFlight_.count(place) == 0; });
}

void OutputTree::Write(Writing& writing) {
    // Memory running out here ends the run (the pool's rule); the writer removes what it made.
    FileWriter writer(disk_, writing.Order);
    FileOutcome& outcome = writing.Outcome;
    const Entry& file = writing.File;
    std::size_t delivered = 0;
    const auto* memory = std::get_if<BytesInMemory>(&file.Content);
    bool inNewFolder = writing.InNewFolder && file.Path.NameFolders == 0;
    if (keepExisting_) {
        outcome.Reason = writer.CreateUnlessStanding(file.Path);
        if (platform::IsAlreadyThere(outcome.Reason)) {
            outcome = FileOutcome{.Kept = true};
            return;
        }
    } else {
        platform::FileHandle standing = platform::InvalidFile;
        std::uint64_t standingSize = 0;
        if (memory != nullptr && memory->Unread != platform::NoError && !inNewFolder &&
            disk_.OpenExisting(file.Path.Text, standing, standingSize) == platform::NoError) {
            disk_.Close(standing); // a file stands, and is worth more than zeros
            outcome.Reason = memory->Unread;
            outcome.Unread = memory->Unread;
            outcome.UnreadAt = memory->Count;
            return;
        }
        // A later file of the run takes this place: where its bytes stand already, nothing is
        // written here, and the later file finds them too.
        if (!inNewFolder && file.Later && AlreadyHoldsLater(disk_, file.Path.Text, *file.Later)) {
            outcome = FileOutcome{.Unchanged = true};
            return;
        }
        // In a folder made by this run nothing stands but what the run wrote.
        if (!inNewFolder && (memory == nullptr || memory->Unread == platform::NoError) &&
            AlreadyHolds(disk_, file, delivered)) {
            outcome = FileOutcome{.Unchanged = true, .ZeroTail = delivered < file.Size};
            return;
        }
        outcome.Reason = writer.Create(file.Path, inNewFolder,
                                       std::holds_alternative<ArchiveRange>(file.Content));
    }
    platform::ErrorCode unread = platform::NoError;
    if (outcome.Reason == platform::NoError) {
        outcome.Reason = writer.Fill(file.Content, file.Size, delivered, unread);
    }
    if (unread != platform::NoError) {
        outcome.Unread = unread;
        outcome.UnreadAt = delivered;
        if (outcome.Reason == platform::NoError && writer.Replacing()) {
            outcome.Reason = unread; // what stood is left as it stood; the writer removes its file
            return;
        }
    }
    if (outcome.Reason == platform::NoError) {
        outcome.Reason = writer.Commit(file.Path);
    }
    outcome.Written = outcome.Reason == platform::NoError;
    outcome.ZeroTail = outcome.Written && delivered < file.Size && unread == platform::NoError;
}

void OutputTree::Settle(Writing& writing) {
    if (writing.InFlight) {
        auto place = placesInFlight_.find(writing.Place);
        if (place != placesInFlight_.end() && --place->second == 0) {
            placesInFlight_.erase(place);
        }
    }
    Book(writing);
}

void OutputTree::Book(Writing& writing) {
    const FileOutcome& outcome = writing.Outcome;
    Told told;
    if (outcome.Unread != platform::NoError) {
        told.NotRead = Unread{.Path = writing.File.Path,
                              .Source = writing.File.Source,
                              .Offset = writing.File.SourceOffset + outcome.UnreadAt,
                              .Reason = outcome.Unread,
                              .Written = outcome.Written};
        ++report_.UnreadFiles;
        if (writing.Order < firstUnreadOrder_) {
            firstUnreadOrder_ = writing.Order;
            report_.FirstUnread = *told.NotRead;
        }
    } else if (!outcome.Kept && !outcome.Written && !outcome.Unchanged) {
        told.NotWritten = Unwritten{writing.File.Path, outcome.Reason};
    }
    if (outcome.Kept) {
        ++report_.KeptFiles;
    } else if (!outcome.Written && !outcome.Unchanged) {
        ++report_.UnwrittenFiles;
        if (writing.Order < firstUnwrittenOrder_) {
            firstUnwrittenOrder_ = writing.Order;
            report_.FirstUnwritten = writing.File.Path;
            report_.FirstUnwrittenReason = outcome.Reason;
        }
    } else {
        if (outcome.Unchanged) {
            ++report_.UnchangedFiles;
        } else {
            ++report_.WrittenFiles;
            report_.WrittenBytes += writing.File.Size;
        }
        // Either way the file of this run stands there now, in the place of any earlier one.
        bool over =
            writing.Place != layout::None
                ? std::exchange(StateOf(writing.Place), OnDisk::FileWritten) == OnDisk::FileWritten
                : !pathsOutsideTheLayout_.insert(layout::PlaceKey(writing.File.Path.Text)).second;
        report_.OverwrittenFiles += over && !outcome.Unchanged ? 1 : 0;
        if (outcome.ZeroTail) {
            ++report_.ZeroFilledFiles;
            if (writing.Order < firstZeroFilledOrder_) {
                firstZeroFilledOrder_ = writing.Order;
                report_.FirstZeroFilled = writing.File.Path;
            }
        }
    }
    Tell(writing.Order, std::move(told));
}

} // namespace extract
