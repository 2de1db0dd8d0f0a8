// The FT232R layout on a virtual FT232R: its own image, the factory word and the latency
// timer around every write.
#include "eeprom_bus_fixture.h"

#include "wire/ftdi_protocol.h"

namespace corvane::eeprom::testing {
namespace {

class Ft232rDevice : public EepromBusTest {
protected:
    void SetUp() override
    {
        open_bus({"ft232r"});
        bus->set_factory_word(0, 0x42, 0x0001);
    }

    static Record cable_record()
    {
        Record record = cable_record_of(0x6001, 90);
        ProgramData &f = record.data;
        f.r_w0_bit2 = 1;
        f.r_byte1 = 0x77;
        f.r_option_bit3 = 1;
        f.r_byte11_bit0 = 1;
        f.r_byte11_bit7 = 1;
        f.r_select0 = 3;
        f.r_select1 = 5;
        f.r_select2 = 12;
        f.r_select4 = 7;
        f.r_w0_bit3 = 1;
        return record;
    }

    // The latency values the device was set to, in order.
    std::vector<uint16_t> latency_settings()
    {
        std::vector<uint16_t> values;
        for (const auto &request : bus->control_log(0))
            if (request.setup.request == usb::ftdi::set_latency)
                values.push_back(request.setup.value);
        return values;
    }

    Settings232R settings_for_cable()
    {
        Settings232R settings{};
        settings.header = {FTDEV_DEVICE_232R, 0x0403, 0x6001, 0, 0, 100, 0, 1, 0, 0};
        settings.w0_bit1 = 1;
        settings.byte11_bit3 = 1;
        settings.select0 = 1;
        settings.select1 = 2;
        settings.select2 = 3;
        settings.select3 = 4;
        settings.select4 = 12;
        settings.w0_bit3_clear = 0;
        return settings;
    }
};

TEST_F(Ft232rDevice, ProgramWritesTheTableImage)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(read_back(64), golden_image("ft232r-ab-cable.bin"));
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    EXPECT_EQ(size, 62u);
}

TEST_F(Ft232rDevice, FactoryWordDecidesBit0OfWord0)
{
    const struct {
        uint16_t factory;
        uint16_t bit0;
    } cases[] = {{0x0001, 1}, {0x0003, 1}, {0x0002, 0}, {0xFFFF, 0}};
    for (const auto &c : cases) {
        bus->set_factory_word(0, 0x42, c.factory);
        Record record = cable_record();
        ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
        EXPECT_EQ(part_words()[0] & 1, c.bit0) << std::hex << c.factory;
    }
}

// The record path has no range check and ORs each pin function in at its place, cut only
// to its byte, as images made this way always have been; the settings path refuses them.
TEST_F(Ft232rDevice, RecordPinFunctionsAreCombinedUnchecked)
{
    const struct {
        uint8_t select[5];
        uint8_t bytes[3]; // image bytes 20 to 22
    } cases[] = {
        {{3, 5, 12, 0, 7}, {0x53, 0x0C, 0x07}},
        {{0x13, 0x02, 0x00, 0x1F, 0xA5}, {0x33, 0xF0, 0xA5}},
        {{0xF0, 0x01, 0x2F, 0x00, 0x00}, {0xF0, 0x2F, 0x00}},
    };
    for (const auto &c : cases) {
        Record record = cable_record();
        std::memcpy(&record.data.r_select0, c.select, sizeof c.select);
        ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
        const Bytes image = read_back(64);
        EXPECT_EQ(Bytes(image.begin() + 20, image.begin() + 23), Bytes(c.bytes, c.bytes + 3))
            << "select0 " << int(c.select[0]);
    }
}

TEST_F(Ft232rDevice, ReadReportsTheChipFields)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    Record read;
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    const ProgramData &f = read.data;
    EXPECT_STREQ(read.serial, "AB123456");
    EXPECT_EQ(f.r_byte1, 0x40) << "programming always writes 0x40";
    EXPECT_EQ(f.r_w0_bit1, 0);
    EXPECT_EQ(f.r_w0_bit2, 1);
    EXPECT_EQ(f.r_w0_bit3, 1);
    EXPECT_EQ(f.r_option_bit2, 0);
    EXPECT_EQ(f.r_option_bit3, 1);
    EXPECT_EQ(f.r_byte11_bit0, 1);
    EXPECT_EQ(f.r_byte11_bit1, 0);
    EXPECT_EQ(f.r_byte11_bit7, 1);
    EXPECT_EQ(f.r_select0, 3);
    EXPECT_EQ(f.r_select1, 5);
    EXPECT_EQ(f.r_select2, 12);
    EXPECT_EQ(f.r_select3, 0);
    EXPECT_EQ(f.r_select4, 7);
    EXPECT_EQ(f.release_0400, 0);
    EXPECT_EQ(f.usb_version, 0x0110) << "word 6 holds 0x0200, older releases report 1.1";
}

