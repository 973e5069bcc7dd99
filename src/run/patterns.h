#pragma once

#include <string>
#include <string_view>
#include <vector>

// Which files a run takes, by patterns over their paths below the output folder ("/" between the
// folders on every platform), with the rules that gitignore and bsdtar share:
// - a pattern without "/" matches any component of the path, so a folder's name takes everything
//   below it ("Ambience", "Voice*", "*.wav");
// - a pattern with "/" is anchored at the output folder and matches the path, or a folder at its
//   start and so everything below it ("__SchemaMetaFile_DVD1.csc/MissionSounds");
// - a trailing "/" matches folders only; a leading "**/" matches in any folder;
// - "*" and "?" stay within a component, "**" as a component spans any number of them, "[...]" is a
//   class ("[!...]" or "[^...]" its complement, "a-z" a range); ASCII letters match in either case;
// - "\" escapes the next character on POSIX and separates folders on Windows, so that a path pasted
//   from the Windows listing matches.
// A pattern is typed as characters and a path is stored as bytes. On POSIX, where the bytes name
// the file, a path is matched both as its bytes and as the text the listing's JSON shows (each
// byte of 0x80 and above as the Latin-1 character of that value, in UTF-8). On Windows, where the
// ANSI code page turns the bytes into the characters the file is named with, the pattern is turned
// into those bytes, and one that holds a character no stored name can be named with matches
// nothing (rather than a "?" that would match anything).
namespace run {

struct Selection {
    std::vector<std::string> Include; // none: every file
    std::vector<std::string> Exclude; // wins over Include
};

// A pattern made ready for matching: its components, "**" as one of its own.
struct Pattern {
    std::vector<std::string> Components;
    bool FoldersOnly = false;
    bool MatchesNothing = false;
};

Pattern CompilePattern(std::string_view text);
// Whether a pattern is empty or made of separators alone, and so names no file.
bool NamesNothing(std::string_view text);
// Matching takes time in proportion to the path's length times the longest stretch of the pattern
// between two stars, and no recursion: a hostile name or pattern cannot make it run for long.
bool Matches(const Pattern& pattern, std::string_view path);

// The patterns of a run, and which of its include patterns have matched a file so far.
class Selector {
  public:
    explicit Selector(const Selection& selection);
    bool Selected(std::string_view path);
    // The include patterns that no file has matched, as they were given.
    std::vector<std::string> Unmatched() const;

  private:
    std::vector<std::string> includeText_;
    std::vector<Pattern> include_;
    std::vector<Pattern> exclude_;
    std::vector<bool> matched_;
    std::size_t unmatched_ = 0;
};

} // namespace run
