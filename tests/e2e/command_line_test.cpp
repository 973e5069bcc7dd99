// The command line as users of other unpackers type it: typos that write nothing, bundled
// options, messages in the tool's words, results a script can read, patterns, and the summary.

#include "archive_builder.h"
#include "expected.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <set>

using builder::File;
using expected::Lines;
using testing_support::RunTool;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

const std::string Edited = "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg";

// The sample beside a tree in which the user has just edited one sound.
struct EditedSample {
    TempFolder folder;
    EditedSample() {
        builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
        fs::create_directories((folder.Path() / Edited).parent_path());
        testing_support::WriteFile(folder.Path() / Edited, "edited by hand");
    }
    Tree Written() const { return testing_support::Tree(folder.Path()); }
};

using expected::Native;

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The files a plain run writes, by path, in the form the listing shows.
std::vector<std::string> ExtractedPaths(const fs::path& archives) {
    TempFolder out;
    RunTool(archives, {"-q", "-d", Native(out.Path())});
    std::vector<std::string> paths;
    for (const auto& [path, bytes] : testing_support::Tree(out.Path())) {
        if (!path.ends_with("/")) {
            paths.push_back(expected::Shown(path));
        }
    }
    return Sorted(paths);
}

} // namespace

// What users of unzip, bsdtar and 7-Zip type by habit: each typo is refused before anything is
// opened or made, and the sound the user edited stays as it is.
TEST(CommandLine, TyposWriteNothing) {
    const std::pair<std::vector<std::string>, std::string> typos[] = {
        {{"-L"}, "unknown option '-L'"},
        {{"-V"}, "unknown option '-V'"},
        {{"-n"}, "unknown option '-n'"},
        {{"-C", "out"}, "unknown option '-C'"},
        {{"-o", "out"}, "unknown option '-o'"},
        {{"-p", "hello.wav"},
         "unexpected argument 'hello.wav'; an archives folder goes after -a, a file to take after "
         "-i"},
        {{"hello.wav"},
         "unexpected argument 'hello.wav'; an archives folder goes after -a, a file to take after "
         "-i"},
        {{"-xvf", "sounds.tar"},
         "'-xvf' would leave out the files that match 'vf', as -x takes the rest of the word: "
         "cscunpack extracts without tar's -xvf, and leaves out 'vf' with -x vf"},
        {{"-x", ""}, "option '--exclude' needs a pattern that names files, not ''"},
        {{"-i", "/"}, "option '--include' needs a pattern that names files, not '/'"},
        {{"-rawextract"}, "unknown option '-rawextract'; did you mean -RAWExtract?"},
        {{"x", "-RAWExtract"},
         "unexpected argument 'x'; an archives folder goes after -a, a file to take after -i"},
        {{"-RAWExtract", "-foo"}, "unknown option '-f'"},
        {{"--list=no"}, "option '--list' takes no value"},
        {{"--test=0"}, "option '--test' takes no value"},
        {{"-d", ""}, "option '--output-dir' needs a folder, not an empty name"},
        {{"--output-dir="}, "option '--output-dir' needs a folder, not an empty name"},
        {{"--lst"}, "unknown option '--lst'; did you mean --list?"},
        {{"-j"}, "option '-j' needs a value"},
        {{"-j", "abc"}, "option '--threads' takes a number from 0 to 64, not 'abc'"},
        {{"-l", "--", "-q"},
         "unexpected argument '-q'; an archives folder goes after -a, a file to take after -i"},
    };
    EditedSample sample;
    const Tree before = sample.Written();
    for (const auto& [arguments, problem] : typos) {
        auto run = RunTool(sample.folder.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 2) << arguments[0];
        EXPECT_EQ(run.Output, "") << arguments[0];
        EXPECT_EQ(run.Errors, "cscunpack: " + problem + expected::LineEnd +
                                  "Try 'cscunpack --help'" + expected::LineEnd);
    }
    EXPECT_EQ(sample.Written(), before) << "nothing made, nothing written";

    // Bundled, the habits of getopt mean what they say: a listing, a test, an output folder.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-lq"}, {"-tq"}, {"-lqa", "."}, {"--list", "--quiet"}}) {
        auto run = RunTool(sample.folder.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 0) << arguments[0] << run.Errors;
        EXPECT_EQ(run.Errors, "") << arguments[0];
        EXPECT_EQ(Lines(run.Output).back(),
                  arguments[0] == "-tq" ? "12 files checked, 0 damaged" : "12 files, 40816 bytes");
    }
    EXPECT_EQ(sample.Written(), before);
    auto out = RunTool(sample.folder.Path(), {"-qdout"});
    EXPECT_EQ(out.ExitCode, 0) << out.Errors;
    EXPECT_EQ(sample.Written().at(Edited), "edited by hand");
    EXPECT_EQ(testing_support::Tree(sample.folder.Path() / "out").size(), 36u);
}

