// The FT232H layout on virtual FT232H chips: the probe and the moved strings on 128- and
// 256-word parts, the split user area, the checks made before the part is touched, and
// the configuration calls that only the FT232H and FT-X take.
#include "layout_test_support.h"

namespace corvane::eeprom::testing {
namespace {

class Ft232hDevice : public LayoutBusTest {
protected:
    static Record cable_record()
    {
        Record record = cable_record_of(0x6014, 100);
        ProgramData &f = record.data;
        f.self_powered = f.tail_flag = 1;
        f.ft232h_option_bit2 = f.ft232h_group0_slow_slew = f.ft232h_group1_schmitt = 1;
        f.ft232h_group0_drive = 16;
        f.ft232h_group1_drive = 8;
        for (uint8_t k = 0; k < 10; ++k)
            (&f.ft232h_cbus_mux0)[k] = static_cast<uint8_t>(k + 1);
        f.ft232h_w0_bit1 = f.ft232h_w0_bit3 = 1; // only the first of bits 0-3 is stored
        f.ft232h_driver_type = 2;                // any non-zero value sets it here
        f.ft232h_w0_bit8 = f.ft232h_w0_bit15 = 1;
        return record;
    }

    static Settings232H cable_settings()
    {
        Settings232H settings{};
        settings.header = {FTDEV_DEVICE_232H, 0x0403, 0x6014, 0, 0, 90, 0, 1, 1, 0};
        settings.group0_drive = 6; // no such current: stored as the weakest
        settings.group1_drive = 12;
        settings.group1_slow_slew = 1;
        settings.cbus_mux4 = 12;
        settings.cbus_mux9 = 3;
        settings.w0_bit1 = settings.w0_bit3 = 1;
        settings.driver_type = 2; // only the value 1 sets it here
        settings.w0_bit10 = 1;
        return settings;
    }

