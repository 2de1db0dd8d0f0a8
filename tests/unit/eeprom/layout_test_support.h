// Helpers for the tests of the high-speed and FT-X layouts: images as bytes, the words a
// device was sent, and images damaged at random that every call must survive.
#ifndef CORVANE_TESTS_UNIT_EEPROM_LAYOUT_TEST_SUPPORT_H
#define CORVANE_TESTS_UNIT_EEPROM_LAYOUT_TEST_SUPPORT_H

#include "eeprom/image.h"
#include "eeprom_bus_fixture.h"

#include <map>
#include <random>
#include <string>

namespace corvane::eeprom::testing {

constexpr uint8_t write_word_request = 0x91;
constexpr uint8_t erase_request = 0x92;

inline Bytes bytes_of(const std::vector<uint16_t> &words, size_t count)
{
    Bytes bytes;
    for (size_t i = 0; i < count && i < words.size(); ++i) {
        bytes.push_back(static_cast<uint8_t>(words[i]));
        bytes.push_back(static_cast<uint8_t>(words[i] >> 8));
    }
    return bytes;
}

// Bytes past the end read as erased words.
inline std::vector<uint16_t> words_of(const Bytes &bytes, size_t words)
{
    std::vector<uint16_t> result(words, 0xFFFF);
    for (size_t i = 0; i < words && 2 * i + 1 < bytes.size(); ++i)
        result[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return result;
}

class LayoutBusTest : public EepromBusTest {
protected:
    // Word writes the device received since the log was last cleared, by address (the
    // last value sent wins), and whether any erase or write came at all.
    std::map<uint16_t, uint16_t> words_sent()
    {
        std::map<uint16_t, uint16_t> words;
        for (const auto &control : bus->control_log(0))
            if (control.setup.request == write_word_request)
                words[control.setup.index] = control.setup.value;
        return words;
    }
    bool device_changed()
    {
        for (const auto &control : bus->control_log(0))
            if (control.setup.request == write_word_request || control.setup.request == erase_request)
                return true;
        return false;
    }

    // After the settings path moved the strings to the upper half, bytes [first, end)
    // read as zeros but for the empty descriptor it leaves behind the serial's old place,
    // 18 bytes on (the 6 and 12 bytes of the test's manufacturer and description).
    static void expect_strings_moved_out(const Bytes &image, size_t first, size_t end)
    {
        Bytes expected(end - first, 0);
        expected[6 + 12] = 0x02;
        expected[6 + 12 + 1] = 0x03;
        EXPECT_EQ(Bytes(image.begin() + static_cast<long>(first), image.begin() + static_cast<long>(end)), expected);
    }

    // Reading the image back and programming what was read gives the same image again:
    // decoding keeps everything that encoding stored.
    void expect_record_round_trip(size_t words)
    {
        const Bytes image = bytes_of(part_words(), words);
        Record back;
        ASSERT_EQ(FT_EE_Read(handle, &back.data), FTDEV_OK);
        ASSERT_EQ(FT_EE_Program(handle, &back.data), FTDEV_OK);
        EXPECT_EQ(bytes_of(part_words(), words), image);
    }
    template <typename Settings>
    void expect_settings_round_trip(uint32_t device_type, size_t words)
    {
        const Bytes image = bytes_of(part_words(), words);
        Settings back{};
        back.header.device_type = device_type;
        char t[4][text_buffer_size];
        ASSERT_EQ(FT_EEPROM_Read(handle, &back.header, sizeof back, t[0], t[1], t[2], t[3]), FTDEV_OK);
        ASSERT_EQ(FT_EEPROM_Program(handle, &back.header, sizeof back, t[0], t[1], t[2], t[3]), FTDEV_OK);
        EXPECT_EQ(bytes_of(part_words(), words), image);
    }

    // The description the first device lists with once it is plugged in again: the chip
    // model takes it from the EEPROM, through a decoder of its own that also checks the
    // checksum, and falls back to its default when the image is not valid.
    std::string description_after_replug()
    {
        FT_Close(handle);
        handle = nullptr;
        const std::string id = corvane::testing::InprocBus::device_id(0);
        EXPECT_EQ(bus->bus().set_plugged(id, false), usb::Status::ok);
        EXPECT_EQ(bus->bus().set_plugged(id, true), usb::Status::ok);
        uint32_t count = 0;
        EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
        char serial[16] = {};
        char description[64] = {};
        EXPECT_EQ(FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, serial, description, nullptr),
                  FTDEV_OK);
        return description;
    }

    struct Damage {
        uint32_t device_type;
        uint32_t settings_size;
        int part_code_word;               // -1: the layout has none
        std::vector<uint16_t> part_codes; // codes worth trying there
        int kept_words;                   // words 0 .. kept_words-1 never take user data
        bool record_functions;            // FT_EE_Read serves the chip
    };

    // Images with random pointer, length and part-code bytes: every read and user-area
    // call stays inside the image and the caller's buffers (AddressSanitizer watches the
    // library, the canaries the buffers) and user data never lands in the chip's words.
    void exercise_damaged_images(const Bytes &golden, const Damage &damage)
    {
        constexpr size_t canary = 16;
        const size_t words = part_words().size();
        std::mt19937 random(20261208);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int round = 0; round < 60; ++round) {
            Bytes image = golden;
            image.resize(2 * words, 0xFF);
            std::uniform_int_distribution<size_t> where(14, std::min<size_t>(image.size(), 256) - 1);
            for (int pointer = 14; pointer < 20; ++pointer)
                if (byte(random) < 160)
                    image[pointer] = static_cast<uint8_t>(byte(random));
            for (int i = 0; i < 6; ++i)
                image[where(random)] = static_cast<uint8_t>(byte(random));
            if (damage.part_code_word >= 0 && byte(random) < 128) {
                const uint16_t code = damage.part_codes[static_cast<size_t>(byte(random)) % damage.part_codes.size()];
                image[2 * damage.part_code_word] = static_cast<uint8_t>(code);
                image[2 * damage.part_code_word + 1] = static_cast<uint8_t>(code >> 8);
            }
            image[2] = 0x03;
            image[3] = 0x04; // a vendor id, so that the image is decoded
            bus->set_eeprom_words(0, words_of(image, words));
            const auto before = part_words();

            char texts[8][text_buffer_size + canary];
            std::memset(texts, '#', sizeof texts);
            if (damage.record_functions) {
                ProgramData record{};
                record.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
                ASSERT_EQ(FT_EE_ReadEx(handle, &record, texts[0], texts[1], texts[2], texts[3]), FTDEV_OK);
            }
            uint8_t settings[64] = {};
            std::memcpy(settings, &damage.device_type, sizeof damage.device_type);
            ASSERT_EQ(FT_EEPROM_Read(handle, reinterpret_cast<SettingsHeader *>(settings), damage.settings_size,
                                     texts[4], texts[5], texts[6], texts[7]),
                      FTDEV_OK);
            for (const auto &text : texts)
                for (size_t i = text_buffer_size; i < sizeof text; ++i)
                    ASSERT_EQ(text[i], '#') << "round " << round;

            const auto after = fill_user_area(words, round);
            if (after.empty())
                continue;
            for (int word = 0; word < damage.kept_words; ++word)
                ASSERT_EQ(after[word], before[word]) << "word " << word << ", round " << round;
        }
    }
};

} // namespace corvane::eeprom::testing

#endif // CORVANE_TESTS_UNIT_EEPROM_LAYOUT_TEST_SUPPORT_H
