// The FT4232H layout on virtual FT4232H chips: the four channels' driver-type bits in
// their word-0 order, the extra option flags of word 5, and a 64-word part.
#include "layout_test_support.h"

namespace corvane::eeprom::testing {
namespace {

class Ft4232hDevice : public LayoutBusTest {
protected:
    FtdevStatus program(const Settings4232H &settings)
    {
        return FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456");
    }
};

TEST_F(Ft4232hDevice, RecordOnA128WordPart)
{
    open_bus({"ft4232h,eeprom=128"});
    Record record = cable_record_of(0x6011, 600);
    ProgramData &f = record.data;
    f.self_powered = f.remote_wakeup = f.tail_flag = f.ft4232h_option_bit2 = 1;
    f.ft4232h_group0_drive = f.ft4232h_group1_drive = 8;
    f.ft4232h_group1_slow_slew = f.ft4232h_group2_schmitt = 1;
    f.ft4232h_group2_drive = 12;
    f.ft4232h_group3_drive = 16;
    f.ft4232h_byte11_bit5 = f.ft4232h_driver_type_a = 1;
    f.ft4232h_driver_type_c = 3; // any non-zero value sets it here
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(read_back(128), golden_image("ft4232h-128-ab-cable.bin"));
    expect_record_round_trip(128);
    EXPECT_EQ(description_after_replug(), "Cable A");
}

// Channels A, B, C and D own word 0 bits 3, 11, 7 and 15; a settings value other than 1
// sets none. The flags of word 5's high byte join the header's option bits. A 64-word
// part: code 0x46 in word 12 and 64 words written, with the checksum in word 63 (the chip
// model checks it when it reads the description).
TEST_F(Ft4232hDevice, DriverTypeBitsFollowTheChannelOrder)
{
    struct Case {
        int channel;
        uint8_t value;
        uint16_t word0;
    };
    open_bus({"ft4232h,eeprom=64"});
    for (const Case c :
         {Case{0, 1, 0x0008}, Case{1, 1, 0x0800}, Case{2, 1, 0x0080}, Case{3, 1, 0x8000}, Case{2, 2, 0x0000}}) {
        SCOPED_TRACE(c.channel);
        Settings4232H settings{};
        settings.header = {FTDEV_DEVICE_4232H, 0x0403, 0x6011, 0, 0, 100, 0, 0, 1, 0};
        settings.byte11_bit5 = 1;
        (&settings.driver_type_a)[c.channel] = c.value;
        bus->clear_control_log(0);
        ASSERT_EQ(program(settings), FTDEV_OK);
        const auto sent = words_sent();
        EXPECT_EQ(sent.size(), 65u) << "the probe's marker and 64 image words";
        EXPECT_EQ(sent.count(64), 0u);
        EXPECT_EQ(part_words()[0], c.word0);
        EXPECT_EQ(part_words()[5], 0x2004);
        EXPECT_EQ(part_words()[12], 0x0046);
        expect_settings_round_trip<Settings4232H>(FTDEV_DEVICE_4232H, 64);
    }
    EXPECT_EQ(description_after_replug(), "Cable A");
}

} // namespace
} // namespace corvane::eeprom::testing
