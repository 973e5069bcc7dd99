#include "console/console.h"

namespace console {
namespace {

void PassOut(Console& console) {
    if (console.Buffer.empty()) {
        return;
    }
    platform::Write(console.Out, console.Buffer.data(), console.Buffer.size());
    NoteShown(console.Progress, console.Buffer);
    console.Buffer.clear();
}

} // namespace

Console OpenStandardOutput() {
    Console console;
    console.Out = platform::StandardOutput();
    console.IsConsole = platform::IsTerminal(console.Out);
    console.Capacity = console.IsConsole ? ConsoleCapacity : RedirectedCapacity;
    console.Buffer.reserve(console.Capacity);
    return console;
}

void Write(Console& console, std::string_view text) {
    if (!text.empty()) {
        console.LastWritten = text.back();
    }
    while (!text.empty()) {
        std::size_t room = console.Capacity - console.Buffer.size();
        std::size_t part = text.size() < room ? text.size() : room;
        console.Buffer.append(text.substr(0, part));
        text.remove_prefix(part);
        if (console.Buffer.size() >= console.Capacity) {
            PassOut(console);
        }
    }
}

void WriteNumber(Console& console, std::int64_t number) {
    Write(console, std::to_string(number));
}

void WriteChar(Console& console, char character) {
    Write(console, std::string_view(&character, 1));
}

void WriteName(Console& console, std::string_view name) {
    if (!console.IsConsole) {
        Write(console, name);
        return;
    }
    std::string shown(name);
    for (char& character : shown) {
        if (static_cast<unsigned char>(character) < 32 || character == 127) {
            character = '?';
        }
    }
    Write(console, shown);
}

void WriteLine(Console& console, std::string_view text) {
    Write(console, text);
    Write(console, LineEnd);
    if (console.IsConsole) {
        PassOut(console);
    }
    console.Progress.InItem = false;
}

void Flush(Console& console) {
    if (console.IsConsole && !HoldsBack(console.Progress)) {
        PassOut(console);
    }
}

bool LineOpen(const Console& console) {
    return console.LastWritten != '\n';
}

void WriteOutEverything(Console& console) {
    PassOut(console);
    console.Progress.InItem = false;
}

void EndOpenLine(Console& console) {
    if (console.IsConsole && LineOpen(console)) {
        WriteLine(console);
    }
}

void CaptureAnchor(Console& console) {
    if (!console.IsConsole) {
        return;
    }
    ProgressLine& line = console.Progress;
    PassOut(console);
    line.InItem = false;
    line.ColumnsSinceAnchor = 0;
    platform::CaptureCursor(console.Out, line.Anchor);
}

void ReturnToAnchor(Console& console) {
    if (!console.IsConsole) {
        return;
    }
    ProgressLine& line = console.Progress;
    if (line.InItem && !line.ItemShown) {
        // Kept back and now replaced: it would only have flickered by.
        console.Buffer.clear();
    }
    line.InItem = false;
    PassOut(console);
    if (line.ColumnsSinceAnchor > 0) {
        platform::ReturnCursor(console.Out, line.Anchor, line.ColumnsSinceAnchor);
    }
    line.ColumnsSinceAnchor = 0;
    line.InItem = true;
    line.ItemShown = false;
}

} // namespace console
