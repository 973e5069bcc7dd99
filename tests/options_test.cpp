#include "run/options.h"

#include <gtest/gtest.h>

TEST(Options, OnlyTheExactOptionSelectsTheRawMode) {
    EXPECT_TRUE(run::IsRawExtract(std::string("-RAWExtract")));
    EXPECT_FALSE(run::IsRawExtract(std::nullopt));
    EXPECT_FALSE(run::IsRawExtract(std::string("-rawextract")));
    EXPECT_FALSE(run::IsRawExtract(std::string("-RAWExtractX")));
    EXPECT_FALSE(run::IsRawExtract(std::string("-RAW")));
    EXPECT_FALSE(run::IsRawExtract(std::string(" -RAWExtract")));
    EXPECT_FALSE(run::IsRawExtract(std::string("")));
}

TEST(Options, WindowsCommandLinesAreSplitAtBlanksAndControlCharacters) {
    struct Case {
        const char* line;
        std::optional<std::string> first;
    };
    const Case cases[] = {
        {"cscunpack.exe", std::nullopt},
        {"cscunpack.exe   ", std::nullopt},
        {"", std::nullopt},
        {"cscunpack.exe -RAWExtract", "-RAWExtract"},
        {"cscunpack.exe\t-RAWExtract\tmore", "-RAWExtract"},
        {"  cscunpack.exe  -RAWExtract  ", "-RAWExtract"},
        {"\"C:\\Program Files\\cscunpack.exe\" -RAWExtract", "-RAWExtract"},
        {"cscunpack.exe \"-RAW\"Extract", "-RAWExtract"},
        {"cscunpack.exe \"-RAWExtract more\"", "-RAWExtract more"},
        {"cscunpack.exe \"\" -RAWExtract", ""},
        {"cscunpack.exe x -RAWExtract", "x"},
        {"cscunpack.exe\x01-RAWExtract", "-RAWExtract"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run::FirstArgument(c.line), c.first) << c.line;
    }
}
