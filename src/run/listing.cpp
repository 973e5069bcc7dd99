#include "run/listing.h"

#include "csc/archives.h"
#include "extract/output_path.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace run {
namespace {

const char* FormatName(csc::StoredForm form) {
    return form == csc::StoredForm::Ogg ? "ogg" : form == csc::StoredForm::Wav ? "wav" : nullptr;
}

std::string JsonFormat(csc::StoredForm form) {
    const char* name = FormatName(form);
    return name != nullptr ? JsonString(name) : "null";
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// The fields every JSON line of a file begins with.
std::string JsonFile(const extract::FoundFile& file) {
    return "{\"path\": " + JsonString(file.Path.Text) +
           ", \"archive\": " + JsonString(csc::ArchiveFileNames[file.Slot]) +
           ", \"size\": " + std::to_string(file.Size) + ", \"format\": " + JsonFormat(file.Form);
}

// A sound's headers, read where they stand in the archive, as far as the archive holds the file.
sound::Details DetailsOf(csc::Archive& archive, const extract::FoundFile& file) {
    const csc::Extent& extent = file.Bytes;
    sound::ReadPart read = [&](std::uint64_t offset, std::span<std::uint8_t> into) -> std::size_t {
        if (offset >= extent.Held) {
            return 0;
        }
        std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), extent.Held - offset));
        return csc::ReadExtent(archive, csc::Extent{extent.Offset + offset, count}, into.data());
    };
    if (file.Form == csc::StoredForm::Wav) {
        return sound::WavDetails(read, extent.Held);
    }
    if (file.Form == csc::StoredForm::Ogg) {
        return sound::OggDetails(read, extent.Held);
    }
    return {};
}

// A path in the platform's form, control bytes shown as "?" on a terminal.
void WritePath(console::Console& console, const extract::OutputPath& path) {
    if (platform::ShownSeparator == '/' && !console.IsTerminal) {
        console::Write(console, path.Text); // as it stands: no copy for each of many lines
    } else {
        console::WriteName(console, extract::ShownPath(path));
    }
}

std::string CutShort(std::size_t held, std::uint64_t size) {
    return "cut short: the archive holds " + std::to_string(held) + " of its " +
           std::to_string(size) + " bytes";
}

std::string Optional(const std::optional<std::uint32_t>& value) {
    return value ? std::to_string(*value) : "null";
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (char character : text) {
        auto byte = static_cast<unsigned char>(character);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += character;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else if (byte >= 0x80) {
            json += static_cast<char>(0xC0 | byte >> 6);
            json += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            json += character;
        }
    }
    return json + "\"";
}

void Listing::Take(csc::Archive& archive, extract::FoundFile file) {
    ++files_;
    bytes_ += file.Size;
    if (style_ != ListingStyle::Table) {
        WritePath(results_, file.Path);
        if (style_ == ListingStyle::Names) {
            console::WriteLine(results_);
        } else {
            console::WriteChar(results_, '\0');
        }
        return;
    }
    std::optional<sound::Details> details;
    if (details_) {
        details = DetailsOf(archive, file);
    }
    if (json_) {
        std::string line = JsonFile(file);
        if (details) {
            line += ", \"codec\": " + JsonString(details->Codec) +
                    ", \"channels\": " + Optional(details->Channels) +
                    ", \"rate\": " + Optional(details->Rate) + ", \"seconds\": " +
                    (details->Seconds ? Seconds(*details->Seconds) : std::string("null"));
        }
        console::WriteLine(results_, line + "}");
        return;
    }
    std::string& line = line_;
    line.assign(12, ' ');
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, file.Size).ptr;
    auto count = static_cast<std::size_t>(end - digits);
    line.replace(count < 12 ? 12 - count : 0, count, digits, count);
    line += "  ";
    if (details) {
        const char* format = FormatName(file.Form);
        char columns[96];
        std::snprintf(columns, sizeof columns, "%-3s  %-7s  %2s ch  %6s Hz  %9s s  ",
                      format != nullptr ? format : "-", std::string(details->Codec).c_str(),
                      details->Channels ? std::to_string(*details->Channels).c_str() : "-",
                      details->Rate ? std::to_string(*details->Rate).c_str() : "-",
                      details->Seconds ? Seconds(*details->Seconds).c_str() : "-");
        line += columns;
    }
    console::Write(results_, line);
    WritePath(results_, file.Path);
    console::WriteLine(results_);
}

