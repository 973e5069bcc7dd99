#include "run/patterns.h"

#include <algorithm>

namespace run {
namespace {

char Folded(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

// Matches the class that starts at pattern[p] ("[") against character; end goes behind the class.
// A "[" without its "]" is taken as itself.
bool ClassMatches(std::string_view pattern, std::size_t p, char character, std::size_t& end) {
    std::size_t at = p + 1;
    bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    at += negated ? 1 : 0;
    bool matched = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        char low = pattern[at];
        char high = low;
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            high = pattern[at + 2];
            at += 3;
        } else {
            at += 1;
        }
        for (char candidate :
             {character, Folded(character),
              character >= 'a' && character <= 'z' ? static_cast<char>(character - 'a' + 'A')
                                                   : character}) {
            auto c = static_cast<unsigned char>(candidate);
            matched = matched || (c >= static_cast<unsigned char>(low) &&
                                  c <= static_cast<unsigned char>(high));
        }
    }
    if (at >= pattern.size()) {
        end = p + 1;
        return character == '[';
    }
    end = at + 1;
    return matched != negated && character != '/';
}

// Matching with "*" and "**" backtracks; seen remembers the places already tried, so that no
// pattern costs more than its length times the path's.
bool MatchFrom(std::string_view pattern, std::size_t p, std::string_view path, std::size_t s,
               std::vector<bool>& seen) {
    std::size_t place = p * (path.size() + 1) + s;
    if (seen[place]) {
        return false;
    }
    seen[place] = true;
    while (p < pattern.size()) {
        char wanted = pattern[p];
        if (wanted == '*') {
            bool spans = p + 1 < pattern.size() && pattern[p + 1] == '*';
            std::size_t next = p + (spans ? 2 : 1);
            if (spans && next < pattern.size() && pattern[next] == '/' &&
                MatchFrom(pattern, next + 1, path, s, seen)) {
                return true; // "**/" standing for no folder at all
            }
            for (std::size_t end = s;; ++end) {
                if (MatchFrom(pattern, next, path, end, seen)) {
                    return true;
                }
                if (end == path.size() || (!spans && path[end] == '/')) {
                    return false;
                }
            }
        }
        if (s == path.size()) {
            return false;
        }
        if (wanted == '?') {
            if (path[s] == '/') {
                return false;
            }
            ++p;
        } else if (wanted == '[') {
            std::size_t end = p;
            if (!ClassMatches(pattern, p, path[s], end)) {
                return false;
            }
            p = end;
        } else {
            if (Folded(wanted) != Folded(path[s])) {
                return false;
            }
            ++p;
        }
        ++s;
    }
    return s == path.size();
}

} // namespace

bool Matches(std::string_view pattern, std::string_view path) {
    if (pattern.find('/') == std::string_view::npos) {
        std::size_t slash = path.rfind('/');
        path = slash == std::string_view::npos ? path : path.substr(slash + 1);
    }
    std::vector<bool> seen((pattern.size() + 1) * (path.size() + 1));
    return MatchFrom(pattern, 0, path, 0, seen);
}

bool Selected(const Selection& selection, std::string_view path) {
    auto matches = [&](const std::string& pattern) { return Matches(pattern, path); };
    bool included = selection.Include.empty() ||
                    std::any_of(selection.Include.begin(), selection.Include.end(), matches);
    return included && std::none_of(selection.Exclude.begin(), selection.Exclude.end(), matches);
}

} // namespace run
