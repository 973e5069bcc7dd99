#include "run/options.h"

namespace run {
namespace {

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

Request ChooseRequest(const std::optional<std::string>& firstArgument) {
    if (!firstArgument) {
        return Request::Extract;
    }
    if (*firstArgument == RawExtractOption) {
        return Request::RawExtract;
    }
    if (*firstArgument == VersionOption) {
        return Request::Version;
    }
    for (std::string_view help : HelpOptions) {
        if (*firstArgument == help) {
            return Request::Help;
        }
    }
    return Request::Extract;
}

bool IsRawExtract(const std::optional<std::string>& firstArgument) {
    return ChooseRequest(firstArgument) == Request::RawExtract;
}

std::optional<std::string> FirstArgument(std::string_view commandLine) {
    std::size_t position = 0;
    if (!NextArgument(commandLine, position)) {
        return std::nullopt;
    }
    return NextArgument(commandLine, position);
}

} // namespace run
