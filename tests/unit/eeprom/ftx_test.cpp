// The FT-X layout on a virtual FT-X chip: the whole 1024-word memory, the words that
// reprogramming reads back and keeps, the user area in two stretches, the checksum that
// skips the first of them, and the checks made before the memory is touched.
#include "eeprom/ftx.h"
#include "layout_test_support.h"

namespace corvane::eeprom::testing {
namespace {

class FtxDevice : public LayoutBusTest {
protected:
    static SettingsX cable_settings()
    {
        SettingsX settings{};
        settings.header = {FTDEV_DEVICE_X_SERIES, 0x0403, 0x6015, 1, 0, 90, 0, 1, 0, 0};
        settings.group1_slow_slew = settings.group0_schmitt = 1;
        settings.group1_drive = 12;
        settings.group0_drive = 8;
        const uint8_t mux[] = {1, 5, 10, 21, 0, 7, 13};
        std::memcpy(&settings.cbus_mux0, mux, sizeof mux);
        settings.byte11_bit0 = settings.byte11_bit7 = 1;
        settings.w0_bit0 = settings.w0_bit3 = settings.w0_bit6 = settings.driver_type = 1;
        settings.aux_value16 = 0x1280;
        settings.aux_value24 = 0xAB80FF80; // the top byte is not stored
        settings.option_bit4 = settings.option_bit7 = 1;
        return settings;
    }

    FtdevStatus program(const SettingsX &settings, const char *description = "Cable")
    {
        return FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", "AB", description, "AB123456");
    }
};

// The class builds words 0 to 17 and 80 to 127; both user stretches and the chip's words
// 64 to 79 come back from the memory before it is erased, and go back into it unchanged.
TEST_F(FtxDevice, ProgrammingKeepsUserDataAndTheChipsWords)
{
    open_bus({"ftx"});
    std::vector<uint16_t> pattern(1024);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<uint16_t>(0x9E37 * (i + 1));
    bus->set_eeprom_words(0, pattern);
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto words = part_words();
    const auto built = words_of(golden_image("ftx-ab-cable.bin"), 128);
    for (size_t i = 0; i < words.size(); ++i) {
        const bool kept = (i >= 18 && i < 80) || i >= 128;
        if (i != 127) {
            ASSERT_EQ(words[i], kept ? pattern[i] : built[i]) << "word " << i;
        }
    }
    expect_settings_round_trip<SettingsX>(FTDEV_DEVICE_X_SERIES, 1024);
    EXPECT_EQ(description_after_replug(), "Cable") << "the chip model checks the checksum";
}

TEST_F(FtxDevice, UserAreaSpansBothStretches)
{
    open_bus({"ftx"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    uint32_t size = 0;
    ASSERT_EQ(FT_EE_UASize(handle, &size), FTDEV_OK);
    ASSERT_EQ(size, 1884u);
    const uint16_t checksum = part_words()[127];

    std::vector<uint8_t> data(1885);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 1);
    ASSERT_EQ(FT_EE_UAWrite(handle, data.data(), 100), FTDEV_OK);
    Bytes memory = bytes_of(part_words(), 1024);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 92, memory.begin() + 0x24));
    EXPECT_TRUE(std::equal(data.begin() + 92, data.begin() + 100, memory.begin() + 0x100));
    EXPECT_EQ(part_words()[127], checksum) << "the user stretches are not covered";

    const auto before = part_words();
    EXPECT_EQ(FT_EE_UAWrite(handle, data.data(), 1885), FTDEV_EEPROM_WRITE_FAILED);
    EXPECT_EQ(part_words(), before);
    ASSERT_EQ(FT_EE_UAWrite(handle, data.data(), 1884), FTDEV_OK);
    std::vector<uint8_t> back(2100, 0);
    uint32_t got = 0;
    ASSERT_EQ(FT_EE_UARead(handle, back.data(), static_cast<uint32_t>(back.size()), &got), FTDEV_OK);
    EXPECT_EQ(got, 1884u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 1884, back.begin()));
    EXPECT_EQ(description_after_replug(), "Cable");
}

