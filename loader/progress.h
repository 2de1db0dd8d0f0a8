// The 64-cell progress bar and the line wipe that ends a transfer.
#ifndef CORVANE_LOADER_PROGRESS_H
#define CORVANE_LOADER_PROGRESS_H

#include "loader/console.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::loader {

constexpr int BAR_CELLS = 64;
constexpr int WIPE_COLUMNS = 79;

// One drawn bar in fixed storage: a transfer redraws it after every chunk without
// touching the heap.
class BarLine {
public:
    void append(std::string_view bytes);
    std::string_view view() const { return {text_.data(), size_}; }

private:
    // "\r", a margin of three blanks, and 64 glyphs of at most 4 bytes each.
    std::array<char, 4 + BAR_CELLS * 4> text_{};
    size_t size_ = 0;
};

// The bar for `done` of `whole` bytes: done/whole of the 64 cells full, truncated. A whole
// of 0 draws an empty bar; done below 0 or past the whole is held to the ends. `columns`
// is the terminal's width (0: no terminal); on a terminal narrower than the wipe the bar
// keeps to one column less than the width, with as many cells as fit.
BarLine progress_line(int64_t done, int64_t whole, const BarGlyphs &glyphs = bar_glyphs(), int columns = 0);

// The wipe: a return, 79 blanks, a return; fewer blanks on a narrower terminal, as above.
BarLine wipe_text(int columns);

// Both on the terminal that standard output shows on, at its width of the moment.
void draw_progress(int64_t done, int64_t whole);
void wipe_line();

} // namespace corvane::loader

#endif // CORVANE_LOADER_PROGRESS_H
