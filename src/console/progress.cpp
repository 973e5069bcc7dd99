#include "console/progress.h"

namespace console {

std::uint64_t Columns(std::string_view text) {
    std::uint64_t columns = 0;
    for (char character : text) {
        if ((static_cast<unsigned char>(character) & 0xC0) != 0x80) {
            ++columns;
        }
    }
    return columns;
}

void ProgressLine::Start() {
    holding_ = false;
    columnsShown_ = 0;
    if (console_.IsTerminal) {
        WriteOutEverything(console_);
        platform::CaptureCursor(console_.Out, anchor_);
    }
}

void ProgressLine::Show(std::string_view item) {
    if (!console_.IsTerminal) {
        Write(console_, item);
        return;
    }
    if (std::chrono::steady_clock::now() < lastDrawn_ + RedrawInterval) {
        heldBack_.assign(item);
        holding_ = true;
        return;
    }
    Draw(item);
}

void ProgressLine::Finish() {
    if (holding_) {
        Draw(heldBack_);
    }
}

void ProgressLine::Draw(std::string_view item) {
    // The way back to the anchor, which clears the old item, and the new item leave together.
    std::string back;
    if (columnsShown_ > 0) {
        platform::ReturnCursor(console_.Out, anchor_, columnsShown_, back);
    }
    Write(console_, back);
    Write(console_, item);
    WriteOutEverything(console_);
    columnsShown_ = Columns(item);
    lastDrawn_ = std::chrono::steady_clock::now();
    holding_ = false;
}

} // namespace console
