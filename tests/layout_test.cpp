// The layout: the tree a run makes in an empty folder, placed as the walk finds the files (held
// against whole extractions in runs_test.cpp).

#include "layout/tree.h"

#include <gtest/gtest.h>

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
