// The FT2232H layout on virtual FT2232H chips with 64-, 128- and 256-word parts: the
// probe, the moved strings, the four pin groups, the split user area, and the image as
// the chip itself reads it.
#include "layout_test_support.h"

namespace corvane::eeprom::testing {
namespace {

class Ft2232hDevice : public LayoutBusTest {
protected:
    static Record cable_record()
    {
        Record record = cable_record_of(0x6010, 90);
        ProgramData &f = record.data;
        f.remote_wakeup = f.tail_flag = f.ft2232h_option_bit3 = 1;
        f.ft2232h_group0_slow_slew = 1;
        f.ft2232h_group0_drive = 4;
        f.ft2232h_group1_drive = 12;
        f.ft2232h_group2_schmitt = 1;
        f.ft2232h_group2_drive = 6; // no such current: stored as the weakest
        f.ft2232h_group3_slow_slew = f.ft2232h_group3_schmitt = 1;
        f.ft2232h_group3_drive = 16;
        f.ft2232h_w0_bit0 = f.ft2232h_driver_type_a = f.ft2232h_w0_bit10 = 1;
        f.ft2232h_driver_type_b = 2; // any non-zero value sets it here
        return record;
    }

    static Settings2232H cable_settings()
    {
        Settings2232H settings{};
        settings.header = {FTDEV_DEVICE_2232H, 0x0403, 0x6010, 1, 0, 200, 1, 0, 0, 0};
        settings.group1_drive = 16;
        settings.group2_slow_slew = 1;
        settings.w0_bit2 = settings.w0_bit15 = settings.driver_type_a = 1;
        settings.driver_type_b = 2; // only the value 1 sets it here
        return settings;
    }

    FtdevStatus program(const Settings2232H &settings, const char *description = "Cable")
    {
        return FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", description, "AB123456");
    }
};

TEST_F(Ft2232hDevice, RecordOnSmallAndLargeParts)
{
    struct Case {
        const char *chip;
        unsigned words;
        const char *golden;
        uint32_t user_area; // bytes
    };
    // Small part: words 33 to 62 behind the tail word. Large part: 128 bytes below the
    // moved strings and words 97 to 126 behind them.
    for (const Case c : {Case{"ft2232h,eeprom=64", 64, "ft2232h-64-ab-cable.bin", 60},
                         Case{"ft2232h,eeprom=128", 128, "ft2232h-128-ab-cable.bin", 188}}) {
        SCOPED_TRACE(c.chip);
        open_bus({c.chip});
        Record record = cable_record();
        ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
        EXPECT_EQ(read_back(c.words), golden_image(c.golden));
        expect_record_round_trip(c.words);
        uint32_t size = 0;
        ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
        EXPECT_EQ(size, c.user_area);
        EXPECT_EQ(description_after_replug(), "Cable A");
        bus.reset();
    }
}

// The settings path moves the strings before it appends: 02 03 00 00 stay at the serial's
// old place and are all that bytes 0x1A to 0x99 hold.
TEST_F(Ft2232hDevice, SettingsOnA256WordPart)
{
    open_bus({"ft2232h,eeprom=256"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto words = part_words();
    EXPECT_EQ(words[12], 0x0066);
    EXPECT_EQ(words[0xC0], 0x00C0) << "the probe's marker lies beyond the 128 words written";
    EXPECT_EQ(words[0], 0x800C) << "bits 2, 3 and 15; driver type B of 2 leaves bit 11 clear";
    EXPECT_EQ(words[5], 0x0008);
    EXPECT_EQ(words[6], 0x0430) << "group 1: 16 mA; group 2: slow slew";
    expect_strings_moved_out(bytes_of(words, 128), 0x1A, 0x9A);
    expect_settings_round_trip<Settings2232H>(FTDEV_DEVICE_2232H, 128);
    EXPECT_EQ(description_after_replug(), "Cable A");
}

TEST_F(Ft2232hDevice, UserAreaOfALargePartLiesBelowAndBehindTheStrings)
{
    open_bus({"ft2232h,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    uint8_t data[130];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(0x30 + i);
    ASSERT_EQ(FT_EE_UAWrite(handle, data, sizeof data), FTDEV_OK);
    const Bytes image = read_back(128);
    EXPECT_TRUE(std::equal(data, data + 128, image.begin() + 0x1A));
    EXPECT_TRUE(std::equal(data + 128, data + 130, image.begin() + 0xC2));
    uint8_t back[256] = {};
    uint32_t got = 0;
    ASSERT_EQ(FT_EE_UARead(handle, back, sizeof back, &got), FTDEV_OK);
    EXPECT_EQ(got, 188u);
    EXPECT_TRUE(std::equal(data, data + sizeof data, back));
    EXPECT_EQ(description_after_replug(), "Cable A");
}

TEST_F(Ft2232hDevice, TextsThatDoNotFitAreRefusedBeforeThePartIsTouched)
{
    open_bus({"ft2232h,eeprom=64"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto before = part_words();
    bus->clear_control_log(0);
    // From 0x1A, 96 bytes of descriptors end at byte 122: on a 64-word part the empty
    // descriptor and the tail word then end just before the checksum word.
    const std::string too_long(36, 'x');
    EXPECT_EQ(program(cable_settings(), too_long.c_str()), FTDEV_OTHER_ERROR);
    EXPECT_FALSE(device_changed());
    EXPECT_EQ(part_words(), before);
    ASSERT_EQ(program(cable_settings(), too_long.c_str() + 1), FTDEV_OK);
    EXPECT_EQ(description_after_replug(), too_long.substr(1) + " A");
}

TEST_F(Ft2232hDevice, DamagedImagesStayInBounds)
{
    open_bus({"ft2232h,eeprom=128"});
    exercise_damaged_images(golden_image("ft2232h-128-ab-cable.bin"),
                            {FTDEV_DEVICE_2232H, sizeof(Settings2232H), 12, {0x56, 0x66, 0x46, 0}, 13, true});
}

} // namespace
} // namespace corvane::eeprom::testing
