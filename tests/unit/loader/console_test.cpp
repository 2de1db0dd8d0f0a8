// The progress bar's glyphs for the console's character set.
#include "loader/console.h"

#include <gtest/gtest.h>

using corvane::loader::bar_glyphs_for;
using corvane::loader::BarGlyphs;

TEST(BarGlyphs, OemCodePageConsolesGetTheCodePage437Bytes)
{
    for (const char *code_page : {"CP437", "CP850", "CP866"}) {
        const BarGlyphs glyphs = bar_glyphs_for(code_page);
        EXPECT_EQ(glyphs.full, "\xDB") << code_page;
        EXPECT_EQ(glyphs.empty, "\xB0") << code_page;
    }
}

TEST(BarGlyphs, UnicodeConsolesGetTheBlockCharacters)
{
    const BarGlyphs glyphs = bar_glyphs_for("UTF-8");
    EXPECT_EQ(glyphs.full, "\u2588");
    EXPECT_EQ(glyphs.empty, "\u2591");
}

TEST(BarGlyphs, OtherCharacterSetsGetPlainAscii)
{
    // On the double-byte code pages 0xDB starts a character; on the ANSI ones it is a letter.
    for (const char *name : {"CP932", "CP1252", "CP4370", "ANSI_X3.4-1968", "ISO-8859-1", ""}) {
        const BarGlyphs glyphs = bar_glyphs_for(name);
        EXPECT_EQ(glyphs.full, "#") << name;
        EXPECT_EQ(glyphs.empty, ".") << name;
    }
}
