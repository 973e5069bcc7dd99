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
        if (!csc::IsOpen(archives[slot])) {
            // Copies from a disc or another system often change the case of a name; the console
            // and the output folder keep the table's name.
            if (std::optional<std::string> other = platform::FindIgnoringCase(name)) {
                archives[slot] = csc::OpenArchive(*other);
            }
        }
        console::WriteLine(console, csc::IsOpen(archives[slot]) ? "ok" : "not found");
    }
    console::WriteLine(console);
}

void CloseArchives(ArchiveHandles& archives) {
    for (csc::Archive& archive : archives) {
        if (csc::IsOpen(archive)) {
            csc::CloseArchive(archive);
        }
    }
}

} // namespace run
