// A whole run on a fuzzed index archive beside a small data archive, in a scratch folder: tables,
// records, paths and extraction, in the mode that the input's last byte picks. Afterwards nothing
// may lie outside the archive output folders. The run is made twice, writing files one at a time
// and with a pool of writers, and both must give the same exit code, console text and tree.

#include "csc/reader.h"
#include "json_lines.h"
#include "run/run.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

std::string Head(const fs::path& path) {
    // Lying size fields make sparse files of up to 4 GiB; their start and size tell them apart.
    std::string bytes(4096, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// Every path below folder, with the size and start of each file.
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string& seen = tree[fs::relative(entry.path(), folder).string()];
        if (entry.is_regular_file()) {
            seen = std::to_string(entry.file_size()) + ":" + Head(entry.path());
        }
    }
    return tree;
}

// Only the archives and the "__" folders may stand in the run's folder, nothing beside it, and
// nothing below it may be a link that leads elsewhere.
void RequireContained(const fs::path& runFolder) {
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

struct Outcome {
    int ExitCode = 0;
    std::string Console;
    std::map<std::string, std::string> Tree;
};

// Runs the tool on the fuzzed index beside a small data archive, with extra arguments after the
// mode that the input's last byte picks.
Outcome RunIn(const fs::path& runFolder, unsigned writers, const std::uint8_t* data,
              std::size_t size, const std::vector<std::string>& extra = {}) {
    fs::create_directories(runFolder);
    Put(runFolder / "SchemaMetafile_HardDrive.csc", data, size);
    static const std::string dataArchive(4096, 'd');
    Put(runFolder / "SchemaMetaFile_DVD1.csc",
        reinterpret_cast<const std::uint8_t*>(dataArchive.data()), dataArchive.size());

    fs::path console = Root() / (runFolder.filename().string() + ".console");
    fs::path previous = fs::current_path();
    fs::current_path(runFolder);
    run::RunState state(::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
                        ::open("/dev/null", O_WRONLY | O_CLOEXEC));
    std::vector<std::string> arguments;
    if (size > 0 && data[size - 1] & 1) {
        arguments.push_back("-RAWExtract");
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    Outcome outcome;
    outcome.ExitCode = run::RunProgram(state, arguments, {.Threads = writers});
    platform::Close(state.Output.Out);
    platform::Close(state.Errors.Out);
    fs::current_path(previous);

    RequireContained(runFolder);
    std::ifstream in(console, std::ios::binary);
    outcome.Console.assign(std::istreambuf_iterator<char>(in), {});
    outcome.Tree = Tree(runFolder);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::remove_all(Root());
    Outcome one = RunIn(Root() / "one", 0, data, size);
    Outcome pool = RunIn(Root() / "pool", 4, data, size);
    // The listing (the option form's, RAW as the input picks it) names every file the extraction
    // left, with its size, and a test reads the same files in the same order.
    Outcome list = RunIn(Root() / "list", 2, data, size, {"-l", "--json", "-q"});
    Outcome test = RunIn(Root() / "test", 2, data, size, {"-t", "--json", "-q"});
    // Nothing beside the run folders and their console captures.
    for (const auto& entry : fs::directory_iterator(Root())) {
        std::string name = entry.path().filename().string();
        if (name.ends_with(".console")) {
            name.resize(name.size() - 8);
        }
        if (name != "one" && name != "pool" && name != "list" && name != "test") {
            std::abort();
        }
    }
    if (pool.ExitCode != one.ExitCode || pool.Console != one.Console || pool.Tree != one.Tree) {
        std::abort();
    }
    auto listed = testing_support::Listed(list.Console);
    if (testing_support::Listed(test.Console) != listed) {
        std::abort();
    }
    std::map<std::string, std::uint64_t> last(listed.begin(), listed.end());
    for (const auto& [path, size] : listed) {
        last[path] = size;
    }
    for (const auto& [path, seen] : one.Tree) {
        std::string written = fs::path(path).generic_string();
        bool file = written.starts_with("__") && fs::is_regular_file(Root() / "one" / path);
        if (file && (!last.count(written) ||
                     seen.substr(0, seen.find(':')) != std::to_string(last[written]))) {
            std::abort();
        }
    }
    fs::remove_all(Root());
    return 0;
}
