#pragma once

#include "archive_builder.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace testing_support {

struct DifferentialCase {
    const char* name;
    builder::ArchiveSet set;
    std::function<void(const std::filesystem::path&)> prepare;
    bool writable = true;
};

// Archive sets that put the order of writing to the test: the same path twice, files and folders in
// each other's way, names that decide where files land, many files, a cut index.
std::vector<DifferentialCase> DifferentialSets();

} // namespace testing_support
