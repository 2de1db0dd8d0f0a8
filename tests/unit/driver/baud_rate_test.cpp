// The baud rate divisors of the chip families at their boundary rates.
#include "driver/baud_rate.h"

#include <gtest/gtest.h>

namespace corvane::driver {
namespace {

struct DivisorCase {
    const char *name;
    Family family;
    unsigned channels;
    unsigned channel;
    uint32_t baud;
    uint16_t value; // wValue and wIndex of the baud rate request
    uint16_t index;
};

class BaudDivisorTable : public ::testing::TestWithParam<DivisorCase> {};

TEST_P(BaudDivisorTable, GivesTheRequestFields)
{
    const DivisorCase &c = GetParam();
    std::optional<BaudDivisor> divisor = choose_baud_divisor(c.family, c.baud);
    ASSERT_TRUE(divisor);
    BaudRequestFields fields =
        baud_request_fields(divisor->encoded, baud_index_carries_channel(c.family, c.channels), c.channel);
    EXPECT_EQ(c.value, fields.value);
    EXPECT_EQ(c.index, fields.index);
    EXPECT_NEAR(c.baud, divisor->actual_rate, c.baud * 0.03);
    // A divisor set by itself must report the rate the chooser promised for it.
    EXPECT_EQ(rate_of_divisor(divisor->encoded), divisor->actual_rate);
}

INSTANTIATE_TEST_SUITE_P(
    Families, BaudDivisorTable,
    ::testing::Values(DivisorCase{"FastestIsIntegerZero", Family::bm, 1, 1, 3000000, 0x0000, 0},
                      DivisorCase{"TwoMegabaudIsIntegerOne", Family::bm, 1, 1, 2000000, 0x0001, 0},
                      DivisorCase{"OneAndAHalfMegabaud", Family::bm, 1, 1, 1500000, 0x0002, 0},
                      DivisorCase{"NearestIntegerDivisor", Family::ft232r, 1, 1, 115200, 0x001A, 0},
                      DivisorCase{"HalfFraction", Family::bm, 1, 1, 9600, 0x4138, 0},
                      DivisorCase{"FiveEighthsFraction", Family::bm, 1, 1, 29814, 0x4064, 0x0001},
                      DivisorCase{"OldPartsRoundToAHalf", Family::am, 1, 1, 29814, 0x4064, 0x0000},
                      DivisorCase{"SlowestDivisor", Family::ftx, 1, 1, 183, 0xFFFF, 0x0001},
                      DivisorCase{"SlowestWithinThreePercent", Family::bm, 1, 1, 178, 0xFFFF, 0x0001},
                      DivisorCase{"DualChannelCarriesTheChannel", Family::ft2232c, 2, 2, 115200, 0x001A, 0x0002},
                      DivisorCase{"HighClockFastest", Family::ft2232h, 2, 1, 12000000, 0x0000, 0x0201},
                      DivisorCase{"HighClockIntegerOne", Family::ft2232h, 2, 1, 8000000, 0x0001, 0x0201},
                      DivisorCase{"SixMegabaudOnlyOnTheHighClock", Family::ft4232h, 4, 3, 6000000, 0x0002, 0x0203},
                      DivisorCase{"SlowRateFallsBackToTheBaseClock", Family::ft2232h, 2, 1, 300, 0x2710, 0x0001},
                      DivisorCase{"SingleChannelHighSpeedChipCarriesTheChannel", Family::ft232h, 1, 1, 9600, 0x04E2,
                                  0x0201}),
    [](const auto &info) { return std::string(info.param.name); });

struct RefusedRate {
    Family family;
    uint32_t baud;
};

class UnreachableRate : public ::testing::TestWithParam<RefusedRate> {};

TEST_P(UnreachableRate, IsRefused)
{
    EXPECT_FALSE(choose_baud_divisor(GetParam().family, GetParam().baud));
}

INSTANTIATE_TEST_SUITE_P(Families, UnreachableRate,
                         ::testing::Values(RefusedRate{Family::bm, 0}, RefusedRate{Family::bm, 177},
                                           RefusedRate{Family::bm, 2500000}, RefusedRate{Family::ft232r, 6000000},
                                           RefusedRate{Family::ft2232h, 15000000},
                                           RefusedRate{Family::ft2232h, 10000000}));

} // namespace
} // namespace corvane::driver
