#include "run/patterns.h"

#include "platform/platform.h"

#include <algorithm>
#include <optional>

namespace run {
namespace {

#if defined(_WIN32)
constexpr bool BackslashSeparates = true;
#else
constexpr bool BackslashSeparates = false;
#endif

char Folded(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

// The letter in the other case; anything else as it is.
char OtherCase(char character) {
    if (character >= 'a' && character <= 'z') {
        return static_cast<char>(character - 'a' + 'A');
    }
    return Folded(character);
}

bool SameLetter(char a, char b) {
    return Folded(a) == Folded(b);
}

bool InRange(char low, char high, char character) {
    auto within = [&](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte >= static_cast<unsigned char>(low) && byte <= static_cast<unsigned char>(high);
    };
    return within(character) || within(OtherCase(character));
}

// Whether character is of the named class, in ASCII; "upper" and "lower" take every letter, as
// letters match in either case. Nothing for a name that is no class.
std::optional<bool> InClass(std::string_view name, char character) {
    auto c = static_cast<unsigned char>(character);
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    bool graph = c > ' ' && c < 127;
    if (name == "alpha" || name == "upper" || name == "lower") {
        return letter;
    }
    if (name == "alnum") {
        return letter || digit;
    }
    if (name == "digit") {
        return digit;
    }
    if (name == "xdigit") {
        return digit || (Folded(character) >= 'a' && Folded(character) <= 'f');
    }
    if (name == "blank") {
        return c == ' ' || c == '\t';
    }
    if (name == "space") {
        return c == ' ' || (c >= '\t' && c <= '\r');
    }
    if (name == "cntrl") {
        return c < ' ' || c == 127;
    }
    if (name == "graph") {
        return graph;
    }
    if (name == "print") {
        return graph || c == ' ';
    }
    if (name == "punct") {
        return graph && !letter && !digit;
    }
    return std::nullopt;
}

// Whether the class "[...]" that starts at pattern[p] matches character, as gitignore reads one:
// "!" or "^" first takes its complement; "]" first is itself; "\" takes the next character as
// itself; "a-z" is a range (one whose ends stand the wrong way round holds only its first end,
// which counts before the range does); "[:digit:]" and the other POSIX names are classes, and an
// unknown one makes the class match nothing. next goes behind the class; nothing where it has no
// closing "]", which makes the whole pattern match nothing.
std::optional<bool> ClassMatches(std::string_view pattern, std::size_t p, char character,
                                 std::size_t& next) {
    std::size_t at = p + 1;
    bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    at += negated ? 1 : 0;
    bool matched = false;
    bool broken = false;
    std::optional<char> previous; // a character that a "-" after it starts a range from
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        char item = pattern[at];
        if (item == '\\' && at + 1 < pattern.size()) {
            item = pattern[++at];
            matched = matched || SameLetter(item, character);
            previous = item;
            ++at;
        } else if (item == '-' && previous && at + 1 < pattern.size() && pattern[at + 1] != ']') {
            char high = pattern[++at];
            if (high == '\\' && at + 1 < pattern.size()) {
                high = pattern[++at];
            }
            matched = matched || InRange(*previous, high, character);
            previous.reset();
            ++at;
        } else if (item == '[' && at + 1 < pattern.size() && pattern[at + 1] == ':' &&
                   pattern.find(":]", at + 2) != std::string_view::npos &&
                   pattern.find(":]", at + 2) < pattern.find(']', at + 2)) {
            std::size_t end = pattern.find(":]", at + 2);
            std::optional<bool> in = InClass(pattern.substr(at + 2, end - at - 2), character);
            broken = broken || !in;
            matched = matched || in.value_or(false);
            previous.reset();
            at = end + 2;
        } else {
            matched = matched || SameLetter(item, character);
            previous = item;
            ++at;
        }
    }
    if (at >= pattern.size()) {
        return std::nullopt;
    }
    next = at + 1;
    return !broken && matched != negated;
}

// Whether the one-character item of pattern at p ("?", a class, an escaped or a plain character)
// matches character; next goes behind the item. A "[" without its "]" matches nothing.
bool ItemMatches(std::string_view pattern, std::size_t p, char character, std::size_t& next) {
    char wanted = pattern[p];
    next = p + 1;
    if (wanted == '?') {
        return true;
    }
    if (wanted == '\\' && p + 1 < pattern.size()) {
        next = p + 2;
        return SameLetter(pattern[p + 1], character);
    }
    if (wanted == '[') {
        return ClassMatches(pattern, p, character, next).value_or(false);
    }
    return SameLetter(wanted, character);
}

// One component against one component pattern, by the greedy two-pointer method: each stretch
// between two stars is taken at its first fit, and a stretch that fails moves only the last star
// on. No earlier star is ever tried again, so the cost is the name's length times the longest
// stretch.
bool ComponentMatches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, s = 0;
    std::size_t starP = std::string_view::npos, starS = 0;
    while (s < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*') {
                ++p;
            }
            starP = p;
            starS = s;
            continue;
        }
        std::size_t next = p;
        if (p < pattern.size() && ItemMatches(pattern, p, name[s], next)) {
            p = next;
            ++s;
            continue;
        }
        if (starP == std::string_view::npos) {
            return false;
        }
        p = starP;
        s = ++starS;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// The components of a path against the pattern's, by the same method one level up: "**" is the
// star, and every other component pattern matches exactly one component.
bool ComponentsMatch(const std::vector<std::string>& pattern,
                     const std::vector<std::string_view>& components) {
    std::size_t p = 0, c = 0;
    std::size_t starP = SIZE_MAX, starC = 0;
    while (c < components.size()) {
        if (p < pattern.size() && pattern[p] == "**") {
            starP = ++p;
            starC = c;
            continue;
        }
        if (p < pattern.size() && ComponentMatches(pattern[p], components[c])) {
            ++p;
            ++c;
            continue;
        }
        if (starP == SIZE_MAX) {
            return false;
        }
        p = starP;
        c = ++starC;
    }
    while (p < pattern.size() && pattern[p] == "**") {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string_view> Components(std::string_view path) {
    std::vector<std::string_view> components;
    for (std::size_t begin = 0; begin <= path.size();) {
        std::size_t end = std::min(path.find('/', begin), path.size());
        components.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return components;
}

bool MatchesAsIs(const Pattern& pattern, std::string_view path) {
    std::vector<std::string_view> components = Components(path);
    if (pattern.FoldersOnly) {
        components.pop_back(); // the file's own name
    }
    return ComponentsMatch(pattern.Components, components);
}

} // namespace

Pattern CompilePattern(std::string_view typed) {
    Pattern pattern;
    std::optional<std::string> stored = platform::StoredNameOf(typed);
    pattern.MatchesNothing = !stored;
    std::string_view text = stored ? std::string_view(*stored) : typed;
    std::vector<std::string> components(1);
    bool anchored = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char character = text[at];
        if (character == '\\' && !BackslashSeparates && at + 1 < text.size()) {
            components.back() += text.substr(at, 2); // an escape stays for the component match
            ++at;
        } else if (character == '/' || (character == '\\' && BackslashSeparates)) {
            anchored = anchored || at + 1 < text.size();
            components.emplace_back();
        } else {
            components.back() += character;
        }
    }
    pattern.FoldersOnly = components.size() > 1 && components.back().empty();
    std::erase(components, std::string());
    // A trailing "/**" matches what is inside the folder, not the folder itself: one component
    // at least, and everything below it.
    if (components.size() > 1 && components.back() == "**") {
        components.back() = "*";
    }
    if (!anchored) {
        components.insert(components.begin(), "**");
    }
    components.push_back("**"); // a folder that matches takes everything below it
    pattern.Components = std::move(components);
    return pattern;
}

bool NamesNothing(std::string_view text) {
    return text.find_first_not_of(BackslashSeparates ? "/\\" : "/") == std::string_view::npos;
}

bool Matches(const Pattern& pattern, std::string_view path) {
    if (pattern.MatchesNothing) {
        return false;
    }
    if (MatchesAsIs(pattern, path)) {
        return true;
    }
    bool high = std::any_of(path.begin(), path.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return platform::NamesAreAlsoLatin1Text && high &&
           MatchesAsIs(pattern, platform::NameAsText(path));
}

Selector::Selector(const Selection& selection)
    : includeText_(selection.Include), matched_(selection.Include.size()),
      unmatched_(selection.Include.size()) {
    for (const std::string& text : selection.Include) {
        include_.push_back(CompilePattern(text));
    }
    for (const std::string& text : selection.Exclude) {
        exclude_.push_back(CompilePattern(text));
    }
}

bool Selector::Selected(std::string_view path) {
    bool included = include_.empty();
    // Once a file is in, only the patterns that have matched nothing yet are tried, to learn
    // whether they ever do.
    for (std::size_t i = 0; i < include_.size() && (!included || unmatched_ > 0); ++i) {
        if ((!included || !matched_[i]) && Matches(include_[i], path)) {
            included = true;
            if (!matched_[i]) {
                matched_[i] = true;
                --unmatched_;
            }
        }
    }
    return included && std::none_of(exclude_.begin(), exclude_.end(),
                                    [&](const Pattern& pattern) { return Matches(pattern, path); });
}

std::vector<std::string> Selector::Unmatched() const {
    std::vector<std::string> unmatched;
    for (std::size_t i = 0; i < includeText_.size(); ++i) {
        if (!matched_[i]) {
            unmatched.push_back(includeText_[i]);
        }
    }
    return unmatched;
}

} // namespace run
