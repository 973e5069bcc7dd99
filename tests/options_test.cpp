#include "run/options.h"

#include <gtest/gtest.h>

using run::Action;

// The compatible form looks at the first argument alone; any option of the option form, or any
// argument that starts with "--", reads the whole line as options.
TEST(Options, TheTwoFormsOfTheCommandLine) {
    struct Case {
        std::vector<std::string> arguments;
        bool optionForm, raw;
        Action what;
    };
    const Case cases[] = {
        {{}, false, false, Action::Extract},
        {{"-RAWExtract"}, false, true, Action::Extract},
        {{"-RAWExtract", "-foo", "bar"}, false, true, Action::Extract},
        {{"-rawextract"}, false, false, Action::Extract},
        {{"x", "-RAWExtract"}, false, false, Action::Extract},
        {{"-lq"}, false, false, Action::Extract},
        {{"-?"}, false, false, Action::Help},
        {{"/?"}, false, false, Action::Help},
        {{"-l"}, true, false, Action::List},
        {{"-q", "--test"}, true, false, Action::Test},
        {{"-RAWExtract", "-l"}, true, true, Action::List},
        {{"--raw"}, true, true, Action::Extract},
        {{"--help"}, true, false, Action::Help},
        {{"-d", "out", "--version"}, true, false, Action::Version},
    };
    for (const Case& c : cases) {
        run::CommandLine line = run::ReadCommandLine(c.arguments);
        std::string shown = c.arguments.empty() ? "(none)" : c.arguments[0];
        EXPECT_EQ(line.Problem, "") << shown;
        EXPECT_EQ(line.Asked.OptionForm, c.optionForm) << shown;
        EXPECT_EQ(line.Asked.Raw, c.raw) << shown;
        EXPECT_EQ(line.Asked.What, c.what) << shown;
    }
}

TEST(Options, OptionsTakeTheirValuesInEitherSpelling) {
    run::CommandLine line =
        run::ReadCommandLine({"--archives=/mnt/dvd", "-d", "-out", "-i", "*.wav", "--include",
                              "M*/**", "-x", "b*", "-j", "0", "-k", "--json", "-t"});
    ASSERT_EQ(line.Problem, "");
    EXPECT_EQ(line.Asked.ArchiveFolder, "/mnt/dvd");
    EXPECT_EQ(line.Asked.OutputFolder, "-out") << "a value may start with a dash";
    EXPECT_EQ(line.Asked.Include, (std::vector<std::string>{"*.wav", "M*/**"}));
    EXPECT_EQ(line.Asked.Exclude, (std::vector<std::string>{"b*"}));
    EXPECT_EQ(line.Asked.Threads, 0u);
    EXPECT_TRUE(line.Asked.KeepExisting && line.Asked.Json);
    EXPECT_EQ(line.Asked.What, Action::Test);
}

TEST(Options, EveryProblemIsNamed) {
    const std::vector<std::vector<std::string>> wrong = {
        {"-l", "-z"},       {"-l", "-rawextract"}, {"-l", "-lq"}, {"-j", "65"},
        {"--threads=many"}, {"-l", "-t"},          {"--details"}, {"--json", "-q"},
        {"-l", "stray"},    {"--unknown"},         {"-d"},        {"-j4", "-l"},
    };
    for (const auto& arguments : wrong) {
        EXPECT_NE(run::ReadCommandLine(arguments).Problem, "") << arguments[0] << arguments.back();
    }
}

TEST(Options, WindowsCommandLinesAreSplitAtBlanksAndControlCharacters) {
    struct Case {
        const char* line;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"cscunpack.exe", {}},
        {"cscunpack.exe   ", {}},
        {"", {}},
        {"cscunpack.exe -RAWExtract", {"-RAWExtract"}},
        {"cscunpack.exe\t-RAWExtract\tmore", {"-RAWExtract", "more"}},
        {"\"C:\\Program Files\\cscunpack.exe\" -RAWExtract", {"-RAWExtract"}},
        {"cscunpack.exe \"-RAW\"Extract", {"-RAWExtract"}},
        {"cscunpack.exe -a \"C:\\Game Folder\\data\" -l", {"-a", "C:\\Game Folder\\data", "-l"}},
        {"cscunpack.exe \"\" -RAWExtract", {"", "-RAWExtract"}},
        {"cscunpack.exe\x01-RAWExtract", {"-RAWExtract"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run::SplitCommandLine(c.line), c.arguments) << c.line;
    }
}
