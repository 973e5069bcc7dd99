#include "run/archives.h"

#include <optional>
#include <string>

namespace run {

void DiscoverArchives(console::Console& console, bool quiet, const std::string& folder,
                      ArchiveHandles& archives) {
    if (!quiet) {
        console::WriteLine(console, "Searching CSC Archives...");
    }
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        if (!quiet) {
            console::Write(console, "  ");
            console::Write(console, csc::ArchiveFileNames[slot]);
            console::Write(console, ": ");
            console::ShowOnTerminal(console);
        }
        std::string name(csc::ArchiveFileNames[slot]);
        archives[slot] = csc::OpenArchive(platform::PathInFolder(folder, name));
        if (!csc::IsOpen(archives[slot]) && platform::IsNotFound(archives[slot].Source.OpenError)) {
            // Copies from a disc or another system often change the case of a name; the console
            // and the output folder keep the table's name.
            if (std::optional<std::string> other = platform::FindIgnoringCase(folder, name)) {
                archives[slot] = csc::OpenArchive(platform::PathInFolder(folder, *other));
            }
        }
        if (quiet) {
            continue;
        }
        if (csc::IsOpen(archives[slot])) {
            console::WriteLine(console, "ok");
        } else {
            WriteWhyNotOpen(console, archives[slot]);
            console::WriteLine(console);
        }
    }
    if (!quiet) {
        console::WriteLine(console);
    }
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
