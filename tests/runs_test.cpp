// Whole runs in this process, through RunProgram, on every set that puts the order of writing to
// the test: a pool writes what one writer writes, every job sees what an extraction writes, and
// the layout holds it.

#include "archive_builder.h"
#include "differential_sets.h"
#include "jobs/mounting.h"
#include "json_lines.h"
#include "run/run.h"
#include "run/status.h"
#include "run/walk.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using builder::File;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int ExitCode = -1;
    std::string Console;
    std::map<std::string, std::string> Tree;
};

// Runs the tool in a fresh folder holding set; prepare may put things in the way first.
Outcome RunWith(unsigned writers, const builder::ArchiveSet& set,
                const std::vector<std::string>& arguments,
                const std::function<void(const fs::path&)>& prepare) {
    testing_support::TempFolder folder;
    builder::WriteArchiveSet(set, folder.Path());
    prepare(folder.Path());
    testing_support::TempFolder captured;
    Outcome outcome;
    {
        testing_support::InFolder inside(folder.Path());
        run::RunState state(testing_support::CreateForWriting(captured.Path() / "out"),
                            testing_support::CreateForWriting(captured.Path() / "err"));
        outcome.ExitCode = run::RunProgram(state, arguments, {.Threads = writers});
        platform::Close(state.Output.Out);
        platform::Close(state.Errors.Out);
    }
    outcome.Console = testing_support::ReadFile(captured.Path() / "out");
    outcome.Tree = testing_support::Tree(folder.Path());
    return outcome;
}

} // namespace

TEST(Writers, APoolWritesWhatOneWriterWrites) {
    const std::vector<testing_support::DifferentialCase> cases =
        testing_support::DifferentialSets();
    for (const testing_support::DifferentialCase& c : cases) {
        for (bool raw : {false, true}) {
            std::vector<std::string> mode;
            if (raw) {
                mode.push_back("-RAWExtract");
            }
            Outcome one = RunWith(0, c.set, mode, c.prepare);
            Outcome pool = RunWith(4, c.set, mode, c.prepare);
            EXPECT_EQ(pool.ExitCode, one.ExitCode) << c.name << (raw ? ", RAW" : "");
            EXPECT_EQ(pool.Console, one.Console) << c.name << (raw ? ", RAW" : "");
            EXPECT_EQ(pool.Tree, one.Tree) << c.name << (raw ? ", RAW" : "");
        }
    }
}

namespace {

std::map<std::string, std::string> FilesOf(const std::map<std::string, std::string>& tree) {
    std::map<std::string, std::string> files;
    for (const auto& [path, bytes] : tree) {
        if (!path.ends_with("/")) {
            files[path] = bytes;
        }
    }
    return files;
}

} // namespace

// The three jobs cannot differ in which files they see or in what order: the listing names what
// extraction writes, with its size, testing reads the same files, and patterns take exactly their
// share of a full run, byte for byte.
TEST(Walk, ListingTestingAndPatternsSeeWhatExtractionWrites) {
    auto nothing = [](const fs::path&) {};
    for (const testing_support::DifferentialCase& c : testing_support::DifferentialSets()) {
        for (bool raw : {false, true}) {
            std::vector<std::string> mode = {"-q"};
            if (raw) {
                mode.push_back("-r");
            }
            auto with = [&](std::vector<std::string> more) {
                more.insert(more.end(), mode.begin(), mode.end());
                return more;
            };
            std::string name = std::string(c.name) + (raw ? ", RAW" : "");
            Outcome full = RunWith(4, c.set, mode, c.prepare);
            auto listed =
                testing_support::Listed(RunWith(4, c.set, with({"-l", "--json"}), nothing).Console);
            auto tested =
                testing_support::Listed(RunWith(4, c.set, with({"-t", "--json"}), nothing).Console);
            EXPECT_EQ(tested, listed) << name;
            std::map<std::string, std::uint64_t> last(listed.begin(), listed.end());
            for (const auto& [path, size] : listed) {
                last[path] = size; // a path written twice holds the later file
            }
            std::map<std::string, std::string> files = FilesOf(full.Tree);
            for (const auto& [path, bytes] : files) {
                auto found = last.find(path);
                ASSERT_NE(found, last.end()) << name << ": " << path << " was not listed";
                EXPECT_EQ(found->second, bytes.size()) << name << ": " << path;
            }
            if (c.writable && full.ExitCode == 0) {
                EXPECT_EQ(last.size(), files.size()) << name;
            }
            // Each pattern with what it leaves out, written out here: file names holding an "a",
            // and everything below a folder whose name starts with "M".
            const std::pair<const char*, bool (*)(const std::string&)> patterns[] = {
                {"*a*.ogg",
                 [](const std::string& path) {
                     std::string name = path.substr(path.rfind('/') + 1);
                     return name.ends_with(".ogg") && name.find_first_of("aA") < name.size() - 4;
                 }},
                {"M*/",
                 [](const std::string& path) {
                     return path.find("/M") < path.rfind('/') || path.find("/m") < path.rfind('/');
                 }},
            };
            for (const auto& [pattern, leftOut] : patterns) {
                Outcome part = RunWith(4, c.set, with({"-x", pattern}), c.prepare);
                std::map<std::string, std::string> share;
                for (const auto& [path, bytes] : files) {
                    if (!leftOut(path)) {
                        share[path] = bytes;
                    }
                }
                EXPECT_EQ(FilesOf(part.Tree), share) << name << ", -x " << pattern;
            }
        }
    }
}