TEST_F(FtxDevice, ChecksBeforeTheMemoryIsTouched)
{
    open_bus({"ftx"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto before = part_words();
    bus->clear_control_log(0);

    for (int mux = 0; mux < 7; ++mux) {
        SettingsX settings = cable_settings();
        (&settings.cbus_mux0)[mux] = 22;
        EXPECT_EQ(program(settings), FTDEV_INVALID_PARAMETER) << "mux " << mux;
    }
    SettingsX no_vendor = cable_settings();
    no_vendor.header.vendor_id = 0;
    EXPECT_EQ(program(no_vendor), FTDEV_INVALID_PARAMETER);
    const SettingsX settings = cable_settings();
    EXPECT_EQ(FT_EEPROM_Program(handle, &settings.header, sizeof settings, "AB", nullptr, "Cable", nullptr),
              FTDEV_INVALID_PARAMETER);
    // 94 bytes of descriptors fill 0xA0 to 0xFD, up to the checksum word.
    const std::string fits(34, 'x');
    const std::string too_long(35, 'x');
    EXPECT_EQ(program(settings, too_long.c_str()), FTDEV_OTHER_ERROR);
    // The record functions would write an FT232B image over the configuration.
    Record record = cable_record_of(0x6015);
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_NOT_SUPPORTED);
    EXPECT_FALSE(device_changed());
    EXPECT_EQ(part_words(), before);

    SettingsX longest = cable_settings();
    longest.driver_type = 2; // only the value 1 sets it
    ASSERT_EQ(program(longest, fits.c_str()), FTDEV_OK);
    EXPECT_EQ(part_words()[0] & 0xFF, 0x49) << "bits 0, 3 and 6; bit 7 clear";
    EXPECT_EQ(part_words()[0x1C / 2] >> 8, 21) << "cbus_mux3";
    EXPECT_EQ(description_after_replug(), fits);
}

// A word that cannot be read back would be replaced by whatever the failed read left:
// programming stops before the erase instead.
TEST_F(FtxDevice, RefusedReadBackStopsBeforeTheErase)
{
    open_bus({"ftx"});
    ASSERT_EQ(program(cable_settings()), FTDEV_OK);
    const auto before = part_words();
    ASSERT_EQ(bus->bus().set_plugged(corvane::testing::InprocBus::device_id(0), false), usb::Status::ok);
    EXPECT_EQ(program(cable_settings()), FTDEV_EEPROM_READ_FAILED);
    EXPECT_EQ(bus->eeprom_words(0), before);
}

TEST_F(FtxDevice, DamagedImagesStayInBounds)
{
    open_bus({"ftx"});
    exercise_damaged_images(golden_image("ftx-ab-cable.bin"),
                            {FTDEV_DEVICE_X_SERIES, sizeof(SettingsX), -1, {}, 18, false});
}

// The checksum covers words 0 to 17 and 64 to 126 only.
TEST(FtxImage, ChecksumSkipsTheUserStretches)
{
    struct Case {
        int word;
        bool covered;
    };
    TFtEEFTX image;
    image.UpdateChecksum();
    const uint16_t empty = image.word_at(127);
    EXPECT_EQ(empty, 0x5555);
    for (const Case c : {Case{0, true}, Case{17, true}, Case{18, false}, Case{63, false}, Case{64, true},
                         Case{79, true}, Case{126, true}, Case{128, false}, Case{1023, false}}) {
        TFtEEFTX changed;
        changed.set_word_at(c.word, 0x0101);
        changed.UpdateChecksum();
        EXPECT_EQ(changed.word_at(127) != empty, c.covered) << "word " << c.word;
    }
}

} // namespace
} // namespace corvane::eeprom::testing
