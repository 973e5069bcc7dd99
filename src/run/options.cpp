#include "run/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>

namespace run {
namespace {

constexpr std::array<std::string_view, 4> HelpOptions = {"-h", "--help", "-?", "/?"};
constexpr std::string_view VersionOption = "--version";
// Short options of the option form; each stands alone ("-l -q", never "-lq"), so that an argument
// such as "-rawextract" stays the compatible form's.
constexpr std::array<std::string_view, 10> ShortOptions = {"-l", "-t", "-r", "-a", "-d",
                                                           "-i", "-x", "-k", "-j", "-q"};
constexpr std::array<std::string_view, 5> TakeAValue = {"-a", "-d", "-i", "-x", "-j"};

bool Among(std::string_view argument, const auto& options) {
    return std::find(options.begin(), options.end(), argument) != options.end();
}

bool StartsOptionForm(std::string_view argument) {
    return Among(argument, ShortOptions) || argument.starts_with("--");
}

bool SeparatesArguments(char character) {
    return static_cast<unsigned char>(character) <= ' ';
}

// Takes one argument from position on, moving position behind it; nothing when only separators
// remain.
std::optional<std::string> NextArgument(std::string_view line, std::size_t& position) {
    while (position < line.size() && SeparatesArguments(line[position])) {
        ++position;
    }
    if (position >= line.size()) {
        return std::nullopt;
    }
    std::string argument;
    bool quoted = false;
    for (; position < line.size(); ++position) {
        char character = line[position];
        if (character == '"') {
            quoted = !quoted;
        } else if (!quoted && SeparatesArguments(character)) {
            break;
        } else {
            argument += character;
        }
    }
    return argument;
}

CommandLine CompatibleForm(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (arguments.empty()) {
        return line;
    }
    const std::string& first = arguments.front();
    if (first == RawExtractOption) {
        line.Asked.Raw = true;
    } else if (Among(first, HelpOptions)) {
        line.Asked.What = Action::Help;
    } else if (first == VersionOption) {
        line.Asked.What = Action::Version;
    }
    return line;
}

CommandLine OptionForm(const std::vector<std::string>& arguments) {
    CommandLine line;
    Options& asked = line.Asked;
    asked.OptionForm = true;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (Among(argument, HelpOptions)) {
            asked.What = Action::Help;
            return line;
        }
        if (argument == VersionOption) {
            asked.What = Action::Version;
            return line;
        }
        if (argument == RawExtractOption) {
            words.push_back("--raw");
            continue;
        }
        if (argument.starts_with("-") && !argument.starts_with("--") &&
            !Among(argument, ShortOptions)) {
            line.Problem = "unknown option '" + argument + "'";
            return line;
        }
        words.push_back(argument);
        if (Among(argument, TakeAValue) && i + 1 < arguments.size()) {
            words.push_back(arguments[++i]); // a value, whatever it looks like
        }
    }

    CLI::App parser;
    parser.set_help_flag();
    parser.allow_windows_style_options(false);
    bool list = false, test = false;
    unsigned threads = 0;
    parser.add_flag("-l,--list", list);
    parser.add_flag("-t,--test", test);
    parser.add_flag("--details", asked.Details);
    parser.add_flag("-r,--raw", asked.Raw);
    parser.add_option("-a,--archives", asked.ArchiveFolder);
    parser.add_option("-d,--output-dir", asked.OutputFolder);
    parser.add_option("-i,--include", asked.Include)->allow_extra_args(false);
    parser.add_option("-x,--exclude", asked.Exclude)->allow_extra_args(false);
    parser.add_flag("-k,--keep-existing", asked.KeepExisting);
    CLI::Option* threadOption =
        parser.add_option("-j,--threads", threads)->check(CLI::Range(0u, MostThreads));
    parser.add_flag("-q,--quiet", asked.Quiet);
    parser.add_flag("--json", asked.Json);
    std::reverse(words.begin(), words.end());
    try {
        parser.parse(words);
    } catch (const CLI::ParseError& error) {
        line.Problem = error.what();
        return line;
    }
    if (threadOption->count() > 0) {
        asked.Threads = threads;
    }
    if (list && test) {
        line.Problem = "--list and --test cannot go together";
    } else if (asked.Details && !list) {
        line.Problem = "--details goes with --list";
    } else if (asked.Json && !list && !test) {
        line.Problem = "--json goes with --list or --test";
    }
    asked.What = list ? Action::List : test ? Action::Test : Action::Extract;
    return line;
}

} // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
    bool optionForm =
        std::any_of(arguments.begin(), arguments.end(),
                    [](const std::string& argument) { return StartsOptionForm(argument); });
    return optionForm ? OptionForm(arguments) : CompatibleForm(arguments);
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> arguments;
    std::size_t position = 0;
    NextArgument(commandLine, position); // the program's own name
    while (std::optional<std::string> argument = NextArgument(commandLine, position)) {
        arguments.push_back(std::move(*argument));
    }
    return arguments;
}

} // namespace run