namespace {

// The tree the mount shows of the archives in folder, as a run with the options would write it:
// every folder and file with its bytes, read through the mount's own interface, ByTag/ left out.
Tree Placed(const fs::path& folder, const run::WalkSettings& settings) {
    csc::Index index;
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        index.Archives[slot] =
            csc::OpenArchive((folder / std::string(csc::ArchiveFileNames[slot])).string());
    }
    for (csc::Table table : csc::TablesInOrder) {
        csc::ReadTable(index.Archives[csc::IndexArchive], table, index.Tables);
    }
    console::Console nowhere = console::OpenChannel(testing_support::CreateForWriting("/dev/null"));
    run::Status status(nowhere, nowhere);
    status.Configure({.Quiet = true});
    run::WalkCounts counts;
    jobs::Mounting mounting(index.Tables, {}, false);
    run::Walk(index, status, settings, mounting, counts);
    mounting.Finish();
    Tree tree;
    std::function<void(std::uint64_t, const std::string&)> visit = [&](std::uint64_t entry,
                                                                       const std::string& path) {
        mounting.ForEachIn(entry, 0,
                           [&](std::string_view name, std::uint64_t child, std::uint64_t) {
                               std::string below = path + std::string(name);
                               if (below == "ByTag") {
                                   return true;
                               }
                               EXPECT_EQ(mounting.Lookup(entry, name), child) << below;
                               if (mounting.Entry(child)->Folder) {
                                   tree[below + "/"] = "";
                                   visit(child, below + "/");
                               } else {
                                   std::string bytes(mounting.Entry(child)->Size, '\0');
                                   mounting.Read(child, 0, bytes.data(), bytes.size());
                                   tree[below] = bytes;
                               }
                               return true;
                           });
    };
    visit(0, "");
    platform::Close(nowhere.Out);
    csc::CloseIndex(index);
    return tree;
}

Tree Extracted(const fs::path& folder, const std::vector<std::string>& arguments) {
    testing_support::TempFolder out;
    std::vector<std::string> all = {"-q", "-d", out.Path().string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    testing_support::TempFolder captured;
    testing_support::InFolder inside(folder);
    run::RunState state(testing_support::CreateForWriting(captured.Path() / "out"),
                        testing_support::CreateForWriting(captured.Path() / "err"));
    run::RunProgram(state, all, {.Threads = 2});
    platform::Close(state.Output.Out);
    platform::Close(state.Errors.Out);
    return testing_support::Tree(out.Path());
}

} // namespace

// On every set that puts the order of writing to the test, names of 255 bytes and more and paths
// of 4,095 and more among them, the layout holds what an extraction into an empty folder writes:
// the same folders, and the same files with the same bytes.
TEST(Layout, PlacesWhatAnExtractionWrites) {
    for (const testing_support::DifferentialCase& c : testing_support::DifferentialSets()) {
        if (!c.writable) {
            continue; // the same sets, with something in the output folder's way
        }
        testing_support::TempFolder archives;
        builder::WriteArchiveSet(c.set, archives.Path());
        for (bool raw : {false, true}) {
            std::string name = std::string(c.name) + (raw ? ", RAW" : "");
            EXPECT_EQ(Placed(archives.Path(), {.Raw = raw}),
                      Extracted(archives.Path(),
                                raw ? std::vector<std::string>{"-r"} : std::vector<std::string>{}))
                << name;
        }
    }
}