// A run that cannot do its work makes no folder: not for a missing archives folder, nor for a
// folder without the index.
TEST(CommandLine, ARunThatFailsBeforeItsWorkMakesNoFolder) {
    TempFolder folder;
    fs::create_directory(folder.Path() / "empty");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-q", "-a", Native(folder.Path() / "nonexistent"), "-d", "newA/B/C"},
         "cscunpack: cannot read the archives folder " + Native(folder.Path() / "nonexistent") +
             " ("},
        {{"-q", "-a", Native(folder.Path() / "empty"), "-d", "newA/B/C"},
         "cscunpack: no SchemaMetafile_HardDrive.csc in " + Native(folder.Path() / "empty")},
        {{"-q", "-d", "newA/B/C"},
         "cscunpack: no SchemaMetafile_HardDrive.csc in the current folder"},
    };
    for (const auto& [arguments, error] : cases) {
        auto run = RunTool(folder.Path(), arguments);
        EXPECT_EQ(run.ExitCode, 2);
        std::vector<std::string> lines = Lines(run.Errors);
        ASSERT_EQ(lines.size(), 1u) << run.Errors;
        EXPECT_TRUE(lines[0].starts_with(error)) << lines[0];
        EXPECT_FALSE(fs::exists(folder.Path() / "newA")) << error;
    }
}

// An output folder that cannot be written into (a disc copy of another user's with -d forgotten, or
// a folder named by -d) is one line and exit 2 before any file is tried, however it was chosen.
TEST(CommandLine, AnOutputFolderThatCannotBeWrittenIsOneLine) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "the rights of POSIX users";
    }
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    fs::create_directory(folder.Path() / "locked");
    testing_support::Limits others;
    if (::geteuid() == 0) {
        others.AsNobody = true; // the folders are root's
    } else {
        fs::permissions(folder.Path(), fs::perms::owner_write, fs::perm_options::remove);
        fs::permissions(folder.Path() / "locked", fs::perms::owner_write, fs::perm_options::remove);
    }
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-q"}, "cscunpack: cannot write into the current folder (Permission denied)"},
        {{"-q", "-d", "locked"},
         "cscunpack: cannot write into the output folder locked (Permission denied)"},
        {{"-d", "locked/new"},
         "cscunpack: cannot write into the output folder locked/new (Permission denied)"},
    };
    for (const auto& [arguments, error] : cases) {
        auto run = RunTool(folder.Path(), arguments, others);
        EXPECT_EQ(run.ExitCode, 2) << error;
        EXPECT_EQ(run.Output, "") << error;
        EXPECT_EQ(Lines(run.Errors).back(), error);
        EXPECT_EQ(run.Errors.find("could not write"), std::string::npos) << run.Errors;
    }
}

