// A whole run on a fuzzed index archive beside a small data archive, in a scratch folder: tables,
// records, paths and extraction, in the mode that the input's last byte picks. Afterwards nothing
// may lie outside the archive output folders.

#include "csc/reader.h"
#include "run/run.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path& Root() {
    static const fs::path root =
        fs::temp_directory_path() / ("cscunpack-fuzz-" + std::to_string(::getpid()));
    return root;
}

void Put(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Only the archives and the "__" folders may stand in the run's folder, nothing beside it, and
// nothing below it may be a link that leads elsewhere.
void RequireContained(const fs::path& runFolder) {
    for (const auto& entry : fs::directory_iterator(Root())) {
        if (entry.path() != runFolder) {
            std::abort();
        }
    }
    for (const auto& entry : fs::directory_iterator(runFolder)) {
        std::string name = entry.path().filename().string();
        bool archive = name.ends_with(".csc") && entry.is_regular_file();
        if (!archive && !(name.starts_with("__") && entry.is_directory())) {
            std::abort();
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(runFolder)) {
        if (entry.is_symlink()) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::path runFolder = Root() / "run";
    fs::remove_all(Root());
    fs::create_directories(runFolder);
    Put(runFolder / "SchemaMetafile_HardDrive.csc", data, size);
    static const std::string dataArchive(4096, 'd');
    Put(runFolder / "SchemaMetaFile_DVD1.csc",
        reinterpret_cast<const std::uint8_t*>(dataArchive.data()), dataArchive.size());

    fs::path previous = fs::current_path();
    fs::current_path(runFolder);
    run::Run state; // no output handle: the console text goes nowhere
    std::optional<std::string> option;
    if (size > 0 && data[size - 1] & 1) {
        option = "-RAWExtract";
    }
    run::RunProgram(state, option);
    fs::current_path(previous);

    RequireContained(runFolder);
    fs::remove_all(Root());
    return 0;
}
