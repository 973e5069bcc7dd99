#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace run {

inline constexpr std::string_view RawExtractOption = "-RAWExtract";

// Whether the first argument asks for the RAW mode: an exact, case-sensitive match only.
bool IsRawExtract(const std::optional<std::string>& firstArgument);

// The first argument of a whole command line, as Windows hands it over: blanks and control
// characters separate arguments, a double quote switches grouping on and off and is dropped, and
// the program's own name comes first and is skipped the same way. Empty when there is none.
std::optional<std::string> FirstArgument(std::string_view commandLine);

} // namespace run
