#include "run/archives.h"

#include <string>

namespace run {

void DiscoverArchives(console::Console& console, ArchiveHandles& archives) {
    console::WriteLine(console, "Searching CSC Archives...");
    for (std::size_t slot = 0; slot < DiscoveredSlots; ++slot) {
        console::Write(console, "  ");
        console::Write(console, ArchiveFileNames[slot]);
        console::Write(console, ": ");
        console::Flush(console);
        archives[slot] = csc::OpenArchive(std::string(ArchiveFileNames[slot]));
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
