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

TEST_F(ParseArguments, UnconvertibleValuesKeepTheFieldButSetTheFlag)
{
    state_.save_type = 3;
    state_.sdram_offset = 0x40;
    parse({"-s", "none", "-a", "zz"});
    EXPECT_EQ(state_.save_type, 3);
    EXPECT_EQ(state_.sdram_offset, 0x40);
    EXPECT_EQ(state_.mode, MODE_SAVE_TYPE);
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

TEST(ParseNumber, HexadecimalReadsWhatPercentXReads)
{
    const NumberCase cases[] = {
        {"1000", 0x1000},     {"0x1f", 0x1F},      {"FFFFFFFF", -1}, {"80000000", INT32_MIN},
        {"123456789", 0x23456789},    {"-a", -10},         {" 7", 7},        {"g1", std::nullopt},
        {"", std::nullopt},   {"10zz", 0x10},     {"FFFFFFFFFFFFFFFFFF", -1},
    };
    for (const NumberCase &number : cases)
        EXPECT_EQ(parse_hex(number.text), number.value) << '"' << number.text << '"';
}

TEST(ParseNumber, DecimalIsHeldToThe32BitRange)
{
    const NumberCase cases[] = {
        {"5", 5},   {"-1", -1}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
        {"x", std::nullopt}, {"0x10", 0},
    };
    for (const NumberCase &number : cases)
        EXPECT_EQ(parse_decimal(number.text), number.value) << '"' << number.text << '"';
}

} // namespace
} // namespace corvane::loader
