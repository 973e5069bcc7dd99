#include "jobs/results.h"

#include "csc/archives.h"

#include <cstdio>

namespace jobs {
namespace {

std::string JsonFormat(csc::StoredForm form) {
    const char* name = FormatName(form);
    return name != nullptr ? JsonString(name) : "null";
}

} // namespace

std::string JsonString(std::string_view bytes) {
    return JsonText(platform::NameAsText(bytes));
}

std::string JsonText(std::string_view text) {
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
        } else {
            json += character;
        }
    }
    return json + "\"";
}

const char* FormatName(csc::StoredForm form) {
    return form == csc::StoredForm::Ogg ? "ogg" : form == csc::StoredForm::Wav ? "wav" : nullptr;
}

std::string JsonFile(const FoundFile& file) {
    return "{\"path\": " + JsonString(file.Path.Text) +
           ", \"archive\": " + JsonString(csc::ArchiveFileNames[file.Slot]) +
           ", \"size\": " + std::to_string(file.Size) + ", \"format\": " + JsonFormat(file.Form);
}

void WritePath(console::Console& console, const layout::OutputPath& path) {
    if (platform::ShownSeparator == '/' && !console.IsTerminal) {
        console::Write(console, path.Text); // as it stands: no copy for each of many lines
    } else {
        console::WriteName(console, layout::ShownPath(path));
    }
}

namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string Optional(const std::optional<std::uint32_t>& value) {
    return value ? std::to_string(*value) : "null";
}

} // namespace

sound::Details DetailsOf(const FoundFile& file, const sound::ReadPart& read) {
    std::uint64_t held = file.Stored.Held;
    sound::ReadPart within = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        return offset >= held
                   ? std::size_t{0}
                   : read(offset, into.first(std::min<std::uint64_t>(into.size(), held - offset)));
    };
    if (file.Form == csc::StoredForm::Wav) {
        return sound::WavDetails(within, held);
    }
    if (file.Form == csc::StoredForm::Ogg) {
        return sound::OggDetails(within, held);
    }
    return {};
}

std::string JsonListed(const FoundFile& file, const csc::IndexTables& tables,
                       const std::optional<sound::Details>& details) {
    std::string line = JsonFile(file);
    // Every tag a tagged sound carries, though a run files it under its first alone.
    line += ", \"tags\": ";
    if (file.Tagged != nullptr) {
        line += "[";
        for (std::size_t k = 0; k < file.Tagged->TagRefs.size(); ++k) {
            line +=
                (k == 0 ? "" : ", ") + JsonString(layout::TagFolderName(tables, *file.Tagged, k));
        }
        line += "]";
    } else {
        line += "null";
    }
    line += ", \"mission\": " +
            (file.Mission != nullptr ? JsonString(file.Mission->Name) : std::string("null"));
    if (details) {
        line += ", \"codec\": " + JsonString(details->Codec) +
                ", \"channels\": " + Optional(details->Channels) +
                ", \"rate\": " + Optional(details->Rate) + ", \"seconds\": " +
                (details->Seconds ? Seconds(*details->Seconds) : std::string("null"));
    }
    return line + "}";
}

std::string CutShort(std::uint64_t held, std::uint64_t size) {
    return "cut short: the archive holds " + std::to_string(held) + " of its " +
           std::to_string(size) + " bytes";
}

std::optional<std::string> SoundProblem(csc::StoredForm form, std::span<const std::uint8_t> bytes) {
    return form == csc::StoredForm::Ogg   ? sound::OggProblem(bytes)
           : form == csc::StoredForm::Wav ? sound::WavProblem(bytes)
                                          : std::nullopt;
}

std::string JsonChecked(const FoundFile& file, const std::optional<std::string>& problem) {
    return JsonFile(file) + ", \"ok\": " + (problem ? "false" : "true") +
           ", \"problem\": " + (problem ? JsonString(*problem) : std::string("null")) + "}";
}

std::string CouldNotRead(std::size_t slot, std::uint64_t offset, platform::ErrorCode reason) {
    return "could not read " + std::string(csc::ArchiveFileNames[slot]) + " at offset " +
           std::to_string(offset) + " (" + platform::DescribeError(reason) + ")";
}

} // namespace jobs
