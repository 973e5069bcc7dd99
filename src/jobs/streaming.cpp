#include "jobs/streaming.h"

#include <algorithm>

namespace jobs {

void Streaming::Take(csc::ExtentReader& stored, FoundFile& file) {
    constexpr std::size_t PieceBytes = 256u << 10;
    const csc::Extent& extent = file.Stored;
    console::WriteOutEverything(results_);
    piece_.resize(PieceBytes);
    bool told = false;
    for (std::size_t done = 0; done < extent.Held && WantsMore();) {
        std::size_t count = std::min(PieceBytes, extent.Held - done);
        platform::Moved read = stored.Read(csc::Extent{extent.Offset + done, count}, piece_.data());
        if (read.Error != platform::NoError && !told) {
            onUnread_(Unread{
                .File = file, .Offset = extent.Offset + done + read.Bytes, .Reason = read.Error});
            told = true;
        }
        std::fill(piece_.begin() + static_cast<std::ptrdiff_t>(read.Bytes),
                  piece_.begin() + static_cast<std::ptrdiff_t>(count), 0);
        Put(piece_.data(), count);
        done += count;
    }
    // Where the archive holds fewer bytes than the file's size, a run writes zeros after them.
    std::fill(piece_.begin(), piece_.end(), 0);
    for (std::uint64_t left = file.Size - extent.Held; left > 0 && WantsMore();) {
        std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(PieceBytes, left));
        Put(piece_.data(), count);
        left -= count;
    }
}

void Streaming::Put(const std::uint8_t* bytes, std::size_t count) {
    platform::Moved written = platform::Write(results_.Out, bytes, count);
    if (written.Error != platform::NoError) {
        results_.WriteError = written.Error;
    }
}

} // namespace jobs
