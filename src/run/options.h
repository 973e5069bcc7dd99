#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace run {

inline constexpr std::string_view RawExtractOption = "-RAWExtract";
inline constexpr std::string_view HelpOptions[] = {"-h", "--help", "-?", "/?"};
inline constexpr std::string_view VersionOption = "--version";

// What the first argument asks for. Each option is an exact, case-sensitive match; anything else,
// or nothing, asks for the normal mode.
enum class Request { Extract, RawExtract, Help, Version };
Request ChooseRequest(const std::optional<std::string>& firstArgument);

// Whether the first argument asks for the RAW mode.
bool IsRawExtract(const std::optional<std::string>& firstArgument);

// The first argument of a whole command line, as Windows hands it over: blanks and control
// characters separate arguments, a double quote switches grouping on and off and is dropped, and
// the program's own name comes first and is skipped the same way. Empty when there is none.
std::optional<std::string> FirstArgument(std::string_view commandLine);

} // namespace run
