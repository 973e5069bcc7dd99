#include "jobs/checking.h"

#include "jobs/results.h"
#include "sound/sound.h"

#include <algorithm>
#include <span>

namespace jobs {
namespace {

// A file this large passes the archive's read-ahead anyway: the worker that checks it reads it, so
// that the copying out of the archive goes on beside the walk, as the checking does.
constexpr std::size_t ReadByWorkerFrom = 64u << 10;

// Reads the bytes of a file that the worker reads itself, and says what is wrong where they do not
// all arrive.
void ReadOnWorker(Checking::Check& check) {
    const csc::Extent& extent = check.File.Stored;
    platform::Moved read =
        csc::ReadAt(*check.Source, extent.Offset, check.Bytes.get(), extent.Held);
    check.Read = read.Bytes;
    if (read.Error != platform::NoError) {
        check.Problem = CouldNotRead(check.File.Slot, extent.Offset + read.Bytes, read.Error);
    } else if (check.Read < extent.Held) {
        check.Problem = CutShort(check.Read, check.File.Size);
    }
}

} // namespace

Checking::Checking(console::Console& results, bool json, unsigned workers)
    : results_(results), json_(json),
      pool_(
          workers, extract::PoolBounds{},
          [](Check& check) {
              if (check.Source != nullptr) {
                  ReadOnWorker(check);
              }
              if (check.Problem || check.File.Form == csc::StoredForm::Bare) {
                  return;
              }
              std::span<const std::uint8_t> bytes(check.Bytes.get(), check.Read);
              check.Problem = SoundProblem(check.File.Form, bytes);
          },
          [this](Check& check) {
              // Buffers are kept up to a bound: they spare the page faults of a new buffer for each
              // file, and cost no more than the files in flight, however large the files.
              if (check.Bytes && spareBytes_ + check.Room <= SpareBytes &&
                  spare_.size() < MostSpares) {
                  spareBytes_ += check.Room;
                  spare_.emplace_back(std::move(check.Bytes), check.Room);
              }
              check.Bytes.reset(); // a check waiting for its turn to be reported needs no bytes
              done_.emplace(check.Order, std::move(check));
              for (auto next = done_.find(nextToReport_); next != done_.end();
                   next = done_.find(++nextToReport_)) {
                  Report(next->second);
                  done_.erase(next);
              }
          }) {}

void Checking::Take(csc::ExtentReader& stored, FoundFile& file) {
    console::WriteOutWhatWaited(results_);
    Check check{.Order = files_++,
                .File = std::move(file), // the walk makes the next file afresh
                .Bytes = {},
                .Room = 0,
                .Read = 0,
                .Problem = {},
                .Source = nullptr};
    const csc::Extent& extent = check.File.Stored;
    if (extent.Held < check.File.Size) {
        check.Problem = CutShort(extent.Held, check.File.Size);
    } else if (check.File.Form != csc::StoredForm::Bare) {
        pool_.WaitForRoom(extent.Held);
        auto fits = std::find_if(spare_.begin(), spare_.end(),
                                 [&](const auto& spare) { return spare.second >= extent.Held; });
        if (fits != spare_.end()) {
            check.Bytes = std::move(fits->first);
            check.Room = fits->second;
            spareBytes_ -= fits->second;
            spare_.erase(fits);
        } else {
            check.Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held);
            check.Room = extent.Held;
        }
        if (extent.Held >= ReadByWorkerFrom) {
            check.Source = &stored.Source();
        } else {
            platform::Moved read = stored.Read(extent, check.Bytes.get());
            check.Read = read.Bytes;
            if (read.Error != platform::NoError) {
                check.Problem =
                    CouldNotRead(check.File.Slot, extent.Offset + read.Bytes, read.Error);
            } else if (check.Read < extent.Held) {
                check.Problem = CutShort(check.Read, check.File.Size);
            }
        }
    }
    std::uint64_t cost = check.Room;
    pool_.Submit(std::move(check), cost);
}

void Checking::Report(Check& check) {
    const std::optional<std::string>& problem = check.Problem;
    damaged_ += problem ? 1 : 0;
    if (json_) {
        console::WriteLine(results_, JsonChecked(check.File, problem));
    } else if (problem) {
        // The problem can quote the file's own bytes (a chunk's name), which must not drive the
        // terminal.
        WritePath(results_, check.File.Path);
        console::Write(results_, ": ");
        console::WriteName(results_, *problem);
        console::WriteLine(results_);
    }
    console::WriteOutWhatWaited(results_);
}

void Checking::Finish() {
    pool_.WaitUntilFinished();
    if (!json_) {
        console::WriteLine(results_, std::to_string(files_) +
                                         (files_ == 1 ? " file checked, " : " files checked, ") +
                                         std::to_string(damaged_) + " damaged");
    }
}

} // namespace jobs
