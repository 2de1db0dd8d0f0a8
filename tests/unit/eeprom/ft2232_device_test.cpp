// The FT2232 layout on virtual FT2232 chips with 64-, 128- and 256-word parts: the probe,
// the moved descriptors and the split user area.
#include "eeprom_bus_fixture.h"

namespace corvane::eeprom::testing {
namespace {

class Ft2232Device : public EepromBusTest {
protected:
    static Record cable_record()
    {
        Record record = cable_record_of(0x6010, 100);
        ProgramData &f = record.data;
        f.self_powered = 1;
        f.tail_flag = 1;
        f.dual_usb_version = 0x0200;
        f.dual_w0_bit0 = 1;
        f.dual_w0_bit8 = 1;
        f.dual_option_bit2 = 1;
        return record;
    }

    static Settings2232 settings_for_cable()
    {
        Settings2232 settings{};
        settings.header = {FTDEV_DEVICE_2232, 0x0403, 0x6010, 1, 0, 90, 0, 0, 0, 0};
        settings.w0_bit4 = 1;
        settings.w0_bit12 = 1;
        settings.w0_bit3 = 2; // only the value 1 sets bits 3 and 11
        settings.w0_bit11 = 1;
        return settings;
    }
};

// A 64-word part keeps the strings in place, a larger one gets them in its upper half.
TEST_F(Ft2232Device, EachPartSizeGetsItsImage)
{
    const struct {
        const char *chip;
        unsigned words;
        const char *golden;
        uint32_t user_area;
    } cases[] = {
        {"ft2232,eeprom=64", 64, "ft2232-64-ab-cable.bin", 2 * (63 - 31)},
        {"ft2232,eeprom=128", 128, "ft2232-128-ab-cable.bin", 192},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chip);
        TearDown();
        handle = nullptr;
        open_bus({c.chip});
        Record record = cable_record();
        ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
        EXPECT_EQ(read_back(c.words), golden_image(c.golden));
        Record read;
        ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
        EXPECT_STREQ(read.description, "Cable");
        uint32_t size = 0;
        ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
        EXPECT_EQ(size, c.user_area);
    }
}

TEST_F(Ft2232Device, LargePartReadsBackTheChipFields)
{
    open_bus({"ft2232,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);

    Record read;
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    const ProgramData &f = read.data;
    EXPECT_STREQ(read.manufacturer, "AB");
    EXPECT_STREQ(read.description, "Cable");
    EXPECT_STREQ(read.serial, "AB123456");
    EXPECT_EQ(f.tail_flag, 1);
    EXPECT_EQ(f.self_powered, 1);
    EXPECT_EQ(f.max_power, 100);
    EXPECT_EQ(f.dual_release_0500, 1);
    EXPECT_EQ(f.dual_w0_bit0, 1);
    EXPECT_EQ(f.dual_w0_bit8, 1);
    EXPECT_EQ(f.dual_w0_bit4, 0);
    EXPECT_EQ(f.dual_option_bit2, 1);
    EXPECT_EQ(f.dual_usb_version, 0x0200);
    EXPECT_EQ(f.release_0400, 0);
    EXPECT_EQ(f.usb_version, 0);
}

TEST_F(Ft2232Device, SplitUserAreaHolds192Bytes)
{
    open_bus({"ft2232,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    ASSERT_EQ(size, 192u);

    uint8_t data[193];
    for (size_t i = 0; i < sizeof data; ++i)
        data[i] = static_cast<uint8_t>(i + 1);
    const auto before = part_words();
    EXPECT_EQ(FT_EE_UAWrite(handle, data, 193), FTDEV_EEPROM_WRITE_FAILED);
    EXPECT_EQ(part_words(), before);
    ASSERT_EQ(FT_EE_UAWrite(handle, data, 192), FTDEV_OK);

    const Bytes image = read_back(128);
    EXPECT_TRUE(std::equal(data, data + 128, image.begin() + 22)) << "lower piece at 22..149";
    EXPECT_TRUE(std::equal(data + 128, data + 192, image.begin() + 190)) << "upper piece at 190..253";
    EXPECT_EQ(image[188], 0);
    EXPECT_EQ(image[150], 6) << "descriptors untouched";

    uint8_t back[300] = {};
    uint32_t got = 0;
    ASSERT_EQ(FT_EE_UARead(handle, back, sizeof back, &got), FTDEV_OK);
    EXPECT_EQ(got, 192u);
    EXPECT_TRUE(std::equal(data, data + 192, back));
    EXPECT_EQ(back[192], 0);

    Record read;
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    EXPECT_STREQ(read.serial, "AB123456");
}

TEST_F(Ft2232Device, SettingsOnALargePart)
{
    open_bus({"ft2232,eeprom=128"});
    Settings2232 settings = settings_for_cable();
    ASSERT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456"), FTDEV_OK);
    const auto words = part_words();
    ASSERT_EQ(words.size(), 128u);
    EXPECT_EQ(words[0], 0x1810) << "bits 4, 11 and 12; bit 3 stays clear for the value 2";
    EXPECT_EQ(words[3], 0x0500);
    EXPECT_EQ(words[5], 0x0008);
    EXPECT_EQ(words[6], 0x0200);
    EXPECT_EQ(words[10], 0x0056);
    EXPECT_EQ(words[75], 0x0306) << "manufacturer descriptor at byte 150";

    Settings2232 back{};
    back.header.device_type = FTDEV_DEVICE_2232;
    char m[64], id[64], d[64], s[64];
    ASSERT_EQ(FT_EEPROM_Read(handle, &back.header, sizeof back, m, id, d, s), FTDEV_OK);
    EXPECT_EQ(back.header.option_bit3, 1);
    EXPECT_EQ(back.w0_bit3, 0);
    EXPECT_EQ(back.w0_bit4, 1);
    EXPECT_EQ(back.w0_bit11, 1);
    EXPECT_EQ(back.w0_bit12, 1);
    EXPECT_STREQ(s, "AB123456");
    EXPECT_STREQ(m, "AB");
    EXPECT_STREQ(id, "AB");
}

TEST_F(Ft2232Device, ProbeMarkerStaysBeyondTheWordsWrittenOn256WordPart)
{
    open_bus({"ft2232,eeprom=256"});
    Settings2232 settings = settings_for_cable();
    ASSERT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", "AB123456"), FTDEV_OK);
    const auto words = part_words();
    ASSERT_EQ(words.size(), 256u);
    EXPECT_EQ(words[10], 0x0066);
    EXPECT_EQ(words[0xC0], 0x00C0);
    EXPECT_EQ(words[0x80], 0xFFFF);
    char m[64], id[64], d[64], s[64];
    Settings2232 back{};
    back.header.device_type = FTDEV_DEVICE_2232;
    EXPECT_EQ(FT_EEPROM_Read(handle, &back.header, sizeof back, m, id, d, s), FTDEV_OK);
    EXPECT_STREQ(d, "Cable");
}

// Word 10 decides the layout: an image that names a small part is read as one even on a
// larger chip, and only its first 64 words count.
TEST_F(Ft2232Device, ImageNamingASmallPartIsReadAsOne)
{
    open_bus({"ft2232,eeprom=128"});
    const Bytes small = golden_image("ft2232-64-ab-cable.bin");
    std::vector<uint16_t> words(128, 0xFFFF);
    for (size_t i = 0; i < 64; ++i)
        words[i] = static_cast<uint16_t>(small[2 * i] | small[2 * i + 1] << 8);
    bus->set_eeprom_words(0, words);
    Record read;
    ASSERT_EQ(FT_EE_Read(handle, &read.data), FTDEV_OK);
    EXPECT_STREQ(read.serial, "AB123456");
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    EXPECT_EQ(size, 64u);
}

TEST_F(Ft2232Device, NoPartFailsTheReadBack)
{
    open_bus({"ft2232,eeprom=0"});
    Record record = cable_record();
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_EEPROM_WRITE_FAILED);
    Record read;
    EXPECT_EQ(FT_EE_Read(handle, &read.data), FTDEV_EEPROM_NOT_PROGRAMMED);
}

// The probe reads the part back; a device that refuses those reads is reported as a
// failed read, not probed as "no part" and written with a 64-word image.
TEST_F(Ft2232Device, RefusedProbeReadsAreAReadFailure)
{
    open_bus({"ft2232,eeprom=128"});
    Record record = cable_record();
    ASSERT_EQ(FT_EE_Program(handle, &record.data), FTDEV_OK);
    const auto before = part_words();
    ASSERT_EQ(bus->bus().set_plugged(corvane::testing::InprocBus::device_id(0), false), usb::Status::ok);
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_EEPROM_READ_FAILED);
    Settings2232 settings = settings_for_cable();
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", "Cable", nullptr),
              FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(bus->eeprom_words(0), before);
}

} // namespace
} // namespace corvane::eeprom::testing
