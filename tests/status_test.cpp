// The status: the one count of what went wrong, from which the exit code comes.

#include "run/status.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>

// The exit code comes from what the run was told, in one order: output lost, an interrupt, an
// error, a warning or a damaged file, else 0; quiet shows no progress, but every warning.
TEST(Status, TheExitCodeComesFromWhatWasCounted) {
    struct Case {
        const char* name;
        std::function<void(run::Status&)> tell;
        int exitCode;
    };
    const Case cases[] = {
        {"nothing", [](run::Status&) {}, 0},
        {"a banner", [](run::Status& s) { s.Banner(); }, 0},
        {"a warning", [](run::Status& s) { s.Warning("no file matches 'x'"); }, 1},
        {"a damaged file", [](run::Status& s) { s.Damaged(1); }, 1},
        {"an error", [](run::Status& s) { s.Error("cscunpack: no index"); }, 2},
        {"a usage error", [](run::Status& s) { s.UsageError("unknown option '-V'"); }, 2},
        {"an error after warnings",
         [](run::Status& s) {
             s.Warning("w");
             s.Error("e");
         },
         2},
        {"an interrupt after an error",
         [](run::Status& s) {
             s.Error("e");
             s.Interrupted("Interrupted");
         },
         130},
    };
    testing_support::TempFolder folder;
    for (bool quiet : {false, true}) {
        for (const Case& c : cases) {
            console::Console out =
                console::OpenChannel(testing_support::CreateForWriting(folder.Path() / "out"));
            console::Console err =
                console::OpenChannel(testing_support::CreateForWriting(folder.Path() / "err"));
            run::Status status(out, err);
            status.Configure({.Classic = false, .Quiet = quiet});
            c.tell(status);
            EXPECT_EQ(status.End(), c.exitCode) << c.name;
            platform::Close(out.Out);
            platform::Close(err.Out);
            std::string said = testing_support::ReadFile(folder.Path() / "err");
            EXPECT_EQ(said.find("Corvane"), quiet ? std::string::npos : said.find("Corvane"));
            if (std::string(c.name) == "a warning") {
                EXPECT_EQ(said, "cscunpack: warning: no file matches 'x'\n") << quiet;
            }
        }
    }
    // Output that could not be written wins over everything the run was told.
    console::Console full = console::OpenChannel(testing_support::CreateForWriting("/dev/full"));
    console::Console err =
        console::OpenChannel(testing_support::CreateForWriting(folder.Path() / "err"));
    run::Status status(full, err);
    status.Configure({.Classic = false});
    status.Result("12 files written");
    status.Interrupted("Interrupted");
    EXPECT_EQ(status.End(), 3);
    platform::Close(full.Out);
    platform::Close(err.Out);
}
