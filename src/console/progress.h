#pragma once

#include "platform/platform.h"

#include <chrono>
#include <cstdint>
#include <string_view>

// The redraw policy of the in-place progress line on a console: where the line starts, which item
// is being drawn, when the last one was drawn, and how far the text since the start reaches. The
// channel in console.h only buffers; it hands this line what it passes out.
namespace console {

struct ProgressLine {
    platform::CursorAnchor Anchor;
    // Progress items can come far faster than a console can draw them. An item that starts within
    // RedrawInterval of the last drawn one is kept back, and dropped when the next item replaces it
    // unseen; what is on screen at the end, and every byte of redirected output, stay the same.
    std::chrono::steady_clock::duration RedrawInterval = std::chrono::milliseconds(40);
    std::chrono::steady_clock::time_point LastDrawn = std::chrono::steady_clock::time_point::min();
    bool InItem = false;
    bool ItemShown = false;
    std::uint64_t ColumnsSinceAnchor = 0;
};

// The columns that text takes on a terminal: a UTF-8 continuation byte takes none.
std::uint64_t Columns(std::string_view text);

// Whether the item being written should stay in the buffer for now: nothing of it is shown yet
// and the last item was drawn too recently.
bool HoldsBack(const ProgressLine& line);

// Notes text that reached the console.
void NoteShown(ProgressLine& line, std::string_view text);

} // namespace console
