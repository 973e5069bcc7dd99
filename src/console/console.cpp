#include "console/console.h"

namespace console {

Console OpenChannel(platform::FileHandle out) {
    Console console;
    console.Out = out;
    console.IsTerminal = platform::IsTerminal(out);
    console.Capacity = console.IsTerminal ? TerminalCapacity : RedirectedCapacity;
    console.Buffer.reserve(console.Capacity);
    return console;
}

void WriteOutEverything(Console& console) {
    if (!console.Buffer.empty() && !Failed(console)) {
        platform::Moved written =
            platform::Write(console.Out, console.Buffer.data(), console.Buffer.size());
        if (written.Error != platform::NoError) {
            console.WriteError = written.Error;
        }
    }
    console.Buffer.clear();
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
            WriteOutEverything(console);
        }
    }
}

void WriteChar(Console& console, char character) {
    Write(console, std::string_view(&character, 1));
}

std::string Shown(const Console& console, std::string_view name) {
    std::string shown(name);
    if (console.IsTerminal) {
        for (char& character : shown) {
            if (static_cast<unsigned char>(character) < 32 || character == 127) {
                character = '?';
            }
        }
    }
    return shown;
}

void WriteName(Console& console, std::string_view name) {
    Write(console, Shown(console, name));
}

void WriteLine(Console& console, std::string_view text) {
    Write(console, text);
    Write(console, console.LineEnd);
    ShowOnTerminal(console);
}

void ShowOnTerminal(Console& console) {
    if (console.IsTerminal) {
        WriteOutEverything(console);
    }
}

bool LineOpen(const Console& console) {
    return console.LastWritten != '\n';
}

void EndOpenLine(Console& console) {
    if (console.IsTerminal && LineOpen(console)) {
        WriteLine(console);
    }
}

} // namespace console
