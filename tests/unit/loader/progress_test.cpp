#include "loader/progress.h"
#include "loader/transfer.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::loader {
namespace {

const BarGlyphs ascii{"#", "."};
const BarGlyphs blocks{"\u2588", "\u2591"};

std::string bar(int full, int empty, const BarGlyphs &glyphs = ascii)
{
    std::string line = "\r   ";
    for (int cell = 0; cell < full; ++cell)
        line += glyphs.full;
    for (int cell = 0; cell < empty; ++cell)
        line += glyphs.empty;
    return line;
}

struct BarCase {
    int64_t done;
    int64_t whole;
    int full_cells;
};

TEST(ProgressLine, CellsAreTheTruncatedShareOf64)
{
    const BarCase cases[] = {
        {0, 0x80000, 0}, {0x40000, 0x80000, 32},   {0x80000, 0x80000, 64},  {0x7FFFF, 0x80000, 63},
        {1, 0x80000, 0}, {0x100001, 0x100001, 64}, {0x80000, 0x100001, 31}, {3, 0, 0},
        {0, 0, 0},       {0x90000, 0x80000, 64},   {-5, 0x80000, 0},        {0x7FFFFFFF, 0x7FFFFFFF, 64},
    };
    for (const BarCase &c : cases)
        EXPECT_EQ(std::string(progress_line(c.done, c.whole, ascii).view()),
                  bar(c.full_cells, BAR_CELLS - c.full_cells))
            << c.done << " of " << c.whole;
}

TEST(ProgressLine, UsesTheGlyphsItIsGiven)
{
    EXPECT_EQ(std::string(progress_line(16, 64, blocks).view()), bar(16, 48, blocks));
    EXPECT_EQ(progress_line(64, 64, blocks).view().size(), 4u + 64u * 3u);
}

struct WidthCase {
    int columns;
    int margin;
    int cells;      // the bar's cells
    int full_cells; // of them full, at 3/4 done
    int wipe_blanks;
};

// On a narrow terminal every redraw and the wipe must stay on one line, a column short
// of the width; without a terminal (0) and on wide ones they are as always.
TEST(ProgressLine, FitsATerminalNarrowerThanTheWipe)
{
    const WidthCase cases[] = {
        {0, 3, 64, 48, 79},  {200, 3, 64, 48, 79}, {80, 3, 64, 48, 79}, {79, 3, 64, 48, 78}, {68, 3, 64, 48, 67},
        {67, 3, 63, 47, 66}, {60, 3, 56, 42, 59},  {5, 3, 1, 0, 4},     {4, 3, 0, 0, 3},     {2, 1, 0, 0, 1},
    };
    for (const WidthCase &c : cases) {
        std::string line(progress_line(3, 4, ascii, c.columns).view());
        // Expected texts are appended piece by piece: GCC 12's optimiser takes `"\r" + string`
        // (an insert at the front) for an overlapping copy (a false -Wrestrict).
        std::string expected_line = "\r";
        expected_line.append(static_cast<size_t>(c.margin), ' ')
            .append(static_cast<size_t>(c.full_cells), '#')
            .append(static_cast<size_t>(c.cells - c.full_cells), '.');
        EXPECT_EQ(line, expected_line) << c.columns << " columns";
        if (c.columns > 0) {
            EXPECT_LT(static_cast<int>(line.size()) - 1, c.columns) << c.columns << " columns";
        }
        std::string expected_wipe = "\r";
        expected_wipe.append(static_cast<size_t>(c.wipe_blanks), ' ').append("\r");
        EXPECT_EQ(std::string(wipe_text(c.columns).view()), expected_wipe) << c.columns << " columns";
    }
    // Wide glyphs take one column each, however many bytes they are.
    EXPECT_EQ(progress_line(1, 1, blocks, 60).view(), bar(56, 0, blocks));
}

struct RateCase {
    int32_t size;
    double seconds;
    double rate;
};

TEST(TransferRate, CountsWholeMebibytesOnly)
{
    const RateCase cases[] = {
        {3 << 20, 2.5, 1.2}, {(3 << 19) - 1, 1.0, 1.0}, {(1 << 20) - 1, 0.5, 0.0}, {0, 0.001, 0.0}, {1 << 20, 0.0, 0.0},
    };
    for (const RateCase &c : cases)
        EXPECT_DOUBLE_EQ(transfer_rate(c.size, c.seconds), c.rate) << c.size << " in " << c.seconds;
}

struct MoveCase {
    uint32_t moved;
    int32_t chunk;
    bool words;
    int32_t counted;
};

TEST(CountedMove, ShortWordTransfersStopAtAWholeWord)
{
    const MoveCase cases[] = {
        {0x80000, 0x80000, true, 0x80000},
        {2, 1, true, 1},
        {1, 1, true, 1},
        {0x1001, 0x80000, true, 0x1000},
        {1, 0x400, true, 0},
        {0x101, 0x400, false, 0x101},
        {0, 0x400, false, 0},
    };
    for (const MoveCase &c : cases)
        EXPECT_EQ(counted_move(c.moved, c.chunk, c.words), c.counted)
            << c.moved << " of " << c.chunk << (c.words ? " in words" : " in bytes");
}

} // namespace
} // namespace corvane::loader