TEST_F(Ft232rDevice, UnsignedRecordIsRefused)
{
    ProgramDataUnsigned caller{};
    caller.vendor_id = 0x0403;
    caller.product_id = 0x6001;
    const auto before = part_words();
    EXPECT_EQ(FT_EE_Program(handle, reinterpret_cast<ProgramData *>(&caller)), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EE_Read(handle, reinterpret_cast<ProgramData *>(&caller)), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(part_words(), before);
}

// Every write runs with the timer at 119 ms and puts the caller's value back.
TEST_F(Ft232rDevice, LatencyTimerIsRaisedForWritesAndPutBack)
{
    ASSERT_EQ(FT_SetLatencyTimer(handle, 5), FTDEV_OK);
    Record record = cable_record();
    bus->clear_control_log(0);
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    EXPECT_EQ(latency_settings(), (std::vector<uint16_t>{119, 5}));

    bus->clear_control_log(0);
    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(FT_EE_UAWrite(handle, data, sizeof data), FTDEV_OK);
    EXPECT_EQ(latency_settings(), (std::vector<uint16_t>{119, 5}));

    bus->clear_control_log(0);
    Settings232R settings = settings_for_cable();
    ASSERT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456"), FTDEV_OK);
    EXPECT_EQ(latency_settings(), (std::vector<uint16_t>{119, 5}));

    // A user-area write that fails after the timer was raised still puts it back.
    bus->clear_control_log(0);
    uint8_t too_much[200] = {};
    EXPECT_EQ(FT_EE_UAWrite(handle, too_much, sizeof too_much), FTDEV_EEPROM_WRITE_FAILED);
    EXPECT_EQ(latency_settings(), (std::vector<uint16_t>{119, 5}));
    EXPECT_EQ(bus->channel_settings(0, 1).latency_ms, 5);
}

TEST_F(Ft232rDevice, SettingsRoundTrip)
{
    Settings232R settings = settings_for_cable();
    ASSERT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456"), FTDEV_OK);
    const auto words = part_words();
    EXPECT_EQ(words[0], 0x400A) << "byte 1 0x40, bits 1 and 3, bit 0 clear on this path";
    EXPECT_EQ(words[3], 0x0600);
    EXPECT_EQ(words[5], 0x0800);
    EXPECT_EQ(words[6], 0x0200);
    EXPECT_EQ(words[10], 0x4321);
    EXPECT_EQ(words[11] & 0xFF, 0x0C);

    Settings232R back{};
    back.header.device_type = FTDEV_DEVICE_232R;
    char m[64], id[64], d[64], s[64];
    ASSERT_EQ(FT_EEPROM_Read(handle, &back.header, sizeof back, m, id, d, s), FTDEV_OK);
    EXPECT_EQ(back.header.max_power, 100);
    EXPECT_EQ(back.header.remote_wakeup, 1);
    EXPECT_EQ(back.w0_bit1, 1);
    EXPECT_EQ(back.w0_bit2, 0);
    EXPECT_EQ(back.w0_bit3_clear, 0);
    EXPECT_EQ(back.byte11_bit3, 1);
    EXPECT_EQ(back.byte11_bit4, 0);
    EXPECT_EQ(back.select0, 1);
    EXPECT_EQ(back.select3, 4);
    EXPECT_EQ(back.select4, 12);
    EXPECT_STREQ(d, "Cable");
}

TEST_F(Ft232rDevice, SettingsRefusalsTouchNothing)
{
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    const auto before = part_words();
    Settings232R settings = settings_for_cable();
    settings.select2 = 13;
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    settings.select2 = 3;
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings - 1, "AB", "AB", "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    const std::string long_description(40, 'd');
    EXPECT_EQ(
        FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", long_description.c_str(), nullptr),
        FTDEV_OTHER_ERROR);
    EXPECT_EQ(part_words(), before);
}

} // namespace
} // namespace corvane::eeprom::testing
