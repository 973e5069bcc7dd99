#pragma once

#include <string>
#include <string_view>
#include <vector>

// Which files a run takes, by patterns over their paths below the output folder ("/" between the
// folders on every platform).
namespace run {

struct Selection {
    std::vector<std::string> Include; // none: every file
    std::vector<std::string> Exclude; // wins over Include
};

// Whether pattern matches path. A pattern without "/" is matched against the file name alone, one
// with "/" against the whole path. "*" and "?" stay within a folder name, "**" spans folders
// ("a/**/b" also matches "a/b"), "[...]" is a class ("[!...]" or "[^...]" its complement, "a-z" a
// range); ASCII letters match in either case.
bool Matches(std::string_view pattern, std::string_view path);
bool Selected(const Selection& selection, std::string_view path);

} // namespace run
