#include "loader/console.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <langinfo.h>

namespace corvane::loader {

namespace {

BarGlyphs chosen_glyphs = bar_glyphs_for("");

} // namespace

BarGlyphs bar_glyphs_for(std::string_view codeset)
{
    // A later Windows build takes the code-page-437 bytes 0xDB and 0xB0 here.
    if (codeset == "UTF-8" || codeset == "utf-8" || codeset == "UTF8" || codeset == "utf8")
        return {"\u2588", "\u2591"};
    return {"#", "."};
}

void set_up_console()
{
    std::setlocale(LC_ALL, "");
    chosen_glyphs = bar_glyphs_for(nl_langinfo(CODESET));
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

int read_char()
{
    return std::getchar();
}

const BarGlyphs &bar_glyphs()
{
    return chosen_glyphs;
}

} // namespace corvane::loader
