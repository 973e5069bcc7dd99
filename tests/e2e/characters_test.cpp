// Every character a user has: folders and patterns typed in any script, arguments quoted by the
// system's own rules, and names shown and given to scripts as the system names the files. One table
// of cases runs against the build under test, the Windows one under Wine included; where the two
// systems spell a name differently (Windows names a stored byte by its ANSI code page's character,
// POSIX by the byte itself), each row says how a user of each spells it.

#include "archive_builder.h"
#include "expected.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using builder::File;
using testing_support::RunTool;
using testing_support::TempFolder;
using testing_support::UnderLauncher;
namespace fs = std::filesystem;

namespace {

const std::string Rain = "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/";
const std::string Odd = "__SchemaMetaFile_DVD1.csc/TaggedSounds/Odd Names.sub one/";
const std::string Cafe = "Caf\xE9.ogg";    // Latin-1 and code page 1252 agree: é
const std::string Price = "price\x80.ogg"; // code page 1252: €; Latin-1: a C1 control

// Archives in a folder named in Cyrillic, with names of bytes above 0x7F and a tag folder whose
// name holds blanks.
struct CyrillicSample {
    TempFolder folder;
    fs::path archives = folder.Path() / "Звуки";
    CyrillicSample() {
        builder::ArchiveSetBuilder set;
        std::uint8_t ambience = set.AddTag("XAmbience", {"rain"});
        std::uint8_t odd = set.AddTag("XOdd Names", {"sub one"});
        std::uint8_t device = set.AddTag("XCON", {"a:b"});
        set.AddTaggedSound({builder::TagRef(ambience, 0), builder::TagRef(device, 0)},
                           {{File("Caf\xE9", 3, "cafe"), File("price\x80", 3, "price")}});
        set.AddTaggedSound({builder::TagRef(odd, 0)}, {{File("a", 3, "a"), File("b", 3, "b")}});
        fs::create_directories(archives);
        builder::WriteArchiveSet(set.Build(), archives);
    }
};

// A stored name as the file system of the build under test names it, seen from Linux: Wine
// names a file by the characters of code page 1252, which reach Linux in UTF-8.
std::string OnDisk(std::string stored) {
    if (UnderLauncher()) {
        for (auto [byte, character] :
             {std::pair<std::string, std::string>{"\xE9", "é"}, {"\x80", "€"}}) {
            for (std::size_t at; (at = stored.find(byte)) != std::string::npos;) {
                stored.replace(at, 1, character);
            }
        }
    }
    return stored;
}

std::vector<std::string> Shown(std::vector<std::string> paths) {
    for (std::string& path : paths) {
        path = expected::Shown(path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Runs the tool with arguments as a Windows batch file holds them, so that cmd and the C runtime's
// rules, not the launcher's, make the command line: each argument quoted as Python's subprocess
// quotes it (blanks inside quotes, backslashes before a quote doubled).
testing_support::ToolRun RunThroughCmd(const fs::path& folder,
                                       const std::vector<std::string>& arguments) {
    std::string line = "@\"" + expected::Native(fs::absolute(std::getenv("CSCUNPACK_EXE"))) + "\"";
    for (const std::string& argument : arguments) {
        bool quote = argument.find_first_of(" \t") != std::string::npos;
        std::string quoted;
        std::size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            quoted += c;
        }
        quoted.append(quote ? backslashes * 2 : backslashes, '\\');
        std::string_view mark = quote ? "\"" : "";
        line.append(" ").append(mark).append(quoted).append(mark);
    }
    testing_support::WriteFile(folder / "run.bat", line + "\r\n");
    return testing_support::RunOnLauncher(folder, {"cmd", "/c", "run.bat"});
}

} // namespace

TEST(Characters, WhatAUserTypesReachesTheFilesTheSystemShows) {
    struct Case {
        const char* what;
        std::vector<std::string> posix, windows; // as a user of each system types them
        // On Windows from a batch file (whose text is in the OEM code page, so it runs in the
        // archives' folder rather than name it).
        bool throughCmd;
        int exitCode;
        std::vector<std::string> listed;
        std::string errors;
    };
    const std::vector<std::string> all = {Rain + Cafe, Rain + Price, Odd + "a.ogg", Odd + "b.ogg"};
    const std::vector<std::string> names = {"--names", "-q", "-a", "Звуки"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), names.begin(), names.end());
        return more;
    };
    const std::vector<Case> cases = {
        {"archives in a folder named in Cyrillic", names, names, false, 0, all, ""},
        {"a pattern of characters no stored name holds matches nothing",
         with({"-i", "Ж*"}),
         with({"-i", "Ж*"}),
         false,
         1,
         {},
         "cscunpack: warning: no file matches 'Ж*'" + expected::LineEnd},
        {"nor leaves anything out", with({"-x", "Звуки*"}), with({"-x", "Звуки*"}), false, 0, all,
         ""},
        {"a Latin-1 letter typed as a character",
         with({"-i", "Café.ogg"}),
         with({"-i", "Café.ogg"}),
         false,
         0,
         {Rain + Cafe},
         ""},
        {"the character the system names a byte with",
         with({"-i", "price\xC2\x80.ogg"}), // as POSIX's JSON shows it
         with({"-i", "price€.ogg"}),        // as Explorer shows it
         false,
         0,
         {Rain + Price},
         ""},
        {"a folder with a trailing separator, quoted by the system's rules",
         {"--names", "-q", "-i", "Odd Names.sub one/"},
         {"--names", "-q", "-i", "Odd Names.sub one\\"},
         true,
         0,
         {Odd + "a.ogg", Odd + "b.ogg"},
         ""},
    };
    CyrillicSample sample;
    for (const Case& c : cases) {
        const std::vector<std::string>& arguments = UnderLauncher() ? c.windows : c.posix;
        const fs::path& in = c.throughCmd ? sample.archives : sample.folder.Path();
        auto run =
            UnderLauncher() && c.throughCmd ? RunThroughCmd(in, arguments) : RunTool(in, arguments);
        EXPECT_EQ(run.ExitCode, c.exitCode) << c.what << "\n" << run.Errors;
        std::vector<std::string> listed = expected::Lines(run.Output);
        listed.erase(std::remove(listed.begin(), listed.end(), ""), listed.end());
        EXPECT_EQ(Shown(listed), Shown(c.listed)) << c.what;
        EXPECT_EQ(run.Errors, c.errors) << c.what;
    }
}

