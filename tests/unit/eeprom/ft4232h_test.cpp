// The FT4232H layout on virtual FT4232H chips: the four channels' driver-type bits in
// their word-0 order, the extra option flags of word 5, and a 64-word part.
#include "layout_test_support.h"

namespace corvane::eeprom::testing {
namespace {

class Ft4232hDevice : public LayoutBusTest {
protected:
    static Settings4232H plain_settings()
    {
        Settings4232H settings{};
        settings.header = {FTDEV_DEVICE_4232H, 0x0403, 0x6011, 0, 0, 100, 0, 0, 0, 0};
        return settings;
    }

    FtdevStatus program(const Settings4232H &settings)
    {
        return FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456");
    }

    FtdevStatus read(Settings4232H &settings)
    {
        settings = {};
        settings.header.device_type = FTDEV_DEVICE_4232H;
        return FT_EEPROM_Read(handle, &settings.header, sizeof settings, texts[0], texts[1], texts[2], texts[3]);
    }

    char texts[4][64] = {};
};

TEST_F(Ft4232hDevice, RecordOnA128WordPart)
{
    open_bus({"ft4232h,eeprom=128"});
    Record record;
    record.set_texts("AB", "AB", "Cable", "AB123456");
    ProgramDataUnsigned &f = record.data.fields;
    f.vendor_id = 0x0403;
    f.product_id = 0x6011;
    f.max_power = 600;
    f.self_powered = 1;
    f.remote_wakeup = 1;
    f.tail_flag = 1;
    f.ft4232h_option_bit2 = 1;
    f.ft4232h_group0_drive = 8;
    f.ft4232h_group1_slow_slew = 1;
    f.ft4232h_group1_drive = 8;
    f.ft4232h_group2_schmitt = 1;
    f.ft4232h_group2_drive = 12;
    f.ft4232h_group3_drive = 16;
    f.ft4232h_byte11_bit5 = 1;
    f.ft4232h_driver_type_a = 1;
    f.ft4232h_driver_type_c = 3;    // any non-zero value sets it on this path
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft4232h-128-ab-cable.bin"));

    Record back;
    ASSERT_EQ(FT_EE_Read(handle, &back.data), FTDEV_OK);
    const ProgramDataUnsigned &r = back.data.fields;
    EXPECT_EQ(r.max_power, 500);
    EXPECT_EQ(r.ft4232h_option_bit2, 1);
    EXPECT_EQ(r.ft4232h_group1_slow_slew, 1);
    EXPECT_EQ(r.ft4232h_group2_drive, 12);
    EXPECT_EQ(r.ft4232h_group3_drive, 16);
    EXPECT_EQ(r.ft4232h_byte11_bit5, 1);
    EXPECT_EQ(r.ft4232h_byte11_bit4, 0);
    EXPECT_EQ(r.ft4232h_driver_type_a, 1);
    EXPECT_EQ(r.ft4232h_driver_type_b, 0);
    EXPECT_EQ(r.ft4232h_driver_type_c, 1);
    EXPECT_EQ(r.ft2232h_option_bit3, 0) << "the FT2232H block reads as clear";
    EXPECT_EQ(description_after_replug(), "Cable A");
}

// Channels A, B, C and D own word 0 bits 3, 11, 7 and 15; a settings value other than 1
// sets none. A 64-word part: code 0x46 in word 12 and 64 words written, with the checksum
// in word 63 (the chip model checks it when it reads the description).
TEST_F(Ft4232hDevice, DriverTypeBitsFollowTheChannelOrder)
{
    struct Case {
        int channel;
        uint8_t value;
        uint16_t word0;
    };
    open_bus({"ft4232h,eeprom=64"});
    for (const Case c : {Case{0, 1, 0x0008}, Case{1, 1, 0x0800}, Case{2, 1, 0x0080}, Case{3, 1, 0x8000},
                         Case{2, 2, 0x0000}}) {
        SCOPED_TRACE(c.channel);
        Settings4232H settings = plain_settings();
        (&settings.driver_type_a)[c.channel] = c.value;
        bus->clear_control_log(0);
        ASSERT_EQ(program(settings), FTDEV_OK);
        const auto sent = words_sent();
        EXPECT_EQ(sent.size(), 65u) << "the probe's marker and 64 image words";
        EXPECT_EQ(sent.count(64), 0u);
        EXPECT_EQ(part_words()[0], c.word0);
        EXPECT_EQ(part_words()[12], 0x0046);
        Settings4232H back;
        ASSERT_EQ(read(back), FTDEV_OK);
        for (int channel = 0; channel < 4; ++channel)
            EXPECT_EQ((&back.driver_type_a)[channel], c.value == 1 && channel == c.channel ? 1 : 0) << channel;
    }
    EXPECT_EQ(description_after_replug(), "Cable A");
}

TEST_F(Ft4232hDevice, OptionFlagsOfWord5JoinTheHeaderBits)
{
    open_bus({"ft4232h,eeprom=128"});
    Settings4232H settings = plain_settings();
    settings.header.option_bit2 = 1;
    settings.byte11_bit5 = 1;
    settings.byte11_bit7 = 7;
    settings.group3_schmitt = 1;
    settings.group3_drive = 12;
    ASSERT_EQ(program(settings), FTDEV_OK);
    EXPECT_EQ(part_words()[5], 0xA004);
    EXPECT_EQ(part_words()[6], 0xA000);
    EXPECT_EQ(part_words()[3], 0x0800);
    Settings4232H back;
    ASSERT_EQ(read(back), FTDEV_OK);
    EXPECT_EQ(back.header.option_bit2, 1);
    EXPECT_EQ(back.byte11_bit4, 0);
    EXPECT_EQ(back.byte11_bit5, 1);
    EXPECT_EQ(back.byte11_bit7, 1);
    EXPECT_EQ(back.group3_schmitt, 1);
    EXPECT_EQ(back.group3_drive, 12);
    EXPECT_STREQ(texts[3], "AB123456");
}

} // namespace
} // namespace corvane::eeprom::testing
