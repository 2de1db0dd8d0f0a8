#include "loader/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::loader {
namespace {

class ParseArguments : public ::testing::Test {
protected:
    ArgumentsResult parse(std::vector<std::string> texts)
    {
        texts_ = std::move(texts);
        pointers_.clear();
        for (const std::string &text : texts_)
            pointers_.push_back(text.c_str());
        return parse_arguments(pointers_, state_, dialog_);
    }

    RunState state_;
    FileDialog dialog_ = nullptr;

private:
    std::vector<std::string> texts_;
    std::vector<const char *> pointers_;
};

TEST_F(ParseArguments, NothingToDoShowsUsage)
{
    EXPECT_EQ(parse({}).verdict, ArgumentsVerdict::usage);
    EXPECT_EQ(parse({"-a", "100"}).verdict, ArgumentsVerdict::usage);
    RunState fresh;
    state_ = fresh;
    EXPECT_EQ(parse({"-l"}).verdict, ArgumentsVerdict::usage);
}

TEST_F(ParseArguments, ValueBeforeAnyOptionIsIgnored)
{
    EXPECT_EQ(parse({"rom.z64", "-l", "x.z64"}).verdict, ArgumentsVerdict::run);
    EXPECT_STREQ(state_.file_name, "x.z64");
    EXPECT_EQ(state_.mode, MODE_LOAD);
}

TEST_F(ParseArguments, OnlyTheSecondCharacterNamesTheOption)
{
    parse({"-lx", "rom.z64"});
    EXPECT_STREQ(state_.file_name, "rom.z64");
    EXPECT_EQ(state_.mode, MODE_LOAD);
}

TEST_F(ParseArguments, UpdateOptionsReplaceTheModeAndZeroTheOffset)
{
    parse({"-a", "100", "-b", "boot.bin"});
    EXPECT_EQ(state_.sdram_offset, 0);
    EXPECT_EQ(state_.mode, MODE_BOOTLOADER);

    state_ = RunState{};
    parse({"-b", "boot.bin", "-a", "100"});
    EXPECT_EQ(state_.sdram_offset, 0x100);

    state_ = RunState{};
    parse({"-l", "a.z64", "-b", "b.bin"});
    EXPECT_EQ(state_.mode, MODE_BOOTLOADER);
    EXPECT_STREQ(state_.file_name, "b.bin");

    state_ = RunState{};
    parse({"-b", "b.bin", "-s", "1"});
    EXPECT_EQ(state_.mode, MODE_BOOTLOADER | MODE_SAVE_TYPE);
    EXPECT_EQ(state_.save_type, 1);

    state_ = RunState{};
    parse({"-b", "b.bin", "-f", "c.bin"});
    EXPECT_EQ(state_.mode, MODE_FIRMWARE);
    EXPECT_STREQ(state_.file_name, "c.bin");
}

TEST_F(ParseArguments, DumpCountIsHexadecimalAndOptional)
{
    parse({"-d", "out.bin", "1000"});
    EXPECT_EQ(state_.transfer_size, 0x1000);
    EXPECT_EQ(state_.mode, MODE_DUMP);

    state_ = RunState{};
    state_.transfer_size = 7;
    parse({"-d", "out.bin"});
    EXPECT_EQ(state_.transfer_size, 7);
    EXPECT_STREQ(state_.file_name, "out.bin");
}

TEST_F(ParseArguments, AnOptionAfterTheDumpFileIsNotItsCount)
{
    parse({"-d", "out.bin", "-a", "200"});
    EXPECT_EQ(state_.transfer_size, 0);
    EXPECT_EQ(state_.sdram_offset, 0x200);
}

struct RefusalCase {
    std::vector<std::string> args;
    ValueFault fault;
    const char *option;
    const char *value; // nullptr: nothing followed the option
};

// Every value that cannot be right is refused before the run touches anything, naming
// the option and the value as given.
TEST_F(ParseArguments, RefusesValuesThatCannotBeRight)
{
    const RefusalCase cases[] = {
        {{"-a", "zz", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", "zz"},
        {{"-a", "10zz", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", "10zz"},
        {{"-a", "", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", ""},
        {{"-a", "0x", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", "0x"},
        {{"-a", "+10", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", "+10"},
        {{"-a", " 10", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", " 10"},
        {{"-a", "100000000", "-l", "r.z64"}, ValueFault::not_hexadecimal, "-a", "100000000"},
        {{"-a", "-5", "-l", "r.z64"}, ValueFault::missing, "-a", "-5"},
        {{"-l", "r.z64", "-a"}, ValueFault::missing, "-a", nullptr},
        {{"-ax", "1001", "-l", "r.z64"}, ValueFault::odd_offset, "-ax", "1001"},
        {{"-d", "x.bin", "0", "-a", "1"}, ValueFault::odd_offset, "-a", "1"},
        {{"-b", "b.bin", "-a", "3", "-l", "r.z64"}, ValueFault::odd_offset, "-a", "3"},
        {{"-d", "x.bin", "zz"}, ValueFault::not_hexadecimal, "-d", "zz"},
        {{"-d", "x.bin", "100000010"}, ValueFault::not_hexadecimal, "-d", "100000010"},
        {{"-d", "x.bin", "FFFFFFFF"}, ValueFault::count_too_large, "-d", "FFFFFFFF"},
        {{"-d", "x.bin", "80000000"}, ValueFault::count_too_large, "-d", "80000000"},
        {{"-d", "x.bin", "10 "}, ValueFault::not_hexadecimal, "-d", "10 "},
        {{"-d"}, ValueFault::missing, "-d", nullptr},
        {{"-d", "-a", "0"}, ValueFault::missing, "-d", "-a"},
        {{"-s", "abc", "-l", "r.z64"}, ValueFault::not_decimal, "-s", "abc"},
        {{"-s", "0x10", "-l", "r.z64"}, ValueFault::not_decimal, "-s", "0x10"},
        {{"-s", "+1", "-l", "r.z64"}, ValueFault::not_decimal, "-s", "+1"},
        {{"-s", "2147483648", "-l", "r.z64"}, ValueFault::not_decimal, "-s", "2147483648"},
        {{"-s", "", "-l", "r.z64"}, ValueFault::not_decimal, "-s", ""},
        {{"-s", "-1", "-l", "r.z64"}, ValueFault::missing, "-s", "-1"},
        {{"-l", "-s", "1"}, ValueFault::missing, "-l", "-s"},
        {{"-b", "-w"}, ValueFault::missing, "-b", "-w"},
        {{"-l", "r.z64", "-f"}, ValueFault::missing, "-f", nullptr},
        {{"-s", "1", "-b"}, ValueFault::missing, "-b", nullptr},
    };
    for (const RefusalCase &c : cases) {
        state_ = RunState{};
        ArgumentsResult result = parse(c.args);
        std::string label = ::testing::PrintToString(c.args);
        ASSERT_EQ(result.verdict, ArgumentsVerdict::bad_value) << label;
        EXPECT_EQ(result.fault, c.fault) << label;
        EXPECT_STREQ(result.option, c.option) << label;
        if (c.value == nullptr) {
            EXPECT_EQ(result.value, nullptr) << label;
        } else {
            EXPECT_STREQ(result.value, c.value) << label;
        }
    }
}

TEST_F(ParseArguments, NumbersThatAreRightStillRun)
{
    // An odd offset is fine for the updates, whose configuration offset is in bytes; 6
    // is a number, refused later as a save type once the cartridge is open.
    const std::vector<std::vector<std::string>> cases = {
        {"-a", "0x1000", "-l", "r.z64"}, {"-a", "FFFFFFFE", "-l", "r.z64"},
        {"-f", "c.bin", "-a", "1"},      {"-d", "x.bin", "7FFFFFFF"},
        {"-d", "x.bin", "0X00000010"},   {"-s", "6", "-l", "r.z64"},
        {"-s", "1", "-a", "1"},          {"-d", "x.bin"},
        {"-d", "x.bin", "-s", "2"},
    };
    for (const auto &args : cases) {
        state_ = RunState{};
        EXPECT_EQ(parse(args).verdict, ArgumentsVerdict::run) << ::testing::PrintToString(args);
    }
    state_ = RunState{};
    parse({"-s", "6", "-l", "r.z64", "-a", "0xfffffffe"});
    EXPECT_EQ(state_.save_type, 6);
    EXPECT_EQ(state_.sdram_offset, -2);
}

TEST_F(ParseArguments, DialogRunsWhenItsOptionIsRead)
{
    dialog_ = [](RunState &state) { std::snprintf(state.file_name, sizeof state.file_name, "picked.z64"); };
    parse({"-l", "first.z64", "-w"});
    EXPECT_STREQ(state_.file_name, "picked.z64");
    EXPECT_EQ(state_.mode, MODE_LOAD);

    state_ = RunState{};
    dialog_ = [](RunState &) {};
    EXPECT_EQ(parse({"-w", "ignored.z64"}).verdict, ArgumentsVerdict::run);
    EXPECT_STREQ(state_.file_name, "");
}

TEST_F(ParseArguments, RefusesNamesPastTheRunStatesRoom)
{
    parse({"-l", std::string(FILE_NAME_CAPACITY - 1, 'n')});
    EXPECT_EQ(std::string(state_.file_name).size(), FILE_NAME_CAPACITY - 1);

    for (const char *option : {"-l", "-d", "-b", "-f"}) {
        state_ = RunState{};
        ArgumentsResult result = parse({option, std::string(FILE_NAME_CAPACITY, 'n')});
        EXPECT_EQ(result.verdict, ArgumentsVerdict::name_too_long) << option;
        EXPECT_EQ(result.name_length, FILE_NAME_CAPACITY) << option;
        EXPECT_STREQ(state_.file_name, "") << option;
    }
}

TEST_F(ParseArguments, RefusesLoadAndDumpTogether)
{
    EXPECT_EQ(parse({"-l", "a.z64", "-d", "b.bin", "10"}).verdict, ArgumentsVerdict::load_and_dump);
    state_ = RunState{};
    dialog_ = [](RunState &) {};
    EXPECT_EQ(parse({"-d", "b.bin", "10", "-w"}).verdict, ArgumentsVerdict::load_and_dump);
}

struct NumberCase {
    const char *text;
    std::optional<int32_t> value;
};

TEST(ParseNumber, HexadecimalIsDigitsOnlyAndFits32Bits)
{
    const NumberCase cases[] = {
        {"1000", 0x1000},
        {"0x1f", 0x1F},
        {"0XAb", 0xAB},
        {"FFFFFFFF", -1},
        {"80000000", INT32_MIN},
        {"000000001000", 0x1000},
        {"123456789", std::nullopt},
        {"-a", std::nullopt},
        {" 7", std::nullopt},
        {"g1", std::nullopt},
        {"", std::nullopt},
        {"10zz", std::nullopt},
        {"0x", std::nullopt},
        {"FFFFFFFFFFFFFFFFFF", std::nullopt},
    };
    for (const NumberCase &number : cases)
        EXPECT_EQ(parse_hex(number.text), number.value) << '"' << number.text << '"';
}

TEST(ParseNumber, DecimalIsDigitsOnlyAndFitsASigned32BitValue)
{
    const NumberCase cases[] = {
        {"5", 5},
        {"0", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", std::nullopt},
        {"-1", std::nullopt},
        {"99999999999", std::nullopt},
        {"x", std::nullopt},
        {"0x10", std::nullopt},
        {"5 ", std::nullopt},
    };
    for (const NumberCase &number : cases)
        EXPECT_EQ(parse_decimal(number.text), number.value) << '"' << number.text << '"';
}

} // namespace
} // namespace corvane::loader
