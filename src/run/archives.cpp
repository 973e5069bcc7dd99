#include "run/archives.h"

#include <optional>
#include <string>

namespace run {

void DiscoverArchives(console::Console& console, ArchiveHandles& archives) {
    console::WriteLine(console, "Searching CSC Archives...");
    for (std::size_t slot = 0; slot < DiscoveredSlots; ++slot) {
        console::Write(console, "  ");
        console::Write(console, ArchiveFileNames[slot]);
        console::Write(console, ": ");
        console::Flush(console);
        std::string name(ArchiveFileNames[slot]);
        archives[slot] = csc::OpenArchive(name);
        if (!csc::IsOpen(archives[slot]) && platform::IsNotFound(archives[slot].Source.OpenError)) {
            // Copies from a disc or another system often change the case of a name; the console
            // and the output folder keep the table's name.
            if (std::optional<std::string> other = platform::FindIgnoringCase("", name)) {
                archives[slot] = csc::OpenArchive(*other);
            }
        }
        if (csc::IsOpen(archives[slot])) {
            console::WriteLine(console, "ok");
        } else {
            WriteWhyNotOpen(console, archives[slot]);
            console::WriteLine(console);
        }
    }
    console::WriteLine(console);
}

void WriteWhyNotOpen(console::Console& console, const csc::Archive& archive) {
    platform::ErrorCode error = archive.Source.OpenError;
    if (platform::IsNotFound(error)) {
        console::Write(console, "not found");
        return;
    }
    console::Write(console, "cannot be read (");
    console::Write(console, platform::DescribeError(error));
    console::Write(console, ")");
}

void CloseArchives(ArchiveHandles& archives) {
    for (csc::Archive& archive : archives) {
        if (csc::IsOpen(archive)) {
            csc::CloseArchive(archive);
        }
    }
}

} // namespace run
