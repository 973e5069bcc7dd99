#pragma once

#include "csc/byte_source.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The one place that knows about threads. Output files are created, written, closed and, on
// failure, removed on a pool of writer threads, while the caller goes on reading the next ones.
// Nobody can tell from the tree, the console or the counts that they were not written one after
// the other in the order they were handed over:
// - a file waits for any earlier file of the same path, so the later one is what remains;
// - a folder about to be made waits for any earlier file of its path (WaitForPath), so that file
//   is made first and the folder then fails, as it would one at a time;
// - the first unwritten file and the first file completed with zeros are the first in the order
//   of handing over, whichever thread finished first.
// The bytes handed over and not yet written stay within a bound, and so does the number of such
// files, but one file is always let through, however large.
namespace extract {

// One output file, handed over whole: where it goes, the bytes the archive delivered, and the size
// the file must have (bytes beyond those delivered are a zero tail). With a Source, Bytes has room
// for the delivered bytes but does not hold them yet: they are still in the archive at
// SourceOffset, and the writer copies them from there.
struct FileJob {
    std::string Path;
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::size_t Delivered = 0;
    std::uint64_t Size = 0;
    const csc::ByteSource* Source = nullptr;
    std::uint64_t SourceOffset = 0;
};

// What writing came to, counted over every file handed over.
struct WriteReport {
    std::uint64_t UnwrittenFiles = 0; // not created, or not written in full (and removed again)
    std::string FirstUnwritten{};
    platform::ErrorCode FirstUnwrittenReason = platform::NoError;
    std::uint64_t ZeroFilledFiles = 0; // written, with a zero tail where the archive ended early
    std::string FirstZeroFilled{};
};

inline constexpr unsigned MostWriterThreads = 8;
// Within the 32 MiB that a run may hold beyond its largest file, with room for the rest of it.
inline constexpr std::uint64_t DefaultBytesInFlight = std::uint64_t{16} << 20;

// As many writers as the machine has hardware threads, at most MostWriterThreads; 0 (every file
// written by the caller's own thread) on a machine with one.
unsigned DefaultWriterThreads();

struct WriterState;

class OutputWriter {
  public:
    // threads 0 writes every file on the caller's thread at Submit. A thread that cannot be
    // started leaves fewer, or none; that is never an error.
    OutputWriter(unsigned threads, platform::NameRules rules,
                 std::uint64_t bytesInFlight = DefaultBytesInFlight);
    // Finishes every file handed over before it returns.
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Waits until a file of size bytes may be handed over; call before obtaining its buffer, so
    // that the buffers alive at once stay within the bound.
    void WaitForRoom(std::uint64_t size);
    // Waits until no file handed over earlier is still to be written at path.
    void WaitForPath(std::string_view path);
    void Submit(FileJob job);
    // Waits for every file handed over and tells what writing came to.
    WriteReport Finish();

  private:
    std::unique_ptr<WriterState> state_;
};

// What writing one file came to.
struct FileOutcome {
    bool Written = false;
    bool ZeroTail = false; // written, with zeros where the archive gave no bytes
    platform::ErrorCode Reason = platform::NoError; // why it was not written
};

// Writes the file whole, or leaves nothing under its name: a file whose write, extension or close
// fails is removed again, so every output file that exists is complete. Bytes that the archive
// could not deliver become a zero tail made by extending the file, so that a size field that lies
// costs neither memory nor disk.
FileOutcome WriteOutputFile(const FileJob& job);

} // namespace extract
