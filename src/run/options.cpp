#include "run/options.h"

#include "extract/pool.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace run {

unsigned MachineThreads() {
    return extract::MachineWorkers();
}
namespace {

constexpr std::array<std::string_view, 4> HelpOptions = {"-h", "--help", "-?", "/?"};
constexpr std::string_view VersionOption = "--version";

// Values of the options that have no short form.
enum LongOnly : int {
    DetailsValue = 256,
    JsonValue,
    NamesValue,
    VersionValue,
    MountValue,
    BackgroundValue
};

struct OptionName {
    std::string_view Long;
    int Short; // or a LongOnly value
    bool TakesValue;
};

// Every option of the option form; getopt's table is made from this one.
constexpr std::array<OptionName, 19> OptionNames = {{
    {"list", 'l', false},
    {"test", 't', false},
    {"to-stdout", 'p', false},
    {"details", DetailsValue, false},
    {"names", NamesValue, false},
    {"null", '0', false},
    {"json", JsonValue, false},
    {"raw", 'r', false},
    {"archives", 'a', true},
    {"output-dir", 'd', true},
    {"include", 'i', true},
    {"exclude", 'x', true},
    {"keep-existing", 'k', false},
    {"threads", 'j', true},
    {"quiet", 'q', false},
    {"mount", MountValue, true},
    {"background", BackgroundValue, false},
    {"help", 'h', false},
    {"version", VersionValue, false},
}};

// "+" keeps getopt from moving arguments around (an argument that is no option is an error
// anyway), ":" makes a missing value its own answer.
constexpr const char* ShortOptions = "+:ltp0ra:d:i:x:kj:qh";

bool Among(std::string_view argument, const auto& options) {
    return std::find(options.begin(), options.end(), argument) != options.end();
}

bool IsCompatibleForm(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return true;
    }
    const std::string& only = arguments.front();
    return arguments.size() == 1 &&
           (only == RawExtractOption || only == VersionOption || Among(only, HelpOptions));
}

CommandLine CompatibleForm(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (arguments.empty()) {
        return line;
    }
    const std::string& only = arguments.front();
    if (only == RawExtractOption) {
        line.Asked.Raw = true;
    } else if (only == VersionOption) {
        line.Asked.What = Action::Version;
    } else {
        line.Asked.What = Action::Help;
    }
    return line;
}

// The long options whose name is name, or, where none is, those that name begins.
std::vector<const OptionName*> LongOptionsNamed(std::string_view name) {
    std::vector<const OptionName*> found;
    for (const OptionName& option : OptionNames) {
        if (option.Long == name) {
            return {&option};
        }
        if (!name.empty() && option.Long.starts_with(name)) {
            found.push_back(&option);
        }
    }
    return found;
}

const OptionName* ShortOptionNamed(int character) {
    for (const OptionName& option : OptionNames) {
        if (option.Short == character) {
            return &option;
        }
    }
    return nullptr;
}

// Edits (insertions, deletions, replacements) that turn a into b.
std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The long option a mistyped name most likely meant, when one is near enough.
std::string Suggestion(std::string_view name) {
    const OptionName* nearest = nullptr;
    std::size_t best = 3;
    for (const OptionName& option : OptionNames) {
        std::size_t distance = Distance(name, option.Long);
        if (distance < best && distance < option.Long.size()) {
            best = distance;
            nearest = &option;
        }
    }
    return nearest == nullptr ? "" : "; did you mean --" + std::string(nearest->Long) + "?";
}

// What is wrong with the long option word ("--name" or "--name=value") that getopt refused.
std::string LongOptionProblem(std::string_view word) {
    std::string_view body = word.substr(2);
    std::size_t equals = body.find('=');
    std::string_view name = body.substr(0, equals);
    std::vector<const OptionName*> named = LongOptionsNamed(name);
    std::string quoted = "'--" + std::string(name) + "'";
    if (named.empty()) {
        return "unknown option " + quoted + Suggestion(name);
    }
    if (named.size() > 1) {
        std::string choices;
        for (const OptionName* option : named) {
            choices += (choices.empty() ? "" : ", ") + ("--" + std::string(option->Long));
        }
        return "option " + quoted + " is ambiguous: " + choices;
    }
    std::string full = "'--" + std::string(named.front()->Long) + "'";
    if (named.front()->TakesValue) {
        return "option " + full + " needs a value";
    }
    return "option " + full + " takes no value";
}

// The words as getopt is to read them. "-RAWExtract" stands for "--raw", and "-?" and "/?" for
// "--help", wherever an option may stand; a word that is an option's value is left as it is.
// A word that is the RAW option in another case would read as a bundle ("-r -a wextract"), which
// is not what its writer meant; problem names it.
std::vector<std::string> Normalised(const std::vector<std::string>& arguments,
                                    std::string& problem) {
    std::vector<std::string> words = arguments;
    bool value = false;
    auto sameLetters = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    for (std::string& word : words) {
        if (value) {
            value = false;
        } else if (word == "--") {
            break;
        } else if (word != RawExtractOption && word.size() == RawExtractOption.size() &&
                   std::equal(word.begin(), word.end(), RawExtractOption.begin(), sameLetters)) {
            problem = "unknown option '" + word + "'; did you mean " +
                      std::string(RawExtractOption) + "?";
            break;
        } else if (word == RawExtractOption) {
            word = "--raw";
        } else if (word == "-?" || word == "/?") {
            word = "--help";
        } else if (word.starts_with("--")) {
            std::vector<const OptionName*> named = LongOptionsNamed(word.substr(2));
            value = named.size() == 1 && named.front()->TakesValue;
        } else if (word.size() > 1 && word[0] == '-') {
            // In a bundle, the first option that takes a value takes the rest of the word, or,
            // when nothing of the word is left, the next word.
            for (std::size_t at = 1; at < word.size(); ++at) {
                const OptionName* option = ShortOptionNamed(static_cast<unsigned char>(word[at]));
                if (option != nullptr && option->TakesValue) {
                    value = at + 1 == word.size();
                    break;
                }
            }
        }
    }
    return words;
}

