#include "run/patterns.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#if defined(_WIN32)
constexpr bool OnWindows = true;
#else
constexpr bool OnWindows = false;
#endif

namespace {

bool Matches(std::string_view pattern, std::string_view path) {
    return run::Matches(run::CompilePattern(pattern), path);
}

} // namespace

// The rules gitignore and bsdtar share, each a row: a name without "/" matches any component, a
// folder takes everything below it, "/" anchors, a trailing "/" means folders only.
TEST(Patterns, MatchAsGitignoreDoes) {
    struct Case {
        const char* pattern;
        std::string path;
        bool matches;
    };
    const std::string birds = "__A/TaggedSounds/Ambience/birds.wav";
    const Case cases[] = {
        {"*.wav", birds, true},
        {"*.WAV", birds, true},
        {"birds.wav", birds, true},
        {"irds.wav", birds, false},
        {"Ambience", birds, true},
        {"Ambience", "__A/TaggedSounds/Ambience.rain/rain.ogg", false},
        {"Ambience*", "__A/TaggedSounds/Ambience.rain/rain.ogg", true},
        {"Voice*", "__A/TaggedSounds/Voice.hero/hello.wav", true},
        {"*.wav", "__A/TaggedSounds/x.wav/birds.ogg", true},
        {"Ambience/", birds, true},
        {"birds.wav/", birds, false},
        {"TaggedSounds/Ambience", birds, false},
        {"**/TaggedSounds/Ambience", birds, true},
        {"**/Ambience/birds.wav", birds, true},
        {"__A/TaggedSounds", birds, true},
        {"/__A/TaggedSounds/", birds, true},
        {"__a/taggedsounds/ambience/BIRDS.WAV", birds, true},
        {"__A/*/birds.wav", birds, false},
        {"__A/*/*/birds.wav", birds, true},
        {"__A/**/birds.wav", birds, true},
        {"__A/**/birds.wav", "__A/birds.wav", true},
        {"__A/**", birds, true},
        {"b?rds.*", birds, true},
        {"b??rds.*", birds, false},
        {"__A?TaggedSounds/**", birds, false},
        {"__A*TaggedSounds/**", birds, false},
        {"b[aeiou]rds.wav", birds, true},
        {"b[!aeiou]rds.wav", birds, false},
        {"b[^a-h]rds.wav", birds, true},
        {"[A-C]*", birds, true},
        {"[", "__A/[", false},
        {"a*b*c*d*e*f*g*h*i*j*k", std::string(60, 'a').append("b"), false},
        {"*n*n*x", "__A/" + std::string(100, 'n') + "x", true},
        {"caf\xC3\xA9", "__A/Caf\xE9/a.ogg", true}, // as JSON shows it, in UTF-8
        {"caf\xE9", "__A/Caf\xE9/a.ogg", true},     // as the bytes stand
        // A trailing "/**" takes what is inside a folder, not a file of that name.
        {"__A/**", "__A", false},
        {"Ambience/**", "__A/TaggedSounds/Ambience", false},
        {"TaggedSounds/Ambience/**", "TaggedSounds/Ambience/x/y", true},
        // Classes as gitignore reads them, each letter in either case.
        {"[a\\]]*", "]x", true},
        {"[a\\]]*", "A", true},
        {"[a\\]]*", "b", false},
        {"[]a]*", "]x", true},
        {"[a-]*", "-", true},
        {"[[:digit:]]*", "5x.ogg", true},
        {"[[:digit:]]*", "x5.ogg", false},
        {"[[:upper:]]*", "x5.ogg", true},
        {"[[:lower:]]*", "X5.ogg", true},
        {"[[:upper:]]*", "5x.ogg", false},
        {"[[:alpha:]_]*", "_x", true},
        {"[[:foo:]]*", "x", false},
        {"[A]*", "a", true},
        {"[a-c]*", "B", true},
        {"[A-C]*", "b", true},
        {"[!a-c]*", "B", false},
        {"[Z-a]*", "_", true},
        {"[z-a]*", "z", true}, // a range the wrong way round holds its first end only
        {"[z-a]*", "m", false},
        {"[a-c", "[a-c", false}, // a class without its "]" matches nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Matches(c.pattern, c.path), c.matches) << c.pattern << " ~ " << c.path;
    }
}

// "\" escapes on POSIX; on Windows it separates folders, so a pasted listing path matches.
TEST(Patterns, BackslashIsAnEscapeOrASeparator) {
    const std::string path = "__A/TaggedSounds/Ambience.wind/a*b.ogg";
    EXPECT_EQ(Matches("__A\\TaggedSounds\\Ambience.wind\\*", path), OnWindows);
    EXPECT_EQ(Matches("a\\*b.ogg", path), !OnWindows);
    EXPECT_EQ(Matches("a\\*b.ogg", "__A/x/axyb.ogg"), false);
}

