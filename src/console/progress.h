#pragma once

#include "console/console.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The progress line: one line that each item replaces in place. Callers hand it each item's text;
// how and when an item reaches the screen is decided here.
namespace console {

// The columns that text takes on a terminal: a UTF-8 continuation byte takes none.
std::uint64_t Columns(std::string_view text);

class ProgressLine {
  public:
    explicit ProgressLine(Console& console) : console_(console) {}

    // The line starts where the text written so far ends (at the start of a fresh line).
    void Start();
    // Replaces the item shown by item. Into a file or a pipe every item follows the last one,
    // byte for byte. On a terminal an item that comes within RedrawInterval of the last one drawn
    // is held back, and replaced unseen by the next; when an item is drawn, the last one is
    // cleared with the same write, so the line is never left blank.
    void Show(std::string_view item);
    // Draws an item held back, so that the last item is always what the line shows at the end.
    void Finish();

    // Progress items can come far faster than a terminal can draw them.
    std::chrono::steady_clock::duration RedrawInterval = std::chrono::milliseconds(40);

  private:
    void Draw(std::string_view item);

    Console& console_;
    platform::CursorAnchor anchor_;
    std::chrono::steady_clock::time_point lastDrawn_ = std::chrono::steady_clock::time_point::min();
    std::uint64_t columnsShown_ = 0; // columns of the item on screen, from the anchor
    std::string heldBack_;
    bool holding_ = false;
};

} // namespace console
