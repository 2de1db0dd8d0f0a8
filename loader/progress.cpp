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

BarLine progress_line(int64_t done, int64_t whole, const BarGlyphs &glyphs)
{
    int cells = 0;
    if (whole > 0 && done > 0) {
        double fraction = static_cast<double>(done) / static_cast<double>(whole);
        cells = static_cast<int>(std::min(fraction, 1.0) * BAR_CELLS);
    }
    BarLine line;
    line.append("\r   ");
    for (int cell = 0; cell < BAR_CELLS; ++cell)
        line.append(cell < cells ? glyphs.full : glyphs.empty);
    return line;
}

void draw_progress(int64_t done, int64_t whole)
{
    print_bytes(progress_line(done, whole).view());
}

void wipe_line()
{
    static constexpr char blanks[] =
        "\r                                                                               \r";
    static_assert(sizeof(blanks) == WIPE_COLUMNS + 3, "a return, 79 blanks, a return");
    print_bytes({blanks, sizeof(blanks) - 1});
}

} // namespace corvane::loader
