#pragma once

#include "console/progress.h"
#include "platform/platform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The buffered text channel to standard output. It knows nothing of archives: callers hand it
// finished text and numbers.
namespace console {

inline constexpr std::string_view LineEnd = "\r\n";

// On a console the text leaves at every flush anyway. Into a file or a pipe it leaves only as the
// buffer fills, and a run of 131,070 progress items would cost tens of thousands of writes in
// blocks of 128 bytes; larger blocks carry the very same bytes.
inline constexpr std::size_t ConsoleCapacity = 128;
inline constexpr std::size_t RedirectedCapacity = 4096;

struct Console {
    platform::FileHandle Out = platform::InvalidFile;
    // On a console every flush and line end shows the text at once; into a file or a pipe the text
    // leaves only as the buffer fills and at the end of the run.
    bool IsConsole = false;
    std::size_t Capacity = ConsoleCapacity;
    std::string Buffer;
    char LastWritten = '\n';
    ProgressLine Progress; // the in-place line, on a console only
};

// The channel to the process's standard output.
Console OpenStandardOutput();

void Write(Console& console, std::string_view text);
void WriteNumber(Console& console, std::int64_t number);
void WriteChar(Console& console, char character);
// Writes a name taken from an archive. On a console every control byte (below 32, and 127) shows
// as "?", as ls does, so that no name can move the cursor, clear the screen or retitle the window;
// into a file or a pipe the name goes byte for byte.
void WriteName(Console& console, std::string_view name);
// Appends the line end and flushes; on its own it makes an empty line.
void WriteLine(Console& console, std::string_view text = {});
void Flush(Console& console);
// Whether text has been written since the last line end.
bool LineOpen(const Console& console);
// Passes every buffered byte out, whatever the output is; for the end of the run.
void WriteOutEverything(Console& console);

// On a console: ends a line left open, so that what follows the run starts on a line of its own.
void EndOpenLine(Console& console);

// The progress line, on a console only: CaptureAnchor marks where it starts; ReturnToAnchor begins
// the next item there, clearing what the last one left.
void CaptureAnchor(Console& console);
void ReturnToAnchor(Console& console);

} // namespace console
