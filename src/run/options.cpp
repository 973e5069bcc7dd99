#include "run/options.h"

#include "extract/pool.h"
#include "run/patterns.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

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
    BackgroundValue,
    ServeValue,
    OpenValue
};

constexpr unsigned ForExtraction = 1u << static_cast<unsigned>(Action::Extract);
constexpr unsigned ForList = 1u << static_cast<unsigned>(Action::List);
constexpr unsigned ForTest = 1u << static_cast<unsigned>(Action::Test);
constexpr unsigned ForStream = 1u << static_cast<unsigned>(Action::Stream);
constexpr unsigned ForMount = 1u << static_cast<unsigned>(Action::Mount);
constexpr unsigned ForServe = 1u << static_cast<unsigned>(Action::Serve);
constexpr unsigned ForEveryJob =
    ForExtraction | ForList | ForTest | ForStream | ForMount | ForServe;

// Every option of the option form, in the order the help shows them; getopt's tables, the help,
// and (through a test) the man page and the bash completion are made from this one.
constexpr std::array<OptionName, 21> OptionNames = {{
    {"list", 'l', "", ForList, "list the files a run would write: size and path; write nothing"},
    {"names", NamesValue, "", ForList, "list the paths alone, one a line"},
    {"null", '0', "", ForList, "list the paths alone, each ended by a zero byte (xargs -0)"},
    {"test", 't', "", ForTest, "read every file a run would write and check it; write nothing"},
    {"to-stdout", 'p', "", ForStream,
     "write the bytes of the files a run would write to standard\n"
     "output, one after another; write no file"},
    {"details", DetailsValue, "", ForList,
     "with --list: each sound's format, channels, rate and duration"},
    {"raw", 'r', "", ForEveryJob, "the RAW layout (also -RAWExtract)"},
    {"archives", 'a', "DIR", ForEveryJob,
     "the folder that holds the archives (default: the current one)"},
    {"output-dir", 'd', "DIR", ForExtraction,
     "the folder that receives the __<archive> folders (default: the\n"
     "current one); made with its parents when missing"},
    {"include", 'i', "PATTERN", ForEveryJob, "take only files that match; may be repeated"},
    {"exclude", 'x', "PATTERN", ForEveryJob,
     "leave out files that match; may be repeated; wins over -i"},
    {"keep-existing", 'k', "", ForExtraction,
     "leave every output path where something stands as it is"},
    {"threads", 'j', "N", ForExtraction | ForTest,
     "writer threads, 0 to 64 (0: the reading thread writes)"},
    {"quiet", 'q', "", ForEveryJob, "no banner, phases or progress"},
    {"json", JsonValue, "", ForList | ForTest, "with --list or --test: one JSON object per line"},
    {"mount", MountValue, "DIR", ForMount,
     "show the tree a run writes, read-only, at the empty folder DIR,\n"
     "with ByTag/ beside it (every tag of every sound); Linux only"},
    {"background", BackgroundValue, "", ForMount, "with --mount: detach once the mount stands"},
    {"serve", ServeValue, "[ADDRESS:]PORT", ForServe,
     "serve a page of the tree a run writes at http://127.0.0.1:PORT/\n"
     "(PORT 0: a free one) to search, play, check and download it"},
    {"open", OpenValue, "", ForServe, "with --serve: open the page in the default browser"},
    {"help", 'h', "", ForEveryJob, "shows this text (also -? and /?)"},
    {"version", VersionValue, "", ForEveryJob, "shows the version"},
}};

// getopt's short options, from the table: "+" keeps getopt from moving arguments around (an
// argument that is no option is an error anyway), ":" makes a missing value its own answer.
std::string ShortOptions() {
    std::string letters = "+:";
    for (const OptionName& option : OptionNames) {
        if (option.Short < 256) {
            letters += static_cast<char>(option.Short);
            letters += option.TakesValue() ? ":" : "";
        }
    }
    return letters;
}

