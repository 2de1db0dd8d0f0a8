// The EEPROM parts of the chip model as the word requests see them, and their files.
#include "sim_test_helpers.h"

#include "sim/bus_model.h"

#include <fstream>

namespace corvane::testing {
namespace {

namespace ftdi = usb::ftdi;

class EepromParts : public ::testing::Test {
protected:
    InprocBus fixture{
        {"ft232b,eeprom=64", "ft2232,eeprom=128", "ft4232h,eeprom=256", "ft232h,eeprom=0", "ft232r", "ftx"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());
};

TEST_F(EepromParts, SmallerPartsIgnoreTheAddressBitsAboveTheirSize)
{
    struct Case {
        const char *id;
        uint16_t written;
        uint16_t alias;
        uint16_t distinct;
    };
    const Case cases[] = {
        {"0", 0x40, 0x00, 0x3F}, {"0", 0xC0, 0x00, 0x01},  {"1", 0xC0, 0x40, 0x00},
        {"1", 0x80, 0x00, 0x7F}, {"2", 0x1C0, 0xC0, 0x40}, {"2", 0x100, 0x00, 0x80},
    };
    for (const Case &c : cases) {
        auto channel = open_channel(*transport, c.id);
        ASSERT_EQ(send_out(*channel, ftdi::erase_eeprom, 0, 0), usb::Status::ok);
        ASSERT_EQ(send_out(*channel, ftdi::write_eeprom, 0x00C0, c.written), usb::Status::ok);
        EXPECT_EQ(read_word(*channel, c.alias), 0x00C0) << c.id << " " << c.written;
        EXPECT_EQ(read_word(*channel, c.distinct), 0xFFFF) << c.id << " " << c.written;
    }
}

TEST_F(EepromParts, EraseSetsEveryWordTo0xFFFF)
{
    auto channel = open_channel(*transport, "1");
    ASSERT_EQ(send_out(*channel, ftdi::write_eeprom, 0x1234, 5), usb::Status::ok);
    EXPECT_EQ(fixture.eeprom_words(1)[5], 0x1234);
    ASSERT_EQ(send_out(*channel, ftdi::erase_eeprom, 0, 0), usb::Status::ok);
    EXPECT_EQ(fixture.eeprom_words(1), std::vector<uint16_t>(128, 0xFFFF));
}

TEST_F(EepromParts, NoPartReadsAllOnesAndDropsWrites)
{
    auto channel = open_channel(*transport, "3");
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x0000, 3), usb::Status::ok);
    EXPECT_EQ(read_word(*channel, 3), 0xFFFF);
    EXPECT_EQ(send_out(*channel, ftdi::erase_eeprom, 0, 0), usb::Status::ok);
    EXPECT_TRUE(fixture.eeprom_words(3).empty());
    EXPECT_FALSE(std::filesystem::exists(fixture.state_dir() / "eeprom-CV000004.bin"));
}

TEST_F(EepromParts, Ft232rFactoryWordsOutliveWritesAndErase)
{
    auto channel = open_channel(*transport, "4");
    EXPECT_EQ(read_word(*channel, 0x42), 0xFFFF);
    fixture.set_factory_word(4, 0x42, 0x0001);
    ASSERT_EQ(send_out(*channel, ftdi::write_eeprom, 0x5555, 0x42), usb::Status::ok);
    ASSERT_EQ(send_out(*channel, ftdi::write_eeprom, 0x7777, 0x02), usb::Status::ok);
    EXPECT_EQ(read_word(*channel, 0x42), 0x0001);
    EXPECT_EQ(read_word(*channel, 0x02), 0x7777);
    ASSERT_EQ(send_out(*channel, ftdi::erase_eeprom, 0, 0), usb::Status::ok);
    EXPECT_EQ(read_word(*channel, 0x42), 0x0001);
    EXPECT_EQ(read_word(*channel, 0x02), 0xFFFF);
    EXPECT_EQ(fixture.eeprom_words(4).size(), 64u);
    EXPECT_THROW(fixture.set_factory_word(4, 0x3F, 0), std::invalid_argument);
}

TEST_F(EepromParts, FtxChipAreaRefusesWritesAndSurvivesErase)
{
    auto channel = open_channel(*transport, "5");
    std::vector<uint16_t> words(1024, 0xFFFF);
    for (unsigned i = 0x40; i <= 0x4F; ++i)
        words[i] = static_cast<uint16_t>(0x0100 + i);
    fixture.set_eeprom_words(5, words);
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x1111, 0x40), usb::Status::stall);
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x1111, 0x4F), usb::Status::stall);
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x1111, 0x3F), usb::Status::ok);
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x2222, 0x50), usb::Status::ok);
    EXPECT_EQ(send_out(*channel, ftdi::write_eeprom, 0x3333, 0x3FF), usb::Status::ok);
    EXPECT_EQ(read_word(*channel, 0x40), 0x0140);
    ASSERT_EQ(send_out(*channel, ftdi::erase_eeprom, 0, 0), usb::Status::ok);
    std::vector<uint16_t> after = fixture.eeprom_words(5);
    EXPECT_EQ(after[0x3F], 0xFFFF);
    EXPECT_EQ(after[0x45], 0x0145);
    EXPECT_EQ(after[0x50], 0xFFFF);
    EXPECT_EQ(after[0x3FF], 0xFFFF);
}

TEST_F(EepromParts, WordsReachTheFileLittleEndianAtOnce)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(send_out(*channel, ftdi::write_eeprom, 0xA1B2, 1), usb::Status::ok);
    std::ifstream file(fixture.state_dir() / "eeprom-CV000001.bin", std::ios::binary);
    std::vector<char> content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(content.size(), 128u);
    EXPECT_EQ(static_cast<uint8_t>(content[2]), 0xB2);
    EXPECT_EQ(static_cast<uint8_t>(content[3]), 0xA1);
}

class EepromFiles : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-eeprom-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::unique_ptr<sim::BusModel> build(const std::string &chip, std::string &error)
    {
        std::optional<sim::ChipDescription> description = sim::parse_chip_description(chip, error);
        EXPECT_TRUE(description) << error;
        return sim::BusModel::create({*description}, dir, error);
    }
};

TEST_F(EepromFiles, ARestartFindsTheWordsAgain)
{
    std::string error;
    {
        auto bus = build("ft2232,serial=KEEP", error);
        ASSERT_TRUE(bus) << error;
        std::vector<uint16_t> words(128, 0xFFFF);
        words[7] = 0x0707;
        ASSERT_TRUE(bus->chip(0)->set_eeprom_words(words));
    }
    auto bus = build("ft2232,serial=KEEP", error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(bus->chip(0)->eeprom_words()[7], 0x0707);
}

TEST_F(EepromFiles, AFileOfTheWrongSizeIsRefusedAndLeftAlone)
{
    {
        std::ofstream file(dir / "eeprom-SHORT.bin", std::ios::binary);
        file << std::string(100, 'x');
    }
    std::string error;
    EXPECT_FALSE(build("ft232b,serial=SHORT", error));
    EXPECT_NE(error.find("eeprom-SHORT.bin"), std::string::npos) << error;
    EXPECT_NE(error.find("100 bytes"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(dir / "eeprom-SHORT.bin"), 100u);
}

} // namespace
} // namespace corvane::testing
