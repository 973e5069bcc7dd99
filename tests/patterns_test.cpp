#include "run/patterns.h"

#include <gtest/gtest.h>

TEST(Patterns, MatchFileNamesOrWholePaths) {
    struct Case {
        const char* pattern;
        std::string path;
        bool matches;
    };
    const Case cases[] = {
        {"*.wav", "__A/TaggedSounds/Ambience/birds.wav", true},
        {"*.WAV", "__A/TaggedSounds/Ambience/birds.wav", true},
        {"*.wav", "__A/TaggedSounds/x.wav/birds.ogg", false},
        {"b?rds.*", "__A/b/birds.ogg", true},
        {"b[aeiou]rds.ogg", "__A/b/birds.ogg", true},
        {"b[!aeiou]rds.ogg", "__A/b/birds.ogg", false},
        {"b[^a-h]rds.ogg", "__A/b/birds.ogg", true},
        {"[A-C]*", "__A/b/birds.ogg", true},
        {"__A/TaggedSounds/Ambience*/**", "__A/TaggedSounds/Ambience.rain/rain.ogg", true},
        {"__A/TaggedSounds/Ambience*/**", "__A/MissionSounds/Ambience/rain.ogg", false},
        {"__A/*/rain.ogg", "__A/TaggedSounds/Ambience/rain.ogg", false},
        {"__A/**/rain.ogg", "__A/TaggedSounds/Ambience/rain.ogg", true},
        {"__A/**/rain.ogg", "__A/rain.ogg", true},
        {"**/MissionSounds/**", "__B/MissionSounds/M1/a.ogg", true},
        {"__a/*", "__A/x.ogg", true},
        {"__A/?", "__A/xy", false},
        {"[", "__A/[", true},
        {"*", "__A/", true},
        {"a*b*c*d*e*f*g*h*i*j*k", std::string(60, 'a').append("b"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run::Matches(c.pattern, c.path), c.matches) << c.pattern << " ~ " << c.path;
    }
}

TEST(Patterns, ExcludeWinsOverInclude) {
    run::Selection selection{.Include = {"*.wav", "*.ogg"}, .Exclude = {"b*"}};
    EXPECT_TRUE(run::Selected(selection, "__A/x/a.wav"));
    EXPECT_FALSE(run::Selected(selection, "__A/x/birds.wav"));
    EXPECT_FALSE(run::Selected(selection, "__A/x/readme"));
    EXPECT_TRUE(run::Selected({}, "__A/x/readme")) << "no pattern takes every file";
}