// How the refusals name a job.
std::string JobName(Action job) {
    switch (job) {
    case Action::List:
        return "--list";
    case Action::Test:
        return "--test";
    case Action::Stream:
        return "--to-stdout";
    case Action::Mount:
        return "--mount";
    case Action::Serve:
        return "--serve";
    default:
        return "an extraction";
    }
}

// "an extraction or --test", "--list": the jobs of bits, as the refusals name them.
std::string JobNames(unsigned jobs) {
    std::vector<std::string> names;
    for (Action job : {Action::Extract, Action::List, Action::Test, Action::Stream, Action::Mount,
                       Action::Serve}) {
        if ((jobs & 1u << static_cast<unsigned>(job)) != 0) {
            names.push_back(JobName(job));
        }
    }
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) {
        text += (k == 0 ? "" : k + 1 == names.size() ? " or " : ", ") + names[k];
    }
    return text;
}

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
    if (named.front()->TakesValue()) {
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
            value = named.size() == 1 && named.front()->TakesValue();
        } else if (word.size() > 1 && word[0] == '-') {
            // In a bundle, the first option that takes a value takes the rest of the word, or,
            // when nothing of the word is left, the next word.
            for (std::size_t at = 1; at < word.size(); ++at) {
                const OptionName* option = ShortOptionNamed(static_cast<unsigned char>(word[at]));
                if (option != nullptr && option->TakesValue()) {
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

// "[ADDRESS:]PORT": a port alone is served on 127.0.0.1; an address is numeric, IPv6 in brackets.
bool ReadServeAddress(std::string_view text, std::string& address, std::uint16_t& port) {
    std::size_t colon = text.rfind(':');
    std::string_view digits = colon == std::string_view::npos ? text : text.substr(colon + 1);
    address = colon == std::string_view::npos ? "127.0.0.1" : std::string(text.substr(0, colon));
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
        if (address.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
            return false;
        }
    } else {
        int dots = 0;
        for (std::size_t begin = 0; begin <= address.size(); ++dots) {
            std::size_t end = std::min(address.find('.', begin), address.size());
            std::string_view part = std::string_view(address).substr(begin, end - begin);
            unsigned value = 0;
            auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), value);
            if (part.empty() || part.size() > 3 || error != std::errc() ||
                stop != part.data() + part.size() || value > 255) {
                return false;
            }
            begin = end + 1;
        }
        if (dots != 4) {
            return false;
        }
    }
    unsigned value = 0;
    auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || stop != digits.data() + digits.size() ||
        value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// A value that names a folder must name one: a script's "-d $UNSET" must not mean the current one.
std::string FolderProblem(std::string_view option, const std::string& folder) {
    return folder.empty() ? "option '" + std::string(option) + "' needs a folder, not an empty name"
                          : "";
}

// Nor may a pattern be empty, or a separator alone: "-x $UNSET" would leave out every file.
std::string PatternProblem(std::string_view option, const std::string& pattern) {
    return NamesNothing(pattern) ? "option '" + std::string(option) +
                                       "' needs a pattern that names files, not '" + pattern + "'"
                                 : "";
}

// tar's habit: "-xvf FILE" would leave out the files that match "vf" and extract the rest.
std::string TarHabitProblem(std::string_view word, const std::string& pattern) {
    bool tarLetters = !pattern.empty() && pattern.size() <= 4 &&
                      pattern.find_first_not_of("vfzjJ") == std::string::npos;
    if (!tarLetters || !word.starts_with("-x") || word.substr(2) != pattern) {
        return "";
    }
    std::string problem = "'";
    problem.append(word).append("' would leave out the files that match '").append(pattern);
    return problem.append("', as -x takes the rest of the word: cscunpack extracts without tar's ")
        .append("-xvf, and leaves out '")
        .append(pattern)
        .append("' with -x ")
        .append(pattern);
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
        table.push_back({option.Long.data(), option.TakesValue() ? required_argument : no_argument,
                         nullptr, option.Short});
    }
    table.push_back({nullptr, 0, nullptr, 0});

    bool list = false, test = false, stream = false, names = false, nullEnded = false,
         mount = false, serve = false;
    std::vector<const OptionName*> given; // in the order given
    int argc = static_cast<int>(argv.size() - 1);
    const std::string shortOptions = ShortOptions();
    optind = 0; // a new command line: getopt starts afresh
    opterr = 0; // its messages are not the tool's
    while (true) {
        std::string_view word = optind < argc ? argv[optind] : "";
        if (optind == 0) {
            word = argc > 1 ? argv[1] : "";
        }
        int found = getopt_long(argc, argv.data(), shortOptions.c_str(), table.data(), nullptr);
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
        if (const OptionName* option = ShortOptionNamed(found)) {
            given.push_back(option);
        }
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
        case ServeValue:
            serve = true;
            if (!ReadServeAddress(value, asked.ServeAddress, asked.ServePort)) {
                line.Problem = "option '--serve' takes [ADDRESS:]PORT, a numeric address and a "
                               "port from 0 to 65535, not '" +
                               value + "'";
            }
            break;
        case OpenValue:
            asked.OpenPage = true;
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
            line.Problem = PatternProblem("--include", value);
            break;
        case 'x':
            asked.Exclude.push_back(value);
            line.Problem = PatternProblem("--exclude", value);
            if (line.Problem.empty() && optarg != argv[optind - 1]) {
                line.Problem = TarHabitProblem(argv[optind - 1], value);
            }
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
        // A folder or a name on its own most likely wanted its option.
        line.Problem = "unexpected argument '" + std::string(argv[optind]) +
                       "'; an archives folder goes after -a, a file to take after -i";
        return line;
    }

    list = list || names || nullEnded;
    asked.Style = names       ? jobs::ListingStyle::Names
                  : nullEnded ? jobs::ListingStyle::NullEnded
                              : jobs::ListingStyle::Table;
    asked.What = list     ? Action::List
                 : test   ? Action::Test
                 : stream ? Action::Stream
                 : mount  ? Action::Mount
                 : serve  ? Action::Serve
                          : Action::Extract;
    if (int(list) + int(test) + int(stream) + int(mount) + int(serve) > 1) {
        line.Problem = "only one of --list, --test, --to-stdout, --mount and --serve can be given";
    } else if (names && nullEnded) {
        line.Problem = "--names and --null cannot go together";
    } else if ((names || nullEnded) && (asked.Details || asked.Json)) {
        line.Problem = "--names and --null list paths alone, without --details or --json";
    }
    // An option that does nothing for the job asked is refused, whichever it is.
    for (const OptionName* option : given) {
        if (line.Problem.empty() && (option->Jobs & 1u << static_cast<unsigned>(asked.What)) == 0) {
            line.Problem = "--" + std::string(option->Long) + " goes with " +
                           JobNames(option->Jobs) + ", not with " + JobName(asked.What);
        }
    }
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

bool IsBlank(char character) {
    return character == ' ' || character == '\t';
}

// The arguments as the C runtime of Windows splits a command line for main.
std::vector<std::string> SplitAsTheRuntimeDoes(std::string_view line) {
    std::size_t at = 0;
    // The program's name ends at the next quote when it begins with one, else at a blank; it
    // knows no backslashes.
    if (at < line.size() && line[at] == '"') {
        at = line.find('"', at + 1);
        at = at == std::string_view::npos ? line.size() : at + 1;
    }
    while (at < line.size() && !IsBlank(line[at])) {
        ++at;
    }
    std::vector<std::string> arguments;
    while (true) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        if (at >= line.size()) {
            return arguments;
        }
        std::string argument;
        bool quoted = false;
        while (at < line.size() && (quoted || !IsBlank(line[at]))) {
            std::size_t backslashes = 0;
            while (at < line.size() && line[at] == '\\') {
                ++backslashes;
                ++at;
            }
            if (at < line.size() && line[at] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
                    argument += '"';
                    ++at;
                } else {
                    quoted = !quoted;
                }
                ++at;
            } else {
                argument.append(backslashes, '\\');
                if (backslashes == 0) {
                    argument += line[at++];
                }
            }
        }
        arguments.push_back(std::move(argument));
    }
}

} // namespace