// An include pattern that matched a file has matched, even where an earlier one took the file.
TEST(Patterns, ExcludeWinsAndUnmatchedIncludesAreNamed) {
    run::Selector selector(
        {.Include = {"*.wav", "*.ogg", "c*", "nomatch"}, .Exclude = {"b*", "*/x/*.WAV"}});
    EXPECT_FALSE(selector.Selected("__A/x/a.wav"));
    EXPECT_TRUE(selector.Selected("__A/y/a.wav"));
    EXPECT_FALSE(selector.Selected("__A/x/birds.wav"));
    EXPECT_FALSE(selector.Selected("__A/x/readme"));
    EXPECT_TRUE(selector.Selected("__A/x/c.ogg"));
    EXPECT_EQ(selector.Unmatched(), std::vector<std::string>{"nomatch"});
    run::Selector everything({});
    EXPECT_TRUE(everything.Selected("__A/x/readme")) << "no pattern takes every file";
    EXPECT_TRUE(everything.Unmatched().empty());
}

// Matching is linear in the path, without recursion: a 40,000-character name against many stars,
// and a pattern of 24,000 stars, each end in a moment where backtracking would take hours or
// overflow the stack.
TEST(Patterns, LongNamesAndPatternsCostLittle) {
    std::string path = "__A/f/" + std::string(40000, 'n');
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Matches("*n*n*n*n*n*n*n*n*n*x", path));
    EXPECT_TRUE(Matches(std::string(24000, '*'), path));
    EXPECT_FALSE(Matches(std::string(24000, '*') + "x", path));
    EXPECT_FALSE(Matches("**/" + std::string(12000, 'n') + "*x", path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "far above the linear cost";
}

// Against git itself, on a tree of odd names: every pattern takes the files that git's gitignore
// rules ignore (letters in either case, as git does with core.ignorecase; no class holds an
// upper-case letter, which git then reads in lower case only).
TEST(Patterns, AgreeWithGitOnATreeOfOddNames) {
    if (std::system("git --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no git to compare with";
    }
    const std::vector<std::string> paths = {"__A/TaggedSounds/Ambience/birds.wav",
                                            "__A/TaggedSounds/Ambience.rain/rain.ogg",
                                            "__A/TaggedSounds/ambience",
                                            "__A/MissionSounds/M1/x.ogg",
                                            "__A/MissionSounds/m2/5x.WAV",
                                            "__B/]x.wav",
                                            "__B/-.ogg",
                                            "__B/_x",
                                            "__B/[x",
                                            "__B/a-c",
                                            "__B/dir/sub/y.ogg",
                                            "__B/dir/z",
                                            "__B/x/dir",
                                            "__B/Zed.ogg",
                                            "__B/zed/a.b.ogg",
                                            "__B/a.b/c"};
    const std::vector<std::string> patterns = {
        "*.wav",      "Ambience", "Ambience*",    "Ambience/",    "ambience/**",
        "__A/**",     "**/m*/*",  "dir/**",       "dir/**/",      "__B/dir",
        "/__B",       "__b/*",    "*/dir",        "**/sub/**",    "[a\\]]*",
        "[]a]*",      "[a-]*",    "[[:digit:]]*", "[[:upper:]]*", "[[:punct:]]*",
        "[[:foo:]]*", "[!a-c]*",  "[z-a]*",       "[^_]*.ogg",    "?",
        "a.?",        "*.b",      "[x",           "z*",           "M[0-9]"};
    testing_support::TempFolder repository;
    const std::filesystem::path& root = repository.Path();
    ASSERT_EQ(std::system(("git init -q '" + root.string() + "'").c_str()), 0);
    std::ofstream list(root / "paths");
    for (const std::string& path : paths) {
        std::filesystem::create_directories((root / path).parent_path());
        testing_support::WriteFile(root / path, "");
        list << path << "\n";
    }
    list.close();
    for (const std::string& pattern : patterns) {
        testing_support::WriteFile(root / ".gitignore", pattern + "\n");
        std::string command = "cd '" + root.string() +
                              "' && git -c core.ignorecase=true check-ignore --no-index --stdin "
                              "< paths";
        std::set<std::string> ignored;
        FILE* answer = ::popen(command.c_str(), "r");
        ASSERT_NE(answer, nullptr);
        char line[4096];
        while (std::fgets(line, sizeof line, answer) != nullptr) {
            ignored.insert(std::string(line, std::strcspn(line, "\n")));
        }
        ::pclose(answer);
        for (const std::string& path : paths) {
            EXPECT_EQ(Matches(pattern, path), ignored.contains(path)) << pattern << " ~ " << path;
        }
    }
}
