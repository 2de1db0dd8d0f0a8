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
// of 0 draws an empty bar; done below 0 or past the whole is held to the ends.
BarLine progress_line(int64_t done, int64_t whole, const BarGlyphs &glyphs = bar_glyphs());

void draw_progress(int64_t done, int64_t whole);

// Blanks the bar's line and returns to its start.
void wipe_line();

} // namespace corvane::loader

#endif // CORVANE_LOADER_PROGRESS_H