// Names with spaces and line ends survive --names and -0, where the table's columns would not.
TEST(CommandLine, NamesOnlyListingsSurviveAnyName) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("Two words", {{File("a b", 3, "A"), File("tab\there", 4, "B")}});
    if (!UnderLauncher()) {
        set.AddMissionSound("M", {{File("new\nline", 3, "C")}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    std::vector<std::string> paths = ExtractedPaths(folder.Path());
    ASSERT_EQ(paths.size(), UnderLauncher() ? 2u : 3u);

    auto names = RunTool(folder.Path(), {"--names", "-q"});
    EXPECT_EQ(names.ExitCode, 0);
    if (UnderLauncher()) {
        EXPECT_EQ(Sorted(Lines(names.Output)), paths);
    } else {
        // A line end inside a name cannot be told from one between names, but every name is there
        // whole, and every line ends with LF alone.
        std::size_t length = 0;
        for (const std::string& path : paths) {
            EXPECT_NE(names.Output.find(path + "\n"), std::string::npos) << path;
            length += path.size() + 1;
        }
        EXPECT_EQ(names.Output.size(), length);
        EXPECT_EQ(names.Output.find('\r'), std::string::npos);
    }
    auto nul = RunTool(folder.Path(), {"-0q"});
    EXPECT_EQ(nul.ExitCode, 0);
    std::vector<std::string> ended;
    for (std::size_t begin = 0; begin < nul.Output.size();) {
        std::size_t end = nul.Output.find('\0', begin);
        ASSERT_NE(end, std::string::npos) << "every path ends with a zero byte";
        ended.push_back(nul.Output.substr(begin, end - begin));
        begin = end + 1;
    }
    EXPECT_EQ(Sorted(ended), paths);
}

// -p writes exactly the bytes a run writes, file after file, zero tail included, and no file.
TEST(CommandLine, ToStdoutGivesTheBytesARunWrites) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("first", 3, "FIRST"), File("second", 4, "SECOND")}});
    builder::StoredFile cut = File("cut", 4, "CUT");
    cut.OggSize = 8; // the archive ends three bytes into it
    set.AddMissionSound("N", {{cut}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    TempFolder out;
    RunTool(folder.Path(), {"-q", "-d", Native(out.Path())});
    Tree written = testing_support::Tree(out.Path());

    auto one = RunTool(folder.Path(), {"-p", "-i", "second.ogg"});
    EXPECT_EQ(one.ExitCode, 1) << "the cut file's archive ended early: " << one.Errors;
    EXPECT_EQ(one.Output, written.at("__SchemaMetaFile_DVD2.csc/MissionSounds/M/second.ogg"));
    auto all = RunTool(folder.Path(), {"--to-stdout", "-q"});
    EXPECT_EQ(all.Output, written.at("__SchemaMetaFile_DVD1.csc/MissionSounds/M/first.ogg") +
                              written.at("__SchemaMetaFile_DVD2.csc/MissionSounds/M/second.ogg") +
                              written.at("__SchemaMetaFile_DVD2.csc/MissionSounds/N/cut.ogg"));
    EXPECT_EQ(written.at("__SchemaMetaFile_DVD2.csc/MissionSounds/N/cut.ogg").size(), 8u);
    EXPECT_EQ(testing_support::Tree(folder.Path()).size(), 0u) << "no file, no folder";
    if (!UnderLauncher()) {
        auto terminal = testing_support::RunToolOnTerminal(folder.Path(), {"-p"});
        EXPECT_EQ(terminal.ExitCode, 2);
        EXPECT_NE(terminal.Output.find("cscunpack: --to-stdout writes the sounds' bytes"),
                  std::string::npos);
    }
}

// The listing owns a terminal it shares with the progress line: no item is drawn into it. An
// extraction in the option form draws items that count the whole run.
TEST(CommandLine, ResultsAndTheProgressLineDoNotShareATerminal) {
    if (UnderLauncher()) {
        GTEST_SKIP() << "Wine draws on a pseudo-terminal with its own control sequences";
    }
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    auto list = testing_support::RunToolOnTerminal(folder.Path(), {"-l"}, 200);
    EXPECT_EQ(list.ExitCode, 0);
    EXPECT_EQ(list.Output.find("] "), std::string::npos) << "no progress item: " << list.Output;
    EXPECT_NE(list.Output.find("Phase 1 of 2: Listing tagged sounds...\r\n"), std::string::npos);
    EXPECT_NE(list.Output.find("\n        2940  " + expected::Shown(Edited) + "\r\n"),
              std::string::npos)
        << "the first file on a line of its own";
    auto test = testing_support::RunToolOnTerminal(folder.Path(), {"-t"}, 200);
    EXPECT_NE(test.Output.find("Phase 2 of 2: Checking mission sounds..."), std::string::npos);
    EXPECT_EQ(test.Output.find("] "), std::string::npos);

    auto extract = testing_support::RunToolOnTerminal(folder.Path(), {"-d", "out"}, 200);
    EXPECT_EQ(extract.ExitCode, 0);
    EXPECT_NE(extract.Output.find("  [1/9] 11% XAmbience..."), std::string::npos) << extract.Output;
    EXPECT_NE(extract.Output.find("  [9/9] 100% M03_Escape..."), std::string::npos);
}

// An include pattern that matches nothing is named, and the run does not pass for a success.
TEST(CommandLine, APatternThatMatchesNothingIsNamed) {
    EditedSample sample;
    auto list = RunTool(sample.folder.Path(), {"-l", "-q", "-i", "Ambience*", "-i", "nomatch"});
    EXPECT_EQ(list.ExitCode, 1);
    EXPECT_EQ(Lines(list.Errors),
              std::vector<std::string>{"cscunpack: warning: no file matches 'nomatch'"});
    EXPECT_EQ(Lines(list.Output).back(), "4 files, 13972 bytes");
    auto extract = RunTool(sample.folder.Path(), {"-q", "-d", "out", "-i", "nomatch"});
    EXPECT_EQ(extract.ExitCode, 1);
    EXPECT_EQ(Lines(extract.Errors),
              std::vector<std::string>{"cscunpack: warning: no file matches 'nomatch'"});
    EXPECT_TRUE(
        extract.Output.starts_with("0 files written (0 bytes), 0 unchanged, 0 kept, 12 left out"));

    // A file whose archive is missing is in the index: a pattern that takes it matched, and the
    // file counts as skipped only where the patterns take it.
    builder::ArchiveSet set = builder::SampleSet().Build();
    set.Archives[5].reset();
    TempFolder folder;
    builder::WriteArchiveSet(set, folder.Path());
    auto skipped = RunTool(folder.Path(), {"-l", "-q", "-i", "alarm.wav"});
    EXPECT_EQ(skipped.ExitCode, 1);
    EXPECT_EQ(Lines(skipped.Errors),
              std::vector<std::string>{"cscunpack: warning: 1 file was skipped, as its archive "
                                       "was not found: SchemaMetaFile_DVD3.csc"});
    auto leftOut = RunTool(folder.Path(), {"-q", "-d", "out", "-x", "__SchemaMetaFile_DVD3.csc"});
    EXPECT_EQ(leftOut.ExitCode, 0) << leftOut.Errors;
    EXPECT_TRUE(leftOut.Output.starts_with("10 files written")) << leftOut.Output;
    EXPECT_NE(leftOut.Output.find(", 2 left out, 0 skipped,"), std::string::npos) << leftOut.Output;
}

// The summary says how many files a later file of the same run wrote over: a path stored twice,
// and, on Windows, names that differ in case only.
TEST(CommandLine, TheSummaryCountsFilesWrittenOverEarlierOnes) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{File("twice", 3, "1"), File("twice", 3, "2"), File("a", 3, "a"),
                               File("A", 3, "A")}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    auto run = RunTool(folder.Path(), {"-q"});
    EXPECT_EQ(run.ExitCode, 0);
    std::size_t over = UnderLauncher() ? 2 : 1;
    EXPECT_TRUE(run.Output.starts_with(
        "4 files written (4 bytes), " + std::to_string(over) + " of them over " +
        (over == 1 ? "an earlier file" : "earlier files") + " of this run, 0 unchanged, 0 kept"))
        << run.Output;
}