    FtdevStatus program(const Settings232H &settings, const char *description = "Cable")
    {
        return FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", description, "AB123456");
    }
};

TEST_F(Ft232hDevice, RecordOnA128WordPartMovesTheStringsUp)
{
    open_bus({"ft232h,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft232h-128-ab-cable.bin"));
    expect_record_round_trip(128);
    EXPECT_EQ(description_after_replug(), "Cable");
}

// The settings path moves the strings before it appends: 02 03 00 00 stay at the serial's
// old place in the lower half. The probe's marker at word 0xC0 of a 256-word part lies
// beyond the 128 words written.
TEST_F(Ft232hDevice, SettingsOnA256WordPart)
{
    open_bus({"ft232h,eeprom=256"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto words = part_words();
    EXPECT_EQ(words[15], 0x0066);
    EXPECT_EQ(words[0xC0], 0x00C0);
    EXPECT_EQ(words[0], 0x0402) << "bit 1 alone of bits 0-3, bit 10; driver type 2 leaves bit 4 clear";
    EXPECT_EQ(words[6], 0x0600) << "group 0: 6 mA is code 0; group 1: 12 mA and slow slew";
    EXPECT_EQ(words[0x1A / 2], 0x000C);
    EXPECT_EQ(words[0x1C / 2], 0x0030);
    EXPECT_EQ(words[0x8A / 2], 0x0048);
    expect_strings_moved_out(bytes_of(words, 128), 0x20, 0x80);
    expect_settings_round_trip<Settings232H>(FTDEV_DEVICE_232H, 128);
    EXPECT_EQ(description_after_replug(), "Cable");
}

// With no part the probe finds nothing: the strings stay at 0x20 with their pointer bytes
// already naming the upper half, word 15 says 128 words, and all 128 words are sent
// before the read-back fails.
TEST_F(Ft232hDevice, NoPartGetsTheUnmovedImageAndFailsTheReadBack)
{
    open_bus({"ft232h,eeprom=0"});
    bus->clear_control_log(0);
    EXPECT_EQ(program(cable_settings()), FTDEV_EEPROM_WRITE_FAILED);
    const auto sent = words_sent();
    ASSERT_EQ(sent.size(), 129u) << "the probe's marker and 128 image words";
    EXPECT_EQ(sent.at(15), 0x0056);
    EXPECT_EQ(sent.at(7), 0x06A0);
    EXPECT_EQ(sent.at(0x20 / 2), 0x0306);
}

// The record path has no range check: each mux code keeps to its nibble, so that a value
// out of range cannot change its neighbour's pin function.
TEST_F(Ft232hDevice, RecordMuxCodesKeepToTheirNibbles)
{
    open_bus({"ft232h,eeprom=128"});
    const struct {
        uint8_t low;
        uint8_t high;
        uint8_t byte; // image byte 0x18
    } cases[] = {{1, 2, 0x21}, {0x1D, 0x02, 0x2D}, {0x03, 0xF7, 0x73}, {0xFF, 0xFF, 0xFF}};
    for (const auto &c : cases) {
        Record record = cable_record();
        record.data.ft232h_cbus_mux0 = c.low;
        record.data.ft232h_cbus_mux1 = c.high;
        ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
        EXPECT_EQ(read_back(128)[0x18], c.byte) << std::hex << int(c.low) << " " << int(c.high);
        EXPECT_EQ(read_back(128)[0x19], 0x43) << "mux 2 and 3 untouched";
    }
}

TEST_F(Ft232hDevice, ChecksBeforeThePartIsTouched)
{
    open_bus({"ft232h,eeprom=128"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto before = part_words();
    bus->clear_control_log(0);
    for (const int mux : {0, 4, 9}) {
        Settings232H settings = cable_settings();
        (&settings.cbus_mux0)[mux] = 13;
        EXPECT_EQ(program(settings), FTDEV_INVALID_PARAMETER) << "mux " << mux;
    }
    // 90 bytes of descriptors from 0x20 end at byte 122, the last place that leaves room
    // for the empty descriptor and the tail word.
    const std::string too_long(33, 'x');
    EXPECT_EQ(program(cable_settings(), too_long.c_str()), FTDEV_OTHER_ERROR);
    Record record = cable_record();
    std::strcpy(record.description, too_long.c_str());
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OTHER_ERROR);
    EXPECT_FALSE(device_changed());
    EXPECT_EQ(part_words(), before);
    ASSERT_EQ(program(cable_settings(), too_long.c_str() + 1), FTDEV_OK);
    EXPECT_EQ(description_after_replug(), too_long.substr(1));
}

// Behind the moved strings of the record the user area runs from word 100 to 126; with
// the 96 bytes below the strings that makes 150 bytes.
TEST_F(Ft232hDevice, UserAreaIsSplitAroundTheMovedStrings)
{
    open_bus({"ft232h,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    ASSERT_EQ(size, 150u);
    uint8_t data[151];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(0x40 + i);
    ASSERT_EQ(FT_EE_UAWrite(handle, data, 100), FTDEV_OK);
    const Bytes image = read_back(128);
    EXPECT_TRUE(std::equal(data, data + 96, image.begin() + 0x20));
    EXPECT_TRUE(std::equal(data + 96, data + 100, image.begin() + 0xC8));
    EXPECT_EQ(FT_EE_UAWrite(handle, data, 151), FTDEV_EEPROM_WRITE_FAILED);
    uint8_t back[200] = {};
    uint32_t got = 0;
    ASSERT_EQ(FT_EE_UARead(handle, back, sizeof back, &got), FTDEV_OK);
    EXPECT_EQ(got, 150u);
    EXPECT_TRUE(std::equal(data, data + 100, back));
    EXPECT_EQ(description_after_replug(), "Cable");
}

// An image without a part code is read and written back as 64 words: its user area ends
// there, so every byte the call accepts survives. A blank part has none.
TEST_F(Ft232hDevice, UserAreaOfAnImageWithoutPartCodeEndsWithTheWordsWrittenBack)
{
    struct Case {
        const char *what;
        uint16_t part_code; // 0xFFFF: a blank part
        uint32_t size;
    };
    for (const Case c : {Case{"blank part", 0xFFFF, 0}, Case{"code of a 64-word part", 0x0046, 76}}) {
        SCOPED_TRACE(c.what);
        open_bus({"ft232h,eeprom=128"});
        std::vector<uint16_t> words(128, 0xFFFF);
        if (c.part_code != 0xFFFF) {
            words = words_of(golden_image("ft232h-128-ab-cable.bin"), 128);
            words[15] = c.part_code;
        }
        bus->set_eeprom_words(0, words);
        uint32_t size = 0;
        ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
        EXPECT_EQ(size, c.size);
        std::vector<uint8_t> data(size + 1, 0xA5);
        EXPECT_EQ(FT_EE_UAWrite(handle, data.data(), size + 1), FTDEV_EEPROM_WRITE_FAILED);
        EXPECT_EQ(part_words(), words);
        if (size > 0) {
            ASSERT_EQ(FT_EE_UAWrite(handle, data.data(), size), FTDEV_OK);
            std::vector<uint8_t> back(256, 0);
            uint32_t got = 0;
            ASSERT_EQ(FT_EE_UARead(handle, back.data(), static_cast<uint32_t>(back.size()), &got), FTDEV_OK);
            ASSERT_EQ(got, size);
            EXPECT_TRUE(std::equal(data.begin(), data.begin() + size, back.begin()));
        }
        FT_Close(handle);
        handle = nullptr;
        bus.reset();
    }
}

TEST_F(Ft232hDevice, DamagedImagesStayInBounds)
{
    open_bus({"ft232h,eeprom=128"});
    exercise_damaged_images(golden_image("ft232h-128-ab-cable.bin"),
                            {FTDEV_DEVICE_232H, sizeof(Settings232H), 15, {0x56, 0x66, 0x5231, 0x46, 0}, 16, true});
}

// The configuration byte and error-correction calls exist on the FT232H and the FT-X
// only; the virtual chips answer them, every other chip type is refused.
TEST_F(Ft232hDevice, ConfigurationCallsReachOnlyTheChipsThatHaveThem)
{
    uint16_t word = 0;
    uint8_t value = 0;
    for (const char *chip : {"ft232h", "ftx", "ft232b", "ft2232", "ft2232h", "ft4232h"}) {
        SCOPED_TRACE(chip);
        const bool served = std::strcmp(chip, "ft232h") == 0 || std::strcmp(chip, "ftx") == 0;
        bus.reset();
        open_bus({chip});
        if (served) {
            bus->set_error_correction_word(0, 0x1234);
            ASSERT_EQ(FT_EE_ReadECC(handle, 1, &word), FTDEV_OK);
            EXPECT_EQ(word, 0x1234);
            ASSERT_EQ(FT_EE_WriteConfig(handle, 7, 0xA5), FTDEV_OK);
            ASSERT_EQ(FT_EE_ReadConfig(handle, 7, &value), FTDEV_OK);
            EXPECT_EQ(value, 0xA5);
        } else {
            EXPECT_EQ(FT_EE_ReadConfig(handle, 0, &value), FTDEV_NOT_SUPPORTED);
            EXPECT_EQ(FT_EE_WriteConfig(handle, 0, 1), FTDEV_NOT_SUPPORTED);
            EXPECT_EQ(FT_EE_ReadECC(handle, 0, &word), FTDEV_NOT_SUPPORTED);
        }
        FT_Close(handle);
        handle = nullptr;
    }
}

} // namespace
} // namespace corvane::eeprom::testing
