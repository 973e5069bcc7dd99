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

bool HoldsBack(const ProgressLine& line) {
    return line.InItem && !line.ItemShown &&
           std::chrono::steady_clock::now() < line.LastDrawn + line.RedrawInterval;
}

void NoteShown(ProgressLine& line, std::string_view text) {
    if (line.InItem) {
        line.ColumnsSinceAnchor += Columns(text);
        line.ItemShown = true;
        line.LastDrawn = std::chrono::steady_clock::now();
    }
}

} // namespace console