void Listing::Finish() {
    if (!json_ && style_ == ListingStyle::Table) {
        console::WriteLine(results_,
                           std::to_string(files_) + (files_ == 1 ? " file, " : " files, ") +
                               std::to_string(bytes_) + (bytes_ == 1 ? " byte" : " bytes"));
    }
}

void Stream::Take(csc::Archive& archive, extract::FoundFile file) {
    constexpr std::size_t PieceBytes = 256u << 10;
    const csc::Extent& extent = file.Bytes;
    console::WriteOutEverything(results_);
    piece_.resize(PieceBytes);
    for (std::size_t done = 0; done < extent.Held && WantsMore();) {
        std::size_t count = std::min(PieceBytes, extent.Held - done);
        std::size_t read =
            csc::ReadExtent(archive, csc::Extent{extent.Offset + done, count}, piece_.data());
        std::fill(piece_.begin() + static_cast<std::ptrdiff_t>(read),
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

void Stream::Put(const std::uint8_t* bytes, std::size_t count) {
    platform::Written written = platform::Write(results_.Out, bytes, count);
    if (written.Error != platform::NoError) {
        results_.WriteError = written.Error;
    }
}

Checker::Checker(console::Console& results, bool json, unsigned workers)
    : results_(results), json_(json),
      pool_(
          workers, extract::PoolBounds{},
          [](Check& check) {
              if (check.Problem || check.File.Form == csc::StoredForm::Bare) {
                  return;
              }
              std::span<const std::uint8_t> bytes(check.Bytes.get(), check.Read);
              check.Problem = check.File.Form == csc::StoredForm::Ogg ? sound::OggProblem(bytes)
                                                                      : sound::WavProblem(bytes);
          },
          [this](Check& check) {
              // Only small buffers are kept, and few: they spare the page faults of a new buffer
              // for each of many small files, and cost little however many large ones there are.
              if (check.Bytes && check.Room <= LargestSpare && spare_.size() < MostSpares) {
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

void Checker::Take(csc::Archive& archive, extract::FoundFile file) {
    Check check{.Order = files_++,
                .File = std::move(file),
                .Bytes = {},
                .Room = 0,
                .Read = 0,
                .Problem = {}};
    const csc::Extent& extent = check.File.Bytes;
    if (extent.Held < check.File.Size) {
        check.Problem = CutShort(extent.Held, check.File.Size);
    } else if (check.File.Form != csc::StoredForm::Bare) {
        pool_.WaitForRoom(extent.Held);
        auto fits = std::find_if(spare_.begin(), spare_.end(),
                                 [&](const auto& spare) { return spare.second >= extent.Held; });
        if (fits != spare_.end()) {
            check.Bytes = std::move(fits->first);
            check.Room = fits->second;
            spare_.erase(fits);
        } else {
            check.Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(extent.Held);
            check.Room = extent.Held;
        }
        check.Read = csc::ReadExtent(archive, extent, check.Bytes.get());
        if (check.Read < extent.Held) {
            check.Problem = CutShort(check.Read, check.File.Size);
        }
    }
    std::uint64_t cost = check.Room;
    pool_.Submit(std::move(check), cost);
}

void Checker::Report(Check& check) {
    const std::optional<std::string>& problem = check.Problem;
    damaged_ += problem ? 1 : 0;
    if (json_) {
        console::WriteLine(
            results_,
            JsonFile(check.File) + ", \"ok\": " + (problem ? "false" : "true") +
                ", \"problem\": " + (problem ? JsonString(*problem) : std::string("null")) + "}");
    } else if (problem) {
        // The problem can quote the file's own bytes (a chunk's name), which must not drive the
        // terminal.
        WritePath(results_, check.File.Path);
        console::Write(results_, ": ");
        console::WriteName(results_, *problem);
        console::WriteLine(results_);
    }
}

void Checker::Finish() {
    pool_.WaitUntilFinished();
    if (!json_) {
        console::WriteLine(results_, std::to_string(files_) +
                                         (files_ == 1 ? " file checked, " : " files checked, ") +
                                         std::to_string(damaged_) + " damaged");
    }
}

} // namespace run