std::span<const OptionName> OptionTable() {
    return OptionNames;
}

std::vector<std::string> HelpText() {
    std::vector<std::string> lines = {
        "Usage: cscunpack [-RAWExtract]",
        "       cscunpack [options]",
        "",
        "Unpacks the sound files (OGG and WAV) stored in the CSC archives of Corvane 2, byte for",
        "byte: SchemaMetafile_HardDrive.csc (the index, required) and SchemaMetaFile.csc,",
        "SchemaMetaFile_Memory.csc, SchemaMetaFile_DVD1.csc to SchemaMetaFile_DVD3.csc (each",
        "optional). The files go to a folder for each archive:",
        "",
        "  __<archive>/TaggedSounds/<tag>[.<sub-tag>]/<file>   the tag and mission tables",
        "  __<archive>/MissionSounds/<mission>/<file>",
        "  __<archive>/<number>_<file>                         the RAW mode",
        "",
        "The classic command line, in the folder that holds the archives, exactly as written:",
        "  cscunpack              follows the index's tag and mission tables",
        "  cscunpack -RAWExtract  reads the sound records back to back into numbered files",
        "",
        "Any other command line is read as options; results go to standard output, everything",
        "else to standard error. Short options bundle (-lq, -dout):",
    };
    for (const OptionName& option : OptionNames) {
        std::string names = option.Short < 256
                                ? std::string("  -") + static_cast<char>(option.Short) + ", "
                                : std::string("      ");
        names.append("--").append(option.Long);
        if (option.TakesValue()) {
            names.append(" ").append(option.Value);
        }
        std::string_view help = option.Help;
        for (bool first = true; !help.empty(); first = false) {
            std::size_t end = std::min(help.find('\n'), help.size());
            std::string line = first ? names : std::string();
            line.resize(25, ' ');
            lines.push_back(line.append(help.substr(0, end)));
            help.remove_prefix(std::min(end + 1, help.size()));
        }
    }
    const std::string_view after[] = {
        "",
        "PATTERN matches a path below the output folder, / between folders, as in .gitignore:",
        "without a /, any folder or file name (Ambience, *.wav); with one, the path from the",
        "output folder on (__SchemaMetaFile_DVD1.csc/MissionSounds); a folder that matches takes",
        "everything below it. A trailing / matches folders only, a leading **/ any folder; * and",
        "? stay within a name, ** spans folders, [...] is a class. Letters match in either case,",
        "unlike git's default, as Windows, the game's platform, takes names in either case.",
        "",
        "Existing files of the same names are replaced, unless --keep-existing is given.",
        "",
        "Exit codes: 0 every file written (listed, or found whole); 1 done, with warnings (files",
        "not written, damaged, skipped, or a pattern that matched nothing); 2 the index archive",
        "not found or unreadable, or a command line in error; 3 the output could not be written;",
        "130 interrupted; 203 memory ran out.",
    };
    lines.insert(lines.end(), std::begin(after), std::end(after));
    // The tree in the platform's own separators.
    for (std::string& line : lines) {
        if (line.find("__<") != std::string::npos) {
            std::replace(line.begin(), line.end(), '/', platform::ShownSeparator);
        }
    }
    return lines;
}

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
    return IsCompatibleForm(arguments) ? CompatibleForm(arguments) : OptionForm(arguments);
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> classic;
    std::size_t position = 0;
    NextArgument(commandLine, position); // the program's own name
    while (std::optional<std::string> argument = NextArgument(commandLine, position)) {
        classic.push_back(std::move(*argument));
    }
    std::vector<std::string> arguments = SplitAsTheRuntimeDoes(commandLine);
    bool controls = std::any_of(commandLine.begin(), commandLine.end(), [](char c) {
        return static_cast<unsigned char>(c) < ' ' && c != '\t';
    });
    return controls && IsCompatibleForm(classic) ? classic : arguments;
}

} // namespace run
