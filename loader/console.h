// The loader's console: every print is shown at once (the progress bar and the prompts
// rely on it), and the bar's two glyphs follow the console's character set.
#ifndef CORVANE_LOADER_CONSOLE_H
#define CORVANE_LOADER_CONSOLE_H

#include "platform/runtime.h"

#include <string_view>

namespace corvane::loader {

// Takes the user's locale for the character set only; numbers keep the "C" form so that
// "2.50 seconds" never becomes "2,50".
void set_up_console();

// printf to standard output, flushed before it returns.
void print(const char *format, ...) __attribute__((format(CORVANE_PRINTF_FORMAT, 1, 2)));

// Bytes as they are, flushed.
void print_bytes(std::string_view bytes);

// The width of the terminal that standard output shows on; 0 for a pipe or a file.
int terminal_columns();

// One character of line-buffered standard input; EOF at the end of input.
int read_char();

// The filled and the empty cell of the progress bar.
struct BarGlyphs {
    std::string_view full;
    std::string_view empty;
};

// Block glyphs on a UTF-8 console and on an OEM code page console (the code page 437
// bytes), plain ASCII elsewhere. Decided by set_up_console().
const BarGlyphs &bar_glyphs();

// The glyphs for a character set name as platform::console_character_set() gives it.
BarGlyphs bar_glyphs_for(std::string_view codeset);

} // namespace corvane::loader

#endif // CORVANE_LOADER_CONSOLE_H