// An output folder named in Cyrillic receives the tree, each file named as the system names its
// stored bytes; the JSON path names it so that a script of that system opens it, and its tags
// are the folders that system's run makes; a console shows
// the name as the file is named; and a reader that goes away ends the run quietly.
TEST(Characters, NamesReachFilesScriptsAndTheConsoleAsTheSystemNamesThem) {
    CyrillicSample sample;
    const fs::path& folder = sample.folder.Path();
    auto extract = RunTool(folder, {"-q", "-a", "Звуки", "-d", "Вывод"});
    EXPECT_EQ(extract.ExitCode, 0) << extract.Errors;
    std::map<std::string, std::string> tree = testing_support::Tree(folder / "Вывод");
    EXPECT_EQ(tree[OnDisk(Rain + Price)], "price");
    EXPECT_EQ(tree[OnDisk(Rain + Cafe)], "cafe");

    auto json = RunTool(folder, {"-l", "--json", "-q", "-a", "Звуки", "-i", "price*"});
    std::size_t start = json.Output.find("\"path\": \"") + 9;
    std::string path = json.Output.substr(start, json.Output.find('"', start) - start);
    EXPECT_NE(json.Output.find(UnderLauncher() ? "\"tags\": [\"Ambience.rain\", \"_CON.a_b\"]"
                                               : "\"tags\": [\"Ambience.rain\", \"CON.a:b\"]"),
              std::string::npos)
        << json.Output;
    if (UnderLauncher()) {
        EXPECT_EQ(path, "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/price€.ogg");
        auto type = testing_support::RunOnLauncher(
            folder, {"cmd", "/c", "type", expected::Native(folder / "Вывод" / path)});
        EXPECT_EQ(type.Output, "price") << "a script opens the path the JSON gives";
    } else {
        EXPECT_EQ(path, Rain + "price\xC2\x80.ogg") << "Latin-1, which the README gives";
    }

    auto console =
        testing_support::RunToolOnTerminal(folder, {"--names", "-a", "Звуки", "-i", "Caf*"});
    EXPECT_NE(console.Output.find(UnderLauncher() ? "Café.ogg" : Cafe), std::string::npos)
        << console.Output;

    auto gone = testing_support::RunToolIntoBrokenPipe(folder, {"-l", "-a", "Звуки"});
    EXPECT_EQ(gone.ExitCode, 3);
    EXPECT_EQ(gone.Errors.find("cscunpack:"), std::string::npos) << gone.Errors;
}

// A run killed on Windows leaves files beside under the number of its process, which Windows
// hands to the next process at once: the next run removes every such file that no writer holds,
// whatever process now has its number, its own included.
TEST(Characters, FilesLeftBesideGoWhateverProcessHasTheirNumberNow) {
    if (!UnderLauncher()) {
        GTEST_SKIP() << "POSIX keeps a process's number until long after it has gone";
    }
    CyrillicSample sample;
    const fs::path& folder = sample.folder.Path();
    ASSERT_EQ(RunTool(folder, {"-q", "-a", "Звуки", "-d", "out"}).ExitCode, 0);
    fs::path rain = folder / "out" / Rain;
    for (unsigned process = 4; process <= 0x1000; process += 4) {
        char name[32];
        std::snprintf(name, sizeof name, ".cscunpack-%08x0badf00d", process);
        testing_support::WriteFile(rain / name, "left by a killed run");
    }
    testing_support::WriteFile(folder / "out" / OnDisk(Rain + Cafe), "changed");
    auto again = RunTool(folder, {"-q", "-a", "Звуки", "-d", "out"});
    EXPECT_EQ(again.ExitCode, 0) << again.Errors;
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(rain)) {
        left += entry.path().filename().string().starts_with(".cscunpack-");
    }
    EXPECT_EQ(left, 0u);
}

// The Windows executable says in its manifest that it takes long paths, and keeps the system's
// ANSI code page (declaring UTF-8 would turn every stored byte above 0x7F that is no UTF-8 into
// one replacement character, and different names into one).
TEST(Characters, TheWindowsExecutableTakesLongPathsAndKeepsTheAnsiCodePage) {
    if (!UnderLauncher()) {
        GTEST_SKIP() << "a manifest is Windows'";
    }
    std::string executable = testing_support::ReadFile(std::getenv("CSCUNPACK_EXE"));
    EXPECT_NE(executable.find(">true</longPathAware>"), std::string::npos);
    EXPECT_EQ(executable.find("activeCodePage"), std::string::npos);
}