// -a takes every form of a folder that -d takes: a trailing separator, and on Windows the "\\?\"
// form and paths longer than 260 characters.
TEST(CommandLine, TheArchivesFolderTakesEveryFormOfAPath) {
    TempFolder scratch;
    fs::path deep = scratch.Path();
    for (int level = 0; level < 6; ++level) {
        deep /= std::string(50, static_cast<char>('a' + level));
    }
    builder::WriteArchiveSet(builder::SampleSet().Build(), deep);
    std::vector<std::string> forms = {Native(deep), Native(deep) + (UnderLauncher() ? "\\" : "/")};
    if (UnderLauncher()) {
        forms.push_back("\\\\?\\" + Native(deep));
    }
    for (const std::string& form : forms) {
        auto run = RunTool(scratch.Path(), {"-l", "-q", "-a", form});
        EXPECT_EQ(run.ExitCode, 0) << form << ": " << run.Errors;
        EXPECT_EQ(Lines(run.Output).back(), "12 files, 40816 bytes") << form;
    }
}

// A path pasted from the listing matches: on Windows its "\" separates folders; on POSIX "\"
// escapes the character after it, as in the shell.
TEST(CommandLine, APastedListingPathMatches) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    std::string pasted = expected::Shown("__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/*");
    auto run = RunTool(folder.Path(), {"--names", "-q", "-i", pasted});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(Lines(run.Output), std::vector<std::string>{expected::Shown(Edited)});
    auto escaped = RunTool(folder.Path(), {"--names", "-q", "-i", "wind\\_loop.ogg"});
    EXPECT_EQ(escaped.ExitCode, UnderLauncher() ? 1 : 0) << escaped.Errors;
}
