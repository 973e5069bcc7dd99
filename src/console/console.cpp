#include "console/console.h"

namespace console {

Console OpenChannel(platform::FileHandle out) {
    Console console;
    console.Out = out;
    console.IsTerminal = platform::IsTerminal(out);
    console.Characters = platform::TakesCharacters(out);
    console.Capacity = console.IsTerminal ? TerminalCapacity : RedirectedCapacity;
    console.Buffer.reserve(console.Capacity);
    return console;
}

void WriteOutEverything(Console& console) {
    if (!console.Buffer.empty() && !Failed(console)) {
        platform::Moved written =
            console.Characters
                ? platform::WriteCharacters(console.Out, console.Buffer)
                : platform::Write(console.Out, console.Buffer.data(), console.Buffer.size());
        if (written.Error != platform::NoError) {
            console.WriteError = written.Error;
        }
    }
    console.Buffer.clear();
}

void Write(Console& console, std::string_view text) {
    if (text.empty()) {
        return;
    }
    console.LastWritten = text.back();
    if (console.Buffer.empty()) {
        console.HeldSince = std::chrono::steady_clock::now();
    }
    if (console.Buffer.size() + text.size() < console.Capacity) {
        console.Buffer.append(text); // most text: room for it, and nothing to write out
        return;
    }
    while (!text.empty()) {
        std::size_t room = console.Capacity - console.Buffer.size();
        std::size_t part = text.size() < room ? text.size() : room;
        // Characters leave whole.
        while (console.Characters && part > 0 && part < text.size() &&
               (static_cast<unsigned char>(text[part]) & 0xC0) == 0x80) {
            --part;
        }
        if (part == 0) {
            WriteOutEverything(console);
            continue;
        }
        console.Buffer.append(text.substr(0, part));
        text.remove_prefix(part);
        if (console.Buffer.size() >= console.Capacity) {
            WriteOutEverything(console);
        }
    }
}

void WriteOutWhatWaited(Console& console) {
    if (!console.Buffer.empty() &&
        std::chrono::steady_clock::now() - console.HeldSince >= LongestHeld) {
        WriteOutEverything(console);
    }
}

void WriteChar(Console& console, char character) {
    Write(console, std::string_view(&character, 1));
}

namespace {

// The length of the well-formed UTF-8 character that starts at text[at], or 0 where none does.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong form, surrogate, or value past U+10FFFF.
    auto second = static_cast<unsigned char>(text[at + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 0;
    }
    return length;
}

} // namespace

std::string Shown(const Console& console, std::string_view name) {
    if (console.Characters) {
        return ShownText(console, platform::NameAsText(name));
    }
    return ShownText(console, name);
}

std::string ShownText(const Console& console, std::string_view name) {
    if (!console.IsTerminal) {
        return std::string(name);
    }
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        auto byte = static_cast<unsigned char>(name[at]);
        std::size_t length = byte < 0x80 ? 1 : CharacterLength(name, at);
        // U+0080 to U+009F, the C1 controls, as UTF-8 encodes them.
        bool control =
            byte < 32 || byte == 127 ||
            (length == 2 && byte == 0xC2 && static_cast<unsigned char>(name[at + 1]) <= 0x9F);
        if (length == 0) {
            // A byte that begins no character: in 0x80 to 0x9F a C1 control to a terminal that
            // reads eight bits (0x9B opens a control sequence, as ESC [ does).
            control = byte <= 0x9F;
            length = 1;
        }
        if (control) {
            shown += '?';
        } else {
            shown.append(name.substr(at, length));
        }
        at += length;
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
