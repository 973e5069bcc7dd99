#include "console/console.h"

namespace console {
namespace {

void PassOut(Console& console) {
    if (console.Buffer.empty()) {
        return;
    }
    platform::Write(console.Out, console.Buffer.data(), console.Buffer.size());
    if (console.InItem) {
        console.ColumnsSinceAnchor += console.Buffer.size();
        console.ItemShown = true;
        console.LastDrawn = std::chrono::steady_clock::now();
    }
    console.Buffer.clear();
}

} // namespace

Console OpenStandardOutput() {
    Console console;
    console.Out = platform::StandardOutput();
    console.IsConsole = platform::IsConsole(console.Out);
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
    console.InItem = false;
}

void Flush(Console& console) {
    if (!console.IsConsole) {
        return;
    }
    if (console.InItem && !console.ItemShown &&
        std::chrono::steady_clock::now() < console.LastDrawn + console.RedrawInterval) {
        return;
    }
    PassOut(console);
}

bool LineOpen(const Console& console) {
    return console.LastWritten != '\n';
}

void WriteOutEverything(Console& console) {
    PassOut(console);
    console.InItem = false;
}

void CaptureAnchor(Console& console) {
    if (!console.IsConsole) {
        return;
    }
    PassOut(console);
    console.InItem = false;
    console.ColumnsSinceAnchor = 0;
    platform::CaptureCursor(console.Out, console.ProgressAnchor);
}

void ReturnToAnchor(Console& console) {
    if (!console.IsConsole) {
        return;
    }
    if (console.InItem && !console.ItemShown) {
        // Kept back and now replaced: it would only have flickered by.
        console.Buffer.clear();
    }
    console.InItem = false;
    PassOut(console);
    if (console.ColumnsSinceAnchor > 0) {
        platform::ReturnCursor(console.Out, console.ProgressAnchor, console.ColumnsSinceAnchor);
    }
    console.ColumnsSinceAnchor = 0;
    console.InItem = true;
    console.ItemShown = false;
}

} // namespace console
