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
    std::string json = "\"";
    for (char character : platform::NameAsText(bytes)) {
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

std::string CouldNotRead(std::size_t slot, std::uint64_t offset, platform::ErrorCode reason) {
    return "could not read " + std::string(csc::ArchiveFileNames[slot]) + " at offset " +
           std::to_string(offset) + " (" + platform::DescribeError(reason) + ")";
}

} // namespace jobs
