#include "run/patterns.h"

#include <gtest/gtest.h>

#include <chrono>

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
        {"[", "__A/[", true},
        {"a*b*c*d*e*f*g*h*i*j*k", std::string(60, 'a').append("b"), false},
        {"*n*n*x", "__A/" + std::string(100, 'n') + "x", true},
        {"caf\xC3\xA9", "__A/Caf\xE9/a.ogg", true}, // as JSON shows it, in UTF-8
        {"caf\xE9", "__A/Caf\xE9/a.ogg", true},     // as the bytes stand
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

TEST(Patterns, ExcludeWinsAndUnmatchedIncludesAreNamed) {
    run::Selector selector({.Include = {"*.wav", "*.ogg", "nomatch"}, .Exclude = {"b*"}});
    EXPECT_TRUE(selector.Selected("__A/x/a.wav"));
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
