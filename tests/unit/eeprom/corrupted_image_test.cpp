// Images with random pointer and length bytes, as a damaged or foreign EEPROM may hold
// them: every read and user-area call stays inside the image and the caller's buffers
// (AddressSanitizer watches the library; the canaries here watch the buffers).
#include "eeprom/image.h"
#include "eeprom_bus_fixture.h"

#include <random>

namespace corvane::eeprom::testing {
namespace {

struct Kind {
    const char *chip;
    const char *golden;
    uint32_t device_type;
    uint32_t settings_size;
};

class CorruptedImage : public EepromBusTest, public ::testing::WithParamInterface<Kind> {
protected:
    static constexpr size_t canary = 16;

    struct Buffers {
        char bytes[4][text_buffer_size + canary];
        Buffers() { std::memset(bytes, '#', sizeof bytes); }
        void expect_intact() const
        {
            for (const auto &buffer : bytes) {
                EXPECT_LT(std::strlen(buffer), static_cast<size_t>(text_buffer_size));
                for (size_t i = text_buffer_size; i < sizeof buffer; ++i)
                    ASSERT_EQ(buffer[i], '#');
            }
        }
    };

    std::vector<uint16_t> damaged(std::mt19937 &random, const Bytes &golden, size_t words)
    {
        Bytes image = golden;
        image.resize(2 * words, 0xFF);
        std::uniform_int_distribution<int> byte(0, 255);
        std::uniform_int_distribution<size_t> where(14, image.size() - 1);
        for (int pointer = 14; pointer < 20; ++pointer)
            if (byte(random) < 160)
                image[pointer] = static_cast<uint8_t>(byte(random));
        for (int i = 0; i < 6; ++i)
            image[where(random)] = static_cast<uint8_t>(byte(random));
        if (words > 64 && byte(random) < 128)
            image[20] = byte(random) < 128 ? 0x56 : 0x66; // the FT2232 part code
        image[2] = 0x03;
        image[3] = 0x04; // a vendor id, so that the image is decoded
        std::vector<uint16_t> result(words);
        for (size_t i = 0; i < words; ++i)
            result[i] = static_cast<uint16_t>(image[2 * i] | image[2 * i + 1] << 8);
        return result;
    }
};

TEST_P(CorruptedImage, ReadsAndUserAreaStayInBounds)
{
    const Kind kind = GetParam();
    open_bus({kind.chip});
    const size_t words = part_words().size();
    const Bytes golden = golden_image(kind.golden);
    std::mt19937 random(20261208);
    for (int round = 0; round < 100; ++round) {
        bus->set_eeprom_words(0, damaged(random, golden, words));
        const auto before = part_words();
        const std::vector<uint16_t> header(before.begin(), before.begin() + 10);

        Buffers texts;
        ProgramData record{};
        record.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        ASSERT_EQ(FT_EE_ReadEx(handle, &record, texts.bytes[0], texts.bytes[1], texts.bytes[2], texts.bytes[3]),
                  FTDEV_OK);
        texts.expect_intact();

        Buffers settings_texts;
        uint8_t settings[64] = {};
        std::memcpy(settings, &kind.device_type, sizeof kind.device_type);
        ASSERT_EQ(FT_EEPROM_Read(handle, reinterpret_cast<SettingsHeader *>(settings), kind.settings_size,
                                 settings_texts.bytes[0], settings_texts.bytes[1], settings_texts.bytes[2],
                                 settings_texts.bytes[3]),
                  FTDEV_OK);
        settings_texts.expect_intact();

        const auto after = fill_user_area(words, round);
        if (!after.empty()) {
            EXPECT_EQ(std::vector<uint16_t>(after.begin(), after.begin() + 10), header)
                << "user data never lands in the header, round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CorruptedImage,
                         ::testing::Values(Kind{"ft232b,eeprom=64", "ft232b-ab-cable.bin", FTDEV_DEVICE_232B, 16},
                                           Kind{"ft232r", "ft232r-ab-cable.bin", FTDEV_DEVICE_232R, 32},
                                           Kind{"ft2232,eeprom=128", "ft2232-128-ab-cable.bin", FTDEV_DEVICE_2232, 28}),
                         [](const auto &info) { return std::to_string(info.index); });

} // namespace
} // namespace corvane::eeprom::testing
