#include "loader/progress.h"

#include <algorithm>
#include <cstring>

namespace corvane::loader {

void BarLine::append(std::string_view bytes)
{
    size_t room = text_.size() - size_;
    size_t count = std::min(room, bytes.size());
    std::memcpy(text_.data() + size_, bytes.data(), count);
    size_ += count;
}

namespace {

constexpr int BAR_MARGIN = 3;

// The columns a line may fill: unlimited without a terminal and on wide ones. One column
// is left free, since some consoles wrap as soon as a line reaches the last one.
int usable_columns(int columns)
{
    if (columns <= 0 || columns > WIPE_COLUMNS)
        return WIPE_COLUMNS;
    return columns - 1;
}

} // namespace

BarLine progress_line(int64_t done, int64_t whole, const BarGlyphs &glyphs, int columns)
{
    int room = usable_columns(columns);
    int margin = std::min(BAR_MARGIN, room);
    int bar_cells = std::clamp(room - BAR_MARGIN, 0, BAR_CELLS);

    int cells = 0;
    if (whole > 0 && done > 0) {
        double fraction = static_cast<double>(done) / static_cast<double>(whole);
        cells = static_cast<int>(std::min(fraction, 1.0) * bar_cells);
    }
    BarLine line;
    line.append(std::string_view("\r   ", 1 + static_cast<size_t>(margin)));
    for (int cell = 0; cell < bar_cells; ++cell)
        line.append(cell < cells ? glyphs.full : glyphs.empty);
    return line;
}

BarLine wipe_text(int columns)
{
    static constexpr char blanks[] = "                                                                               ";
    static_assert(sizeof(blanks) == WIPE_COLUMNS + 1, "79 blanks");
    BarLine line;
    line.append("\r");
    line.append(std::string_view(blanks, static_cast<size_t>(usable_columns(columns))));
    line.append("\r");
    return line;
}

void draw_progress(int64_t done, int64_t whole)
{
    print_bytes(progress_line(done, whole, bar_glyphs(), terminal_columns()).view());
}

void wipe_line()
{
    print_bytes(wipe_text(terminal_columns()).view());
}

} // namespace corvane::loader
