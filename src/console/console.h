#pragma once

#include "platform/platform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A buffered text channel to standard output or standard error. It knows nothing of archives:
// callers hand it finished text and numbers.
namespace console {

// The classic console ends its lines as the game's platform does; the option form ends them as the
// platform it runs on does, so that scripts can read its results.
inline constexpr std::string_view ClassicLineEnd = "\r\n";
#if defined(_WIN32)
inline constexpr std::string_view NativeLineEnd = "\r\n";
#else
inline constexpr std::string_view NativeLineEnd = "\n";
#endif

// On a terminal the text leaves at every line end and whenever it is to be shown at once. Into a
// file or a pipe it leaves only as the buffer fills, and a run of 131,070 progress items would
// cost tens of thousands of writes in blocks of 128 bytes; larger blocks carry the very same bytes.
inline constexpr std::size_t TerminalCapacity = 128;
inline constexpr std::size_t RedirectedCapacity = 4096;
// Results alone (a listing of 131,070 lines) leave in larger blocks still, as a system call costs
// more than the lines it carries; the status keeps the smaller ones, so that a run whose reader has
// gone learns it soon.
inline constexpr std::size_t ResultsCapacity = 64 * 1024;

struct Console {
    platform::FileHandle Out = platform::InvalidFile;
    bool IsTerminal = false;
    // It takes characters (a Windows console): its text is UTF-8, names join it as the characters
    // the system names their files with, and it leaves as characters.
    bool Characters = false;
    std::size_t Capacity = TerminalCapacity;
    std::string Buffer;
    char LastWritten = '\n';
    std::string_view LineEnd = ClassicLineEnd;
    // When the oldest byte in the buffer was written.
    std::chrono::steady_clock::time_point HeldSince{};
    // Why the output refused text (a full disk, a closed stream, a reader gone); once it has, the
    // rest is dropped and the run ends as soon as it can.
    platform::ErrorCode WriteError = platform::NoError;
};

inline bool Failed(const Console& console) {
    return console.WriteError != platform::NoError;
}

// A channel to the handle (standard output or standard error).
Console OpenChannel(platform::FileHandle out);

void Write(Console& console, std::string_view text);
void WriteChar(Console& console, char character);
// A name taken from an archive as the console shows it: on a terminal every control character as
// "?", as ls does, so that no name can move the cursor, clear the screen or retitle the window:
// bytes below 32 and 127, the C1 controls U+0080 to U+009F in UTF-8, and bytes 0x80 to 0x9F that
// begin no UTF-8 character; into a file or a pipe byte for byte. On a console that takes
// characters, the name's characters as the system names its file, so that it reads as Explorer
// shows it.
std::string Shown(const Console& console, std::string_view name);
void WriteName(Console& console, std::string_view name);
// Text the user typed (a folder, a pattern; UTF-8 where the system hands characters over) as the
// console shows it: control characters as "?" on a terminal, as for names.
std::string ShownText(const Console& console, std::string_view text);
// Appends the line end; on a terminal the line leaves at once. On its own it makes an empty line.
void WriteLine(Console& console, std::string_view text = {});
// On a terminal, passes the text buffered so far out at once, so that it shows while the work that
// follows runs; into a file or a pipe it stays in the buffer.
void ShowOnTerminal(Console& console);
// Whether text has been written since the last line end.
bool LineOpen(const Console& console);
// Passes every buffered byte out, whatever the output is; for the end of the run.
void WriteOutEverything(Console& console);
// Results reach a file or a pipe as they are known, in blocks while they come fast: what has waited
// in the buffer this long passes out now. Jobs call it with each result and each file they take,
// so that a reader of a pipe (head -1) sees each line while the run goes on.
inline constexpr std::chrono::milliseconds LongestHeld{50};
void WriteOutWhatWaited(Console& console);
// On a terminal: ends a line left open, so that what follows the run starts on a line of its own.
void EndOpenLine(Console& console);

} // namespace console
