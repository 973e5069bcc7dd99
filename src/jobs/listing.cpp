#include "jobs/listing.h"

#include "jobs/results.h"
#include "layout/paths.h"
#include "sound/sound.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace jobs {
namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

} // namespace

void Listing::Take(csc::ExtentReader& stored, FoundFile& file) {
    // Lines come fast: the clock is asked now and then, not for each.
    if (files_ % 64 == 0) {
        console::WriteOutWhatWaited(results_);
    }
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
        const csc::Extent& extent = file.Stored;
        bool told = false;
        details = DetailsOf(file, [&](std::uint64_t offset, std::span<std::uint8_t> into) {
            std::size_t count = static_cast<std::size_t>(
                std::min<std::uint64_t>(into.size(), extent.Held - offset));
            platform::Moved got =
                stored.Read(csc::Extent{extent.Offset + offset, count}, into.data());
            if (got.Error != platform::NoError && !told && onUnread_) {
                onUnread_(Unread{.File = file,
                                 .Offset = extent.Offset + offset + got.Bytes,
                                 .Reason = got.Error});
                told = true;
            }
            return got.Bytes;
        });
    }
    if (json_) {
        console::WriteLine(results_, JsonListed(file, tables_, details));
        return;
    }
    // The size right-aligned in twelve columns.
    std::string& line = line_;
    char digits[24];
    auto count = static_cast<std::size_t>(
        std::to_chars(digits, digits + sizeof digits, file.Size).ptr - digits);
    line.assign(count < 12 ? 12 - count : 0, ' ');
    line.append(digits, count).append("  ");
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
    if (platform::ShownSeparator == '/' && !results_.IsTerminal) {
        // The path as it stands, in the same line: one write to the channel.
        line.append(file.Path.Text).append(results_.LineEnd);
        console::Write(results_, line);
        return;
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

} // namespace jobs
