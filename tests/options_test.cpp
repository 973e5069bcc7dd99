#include "run/options.h"
#include "run/run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using run::Action;

// The classic form is exactly the lines its callers use; every other line is the option form,
// where -RAWExtract stays a synonym of --raw and short options bundle as getopt's do.
TEST(Options, TheTwoFormsOfTheCommandLine) {
    struct Case {
        std::vector<std::string> arguments;
        bool optionForm, raw;
        Action what;
    };
    const Case cases[] = {
        {{}, false, false, Action::Extract},
        {{"-RAWExtract"}, false, true, Action::Extract},
        {{"-?"}, false, false, Action::Help},
        {{"/?"}, false, false, Action::Help},
        {{"-h"}, false, false, Action::Help},
        {{"--version"}, false, false, Action::Version},
        {{"-l"}, true, false, Action::List},
        {{"-lq"}, true, false, Action::List},
        {{"-q", "--test"}, true, false, Action::Test},
        {{"-tq"}, true, false, Action::Test},
        {{"-RAWExtract", "-l"}, true, true, Action::List},
        {{"-q", "-RAWExtract"}, true, true, Action::Extract},
        {{"--raw"}, true, true, Action::Extract},
        {{"-p"}, true, false, Action::Stream},
        {{"--names"}, true, false, Action::List},
        {{"-0"}, true, false, Action::List},
        {{"-q", "--help"}, true, false, Action::Help},
        {{"-q", "-?"}, true, false, Action::Help},
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

TEST(Options, OptionsTakeTheirValuesInEverySpelling) {
    run::CommandLine line =
        run::ReadCommandLine({"--archives=/mnt/dvd", "-d", "-out", "-i", "*.wav", "--include", "-h",
                              "-x", "b*", "-j", "0", "-k", "-i-?"});
    ASSERT_EQ(line.Problem, "");
    EXPECT_EQ(line.Asked.ArchiveFolder, "/mnt/dvd");
    EXPECT_EQ(line.Asked.OutputFolder, "-out") << "a value may start with a dash";
    EXPECT_EQ(line.Asked.Include, (std::vector<std::string>{"*.wav", "-h", "-?"}));
    EXPECT_EQ(line.Asked.Exclude, (std::vector<std::string>{"b*"}));
    EXPECT_EQ(line.Asked.Threads, 0u);
    EXPECT_TRUE(line.Asked.KeepExisting);
    EXPECT_EQ(line.Asked.What, Action::Extract);

    run::CommandLine bundled = run::ReadCommandLine({"-kqa", "/mnt/dvd", "-dout", "-j64"});
    ASSERT_EQ(bundled.Problem, "");
    EXPECT_TRUE(bundled.Asked.Quiet && bundled.Asked.KeepExisting);
    EXPECT_EQ(bundled.Asked.ArchiveFolder, "/mnt/dvd");
    EXPECT_EQ(bundled.Asked.OutputFolder, "out");
    EXPECT_EQ(bundled.Asked.Threads, 64u) << "the whole range the help promises";
    EXPECT_EQ(run::ReadCommandLine({"-0q"}).Asked.Style, jobs::ListingStyle::NullEnded);
}

// Every problem in the tool's own words, exactly.
TEST(Options, EveryProblemIsNamedInPlainWords) {
    const std::pair<std::vector<std::string>, std::string> wrong[] = {
        {{"-lq", "-z"}, "unknown option '-z'"},
        {{"-rawextract"}, "unknown option '-rawextract'; did you mean -RAWExtract?"},
        {{"x", "-RAWExtract"},
         "unexpected argument 'x'; an archives folder goes after -a, a file to take after -i"},
        {{"-RAWExtract", "-foo"}, "unknown option '-f'"},
        {{"hello.wav"},
         "unexpected argument 'hello.wav'; an archives folder goes after -a, a file to take after "
         "-i"},
        {{"-l", "--", "-q"},
         "unexpected argument '-q'; an archives folder goes after -a, a file to take after -i"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--lst"}, "unknown option '--lst'; did you mean --list?"},
        {{"--t"}, "option '--t' is ambiguous: --test, --to-stdout, --threads"},
        {{"--list=no"}, "option '--list' takes no value"},
        {{"--test=0"}, "option '--test' takes no value"},
        {{"-j"}, "option '-j' needs a value"},
        {{"--threads"}, "option '--threads' needs a value"},
        {{"-j", "65"}, "option '--threads' takes a number from 0 to 64, not '65'"},
        {{"-j", "abc"}, "option '--threads' takes a number from 0 to 64, not 'abc'"},
        {{"-d", ""}, "option '--output-dir' needs a folder, not an empty name"},
        {{"--output-dir="}, "option '--output-dir' needs a folder, not an empty name"},
        {{"-a", ""}, "option '--archives' needs a folder, not an empty name"},
        {{"-l", "-t"}, "only one of --list, --test, --to-stdout, --mount and --serve can be given"},
        {{"-p", "--names"},
         "only one of --list, --test, --to-stdout, --mount and --serve can be given"},
        {{"--details"}, "--details goes with --list, not with an extraction"},
        {{"--json", "-q"}, "--json goes with --list or --test, not with an extraction"},
        {{"-x", ""}, "option '--exclude' needs a pattern that names files, not ''"},
        {{"-x", "//"}, "option '--exclude' needs a pattern that names files, not '//'"},
        {{"-i", ""}, "option '--include' needs a pattern that names files, not ''"},
        {{"-xvf"},
         "'-xvf' would leave out the files that match 'vf', as -x takes the rest of the "
         "word: cscunpack extracts without tar's -xvf, and leaves out 'vf' with -x vf"},
        {{"--names", "--json"}, "--names and --null list paths alone, without --details or --json"},
    };
    for (const auto& [arguments, problem] : wrong) {
        EXPECT_EQ(run::ReadCommandLine(arguments).Problem, problem) << arguments[0];
    }
}

// Every job refuses each option that does nothing for it, saying which jobs the option goes with,
// and takes every option that does something for it.
TEST(Options, AnOptionThatDoesNothingForTheJobIsRefused) {
    const std::vector<std::string> jobs[] = {{},     {"-l"},           {"-t"},
                                             {"-p"}, {"--mount", "m"}, {"--serve", "0"}};
    const char* const jobNames[] = {"an extraction", "--list",  "--test",
                                    "--to-stdout",   "--mount", "--serve"};
    struct Row {
        std::vector<std::string> option;
        const char* takenBy; // a letter for each job that takes it, in the order of jobs
        const char* goesWith;
    };
    const Row rows[] = {
        {{"-d", "out"}, "E.....", "--output-dir goes with an extraction"},
        {{"-k"}, "E.....", "--keep-existing goes with an extraction"},
        {{"-j", "2"}, "E.T...", "--threads goes with an extraction or --test"},
        {{"--json"}, ".LT...", "--json goes with --list or --test"},
        {{"--details"}, ".L....", "--details goes with --list"},
        {{"--background"}, "....M.", "--background goes with --mount"},
        {{"--open"}, ".....S", "--open goes with --serve"},
        {{"-r"}, "ELTSMS", ""},
        {{"-a", "dvd"}, "ELTSMS", ""},
        {{"-i", "*.ogg"}, "ELTSMS", ""},
        {{"-x", "*.ogg"}, "ELTSMS", ""},
        {{"-q"}, "ELTSMS", ""},
    };
    for (const Row& row : rows) {
        for (std::size_t job = 0; job < std::size(jobs); ++job) {
            std::vector<std::string> arguments = jobs[job];
            arguments.insert(arguments.end(), row.option.begin(), row.option.end());
            std::string problem = run::ReadCommandLine(arguments).Problem;
            EXPECT_EQ(problem, row.takenBy[job] != '.'
                                   ? std::string()
                                   : std::string(row.goesWith) + ", not with " + jobNames[job])
                << row.option[0] << " with " << jobNames[job];
        }
    }
}

// Windows hands a program its command line whole; it is split as the C runtime splits it, so
// that what cmd, PowerShell or Python's subprocess quote arrives as they meant, while the classic
// form's own lines run as they always did.
TEST(Options, WindowsCommandLinesAreSplitAsTheRuntimeSplitsThem) {
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
        {"cscunpack.exe -i \"Odd Names.sub one\\\\\"", {"-i", "Odd Names.sub one\\"}},
        {"cscunpack.exe -i rain\\\"_soft.ogg", {"-i", "rain\"_soft.ogg"}},
        {"cscunpack.exe -a C:\\\\server\\x\\ -l", {"-a", "C:\\\\server\\x\\", "-l"}},
        {"cscunpack.exe \"a\"\"b\" \\\\\\\"c\" d", {"a\"b", "\\\"c d"}},
        {"cscunpack.exe -l\x01-q", {"-l\x01-q"}},
        {"\"C:\\Odd \\\"Name\\cscunpack.exe\" -l", {"-l"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run::SplitCommandLine(c.line), c.arguments) << c.line;
    }
}

// A console window opened for the run alone (a double-click) waits for Enter at the end, so that
// the summary can be read; a console shared with a shell, or anything redirected, never waits.
TEST(Options, OnlyAWindowOfItsOwnWaitsForEnter) {
    struct Case {
        bool alone, input, output, errors, pauses;
    };
    const Case cases[] = {
        {true, true, true, true, true},   {false, true, true, true, false},
        {true, false, true, true, false}, {true, true, false, true, false},
        {true, true, true, false, false}, {false, false, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run::ShouldPauseAtEnd(c.alone, c.input, c.output, c.errors), c.pauses)
            << c.alone << c.input << c.output << c.errors;
    }
}

namespace {

std::string Source(const char* file) {
    std::ifstream in(std::string(CSCUNPACK_SOURCE_DIR) + "/" + file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

// The man page and the bash completion name exactly the options of the table (the help is made
// from it), and the completion completes folders after exactly the options that take one.
TEST(Options, TheManPageAndTheCompletionNameTheTablesOptions) {
    std::set<std::string> table, inManPage, completed, folders, values;
    for (const run::OptionName& option : run::OptionTable()) {
        std::string name = "--" + std::string(option.Long);
        table.insert(name);
        if (option.Short < 256) {
            table.insert(std::string("-") + static_cast<char>(option.Short));
        }
        if (option.TakesValue()) {
            std::set<std::string>& kind = option.Value == "DIR" ? folders : values;
            kind.insert(name);
            if (option.Short < 256) {
                kind.insert(std::string("-") + static_cast<char>(option.Short));
            }
        }
    }
    std::regex longOption("--[a-z][a-z-]*"), shortOption("(^|[ ,])(-[a-z0-9])[ ,]");
    std::string page = Source("doc/cscunpack.1.in");
    std::string options =
        page.substr(page.find(".SH OPTIONS"), page.find(".SH PATTERNS") - page.find(".SH OPTIONS"));
    for (std::size_t at = options.find(".TP\n"); at != std::string::npos;
         at = options.find(".TP\n", at + 1)) {
        std::string item = options.substr(at + 4, options.find('\n', at + 4) - at - 4);
        item = std::regex_replace(item, std::regex("\\\\-"), "-");
        for (std::sregex_iterator found(item.begin(), item.end(), longOption), end; found != end;
             ++found) {
            inManPage.insert(found->str());
        }
        for (std::sregex_iterator found(item.begin(), item.end(), shortOption), end; found != end;
             ++found) {
            inManPage.insert((*found)[2].str());
        }
    }
    EXPECT_EQ(inManPage, table) << "the man page's option items";
    std::string completion = Source("doc/cscunpack.bash-completion");
    std::string words = completion.substr(completion.find("compgen -W '") + 12);
    words = words.substr(0, words.find('\''));
    std::istringstream split(words);
    for (std::string word; split >> word;) {
        completed.insert(word);
    }
    completed.erase("-RAWExtract");
    EXPECT_EQ(completed, table) << "the completion's words";
    // Its cases: the options after which folders are completed, then those whose value
    // completes nothing.
    std::vector<std::set<std::string>> cases;
    std::istringstream lines(completion);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("    -") && line.ends_with(")")) {
            std::istringstream alternatives(line.substr(0, line.size() - 1));
            cases.emplace_back();
            for (std::string word; alternatives >> word;) {
                if (word != "|") {
                    cases.back().insert(word);
                }
            }
        }
    }
    ASSERT_EQ(cases.size(), 2u) << completion;
    EXPECT_EQ(cases[0], folders);
    EXPECT_EQ(cases[1], values);
}

// A word that is an option's value is that value in every spelling, even where it looks like an
// option that the command line reads first ("-?", "-RAWExtract"); where no value is due, it is
// that option.
TEST(Options, AnOptionsValueIsItsValueInEverySpelling) {
    auto valueOf = [](const run::Options& asked, std::string_view option) -> std::string {
        if (option == "archives") {
            return asked.ArchiveFolder;
        }
        if (option == "output-dir") {
            return asked.OutputFolder;
        }
        if (option == "mount") {
            return asked.MountFolder;
        }
        const std::vector<std::string>& patterns =
            option == "include" ? asked.Include : asked.Exclude;
        return patterns.empty() ? "" : patterns.front();
    };
    for (const run::OptionName& option : run::OptionTable()) {
        if (!option.TakesValue() || option.Long == "threads" || option.Long == "serve") {
            continue; // a number, or an address and a number
        }
        std::string name = "--" + std::string(option.Long);
        std::string letter =
            option.Short < 256 ? std::string(1, static_cast<char>(option.Short)) : std::string();
        for (std::string value : {"-?", "-RAWExtract", "/?", "--help"}) {
            std::vector<std::vector<std::string>> spellings = {{name, value}, {name + "=" + value}};
            if (!letter.empty()) {
                spellings.push_back({"-" + letter, value});
                spellings.push_back({"-q" + letter, value});
                spellings.push_back({"-" + letter + value});
            }
            for (const std::vector<std::string>& spelling : spellings) {
                run::CommandLine line = run::ReadCommandLine(spelling);
                EXPECT_EQ(valueOf(line.Asked, option.Long), value) << spelling[0];
                EXPECT_NE(line.Asked.What, run::Action::Help) << spelling[0];
            }
        }
    }
    EXPECT_EQ(run::ReadCommandLine({"-q", "-?"}).Asked.What, run::Action::Help);
    EXPECT_TRUE(run::ReadCommandLine({"-q", "-RAWExtract"}).Asked.Raw);
}

// --serve takes a port, or a numeric address and a port; anything else is named.
TEST(Options, ServeTakesAPortOrANumericAddressAndAPort) {
    struct Case {
        const char* value;
        const char* address; // nothing: refused
        std::uint16_t port;
    };
    const Case cases[] = {
        {"8080", "127.0.0.1", 8080},
        {"0", "127.0.0.1", 0},
        {"0.0.0.0:80", "0.0.0.0", 80},
        {"[::1]:0", "::1", 0},
        {"x", nullptr, 0},
        {"1.2.3:80", nullptr, 0},
        {"70000", nullptr, 0},
        {"localhost:80", nullptr, 0},
        {"[zz]:1", nullptr, 0},
        {"1.2.3.256:1", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case& c : cases) {
        run::CommandLine line = run::ReadCommandLine({"--serve", c.value});
        if (c.address == nullptr) {
            EXPECT_EQ(line.Problem, std::string("option '--serve' takes [ADDRESS:]PORT, a numeric "
                                                "address and a port from 0 to 65535, not '") +
                                        c.value + "'");
        } else {
            EXPECT_EQ(line.Problem, "") << c.value;
            EXPECT_EQ(line.Asked.ServeAddress, c.address) << c.value;
            EXPECT_EQ(line.Asked.ServePort, c.port) << c.value;
        }
    }
}
