#include "loader/console.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>

namespace corvane::loader {

namespace {

// The console code pages that keep code page 437's shading blocks: the full block at
// 0xDB and the light shade at 0xB0.
constexpr std::string_view oem_block_code_pages[] = {
    "CP437", "CP737", "CP775", "CP850", "CP852", "CP855", "CP857", "CP858",
    "CP860", "CP861", "CP862", "CP863", "CP865", "CP866", "CP869",
};

BarGlyphs chosen_glyphs = bar_glyphs_for("");

} // namespace

BarGlyphs bar_glyphs_for(std::string_view codeset)
{
    if (codeset == "UTF-8" || codeset == "utf-8" || codeset == "UTF8" || codeset == "utf8")
        return {"\u2588", "\u2591"};
    for (std::string_view code_page : oem_block_code_pages) {
        if (codeset == code_page)
            return {"\xDB", "\xB0"};
    }
    return {"#", "."};
}

void set_up_console()
{
    std::setlocale(LC_ALL, "");
    chosen_glyphs = bar_glyphs_for(platform::console_character_set());
    std::setlocale(LC_NUMERIC, "C");
}

void print(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void print_bytes(std::string_view bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

int terminal_columns()
{
    return platform::console_columns();
}

int read_char()
{
    return std::getchar();
}

const BarGlyphs &bar_glyphs()
{
    return chosen_glyphs;
}

} // namespace corvane::loader