bool ReadThreads(std::string_view text, unsigned& threads) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    threads = static_cast<unsigned>(std::stoul(std::string(text)));
    return threads <= MostThreads;
}

// A value that names a folder must name one: a script's "-d $UNSET" must not mean the current one.
std::string FolderProblem(std::string_view option, const std::string& folder) {
    return folder.empty() ? "option '" + std::string(option) + "' needs a folder, not an empty name"
                          : "";
}

CommandLine OptionForm(const std::vector<std::string>& arguments) {
    CommandLine line;
    Options& asked = line.Asked;
    asked.OptionForm = true;

    std::vector<std::string> words = Normalised(arguments, line.Problem);
    if (!line.Problem.empty()) {
        return line;
    }
    std::string programName = "cscunpack";
    std::vector<char*> argv;
    argv.push_back(programName.data());
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<struct option> table;
    for (const OptionName& option : OptionNames) {
        table.push_back({option.Long.data(), option.TakesValue ? required_argument : no_argument,
                         nullptr, option.Short});
    }
    table.push_back({nullptr, 0, nullptr, 0});

    bool list = false, test = false, stream = false, names = false, nullEnded = false,
         mount = false;
    int argc = static_cast<int>(argv.size() - 1);
    optind = 0; // a new command line: getopt starts afresh
    opterr = 0; // its messages are not the tool's
    while (true) {
        std::string_view word = optind < argc ? argv[optind] : "";
        if (optind == 0) {
            word = argc > 1 ? argv[1] : "";
        }
        int found = getopt_long(argc, argv.data(), ShortOptions, table.data(), nullptr);
        if (found == -1) {
            break;
        }
        if (found == '?' || found == ':') {
            if (word.starts_with("--")) {
                line.Problem = LongOptionProblem(word);
            } else if (found == ':') {
                line.Problem =
                    "option '-" + std::string(1, static_cast<char>(optopt)) + "' needs a value";
            } else {
                line.Problem =
                    "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
            }
            return line;
        }
        std::string value = optarg != nullptr ? optarg : "";
        switch (found) {
        case 'h':
            asked.What = Action::Help;
            return line;
        case VersionValue:
            asked.What = Action::Version;
            return line;
        case 'l':
            list = true;
            break;
        case 't':
            test = true;
            break;
        case 'p':
            stream = true;
            break;
        case DetailsValue:
            asked.Details = true;
            break;
        case NamesValue:
            names = true;
            break;
        case '0':
            nullEnded = true;
            break;
        case JsonValue:
            asked.Json = true;
            break;
        case 'r':
            asked.Raw = true;
            break;
        case 'k':
            asked.KeepExisting = true;
            break;
        case 'q':
            asked.Quiet = true;
            break;
        case MountValue:
            mount = true;
            asked.MountFolder = value;
            line.Problem = FolderProblem("--mount", value);
            break;
        case BackgroundValue:
            asked.Background = true;
            break;
        case 'a':
            asked.ArchiveFolder = value;
            line.Problem = FolderProblem("--archives", value);
            break;
        case 'd':
            asked.OutputFolder = value;
            line.Problem = FolderProblem("--output-dir", value);
            break;
        case 'i':
            asked.Include.push_back(value);
            break;
        case 'x':
            asked.Exclude.push_back(value);
            break;
        case 'j': {
            unsigned threads = 0;
            if (!ReadThreads(value, threads)) {
                line.Problem = "option '--threads' takes a number from 0 to " +
                               std::to_string(MostThreads) + ", not '" + value + "'";
            }
            asked.Threads = threads;
            break;
        }
        default:
            line.Problem = "unknown option";
            break;
        }
        if (!line.Problem.empty()) {
            return line;
        }
    }
    if (optind < argc) {
        line.Problem = "unexpected argument '" + std::string(argv[optind]) + "'";
        return line;
    }

    list = list || names || nullEnded;
    if (int(list) + int(test) + int(stream) + int(mount) > 1) {
        line.Problem = "only one of --list, --test, --to-stdout and --mount can be given";
    } else if (mount && (!asked.OutputFolder.empty() || asked.KeepExisting || asked.Threads)) {
        line.Problem = "--mount shows the tree in place: it takes no --output-dir, "
                       "--keep-existing or --threads";
    } else if (asked.Background && !mount) {
        line.Problem = "--background goes with --mount";
    } else if (names && nullEnded) {
        line.Problem = "--names and --null cannot go together";
    } else if ((names || nullEnded) && (asked.Details || asked.Json)) {
        line.Problem = "--names and --null list paths alone, without --details or --json";
    } else if (asked.Details && !list) {
        line.Problem = "--details goes with --list";
    } else if (asked.Json && !list && !test) {
        line.Problem = "--json goes with --list or --test";
    }
    asked.Style = names       ? jobs::ListingStyle::Names
                  : nullEnded ? jobs::ListingStyle::NullEnded
                              : jobs::ListingStyle::Table;
    asked.What = list     ? Action::List
                 : test   ? Action::Test
                 : stream ? Action::Stream
                 : mount  ? Action::Mount
                          : Action::Extract;
    return line;
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

} // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
    return IsCompatibleForm(arguments) ? CompatibleForm(arguments) : OptionForm(arguments);
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
