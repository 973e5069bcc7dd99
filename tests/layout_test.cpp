// The layout: the tree a run makes in an empty folder, placed as the walk finds the files, against
// what an extraction writes, on every machine.

#include "archive_builder.h"
#include "differential_sets.h"
#include "jobs/mounting.h"
#include "run/run.h"
#include "run/status.h"
#include "run/walk.h"
#include "test_support.h"

#include <gtest/gtest.h>

using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

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

// Where each file lands, and why one does not: the later file of a place takes it, a file never
// takes a folder's place nor a folder a file's, a name's own folders are used only where they
// stand, and names, paths and depths past the limits land nowhere.
TEST(Layout, EachFileLandsOrSaysWhyNot) {
    csc::IndexTables none;
    layout::Tree tree(none, {.LongestName = 8, .LongestPath = 20, .MostFolderLevels = 4});
    struct Case {
        std::string path;
        std::uint32_t made, named;
        bool lands, takesAFilesPlace, missing;
        platform::ErrorCode reason;
    };
    const Case cases[] = {
        {"a/b/f", 2, 0, true, false, false, platform::NoError},
        {"a/b/f", 2, 0, true, true, false, platform::NoError},
        {"a/b/f/g", 3, 0, false, false, false, platform::NotAFolderError()},
        {"a/b", 1, 0, false, false, false, platform::FolderInTheWayError()},
        {"a/b/", 2, 0, false, false, false, platform::FolderInTheWayError()},
        {"a/b/c/g", 2, 1, false, false, true, platform::NotFoundError()},
        {"a/b/c/x", 3, 0, true, false, false, platform::NoError},
        {"a/b/c/g", 2, 1, true, false, false, platform::NoError}, // c stands now
        {"a/b/c/x/y", 2, 2, false, false, false, platform::NotAFolderError()},
        {"a/toolongname", 1, 0, false, false, false, platform::NameTooLongError()},
        {"a/b/c/d/e/f", 5, 0, false, false, false, platform::NameTooLongError()},
        {"a/b/c/gggggggg/hhhhhhhh", 4, 0, false, false, false, platform::NameTooLongError()},
        {"a/b/c/gggggggg/h", 4, 0, true, false, false, platform::NoError}, // its folder was made
    };
    for (const Case& c : cases) {
        layout::Landing landing = tree.Place(c.path, c.made, c.named, {});
        EXPECT_EQ(landing.Entry != layout::None, c.lands) << c.path;
        EXPECT_EQ(landing.TakesAFilesPlace, c.takesAFilesPlace) << c.path;
        EXPECT_EQ(landing.NameFoldersMissing, c.missing) << c.path;
        EXPECT_EQ(landing.Reason, c.reason) << c.path;
    }
}
