#include "run/archives.h"

#include <optional>
#include <string>

namespace run {

void DiscoverArchives(Status& status, const std::string& folder,
                      std::array<csc::Archive, csc::ArchiveSlots>& archives) {
    status.SearchStarts();
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        status.LookingFor(slot);
        std::string name(csc::ArchiveFileNames[slot]);
        archives[slot] = csc::OpenArchive(platform::PathInFolder(folder, name));
        if (!csc::IsOpen(archives[slot]) && platform::IsNotFound(archives[slot].Source.OpenError)) {
            // Copies from a disc or another system often change the case of a name; the console
            // and the output folder keep the table's name.
            if (std::optional<std::string> other = platform::FindIgnoringCase(folder, name)) {
                archives[slot] = csc::OpenArchive(platform::PathInFolder(folder, *other));
            }
        }
        status.Looked(archives[slot]);
    }
    status.SearchEnds();
}

std::string WhyNotOpen(const csc::Archive& archive) {
    platform::ErrorCode error = archive.Source.OpenError;
    if (platform::IsNotFound(error)) {
        return "not found";
    }
    return "cannot be read (" + platform::DescribeError(error) + ")";
}

} // namespace run
