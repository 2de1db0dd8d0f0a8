// The automatic serial number against a fixed calendar clock.
#include "eeprom/serial_number.h"

#include <gtest/gtest.h>

#include <cstring>

namespace corvane::eeprom {
namespace {

CalendarTime fixed_time;

CalendarTime fixed_clock()
{
    return fixed_time;
}

class SerialNumberTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = set_calendar_clock(&fixed_clock); }
    void TearDown() override { set_calendar_clock(previous_); }

    static std::string serial(const char *prefix, unsigned seed)
    {
        char out[automatic_serial_size];
        SerialNumberGenerator(out, prefix, seed);
        return out;
    }

private:
    CalendarClock previous_ = nullptr;
};

// The packed value in base 36, worked out by hand for 2001-01-01 00:00:00 and seed 0:
// year 101 - 99 = 2, month 0, day 1: v = ((2 * 16 + 0) * 32 + 1) * 32 * 64 * 32 = 67174400
// = "13ZS3K" in base 36.
TEST_F(SerialNumberTest, PacksTheTimeInBase36)
{
    fixed_time = {101, 0, 1, 0, 0, 0};
    EXPECT_EQ(serial("FT", 0), "FT13ZS3K");
}

TEST_F(SerialNumberTest, PadsShortValuesWithZeros)
{
    // 1999-01-01: year field 0, day 1 -> v = 32 * 64 * 32 = 65536 = "1EKG".
    fixed_time = {99, 0, 1, 0, 0, 0};
    EXPECT_EQ(serial("AB", 0), "AB001EKG");
}

TEST_F(SerialNumberTest, KeepsTheFirstSixDigitsOfLongValues)
{
    fixed_time = {126, 11, 31, 23, 59, 59};
    const std::string s = serial("XY", 3);
    ASSERT_EQ(s.size(), 8u);
    EXPECT_EQ(s.substr(0, 2), "XY");
}

TEST_F(SerialNumberTest, SameTwoSecondStepGivesTheSameSerial)
{
    fixed_time = {126, 5, 14, 10, 20, 30};
    const std::string first = serial("AB", 1);
    fixed_time.second = 31;
    EXPECT_EQ(serial("AB", 1), first);
    fixed_time.second = 32;
    EXPECT_NE(serial("AB", 1), first);
}

TEST_F(SerialNumberTest, ShortPrefixUsesOnlyTheCharactersItHas)
{
    fixed_time = {101, 0, 1, 0, 0, 0};
    EXPECT_EQ(serial("Q", 0), "Q13ZS3K");
    EXPECT_EQ(serial("", 0), "13ZS3K");
    EXPECT_EQ(serial(nullptr, 0), "13ZS3K");
    EXPECT_EQ(serial("LONGER", 0), "LO13ZS3K");
}

TEST_F(SerialNumberTest, GivenSerialWinsOverTheAutomaticOne)
{
    fixed_time = {101, 0, 1, 0, 0, 0};
    char automatic[automatic_serial_size];
    EXPECT_STREQ(choose_serial("S1", "AB", 0x6001, automatic), "S1");
    EXPECT_STREQ(choose_serial("", "AB", 0x6000, automatic), "AB13ZS3K");
    EXPECT_STREQ(choose_serial(nullptr, "AB", 0x6000, automatic), "AB13ZS3K");
}

} // namespace
} // namespace corvane::eeprom
